// Block layout accessors: cache header, transaction header and ITLs, the data
// layer offset, the data header with the compression extension, the index
// headers; in both byte orders, on hand-laid blocks and on Oracle's own.
#include <gtest/gtest.h>

#include <random>

#include "block/block.h"
#include "test_block_builder.h"

using namespace testblock;

namespace {

// A data block (type 6) with itc ITL entries and the header flag byte given.
std::vector<uint8_t> dataBlock(uint32_t size, uint8_t order, uint8_t itc, uint8_t headerFlag)
{
    std::vector<uint8_t> b(size, 0);
    put8(b, 0, 6);
    put8(b, 1, 0xA2);
    put32(b, 4, 0x01400010, order);
    put32(b, 8, 0x001732d3, order);
    put16(b, 12, 0x0102, order);
    put8(b, 14, 0x01);
    put8(b, 15, 0x04);
    put16(b, 16, 0x84cb, order);
    put8(b, 20, 1);
    put32(b, 24, 53944, order);
    put32(b, 28, 0x00112233, order);
    put16(b, 32, 0x4455, order);
    put16(b, 34, 0x6677, order);
    put16(b, 36, itc, order);
    put8(b, 38, headerFlag);
    put8(b, 39, 0x05);
    put32(b, 40, 0x01400009, order);
    return b;
}

uint32_t expectedH(uint8_t itc, uint8_t headerFlag)
{
    return 44 + 24 * itc + (headerFlag == 0x32 ? 8 : 0);
}

// Calls every accessor of the block layer; the sanitizer build checks that
// none of them reads outside the block.
uint64_t touchEveryAccessor(UnloadContext *ctx)
{
    uint64_t sum = 0;
    sum += getBlockType(ctx) + getBlockFormat(ctx) + getBlockRDBA(ctx) + getSCNBase(ctx);
    sum += getSCNWrap(ctx) + getBlockSequence(ctx) + getBlockFlag(ctx) + getBlockChecksum(ctx);
    sum += getDataType(ctx) + getDataObjectID(ctx) + getCleanSCNBase(ctx) + getCleanSCNWrap(ctx);
    sum += getMagicNumber(ctx) + getITLCount(ctx) + getFreeListGroup(ctx) + getFreeLists(ctx);
    sum += getFreeListNext(ctx);
    for (uint32_t i : {0u, 1u, 2u, 254u, 255u, 256u, 300u, 65535u, 0xFFFFFFFFu}) {
        sum += getITLXIDUsn(ctx, i) + getITLXIDSlot(ctx, i) + getITLXIDWrap(ctx, i);
        sum += getITLUndoRDBA(ctx, i) + getITLUndoRow(ctx, i) + getITLUndoSequence(ctx, i);
        sum += getITLFlag(ctx, i) + getITLLock(ctx, i) + getITLFSC(ctx, i) + getITLSCN(ctx, i);
        sum += getIndexOffset(ctx, i) + getSegExtentRDBA(ctx, i) + getSegExtentBlocks(ctx, i);
    }
    sum += getDataLayerOffset(ctx) + getDataFlag(ctx) + getTableCount(ctx) + getRecordCount(ctx);
    sum += getFirstFreeRowEntry(ctx) + getFreeSpaceBeginOffset(ctx) + getFreeSpaceEndOffset(ctx);
    sum += getCurrentFreeSpace(ctx) + getTotalFreeSpace(ctx);
    sum += getCompressOffset(ctx) + isCompressTable(ctx) + getCompressMecRows(ctx);
    getCompressOrder(ctx);
    sum += ctx->compressLengthCount + ctx->permutationCount;
    sum += getIndexColev(ctx) + getIndexColok(ctx) + getIndexCoopc(ctx) + getIndexOpcode(ctx);
    sum += getIndexColumnCount(ctx) + getIndexCosdc(ctx) + getIndexRowCount(ctx);
    sum += getIndexFreeSpaceBegin(ctx) + getIndexFreeSpaceEnd(ctx) + getIndexFreeSpace(ctx);
    sum += getIndexLespl(ctx) + getIndexLende(ctx) + getIndexLenxt(ctx) + getIndexLeprv(ctx);
    sum += getIndexLedsz(ctx) + getIndexLebksz(ctx) + getIndexBrlmc(ctx) + getIndexBrsno(ctx);
    sum += getIndexBrbksz(ctx);
    sum += getSegExtentCount(ctx) + getSegBlockCount(ctx) + getSegHWMExtent(ctx);
    sum += getSegHWMBlocks(ctx) + getSegHWMExtSize(ctx) + getSegHWMAddress(ctx);
    sum += getSegNextMAP(ctx) + getSegFLGBlocks(ctx) + getSegFLGBellow(ctx) + getSegMapFlag(ctx);
    sum += getBlockExtentCount(ctx) + getSegNextMapRDBA(ctx);
    return sum;
}

class BothOrders : public ::testing::TestWithParam<uint8_t> {};

}  // namespace

