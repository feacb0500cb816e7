// Segment headers and extent map blocks: where a segment records its extents.
// Free-list managed segments start with a header of type 16 (17 for some
// segment kinds), automatic-space-managed ones with type 35; extents that do
// not fit are listed in extent map blocks (type 18, or 36 behind a type 35
// header) chained from the header.  All fields are 32 bits.
#include "block/block.h"

// Segment header fields (types 16, 17, 35; 0 for any other type):
//   36   u32  extents of the segment            (exts)
//   40   u32  blocks of the segment             (blks)
//   48   u32  extent holding the high-water mark (ext#)
//   52   u32  blocks below the HWM in it        (blks)
//   56   u32  size of that extent               (size)
//   60   u32  RDBA of the high-water mark       (hwm)
//   64   u32  next map
//   72   u32  free-list blocks                  (free)
//   76   u32  blocks below the free-list mark   (used)
//   104  u32  extent map flag
// Extent map blocks (18, 36) keep their extent count at 20 instead.
namespace {
constexpr uint32_t kSegExtentCount = 36;
constexpr uint32_t kMapBlockExtentCount = 20;
constexpr uint32_t kSegBlockCount = 40;
constexpr uint32_t kSegHwmExtent = 48;
constexpr uint32_t kSegHwmBlocks = 52;
constexpr uint32_t kSegHwmExtSize = 56;
constexpr uint32_t kSegHwmAddress = 60;
constexpr uint32_t kSegNextMap = 64;
constexpr uint32_t kSegFlgBlocks = 72;
constexpr uint32_t kSegFlgBellow = 76;
constexpr uint32_t kSegMapFlag = 104;

constexpr uint8_t kFreeListSegHeader = 16;
constexpr uint8_t kFreeListSegHeaderAlt = 17;
constexpr uint8_t kFreeListExtentMap = 18;
constexpr uint8_t kAssmSegHeader = 35;
constexpr uint8_t kAssmExtentMap = 36;

bool isSegmentHeader(const UnloadContext *ctx)
{
    uint8_t type = getBlockType(ctx);
    return type == kFreeListSegHeader || type == kFreeListSegHeaderAlt || type == kAssmSegHeader;
}

uint32_t segmentHeaderField(const UnloadContext *ctx, uint32_t off)
{
    return isSegmentHeader(ctx) ? blockU32(ctx, off) : 0;
}
}  // namespace

uint32_t getSegExtentCount(const UnloadContext *ctx)
{
    uint8_t type = getBlockType(ctx);
    if (type == kFreeListExtentMap || type == kAssmExtentMap)
        return blockU32(ctx, kMapBlockExtentCount);
    return segmentHeaderField(ctx, kSegExtentCount);
}

uint32_t getSegBlockCount(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegBlockCount); }
uint32_t getSegHWMExtent(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegHwmExtent); }
uint32_t getSegHWMBlocks(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegHwmBlocks); }
uint32_t getSegHWMExtSize(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegHwmExtSize); }
uint32_t getSegHWMAddress(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegHwmAddress); }
uint32_t getSegNextMAP(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegNextMap); }
uint32_t getSegFLGBlocks(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegFlgBlocks); }
uint32_t getSegFLGBellow(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegFlgBellow); }
uint32_t getSegMapFlag(const UnloadContext *ctx) { return segmentHeaderField(ctx, kSegMapFlag); }

// Extent map placement by block type:
//   type     entry count  next map RDBA  data object id  first entry
//   16, 17   92           96             100             108
//   35       264          268            272             280
//   18       20           24             28              36
//   36       20           24             -               36
// Entry i is 8 bytes at first entry + 8i: u32 RDBA of the extent's first
// block, then u32 its length in blocks.  Blocks of other types are read as
// if they were type 16 for the entry count and the entries, and have no
// next map.
namespace {
constexpr uint32_t kFreeListMapCount = 92;
constexpr uint32_t kFreeListNextMap = 96;
constexpr uint32_t kFreeListFirstEntry = 108;
constexpr uint32_t kAssmMapCount = 264;
constexpr uint32_t kAssmNextMap = 268;
constexpr uint32_t kAssmFirstEntry = 280;
constexpr uint32_t kMapBlockMapCount = 20;
constexpr uint32_t kMapBlockNextMap = 24;
constexpr uint32_t kMapBlockFirstEntry = 36;
constexpr uint32_t kExtentEntrySize = 8;
constexpr uint32_t kExtentEntryRdba = 0;
constexpr uint32_t kExtentEntryBlocks = 4;

uint32_t firstExtentEntry(const UnloadContext *ctx)
{
    switch (getBlockType(ctx)) {
    case kAssmSegHeader:
        return kAssmFirstEntry;
    case kFreeListExtentMap:
    case kAssmExtentMap:
        return kMapBlockFirstEntry;
    default:
        return kFreeListFirstEntry;
    }
}

uint32_t extentEntryField(const UnloadContext *ctx, uint32_t i, uint32_t field)
{
    // The entry position is a 16-bit quantity: a huge entry number wraps
    // within the first 64 KB rather than overflowing, and the bounded read
    // turns anything past the block into 0.
    uint16_t entry = (uint16_t)(firstExtentEntry(ctx) + kExtentEntrySize * i);
    return blockU32(ctx, (uint32_t)entry + field);
}
}  // namespace

uint32_t getBlockExtentCount(const UnloadContext *ctx)
{
    switch (getBlockType(ctx)) {
    case kAssmSegHeader:
        return blockU32(ctx, kAssmMapCount);
    case kFreeListExtentMap:
    case kAssmExtentMap:
        return blockU32(ctx, kMapBlockMapCount);
    default:
        return blockU32(ctx, kFreeListMapCount);
    }
}

uint32_t getSegNextMapRDBA(const UnloadContext *ctx)
{
    switch (getBlockType(ctx)) {
    case kFreeListSegHeader:
    case kFreeListSegHeaderAlt:
        return blockU32(ctx, kFreeListNextMap);
    case kAssmSegHeader:
        return blockU32(ctx, kAssmNextMap);
    case kFreeListExtentMap:
    case kAssmExtentMap:
        return blockU32(ctx, kMapBlockNextMap);
    default:
        return 0;
    }
}

uint32_t getSegExtentRDBA(const UnloadContext *ctx, uint32_t i)
{
    return extentEntryField(ctx, i, kExtentEntryRdba);
}

uint32_t getSegExtentBlocks(const UnloadContext *ctx, uint32_t i)
{
    return extentEntryField(ctx, i, kExtentEntryBlocks);
}
