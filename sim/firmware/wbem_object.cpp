#include "sim/firmware/wbem_object.h"

#include <climits>

#include "common/case_fold.h"
#include "sim/wql/wql.h"

namespace firmsim {

using obrin::EqualsNoCase;

namespace {

bool IsSystemName(const wchar_t* name) noexcept
{
    return name[0] == L'_' && name[1] == L'_';
}

HRESULT PutString(VARIANT* value, const std::wstring& text) noexcept
{
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy)
        return WBEM_E_OUT_OF_MEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = copy;
    return S_OK;
}

// A property type for Put on a class without an explicit CIM type.
CIMTYPE CimTypeOf(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_BSTR:
        return CIM_STRING;
    case VT_I4:
        return CIM_SINT32;
    case VT_I2:
        return CIM_SINT16;
    case VT_UI1:
        return CIM_UINT8;
    case VT_BOOL:
        return CIM_BOOLEAN;
    case VT_R4:
        return CIM_REAL32;
    case VT_R8:
        return CIM_REAL64;
    default:
        return CIM_EMPTY;
    }
}

HRESULT ChangeType(const VARIANT& value, VARTYPE vt, VARIANT& converted) noexcept
{
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, vt))) {
        VariantClear(&converted);
        return WBEM_E_TYPE_MISMATCH;
    }
    return S_OK;
}

HRESULT ConvertInRange(const VARIANT& value, LONG low, LONG high, VARTYPE stored, VARIANT& converted) noexcept
{
    VARIANT wide;
    HRESULT hr = ChangeType(value, VT_I4, wide);
    if (FAILED(hr))
        return hr;
    const LONG number = wide.lVal;
    if (number < low || number > high)
        return WBEM_E_TYPE_MISMATCH;
    VariantInit(&converted);
    converted.vt = stored;
    if (stored == VT_I2)
        converted.iVal = static_cast<SHORT>(number);
    else if (stored == VT_UI1)
        converted.bVal = static_cast<BYTE>(number);
    else
        converted.lVal = number;
    return S_OK;
}

}  // namespace

HRESULT ConvertToCimType(const VARIANT& value, CIMTYPE type, VARIANT& converted) noexcept
{
    switch (type) {
    case CIM_SINT8:
        return ConvertInRange(value, SCHAR_MIN, SCHAR_MAX, VT_I2, converted);
    case CIM_UINT8:
        return ConvertInRange(value, 0, UCHAR_MAX, VT_UI1, converted);
    case CIM_SINT16:
        return ConvertInRange(value, SHRT_MIN, SHRT_MAX, VT_I2, converted);
    case CIM_UINT16:
        return ConvertInRange(value, 0, USHRT_MAX, VT_I4, converted);
    case CIM_SINT32:
        return ChangeType(value, VT_I4, converted);
    case CIM_UINT32: {
        // WMI carries uint32 in VT_I4: a VT_I4 keeps its bits, anything else
        // must read as an unsigned 32-bit number.
        if (value.vt == VT_I4) {
            VariantInit(&converted);
            converted.vt = VT_I4;
            converted.lVal = value.lVal;
            return S_OK;
        }
        VARIANT unsignedValue;
        HRESULT hr = ChangeType(value, VT_UI4, unsignedValue);
        if (FAILED(hr))
            return hr;
        VariantInit(&converted);
        converted.vt = VT_I4;
        converted.lVal = static_cast<LONG>(unsignedValue.ulVal);
        return S_OK;
    }
    case CIM_REAL32:
        return ChangeType(value, VT_R4, converted);
    case CIM_REAL64:
        return ChangeType(value, VT_R8, converted);
    case CIM_BOOLEAN:
        return ChangeType(value, VT_BOOL, converted);
    case CIM_SINT64:
    case CIM_UINT64:
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
        return ChangeType(value, VT_BSTR, converted);
    default:
        return WBEM_E_TYPE_MISMATCH;
    }
}

WbemObject::WbemObject(ObjectIdentity identity) : m_identity(std::move(identity)) {}

