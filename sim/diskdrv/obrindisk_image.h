/* The kernel-mode disk stand-in's input: the device image. The user-mode
 * stand-ins make it from the disk model (sim/disk/disk_image.cpp), write it
 * beside the model file and send it to the running driver; the driver reads
 * the file when it starts. Everything Windows would compute for the disks is
 * already computed here (bytes, GUIDs in memory order, UTF-16 names), so the
 * driver only copies.
 *
 * Layout: one OBRINDISK_IMAGE_HEADER, DiskCount OBRINDISK_IMAGE_DISK, then
 * PartitionCount OBRINDISK_IMAGE_PARTITION: the partitions of the first disk
 * in layout order, then those of the second, and so on. Little-endian, every
 * field at its natural alignment, no pointers. Plain C without <windows.h>:
 * the driver, the user-mode side and native tests read the same definitions. */
#ifndef OBRINDISK_IMAGE_H
#define OBRINDISK_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OBRINDISK_IMAGE_MAGIC 0x4B44424Fu /* "OBDK" */
#define OBRINDISK_IMAGE_VERSION 2u
#define OBRINDISK_MAX_DISKS 8u
#define OBRINDISK_MAX_PARTITIONS 128u /* over all disks */
#define OBRINDISK_LINK_CHARS 64u      /* with the terminating NUL */
#define OBRINDISK_GPT_NAME_CHARS 36u
/* PARTITION_STYLE_MBR and PARTITION_STYLE_GPT, as Windows numbers them. */
#define OBRINDISK_STYLE_MBR 0u
#define OBRINDISK_STYLE_GPT 1u
/* An MBR holds four primary entries; its layout always lists all four. */
#define OBRINDISK_MBR_ENTRIES 4u

/* The control device the stand-ins send a new image to, and the request. */
#define OBRINDISK_CONTROL_DEVICE L"\\Device\\ObrinDiskControl"
#define OBRINDISK_CONTROL_LINK L"\\??\\ObrinDiskControl"
#define OBRINDISK_CONTROL_PATH L"\\\\.\\ObrinDiskControl"
/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
 * input: an image; the driver serves it from then on. It answers success when
 * it holds every name of the image, else the status of the first name it
 * could not take (it still serves the others). */
#define OBRINDISK_IOCTL_SET_IMAGE 0x00222000u

/* The file the driver reads when it starts. */
#define OBRINDISK_IMAGE_FILE L"\\??\\C:\\disksim\\model.bin"

typedef struct OBRINDISK_IMAGE_HEADER {
    uint32_t Magic;
    uint32_t Version;
    uint32_t Size; /* of the whole image, in bytes */
    uint32_t DiskCount;
    uint32_t PartitionCount;
    uint32_t Reserved;
} OBRINDISK_IMAGE_HEADER;

typedef struct OBRINDISK_IMAGE_DISK {
    uint32_t Number;         /* STORAGE_DEVICE_NUMBER.DeviceNumber, diskpart's "select disk" */
    uint32_t PartitionCount; /* its partitions, in disk order */
    uint32_t PartitionStyle; /* OBRINDISK_STYLE_MBR or OBRINDISK_STYLE_GPT */
    uint32_t Signature;      /* MBR */
    uint64_t StartingUsableOffset; /* GPT */
    uint64_t UsableLength;         /* GPT */
    uint8_t DiskId[16];            /* GPT */
    uint16_t Link[OBRINDISK_LINK_CHARS]; /* "\??\PHYSICALDRIVEn"; empty: no name */
} OBRINDISK_IMAGE_DISK;

typedef struct OBRINDISK_IMAGE_PARTITION {
    uint32_t Number;   /* PartitionNumber */
    uint32_t VolumeId; /* 0 when Windows shows no volume for it */
    uint64_t StartingOffset;
    uint64_t Length;
    uint64_t Attributes;        /* GPT */
    uint32_t HiddenSectors;     /* MBR: the sectors before the partition */
    uint8_t MbrType;            /* MBR */
    uint8_t BootIndicator;      /* MBR: 1 for the active partition */
    uint8_t Reserved[2];
    uint8_t Type[16];           /* GPT */
    uint8_t Id[16];             /* GPT */
    uint16_t Name[OBRINDISK_GPT_NAME_CHARS]; /* GPT */
    uint16_t VolumeLink[OBRINDISK_LINK_CHARS]; /* "\??\Volume{...}"; empty without a volume */
    uint16_t LetterLink[OBRINDISK_LINK_CHARS]; /* "\??\C:"; empty without a letter */
} OBRINDISK_IMAGE_PARTITION;

/* Whether `size` bytes at `image` are an image the driver may serve: the
 * header matches, the counts fit the limits and the size, the disks' entries
 * add up, every disk has a known style and an MBR disk no more than four
 * partitions, disk numbers and volume ids are unique, and every name is
 * NUL-terminated, lies directly under \??\ and is claimed once. */
int ObrindiskImageIsValid(const void *image, size_t size);

/* The records of a valid image. */
const OBRINDISK_IMAGE_DISK *ObrindiskImageDisks(const void *image);
const OBRINDISK_IMAGE_PARTITION *ObrindiskImagePartitions(const void *image);

#ifdef __cplusplus
}
#endif

#endif
