// The switcher's power transitions: sleep, hibernate, power-off, hybrid
// shutdown, shutdown and restart. Each returns 0 on success and 1 on failure
// and logs its own failures under its own name.
#pragma once

#include <windows.h>

#include <cstdint>

[[nodiscard]] int DoS3() noexcept;
[[nodiscard]] int DoS4() noexcept;
[[nodiscard]] int DoS5() noexcept;
[[nodiscard]] int DoHybridShutdown() noexcept;
// Both show the timed shutdown notice first when showMsg is exactly 1.
[[nodiscard]] int DoShutdown(uint32_t showMsg) noexcept;
[[nodiscard]] int DoReboot(uint32_t showMsg) noexcept;

// Non-zero when SeShutdownPrivilege was enabled (a token without it still
// counts; the transition then fails with its own message).
[[nodiscard]] BOOL EnableShutdownPrivilege() noexcept;
