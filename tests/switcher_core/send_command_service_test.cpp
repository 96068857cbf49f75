// The switcher's DualOS_SendCommand against the real ObrinService (installed
// and started through the Service Control Manager) and the firmware stand-in,
// both from the bin folder beside this test program.
#include "switcher/client/dualos_client.h"

#include "sim/firmware/state_store.h"
#include "tests/support/firmware_fixture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace obrin::test;

// The calls the stand-in has answered so far, oldest first.
std::vector<firmsim::FirmwareCall> FirmwareCalls()
{
    firmsim::FirmwareState state;
    const firmsim::StateStore store(firmsim::StateStore::PathBeside(nullptr));
    EXPECT_EQ(S_OK, store.Read(state));
    return state.calls;
}

using SendCommandThroughService = obrin::test::RunningServiceTest;

TEST_F(SendCommandThroughService, ReadyAnswerOverwritesThePreset)
{
    ASSERT_THAT(Firmsim(L"answer 17 0"), Succeeds());
    const LogTail log;
    uint32_t value = 1;
    EXPECT_EQ(S_OK, DualOS_SendCommand(17, value));
    EXPECT_EQ(0u, value);
    const auto calls = FirmwareCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(17u, calls[0].code);
    EXPECT_EQ(0u, calls[0].parameter);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "0x00000000 = DualOSNotify(0x00000011, 0x00000000)."))
        << log.NewText();
}

TEST_F(SendCommandThroughService, FlagsArriveWhole)
{
    ASSERT_THAT(Firmsim(L"answer 24 0xC0000002"), Succeeds());
    uint32_t value = 0x40000000;
    EXPECT_EQ(S_OK, DualOS_SendCommand(24, value));
    EXPECT_EQ(0xC0000002u, value);
}

TEST_F(SendCommandThroughService, RejectedMethodCallNamesActionEight)
{
    ASSERT_THAT(Firmsim(L"fail 17 0x80041001"), Succeeds());
    const LogTail log;
    uint32_t value = 1;
    EXPECT_TRUE(FAILED(DualOS_SendCommand(17, value)));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ERROR][DualOS_SendCommand():")) << log.NewText();
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ActionIndex=8] DualOSNotify(0x00000011, 0x00000000)."))
        << log.NewText();
}

TEST_F(SendCommandThroughService, MissingFirmwareFailsBeforeTheCall)
{
    ASSERT_THAT(Firmsim(L"absent"), Succeeds());
    const LogTail log;
    uint32_t value = 0x40000000;
    EXPECT_TRUE(FAILED(DualOS_SendCommand(24, value)));
    EXPECT_EQ(0x40000000u, value);
    EXPECT_TRUE(FirmwareCalls().empty());
    EXPECT_EQ(0u, CountLinesWith(log.NewLines(), "[ActionIndex=8]")) << log.NewText();
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "DualOSNotify(0x00000018, 0x00000000).")) << log.NewText();
}

// Runs last in the suite: the service stays stopped.
TEST_F(SendCommandThroughService, StoppedServiceGivesAWin32ErrorAndKeepsThePreset)
{
    ASSERT_TRUE(StopRawService(30000));
    const LogTail log;
    uint32_t value = 1;
    const HRESULT hr = DualOS_SendCommand(17, value);
    EXPECT_EQ(0x8007u, static_cast<uint32_t>(hr) >> 16) << std::hex << hr;
    EXPECT_EQ(1u, value);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "Fail to open WMI Script Server [Err=")) << log.NewText();
}

}  // namespace
