// The firmware call and the event subscriptions against the firmware
// stand-in (firmsim.exe beside the test), through the real COM and WMI path.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/support/test_support.h"
#include "tests/wmi/wmi_test_support.h"
#include "wmi/dualos_notify.h"
#include "wmi/event_sinks.h"

using obrin::test::Firmsim;
using obrin::test::FirmsimCalls;
using obrin::test::Succeeds;
using wmitest::LevelAndText;
using wmitest::LogLinesOf;

namespace {

bool g_standInInstalled = false;

// The stand-in replaces the WMI locator of this prefix; it must be in place
// before this process loads any locator.
class StandInEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_standInInstalled = obrin::test::FirmwareStandInPresent() && testing::Value(Firmsim(L"install"), Succeeds());
    }
};

[[maybe_unused]] const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

class FirmwareCall : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_standInInstalled)
            GTEST_SKIP() << "the firmware stand-in (firmsim.exe) is not built or did not install";
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        wmitest::DeleteLog();
    }
};

TEST_F(FirmwareCall, ReadyNotificationStoresTheAnswerAndLogsOneInfoLine)
{
    DWORD value = 1;
    EXPECT_EQ(S_OK, DualOS_SendCommand(0x11, value));
    EXPECT_EQ(0u, value);
    const auto lines = LogLinesOf("DualOS_SendCommand");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("INFO 0x00000000 = DualOSNotify(0x00000011, 0x00000000).", LevelAndText(lines[0]));
    EXPECT_EQ(std::vector<std::string>{"0x00000011 0x00000000"}, FirmsimCalls());
}

TEST_F(FirmwareCall, PassesCodeAndParameterAndReturnsTheFirmwaresWord)
{
    DWORD flags = 0;
    EXPECT_EQ(S_OK, DualOS_SendCommand(0x10, flags));
    EXPECT_EQ(0x40000021u, flags);
    DWORD removal = 1;
    EXPECT_EQ(S_OK, DualOS_SendCommand(0x13, 0x40000320, removal));
    EXPECT_EQ(1u, removal);
    ASSERT_THAT(Firmsim(L"answer 0x18 5"), Succeeds());
    DWORD mode = 0x40000000;
    EXPECT_EQ(S_OK, DualOS_SendCommand(24, mode));
    EXPECT_EQ(5u, mode);

    EXPECT_EQ((std::vector<std::string>{"0x00000010 0x00000000", "0x00000013 0x40000320", "0x00000018 0x00000000"}),
              FirmsimCalls());
    const auto lines = LogLinesOf("DualOS_SendCommand");
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("INFO 0x40000021 = DualOSNotify(0x00000010, 0x00000000).", LevelAndText(lines[0]));
    EXPECT_EQ("INFO 0x00000001 = DualOSNotify(0x00000013, 0x40000320).", LevelAndText(lines[1]));
    EXPECT_EQ("INFO 0x00000005 = DualOSNotify(0x00000018, 0x00000000).", LevelAndText(lines[2]));
}

TEST_F(FirmwareCall, FirmwareWithoutTheMethodClassLeavesThePreset)
{
    ASSERT_THAT(Firmsim(L"absent"), Succeeds());
    DWORD value = 0x40000000;
    EXPECT_EQ(WBEM_E_FAILED, DualOS_SendCommand(0x18, value));
    EXPECT_EQ(0x40000000u, value);
    const auto lines = LogLinesOf("DualOS_SendCommand");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR CWMIObject::GetString(__PATH):0x80041001", LevelAndText(lines[0]));
    EXPECT_EQ("ERROR [hr=0x80041001] DualOSNotify(0x00000018, 0x00000000).", LevelAndText(lines[1]));
    EXPECT_TRUE(FirmsimCalls().empty());
}

TEST_F(FirmwareCall, FailingMethodNamesTheExecMethodStep)
{
    ASSERT_THAT(Firmsim(L"fail 17 0x8004100C"), Succeeds());
    DWORD value = 1;
    EXPECT_EQ(static_cast<HRESULT>(WBEM_E_NOT_SUPPORTED), DualOS_SendCommand(17, value));
    EXPECT_EQ(1u, value);
    const auto lines = LogLinesOf("DualOS_SendCommand");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR CWMIServices::ExecMethod():0x8004100c", LevelAndText(lines[0]));
    EXPECT_EQ("ERROR [hr=0x8004100c] DualOSNotify(0x00000011, 0x00000000).", LevelAndText(lines[1]));

    // Only that code fails.
    DWORD request = 1;
    EXPECT_EQ(S_OK, DualOS_SendCommand(20, request));
    EXPECT_EQ(0u, request);
}

TEST_F(FirmwareCall, MistypedReturnValueIsNotStored)
{
    for (const std::string type : {"sint32", "string"}) {
        SCOPED_TRACE("rettype " + type);
        wmitest::DeleteLog();
        ASSERT_THAT(Firmsim(L"rettype " + std::wstring(type.begin(), type.end())), Succeeds());
        DWORD value = 1;
        EXPECT_EQ(WBEM_E_TYPE_MISMATCH, DualOS_SendCommand(0x11, value));
        EXPECT_EQ(1u, value);
        const auto lines = LogLinesOf("DualOS_SendCommand");
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ("ERROR CWMIMethod::GetParam(OUT, NotificationReturnValue):0x80041005", LevelAndText(lines[0]));
        EXPECT_EQ("ERROR [hr=0x80041005] DualOSNotify(0x00000011, 0x00000000).", LevelAndText(lines[1]));
    }
}

