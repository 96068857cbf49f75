// What the service does for each firmware event code and each power event
// type, as plain data. Windows-free.
#pragma once

#include <cstdint>

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
