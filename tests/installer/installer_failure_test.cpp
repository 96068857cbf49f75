// Failing diskpart steps and the rollback, and the machines on which the
// installer must not touch anything but the system disk.
#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/winservice.h"
#include "sim/disk/disk_driver.h"
#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
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
            ASSERT_THAT(Firmsim(L"install"), Succeeds());
        }
        PlaceServiceImage();
    }
};

TEST_F(InstallerFailures, EachFailingInstallStepGivesItsCodeAndIsRolledBack)
{
    const InjectedStep steps[] = {
        // The first letter removal is the boot folder check's.
        {L"shrink", 12}, {L"create", 9}, {L"remove 1", 11}, {L"gpt", 11}, {L"setid", 11},
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
            ASSERT_THAT(Disksim(std::wstring(L"fail ") + step.failure), ExitsWith(0));
            EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(step.exitCode));
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
    ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    ASSERT_THAT(Disksim(L"fail extend"), ExitsWith(0));
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
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
    ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    const disksim::Model installed = LoadModel();
    EXPECT_TRUE(HasAndroidPartition(SystemDisk(installed)));
    EXPECT_EQ(DiskText(*installed.FindDisk(0)), DiskText(*original.FindDisk(0)));

    ASSERT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
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
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
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
    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(9));
    EXPECT_EQ(DisksText(LoadModel()), before);
    EXPECT_EQ(ServiceState(), 0u);

    for (char letter = 'X'; letter <= 'Y'; ++letter) {
        ASSERT_TRUE(disksim::DefineDriveLetter(letter, folder)) << letter;
        taken.push_back(letter);
    }
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(10));
    EXPECT_EQ(DisksText(LoadModel()), before);
    for (char letter : taken)
        EXPECT_TRUE(disksim::RemoveDriveLetter(letter));
}

TEST_F(InstallerFailures, BatchWithoutItsDriveDoesNotRunOnTheWindowsDrive)
{
    ResetMachine("standard");
    ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    // Folders of the same names on C: would go if the batch ran there.
    ASSERT_TRUE(CreateDirectoryW(L"C:\\loader", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"C:\\efi", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"C:\\efi\\Android", nullptr));
    ASSERT_THAT(Disksim(L"fail assign"), ExitsWith(0));

    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(15));
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
        ASSERT_THAT(Disksim(L"fail format"), ExitsWith(0));
        ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
        ASSERT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
        const disksim::Model installed = LoadModel();
        const size_t notices = FirmwareCallsWithCode(0x13);

        ASSERT_THAT(Disksim(std::wstring(L"fail ") + failure), ExitsWith(0));
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(10));
        EXPECT_EQ(FirmwareCallsWithCode(0x13), notices);
        const disksim::Model failed = LoadModel();
        EXPECT_TRUE(HasAndroidPartition(failed.disks[0])) << disksim::LayoutTable(failed);
        if (std::wstring(failure) == L"delete") {
            EXPECT_EQ(DiskText(failed.disks[0]), DiskText(installed.disks[0]));
            EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
        }

        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
        EXPECT_EQ(FirmwareCallsWithCode(0x13), notices + 1);
        const disksim::Model removed = LoadModel();
        EXPECT_EQ(ShapeOf(removed.disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(removed);
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
    }
}

