// Segment headers (types 16, 17, 35) and extent map blocks (types 18, 36).
#include <gtest/gtest.h>

#include "block/block.h"
#include "test_block_builder.h"

using namespace testblock;

namespace {

struct Extent {
    uint32_t rdba;
    uint32_t blocks;
};

// A block of the given type whose extent map (count, next map, objd, entries)
// sits where that type keeps it.
std::vector<uint8_t> mapBlock(uint8_t type, uint8_t order, uint32_t countOff, uint32_t nextOff, uint32_t objdOff,
                              uint32_t firstOff, const std::vector<Extent> &extents, uint32_t nextMap,
                              uint32_t objd)
{
    std::vector<uint8_t> b(8192, 0);
    put8(b, 0, type);
    put8(b, 1, 0xA2);
    put32(b, 4, 0x0140000a, order);
    put32(b, countOff, (uint32_t)extents.size(), order);
    put32(b, nextOff, nextMap, order);
    if (objdOff != 0)
        put32(b, objdOff, objd, order);
    for (size_t i = 0; i < extents.size(); i++) {
        put32(b, firstOff + 8 * (uint32_t)i, extents[i].rdba, order);
        put32(b, firstOff + 8 * (uint32_t)i + 4, extents[i].blocks, order);
    }
    return b;
}

const std::vector<Extent> kThreeExtents = {{0x0140000a, 5}, {0x01400010, 8}, {0x01400080, 128}};

class SegmentOrders : public ::testing::TestWithParam<uint8_t> {};

}  // namespace

TEST_P(SegmentOrders, FreeListHeaderListsEntriesFrom108)
{
    uint8_t order = GetParam();
    for (uint8_t type : {16, 17}) {
        std::vector<uint8_t> b = mapBlock(type, order, 92, 96, 100, 108, kThreeExtents, 0x01400200, 53944);
        auto ctx = makeContext(b, order);
        EXPECT_EQ(getBlockExtentCount(ctx.get()), 3u);
        EXPECT_EQ(getSegNextMapRDBA(ctx.get()), 0x01400200u);
        EXPECT_EQ(getDataObjectID(ctx.get()), 53944u);
        for (uint32_t i = 0; i < 3; i++) {
            EXPECT_EQ(getSegExtentRDBA(ctx.get(), i), kThreeExtents[i].rdba);
            EXPECT_EQ(getSegExtentBlocks(ctx.get(), i), kThreeExtents[i].blocks);
        }
        // Entries 0, 1, 2 are the bytes at 108, 116 and 124.
        EXPECT_EQ(blockU32(ctx.get(), 116), kThreeExtents[1].rdba);
        EXPECT_EQ(blockU32(ctx.get(), 124 + 4), kThreeExtents[2].blocks);
    }
}

TEST_P(SegmentOrders, AssmHeaderKeepsItsMapFurtherOn)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = mapBlock(35, order, 264, 268, 272, 280, kThreeExtents, 0x01400300, 77707);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getBlockExtentCount(ctx.get()), 3u);
    EXPECT_EQ(getSegNextMapRDBA(ctx.get()), 0x01400300u);
    EXPECT_EQ(getDataObjectID(ctx.get()), 77707u);
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 0), kThreeExtents[0].rdba);
    EXPECT_EQ(getSegExtentBlocks(ctx.get(), 2), kThreeExtents[2].blocks);
    EXPECT_EQ(blockU32(ctx.get(), 280), kThreeExtents[0].rdba);
}

TEST_P(SegmentOrders, ExtentMapBlocks)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b18 = mapBlock(18, order, 20, 24, 28, 36, kThreeExtents, 0x01400400, 4242);
    auto ctx = makeContext(b18, order);
    EXPECT_EQ(getBlockExtentCount(ctx.get()), 3u);
    EXPECT_EQ(getSegExtentCount(ctx.get()), 3u);   // an extent map keeps its count at 20
    EXPECT_EQ(getSegNextMapRDBA(ctx.get()), 0x01400400u);
    EXPECT_EQ(getDataObjectID(ctx.get()), 4242u);
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 1), kThreeExtents[1].rdba);
    EXPECT_EQ(getSegExtentBlocks(ctx.get(), 1), kThreeExtents[1].blocks);
    // Segment-header fields do not exist in an extent map block.
    put32(b18, 40, 99, order);
    EXPECT_EQ(getSegBlockCount(ctx.get()), 0u);

    std::vector<uint8_t> b36 = mapBlock(36, order, 20, 24, 0, 36, kThreeExtents, 0x01400500, 0);
    put32(b36, 28, 1234, order);
    auto ctx36 = makeContext(b36, order);
    EXPECT_EQ(getBlockExtentCount(ctx36.get()), 3u);
    EXPECT_EQ(getSegExtentCount(ctx36.get()), 3u);
    EXPECT_EQ(getSegNextMapRDBA(ctx36.get()), 0x01400500u);
    EXPECT_EQ(getDataObjectID(ctx36.get()), 0u);
    EXPECT_EQ(getSegExtentRDBA(ctx36.get(), 2), kThreeExtents[2].rdba);
}

