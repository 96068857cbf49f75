/* Checks of a device image before the driver serves it. The image comes from
 * a file of the prefix, which anything may have damaged, so nothing in it is
 * trusted: a bad image means no disk, never a fault in the driver. */
#include "obrindisk_image.h"

static size_t NameLength(const uint16_t *name, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && name[length] != 0)
        ++length;
    return length;
}

/* Empty, or "\??\" and a name without another backslash: a name the driver
 * takes over never leaves the DOS device directory. */
static int IsLinkName(const uint16_t *name)
{
    size_t length = NameLength(name, OBRINDISK_LINK_CHARS);
    size_t i;
    if (length == OBRINDISK_LINK_CHARS)
        return 0;
    if (length == 0)
        return 1;
    if (length < 5 || name[0] != '\\' || name[1] != '?' || name[2] != '?' || name[3] != '\\')
        return 0;
    for (i = 4; i < length; ++i) {
        if (name[i] == '\\')
            return 0;
    }
    return 1;
}

static uint16_t FoldCase(uint16_t c)
{
    return (c >= 'a' && c <= 'z') ? (uint16_t)(c - 'a' + 'A') : c;
}

static int SameName(const uint16_t *a, const uint16_t *b)
{
    size_t i;
    for (i = 0; i < OBRINDISK_LINK_CHARS; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return 0;
        if (a[i] == 0)
            return 1;
    }
    return 1;
}

/* Every name of the image, in one list: disk links, then each partition's
 * volume and letter links. */
static const uint16_t *NameAt(const void *image, uint32_t index)
{
    const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
    if (index < header->DiskCount)
        return ObrindiskImageDisks(image)[index].Link;
    index -= header->DiskCount;
    if (index % 2 == 0)
        return ObrindiskImagePartitions(image)[index / 2].VolumeLink;
    return ObrindiskImagePartitions(image)[index / 2].LetterLink;
}

static int NamesAreUnique(const void *image)
{
    const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
    uint32_t count = header->DiskCount + 2 * header->PartitionCount;
    uint32_t i, j;
    for (i = 0; i < count; ++i) {
        const uint16_t *name = NameAt(image, i);
        if (!IsLinkName(name))
            return 0;
        if (name[0] == 0)
            continue;
        for (j = i + 1; j < count; ++j) {
            if (SameName(name, NameAt(image, j)))
                return 0;
        }
    }
    return 1;
}

int ObrindiskImageIsValid(const void *image, size_t size)
{
    const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
    const OBRINDISK_IMAGE_DISK *disks;
    const OBRINDISK_IMAGE_PARTITION *partitions;
    uint32_t i, j, entries = 0;

    if (image == NULL || size < sizeof(*header))
        return 0;
    if (header->Magic != OBRINDISK_IMAGE_MAGIC || header->Version != OBRINDISK_IMAGE_VERSION ||
        header->DiskCount > OBRINDISK_MAX_DISKS || header->PartitionCount > OBRINDISK_MAX_PARTITIONS)
        return 0;
    if (header->Size != size || size != sizeof(*header) + header->DiskCount * sizeof(OBRINDISK_IMAGE_DISK) +
                                            header->PartitionCount * sizeof(OBRINDISK_IMAGE_PARTITION))
        return 0;

    disks = ObrindiskImageDisks(image);
    partitions = ObrindiskImagePartitions(image);
    for (i = 0; i < header->DiskCount; ++i) {
        if (disks[i].PartitionCount > header->PartitionCount - entries)
            return 0;
        if (disks[i].PartitionStyle != OBRINDISK_STYLE_GPT &&
            (disks[i].PartitionStyle != OBRINDISK_STYLE_MBR || disks[i].PartitionCount > OBRINDISK_MBR_ENTRIES))
            return 0;
        entries += disks[i].PartitionCount;
        for (j = 0; j < i; ++j) {
            if (disks[j].Number == disks[i].Number)
                return 0;
        }
    }
    if (entries != header->PartitionCount)
        return 0;
    for (i = 0; i < header->PartitionCount; ++i) {
        /* A letter or volume name needs the volume it stands for. */
        if (partitions[i].VolumeId == 0 && (partitions[i].VolumeLink[0] != 0 || partitions[i].LetterLink[0] != 0))
            return 0;
        for (j = 0; j < i; ++j) {
            if (partitions[i].VolumeId != 0 && partitions[j].VolumeId == partitions[i].VolumeId)
                return 0;
        }
    }
    return NamesAreUnique(image);
}

const OBRINDISK_IMAGE_DISK *ObrindiskImageDisks(const void *image)
{
    return (const OBRINDISK_IMAGE_DISK *)((const char *)image + sizeof(OBRINDISK_IMAGE_HEADER));
}

const OBRINDISK_IMAGE_PARTITION *ObrindiskImagePartitions(const void *image)
{
    const OBRINDISK_IMAGE_HEADER *header = (const OBRINDISK_IMAGE_HEADER *)image;
    return (const OBRINDISK_IMAGE_PARTITION *)((const char *)ObrindiskImageDisks(image) +
                                               header->DiskCount * sizeof(OBRINDISK_IMAGE_DISK));
}