// Free space that is not directly behind Windows is never taken: neither by
// a USER partition after a failed extend, nor by ANDROID or ASOS.
TEST_F(InstallerFailures, FreeSpaceAwayFromWindowsIsNeverTaken)
{
    ResetMachine("gap-before-windows");
    const disksim::Model original = LoadModel();
    ASSERT_THAT(Disksim(L"fail shrink"), ExitsWith(0));
    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(12));
    EXPECT_EQ(DisksText(LoadModel()), DisksText(original));
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0)) << "nothing installed";
    EXPECT_EQ(DisksText(LoadModel()), DisksText(original));

    ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    const disksim::Model installed = LoadModel();
    const disksim::Partition* windows = FindByLabel(installed.disks[0], "Windows");
    const disksim::Partition* android = FindByLabel(installed.disks[0], "ANDROID");
    ASSERT_TRUE(windows && android) << disksim::LayoutTable(installed);
    EXPECT_EQ(android->offsetSectors, windows->EndSector());
    ASSERT_THAT(Disksim(L"fail extend"), ExitsWith(0));
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
    const disksim::Model withUser = LoadModel();
    const disksim::Partition* user = FindByLabel(withUser.disks[0], "USER");
    ASSERT_NE(user, nullptr) << disksim::LayoutTable(withUser);
    EXPECT_EQ(user->offsetSectors, windows->EndSector());
    EXPECT_EQ(withUser.disks[0].partitions.size(), original.disks[0].partitions.size() + 1);
    EXPECT_EQ(disksim::FreeExtents(withUser.disks[0]).size(), 1u) << "the gap before Windows stays free";

    // ANDROID would land in the larger free space at the end: refused before
    // anything changes, so that no cut-off run can leave partitions there.
    ResetMachine("larger-free-elsewhere");
    const disksim::Model elsewhere = LoadModel();
    const obrin::test::LogTail refusal;
    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(9));
    EXPECT_EQ(DisksText(LoadModel()), DisksText(elsewhere));
    EXPECT_TRUE(LoadModel().powerLog.empty()) << "hibernation untouched";
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_FALSE(RecordHolds(L"InstallerRun"));
    const std::vector<std::string> refused = refusal.NewLines();
    EXPECT_EQ(obrin::test::CountLinesWith(refused, "[ERROR]"), 1u);
    EXPECT_EQ(obrin::test::CountLinesWith(refused, "20480 MB lie free away from Windows"), 1u)
        << refusal.NewText();
    EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));

    // A model that cannot be read is a machine whose disk cannot be found.
    ASSERT_TRUE(DeleteFileW(disksim::ModelFilePath().c_str()));
    EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
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
    ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    EXPECT_NE(RawServiceBinaryPath().find(InstallDirectoryImage()), std::wstring::npos);
    ASSERT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));

    // The new service stops at once when the firmware is not ready.
    ASSERT_THAT(Firmsim(L"answer 0x11 1"), Succeeds());
    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(6));
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0]));
    ASSERT_THAT(Firmsim(L"reset"), Succeeds());

    // Marked for deletion while a handle stays open: it cannot be deleted.
    ASSERT_TRUE(service.Create(slowService.c_str()));
    {
        obrin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        obrin::UniqueServiceHandle marked(OpenServiceW(manager.get(), L"OBRINSERVICE", DELETE | SERVICE_QUERY_STATUS));
        ASSERT_TRUE(marked) << GetLastError();
        ASSERT_TRUE(DeleteService(marked.get())) << GetLastError();
        EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(8));
        EXPECT_EQ(DisksText(LoadModel()), DisksText(original));
    }

    // Running and refusing the stop.
    const DWORD refuse = 1;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, settings, L"RefuseStop", REG_DWORD, &refuse, sizeof(refuse)),
              ERROR_SUCCESS);
    ASSERT_TRUE(obrin::test::RemoveServiceIfPresent());
    ASSERT_TRUE(service.Create(slowService.c_str()));
    ASSERT_TRUE(service.Start(&status));
    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(7));
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

// An ANDROID directly behind Windows that nothing tells the origin of (no
// record of a run) is not taken over: the install refuses with 9 and one
// line saying what removes it; the uninstall does.
TEST_F(InstallerFailures, LeftoverPartitionWithoutRecordIsRefused)
{
    ResetMachine("standard");
    const disksim::Model original = LoadModel();
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=2048\r\ncreate partition primary\r\n"
                       "format quick fs=ntfs label=\"ANDROID\"\r\n"),
              ExitsWith(0));
    const std::string leftover = DisksText(LoadModel());

    const obrin::test::LogTail log;
    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(9));
    EXPECT_EQ(DisksText(LoadModel()), leftover);
    EXPECT_EQ(ServiceState(), 0u);
    const std::vector<std::string> lines = log.NewLines();
    EXPECT_EQ(obrin::test::CountLinesWith(lines, "[ERROR]"), 1u);
    EXPECT_EQ(obrin::test::CountLinesWith(
                  lines, "partitions of an earlier installation are present; -uninstall-dualos removes them"),
              1u);

    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(LoadModel());
}


