// The datafile registry: configuration lines, opening, the rfn index and the
// CHECK table.
#include <gtest/gtest.h>

#include <string>

#include "datafile_test_env.h"

namespace {

std::string checkLine(char flag, int tsn, int rfn, unsigned ver, int bsize, unsigned blocks, int sizemb,
                      int hsize, const std::string &path)
{
    char line[1200];
    snprintf(line, sizeof line, "%c %4d %4d %02x  %5d %10u %8d %5d %s\n", flag, tsn, rfn, ver, bsize, blocks,
             sizemb, hsize, path.c_str());
    return line;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { setUpDatafileEnv(&env); }
    void TearDown() override { tearDownDatafileEnv(&env); }

    // A datafile of `blocks` blocks (block 0 included) whose header names
    // rfn and tablespace tsn.
    std::string makeFile(const char *name, uint16_t rfn, uint32_t tsn, uint32_t blocks,
                         forge::ByteOrder order = forge::kLittleEndian, uint8_t format = forge::kFormatA2,
                         uint32_t blockSize = 8192, uint32_t headerSize = 0)
    {
        forge::DatafileLayout layout;
        std::string path = env.dir + "/" + name;
        forge::initDatafileLayout(&layout, path.c_str(), rfn, blocks, blockSize, order);
        layout.headerSize = headerSize;
        layout.header.tsNumber = tsn;
        layout.header.cache.format = format;
        EXPECT_TRUE(writeTestDatafile(&layout, false));
        return path;
    }

    uint32_t loadText(const std::string &text)
    {
        std::string path = env.dir + "/load.cfg";
        writeTextFile(path, text);
        FILE *f = fopen(path.c_str(), "r");
        uint32_t n = loadConfig(env.set, f);
        fclose(f);
        return n;
    }

    DatafileTestEnv env;
};

}  // namespace

TEST_F(Registry, CommentBlankAndTabIndentedLines)
{
    uint32_t n = loadText("# datafiles of PROD\n"
                          "\n"
                          "   \t \n"
                          "/u01/system01.dbf\n"
                          "\t/u01/users01.dbf\n"
                          "  # indented comment\n"
                          "/u01/undo#1.dbf\n");
    ASSERT_EQ(3u, n);
    EXPECT_STREQ("/u01/system01.dbf", env.set->path[0]);
    EXPECT_STREQ("/u01/users01.dbf", env.set->path[1]);
    EXPECT_STREQ("/u01/undo#1.dbf", env.set->path[2]);   // "#" inside a path is plain text
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(i + 1, env.set->rfn[i]);
        EXPECT_EQ(0u, env.set->headerSize[i]);
        EXPECT_EQ(0, env.set->tsn[i]);
        EXPECT_EQ(0u, env.set->blocks[i]);
    }
}

TEST_F(Registry, HeaderSizeIsTheSecondToken)
{
    ASSERT_EQ(4u, loadText("/dev/raw1 8192 two more\n/dev/raw2\t4096\n/dev/raw3 abc\n/dev/raw4 12x\n"));
    EXPECT_STREQ("/dev/raw1", env.set->path[0]);
    EXPECT_EQ(8192u, env.set->headerSize[0]);
    EXPECT_EQ(4096u, env.set->headerSize[1]);
    EXPECT_EQ(0u, env.set->headerSize[2]);
    EXPECT_EQ(12u, env.set->headerSize[3]);
}

TEST_F(Registry, LongPathIsCutTo512)
{
    std::string path = "/" + std::string(599, 'p');
    ASSERT_EQ(1u, loadText(path + " 512\n"));
    EXPECT_EQ(path.substr(0, 512), std::string(env.set->path[0]));
    EXPECT_EQ(512u, env.set->headerSize[0]);
}

TEST_F(Registry, LinesLongerThan1023AreReadInPieces)
{
    // 1100 characters of path: the first 1023 make one line, the rest another.
    std::string path = "/" + std::string(1099, 'q');
    ASSERT_EQ(2u, loadText(path + "\n"));
    EXPECT_EQ(path.substr(0, 512), std::string(env.set->path[0]));
    EXPECT_EQ(path.substr(1023), std::string(env.set->path[1]));
}

TEST_F(Registry, LoadingStopsAt1023Positions)
{
    std::string text;
    for (int i = 0; i < 1030; i++)
        text += "/d/f" + std::to_string(i) + "\n";
    ASSERT_EQ(1023u, loadText(text));
    EXPECT_STREQ("/d/f1022", env.set->path[1022]);
}

