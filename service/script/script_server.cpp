#include "service/script/script_server.h"

#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace obrin::script {

namespace {

// How long the listener pauses before retrying when all 255 instances are in use.
constexpr DWORD kAllInstancesBusyRetryMs = 50;
// How often a stopping listener cancels a wait for a client to read its reply.
constexpr DWORD kFlushCancelRetryMs = 50;
// WaitForMultipleObjects takes at most this many handles.
constexpr std::size_t kWaitGroup = MAXIMUM_WAIT_OBJECTS;

// Completes an overlapped operation that was started with startError
// (ERROR_SUCCESS when the call returned TRUE). While it is pending the stop
// event is waited on too; a stop cancels the operation and gives
// ERROR_OPERATION_ABORTED once the system no longer touches its buffer.
DWORD AwaitOverlapped(HANDLE handle, OVERLAPPED& overlapped, DWORD startError, HANDLE stopEvent,
                      DWORD& bytes) noexcept
{
    bytes = 0;
    if (startError == ERROR_IO_PENDING) {
        const HANDLE waits[2] = {overlapped.hEvent, stopEvent};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIoEx(handle, &overlapped);
            GetOverlappedResult(handle, &overlapped, &bytes, TRUE);
            return ERROR_OPERATION_ABORTED;
        }
    } else if (startError != ERROR_SUCCESS && startError != ERROR_MORE_DATA) {
        return startError;
    }
    if (GetOverlappedResult(handle, &overlapped, &bytes, FALSE))
        return ERROR_SUCCESS;
    return GetLastError();
}

DWORD StartError(BOOL started) noexcept
{
    return started ? ERROR_SUCCESS : GetLastError();
}

bool StopRequested(HANDLE stopEvent) noexcept
{
    return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

// Owned by its connection thread from the moment the thread starts.
struct Connection {
    UniqueFileHandle instance;
    const ScriptRunner* runner = nullptr;
    HANDLE stopEvent = nullptr;
    // Set while the thread waits in FlushFileBuffers for the client to read.
    std::shared_ptr<std::atomic<bool>> flushing;
};

// What the listener keeps of each connection thread.
struct TrackedConnection {
    UniqueHandle thread;
    std::shared_ptr<std::atomic<bool>> flushing;
};

bool WriteReply(HANDLE instance, HANDLE ioEvent, HANDLE stopEvent, const std::wstring& reply) noexcept
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent;
    const BOOL started = WriteFile(instance, reply.data(), static_cast<DWORD>(WireBytes(reply)), nullptr, &overlapped);
    DWORD bytes = 0;
    return AwaitOverlapped(instance, overlapped, StartError(started), stopEvent, bytes) == ERROR_SUCCESS;
}

void ServeConnection(Connection& connection) noexcept
{
    const HANDLE instance = connection.instance.get();
    // One event for every read and write of the connection: each starts by
    // resetting it, and they never overlap.
    const UniqueHandle ioEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ioEvent)
        return;
    ScriptActions actions;
    while (ReadScriptMessage(instance, ioEvent.get(), connection.stopEvent, actions)) {
        std::wstring reply;
        try {
            reply = (*connection.runner)(actions);
        } catch (...) {
            return;
        }
        if (!WriteReply(instance, ioEvent.get(), connection.stopEvent, reply))
            return;
        // Returns once the client has read the reply, so nothing it has not
        // read yet is lost when the connection is dropped later. A client
        // that never reads is cut off by a stop (CancelSynchronousIo).
        connection.flushing->store(true);
        FlushFileBuffers(instance);
        connection.flushing->store(false);
        // The instance stays in message read mode for the next script: in
        // byte mode a read never reports more data, so a script longer than
        // one chunk would be taken for several.
    }
}

unsigned __stdcall ConnectionThread(void* context) noexcept
{
    std::unique_ptr<Connection> connection(static_cast<Connection*>(context));
    ServeConnection(*connection);
    DisconnectNamedPipe(connection->instance.get());
    return 0;
}