// What the installer deletes, formats and overwrites is provably its own:
// the machines after a cut, with partitions and files of the user's.
class InstallerOwnership : public InstallerFailures {
protected:
    void SetUp() override { ClearInstallerRecord(); }
    void TearDown() override { ClearInstallerRecord(); }
};

// The same on the machines whose layouts test placement and numbering.
class InstallerLayouts : public InstallerOwnership {};

const disksim::Partition* FindByVolume(const disksim::Disk& disk, uint32_t volumeId)
{
    for (const disksim::Partition& p : disk.partitions) {
        if (p.volumeId == volumeId)
            return &p;
    }
    return nullptr;
}

// The partitions of disk 0 that `original` did not have: deleted by number in
// falling disk order (numbers behind a deleted partition may close up), then
// one data partition in the space with a file on it, as a user with any
// partition tool would. Returns the file's path.
std::wstring ReplaceNewPartitionsWithTheUsers(const disksim::Model& original)
{
    const disksim::Model now = LoadModel();
    std::string script = "select disk 0\r\n";
    for (auto p = now.disks[0].partitions.rbegin(); p != now.disks[0].partitions.rend(); ++p) {
        if (FindByVolume(original.disks[0], p->volumeId) == nullptr)
            script += "select par " + std::to_string(p->number) + "\r\ndelete par override\r\n";
    }
    script += "create partition primary\r\nformat quick fs=ntfs label=\"DATA\"\r\n";
    EXPECT_THAT(Diskpart(script), ExitsWith(0));
    const disksim::Partition* data = FindByLabel(LoadModel().disks[0], "DATA");
    EXPECT_NE(data, nullptr) << disksim::LayoutTable(LoadModel());
    if (data == nullptr)
        return {};
    const std::wstring file = disksim::Widen(data->folder) + L"\\precious.txt";
    EXPECT_TRUE(WriteBytes(file, "the user's own"));
    return file;
}

// An install cut off inside its create script (before it noted what it made)
// or behind it; then the user's doings; then the next install. It recovers
// only what it can prove its own (by identity, or by the create script's
// place, sizes and labels), else it refuses with 9 before any change, one
// line saying what it found, and keeps its record.
TEST_F(InstallerOwnership, ACutInstallIsRecoveredOnlyOnWhatItProvesItsOwn)
{
    enum class Then { Nothing, UserReplacesThePair, EarlierVersionRecord, EarlierRecordUserReplaces, OtherDisk };
    const struct {
        const char* name;
        const wchar_t* cut;
        Then then;
        DWORD exitCode;
    } cases[] = {
        {"inside the create script", L"created", Then::Nothing, 0},
        {"inside the create script, the user replaced the pair", L"created", Then::UserReplacesThePair, 9},
        {"behind the create script, the user replaced the pair", L"identified", Then::UserReplacesThePair, 9},
        {"an earlier version's record", L"identified", Then::EarlierVersionRecord, 0},
        {"an earlier version's record, the user replaced the pair", L"created", Then::EarlierRecordUserReplaces, 9},
        {"the record names another disk", L"identified", Then::OtherDisk, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearInstallerRecord();
        ResetMachine("standard");
        const disksim::Model original = LoadModel();
        ASSERT_THAT(Probe(std::wstring(L"kill-when ") + c.cut + L" ObrinInstaller.exe -install-dualos"),
                  ExitsWith(0));
        ASSERT_TRUE(RecordHolds(L"InstallerRun"));
        ASSERT_EQ(RecordHolds(L"InstallerPartitions"), std::wstring(c.cut) == L"identified");

        std::wstring usersFile;
        if (c.then == Then::UserReplacesThePair || c.then == Then::EarlierRecordUserReplaces)
            usersFile = ReplaceNewPartitionsWithTheUsers(original);
        if (c.then == Then::EarlierVersionRecord || c.then == Then::EarlierRecordUserReplaces) {
            // What the previous version wrote: flow, settings, offsets before.
            for (const wchar_t* value : {L"InstallerDisk", L"InstallerWindows", L"InstallerFreedSpace",
                                         L"InstallerPartitions"})
                RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, value);
        }
        if (c.then == Then::OtherDisk) {
            BYTE otherDisk[20] = {1, 0, 0, 0, 0x5a};
            ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, L"InstallerDisk", REG_BINARY, otherDisk,
                                      sizeof(otherDisk)),
                      ERROR_SUCCESS);
        }
        const std::string cutOff = DisksText(LoadModel());

        const obrin::test::LogTail log;
        EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(c.exitCode));
        if (c.exitCode == 0) {
            EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
            EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
            EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(LoadModel());
            EXPECT_FALSE(RecordHolds(L"InstallerRun"));
            continue;
        }
        const std::vector<std::string> lines = log.NewLines();
        EXPECT_EQ(obrin::test::CountLinesWith(lines, "[ERROR]"), 1u);
        EXPECT_EQ(obrin::test::CountLinesWith(lines, "nothing was changed"), 1u);
        EXPECT_EQ(DisksText(LoadModel()), cutOff) << disksim::LayoutTable(LoadModel());
        if (!usersFile.empty()) {
            EXPECT_TRUE(FileExists(usersFile));
        }
        EXPECT_TRUE(RecordHolds(L"InstallerRun")) << "the record stays";
        // No loop of half-changes: the next runs refuse alike.
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(10));
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
        EXPECT_EQ(DisksText(LoadModel()), cutOff);
    }
}

