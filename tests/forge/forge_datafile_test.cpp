// File headers, datafiles, configuration files and the damage helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;
using forgetest::be16;
using forgetest::be32;
using forgetest::le16;
using forgetest::le32;

namespace {

uint32_t read32(const uint8_t *p, ByteOrder order) { return order == kBigEndian ? be32(p) : le32(p); }
uint16_t read16(const uint8_t *p, ByteOrder order) { return order == kBigEndian ? be16(p) : le16(p); }

void fillHeader(FileHeader *h, uint8_t format) {
    initFileHeader(h);
    h->cache.format = format;
    h->cache.rdba = makeRdba(4, 1);
    h->softwareVersion = 0x0B200400;
    h->compatibleVersion = 0x0B200000;
    h->dbid = 0x12345678;
    snprintf(h->dbName, sizeof h->dbName, "%s", "ORCL");
    h->controlSeq = 0x77;
    h->blockCount = 12800;
    h->blockSize = 8192;
    h->fileNumber = 7;
    h->fileType = 3;
    h->bootstrapRdba = 0x00400208;
    h->fuzzy = 0x0041;
    h->tsNumber = 4;
    snprintf(h->tsName, sizeof h->tsName, "%s", "USERS1");
}

}  // namespace

TEST(ForgeFileHeader, FieldsLandAtTheirOffsetsInBothLayoutsAndOrders) {
    const uint8_t formats[] = {kFormat02, kFormatA2, kFormatC2};
    const ByteOrder orders[] = {kLittleEndian, kBigEndian};
    for (uint8_t format : formats) {
        for (ByteOrder order : orders) {
            Block block;
            ASSERT_TRUE(initBlock(&block, 8192, order));
            FileHeader h;
            fillHeader(&h, format);
            ASSERT_TRUE(putFileHeader(&block, &h));
            sealBlock(&block);
            const uint8_t *b = block.bytes.data();
            SCOPED_TRACE(testing::Message() << "format " << (int)format << " order " << (int)order);
            EXPECT_EQ(11, b[0]);
            EXPECT_EQ(format, b[1]);
            EXPECT_EQ(0x01000001u, read32(b + 4, order));
            EXPECT_EQ(0x0B200400u, read32(b + 20, order));
            EXPECT_EQ(0x0B200000u, read32(b + 24, order));
            EXPECT_EQ(0x12345678u, read32(b + 28, order));
            EXPECT_EQ(0, memcmp(b + 32, "ORCL\0\0\0\0", 8));
            EXPECT_EQ(0x77u, read32(b + 40, order));
            EXPECT_EQ(12800u, read32(b + 44, order));
            EXPECT_EQ(8192u, read32(b + 48, order));
            EXPECT_EQ(7, read16(b + 52, order));
            EXPECT_EQ(3, read16(b + 54, order));
            EXPECT_EQ(0x00400208u, read32(b + 96, order));
            EXPECT_EQ(0x41, b[order == kBigEndian ? 139 : 138]);
            uint32_t ts = format == kFormat02 ? 244 : 332;
            EXPECT_EQ(4u, read32(b + ts, order));
            EXPECT_EQ(6, read16(b + ts + 4, order));
            EXPECT_EQ(0, memcmp(b + ts + 6, "USERS1", 6));
            EXPECT_EQ(0, b[ts + 12]);
            // The other layout's slots stay empty.
            uint32_t other = format == kFormat02 ? 332 : 244;
            EXPECT_EQ(0u, read32(b + other, order));
            EXPECT_EQ(0, read16(b + other + 4, order));
            EXPECT_TRUE(blockVerifies(&block));
        }
    }
}

