// Progress for the caller's window: the registered message
// "DUAL_OS_WPM_SETPOS" with a percentage in wParam, never waited for.
#pragma once

#include <windows.h>

void SetCallerWindow(HWND window) noexcept;
[[nodiscard]] UINT ProgressMessage() noexcept;
void SetProgress(unsigned position) noexcept;
