// OLTP-compressed blocks: the extension sizes, the symbol table with nested
// references, and rows using every code kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

std::vector<uint8_t> text(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Symbols: 0 = "AB", 1 = "C", 2 = (ref 0, "D") two columns, 3 = 250-code long value.
// Column-length table for two fixed columns of 2 and 3 bytes.
void sampleLayout(CompressedBlockLayout *layout) {
    initCompressedBlockLayout(layout, makeRdba(4, 30), 4242);
    SymbolEntry s0, s1, s2, s3;
    s0.codes = {valueCode(text("AB"))};
    s1.codes = {valueCode(text("C"))};
    s2.codes = {symbolCode(0), valueCode(text("D"))};
    CompressedCode longValue;
    initCompressedCode(&longValue, kCodeLong);
    longValue.values.push_back(text("L"));
    s3.codes = {longValue};
    layout->symbols = {s0, s1, s2, s3};
    layout->symbolThreshold = 3;  // entry 3 has no column count byte
    layout->columnLengths = columnLengthTable({2, 3});
    layout->permutation = {1, 0, 2, 3, 4, 5, 6, 7, 8};

    CompressedRow row;
    initCompressedRow(&row);
    CompressedCode group;
    initCompressedCode(&group, kCodeFixedGroup);
    group.values = {text("xy"), text("abc")};
    CompressedCode wide;
    initCompressedCode(&wide, kCodeSymbolWide);
    wide.slot = 1;
    row.codes = {group, symbolCode(2), wide, valueCode(text("inline")),
                 valueCode(std::vector<uint8_t>(60, 'q')), nullCode(), symbolCode(3)};
    layout->rows.push_back(row);
}

}  // namespace

TEST(ForgeCompressed, ExtensionSizeIsEightPlusTwoNPlusPPaddedToEven) {
    EXPECT_EQ(8u, compressExtensionSize(0, 0));
    EXPECT_EQ(20u, compressExtensionSize(3, 5));  // 8 + 6 + 5, and a pad byte
    EXPECT_EQ(20u, compressExtensionSize(3, 6));
    EXPECT_EQ(8u + 2 * 255 + 255 + 1, compressExtensionSize(255, 255));
}

TEST(ForgeCompressed, RowExpandsNestedSymbolsGroupsAndInlineValues) {
    CompressedBlockLayout layout;
    sampleLayout(&layout);
    std::vector<ColumnValue> stored;
    char error[256];
    ASSERT_TRUE(expandCompressedRow(&layout, &layout.rows[0], &stored, error, sizeof error)) << error;
    ASSERT_EQ(9u, stored.size());
    EXPECT_EQ(text("xy"), stored[0].bytes);
    EXPECT_EQ(text("abc"), stored[1].bytes);
    EXPECT_EQ(text("AB"), stored[2].bytes);  // symbol 2 = symbol 0, then "D"
    EXPECT_EQ(text("D"), stored[3].bytes);
    EXPECT_EQ(text("C"), stored[4].bytes);
    EXPECT_EQ(text("inline"), stored[5].bytes);
    EXPECT_EQ(60u, stored[6].bytes.size());
    EXPECT_TRUE(stored[7].isNull);
    EXPECT_EQ(text("L"), stored[8].bytes);
    std::vector<ColumnValue> output;
    permuteColumns(layout.permutation, stored, &output);
    EXPECT_EQ(text("abc"), output[0].bytes);
    EXPECT_EQ(text("xy"), output[1].bytes);
}

