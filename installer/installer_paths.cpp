#include "installer/installer_paths.h"

#include <windows.h>
#include <shlobj.h>

namespace {

// IsWow64Process is looked up at run time: without the export the process
// counts as not WOW64.
bool IsWow64() noexcept
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr)
        return false;
    const auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

InstallerPaths ComputeInstallerPaths() noexcept
{
    InstallerPaths paths;
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    paths.moduleDirectory.assign(buffer, length < MAX_PATH ? length : 0);
    const size_t slash = paths.moduleDirectory.rfind(L'\\');
    paths.moduleDirectory.resize(slash == std::wstring::npos ? 0 : slash + 1);

    wchar_t programFiles[MAX_PATH] = {};
    const int folder = IsWow64() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES;
    if (SUCCEEDED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_DEFAULT, programFiles)))
        paths.vendorDirectory = std::wstring(programFiles) + L"\\";
    paths.vendorDirectory += L"Vantrel\\";
    paths.installDirectory = paths.vendorDirectory + L"VantrelObrin\\";
    return paths;
}
