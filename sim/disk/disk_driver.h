// The kernel-mode disk stand-in (sim/diskdrv, obrindisk.sys) seen from the
// user-mode stand-ins: installing it into the prefix and handing it the
// model after every change, so that \\.\PHYSICALDRIVEn, \\.\C: and the volume
// names answer as the model says.
#pragma once

#include "sim/disk/disk_model.h"

#include <string>

namespace obrin::disksim {

// The device image beside the model file: model.bin for model.txt.
[[nodiscard]] std::wstring DeviceImagePath(const std::wstring& modelPath);

// Hands the disks of `model` to the driver; nullptr stands for a machine
// without them (a missing or damaged model). Writes the device image beside
// the model file, which the driver reads when it starts, and sends it to the
// running driver, which serves it at once and takes its names anew. True when
// both happened or no driver runs; false with the last error set otherwise.
[[nodiscard]] bool HandModelToDriver(const std::wstring& modelPath, const Model* model) noexcept;

// WriteModelFile, then HandModelToDriver: the kernel-mode disk stand-in
// follows every model saved. False with the last error set when either fails.
[[nodiscard]] bool SaveModelFile(const std::wstring& path, const Model& model) noexcept;

// LoadModelFile; when the model cannot be read, the driver is handed none
// (a machine without such disks) and `error` also tells when that failed.
[[nodiscard]] bool LoadModelOrClearDriver(const std::wstring& path, Model& model, std::string& error) noexcept;

// Puts the driver built for the native processor from `folder` into the
// native system32\drivers as obrindisk.sys (unless the same file is there;
// DiskDriverPlace), registers OBRINDISK as a kernel driver that starts with
// the prefix, starts it and waits until it runs. On failure, false with the last
// error set and `failed` saying what could not be done.
[[nodiscard]] bool InstallDiskDriver(const std::wstring& folder, std::string& failed) noexcept;

}  // namespace obrin::disksim
