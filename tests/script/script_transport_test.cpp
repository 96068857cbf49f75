// The script pipe under Wine: server and client in this process, a runner
// without WMI that answers with what it received.
#include "common/script/script_client.h"
#include "service/script/script_server.h"
#include "tests/support/pipe_message.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace obrin::script {
namespace {

constexpr wchar_t kTestPipe[] = L"\\\\.\\pipe\\ObrinScriptTransportTest";

// Answers with the actions it received, written back as script text;
// "[1=ms,]" makes it sleep that long first.
std::wstring EchoRunner(const ScriptActions& actions, const std::atomic<bool>&)
{
    for (const ScriptAction& action : actions)
        if (action.code == 1)
            Sleep(static_cast<DWORD>(ArgumentToLong(ArgumentText(action, 0))));
    return WriteScript(actions);
}

// Connects as the switcher does: while the pipe is busy (the listener has not
// made its next instance yet), waits for a free instance.
UniqueFileHandle OpenClient(const wchar_t* name = kTestPipe)
{
    UniqueFileHandle pipe;
    for (;;) {
        pipe.reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe || GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(name, kBusyPipeWaitMs))
            break;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (pipe) {
        EXPECT_TRUE(SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) << GetLastError();
    }
    return pipe;
}

bool WriteMessage(HANDLE pipe, const std::wstring& text)
{
    DWORD written = 0;
    return WriteFile(pipe, text.data(), static_cast<DWORD>(WireBytes(text)), &written, nullptr) &&
           written == WireBytes(text);
}

// Reads one whole message; error receives the failing read's error (0 when
// the message arrived complete).
std::wstring ReadMessage(HANDLE pipe, DWORD& error)
{
    std::wstring text;
    error = obrin::test::ReadPipeMessage(pipe, text);
    return text;
}

std::wstring Exchange(const std::wstring& script, DWORD& error)
{
    UniqueFileHandle pipe = OpenClient();
    if (!pipe) {
        error = GetLastError();
        return L"(no connection)";
    }
    if (!WriteMessage(pipe.get(), script)) {
        error = GetLastError();
        return L"(not written)";
    }
    return ReadMessage(pipe.get(), error);
}

DWORD CountOwnThreads()
{
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    DWORD count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    return count;
}

// Polls until the thread count is expected or timeoutMs passed.
bool WaitForThreadCount(DWORD expected, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (CountOwnThreads() != expected) {
        if (GetTickCount64() > end)
            return false;
        Sleep(10);
    }
    return true;
}

class ScriptTransport : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Start(EchoRunner, kTestPipe)) << GetLastError(); }
    void TearDown() override { m_server.Stop(); }

    CScriptServer m_server;
};

TEST_F(ScriptTransport, ScriptIsAnsweredInOneMessage)
{
    DWORD error = 1;
    EXPECT_EQ(Exchange(L"xx[100=root\\wmi,0,][101=4,3,0,]", error), L"[100=root\\wmi,0,][101=4,3,0,]");
    EXPECT_EQ(error, 0u);
}

TEST_F(ScriptTransport, EmptyMessageGetsEmptyReply)
{
    DWORD error = 1;
    EXPECT_EQ(Exchange(L"", error), L"");
    EXPECT_EQ(error, 0u);
}

TEST_F(ScriptTransport, LongScriptLosesAndDuplicatesNoActionAtAnyChunkBoundary)
{
    // Every action is 13 characters; shifting the script by 0..12 characters
    // puts each chunk boundary at every position inside an action.
    ScriptActions expected;
    std::wstring body;
    for (int i = 0; i < 4000; ++i) {
        wchar_t action[16];
        swprintf(action, 16, L"[0=v%05d,x,]", i);
        body += action;
        expected.push_back(ScriptAction{action::kSetVariable, {L"v" + std::to_wstring(100000 + i).substr(1), L"x"}});
    }
    ASSERT_GT(WireBytes(body), 100u * 1024);
    const std::wstring expectedReply = WriteScript(expected);
    for (std::size_t shift = 0; shift < 13; ++shift) {
        SCOPED_TRACE(shift);
        DWORD error = 1;
        const std::wstring reply = Exchange(std::wstring(shift, L' ') + body, error);
        EXPECT_EQ(error, 0u);
        EXPECT_TRUE(reply == expectedReply) << "reply of " << reply.size() << " characters";
    }
}

