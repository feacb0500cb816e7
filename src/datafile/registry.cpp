// The datafile registry: the configuration file read by OPEN, opening and
// closing the datafiles, the index from relative file number to registry
// position, and CHECK, which learns each file's real rfn, tablespace number,
// block format and size from its blocks.
//
// Configuration file: one datafile per line, "path [header-size]".  Leading
// blanks are skipped, blank lines and lines starting with "#" are ignored,
// "+N" names ASM file N.  Lines are read in pieces of at most 1023
// characters, each piece counting as a line of its own.
#include <cctype>
#include <cstdlib>
#include <cstring>

// ASM disk groups are the storage below the datafiles: a file inside a disk
// group is read through its extent map.  asm/ needs nothing above core/.
#include "asm/asm.h"
#include "datafile/datafile.h"
#include "core/unload_context.h"

namespace {

constexpr int kConfigLineBuffer = 1024;

// File header (block 1, type 11) fields CHECK reads:
//   48   u32  block size (only the low 16 bits are compared)
//   244  u32  tablespace number, format 0x02
//   332  u32  tablespace number, formats 0xA2 and 0xC2
constexpr uint8_t kDataBlockType = 6;
constexpr uint8_t kFileHeaderType = 11;
constexpr uint32_t kHeaderBlockSizeOffset = 48;
constexpr uint32_t kTablespaceOffsetV7 = 244;
constexpr uint32_t kTablespaceOffset = 332;

// The block-count probe: steps of a million, shrinking tenfold on each miss.
constexpr uint32_t kProbeFirstStep = 1000000;
constexpr int kProbeMaxFailures = 7;

bool isBlank(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

// Leading decimal digits; no digits gives 0.
uint32_t parseLeadingDigits(const char *p)
{
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        p++;
    }
    return value;
}

void clearPosition(DatafileSet *set, uint32_t pos)
{
    set->path[pos][0] = '\0';
    set->headerSize[pos] = 0;
    set->rfn[pos] = static_cast<uint16_t>(pos + 1);
    set->tsn[pos] = 0;
    set->ver[pos] = 0;
    set->bsize[pos] = 0;
    set->blocks[pos] = 0;
    set->sizemb[pos] = 0;
    set->handle[pos] = nullptr;
    set->asmFile[pos] = nullptr;
}

// One configuration line into position pos; false when the line registers
// nothing (blank or comment).
bool parseConfigLine(DatafileSet *set, uint32_t pos, const char *line)
{
    const char *p = line;
    while (*p != '\0' && isBlank(*p))
        p++;
    if (*p == '\0' || *p == '#')
        return false;
    const char *pathStart = p;
    while (*p != '\0' && !isBlank(*p))
        p++;
    size_t pathLength = static_cast<size_t>(p - pathStart);
    if (pathLength > static_cast<size_t>(kDatafilePathMax))
        pathLength = kDatafilePathMax;
    clearPosition(set, pos);
    memcpy(set->path[pos], pathStart, pathLength);
    set->path[pos][pathLength] = '\0';
    while (*p != '\0' && isBlank(*p))
        p++;
    set->headerSize[pos] = parseLeadingDigits(p);
    return true;
}

// Block n of the position as CHECK sees it: with BIGFILE on the registry
// holds one bigfile file, and position p stands for its blocks p * 2^22 + n.
int readCheckBlock(DatafileSet *set, UnloadContext *ctx, uint32_t pos, uint32_t n)
{
    if (ctx->bigfile)
        return readDirect(set, ctx, 0, (pos << kRdbaFileShift) + n);
    return readDirect(set, ctx, pos, n);
}

bool acceptCheckBlock(const UnloadContext *ctx, uint32_t n)
{
    const uint8_t *block = ctx->block;
    uint32_t size = ctx->blockSize;
    uint8_t type = peekBlockType(block, size);
    uint32_t rdba = peekBlockRDBA(block, size, ctx->byteOrder);
    if (type != kDataBlockType && type != kFileHeaderType && getRDBABlock(rdba) != n)
        return false;
    if (!isKnownBlockFormat(peekBlockFormat(block, size)))
        return false;
    if (ctx->corruptList != nullptr &&
        findRDBAArray(ctx->corruptList->rdba, ctx->corruptList->count, rdba))
        return false;
    if (ctx->blockCheck && do_checksum(size, block) != 0)
        return false;
    return true;
}

// Without a file header the first block that looks like one of this file
// may be noise in an overwritten stretch; the file number most blocks agree
// on is taken instead, when they agree with the settings too.
bool inferRfnFromBlocks(const DatafileSet *set, const UnloadContext *ctx, uint32_t pos, uint32_t *rfn)
{
    if (set->handle[pos] == nullptr)
        return false;
    uint8_t *buffer = static_cast<uint8_t *>(malloc(kProbeReadSize));
    if (buffer == nullptr)
        return false;
    ProbeResult r;
    uint64_t fileSize = 0;
    bool taken = probeDatafile(set->path[pos], buffer, kProbeReadSize, &r, &fileSize) == 1 && r.headerless &&
                 r.blockSize == ctx->blockSize && r.byteOrder == ctx->byteOrder &&
                 r.headerSize == set->headerSize[pos] && r.bigfile == (ctx->bigfile != 0);
    free(buffer);
    if (taken)
        *rfn = r.rfn;
    return taken;
}

}  // namespace

