#include "sim/firmware/command_line.h"

namespace firmsim {
namespace {

std::wstring Quoted(std::wstring_view word)
{
    return L"\"" + std::wstring(word) + L"\"";
}

// The text when it is all ASCII.
std::optional<std::string> Ascii(std::wstring_view text)
{
    std::string narrow;
    for (wchar_t c : text) {
        if (c <= 0 || c > 0x7F)
            return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    return narrow;
}

}  // namespace

std::optional<uint32_t> ParseNumber(std::wstring_view text) noexcept
{
    const auto narrow = Ascii(text);
    return narrow ? ParseNumber(std::string_view(*narrow)) : std::nullopt;
}

ParsedCommand ParseCommand(const std::vector<std::wstring>& args)
{
    struct Verb {
        const wchar_t* name;
        CommandKind kind;
        size_t operands;
    };
    static constexpr Verb kVerbs[] = {
        {L"install", CommandKind::Install, 0}, {L"uninstall", CommandKind::Uninstall, 0},
        {L"answer", CommandKind::Answer, 2},   {L"fail", CommandKind::Fail, 2},
        {L"absent", CommandKind::Absent, 0},   {L"present", CommandKind::Present, 0},
        {L"rettype", CommandKind::RetType, 1}, {L"raise", CommandKind::Raise, 1},
        {L"resume", CommandKind::Resume, 1},   {L"calls", CommandKind::Calls, 0},
        {L"reset", CommandKind::Reset, 0},
    };
    ParsedCommand result;
    if (args.empty()) {
        result.error = L"no command given (install, uninstall, answer, fail, absent, present, rettype, raise, "
                       L"resume, calls, reset)";
        return result;
    }
    const Verb* verb = nullptr;
    for (const auto& candidate : kVerbs) {
        if (args[0] == candidate.name)
            verb = &candidate;
    }
    if (!verb) {
        result.error = L"unknown command " + Quoted(args[0]);
        return result;
    }
    if (args.size() - 1 != verb->operands) {
        result.error = std::wstring(verb->name) + L" takes " + std::to_wstring(verb->operands) +
                       (verb->operands == 1 ? L" operand" : L" operands") + L", got " +
                       std::to_wstring(args.size() - 1);
        return result;
    }

    Command command;
    command.kind = verb->kind;
    if (verb->kind == CommandKind::RetType) {
        const auto name = Ascii(args[1]);
        auto type = name ? ReturnTypeFromName(*name) : std::nullopt;
        if (!type) {
            result.error = L"rettype must be uint32, sint32 or string, not " + Quoted(args[1]);
            return result;
        }
        command.returnType = *type;
        result.command = command;
        return result;
    }
    for (size_t i = 1; i < args.size(); ++i) {
        auto value = ParseNumber(args[i]);
        if (!value) {
            result.error = L"not a 32-bit number (decimal or 0x...): " + Quoted(args[i]);
            return result;
        }
        (i == 1 ? command.first : command.second) = *value;
    }
    if (verb->kind == CommandKind::Fail && command.second == 0) {
        result.error = L"fail needs a non-zero HRESULT (0 is success)";
        return result;
    }
    if (verb->kind == CommandKind::Resume && command.first > 0xFFFF) {
        result.error = L"resume takes a 16-bit event type, not " + Quoted(args[1]);
        return result;
    }
    result.command = command;
    return result;
}

void ApplyCommand(FirmwareState& state, const Command& command)
{
    switch (command.kind) {
    case CommandKind::Answer:
        state.answers[command.first] = command.second;
        state.failures.erase(command.first);
        break;
    case CommandKind::Fail:
        state.failures[command.first] = command.second;
        break;
    case CommandKind::Absent:
        state.present = false;
        break;
    case CommandKind::Present:
        state.present = true;
        break;
    case CommandKind::RetType:
        state.returnType = command.returnType;
        break;
    case CommandKind::Raise:
        RaiseEvent(state, EventKind::DualOs, command.first);
        break;
    case CommandKind::Resume:
        RaiseEvent(state, EventKind::Power, command.first);
        break;
    case CommandKind::Reset:
        ResetState(state);
        break;
    case CommandKind::Install:
    case CommandKind::Uninstall:
    case CommandKind::Calls:
        break;
    }
}

}  // namespace firmsim