void WbemObject::AddProperty(const std::wstring& name, CIMTYPE type)
{
    Property property;
    property.name = name;
    property.type = type;
    property.value->vt = VT_NULL;
    m_properties.push_back(std::move(property));
}

void WbemObject::AddMethod(const std::wstring& name, WbemObjectPtr inSignature, WbemObjectPtr outSignature)
{
    m_methods.push_back({name, std::move(inSignature), std::move(outSignature)});
}

WbemObjectPtr WbemObject::NewInstance() const noexcept
{
    return Copy(WBEM_GENUS_INSTANCE);
}

WbemObjectPtr WbemObject::Copy(LONG genus) const noexcept
{
    WbemObjectPtr copy = Make(m_identity);
    if (!copy)
        return nullptr;
    try {
        copy->m_genus = genus;
        for (const auto& property : m_properties) {
            Property duplicate;
            duplicate.name = property.name;
            duplicate.type = property.type;
            if (FAILED(VariantCopy(duplicate.value.put(), const_cast<VARIANT*>(property.value.get()))))
                return nullptr;
            copy->m_properties.push_back(std::move(duplicate));
        }
        if (genus == WBEM_GENUS_CLASS)
            copy->m_methods = m_methods;
    } catch (...) {
        return nullptr;
    }
    return copy;
}

WbemObject::Property* WbemObject::FindProperty(const wchar_t* name) noexcept
{
    for (auto& property : m_properties) {
        if (EqualsNoCase(property.name, name))
            return &property;
    }
    return nullptr;
}

std::wstring WbemObject::RelativePath() const
{
    if (m_identity.nameSpace.empty())
        return {};
    if (m_genus == WBEM_GENUS_CLASS)
        return m_identity.className;
    if (m_identity.keyProperty.empty())
        return {};
    for (const auto& property : m_properties) {
        if (EqualsNoCase(property.name, m_identity.keyProperty) && property.value->vt == VT_BSTR) {
            return m_identity.className + L"." + property.name + L"=\"" +
                   obrin::wql::EscapeKeyValue(property.value->bstrVal ? property.value->bstrVal : L"") + L"\"";
        }
    }
    return {};
}

HRESULT WbemObject::GetSystemProperty(const wchar_t* name, VARIANT* value, CIMTYPE* type) const noexcept
{
    try {
        CIMTYPE cimType = CIM_STRING;
        std::wstring text;
        bool isNull = false;
        LONG number = 0;
        const std::wstring relativePath = RelativePath();
        if (EqualsNoCase(name, L"__CLASS")) {
            text = m_identity.className;
        } else if (EqualsNoCase(name, L"__SUPERCLASS")) {
            text = m_identity.superclass;
            isNull = text.empty();
        } else if (EqualsNoCase(name, L"__GENUS")) {
            cimType = CIM_SINT32;
            number = m_genus;
        } else if (EqualsNoCase(name, L"__PROPERTY_COUNT")) {
            cimType = CIM_SINT32;
            number = static_cast<LONG>(m_properties.size());
        } else if (EqualsNoCase(name, L"__RELPATH")) {
            text = relativePath;
            isNull = text.empty();
        } else if (EqualsNoCase(name, L"__PATH")) {
            text = L"\\\\" + m_identity.server + L"\\" + m_identity.nameSpace + L":" + relativePath;
            isNull = relativePath.empty();
        } else if (EqualsNoCase(name, L"__SERVER")) {
            text = m_identity.server;
            isNull = relativePath.empty();
        } else if (EqualsNoCase(name, L"__NAMESPACE")) {
            text = m_identity.nameSpace;
            isNull = relativePath.empty();
        } else {
            return WBEM_E_NOT_FOUND;
        }
        if (type)
            *type = cimType;
        if (!value)
            return S_OK;
        VariantInit(value);
        if (isNull) {
            value->vt = VT_NULL;
        } else if (cimType == CIM_SINT32) {
            value->vt = VT_I4;
            value->lVal = number;
        } else {
            return PutString(value, text);
        }
        return S_OK;
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

HRESULT WbemObject::SetValue(const wchar_t* name, const VARIANT& value) noexcept
{
    VARIANT copy = value;
    return Put(name, 0, &copy, 0);
}

HRESULT WbemObject::SetUInt32(const wchar_t* name, uint32_t value) noexcept
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = static_cast<LONG>(value);
    return Put(name, 0, &variant, CIM_UINT32);
}

HRESULT WbemObject::SetString(const wchar_t* name, const wchar_t* value) noexcept
{
    obrin::UniqueVariant variant;
    variant->bstrVal = SysAllocString(value);
    if (!variant->bstrVal)
        return WBEM_E_OUT_OF_MEMORY;
    variant->vt = VT_BSTR;
    return Put(name, 0, variant.get(), 0);
}

HRESULT WbemObject::SetBoolean(const wchar_t* name, bool value) noexcept
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BOOL;
    variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return Put(name, 0, &variant, 0);
}

