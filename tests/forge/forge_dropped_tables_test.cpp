// Tables dropped into the recycle bin, dropped with PURGE and truncated, as
// the description writes them: the dictionary rows read back from the
// blocks, and the data object ids of the segment's blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;
using forgetest::le16;
using forgetest::le32;

namespace {

const uint32_t kBlock = 8192;

const char *kHead =
    "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 200\n"
    "file users01.dbf rfn 4 ts 4 tsname USERS blocks 100\n"
    "user SCOTT id 84 tablespace 4\n"
    "table SCOTT.T obj 5000\n"
    "  column ID number\n"
    "  column NAME varchar2(10)\n"
    "  column QTY number\n"
    "segment SCOTT.T rowsperblock 2\n"
    "  extent users01.dbf 10 3\n"
    "  extent users01.dbf 13 5\n"
    "  insert values 1 a 10\n"
    "  insert values 2 b 20\n"
    "  insert values 3 c 30\n"
    "  insert values 4 d 40\n"
    "  insert values 5 e 50\n"
    "index SCOTT.T_PK on T obj 5001 unique\n";

struct Forged {
    std::string dir;
    Manifest manifest;
};

bool forgeWith(const std::string &body, Forged *out, std::string *error)
{
    out->dir = forgetest::makeScratchDir();
    std::string text = std::string(kHead) + body + "dictionary system01.dbf from 20\n";
    char reason[512] = "";
    bool ok = !out->dir.empty() && forgeFromTextWithManifest(text.c_str(), out->dir.c_str(), &out->manifest,
                                                             reason, sizeof reason);
    *error = reason;
    return ok;
}

const ManifestTable *tableOf(const Manifest &m, const std::string &name, uint32_t objd = 0)
{
    for (const ManifestTable &t : m.tables)
        if (t.name == name && (objd == 0 || t.objectId == objd))
            return &t;
    return nullptr;
}

// The rows of a SYS table whose first column (OBJ#, or TABOBJ#) is `obj`.
std::vector<ManifestRow> sysRowsOf(const Manifest &m, const char *table, uint32_t obj)
{
    std::vector<ManifestRow> out;
    const ManifestTable *t = tableOf(m, table);
    if (t != nullptr)
        for (const ManifestRow &r : t->rows)
            if (r.values[0].text == std::to_string(obj))
                out.push_back(r);
    return out;
}

std::string column(const ManifestTable *t, const ManifestRow &r, const char *name)
{
    for (size_t c = 0; c < t->columns.size(); c++)
        if (t->columns[c].name == name)
            return r.values[c].text;
    return "(no column)";
}

// The bytes of the row piece at a manifest row's address, read through the
// block's own table and row directories.
const uint8_t *rowPiece(const std::vector<uint8_t> &file, const ManifestRow &r)
{
    const uint8_t *b = file.data() + (size_t)(r.rdba & 0x3FFFFF) * kBlock;
    uint32_t h = 44 + 24 * b[36] + (b[38] == 0x32 ? 8 : 0);
    uint8_t tables = b[h + 1];
    uint16_t first = le16(b + h + 14 + 4 * r.table);
    return b + h + le16(b + h + 14 + 4 * tables + 2 * (first + r.slot));
}

uint32_t dataObjectOfBlock(const std::vector<uint8_t> &file, uint32_t blockNo)
{
    return le32(file.data() + (size_t)blockNo * kBlock + 24);
}

}  // namespace

