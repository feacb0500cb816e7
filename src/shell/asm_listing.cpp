// What the ASM sub-shell prints and writes: the disk listing, file directory
// and alias listings, extent listings, the extent-map scan and its file, the
// copy of a file by that map, and the block dump of an Oracle block.
#include <cstdlib>
#include <cstring>

#include "shell/asm_commands.h"
#include "block/block.h"
#include "view/view.h"
#include "datafile/datafile.h"
#include "core/unload_context.h"

namespace {

constexpr uint32_t kMegabyteShift = 20;
constexpr uint64_t kMapExtentLimit = 134217728;   // extent numbers a map line may carry
constexpr int kMapLineSize = 256;

AsmBlockView blockOfAu(const AsmDiskGroup *group, const uint8_t *au, uint32_t j)
{
    return asmBlockView(au + static_cast<size_t>(j) * group->blockSize, group->blockSize);
}

int asSigned16(uint16_t v) { return static_cast<int16_t>(v); }

void printRecordLocation(FILE *out, const AsmFileRecord *r)
{
    fprintf(out, "(%d,%d,%d,%d)", static_cast<int>(r->fileNumber), asSigned16(r->disk), static_cast<int>(r->au),
            r->block);
}

// 1 for a type-5 block 0, plus one for every block i of type 4 numbered i.
int scoreF1B1(AsmDiskGroup *group)
{
    if (group->f1b1Disk == kAsmNoDisk || readDiskGroupAU(group, group->f1b1Disk, group->f1b1Au) == 0)
        return 0;
    int score = 0;
    uint32_t blocks = getAsmBlocksPerAu(group);
    for (uint32_t j = 0; j < blocks; j++) {
        AsmBlockView view = blockOfAu(group, group->metadataCache.buffer, j);
        uint8_t type = getAsmBlockType(&view);
        if (j == 0 && type == kAsmFileDirectoryFirstType && getAsmBlockNumber(&view) == 0)
            score++;
        else if (j > 0 && type == kAsmFileEntryType && getAsmBlockNumber(&view) == j)
            score++;
    }
    return score;
}

// A disk whose header's size (read as megabytes) disagrees with what the
// disk holds: the scans cover what it holds.
void noteHiddenAus(FILE *out, const AsmDiskGroup *group, const AsmDisk *disk)
{
    uint64_t byHeader = group->auSize != 0 ? static_cast<uint64_t>(disk->size) * 1048576 / group->auSize : 0;
    uint64_t all = getAsmDiskAuCount(group, disk);
    if (all != byHeader)
        fprintf(out, "      disk %d: header size %u MB gives %llu AUs, the disk holds %llu\n", disk->diskNumber,
                disk->size, static_cast<unsigned long long>(byHeader), static_cast<unsigned long long>(all));
}

bool isUsableMapBlock(const AsmBlockView *view)
{
    uint8_t order = asmU8(view, 0);
    return (order == 0 || order == 1) && getAsmBlockFormat(view) == 1;
}

void printMapSlot(FILE *out, const AsmDiskGroup *group, uint32_t file, uint64_t extent, AsmExtentSlotValue slot)
{
    if (slot.au == 0 || slot.disk >= group->diskCount)
        return;
    fprintf(out, "%u,%u,%u,%u\n", file, static_cast<uint32_t>(extent), slot.disk, slot.au);
}

void printMapLinesOfBlock(FILE *out, const AsmDiskGroup *group, const AsmBlockView *view)
{
    if (!isUsableMapBlock(view))
        return;
    uint8_t type = getAsmBlockType(view);
    if (type == kAsmFileEntryType && getAsmBlockNumber(view) != 0) {
        AsmFileEntry entry;
        decodeAsmFileEntry(view, &entry);
        uint32_t direct = entry.slotsUsed < entry.directSlots ? entry.slotsUsed : entry.directSlots;
        for (uint32_t i = 0; i < direct; i++)
            printMapSlot(out, group, entry.fileNumber, i + 1, getAsmExtentSlot(view, i));
    } else if (type == kAsmIndirectType && getAsmBlockOwner(view) != 0) {
        uint32_t count = getAsmIndirectCount(view);
        uint64_t preceding = getAsmIndirectPreceding(view);
        for (uint32_t i = 0; i < count && preceding + i + 1 < kMapExtentLimit; i++)
            printMapSlot(out, group, getAsmBlockOwner(view), preceding + i + 1, getAsmExtentSlot(view, i));
    }
}

void printEntryLine(FILE *out, uint16_t disk, uint32_t au, uint32_t j, const AsmFileEntry *e)
{
    fprintf(out, "%8d %5d %8d %3d %8lld %4d %4d %d,%d\n", static_cast<int>(e->fileNumber), disk,
            static_cast<int>(au), static_cast<int>(j), static_cast<long long>(e->size >> kMegabyteShift), e->flags,
            e->type, static_cast<int>(e->alias0), static_cast<int>(e->alias1));
}

void printAliasLines(FILE *out, const AsmBlockView *view)
{
    AsmAliasEntry entry;
    for (uint32_t i = 0; getAsmAliasEntry(view, i, &entry) == 1; i++) {
        if (entry.flag != 4 && entry.flag != 18)
            continue;
        fprintf(out, "%8d %12d %6d %6d %4d %6d %s\n", static_cast<int>(entry.fileNumber),
                static_cast<int>(entry.incarnation), static_cast<int>(getAsmAliasParent(view)),
                static_cast<int>(getAsmAliasFirstBlock(view)), entry.flag, static_cast<int>(entry.refer),
                entry.name);
    }
}

// Each block of each AU of a system file (file directory or alias directory).
void listSystemFile(FILE *out, AsmDiskGroup *group, const AsmFileRecord *record, bool alias)
{
    AsmExtentWalk walk;
    if (!startAsmExtentWalk(&walk, group, record))
        return;
    uint32_t blocks = getAsmBlocksPerAu(group);
    AsmExtentStep step;
    while (nextAsmExtent(&walk, &step)) {
        if (step.missing || readDiskGroupAU(group, step.disk, step.au) == 0)
            continue;
        for (uint32_t j = 0; j < blocks; j++) {
            AsmBlockView view = blockOfAu(group, group->metadataCache.buffer, j);
            AsmFileEntry entry;
            if (alias && getAsmBlockType(&view) == kAsmAliasType && getAsmBlockOwner(&view) != 0)
                printAliasLines(out, &view);
            else if (!alias && decodeAsmFileEntry(&view, &entry) && entry.fileNumber != 0 && entry.size != 0)
                printEntryLine(out, step.disk, step.au, j, &entry);
        }
    }
    endAsmExtentWalk(&walk);
}

bool isValidSystemRecord(AsmDiskGroup *group, const AsmFileRecord *record)
{
    AsmFileEntry entry;
    return record->fileNumber != 0 && record->fileNumber != kAsmNoAu && readAsmFileEntryBlock(group, record, &entry);
}

}  // namespace

