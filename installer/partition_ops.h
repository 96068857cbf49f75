// The partition and boot-file changes of install and uninstall, each made by
// a generated diskpart script or batch file.
#pragma once

#include "installer/disk_info.h"

#include <cstdint>
#include <string>
#include <vector>

// The payload folder holds a file for every copy the batch makes; logs the
// first one missing.
[[nodiscard]] bool PayloadIsComplete(const std::wstring& payload) noexcept;

// Returns 0, 9, 11, 12, 13 or 14 (InstallerResult). payload ends with a backslash.
[[nodiscard]] int DoCreatePartition(CDiskInfo& info, const std::wstring& payload) noexcept;

// Notes in info where the partitions start that did not start at one of
// offsetsBefore (those the create script made since); nothing when
// offsetsBefore is empty (the create never began).
void NoteCreatedPartitions(CDiskInfo& info, const std::vector<uint64_t>& offsetsBefore) noexcept;

// Returns 0, 10, 11 or 15 (InstallerResult).
[[nodiscard]] int DoDeletePartition(CDiskInfo& info) noexcept;
