// The disk classes' WQL where the queries through COM (disk_wmi_wine_test) do
// not reach: the filters and path forms Windows also accepts, and the queries
// this view leaves to Wine or refuses.
#include <gtest/gtest.h>

#include "sim/disk/disk_view.h"

namespace obrin::disksim::wmi {
namespace {

using Verdict = ParsedQuery::Verdict;

std::vector<std::string> Answer(std::string_view wql)
{
    SCOPED_TRACE(std::string(wql));
    static const DiskView view = BuildDiskView(*MachineVariant("standard"), "HOST");
    const ParsedQuery parsed = ParseDiskQuery(wql);
    EXPECT_EQ(parsed.verdict, Verdict::Disk);
    std::vector<std::string> ids;
    for (const DiskObject& object : RunDiskQuery(view, parsed.query))
        ids.push_back(object.DeviceId() + (object.properties.size() == 2 ? " " + object.properties[1].name : ""));
    return ids;
}

TEST(DiskView, AssociatorsFollowRolesClassesAndSuperclasses)
{
    const std::vector<std::string> partitions = {"Disk #0, Partition #0", "Disk #0, Partition #1",
                                                 "Disk #0, Partition #2"};
    for (std::string_view wql : {
             R"(associators of {Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'} where assocclass = CIM_MediaPresent)",
             R"(ASSOCIATORS OF {\\HOST\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\physicaldrive0"} WHERE ResultClass=CIM_StorageExtent Role=Antecedent)",
             R"(ASSOCIATORS OF {Win32_DiskDrive='\\.\PHYSICALDRIVE0'} WHERE ResultRole=Dependent)",
             R"(ASSOCIATORS OF {\\.\root\cimv2:Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0'})"})
        EXPECT_EQ(Answer(wql), partitions);
    EXPECT_EQ(Answer(R"(ASSOCIATORS OF {Win32_LogicalDisk.DeviceID="C:"})"), std::vector<std::string>{partitions[2]});
    EXPECT_EQ(Answer("ASSOCIATORS OF {Win32_DiskPartition.DeviceID='Disk #0, Partition #2'} WHERE Role=Dependent"),
              std::vector<std::string>{R"(\\.\PHYSICALDRIVE0)"});
    for (std::string_view none : {
             R"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0'} WHERE AssocClass=Win32_LogicalDiskToPartition)",
             R"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0'} WHERE Role=Dependent)",
             R"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE9'})"})
        EXPECT_TRUE(Answer(none).empty()) << none;
}

TEST(DiskView, SelectFiltersAndKeepsTheKeyOfAProjection)
{
    EXPECT_EQ(Answer("SELECT Label FROM Win32_Volume WHERE Label = 'windows' AND BootVolume = TRUE"),
              std::vector<std::string>{R"(\\?\Volume{0b5d0000-0000-4000-8000-000000000004}\ Label)"});
    EXPECT_EQ(Answer(R"(select Index from win32_diskdrive where DeviceID = "\\\\.\\PHYSICALDRIVE0" and Index = 0x0)"),
              std::vector<std::string>{R"(\\.\PHYSICALDRIVE0 Index)"});
}

TEST(DiskView, OtherClassesStayWineAndUnservedShapesAreRefused)
{
    const std::pair<std::string_view, Verdict> cases[] = {
        {"SELECT * FROM Win32_DiskDriveToDiskPartition", Verdict::NotDisk},
        {"ASSOCIATORS OF {Win32_ComputerSystem.Name='HOST'}", Verdict::NotDisk},
        {R"(ASSOCIATORS OF {\\.\root\wmi:Win32_DiskDrive.DeviceID='x'})", Verdict::NotDisk},
        {"SELECT * FROM Win32_PowerManagementEvent", Verdict::NotDisk},
        {"SELECT * FROM Win32_DiskDrive WHERE Bogus = 1", Verdict::Invalid},
        {"SELECT * FROM Win32_DiskDrive WHERE", Verdict::Invalid},
        {"ASSOCIATORS OF {Win32_DiskDrive.Index=0}", Verdict::Invalid},
        {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE AssocClass", Verdict::Invalid},
        {"SELECT * FROM Win32_Volume WHERE Label LIKE 'A%'", Verdict::Unsupported},
        {"REFERENCES OF {Win32_DiskDrive.DeviceID='x'}", Verdict::Unsupported},
        {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE ClassDefsOnly", Verdict::Unsupported},
    };
    for (const auto& [wql, verdict] : cases)
        EXPECT_EQ(ParseDiskQuery(wql).verdict, verdict) << wql;
}

}  // namespace
}  // namespace obrin::disksim::wmi
