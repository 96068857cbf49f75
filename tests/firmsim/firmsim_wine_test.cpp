// The firmware stand-in through the real COM path: CoCreateInstance of the WMI
// locator loads firmwmi.dll (installed by firmsim.exe), which serves root\wmi
// and forwards the rest to Wine's own WMI.
#include <windows.h>
#include <wbemcli.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/ownership.h"
#include "tests/support/com_environment.h"
#include "tests/support/test_support.h"

namespace {

using obrin::ComPtr;
using obrin::test::ExitsWith;
using obrin::test::Firmsim;
using obrin::test::ProcessResult;
using obrin::test::ProgramDirectory;
using obrin::test::Succeeds;
using obrin::UniqueBstr;
using obrin::UniqueVariant;

constexpr wchar_t kLocatorServerKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
constexpr wchar_t kInstanceKey[] = L"DualOsMethod.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";

UniqueBstr Bstr(const wchar_t* text)
{
    return UniqueBstr(SysAllocString(text));
}

HRESULT Connect(const wchar_t* nameSpace, ComPtr<IWbemServices>& services)
{
    ComPtr<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  locator.put_void());
    if (FAILED(hr))
        return hr;
    UniqueBstr name = Bstr(nameSpace);
    return locator->ConnectServer(name.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put());
}

std::wstring InstancePath()
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    EXPECT_TRUE(GetComputerNameW(computer, &size));
    return L"\\\\" + std::wstring(computer, size) + L"\\ROOT\\wmi:" + kInstanceKey;
}

HRESULT PutUInt32(IWbemClassObject* object, const wchar_t* name, uint32_t value)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = static_cast<LONG>(value);
    return object->Put(name, 0, &variant, CIM_UINT32);
}

struct NotifyResult {
    HRESULT hr = E_FAIL;
    ComPtr<IWbemClassObject> out;
};

// DualOSNotify the way the system's callers do it: class, method, spawned
// in-parameters, ExecMethod on the instance path.
NotifyResult Notify(IWbemServices* services, uint32_t code, uint32_t parameter, const std::wstring& path = InstancePath())
{
    NotifyResult result;
    ComPtr<IWbemClassObject> classObject, inSignature, inParams;
    UniqueBstr className = Bstr(L"DualOsMethod");
    result.hr = services->GetObject(className.get(), 0, nullptr, classObject.put(), nullptr);
    if (FAILED(result.hr))
        return result;
    result.hr = classObject->GetMethod(L"DualOSNotify", 0, inSignature.put(), nullptr);
    if (FAILED(result.hr))
        return result;
    result.hr = inSignature->SpawnInstance(0, inParams.put());
    if (SUCCEEDED(result.hr))
        result.hr = PutUInt32(inParams.get(), L"NotificationCode", code);
    if (SUCCEEDED(result.hr))
        result.hr = PutUInt32(inParams.get(), L"NotifycationParmeter", parameter);
    if (FAILED(result.hr))
        return result;
    UniqueBstr objectPath = Bstr(path.c_str());
    UniqueBstr method = Bstr(L"DualOSNotify");
    result.hr = services->ExecMethod(objectPath.get(), method.get(), 0, nullptr, inParams.get(), result.out.put(), nullptr);
    return result;
}

// The returned word, which must be a uint32 carried in VT_I4.
uint32_t ReturnValue(const NotifyResult& result)
{
    EXPECT_EQ(result.hr, S_OK);
    if (!result.out)
        return 0xDEADBEEF;
    UniqueVariant value;
    CIMTYPE type = 0;
    EXPECT_EQ(result.out->Get(L"NotifycationReturnValue", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_UINT32);
    EXPECT_EQ(value->vt, VT_I4);
    return static_cast<uint32_t>(value->lVal);
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string Calls()
{
    return Firmsim(L"calls").output;
}

class FirmsimEnvironment : public obrin::test::ComEnvironment {
public:
    void SetUp() override
    {
        ComEnvironment::SetUp();
        ASSERT_THAT(Firmsim(L"install"), Succeeds());
    }
};

[[maybe_unused]] testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new FirmsimEnvironment);

class FirmwareWmi : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        ASSERT_EQ(Connect(L"root\\wmi", m_services), S_OK);
    }

    ComPtr<IWbemServices> m_services;
};

