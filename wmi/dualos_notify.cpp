#include "wmi/dualos_notify.h"

#include <string>

#include "common/log.h"
#include "wmi/wmi_objects.h"

namespace {

constexpr char kTag[] = "DualOS_SendCommand";

void LogStepFailure(int line, const wchar_t* format, HRESULT hr) noexcept
{
    GetLog().Print(LOG_ERROR, kTag, line, format, static_cast<unsigned>(hr));
}

// Steps 2 to 11 of the call; the first failing step is logged and ends it.
[[nodiscard]] HRESULT CallDualOSNotify(CWMIServices& services, CWMIEnumObject& instances, CWMIObject& instance,
                                       CWMIMethod& method, DWORD code, DWORD parameter, DWORD& answer) noexcept
{
    HRESULT hr = services.ConnectServer(L"root\\wmi", 0);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIServices::ConnectServer(root\\wmi):0x%08x\n", hr);
        return hr;
    }
    hr = services.SetProxyBlanket(RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__,
                       L"CWMIServices::SetProxyBlanket(RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, "
                       L"EOAC_NONE):0x%08x\n",
                       hr);
        return hr;
    }
    hr = services.ExecQuery(L"Select * from DualOsMethod", WBEM_FLAG_RETURN_IMMEDIATELY, instances);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIServices::ExecQuery(Select * from DualOsMethod):0x%08x\n", hr);
        return hr;
    }
    // WBEM_S_FALSE (no instance) is not a failure here: the empty object
    // makes the next step fail with WBEM_E_FAILED.
    hr = instances.Next(WBEM_INFINITE, 1, &instance);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIEnumObject::Next(WBEM_INFINITE, 1):0x%08x\n", hr);
        return hr;
    }
    std::wstring path;
    hr = instance.GetString(L"__PATH", &path);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIObject::GetString(__PATH):0x%08x\n", hr);
        return hr;
    }
    hr = services.GetMethod(L"DualOsMethod", L"DualOSNotify", method);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIServices::GetMethod(DualOsMethod, DualOSNotify):0x%08x\n", hr);
        return hr;
    }
    hr = method.PutParam(WMIParamSet::In, L"NotificationCode", code);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIMethod::PutParam(IN, NotificationCode):0x%08x\n", hr);
        return hr;
    }
    hr = method.PutParam(WMIParamSet::In, L"NotifycationParmeter", parameter);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIMethod::PutParam(IN, NotifycationParmeter):0x%08x\n", hr);
        return hr;
    }
    hr = services.ExecMethod(path.c_str(), method, 0);
    if (FAILED(hr)) {
        LogStepFailure(__LINE__, L"CWMIServices::ExecMethod():0x%08x\n", hr);
        return hr;
    }
    hr = method.GetParam(WMIParamSet::Out, L"NotifycationReturnValue", &answer);
    if (FAILED(hr))
        LogStepFailure(__LINE__, L"CWMIMethod::GetParam(OUT, NotificationReturnValue):0x%08x\n", hr);
    return hr;
}

}  // namespace

HRESULT DualOS_SendCommand(DWORD code, DWORD parameter, DWORD& returnValue) noexcept
{
    const HRESULT comInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Declared in this order so that they are destroyed in reverse, the
    // connection last (its destructor ends this thread's COM use).
    CWMIServices services(SUCCEEDED(comInit));
    CWMIEnumObject instances;
    CWMIObject instance;
    CWMIMethod method;

    DWORD answer = 0;
    const HRESULT hr = CallDualOSNotify(services, instances, instance, method, code, parameter, answer);
    if (hr == S_OK) {
        returnValue = answer;
        GetLog().Print(LOG_INFO, kTag, __LINE__, L"0x%08x = DualOSNotify(0x%08x, 0x%08x).\n", answer, code,
                       parameter);
    } else {
        GetLog().Print(LOG_ERROR, kTag, __LINE__, L"[hr=0x%08x] DualOSNotify(0x%08x, 0x%08x).\n",
                       static_cast<unsigned>(hr), code, parameter);
    }
    return hr;
}

HRESULT DualOS_SendCommand(DWORD code, DWORD& returnValue) noexcept
{
    return DualOS_SendCommand(code, 0, returnValue);
}
