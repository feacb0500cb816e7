// Parallel unload: one traversal of a segment shared by forked worker
// processes, its output put back together in the order a single process
// would have written it.
//
// Every worker runs the whole traversal, but the blocks it visits are
// numbered in traversal order and cut into chunks of kParallelChunkBlocks;
// worker w reads and writes only the chunks w, w + n, w + 2n, ...  Each chunk
// goes to the parent through the worker's own shared-memory ring as frames:
// data for the output file, messages for standard output, and at its end the
// counters the chunk added.  The parent takes the chunks in order, one from each worker in
// turn, so the output file and the messages come out byte for byte as in a
// serial unload.  The rings bound the memory: a worker waits while the parent
// is busy with the chunks before its own.
//
// Rows of one block (chained pieces included, wherever they lie) are always
// written by one worker, so a chain crossing a chunk boundary is whole.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/unload_context.h"

constexpr uint32_t kMaxParallelWorkers = 64;
// Blocks per chunk: as many as the read-ahead window holds of 8 KB blocks,
// so that a worker reads no window for blocks it then leaves to another.
// ZOR_PARALLEL_CHUNK (1 to 65536) overrides it, so that tests can make every
// block a chunk of its own.
constexpr uint32_t kParallelChunkBlocks = 32;
constexpr uint32_t kLargestParallelChunk = 65536;

// What an unload counts across its blocks.  A worker sends the part each
// chunk added; the parent adds them up into its context.
// Each worker names at most the usual number of incomplete rows (and of
// LOBs not read) itself, so
// under PARALLEL more lines than that may be printed; the count at the end
// is exact.  Blocks not read are capped by the parent instead
// (markBlockNotReadLine), as a serial unload caps them.
struct UnloadCounters {
    uint64_t rowsUnloaded;
    uint64_t incompleteRows;
    uint32_t incompleteRowLines;
    uint64_t lobsNotRead;
    uint32_t lobsNotReadLines;
    uint64_t defaultlessValues;
    uint64_t blocksNotRead;
    uint32_t blocksNotReadLines;
    uint64_t blocksNotReadBy[kBlockReasonCount];
    uint64_t objectBlocks;
};

// Called by the traversals before they read each block they visit, in
// traversal order: false when the block is left to another worker.  Always
// true outside a worker.
bool ownsNextBlock();

// Called just before the unknown-type warning of column `position` is
// printed (the row text before it already handed to the stream).  A worker
// cannot know how many warnings the chunks before its own printed; it marks
// the warning and the parent keeps the per-column limit.
void markUnknownTypeWarning(uint32_t position);

// Called just before a block not read is named.  True in a worker, which
// names every such block: the parent keeps the cap across the chunks, so
// that the lines are those of a serial unload.
bool markBlockNotReadLine();

// Writes the rows of one traversal to `out`.
typedef void (*TraversalFunction)(FILE *out, void *arg);

// Runs `traverse` in `workers` worker processes (serially in this one when
// workers is 1 or no process can be started) and adds their counters to
// ctx.  False when a worker failed; the failure is reported on standard
// error and the output is incomplete.
bool runParallelTraversal(FILE *out, UnloadContext *ctx, uint32_t workers, TraversalFunction traverse, void *arg);
