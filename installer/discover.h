// Finds the disk that holds Windows and, on it, the Windows, EFI, ANDROID
// and ASOS partitions; picks unused drive letters for the scripts.
#pragma once

#include "installer/disk_info.h"

#include <cstddef>

// 1 when the disk holding the system drive was found, else 0. Clears only
// the presence flags first; every other number keeps what an earlier run
// wrote until this run overwrites it. Changes nothing on the disk.
[[nodiscard]] int Discover(CDiskInfo& info) noexcept;

// The system disk's layout as it is now, in offset order; false when it
// cannot be read.
[[nodiscard]] bool ReadDiskLayout(const CDiskInfo& info, DiskLayout& layout) noexcept;

// Fills letters from its start with up to count unused letters of M..Z;
// returns how many were found. Entries beyond that stay as they were.
size_t GetFreeDriveLetters(wchar_t* letters, size_t count) noexcept;

// Writes count unused letters into the record (EFI, then ANDROID, then ASOS
// letter), counted before anything is changed; logs and returns false when
// there are fewer.
[[nodiscard]] bool TakeFreeDriveLetters(CDiskInfo& info, size_t count, const char* function) noexcept;
