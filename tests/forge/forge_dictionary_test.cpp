// The data dictionary and the sample database the forge writes, read back
// with a reader of this test's own: segment headers found by their data
// object id, extents walked through the header and the extent map blocks,
// rows of one table of the blocks, cluster keys put in front of member rows.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;
using forgetest::le16;
using forgetest::le32;

namespace {

const uint32_t kBlock = 8192;

struct Datafile {
    std::vector<uint8_t> bytes;
    uint32_t rfn;
};

const uint8_t *blockAt(const Datafile &f, uint32_t n) {
    if ((uint64_t)(n + 1) * kBlock > f.bytes.size()) return nullptr;
    return f.bytes.data() + (size_t)n * kBlock;
}

uint32_t blockCount(const Datafile &f) { return (uint32_t)(f.bytes.size() / kBlock); }

struct Column {
    bool null;
    std::vector<uint8_t> bytes;
};

struct Row {
    uint32_t rdba;
    uint16_t slot;   // among the rows of its table in the block
    uint8_t flag;
    std::vector<Column> columns;  // a member row: the key's columns first
};

// A segment header (type 16 or 35) carrying the data object id: its block.
uint32_t findSegmentHeader(const Datafile &f, uint32_t objd) {
    for (uint32_t n = 2; n < blockCount(f); n++) {
        const uint8_t *b = blockAt(f, n);
        if (b[0] == 16 && le32(b + 100) == objd) return n;
        if (b[0] == 35 && le32(b + 272) == objd) return n;
    }
    return 0;
}

// Every block of the segment, from the header's extents and the extent map
// blocks chained after it (all in this file).
std::vector<uint32_t> segmentBlocks(const Datafile &f, uint32_t header) {
    std::vector<uint32_t> out;
    const uint8_t *b = blockAt(f, header);
    bool assm = b[0] == 35;
    uint32_t count = le32(b + (assm ? 264 : 92)), next = le32(b + (assm ? 268 : 96));
    uint32_t entries = assm ? 280 : 108;
    for (int guard = 0; guard < 100; guard++) {
        for (uint32_t i = 0; i < count; i++) {
            uint32_t rdba = le32(b + entries + 8 * i), blocks = le32(b + entries + 8 * i + 4);
            EXPECT_EQ(rdba >> 22, f.rfn);
            for (uint32_t k = 0; k < blocks; k++) out.push_back((rdba & 0x3FFFFF) + k);
        }
        if (next == 0) break;
        EXPECT_EQ(next >> 22, f.rfn);
        b = blockAt(f, next & 0x3FFFFF);
        if (b == nullptr) break;
        EXPECT_EQ(b[0], assm ? 36 : 18);
        count = le32(b + 20);
        next = le32(b + 24);
        entries = 36;
    }
    return out;
}

// Columns of a row piece at `at`, after `skip` header bytes.
std::vector<Column> rowColumns(const uint8_t *b, uint32_t at, uint32_t skip) {
    std::vector<Column> out;
    uint8_t cc = b[at + 2];
    uint32_t p = at + 3 + skip;
    for (uint8_t c = 0; c < cc && p < kBlock; c++) {
        Column col;
        col.null = b[p] == 0xFF;
        uint32_t length = b[p];
        p++;
        if (length == 0xFE) {
            length = le16(b + p);
            p += 2;
        }
        if (!col.null) {
            col.bytes.assign(b + p, b + p + length);
            p += length;
        }
        out.push_back(col);
    }
    return out;
}

uint32_t dataHeader(const uint8_t *b) { return 44 + 24 * b[36] + (b[38] == 0x32 ? 8 : 0); }

// The rows of table `table` (head pieces, not deleted) of every data block
// of the segment whose header carries `objd`.
std::vector<Row> tableRows(const Datafile &f, uint32_t objd, uint8_t table) {
    std::vector<Row> rows;
    uint32_t header = findSegmentHeader(f, objd);
    EXPECT_NE(header, 0u) << "no segment header for objd " << objd;
    if (header == 0) return rows;
    for (uint32_t n : segmentBlocks(f, header)) {
        const uint8_t *b = blockAt(f, n);
        if (b == nullptr || b[0] != 6 || b[20] != 1 || le32(b + 24) != objd) continue;
        uint32_t h = dataHeader(b);
        uint8_t tables = b[h + 1];
        if (table >= tables) continue;
        uint32_t directory = h + 14 + 4 * tables;
        uint16_t first = le16(b + h + 14 + 4 * table), count = le16(b + h + 14 + 4 * table + 2);
        for (uint16_t s = 0; s < count; s++) {
            uint16_t offset = le16(b + directory + 2 * (first + s));
            if (offset == 0xFFFF) continue;
            uint32_t at = h + offset;
            uint8_t flag = b[at];
            if ((flag & 0x20) == 0 || (flag & 0x10) != 0) continue;
            Row row;
            row.rdba = le32(b + 4);
            row.slot = s;
            row.flag = flag;
            if ((flag & 0x40) != 0) {
                // A member row: its key row is that slot of table 0.
                uint8_t keySlot = b[at + 3];
                uint16_t keyFirst = le16(b + h + 14);
                uint32_t keyAt = h + le16(b + directory + 2 * (keyFirst + keySlot));
                EXPECT_EQ(b[keyAt] & 0x80, 0x80) << "key slot " << (int)keySlot << " is not a key row";
                row.columns = rowColumns(b, keyAt, 16);
                for (const Column &c : rowColumns(b, at, 1)) row.columns.push_back(c);
            } else {
                uint32_t skip = (flag & 0x04) == 0 ? 6 : 0;  // the next piece's address
                row.columns = rowColumns(b, at, skip);
            }
            rows.push_back(row);
        }
    }
    return rows;
}

// Whole non-negative NUMBERs, decoded here: exponent byte 0xC1 + e, digit
// pairs + 1; 0x80 is zero.
long long number(const Column &c) {
    if (c.null || c.bytes.empty()) return -1;
    if (c.bytes[0] == 0x80) return 0;
    int exponent = c.bytes[0] - 0xC1;
    long long value = 0;
    for (int i = 0; i <= exponent; i++) value = value * 100 + (i + 1 < (int)c.bytes.size() ? c.bytes[i + 1] - 1 : 0);
    return value;
}

std::string text(const Column &c) { return std::string(c.bytes.begin(), c.bytes.end()); }

long long at(const Row &r, size_t position) { return position < r.columns.size() ? number(r.columns[position]) : -1; }

std::string textAt(const Row &r, size_t position) {
    return position < r.columns.size() ? text(r.columns[position]) : std::string();
}

bool nullAt(const Row &r, size_t position) { return position >= r.columns.size() || r.columns[position].null; }

struct Sample {
    std::string dir;
    Manifest manifest;
    Datafile system, users, lobs;
};

void forgeTheSample(Sample *s) {
    s->dir = forgetest::makeScratchDir();
    ASSERT_FALSE(s->dir.empty());
    char error[512];
    ASSERT_TRUE(forgeSample(s->dir.c_str(), &s->manifest, error, sizeof error)) << error;
    s->system.bytes = forgetest::readWholeFile(s->dir + "/system01.dbf");
    s->system.rfn = 1;
    s->users.bytes = forgetest::readWholeFile(s->dir + "/users01.dbf");
    s->users.rfn = 4;
    s->lobs.bytes = forgetest::readWholeFile(s->dir + "/lobs01.dbf");
    s->lobs.rfn = 5;
    ASSERT_EQ(s->system.bytes.size(), 256u * kBlock);
    ASSERT_EQ(s->users.bytes.size(), 256u * kBlock);
}

// Rows of a dictionary table by the number at a position.
std::map<long long, Row> byNumber(const std::vector<Row> &rows, size_t position) {
    std::map<long long, Row> out;
    for (const Row &r : rows) out[at(r, position)] = r;
    return out;
}

}  // namespace