TEST_F(Registry, AsmPathWithoutDiskGroupStaysWithoutHandleOrRecord)
{
    std::string file = makeFile("a.dbf", 5, 2, 10);
    testing::internal::CaptureStdout();
    loadText("+256\n" + file + "\n");
    EXPECT_TRUE(openDBFile(env.set, nullptr));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(nullptr, env.set->handle[0]);
    EXPECT_EQ(nullptr, env.set->asmFile[0]);
    EXPECT_NE(nullptr, env.set->handle[1]);
}

TEST_F(Registry, CheckTableOfTwoForgeFiles)
{
    std::string a = makeFile("system01.dbf", 1, 0, 200);
    std::string b = makeFile("users01.dbf", 4, 4, 1000, forge::kLittleEndian, forge::kFormat02);
    std::string out = openConfigText(&env, a + "\n" + b + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 0, 1, 0xa2, 8192, 199, 1, 0, a) +
                  checkLine('Y', 4, 4, 0x02, 8192, 999, 7, 0, b),
              out);
    EXPECT_EQ(0, getFileIndex(env.set, 1));
    EXPECT_EQ(1, getFileIndex(env.set, 4));
    EXPECT_EQ(-1, getFileIndex(env.set, 2));
    EXPECT_EQ(nullptr, env.set->lastHit);
    DatafileEntry entry;
    ASSERT_TRUE(getDatafileEntry(env.set, 1, &entry));
    EXPECT_EQ(4, entry.tsn);
    EXPECT_EQ(999u, entry.blocks);
    EXPECT_FALSE(getDatafileEntry(env.set, 2, &entry));
}

TEST_F(Registry, HundredBlockFileHasBlocks99AndSize0)
{
    std::string a = makeFile("small.dbf", 9, 3, 100);
    std::string out = openConfigText(&env, a + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 3, 9, 0xa2, 8192, 99, 0, 0, a), out);
}

TEST_F(Registry, HeaderSizeShiftsEveryBlock)
{
    std::string a = makeFile("raw.img", 6, 5, 300, forge::kLittleEndian, forge::kFormatA2, 8192, 4096);
    std::string out = openConfigText(&env, a + " 4096\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 5, 6, 0xa2, 8192, 299, 2, 4096, a), out);
}

TEST_F(Registry, SameRfnTwiceLaterLineWins)
{
    std::string a = makeFile("first.dbf", 7, 1, 20);
    std::string b = makeFile("second.dbf", 7, 2, 30);
    std::string out = openConfigText(&env, a + "\n" + b + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 1, 7, 0xa2, 8192, 19, 0, 0, a) +
                  checkLine('Y', 2, 7, 0xa2, 8192, 29, 0, 0, b),
              out);
    EXPECT_EQ(1, getFileIndex(env.set, 7));
    ASSERT_NE(nullptr, env.set->lastHit);
    EXPECT_EQ(2, env.set->lastHit->tsn);
    EXPECT_EQ(1, getFileIndex(env.set, 7));   // through the last hit
}

TEST_F(Registry, FileOfZerosKeepsItsLoadedValues)
{
    std::string good = makeFile("good.dbf", 3, 1, 10);
    std::string zeros = env.dir + "/zeros.dbf";
    writeTextFile(zeros, std::string(8192 * 12, '\0'));
    std::string out = openConfigText(&env, good + "\n" + zeros + " 0\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 1, 3, 0xa2, 8192, 9, 0, 0, good) +
                  checkLine('N', 0, 2, 0x00, 0, 0, 0, 0, zeros),
              out);
}

TEST_F(Registry, BigEndianFileWithByteOrderBig)
{
    std::string a = makeFile("aix.dbf", 12, 6, 64, forge::kBigEndian);
    env.ctx->byteOrder = 1;
    std::string out = openConfigText(&env, a + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 6, 12, 0xa2, 8192, 63, 0, 0, a), out);
}

TEST_F(Registry, BigEndianFileReadLittleEndianIsNotItsHeader)
{
    std::string a = makeFile("aix.dbf", 12, 6, 64, forge::kBigEndian);
    std::string out = openConfigText(&env, a + "\n");
    // The header's block size does not match, so the header block is taken
    // as a plain block: ts# 0, the setting's block size, its RDBA's bits as rfn.
    uint32_t swapped = __builtin_bswap32(forge::makeRdba(12, 1));
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 0, int(swapped >> 22), 0xa2, 8192, 63, 0, 0, a), out);
}

