// The switcher's command line: which one action the run performs.
#pragma once

#include <cstdint>

enum SwitcherAction : int {
    ACTION_INVALID = 0,
    ACTION_S3 = 1,
    ACTION_S4 = 2,
    ACTION_S5 = 3,
    ACTION_HYBRID = 4,
    ACTION_SHUTDOWN = 5,
    ACTION_REBOOT = 6,
    ACTION_TASKBAR_PIN = 7,
    ACTION_TASKBAR_UNPIN = 8,
    ACTION_CONFIG = 9,
    ACTION_SWITCH = 10,
    ACTION_SWITCH_NOW = 11,
};

struct SwitcherOptions {
    SwitcherAction Action = ACTION_SWITCH;
    bool NoMsg = false;  // "-nomsg": ShowMsg counts as 0 for this run
};

// arguments: the words after the program's own name. Each is compared without
// regard to case (obrin::EqualsNoCase); every word but "-nomsg" replaces the
// action, so the last one decides and an unknown word cancels what came before.
[[nodiscard]] SwitcherOptions ParseSwitcherOptions(const wchar_t* const* arguments, int count) noexcept;