TEST_P(BothOrders, CacheAndTransactionHeaderFields)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 2, 0);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getBlockType(ctx.get()), 6);
    EXPECT_EQ(getBlockFormat(ctx.get()), 0xA2);
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0x01400010u);
    EXPECT_EQ(getSCNBase(ctx.get()), 0x001732d3u);
    EXPECT_EQ(getSCNWrap(ctx.get()), 0x0102);
    EXPECT_EQ(getBlockSequence(ctx.get()), 1);
    EXPECT_EQ(getBlockFlag(ctx.get()), 4);
    EXPECT_EQ(getBlockChecksum(ctx.get()), 0x84cb);
    EXPECT_EQ(getDataType(ctx.get()), 1);
    EXPECT_EQ(getDataObjectID(ctx.get()), 53944u);
    EXPECT_EQ(getCleanSCNBase(ctx.get()), 0x00112233u);
    EXPECT_EQ(getCleanSCNWrap(ctx.get()), 0x4455);
    EXPECT_EQ(getMagicNumber(ctx.get()), 0x6677);
    EXPECT_EQ(getITLCount(ctx.get()), 2);
    EXPECT_EQ(getFreeListGroup(ctx.get()), 0);
    EXPECT_EQ(getFreeLists(ctx.get()), 5);
    EXPECT_EQ(getFreeListNext(ctx.get()), 0x01400009u);
}

TEST_P(BothOrders, DataLayerOffsetFollowsItlCountAndHeaderFlag)
{
    uint8_t order = GetParam();
    for (uint8_t itc : {1, 2, 3, 10, 255}) {
        for (uint8_t flag : {0x00, 0x32, 0x31, 0x02}) {
            std::vector<uint8_t> b = dataBlock(8192, order, itc, flag);
            auto ctx = makeContext(b, order);
            EXPECT_EQ(getDataLayerOffset(ctx.get()), expectedH(itc, flag)) << (int)itc << " " << (int)flag;
        }
    }
    std::vector<uint8_t> plain = dataBlock(8192, order, 2, 0);
    EXPECT_EQ(getDataLayerOffset(makeContext(plain, order).get()), 92u);
    std::vector<uint8_t> shifted = dataBlock(8192, order, 2, 0x32);
    EXPECT_EQ(getDataLayerOffset(makeContext(shifted, order).get()), 100u);
}

TEST_P(BothOrders, ItlEntryFields)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 3, 0x32);
    for (uint32_t i = 0; i < 3; i++) {
        uint32_t e = 44 + 24 * i;
        put16(b, e + 0, (uint16_t)(0x0006 + i), order);
        put16(b, e + 2, (uint16_t)(0xF020 + i), order);  // top nibble is not part of the slot
        put32(b, e + 4, 0x00000271 + i, order);
        put32(b, e + 8, 0x00800205 + i, order);
        put16(b, e + 12, (uint16_t)(0xA257 + i), order);
        put8(b, e + 14, (uint8_t)(0x13 + i));
        put16(b, e + 16, (uint16_t)(((0x8 >> i) << 12) | (0x00E + i)), order);
        put16(b, e + 18, (uint16_t)(0x021b + i), order);
        put32(b, e + 20, 0x001cc0f2 + i, order);
    }
    auto ctx = makeContext(b, order);
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(getITLXIDUsn(ctx.get(), i), 0x0006 + i);
        EXPECT_EQ(getITLXIDSlot(ctx.get(), i), 0x020 + i);
        EXPECT_EQ(getITLXIDWrap(ctx.get(), i), 0x271 + i);
        EXPECT_EQ(getITLUndoRDBA(ctx.get(), i), 0x00800205 + i);
        EXPECT_EQ(getITLUndoRow(ctx.get(), i), 0x257 + i);
        EXPECT_EQ(getITLUndoSequence(ctx.get(), i), 0x13 + i);
        EXPECT_EQ(getITLFlag(ctx.get(), i), 0x8u >> i);
        EXPECT_EQ(getITLLock(ctx.get(), i), 0x00E + i);
        EXPECT_EQ(getITLFSC(ctx.get(), i), 0x021b + i);
        EXPECT_EQ(getITLSCN(ctx.get(), i), 0x001cc0f2 + i);
    }
}

