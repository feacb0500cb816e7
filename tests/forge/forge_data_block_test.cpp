// The data-block builder: transaction header, ITL list, data header,
// directories and row pieces.
#include <gtest/gtest.h>

#include <cstring>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back((uint8_t)v);
    return out;
}

}  // namespace

TEST(ForgeNumber, EncodesIntegersAsOracleStoresThem) {
    EXPECT_EQ(bytesOf({0x80}), encodeNumber(0));
    EXPECT_EQ(bytesOf({0xc1, 0x02}), encodeNumber(1));
    EXPECT_EQ(bytesOf({0xc1, 0x15}), encodeNumber(20));
    EXPECT_EQ(bytesOf({0xc2, 0x02}), encodeNumber(100));
    EXPECT_EQ(bytesOf({0xc2, 0x09}), encodeNumber(800));
    EXPECT_EQ(bytesOf({0xc2, 0x4a, 0x46}), encodeNumber(7369));
    EXPECT_EQ(bytesOf({0xc3, 0x02, 0x01, 0x02}), encodeNumber(10001));
    EXPECT_EQ(bytesOf({0x3e, 0x64, 0x66}), encodeNumber(-1));
    EXPECT_EQ(bytesOf({0x3d, 0x38, 0x66}), encodeNumber(-4500));
    std::vector<uint8_t> big = encodeNumber(-9223372036854775807LL - 1);
    EXPECT_EQ(0x3e - 9, big[0]);
    EXPECT_EQ(0x66, big.back());
}

TEST(ForgeDataBlock, LaysOutHeaderItlAndDirectories) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        Block block;
        ASSERT_TRUE(initBlock(&block, 4096, order));
        DataBlockLayout layout;
        initDataBlockLayout(&layout, makeRdba(4, 17), 74682);
        layout.cleanScnBase = 0x1234;
        ItlEntry itl;
        initItlEntry(&itl);
        itl.xidUsn = 6;
        itl.xidSlot = 0x17;
        itl.xidWrap = 0x3e9;
        itl.ubaRdba = 0x00c003d6;
        itl.ubaSequence = 0x149;
        itl.ubaRecord = 0x27;
        itl.flag = kItlFlagUpper;
        itl.lockCount = 14;
        itl.fsc = 0x21b;
        itl.scnBase = 0x1cc0f2;
        layout.itl.push_back(itl);  // three entries
        RowPiece row;
        initRowPiece(&row);
        addColumnText(&row, "ab");
        layout.rows.push_back(row);
        row.columns.clear();
        addColumnText(&row, "xyz");
        layout.rows.push_back(row);
        char error[256] = "";
        ASSERT_TRUE(putDataBlock(&block, &layout, error, sizeof error)) << error;
        sealBlock(&block);
        EXPECT_TRUE(blockVerifies(&block));

        EXPECT_EQ(6, peekU8(&block, 0));
        EXPECT_EQ(makeRdba(4, 17), peekU32(&block, 4));
        EXPECT_EQ(1, peekU8(&block, 20));
        EXPECT_EQ(74682u, peekU32(&block, 24));
        EXPECT_EQ(0x1234u, peekU32(&block, 28));
        EXPECT_EQ(3, peekU8(&block, order == kBigEndian ? 37 : 36));
        EXPECT_EQ(0x32, peekU8(&block, 38));
        // ITL entry 2 at 44 + 48.
        EXPECT_EQ(6, peekU16(&block, 92));
        EXPECT_EQ(0x17, peekU16(&block, 94));
        EXPECT_EQ(0x3e9u, peekU32(&block, 96));
        EXPECT_EQ(0x00c003d6u, peekU32(&block, 100));
        EXPECT_EQ(0x149, peekU16(&block, 104));
        EXPECT_EQ(0x27, peekU8(&block, 106));
        EXPECT_EQ(0x200e, peekU16(&block, 108));
        EXPECT_EQ(0x21b, peekU16(&block, 110));
        EXPECT_EQ(0x1cc0f2u, peekU32(&block, 112));

        uint32_t h = 44 + 3 * 24 + 8;
        ASSERT_EQ(h, dataHeaderOffset(3, 0x32));
        EXPECT_EQ(1, peekU8(&block, h + 1));       // tables
        EXPECT_EQ(2, peekU16(&block, h + 2));      // rows
        EXPECT_EQ(0xFFFF, peekU16(&block, h + 4)); // no free entry
        EXPECT_EQ(14 + 4 + 4, peekU16(&block, h + 6));
        EXPECT_EQ(0, peekU16(&block, h + 14));     // table 0 starts at entry 0
        EXPECT_EQ(2, peekU16(&block, h + 16));     // with two rows
        uint16_t row0 = peekU16(&block, h + 18);
        uint16_t row1 = peekU16(&block, h + 20);
        // The first row is packed against the tail, the second before it.
        EXPECT_EQ(4096u - 4 - 6, h + row0);
        EXPECT_EQ(h + row0 - 7, h + row1);
        EXPECT_EQ(row1, peekU16(&block, h + 8));   // free space ends at the lowest row
        EXPECT_EQ(row1 - (14 + 4 + 4), peekU16(&block, h + 10));
        const uint8_t expect0[] = {0x2c, 0, 1, 2, 'a', 'b'};
        EXPECT_EQ(0, memcmp(&block.bytes[h + row0], expect0, sizeof expect0));
        const uint8_t expect1[] = {0x2c, 0, 1, 3, 'x', 'y', 'z'};
        EXPECT_EQ(0, memcmp(&block.bytes[h + row1], expect1, sizeof expect1));
    }
}

