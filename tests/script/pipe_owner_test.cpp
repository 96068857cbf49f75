// Who serves \\.\pipe\DualOSScriptServer: the real ObrinService and
// ObrinSwitcher (with the firmware stand-in) against pipesquatter.exe, a
// process of ours that serves the same name and records what it receives.
#include "common/ownership.h"
#include "common/script/script_client.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

using namespace obrin::test;
using obrin::UniqueHandle;
using obrin::script::CScriptClient;
using obrin::script::RunningServiceProcessId;

namespace {

constexpr DWORD kSquatterLifetimeMs = 120000;

std::wstring RecordPath()
{
    return ProgramDirectory() + L"pipesquatter.record";
}

// What the squatter received; empty when it received nothing.
std::string SquatterRecord()
{
    obrin::UniqueFileHandle file(CreateFileW(RecordPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        text.append(chunk, got);
    return text;
}

// pipesquatter.exe serving `instances` instances until destroyed.
class Squatter {
public:
    explicit Squatter(int instances)
    {
        DeleteFileW(RecordPath().c_str());
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"ObrinPipeSquatterReady"));
        std::wstring commandLine = L"\"" + ProgramDirectory() + L"pipesquatter.exe\" \"" + RecordPath() + L"\" " +
                                   std::to_wstring(instances) + L" " + std::to_wstring(kSquatterLifetimeMs);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!ready || !CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &startup, &info))
            return;
        m_process.reset(info.hProcess);
        UniqueHandle thread(info.hThread);
        m_id = info.dwProcessId;
        const HANDLE waits[2] = {ready.get(), m_process.get()};
        m_ready = WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
    }
    ~Squatter() { End(); }
    Squatter(const Squatter&) = delete;
    Squatter& operator=(const Squatter&) = delete;

    void End()
    {
        if (m_process) {
            TerminateProcess(m_process.get(), 0);
            WaitForSingleObject(m_process.get(), 10000);
            m_process.reset();
        }
    }
    [[nodiscard]] bool Ready() const { return m_ready; }
    [[nodiscard]] DWORD Id() const { return m_id; }

private:
    UniqueHandle m_process;
    DWORD m_id = 0;
    bool m_ready = false;
};

void ExpectExit(const ProcessResult& result, DWORD exitCode)
{
    ASSERT_TRUE(result.started) << result.startError;
    ASSERT_TRUE(result.finished) << "killed at the time limit";
    EXPECT_EQ(result.exitCode, exitCode);
}

class PipeOwner : public testing::Test {
protected:
    void SetUp() override
    {
        if (!FirmwareStandInPresent())
            GTEST_SKIP() << "the firmware stand-in (firmsim.exe, firmwmi.dll) is not built";
        ASSERT_TRUE(Firmsim(L"install"));
        ASSERT_TRUE(Firmsim(L"reset"));
        ASSERT_TRUE(RemoveServiceIfPresent());
    }
    void TearDown() override { RemoveServiceIfPresent(); }
};

TEST_F(PipeOwner, ServiceDoesNotStartWhileAnotherProcessServesItsPipe)
{
    Squatter squatter(1);
    ASSERT_TRUE(squatter.Ready());
    const LogTail log;

    ExpectExit(RunProgram(L"ObrinService.exe", L"-install"), 1);
    EXPECT_FALSE(RawServiceState().has_value()) << "a service that did not start is removed again";
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ERROR][ServiceInit():")) << log.NewText();
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "] Start named pipe server fail [Err=5].")) << log.NewText();
    // The stop sequence ran; the firmware never heard that Windows is ready.
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "ObrinSwitcher.exe\" -taskbarunpin")) << log.NewText();
    EXPECT_TRUE(FirmsimCalls().empty());
    EXPECT_EQ(SquatterRecord(), "");
}

TEST_F(PipeOwner, SwitcherSendsNothingToAnotherServerBesideTheService)
{
    ExpectExit(RunProgram(L"ObrinService.exe", L"-install"), 0);
    ASSERT_TRUE(WaitForRawState(SERVICE_RUNNING, 30000));
    const DWORD service = RunningServiceProcessId(L"OBRINSERVICE");
    ASSERT_NE(service, 0u) << GetLastError();
    ASSERT_TRUE(Firmsim(L"reset"));

    Squatter squatter(4);
    ASSERT_TRUE(squatter.Ready());
    // Wine hands a client the instance that has listened longest, at first
    // the service's; a connection to it puts the service's next instance
    // behind the squatter's, which then come first.
    bool squatterFirst = false;
    for (int i = 0; i < 3 && !squatterFirst; ++i) {
        CScriptClient probe;
        ASSERT_TRUE(probe.Connect()) << GetLastError();
        squatterFirst = probe.ServerProcessId() == squatter.Id();
    }
    ASSERT_TRUE(squatterFirst) << "no connection reached the squatter";

    const LogTail log;
    ExpectExit(RunProgram(L"ObrinSwitcher.exe", L"-now"), 1);
    char refusal[128];
    std::snprintf(refusal, sizeof(refusal), "WMI Script Server is process %lu, not OBRINSERVICE (process %lu)",
                  squatter.Id(), service);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ERROR][DualOS_SendCommand():")) << log.NewText();
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), refusal)) << log.NewText();
    EXPECT_EQ(SquatterRecord(), "");
    EXPECT_TRUE(FirmsimCalls().empty());

    // Without the squatter the same switch reaches the firmware.
    squatter.End();
    ExpectExit(RunProgram(L"ObrinSwitcher.exe", L"-now"), 0);
    EXPECT_EQ(FirmsimCalls().size(), 4u);
}

}  // namespace
