// The text description behind the `forge` command.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;
using forgetest::be16;
using forgetest::be32;
using forgetest::le16;
using forgetest::le32;

namespace {

struct ForgeRun {
    std::string dir;
    bool ok;
    char error[512];
};

void forgeText(ForgeRun *run, const char *text) {
    run->dir = forgetest::makeScratchDir();
    run->error[0] = '\0';
    run->ok = !run->dir.empty() && forgeFromText(text, run->dir.c_str(), run->error, sizeof run->error);
}

}  // namespace

TEST(ForgeDescribe, WritesATwoFileSetWithItsConfiguration) {
    ForgeRun run;
    forgeText(&run,
              "# a small set\n"
              "blocksize 8192\n"
              "byteorder little\n"
              "dbid 0x01020304\n"
              "dbname ORCL\n"
              "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 50\n"
              "file users01.dbf rfn 4 ts 4 tsname USERS blocks 100 format a2 header 4096\n"
              "block 17 type 6 scn 0x1234\n"
              "  u32 100 0xCAFEF00D\n"
              "  text 200 \"two words\"\n"
              "config my.cfg\n");
    ASSERT_TRUE(run.ok) << run.error;

    std::vector<uint8_t> system = forgetest::readWholeFile(run.dir + "/system01.dbf");
    std::vector<uint8_t> users = forgetest::readWholeFile(run.dir + "/users01.dbf");
    ASSERT_EQ(50u * 8192, system.size());
    ASSERT_EQ(4096u + 100 * 8192, users.size());

    const uint8_t *sh = &system[8192];
    EXPECT_EQ(11, sh[0]);
    EXPECT_EQ(0xA2, sh[1]);
    EXPECT_EQ(makeRdba(1, 1), le32(sh + 4));
    EXPECT_EQ(0x01020304u, le32(sh + 28));
    EXPECT_EQ(0, memcmp(sh + 32, "ORCL", 4));
    EXPECT_EQ(6, le16(sh + 336));
    EXPECT_EQ(0, memcmp(sh + 338, "SYSTEM", 6));
    EXPECT_EQ(0, foldChecksum(sh, 8192));

    const uint8_t *uh = &users[4096 + 8192];
    EXPECT_EQ(makeRdba(4, 1), le32(uh + 4));
    EXPECT_EQ(4u, le32(uh + 332));
    EXPECT_EQ(5, le16(uh + 336));
    EXPECT_EQ(0, memcmp(uh + 338, "USERS", 5));
    EXPECT_EQ(99u, le32(uh + 44));
    EXPECT_EQ(0, foldChecksum(uh, 8192));

    const uint8_t *b17 = &users[4096 + 17 * 8192];
    EXPECT_EQ(6, b17[0]);
    EXPECT_EQ(makeRdba(4, 17), le32(b17 + 4));
    EXPECT_EQ(0x1234u, le32(b17 + 8));
    EXPECT_EQ(0xCAFEF00Du, le32(b17 + 100));
    EXPECT_EQ(0, memcmp(b17 + 200, "two words", 9));
    EXPECT_EQ(0, foldChecksum(b17, 8192));

    EXPECT_EQ("system01.dbf\nusers01.dbf 4096\n", forgetest::readText(run.dir + "/my.cfg"));
    forgetest::removeScratchDir(run.dir);
}

