// ObrinService.exe as a whole, under Wine's real Service Control Manager and
// registry: its options, exit codes and log lines.
#include "common/ownership.h"
#include "tests/support/firmware_fixture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace obrin;
using namespace obrin::test;

namespace {

constexpr wchar_t SERVICE_PROGRAM[] = L"ObrinService.exe";

// The service needs a firmware to start, and the switcher recorder takes its
// taskbar launches.
using ServiceProgram = FirmwareAndRecorderTest;

TEST_F(ServiceProgram, InstallTwiceThenUninstallTwice)
{
    const LogTail log;
    {
        SCOPED_TRACE("-install");
        EXPECT_THAT(Service(L"-install"), ExitsWith(0));
        EXPECT_EQ(RawServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(RawServiceBinaryPath(), ProgramDirectory() + SERVICE_PROGRAM);
    }
    {
        SCOPED_TRACE("-install again");
        EXPECT_THAT(Service(L"-install"), ExitsWith(0));
        EXPECT_EQ(RawServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    }
    {
        SCOPED_TRACE("-uninstall");
        EXPECT_THAT(Service(L"-uninstall"), ExitsWith(0));
        EXPECT_FALSE(RawServiceState().has_value());
    }
    EXPECT_EQ(CountLinesWith(log.NewLines(), "] [ERROR]["), 0u) << log.NewText();
    {
        SCOPED_TRACE("-uninstall again");
        EXPECT_THAT(Service(L"-uninstall"), ExitsWith(1));
        EXPECT_EQ(log.NewText().find("OpenService"), std::string::npos) << log.NewText();
    }
}

TEST_F(ServiceProgram, InstallStartsAnExistingStoppedEntry)
{
    EXPECT_THAT(Service(L"-install"), ExitsWith(0));
    ASSERT_TRUE(StopRawService(10000));
    EXPECT_THAT(Service(L"-INSTALL"), ExitsWith(0));
    EXPECT_EQ(RawServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceProgram, FailedInstallRemovesTheEntryAgain)
{
    // An entry that cannot start: the program it names does not exist.
    {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager);
        UniqueServiceHandle service(CreateServiceW(manager.get(), L"OBRINSERVICE", L"Vantrel Dual OS WMI Service",
                                                   SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_NORMAL, L"C:\\obrin\\missing_program.exe", nullptr,
                                                   nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service) << GetLastError();
    }
    const LogTail log;
    EXPECT_THAT(Service(L"-install"), ExitsWith(1));
    EXPECT_FALSE(RawServiceState().has_value()) << "the entry was not removed";
    EXPECT_EQ(CountLinesWith(log.NewLines(), "] [ERROR][CWinService::Start():"), 1u) << log.NewText();
}

TEST_F(ServiceProgram, InstallFromPathTooLongToReadRegistersNothing)
{
    // A program path of 260 characters or more would come back cut, and a cut
    // path would register some other file as the service.
    std::wstring folder = L"\\\\?\\C:\\obrin";
    while (folder.size() < 280) {
        folder += L"\\" + std::wstring(60, L'd');
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring program = folder + L"\\ObrinService.exe";
    ASSERT_TRUE(CopyFileW((ProgramDirectory() + SERVICE_PROGRAM).c_str(), program.c_str(), FALSE)) << GetLastError();
    // Started by its plain path (without the \\?\ prefix used to create it).
    const ProcessResult result = RunProcess(L"\"" + program.substr(4) + L"\" -install");
    if (!result.started)
        GTEST_SKIP() << "this platform cannot start a program from a path this long (error " << result.startError << ")";
    EXPECT_THAT(result, ExitsWith(1));
    EXPECT_FALSE(RawServiceState().has_value());
}

TEST_F(ServiceProgram, ShowMsgValuesReachTheRegistryThroughTheRunningService)
{
    EXPECT_THAT(Service(L"-install"), ExitsWith(0));
    struct Case {
        const wchar_t* arguments;
        DWORD stored;
    };
    const Case cases[] = {
        {L"-showmsg 1", 1}, {L"-showmsg 7", 2},  {L"-showmsg -1", 2}, {L"-showmsg x", 0},
        {L"-showmsg 2", 2}, {L"-SHOWMSG 0", 0}, {L"-ShowMsg 1 2", 1}, {L"-showmsg 12abc", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "arguments " << std::string(c.arguments, c.arguments + wcslen(c.arguments)));
        DeleteShowMsg();
        EXPECT_THAT(Service(c.arguments), ExitsWith(0));
        EXPECT_EQ(ReadShowMsg(), c.stored);
    }
}

TEST_F(ServiceProgram, ShowMsgWithoutRunningServiceFails)
{
    const LogTail log;
    EXPECT_THAT(Service(L"-showmsg 1"), ExitsWith(1));
    EXPECT_FALSE(ReadShowMsg().has_value());
    EXPECT_EQ(log.NewText(), "") << "a missing service is not logged";
}

TEST_F(ServiceProgram, ShowMsgWithoutValueLogsTheOptionAndFails)
{
    const LogTail log;
    EXPECT_THAT(Service(L"-showmsg"), ExitsWith(1));
    EXPECT_THAT(Service(L"-SHOWMSG"), ExitsWith(1));
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 2u) << log.NewText();
    EXPECT_NE(lines[0].find("] [ERROR][wmain():"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] Failed to parse parameter [-showmsg]."), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("] Failed to parse parameter [-SHOWMSG]."), std::string::npos) << lines[1];
}

TEST_F(ServiceProgram, NoArgumentFromConsoleLogsOneDispatcherError)
{
    const LogTail log;
    EXPECT_THAT(Service(L""), ExitsWith(1));
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u) << log.NewText();
    EXPECT_NE(lines[0].find("] [ERROR][wmain():"), std::string::npos) << lines[0];
    // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, under Wine too. The first line
    // of a process once read 0 here: setting up the log reset the last error.
    EXPECT_NE(lines[0].find("] Failed to call StartServiceCtrlDispatcher [Err=1063]."), std::string::npos)
        << lines[0];
}

TEST_F(ServiceProgram, UnknownFirstArgumentFailsWithoutLogLine)
{
    const LogTail log;
    EXPECT_THAT(Service(L"install"), ExitsWith(1));
    EXPECT_THAT(Service(L"-installx"), ExitsWith(1));
    EXPECT_THAT(Service(L"-foo -install"), ExitsWith(1));
    EXPECT_FALSE(RawServiceState().has_value());
    EXPECT_EQ(log.NewText(), "");
}

}  // namespace
