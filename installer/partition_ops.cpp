#include "installer/partition_ops.h"

#include "installer/discover.h"
#include "installer/installer_codes.h"
#include "installer/progress.h"
#include "installer/run_record.h"
#include "installer/runners.h"
#include "installer/scripts.h"

#include "common/log.h"
#include "common/ownership.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

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

// The payload's files that match pattern (never folders).
template <typename Visit>
bool ForEachPayloadFile(const std::wstring& payload, const wchar_t* pattern, Visit visit) noexcept
{
    WIN32_FIND_DATAW found = {};
    obrin::UniqueFindHandle search(FindFirstFileW((payload + pattern).c_str(), &found));
    if (!search)
        return true;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !visit(found))
            return false;
    } while (FindNextFileW(search.get(), &found));
    return true;
}

uint64_t FileSize(DWORD high, DWORD low) noexcept
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Every payload file the batch copies is at its place, whole.
bool CopiesArePresent(const CDiskInfo& info, const std::wstring& payload) noexcept
{
    for (const scripts::PayloadCopy& copy : scripts::kPayloadCopies) {
        const std::wstring root =
            std::wstring(copy.target == scripts::CopyTarget::Efi ? info.efiLetter : info.asosLetter) + L"\\" +
            copy.folder;
        const bool whole = ForEachPayloadFile(payload, copy.pattern, [&](const WIN32_FIND_DATAW& source) noexcept {
            const std::wstring target = root + source.cFileName;
            WIN32_FILE_ATTRIBUTE_DATA copied = {};
            if (GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &copied) &&
                (copied.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                FileSize(copied.nFileSizeHigh, copied.nFileSizeLow) ==
                    FileSize(source.nFileSizeHigh, source.nFileSizeLow))
                return true;
            GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_COPY_FILES_FAIL %s not copied\n",
                           target.c_str());
            return false;
        });
        if (!whole)
            return false;
    }
    return true;
}

// The two new partitions lie one behind the other directly behind Windows,
// and the second is the ASOS volume: a create that took free space anywhere
// else, or whose ASOS could not be formatted, is undone, never kept. (An
// unformatted ANDROID is kept: it is found by its type and holds nothing.)
bool AndroidPartitionsInPlace(const CDiskInfo& info) noexcept
{
    std::vector<PartitionPlace> places;
    if (!ReadPartitionPlaces(info, places) || info.createdCount != 2)
        return false;
    const PartitionPlace* windows = FindPlace(places, info.windowsPartition);
    if (windows == nullptr)
        return false;
    // The first starts where Windows ends, the second where the first ends.
    const PartitionPlace* first = FindPlaceAt(places, windows->End());
    const PartitionPlace* second = first != nullptr ? FindPlaceAt(places, first->End()) : nullptr;
    const uint64_t created[2] = {info.createdOffsets[0], info.createdOffsets[1]};
    if (second == nullptr || std::find(std::begin(created), std::end(created), first->offset) == std::end(created) ||
        std::find(std::begin(created), std::end(created), second->offset) == std::end(created))
        return false;
    return info.asosPresent == 1 && info.asosPartition == second->number;
}

// The numbers of the partitions this run's create made that are still on the
// disk; nullopt when the layout cannot be read.
std::optional<std::vector<uint32_t>> CreatedPartitionsLeft(const CDiskInfo& info)
{
    std::vector<uint32_t> left;
    std::vector<PartitionPlace> places;
    if (info.createdCount == 0)
        return left;
    if (!ReadPartitionPlaces(info, places))
        return std::nullopt;
    for (uint32_t i = 0; i < info.createdCount; ++i) {
        if (const PartitionPlace* created = FindPlaceAt(places, info.createdOffsets[i]))
            left.push_back(created->number);
    }
    return left;
}

// What the delete script must remove: what discovery recognised and what this
// run's create made, each once.
std::vector<uint32_t> PartitionsToDelete(const CDiskInfo& info)
{
    std::vector<uint32_t> partitions;
    if (info.androidFound == 1)
        partitions.push_back(info.androidPartition);
    if (info.asosPresent == 1 && (partitions.empty() || partitions[0] != info.asosPartition))
        partitions.push_back(info.asosPartition);
    for (const uint32_t created : CreatedPartitionsLeft(info).value_or(std::vector<uint32_t>{})) {
        if (std::find(partitions.begin(), partitions.end(), created) == partitions.end())
            partitions.push_back(created);
    }
    return partitions;
}