TEST_F(Registry, UnopenableFile)
{
    std::string good = makeFile("good.dbf", 3, 1, 10);
    std::string missing = env.dir + "/missing.dbf";
    std::string out = openConfigText(&env, missing + " 512\n" + good + "\n");
    EXPECT_EQ("Cannot open file : " + missing + " \n" + kCheckHeading +
                  checkLine('N', 0, 1, 0x00, 0, 0, 0, 512, missing) + checkLine('Y', 1, 3, 0xa2, 8192, 9, 0, 0, good),
              out);
}

TEST_F(Registry, HeaderWithOtherBlockSizeIsTakenAsPlainBlock)
{
    forge::DatafileLayout layout;
    std::string path = env.dir + "/odd.dbf";
    forge::initDatafileLayout(&layout, path.c_str(), 8, 16, 8192, forge::kLittleEndian);
    layout.header.tsNumber = 9;
    layout.header.blockSize = 4096;   // disagrees with the file's real blocks
    ASSERT_TRUE(writeTestDatafile(&layout, false));
    std::string out = openConfigText(&env, path + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 0, 8, 0xa2, 8192, 15, 0, 0, path), out);
}

TEST_F(Registry, CorruptHeaderMovesCheckToTheNextBlockOfTheFile)
{
    forge::DatafileLayout layout;
    std::string path = env.dir + "/c.dbf";
    forge::initDatafileLayout(&layout, path.c_str(), 8, 16, 8192, forge::kLittleEndian);
    layout.header.tsNumber = 9;
    ASSERT_TRUE(writeTestDatafile(&layout, true));
    addRDBAToList(env.corrupt, forge::makeRdba(8, 1));
    std::string out = openConfigText(&env, path + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 0, 8, 0xa2, 8192, 15, 0, 0, path), out);
}

TEST_F(Registry, BlockCheckSkipsAHeaderWithABadChecksum)
{
    forge::DatafileLayout layout;
    std::string path = env.dir + "/b.dbf";
    forge::initDatafileLayout(&layout, path.c_str(), 8, 16, 8192, forge::kLittleEndian);
    layout.header.tsNumber = 9;
    ASSERT_TRUE(writeTestDatafile(&layout, true));
    char error[256];
    ASSERT_TRUE(forge::flipFileByte(path.c_str(), 8192 + 400, error, sizeof error)) << error;
    std::string out = openConfigText(&env, path + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 9, 8, 0xa2, 8192, 15, 0, 0, path), out);
    env.ctx->blockCheck = 1;
    testing::internal::CaptureStdout();
    checkFileHeader(env.ctx);   // CHECK again: only the values of the accepted block change
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 0, 8, 0xa2, 8192, 15, 0, 0, path), out);
}

TEST_F(Registry, BigfileFileIsRelativeFileZero)
{
    forge::DatafileLayout layout;
    std::string path = env.dir + "/big.dbf";
    forge::initDatafileLayout(&layout, path.c_str(), 1024, 50, 8192, forge::kLittleEndian);
    layout.bigfile = true;
    layout.header.tsNumber = 11;
    forge::syncFileHeader(&layout);
    ASSERT_TRUE(writeTestDatafile(&layout, false));
    env.ctx->bigfile = 1;
    std::string out = openConfigText(&env, path + "\n");
    EXPECT_EQ(std::string(kCheckHeading) + checkLine('Y', 11, 0, 0xa2, 8192, 49, 0, 0, path), out);
    EXPECT_EQ(0, getFileIndex(env.set, 0));
}

TEST_F(Registry, CloseEmptiesTheSet)
{
    std::string a = makeFile("a.dbf", 2, 1, 10);
    openConfigText(&env, a + "\n");
    ASSERT_EQ(0, getFileIndex(env.set, 2));
    closeDBFile(env.set);
    EXPECT_EQ(0u, env.set->count);
    EXPECT_EQ(nullptr, env.set->lastHit);
    EXPECT_EQ(-1, getFileIndex(env.set, 2));
    for (int b = 0; b < kFileIndexBuckets; b++)
        EXPECT_EQ(nullptr, env.set->index[b]);
}

TEST_F(Registry, CheckWithoutDatafileSet)
{
    env.ctx->datafiles = nullptr;
    EXPECT_EQ(0, checkFileHeader(env.ctx));
    env.ctx->datafiles = env.set;
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, checkFileHeader(env.ctx));
    EXPECT_EQ(std::string(kCheckHeading), testing::internal::GetCapturedStdout());
}
