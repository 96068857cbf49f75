// The installer's own note of an install or uninstall in progress, kept
// under HKLM\SOFTWARE\Vantrel\VantrelObrin from before the flow's first change
// until it has ended. A run cut off by a power loss or a kill leaves it
// behind; the next run reads it, puts the settings back and finishes the
// removal of what that run left on the disk.
#pragma once

#include "installer/installer_codes.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

// "NoDriveTypeAutoRun" as found: absent, or its registry type and bytes, so
// that whatever was there is put back as it was.
struct AutoRunValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const AutoRunValue&) const = default;
};

struct RunRecord {
    InstallerMode flow = InstallerMode::None;  // Install or Uninstall
    AutoRunValue autoRun;                      // the policy value before the flow
    bool hibernationAllowed = false;           // install: powercfg -h on is owed
    // Install: where the system disk's partitions started before the create
    // script; every partition starting elsewhere was made by that run.
    std::vector<uint64_t> partitionsBefore;
};

// Registry value names, under the key above.
inline constexpr wchar_t kRecordFlowValue[] = L"InstallerRun";  // REG_SZ "install" / "uninstall"
inline constexpr wchar_t kRecordAutoRunTypeValue[] = L"InstallerAutoRunType";  // REG_DWORD; absent: value absent
inline constexpr wchar_t kRecordAutoRunDataValue[] = L"InstallerAutoRunData";  // REG_BINARY
inline constexpr wchar_t kRecordHibernationValue[] = L"InstallerHibernation";  // REG_DWORD 0 / 1
inline constexpr wchar_t kRecordPartitionsValue[] = L"InstallerPartitionsBefore";  // REG_BINARY, 8 bytes each

// The record of a run that did not end, or nothing. A record whose flow
// value is missing or unknown counts as none.
[[nodiscard]] std::optional<RunRecord> ReadRunRecord() noexcept;
// Writes the whole record; the flow value last, so that a record cut off
// while it is written is none. False when it could not be written.
[[nodiscard]] bool WriteRunRecord(const RunRecord& record) noexcept;
// Adds the partitions before the create script to the record of a running
// install; false only when there is a record and it could not be updated.
[[nodiscard]] bool RecordPartitionsBefore(const std::vector<uint64_t>& offsets) noexcept;
// Removes the record; the flow value first.
void RemoveRunRecord() noexcept;
