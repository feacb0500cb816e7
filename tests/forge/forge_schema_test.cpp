// The schema statements of the description language (user, typed columns,
// partition, index, dictionary) and clusters laid over a segment.
#include <gtest/gtest.h>

#include <string>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

bool forgeFails(const std::string &text, const char *expected) {
    std::string dir = forgetest::makeScratchDir();
    char error[512] = "";
    bool ok = forgeFromText(text.c_str(), dir.c_str(), error, sizeof error);
    forgetest::removeScratchDir(dir);
    EXPECT_FALSE(ok) << text;
    EXPECT_NE(std::string(error).find(expected), std::string::npos) << error;
    return !ok;
}

const char kFiles[] =
    "file system01.dbf rfn 1 blocks 64\n"
    "file users01.dbf rfn 4 ts 4 tsname USERS blocks 64\n";

}  // namespace

TEST(ForgeSchema, TypedColumnDeclarationsCarryWidthPrecisionScaleAndNullability) {
    std::string text = std::string(kFiles) +
                       "user SCOTT\n"
                       "table SCOTT.T\n"
                       "  column A number(7,2) not null\n"
                       "  column B number(4)\n"
                       "  column C varchar2(10) notnull\n"
                       "  column D nvarchar2(5)\n"
                       "  column E float\n"
                       "  column F timestamp(3)\n"
                       "  column G char 4\n"
                       "segment SCOTT.T\n"
                       "  extent users01.dbf 8 4\n"
                       "  insert values 1.5 12 x \"\\xc3\\xa9\"\n"
                       "dictionary system01.dbf\n";
    std::string dir = forgetest::makeScratchDir();
    Manifest manifest;
    char error[512];
    ASSERT_TRUE(forgeFromTextWithManifest(text.c_str(), dir.c_str(), &manifest, error, sizeof error)) << error;
    const ManifestTable &t = manifest.tables[0];
    EXPECT_EQ(t.owner, "SCOTT");
    EXPECT_EQ(t.name, "T");
    EXPECT_GE(t.objectId, 70000u);  // allocated
    ASSERT_EQ(t.columns.size(), 7u);
    EXPECT_EQ(t.columns[0].precision, 7u);
    EXPECT_EQ(t.columns[0].scale, 2);
    EXPECT_TRUE(t.columns[0].notNull);
    EXPECT_EQ(t.columns[1].scale, 0);
    EXPECT_TRUE(t.columns[2].notNull);
    EXPECT_EQ(t.columns[2].length, 10u);
    EXPECT_EQ(t.columns[3].type, kColumnNvarchar2);
    EXPECT_EQ(t.columns[4].type, kColumnNumber);
    EXPECT_EQ(t.columns[4].precision, 126u);
    EXPECT_EQ(t.columns[4].scale, -1);
    EXPECT_EQ(t.columns[5].scale, 3);
    EXPECT_EQ(t.columns[6].length, 4u);
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0].values[3].bytes, std::vector<uint8_t>({0x00, 0xE9}));  // U+00E9 in UTF-16
    EXPECT_EQ(t.rows[0].values[3].text, std::string("\0\xE9", 2));
    // The SYS tables follow the schema's.
    ASSERT_EQ(manifest.tables.size(), 11u);
    EXPECT_EQ(manifest.tables[1].owner, "SYS");
    forgetest::removeScratchDir(dir);
}

TEST(ForgeSchema, MistakesInTheSchemaNameTheirLine) {
    forgeFails(std::string(kFiles) + "table T\n  column A number\ndictionary system01.dbf\n",
               "table T needs its owner");
    forgeFails(std::string(kFiles) + "table X.T\n  column A number\ndictionary system01.dbf\n", "no user X");
    forgeFails(std::string(kFiles) + "user U\ntable U.T\n  column A number\npartition P1\nsegment U.T\n",
               "line 7: U.T is partitioned");
    forgeFails(std::string(kFiles) + "user U\ntable U.T\n  column A number\npartition P1\n  column B number\n",
               "columns come before the partitions");
    forgeFails(std::string(kFiles) + "user U\ntable U.T\n  column A number(40)\n", "precision is 1 to 38");
    forgeFails(std::string(kFiles) + "user U\ntable U.T obj 500\n  column A number\ndictionary system01.dbf\n",
               "below 1000");
    forgeFails(std::string(kFiles) + "user U\nuser V id 7\nuser W id 7\ntable U.T\n  column A number\n"
                                     "dictionary system01.dbf\n",
               "both have USER# 7");
    forgeFails(std::string(kFiles) + "dictionary system01.dbf\ndictionary users01.dbf\n", "already");
    forgeFails(std::string(kFiles) + "user U\ntable U.T\n  column A number\nsegment U.T\n  extent system01.dbf 8 4\n"
                                     "  insert values 1\ndictionary system01.dbf from 9\n",
               "belongs to two segments (the dictionary's and another)");
}

