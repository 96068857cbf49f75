#include "service/event_reactions.h"

FirmwareEventReaction ReactionToFirmwareEvent(std::uint32_t eventCode) noexcept
{
    switch (eventCode) {
    case 0xD1:
    case 0xD7:
        return {FirmwareEventAction::LaunchSwitcher, L"config"};
    case 0xD2: return {FirmwareEventAction::LaunchSwitcher, L"reboot"};
    case 0xD3: return {FirmwareEventAction::LaunchSwitcher, L"s3"};
    case 0xD4: return {FirmwareEventAction::LaunchSwitcher, L"s4"};
    case 0xD5: return {FirmwareEventAction::LaunchSwitcher, L"shutdown"};
    case 0xD6: return {FirmwareEventAction::LaunchSwitcher, L"hybrid"};
    case 0xE1: return {FirmwareEventAction::BootTypeError, nullptr};
    default: return {};
    }
}

bool IsResumeEvent(std::uint16_t eventType) noexcept
{
    return eventType == 7 || eventType == 18;
}
