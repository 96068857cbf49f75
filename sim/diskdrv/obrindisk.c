/* obrindisk.sys: the kernel-mode disk stand-in. Wine runs it in a
 * winedevice.exe of its own. It takes over the names a program opens the
 * model's disks and volumes by (\\.\PHYSICALDRIVEn, \\.\C:, \\?\Volume{...})
 * and answers the disk I/O controls of disk discovery from the device image
 * (obrindisk_image.h); what else arrives on a name it took over goes to the
 * device the name led to before, so the prefix's drives keep working.
 *
 * Plain C without a language runtime: nothing would initialise one in a
 * driver. Wine hands this driver its requests on one thread, one after the
 * other, so the image and the slots below are never used concurrently. */
#include <ntifs.h>
#include <ntdddisk.h>
#include <ntddstor.h>
#include <ntddvol.h>

#include "obrindisk_image.h"

#define OBD_POOL_TAG 0x6B44624F /* "ObDk" */
#define OBD_MAX_IMAGE_BYTES (64 * 1024)
/* Every disk and volume of a full image, and some left over for devices that
 * left the model while a program still holds them open. */
#define OBD_SLOTS (OBRINDISK_MAX_DISKS + OBRINDISK_MAX_PARTITIONS + 32)
#define OBD_TARGET_CHARS 128
#define OBD_DEVICE_PREFIX L"\\Device\\ObrinDisk"

/* A name this driver takes over, and what it led to before. */
typedef struct OBD_LINK {
    WCHAR Name[OBRINDISK_LINK_CHARS];
    WCHAR Previous[OBD_TARGET_CHARS]; /* empty: nothing to give back to */
    BOOLEAN Held;
} OBD_LINK;

/* One device object: a disk (Volume NULL) or a volume of Disk. Devices are
 * kept until unload and reused, so a handle a program still holds never
 * points at a deleted device. */
typedef struct OBD_SLOT {
    PDEVICE_OBJECT Device;
    WCHAR DeviceName[32];
    ULONG OpenCount;
    const OBRINDISK_IMAGE_DISK *Disk; /* NULL: stands for nothing now */
    const OBRINDISK_IMAGE_PARTITION *Volume;
    const OBRINDISK_IMAGE_DISK *NextDisk; /* while a new image is applied */
    const OBRINDISK_IMAGE_PARTITION *NextVolume;
    OBD_LINK Links[2]; /* disk: its name; volume: GUID name, letter */
} OBD_SLOT;

static OBD_SLOT g_slots[OBD_SLOTS];
static void *g_image; /* the image served, NULL: no disk */
static PDEVICE_OBJECT g_control;

static const uint16_t g_noName[1];

