// The forge held against blocks real Oracle databases wrote: the same
// checksum must verify them, resealing must reproduce Oracle's own stored
// value, and the data-block builder must be able to rebuild one byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "forge/forge.h"
#include "forge_test_util.h"
#include "oracle_fixtures.h"

using namespace forge;

namespace {

const char *const kOracleBlocks[] = {
    "heap-1row-char-19c-x64",          "heap-3rows-lock-32bit",
    "emp-14rows-12deleted-11203-i686", "heap-1row-uncommitted-bbed-11g",
    "corrupt-marked-allzero-11204-x64",
};

std::string oracleBlockPath(const char *name) {
    return std::string(ZOR_SOURCE_DIR) + "/../shared/fixtures/oracle/" + name + "/block.bin";
}

std::vector<uint8_t> readOracleBlock(const char *name) {
    return forgetest::readWholeFile(oracleBlockPath(name));
}

// The bytes of the row piece at block offset `at`, `length` long.
std::vector<uint8_t> slice(const std::vector<uint8_t> &bytes, size_t at, size_t length) {
    return std::vector<uint8_t>(bytes.begin() + (long)at, bytes.begin() + (long)(at + length));
}

// The row piece the forge writes for `row` in a fresh little-endian block:
// the first row goes right before the 4-byte tail.
std::vector<uint8_t> forgedRowBytes(const RowPiece &row, size_t *length) {
    Block block;
    initBlock(&block, 8192, kLittleEndian);
    DataBlockLayout layout;
    initDataBlockLayout(&layout, makeRdba(4, 10), 1);
    layout.rows.push_back(row);
    char error[256];
    EXPECT_TRUE(putDataBlock(&block, &layout, error, sizeof error)) << error;
    uint32_t h = dataHeaderOffset(2, kDataFlagExtended);
    uint32_t at = h + peekU16(&block, h + 14 + 4);
    *length = 8192 - 4 - at;
    return slice(block.bytes, at, *length);
}

}  // namespace

TEST(ForgeOracleBlocks, EveryRealBlockVerifiesWithTheForgeChecksum) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    for (const char *name : kOracleBlocks) {
        std::vector<uint8_t> bytes = readOracleBlock(name);
        ASSERT_EQ(8192u, bytes.size()) << oracleBlockPath(name);
        EXPECT_EQ(0, foldChecksum(bytes.data(), bytes.size())) << name;
    }
}

TEST(ForgeOracleBlocks, ResealingReproducesOraclesStoredChecksum) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    for (const char *name : kOracleBlocks) {
        std::vector<uint8_t> original = readOracleBlock(name);
        ASSERT_EQ(8192u, original.size()) << name;
        std::vector<uint8_t> bytes = original;
        bytes[16] = 0x5A;  // spoil it so the seal has to recompute
        bytes[17] = 0xA5;
        sealBytes(bytes.data(), bytes.size());
        EXPECT_EQ(original, bytes) << name;
    }
}

TEST(ForgeOracleBlocks, OneFlippedBitInARealBlockBreaksIt) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> bytes = readOracleBlock("heap-3rows-lock-32bit");
    ASSERT_EQ(8192u, bytes.size());
    bytes[0x1fc9] ^= 0x10;  // inside the value 'a' of row 0
    EXPECT_NE(0, foldChecksum(bytes.data(), bytes.size()));
}

TEST(ForgeOracleBlocks, DataHeaderSitsWhereOracleHasIt) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    // Two ITL entries and byte 38 = 0x32 put the data header at 0x64; three
    // entries at 0x7c.
    std::vector<uint8_t> char19c = readOracleBlock("heap-1row-char-19c-x64");
    std::vector<uint8_t> emp = readOracleBlock("emp-14rows-12deleted-11203-i686");
    ASSERT_EQ(8192u, char19c.size());
    ASSERT_EQ(8192u, emp.size());
    EXPECT_EQ(0x64u, dataHeaderOffset(char19c[36], char19c[38]));
    EXPECT_EQ(0x7cu, dataHeaderOffset(emp[36], emp[38]));
    EXPECT_EQ(0x5cu, dataHeaderOffset(2, 0));
}

