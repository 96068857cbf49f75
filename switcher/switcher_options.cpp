#include "switcher/switcher_options.h"

#include "common/case_fold.h"

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

}  // namespace

SwitcherOptions ParseSwitcherOptions(const wchar_t* const* arguments, int count) noexcept
{
    SwitcherOptions options;
    for (int i = 0; i < count; ++i) {
        const wchar_t* argument = arguments[i] ? arguments[i] : L"";
        if (obrin::EqualsNoCase(argument, L"-nomsg")) {
            options.NoMsg = true;
            continue;
        }
        options.Action = ACTION_INVALID;
        for (const OptionWord& option : OPTION_WORDS) {
            if (obrin::EqualsNoCase(argument, option.Word)) {
                options.Action = option.Action;
                break;
            }
        }
    }
    return options;
}