TEST(ForgeCompressed, BlockBytesInBothOrders) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        CompressedBlockLayout layout;
        sampleLayout(&layout);
        Block block;
        initBlock(&block, 8192, order);
        char error[256];
        ASSERT_TRUE(putCompressedBlock(&block, &layout, error, sizeof error)) << error;
        uint32_t h = dataHeaderOffset(2, kDataFlagExtended);
        EXPECT_EQ(kDataFlagCompressed, peekU8(&block, h));
        EXPECT_EQ(2, peekU8(&block, h + 1));
        EXPECT_EQ(3, peekU16(&block, h + 16));
        EXPECT_EQ(3, peekU8(&block, h + 19));
        EXPECT_EQ(9, peekU8(&block, h + 20));
        EXPECT_EQ(0, peekU16(&block, h + 22));
        EXPECT_EQ(2, peekU16(&block, h + 24));
        EXPECT_EQ(5, peekU16(&block, h + 26));
        EXPECT_EQ(1, peekU8(&block, h + 28));  // permutation
        uint32_t c = compressExtensionSize(3, 9);
        EXPECT_EQ(24u, c);
        uint32_t tables = h + 14 + c;
        EXPECT_EQ(0, peekU16(&block, tables));      // symbols: entries 0..3
        EXPECT_EQ(4, peekU16(&block, tables + 2));
        EXPECT_EQ(4, peekU16(&block, tables + 4));  // rows: entry 4
        EXPECT_EQ(1, peekU16(&block, tables + 6));
        uint32_t directory = tables + 8;
        uint32_t s2 = h + peekU16(&block, directory + 4);
        EXPECT_EQ(0x2C, peekU8(&block, s2));
        EXPECT_EQ(2, peekU8(&block, s2 + 2));  // column count
        EXPECT_EQ(0, peekU8(&block, s2 + 3));  // reference to symbol 0
        EXPECT_EQ(201, peekU8(&block, s2 + 4));
        uint32_t s3 = h + peekU16(&block, directory + 6);
        EXPECT_EQ(250, peekU8(&block, s3 + 2));  // past the threshold: codes at +2
        EXPECT_EQ(1, forgetest::be16(&block.bytes[s3 + 3]));
        uint32_t r = h + peekU16(&block, directory + 8);
        EXPECT_EQ(0x2C, peekU8(&block, r));
        EXPECT_EQ(7, peekU8(&block, r + 2));  // codes
        EXPECT_EQ(0, peekU8(&block, r + 3));
        EXPECT_EQ(202, peekU8(&block, r + 4));  // a group of two fixed columns
        EXPECT_EQ('x', peekU8(&block, r + 5));
        EXPECT_EQ(2, peekU8(&block, r + 10));    // symbol 2
        EXPECT_EQ(251, peekU8(&block, r + 11));  // symbol 1, two-byte form
        EXPECT_EQ(1, forgetest::be16(&block.bytes[r + 12]));
        EXPECT_EQ(206, peekU8(&block, r + 14));  // "inline"
        EXPECT_EQ(250, peekU8(&block, r + 21));
        EXPECT_EQ(60, forgetest::be16(&block.bytes[r + 22]));
        EXPECT_EQ(252, peekU8(&block, r + 84));
        EXPECT_EQ(3, peekU8(&block, r + 85));
    }
}

TEST(ForgeCompressed, InconsistentCodesAreRefused) {
    char error[256];
    CompressedBlockLayout layout;
    sampleLayout(&layout);
    layout.rows[0].codes[0].values[1] = text("abcd");  // the table says 3 bytes
    DataBlockLayout out;
    EXPECT_FALSE(compressedToDataLayout(&layout, &out, error, sizeof error));

    sampleLayout(&layout);
    layout.rows[0].codes.insert(layout.rows[0].codes.begin(), valueCode(text("zz")));
    EXPECT_FALSE(compressedToDataLayout(&layout, &out, error, sizeof error));  // inline at a fixed column

    sampleLayout(&layout);
    layout.symbols[0].codes = {symbolCode(2)};  // 0 -> 2 -> 0
    EXPECT_FALSE(compressedToDataLayout(&layout, &out, error, sizeof error));

    sampleLayout(&layout);
    layout.symbolThreshold = 2;  // entry 2 has two columns, so it needs its count byte
    EXPECT_FALSE(compressedToDataLayout(&layout, &out, error, sizeof error));
}