TEST(ForgeDataBlock, LongLengthsNullsAndChainingAddresses) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        Block block;
        ASSERT_TRUE(initBlock(&block, 8192, order));
        DataBlockLayout layout;
        initDataBlockLayout(&layout, makeRdba(1, 9), 5);
        layout.headerFlag = 0;
        RowPiece row;
        initRowPiece(&row);
        row.flag = kRowHead | kRowFirst;  // continues in another block
        row.hasNext = true;
        row.nextRdba = 0x01000123;
        row.nextSlot = 0x0203;
        std::vector<uint8_t> longValue(300, 'L');
        addColumnNull(&row);
        addColumnBytes(&row, longValue.data(), longValue.size());
        addColumnText(&row, "");
        layout.rows.push_back(row);
        char error[256] = "";
        ASSERT_TRUE(putDataBlock(&block, &layout, error, sizeof error)) << error;
        uint32_t h = 44 + 2 * 24;
        ASSERT_EQ(h, dataHeaderOffset(2, 0));
        uint32_t at = h + peekU16(&block, h + 18);
        const uint8_t *p = &block.bytes[at];
        EXPECT_EQ(0x28, p[0]);
        EXPECT_EQ(3, p[2]);
        // Chaining address: big-endian in both block orders.
        const uint8_t next[] = {0x01, 0x00, 0x01, 0x23, 0x02, 0x03};
        EXPECT_EQ(0, memcmp(p + 3, next, 6));
        EXPECT_EQ(0xFF, p[9]);
        EXPECT_EQ(0xFE, p[10]);
        EXPECT_EQ(300, peekU16(&block, at + 11));  // the long length follows the block order
        EXPECT_EQ('L', p[13]);
        EXPECT_EQ('L', p[13 + 299]);
        EXPECT_EQ(0, p[313]);  // empty value: length 0, no bytes
        EXPECT_EQ(8192u - 4, at + 314);
    }
}

TEST(ForgeDataBlock, ClusterTablesAndFreeEntries) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 2048, kLittleEndian));
    DataBlockLayout layout;
    initDataBlockLayout(&layout, makeRdba(1, 9), 5);
    RowPiece key, member, freed;
    initRowPiece(&key);
    key.flag = 0xAC;
    addColumnText(&key, "K");
    key.table = 0;
    initRowPiece(&member);
    member.table = 1;
    member.flag = kRowNormal | kRowClusterMember;
    member.hasClusterKeySlot = true;
    member.clusterKeySlot = 0;
    addColumnText(&member, "M");
    initRowPiece(&freed);
    freed.table = 1;
    freed.freeEntry = true;
    layout.rows.push_back(member);  // given first, but table 0 comes first in the directory
    layout.rows.push_back(freed);
    layout.rows.push_back(key);
    char error[256] = "";
    ASSERT_TRUE(putDataBlock(&block, &layout, error, sizeof error)) << error;
    uint32_t h = 100;
    EXPECT_EQ(2, peekU8(&block, h + 1));
    EXPECT_EQ(3, peekU16(&block, h + 2));
    EXPECT_EQ(2, peekU16(&block, h + 4));   // first free entry
    EXPECT_EQ(0, peekU16(&block, h + 14));  // table 0: entry 0, one row
    EXPECT_EQ(1, peekU16(&block, h + 16));
    EXPECT_EQ(1, peekU16(&block, h + 18));  // table 1: entries 1 and 2
    EXPECT_EQ(2, peekU16(&block, h + 20));
    uint32_t directory = h + 14 + 8;
    EXPECT_EQ(0xAC, peekU8(&block, h + peekU16(&block, directory)));
    uint32_t m = h + peekU16(&block, directory + 2);
    const uint8_t expectMember[] = {0x6c, 0, 1, 0, 1, 'M'};
    EXPECT_EQ(0, memcmp(&block.bytes[m], expectMember, sizeof expectMember));
    EXPECT_EQ(0xFFFF, peekU16(&block, directory + 4));
}

TEST(ForgeDataBlock, RowsThatDoNotFitAreRefused) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 2048, kLittleEndian));
    DataBlockLayout layout;
    initDataBlockLayout(&layout, makeRdba(1, 9), 5);
    std::vector<uint8_t> value(1000, 'x');
    for (int i = 0; i < 2; i++) {
        RowPiece row;
        initRowPiece(&row);
        addColumnBytes(&row, value.data(), value.size());
        layout.rows.push_back(row);
    }
    char error[256] = "";
    EXPECT_FALSE(putDataBlock(&block, &layout, error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "does not fit"));
    layout.rows.pop_back();
    EXPECT_TRUE(putDataBlock(&block, &layout, error, sizeof error)) << error;
}
