#include "switcher/switch_flow.h"

bool ReadyCheckPasses(uint32_t value) noexcept
{
    return value == 0;
}

bool ModeCheckPasses(uint32_t value) noexcept
{
    return (value & 0x80000000u) != 0 || (value & 0x40000000u) != 0 || (value & 0x3u) == 2;
}

bool EnableCheckPasses(uint32_t value) noexcept
{
    constexpr uint32_t required = 0x40000000u | 0x1u | 0x20u;
    return (value & required) == required;
}

bool ReadinessCheckPasses(uint32_t value) noexcept
{
    return (value >> 30) != 0 || (value & 0x8u) != 0;
}

namespace {

const wchar_t* Text(const LangStrings& strings, LangStringSlot slot) noexcept
{
    return strings.Strings[slot];
}

// The steps both flows share after their own start; -1 means "go on".
int ModeAndEnableChecks(SwitchEnvironment& environment, const LangStrings& strings) noexcept
{
    if (!ModeCheckPasses(environment.Query(CODE_MODE, PRESET_MODE))) {
        (void)environment.ShowMessage(Text(strings, OSSWITCHER_IDS_SWITCH_WITH_LEGACY), L"", MSGBOX_TYPE_LEGACY);
        return 1;
    }
    if (!EnableCheckPasses(environment.Query(CODE_ENABLE, PRESET_ENABLE)))
        return environment.RunConfig();
    return -1;
}

int ConfirmAndRequest(SwitchEnvironment& environment, uint32_t showMsg, const LangStrings& strings) noexcept
{
    if (showMsg >= 2) {
        const int answer = environment.ShowMessage(Text(strings, OSSWITCHER_IDS_SWITCH_CONTINUE), L"",
                                                   MSGBOX_TYPE_CONFIRMATION);
        if (answer == MSGBOX_RESULT_CANCEL)
            return 1;
    }
    return environment.Query(CODE_SWITCH, PRESET_SWITCH) == 0 ? 0 : 1;
}

}  // namespace

int DoSwitch(SwitchEnvironment& environment, uint32_t showMsg, const LangStrings& strings) noexcept
{
    if (!ReadyCheckPasses(environment.Query(CODE_READY, PRESET_READY)))
        return environment.RunConfig();
    if (const int exitCode = ModeAndEnableChecks(environment, strings); exitCode >= 0)
        return exitCode;
    if (!ReadinessCheckPasses(environment.Query(CODE_MODE, PRESET_MODE))) {
        (void)environment.ShowMessage(Text(strings, OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY), L"Warning",
                                      MSGBOX_TYPE_NOT_READY);
        return 1;
    }
    return ConfirmAndRequest(environment, showMsg, strings);
}

int DoSwitchNow(SwitchEnvironment& environment, uint32_t showMsg, const LangStrings& strings) noexcept
{
    if (!ReadyCheckPasses(environment.Query(CODE_READY, PRESET_READY)))
        return 1;
    if (const int exitCode = ModeAndEnableChecks(environment, strings); exitCode >= 0)
        return exitCode;
    return ConfirmAndRequest(environment, showMsg, strings);
}
