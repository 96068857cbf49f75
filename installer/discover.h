// Finds the disk that holds Windows and, on it, the Windows, EFI, ANDROID
// and ASOS partitions; picks unused drive letters for the scripts.
#pragma once

#include "installer/disk_info.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// 1 when the disk holding the system drive was found, else 0. Clears only
// the two presence flags first; every other field keeps what an earlier run
// wrote until this run overwrites it.
[[nodiscard]] int Discover(CDiskInfo& info) noexcept;

// Fills letters from its start with up to count unused letters of M..Z;
// returns how many were found. Entries beyond that stay as they were.
size_t GetFreeDriveLetters(wchar_t* letters, size_t count) noexcept;

// A partition of the system disk as its layout gives it, in bytes.
struct PartitionPlace {
    uint32_t number;
    uint64_t offset;
    uint64_t length;
    [[nodiscard]] uint64_t End() const noexcept { return offset + length; }
};

// The system disk's partitions in layout order; false when the layout cannot
// be read.
[[nodiscard]] bool ReadPartitionPlaces(const CDiskInfo& info, std::vector<PartitionPlace>& places) noexcept;

// The partition with this number, or the one starting at this offset; null
// when there is none.
[[nodiscard]] const PartitionPlace* FindPlace(const std::vector<PartitionPlace>& places, uint32_t number) noexcept;
[[nodiscard]] const PartitionPlace* FindPlaceAt(const std::vector<PartitionPlace>& places, uint64_t offset) noexcept;
