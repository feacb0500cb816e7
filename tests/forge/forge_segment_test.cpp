// Segment headers, extent map blocks, and a table laid over a segment that
// spans two files, with its manifest.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

FieldValue field(const ColumnDef &column, const char *literal) {
    FieldValue v;
    char error[256];
    EXPECT_TRUE(makeFieldValue(&column, literal, &v, error, sizeof error)) << error;
    return v;
}

const Block *findBlock(const std::vector<SegmentBlock> &blocks, size_t file, uint32_t blockNo) {
    for (const SegmentBlock &b : blocks)
        if (b.file == file && b.blockNo == blockNo) return &b.block;
    return nullptr;
}

// The columns of row piece `slot` of table 0 (uncompressed, no cluster),
// read straight from the bytes, plus its flag and next address.
struct Piece {
    uint8_t flag;
    uint32_t nextRdba;
    uint16_t nextSlot;
    std::vector<std::vector<uint8_t>> columns;
};

Piece readPiece(const Block &b, uint32_t slot) {
    Piece piece = {0, 0, 0, {}};
    uint32_t h = dataHeaderOffset(peekU8(&b, b.order == kBigEndian ? 37 : 36), peekU8(&b, 38));
    uint32_t at = h + peekU16(&b, h + 14 + 4 * peekU8(&b, h + 1) + 2 * (peekU16(&b, h + 14) + slot));
    piece.flag = peekU8(&b, at);
    uint32_t count = peekU8(&b, at + 2);
    uint32_t cursor = at + 3;
    if ((piece.flag & kRowFirst) != 0 && (piece.flag & kRowHead) == 0) cursor += 6;
    if ((piece.flag & kRowLast) == 0) {
        piece.nextRdba = forgetest::be32(&b.bytes[cursor]);
        piece.nextSlot = forgetest::be16(&b.bytes[cursor + 4]);
        cursor += 6;
    }
    for (uint32_t c = 0; c < count; c++) {
        uint32_t length = peekU8(&b, cursor++);
        if (length == 0xFF) {
            piece.columns.push_back({});
            continue;
        }
        if (length == 0xFE) {
            length = peekU16(&b, cursor);
            cursor += 2;
        }
        piece.columns.push_back(std::vector<uint8_t>(b.bytes.begin() + cursor, b.bytes.begin() + cursor + length));
        cursor += length;
    }
    return piece;
}

}  // namespace

TEST(ForgeSegment, HeaderEntriesSitAtTheirOffsetsInBothOrders) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        for (uint8_t type : {kTypeSegmentHeader, kTypeAssmSegmentHeader}) {
            SegmentHeaderLayout h;
            initSegmentHeaderLayout(&h, type, makeRdba(4, 10), 0x12345);
            h.extentCount = 3;
            h.blockCount = 24;
            h.hwmBlocks = 0x01020304;
            h.nextMapRdba = makeRdba(4, 99);
            h.extents = {{makeRdba(4, 10), 8}, {makeRdba(4, 18), 8}, {makeRdba(5, 2), 8}};
            Block block;
            initBlock(&block, 8192, order);
            char error[256];
            ASSERT_TRUE(putSegmentHeader(&block, &h, error, sizeof error)) << error;
            uint32_t count = type == kTypeSegmentHeader ? 92 : 264;
            uint32_t first = type == kTypeSegmentHeader ? 108 : 280;
            EXPECT_EQ(type, peekU8(&block, 0));
            EXPECT_EQ(3u, peekU32(&block, 36));
            EXPECT_EQ(24u, peekU32(&block, 40));
            EXPECT_EQ(0x01020304u, peekU32(&block, 52));
            EXPECT_EQ(3u, peekU32(&block, count));
            EXPECT_EQ(makeRdba(4, 99), peekU32(&block, count + 4));
            EXPECT_EQ(0x12345u, peekU32(&block, count + 8));
            EXPECT_EQ(makeRdba(4, 18), peekU32(&block, first + 8));
            EXPECT_EQ(8u, peekU32(&block, first + 12));
            EXPECT_EQ(makeRdba(5, 2), peekU32(&block, first + 16));
            const uint8_t *raw = &block.bytes[first + 16];
            EXPECT_EQ(makeRdba(5, 2), order == kBigEndian ? forgetest::be32(raw) : forgetest::le32(raw));
        }
    }
}

