// The AutoRun policy value "NoDriveTypeAutoRun" under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer, which
// install and uninstall set to 0xFF for their run and then put back.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

// The value as found: absent, or its registry type and bytes, so that
// whatever was there is put back as it was.
struct AutoRunValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const AutoRunValue&) const = default;
};

// REG_DWORD 0xFF: AutoRun off on every kind of drive.
[[nodiscard]] AutoRunValue AllDrivesOff();

// The policy value as it is now; nothing when the policy key cannot be opened.
[[nodiscard]] std::optional<AutoRunValue> ReadAutoRunPolicy() noexcept;
// Writes value (absent: deletes it) and returns what was there before;
// nothing, and nothing changed, when the policy key cannot be opened.
[[nodiscard]] std::optional<AutoRunValue> SetAutoRunPolicy(const AutoRunValue& value) noexcept;
