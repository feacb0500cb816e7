// Index blocks: the columns of a leaf entry mapped into the context's slots,
// and the index-block cache.  (Index-organized rows are written by
// unload/writers/.)
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/unload_context.h"

// Appends the columns of leaf entry `entry` of the index block in the
// context's buffer to its column slots: the key columns, then, when the
// entry carries a data part (an index-organized row), the data part's
// columns, storing its next-piece address when the part continues
// elsewhere.  Neither clears the mapped-column counter nor sets the row
// flag: callers clear the counter and the next-piece address first.
void mapIndexColumns(UnloadContext *ctx, uint32_t entry);
// mapIndexColumns, answering the data part's own row flag, or kNoDataPart
// when the entry has none (or it is cut off before its columns).
constexpr int kNoDataPart = -1;
int mapIndexEntry(UnloadContext *ctx, uint32_t entry);

// Cached read of one index block into the context's block buffer (the index
// window's buffer serves as a direct-mapped cache of single blocks): the
// block size on success, 0 on failure.  Used by the LOB index walk.
int readIndexBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block);
// The same by RDBA: file in the top 10 bits, block in the low 22.
int readIndexRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba);
