// The one case-insensitive comparison of the programs' own words: the option
// words of their command lines and the names of the script protocol; in the
// stand-ins also WQL, object paths, diskpart's words and drive letters, in
// wide or in narrow (ASCII or UTF-8) text. Windows-free.
#pragma once

#include <cstddef>
#include <string>
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

// The same for narrow text; the bytes of UTF-8 sequences never fold.
[[nodiscard]] constexpr char FoldCase(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The other way, for the words kept in upper case (drive letters).
[[nodiscard]] constexpr char UpperCase(char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

namespace detail {

template <typename Char>
[[nodiscard]] constexpr bool EqualsFolded(std::basic_string_view<Char> left, std::basic_string_view<Char> right) noexcept
{
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldCase(left[i]) != FoldCase(right[i]))
            return false;
    }
    return true;
}

}  // namespace detail

[[nodiscard]] constexpr bool EqualsNoCase(std::wstring_view left, std::wstring_view right) noexcept
{
    return detail::EqualsFolded(left, right);
}

[[nodiscard]] constexpr bool EqualsNoCase(std::string_view left, std::string_view right) noexcept
{
    return detail::EqualsFolded(left, right);
}

// The text with A-Z folded.
[[nodiscard]] inline std::string FoldedText(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded)
        c = FoldCase(c);
    return folded;
}

}  // namespace obrin
