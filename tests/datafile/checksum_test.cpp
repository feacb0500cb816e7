// The block checksum and the tail check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "datafile/datafile.h"
#include "datafile_test_env.h"
#include "column_values.h"
#include "forge/forge.h"
#include "oracle_fixtures.h"

namespace {

const uint32_t kBlockSizes[] = {2048, 4096, 8192, 16384, 32768};

forge::Block forgeDataBlock(uint32_t size, forge::ByteOrder order)
{
    forge::DataBlockLayout layout;
    forge::initDataBlockLayout(&layout, forge::makeRdba(4, 123), 74682);
    for (int r = 0; r < 3; r++) {
        forge::RowPiece row;
        forge::initRowPiece(&row);
        forge::addColumnText(&row, "SMITH");
        forge::addColumnBytes(&row, "\xc2\x08", 2);
        forge::addColumnNull(&row);
        layout.rows.push_back(row);
    }
    return forgedDataBlock(layout, order, size);
}

}  // namespace

TEST(Checksum, ZerosVerifyAtEverySize)
{
    for (uint32_t size : kBlockSizes) {
        std::vector<uint8_t> zeros(size, 0);
        EXPECT_EQ(0, do_checksum(size, zeros.data())) << size;
    }
}

TEST(Checksum, SixteenByteXor)
{
    uint8_t a[16], b[16], out[16];
    for (int i = 0; i < 16; i++) {
        a[i] = static_cast<uint8_t>(i * 17);
        b[i] = static_cast<uint8_t>(0xF0 ^ i);
    }
    do_16_byte_xor(a, b, out);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(static_cast<uint8_t>(a[i] ^ b[i]), out[i]);
    do_16_byte_xor(a, a, a);   // in place
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(0, a[i]);
}

TEST(Checksum, EqualsPlainWordXorFold)
{
    std::vector<uint8_t> block(8192);
    uint32_t seed = 12345;
    for (auto &b : block) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    uint32_t x = 0;
    for (size_t i = 0; i < block.size(); i += 4)
        x ^= block[i] | (block[i + 1] << 8) | (block[i + 2] << 16) | (static_cast<uint32_t>(block[i + 3]) << 24);
    EXPECT_EQ(static_cast<uint16_t>((x ^ (x >> 16)) & 0xFFFF), do_checksum(8192, block.data()));
    EXPECT_EQ(forge::foldChecksum(block.data(), block.size()), do_checksum(8192, block.data()));
}

TEST(Checksum, EveryFlippedBitOfABlockIsCaught)
{
    forge::Block block = forgeDataBlock(8192, forge::kLittleEndian);
    uint8_t *bytes = block.bytes.data();
    ASSERT_EQ(0, do_checksum(8192, bytes));
    int missed = 0;
    for (uint32_t bit = 0; bit < 8192u * 8; bit++) {
        bytes[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        if (do_checksum(8192, bytes) == 0)
            missed++;
        bytes[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    EXPECT_EQ(0, missed);
    EXPECT_EQ(0, do_checksum(8192, bytes));
}

TEST(Checksum, ForgeBlocksVerifyInBothByteOrdersAndAllSizes)
{
    for (uint32_t size : kBlockSizes) {
        for (forge::ByteOrder order : {forge::kLittleEndian, forge::kBigEndian}) {
            forge::Block data = forgeDataBlock(size, order);
            EXPECT_EQ(0, do_checksum(size, data.bytes.data())) << size << " " << int(order);

            forge::Block header;
            forge::initBlock(&header, size, order);
            forge::FileHeader fh;
            forge::initFileHeader(&fh);
            fh.blockSize = size;
            fh.cache.rdba = forge::makeRdba(7, 1);
            ASSERT_TRUE(forge::putFileHeader(&header, &fh));
            forge::sealBlock(&header);
            EXPECT_EQ(0, do_checksum(size, header.bytes.data())) << size << " " << int(order);
        }
    }
}

TEST(Checksum, WronglySealedForgeBlockFoldsToTheError)
{
    forge::Block block = forgeDataBlock(8192, forge::kLittleEndian);
    forge::sealBlockWrong(&block, 0x0100);
    EXPECT_EQ(0x0100, do_checksum(8192, block.bytes.data()));
}

TEST(Checksum, RealOracleBlocksVerify)
{
    const char *names[] = {"heap-1row-char-19c-x64", "heap-3rows-lock-32bit", "emp-14rows-12deleted-11203-i686",
                           "heap-1row-uncommitted-bbed-11g", "corrupt-marked-allzero-11204-x64"};
    int found = 0;
    for (const char *name : names) {
        std::vector<uint8_t> bytes = oracleFixtureBytes(std::string(name) + "/block.bin");
        if (bytes.size() != 8192)
            continue;
        found++;
        EXPECT_EQ(0, do_checksum(8192, bytes.data())) << name;
    }
    if (found == 0)
        GTEST_SKIP() << "the shared Oracle fixtures are not beside this checkout";
}

class TailCheck : public ::testing::Test {
protected:
    void SetUp() override { setUpDatafileEnv(&env); }
    void TearDown() override { tearDownDatafileEnv(&env); }
    void putBlock(const forge::Block &block) { memcpy(env.ctx->block, block.bytes.data(), 8192); }
    DatafileTestEnv env;
};

TEST_F(TailCheck, EmptyListAndNoBlockCheckAcceptAnyBlock)
{
    for (int i = 0; i < 8192; i++)
        env.ctx->block[i] = static_cast<uint8_t>(i * 31 + 7);
    EXPECT_EQ(0, matchBlockTail(env.ctx));
}

TEST_F(TailCheck, CorruptListedBlockIsBadEvenWithoutBlockCheck)
{
    putBlock(forgeDataBlock(8192, forge::kLittleEndian));
    EXPECT_EQ(0, matchBlockTail(env.ctx));
    addRDBAToList(env.corrupt, forge::makeRdba(4, 123));
    EXPECT_EQ(1, matchBlockTail(env.ctx));
}

TEST_F(TailCheck, RdbaIsReadInTheByteOrder)
{
    putBlock(forgeDataBlock(8192, forge::kBigEndian));
    addRDBAToList(env.corrupt, forge::makeRdba(4, 123));
    EXPECT_EQ(0, matchBlockTail(env.ctx));   // read little-endian it is another address
    env.ctx->byteOrder = 1;
    EXPECT_EQ(1, matchBlockTail(env.ctx));
}

TEST_F(TailCheck, ChecksumCountsOnlyUnderBlockCheck)
{
    forge::Block block = forgeDataBlock(8192, forge::kLittleEndian);
    forge::sealBlockWrong(&block, 0x0100);   // fold 0x0100: the low byte alone would pass
    putBlock(block);
    EXPECT_EQ(0, matchBlockTail(env.ctx));
    env.ctx->blockCheck = 1;
    EXPECT_NE(0, matchBlockTail(env.ctx));
    forge::sealBlock(&block);
    putBlock(block);
    EXPECT_EQ(0, matchBlockTail(env.ctx));
}
