// The switcher's power transitions and shell actions. The power actions
// return 0 on success and 1 on failure and log their own failures.
#pragma once

#include <windows.h>

#include <cstdint>

// What the actions need of the run: the program's own folder (with its
// trailing backslash) and the message level after "-nomsg".
struct SwitcherContext {
    wchar_t ProgramDirectory[MAX_PATH];
    uint32_t ShowMsg;
};

[[nodiscard]] int DoS3() noexcept;
[[nodiscard]] int DoS4() noexcept;
[[nodiscard]] int DoS5() noexcept;
[[nodiscard]] int DoHybridShutdown() noexcept;
// Both show the timed shutdown notice first when ShowMsg is exactly 1.
[[nodiscard]] int DoShutdown(const SwitcherContext& context) noexcept;
[[nodiscard]] int DoReboot(const SwitcherContext& context) noexcept;

// Non-zero when SeShutdownPrivilege was enabled (a token without it still
// counts; the transition then fails with its own message).
[[nodiscard]] BOOL EnableShutdownPrivilege() noexcept;

// The notice before a shutdown or restart: the system's text (string 2017 of
// winlogon.exe) in the switcher's box, closing by itself after 5 seconds.
void ShowShutdownNotice(uint32_t showMsg) noexcept;

// Starts the configuration tool at toolPath without waiting for it.
[[nodiscard]] BOOL StartConfigTool(const wchar_t* toolPath) noexcept;
// Starts ObrinConfigTool.exe beside the switcher: 0 when it started, else 1.
[[nodiscard]] int DoConfig(const SwitcherContext& context) noexcept;

// Create the switcher's shortcut in the temporary folder and delete it again.
void DoTaskbarPin(const SwitcherContext& context) noexcept;
void DoTaskbarUnpin(const SwitcherContext& context) noexcept;
