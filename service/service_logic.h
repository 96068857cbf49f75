// The service's decisions as plain data in, data out: what a firmware or
// power event asks for, which platform this is, whether the taskbar entry is
// pinned, which session gets the switcher and the switcher's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

enum class FirmwareEventAction {
    None,           // the code asks for nothing the service does
    LaunchSwitcher, // start the switcher with the action word, not waiting
    BootTypeError,  // log "Notify Boot Type Error."
};

struct FirmwareEventReaction {
    FirmwareEventAction action = FirmwareEventAction::None;
    const wchar_t* actionWord = nullptr;  // set for LaunchSwitcher
};

// DualOsEvent.EventCode: 0xD1 to 0xD7 launch, 0xE1 is the boot type error.
[[nodiscard]] FirmwareEventReaction ReactionToFirmwareEvent(std::uint32_t eventCode) noexcept;

// Win32_PowerManagementEvent.EventType: 7 (resume from suspend) and 18
// (resume automatic) repeat the ready notification.
[[nodiscard]] bool IsResumeEvent(std::uint16_t eventType) noexcept;

inline constexpr wchar_t TALVEX_CODE_NAME[] = L"Talvex";

// True when the first `capacity` characters of codeName hold exactly
// "Talvex" (case-sensitive, whole string). Never reads past capacity, so a
// registry value without a terminator is safe.
[[nodiscard]] bool IsTalvexPlatform(const wchar_t* codeName, std::size_t capacity) noexcept;

// The two tests on the firmware's flags word (code 16) that allow pinning.
[[nodiscard]] bool FirstCapabilityTestPasses(std::uint32_t flags) noexcept;
[[nodiscard]] bool SecondCapabilityTestPasses(std::uint32_t flags) noexcept;

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
