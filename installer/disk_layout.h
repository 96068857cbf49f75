// The system disk's partitions as the layout I/O control and the volume walk
// give them, and the rules that tell which of them are the installer's own:
// the installation's pair by its place behind Windows, and the partitions a
// run made by their recorded identity. Free of <windows.h>.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A GUID as its 16 bytes lie in memory.
using Guid = std::array<uint8_t, 16>;

// "c12a7328-f81f-11d2-ba4b-00a0c93ec93b" (no braces) as its bytes in memory.
[[nodiscard]] constexpr Guid GuidFromText(const char (&text)[37]) noexcept
{
    constexpr size_t kByteOfDigitPair[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    Guid bytes{};
    size_t pair = 0;
    for (size_t i = 0; i + 1 < 37; ++i) {
        if (text[i] == '-')
            continue;
        const auto value = [](char c) {
            return static_cast<uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        };
        bytes[kByteOfDigitPair[pair]] = static_cast<uint8_t>(value(text[i]) << 4 | value(text[i + 1]));
        ++pair;
        ++i;
    }
    return bytes;
}

inline constexpr Guid kEfiSystemType = GuidFromText("c12a7328-f81f-11d2-ba4b-00a0c93ec93b");
inline constexpr Guid kAndroidType = GuidFromText("fe92a6a7-d642-4561-9f66-56cd28b8a049");
inline constexpr Guid kBasicDataType = GuidFromText("ebd0a0a2-b9e5-4433-87c0-68b6b72699c7");

// What an install gives ANDROID and ASOS: hidden (bit 62), platform-required (bit 0).
inline constexpr uint64_t kHiddenPlatformRequired = 0x4000000000000001ull;

inline constexpr uint64_t kMiB = 1024ull * 1024ull;
// What the install makes behind Windows: ANDROID, then ASOS, which the
// create script leaves by shrinking ANDROID.
inline constexpr uint64_t kAndroidBytes = 10240 * kMiB;
inline constexpr uint64_t kAsosBytes = 2048 * kMiB;

// PARTITION_STYLE's numbers.
enum class PartitionStyle : uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

// A disk told apart from every other: its GPT disk GUID, or for MBR its
// signature in the first four bytes.
struct DiskIdentity {
    PartitionStyle style = PartitionStyle::Raw;
    Guid id{};
    bool operator==(const DiskIdentity&) const = default;
};

// A partition told apart from every other, also from a later one in its
// place: its GPT partition id and where it lies, in bytes.
struct PartitionIdentity {
    Guid id{};
    uint64_t offset = 0;
    uint64_t length = 0;
    bool operator==(const PartitionIdentity&) const = default;
};

struct LayoutEntry {
    uint32_t number = 0;  // what "select par" selects now
    uint64_t offset = 0;
    uint64_t length = 0;
    Guid type{};
    Guid id{};
    uint64_t attributes = 0;
    // From the volume walk: a volume of this partition was seen, without a
    // file system (RAW) or with its label.
    bool volumeSeen = false;
    bool raw = false;
    std::wstring label;

    [[nodiscard]] uint64_t End() const noexcept { return offset + length; }
    [[nodiscard]] PartitionIdentity Identity() const noexcept { return {id, offset, length}; }
};

struct DiskLayout {
    DiskIdentity disk;
    uint64_t usableEnd = 0;  // where the last partition may end (GPT)
    std::vector<LayoutEntry> entries;  // in offset order

    [[nodiscard]] const LayoutEntry* FindNumber(uint32_t number) const noexcept;
    [[nodiscard]] const LayoutEntry* FindId(const Guid& id) const noexcept;
    [[nodiscard]] LayoutEntry* FindNumber(uint32_t number) noexcept;
};

// The partition next on the disk behind `partition` when it lies directly
// behind it: no partition between and a gap smaller than 1 MiB; else null.
[[nodiscard]] const LayoutEntry* DirectlyBehind(const DiskLayout& layout, const LayoutEntry& partition) noexcept;

// The installation is ANDROID (Android type or label ANDROID) directly
// behind Windows and ASOS directly behind ANDROID: labelled ASOS, or of the
// type and attributes an install gives it (so also RAW or relabelled).
// Nothing elsewhere on the disk counts, whatever its label.
struct InstallationPlace {
    const LayoutEntry* android = nullptr;
    const LayoutEntry* asos = nullptr;
};
[[nodiscard]] InstallationPlace FindInstallation(const DiskLayout& layout, uint32_t windowsNumber) noexcept;

// The EFI system partition; with several, the last in layout order.
[[nodiscard]] const LayoutEntry* FindEfiPartition(const DiskLayout& layout) noexcept;

// The space the install's shrink freed behind Windows, in bytes.
struct FreedSpace {
    uint64_t offset = 0;
    uint64_t length = 0;
    [[nodiscard]] uint64_t End() const noexcept { return offset + length; }
    bool operator==(const FreedSpace&) const = default;
};

// Where a recorded partition stands now.
struct IdentityFinding {
    // The partitions of the record still on the disk, each exactly as recorded.
    std::vector<PartitionIdentity> present;
    // Empty when every recorded partition is either exactly in place or gone
    // with its place free; else what was found instead, for the log.
    std::wstring mismatch;
};
[[nodiscard]] IdentityFinding FindRecordedPartitions(const DiskLayout& layout,
                                                     const std::vector<PartitionIdentity>& recorded);

// For a run cut off inside its create script, before it could note what the
// script made: the partitions absent before (not starting at one of
// offsetsBefore) are taken for the run's own only when they lie in the freed
// space one behind the other with the sizes, types and labels (or no file
// system) the create script gives them, or the types and attributes the
// install's later steps give them. Anything else new on the disk is a
// mismatch.
[[nodiscard]] IdentityFinding FindPartitionsMadeByCreate(const DiskLayout& layout,
                                                         const std::vector<uint64_t>& offsetsBefore,
                                                         const FreedSpace& freed);

// The freed space of a record that did not note it: from where Windows ends
// to the next partition that was there before, or to the end of the disk.
[[nodiscard]] FreedSpace FreedSpaceBehind(const DiskLayout& layout, const LayoutEntry& windows,
                                          const std::vector<uint64_t>& offsetsBefore) noexcept;

// The USER partition's "offset=" in KB: rounded up, so that it never lies
// inside Windows.
[[nodiscard]] constexpr uint64_t OffsetKbBehind(uint64_t windowsEnd) noexcept
{
    return (windowsEnd + 1023) / 1024;
}

// A new partition of this length where one of `expected` bytes was asked
// for: diskpart's 1 MiB alignment moves its start, the next partition or the
// end of the disk its end, each by less than a MiB.
[[nodiscard]] bool HasAlignedSize(uint64_t length, uint64_t expected) noexcept;

// The free bytes directly behind `partition`: up to the next partition or
// the usable end.
[[nodiscard]] uint64_t FreeBytesBehind(const DiskLayout& layout, const LayoutEntry& partition) noexcept;

// The create script's first "create partition primary" takes the largest
// free extent of the disk and its second the largest left, where the space
// freed behind Windows competes with the 2048 MB left behind ANDROID. The
// largest free extent anywhere but directly behind Windows, in bytes: from
// kAsosBytes on, ANDROID or ASOS would be made there instead.
[[nodiscard]] uint64_t LargestFreeExtentAwayFrom(const DiskLayout& layout, const LayoutEntry& windows) noexcept;

// Windows as it is to be once the partitions of `own` (the installation
// directly behind it) are deleted and their space is given back: longer by
// the whole MB from its end to the end of the last of them. The shrink took
// whole MB, so a gap of less than a MiB that lay behind Windows before the
// install (diskpart aligns the new partitions) stays where it was.
[[nodiscard]] PartitionIdentity WindowsWithSpaceOf(const LayoutEntry& windows,
                                                   const std::vector<PartitionIdentity>& own) noexcept;

// The whole MB Windows is owed: what `whole` (the same partition, as it is
// to be) has beyond it now; 0 when it is another partition or not shorter.
[[nodiscard]] uint64_t MegabytesOwed(const LayoutEntry& windows, const PartitionIdentity& whole) noexcept;

// Where the USER partition takes exactly the space owed to Windows when the
// extend fails: at Windows' end, rounded up, and as large as the space
// owed; without "size=" when nothing but less than a MiB lies free beyond
// that space, so that diskpart's alignment cannot make it miss.
struct UserPartitionPlace {
    uint64_t offsetKb = 0;
    std::optional<uint64_t> sizeMb;
    bool operator==(const UserPartitionPlace&) const = default;
};
[[nodiscard]] UserPartitionPlace PlaceUserPartition(const DiskLayout& layout, const LayoutEntry& windows,
                                                    uint64_t owedMb) noexcept;

// "{C12A7328-...}" for the log.
[[nodiscard]] std::wstring GuidText(const Guid& guid);
