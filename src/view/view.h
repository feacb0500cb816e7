// View: a block decoded for the operator's eyes, as DUMP, ORADUMP and the scans print it.
//
// The dumps sit above the row and index decoders because the data and index
// sections list each row's column values; the block layer below them only
// reads fields.  Every line is a fixed format, and counts taken from the block
// are listed only as far as their entries lie inside it.
#pragma once

#include <cstdio>

#include "core/unload_context.h"

// Decoded dumps.  printHeader is ORADUMP's dump; printBriefHeader the few
// lines the scans print per block ("## " before its own lines in guess
// mode).  The data and index sections map rows, so they take the context
// writable: its row-decoding state is left as the last row mapped it.
void printHeader(FILE *stream, UnloadContext *ctx);
void printBriefHeader(FILE *stream, UnloadContext *ctx);
void printITL(FILE *stream, const UnloadContext *ctx);
void printRowHeader(FILE *stream, UnloadContext *ctx);
void printIndexRowHeader(FILE *stream, const UnloadContext *ctx);
void printSegmentHeader(FILE *stream, const UnloadContext *ctx);
