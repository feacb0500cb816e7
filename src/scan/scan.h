// Discovery: datafile-wide scans that find segment headers, runs of data
// blocks and extents when the dictionary cannot say where a segment lives,
// the segment-header search behind UNLOAD, and column-type guessing.
//
// Every scan visits the registry positions in order and reads blocks 2 up to
// and including each position's block count (blocks 0 and 1, the OS block and
// the file header, are never examined).  Unreadable blocks are passed over.
// rfn 0 means every file; with BIGFILE on the file filter is off.
#pragma once

#include <cstdint>
#include <cstdio>

#include "shell/unload_context.h"

// Extent file written by SCAN EXTENT, PARALLELEXT and DATABASE, and the
// per-worker parts of the parallel scan ("%02d" = worker 0..3).
constexpr const char *kExtentFileName = "ZORDICT/ZOREXT.TXT";
constexpr const char *kExtentPartFormat = "ZORDICT/ZOREXT.%02d.TXT";
constexpr int kParallelWorkers = 4;
constexpr uint32_t kParallelWindowCapacity = 1048576;

// SCAN HEADER: every segment header (types 16, 17, 35) with printBriefHeader;
// with objd, only the first whose data object id is objd, and the scan ends.
void listSegmentHeader(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t rfn);
// SCAN DATA: with objd, the first `blocks` data blocks of that object; without,
// the first `blocks` blocks of every run of same-object data blocks.  0 = no
// limit.
void listDataBlock(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t rfn, uint32_t blocks);
// SCAN BLOCK: per block type met, up to ten addresses of blocks of that type.
void listDataBlockType(FILE *stream, UnloadContext *ctx, uint32_t rfn);
// SCAN EXTENT: one "objd,rfn,first,count\r\n" line per run of data blocks of
// one object.
void listExtentMap(FILE *stream, UnloadContext *ctx, uint32_t rfn);
// SCAN PARALLELEXT: the same runs found by four forked workers (worker w
// takes the positions p with p AND 3 == w), merged into the extent file.
void listExtentMapParallel(UnloadContext *ctx);
// 1 when the segment header of objd is found (it is then in the context's
// block buffer): at file rfn, block `block` when both are given (with BIGFILE
// the block alone), else by walking the files.  0 otherwise.
int scanSegmentHeader(UnloadContext *ctx, uint32_t objd, uint32_t rfn, uint32_t block);

// Column-type guessing: one column value of the row being decoded (offset and
// length in the block buffer, 0-based column position).  Until the guesser is
// built this is a stand-in that records nothing (column_guess_pending.cpp).
void guessField(UnloadContext *ctx, uint32_t offset, uint32_t length, uint32_t column);
