// The firmware's WMI classes as the stand-in serves them: DualOsMethod with its
// one instance and the method DualOSNotify, DualOsEvent, and the power event of
// root\cimv2 that Wine never raises. The builders throw std::bad_alloc.
#pragma once

#include <cstdint>
#include <string>

#include "sim/firmware/state_format.h"
#include "sim/firmware/wbem_object.h"

namespace firmsim {

inline constexpr wchar_t kFirmwareNamespace[] = L"ROOT\\wmi";
inline constexpr wchar_t kMethodClass[] = L"DualOsMethod";
inline constexpr wchar_t kEventClass[] = L"DualOsEvent";
inline constexpr wchar_t kPowerEventClass[] = L"Win32_PowerManagementEvent";
inline constexpr wchar_t kNotifyMethod[] = L"DualOSNotify";
inline constexpr wchar_t kKeyProperty[] = L"InstanceName";
// The ACPI device instance that carries the firmware's WMI interface.
inline constexpr wchar_t kInstanceName[] = L"ACPI\\PNP0C14\\0_0";

[[nodiscard]] const std::wstring& ComputerName();

[[nodiscard]] WbemObjectPtr MakeDualOsMethodClass();
[[nodiscard]] WbemObjectPtr MakeDualOsMethodInstance();
[[nodiscard]] WbemObjectPtr MakeDualOsEventClass();
[[nodiscard]] WbemObjectPtr MakeDualOsEvent(uint32_t code);
[[nodiscard]] WbemObjectPtr MakePowerEvent(uint16_t eventType);
// DualOSNotify's out-parameters, NotifycationReturnValue typed as `type` says.
[[nodiscard]] WbemObjectPtr MakeNotifyResult(ReturnType type, uint32_t value);

}  // namespace firmsim
