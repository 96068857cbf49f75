#include "service/script/script_server.h"

#include <process.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/log.h"

namespace obrin::script {

struct ScriptServerState {
    ScriptRunner runner;
    ScriptServerLimits limits;
    std::wstring pipeName;
    UniqueLocalMem securityDescriptor;
    UniqueHandle stopEvent;
    // Set with stopEvent; read by the runners between their steps, where a
    // wait on the event would cost a system call per step.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> serving{false};
    // Connection threads in ThreadPhase::Waiting.
    std::atomic<std::size_t> waitingThreads{0};
};

namespace {

// Who may do what with every instance of the pipe:
//   D;;GA;;;NU    network logons: nothing (the pipe also rejects remote clients)
//   A;;GA;;;SY    LocalSystem, the service itself: full control
//   A;;GA;;;BA    Administrators: full control
//   A;;GRGW;;;IU  interactive users: read and write, as the switcher opens it
//   A;;GRGW;;;AU  authenticated users: the same (a program of the user's
//                 started otherwise than interactively)
// No entry grants WRITE_DAC or WRITE_OWNER to users, so no client can change
// who may use the pipe. "P" keeps inherited entries out. Deny comes first, as
// an access check reads the list in order.
constexpr wchar_t kPipeSecurity[] = L"D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;IU)(A;;GRGW;;;AU)";

// How the listener retries a pipe call that failed: the first pause, doubled
// after every further failure up to the longest.
constexpr DWORD kFirstRetryMs = 50;
constexpr DWORD kLongestRetryMs = 2000;
// Connection threads started ahead, each waiting in COM for a client of its
// own: while one client is served, the next ones' threads start, so clients
// that come one after the other do not wait for a thread either.
constexpr std::size_t kReadyThreads = 2;
// A thread whose client has left waits for the next one, in COM still, while
// fewer than this many wait: starting and ending a thread in a process with
// COM and WMI loaded costs more than a whole exchange. Beyond kReadyThreads a
// waiting thread ends after kSurplusWaitMs without a client, so a burst of
// clients leaves no threads behind.
constexpr std::size_t kMaxReadyThreads = kReadyThreads + 6;
constexpr DWORD kSurplusWaitMs = 250;
// How long the listener waits for a connection it closes to make room.
constexpr DWORD kMakeRoomWaitMs = 1000;
// WaitForMultipleObjects takes at most this many handles.
constexpr std::size_t kWaitGroup = MAXIMUM_WAIT_OBJECTS;

// Connection::idleSince: busy (not connected yet, running a script or
// writing a reply), or being closed by the listener; any other value is the
// tick count since which it has waited for its client.
constexpr ULONGLONG kBusy = 0;
constexpr ULONGLONG kClosing = ~0ULL;

}  // namespace

// Where a connection thread is: waiting in the ready set, being handed a
// client by the listener, serving it, or ending. Only the listener moves a
// thread out of kWaiting to kClaimed, and only the thread itself to kLeaving,
// each with a compare-exchange; every other step is the one owner's.
enum class ThreadPhase { Waiting, Claimed, Serving, Leaving };

// The listener wakes a connection thread by queueing WakeConnection to it:
// once when it hands the instance over, and again when it closes the
// connection to make room. The thread's waits are alertable for it.
struct ScriptConnection {
    std::shared_ptr<ScriptServerState> server;
    UniqueHandle thread;        // the listener's
    UniqueFileHandle instance;  // the listener's until phase is Serving
    std::atomic<bool> inCom{false};
    std::atomic<ThreadPhase> phase{ThreadPhase::Waiting};
    std::atomic<ULONGLONG> idleSince{kBusy};
    std::atomic<bool> ended{false};
};

namespace {

using Connection = ScriptConnection;

bool StopRequested(const ScriptServerState& server) noexcept
{
    return server.stopRequested.load();
}

// Milliseconds left until deadline (a GetTickCount64 value).
DWORD TimeLeft(ULONGLONG deadline) noexcept
{
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
}

DWORD StartError(BOOL started) noexcept
{
    return started ? ERROR_SUCCESS : GetLastError();
}

void CALLBACK WakeConnection(ULONG_PTR) noexcept {}

// What an overlapped operation waits for besides its own event: the stop,
// optionally the listener closing the connection, and optionally a deadline.
struct Waits {
    HANDLE ioEvent = nullptr;
    HANDLE stopEvent = nullptr;
    const std::atomic<ULONGLONG>* idleSince = nullptr;  // kClosing: closed by the listener
    ULONGLONG deadline = 0;                              // GetTickCount64 value; 0: none
};

// Completes an overlapped operation that was started with startError
// (ERROR_SUCCESS when the call returned TRUE). One that is still pending at
// the stop, the listener's close or the deadline is cancelled, and
// ERROR_OPERATION_ABORTED or ERROR_TIMEOUT returned once the system no longer
// touches its buffer.
DWORD AwaitOverlapped(HANDLE handle, OVERLAPPED& overlapped, DWORD startError, const Waits& waits,
                      DWORD& bytes) noexcept
{
    bytes = 0;
    if (startError == ERROR_IO_PENDING) {
        const HANDLE handles[2] = {waits.ioEvent, waits.stopEvent};
        DWORD woken = WAIT_IO_COMPLETION;
        while (woken == WAIT_IO_COMPLETION && !(waits.idleSince && waits.idleSince->load() == kClosing))
            woken = WaitForMultipleObjectsEx(2, handles, FALSE, waits.deadline ? TimeLeft(waits.deadline) : INFINITE,
                                             TRUE);
        if (woken != WAIT_OBJECT_0) {
            CancelIoEx(handle, &overlapped);
            GetOverlappedResult(handle, &overlapped, &bytes, TRUE);
            return woken == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_OPERATION_ABORTED;
        }
    } else if (startError != ERROR_SUCCESS && startError != ERROR_MORE_DATA) {
        return startError;
    }
    if (GetOverlappedResult(handle, &overlapped, &bytes, FALSE))
        return ERROR_SUCCESS;
    return GetLastError();
}

bool ClientGone(DWORD error) noexcept
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

enum class ReadEnd {
    Message,     // a complete message, parsed into actions
    ClientGone,  // the client closed its end
    Dropped,     // a limit, the stop, the listener or a failure ended it
};

// Is the message whose first chunk of chunkBytes has just been read longer
// than maxBytes? Asked before anything of it is parsed.
bool MessageLongerThan(HANDLE instance, DWORD chunkBytes, std::size_t maxBytes) noexcept
{
    DWORD left = 0;
    return PeekNamedPipe(instance, nullptr, 0, nullptr, nullptr, &left) &&
           static_cast<std::size_t>(chunkBytes) + left > maxBytes;
}

// Reads one script message into actions, chunk by chunk with the unfinished
// action carried over in buffer (kPipeChunkChars). A message longer than
// limits.maxMessageBytes, with more than kMaxScriptActions actions, a larger
// parsed form or one action longer than a chunk is refused.
ReadEnd ReadScriptMessage(HANDLE instance, const Waits& waits, const ScriptServerLimits& limits, wchar_t* buffer,
                          ScriptActions& actions) noexcept
{
    try {
        actions.clear();
        std::size_t heldChars = 0;
        std::size_t messageBytes = 0;
        std::size_t parsedBytes = 0;
        // After a malformed action the rest of the message is read and dropped.
        bool ended = false;
        for (;;) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = waits.ioEvent;
            const auto room = static_cast<DWORD>(kPipeChunkBytes - heldChars * sizeof(wchar_t));
            const BOOL started = ReadFile(instance, buffer + heldChars, room, nullptr, &overlapped);
            DWORD got = 0;
            const DWORD error = AwaitOverlapped(instance, overlapped, StartError(started), waits, got);
            if (ClientGone(error))
                return ReadEnd::ClientGone;
            if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA)
                return ReadEnd::Dropped;
            const bool more = error == ERROR_MORE_DATA;
            if (messageBytes == 0 && more && MessageLongerThan(instance, got, limits.maxMessageBytes))
                return ReadEnd::Dropped;
            messageBytes += got;
            if (messageBytes > limits.maxMessageBytes)
                return ReadEnd::Dropped;
            if (!ended) {
                const std::size_t chars = heldChars + got / sizeof(wchar_t);
                const std::size_t before = actions.size();
                const ScriptChunkParse parse = ParseScriptChunk(std::wstring_view(buffer, chars), actions);
                for (std::size_t i = before; i < actions.size(); ++i)
                    parsedBytes += ParsedSize(actions[i]);
                if (actions.size() > kMaxScriptActions || parsedBytes > limits.maxMessageBytes)
                    return ReadEnd::Dropped;
                ended = parse.ended;
                heldChars = ended ? 0 : chars - parse.pendingStart;
                // One action that fills the whole buffer can never be completed.
                if (more && heldChars == kPipeChunkChars)
                    return ReadEnd::Dropped;
                std::memmove(buffer, buffer + parse.pendingStart, heldChars * sizeof(wchar_t));
            }
            if (!more)
                return ReadEnd::Message;
        }
    } catch (const std::bad_alloc&) {
        return ReadEnd::Dropped;
    }
}

