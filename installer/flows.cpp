#include "installer/flows.h"

#include "installer/discover.h"
#include "installer/options.h"
#include "installer/partition_ops.h"
#include "installer/progress.h"
#include "installer/runners.h"
#include "installer/scripts.h"

#include "common/log.h"
#include "common/ownership.h"
#include "common/winservice.h"
#include "wmi/dualos_notify.h"

#include <powrprof.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

using obrin::UniqueLocalMem;
using obrin::UniqueRegKey;

namespace {

constexpr wchar_t kServiceImage[] = L"ObrinService.exe";
constexpr wchar_t kPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";
constexpr DWORD kAutoRunAllDrivesOff = 0xFF;

constexpr DWORD kInstallQueryCode = 0x18;
constexpr DWORD kInstallQueryPreset = 0x40000000;
constexpr DWORD kUninstallNotifyCode = 0x13;
constexpr DWORD kUninstallNotifyParameter = 0x40000320;
constexpr DWORD kUninstallNotifyPreset = 1;

bool IsWow64() noexcept
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr)
        return false;
    const auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

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

// Free letters are checked before the service or the disk is touched, so a
// machine without enough of them is left exactly as it was.
bool EnoughFreeDriveLetters(size_t needed, const char* function) noexcept
{
    wchar_t letters[3] = {};
    const size_t found = GetFreeDriveLetters(letters, needed);
    if (found >= needed)
        return true;
    GetLog().Print(LOG_ERROR, function, __LINE__, L"free drive letters=%u, needed=%u\n", static_cast<unsigned>(found),
                   static_cast<unsigned>(needed));
    return false;
}

