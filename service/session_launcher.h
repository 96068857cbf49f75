// Starts the switcher with one action word in the active user's session, or,
// without a user token, in the service's own session without messages.
#pragma once

#include "common/ownership.h"

#include <windows.h>

inline constexpr DWORD LAUNCH_STARTED = 0;
inline constexpr DWORD LAUNCH_FAILED = 6;

// A primary token of the first active session's user, or empty (logged
// unless simply no session is active).
[[nodiscard]] obrin::UniqueHandle GetCurrentUserToken() noexcept;

// Starts "<service directory>ObrinSwitcher.exe -<action>" as the active
// user; with wait, returns only after that process has ended. Returns
// LAUNCH_STARTED or LAUNCH_FAILED; callers go on either way.
DWORD SetPowerState(const wchar_t* action, bool wait) noexcept;

// SetPowerState after the token has been looked up: with a token the switcher
// runs as that user in the user's environment; without one it runs detached
// in this process's session with " -nomsg" appended.
DWORD LaunchSwitcher(obrin::UniqueHandle token, const wchar_t* action, bool wait) noexcept;
