// What the session launcher decides before it starts the switcher: the
// session whose user gets it and the switcher's command line. Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct SessionEntry {
    std::uint32_t id;
    int state;  // WTS_CONNECTSTATE_CLASS; 0 is WTSActive
};

// The first session in enumeration order that is active.
[[nodiscard]] std::optional<std::uint32_t> FirstActiveSession(const SessionEntry* sessions, std::size_t count) noexcept;

// The directory of a program path, up to and including the last backslash
// (empty without one).
[[nodiscard]] std::wstring DirectoryOf(const std::wstring& programPath);

inline constexpr wchar_t SWITCHER_PROGRAM[] = L"ObrinSwitcher.exe";

// "\"<directory>ObrinSwitcher.exe\" -<action>", with " -nomsg" appended for a
// start without a user token.
[[nodiscard]] std::wstring SwitcherCommandLine(const std::wstring& directory, const wchar_t* action,
                                               bool withoutUserToken);