TEST_P(BothOrders, ItlEntryNumberWidths)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 2, 0);
    put16(b, 44, 0x1234, order);
    put16(b, 44 + 16, 0x3005, order);
    // Entry 256 of the 16-bit accessors lies at 44 + 6144, still inside an
    // 8 KB block.
    put16(b, 44 + 24 * 256 + 16, 0x4007, order);
    put8(b, 44 + 24 * 256 + 14, 0x99);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 256), 0x1234);   // 256 mod 256 = entry 0
    EXPECT_EQ(getITLLock(ctx.get(), 256), 7);
    EXPECT_EQ(getITLFlag(ctx.get(), 256), 4);
    EXPECT_EQ(getITLUndoSequence(ctx.get(), 256), 0x99);
    EXPECT_EQ(getITLLock(ctx.get(), 65536), 5);         // 65536 mod 65536 = entry 0
    EXPECT_EQ(getITLLock(ctx.get(), 65535), 0);         // past the block
    EXPECT_EQ(getITLFlag(ctx.get(), 65535), 0);
}

TEST_P(BothOrders, DataHeaderFields)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 2, 0x32);
    uint32_t h = 100;
    put8(b, h + 0, 0x20);
    put8(b, h + 1, 3);
    put16(b, h + 2, 14, order);
    put16(b, h + 4, 0xFFFF, order);
    put16(b, h + 6, 0x2e, order);
    put16(b, h + 8, 0x1d1b, order);
    put16(b, h + 10, 0x1d49, order);
    put16(b, h + 12, 0x1f52, order);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getDataFlag(ctx.get()), 0x20);
    EXPECT_EQ(getTableCount(ctx.get()), 3);
    EXPECT_EQ(getRecordCount(ctx.get()), 14);
    EXPECT_EQ(getFirstFreeRowEntry(ctx.get()), 0xFFFF);
    EXPECT_EQ(getFreeSpaceBeginOffset(ctx.get()), 0x2e);
    EXPECT_EQ(getFreeSpaceEndOffset(ctx.get()), 0x1d1b);
    EXPECT_EQ(getCurrentFreeSpace(ctx.get()), 0x1d49);
    EXPECT_EQ(getTotalFreeSpace(ctx.get()), 0x1f52);
    EXPECT_EQ(getCompressOffset(ctx.get()), 0u);
    EXPECT_EQ(isCompressTable(ctx.get()), 0u);
}

TEST_P(BothOrders, CompressionExtension)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 2, 0);
    uint32_t h = 92;
    put8(b, h + 0, 0x40 | 0x08);
    put8(b, h + 1, 2);
    put16(b, h + 16, 17, order);
    put8(b, h + 19, 3);
    put8(b, h + 20, 5);
    put16(b, h + 22, 4, order);
    put16(b, h + 24, 0x8000, order);
    put16(b, h + 26, 11, order);
    const uint8_t perm[5] = {2, 0, 1, 4, 3};
    for (int i = 0; i < 5; i++)
        put8(b, h + 28 + i, perm[i]);
    auto ctx = makeContext(b, order);
    // C = 8 + 2 x 3 + 5 rounded up to 6 = 20: the table directory is at H + 34.
    EXPECT_EQ(getCompressOffset(ctx.get()), 20u);
    EXPECT_EQ(isCompressTable(ctx.get()), 20u);
    EXPECT_EQ(getCompressMecRows(ctx.get()), 17);
    ctx->mappedColumns = 9;
    getCompressOrder(ctx.get());
    EXPECT_EQ(ctx->mappedColumns, 0);
    ASSERT_EQ(ctx->compressLengthCount, 3);
    EXPECT_EQ(ctx->compressLengths[0], 4);
    EXPECT_EQ(ctx->compressLengths[1], 0x8000);
    EXPECT_EQ(ctx->compressLengths[2], 11);
    ASSERT_EQ(ctx->permutationCount, 5);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(ctx->permutation[i], perm[i]);

    // An even permutation is not padded.
    put8(b, h + 20, 4);
    EXPECT_EQ(getCompressOffset(ctx.get()), 18u);
    // Without the 0x40 bit there is no extension, and getCompressOrder clears
    // what an earlier block left.
    put8(b, h + 0, 0x08);
    EXPECT_EQ(getCompressOffset(ctx.get()), 0u);
    getCompressOrder(ctx.get());
    EXPECT_EQ(ctx->compressLengthCount, 0);
    EXPECT_EQ(ctx->permutationCount, 0);
}

