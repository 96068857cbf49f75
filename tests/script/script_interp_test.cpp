// The interpreter under Wine against the firmware stand-in, which this test
// installs into its prefix (firmsim.exe beside the test program).
#include "common/script/script_client.h"
#include "service/script/script_interp.h"
#include "service/script/script_server.h"

#include <gtest/gtest.h>
#include <wbemidl.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/ownership.h"
#include "switcher/client/notify_script.h"
#include "tests/support/test_support.h"

namespace obrin::script {
namespace {

// Runs firmsim.exe with arguments, bounded to 60 s; its exit code, or ~0u.
DWORD RunFirmsim(const std::wstring& arguments)
{
    const test::ProcessResult result = test::RunProgram(L"firmsim.exe", arguments, 60000);
    return result.finished ? result.exitCode : ~0u;
}

bool g_firmwareInstalled = false;

class FirmwareEnvironment : public testing::Environment {
public:
    void SetUp() override { g_firmwareInstalled = RunFirmsim(L"install") == 0; }
};

[[maybe_unused]] testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new FirmwareEnvironment);

// The switcher's script for one DualOSNotify call.
ScriptActions SwitcherScript(unsigned code)
{
    ScriptActions actions;
    ParseScript(NotifyScriptText(code), actions);
    return actions;
}

ScriptVariables Execute(const ScriptActions& actions)
{
    ScriptVariables variables{{L"left", L"over"}};
    EXPECT_EQ(RunScript(actions, variables), 1);
    return variables;
}

ScriptVariables Execute(std::wstring_view script)
{
    ScriptActions actions;
    ParseScript(script, actions);
    return Execute(actions);
}

std::wstring Hresult(HRESULT hr)
{
    return std::to_wstring(static_cast<long>(hr));
}

class ScriptInterpreter : public testing::Test {
protected:
    void SetUp() override
    {
        if (!g_firmwareInstalled)
            GTEST_SKIP() << "the firmware stand-in (firmsim.exe) is not installed in this prefix";
        ASSERT_EQ(RunFirmsim(L"reset"), 0u);
    }
};

TEST_F(ScriptInterpreter, SwitcherScriptReturnsTheFirmwaresAnswer)
{
    ASSERT_EQ(RunFirmsim(L"answer 17 0x1234"), 0u);
    ScriptVariables results = Execute(SwitcherScript(17));
    EXPECT_EQ(results[L"NotifycationReturnValue"], L"4660");
    EXPECT_EQ(results[L"WMIS_HRESULT"], L"0");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"9");
    EXPECT_EQ(results.count(L"__PATH"), 1u);
    EXPECT_EQ(results.count(L"left"), 0u);
}

TEST_F(ScriptInterpreter, ConnectAndBlanketAnswerWithTheTwoKeys)
{
    EXPECT_EQ(FormatResults(Execute(L"[100=root\\wmi,0,][101=4,3,0,]")), L"WMIS_ActionIndex=1;WMIS_HRESULT=0;");
}

TEST_F(ScriptInterpreter, FailingMethodStopsTheRunWithItsIndex)
{
    ASSERT_EQ(RunFirmsim(L"fail 17 0x80041001"), 0u);
    ScriptVariables results = Execute(SwitcherScript(17));
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"8");
    EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_FAILED));
    EXPECT_EQ(results.count(L"NotifycationReturnValue"), 0u);
}

TEST_F(ScriptInterpreter, FirstActionFailingStopsAtIndexZero)
{
    ScriptVariables results = Execute(L"[101=4,3,0,][0=after,1,]");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"0");
    EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_FAILED));
    EXPECT_EQ(results.count(L"after"), 0u);
}

TEST_F(ScriptInterpreter, PathVariableIsSubstitutedOnlyAsAWholeArgument)
{
    ScriptVariables results = Execute(L"[100=root\\wmi,0,][102=Select * from DualOsMethod,16,][200=-1,][401=__PATH,]"
                                  L"[103=$(__PATH),0,][401=InstanceName,][0=literal,x$(__PATH),][0=copy,$(__PATH),]");
    EXPECT_EQ(results[L"WMIS_HRESULT"], L"0");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"7");
    EXPECT_FALSE(results[L"InstanceName"].empty());
    EXPECT_EQ(results[L"literal"], L"x$(__PATH)");
    EXPECT_EQ(results[L"copy"], L"$(__PATH)");
}

