// The installer's own note of an install or uninstall in progress, kept
// under HKLM\SOFTWARE\Vantrel\VantrelObrin from before the flow's first change
// until it has ended. A run cut off by a power loss or a kill leaves it
// behind; the next run reads it, puts the settings back and removes what
// that run left on the disk, and only what the record proves its own.
#pragma once

#include "installer/autorun_policy.h"
#include "installer/disk_layout.h"
#include "installer/installer_codes.h"

#include <cstdint>
#include <optional>
#include <vector>

struct RunRecord {
    InstallerMode flow = InstallerMode::None;  // Install or Uninstall
    AutoRunValue autoRun;                      // the policy value before the flow
    bool hibernationAllowed = false;           // install: powercfg -h on is owed
    // The flow has ended (done, or rolled back whole): only the settings are
    // left to put back.
    bool finished = false;
    // The system disk the run works on; absent in a record of an earlier
    // version of the installer.
    std::optional<DiskIdentity> disk;
    // Windows as it is to be once its space is given back: install, as it
    // was before the shrink (written before it); uninstall, with the space of
    // the installation it removes (written before the first delete). Only
    // what it lacks of this is given back.
    std::optional<PartitionIdentity> windowsWhole;
    // Install: where the system disk's partitions started before the create
    // script, and the space the shrink freed behind Windows.
    std::vector<uint64_t> partitionsBefore;
    std::optional<FreedSpace> freed;
    // The partitions that are the run's own: what the install's create made
    // (noted right after it) or the installation the uninstall removes.
    // Absent until known; each goes from the list once it is deleted.
    std::optional<std::vector<PartitionIdentity>> partitions;
};

// Registry value names, under the key above.
inline constexpr wchar_t kRecordFlowValue[] = L"InstallerRun";  // REG_SZ "install" / "uninstall"
inline constexpr wchar_t kRecordAutoRunTypeValue[] = L"InstallerAutoRunType";  // REG_DWORD; absent: value absent
inline constexpr wchar_t kRecordAutoRunDataValue[] = L"InstallerAutoRunData";  // REG_BINARY
inline constexpr wchar_t kRecordHibernationValue[] = L"InstallerHibernation";  // REG_DWORD 0 / 1
inline constexpr wchar_t kRecordFinishedValue[] = L"InstallerFinished";        // REG_DWORD 1
inline constexpr wchar_t kRecordDiskValue[] = L"InstallerDisk";  // REG_BINARY: style (4 bytes), GUID or signature (16)
inline constexpr wchar_t kRecordWindowsValue[] = L"InstallerWindows";  // REG_BINARY: one partition identity
inline constexpr wchar_t kRecordPartitionsBeforeValue[] = L"InstallerPartitionsBefore";  // REG_BINARY, 8 bytes each
inline constexpr wchar_t kRecordFreedValue[] = L"InstallerFreedSpace";  // REG_BINARY: offset, length (8 bytes each)
// REG_BINARY: 32 bytes each, the GPT partition id (16), offset and length (8 each).
inline constexpr wchar_t kRecordPartitionsValue[] = L"InstallerPartitions";

// The record of a run that did not end, or nothing. A record whose flow
// value is missing or unknown counts as none.
[[nodiscard]] std::optional<RunRecord> ReadRunRecord() noexcept;
// Writes the whole record; the flow value last, so that a record cut off
// while it is written is none. False when it could not be written.
[[nodiscard]] bool WriteRunRecord(const RunRecord& record) noexcept;
// Writes what `record` holds of the run's disk work (Windows, partitions
// before, freed space, partitions) and its finished mark into the record of
// the running flow; each value is one registry write. False only when there
// is a record and it could not be updated.
[[nodiscard]] bool UpdateRunRecord(const RunRecord& record) noexcept;
// Removes the record; the flow value first.
void RemoveRunRecord() noexcept;