TEST(ForgeDescribe, BigEndianBigfileWithDataRows) {
    ForgeRun run;
    forgeText(&run,
              "byteorder big\n"
              "blocksize 2048\n"
              "file big.dbf bigfile rfn 6 ts 9 tsname BIGTS blocks 40\n"
              "block 33\n"
              "  data objd 77707 csc 0x1cb316\n"
              "  itl xid 0x0006.017.000003e9 uba 0x00c003d6.0149.27 flag --U- lock 1 fsc 0x21b scn 0x1cc0f2\n"
              "  itl\n"
              "  row lock 1 num 7369 str SMITH null num 20\n"
              "  row deleted str \"O'NEIL\" rep 0x41 300\n");
    ASSERT_TRUE(run.ok) << run.error;
    std::vector<uint8_t> file = forgetest::readWholeFile(run.dir + "/big.dbf");
    ASSERT_EQ(40u * 2048, file.size());
    const uint8_t *header = &file[2048];
    EXPECT_EQ(1u, be32(header + 4));   // bigfile: relative file 0
    EXPECT_EQ(6, be16(header + 52));   // the absolute file number still shows
    EXPECT_EQ(9u, be32(header + 332));
    const uint8_t *b = &file[33 * 2048];
    EXPECT_EQ(33u, be32(b + 4));
    EXPECT_EQ(77707u, be32(b + 24));
    EXPECT_EQ(2, be16(b + 36));
    EXPECT_EQ(0x0006, be16(b + 44));
    EXPECT_EQ(0x017, be16(b + 46));
    EXPECT_EQ(0x3e9u, be32(b + 48));
    EXPECT_EQ(0x00c003d6u, be32(b + 52));
    EXPECT_EQ(0x0149, be16(b + 56));
    EXPECT_EQ(0x27, b[58]);
    EXPECT_EQ(0x2001, be16(b + 60));
    EXPECT_EQ(0x1cc0f2u, be32(b + 64));
    uint32_t h = 100;
    EXPECT_EQ(2, be16(b + h + 2));
    const uint8_t *row0 = b + h + be16(b + h + 18);
    const uint8_t expect0[] = {0x2c, 1, 4, 3, 0xc2, 0x4a, 0x46, 5, 'S', 'M', 'I', 'T', 'H', 0xFF, 2, 0xc1, 0x15};
    EXPECT_EQ(0, memcmp(row0, expect0, sizeof expect0));
    const uint8_t *row1 = b + h + be16(b + h + 20);
    EXPECT_EQ(0x3c, row1[0]);
    EXPECT_EQ(2, row1[2]);
    EXPECT_EQ(6, row1[3]);
    EXPECT_EQ(0, memcmp(row1 + 4, "O'NEIL", 6));
    EXPECT_EQ(0xFE, row1[10]);
    EXPECT_EQ(300, be16(row1 + 11));
    EXPECT_EQ(0, foldChecksum(b, 2048));
    forgetest::removeScratchDir(run.dir);
}

TEST(ForgeDescribe, DamageAndDeliberatelyBadChecksums) {
    ForgeRun run;
    forgeText(&run,
              "blocksize 4096\n"
              "file a.dbf rfn 2 blocks 12 header 512\n"
              "block 3 checksum bad\n"
              "block 4\n"
              "block 5\n"
              "block 6\n"
              "  u8 300 0x11\n"
              "damage a.dbf flipbit 4 300 0\n"
              "damage a.dbf zero 6 300 1\n"
              "damage a.dbf reseal 6\n"
              "damage a.dbf truncateblocks 11\n");
    ASSERT_TRUE(run.ok) << run.error;
    std::vector<uint8_t> file = forgetest::readWholeFile(run.dir + "/a.dbf");
    ASSERT_EQ(512u + 11 * 4096, file.size());
    EXPECT_EQ(1, foldChecksum(&file[512 + 3 * 4096], 4096));
    EXPECT_NE(0, foldChecksum(&file[512 + 4 * 4096], 4096));
    EXPECT_EQ(1, file[512 + 4 * 4096 + 300]);
    EXPECT_EQ(0, foldChecksum(&file[512 + 5 * 4096], 4096));
    EXPECT_EQ(0, file[512 + 6 * 4096 + 300]);
    EXPECT_EQ(0, foldChecksum(&file[512 + 6 * 4096], 4096));
    forgetest::removeScratchDir(run.dir);
}

