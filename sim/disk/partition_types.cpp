#include "sim/disk/partition_types.h"

#include <charconv>

namespace obrin::disksim {
namespace {

struct GptRow {
    std::string_view guid;
    PartitionType type;
};

// Short name, GPT entry name, Win32_DiskPartition.Type, data, resizable, volume.
constexpr GptRow kGptTypes[] = {
    {kTypeEfi, {"EFI", "EFI system partition", "GPT: System", false, false}},
    {kTypeMsr, {"MSR", "Microsoft reserved partition", "GPT: Unknown", false, false, false}},
    {kTypeBasicData, {"Basic", "Basic data partition", "GPT: Basic Data", true, true}},
    {kTypeRecovery, {"Recovery", "Basic data partition", "GPT: Unknown", false, false}},
    {kTypeAndroid, {"Android", "Basic data partition", "GPT: Unknown", false, true}},
};
constexpr PartitionType kUnknownGptType = {"", "Basic data partition", "GPT: Unknown", false, true};

struct MbrRow {
    uint8_t byte;
    PartitionType type;
};

// The FAT and IFS types hold files; the extended ones hold other partitions
// and no volume; LDM's belongs to dynamic disks, which diskpart's "set id"
// does not make. Win32_DiskPartition.Type, data, resizable, volume, primary,
// assignable.
constexpr MbrRow kMbrTypes[] = {
    {0x00, {"", "", "Unknown", false, false, true, false, false}},
    {0x01, {"", "", "12-bit FAT", true, true}},
    {0x02, {"", "", "Xenix Type 1", false, false}},
    {0x03, {"", "", "Xenix Type 2", false, false}},
    {0x04, {"", "", "16-bit FAT", true, true}},
    {0x05, {"", "", "Extended Partition", false, false, false, false, false}},
    {0x06, {"", "", "MS-DOS V4 Huge", true, true}},
    {0x07, {"", "", "Installable File System", true, true}},
    {0x0b, {"", "", "Win95 w/Extended Int 13", true, true}},
    {0x0c, {"", "", "Win95 w/Extended Int 13", true, true}},
    {0x0e, {"", "", "Win95 w/Extended Int 13", true, true}},
    {0x0f, {"", "", "Extended w/Extended Int 13", false, false, false, false, false}},
    {0x41, {"", "", "PowerPC Reference Platform", false, false}},
    {0x42, {"", "", "Logical Disk Manager", false, false, true, true, false}},
    {0x63, {"", "", "UNIX", false, false}},
    {0x85, {"", "", "Unknown", false, false, false, false, false}},
};
constexpr PartitionType kUnknownMbrType = {"", "", "Unknown", false, false};

}  // namespace

std::optional<uint8_t> MbrTypeByte(std::string_view type) noexcept
{
    uint8_t value = 0;
    if (type.size() != 2)
        return std::nullopt;
    auto [end, ec] = std::from_chars(type.data(), type.data() + 2, value, 16);
    if (ec != std::errc() || end != type.data() + 2 || (type[0] >= 'A' && type[0] <= 'F') ||
        (type[1] >= 'A' && type[1] <= 'F'))
        return std::nullopt;
    return value;
}

const PartitionType& DescribeMbrType(uint8_t type) noexcept
{
    for (const MbrRow& row : kMbrTypes) {
        if (row.byte == type)
            return row.type;
    }
    return kUnknownMbrType;
}

const PartitionType& DescribeType(std::string_view type) noexcept
{
    if (const std::optional<uint8_t> mbrType = MbrTypeByte(type))
        return DescribeMbrType(*mbrType);
    for (const GptRow& row : kGptTypes) {
        if (row.guid == type)
            return row.type;
    }
    return kUnknownGptType;
}

std::string TypeName(std::string_view type)
{
    if (MbrTypeByte(type))
        return "MBR " + std::string(type);
    const std::string_view shortName = DescribeType(type).shortName;
    return std::string(shortName.empty() ? type : shortName);
}

}  // namespace obrin::disksim