// Row 0 of the EMP block: 7369, SMITH, CLERK, 7902, 1980-12-17, 800, NULL, 20,
// locked by ITL 2.  The forge's NUMBER encoding and length bytes must
// produce exactly Oracle's row piece.
TEST(ForgeOracleBlocks, ForgedRowPieceMatchesOraclesEmpRow) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> emp = readOracleBlock("emp-14rows-12deleted-11203-i686");
    ASSERT_EQ(8192u, emp.size());
    RowPiece row;
    initRowPiece(&row);
    row.lock = 2;
    std::vector<uint8_t> n = encodeNumber(7369);
    addColumnBytes(&row, n.data(), n.size());
    addColumnText(&row, "SMITH");
    addColumnText(&row, "CLERK");
    n = encodeNumber(7902);
    addColumnBytes(&row, n.data(), n.size());
    const uint8_t hiredate[] = {0x77, 0xb4, 0x0c, 0x11, 0x01, 0x01, 0x01};
    addColumnBytes(&row, hiredate, sizeof hiredate);
    n = encodeNumber(800);
    addColumnBytes(&row, n.data(), n.size());
    addColumnNull(&row);
    n = encodeNumber(20);
    addColumnBytes(&row, n.data(), n.size());
    size_t length = 0;
    std::vector<uint8_t> forged = forgedRowBytes(row, &length);
    // Row 0's directory entry in the real block: 0x1f5a from H = 0x7c.
    EXPECT_EQ(slice(emp, 0x7c + 0x1f5a, length), forged);
}

// The single-row block edited with BBED: rebuilt from its decoded values,
// the forge must produce all 8192 bytes, checksum included.
TEST(ForgeOracleBlocks, DataBlockBuilderRebuildsARealBlockByteForByte) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> real = readOracleBlock("heap-1row-uncommitted-bbed-11g");
    ASSERT_EQ(8192u, real.size());
    Block block;
    ASSERT_TRUE(initBlock(&block, 8192, kLittleEndian));
    DataBlockLayout layout;
    initDataBlockLayout(&layout, 0x0180008d, 94368);
    layout.cache.scnBase = 0x003ddad2;
    layout.cache.sequence = 3;
    layout.cache.flag = 0x04;
    layout.cleanScnBase = 0x003ddad2;
    layout.itl[0].xidUsn = 0x0002;
    layout.itl[0].xidSlot = 0x019;
    layout.itl[0].xidWrap = 0x00000a13;
    layout.itl[0].ubaRdba = 0x00c011b6;
    layout.itl[0].ubaSequence = 0x034d;
    layout.itl[0].ubaRecord = 0x14;
    layout.itl[0].lockCount = 1;
    RowPiece row;
    initRowPiece(&row);
    row.lock = 1;
    std::vector<uint8_t> one = encodeNumber(1);
    addColumnBytes(&row, one.data(), one.size());
    addColumnText(&row, "AAAAAA");
    layout.rows.push_back(row);
    char error[256];
    ASSERT_TRUE(putDataBlock(&block, &layout, error, sizeof error)) << error;
    // The free-list link at 40 is not something the builder models.
    ASSERT_TRUE(putU32(&block, 40, 0x01800088));
    sealBlock(&block);
    for (size_t i = 0; i < real.size(); i++)
        ASSERT_EQ(real[i], block.bytes[i]) << "first difference at offset " << i;
}

TEST(ForgeOracleBlocks, CacheHeaderRebuildsOraclesCorruptMarkedBlock) {
    SKIP_WITHOUT_ORACLE_FIXTURES();
    // The all-zero block Oracle marked corrupt: type 0, format 0xA2, its
    // RDBA, sequence 1 and flag 5; the forge's cache header reproduces it.
    std::vector<uint8_t> real = readOracleBlock("corrupt-marked-allzero-11204-x64");
    ASSERT_EQ(8192u, real.size());
    Block block;
    ASSERT_TRUE(initBlock(&block, 8192, kLittleEndian));
    CacheHeader h;
    initCacheHeader(&h, 0, 0x0180008c);
    h.flag = 0x05;
    putCacheHeader(&block, &h);
    sealBlock(&block);
    EXPECT_EQ(real, block.bytes);
}
