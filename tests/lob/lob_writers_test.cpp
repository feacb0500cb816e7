// The LOB writers on the sample database opened in process: dumpLOBValue's
// framing, and damaged LOB indexes, locators and maps that end a value with
// their message and never the program.
#include <cstring>

#include "lob_test_env.h"
#include "unload/writers/export_dump.h"

namespace {

constexpr uint8_t kCLOB = 112;
constexpr uint8_t kBLOB = 113;
constexpr uint32_t kDocIndexBlock = 480;   // lobs01.dbf, rfn 5
constexpr size_t kDoc = 1, kImg = 3;

class SampleWriters : public ForgedDatabase {
protected:
    void SetUp() override { forge(nullptr); }
    void TearDown() override
    {
        closeDatabase(&db_);
        ForgedDatabase::TearDown();
    }
    void open() { openDatabase(&db_, "zor.cfg"); }
    const std::vector<uint8_t> &locatorOf(size_t row, size_t column)
    {
        return table("LOBS")->rows[row].values[column].bytes;
    }
    const std::string &contentOf(size_t row, size_t column) { return table("LOBS")->rows[row].values[column].text; }
    std::string dump(size_t row, size_t column, uint8_t type, uint32_t file = 0, uint32_t block = 0)
    {
        Captured out;
        const std::vector<uint8_t> &loc = locatorOf(row, column);
        dumpLOBValue(out.stream, db_.ctx, &kDumpElements, loc.data(), (uint32_t)loc.size(), type, file, block,
                     1);
        return out.text();
    }
    // The text writer on a locator placed in the context's block buffer.
    std::string print(const std::vector<uint8_t> &loc, uint8_t type, uint16_t file, uint32_t block)
    {
        memcpy(db_.ctx->block + 100, loc.data(), loc.size());
        Captured out;
        if (type == kBLOB)
            printBLOB(out.stream, db_.ctx, 100, (uint32_t)loc.size(), file, block);
        else
            printCLOB(out.stream, db_.ctx, 100, (uint32_t)loc.size(), file, block);
        return out.text();
    }
    OpenedDatabase db_;
};

std::string element(const std::string &bytes)
{
    std::string e;
    e.push_back((char)(bytes.size() & 0xFF));
    e.push_back((char)(bytes.size() >> 8));
    return e + bytes;
}

const std::string kNull("\xFE\xFF", 2), kChain("\xFD\xFF", 2), kEnd("\0\0", 2);

TEST_F(SampleWriters, DumpInRowAndOutOfRowValues)
{
    open();
    EXPECT_EQ(dump(0, kImg, kBLOB), element("\xDE\xAD\xBE\xEF"));
    // Row 3's BLOB: four pages through the locator's chunk addresses.
    const std::string &img = contentOf(2, kImg);
    std::string want = kChain;
    for (size_t at = 0; at < img.size(); at += 8132)
        want += element(img.substr(at, 8132));
    EXPECT_TRUE(dump(2, kImg, kBLOB) == want + kEnd);
    // Row 4's CLOB has no size header: the LOB index, page 0 entry first.
    const std::string &doc = contentOf(3, kDoc);
    want = kChain;
    for (size_t at = 0; at < doc.size(); at += 8132)
        want += element(doc.substr(at, 8132));
    EXPECT_TRUE(dump(3, kDoc, kCLOB, 5, kDocIndexBlock) == want + kEnd);
}

// Row 4's CLOB has its index entries in two leaves, and the branch
// separator between them is its own LOB id: the walk must start in the left
// leaf, where its page 0 entry is, not in the right one.
TEST_F(SampleWriters, ALobWhoseEntriesSpanLeavesUnderAnEqualSeparatorComesOutWhole)
{
    std::string file = readWhole("lobs01.dbf");
    const uint8_t *root = reinterpret_cast<const uint8_t *>(file.data()) + (size_t)(kDocIndexBlock + 2) * 8192;
    uint32_t h = 44 + 24 * root[36] + (root[38] == 0x32 ? 8 : 0);
    ASSERT_EQ(root[0], 6);
    ASSERT_EQ(root[h], 1);                                     // a branch
    ASSERT_EQ(root[h + 8] | root[h + 9] << 8, 1);               // one separator
    uint32_t row = h + (root[h + 28] | root[h + 29] << 8);
    ASSERT_EQ(root[row + 4], 10);
    const std::vector<uint8_t> &loc = locatorOf(3, kDoc);
    ASSERT_EQ(memcmp(root + row + 5, loc.data() + 10, 10), 0);
    open();
    EXPECT_TRUE(print(loc, kCLOB, 5, kDocIndexBlock) == contentOf(3, kDoc));
}

TEST_F(SampleWriters, DumpNullCases)
{
    open();
    EXPECT_EQ(dump(5, kDoc, kCLOB), kNull);            // empty, in the row
    EXPECT_EQ(dump(3, kDoc, kCLOB), kNull);            // no size header, no map, no index
    std::vector<uint8_t> loc = locatorOf(0, kImg);
    loc[5] &= (uint8_t)~0x08;                          // no content
    Captured out;
    dumpLOBValue(out.stream, db_.ctx, &kDumpElements, loc.data(), (uint32_t)loc.size(), kBLOB, 0, 0, 0);
    EXPECT_EQ(out.text(), kNull);
    db_.ctx->lobStorage = 2;
    EXPECT_EQ(dump(2, kImg, kBLOB), kNull);
}

TEST_F(SampleWriters, ALobFileThatCannotBeCreatedIsReportedAndWrittenInLine)
{
    open();
    ASSERT_EQ(system("rm -rf LOBDATA && touch LOBDATA"), 0);
    db_.ctx->lobStorage = 1;
    testing::internal::CaptureStderr();
    std::string written = print(locatorOf(0, kImg), kBLOB, 0, 0);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "\xDE\xAD\xBE\xEF");
    EXPECT_NE(said.find("Cannot create LOB file LOBDATA/LOB"), std::string::npos);
}

