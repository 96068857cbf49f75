// Who serves \\.\pipe\DualOSScriptServer: the real ObrinService and
// ObrinSwitcher (with the firmware stand-in) against pipesquatter.exe, a
// process of ours that serves the same name and records what it receives.
#include "common/ownership.h"
#include "common/script/script_client.h"
#include "tests/support/firmware_fixture.h"

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

// The squatter's command line, with its record of an earlier run deleted.
std::wstring FreshSquatterCommand(int instances)
{
    DeleteFileW(RecordPath().c_str());
    return ProgramCommand(L"pipesquatter.exe", L"\"" + RecordPath() + L"\" " + std::to_wstring(instances) + L" " +
                                                   std::to_wstring(kSquatterLifetimeMs));
}

// pipesquatter.exe serving `instances` instances until destroyed.
class Squatter {
public:
    explicit Squatter(int instances) : m_process(FreshSquatterCommand(instances), {.timeoutMs = kSquatterLifetimeMs}) {}

    void End() { m_process.End(); }
    // True once the squatter serves its instances; false when it ended first.
    [[nodiscard]] bool Ready() const
    {
        const HANDLE waits[2] = {m_ready.get(), m_process.Process()};
        return m_ready && m_process.Process() && WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
    }
    [[nodiscard]] DWORD Id() const { return m_process.Id(); }

private:
    // Made before the squatter starts, which signals it.
    UniqueHandle m_ready{CreateEventW(nullptr, TRUE, FALSE, L"ObrinPipeSquatterReady")};
    ChildProcess m_process;
};

class PipeOwner : public FirmwareStandInTest {
protected:
    void SetUpWithStandIn() override
    {
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        ASSERT_TRUE(RemoveServiceIfPresent());
    }
    void TearDown() override { RemoveServiceIfPresent(); }
};

TEST_F(PipeOwner, ServiceDoesNotStartWhileAnotherProcessServesItsPipe)
{
    Squatter squatter(1);
    ASSERT_TRUE(squatter.Ready());
    const LogTail log;

    EXPECT_THAT(Service(L"-install"), ExitsWith(1));
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
    EXPECT_THAT(Service(L"-install"), ExitsWith(0));
    ASSERT_TRUE(WaitForRawState(SERVICE_RUNNING, 30000));
    const DWORD service = RunningServiceProcessId(L"OBRINSERVICE");
    ASSERT_NE(service, 0u) << GetLastError();
    ASSERT_THAT(Firmsim(L"reset"), Succeeds());

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
    EXPECT_THAT(RunProgram(L"ObrinSwitcher.exe", L"-now"), ExitsWith(1));
    char refusal[128];
    std::snprintf(refusal, sizeof(refusal), "WMI Script Server is process %lu, not OBRINSERVICE (process %lu)",
                  squatter.Id(), service);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ERROR][DualOS_SendCommand():")) << log.NewText();
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), refusal)) << log.NewText();
    EXPECT_EQ(SquatterRecord(), "");
    EXPECT_TRUE(FirmsimCalls().empty());

    // Without the squatter the same switch reaches the firmware.
    squatter.End();
    EXPECT_THAT(RunProgram(L"ObrinSwitcher.exe", L"-now"), ExitsWith(0));
    EXPECT_EQ(FirmsimCalls().size(), 4u);
}

}  // namespace
