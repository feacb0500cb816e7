// mapIndexColumns on forge index leaves: key-only entries, entries with a
// data part (index-organized rows) with and without a next piece, NULLs,
// long lengths in both byte orders, and entries cut off by the block end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "column_values.h"
#include "block/block.h"
#include "block/test_block_builder.h"
#include "forge/forge_undo_index.h"
#include "index/index.h"

using namespace testblock;

namespace {

forge::Block leaf(const std::vector<forge::IndexEntry> &entries, uint8_t keyColumns, uint8_t order)
{
    forge::IndexBlockLayout layout;
    forge::initIndexBlockLayout(&layout, forge::makeRdba(3, 50), 900, keyColumns);
    layout.entries = entries;
    forge::Block block;
    forge::initBlock(&block, 4096, (forge::ByteOrder)order);
    char error[128];
    EXPECT_TRUE(forge::putIndexBlock(&block, &layout, error, sizeof error)) << error;
    return block;
}

std::string slotText(const UnloadContext *ctx, uint32_t i)
{
    if (ctx->slots.length[i] == 0)
        return "<null>";
    return std::string(reinterpret_cast<const char *>(ctx->block + ctx->slots.offset[i]),
                       ctx->slots.length[i]);
}

void clearRowState(UnloadContext *ctx)
{
    ctx->mappedColumns = 0;
    ctx->nextPieceRdba = 0;
    ctx->nextPieceSlot = 0;
}

}  // namespace

TEST(MapIndexColumns, KeyColumnsOfAnOrdinaryLeafEntry)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::IndexEntry e;
        forge::initIndexEntry(&e);
        e.keys = {textValue("KING"), nullValue(), textValue(std::string(260, 'z'))};
        forge::Block block = leaf({e}, 3, order);
        auto ctx = makeContext(block.bytes, order);
        clearRowState(ctx.get());
        mapIndexColumns(ctx.get(), 0);
        ASSERT_EQ(ctx->mappedColumns, 3);
        EXPECT_EQ(slotText(ctx.get(), 0), "KING");
        EXPECT_EQ(slotText(ctx.get(), 1), "<null>");
        EXPECT_EQ(slotText(ctx.get(), 2), std::string(260, 'z'));
        EXPECT_EQ(ctx->nextPieceRdba, 0u);
    }
}

TEST(MapIndexColumns, DataPartFollowsTheKeysAndItsNextPieceIsBigEndian)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::IndexEntry complete;
        forge::initIndexEntry(&complete);
        complete.keys = {textValue("7369")};
        complete.hasData = true;
        complete.data = {textValue("SMITH"), nullValue(), textValue("CLERK")};
        forge::IndexEntry continued = complete;
        continued.dataFlag = forge::kRowHead | forge::kRowFirst;
        continued.nextRdba = 0x01000190;
        continued.nextSlot = 0x0102;
        forge::Block block = leaf({complete, continued}, 1, order);
        auto ctx = makeContext(block.bytes, order);

        clearRowState(ctx.get());
        mapIndexColumns(ctx.get(), 0);
        ASSERT_EQ(ctx->mappedColumns, 4);
        EXPECT_EQ(slotText(ctx.get(), 0), "7369");
        EXPECT_EQ(slotText(ctx.get(), 1), "SMITH");
        EXPECT_EQ(slotText(ctx.get(), 2), "<null>");
        EXPECT_EQ(slotText(ctx.get(), 3), "CLERK");
        EXPECT_EQ(ctx->nextPieceRdba, 0u);

        clearRowState(ctx.get());
        mapIndexColumns(ctx.get(), 1);
        ASSERT_EQ(ctx->mappedColumns, 4);
        EXPECT_EQ(slotText(ctx.get(), 3), "CLERK");
        EXPECT_EQ(ctx->nextPieceRdba, 0x01000190u);
        EXPECT_EQ(ctx->nextPieceSlot, 0x0102);
    }
}

TEST(MapIndexColumns, AppendsWithoutClearingTheCounterOrTheRowFlag)
{
    forge::IndexEntry e;
    forge::initIndexEntry(&e);
    e.keys = {textValue("A")};
    forge::Block block = leaf({e}, 1, kLittle);
    auto ctx = makeContext(block.bytes, kLittle);
    clearRowState(ctx.get());
    ctx->rowFlag = 0x2C;
    mapIndexColumns(ctx.get(), 0);
    mapIndexColumns(ctx.get(), 0);
    EXPECT_EQ(ctx->mappedColumns, 2);
    EXPECT_EQ(ctx->rowFlag, 0x2C);
    EXPECT_EQ(slotText(ctx.get(), 1), "A");
}

TEST(MapIndexColumns, KeyOnlyEntryIgnoresBytesAfterItsKeys)
{
    // Without flag 0x04 whatever follows the keys is another entry's bytes.
    forge::IndexEntry e;
    forge::initIndexEntry(&e);
    e.keys = {textValue("K")};
    forge::Block block = leaf({e, e}, 1, kBig);
    auto ctx = makeContext(block.bytes, kBig);
    clearRowState(ctx.get());
    mapIndexColumns(ctx.get(), 1);
    EXPECT_EQ(ctx->mappedColumns, 1);
}

TEST(MapIndexColumns, EntryCutOffByTheBlockEndKeepsWhatFits)
{
    forge::IndexEntry e;
    forge::initIndexEntry(&e);
    e.keys = {textValue("AB"), textValue("CD")};
    forge::Block block = leaf({e}, 2, kLittle);
    auto ctx = makeContext(block.bytes, kLittle);
    uint32_t h = getDataLayerOffset(ctx.get());
    uint16_t entry = getIndexOffset(ctx.get(), 0);
    // Make the second key claim 200 bytes, far past the block end.
    block.bytes[h + entry + 5] = 200;
    clearRowState(ctx.get());
    mapIndexColumns(ctx.get(), 0);
    EXPECT_EQ(ctx->mappedColumns, 1);
    // A directory entry pointing past the block maps nothing.
    forge::putU16(&block, h + 36, 0xFFF0);
    clearRowState(ctx.get());
    mapIndexColumns(ctx.get(), 0);
    EXPECT_EQ(ctx->mappedColumns, 0);
}

TEST(MapIndexColumns, StopsAt255Columns)
{
    forge::IndexEntry e;
    forge::initIndexEntry(&e);
    for (int i = 0; i < 200; i++)
        e.keys.push_back(nullValue());
    e.hasData = true;
    for (int i = 0; i < 100; i++)
        e.data.push_back(textValue("d"));
    forge::Block block = leaf({e}, 200, kLittle);
    auto ctx = makeContext(block.bytes, kLittle);
    clearRowState(ctx.get());
    mapIndexColumns(ctx.get(), 0);
    EXPECT_EQ(ctx->mappedColumns, 255);
    EXPECT_EQ(slotText(ctx.get(), 254), "d");
}