TEST_F(FirmwareWmi, DualOSNotifyAnswersThroughQueryPathAndExecMethod)
{
    // The proxy blanket goes through IClientSecurity on the services object.
    EXPECT_EQ(CoSetProxyBlanket(m_services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
              S_OK);
    ComPtr<IEnumWbemClassObject> found;
    UniqueBstr wql = Bstr(L"WQL");
    UniqueBstr query = Bstr(L"Select * from DualOsMethod");
    ASSERT_EQ(m_services->ExecQuery(wql.get(), query.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, found.put()), S_OK);
    IWbemClassObject* slot = nullptr;
    ULONG returned = 7;
    ASSERT_EQ(found->Next(WBEM_INFINITE, 1, &slot, &returned), S_OK);
    ASSERT_EQ(returned, 1u);
    ComPtr<IWbemClassObject> instance = ComPtr<IWbemClassObject>::Attach(slot);
    slot = nullptr;
    EXPECT_EQ(found->Next(WBEM_INFINITE, 1, &slot, &returned), WBEM_S_FALSE);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(slot, nullptr);

    UniqueVariant path;
    CIMTYPE type = 0;
    ASSERT_EQ(instance->Get(L"__PATH", 0, path.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_STRING);
    ASSERT_EQ(path->vt, VT_BSTR);
    EXPECT_EQ(std::wstring(path->bstrVal), InstancePath());

    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 17, 0, path->bstrVal)), 0u);
    EXPECT_EQ(Calls(), "0x00000011 0x00000000\n");
}

TEST_F(FirmwareWmi, DefaultAnswersAndSetAnswersAreReturnedAndCallsRecorded)
{
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 17, 0)), 0u);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 16, 0)), 0x40000021u);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 24, 0)), 0x40000000u);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 20, 0)), 0u);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 19, 0x40000320)), 1u);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 0x77, 5)), 0u);
    ASSERT_THAT(Firmsim(L"answer 16 0x40000001"), Succeeds());
    ASSERT_THAT(Firmsim(L"answer 0x77 4294967295"), Succeeds());
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 16, 0)), 0x40000001u);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 0x77, 0)), 0xFFFFFFFFu);
    EXPECT_EQ(Calls(), "0x00000011 0x00000000\n0x00000010 0x00000000\n0x00000018 0x00000000\n"
                       "0x00000014 0x00000000\n0x00000013 0x40000320\n0x00000077 0x00000005\n"
                       "0x00000010 0x00000000\n0x00000077 0x00000000\n");
}

TEST_F(FirmwareWmi, FailMakesTheMethodCallFailForThatCodeOnly)
{
    ASSERT_THAT(Firmsim(L"fail 17 0x80041001"), Succeeds());
    const NotifyResult failed = Notify(m_services.get(), 17, 0);
    EXPECT_EQ(failed.hr, static_cast<HRESULT>(WBEM_E_FAILED));
    EXPECT_FALSE(failed.out);
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 16, 0)), 0x40000021u);
    // A later answer for the code ends its failure.
    ASSERT_THAT(Firmsim(L"answer 17 2"), Succeeds());
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 17, 0)), 2u);
    EXPECT_EQ(Calls(), "0x00000011 0x00000000\n0x00000010 0x00000000\n0x00000011 0x00000000\n");
}

TEST_F(FirmwareWmi, AbsentFirmwareHasNoInstanceAndNoClass)
{
    ASSERT_THAT(Firmsim(L"absent"), Succeeds());
    ComPtr<IEnumWbemClassObject> found;
    UniqueBstr wql = Bstr(L"WQL");
    UniqueBstr query = Bstr(L"Select * from DualOsMethod");
    ASSERT_EQ(m_services->ExecQuery(wql.get(), query.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, found.put()), S_OK);
    IWbemClassObject* slot = nullptr;
    ULONG returned = 7;
    EXPECT_EQ(found->Next(WBEM_INFINITE, 1, &slot, &returned), WBEM_S_FALSE);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(slot, nullptr);

    EXPECT_EQ(Notify(m_services.get(), 17, 0).hr, static_cast<HRESULT>(WBEM_E_NOT_FOUND));
    ComPtr<IWbemClassObject> instance;
    UniqueBstr path = Bstr(InstancePath().c_str());
    EXPECT_EQ(m_services->GetObject(path.get(), 0, nullptr, instance.put(), nullptr), static_cast<HRESULT>(WBEM_E_NOT_FOUND));
    EXPECT_EQ(Calls(), "");

    ASSERT_THAT(Firmsim(L"present"), Succeeds());
    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 17, 0)), 0u);
}

