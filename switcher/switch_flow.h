// The OS-switch request (no option) and its "-now" variant: the firmware
// checks through the service, the optional confirmation and the request.
// Windows-free: the firmware, the message box and the configuration tool are
// reached through SwitchEnvironment.
#pragma once

#include "switcher/lang/lang_strings.h"

#include <cstdint>

// DualOSNotify codes and the preset each caller gives the answer, which stands
// when the service or the firmware does not answer.
constexpr uint32_t CODE_READY = 0x11;
constexpr uint32_t CODE_ENABLE = 0x10;
constexpr uint32_t CODE_MODE = 0x18;
constexpr uint32_t CODE_SWITCH = 0x14;
constexpr uint32_t PRESET_READY = 1;
constexpr uint32_t PRESET_ENABLE = 0;
constexpr uint32_t PRESET_MODE = 0x40000000;
constexpr uint32_t PRESET_SWITCH = 1;

constexpr uint32_t MSGBOX_TYPE_LEGACY = 0x10;        // OK, error icon
constexpr uint32_t MSGBOX_TYPE_NOT_READY = 0x0;      // OK, no icon
constexpr uint32_t MSGBOX_TYPE_CONFIRMATION = 0x41;  // OK and Cancel, information icon
constexpr int MSGBOX_RESULT_CANCEL = 2;

[[nodiscard]] bool ReadyCheckPasses(uint32_t value) noexcept;
[[nodiscard]] bool ModeCheckPasses(uint32_t value) noexcept;
[[nodiscard]] bool EnableCheckPasses(uint32_t value) noexcept;
[[nodiscard]] bool ReadinessCheckPasses(uint32_t value) noexcept;

class SwitchEnvironment {
public:
    // The firmware's answer to code, or preset when there is none.
    virtual uint32_t Query(uint32_t code, uint32_t preset) noexcept = 0;
    // The switcher's message box; its result (-1 when it could not be shown).
    virtual int ShowMessage(const wchar_t* text, const wchar_t* caption, uint32_t type) noexcept = 0;
    // Starts the configuration tool: 0 when started, else 1.
    virtual int RunConfig() noexcept = 0;

protected:
    ~SwitchEnvironment() = default;
};

// Both return the process exit code. showMsg is the level after "-nomsg".
[[nodiscard]] int DoSwitch(SwitchEnvironment& environment, uint32_t showMsg, const LangStrings& strings) noexcept;
[[nodiscard]] int DoSwitchNow(SwitchEnvironment& environment, uint32_t showMsg, const LangStrings& strings) noexcept;