bool WriteReply(HANDLE instance, const Waits& waits, const std::wstring& reply) noexcept
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = waits.ioEvent;
    const BOOL started = WriteFile(instance, reply.data(), static_cast<DWORD>(WireBytes(reply)), nullptr, &overlapped);
    DWORD bytes = 0;
    return AwaitOverlapped(instance, overlapped, StartError(started), waits, bytes) == ERROR_SUCCESS;
}

// From busy to waiting for the client; false when the listener is closing
// the connection.
bool MarkIdle(Connection& connection) noexcept
{
    ULONGLONG busy = kBusy;
    return connection.idleSince.compare_exchange_strong(busy, GetTickCount64());
}

// From waiting for the client to busy; false when the listener took the
// connection for closing first.
bool MarkBusy(Connection& connection) noexcept
{
    ULONGLONG since = connection.idleSince.load();
    return since != kClosing && connection.idleSince.compare_exchange_strong(since, kBusy);
}

// Serves the client until it leaves (false), or a limit, the listener or the
// stop ends the connection (true: drop it).
bool Serve(Connection& connection, HANDLE ioEvent) noexcept
{
    ScriptServerState& server = *connection.server;
    const HANDLE instance = connection.instance.get();
    const ScriptServerLimits& limits = server.limits;
    Waits waits{ioEvent, server.stopEvent.get(), &connection.idleSince, 0};
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kPipeChunkChars]);
    if (!buffer)
        return true;
    ScriptActions actions;
    while (!StopRequested(server) && MarkIdle(connection)) {
        waits.deadline = GetTickCount64() + limits.idleTimeoutMs;
        const ReadEnd end = ReadScriptMessage(instance, waits, limits, buffer.get(), actions);
        if (end != ReadEnd::Message)
            return end == ReadEnd::Dropped;
        if (!MarkBusy(connection))
            return true;
        std::wstring reply;
        try {
            reply = server.runner(actions, server.stopRequested);
        } catch (...) {
            return true;
        }
        // A reply up to the pipe's buffer size is written at once; a longer
        // one only as the client reads it. Either way the client has until
        // the deadline: what it has not read by then (or by the next
        // message's deadline) goes with the connection.
        waits.deadline = GetTickCount64() + limits.replyReadTimeoutMs;
        if (!WriteReply(instance, waits, reply))
            return true;
        // The instance stays in message read mode for the next script: in
        // byte mode a read never reports more data, so a script longer than
        // one chunk would be taken for several.
    }
    return true;
}