TEST_F(ScriptInterpreter, UnknownAndOutOfRangeCodesLeaveTheResult)
{
    // The second Next finds no more objects: WBEM_S_FALSE, which does not stop the run.
    ScriptVariables results = Execute(L"[100=root\\wmi,0,][102=Select * from DualOsMethod,16,][200=-1,][200=-1,]"
                                  L"[42=a,][100000=a,]");
    EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_S_FALSE));
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"5");
}

TEST_F(ScriptInterpreter, EmptyNameAndCaseVariantsAreOneVariable)
{
    EXPECT_EQ(FormatResults(Execute(L"[0=Foo,1,][0=FOO,2,]")), L"Foo=2;WMIS_ActionIndex=1;WMIS_HRESULT=0;");
    EXPECT_EQ(FormatResults(Execute(L"[0=,]")), L"=;WMIS_ActionIndex=0;WMIS_HRESULT=0;");
    EXPECT_EQ(FormatResults(Execute(L"")), L"");
}

TEST_F(ScriptInterpreter, JumpContinuesBehindItsTarget)
{
    ScriptVariables results = Execute(L"[99=3,][0=a,1,][0=b,2,][0=c,3,]");
    EXPECT_EQ(FormatResults(results), L"WMIS_ActionIndex=3;WMIS_HRESULT=0;");
    results = Execute(L"[99=1,][0=skipped,1,][0=run,1,]");
    EXPECT_EQ(results.count(L"skipped"), 0u);
    EXPECT_EQ(results[L"run"], L"1");
}

TEST_F(ScriptInterpreter, EndlessLoopStopsAfterTheActionLimit)
{
    ScriptVariables results = Execute(L"[0=x,1,][99=-1,]");
    EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_CALL_CANCELLED));
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"0");
    EXPECT_EQ(results[L"x"], L"1");
}

TEST_F(ScriptInterpreter, JumpOutsideTheScriptEndsTheRun)
{
    ScriptVariables results = Execute(L"[99=-5,][0=a,1,]");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"-5");
    EXPECT_EQ(results.count(L"a"), 0u);
    results = Execute(L"[99=2147483647,][0=a,1,]");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"2147483647");
}

TEST_F(ScriptInterpreter, PairActionsWithoutObjectsFail)
{
    for (const wchar_t* script : {L"[300=a,b,]", L"[301=a,]", L"[400=a,b,]", L"[401=a,]"}) {
        SCOPED_TRACE(testing::Message() << script);
        ScriptVariables results = Execute(script);
        EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_FAILED));
    }
}

TEST_F(ScriptInterpreter, ReleaseActionsSucceedAndEmptyTheirState)
{
    ScriptVariables results = Execute(L"[100=root\\wmi,0,][199=,][101=4,3,0,]");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"2");
    EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_FAILED));
    results = Execute(L"[100=root\\wmi,0,][102=Select * from DualOsMethod,16,][299=,][200=-1,]");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"3");
    EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_FAILED));
}