TEST_P(BothOrders, CompressionTablesCutByBlockEnd)
{
    uint8_t order = GetParam();
    // 255 ITLs put H at 6164; n = 255 length entries and p = 255 permutation
    // bytes would run past a 6400-byte image.
    std::vector<uint8_t> b = dataBlock(6400, order, 255, 0);
    uint32_t h = 6164;
    put8(b, h, 0x40);
    put8(b, h + 19, 255);
    put8(b, h + 20, 255);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getCompressOffset(ctx.get()), 8u + 510u + 256u);
    getCompressOrder(ctx.get());
    EXPECT_EQ(ctx->compressLengthCount, (6400 - (h + 22)) / 2);
    EXPECT_EQ(ctx->permutationCount, 0);
}

TEST_P(BothOrders, IndexLeafHeader)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 2, 0);
    put8(b, 20, 2);
    uint32_t h = 92;
    put8(b, h + 0, 0);
    put8(b, h + 1, 0x11);
    put8(b, h + 2, 0x87);
    put8(b, h + 3, 2);
    put32(b, h + 4, 0xDEADBEEF, order);
    put16(b, h + 8, 3, order);
    put16(b, h + 10, 0x2a, order);
    put16(b, h + 12, 0x1f00, order);
    put16(b, h + 14, 0x1ed6, order);
    put16(b, h + 16, 7, order);
    put16(b, h + 18, 1, order);
    put32(b, h + 20, 0x01000123, order);
    put32(b, h + 24, 0x01000121, order);
    put32(b, h + 28, 44, order);
    put16(b, h + 32, 8032, order);
    put16(b, h + 36, 0x1f80, order);
    put16(b, h + 38, 0x1f70, order);
    put16(b, h + 40, 0x1f60, order);
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getIndexColev(ctx.get()), 0);
    EXPECT_EQ(getIndexColok(ctx.get()), 0x11);
    EXPECT_EQ(getIndexCoopc(ctx.get()), 0x87);
    EXPECT_EQ(getIndexOpcode(ctx.get()), 0x87);
    EXPECT_EQ(getIndexColumnCount(ctx.get()), 2);
    EXPECT_EQ(getIndexCosdc(ctx.get()), 0xDEADBEEFu);
    EXPECT_EQ(getIndexRowCount(ctx.get()), 3);
    EXPECT_EQ(getIndexFreeSpaceBegin(ctx.get()), 0x2a);
    EXPECT_EQ(getIndexFreeSpaceEnd(ctx.get()), 0x1f00);
    EXPECT_EQ(getIndexFreeSpace(ctx.get()), 0x1ed6);
    EXPECT_EQ(getIndexLespl(ctx.get()), 7);
    EXPECT_EQ(getIndexLende(ctx.get()), 1);
    EXPECT_EQ(getIndexLenxt(ctx.get()), 0x01000123u);
    EXPECT_EQ(getIndexLeprv(ctx.get()), 0x01000121u);
    EXPECT_EQ(getIndexLedsz(ctx.get()), 44u);
    EXPECT_EQ(getIndexLebksz(ctx.get()), 8032);
    // A leaf block's row directory starts at H + 36.
    EXPECT_EQ(getIndexOffset(ctx.get(), 0), 0x1f80);
    EXPECT_EQ(getIndexOffset(ctx.get(), 1), 0x1f70);
    EXPECT_EQ(getIndexOffset(ctx.get(), 2), 0x1f60);
}

TEST_P(BothOrders, IndexBranchHeader)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b = dataBlock(8192, order, 1, 0x32);
    put8(b, 20, 2);
    uint32_t h = 44 + 24 + 8;
    put8(b, h + 0, 1);
    put16(b, h + 8, 2, order);
    put32(b, h + 16, 0x0100007b, order);
    put32(b, h + 20, 5, order);
    put16(b, h + 24, 8056, order);
    put16(b, h + 28, 0x1f90, order);
    put16(b, h + 30, 0x1f88, order);
    put16(b, h + 36, 0x1111, order);  // where a leaf's directory would be
    auto ctx = makeContext(b, order);
    EXPECT_EQ(getIndexColev(ctx.get()), 1);
    EXPECT_EQ(getIndexBrlmc(ctx.get()), 0x0100007bu);
    EXPECT_EQ(getIndexBrsno(ctx.get()), 5u);
    EXPECT_EQ(getIndexBrbksz(ctx.get()), 8056);
    // A branch block's row directory starts at H + 28.
    EXPECT_EQ(getIndexOffset(ctx.get(), 0), 0x1f90);
    EXPECT_EQ(getIndexOffset(ctx.get(), 1), 0x1f88);
    EXPECT_EQ(getIndexOffset(ctx.get(), 4), 0x1111);
}

