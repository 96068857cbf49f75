// The WMI wrappers against Wine's own root\cimv2, the firmware call where no
// firmware exists, and the sinks fed in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "common/log.h"
#include "tests/wmi/wmi_test_support.h"
#include "wmi/dualos_notify.h"
#include "wmi/event_sinks.h"
#include "wmi/wmi_objects.h"

using wmitest::LevelAndText;
using wmitest::LogLinesOf;

namespace {

// Every test owns one CoInitializeEx that its CWMIServices destructor ends.
[[nodiscard]] HRESULT EnterMta()
{
    return CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

void ConnectCimv2(CWMIServices& services)
{
    ASSERT_EQ(S_OK, services.ConnectServer(L"root\\cimv2", 0));
    ASSERT_FALSE(services.IsEmpty());
    ASSERT_EQ(S_OK, services.SetProxyBlanket(RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE));
}

TEST(WmiServices, ConnectsAgainAfterSecurityIsAlreadySet)
{
    // The second ConnectServer meets RPC_E_TOO_LATE from CoInitializeSecurity.
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices first;
    ConnectCimv2(first);
    // Windows answers RPC_E_TOO_LATE once security is set. Wine 8's
    // CoInitializeSecurity is a stub that accepts every call with S_OK, so
    // there the second connection does not meet RPC_E_TOO_LATE at all.
    const HRESULT again = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
    EXPECT_TRUE(again == RPC_E_TOO_LATE || again == S_OK) << std::hex << again;
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices second;
    ConnectCimv2(second);
    // Reconnecting the same wrapper replaces its connection.
    IWbemServices* before = second.Get();
    before->AddRef();
    EXPECT_EQ(S_OK, second.ConnectServer(L"root\\cimv2", 0));
    EXPECT_FALSE(second.IsEmpty());
    before->Release();
}

TEST(WmiServices, FailedConnectLeavesWrapperEmpty)
{
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices services;
    ConnectCimv2(services);
    const HRESULT hr = services.ConnectServer(L"root\\nosuchnamespace", 0);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_TRUE(services.IsEmpty());
    CWMIEnumObject result;
    EXPECT_EQ(WBEM_E_FAILED, services.ExecQuery(L"SELECT * FROM Win32_OperatingSystem", 0, result));
}

TEST(WmiServices, EveryOperationOnAnUnconnectedWrapperFails)
{
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices services;
    CWMIEnumObject result;
    CWMIObject object;
    CWMIMethod method;
    struct NeverCalledSink : CWMIEventSink {
        HRESULT EventHandler(CWMIObject&) noexcept override { return E_UNEXPECTED; }
    };
    auto* sink = new NeverCalledSink;
    sink->AddRef();

    EXPECT_EQ(WBEM_E_FAILED, services.SetProxyBlanket(RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE));
    EXPECT_EQ(WBEM_E_FAILED, services.ExecQuery(L"SELECT * FROM Win32_OperatingSystem", 0, result));
    obrin::ComPtr<IWbemObjectSink> stubSink;
    EXPECT_EQ(WBEM_E_FAILED, services.ExecNotificationQueryAsync(L"SELECT * FROM Win32_PowerManagementEvent", sink,
                                                                 stubSink));
    EXPECT_EQ(WBEM_E_FAILED, services.GetObject(L"Win32_OperatingSystem", 0, object));
    EXPECT_EQ(WBEM_E_FAILED, services.GetMethod(L"Win32_Process", L"Create", method));
    EXPECT_EQ(WBEM_E_FAILED, services.ExecMethod(L"Win32_Process", method, 0));
    EXPECT_FALSE(stubSink);
    EXPECT_EQ(0u, sink->Release());
}

TEST(WmiObjects, EmptyWrappersAndMissingOutputs)
{
    CWMIEnumObject noEnumerator;
    CWMIObject slot;
    ULONG returned = 77;
    EXPECT_EQ(WBEM_E_FAILED, noEnumerator.Next(0, 1, &slot, &returned));
    EXPECT_EQ(77u, returned);

    CWMIObject empty;
    VARIANT value = wmitest::MakeI4(5);
    std::wstring text = L"kept";
    DWORD number = 9;
    WORD shortNumber = 9;
    EXPECT_EQ(WBEM_E_FAILED, empty.Get(L"Name", value));
    EXPECT_EQ(WBEM_E_FAILED, empty.Put(L"Name", value, CIM_UINT32));
    EXPECT_EQ(WBEM_E_FAILED, empty.GetString(L"Name", &text));
    EXPECT_EQ(WBEM_E_FAILED, empty.GetUInt16(L"Name", &shortNumber));
    EXPECT_EQ(WBEM_E_FAILED, empty.GetUInt32(L"Name", &number));
    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, empty.GetString(L"Name", nullptr));
    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, empty.GetUInt32(L"Name", nullptr));
    EXPECT_EQ(L"kept", text);
    EXPECT_EQ(9u, number);
    EXPECT_EQ(9u, shortNumber);

