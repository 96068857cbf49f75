// The running service end to end under Wine: the real Service Control
// Manager, ObrinService.exe, the firmware stand-in (firmsim) and the switcher
// recorder in place of ObrinSwitcher.exe.
#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/script/script_client.h"
#include "switcher/client/dualos_client.h"
#include "tests/support/firmware_fixture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

using namespace obrin;
using namespace obrin::test;

namespace {

const std::string READY_CALL = "0x00000011 0x00000000";
const std::string CAPABILITY_CALL = "0x00000010 0x00000000";

std::string SwitcherCommand(const std::string& action)
{
    const std::wstring directory = ProgramDirectory();
    return "\"" + std::string(directory.begin(), directory.end()) + "ObrinSwitcher.exe\" -" + action + " -nomsg";
}

DWORD Install()
{
    const ProcessResult result = RunProgram(L"ObrinService.exe", L"-install", 90000);
    return result.finished ? result.exitCode : 0xDEAD;
}

void SetCodeName(const wchar_t* codeName)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_CODENAME_VALUE, REG_SZ, codeName,
                    static_cast<DWORD>((wcslen(codeName) + 1) * sizeof(wchar_t)));
}

bool WaitForCallCount(size_t count, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (FirmsimCalls().size() < count) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}

// Sends the stop control from another thread (the call returns only when the
// handler has finished) and watches the states the service goes through.
struct StopObservation {
    std::vector<DWORD> states;  // each state once, in the order first seen
    DWORD stopPendingMs = 0;    // how long STOP_PENDING was seen
    bool stopped = false;
};

StopObservation StopAndWatch(DWORD timeoutMs)
{
    StopObservation seen;
    if (const std::optional<DWORD> before = RawServiceState())
        seen.states.push_back(*before);
    std::thread stopper([] {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        UniqueServiceHandle service(OpenServiceW(manager.get(), L"OBRINSERVICE", SERVICE_ALL_ACCESS));
        SERVICE_STATUS status = {};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    });
    const DWORD start = GetTickCount();
    DWORD pendingSince = 0;
    while (GetTickCount() - start < timeoutMs) {
        const std::optional<DWORD> state = RawServiceState();
        if (state && (seen.states.empty() || seen.states.back() != *state)) {
            seen.states.push_back(*state);
            if (*state == SERVICE_STOP_PENDING)
                pendingSince = GetTickCount();
            if (*state == SERVICE_STOPPED && pendingSince)
                seen.stopPendingMs = GetTickCount() - pendingSince;
        }
        if (state == SERVICE_STOPPED) {
            seen.stopped = true;
            break;
        }
        Sleep(25);
    }
    stopper.join();
    return seen;
}

class ServiceRun : public FirmwareStandInTest {
protected:
    void SetUp() override
    {
        FirmwareStandInTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(RemoveServiceIfPresent());
        ASSERT_TRUE(Firmsim(L"reset"));
        ASSERT_TRUE(PlaceSwitcherRecorder());
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_CODENAME_VALUE);
    }
    void TearDown() override
    {
        // The stop sequence's unpinning run need not linger.
        SetSwitcherStayAlive(0);
        EXPECT_TRUE(RemoveServiceIfPresent());
    }
};

TEST_F(ServiceRun, StartNotifiesReadyQueriesTwiceAndPinsBeforeRunning)
{
    SetSwitcherStayAlive(2000);
    const LogTail log;
    const DWORD start = GetTickCount();
    ASSERT_EQ(Install(), 0u);
    EXPECT_GE(GetTickCount() - start, 1900u) << "RUNNING came before the pinning run ended";
    EXPECT_EQ(FirmsimCalls(), (std::vector<std::string>{READY_CALL, CAPABILITY_CALL, CAPABILITY_CALL}));
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarpin")});
    EXPECT_TRUE(SwitcherRunEnded(SwitcherCommand("taskbarpin")));

    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 4u) << log.NewText();
    EXPECT_NE(lines[0].find("[INFO][DualOS_SendCommand():"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] 0x00000000 = DualOSNotify(0x00000011, 0x00000000)."), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("] 0x40000021 = DualOSNotify(0x00000010, 0x00000000)."), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("[INFO][SetPowerState():"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("] Launch(" + SwitcherCommand("taskbarpin") + ")"), std::string::npos) << lines[3];
}

