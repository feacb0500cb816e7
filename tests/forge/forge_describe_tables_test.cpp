// The description language for tables, segments, typed rows, cluster and
// compressed blocks, and the manifest it writes.
#include <gtest/gtest.h>

#include <string>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

const char kDescription[] =
    "blocksize 2048\n"
    "byteorder big\n"
    "file a.dbf rfn 4 blocks 64\n"
    "file b.dbf rfn 5 blocks 64\n"
    "table EMP objd 9001\n"
    "  column EMPNO number\n"
    "  column ENAME varchar2\n"
    "  column HIRED date\n"
    "  column CODE char 4\n"
    "segment EMP type 35 headermap 1\n"
    "  extent a.dbf 8 8\n"
    "  extent b.dbf 16 8\n"
    "  insert values 7369 SMITH \"1980-12-17\" AB\n"
    "  insert deleted values 7499 \"null\" null\n"
    "  insert migrated lock 1 values 7521 WARD\n"
    "  insert cut 1.100 values 1 rep:x:300\n"
    "table KEY objd 9002\n"
    "  column DEPTNO number\n"
    "table DEPT objd 9002 cluster 1\n"
    "  column DEPTNO number\n"
    "  column DNAME varchar2\n"
    "block a.dbf:40\n"
    "  data objd 9002\n"
    "  row of KEY clusterkey values 10\n"
    "  row of DEPT table 1 key 0 values ACCOUNTING\n"
    "table C objd 9003\n"
    "  column A varchar2\n"
    "  column B varchar2\n"
    "  column N number\n"
    "block b.dbf:40\n"
    "  data objd 9003 compressed\n"
    "  lengths 2\n"
    "  permutation 1 0 2\n"
    "  symbol str:SYM\n"
    "  crow of C group:1 str:xy @0 num:5\n"
    "  crow of C group:1 str:zz @@0 null\n"
    "manifest rows.txt\n";

}  // namespace

TEST(ForgeDescribeTables, SegmentsClustersAndCompressedBlocksWithTheirManifest) {
    std::string dir = forgetest::makeScratchDir();
    ASSERT_FALSE(dir.empty());
    Manifest manifest;
    char error[512];
    ASSERT_TRUE(forgeFromTextWithManifest(kDescription, dir.c_str(), &manifest, error, sizeof error)) << error;
    ASSERT_EQ(4u, manifest.tables.size());
    const ManifestTable &emp = manifest.tables[0];
    ASSERT_EQ(4u, emp.rows.size());
    EXPECT_EQ("7369|SMITH|1980-12-17 00:00:00|AB\n", manifestRecord(&emp.rows[0], "|", "\n"));
    EXPECT_EQ("7499|null\n", manifestRecord(&emp.rows[1], "|", "\n"));
    EXPECT_TRUE(emp.rows[1].deleted);
    EXPECT_EQ(1, emp.rows[2].lock);
    EXPECT_EQ(300u, emp.rows[3].values[1].bytes.size());
    EXPECT_EQ(makeRdba(4, 11), emp.rows[0].rdba);  // after two bitmap blocks and the header

    std::vector<uint8_t> a = forgetest::readWholeFile(dir + "/a.dbf");
    ASSERT_EQ(64u * 2048, a.size());
    const uint8_t *header = &a[10 * 2048];
    EXPECT_EQ(kTypeAssmSegmentHeader, header[0]);
    EXPECT_EQ(2u, forgetest::be32(header + 36));
    EXPECT_EQ(1u, forgetest::be32(header + 264));                // one entry here
    EXPECT_EQ(makeRdba(5, 16), forgetest::be32(header + 268));   // the map block behind it
    std::vector<uint8_t> b = forgetest::readWholeFile(dir + "/b.dbf");
    EXPECT_EQ(kTypeAssmExtentMap, b[16 * 2048]);
    EXPECT_EQ(0, foldChecksum(&a[10 * 2048], 2048));

    const ManifestTable &dept = manifest.tables[2];
    ASSERT_EQ(1u, dept.rows.size());
    EXPECT_EQ("10|ACCOUNTING\n", manifestRecord(&dept.rows[0], "|", "\n"));
    const uint8_t *cluster = &a[40 * 2048];
    uint32_t h = dataHeaderOffset(2, kDataFlagExtended);
    EXPECT_EQ(2, cluster[h + 1]);
    uint32_t key = h + forgetest::be16(cluster + h + 14 + 8);
    EXPECT_EQ(0xAC, cluster[key]);
    EXPECT_EQ(1, forgetest::be16(cluster + key + 3));  // one member row

    const ManifestTable &c = manifest.tables[3];
    ASSERT_EQ(2u, c.rows.size());
    EXPECT_EQ("SYM|xy|5\n", manifestRecord(&c.rows[0], "|", "\n"));
    EXPECT_EQ("SYM|zz\n", manifestRecord(&c.rows[1], "|", "\n"));
    EXPECT_EQ(makeRdba(5, 40), c.rows[1].rdba);
    EXPECT_EQ(1, c.rows[1].table);
    EXPECT_EQ(1, c.rows[1].slot);

    std::string text = forgetest::readText(dir + "/rows.txt");
    EXPECT_NE(std::string::npos, text.find("table EMP objd 9001 cluster 0 columns 4 rows 4\n"));
    EXPECT_NE(std::string::npos, text.find("text 7369\tSMITH\t1980-12-17 00:00:00\tAB\n"));
    forgetest::removeScratchDir(dir);
}

TEST(ForgeDescribeTables, MistakesNameTheirLine) {
    char error[512];
    std::string dir = forgetest::makeScratchDir();
    EXPECT_FALSE(forgeFromText("table T\ncolumn A number\nfile f rfn 4 blocks 20\nsegment T\nextent f 4 2\n"
                               "insert values abc\n", dir.c_str(), error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "line 6")) << error;
    EXPECT_FALSE(forgeFromText("table T\ncolumn A number\ninsert values 1\n", dir.c_str(), error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "line 3")) << error;
    EXPECT_FALSE(forgeFromText("file f rfn 4 blocks 20\nblock 5\ndata compressed\nsymbol @3\n", dir.c_str(),
                               error, sizeof error));
    EXPECT_NE(nullptr, strstr(error, "line 2")) << error;
    forgetest::removeScratchDir(dir);
}
