// What discovery learns about the system disk; the partition numbers are the
// ones the generated diskpart scripts select.
#pragma once

#include <cstdint>

struct CDiskInfo {
    uint32_t diskIndex;
    wchar_t diskDevicePath[64];
    wchar_t systemDrive[4];
    uint32_t windowsPartition;
    uint32_t efiPartition;
    uint32_t androidPresent;
    // 1 when an ANDROID partition was seen at all, also without ASOS directly
    // behind it: a half-made installation that uninstall and rollback remove.
    uint32_t androidFound;
    uint32_t androidPartition;
    uint32_t asosPresent;
    uint32_t asosPartition;
    wchar_t efiLetter[4];
    wchar_t androidLetter[4];
    wchar_t asosLetter[4];
    // Where the partitions that the install's create script made start, in
    // bytes: a rollback removes them even when discovery cannot tell what
    // they are (a format that failed leaves no label). Discovery keeps them.
    uint64_t createdOffsets[2];
    uint32_t createdCount;
};

// An Android installation counts only when ASOS lies directly behind ANDROID.
inline void ApplyAndroidFinalCheck(CDiskInfo& info) noexcept
{
    info.androidFound = info.androidPresent;
    if (info.androidPresent == 1 && info.androidPartition + 1 != info.asosPartition)
        info.androidPresent = 0;
}

// Both partitions found, ASOS directly behind ANDROID (after the final check).
inline bool HasAndroidInstallation(const CDiskInfo& info) noexcept
{
    return info.androidPresent == 1 && info.asosPresent == 1;
}