TEST(ForgeDictionary, BootstrapSegmentsCarryTheirDataObjectIds) {
    Sample s;
    forgeTheSample(&s);
    for (uint32_t objd : {2u, 10u, 18u, 576u, 581u, 591u, 596u}) {
        uint32_t header = findSegmentHeader(s.system, objd);
        ASSERT_NE(header, 0u) << objd;
        EXPECT_EQ(blockAt(s.system, header)[0], 16) << objd;  // free-list managed, as in SYSTEM
        EXPECT_EQ(le32(blockAt(s.system, header) + 4), (1u << 22) | header);
        EXPECT_EQ(findSegmentHeader(s.users, objd), 0u) << objd;
    }
    // Every cluster block carries the whole table directory.
    for (uint32_t n : segmentBlocks(s.system, findSegmentHeader(s.system, 2))) {
        const uint8_t *b = blockAt(s.system, n);
        if (b[0] == 6) {
            EXPECT_EQ(b[dataHeader(b) + 1], 8) << n;
        }
    }
    forgetest::removeScratchDir(s.dir);
}

TEST(ForgeDictionary, UserRowsAreTableOneOfClusterTenWithTheKeyFirst) {
    Sample s;
    forgeTheSample(&s);
    std::vector<Row> users = tableRows(s.system, 10, 1);
    ASSERT_EQ(users.size(), 4u);
    std::map<long long, Row> byId = byNumber(users, 0);
    EXPECT_EQ(textAt(byId[0], 1), "SYS");
    EXPECT_EQ(textAt(byId[1], 1), "PUBLIC");
    EXPECT_EQ(at(byId[1], 2), 0);  // TYPE# 0: a role
    EXPECT_EQ(textAt(byId[5], 1), "SYSTEM");
    EXPECT_EQ(textAt(byId[83], 1), "SCOTT");
    EXPECT_EQ(at(byId[83], 2), 1);
    for (const Row &r : users) EXPECT_EQ(r.flag & 0x40, 0x40);  // member rows
    forgetest::removeScratchDir(s.dir);
}