HRESULT WbemObject::GetQualifierSet(IWbemQualifierSet**)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor)
{
    if (!name || flags != 0)
        return WBEM_E_INVALID_PARAMETER;
    if (IsSystemName(name)) {
        const HRESULT hr = GetSystemProperty(name, value, type);
        if (SUCCEEDED(hr) && flavor)
            *flavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
        return hr;
    }
    Property* property = FindProperty(name);
    if (!property)
        return WBEM_E_NOT_FOUND;
    if (value) {
        VariantInit(value);
        if (FAILED(VariantCopy(value, property->value.get())))
            return WBEM_E_OUT_OF_MEMORY;
    }
    if (type)
        *type = property->type;
    if (flavor)
        *flavor = m_genus == WBEM_GENUS_CLASS ? WBEM_FLAVOR_ORIGIN_LOCAL : WBEM_FLAVOR_ORIGIN_PROPAGATED;
    return S_OK;
}

HRESULT WbemObject::Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type)
{
    if (!name || !name[0] || flags != 0)
        return WBEM_E_INVALID_PARAMETER;
    if (IsSystemName(name))
        return WBEM_E_READ_ONLY;
    const bool isNull = !value || value->vt == VT_NULL || value->vt == VT_EMPTY;
    Property* property = FindProperty(name);
    if (!property) {
        // Only a class definition grows new properties.
        if (m_genus != WBEM_GENUS_CLASS)
            return WBEM_E_NOT_FOUND;
        const CIMTYPE newType = type != 0 ? type : (isNull ? CIMTYPE{CIM_EMPTY} : CimTypeOf(value->vt));
        if (newType == CIM_EMPTY)
            return WBEM_E_TYPE_MISMATCH;
        try {
            AddProperty(name, newType);
        } catch (...) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        property = &m_properties.back();
    } else if (type != 0 && type != property->type) {
        return WBEM_E_TYPE_MISMATCH;
    }
    if (isNull) {
        property->value.reset();
        property->value->vt = VT_NULL;
        return S_OK;
    }
    VARIANT converted;
    const HRESULT hr = ConvertToCimType(*value, property->type, converted);
    if (FAILED(hr))
        return hr;
    property->value.reset();
    *property->value.get() = converted;
    return S_OK;
}

HRESULT WbemObject::Delete(LPCWSTR)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::BeginEnumeration(LONG)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::EndEnumeration()
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::Clone(IWbemClassObject** copy)
{
    if (!copy)
        return WBEM_E_INVALID_PARAMETER;
    WbemObjectPtr duplicate = Copy(m_genus);
    if (!duplicate)
        return WBEM_E_OUT_OF_MEMORY;
    CopyOut(duplicate, copy);
    return S_OK;
}

HRESULT WbemObject::GetObjectText(LONG, BSTR*)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::SpawnDerivedClass(LONG, IWbemClassObject**)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::SpawnInstance(LONG flags, IWbemClassObject** newInstance)
{
    if (flags != 0 || !newInstance)
        return WBEM_E_INVALID_PARAMETER;
    if (m_genus != WBEM_GENUS_CLASS)
        return WBEM_E_INVALID_OPERATION;
    WbemObjectPtr instance = NewInstance();
    if (!instance)
        return WBEM_E_OUT_OF_MEMORY;
    CopyOut(instance, newInstance);
    return S_OK;
}