void printDiskGroup(FILE *out, AsmDiskGroup *group)
{
    if (group->diskCount == 0)
        return;
    fprintf(out, "Total Disks = %d, ausize=%d, blksize=%d\n", group->diskCount, static_cast<int>(group->auSize),
            group->blockSize);
    fputs("\n", out);
    fputs(" disk     size block disk name        disk group   disk path               \n", out);
    fputs("===== ======== ===== ================ ============ ========================\n", out);
    for (uint16_t i = 0; i < group->diskCount; i++) {
        const AsmDisk *d = &group->disks[i];
        char name[kAsmNameSize + 1];
        char groupName[kAsmNameSize + 1];
        snprintf(name, sizeof name, "%.*s", kAsmNameSize, d->diskName);
        snprintf(groupName, sizeof groupName, "%.*s", kAsmNameSize, d->groupName);
        fprintf(out, "%5d %8d %5d %-*s %-*s %s\n", d->diskNumber, static_cast<int>(d->size), d->blockSize, 16, name,
                12, groupName, d->path);
        noteHiddenAus(out, group, d);
    }
    fputs("\n", out);
    fprintf(out, "f1b1disk = %d, f1b1au = %d, score=%d, compat=0x%08x\n", asSigned16(group->f1b1Disk),
            static_cast<int>(group->f1b1Au), scoreF1B1(group), group->compat);
    fputs("file=", out);
    printRecordLocation(out, &group->fileDirectory);
    fputs(", disk=", out);
    printRecordLocation(out, &group->diskDirectory);
    fputs(", alias=", out);
    printRecordLocation(out, &group->aliasDirectory);
    fputs("\n", out);
}