uint32_t loadConfig(DatafileSet *set, FILE *config)
{
    set->count = 0;
    set->lastHit = nullptr;
    char line[kConfigLineBuffer];
    while (set->count < static_cast<uint32_t>(kMaxConfigLines) &&
           fgets(line, sizeof line, config) != nullptr) {
        if (parseConfigLine(set, set->count, line))
            set->count++;
    }
    return set->count;
}

bool openDBFile(DatafileSet *set, AsmDiskGroup *group)
{
    bool allOpened = true;
    for (uint32_t pos = 0; pos < set->count; pos++) {
        set->handle[pos] = nullptr;
        set->asmFile[pos] = nullptr;
        const char *path = set->path[pos];
        if (path[0] == '+') {
            uint32_t fileNumber = parseLeadingDigits(path + 1);
            AsmFileRecord *record = static_cast<AsmFileRecord *>(malloc(sizeof(AsmFileRecord)));
            if (record == nullptr)
                continue;
            clearAsmFileRecord(record);
            if (group != nullptr)
                getASMFileEntry(group, record, fileNumber);
            if (record->fileNumber != fileNumber) {
                free(record);
                continue;
            }
            set->asmFile[pos] = record;
            continue;
        }
        FILE *f = fopen64(path, "rb");
        if (f == nullptr) {
            printf("Cannot open file : %s \n", path);
            reportFileError("open", "datafile", path);
            allOpened = false;
            continue;
        }
        // Blocks are read with positioned reads on the descriptor; a stream
        // buffer would only hold a second, stale copy.
        setvbuf(f, nullptr, _IONBF, 0);
        set->handle[pos] = f;
    }
    return allOpened;
}

void freeFileIndex(DatafileSet *set)
{
    for (int b = 0; b < kFileIndexBuckets; b++) {
        FileIndexNode *node = set->index[b];
        while (node != nullptr) {
            FileIndexNode *next = node->next;
            free(node);
            node = next;
        }
        set->index[b] = nullptr;
    }
    set->lastHit = nullptr;
}

void closeDBFile(DatafileSet *set)
{
    uint32_t count = set->count;
    if (count > static_cast<uint32_t>(kMaxDatafiles))
        count = kMaxDatafiles;
    for (uint32_t pos = 0; pos < count; pos++) {
        if (set->handle[pos] != nullptr)
            fclose(set->handle[pos]);
        set->handle[pos] = nullptr;
        free(set->asmFile[pos]);
        set->asmFile[pos] = nullptr;
    }
    set->count = 0;
    freeFileIndex(set);
}

