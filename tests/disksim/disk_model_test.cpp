#include "sim/disk/disk_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;

Model Standard()
{
    std::optional<Model> model = MachineVariant("standard");
    EXPECT_TRUE(model.has_value());
    return model.value_or(Model{});
}

TEST(DiskModelText, EveryVariantSurvivesFormatAndParse)
{
    for (std::string_view name : MachineVariantNames()) {
        SCOPED_TRACE(std::string(name));
        std::optional<Model> model = MachineVariant(name);
        ASSERT_TRUE(model);
        model->failures.push_back({"shrink", 2});
        model->powerLog = {"off", "on"};
        model->hibernation = false;
        std::string text = FormatModel(*model);
        Model parsed;
        std::string error;
        ASSERT_TRUE(ParseModel(text, parsed, error)) << error << "\n" << text;
        EXPECT_EQ(FormatModel(parsed), text);
        ASSERT_EQ(parsed.disks.size(), model->disks.size());
        EXPECT_EQ(parsed.failures.size(), 1u);
        EXPECT_EQ(parsed.failures[0].skip, 2u);
        EXPECT_FALSE(parsed.hibernation);
        EXPECT_EQ(parsed.powerLog, (std::vector<std::string>{"off", "on"}));
    }
}

TEST(DiskModelText, StandardMachineIsRecoveryEfiMsrWindows)
{
    Model model = Standard();
    ASSERT_EQ(model.disks.size(), 1u);
    const Disk& disk = model.disks[0];
    EXPECT_EQ(disk.devicePath, "\\\\.\\PHYSICALDRIVE0");
    ASSERT_EQ(disk.partitions.size(), 4u);
    EXPECT_EQ(disk.partitions[0].type, kTypeRecovery);
    EXPECT_EQ(disk.partitions[1].type, kTypeEfi);
    EXPECT_EQ(disk.partitions[2].type, kTypeMsr);
    EXPECT_EQ(disk.partitions[3].letter, 'C');
    EXPECT_EQ(disk.partitions[3].folder, kSystemFolder);
    EXPECT_EQ(disk.partitions[3].number, 4u);
    EXPECT_TRUE(FreeExtents(disk).empty());
    EXPECT_EQ(model.FindByLetter('c'), &disk.partitions[3]);
}

TEST(DiskModelText, FaultMachinesPutTheSystemDiskOrTheLabelsElsewhere)
{
    std::optional<Model> second = MachineVariant("system-disk-1");
    ASSERT_TRUE(second);
    ASSERT_NE(second->FindByLetter('C'), nullptr);
    EXPECT_EQ(second->DiskOfVolume(second->FindByLetter('C')->volumeId)->index, 1u);
    const Disk* diskZero = second->FindDisk(0);
    ASSERT_NE(diskZero, nullptr);
    // Disk 0 holds a partition with the standard EFI partition's number and a letter.
    ASSERT_GE(diskZero->partitions.size(), 2u);
    EXPECT_NE(diskZero->partitions[1].letter, 0);

    for (const char* label : {"ASOS", "ANDROID"}) {
        std::optional<Model> removable = MachineVariant(std::string("removable-") + (label[1] == 'S' ? "asos" : "android"));
        ASSERT_TRUE(removable);
        const Disk* stick = removable->FindDisk(1);
        ASSERT_NE(stick, nullptr);
        EXPECT_TRUE(stick->removable);
        ASSERT_EQ(stick->partitions.size(), 1u);
        EXPECT_EQ(stick->partitions[0].label, label);
        EXPECT_TRUE(HasVolume(stick->partitions[0]));
    }
    EXPECT_FALSE(MachineVariant("no-such-machine"));
}

