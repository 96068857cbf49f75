#include "sim/firmware/firmsim_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace firmsim {
namespace {

constexpr std::string_view kStateHeader = "firmsim-state 1";

wchar_t FoldAscii(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool IsBlank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

bool IsIdentifierChar(wchar_t c) noexcept
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_';
}

std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t limit) noexcept
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        if (value > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return value;
}

std::string Hex32(uint32_t value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08" PRIx32, value);
    return buffer;
}

std::vector<std::string_view> SplitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > pos)
            words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

std::optional<uint32_t> Word32(std::string_view word) noexcept
{
    auto value = ParseUnsigned(word, UINT32_MAX);
    if (!value)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

const char* ReturnTypeName(ReturnType type) noexcept
{
    switch (type) {
    case ReturnType::SInt32:
        return "sint32";
    case ReturnType::String:
        return "string";
    case ReturnType::UInt32:
        break;
    }
    return "uint32";
}

std::optional<ReturnType> ReturnTypeFromName(std::wstring_view name) noexcept
{
    if (EqualsNoCase(name, L"uint32"))
        return ReturnType::UInt32;
    if (EqualsNoCase(name, L"sint32"))
        return ReturnType::SInt32;
    if (EqualsNoCase(name, L"string"))
        return ReturnType::String;
    return std::nullopt;
}

std::wstring Quoted(std::wstring_view word)
{
    return L"\"" + std::wstring(word) + L"\"";
}

}  // namespace

uint32_t DefaultAnswer(uint32_t code) noexcept
{
    switch (code) {
    case 16:
        return 0x40000021;
    case 19:
        return 1;
    case 24:
        return 0x40000000;
    default:
        return 0;
    }
}

uint32_t AnswerFor(const FirmwareState& state, uint32_t code) noexcept
{
    auto it = state.answers.find(code);
    return it != state.answers.end() ? it->second : DefaultAnswer(code);
}

void RecordCall(FirmwareState& state, FirmwareCall call)
{
    if (state.calls.size() >= kMaxRecordedCalls)
        state.calls.erase(state.calls.begin(), state.calls.begin() + (state.calls.size() - kMaxRecordedCalls + 1));
    state.calls.push_back(call);
}

void RaiseEvent(FirmwareState& state, EventKind kind, uint32_t value)
{
    if (state.events.size() >= kMaxPendingEvents)
        state.events.erase(state.events.begin(), state.events.begin() + (state.events.size() - kMaxPendingEvents + 1));
    state.events.push_back({++state.lastSequence, kind, value});
}

void ResetState(FirmwareState& state) noexcept
{
    const uint64_t sequence = state.lastSequence;
    state = FirmwareState{};
    state.lastSequence = sequence;
}

std::string FormatState(const FirmwareState& state)
{
    std::string text(kStateHeader);
    text += "\npresent ";
    text += state.present ? "1" : "0";
    text += "\nrettype ";
    text += ReturnTypeName(state.returnType);
    text += "\nsequence " + std::to_string(state.lastSequence) + "\n";
    for (const auto& [code, value] : state.answers)
        text += "answer " + Hex32(code) + " " + Hex32(value) + "\n";
    for (const auto& [code, hr] : state.failures)
        text += "fail " + Hex32(code) + " " + Hex32(hr) + "\n";
    for (const auto& call : state.calls)
        text += "call " + Hex32(call.code) + " " + Hex32(call.parameter) + "\n";
    for (const auto& event : state.events) {
        text += "event " + std::to_string(event.sequence) + (event.kind == EventKind::DualOs ? " dualos " : " power ") +
                Hex32(event.value) + "\n";
    }
    return text;
}

std::optional<FirmwareState> ParseState(std::string_view text)
{
    FirmwareState state;
    bool headerSeen = false;
    bool sequenceSeen = false;
    uint64_t previousEvent = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!headerSeen) {
            if (line != kStateHeader)
                return std::nullopt;
            headerSeen = true;
            continue;
        }
        const auto words = SplitWords(line);
        if (words.empty())
            return std::nullopt;
        const std::string_view key = words[0];
        if (key == "present" && words.size() == 2 && (words[1] == "0" || words[1] == "1")) {
            state.present = words[1] == "1";
        } else if (key == "rettype" && words.size() == 2) {
            const std::wstring name(words[1].begin(), words[1].end());
            auto type = ReturnTypeFromName(name);
            if (!type)
                return std::nullopt;
            state.returnType = *type;
        } else if (key == "sequence" && words.size() == 2) {
            auto value = ParseUnsigned(words[1], UINT64_MAX);
            if (!value)
                return std::nullopt;
            state.lastSequence = *value;
            sequenceSeen = true;
        } else if ((key == "answer" || key == "fail" || key == "call") && words.size() == 3) {
            auto first = Word32(words[1]);
            auto second = Word32(words[2]);
            if (!first || !second)
                return std::nullopt;
            if (key == "answer")
                state.answers[*first] = *second;
            else if (key == "fail")
                state.failures[*first] = *second;
            else
                state.calls.push_back({*first, *second});
        } else if (key == "event" && words.size() == 4) {
            auto sequence = ParseUnsigned(words[1], UINT64_MAX);
            auto value = Word32(words[3]);
            if (!sequence || !value || *sequence <= previousEvent || (words[2] != "dualos" && words[2] != "power"))
                return std::nullopt;
            previousEvent = *sequence;
            state.events.push_back({*sequence, words[2] == "dualos" ? EventKind::DualOs : EventKind::Power, *value});
        } else {
            return std::nullopt;
        }
    }
    if (!headerSeen || !sequenceSeen || previousEvent > state.lastSequence)
        return std::nullopt;
    return state;
}