TEST_F(ScriptTransport, SecondScriptOnOneConnectionIsAnswered)
{
    UniqueFileHandle pipe = OpenClient();
    ASSERT_TRUE(pipe) << GetLastError();
    DWORD error = 1;
    ASSERT_TRUE(WriteMessage(pipe.get(), L"[0=a,]"));
    EXPECT_EQ(ReadMessage(pipe.get(), error), L"[0=a,]");
    ASSERT_TRUE(WriteMessage(pipe.get(), L"[0=b,]"));
    EXPECT_EQ(ReadMessage(pipe.get(), error), L"[0=b,]");
    EXPECT_EQ(error, 0u);
}

// count actions "[0=vNNNNN,x,]" numbered from first: what the echo runner
// answers with, too.
std::wstring NumberedScript(int count, int first)
{
    ScriptActions actions;
    for (int i = first; i < first + count; ++i)
        actions.push_back(ScriptAction{action::kSetVariable, {L"v" + std::to_wstring(100000 + i).substr(1), L"x"}});
    return WriteScript(actions);
}

TEST_F(ScriptTransport, LongScriptsAfterAShortOneOnOneConnectionAreAnsweredWhole)
{
    const std::wstring scripts[] = {L"[0=a,]", NumberedScript(600, 0), NumberedScript(700, 1000)};
    ASSERT_GT(WireBytes(scripts[1]), 3 * kPipeChunkBytes);
    UniqueFileHandle pipe = OpenClient();
    ASSERT_TRUE(pipe) << GetLastError();
    // Like the switcher, the client writes each whole script before it reads.
    std::vector<std::wstring> replies;
    std::vector<DWORD> errors;
    UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread client([&] {
        for (const std::wstring& script : scripts) {
            DWORD error = 1;
            if (!WriteMessage(pipe.get(), script))
                break;
            replies.push_back(ReadMessage(pipe.get(), error));
            errors.push_back(error);
        }
        SetEvent(done.get());
    });
    // A server that took a long script for several would leave the client
    // blocked in its write and itself in the flush; the stop frees both.
    const bool inTime = WaitForSingleObject(done.get(), 20000) == WAIT_OBJECT_0;
    if (!inTime)
        m_server.Stop();
    client.join();
    EXPECT_TRUE(inTime);
    ASSERT_EQ(replies.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(replies[i] == scripts[i]) << "reply of " << replies[i].size() << " characters, script of "
                                              << scripts[i].size();
        EXPECT_EQ(errors[i], 0u);
    }
}

TEST_F(ScriptTransport, MalformedActionEndsParsingOfALongMessage)
{
    std::wstring script = L"[0=first,][=bad,]";
    script.append(5000, L'x');
    script += L"[0=after,]";
    DWORD error = 1;
    EXPECT_EQ(Exchange(script, error), L"[0=first,]");
    EXPECT_EQ(error, 0u);
}

TEST_F(ScriptTransport, ActionLongerThanAChunkEndsOnlyItsConnection)
{
    UniqueFileHandle idle = OpenClient();
    ASSERT_TRUE(idle) << GetLastError();

    DWORD error = 0;
    const std::wstring reply = Exchange(L"[0=" + std::wstring(3000, L'x') + L",]", error);
    EXPECT_EQ(reply, L"");
    EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) << error;

    ASSERT_TRUE(WriteMessage(idle.get(), L"[0=still,]"));
    EXPECT_EQ(ReadMessage(idle.get(), error), L"[0=still,]");
    EXPECT_EQ(error, 0u);
}

