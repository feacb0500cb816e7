// Block images and the checksum: every forged block must verify the way
// Oracle's own blocks do, in every block size and byte order.
#include <gtest/gtest.h>

#include <string>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;
using forgetest::be16;
using forgetest::be32;
using forgetest::le16;
using forgetest::le32;

namespace {

const uint32_t kSizes[] = {2048, 4096, 8192, 16384, 32768};
const ByteOrder kOrders[] = {kLittleEndian, kBigEndian};

// Written out again here rather than calling the forge, so that the test
// does not grade the forge's checksum with the forge's checksum.
uint16_t referenceFoldLittle(const std::vector<uint8_t> &bytes) {
    uint32_t x = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) x ^= le32(&bytes[i]);
    return (uint16_t)((x ^ (x >> 16)) & 0xFFFF);
}

// What a big-endian host computes: native (big-endian) words, and the
// result stored big-endian in the zeroed field.
uint16_t referenceFoldBig(const std::vector<uint8_t> &bytes) {
    uint32_t x = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) x ^= be32(&bytes[i]);
    return (uint16_t)((x ^ (x >> 16)) & 0xFFFF);
}

// Deterministic, busy content so a seal cannot pass by accident.
void fillPattern(Block *block, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = kCacheHeaderSize; i < block->size; i++) {
        x = x * 1103515245u + 12345u;
        block->bytes[i] = (uint8_t)(x >> 16);
    }
}

}  // namespace

TEST(ForgeBlock, InitRejectsSizesOracleDoesNotUse) {
    Block block;
    EXPECT_FALSE(initBlock(&block, 1024, kLittleEndian));
    EXPECT_FALSE(initBlock(&block, 65536, kLittleEndian));
    EXPECT_FALSE(initBlock(&block, 3000, kLittleEndian));
    EXPECT_EQ(0u, block.bytes.size());
    for (uint32_t size : kSizes) {
        ASSERT_TRUE(initBlock(&block, size, kBigEndian));
        EXPECT_EQ(size, block.bytes.size());
    }
}

TEST(ForgeBlock, FieldWritersFollowTheByteOrder) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 2048, kLittleEndian));
    ASSERT_TRUE(putU16(&block, 100, 0x1234));
    ASSERT_TRUE(putU32(&block, 200, 0x01020304));
    EXPECT_EQ(0x34, block.bytes[100]);
    EXPECT_EQ(0x12, block.bytes[101]);
    EXPECT_EQ(0x04, block.bytes[200]);
    EXPECT_EQ(0x01, block.bytes[203]);
    ASSERT_TRUE(putU32In(&block, 300, 0x01020304, kBigEndian));
    EXPECT_EQ(0x01, block.bytes[300]);
    EXPECT_EQ(0x04, block.bytes[303]);

    ASSERT_TRUE(initBlock(&block, 2048, kBigEndian));
    ASSERT_TRUE(putU16(&block, 100, 0x1234));
    ASSERT_TRUE(putU32(&block, 200, 0x01020304));
    EXPECT_EQ(0x12, block.bytes[100]);
    EXPECT_EQ(0x34, block.bytes[101]);
    EXPECT_EQ(0x01, block.bytes[200]);
    EXPECT_EQ(0x04, block.bytes[203]);
    EXPECT_EQ(0x1234, peekU16(&block, 100));
    EXPECT_EQ(0x01020304u, peekU32(&block, 200));
}

TEST(ForgeBlock, FieldWritersRefuseToRunPastTheEnd) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 2048, kLittleEndian));
    EXPECT_TRUE(putU32(&block, 2044, 0xFFFFFFFF));
    EXPECT_FALSE(putU32(&block, 2045, 1));
    EXPECT_FALSE(putU16(&block, 2047, 1));
    EXPECT_FALSE(putU8(&block, 2048, 1));
    EXPECT_FALSE(putU32(&block, 0xFFFFFFFE, 1));
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(putBytes(&block, 2041, data, 8));
    EXPECT_FALSE(putFill(&block, 10, 0xFFFFFFF0, 1));
    // Nothing of the refused writes landed.
    EXPECT_EQ(0xFF, block.bytes[2045]);
    EXPECT_EQ(0xFF, block.bytes[2047]);
    EXPECT_EQ(0, block.bytes[2041]);
    EXPECT_EQ(0, block.bytes[10]);
}