TEST(ForgeSegment, ExtentMapBlocks) {
    for (uint8_t type : {kTypeExtentMap, kTypeAssmExtentMap}) {
        ExtentMapLayout m;
        initExtentMapLayout(&m, type, makeRdba(4, 40), 77);
        m.extents = {{makeRdba(4, 40), 16}};
        m.nextMapRdba = makeRdba(4, 80);
        Block block;
        initBlock(&block, 4096, kBigEndian);
        char error[256];
        ASSERT_TRUE(putExtentMapBlock(&block, &m, error, sizeof error)) << error;
        EXPECT_EQ(1u, peekU32(&block, 20));
        EXPECT_EQ(makeRdba(4, 80), peekU32(&block, 24));
        EXPECT_EQ(type == kTypeExtentMap ? 77u : 0u, peekU32(&block, 28));
        EXPECT_EQ(makeRdba(4, 40), peekU32(&block, 36));
        EXPECT_EQ(16u, peekU32(&block, 40));
    }
    EXPECT_EQ((8192u - 4 - 108) / 8, extentMapCapacity(kTypeSegmentHeader, 8192));
    EXPECT_EQ((2048u - 4 - 280) / 8, extentMapCapacity(kTypeAssmSegmentHeader, 2048));
    EXPECT_EQ(0u, extentMapCapacity(6, 8192));
}

