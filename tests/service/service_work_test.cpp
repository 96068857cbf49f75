// ServiceInit and ServiceUninit in this test process, against the firmware
// stand-in: what the stop sequence takes down is checked from outside.
#include "common/ownership.h"
#include "service/service_init.h"
#include "tests/support/firmware_fixture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace obrin;
using namespace obrin::test;

namespace {

constexpr wchar_t PIPE_NAME[] = L"\\\\.\\pipe\\DualOSScriptServer";

bool PipeAvailable()
{
    return WaitNamedPipeW(PIPE_NAME, 200) != FALSE;
}

class ServiceWork : public FirmwareAndRecorderTest {
protected:
    void SetUpWithStandIn() override
    {
        FirmwareAndRecorderTest::SetUpWithStandIn();
        ASSERT_TRUE(m_stopEvent);
    }

    UniqueHandle m_stopEvent{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

TEST_F(ServiceWork, StopSequenceTakesDownWhatInitSetUp)
{
    ASSERT_TRUE(ServiceInit());
    EXPECT_TRUE(PipeAvailable());
    ASSERT_THAT(Firmsim(L"raise 0xD3"), Succeeds());
    ASSERT_TRUE(WaitForSwitcherStarts(2, 10000));
    EXPECT_EQ(SwitcherStarts(), (std::vector<std::string>{SwitcherCommand("taskbarpin"), SwitcherCommand("s3")}));

    SetSwitcherStayAlive(1500);
    const DWORD start = GetTickCount();
    ServiceUninit(m_stopEvent.get());
    EXPECT_GE(GetTickCount() - start, 1400u) << "the unpinning run was not waited for";
    EXPECT_EQ(WaitForSingleObject(m_stopEvent.get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(SwitcherRunEnded(SwitcherCommand("taskbarunpin")));
    EXPECT_FALSE(PipeAvailable());

    // Both subscriptions are gone: neither event reaches this process now.
    const size_t callsBefore = FirmsimCalls().size();
    ASSERT_THAT(Firmsim(L"raise 0xD4"), Succeeds());
    ASSERT_THAT(Firmsim(L"resume 7"), Succeeds());
    Sleep(3000);
    EXPECT_EQ(SwitcherStarts().size(), 3u);
    EXPECT_EQ(FirmsimCalls().size(), callsBefore);
}

TEST_F(ServiceWork, TakenPipeNameFailsInitBeforeTheFirmwareIsTold)
{
    // Another process's pipe of the same name with room for one instance
    // leaves none for the service.
    UniqueFileHandle squatter(CreateNamedPipeW(PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 4096,
                                               4096, 0, nullptr));
    ASSERT_TRUE(squatter) << GetLastError();
    const LogTail log;
    EXPECT_FALSE(ServiceInit());
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u) << log.NewText();
    EXPECT_NE(lines[0].find("] [ERROR][ServiceInit():"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("] Start named pipe server fail [Err="), std::string::npos) << lines[0];
    EXPECT_TRUE(FirmsimCalls().empty());

    ServiceUninit(m_stopEvent.get());
    EXPECT_EQ(WaitForSingleObject(m_stopEvent.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(SwitcherStarts(), std::vector<std::string>{SwitcherCommand("taskbarunpin")});
}

}  // namespace
