// The IWbemServices objects the stand-in's locator hands out: root\wmi served
// entirely here, and root\cimv2 as Wine's own with the power-event
// subscription served here (Wine accepts that query but never delivers).
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include "common/ownership.h"

namespace firmsim {

[[nodiscard]] HRESULT CreateFirmwareServices(IWbemServices** services) noexcept;
[[nodiscard]] HRESULT CreateCimServices(obrin::ComPtr<IWbemServices> wineServices, IWbemServices** services) noexcept;

}  // namespace firmsim
