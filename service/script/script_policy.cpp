#include "service/script/script_policy.h"

#include "common/case_fold.h"

#include <vector>

namespace obrin::script {

namespace {

constexpr std::size_t kUnreadable = std::wstring_view::npos;

// The blanks between the words of a WQL query: WMI's query lexer (Wine's
// wbemprox, as read) starts a run of white space only at these four, unlike
// a number's stream extraction.
constexpr bool IsWqlBlank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

constexpr bool IsDigit(wchar_t c) noexcept
{
    return c >= L'0' && c <= L'9';
}

constexpr bool IsNameStart(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
}

constexpr bool IsNameChar(wchar_t c) noexcept
{
    return IsNameStart(c) || IsDigit(c);
}

// The marks a WQL condition may hold. Any other character outside a string
// (a vertical tab, "/", "{", a letter beyond ASCII) is refused, so no lexer
// can find a word boundary that this reading does not see.
constexpr std::wstring_view kWqlMarks = L"*,=()<>!.-";

template <typename Predicate>
std::size_t RunEnd(std::wstring_view text, std::size_t start, Predicate isInRun) noexcept
{
    while (start < text.size() && isInRun(text[start]))
        ++start;
    return start;
}

// Just past the closing quote of the string that opens at text[start], or
// kUnreadable: not closed; a NUL inside (WMI receives the text only up to
// it); or a backslash before a quote, which one reader takes for an escaped
// quote and another for the end of the string.
std::size_t QuotedEnd(std::wstring_view text, std::size_t start) noexcept
{
    const wchar_t quote = text[start];
    for (std::size_t i = start + 1; i < text.size(); ++i) {
        const bool escaped = text[i] == L'\\';
        if (escaped)
            ++i;
        if (i == text.size() || text[i] == L'\0')
            return kUnreadable;
        if (text[i] == quote)
            return escaped ? kUnreadable : i + 1;
    }
    return kUnreadable;
}

// The words of a WQL text as WMI's lexer cuts them: a word ends at a blank
// or at a mark, a string in quotes is one word whatever it holds. False when
// the text holds something that cannot be read so.
bool ReadWqlWords(std::wstring_view text, std::vector<std::wstring_view>& words)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const wchar_t c = text[i];
        std::size_t end = i + 1;
        if (IsWqlBlank(c)) {
            i = end;
            continue;
        }
        if (IsNameStart(c))
            end = RunEnd(text, i, IsNameChar);
        else if (IsDigit(c))
            end = RunEnd(text, i, IsDigit);
        else if (c == L'\'' || c == L'"')
            end = QuotedEnd(text, i);
        else if (kWqlMarks.find(c) == std::wstring_view::npos)
            return false;
        if (end == kUnreadable)
            return false;
        words.push_back(text.substr(i, end - i));
        i = end;
    }
    return true;
}

bool IsPropertyListWord(std::wstring_view word) noexcept
{
    return IsNameStart(word[0]) || word == L"*" || word == L",";
}

// Just past a key's value at text[start]: a string in double quotes or a
// number; kUnreadable for anything else.
std::size_t KeyValueEnd(std::wstring_view text, std::size_t start) noexcept
{
    if (start < text.size() && text[start] == L'"')
        return QuotedEnd(text, start);
    const std::size_t end = RunEnd(text, start, IsDigit);
    return end > start ? end : kUnreadable;
}

// What may follow the class name in a path: nothing, "=@", "=value", or
// ".key=value" with more ",key=value". Nothing may come after the keys: a
// ":" there would make the class a scope of another class's path.
bool IsKeyPart(std::wstring_view keys) noexcept
{
    if (keys.empty() || keys == L"=@")
        return true;
    if (keys[0] == L'=')
        return KeyValueEnd(keys, 1) == keys.size();
    if (keys[0] != L'.')
        return false;
    std::size_t i = 0;
    for (;;) {
        const std::size_t nameEnd = RunEnd(keys, i + 1, IsNameChar);
        if (nameEnd == i + 1 || nameEnd == keys.size() || keys[nameEnd] != L'=')
            return false;
        i = KeyValueEnd(keys, nameEnd + 1);
        if (i == kUnreadable || i == keys.size())
            return i == keys.size();
        if (keys[i] != L',')
            return false;
    }
}

bool IsNamespaceWithEitherSeparator(std::wstring_view text) noexcept
{
    return EqualsNoCase(text, kFirmwareNamespace) || EqualsNoCase(text, L"root/wmi");
}

}  // namespace

bool IsFirmwareNamespace(std::wstring_view wmiNamespace) noexcept
{
    return EqualsNoCase(wmiNamespace, kFirmwareNamespace);
}

bool IsFirmwareQuery(std::wstring_view query) noexcept
{
    try {
        std::vector<std::wstring_view> words;
        if (!ReadWqlWords(query, words) || words.empty() || !EqualsNoCase(words[0], L"select"))
            return false;
        // Only property names, "*" and "," may come before the first FROM, so
        // no string or mark can hide where the class name stands.
        std::size_t from = 1;
        for (; from < words.size() && !EqualsNoCase(words[from], L"from"); ++from)
            if (!IsPropertyListWord(words[from]))
                return false;
        if (from == 1 || from + 1 >= words.size() || !EqualsNoCase(words[from + 1], kFirmwareClass))
            return false;
        return from + 2 == words.size() || EqualsNoCase(words[from + 2], L"where");
    } catch (...) {
        return false;
    }
}

bool IsFirmwareObjectPath(std::wstring_view path, std::span<const std::wstring> localServerNames) noexcept
{
    if (path.find(L'%') != std::wstring_view::npos)
        return false;
    std::wstring_view relative = path;
    if (path.starts_with(L"\\\\") || path.starts_with(L"//")) {
        const std::wstring_view full = path.substr(2);
        const std::size_t serverEnd = full.find_first_of(L"\\/");
        const std::size_t namespaceEnd = full.find(L':');
        if (serverEnd == std::wstring_view::npos || namespaceEnd == std::wstring_view::npos || namespaceEnd < serverEnd)
            return false;
        const std::wstring_view server = full.substr(0, serverEnd);
        bool local = server == L".";
        for (const std::wstring& name : localServerNames)
            local = local || EqualsNoCase(server, name);
        if (!local || !IsNamespaceWithEitherSeparator(full.substr(serverEnd + 1, namespaceEnd - serverEnd - 1)))
            return false;
        relative = full.substr(namespaceEnd + 1);
    } else {
        const std::size_t firstMark = path.find_first_of(L".=:");
        if (firstMark != std::wstring_view::npos && path[firstMark] == L':') {
            if (!IsNamespaceWithEitherSeparator(path.substr(0, firstMark)))
                return false;
            relative = path.substr(firstMark + 1);
        }
    }
    return EqualsNoCase(relative.substr(0, kFirmwareClass.size()), kFirmwareClass) &&
           IsKeyPart(relative.substr(kFirmwareClass.size()));
}

bool IsFirmwareMethod(std::wstring_view className, std::wstring_view methodName) noexcept
{
    return EqualsNoCase(className, kFirmwareClass) && EqualsNoCase(methodName, kFirmwareMethod);
}

bool IsAllowedFirmwareCall(std::uint32_t code, std::uint32_t parameter) noexcept
{
    return parameter == 0 && (code == 0x10 || code == 0x11 || code == 0x14 || code == 0x18);
}

}  // namespace obrin::script
