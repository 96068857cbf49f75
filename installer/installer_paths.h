// The folders the installer works from: its own, the vendor folder under
// Program Files and the service's install folder in it.
#pragma once

#include <string>

struct InstallerPaths {
    std::wstring moduleDirectory;   // ends with a backslash
    std::wstring vendorDirectory;   // Program Files + "\Vantrel\"
    std::wstring installDirectory;  // vendor directory + "VantrelObrin\"
};

// A 32-bit installer on 64-bit Windows takes the Program Files folder for
// 32-bit programs.
[[nodiscard]] InstallerPaths ComputeInstallerPaths() noexcept;