TEST(ForgeDictionary, ObjectRowsHoldNumberOwnerNameSubnameTypeAndOidAtTheirPositions) {
    Sample s;
    forgeTheSample(&s);
    std::map<long long, Row> objects = byNumber(tableRows(s.system, 18, 0), 0);
    // SALGRADE's row is deleted: a purged table.
    ASSERT_EQ(objects.size(), 34u);
    EXPECT_EQ(objects.count(73280), 0u);
    struct Expect {
        long long obj, dataObj, owner;
        const char *name, *subname;
        long long type;
    } expected[] = {
        {2, 2, 0, "C_OBJ#", "", 3},
        {10, 10, 0, "C_USER#", "", 3},
        {4, 2, 0, "TAB$", "", 2},
        {18, 18, 0, "OBJ$", "", 2},
        {19, 2, 0, "IND$", "", 2},
        {21, 2, 0, "COL$", "", 2},
        {22, 10, 0, "USER$", "", 2},
        {83, 2, 0, "COLTYPE$", "", 2},
        {576, 576, 0, "TABPART$", "", 2},
        {73182, 73182, 83, "EMP", "", 2},
        {73183, 73183, 83, "PK_EMP", "", 1},
        {73191, 73191, 83, "SALES", "P2023", 19},
        {73193, 73193, 83, "SALES", "PMAX", 19},
        {73220, 73220, 83, "EMP$HIST", "", 2},
        {73240, 73240, 83, "NOTES", "", 2},
        // An index-organized table has no data object of its own; its index has.
        {73250, -1, 83, "CODES", "", 2},
        {73251, 73251, 83, "PK_CODES", "", 1},
        {73260, 73260, 83, "LOBS", "", 2},
        {73262, 73262, 83, "SYS_IL0000073260C00002$$", "", 1},
        {73266, 73266, 83, "SYS_IL0000073260C00004$$", "", 1},
        {497, 497, 0, "RECYCLEBIN$", "", 2},
        {73270, 73270, 83, "BIN$h2no0M7/Ii2fGSfqz+VHjA==$0", "", 2},
        {73290, 73291, 83, "EMP_ARCHIVE", "", 2},  // truncated: its new data object id
    };
    for (const Expect &e : expected) {
        ASSERT_EQ(objects.count(e.obj), 1u) << e.obj;
        const Row &r = objects[e.obj];
        if (e.dataObj < 0)
            EXPECT_TRUE(nullAt(r, 1)) << e.name;
        else
            EXPECT_EQ(at(r, 1), e.dataObj) << e.name;
        EXPECT_EQ(at(r, 2), e.owner) << e.name;
        EXPECT_EQ(textAt(r, 3), e.name);
        EXPECT_EQ(textAt(r, 5), e.subname) << e.name;
        EXPECT_EQ(nullAt(r, 5), e.subname[0] == '\0') << e.name;
        EXPECT_EQ(at(r, 6), e.type) << e.name;
        EXPECT_TRUE(nullAt(r, 14)) << e.name;   // OID$
        EXPECT_GT(r.columns.size(), 15u) << e.name;  // stored columns after OID$
    }
    // A partitioned table has no segment of its own.
    EXPECT_TRUE(nullAt(objects[73190], 1));
    forgetest::removeScratchDir(s.dir);
}

