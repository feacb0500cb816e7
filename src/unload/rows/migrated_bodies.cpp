// A migrated row's body is written by its head, which the walk meets in its
// own block.  Only when the head is lost does the body stand for the row:
// the decision reads the head's block alone, so that it is the same in
// whichever worker meets the body, and a body whose head still leads to it
// is never written a second time.
#include "unload/rows/rows.h"

namespace {

constexpr uint8_t kBlockTypeData = 6;

// Right after the piece header (flag, lock byte, column count; one byte more
// for a cluster member) a body holds the head's address and a head the
// body's, both big-endian: RDBA then slot.
constexpr uint32_t kPieceAddressAt = 3;
constexpr uint32_t kClusterMemberShift = 1;

bool readPieceAddress(const UnloadContext *ctx, uint32_t at, uint32_t *rdba, uint16_t *slot)
{
    uint8_t flag;
    if (!readU8(ctx, at, &flag))
        return false;
    uint32_t shift = (flag & kRowFlagClusterMember) ? kClusterMemberShift : 0;
    return readU32BE(ctx, at + kPieceAddressAt + shift, rdba) &&
           readU16BE(ctx, at + kPieceAddressAt + shift + 4, slot);
}

}  // namespace

bool readBodyHeadAddress(const UnloadContext *ctx, uint32_t at, uint32_t *rdba, uint16_t *slot)
{
    return readPieceAddress(ctx, at, rdba, slot);
}

int checkMigratedHead(UnloadContext *probe, uint32_t objd, uint32_t table, uint32_t headRdba,
                      uint16_t headSlot, uint32_t bodyRdba, uint16_t bodySlot)
{
    if (readSingleRDBA(probe->datafiles, probe, headRdba) != static_cast<int>(probe->blockSize))
        return kPieceUnreadable;
    if (matchBlockTail(probe) != 0)
        return kPieceBadBlock;
    if (getBlockType(probe) != kBlockTypeData)
        return kPieceNotData;
    if (getBlockRDBA(probe) != headRdba)
        return kPieceOtherBlock;
    if (getDataObjectID(probe) != objd)
        return kPieceOtherObject;
    // The rows of a compressed block are table 1, whatever the table.
    if (isCompressTable(probe)) {
        getCompressOrder(probe);
        table = 1;
    }
    if (table >= getTableCount(probe) || headSlot >= getTableRowCount(probe, table))
        return kPieceNotInBlock;
    uint16_t offset = getTableRowOffset(probe, table, headSlot);
    if (offset == kFreeRowEntry)
        return kPieceNotInBlock;
    uint32_t at = getDataBeginOffset(probe) + offset;
    uint8_t flag;
    uint32_t nextRdba;
    uint16_t nextSlot;
    // A head that has been deleted still leads to its body: the walk's
    // DELETED_ROW setting decides about both.
    if (!readU8(probe, at, &flag) || (flag & (kRowFlagHead | kRowFlagFirst)) != kRowFlagHead ||
        (flag & kRowFlagLast) || !readPieceAddress(probe, at, &nextRdba, &nextSlot))
        return kPieceNotHead;
    if (nextRdba != bodyRdba || nextSlot != bodySlot)
        return kPieceNotHead;
    return kPieceReadable;
}

bool bodyHeadIsLost(UnloadContext *ctx, UnloadContext **chain, uint32_t table, uint32_t slot, uint32_t at,
                    uint8_t flag, uint8_t deleted, LostHead *head)
{
    bool isDeleted = (flag & kRowFlagDeleted) != 0;
    if ((!deleted && isDeleted) || (deleted == kDeletedRowsOnly && !isDeleted))
        return false;
    if (!readBodyHeadAddress(ctx, at, &head->rdba, &head->slot))
        return false;
    // Without a context to read the head into, the head cannot be ruled
    // out: the body is left to it.
    if (*chain == nullptr)
        *chain = makeChainContext(ctx);
    if (*chain == nullptr)
        return false;
    head->reason = checkMigratedHead(*chain, getDataObjectID(ctx), table, head->rdba, head->slot,
                                     getBlockRDBA(ctx), static_cast<uint16_t>(slot));
    return head->reason != kPieceReadable;
}