TEST_F(FirmwareWmi, RetTypeChangesTheTypeOfTheReturnedWord)
{
    ASSERT_THAT(Firmsim(L"rettype sint32"), Succeeds());
    NotifyResult result = Notify(m_services.get(), 16, 0);
    ASSERT_EQ(result.hr, S_OK);
    UniqueVariant value;
    CIMTYPE type = 0;
    ASSERT_EQ(result.out->Get(L"NotifycationReturnValue", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_SINT32);
    EXPECT_EQ(value->vt, VT_I4);
    EXPECT_EQ(value->lVal, 0x40000021);

    ASSERT_THAT(Firmsim(L"rettype string"), Succeeds());
    result = Notify(m_services.get(), 16, 0);
    ASSERT_EQ(result.hr, S_OK);
    ASSERT_EQ(result.out->Get(L"NotifycationReturnValue", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_STRING);
    ASSERT_EQ(value->vt, VT_BSTR);
    EXPECT_EQ(std::wstring(value->bstrVal), L"1073741857");
}

TEST_F(FirmwareWmi, ClassAndInstanceObjectsBehaveAsWmiDocumentsThem)
{
    ComPtr<IWbemClassObject> classObject, inSignature, outSignature, inParams;
    UniqueBstr className = Bstr(L"dualosmethod");
    ASSERT_EQ(m_services->GetObject(className.get(), 0, nullptr, classObject.put(), nullptr), S_OK);
    UniqueVariant value;
    CIMTYPE type = 0;
    ASSERT_EQ(classObject->Get(L"__GENUS", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(value->lVal, WBEM_GENUS_CLASS);
    ASSERT_EQ(classObject->Get(L"__RELPATH", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(std::wstring(value->bstrVal), L"DualOsMethod");
    EXPECT_EQ(classObject->GetMethod(L"NoSuchMethod", 0, inSignature.put(), nullptr), static_cast<HRESULT>(WBEM_E_NOT_FOUND));
    ASSERT_EQ(classObject->GetMethod(L"DualOSNotify", 0, inSignature.put(), outSignature.put()), S_OK);
    ASSERT_TRUE(inSignature && outSignature);
    ASSERT_EQ(outSignature->Get(L"NotifycationReturnValue", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_UINT32);
    EXPECT_EQ(value->vt, VT_NULL);

    ASSERT_EQ(inSignature->SpawnInstance(0, inParams.put()), S_OK);
    ASSERT_EQ(inParams->Get(L"__CLASS", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(std::wstring(value->bstrVal), L"__PARAMETERS");
    EXPECT_EQ(inParams->Get(L"Missing", 0, value.put(), &type, nullptr), static_cast<HRESULT>(WBEM_E_NOT_FOUND));

    // Put converts to the property's own type, which a different CIM type may not override.
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"4294967295");
    EXPECT_EQ(inParams->Put(L"NotificationCode", 0, &text, 0), S_OK);
    VariantClear(&text);
    ASSERT_EQ(inParams->Get(L"NotificationCode", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_UINT32);
    EXPECT_EQ(value->vt, VT_I4);
    EXPECT_EQ(value->lVal, -1);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"seventeen");
    EXPECT_EQ(inParams->Put(L"NotificationCode", 0, &text, 0), static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH));
    VariantClear(&text);
    EXPECT_EQ(inParams->Get(L"NotificationCode", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(value->lVal, -1) << "a refused Put keeps the value";
    EXPECT_EQ(PutUInt32(inParams.get(), L"NotifycationParmeter", 1), S_OK);
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 1;
    EXPECT_EQ(inParams->Put(L"NotifycationParmeter", 0, &number, CIM_STRING), static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH));
    EXPECT_EQ(inParams->Put(L"Unknown", 0, &number, CIM_UINT32), static_cast<HRESULT>(WBEM_E_NOT_FOUND));
    EXPECT_EQ(inParams->Put(L"__CLASS", 0, &number, 0), static_cast<HRESULT>(WBEM_E_READ_ONLY));

    ComPtr<IWbemClassObject> instance, spawned, ignored;
    UniqueBstr path = Bstr(kInstanceKey);
    ASSERT_EQ(m_services->GetObject(path.get(), 0, nullptr, instance.put(), nullptr), S_OK);
    ASSERT_EQ(instance->Get(L"Active", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_BOOLEAN);
    EXPECT_EQ(value->vt, VT_BOOL);
    EXPECT_EQ(value->boolVal, VARIANT_TRUE);
    EXPECT_EQ(instance->SpawnInstance(0, spawned.put()), static_cast<HRESULT>(WBEM_E_INVALID_OPERATION));
    EXPECT_EQ(instance->GetMethod(L"DualOSNotify", 0, ignored.put(), nullptr), static_cast<HRESULT>(WBEM_E_ILLEGAL_OPERATION));

    ComPtr<IWbemClassObject> eventClass;
    UniqueBstr eventName = Bstr(L"DualOsEvent");
    ASSERT_EQ(m_services->GetObject(eventName.get(), 0, nullptr, eventClass.put(), nullptr), S_OK);
    ASSERT_EQ(eventClass->Get(L"EventCode", 0, value.put(), &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_UINT32);
}

TEST_F(FirmwareWmi, MalformedRequestsAreRefusedAndNotRecorded)
{
    ComPtr<IEnumWbemClassObject> found;
    UniqueBstr wql = Bstr(L"WQL");
    UniqueBstr sql = Bstr(L"SQL");
    UniqueBstr query = Bstr(L"Select * from DualOsMethod");
    UniqueBstr unknownClass = Bstr(L"Select * from NoSuchClass");
    UniqueBstr garbage = Bstr(L"Select from");
    EXPECT_EQ(m_services->ExecQuery(sql.get(), query.get(), 0, nullptr, found.put()), static_cast<HRESULT>(WBEM_E_INVALID_QUERY_TYPE));
    EXPECT_EQ(m_services->ExecQuery(wql.get(), unknownClass.get(), 0, nullptr, found.put()), static_cast<HRESULT>(WBEM_E_INVALID_CLASS));
    EXPECT_EQ(m_services->ExecQuery(wql.get(), garbage.get(), 0, nullptr, found.put()), static_cast<HRESULT>(WBEM_E_INVALID_QUERY));

    EXPECT_EQ(Notify(m_services.get(), 17, 0, L"DualOsMethod").hr, static_cast<HRESULT>(WBEM_E_INVALID_OPERATION));
    EXPECT_EQ(Notify(m_services.get(), 17, 0, L"DualOsMethod.InstanceName=\"other\"").hr, static_cast<HRESULT>(WBEM_E_NOT_FOUND));
    EXPECT_EQ(Notify(m_services.get(), 17, 0, L"DualOsMethod.InstanceName=").hr, static_cast<HRESULT>(WBEM_E_INVALID_OBJECT_PATH));
    UniqueBstr path = Bstr(kInstanceKey);
    UniqueBstr otherMethod = Bstr(L"Notify");
    UniqueBstr method = Bstr(L"DualOSNotify");
    ComPtr<IWbemClassObject> out;
    EXPECT_EQ(m_services->ExecMethod(path.get(), otherMethod.get(), 0, nullptr, nullptr, out.put(), nullptr), static_cast<HRESULT>(WBEM_E_INVALID_METHOD));
    EXPECT_EQ(m_services->ExecMethod(path.get(), method.get(), 0, nullptr, nullptr, out.put(), nullptr), static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS));
    EXPECT_EQ(Calls(), "");
}

// The call record is appended to and cut back to the last 10000 calls once
// it holds twice as many.
TEST_F(FirmwareWmi, RecordKeepsTheLastTenThousandCalls)
{
    const std::wstring path = ProgramDirectory() + L"firmsim.calls";
    std::string record;
    char line[32];
    for (unsigned code = 0; code < 19999; ++code) {
        snprintf(line, sizeof line, "0x%08x 0x00000000\n", code);
        record += line;
    }
    {
        obrin::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr));
    }
    std::string calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 10000);
    EXPECT_EQ(calls.rfind("0x0000270f 0x00000000\n", 0), 0u) << "the oldest kept is call 9999";

    EXPECT_EQ(ReturnValue(Notify(m_services.get(), 17, 0)), 0u);
    calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 10000);
    EXPECT_EQ(calls.rfind("0x00002710 0x00000000\n", 0), 0u);
    EXPECT_EQ(calls.substr(calls.size() - 22), "0x00000011 0x00000000\n");
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes));
    EXPECT_EQ(attributes.nFileSizeLow, 10000u * 22) << "cut back to the calls kept";
}

TEST(RootCimv2, StillAnswersFromWinesOwnWmi)
{
    ComPtr<IWbemServices> services;
    ASSERT_EQ(Connect(L"root\\cimv2", services), S_OK);
    EXPECT_EQ(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
              S_OK);
    ComPtr<IEnumWbemClassObject> found;
    UniqueBstr wql = Bstr(L"WQL");
    UniqueBstr query = Bstr(L"SELECT * FROM Win32_OperatingSystem");
    ASSERT_EQ(services->ExecQuery(wql.get(), query.get(), WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                  nullptr, found.put()),
              S_OK);
    IWbemClassObject* slot = nullptr;
    ULONG returned = 0;
    ASSERT_EQ(found->Next(WBEM_INFINITE, 1, &slot, &returned), S_OK);
    ComPtr<IWbemClassObject> system = ComPtr<IWbemClassObject>::Attach(slot);
    UniqueVariant caption;
    ASSERT_EQ(system->Get(L"Caption", 0, caption.put(), nullptr, nullptr), S_OK);
    ASSERT_EQ(caption->vt, VT_BSTR);
    EXPECT_GT(SysStringLen(caption->bstrVal), 0u);
}

// Records what WMI delivers; Indicate runs on delivery threads.
class RecordingSink final : public IWbemObjectSink {
public:
    struct Event {
        std::wstring className;
        std::wstring property;
        CIMTYPE type = 0;
        VARTYPE vt = VT_EMPTY;
        LONG value = 0;
    };

    explicit RecordingSink(const wchar_t* property) : m_property(property), m_arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid != IID_IUnknown && iid != IID_IWbemObjectSink) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IWbemObjectSink*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack; the count only shows that references are balanced.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_refs)); }

    HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override
    {
        for (LONG i = 0; i < count; ++i) {
            Event event;
            UniqueVariant value;
            if (SUCCEEDED(objects[i]->Get(L"__CLASS", 0, value.put(), nullptr, nullptr)) && value->vt == VT_BSTR)
                event.className = value->bstrVal;
            if (SUCCEEDED(objects[i]->Get(m_property.c_str(), 0, value.put(), &event.type, nullptr))) {
                event.vt = value->vt;
                event.value = value->vt == VT_I4 ? value->lVal : -1;
            }
            AcquireSRWLockExclusive(&m_lock);
            m_events.push_back(event);
            ReleaseSRWLockExclusive(&m_lock);
        }
        SetEvent(m_arrived.get());
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR, IWbemClassObject*) override
    {
        AcquireSRWLockExclusive(&m_lock);
        m_statuses.push_back({flags, result});
        ReleaseSRWLockExclusive(&m_lock);
        return WBEM_S_NO_ERROR;
    }

    // Waits until `count` events have arrived in all, or `milliseconds` passed.
    std::vector<Event> WaitForEvents(size_t count, DWORD milliseconds)
    {
        const ULONGLONG deadline = GetTickCount64() + milliseconds;
        for (;;) {
            std::vector<Event> events = Events();
            const ULONGLONG now = GetTickCount64();
            if (events.size() >= count || now >= deadline)
                return events;
            WaitForSingleObject(m_arrived.get(), static_cast<DWORD>(deadline - now));
        }
    }
    std::vector<Event> Events()
    {
        AcquireSRWLockShared(&m_lock);
        std::vector<Event> copy = m_events;
        ReleaseSRWLockShared(&m_lock);
        return copy;
    }
    std::vector<std::pair<LONG, HRESULT>> Statuses()
    {
        AcquireSRWLockShared(&m_lock);
        auto copy = m_statuses;
        ReleaseSRWLockShared(&m_lock);
        return copy;
    }
    LONG References() const { return m_refs; }

