#include "installer/partition_ops.h"

#include "installer/discover.h"
#include "installer/installer_codes.h"
#include "installer/progress.h"
#include "installer/runners.h"
#include "installer/scripts.h"

#include "common/log.h"

#include <windows.h>

namespace {

constexpr DWORD kExitCodePreset = 0xFFFFFFFF;

void WriteLetter(wchar_t (&field)[4], wchar_t letter) noexcept
{
    field[0] = letter;
    field[1] = L':';
    field[2] = L'\0';
}

// A batch starts by switching to its drive; when that drive is missing cmd
// stays where it is, which would be the Windows drive.
bool DriveExists(const wchar_t* drive) noexcept
{
    const UINT type = GetDriveTypeW(drive);
    return type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN;
}

bool RunScript(const std::wstring& text, const wchar_t* fileName, DWORD* exitCode = nullptr) noexcept
{
    return RunDiskpartScript(text.c_str(), fileName, exitCode);
}

// Started and ended with exit code 0.
bool RunSetScript(const std::wstring& text) noexcept
{
    DWORD exitCode = kExitCodePreset;
    if (!RunScript(text, scripts::kInstallAndroidFile, &exitCode))
        return false;
    if (exitCode != 0) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_SET_PARTITION_FAIL error=%x\n",
                       exitCode);
        return false;
    }
    return true;
}

}  // namespace

int DoCreatePartition(CDiskInfo& info, const std::wstring& payload) noexcept
{
    const uint32_t disk = info.diskIndex;
    const uint32_t windows = info.windowsPartition;
    const uint32_t efi = info.efiPartition;

    // Every letter is needed before the disk is touched: an empty letter
    // would leave a partition without one and the copies without a target.
    wchar_t letters[3] = {};
    const size_t found = GetFreeDriveLetters(letters, 3);
    if (found < 3) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_INIT_PARTITION_FAIL free drive letters=%u\n", static_cast<unsigned>(found));
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    WriteLetter(info.efiLetter, letters[0]);
    WriteLetter(info.androidLetter, letters[1]);
    WriteLetter(info.asosLetter, letters[2]);
    SetProgress(10);

    DWORD exitCode = kExitCodePreset;
    if (!RunScript(scripts::ExtendPartition(disk, windows), scripts::kExtendPartitionFile, &exitCode)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL diskpart error\n");
        return INSTALLER_RET_EXTEND_PARTITION_FAIL;
    }
    if (exitCode != 0)
        GetLog().Print(LOG_INFO, "DoCreatePartition", __LINE__, L"extend partition info=%x\n", exitCode);

    exitCode = kExitCodePreset;
    if (!RunScript(scripts::ShrinkWindows(disk, windows), scripts::kShrinkPartitionFile, &exitCode)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_SHRINK_PARTITION_FAIL diskpart error\n");
        return INSTALLER_RET_SHRINK_PARTITION_FAIL;
    }
    if (exitCode != 0) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_SHRINK_PARTITION_FAIL error=%x\n",
                       exitCode);
        return INSTALLER_RET_SHRINK_PARTITION_FAIL;
    }

    exitCode = kExitCodePreset;
    if (!RunScript(scripts::CreateAndroidPartitions(disk, efi, info.efiLetter, info.androidLetter, info.asosLetter),
                   scripts::kInstallAndroidFile, &exitCode)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_INIT_PARTITION_FAIL diskpart error\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    if (exitCode != 0) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_INIT_PARTITION_FAIL error=%x\n",
                       exitCode);
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }

    SetProgress(30);
    (void)Discover(info);
    SetProgress(35);

    if (DriveExists(info.efiLetter)) {
        (void)RunBatchFile(scripts::kRemoveDirBatch, scripts::RemoveEfiAndroidFolder(info.efiLetter).c_str());
        (void)RunBatchFile(scripts::kRemoveDirBatch, scripts::RemoveLoaderFolder(info.efiLetter).c_str());
    }
    SetProgress(45);

    if (!DriveExists(info.efiLetter) || !DriveExists(info.asosLetter)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_COPY_FILES_FAIL drive missing (EFI %s, ASOS %s)\n", info.efiLetter,
                       info.asosLetter);
        return INSTALLER_RET_COPY_FILES_FAIL;
    }
    if (!RunBatchFile(scripts::kInstallAndroidBatch,
                      scripts::CopyBootFiles(info.efiLetter, info.asosLetter, payload).c_str()))
        return INSTALLER_RET_COPY_FILES_FAIL;
    SetProgress(85);

    // These steps are checked by their exit code as well: a partition left
    // visible or untyped is a failed install and is rolled back.
    if (!RunSetScript(scripts::RemoveLetter(disk, efi, info.efiLetter)))
        return INSTALLER_RET_SET_PARTITION_FAIL;
    SetProgress(88);

    if (!RunSetScript(scripts::HideAsos(disk, info.asosLetter)))
        return INSTALLER_RET_SET_PARTITION_FAIL;
    SetProgress(90);

    if (!RunSetScript(scripts::HideAndroidWithType(disk, info.androidLetter)))
        return INSTALLER_RET_SET_PARTITION_FAIL;
    SetProgress(100);
    return INSTALLER_RET_SUCCESS;
}

