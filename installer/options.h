// The installer's command line: the mode (last mode option wins) and the
// caller's window from "-win:0x", accepted in any case.
#pragma once

#include "installer/installer_codes.h"

#include <cstdint>
#include <string>
#include <vector>

struct InstallerOptions {
    InstallerMode mode = InstallerMode::None;
    uintptr_t callerWindow = 0;
};

// arguments: everything after the program's own name. Non-mode arguments are
// lower-cased in place before the window option is looked for.
void ParseInstallerArguments(std::vector<std::wstring>& arguments, InstallerOptions& options) noexcept;

// Notification 0x18 with its preset 0x40000000: a failed call therefore goes on.
[[nodiscard]] constexpr bool FirmwareAllowsInstall(uint32_t answer) noexcept
{
    return (answer & 0x80000000u) != 0 || (answer & 0x40000000u) != 0 || (answer & 3u) == 2;
}

// Notification 0x13 after the partitions are gone: 0 and 2 mean the firmware
// did not take the uninstall.
[[nodiscard]] constexpr bool FirmwareRejectsUninstall(uint32_t answer) noexcept
{
    return answer == 0 || answer == 2;
}
