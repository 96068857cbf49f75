// The script server's security policy: what the interpreter lets a script
// do, only what talking to the firmware's DualOsMethod needs. Any local user
// reaches the LocalSystem service through the pipe, so everything else is
// refused. Names are compared without regard to case (obrin::EqualsNoCase).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "service/script/script_text.h"

namespace obrin::script {

inline constexpr std::wstring_view kFirmwareNamespace = L"root\\wmi";
inline constexpr std::wstring_view kFirmwareClass = L"DualOsMethod";
inline constexpr std::wstring_view kFirmwareMethod = L"DualOSNotify";

[[nodiscard]] bool IsFirmwareNamespace(std::wstring_view wmiNamespace) noexcept;
// "select <properties> from DualOsMethod", optionally followed by a clause.
[[nodiscard]] bool IsFirmwareQuery(std::wstring_view query) noexcept;
// "DualOsMethod", "DualOsMethod.<keys>" or "DualOsMethod=@", optionally behind
// "\\<server>\root\wmi:" where server is "." or one of localServerNames.
[[nodiscard]] bool IsFirmwareObjectPath(std::wstring_view path, std::span<const std::wstring> localServerNames) noexcept;
[[nodiscard]] bool IsFirmwareMethod(std::wstring_view className, std::wstring_view methodName) noexcept;

}  // namespace obrin::script
