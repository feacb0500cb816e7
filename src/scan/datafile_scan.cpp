// Datafile scans: whole-file walks that find segment headers, runs of data
// blocks and extents, the four-process parallel extent scan, and the
// segment-header search behind UNLOAD.
//
// Extent file line: "objd,rfn,first,count" CR LF, one per run of consecutive
// data blocks (type 6) of one non-zero object id in one file.
#include "scan/scan.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "block/block.h"
#include "view/view.h"
#include "datafile/datafile.h"

namespace {

constexpr uint8_t kBlockTypeData = 6;
constexpr uint32_t kDataObjectIdOffset = 24;   // of a data block (type 6)
constexpr uint8_t kFreeListSegHeader = 16;
constexpr uint8_t kFreeListSegHeaderAlt = 17;
constexpr uint8_t kAssmSegHeader = 35;
constexpr uint32_t kFirstScannedBlock = 2;
constexpr int kBlockTypes = 256;
constexpr int kAddressesPerType = 10;
constexpr int kMergeLineSize = 1024;   // lines of up to 1023 characters

bool isSegmentHeaderType(uint8_t type)
{
    return type == kFreeListSegHeader || type == kFreeListSegHeaderAlt || type == kAssmSegHeader;
}

uint32_t positionCount(const DatafileSet *set)
{
    return set->count < static_cast<uint32_t>(kMaxDatafiles) ? set->count : kMaxDatafiles;
}

bool positionIsOpen(const DatafileSet *set, uint32_t pos)
{
    return set->handle[pos] != nullptr || set->asmFile[pos] != nullptr;
}

// The common file filter: the FILE value (unless BIGFILE), an open handle,
// and a block count past the file header.
bool positionIsScanned(const UnloadContext *ctx, uint32_t pos, uint32_t rfn)
{
    const DatafileSet *set = ctx->datafiles;
    if (rfn != 0 && !ctx->bigfile && set->rfn[pos] != rfn)
        return false;
    return positionIsOpen(set, pos) && set->blocks[pos] >= kFirstScannedBlock;
}

// Reads block `block` of position pos into the block buffer; false unless
// a whole block came.
bool readScannedBlock(UnloadContext *ctx, uint32_t pos, uint32_t block)
{
    DatafileSet *set = ctx->datafiles;
    return readBlock(set, ctx, set->rfn[pos], block) == static_cast<int>(ctx->blockSize);
}

// The last block number of position pos, and whether the walk can go on
// after `block` (a block count of 2^32 - 1 must not wrap the loop).
bool moreBlocks(uint32_t block, uint32_t last)
{
    return block < last;
}

// ---- SCAN EXTENT ----

struct ExtentRun {
    bool open;
    bool endedOnData;
    uint32_t objd;
    uint32_t first;
    uint32_t count;
};

void writeRun(FILE *stream, const ExtentRun *run, uint32_t rfn)
{
    if (run->objd != 0 && run->first != 0 && run->count != 0)
        fprintf(stream, "%u,%u,%u,%u\r\n", run->objd, rfn, run->first, run->count);
}

void listPositionExtents(FILE *stream, UnloadContext *ctx, uint32_t pos)
{
    DatafileSet *set = ctx->datafiles;
    uint32_t rfn = set->rfn[pos];
    uint32_t last = set->blocks[pos];
    ExtentRun run = {false, false, 0, 0, 0};
    for (uint32_t block = kFirstScannedBlock;; block++) {
        // Only the type and the object id of each block are needed: they are
        // read where the window holds the block, not from a copy of it.
        const uint8_t *image = peekBlockThroughWindow(set, ctx, ctx->dataWindow, rfn, block);
        bool data = image != nullptr && peekBlockType(image, ctx->blockSize) == kBlockTypeData;
        if (data) {
            uint32_t objd = peekBlockU32(image, ctx->blockSize, kDataObjectIdOffset, ctx->byteOrder);
            if (run.open && objd == run.objd) {
                run.count++;
            } else {
                if (run.open)
                    writeRun(stream, &run, rfn);
                run.open = true;
                run.objd = objd;
                run.first = block;
                run.count = 1;
            }
            run.endedOnData = true;
        } else {
            if (run.open)
                writeRun(stream, &run, rfn);
            run.open = false;
            run.endedOnData = false;
        }
        if (!moreBlocks(block, last))
            break;
    }
    if (run.open && run.endedOnData)
        writeRun(stream, &run, rfn);
}

// ---- SCAN PARALLELEXT ----

// Worker w's share: the positions p with p AND 3 == w, FILE ignored.
void listWorkerExtents(FILE *stream, UnloadContext *ctx, int worker)
{
    const DatafileSet *set = ctx->datafiles;
    for (uint32_t pos = 0; pos < positionCount(set); pos++) {
        if ((pos & 3u) != static_cast<uint32_t>(worker))
            continue;
        if (!positionIsOpen(set, pos) || set->blocks[pos] < kFirstScannedBlock)
            continue;
        listPositionExtents(stream, ctx, pos);
    }
}

// The work of one worker, in whichever process runs it: a private copy of
// the context with its own 1 MB read-ahead window, writing its own part file.
void runExtentWorker(const UnloadContext *ctx, int worker)
{
    char name[64];
    snprintf(name, sizeof name, kExtentPartFormat, worker);
    FILE *part = fopen64(name, "wb+");
    if (part == nullptr) {
        reportFileError("create", "extent file", name);
        return;
    }
    UnloadContext *copy = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    ReadAheadWindow window;
    memset(&window, 0, sizeof window);
    window.capacity = kParallelWindowCapacity;
    window.buffer = static_cast<uint8_t *>(malloc(kParallelWindowCapacity));
    if (copy != nullptr && window.buffer != nullptr && copyBlock(ctx, copy) != 0) {
        copy->dataWindow = &window;
        listWorkerExtents(part, copy, worker);
    }
    if (copy != nullptr)
        free(copy->block);
    free(copy);
    free(window.buffer);
    fclose(part);
}

void appendPart(FILE *merged, int worker)
{
    char name[64];
    snprintf(name, sizeof name, kExtentPartFormat, worker);
    FILE *part = fopen64(name, "r");
    if (part == nullptr) {
        reportFileError("open", "extent file", name, "its runs are left out");
        return;
    }
    char line[kMergeLineSize];
    while (fgets(line, sizeof line, part) != nullptr)
        fputs(line, merged);
    fclose(part);
}

}  // namespace

