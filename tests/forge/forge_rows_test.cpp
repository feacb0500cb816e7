// Chained, migrated and cluster rows: flags, addresses (big-endian in both
// byte orders) and the cluster key bookkeeping, read back byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

ColumnValue bytesOf(const std::string &text) {
    ColumnValue v;
    v.isNull = false;
    v.bytes.assign(text.begin(), text.end());
    return v;
}

ColumnValue nullValue() {
    ColumnValue v;
    v.isNull = true;
    return v;
}

// Offset of row `slot` of `table` in a block laid out by putDataBlock
// (uncompressed, so the table directory is at H + 14).
uint32_t rowOffset(const Block &block, uint32_t table, uint32_t slot) {
    uint32_t h = dataHeaderOffset(peekU8(&block, 36 + (block.order == kBigEndian ? 1 : 0)), peekU8(&block, 38));
    uint32_t tables = peekU8(&block, h + 1);
    uint32_t first = peekU16(&block, h + 14 + 4 * table);
    return h + peekU16(&block, h + 14 + 4 * tables + 2 * (first + slot));
}

Block layOut(DataBlockLayout *layout, ByteOrder order) {
    Block block;
    initBlock(&block, 8192, order);
    char error[256];
    EXPECT_TRUE(putDataBlock(&block, layout, error, sizeof error)) << error;
    return block;
}

}  // namespace

TEST(ForgeRows, SplitRowSetsChainFlagsAndSplitsAColumn) {
    std::vector<ColumnValue> columns = {bytesOf("abc"), bytesOf("0123456789"), bytesOf("z"), nullValue()};
    std::vector<RowCut> cuts = {{1, 4}, {2, 0}};
    std::vector<RowPiece> pieces;
    char error[256];
    ASSERT_TRUE(splitRow(columns, cuts, 2, &pieces, error, sizeof error)) << error;
    ASSERT_EQ(3u, pieces.size());
    EXPECT_EQ(kRowHead | kRowFirst | kRowNext, pieces[0].flag);  // --H-F--N
    EXPECT_EQ(kRowPrevious, pieces[1].flag);                      // ------P-
    EXPECT_EQ(kRowLast, pieces[2].flag);                          // -----L--
    ASSERT_EQ(2u, pieces[0].columns.size());
    EXPECT_EQ(std::vector<uint8_t>({'0', '1', '2', '3'}), pieces[0].columns[1].bytes);
    ASSERT_EQ(1u, pieces[1].columns.size());
    EXPECT_EQ(6u, pieces[1].columns[0].bytes.size());
    ASSERT_EQ(1u, pieces[2].columns.size());  // the trailing NULL is not stored
    for (const RowPiece &p : pieces) EXPECT_EQ(2, p.lock);

    std::vector<RowCut> bad = {{1, 10}};  // at the very end of the value
    EXPECT_FALSE(splitRow(columns, bad, 0, &pieces, error, sizeof error));
    std::vector<RowCut> backwards = {{2, 0}, {1, 0}};
    EXPECT_FALSE(splitRow(columns, backwards, 0, &pieces, error, sizeof error));
}

TEST(ForgeRows, ChainedPieceAddressesAreBigEndianInBothOrders) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        std::vector<ColumnValue> columns = {bytesOf("head"), bytesOf("tail")};
        std::vector<RowPiece> pieces;
        char error[256];
        ASSERT_TRUE(splitRow(columns, {{1, 0}}, 0, &pieces, error, sizeof error));
        uint32_t rdbas[] = {makeRdba(4, 10), makeRdba(4, 0x123456 & 0x3FFFFF)};
        uint16_t slots[] = {0, 0x0102};
        linkRowPieces(&pieces, rdbas, slots);
        DataBlockLayout layout;
        initDataBlockLayout(&layout, rdbas[0], 77);
        layout.rows.push_back(pieces[0]);
        Block block = layOut(&layout, order);
        uint32_t at = rowOffset(block, 0, 0);
        EXPECT_EQ(0x28, peekU8(&block, at));  // --H-F---: no column is split, so no N
        EXPECT_EQ(1, peekU8(&block, at + 2));
        EXPECT_EQ(rdbas[1], forgetest::be32(&block.bytes[at + 3])) << order;
        EXPECT_EQ(0x0102, forgetest::be16(&block.bytes[at + 7])) << order;
        EXPECT_EQ(4, peekU8(&block, at + 9));  // the column after the address
    }
}

