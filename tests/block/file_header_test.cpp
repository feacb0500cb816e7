// The datafile header accessors and its one-line summary, on headers the
// forge writes in every format and both byte orders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "block/block.h"
#include "dump_test_util.h"

using namespace testblock;
using dumptest::capture;
using dumptest::contextFor;

namespace {

forge::FileHeader sampleHeader(uint8_t format)
{
    forge::FileHeader h;
    forge::initFileHeader(&h);
    h.cache.format = format;
    h.cache.rdba = forge::makeRdba(4, 1);
    h.softwareVersion = 0x0b200300;
    h.compatibleVersion = 0x0b200000;
    h.dbid = 0x8a3b1c2d;
    snprintf(h.dbName, sizeof h.dbName, "%s", "PRODDB");
    h.controlSeq = 77;
    h.blockCount = 12800;
    h.blockSize = 8192;
    h.fileNumber = 5;
    h.fileType = 3;
    h.bootstrapRdba = 0x00400179;
    h.tsNumber = 4;
    snprintf(h.tsName, sizeof h.tsName, "%s", "USERS1");
    return h;
}

forge::Block headerBlock(const forge::FileHeader &h, uint8_t order)
{
    forge::Block block;
    forge::initBlock(&block, 8192, (forge::ByteOrder)order);
    forge::putFileHeader(&block, &h);
    forge::sealBlock(&block);
    return block;
}

std::string summary(UnloadContext *ctx)
{
    return capture([](FILE *s, UnloadContext *c) { printFileHeader(s, c); }, ctx);
}

}  // namespace

TEST(FileHeader, AccessorsReadEveryFieldInBothByteOrders)
{
    for (uint8_t order : {kLittle, kBig}) {
        for (uint8_t format : {0xA2, 0xC2, 0x02}) {
            SCOPED_TRACE(::testing::Message() << "order " << (int)order << " format " << (int)format);
            forge::Block block = headerBlock(sampleHeader(format), order);
            auto ctx = contextFor(block);
            EXPECT_EQ(getSoftwareVersion(ctx.get()), 0x0b200300u);
            EXPECT_EQ(getCompatibleVersion(ctx.get()), 0x0b200000u);
            EXPECT_EQ(getDBID(ctx.get()), 0x8a3b1c2du);
            EXPECT_EQ(getControlSeq(ctx.get()), 77u);
            EXPECT_EQ(getBlockCount(ctx.get()), 12800u);
            EXPECT_EQ(getDBBlockSize(ctx.get()), 8192u);
            EXPECT_EQ(getFileNumber(ctx.get()), 5);
            EXPECT_EQ(getFileType(ctx.get()), 3);
            EXPECT_EQ(getBootstrapRDBA(ctx.get()), 0x00400179u);
            EXPECT_EQ(getTablespaceID(ctx.get()), 4u);
            char *db = getDatabaseName(ctx.get());
            ASSERT_NE(db, nullptr);
            EXPECT_STREQ(db, "PRODDB");
            free(db);
            char *ts = getTablespaceName(ctx.get());
            ASSERT_NE(ts, nullptr);
            EXPECT_STREQ(ts, "USERS1");
            free(ts);
        }
    }
}

TEST(FileHeader, SummaryLineWithNameLengthSixAndFuzzyA41)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::FileHeader h = sampleHeader(0xA2);
        h.fuzzy = 0x0041;
        forge::Block block = headerBlock(h, order);
        auto ctx = contextFor(block);
        EXPECT_EQ(summary(ctx.get()),
                  "DBID=0x8a3b1c2d=2319129645,db=PRODDB,ts#=4,ts=USERS1,file#=5,blksiz=8192,blks=12800,"
                  "ver=0x0b200000,fzy=A--H, bs=4194681\n");
    }
}

