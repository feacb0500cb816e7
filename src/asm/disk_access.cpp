// Disks of the disk group: the disk list file, registering disks from their
// headers (ASM OPEN) or by number (ASM ADD), locating the system files in the
// F1B1 AU, and the positioned reads behind every metadata and data access,
// with the block cache and the two AU caches.
#include <cstring>
#include <unistd.h>

#include "asm/asm.h"

namespace {

constexpr int kListLineSize = 256;
constexpr uint32_t kMegabyte = 1048576;
// AU and metadata block sizes an ASM disk header can carry.
constexpr uint32_t kMinHeaderAuSize = 1048576;
constexpr uint32_t kMaxHeaderAuSize = 67108864;
constexpr uint32_t kMinHeaderBlockSize = 512;
constexpr uint32_t kMaxHeaderBlockSize = 32768;

bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// A disk's own AU and block sizes address its AUs and blocks when they are
// sizes a disk can have; a damaged header's are replaced by the settings.
uint32_t diskAuSize(const AsmDiskGroup *group, const AsmDisk *disk)
{
    bool usable = isPowerOfTwo(disk->auSize) && disk->auSize >= kMinHeaderBlockSize * 8 &&
                  disk->auSize <= kMaxHeaderAuSize;
    return usable ? disk->auSize : group->auSize;
}

uint32_t diskBlockSize(const AsmDiskGroup *group, const AsmDisk *disk)
{
    bool usable = isPowerOfTwo(disk->blockSize) && disk->blockSize >= kMinHeaderBlockSize &&
                  disk->blockSize <= kMaxHeaderBlockSize;
    return usable ? disk->blockSize : group->blockSize;
}

// An empty image is known to hold nothing; only a failed seek leaves the
// size unknown.
uint64_t measureDisk(FILE *stream)
{
    off_t end = lseek(fileno(stream), 0, SEEK_END);
    return end >= 0 ? static_cast<uint64_t>(end) : kAsmUnknownSize;
}

// Reads block 0 of a freshly opened disk; false when it is short or no disk
// header.
bool readDiskHeader(AsmDiskGroup *group, AsmDisk *probe, AsmDiskHeader *header)
{
    if (group->blockCache.buffer == nullptr || group->blockCache.capacity < group->blockSize)
        return false;
    uint8_t *buffer = group->blockCache.buffer;
    // The block cache is borrowed; its tag no longer describes its bytes.
    group->blockCache.disk = kAsmNoDisk;
    if (readFromDisk(probe, 0, buffer, group->blockSize) != group->blockSize)
        return false;
    AsmBlockView view = asmBlockView(buffer, group->blockSize);
    return decodeAsmDiskHeader(&view, header);
}

void recordDisk(AsmDiskGroup *group, AsmDisk *disk, uint16_t number, const AsmDiskHeader *header,
                uint32_t size)
{
    disk->diskNumber = number;
    if (header != nullptr) {
        disk->blockSize = header->blockSize;
        disk->auSize = header->auSize;
        disk->size = header->size;
        memcpy(disk->diskName, header->diskName, kAsmNameSize);
        memcpy(disk->groupName, header->groupName, kAsmNameSize);
        group->compat = header->compat;
    }
    if (size != 0)
        disk->size = size;
    group->diskMap[number] = group->diskCount;
    group->diskCount++;
    if (header != nullptr && header->f1b1 != 0) {
        group->f1b1Disk = number;
        group->f1b1Au = header->f1b1;
    }
}

// Opens one disk path into the next free entry.  withNumber replaces the
// header's disk number; a disk without header is registered only then.
void registerDisk(FILE *messages, AsmDiskGroup *group, const char *path, bool withNumber,
                  uint16_t number, uint32_t size)
{
    if (group->diskCount >= kAsmMaxDisks)
        return;
    FILE *stream = fopen64(path, "rb");
    if (stream == nullptr) {
        if (withNumber)
            fprintf(stderr, "ASM: cannot open disk %s\n", path);
        return;
    }
    setvbuf(stream, nullptr, _IONBF, 0);
    AsmDisk *disk = &group->disks[group->diskCount];
    disk->stream = stream;
    AsmDiskHeader header;
    // Disk number 0xFFFF marks a free entry: no disk can carry it.
    bool valid = readDiskHeader(group, disk, &header) && header.diskNumber != kAsmNoDisk;
    if ((!valid && !withNumber) || (withNumber && number == kAsmNoDisk)) {
        fclose(stream);
        disk->stream = nullptr;
        fprintf(messages, "Invalid Disk : %s\n", path);
        return;
    }
    snprintf(disk->path, sizeof disk->path, "%s", path);
    disk->deviceBytes = measureDisk(stream);
    recordDisk(group, disk, withNumber ? number : header.diskNumber, valid ? &header : nullptr, size);
}

// Every registered disk's header agrees on an AU size (and block size) the
// settings do not hold: read the group with the disks' own sizes, or every
// extent would be mapped to the wrong place.
void adoptHeaderSizes(AsmDiskGroup *group)
{
    if (group->diskCount == 0)
        return;
    uint32_t au = group->disks[0].auSize;
    uint32_t block = group->disks[0].blockSize;
    for (uint16_t i = 1; i < group->diskCount; i++) {
        if (group->disks[i].auSize != au || group->disks[i].blockSize != block)
            return;
    }
    bool auUsable = isPowerOfTwo(au) && au >= kMinHeaderAuSize && au <= kMaxHeaderAuSize;
    bool blockUsable = isPowerOfTwo(block) && block >= kMinHeaderBlockSize && block <= kMaxHeaderBlockSize;
    if (!auUsable || !blockUsable || (au == group->auSize && block == group->blockSize))
        return;
    fprintf(stderr, "ASM: the disk headers give AU_SIZE %u and BLOCK_SIZE %u; using them\n", au, block);
    group->auSize = au;
    group->blockSize = static_cast<uint16_t>(block);
    setDiskGroupCache(group);
}

void cutTrailingBlanks(char *line)
{
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\r' || line[n - 1] == '\n'))
        line[--n] = '\0';
}

void setSystemRecord(AsmFileRecord *record, uint32_t file, uint16_t disk, uint32_t au, uint32_t block)
{
    record->fileNumber = file;
    record->disk = disk;
    record->au = au;
    record->block = static_cast<uint16_t>(block);
}

}  // namespace

