// The one case-insensitive comparison of the programs' own words: the option
// words of their command lines and the names of the script protocol.
// Windows-free.
#pragma once

#include <cstddef>
#include <string_view>

namespace obrin {

// Only A-Z fold, to lower case. That is what the C runtime's _wcsicmp and
// towlower do in the "C" locale, which the programs never leave, and it is
// the same on every platform, so the protocol's key order ("_" before the
// letters) does not depend on where it runs.
[[nodiscard]] constexpr wchar_t FoldCase(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

[[nodiscard]] constexpr bool EqualsNoCase(std::wstring_view left, std::wstring_view right) noexcept
{
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldCase(left[i]) != FoldCase(right[i]))
            return false;
    }
    return true;
}

}  // namespace obrin