TEST(ForgeDroppedTables, RecycleBinDropRenamesTheTableAndRecordsItsRow)
{
    Forged f;
    std::string error;
    ASSERT_TRUE(
        forgeWith("drop SCOTT.T time \"2024-07-01 08:30:00\" scn 9000\n"
                  "table SCOTT.T obj 5100\n"
                  "  column ID number\n"
                  "segment SCOTT.T\n"
                  "  extent users01.dbf 30 4\n"
                  "  insert values 99\n",
                  &f, &error))
        << error;
    const ManifestTable *obj = tableOf(f.manifest, "OBJ$");
    std::vector<ManifestRow> rows = sysRowsOf(f.manifest, "OBJ$", 5000);
    ASSERT_EQ(rows.size(), 1u);
    std::string bin = column(obj, rows[0], "NAME");
    EXPECT_EQ(bin.size(), 30u);
    EXPECT_EQ(bin.compare(0, 4, "BIN$"), 0);
    EXPECT_EQ(bin.substr(26), "==$0");
    EXPECT_EQ(column(obj, rows[0], "FLAGS"), "128");
    EXPECT_FALSE(rows[0].deleted);
    rows = sysRowsOf(f.manifest, "OBJ$", 5001);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(column(obj, rows[0], "NAME").compare(0, 4, "BIN$"), 0);
    EXPECT_EQ(sysRowsOf(f.manifest, "TAB$", 5000).size(), 1u);
    EXPECT_EQ(sysRowsOf(f.manifest, "COL$", 5000).size(), 3u);

    const ManifestTable *bin$ = tableOf(f.manifest, "RECYCLEBIN$");
    ASSERT_NE(bin$, nullptr);
    rows = sysRowsOf(f.manifest, "RECYCLEBIN$", 5000);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(forge::manifestRecord(&rows[0], "|", ""),
              "5000|84|T|0|1|4|4|10|2024-07-01 08:30:00|9000||30|5000|5000|5000|4|84|8|0");
    rows = sysRowsOf(f.manifest, "RECYCLEBIN$", 5001);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(column(bin$, rows[0], "TYPE#"), "2");
    EXPECT_EQ(column(bin$, rows[0], "BO"), "5000");

    // Both tables of the name are there, each with its own rows.
    ASSERT_NE(tableOf(f.manifest, "T", 5000), nullptr);
    EXPECT_EQ(tableOf(f.manifest, "T", 5000)->rows.size(), 5u);
    ASSERT_NE(tableOf(f.manifest, "T", 5100), nullptr);
    EXPECT_EQ(tableOf(f.manifest, "T", 5100)->rows.size(), 1u);
    EXPECT_EQ(column(obj, sysRowsOf(f.manifest, "OBJ$", 5100)[0], "NAME"), "T");
    forgetest::removeScratchDir(f.dir);
}

TEST(ForgeDroppedTables, WithoutDropNoRecycleBinIsLaid)
{
    Forged f;
    std::string error;
    ASSERT_TRUE(forgeWith("", &f, &error)) << error;
    EXPECT_EQ(tableOf(f.manifest, "RECYCLEBIN$"), nullptr);
    EXPECT_TRUE(sysRowsOf(f.manifest, "OBJ$", 497).empty());
    forgetest::removeScratchDir(f.dir);
}

