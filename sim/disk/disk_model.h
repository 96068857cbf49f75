// The disk stand-in's model of the machine's disks: what diskpart.exe changes,
// what disksim prints and what the installer's disk queries are answered from
// in tests. Plain text on disk (one line per disk and per partition), so a test
// or a person can read and edit it. Free of <windows.h>: the file, the drive
// links and the partition folders are the Windows edge's business
// (disk_files.h).
//
// Sizes and offsets are whole megabytes. Text is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace obrin::disksim {

// The model's unit, in the bytes Windows reports offsets and sizes in.
inline constexpr uint64_t kBytesPerMb = 1024ull * 1024ull;

// GPT partition types, lower case without braces (the form the model stores).
inline constexpr std::string_view kTypeEfi = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";
inline constexpr std::string_view kTypeMsr = "e3c9e316-0b5c-4db8-817d-f92df00215ae";
inline constexpr std::string_view kTypeBasicData = "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7";
inline constexpr std::string_view kTypeRecovery = "de94bba4-06d1-4d40-a16a-bfd50179d6ac";
inline constexpr std::string_view kTypeAndroid = "fe92a6a7-d642-4561-9f66-56cd28b8a049";

// GPT attribute bits.
inline constexpr uint64_t kAttrPlatformRequired = 0x0000000000000001ull;
inline constexpr uint64_t kAttrHidden = 0x4000000000000000ull;
inline constexpr uint64_t kAttrNoDriveLetter = 0x8000000000000000ull;

// The Windows partition is the Wine prefix's drive_c: its folder is the root.
inline constexpr std::string_view kSystemFolder = "C:\\";
// Every other partition keeps its files in a folder of its own under here.
inline constexpr std::string_view kPartitionFolderRoot = "C:\\disksim\\";

struct Partition {
    // diskpart's "select par" number and Windows' PartitionNumber: the
    // partition's GPT entry, kept for its life; a new partition takes the
    // lowest free number, so deleting one does not renumber the others.
    uint32_t number = 0;
    uint64_t offsetMb = 0;
    uint64_t sizeMb = 0;
    std::string type;           // GPT type GUID, lower case, no braces
    uint64_t attributes = 0;    // GPT attributes
    std::string fileSystem;     // "NTFS", "FAT32", ...; empty when not formatted
    std::string label;
    char letter = 0;            // 'C'..'Z', 0 when none
    std::string folder;         // Windows path of the folder that holds its files
    uint64_t usedMb = 0;        // space files take; a shrink cannot reclaim it
    uint32_t volumeId = 0;      // stable identity across renumbering (volume GUID path)

    [[nodiscard]] uint64_t EndMb() const noexcept { return offsetMb + sizeMb; }
};

struct Disk {
    uint32_t index = 0;          // "select disk" number, Win32_DiskDrive.Index
    std::string devicePath;      // Win32_DiskDrive.DeviceID, e.g. \\.\PHYSICALDRIVE0
    bool removable = false;
    uint64_t sizeMb = 0;
    std::vector<Partition> partitions;  // kept in offset order
};

struct FreeExtent {
    uint64_t offsetMb = 0;
    uint64_t sizeMb = 0;
};

// A failure a test asks for: the (skip+1)-th run of the diskpart command named
// by `command` fails with diskpart's service-failure exit code. Commands:
// "select", "create", "format", "shrink", "extend", "delete", "assign",
// "remove", "gpt", "setid".
struct InjectedFailure {
    std::string command;
    uint32_t skip = 0;
};

struct Model {
    std::vector<Disk> disks;
    std::vector<InjectedFailure> failures;
    bool hibernation = true;               // powercfg's current state
    std::vector<std::string> powerLog;     // every powercfg "-h" call, "off"/"on"
    uint32_t nextVolumeId = 1;

    [[nodiscard]] Disk* FindDisk(uint32_t index) noexcept;
    [[nodiscard]] const Disk* FindDisk(uint32_t index) const noexcept;
    // The partition that carries `letter` (either case), on any disk.
    [[nodiscard]] const Partition* FindByLetter(char letter) const noexcept;
    [[nodiscard]] const Partition* FindByVolumeId(uint32_t volumeId) const noexcept;
    // The disk that holds the partition with this volume id.
    [[nodiscard]] const Disk* DiskOfVolume(uint32_t volumeId) const noexcept;
};