TEST(ForgeBlock, CacheHeaderLandsAtItsOffsetsInBothOrders) {
    for (ByteOrder order : kOrders) {
        Block block;
        ASSERT_TRUE(initBlock(&block, 8192, order));
        CacheHeader h;
        initCacheHeader(&h, 6, 0x01003373);
        h.format = kFormatA2;
        h.scnBase = 0x001cc0f2;
        h.scnWrap = 0x0102;
        h.sequence = 0x03;
        h.flag = 0x06;
        putCacheHeader(&block, &h);
        const uint8_t *b = block.bytes.data();
        EXPECT_EQ(6, b[0]);
        EXPECT_EQ(0xA2, b[1]);
        EXPECT_EQ(0x03, b[14]);
        EXPECT_EQ(0x06, b[15]);
        if (order == kLittleEndian) {
            EXPECT_EQ(0x01003373u, le32(b + 4));
            EXPECT_EQ(0x001cc0f2u, le32(b + 8));
            EXPECT_EQ(0x0102, le16(b + 12));
            // The tail: low SCN bits, type, sequence.
            EXPECT_EQ(0xc0f20603u, le32(b + 8188));
        } else {
            EXPECT_EQ(0x01003373u, be32(b + 4));
            EXPECT_EQ(0x001cc0f2u, be32(b + 8));
            EXPECT_EQ(0x0102, be16(b + 12));
            EXPECT_EQ(0xc0f20603u, be32(b + 8188));
        }
    }
}

TEST(ForgeChecksum, ZeroBlockFoldsToZero) {
    std::vector<uint8_t> zeros(8192, 0);
    EXPECT_EQ(0, foldChecksum(zeros.data(), zeros.size()));
}

TEST(ForgeChecksum, SealedBlocksVerifyInEverySizeAndOrder) {
    uint32_t seed = 1;
    for (uint32_t size : kSizes) {
        for (ByteOrder order : kOrders) {
            Block block;
            ASSERT_TRUE(initBlock(&block, size, order));
            CacheHeader h;
            initCacheHeader(&h, 6, makeRdba(4, 17));
            h.scnBase = 0xdeadbeef;
            putCacheHeader(&block, &h);
            fillPattern(&block, seed++);
            sealBlock(&block);
            EXPECT_EQ(0, referenceFoldLittle(block.bytes)) << size << " order " << (int)order;
            EXPECT_EQ(0, referenceFoldBig(block.bytes)) << size << " order " << (int)order;
            EXPECT_TRUE(blockVerifies(&block));
        }
    }
}

// A big-endian host folds big-endian words and stores its result in block
// order; the forge must land exactly those bytes, so that the field reads
// back as the value Oracle would show in a dump on that platform.
TEST(ForgeChecksum, StoredFieldIsWhatTheBlocksOwnPlatformWouldWrite) {
    for (uint32_t size : kSizes) {
        for (ByteOrder order : kOrders) {
            Block block;
            ASSERT_TRUE(initBlock(&block, size, order));
            fillPattern(&block, size + order);
            block.bytes[16] = block.bytes[17] = 0;
            uint16_t expected = order == kBigEndian ? referenceFoldBig(block.bytes)
                                                    : referenceFoldLittle(block.bytes);
            sealBlock(&block);
            EXPECT_EQ(expected, peekU16(&block, kChecksumOffset)) << size << " order " << (int)order;
        }
    }
}

TEST(ForgeChecksum, OneFlippedBitAnywhereBreaksIt) {
    for (ByteOrder order : kOrders) {
        Block block;
        ASSERT_TRUE(initBlock(&block, 4096, order));
        fillPattern(&block, 7);
        sealBlock(&block);
        const uint32_t offsets[] = {0, 1, 4, 15, 16, 17, 18, 19, 20, 1000, 2047, 4092, 4095};
        for (uint32_t offset : offsets) {
            for (unsigned bit = 0; bit < 8; bit++) {
                Block damaged = block;
                ASSERT_TRUE(flipBlockBit(&damaged, offset, bit));
                EXPECT_NE(0, referenceFoldLittle(damaged.bytes)) << "offset " << offset << " bit " << bit;
                EXPECT_FALSE(blockVerifies(&damaged));
            }
        }
    }
}

TEST(ForgeChecksum, WrongSealFoldsToTheRequestedError) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 8192, kLittleEndian));
    fillPattern(&block, 3);
    sealBlockWrong(&block, 0x0100);
    EXPECT_EQ(0x0100, referenceFoldLittle(block.bytes));
    EXPECT_FALSE(blockVerifies(&block));
    sealBlock(&block);
    EXPECT_TRUE(blockVerifies(&block));
}

TEST(ForgeChecksum, ResealAfterAChangeVerifiesAgain) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 2048, kBigEndian));
    fillPattern(&block, 11);
    sealBlock(&block);
    ASSERT_TRUE(flipBlockByte(&block, 500));
    EXPECT_FALSE(blockVerifies(&block));
    sealBlock(&block);
    EXPECT_TRUE(blockVerifies(&block));
    EXPECT_EQ(0, referenceFoldLittle(block.bytes));
}

TEST(ForgeRdba, FileInTheHighBitsBlockInTheLow) {
    EXPECT_EQ(0x01000005u, makeRdba(4, 5));
    EXPECT_EQ(0x03000c36u, makeRdba(12, 3126));
    EXPECT_EQ(0x01400010u, makeRdba(5, 16));
    EXPECT_EQ(0xFFFFFFFFu, makeRdba(1023, 0x3FFFFF));
    // Bits beyond 22 of the block number do not leak into the file number.
    EXPECT_EQ(makeRdba(4, 5), makeRdba(4, 0x400005));
    EXPECT_EQ(16777221u, makeBigfileRdba(16777221u));
}