// A table of 40 rows over four extents in two files, with the header holding
// two extents and map blocks holding one each, a migrated row and a row too
// long for one block.  Every row piece is found where the manifest says and
// holds the manifest's bytes.
TEST(ForgeSegment, FullSegmentOverTwoFiles) {
    for (ByteOrder order : {kLittleEndian, kBigEndian}) {
        for (uint8_t headerType : {kTypeSegmentHeader, kTypeAssmSegmentHeader}) {
            DatafileLayout f1, f2;
            initDatafileLayout(&f1, "a.dbf", 4, 64, 2048, order);
            initDatafileLayout(&f2, "b.dbf", 7, 64, 2048, order);
            const DatafileLayout *files[] = {&f1, &f2};
            SegmentLayout seg;
            initSegmentLayout(&seg, headerType, 90001);
            seg.extents = {{0, 8, 8}, {1, 16, 8}, {0, 40, 8}, {1, 2, 8}};
            seg.headerMapEntries = 2;
            seg.mapBlockEntries = 1;
            seg.rowsPerBlock = 3;
            ColumnDef id = {"ID", kColumnNumber, 0}, name = {"NAME", kColumnVarchar2, 0};
            ManifestTable table;
            table.name = "T";
            table.objectId = 90001;
            table.clusterTable = 0;
            table.columns = {id, name};
            std::vector<TableRow> rows;
            for (int i = 0; i < 40; i++) {
                TableRow r;
                initTableRow(&r);
                r.values.push_back(field(id, std::to_string(i * 7).c_str()));
                if (i == 5) {
                    r.values.push_back(field(name, std::string(3000, 'L').c_str()));  // chained
                } else if (i == 9) {
                    FieldValue null;
                    setNullField(&null);
                    r.values.push_back(null);
                } else {
                    r.values.push_back(field(name, ("name" + std::to_string(i) + std::string(60, '.')).c_str()));
                }
                r.migrated = i == 12;
                r.deleted = i == 13;
                rows.push_back(r);
            }
            std::vector<SegmentBlock> blocks;
            char error[256];
            ASSERT_TRUE(laySegment(files, 2, &seg, rows, &blocks, &table, error, sizeof error)) << error;
            ASSERT_EQ(40u, table.rows.size());
            for (const SegmentBlock &b : blocks) EXPECT_TRUE(blockVerifies(&b.block));

            // Header and maps.
            uint32_t headerBlock = headerType == kTypeSegmentHeader ? 8 : 10;
            const Block *header = findBlock(blocks, 0, headerBlock);
            ASSERT_NE(nullptr, header);
            EXPECT_EQ(headerType, peekU8(header, 0));
            EXPECT_EQ(4u, peekU32(header, 36));
            EXPECT_EQ(32u, peekU32(header, 40));
            uint32_t count = headerType == kTypeSegmentHeader ? 92 : 264;
            uint32_t first = headerType == kTypeSegmentHeader ? 108 : 280;
            EXPECT_EQ(2u, peekU32(header, count));
            EXPECT_EQ(makeRdba(4, 40), peekU32(header, count + 4));
            EXPECT_EQ(makeRdba(7, 16), peekU32(header, first + 8));
            const Block *map1 = findBlock(blocks, 0, 40);
            ASSERT_NE(nullptr, map1);
            EXPECT_EQ(headerType == kTypeSegmentHeader ? kTypeExtentMap : kTypeAssmExtentMap, peekU8(map1, 0));
            EXPECT_EQ(1u, peekU32(map1, 20));
            EXPECT_EQ(makeRdba(7, 2), peekU32(map1, 24));
            EXPECT_EQ(makeRdba(4, 40), peekU32(map1, 36));
            const Block *map2 = findBlock(blocks, 1, 2);
            ASSERT_NE(nullptr, map2);
            EXPECT_EQ(0u, peekU32(map2, 24));
            EXPECT_EQ(makeRdba(7, 2), peekU32(map2, 36));

            // Every row from the manifest, following its chain.
            std::map<uint32_t, const Block *> byRdba;
            for (const SegmentBlock &b : blocks) byRdba[peekU32(&b.block, 4)] = &b.block;
            bool sawSecondFile = false;
            for (size_t i = 0; i < table.rows.size(); i++) {
                const ManifestRow &m = table.rows[i];
                ASSERT_TRUE(byRdba.count(m.rdba)) << i;
                if ((m.rdba >> 22) == 7) sawSecondFile = true;
                Piece piece = readPiece(*byRdba[m.rdba], m.slot);
                EXPECT_NE(0, piece.flag & kRowHead) << i;
                EXPECT_EQ(i == 13, (piece.flag & kRowDeleted) != 0) << i;
                std::vector<std::vector<uint8_t>> columns = piece.columns;
                int hops = 0;
                while ((piece.flag & kRowLast) == 0) {
                    ASSERT_TRUE(byRdba.count(piece.nextRdba)) << i;
                    bool continues = (piece.flag & kRowNext) != 0;
                    piece = readPiece(*byRdba[piece.nextRdba], piece.nextSlot);
                    size_t from = 0;
                    if (continues) {
                        ASSERT_NE(0, piece.flag & kRowPrevious);
                        columns.back().insert(columns.back().end(), piece.columns[0].begin(), piece.columns[0].end());
                        from = 1;
                    }
                    columns.insert(columns.end(), piece.columns.begin() + (long)from, piece.columns.end());
                    hops++;
                }
                if (i == 5) {
                    EXPECT_GE(hops, 1);
                }
                if (i == 12) {
                    EXPECT_EQ(1, hops);
                }
                size_t stored = m.values.size();
                while (stored > 0 && m.values[stored - 1].isNull) stored--;
                ASSERT_EQ(stored, columns.size()) << i;
                for (size_t c = 0; c < stored; c++) EXPECT_EQ(m.values[c].bytes, columns[c]) << i << " " << c;
            }
            EXPECT_TRUE(sawSecondFile);
            EXPECT_EQ("0|name0" + std::string(60, '.') + "\n", manifestRecord(&table.rows[0], "|", "\n"));
            EXPECT_EQ("63\n", manifestRecord(&table.rows[9], "|", "\n"));
        }
    }
}

TEST(ForgeSegment, ManifestText) {
    Manifest manifest;
    ManifestTable t;
    t.name = "EMP";
    t.objectId = 5;
    t.clusterTable = 0;
    t.columns = {{"EMPNO", kColumnNumber, 0}, {"ENAME", kColumnChar, 6}};
    ManifestRow r;
    r.rdba = makeRdba(4, 10);
    r.table = 0;
    r.slot = 2;
    r.deleted = true;
    r.lock = 1;
    r.values.push_back(field(t.columns[0], "7369"));
    r.values.push_back(field(t.columns[1], "A\tB"));
    t.rows.push_back(r);
    manifest.tables.push_back(t);
    EXPECT_EQ("table EMP objd 5 cluster 0 columns 2 rows 1\n"
              "column EMPNO NUMBER\n"
              "column ENAME CHAR 6\n"
              "row 16777226.0.2 deleted lock 1\n"
              "bytes c24a46|410942202020\n"
              "text 7369\tA\\tB\n",
              formatManifest(&manifest));
}