TEST_P(BothOrders, DataObjectIdByBlockType)
{
    uint8_t order = GetParam();
    std::vector<uint8_t> b(8192, 0);
    put32(b, 20, 2020, order);
    put32(b, 24, 2424, order);
    put32(b, 28, 2828, order);
    put32(b, 100, 100100, order);
    put32(b, 272, 272272, order);
    auto ctx = makeContext(b, order);
    const struct {
        uint8_t type;
        uint32_t objd;
    } cases[] = {{6, 2424},   {16, 100100}, {17, 100100}, {18, 2828}, {27, 2020}, {40, 2020},
                 {35, 272272}, {36, 0},      {11, 0},      {1, 0},     {0, 0},     {255, 0}};
    for (const auto &c : cases) {
        b[0] = c.type;
        EXPECT_EQ(getDataObjectID(ctx.get()), c.objd) << "type " << (int)c.type;
    }
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, BothOrders, ::testing::Values(kLittle, kBig),
                         [](const ::testing::TestParamInfo<uint8_t> &info) {
                             return std::string(info.param == kLittle ? "Little" : "Big");
                         });

TEST(BlockLayout, ItlCountIsTheLowByteInBlockOrder)
{
    std::vector<uint8_t> b = dataBlock(8192, kLittle, 0, 0);
    b[36] = 2;
    b[37] = 3;
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getITLCount(ctx.get()), 2);
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 92u);
    ctx->byteOrder = kBig;
    EXPECT_EQ(getITLCount(ctx.get()), 3);
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 116u);
}

TEST(BlockLayout, XidSlotKeepsTheLowTwelveBits)
{
    std::vector<uint8_t> b = dataBlock(8192, kLittle, 1, 0);
    b[46] = 0x34;
    b[47] = 0xF2;
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getITLXIDSlot(ctx.get(), 0), 0x234);
}

TEST(BlockLayout, UnknownByteOrderReadsMultiByteFieldsAsZero)
{
    std::vector<uint8_t> b = dataBlock(8192, kLittle, 2, 0x32);
    put16(b, 44, 7, kLittle);
    put8(b, 100 + 1, 1);
    auto ctx = makeContext(b, 2);
    EXPECT_EQ(getBlockType(ctx.get()), 6);       // single bytes still read
    EXPECT_EQ(getBlockFormat(ctx.get()), 0xA2);
    EXPECT_EQ(getFreeListGroup(ctx.get()), 0x32);
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0u);
    EXPECT_EQ(getSCNWrap(ctx.get()), 0);
    EXPECT_EQ(getBlockChecksum(ctx.get()), 0);
    EXPECT_EQ(getDataObjectID(ctx.get()), 0u);
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 0), 0);
    // The ITL count counts as 0, so H is 44 (+8 for the 0x32 flag).
    EXPECT_EQ(getITLCount(ctx.get()), 0);
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 52u);
    ctx->byteOrder = 255;
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0u);
    EXPECT_EQ(getSegExtentRDBA(ctx.get(), 0), 0u);
}

TEST(BlockLayout, BoundedReadsRefuseEveryByteOutsideTheBlock)
{
    std::vector<uint8_t> b(16, 0xAB);
    auto ctx = makeContext(b, kLittle);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    EXPECT_TRUE(readU8(ctx.get(), 15, &u8));
    EXPECT_FALSE(readU8(ctx.get(), 16, &u8));
    EXPECT_TRUE(readU16(ctx.get(), 14, &u16));
    EXPECT_FALSE(readU16(ctx.get(), 15, &u16));
    EXPECT_TRUE(readU32(ctx.get(), 12, &u32));
    EXPECT_FALSE(readU32(ctx.get(), 13, &u32));
    EXPECT_FALSE(readU32BE(ctx.get(), 0xFFFFFFFEu, &u32));  // no wrap-around
    EXPECT_FALSE(readU16BE(ctx.get(), 0xFFFFFFFFu, &u16));
    EXPECT_TRUE(blockHasRange(ctx.get(), 0, 16));
    EXPECT_FALSE(blockHasRange(ctx.get(), 1, 16));
    EXPECT_FALSE(blockHasRange(ctx.get(), 0xFFFFFFFFu, 2));
    EXPECT_EQ(blockBytes(ctx.get(), 16, 0), b.data() + 16);
    EXPECT_EQ(blockBytes(ctx.get(), 16, 1), nullptr);
    EXPECT_EQ(blockU32(ctx.get(), 14), 0u);
    EXPECT_EQ(blockU16(ctx.get(), 14), 0xABABu);

    ctx->block = nullptr;
    EXPECT_FALSE(readU8(ctx.get(), 0, &u8));
    // Every field reads 0; only H is computed (44 for no ITLs) rather than read.
    EXPECT_EQ(touchEveryAccessor(ctx.get()), 44u);
    EXPECT_EQ(blockU8(nullptr, 0), 0);
}

