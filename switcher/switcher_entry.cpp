#include "switcher/switcher_entry.h"

#include "common/log.h"
#include "common/ownership.h"
#include "common/registry_names.h"
#include "switcher/client/dualos_client.h"
#include "switcher/config_tool.h"
#include "switcher/lang/lang_loader.h"
#include "switcher/msgbox/msgbox.h"
#include "switcher/power_transitions.h"
#include "switcher/switch_flow.h"
#include "switcher/taskbar_shortcut.h"

#include <shellapi.h>

namespace {

// The firmware through the service's pipe, the switcher's own box and the
// configuration tool beside it.
class SystemSwitchEnvironment final : public SwitchEnvironment {
public:
    explicit SystemSwitchEnvironment(const SwitcherContext& context) noexcept : m_context(context) {}

    uint32_t Query(uint32_t code, uint32_t preset) noexcept override
    {
        uint32_t value = preset;
        // A failure is logged by the call and leaves the preset standing.
        (void)DualOS_SendCommand(code, value);
        return value;
    }

    int ShowMessage(const wchar_t* text, const wchar_t* caption, uint32_t type) noexcept override
    {
        MsgBoxState state;
        return ShowMsgBox(state, text, caption, type, -1);
    }

    int RunConfig() noexcept override { return DoConfig(m_context.Folder); }

private:
    const SwitcherContext& m_context;
};

}  // namespace

uint32_t ReadShowMsg() noexcept
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, RRF_RT_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

SwitcherOptions GetParameters() noexcept
{
    int count = 0;
    const obrin::UniqueLocalMem arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments) {
        GetLog().Print(LOG_ERROR, "GetParameters", __LINE__, L"Load program options failed.\n");
        return {};
    }
    const auto* words = static_cast<const wchar_t* const*>(arguments.get());
    return count > 1 ? ParseSwitcherOptions(words + 1, count - 1) : SwitcherOptions{};
}

int Dispatch(SwitcherAction action, const SwitcherContext& context) noexcept
{
    switch (action) {
    case ACTION_S3:
        return DoS3();
    case ACTION_S4:
        return DoS4();
    case ACTION_S5:
        return DoS5();
    case ACTION_HYBRID:
        return DoHybridShutdown();
    case ACTION_SHUTDOWN:
        return DoShutdown(context.ShowMsg);
    case ACTION_REBOOT:
        return DoReboot(context.ShowMsg);
    case ACTION_TASKBAR_PIN:
        DoTaskbarPin(context.Folder);
        return 1;
    case ACTION_TASKBAR_UNPIN:
        DoTaskbarUnpin(context.Folder);
        return 1;
    case ACTION_CONFIG:
        return DoConfig(context.Folder);
    case ACTION_SWITCH: {
        SystemSwitchEnvironment environment(context);
        return DoSwitch(environment, context.ShowMsg, g_LangStrings);
    }
    case ACTION_SWITCH_NOW: {
        SystemSwitchEnvironment environment(context);
        return DoSwitchNow(environment, context.ShowMsg, g_LangStrings);
    }
    case ACTION_INVALID:
        break;
    }
    return 1;
}

int RunSwitcher(HINSTANCE instance) noexcept
{
    LoadLanguageStrings(GetSystemDefaultLCID());
    FillButtonTextTable(g_LangStrings, g_ButtonTextTable);

    SwitcherContext context = {};
    GetProgramDirectory(instance, context.Folder);
    context.ShowMsg = ReadShowMsg();
    const SwitcherOptions options = GetParameters();
    if (options.NoMsg)
        context.ShowMsg = 0;
    return Dispatch(options.Action, context);
}