// After the delete script: nothing of the installation may be left.
bool AndroidPartitionsGone(CDiskInfo& info) noexcept
{
    if (!Discover(info) || info.androidFound == 1 || info.asosPresent == 1)
        return false;
    const std::optional<std::vector<uint32_t>> left = CreatedPartitionsLeft(info);
    if (!left || !left->empty())
        return false;
    info.createdCount = 0;
    return true;
}

// The space behind Windows that the extend could not take becomes a USER
// partition; it is placed there explicitly, so that free space elsewhere on
// the disk is never touched. Without free space there nothing is made.
void CreateUserPartitionBehindWindows(const CDiskInfo& info) noexcept
{
    std::vector<PartitionPlace> places;
    const PartitionPlace* windows = nullptr;
    if (ReadPartitionPlaces(info, places))
        windows = FindPlace(places, info.windowsPartition);
    if (windows == nullptr) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"no USER partition: Windows partition not found\n");
        return;
    }
    DWORD exitCode = kExitCodePreset;
    (void)RunScript(scripts::CreateUserPartition(info.diskIndex, windows->End() / 1024), scripts::kUninstallAndroidFile,
                    &exitCode);
}

}  // namespace

void NoteCreatedPartitions(CDiskInfo& info, const std::vector<uint64_t>& offsetsBefore) noexcept
{
    std::vector<PartitionPlace> after;
    info.createdCount = 0;
    if (offsetsBefore.empty() || !ReadPartitionPlaces(info, after))
        return;
    for (const PartitionPlace& place : after) {
        if (std::find(offsetsBefore.begin(), offsetsBefore.end(), place.offset) == offsetsBefore.end() &&
            info.createdCount < std::size(info.createdOffsets))
            info.createdOffsets[info.createdCount++] = place.offset;
    }
}

bool PayloadIsComplete(const std::wstring& payload) noexcept
{
    const DWORD attributes = GetFileAttributesW(payload.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        GetLog().Print(LOG_ERROR, "DoInstall", __LINE__, L"INSTALLER_RET_COPY_FILES_FAIL no payload folder %s\n",
                       payload.c_str());
        return false;
    }
    for (const scripts::PayloadCopy& copy : scripts::kPayloadCopies) {
        bool found = false;
        (void)ForEachPayloadFile(payload, copy.pattern, [&found](const WIN32_FIND_DATAW&) noexcept {
            found = true;
            return false;
        });
        if (!found) {
            GetLog().Print(LOG_ERROR, "DoInstall", __LINE__, L"INSTALLER_RET_COPY_FILES_FAIL no payload file %s%s\n",
                           payload.c_str(), copy.pattern);
            return false;
        }
    }
    return true;
}

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

    // What the create script makes is told apart from what was there by the
    // layout before and after it, so that a rollback can remove exactly that.
    // A run cut off from here on leaves them to the next run through its record.
    std::vector<PartitionPlace> places;
    std::vector<uint64_t> before;
    if (ReadPartitionPlaces(info, places)) {
        for (const PartitionPlace& place : places)
            before.push_back(place.offset);
    }
    if (before.empty() || !RecordPartitionsBefore(before)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_INIT_PARTITION_FAIL disk layout not noted\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    exitCode = kExitCodePreset;
    const bool created =
        RunScript(scripts::CreateAndroidPartitions(disk, efi, info.efiLetter, info.androidLetter, info.asosLetter),
                  scripts::kInstallAndroidFile, &exitCode);
    NoteCreatedPartitions(info, before);
    if (!created) {
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
    if (!AndroidPartitionsInPlace(info)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_INIT_PARTITION_FAIL ANDROID and ASOS not in place behind Windows\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }

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
    // cmd reports nothing of the copies: they are checked where they landed.
    if (!CopiesArePresent(info, payload))
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
    DWORD exitCode = kExitCodePreset;
    if (!RunScript(scripts::DeleteAndroidPartitions(disk, PartitionsToDelete(info)), scripts::kUninstallAndroidFile,
                   &exitCode))
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    // A partition left behind is still an installation: nothing further is
    // changed, so that the next uninstall finds it and finishes.
    if (exitCode != 0 || !AndroidPartitionsGone(info)) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                       L"INSTALLER_RET_DELETE_PARTITION_FAIL error=%x, partitions left\n", exitCode);
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    }

    exitCode = kExitCodePreset;
    if (!RunScript(scripts::ExtendPartition(disk, windows), scripts::kUninstallAndroidFile, &exitCode))
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL\n");
    if (exitCode != 0) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL [Err=%u].\n",
                       exitCode);
        CreateUserPartitionBehindWindows(info);
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