static size_t WideLength(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

static BOOLEAN SameName(const WCHAR *a, const uint16_t *b)
{
    size_t i;
    for (i = 0; a[i] == b[i]; ++i) {
        if (a[i] == 0)
            return TRUE;
    }
    return FALSE;
}

static BOOLEAN HasPrefix(const WCHAR *text, const WCHAR *prefix)
{
    size_t i;
    for (i = 0; prefix[i] != 0; ++i) {
        if (text[i] != prefix[i])
            return FALSE;
    }
    return TRUE;
}

static void CopyWide(WCHAR *target, size_t capacity, const uint16_t *source)
{
    size_t i;
    for (i = 0; i + 1 < capacity && source[i] != 0; ++i)
        target[i] = source[i];
    target[i] = 0;
}

static OBD_SLOT *SlotOf(PDEVICE_OBJECT device)
{
    return *(OBD_SLOT **)device->DeviceExtension;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* --- Names --- */

static NTSTATUS QueryLink(const WCHAR *name, WCHAR *target, USHORT capacity)
{
    UNICODE_STRING nameString, targetString;
    OBJECT_ATTRIBUTES attributes;
    HANDLE link;
    NTSTATUS status;

    RtlInitUnicodeString(&nameString, name);
    InitializeObjectAttributes(&attributes, &nameString, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwOpenSymbolicLinkObject(&link, GENERIC_READ, &attributes);
    if (!NT_SUCCESS(status))
        return status;
    targetString.Buffer = target;
    targetString.Length = 0;
    targetString.MaximumLength = (USHORT)((capacity - 1) * sizeof(WCHAR));
    status = ZwQuerySymbolicLinkObject(link, &targetString, NULL);
    ZwClose(link);
    if (NT_SUCCESS(status))
        target[targetString.Length / sizeof(WCHAR)] = 0;
    return status;
}

static NTSTATUS CreateLink(const WCHAR *name, const WCHAR *target)
{
    UNICODE_STRING nameString, targetString;
    NTSTATUS status;

    RtlInitUnicodeString(&nameString, name);
    RtlInitUnicodeString(&targetString, target);
    status = IoCreateSymbolicLink(&nameString, &targetString);
    /* Wine opens an existing link instead of failing: that is no new link. */
    return status == STATUS_SUCCESS ? status : (NT_SUCCESS(status) ? STATUS_OBJECT_NAME_COLLISION : status);
}

static NTSTATUS DeleteLink(const WCHAR *name)
{
    UNICODE_STRING nameString;
    RtlInitUnicodeString(&nameString, name);
    return IoDeleteSymbolicLink(&nameString);
}

/* Points `link` at the slot's device, remembering what it pointed at. */
static NTSTATUS HoldLink(OBD_SLOT *slot, OBD_LINK *link)
{
    WCHAR target[OBD_TARGET_CHARS];
    NTSTATUS status = QueryLink(link->Name, target, OBD_TARGET_CHARS);

    if (NT_SUCCESS(status)) {
        if (WideLength(target) == WideLength(slot->DeviceName) && HasPrefix(target, slot->DeviceName)) {
            link->Held = TRUE;
            return STATUS_SUCCESS;
        }
        /* A link to a device of this driver is a leftover of an earlier
         * run, never something to give the name back to. */
        link->Previous[0] = 0;
        if (!HasPrefix(target, OBD_DEVICE_PREFIX)) {
            size_t i;
            for (i = 0; target[i] != 0; ++i)
                link->Previous[i] = target[i];
            link->Previous[i] = 0;
        }
        status = DeleteLink(link->Name);
        if (!NT_SUCCESS(status)) {
            link->Held = FALSE;
            link->Previous[0] = 0;
            return status;
        }
    } else {
        /* Gone (the mount manager deletes a letter's name with the letter):
         * whatever it led to went with it. */
        link->Previous[0] = 0;
    }
    status = CreateLink(link->Name, slot->DeviceName);
    if (!NT_SUCCESS(status)) {
        if (link->Previous[0] != 0)
            CreateLink(link->Name, link->Previous);
        link->Held = FALSE;
        link->Previous[0] = 0;
        return status;
    }
    link->Held = TRUE;
    return STATUS_SUCCESS;
}

/* Gives a name back to what it led to before, if it still leads here. */
static void ReleaseLink(OBD_SLOT *slot, OBD_LINK *link)
{
    WCHAR target[OBD_TARGET_CHARS];

    if (!link->Held)
        return;
    if (NT_SUCCESS(QueryLink(link->Name, target, OBD_TARGET_CHARS)) &&
        WideLength(target) == WideLength(slot->DeviceName) && HasPrefix(target, slot->DeviceName) &&
        NT_SUCCESS(DeleteLink(link->Name)) && link->Previous[0] != 0)
        CreateLink(link->Name, link->Previous);
    link->Held = FALSE;
    link->Previous[0] = 0;
}

/* --- The image --- */

static const OBRINDISK_IMAGE_PARTITION *FirstEntryOf(const void *image, const OBRINDISK_IMAGE_DISK *disk)
{
    const OBRINDISK_IMAGE_DISK *disks = ObrindiskImageDisks(image);
    ULONG first = 0;
    for (; disks != disk; ++disks)
        first += disks->PartitionCount;
    return ObrindiskImagePartitions(image) + first;
}

static const OBRINDISK_IMAGE_DISK *FindDisk(const void *image, uint32_t number)
{
    const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
    uint32_t i;
    for (i = 0; image != NULL && i < header->DiskCount; ++i) {
        if (ObrindiskImageDisks(image)[i].Number == number)
            return &ObrindiskImageDisks(image)[i];
    }
    return NULL;
}

static const OBRINDISK_IMAGE_PARTITION *FindVolume(const void *image, uint32_t volumeId,
                                                   const OBRINDISK_IMAGE_DISK **disk)
{
    const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
    uint32_t d, p, entry = 0;
    for (d = 0; image != NULL && d < header->DiskCount; ++d) {
        const OBRINDISK_IMAGE_DISK *candidate = &ObrindiskImageDisks(image)[d];
        for (p = 0; p < candidate->PartitionCount; ++p, ++entry) {
            if (ObrindiskImagePartitions(image)[entry].VolumeId == volumeId) {
                *disk = candidate;
                return &ObrindiskImagePartitions(image)[entry];
            }
        }
    }
    return NULL;
}

static const uint16_t *WantedName(const OBRINDISK_IMAGE_DISK *disk, const OBRINDISK_IMAGE_PARTITION *volume,
                                  ULONG index)
{
    if (volume != NULL)
        return index == 0 ? volume->VolumeLink : volume->LetterLink;
    if (disk != NULL && index == 0)
        return disk->Link;
    return g_noName;
}

static void AppendNumber(WCHAR *text, ULONG number)
{
    WCHAR digits[12];
    size_t count = 0, end = WideLength(text);
    do {
        digits[count++] = (WCHAR)(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0)
        text[end++] = digits[--count];
    text[end] = 0;
}

/* A slot that stands for nothing and is not open, with its device made. */
static OBD_SLOT *FreeSlot(PDRIVER_OBJECT driver)
{
    ULONG s;
    for (s = 0; s < OBD_SLOTS; ++s) {
        OBD_SLOT *slot = &g_slots[s];
        UNICODE_STRING name;
        if (slot->NextDisk != NULL || slot->OpenCount != 0)
            continue;
        if (slot->Device == NULL) {
            size_t i;
            for (i = 0; OBD_DEVICE_PREFIX[i] != 0; ++i)
                slot->DeviceName[i] = OBD_DEVICE_PREFIX[i];
            slot->DeviceName[i] = 0;
            AppendNumber(slot->DeviceName, s);
            RtlInitUnicodeString(&name, slot->DeviceName);
            if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(OBD_SLOT *), &name, FILE_DEVICE_DISK,
                                           FILE_DEVICE_SECURE_OPEN, FALSE, &slot->Device))) {
                slot->Device = NULL;
                return NULL;
            }
            *(OBD_SLOT **)slot->Device->DeviceExtension = slot;
            slot->Device->Flags &= ~DO_DEVICE_INITIALIZING;
        }
        return slot;
    }
    return NULL;
}

static BOOLEAN HasSlot(const OBRINDISK_IMAGE_DISK *disk, const OBRINDISK_IMAGE_PARTITION *volume)
{
    ULONG s;
    for (s = 0; s < OBD_SLOTS; ++s) {
        if (g_slots[s].NextDisk == disk && g_slots[s].NextVolume == volume)
            return TRUE;
    }
    return FALSE;
}

static NTSTATUS Place(PDRIVER_OBJECT driver, const OBRINDISK_IMAGE_DISK *disk, const OBRINDISK_IMAGE_PARTITION *volume)
{
    OBD_SLOT *slot;
    if (HasSlot(disk, volume))
        return STATUS_SUCCESS;
    slot = FreeSlot(driver);
    if (slot == NULL)
        return STATUS_INSUFFICIENT_RESOURCES;
    slot->NextDisk = disk;
    slot->NextVolume = volume;
    return STATUS_SUCCESS;
}

/* Serves `image` (owned from now on; NULL: no disk) instead of the current
 * one. Names that leave are given back before any is taken, so a letter that
 * moves from one volume to another is free when its new volume takes it. */
static NTSTATUS ApplyImage(PDRIVER_OBJECT driver, void *image)
{
    NTSTATUS result = STATUS_SUCCESS, status;
    ULONG s, i;

    for (s = 0; s < OBD_SLOTS; ++s) {
        OBD_SLOT *slot = &g_slots[s];
        slot->NextDisk = NULL;
        slot->NextVolume = NULL;
        if (slot->Disk == NULL)
            continue;
        if (slot->Volume == NULL)
            slot->NextDisk = FindDisk(image, slot->Disk->Number);
        else
            slot->NextVolume = FindVolume(image, slot->Volume->VolumeId, &slot->NextDisk);
    }
    for (s = 0; s < OBD_SLOTS; ++s) {
        for (i = 0; i < 2; ++i) {
            if (!SameName(g_slots[s].Links[i].Name, WantedName(g_slots[s].NextDisk, g_slots[s].NextVolume, i)))
                ReleaseLink(&g_slots[s], &g_slots[s].Links[i]);
        }
    }

    if (image != NULL) {
        const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
        const OBRINDISK_IMAGE_PARTITION *entry = ObrindiskImagePartitions(image);
        for (s = 0; s < header->DiskCount; ++s) {
            const OBRINDISK_IMAGE_DISK *disk = &ObrindiskImageDisks(image)[s];
            status = Place(driver, disk, NULL);
            for (i = 0; i < disk->PartitionCount; ++i, ++entry) {
                if (NT_SUCCESS(status) && entry->VolumeId != 0)
                    status = Place(driver, disk, entry);
            }
            if (!NT_SUCCESS(status) && NT_SUCCESS(result))
                result = status;
        }
    }

    for (s = 0; s < OBD_SLOTS; ++s) {
        g_slots[s].Disk = g_slots[s].NextDisk;
        g_slots[s].Volume = g_slots[s].NextVolume;
    }
    if (g_image != NULL)
        ExFreePoolWithTag(g_image, OBD_POOL_TAG);
    g_image = image;

    /* Every name again, also those held already: the mount manager may have
     * made its own link anew since. */
    for (s = 0; s < OBD_SLOTS; ++s) {
        OBD_SLOT *slot = &g_slots[s];
        for (i = 0; slot->Disk != NULL && i < 2; ++i) {
            const uint16_t *wanted = WantedName(slot->Disk, slot->Volume, i);
            if (wanted[0] == 0)
                continue;
            if (!SameName(slot->Links[i].Name, wanted))
                CopyWide(slot->Links[i].Name, OBRINDISK_LINK_CHARS, wanted);
            status = HoldLink(slot, &slot->Links[i]);
            if (!NT_SUCCESS(status) && NT_SUCCESS(result))
                result = status;
        }
    }
    return result;
}

/* A copy of `size` bytes when they are a valid image, else NULL. */
static void *CopyImage(const void *bytes, ULONG size)
{
    void *copy;
    if (bytes == NULL || size == 0 || size > OBD_MAX_IMAGE_BYTES)
        return NULL;
    copy = ExAllocatePoolWithTag(NonPagedPool, size, OBD_POOL_TAG);
    if (copy == NULL)
        return NULL;
    RtlCopyMemory(copy, bytes, size);
    if (!ObrindiskImageIsValid(copy, size)) {
        ExFreePoolWithTag(copy, OBD_POOL_TAG);
        return NULL;
    }
    return copy;
}

/* The image file of the prefix; NULL when it is missing or damaged. */
static void *ReadImageFile(void)
{
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    FILE_STANDARD_INFORMATION info;
    LARGE_INTEGER start;
    HANDLE file;
    void *bytes, *image = NULL;
    ULONG size;

    RtlInitUnicodeString(&path, OBRINDISK_IMAGE_FILE);
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_OPEN,
                                 FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0)))
        return NULL;
    if (NT_SUCCESS(ZwQueryInformationFile(file, &io, &info, sizeof info, FileStandardInformation)) &&
        info.EndOfFile.QuadPart > 0 && info.EndOfFile.QuadPart <= OBD_MAX_IMAGE_BYTES) {
        size = (ULONG)info.EndOfFile.QuadPart;
        bytes = ExAllocatePoolWithTag(NonPagedPool, size, OBD_POOL_TAG);
        if (bytes != NULL) {
            start.QuadPart = 0;
            if (NT_SUCCESS(ZwReadFile(file, NULL, NULL, NULL, &io, bytes, size, &start, NULL)) &&
                io.Information == size)
                image = CopyImage(bytes, size);
            ExFreePoolWithTag(bytes, OBD_POOL_TAG);
        }
    }
    ZwClose(file);
    return image;
}