TEST(ForgeRows, MigratedRowHeadHasNoColumnsAndBodyPointsBack) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        std::vector<ColumnValue> columns = {bytesOf("x"), nullValue(), bytesOf("yz"), nullValue()};
        RowPiece head, body;
        uint32_t headRdba = makeRdba(5, 20), bodyRdba = makeRdba(6, 300);
        makeMigratedRow(columns, 1, headRdba, 3, bodyRdba, 7, &head, &body);
        EXPECT_EQ(kRowHead, head.flag);
        EXPECT_EQ(kRowFirst | kRowLast, body.flag);
        EXPECT_EQ(9u, rowPieceSize(&head));
        DataBlockLayout layout;
        initDataBlockLayout(&layout, bodyRdba, 9);
        layout.rows.push_back(body);
        Block block = layOut(&layout, order);
        uint32_t at = rowOffset(block, 0, 0);
        EXPECT_EQ(0x0C, peekU8(&block, at));  // ----FL--
        EXPECT_EQ(1, peekU8(&block, at + 1));
        EXPECT_EQ(3, peekU8(&block, at + 2));  // the trailing NULL is dropped
        EXPECT_EQ(headRdba, forgetest::be32(&block.bytes[at + 3]));
        EXPECT_EQ(3, forgetest::be16(&block.bytes[at + 7]));
        EXPECT_EQ(1, peekU8(&block, at + 9));
        EXPECT_EQ('x', peekU8(&block, at + 10));
        EXPECT_EQ(0xFF, peekU8(&block, at + 11));
        EXPECT_EQ(2, peekU8(&block, at + 12));
    }
}

TEST(ForgeRows, ClusterKeyRowCarriesSixteenBytesAndMembersPointAtIt) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        uint32_t rdba = makeRdba(4, 50);
        DataBlockLayout layout;
        initDataBlockLayout(&layout, rdba, 5000);
        RowPiece key, emp, dept;
        std::vector<uint8_t> ten = encodeNumber(10);
        ColumnValue keyValue;
        keyValue.isNull = false;
        keyValue.bytes = ten;
        makeClusterKeyRow({keyValue}, 2, rdba, 0, &key);
        makeClusterMemberRow({bytesOf("ACCOUNTING")}, 1, 0, &dept);
        makeClusterMemberRow({bytesOf("CLARK"), nullValue()}, 2, 0, &emp);
        layout.rows = {key, dept, emp};
        Block block = layOut(&layout, order);
        uint32_t h = dataHeaderOffset(2, kDataFlagExtended);
        EXPECT_EQ(3, peekU8(&block, h + 1));  // three tables
        uint32_t at = rowOffset(block, 0, 0);
        EXPECT_EQ(0xAC, peekU8(&block, at));  // K-H-FL--
        EXPECT_EQ(1, peekU8(&block, at + 2));
        EXPECT_EQ(2, peekU16(&block, at + 3));  // rows of the key
        EXPECT_EQ(2, peekU16(&block, at + 5));
        EXPECT_EQ(rdba, forgetest::be32(&block.bytes[at + 7]));
        EXPECT_EQ(rdba, forgetest::be32(&block.bytes[at + 13]));
        EXPECT_EQ(ten.size(), peekU8(&block, at + 3 + kClusterKeyInfoSize));
        EXPECT_EQ(3 + kClusterKeyInfoSize + 1 + ten.size(), rowPieceSize(&key));
        uint32_t member = rowOffset(block, 2, 0);
        EXPECT_EQ(0x6C, peekU8(&block, member));  // -CH-FL--
        EXPECT_EQ(1, peekU8(&block, member + 2));
        EXPECT_EQ(0, peekU8(&block, member + 3));  // key slot
        EXPECT_EQ(5, peekU8(&block, member + 4));
    }
}
