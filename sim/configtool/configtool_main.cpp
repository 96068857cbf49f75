// ObrinConfigTool stand-in: appends one line per start to
// ObrinConfigTool.started beside itself: "started" and its working folder.
#include "common/ownership.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring BesideThisProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    wchar_t* lastSlash = wcsrchr(path, L'\\');
    if (!lastSlash)
        return {};
    lastSlash[1] = L'\0';
    return std::wstring(path) + name;
}

std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    try {
        const std::wstring record = BesideThisProgram(L"ObrinConfigTool.started");
        if (record.empty())
            return 1;
        wchar_t workingFolder[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, workingFolder);
        const std::string line = "started " + Utf8(workingFolder) + "\r\n";
        const obrin::UniqueFileHandle file(CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            return 1;
        return 0;
    } catch (...) {
        return 1;
    }
}