private:
    std::wstring m_property;
    obrin::UniqueHandle m_arrived;
    SRWLOCK m_lock = SRWLOCK_INIT;
    LONG m_refs = 0;
    std::vector<Event> m_events;
    std::vector<std::pair<LONG, HRESULT>> m_statuses;
};

// The client side of a subscription as WMI clients make it: a stub from the
// unsecured apartment in front of the sink, the query with WBEM_FLAG_SEND_STATUS.
class Subscription {
public:
    Subscription(const wchar_t* nameSpace, const wchar_t* query, RecordingSink& sink)
    {
        m_result = Connect(nameSpace, m_services);
        if (FAILED(m_result))
            return;
        ComPtr<IUnsecuredApartment> apartment;
        m_result = CoCreateInstance(CLSID_UnsecuredApartment, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnsecuredApartment,
                                    apartment.put_void());
        if (FAILED(m_result))
            return;
        ComPtr<IUnknown> stub;
        m_result = apartment->CreateObjectStub(&sink, stub.put());
        if (SUCCEEDED(m_result))
            m_result = stub.As(m_stubSink);
        if (FAILED(m_result))
            return;
        UniqueBstr wql = Bstr(L"WQL");
        UniqueBstr text = Bstr(query);
        m_result = m_services->ExecNotificationQueryAsync(wql.get(), text.get(), WBEM_FLAG_SEND_STATUS, nullptr,
                                                          m_stubSink.get());
    }