    CWMIMethod method;
    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, method.Init(empty, nullptr));
    EXPECT_EQ(WBEM_E_FAILED, method.Init(empty, L"Create"));
    EXPECT_EQ(WBEM_E_FAILED, method.PutParam(WMIParamSet::In, L"NotificationCode", 17));
    EXPECT_EQ(WBEM_E_FAILED, method.GetParam(WMIParamSet::Out, L"NotifycationReturnValue", &number));
    EXPECT_EQ(nullptr, method.Name());
}

TEST(WmiQueries, EnumeratesInstancesAndReadsTypedProperties)
{
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices services;
    ConnectCimv2(services);
    CWMIEnumObject result;
    ASSERT_EQ(S_OK, services.ExecQuery(L"SELECT * FROM Win32_ComputerSystem", WBEM_FLAG_RETURN_IMMEDIATELY, result));

    CWMIObject system[2];
    ULONG returned = 0;
    // One instance: the second slot meets the end of the result.
    EXPECT_EQ(WBEM_S_FALSE, result.Next(WBEM_INFINITE, 2, system, &returned));
    EXPECT_EQ(1u, returned);
    ASSERT_FALSE(system[0].IsEmpty());
    EXPECT_TRUE(system[1].IsEmpty());

    std::wstring name;
    EXPECT_EQ(S_OK, system[0].GetString(L"Name", &name));
    EXPECT_FALSE(name.empty());
    DWORD processors = 0;
    EXPECT_EQ(S_OK, system[0].GetUInt32(L"NumberOfProcessors", &processors));
    EXPECT_GE(processors, 1u);
    WORD domainRole = 0xBEEF;
    EXPECT_EQ(S_OK, system[0].GetUInt16(L"DomainRole", &domainRole));
    EXPECT_NE(0xBEEF, domainRole);

    // The CIM type decides, not the VARIANT tag (uint16 arrives as VT_I4).
    DWORD untouched = 0xABCDEF;
    EXPECT_EQ(WBEM_E_TYPE_MISMATCH, system[0].GetUInt32(L"DomainRole", &untouched));
    EXPECT_EQ(0xABCDEFu, untouched);
    std::wstring text = L"kept";
    EXPECT_EQ(WBEM_E_TYPE_MISMATCH, system[0].GetString(L"NumberOfProcessors", &text));
    EXPECT_EQ(L"kept", text);
    WORD shortUntouched = 0x1234;
    EXPECT_EQ(WBEM_E_TYPE_MISMATCH, system[0].GetUInt16(L"Name", &shortUntouched));
    EXPECT_EQ(0x1234, shortUntouched);
    EXPECT_TRUE(FAILED(system[0].GetUInt32(L"NoSuchProperty", &untouched)));
    EXPECT_EQ(0xABCDEFu, untouched);

    VARIANT value;
    VariantInit(&value);
    CIMTYPE cimType = CIM_EMPTY;
    ASSERT_EQ(S_OK, system[0].Get(L"NumberOfProcessors", value, &cimType));
    EXPECT_EQ(CIM_UINT32, cimType);
    std::wstring asText;
    EXPECT_EQ(S_OK, VariantToText(value, asText));
    EXPECT_EQ(std::to_wstring(processors), asText);
    VariantClear(&value);
}

TEST(WmiQueries, NextOnAnEmptyResultLeavesTheSlotEmpty)
{
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices services;
    ConnectCimv2(services);
    CWMIEnumObject result;
    ASSERT_EQ(S_OK, services.ExecQuery(L"SELECT * FROM Win32_ComputerSystem", 0, result));
    CWMIObject object;
    ASSERT_EQ(S_OK, result.Next(WBEM_INFINITE, 1, &object));
    ASSERT_FALSE(object.IsEmpty());

    // A new query releases the old enumerator; Next empties the filled slot.
    ASSERT_EQ(S_OK, services.ExecQuery(L"SELECT * FROM Win32_DiskDrive WHERE Index = 999", 0, result));
    ULONG returned = 5;
    EXPECT_EQ(WBEM_S_FALSE, result.Next(WBEM_INFINITE, 1, &object, &returned));
    EXPECT_EQ(0u, returned);
    EXPECT_TRUE(object.IsEmpty());
    std::wstring text = L"kept";
    EXPECT_EQ(WBEM_E_FAILED, object.GetString(L"DeviceID", &text));
    EXPECT_EQ(L"kept", text);
    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, result.Next(WBEM_INFINITE, 1, nullptr));
}

