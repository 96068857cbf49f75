#include "service/service_init.h"

#include "common/log.h"
#include "common/ownership.h"
#include "common/registry_names.h"
#include "service/script/script_interp.h"
#include "service/script/script_server.h"
#include "service/service_logic.h"
#include "service/session_launcher.h"
#include "wmi/dualos_notify.h"
#include "wmi/event_sinks.h"

namespace {

constexpr DWORD CODE_READY = 0x11;
constexpr DWORD CODE_CAPABILITIES = 0x10;
constexpr size_t CODE_NAME_CAPACITY = 1024;

// Preset 1: a failed call reads as a refusal.
DWORD NotifyReady() noexcept
{
    DWORD answer = 1;
    static_cast<void>(DualOS_SendCommand(CODE_READY, answer));
    return answer;
}

// Preset 0: a failed call reads as no capability.
DWORD QueryCapabilities() noexcept
{
    DWORD flags = 0;
    static_cast<void>(DualOS_SendCommand(CODE_CAPABILITIES, flags));
    return flags;
}

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
    CDualOSEventSink::SetHandler(OnFirmwareEvent);
    CPowerEventSink::SetHandler(OnPowerEvent);

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

void OnFirmwareEvent(DWORD eventCode) noexcept
{
    GetLog().Print(LOG_INFO, "CDualOSEventSink::EventHandler", __LINE__, L"WMI Event=%x.\n", eventCode);
    const FirmwareEventReaction reaction = ReactionToFirmwareEvent(eventCode);
    switch (reaction.action) {
    case FirmwareEventAction::LaunchSwitcher:
        static_cast<void>(SetPowerState(reaction.actionWord, false));
        break;
    case FirmwareEventAction::BootTypeError:
        GetLog().Print(LOG_ERROR, "CDualOSEventSink::EventHandler", __LINE__, L"Notify Boot Type Error.\n");
        break;
    case FirmwareEventAction::None:
        break;
    }
}

void OnPowerEvent(WORD eventType) noexcept
{
    if (IsResumeEvent(eventType))
        static_cast<void>(NotifyReady());
}
