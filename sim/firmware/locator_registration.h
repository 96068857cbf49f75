// `firmsim install` / `uninstall`: puts the stand-in DLL in place of the WMI
// locator's InprocServer32 in the current prefix and back again.
#pragma once

#include <windows.h>

#include <string>

namespace firmsim {

// The DLL registered in place of the locator, remembering the original server
// (once: installing again keeps the first memory). Errors as HRESULTs.
[[nodiscard]] HRESULT InstallLocator(const std::wstring& dllPath) noexcept;
// Restores the remembered server; HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when
// nothing was installed.
[[nodiscard]] HRESULT UninstallLocator() noexcept;

}  // namespace firmsim