TEST(BlockLayout, AccessorsOnBlocksOfEverySmallSizeStayInside)
{
    std::mt19937 rng(7);
    for (uint32_t size = 0; size <= 400; size++) {
        for (uint8_t order : {kLittle, kBig}) {
            std::vector<uint8_t> b(size);
            for (auto &byte : b)
                byte = (uint8_t)rng();
            if (size > 0)
                b[0] = (uint8_t)(size % 3 == 0 ? 6 : size % 3 == 1 ? 16 : 35);
            if (size > 38)
                b[38] = 0x32;
            auto ctx = makeContext(b, order);
            touchEveryAccessor(ctx.get());
        }
    }
}

TEST(BlockLayout, HugeItlCountInASmallBlockReadsZeros)
{
    std::vector<uint8_t> b = dataBlock(2048, kLittle, 255, 0x32);
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 44u + 24u * 255u + 8u);
    EXPECT_EQ(getDataFlag(ctx.get()), 0);
    EXPECT_EQ(getRecordCount(ctx.get()), 0);
    EXPECT_EQ(getIndexOffset(ctx.get(), 0), 0);
    EXPECT_EQ(getCompressOffset(ctx.get()), 0u);
    EXPECT_EQ(getITLSCN(ctx.get(), 254), 0u);
}

TEST(BlockLayout, DataHeaderFieldsAtTheVeryEndOfTheBlock)
{
    // H + 12 is the last two bytes of the image: it reads; H + 14 would not.
    uint8_t itc = 3;
    uint32_t h = 44 + 24 * itc;
    std::vector<uint8_t> b = dataBlock(h + 14, kBig, itc, 0);
    put16(b, h + 12, 0xBEEF, kBig);
    auto ctx = makeContext(b, kBig);
    EXPECT_EQ(getTotalFreeSpace(ctx.get()), 0xBEEF);
    EXPECT_EQ(getCompressMecRows(ctx.get()), 0);
    EXPECT_EQ(getIndexFreeSpace(ctx.get()), 0);
    EXPECT_EQ(getIndexLespl(ctx.get()), 0);
}

// ---------------------------------------------------------------------------
// Blocks written by Oracle.

