// The IWbemServices objects the stand-in's locator hands out: root\wmi served
// entirely here, and root\cimv2 as Wine's own with the power-event
// subscription (Wine accepts that query but never delivers) and the disk
// classes of the disk stand-in (Wine has no partitions or volumes) served here.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include "common/ownership.h"

namespace firmsim {

[[nodiscard]] HRESULT CreateFirmwareServices(IWbemServices** services) noexcept;
[[nodiscard]] HRESULT CreateCimServices(obrin::ComPtr<IWbemServices> wineServices, IWbemServices** services) noexcept;

}  // namespace firmsim
