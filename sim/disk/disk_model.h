// The disk stand-in's model of the machine's disks: what diskpart.exe changes,
// what disksim prints and what the installer's disk queries are answered from
// in tests. Plain text on disk (one line per disk and per partition), so a test
// or a person can read and edit it. Free of <windows.h>: the file, the drive
// links and the partition folders are the Windows edge's business
// (disk_files.h).
//
// Offsets and sizes are sectors of their disk (512 or 4096 bytes); the text
// writes them in megabytes where they are whole megabytes and as a count of
// sectors ("2015s") otherwise. Text is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/case_fold.h"
#include "sim/disk/partition_types.h"

namespace obrin::disksim {

inline constexpr uint64_t kBytesPerKb = 1024;
inline constexpr uint64_t kBytesPerMb = 1024 * kBytesPerKb;

// The sector sizes a disk may have: the classic one (the default) and
// Advanced Format's.
inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint32_t kLargeSectorBytes = 4096;

// GPT attribute bits.
inline constexpr uint64_t kAttrPlatformRequired = 0x0000000000000001ull;
inline constexpr uint64_t kAttrHidden = 0x4000000000000000ull;
inline constexpr uint64_t kAttrNoDriveLetter = 0x8000000000000000ull;

// The Windows partition is the Wine prefix's drive_c: its folder is the root.
inline constexpr std::string_view kSystemFolder = "C:\\";
// Every other partition keeps its files in a folder of its own under here.
inline constexpr std::string_view kPartitionFolderRoot = "C:\\disksim\\";

enum class PartitionStyle { Gpt, Mbr };

// How partition numbers (diskpart's "select par", Windows' PartitionNumber)
// are given:
//   Stable     a partition keeps its number for its life; a new one takes the
//              lowest free number.
//   DiskOrder  numbers follow the partitions' order on the disk from 1 and
//              close up after every create and delete, as Windows promises
//              no more than that.
enum class NumberingRule { Stable, DiskOrder };

struct Partition {
    uint32_t number = 0;
    uint64_t offsetSectors = 0;
    uint64_t sizeSectors = 0;
    std::string type;           // GPT: type GUID, lower case, no braces; MBR: type byte ("07")
    std::string id;             // GPT partition id, lower case, no braces; empty on MBR disks
    uint64_t attributes = 0;    // GPT attributes; 0 on MBR disks
    bool active = false;        // MBR boot indicator; false on GPT disks
    std::string fileSystem;     // "NTFS", "FAT32", ...; empty when not formatted
    std::string label;
    char letter = 0;            // 'C'..'Z', 0 when none
    std::string folder;         // Windows path of the folder that holds its files
    uint64_t usedMb = 0;        // space files take; a shrink cannot reclaim it
    uint32_t volumeId = 0;      // stable identity across renumbering (volume GUID path)

    [[nodiscard]] uint64_t EndSector() const noexcept { return offsetSectors + sizeSectors; }
};

struct Disk {
    uint32_t index = 0;          // "select disk" number, Win32_DiskDrive.Index
    std::string devicePath;      // Win32_DiskDrive.DeviceID, e.g. \\.\PHYSICALDRIVE0
    bool removable = false;
    PartitionStyle style = PartitionStyle::Gpt;
    uint32_t bytesPerSector = kSectorBytes;
    uint64_t sizeSectors = 0;
    std::string id;              // GPT disk GUID, lower case, no braces; empty on MBR disks
    uint32_t signature = 0;      // MBR disk signature; 0 on GPT disks
    std::vector<Partition> partitions;  // kept in offset order

    [[nodiscard]] uint64_t SectorsPerMb() const noexcept { return kBytesPerMb / bytesPerSector; }
    // Sector counts of a disk the model accepts fit in bytes (ParseModel).
    [[nodiscard]] uint64_t Bytes(uint64_t sectors) const noexcept { return sectors * bytesPerSector; }
    // The partitions' room: GPT keeps its header and entries (16 KiB) before
    // it and their backup behind it; MBR only its first sector before it, and
    // reaches 2^32 sectors at most.
    [[nodiscard]] uint64_t FirstUsableSector() const noexcept;
    [[nodiscard]] uint64_t UsableEndSector() const noexcept;  // one past the last usable sector
    // diskpart aligns new partitions to 1 MiB on disks of 4 GiB and up, to
    // 64 KiB on smaller ones.
    [[nodiscard]] uint64_t AlignmentSectors() const noexcept;
};

struct FreeExtent {
    uint64_t offsetSectors = 0;
    uint64_t sizeSectors = 0;
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
    NumberingRule numbering = NumberingRule::DiskOrder;
    bool hibernation = true;               // powercfg's current state
    std::vector<std::string> powerLog;     // every powercfg "-h" call, "off"/"on"
    // The next partition's volume id; partition ids are made from it too, so
    // neither is ever given twice on a machine.
    uint32_t nextVolumeId = 1;