TEST(ForgeDictionary, TableRowsAreTableOneOfClusterTwoAndPointAtTheSegmentHeaders) {
    Sample s;
    forgeTheSample(&s);
    std::map<long long, Row> tabs = byNumber(tableRows(s.system, 2, 1), 0);
    // OBJ#, DATAOBJ#, TS#, FILE#, BLOCK# at 0..4, TAB# at 6.
    const Row &tab = tabs[4];
    EXPECT_EQ(at(tab, 1), 2);
    EXPECT_EQ(at(tab, 2), 0);
    EXPECT_EQ(at(tab, 3), 1);
    EXPECT_EQ(at(tab, 4), findSegmentHeader(s.system, 2));
    EXPECT_EQ(at(tab, 6), 1);
    EXPECT_EQ(at(tabs[21], 6), 5);   // COL$
    EXPECT_EQ(at(tabs[19], 6), 3);   // IND$
    EXPECT_EQ(at(tabs[83], 6), 7);   // COLTYPE$
    EXPECT_EQ(at(tabs[22], 1), 10);  // USER$
    EXPECT_EQ(at(tabs[22], 4), findSegmentHeader(s.system, 10));
    EXPECT_EQ(at(tabs[22], 6), 1);
    EXPECT_EQ(at(tabs[18], 4), findSegmentHeader(s.system, 18));
    EXPECT_TRUE(nullAt(tabs[18], 6));  // a heap table has no TAB#
    for (long long obj : {576LL, 581LL, 591LL, 596LL}) {
        EXPECT_EQ(at(tabs[obj], 1), obj);
        EXPECT_EQ(at(tabs[obj], 4), findSegmentHeader(s.system, (uint32_t)obj));
    }
    const Row &emp = tabs[73182];
    EXPECT_EQ(at(emp, 1), 73182);
    EXPECT_EQ(at(emp, 2), 4);
    EXPECT_EQ(at(emp, 3), 4);
    EXPECT_EQ(at(emp, 4), findSegmentHeader(s.users, 73182));
    const Row &sales = tabs[73190];
    EXPECT_TRUE(nullAt(sales, 1));
    EXPECT_EQ(at(sales, 3), 0);
    EXPECT_EQ(at(sales, 4), 0);
    forgetest::removeScratchDir(s.dir);
}

