#include "common/script/script_text.h"

#include "common/case_fold.h"

#include <algorithm>

namespace obrin::script {

namespace {

// What a stream extraction of a number skips in front of it.
constexpr bool IsStreamSpace(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Reads sign and magnitude as a stream extraction would; false when no digit
// follows or the magnitude exceeds limit.
bool ReadMagnitude(std::wstring_view text, std::uint64_t limit, bool& negative, std::uint64_t& magnitude) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && IsStreamSpace(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    const std::size_t firstDigit = i;
    std::uint64_t value = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
        if (value > limit)
            return false;
        ++i;
    }
    if (i == firstDigit)
        return false;
    magnitude = value;
    return true;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::wstring_view left, std::wstring_view right) const noexcept
{
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        // Code units compare as unsigned so the order is the same where
        // wchar_t is a signed 32-bit type.
        const auto l = static_cast<std::uint32_t>(FoldCase(left[i]));
        const auto r = static_cast<std::uint32_t>(FoldCase(right[i]));
        if (l != r)
            return l < r;
    }
    return left.size() < right.size();
}

bool ReadLong(std::wstring_view text, std::int32_t& value) noexcept
{
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!ReadMagnitude(text, 2147483648ULL, negative, magnitude))
        return false;
    if (!negative && magnitude > 2147483647ULL)
        return false;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

bool ReadUnsignedLong(std::wstring_view text, std::uint32_t& value) noexcept
{
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!ReadMagnitude(text, 0xFFFFFFFFULL, negative, magnitude))
        return false;
    const auto low = static_cast<std::uint32_t>(magnitude);
    value = negative ? static_cast<std::uint32_t>(0U - low) : low;
    return true;
}

std::int32_t ArgumentToLong(std::wstring_view text) noexcept
{
    std::int32_t value = 0;
    return ReadLong(text, value) ? value : 0;
}

std::uint32_t ArgumentToUnsignedLong(std::wstring_view text) noexcept
{
    std::uint32_t value = 0;
    return ReadUnsignedLong(text, value) ? value : 0;
}

int ReadActionCode(std::wstring_view text) noexcept
{
    std::int32_t value = 0;
    if (!ReadLong(text, value) || value < 0 || value > kMaxActionCode)
        return -1;
    return value;
}

ScriptChunkParse ParseScriptChunk(std::wstring_view text, ScriptActions& actions)
{
    ScriptChunkParse result;
    result.pendingStart = text.size();
    std::size_t position = 0;
    for (;;) {
        const std::size_t open = text.find(L'[', position);
        if (open == std::wstring_view::npos)
            return result;
        const std::size_t close = text.find(L']', open + 1);
        const std::size_t equals = text.find(L'=', open + 1);
        // "[=" can never become an action, whatever follows.
        if (equals == open + 1) {
            result.ended = true;
            return result;
        }
        if (close == std::wstring_view::npos) {
            result.pendingStart = open;
            return result;
        }
        // The first "]" and the first "=" are fixed now: more text cannot
        // repair an action whose "=" is missing or lies behind its "]".
        if (equals == std::wstring_view::npos || equals > close) {
            result.ended = true;
            return result;
        }
        ScriptAction action;
        action.code = ReadActionCode(text.substr(open + 1, equals - open - 1));
        std::size_t fieldStart = equals + 1;
        while (fieldStart <= close) {
            std::size_t fieldEnd = text.find(L',', fieldStart);
            if (fieldEnd == std::wstring_view::npos || fieldEnd > close)
                fieldEnd = close;
            if (fieldEnd > fieldStart)
                action.arguments.emplace_back(text.substr(fieldStart, fieldEnd - fieldStart));
            fieldStart = fieldEnd + 1;
        }
        actions.push_back(std::move(action));
        result.lastBracket = static_cast<std::ptrdiff_t>(close);
        position = close + 1;
    }
}

std::ptrdiff_t ParseScript(std::wstring_view text, ScriptActions& actions)
{
    return ParseScriptChunk(text, actions).lastBracket;
}

std::size_t ParsedSize(const ScriptAction& action) noexcept
{
    std::size_t size = sizeof(ScriptAction);
    for (const std::wstring& argument : action.arguments)
        size += sizeof(std::wstring) + (argument.size() + 1) * sizeof(wchar_t);
    return size;
}

std::wstring ArgumentText(const ScriptAction& action, std::size_t index)
{
    return index < action.arguments.size() ? action.arguments[index] : std::wstring();
}

std::wstring SubstitutedArgument(const ScriptAction& action, std::size_t index, const ScriptVariables& variables)
{
    std::wstring argument = ArgumentText(action, index);
    if (argument.size() >= 4 && argument.starts_with(L"$(") && argument.ends_with(L')')) {
        const auto found = variables.find(std::wstring_view(argument).substr(2, argument.size() - 3));
        return found == variables.end() ? std::wstring() : found->second;
    }
    return argument;
}

std::wstring FormatResults(const ScriptVariables& variables)
{
    std::wstring text;
    for (const auto& [key, value] : variables) {
        text += key;
        text += L'=';
        text += value;
        text += L';';
    }
    return text;
}

std::wstring WriteAction(const ScriptAction& action)
{
    std::wstring text = L"[" + std::to_wstring(action.code) + L"=";
    if (action.arguments.empty())
        text += L',';
    for (const std::wstring& argument : action.arguments) {
        text += argument;
        text += L',';
    }
    text += L']';
    return text;
}

std::wstring WriteScript(const ScriptActions& actions)
{
    std::wstring text;
    for (const ScriptAction& action : actions)
        text += WriteAction(action);
    return text;
}

ScriptAction BuildAction(int code, std::wstring_view argumentText)
{
    ScriptAction written;
    written.code = code;
    std::size_t fieldStart = 0;
    for (;;) {
        const std::size_t comma = argumentText.find(L',', fieldStart);
        if (comma == std::wstring_view::npos) {
            if (fieldStart < argumentText.size())
                written.arguments.emplace_back(argumentText.substr(fieldStart));
            break;
        }
        written.arguments.emplace_back(argumentText.substr(fieldStart, comma - fieldStart));
        fieldStart = comma + 1;
    }
    // Reading the written form back drops empty fields and cuts at a "]" in
    // the text, exactly as the server will.
    ScriptActions parsed;
    if (ParseScript(WriteAction(written), parsed) < 0)
        return ScriptAction{};
    return std::move(parsed.front());
}

ResultChunkParse ParseResultChunk(std::wstring_view text, ScriptVariables& results, bool lastChunk)
{
    ResultChunkParse result;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t semicolon = text.find(L';', position);
        if (semicolon == std::wstring_view::npos && !lastChunk)
            break;
        const std::size_t pairEnd = semicolon == std::wstring_view::npos ? text.size() : semicolon;
        const std::size_t equals = text.find(L'=', position);
        if (equals == std::wstring_view::npos || equals == position || equals > pairEnd) {
            result.ended = true;
            break;
        }
        results[std::wstring(text.substr(position, equals - position))] =
            std::wstring(text.substr(equals + 1, pairEnd - equals - 1));
        position = semicolon == std::wstring_view::npos ? text.size() : semicolon + 1;
    }
    result.consumed = position;
    return result;
}

void ParseResults(std::wstring_view text, ScriptVariables& results)
{
    ParseResultChunk(text, results, true);
}

}  // namespace obrin::script
