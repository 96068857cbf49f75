// The script pipe of the installed and running ObrinService, with the
// firmware stand-in: who may use it, the bounds it holds its clients to, the
// firmware calls it lets through, and a stop while a long script runs.
#include "common/ownership.h"
#include "common/script/script_client.h"
#include "switcher/client/dualos_client.h"
#include "switcher/client/notify_script.h"
#include "tests/support/firmware_fixture.h"
#include "tests/support/pipe_message.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace obrin;
using namespace obrin::test;
using script::CScriptClient;
using script::kScriptPipeName;
using script::ScriptVariables;

namespace {

constexpr wchar_t kAccessDenied[] = L"-2147217405";  // WBEM_E_ACCESS_DENIED
constexpr wchar_t kCancelled[] = L"-2147217358";     // WBEM_E_CALL_CANCELLED

// A client as the switcher opens the pipe, waiting while it is busy.
UniqueFileHandle OpenServicePipe()
{
    UniqueFileHandle pipe;
    for (int attempt = 0; attempt < 50 && !pipe; ++attempt) {
        pipe.reset(CreateFileW(kScriptPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!pipe && GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(kScriptPipeName, 5000);
        else if (!pipe)
            break;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (pipe && !SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr))
        pipe.reset();
    return pipe;
}

bool StillConnected(HANDLE pipe)
{
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, nullptr, nullptr) != FALSE;
}

// Sends script on an open connection and reads the reply into results; false
// when the connection ended first.
bool Exchange(HANDLE pipe, const std::wstring& script, std::wstring& reply)
{
    DWORD written = 0;
    if (!WriteFile(pipe, script.data(), static_cast<DWORD>(script.size() * sizeof(wchar_t)), &written, nullptr))
        return false;
    return obrin::test::ReadPipeMessage(pipe, reply) == ERROR_SUCCESS;
}

ScriptVariables SendScript(const std::wstring& script)
{
    CScriptClient client;
    ScriptVariables results;
    EXPECT_TRUE(client.Connect() && client.Send(script) && client.Receive(results)) << GetLastError();
    return results;
}

// The switcher's script up to the method call: the instance's path, the
// method and its two in-parameters.
std::wstring PreparedCall(uint32_t code, uint32_t parameter)
{
    std::wstring script = NotifyScriptText(code);
    script.resize(script.find(L"[105="));
    const std::wstring zero = L"[300=NotifycationParmeter,0,]";
    script.replace(script.find(zero), zero.size(), L"[300=NotifycationParmeter," + std::to_wstring(parameter) + L",]");
    return script;
}

class ServicePipe : public RunningServiceTest {
protected:
    static void SetUpTestSuite() { StartService(true); }
};

TEST_F(ServicePipe, InstancesGrantUsersReadAndWriteOnlyAndNetworkLogonsNothing)
{
    UniqueFileHandle pipe = OpenServicePipe();
    ASSERT_TRUE(pipe) << GetLastError();
    PACL dacl = nullptr;
    UniqueLocalMem descriptor;
    ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                             nullptr, &dacl, nullptr, descriptor.put()));
    ASSERT_NE(dacl, nullptr) << "a NULL DACL grants everyone every right";

