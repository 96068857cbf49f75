#include "installer/runners.h"

#include "installer/script_folder.h"

#include "common/ownership.h"

#include <shlwapi.h>

#include <cwchar>
#include <string>

using obrin::UniqueFileHandle;
using obrin::UniqueHandle;

namespace {

constexpr DWORD kVisibilityPasses = 3;
constexpr DWORD kVisibilityPolls = 20;
constexpr DWORD kPollMs = 500;
constexpr DWORD kCycleSleepMs = 1000;
constexpr size_t kMaxCommandLine = 511;

bool FullScriptPath(const wchar_t* fileName, std::wstring& folder, std::wstring& path) noexcept
{
    folder = ActiveScriptFolder();
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    path = folder + fileName;
    if (path.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

// Writes the text as ANSI bytes without terminator. On failure nothing is
// left behind and the thread's last error says why.
bool WriteScriptFile(const std::wstring& path, const wchar_t* text) noexcept
{
    const size_t characters = wcslen(text);
    if (characters > kMaxScriptCharacters) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return false;
    }
    char bytes[kMaxScriptCharacters + 1];
    int byteCount = 0;
    if (characters != 0) {
        byteCount = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(characters), bytes, sizeof(bytes) - 1,
                                        nullptr, nullptr);
        if (byteCount == 0)
            return false;
    }

    {
        UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        if (WriteFile(file.get(), bytes, static_cast<DWORD>(byteCount), &written, nullptr) &&
            written == static_cast<DWORD>(byteCount)) {
            FlushFileBuffers(file.get());
            return true;
        }
    }
    obrin::PreserveLastError keep;
    DeleteFileW(path.c_str());
    return false;
}

// A freshly written file can take a moment to show up for a new process.
void WaitUntilVisible(const std::wstring& path) noexcept
{
    for (DWORD pass = 0; pass < kVisibilityPasses; ++pass) {
        for (DWORD poll = 0; poll < kVisibilityPolls && !PathFileExistsW(path.c_str()); ++poll)
            Sleep(kPollMs);
    }
}

bool RunHidden(std::wstring commandLine, const wchar_t* currentDirectory, DWORD* exitCode) noexcept
{
    if (commandLine.size() > kMaxCommandLine)
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        currentDirectory, &startup, &process))
        return false;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);

    // The sleep after each wait also follows the child's end: every run takes
    // at least a second, which gives diskpart's changes time to settle.
    for (;;) {
        const bool ended = WaitForSingleObject(processHandle.get(), kPollMs) == WAIT_OBJECT_0;
        if (ended && exitCode != nullptr)
            GetExitCodeProcess(processHandle.get(), exitCode);
        Sleep(kCycleSleepMs);
        if (ended)
            return true;
    }
}

}  // namespace

bool RunDiskpartScript(const wchar_t* text, const wchar_t* fileName, DWORD* exitCode) noexcept
{
    std::wstring folder;
    std::wstring path;
    if (!FullScriptPath(fileName, folder, path) || !WriteScriptFile(path, text)) {
        if (exitCode != nullptr)
            *exitCode = GetLastError();
        return false;
    }
    WaitUntilVisible(path);
    const bool started = RunHidden(L"cmd /C diskpart.exe /s \"" + path + L"\"", nullptr, exitCode);
    DeleteFileW(path.c_str());
    return started;
}

bool RunBatchFile(const wchar_t* fileName, const wchar_t* text) noexcept
{
    std::wstring folder;
    std::wstring path;
    if (!FullScriptPath(fileName, folder, path) || !WriteScriptFile(path, text))
        return false;
    WaitUntilVisible(path);
    const bool started = RunHidden(std::wstring(L"cmd /C \"") + fileName + L"\"", folder.c_str(), nullptr);
    DeleteFileW(path.c_str());
    return started;
}