TEST_F(ScriptTransport, ScriptWithTooManyActionsEndsItsConnection)
{
    std::wstring allowed;
    for (std::size_t i = 0; i < kMaxScriptActions; ++i)
        allowed += L"[0=,]";
    DWORD error = 1;
    EXPECT_TRUE(Exchange(allowed, error) == allowed);
    EXPECT_EQ(error, 0u);

    EXPECT_EQ(Exchange(allowed + L"[0=,]", error), L"");
    EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) << error;
}

TEST_F(ScriptTransport, TwoClientsRunConcurrently)
{
    std::atomic<DWORD> started = 0;
    std::atomic<DWORD> finished = 0;
    m_server.Stop();
    // Each run waits until the other has started, so both answer only when
    // the two runs overlap.
    UniqueHandle bothIn(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(m_server.Start(
        [&](const ScriptActions&, const std::atomic<bool>&) {
            if (++started == 2)
                SetEvent(bothIn.get());
            const bool together = WaitForSingleObject(bothIn.get(), 5000) == WAIT_OBJECT_0;
            ++finished;
            return std::wstring(together ? L"together=1;" : L"together=0;");
        },
        kTestPipe));
    std::wstring replies[2];
    std::thread clients[2];
    for (int i = 0; i < 2; ++i)
        clients[i] = std::thread([&replies, i] {
            DWORD error = 0;
            replies[i] = Exchange(L"[0=a,]", error);
        });
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(replies[0], L"together=1;");
    EXPECT_EQ(replies[1], L"together=1;");
    EXPECT_EQ(finished.load(), 2u);
}

TEST_F(ScriptTransport, ClientClosingWithoutWritingEndsItsThread)
{
    const DWORD before = CountOwnThreads();
    UniqueFileHandle pipe = OpenClient();
    ASSERT_TRUE(pipe) << GetLastError();
    EXPECT_TRUE(WaitForThreadCount(before + 1, 2000)) << "threads: " << CountOwnThreads() << " before: " << before;
    pipe.reset();
    EXPECT_TRUE(WaitForThreadCount(before, 2000)) << "threads: " << CountOwnThreads() << " before: " << before;
}

TEST_F(ScriptTransport, ServerKeepsServingAfterClientVanishesMidExchange)
{
    {
        UniqueFileHandle pipe = OpenClient();
        ASSERT_TRUE(pipe) << GetLastError();
        ASSERT_TRUE(WriteMessage(pipe.get(), L"[1=200,][0=" + std::wstring(1000, L'v') + L",]"));
    }
    Sleep(300);
    DWORD error = 1;
    EXPECT_EQ(Exchange(L"[0=next,]", error), L"[0=next,]");
    EXPECT_EQ(error, 0u);
}

TEST_F(ScriptTransport, StopWithFiftyIdleClientsReturnsWithinTwoSeconds)
{
    std::vector<UniqueFileHandle> idle;
    for (int i = 0; i < 50; ++i) {
        idle.push_back(OpenClient());
        ASSERT_TRUE(idle.back()) << i << ": " << GetLastError();
    }
    const auto begin = std::chrono::steady_clock::now();
    m_server.Stop();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
    EXPECT_LT(elapsed.count(), 2000);
    EXPECT_FALSE(m_server.Running());

    DWORD error = 0;
    EXPECT_EQ(ReadMessage(idle.front().get(), error), L"");
    EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) << error;
    EXPECT_FALSE(OpenClient());
}

TEST_F(ScriptTransport, ClientThatNeverReadsItsReplyDoesNotHoldTheStop)
{
    UniqueFileHandle pipe = OpenClient();
    ASSERT_TRUE(pipe) << GetLastError();
    ASSERT_TRUE(WriteMessage(pipe.get(), L"[0=unread,]"));
    Sleep(200);
    UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread stopper([&] {
        m_server.Stop();
        SetEvent(stopped.get());
    });
    const bool inTime = WaitForSingleObject(stopped.get(), 2000) == WAIT_OBJECT_0;
    // Closing the client releases a server that still waits for it.
    pipe.reset();
    stopper.join();
    EXPECT_TRUE(inTime);
}

