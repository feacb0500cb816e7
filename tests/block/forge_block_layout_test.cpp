// The block accessors against blocks written by the fixture forge, which lays
// blocks out from the same published layouts without sharing ZOR's reader:
// every block size, both byte orders, 2 and 3 ITLs, with and without the
// 0x32 header flag, and every truncation of such a block.
#include <gtest/gtest.h>

#include <algorithm>

#include "block/block.h"
#include "forge/forge.h"
#include "test_block_builder.h"

using namespace testblock;

namespace {

forge::DataBlockLayout threeRowLayout(uint32_t itlCount, uint8_t headerFlag)
{
    forge::DataBlockLayout layout;
    forge::initDataBlockLayout(&layout, forge::makeRdba(5, 16), 53944);
    layout.headerFlag = headerFlag;
    layout.cleanScnBase = 0x001732d3;
    layout.cleanScnWrap = 0x0001;
    layout.itl.clear();
    for (uint32_t i = 0; i < itlCount; i++) {
        forge::ItlEntry entry;
        forge::initItlEntry(&entry);
        entry.xidUsn = (uint16_t)(6 + i);
        entry.xidSlot = (uint16_t)(0x020 + i);
        entry.xidWrap = 0x271 + i;
        entry.ubaRdba = 0x00800205 + i;
        entry.ubaSequence = (uint16_t)(0x257 + i);
        entry.ubaRecord = (uint8_t)(0x13 + i);
        entry.flag = i == 0 ? forge::kItlFlagCommitted : 0;
        entry.lockCount = (uint16_t)i;
        entry.fsc = (uint16_t)(0x10 + i);
        entry.scnBase = 0x001732c4 + i;
        layout.itl.push_back(entry);
    }
    for (int r = 0; r < 3; r++) {
        forge::RowPiece row;
        forge::initRowPiece(&row);
        std::vector<uint8_t> number = forge::encodeNumber(r + 1);
        forge::addColumnBytes(&row, number.data(), number.size());
        char text[2] = {(char)('a' + r), 0};
        forge::addColumnText(&row, text);
        layout.rows.push_back(row);
    }
    return layout;
}

struct ForgeCase {
    uint32_t blockSize;
    uint8_t order;
    uint32_t itlCount;
    uint8_t headerFlag;
};

}  // namespace

TEST(ForgeBlockLayout, AccessorsReadWhatTheForgeWrote)
{
    const uint32_t sizes[] = {2048, 4096, 8192, 16384, 32768};
    for (uint32_t size : sizes) {
        for (uint8_t order : {kLittle, kBig}) {
            for (uint32_t itc : {2u, 3u}) {
                for (uint8_t flag : {0x00, 0x32}) {
                    SCOPED_TRACE(::testing::Message() << size << " order " << (int)order << " itc " << itc
                                                      << " flag " << (int)flag);
                    forge::Block block;
                    ASSERT_TRUE(forge::initBlock(&block, size, (forge::ByteOrder)order));
                    forge::DataBlockLayout layout = threeRowLayout(itc, flag);
                    char error[256];
                    ASSERT_TRUE(forge::putDataBlock(&block, &layout, error, sizeof error)) << error;
                    forge::sealBlock(&block);

                    auto ctx = makeContext(block.bytes, order);
                    EXPECT_EQ(getBlockType(ctx.get()), 6);
                    EXPECT_EQ(getBlockRDBA(ctx.get()), forge::makeRdba(5, 16));
                    EXPECT_EQ(getDataType(ctx.get()), 1);
                    EXPECT_EQ(getDataObjectID(ctx.get()), 53944u);
                    EXPECT_EQ(getCleanSCNBase(ctx.get()), 0x001732d3u);
                    EXPECT_EQ(getCleanSCNWrap(ctx.get()), 1);
                    EXPECT_EQ(getITLCount(ctx.get()), itc);
                    EXPECT_EQ(getFreeListGroup(ctx.get()), flag);
                    uint32_t h = forge::dataHeaderOffset(itc, flag);
                    EXPECT_EQ(getDataLayerOffset(ctx.get()), h);
                    EXPECT_EQ(h, 44 + 24 * itc + (flag == 0x32 ? 8u : 0u));
                    for (uint32_t i = 0; i < itc; i++) {
                        EXPECT_EQ(getITLXIDUsn(ctx.get(), i), 6 + i);
                        EXPECT_EQ(getITLXIDSlot(ctx.get(), i), 0x020 + i);
                        EXPECT_EQ(getITLXIDWrap(ctx.get(), i), 0x271 + i);
                        EXPECT_EQ(getITLUndoRDBA(ctx.get(), i), 0x00800205 + i);
                        EXPECT_EQ(getITLUndoRow(ctx.get(), i), 0x257 + i);
                        EXPECT_EQ(getITLUndoSequence(ctx.get(), i), 0x13 + i);
                        EXPECT_EQ(getITLFlag(ctx.get(), i), i == 0 ? 0x8 : 0);
                        EXPECT_EQ(getITLLock(ctx.get(), i), i);
                        EXPECT_EQ(getITLFSC(ctx.get(), i), 0x10 + i);
                        EXPECT_EQ(getITLSCN(ctx.get(), i), 0x001732c4 + i);
                    }
                    EXPECT_EQ(getDataFlag(ctx.get()), 0);
                    EXPECT_EQ(getTableCount(ctx.get()), 1);
                    EXPECT_EQ(getRecordCount(ctx.get()), 3);
                    EXPECT_EQ(getCompressOffset(ctx.get()), 0u);
                    // The lowest row starts at the free-space end, inside the block.
                    uint32_t fseo = getFreeSpaceEndOffset(ctx.get());
                    EXPECT_LT(h + fseo, size);
                    uint32_t lowest = 0xFFFF;
                    for (uint32_t r = 0; r < 3; r++)
                        lowest = std::min<uint32_t>(lowest, blockU16(ctx.get(), h + 14 + 4 + 2 * r));
                    EXPECT_EQ(lowest, fseo);
                }
            }
        }
    }
}

TEST(ForgeBlockLayout, EveryTruncationOfAForgeBlockReadsInside)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block;
        ASSERT_TRUE(forge::initBlock(&block, 2048, (forge::ByteOrder)order));
        forge::DataBlockLayout layout = threeRowLayout(3, 0x32);
        char error[256];
        ASSERT_TRUE(forge::putDataBlock(&block, &layout, error, sizeof error)) << error;
        for (size_t size = 0; size <= block.bytes.size(); size++) {
            std::vector<uint8_t> cut(block.bytes.begin(), block.bytes.begin() + (long)size);
            auto ctx = makeContext(cut, order);
            uint32_t h = getDataLayerOffset(ctx.get());
            uint16_t records = getRecordCount(ctx.get());
            // A field reads its value exactly when the block still holds it.
            EXPECT_EQ(records, size >= h + 4 ? 3 : 0) << size;
            EXPECT_EQ(getITLSCN(ctx.get(), 2), size >= 44 + 48 + 24 ? 0x001732c6u : 0u) << size;
            getCompressOrder(ctx.get());
            getIndexOffset(ctx.get(), 2);
            getSegExtentRDBA(ctx.get(), 1);
        }
    }
}
