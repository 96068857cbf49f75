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
    for (const wchar_t* name :
         {kRecordFlowValue, kRecordAutoRunTypeValue, kRecordAutoRunDataValue, kRecordHibernationValue,
          kRecordFinishedValue, kRecordDiskValue, kRecordWindowsValue, kRecordPartitionsBeforeValue,
          kRecordFreedValue, kRecordPartitionsValue})
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

// Fixed-size records in a REG_BINARY value, one after the other.
class ByteWriter {
public:
    template <typename T>
    void Put(const T& value)
    {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
        m_bytes.insert(m_bytes.end(), bytes, bytes + sizeof(value));
    }
    void Put(const PartitionIdentity& identity)
    {
        m_bytes.insert(m_bytes.end(), identity.id.begin(), identity.id.end());
        Put(identity.offset);
        Put(identity.length);
    }
    [[nodiscard]] bool WriteTo(HKEY key, const wchar_t* name) const
    {
        return Write(key, name, REG_BINARY, m_bytes.data(), m_bytes.size());
    }

private:
    std::vector<BYTE> m_bytes;
};

class ByteReader {
public:
    explicit ByteReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}
    [[nodiscard]] size_t Left() const { return m_bytes.size() - m_at; }
    template <typename T>
    T Take()
    {
        T value{};
        memcpy(&value, m_bytes.data() + m_at, sizeof(value));
        m_at += sizeof(value);
        return value;
    }

private:
    const std::vector<BYTE>& m_bytes;
    size_t m_at = 0;
};

constexpr size_t kIdentityBytes = 16 + 8 + 8;
constexpr size_t kDiskBytes = 4 + 16;

PartitionIdentity TakeIdentity(ByteReader& reader)
{
    PartitionIdentity identity;
    identity.id = reader.Take<Guid>();
    identity.offset = reader.Take<uint64_t>();
    identity.length = reader.Take<uint64_t>();
    return identity;
}

// A value of the wrong size is not this installer's: the record holds no
// such note then.
void ReadDiskWork(HKEY key, RunRecord& record)
{
    std::vector<BYTE> bytes;
    if (ReadBytes(key, kRecordDiskValue, REG_BINARY, bytes) && bytes.size() == kDiskBytes) {
        ByteReader reader(bytes);
        DiskIdentity disk;
        disk.style = static_cast<PartitionStyle>(reader.Take<uint32_t>());
        disk.id = reader.Take<Guid>();
        record.disk = disk;
    }
    if (ReadBytes(key, kRecordWindowsValue, REG_BINARY, bytes) && bytes.size() == kIdentityBytes) {
        ByteReader reader(bytes);
        record.windowsWhole = TakeIdentity(reader);
    }
    if (ReadBytes(key, kRecordPartitionsBeforeValue, REG_BINARY, bytes)) {
        ByteReader reader(bytes);
        while (reader.Left() >= sizeof(uint64_t))
            record.partitionsBefore.push_back(reader.Take<uint64_t>());
    }
    if (ReadBytes(key, kRecordFreedValue, REG_BINARY, bytes) && bytes.size() == 2 * sizeof(uint64_t)) {
        ByteReader reader(bytes);
        FreedSpace freed;
        freed.offset = reader.Take<uint64_t>();
        freed.length = reader.Take<uint64_t>();
        record.freed = freed;
    }
    if (ReadBytes(key, kRecordPartitionsValue, REG_BINARY, bytes) && bytes.size() % kIdentityBytes == 0) {
        ByteReader reader(bytes);
        std::vector<PartitionIdentity> partitions;
        while (reader.Left() >= kIdentityBytes)
            partitions.push_back(TakeIdentity(reader));
        record.partitions = partitions;
    }
    record.finished = ReadDword(key, kRecordFinishedValue).value_or(0) != 0;
}

bool WriteDiskWork(HKEY key, const RunRecord& record)
{
    bool written = true;
    if (record.disk) {
        ByteWriter writer;
        writer.Put(static_cast<uint32_t>(record.disk->style));
        writer.Put(record.disk->id);
        written = written && writer.WriteTo(key, kRecordDiskValue);
    }
    if (record.windowsWhole) {
        ByteWriter writer;
        writer.Put(*record.windowsWhole);
        written = written && writer.WriteTo(key, kRecordWindowsValue);
    }
    if (!record.partitionsBefore.empty()) {
        ByteWriter writer;
        for (const uint64_t offset : record.partitionsBefore)
            writer.Put(offset);
        written = written && writer.WriteTo(key, kRecordPartitionsBeforeValue);
    }
    if (record.freed) {
        ByteWriter writer;
        writer.Put(record.freed->offset);
        writer.Put(record.freed->length);
        written = written && writer.WriteTo(key, kRecordFreedValue);
    }
    if (record.partitions) {
        ByteWriter writer;
        for (const PartitionIdentity& identity : *record.partitions)
            writer.Put(identity);
        written = written && writer.WriteTo(key, kRecordPartitionsValue);
    }
    if (record.finished)
        written = written && WriteDword(key, kRecordFinishedValue, 1);
    return written;
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
        ReadDiskWork(key.get(), record);
        return record;
    } catch (...) {
        return std::nullopt;
    }
}

bool WriteRunRecord(const RunRecord& record) noexcept
{
    try {
        UniqueRegKey key;
        if ((record.flow != InstallerMode::Install && record.flow != InstallerMode::Uninstall) ||
            !OpenRecordKey(key, true))
            return false;
        // Values of an earlier record that this one lacks must not be taken for its own.
        ClearRecord(key.get());
        bool written = WriteDword(key.get(), kRecordHibernationValue, record.hibernationAllowed ? 1 : 0);
        if (record.autoRun.present) {
            written = written && WriteDword(key.get(), kRecordAutoRunTypeValue, record.autoRun.type) &&
                      Write(key.get(), kRecordAutoRunDataValue, REG_BINARY, record.autoRun.data.data(),
                            record.autoRun.data.size());
        }
        written = written && WriteDiskWork(key.get(), record);
        const wchar_t* flow = record.flow == InstallerMode::Install ? kInstallFlow : kUninstallFlow;
        return written && Write(key.get(), kRecordFlowValue, REG_SZ, flow, (wcslen(flow) + 1) * sizeof(wchar_t));
    } catch (...) {
        return false;
    }
}

bool UpdateRunRecord(const RunRecord& record) noexcept
{
    try {
        UniqueRegKey key;
        if (!OpenRecordKey(key, false) ||
            RegQueryValueExW(key.get(), kRecordFlowValue, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return true;
        return WriteDiskWork(key.get(), record);
    } catch (...) {
        return false;
    }
}

void RemoveRunRecord() noexcept
{
    UniqueRegKey key;
    if (OpenRecordKey(key, false))
        ClearRecord(key.get());
}