TEST(ForgeDictionary, ColumnRowsAreTableFiveWithTypesLengthsAndCharacterSets) {
    Sample s;
    forgeTheSample(&s);
    // (OBJ#, NAME) -> row
    std::map<std::string, Row> columns;
    for (const Row &r : tableRows(s.system, 2, 5))
        columns[std::to_string(at(r, 0)) + "." + textAt(r, 5)] = r;
    struct Expect {
        const char *key;
        long long col, segcol, type, length, precision, scale, nullable, intcol, charsetId, form;
    } expected[] = {
        {"73182.EMPNO", 1, 1, 2, 22, 4, 0, 1, 1, 0, 0},
        {"73182.ENAME", 2, 2, 1, 10, -1, -1, 0, 2, 873, 1},
        {"73182.HIREDATE", 5, 5, 12, 7, -1, -1, 0, 5, 0, 0},
        {"73182.SAL", 6, 6, 2, 22, 7, 2, 0, 6, 0, 0},
        {"73210.C_CHAR", 2, 2, 96, 10, -1, -1, 0, 2, 873, 1},
        {"73210.C_NVARCHAR2", 4, 4, 1, 40, -1, -1, 0, 4, 2000, 2},
        {"73210.C_DECIMAL", 7, 7, 2, 22, -1, -1, 0, 7, 0, 0},
        {"73210.C_FLOAT", 8, 8, 2, 22, 126, -1, 0, 8, 0, 0},
        {"73210.C_TIMESTAMP", 10, 10, 180, 11, -1, 6, 0, 10, 0, 0},
        {"73210.C_TSTZ", 11, 11, 181, 13, -1, 6, 0, 11, 0, 0},
        {"73210.C_BFLOAT", 12, 12, 100, 4, -1, -1, 0, 12, 0, 0},
        {"73210.C_BDOUBLE", 13, 13, 101, 8, -1, -1, 0, 13, 0, 0},
        {"73210.C_RAW", 14, 14, 23, 16, -1, -1, 0, 14, 0, 0},
        // IND$ is keyed by BO#, its sixth column: the key comes first.
        {"19.BO#", 6, 1, 2, 22, -1, -1, 1, 6, 0, 0},
        {"19.OBJ#", 1, 2, 2, 22, -1, -1, 1, 1, 0, 0},
        {"19.BLOCK#", 5, 6, 2, 22, -1, -1, 1, 5, 0, 0},
        {"18.OID$", 15, 15, 23, 16, -1, -1, 0, 15, 0, 0},
        {"21.DEFAULT$", 14, 14, 8, 0, -1, -1, 0, 14, 873, 1},
    };
    for (const Expect &e : expected) {
        ASSERT_EQ(columns.count(e.key), 1u) << e.key;
        const Row &r = columns[e.key];
        EXPECT_EQ(at(r, 1), e.col) << e.key;
        EXPECT_EQ(at(r, 2), e.segcol) << e.key;
        EXPECT_EQ(at(r, 6), e.type) << e.key;
        EXPECT_EQ(at(r, 7), e.length) << e.key;
        EXPECT_EQ(at(r, 9), e.precision) << e.key;
        EXPECT_EQ(at(r, 10), e.scale) << e.key;
        EXPECT_EQ(at(r, 11), e.nullable) << e.key;
        EXPECT_EQ(at(r, 14), e.intcol) << e.key;
        EXPECT_EQ(at(r, 15), 0) << e.key;
        EXPECT_EQ(at(r, 16), e.charsetId) << e.key;
        EXPECT_EQ(at(r, 17), e.form) << e.key;
    }
    forgetest::removeScratchDir(s.dir);
}

TEST(ForgeDictionary, IndexAndPartitionRowsFollowTheirKeysAndPointAtTheirSegments) {
    Sample s;
    forgeTheSample(&s);
    // IND$: BO#, then OBJ#, DATAOBJ#, TS#, FILE#, BLOCK# at 1..5.
    std::map<long long, Row> indexes = byNumber(tableRows(s.system, 2, 3), 1);
    ASSERT_EQ(indexes.size(), 6u);
    // The top index of the index-organized CODES holds its segment.
    EXPECT_EQ(at(indexes[73251], 0), 73250);
    EXPECT_EQ(at(indexes[73251], 2), 73251);
    EXPECT_EQ(at(indexes[73251], 4), 4);
    EXPECT_EQ(at(indexes[73251], 5), 232);
    // The LOB indexes of SCOTT.LOBS point at their segment headers in lobs01.dbf.
    for (long long lobIndex : {73262, 73264, 73266}) {
        EXPECT_EQ(at(indexes[lobIndex], 0), 73260);
        EXPECT_EQ(at(indexes[lobIndex], 4), 5);
        const uint8_t *header = blockAt(s.lobs, (uint32_t)at(indexes[lobIndex], 5));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header[0], 16);
    }
    EXPECT_EQ(at(indexes[73183], 0), 73182);
    EXPECT_EQ(at(indexes[73183], 2), 73183);
    EXPECT_EQ(at(indexes[73183], 3), 4);
    EXPECT_EQ(at(indexes[73181], 0), 73180);
    // TABPART$: OBJ#, DATAOBJ# at 0, 1; TS#, FILE#, BLOCK# at 6..8.
    std::vector<Row> parts = tableRows(s.system, 576, 0);
    ASSERT_EQ(parts.size(), 3u);
    for (const Row &r : parts) {
        EXPECT_EQ(at(r, 2), 73190);  // BO#
        EXPECT_EQ(at(r, 6), 4);
        EXPECT_EQ(at(r, 7), 4);
        const uint8_t *header = blockAt(s.users, (uint32_t)at(r, 8));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header[0], 35);  // the partitions are ASSM segments
        EXPECT_EQ(le32(header + 272), (uint32_t)at(r, 1));
    }
    EXPECT_EQ(textAt(parts[2], 5), "MAXVALUE");
    EXPECT_TRUE(tableRows(s.system, 581, 0).empty());
    EXPECT_TRUE(tableRows(s.system, 2, 7).empty());  // COLTYPE$: no object columns
    forgetest::removeScratchDir(s.dir);
}

