#include "sim/firmware/services.h"

#include <optional>
#include <string>

#include "common/case_fold.h"
#include "sim/disk/disk_files.h"
#include "sim/firmware/com_class.h"
#include "sim/firmware/disk_classes.h"
#include "sim/firmware/event_delivery.h"
#include "sim/firmware/firmware_model.h"
#include "sim/firmware/shared_state.h"
#include "sim/wql/wql.h"

namespace firmsim {

using obrin::EqualsNoCase;

namespace {

using obrin::disksim::Narrow;
using obrin::disksim::Widen;

constexpr LONG kNotificationFlags = WBEM_FLAG_SEND_STATUS | WBEM_FLAG_USE_AMENDED_QUALIFIERS;

// SetBlanket is accepted (the stand-in lives in the caller's process, so there
// is no proxy whose security could change); the other two are not used.
template <typename Derived>
class ServicesBase : public ComClass<Derived, IWbemServices, IClientSecurity> {
public:
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
};

// The class named by a notification query, after the checks WMI makes on the
// call itself; nullopt with `hr` set otherwise.
std::optional<std::wstring> NotificationClass(const BSTR language, const BSTR query, LONG flags,
                                              IWbemObjectSink* sink, HRESULT& hr)
{
    hr = S_OK;
    if (!language || !query || !sink || (flags & ~kNotificationFlags) != 0) {
        hr = WBEM_E_INVALID_PARAMETER;
        return std::nullopt;
    }
    if (!EqualsNoCase(language, L"WQL")) {
        hr = WBEM_E_INVALID_QUERY_TYPE;
        return std::nullopt;
    }
    const auto className = obrin::wql::SelectAllClass(Narrow(query));
    if (!className) {
        hr = WBEM_E_INVALID_QUERY;
        return std::nullopt;
    }
    return Widen(*className);
}

class FirmwareServices final : public ServicesBase<FirmwareServices> {
public:
    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* sink) override { return CancelSubscription(sink); }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext*, IWbemClassObject** object,
                                        IWbemCallResult** callResult) override;
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext*,
                                        IEnumWbemClassObject** enumerator) override;
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR language, const BSTR query, LONG flags,
                                                         IWbemContext*, IWbemObjectSink* sink) override;
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext*,
                                         IWbemClassObject* inParams, IWbemClassObject** outParams,
                                         IWbemCallResult** callResult) override;
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
};

// Reads one uint32 in-parameter of DualOSNotify, in whatever form converts.
HRESULT ReadParameter(IWbemClassObject* inParams, const wchar_t* name, uint32_t& value) noexcept
{
    obrin::UniqueVariant raw;
    if (FAILED(inParams->Get(name, 0, raw.put(), nullptr, nullptr)) || raw->vt == VT_NULL || raw->vt == VT_EMPTY)
        return WBEM_E_INVALID_METHOD_PARAMETERS;
    VARIANT converted;
    if (FAILED(ConvertToCimType(*raw.get(), CIM_UINT32, converted)))
        return WBEM_E_INVALID_METHOD_PARAMETERS;
    value = static_cast<uint32_t>(converted.lVal);
    return S_OK;
}

// A path of the firmware's classes, read by the one object-path reader: in
// root\wmi (or without a namespace) and written as WMI writes paths.
struct FirmwarePath {
    std::wstring className;
    bool instance = false;
    std::wstring keyName;
    std::wstring keyValue;
};

std::optional<FirmwarePath> ReadFirmwarePath(const BSTR path)
{
    const obrin::wql::ObjectPath read = obrin::wql::ReadObjectPath(Narrow(path));
    if (!obrin::wql::IsWrittenAsWmiWritesIt(read) ||
        !(read.nameSpace.empty() || EqualsNoCase(read.nameSpace, "root\\wmi")))
        return std::nullopt;
    return FirmwarePath{Widen(read.className), read.instance, Widen(read.keyName), Widen(read.key.value)};
}

