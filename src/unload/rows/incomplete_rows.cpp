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
    ctx->lobsNotRead = 0;
    ctx->lobsNotReadLines = 0;
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

void noteLobNotRead(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot, uint32_t column)
{
    if (ctx->origin != nullptr)
        ctx = ctx->origin;
    ctx->lobsNotRead++;
    if (ctx->lobsNotReadLines >= kMaxIncompleteRowLines)
        return;
    ctx->lobsNotReadLines++;
    printf("  LOB not read in row %d.%u.%u column %u: SecureFile storage, written as NULL\n",
           static_cast<int32_t>(rowRdba), table, slot, column);
}

void reportIncompleteRows(UnloadContext *ctx)
{
    if (ctx->incompleteRows > ctx->incompleteRowLines)
        printf("  ... and %llu more incomplete rows\n",
               static_cast<unsigned long long>(ctx->incompleteRows - ctx->incompleteRowLines));
    if (ctx->incompleteRows != 0)
        printf("  %llu incomplete rows: a chained or migrated piece could not be read\n",
               static_cast<unsigned long long>(ctx->incompleteRows));
    if (ctx->lobsNotRead > ctx->lobsNotReadLines)
        printf("  ... and %llu more LOBs not read\n",
               static_cast<unsigned long long>(ctx->lobsNotRead - ctx->lobsNotReadLines));
    if (ctx->lobsNotRead != 0)
        printf("  %llu LOBs not read: SecureFile LOB data cannot be read yet and was written as NULL\n",
               static_cast<unsigned long long>(ctx->lobsNotRead));
    // The LOB count stays until the next unload starts: its end line says
    // that the unload is not complete.
    ctx->incompleteRows = 0;
    ctx->incompleteRowLines = 0;
}