TEST_P(SegmentOrders, SegmentHeaderFields)
{
    uint8_t order = GetParam();
    for (uint8_t type : {16, 17, 35}) {
        std::vector<uint8_t> b(8192, 0);
        put8(b, 0, type);
        put32(b, 36, 3, order);
        put32(b, 40, 141, order);
        put32(b, 48, 2, order);
        put32(b, 52, 0x01020304, order);
        put32(b, 56, 128, order);
        put32(b, 60, 0x01400095, order);
        put32(b, 64, 0xAABBCCDD, order);
        put32(b, 72, 7, order);
        put32(b, 76, 11, order);
        put32(b, 104, 0x40000000, order);
        auto ctx = makeContext(b, order);
        EXPECT_EQ(getSegExtentCount(ctx.get()), 3u);
        EXPECT_EQ(getSegBlockCount(ctx.get()), 141u);
        EXPECT_EQ(getSegHWMExtent(ctx.get()), 2u);
        // All four bytes 52..55, assembled in the block order.
        EXPECT_EQ(getSegHWMBlocks(ctx.get()), 0x01020304u);
        EXPECT_EQ(getSegHWMExtSize(ctx.get()), 128u);
        EXPECT_EQ(getSegHWMAddress(ctx.get()), 0x01400095u);
        EXPECT_EQ(getSegNextMAP(ctx.get()), 0xAABBCCDDu);
        EXPECT_EQ(getSegFLGBlocks(ctx.get()), 7u);
        EXPECT_EQ(getSegFLGBellow(ctx.get()), 11u);
        EXPECT_EQ(getSegMapFlag(ctx.get()), 0x40000000u);
        // Another block type has none of them.
        b[0] = 6;
        EXPECT_EQ(getSegExtentCount(ctx.get()), 0u);
        EXPECT_EQ(getSegBlockCount(ctx.get()), 0u);
        EXPECT_EQ(getSegHWMBlocks(ctx.get()), 0u);
        EXPECT_EQ(getSegMapFlag(ctx.get()), 0u);
    }
}

TEST_P(SegmentOrders, OtherBlockTypesReadTheFreeListMapPlaces)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = mapBlock(6, order, 92, 96, 0, 108, kThreeExtents, 0x01400600, 0);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getBlockExtentCount(ctx.get()), 3u);
    EXPECT_EQ(getSegNextMapRDBA(ctx.get()), 0u);
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 0), kThreeExtents[0].rdba);
}

TEST_P(SegmentOrders, EntryPositionIsSixteenBits)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = mapBlock(16, order, 92, 96, 100, 108, kThreeExtents, 0, 1);
    auto ctx = makeContext(b, order);
    // 108 + 8 x 8192 wraps to 108: entry 8192 is read as entry 0.
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 8192), kThreeExtents[0].rdba);
    // Entries past the block read as 0.
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 1100), 0u);
    EXPECT_EQ(getSegExtentBlocks(ctx.get(), 8191), 0u);
    EXPECT_EQ(getSegExtentBlocks(ctx.get(), 0xFFFFFFFFu), 0u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, SegmentOrders, ::testing::Values(kLittle, kBig),
                         [](const ::testing::TestParamInfo<uint8_t> &info) {
                             return std::string(info.param == kLittle ? "Little" : "Big");
                         });

TEST(SegmentLayout, UnknownByteOrderGivesZero)
{
    std::vector<uint8_t> b = mapBlock(35, kLittle, 264, 268, 272, 280, kThreeExtents, 0x01400300, 77707);
    auto ctx = makeContext(b, 2);
    EXPECT_EQ(getBlockExtentCount(ctx.get()), 0u);
    EXPECT_EQ(getSegNextMapRDBA(ctx.get()), 0u);
    EXPECT_EQ(getDataObjectID(ctx.get()), 0u);
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 0), 0u);
}

TEST(SegmentLayout, TruncatedHeaderReadsZeroPastTheEnd)
{
    std::vector<uint8_t> whole = mapBlock(35, kBig, 264, 268, 272, 280, kThreeExtents, 0x01400300, 77707);
    // Cut in the middle of entry 1: entry 0 still reads, entry 1's length does not.
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + 280 + 8 + 6);
    auto ctx = makeContext(cut, kBig);
    EXPECT_EQ(getSegExtentBlocks(ctx.get(), 0), kThreeExtents[0].blocks);
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 1), kThreeExtents[1].rdba);
    EXPECT_EQ(getSegExtentBlocks(ctx.get(), 1), 0u);
    std::vector<uint8_t> tiny(whole.begin(), whole.begin() + 270);
    auto tctx = makeContext(tiny, kBig);
    EXPECT_EQ(getBlockExtentCount(tctx.get()), 3u);
    EXPECT_EQ(getSegNextMapRDBA(tctx.get()), 0u);
    EXPECT_EQ(getDataObjectID(tctx.get()), 0u);
}