// A purge changes nothing in the SYSTEM file but the D flags of the rows it
// deletes (and the checksums of their blocks).
TEST(ForgeDroppedTables, PurgeDeletesTheRowsWhereTheyStood)
{
    // The bare RECYCLEBIN$ row makes both lay the same SYS segments.
    Forged live, purged;
    std::string error;
    ASSERT_TRUE(forgeWith("recyclebin SCOTT.OTHER obj 7000\n", &live, &error)) << error;
    ASSERT_TRUE(forgeWith("recyclebin SCOTT.OTHER obj 7000\ndrop SCOTT.T purge\n", &purged, &error)) << error;
    std::vector<uint8_t> a = forgetest::readWholeFile(live.dir + "/system01.dbf");
    std::vector<uint8_t> b = forgetest::readWholeFile(purged.dir + "/system01.dbf");
    ASSERT_EQ(a.size(), b.size());

    std::vector<size_t> flags;
    size_t deleted = 0;
    for (const ManifestTable &t : purged.manifest.tables)
        for (const ManifestRow &r : t.rows) {
            if (!r.deleted || t.owner != "SYS")
                continue;
            deleted++;
            const uint8_t *piece = rowPiece(b, r);
            EXPECT_EQ(piece[0] & 0x10, 0x10) << t.name;
            EXPECT_EQ(piece[1], 0) << t.name;
            flags.push_back((size_t)(piece - b.data()));
        }
    // OBJ$ of the table and its index, TAB$, 3 COL$, IND$.
    EXPECT_EQ(deleted, 7u);
    EXPECT_EQ(sysRowsOf(purged.manifest, "OBJ$", 5000).at(0).deleted, true);
    EXPECT_EQ(sysRowsOf(purged.manifest, "OBJ$", 5001).at(0).deleted, true);

    size_t keyRows = 0;
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i] == b[i])
            continue;
        size_t inBlock = i % kBlock;
        if (inBlock == 16 || inBlock == 17)
            continue;  // checksum
        ASSERT_EQ(a[i] ^ b[i], 0x10) << "byte " << i;
        bool member = std::find(flags.begin(), flags.end(), i) != flags.end();
        // The only other row deleted is the C_OBJ# key of OBJ# 5000.
        if (!member) {
            EXPECT_EQ(b[i] & 0x80, 0x80) << "byte " << i;
            keyRows++;
        }
    }
    EXPECT_EQ(keyRows, 1u);
    // The segment is as it was.
    EXPECT_EQ(forgetest::readWholeFile(live.dir + "/users01.dbf"),
              forgetest::readWholeFile(purged.dir + "/users01.dbf"));
    forgetest::removeScratchDir(live.dir);
    forgetest::removeScratchDir(purged.dir);
}

TEST(ForgeDroppedTables, PurgeOverwriteZeroesTheLastColumnRows)
{
    Forged f;
    std::string error;
    ASSERT_TRUE(forgeWith("drop SCOTT.T purge overwrite 2\n", &f, &error)) << error;
    std::vector<ManifestRow> cols = sysRowsOf(f.manifest, "COL$", 5000);
    ASSERT_EQ(cols.size(), 1u);
    EXPECT_EQ(column(tableOf(f.manifest, "COL$"), cols[0], "NAME"), "ID");
    // The two rows after it in the block are zeros.
    std::vector<uint8_t> file = forgetest::readWholeFile(f.dir + "/system01.dbf");
    for (uint16_t next = 1; next <= 2; next++) {
        ManifestRow r = cols[0];
        r.slot = (uint16_t)(r.slot + next);
        const uint8_t *piece = rowPiece(file, r);
        EXPECT_EQ(piece[0], 0);
        EXPECT_EQ(piece[2], 0);
    }
    forgetest::removeScratchDir(f.dir);
}

