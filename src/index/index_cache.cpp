// The index-block cache: the index window's buffer used as a direct-mapped
// cache of single blocks, so that the LOB index walk, which revisits the
// same few branch and leaf blocks for every LOB of a table, reads each from
// disk once.  Block b of any file lives in slot b mod (capacity / B); a
// slot is trusted only when the RDBA inside the cached image names the
// wanted file and block.
#include <cstring>

#include "datafile/datafile.h"
#include "index/index.h"
#include "core/unload_context.h"

namespace {

// The RDBA an intact block of (file, address) carries in bytes 4..7.
uint32_t expectedRDBA(const UnloadContext *ctx, uint32_t file, uint32_t address)
{
    return ctx->bigfile ? address : makeRDBA(file, address);
}

uint8_t *cacheSlot(const UnloadContext *ctx, uint32_t address)
{
    const ReadAheadWindow *cache = ctx->indexWindow;
    if (cache == nullptr || cache->buffer == nullptr || ctx->blockSize == 0)
        return nullptr;
    uint32_t slots = cache->capacity / ctx->blockSize;
    if (slots == 0)
        return nullptr;
    return cache->buffer + static_cast<size_t>(address % slots) * ctx->blockSize;
}

}  // namespace

int readIndexBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block)
{
    uint32_t blockSize = ctx->blockSize;
    if (set == nullptr || blockSize == 0 || ctx->block == nullptr)
        return 0;
    uint32_t keyFile = file;
    uint32_t address = block;
    if (ctx->bigfile) {
        keyFile = 0;
        address = (file << kRdbaFileShift) + block;
    }
    int found = getFileIndex(set, keyFile);
    if (found < 0 || static_cast<uint32_t>(found) >= set->count)
        return 0;

    uint8_t *slot = cacheSlot(ctx, address);
    uint32_t want = expectedRDBA(ctx, keyFile, address);
    if (slot != nullptr && peekBlockRDBA(slot, blockSize, ctx->byteOrder) == want) {
        memcpy(ctx->block, slot, blockSize);
        return static_cast<int>(blockSize);
    }
    if (readDirect(set, ctx, static_cast<uint32_t>(found), address) != static_cast<int>(blockSize))
        return 0;
    if (slot != nullptr)
        memcpy(slot, ctx->block, blockSize);
    return static_cast<int>(blockSize);
}

int readIndexRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba)
{
    return readIndexBlock(set, ctx, getRDBAFile(rdba), getRDBABlock(rdba));
}
