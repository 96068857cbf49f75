// Asynchronous WMI event delivery: the sink WMI calls back and the two
// process-wide subscriptions (firmware events in ROOT\WMI, power events in
// ROOT\CIMV2).
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <utility>

#include "common/ownership.h"
#include "wmi/wmi_objects.h"

// An IWbemObjectSink that hands every delivered object to EventHandler. Its
// subscription registers it through an unsecured-apartment stub and attaches
// the stub's IWbemObjectSink to it, which it keeps (one reference) for
// cancelling the query.
class CWMIEventSink : public obrin::ComObject<IWbemObjectSink> {
public:
    HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) noexcept override;
    HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR text, IWbemClassObject* object) noexcept override;
    // Called once per delivered object; a negative result stops the delivery
    // of the remaining objects of that Indicate call.
    [[nodiscard]] virtual HRESULT EventHandler(CWMIObject& event) noexcept = 0;

    // Keeps stubSink, releasing any stub held before.
    void SetStubSink(obrin::ComPtr<IWbemObjectSink> stubSink) noexcept { m_stubSink = std::move(stubSink); }
    [[nodiscard]] IWbemObjectSink* StubSink() const noexcept { return m_stubSink.get(); }
    // Drops the stub; after the query is cancelled this breaks the sink <->
    // stub cycle so both are freed.
    void ReleaseStubSink() noexcept { m_stubSink.reset(); }

private:
    obrin::ComPtr<IWbemObjectSink> m_stubSink;
};

// DualOsEvent: reads EventCode (uint32) and hands it to the handler. An
// EventCode of another CIM type is ignored silently.
class CDualOSEventSink : public CWMIEventSink {
public:
    using Handler = void (*)(DWORD eventCode);
    // Set once at start-up, before the subscription is made.
    static void SetHandler(Handler handler) noexcept;

    [[nodiscard]] HRESULT EventHandler(CWMIObject& event) noexcept override;
};

// Win32_PowerManagementEvent: reads EventType (uint16) and hands it to the
// handler. An EventType of another CIM type is ignored silently.
class CPowerEventSink : public CWMIEventSink {
public:
    using Handler = void (*)(WORD eventType);
    // Set once at start-up, before the subscription is made.
    static void SetHandler(Handler handler) noexcept;

    [[nodiscard]] HRESULT EventHandler(CWMIObject& event) noexcept override;
};

// One process-wide subscription: a connection to the event's namespace and the
// registered sink (one reference held here). Construction initialises COM in
// the multithreaded apartment for the whole process; destruction unregisters
// and then lets the connection's destructor release it and call CoUninitialize.
class CEventSubscription {
public:
    using SinkFactory = CWMIEventSink* (*)() noexcept;

    CEventSubscription(const wchar_t* wmiNamespace, const wchar_t* query, SinkFactory createSink) noexcept;
    ~CEventSubscription();
    CEventSubscription(const CEventSubscription&) = delete;
    CEventSubscription& operator=(const CEventSubscription&) = delete;

    // Drops an earlier subscription, connects, sets the proxy blanket and
    // registers the notification query with a new sink. Negative on failure.
    [[nodiscard]] HRESULT Register() noexcept;
    // S_OK when nothing is subscribed; a failed cancel keeps the subscription.
    [[nodiscard]] HRESULT Unregister() noexcept;

    [[nodiscard]] const CWMIServices& Connection() const noexcept { return m_connection; }
    [[nodiscard]] CWMIEventSink* Sink() const noexcept { return m_sink.get(); }

private:
    const wchar_t* m_namespace;
    const wchar_t* m_query;
    SinkFactory m_createSink;
    CWMIServices m_connection;
    obrin::ComPtr<CWMIEventSink> m_sink;
};

// The two records, constructed at program start on the main thread.
extern CEventSubscription g_DualOSEventSubscription;  // ROOT\WMI, DualOsEvent
extern CEventSubscription g_PowerEventSubscription;   // ROOT\CIMV2, Win32_PowerManagementEvent

[[nodiscard]] HRESULT RegisterDualOSEvent() noexcept;
[[nodiscard]] HRESULT RegisterPowerEvent() noexcept;
[[nodiscard]] HRESULT UnregisterDualOSEvent() noexcept;
[[nodiscard]] HRESULT UnregisterPowerEvent() noexcept;