TEST(DiskModelText, RejectsBrokenModelsSayingWhere)
{
    const std::string head = "next-volume 9\ndisk 0 size=1000 removable=no path=\"\\\\.\\PHYSICALDRIVE0\"\n";
    auto part = [](const std::string& offset, const std::string& size, const std::string& letter,
                   const std::string& volume, const std::string& number = "") {
        return "part number=" + (number.empty() ? volume : number) + " offset=" + offset + " size=" + size + " type=" + std::string(kTypeBasicData) +
               " attributes=0x0 fs=NTFS label=\"A b\" letter=" + letter + " used=0 volume=" + volume +
               " folder=\"C:\\disksim\\v\"\n";
    };
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {head + part("1", "100", "-", "1") + part("50", "100", "-", "2"), "overlaps"},
        {head + part("900", "200", "-", "1"), "beyond the disk"},
        {head + part("1", "10", "M", "1") + part("20", "10", "m", "2"), "drive letter twice"},
        {head + part("1", "10", "-", "1", "1") + part("20", "10", "-", "1", "2"), "volume id twice"},
        {head + part("1", "10", "-", "9"), "below next-volume"},
        {head + part("1", "10", "-", "1", "3") + part("20", "10", "-", "2", "3"), "partition number twice"},
        {head + part("1", "10", "-", "1", "0"), "bad number"},
        {head + part("1", "10", "1", "1"), "bad letter"},
        {head + part("1", "0", "-", "1"), "bad number"},
        {"disk 0 size=1000 removable=no path=x\n", "missing next-volume"},
        {"next-volume 2\n" + part("1", "10", "-", "1"), "partition before any disk"},
        {"next-volume 2\nfloppy 0\n", "line 2: unknown keyword floppy"},
        {"next-volume 2\ndisk 0 size=1000 removable=maybe path=x\n", "removable takes yes or no"},
        {"next-volume 2\ndisk 0 size=1000 removable=no path=\"x\n", "unterminated quote"},
        {"next-volume 2\nhibernation sometimes\n", "hibernation takes on or off"},
        {head + "part number=1 offset=1 size=10 type=" + std::string(kTypeBasicData) +
             " attributes=0 fs=- label=x letter=- used=0 volume=1 folder=\"C:\\disksim\\..\"\n",
         "neither"},
        {head + "part number=1 offset=1 size=10 type=not-a-guid attributes=0 fs=- label=x letter=- used=0 volume=1 folder=x\n",
         "bad type"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Model model = Standard();
        std::string error;
        EXPECT_FALSE(ParseModel(c.text, model, error));
        EXPECT_THAT(error, HasSubstr(c.error));
        // A rejected text leaves the caller's model alone.
        EXPECT_EQ(model.disks.size(), 1u);
    }
}

TEST(DiskModelLayout, PartitionsKeepTheirNumbersAndNewOnesFillTheGaps)
{
    Disk disk;
    disk.sizeMb = 1000;
    uint32_t number = 1;
    for (uint64_t offset : {500u, 1u, 200u}) {
        Partition p;
        p.number = number++;
        p.offsetMb = offset;
        p.sizeMb = 100;
        disk.partitions.push_back(p);
    }
    SortByOffset(disk);
    ASSERT_EQ(disk.partitions.size(), 3u);
    EXPECT_EQ(disk.partitions[0].offsetMb, 1u);
    EXPECT_EQ(disk.partitions[0].number, 2u);
    EXPECT_EQ(disk.partitions[2].offsetMb, 500u);
    EXPECT_EQ(disk.partitions[2].number, 1u);
    EXPECT_EQ(LowestFreeNumber(disk), 4u);

    // Free space: the first megabyte is the GPT's own; gaps and the tail count.
    std::vector<FreeExtent> free = FreeExtents(disk);
    ASSERT_EQ(free.size(), 3u);
    EXPECT_EQ(free[0].offsetMb, 101u);
    EXPECT_EQ(free[0].sizeMb, 99u);
    EXPECT_EQ(free[1].offsetMb, 300u);
    EXPECT_EQ(free[1].sizeMb, 200u);
    EXPECT_EQ(free[2].offsetMb, 600u);
    EXPECT_EQ(free[2].sizeMb, 400u);

    disk.partitions.erase(disk.partitions.begin());
    EXPECT_EQ(LowestFreeNumber(disk), 2u);
    disk.partitions.clear();
    EXPECT_EQ(LowestFreeNumber(disk), 1u);
    ASSERT_EQ(FreeExtents(disk).size(), 1u);
    EXPECT_EQ(FreeExtents(disk)[0].sizeMb, 999u);
}
TEST(DiskModelLayout, OnlyTheSystemRootAndPlainFoldersUnderTheRootArePartitionFolders)
{
    for (const char* good : {"C:\\", "C:\\disksim\\vol1", "c:\\DISKSIM\\vol1\\", "C:\\disksim\\occupied"})
        EXPECT_TRUE(IsPartitionFolder(good)) << good;
    for (const char* bad : {"", "C:", "D:\\", "C:\\disksim", "C:\\disksim\\", "C:\\disksim\\..",
                            "C:\\disksim\\..\\windows", "C:\\disksim\\a\\b", "C:\\disksim\\a/../..",
                            "C:\\windows", "C:\\disksim\\."})
        EXPECT_FALSE(IsPartitionFolder(bad)) << bad;
}

