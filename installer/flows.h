// The installer's entry and its five flows.
#pragma once

#include "installer/disk_info.h"
#include "installer/installer_codes.h"

#include <windows.h>

#include <string>

struct InstallerPaths {
    std::wstring moduleDirectory;   // ends with a backslash
    std::wstring vendorDirectory;   // Program Files + "\Vantrel\"
    std::wstring installDirectory;  // vendor directory + "VantrelObrin\"
};

[[nodiscard]] InstallerPaths ComputeInstallerPaths() noexcept;

// Sets the value "NoDriveTypeAutoRun" (0xFFFFFFFF deletes it) and returns
// the value found before, 0xFFFFFFFF when absent or when the key cannot be opened.
DWORD SetAutoRunPolicy(DWORD value) noexcept;

[[nodiscard]] int DoInstall(const InstallerPaths& paths) noexcept;
[[nodiscard]] int DoUninstall() noexcept;
[[nodiscard]] int DoStartService(const InstallerPaths& paths) noexcept;
[[nodiscard]] int DoRemoveService() noexcept;
[[nodiscard]] int DoCheck() noexcept;

// The whole run: paths, command line, flow; returns the exit code.
[[nodiscard]] int RunInstaller() noexcept;