TEST(OracleBlocks, Heap1RowChar19c)
{
    std::vector<uint8_t> b = loadOracleBlock("heap-1row-char-19c-x64");
    if (b.size() != 8192)
        GTEST_SKIP() << "fixture not present";
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getBlockType(ctx.get()), 6);
    EXPECT_EQ(getBlockFormat(ctx.get()), 0xA2);
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0x03000c36u);
    EXPECT_EQ(getSCNBase(ctx.get()), 0x0080e5e2u);
    EXPECT_EQ(getBlockSequence(ctx.get()), 1);
    EXPECT_EQ(getBlockFlag(ctx.get()), 6);
    EXPECT_EQ(getBlockChecksum(ctx.get()), 0xb7e6);
    EXPECT_EQ(getDataType(ctx.get()), 1);
    EXPECT_EQ(getDataObjectID(ctx.get()), 0x123bau);
    EXPECT_EQ(getCleanSCNBase(ctx.get()), 0x0080e5e1u);
    EXPECT_EQ(getITLCount(ctx.get()), 2);
    EXPECT_EQ(getFreeListGroup(ctx.get()), 0x32);
    EXPECT_EQ(getFreeListNext(ctx.get()), 0x03000c30u);   // Oracle's bdba
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 0x64u);
    // Itl 0x01: 0x0001.00e.00000d34  0x024027ea.012d.10  --U-  1  fsc 0x0000.0080e5e2
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 0), 1);
    EXPECT_EQ(getITLXIDSlot(ctx.get(), 0), 0x00e);
    EXPECT_EQ(getITLXIDWrap(ctx.get(), 0), 0xd34u);
    EXPECT_EQ(getITLUndoRDBA(ctx.get(), 0), 0x024027eau);
    EXPECT_EQ(getITLUndoRow(ctx.get(), 0), 0x12d);
    EXPECT_EQ(getITLUndoSequence(ctx.get(), 0), 0x10);
    EXPECT_EQ(getITLFlag(ctx.get(), 0), 0x2);
    EXPECT_EQ(getITLLock(ctx.get(), 0), 1);
    EXPECT_EQ(getITLFSC(ctx.get(), 0), 0);
    EXPECT_EQ(getITLSCN(ctx.get(), 0), 0x0080e5e2u);
    EXPECT_EQ(getITLFlag(ctx.get(), 1), 0);
    EXPECT_EQ(getITLLock(ctx.get(), 1), 0);
    EXPECT_EQ(getITLXIDWrap(ctx.get(), 1), 0u);
    // flag=--------  ntab=1  nrow=1  frre=-1  fsbo=0x14  fseo=0x1f6b  avsp=tosp=0x1f57
    EXPECT_EQ(getDataFlag(ctx.get()), 0);
    EXPECT_EQ(getTableCount(ctx.get()), 1);
    EXPECT_EQ(getRecordCount(ctx.get()), 1);
    EXPECT_EQ(getFirstFreeRowEntry(ctx.get()), 0xFFFF);
    EXPECT_EQ(getFreeSpaceBeginOffset(ctx.get()), 0x14);
    EXPECT_EQ(getFreeSpaceEndOffset(ctx.get()), 0x1f6b);
    EXPECT_EQ(getCurrentFreeSpace(ctx.get()), 0x1f57);
    EXPECT_EQ(getTotalFreeSpace(ctx.get()), 0x1f57);
    EXPECT_EQ(getCompressOffset(ctx.get()), 0u);
    // pti[0] nrow=1 offs=0 at H + 0xe, pri[0] offs=0x1f6b at H + 0x12.
    EXPECT_EQ(blockU16(ctx.get(), 0x64 + 0xe), 0);
    EXPECT_EQ(blockU16(ctx.get(), 0x64 + 0x10), 1);
    EXPECT_EQ(blockU16(ctx.get(), 0x64 + 0x12), 0x1f6b);
}

TEST(OracleBlocks, Heap3RowsLock32bit)
{
    std::vector<uint8_t> b = loadOracleBlock("heap-3rows-lock-32bit");
    if (b.size() != 8192)
        GTEST_SKIP() << "fixture not present";
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getBlockType(ctx.get()), 6);
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0x01400010u);
    EXPECT_EQ(getSCNBase(ctx.get()), 0x001732d3u);
    EXPECT_EQ(getBlockFlag(ctx.get()), 4);
    EXPECT_EQ(getBlockChecksum(ctx.get()), 0x84cb);
    EXPECT_EQ(getDataObjectID(ctx.get()), 0xd2b8u);
    EXPECT_EQ(getCleanSCNBase(ctx.get()), 0x001732d3u);
    EXPECT_EQ(getITLCount(ctx.get()), 2);
    EXPECT_EQ(getFreeListNext(ctx.get()), 0x01400009u);
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 0x64u);
    // 0x01  0x0006.020.00000271  0x00800205.0257.13  C---  0  scn 0x0000.001732c4
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 0), 6);
    EXPECT_EQ(getITLXIDSlot(ctx.get(), 0), 0x020);
    EXPECT_EQ(getITLXIDWrap(ctx.get(), 0), 0x271u);
    EXPECT_EQ(getITLUndoRDBA(ctx.get(), 0), 0x00800205u);
    EXPECT_EQ(getITLUndoRow(ctx.get(), 0), 0x257);
    EXPECT_EQ(getITLUndoSequence(ctx.get(), 0), 0x13);
    EXPECT_EQ(getITLFlag(ctx.get(), 0), 0x8);
    EXPECT_EQ(getITLLock(ctx.get(), 0), 0);
    EXPECT_EQ(getITLFSC(ctx.get(), 0), 0);
    EXPECT_EQ(getITLSCN(ctx.get(), 0), 0x001732c4u);
    // 0x02  0x0008.006.00000279  0x00800351.0278.15  ----  1  fsc 0x0000.00000000
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 1), 8);
    EXPECT_EQ(getITLXIDSlot(ctx.get(), 1), 0x006);
    EXPECT_EQ(getITLXIDWrap(ctx.get(), 1), 0x279u);
    EXPECT_EQ(getITLUndoRDBA(ctx.get(), 1), 0x00800351u);
    EXPECT_EQ(getITLUndoRow(ctx.get(), 1), 0x278);
    EXPECT_EQ(getITLUndoSequence(ctx.get(), 1), 0x15);
    EXPECT_EQ(getITLFlag(ctx.get(), 1), 0);
    EXPECT_EQ(getITLLock(ctx.get(), 1), 1);
    // ntab=1 nrow=3 frre=-1 fsbo=0x18 fseo=0x1f5e avsp=tosp=0x1f65
    EXPECT_EQ(getTableCount(ctx.get()), 1);
    EXPECT_EQ(getRecordCount(ctx.get()), 3);
    EXPECT_EQ(getFirstFreeRowEntry(ctx.get()), 0xFFFF);
    EXPECT_EQ(getFreeSpaceBeginOffset(ctx.get()), 0x18);
    EXPECT_EQ(getFreeSpaceEndOffset(ctx.get()), 0x1f5e);
    EXPECT_EQ(getCurrentFreeSpace(ctx.get()), 0x1f65);
    EXPECT_EQ(getTotalFreeSpace(ctx.get()), 0x1f65);
    EXPECT_EQ(blockU16(ctx.get(), 0x64 + 0x12), 0x1f5e);
    EXPECT_EQ(blockU16(ctx.get(), 0x64 + 0x14), 0x1f66);
    EXPECT_EQ(blockU16(ctx.get(), 0x64 + 0x16), 0x1f80);
}

