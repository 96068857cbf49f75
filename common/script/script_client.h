// The client end of the script pipe, as the switcher uses it: connect, send
// one script, receive one result text, close. No log lines here; the caller
// logs its own failures with GetLastError().
#pragma once

#include <windows.h>

#include <string_view>

#include "common/ownership.h"
#include "common/script/script_pipe.h"
#include "common/script/script_text.h"

namespace obrin::script {

// How long a client waits for a busy pipe before giving up.
inline constexpr DWORD kBusyPipeWaitMs = 5000;

class CScriptClient {
public:
    CScriptClient() noexcept = default;

    // Closes any handle held, then opens the pipe; while it is busy, waits up
    // to kBusyPipeWaitMs for a free instance and tries again. The server may
    // identify the client but never act as it (SECURITY_IDENTIFICATION), so
    // a process serving the name in the service's place gains nothing from
    // the connection before the caller has checked who serves it. False
    // (last error set) when the pipe is missing or stays busy.
    [[nodiscard]] bool Connect(const wchar_t* pipeName = kScriptPipeName) noexcept;
    // Switches to message read mode and writes the whole script in one write.
    [[nodiscard]] bool Send(std::wstring_view script) noexcept;
    // Empties results and reads the reply piecewise into it. True also when
    // the reply was empty or a read failed part-way (keys are then missing);
    // false only without a connection.
    [[nodiscard]] bool Receive(ScriptVariables& results) noexcept;
    void Close() noexcept { m_pipe.reset(); }

    [[nodiscard]] bool Connected() const noexcept { return m_pipe.valid(); }
    [[nodiscard]] HANDLE Handle() const noexcept { return m_pipe.get(); }
    // The process serving the connected instance; 0 (last error set) when
    // it cannot be told.
    [[nodiscard]] DWORD ServerProcessId() const noexcept;

private:
    UniqueFileHandle m_pipe;
};

// The process of the service serviceName while it has one (it runs, starts
// or stops); 0 (last error set) when it has none or cannot be queried. Any
// user may ask.
[[nodiscard]] DWORD RunningServiceProcessId(const wchar_t* serviceName) noexcept;

}  // namespace obrin::script
