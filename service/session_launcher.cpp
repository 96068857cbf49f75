#include "service/session_launcher.h"

#include "common/log.h"
#include "service/launch_decisions.h"

#include <userenv.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

using obrin::UniqueHandle;

namespace {

struct WtsMemoryTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type memory) noexcept { WTSFreeMemory(memory); }
};
struct EnvironmentBlockTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type block) noexcept { DestroyEnvironmentBlock(block); }
};
using UniqueWtsMemory = obrin::UniqueResource<WtsMemoryTraits>;
using UniqueEnvironmentBlock = obrin::UniqueResource<EnvironmentBlockTraits>;

std::wstring ServiceDirectory()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return DirectoryOf(std::wstring(path, length < MAX_PATH ? length : 0));
}

// Creates the switcher process as the token's user; the error of the creation
// is left as the thread's last error.
bool CreateAsUser(HANDLE token, std::wstring& commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION& process)
{
    // The user's own environment, not the service's; should it fail, the
    // switcher inherits the service's environment instead.
    void* block = nullptr;
    UniqueEnvironmentBlock environment(CreateEnvironmentBlock(&block, token, FALSE) ? block : nullptr);
    const BOOL created = CreateProcessAsUserW(token, nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                              CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.get(),
                                              nullptr, &startup, &process);
    return created != FALSE;
}

// The fallback runs with this service's rights, so it keeps the default
// security of a new process (no security attributes): a NULL DACL would let
// any user open the process or thread and run code as the service.
bool CreateDetached(std::wstring& commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION& process)
{
    const BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                        nullptr, nullptr, &startup, &process);
    return created != FALSE;
}

}  // namespace

UniqueHandle GetCurrentUserToken() noexcept
{
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        GetLog().Print(LOG_ERROR, "GetCurrentUserToken", __LINE__, L"Fail to call WTSEnumerateSessions [Err=%u].\n",
                       GetLastError());
        return {};
    }
    UniqueWtsMemory sessionList(sessions);
    std::optional<std::uint32_t> active;
    try {
        std::vector<SessionEntry> entries;
        entries.reserve(count);
        for (DWORD i = 0; i < count; ++i)
            entries.push_back({sessions[i].SessionId, static_cast<int>(sessions[i].State)});
        active = FirstActiveSession(entries.data(), entries.size());
    } catch (...) {
        return {};
    }
    sessionList.reset();
    if (!active)
        return {};

    UniqueHandle userToken;
    if (!WTSQueryUserToken(*active, userToken.put())) {
        GetLog().Print(LOG_ERROR, "GetCurrentUserToken", __LINE__, L"Fail to call WTSQueryUserToken [Err=%u].\n",
                       GetLastError());
        return {};
    }
    UniqueHandle primary;
    if (!DuplicateTokenEx(userToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.put())) {
        GetLog().Print(LOG_ERROR, "GetCurrentUserToken", __LINE__, L"Fail to call DuplicateTokenEx [Err=%u].\n",
                       GetLastError());
        primary.reset();
    }
    return primary;
}

DWORD SetPowerState(const wchar_t* action, bool wait) noexcept
{
    return LaunchSwitcher(GetCurrentUserToken(), action, wait);
}

DWORD LaunchSwitcher(UniqueHandle token, const wchar_t* action, bool wait) noexcept
{
    std::wstring commandLine;
    try {
        commandLine = SwitcherCommandLine(ServiceDirectory(), action, !token);
    } catch (...) {
        GetLog().Print(LOG_ERROR, "SetPowerState", __LINE__, L"Fail to call CreateProcess [Token=%p] [Err=%u].\n",
                       token.get(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        return LAUNCH_FAILED;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const HANDLE tokenValue = token.get();
    const bool created = token ? CreateAsUser(token.get(), commandLine, startup, process)
                               : CreateDetached(commandLine, startup, process);
    const DWORD creationError = created ? ERROR_SUCCESS : GetLastError();
    token.reset();

    GetLog().Print(LOG_INFO, "SetPowerState", __LINE__, L"Launch(%s)\n", commandLine.c_str());
    if (!created) {
        GetLog().Print(LOG_ERROR, "SetPowerState", __LINE__, L"Fail to call CreateProcess [Token=%p] [Err=%u].\n",
                       tokenValue, creationError);
        return LAUNCH_FAILED;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (wait)
        WaitForSingleObject(processHandle.get(), INFINITE);
    return LAUNCH_STARTED;
}
