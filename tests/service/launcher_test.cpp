// The user-session launcher in this test process (C:\obrin\, beside the
// switcher recorder placed as ObrinSwitcher.exe).
#include "common/ownership.h"
#include "service/session_launcher.h"
#include "tests/support/test_support.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace obrin;
using namespace obrin::test;

namespace {

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string SwitcherPath()
{
    return Narrow(ProgramDirectory()) + "ObrinSwitcher.exe";
}

// The process id of the recorded start with this command line, 0 if none.
DWORD RecordedProcessId(const std::string& commandLine)
{
    for (const std::string& line : SwitcherRecord()) {
        const size_t space = line.find(' ', 6);
        if (line.rfind("start ", 0) == 0 && space != std::string::npos && line.substr(space + 1) == commandLine)
            return std::stoul(line.substr(6, space - 6));
    }
    return 0;
}

enum class DaclKind { Unreadable, Null, Present };

DaclKind ProcessDacl(HANDLE process)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(process, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return DaclKind::Unreadable;
    UniqueLocalMem owner(descriptor);
    return dacl ? DaclKind::Present : DaclKind::Null;
}

class Launcher : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(PlaceSwitcherRecorder()); }
};

TEST_F(Launcher, WithoutTokenStartsDetachedWithNoMsgAndLogsTheLaunch)
{
    const LogTail log;
    EXPECT_EQ(LaunchSwitcher(UniqueHandle(), L"s3", true), LAUNCH_STARTED);
    const std::string expected = "\"" + SwitcherPath() + "\" -s3 -nomsg";
    ASSERT_EQ(SwitcherStarts(), std::vector<std::string>{expected});
    EXPECT_TRUE(SwitcherRunEnded(expected));
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u) << log.NewText();
    EXPECT_NE(lines[0].find("] [INFO][SetPowerState():"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] Launch(" + expected + ")"), std::string::npos) << lines[0];
}

TEST_F(Launcher, WaitBlocksUntilTheSwitcherEnds)
{
    SetSwitcherStayAlive(1500);
    const DWORD start = GetTickCount();
    EXPECT_EQ(LaunchSwitcher(UniqueHandle(), L"taskbarunpin", true), LAUNCH_STARTED);
    EXPECT_GE(GetTickCount() - start, 1400u);
    EXPECT_TRUE(SwitcherRunEnded("\"" + SwitcherPath() + "\" -taskbarunpin -nomsg"));
}

TEST_F(Launcher, NoWaitReturnsWhileTheSwitcherRuns)
{
    SetSwitcherStayAlive(6000);
    const DWORD start = GetTickCount();
    EXPECT_EQ(LaunchSwitcher(UniqueHandle(), L"reboot", false), LAUNCH_STARTED);
    EXPECT_LT(GetTickCount() - start, 4000u);
    const std::string expected = "\"" + SwitcherPath() + "\" -reboot -nomsg";
    ASSERT_TRUE(WaitForSwitcherStarts(1, 5000));
    EXPECT_FALSE(SwitcherRunEnded(expected));
}

TEST_F(Launcher, FallbackProcessGetsDefaultSecurityNotANullDacl)
{
    // Control: a process created with a NULL DACL reads back as one here, so
    // the check below can tell the two apart.
    {
        SECURITY_DESCRIPTOR nullDacl;
        InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE);
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &nullDacl, FALSE};
        std::wstring commandLine = L"\"" + ProgramDirectory() + L"ObrinSwitcher.exe\" -control";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), &attributes, &attributes, FALSE, DETACHED_PROCESS,
                                   nullptr, nullptr, &startup, &info))
            << GetLastError();
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);
        const DaclKind control = ProcessDacl(process.get());
        WaitForSingleObject(process.get(), 10000);
        if (control != DaclKind::Null)
            GTEST_SKIP() << "this platform does not keep a process's NULL DACL; the check cannot tell";
    }

    SetSwitcherStayAlive(3000);
    EXPECT_EQ(LaunchSwitcher(UniqueHandle(), L"config", false), LAUNCH_STARTED);
    const std::string expected = "\"" + SwitcherPath() + "\" -config -nomsg";
    ASSERT_TRUE(WaitForSwitcherStarts(2, 5000));
    const DWORD processId = RecordedProcessId(expected);
    ASSERT_NE(processId, 0u);
    UniqueHandle launched(OpenProcess(READ_CONTROL | SYNCHRONIZE, FALSE, processId));
    ASSERT_TRUE(launched) << GetLastError();
    EXPECT_EQ(ProcessDacl(launched.get()), DaclKind::Present);
    WaitForSingleObject(launched.get(), 10000);
}

TEST_F(Launcher, WithTokenStartsAsThatUserWithoutNoMsg)
{
    UniqueHandle own;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put())) << GetLastError();
    UniqueHandle primary;
    ASSERT_TRUE(DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                                 primary.put()))
        << GetLastError();
    EXPECT_EQ(LaunchSwitcher(std::move(primary), L"config", true), LAUNCH_STARTED);
    const std::string expected = "\"" + SwitcherPath() + "\" -config";
    ASSERT_EQ(SwitcherStarts(), std::vector<std::string>{expected});
    EXPECT_TRUE(SwitcherRunEnded(expected));
}

TEST_F(Launcher, MissingSwitcherLogsLaunchThenCreationErrorAndReturnsSix)
{
    RemoveSwitcher();
    const LogTail log;
    EXPECT_EQ(LaunchSwitcher(UniqueHandle(), L"shutdown", false), LAUNCH_FAILED);
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 2u) << log.NewText();
    EXPECT_NE(lines[0].find("] [INFO][SetPowerState():"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] Launch(\"" + SwitcherPath() + "\" -shutdown -nomsg)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("] [ERROR][SetPowerState():"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("] Fail to call CreateProcess [Token=00000000] [Err=2]."), std::string::npos) << lines[1];
}

TEST_F(Launcher, CurrentUserTokenUnderWineFindsNoSession)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "on Windows the answer depends on who is logged on";
    // Wine's WTSEnumerateSessionsW succeeds with no session: no token, and no
    // log line since that is not a failure.
    const LogTail log;
    EXPECT_FALSE(GetCurrentUserToken());
    EXPECT_EQ(log.NewText(), "");
}

TEST_F(Launcher, SetPowerStateUnderWineTakesTheFallback)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "on Windows a logged-on user gets the launch in the user's session";
    EXPECT_EQ(SetPowerState(L"hybrid", true), LAUNCH_STARTED);
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{"\"" + SwitcherPath() + "\" -hybrid -nomsg"});
}

}  // namespace