TEST(WmiMethods, MethodWithoutInParametersCannotBeHeld)
{
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices services;
    ConnectCimv2(services);
    CWMIMethod method;
    EXPECT_EQ(WBEM_E_FAILED, services.GetMethod(L"Win32_Service", L"StopService", method));
    EXPECT_EQ(nullptr, method.Name());
    EXPECT_TRUE(method.InParams().IsEmpty());
    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, services.GetMethod(L"Win32_Service", nullptr, method));
    EXPECT_TRUE(FAILED(services.GetMethod(L"NoSuchClass", L"Create", method)));
}

TEST(WmiMethods, CallsAMethodAndReadsItsOutParameters)
{
    ASSERT_TRUE(SUCCEEDED(EnterMta()));
    CWMIServices services;
    ConnectCimv2(services);
    CWMIMethod method;
    ASSERT_EQ(S_OK, services.GetMethod(L"StdRegProv", L"GetStringValue", method));
    EXPECT_STREQ(L"GetStringValue", method.Name());
    ASSERT_FALSE(method.InParams().IsEmpty());
    EXPECT_TRUE(method.OutParams().IsEmpty());

    // hDefKey is a sint32: a CIM type of 0 lets the property's own type apply.
    VARIANT key = wmitest::MakeI4(static_cast<LONG>(0x80000002));  // HKEY_LOCAL_MACHINE
    ASSERT_EQ(S_OK, method.InParams().Put(L"hDefKey", key, 0));
    VARIANT subKey;
    V_VT(&subKey) = VT_BSTR;
    V_BSTR(&subKey) = SysAllocString(L"Software\\Microsoft\\Windows NT\\CurrentVersion");
    ASSERT_EQ(S_OK, method.InParams().Put(L"sSubKeyName", subKey, 0));
    VariantClear(&subKey);
    VARIANT valueName;
    V_VT(&valueName) = VT_BSTR;
    V_BSTR(&valueName) = SysAllocString(L"CurrentVersion");
    ASSERT_EQ(S_OK, method.InParams().Put(L"sValueName", valueName, 0));
    VariantClear(&valueName);

    ASSERT_EQ(S_OK, services.ExecMethod(L"StdRegProv", method, 0));
    ASSERT_FALSE(method.OutParams().IsEmpty());
    DWORD returnValue = 99;
    EXPECT_EQ(S_OK, method.GetParam(WMIParamSet::Out, L"ReturnValue", &returnValue));
    EXPECT_EQ(0u, returnValue);
    std::wstring version;
    EXPECT_EQ(S_OK, method.OutParams().GetString(L"sValue", &version));
    EXPECT_FALSE(version.empty());

    // A second call drops the earlier out-parameters first.
    IWbemClassObject* firstOut = method.OutParams().Get();
    firstOut->AddRef();
    EXPECT_EQ(S_OK, services.ExecMethod(L"StdRegProv", method, 0));
    EXPECT_NE(firstOut, method.OutParams().Get());
    firstOut->Release();

    method.Clear();
    EXPECT_EQ(nullptr, method.Name());
    EXPECT_TRUE(method.InParams().IsEmpty());
    EXPECT_TRUE(method.OutParams().IsEmpty());
}

TEST(WmiVariants, ConvertToText)
{
    std::wstring text;
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"root\\wmi");
    EXPECT_EQ(S_OK, VariantToText(value, text));
    EXPECT_EQ(L"root\\wmi", text);
    VariantClear(&value);

    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = nullptr;
    EXPECT_EQ(S_OK, VariantToText(value, text));
    EXPECT_EQ(L"", text);

    EXPECT_EQ(S_OK, VariantToText(wmitest::MakeI4(-5), text));
    EXPECT_EQ(L"-5", text);

    V_VT(&value) = VT_UI4;
    V_UI4(&value) = 0xFFFFFFFFu;
    EXPECT_EQ(S_OK, VariantToText(value, text));
    EXPECT_EQ(L"4294967295", text);

    text = L"kept";
    V_VT(&value) = VT_NULL;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantToText(value, text));
    EXPECT_EQ(L"kept", text);
}

