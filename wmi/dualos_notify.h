// The firmware call: DualOsMethod.DualOSNotify in root\wmi, in-process.
#pragma once

#include <windows.h>

// Calls DualOSNotify(code, parameter). Only when the whole call ends in
// exactly S_OK is the firmware's answer stored to returnValue; otherwise the
// caller's preset stays, so a failure takes the caller's safe path. Every
// failure is logged (the failing step and the call) at level ERROR.
[[nodiscard]] HRESULT DualOS_SendCommand(DWORD code, DWORD parameter, DWORD& returnValue) noexcept;

// The service's form: the parameter is always 0.
[[nodiscard]] HRESULT DualOS_SendCommand(DWORD code, DWORD& returnValue) noexcept;