uint32_t getAsmBlocksPerAu(const AsmDiskGroup *group)
{
    return group->blockSize != 0 ? group->auSize / group->blockSize : 0;
}

const AsmDisk *findAsmDisk(const AsmDiskGroup *group, uint16_t diskNumber)
{
    uint16_t pos = group->diskMap[diskNumber];
    if (pos >= kAsmMaxDisks || group->disks[pos].diskNumber != diskNumber)
        return nullptr;
    return &group->disks[pos];
}

uint64_t getAsmDiskBytes(const AsmDisk *disk) { return disk->deviceBytes; }

uint64_t getAsmDiskAuCount(const AsmDiskGroup *group, const AsmDisk *disk)
{
    // The disk itself, when its size is known, says how many AUs it holds:
    // a header's size can hide AUs (it may count AUs, not megabytes) or, when
    // damaged, claim AUs that are not there.
    uint32_t au = diskAuSize(group, disk);
    if (disk->deviceBytes != kAsmUnknownSize && au != 0)
        return disk->deviceBytes / au;
    return group->auSize != 0 ? static_cast<uint64_t>(disk->size) * kMegabyte / group->auSize : 0;
}
// Extents a file can have: no more than the disks of the group can hold.
// Disks may be missing from the list, so every number up to the highest
// registered one counts as a disk as large as the largest.  This bounds the
// zeros a damaged count could make a copy write.
uint64_t getAsmGroupAuLimit(const AsmDiskGroup *group)
{
    uint64_t largest = 0;
    uint64_t highest = 0;
    for (uint16_t i = 0; i < group->diskCount; i++) {
        uint64_t aus = getAsmDiskAuCount(group, &group->disks[i]);
        largest = aus > largest ? aus : largest;
        highest = group->disks[i].diskNumber > highest ? group->disks[i].diskNumber : highest;
    }
    return largest * (highest + 1);
}
uint32_t readFromDisk(const AsmDisk *disk, uint64_t offset, uint8_t *buffer, uint32_t length)
{
    if (disk == nullptr || disk->stream == nullptr || length == 0)
        return 0;
    uint32_t done = 0;
    int fd = fileno(disk->stream);
    while (done < length) {
        ssize_t got = pread64(fd, buffer + done, length - done, static_cast<off64_t>(offset + done));
        if (got <= 0)
            return 0;
        done += static_cast<uint32_t>(got);
    }
    return length;
}

uint32_t readDiskGroup(const AsmDiskGroup *group, uint16_t diskNumber, uint32_t au, uint32_t block,
                       uint8_t *buffer, uint32_t length)
{
    const AsmDisk *disk = findAsmDisk(group, diskNumber);
    if (disk == nullptr)
        return 0;
    uint64_t offset = static_cast<uint64_t>(au) * diskAuSize(group, disk) +
                      static_cast<uint64_t>(block) * diskBlockSize(group, disk);
    return readFromDisk(disk, offset, buffer, length);
}

