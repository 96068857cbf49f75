#include "switcher/program_folder.h"

#include "common/log.h"

#include <cwchar>

void GetProgramDirectory(HINSTANCE instance, ProgramFolder& folder) noexcept
{
    folder = {};
    const DWORD length = GetModuleFileNameW(instance, folder.Path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        folder.Error = length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
        folder.Path[0] = L'\0';
        return;
    }
    if (wchar_t* lastSlash = wcsrchr(folder.Path, L'\\'))
        lastSlash[1] = L'\0';
    else
        folder.Path[0] = L'\0';
}

bool JoinPath(wchar_t (&out)[MAX_PATH], const wchar_t* first, const wchar_t* second) noexcept
{
    return wcscpy_s(out, first) == 0 && wcscat_s(out, second) == 0;
}

bool PathBesideProgram(const ProgramFolder& folder, const wchar_t* fileName, wchar_t (&path)[MAX_PATH],
                       const char* tag) noexcept
{
    if (folder.Path[0] == L'\0') {
        GetLog().Print(LOG_ERROR, tag, __LINE__, L"Failed to call GetModuleFileName [Err=%u].\n", folder.Error);
        return false;
    }
    return JoinPath(path, folder.Path, fileName);
}