/* --- Requests --- */

/* The layout as Windows reports it: a GPT disk's partitions, or an MBR's
 * four entries, the unused ones zero. Entries in disk order. */
static NTSTATUS AnswerLayout(PIRP irp, const OBRINDISK_IMAGE_DISK *disk, ULONG outputLength)
{
    DRIVE_LAYOUT_INFORMATION_EX *layout = irp->AssociatedIrp.SystemBuffer;
    const OBRINDISK_IMAGE_PARTITION *entry = FirstEntryOf(g_image, disk);
    const BOOLEAN gpt = disk->PartitionStyle == OBRINDISK_STYLE_GPT;
    const ULONG count = gpt ? disk->PartitionCount : OBRINDISK_MBR_ENTRIES;
    ULONG needed = FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + count * sizeof(PARTITION_INFORMATION_EX);
    ULONG i;

    if (outputLength < sizeof(DRIVE_LAYOUT_INFORMATION_EX) || outputLength < needed)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlZeroMemory(layout, needed);
    layout->PartitionCount = count;
    if (gpt) {
        layout->PartitionStyle = PARTITION_STYLE_GPT;
        RtlCopyMemory(&layout->Gpt.DiskId, disk->DiskId, sizeof layout->Gpt.DiskId);
        layout->Gpt.StartingUsableOffset.QuadPart = (LONGLONG)disk->StartingUsableOffset;
        layout->Gpt.UsableLength.QuadPart = (LONGLONG)disk->UsableLength;
        layout->Gpt.MaxPartitionCount = 128;
    } else {
        layout->PartitionStyle = PARTITION_STYLE_MBR;
        layout->Mbr.Signature = disk->Signature;
    }
    for (i = 0; i < count; ++i) {
        PARTITION_INFORMATION_EX *partition = &layout->PartitionEntry[i];
        partition->PartitionStyle = gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
        if (i >= disk->PartitionCount)
            continue;
        partition->StartingOffset.QuadPart = (LONGLONG)entry->StartingOffset;
        partition->PartitionLength.QuadPart = (LONGLONG)entry->Length;
        partition->PartitionNumber = entry->Number;
        if (gpt) {
            RtlCopyMemory(&partition->Gpt.PartitionType, entry->Type, sizeof partition->Gpt.PartitionType);
            RtlCopyMemory(&partition->Gpt.PartitionId, entry->Id, sizeof partition->Gpt.PartitionId);
            partition->Gpt.Attributes = entry->Attributes;
            CopyWide(partition->Gpt.Name, OBRINDISK_GPT_NAME_CHARS, entry->Name);
        } else {
            partition->Mbr.PartitionType = entry->MbrType;
            partition->Mbr.BootIndicator = entry->BootIndicator != 0;
            partition->Mbr.RecognizedPartition = TRUE;
            partition->Mbr.HiddenSectors = entry->HiddenSectors;
        }
        ++entry;
    }
    return Complete(irp, STATUS_SUCCESS, needed);
}

