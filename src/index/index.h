// Index rows: the leaf entries of index-organized tables, written as text
// records or into the export dump, and the index-block cache.
#pragma once

#include <cstdint>
#include <cstdio>

#include "shell/unload_context.h"

// Text records of the leaf entries of the index block in the context's
// buffer (an index-organized table's rows: the key columns, then the rest
// of the row, continued through its overflow pieces).  Branch blocks write
// nothing.  Record layout as for table rows; the row address of an entry is
// "rdba.0.entry".
void printIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed);
// The same entries as export dump rows, each with exactly the table's
// column count of elements.
void dumpIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed);

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
