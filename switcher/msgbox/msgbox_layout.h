// The message box's decisions that need no window system: which language
// string labels each button, which buttons a type asks for, which icon,
// whether Escape may close it, and where the band and the buttons go on a
// screen of a given size.
#pragma once

#include "switcher/lang/lang_strings.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

// Slots of ButtonTextTable::Texts, in the table's order.
enum ButtonTextIndex : int {
    BUTTON_TEXT_OK,
    BUTTON_TEXT_CANCEL,
    BUTTON_TEXT_ABORT,
    BUTTON_TEXT_TRY,
    BUTTON_TEXT_RETRY,
    BUTTON_TEXT_IGNORE,
    BUTTON_TEXT_YES,
    BUTTON_TEXT_NO,
    BUTTON_TEXT_CONTINUE,
    BUTTON_TEXT_COUNT
};

// The language string each slot is filled from. The language keeps its nine
// button texts in another order (OK, Yes, No, Cancel, ...), so the two lists
// meet here only, pair by pair.
struct ButtonTextSource {
    ButtonTextIndex Field;
    LangStringSlot Slot;
};

inline constexpr ButtonTextSource BUTTON_TEXT_SOURCES[] = {
    {BUTTON_TEXT_OK, BTN_TEXT_OK},         {BUTTON_TEXT_CANCEL, BTN_TEXT_CANCEL},
    {BUTTON_TEXT_ABORT, BTN_TEXT_ABORT},   {BUTTON_TEXT_TRY, BTN_TEXT_TRY},
    {BUTTON_TEXT_RETRY, BTN_TEXT_RETRY},   {BUTTON_TEXT_IGNORE, BTN_TEXT_IGNORE},
    {BUTTON_TEXT_YES, BTN_TEXT_YES},       {BUTTON_TEXT_NO, BTN_TEXT_NO},
    {BUTTON_TEXT_CONTINUE, BTN_TEXT_CONTINUE},
};

// True when every slot of the table has one pair, in the table's order, and
// the pairs take every button text of the language once and nothing else.
constexpr bool ButtonTextSourcesMatch() noexcept
{
    constexpr std::string_view buttonKey = "BTN_TEXT_";
    if (std::size(BUTTON_TEXT_SOURCES) != BUTTON_TEXT_COUNT)
        return false;
    for (std::size_t i = 0; i < std::size(BUTTON_TEXT_SOURCES); ++i) {
        if (BUTTON_TEXT_SOURCES[i].Field != static_cast<int>(i) ||
            !std::string_view(g_LangStringKeys[BUTTON_TEXT_SOURCES[i].Slot]).starts_with(buttonKey))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (BUTTON_TEXT_SOURCES[j].Slot == BUTTON_TEXT_SOURCES[i].Slot)
                return false;
        }
    }
    std::size_t languageButtons = 0;
    for (const char* key : g_LangStringKeys)
        languageButtons += std::string_view(key).starts_with(buttonKey) ? 1 : 0;
    return languageButtons == BUTTON_TEXT_COUNT;
}
static_assert(ButtonTextSourcesMatch(), "the button text slots and the language's button texts have drifted apart");

constexpr int MSGBOX_MAX_BUTTONS = 3;

struct ButtonSpec {
    int Id;                   // IDOK, IDCANCEL, ...: what ShowMsgBox returns for it
    ButtonTextIndex TextIndex;
    unsigned User32StringId;  // the system's own text when no language table is loaded
};

struct ButtonSet {
    int Count;
    ButtonSpec Buttons[MSGBOX_MAX_BUTTONS];  // left to right
};

struct LayoutRect {
    int Left;
    int Top;
    int Right;
    int Bottom;
};

constexpr int MSGBOX_BUTTON_WIDTH = 90;
constexpr int MSGBOX_BUTTON_HEIGHT = 32;
constexpr int MSGBOX_BUTTON_STEP = 105;  // width plus the 15-pixel gap
constexpr int MSGBOX_MARGIN = 15;

// From the low four bits of the type.
[[nodiscard]] ButtonSet ButtonSetForType(uint32_t type) noexcept;

// The system icon resource id from bits 4 to 7 of the type, 0 for none.
[[nodiscard]] int IconIdForType(uint32_t type) noexcept;

// Escape ends (or un-presses) only boxes of types 0, 1, 3 and 6.
[[nodiscard]] bool EscapeAppliesToType(uint32_t type) noexcept;

// The band's height from the measured caption and text heights.
[[nodiscard]] int BandHeight(int captionHeight, int textHeight, int iconHeight) noexcept;

[[nodiscard]] int BandTop(int screenHeight, int bandHeight) noexcept;

// The rectangle of button `index` of `count` on a screen of width x height.
[[nodiscard]] LayoutRect ButtonRect(int index, int count, int width, int height, int bandHeight) noexcept;

// Where the caption is measured before the band height is known.
[[nodiscard]] LayoutRect MeasureRect(int width, int iconHeight) noexcept;

// The area the caption and the text may use inside the band: from a quarter of
// the width to the right-most button, inside the band's margins.
[[nodiscard]] LayoutRect TextArea(int width, int height, int bandHeight, int buttonCount) noexcept;

// The time-out timer's period; seconds beyond what a timer can hold wait as
// long as a timer can.
[[nodiscard]] uint32_t TimeoutPeriodMs(int timeoutSeconds) noexcept;

// LOCALE_FONTSIGNATURE's Unicode subset bit 123 (right-to-left layout), the
// 27th bit of its fourth 32-bit word.
[[nodiscard]] bool FontSignatureIsRightToLeft(const uint32_t (&unicodeSubsets)[4]) noexcept;
