#include "switcher/shutdown_notice.h"

#include "common/ownership.h"
#include "switcher/msgbox/msgbox.h"

#include <memory>
#include <new>

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
