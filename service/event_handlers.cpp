#include "service/event_handlers.h"

#include "common/log.h"
#include "service/event_reactions.h"
#include "service/firmware_requests.h"
#include "service/session_launcher.h"

void HandleDualOSEvent(DWORD eventCode) noexcept
{
    GetLog().Print(LOG_INFO, "CDualOSEventSink::EventHandler", __LINE__, L"WMI Event=%x.\n", eventCode);
    const FirmwareEventReaction reaction = ReactionToFirmwareEvent(eventCode);
    switch (reaction.action) {
    case FirmwareEventAction::LaunchSwitcher:
        static_cast<void>(SetPowerState(reaction.actionWord, false));
        break;
    case FirmwareEventAction::BootTypeError:
        GetLog().Print(LOG_ERROR, "CDualOSEventSink::EventHandler", __LINE__, L"Notify Boot Type Error.\n");
        break;
    case FirmwareEventAction::None:
        break;
    }
}

void HandlePowerEvent(WORD eventType) noexcept
{
    if (IsResumeEvent(eventType))
        static_cast<void>(NotifyReady());
}
