// Owning, HRESULT-returning wrappers over the WMI COM interfaces. Each
// wrapper owns one interface pointer; every operation that fills a wrapper
// releases what it held first. No operation throws.
//
// Note: <windows.h> maps GetObject to GetObjectW; IWbemServices and
// CWMIServices are renamed alike in every file that includes this header, so
// callers simply write GetObject.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <string>

#include "common/ownership.h"

class CWMIEnumObject;
class CWMIObject;
class CWMIMethod;

template <typename T>
class CWMIBase {
public:
    CWMIBase() noexcept = default;
    virtual ~CWMIBase() = default;
    CWMIBase(const CWMIBase&) = delete;
    CWMIBase& operator=(const CWMIBase&) = delete;

    [[nodiscard]] T* Get() const noexcept { return m_interface.get(); }
    [[nodiscard]] bool IsEmpty() const noexcept { return !m_interface; }

    // Drops the held reference; the wrapper becomes empty.
    void ReleaseInterface() noexcept { m_interface.reset(); }
    // Releases the held pointer and hands out the slot for a new one.
    [[nodiscard]] T** Put() noexcept { return m_interface.put(); }
    // Takes over the caller's reference (no AddRef). Indicate lends event
    // objects this way and takes them back with Detach.
    void Attach(T* pointer) noexcept { m_interface = obrin::ComPtr<T>::Attach(pointer); }
    // Hands the held reference to the caller (no Release).
    [[nodiscard]] T* Detach() noexcept { return m_interface.detach(); }

private:
    obrin::ComPtr<T> m_interface;
};

// One namespace connection. The creator has called
// CoInitializeEx(NULL, COINIT_MULTITHREADED) on this thread just before; the
// destructor balances it with CoUninitialize after releasing the connection.
// A creator whose CoInitializeEx failed (a thread already in another
// apartment: RPC_E_CHANGED_MODE) passes false, so the destructor does not
// uninitialise the apartment that somebody else set up.
class CWMIServices : public CWMIBase<IWbemServices> {
public:
    explicit CWMIServices(bool balancesComInit = true) noexcept : m_balancesComInit(balancesComInit) {}
    ~CWMIServices() override;

    [[nodiscard]] HRESULT ConnectServer(const wchar_t* wmiNamespace, LONG securityFlags) noexcept;
    [[nodiscard]] HRESULT SetProxyBlanket(DWORD authnLevel, DWORD impLevel, DWORD capabilities) noexcept;
    [[nodiscard]] HRESULT ExecQuery(const wchar_t* query, LONG flags, CWMIEnumObject& result) noexcept;
    // Registers sink through an unsecured-apartment stub. Once the query is
    // registered, stubSink receives the stub's IWbemObjectSink: what WMI
    // calls, and what CancelAsyncCall needs later.
    [[nodiscard]] HRESULT ExecNotificationQueryAsync(const wchar_t* query, IWbemObjectSink* sink,
                                                     obrin::ComPtr<IWbemObjectSink>& stubSink) noexcept;
    [[nodiscard]] HRESULT GetObject(const wchar_t* path, LONG flags, CWMIObject& object,
                                    IWbemCallResult** callResult = nullptr) noexcept;
    // The class object's method signature: the in-parameter object is spawned.
    [[nodiscard]] HRESULT GetMethod(const wchar_t* className, const wchar_t* methodName, CWMIMethod& method) noexcept;
    // Out-parameters land in method's out-parameter object.
    [[nodiscard]] HRESULT ExecMethod(const wchar_t* objectPath, CWMIMethod& method, LONG flags,
                                     IWbemCallResult** callResult = nullptr) noexcept;

private:
    bool m_balancesComInit;
};

// One class or instance object (also a method's parameter object).
class CWMIObject : public CWMIBase<IWbemClassObject> {
public:
    CWMIObject() noexcept = default;
    ~CWMIObject() override = default;

    // The wrapper's own Get (pointer) and Put (slot) stay reachable beside the
    // property operations of the same names.
    using CWMIBase<IWbemClassObject>::Get;
    using CWMIBase<IWbemClassObject>::Put;

    // value must be initialised (VariantInit); it is cleared before filling.
    // cimType, when given, receives the property's CIM type.
    [[nodiscard]] HRESULT Get(const wchar_t* name, VARIANT& value, CIMTYPE* cimType = nullptr) noexcept;
    // cimType 0 lets the property's own type apply.
    [[nodiscard]] HRESULT Put(const wchar_t* name, const VARIANT& value, CIMTYPE cimType) noexcept;

    // Typed reads: the CIM type reported by IWbemClassObject::Get must be
    // CIM_STRING, CIM_UINT16 or CIM_UINT32, else WBEM_E_TYPE_MISMATCH and the
    // output is left untouched. A property without a value (VT_NULL) has
    // nothing to read and gives WBEM_E_TYPE_MISMATCH as well.
    [[nodiscard]] HRESULT GetString(const wchar_t* name, std::wstring* value) noexcept;
    [[nodiscard]] HRESULT GetUInt16(const wchar_t* name, WORD* value) noexcept;
    [[nodiscard]] HRESULT GetUInt32(const wchar_t* name, DWORD* value) noexcept;
};

// A query result enumerator.
class CWMIEnumObject : public CWMIBase<IEnumWbemClassObject> {
public:
    CWMIEnumObject() noexcept = default;
    ~CWMIEnumObject() override = default;

    // Fills objects[0..count) one by one and stops at the first result that is
    // not S_OK, which is returned as is (WBEM_S_FALSE: no more objects,
    // WBEM_S_TIMEDOUT). returned, when given, receives the number fetched.
    [[nodiscard]] HRESULT Next(LONG timeout, ULONG count, CWMIObject objects[], ULONG* returned = nullptr) noexcept;
};

// Which parameter object of a method a parameter belongs to.
enum class WMIParamSet { In, Out };

// A method of a class: its name and its in- and out-parameter objects.
class CWMIMethod {
public:
    CWMIMethod() noexcept = default;
    CWMIMethod(const CWMIMethod&) = delete;
    CWMIMethod& operator=(const CWMIMethod&) = delete;

    [[nodiscard]] HRESULT Init(CWMIObject& classObject, const wchar_t* methodName) noexcept;
    // A 32-bit value, put as VT_I4 with CIM type CIM_UINT32.
    [[nodiscard]] HRESULT PutParam(WMIParamSet set, const wchar_t* name, DWORD value) noexcept;
    // A 32-bit unsigned read (CIM type CIM_UINT32).
    [[nodiscard]] HRESULT GetParam(WMIParamSet set, const wchar_t* name, DWORD* value) noexcept;
    // Name set to empty, both parameter objects released.
    void Clear() noexcept;

    // The recorded method name; null while the holder is clear.
    [[nodiscard]] BSTR Name() const noexcept { return m_name.get(); }
    [[nodiscard]] CWMIObject& InParams() noexcept { return m_inParams; }
    [[nodiscard]] CWMIObject& OutParams() noexcept { return m_outParams; }
    [[nodiscard]] CWMIObject& Params(WMIParamSet set) noexcept { return set == WMIParamSet::In ? m_inParams : m_outParams; }

private:
    obrin::UniqueBstr m_name;
    CWMIObject m_inParams;
    CWMIObject m_outParams;
};

// A VT_BSTR variant yields its string; any other is converted with
// VariantChangeType(..., 0, VT_BSTR). A failed conversion returns its HRESULT
// and leaves text untouched.
[[nodiscard]] HRESULT VariantToText(const VARIANT& value, std::wstring& text) noexcept;