// Cut off after the flow ended, before the settings were back: the next run
// only puts them back. The Android side's data written since stays.
TEST_F(InstallerOwnership, AFinishedInstallIsNeverUndone)
{
    ResetMachine("standard");
    ASSERT_THAT(Probe(L"kill-when finished ObrinInstaller.exe -install-dualos"), ExitsWith(0));
    ASSERT_TRUE(RecordHolds(L"InstallerRun"));
    const disksim::Model installed = LoadModel();
    const disksim::Partition* android = FindByLabel(installed.disks[0], "ANDROID");
    ASSERT_NE(android, nullptr) << disksim::LayoutTable(installed);
    const std::wstring androidData = disksim::Widen(android->folder) + L"\\userdata.img";
    ASSERT_TRUE(WriteBytes(androidData, "written by Android since"));

    EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    EXPECT_TRUE(FileExists(androidData));
    EXPECT_EQ(DisksText(LoadModel()), DisksText(installed));
    EXPECT_FALSE(RecordHolds(L"InstallerRun"));
    EXPECT_TRUE(LoadModel().hibernation);
    EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
}

// A partition of the user's labelled Android or ASOS away from Windows is no
// installation: not counted, not deleted, and an install goes on beside it.
// (It leaves less free space at the end than ASOS takes: the create script's
// second partition takes the largest free extent, as the first does.)
TEST_F(InstallerOwnership, AUsersAndroidPartitionElsewhereIsLeftAlone)
{
    for (const char* label : {"ASOS", "Android"}) {
        SCOPED_TRACE(label);
        ResetMachine("larger-free-elsewhere");
        ASSERT_THAT(Diskpart(std::string("select disk 0\r\ncreate partition primary size=19000\r\n"
                                       "format quick fs=ntfs label=\"") +
                           label + "\"\r\n"),
                  ExitsWith(0));
        const disksim::Model withUsers = LoadModel();
        const disksim::Partition* users = FindByLabel(withUsers.disks[0], label);
        ASSERT_NE(users, nullptr);
        const std::wstring usersFile = disksim::Widen(users->folder) + L"\\photos.zip";
        ASSERT_TRUE(WriteBytes(usersFile, "the user's own"));

        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
        EXPECT_EQ(DisksText(LoadModel()), DisksText(withUsers));
        if (std::string(label) == "ASOS")
            continue;
        EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
        EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(withUsers.disks[0])) << disksim::LayoutTable(LoadModel());
        EXPECT_TRUE(FileExists(usersFile));
    }
}

