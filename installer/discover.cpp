#include "installer/discover.h"

#include "installer/disk_queries.h"
#include "installer/runners.h"
#include "installer/scripts.h"

#include "common/ownership.h"

#include <winioctl.h>

#include <cwchar>
#include <string>
#include <vector>

using obrin::ComInit;
using obrin::ComPtr;
using obrin::UniqueVariant;

namespace {

constexpr wchar_t kEfiSystemType[] = L"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}";
constexpr wchar_t kAndroidType[] = L"{fe92a6a7-d642-4561-9f66-56cd28b8a049}";
constexpr DWORD64 kHiddenPlatformRequired = 0x4000000000000001ull;

// Header and room for 129 entries, as the layout is read on Windows.
constexpr DWORD kLayoutBufferSize = 18624;
constexpr DWORD kMaxLayoutEntries =
    (kLayoutBufferSize - offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) / sizeof(PARTITION_INFORMATION_EX);

enum class Read { Value, Null, Failed };

// The property converted to `type`; null and empty read as absent.
Read ReadAs(IWbemClassObject& object, const wchar_t* property, VARTYPE type, UniqueVariant& variant) noexcept
{
    if (FAILED(object.Get(property, 0, variant.put(), nullptr, nullptr)))
        return Read::Failed;
    if (variant->vt == VT_NULL || variant->vt == VT_EMPTY)
        return Read::Null;
    if (FAILED(VariantChangeType(variant.get(), variant.get(), 0, type)))
        return Read::Failed;
    return Read::Value;
}

Read ReadString(IWbemClassObject& object, const wchar_t* property, std::wstring& value) noexcept
{
    UniqueVariant variant;
    const Read read = ReadAs(object, property, VT_BSTR, variant);
    if (read == Read::Value)
        value.assign(variant->bstrVal, SysStringLen(variant->bstrVal));
    return read;
}

Read ReadUInt32(IWbemClassObject& object, const wchar_t* property, uint32_t& value) noexcept
{
    UniqueVariant variant;
    const Read read = ReadAs(object, property, VT_UI4, variant);
    if (read == Read::Value)
        value = variant->ulVal;
    return read;
}

bool IsNull(IWbemClassObject& object, const wchar_t* property) noexcept
{
    UniqueVariant variant;
    return SUCCEEDED(object.Get(property, 0, variant.put(), nullptr, nullptr)) && variant->vt == VT_NULL;
}

void CopyTruncated(wchar_t* target, size_t capacity, const std::wstring& source) noexcept
{
    const size_t length = source.size() < capacity ? source.size() : capacity - 1;
    wmemcpy(target, source.data(), length);
    target[length] = L'\0';
}

// Returns the disk's index and device path when one of its logical disks is
// the system drive. Query failures end the level they belong to.
bool FindSystemDisk(CDiskQueries& queries, CDiskInfo& info, const std::wstring& systemDrive) noexcept
{
    ComPtr<IEnumWbemClassObject> disks;
    if (FAILED(queries.ExecQuery(L"Select * from Win32_DiskDrive", disks)))
        return false;
    for (;;) {
        ComPtr<IWbemClassObject> disk;
        if (NextObject(*disks.get(), disk) != S_OK)
            return false;
        std::wstring diskId;
        const Read diskIdRead = ReadString(*disk.get(), L"DeviceID", diskId);
        if (diskIdRead == Read::Failed)
            return false;
        if (diskIdRead == Read::Null)
            continue;

        ComPtr<IEnumWbemClassObject> partitions;
        if (FAILED(queries.ExecQuery(L"Associators of {Win32_DiskDrive.DeviceID='" + diskId +
                                         L"'} where AssocClass=Win32_DiskDriveToDiskPartition",
                                     partitions)))
            return false;
        for (;;) {
            ComPtr<IWbemClassObject> partition;
            if (NextObject(*partitions.get(), partition) != S_OK)
                break;
            std::wstring partitionId;
            if (ReadString(*partition.get(), L"DeviceID", partitionId) != Read::Value)
                continue;

            ComPtr<IEnumWbemClassObject> logicalDisks;
            if (FAILED(queries.ExecQuery(L"Associators of {Win32_DiskPartition.DeviceID='" + partitionId +
                                             L"'} where AssocClass=Win32_LogicalDiskToPartition",
                                         logicalDisks)))
                break;
            for (;;) {
                ComPtr<IWbemClassObject> logicalDisk;
                if (NextObject(*logicalDisks.get(), logicalDisk) != S_OK)
                    break;
                std::wstring drive;
                if (ReadString(*logicalDisk.get(), L"DeviceID", drive) != Read::Value)
                    continue;
                if (_wcsicmp(drive.c_str(), systemDrive.c_str()) != 0)
                    continue;

                CopyTruncated(info.systemDrive, 4, systemDrive);
                uint32_t index = 0;
                if (ReadUInt32(*disk.get(), L"Index", index) == Read::Value)
                    info.diskIndex = index;
                CopyTruncated(info.diskDevicePath, 64, diskId);
                return true;
            }
        }
    }
}

// Reads the GPT layout: EFI and Android partitions by type; partitions of
// other types that are hidden get bit 63 instead of bit 62 for the volume
// walk, so that their volumes show up without a letter. Returns those.
std::vector<uint32_t> ReadLayoutAndUnhide(CDiskInfo& info) noexcept
{
    std::vector<uint32_t> unhidden;
    std::vector<unsigned char> buffer(kLayoutBufferSize, 0);
    if (!DiskDeviceControl(info.diskDevicePath, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer.data(), kLayoutBufferSize))
        return unhidden;

    GUID efiType = {};
    GUID androidType = {};
    CLSIDFromString(kEfiSystemType, &efiType);
    CLSIDFromString(kAndroidType, &androidType);

    const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
    // A count beyond what the buffer holds is not trusted past its end.
    const DWORD count = layout->PartitionCount < kMaxLayoutEntries ? layout->PartitionCount : kMaxLayoutEntries;
    for (DWORD i = 0; i < count; ++i) {
        const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[i];
        const GUID& type = entry.Gpt.PartitionType;
        if (memcmp(&type, &efiType, sizeof(GUID)) == 0) {
            info.efiPartition = entry.PartitionNumber;
        } else if (memcmp(&type, &androidType, sizeof(GUID)) == 0) {
            info.androidPartition = entry.PartitionNumber;
            info.androidPresent = 1;
        } else if (entry.Gpt.Attributes == kHiddenPlatformRequired) {
            unhidden.push_back(entry.PartitionNumber);
            (void)RunDiskpartScript(scripts::UnhidePartition(info.diskIndex, entry.PartitionNumber).c_str(),
                                    scripts::kTestAndroidFile, nullptr);
        }
    }
    return unhidden;
}

bool ReadPartitionNumber(const wchar_t* path, uint32_t& partition) noexcept
{
    STORAGE_DEVICE_NUMBER number = {};
    if (!DiskDeviceControl(path, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof(number)))
        return false;
    partition = number.PartitionNumber;
    return true;
}

void WalkVolumes(CDiskQueries& queries, CDiskInfo& info) noexcept
{
    ComPtr<IEnumWbemClassObject> volumes;
    if (FAILED(queries.ExecQuery(L"SELECT * FROM Win32_Volume", volumes)))
        return;
    for (;;) {
        ComPtr<IWbemClassObject> volume;
        if (NextObject(*volumes.get(), volume) != S_OK)
            return;

        std::wstring volumePath;
        if (ReadString(*volume.get(), L"DeviceID", volumePath) == Read::Value && volumePath.size() > 63)
            volumePath.resize(63);
        if (!volumePath.empty() && volumePath.back() == L'\\')
            volumePath.pop_back();

        VOLUME_DISK_EXTENTS extents = {};
        const bool onSystemDisk =
            DiskDeviceControl(volumePath.c_str(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, &extents, sizeof(extents)) &&
            extents.Extents[0].DiskNumber == info.diskIndex;
        if (onSystemDisk && IsNull(*volume.get(), L"FreeSpace"))
            continue;

        std::wstring letter;
        if (ReadString(*volume.get(), L"DriveLetter", letter) == Read::Value &&
            _wcsicmp(letter.c_str(), info.systemDrive) == 0) {
            const std::wstring systemDevice = std::wstring(L"\\\\.\\") + info.systemDrive;
            uint32_t partition = 0;
            if (ReadPartitionNumber(systemDevice.c_str(), partition))
                info.windowsPartition = partition;
            continue;
        }

        // A removable disk may carry volumes with these labels too; their
        // partition numbers belong to that disk, not to the one the scripts
        // select, so only the system disk's volumes count.
        std::wstring label;
        if (!onSystemDisk || ReadString(*volume.get(), L"Label", label) != Read::Value)
            continue;
        uint32_t partition = 0;
        if (_wcsicmp(label.c_str(), L"ANDROID") == 0) {
            info.androidPresent = 1;
            if (ReadPartitionNumber(volumePath.c_str(), partition))
                info.androidPartition = partition;
        } else if (_wcsicmp(label.c_str(), L"ASOS") == 0) {
            info.asosPresent = 1;
            if (ReadPartitionNumber(volumePath.c_str(), partition))
                info.asosPartition = partition;
        }
    }
}

}  // namespace

int Discover(CDiskInfo& info) noexcept
{
    wchar_t driveBuffer[3] = {};
    const DWORD length = GetEnvironmentVariableW(L"SystemDrive", driveBuffer, 3);
    std::wstring systemDrive = (length != 0 && length < 3) ? std::wstring(driveBuffer, length) : std::wstring();
    info.androidPresent = 0;
    info.androidFound = 0;
    info.asosPresent = 0;

    ComInit com;
    if (FAILED(com.result()))
        return 0;
    CDiskQueries queries;
    if (FAILED(queries.Connect()))
        return 0;

    // A Windows PE session runs from X:; the installed Windows is then C:.
    if (_wcsicmp(systemDrive.c_str(), L"X:") == 0)
        systemDrive[0] = L'C';
    if (!FindSystemDisk(queries, info, systemDrive))
        return 0;

    const std::vector<uint32_t> unhidden = ReadLayoutAndUnhide(info);
    WalkVolumes(queries, info);
    ApplyAndroidFinalCheck(info);
    for (uint32_t partition : unhidden)
        (void)RunDiskpartScript(scripts::HidePartition(info.diskIndex, partition).c_str(), scripts::kTestAndroidFile,
                                nullptr);
    return 1;
}

bool ReadPartitionPlaces(const CDiskInfo& info, std::vector<PartitionPlace>& places) noexcept
{
    try {
        places.clear();
        std::vector<unsigned char> buffer(kLayoutBufferSize, 0);
        if (!DiskDeviceControl(info.diskDevicePath, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer.data(), kLayoutBufferSize))
            return false;
        const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
        const DWORD count = layout->PartitionCount < kMaxLayoutEntries ? layout->PartitionCount : kMaxLayoutEntries;
        for (DWORD i = 0; i < count; ++i) {
            const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[i];
            // Entries of an MBR layout may be unused slots.
            if (entry.PartitionNumber == 0)
                continue;
            places.push_back({entry.PartitionNumber, static_cast<uint64_t>(entry.StartingOffset.QuadPart),
                              static_cast<uint64_t>(entry.PartitionLength.QuadPart)});
        }
        return true;
    } catch (...) {
        return false;
    }
}

const PartitionPlace* FindPlace(const std::vector<PartitionPlace>& places, uint32_t number) noexcept
{
    for (const PartitionPlace& place : places) {
        if (place.number == number)
            return &place;
    }
    return nullptr;
}

const PartitionPlace* FindPlaceAt(const std::vector<PartitionPlace>& places, uint64_t offset) noexcept
{
    for (const PartitionPlace& place : places) {
        if (place.offset == offset)
            return &place;
    }
    return nullptr;
}

size_t GetFreeDriveLetters(wchar_t* letters, size_t count) noexcept
{
    size_t found = 0;
    for (const wchar_t* candidate = L"MNOPQRSTUVWXYZ"; *candidate != L'\0' && found < count; ++candidate) {
        const wchar_t drive[3] = {*candidate, L':', L'\0'};
        ULARGE_INTEGER freeBytes = {};
        if (GetDriveTypeW(drive) == DRIVE_NO_ROOT_DIR && !GetDiskFreeSpaceExW(drive, &freeBytes, nullptr, nullptr))
            letters[found++] = *candidate;
    }
    return found;
}
