// The installer's entry and its five flows.
#pragma once

#include "installer/disk_info.h"
#include "installer/installer_codes.h"
#include "installer/run_record.h"

#include <windows.h>

#include <optional>
#include <string>

struct InstallerPaths {
    std::wstring moduleDirectory;   // ends with a backslash
    std::wstring vendorDirectory;   // Program Files + "\Vantrel\"
    std::wstring installDirectory;  // vendor directory + "VantrelObrin\"
};

[[nodiscard]] InstallerPaths ComputeInstallerPaths() noexcept;

// The policy value as it is now; nothing when the policy key cannot be opened.
[[nodiscard]] std::optional<AutoRunValue> ReadAutoRunPolicy() noexcept;
// Writes value (absent: deletes it) and returns what was there before;
// nothing, and nothing changed, when the policy key cannot be opened.
[[nodiscard]] std::optional<AutoRunValue> SetAutoRunPolicy(const AutoRunValue& value) noexcept;

// unfinished: the flow left work on the disk that the next run completes
// (a rollback or a removal that did not get through).
[[nodiscard]] int DoInstall(const InstallerPaths& paths, bool& unfinished) noexcept;
[[nodiscard]] int DoUninstall(bool& unfinished) noexcept;
[[nodiscard]] int DoStartService(const InstallerPaths& paths) noexcept;
[[nodiscard]] int DoRemoveService() noexcept;
[[nodiscard]] int DoCheck() noexcept;

// The whole run: paths, command line, flow; returns the exit code.
[[nodiscard]] int RunInstaller() noexcept;