// The block from an AU cache that holds it wholly; false otherwise.
static bool copyBlockFromAu(AsmDiskGroup *group, const AsmAuCache *cache, uint16_t disk, uint32_t au,
                            uint32_t block)
{
    if (cache->buffer == nullptr || cache->disk != disk || cache->au != au)
        return false;
    uint64_t end = (static_cast<uint64_t>(block) + 1) * group->blockSize;
    if (end > group->auSize || end > cache->capacity)
        return false;
    memcpy(group->blockCache.buffer, cache->buffer + end - group->blockSize, group->blockSize);
    return true;
}

uint32_t readDiskGroupBlock(AsmDiskGroup *group, uint16_t diskNumber, uint32_t au, uint32_t block)
{
    AsmBlockCache *cache = &group->blockCache;
    if (cache->buffer == nullptr || cache->capacity < group->blockSize || group->blockSize == 0)
        return 0;
    if (cache->disk == diskNumber && cache->au == au && cache->block == block)
        return group->blockSize;
    bool hit = copyBlockFromAu(group, &group->metadataCache, diskNumber, au, block) ||
               copyBlockFromAu(group, &group->dataCache, diskNumber, au, block);
    if (!hit) {
        cache->disk = kAsmNoDisk;   // its bytes are about to change
        if (readDiskGroup(group, diskNumber, au, block, cache->buffer, group->blockSize) != group->blockSize)
            return 0;
    }
    cache->disk = diskNumber;
    cache->au = au;
    cache->block = static_cast<uint16_t>(block);
    return group->blockSize;
}

static uint32_t readAuInto(AsmDiskGroup *group, AsmAuCache *cache, uint16_t diskNumber, uint32_t au)
{
    if (cache->buffer == nullptr || group->auSize == 0 || group->auSize > cache->capacity)
        return 0;
    if (cache->disk == diskNumber && cache->au == au)
        return group->auSize;
    // A failed read may have overwritten part of the buffer, so the cache is
    // empty until a read succeeds.
    cache->disk = kAsmNoDisk;
    if (readDiskGroup(group, diskNumber, au, 0, cache->buffer, group->auSize) != group->auSize)
        return 0;
    cache->disk = diskNumber;
    cache->au = au;
    return group->auSize;
}

uint32_t readDiskGroupAU(AsmDiskGroup *group, uint16_t diskNumber, uint32_t au)
{
    return readAuInto(group, &group->metadataCache, diskNumber, au);
}

uint32_t readDiskGroupEX(AsmDiskGroup *group, uint16_t diskNumber, uint32_t au)
{
    return readAuInto(group, &group->dataCache, diskNumber, au);
}

void getASMSystemFileEntry(AsmDiskGroup *group)
{
    if (group->f1b1Disk == kAsmNoDisk || group->f1b1Au == kAsmNoAu)
        return;
    if (readDiskGroupAU(group, group->f1b1Disk, group->f1b1Au) == 0)
        return;
    uint32_t blocks = getAsmBlocksPerAu(group);
    for (uint32_t j = 0; j < blocks; j++) {
        AsmBlockView view = asmBlockView(group->metadataCache.buffer + static_cast<size_t>(j) * group->blockSize,
                                         group->blockSize);
        if (getAsmBlockType(&view) != kAsmFileEntryType)
            continue;
        uint32_t number = getAsmBlockNumber(&view);
        if (number == kAsmFileDirectoryFile)
            setSystemRecord(&group->fileDirectory, number, group->f1b1Disk, group->f1b1Au, j);
        else if (number == kAsmDiskDirectoryFile)
            setSystemRecord(&group->diskDirectory, number, group->f1b1Disk, group->f1b1Au, j);
        else if (number == kAsmAliasDirectoryFile)
            setSystemRecord(&group->aliasDirectory, number, group->f1b1Disk, group->f1b1Au, j);
    }
}

void openDiskGroup(FILE *messages, AsmDiskGroup *group, const char *listPath)
{
    closeDiskGroup(group);
    setDiskGroupCache(group);
    FILE *list = fopen64(listPath, "r");
    if (list == nullptr) {
        fprintf(messages, "Cannot open disk list file (%s)!\n", listPath);
        return;
    }
    char line[kListLineSize];
    while (group->diskCount < kAsmMaxDisks && fgets(line, sizeof line, list) != nullptr) {
        cutTrailingBlanks(line);
        if (line[0] == '\0' || line[0] == '#')
            continue;
        registerDisk(messages, group, line, false, 0, 0);
    }
    fclose(list);
    adoptHeaderSizes(group);
    getASMSystemFileEntry(group);
}

void openDiskGroupDisk(FILE *messages, AsmDiskGroup *group, uint16_t diskNumber, const char *path,
                       uint32_t size)
{
    registerDisk(messages, group, path, true, diskNumber, size);
    getASMSystemFileEntry(group);
}