// Text form. ParseModel rejects anything it does not understand (error says
// where); FormatModel writes what ParseModel reads back unchanged.
[[nodiscard]] bool ParseModel(std::string_view text, Model& model, std::string& error) noexcept;
[[nodiscard]] std::string FormatModel(const Model& model);

// Re-sorts a disk's partitions by offset after a change of the layout.
void SortByOffset(Disk& disk);
// The number a partition created now would get.
[[nodiscard]] uint32_t LowestFreeNumber(const Disk& disk) noexcept;

// Unpartitioned space of a disk, in offset order (extents of 1 MB and more).
[[nodiscard]] std::vector<FreeExtent> FreeExtents(const Disk& disk);

// Whether Windows surfaces a volume for the partition (Win32_Volume lists it,
// diskpart can select and assign it): every partition but the MSR, unless GPT
// attribute bit 62 hides it. A volume without a file system is RAW: it has no
// free space to report.
[[nodiscard]] bool HasVolume(const Partition& partition) noexcept;

// Short name of a known type ("EFI", "MSR", "Basic", "Recovery", "Android"),
// else the GUID itself.
[[nodiscard]] std::string TypeName(std::string_view type);

// The volume GUID path a volume of this id is known by, with the trailing
// backslash: \\?\Volume{0b5d0000-0000-4000-8000-00000000000N}\ .
[[nodiscard]] std::string VolumeGuidPath(uint32_t volumeId);
// Reverse of VolumeGuidPath; accepts the path with or without the trailing
// backslash and with the "\\.\" prefix as well.
[[nodiscard]] std::optional<uint32_t> VolumeIdFromPath(std::string_view path) noexcept;

// A readable layout table: one block per disk, partitions and free extents in
// offset order, then power state and pending failures.
[[nodiscard]] std::string LayoutTable(const Model& model);

// Machines disksim can create.
//   "standard"        disk 0: recovery, EFI, MSR and Windows (C:), no free space
//   "free-behind-windows" the same with 4096 MB free behind Windows
//   "gap-before-windows" the standard disk with 200 MB free between the MSR
//                     and Windows
//   "larger-free-elsewhere" EFI, MSR, Windows (C:) and Recovery, then 20 GB
//                     free at the end of the disk: more than a shrink frees
//   "system-disk-1"   a data disk 0 (EFI with letter, data partition), the
//                     standard disk as disk 1
//   "removable-asos"  the standard disk plus a removable disk 1 whose volume
//                     is labelled "ASOS" (letter R:)
//   "removable-android" the same with the label "ANDROID"
[[nodiscard]] std::optional<Model> MachineVariant(std::string_view name);
[[nodiscard]] std::vector<std::string_view> MachineVariantNames();

// The installer's payload folder (relative to the system drive's root) and
// the files disksim puts there: name and content.
inline constexpr std::string_view kPayloadFolder = "OEMSetup\\Vantrel\\Android\\";
struct PayloadFile {
    std::string_view name;
    std::string_view content;
};
[[nodiscard]] const std::vector<PayloadFile>& PayloadFiles();

// Whether a model may name `folder` as a partition's folder: C:\ (the Windows
// partition) or one plain folder name under C:\disksim\ — never a path that
// leads out of it, since formatting or deleting a partition empties or
// removes its folder.
[[nodiscard]] bool IsPartitionFolder(std::string_view folder) noexcept;

// Case-insensitive ASCII comparison, used for labels, letters and commands.
[[nodiscard]] bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;
[[nodiscard]] char ToLowerAscii(char c) noexcept;
[[nodiscard]] char ToUpperAscii(char c) noexcept;

// Splits a line of a model or of a diskpart script into words at spaces; a
// double-quoted stretch (also after "key=") belongs to its word and loses its
// quotes. An unterminated quote makes the line invalid.
[[nodiscard]] bool SplitWords(std::string_view line, std::vector<std::string>& words);

}  // namespace obrin::disksim
