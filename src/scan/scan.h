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

#include "core/unload_context.h"

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

// With the segment header of objd in the buffer (found by scanSegmentHeader):
// 1 when its extent map can be walked, 0 when the header is damaged and the
// segment must be scanned instead; a 0 has been said on standard output.
// Damaged means: a failing checksum, or a map that lists fewer extents or
// blocks than the header counts, or (compareWithScan) that reaches fewer data
// blocks of objd than a scan of the header's file finds.  The header stays
// in the buffer.  (segment_check.cpp)
int checkSegmentHeader(const UnloadContext *ctx, uint32_t objd, int compareWithScan);

// ---- Column-type guessing (column_guess.cpp) ----
//
// SAMPLE and SCAN TABLE decode rows with the context's guess mode on: every
// stored column value (a stored NULL included) goes to guessField instead of
// being written, and the guesses are read after the last row.

// Evidence bits, sticky until the next reset: a value of the column ...
constexpr uint8_t kGuessLengthVaries = 0x01;   // ... had another length than the first
constexpr uint8_t kGuessNotNumber = 0x02;      // ... was no valid NUMBER
constexpr uint8_t kGuessNotDate = 0x04;        // ... failed the DATE test
constexpr uint8_t kGuessNotClob = 0x08;        // ... was no CLOB locator
constexpr uint8_t kGuessNotBlob = 0x10;        // ... was no BLOB locator
constexpr uint8_t kGuessNotText = 0x20;        // ... was no text in any character set tried

// One per process, reached from the context; reset before each object.
struct ColumnGuessState {
    uint16_t columnCount;                   // highest column seen + 1, NULLs included
    uint8_t evidence[kMaxColumns];
    uint8_t type[kMaxColumns];              // current guess, an Oracle type code
    uint16_t nonNullCount[kMaxColumns];
    uint16_t firstLength[kMaxColumns];      // length of the first non-null value
};

// Column count 0, no evidence, every type RAW (23), counts and lengths 0.
void resetColumnGuess(ColumnGuessState *state);
// One column value of the row being decoded: offset and length in the block
// buffer (length 0 = NULL), 0-based column position.  Ignored when the
// context has no guess state.
void guessField(UnloadContext *ctx, uint32_t offset, uint32_t length, uint32_t column);
// The value tests, non-zero when the value at offset passes.
int isGuessValidDate(const UnloadContext *ctx, uint32_t offset, uint32_t length);
int isGuessValidNumber(const UnloadContext *ctx, uint32_t offset, uint32_t length);
int isGuessValidCLOB(const UnloadContext *ctx, uint32_t offset, uint32_t length);
int isGuessValidBLOB(const UnloadContext *ctx, uint32_t offset, uint32_t length);
int isGuessValidChar(const UnloadContext *ctx, uint32_t offset, uint32_t length);
// The word a proposed UNLOAD command gives column k (" NUMBER", " RAW",
// " UNKNOWN" ...).
const char *getGuessedTypeWord(const ColumnGuessState *state, uint32_t column);
// The guessed columns of a proposal: " \n      " before columns 0, 10, 20 ...
// and each column's word, then " \n      " once more unless the count
// modulo 10 is 1 to 4.
void printGuessedColumns(FILE *stream, const ColumnGuessState *state);

// SCAN TABLE: for every table found (through the extent file when there is
// one, else by walking the files), its rows sampled and an UNLOAD command
// proposed with the guessed column types.
void listTableHeader(FILE *stream, UnloadContext *ctx, uint32_t rfn);

// ---- One object's blocks (object_sample.cpp) ----

// What the extent file's runs of one data object hold.
struct ObjectSample {
    uint64_t blocks;   // table data blocks of the object
    uint64_t rows;     // head pieces of live rows in them
    uint16_t columns;  // the most columns a sampled row stores
    uint32_t file;     // the file of its first block
};
// Reads every block of the object's runs in ZORDICT/ZOREXT.TXT, counts its
// table data blocks and rows, and decodes up to 8,192 rows with the guess
// mode on: the evidence is left in ctx->columnGuess.  False when no table
// data block of the object is found.
bool sampleExtentObject(UnloadContext *ctx, uint32_t objd, ObjectSample *sample);
