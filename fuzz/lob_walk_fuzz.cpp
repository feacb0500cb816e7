// The LOB writers over a datafile whose blocks the fuzzer supplies: locator
// decoding, pages through the locator's chunk addresses, the LOB index walk
// (descent through branch blocks, the leaf scan and its next-leaf links) and
// the LOB map lookup, as text and as export-dump values.
//
// Input: byte 0 bit 0 the byte order, bit 1 BLOCK_CHECK, bits 2-3
// LOB_CONVERT, bit 4 CLOB_EDIAN, bits 5-6 the writer (BLOB, CLOB, NCLOB,
// dump), bit 7 a LOB map (the input itself, read as map lines); byte 1 the
// locator's length; byte 2 CHUNK; byte 3 the LOB index's segment header
// block; then the locator, then the datafile, 2 KB blocks from block 0, at
// most 16 of them, registered as relative file 1.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "fuzz_context.h"
#include "lob/lob.h"
#include "unload/writers/export_dump.h"

namespace {

constexpr size_t kPrefix = 4;
constexpr uint32_t kWalkBlockSize = 2048;
constexpr size_t kMaxFileBlocks = 16;
constexpr uint32_t kLocatorOffset = 64;

FuzzDatafile g_walk;

void setUp()
{
    g_walk = makeFuzzDatafile("zor-lob-walk", kWalkBlockSize);
    UnloadContext *ctx = g_walk.ctx;
    ctx->lobMap = (LobPageMap *)calloc(1, sizeof(LobPageMap));
    clearLobPageMap(ctx->lobMap);
    snprintf(ctx->lobTag, sizeof ctx->lobTag, "DOC");
    ctx->lobTagLength = 3;
}

void writeValue(FILE *out, UnloadContext *ctx, uint32_t writer, uint32_t length, uint32_t indexBlock)
{
    switch (writer) {
    case 0: printBLOB(out, ctx, kLocatorOffset, length, 1, indexBlock); break;
    case 1: printCLOB(out, ctx, kLocatorOffset, length, 1, indexBlock); break;
    case 2: printNCLOB(out, ctx, kLocatorOffset, length, 1, indexBlock); break;
    default: {
        uint8_t locator[256];
        memcpy(locator, ctx->block + kLocatorOffset, length);
        dumpLOBValue(out, ctx, &kDumpElements, locator, length, 112, 1, indexBlock, 2);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    setUp();
    // CHECK's table and the walk's reports go to standard output.  The walk's
    // read errors go to standard error, with libFuzzer's own reports.
    silenceFuzzStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    UnloadContext *ctx = g_walk.ctx;
    uint32_t length = data[1];
    if (length > size - kPrefix)
        length = (uint32_t)(size - kPrefix);
    const uint8_t *locator = data + kPrefix;
    const uint8_t *image = locator + length;
    size_t imageSize = size - kPrefix - length;
    if (imageSize > kMaxFileBlocks * kWalkBlockSize)
        imageSize = kMaxFileBlocks * kWalkBlockSize;
    if (!loadFuzzDatafile(&g_walk, "lob-walk.dbf", image, imageSize))
        return 0;
    ctx->byteOrder = data[0] & 1;
    ctx->blockCheck = (data[0] >> 1) & 1;
    ctx->lobConvert = (data[0] >> 2) & 3;
    ctx->clobByteOrder = (data[0] >> 4) & 1;
    ctx->chunkCount = 1 + data[2] % 4;
    ctx->lobStorage = 0;
    memset(ctx->indexWindow->buffer, 0, ctx->indexWindow->capacity);
    checkFileHeader(ctx);

    LobLocator decoded;
    decodeLobLocator(locator, length, &decoded);
    fuzzCheck(!decoded.inRow || decoded.inRowOffset + decoded.inRowLength <= length);
    fuzzCheck(36 + 4ull * decoded.chunkCount <= (length > 36 ? length : 36));

    LobPageMap *map = ctx->lobMap;
    if (data[0] & 0x80)
        map->wholeMap = fmemopen(const_cast<uint8_t *>(data), size, "r");
    memset(ctx->block, 0, kWalkBlockSize);
    memcpy(ctx->block + kLocatorOffset, locator, length);
    writeValue(fuzzSink(), ctx, (data[0] >> 5) & 3, length, data[3] % kMaxFileBlocks);
    if (map->wholeMap != nullptr) {
        fclose(map->wholeMap);
        map->wholeMap = nullptr;
    }
    unloadFuzzDatafile(&g_walk);
    return 0;
}