TEST(ForgeSegment, TooSmallExtentsAreAnError) {
    DatafileLayout f;
    initDatafileLayout(&f, "a.dbf", 4, 20, 2048, kLittleEndian);
    const DatafileLayout *files[] = {&f};
    SegmentLayout seg;
    initSegmentLayout(&seg, kTypeSegmentHeader, 1);
    seg.extents = {{0, 4, 2}};
    ColumnDef c = {"V", kColumnVarchar2, 0};
    std::vector<TableRow> rows;
    for (int i = 0; i < 20; i++) {
        TableRow r;
        initTableRow(&r);
        r.values.push_back(field(c, std::string(200, 'x').c_str()));
        rows.push_back(r);
    }
    std::vector<SegmentBlock> blocks;
    char error[256];
    EXPECT_FALSE(laySegment(files, 1, &seg, rows, &blocks, nullptr, error, sizeof error));
    seg.extents = {{0, 18, 8}};  // past the end of the file
    EXPECT_FALSE(laySegment(files, 1, &seg, rows, &blocks, nullptr, error, sizeof error));
}

// A row of more than 255 columns is cut as Oracle cuts it: 255-column pieces
// counted from its end, the head piece holding the rest, pieces sharing a
// block while they fit; a row too long for a block still goes on in the next.
TEST(ForgeSegment, WideRowsArePiecesOf255ColumnsCountedFromTheEnd)
{
    struct Case {
        size_t columns;
        size_t valueBytes;
        std::vector<size_t> pieceColumns;
    };
    const Case cases[] = {
        {600, 1, {90, 255, 255}},
        {510, 1, {255, 255}},
        {256, 1, {1, 255}},
        {4096, 1, {16, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}},
    };
    for (const Case &c : cases) {
        DatafileLayout f;
        initDatafileLayout(&f, "a.dbf", 4, 64, 8192, kLittleEndian);
        const DatafileLayout *files[] = {&f};
        SegmentLayout seg;
        initSegmentLayout(&seg, kTypeSegmentHeader, 90002);
        seg.extents = {{0, 8, 32}};
        ColumnDef column = {"V", kColumnVarchar2, 0};
        ManifestTable table;
        table.columns.assign(c.columns, column);
        TableRow r;
        initTableRow(&r);
        for (size_t i = 0; i < c.columns; i++)
            r.values.push_back(field(column, std::string(c.valueBytes, (char)('a' + i % 26)).c_str()));
        std::vector<SegmentBlock> blocks;
        char error[256];
        ASSERT_TRUE(laySegment(files, 1, &seg, {r}, &blocks, &table, error, sizeof error)) << error;
        std::map<uint32_t, const Block *> byRdba;
        for (const SegmentBlock &b : blocks)
            byRdba[peekU32(&b.block, 4)] = &b.block;
        const ManifestRow &m = table.rows.at(0);
        Piece piece = readPiece(*byRdba.at(m.rdba), m.slot);
        std::vector<size_t> counts = {piece.columns.size()};
        size_t sharedBlocks = 0;
        uint32_t rdba = m.rdba;
        while ((piece.flag & kRowLast) == 0) {
            EXPECT_EQ(0, piece.flag & (kRowNext | kRowPrevious)) << c.columns;
            if (piece.nextRdba == rdba)
                sharedBlocks++;
            rdba = piece.nextRdba;
            piece = readPiece(*byRdba.at(rdba), piece.nextSlot);
            counts.push_back(piece.columns.size());
        }
        EXPECT_EQ(counts, c.pieceColumns) << c.columns;
        EXPECT_GT(sharedBlocks, 0u) << c.columns;
        EXPECT_GT(m.pieceRdbas.size(), 1u);
    }
}
