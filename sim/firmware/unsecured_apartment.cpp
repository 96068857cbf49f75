#include "sim/firmware/unsecured_apartment.h"

#include <wbemcli.h>

#include "sim/firmware/com_class.h"

namespace firmsim {
namespace {

class SinkStub final : public ComClass<SinkStub, IWbemObjectSink> {
public:
    explicit SinkStub(obrin::ComPtr<IWbemObjectSink> sink) : m_sink(std::move(sink)) {}

    HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override
    {
        return m_sink->Indicate(count, objects);
    }
    HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR text, IWbemClassObject* object) override
    {
        return m_sink->SetStatus(flags, result, text, object);
    }

private:
    obrin::ComPtr<IWbemObjectSink> m_sink;
};

class UnsecuredApartment final : public ComClass<UnsecuredApartment, IUnsecuredApartment> {
public:
    HRESULT STDMETHODCALLTYPE CreateObjectStub(IUnknown* object, IUnknown** stub) override
    {
        if (!object || !stub)
            return E_POINTER;
        obrin::ComPtr<IWbemObjectSink> sink;
        const HRESULT hr = object->QueryInterface(IID_IWbemObjectSink, sink.put_void());
        if (FAILED(hr))
            return hr;
        auto created = SinkStub::Make(std::move(sink));
        if (!created)
            return E_OUTOFMEMORY;
        *stub = static_cast<IWbemObjectSink*>(created.detach());
        return S_OK;
    }
};

// The registration lives in the multithreaded apartment of a thread that never
// leaves it: registrations end with their apartment, and the callers' own
// CoUninitialize must not take this one with them. Every process registers its
// own: Wine also hands out another live process's registration, and that one
// comes back through a cross-process proxy that cannot make stubs for a sink
// living here.
DWORD WINAPI RegistrationKeeper(void* ready)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        SetEvent(ready);
        return 1;
    }
    auto factory = ClassFactory<UnsecuredApartment>::Make();
    DWORD cookie = 0;
    if (factory)
        static_cast<void>(CoRegisterClassObject(CLSID_UnsecuredApartment, factory.get(), CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &cookie));
    SetEvent(ready);
    for (;;)
        Sleep(INFINITE);
}

BOOL CALLBACK StartKeeper(INIT_ONCE*, void*, void**)
{
    obrin::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        return TRUE;
    obrin::UniqueHandle thread(CreateThread(nullptr, 0, RegistrationKeeper, ready.get(), 0, nullptr));
    if (thread)
        WaitForSingleObject(ready.get(), INFINITE);
    return TRUE;
}

}  // namespace

void EnsureUnsecuredApartment() noexcept
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, StartKeeper, nullptr, nullptr);
}

}  // namespace firmsim
