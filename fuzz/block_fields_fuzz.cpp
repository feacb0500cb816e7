// Every block accessor on arbitrary blocks of any size, in both byte orders
// and in an unknown one: cache and transaction headers, ITL entries, the data
// header and compression extension, index headers and row directory,
// segment headers and extent maps, datafile headers and their summary line,
// the cache-header peeks and the checksum.
//
// Input: byte 0 the byte order (0, 1, anything else); byte 1 an entry index;
// the rest is the block.
#include <cstdint>
#include <cstdlib>

#include "block/block.h"
#include "datafile/datafile.h"
#include "fuzz_context.h"

namespace {

constexpr size_t kPrefix = 2;

// Summing every value keeps the reads from being optimised away.
volatile uint64_t g_sink;

void readHeaders(UnloadContext *ctx)
{
    uint64_t s = 0;
    s += getBlockType(ctx) + getBlockFormat(ctx) + getBlockRDBA(ctx) + getSCNBase(ctx) + getSCNWrap(ctx);
    s += getBlockSequence(ctx) + getBlockFlag(ctx) + getBlockChecksum(ctx);
    s += getDataType(ctx) + getDataObjectID(ctx) + getCleanSCNBase(ctx) + getCleanSCNWrap(ctx);
    s += getMagicNumber(ctx) + getITLCount(ctx) + getFreeListGroup(ctx) + getFreeLists(ctx);
    s += getFreeListNext(ctx) + getDataLayerOffset(ctx);
    s += getDataFlag(ctx) + getTableCount(ctx) + getRecordCount(ctx) + getFirstFreeRowEntry(ctx);
    s += getFreeSpaceBeginOffset(ctx) + getFreeSpaceEndOffset(ctx) + getCurrentFreeSpace(ctx);
    s += getTotalFreeSpace(ctx) + getCompressOffset(ctx) + isCompressTable(ctx) + getCompressMecRows(ctx);
    s += getIndexColev(ctx) + getIndexColok(ctx) + getIndexCoopc(ctx) + getIndexOpcode(ctx);
    s += getIndexColumnCount(ctx) + getIndexCosdc(ctx) + getIndexRowCount(ctx);
    s += getIndexFreeSpaceBegin(ctx) + getIndexFreeSpaceEnd(ctx) + getIndexFreeSpace(ctx);
    s += getIndexLespl(ctx) + getIndexLende(ctx) + getIndexLenxt(ctx) + getIndexLeprv(ctx);
    s += getIndexLedsz(ctx) + getIndexLebksz(ctx) + getIndexBrlmc(ctx) + getIndexBrsno(ctx);
    s += getIndexBrbksz(ctx);
    s += getSegExtentCount(ctx) + getSegBlockCount(ctx) + getSegHWMExtent(ctx) + getSegHWMBlocks(ctx);
    s += getSegHWMExtSize(ctx) + getSegHWMAddress(ctx) + getSegNextMAP(ctx) + getSegFLGBlocks(ctx);
    s += getSegFLGBellow(ctx) + getSegMapFlag(ctx) + getBlockExtentCount(ctx) + getSegNextMapRDBA(ctx);
    s += getSoftwareVersion(ctx) + getCompatibleVersion(ctx) + getDBID(ctx) + getControlSeq(ctx);
    s += getBlockCount(ctx) + getDBBlockSize(ctx) + getFileNumber(ctx) + getFileType(ctx);
    s += getBootstrapRDBA(ctx) + getFuzzyStatus(ctx) + getTablespaceID(ctx);
    char *name = getDatabaseName(ctx);
    if (name != nullptr)
        s += strlen(name);
    free(name);
    name = getTablespaceName(ctx);
    if (name != nullptr) {
        // A NUL inside the stored name makes the copy shorter, never longer.
        size_t n = strlen(name);
        fuzzCheck(n <= 30);
        s += n;
    }
    free(name);
    printFileHeader(fuzzSink(), ctx);
    g_sink += s;
}

void readEntries(UnloadContext *ctx, uint32_t i)
{
    uint64_t s = 0;
    s += getITLXIDUsn(ctx, i) + getITLXIDSlot(ctx, i) + getITLXIDWrap(ctx, i) + getITLUndoRDBA(ctx, i);
    s += getITLUndoRow(ctx, i) + getITLUndoSequence(ctx, i) + getITLFlag(ctx, i) + getITLLock(ctx, i);
    s += getITLFSC(ctx, i) + getITLSCN(ctx, i) + getIndexOffset(ctx, i);
    s += getSegExtentRDBA(ctx, i) + getSegExtentBlocks(ctx, i);
    g_sink += s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    uint8_t order = data[0] <= 1 ? data[0] : 2;
    uint32_t index = data[1];
    FuzzBlock fb = makeFuzzBlock(data + kPrefix, size - kPrefix, order);
    UnloadContext *ctx = fb.ctx;

    readHeaders(ctx);
    for (uint32_t i = 0; i < 4; i++)
        readEntries(ctx, i);
    readEntries(ctx, index);
    readEntries(ctx, index * 257u);
    readEntries(ctx, 0xFFFFFFFFu - index);

    getCompressOrder(ctx);
    fuzzCheck(ctx->mappedColumns == 0);

    const uint8_t *image = ctx->block;
    uint32_t blockSize = ctx->blockSize;
    g_sink += peekBlockType(image, blockSize) + peekBlockFormat(image, blockSize);
    g_sink += peekBlockRDBA(image, blockSize, order) + peekBlockU32(image, blockSize, index * 4, order);
    g_sink += do_checksum(blockSize, image);
    freeFuzzBlock(&fb);
    return 0;
}
