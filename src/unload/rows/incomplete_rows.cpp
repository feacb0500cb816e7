// Reports of rows that lost a chained or migrated piece.  Such a row is
// still written (its record ended where the chain broke), so without a word
// it would pass for a complete one: each is named with its own address and
// the address of the piece that is missing.
#include "unload/rows/rows.h"

namespace {

// Lines naming single rows per unload; the rest are only counted.
constexpr uint32_t kMaxIncompleteRowLines = 20;

const char *reasonText(int reason)
{
    switch (reason) {
    case kPieceUnreadable: return "cannot be read";
    case kPieceBadBlock: return "is in a block that fails its check";
    case kPieceOtherObject: return "is in a block of another object";
    case kPieceNotData: return "is in a block that is not a data block";
    case kPieceNotInBlock: return "is not in its block";
    case kPieceLoop: return "leads back into the row (a chain loop)";
    default: return "is missing";
    }
}

}  // namespace

void resetIncompleteRows(UnloadContext *ctx)
{
    ctx->incompleteRows = 0;
    ctx->incompleteRowLines = 0;
}

void noteIncompleteRow(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot, uint32_t pieceRdba,
                       uint32_t pieceSlot, int reason)
{
    ctx->incompleteRows++;
    if (ctx->incompleteRowLines >= kMaxIncompleteRowLines)
        return;
    ctx->incompleteRowLines++;
    printf("  Incomplete row %d.%u.%u: its piece at RDBA=0x%08x slot %u %s\n", static_cast<int32_t>(rowRdba),
           table, slot, pieceRdba, pieceSlot, reasonText(reason));
}

void reportIncompleteRows(UnloadContext *ctx)
{
    if (ctx->incompleteRows == 0)
        return;
    if (ctx->incompleteRows > ctx->incompleteRowLines)
        printf("  ... and %llu more incomplete rows\n",
               static_cast<unsigned long long>(ctx->incompleteRows - ctx->incompleteRowLines));
    printf("  %llu incomplete rows: a chained or migrated piece could not be read\n",
           static_cast<unsigned long long>(ctx->incompleteRows));
    resetIncompleteRows(ctx);
}
