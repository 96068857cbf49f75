#include "wmi/wmi_objects.h"

#include <new>

using obrin::ComPtr;
using obrin::UniqueBstr;
using obrin::UniqueVariant;

namespace {

[[nodiscard]] HRESULT MakeBstr(const wchar_t* text, UniqueBstr& bstr) noexcept
{
    bstr.reset(SysAllocString(text));
    return bstr ? S_OK : E_OUTOFMEMORY;
}

// The query language and the query text as the WMI query calls take them.
[[nodiscard]] HRESULT MakeWqlQuery(const wchar_t* query, UniqueBstr& language, UniqueBstr& bstrQuery) noexcept
{
    const HRESULT hr = MakeBstr(L"WQL", language);
    return SUCCEEDED(hr) ? MakeBstr(query, bstrQuery) : hr;
}

[[nodiscard]] HRESULT CopyText(const wchar_t* source, std::wstring& text) noexcept
{
    try {
        text = source ? source : L"";
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// The integer a variant holds, taken by its tag: WMI reports uint16 and
// uint32 properties as VT_I4 on Windows, other providers use VT_UI2/VT_UI4.
// A variant without an integer (VT_NULL: the property has no value) has none.
[[nodiscard]] bool VariantInteger(const VARIANT& value, DWORD& integer) noexcept
{
    switch (V_VT(&value)) {
    case VT_I1: integer = static_cast<DWORD>(V_I1(&value)); return true;
    case VT_UI1: integer = V_UI1(&value); return true;
    case VT_I2: integer = static_cast<DWORD>(V_I2(&value)); return true;
    case VT_UI2: integer = V_UI2(&value); return true;
    case VT_I4: integer = static_cast<DWORD>(V_I4(&value)); return true;
    case VT_UI4: integer = V_UI4(&value); return true;
    case VT_INT: integer = static_cast<DWORD>(V_INT(&value)); return true;
    case VT_UINT: integer = V_UINT(&value); return true;
    default: return false;
    }
}

// Reads property name of a CIM type that must be requiredType.
[[nodiscard]] HRESULT GetTyped(CWMIObject& object, const wchar_t* name, CIMTYPE requiredType,
                               UniqueVariant& value) noexcept
{
    CIMTYPE cimType = CIM_EMPTY;
    const HRESULT hr = object.Get(name, *value.get(), &cimType);
    if (FAILED(hr))
        return hr;
    if (cimType != requiredType)
        return WBEM_E_TYPE_MISMATCH;
    return S_OK;
}

// Reads an integer property of a CIM type that must be requiredType.
[[nodiscard]] HRESULT GetTypedInteger(CWMIObject& object, const wchar_t* name, CIMTYPE requiredType,
                                      DWORD& integer) noexcept
{
    UniqueVariant variant;
    const HRESULT hr = GetTyped(object, name, requiredType, variant);
    if (FAILED(hr))
        return hr;
    if (!VariantInteger(*variant.get(), integer))
        return WBEM_E_TYPE_MISMATCH;
    return S_OK;
}

}  // namespace

CWMIServices::~CWMIServices()
{
    ReleaseInterface();
    if (m_balancesComInit)
        CoUninitialize();
}

HRESULT CWMIServices::ConnectServer(const wchar_t* wmiNamespace, LONG securityFlags) noexcept
{
    ReleaseInterface();
    if (!wmiNamespace)
        return WBEM_E_INVALID_PARAMETER;

    HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
    // Security is process-wide and set once; a second connection finds it set.
    if (FAILED(hr) && hr != RPC_E_TOO_LATE)
        return hr;

    UniqueBstr bstrNamespace;
    hr = MakeBstr(wmiNamespace, bstrNamespace);
    if (FAILED(hr))
        return hr;

    ComPtr<IWbemLocator> locator;
    hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.put_void());
    if (FAILED(hr))
        return hr;

    hr = locator->ConnectServer(bstrNamespace.get(), nullptr, nullptr, nullptr, securityFlags, nullptr, nullptr,
                                Put());
    if (FAILED(hr))
        ReleaseInterface();
    return hr;
}

HRESULT CWMIServices::SetProxyBlanket(DWORD authnLevel, DWORD impLevel, DWORD capabilities) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    ComPtr<IClientSecurity> security;
    HRESULT hr = Get()->QueryInterface(IID_IClientSecurity, security.put_void());
    if (FAILED(hr))
        return hr;
    return security->SetBlanket(Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, authnLevel, impLevel,
                                nullptr, capabilities);
}