// One waiting thread fewer, if more than kReadyThreads wait.
bool LeaveSurplus(std::atomic<std::size_t>& waitingThreads) noexcept
{
    std::size_t waiting = waitingThreads.load();
    while (waiting > kReadyThreads)
        if (waitingThreads.compare_exchange_weak(waiting, waiting - 1))
            return true;
    return false;
}

// Waits in the ready set until the listener hands over a client (true), or
// the stop comes, or the thread is surplus after kSurplusWaitMs (false).
bool AwaitClient(Connection& connection) noexcept
{
    ScriptServerState& server = *connection.server;
    DWORD timeoutMs = kSurplusWaitMs;
    while (connection.phase.load() != ThreadPhase::Serving && !StopRequested(server)) {
        if (WaitForSingleObjectEx(server.stopEvent.get(), timeoutMs, TRUE) != WAIT_TIMEOUT)
            continue;
        timeoutMs = INFINITE;
        if (LeaveSurplus(server.waitingThreads)) {
            ThreadPhase waiting = ThreadPhase::Waiting;
            if (connection.phase.compare_exchange_strong(waiting, ThreadPhase::Leaving))
                return false;
            // Claimed by the listener meanwhile, which counted it out already.
            ++server.waitingThreads;
        }
    }
    return connection.phase.load() == ThreadPhase::Serving && !StopRequested(server);
}

