// The switcher's DualOS_SendCommand over the real pipe against a test server
// that records the message and answers with a given text, and against a pipe
// that stays busy. The exchange with the real service is in
// send_command_service_test.cpp.
#include "switcher/client/dualos_client.h"

#include "common/ownership.h"
#include "common/script/script_pipe.h"
#include "tests/support/pipe_message.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using obrin::UniqueFileHandle;
using obrin::test::CountLinesWith;
using obrin::test::LogTail;

// One connection on the script pipe: keeps the message the client wrote and
// answers with a fixed text. The exchange ends when the client closes its end,
// which DualOS_SendCommand does before it returns.
class RecordingServer {
public:
    explicit RecordingServer(std::wstring reply) : m_reply(std::move(reply))
    {
        m_pipe.reset(CreateNamedPipeW(obrin::script::kScriptPipeName, PIPE_ACCESS_DUPLEX,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                                      nullptr));
        if (m_pipe)
            m_thread = std::thread([this] { Serve(); });
    }
    ~RecordingServer()
    {
        if (!m_thread.joinable())
            return;
        // A client that never came: connect once so the server's wait ends.
        UniqueFileHandle wake(CreateFileW(obrin::script::kScriptPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        wake.reset();
        m_thread.join();
    }

    [[nodiscard]] bool Ready() const { return m_pipe.valid(); }
    // The message as received; call after the exchange.
    [[nodiscard]] const std::wstring& Message()
    {
        m_thread.join();
        return m_message;
    }

private:
    void Serve()
    {
        if (!ConnectNamedPipe(m_pipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
            return;
        if (obrin::test::ReadPipeMessage(m_pipe.get(), m_message) != ERROR_SUCCESS)
            return;
        DWORD written = 0;
        if (!WriteFile(m_pipe.get(), m_reply.data(), static_cast<DWORD>(m_reply.size() * sizeof(wchar_t)), &written,
                       nullptr))
            return;
        // Returns with ERROR_BROKEN_PIPE once the client has read and closed.
        wchar_t rest[16];
        DWORD ignored = 0;
        while (ReadFile(m_pipe.get(), rest, sizeof(rest), &ignored, nullptr) || GetLastError() == ERROR_MORE_DATA) {
        }
    }

    std::wstring m_reply;
    std::wstring m_message;
    UniqueFileHandle m_pipe;
    std::thread m_thread;
};

// The recording server runs in this process: the call is told to expect this
// process, not the service, at the other end of the pipe.
HRESULT SendToThisProcess(uint32_t code, uint32_t& value)
{
    return SendCommandTo(
        {obrin::script::kScriptPipeName, []() noexcept { return GetCurrentProcessId(); }}, code, value);
}

constexpr wchar_t kScriptFor17[] =
    L"[100=root\\wmi,0,][101=4,3,0,][102=Select * from DualOsMethod,16,][200=-1,][401=__PATH,]"
    L"[104=DualOsMethod,DualOSNotify,][300=NotificationCode,17,][300=NotifycationParmeter,0,]"
    L"[105=$(__PATH),0,][301=NotifycationReturnValue,]";

TEST(SendCommandWire, SendsTheTenActionsAndTakesTheAnswer)
{
    RecordingServer server(L"NotifycationReturnValue=0;WMIS_ActionIndex=9;WMIS_HRESULT=0;__PATH=p;");
    ASSERT_TRUE(server.Ready()) << GetLastError();
    const LogTail log;
    uint32_t value = 1;
    EXPECT_EQ(S_OK, SendToThisProcess(17, value));
    EXPECT_EQ(0u, value);
    EXPECT_EQ(kScriptFor17, server.Message());
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[INFO][DualOS_SendCommand():"));
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "0x00000000 = DualOSNotify(0x00000011, 0x00000000)."));
}

TEST(SendCommandWire, FailedActionIsLoggedAndKeepsThePreset)
{
    RecordingServer server(L"WMIS_ActionIndex=8;WMIS_HRESULT=-2147217407;");
    ASSERT_TRUE(server.Ready()) << GetLastError();
    const LogTail log;
    uint32_t value = 0x40000000;
    EXPECT_EQ(static_cast<HRESULT>(0x80041001), SendToThisProcess(24, value));
    EXPECT_EQ(0x40000000u, value);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ERROR][DualOS_SendCommand():"));
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(),
                                 "[HRESULT=0x80041001] [ActionIndex=8] DualOSNotify(0x00000018, 0x00000000)."));
}

TEST(SendCommandWire, ReplyWithoutResultIsAFailureThatKeepsThePreset)
{
    // A value with no WMIS_HRESULT beside it is not the firmware's answer.
    RecordingServer server(L"NotifycationReturnValue=0;");
    ASSERT_TRUE(server.Ready()) << GetLastError();
    const LogTail log;
    uint32_t value = 1;
    const HRESULT hr = SendToThisProcess(20, value);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(1u, value);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "[ActionIndex=] DualOSNotify(0x00000014, 0x00000000)."));
}

TEST(SendCommandWire, EmptyReplyIsAFailure)
{
    RecordingServer server(L"");
    ASSERT_TRUE(server.Ready()) << GetLastError();
    uint32_t value = 1;
    EXPECT_TRUE(FAILED(SendToThisProcess(17, value)));
    EXPECT_EQ(1u, value);
}

TEST(SendCommandWire, NoServerGivesAWin32ErrorAndKeepsThePreset)
{
    const LogTail log;
    uint32_t value = 1;
    SetLastError(0xdeadbeef);
    const HRESULT hr = DualOS_SendCommand(17, value);
    EXPECT_EQ(0x8007u, static_cast<uint32_t>(hr) >> 16) << std::hex << hr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), hr);
    EXPECT_EQ(1u, value);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "Fail to open WMI Script Server [Err=2]."));
}

TEST(SendCommandWire, PipeThatStaysBusyIsGivenUpAfterFiveSeconds)
{
    // The only instance is taken by a client of this test for the whole call.
    UniqueFileHandle server(CreateNamedPipeW(obrin::script::kScriptPipeName, PIPE_ACCESS_DUPLEX,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                                             nullptr));
    ASSERT_TRUE(server) << GetLastError();
    UniqueFileHandle holder(CreateFileW(obrin::script::kScriptPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder) << GetLastError();
    const LogTail log;
    uint32_t value = 1;
    const ULONGLONG begin = GetTickCount64();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), DualOS_SendCommand(17, value));
    const ULONGLONG elapsed = GetTickCount64() - begin;
    EXPECT_GE(elapsed, 4900u);
    EXPECT_LT(elapsed, 8000u);
    EXPECT_EQ(1u, value);
    EXPECT_EQ(1u, CountLinesWith(log.NewLines(), "Fail to open WMI Script Server [Err=121]."));
}

}  // namespace