// Starts the thread that serves instance; the instance stays with the caller
// when no thread could be started (the returned thread is then empty).
TrackedConnection StartConnectionThread(UniqueFileHandle& instance, const ScriptRunner& runner, HANDLE stopEvent) noexcept
{
    TrackedConnection tracked;
    std::unique_ptr<Connection> connection;
    try {
        tracked.flushing = std::make_shared<std::atomic<bool>>(false);
        connection = std::make_unique<Connection>();
    } catch (const std::bad_alloc&) {
        return TrackedConnection{};
    }
    connection->runner = &runner;
    connection->stopEvent = stopEvent;
    connection->flushing = tracked.flushing;
    connection->instance = std::move(instance);
    tracked.thread.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ConnectionThread, connection.get(), 0, nullptr)));
    if (!tracked.thread) {
        instance = std::move(connection->instance);
        return tracked;
    }
    (void)connection.release();
    return tracked;
}

// The first instance claims the name, so that no other process can sit in
// front of the server and receive its clients' scripts: it fails with
// ERROR_ACCESS_DENIED when the name is served already.
UniqueFileHandle CreateServerInstance(const wchar_t* pipeName, bool first) noexcept
{
    // Wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE; an instance that
    // answers the wait, or is busy, shows the name taken there too.
    if (first && (WaitNamedPipeW(pipeName, 1) || GetLastError() != ERROR_FILE_NOT_FOUND)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return UniqueFileHandle();
    }
    // Any local user may connect, and so may add instances (GENERIC_WRITE on
    // a pipe includes FILE_CREATE_PIPE_INSTANCE): the switcher's client
    // checks who serves it. The pipe refuses remote clients.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, TRUE};
    return UniqueFileHandle(CreateNamedPipeW(pipeName,
                                             PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                                 (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                                 PIPE_REJECT_REMOTE_CLIENTS,
                                             PIPE_UNLIMITED_INSTANCES, kPipeChunkBytes, kPipeChunkBytes, 0,
                                             &attributes));
}

// One wait per ended thread and group rather than one per tracked thread:
// with many clients, polling every thread at each connection was a large
// share of the listener's work.
void PruneEndedThreads(std::vector<TrackedConnection>& threads) noexcept
{
    for (std::size_t first = 0; first < threads.size();) {
        HANDLE group[kWaitGroup];
        const std::size_t count = std::min(kWaitGroup, threads.size() - first);
        for (std::size_t i = 0; i < count; ++i)
            group[i] = threads[first + i].thread.get();
        const DWORD ended = WaitForMultipleObjects(static_cast<DWORD>(count), group, FALSE, 0);
        if (ended >= WAIT_OBJECT_0 && ended < WAIT_OBJECT_0 + count)
            threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(first + (ended - WAIT_OBJECT_0)));
        else
            first += count;
    }
}

// Waits for every connection thread. After a stop, threads still waiting for
// a client to read its reply are cancelled out of that wait, again and again
// until they have ended, since a cancel can come just before the wait begins.
void WaitForAllThreads(const std::vector<TrackedConnection>& threads, HANDLE stopEvent) noexcept
{
    for (std::size_t first = 0; first < threads.size(); first += kWaitGroup) {
        HANDLE group[kWaitGroup];
        const std::size_t count = std::min(kWaitGroup, threads.size() - first);
        for (std::size_t i = 0; i < count; ++i)
            group[i] = threads[first + i].thread.get();
        while (WaitForMultipleObjects(static_cast<DWORD>(count), group, TRUE, kFlushCancelRetryMs) == WAIT_TIMEOUT) {
            if (!StopRequested(stopEvent))
                continue;
            for (std::size_t i = 0; i < count; ++i)
                if (threads[first + i].flushing->load())
                    CancelSynchronousIo(group[i]);
        }
    }
}

CScriptServer g_scriptServer;

}  // namespace