// A place in the ready set, while fewer than kMaxReadyThreads wait.
bool ReserveReadyPlace(std::atomic<std::size_t>& waitingThreads) noexcept
{
    std::size_t waiting = waitingThreads.load();
    while (waiting < kMaxReadyThreads)
        if (waitingThreads.compare_exchange_weak(waiting, waiting + 1))
            return true;
    return false;
}

// Back to the ready set after a connection (true), unless the listener closed
// it to make room (the listener waits for its thread to end), the stop came,
// or the ready set is full.
bool ReturnToReadySet(Connection& connection) noexcept
{
    ScriptServerState& server = *connection.server;
    const bool kept = MarkBusy(connection) && !StopRequested(server) && ReserveReadyPlace(server.waitingThreads);
    connection.phase.store(kept ? ThreadPhase::Waiting : ThreadPhase::Leaving);
    return kept;
}

unsigned __stdcall ConnectionThread(void* context) noexcept
{
    const std::shared_ptr<Connection> connection = std::move(*static_cast<std::shared_ptr<Connection>*>(context));
    delete static_cast<std::shared_ptr<Connection>*>(context);
    const ScriptServerState& server = *connection->server;
    {
        // Entered once, while the listener still waits for the client, so a
        // client never waits for it; the runner's own CoInitializeEx then only
        // adds a reference to this thread's apartment.
        const ComInit com(COINIT_MULTITHREADED);
        const UniqueHandle ioEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        connection->inCom.store(true);
        // Without a handover (a stop came first) the instance, if the listener
        // hands one over after all, is closed with the record.
        while (AwaitClient(*connection)) {
            // Dropping discards what the client has not read yet. After a stop
            // the instance is only closed: the client can still read a reply
            // written before, then finds the pipe broken.
            if (ioEvent && Serve(*connection, ioEvent.get()) && !StopRequested(server))
                DisconnectNamedPipe(connection->instance.get());
            // Nothing of the connection outlives it: Serve keeps its buffer
            // and parsed script to itself, and the instance goes here.
            connection->instance.reset();
            if (!ReturnToReadySet(*connection))
                break;
        }
    }
    connection->ended.store(true);
    return 0;
}

// A connection thread that enters COM and waits in the ready set; null when
// none could be started.
std::shared_ptr<Connection> StartConnectionThread(const std::shared_ptr<ScriptServerState>& server) noexcept
{
    try {
        auto connection = std::make_shared<Connection>();
        connection->server = server;
        auto context = std::make_unique<std::shared_ptr<Connection>>(connection);
        ++server->waitingThreads;
        connection->thread.reset(
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ConnectionThread, context.get(), 0, nullptr)));
        if (!connection->thread) {
            --server->waitingThreads;
            return nullptr;
        }
        (void)context.release();
        return connection;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Starts connection threads until kReadyThreads wait for clients.
void StartReadyThreads(std::vector<std::shared_ptr<Connection>>& threads,
                       const std::shared_ptr<ScriptServerState>& server) noexcept
{
    try {
        while (server->waitingThreads.load() < kReadyThreads) {
            threads.reserve(threads.size() + 1);
            std::shared_ptr<Connection> thread = StartConnectionThread(server);
            if (!thread)
                return;
            threads.push_back(std::move(thread));
        }
    } catch (const std::bad_alloc&) {
    }
}

bool Claim(Connection& thread) noexcept
{
    ThreadPhase waiting = ThreadPhase::Waiting;
    if (!thread.phase.compare_exchange_strong(waiting, ThreadPhase::Claimed))
        return false;
    --thread.server->waitingThreads;
    return true;
}

// Claims a waiting thread for the next client, preferring one already in
// COM; null when none waits.
std::shared_ptr<Connection> ClaimReadyThread(const std::vector<std::shared_ptr<Connection>>& threads) noexcept
{
    for (const bool inCom : {true, false})
        for (const std::shared_ptr<Connection>& thread : threads)
            if (thread->inCom.load() == inCom && thread->phase.load() == ThreadPhase::Waiting && Claim(*thread))
                return thread;
    return nullptr;
}

// Connections with a client (or being handed one).
std::size_t CountConnections(const std::vector<std::shared_ptr<Connection>>& threads) noexcept
{
    return static_cast<std::size_t>(std::count_if(threads.begin(), threads.end(), [](const auto& thread) {
        const ThreadPhase phase = thread->phase.load();
        return phase == ThreadPhase::Claimed || phase == ThreadPhase::Serving;
    }));
}