// Every table of the manifest: its OBJ$, TAB$ (or TABPART$) and COL$ rows
// agree with its segment, and its segment holds the manifest's rows.
TEST(ForgeDictionary, SampleTablesAgreeWithTheirDictionaryRowsSegmentsAndManifest) {
    Sample s;
    forgeTheSample(&s);
    std::vector<Row> users = tableRows(s.system, 10, 1), objects = tableRows(s.system, 18, 0);
    std::map<long long, Row> tabs = byNumber(tableRows(s.system, 2, 1), 0);
    std::map<long long, Row> parts = byNumber(tableRows(s.system, 576, 0), 0);
    std::vector<Row> columns = tableRows(s.system, 2, 5);
    std::vector<std::string> seen;
    for (const ManifestTable &t : s.manifest.tables) {
        SCOPED_TRACE(t.owner + "." + t.name + " " + t.partition);
        // Tables dropped, and the rows of a truncated one under its old id,
        // have no live dictionary rows of that name and id.
        if (t.name == "BONUS" || t.name == "SALGRADE" || (t.name == "EMP_ARCHIVE" && t.objectId == 73290))
            continue;
        long long owner = -1;
        for (const Row &u : users)
            if (textAt(u, 1) == t.owner) owner = at(u, 0);
        ASSERT_GE(owner, 0);
        long long obj = -1, tableObj = -1;
        for (const Row &o : objects) {
            if (at(o, 2) != owner || textAt(o, 3) != t.name) continue;
            if (textAt(o, 5) == t.partition) obj = at(o, 0);
            if (nullAt(o, 5)) tableObj = at(o, 0);
        }
        ASSERT_GE(obj, 0);
        ASSERT_GE(tableObj, 0);
        // The segment: TS#, FILE#, BLOCK# from TAB$ or TABPART$.
        long long dataObj = -1, ts = -1, file = -1, block = -1, clusterTable = 0;
        bool indexOrganized = false;
        if (t.partition.empty()) {
            ASSERT_EQ(tabs.count(obj), 1u);
            const Row &tab = tabs[obj];
            indexOrganized = nullAt(tab, 1);
            if (indexOrganized) {
                // TAB$ records no segment: the IND$ row whose BO# is the table has it.
                EXPECT_EQ(at(tab, 3), 0);
                EXPECT_EQ(at(tab, 4), 0);
                for (const Row &x : tableRows(s.system, 2, 3)) {
                    if (at(x, 0) != obj) continue;
                    dataObj = at(x, 2);
                    ts = at(x, 3);
                    file = at(x, 4);
                    block = at(x, 5);
                }
            }
        }
        if (t.partition.empty() && !indexOrganized) {
            const Row &tab = tabs[obj];
            dataObj = at(tab, 1);
            ts = at(tab, 2);
            file = at(tab, 3);
            block = at(tab, 4);
            clusterTable = nullAt(tab, 6) ? 0 : at(tab, 6);
        } else if (!t.partition.empty()) {
            ASSERT_EQ(parts.count(obj), 1u);
            const Row &part = parts[obj];
            dataObj = at(part, 1);
            ts = at(part, 6);
            file = at(part, 7);
            block = at(part, 8);
        }
        EXPECT_EQ(dataObj, t.objectId);
        EXPECT_EQ(clusterTable, t.clusterTable);
        const Datafile &f = file == 1 ? s.system : file == 5 ? s.lobs : s.users;
        EXPECT_EQ(file, f.rfn);
        EXPECT_EQ(ts, file == 1 ? 0 : file == 5 ? 5 : 4);
        EXPECT_EQ(findSegmentHeader(f, (uint32_t)dataObj), (uint32_t)block);
        // Columns, in SEGCOL# order, as the manifest has them.
        std::map<long long, Row> bySegcol;
        for (const Row &c : columns)
            if (at(c, 0) == tableObj) bySegcol[at(c, 2)] = c;
        ASSERT_EQ(bySegcol.size(), t.columns.size());
        for (size_t i = 0; i < t.columns.size(); i++) {
            const Row &c = bySegcol[(long long)i + 1];
            EXPECT_EQ(textAt(c, 5), t.columns[i].name);
            long long type = t.columns[i].type == kColumnNvarchar2 ? 1
                             : t.columns[i].type == kColumnNclob ? 112 : t.columns[i].type;
            EXPECT_EQ(at(c, 6), type) << t.columns[i].name;
        }
        // The rows of an index-organized table are leaf entries (checked by
        // the index-row tests), not rows of data blocks.
        if (indexOrganized) {
            seen.push_back(t.owner + "." + t.name);
            continue;
        }
        // Rows: every manifest row is the head of a row of that table in the
        // segment, with the manifest's bytes (a chained row's head holds the
        // first of them).
        std::map<std::pair<uint32_t, uint16_t>, Row> stored;
        for (const Row &r : tableRows(f, (uint32_t)dataObj, (uint8_t)t.clusterTable))
            stored[std::make_pair(r.rdba, r.slot)] = r;
        size_t live = 0;
        for (const ManifestRow &m : t.rows) {
            if (m.deleted) continue;
            live++;
            auto found = stored.find(std::make_pair(m.rdba, m.slot));
            ASSERT_NE(found, stored.end()) << m.rdba << "." << m.slot;
            const Row &r = found->second;
            if (r.columns.empty()) continue;  // a migrated row's head
            for (size_t i = 0; i < r.columns.size() && i < m.values.size(); i++) {
                EXPECT_EQ(r.columns[i].null, m.values[i].isNull) << i;
                bool lastPiece = (r.flag & 0x04) != 0;
                if (lastPiece || i + 1 < r.columns.size()) {
                    EXPECT_EQ(r.columns[i].bytes, m.values[i].bytes) << i;
                }
            }
        }
        EXPECT_EQ(stored.size(), live);
        seen.push_back(t.owner + "." + t.name + (t.partition.empty() ? "" : ":" + t.partition));
    }
    std::vector<std::string> expected = {
        "SCOTT.DEPT",   "SCOTT.EMP",       "SCOTT.SALES:P2023", "SCOTT.SALES:P2024", "SCOTT.SALES:PMAX",
        "SCOTT.DOCS",   "SCOTT.ALL_TYPES", "SCOTT.EMP$HIST",    "SCOTT.EXTREMES",    "SCOTT.NOTES",
        "SCOTT.CODES",  "SCOTT.LOBS",      "SCOTT.EMP_ARCHIVE", "SYS.TAB$",          "SYS.IND$",
        "SYS.COL$",     "SYS.COLTYPE$",    "SYS.USER$",         "SYS.OBJ$",          "SYS.TABPART$",
        "SYS.INDPART$", "SYS.TABSUBPART$", "SYS.INDSUBPART$",   "SYS.RECYCLEBIN$"};
    EXPECT_EQ(seen, expected);
    forgetest::removeScratchDir(s.dir);
}