int DoDeletePartition(CDiskInfo& info) noexcept
{
    const uint32_t disk = info.diskIndex;
    const uint32_t windows = info.windowsPartition;
    const uint32_t efi = info.efiPartition;

    // Without a letter for the EFI partition its boot folders could not be
    // removed; nothing is deleted then.
    wchar_t letters[1] = {};
    if (GetFreeDriveLetters(letters, 1) < 1) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                       L"INSTALLER_RET_DELETE_PARTITION_FAIL no free drive letter\n");
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    }
    WriteLetter(info.efiLetter, letters[0]);
    SetProgress(10);

    // An ANDROID partition without ASOS behind it is deleted too: it is what a
    // failed install leaves, and the rollback must not keep it.
    if (!RunScript(scripts::DeleteAndroidPartitions(disk, info.androidFound == 1, info.androidPartition,
                                                    info.asosPresent == 1, info.asosPartition),
                   scripts::kUninstallAndroidFile))
        return INSTALLER_RET_DELETE_PARTITION_FAIL;

    DWORD exitCode = kExitCodePreset;
    if (!RunScript(scripts::ExtendPartition(disk, windows), scripts::kUninstallAndroidFile, &exitCode))
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL\n");
    if (exitCode != 0) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL [Err=%u].\n",
                       exitCode);
        DWORD userExitCode = kExitCodePreset;
        (void)RunScript(scripts::CreateUserPartition(disk), scripts::kUninstallAndroidFile, &userExitCode);
    }

    if (!RunScript(scripts::AssignLetter(disk, efi, info.efiLetter), scripts::kUninstallAndroidFile))
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    SetProgress(70);

    if (!DriveExists(info.efiLetter)) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                       L"INSTALLER_RET_REMOVE_FILES_FAIL drive missing (EFI %s)\n", info.efiLetter);
        return INSTALLER_RET_REMOVE_FILES_FAIL;
    }
    if (!RunBatchFile(scripts::kUninstallAndroidBatch, scripts::RemoveBootFolders(info.efiLetter).c_str()))
        return INSTALLER_RET_REMOVE_FILES_FAIL;
    SetProgress(90);

    // The system disk, as every other script of this flow: naming disk 0
    // would strip a letter from another disk's partition.
    if (!RunScript(scripts::RemoveLetter(disk, efi, info.efiLetter), scripts::kUninstallAndroidFile))
        return INSTALLER_RET_SET_PARTITION_FAIL;
    SetProgress(100);
    return INSTALLER_RET_SUCCESS;
}