TEST(ForgeSchema, PartitionsHaveTheirOwnSegmentsAndManifestEntries) {
    std::string text = std::string(kFiles) +
                       "user U id 50\n"
                       "table U.T obj 80000\n"
                       "  column A number\n"
                       "partition P1 bound 10\n"
                       "partition P2 obj 80005 objd 80105 bound MAXVALUE\n"
                       "segment U.T partition P2 type 35\n"
                       "  extent users01.dbf 8 4\n"
                       "  insert values 42\n"
                       "dictionary system01.dbf\n";
    std::string dir = forgetest::makeScratchDir();
    Manifest manifest;
    char error[512];
    ASSERT_TRUE(forgeFromTextWithManifest(text.c_str(), dir.c_str(), &manifest, error, sizeof error)) << error;
    // The partitioned table itself holds no rows and leaves the manifest.
    ASSERT_GE(manifest.tables.size(), 2u);
    EXPECT_EQ(manifest.tables[0].partition, "P1");
    EXPECT_EQ(manifest.tables[0].objectId, 80106u);  // after the highest number given
    EXPECT_TRUE(manifest.tables[0].rows.empty());
    EXPECT_EQ(manifest.tables[1].partition, "P2");
    EXPECT_EQ(manifest.tables[1].objectId, 80105u);
    ASSERT_EQ(manifest.tables[1].rows.size(), 1u);
    EXPECT_EQ(manifest.tables[1].rows[0].rdba, makeRdba(4, 11));  // after the two bitmap blocks and the header
    EXPECT_NE(formatManifest(&manifest).find("table T objd 80105 cluster 0 columns 1 rows 1 owner U partition P2\n"),
              std::string::npos);
    forgetest::removeScratchDir(dir);
}

TEST(ForgeSchema, AClusterKeyLargerThanABlockContinuesUnderACopyOfItsKeyRow) {
    DatafileLayout file;
    initDatafileLayout(&file, "c.dbf", 3, 64, 2048, kLittleEndian);
    const DatafileLayout *files[] = {&file};
    SegmentLayout segment;
    initSegmentLayout(&segment, kTypeSegmentHeader, 77);
    ExtentPlace extent = {0, 8, 16};
    segment.extents.push_back(extent);
    ColumnDef number = {"K", kColumnNumber, 0};
    ColumnDef text = {"V", kColumnVarchar2, 0};
    std::vector<ClusterKey> keys(2);
    char error[256];
    for (size_t k = 0; k < keys.size(); k++) {
        initClusterKey(&keys[k]);
        FieldValue key;
        ASSERT_TRUE(makeFieldValue(&number, k == 0 ? "7" : "8", &key, error, sizeof error));
        keys[k].key.push_back(key);
        // Key 7: 30 rows of 100 bytes, more than a 2 KB block holds.
        for (int i = 0; i < (k == 0 ? 30 : 2); i++) {
            ClusterMember m;
            m.table = (uint16_t)(1 + i % 2);
            FieldValue v;
            ASSERT_TRUE(makeFieldValue(&text, std::string(100, (char)('a' + i % 26)).c_str(), &v, error, sizeof error));
            m.values.push_back(v);
            keys[k].members.push_back(m);
        }
    }
    std::vector<SegmentBlock> blocks;
    std::vector<ManifestTable> tables(3);
    ASSERT_TRUE(layCluster(files, 1, &segment, 3, keys, &blocks, &tables, error, sizeof error)) << error;
    EXPECT_EQ(tables[1].rows.size() + tables[2].rows.size(), 32u);
    // Key rows: flag K, H, F, L; member counts; the chain through the copies.
    size_t keyRows = 0, dataBlocks = 0;
    for (const SegmentBlock &b : blocks) {
        if (peekU8(&b.block, 0) != kTypeData) continue;
        dataBlocks++;
        EXPECT_TRUE(blockVerifies(&b.block));
        uint32_t h = dataHeaderOffset(peekU8(&b.block, 36), peekU8(&b.block, 38));
        EXPECT_EQ(peekU8(&b.block, h + 1), 3u);  // every table in the directory
        uint16_t keysHere = peekU16(&b.block, h + 14 + 2);
        uint32_t directory = h + 14 + 4 * 3;
        for (uint16_t s = 0; s < keysHere; s++) {
            uint32_t at = h + peekU16(&b.block, directory + 2 * s);
            EXPECT_EQ(peekU8(&b.block, at), kRowClusterKey | kRowNormal);
            keyRows++;
        }
    }
    EXPECT_GE(dataBlocks, 2u);
    EXPECT_GE(keyRows, 3u);  // key 7 in two blocks at least, key 8 once
    // Manifest rows carry the key first.
    EXPECT_EQ(tables[1].rows[0].values.size(), 2u);
    EXPECT_EQ(tables[1].rows[0].values[0].text, "7");
}
