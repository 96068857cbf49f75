// Discovery through the disk seam's stand-in side: the same Discover the
// installer runs, on models written by the test.
#include "installer/discover.h"
#include "tests/installer/installer_wine_support.h"

#include "sim/disk/disk_driver.h"
#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>

#include <cwchar>

using namespace installer_test;
namespace disksim = obrin::disksim;

namespace {

constexpr uint64_t kHidden = 0x4000000000000001ull;

disksim::Partition MakePartition(disksim::Model& model, uint32_t number, uint64_t offsetMb, uint64_t sizeMb,
                                 std::string_view type, const char* label)
{
    disksim::Partition partition;
    partition.number = number;
    partition.offsetSectors = offsetMb * 2048;
    partition.sizeSectors = sizeMb * 2048;
    partition.type = std::string(type);
    partition.attributes = kHidden;
    partition.fileSystem = "NTFS";
    partition.label = label;
    partition.volumeId = model.nextVolumeId++;
    partition.id = disksim::PartitionGuid(partition.volumeId);
    partition.folder = "C:\\disksim\\vol" + std::to_string(partition.volumeId);
    return partition;
}

// The standard disk with Windows shrunk and the two Android partitions
// behind it; gap puts a visible data partition between them, numbered 6 so
// that ASOS is 7.
disksim::Model InstalledModel(uint64_t gapMb = 0)
{
    std::optional<disksim::Model> model = disksim::MachineVariant("standard");
    EXPECT_TRUE(model.has_value());
    disksim::Disk& disk = model->disks[0];
    disksim::Partition& windows = disk.partitions.back();
    windows.sizeSectors -= (12288 + gapMb) * 2048;
    const uint64_t androidOffset = windows.EndSector() / 2048;
    disk.partitions.push_back(MakePartition(*model, 5, androidOffset, 10240, disksim::kTypeAndroid, "ANDROID"));
    disk.partitions.push_back(
        MakePartition(*model, gapMb != 0 ? 7 : 6, androidOffset + 10240 + gapMb, 2048, disksim::kTypeBasicData, "ASOS"));
    if (gapMb != 0) {
        disk.partitions.push_back(MakePartition(*model, 6, androidOffset + 10240, gapMb, disksim::kTypeBasicData, "DATA"));
        disk.partitions.back().attributes = 0;
    }
    disksim::SortByOffset(disk);
    return *model;
}

void Save(const disksim::Model& model)
{
    ASSERT_TRUE(disksim::SaveModelFile(disksim::ModelFilePath(), model));
}

class Discovery : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ResetMachine("standard"); }
    void SetUp() override { SetEnvironmentVariableW(L"SystemDrive", L"C:"); }
};

TEST_F(Discovery, StandardDiskHasWindowsAndEfiButNoAndroid)
{
    ResetMachine("standard");
    CDiskInfo info = {};
    ASSERT_EQ(Discover(info), 1);
    EXPECT_EQ(info.diskIndex, 0u);
    EXPECT_STREQ(info.diskDevicePath, L"\\\\.\\PHYSICALDRIVE0");
    EXPECT_STREQ(info.systemDrive, L"C:");
    EXPECT_EQ(info.windowsPartition, 4u);
    EXPECT_EQ(info.efiPartition, 2u);
    EXPECT_EQ(info.androidPresent, 0u);
    EXPECT_EQ(info.asosPresent, 0u);
}

TEST_F(Discovery, SystemDriveXMeansTheDiskWithDriveC)
{
    ResetMachine("system-disk-1");
    SetEnvironmentVariableW(L"SystemDrive", L"x:");
    CDiskInfo info = {};
    ASSERT_EQ(Discover(info), 1);
    EXPECT_EQ(info.diskIndex, 1u);
    EXPECT_STREQ(info.systemDrive, L"C:");
}