void listSegmentHeader(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t rfn)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    for (uint32_t pos = 0; pos < positionCount(set); pos++) {
        if (!positionIsScanned(ctx, pos, rfn))
            continue;
        for (uint32_t block = kFirstScannedBlock;; block++) {
            if (readScannedBlock(ctx, pos, block) && isSegmentHeaderType(getBlockType(ctx))) {
                if (objd == 0) {
                    printBriefHeader(stream, ctx);
                } else if (getDataObjectID(ctx) == objd) {
                    printBriefHeader(stream, ctx);
                    return;
                }
            }
            if (!moreBlocks(block, set->blocks[pos]))
                break;
        }
    }
}

void listDataBlock(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t rfn, uint32_t blocks)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    // Run state and counts carry on from one file into the next.
    uint64_t printed = 0;
    bool inRun = false;
    uint32_t runObjd = 0;
    uint64_t runCount = 0;
    for (uint32_t pos = 0; pos < positionCount(set); pos++) {
        if (!positionIsScanned(ctx, pos, rfn))
            continue;
        for (uint32_t block = kFirstScannedBlock;; block++) {
            if (readScannedBlock(ctx, pos, block) && getBlockType(ctx) == kBlockTypeData) {
                uint32_t id = getDataObjectID(ctx);
                if (objd != 0) {
                    if (id == objd) {
                        printBriefHeader(stream, ctx);
                        printed++;
                        if (blocks != 0 && printed >= blocks)
                            return;
                    }
                } else {
                    if (!inRun || id != runObjd) {
                        inRun = true;
                        runObjd = id;
                        runCount = 0;
                    }
                    if (blocks == 0 || runCount < blocks)
                        printBriefHeader(stream, ctx);
                    runCount++;
                }
            }
            if (!moreBlocks(block, set->blocks[pos]))
                break;
        }
    }
}

