// Lifecycle of the process's one disk-group state: start values, the three
// cache buffers, and the reset done by closeDiskGroup (at EXIT and before a
// disk group is opened again).
#include <cstdlib>
#include <cstring>

#include "asm/asm.h"

void clearAsmFileRecord(AsmFileRecord *record)
{
    record->fileNumber = kAsmNoAu;
    record->disk = kAsmNoDisk;
    record->au = kAsmNoAu;
    record->block = 0;
    record->byteLimit = 0;
    for (int i = 0; i < kAsmExtentSlots; i++) {
        record->extents[i].extent = 0;
        record->extents[i].disk = kAsmNoDisk;
        record->extents[i].au = kAsmNoAu;
    }
}

static void clearDisk(AsmDisk *disk)
{
    disk->diskNumber = kAsmNoDisk;
    disk->blockSize = 0;
    disk->auSize = 0;
    disk->size = 0;
    memset(disk->diskName, 0, sizeof disk->diskName);
    memset(disk->groupName, 0, sizeof disk->groupName);
    memset(disk->path, 0, sizeof disk->path);
    disk->stream = nullptr;
    disk->deviceBytes = kAsmUnknownSize;
}

static void emptyCacheTags(AsmDiskGroup *group)
{
    group->blockCache.disk = kAsmNoDisk;
    group->blockCache.au = kAsmNoCachedAu;
    group->blockCache.block = kAsmNoBlock;
    group->metadataCache.disk = kAsmNoDisk;
    group->metadataCache.au = kAsmNoCachedAu;
    group->dataCache.disk = kAsmNoDisk;
    group->dataCache.au = kAsmNoCachedAu;
}

// Everything closeDiskGroup and initASMDiskGroup have in common: the disks,
// the F1B1 location, the system file records and the extent policy.
static void resetGroupContents(AsmDiskGroup *group)
{
    group->compat = 0;
    group->diskCount = 0;
    group->f1b1Disk = kAsmNoDisk;
    group->f1b1Au = kAsmNoAu;
    for (int i = 0; i < kAsmDiskMapSize; i++)
        group->diskMap[i] = kAsmNoDisk;
    for (int i = 0; i < kAsmMaxDisks; i++)
        clearDisk(&group->disks[i]);
    clearAsmFileRecord(&group->fileDirectory);
    clearAsmFileRecord(&group->aliasDirectory);
    clearAsmFileRecord(&group->diskDirectory);
    for (int i = 0; i < kAsmPolicyLevels; i++) {
        group->policy[i].lastExtent = 0xFFFFFFFF;
        group->policy[i].auCount = 1;
    }
    emptyCacheTags(group);
}

void initASMDiskGroup(AsmDiskGroup *group)
{
    group->oracleBlock = kAsmDefaultOracleBlock;
    group->blockSize = kAsmDefaultBlockSize;
    group->auSize = kAsmDefaultAuSize;
    group->stripWidth = kAsmDefaultStripWidth;
    group->stripSize = kAsmDefaultStripSize;
    group->blockCache.buffer = nullptr;
    group->metadataCache.buffer = nullptr;
    group->dataCache.buffer = nullptr;
    group->blockCache.capacity = 0;
    group->metadataCache.capacity = 0;
    group->dataCache.capacity = 0;
    resetGroupContents(group);
}

// A failed reallocation leaves that cache without a buffer; the readers then
// treat every read through it as failed rather than touching freed memory.
static uint8_t *reallocCache(uint8_t *buffer, uint32_t size)
{
    void *grown = realloc(buffer, size);
    if (grown == nullptr) {
        free(buffer);
        return nullptr;
    }
    return static_cast<uint8_t *>(grown);
}

void setDiskGroupCache(AsmDiskGroup *group)
{
    if (group->auSize != 0 && group->auSize <= kAsmMaxCachedAuSize) {
        group->metadataCache.buffer = reallocCache(group->metadataCache.buffer, group->auSize);
        group->dataCache.buffer = reallocCache(group->dataCache.buffer, group->auSize);
        group->metadataCache.capacity = group->metadataCache.buffer != nullptr ? group->auSize : 0;
        group->dataCache.capacity = group->dataCache.buffer != nullptr ? group->auSize : 0;
    }
    if (group->blockSize != 0) {
        group->blockCache.buffer = reallocCache(group->blockCache.buffer, group->blockSize);
        group->blockCache.capacity = group->blockCache.buffer != nullptr ? group->blockSize : 0;
    }
    emptyCacheTags(group);
}

void closeDiskGroup(AsmDiskGroup *group)
{
    for (int i = 0; i < kAsmMaxDisks; i++) {
        if (group->disks[i].stream != nullptr)
            fclose(group->disks[i].stream);
    }
    free(group->blockCache.buffer);
    free(group->metadataCache.buffer);
    free(group->dataCache.buffer);
    group->blockCache.buffer = nullptr;
    group->metadataCache.buffer = nullptr;
    group->dataCache.buffer = nullptr;
    group->blockCache.capacity = 0;
    group->metadataCache.capacity = 0;
    group->dataCache.capacity = 0;
    resetGroupContents(group);
}
