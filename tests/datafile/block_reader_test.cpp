// The block reader: window hits and refills, the end of a file, header
// sizes, BIGFILE addressing and RDBA splitting.
#include <gtest/gtest.h>

#include <string>

#include "datafile_test_env.h"

namespace {

class BlockReader : public ::testing::Test {
protected:
    void SetUp() override { setUpDatafileEnv(&env); }
    void TearDown() override { tearDownDatafileEnv(&env); }

    // A file whose blocks 2.. carry their own RDBA.
    std::string makeFile(const char *name, uint16_t rfn, uint32_t blocks, uint32_t headerSize = 0,
                         bool bigfile = false)
    {
        forge::DatafileLayout layout;
        std::string path = env.dir + "/" + name;
        forge::initDatafileLayout(&layout, path.c_str(), rfn, blocks, 8192, forge::kLittleEndian);
        layout.headerSize = headerSize;
        layout.bigfile = bigfile;
        forge::syncFileHeader(&layout);
        EXPECT_TRUE(writeTestDatafile(&layout, true));
        return path;
    }

    void open(const std::string &config) { openConfigText(&env, config); }

    uint32_t blockRdba() const { return peekBlockRDBA(env.ctx->block, env.ctx->blockSize, 0); }
    uint32_t blockMarker() const { return peekBlockU32(env.ctx->block, env.ctx->blockSize, 24, 0); }

    void expectWindow(uint16_t file, uint32_t first, uint16_t count)
    {
        EXPECT_EQ(file, env.dataWindow->file);
        EXPECT_EQ(first, env.dataWindow->first);
        EXPECT_EQ(count, env.dataWindow->count);
    }

    DatafileTestEnv env;
};

}  // namespace

TEST_F(BlockReader, ConsecutiveBlocksComeFromOneFill)
{
    std::string a = makeFile("a.dbf", 4, 100, 0);
    open(a + "\n");
    uint64_t before = g_positionedReads.calls;
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 10));
    EXPECT_EQ(before + 1, g_positionedReads.calls);
    EXPECT_EQ(10u * 8192, g_positionedReads.lastOffset);
    EXPECT_EQ(262144u, g_positionedReads.lastLength);
    expectWindow(4, 10, 32);
    EXPECT_EQ(forge::makeRdba(4, 10), blockRdba());

    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 11));
    EXPECT_EQ(before + 1, g_positionedReads.calls);
    EXPECT_EQ(forge::makeRdba(4, 11), blockRdba());
    EXPECT_EQ(0xC0DE0000u + 11, blockMarker());
}

TEST_F(BlockReader, LastBlockOfTheWindowIsAHitTheNextRefills)
{
    std::string a = makeFile("a.dbf", 4, 100);
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 0));
    expectWindow(4, 0, 32);
    uint64_t before = g_positionedReads.calls;
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 31));
    EXPECT_EQ(before, g_positionedReads.calls);
    EXPECT_EQ(forge::makeRdba(4, 31), blockRdba());
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 32));
    EXPECT_EQ(before + 1, g_positionedReads.calls);
    expectWindow(4, 32, 32);
    EXPECT_EQ(forge::makeRdba(4, 32), blockRdba());
}

TEST_F(BlockReader, BackwardsStepRefills)
{
    std::string a = makeFile("a.dbf", 4, 100);
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 50));
    uint64_t before = g_positionedReads.calls;
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 49));
    EXPECT_EQ(before + 1, g_positionedReads.calls);
    expectWindow(4, 49, 32);
}

TEST_F(BlockReader, EndOfFileShowsAsAShortFillThenZero)
{
    std::string a = makeFile("a.dbf", 4, 20);
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 15));
    expectWindow(4, 15, 5);   // short fill: blocks 15..19
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 19));
    EXPECT_EQ(forge::makeRdba(4, 19), blockRdba());
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 4, 20));
    expectWindow(0, 0, 0);
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 4, 5000));
    expectWindow(0, 0, 0);
}

TEST_F(BlockReader, PartialLastBlockIsNotABlock)
{
    std::string a = makeFile("a.dbf", 4, 20);
    char error[256];
    ASSERT_TRUE(forge::truncateFile(a.c_str(), 19 * 8192 + 100, error, sizeof error)) << error;
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 18));
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 4, 19));   // only 100 bytes of it
    emptyReadAheadWindow(env.dataWindow);
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 4, 19));   // a fill of under one block
}