DWORD InstanceLimit(const ScriptServerLimits& limits) noexcept
{
    // The connections and the one instance listening for the next client.
    return static_cast<DWORD>(std::min<std::size_t>(limits.maxConnections + 1, PIPE_UNLIMITED_INSTANCES));
}

// The first instance claims the name, so that no other process can sit in
// front of the server and receive its clients' scripts: it fails with
// ERROR_ACCESS_DENIED when the name is served already.
UniqueFileHandle CreateServerInstance(const ScriptServerState& server, bool first) noexcept
{
    // Wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE; an instance that
    // answers the wait, or is busy, shows the name taken there too.
    if (first && (WaitNamedPipeW(server.pipeName.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return UniqueFileHandle();
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), server.securityDescriptor.get(), TRUE};
    return UniqueFileHandle(CreateNamedPipeW(server.pipeName.c_str(),
                                             PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                                 (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                                 PIPE_REJECT_REMOTE_CLIENTS,
                                             InstanceLimit(server.limits), kPipeChunkBytes, kPipeChunkBytes, 0,
                                             &attributes));
}

// A pipe call of the listener that may fail again and again: the first
// failure of a run is logged, each one is followed by a pause that grows up
// to kLongestRetryMs (cut short by the stop), and the first success after a
// failure is logged too.
class RetriedCall {
public:
    explicit RetriedCall(const wchar_t* name) noexcept : m_name(name) {}

    void Failed(DWORD error, HANDLE stopEvent) noexcept
    {
        if (m_delayMs == 0) {
            GetLog().Print(LOG_ERROR, "CScriptServer::Listen", __LINE__, L"Failed to call %s [Err=%u]; retrying.\n",
                           m_name, error);
            m_delayMs = kFirstRetryMs;
        } else {
            m_delayMs = std::min(m_delayMs * 2, kLongestRetryMs);
        }
        WaitForSingleObject(stopEvent, m_delayMs);
    }
    void Succeeded() noexcept
    {
        if (m_delayMs == 0)
            return;
        GetLog().Print(LOG_INFO, "CScriptServer::Listen", __LINE__, L"%s succeeded again.\n", m_name);
        m_delayMs = 0;
    }

private:
    const wchar_t* m_name;
    DWORD m_delayMs = 0;  // 0: the last call succeeded
};

// Closes the connection that has waited longest for its client, to make room
// for a new one, and waits for its thread to end (up to kMakeRoomWaitMs);
// false when none waits (all are running scripts or writing replies).
bool CloseIdleLongest(std::vector<std::shared_ptr<Connection>>& threads) noexcept
{
    for (;;) {
        auto oldest = threads.end();
        ULONGLONG oldestSince = kClosing;
        for (auto it = threads.begin(); it != threads.end(); ++it) {
            const ULONGLONG since = (*it)->idleSince.load();
            if (since != kBusy && since < oldestSince) {
                oldest = it;
                oldestSince = since;
            }
        }
        if (oldest == threads.end())
            return false;
        // It may have received a message meanwhile; then look again.
        if (!(*oldest)->idleSince.compare_exchange_strong(oldestSince, kClosing))
            continue;
        QueueUserAPC(WakeConnection, (*oldest)->thread.get(), 0);
        if (WaitForSingleObject((*oldest)->thread.get(), kMakeRoomWaitMs) == WAIT_OBJECT_0)
            threads.erase(oldest);
        return true;
    }
}

// Waits for every connection thread until deadline; the ones still running
// then (a script stuck in a WMI call) are left to end on their own.
void WaitForConnectionThreads(const std::vector<std::shared_ptr<Connection>>& threads, ULONGLONG deadline) noexcept
{
    for (std::size_t first = 0; first < threads.size(); first += kWaitGroup) {
        HANDLE group[kWaitGroup];
        const std::size_t count = std::min(kWaitGroup, threads.size() - first);
        for (std::size_t i = 0; i < count; ++i)
            group[i] = threads[first + i]->thread.get();
        WaitForMultipleObjects(static_cast<DWORD>(count), group, TRUE, TimeLeft(deadline));
    }
}

CScriptServer g_scriptServer;

}  // namespace

bool CScriptServer::Start(ScriptRunner runner, const wchar_t* pipeName, const ScriptServerLimits& limits) noexcept
{
    Stop();
    try {
        auto state = std::make_shared<ScriptServerState>();
        state->runner = std::move(runner);
        state->limits = limits;
        state->pipeName = pipeName;
        m_state = std::move(state);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    m_state->stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The first instance exists before Start returns, so clients can connect
    // at once and a pipe that cannot be created is reported here.
    if (m_state->stopEvent &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSecurity, SDDL_REVISION_1,
                                                             m_state->securityDescriptor.put(), nullptr))
        m_firstInstance = CreateServerInstance(*m_state, true);
    if (m_firstInstance) {
        m_state->serving.store(true);
        StartReadyThreads(m_readyThreads, m_state);
        m_listener.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ListenerThread, this, 0, nullptr)));
    }
    if (m_listener)
        return true;
    // The owners keep the last error of the failed step while they close.
    m_firstInstance.reset();
    if (!m_readyThreads.empty()) {
        m_state->stopRequested.store(true);
        SetEvent(m_state->stopEvent.get());
        m_readyThreads.clear();
    }
    m_state.reset();
    return false;
}

