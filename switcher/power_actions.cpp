#include "switcher/power_actions.h"

#include "common/log.h"
#include "common/ownership.h"
#include "switcher/msgbox/msgbox.h"

#include <objidl.h>
#include <powrprof.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>

namespace {

// first + second into out; false when it does not fit.
bool JoinPath(wchar_t (&out)[MAX_PATH], const wchar_t* first, const wchar_t* second) noexcept
{
    return wcscpy_s(out, first) == 0 && wcscat_s(out, second) == 0;
}

constexpr DWORD PLANNED_SHUTDOWN = SHTDN_REASON_FLAG_PLANNED;

enum class Capability { S3, S4, S5, FastS4 };

bool HasCapability(Capability capability) noexcept
{
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    // A failed call leaves the record zeroed: no capability at all.
    GetPwrCapabilities(&capabilities);
    switch (capability) {
    case Capability::S3:
        return capabilities.SystemS3 != FALSE;
    case Capability::S4:
        return capabilities.SystemS4 != FALSE;
    case Capability::S5:
        return capabilities.SystemS5 != FALSE;
    case Capability::FastS4:
        return capabilities.FastSystemS4 != FALSE;
    }
    return false;
}

// The shared order of the sleep, hibernate, power-off and hybrid actions.
// Each log line is written here for the action named by `tag`.
template <typename Transition>
int PowerTransition(const char* tag, Capability capability, const wchar_t* unsupported, const wchar_t* failed,
                    Transition transition) noexcept
{
    if (!HasCapability(capability)) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, unsupported, GetLastError());
        return 1;
    }
    if (!EnableShutdownPrivilege()) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, L"Fail to enable SE_SHUTDOWN_NAME priviledge [Err=%u].\n",
                       GetLastError());
        return 1;
    }
    if (!transition()) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, failed, GetLastError());
        return 1;
    }
    return 0;
}

int NoticeThenExitWindows(const char* tag, const SwitcherContext& context, UINT flags, const wchar_t* failed) noexcept
{
    if (!EnableShutdownPrivilege()) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, L"Fail to enable SE_SHUTDOWN_NAME priviledge [Err=%u].\n",
                       GetLastError());
        return 1;
    }
    ShowShutdownNotice(context.ShowMsg);
    if (!ExitWindowsEx(flags, PLANNED_SHUTDOWN)) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, failed, GetLastError());
        return 1;
    }
    return 0;
}

// The two taskbar options only create the shortcut and delete it again.
void CreateShortcut(const wchar_t* target, const wchar_t* shortcut) noexcept
{
    const obrin::ComInit com(COINIT_APARTMENTTHREADED);
    obrin::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return;
    (void)link->SetPath(target);
    (void)link->SetIconLocation(target, 0);
    obrin::ComPtr<IPersistFile> file;
    if (SUCCEEDED(link.As(file)))
        (void)file->Save(shortcut, TRUE);
}

void DeleteShortcut(const wchar_t* shortcut) noexcept
{
    const size_t length = wcslen(shortcut);
    // SHFileOperationW takes a list ended by two terminators.
    std::unique_ptr<wchar_t[]> from(new (std::nothrow) wchar_t[length + 2]);
    if (!from)
        return;
    wmemcpy(from.get(), shortcut, length);
    from[length] = L'\0';
    from[length + 1] = L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.get();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    (void)SHFileOperationW(&operation);
}

void TaskbarShortcut(const SwitcherContext& context) noexcept
{
    wchar_t image[MAX_PATH] = {};
    wchar_t temp[MAX_PATH] = {};
    wchar_t shortcut[MAX_PATH] = {};
    const DWORD tempLength = GetTempPathW(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH)
        return;
    if (!JoinPath(image, context.ProgramDirectory, L"ObrinSwitcher.exe") ||
        !JoinPath(shortcut, temp, L"ObrinSwitcher.lnk"))
        return;
    CreateShortcut(image, shortcut);
    DeleteShortcut(shortcut);
}

}  // namespace