void listASMFileEntryAU(FILE *out, AsmDiskGroup *group, uint16_t disk, uint32_t au)
{
    if (readDiskGroupAU(group, disk, au) == 0)
        return;
    uint32_t blocks = getAsmBlocksPerAu(group);
    for (uint32_t j = 0; j < blocks; j++) {
        AsmBlockView view = blockOfAu(group, group->metadataCache.buffer, j);
        AsmFileEntry e;
        if (getAsmBlockOwner(&view) != kAsmFileDirectoryFile || !decodeAsmFileEntry(&view, &e) ||
            static_cast<uint32_t>(e.size) == 0)
            continue;
        fprintf(out, "fileid=%d, disk=%d, au=%d, block=%d, size=%lld, aus=%d, flags=%d, type=%d\n",
                static_cast<int>(e.fileNumber), disk, static_cast<int>(au), static_cast<int>(j),
                static_cast<long long>(e.size), static_cast<int>(e.extentCount), e.flags, e.type);
    }
}

void listASMFileExtentMap(FILE *out, AsmDiskGroup *group, uint16_t disk, uint32_t au)
{
    if (readDiskGroupAU(group, disk, au) == 0)
        return;
    uint32_t blocks = getAsmBlocksPerAu(group);
    for (uint32_t j = 0; j < blocks; j++) {
        AsmBlockView view = blockOfAu(group, group->metadataCache.buffer, j);
        printMapLinesOfBlock(out, group, &view);
    }
}

void scanASMFileExtentMap(FILE *out, AsmDiskGroup *group)
{
    // A disk whose size cannot be learned is scanned as far as its header
    // says, but a long run of unreadable AUs means its end has passed.
    constexpr uint32_t kFailedAusPastTheEnd = 1024;
    for (uint16_t i = 0; i < group->diskCount; i++) {
        const AsmDisk *disk = &group->disks[i];
        uint64_t aus = getAsmDiskAuCount(group, disk);
        bool sized = getAsmDiskBytes(disk) != kAsmUnknownSize;
        uint32_t failed = 0;
        for (uint64_t au = 0; au < aus && au < kAsmNoAu && (sized || failed < kFailedAusPastTheEnd); au++) {
            bool read = readDiskGroupAU(group, disk->diskNumber, static_cast<uint32_t>(au)) != 0;
            failed = read ? 0 : failed + 1;
            if (read)
                listASMFileExtentMap(out, group, disk->diskNumber, static_cast<uint32_t>(au));
        }
    }
}

void listASMFileEntry(FILE *out, AsmDiskGroup *group, const AsmFileRecord *directory)
{
    if (!isValidSystemRecord(group, directory))
        return;
    fputs("    file  disk       au blk     size flag type alias0,alias1              \n", out);
    fputs("======== ===== ======== === ======== ==== ==== ===========================\n", out);
    listSystemFile(out, group, directory, false);
}

void listASMAliasEntry(FILE *out, AsmDiskGroup *group, const AsmFileRecord *aliasDirectory)
{
    if (!isValidSystemRecord(group, aliasDirectory))
        return;
    fputs("    file          inc parent fstblk flag  refer alias                     \n", out);
    fputs("======== ============ ====== ====== ==== ====== ==========================\n", out);
    listSystemFile(out, group, aliasDirectory, true);
}