TEST_F(ServiceRun, MissingPinBitUnpinsWithoutWaiting)
{
    ASSERT_TRUE(Firmsim(L"answer 16 0x40000001"));
    SetSwitcherStayAlive(8000);
    const DWORD start = GetTickCount();
    ASSERT_EQ(Install(), 0u);
    EXPECT_LT(GetTickCount() - start, 7000u);
    EXPECT_EQ(FirmsimCalls(), (std::vector<std::string>{READY_CALL, CAPABILITY_CALL, CAPABILITY_CALL}));
    ASSERT_TRUE(WaitForSwitcherStarts(1, 5000));
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarunpin")});
    EXPECT_FALSE(SwitcherRunEnded(SwitcherCommand("taskbarunpin"))) << "the start waited for the unpinning run";
}

TEST_F(ServiceRun, FailedFirstTestSkipsSecondQuery)
{
    ASSERT_TRUE(Firmsim(L"answer 16 0x20"));
    ASSERT_EQ(Install(), 0u);
    EXPECT_EQ(FirmsimCalls(), (std::vector<std::string>{READY_CALL, CAPABILITY_CALL}));
    ASSERT_TRUE(WaitForSwitcherStarts(1, 5000));
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarunpin")});
}

TEST_F(ServiceRun, TalvexSkipsCapabilityQueriesAndTaskbar)
{
    SetCodeName(L"Talvex");
    ASSERT_EQ(Install(), 0u);
    Sleep(1000);
    EXPECT_EQ(FirmsimCalls(), std::vector<std::string>{READY_CALL});
    EXPECT_TRUE(SwitcherStarts().empty());
}

TEST_F(ServiceRun, LowerCaseTalvexIsAnyOtherPlatform)
{
    SetCodeName(L"talvex");
    ASSERT_EQ(Install(), 0u);
    EXPECT_EQ(FirmsimCalls(), (std::vector<std::string>{READY_CALL, CAPABILITY_CALL, CAPABILITY_CALL}));
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarpin")});
}

TEST_F(ServiceRun, RefusedReadyStopsServiceAfterTheStopSequence)
{
    ASSERT_TRUE(Firmsim(L"answer 17 1"));
    const LogTail log;
    EXPECT_EQ(Install(), 1u);
    EXPECT_FALSE(RawServiceState().has_value()) << "-install removes the entry of a service that did not start";
    EXPECT_EQ(FirmsimCalls(), std::vector<std::string>{READY_CALL});
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarunpin")});
    EXPECT_TRUE(SwitcherRunEnded(SwitcherCommand("taskbarunpin")));
    const std::vector<std::string> lines = log.NewLines();
    EXPECT_EQ(CountLinesWith(lines, "[ERROR][ServiceInit():"), 1u) << log.NewText();
    EXPECT_EQ(CountLinesWith(lines, "] Fail to notify BIOS ready."), 1u) << log.NewText();
    EXPECT_EQ(CountLinesWith(lines, "] Launch(" + SwitcherCommand("taskbarunpin") + ")"), 1u) << log.NewText();
    EXPECT_FALSE(WaitNamedPipeW(L"\\\\.\\pipe\\DualOSScriptServer", 100));
}

TEST_F(ServiceRun, FirmwareEventsLaunchTheirActions)
{
    ASSERT_EQ(Install(), 0u);
    ASSERT_TRUE(PlaceSwitcherRecorder());
    const LogTail log;
    const struct {
        const wchar_t* code;
        const char* action;
    } launches[] = {{L"0xD1", "config"}, {L"0xD7", "config"}, {L"0xD2", "reboot"},  {L"0xD3", "s3"},
                    {L"0xD4", "s4"},     {L"0xD5", "shutdown"}, {L"0xD6", "hybrid"}};
    std::vector<std::string> expected;
    for (const auto& launch : launches) {
        SCOPED_TRACE(launch.action);
        ASSERT_TRUE(Firmsim(std::wstring(L"raise ") + launch.code));
        expected.push_back(SwitcherCommand(launch.action));
        ASSERT_TRUE(WaitForSwitcherStarts(expected.size(), 10000));
        EXPECT_EQ(SwitcherStarts(), expected);
    }
    for (const wchar_t* code : {L"0xD8", L"0x42", L"0xE1"})
        ASSERT_TRUE(Firmsim(std::wstring(L"raise ") + code));
    Sleep(3000);
    EXPECT_EQ(SwitcherStarts(), expected) << "0xD8, 0x42 and 0xE1 launch nothing";

    const std::vector<std::string> lines = log.NewLines();
    EXPECT_EQ(CountLinesWith(lines, "[INFO][CDualOSEventSink::EventHandler():"), 10u) << log.NewText();
    for (const char* shown : {"d1", "d7", "d2", "d3", "d4", "d5", "d6", "d8", "42", "e1"}) {
        SCOPED_TRACE(shown);
        EXPECT_EQ(CountLinesWith(lines, std::string("] WMI Event=") + shown + "."), 1u) << log.NewText();
    }
    EXPECT_EQ(CountLinesWith(lines, "[ERROR][CDualOSEventSink::EventHandler():"), 1u) << log.NewText();
    EXPECT_EQ(CountLinesWith(lines, "] Notify Boot Type Error."), 1u) << log.NewText();
}