TEST_F(BlockReader, HeaderSizeIsAddedToEveryOffset)
{
    std::string a = makeFile("raw.img", 6, 80, 4096);
    open(a + " 4096\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 6, 40));
    EXPECT_EQ(40u * 8192 + 4096, g_positionedReads.lastOffset);
    EXPECT_EQ(forge::makeRdba(6, 40), blockRdba());
}

TEST_F(BlockReader, RdbaSplitsIntoFileAndBlock)
{
    std::string a = makeFile("a.dbf", 4, 10);
    open(a + "\n");
    ASSERT_EQ(8192, readRDBA(env.set, env.ctx, 0x01000005));
    EXPECT_EQ(0x01000005u, blockRdba());
    expectWindow(4, 5, 5);
    ASSERT_EQ(8192, readSingleRDBA(env.set, env.ctx, 0x01000007));
    EXPECT_EQ(0x01000007u, blockRdba());
}

TEST_F(BlockReader, BigfileRdbaIsOneBlockNumberOfFileZero)
{
    // 16,777,222 blocks of 8 KB: a sparse file of 128 GB holding block 16,777,221.
    forge::DatafileLayout layout;
    std::string path = env.dir + "/big.dbf";
    forge::initDatafileLayout(&layout, path.c_str(), 0, 16777222, 8192, forge::kLittleEndian);
    layout.bigfile = true;
    forge::syncFileHeader(&layout);
    forge::PlacedBlock placed;
    placed.blockNo = 16777221;
    placed.block = markedBlock(&layout, 16777221);
    char error[256];
    ASSERT_TRUE(forge::writeDatafile(&layout, &placed, 1, error, sizeof error)) << error;
    env.ctx->bigfile = 1;
    open(path + "\n");
    ASSERT_EQ(0, getFileIndex(env.set, 0));
    EXPECT_EQ(16777221u, env.set->blocks[0]);

    ASSERT_EQ(8192, readRDBA(env.set, env.ctx, 0x01000005));
    EXPECT_EQ(16777221ull * 8192, g_positionedReads.lastOffset);
    EXPECT_EQ(16777221u, blockRdba());
    EXPECT_EQ(0xC0DE0000u + 16777221u, blockMarker());
    expectWindow(0, 16777221, 1);

    // Without BIGFILE the same address names file 4, which is not registered.
    env.ctx->bigfile = 0;
    EXPECT_EQ(0, readRDBA(env.set, env.ctx, 0x01000005));
}

TEST_F(BlockReader, UnknownFileReadsNothingAndClearsTheLastHit)
{
    std::string a = makeFile("a.dbf", 4, 10);
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 3));
    ASSERT_NE(nullptr, env.set->lastHit);
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 5, 3));
    EXPECT_EQ(nullptr, env.set->lastHit);
    EXPECT_EQ(0, readSingleBlock(env.set, env.ctx, 5, 3));
}

TEST_F(BlockReader, RegisteredButUnopenedFileEmptiesTheWindow)
{
    std::string a = makeFile("a.dbf", 4, 10);
    open(a + "\n" + env.dir + "/gone.dbf\n");   // position 1, rfn 2, not open
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 3));
    expectWindow(4, 3, 7);
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 2, 3));
    expectWindow(0, 0, 0);
    EXPECT_EQ(0, readDirect(env.set, env.ctx, 1, 3));
}

TEST_F(BlockReader, ReadsAcrossFilesRefill)
{
    std::string a = makeFile("a.dbf", 4, 40);
    std::string b = makeFile("b.dbf", 9, 40);
    open(a + "\n" + b + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 2));
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 9, 2));
    expectWindow(9, 2, 32);
    EXPECT_EQ(forge::makeRdba(9, 2), blockRdba());
    uint64_t before = g_positionedReads.calls;
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 3));
    EXPECT_EQ(before + 1, g_positionedReads.calls);
    EXPECT_EQ(forge::makeRdba(4, 3), blockRdba());
}

TEST_F(BlockReader, SingleBlockReadLeavesTheWindowAlone)
{
    std::string a = makeFile("a.dbf", 4, 100);
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 10));
    uint64_t before = g_positionedReads.calls;
    ASSERT_EQ(8192, readSingleBlock(env.set, env.ctx, 4, 20));   // held: no read
    EXPECT_EQ(before, g_positionedReads.calls);
    EXPECT_EQ(forge::makeRdba(4, 20), blockRdba());
    ASSERT_EQ(8192, readSingleBlock(env.set, env.ctx, 4, 60));   // not held: one block
    EXPECT_EQ(before + 1, g_positionedReads.calls);
    EXPECT_EQ(8192u, g_positionedReads.lastLength);
    EXPECT_EQ(60u * 8192, g_positionedReads.lastOffset);
    EXPECT_EQ(forge::makeRdba(4, 60), blockRdba());
    expectWindow(4, 10, 32);
    EXPECT_EQ(0, readSingleBlock(env.set, env.ctx, 4, 100));   // past the end
    expectWindow(4, 10, 32);
}

TEST_F(BlockReader, DirectReadNeedsNoIndex)
{
    std::string a = makeFile("a.dbf", 4, 10, 2048);
    std::string path = env.dir + "/d.cfg";
    writeTextFile(path, a + " 2048\n");
    FILE *config = fopen(path.c_str(), "r");
    loadConfig(env.set, config);
    fclose(config);
    openDBFile(env.set, nullptr);
    EXPECT_EQ(0, readBlock(env.set, env.ctx, 4, 5));   // no CHECK yet: nothing indexed
    ASSERT_EQ(8192, readDirect(env.set, env.ctx, 0, 5));
    EXPECT_EQ(forge::makeRdba(4, 5), blockRdba());
    EXPECT_EQ(5u * 8192 + 2048, g_positionedReads.lastOffset);
    EXPECT_EQ(0, readDirect(env.set, env.ctx, 1, 5));
}