TEST(ForgeDroppedTables, TruncateTwiceKeepsTheOldRowsOfBlocksNotReused)
{
    // Rows 1-2 in block 11, 3-4 in 12, 5 in 13 (the second extent).
    Forged f;
    std::string error;
    ASSERT_TRUE(
        forgeWith("truncate SCOTT.T\n"
                  "  insert values 6 f 60\n"
                  "  insert values 7 g 70\n"
                  "  insert values 8 h 80\n"
                  "truncate SCOTT.T objd 70005\n"
                  "  insert values 9 i 90\n",
                  &f, &error))
        << error;
    std::vector<uint8_t> users = forgetest::readWholeFile(f.dir + "/users01.dbf");
    const uint8_t *header = users.data() + 10 * kBlock;
    EXPECT_EQ(header[0], 16);
    EXPECT_EQ(le32(header + 100), 70005u);
    EXPECT_EQ(le32(header + 36), 1u);                // the first extent only
    EXPECT_EQ(le32(header + 60), (4u << 22) | 12u);  // high-water mark after block 11
    EXPECT_EQ(le32(header + 108), (4u << 22) | 10u);
    EXPECT_EQ(dataObjectOfBlock(users, 11), 70005u);
    EXPECT_EQ(dataObjectOfBlock(users, 12), 70000u);  // the first truncate's id, from the counter
    EXPECT_EQ(dataObjectOfBlock(users, 13), 5000u);

    const ManifestTable *now = tableOf(f.manifest, "T", 70005);
    const ManifestTable *first = tableOf(f.manifest, "T", 5000);
    const ManifestTable *second = tableOf(f.manifest, "T", 70000);
    ASSERT_TRUE(now != nullptr && first != nullptr && second != nullptr);
    ASSERT_EQ(now->rows.size(), 1u);
    EXPECT_EQ(now->rows[0].values[0].text, "9");
    ASSERT_EQ(first->rows.size(), 1u);
    EXPECT_EQ(first->rows[0].values[0].text, "5");
    ASSERT_EQ(second->rows.size(), 1u);
    EXPECT_EQ(second->rows[0].values[0].text, "8");

    const ManifestTable *obj = tableOf(f.manifest, "OBJ$");
    const ManifestTable *tab = tableOf(f.manifest, "TAB$");
    EXPECT_EQ(column(obj, sysRowsOf(f.manifest, "OBJ$", 5000).at(0), "DATAOBJ#"), "70005");
    EXPECT_EQ(column(tab, sysRowsOf(f.manifest, "TAB$", 5000).at(0), "DATAOBJ#"), "70005");
    EXPECT_EQ(column(tab, sysRowsOf(f.manifest, "TAB$", 5000).at(0), "ROWCNT"), "1");
    forgetest::removeScratchDir(f.dir);
}

TEST(ForgeDroppedTables, TruncateReuseKeepsTheExtents)
{
    Forged f;
    std::string error;
    ASSERT_TRUE(forgeWith("truncate SCOTT.T reuse\n", &f, &error)) << error;
    std::vector<uint8_t> users = forgetest::readWholeFile(f.dir + "/users01.dbf");
    const uint8_t *header = users.data() + 10 * kBlock;
    EXPECT_EQ(le32(header + 36), 2u);
    EXPECT_EQ(le32(header + 60), (4u << 22) | 11u);
    EXPECT_EQ(tableOf(f.manifest, "T", 5000)->rows.size(), 5u);
    EXPECT_TRUE(tableOf(f.manifest, "T", 70000)->rows.empty());
    forgetest::removeScratchDir(f.dir);
}

TEST(ForgeDroppedTables, TruncatedPartitionTakesItsNewIdInTabpart)
{
    Forged f;
    std::string error;
    ASSERT_TRUE(
        forgeWith("table SCOTT.P obj 5200\n"
                  "  column ID number\n"
                  "partition P1 obj 5201 bound 10\n"
                  "partition P2 obj 5202 bound MAXVALUE\n"
                  "segment SCOTT.P partition P1\n"
                  "  extent users01.dbf 40 4\n"
                  "  insert values 1\n"
                  "segment SCOTT.P partition P2\n"
                  "  extent users01.dbf 44 4\n"
                  "  insert values 20\n"
                  "truncate SCOTT.P partition P1 objd 5300\n",
                  &f, &error))
        << error;
    const ManifestTable *part = tableOf(f.manifest, "TABPART$");
    EXPECT_EQ(column(part, sysRowsOf(f.manifest, "TABPART$", 5201).at(0), "DATAOBJ#"), "5300");
    EXPECT_EQ(column(part, sysRowsOf(f.manifest, "TABPART$", 5202).at(0), "DATAOBJ#"), "5202");
    const ManifestTable *old = tableOf(f.manifest, "P", 5201);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->partition, "P1");
    EXPECT_EQ(old->rows.size(), 1u);
    std::vector<uint8_t> users = forgetest::readWholeFile(f.dir + "/users01.dbf");
    EXPECT_EQ(le32(users.data() + 40 * kBlock + 100), 5300u);
    EXPECT_EQ(dataObjectOfBlock(users, 41), 5201u);
    forgetest::removeScratchDir(f.dir);
}