void listASMFileExtent(FILE *out, AsmDiskGroup *group, const AsmFileRecord *record)
{
    AsmExtentWalk walk;
    if (!startAsmExtentWalk(&walk, group, record))
        return;
    const AsmFileEntry *e = &walk.entry;
    fprintf(out, "fid=%d, disk=%d, au=%d, block=%d\n", static_cast<int>(record->fileNumber), record->disk,
            static_cast<int>(record->au), record->block);
    fprintf(out, "siz=%lld, ecnt=%d, eeof=%d, flags=%d, type=%d, alias=%d,%d\n",
            static_cast<long long>(e->size >> kMegabyteShift), static_cast<int>(e->extentCount),
            static_cast<int>(e->eeof), e->flags, e->type, static_cast<int>(e->alias0), static_cast<int>(e->alias1));
    fputs("     extid  disk       auid  cnt flg chk\n", out);
    fputs("========== ===== ========== ==== === ===\n", out);
    AsmExtentStep step;
    while (nextAsmExtent(&walk, &step)) {
        if (step.missing) {
            fprintf(out, "ERROR: missing (%d) extents\n", static_cast<int>(step.count));
            continue;
        }
        fprintf(out, "%10d %5d %10d %4d %3d %3d\n", static_cast<int>(step.extent), step.disk,
                static_cast<int>(step.au), static_cast<int>(getAsmExtentAuCount(group, step.extent)), step.flags,
                step.check);
    }
    endAsmExtentWalk(&walk);
}

void listASMFileExtent2(FILE *out, AsmDiskGroup *group, AsmFileRecord *record, uint32_t firstExtent)
{
    readFileExtentCache(group, record, firstExtent);
    for (int i = 0; i < kAsmExtentSlots; i++) {
        const AsmExtentSlot *slot = &record->extents[i];
        if (slot->extent != 0)
            fprintf(out, "extentid=%d, disk=%d, au=%d\n", static_cast<int>(slot->extent), asSigned16(slot->disk),
                    static_cast<int>(slot->au));
    }
}

void listASMExtentPolicy(FILE *out, const AsmDiskGroup *group)
{
    fputs("    au start       au end    aunum\n", out);
    fputs("============ ============ ========\n", out);
    fprintf(out, "%12u %12u %8u\n", 1u, group->policy[0].lastExtent, group->policy[0].auCount);
    for (int k = 1; k < kAsmPolicyLevels && group->policy[k - 1].lastExtent != 0xFFFFFFFFu; k++)
        fprintf(out, "%12u %12u %8u\n", group->policy[k - 1].lastExtent + 1, group->policy[k].lastExtent,
                group->policy[k].auCount);
}

void dumpASMFileBlock(FILE *out, AsmDiskGroup *group, UnloadContext *ctx, AsmFileRecord *record, uint64_t block)
{
    uint32_t size = group->oracleBlock;
    if (ctx == nullptr || size == 0)
        return;
    UnloadContext *copy = static_cast<UnloadContext *>(calloc(1, sizeof(UnloadContext)));
    uint8_t *bytes = static_cast<uint8_t *>(malloc(size));
    if (copy != nullptr && bytes != nullptr && copyBlock(ctx, copy) == 1 &&
        readASMFileData(group, record, block, size, bytes, size) == size) {
        free(copy->block);
        copy->block = bytes;
        copy->blockSize = static_cast<uint16_t>(size);
        bytes = nullptr;
        printHeader(out, copy);
    }
    if (copy != nullptr)
        free(copy->block);
    free(copy);
    free(bytes);
}

// ---------------------------------------------------------------------------
// Extent map files.