static NTSTATUS AnswerDeviceNumber(PIRP irp, const OBD_SLOT *slot, ULONG outputLength)
{
    STORAGE_DEVICE_NUMBER *number = irp->AssociatedIrp.SystemBuffer;
    if (outputLength < sizeof(STORAGE_DEVICE_NUMBER))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    number->DeviceType = FILE_DEVICE_DISK;
    number->DeviceNumber = slot->Disk->Number;
    number->PartitionNumber = slot->Volume != NULL ? slot->Volume->Number : 0;
    return Complete(irp, STATUS_SUCCESS, sizeof(STORAGE_DEVICE_NUMBER));
}

static NTSTATUS AnswerExtents(PIRP irp, const OBD_SLOT *slot, ULONG outputLength)
{
    VOLUME_DISK_EXTENTS *extents = irp->AssociatedIrp.SystemBuffer;
    if (outputLength < sizeof(VOLUME_DISK_EXTENTS))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    extents->NumberOfDiskExtents = 1;
    extents->Extents[0].DiskNumber = slot->Disk->Number;
    extents->Extents[0].StartingOffset.QuadPart = (LONGLONG)slot->Volume->StartingOffset;
    extents->Extents[0].ExtentLength.QuadPart = (LONGLONG)slot->Volume->Length;
    return Complete(irp, STATUS_SUCCESS, sizeof(VOLUME_DISK_EXTENTS));
}

