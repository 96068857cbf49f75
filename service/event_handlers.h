// What the running service does with each event. The sinks of wmi/
// (CDualOSEventSink::EventHandler, CPowerEventSink::EventHandler) read the
// event's property and hand it here; the firmware event's lines carry the
// sink's name, "CDualOSEventSink::EventHandler", as the log has always named
// them.
#pragma once

#include <windows.h>

// DualOsEvent.EventCode: logs "WMI Event=%x.", then launches the switcher
// without waiting or logs the boot type error.
void HandleDualOSEvent(DWORD eventCode) noexcept;

// Win32_PowerManagementEvent.EventType: a resume repeats the ready notification.
void HandlePowerEvent(WORD eventType) noexcept;
