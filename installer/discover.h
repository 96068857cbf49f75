// Finds the disk that holds Windows and, on it, the Windows, EFI, ANDROID
// and ASOS partitions; picks unused drive letters for the scripts.
#pragma once

#include "installer/disk_info.h"

#include <cstddef>

// 1 when the disk holding the system drive was found, else 0. Clears only
// the two presence flags first; every other field keeps what an earlier run
// wrote until this run overwrites it.
[[nodiscard]] int Discover(CDiskInfo& info) noexcept;

// Fills letters from its start with up to count unused letters of M..Z;
// returns how many were found. Entries beyond that stay as they were.
size_t GetFreeDriveLetters(wchar_t* letters, size_t count) noexcept;