    [[nodiscard]] Disk* FindDisk(uint32_t index) noexcept;
    [[nodiscard]] const Disk* FindDisk(uint32_t index) const noexcept;
    // The partition that carries `letter` (either case), on any disk.
    [[nodiscard]] const Partition* FindByLetter(char letter) const noexcept;
    [[nodiscard]] const Partition* FindByVolumeId(uint32_t volumeId) const noexcept;
    // The disk that holds the partition with this volume id.
    [[nodiscard]] const Disk* DiskOfVolume(uint32_t volumeId) const noexcept;
};

// Text form. ParseModel rejects anything it does not understand or that no
// disk could hold (error says which line); FormatModel writes what ParseModel
// reads back unchanged.
[[nodiscard]] bool ParseModel(std::string_view text, Model& model, std::string& error) noexcept;
[[nodiscard]] std::string FormatModel(const Model& model);

[[nodiscard]] std::string_view NumberingName(NumberingRule rule) noexcept;
[[nodiscard]] std::optional<NumberingRule> ParseNumbering(std::string_view name) noexcept;

// Re-sorts a disk's partitions by offset after a change of the layout.
void SortByOffset(Disk& disk);
// Gives the disk's partitions their numbers after a create or a delete: under
// DiskOrder 1, 2, ... in offset order; under Stable they keep theirs.
void ApplyNumbering(Disk& disk, NumberingRule rule) noexcept;
// Under Stable, the number a partition created now would get.
[[nodiscard]] uint32_t LowestFreeNumber(const Disk& disk) noexcept;

// Unpartitioned space of a disk's usable area, in offset order, to the sector:
// also the few sectors in front of the first aligned partition or behind a
// volume that ends off the grid.
[[nodiscard]] std::vector<FreeExtent> UnpartitionedSpace(const Disk& disk);
// The free space a partition can be made in or a volume extended into: the
// unpartitioned extents of a megabyte and more.
[[nodiscard]] std::vector<FreeExtent> FreeExtents(const Disk& disk);

// Whether Windows surfaces a volume for the partition (Win32_Volume lists it,
// diskpart can select and assign it): every partition but the MSR and MBR
// extended partitions, unless GPT attribute bit 62 hides it. A volume without
// a file system is RAW: it has no free space to report.
[[nodiscard]] bool HasVolume(const Partition& partition) noexcept;
// A partition of a data type: GPT basic data, or an MBR file system type.
[[nodiscard]] bool IsDataPartition(const Partition& partition) noexcept;

// The identities the stand-in gives: a GPT disk's GUID (by its index at the
// machine's making), a new partition's GPT id (by its volume id, which no
// other partition of the machine ever had) and an MBR disk's signature.
[[nodiscard]] std::string DiskGuid(uint32_t diskIndex);
[[nodiscard]] std::string PartitionGuid(uint32_t volumeId);
[[nodiscard]] uint32_t MbrSignature(uint32_t diskIndex) noexcept;

// The volume GUID path a volume of this id is known by, with the trailing
// backslash: \\?\Volume{0b5d0000-0000-4000-8000-00000000000N}\ .
[[nodiscard]] std::string VolumeGuidPath(uint32_t volumeId);
// Reverse of VolumeGuidPath; accepts the path with or without the trailing
// backslash and with the "\\.\" prefix as well.
[[nodiscard]] std::optional<uint32_t> VolumeIdFromPath(std::string_view path) noexcept;

// A readable layout table: one block per disk with its style and identity,
// partitions (with their ids) and free extents in offset order, then the
// numbering rule, power state and pending failures.
[[nodiscard]] std::string LayoutTable(const Model& model);

// Machines disksim can create (GPT disks of 512-byte sectors unless said).
//   "standard"        disk 0: recovery, EFI, MSR and Windows (C:), no free space
//   "free-behind-windows" the same with 4096 MB free behind Windows
//   "gap-before-windows" the standard disk with 200 MB free between the MSR
//                     and Windows
//   "larger-free-elsewhere" EFI, MSR, Windows (C:) and Recovery, then 20 GB
//                     free at the end of the disk: more than a shrink frees
//   "system-disk-1"   a data disk 0 of 4096-byte sectors (EFI with letter,
//                     data partitions), the standard disk as disk 1
//   "removable-asos"  the standard disk plus a removable disk 1 whose volume
//                     is labelled "ASOS" (letter R:)
//   "removable-android" the same with the label "ANDROID"
//   "recovery-last"   the layout Windows setup makes: EFI, MSR, Windows (C:),
//                     Recovery at the end of the disk
//   "windows-off-grid" the same with Windows ending 7 sectors short of a MiB
//   "mbr"             an MBR disk: an active system partition and Windows (C:)
// The partitions of the first seven end where the usable area does; the last
// three lie on a disk of whole megabytes, so less than a megabyte stays free
// at its end, as on a disk Windows setup partitioned.
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

// Labels, letters and diskpart's words compare with the one case fold; the
// installer's tests name it as disksim::EqualsNoCase.
using obrin::EqualsNoCase;

// Whether `text` is a GUID in the model's form: 36 characters, lower case.
[[nodiscard]] bool IsModelGuid(std::string_view text) noexcept;

// Splits a line of a model or of a diskpart script into words at spaces; a
// double-quoted stretch (also after "key=") belongs to its word and loses its
// quotes. An unterminated quote makes the line invalid.
[[nodiscard]] bool SplitWords(std::string_view line, std::vector<std::string>& words);

}  // namespace obrin::disksim
