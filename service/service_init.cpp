#include "service/service_init.h"

#include "common/log.h"
#include "common/ownership.h"
#include "common/registry_names.h"
#include "service/event_handlers.h"
#include "service/firmware_requests.h"
#include "service/script/script_interp.h"
#include "service/script/script_server.h"
#include "service/session_launcher.h"
#include "service/taskbar_choice.h"
#include "wmi/event_sinks.h"

namespace {

constexpr size_t CODE_NAME_CAPACITY = 1024;

}  // namespace

bool ReadCodeName(DWORD& size, wchar_t* buffer) noexcept
{
    obrin::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), OBRIN_CODENAME_VALUE, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                            &size) == ERROR_SUCCESS;
}

bool ServiceInit() noexcept
{
    CDualOSEventSink::SetHandler(HandleDualOSEvent);
    CPowerEventSink::SetHandler(HandlePowerEvent);

    HRESULT hr = RegisterDualOSEvent();
    if (FAILED(hr)) {
        GetLog().Print(LOG_ERROR, "ServiceInit", __LINE__, L"Register DualOsEvent fail [Err=%x].\n", hr);
        return false;
    }
    hr = RegisterPowerEvent();
    if (FAILED(hr)) {
        GetLog().Print(LOG_ERROR, "ServiceInit", __LINE__, L"Register Win32_PowerManagementEvent fail [Err=%x].\n",
                       hr);
        return false;
    }
    if (!obrin::script::StartScriptServer(obrin::script::RunScriptToResults)) {
        GetLog().Print(LOG_ERROR, "ServiceInit", __LINE__, L"Start named pipe server fail [Err=%x].\n",
                       GetLastError());
        return false;
    }

    wchar_t codeName[CODE_NAME_CAPACITY] = {};
    DWORD codeNameSize = sizeof(codeName);
    static_cast<void>(ReadCodeName(codeNameSize, codeName));
    const bool talvex = IsTalvexPlatform(codeName, CODE_NAME_CAPACITY);

    if (NotifyReady() != 0) {
        GetLog().Print(LOG_ERROR, "ServiceInit", __LINE__, L"Fail to notify BIOS ready.\n");
        return false;
    }
    // That platform keeps its taskbar entry as it is.
    if (talvex)
        return true;

    const bool pin = FirstCapabilityTestPasses(QueryCapabilities()) && SecondCapabilityTestPasses(QueryCapabilities());
    if (pin)
        static_cast<void>(SetPowerState(L"taskbarpin", true));
    else
        static_cast<void>(SetPowerState(L"taskbarunpin", false));
    return true;
}

void ServiceUninit(HANDLE stopEvent) noexcept
{
    // A failed cancel leaves that subscription in place; the stop goes on.
    static_cast<void>(UnregisterDualOSEvent());
    static_cast<void>(UnregisterPowerEvent());
    obrin::script::StopScriptServer();
    static_cast<void>(SetPowerState(L"taskbarunpin", true));
    SetEvent(stopEvent);
}