BOOL EnableShutdownPrivilege() noexcept
{
    obrin::UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return FALSE;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        return FALSE;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

int DoS3() noexcept
{
    return PowerTransition("DoS3", Capability::S3, L"Sleep state S3 is not supported [Err=%u].\n",
                           L"Fail to enter S3 [Err=%u].\n", [] { return SetSuspendState(FALSE, FALSE, FALSE) != FALSE; });
}

int DoS4() noexcept
{
    return PowerTransition("DoS4", Capability::S4, L"Sleep state S4 is not supported [Err=%u].\n",
                           L"Fail to enter S4 [Err=%u].\n", [] { return SetSuspendState(TRUE, FALSE, FALSE) != FALSE; });
}

int DoS5() noexcept
{
    return PowerTransition("DoS5", Capability::S5, L"Sleep state S5 is not supported [Err=%u].\n",
                           L"Fail to enter S5 [Err=%u].\n",
                           [] { return ExitWindowsEx(EWX_POWEROFF | EWX_FORCE, PLANNED_SHUTDOWN) != FALSE; });
}

int DoHybridShutdown() noexcept
{
    return PowerTransition("DoHybridShutdown", Capability::FastS4, L"Sleep state Hybrid is not supported [Err=%u].\n",
                           L"Fail to enter Hybrid [Err=%u].\n",
                           [] { return ExitWindowsEx(EWX_HYBRID_SHUTDOWN | EWX_FORCE, PLANNED_SHUTDOWN) != FALSE; });
}

int DoShutdown(const SwitcherContext& context) noexcept
{
    return NoticeThenExitWindows("DoShutdown", context, EWX_SHUTDOWN | EWX_FORCE, L"Fail to enter Shutdown [Err=%u].\n");
}

int DoReboot(const SwitcherContext& context) noexcept
{
    return NoticeThenExitWindows("DoReboot", context, EWX_REBOOT | EWX_FORCE, L"Fail to enter Reboot [Err=%u].\n");
}

void ShowShutdownNotice(uint32_t showMsg) noexcept
{
    if (showMsg != 1)
        return;
    std::unique_ptr<wchar_t[]> caption;
    {
        const obrin::UniqueModule winlogon(LoadLibraryExW(L"winlogon.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (winlogon) {
            const wchar_t* resource = nullptr;
            const int length = LoadStringW(winlogon.get(), 2017, reinterpret_cast<LPWSTR>(&resource), 0);
            if (length > 0) {
                caption.reset(new (std::nothrow) wchar_t[length + 1]);
                if (caption && LoadStringW(winlogon.get(), 2017, caption.get(), length + 1) == 0)
                    caption.reset();
            }
        }
    }
    MsgBoxState state;
    (void)ShowMsgBox(state, L"", caption ? caption.get() : L"", 0, 5);
}

BOOL StartConfigTool(const wchar_t* toolPath) noexcept
{
    wchar_t drive[3] = {};
    wchar_t directory[256] = {};
    wchar_t workingDirectory[MAX_PATH] = {};
    const bool split = _wsplitpath_s(toolPath, drive, 3, directory, 256, nullptr, 0, nullptr, 0) == 0 &&
                       JoinPath(workingDirectory, drive, directory);

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = L"open";
    execute.lpFile = toolPath;
    // A folder too long to split leaves the tool in the switcher's own
    // working folder rather than in a cut-off one.
    execute.lpDirectory = split ? workingDirectory : nullptr;
    execute.nShow = SW_SHOWNORMAL;
    const BOOL started = ShellExecuteExW(&execute);
    // Not waited for: the tool runs on its own.
    const obrin::UniqueHandle process(started ? execute.hProcess : nullptr);
    return started;
}

int DoConfig(const SwitcherContext& context) noexcept
{
    wchar_t toolPath[MAX_PATH] = {};
    if (!JoinPath(toolPath, context.ProgramDirectory, L"ObrinConfigTool.exe"))
        return 1;
    return StartConfigTool(toolPath) ? 0 : 1;
}

void DoTaskbarPin(const SwitcherContext& context) noexcept
{
    TaskbarShortcut(context);
}

void DoTaskbarUnpin(const SwitcherContext& context) noexcept
{
    TaskbarShortcut(context);
}
