#include "switcher/client/notify_script.h"

namespace {

const std::wstring* Find(const obrin::script::ScriptVariables& reply, const wchar_t* key)
{
    const auto it = reply.find(key);
    return it != reply.end() ? &it->second : nullptr;
}

}  // namespace

std::wstring NotifyScriptText(uint32_t code)
{
    using obrin::script::BuildAction;
    namespace action = obrin::script::action;
    const obrin::script::ScriptActions actions = {
        BuildAction(action::kConnect, L"root\\wmi,0"),
        BuildAction(action::kSetProxyBlanket, L"4,3,0"),
        BuildAction(action::kExecQuery, L"Select * from DualOsMethod,16"),
        BuildAction(action::kNextObject, L"-1"),
        BuildAction(action::kReadProperties, L"__PATH"),
        BuildAction(action::kGetMethod, L"DualOsMethod,DualOSNotify"),
        BuildAction(action::kPutInParameters, L"NotificationCode," + std::to_wstring(code)),
        BuildAction(action::kPutInParameters, L"NotifycationParmeter,0"),
        BuildAction(action::kExecMethod, L"$(__PATH),0"),
        BuildAction(action::kReadOutParameters, L"NotifycationReturnValue"),
    };
    return obrin::script::WriteScript(actions);
}

NotifyReply ReadNotifyReply(const obrin::script::ScriptVariables& reply)
{
    NotifyReply outcome;
    if (const std::wstring* index = Find(reply, L"WMIS_ActionIndex"))
        outcome.actionIndex = *index;
    const std::wstring* hresult = Find(reply, L"WMIS_HRESULT");
    int32_t result = 0;
    if (!hresult || !obrin::script::ReadLong(*hresult, result))
        return outcome;
    outcome.result = result;
    if (result != 0)
        return outcome;

    // Callers act on the value, not on the result: a value that does not read
    // as a number must not turn into 0 ("ready") for them.
    const std::wstring* value = Find(reply, L"NotifycationReturnValue");
    if (!value || value->empty())
        return outcome;
    uint32_t returnValue = 0;
    if (obrin::script::ReadUnsignedLong(*value, returnValue))
        outcome.returnValue = returnValue;
    else
        outcome.result = kMalformedReply;
    return outcome;
}
