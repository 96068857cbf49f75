// The switcher's run from start to exit code: language strings, button texts,
// program folder, ShowMsg, command line, then the one action.
#pragma once

#include "switcher/lang/lang_strings.h"
#include "switcher/msgbox/msgbox.h"
#include "switcher/power_actions.h"
#include "switcher/switcher_options.h"

#include <windows.h>

#include <cstdint>

// The process exit code.
[[nodiscard]] int RunSwitcher(HINSTANCE instance) noexcept;

// The nine button texts of the loaded language, each cut to its field.
void FillButtonTextTable(const LangStrings& strings, ButtonTextTable& table) noexcept;

// ShowMsg under HKLM\SOFTWARE\Vantrel\VantrelObrin; 0 when it cannot be read.
[[nodiscard]] uint32_t ReadShowMsg() noexcept;

// The folder of the module's image with its trailing backslash; empty when
// the path cannot be read whole.
void GetProgramDirectory(HINSTANCE instance, wchar_t (&directory)[MAX_PATH]) noexcept;

// The process's own command line.
[[nodiscard]] obrin::switcher::SwitcherOptions GetParameters() noexcept;

// Runs the action and returns the exit code.
[[nodiscard]] int Dispatch(obrin::switcher::SwitcherAction action, const SwitcherContext& context) noexcept;
