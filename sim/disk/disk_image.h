// The model as the kernel-mode disk stand-in (sim/diskdrv) serves it: the
// values Windows reports for these disks through IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
// IOCTL_STORAGE_GET_DEVICE_NUMBER and IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, and
// the names a program opens them by. Free of <windows.h>.
#pragma once

#include "sim/disk/disk_model.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace obrin::disksim {

// The device image of `model` (sim/diskdrv/obrindisk_image.h): offsets and
// lengths in bytes, the GPT usable area behind the header and entries and in
// front of their backup, GUIDs in memory order. A disk gets a name only when
// its device path is \\.\PHYSICALDRIVEn; every partition with a volume
// (HasVolume) gets its volume GUID name and, with a letter, "\??\X:".
[[nodiscard]] std::vector<uint8_t> BuildDeviceImage(const Model& model);

// "c12a7328-f81f-11d2-ba4b-00a0c93ec93b" (with or without braces, either
// case) as the 16 bytes of a GUID in memory.
[[nodiscard]] std::optional<std::array<uint8_t, 16>> GuidBytes(std::string_view text) noexcept;

}  // namespace obrin::disksim