TEST(ForgeDescribe, ConfigurationVariants) {
    ForgeRun run;
    forgeText(&run,
              "file one.dbf blocks 4\n"
              "file two.dbf blocks 4 header 8192\n"
              "configline set.cfg \"# comment line\"\n"
              "config set.cfg two.dbf\n"
              "configline set.cfg +256\n"
              "config abs.cfg absolute one.dbf\n");
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ("# comment line\ntwo.dbf 8192\n+256\n", forgetest::readText(run.dir + "/set.cfg"));
    std::string abs = forgetest::readText(run.dir + "/abs.cfg");
    ASSERT_FALSE(abs.empty());
    EXPECT_EQ('/', abs[0]);
    EXPECT_NE(std::string::npos, abs.find("/one.dbf\n"));
    forgetest::removeScratchDir(run.dir);
}

TEST(ForgeDescribe, HeaderFieldsCanBeMadeToDisagree) {
    ForgeRun run;
    forgeText(&run,
              "format 02\n"
              "file old.dbf rfn 3 ts 5 tsname OLD blocks 8 fileno 9 hdrblocksize 4096 hdrblocks 7 "
              "fuzzy 0x41 bootstrap 0x00400208 tsnamelen 31 osblock zero\n");
    ASSERT_TRUE(run.ok) << run.error;
    std::vector<uint8_t> file = forgetest::readWholeFile(run.dir + "/old.dbf");
    ASSERT_EQ(8u * 8192, file.size());
    for (size_t i = 0; i < 8192; i++) ASSERT_EQ(0, file[i]);
    const uint8_t *h = &file[8192];
    EXPECT_EQ(0x02, h[1]);
    EXPECT_EQ(makeRdba(3, 1), le32(h + 4));
    EXPECT_EQ(7u, le32(h + 44));
    EXPECT_EQ(4096u, le32(h + 48));
    EXPECT_EQ(9, le16(h + 52));
    EXPECT_EQ(0x00400208u, le32(h + 96));
    EXPECT_EQ(0x41, h[138]);
    EXPECT_EQ(5u, le32(h + 244));
    EXPECT_EQ(31, le16(h + 248));
    EXPECT_EQ(0, memcmp(h + 250, "OLD", 3));
    forgetest::removeScratchDir(run.dir);
}

TEST(ForgeDescribe, MistakesNameTheLineAndWriteNothing) {
    struct Case {
        const char *text;
        const char *expect;
    };
    const Case cases[] = {
        {"file a.dbf blocks 10\nblock 10\n", "line 2: block 10 is beyond"},
        {"block 3\n", "line 1: block before any file"},
        {"file a.dbf\nfrobnicate\n", "line 2: unknown statement"},
        {"blocksize 1000\n", "line 1: block size 1000"},
        {"file a.dbf blocks 10\nblock 2\n  u32 8190 1\n", "line 3: 4 bytes at 8190"},
        {"file a.dbf\nblock 2\nrow num 1\n", "line 3: row outside a data block"},
        {"file a.dbf\n\n# c\nblock 2\ndata\nrow str \"open\n", "line 6: unterminated"},
        {"file a.dbf\nfile a.dbf\n", "line 2: file a.dbf is described twice"},
        {"file a.dbf\ndamage b.dbf flipbyte 1 1\n", "line 2: no file 'b.dbf'"},
        {"file a.dbf rfn 1024\n", "line 1: rfn"},
        {"file a.dbf blocksize 8192 blocks 4\nblock 2\ndata\nrow rep 0x41 9000\n", "line 2: row 0 does not fit"},
    };
    // A table takes up to 4096 columns.
    std::string widest = "file a.dbf\ntable T\n";
    for (int i = 0; i <= 4096; i++)
        widest += "column C" + std::to_string(i) + " number\n";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({widest.c_str(), "line 4099: at most 4096 columns"});
    for (const Case &c : all) {
        ForgeRun run;
        forgeText(&run, c.text);
        EXPECT_FALSE(run.ok) << c.text;
        EXPECT_NE(nullptr, strstr(run.error, c.expect)) << c.text << " gave: " << run.error;
        EXPECT_TRUE(forgetest::readWholeFile(run.dir + "/a.dbf").empty()) << c.text;
        forgetest::removeScratchDir(run.dir);
    }
}
