// Row mapping on arbitrary blocks: normal and cluster pieces, OLTP-compressed
// pieces with their symbol table, index leaf entries, and the live-row test,
// in either byte order.
//
// Input: byte 0 bit 0 the byte order; byte 1 the table; bytes 2-3 the first
// slot (little-endian); the rest is the block.
#include <cstdint>
#include <cstring>

#include "block/block.h"
#include "fuzz_context.h"
#include "index/index.h"
#include "unload/rows/row_decode.h"
#include "unload/values/value_format.h"

namespace {

constexpr size_t kPrefix = 4;
constexpr uint32_t kSlotsPerInput = 8;

// The row decoder promises slots inside the block, and none that runs to
// within one byte of its end.
void checkSlots(const UnloadContext *ctx)
{
    for (uint32_t i = 0; i < ctx->mappedColumns; i++) {
        uint32_t end = (uint32_t)ctx->slots.offset[i] + ctx->slots.length[i];
        fuzzCheck(end <= ctx->blockSize);
        if (ctx->slots.length[i] > 0)
            fuzzCheck(end + 1 < ctx->blockSize);
    }
}

// The row writers print each mapped slot; do the same over a spread of types.
void printSlots(UnloadContext *ctx)
{
    static const uint8_t kTypes[] = {1, 2, 12, 23, 96, 100, 101, 108, 109, 180, 181, 231, 253};
    for (uint32_t i = 0; i < ctx->mappedColumns; i++) {
        uint8_t type = kTypes[i % sizeof kTypes];
        printField(fuzzSink(), ctx, ctx->slots.offset[i], ctx->slots.length[i], type, 0, 0, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    uint8_t order = data[0] & 1;
    uint32_t table = data[1];
    uint32_t firstSlot = (uint32_t)data[2] | ((uint32_t)data[3] << 8);
    FuzzBlock fb = makeFuzzBlock(data + kPrefix, size - kPrefix, order);
    UnloadContext *ctx = fb.ctx;

    for (uint32_t s = 0; s < kSlotsPerInput; s++) {
        uint32_t slot = firstSlot + s;
        ctx->mappedColumns = 0;
        mapNormalColumns(ctx, table, slot);
        checkSlots(ctx);
        printSlots(ctx);
        // Cluster member rows name their key row in table 0.
        ctx->mappedColumns = 0;
        mapNormalColumns(ctx, 0, slot);
        checkSlots(ctx);
    }

    getCompressOrder(ctx);
    fuzzCheck(ctx->mappedColumns == 0);
    for (uint32_t s = 0; s < kSlotsPerInput; s++) {
        uint32_t slot = firstSlot + s;
        mapCompressColumns(ctx, table == 0 ? 1 : table, slot);
        checkSlots(ctx);
        printSlots(ctx);
        ctx->mappedColumns = 0;
        mapCompressColumns(ctx, 0, slot);
        checkSlots(ctx);
    }

    // Index leaf entries: key columns, then an index-organized row's data part.
    for (uint32_t s = 0; s < kSlotsPerInput; s++) {
        ctx->mappedColumns = 0;
        ctx->nextPieceRdba = 0;
        mapIndexColumns(ctx, firstSlot + s);
        for (uint32_t i = 0; i < ctx->mappedColumns; i++)
            fuzzCheck((uint32_t)ctx->slots.offset[i] + ctx->slots.length[i] <= ctx->blockSize);
        printSlots(ctx);
    }

    countDataRows(ctx, table);
    countDataRows(ctx, 0);
    freeFuzzBlock(&fb);
    return 0;
}