// Another boot manager's files under \loader or \efi\Android stop the
// install before any change; files put there after an install stay when it
// is removed.
TEST_F(InstallerOwnership, AnotherBootManagersFilesAreNeverTouched)
{
    for (const wchar_t* foreign : {L"loader\\entries\\linux.conf", L"efi\\Android\\notes.txt"}) {
        SCOPED_TRACE(disksim::Narrow(foreign));
        ResetMachine("standard");
        const disksim::Model original = LoadModel();
        const disksim::Partition* efi = nullptr;
        for (const disksim::Partition& p : original.disks[0].partitions)
            efi = p.type == disksim::kTypeEfi ? &p : efi;
        ASSERT_NE(efi, nullptr);
        const std::wstring efiRoot = disksim::Widen(efi->folder) + L"\\";
        const std::wstring file = efiRoot + foreign;
        SHCreateDirectoryExW(nullptr, file.substr(0, file.rfind(L'\\')).c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(file, "title Linux\r\n"));

        const obrin::test::LogTail log;
        EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(14));
        const std::vector<std::string> lines = log.NewLines();
        EXPECT_EQ(obrin::test::CountLinesWith(lines, "[ERROR]"), 1u);
        const std::wstring folder = std::wstring(L"\\") + std::wstring(foreign).substr(0, std::wstring(foreign).find(L'\\', 4));
        EXPECT_EQ(obrin::test::CountLinesWith(lines, disksim::Narrow(folder) + " on the EFI partition holds"), 1u)
            << disksim::Narrow(folder);
        EXPECT_EQ(DisksText(LoadModel()), DisksText(original));
        EXPECT_TRUE(FileExists(file));
        EXPECT_FALSE(RecordHolds(L"InstallerRun"));
        EXPECT_EQ(ServiceState(), 0u);
    }

    ResetMachine("standard");
    const disksim::Model original = LoadModel();
    ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
    std::wstring efiRoot;
    for (const disksim::Partition& p : original.disks[0].partitions)
        efiRoot = p.type == disksim::kTypeEfi ? disksim::Widen(p.folder) + L"\\" : efiRoot;
    ASSERT_TRUE(WriteBytes(efiRoot + L"loader\\entries\\linux.conf", "title Linux\r\n"));
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
    EXPECT_TRUE(FileExists(efiRoot + L"loader\\entries\\linux.conf"));
    EXPECT_FALSE(FileExists(efiRoot + L"loader\\loader.conf"));
    EXPECT_FALSE(FileExists(efiRoot + L"loader\\entries\\AndroidBoot.conf"));
    EXPECT_EQ(GetFileAttributesW((efiRoot + L"efi\\Android").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(efiRoot + L"EFI\\Microsoft\\Boot\\bootmgfw.efi"));
}

// A second installer while one runs exits at once with 20 and one line, and
// never takes the first one's live record for a dead run's.
TEST_F(InstallerOwnership, ASecondInstallerWaitsForNone)
{
    ResetMachine("standard");
    obrin::test::ChildProcess first(obrin::test::ProgramCommand(L"ObrinInstaller.exe", L"-install-dualos"),
                                    {.timeoutMs = 300000});
    // The first holds its mutex from its start; its record follows soon.
    for (int i = 0; i < 600 && !RecordHolds(L"InstallerRun"); ++i)
        Sleep(100);
    ASSERT_TRUE(RecordHolds(L"InstallerRun"));

    const obrin::test::LogTail log;
    for (const wchar_t* option : {L"-install-dualos", L"-uninstall-dualos", L"-check-dualos"}) {
        const DWORD start = GetTickCount();
        EXPECT_THAT(Installer(option), ExitsWith(20)) << disksim::Narrow(option);
        EXPECT_LT(GetTickCount() - start, 20000u) << "at once, waiting for nothing";
    }
    const std::vector<std::string> lines = log.NewLines();
    EXPECT_EQ(obrin::test::CountLinesWith(lines, "INSTALLER_RET_ALREADY_RUNNING"), 3u);

    ASSERT_THAT(first.Wait(), ExitsWith(0));
    EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
    EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
}