// Values handed to the sinks' handlers on WMI's delivery threads.
template <typename T>
class Deliveries {
public:
    void Add(T value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.push_back(value);
        m_changed.notify_all();
    }
    // Waits until count values have arrived or the time is up; returns them.
    std::vector<T> WaitFor(size_t count, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return m_values.size() >= count; });
        return m_values;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<T> m_values;
};

Deliveries<DWORD> g_firmwareEvents;
Deliveries<WORD> g_powerEvents;

// Events arrive within a second; the rest is slack for a loaded machine.
constexpr std::chrono::milliseconds kDeliveryLimit{8000};
// How long a test waits to be sure that nothing more arrives.
constexpr std::chrono::milliseconds kQuietTime{2500};

class EventSubscriptions : public FirmwareCall {
protected:
    void SetUp() override
    {
        FirmwareCall::SetUp();
        if (IsSkipped())
            return;
        g_firmwareEvents.Clear();
        g_powerEvents.Clear();
        CDualOSEventSink::SetHandler([](DWORD code) { g_firmwareEvents.Add(code); });
        CPowerEventSink::SetHandler([](WORD type) { g_powerEvents.Add(type); });
    }
    void TearDown() override
    {
        EXPECT_EQ(S_OK, UnregisterDualOSEvent());
        EXPECT_EQ(S_OK, UnregisterPowerEvent());
        CDualOSEventSink::SetHandler(nullptr);
        CPowerEventSink::SetHandler(nullptr);
    }
};

TEST_F(EventSubscriptions, FirmwareEventReachesTheHandlerUntilUnregistered)
{
    ASSERT_EQ(S_OK, RegisterDualOSEvent());
    ASSERT_NE(nullptr, g_DualOSEventSubscription.Sink());
    EXPECT_NE(nullptr, g_DualOSEventSubscription.Sink()->StubSink());
    EXPECT_FALSE(g_DualOSEventSubscription.Connection().IsEmpty());

    ASSERT_THAT(Firmsim(L"raise 0xD2"), Succeeds());
    EXPECT_EQ(std::vector<DWORD>{0xD2}, g_firmwareEvents.WaitFor(1, kDeliveryLimit));

    EXPECT_EQ(S_OK, UnregisterDualOSEvent());
    EXPECT_EQ(nullptr, g_DualOSEventSubscription.Sink());
    EXPECT_TRUE(g_DualOSEventSubscription.Connection().IsEmpty());
    ASSERT_THAT(Firmsim(L"raise 0xD5"), Succeeds());
    EXPECT_EQ(std::vector<DWORD>{0xD2}, g_firmwareEvents.WaitFor(2, kQuietTime));
    EXPECT_TRUE(g_powerEvents.WaitFor(1, std::chrono::milliseconds(0)).empty());
}

TEST_F(EventSubscriptions, RegisteringAgainCancelsTheFirstSubscription)
{
    ASSERT_EQ(S_OK, RegisterDualOSEvent());
    ASSERT_EQ(S_OK, RegisterDualOSEvent());
    ASSERT_THAT(Firmsim(L"raise 0xD6"), Succeeds());
    EXPECT_EQ(std::vector<DWORD>{0xD6}, g_firmwareEvents.WaitFor(1, kDeliveryLimit));
    // A second delivery would come from a first subscription left active.
    EXPECT_EQ(std::vector<DWORD>{0xD6}, g_firmwareEvents.WaitFor(2, kQuietTime));
}

// Replacing a subscription that cannot be cancelled would leave it delivering
// every event beside the new one: Register gives up and keeps it instead.
TEST_F(EventSubscriptions, RegisterKeepsASubscriptionItCannotCancel)
{
    ASSERT_EQ(S_OK, RegisterDualOSEvent());
    CWMIEventSink* first = g_DualOSEventSubscription.Sink();
    ASSERT_NE(nullptr, first);
    // Cancelled behind the record's back, the record's own cancel now fails.
    ASSERT_EQ(S_OK, g_DualOSEventSubscription.Connection().Get()->CancelAsyncCall(first->StubSink()));
    EXPECT_EQ(static_cast<HRESULT>(WBEM_E_NOT_FOUND), RegisterDualOSEvent());
    EXPECT_EQ(first, g_DualOSEventSubscription.Sink());
    ASSERT_THAT(Firmsim(L"raise 0xD3"), Succeeds());
    EXPECT_TRUE(g_firmwareEvents.WaitFor(1, kQuietTime).empty()) << "a new subscription was made";
    // Without its stub the record drops the sink without a cancel (TearDown).
    first->ReleaseStubSink();
}

TEST_F(EventSubscriptions, ResumeReachesThePowerHandler)
{
    ASSERT_EQ(S_OK, RegisterDualOSEvent());
    ASSERT_EQ(S_OK, RegisterPowerEvent());
    ASSERT_NE(nullptr, g_PowerEventSubscription.Sink());

    ASSERT_THAT(Firmsim(L"resume 7"), Succeeds());
    EXPECT_EQ(std::vector<WORD>{7}, g_powerEvents.WaitFor(1, kDeliveryLimit));
    ASSERT_THAT(Firmsim(L"resume 18"), Succeeds());
    EXPECT_EQ((std::vector<WORD>{7, 18}), g_powerEvents.WaitFor(2, kDeliveryLimit));
    // Power events are not firmware events.
    EXPECT_TRUE(g_firmwareEvents.WaitFor(1, std::chrono::milliseconds(0)).empty());
}

}  // namespace
