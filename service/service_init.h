// The service's work: what it sets up at start and what it takes down at
// stop. What it does on each event in between is event_handlers.h.
#pragma once

#include <windows.h>

// Runs once while the service reports START_PENDING: subscribes to firmware
// and power events, starts the script server, tells the firmware Windows is
// ready and pins or unpins the taskbar entry. Returns false when the service
// cannot run; it does not undo its own steps (ServiceUninit does).
[[nodiscard]] bool ServiceInit() noexcept;

// The stop sequence, also run when ServiceInit fails: cancel both
// subscriptions, stop the script server, unpin (waiting for the switcher),
// then signal stopEvent.
void ServiceUninit(HANDLE stopEvent) noexcept;

// Reads CodeName into buffer (size in bytes, in and out). True only when the
// value was read; when it does not fit, size receives the size needed.
[[nodiscard]] bool ReadCodeName(DWORD& size, wchar_t* buffer) noexcept;
