#include "service/script/script_policy.h"

#include "common/case_fold.h"

#include <vector>

namespace obrin::script {

namespace {

// The blanks between the words of a WQL query: WMI's query lexer (Wine's
// wbemprox, as read) starts a run of white space only at these four, unlike
// a number's stream extraction.
constexpr bool IsWqlBlank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::vector<std::wstring_view> SplitAtWqlBlanks(std::wstring_view text)
{
    std::vector<std::wstring_view> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsWqlBlank(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsWqlBlank(text[i]))
            ++i;
        if (i > start)
            tokens.push_back(text.substr(start, i - start));
    }
    return tokens;
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
        const std::vector<std::wstring_view> tokens = SplitAtWqlBlanks(query);
        if (tokens.size() < 4 || !EqualsNoCase(tokens[0], L"select"))
            return false;
        for (std::size_t i = 1; i + 1 < tokens.size(); ++i)
            if (EqualsNoCase(tokens[i], L"from"))
                return i >= 2 && EqualsNoCase(tokens[i + 1], kFirmwareClass);
        return false;
    } catch (...) {
        return false;
    }
}

bool IsFirmwareObjectPath(std::wstring_view path, std::span<const std::wstring> localServerNames) noexcept
{
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
    if (!EqualsNoCase(relative.substr(0, kFirmwareClass.size()), kFirmwareClass))
        return false;
    return relative.size() == kFirmwareClass.size() || relative[kFirmwareClass.size()] == L'.' ||
           relative[kFirmwareClass.size()] == L'=';
}

bool IsFirmwareMethod(std::wstring_view className, std::wstring_view methodName) noexcept
{
    return EqualsNoCase(className, kFirmwareClass) && EqualsNoCase(methodName, kFirmwareMethod);
}

}  // namespace obrin::script
