// The switcher's run from start to exit code: language strings, button texts,
// program folder, ShowMsg, command line, then the one action.
#pragma once

#include "switcher/program_folder.h"
#include "switcher/switcher_options.h"

#include <windows.h>

#include <cstdint>

// What the actions need of the run: the program's own folder and the message
// level after "-nomsg".
struct SwitcherContext {
    ProgramFolder Folder;
    uint32_t ShowMsg;
};

// The process exit code.
[[nodiscard]] int RunSwitcher(HINSTANCE instance) noexcept;

// ShowMsg under HKLM\SOFTWARE\Vantrel\VantrelObrin; 0 when it cannot be read.
[[nodiscard]] uint32_t ReadShowMsg() noexcept;

// The process's own command line.
[[nodiscard]] SwitcherOptions GetParameters() noexcept;

// Runs the action and returns the exit code.
[[nodiscard]] int Dispatch(SwitcherAction action, const SwitcherContext& context) noexcept;