// Any local user can send scripts that run as the service: only the
// firmware's method is reachable.
TEST_F(ScriptInterpreter, EverythingButTheFirmwareMethodIsRefused)
{
    const std::wstring connected = L"[100=root\\wmi,0,][101=4,3,0,]";
    const std::wstring withPath = connected + L"[102=Select * from DualOsMethod,16,][200=-1,][401=__PATH,]";
    const struct {
        std::wstring script;
        const wchar_t* index;
    } refused[] = {
        {L"[100=root\\cimv2,0,]", L"0"},
        {L"[100=\\\\.\\root\\cimv2,0,]", L"0"},
        {connected + L"[102=Select * from Win32_Process,16,]", L"2"},
        {connected + L"[102=Select * from DualOsMethodX,16,]", L"2"},
        {connected + L"[102=ASSOCIATORS OF {DualOsMethod} ,16,]", L"2"},
        {connected + L"[103=Win32_Process,0,]", L"2"},
        {connected + L"[103=\\\\otherhost\\root\\wmi:DualOsMethod,0,]", L"2"},
        {connected + L"[103=\\\\.\\root\\cimv2:DualOsMethod,0,]", L"2"},
        {connected + L"[104=Win32_Process,Create,]", L"2"},
        {connected + L"[104=DualOsMethod,Create,]", L"2"},
        {withPath + L"[105=$(__PATH),0,]", L"5"},
        {withPath + L"[104=DualOsMethod,DualOSNotify,][105=Win32_Process,0,]", L"6"},
    };
    for (const auto& [script, index] : refused) {
        SCOPED_TRACE(testing::Message() << script);
        ScriptVariables results = Execute(script);
        EXPECT_EQ(results[L"WMIS_HRESULT"], Hresult(WBEM_E_ACCESS_DENIED));
        EXPECT_EQ(results[L"WMIS_ActionIndex"], index);
    }
}

TEST_F(ScriptInterpreter, FirmwareNamesAreAllowedWithoutRegardToCase)
{
    ScriptVariables results = Execute(L"[100=ROOT\\WMI,0,][101=4,3,0,][102=SELECT * FROM dualosmethod,16,][200=-1,]"
                                  L"[401=__PATH,][104=DUALOSMETHOD,dualosnotify,][300=NotificationCode,17,]"
                                  L"[300=NotifycationParmeter,0,][105=$(__PATH),0,][301=NotifycationReturnValue,]");
    EXPECT_EQ(results[L"WMIS_HRESULT"], L"0");
    EXPECT_EQ(results[L"WMIS_ActionIndex"], L"9");
}

// The server's stop ends a run before its next action.
TEST(ScriptInterpreterStop, StopRequestedEndsTheRunBeforeItsNextAction)
{
    const std::atomic<bool> stopRequested = true;
    ScriptActions actions;
    ParseScript(L"[0=a,1,][0=b,2,]", actions);
    ScriptVariables results;
    EXPECT_EQ(RunScript(actions, results, &stopRequested), 1);
    EXPECT_EQ(FormatResults(results), L"WMIS_ActionIndex=0;WMIS_HRESULT=" + Hresult(WBEM_E_CALL_CANCELLED) + L";");
}

// The run's connection balances the run's own CoInitializeEx; on a thread in
// another apartment that call fails, so nothing runs and the keys say why.
TEST(ScriptInterpreterApartment, SingleThreadedApartmentRunsNothing)
{
    ScriptVariables results;
    std::thread([&] {
        ComInit apartment(COINIT_APARTMENTTHREADED);
        ASSERT_EQ(apartment.result(), S_OK);
        results = Execute(L"[0=a,1,]");
    }).join();
    EXPECT_EQ(FormatResults(results), L"WMIS_ActionIndex=0;WMIS_HRESULT=" + Hresult(RPC_E_CHANGED_MODE) + L";");
}

TEST_F(ScriptInterpreter, SwitcherScriptThroughThePipe)
{
    ASSERT_EQ(RunFirmsim(L"answer 16 0x40000021"), 0u);
    CScriptServer server;
    ASSERT_TRUE(server.Start(RunScriptToResults, L"\\\\.\\pipe\\ObrinScriptInterpTest"));
    CScriptClient client;
    ASSERT_TRUE(client.Connect(L"\\\\.\\pipe\\ObrinScriptInterpTest")) << GetLastError();
    ASSERT_TRUE(client.Send(WriteScript(SwitcherScript(16))));
    ScriptVariables results;
    ASSERT_TRUE(client.Receive(results));
    EXPECT_EQ(results[L"NotifycationReturnValue"], std::to_wstring(0x40000021u));
    EXPECT_EQ(results[L"WMIS_HRESULT"], L"0");
}

}  // namespace
}  // namespace obrin::script