// ASOS relabelled or left without a file system is still the installation's
// by its type, attributes and place: counted, and removed with ANDROID.
TEST_F(InstallerOwnership, AnUnlabelledAsosIsStillTheInstallations)
{
    for (const char* change : {"relabelled", "raw"}) {
        SCOPED_TRACE(change);
        ResetMachine("standard");
        const disksim::Model original = LoadModel();
        ASSERT_THAT(Installer(L"-install-dualos"), ExitsWith(0));
        disksim::Model installed = LoadModel();
        disksim::Partition* asos = nullptr;
        for (disksim::Partition& p : installed.disks[0].partitions)
            asos = disksim::EqualsNoCase(p.label, "ASOS") ? &p : asos;
        ASSERT_NE(asos, nullptr);
        if (std::string(change) == "raw") {
            asos->fileSystem.clear();
            asos->label.clear();
            ASSERT_TRUE(disksim::SaveModelFile(disksim::ModelFilePath(), installed));
        } else {
            const std::string select = "select disk 0\r\nselect par " + std::to_string(asos->number) + "\r\n";
            ASSERT_THAT(Diskpart(select + "gpt attributes=0x8000000000000001\r\nformat quick fs=ntfs label=\"DATA\" "
                                        "override\r\ngpt attributes=0x4000000000000001\r\n"),
                      ExitsWith(0));
        }
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
        EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(LoadModel());
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
    }
}

// A system disk that is not GPT (mbr), or whose EFI partition is on another
// disk, is refused before any change, with no record that a later run would
// try to recover: the next runs give the same answer.
TEST_F(InstallerOwnership, ASystemDiskWithoutEfiPartitionIsRefused)
{
    for (const char* machine : {"mbr", "system-disk-1"}) {
        SCOPED_TRACE(machine);
        ResetMachine(machine);
        if (std::string(machine) == "system-disk-1") {
            const disksim::Model model = LoadModel();
            std::string script = "select disk 1\r\n";
            for (const disksim::Partition& p : model.FindDisk(1)->partitions) {
                if (p.type == disksim::kTypeEfi)
                    script += "select par " + std::to_string(p.number) + "\r\ndelete par override\r\n";
            }
            ASSERT_THAT(Diskpart(script), ExitsWith(0));
        }
        const std::string before = DisksText(LoadModel());

        const obrin::test::LogTail log;
        for (int run = 0; run < 2; ++run) {
            EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(3));
            EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(3));
        }
        EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
        const std::vector<std::string> lines = log.NewLines();
        EXPECT_EQ(obrin::test::CountLinesWith(lines, "[ERROR]"), 4u);
        EXPECT_EQ(obrin::test::CountLinesWith(lines, "not a GPT disk with an EFI system partition"), 4u);
        const disksim::Model after = LoadModel();
        EXPECT_EQ(DisksText(after), before);
        EXPECT_FALSE(RecordHolds(L"InstallerRun"));
        EXPECT_TRUE(after.powerLog.empty()) << "hibernation untouched";
        EXPECT_EQ(ServiceState(), 0u);
    }
}

// What an install leaves: ANDROID of 10240 MB, then ASOS of 2048 MB, directly
// behind Windows (no partition between, less than a MiB free before each),
// Windows shrunk by exactly 12288 MB, every other partition as it was.
std::string Described(const disksim::Partition& p)
{
    return p.id + " at " + std::to_string(p.offsetSectors) + "+" + std::to_string(p.sizeSectors) + " " + p.type +
           " " + std::to_string(p.attributes) + " " + p.fileSystem + " \"" + p.label + "\" " + (p.letter ? p.letter : '-');
}

std::vector<std::string> DescribedExcept(const disksim::Disk& disk, const std::vector<std::string>& labels)
{
    std::vector<std::string> described;
    for (const disksim::Partition& p : disk.partitions) {
        if (std::find(labels.begin(), labels.end(), p.label) == labels.end())
            described.push_back(Described(p));
    }
    return described;
}