TEST(ForgeFileHeader, BlockSizeLowBitsAreWhereAReaderOfTheLowHalfLooks) {
    // A reader takes the low 16 bits of the block size from bytes 48-49
    // (little-endian) or 50-51 (big-endian).
    Block little, big;
    ASSERT_TRUE(initBlock(&little, 4096, kLittleEndian));
    ASSERT_TRUE(initBlock(&big, 4096, kBigEndian));
    FileHeader h;
    fillHeader(&h, kFormatA2);
    h.blockSize = 4096;
    ASSERT_TRUE(putFileHeader(&little, &h));
    ASSERT_TRUE(putFileHeader(&big, &h));
    EXPECT_EQ(4096, le16(&little.bytes[48]));
    EXPECT_EQ(4096, be16(&big.bytes[50]));
}

TEST(ForgeFileHeader, NameLengthCanBeForcedForBadHeaders) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 8192, kLittleEndian));
    FileHeader h;
    fillHeader(&h, kFormatA2);
    h.tsNameLength = 31;
    ASSERT_TRUE(putFileHeader(&block, &h));
    EXPECT_EQ(31, le16(&block.bytes[336]));
    EXPECT_EQ(0, memcmp(&block.bytes[338], "USERS1", 6));
}

TEST(ForgeFileHeader, UnknownFormatHasNoLayout) {
    Block block;
    ASSERT_TRUE(initBlock(&block, 8192, kLittleEndian));
    FileHeader h;
    fillHeader(&h, 0x06);
    EXPECT_FALSE(putFileHeader(&block, &h));
    EXPECT_EQ(0u, tablespaceOffset(0x06));
}

TEST(ForgeDatafile, BlockNLiesAtNTimesBlockSizePlusHeader) {
    std::string dir = forgetest::makeScratchDir();
    ASSERT_FALSE(dir.empty());
    const uint32_t headerSizes[] = {0, 4096, 8192 + 512};
    for (uint32_t headerSize : headerSizes) {
        DatafileLayout layout;
        std::string path = dir + "/raw" + std::to_string(headerSize) + ".dbf";
        initDatafileLayout(&layout, path.c_str(), 4, 20, 8192, kLittleEndian);
        layout.headerSize = headerSize;
        PlacedBlock placed[2];
        for (int i = 0; i < 2; i++) {
            placed[i].blockNo = i == 0 ? 5 : 19;
            initBlock(&placed[i].block, 8192, kLittleEndian);
            CacheHeader h;
            initCacheHeader(&h, 6, blockRdba(&layout, placed[i].blockNo));
            putCacheHeader(&placed[i].block, &h);
            putU32(&placed[i].block, 100, 0xC0FFEE00u + placed[i].blockNo);
            sealBlock(&placed[i].block);
        }
        char error[256] = "";
        ASSERT_TRUE(writeDatafile(&layout, placed, 2, error, sizeof error)) << error;
        std::vector<uint8_t> file = forgetest::readWholeFile(path);
        ASSERT_EQ((size_t)headerSize + 20 * 8192, file.size());
        for (uint32_t blockNo : {5u, 19u}) {
            const uint8_t *b = &file[headerSize + (size_t)blockNo * 8192];
            EXPECT_EQ(6, b[0]);
            EXPECT_EQ(makeRdba(4, blockNo), le32(b + 4));
            EXPECT_EQ(0xC0FFEE00u + blockNo, le32(b + 100));
            EXPECT_EQ(0, foldChecksum(b, 8192));
        }
        // Block 1 is the file header, block 0 the OS block, the rest zeros.
        const uint8_t *header = &file[headerSize + 8192];
        EXPECT_EQ(11, header[0]);
        EXPECT_EQ(makeRdba(4, 1), le32(header + 4));
        EXPECT_EQ(19u, le32(header + 44));  // blocks after the OS block
        EXPECT_EQ(8192u, le32(header + 48));
        EXPECT_EQ(4, le16(header + 52));
        EXPECT_EQ(0, foldChecksum(header, 8192));
        EXPECT_EQ(0, file[headerSize]);         // OS block type
        EXPECT_EQ(0xA2, file[headerSize + 1]);  // and format
        for (size_t i = 0; i < headerSize; i++) ASSERT_EQ(0, file[i]) << i;
        const uint8_t *empty = &file[headerSize + 7 * 8192];
        for (size_t i = 0; i < 8192; i++) ASSERT_EQ(0, empty[i]);
    }
    forgetest::removeScratchDir(dir);
}

