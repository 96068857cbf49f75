// The switcher's firmware call: DualOSNotify(code, 0) run by the service on
// the switcher's behalf over the script pipe.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 on success. returnValue is overwritten only when the call succeeded and
// the reply carried the firmware's answer; callers preset it so that a
// failure takes their safe path.
[[nodiscard]] HRESULT DualOS_SendCommand(uint32_t code, uint32_t& returnValue) noexcept;