TEST_F(ScriptTransport, StopLetsARunningScriptFinish)
{
    UniqueFileHandle pipe = OpenClient();
    ASSERT_TRUE(pipe) << GetLastError();
    ASSERT_TRUE(WriteMessage(pipe.get(), L"[1=300,][0=done,]"));
    Sleep(100);
    std::thread reader([&] {
        DWORD error = 1;
        EXPECT_EQ(ReadMessage(pipe.get(), error), L"[1=300,][0=done,]");
        EXPECT_EQ(error, 0u);
    });
    m_server.Stop();
    reader.join();
}

TEST_F(ScriptTransport, StartWhileRunningRestarts)
{
    ASSERT_TRUE(m_server.Start(EchoRunner, kTestPipe));
    DWORD error = 1;
    EXPECT_EQ(Exchange(L"[0=again,]", error), L"[0=again,]");
}

TEST_F(ScriptTransport, FailedStartReportsItsErrorAndLeavesTheServerStartable)
{
    // Start stops the running server first, then fails on a name that is no pipe.
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(m_server.Start(EchoRunner, L"\\\\.\\not-a-pipe-name"));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(m_server.Running());

    ASSERT_TRUE(m_server.Start(EchoRunner, kTestPipe)) << GetLastError();
    DWORD error = 1;
    EXPECT_EQ(Exchange(L"[0=back,]", error), L"[0=back,]");
}

TEST(ScriptServerStart, NameServedByAnotherServerIsRefused)
{
    UniqueFileHandle other(CreateNamedPipeW(kTestPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                            PIPE_UNLIMITED_INSTANCES, kPipeChunkBytes, kPipeChunkBytes, 0, nullptr));
    ASSERT_TRUE(other) << GetLastError();
    CScriptServer server;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(server.Start(EchoRunner, kTestPipe));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(server.Running());
}

TEST(ScriptServerProcess, ServesTheServicePipeName)
{
    ASSERT_EQ(StartScriptServer(EchoRunner), 1);
    CScriptClient client;
    ASSERT_TRUE(client.Connect()) << GetLastError();
    ASSERT_TRUE(client.Send(L"[0=a,]"));
    ScriptVariables results;
    EXPECT_TRUE(client.Receive(results));
    client.Close();
    EXPECT_EQ(StopScriptServer(), 1);
    EXPECT_EQ(StopScriptServer(), 1);
}

// Polls condition every 10 ms until it holds, up to timeoutMs.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(10);
    }
    return true;
}

// Polls until the server has ended this client's connection (its end then
// reports the pipe broken or not connected), up to timeoutMs; how long that
// took, or nullopt when it did not happen.
std::optional<ULONGLONG> WaitUntilDropped(HANDLE pipe, DWORD timeoutMs)
{
    const ULONGLONG begin = GetTickCount64();
    for (;;) {
        const ULONGLONG elapsed = GetTickCount64() - begin;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, nullptr, nullptr)) {
            const DWORD error = GetLastError();
            EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) << error;
            return elapsed;
        }
        if (elapsed > timeoutMs)
            return std::nullopt;
        Sleep(10);
    }
}

// Limits short enough to be reached within a test.
constexpr ScriptServerLimits kShortLimits{3, 600, 600, 64 * 1024, 1000};
constexpr ScriptServerLimits kLongWaits{3, 20000, 20000, 64 * 1024, 1000};

class ScriptServerBounds : public testing::Test {
protected:
    void TearDown() override
    {
        SetEvent(m_release.get());
        m_server.Stop();
    }
    void Start(const ScriptServerLimits& limits, ScriptRunner runner = EchoRunner)
    {
        ASSERT_TRUE(m_server.Start(std::move(runner), kTestPipe, limits)) << GetLastError();
    }