TEST_F(SampleWriters, AMapWithoutTheLobSaysSoWithVerbose)
{
    FILE *map = fopen("ZORDICT/ZORLOB.TXT", "w");
    ASSERT_NE(map, nullptr);
    fputs("73261,0000000100000000ffff,0,1,5,17,\n", map);
    fclose(map);
    open();
    openLobMapForUnload(db_.ctx->lobMap);
    db_.ctx->verbose = 1;
    testing::internal::CaptureStderr();
    std::string written = print(locatorOf(3, kDoc), kCLOB, 5, kDocIndexBlock);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "");   // the map, once open, is the only source
    EXPECT_NE(said.find("is not in the LOB map"), std::string::npos);
    db_.ctx->verbose = 0;
    testing::internal::CaptureStderr();
    print(locatorOf(3, kDoc), kCLOB, 5, kDocIndexBlock);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(SampleWriters, ADamagedIndexRootIsReportedAndNothingWritten)
{
    char error[256];
    // The branch root of DOC's index, two blocks after its segment header.
    ASSERT_TRUE(forge::flipFileByte("lobs01.dbf", (uint64_t)(kDocIndexBlock + 2) * 8192 + 200, error, sizeof error));
    open();
    db_.ctx->blockCheck = 1;
    testing::internal::CaptureStdout();
    std::string written = print(locatorOf(3, kDoc), kCLOB, 5, kDocIndexBlock);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(written, "");
    EXPECT_EQ(said, "Block check failured at RDBA=0x014001e2=20972002\n");
}

TEST_F(SampleWriters, WildLocatorsAndIndexAddressesEndTheValueOnly)
{
    open();
    // Page count of unknown width, chunk addresses into file headers and
    // past every file, an index address that leads nowhere.
    std::vector<uint8_t> loc(48, 0);
    loc[5] = 0x0C;
    loc[26] = 3;
    for (int j = 0; j < 3; j++) {
        uint32_t wild[] = {0xFFFFFFFF, 0x00400001, 0x01400000 | 0x3FFFFF};
        for (int b = 0; b < 4; b++)
            loc[36 + 4 * j + b] = (uint8_t)(wild[j] >> (24 - 8 * b));
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(print(loc, kBLOB, 5, 0x3FFFF0), "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Error read lob index block"), std::string::npos);
    // The same column's good values still come out.
    EXPECT_TRUE(print(locatorOf(2, kImg), kBLOB, 0, 0) == contentOf(2, kImg));
}

TEST_F(SampleWriters, ALastPageLengthPastThePageReadsThePageOnly)
{
    open();
    // Row 2's BLOB is exactly one page; claim 0 whole pages and 65,535 bytes.
    std::vector<uint8_t> loc = locatorOf(1, kImg);
    ASSERT_EQ(loc[22] & 0x01, 0x01);
    loc[24] = loc[25] = loc[26] = loc[27] = 0;
    loc[28] = loc[29] = 0xFF;
    EXPECT_TRUE(print(loc, kBLOB, 0, 0) == contentOf(1, kImg));
}