void listDataBlockType(FILE *stream, UnloadContext *ctx, uint32_t rfn)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    struct TypeSlot {
        uint8_t type;
        uint8_t count;
        uint32_t address[kAddressesPerType];
    };
    TypeSlot *slots = static_cast<TypeSlot *>(calloc(kBlockTypes, sizeof(TypeSlot)));
    if (slots == nullptr)
        return;
    for (uint32_t pos = 0; pos < positionCount(set); pos++) {
        if (!positionIsScanned(ctx, pos, rfn))
            continue;
        for (uint32_t block = kFirstScannedBlock;; block++) {
            if (readScannedBlock(ctx, pos, block)) {
                uint8_t type = getBlockType(ctx);
                uint32_t address =
                    ctx->bigfile ? block : (static_cast<uint32_t>(set->rfn[pos]) << kRdbaFileShift) + block;
                TypeSlot *slot = &slots[type];
                slot->type = type;
                bool known = false;
                for (uint32_t i = 0; i < slot->count; i++)
                    known = known || slot->address[i] == address;
                if (!known && slot->count < kAddressesPerType)
                    slot->address[slot->count++] = address;
            }
            if (!moreBlocks(block, set->blocks[pos]))
                break;
        }
    }
    for (int t = 0; t < kBlockTypes; t++) {
        const TypeSlot *slot = &slots[t];
        if (slot->type == 0 || slot->count == 0)
            continue;
        fprintf(stream, "type=0x%02x, rdba=0x%08x", slot->type, slot->address[0]);
        for (uint32_t i = 1; i < slot->count; i++)
            fprintf(stream, ", 0x%08x", slot->address[i]);
        fputc('\n', stream);
    }
    free(slots);
}

void listExtentMap(FILE *stream, UnloadContext *ctx, uint32_t rfn)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    for (uint32_t pos = 0; pos < positionCount(set); pos++) {
        if (positionIsScanned(ctx, pos, rfn))
            listPositionExtents(stream, ctx, pos);
    }
}

void listExtentMapParallel(UnloadContext *ctx)
{
    if (ctx->datafiles == nullptr)
        return;
    // Buffered output must not be written twice, once by a worker.
    fflush(nullptr);
    pid_t workers[kParallelWorkers];
    for (int w = 0; w < kParallelWorkers; w++) {
        workers[w] = fork();
        if (workers[w] == 0) {
            runExtentWorker(ctx, w);
            _exit(0);
        }
        // Without a process for it, the worker's share is scanned here so
        // that no file is left out of the extent file.
        if (workers[w] < 0)
            runExtentWorker(ctx, w);
    }
    for (int w = 0; w < kParallelWorkers; w++) {
        if (workers[w] <= 0)
            continue;
        int status;
        while (waitpid(workers[w], &status, 0) < 0 && errno == EINTR) {
        }
    }
    FILE *merged = fopen64(kExtentFileName, "wb+");
    if (merged == nullptr) {
        reportFileError("create", "extent file", kExtentFileName);
        return;
    }
    for (int w = 0; w < kParallelWorkers; w++)
        appendPart(merged, w);
    fclose(merged);
}

int scanSegmentHeader(UnloadContext *ctx, uint32_t objd, uint32_t rfn, uint32_t block)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return 0;
    if ((rfn != 0 || ctx->bigfile) && block != 0) {
        for (uint32_t pos = 0; pos < positionCount(set); pos++) {
            if (rfn != 0 && !ctx->bigfile && set->rfn[pos] != rfn)
                continue;
            if (readBlock(set, ctx, rfn, block) != static_cast<int>(ctx->blockSize))
                return 0;
            if (matchBlockTail(ctx) != 0 || !isSegmentHeaderType(getBlockType(ctx)))
                return 0;
            return getDataObjectID(ctx) == objd ? 1 : 0;
        }
        return 0;
    }
    for (uint32_t pos = 0; pos < positionCount(set); pos++) {
        if (!positionIsScanned(ctx, pos, rfn))
            continue;
        for (uint32_t b = kFirstScannedBlock;; b++) {
            if (readScannedBlock(ctx, pos, b) && matchBlockTail(ctx) == 0 &&
                isSegmentHeaderType(getBlockType(ctx)) && getDataObjectID(ctx) == objd)
                return 1;
            if (!moreBlocks(b, set->blocks[pos]))
                break;
        }
    }
    return 0;
}
