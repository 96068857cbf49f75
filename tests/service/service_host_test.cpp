// The service plumbing over recorded Service Control Manager entry points:
// every status report in order, the handler's answers, the stop sequence.
#include "common/registry_names.h"
#include "service/service_host.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace obrin::test;

namespace {

const SERVICE_STATUS_HANDLE FAKE_STATUS_HANDLE = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);

struct Recorder {
    std::mutex mutex;
    std::vector<SERVICE_STATUS> reports;
    std::wstring registeredName;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    bool initResult = true;
    std::atomic<int> initCalls{0};
    std::atomic<int> uninitCalls{0};
    std::atomic<bool> wrongHandle{false};

    void Reset(bool init)
    {
        std::lock_guard<std::mutex> lock(mutex);
        reports.clear();
        registeredName.clear();
        handler = nullptr;
        initResult = init;
        initCalls = 0;
        uninitCalls = 0;
        wrongHandle = false;
    }
    std::vector<SERVICE_STATUS> Reports()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }
};
Recorder g_recorder;

SERVICE_STATUS_HANDLE WINAPI RecordRegister(LPCWSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID)
{
    std::lock_guard<std::mutex> lock(g_recorder.mutex);
    g_recorder.registeredName = name;
    g_recorder.handler = handler;
    return FAKE_STATUS_HANDLE;
}

SERVICE_STATUS_HANDLE WINAPI FailRegister(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID)
{
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
}

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    if (handle != FAKE_STATUS_HANDLE)
        g_recorder.wrongHandle = true;
    std::lock_guard<std::mutex> lock(g_recorder.mutex);
    g_recorder.reports.push_back(*status);
    return TRUE;
}

bool RecordInit() noexcept
{
    ++g_recorder.initCalls;
    return g_recorder.initResult;
}

void RecordUninit(HANDLE stopEvent) noexcept
{
    ++g_recorder.uninitCalls;
    SetEvent(stopEvent);
}

struct Expected {
    DWORD state;
    DWORD accepted;
    DWORD checkpoint;
    DWORD waitHint;
};

void ExpectReports(const std::vector<SERVICE_STATUS>& reports, const std::vector<Expected>& expected)
{
    ASSERT_EQ(reports.size(), expected.size());
    for (size_t i = 0; i < reports.size(); ++i) {
        SCOPED_TRACE("report " + std::to_string(i));
        EXPECT_EQ(reports[i].dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(reports[i].dwCurrentState, expected[i].state);
        EXPECT_EQ(reports[i].dwControlsAccepted, expected[i].accepted);
        EXPECT_EQ(reports[i].dwWin32ExitCode, 0u);
        EXPECT_EQ(reports[i].dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(reports[i].dwCheckPoint, expected[i].checkpoint);
        EXPECT_EQ(reports[i].dwWaitHint, expected[i].waitHint);
    }
}

bool WaitForReportCount(size_t count)
{
    for (int waited = 0; waited < 5000; waited += 10) {
        if (g_recorder.Reports().size() >= count)
            return true;
        Sleep(10);
    }
    return false;
}

const ServiceControlApi RECORDING_API = {RecordRegister, RecordStatus};
const ServiceWork RECORDING_WORK = {RecordInit, RecordUninit};

TEST(ServiceHost, NormalRunReportsStartRunningStopPendingAndStoppedTwice)
{
    g_recorder.Reset(true);
    std::thread serviceMain([] { RunServiceMain(RECORDING_API, RECORDING_WORK); });
    ASSERT_TRUE(WaitForReportCount(2));
    ExpectReports(g_recorder.Reports(), {{SERVICE_START_PENDING, 0, 1, 30000}, {SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0}});
    EXPECT_EQ(g_recorder.registeredName, L"OBRINSERVICE");
    EXPECT_EQ(g_recorder.initCalls, 1);
    EXPECT_EQ(g_recorder.uninitCalls, 0);

    ASSERT_NE(g_recorder.handler, nullptr);
    EXPECT_EQ(g_recorder.handler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
    serviceMain.join();

    EXPECT_EQ(g_recorder.uninitCalls, 1);
    EXPECT_FALSE(g_recorder.wrongHandle);
    ExpectReports(g_recorder.Reports(), {{SERVICE_START_PENDING, 0, 1, 30000},
                                         {SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0},
                                         {SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, 2, 30000},
                                         {SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0},
                                         {SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0}});
}

TEST(ServiceHost, FailedInitRunsStopSequenceAndReportsStoppedWithExitCodeZero)
{
    g_recorder.Reset(false);
    RunServiceMain(RECORDING_API, RECORDING_WORK);
    EXPECT_EQ(g_recorder.initCalls, 1);
    EXPECT_EQ(g_recorder.uninitCalls, 1);
    ExpectReports(g_recorder.Reports(), {{SERVICE_START_PENDING, 0, 1, 30000}, {SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0}});
}

TEST(ServiceHost, FailedHandlerRegistrationLogsAndReportsNothing)
{
    g_recorder.Reset(true);
    const LogTail log;
    RunServiceMain({FailRegister, RecordStatus}, RECORDING_WORK);
    EXPECT_TRUE(g_recorder.Reports().empty());
    EXPECT_EQ(g_recorder.initCalls, 0);
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u) << log.NewText();
    EXPECT_NE(lines[0].find("] [ERROR][ServiceMain():"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] Failed to call RegisterServiceCtrlHandlerEx [Err=123]."), std::string::npos) << lines[0];

    // The real call outside a running service fails the same way.
    const LogTail realLog;
    RunServiceMain({SystemServiceControlApi().registerHandler, RecordStatus}, RECORDING_WORK);
    EXPECT_TRUE(g_recorder.Reports().empty());
    EXPECT_EQ(CountLinesWith(realLog.NewLines(), "Failed to call RegisterServiceCtrlHandlerEx [Err="), 1u)
        << realLog.NewText();
}

TEST(ServiceHost, HandlerStoresShowMsgForUserControlsCreatingTheKey)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY);
    for (DWORD control = 128; control <= 130; ++control) {
        SCOPED_TRACE(control);
        EXPECT_EQ(HandlerEx(control, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
        EXPECT_EQ(ReadShowMsg(), control - 128);
    }
    DWORD type = 0;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, RRF_RT_ANY, &type, nullptr,
                           nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
}

TEST(ServiceHost, HandlerRefusesEveryOtherControl)
{
    DeleteShowMsg();
    for (DWORD control : {0u, 2u, 3u, 4u, 5u, 6u, 15u, 127u, 131u, 255u}) {
        SCOPED_TRACE(control);
        EXPECT_EQ(HandlerEx(control, 0, nullptr, nullptr), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    }
    EXPECT_FALSE(ReadShowMsg().has_value());
}

}  // namespace