HRESULT WbemObject::CompareTo(LONG, IWbemClassObject*)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::GetPropertyOrigin(LPCWSTR, BSTR*)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::InheritsFrom(LPCWSTR ancestor)
{
    if (!ancestor)
        return WBEM_E_INVALID_PARAMETER;
    return !m_identity.superclass.empty() && EqualsNoCase(m_identity.superclass, ancestor)
               ? S_OK
               : static_cast<HRESULT>(WBEM_S_FALSE);
}

HRESULT WbemObject::GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** inSignature,
                              IWbemClassObject** outSignature)
{
    if (!name || flags != 0)
        return WBEM_E_INVALID_PARAMETER;
    if (m_genus != WBEM_GENUS_CLASS)
        return WBEM_E_ILLEGAL_OPERATION;
    for (const auto& method : m_methods) {
        if (!EqualsNoCase(method.name, name))
            continue;
        // Copies, so that a caller filling its parameters never changes the class.
        WbemObjectPtr inCopy = method.inSignature && inSignature ? method.inSignature->Copy(WBEM_GENUS_CLASS) : nullptr;
        WbemObjectPtr outCopy =
            method.outSignature && outSignature ? method.outSignature->Copy(WBEM_GENUS_CLASS) : nullptr;
        if ((method.inSignature && inSignature && !inCopy) || (method.outSignature && outSignature && !outCopy))
            return WBEM_E_OUT_OF_MEMORY;
        if (inSignature)
            CopyOut(inCopy, inSignature);
        if (outSignature)
            CopyOut(outCopy, outSignature);
        return S_OK;
    }
    return WBEM_E_NOT_FOUND;
}

HRESULT WbemObject::PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::DeleteMethod(LPCWSTR)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::BeginMethodEnumeration(LONG)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::EndMethodEnumeration()
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT WbemObject::GetMethodOrigin(LPCWSTR, BSTR*)
{
    return WBEM_E_NOT_SUPPORTED;
}

ObjectEnumerator::ObjectEnumerator(std::vector<WbemObjectPtr> objects, size_t position)
    : m_objects(std::move(objects)), m_position(position)
{
}

HRESULT ObjectEnumerator::Reset()
{
    AcquireSRWLockExclusive(&m_lock);
    m_position = 0;
    ReleaseSRWLockExclusive(&m_lock);
    return S_OK;
}

HRESULT ObjectEnumerator::Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned)
{
    if (!objects || !returned || (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE)))
        return WBEM_E_INVALID_PARAMETER;
    AcquireSRWLockExclusive(&m_lock);
    ULONG given = 0;
    while (given < count && m_position < m_objects.size())
        CopyOut(m_objects[m_position++], &objects[given++]);
    ReleaseSRWLockExclusive(&m_lock);
    *returned = given;
    return given == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

HRESULT ObjectEnumerator::NextAsync(ULONG, IWbemObjectSink*)
{
    return WBEM_E_NOT_SUPPORTED;
}

HRESULT ObjectEnumerator::Clone(IEnumWbemClassObject** copy)
{
    if (!copy)
        return WBEM_E_INVALID_PARAMETER;
    AcquireSRWLockShared(&m_lock);
    obrin::ComPtr<ObjectEnumerator> duplicate = Make(m_objects, m_position);
    ReleaseSRWLockShared(&m_lock);
    if (!duplicate)
        return WBEM_E_OUT_OF_MEMORY;
    CopyOut(duplicate, copy);
    return S_OK;
}

HRESULT ObjectEnumerator::Skip(LONG timeout, ULONG count)
{
    if (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE))
        return WBEM_E_INVALID_PARAMETER;
    AcquireSRWLockExclusive(&m_lock);
    ULONG skipped = 0;
    while (skipped < count && m_position < m_objects.size()) {
        ++m_position;
        ++skipped;
    }
    ReleaseSRWLockExclusive(&m_lock);
    return skipped == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

}  // namespace firmsim
