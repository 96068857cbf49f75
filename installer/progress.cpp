#include "installer/progress.h"

namespace {

// Registered before the entry runs, as the caller expects the number to be
// the same one its own registration returned.
const UINT g_progressMessage = RegisterWindowMessageW(L"DUAL_OS_WPM_SETPOS");
HWND g_callerWindow = nullptr;

}  // namespace

void SetCallerWindow(HWND window) noexcept
{
    g_callerWindow = window;
}

UINT ProgressMessage() noexcept
{
    return g_progressMessage;
}

void SetProgress(unsigned position) noexcept
{
    if (IsWindow(g_callerWindow))
        SendNotifyMessageW(g_callerWindow, g_progressMessage, static_cast<WORD>(position), 0);
}

ProgressPause::ProgressPause() noexcept : m_window(g_callerWindow)
{
    g_callerWindow = nullptr;
}

ProgressPause::~ProgressPause()
{
    g_callerWindow = m_window;
}
