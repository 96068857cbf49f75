#include "switcher/shutdown_notice.h"

#include "common/ownership.h"
#include "switcher/msgbox/msgbox.h"

#include <memory>
#include <new>
#include <string>

namespace {

// winlogon.exe lies only in the native system folder. On 64-bit Windows this
// 32-bit program's system32 is SysWOW64, which has none: it reaches the native
// one through Sysnative.
std::wstring WinlogonPath()
{
    BOOL wow64 = FALSE;
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64 || length == 0 || length >= MAX_PATH)
        return L"winlogon.exe";
    return std::wstring(windows, length) + L"\\Sysnative\\winlogon.exe";
}

}  // namespace

void ShowShutdownNotice(uint32_t showMsg) noexcept
{
    if (showMsg != 1)
        return;
    std::unique_ptr<wchar_t[]> caption;
    try {
        const obrin::UniqueModule winlogon(LoadLibraryExW(WinlogonPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (winlogon) {
            const wchar_t* resource = nullptr;
            const int length = LoadStringW(winlogon.get(), 2017, reinterpret_cast<LPWSTR>(&resource), 0);
            if (length > 0) {
                caption.reset(new (std::nothrow) wchar_t[length + 1]);
                if (caption && LoadStringW(winlogon.get(), 2017, caption.get(), length + 1) == 0)
                    caption.reset();
            }
        }
    } catch (...) {
        caption.reset();
    }
    MsgBoxState state;
    (void)ShowMsgBox(state, L"", caption ? caption.get() : L"", 0, 5);
}
