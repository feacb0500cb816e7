// The decoded block dumps on arbitrary blocks of every type, in both byte
// orders: ORADUMP's printHeader, the scans' printBriefHeader (in guess mode
// too), each section on its own, the undo dumps with a transaction-table
// base from the input, and every undo accessor.
//
// Input: byte 0 bit 0 the byte order, bit 1 guess mode; byte 1 the block
// type written over the block's first byte (0: keep it); byte 2 an entry
// index and TRANS_OFFSET; the rest is the block.
#include <cstdint>

#include "block/block.h"
#include "view/view.h"
#include "fuzz_context.h"

namespace {

constexpr size_t kPrefix = 3;

volatile uint64_t g_sink;

void readUndo(const UnloadContext *ctx, uint32_t i)
{
    uint64_t s = 0;
    s += getUndoBlockXIDUSN(ctx) + getUndoBlockXIDSLOT(ctx) + getUndoBlockICL(ctx) + getUndoBlockXIDWRAP(ctx);
    s += getUndoBlockUBAWRAP(ctx) + getUndoBlockCount(ctx) + getUndoBlockIRB(ctx) + getUndoBlockFlag(ctx);
    s += getUndoBlockRecordOffset(ctx, i) + getUndoBlockRecordLength(ctx, i);
    s += getUndoHeaderSpare1(ctx) + getUndoHeaderSpare2(ctx) + getUndoHeaderSpare3(ctx) + getUndoHeaderSpare4(ctx);
    s += getUndoHeaderExtents(ctx) + getUndoHeaderBlocks(ctx) + getUndoHeaderOffset(ctx);
    s += getUndoHeaderHWMExtent(ctx) + getUndoHeaderHWMBlock(ctx) + getUndoHeaderHWMExtentSize(ctx);
    s += getUndoHeaderHWMBlockRDBA(ctx) + getUndoHeaderMapExtents(ctx) + getUndoHeaderMapNext(ctx);
    s += getUndoHeaderMapObject(ctx) + getUndoHeaderMapFlag(ctx);
    s += getUndoHeaderExtentRDBA(ctx, i) + getUndoHeaderExtentSize(ctx, i) + getUndoHeaderExtentSCN(ctx, i);
    s += getUndoHeaderTransOffset(ctx) + getUndoHeaderTransCount(ctx) + getUndoHeaderTCLSCNBase(ctx);
    s += getUndoHeaderTCLSCNWrap(ctx) + getUndoHeaderTCLUBABlock(ctx) + getUndoHeaderTCLUBAWrap(ctx);
    s += getUndoHeaderTCLUBARecord(ctx);
    s += getUndoHeaderTranSlotWrap(ctx, i) + getUndoHeaderTranSlotFlag(ctx, i);
    s += getUndoHeaderTranSlotLastBlock(ctx, i) + getUndoHeaderTranSlotSCNBase(ctx, i);
    s += getUndoHeaderTranSlotSCNWrap(ctx, i) + getUndoHeaderTranSlotState(ctx, i);
    s += getUndoHeaderTranSlotNext(ctx, i) + getUndoHeaderTranSlotBlockCount(ctx, i);
    s += getUndoHeaderTranSlotCommit(ctx, i);
    g_sink += s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    uint8_t order = data[0] & 1;
    FuzzBlock fb = makeFuzzBlock(data + kPrefix, size - kPrefix, order);
    UnloadContext *ctx = fb.ctx;
    if (data[1] != 0)
        ctx->block[0] = data[1];
    uint32_t index = data[2];
    FILE *out = fuzzSink();

    printHeader(out, ctx);
    ctx->guessMode = (data[0] & 2) ? 2 : 0;
    printBriefHeader(out, ctx);
    ctx->guessMode = 0;
    printITL(out, ctx);
    printRowHeader(out, ctx);
    printIndexRowHeader(out, ctx);
    printSegmentHeader(out, ctx);
    printFileHeader(out, ctx);
    printUndoBlockHeader(out, ctx);
    printUndoSegmentHeader(out, ctx);
    readUndo(ctx, 0);
    readUndo(ctx, index);
    readUndo(ctx, 0xFFFFFFFFu - index);
    // TRANS_OFFSET and TRANS_COUNT move the transaction table anywhere.
    ctx->transOffset = (uint16_t)(index * 131);
    ctx->transCount = (uint16_t)(index * 7);
    printUndoSegmentHeader(out, ctx);
    readUndo(ctx, index);
    freeFuzzBlock(&fb);
    return 0;
}