TEST_F(SampleWriters, AMapOfWildLinesUnloadsTheRestOfTheTable)
{
    FILE *map = fopen("ZORDICT/ZORLOB.TXT", "w");
    ASSERT_NE(map, nullptr);
    fputs("73261,0000000100000000000,1,1,5,17,\n"
          "99999999999,00000001000000001e3c,4294967295,4294967295,99999,4294967295,\n"
          "x,00000001000000001e3d,0,1,5,99999999,\n"
          "1,00000001000000001e3e,0,1,65535,1,\n",
          map);
    fclose(map);
    std::string said = run("SCAN MAP;\nUNLOAD TABLE DICT$;\nUNLOAD TABLE SCOTT.LOBS TO lobs.txt;\n");
    EXPECT_NE(said.find("Sucessfully unload 6 rows"), std::string::npos);
    // In-row values do not need the map.
    EXPECT_EQ(readWhole("lobs.txt").substr(0, 2), "1|");
}

// CHUNK above 1: chunk addresses name CHUNK blocks each; a map line still
// names one block.
const char kChunky[] =
    "blocksize 8192\n"
    "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 128\n"
    "file data01.dbf rfn 3 ts 3 tsname DATA blocks 128\n"
    "user SCOTT id 83 tablespace 3\n"
    "table SCOTT.CHUNKY obj 80000\n"
    "  column ID number(4)\n"
    "  column C  clob\n"
    "  column B  blob\n"
    "segment SCOTT.CHUNKY\n"
    "  extent data01.dbf 8 8\n"
    "  insert values 1 rep:abc:9000 bin:20000\n"
    "  insert values 2 @nosize:rep:xyz:6000 @out:bin:100\n"
    "  insert values 3 @short:rep:QRS:30000 bin:40000\n"
    "lob SCOTT.CHUNKY C objd 80001 index 80002 segment data01.dbf 16 40 indexat data01.dbf 100 8 chunk 2 "
    "type 0x1B locatorchunks 1 leafentries 1\n"
    "lob SCOTT.CHUNKY B objd 80003 index 80004 segment data01.dbf 56 40 indexat data01.dbf 108 8 chunk 2 "
    "locatorchunks 2 firstid 0x5000\n"
    "dictionary system01.dbf from 8\n"
    "config zor.cfg\n";

class ChunkyLobs : public ForgedDatabase {
protected:
    void SetUp() override { forge(kChunky); }
    void expectFiles(const char *unloadFile, bool mapPath)
    {
        std::string text = readWhole(unloadFile);
        const forge::ManifestTable *t = table("CHUNKY");
        ASSERT_NE(t, nullptr);
        size_t at = 0;
        for (const forge::ManifestRow &row : t->rows) {
            size_t end = text.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            std::string line = text.substr(at, end - at);
            at = end + 2;
            size_t bar1 = line.find('|'), bar2 = line.find('|', bar1 + 1);
            std::string files[2] = {line.substr(bar1 + 1, bar2 - bar1 - 1), line.substr(bar2 + 1)};
            for (int c = 0; c < 2; c++) {
                std::string want = row.values[c + 1].text;
                if (mapPath && (row.values[c + 1].lobForm & forge::kLobFormNoSize) && want.size() % 8132)
                    want.resize((want.size() / 8132 + 1) * 8132, '\0');
                std::string got = readWhole(files[c]);
                EXPECT_EQ(got.size(), want.size()) << line;
                EXPECT_TRUE(got == want) << line;
            }
        }
    }
};

TEST_F(ChunkyLobs, ChunkTwoThroughTheIndexAndTheLocator)
{
    run("UNLOAD TABLE DICT$;\nSET LOB_STORAGE 1;\nUNLOAD TABLE SCOTT.CHUNKY CHUNK 2 TO c.txt;\n");
    expectFiles("c.txt", false);
}

TEST_F(ChunkyLobs, ChunkTwoThroughTheMapReadsEachLineOnce)
{
    run("UNLOAD TABLE DICT$;\nSCAN LOB;\nSET LOB_STORAGE 1;\nUNLOAD TABLE SCOTT.CHUNKY CHUNK 2 TO m.txt;\n");
    expectFiles("m.txt", true);
}

}  // namespace