TEST(ForgeDictionary, SampleDirectoryHoldsTheFilesConfigurationManifestAndDescription) {
    Sample s;
    forgeTheSample(&s);
    EXPECT_EQ(forgetest::readText(s.dir + "/zor.cfg"), "system01.dbf\nusers01.dbf\nlobs01.dbf\n");
    EXPECT_EQ(forgetest::readText(s.dir + "/sample.forge"), sampleDescription());
    std::string manifest = forgetest::readText(s.dir + "/manifest.txt");
    EXPECT_NE(manifest.find("table EMP objd 73182 cluster 0 columns 8 rows 14 owner SCOTT\n"), std::string::npos);
    EXPECT_NE(manifest.find("table SALES objd 73191 cluster 0 columns 4 rows 3 owner SCOTT partition P2023\n"),
              std::string::npos);
    EXPECT_NE(manifest.find("text 7839\tKING\tPRESIDENT\t\t1981-11-17 00:00:00\t5000\t\t10\n"), std::string::npos);
    // NVARCHAR2 is stored as UTF-16: "Grüß Gott".
    EXPECT_NE(manifest.find("|0047007200fc00df00200047006f00740074|"), std::string::npos);
    // The same description, run again, writes the same files.
    std::string again = forgetest::makeScratchDir();
    char error[512];
    ASSERT_TRUE(forgeFromText(sampleDescription(), again.c_str(), error, sizeof error)) << error;
    EXPECT_EQ(forgetest::readWholeFile(again + "/system01.dbf"), s.system.bytes);
    EXPECT_EQ(forgetest::readWholeFile(again + "/users01.dbf"), s.users.bytes);
    forgetest::removeScratchDir(again);
    forgetest::removeScratchDir(s.dir);
}