    // A runner may hold its runs until m_release is set, counting them in m_held.
    const UniqueHandle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<std::size_t> m_held = 0;
    CScriptServer m_server;
};

TEST_F(ScriptServerBounds, ClientSendingNothingIsDroppedAtTheIdleLimitWhileOthersAreAnswered)
{
    Start(kShortLimits);
    UniqueFileHandle idle = OpenClient();
    ASSERT_TRUE(idle) << GetLastError();
    const ULONGLONG opened = GetTickCount64();
    for (int i = 0; i < 3; ++i) {
        DWORD error = 1;
        EXPECT_EQ(Exchange(L"[0=meanwhile,]", error), L"[0=meanwhile,]");
        EXPECT_EQ(error, 0u);
    }
    const std::optional<ULONGLONG> dropped = WaitUntilDropped(idle.get(), 10000);
    ASSERT_TRUE(dropped.has_value()) << "still connected after 10 s";
    EXPECT_GE(GetTickCount64() - opened, kShortLimits.idleTimeoutMs - 20);
}

TEST_F(ScriptServerBounds, ReplyNotTakenIsDroppedAtTheReplyLimit)
{
    Start(kShortLimits);
    // An echo longer than the pipe's buffer: the server's write lasts until
    // the client has read it.
    const std::wstring script = NumberedScript(600, 0);
    ASSERT_GT(WireBytes(script), 3 * kPipeChunkBytes);

    UniqueFileHandle reading = OpenClient();
    ASSERT_TRUE(reading && WriteMessage(reading.get(), script)) << GetLastError();
    Sleep(kShortLimits.replyReadTimeoutMs / 3);
    DWORD error = 1;
    EXPECT_TRUE(ReadMessage(reading.get(), error) == script) << "a reply read within the limit arrives whole";
    EXPECT_EQ(error, 0u);

    UniqueFileHandle notReading = OpenClient();
    ASSERT_TRUE(notReading && WriteMessage(notReading.get(), script)) << GetLastError();
    const ULONGLONG written = GetTickCount64();
    ASSERT_TRUE(WaitUntilDropped(notReading.get(), 10000).has_value()) << "still connected after 10 s";
    EXPECT_GE(GetTickCount64() - written, kShortLimits.replyReadTimeoutMs - 20);
}

TEST_F(ScriptServerBounds, NewcomerIsDroppedWhileEveryConnectionRunsAScript)
{
    Start(kLongWaits, [this](const ScriptActions& actions, const std::atomic<bool>&) {
        ++m_held;
        WaitForSingleObject(m_release.get(), 10000);
        return WriteScript(actions);
    });
    std::vector<UniqueFileHandle> busy;
    for (std::size_t i = 0; i < kLongWaits.maxConnections; ++i) {
        busy.push_back(OpenClient());
        ASSERT_TRUE(busy.back() && WriteMessage(busy.back().get(), L"[0=busy,]")) << i << ": " << GetLastError();
    }
    ASSERT_TRUE(WaitUntil([&] { return m_held == kLongWaits.maxConnections; }, 5000)) << m_held;

    // Opened without setting its read mode: the server may drop it first.
    UniqueFileHandle newcomer(
        CreateFileW(kTestPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(newcomer) << GetLastError();
    EXPECT_TRUE(WaitUntilDropped(newcomer.get(), 5000).has_value());
    SetEvent(m_release.get());
    for (std::size_t i = 0; i < busy.size(); ++i) {
        SCOPED_TRACE(i);
        DWORD error = 1;
        EXPECT_EQ(ReadMessage(busy[i].get(), error), L"[0=busy,]");
        EXPECT_EQ(error, 0u);
    }
}

// Answers as EchoRunner does and records the thread that ran each script.
class ConnectionThreadReuse : public ScriptServerBounds {
protected:
    void SetUp() override
    {
        Start(kShortLimits, [this](const ScriptActions& actions, const std::atomic<bool>& stopRequested) {
            const std::lock_guard lock(m_mutex);
            m_runners.push_back(GetCurrentThreadId());
            return EchoRunner(actions, stopRequested);
        });
    }
    std::set<DWORD> Runners()
    {
        const std::lock_guard lock(m_mutex);
        return std::set<DWORD>(m_runners.begin(), m_runners.end());
    }
    DWORD LastRunner()
    {
        const std::lock_guard lock(m_mutex);
        return m_runners.back();
    }

    std::mutex m_mutex;
    std::vector<DWORD> m_runners;
};

TEST_F(ConnectionThreadReuse, ClientsOneAfterAnotherShareAFewThreadsAndLeaveOnlyTheReadyOnes)
{
    for (int i = 0; i < 48; ++i) {
        const std::wstring script = L"[0=client" + std::to_wstring(i) + L",]";
        DWORD error = 1;
        ASSERT_EQ(Exchange(script, error), script) << i;
    }
    EXPECT_LE(Runners().size(), 12u) << "a thread was started for most clients";
    // Of the threads that ran scripts, the two kept ready stay. (Counting the
    // process's threads would not do: Wine starts threads of its own.)
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::size_t alive = 0;
            for (const DWORD id : Runners()) {
                const UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, id));
                alive += thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
            }
            return alive <= 2;
        },
        5000));
}