void buildFileIndex(DatafileSet *set)
{
    freeFileIndex(set);
    for (uint32_t pos = 0; pos < set->count; pos++) {
        FileIndexNode *node = static_cast<FileIndexNode *>(malloc(sizeof(FileIndexNode)));
        if (node == nullptr)
            continue;
        node->rfn = set->rfn[pos];
        node->tsn = set->tsn[pos];
        node->position = static_cast<uint16_t>(pos);
        // Pushed at the head: of two files with one rfn the later line wins.
        uint32_t bucket = set->rfn[pos] & (kFileIndexBuckets - 1);
        node->next = set->index[bucket];
        set->index[bucket] = node;
    }
}

int getFileIndex(DatafileSet *set, uint32_t rfn)
{
    if (set->lastHit != nullptr && set->lastHit->rfn == rfn)
        return set->lastHit->position;
    for (FileIndexNode *node = set->index[rfn & (kFileIndexBuckets - 1)]; node != nullptr;
         node = node->next) {
        if (node->rfn == rfn) {
            set->lastHit = node;
            return node->position;
        }
    }
    set->lastHit = nullptr;
    return -1;
}

void checkFileStatus(UnloadContext *ctx, uint32_t pos)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr || pos >= set->count)
        return;
    uint32_t blockSize = ctx->blockSize;
    if (blockSize == 0)
        return;
    const int want = static_cast<int>(blockSize);

    // Every block up to the first one that looks like a block of this file.
    uint32_t n = 1;
    for (;; n++) {
        if (readCheckBlock(set, ctx, pos, n) != want)
            return;
        if (acceptCheckBlock(ctx, n))
            break;
        if (n == 0xFFFFFFFF)
            return;
    }

    const uint8_t *block = ctx->block;
    uint8_t format = peekBlockFormat(block, blockSize);
    uint32_t rdba = peekBlockRDBA(block, blockSize, ctx->byteOrder);
    uint32_t headerBlockSize =
        peekBlockU32(block, blockSize, kHeaderBlockSizeOffset, ctx->byteOrder) & 0xFFFF;
    if (peekBlockType(block, blockSize) == kFileHeaderType && headerBlockSize == blockSize) {
        uint32_t tsOffset = format == 0x02 ? kTablespaceOffsetV7 : kTablespaceOffset;
        set->tsn[pos] =
            static_cast<int32_t>(peekBlockU32(block, blockSize, tsOffset, ctx->byteOrder));
        set->bsize[pos] = static_cast<uint16_t>(headerBlockSize);
    } else {
        set->tsn[pos] = 0;
        set->bsize[pos] = static_cast<uint16_t>(blockSize);
    }
    set->ver[pos] = format;
    set->rfn[pos] = static_cast<uint16_t>(getRDBAFile(rdba));
    uint32_t inferred = 0;
    if (peekBlockType(block, blockSize) != kFileHeaderType && inferRfnFromBlocks(set, ctx, pos, &inferred))
        set->rfn[pos] = static_cast<uint16_t>(inferred);

    uint32_t known = 0;
    uint32_t step = kProbeFirstStep;
    int failures = 0;
    while (failures < kProbeMaxFailures && step > 0) {
        if (readCheckBlock(set, ctx, pos, known + step) == want) {
            known += step;
        } else {
            failures++;
            step /= 10;
        }
    }
    set->blocks[pos] = known;
    uint32_t blocksPerMb = 1048576u / blockSize;
    set->sizemb[pos] = blocksPerMb == 0 ? 0 : static_cast<int32_t>((known + 1ULL) / blocksPerMb);
}

int checkFileHeader(UnloadContext *ctx)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return 0;
    printf("*  ts#  rfn ver bsize     blocks   sizemb hsize filename\n");
    printf("- ---- ---- --- ----- ---------- -------- ----- -----------------------------------\n");
    for (uint32_t pos = 0; pos < set->count; pos++) {
        checkFileStatus(ctx, pos);
        printf("%c %4d %4d %02x  %5d %10u %8d %5d %s\n", isKnownBlockFormat(set->ver[pos]) ? 'Y' : 'N',
               set->tsn[pos], set->rfn[pos], set->ver[pos], set->bsize[pos], set->blocks[pos],
               set->sizemb[pos], static_cast<int>(set->headerSize[pos]), set->path[pos]);
    }
    buildFileIndex(set);
    return 1;
}

