// Rows: finds the rows of a data block and splits each piece into its column values.
//
// What this folder offers:
// - row_decode.h: the data header, the table and row directories, and the
//   mapping of a row piece (plain or OLTP-compressed) into the context's
//   column slots with its flag and chaining addresses;
// - row_filters.h: the skip list, the committed-only test and the private
//   context that chained pieces are read into;
// - rowid.h: extended ROWIDs, built and parsed;
// - below: the reports of rows that lost a chained or migrated piece, and
//   the test of whether a migrated row's body has lost its head.
// Nothing here writes a value: the writers above read the slots.
#pragma once

#include <cstdint>

#include "core/unload_context.h"
#include "unload/rows/row_decode.h"
#include "unload/rows/row_filters.h"
#include "unload/rows/rowid.h"

// Rows whose chained or migrated piece could not be read are still ended,
// and reported (incomplete_rows.cpp): one line each, up to a cap per unload,
// then how many more, and a count when the unload ends.
enum MissingPieceReason {
    kPieceReadable = 0,
    kPieceUnreadable,   // the block could not be read
    kPieceBadBlock,     // the block is in the corrupt list or fails its check
    kPieceOtherObject,  // the block belongs to another object
    kPieceNotData,      // the block is not a data block
    kPieceNotInBlock,   // the block has no such row piece
    kPieceLoop,         // the chain leads back into the row's own pieces
    kPieceOtherBlock,   // the block read holds another block (a misplaced write)
    kPieceNotHead,      // a migrated body's head slot holds no head leading to it
};
void resetIncompleteRows(UnloadContext *ctx);
void noteIncompleteRow(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot,
                       uint32_t pieceRdba, uint32_t pieceSlot, int reason);
// Writes the remaining count and the total, when there were incomplete rows
// or LOBs not read; clears the row counts (the LOB count stays until the
// next resetIncompleteRows).
void reportIncompleteRows(UnloadContext *ctx);
// A migrated row's body (a piece with F and without H) written as the row
// because its head is lost (`reason`): named with the body's row address
// and the head's address, and counted as an incomplete row unless
// `counted` (its onward chain broke too, and that note counted it).
void noteOrphanBody(UnloadContext *ctx, uint32_t bodyRdba, uint32_t table, uint32_t slot, uint32_t headRdba,
                    uint32_t headSlot, int reason, bool counted);
// The head's address that the body piece at block offset `at` holds; false
// when it lies outside the block.
bool readBodyHeadAddress(const UnloadContext *ctx, uint32_t at, uint32_t *rdba, uint16_t *slot);
// kPieceReadable when the piece at (headRdba, headSlot) is a migrated row's
// head (H without F) of data object objd that leads to (bodyRdba,
// bodySlot); otherwise why the head is lost.  The head's block is read into
// `probe`, a chain context, with the checks a chained piece gets.
int checkMigratedHead(UnloadContext *probe, uint32_t objd, uint32_t table, uint32_t headRdba,
                      uint16_t headSlot, uint32_t bodyRdba, uint16_t bodySlot);
// Whether a walk writes the migrated body at block offset `at` (slot of
// table) as the row: it passes the deleted-row switch and its head, read
// into *chain (made at need), is lost.  True with the head's address and
// why in *head.
struct LostHead {
    uint32_t rdba;
    uint16_t slot;
    int reason;
};
bool bodyHeadIsLost(UnloadContext *ctx, UnloadContext **chain, uint32_t table, uint32_t slot, uint32_t at,
                    uint8_t flag, uint8_t deleted, LostHead *head);
// A LOB value written as NULL because its storage cannot be read (a
// SecureFile locator): named with its row address and column (1-based), up
// to the same cap per unload, and counted.
void noteLobNotRead(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot, uint32_t column);
// A block of the segment being walked that is not one of its data blocks,
// named with its address and why (the same cap per unload) and counted by
// reason.  `detail` is the data object id, the address or the block type
// the block holds, for the reasons that show one.
enum BlockNotReadReason {
    kBlockZeros = 0,     // every byte zero: lost, or never formatted
    kBlockOtherObject,   // a data block of another data object id
    kBlockOtherAddress,  // the block's own address is another one
    kBlockBadChecksum,   // fails its checksum (BLOCK_CHECK)
    kBlockUnreadable,    // the read failed
    kBlockPastEnd,       // the file ends before it
    kBlockNotData,       // a block of a type that holds no rows
};
static_assert(kBlockNotData + 1 == kBlockReasonCount, "one count per reason");
// `parentCaps` is set in a worker of a parallel unload: it names every
// block, and the parent keeps the cap over all of them.
void noteBlockNotRead(UnloadContext *ctx, uint32_t rdba, int reason, uint32_t detail, bool parentCaps);
// Blocks counted without a line each.
void countBlocksNotRead(UnloadContext *ctx, uint64_t count, int reason);
uint32_t blockNotReadLineCap();
// The blocks noted since the last resetIncompleteRows: the remaining count
// and one count line per reason.
void reportBlocksNotRead(const UnloadContext *ctx);
