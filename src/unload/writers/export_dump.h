// The export dump writer: an Oracle export file of the classic layout for
// one table, which Oracle's import utility loads.
//
// File layout, in writing order:
//   header        2268 bytes: 0x03, database character set (u16 BE),
//                 "EXPORT:V08.01.07\nU", owner, text lines and ids, zero
//                 padding to byte 2048, the 220-byte NLS trailer
//   "TABLE \"name\"\n", the CREATE TABLE text, the INSERT text (each + "\n")
//   column count (u16), one descriptor per column
//   data begin    00 00 00 00
//   rows
//   data end      FF FF 0A
//   tail          "EXIT\nEXIT\n", zero padding to a multiple of 2048 bytes
//
// Inside the data section every two-byte length is little-endian:
//   value        length (1..65532), then the stored bytes unchanged
//   NULL         FE FF (a value of length 0 too)
//   LONG chain   FD FF, then one or more value elements (chunks), then 00 00
//   row end      00 00
// FD FF, FE FF and FF FF are markers, so no element is longer than 65532
// bytes: a longer LONG value goes out as several chunks; any other value
// that long cannot come from an intact block and is cut (with a message on
// standard error) so that the data section stays in step.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/unload_context.h"
#include "lob/lob.h"
#include "unload/values/text_sink.h"

struct ColumnList;

constexpr uint32_t kDmpMaxElement = 65532;
constexpr uint32_t kDmpCarrySize = 65536;
constexpr uint32_t kDmpHeaderSize = 2268;
// Room the header leaves for the owner's name.
constexpr uint32_t kDmpMaxOwnerLength = 1909;

// The dump writer's state across the pieces of one row (the chain
// contexts share it through the pointer copied with the context).
struct DmpRowState {
    uint8_t longChain;          // 1 while a LONG value's chunks are written
    // Elements written for the row so far: each column position gets one
    // element, in order, whatever the flags of damaged pieces claim.
    uint32_t nextPosition;
    uint8_t carryPending;       // a value split between two row pieces
    uint32_t carryPosition;
    uint32_t carryLength;
    uint8_t carry[kDmpCarrySize];
    const ColumnList *columns;  // names for messages, when known
    // The address of the row piece being written, for messages.
    uint32_t rowRdba;
    uint32_t rowTable;
    uint32_t rowSlot;
};

// The row piece that the next values come from, for the messages that name it.
void noteDmpRowAddress(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot);

// Allocates the row state of ctx if it has none (once per unload), and
// releases it.  The writers allocate it themselves when called without.
bool beginDmpRows(UnloadContext *ctx, const ColumnList *columns);
void endDmpRows(UnloadContext *ctx);

// Header.  Returns 0 and writes nothing when the owner's name does not fit.
int printDmpHeader(FILE *stream, uint16_t charset, uint16_t ncharCharset, const char *owner);
// "TABLE \"%s\"\n", with tab, carriage return and newline in the name
// written as spaces.
void printDmpTable(FILE *stream, const char *tableName);
void printDmpColumns(FILE *stream, uint32_t columnCount);
void printDmpDatatype(FILE *stream, uint32_t type, uint32_t length, uint32_t charsetId, uint32_t charsetForm);
void printDmpDataBegin(FILE *stream);
void printDmpDataEnd(FILE *stream);
void printDmpTail(FILE *stream);

// One value element: the length, then the bytes as stored.  A length of 0
// is written as a NULL, since the format has no empty value.
void printDmpValue(FILE *stream, const uint8_t *bytes, uint32_t length);
void printDmpNull(FILE *stream);
// Opens a LONG (or LOB) value's chunk chain.
void printDmpChain(FILE *stream);
// Ends a row, or a LONG chunk chain.
void printDmpRecord(FILE *stream);
// The four above, as the LOB writers take them (lob/ sits below this writer).
extern const DumpElementWriter kDumpElements;

// All rows of `table` in the data block in the buffer, chained pieces
// followed; every row gets exactly ctx->columnCount elements and a row end.
void dumpDataRows2(FILE *stream, UnloadContext *ctx, uint32_t table, uint8_t deleted, uint8_t committed);
// One row piece from column position firstColumn; returns the position
// after its last column.  A piece with L closes the row.
uint32_t dumpDataRow2(FILE *stream, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t firstColumn);

// ---- Pieces shared with the index-row writer ----
// Clears the row state before the first piece of a row.
void startDmpRow(UnloadContext *ctx);
// The elements written into a sink.
void appendDmpValue(TextSink *sink, const uint8_t *bytes, uint32_t length);
void appendDmpMarker(TextSink *sink, uint16_t marker);
// One column value of the row at column `position`: NULL, LOB column,
// carried or plain value, keeping the LONG chain open or closing it.
void dumpColumnValue(TextSink *sink, UnloadContext *ctx, uint32_t position, const uint8_t *bytes,
                     uint32_t length, bool continuesInNext);
uint32_t dumpRowPiece(TextSink *sink, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t firstColumn);
// The same for a piece already mapped into the context's column slots.
uint32_t dumpMappedPiece(TextSink *sink, UnloadContext *ctx, uint32_t firstColumn);
// Ends a row (early or at its last piece): writes a value still carried,
// closes an open LONG chain, writes a NULL for every column not written yet
// (from `column` on when the row state is lost), then the row end.
void closeDmpRow(TextSink *sink, UnloadContext *ctx, uint32_t column);

// Where and why following a row's pieces stopped short of its last one:
// reason is an IncompletePiece (kPieceReadable when nothing is missing, as
// after MAXCHAINS, which says so itself).
struct ChainStop {
    int reason;
    uint32_t rdba;
    uint16_t slot;
};

// Follows the pieces of a row from (rdba, slot) into `chain`, writing each
// as a piece of `table`;
// objd 0 follows pieces of any object (the overflow segment of an
// index-organized table) and ignores MAXCHAINS.  Returns the column after
// the last one written and sets *ended when a piece closed the row; when
// stop is given, it says what ended the row early.
uint32_t dumpChainedPieces(TextSink *sink, UnloadContext *ctx, UnloadContext *chain, uint32_t table,
                           uint32_t rdba, uint16_t slot, uint32_t column, uint32_t objd, uint64_t headKey,
                           bool *ended, ChainStop *stop = nullptr);
