// Rows whose migrated body is missing, on blocks Oracle wrote: an
// OLTP-compressed 4 KB table after an update moved 133 of its 138 rows into
// blocks 328..339, of which 338 and 339 were never captured.  Every row is
// still written and counted, and each of the 13 with a lost body is named.
// Only these blocks of the file are placed: every other block below the
// segment header's high-water mark is named as not read.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>
#include "forge/forge.h"
#include "oracle_fixtures.h"
#include "scan/zor_session.h"

namespace {

// One file of the fixture folder; empty when the fixtures are not present.
std::vector<uint8_t> loadFixture(const std::string &name)
{
    return oracleFixtureBytes("oltp-compressed-4k-mssm-11203-win32/" + name);
}

int countOf(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

class IncompleteRows : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        if (loadFixture("block_seghdr_b256.bin").empty())
            GTEST_SKIP() << "Oracle fixtures not present";
        forge("blocksize 4096\nfile f.dbf rfn 16 blocks 400\nconfig f.cfg\n");
    }
};

// Places the segment header, the heads' block (unless it is lost) and the
// ten blocks of migrated bodies that were captured.
void placeFixtureBlocks(bool withHeads)
{
    FILE *file = fopen("f.dbf", "r+b");
    ASSERT_NE(file, nullptr);
    auto place = [&](uint32_t block, const std::string &name) {
        std::vector<uint8_t> image = loadFixture(name);
        ASSERT_EQ(image.size(), 4096u) << name;
        fseek(file, static_cast<long>(block) * 4096, SEEK_SET);
        fwrite(image.data(), 1, image.size(), file);
    };
    place(256, "block_seghdr_b256.bin");
    if (withHeads)
        place(257, "block_b257_after_update.bin");
    for (uint32_t b = 328; b <= 337; b++)
        place(b, "block_b" + std::to_string(b) + "_migrated_pieces.bin");
    // The body at 0xc5c of block 328 keeps its value in clear: flag, lock,
    // count, its head's address, 00, fa 01 90 and 400 letters.  Its first
    // letter becomes a 'b', so that it differs from the block's one symbol,
    // which a reader that took the head's address for codes would write.
    fseek(file, 328 * 4096 + 0xc5c + 13, SEEK_SET);
    fputc('b', file);
    fclose(file);
}

// Rows of the unload file that hold the value changed above.
int changedValueRows()
{
    return countOf(zorsession::readWhole("t.txt"), "b" + std::string(399, 'a') + "\r\n");
}

TEST_F(IncompleteRows, MigratedBodiesMissingFromOracleBlocksAreNamed)
{
    placeFixtureBlocks(true);

    std::string printed = zorsession::runCommands(
        "SET BLOCK_SIZE 4096\nOPEN f.cfg\nUNLOAD OBJECT 448044 COLUMN VARCHAR2 TO t.txt;\n");

    EXPECT_EQ(countOf(printed, "  Incomplete row 67109121.1."), 13) << printed;
    EXPECT_NE(printed.find("its piece at RDBA=0x04000153 slot 0 "), std::string::npos);
    // The blocks below the high-water mark that were never captured are
    // named: zeros inside the file, and the rest past its end.
    EXPECT_NE(printed.find("  Block not read at RDBA=0x04000102: all zeros (never formatted, or lost)\n"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("  132 blocks not read: all zeros (never formatted, or lost)\n"
                           "  738 blocks not read: past the end of its file\n"
                           "  13 incomplete rows: a chained or migrated piece could not be read\n"
                           "Unload incomplete: 138 rows unloaded, 870 blocks of the segment not read ...\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(changedValueRows(), 1);
}

// The same table with the heads' block lost: the 120 bodies that were
// captured come back from themselves (400 lower-case letters, as the update
// left them), each under its own address with its head's address, which a
// compressed body holds right after its column count.
TEST_F(IncompleteRows, MigratedBodiesOfOracleBlocksComeBackWhenTheirHeadsAreLost)
{
    placeFixtureBlocks(false);

    std::string printed = zorsession::runCommands(
        "SET BLOCK_SIZE 4096\nOPEN f.cfg\nUNLOAD OBJECT 448044 COLUMN VARCHAR2 TO t.txt;\n");

    EXPECT_NE(
        printed.find("  Row 67109192.1.0 written from its migrated body: its head at RDBA=0x04000101 slot 5 "
                     "is in a block that is not a data block\n"),
        std::string::npos)
        << printed;
    EXPECT_NE(printed.find("  120 incomplete rows: a chained or migrated piece could not be read\n"
                           "Unload incomplete: 120 rows unloaded, 871 blocks of the segment not read ...\n"
                           "Unload incomplete: 120 rows unloaded, 120 rows incomplete ...\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(countOf(zorsession::readWhole("t.txt"), std::string(400, 'a') + "\r\n"), 119);
    EXPECT_EQ(changedValueRows(), 1);
}

}  // namespace