TEST(ForgeDatafile, BigfileBlocksCarryTheirBlockNumberAsRdba) {
    std::string dir = forgetest::makeScratchDir();
    ASSERT_FALSE(dir.empty());
    std::string path = dir + "/big.dbf";
    DatafileLayout layout;
    initDatafileLayout(&layout, path.c_str(), 7, 0x400010, 2048, kBigEndian);
    layout.bigfile = true;
    syncFileHeader(&layout);
    EXPECT_EQ(1u, layout.header.cache.rdba);
    // Past 2^22 blocks the block number runs into what would be file bits.
    uint32_t high = 0x400005;
    EXPECT_EQ(0x400005u, blockRdba(&layout, high));
    DatafileWriter writer;
    char error[256] = "";
    ASSERT_TRUE(openDatafileWriter(&writer, &layout, error, sizeof error)) << error;
    Block block;
    initBlock(&block, 2048, kBigEndian);
    CacheHeader h;
    initCacheHeader(&h, 6, blockRdba(&layout, high));
    putCacheHeader(&block, &h);
    sealBlock(&block);
    ASSERT_TRUE(writeBlockAt(&writer, high, &block, error, sizeof error)) << error;
    ASSERT_TRUE(closeDatafileWriter(&writer, error, sizeof error)) << error;
    FILE *in = fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, in);
    uint8_t bytes[2048];
    ASSERT_EQ(0, fseeko(in, (off_t)high * 2048, SEEK_SET));
    ASSERT_EQ(sizeof bytes, fread(bytes, 1, sizeof bytes, in));
    EXPECT_EQ(0x00400005u, be32(bytes + 4));
    EXPECT_EQ(0, foldChecksum(bytes, sizeof bytes));
    ASSERT_EQ(0, fseeko(in, 2048, SEEK_SET));
    ASSERT_EQ(sizeof bytes, fread(bytes, 1, sizeof bytes, in));
    EXPECT_EQ(11, bytes[0]);
    EXPECT_EQ(1u, be32(bytes + 4));  // file header: relative file 0, block 1
    fclose(in);
    forgetest::removeScratchDir(dir);
}

TEST(ForgeDatafile, WriterRefusesBlocksBeyondTheFileOrOfTheWrongSize) {
    std::string dir = forgetest::makeScratchDir();
    ASSERT_FALSE(dir.empty());
    std::string path = dir + "/small.dbf";
    DatafileLayout layout;
    initDatafileLayout(&layout, path.c_str(), 1, 10, 8192, kLittleEndian);
    DatafileWriter writer;
    char error[256] = "";
    ASSERT_TRUE(openDatafileWriter(&writer, &layout, error, sizeof error)) << error;
    Block block;
    initBlock(&block, 8192, kLittleEndian);
    EXPECT_FALSE(writeBlockAt(&writer, 10, &block, error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "beyond"));
    Block other;
    initBlock(&other, 4096, kLittleEndian);
    EXPECT_FALSE(writeBlockAt(&writer, 3, &other, error, sizeof error));
    EXPECT_TRUE(writeBlockAt(&writer, 9, &block, error, sizeof error));
    ASSERT_TRUE(closeDatafileWriter(&writer, error, sizeof error));
    EXPECT_EQ(10u * 8192, forgetest::readWholeFile(path).size());
    forgetest::removeScratchDir(dir);
}

