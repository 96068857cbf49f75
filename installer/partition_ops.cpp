#include "installer/partition_ops.h"

#include "installer/discover.h"
#include "installer/installer_codes.h"
#include "installer/progress.h"
#include "installer/runners.h"
#include "installer/scripts.h"

#include "common/case_fold.h"
#include "common/log.h"
#include "common/ownership.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <optional>

namespace {

constexpr DWORD kExitCodePreset = 0xFFFFFFFF;

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
bool RunSetScript(const std::wstring& text, const wchar_t* fileName = scripts::kInstallAndroidFile,
                  const char* flow = "DoCreatePartition") noexcept
{
    DWORD exitCode = kExitCodePreset;
    if (!RunScript(text, fileName, &exitCode))
        return false;
    if (exitCode != 0) {
        GetLog().Print(LOG_ERROR, flow, __LINE__, L"INSTALLER_RET_SET_PARTITION_FAIL error=%x\n", exitCode);
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

// The files under the boot folders of the EFI partition on drive efiLetter,
// relative to its root; false when a folder cannot be listed.
bool ListBootFolderFiles(const std::wstring& efiLetter, std::vector<std::wstring>& files) noexcept
{
    try {
        std::vector<std::wstring> pending(std::begin(scripts::kBootFolders), std::end(scripts::kBootFolders));
        while (!pending.empty()) {
            const std::wstring folder = pending.back();
            pending.pop_back();
            WIN32_FIND_DATAW found = {};
            obrin::UniqueFindHandle search(FindFirstFileW((efiLetter + L"\\" + folder + L"\\*").c_str(), &found));
            if (!search) {
                const DWORD error = GetLastError();
                if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                    continue;
                return false;
            }
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                    pending.push_back(folder + L"\\" + name);
                else
                    files.push_back(folder + L"\\" + name);
            } while (FindNextFileW(search.get(), &found));
        }
        return true;
    } catch (...) {
        return false;
    }
}

// Removes the copy table's files from the boot folders of the EFI partition
// on drive efiLetter, and the folders they leave empty; every other file
// stays. False when the batch did not start.
bool RemoveOurBootFiles(const std::wstring& efiLetter, const wchar_t* batchFile) noexcept
{
    try {
        std::vector<std::wstring> files;
        (void)ListBootFolderFiles(efiLetter, files);
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [](const std::wstring& file) { return !scripts::IsCopiedBootFile(file); }),
                    files.end());
        return RunBatchFile(batchFile, scripts::RemoveBootFiles(efiLetter, files).c_str());
    } catch (...) {
        return false;
    }
}

// The id discovery saw on the partition with this number; null when none.
const Guid* IdOf(const CDiskInfo& info, uint32_t number) noexcept
{
    const LayoutEntry* entry = info.layout.FindNumber(number);
    return entry != nullptr ? &entry->id : nullptr;
}

// The number the partition of this id has now: numbers may change with every
// create and delete, so each script that names a partition asks first.
std::optional<uint32_t> CurrentNumber(const CDiskInfo& info, const Guid* id) noexcept
{
    DiskLayout layout;
    if (id == nullptr || !ReadDiskLayout(info, layout))
        return std::nullopt;
    const LayoutEntry* entry = layout.FindId(*id);
    if (entry == nullptr)
        return std::nullopt;
    return entry->number;
}

// The two new partitions lie one behind the other directly behind Windows,
// of 10240 and 2048 MB, and the second is the ASOS volume: a create that
// took free space anywhere else or more than the shrink freed (free space
// behind Windows that the first extend did not take), or whose ASOS could
// not be formatted, is undone, never kept. (An unformatted ANDROID is kept:
// it gets its type and holds nothing.)
bool AndroidPartitionsInPlace(const CDiskInfo& info, const std::vector<PartitionIdentity>& created) noexcept
{
    const LayoutEntry* windows = info.layout.FindNumber(info.windowsPartition);
    if (created.size() != 2 || windows == nullptr)
        return false;
    const LayoutEntry* first = DirectlyBehind(info.layout, *windows);
    const LayoutEntry* second = first != nullptr ? DirectlyBehind(info.layout, *first) : nullptr;
    return second != nullptr && first->Identity() == created[0] && second->Identity() == created[1] &&
           HasAlignedSize(first->length, kAndroidBytes) && HasAlignedSize(second->length, kAsosBytes) &&
           second->volumeSeen && !second->raw && obrin::EqualsNoCase(second->label, L"ASOS");
}