    HRESULT Result() const { return m_result; }
    HRESULT Cancel() { return m_services->CancelAsyncCall(m_stubSink.get()); }

private:
    HRESULT m_result = E_FAIL;
    ComPtr<IWbemServices> m_services;
    ComPtr<IWbemObjectSink> m_stubSink;
};

class FirmwareEvents : public testing::Test {
protected:
    void SetUp() override { ASSERT_THAT(Firmsim(L"reset"), Succeeds()); }
};

TEST_F(FirmwareEvents, RaisedDualOsEventReachesTheSinkWithinOneSecondUntilCancelled)
{
    RecordingSink sink(L"EventCode");
    {
        // Raised before the subscription: never delivered.
        ASSERT_THAT(Firmsim(L"raise 0xD1"), Succeeds());
        Subscription subscription(L"ROOT\\WMI", L"SELECT * FROM DualOsEvent", sink);
        ASSERT_EQ(subscription.Result(), S_OK);

        ASSERT_THAT(Firmsim(L"raise 0xD2"), Succeeds());
        const ULONGLONG raised = GetTickCount64();
        auto events = sink.WaitForEvents(1, 1000);
        ASSERT_EQ(events.size(), 1u) << "no event within one second of firmsim raise";
        EXPECT_LE(GetTickCount64() - raised, 1000u);
        EXPECT_EQ(events[0].className, L"DualOsEvent");
        EXPECT_EQ(events[0].type, CIM_UINT32);
        EXPECT_EQ(events[0].vt, VT_I4);
        EXPECT_EQ(events[0].value, 0xD2);
        // WBEM_FLAG_SEND_STATUS brings no progress reports for an event query.
        EXPECT_TRUE(sink.Statuses().empty());

        ASSERT_THAT(Firmsim(L"raise 0xD5"), Succeeds());
        ASSERT_THAT(Firmsim(L"raise 0xE1"), Succeeds());
        events = sink.WaitForEvents(3, 2000);
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[1].value, 0xD5);
        EXPECT_EQ(events[2].value, 0xE1);

        ASSERT_EQ(subscription.Cancel(), S_OK);
        const auto statuses = sink.Statuses();
        ASSERT_EQ(statuses.size(), 1u);
        EXPECT_EQ(statuses[0].first, WBEM_STATUS_COMPLETE);
        EXPECT_EQ(statuses[0].second, static_cast<HRESULT>(WBEM_E_CALL_CANCELLED));
        EXPECT_EQ(subscription.Cancel(), static_cast<HRESULT>(WBEM_E_NOT_FOUND));

        ASSERT_THAT(Firmsim(L"raise 0xD3"), Succeeds());
        EXPECT_EQ(sink.WaitForEvents(4, 500).size(), 3u) << "delivered after cancel";
    }
    EXPECT_EQ(sink.References(), 0) << "the stand-in keeps references to a cancelled sink";
}