void ExpectInstallationBehindWindows(const disksim::Disk& original, const disksim::Disk& installed)
{
    const uint64_t mb = installed.SectorsPerMb();
    const auto& parts = installed.partitions;
    const auto windows = std::find_if(parts.begin(), parts.end(), [](const disksim::Partition& p) {
        return p.label == "Windows";
    });
    const disksim::Partition* windowsBefore = FindByLabel(original, "Windows");
    ASSERT_TRUE(windowsBefore != nullptr && parts.end() - windows > 2) << DiskText(installed);
    const disksim::Partition& android = windows[1];
    const disksim::Partition& asos = windows[2];
    EXPECT_EQ(windows->sizeSectors, windowsBefore->sizeSectors - 12288 * mb);
    EXPECT_EQ(android.type, disksim::kTypeAndroid);
    EXPECT_EQ(android.sizeSectors, 10240 * mb);
    EXPECT_LT(android.offsetSectors - windows->EndSector(), mb);
    EXPECT_EQ(asos.label, "ASOS");
    EXPECT_EQ(asos.sizeSectors, 2048 * mb);
    EXPECT_LT(asos.offsetSectors - android.EndSector(), mb);
    EXPECT_EQ(DescribedExcept(installed, {"Windows", "ANDROID", "ASOS"}), DescribedExcept(original, {"Windows"}));
}

// The layouts Windows setup makes, under both numbering rules: the new
// partitions come before Recovery, whose number moves with every create and
// delete, and Windows may end short of a MiB. An install puts the pair
// directly behind Windows; an uninstall or a rollback leaves the layout and
// every partition's files exactly as they were, Windows given back exactly
// what the shrink took (a 7-sector gap stays a gap); after a failed extend
// the USER partition takes exactly that space, never starting inside Windows.
TEST_F(InstallerLayouts, InstallAndRemovalTouchNothingElse)
{
    const struct {
        const char* machine;
        const char* numbering;
        const wchar_t* installFailure;
        DWORD installCode;
        bool uninstallExtendFails;
    } cases[] = {
        {"recovery-last", "disk-order", nullptr, 0, false},
        {"recovery-last", "disk-order", L"setid", 11, false},
        {"windows-off-grid", "disk-order", nullptr, 0, false},
        {"windows-off-grid", "stable", nullptr, 0, true},
        // The first extend fails with 4096 MB free behind Windows: ANDROID
        // would be larger than 10240 MB, so the install is undone.
        {"free-behind-windows", "disk-order", L"extend", 9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + ", " + c.numbering + ", install " + std::to_string(c.installCode));
        ResetMachine(c.machine, c.numbering);
        const disksim::Model original = LoadModel();
        const std::string originalFiles = DiskFiles();
        if (c.installFailure != nullptr) {
            ASSERT_THAT(Disksim(std::wstring(L"fail ") + c.installFailure), ExitsWith(0));
        }
        EXPECT_THAT(Installer(L"-install-dualos"), ExitsWith(c.installCode));
        if (c.installCode == 0) {
            ExpectInstallationBehindWindows(original.disks[0], LoadModel().disks[0]);
            if (c.uninstallExtendFails) {
                ASSERT_THAT(Disksim(L"fail extend"), ExitsWith(0));
            }
            EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(0));
        }
        const disksim::Model after = LoadModel();
        if (!c.uninstallExtendFails) {
            EXPECT_EQ(DisksText(after), DisksText(original)) << disksim::LayoutTable(after);
            EXPECT_EQ(DiskFiles(), originalFiles);
            continue;
        }
        const uint64_t mb = after.disks[0].SectorsPerMb();
        const disksim::Partition* windows = FindByLabel(after.disks[0], "Windows");
        const disksim::Partition* user = FindByLabel(after.disks[0], "USER");
        ASSERT_TRUE(windows != nullptr && user != nullptr) << disksim::LayoutTable(after);
        EXPECT_EQ(windows->sizeSectors, FindByLabel(original.disks[0], "Windows")->sizeSectors - 12288 * mb);
        EXPECT_GE(user->offsetSectors, windows->EndSector());
        EXPECT_LT(user->offsetSectors - windows->EndSector(), mb);
        EXPECT_EQ(user->sizeSectors, 12288 * mb);
        EXPECT_EQ(DescribedExcept(after.disks[0], {"Windows", "USER"}), DescribedExcept(original.disks[0], {"Windows"}));
    }
}

}  // namespace
