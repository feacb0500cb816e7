// Row decoding: finds the rows of one table inside the data block held in the
// context's block buffer and splits a row piece into its column values.
//
// Mapping a piece fills the row-decoding state of the context: the column
// slots (offset and length of each value inside the block; length 0 for a
// NULL), the mapped-column counter, the flag byte of the piece and its
// chaining addresses.  Nothing is printed; the row writers, the export dump,
// the index unloader and the scans consume the slots.
//
// Every byte of the block is untrusted.  A row header, chaining address,
// length or value that would reach past the block ends the piece quietly,
// keeping what was mapped before it, and a slot that still runs to within one
// byte of the block end is neutralised (offset block size - 2, length 0).
#pragma once

#include <cstdint>

#include "core/unload_context.h"

// Row flag bits of a row piece header.
constexpr uint8_t kRowFlagClusterKey = 0x80;     // K
constexpr uint8_t kRowFlagClusterMember = 0x40;  // C: the key row's columns come first
constexpr uint8_t kRowFlagHead = 0x20;           // H
constexpr uint8_t kRowFlagDeleted = 0x10;        // D
constexpr uint8_t kRowFlagFirst = 0x08;          // F
constexpr uint8_t kRowFlagLast = 0x04;           // L
constexpr uint8_t kRowFlagPrevious = 0x02;       // P: first column continues the previous piece
constexpr uint8_t kRowFlagNext = 0x01;           // N: last column continues in the next piece

// A row directory entry that holds no row.
constexpr uint16_t kFreeRowEntry = 0xFFFF;

// Offset of the table data header (kdbh) in the block: the data layer offset
// of the block accessors, under the name the row decoder's callers use.
uint32_t getDataBeginOffset(const UnloadContext *ctx);

// Table directory entry of `table`: its first row directory index, and the
// number of row directory entries it owns.  0 when the entry is outside the block.
uint16_t getTableRowIndex(const UnloadContext *ctx, uint32_t table);
uint16_t getTableRowCount(const UnloadContext *ctx, uint32_t table);

// Row directory entry of row `slot` of `table`: the piece's offset relative
// to the data header, or kFreeRowEntry when the entry is free or cannot be
// read from the block.
uint16_t getTableRowOffset(const UnloadContext *ctx, uint32_t table, uint32_t slot);

// Maps an uncompressed row piece.  Clears the flag, both chaining addresses
// and the permutation count first, then appends the piece's columns at the
// mapped-column counter (which the caller sets to 0 before each piece); a
// cluster member row appends the columns of its key row in table 0 first.
void mapNormalColumns(UnloadContext *ctx, uint32_t table, uint32_t slot);
// The same for the piece at block offset `position` (the data header offset
// plus the piece's row directory entry), for a caller that has just read
// that entry: the row writer walking a block.
void mapNormalColumnsAt(UnloadContext *ctx, uint32_t position);

// Maps a piece of an OLTP-compressed block.  Table 0 is the symbol table: its
// entry's columns (nested references followed) are appended and the flag and
// addresses are left alone.  Any other table is a row of the compressed table:
// the counter restarts at 0 and the flag and chaining addresses are set.
// Call getCompressOrder once per block before mapping its rows.
void mapCompressColumns(UnloadContext *ctx, uint32_t table, uint32_t slot);

// 1 when the block in the buffer holds at least one live row of `table` (a
// table data block), or is a leaf block of an index with a live entry; else 0.
int countDataRows(const UnloadContext *ctx, uint32_t table);
