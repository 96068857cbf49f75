// The switcher's firmware call: DualOSNotify(code, 0) run by the service on
// the switcher's behalf over the script pipe.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 on success. returnValue is overwritten only when the call succeeded and
// the reply carried the firmware's answer; callers preset it so that a
// failure takes their safe path. The script goes only to the running
// OBRINSERVICE: a pipe served by any other process counts as one that
// could not be opened.
[[nodiscard]] HRESULT DualOS_SendCommand(uint32_t code, uint32_t& returnValue) noexcept;

// Where DualOS_SendCommand sends its script: the pipe, and the process that
// must serve it (0: none may).
struct ScriptServerEndpoint {
    const wchar_t* pipeName;
    DWORD (*expectedServer)() noexcept;
};

// DualOS_SendCommand through another endpoint (tests serve the pipe themselves).
[[nodiscard]] HRESULT SendCommandTo(const ScriptServerEndpoint& endpoint, uint32_t code,
                                    uint32_t& returnValue) noexcept;