HRESULT CWMIServices::ExecQuery(const wchar_t* query, LONG flags, CWMIEnumObject& result) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    result.ReleaseInterface();
    if (!query)
        return WBEM_E_INVALID_PARAMETER;

    UniqueBstr language;
    UniqueBstr bstrQuery;
    const HRESULT hr = MakeWqlQuery(query, language, bstrQuery);
    if (FAILED(hr))
        return hr;
    return Get()->ExecQuery(language.get(), bstrQuery.get(), flags, nullptr, result.Put());
}

HRESULT CWMIServices::ExecNotificationQueryAsync(const wchar_t* query, IWbemObjectSink* sink,
                                                ComPtr<IWbemObjectSink>& stubSink) noexcept
{
    stubSink.reset();
    if (IsEmpty())
        return WBEM_E_FAILED;
    if (!query || !sink)
        return WBEM_E_INVALID_PARAMETER;

    UniqueBstr language;
    UniqueBstr bstrQuery;
    HRESULT hr = MakeWqlQuery(query, language, bstrQuery);
    if (FAILED(hr))
        return hr;

    // WMI calls back on its own threads; the unsecured apartment's stub lets
    // those calls reach the sink without an access check on the way back.
    ComPtr<IUnsecuredApartment> apartment;
    hr = CoCreateInstance(CLSID_UnsecuredApartment, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnsecuredApartment,
                          apartment.put_void());
    if (FAILED(hr))
        return hr;
    ComPtr<IUnknown> stub;
    hr = apartment->CreateObjectStub(sink, stub.put());
    if (FAILED(hr))
        return hr;
    ComPtr<IWbemObjectSink> registered;
    hr = stub.As(registered);
    if (FAILED(hr))
        return hr;

    hr = Get()->ExecNotificationQueryAsync(language.get(), bstrQuery.get(), WBEM_FLAG_SEND_STATUS, nullptr,
                                           registered.get());
    // Only a registered query has anything to cancel later.
    if (SUCCEEDED(hr))
        stubSink = std::move(registered);
    return hr;
}

HRESULT CWMIServices::GetObject(const wchar_t* path, LONG flags, CWMIObject& object,
                                IWbemCallResult** callResult) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    object.ReleaseInterface();

    // A null path is WMI's own request for an empty class object.
    UniqueBstr bstrPath;
    if (path) {
        const HRESULT hr = MakeBstr(path, bstrPath);
        if (FAILED(hr))
            return hr;
    }
    return Get()->GetObject(bstrPath.get(), flags, nullptr, object.Put(), callResult);
}

HRESULT CWMIServices::GetMethod(const wchar_t* className, const wchar_t* methodName, CWMIMethod& method) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    if (!className || !methodName)
        return WBEM_E_INVALID_PARAMETER;
    CWMIObject classObject;
    const HRESULT hr = GetObject(className, 0, classObject);
    if (FAILED(hr))
        return hr;
    return method.Init(classObject, methodName);
}

HRESULT CWMIServices::ExecMethod(const wchar_t* objectPath, CWMIMethod& method, LONG flags,
                                 IWbemCallResult** callResult) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    method.OutParams().ReleaseInterface();
    if (!objectPath)
        return WBEM_E_INVALID_PARAMETER;

    UniqueBstr bstrPath;
    const HRESULT hr = MakeBstr(objectPath, bstrPath);
    if (FAILED(hr))
        return hr;
    return Get()->ExecMethod(bstrPath.get(), method.Name(), flags, nullptr, method.InParams().Get(),
                                    method.OutParams().Put(), callResult);
}