bool ReadScriptMessage(HANDLE instance, HANDLE ioEvent, HANDLE stopEvent, ScriptActions& actions) noexcept
{
    if (instance == nullptr || instance == INVALID_HANDLE_VALUE || StopRequested(stopEvent))
        return false;
    try {
        actions.clear();
        auto buffer = std::make_unique<wchar_t[]>(kPipeChunkChars);
        std::size_t heldChars = 0;
        // After a malformed action the rest of the message is read and dropped.
        bool ended = false;
        for (;;) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = ioEvent;
            wchar_t* target = buffer.get() + heldChars;
            const auto room = static_cast<DWORD>(kPipeChunkBytes - heldChars * sizeof(wchar_t));
            const BOOL started = ReadFile(instance, target, room, nullptr, &overlapped);
            DWORD got = 0;
            const DWORD error = AwaitOverlapped(instance, overlapped, StartError(started), stopEvent, got);
            if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA)
                return false;
            const bool more = error == ERROR_MORE_DATA;
            if (!ended) {
                const std::size_t chars = heldChars + got / sizeof(wchar_t);
                const ScriptChunkParse parse = ParseScriptChunk(std::wstring_view(buffer.get(), chars), actions);
                if (actions.size() > kMaxScriptActions)
                    return false;
                ended = parse.ended;
                heldChars = ended ? 0 : chars - parse.pendingStart;
                // One action that fills the whole buffer can never be completed.
                if (more && heldChars == kPipeChunkChars)
                    return false;
                std::memmove(buffer.get(), buffer.get() + parse.pendingStart, heldChars * sizeof(wchar_t));
            }
            if (!more)
                return true;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CScriptServer::Start(ScriptRunner runner, const wchar_t* pipeName) noexcept
{
    Stop();
    try {
        m_pipeName = pipeName;
        m_runner = std::move(runner);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    m_stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The first instance exists before Start returns, so clients can connect
    // at once and a pipe that cannot be created is reported here.
    m_firstInstance = CreateServerInstance(m_pipeName.c_str(), true);
    if (m_stopEvent && m_firstInstance)
        m_listener.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ListenerThread, this, 0, nullptr)));
    if (m_listener)
        return true;
    // The owners keep the last error of the failed step while they close.
    m_stopEvent.reset();
    m_firstInstance.reset();
    m_pipeName.clear();
    m_runner = nullptr;
    return false;
}

void CScriptServer::Stop() noexcept
{
    if (!m_listener)
        return;
    SetEvent(m_stopEvent.get());
    WaitForSingleObject(m_listener.get(), INFINITE);
    m_listener.reset();
    m_stopEvent.reset();
    m_pipeName.clear();
    m_runner = nullptr;
}

unsigned __stdcall CScriptServer::ListenerThread(void* server) noexcept
{
    static_cast<CScriptServer*>(server)->Listen();
    return 0;
}

void CScriptServer::Listen() noexcept
{
    const HANDLE stopEvent = m_stopEvent.get();
    UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<TrackedConnection> threads;
    UniqueFileHandle instance = std::move(m_firstInstance);
    while (connected && !StopRequested(stopEvent)) {
        if (!instance) {
            instance = CreateServerInstance(m_pipeName.c_str(), false);
            if (!instance) {
                if (GetLastError() != ERROR_PIPE_BUSY)
                    break;
                WaitForSingleObject(stopEvent, kAllInstancesBusyRetryMs);
                continue;
            }
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = connected.get();
        DWORD error = StartError(ConnectNamedPipe(instance.get(), &overlapped));
        if (error != ERROR_PIPE_CONNECTED) {
            DWORD unused = 0;
            error = AwaitOverlapped(instance.get(), overlapped, error, stopEvent, unused);
        }
        if (error == ERROR_OPERATION_ABORTED || StopRequested(stopEvent))
            break;
        if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED) {
            instance.reset();
            continue;
        }

        // The next instance is made before this one is handed over, so the
        // pipe never vanishes between clients (a client finding no instance
        // at all gives up at once instead of waiting).
        UniqueFileHandle client = std::move(instance);
        instance = CreateServerInstance(m_pipeName.c_str(), false);

        PruneEndedThreads(threads);
        try {
            threads.reserve(threads.size() + 1);
        } catch (const std::bad_alloc&) {
            DisconnectNamedPipe(client.get());
            continue;
        }
        TrackedConnection tracked = StartConnectionThread(client, m_runner, stopEvent);
        if (tracked.thread)
            threads.push_back(std::move(tracked));
        else
            DisconnectNamedPipe(client.get());
    }
    WaitForAllThreads(threads, stopEvent);
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
