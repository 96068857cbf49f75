// The device image the kernel-mode disk stand-in serves: made from the model
// (bytes, GUIDs in memory order, names) and checked before the driver trusts it.
#include "sim/disk/disk_image.h"
#include "sim/diskdrv/obrindisk_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace obrin::disksim {
namespace {

constexpr uint64_t kMb = obrin::disksim::kBytesPerMb;

Model Machine(std::string_view name)
{
    std::optional<Model> model = MachineVariant(name);
    EXPECT_TRUE(model.has_value());
    return model.value_or(Model{});
}

const OBRINDISK_IMAGE_HEADER& Header(const std::vector<uint8_t>& image)
{
    return *reinterpret_cast<const OBRINDISK_IMAGE_HEADER*>(image.data());
}

std::string Text(const uint16_t* name)
{
    std::string text;
    for (; *name != 0; ++name)
        text.push_back(static_cast<char>(*name));
    return text;
}

bool Valid(const std::vector<uint8_t>& image)
{
    return ObrindiskImageIsValid(image.data(), image.size()) != 0;
}

TEST(DeviceImage, GuidTextBecomesTheBytesWindowsKeepsInMemory)
{
    // Basic data partition: Data1..Data3 little-endian, Data4 in order.
    const std::array<uint8_t, 16> expected = {0xa2, 0xa0, 0xd0, 0xeb, 0xe5, 0xb9, 0x33, 0x44,
                                              0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7};
    EXPECT_EQ(GuidBytes("ebd0a0a2-b9e5-4433-87c0-68b6b72699c7"), expected);
    EXPECT_EQ(GuidBytes("{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}"), expected);
    EXPECT_FALSE(GuidBytes("ebd0a0a2-b9e5-4433-87c0-68b6b72699c"));
    EXPECT_FALSE(GuidBytes("ebd0a0a2xb9e5-4433-87c0-68b6b72699c7"));
    EXPECT_FALSE(GuidBytes("ebd0a0a2-b9e5-4433-87c0-68b6b72699cg"));
}

TEST(DeviceImage, StandardMachineIsOneDiskWithItsVolumesAndLetter)
{
    const std::vector<uint8_t> image = BuildDeviceImage(Machine("standard"));
    ASSERT_TRUE(Valid(image));
    ASSERT_EQ(Header(image).DiskCount, 1u);
    ASSERT_EQ(Header(image).PartitionCount, 4u);
    const OBRINDISK_IMAGE_DISK& disk = ObrindiskImageDisks(image.data())[0];
    EXPECT_EQ(disk.Number, 0u);
    EXPECT_EQ(Text(disk.Link), "\\??\\PHYSICALDRIVE0");
    EXPECT_EQ(disk.PartitionStyle, OBRINDISK_STYLE_GPT);
    EXPECT_EQ(disk.StartingUsableOffset, 17408u);
    EXPECT_EQ(disk.UsableLength, 61440 * kMb - 17408) << "the partitions' room ends where Windows does";
    EXPECT_EQ(0, std::memcmp(disk.DiskId, GuidBytes(DiskGuid(0))->data(), 16));

    const OBRINDISK_IMAGE_PARTITION* entries = ObrindiskImagePartitions(image.data());
    const OBRINDISK_IMAGE_PARTITION& recovery = entries[0];
    EXPECT_EQ(recovery.Number, 1u);
    EXPECT_EQ(recovery.StartingOffset, 1 * kMb);
    EXPECT_EQ(recovery.Length, 500 * kMb);
    EXPECT_EQ(recovery.Attributes, 0x8000000000000001ull);
    EXPECT_EQ(Text(recovery.VolumeLink), "\\??\\Volume{0b5d0000-0000-4000-8000-000000000001}");
    EXPECT_EQ(Text(recovery.LetterLink), "");

    const OBRINDISK_IMAGE_PARTITION& msr = entries[2];
    EXPECT_EQ(Text(msr.Name), "Microsoft reserved partition");
    EXPECT_EQ(msr.VolumeId, 0u) << "Windows shows no volume for the MSR";
    EXPECT_EQ(Text(msr.VolumeLink), "");

    const OBRINDISK_IMAGE_PARTITION& windows = entries[3];
    EXPECT_EQ(windows.Number, 4u);
    EXPECT_EQ(windows.StartingOffset, 617 * kMb);
    EXPECT_EQ(windows.Length, (61440 - 617) * kMb);
    EXPECT_EQ(0, std::memcmp(windows.Type, GuidBytes(kTypeBasicData)->data(), 16));
    EXPECT_EQ(Text(windows.Name), "Basic data partition");
    EXPECT_EQ(Text(windows.LetterLink), "\\??\\C:");
    EXPECT_EQ(Text(entries[1].Name), "EFI system partition");
    EXPECT_EQ(0, std::memcmp(windows.Id, GuidBytes(PartitionGuid(4))->data(), 16)) << "the model's partition id";
    EXPECT_NE(0, std::memcmp(windows.Id, entries[1].Id, 16)) << "every partition has an id of its own";
}

TEST(DeviceImage, OffsetsAreExactBytesOfTheDisksSectors)
{
    const Model offGrid = Machine("windows-off-grid");
    std::vector<uint8_t> image = BuildDeviceImage(offGrid);
    ASSERT_TRUE(Valid(image));
    const OBRINDISK_IMAGE_PARTITION* entries = ObrindiskImagePartitions(image.data());
    EXPECT_EQ(entries[2].StartingOffset, 117 * kMb);
    EXPECT_EQ(entries[2].Length, (61440 - 1 - 500 - 117) * kMb - 7 * 512);
    EXPECT_EQ(entries[3].StartingOffset - (entries[2].StartingOffset + entries[2].Length), 7u * 512);
    const OBRINDISK_IMAGE_DISK& whole = ObrindiskImageDisks(image.data())[0];
    EXPECT_EQ(whole.StartingUsableOffset + whole.UsableLength, 61440 * kMb - 33 * 512);

    // 4096-byte sectors: the header and entries take 6 sectors, their backup 5.
    image = BuildDeviceImage(Machine("system-disk-1"));
    ASSERT_TRUE(Valid(image));
    const OBRINDISK_IMAGE_DISK& fourK = ObrindiskImageDisks(image.data())[0];
    EXPECT_EQ(fourK.StartingUsableOffset, 6u * 4096);
    EXPECT_EQ(fourK.UsableLength, 32768 * kMb - 6 * 4096);
    EXPECT_EQ(ObrindiskImagePartitions(image.data())[2].StartingOffset, 301 * kMb);
}

TEST(DeviceImage, MbrDisksCarryTheirSignatureTypesAndBootIndicator)
{
    const std::vector<uint8_t> image = BuildDeviceImage(Machine("mbr"));
    ASSERT_TRUE(Valid(image));
    const OBRINDISK_IMAGE_DISK& disk = ObrindiskImageDisks(image.data())[0];
    EXPECT_EQ(disk.PartitionStyle, OBRINDISK_STYLE_MBR);
    EXPECT_EQ(disk.Signature, MbrSignature(0));
    EXPECT_EQ(disk.PartitionCount, 2u);
    const OBRINDISK_IMAGE_PARTITION* entries = ObrindiskImagePartitions(image.data());
    EXPECT_EQ(entries[0].MbrType, 0x07);
    EXPECT_EQ(entries[0].BootIndicator, 1);
    EXPECT_EQ(entries[0].HiddenSectors, 2048u);
    EXPECT_EQ(entries[0].VolumeId, 1u);
    EXPECT_EQ(entries[1].BootIndicator, 0);
    EXPECT_EQ(entries[1].HiddenSectors, 501u * 2048);
    EXPECT_EQ(entries[1].Length, (61440 - 501) * kMb);
    EXPECT_EQ(Text(entries[1].LetterLink), "\\??\\C:");
    EXPECT_EQ(Text(entries[1].Name), "") << "MBR entries have no GPT name";
}

TEST(DeviceImage, DisksFollowEachOtherAndOnlyVolumesGetNames)
{
    Model model = Machine("system-disk-1");
    model.disks[0].partitions[1].attributes |= kAttrHidden;
    model.disks[1].devicePath = "\\\\.\\Harddisk1";
    const std::vector<uint8_t> image = BuildDeviceImage(model);
    ASSERT_TRUE(Valid(image));
    ASSERT_EQ(Header(image).DiskCount, 2u);
    const OBRINDISK_IMAGE_DISK* disks = ObrindiskImageDisks(image.data());
    EXPECT_EQ(disks[0].PartitionCount, 3u);
    EXPECT_EQ(disks[1].PartitionCount, 4u);
    EXPECT_EQ(disks[1].Number, 1u);
    EXPECT_EQ(Text(disks[1].Link), "") << "only \\\\.\\PHYSICALDRIVEn paths are names Windows has";
    const OBRINDISK_IMAGE_PARTITION* entries = ObrindiskImagePartitions(image.data());
    EXPECT_EQ(Text(entries[0].LetterLink), "\\??\\K:");
    EXPECT_EQ(entries[1].VolumeId, 0u) << "a hidden partition has no volume";
    EXPECT_EQ(Text(entries[1].LetterLink), "") << "nor its letter";
    EXPECT_EQ(Text(entries[6].LetterLink), "\\??\\C:") << "disk 1's entries follow disk 0's";
}

TEST(DeviceImage, NoModelIsAnImageWithoutDisks)
{
    const std::vector<uint8_t> image = BuildDeviceImage(Model{});
    ASSERT_EQ(image.size(), sizeof(OBRINDISK_IMAGE_HEADER));
    EXPECT_TRUE(Valid(image));
    EXPECT_EQ(Header(image).DiskCount, 0u);
}

class DamagedImage : public ::testing::Test {
protected:
    std::vector<uint8_t> m_image = BuildDeviceImage(Machine("system-disk-1"));
    OBRINDISK_IMAGE_HEADER& header() { return *reinterpret_cast<OBRINDISK_IMAGE_HEADER*>(m_image.data()); }
    OBRINDISK_IMAGE_DISK* disks() { return const_cast<OBRINDISK_IMAGE_DISK*>(ObrindiskImageDisks(m_image.data())); }
    OBRINDISK_IMAGE_PARTITION* entries()
    {
        return const_cast<OBRINDISK_IMAGE_PARTITION*>(ObrindiskImagePartitions(m_image.data()));
    }
};

TEST_F(DamagedImage, ShortOrForeignBytesAreRefused)
{
    ASSERT_TRUE(Valid(m_image));
    EXPECT_FALSE(ObrindiskImageIsValid(nullptr, 0));
    EXPECT_FALSE(ObrindiskImageIsValid(m_image.data(), sizeof(OBRINDISK_IMAGE_HEADER) - 1));
    EXPECT_FALSE(ObrindiskImageIsValid(m_image.data(), m_image.size() - 1));
    std::vector<uint8_t> longer = m_image;
    longer.push_back(0);
    EXPECT_FALSE(Valid(longer));
    header().Magic ^= 1;
    EXPECT_FALSE(Valid(m_image));
}

TEST_F(DamagedImage, CountsBeyondTheLimitsOrTheBytesAreRefused)
{
    disks()[1].PartitionStyle = 2;
    EXPECT_FALSE(Valid(m_image)) << "a style Windows does not know";
    disks()[1].PartitionStyle = OBRINDISK_STYLE_GPT;
    disks()[0].PartitionCount = 2;
    disks()[1].PartitionCount = 5;
    ASSERT_TRUE(Valid(m_image)) << "a GPT disk of five partitions";
    disks()[1].PartitionStyle = OBRINDISK_STYLE_MBR;
    EXPECT_FALSE(Valid(m_image)) << "an MBR holds four partitions";
    disks()[1].PartitionStyle = OBRINDISK_STYLE_GPT;
    disks()[0].PartitionCount = 3;
    disks()[1].PartitionCount = 4;
    ASSERT_TRUE(Valid(m_image));
    header().DiskCount = 0x40000000;  // would wrap the size computed from it
    EXPECT_FALSE(Valid(m_image));
    header().DiskCount = 2;
    disks()[1].PartitionCount = 5;
    EXPECT_FALSE(Valid(m_image)) << "the disks claim more entries than there are";
    disks()[1].PartitionCount = 3;
    EXPECT_FALSE(Valid(m_image)) << "an entry that belongs to no disk";
}

TEST_F(DamagedImage, NamesOutsideTheDosDevicesOrClaimedTwiceAreRefused)
{
    auto setName = [](uint16_t* name, const char* text) {
        std::fill(name, name + OBRINDISK_LINK_CHARS, 0);
        for (size_t i = 0; text[i] != 0; ++i)
            name[i] = static_cast<uint8_t>(text[i]);
    };
    setName(entries()[1].LetterLink, "\\??\\k:");
    EXPECT_FALSE(Valid(m_image)) << "K: twice, in another case";
    setName(entries()[1].LetterLink, "\\Device\\HarddiskVolume1");
    EXPECT_FALSE(Valid(m_image));
    setName(entries()[1].LetterLink, "\\??\\GLOBALROOT\\Device");
    EXPECT_FALSE(Valid(m_image));
    std::fill(entries()[1].LetterLink, entries()[1].LetterLink + OBRINDISK_LINK_CHARS, uint16_t{'A'});
    EXPECT_FALSE(Valid(m_image)) << "a name without its end";
    setName(entries()[1].LetterLink, "\\??\\M:");
    ASSERT_TRUE(Valid(m_image));
    entries()[1].VolumeId = 0;
    EXPECT_FALSE(Valid(m_image)) << "a letter without a volume";
    entries()[1].VolumeId = entries()[2].VolumeId;
    EXPECT_FALSE(Valid(m_image)) << "one volume twice";
    entries()[1].VolumeId = 99;
    disks()[1].Number = 0;
    EXPECT_FALSE(Valid(m_image)) << "one disk number twice";
}

}  // namespace
}  // namespace obrin::disksim
