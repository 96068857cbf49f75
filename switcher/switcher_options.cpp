#include "switcher/switcher_options.h"

#include <iterator>

namespace obrin::switcher {

namespace {

struct OptionWord {
    const wchar_t* Word;
    SwitcherAction Action;
};

constexpr OptionWord OPTION_WORDS[] = {
    {L"-s3", ACTION_S3},
    {L"-s4", ACTION_S4},
    {L"-s5", ACTION_S5},
    {L"-hybrid", ACTION_HYBRID},
    {L"-shutdown", ACTION_SHUTDOWN},
    {L"-reboot", ACTION_REBOOT},
    {L"-config", ACTION_CONFIG},
    {L"-taskbarpin", ACTION_TASKBAR_PIN},
    {L"-taskbarunpin", ACTION_TASKBAR_UNPIN},
    {L"-now", ACTION_SWITCH_NOW},
};

wchar_t FoldAscii(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// As _wcsicmp in the "C" locale: only A-Z fold.
bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b) noexcept
{
    for (; *a && *b; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
    }
    return *a == *b;
}

}  // namespace

SwitcherOptions ParseSwitcherOptions(const wchar_t* const* arguments, int count) noexcept
{
    SwitcherOptions options;
    for (int i = 0; i < count; ++i) {
        const wchar_t* argument = arguments[i] ? arguments[i] : L"";
        if (EqualIgnoringCase(argument, L"-nomsg")) {
            options.NoMsg = true;
            continue;
        }
        options.Action = ACTION_INVALID;
        for (const OptionWord& option : OPTION_WORDS) {
            if (EqualIgnoringCase(argument, option.Word)) {
                options.Action = option.Action;
                break;
            }
        }
    }
    return options;
}

}  // namespace obrin::switcher