TEST(ForgeDatafile, ConfigurationListsPathThenHeaderSizeWhenNotZero) {
    std::string dir = forgetest::makeScratchDir();
    ASSERT_FALSE(dir.empty());
    DatafileLayout a, b;
    initDatafileLayout(&a, "/data/system01.dbf", 1, 10, 8192, kLittleEndian);
    initDatafileLayout(&b, "/dev/raw/raw1", 2, 10, 8192, kLittleEndian);
    b.headerSize = 4096;
    const DatafileLayout *files[] = {&a, &b};
    std::string path = dir + "/set.cfg";
    char error[256] = "";
    ASSERT_TRUE(writeConfigForFiles(path.c_str(), files, 2, error, sizeof error)) << error;
    EXPECT_EQ("/data/system01.dbf\n/dev/raw/raw1 4096\n", forgetest::readText(path));
    forgetest::removeScratchDir(dir);
}

TEST(ForgeDamage, HelpersSpoilExactlyWhatTheyAreAskedTo) {
    std::string dir = forgetest::makeScratchDir();
    ASSERT_FALSE(dir.empty());
    std::string path = dir + "/d.dbf";
    DatafileLayout layout;
    initDatafileLayout(&layout, path.c_str(), 3, 8, 2048, kLittleEndian);
    layout.headerSize = 512;
    PlacedBlock placed;
    placed.blockNo = 4;
    initBlock(&placed.block, 2048, kLittleEndian);
    CacheHeader h;
    initCacheHeader(&h, 6, blockRdba(&layout, 4));
    putCacheHeader(&placed.block, &h);
    putFill(&placed.block, 200, 100, 0x5A);
    sealBlock(&placed.block);
    char error[256] = "";
    ASSERT_TRUE(writeDatafile(&layout, &placed, 1, error, sizeof error)) << error;
    uint64_t at = blockOffset(&layout, 4);
    EXPECT_EQ(512u + 4 * 2048, at);

    std::vector<uint8_t> before = forgetest::readWholeFile(path);
    ASSERT_TRUE(flipFileBit(path.c_str(), at + 250, 2, error, sizeof error)) << error;
    std::vector<uint8_t> after = forgetest::readWholeFile(path);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < after.size(); i++) {
        if (i != at + 250) {
            ASSERT_EQ(before[i], after[i]) << i;
        }
    }
    EXPECT_EQ(0x5A ^ 0x04, after[at + 250]);
    EXPECT_NE(0, foldChecksum(&after[at], 2048));

    ASSERT_TRUE(resealFileBlock(path.c_str(), at, 2048, error, sizeof error)) << error;
    after = forgetest::readWholeFile(path);
    EXPECT_EQ(0, foldChecksum(&after[at], 2048));
    EXPECT_EQ(0x5A ^ 0x04, after[at + 250]);  // the change stays, only the sum moved

    ASSERT_TRUE(flipFileByte(path.c_str(), at + 201, error, sizeof error)) << error;
    ASSERT_TRUE(zeroFileRange(path.c_str(), at + 210, 5, error, sizeof error)) << error;
    const uint8_t patch[] = {0xDE, 0xAD};
    ASSERT_TRUE(overwriteFileRange(path.c_str(), at + 220, patch, 2, error, sizeof error)) << error;
    after = forgetest::readWholeFile(path);
    EXPECT_EQ(0xA5, after[at + 201]);
    EXPECT_EQ(0x5A, after[at + 209]);
    for (int i = 210; i < 215; i++) EXPECT_EQ(0, after[at + i]);
    EXPECT_EQ(0x5A, after[at + 215]);
    EXPECT_EQ(0xDE, after[at + 220]);
    EXPECT_EQ(0xAD, after[at + 221]);

    ASSERT_TRUE(truncateFile(path.c_str(), at + 1000, error, sizeof error)) << error;
    EXPECT_EQ(at + 1000, forgetest::readWholeFile(path).size());
    EXPECT_FALSE(flipFileByte(path.c_str(), at + 5000, error, sizeof error));
    EXPECT_FALSE(resealFileBlock(path.c_str(), at, 2048, error, sizeof error));
    EXPECT_FALSE(flipFileBit((dir + "/missing").c_str(), 0, 0, error, sizeof error));
    forgetest::removeScratchDir(dir);
}