namespace {

// "file,extent,disk,au"; false for a line to ignore.
bool parseMapLine(const char *line, uint32_t values[4])
{
    if (line[0] == '\0' || line[0] == '#' || line[0] == '\n' || line[0] == '\r')
        return false;
    const char *p = line;
    for (int i = 0; i < 4; i++) {
        char *end = nullptr;
        unsigned long long v = strtoull(p, &end, 10);
        if (end == p || v > UINT32_MAX)
            return false;
        values[i] = static_cast<uint32_t>(v);
        if (i < 3) {
            if (*end != ',')
                return false;
            p = end + 1;
        }
    }
    return true;
}

int compareMapEntries(const void *a, const void *b)
{
    uint32_t x = static_cast<const AsmMapEntry *>(a)->extent;
    uint32_t y = static_cast<const AsmMapEntry *>(b)->extent;
    return x < y ? -1 : (x > y ? 1 : 0);
}

void writeZeroAus(FILE *out, const uint8_t *zeros, uint32_t auSize, uint32_t count, uint64_t *written)
{
    for (uint32_t i = 0; i < count; i++) {
        fwrite(zeros, 1, auSize, out);
        *written += auSize;
    }
}

}  // namespace

int readFileExtentMap(const char *mapPath, AsmMapEntry *entries, uint32_t *count, uint32_t file, uint32_t first,
                      uint32_t last)
{
    *count = 0;
    FILE *map = fopen64(mapPath, "r");
    if (map == nullptr)
        return 0;
    int beyond = 0;
    char line[kMapLineSize];
    uint32_t v[4];
    while (fgets(line, sizeof line, map) != nullptr) {
        if (!parseMapLine(line, v) || v[0] != file || v[2] == kAsmNoAu || v[3] == kAsmNoAu)
            continue;
        if (v[1] > last)
            beyond = 1;
        else if (v[1] >= first && *count < kAsmMapWindow)
            entries[(*count)++] = AsmMapEntry{v[1], v[2], v[3]};
    }
    fclose(map);
    return beyond;
}

uint64_t copyASMFileOutWithMap(FILE *out, const char *mapPath, AsmDiskGroup *group, uint32_t file)
{
    if (group->auSize == 0 || group->auSize > group->dataCache.capacity)
        return 0;
    AsmMapEntry *entries = static_cast<AsmMapEntry *>(malloc(sizeof(AsmMapEntry) * kAsmMapWindow));
    uint8_t *zeros = static_cast<uint8_t *>(calloc(1, group->auSize));
    uint64_t written = 0;
    // A map line beyond the extents the group can hold is damage, and
    // filling the gap before it would write zeros without end.
    uint64_t limit = getAsmGroupAuLimit(group);
    uint64_t next = 1;          // next extent to write
    uint64_t windowFirst = 1;
    int more = 1;
    while (entries != nullptr && zeros != nullptr && more && windowFirst <= limit) {
        uint64_t windowLast = windowFirst + kAsmMapWindow - 1;
        uint32_t count = 0;
        more = readFileExtentMap(mapPath, entries, &count, file, static_cast<uint32_t>(windowFirst),
                                 static_cast<uint32_t>(windowLast < UINT32_MAX ? windowLast : UINT32_MAX));
        qsort(entries, count, sizeof(AsmMapEntry), compareMapEntries);
        for (uint32_t i = 0; i < count; i++) {
            const AsmMapEntry *e = &entries[i];
            if (e->extent < next || e->extent > limit)
                continue;
            for (; next < e->extent; next++)
                writeZeroAus(out, zeros, group->auSize, getAsmExtentAuCount(group, static_cast<uint32_t>(next)),
                             &written);
            uint32_t aus = getAsmExtentAuCount(group, e->extent);
            for (uint32_t k = 0; k < aus; k++) {
                bool read = readDiskGroupEX(group, static_cast<uint16_t>(e->disk), e->au + k) != 0;
                fwrite(read ? group->dataCache.buffer : zeros, 1, group->auSize, out);
                written += group->auSize;
            }
            next = e->extent + 1;
        }
        windowFirst = next > windowLast ? next : windowLast + 1;
    }
    free(entries);
    free(zeros);
    return written;
}
