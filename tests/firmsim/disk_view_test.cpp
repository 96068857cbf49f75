// The disk classes' view of a model and their WQL, where the queries through
// COM (disk_wmi_wine_test) do not reach: the shapes Windows would also accept,
// the ones this view refuses, and partitions Windows does not show.
#include <gtest/gtest.h>

#include "sim/firmware/disk_view.h"

namespace firmsim::disks {
namespace {

using Verdict = ParsedQuery::Verdict;

DiskView Standard()
{
    return BuildDiskView(*obrin::disksim::MachineVariant("standard"), "HOST");
}

std::vector<std::string> Ids(const std::vector<DiskObject>& objects)
{
    std::vector<std::string> ids;
    for (const DiskObject& object : objects)
        ids.push_back(object.DeviceId());
    return ids;
}

std::vector<std::string> Answer(const DiskView& view, std::string_view wql)
{
    SCOPED_TRACE(std::string(wql));
    const ParsedQuery parsed = ParseDiskQuery(wql);
    EXPECT_EQ(parsed.verdict, Verdict::Disk);
    return Ids(RunDiskQuery(view, parsed.query));
}

TEST(DiskView, SourcePathsFindTheObjectEscapedOrAsRead)
{
    const DiskView view = Standard();
    const std::vector<std::string> partitions = {"Disk #0, Partition #0", "Disk #0, Partition #1",
                                                 "Disk #0, Partition #2"};
    for (std::string_view wql : {
             R"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0'})",
             R"(associators of {Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'} where assocclass = CIM_MediaPresent)",
             R"(ASSOCIATORS OF {\\HOST\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\physicaldrive0"} WHERE ResultClass=Win32_DiskPartition Role=Antecedent)",
             R"(ASSOCIATORS OF {Win32_DiskDrive='\\.\PHYSICALDRIVE0'} WHERE ResultRole=Dependent)"})
        EXPECT_EQ(Answer(view, wql), partitions);
    EXPECT_EQ(Answer(view, R"(ASSOCIATORS OF {Win32_LogicalDisk.DeviceID="C:"})"), std::vector<std::string>{partitions[2]});
    EXPECT_EQ(Answer(view, "ASSOCIATORS OF {Win32_DiskPartition.DeviceID='Disk #0, Partition #2'} WHERE Role=Dependent"),
              std::vector<std::string>{R"(\\.\PHYSICALDRIVE0)"});
    EXPECT_TRUE(Answer(view, R"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0'} WHERE AssocClass=Win32_LogicalDiskToPartition)").empty());
    EXPECT_TRUE(Answer(view, R"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE9'})").empty());
}

TEST(DiskView, SelectFiltersAndProjects)
{
    const DiskView view = Standard();
    EXPECT_EQ(Answer(view, "SELECT * FROM Win32_Volume WHERE Label = 'windows' AND BootVolume = TRUE"),
              std::vector<std::string>{R"(\\?\Volume{0b5d0000-0000-4000-8000-000000000004}\)"});
    EXPECT_EQ(Answer(view, R"(select * from win32_diskdrive where DeviceID = "\\\\.\\PHYSICALDRIVE0" and Index = 0x0)"),
              std::vector<std::string>{R"(\\.\PHYSICALDRIVE0)"});
    EXPECT_TRUE(Answer(view, "SELECT * FROM Win32_DiskDrive WHERE Index = 1").empty());

    const ParsedQuery projected = ParseDiskQuery("SELECT Size, FreeSpace FROM Win32_LogicalDisk");
    ASSERT_EQ(projected.verdict, Verdict::Disk);
    const auto disks = RunDiskQuery(view, projected.query);
    ASSERT_EQ(disks.size(), 1u);
    ASSERT_EQ(disks[0].properties.size(), 3u);
    EXPECT_EQ(disks[0].DeviceId(), "C:");
    ASSERT_NE(disks[0].Find("FreeSpace"), nullptr);
    EXPECT_EQ(disks[0].Find("FreeSpace")->number, (61440ull - 617 - 24576) * 1024 * 1024);
    EXPECT_EQ(disks[0].Find("FileSystem"), nullptr);
}

TEST(DiskView, OtherClassesStayWineAndUnservedShapesAreRefused)
{
    const std::pair<std::string_view, Verdict> cases[] = {
        {"SELECT * FROM Win32_OperatingSystem", Verdict::NotDisk},
        {"SELECT * FROM Win32_DiskDriveToDiskPartition", Verdict::NotDisk},
        {"ASSOCIATORS OF {Win32_ComputerSystem.Name='HOST'}", Verdict::NotDisk},
        {"ASSOCIATORS OF {\\\\.\\root\\wmi:Win32_DiskDrive.DeviceID='x'}", Verdict::NotDisk},
        {"SELECT * FROM Win32_PowerManagementEvent", Verdict::NotDisk},
        {"SELECT Bogus FROM Win32_DiskDrive", Verdict::Invalid},
        {"SELECT * FROM Win32_DiskDrive WHERE Bogus = 1", Verdict::Invalid},
        {"SELECT * FROM Win32_DiskDrive WHERE", Verdict::Invalid},
        {"ASSOCIATORS OF {Win32_DiskDrive.Index=0}", Verdict::Invalid},
        {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE AssocClass", Verdict::Invalid},
        {"SELECT * FROM Win32_DiskDrive WHERE Index = 0 OR Index = 1", Verdict::Unsupported},
        {"SELECT * FROM Win32_Volume WHERE Label LIKE 'A%'", Verdict::Unsupported},
        {"REFERENCES OF {Win32_DiskDrive.DeviceID='x'}", Verdict::Unsupported},
        {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE ClassDefsOnly", Verdict::Unsupported},
    };
    for (const auto& [wql, verdict] : cases)
        EXPECT_EQ(ParseDiskQuery(wql).verdict, verdict) << wql;
}

TEST(DiskView, HiddenPartitionsHaveNoVolumeAndRawVolumesNoSpace)
{
    obrin::disksim::Model model = *obrin::disksim::MachineVariant("free-behind-windows");
    obrin::disksim::Disk& disk = model.disks[0];
    disk.partitions[0].attributes |= obrin::disksim::kAttrHidden;  // the recovery partition
    obrin::disksim::Partition raw = disk.partitions[3];
    raw.number = 5;
    raw.offsetMb = disk.partitions[3].EndMb();
    raw.sizeMb = 1024;
    raw.fileSystem.clear();
    raw.letter = 'M';
    raw.volumeId = model.nextVolumeId++;
    disk.partitions.push_back(raw);
    const DiskView view = BuildDiskView(model, "HOST");

    // Every partition but the MSR, hidden or not; Index counts what is listed.
    EXPECT_EQ(Ids(view.partitions).back(), "Disk #0, Partition #3");
    EXPECT_EQ(view.partitions.size(), 4u);
    EXPECT_EQ(view.drives[0].Find("Partitions")->number, 4u);
    // Volumes of EFI, Windows and the RAW partition; neither recovery nor MSR.
    ASSERT_EQ(view.volumes.size(), 3u);
    const DiskObject& rawVolume = view.volumes[2];
    EXPECT_EQ(rawVolume.Find("DriveLetter")->text, "M:");
    for (const char* name : {"FileSystem", "Capacity", "FreeSpace", "Label"})
        EXPECT_TRUE(rawVolume.Find(name)->null) << name;
    EXPECT_EQ(Ids(view.logicalDisks), (std::vector<std::string>{"C:", "M:"}));
    EXPECT_TRUE(view.logicalDisks[1].Find("FreeSpace")->null);
}

}  // namespace
}  // namespace firmsim::disks
