// Failing diskpart steps and the rollback, and the machines on which the
// installer must not touch anything but the system disk.
#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/winservice.h"
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
        // ASOS left unformatted, without its label: found only as what the
        // create made, and removed all the same.
        {L"format 1", 9},
    };
    // The rollback must not touch free space away from Windows either.
    for (const char* machine : {"standard", "gap-before-windows"}) {
        for (const InjectedStep& step : steps) {
            SCOPED_TRACE(std::string(machine) + ", fail " + disksim::Narrow(step.failure));
            ResetMachine(machine);
            const disksim::Model original = LoadModel();
            ASSERT_EQ(Disksim(std::wstring(L"fail ") + step.failure), std::optional<DWORD>(0));
            EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(step.exitCode));
            const disksim::Model after = LoadModel();
            EXPECT_FALSE(HasAndroidPartition(after.disks[0])) << disksim::LayoutTable(after);
            EXPECT_EQ(ShapeOf(after.disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(after);
            EXPECT_EQ(ServiceState(), 0u);
        }
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

// A delete that fails leaves an installation that the next uninstall
// finishes: no success, no uninstall notice to the firmware, nothing else
// changed. (An ANDROID left unformatted is still an installation: it is
// found by its type.)
TEST_F(InstallerFailures, DeleteThatFailsLeavesTheInstallationForTheNextUninstall)
{
    for (const wchar_t* failure : {L"delete", L"delete 1"}) {
        SCOPED_TRACE(disksim::Narrow(failure));
        ResetMachine("standard");
        const disksim::Model original = LoadModel();
        ASSERT_EQ(Disksim(L"fail format"), std::optional<DWORD>(0));
        ASSERT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(0));
        ASSERT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(0));
        const disksim::Model installed = LoadModel();
        const size_t notices = FirmwareCallsWithCode(0x13);

        ASSERT_EQ(Disksim(std::wstring(L"fail ") + failure), std::optional<DWORD>(0));
        EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(10));
        EXPECT_EQ(FirmwareCallsWithCode(0x13), notices);
        const disksim::Model failed = LoadModel();
        EXPECT_TRUE(HasAndroidPartition(failed.disks[0])) << disksim::LayoutTable(failed);
        if (std::wstring(failure) == L"delete") {
            EXPECT_EQ(DiskText(failed.disks[0]), DiskText(installed.disks[0]));
            EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(0));
        }

        EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));
        EXPECT_EQ(FirmwareCallsWithCode(0x13), notices + 1);
        const disksim::Model removed = LoadModel();
        EXPECT_EQ(ShapeOf(removed.disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(removed);
        EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(19));
    }
}

// Free space that is not directly behind Windows is never taken: neither by
// a USER partition after a failed extend, nor by ANDROID or ASOS.
TEST_F(InstallerFailures, FreeSpaceAwayFromWindowsIsNeverTaken)
{
    ResetMachine("gap-before-windows");
    const disksim::Model original = LoadModel();
    ASSERT_EQ(Disksim(L"fail shrink"), std::optional<DWORD>(0));
    EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(12));
    EXPECT_EQ(DisksText(LoadModel()), DisksText(original));
    EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0)) << "nothing installed";
    EXPECT_EQ(DisksText(LoadModel()), DisksText(original));

    ASSERT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(0));
    const disksim::Model installed = LoadModel();
    const disksim::Partition* windows = FindByLabel(installed.disks[0], "Windows");
    const disksim::Partition* android = FindByLabel(installed.disks[0], "ANDROID");
    ASSERT_TRUE(windows && android) << disksim::LayoutTable(installed);
    EXPECT_EQ(android->offsetSectors, windows->EndSector());
    ASSERT_EQ(Disksim(L"fail extend"), std::optional<DWORD>(0));
    EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));
    const disksim::Model withUser = LoadModel();
    const disksim::Partition* user = FindByLabel(withUser.disks[0], "USER");
    ASSERT_NE(user, nullptr) << disksim::LayoutTable(withUser);
    EXPECT_EQ(user->offsetSectors, windows->EndSector());
    EXPECT_EQ(withUser.disks[0].partitions.size(), original.disks[0].partitions.size() + 1);
    EXPECT_EQ(disksim::FreeExtents(withUser.disks[0]).size(), 1u) << "the gap before Windows stays free";

    // ANDROID would land in the larger free space at the end: noticed and
    // undone, whatever the numbers say.
    ResetMachine("larger-free-elsewhere");
    const disksim::Model elsewhere = LoadModel();
    EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(9));
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(elsewhere.disks[0])) << disksim::LayoutTable(LoadModel());
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(19));

    // A model that cannot be read is a machine whose disk cannot be found.
    ASSERT_TRUE(DeleteFileW(disksim::ModelFilePath().c_str()));
    EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(19));
}

