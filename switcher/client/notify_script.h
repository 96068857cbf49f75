// The text side of the switcher's firmware call: the script that asks the
// service for one DualOSNotify call, and what its reply means. Windows-free.
#pragma once

#include "common/script/script_text.h"

#include <cstdint>
#include <optional>
#include <string>

// Reported when the reply holds no usable result: no numeric WMIS_HRESULT,
// or a success whose return value does not read as a number.
inline constexpr int32_t kMalformedReply = static_cast<int32_t>(0x8000FFFF);  // E_UNEXPECTED

// The ten actions: connect to root\wmi, set the blanket, find the one
// DualOsMethod instance, keep its path, call DualOSNotify(code, 0) on it and
// read NotifycationReturnValue. May throw std::bad_alloc.
[[nodiscard]] std::wstring NotifyScriptText(uint32_t code);

struct NotifyReply {
    int32_t result = kMalformedReply;     // WMIS_HRESULT, 0 on success
    std::optional<uint32_t> returnValue;  // only with result 0
    std::wstring actionIndex;             // WMIS_ActionIndex as sent, "" when missing
};

// May throw std::bad_alloc.
[[nodiscard]] NotifyReply ReadNotifyReply(const obrin::script::ScriptVariables& reply);
