// Block and row filters the row writers share: the skip list, the
// committed-only test, and the private chain context for chained pieces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "block/block.h"
#include "datafile/datafile.h"
#include "core/unload_context.h"

// The deleted-row switch of the traversals: 0 leaves deleted rows out, any
// other value writes them too, and this one writes nothing else (the
// dictionary keeps the rows of dropped objects apart from the live ones).
constexpr uint8_t kDeletedRowsOnly = 2;

// ITL flag bits that make a locked row count as committed.
constexpr uint8_t kItlCommitted = 0x8;
constexpr uint8_t kItlUpperBoundCommitted = 0x2;

inline bool blockInSkipList(const UnloadContext *ctx, uint32_t rdba)
{
    const RdbaList *list = ctx->skipList;
    if (list == nullptr)
        return false;
    uint32_t count = list->count < kRdbaListMax ? list->count : kRdbaListMax;
    return findRDBAArray(list->rdba, count, rdba) != 0;
}

// The checks before any row of a block is written, by every row writer:
// the VERBOSE line, the block's own check and the skip list, each said on
// standard output.  False when its rows are not read.
inline bool blockPassesRowChecks(const UnloadContext *ctx)
{
    uint32_t rdba = getBlockRDBA(ctx);
    if (ctx->verbose)
        printf("Recover rows from RDBA=%u ...\n", rdba);
    if (matchBlockTail(ctx) != 0) {
        printf("Block check failured at RDBA=0x%08x=%u\n", rdba, rdba);
        return false;
    }
    if (blockInSkipList(ctx, rdba)) {
        printf("Block skipped at RDBA=0x%08x=%u\n", rdba, rdba);
        return false;
    }
    return true;
}

// The same, for a table's rows: and a data block (type 6) that has `table`.
inline bool blockRowsReadable(const UnloadContext *ctx, uint32_t table)
{
    constexpr uint8_t kDataBlockType = 6;
    return blockPassesRowChecks(ctx) && getBlockType(ctx) == kDataBlockType && table < getTableCount(ctx);
}

// With COMMITED_ONLY, a row locked by an ITL entry whose transaction is not
// known to be committed is left out; a lock byte naming an entry beyond the
// block's ITL list cannot be trusted to be committed either.
inline bool lockedByOpenTransaction(const UnloadContext *ctx, uint8_t lock)
{
    if (lock == 0)
        return false;
    if (lock > getITLCount(ctx))
        return true;
    return (getITLFlag(ctx, lock - 1u) & (kItlCommitted | kItlUpperBoundCommitted)) == 0;
}

// A copy of the context with its own block buffer, so that reading the
// blocks of chained pieces leaves the block being unloaded in place; null
// when memory is short.  Released with freeChainContext.
inline UnloadContext *makeChainContext(const UnloadContext *ctx)
{
    UnloadContext *chain = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    if (chain == nullptr)
        return nullptr;
    if (copyBlock(ctx, chain) == 0) {
        free(chain->block);
        free(chain);
        return nullptr;
    }
    return chain;
}

inline void freeChainContext(UnloadContext *chain)
{
    if (chain != nullptr) {
        free(chain->block);
        free(chain);
    }
}
