// Failing diskpart steps and the rollback, and the machines on which the
// installer must not touch anything but the system disk.
#include "tests/installer/installer_wine_support.h"

#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>

#include <vector>

using namespace installer_test;
namespace disksim = obrin::disksim;

namespace {

bool HasAndroidPartition(const disksim::Disk& disk)
{
    for (const disksim::Partition& p : disk.partitions) {
        if (p.type == disksim::kTypeAndroid || disksim::EqualsNoCase(p.label, "ANDROID") ||
            disksim::EqualsNoCase(p.label, "ASOS"))
            return true;
    }
    return false;
}

const disksim::Disk& SystemDisk(const disksim::Model& model)
{
    for (const disksim::Disk& disk : model.disks) {
        if (FindByLabel(disk, "Windows") != nullptr)
            return disk;
    }
    return model.disks.front();
}

// The disks alone: powercfg's record changes with every install.
std::string DisksText(const disksim::Model& model)
{
    disksim::Model disks;
    disks.disks = model.disks;
    return disksim::FormatModel(disks);
}

std::string DiskText(const disksim::Disk& disk)
{
    disksim::Model one;
    one.disks.push_back(disk);
    return disksim::FormatModel(one);
}

struct InjectedStep {
    const wchar_t* failure;
    DWORD exitCode;
};

// The service needs the firmware stand-in to start.
class InstallerFailures : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (FirmwareStandInPresent()) {
            ASSERT_EQ(Firmsim(L"install"), std::optional<DWORD>(0));
        }
        PlaceServiceImage();
    }
};

TEST_F(InstallerFailures, EachFailingInstallStepGivesItsCodeAndIsRolledBack)
{
    const InjectedStep steps[] = {
        {L"shrink", 12}, {L"create", 9}, {L"remove", 11}, {L"gpt", 11}, {L"setid", 11},
        // ANDROID made, ASOS not: the rollback must still remove ANDROID.
        {L"create 1", 9},
    };
    for (const InjectedStep& step : steps) {
        SCOPED_TRACE(disksim::Narrow(step.failure));
        ResetMachine("standard");
        const disksim::Model original = LoadModel();
        ASSERT_EQ(Disksim(std::wstring(L"fail ") + step.failure), std::optional<DWORD>(0));
        EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(step.exitCode));
        const disksim::Model after = LoadModel();
        EXPECT_FALSE(HasAndroidPartition(after.disks[0])) << disksim::LayoutTable(after);
        EXPECT_EQ(ShapeOf(after.disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(after);
        EXPECT_EQ(ServiceState(), 0u);
    }
}

TEST_F(InstallerFailures, FailedExtendAtUninstallLeavesAUserPartition)
{
    ResetMachine("standard");
    ASSERT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(0));
    ASSERT_EQ(Disksim(L"fail extend"), std::optional<DWORD>(0));
    EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));
    const disksim::Model after = LoadModel();
    EXPECT_FALSE(HasAndroidPartition(after.disks[0]));
    const disksim::Partition* windows = FindByLabel(after.disks[0], "Windows");
    const disksim::Partition* user = FindByLabel(after.disks[0], "USER");
    ASSERT_TRUE(windows && user) << disksim::LayoutTable(after);
    EXPECT_EQ(user->number, windows->number + 1);
}

// The system disk is disk 1: the uninstall's last letter removal must name
// it, not disk 0, whose EFI partition keeps its letter.
TEST_F(InstallerFailures, SystemDiskOtherThanDiskZeroIsTheOneChanged)
{
    ResetMachine("system-disk-1");
    const disksim::Model original = LoadModel();
    ASSERT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(0));
    const disksim::Model installed = LoadModel();
    EXPECT_TRUE(HasAndroidPartition(SystemDisk(installed)));
    EXPECT_EQ(DiskText(*installed.FindDisk(0)), DiskText(*original.FindDisk(0)));

    ASSERT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));
    const disksim::Model removed = LoadModel();
    EXPECT_FALSE(HasAndroidPartition(SystemDisk(removed)));
    EXPECT_EQ(DiskText(*removed.FindDisk(0)), DiskText(*original.FindDisk(0)))
        << disksim::LayoutTable(removed);
}

// A removable disk's "ASOS" or "ANDROID" volume is not the installation: its
// partition number belongs to the other disk.
TEST_F(InstallerFailures, LabelsOnARemovableDiskAreNotTheInstallation)
{
    for (const char* variant : {"removable-asos", "removable-android"}) {
        SCOPED_TRACE(variant);
        ResetMachine(variant);
        const std::string before = disksim::FormatModel(LoadModel());
        EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(19));
        EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));
        const disksim::Model after = LoadModel();
        const disksim::Model original = [&] {
            disksim::Model model;
            std::string error;
            EXPECT_TRUE(disksim::ParseModel(before, model, error)) << error;
            return model;
        }();
        ASSERT_EQ(after.disks.size(), original.disks.size());
        for (size_t i = 0; i < after.disks.size(); ++i)
            EXPECT_EQ(after.disks[i].partitions.size(), original.disks[i].partitions.size())
                << disksim::LayoutTable(after);
    }
}

// Too few free letters: nothing may be changed, and no batch may run on the
// Windows drive for want of its own.
TEST_F(InstallerFailures, TooFewFreeLettersChangeNothing)
{
    ResetMachine("standard");
    const std::wstring folder = ProgramDirectory() + L"letter-filler";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::vector<char> taken;
    // Z: is Wine's own root; M to W leaves X and Y, one short of three.
    for (char letter = 'M'; letter <= 'W'; ++letter) {
        ASSERT_TRUE(disksim::DefineDriveLetter(letter, folder)) << letter;
        taken.push_back(letter);
    }
    const std::string before = DisksText(LoadModel());
    EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(9));
    EXPECT_EQ(DisksText(LoadModel()), before);
    EXPECT_EQ(ServiceState(), 0u);

    for (char letter = 'X'; letter <= 'Y'; ++letter) {
        ASSERT_TRUE(disksim::DefineDriveLetter(letter, folder)) << letter;
        taken.push_back(letter);
    }
    EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(10));
    EXPECT_EQ(DisksText(LoadModel()), before);
    for (char letter : taken)
        EXPECT_TRUE(disksim::RemoveDriveLetter(letter));
}

TEST_F(InstallerFailures, BatchWithoutItsDriveDoesNotRunOnTheWindowsDrive)
{
    ResetMachine("standard");
    ASSERT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(0));
    // Folders of the same names on C: would go if the batch ran there.
    ASSERT_TRUE(CreateDirectoryW(L"C:\\loader", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"C:\\efi", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"C:\\efi\\Android", nullptr));
    ASSERT_EQ(Disksim(L"fail assign"), std::optional<DWORD>(0));

    EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(15));
    EXPECT_NE(GetFileAttributesW(L"C:\\loader"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(L"C:\\efi\\Android"), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryW(L"C:\\loader");
    RemoveDirectoryW(L"C:\\efi\\Android");
    RemoveDirectoryW(L"C:\\efi");
}

}  // namespace