TEST_F(BlockReader, SmallerWindowHoldsFewerBlocks)
{
    freeTestWindow(env.dataWindow);
    env.dataWindow = newTestWindow(65536);
    env.ctx->dataWindow = env.dataWindow;
    std::string a = makeFile("a.dbf", 4, 100);
    open(a + "\n");
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 10));
    expectWindow(4, 10, 8);
    EXPECT_EQ(65536u, g_positionedReads.lastLength);
}

TEST_F(BlockReader, OtherBlockSizes)
{
    for (uint32_t size : {2048u, 4096u, 16384u, 32768u}) {
        setTestBlockSize(&env, static_cast<uint16_t>(size));
        forge::DatafileLayout layout;
        std::string path = env.dir + "/s" + std::to_string(size) + ".dbf";
        forge::initDatafileLayout(&layout, path.c_str(), 3, 64, size, forge::kLittleEndian);
        ASSERT_TRUE(writeTestDatafile(&layout, true));
        open(path + "\n");
        EXPECT_EQ(size, env.set->bsize[0]);
        ASSERT_EQ(static_cast<int>(size), readBlock(env.set, env.ctx, 3, 7)) << size;
        EXPECT_EQ(forge::makeRdba(3, 7), blockRdba());
        uint32_t held = 262144 / size < 57 ? 262144 / size : 57;   // the file ends at block 63
        expectWindow(3, 7, static_cast<uint16_t>(held));
    }
}

TEST_F(BlockReader, LobWindowRunsTheSameAlgorithm)
{
    std::string a = makeFile("a.dbf", 4, 100);
    open(a + "\n");
    ASSERT_EQ(8192, readBlockThroughWindow(env.set, env.ctx, env.lobWindow, 4, 12));
    EXPECT_EQ(4, env.lobWindow->file);
    EXPECT_EQ(12u, env.lobWindow->first);
    EXPECT_EQ(32, env.lobWindow->count);
    expectWindow(0, 0, 0);   // the data-block window is untouched
}

TEST_F(BlockReader, CopyBlockOwnsItsBufferAndSharesTheRest)
{
    std::string a = makeFile("a.dbf", 4, 40);
    open(a + "\n");
    env.ctx->byteOrder = 0;
    env.ctx->columnTypes[3] = 96;
    env.ctx->fieldTagLength = 1;
    env.ctx->fieldTag[0] = '|';
    ASSERT_EQ(8192, readBlock(env.set, env.ctx, 4, 8));
    UnloadContext *copy = static_cast<UnloadContext *>(calloc(1, sizeof(UnloadContext)));
    ASSERT_EQ(1, copyBlock(env.ctx, copy));
    EXPECT_NE(env.ctx->block, copy->block);
    EXPECT_EQ(0, memcmp(env.ctx->block, copy->block, 8192));
    EXPECT_EQ(env.ctx->dataWindow, copy->dataWindow);
    EXPECT_EQ(env.ctx->corruptList, copy->corruptList);
    EXPECT_EQ(env.ctx->datafiles, copy->datafiles);
    EXPECT_EQ(96, copy->columnTypes[3]);
    EXPECT_EQ('|', copy->fieldTag[0]);
    ASSERT_EQ(8192, readBlock(copy->datafiles, copy, 4, 20));
    EXPECT_EQ(forge::makeRdba(4, 8), blockRdba());   // the original still holds its block
    free(copy->block);
    free(copy);
}

TEST_F(BlockReader, RealOracleBlockIsFoundByItsRdbaAndVerifies)
{
    // Block 3126 of relative file 12, written by Oracle 19c.
    std::string fixture = std::string(ZOR_SOURCE_DIR) + "/../shared/fixtures/oracle/heap-1row-char-19c-x64/block.bin";
    FILE *f = fopen(fixture.c_str(), "rb");
    if (f == nullptr)
        GTEST_SKIP() << "the shared Oracle fixtures are not beside this checkout";
    forge::PlacedBlock placed;
    placed.blockNo = 3126;
    placed.block.size = 8192;
    placed.block.order = forge::kLittleEndian;
    placed.block.bytes.assign(8192, 0);
    size_t got = fread(placed.block.bytes.data(), 1, 8192, f);
    fclose(f);
    ASSERT_EQ(8192u, got);

    forge::DatafileLayout layout;
    std::string path = env.dir + "/users12.dbf";
    forge::initDatafileLayout(&layout, path.c_str(), 12, 3200, 8192, forge::kLittleEndian);
    char error[256];
    ASSERT_TRUE(forge::writeDatafile(&layout, &placed, 1, error, sizeof error)) << error;
    open(path + "\n");
    ASSERT_EQ(8192, readRDBA(env.set, env.ctx, 0x03000c36));
    EXPECT_EQ(0, memcmp(placed.block.bytes.data(), env.ctx->block, 8192));
    env.ctx->blockCheck = 1;
    EXPECT_EQ(0, matchBlockTail(env.ctx));
    addRDBAToList(env.corrupt, 0x03000c36);
    EXPECT_EQ(1, matchBlockTail(env.ctx));
}
