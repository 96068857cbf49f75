// Progress for the caller's window: the registered message
// "DUAL_OS_WPM_SETPOS" with a percentage in wParam, never waited for.
#pragma once

#include <windows.h>

void SetCallerWindow(HWND window) noexcept;
[[nodiscard]] UINT ProgressMessage() noexcept;
void SetProgress(unsigned position) noexcept;

// No progress is sent while one of these lives: work that the caller did not
// ask for (finishing an earlier run) must not move its progress bar.
class ProgressPause {
public:
    ProgressPause() noexcept;
    ~ProgressPause();
    ProgressPause(const ProgressPause&) = delete;
    ProgressPause& operator=(const ProgressPause&) = delete;

private:
    HWND m_window;
};