    // Windows may store the generic rights mapped to a pipe's own rights (a
    // pipe maps them as a file does), Wine stores them as given: both are
    // compared mapped.
    GENERIC_MAPPING pipeRights{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    const auto mapped = [&](ACCESS_MASK mask) {
        MapGenericMask(&mask, &pipeRights);
        return mask;
    };
    const struct {
        BYTE type;
        WELL_KNOWN_SID_TYPE who;
        ACCESS_MASK rights;
    } expected[] = {
        {ACCESS_DENIED_ACE_TYPE, WinNetworkSid, GENERIC_ALL},
        {ACCESS_ALLOWED_ACE_TYPE, WinLocalSystemSid, GENERIC_ALL},
        {ACCESS_ALLOWED_ACE_TYPE, WinBuiltinAdministratorsSid, GENERIC_ALL},
        {ACCESS_ALLOWED_ACE_TYPE, WinInteractiveSid, GENERIC_READ | GENERIC_WRITE},
        {ACCESS_ALLOWED_ACE_TYPE, WinAuthenticatedUserSid, GENERIC_READ | GENERIC_WRITE},
    };
    ASSERT_EQ(dacl->AceCount, std::size(expected));
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        SCOPED_TRACE(i);
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        // Allowed and denied entries share one layout.
        const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(sid);
        ASSERT_TRUE(CreateWellKnownSid(expected[i].who, nullptr, sid, &sidSize));
        EXPECT_EQ(entry->Header.AceType, expected[i].type);
        EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&entry->SidStart), sid));
        EXPECT_EQ(mapped(entry->Mask), mapped(expected[i].rights)) << std::hex << entry->Mask;
        if (expected[i].type == ACCESS_ALLOWED_ACE_TYPE && expected[i].rights != GENERIC_ALL) {
            EXPECT_EQ(mapped(entry->Mask) & (WRITE_DAC | WRITE_OWNER), 0u) << std::hex << entry->Mask;
        }
    }
}

// Any local user may send scripts; the firmware hears only the calls the
// switcher makes. Others are refused at the method call, like any refused
// action, and never reach the firmware.
TEST_F(ServicePipe, FirmwareCallsOtherThanTheSwitchersAreRefused)
{
    const struct {
        uint32_t code;
        uint32_t parameter;
        bool allowed;
    } calls[] = {
        {0x10, 0, true}, {0x11, 0, true}, {0x14, 0, true}, {0x18, 0, true},
        {0x13, 0, false},  // tells the firmware the Android side is gone: the installer's
        {0x12, 0, false}, {0x00, 0, false}, {0x19, 0, false}, {0x110, 0, false}, {0x11, 1, false},
        {0x14, 0x80000000, false},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << call.code << ", parameter 0x" << call.parameter);
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        ScriptVariables results = SendScript(PreparedCall(call.code, call.parameter) + L"[105=$(__PATH),0,]");
        if (call.allowed) {
            EXPECT_EQ(results[L"WMIS_HRESULT"], L"0");
            EXPECT_EQ(FirmsimCalls().size(), 1u);
        } else {
            EXPECT_EQ(results[L"WMIS_HRESULT"], kAccessDenied);
            EXPECT_EQ(results[L"WMIS_ActionIndex"], L"8");
            EXPECT_TRUE(FirmsimCalls().empty());
        }
    }
}

TEST_F(ServicePipe, ScriptOfTwoThousandFirmwareCallsEndsAtTheLimit)
{
    ASSERT_THAT(Firmsim(L"reset"), Succeeds());
    std::wstring script = PreparedCall(0x10, 0);
    for (int i = 0; i < 2000; ++i)
        script += L"[105=$(__PATH),0,]";
    ScriptVariables results = SendScript(script);
    EXPECT_EQ(results[L"WMIS_HRESULT"], kCancelled);
    // Eight actions prepare the call; the 1025th call is the one not made.
    EXPECT_EQ(results[L"WMIS_ActionIndex"], std::to_wstring(8 + 1024));
    EXPECT_EQ(FirmsimCalls().size(), 1024u);
}

// A message longer than 1 MiB is refused before it is parsed; one of 256 KiB
// whose 64,000 one-character arguments take more than 1 MiB once parsed is
// refused as it is parsed. Either ends its own connection only.
TEST_F(ServicePipe, OverLongMessageAndOverLargeParseEndOnlyTheirConnection)
{
    std::wstring overLargeParse;
    for (int i = 0; i < 64; ++i) {
        overLargeParse += L"[0=";
        for (int j = 0; j < 1000; ++j)
            overLargeParse += L"a,";
        overLargeParse += L"]";
    }
    const struct {
        const char* what;
        std::wstring message;
    } refused[] = {
        {"over-long", std::wstring(1024 * 1024 / sizeof(wchar_t) + 1, L' ')},
        {"over-large parse", overLargeParse},
    };
    UniqueFileHandle other = OpenServicePipe();
    ASSERT_TRUE(other) << GetLastError();
    for (const auto& [what, message] : refused) {
        SCOPED_TRACE(what);
        UniqueFileHandle pipe = OpenServicePipe();
        ASSERT_TRUE(pipe) << GetLastError();
        std::wstring reply;
        EXPECT_FALSE(Exchange(pipe.get(), message, reply)) << "answered with " << reply.size() << " characters";
        EXPECT_FALSE(StillConnected(pipe.get()));
    }
    std::wstring reply;
    ASSERT_TRUE(Exchange(other.get(), L"[100=root\\wmi,0,][101=4,3,0,]", reply)) << GetLastError();
    EXPECT_EQ(reply, L"WMIS_ActionIndex=1;WMIS_HRESULT=0;");
}

