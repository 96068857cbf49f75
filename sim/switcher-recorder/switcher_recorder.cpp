// Test stand-in for ObrinSwitcher (copied into place under that name): records
// every start in switcher_calls.log beside itself, one line per event,
//   "start <pid> <command line>"  and  "exit <pid>",
// and stays alive for HKLM\SOFTWARE\ObrinTest\SwitcherRecorder StayAliveMs
// (read at each start, default 0) before it exits with code 0.
#include "common/ownership.h"

#include <windows.h>

#include <string>

namespace {

constexpr wchar_t SETTINGS_KEY[] = L"SOFTWARE\\ObrinTest\\SwitcherRecorder";

std::wstring RecordPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\') + 1) + L"switcher_calls.log";
}

std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                            nullptr);
    return bytes;
}

// Several instances may start at once; one named mutex orders their lines.
void Record(const std::wstring& line)
{
    obrin::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, L"ObrinSwitcherRecorder"));
    if (mutex)
        WaitForSingleObject(mutex.get(), 10000);
    obrin::UniqueFileHandle file(CreateFileW(RecordPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        const std::string bytes = Utf8(line + L"\r\n");
        DWORD written = 0;
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    if (mutex)
        ReleaseMutex(mutex.get());
}

DWORD StayAliveMs()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, L"StayAliveMs", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0;
    return value;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    Record(L"start " + pid + L" " + GetCommandLineW());
    Sleep(StayAliveMs());
    Record(L"exit " + pid);
    return 0;
}