/* The device one of the slot's names led to before, opened; NULL when none. */
static HANDLE OpenPrevious(const OBD_SLOT *slot)
{
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE device;
    ULONG i;

    for (i = 0; i < 2; ++i) {
        if (!slot->Links[i].Held || slot->Links[i].Previous[0] == 0)
            continue;
        RtlInitUnicodeString(&name, slot->Links[i].Previous);
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
        if (NT_SUCCESS(ZwOpenFile(&device, GENERIC_READ | SYNCHRONIZE, &attributes, &io,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SYNCHRONOUS_IO_NONALERT)))
            return device;
    }
    return NULL;
}

static NTSTATUS ForwardControl(PIRP irp, const OBD_SLOT *slot, const IO_STACK_LOCATION *stack)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    IO_STATUS_BLOCK io;
    NTSTATUS status;
    HANDLE previous;

    /* Only buffered requests carry their data where this driver can pass
     * it on; the devices Wine puts behind these names know no others. */
    if ((code & 3) != METHOD_BUFFERED || (previous = OpenPrevious(slot)) == NULL)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    io.Information = 0;
    status = ZwDeviceIoControlFile(previous, NULL, NULL, NULL, &io, code, irp->AssociatedIrp.SystemBuffer,
                                   stack->Parameters.DeviceIoControl.InputBufferLength,
                                   irp->AssociatedIrp.SystemBuffer,
                                   stack->Parameters.DeviceIoControl.OutputBufferLength);
    ZwClose(previous);
    return Complete(irp, status, NT_ERROR(status) ? 0 : io.Information);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    OBD_SLOT *slot = SlotOf(device);
    if (slot != NULL) {
        if (slot->Disk == NULL)
            return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
        ++slot->OpenCount;
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    OBD_SLOT *slot = SlotOf(device);
    if (slot != NULL && slot->OpenCount > 0)
        --slot->OpenCount;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    OBD_SLOT *slot = SlotOf(device);

    if (slot == NULL) {
        void *image;
        NTSTATUS status;
        if (code != OBRINDISK_IOCTL_SET_IMAGE)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        /* A damaged image leaves no disk rather than the last good one. */
        image = CopyImage(irp->AssociatedIrp.SystemBuffer, stack->Parameters.DeviceIoControl.InputBufferLength);
        status = ApplyImage(device->DriverObject, image);
        return Complete(irp, image == NULL ? STATUS_INVALID_PARAMETER : status, 0);
    }
    if (slot->Disk == NULL)
        return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    switch (code) {
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
        if (slot->Volume != NULL)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return AnswerLayout(irp, slot->Disk, outputLength);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
        return AnswerDeviceNumber(irp, slot, outputLength);
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        if (slot->Volume == NULL)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return AnswerExtents(irp, slot, outputLength);
    default:
        return ForwardControl(irp, slot, stack);
    }
}

