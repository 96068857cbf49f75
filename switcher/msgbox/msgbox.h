// The switcher's own full-screen message box: a dimmed top-most background
// over the whole screen and, above it, a coloured band across the middle with
// the caption, the text, an icon and custom-drawn buttons.
#pragma once

#include "common/ownership.h"
#include "switcher/msgbox/msgbox_layout.h"

#include <windows.h>

#include <cstdint>

constexpr int BUTTON_TEXT_CHARS = 32;  // terminator included

// The button texts of the chosen language, filled once at start-up; every
// message box takes a copy when its state is set up.
struct ButtonTextTable {
    uint8_t Available;  // non-zero when a language section was found
    wchar_t Texts[BUTTON_TEXT_COUNT][BUTTON_TEXT_CHARS];
};

extern ButtonTextTable g_ButtonTextTable;

// The nine button texts of the loaded language, each cut to its field.
void FillButtonTextTable(const LangStrings& strings, ButtonTextTable& table) noexcept;

struct MsgBoxButton {
    int Id;
    RECT Rect;
    wchar_t Text[BUTTON_TEXT_CHARS];
};

// One message box's state; construct it right before ShowMsgBox. The windows
// reach it through their user data.
struct MsgBoxState {
    MsgBoxState() noexcept;
    MsgBoxState(const MsgBoxState&) = delete;
    MsgBoxState& operator=(const MsgBoxState&) = delete;

    HINSTANCE Instance;
    ATOM BackgroundClass = 0;
    ATOM MsgBoxClass = 0;
    HWND BackgroundWindow = nullptr;
    HWND MsgBoxWindow = nullptr;
    BOOL RightToLeft = FALSE;
    obrin::UniqueFont CaptionFont;
    obrin::UniqueFont TextFont;
    HICON Icon = nullptr;  // shared system icon: never destroyed
    int IconWidth = 0;
    int IconHeight = 0;
    COLORREF TextColour = RGB(255, 255, 255);
    COLORREF BandColour = RGB(31, 0, 104);
    COLORREF ButtonColour = RGB(70, 23, 180);
    COLORREF HoverColour = RGB(95, 55, 190);
    COLORREF PressedColour = RGB(255, 255, 255);
    BOOL ShowFocus = FALSE;
    const wchar_t* Text = nullptr;
    const wchar_t* Caption = nullptr;
    UINT Type = 0;
    int Timeout = -1;
    int ButtonCount = 1;
    int BandHeight = 0;
    int Result = IDOK;
    MsgBoxButton Buttons[MSGBOX_MAX_BUTTONS] = {};
    int FocusIndex = 0;
    int PressedIndex = -1;
    ButtonTextTable ButtonTexts;
};

constexpr UINT_PTR MSGBOX_TIMER_ID = 172;

// Shows the box and runs its message loop until a button, Escape (types 0, 1,
// 3 and 6) or the time-out ends it. Returns the chosen button's id, IDCANCEL
// for Escape, IDOK for the time-out, or -1 when the box could not be made.
// A negative time-out means none.
[[nodiscard]] int ShowMsgBox(MsgBoxState& state, const wchar_t* text, const wchar_t* caption, UINT type,
                             int timeoutSeconds) noexcept;

// Whether the user interface language lays text out from right to left.
[[nodiscard]] bool IsRightToLeftLanguage(LANGID language) noexcept;