TEST(OracleBlocks, Emp14RowsThreeItls)
{
    std::vector<uint8_t> b = loadOracleBlock("emp-14rows-12deleted-11203-i686");
    if (b.size() != 8192)
        GTEST_SKIP() << "fixture not present";
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0x01003373u);
    EXPECT_EQ(getDataObjectID(ctx.get()), 77707u);
    EXPECT_EQ(getITLCount(ctx.get()), 3);
    EXPECT_EQ(getDataLayerOffset(ctx.get()), 0x7cu);
    EXPECT_EQ(getITLFlag(ctx.get(), 0), 0x8);
    EXPECT_EQ(getITLSCN(ctx.get(), 0), 0x001cb316u);
    // ITL 2: xid 0x0006.017.000003e9, uba 0x00c003d6.0149.27, --U-, 14, fsc 0x021b.001cc0f2
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 1), 6);
    EXPECT_EQ(getITLXIDSlot(ctx.get(), 1), 0x017);
    EXPECT_EQ(getITLXIDWrap(ctx.get(), 1), 0x3e9u);
    EXPECT_EQ(getITLUndoRDBA(ctx.get(), 1), 0x00c003d6u);
    EXPECT_EQ(getITLUndoRow(ctx.get(), 1), 0x149);
    EXPECT_EQ(getITLUndoSequence(ctx.get(), 1), 0x27);
    EXPECT_EQ(getITLFlag(ctx.get(), 1), 0x2);
    EXPECT_EQ(getITLLock(ctx.get(), 1), 14);
    EXPECT_EQ(getITLFSC(ctx.get(), 1), 0x021b);
    EXPECT_EQ(getITLSCN(ctx.get(), 1), 0x001cc0f2u);
    EXPECT_EQ(getITLXIDUsn(ctx.get(), 2), 0);
    EXPECT_EQ(getTableCount(ctx.get()), 1);
    EXPECT_EQ(getRecordCount(ctx.get()), 14);
}

TEST(OracleBlocks, CorruptAllZeroBlockHasNoObject)
{
    std::vector<uint8_t> b = loadOracleBlock("corrupt-marked-allzero-11204-x64");
    if (b.size() != 8192)
        GTEST_SKIP() << "fixture not present";
    auto ctx = makeContext(b, kLittle);
    EXPECT_EQ(getBlockType(ctx.get()), 0);
    EXPECT_EQ(getBlockFormat(ctx.get()), 0xA2);
    EXPECT_EQ(getBlockRDBA(ctx.get()), 0x0180008cu);
    EXPECT_EQ(getDataObjectID(ctx.get()), 0u);
}

TEST(OracleBlocks, EveryTruncationReadsInside)
{
    for (const char *name : {"heap-1row-char-19c-x64", "heap-3rows-lock-32bit", "emp-14rows-12deleted-11203-i686"}) {
        std::vector<uint8_t> whole = loadOracleBlock(name);
        if (whole.empty())
            GTEST_SKIP() << "fixture not present";
        for (size_t size = 0; size <= whole.size(); size += (size < 512 ? 1 : 61)) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + size);
            for (uint8_t order : {kLittle, kBig}) {
                auto ctx = makeContext(cut, order);
                touchEveryAccessor(ctx.get());
            }
        }
    }
}