TEST_F(FirmwareEvents, ResumeReachesTheCimv2PowerSubscriptionOnly)
{
    RecordingSink firmware(L"EventCode");
    RecordingSink power(L"EventType");
    Subscription firmwareSubscription(L"root\\wmi", L"SELECT * FROM DualOsEvent", firmware);
    Subscription powerSubscription(L"ROOT\\CIMV2", L"SELECT * FROM Win32_PowerManagementEvent", power);
    ASSERT_EQ(firmwareSubscription.Result(), S_OK);
    ASSERT_EQ(powerSubscription.Result(), S_OK);

    ASSERT_THAT(Firmsim(L"resume 7"), Succeeds());
    auto events = power.WaitForEvents(1, 1000);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].className, L"Win32_PowerManagementEvent");
    EXPECT_EQ(events[0].type, CIM_UINT16);
    EXPECT_EQ(events[0].vt, VT_I4);
    EXPECT_EQ(events[0].value, 7);

    ASSERT_THAT(Firmsim(L"raise 210"), Succeeds());
    ASSERT_EQ(firmware.WaitForEvents(1, 1000).size(), 1u);
    EXPECT_EQ(power.Events().size(), 1u);
    EXPECT_EQ(firmware.Events().size(), 1u);

    EXPECT_EQ(powerSubscription.Cancel(), S_OK);
    EXPECT_EQ(firmwareSubscription.Cancel(), S_OK);
}