// The service is replaced before the partitions are touched: a running one
// is stopped and deleted; one that cannot be stopped (7) or deleted (8), or
// a new one that cannot start (6), leaves no Android partition behind.
TEST_F(InstallerFailures, ServiceThatCannotBeReplacedOrStartedLeavesNoPartitions)
{
    if (!FirmwareStandInPresent())
        GTEST_SKIP() << "firmsim.exe (firmware stand-in) is not in the bin folder";
    ResetMachine("standard");
    const disksim::Model original = LoadModel();
    CWinService& service = GetWinService();
    const std::wstring slowService = ProgramDirectory() + L"slow_service.exe";
    const wchar_t* settings = L"SOFTWARE\\ObrinTest\\SlowService";

    // Running and accepting the stop: replaced by the installed service.
    ASSERT_TRUE(service.Create(slowService.c_str()));
    SERVICE_STATUS status = {};
    ASSERT_TRUE(service.Start(&status));
    ASSERT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(0));
    EXPECT_NE(RawServiceBinaryPath().find(InstallDirectoryImage()), std::wstring::npos);
    ASSERT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));

    // The new service stops at once when the firmware is not ready.
    ASSERT_EQ(Firmsim(L"answer 0x11 1"), std::optional<DWORD>(0));
    EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(6));
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0]));
    ASSERT_EQ(Firmsim(L"reset"), std::optional<DWORD>(0));

    // Marked for deletion while a handle stays open: it cannot be deleted.
    ASSERT_TRUE(service.Create(slowService.c_str()));
    {
        obrin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        obrin::UniqueServiceHandle marked(OpenServiceW(manager.get(), L"OBRINSERVICE", DELETE | SERVICE_QUERY_STATUS));
        ASSERT_TRUE(marked) << GetLastError();
        ASSERT_TRUE(DeleteService(marked.get())) << GetLastError();
        EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(8));
        EXPECT_EQ(DisksText(LoadModel()), DisksText(original));
    }

    // Running and refusing the stop.
    const DWORD refuse = 1;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, settings, L"RefuseStop", REG_DWORD, &refuse, sizeof(refuse)),
              ERROR_SUCCESS);
    ASSERT_TRUE(obrin::test::RemoveServiceIfPresent());
    ASSERT_TRUE(service.Create(slowService.c_str()));
    ASSERT_TRUE(service.Start(&status));
    EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(7));
    EXPECT_EQ(DisksText(LoadModel()), DisksText(original));
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, settings, L"RefuseStop");
    // Our own service process, ended by its id so that the entry can go.
    obrin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    obrin::UniqueServiceHandle refusing(OpenServiceW(manager.get(), L"OBRINSERVICE", SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS process = {};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(refusing.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                     sizeof(process), &needed));
    refusing.reset();
    obrin::UniqueHandle running(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId));
    ASSERT_TRUE(running && TerminateProcess(running.get(), 1));
    WaitForSingleObject(running.get(), 10000);
    EXPECT_TRUE(obrin::test::RemoveServiceIfPresent());
}

// Partitions that nothing tells the origin of (no record of a run) are not
// taken over: the install refuses with 9 and one line saying what removes
// them; the uninstall does.
TEST_F(InstallerFailures, LeftoverPartitionWithoutRecordIsRefused)
{
    ResetMachine("standard");
    const disksim::Model original = LoadModel();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring script = std::wstring(temp) + L"leftover.txt";
    {
        obrin::UniqueFileHandle file(
            CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const char text[] = "select disk 0\r\nselect par 4\r\nshrink minimum=2048\r\ncreate partition primary\r\n"
                            "format quick fs=ntfs label=\"ASOS\"\r\ngpt attributes=0x4000000000000001\r\n";
        DWORD written = 0;
        ASSERT_TRUE(file && WriteFile(file.get(), text, sizeof(text) - 1, &written, nullptr));
    }
    ASSERT_EQ(RunBounded(L"diskpart.exe /s \"" + script + L"\""), std::optional<DWORD>(0));
    const std::string leftover = DisksText(LoadModel());

    const obrin::test::LogTail log;
    EXPECT_EQ(RunInstaller(L"-install-dualos"), std::optional<DWORD>(9));
    EXPECT_EQ(DisksText(LoadModel()), leftover);
    EXPECT_EQ(ServiceState(), 0u);
    const std::vector<std::string> lines = log.NewLines();
    EXPECT_EQ(obrin::test::CountLinesWith(lines, "[ERROR]"), 1u);
    EXPECT_EQ(obrin::test::CountLinesWith(
                  lines, "partitions of an earlier installation are present; -uninstall-dualos removes them"),
              1u);

    EXPECT_EQ(RunInstaller(L"-uninstall-dualos"), std::optional<DWORD>(0));
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(LoadModel());
}

}  // namespace
