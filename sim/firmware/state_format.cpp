#include "sim/firmware/state_format.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "common/case_fold.h"

namespace firmsim {
namespace {

constexpr std::string_view kStateHeader = "firmsim-state 1";

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

}  // namespace

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

std::optional<ReturnType> ReturnTypeFromName(std::string_view name) noexcept
{
    if (obrin::EqualsNoCase(name, "uint32"))
        return ReturnType::UInt32;
    if (obrin::EqualsNoCase(name, "sint32"))
        return ReturnType::SInt32;
    if (obrin::EqualsNoCase(name, "string"))
        return ReturnType::String;
    return std::nullopt;
}

std::optional<uint32_t> ParseNumber(std::string_view text) noexcept
{
    auto value = ParseUnsigned(text, UINT32_MAX);
    if (!value)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

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
            auto type = ReturnTypeFromName(words[1]);
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
            auto first = ParseNumber(words[1]);
            auto second = ParseNumber(words[2]);
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
            auto value = ParseNumber(words[3]);
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
        auto code = ParseNumber(words[0]);
        auto parameter = ParseNumber(words[1]);
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

}  // namespace firmsim
