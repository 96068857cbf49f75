#include "disk_image.h"

#include "sim/diskdrv/obrindisk_image.h"

#include <cstdio>
#include <cstring>

namespace obrin::disksim {

namespace {

template <size_t N>
void CopyName(uint16_t (&target)[N], std::string_view text)
{
    const size_t count = std::min(text.size(), N - 1);
    for (size_t i = 0; i < count; ++i)
        target[i] = static_cast<uint8_t>(text[i]);
}

// "\\.\PHYSICALDRIVE12" -> "\??\PHYSICALDRIVE12"; anything else has no name.
std::string DiskLink(std::string_view devicePath)
{
    constexpr std::string_view prefix = "\\\\.\\PHYSICALDRIVE";
    if (devicePath.size() <= prefix.size() || !EqualsNoCase(devicePath.substr(0, prefix.size()), prefix))
        return {};
    for (char c : devicePath.substr(prefix.size()))
        if (c < '0' || c > '9')
            return {};
    return "\\??\\" + std::string(devicePath.substr(4));
}

// "\\?\Volume{...}\" -> "\??\Volume{...}".
std::string VolumeLink(uint32_t volumeId)
{
    std::string path = VolumeGuidPath(volumeId);
    return "\\??\\" + path.substr(4, path.size() - 5);
}

template <typename T>
void Append(std::vector<uint8_t>& image, const T& record)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    image.insert(image.end(), bytes, bytes + sizeof record);
}

}  // namespace

std::optional<std::array<uint8_t, 16>> GuidBytes(std::string_view text) noexcept
{
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    // Data1, Data2 and Data3 are little-endian numbers; Data4 is bytes in order.
    static constexpr size_t kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    size_t digit = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = FoldCase(text[i]);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return std::nullopt;
            continue;
        }
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else
            return std::nullopt;
        uint8_t& byte = bytes[kOrder[digit / 2]];
        byte = static_cast<uint8_t>(digit % 2 == 0 ? value << 4 : byte | value);
        ++digit;
    }
    return bytes;
}

std::vector<uint8_t> BuildDeviceImage(const Model& model)
{
    OBRINDISK_IMAGE_HEADER header = {};
    header.Magic = OBRINDISK_IMAGE_MAGIC;
    header.Version = OBRINDISK_IMAGE_VERSION;
    std::vector<OBRINDISK_IMAGE_DISK> disks;
    std::vector<OBRINDISK_IMAGE_PARTITION> partitions;
    for (const Disk& source : model.disks) {
        const bool gpt = source.style == PartitionStyle::Gpt;
        OBRINDISK_IMAGE_DISK disk = {};
        disk.Number = source.index;
        disk.PartitionCount = static_cast<uint32_t>(source.partitions.size());
        disk.PartitionStyle = gpt ? OBRINDISK_STYLE_GPT : OBRINDISK_STYLE_MBR;
        if (gpt) {
            disk.StartingUsableOffset = source.Bytes(source.FirstUsableSector());
            disk.UsableLength = source.Bytes(source.UsableEndSector() - source.FirstUsableSector());
            // The model holds only well-formed GUIDs (ParseModel checks).
            std::memcpy(disk.DiskId, GuidBytes(source.id).value_or(std::array<uint8_t, 16>{}).data(), 16);
        } else {
            disk.Signature = source.signature;
        }
        CopyName(disk.Link, DiskLink(source.devicePath));
        disks.push_back(disk);
        for (const Partition& p : source.partitions) {
            OBRINDISK_IMAGE_PARTITION entry = {};
            entry.Number = p.number;
            entry.StartingOffset = source.Bytes(p.offsetSectors);
            entry.Length = source.Bytes(p.sizeSectors);
            if (gpt) {
                entry.Attributes = p.attributes;
                std::memcpy(entry.Type, GuidBytes(p.type).value_or(std::array<uint8_t, 16>{}).data(), 16);
                std::memcpy(entry.Id, GuidBytes(p.id).value_or(std::array<uint8_t, 16>{}).data(), 16);
                CopyName(entry.Name, DescribeType(p.type).gptEntryName);
            } else {
                // MBR entries hold 32-bit sector numbers (ParseModel checks).
                entry.HiddenSectors = static_cast<uint32_t>(p.offsetSectors);
                entry.MbrType = MbrTypeByte(p.type).value_or(0);
                entry.BootIndicator = p.active ? 1 : 0;
            }
            if (HasVolume(p)) {
                entry.VolumeId = p.volumeId;
                CopyName(entry.VolumeLink, VolumeLink(p.volumeId));
                if (p.letter != 0)
                    CopyName(entry.LetterLink, std::string("\\??\\") + p.letter + ":");
            }
            partitions.push_back(entry);
        }
    }
    header.DiskCount = static_cast<uint32_t>(disks.size());
    header.PartitionCount = static_cast<uint32_t>(partitions.size());
    header.Size = static_cast<uint32_t>(sizeof header + disks.size() * sizeof(OBRINDISK_IMAGE_DISK) +
                                        partitions.size() * sizeof(OBRINDISK_IMAGE_PARTITION));
    std::vector<uint8_t> image;
    image.reserve(header.Size);
    Append(image, header);
    for (const OBRINDISK_IMAGE_DISK& disk : disks)
        Append(image, disk);
    for (const OBRINDISK_IMAGE_PARTITION& entry : partitions)
        Append(image, entry);
    return image;
}

}  // namespace obrin::disksim
