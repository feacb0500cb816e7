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
    case kPieceOtherBlock: return "is in a block that holds another block";
    case kPieceNotHead: return "no longer leads to it";
    default: return "is missing";
    }
}

// Said after the address of a block not read, and in its count line.
const char *blockReasonText(int reason)
{
    switch (reason) {
    case kBlockZeros: return "all zeros (never formatted, or lost)";
    case kBlockOtherObject: return "a block of another object";
    case kBlockOtherAddress: return "holds another block";
    case kBlockBadChecksum: return "fails its checksum";
    case kBlockUnreadable: return "cannot be read";
    case kBlockPastEnd: return "past the end of its file";
    default: return "not a data block";
    }
}

}  // namespace

void noteBlockNotRead(UnloadContext *ctx, uint32_t rdba, int reason, uint32_t detail, bool parentCaps)
{
    if (ctx->origin != nullptr)
        ctx = ctx->origin;
    if (reason < 0 || reason >= kBlockReasonCount)
        reason = kBlockNotData;
    ctx->blocksNotRead++;
    ctx->blocksNotReadBy[reason]++;
    if (!parentCaps) {
        if (ctx->blocksNotReadLines >= kMaxIncompleteRowLines)
            return;
        ctx->blocksNotReadLines++;
    }
    printf("  Block not read at RDBA=0x%08x: %s", rdba, blockReasonText(reason));
    if (reason == kBlockOtherObject)
        printf(", data object id %u", detail);
    else if (reason == kBlockOtherAddress)
        printf(" (RDBA=0x%08x)", detail);
    else if (reason == kBlockNotData)
        printf(" (type 0x%02x)", detail);
    putchar('\n');
}

void countBlocksNotRead(UnloadContext *ctx, uint64_t count, int reason)
{
    if (ctx->origin != nullptr)
        ctx = ctx->origin;
    if (reason < 0 || reason >= kBlockReasonCount)
        reason = kBlockNotData;
    ctx->blocksNotRead += count;
    ctx->blocksNotReadBy[reason] += count;
}

uint32_t blockNotReadLineCap()
{
    return kMaxIncompleteRowLines;
}

void reportBlocksNotRead(const UnloadContext *ctx)
{
    if (ctx->blocksNotRead > ctx->blocksNotReadLines)
        printf("  ... and %llu more blocks not read\n",
               static_cast<unsigned long long>(ctx->blocksNotRead - ctx->blocksNotReadLines));
    for (int reason = 0; reason < kBlockReasonCount; reason++)
        if (ctx->blocksNotReadBy[reason] != 0)
            printf("  %llu blocks not read: %s\n",
                   static_cast<unsigned long long>(ctx->blocksNotReadBy[reason]), blockReasonText(reason));
}

void resetIncompleteRows(UnloadContext *ctx)
{
    ctx->blocksNotRead = 0;
    ctx->blocksNotReadLines = 0;
    ctx->objectBlocks = 0;
    for (int reason = 0; reason < kBlockReasonCount; reason++)
        ctx->blocksNotReadBy[reason] = 0;
    ctx->incompleteRows = 0;
    ctx->incompleteRowLines = 0;
    ctx->lobsNotRead = 0;
    ctx->lobsNotReadLines = 0;
    ctx->defaultlessValues = 0;
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

void noteOrphanBody(UnloadContext *ctx, uint32_t bodyRdba, uint32_t table, uint32_t slot, uint32_t headRdba,
                    uint32_t headSlot, int reason, bool counted)
{
    if (!counted)
        ctx->incompleteRows++;
    if (ctx->incompleteRowLines >= kMaxIncompleteRowLines)
        return;
    ctx->incompleteRowLines++;
    printf("  Row %d.%u.%u written from its migrated body: its head at RDBA=0x%08x slot %u %s\n",
           static_cast<int32_t>(bodyRdba), table, slot, headRdba, headSlot, reasonText(reason));
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
    reportBlocksNotRead(ctx);
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
    // The LOB and block counts stay until the next unload starts: its end line says
    // that the unload is not complete.
    ctx->incompleteRows = 0;
    ctx->incompleteRowLines = 0;
}
