// Files inside the disk group: the walk over a file's extents (direct slots,
// then indirect extent blocks), locating a file's directory entry through the
// file directory, the extent cache, and the reads the rest of the system
// makes of ASM-resident datafiles, and copying whole files out.
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "asm/asm.h"

namespace {

// Extents the entry's slots can name: its direct slots, and for each
// indirect AU every slot of every block in it.
uint32_t entryExtentLimit(const AsmDiskGroup *group, const AsmFileEntry *entry)
{
    uint64_t direct = getAsmDirectExtentCount(entry);
    uint64_t indirectAus = entry->slotsUsed > entry->directSlots ? entry->slotsUsed - entry->directSlots : 0;
    uint64_t perBlock = group->blockSize > kAsmIndirectSlotsOffset
                            ? (group->blockSize - kAsmIndirectSlotsOffset) / kAsmSlotSize : 0;
    uint64_t total = direct + indirectAus * getAsmBlocksPerAu(group) * perBlock;
    return total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

AsmBlockView entryView(const AsmExtentWalk *walk)
{
    return asmBlockView(walk->entryBlock, walk->group->blockSize);
}

// The next indirect AU of the entry; false when none is left.
bool moveToNextIndirectAu(AsmExtentWalk *walk)
{
    if (walk->slot < walk->entry.directSlots)
        walk->slot = walk->entry.directSlots;
    if (walk->slot >= walk->entry.slotsUsed)
        return false;
    AsmBlockView view = entryView(walk);
    AsmExtentSlotValue slot = getAsmExtentSlot(&view, walk->slot++);
    walk->indirectDisk = slot.disk;
    walk->indirectAu = slot.au;
    walk->nextBlock = 0;
    return true;
}

// Takes up the next block of the indirect AU.  Returns true with *step set
// when the block opens with a run of missing extents.
bool takeIndirectBlock(AsmExtentWalk *walk, AsmExtentStep *step, bool *gap)
{
    AsmDiskGroup *group = walk->group;
    *gap = false;
    uint32_t block = walk->nextBlock++;
    if (readDiskGroupBlock(group, walk->indirectDisk, walk->indirectAu, block) == 0)
        return false;
    AsmBlockView view = asmBlockView(group->blockCache.buffer, group->blockSize);
    if (getAsmBlockType(&view) != kAsmIndirectType || getAsmBlockOwner(&view) != walk->entry.fileNumber)
        return false;
    uint32_t preceding = getAsmIndirectPreceding(&view);
    // Behind the extents already found (a repeated or stale block), or ahead
    // of every extent the file can have: not a continuation.
    if (preceding < walk->seen || preceding >= walk->extentLimit)
        return false;
    memcpy(walk->indirectBlock, group->blockCache.buffer, group->blockSize);
    walk->blockSlots = getAsmIndirectCount(&view);
    walk->blockSlot = 0;
    if (preceding > walk->seen) {
        *step = AsmExtentStep{walk->seen + 1, preceding - walk->seen, kAsmNoDisk, kAsmNoAu, 0, 0, true, false};
        walk->seen = preceding;
        *gap = true;
    }
    return true;
}

bool nextIndirectExtent(AsmExtentWalk *walk, AsmExtentStep *step)
{
    uint32_t blocksPerAu = getAsmBlocksPerAu(walk->group);
    while (walk->seen < walk->extentLimit) {
        if (walk->blockSlot < walk->blockSlots) {
            AsmBlockView view = asmBlockView(walk->indirectBlock, walk->group->blockSize);
            AsmExtentSlotValue slot = getAsmExtentSlot(&view, walk->blockSlot++);
            walk->seen++;
            *step = AsmExtentStep{walk->seen, 1, slot.disk, slot.au, slot.flags, slot.check, false, false};
            return true;
        }
        if (walk->nextBlock < blocksPerAu) {
            bool gap = false;
            if (takeIndirectBlock(walk, step, &gap) && gap)
                return true;
            continue;
        }
        if (!moveToNextIndirectAu(walk))
            return false;
    }
    return false;
}

}  // namespace

bool readAsmFileEntryBlock(AsmDiskGroup *group, const AsmFileRecord *record, AsmFileEntry *entry)
{
    if (record->au == kAsmNoAu || readDiskGroupBlock(group, record->disk, record->au, record->block) == 0)
        return false;
    AsmBlockView view = asmBlockView(group->blockCache.buffer, group->blockSize);
    return decodeAsmFileEntry(&view, entry) && entry->fileNumber == record->fileNumber;
}

bool startAsmExtentWalk(AsmExtentWalk *walk, AsmDiskGroup *group, const AsmFileRecord *record)
{
    memset(walk, 0, sizeof *walk);
    walk->group = group;
    if (!readAsmFileEntryBlock(group, record, &walk->entry))
        return false;
    walk->entryBlock = static_cast<uint8_t *>(malloc(group->blockSize));
    walk->indirectBlock = static_cast<uint8_t *>(malloc(group->blockSize));
    if (walk->entryBlock == nullptr || walk->indirectBlock == nullptr) {
        endAsmExtentWalk(walk);
        return false;
    }
    memcpy(walk->entryBlock, group->blockCache.buffer, group->blockSize);
    uint64_t groupLimit = getAsmGroupAuLimit(group);
    uint32_t limit = groupLimit > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(groupLimit);
    uint32_t slots = entryExtentLimit(group, &walk->entry);
    limit = slots < limit ? slots : limit;
    walk->extentLimit = walk->entry.extentCount < limit ? walk->entry.extentCount : limit;
    walk->nextBlock = getAsmBlocksPerAu(group);   // no indirect AU in hand yet
    return true;
}

bool nextAsmExtent(AsmExtentWalk *walk, AsmExtentStep *step)
{
    uint32_t direct = getAsmDirectExtentCount(&walk->entry);
    if (walk->slot < direct && walk->seen < walk->extentLimit) {
        AsmBlockView view = entryView(walk);
        AsmExtentSlotValue slot = getAsmExtentSlot(&view, walk->slot);
        walk->slot++;
        walk->seen++;
        *step = AsmExtentStep{walk->seen, 1, slot.disk, slot.au, slot.flags, slot.check, false, true};
        return true;
    }
    return nextIndirectExtent(walk, step);
}

void endAsmExtentWalk(AsmExtentWalk *walk)
{
    free(walk->entryBlock);
    free(walk->indirectBlock);
    walk->entryBlock = nullptr;
    walk->indirectBlock = nullptr;
}

// ---------------------------------------------------------------------------
// Locating a file's directory entry.

namespace {

bool isEntryOf(const AsmDiskGroup *group, const uint8_t *block, uint32_t fileNumber)
{
    AsmBlockView view = asmBlockView(block, group->blockSize);
    return getAsmBlockType(&view) == kAsmFileEntryType && getAsmBlockNumber(&view) == fileNumber &&
           fileNumber != 0;
}

void nameEntry(AsmFileRecord *record, uint32_t fileNumber, uint16_t disk, uint32_t au, uint32_t block)
{
    record->fileNumber = fileNumber;
    record->disk = disk;
    record->au = au;
    record->block = static_cast<uint16_t>(block);
}

// Entry N is block N of the file directory: look there first.
bool findEntryWhereExpected(AsmDiskGroup *group, const AsmFileRecord *directory, AsmFileRecord *record,
                            uint32_t fileNumber)
{
    uint32_t perAu = getAsmBlocksPerAu(group);
    if (perAu == 0)
        return false;
    uint32_t wanted = fileNumber / perAu + 1;
    AsmExtentWalk walk;
    if (!startAsmExtentWalk(&walk, group, directory))
        return false;
    AsmExtentStep step;
    bool found = false;
    while (!found && nextAsmExtent(&walk, &step) && step.extent <= wanted) {
        if (step.missing || step.extent != wanted)
            continue;
        uint32_t block = fileNumber % perAu;
        if (readDiskGroupBlock(group, step.disk, step.au, block) != 0 &&
            isEntryOf(group, group->blockCache.buffer, fileNumber)) {
            nameEntry(record, fileNumber, step.disk, step.au, block);
            found = true;
        }
    }
    endAsmExtentWalk(&walk);
    return found;
}

// Every block of every extent of the file directory.
bool searchEntry(AsmDiskGroup *group, const AsmFileRecord *directory, AsmFileRecord *record, uint32_t fileNumber)
{
    AsmExtentWalk walk;
    if (!startAsmExtentWalk(&walk, group, directory))
        return false;
    uint32_t perAu = getAsmBlocksPerAu(group);
    AsmExtentStep step;
    bool found = false;
    while (!found && nextAsmExtent(&walk, &step)) {
        if (step.missing || readDiskGroupAU(group, step.disk, step.au) == 0)
            continue;
        for (uint32_t j = 0; j < perAu && !found; j++) {
            if (isEntryOf(group, group->metadataCache.buffer + static_cast<size_t>(j) * group->blockSize,
                          fileNumber)) {
                nameEntry(record, fileNumber, step.disk, step.au, j);
                found = true;
            }
        }
    }
    endAsmExtentWalk(&walk);
    return found;
}

}  // namespace

int getASMFileEntry(AsmDiskGroup *group, AsmFileRecord *record, uint32_t fileNumber)
{
    if (record->fileNumber == fileNumber && record->au != kAsmNoAu &&
        readDiskGroupBlock(group, record->disk, record->au, record->block) != 0 &&
        isEntryOf(group, group->blockCache.buffer, fileNumber))
        return 1;
    if (group->f1b1Disk == kAsmNoDisk || group->f1b1Au == kAsmNoAu)
        return 0;
    AsmFileRecord *directory = static_cast<AsmFileRecord *>(malloc(sizeof(AsmFileRecord)));
    if (directory == nullptr)
        return 0;
    clearAsmFileRecord(directory);
    nameEntry(directory, kAsmFileDirectoryFile, group->f1b1Disk, group->f1b1Au, 1);
    int found = 0;
    if (fileNumber == kAsmFileDirectoryFile) {
        AsmFileEntry entry;
        if (readAsmFileEntryBlock(group, directory, &entry)) {
            nameEntry(record, fileNumber, directory->disk, directory->au, directory->block);
            found = 1;
        }
    } else if (findEntryWhereExpected(group, directory, record, fileNumber) ||
               searchEntry(group, directory, record, fileNumber)) {
        found = 1;
    }
    free(directory);
    return found;
}

// ---------------------------------------------------------------------------
// The extent cache and data reads.

static void emptyExtentCache(AsmFileRecord *record)
{
    for (int i = 0; i < kAsmExtentSlots; i++)
        record->extents[i] = AsmExtentSlot{0, kAsmNoDisk, kAsmNoAu};
}

void readFileExtentCache(AsmDiskGroup *group, AsmFileRecord *record, uint32_t extent)
{
    if (extent != 0 && record->extents[extent & 0x3FF].extent == extent)
        return;
    emptyExtentCache(record);
    record->byteLimit = 0;
    AsmExtentWalk walk;
    if (!startAsmExtentWalk(&walk, group, record))
        return;
    uint64_t size = walk.entry.size;
    uint64_t allAus = static_cast<uint64_t>(walk.entry.extentCount) * group->auSize;
    if (size != 0 && size <= allAus && allAus - size < group->auSize)
        record->byteLimit = size;
    uint64_t end = static_cast<uint64_t>(extent) + kAsmExtentSlots;   // window [extent, end)
    AsmExtentStep step;
    while (nextAsmExtent(&walk, &step) && step.extent < end) {
        uint64_t last = static_cast<uint64_t>(step.extent) + step.count;
        for (uint64_t k = step.extent > extent ? step.extent : extent; k < last && k < end; k++) {
            AsmExtentSlot *slot = &record->extents[k & 0x3FF];
            uint32_t number = static_cast<uint32_t>(k);
            *slot = step.missing ? AsmExtentSlot{number, kAsmNoDisk, kAsmNoAu}
                                 : AsmExtentSlot{number, step.disk, step.au};
        }
    }
    endAsmExtentWalk(&walk);
}

// Bytes of the file at offset, up to the end of the AU that holds it; the
// number placed in dest (0 on any failure).
static uint32_t readAsmAuPiece(AsmDiskGroup *group, AsmFileRecord *record, uint64_t offset, uint8_t *dest,
                               uint32_t length)
{
    uint32_t index = 0;
    uint32_t auCount = 0;
    uint64_t start = 0;
    getASMFileOffsetAU(group, offset, &index, &auCount, &start);
    if (index == UINT32_MAX)
        return 0;
    uint32_t extent = index + 1;
    readFileExtentCache(group, record, extent);
    const AsmExtentSlot *slot = &record->extents[extent & 0x3FF];
    if (slot->extent != extent || slot->au == kAsmNoAu || slot->disk == kAsmNoDisk)
        return 0;
    uint64_t auInExtent = (offset - start) / group->auSize;
    if (auInExtent >= auCount || slot->au + auInExtent >= kAsmNoAu)
        return 0;
    if (readDiskGroupEX(group, slot->disk, static_cast<uint32_t>(slot->au + auInExtent)) == 0)
        return 0;
    uint32_t within = static_cast<uint32_t>((offset - start) % group->auSize);
    uint32_t piece = group->auSize - within < length ? group->auSize - within : length;
    if (record->byteLimit != 0) {
        if (offset >= record->byteLimit)
            return 0;
        if (record->byteLimit - offset < piece)
            piece = static_cast<uint32_t>(record->byteLimit - offset);
    }
    memcpy(dest, group->dataCache.buffer + within, piece);
    return piece;
}

uint32_t readASMOracleBlock(AsmDiskGroup *group, AsmFileRecord *record, uint32_t firstBlock,
                            uint32_t blockSize, uint8_t *dest, uint32_t blockCount)
{
    if (blockSize == 0 || group->auSize == 0 || group->auSize % blockSize != 0 || blockCount == 0)
        return 0;
    // One piece: a request is cut at the end of the AU holding its first block.
    uint64_t offset = static_cast<uint64_t>(firstBlock) * blockSize;
    uint32_t perAu = group->auSize / blockSize;
    uint32_t blocks = blockCount < perAu ? blockCount : perAu;
    uint32_t got = readAsmAuPiece(group, record, offset, dest, blocks * blockSize);
    return got - got % blockSize;
}

uint32_t readASMFileData(AsmDiskGroup *group, AsmFileRecord *record, uint64_t block, uint32_t blockSize,
                         uint8_t *dest, uint32_t length)
{
    if (group->auSize == 0 || length == 0 || length > group->auSize)
        return 0;
    uint64_t offset = block * blockSize;
    uint32_t done = 0;
    while (done < length) {
        uint32_t got = readAsmAuPiece(group, record, offset + done, dest + done, length - done);
        if (got == 0)
            return 0;
        done += got;
    }
    return length;
}

uint32_t readASMStripFileData(AsmDiskGroup *group, AsmFileRecord *record, uint64_t offset, uint8_t *dest)
{
    uint64_t z = group->stripSize;
    uint64_t w = group->stripWidth;
    uint64_t a = group->auSize;
    if (z == 0 || w == 0 || z > a)
        return 0;
    uint64_t stripe = offset / z;
    uint64_t perGroup = (a / z) * w;
    uint64_t g = stripe / perGroup;
    uint64_t r = stripe % perGroup;
    uint64_t physical = a * ((r % w) + w * g) + z * (r / w);
    return readASMFileData(group, record, physical, 1, dest, group->stripSize);
}

// ---------------------------------------------------------------------------
// Copying whole files out.

namespace {

struct CopyState {
    FILE *out;
    AsmDiskGroup *group;
    uint8_t *zeros;
    uint64_t written;
    bool failed;
};

void writeBytes(CopyState *copy, const uint8_t *bytes, uint32_t length)
{
    if (fwrite(bytes, 1, length, copy->out) != length)
        copy->failed = true;
    copy->written += length;
}

// auCount consecutive AUs from (disk, au); each unreadable one as zeros.
void copyAus(CopyState *copy, uint16_t disk, uint32_t au, uint32_t auCount)
{
    AsmDiskGroup *group = copy->group;
    for (uint32_t i = 0; i < auCount && !copy->failed; i++) {
        bool read = au != kAsmNoAu && disk != kAsmNoDisk && au + static_cast<uint64_t>(i) < kAsmNoAu &&
                    readDiskGroupEX(group, disk, au + i) != 0;
        writeBytes(copy, read ? group->dataCache.buffer : copy->zeros, group->auSize);
    }
}

void copyStep(CopyState *copy, const AsmExtentStep *step)
{
    if (!step->missing) {
        // Each extent is read afresh: its AU may have been rewritten in the
        // data cache by the walk's own metadata reads.
        copy->group->dataCache.disk = kAsmNoDisk;
        uint32_t auCount = step->direct ? 1 : getAsmExtentAuCount(copy->group, step->extent);
        copyAus(copy, step->disk, step->au, auCount);
        return;
    }
    for (uint32_t k = 0; k < step->count && !copy->failed; k++)
        copyAus(copy, kAsmNoDisk, kAsmNoAu, getAsmExtentAuCount(copy->group, step->extent + k));
}

// A copy holds whole AUs; the file itself ends where its directory entry
// says when that lies inside the last AU written.
uint64_t trimToFileSize(FILE *out, uint64_t written, uint64_t size, uint32_t auSize)
{
    if (size == 0 || size >= written || written - size >= auSize)
        return written;
    if (fflush(out) != 0 || ftruncate(fileno(out), static_cast<off_t>(size)) != 0)
        return written;
    fseeko(out, static_cast<off_t>(size), SEEK_SET);
    return size;
}

}  // namespace

uint64_t copyASMFileOut(FILE *out, AsmDiskGroup *group, AsmFileRecord *record)
{
    if (group->auSize == 0 || group->auSize > group->dataCache.capacity)
        return 0;
    AsmExtentWalk walk;
    if (!startAsmExtentWalk(&walk, group, record))
        return 0;
    CopyState copy{out, group, static_cast<uint8_t *>(calloc(1, group->auSize)), 0, false};
    if (copy.zeros != nullptr) {
        AsmExtentStep step;
        while (!copy.failed && nextAsmExtent(&walk, &step))
            copyStep(&copy, &step);
    }
    free(copy.zeros);
    uint64_t size = walk.entry.size;
    endAsmExtentWalk(&walk);
    if (copy.failed)
        return copy.written;
    return trimToFileSize(out, copy.written, size, group->auSize);
}

uint64_t copyASMStripFileOut(FILE *out, AsmDiskGroup *group, AsmFileRecord *record)
{
    if (group->stripSize == 0 || group->stripSize > group->auSize)
        return 0;
    uint8_t *stripe = static_cast<uint8_t *>(malloc(group->stripSize));
    if (stripe == nullptr)
        return 0;
    uint64_t written = 0;
    while (readASMStripFileData(group, record, written, stripe) == group->stripSize) {
        if (fwrite(stripe, 1, group->stripSize, out) != group->stripSize)
            break;
        written += group->stripSize;
    }
    free(stripe);
    return written;
}