std::optional<AutoRunValue> ReadAutoRunValue(HKEY key)
{
    AutoRunValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key, kAutoRunValue, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    if (RegQueryValueExW(key, kAutoRunValue, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    value.present = true;
    return value;
}

AutoRunValue AllDrivesOff()
{
    const DWORD value = kAutoRunAllDrivesOff;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {true, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
}

// Runs a flow under its record: the settings it changes are noted before the
// first change and put back after it; the record goes unless the flow left
// work unfinished on the disk, which the next run then completes.
template <typename Flow>
int RunRecordedFlow(InstallerMode mode, bool switchesHibernation, Flow flow) noexcept
{
    RunRecord record;
    record.flow = mode;
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
    const int result = flow(unfinished);
    if (autoRun)
        (void)SetAutoRunPolicy(*autoRun);
    if (record.hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOnBatch, scripts::kHibernateOnText);
    if (!unfinished)
        RemoveRunRecord();
    return result;
}

// A run that was cut off left its record: its settings are put back and what
// it left on the disk is removed as an uninstall removes it. 0 when there was
// nothing to recover or it is done; the record stays until then.
int RecoverUnfinishedRun() noexcept
{
    const std::optional<RunRecord> record = ReadRunRecord();
    if (!record)
        return INSTALLER_RET_SUCCESS;
    GetLog().Print(LOG_INFO, "RecoverUnfinishedRun", __LINE__,
                   L"an earlier %s did not end: its settings are put back and its partitions removed\n",
                   record->flow == InstallerMode::Install ? L"install" : L"uninstall");
    (void)SetAutoRunPolicy(record->autoRun);
    if (record->hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOnBatch, scripts::kHibernateOnText);

    CDiskInfo info = {};
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    NoteCreatedPartitions(info, record->partitionsBefore);
    const ProgressPause quiet;
    if (const int removed = DoDeletePartition(info); removed != INSTALLER_RET_SUCCESS)
        return removed;
    RemoveRunRecord();
    return INSTALLER_RET_SUCCESS;
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
    if (const int recovered = RecoverUnfinishedRun(); recovered != INSTALLER_RET_SUCCESS)
        return recovered;
    // What is on the disk already decides before anything is changed.
    CDiskInfo info = {};
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    if (HasAndroidInstallation(info))
        return KeepInstallation(paths);
    if (info.androidFound == 1 || info.asosPresent == 1) {
        GetLog().Print(LOG_ERROR, "RunInstall", __LINE__,
                       L"partitions of an earlier installation are present; -uninstall-dualos removes them\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    return RunRecordedFlow(InstallerMode::Install, true,
                           [&paths](bool& unfinished) noexcept { return DoInstall(paths, unfinished); });
}

int RunUninstall() noexcept
{
    if (const int recovered = RecoverUnfinishedRun(); recovered != INSTALLER_RET_SUCCESS)
        return recovered;
    return RunRecordedFlow(InstallerMode::Uninstall, false,
                           [](bool& unfinished) noexcept { return DoUninstall(unfinished); });
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

}  // namespace

InstallerPaths ComputeInstallerPaths() noexcept
{
    InstallerPaths paths;
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    paths.moduleDirectory.assign(buffer, length < MAX_PATH ? length : 0);
    const size_t slash = paths.moduleDirectory.rfind(L'\\');
    paths.moduleDirectory.resize(slash == std::wstring::npos ? 0 : slash + 1);

    wchar_t programFiles[MAX_PATH] = {};
    const int folder = IsWow64() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES;
    if (SUCCEEDED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_DEFAULT, programFiles)))
        paths.vendorDirectory = std::wstring(programFiles) + L"\\";
    paths.vendorDirectory += L"Vantrel\\";
    paths.installDirectory = paths.vendorDirectory + L"VantrelObrin\\";
    return paths;
}

std::optional<AutoRunValue> ReadAutoRunPolicy() noexcept
{
    try {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
            return std::nullopt;
        return ReadAutoRunValue(key.get());
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<AutoRunValue> SetAutoRunPolicy(const AutoRunValue& value) noexcept
{
    try {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
            return std::nullopt;
        const std::optional<AutoRunValue> previous = ReadAutoRunValue(key.get());
        if (!previous)
            return std::nullopt;
        if (!value.present)
            RegDeleteValueW(key.get(), kAutoRunValue);
        else
            RegSetValueExW(key.get(), kAutoRunValue, 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        return previous;
    } catch (...) {
        return std::nullopt;
    }
}

int DoInstall(const InstallerPaths& paths, bool& unfinished) noexcept
{
    CDiskInfo info = {};
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    SetProgress(5);

    DWORD answer = kInstallQueryPreset;
    (void)DualOS_SendCommand(kInstallQueryCode, 0, answer);
    if (!FirmwareAllowsInstall(answer))
        return INSTALLER_RET_FIRMWARE_REFUSED;
    if (!EnoughFreeDriveLetters(3, "DoInstall"))
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    // An install without its payload would boot nothing: refused before
    // anything is changed.
    const std::wstring payload = std::wstring(info.systemDrive) + L"\\OEMSetup\\Vantrel\\Android\\";
    if (!PayloadIsComplete(payload))
        return INSTALLER_RET_COPY_FILES_FAIL;

    if (const int removed = RemoveExistingService(); removed != INSTALLER_RET_SUCCESS)
        return removed;

    int result = DoCreatePartition(info, payload);
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
    unfinished = !Discover(info) || DoDeletePartition(info) != INSTALLER_RET_SUCCESS;
    return result;
}

int DoUninstall(bool& unfinished) noexcept
{
    CDiskInfo info = {};
    if (!Discover(info))
        return INSTALLER_RET_DISK_INFO_FAIL;
    SetProgress(5);
    if (!EnoughFreeDriveLetters(1, "DoUninstall"))
        return INSTALLER_RET_DELETE_PARTITION_FAIL;

    if (const int removed = RemoveExistingService(); removed != INSTALLER_RET_SUCCESS)
        return removed;

    int result = DoDeletePartition(info);
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
    if (const std::optional<RunRecord> record = ReadRunRecord(); record && record->flow == InstallerMode::Install)
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

    switch (options.mode) {
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
