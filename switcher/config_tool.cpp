#include "switcher/config_tool.h"

#include "common/ownership.h"

#include <shellapi.h>

#include <cstdlib>

BOOL StartConfigTool(const wchar_t* toolPath) noexcept
{
    wchar_t drive[3] = {};
    wchar_t directory[256] = {};
    wchar_t workingDirectory[MAX_PATH] = {};
    const bool split = _wsplitpath_s(toolPath, drive, 3, directory, 256, nullptr, 0, nullptr, 0) == 0 &&
                       JoinPath(workingDirectory, drive, directory);

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = L"open";
    execute.lpFile = toolPath;
    // A folder too long to split leaves the tool in the switcher's own
    // working folder rather than in a cut-off one.
    execute.lpDirectory = split ? workingDirectory : nullptr;
    execute.nShow = SW_SHOWNORMAL;
    const BOOL started = ShellExecuteExW(&execute);
    // Not waited for: the tool runs on its own.
    const obrin::UniqueHandle process(started ? execute.hProcess : nullptr);
    return started;
}

int DoConfig(const ProgramFolder& folder) noexcept
{
    wchar_t toolPath[MAX_PATH] = {};
    if (!PathBesideProgram(folder, L"ObrinConfigTool.exe", toolPath, "DoConfig"))
        return 1;
    return StartConfigTool(toolPath) ? 0 : 1;
}
