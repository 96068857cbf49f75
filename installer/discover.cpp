#include "installer/discover.h"

#include "installer/disk_queries.h"

#include "common/case_fold.h"
#include "common/log.h"
#include "common/ownership.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using obrin::ComInit;
using obrin::ComPtr;
using obrin::UniqueVariant;

namespace {

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
                if (!obrin::EqualsNoCase(drive, systemDrive))
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

bool ReadPartitionNumber(const wchar_t* path, uint32_t& partition) noexcept
{
    STORAGE_DEVICE_NUMBER number = {};
    if (!DiskDeviceControl(path, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof(number)))
        return false;
    partition = number.PartitionNumber;
    return true;
}

// Notes what the volume walk sees of each partition of the system disk
// (RAW, or its label) and which one carries the system drive.
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

        // Volumes of other disks (a removable disk's "ASOS" too) have
        // partition numbers of their own disk: only the system disk's count.
        VOLUME_DISK_EXTENTS extents = {};
        uint32_t partition = 0;
        LayoutEntry* entry = nullptr;
        if (DiskDeviceControl(volumePath.c_str(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, &extents, sizeof(extents)) &&
            extents.Extents[0].DiskNumber == info.diskIndex && ReadPartitionNumber(volumePath.c_str(), partition))
            entry = info.layout.FindNumber(partition);
        if (entry != nullptr) {
            entry->volumeSeen = true;
            entry->raw = IsNull(*volume.get(), L"FreeSpace");
            if (entry->raw)
                continue;
        }

        std::wstring letter;
        if (ReadString(*volume.get(), L"DriveLetter", letter) == Read::Value &&
            obrin::EqualsNoCase(letter, info.systemDrive)) {
            const std::wstring systemDevice = std::wstring(L"\\\\.\\") + info.systemDrive;
            if (ReadPartitionNumber(systemDevice.c_str(), partition))
                info.windowsPartition = partition;
            continue;
        }
        std::wstring label;
        if (entry != nullptr && ReadString(*volume.get(), L"Label", label) == Read::Value)
            entry->label = label;
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
    if (obrin::EqualsNoCase(systemDrive, L"X:"))
        systemDrive[0] = L'C';
    if (!FindSystemDisk(queries, info, systemDrive))
        return 0;

    // The installation is told by the place, type and attributes of its
    // partitions, so no partition needs unhiding to be recognised.
    if (!ReadDiskLayout(info, info.layout))
        info.layout = {};
    WalkVolumes(queries, info);
    if (const LayoutEntry* efi = FindEfiPartition(info.layout))
        info.efiPartition = efi->number;
    ApplyInstallationPlace(info);
    return 1;
}

bool ReadDiskLayout(const CDiskInfo& info, DiskLayout& layout) noexcept
{
    try {
        layout = {};
        std::vector<unsigned char> buffer(kLayoutBufferSize, 0);
        if (!DiskDeviceControl(info.diskDevicePath, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer.data(), kLayoutBufferSize))
            return false;
        const auto* read = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
        layout.disk.style = static_cast<PartitionStyle>(read->PartitionStyle);
        if (layout.disk.style == PartitionStyle::Gpt) {
            memcpy(layout.disk.id.data(), &read->Gpt.DiskId, sizeof(GUID));
            layout.usableEnd = static_cast<uint64_t>(read->Gpt.StartingUsableOffset.QuadPart) +
                               static_cast<uint64_t>(read->Gpt.UsableLength.QuadPart);
        } else if (layout.disk.style == PartitionStyle::Mbr) {
            memcpy(layout.disk.id.data(), &read->Mbr.Signature, sizeof(read->Mbr.Signature));
        }
        // A count beyond what the buffer holds is not trusted past its end.
        const DWORD count = read->PartitionCount < kMaxLayoutEntries ? read->PartitionCount : kMaxLayoutEntries;
        for (DWORD i = 0; i < count; ++i) {
            const PARTITION_INFORMATION_EX& source = read->PartitionEntry[i];
            // Entries of an MBR layout may be unused slots.
            if (source.PartitionNumber == 0)
                continue;
            LayoutEntry entry;
            entry.number = source.PartitionNumber;
            entry.offset = static_cast<uint64_t>(source.StartingOffset.QuadPart);
            entry.length = static_cast<uint64_t>(source.PartitionLength.QuadPart);
            if (source.PartitionStyle == PARTITION_STYLE_GPT) {
                memcpy(entry.type.data(), &source.Gpt.PartitionType, sizeof(GUID));
                memcpy(entry.id.data(), &source.Gpt.PartitionId, sizeof(GUID));
                entry.attributes = source.Gpt.Attributes;
            }
            layout.entries.push_back(entry);
        }
        std::sort(layout.entries.begin(), layout.entries.end(),
                  [](const LayoutEntry& a, const LayoutEntry& b) { return a.offset < b.offset; });
        return true;
    } catch (...) {
        return false;
    }
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

bool TakeFreeDriveLetters(CDiskInfo& info, size_t count, const char* function) noexcept
{
    wchar_t letters[3] = {};
    const size_t wanted = count < 3 ? count : 3;
    const size_t found = GetFreeDriveLetters(letters, wanted);
    if (found < wanted) {
        GetLog().Print(LOG_ERROR, function, __LINE__, L"free drive letters=%u, needed=%u\n",
                       static_cast<unsigned>(found), static_cast<unsigned>(wanted));
        return false;
    }
    wchar_t(*fields[3])[4] = {&info.efiLetter, &info.androidLetter, &info.asosLetter};
    for (size_t i = 0; i < wanted; ++i) {
        (*fields[i])[0] = letters[i];
        (*fields[i])[1] = L':';
        (*fields[i])[2] = L'\0';
    }
    return true;
}