// Plain Wine has no firmware: root\wmi lacks DualOsMethod. Wine answers the
// query for the unknown class with an empty result, so the call ends at the
// __PATH read of the missing instance.
TEST(DualOSSendCommand, WithoutFirmwareKeepsThePresetAndLogsTheFailingStep)
{
    wmitest::DeleteLog();
    DWORD value = 1;
    EXPECT_EQ(WBEM_E_FAILED, DualOS_SendCommand(0x11, value));
    EXPECT_EQ(1u, value);

    const auto lines = LogLinesOf("DualOS_SendCommand");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR CWMIObject::GetString(__PATH):0x80041001", LevelAndText(lines[0]));
    EXPECT_EQ("ERROR [hr=0x80041001] DualOSNotify(0x00000011, 0x00000000).", LevelAndText(lines[1]));
}

// A caller's thread that already lives in a single-threaded apartment keeps
// it: the call's CoInitializeEx fails there, so nothing may be uninitialised.
TEST(DualOSSendCommand, LeavesTheCallersApartmentAlone)
{
    HRESULT afterCall = E_FAIL;
    std::thread caller([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
            return;
        DWORD value = 0x40000000;
        static_cast<void>(DualOS_SendCommand(0x18, 0, value));
        afterCall = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(afterCall))
            CoUninitialize();
        CoUninitialize();
    });
    caller.join();
    EXPECT_EQ(S_FALSE, afterCall) << "the STA was torn down under its owner";
}

class RecordingSink : public CWMIEventSink {
public:
    explicit RecordingSink(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~RecordingSink() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    HRESULT EventHandler(CWMIObject& event) noexcept override
    {
        seen.push_back(event.Get());
        const HRESULT result = seen.size() <= results.size() ? results[seen.size() - 1] : S_OK;
        return result;
    }

    std::vector<IWbemClassObject*> seen;
    std::vector<HRESULT> results;

private:
    bool* m_destroyed;
};

TEST(WmiEventSink, CountsReferencesAndAnswersOnlyItsInterfaces)
{
    bool destroyed = false;
    auto* sink = new RecordingSink(&destroyed);
    EXPECT_EQ(1u, sink->AddRef());

    void* out = nullptr;
    EXPECT_EQ(S_OK, sink->QueryInterface(IID_IWbemObjectSink, &out));
    EXPECT_EQ(static_cast<IWbemObjectSink*>(sink), out);
    EXPECT_EQ(3u, sink->AddRef());  // the QueryInterface added one
    EXPECT_EQ(2u, sink->Release());
    EXPECT_EQ(S_OK, sink->QueryInterface(IID_IUnknown, &out));
    EXPECT_EQ(2u, sink->Release());

    // COM's rule: a failed QueryInterface leaves a null, never a stale pointer.
    out = &destroyed;
    EXPECT_EQ(E_NOINTERFACE, sink->QueryInterface(IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, sink->QueryInterface(IID_IUnknown, nullptr));

    EXPECT_EQ(WBEM_S_NO_ERROR, sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_CALL_CANCELLED, nullptr, nullptr));
    EXPECT_EQ(1u, sink->Release());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(0u, sink->Release());
    EXPECT_TRUE(destroyed);
}

TEST(WmiEventSink, IndicateLendsEachObjectToTheHandler)
{
    auto* sink = new RecordingSink;
    sink->AddRef();
    EXPECT_EQ(WBEM_S_NO_ERROR, sink->Indicate(0, nullptr));
    EXPECT_TRUE(sink->seen.empty());

    wmitest::FakeEventObject first(L"EventCode", CIM_UINT32, wmitest::MakeI4(1));
    wmitest::FakeEventObject second(L"EventCode", CIM_UINT32, wmitest::MakeI4(2));
    wmitest::FakeEventObject third(L"EventCode", CIM_UINT32, wmitest::MakeI4(3));
    IWbemClassObject* objects[] = {&first, &second, &third};

    sink->results = {S_OK, WBEM_S_FALSE, S_OK};
    EXPECT_EQ(S_OK, sink->Indicate(3, objects));
    ASSERT_EQ(3u, sink->seen.size());
    EXPECT_EQ(&first, sink->seen[0]);
    EXPECT_EQ(&third, sink->seen[2]);
    EXPECT_EQ(1, first.References());
    EXPECT_EQ(1, third.References());

    // The first negative handler result ends the delivery and is returned.
    sink->seen.clear();
    sink->results = {S_OK, static_cast<HRESULT>(WBEM_E_FAILED), S_OK};
    EXPECT_EQ(WBEM_E_FAILED, sink->Indicate(3, objects));
    EXPECT_EQ(2u, sink->seen.size());
    EXPECT_EQ(1, second.References());

    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, sink->Indicate(1, nullptr));
    EXPECT_EQ(0u, sink->Release());
}

std::vector<DWORD> g_firmwareCodes;
std::vector<WORD> g_powerTypes;