bool getDatafileEntry(const DatafileSet *set, uint32_t pos, DatafileEntry *entry)
{
    if (pos >= set->count || pos >= static_cast<uint32_t>(kMaxDatafiles))
        return false;
    entry->path = set->path[pos];
    entry->headerSize = set->headerSize[pos];
    entry->rfn = set->rfn[pos];
    entry->tsn = set->tsn[pos];
    entry->ver = set->ver[pos];
    entry->bsize = set->bsize[pos];
    entry->blocks = set->blocks[pos];
    entry->sizemb = set->sizemb[pos];
    entry->handle = set->handle[pos];
    entry->asmFile = set->asmFile[pos];
    return true;
}

namespace {
const char *orderWord(uint8_t order)
{
    return order ? "BIG" : "LITTLE";
}

// One file against the settings; names it on standard error when its own
// bytes say otherwise, with the lines that would make them agree.
void reportOneFile(const DatafileSet *set, const UnloadContext *ctx, uint32_t pos, uint8_t *buffer)
{
    ProbeResult r;
    uint64_t fileSize = 0;
    if (probeDatafile(set->path[pos], buffer, kProbeReadSize, &r, &fileSize) != 1)
        return;
    const char *path = set->path[pos];
    bool sizeDiffers = r.blockSize != ctx->blockSize;
    bool orderDiffers = r.byteOrder != ctx->byteOrder;
    bool headDiffers = r.headerSize != set->headerSize[pos];
    bool bigfileDiffers = r.bigfile != (ctx->bigfile != 0);
    if (r.headerless)
        fprintf(stderr,
                "zor: datafile %s: file header unreadable; its blocks say block size %u, byte order %s, "
                "header size %u, relative file %u\n",
                path, r.blockSize, orderWord(r.byteOrder), r.headerSize, r.rfn);
    if (!sizeDiffers && !orderDiffers && !headDiffers && !bigfileDiffers)
        return;
    fprintf(stderr,
            "zor: datafile %s: its %s block size %u, byte order %s, header size %u, %s; the settings are "
            "block size %u, byte order %s, header size %u, %s\n",
            path, r.headerless ? "blocks say" : "header says", r.blockSize, orderWord(r.byteOrder),
            r.headerSize, r.bigfile ? "bigfile" : "smallfile", ctx->blockSize, orderWord(ctx->byteOrder),
            set->headerSize[pos], ctx->bigfile ? "bigfile" : "smallfile");
    // Bare lines, so that they can be pasted as they stand.
    if (sizeDiffers)
        fprintf(stderr, "SET BLOCK_SIZE %u\n", r.blockSize);
    if (orderDiffers)
        fprintf(stderr, "SET BYTE_ORDER %s\n", orderWord(r.byteOrder));
    if (bigfileDiffers)
        fprintf(stderr, "SET BIGFILE %s\n", r.bigfile ? "YES" : "NO");
    if (headDiffers)
        fprintf(
            stderr,
            "zor: datafile %s: its configuration file line (the second word is the header size):\n%s %u\n",
            path, path, r.headerSize);
}
}  // namespace

void reportSettingsMismatch(const UnloadContext *ctx)
{
    const DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    uint8_t *buffer = static_cast<uint8_t *>(malloc(kProbeReadSize));
    if (buffer == nullptr)
        return;
    uint32_t count = set->count < static_cast<uint32_t>(kMaxDatafiles) ? set->count : kMaxDatafiles;
    for (uint32_t pos = 0; pos < count; pos++)
        if (set->handle[pos] != nullptr)
            reportOneFile(set, ctx, pos, buffer);
    free(buffer);
}
