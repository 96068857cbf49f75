// The notice before a shutdown or restart: the system's text (string 2017 of
// winlogon.exe, from the native system folder also on 64-bit Windows) in the
// switcher's box, closing by itself after 5 seconds.
#pragma once

#include <cstdint>

// Shows the notice only when showMsg is exactly 1; returns when it closes.
void ShowShutdownNotice(uint32_t showMsg) noexcept;