HRESULT FirmwareServices::GetObject(const BSTR path, LONG, IWbemContext*, IWbemClassObject** object,
                                    IWbemCallResult** callResult)
{
    if (callResult)
        *callResult = nullptr;
    if (!object)
        return WBEM_E_INVALID_PARAMETER;
    if (!path || !path[0])
        return WBEM_E_NOT_SUPPORTED;
    try {
        const auto parsed = ReadFirmwarePath(path);
        if (!parsed)
            return WBEM_E_INVALID_OBJECT_PATH;
        FirmwareState state;
        if (FAILED(SharedState().ReadWithoutCalls(state)))
            return WBEM_E_FAILED;
        WbemObjectPtr found;
        if (EqualsNoCase(parsed->className, kMethodClass) && state.present) {
            if (!parsed->instance)
                found = MakeDualOsMethodClass();
            else if (EqualsNoCase(parsed->keyName, kKeyProperty) && EqualsNoCase(parsed->keyValue, kInstanceName))
                found = MakeDualOsMethodInstance();
        } else if (EqualsNoCase(parsed->className, kEventClass) && !parsed->instance) {
            found = MakeDualOsEventClass();
        }
        if (!found)
            return WBEM_E_NOT_FOUND;
        CopyOut(found, object);
        return S_OK;
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

HRESULT FirmwareServices::ExecQuery(const BSTR language, const BSTR query, LONG, IWbemContext*,
                                    IEnumWbemClassObject** enumerator)
{
    if (!language || !query || !enumerator)
        return WBEM_E_INVALID_PARAMETER;
    if (!EqualsNoCase(language, L"WQL"))
        return WBEM_E_INVALID_QUERY_TYPE;
    try {
        const auto selected = obrin::wql::SelectAllClass(Narrow(query));
        if (!selected)
            return WBEM_E_INVALID_QUERY;
        const std::wstring className = Widen(*selected);
        std::vector<WbemObjectPtr> objects;
        if (EqualsNoCase(className, kMethodClass)) {
            FirmwareState state;
            if (FAILED(SharedState().ReadWithoutCalls(state)))
                return WBEM_E_FAILED;
            // Without the firmware's device the query simply finds nothing.
            if (state.present)
                objects.push_back(MakeDualOsMethodInstance());
        } else if (!EqualsNoCase(className, kEventClass)) {
            return WBEM_E_INVALID_CLASS;
        }
        auto result = ObjectEnumerator::Make(std::move(objects));
        if (!result)
            return WBEM_E_OUT_OF_MEMORY;
        CopyOut(result, enumerator);
        return S_OK;
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

HRESULT FirmwareServices::ExecNotificationQueryAsync(const BSTR language, const BSTR query, LONG flags,
                                                     IWbemContext*, IWbemObjectSink* sink)
{
    try {
        HRESULT hr;
        const auto className = NotificationClass(language, query, flags, sink, hr);
        if (!className)
            return hr;
        if (EqualsNoCase(*className, kMethodClass))
            return WBEM_E_NOT_EVENT_CLASS;
        if (!EqualsNoCase(*className, kEventClass))
            return WBEM_E_INVALID_CLASS;
        // WBEM_FLAG_SEND_STATUS asks for progress reports, which an event
        // subscription never has: the sink hears SetStatus only on cancel.
        return Subscribe(EventKind::DualOs, sink);
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

HRESULT FirmwareServices::ExecMethod(const BSTR path, const BSTR method, LONG, IWbemContext*,
                                     IWbemClassObject* inParams, IWbemClassObject** outParams,
                                     IWbemCallResult** callResult)
{
    if (callResult)
        *callResult = nullptr;
    if (outParams)
        *outParams = nullptr;
    if (!path || !method)
        return WBEM_E_INVALID_PARAMETER;
    try {
        const auto parsed = ReadFirmwarePath(path);
        if (!parsed)
            return WBEM_E_INVALID_OBJECT_PATH;
        if (EqualsNoCase(parsed->className, kEventClass))
            return WBEM_E_INVALID_METHOD;
        if (!EqualsNoCase(parsed->className, kMethodClass))
            return WBEM_E_NOT_FOUND;
        if (!EqualsNoCase(method, kNotifyMethod))
            return WBEM_E_INVALID_METHOD;
        // DualOSNotify belongs to the instance, not the class.
        if (!parsed->instance)
            return WBEM_E_INVALID_OPERATION;
        if (!EqualsNoCase(parsed->keyName, kKeyProperty) || !EqualsNoCase(parsed->keyValue, kInstanceName))
            return WBEM_E_NOT_FOUND;
        if (!inParams)
            return WBEM_E_INVALID_METHOD_PARAMETERS;
        FirmwareCall call;
        HRESULT hr = ReadParameter(inParams, L"NotificationCode", call.code);
        if (SUCCEEDED(hr))
            hr = ReadParameter(inParams, L"NotifycationParmeter", call.parameter);
        if (FAILED(hr))
            return hr;

        FirmwareState state;
        if (FAILED(SharedState().RecordCall(call, state)))
            return WBEM_E_FAILED;
        if (!state.present)
            return WBEM_E_NOT_FOUND;
        HRESULT outcome = S_OK;
        if (auto failure = state.failures.find(call.code); failure != state.failures.end())
            outcome = static_cast<HRESULT>(failure->second);
        if (FAILED(outcome))
            return outcome;
        if (outParams) {
            WbemObjectPtr result = MakeNotifyResult(state.returnType, AnswerFor(state, call.code));
            CopyOut(result, outParams);
        }
        return outcome;
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

class CimServices final : public ServicesBase<CimServices> {
public:
    explicit CimServices(obrin::ComPtr<IWbemServices> wine) : m_wine(std::move(wine)) {}

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR nameSpace, LONG flags, IWbemContext* context,
                                            IWbemServices** services, IWbemCallResult** result) override
    {
        return m_wine->OpenNamespace(nameSpace, flags, context, services, result);
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* sink) override
    {
        const HRESULT hr = CancelSubscription(sink);
        return hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND) ? m_wine->CancelAsyncCall(sink) : hr;
    }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG flags, IWbemObjectSink** sink) override
    {
        return m_wine->QueryObjectSink(flags, sink);
    }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context, IWbemClassObject** object,
                                        IWbemCallResult** result) override
    {
        if (const auto served = GetDiskObject(path, object)) {
            if (result)
                *result = nullptr;
            return *served;
        }
        return m_wine->GetObject(path, flags, context, object, result);
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR path, LONG flags, IWbemContext* context,
                                             IWbemObjectSink* sink) override
    {
        return m_wine->GetObjectAsync(path, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject* object, LONG flags, IWbemContext* context,
                                       IWbemCallResult** result) override
    {
        return m_wine->PutClass(object, flags, context, result);
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject* object, LONG flags, IWbemContext* context,
                                            IWbemObjectSink* sink) override
    {
        return m_wine->PutClassAsync(object, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR name, LONG flags, IWbemContext* context,
                                          IWbemCallResult** result) override
    {
        return m_wine->DeleteClass(name, flags, context, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR name, LONG flags, IWbemContext* context,
                                               IWbemObjectSink* sink) override
    {
        return m_wine->DeleteClassAsync(name, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR superclass, LONG flags, IWbemContext* context,
                                              IEnumWbemClassObject** enumerator) override
    {
        return m_wine->CreateClassEnum(superclass, flags, context, enumerator);
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR superclass, LONG flags, IWbemContext* context,
                                                   IWbemObjectSink* sink) override
    {
        return m_wine->CreateClassEnumAsync(superclass, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                                          IWbemCallResult** result) override
    {
        return m_wine->PutInstance(instance, flags, context, result);
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                                               IWbemObjectSink* sink) override
    {
        return m_wine->PutInstanceAsync(instance, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR path, LONG flags, IWbemContext* context,
                                             IWbemCallResult** result) override
    {
        return m_wine->DeleteInstance(path, flags, context, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR path, LONG flags, IWbemContext* context,
                                                  IWbemObjectSink* sink) override
    {
        return m_wine->DeleteInstanceAsync(path, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR filter, LONG flags, IWbemContext* context,
                                                 IEnumWbemClassObject** enumerator) override
    {
        if (const auto served = CreateDiskInstanceEnum(filter, enumerator))
            return *served;
        return m_wine->CreateInstanceEnum(filter, flags, context, enumerator);
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR filter, LONG flags, IWbemContext* context,
                                                      IWbemObjectSink* sink) override
    {
        return m_wine->CreateInstanceEnumAsync(filter, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                        IEnumWbemClassObject** enumerator) override
    {
        if (const auto served = ExecDiskQuery(language, query, enumerator))
            return *served;
        return m_wine->ExecQuery(language, query, flags, context, enumerator);
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR language, const BSTR query, LONG flags,
                                             IWbemContext* context, IWbemObjectSink* sink) override
    {
        return m_wine->ExecQueryAsync(language, query, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR language, const BSTR query, LONG flags,
                                                    IWbemContext* context, IEnumWbemClassObject** enumerator) override
    {
        return m_wine->ExecNotificationQuery(language, query, flags, context, enumerator);
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR language, const BSTR query, LONG flags,
                                                         IWbemContext* context, IWbemObjectSink* sink) override
    {
        try {
            HRESULT hr;
            const auto className = NotificationClass(language, query, flags, sink, hr);
            if (className && EqualsNoCase(*className, kPowerEventClass))
                return Subscribe(EventKind::Power, sink);
        } catch (...) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        return m_wine->ExecNotificationQueryAsync(language, query, flags, context, sink);
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                                         IWbemClassObject* inParams, IWbemClassObject** outParams,
                                         IWbemCallResult** result) override
    {
        return m_wine->ExecMethod(path, method, flags, context, inParams, outParams, result);
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                                              IWbemClassObject* inParams, IWbemObjectSink* sink) override
    {
        return m_wine->ExecMethodAsync(path, method, flags, context, inParams, sink);
    }

private:
    obrin::ComPtr<IWbemServices> m_wine;
};

}  // namespace

HRESULT CreateFirmwareServices(IWbemServices** services) noexcept
{
    auto created = FirmwareServices::Make();
    if (!created)
        return WBEM_E_OUT_OF_MEMORY;
    CopyOut(created, services);
    return S_OK;
}

HRESULT CreateCimServices(obrin::ComPtr<IWbemServices> wineServices, IWbemServices** services) noexcept
{
    auto created = CimServices::Make(std::move(wineServices));
    if (!created)
        return WBEM_E_OUT_OF_MEMORY;
    CopyOut(created, services);
    return S_OK;
}

}  // namespace firmsim