HRESULT CWMIEnumObject::Next(LONG timeout, ULONG count, CWMIObject objects[], ULONG* returned) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    if (!objects)
        return WBEM_E_INVALID_PARAMETER;

    HRESULT hr = S_OK;
    ULONG fetched = 0;
    for (ULONG slot = 0; slot < count; ++slot) {
        ULONG got = 0;
        hr = Get()->Next(timeout, 1, objects[slot].Put(), &got);
        fetched += got;
        if (hr != S_OK)
            break;
    }
    if (returned)
        *returned = fetched;
    return hr;
}

HRESULT CWMIObject::Get(const wchar_t* name, VARIANT& value, CIMTYPE* cimType) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    if (!name)
        return WBEM_E_INVALID_PARAMETER;
    VariantClear(&value);
    CIMTYPE type = CIM_EMPTY;
    const HRESULT hr = Get()->Get(name, 0, &value, &type, nullptr);
    if (SUCCEEDED(hr) && cimType)
        *cimType = type;
    return hr;
}

HRESULT CWMIObject::Put(const wchar_t* name, const VARIANT& value, CIMTYPE cimType) noexcept
{
    if (IsEmpty())
        return WBEM_E_FAILED;
    if (!name)
        return WBEM_E_INVALID_PARAMETER;
    // Put only reads the value; the interface merely lacks the const.
    return Get()->Put(name, 0, const_cast<VARIANT*>(&value), cimType);
}

HRESULT CWMIObject::GetString(const wchar_t* name, std::wstring* value) noexcept
{
    if (!value)
        return WBEM_E_INVALID_PARAMETER;
    UniqueVariant variant;
    const HRESULT hr = GetTyped(*this, name, CIM_STRING, variant);
    if (FAILED(hr))
        return hr;
    if (V_VT(variant.get()) != VT_BSTR)
        return WBEM_E_TYPE_MISMATCH;
    return CopyText(V_BSTR(variant.get()), *value);
}

HRESULT CWMIObject::GetUInt16(const wchar_t* name, WORD* value) noexcept
{
    if (!value)
        return WBEM_E_INVALID_PARAMETER;
    DWORD integer = 0;
    const HRESULT hr = GetTypedInteger(*this, name, CIM_UINT16, integer);
    if (SUCCEEDED(hr))
        *value = LOWORD(integer);
    return hr;
}

HRESULT CWMIObject::GetUInt32(const wchar_t* name, DWORD* value) noexcept
{
    if (!value)
        return WBEM_E_INVALID_PARAMETER;
    return GetTypedInteger(*this, name, CIM_UINT32, *value);
}

HRESULT CWMIMethod::Init(CWMIObject& classObject, const wchar_t* methodName) noexcept
{
    if (!methodName)
        return WBEM_E_INVALID_PARAMETER;
    Clear();
    if (classObject.IsEmpty())
        return WBEM_E_FAILED;

    ComPtr<IWbemClassObject> inSignature;
    HRESULT hr = classObject.Get()->GetMethod(methodName, 0, inSignature.put(), nullptr);
    if (FAILED(hr))
        return hr;
    if (!inSignature)
        return WBEM_E_FAILED;
    hr = inSignature->SpawnInstance(0, m_inParams.Put());
    if (FAILED(hr))
        return hr;
    hr = MakeBstr(methodName, m_name);
    if (FAILED(hr))
        Clear();
    return hr;
}

HRESULT CWMIMethod::PutParam(WMIParamSet set, const wchar_t* name, DWORD value) noexcept
{
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_I4;
    V_I4(&variant) = static_cast<LONG>(value);
    return Params(set).Put(name, variant, CIM_UINT32);
}

HRESULT CWMIMethod::GetParam(WMIParamSet set, const wchar_t* name, DWORD* value) noexcept
{
    return Params(set).GetUInt32(name, value);
}

void CWMIMethod::Clear() noexcept
{
    m_name.reset();
    m_inParams.ReleaseInterface();
    m_outParams.ReleaseInterface();
}

HRESULT VariantToText(const VARIANT& value, std::wstring& text) noexcept
{
    if (V_VT(&value) == VT_BSTR)
        return CopyText(V_BSTR(&value), text);
    UniqueVariant converted;
    // VariantChangeType only reads its source; the declaration lacks the const.
    const HRESULT hr = VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR);
    if (FAILED(hr))
        return hr;
    return CopyText(V_BSTR(converted.get()), text);
}
