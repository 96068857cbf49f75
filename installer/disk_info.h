// What discovery learns about the system disk; the partition numbers are the
// ones the generated diskpart scripts select, as they were when it ran.
#pragma once

#include "installer/disk_layout.h"

#include <cstdint>

struct CDiskInfo {
    uint32_t diskIndex;
    wchar_t diskDevicePath[64];
    wchar_t systemDrive[4];
    uint32_t windowsPartition;
    uint32_t efiPartition;
    // 1 when the installation is there: ANDROID and ASOS one behind the other
    // directly behind Windows (FindInstallation).
    uint32_t androidPresent;
    // 1 when ANDROID lies directly behind Windows, also without ASOS behind
    // it: a half-made installation that the uninstall removes.
    uint32_t androidFound;
    uint32_t androidPartition;
    // 1 when ASOS lies directly behind that ANDROID.
    uint32_t asosPresent;
    uint32_t asosPartition;
    wchar_t efiLetter[4];
    wchar_t androidLetter[4];
    wchar_t asosLetter[4];
    // The system disk's layout as discovery read it, with what the volume
    // walk saw of each partition.
    DiskLayout layout;
};

// Sets the presence flags and numbers from the layout.
inline void ApplyInstallationPlace(CDiskInfo& info) noexcept
{
    const InstallationPlace place = FindInstallation(info.layout, info.windowsPartition);
    info.androidFound = place.android != nullptr ? 1 : 0;
    info.asosPresent = place.asos != nullptr ? 1 : 0;
    info.androidPresent = info.androidFound & info.asosPresent;
    if (place.android != nullptr)
        info.androidPartition = place.android->number;
    if (place.asos != nullptr)
        info.asosPartition = place.asos->number;
}

// Both partitions found, ASOS directly behind ANDROID directly behind Windows.
inline bool HasAndroidInstallation(const CDiskInfo& info) noexcept
{
    return info.androidPresent == 1 && info.asosPresent == 1;
}

// The installer works only on a GPT system disk with its EFI partition.
inline bool IsUsableSystemDisk(const CDiskInfo& info) noexcept
{
    return info.layout.disk.style == PartitionStyle::Gpt && FindEfiPartition(info.layout) != nullptr &&
           info.layout.FindNumber(info.windowsPartition) != nullptr;
}