// The whole MB Windows is owed now: what it lacks of the record's note.
// A record of the previous installer version may have no note; that version
// gave Windows the free space behind it, here as far as whole MB reach.
uint64_t SpaceOwedToWindows(const DiskLayout& layout, const LayoutEntry& windows, const RunRecord& record) noexcept
{
    if (record.windowsWhole)
        return MegabytesOwed(windows, *record.windowsWhole);
    if (!record.disk)
        return FreeBytesBehind(layout, windows) / kMiB;
    return 0;
}

// Gives Windows back exactly the space it is owed; when the extend fails,
// that space becomes a USER partition instead, placed there explicitly so
// that free space elsewhere on the disk is never touched.
void GiveSpaceBackToWindows(const CDiskInfo& info, const Guid* windowsId, const RunRecord& record) noexcept
{
    DiskLayout layout;
    const LayoutEntry* windows = nullptr;
    if (windowsId != nullptr && ReadDiskLayout(info, layout))
        windows = layout.FindId(*windowsId);
    const uint64_t owedMb = windows != nullptr ? SpaceOwedToWindows(layout, *windows, record) : 0;
    if (windows != nullptr && owedMb == 0)
        return;
    DWORD exitCode = kExitCodePreset;
    if (windows == nullptr || !RunScript(scripts::ExtendPartitionBy(info.diskIndex, windows->number, owedMb),
                                         scripts::kUninstallAndroidFile, &exitCode))
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL\n");
    if (exitCode == 0)
        return;
    GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL [Err=%u].\n",
                   exitCode);
    if (windows == nullptr)
        return;
    const UserPartitionPlace user = PlaceUserPartition(layout, *windows, owedMb);
    exitCode = kExitCodePreset;
    (void)RunScript(scripts::CreateUserPartition(info.diskIndex, user.offsetKb, user.sizeMb),
                    scripts::kUninstallAndroidFile, &exitCode);
}

// One partition, after checking that its number still names it. 0 when it
// is gone (also when it was gone already), else 10.
int DeleteOwnPartition(const CDiskInfo& info, const PartitionIdentity& identity) noexcept
{
    try {
        DiskLayout layout;
        if (!ReadDiskLayout(info, layout)) {
            GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                           L"INSTALLER_RET_DELETE_PARTITION_FAIL the disk layout cannot be read\n");
            return INSTALLER_RET_DELETE_PARTITION_FAIL;
        }
        const IdentityFinding finding = FindRecordedPartitions(layout, {identity});
        if (!finding.mismatch.empty()) {
            GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__, L"INSTALLER_RET_DELETE_PARTITION_FAIL %s\n",
                           finding.mismatch.c_str());
            return INSTALLER_RET_DELETE_PARTITION_FAIL;
        }
        if (finding.present.empty())
            return INSTALLER_RET_SUCCESS;
        DWORD exitCode = kExitCodePreset;
        if (!RunScript(scripts::DeletePartition(info.diskIndex, layout.FindId(identity.id)->number),
                       scripts::kUninstallAndroidFile, &exitCode))
            return INSTALLER_RET_DELETE_PARTITION_FAIL;
        // A partition left behind is still the run's: nothing further is
        // changed, so that the next run finds it and finishes.
        if (exitCode != 0 || !ReadDiskLayout(info, layout) || layout.FindId(identity.id) != nullptr) {
            GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                           L"INSTALLER_RET_DELETE_PARTITION_FAIL error=%x, partitions left\n", exitCode);
            return INSTALLER_RET_DELETE_PARTITION_FAIL;
        }
        return INSTALLER_RET_SUCCESS;
    } catch (...) {
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    }
}

}  // namespace

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

