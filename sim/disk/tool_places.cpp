#include "sim/disk/tool_places.h"

#include <windows.h>

namespace obrin::disksim {

namespace {

constexpr wchar_t kDriverDisplayName[] = L"Obrin disk stand-in";
constexpr DWORD kToolTimeoutMs = 30000;

bool IsWow64() noexcept
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// A folder from one of the Get...Directory calls; empty when it fails.
template <typename Getter>
std::wstring FolderFrom(Getter get)
{
    wchar_t buffer[MAX_PATH];
    const UINT length = get(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(buffer, length);
}

// Runs a command line in this console and waits for it to end. False when it
// did not start or end in time, with the last error set.
bool RunTool(std::wstring commandLine) noexcept
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), kToolTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
        SetLastError(ERROR_TIMEOUT);
        return false;
    }
    return true;
}

}  // namespace

bool FindSystemFolders(SystemFolders& folders) noexcept
{
    try {
        folders.wow64 = IsWow64();
        folders.nativeName = FolderFrom(GetSystemDirectoryW);
        if (!folders.wow64) {
            folders.native = folders.thirtyTwoBit = folders.nativeName;
            return !folders.nativeName.empty();
        }
        folders.thirtyTwoBit = FolderFrom(GetSystemWow64DirectoryW);
        const std::wstring windows = FolderFrom(GetSystemWindowsDirectoryW);
        if (folders.nativeName.empty() || folders.thirtyTwoBit.empty() || windows.empty())
            return false;
        folders.native = windows + L"\\Sysnative";
        return true;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

std::vector<ToolCopy> ToolCopies(const SystemFolders& folders)
{
    std::vector<ToolCopy> copies;
    for (const wchar_t* tool : {L"diskpart.exe", L"powercfg.exe", L"powrprof.dll"})
        copies.push_back({tool, folders.thirtyTwoBit + L"\\" + tool});
    if (folders.wow64) {
        for (const wchar_t* tool : {L"diskpart.exe", L"powercfg.exe"})
            copies.push_back({tool, folders.native + L"\\" + tool});
    }
    return copies;
}

DriverPlace DiskDriverPlace(const SystemFolders& folders)
{
    const std::wstring inDrivers = std::wstring(L"\\drivers\\") + kDiskDriverFile;
    return {folders.wow64 ? kDiskDriverFile64 : kDiskDriverFile, folders.native + inDrivers,
            folders.nativeName + inDrivers};
}

UniqueServiceHandle RegisterDriverService(SC_HANDLE manager, const SystemFolders& folders,
                                          const std::wstring& image) noexcept
{
    try {
        if (folders.wow64) {
            UniqueServiceHandle existing(OpenServiceW(manager, kDiskDriverService, SERVICE_ALL_ACCESS));
            if (existing)
                return existing;
            // sc says on disksim's output why it failed; the entry is then missing.
            if (!RunTool(L"\"" + folders.native + L"\\sc.exe\" create " + kDiskDriverService +
                         L" type= kernel start= auto error= normal binpath= \"" + image + L"\" displayname= \"" +
                         kDriverDisplayName + L"\""))
                return UniqueServiceHandle();
            return UniqueServiceHandle(OpenServiceW(manager, kDiskDriverService, SERVICE_ALL_ACCESS));
        }
        UniqueServiceHandle service(CreateServiceW(manager, kDiskDriverService, kDriverDisplayName, SERVICE_ALL_ACCESS,
                                                   SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                                   image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
            service.reset(OpenServiceW(manager, kDiskDriverService, SERVICE_ALL_ACCESS));
        return service;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return UniqueServiceHandle();
    }
}

}  // namespace obrin::disksim
