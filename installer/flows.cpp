#include "installer/flows.h"

#include "installer/autorun_policy.h"
#include "installer/discover.h"
#include "installer/options.h"
#include "installer/partition_ops.h"
#include "installer/progress.h"
#include "installer/runners.h"
#include "installer/script_folder.h"
#include "installer/scripts.h"

#include "common/log.h"
#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/winservice.h"
#include "wmi/dualos_notify.h"

#include <powrprof.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

using obrin::UniqueHandle;
using obrin::UniqueLocalMem;

namespace {

constexpr wchar_t kServiceImage[] = L"ObrinService.exe";
// Held by every run that reads or changes the disk (install, uninstall,
// check): a second such run exits at once.
constexpr wchar_t kInstallerMutexName[] = L"Global\\ObrinInstaller";

constexpr DWORD kInstallQueryCode = 0x18;
constexpr DWORD kInstallQueryPreset = 0x40000000;
constexpr DWORD kUninstallNotifyCode = 0x13;
constexpr DWORD kUninstallNotifyParameter = 0x40000320;
constexpr DWORD kUninstallNotifyPreset = 1;

// Stops a service that is not stopped, then deletes it; 0 when none is left.
int RemoveExistingService() noexcept
{
    CWinService& service = GetWinService();
    const DWORD state = service.QueryState();
    if (state == 0)
        return INSTALLER_RET_SUCCESS;
    if (state != SERVICE_STOPPED) {
        SERVICE_STATUS status = {};
        if (!service.Stop(&status))
            return INSTALLER_RET_STOP_SERVICE_FAIL;
    }
    if (!service.Delete())
        return INSTALLER_RET_DELETE_SERVICE_FAIL;
    return INSTALLER_RET_SUCCESS;
}

// Discovery, and only a disk the installer can work on: GPT, with its EFI
// partition. Anything else is refused before anything is changed, with no
// record left that a later run would try to recover.
int DiscoverUsableSystemDisk(CDiskInfo& info, const char* function) noexcept
{
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    if (IsUsableSystemDisk(info))
        return INSTALLER_RET_SUCCESS;
    GetLog().Print(LOG_ERROR, function, __LINE__,
                   L"INSTALLER_RET_DISK_INFO_FAIL the system disk %s is not a GPT disk with an EFI system partition; "
                   L"nothing was changed\n",
                   info.diskDevicePath);
    return INSTALLER_RET_DISK_INFO_FAIL;
}

void PutSettingsBack(const RunRecord& record) noexcept
{
    (void)SetAutoRunPolicy(record.autoRun);
    if (record.hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOnBatch, scripts::kHibernateOnText);
}

// Runs a flow under its record: the settings it changes are noted before the
// first change and put back after it. Once the flow has ended the record is
// marked finished before the settings go back, so that a run cut off then
// only puts them back; the record goes unless the flow left work unfinished
// on the disk, which the next run then completes.
template <typename Flow>
int RunRecordedFlow(InstallerMode mode, bool switchesHibernation, const DiskIdentity& disk, Flow flow) noexcept
{
    RunRecord record;
    record.flow = mode;
    record.disk = disk;
    const std::optional<AutoRunValue> autoRun = ReadAutoRunPolicy();
    if (autoRun)
        record.autoRun = *autoRun;
    record.hibernationAllowed = switchesHibernation && IsPwrHibernateAllowed() != FALSE;
    if (!WriteRunRecord(record))
        GetLog().Print(LOG_ERROR, "RunRecordedFlow", __LINE__, L"the installer's record could not be written [Err=%u]\n",
                       GetLastError());

    if (record.hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOffBatch, scripts::kHibernateOffText);
    if (autoRun)
        (void)SetAutoRunPolicy(AllDrivesOff());
    bool unfinished = false;
    const int result = flow(record, unfinished);
    if (!unfinished) {
        record.finished = true;
        (void)UpdateRunRecord(record);
    }
    if (autoRun)
        (void)SetAutoRunPolicy(*autoRun);
    if (record.hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOnBatch, scripts::kHibernateOnText);
    if (!unfinished)
        RemoveRunRecord();
    return result;
}

// A run that was cut off left its record. Marked finished, only its settings
// are put back. Otherwise what it left on the disk is removed as an
// uninstall removes it, but only partitions the record proves its own;
// anything else found in their place stops this run before any change with
// refusedCode, and the record stays. 0 when there was nothing to recover or
// it is done (info discovered again then).
int RecoverUnfinishedRun(CDiskInfo& info, int refusedCode) noexcept
{
    try {
        std::optional<RunRecord> record = ReadRunRecord();
        if (!record)
            return INSTALLER_RET_SUCCESS;
        const wchar_t* flow = record->flow == InstallerMode::Install ? L"install" : L"uninstall";
        if (record->finished) {
            GetLog().Print(LOG_INFO, "RecoverUnfinishedRun", __LINE__,
                           L"an earlier %s ended before its settings were put back: they are put back now\n", flow);
            PutSettingsBack(*record);
            RemoveRunRecord();
            return INSTALLER_RET_SUCCESS;
        }

        std::vector<PartitionIdentity> own;
        std::wstring mismatch;
        if (!ProveOwnPartitions(info, *record, own, mismatch)) {
            GetLog().Print(LOG_ERROR, "RecoverUnfinishedRun", __LINE__,
                           L"an earlier %s did not end, and %s: nothing was changed. Put the disk back as that run "
                           L"left it, or delete the value %s under HKLM\\%s to drop its record\n",
                           flow, mismatch.c_str(), kRecordFlowValue, OBRIN_REGISTRY_KEY);
            return refusedCode;
        }
        if (!TakeFreeDriveLetters(info, 1, "RecoverUnfinishedRun"))
            return INSTALLER_RET_DELETE_PARTITION_FAIL;
        GetLog().Print(LOG_INFO, "RecoverUnfinishedRun", __LINE__,
                       L"an earlier %s did not end: its settings are put back and its partitions removed\n", flow);
        PutSettingsBack(*record);

        // From here the removal acts on identities, also when it is cut off.
        record->partitions = own;
        NoteSpaceOwedToWindows(info, *record);
        (void)UpdateRunRecord(*record);
        const ProgressPause quiet;
        if (const int removed = DoDeletePartition(info, *record); removed != INSTALLER_RET_SUCCESS)
            return removed;
        RemoveRunRecord();
        return Discover(info) ? INSTALLER_RET_SUCCESS : INSTALLER_RET_DISK_INFO_FAIL;
    } catch (...) {
        return refusedCode;
    }
}

// A finished installation is kept as it is, with its data: only the service
// is registered and started when it is not running.
int KeepInstallation(const InstallerPaths& paths) noexcept
{
    CWinService& service = GetWinService();
    const DWORD state = service.QueryState();
    if (state == SERVICE_RUNNING)
        return INSTALLER_RET_SUCCESS;
    const bool registered = state != 0;
    if (!registered && !service.Create((paths.installDirectory + kServiceImage).c_str()))
        return INSTALLER_RET_CREATE_SERVICE_FAIL;
    SERVICE_STATUS status = {};
    if (service.Start(&status))
        return INSTALLER_RET_SUCCESS;
    if (!registered)
        (void)service.Delete();
    return INSTALLER_RET_START_SERVICE_FAIL;
}

int RunInstall(const InstallerPaths& paths) noexcept
{
    CDiskInfo info = {};
    if (const int usable = DiscoverUsableSystemDisk(info, "RunInstall"); usable != INSTALLER_RET_SUCCESS)
        return usable;
    if (const int recovered = RecoverUnfinishedRun(info, INSTALLER_RET_INIT_PARTITION_FAIL);
        recovered != INSTALLER_RET_SUCCESS)
        return recovered;
    // What is on the disk already decides before anything is changed.
    if (HasAndroidInstallation(info))
        return KeepInstallation(paths);
    if (info.androidFound == 1) {
        GetLog().Print(LOG_ERROR, "RunInstall", __LINE__,
                       L"partitions of an earlier installation are present; -uninstall-dualos removes them\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    // Where the create script would make ANDROID or ASOS away from Windows,
    // the install could only be rolled back: refused before Windows shrinks.
    const uint64_t elsewhere = LargestFreeExtentAwayFrom(info.layout, *info.layout.FindNumber(info.windowsPartition));
    if (elsewhere >= kAsosBytes) {
        GetLog().Print(LOG_ERROR, "RunInstall", __LINE__,
                       L"INSTALLER_RET_INIT_PARTITION_FAIL %u MB lie free away from Windows on the system disk, where "
                       L"diskpart would make the new partitions instead of directly behind Windows; nothing was "
                       L"changed. Make that space a partition, or smaller than 2048 MB, and run the install again\n",
                       static_cast<unsigned>(elsewhere / kMiB));
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    return RunRecordedFlow(InstallerMode::Install, true, info.layout.disk,
                           [&paths](RunRecord& record, bool& unfinished) noexcept {
                               return DoInstall(paths, record, unfinished);
                           });
}

int RunUninstall() noexcept
{
    CDiskInfo info = {};
    if (const int usable = DiscoverUsableSystemDisk(info, "RunUninstall"); usable != INSTALLER_RET_SUCCESS)
        return usable;
    if (const int recovered = RecoverUnfinishedRun(info, INSTALLER_RET_DELETE_PARTITION_FAIL);
        recovered != INSTALLER_RET_SUCCESS)
        return recovered;
    return RunRecordedFlow(InstallerMode::Uninstall, false, info.layout.disk,
                           [](RunRecord& record, bool& unfinished) noexcept { return DoUninstall(record, unfinished); });
}

// Undoes what a failed install changed on the disk; true when all of it went.
bool RollBack(CDiskInfo& info, RunRecord& record) noexcept
{
    try {
        std::vector<PartitionIdentity> own;
        std::wstring mismatch;
        if (!Discover(info) || !TakeFreeDriveLetters(info, 1, "DoInstall"))
            return false;
        if (!ProveOwnPartitions(info, record, own, mismatch)) {
            GetLog().Print(LOG_ERROR, "DoInstall", __LINE__, L"no rollback: %s\n", mismatch.c_str());
            return false;
        }
        record.partitions = own;
        return DoDeletePartition(info, record) == INSTALLER_RET_SUCCESS;
    } catch (...) {
        return false;
    }
}

InstallerOptions GetParameters() noexcept
{
    InstallerOptions options;
    int count = 0;
    UniqueLocalMem argvOwner(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argvOwner) {
        GetLog().Print(LOG_ERROR, "GetParameters", __LINE__, L"Load program options failed.\n");
        return options;
    }
    wchar_t** argv = static_cast<wchar_t**>(argvOwner.get());
    std::vector<std::wstring> arguments;
    for (int i = 1; i < count; ++i)
        arguments.emplace_back(argv[i]);
    ParseInstallerArguments(arguments, options);
    return options;
}

int RunMode(InstallerMode mode, const InstallerPaths& paths) noexcept
{
    switch (mode) {
    case InstallerMode::Install:
        return RunInstall(paths);
    case InstallerMode::Uninstall:
        return RunUninstall();
    case InstallerMode::ServiceStart:
        return DoStartService(paths);
    case InstallerMode::ServiceRemove:
        return DoRemoveService();
    case InstallerMode::Check:
        return DoCheck();
    case InstallerMode::None:
        break;
    }
    return INSTALLER_RET_NO_OPTION;
}

}  // namespace

int DoInstall(const InstallerPaths& paths, RunRecord& record, bool& unfinished) noexcept
{
    CDiskInfo info = {};
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    SetProgress(5);

    DWORD answer = kInstallQueryPreset;
    (void)DualOS_SendCommand(kInstallQueryCode, 0, answer);
    if (!FirmwareAllowsInstall(answer))
        return INSTALLER_RET_FIRMWARE_REFUSED;
    // Letters, payload and boot folders are checked before the service or
    // the disk is touched: a machine that fails them is left as it was.
    if (!TakeFreeDriveLetters(info, 3, "DoInstall"))
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    const std::wstring payload = std::wstring(info.systemDrive) + L"\\OEMSetup\\Vantrel\\Android\\";
    if (!PayloadIsComplete(payload))
        return INSTALLER_RET_COPY_FILES_FAIL;
    if (const int checked = CheckBootFoldersHoldOnlyOurFiles(info); checked != INSTALLER_RET_SUCCESS)
        return checked;

    if (const int removed = RemoveExistingService(); removed != INSTALLER_RET_SUCCESS)
        return removed;

    int result = DoCreatePartition(info, payload, record);
    if (result == INSTALLER_RET_SUCCESS) {
        CWinService& service = GetWinService();
        const std::wstring image = paths.installDirectory + kServiceImage;
        if (!service.Create(image.c_str())) {
            result = INSTALLER_RET_CREATE_SERVICE_FAIL;
        } else {
            SERVICE_STATUS status = {};
            if (service.Start(&status))
                return INSTALLER_RET_SUCCESS;
            result = INSTALLER_RET_START_SERVICE_FAIL;
            (void)service.Delete();
        }
    }
    // A rollback that could not remove everything leaves the run unfinished.
    unfinished = !RollBack(info, record);
    return result;
}

int DoUninstall(RunRecord& record, bool& unfinished) noexcept
{
    CDiskInfo info = {};
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    SetProgress(5);
    if (!TakeFreeDriveLetters(info, 1, "DoUninstall"))
        return INSTALLER_RET_DELETE_PARTITION_FAIL;

    if (const int removed = RemoveExistingService(); removed != INSTALLER_RET_SUCCESS)
        return removed;

    // The installation's partitions go by their identity, noted first, so
    // that a run cut off between two deletes is finished on exactly them.
    std::vector<PartitionIdentity> own;
    std::wstring mismatch;
    (void)ProveOwnPartitions(info, record, own, mismatch);
    record.partitions = own;
    NoteSpaceOwedToWindows(info, record);
    if (!UpdateRunRecord(record)) {
        GetLog().Print(LOG_ERROR, "DoUninstall", __LINE__,
                       L"INSTALLER_RET_DELETE_PARTITION_FAIL the installer's record could not be updated [Err=%u]\n",
                       GetLastError());
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    }
    int result = DoDeletePartition(info, record);
    unfinished = result != INSTALLER_RET_SUCCESS;
    if (result == INSTALLER_RET_SUCCESS) {
        DWORD answer = kUninstallNotifyPreset;
        (void)DualOS_SendCommand(kUninstallNotifyCode, kUninstallNotifyParameter, answer);
        if (FirmwareRejectsUninstall(answer))
            result = INSTALLER_RET_DISK_INFO_FAIL;
    }
    return result;
}

int DoStartService(const InstallerPaths& paths) noexcept
{
    CWinService& service = GetWinService();
    const std::wstring image = paths.moduleDirectory + kServiceImage;
    SERVICE_STATUS status = {};
    (void)service.Stop(&status);
    (void)service.Delete();
    if (!service.Create(image.c_str()))
        return INSTALLER_RET_CREATE_SERVICE_FAIL;
    status = {};
    if (!service.Start(&status))
        return INSTALLER_RET_START_SERVICE_FAIL;
    return INSTALLER_RET_SUCCESS;
}

int DoRemoveService() noexcept
{
    CWinService& service = GetWinService();
    SERVICE_STATUS status = {};
    (void)service.Stop(&status);
    if (!service.Delete())
        return INSTALLER_RET_DELETE_SERVICE_FAIL;
    return INSTALLER_RET_SUCCESS;
}

int DoCheck() noexcept
{
    // A half-done install is no installation, whatever its partitions say.
    if (const std::optional<RunRecord> record = ReadRunRecord();
        record && record->flow == InstallerMode::Install && !record->finished)
        return INSTALLER_RET_NOT_INSTALLED;
    CDiskInfo info = {};
    (void)Discover(info);
    return HasAndroidInstallation(info) ? INSTALLER_RET_SUCCESS : INSTALLER_RET_NOT_INSTALLED;
}

int RunInstaller() noexcept
{
    const InstallerPaths paths = ComputeInstallerPaths();
    const InstallerOptions options = GetParameters();
    SetCallerWindow(reinterpret_cast<HWND>(options.callerWindow));
    const InstallerMode mode = options.mode;
    if (mode != InstallerMode::Install && mode != InstallerMode::Uninstall && mode != InstallerMode::Check)
        return RunMode(mode, paths);

    // One run at a time reads and changes the disk and the record: a second
    // one never takes the first one's live record for a dead run's.
    SetLastError(ERROR_SUCCESS);
    UniqueHandle running(CreateMutexW(nullptr, FALSE, kInstallerMutexName));
    const DWORD error = GetLastError();
    if (!running || error == ERROR_ALREADY_EXISTS) {
        GetLog().Print(LOG_ERROR, "RunInstaller", __LINE__,
                       L"INSTALLER_RET_ALREADY_RUNNING another installer run is working on the disk; nothing was "
                       L"done, run this again once it has ended [Err=%u]\n",
                       error);
        return INSTALLER_RET_ALREADY_RUNNING;
    }
    if (mode == InstallerMode::Check)
        return RunMode(mode, paths);
    const CScriptFolder scripts;
    if (!scripts.valid())
        return mode == InstallerMode::Install ? INSTALLER_RET_EXTEND_PARTITION_FAIL
                                              : INSTALLER_RET_DELETE_PARTITION_FAIL;
    return RunMode(mode, paths);
}
