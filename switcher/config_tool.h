// Starting the configuration tool, ObrinConfigTool.exe beside the switcher,
// without waiting for it.
#pragma once

#include "switcher/program_folder.h"

#include <windows.h>

// Starts the tool at toolPath with its own folder as working folder; the
// result of ShellExecuteExW (nothing is logged).
[[nodiscard]] BOOL StartConfigTool(const wchar_t* toolPath) noexcept;

// 0 when the tool beside the switcher started, else 1.
[[nodiscard]] int DoConfig(const ProgramFolder& folder) noexcept;
