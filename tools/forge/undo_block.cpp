// Undo blocks and undo segment headers, laid out from their block layouts
// (see forge_undo_index.h for the fields).
#include "forge/forge_undo_index.h"

#include <cstdio>
#include <cstring>

namespace forge {

static const uint32_t kTailSize = 4;

// Undo block fields.
static const uint32_t kUndoXidUsn = 20;
static const uint32_t kUndoXidSlot = 22;
static const uint32_t kUndoXidWrap = 24;
static const uint32_t kUndoSequence = 28;
static const uint32_t kUndoCount = 30;
static const uint32_t kUndoIrb = 31;
static const uint32_t kUndoFlag = 32;
static const uint32_t kUndoRecordEnd = 34;
static const uint32_t kUndoRecordOffsets = 36;
static const size_t kMaxUndoRecords = 255;

// Undo segment header fields.
static const uint32_t kSpareOffset = 20;
static const uint32_t kExtentsOffset = 36;
static const uint32_t kBlocksOffset = 40;
static const uint32_t kOffsetField = 44;
static const uint32_t kHwmExtentOffset = 48;
static const uint32_t kHwmBlockOffset = 52;
static const uint32_t kHwmExtentSizeOffset = 56;
static const uint32_t kHwmRdbaOffset = 60;
static const uint32_t kMapExtentsOffset = 92;
static const uint32_t kMapNextOffset = 96;
static const uint32_t kMapObjectOffset = 100;
static const uint32_t kMapFlagOffset = 104;
static const uint32_t kExtentList = 108;
static const uint32_t kExtentSize = 8;
static const uint32_t kOffsetBias = 20;        // the offset field counts from the end of the cache header
static const uint32_t kTimestampSize = 4;
static const uint32_t kAutoTransOffset8K = 6096;
static const uint32_t kDefaultBlockSize = 8192;
// Room left for the extent map when no offset is given: enough for 121
// extents in a type 14 header; 248 in a type 38 header of 8 KB and more,
// 62 in smaller blocks (their timestamps follow the map).
static const uint32_t kDefaultOffset14 = kExtentList + kExtentSize * 121 - kOffsetBias;
static const uint32_t kDefaultOffset38 = kExtentList + kExtentSize * 248 - kOffsetBias;
static const uint32_t kDefaultOffset38Small = kExtentList + kExtentSize * 62 - kOffsetBias;

static const uint32_t kTclScnBase = 0;
static const uint32_t kTclScnWrap = 4;
static const uint32_t kTclUbaRdba = 8;
static const uint32_t kTclUbaSequence = 12;
static const uint32_t kTclUbaRecord = 14;
static const uint32_t kTclSize = 16;
static_assert(kTclUbaRecord + 2 == kTclSize, "the record number, a u16, ends the control entry");
static const uint32_t kSlotList = 104;
static const uint32_t kSlotSize = 40;
static const uint32_t kSlotWrap = 0;
static const uint32_t kSlotFlag = 2;
static const uint32_t kSlotLastBlock = 4;
static const uint32_t kSlotScnBase = 8;
static const uint32_t kSlotScnWrap = 12;
static const uint32_t kSlotState = 16;
static const uint32_t kSlotNext = 18;
static const uint32_t kSlotBlocks = 32;
static const uint32_t kSlotCommit = 36;

static bool overlaps(uint64_t a0, uint64_t a1, uint64_t b0, uint64_t b1) { return a0 < b1 && b0 < a1; }

static bool fail(char *error, size_t errorLength, const char *text) {
    if (error != nullptr && errorLength > 0) snprintf(error, errorLength, "%s", text);
    return false;
}

// ---------------------------------------------------------------------------
// Undo blocks

void initUndoBlockLayout(UndoBlockLayout *layout, uint32_t rdba) {
    initCacheHeader(&layout->cache, kTypeUndoBlock, rdba);
    layout->xidUsn = 0;
    layout->xidSlot = 0;
    layout->icl = 0;
    layout->xidWrap = 0;
    layout->sequence = 0;
    layout->irb = -1;
    layout->flag = 0;
    layout->records.clear();
}

bool putUndoBlock(Block *block, const UndoBlockLayout *layout, char *error, size_t errorLength) {
    if (layout->records.size() > kMaxUndoRecords) return fail(error, errorLength, "more than 255 undo records");
    CacheHeader cache = layout->cache;
    cache.type = kTypeUndoBlock;
    putCacheHeader(block, &cache);
    uint32_t count = (uint32_t)layout->records.size();
    uint32_t directoryEnd = kUndoRecordOffsets + 2 * count;
    uint32_t end = block->size - kTailSize;
    putU16(block, kUndoXidUsn, layout->xidUsn);
    putU16(block, kUndoXidSlot, (uint16_t)((layout->xidSlot & 0x0FFF) | ((layout->icl & 0x0F) << 12)));
    putU32(block, kUndoXidWrap, layout->xidWrap);
    putU16(block, kUndoSequence, layout->sequence);
    putU8(block, kUndoCount, (uint8_t)count);
    putU8(block, kUndoIrb, (uint8_t)(layout->irb < 0 ? count : (uint32_t)layout->irb));
    putU16(block, kUndoFlag, layout->flag);
    putU16(block, kUndoRecordEnd, (uint16_t)end);
    for (uint32_t i = 0; i < count; i++) {
        const std::vector<uint8_t> &record = layout->records[i];
        if (record.size() > end || end - record.size() < directoryEnd)
            return fail(error, errorLength, "undo records do not fit in the block");
        end -= (uint32_t)record.size();
        if (!record.empty()) putBytes(block, end, record.data(), (uint32_t)record.size());
        putU16(block, kUndoRecordOffsets + 2 * i, (uint16_t)end);
    }
    return true;
}

uint32_t undoRecordOffset(const Block *block, uint32_t n) {
    if (n == 0) return 0;
    return peekU16(block, kUndoRecordOffsets + 2 * (n - 1));
}

// ---------------------------------------------------------------------------
// Undo segment headers

void initTransactionSlot(TransactionSlot *slot) { memset(slot, 0, sizeof *slot); }

void initUndoSegmentHeaderLayout(UndoSegmentHeaderLayout *layout, uint8_t type, uint32_t rdba) {
    initCacheHeader(&layout->cache, type, rdba);
    memset(layout->spare, 0, sizeof layout->spare);
    layout->extentCount = 0;
    layout->blockCount = 0;
    layout->offset = 0;
    layout->hwmExtent = layout->hwmBlock = layout->hwmExtentSize = layout->hwmRdba = 0;
    layout->mapNext = layout->mapObject = layout->mapFlag = 0;
    layout->extents.clear();
    layout->transOffset = 0;
    layout->tclScnBase = 0;
    layout->tclScnWrap = 0;
    layout->tclUbaRdba = 0;
    layout->tclUbaSequence = 0;
    layout->tclUbaRecord = 0;
    layout->slots.clear();
}

uint32_t undoHeaderOffsetField(const UndoSegmentHeaderLayout *layout, uint32_t blockSize) {
    if (layout->offset != 0) return layout->offset;
    if (layout->cache.type == kTypeUndoHeaderAuto)
        return blockSize >= kDefaultBlockSize ? kDefaultOffset38 : kDefaultOffset38Small;
    return kDefaultOffset14;
}

uint32_t undoTransactionTableOffset(const UndoSegmentHeaderLayout *layout, uint32_t blockSize) {
    if (layout->transOffset != 0) return layout->transOffset;
    if (layout->cache.type != kTypeUndoHeaderAuto) return undoHeaderOffsetField(layout, blockSize) + kOffsetBias;
    if (blockSize == kDefaultBlockSize) return kAutoTransOffset8K;
    uint32_t size = kSlotList + kSlotSize * (uint32_t)layout->slots.size();
    if (size + kTailSize > blockSize) return 0;
    return (blockSize - kTailSize - size) & ~3u;
}

bool putUndoSegmentHeader(Block *block, const UndoSegmentHeaderLayout *layout, char *error, size_t errorLength) {
    uint8_t type = layout->cache.type;
    if (type != kTypeUndoHeader && type != kTypeUndoHeaderAuto)
        return fail(error, errorLength, "an undo segment header is type 14 or 38");
    uint32_t offset = undoHeaderOffsetField(layout, block->size);
    uint32_t trans = undoTransactionTableOffset(layout, block->size);
    uint32_t extents = (uint32_t)layout->extents.size();
    uint64_t mapEnd = kExtentList + (uint64_t)kExtentSize * extents;
    uint64_t stampBase = (uint64_t)(offset & 0xFFFF) + kOffsetBias;
    uint64_t stampEnd = type == kTypeUndoHeaderAuto ? stampBase + (uint64_t)kTimestampSize * extents : mapEnd;
    uint64_t transEnd = (uint64_t)trans + kSlotList + (uint64_t)kSlotSize * layout->slots.size();
    uint64_t limit = block->size - kTailSize;
    if (mapEnd > limit || stampEnd > limit) return fail(error, errorLength, "extent map does not fit in the block");
    if (trans < kExtentList || transEnd > limit)
        return fail(error, errorLength, "transaction table does not fit in the block");
    if (overlaps(trans, transEnd, kExtentList, mapEnd))
        return fail(error, errorLength, "transaction table overlaps the extent map");
    if (type == kTypeUndoHeaderAuto && extents > 0) {
        if (overlaps(stampBase, stampEnd, kExtentList, mapEnd))
            return fail(error, errorLength, "extent timestamps overlap the extent map");
        if (overlaps(trans, transEnd, stampBase, stampEnd))
            return fail(error, errorLength, "transaction table overlaps the extent timestamps");
    }

    CacheHeader cache = layout->cache;
    putCacheHeader(block, &cache);
    for (uint32_t i = 0; i < 4; i++) putU32(block, kSpareOffset + 4 * i, layout->spare[i]);
    uint32_t blocks = 0;
    for (const UndoExtent &e : layout->extents) blocks += e.blocks;
    putU32(block, kExtentsOffset, layout->extentCount != 0 ? layout->extentCount : extents);
    putU32(block, kBlocksOffset, layout->blockCount != 0 ? layout->blockCount : blocks);
    putU32(block, kOffsetField, offset);
    putU32(block, kHwmExtentOffset, layout->hwmExtent);
    putU32(block, kHwmBlockOffset, layout->hwmBlock);
    putU32(block, kHwmExtentSizeOffset, layout->hwmExtentSize);
    putU32(block, kHwmRdbaOffset, layout->hwmRdba);
    putU32(block, kMapExtentsOffset, extents);
    putU32(block, kMapNextOffset, layout->mapNext);
    putU32(block, kMapObjectOffset, layout->mapObject);
    putU32(block, kMapFlagOffset, layout->mapFlag);
    for (uint32_t i = 0; i < extents; i++) {
        const UndoExtent &e = layout->extents[i];
        putU32(block, kExtentList + kExtentSize * i, e.rdba);
        putU32(block, kExtentList + kExtentSize * i + 4, e.blocks);
        if (type == kTypeUndoHeaderAuto) putU32(block, (uint32_t)stampBase + kTimestampSize * i, e.timestamp);
    }
    putU32(block, trans + kTclScnBase, layout->tclScnBase);
    putU16(block, trans + kTclScnWrap, layout->tclScnWrap);
    putU32(block, trans + kTclUbaRdba, layout->tclUbaRdba);
    putU16(block, trans + kTclUbaSequence, layout->tclUbaSequence);
    // One-byte fields of the table fill the low byte of a 16-bit field, so
    // they move with the platform's byte order.
    putU16(block, trans + kTclUbaRecord, layout->tclUbaRecord);
    for (uint32_t k = 0; k < layout->slots.size(); k++) {
        const TransactionSlot &s = layout->slots[k];
        uint32_t at = trans + kSlotList + kSlotSize * k;
        putU16(block, at + kSlotWrap, s.wrap);
        putU16(block, at + kSlotFlag, s.flag);
        putU32(block, at + kSlotLastBlock, s.lastBlock);
        putU32(block, at + kSlotScnBase, s.scnBase);
        putU16(block, at + kSlotScnWrap, s.scnWrap);
        putU16(block, at + kSlotState, s.state);
        putU16(block, at + kSlotNext, s.next);
        putU32(block, at + kSlotBlocks, s.blocks);
        putU32(block, at + kSlotCommit, s.commit);
    }
    return true;
}

}  // namespace forge