TEST_F(ConnectionThreadReuse, ThreadServesItsNextClientAfreshAfterALimitOrTheClientEndedTheLast)
{
    std::wstring tooManyActions;  // ends in an action the next chunk would finish
    for (std::size_t i = 0; i <= kMaxScriptActions; ++i)
        tooManyActions += L"[0=v,x,]";
    tooManyActions += L"[0=unfinished";
    // What the client sends after its first reply; nothing: it stays idle.
    const std::pair<const char*, std::wstring> ends[] = {
        {"idle limit", L""},
        {"action limit", tooManyActions},
        {"left while its script ran", L"[1=100,][0=" + std::wstring(3000, L'w') + L",]"},
    };
    for (const auto& [name, sent] : ends) {
        bool reused = false;
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(testing::Message() << name << ", round " << round);
            UniqueFileHandle client = OpenClient();
            DWORD error = 1;
            ASSERT_TRUE(client && WriteMessage(client.get(), L"[0=first,]")) << GetLastError();
            ASSERT_EQ(ReadMessage(client.get(), error), L"[0=first,]");
            const DWORD endedConnectionsThread = LastRunner();
            // A write longer than the pipe's buffer fails when the server drops the connection.
            if (!sent.empty())
                (void)WriteMessage(client.get(), sent);
            if (sent.starts_with(L"[1="))
                client.reset();
            else
                ASSERT_TRUE(WaitUntilDropped(client.get(), 10000).has_value());
            // Time for its thread to be back in the ready set, well within the
            // quarter second after which a third waiting thread ends.
            Sleep(50);
            EXPECT_EQ(Exchange(L"[0=next,]", error), L"[0=next,]");
            reused |= LastRunner() == endedConnectionsThread;
        }
        EXPECT_TRUE(reused) << name;
    }
}

TEST(ScriptServerStop, GivesUpOnAScriptThatDoesNotEndAfterTheStopWait)
{
    // A pipe of its own: the abandoned connection holds its instance until
    // its script ends, after this test.
    constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\ObrinScriptStopWaitTest";
    CScriptServer server;
    ASSERT_TRUE(server.Start(
        [](const ScriptActions&, const std::atomic<bool>&) {
            Sleep(4000);
            return std::wstring();
        },
        kPipe, kShortLimits));
    UniqueFileHandle pipe = OpenClient(kPipe);
    ASSERT_TRUE(pipe && WriteMessage(pipe.get(), L"[0=stuck,]")) << GetLastError();
    Sleep(200);
    const ULONGLONG begin = GetTickCount64();
    server.Stop();
    const ULONGLONG elapsed = GetTickCount64() - begin;
    EXPECT_GE(elapsed, kShortLimits.stopWaitMs - 20);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_FALSE(server.Running());
}

