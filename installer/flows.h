// The installer's entry and its five flows.
#pragma once

#include "installer/disk_info.h"
#include "installer/installer_codes.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct InstallerPaths {
    std::wstring moduleDirectory;   // ends with a backslash
    std::wstring vendorDirectory;   // Program Files + "\Vantrel\"
    std::wstring installDirectory;  // vendor directory + "VantrelObrin\"
};

[[nodiscard]] InstallerPaths ComputeInstallerPaths() noexcept;

// "NoDriveTypeAutoRun" as found: absent, or its registry type and bytes, so
// that whatever was there is put back as it was.
struct AutoRunValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const AutoRunValue&) const = default;
};

// Writes value (absent: deletes it) and returns what was there before;
// nothing, and nothing changed, when the policy key cannot be opened.
[[nodiscard]] std::optional<AutoRunValue> SetAutoRunPolicy(const AutoRunValue& value) noexcept;

[[nodiscard]] int DoInstall(const InstallerPaths& paths) noexcept;
[[nodiscard]] int DoUninstall() noexcept;
[[nodiscard]] int DoStartService(const InstallerPaths& paths) noexcept;
[[nodiscard]] int DoRemoveService() noexcept;
[[nodiscard]] int DoCheck() noexcept;

// The whole run: paths, command line, flow; returns the exit code.
[[nodiscard]] int RunInstaller() noexcept;