int CheckBootFoldersHoldOnlyOurFiles(const CDiskInfo& info) noexcept
{
    try {
        const uint32_t efi = info.efiPartition;
        DWORD exitCode = kExitCodePreset;
        std::vector<std::wstring> files;
        const bool looked = RunScript(scripts::AssignLetter(info.diskIndex, efi, info.efiLetter),
                                      scripts::kInstallAndroidFile, &exitCode) &&
                            exitCode == 0 && DriveExists(info.efiLetter) &&
                            ListBootFolderFiles(info.efiLetter, files);
        (void)RunScript(scripts::RemoveLetter(info.diskIndex, efi, info.efiLetter), scripts::kInstallAndroidFile);
        if (!looked) {
            GetLog().Print(LOG_ERROR, "DoInstall", __LINE__,
                           L"INSTALLER_RET_COPY_FILES_FAIL the EFI partition's boot folders could not be looked at "
                           L"(error=%x); nothing was changed\n",
                           exitCode);
            return INSTALLER_RET_COPY_FILES_FAIL;
        }
        for (const std::wstring& file : files) {
            if (scripts::IsCopiedBootFile(file))
                continue;
            const wchar_t* folder = L"";
            for (const wchar_t* bootFolder : scripts::kBootFolders) {
                if (file.compare(0, wcslen(bootFolder), bootFolder) == 0)
                    folder = bootFolder;
            }
            GetLog().Print(LOG_ERROR, "DoInstall", __LINE__,
                           L"INSTALLER_RET_COPY_FILES_FAIL \\%s on the EFI partition holds a file the install does "
                           L"not put there (\\%s), such as another boot manager's; nothing was changed\n",
                           folder, file.c_str());
            return INSTALLER_RET_COPY_FILES_FAIL;
        }
        return INSTALLER_RET_SUCCESS;
    } catch (...) {
        return INSTALLER_RET_COPY_FILES_FAIL;
    }
}

int DoCreatePartition(CDiskInfo& info, const std::wstring& payload, RunRecord& record) noexcept
{
    const uint32_t disk = info.diskIndex;
    const uint32_t windows = info.windowsPartition;
    const uint32_t efi = info.efiPartition;
    SetProgress(10);

    DWORD exitCode = kExitCodePreset;
    if (!RunScript(scripts::ExtendPartition(disk, windows), scripts::kExtendPartitionFile, &exitCode)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__, L"INSTALLER_RET_EXTEND_PARTITION_FAIL diskpart error\n");
        return INSTALLER_RET_EXTEND_PARTITION_FAIL;
    }
    if (exitCode != 0)
        GetLog().Print(LOG_INFO, "DoCreatePartition", __LINE__, L"extend partition info=%x\n", exitCode);

    // From the shrink on, a run cut off owes Windows its space: the record
    // says how large it was.
    DiskLayout layout;
    const LayoutEntry* windowsEntry = nullptr;
    if (ReadDiskLayout(info, layout))
        windowsEntry = layout.FindNumber(windows);
    if (windowsEntry != nullptr)
        record.windowsWhole = windowsEntry->Identity();
    if (windowsEntry == nullptr || !UpdateRunRecord(record)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_SHRINK_PARTITION_FAIL Windows partition not noted\n");
        return INSTALLER_RET_SHRINK_PARTITION_FAIL;
    }
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
    // layout before and after it. Until its identities are noted, a run cut
    // off is recovered by where the script puts its partitions.
    DiskLayout before;
    windowsEntry = ReadDiskLayout(info, before) ? before.FindNumber(windows) : nullptr;
    if (windowsEntry != nullptr) {
        record.partitionsBefore.clear();
        for (const LayoutEntry& entry : before.entries)
            record.partitionsBefore.push_back(entry.offset);
        record.freed = FreedSpaceBehind(before, *windowsEntry, record.partitionsBefore);
    }
    if (windowsEntry == nullptr || !UpdateRunRecord(record)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_INIT_PARTITION_FAIL disk layout not noted\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }
    exitCode = kExitCodePreset;
    const bool created =
        RunScript(scripts::CreateAndroidPartitions(disk, efi, info.efiLetter, info.androidLetter, info.asosLetter),
                  scripts::kInstallAndroidFile, &exitCode);
    if (ReadDiskLayout(info, layout)) {
        std::vector<PartitionIdentity> made;
        for (const LayoutEntry& entry : layout.entries) {
            if (before.FindId(entry.id) == nullptr)
                made.push_back(entry.Identity());
        }
        record.partitions = made;
        if (!UpdateRunRecord(record))
            GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                           L"the installer's record could not be updated [Err=%u]\n", GetLastError());
    }
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
    if (!record.partitions || !AndroidPartitionsInPlace(info, *record.partitions)) {
        GetLog().Print(LOG_ERROR, "DoCreatePartition", __LINE__,
                       L"INSTALLER_RET_INIT_PARTITION_FAIL ANDROID (10240 MB) and ASOS (2048 MB) not in place "
                       L"directly behind Windows\n");
        return INSTALLER_RET_INIT_PARTITION_FAIL;
    }

    // Boot files of an earlier install go; other files were refused before.
    if (DriveExists(info.efiLetter))
        (void)RemoveOurBootFiles(info.efiLetter, scripts::kRemoveDirBatch);
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
    const std::optional<uint32_t> efiNow = CurrentNumber(info, IdOf(info, info.efiPartition));
    if (!efiNow || !RunSetScript(scripts::RemoveLetter(disk, *efiNow, info.efiLetter)))
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