TEST(DiskModelLayout, VolumesExceptMsrAndHiddenPartitions)
{
    Partition p;
    p.type = std::string(kTypeBasicData);
    EXPECT_TRUE(HasVolume(p)) << "a RAW partition still has a volume";
    p.attributes = kAttrNoDriveLetter | kAttrPlatformRequired;
    EXPECT_TRUE(HasVolume(p));
    p.attributes = kAttrHidden | kAttrPlatformRequired;
    EXPECT_FALSE(HasVolume(p));
    p.attributes = 0;
    p.type = std::string(kTypeMsr);
    EXPECT_FALSE(HasVolume(p));
}

TEST(DiskModelLayout, VolumeGuidPathsNameTheirVolume)
{
    for (uint32_t id : {1u, 42u, 0xABCDEFu}) {
        std::string path = VolumeGuidPath(id);
        EXPECT_EQ(path.substr(0, 11), "\\\\?\\Volume{");
        EXPECT_EQ(path.back(), '\\');
        EXPECT_EQ(VolumeIdFromPath(path), id);
        EXPECT_EQ(VolumeIdFromPath(path.substr(0, path.size() - 1)), id);
        std::string dotted = path;
        dotted[2] = '.';
        EXPECT_EQ(VolumeIdFromPath(dotted), id);
    }
    EXPECT_FALSE(VolumeIdFromPath("C:"));
    EXPECT_FALSE(VolumeIdFromPath("\\\\?\\Volume{0b5d0000-0000-4000-8000-000000000000}\\"));
    EXPECT_FALSE(VolumeIdFromPath("\\\\?\\Volume{0b5d0000-0000-4000-8000-00000000000g}\\"));
    EXPECT_FALSE(VolumeIdFromPath("\\\\?\\Volume{12345678-0000-4000-8000-000000000001}\\"));
}

TEST(DiskModelLayout, TableShowsPartitionsFreeSpacePowerAndFailures)
{
    Model model = Standard();
    model.disks[0].partitions[3].sizeMb -= 12288;
    model.failures.push_back({"extend", 1});
    model.powerLog = {"off"};
    model.hibernation = false;
    std::string table = LayoutTable(model);
    EXPECT_THAT(table, HasSubstr("Disk 0  \\\\.\\PHYSICALDRIVE0  fixed  61440 MB"));
    EXPECT_THAT(table, HasSubstr("EFI"));
    EXPECT_THAT(table, HasSubstr("C:  C:\\"));
    EXPECT_THAT(table, HasSubstr("12288  (free)"));
    EXPECT_THAT(table, HasSubstr("Hibernation: off; powercfg -h calls: off"));
    EXPECT_THAT(table, HasSubstr("Pending failure: extend after 1 more"));
}

}  // namespace
}  // namespace obrin::disksim
