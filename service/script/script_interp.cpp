#include "service/script/script_interp.h"

#include <wbemidl.h>

#include <array>
#include <cstdint>
#include <new>
#include <vector>

#include "common/ownership.h"
#include "service/script/script_limits.h"
#include "service/script/script_policy.h"
#include "wmi/wmi_objects.h"

namespace obrin::script {

namespace {

// The one WMI connection, enumerator, object and method of a run. Declared in
// this order so they are destroyed as object, enumerator, method holder and
// connection last (its destructor balances the run's CoInitializeEx).
struct RunState {
    CWMIServices services;
    CWMIMethod method;
    CWMIEnumObject enumerator;
    CWMIObject object;
    std::size_t firmwareCalls = 0;
};

// Names a __PATH may carry for this machine.
std::vector<std::wstring> ReadLocalServerNames()
{
    std::vector<std::wstring> names{L"localhost"};
    for (const COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        wchar_t name[256];
        DWORD size = static_cast<DWORD>(std::size(name));
        if (GetComputerNameExW(format, name, &size))
            names.emplace_back(name, size);
    }
    return names;
}

bool IsLocalFirmwarePath(std::wstring_view path)
{
    // Read once per process: a new computer name takes effect only at the
    // next start, and reading the three names costs more than the rest of
    // the interpreter's own work for a script.
    static const std::vector<std::wstring> names = ReadLocalServerNames();
    return IsFirmwareObjectPath(path, names);
}

// The firmware call the method holder's in-parameters would make is one the
// switcher makes: read back as WMI stored them, after its own conversion of
// the texts the script put.
bool HoldsAllowedFirmwareCall(CWMIObject& inParams)
{
    DWORD code = 0;
    DWORD parameter = 0;
    return SUCCEEDED(inParams.GetUInt32(kFirmwareCodeParameter.data(), &code)) &&
           SUCCEEDED(inParams.GetUInt32(kFirmwareValueParameter.data(), &parameter)) &&
           IsAllowedFirmwareCall(code, parameter);
}

HRESULT PutTextProperties(CWMIObject& target, const ScriptAction& action, const ScriptVariables& variables)
{
    for (std::size_t i = 0; i < action.arguments.size(); i += 2) {
        const std::wstring name = SubstitutedArgument(action, i, variables);
        const std::wstring value = SubstitutedArgument(action, i + 1, variables);
        UniqueVariant text;
        text->bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        if (!text->bstrVal)
            throw std::bad_alloc();
        text->vt = VT_BSTR;
        const HRESULT hr = target.Put(name.c_str(), *text.get(), 0);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// A value that cannot be turned into text ends the action like a failed
// string allocation.
struct TextConversionFailed {};

HRESULT ReadTextProperties(CWMIObject& source, const ScriptAction& action, ScriptVariables& variables,
                           bool nullIsEmpty)
{
    for (std::size_t i = 0; i < action.arguments.size(); ++i) {
        const std::wstring name = SubstitutedArgument(action, i, variables);
        UniqueVariant value;
        const HRESULT hr = source.Get(name.c_str(), *value.get());
        if (FAILED(hr))
            return hr;
        std::wstring text;
        if (!(nullIsEmpty && value->vt == VT_NULL) && FAILED(VariantToText(*value.get(), text)))
            throw TextConversionFailed{};
        variables[name] = std::move(text);
    }
    return S_OK;
}

// Runs one action. jumpTarget receives the new index for a jump.
HRESULT RunAction(RunState& state, const ScriptAction& action, ScriptVariables& variables, HRESULT current,
                  std::int64_t& jumpTarget)
{
    const auto argument = [&](std::size_t index) { return SubstitutedArgument(action, index, variables); };
    switch (action.code) {
    case action::kSetVariable:
        variables[ArgumentText(action, 0)] = ArgumentText(action, 1);
        return S_OK;
    case action::kJump:
        jumpTarget = ArgumentToLong(argument(0));
        return S_OK;
    case action::kConnect: {
        const std::wstring wmiNamespace = argument(0);
        if (!IsFirmwareNamespace(wmiNamespace))
            return WBEM_E_ACCESS_DENIED;
        return state.services.ConnectServer(wmiNamespace.c_str(), ArgumentToLong(argument(1)));
    }
    case action::kSetProxyBlanket:
        return state.services.SetProxyBlanket(ArgumentToUnsignedLong(argument(0)), ArgumentToUnsignedLong(argument(1)),
                                              ArgumentToUnsignedLong(argument(2)));
    case action::kExecQuery: {
        const std::wstring query = argument(0);
        if (!IsFirmwareQuery(query))
            return WBEM_E_ACCESS_DENIED;
        return state.services.ExecQuery(query.c_str(), ArgumentToLong(argument(1)), state.enumerator);
    }
    case action::kGetObject: {
        const std::wstring path = argument(0);
        if (!IsLocalFirmwarePath(path))
            return WBEM_E_ACCESS_DENIED;
        return state.services.GetObject(path.c_str(), ArgumentToLong(argument(1)), state.object);
    }
    case action::kGetMethod: {
        const std::wstring className = argument(0);
        const std::wstring methodName = argument(1);
        if (!IsFirmwareMethod(className, methodName))
            return WBEM_E_ACCESS_DENIED;
        return state.services.GetMethod(className.c_str(), methodName.c_str(), state.method);
    }
    case action::kExecMethod: {
        const std::wstring path = argument(0);
        const BSTR methodName = state.method.Name();
        if (!IsLocalFirmwarePath(path) || !methodName ||
            !IsFirmwareMethod(kFirmwareClass, std::wstring_view(methodName, SysStringLen(methodName))) ||
            !HoldsAllowedFirmwareCall(state.method.InParams()))
            return WBEM_E_ACCESS_DENIED;
        if (state.firmwareCalls == kMaxFirmwareCalls)
            return WBEM_E_CALL_CANCELLED;
        ++state.firmwareCalls;
        return state.services.ExecMethod(path.c_str(), state.method, ArgumentToLong(argument(1)));
    }
    case action::kReleaseConnection:
        state.services.ReleaseInterface();
        return S_OK;
    case action::kNextObject:
        return state.enumerator.Next(ArgumentToLong(argument(0)), 1, &state.object);
    case action::kReleaseEnumerator:
        state.enumerator.ReleaseInterface();
        return S_OK;
    case action::kPutInParameters:
        return PutTextProperties(state.method.InParams(), action, variables);
    case action::kReadOutParameters:
        return ReadTextProperties(state.method.OutParams(), action, variables, false);
    case action::kClearMethod:
        state.method.Clear();
        return S_OK;
    case action::kPutProperties:
        return PutTextProperties(state.object, action, variables);
    case action::kReadProperties:
        return ReadTextProperties(state.object, action, variables, true);
    case action::kReleaseObject:
        state.object.ReleaseInterface();
        return S_OK;
    default:
        return current;
    }
}

void SetResultKeys(ScriptVariables& variables, HRESULT hr, std::int64_t index)
{
    variables[L"WMIS_HRESULT"] = std::to_wstring(static_cast<std::int32_t>(hr));
    variables[L"WMIS_ActionIndex"] = std::to_wstring(index);
}

}  // namespace

int RunScript(const ScriptActions& actions, ScriptVariables& variables, const std::atomic<bool>* stopRequested) noexcept
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        variables.clear();
        if (FAILED(init)) {
            // The run's connection would balance an initialisation that did
            // not happen; report why nothing ran instead.
            if (!actions.empty())
                SetResultKeys(variables, init, 0);
            return 1;
        }
        RunState state;
        HRESULT current = S_OK;
        std::size_t run = 0;
        const auto count = static_cast<std::int64_t>(actions.size());
        // A jump may lead anywhere: only indexes inside the script are run.
        for (std::int64_t index = 0; index >= 0 && index < count && SUCCEEDED(current); ++index) {
            if (run++ == kMaxActionsRun || (stopRequested && stopRequested->load(std::memory_order_relaxed))) {
                SetResultKeys(variables, WBEM_E_CALL_CANCELLED, index);
                break;
            }
            std::int64_t jumpTarget = index;
            try {
                current = RunAction(state, actions[static_cast<std::size_t>(index)], variables, current, jumpTarget);
            } catch (const std::bad_alloc&) {
                current = WBEM_E_INVALID_PARAMETER;
            } catch (const TextConversionFailed&) {
                current = WBEM_E_INVALID_PARAMETER;
            }
            index = jumpTarget;
            SetResultKeys(variables, current, index);
        }
    } catch (...) {
        // Only the result keys themselves could not be stored; the map keeps
        // what it has.
    }
    return 1;
}

std::wstring RunScriptToResults(const ScriptActions& actions, const std::atomic<bool>& stopRequested)
{
    ScriptVariables variables;
    RunScript(actions, variables, &stopRequested);
    return FormatResults(variables);
}

}  // namespace obrin::script
