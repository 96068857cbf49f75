// The script server's security policy: what the interpreter lets a script
// do, only what talking to the firmware's DualOsMethod needs. Any local user
// reaches the LocalSystem service through the pipe, so everything else is
// refused. Names are compared without regard to case (obrin::EqualsNoCase).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/script/script_text.h"

namespace obrin::script {

inline constexpr std::wstring_view kFirmwareNamespace = L"root\\wmi";
inline constexpr std::wstring_view kFirmwareClass = L"DualOsMethod";
inline constexpr std::wstring_view kFirmwareMethod = L"DualOSNotify";
// The method's in-parameters.
inline constexpr std::wstring_view kFirmwareCodeParameter = L"NotificationCode";
inline constexpr std::wstring_view kFirmwareValueParameter = L"NotifycationParmeter";

[[nodiscard]] bool IsFirmwareNamespace(std::wstring_view wmiNamespace) noexcept;
// "select <properties> from DualOsMethod", optionally followed by a WHERE
// clause, read as WQL's lexer reads it: words end at blanks and at marks such
// as "*" or "=", and a quoted string is one word. Strings, numbers and marks
// other than "*" and "," may not stand before FROM; a text that cannot be
// read so (an unknown character, an unclosed string, a backslash before a
// quote) is refused.
[[nodiscard]] bool IsFirmwareQuery(std::wstring_view query) noexcept;
// "DualOsMethod", "DualOsMethod.<key>=<value>[,<key>=<value>...]",
// "DualOsMethod=<value>" or "DualOsMethod=@", where a value is a number or a
// string in double quotes; optionally behind "\\<server>\root\wmi:" where
// server is "." or one of localServerNames.
// No "%" anywhere: WMI documents URL-style escapes such as "%20" in object
// paths, and the reading here must not depend on whether they are decoded.
[[nodiscard]] bool IsFirmwareObjectPath(std::wstring_view path, std::span<const std::wstring> localServerNames) noexcept;
[[nodiscard]] bool IsFirmwareMethod(std::wstring_view className, std::wstring_view methodName) noexcept;
// The calls the switcher makes: code 0x10 (enable flags), 0x11 (ready), 0x14
// (switch request) or 0x18 (mode and readiness), each with parameter 0. The
// other codes change the firmware's boot state; they belong to the elevated
// installer, which calls the firmware in-process.
[[nodiscard]] bool IsAllowedFirmwareCall(std::uint32_t code, std::uint32_t parameter) noexcept;

}  // namespace obrin::script
