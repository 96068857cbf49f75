#include "switcher/power_transitions.h"

#include "common/log.h"
#include "common/ownership.h"
#include "switcher/shutdown_notice.h"

#include <powrprof.h>

namespace {

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

int NoticeThenExitWindows(const char* tag, uint32_t showMsg, UINT flags, const wchar_t* failed) noexcept
{
    if (!EnableShutdownPrivilege()) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, L"Fail to enable SE_SHUTDOWN_NAME priviledge [Err=%u].\n",
                       GetLastError());
        return 1;
    }
    ShowShutdownNotice(showMsg);
    if (!ExitWindowsEx(flags, PLANNED_SHUTDOWN)) {
        GetLog().Print(LOG_ERROR, tag, __LINE__, failed, GetLastError());
        return 1;
    }
    return 0;
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

int DoShutdown(uint32_t showMsg) noexcept
{
    return NoticeThenExitWindows("DoShutdown", showMsg, EWX_SHUTDOWN | EWX_FORCE, L"Fail to enter Shutdown [Err=%u].\n");
}

int DoReboot(uint32_t showMsg) noexcept
{
    return NoticeThenExitWindows("DoReboot", showMsg, EWX_REBOOT | EWX_FORCE, L"Fail to enter Reboot [Err=%u].\n");
}
