#include "switcher/msgbox/msgbox_layout.h"

namespace {

// Win32 values, spelled out so this file builds without <windows.h>.
constexpr int ID_OK = 1;
constexpr int ID_CANCEL = 2;
constexpr int ID_ABORT = 3;
constexpr int ID_RETRY = 4;
constexpr int ID_IGNORE = 5;
constexpr int ID_YES = 6;
constexpr int ID_NO = 7;
constexpr int ID_TRYAGAIN = 10;
constexpr int ID_CONTINUE = 11;

constexpr uint32_t USER_TIMER_LIMIT_MS = 0x7FFFFFFF;

}  // namespace

ButtonSet ButtonSetForType(uint32_t type) noexcept
{
    switch (type & 0xF) {
    case 1:
        return {2, {{ID_OK, BUTTON_TEXT_OK, 800}, {ID_CANCEL, BUTTON_TEXT_CANCEL, 801}}};
    case 2:
        return {3, {{ID_ABORT, BUTTON_TEXT_ABORT, 802}, {ID_RETRY, BUTTON_TEXT_RETRY, 803},
                    {ID_IGNORE, BUTTON_TEXT_IGNORE, 804}}};
    case 3:
        return {3, {{ID_YES, BUTTON_TEXT_YES, 805}, {ID_NO, BUTTON_TEXT_NO, 806},
                    {ID_CANCEL, BUTTON_TEXT_CANCEL, 801}}};
    case 4:
        return {2, {{ID_YES, BUTTON_TEXT_YES, 805}, {ID_NO, BUTTON_TEXT_NO, 806}}};
    case 6:
        return {3, {{ID_CANCEL, BUTTON_TEXT_CANCEL, 801}, {ID_TRYAGAIN, BUTTON_TEXT_TRY, 809},
                    {ID_CONTINUE, BUTTON_TEXT_CONTINUE, 810}}};
    default:
        return {1, {{ID_OK, BUTTON_TEXT_OK, 905}}};
    }
}

int IconIdForType(uint32_t type) noexcept
{
    switch (type & 0xF0) {
    case 0x10:
        return 32513;  // IDI_HAND
    case 0x20:
        return 32514;  // IDI_QUESTION
    case 0x30:
        return 32515;  // IDI_EXCLAMATION
    case 0x40:
        return 32516;  // IDI_ASTERISK
    default:
        return 0;
    }
}

bool EscapeAppliesToType(uint32_t type) noexcept
{
    const uint32_t buttons = type & 0xF;
    return buttons == 0 || buttons == 1 || buttons == 3 || buttons == 6;
}

int BandHeight(int captionHeight, int textHeight, int iconHeight) noexcept
{
    int height = 30 + captionHeight + 10 + textHeight + 10 + 32;
    if (height < iconHeight + 30)
        height = iconHeight + 30;
    return height;
}

int BandTop(int screenHeight, int bandHeight) noexcept
{
    return (screenHeight - bandHeight) / 2;
}

LayoutRect ButtonRect(int index, int count, int width, int height, int bandHeight) noexcept
{
    const int shift = (count - 1 - index) * MSGBOX_BUTTON_STEP;
    const int right = width * 3 / 4 - shift;
    const int bottom = BandTop(height, bandHeight) + bandHeight - MSGBOX_MARGIN;
    return {right - MSGBOX_BUTTON_WIDTH, bottom - MSGBOX_BUTTON_HEIGHT, right, bottom};
}

LayoutRect MeasureRect(int width, int iconHeight) noexcept
{
    return {0, 0, width / 2 - MSGBOX_BUTTON_STEP, iconHeight + 30};
}

LayoutRect TextArea(int width, int height, int bandHeight, int buttonCount) noexcept
{
    const int top = BandTop(height, bandHeight);
    const LayoutRect lastButton = ButtonRect(buttonCount - 1, buttonCount, width, height, bandHeight);
    return {width / 4, top + MSGBOX_MARGIN, lastButton.Left - MSGBOX_MARGIN, top + bandHeight - MSGBOX_MARGIN};
}

uint32_t TimeoutPeriodMs(int timeoutSeconds) noexcept
{
    const uint64_t period = static_cast<uint64_t>(timeoutSeconds) * 1000u;
    return period > USER_TIMER_LIMIT_MS ? USER_TIMER_LIMIT_MS : static_cast<uint32_t>(period);
}

bool FontSignatureIsRightToLeft(const uint32_t (&unicodeSubsets)[4]) noexcept
{
    return (unicodeSubsets[3] & (1u << 27)) != 0;
}