// Every instance but the one listening is taken (by this test, standing in
// for another process that holds the name): the instance for the next client
// cannot be made until it is given back.
TEST(ScriptServerListener, FailedCreateIsLoggedOnceRetriedAndRecovers)
{
    constexpr ScriptServerLimits kOneConnection{1, 20000, 20000, 64 * 1024, 1000};
    CScriptServer server;
    ASSERT_TRUE(server.Start(EchoRunner, kTestPipe, kOneConnection)) << GetLastError();
    UniqueFileHandle holder(CreateNamedPipeW(kTestPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                             PIPE_UNLIMITED_INSTANCES, kPipeChunkBytes, kPipeChunkBytes, 0, nullptr));
    ASSERT_TRUE(holder) << GetLastError();
    const test::LogTail log;

    UniqueFileHandle first = OpenClient();
    ASSERT_TRUE(first) << GetLastError();
    ASSERT_TRUE(WaitUntil([&] { return !server.Running(); }, 5000)) << "the next instance was made";
    Sleep(1000);
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(1u, test::CountLinesWith(log.NewLines(), "[ERROR][CScriptServer::Listen():")) << log.NewText();
    EXPECT_EQ(1u, test::CountLinesWith(log.NewLines(), "] Failed to call CreateNamedPipe [Err=231]; retrying."))
        << log.NewText();

    holder.reset();
    first.reset();
    EXPECT_TRUE(WaitUntil([&] { return server.Running(); }, 5000));
    EXPECT_EQ(1u, test::CountLinesWith(log.NewLines(), "] CreateNamedPipe succeeded again.")) << log.NewText();
    DWORD error = 1;
    EXPECT_EQ(Exchange(L"[0=again,]", error), L"[0=again,]");
    EXPECT_EQ(error, 0u);
}

// The client lets the server identify it but never act as it. Wine grants
// the server impersonation whatever the client asked for (the level reads
// SecurityImpersonation), so this is seen on Windows only.
TEST(ScriptClient, ServerMayIdentifyButNotImpersonateTheClient)
{
    if (test::RunningUnderWine())
        GTEST_SKIP() << "Wine ignores the client's SECURITY_SQOS_PRESENT flags when the server impersonates it";
    UniqueFileHandle server(CreateNamedPipeW(kTestPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                             1, kPipeChunkBytes, kPipeChunkBytes, 0, nullptr));
    ASSERT_TRUE(server) << GetLastError();
    CScriptClient client;
    ASSERT_TRUE(client.Connect(kTestPipe)) << GetLastError();
    ASSERT_TRUE(client.Send(L"[0=a,]"));
    wchar_t received[16];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(server.get(), received, sizeof(received), &got, nullptr)) << GetLastError();
    ASSERT_TRUE(ImpersonateNamedPipeClient(server.get())) << GetLastError();
    UniqueHandle token;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put());
    SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
    DWORD size = 0;
    const BOOL read = opened && GetTokenInformation(token.get(), TokenImpersonationLevel, &level, sizeof(level), &size);
    RevertToSelf();
    ASSERT_TRUE(read) << GetLastError();
    EXPECT_EQ(level, SecurityIdentification);
}

class ScriptClientTest : public ScriptTransport {};

TEST_F(ScriptClientTest, ExchangeFillsTheResultMap)
{
    m_server.Stop();
    ASSERT_TRUE(m_server.Start(
        [](const ScriptActions&, const std::atomic<bool>&) {
            return std::wstring(L"Foo=2;WMIS_ActionIndex=1;WMIS_HRESULT=0;");
        },
        kTestPipe));
    CScriptClient client;
    ASSERT_TRUE(client.Connect(kTestPipe)) << GetLastError();
    ASSERT_TRUE(client.Send(L"[0=Foo,1,][0=FOO,2,]")) << GetLastError();
    ScriptVariables results{{L"stale", L"x"}};
    ASSERT_TRUE(client.Receive(results));
    EXPECT_EQ(FormatResults(results), L"Foo=2;WMIS_ActionIndex=1;WMIS_HRESULT=0;");
    client.Close();
    EXPECT_FALSE(client.Connected());
}

