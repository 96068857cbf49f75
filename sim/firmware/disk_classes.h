// The COM side of root\cimv2's disk classes (Win32_DiskDrive,
// Win32_DiskPartition, Win32_LogicalDisk, Win32_Volume and the associations
// between the first three): the disk stand-in's view of its model
// (sim/disk/disk_view.h) as WMI objects. The model is read afresh for
// every call because the stand-in diskpart changes it between the queries of
// one discovery. A model that cannot be read makes the classes answer as a
// machine without those disks (nothing found) and is reported once, in
// firmwmi.log beside the DLL: the DLL runs inside other programs and has no
// output of its own.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <optional>

namespace firmsim {

// Each returns nullopt when the call is not about the disk classes (Wine
// answers it), else the HRESULT of the call it served.
[[nodiscard]] std::optional<HRESULT> ExecDiskQuery(const BSTR language, const BSTR query,
                                                   IEnumWbemClassObject** enumerator) noexcept;
[[nodiscard]] std::optional<HRESULT> CreateDiskInstanceEnum(const BSTR className,
                                                            IEnumWbemClassObject** enumerator) noexcept;
[[nodiscard]] std::optional<HRESULT> GetDiskObject(const BSTR path, IWbemClassObject** object) noexcept;

}  // namespace firmsim
