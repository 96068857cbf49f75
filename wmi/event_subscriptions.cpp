#include <new>
#include <utility>

#include "wmi/event_sinks.h"

namespace {

CWMIEventSink* CreateDualOSEventSink() noexcept
{
    return new (std::nothrow) CDualOSEventSink();
}

CWMIEventSink* CreatePowerEventSink() noexcept
{
    return new (std::nothrow) CPowerEventSink();
}

}  // namespace

// The apartment is entered before the connection member exists so that the
// connection's destructor (at program end) is the one that leaves it.
CEventSubscription::CEventSubscription(const wchar_t* wmiNamespace, const wchar_t* query,
                                       SinkFactory createSink) noexcept
    : m_namespace(wmiNamespace),
      m_query(query),
      m_createSink(createSink),
      m_connection(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
{
}

CEventSubscription::~CEventSubscription()
{
    static_cast<void>(Unregister());
}

HRESULT CEventSubscription::Register() noexcept
{
    // An earlier subscription that cannot be cancelled stays the record's:
    // replacing it would leave it delivering every event a second time.
    HRESULT hr = Unregister();
    if (FAILED(hr))
        return hr;

    hr = m_connection.ConnectServer(m_namespace, 0);
    if (FAILED(hr))
        return hr;
    hr = m_connection.SetProxyBlanket(RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE);
    if (FAILED(hr)) {
        static_cast<void>(Unregister());
        return hr;
    }

    m_sink = obrin::ComPtr<CWMIEventSink>::Copy(m_createSink());
    if (!m_sink) {
        static_cast<void>(Unregister());
        return WBEM_E_OUT_OF_MEMORY;
    }

    obrin::ComPtr<IWbemObjectSink> stubSink;
    hr = m_connection.ExecNotificationQueryAsync(m_query, m_sink.get(), stubSink);
    if (FAILED(hr)) {
        static_cast<void>(Unregister());
        return hr;
    }
    m_sink->SetStubSink(std::move(stubSink));
    return hr;
}

HRESULT CEventSubscription::Unregister() noexcept
{
    if (!m_sink)
        return S_OK;
    if (m_connection.IsEmpty())
        return WBEM_E_FAILED;

    HRESULT hr = S_OK;
    if (IWbemObjectSink* stubSink = m_sink->StubSink()) {
        hr = m_connection.Get()->CancelAsyncCall(stubSink);
        if (FAILED(hr))
            return hr;
        m_sink->ReleaseStubSink();
    }
    m_sink.reset();
    m_connection.ReleaseInterface();
    return hr;
}

CEventSubscription g_DualOSEventSubscription(L"ROOT\\WMI", L"SELECT * FROM DualOsEvent", CreateDualOSEventSink);
CEventSubscription g_PowerEventSubscription(L"ROOT\\CIMV2", L"SELECT * FROM Win32_PowerManagementEvent",
                                            CreatePowerEventSink);

HRESULT RegisterDualOSEvent() noexcept
{
    return g_DualOSEventSubscription.Register();
}

HRESULT RegisterPowerEvent() noexcept
{
    return g_PowerEventSubscription.Register();
}

HRESULT UnregisterDualOSEvent() noexcept
{
    return g_DualOSEventSubscription.Unregister();
}

HRESULT UnregisterPowerEvent() noexcept
{
    return g_PowerEventSubscription.Unregister();
}
