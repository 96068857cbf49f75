// Class and instance objects of the stand-in's WMI classes, with the
// IWbemClassObject behaviour that WMI documents for what this system uses:
// Get reports the CIM type next to a VARIANT typed as WMI types it (uint32,
// sint32 and uint16 as VT_I4, strings as VT_BSTR), Put converts a value to the
// property's CIM type, GetMethod hands out the parameter classes and
// SpawnInstance makes an instance with the class defaults.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <string>
#include <vector>

#include "sim/firmware/com_class.h"

namespace firmsim {

class WbemObject;
using WbemObjectPtr = obrin::ComPtr<WbemObject>;

struct ObjectIdentity {
    std::wstring className;
    std::wstring superclass;  // empty for none
    std::wstring nameSpace;  // e.g. "ROOT\wmi"; empty for parameter objects
    std::wstring server;
    std::wstring keyProperty;  // the key that makes an instance's path; empty: no path
};

class WbemObject final : public ComClass<WbemObject, IWbemClassObject> {
public:
    explicit WbemObject(ObjectIdentity identity);

    // Building a class: these throw std::bad_alloc; the COM methods below do not.
    void AddProperty(const std::wstring& name, CIMTYPE type);
    void AddMethod(const std::wstring& name, WbemObjectPtr inSignature, WbemObjectPtr outSignature);
    // A new instance of this class (SpawnInstance); null when out of memory.
    [[nodiscard]] WbemObjectPtr NewInstance() const noexcept;
    // Put with the property's own type.
    [[nodiscard]] HRESULT SetValue(const wchar_t* name, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT SetUInt32(const wchar_t* name, uint32_t value) noexcept;
    [[nodiscard]] HRESULT SetString(const wchar_t* name, const wchar_t* value) noexcept;
    [[nodiscard]] HRESULT SetBoolean(const wchar_t* name, bool value) noexcept;

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** qualifiers) override;
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override;
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR qualifierName, LONG flags, VARIANT* qualifierValue,
                                       SAFEARRAY** names) override;
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override;
    HRESULT STDMETHODCALLTYPE Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR property, IWbemQualifierSet** qualifiers) override;
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** copy) override;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG flags, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG flags, IWbemClassObject** newClass) override;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG flags, IWbemClassObject** newInstance) override;
    HRESULT STDMETHODCALLTYPE CompareTo(LONG flags, IWbemClassObject* other) override;
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR name, BSTR* className) override;
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR ancestor) override;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** inSignature,
                                        IWbemClassObject** outSignature) override;
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR name, LONG flags, IWbemClassObject* inSignature,
                                        IWbemClassObject* outSignature) override;
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG flags) override;
    HRESULT STDMETHODCALLTYPE NextMethod(LONG flags, BSTR* name, IWbemClassObject** inSignature,
                                         IWbemClassObject** outSignature) override;
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR method, IWbemQualifierSet** qualifiers) override;
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR methodName, BSTR* className) override;

private:
    struct Property {
        std::wstring name;
        CIMTYPE type = CIM_EMPTY;
        obrin::UniqueVariant value;  // VT_NULL until set
    };
    struct Method {
        std::wstring name;
        WbemObjectPtr inSignature;  // null: no in-parameters
        WbemObjectPtr outSignature;
    };

    [[nodiscard]] WbemObjectPtr Copy(LONG genus) const noexcept;
    [[nodiscard]] Property* FindProperty(const wchar_t* name) noexcept;
    [[nodiscard]] HRESULT GetSystemProperty(const wchar_t* name, VARIANT* value, CIMTYPE* type) const noexcept;
    [[nodiscard]] std::wstring RelativePath() const;

    ObjectIdentity m_identity;
    LONG m_genus = WBEM_GENUS_CLASS;
    std::vector<Property> m_properties;
    std::vector<Method> m_methods;
};

// Converts `value` to the VARIANT form that WMI uses for `type`; fails with
// WBEM_E_TYPE_MISMATCH when it does not convert or does not fit.
[[nodiscard]] HRESULT ConvertToCimType(const VARIANT& value, CIMTYPE type, VARIANT& converted) noexcept;

// A forward-only enumerator over a fixed list of objects.
class ObjectEnumerator final : public ComClass<ObjectEnumerator, IEnumWbemClassObject> {
public:
    explicit ObjectEnumerator(std::vector<WbemObjectPtr> objects, size_t position = 0);

    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override;
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG count, IWbemObjectSink* sink) override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** copy) override;
    HRESULT STDMETHODCALLTYPE Skip(LONG timeout, ULONG count) override;

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    std::vector<WbemObjectPtr> m_objects;
    size_t m_position;
};

}  // namespace firmsim