TEST_F(ScriptClientTest, LongReplyIsParsedAcrossChunks)
{
    m_server.Stop();
    ScriptVariables sent;
    for (int i = 0; i < 700; ++i)
        sent[L"key" + std::to_wstring(i)] = std::wstring(static_cast<std::size_t>(i % 23), L'a' + static_cast<wchar_t>(i % 26));
    const std::wstring reply = FormatResults(sent);
    ASSERT_GT(WireBytes(reply), 3 * kPipeChunkBytes);
    ASSERT_TRUE(m_server.Start([&](const ScriptActions&, const std::atomic<bool>&) { return reply; }, kTestPipe));
    CScriptClient client;
    ASSERT_TRUE(client.Connect(kTestPipe)) << GetLastError();
    ASSERT_TRUE(client.Send(L"[0=,]"));
    ScriptVariables results;
    ASSERT_TRUE(client.Receive(results));
    EXPECT_TRUE(results == sent) << results.size() << " of " << sent.size();
}

TEST_F(ScriptClientTest, PairLongerThanTheBufferEndsTheReceive)
{
    m_server.Stop();
    const std::wstring reply = L"first=1;long=" + std::wstring(3000, L'v') + L";last=2;";
    ASSERT_TRUE(m_server.Start([&](const ScriptActions&, const std::atomic<bool>&) { return reply; }, kTestPipe));
    CScriptClient client;
    ASSERT_TRUE(client.Connect(kTestPipe)) << GetLastError();
    ASSERT_TRUE(client.Send(L"[0=,]"));
    ScriptVariables results;
    EXPECT_TRUE(client.Receive(results));
    EXPECT_EQ(FormatResults(results), L"first=1;");
}

TEST_F(ScriptClientTest, EmptyReplyGivesEmptyMap)
{
    CScriptClient client;
    ASSERT_TRUE(client.Connect(kTestPipe)) << GetLastError();
    ASSERT_TRUE(client.Send(L""));
    ScriptVariables results{{L"stale", L"x"}};
    EXPECT_TRUE(client.Receive(results));
    EXPECT_TRUE(results.empty());
}

TEST(ScriptClient, WithoutConnectionSendAndReceiveFail)
{
    CScriptClient client;
    ScriptVariables results;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(client.Send(L"[0=,]"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(client.Receive(results));
}

TEST(ScriptClient, MissingPipeFailsWithFileNotFound)
{
    CScriptClient client;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(client.Connect(L"\\\\.\\pipe\\ObrinNoSuchPipe"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(client.Connected());
}

TEST(ScriptClient, BusyPipeIsWaitedFor)
{
    constexpr wchar_t kBusyPipe[] = L"\\\\.\\pipe\\ObrinBusyPipeTest";
    UniqueFileHandle server(CreateNamedPipeW(kBusyPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                             1, kPipeChunkBytes, kPipeChunkBytes, 0, nullptr));
    ASSERT_TRUE(server) << GetLastError();
    UniqueFileHandle first(CreateFileW(kBusyPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(first) << GetLastError();
    // The only instance is taken; it is freed and listening again shortly.
    std::thread release([&] {
        Sleep(300);
        first.reset();
        DisconnectNamedPipe(server.get());
        ConnectNamedPipe(server.get(), nullptr);
    });
    CScriptClient client;
    const ULONGLONG begin = GetTickCount64();
    EXPECT_TRUE(client.Connect(kBusyPipe)) << GetLastError();
    EXPECT_LT(GetTickCount64() - begin, kBusyPipeWaitMs);
    release.join();
}

}  // namespace
}  // namespace obrin::script
