// The segment traversals over a datafile whose blocks the fuzzer supplies:
// the extent-map walk from a segment header through its extent map blocks,
// one extent of the extent file, and the file scan, each writing rows with
// chained and migrated pieces followed into other blocks.
//
// Input: byte 0 bit 0 the byte order, bit 1 DELETED_ROW, bit 2
// COMMITED_ONLY, bits 3-5 the table in the block; byte 1 the segment
// header's block; byte 2 MAXCHAINS; byte 3 the number of typed columns;
// bytes 4-7 the data object id (little-endian); the rest is the datafile,
// 2 KB blocks from block 0, at most 16 of them.  The datafile is registered
// as OPEN would and examined as CHECK does before the walks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "fuzz_context.h"
#include "unload/unload.h"

namespace {

constexpr size_t kPrefix = 8;
constexpr uint32_t kWalkBlockSize = 2048;
constexpr size_t kMaxFileBlocks = 16;

FuzzDatafile g_walk;

void setUp()
{
    g_walk = makeFuzzDatafile("zor-segment-walk", kWalkBlockSize);
    UnloadContext *ctx = g_walk.ctx;
    ctx->workBuffer = (WorkBuffer *)calloc(1, sizeof(WorkBuffer));
    ctx->workBuffer->capacity = kWorkBufferSize;
    ctx->workBuffer->data = (uint8_t *)malloc(kWorkBufferSize);
    ctx->chunkCount = 1;
    snprintf(ctx->fieldTag, sizeof ctx->fieldTag, "|");
    snprintf(ctx->recordTag, sizeof ctx->recordTag, "\n");
    ctx->fieldTagLength = 1;
    ctx->recordTagLength = 1;
}

// Column types the walks write the values with; positions past the typed
// ones are unknown (253), written in hexadecimal with a warning.
void setColumns(UnloadContext *ctx, uint32_t typed)
{
    static const uint8_t kTypes[] = {2, 1, 12, 101, 23, 96, 180, 100, 181, 2, 1, 0};
    for (uint32_t i = 0; i < (uint32_t)kMaxColumns; i++)
        ctx->columnTypes[i] = i < typed ? kTypes[i % sizeof kTypes] : 253;
    ctx->columnCount = (uint16_t)typed;
    memset(ctx->unknownTypeWarnings, 0, sizeof ctx->unknownTypeWarnings);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    setUp();
    // CHECK's table and the unload reports go to standard output.
    silenceFuzzStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    UnloadContext *ctx = g_walk.ctx;
    DatafileSet *set = g_walk.set;
    uint8_t order = data[0] & 1;
    uint8_t deleted = (data[0] >> 1) & 1;
    uint8_t committed = (data[0] >> 2) & 1;
    uint32_t table = (data[0] >> 3) & 7;
    uint32_t headerBlock = data[1] % kMaxFileBlocks;
    uint32_t objd;
    memcpy(&objd, data + 4, sizeof objd);

    size_t imageSize = size - kPrefix;
    if (imageSize > kMaxFileBlocks * kWalkBlockSize)
        imageSize = kMaxFileBlocks * kWalkBlockSize;
    // OPEN and CHECK.
    if (!loadFuzzDatafile(&g_walk, "segment-walk.dbf", data + kPrefix, imageSize))
        return 0;
    ctx->byteOrder = order;
    ctx->maxChains = data[2];
    ctx->rowLimit = kNoRowLimit;
    ctx->rowsUnloaded = 0;
    setColumns(ctx, data[3] % 16);
    checkFileHeader(ctx);

    FILE *out = fuzzSink();
    if (readDirect(set, ctx, 0, headerBlock) == (int)kWalkBlockSize)
        printExtentRows(out, ctx, objd, table, deleted, committed);

    ExtentEntry extent = {objd, set->rfn[0], 1, (uint32_t)kMaxFileBlocks};
    printRowByExtent(out, ctx, objd, table, deleted, committed, &extent);

    scanTableRows(out, ctx, objd, table, deleted, committed, 0, 0);
    scanTableRows(out, ctx, objd, table, deleted, committed, set->rfn[0], headerBlock);
    unloadFuzzDatafile(&g_walk);
    return 0;
}
