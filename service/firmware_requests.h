// The service's two firmware requests, each preset so that a failed call
// takes the safe path. The call logs its own result lines.
#pragma once

#include <windows.h>

// The ready notification (code 0x11): the firmware's answer, 0 when it
// accepted; 1 when the call failed.
[[nodiscard]] DWORD NotifyReady() noexcept;

// The firmware's flags word (code 0x10); 0, no capability, when the call failed.
[[nodiscard]] DWORD QueryCapabilities() noexcept;
