// The service's end of the script pipe: a listener thread that accepts
// clients and one connection thread per client that reads a script, hands it
// to the runner and writes the result text back. Waits are overlapped and
// also wait on the server's stop event, so a stop never depends on clients.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/ownership.h"
#include "common/script/script_pipe.h"
#include "common/script/script_text.h"

namespace obrin::script {

// Runs one script and returns its result text. Called on connection threads,
// several at once.
using ScriptRunner = std::function<std::wstring(const ScriptActions&)>;

// A script with more actions than this ends its connection unanswered.
inline constexpr std::size_t kMaxScriptActions = 4096;

class CScriptServer {
public:
    CScriptServer() noexcept = default;
    ~CScriptServer() { Stop(); }
    CScriptServer(const CScriptServer&) = delete;
    CScriptServer& operator=(const CScriptServer&) = delete;

    // Stops a running server first. False (last error set) when the pipe or
    // the listener could not be created; ERROR_ACCESS_DENIED when another
    // process already serves the name.
    [[nodiscard]] bool Start(ScriptRunner runner, const wchar_t* pipeName = kScriptPipeName) noexcept;
    // Drops connections that wait for a script or for their client to read a
    // reply, lets running scripts finish, and returns once every thread of
    // the server has ended.
    void Stop() noexcept;
    [[nodiscard]] bool Running() const noexcept { return m_listener.valid(); }

private:
    static unsigned __stdcall ListenerThread(void* server) noexcept;
    void Listen() noexcept;

    std::wstring m_pipeName;
    ScriptRunner m_runner;
    UniqueHandle m_stopEvent;
    UniqueFileHandle m_firstInstance;  // handed to the listener when it starts
    UniqueHandle m_listener;
};

// The service's one server on the pipe kScriptPipeName. Start returns 1 on
// success and 0 on failure (with the last error set); Stop always returns 1.
[[nodiscard]] int StartScriptServer(ScriptRunner runner) noexcept;
int StopScriptServer() noexcept;

// Reads one script message from a connected server instance into actions,
// chunk by chunk with the unfinished action carried over; ioEvent is the
// manual-reset event of the overlapped reads. False ends the connection: the
// client closed or failed, stopEvent is set, one action was longer than a
// chunk, or the script had too many actions.
[[nodiscard]] bool ReadScriptMessage(HANDLE instance, HANDLE ioEvent, HANDLE stopEvent, ScriptActions& actions) noexcept;

}  // namespace obrin::script
