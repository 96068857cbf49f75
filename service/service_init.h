// The service's work: what it sets up at start and takes down at stop.
#pragma once

#include <windows.h>

// Runs once while the service reports START_PENDING. Returns false when the
// service cannot run; it does not undo its own steps (ServiceUninit does).
[[nodiscard]] bool ServiceInit() noexcept;

// The stop sequence, also run when ServiceInit fails. Signals stopEvent last.
void ServiceUninit(HANDLE stopEvent) noexcept;