std::string FormatCalls(const FirmwareState& state)
{
    std::string text;
    for (const auto& call : state.calls)
        text += FormatCall(call);
    return text;
}

std::string FormatCall(FirmwareCall call)
{
    return Hex32(call.code) + " " + Hex32(call.parameter) + "\n";
}

bool ParseCalls(std::string_view text, FirmwareState& state)
{
    if (!text.empty() && text.back() != '\n')
        return false;
    // Lines that could not stay are checked but not recorded.
    const auto lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    size_t skip = lines > kMaxRecordedCalls ? lines - kMaxRecordedCalls : 0;
    FirmwareState parsed;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const auto words = SplitWords(text.substr(0, end));
        text.remove_prefix(end + 1);
        if (words.size() != 2)
            return false;
        auto code = Word32(words[0]);
        auto parameter = Word32(words[1]);
        if (!code || !parameter)
            return false;
        if (skip > 0)
            --skip;
        else
            RecordCall(parsed, {*code, *parameter});
    }
    for (const FirmwareCall& call : parsed.calls)
        RecordCall(state, call);
    return true;
}

std::optional<uint32_t> ParseNumber(std::wstring_view text) noexcept
{
    std::string narrow;
    for (wchar_t c : text) {
        if (c <= 0 || c > 0x7F)
            return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    return Word32(narrow);
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
        auto type = ReturnTypeFromName(args[1]);
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

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return FoldAscii(x) == FoldAscii(y); });
}

std::optional<std::wstring> ParseSelectAllQuery(std::wstring_view query)
{
    std::vector<std::wstring_view> tokens;
    size_t pos = 0;
    while (pos < query.size()) {
        if (IsBlank(query[pos])) {
            ++pos;
            continue;
        }
        size_t end = pos + 1;
        if (IsIdentifierChar(query[pos])) {
            while (end < query.size() && IsIdentifierChar(query[end]))
                ++end;
        }
        tokens.push_back(query.substr(pos, end - pos));
        pos = end;
    }
    if (tokens.size() != 4 || !EqualsNoCase(tokens[0], L"select") || tokens[1] != L"*" ||
        !EqualsNoCase(tokens[2], L"from") || !IsIdentifierChar(tokens[3][0]))
        return std::nullopt;
    return std::wstring(tokens[3]);
}

std::wstring LocalNamespace(std::wstring_view networkResource, std::wstring_view computerName)
{
    std::wstring path(networkResource);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
        const size_t serverEnd = path.find(L'\\', 2);
        if (serverEnd == std::wstring::npos)
            return path;
        const std::wstring_view server = std::wstring_view(path).substr(2, serverEnd - 2);
        if (server == L"." || EqualsNoCase(server, L"localhost") || EqualsNoCase(server, computerName))
            path.erase(0, serverEnd + 1);
    }
    return path;
}

std::optional<ObjectPath> ParseObjectPath(std::wstring_view path)
{
    ObjectPath result;
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
        const size_t serverEnd = path.find(L'\\', 2);
        const size_t colon = path.find(L':');
        if (serverEnd == std::wstring_view::npos || colon == std::wstring_view::npos || colon < serverEnd ||
            serverEnd == 2 || colon == serverEnd + 1)
            return std::nullopt;
        result.server = path.substr(2, serverEnd - 2);
        result.nameSpace = path.substr(serverEnd + 1, colon - serverEnd - 1);
        path.remove_prefix(colon + 1);
    } else if (const size_t colon = path.find(L':'); colon != std::wstring_view::npos &&
                                                       path.substr(0, colon).find(L'.') == std::wstring_view::npos) {
        if (colon == 0)
            return std::nullopt;
        result.nameSpace = path.substr(0, colon);
        path.remove_prefix(colon + 1);
    }

    size_t pos = 0;
    while (pos < path.size() && IsIdentifierChar(path[pos]))
        ++pos;
    if (pos == 0)
        return std::nullopt;
    result.className = path.substr(0, pos);
    if (pos == path.size())
        return result;
    if (path[pos] != L'.')
        return std::nullopt;

    const size_t keyStart = ++pos;
    while (pos < path.size() && IsIdentifierChar(path[pos]))
        ++pos;
    if (pos == keyStart || pos >= path.size() || path[pos] != L'=')
        return std::nullopt;
    result.keyName = path.substr(keyStart, pos - keyStart);
    ++pos;
    if (pos < path.size() && path[pos] == L'"') {
        ++pos;
        bool closed = false;
        while (pos < path.size()) {
            wchar_t c = path[pos++];
            if (c == L'"') {
                closed = true;
                break;
            }
            if (c == L'\\') {
                if (pos == path.size() || (path[pos] != L'\\' && path[pos] != L'"'))
                    return std::nullopt;
                c = path[pos++];
            }
            result.keyValue.push_back(c);
        }
        if (!closed || pos != path.size())
            return std::nullopt;
        return result;
    }
    const std::wstring_view number = path.substr(pos);
    if (!ParseNumber(number))
        return std::nullopt;
    result.keyValue = number;
    return result;
}

std::wstring EscapeKeyValue(std::wstring_view value)
{
    std::wstring escaped;
    for (wchar_t c : value) {
        if (c == L'\\' || c == L'"')
            escaped.push_back(L'\\');
        escaped.push_back(c);
    }
    return escaped;
}

}  // namespace firmsim
