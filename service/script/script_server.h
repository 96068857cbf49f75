// The service's end of the script pipe: a listener thread that accepts
// clients and hands each to a connection thread of its own, which reads
// scripts, hands them to the runner and writes the result texts back. A
// connection thread waits in COM for its client and, once that client has
// left, for the next one (a small ready set). Every wait is overlapped,
// bounded (script_limits.h) and also ends at the server's stop, so neither a
// stop nor the other clients depend on what one client does.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ownership.h"
#include "common/script/script_pipe.h"
#include "common/script/script_text.h"
#include "service/script/script_limits.h"

namespace obrin::script {

// Runs one script and returns its result text. Called on connection threads,
// several at once, each already in the multithreaded apartment. A runner that
// looks at stopRequested before each step lets a stop end its run there.
using ScriptRunner = std::function<std::wstring(const ScriptActions& actions, const std::atomic<bool>& stopRequested)>;

// What the listener and its connection threads share; a connection thread
// keeps it alive when a stop has stopped waiting for it.
struct ScriptServerState;
// One connection thread's record, shared by the thread and the listener.
struct ScriptConnection;

class CScriptServer {
public:
    CScriptServer() noexcept = default;
    ~CScriptServer() { Stop(); }
    CScriptServer(const CScriptServer&) = delete;
    CScriptServer& operator=(const CScriptServer&) = delete;

    // Stops a running server first. When it returns, the first instance
    // exists and the first clients' threads are started. False (last error
    // set) when the pipe or the listener could not be created;
    // ERROR_ACCESS_DENIED when another process already serves the name.
    [[nodiscard]] bool Start(ScriptRunner runner, const wchar_t* pipeName = kScriptPipeName,
                             const ScriptServerLimits& limits = {}) noexcept;
    // Drops the connections that wait for their client, ends running scripts
    // at their next action and waits for them at most limits.stopWaitMs.
    void Stop() noexcept;
    // True while an instance of the pipe waits for clients: not before Start
    // or after Stop, nor while the listener retries a pipe call that failed.
    [[nodiscard]] bool Running() const noexcept;

private:
    static unsigned __stdcall ListenerThread(void* server) noexcept;
    void Listen() noexcept;

    std::shared_ptr<ScriptServerState> m_state;
    // Handed to the listener when it starts.
    UniqueFileHandle m_firstInstance;
    std::vector<std::shared_ptr<ScriptConnection>> m_readyThreads;
    UniqueHandle m_listener;
};

// The service's one server on the pipe kScriptPipeName, with the limits of
// script_limits.h. Start returns 1 on success and 0 on failure (with the last
// error set); Stop always returns 1.
[[nodiscard]] int StartScriptServer(ScriptRunner runner) noexcept;
int StopScriptServer() noexcept;

}  // namespace obrin::script
