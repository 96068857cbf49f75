#include "wmi/event_sinks.h"

#include <atomic>

namespace {

std::atomic<CDualOSEventSink::Handler> g_dualOSEventHandler{nullptr};
std::atomic<CPowerEventSink::Handler> g_powerEventHandler{nullptr};

// Hands the event's integer property to the handler set, if any. An event
// without it is passed over; WMI hears success either way, so the
// subscription stays.
template <typename Value>
[[nodiscard]] HRESULT DeliverProperty(CWMIObject& event, HRESULT (CWMIObject::*get)(const wchar_t*, Value*) noexcept,
                        const wchar_t* name, const std::atomic<void (*)(Value)>& handlerSlot) noexcept
{
    Value value = 0;
    if (FAILED((event.*get)(name, &value)))
        return WBEM_S_NO_ERROR;
    if (const auto handler = handlerSlot.load())
        handler(value);
    return WBEM_S_NO_ERROR;
}

}  // namespace

HRESULT CWMIEventSink::Indicate(LONG count, IWbemClassObject** objects) noexcept
{
    if (count > 0 && !objects)
        return WBEM_E_INVALID_PARAMETER;
    HRESULT result = WBEM_S_NO_ERROR;
    // The objects stay WMI's: each is lent to the wrapper without a reference
    // and taken back without a release.
    CWMIObject event;
    for (LONG index = 0; index < count; ++index) {
        event.Attach(objects[index]);
        result = EventHandler(event);
        static_cast<void>(event.Detach());
        if (FAILED(result))
            break;
    }
    return result;
}

HRESULT CWMIEventSink::SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) noexcept
{
    return WBEM_S_NO_ERROR;
}

void CDualOSEventSink::SetHandler(Handler handler) noexcept
{
    g_dualOSEventHandler.store(handler);
}

// The service's handler (HandleDualOSEvent, service/event_handlers.cpp) logs
// and acts under this method's name.
HRESULT CDualOSEventSink::EventHandler(CWMIObject& event) noexcept
{
    return DeliverProperty(event, &CWMIObject::GetUInt32, L"EventCode", g_dualOSEventHandler);
}

void CPowerEventSink::SetHandler(Handler handler) noexcept
{
    g_powerEventHandler.store(handler);
}

HRESULT CPowerEventSink::EventHandler(CWMIObject& event) noexcept
{
    return DeliverProperty(event, &CWMIObject::GetUInt16, L"EventType", g_powerEventHandler);
}
