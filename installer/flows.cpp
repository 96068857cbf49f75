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

AutoRunValue AllDrivesOff()
{
    const DWORD value = kAutoRunAllDrivesOff;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {true, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
}

template <typename Flow>
int WithAutoRunDisabled(Flow flow) noexcept
{
    std::optional<AutoRunValue> previous;
    try {
        previous = SetAutoRunPolicy(AllDrivesOff());
    } catch (...) {
        previous.reset();
    }
    const int result = flow();
    if (previous)
        (void)SetAutoRunPolicy(*previous);
    return result;
}

int WithHibernationOff(const InstallerPaths& paths) noexcept
{
    const bool hibernationAllowed = IsPwrHibernateAllowed() != FALSE;
    if (hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOffBatch, scripts::kHibernateOffText);
    const int result = WithAutoRunDisabled([&paths]() noexcept { return DoInstall(paths); });
    if (hibernationAllowed)
        (void)RunBatchFile(scripts::kHibernateOnBatch, scripts::kHibernateOnText);
    return result;
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

std::optional<AutoRunValue> SetAutoRunPolicy(const AutoRunValue& value) noexcept
{
    try {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
            return std::nullopt;
        AutoRunValue previous;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), kAutoRunValue, nullptr, &previous.type, nullptr, &size) == ERROR_SUCCESS) {
            previous.data.resize(size);
            if (RegQueryValueExW(key.get(), kAutoRunValue, nullptr, &previous.type, previous.data.data(), &size) !=
                ERROR_SUCCESS)
                return std::nullopt;
            previous.data.resize(size);
            previous.present = true;
        }
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

int DoInstall(const InstallerPaths& paths) noexcept
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

    if (Discover(info))
        (void)DoDeletePartition(info);
    return result;
}

int DoUninstall() noexcept
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
        return WithHibernationOff(paths);
    case InstallerMode::Uninstall:
        return WithAutoRunDisabled([]() noexcept { return DoUninstall(); });
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
