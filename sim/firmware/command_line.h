// firmsim.exe's command line: which command, with which operands, and what a
// state-changing command does to the shared state. No <windows.h>, so it
// also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/firmware/state_format.h"

namespace firmsim {

// ParseNumber of the state file, for an operand: nullopt for anything but ASCII.
[[nodiscard]] std::optional<uint32_t> ParseNumber(std::wstring_view text) noexcept;

enum class CommandKind { Install, Uninstall, Answer, Fail, Absent, Present, RetType, Raise, Resume, Calls, Reset };

struct Command {
    CommandKind kind = CommandKind::Calls;
    uint32_t first = 0;
    uint32_t second = 0;
    ReturnType returnType = ReturnType::UInt32;
};

struct ParsedCommand {
    std::optional<Command> command;
    std::wstring error;  // one line, set when command is empty
};

// args: the words after the program name.
[[nodiscard]] ParsedCommand ParseCommand(const std::vector<std::wstring>& args);
// Applies a state-changing command (not install, uninstall or calls).
void ApplyCommand(FirmwareState& state, const Command& command);

}  // namespace firmsim
