// The stand-in side of the disk seam, for tests under Wine: the WMI objects
// and I/O control answers Windows would give for the disks of the stand-in
// model, read afresh for every call since the stand-in diskpart changes it
// between the calls of one discovery.
#include "installer/disk_queries.h"

#include "sim/disk/disk_files.h"
#include "sim/disk/disk_model.h"

#include <wbemidl.h>
#include <winioctl.h>

#include <cstring>
#include <cwchar>
#include <string_view>
#include <vector>

namespace disksim = obrin::disksim;

namespace {

constexpr uint64_t kBytesPerMb = 1024ull * 1024ull;

using disksim::Narrow;
using disksim::Widen;

struct SimProperty {
    enum class Kind { Null, String, Integer };
    std::wstring name;
    Kind kind = Kind::Null;
    std::wstring text;
    int32_t number = 0;
};

class CSimDiskObject final : public IDiskQueryObject {
public:
    void String(const wchar_t* name, std::wstring value)
    {
        m_properties.push_back({name, SimProperty::Kind::String, std::move(value), 0});
    }
    // WMI hands uint32 properties out as VT_I4.
    void Integer(const wchar_t* name, uint32_t value)
    {
        m_properties.push_back({name, SimProperty::Kind::Integer, {}, static_cast<int32_t>(value)});
    }
    void Null(const wchar_t* name) { m_properties.push_back({name, SimProperty::Kind::Null, {}, 0}); }

