#include "sim/disk/disk_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>


namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;

constexpr uint64_t kMb512 = 2048;  // sectors of 512 bytes in a megabyte

Model Machine(std::string_view name)
{
    std::optional<Model> model = MachineVariant(name);
    EXPECT_TRUE(model.has_value()) << name;
    return model.value_or(Model{});
}

// `text` with its first `from` replaced by `to`.
std::string With(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The parser refuses numbers out of disk order and identities given twice, so
// this also shows every machine's ids are its own.
TEST(DiskModelText, EveryVariantSurvivesFormatAndParse)
{
    for (std::string_view name : MachineVariantNames()) {
        SCOPED_TRACE(std::string(name));
        std::optional<Model> model = MachineVariant(name);
        ASSERT_TRUE(model);
        model->failures.push_back({"shrink", 2});
        model->powerLog = {"off", "on"};
        model->hibernation = false;
        model->numbering = NumberingRule::Stable;
        std::string text = FormatModel(*model);
        Model parsed;
        std::string error;
        ASSERT_TRUE(ParseModel(text, parsed, error)) << error << "\n" << text;
        EXPECT_EQ(FormatModel(parsed), text);
        ASSERT_EQ(parsed.disks.size(), model->disks.size());
        EXPECT_EQ(parsed.numbering, NumberingRule::Stable);
        EXPECT_EQ(parsed.failures.size(), 1u);
        EXPECT_EQ(parsed.failures[0].skip, 2u);
        EXPECT_FALSE(parsed.hibernation);
        EXPECT_EQ(parsed.powerLog, (std::vector<std::string>{"off", "on"}));
    }
}

TEST(DiskModelText, WholeMegabytesStayReadableAndOtherSizesCountSectors)
{
    Model model = Machine("windows-off-grid");
    const std::string text = FormatModel(model);
    EXPECT_THAT(text, HasSubstr("numbering disk-order\n"));
    EXPECT_THAT(text, HasSubstr("disk 0 style=gpt sector=512 size=61440 id=0b5d0001-0000-4000-8000-000000000000"));
    EXPECT_THAT(text, HasSubstr("part number=3 offset=117 size=" +
                                std::to_string((61440 - 1 - 500 - 117) * kMb512 - 7) + "s type="));
    EXPECT_THAT(text, HasSubstr("part number=4 offset=60939 size=500 "));
    // The standard machine's disk holds the backup GPT behind its last megabyte.
    EXPECT_THAT(FormatModel(Machine("standard")), HasSubstr("size=" + std::to_string(61440 * kMb512 + 33) + "s "));
    EXPECT_THAT(FormatModel(Machine("mbr")), HasSubstr("style=mbr sector=512 size=61440 signature=0x0b5d0001"));
}

TEST(DiskModelText, StandardMachineIsRecoveryEfiMsrWindows)
{
    Model model = Machine("standard");
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
    EXPECT_EQ(disk.partitions[3].EndSector(), disk.UsableEndSector()) << "Windows fills the disk";
    EXPECT_EQ(disk.partitions[3].EndSector(), 61440 * kMb512);
    // Only the sectors in front of the first megabyte are unpartitioned.
    EXPECT_TRUE(FreeExtents(disk).empty());
    ASSERT_EQ(UnpartitionedSpace(disk).size(), 1u);
    EXPECT_EQ(UnpartitionedSpace(disk)[0].offsetSectors, 34u);
    EXPECT_EQ(UnpartitionedSpace(disk)[0].sizeSectors, 2048u - 34u);
    EXPECT_EQ(model.FindByLetter('c'), &disk.partitions[3]);
}

TEST(DiskModelText, FaultMachinesPutTheSystemDiskOrTheLabelsElsewhere)
{
    Model second = Machine("system-disk-1");
    ASSERT_NE(second.FindByLetter('C'), nullptr);
    EXPECT_EQ(second.DiskOfVolume(second.FindByLetter('C')->volumeId)->index, 1u);
    const Disk* diskZero = second.FindDisk(0);
    ASSERT_NE(diskZero, nullptr);
    EXPECT_EQ(diskZero->bytesPerSector, 4096u);
    EXPECT_EQ(diskZero->FirstUsableSector(), 6u) << "one header sector and 16 KiB of entries behind the MBR";
    EXPECT_EQ(diskZero->sizeSectors - diskZero->UsableEndSector(), 5u);
    // Disk 0 holds a partition with the standard EFI partition's number and a letter.
    ASSERT_GE(diskZero->partitions.size(), 2u);
    EXPECT_NE(diskZero->partitions[1].letter, 0);

    for (const char* label : {"ASOS", "ANDROID"}) {
        Model removable = Machine(std::string("removable-") + (label[1] == 'S' ? "asos" : "android"));
        const Disk* stick = removable.FindDisk(1);
        ASSERT_NE(stick, nullptr);
        EXPECT_TRUE(stick->removable);
        ASSERT_EQ(stick->partitions.size(), 1u);
        EXPECT_EQ(stick->partitions[0].label, label);
        EXPECT_TRUE(HasVolume(stick->partitions[0]));
    }
    EXPECT_FALSE(MachineVariant("no-such-machine"));
}

// The layouts Windows setup makes: UEFI with Recovery last (Windows on or off
// the MiB grid), and an MBR disk with an active system partition.
TEST(DiskModelText, SetupMachinesAreTheLayoutsWindowsSetupMakes)
{
    struct Case {
        const char* machine;
        uint64_t windowsShortOfGrid;
    } cases[] = {{"recovery-last", 0}, {"windows-off-grid", 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        const Model model = Machine(c.machine);
        ASSERT_EQ(model.disks.size(), 1u);
        const Disk& disk = model.disks[0];
        EXPECT_EQ(disk.sizeSectors, 61440 * kMb512);
        ASSERT_EQ(disk.partitions.size(), 4u);
        const std::vector<std::string_view> types = {kTypeEfi, kTypeMsr, kTypeBasicData, kTypeRecovery};
        for (size_t i = 0; i < types.size(); ++i) {
            EXPECT_EQ(disk.partitions[i].type, types[i]);
            EXPECT_EQ(disk.partitions[i].number, i + 1);
        }
        const Partition& windows = disk.partitions[2];
        const Partition& recovery = disk.partitions[3];
        EXPECT_EQ(disk.partitions[0].sizeSectors, 100 * kMb512);
        EXPECT_EQ(disk.partitions[1].sizeSectors, 16 * kMb512);
        EXPECT_EQ(windows.offsetSectors, 117 * kMb512);
        EXPECT_EQ(windows.letter, 'C');
        EXPECT_EQ(recovery.sizeSectors, 500 * kMb512);
        EXPECT_EQ(recovery.offsetSectors % kMb512, 0u);
        EXPECT_EQ(recovery.offsetSectors - windows.EndSector(), c.windowsShortOfGrid);
        EXPECT_EQ(windows.EndSector() % kMb512, (kMb512 - c.windowsShortOfGrid) % kMb512);
        // Less than a megabyte stays free behind Recovery, in front of the backup GPT.
        EXPECT_EQ(disk.UsableEndSector() - recovery.EndSector(), kMb512 - 33);
    }

    const Model mbr = Machine("mbr");
    const Disk& disk = mbr.disks[0];
    EXPECT_EQ(disk.style, PartitionStyle::Mbr);
    EXPECT_NE(disk.signature, 0u);
    EXPECT_TRUE(disk.id.empty());
    ASSERT_EQ(disk.partitions.size(), 2u);
    EXPECT_TRUE(disk.partitions[0].active);
    EXPECT_EQ(disk.partitions[0].type, kMbrTypeIfs);
    EXPECT_FALSE(disk.partitions[1].active);
    EXPECT_EQ(disk.partitions[1].letter, 'C');
    EXPECT_EQ(disk.partitions[1].EndSector(), disk.sizeSectors) << "an MBR keeps no backup";
    for (const Partition& p : disk.partitions) {
        EXPECT_TRUE(p.id.empty());
        EXPECT_EQ(p.attributes, 0u);
        EXPECT_TRUE(HasVolume(p));
    }
    EXPECT_EQ(disk.FirstUsableSector(), 1u);
}

TEST(DiskModelText, RejectsBrokenModelsSayingWhere)
{
    const std::string gpt = "disk 0 style=gpt sector=512 size=1000 id=0b5d0001-0000-4000-8000-000000000000 "
                            "removable=no path=\"\\\\.\\PHYSICALDRIVE0\"\n";
    const std::string head = "next-volume 9\n" + gpt;
    auto part = [](const std::string& offset, const std::string& size, const std::string& letter,
                   const std::string& volume, const std::string& number = "", const std::string& id = "") {
        return "part number=" + (number.empty() ? volume : number) + " offset=" + offset + " size=" + size +
               " type=" + std::string(kTypeBasicData) + " id=" + (id.empty() ? PartitionGuid(std::stoul(volume)) : id) +
               " attributes=0x0 active=no fs=NTFS label=\"A b\" letter=" + letter + " used=0 volume=" + volume +
               " folder=\"C:\\disksim\\v\"\n";
    };
    const std::string mbrHead =
        "next-volume 9\ndisk 0 style=mbr sector=512 size=1000 signature=0x1234 removable=no path=x\n";
    auto mbrPart = [](const std::string& volume, const std::string& offset) {
        return "part number=" + volume + " offset=" + offset + " size=10 type=07 id=- attributes=0x0 active=no fs=- "
               "label=x letter=- used=0 volume=" + volume + " folder=\"C:\\disksim\\v\"\n";
    };
    {
        Model mbr;
        std::string error;
        ASSERT_TRUE(ParseModel(mbrHead + mbrPart("1", "1"), mbr, error)) << error;
        EXPECT_EQ(mbr.disks[0].signature, 0x1234u);
    }
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        // The layout: places, sizes and numbers that no disk could hold.
        {head + part("1", "100", "-", "1") + part("50", "100", "-", "2"), "line 4: partition 2 starts inside partition 1"},
        {head + part("50", "100", "-", "1") + part("1", "100", "-", "2"), "line 4: partition 2 overlaps partition 1"},
        {head + part("1", "100", "-", "1") + part("2049s", "1s", "-", "2"), "starts inside partition 1"},
        {head + part("900", "100", "-", "1"), "line 3: partition 1 ends beyond the usable end of disk 0 (sector " +
                                                  std::to_string(1000 * kMb512 - 33) + ")"},
        {head + part("1", "999", "-", "1"), "ends beyond the usable end"},
        {head + part("20s", "10", "-", "1"), "starts before the first usable sector 34"},
        {head + part("1", "18446744073709551615s", "-", "1"), "bad offset or size"},
        {head + part("1", "18014398509481984", "-", "1"), "bad offset or size"},
        {head + part("1", "10", "-", "1") + part("20", "10", "-", "2", "1"), "partition number 1 twice"},
        {head + part("1", "10", "-", "1", "2"), "line 3: partition 2 is not numbered in disk order"},
        {"numbering stable\n" + head + part("1", "10", "-", "1", "2") + "numbering disk-order\n",
         "numbering takes stable or disk-order, once"},
        {head + part("1", "10", "M", "1") + part("20", "10", "m", "2"), "line 4: drive letter twice"},
        {head + part("1", "10", "-", "1", "1") + part("20", "10", "-", "1", "2", PartitionGuid(2)), "volume id twice"},
        {head + part("1", "10", "-", "9"), "line 3: volume id or partition id not below next-volume"},
        {head + part("1", "10", "-", "1", "", PartitionGuid(12)), "not below next-volume"},
        {head + part("1", "10", "-", "1") + part("20", "10", "-", "2", "", PartitionGuid(1)), "partition id twice"},
        {head + part("1", "10", "-", "1", "", "0b5d0001-0000-4000-8000-000000000000"), "partition id twice"},
        {head + part("1", "10", "-", "1", "", "not-a-guid"), "bad partition id"},
        {head + part("1", "10", "-", "1", "0"), "bad number"},
        {head + part("1", "10", "1", "1"), "bad letter"},
        {head + part("1", "0", "-", "1"), "bad offset or size"},
        // Disks: sector sizes, sizes that overflow or cannot hold a partition table.
        {"next-volume 2\ndisk 0 style=gpt sector=1024 size=1000 id=0b5d0001-0000-4000-8000-000000000000 "
         "removable=no path=x\n",
         "line 2: a sector holds 512 or 4096 bytes"},
        {"next-volume 2\ndisk 0 style=gpt sector=512 size=18014398509481984 id=0b5d0001-0000-4000-8000-000000000000 "
         "removable=no path=x\n",
         "bad disk size"},
        {"next-volume 2\ndisk 0 style=gpt sector=4096 size=2251799813685248s id=0b5d0001-0000-4000-8000-000000000000 "
         "removable=no path=x\n",
         "bad disk size"},
        {"next-volume 2\ndisk 0 style=gpt sector=512 size=60s id=0b5d0001-0000-4000-8000-000000000000 "
         "removable=no path=x\n",
         "too small for its partition table"},
        {"next-volume 2\ndisk 0 style=gpt sector=512 size=1000 removable=no path=x\n", "missing id"},
        {"next-volume 2\ndisk 0 style=gpt sector=512 size=1000 signature=0x1 removable=no path=x\n", "missing id"},
        {"next-volume 2\ndisk 0 style=floppy sector=512 size=1000 removable=no path=x\n", "style takes gpt or mbr"},
        {"next-volume 2\n" + gpt + gpt, "line 3: disk 0 twice"},
        {"disk 0 style=gpt sector=512 size=1000 id=0b5d0001-0000-4000-8000-000000000000 removable=no path=x\n",
         "missing next-volume"},
        {"next-volume 2\n" + part("1", "10", "-", "1"), "partition before any disk"},
        {"next-volume 2\nfloppy 0\n", "line 2: unknown keyword floppy"},
        {"next-volume 2\ndisk 0 style=gpt sector=512 size=1000 id=0b5d0001-0000-4000-8000-000000000000 "
         "removable=maybe path=x\n",
         "removable takes yes or no"},
        {"next-volume 2\ndisk 0 size=1000 removable=no path=\"x\n", "unterminated quote"},
        {"next-volume 2\nhibernation sometimes\n", "hibernation takes on or off"},
        {head + "part number=1 offset=1 size=10 type=" + std::string(kTypeBasicData) + " id=" + PartitionGuid(1) +
             " attributes=0 active=no fs=- label=x letter=- used=0 volume=1 folder=\"C:\\disksim\\..\"\n",
         "neither"},
        {head + "part number=1 offset=1 size=10 type=not-a-guid id=" + PartitionGuid(1) +
             " attributes=0 active=no fs=- label=x letter=- used=0 volume=1 folder=x\n",
         "bad type"},
        {With(head + part("1", "10", "-", "1"), "used=", "colour=red used="), "unknown field colour"},
        {With(head + part("1", "10", "-", "1"), "active=no", "active=yes"), "only MBR partitions are active"},
        // MBR: type bytes, no GPT fields, four entries, 32-bit sectors.
        {With(mbrHead + mbrPart("1", "1"), "type=07", "type=05"), "bad MBR type 05"},
        {With(mbrHead + mbrPart("1", "1"), "id=-", "id=" + PartitionGuid(1)), "no GPT id or attributes"},
        {With(mbrHead + mbrPart("1", "1"), "attributes=0x0", "attributes=0x1"), "no GPT id or attributes"},
        {mbrHead + mbrPart("1", "1") + mbrPart("2", "11") + mbrPart("3", "21") + mbrPart("4", "31") +
             mbrPart("5", "41"),
         "line 7: more than 4 partitions on disk 0"},
        {"next-volume 9\ndisk 0 style=mbr sector=512 size=4194304 signature=0x1 removable=no path=x\n" +
             mbrPart("1", "2097152"),
         "ends beyond the usable end of disk 0 (sector 4294967296)"},
        {mbrHead + "disk 1 style=mbr sector=512 size=1000 signature=0x1234 removable=no path=y\n",
         "line 3: disk id or signature twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Model model = Machine("standard");
        std::string error;
        EXPECT_FALSE(ParseModel(c.text, model, error));
        EXPECT_THAT(error, HasSubstr(c.error));
        // A rejected text leaves the caller's model alone.
        EXPECT_EQ(model.disks.size(), 1u);
        EXPECT_EQ(model.disks[0].partitions.size(), 4u);
    }
}

TEST(DiskModelLayout, StableNumbersKeepTheirPlaceAndDiskOrderClosesUp)
{
    Disk disk;
    disk.sizeSectors = 1000 * kMb512 + 33;
    uint32_t number = 1;
    for (uint64_t offset : {500u, 1u, 200u}) {
        Partition p;
        p.number = number++;
        p.offsetSectors = offset * kMb512;
        p.sizeSectors = 100 * kMb512;
        disk.partitions.push_back(p);
    }
    SortByOffset(disk);
    ASSERT_EQ(disk.partitions.size(), 3u);
    EXPECT_EQ(disk.partitions[0].offsetSectors, kMb512);
    ApplyNumbering(disk, NumberingRule::Stable);
    EXPECT_EQ(disk.partitions[0].number, 2u);
    EXPECT_EQ(disk.partitions[2].number, 1u);
    EXPECT_EQ(LowestFreeNumber(disk), 4u);

    // Unpartitioned space to the sector: the GPT's own area in front, the
    // gaps (one behind a partition a sector short of a megabyte), the tail up
    // to the backup GPT; free extents are those of a megabyte and more.
    disk.partitions[1].sizeSectors -= 1;
    std::vector<FreeExtent> space = UnpartitionedSpace(disk);
    ASSERT_EQ(space.size(), 4u);
    EXPECT_EQ(space[0].offsetSectors, 34u);
    EXPECT_EQ(space[0].sizeSectors, kMb512 - 34);
    EXPECT_EQ(space[1].offsetSectors, 101 * kMb512);
    EXPECT_EQ(space[1].sizeSectors, 99 * kMb512);
    EXPECT_EQ(space[2].offsetSectors, 300 * kMb512 - 1);
    EXPECT_EQ(space[2].sizeSectors, 200 * kMb512 + 1);
    EXPECT_EQ(space[3].offsetSectors, 600 * kMb512);
    EXPECT_EQ(space[3].sizeSectors, 400 * kMb512);
    std::vector<FreeExtent> free = FreeExtents(disk);
    ASSERT_EQ(free.size(), 3u);
    EXPECT_EQ(free[0].offsetSectors, 101 * kMb512);
    EXPECT_EQ(free[1].sizeSectors, 200 * kMb512 + 1);

    disk.partitions.erase(disk.partitions.begin());
    EXPECT_EQ(LowestFreeNumber(disk), 2u);
    ApplyNumbering(disk, NumberingRule::DiskOrder);
    EXPECT_EQ(disk.partitions[0].number, 1u);
    EXPECT_EQ(disk.partitions[1].number, 2u);
    disk.partitions.clear();
    EXPECT_EQ(LowestFreeNumber(disk), 1u);
    ASSERT_EQ(FreeExtents(disk).size(), 1u);
    EXPECT_EQ(FreeExtents(disk)[0].sizeSectors, 1000 * kMb512 - 34);
    disk.sizeSectors = 34 + 33 + kMb512 - 1;
    EXPECT_TRUE(FreeExtents(disk).empty()) << "a sector less than a megabyte";
}

TEST(DiskModelLayout, AlignmentIsAMebibyteFromFourGibibytesOn)
{
    struct Case {
        uint32_t sector;
        uint64_t sizeSectors;
        uint64_t alignment;
    } cases[] = {
        {512, 8388608, 2048},         // 4 GiB
        {512, 8388607, 128},          // a sector less: 64 KiB
        {4096, 1048576, 256},         // 4 GiB of 4 KiB sectors
        {4096, 1048575, 16},
    };
    for (const Case& c : cases) {
        Disk disk;
        disk.bytesPerSector = c.sector;
        disk.sizeSectors = c.sizeSectors;
        EXPECT_EQ(disk.AlignmentSectors(), c.alignment) << c.sector << " " << c.sizeSectors;
    }
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

TEST(DiskModelLayout, VolumesExceptMsrHiddenAndExtendedPartitions)
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
    for (const char* type : {"07", "0c", "27"}) {
        p.type = type;
        EXPECT_TRUE(HasVolume(p)) << type;
    }
    p.type = "0f";
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

TEST(DiskModelLayout, TableShowsIdentitiesPartitionsFreeSpacePowerAndFailures)
{
    Model model = Machine("windows-off-grid");
    model.failures.push_back({"extend", 1});
    model.powerLog = {"off"};
    model.hibernation = false;
    std::string table = LayoutTable(model);
    EXPECT_THAT(table, HasSubstr("Disk 0  \\\\.\\PHYSICALDRIVE0  fixed  61440 MB  512-byte sectors  GPT disk id "
                                 "0b5d0001-0000-4000-8000-000000000000"));
    EXPECT_THAT(table, HasSubstr("EFI"));
    EXPECT_THAT(table, HasSubstr("C:  0b5d0002-0000-4000-8000-000000000003 C:\\"));
    EXPECT_THAT(table, HasSubstr("7s  (free)")) << "the sectors between Windows and Recovery";
    EXPECT_THAT(table, HasSubstr("2015s  (free)")) << "in front of the backup GPT";
    EXPECT_THAT(table, HasSubstr("Numbering: disk-order"));
    EXPECT_THAT(table, HasSubstr("Hibernation: off; powercfg -h calls: off"));
    EXPECT_THAT(table, HasSubstr("Pending failure: extend after 1 more"));

    const std::string standard = LayoutTable(Machine("standard"));
    EXPECT_THAT(standard, HasSubstr("fixed  61440 MB + 33 sectors  512-byte sectors"));
    const std::string mbr = LayoutTable(Machine("mbr"));
    EXPECT_THAT(mbr, HasSubstr("MBR signature 0x0b5d0001"));
    EXPECT_THAT(mbr, HasSubstr("MBR 07    active"));
}

}  // namespace
}  // namespace obrin::disksim