static NTSTATUS NTAPI DispatchQueryVolume(PDEVICE_OBJECT device, PIRP irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    OBD_SLOT *slot = SlotOf(device);
    IO_STATUS_BLOCK io;
    NTSTATUS status;
    HANDLE previous;

    if (slot == NULL || slot->Disk == NULL || (previous = OpenPrevious(slot)) == NULL)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    io.Information = 0;
    status = ZwQueryVolumeInformationFile(previous, &io, irp->AssociatedIrp.SystemBuffer,
                                          stack->Parameters.QueryVolume.Length,
                                          stack->Parameters.QueryVolume.FsInformationClass);
    ZwClose(previous);
    return Complete(irp, status, NT_ERROR(status) ? 0 : io.Information);
}

static void NTAPI Unload(PDRIVER_OBJECT driver)
{
    ULONG s;
    UNICODE_STRING link;

    ApplyImage(driver, NULL);
    for (s = 0; s < OBD_SLOTS; ++s) {
        if (g_slots[s].Device != NULL)
            IoDeleteDevice(g_slots[s].Device);
    }
    RtlInitUnicodeString(&link, OBRINDISK_CONTROL_LINK);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(g_control);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING name;
    NTSTATUS status;

    (void)registryPath;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_QUERY_VOLUME_INFORMATION] = DispatchQueryVolume;
    driver->DriverUnload = Unload;

    RtlInitUnicodeString(&name, OBRINDISK_CONTROL_DEVICE);
    status = IoCreateDevice(driver, sizeof(OBD_SLOT *), &name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &g_control);
    if (!NT_SUCCESS(status))
        return status;
    *(OBD_SLOT **)g_control->DeviceExtension = NULL;
    g_control->Flags &= ~DO_DEVICE_INITIALIZING;
    /* A link left by a run that ended without unloading names nothing now. */
    DeleteLink(OBRINDISK_CONTROL_LINK);
    status = CreateLink(OBRINDISK_CONTROL_LINK, OBRINDISK_CONTROL_DEVICE);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_control);
        return status;
    }
    /* Without a readable model file it serves no disk until told one. */
    ApplyImage(driver, ReadImageFile());
    return STATUS_SUCCESS;
}