TEST(FileHeader, FuzzyFlagsComeFromTheLowByteOfTheStatus)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::FileHeader h = sampleHeader(0xA2);
        // The high byte holds flags the summary does not show.
        h.fuzzy = 0x5515;
        forge::Block block = headerBlock(h, order);
        auto ctx = contextFor(block);
        EXPECT_NE(summary(ctx.get()).find(",fzy=-ROH, bs="), std::string::npos);
    }
}

TEST(FileHeader, NameLengthThirtyOneAndZeroShowNull)
{
    for (int length : {31, 0}) {
        forge::FileHeader h = sampleHeader(0xA2);
        h.tsNameLength = length;
        forge::Block block = headerBlock(h, kLittle);
        // Text past the 30 characters the name field can hold.
        forge::putBytes(&block, 338, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE", 31);
        auto ctx = contextFor(block);
        EXPECT_EQ(getTablespaceName(ctx.get()), nullptr);
        EXPECT_NE(summary(ctx.get()).find(",ts=(null),"), std::string::npos);
    }
    forge::FileHeader h = sampleHeader(0xA2);
    snprintf(h.tsName, sizeof h.tsName, "%s", "ABCDEFGHIJKLMNOPQRSTUVWXYZABCD");
    forge::Block block = headerBlock(h, kBig);
    auto ctx = contextFor(block);
    EXPECT_NE(summary(ctx.get()).find(",ts=ABCDEFGHIJKLMNOPQRSTUVWXYZABCD,"), std::string::npos);
}

TEST(FileHeader, BigEndianNameLengthIsHighByteFirst)
{
    forge::FileHeader h = sampleHeader(0xA2);
    forge::Block block = headerBlock(h, kBig);
    EXPECT_EQ(block.bytes[336], 0);
    EXPECT_EQ(block.bytes[337], 6);
    auto ctx = contextFor(block);
    char *ts = getTablespaceName(ctx.get());
    ASSERT_NE(ts, nullptr);
    EXPECT_STREQ(ts, "USERS1");
    free(ts);
    // Read little-endian, the same bytes say 0x0600: no name.
    ctx->byteOrder = kLittle;
    EXPECT_EQ(getTablespaceName(ctx.get()), nullptr);
}

TEST(FileHeader, EightCharacterDatabaseNameIsTerminatedInTheCopy)
{
    forge::FileHeader h = sampleHeader(0x02);
    snprintf(h.dbName, sizeof h.dbName, "%s", "ABCDEFGH");
    forge::Block block = headerBlock(h, kLittle);
    auto ctx = contextFor(block);
    char *db = getDatabaseName(ctx.get());
    ASSERT_NE(db, nullptr);
    EXPECT_STREQ(db, "ABCDEFGH");
    free(db);
    EXPECT_NE(summary(ctx.get()).find(",db=ABCDEFGH,ts#=4,ts=USERS1,"), std::string::npos);
}

TEST(FileHeader, UnknownFormatReadsTheTablespaceAtTheBlockStart)
{
    forge::FileHeader h = sampleHeader(0xA2);
    forge::Block block = headerBlock(h, kLittle);
    block.bytes[1] = 0x7F;
    auto ctx = contextFor(block);
    // Offsets 0..3 hold the type and format bytes and two zero bytes; 0x7F0B
    // is no name length.
    EXPECT_EQ(getTablespaceID(ctx.get()), 0x7F0Bu);
    EXPECT_EQ(getTablespaceName(ctx.get()), nullptr);
}

TEST(FileHeader, UnusableByteOrderReadsMultiByteFieldsAsZero)
{
    forge::Block block = headerBlock(sampleHeader(0xA2), kLittle);
    auto ctx = contextFor(block);
    ctx->byteOrder = 7;
    EXPECT_EQ(getDBID(ctx.get()), 0u);
    EXPECT_EQ(getTablespaceName(ctx.get()), nullptr);
    EXPECT_EQ(summary(ctx.get()),
              "DBID=0x00000000=0,db=PRODDB,ts#=0,ts=(null),file#=0,blksiz=0,blks=0,ver=0x00000000,fzy=----, bs=0\n");
}
