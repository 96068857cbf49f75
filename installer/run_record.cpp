#include "installer/run_record.h"

#include "common/ownership.h"
#include "common/registry_names.h"

#include <cstring>
#include <string>

using obrin::UniqueRegKey;

namespace {

constexpr wchar_t kInstallFlow[] = L"install";
constexpr wchar_t kUninstallFlow[] = L"uninstall";
// Far more than a disk's 128 partitions: anything larger is not ours.
constexpr DWORD kMaxRecordBytes = 4096;

bool ReadBytes(HKEY key, const wchar_t* name, DWORD expectedType, std::vector<BYTE>& bytes)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != expectedType ||
        size > kMaxRecordBytes)
        return false;
    bytes.resize(size);
    if (RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS || type != expectedType)
        return false;
    bytes.resize(size);
    return true;
}

std::optional<DWORD> ReadDword(HKEY key, const wchar_t* name)
{
    std::vector<BYTE> bytes;
    if (!ReadBytes(key, name, REG_DWORD, bytes) || bytes.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD value = 0;
    memcpy(&value, bytes.data(), sizeof(value));
    return value;
}

bool Write(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t size)
{
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
           ERROR_SUCCESS;
}

bool WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    return Write(key, name, REG_DWORD, &value, sizeof(value));
}

// The flow value first: without it the rest is no record.
void ClearRecord(HKEY key)
{
    for (const wchar_t* name : {kRecordFlowValue, kRecordAutoRunTypeValue, kRecordAutoRunDataValue,
                                kRecordHibernationValue, kRecordPartitionsValue})
        RegDeleteValueW(key, name);
}

bool OpenRecordKey(UniqueRegKey& key, bool create)
{
    if (create)
        return RegCreateKeyExW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                               nullptr, key.put(), nullptr) == ERROR_SUCCESS;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) ==
           ERROR_SUCCESS;
}

}  // namespace

std::optional<RunRecord> ReadRunRecord() noexcept
{
    try {
        UniqueRegKey key;
        if (!OpenRecordKey(key, false))
            return std::nullopt;
        std::vector<BYTE> flowBytes;
        if (!ReadBytes(key.get(), kRecordFlowValue, REG_SZ, flowBytes))
            return std::nullopt;
        const std::wstring flow(reinterpret_cast<const wchar_t*>(flowBytes.data()),
                                wcsnlen(reinterpret_cast<const wchar_t*>(flowBytes.data()),
                                        flowBytes.size() / sizeof(wchar_t)));
        RunRecord record;
        if (flow == kInstallFlow)
            record.flow = InstallerMode::Install;
        else if (flow == kUninstallFlow)
            record.flow = InstallerMode::Uninstall;
        else
            return std::nullopt;

        if (const std::optional<DWORD> type = ReadDword(key.get(), kRecordAutoRunTypeValue)) {
            record.autoRun.present = true;
            record.autoRun.type = *type;
            (void)ReadBytes(key.get(), kRecordAutoRunDataValue, REG_BINARY, record.autoRun.data);
        }
        record.hibernationAllowed = ReadDword(key.get(), kRecordHibernationValue).value_or(0) != 0;
        std::vector<BYTE> offsets;
        if (ReadBytes(key.get(), kRecordPartitionsValue, REG_BINARY, offsets)) {
            for (size_t at = 0; at + sizeof(uint64_t) <= offsets.size(); at += sizeof(uint64_t)) {
                uint64_t offset = 0;
                memcpy(&offset, offsets.data() + at, sizeof(offset));
                record.partitionsBefore.push_back(offset);
            }
        }
        return record;
    } catch (...) {
        return std::nullopt;
    }
}

bool WriteRunRecord(const RunRecord& record) noexcept
{
    UniqueRegKey key;
    if ((record.flow != InstallerMode::Install && record.flow != InstallerMode::Uninstall) || !OpenRecordKey(key, true))
        return false;
    // Values of an earlier record that this one lacks must not be taken for its own.
    ClearRecord(key.get());
    bool written = WriteDword(key.get(), kRecordHibernationValue, record.hibernationAllowed ? 1 : 0);
    if (record.autoRun.present) {
        written = written && WriteDword(key.get(), kRecordAutoRunTypeValue, record.autoRun.type) &&
                  Write(key.get(), kRecordAutoRunDataValue, REG_BINARY, record.autoRun.data.data(),
                        record.autoRun.data.size());
    }
    if (!record.partitionsBefore.empty()) {
        written = written && Write(key.get(), kRecordPartitionsValue, REG_BINARY, record.partitionsBefore.data(),
                                   record.partitionsBefore.size() * sizeof(uint64_t));
    }
    const wchar_t* flow = record.flow == InstallerMode::Install ? kInstallFlow : kUninstallFlow;
    return written && Write(key.get(), kRecordFlowValue, REG_SZ, flow, (wcslen(flow) + 1) * sizeof(wchar_t));
}

bool RecordPartitionsBefore(const std::vector<uint64_t>& offsets) noexcept
{
    UniqueRegKey key;
    if (!OpenRecordKey(key, false) ||
        RegQueryValueExW(key.get(), kRecordFlowValue, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return true;
    return Write(key.get(), kRecordPartitionsValue, REG_BINARY, offsets.data(), offsets.size() * sizeof(uint64_t));
}

void RemoveRunRecord() noexcept
{
    UniqueRegKey key;
    if (OpenRecordKey(key, false))
        ClearRecord(key.get());
}