// The service's own connection limits: with 64 connections taken by clients
// that send nothing, the switcher's call still gets through (the client idle
// longest makes room), and the others are closed once they have been idle
// for 30 s.
TEST_F(ServicePipe, SixtyFourIdleClientsLeaveRoomForTheSwitcherAndLastThirtySeconds)
{
    std::vector<UniqueFileHandle> idle;
    std::vector<ULONGLONG> openedAt;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(OpenServicePipe());
        ASSERT_TRUE(idle.back()) << i << ": " << GetLastError();
        openedAt.push_back(GetTickCount64());
    }
    uint32_t ready = 1;
    EXPECT_EQ(DualOS_SendCommand(0x11, ready), S_OK);
    EXPECT_EQ(ready, 0u);
    EXPECT_FALSE(StillConnected(idle[0].get())) << "the client idle longest made room";
    for (int i = 1; i < 64; ++i)
        EXPECT_TRUE(StillConnected(idle[i].get())) << i;

    // Each is closed 30 s after it connected, not before.
    for (int i = 1; i < 64; ++i) {
        SCOPED_TRACE(i);
        while (StillConnected(idle[i].get()) && GetTickCount64() - openedAt[i] < 45000)
            Sleep(100);
        const ULONGLONG lasted = GetTickCount64() - openedAt[i];
        EXPECT_FALSE(StillConnected(idle[i].get())) << "still connected after " << lasted << " ms";
        EXPECT_GE(lasted, 29500u);
    }
}

using ServicePipeStop = FirmwareAndRecorderTest;

// A script that would run for a long time (a loop of WMI calls up to the
// action limit) is ended at its next action by the stop, which then goes on:
// the service has stopped within 5 s, and the script's client has its reply,
// the run cancelled.
TEST_F(ServicePipeStop, StopEndsALongScriptAtItsNextAction)
{
    ASSERT_TRUE(InstallService());
    const std::wstring loop = L"[100=root\\wmi,0,][101=4,3,0,][102=Select * from DualOsMethod,16,][200=-1,]"
                              L"[401=__PATH,][104=DualOsMethod,DualOSNotify,][99=-1,]";
    std::promise<std::pair<ScriptVariables, ULONGLONG>> answered;
    std::thread client([&] {
        ScriptVariables results = SendScript(loop);
        answered.set_value({std::move(results), GetTickCount64()});
    });
    std::future<std::pair<ScriptVariables, ULONGLONG>> reply = answered.get_future();
    // Such a loop takes seconds under Wine (some 8 s on a loaded machine here).
    const bool stillRunning = reply.wait_for(std::chrono::milliseconds(500)) == std::future_status::timeout;

    const ULONGLONG stopSent = GetTickCount64();
    const bool stopped = StopRawService(30000);
    const ULONGLONG stopTook = GetTickCount64() - stopSent;
    client.join();
    ASSERT_TRUE(stillRunning) << "the script ended before the stop";
    EXPECT_TRUE(stopped);
    EXPECT_LT(stopTook, 5000u);
    auto [results, at] = reply.get();
    EXPECT_EQ(results[L"WMIS_HRESULT"], kCancelled);
    EXPECT_LT(at - stopSent, 5000u);
}

}  // namespace