void RecordFirmwareCode(DWORD code)
{
    g_firmwareCodes.push_back(code);
}

void RecordPowerType(WORD type)
{
    g_powerTypes.push_back(type);
}

class ConcreteSinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_firmwareCodes.clear();
        g_powerTypes.clear();
        CDualOSEventSink::SetHandler(RecordFirmwareCode);
        CPowerEventSink::SetHandler(RecordPowerType);
    }
    void TearDown() override
    {
        CDualOSEventSink::SetHandler(nullptr);
        CPowerEventSink::SetHandler(nullptr);
    }

    static HRESULT Deliver(CWMIEventSink& sink, wmitest::FakeEventObject& object)
    {
        IWbemClassObject* objects[] = {&object};
        return sink.Indicate(1, objects);
    }
};

TEST_F(ConcreteSinks, FirmwareSinkHandsOverAUInt32EventCode)
{
    CDualOSEventSink sink;
    wmitest::FakeEventObject reboot(L"EventCode", CIM_UINT32, wmitest::MakeI4(0xD2));
    EXPECT_EQ(S_OK, Deliver(sink, reboot));
    VARIANT allBits;
    V_VT(&allBits) = VT_UI4;
    V_UI4(&allBits) = 0xFFFFFFFFu;
    wmitest::FakeEventObject large(L"EventCode", CIM_UINT32, allBits);
    EXPECT_EQ(S_OK, Deliver(sink, large));
    EXPECT_EQ((std::vector<DWORD>{0xD2, 0xFFFFFFFFu}), g_firmwareCodes);
}

TEST_F(ConcreteSinks, FirmwareSinkIgnoresAnEventCodeOfAnotherTypeSilently)
{
    wmitest::DeleteLog();
    CDualOSEventSink sink;
    wmitest::FakeEventObject signedCode(L"EventCode", CIM_SINT32, wmitest::MakeI4(0xD2));
    wmitest::FakeEventObject noCode(L"EventType", CIM_UINT32, wmitest::MakeI4(0xD2));
    VARIANT nullValue;
    V_VT(&nullValue) = VT_NULL;
    wmitest::FakeEventObject nullCode(L"EventCode", CIM_UINT32, nullValue);
    EXPECT_EQ(S_OK, Deliver(sink, signedCode));
    EXPECT_EQ(S_OK, Deliver(sink, noCode));
    EXPECT_EQ(S_OK, Deliver(sink, nullCode));
    EXPECT_TRUE(g_firmwareCodes.empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(GetLog().Path())) << "a log line was written";
}

TEST_F(ConcreteSinks, PowerSinkHandsOverAUInt16EventType)
{
    CPowerEventSink sink;
    wmitest::FakeEventObject resume(L"EventType", CIM_UINT16, wmitest::MakeI4(7));
    wmitest::FakeEventObject wideType(L"EventType", CIM_UINT32, wmitest::MakeI4(18));
    EXPECT_EQ(S_OK, Deliver(sink, resume));
    EXPECT_EQ(S_OK, Deliver(sink, wideType));
    EXPECT_EQ(std::vector<WORD>{7}, g_powerTypes);
    EXPECT_TRUE(g_firmwareCodes.empty());
}

TEST(WmiSubscriptions, UnregisterWithoutSubscriptionSucceeds)
{
    EXPECT_EQ(S_OK, UnregisterDualOSEvent());
    EXPECT_EQ(S_OK, UnregisterPowerEvent());
    EXPECT_EQ(nullptr, g_DualOSEventSubscription.Sink());
    EXPECT_TRUE(g_DualOSEventSubscription.Connection().IsEmpty());
}

// Wine 8 has no unsecured apartment (CLSID_UnsecuredApartment is not
// registered) unless the firmware stand-in provides one: the subscription
// then fails at its last step, and the record must come back empty rather
// than keep a sink that was never registered.
TEST(WmiSubscriptions, FailedRegistrationLeavesTheRecordEmpty)
{
    const HRESULT hr = RegisterPowerEvent();
    if (hr == S_OK) {
        EXPECT_EQ(S_OK, UnregisterPowerEvent());
        GTEST_SKIP() << "this prefix has an unsecured apartment; the failure path cannot be reached";
    }
    EXPECT_EQ(REGDB_E_CLASSNOTREG, hr) << std::hex << hr;
    EXPECT_EQ(nullptr, g_PowerEventSubscription.Sink());
    EXPECT_TRUE(g_PowerEventSubscription.Connection().IsEmpty());
    EXPECT_EQ(S_OK, UnregisterPowerEvent());
}

}  // namespace