void CScriptServer::Stop() noexcept
{
    if (!m_listener)
        return;
    m_state->stopRequested.store(true);
    SetEvent(m_state->stopEvent.get());
    WaitForSingleObject(m_listener.get(), INFINITE);
    m_listener.reset();
    m_state.reset();
}

bool CScriptServer::Running() const noexcept
{
    return m_listener.valid() && m_state->serving.load();
}

unsigned __stdcall CScriptServer::ListenerThread(void* server) noexcept
{
    static_cast<CScriptServer*>(server)->Listen();
    return 0;
}

void CScriptServer::Listen() noexcept
{
    ScriptServerState& server = *m_state;
    const HANDLE stopEvent = server.stopEvent.get();
    const UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Every connection thread, waiting in the ready set or serving a client.
    std::vector<std::shared_ptr<Connection>> threads = std::move(m_readyThreads);
    RetriedCall create(L"CreateNamedPipe");
    RetriedCall connect(L"ConnectNamedPipe");
    UniqueFileHandle instance = std::move(m_firstInstance);
    while (connected && !StopRequested(server)) {
        if (!instance) {
            instance = CreateServerInstance(server, false);
            server.serving.store(instance.valid());
            if (!instance) {
                create.Failed(GetLastError(), stopEvent);
                continue;
            }
            create.Succeeded();
        }
        // The next clients' threads start, and enter COM, while this one waits.
        StartReadyThreads(threads, m_state);

        OVERLAPPED overlapped{};
        overlapped.hEvent = connected.get();
        DWORD error = StartError(ConnectNamedPipe(instance.get(), &overlapped));
        if (error != ERROR_PIPE_CONNECTED) {
            DWORD unused = 0;
            error = AwaitOverlapped(instance.get(), overlapped, error, Waits{connected.get(), stopEvent}, unused);
        }
        if (StopRequested(server))
            break;
        if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED) {
            instance.reset();
            // A client that came and went before it was accepted is no failure.
            if (error != ERROR_NO_DATA)
                connect.Failed(error, stopEvent);
            continue;
        }
        connect.Succeeded();

        UniqueFileHandle client = std::move(instance);
        std::erase_if(threads, [](const std::shared_ptr<Connection>& c) { return c->ended.load(); });
        if (CountConnections(threads) >= server.limits.maxConnections && !CloseIdleLongest(threads)) {
            // Every connection is running a script or writing its reply.
            DisconnectNamedPipe(client.get());
            client.reset();
        }
        // The next instance is made before this one is handed over, so the
        // pipe never vanishes between clients (a client finding no instance
        // at all gives up at once instead of waiting). When it cannot be made,
        // the loop's first step tries again and reports the failure.
        instance = CreateServerInstance(server, false);
        if (!client)
            continue;
        StartReadyThreads(threads, m_state);
        if (const std::shared_ptr<Connection> connection = ClaimReadyThread(threads)) {
            connection->instance = std::move(client);
            connection->phase.store(ThreadPhase::Serving);
            QueueUserAPC(WakeConnection, connection->thread.get(), 0);
        } else {
            DisconnectNamedPipe(client.get());
        }
    }
    server.serving.store(false);
    const ULONGLONG deadline = GetTickCount64() + server.limits.stopWaitMs;
    // The waiting threads end at the stop by themselves.
    WaitForConnectionThreads(threads, deadline);
}

int StartScriptServer(ScriptRunner runner) noexcept
{
    return g_scriptServer.Start(std::move(runner)) ? 1 : 0;
}

int StopScriptServer() noexcept
{
    g_scriptServer.Stop();
    return 1;
}

}  // namespace obrin::script
