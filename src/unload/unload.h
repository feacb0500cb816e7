// Row unloading: locating and decoding rows in data blocks, rendering column
// values, walking segments and writing text records, the export dump writer,
// ROWIDs and character sets.  Each piece has its own header and its own
// section below; this header gathers them so that a caller can include the
// subsystem as a whole.
#pragma once

// --- Row decoding (row_decode.h) -------------------------------------------
// getDataBeginOffset, getTableRowIndex, getTableRowCount, getTableRowOffset
// read the data header and the table and row directories; mapNormalColumns
// and mapCompressColumns split a row piece into the context's column slots
// (with its flag and chaining addresses); countDataRows tells the scans
// whether a block holds a live row.
#include "unload/row_decode.h"
// --- end of row decoding ----------------------------------------------------

// --- Column value formatting (value_format.h) ------------------------------
// printField dispatches one column value on its type code to printNUMBER,
// printDATE, printTIMESTAMP, printBINARYFLOAT, printCHAR, printVARCHAR,
// printNVARCHAR, printVARRAW, printRAW, printVARRAY, printNARRAY (LOB codes
// 112, 113, 255 go to the LOB writers); ora_number_to_string and
// ora_valid_number work on NUMBER bytes; printDate writes the local time.
#include "unload/value_format.h"
// --- end of column value formatting -----------------------------------------

// --- Row output and segment traversal (row_output.cpp) ---------------------
// Traversal entries: each takes the output stream, the context, the data
// object id, the table number inside the block (the cluster table number, 0
// for an ordinary table), DELETED_ROW and COMMITED_ONLY, and adds the head
// rows it writes to ctx->rowsUnloaded, stopping at ctx->rowLimit.
#include <cstdint>
#include <cstdio>

#include "shell/unload_context.h"

struct ExtentEntry;

// Walks the extent map of the segment header already in the block buffer,
// through its chain of extent map blocks.
void printExtentRows(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                     uint8_t committed);
// Unloads one extent of the extent file.
void printRowByExtent(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                      uint8_t committed, const ExtentEntry *extent);
// Scans every open datafile (or only file `file`) for data blocks of objd;
// with a file (or BIGFILE) and a block, unloads only that block.
void scanTableRows(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                   uint8_t committed, uint32_t file, uint32_t block);
// All rows of `table` in the data block in the buffer, chained pieces
// followed.
void printDataRows2(FILE *stream, UnloadContext *ctx, uint32_t table, uint8_t deleted, uint8_t committed);
// One row piece from column position firstColumn; returns the position after
// its last column, where the next piece of the row starts.
uint32_t printDataRow2(FILE *stream, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t firstColumn);

// Rows whose chained or migrated piece could not be read are still ended,
// and reported (incomplete_rows.cpp): one line each, up to a cap per unload,
// then how many more, and a count when the unload ends.
enum MissingPieceReason {
    kPieceReadable = 0,
    kPieceUnreadable,        // the block could not be read
    kPieceBadBlock,          // the block is in the corrupt list or fails its check
    kPieceOtherObject,       // the block belongs to another object
    kPieceNotData,           // the block is not a data block
    kPieceNotInBlock,        // the block has no such row piece
    kPieceLoop,              // the chain leads back into the row's own pieces
};
void resetIncompleteRows(UnloadContext *ctx);
void noteIncompleteRow(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot, uint32_t pieceRdba,
                       uint32_t pieceSlot, int reason);
// Writes the remaining count and the total, when there were incomplete rows.
void reportIncompleteRows(UnloadContext *ctx);
// --- end of row output and segment traversal --------------------------------
