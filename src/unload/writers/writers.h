// Writers: walks a segment's blocks and writes their rows as text, CSV, export dump or IOT records.
//
// What this folder offers:
// - the traversals below (row_output.cpp): a segment header's extent map,
//   one extent of the extent file, or a scan of the datafiles, each block's
//   rows written with their chained and migrated pieces followed;
// - csv_output.h: RFC 4180 quoting and the PostgreSQL value forms;
// - export_dump.h: the classic export dump's header, table and row records;
// - added_columns.h: the defaults of columns added after rows were written,
//   which those rows end before;
// - the leaf rows of index-organized tables (index_rows.cpp), as text or as
//   dump rows.
// Traversal entries take the output stream, the context, the data object id,
// the table number inside the block (the cluster table number, 0 for an
// ordinary table), DELETED_ROW and COMMITED_ONLY, and add the head rows they
// write to ctx->rowsUnloaded, stopping at ctx->rowLimit.  Under SET PARALLEL
// they share the blocks among workers (unload/parallel/).
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/unload_context.h"
#include "unload/writers/csv_output.h"
#include "unload/writers/export_dump.h"

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

// A LOB column's value (isLobType) that cannot be read as bytes (a
// SecureFile locator): named with the address of its row piece
// (rowRdba.table.slot) and
// column, and counted; the caller then writes a NULL.  False for every other
// value.
bool skipUnreadableLob(UnloadContext *ctx, const uint8_t *bytes, uint32_t length, uint32_t rowRdba,
                       uint32_t table, uint32_t slot, uint32_t position);

// Text records of the leaf entries of the index block in the context's
// buffer (an index-organized table's rows: the key columns, then the rest
// of the row, continued through its overflow pieces).  Branch blocks write
// nothing.  Record layout as for table rows; the row address of an entry is
// "rdba.0.entry".
void printIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed);
// The same entries as export dump rows, each with exactly the table's
// column count of elements.
void dumpIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed);