    HRESULT Get(const wchar_t* property, VARIANT* value) noexcept override
    {
        for (const SimProperty& p : m_properties) {
            if (_wcsicmp(p.name.c_str(), property) != 0)
                continue;
            VariantInit(value);
            switch (p.kind) {
            case SimProperty::Kind::Null:
                value->vt = VT_NULL;
                return S_OK;
            case SimProperty::Kind::Integer:
                value->vt = VT_I4;
                value->lVal = p.number;
                return S_OK;
            case SimProperty::Kind::String:
                value->bstrVal = SysAllocStringLen(p.text.data(), static_cast<UINT>(p.text.size()));
                if (value->bstrVal == nullptr)
                    return E_OUTOFMEMORY;
                value->vt = VT_BSTR;
                return S_OK;
            }
        }
        return WBEM_E_NOT_FOUND;
    }

private:
    std::vector<SimProperty> m_properties;
};

class CSimDiskResult final : public IDiskQueryResult {
public:
    explicit CSimDiskResult(std::vector<std::unique_ptr<CSimDiskObject>> objects) noexcept
        : m_objects(std::move(objects))
    {
    }
    HRESULT Next(std::unique_ptr<IDiskQueryObject>& object) noexcept override
    {
        if (m_next >= m_objects.size())
            return WBEM_S_FALSE;
        object = std::move(m_objects[m_next++]);
        return S_OK;
    }

private:
    std::vector<std::unique_ptr<CSimDiskObject>> m_objects;
    size_t m_next = 0;
};

std::wstring PartitionDeviceId(const disksim::Disk& disk, const disksim::Partition& partition)
{
    return L"Disk #" + std::to_wstring(disk.index) + L", Partition #" + std::to_wstring(partition.number - 1);
}

std::wstring LetterDrive(char letter)
{
    return {static_cast<wchar_t>(letter), L':'};
}

// The text between prefix and suffix when query has that shape.
bool MatchQuery(const std::wstring& query, std::wstring_view prefix, std::wstring_view suffix, std::wstring& key)
{
    if (query.size() < prefix.size() + suffix.size())
        return false;
    if (_wcsnicmp(query.c_str(), prefix.data(), prefix.size()) != 0 ||
        _wcsicmp(query.c_str() + query.size() - suffix.size(), suffix.data()) != 0)
        return false;
    key = query.substr(prefix.size(), query.size() - prefix.size() - suffix.size());
    return true;
}

struct VolumeRef {
    const disksim::Disk* disk = nullptr;
    const disksim::Partition* partition = nullptr;
};

// A volume GUID path (with or without "\\?\" or "\\.\" and trailing
// backslash) or a drive device "\\.\X:".
VolumeRef FindVolume(const disksim::Model& model, const std::wstring& path)
{
    VolumeRef ref;
    const std::string narrow = Narrow(path);
    if (narrow.size() == 6 && narrow.compare(0, 4, "\\\\.\\") == 0 && narrow[5] == ':') {
        for (const disksim::Disk& disk : model.disks) {
            for (const disksim::Partition& partition : disk.partitions) {
                if (partition.letter != 0 && disksim::EqualsNoCase(std::string_view(&partition.letter, 1), std::string_view(narrow).substr(4, 1)))
                    return {&disk, &partition};
            }
        }
        return ref;
    }
    const std::optional<uint32_t> volumeId = disksim::VolumeIdFromPath(narrow);
    if (!volumeId)
        return ref;
    for (const disksim::Disk& disk : model.disks) {
        for (const disksim::Partition& partition : disk.partitions) {
            if (partition.volumeId == *volumeId && disksim::HasVolume(partition))
                return {&disk, &partition};
        }
    }
    return ref;
}

BOOL Fail(DWORD error) noexcept
{
    SetLastError(error);
    return FALSE;
}

BOOL FillLayout(const disksim::Disk& disk, void* output, DWORD outputSize) noexcept
{
    const size_t needed = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                          disk.partitions.size() * sizeof(PARTITION_INFORMATION_EX);
    if (outputSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* layout = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(output);
    memset(output, 0, needed);
    layout->PartitionStyle = PARTITION_STYLE_GPT;
    layout->PartitionCount = static_cast<DWORD>(disk.partitions.size());
    for (size_t i = 0; i < disk.partitions.size(); ++i) {
        const disksim::Partition& source = disk.partitions[i];
        PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[i];
        entry.PartitionStyle = PARTITION_STYLE_GPT;
        entry.StartingOffset.QuadPart = static_cast<LONGLONG>(source.offsetMb * kBytesPerMb);
        entry.PartitionLength.QuadPart = static_cast<LONGLONG>(source.sizeMb * kBytesPerMb);
        entry.PartitionNumber = source.number;
        const std::wstring type = L"{" + Widen(source.type) + L"}";
        if (FAILED(CLSIDFromString(type.c_str(), &entry.Gpt.PartitionType)))
            return Fail(ERROR_INVALID_DATA);
        entry.Gpt.Attributes = source.attributes;
        const std::wstring name = Widen(source.label);
        wcsncpy(entry.Gpt.Name, name.c_str(), 35);
    }
    return TRUE;
}

class CSimDiskQueries final : public IDiskQueries {
public:
    HRESULT Connect() noexcept override
    {
        disksim::Model model;
        return Load(model) ? S_OK : static_cast<HRESULT>(WBEM_E_FAILED);
    }

    HRESULT ExecQuery(const std::wstring& query, std::unique_ptr<IDiskQueryResult>& result) noexcept override
    {
        disksim::Model model;
        if (!Load(model))
            return WBEM_E_FAILED;
        std::vector<std::unique_ptr<CSimDiskObject>> objects;
        std::wstring key;
        if (_wcsicmp(query.c_str(), L"Select * from Win32_DiskDrive") == 0) {
            for (const disksim::Disk& disk : model.disks) {
                auto object = std::make_unique<CSimDiskObject>();
                object->String(L"DeviceID", Widen(disk.devicePath));
                object->Integer(L"Index", disk.index);
                objects.push_back(std::move(object));
            }
        } else if (MatchQuery(query, L"Associators of {Win32_DiskDrive.DeviceID='",
                              L"'} where AssocClass=Win32_DiskDriveToDiskPartition", key)) {
            for (const disksim::Disk& disk : model.disks) {
                if (!disksim::EqualsNoCase(disk.devicePath, Narrow(key)))
                    continue;
                for (const disksim::Partition& partition : disk.partitions) {
                    auto object = std::make_unique<CSimDiskObject>();
                    object->String(L"DeviceID", PartitionDeviceId(disk, partition));
                    objects.push_back(std::move(object));
                }
            }
        } else if (MatchQuery(query, L"Associators of {Win32_DiskPartition.DeviceID='",
                              L"'} where AssocClass=Win32_LogicalDiskToPartition", key)) {
            for (const disksim::Disk& disk : model.disks) {
                for (const disksim::Partition& partition : disk.partitions) {
                    if (PartitionDeviceId(disk, partition) != key || partition.letter == 0 ||
                        !disksim::HasVolume(partition))
                        continue;
                    auto object = std::make_unique<CSimDiskObject>();
                    object->String(L"DeviceID", LetterDrive(partition.letter));
                    objects.push_back(std::move(object));
                }
            }
        } else if (_wcsicmp(query.c_str(), L"SELECT * FROM Win32_Volume") == 0) {
            for (const disksim::Disk& disk : model.disks) {
                for (const disksim::Partition& partition : disk.partitions) {
                    if (!disksim::HasVolume(partition))
                        continue;
                    auto object = std::make_unique<CSimDiskObject>();
                    object->String(L"DeviceID", Widen(disksim::VolumeGuidPath(partition.volumeId)));
                    if (partition.letter != 0)
                        object->String(L"DriveLetter", LetterDrive(partition.letter));
                    else
                        object->Null(L"DriveLetter");
                    if (!partition.label.empty())
                        object->String(L"Label", Widen(partition.label));
                    else
                        object->Null(L"Label");
                    // A volume without a file system reports no free space.
                    if (partition.fileSystem.empty()) {
                        object->Null(L"FreeSpace");
                    } else {
                        const uint64_t freeMb = partition.sizeMb > partition.usedMb ? partition.sizeMb - partition.usedMb : 0;
                        object->String(L"FreeSpace", std::to_wstring(freeMb * kBytesPerMb));
                    }
                    objects.push_back(std::move(object));
                }
            }
        } else {
            return WBEM_E_INVALID_QUERY;
        }
        result = std::make_unique<CSimDiskResult>(std::move(objects));
        return S_OK;
    }

    BOOL DeviceControl(const wchar_t* path, DWORD ioControlCode, void* output, DWORD outputSize) noexcept override
    {
        disksim::Model model;
        if (!Load(model))
            return Fail(ERROR_NOT_READY);
        const std::wstring device = path;

        if (ioControlCode == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
            for (const disksim::Disk& disk : model.disks) {
                if (disksim::EqualsNoCase(disk.devicePath, Narrow(device)))
                    return FillLayout(disk, output, outputSize);
            }
            return Fail(LayoutOpenError(model, device));
        }

        const VolumeRef volume = FindVolume(model, device);
        if (volume.partition == nullptr)
            return Fail(ERROR_FILE_NOT_FOUND);
        if (ioControlCode == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) {
            if (outputSize < sizeof(VOLUME_DISK_EXTENTS))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            auto* extents = static_cast<VOLUME_DISK_EXTENTS*>(output);
            extents->NumberOfDiskExtents = 1;
            extents->Extents[0].DiskNumber = volume.disk->index;
            extents->Extents[0].StartingOffset.QuadPart = static_cast<LONGLONG>(volume.partition->offsetMb * kBytesPerMb);
            extents->Extents[0].ExtentLength.QuadPart = static_cast<LONGLONG>(volume.partition->sizeMb * kBytesPerMb);
            return TRUE;
        }
        if (ioControlCode == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
            if (outputSize < sizeof(STORAGE_DEVICE_NUMBER))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            auto* number = static_cast<STORAGE_DEVICE_NUMBER*>(output);
            number->DeviceType = FILE_DEVICE_DISK;
            number->DeviceNumber = volume.disk->index;
            number->PartitionNumber = volume.partition->number;
            return TRUE;
        }
        return Fail(ERROR_INVALID_FUNCTION);
    }

private:
    // A volume opened for the disk layout is not a disk.
    static DWORD LayoutOpenError(const disksim::Model& model, const std::wstring& device)
    {
        return FindVolume(model, device).partition != nullptr ? ERROR_INVALID_FUNCTION : ERROR_FILE_NOT_FOUND;
    }

    static bool Load(disksim::Model& model) noexcept
    {
        std::string error;
        return disksim::LoadModelFile(disksim::ModelFilePath(), model, error);
    }
};

}  // namespace

std::unique_ptr<IDiskQueries> CreateDiskQueries() noexcept
{
    return std::make_unique<CSimDiskQueries>();
}