TEST_F(Discovery, NoLogicalDiskForTheSystemDriveFindsNothing)
{
    Save(InstalledModel());
    SetEnvironmentVariableW(L"SystemDrive", L"Q:");
    CDiskInfo info = {};
    info.androidPresent = 1;
    EXPECT_EQ(Discover(info), 0);
    EXPECT_EQ(info.androidPresent, 0u) << "the presence flags are cleared first";
}

TEST_F(Discovery, InstalledAndroidIsFoundWithoutUnhidingAnything)
{
    const disksim::Model installed = InstalledModel();
    Save(installed);
    CDiskInfo info = {};
    ASSERT_EQ(Discover(info), 1);
    EXPECT_EQ(info.windowsPartition, 4u);
    EXPECT_EQ(info.androidPresent, 1u);
    EXPECT_EQ(info.androidPartition, 5u);
    EXPECT_EQ(info.asosPresent, 1u);
    EXPECT_EQ(info.asosPartition, 6u);
    EXPECT_TRUE(HasAndroidInstallation(info));
    // The pair is told by its place, type and attributes: nothing is unhidden
    // or otherwise changed to look at it.
    EXPECT_EQ(disksim::FormatModel(LoadModel()), disksim::FormatModel(installed));
}

TEST_F(Discovery, AsosNotDirectlyBehindAndroidIsNoInstallation)
{
    Save(InstalledModel(1024));
    CDiskInfo info = {};
    ASSERT_EQ(Discover(info), 1);
    EXPECT_EQ(info.androidPartition, 5u);
    EXPECT_EQ(info.asosPresent, 0u);
    EXPECT_EQ(info.androidPresent, 0u);
    EXPECT_EQ(info.androidFound, 1u);
    EXPECT_FALSE(HasAndroidInstallation(info));
}

TEST_F(Discovery, FieldsOfAnEarlierRunStayInTheRecord)
{
    disksim::Model model = InstalledModel();
    Save(model);
    CDiskInfo info = {};
    ASSERT_EQ(Discover(info), 1);
    wcscpy(info.efiLetter, L"M:");

    model.disks[0].partitions.pop_back();  // ASOS, the last by offset, gone
    Save(model);
    ASSERT_EQ(Discover(info), 1);
    EXPECT_EQ(info.asosPresent, 0u);
    EXPECT_EQ(info.asosPartition, 6u) << "kept from the first run";
    EXPECT_EQ(info.androidPresent, 0u) << "the installation is told by the layout, not by kept numbers";
    EXPECT_EQ(info.androidFound, 1u);
    EXPECT_FALSE(HasAndroidInstallation(info));
    EXPECT_STREQ(info.efiLetter, L"M:") << "discovery does not touch the letters";
}

// The program that ships finds the system disk of every machine and no
// installation on any of them, the removable "ASOS" and "ANDROID" disks too.
TEST_F(Discovery, CheckOnEveryMachineFindsNoInstallation)
{
    for (std::string_view variant : disksim::MachineVariantNames()) {
        const std::string name(variant);
        SCOPED_TRACE(name);
        ResetMachine(name.c_str());
        CDiskInfo info = {};
        ASSERT_EQ(Discover(info), 1);
        EXPECT_EQ(info.diskIndex, name == "system-disk-1" ? 1u : 0u);
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
    }
}

TEST_F(Discovery, FreeLettersComeFromMToZInOrder)
{
    ResetMachine("standard");
    wchar_t letters[3] = {};
    EXPECT_EQ(GetFreeDriveLetters(letters, 3), 3u);
    EXPECT_EQ(std::wstring(letters, 3), L"MNO");

    const std::wstring folder = ProgramDirectory() + L"letter-filler";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(disksim::DefineDriveLetter('N', folder));
    wchar_t many[16] = {};
    // Z: is Wine's view of the Unix root, so M..Y less N remain.
    EXPECT_EQ(GetFreeDriveLetters(many, 16), 12u);
    EXPECT_EQ(std::wstring(many, 4), L"MOPQ");
    EXPECT_EQ(many[12], L'\0');
    EXPECT_EQ(many[15], L'\0');
    EXPECT_TRUE(disksim::RemoveDriveLetter('N'));
}

}  // namespace
