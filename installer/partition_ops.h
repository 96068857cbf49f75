// The partition and boot-file changes of install and uninstall, each made by
// a generated diskpart script or batch file, on partitions the run can prove
// its own only.
#pragma once

#include "installer/disk_info.h"
#include "installer/run_record.h"

#include <string>
#include <vector>

// The payload folder holds a file for every copy the batch makes; logs the
// first one missing.
[[nodiscard]] bool PayloadIsComplete(const std::wstring& payload) noexcept;

// Install, before anything is changed: 14 (logged) when \efi\Android or
// \loader on the EFI partition holds a file that the copy table does not
// name, such as another boot manager's entries, or when they cannot be
// looked at; else 0. The EFI letter of info is on the partition only while
// it looks.
[[nodiscard]] int CheckBootFoldersHoldOnlyOurFiles(const CDiskInfo& info) noexcept;

// Returns 0, 9, 11, 12, 13 or 14 (InstallerResult); the letters of info are
// taken already. Notes in record, and in its registry copy before each
// change that needs it, Windows before the shrink, the layout and freed space
// before the create script and, right after it, what the script made.
[[nodiscard]] int DoCreatePartition(CDiskInfo& info, const std::wstring& payload, RunRecord& record) noexcept;

// Which partitions on the system disk are the record's own, before anything
// is changed: those of its identities (each exactly in place, or gone with
// its place free), for an install cut off inside its create script those
// the create script made by their place, size and label, for an uninstall
// the installation. False, with what was found instead, when the disk or a
// partition does not match the record.
[[nodiscard]] bool ProveOwnPartitions(const CDiskInfo& info, const RunRecord& record,
                                      std::vector<PartitionIdentity>& own, std::wstring& mismatch) noexcept;

// Uninstall, before the first delete: notes in record how large Windows is
// to be once the installation's partitions (record.partitions, proven) are
// deleted and their space is given back, unless noted already.
void NoteSpaceOwedToWindows(const CDiskInfo& info, RunRecord& record) noexcept;

// Deletes record.partitions one diskpart run each, checking right before
// each that the number selected still names that partition and taking it
// from the record once it is gone; gives Windows back exactly the whole MB
// it lacks of record.windowsWhole; removes the copy table's boot files. The EFI letter of info is taken already.
// Returns 0, 10, 11 or 15 (InstallerResult).
[[nodiscard]] int DoDeletePartition(CDiskInfo& info, RunRecord& record) noexcept;