TEST_F(FirmwareEvents, TwoSubscriptionsBothReceiveEachEvent)
{
    RecordingSink first(L"EventCode");
    RecordingSink second(L"EventCode");
    Subscription one(L"root\\wmi", L"SELECT * FROM DualOsEvent", first);
    Subscription two(L"root\\wmi", L"select * from dualosevent", second);
    ASSERT_EQ(one.Result(), S_OK);
    ASSERT_EQ(two.Result(), S_OK);
    ASSERT_THAT(Firmsim(L"raise 0xD6"), Succeeds());
    EXPECT_EQ(first.WaitForEvents(1, 1000).size(), 1u);
    EXPECT_EQ(second.WaitForEvents(1, 1000).size(), 1u);
    EXPECT_EQ(one.Cancel(), S_OK);
    EXPECT_EQ(two.Cancel(), S_OK);
}

TEST_F(FirmwareEvents, ConcurrentWritersFromSeveralProcessesLoseNothing)
{
    RecordingSink sink(L"EventCode");
    Subscription subscription(L"root\\wmi", L"SELECT * FROM DualOsEvent", sink);
    ASSERT_EQ(subscription.Result(), S_OK);

    // Four firmsim processes raise while two threads of this process call the firmware.
    constexpr uint32_t kCallsPerThread = 10;
    std::vector<std::thread> workers;
    std::vector<obrin::test::ProcessResult> raises(4);
    for (size_t i = 0; i < raises.size(); ++i)
        workers.emplace_back([&, i] { raises[i] = Firmsim(L"raise " + std::to_wstring(0xD1 + i)); });
    std::vector<HRESULT> callResults(2 * kCallsPerThread, E_FAIL);
    for (uint32_t t = 0; t < 2; ++t) {
        workers.emplace_back([&, t] {
            obrin::ComInit com(COINIT_MULTITHREADED);
            ComPtr<IWbemServices> services;
            if (FAILED(Connect(L"root\\wmi", services)))
                return;
            for (uint32_t i = 0; i < kCallsPerThread; ++i)
                callResults[t * kCallsPerThread + i] = Notify(services.get(), 0x100 + t, i).hr;
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_THAT(raises, testing::Each(ExitsWith(0)));
    EXPECT_EQ(callResults, std::vector<HRESULT>(2 * kCallsPerThread, S_OK));

    std::set<LONG> codes;
    for (const auto& event : sink.WaitForEvents(4, 3000))
        codes.insert(event.value);
    EXPECT_EQ(codes, (std::set<LONG>{0xD1, 0xD2, 0xD3, 0xD4}));

    // Every call is recorded once, each thread's in its own order.
    const std::string calls = Calls();
    for (uint32_t t = 0; t < 2; ++t) {
        size_t position = 0;
        for (uint32_t i = 0; i < kCallsPerThread; ++i) {
            char line[32];
            snprintf(line, sizeof line, "0x%08x 0x%08x\n", 0x100 + t, i);
            const size_t found = calls.find(line, position);
            ASSERT_NE(found, std::string::npos) << line << " missing or out of order in\n" << calls;
            position = found + 1;
        }
    }
    EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 2 * kCallsPerThread);
    EXPECT_EQ(subscription.Cancel(), S_OK);
}

TEST_F(FirmwareEvents, NotificationQueriesForOtherClassesAreRefused)
{
    RecordingSink sink(L"EventCode");
    EXPECT_EQ(Subscription(L"root\\wmi", L"SELECT * FROM DualOsMethod", sink).Result(),
              static_cast<HRESULT>(WBEM_E_NOT_EVENT_CLASS));
    EXPECT_EQ(Subscription(L"root\\wmi", L"SELECT * FROM NoSuchEvent", sink).Result(),
              static_cast<HRESULT>(WBEM_E_INVALID_CLASS));
    EXPECT_EQ(Subscription(L"root\\wmi", L"SELECT * FROM", sink).Result(), static_cast<HRESULT>(WBEM_E_INVALID_QUERY));
}

std::string ReadStateFile()
{
    return obrin::test::ReadBytes(ProgramDirectory() + L"firmsim.state").value_or("<missing>");
}

TEST(FirmsimControl, BadInputGivesOneLineErrorExitTwoAndKeepsTheState)
{
    ASSERT_THAT(Firmsim(L"reset"), Succeeds());
    ASSERT_THAT(Firmsim(L"answer 16 5"), Succeeds());
    ASSERT_THAT(Firmsim(L"raise 0xD2"), Succeeds());
    const std::string before = ReadStateFile();
    ASSERT_NE(before, "<missing>");
    for (const wchar_t* arguments : {L"", L"bogus", L"answer 16", L"answer 16 x", L"fail 17 0", L"rettype uint16",
                                     L"raise -1", L"raise 0x100000000", L"resume 65536", L"calls now", L"reset all"}) {
        SCOPED_TRACE(testing::Message() << "firmsim " << testing::PrintToString(std::wstring(arguments)));
        const ProcessResult run = Firmsim(arguments);
        EXPECT_THAT(run, ExitsWith(2));
        EXPECT_EQ(run.output, "");
        ASSERT_GE(run.errors.size(), 10u);
        EXPECT_EQ(run.errors.rfind("firmsim: ", 0), 0u) << run.errors;
        EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << run.errors;
    }
    EXPECT_EQ(ReadStateFile(), before);
}

TEST(FirmsimControl, DamagedStateIsReportedAndOnlyResetReplacesIt)
{
    const std::wstring path = ProgramDirectory() + L"firmsim.state";
    ASSERT_TRUE(obrin::test::WriteBytes(path, "garbage\n"));
    const ProcessResult run = Firmsim(L"answer 17 1");
    EXPECT_THAT(run, ExitsWith(1));
    EXPECT_NE(run.errors.find("damaged"), std::string::npos) << run.errors;
    EXPECT_EQ(ReadStateFile(), "garbage\n");

    // The method fails rather than answer from a state it cannot record into.
    ComPtr<IWbemServices> services;
    ASSERT_EQ(Connect(L"root\\wmi", services), S_OK);
    EXPECT_EQ(Notify(services.get(), 17, 0).hr, static_cast<HRESULT>(WBEM_E_FAILED));

    ASSERT_THAT(Firmsim(L"reset"), Succeeds());
    EXPECT_EQ(ReturnValue(Notify(services.get(), 17, 0)), 0u);
}

std::wstring LocatorServer()
{
    wchar_t value[MAX_PATH] = {};
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kLocatorServerKey, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, value, &bytes) != ERROR_SUCCESS)
        return L"<unreadable>";
    return value;
}

TEST(FirmsimControl, UninstallRestoresTheOriginalLocatorAndInstallIsRepeatable)
{
    const std::wstring ours = ProgramDirectory() + L"firmwmi.dll";
    ASSERT_TRUE(EqualsIgnoringCase(LocatorServer(), ours)) << testing::PrintToString(LocatorServer());
    ASSERT_THAT(Firmsim(L"install"), Succeeds());
    ASSERT_THAT(Firmsim(L"uninstall"), Succeeds());
    const std::wstring original = LocatorServer();
    EXPECT_NE(original.find(L"wbemprox.dll"), std::wstring::npos) << testing::PrintToString(original);

    EXPECT_THAT(Firmsim(L"uninstall"), ExitsWith(1));
    EXPECT_EQ(LocatorServer(), original);

    ASSERT_THAT(Firmsim(L"install"), Succeeds());
    EXPECT_TRUE(EqualsIgnoringCase(LocatorServer(), ours));
}

}  // namespace