TEST_F(ServiceRun, ResumeRepeatsReadyOnlyForSevenAndEighteen)
{
    ASSERT_EQ(Install(), 0u);
    ASSERT_EQ(FirmsimCalls().size(), 3u);
    ASSERT_TRUE(Firmsim(L"resume 7"));
    ASSERT_TRUE(WaitForCallCount(4, 10000));
    ASSERT_TRUE(Firmsim(L"resume 18"));
    ASSERT_TRUE(WaitForCallCount(5, 10000));
    ASSERT_TRUE(Firmsim(L"resume 4"));
    Sleep(3000);
    EXPECT_EQ(FirmsimCalls(), (std::vector<std::string>{READY_CALL, CAPABILITY_CALL, CAPABILITY_CALL, READY_CALL,
                                                        READY_CALL}));
}

TEST_F(ServiceRun, ScriptThroughThePipeReachesTheFirmware)
{
    ASSERT_EQ(Install(), 0u);
    uint32_t answer = 0;
    EXPECT_EQ(DualOS_SendCommand(24, answer), S_OK);
    EXPECT_EQ(answer, 0x40000000u);
    const std::vector<std::string> calls = FirmsimCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "0x00000018 0x00000000");
}

// Any local user reaches the LocalSystem service through the pipe. WQL ends a
// word at "*" too and reads a quoted string as one word, so this query is one
// of Win32_Process whatever its string holds: refused, and nothing after it runs.
TEST_F(ServiceRun, QueryOfAnotherClassIsRefusedAndEndsTheScript)
{
    ASSERT_EQ(Install(), 0u);
    script::CScriptClient client;
    ASSERT_TRUE(client.Connect()) << GetLastError();
    ASSERT_TRUE(client.Send(L"[100=root\\wmi,0,][101=4,3,0,]"
                            L"[102=select *from Win32_Process where Name=' from DualOsMethod ',16,][200=-1,][0=after,1,]"));
    script::ScriptVariables results;
    ASSERT_TRUE(client.Receive(results));
    EXPECT_EQ(results[L"WMIS_HRESULT"], L"-2147217405");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"2");
    EXPECT_EQ(results.count(L"after"), 0u);
}

TEST_F(ServiceRun, StopStaysPendingWhileUnpinningRuns)
{
    ASSERT_EQ(Install(), 0u);
    ASSERT_TRUE(PlaceSwitcherRecorder());
    SetSwitcherStayAlive(3000);
    const StopObservation seen = StopAndWatch(20000);
    ASSERT_TRUE(seen.stopped);
    EXPECT_EQ(seen.states, (std::vector<DWORD>{SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}));
    EXPECT_GE(seen.stopPendingMs, 2000u);
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarunpin")});
    EXPECT_TRUE(SwitcherRunEnded(SwitcherCommand("taskbarunpin")));
}

TEST_F(ServiceRun, StopWithIdlePipeClientsCompletes)
{
    ASSERT_EQ(Install(), 0u);
    std::vector<UniqueFileHandle> clients;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitNamedPipeW(L"\\\\.\\pipe\\DualOSScriptServer", 5000)) << GetLastError();
        clients.emplace_back(CreateFileW(L"\\\\.\\pipe\\DualOSScriptServer", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(clients.back()) << GetLastError();
    }
    const DWORD start = GetTickCount();
    const StopObservation seen = StopAndWatch(20000);
    EXPECT_TRUE(seen.stopped);
    EXPECT_LT(GetTickCount() - start, 15000u);
}

TEST_F(ServiceRun, MissingSwitcherIsLoggedAndTheServiceRuns)
{
    RemoveSwitcher();
    const LogTail log;
    ASSERT_EQ(Install(), 0u);
    EXPECT_EQ(RawServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_GE(lines.size(), 2u) << log.NewText();
    const std::string& launch = lines[lines.size() - 2];
    const std::string& failure = lines.back();
    EXPECT_NE(launch.find("[INFO][SetPowerState():"), std::string::npos) << launch;
    EXPECT_NE(launch.find("] Launch(" + SwitcherCommand("taskbarpin") + ")"), std::string::npos) << launch;
    EXPECT_NE(failure.find("[ERROR][SetPowerState():"), std::string::npos) << failure;
    EXPECT_NE(failure.find("] Fail to call CreateProcess [Token=00000000] [Err=2]."), std::string::npos) << failure;
}

}  // namespace