void NoteSpaceOwedToWindows(const CDiskInfo& info, RunRecord& record) noexcept
{
    const LayoutEntry* windows = info.layout.FindNumber(info.windowsPartition);
    if (record.flow != InstallerMode::Uninstall || record.windowsWhole || windows == nullptr || !record.partitions ||
        record.partitions->empty())
        return;
    record.windowsWhole = WindowsWithSpaceOf(*windows, *record.partitions);
}

bool ProveOwnPartitions(const CDiskInfo& info, const RunRecord& record, std::vector<PartitionIdentity>& own,
                        std::wstring& mismatch) noexcept
{
    try {
        own.clear();
        if (record.disk && *record.disk != info.layout.disk) {
            mismatch = L"the system disk (id " + GuidText(info.layout.disk.id) + L") is not the disk it worked on (id " +
                       GuidText(record.disk->id) + L")";
            return false;
        }
        IdentityFinding finding;
        if (record.partitions) {
            finding = FindRecordedPartitions(info.layout, *record.partitions);
        } else if (record.flow == InstallerMode::Install && !record.partitionsBefore.empty()) {
            const LayoutEntry* windows = info.layout.FindNumber(info.windowsPartition);
            if (windows == nullptr) {
                mismatch = L"the Windows partition is not on the system disk";
                return false;
            }
            finding = FindPartitionsMadeByCreate(
                info.layout, record.partitionsBefore,
                record.freed.value_or(FreedSpaceBehind(info.layout, *windows, record.partitionsBefore)));
        } else if (record.flow == InstallerMode::Uninstall) {
            const InstallationPlace place = FindInstallation(info.layout, info.windowsPartition);
            for (const LayoutEntry* entry : {place.android, place.asos}) {
                if (entry != nullptr)
                    finding.present.push_back(entry->Identity());
            }
        }
        mismatch = finding.mismatch;
        own = finding.present;
        return mismatch.empty();
    } catch (...) {
        own.clear();
        return false;
    }
}

int DoDeletePartition(CDiskInfo& info, RunRecord& record) noexcept
{
    const uint32_t disk = info.diskIndex;
    const Guid* windowsId = IdOf(info, info.windowsPartition);
    const Guid* efiId = IdOf(info, info.efiPartition);
    SetProgress(10);

    try {
        const std::vector<PartitionIdentity> own = record.partitions.value_or(std::vector<PartitionIdentity>{});
        for (const PartitionIdentity& identity : own) {
            if (const int deleted = DeleteOwnPartition(info, identity); deleted != INSTALLER_RET_SUCCESS)
                return deleted;
            record.partitions->erase(std::find(record.partitions->begin(), record.partitions->end(), identity));
            if (!UpdateRunRecord(record))
                GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                               L"the installer's record could not be updated [Err=%u]\n", GetLastError());
        }
    } catch (...) {
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    }

    GiveSpaceBackToWindows(info, windowsId, record);

    std::optional<uint32_t> efi = CurrentNumber(info, efiId);
    if (!efi || !RunScript(scripts::AssignLetter(disk, *efi, info.efiLetter), scripts::kUninstallAndroidFile))
        return INSTALLER_RET_DELETE_PARTITION_FAIL;
    SetProgress(70);

    if (!DriveExists(info.efiLetter)) {
        GetLog().Print(LOG_ERROR, "DoDeletePartition", __LINE__,
                       L"INSTALLER_RET_REMOVE_FILES_FAIL drive missing (EFI %s)\n", info.efiLetter);
        return INSTALLER_RET_REMOVE_FILES_FAIL;
    }
    if (!RemoveOurBootFiles(info.efiLetter, scripts::kUninstallAndroidBatch))
        return INSTALLER_RET_REMOVE_FILES_FAIL;
    SetProgress(90);

    // The system disk, as every other script of this flow: naming disk 0
    // would strip a letter from another disk's partition. A letter left on
    // the EFI partition is a failure too: the next uninstall removes it.
    efi = CurrentNumber(info, efiId);
    if (!efi || !RunSetScript(scripts::RemoveLetter(disk, *efi, info.efiLetter), scripts::kUninstallAndroidFile,
                              "DoDeletePartition"))
        return INSTALLER_RET_SET_PARTITION_FAIL;
    SetProgress(100);
    return INSTALLER_RET_SUCCESS;
}
