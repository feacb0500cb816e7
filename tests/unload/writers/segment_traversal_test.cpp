// A segment of more than 50,000 rows over eighteen extents in three files,
// written with the forge: a segment header and two extent map blocks list the
// extents; free blocks and blocks of another object lie between them; rows
// are plain, with NULLs inside and at the end, deleted, chained over two
// blocks and migrated.  UNLOAD OBJECT through each traversal (the extent map,
// a scan of the files, the extent file of SCAN PARALLELEXT) must write
// exactly the rows the generator recorded, and the extent scans must find
// exactly the extents it laid out.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "column_values.h"
#include "forge/forge.h"
#include "scan/zor_session.h"

namespace {

using zorsession::readWhole;
using zorsession::runCommands;

constexpr uint32_t kBlockSize = 8192;
constexpr uint32_t kObjd = 70001;
constexpr uint32_t kForeignObjd = 80002;
constexpr uint32_t kFileBlocks = 400;
constexpr int kFiles = 3;
constexpr uint16_t kFirstRfn = 4;
constexpr int kExtents = 18;
constexpr uint32_t kExtentBlocks = 20;
constexpr uint32_t kRowsPerBlock = 160;
constexpr uint32_t kMapBlockNo = 5;

struct Extent {
    uint16_t rfn;
    uint32_t first;
};

struct Generated {
    std::vector<std::string> manifest;  // expected records, without the record tag
    std::vector<Extent> extents;        // in extent-map order
    uint32_t chained = 0;
    uint32_t migrated = 0;
    uint32_t deleted = 0;
};

// Where extent k lies: the files take turns; each file's extents are 50
// blocks apart, so 30 blocks of gap follow each one.
Extent extentAt(int k)
{
    Extent e;
    e.rfn = static_cast<uint16_t>(kFirstRfn + k % kFiles);
    e.first = 20 + static_cast<uint32_t>(k / kFiles) * 50;
    return e;
}

// The stored columns of row i and the record ZOR must write for it.
std::vector<forge::ColumnValue> rowColumns(uint64_t i, std::string *record)
{
    std::vector<forge::ColumnValue> columns;
    columns.push_back(numberValue(static_cast<long long>(i)));
    columns.push_back(textValue("N" + std::to_string(i)));
    *record = std::to_string(i) + "|N" + std::to_string(i) + "|";
    if (i % 7 == 0) {
        columns.push_back(nullValue());  // a NULL inside the row
    } else {
        columns.push_back(numberValue(static_cast<long long>(i * 3)));
        *record += std::to_string(i * 3);
    }
    if (i % 3 == 1) {
        columns.push_back(textValue("note" + std::to_string(i)));
        *record += "|note" + std::to_string(i);
    } else if (i % 3 == 2) {
        columns.push_back(nullValue());  // a trailing NULL that is stored
        *record += "|";
    }
    // i % 3 == 0: the trailing NULL is not stored at all.
    return columns;
}

// The body of a migrated row (F and L, no H) with the address of its head,
// laid out byte by byte: the committed forge writes no head address.
std::vector<uint8_t> migratedBody(const std::vector<forge::ColumnValue> &columns, uint32_t headRdba,
                                  uint16_t headSlot)
{
    std::vector<uint8_t> raw = {static_cast<uint8_t>(forge::kRowFirst | forge::kRowLast), 0,
                                static_cast<uint8_t>(columns.size())};
    for (int shift = 24; shift >= 0; shift -= 8)
        raw.push_back(static_cast<uint8_t>(headRdba >> shift));
    raw.push_back(static_cast<uint8_t>(headSlot >> 8));
    raw.push_back(static_cast<uint8_t>(headSlot));
    for (const forge::ColumnValue &c : columns) {
        if (c.isNull) {
            raw.push_back(0xFF);
            continue;
        }
        raw.push_back(static_cast<uint8_t>(c.bytes.size()));
        raw.insert(raw.end(), c.bytes.begin(), c.bytes.end());
    }
    return raw;
}

forge::RowPiece plainRow(const std::vector<forge::ColumnValue> &columns)
{
    forge::RowPiece row;
    forge::initRowPiece(&row);
    row.columns = columns;
    return row;
}

bool sealAndWrite(forge::DatafileWriter *writer, uint32_t blockNo, forge::Block *block, std::string *error)
{
    char message[256] = "";
    forge::sealBlock(block);
    if (!forge::writeBlockAt(writer, blockNo, block, message, sizeof message)) {
        *error = message;
        return false;
    }
    return true;
}

// Segment header (type 16) or extent map block (18, 36) listing extents
// [from, to) and chaining to `next`.
forge::Block mapBlock(uint8_t type, uint32_t rdba, int from, int to, uint32_t next)
{
    forge::Block block;
    forge::initBlock(&block, kBlockSize, forge::ByteOrder::kLittleEndian);
    forge::CacheHeader header;
    forge::initCacheHeader(&header, type, rdba);
    forge::putCacheHeader(&block, &header);
    uint32_t countAt = type == 16 ? 92 : 20;
    uint32_t nextAt = type == 16 ? 96 : 24;
    uint32_t entriesAt = type == 16 ? 108 : 36;
    if (type == 16) {
        forge::putU32(&block, 36, kExtents);
        forge::putU32(&block, 100, kObjd);
    } else if (type == 18) {
        forge::putU32(&block, 28, kObjd);
    }
    forge::putU32(&block, countAt, static_cast<uint32_t>(to - from));
    forge::putU32(&block, nextAt, next);
    for (int k = from; k < to; k++) {
        Extent e = extentAt(k);
        uint32_t at = entriesAt + 8 * static_cast<uint32_t>(k - from);
        forge::putU32(&block, at, forge::makeRdba(e.rfn, e.first));
        forge::putU32(&block, at + 4, kExtentBlocks);
    }
    return block;
}

bool generateSegment(const std::string &dir, Generated *out, std::string *error)
{
    forge::DatafileWriter writers[kFiles];
    std::string config;
    for (int f = 0; f < kFiles; f++) {
        std::string name = "seg0" + std::to_string(f + 1) + ".dbf";
        forge::DatafileLayout layout;
        forge::initDatafileLayout(&layout, (dir + "/" + name).c_str(), static_cast<uint16_t>(kFirstRfn + f),
                                  kFileBlocks, kBlockSize, forge::ByteOrder::kLittleEndian);
        char message[256] = "";
        if (!forge::openDatafileWriter(&writers[f], &layout, message, sizeof message)) {
            *error = message;
            return false;
        }
        config += name + "\n";
    }
    FILE *cfg = fopen((dir + "/seg.cfg").c_str(), "w");
    if (cfg == nullptr)
        return false;
    fputs(config.c_str(), cfg);
    fclose(cfg);

    // The header lists extents 0..7, the first map block 8..13, the second
    // 14..17.
    forge::Block header =
        mapBlock(16, forge::makeRdba(4, kMapBlockNo), 0, 8, forge::makeRdba(5, kMapBlockNo));
    forge::Block map1 = mapBlock(18, forge::makeRdba(5, kMapBlockNo), 8, 14, forge::makeRdba(6, kMapBlockNo));
    forge::Block map2 = mapBlock(36, forge::makeRdba(6, kMapBlockNo), 14, kExtents, 0);
    if (!sealAndWrite(&writers[0], kMapBlockNo, &header, error) ||
        !sealAndWrite(&writers[1], kMapBlockNo, &map1, error) ||
        !sealAndWrite(&writers[2], kMapBlockNo, &map2, error))
        return false;

    uint64_t rowId = 1;
    for (int k = 0; k < kExtents; k++) {
        Extent e = extentAt(k);
        out->extents.push_back(e);
        forge::DatafileWriter *writer = &writers[e.rfn - kFirstRfn];
        // Pieces that the previous block of the extent moved into this one.
        forge::RowPiece chainedTail;
        forge::RowPiece migrated;
        bool hasTail = false;
        bool hasMigrated = false;
        std::vector<forge::DataBlockLayout> blocks(kExtentBlocks);
        for (uint32_t b = 0; b < kExtentBlocks; b++) {
            uint32_t blockNo = e.first + b;
            uint32_t rdba = forge::makeRdba(e.rfn, blockNo);
            forge::DataBlockLayout *layout = &blocks[b];
            forge::initDataBlockLayout(layout, rdba, kObjd);
            if (hasTail)
                layout->rows.push_back(chainedTail);
            if (hasMigrated)
                layout->rows.push_back(migrated);
            hasTail = hasMigrated = false;
            bool lastOfExtent = b + 1 == kExtentBlocks;
            uint32_t nextRdba = forge::makeRdba(e.rfn, blockNo + 1);
            for (uint32_t r = 0; r < kRowsPerBlock; r++) {
                std::string record;
                std::vector<forge::ColumnValue> columns = rowColumns(rowId, &record);
                uint16_t slot = static_cast<uint16_t>(layout->rows.size());
                if (rowId % 50 == 0) {
                    forge::RowPiece row = plainRow(columns);
                    row.flag |= forge::kRowDeleted;
                    layout->rows.push_back(row);
                    out->deleted++;
                } else if (!lastOfExtent && r == 1) {
                    // Migrated: the head stays, the body moves on.
                    forge::RowPiece head;
                    forge::initRowPiece(&head);
                    head.flag = forge::kRowHead;
                    head.hasNext = true;
                    head.nextRdba = nextRdba;
                    head.nextSlot = 1;
                    layout->rows.push_back(head);
                    forge::initRowPiece(&migrated);
                    migrated.raw = migratedBody(columns, rdba, slot);
                    hasMigrated = true;
                    out->migrated++;
                    out->manifest.push_back(record);
                } else if (!lastOfExtent && r + 1 == kRowsPerBlock && columns.size() >= 3) {
                    // Chained: id and name here, the rest at slot 0 of the next block.
                    forge::RowPiece head;
                    forge::initRowPiece(&head);
                    head.flag = forge::kRowHead | forge::kRowFirst;
                    head.hasNext = true;
                    head.nextRdba = nextRdba;
                    head.nextSlot = 0;
                    head.columns.assign(columns.begin(), columns.begin() + 2);
                    layout->rows.push_back(head);
                    forge::initRowPiece(&chainedTail);
                    chainedTail.flag = forge::kRowLast;
                    chainedTail.columns.assign(columns.begin() + 2, columns.end());
                    hasTail = true;
                    out->chained++;
                    out->manifest.push_back(record);
                } else {
                    layout->rows.push_back(plainRow(columns));
                    out->manifest.push_back(record);
                }
                rowId++;
            }
            // A migrated body must sit at slot 1 of the next block: without a
            // chained tail before it, a free entry keeps slot 0.
            if (hasMigrated && !hasTail) {
                forge::initRowPiece(&chainedTail);
                chainedTail.freeEntry = true;
                hasTail = true;
            }
        }
        for (uint32_t b = 0; b < kExtentBlocks; b++) {
            forge::Block block;
            forge::initBlock(&block, kBlockSize, forge::ByteOrder::kLittleEndian);
            char message[256] = "";
            if (!forge::putDataBlock(&block, &blocks[b], message, sizeof message)) {
                *error = message;
                return false;
            }
            if (!sealAndWrite(writer, e.first + b, &block, error))
                return false;
        }
        // A block of another object right after the extent, so that the run
        // scans must end the extent there.
        forge::DataBlockLayout foreign;
        forge::initDataBlockLayout(&foreign, forge::makeRdba(e.rfn, e.first + kExtentBlocks), kForeignObjd);
        std::string ignored;
        foreign.rows.push_back(plainRow(rowColumns(999999999, &ignored)));
        forge::Block block;
        forge::initBlock(&block, kBlockSize, forge::ByteOrder::kLittleEndian);
        char message[256] = "";
        if (!forge::putDataBlock(&block, &foreign, message, sizeof message)) {
            *error = message;
            return false;
        }
        if (!sealAndWrite(writer, e.first + kExtentBlocks, &block, error))
            return false;
    }
    for (int f = 0; f < kFiles; f++) {
        char message[256] = "";
        if (!forge::closeDatafileWriter(&writers[f], message, sizeof message)) {
            *error = message;
            return false;
        }
    }
    return true;
}

// Records of an unloaded file, split at the record tag CR LF.
std::vector<std::string> records(const std::string &path)
{
    std::vector<std::string> out;
    std::string text = readWhole(path);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(text.substr(at) + "<unterminated>");
            break;
        }
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> extentLinesOf(const std::string &path, uint32_t objd)
{
    std::vector<std::string> out;
    std::string prefix = std::to_string(objd) + ",";
    for (const std::string &line : records(path)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    }
    return out;
}

class SegmentTraversalTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        dir_ = scratch_.path;
    }
    void TearDown() override
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }
    zorsession::ScratchDirectory scratch_;
    std::string dir_;
};

size_t countOf(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST_F(SegmentTraversalTest, EveryTraversalWritesExactlyTheGeneratedRows)
{
    Generated generated;
    std::string error;
    ASSERT_TRUE(generateSegment(dir_, &generated, &error)) << error;
    ASSERT_GE(generated.manifest.size(), 50000u);
    ASSERT_GT(generated.chained, 250u);
    ASSERT_GT(generated.migrated, 250u);
    ASSERT_GT(generated.deleted, 1000u);
    const std::string columns = " COLUMN NUMBER VARCHAR2 NUMBER VARCHAR2";
    std::string commands =
        "OPEN seg.cfg\n"
        "UNLOAD OBJECT 70001" +
        columns +
        " TO by_header.txt;\n"
        // With its header marked corrupt and no extent file, the segment is
        // found by scanning the files.
        "CORRUPT FILE 4 BLOCK 5\n"
        "UNLOAD OBJECT 70001 EXTENT none.txt" +
        columns +
        " TO by_scan.txt;\n"
        "CORRUPT CLEAR\n"
        "SCAN EXTENT;\n"
        "HOST cp ZORDICT/ZOREXT.TXT serial.txt\n"
        "SCAN PARALLELEXT;\n"
        "UNLOAD OBJECT 70001" +
        columns + " TO by_extent.txt;\n";
    std::string printed = runCommands(commands);
    std::string report = "Sucessfully unload " + std::to_string(generated.manifest.size()) + " rows ...\n";
    EXPECT_EQ(countOf(printed, report), 3u) << printed;

    std::vector<std::string> expected = sorted(generated.manifest);
    for (const char *name : {"by_header.txt", "by_scan.txt", "by_extent.txt"}) {
        std::vector<std::string> got = records(dir_ + "/" + name);
        EXPECT_EQ(got.size(), generated.manifest.size()) << name;
        EXPECT_TRUE(sorted(got) == expected) << name << " differs from the generated rows";
    }
    // The extent map walk meets the rows in the generator's order.
    EXPECT_TRUE(records(dir_ + "/by_header.txt") == generated.manifest);

    std::vector<std::string> extents;
    for (const Extent &e : generated.extents)
        extents.push_back(std::to_string(kObjd) + "," + std::to_string(e.rfn) + "," +
                          std::to_string(e.first) + "," + std::to_string(kExtentBlocks));
    std::vector<std::string> serial = extentLinesOf(dir_ + "/serial.txt", kObjd);
    std::vector<std::string> parallel = extentLinesOf(dir_ + "/ZORDICT/ZOREXT.TXT", kObjd);
    EXPECT_TRUE(sorted(serial) == sorted(extents));
    EXPECT_TRUE(sorted(parallel) == sorted(extents));
    EXPECT_EQ(extentLinesOf(dir_ + "/serial.txt", kForeignObjd).size(), static_cast<size_t>(kExtents));
}

TEST_F(SegmentTraversalTest, LimitStopsEveryTraversalAtItsRowCount)
{
    Generated generated;
    std::string error;
    ASSERT_TRUE(generateSegment(dir_, &generated, &error)) << error;
    std::string commands =
        "OPEN seg.cfg\n"
        "UNLOAD OBJECT 70001 LIMIT 1234 COLUMN NUMBER VARCHAR2 NUMBER VARCHAR2 TO limited.txt;\n";
    std::string printed = runCommands(commands);
    EXPECT_EQ(countOf(printed, "Sucessfully unload 1234 rows ...\n"), 1u) << printed;
    std::vector<std::string> got = records(dir_ + "/limited.txt");
    ASSERT_EQ(got.size(), 1234u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), generated.manifest.begin()));
}

// OLTP-compressed blocks: symbols shared by rows, inline values, NULL codes,
// a column permutation, and deleted and uncommitted rows, unloaded through a
// file scan (the object has no segment header).
std::vector<uint8_t> bytesOf(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Two OLTP-compressed blocks of objd at rdbas plainRdba and permutedRdba:
// symbols, NULLs, a deleted row, an open and a committed lock, a permutation.
bool makeCompressedBlocks(uint32_t objd, uint32_t plainRdba, uint32_t permutedRdba,
                          forge::PlacedBlock blocks[2], std::string *error)
{
    forge::CompressedBlockLayout plain;
    forge::initCompressedBlockLayout(&plain, plainRdba, objd);
    forge::SymbolEntry sales, boston, pair;
    sales.codes = {forge::valueCode(bytesOf("SALES"))};
    boston.codes = {forge::valueCode(bytesOf("BOSTON"))};
    pair.codes = {forge::symbolCode(0), forge::symbolCode(1)};
    plain.symbols = {sales, boston, pair};
    plain.symbolThreshold = 3;
    forge::ItlEntry open, done;
    forge::initItlEntry(&open);
    forge::initItlEntry(&done);
    open.lockCount = 1;
    done.flag = forge::kItlFlagCommitted;
    done.lockCount = 1;
    plain.base.itl = {open, done};
    const std::vector<std::vector<forge::CompressedCode>> rows = {
        {forge::valueCode(forge::encodeNumber(1)), forge::symbolCode(0), forge::symbolCode(1)},
        {forge::valueCode(forge::encodeNumber(2)), forge::symbolCode(0), forge::valueCode(bytesOf("NY"))},
        {forge::valueCode(forge::encodeNumber(3)), forge::nullCode(), forge::symbolCode(1)},
        {forge::valueCode(forge::encodeNumber(4)), forge::symbolCode(2)},
        {forge::valueCode(forge::encodeNumber(5)), forge::valueCode(bytesOf("GONE"))},
        {forge::valueCode(forge::encodeNumber(6)), forge::valueCode(bytesOf("OPEN"))},
        {forge::valueCode(forge::encodeNumber(7)), forge::valueCode(bytesOf("DONE"))},
    };
    for (size_t i = 0; i < rows.size(); i++) {
        forge::CompressedRow row;
        forge::initCompressedRow(&row);
        row.codes = rows[i];
        if (i == 4)
            row.flag |= forge::kRowDeleted;
        if (i == 5)
            row.lock = 1;
        if (i == 6)
            row.lock = 2;
        plain.rows.push_back(row);
    }

    // Stored order (dept, id, city); the permutation gives (id, dept, city).
    forge::CompressedBlockLayout permuted;
    forge::initCompressedBlockLayout(&permuted, permutedRdba, objd);
    permuted.symbols = {sales};
    permuted.symbolThreshold = 1;
    permuted.permutation = {1, 0, 2};
    forge::CompressedRow row;
    forge::initCompressedRow(&row);
    row.codes = {forge::symbolCode(0), forge::valueCode(forge::encodeNumber(8)),
                 forge::valueCode(bytesOf("LA"))};
    permuted.rows.push_back(row);

    blocks[0].blockNo = plainRdba & 0x3FFFFF;
    blocks[1].blockNo = permutedRdba & 0x3FFFFF;
    char message[256] = "";
    forge::initBlock(&blocks[0].block, kBlockSize, forge::ByteOrder::kLittleEndian);
    forge::initBlock(&blocks[1].block, kBlockSize, forge::ByteOrder::kLittleEndian);
    if (!forge::putCompressedBlock(&blocks[0].block, &plain, message, sizeof message) ||
        !forge::putCompressedBlock(&blocks[1].block, &permuted, message, sizeof message)) {
        *error = message;
        return false;
    }
    forge::sealBlock(&blocks[0].block);
    forge::sealBlock(&blocks[1].block);
    return true;
}

bool writeCompressedSegment(const std::string &dir, std::string *error)
{
    forge::PlacedBlock blocks[2];
    if (!makeCompressedBlocks(5150, forge::makeRdba(7, 3), forge::makeRdba(7, 4), blocks, error))
        return false;
    forge::DatafileLayout layout;
    forge::initDatafileLayout(&layout, (dir + "/comp01.dbf").c_str(), 7, 10, kBlockSize,
                              forge::ByteOrder::kLittleEndian);
    char message[256] = "";
    if (!forge::writeDatafile(&layout, blocks, 2, message, sizeof message)) {
        *error = message;
        return false;
    }
    FILE *cfg = fopen((dir + "/comp.cfg").c_str(), "w");
    if (cfg == nullptr)
        return false;
    fputs("comp01.dbf\n", cfg);
    fclose(cfg);
    return true;
}

TEST_F(SegmentTraversalTest, CompressedRowsExpandTheirSymbolsInOutputOrder)
{
    std::string error;
    ASSERT_TRUE(writeCompressedSegment(dir_, &error)) << error;
    const std::string columns = " COLUMN NUMBER VARCHAR2 VARCHAR2";
    std::string commands =
        "OPEN comp.cfg\n"
        "UNLOAD OBJECT 5150" +
        columns +
        " TO plain.txt;\n"
        "SET DELETED_ROW TRUE\n"
        "SET COMMITED_ONLY TRUE\n"
        "UNLOAD OBJECT 5150" +
        columns + " TO filtered.txt;\n";
    std::string printed = runCommands(commands);
    EXPECT_EQ(countOf(printed, "Sucessfully unload 7 rows ...\n"), 2u) << printed;
    std::vector<std::string> plain = {"1|SALES|BOSTON", "2|SALES|NY", "3||BOSTON", "4|SALES|BOSTON",
                                      "6|OPEN",         "7|DONE",     "8|SALES|LA"};
    // Row 6 is shown only when the switch is off; the deleted row 5 only
    // when DELETED_ROW is on.
    std::vector<std::string> filtered = {"1|SALES|BOSTON", "2|SALES|NY", "3||BOSTON", "4|SALES|BOSTON",
                                         "5|GONE",         "7|DONE",     "8|SALES|LA"};
    EXPECT_EQ(records(dir_ + "/plain.txt"), plain);
    EXPECT_EQ(records(dir_ + "/filtered.txt"), filtered);
}

// The same three traversals over a segment laid out by the forge itself (an
// ASSM header, extent map blocks, rows chained inside a column, migrated and
// deleted rows), checked against the forge's manifest.
// The size of a laid segment: rows, twelve extents of extentBlocks, and
// with compressed set a thirteenth extent of two OLTP-compressed blocks.
struct LaidSize {
    uint32_t rows;
    uint32_t extentBlocks;
    bool compressed;
};
constexpr LaidSize kLaidDefault = {52000, 100, false};
constexpr int kLaidExtents = 12;

bool layForgeSegment(const std::string &dir, forge::ManifestTable *table,
                     std::vector<forge::SegmentExtent> *extents, std::string *error,
                     LaidSize size = kLaidDefault)
{
    char message[256] = "";
    forge::DatafileLayout files[kFiles];
    const forge::DatafileLayout *filePointers[kFiles];
    std::string config;
    uint32_t stride = size.extentBlocks + 20;
    uint32_t fileBlocks = std::max(700u, 10 + (kLaidExtents / kFiles + 1) * stride);
    for (int f = 0; f < kFiles; f++) {
        std::string name = "lay0" + std::to_string(f + 1) + ".dbf";
        forge::initDatafileLayout(&files[f], (dir + "/" + name).c_str(), static_cast<uint16_t>(kFirstRfn + f),
                                  fileBlocks, kBlockSize, forge::ByteOrder::kLittleEndian);
        filePointers[f] = &files[f];
        config += name + "\n";
    }
    forge::SegmentLayout segment;
    forge::initSegmentLayout(&segment, forge::kTypeAssmSegmentHeader, 60606);
    int extentCount = size.compressed ? kLaidExtents + 1 : kLaidExtents;
    for (int k = 0; k < extentCount; k++) {
        forge::ExtentPlace place;
        place.file = static_cast<size_t>(k % kFiles);
        place.firstBlock = 10 + static_cast<uint32_t>(k / kFiles) * stride;
        place.blocks = k < kLaidExtents ? size.extentBlocks : 2;
        segment.extents.push_back(place);
        forge::SegmentExtent e;
        e.rdba = forge::makeRdba(static_cast<uint32_t>(kFirstRfn + k % kFiles), place.firstBlock);
        e.blocks = place.blocks;
        extents->push_back(e);
    }
    segment.headerMapEntries = 5;
    segment.mapBlockEntries = 4;

    table->name = "LAID";
    table->objectId = 60606;
    table->clusterTable = 0;
    table->columns = {{"ID", forge::kColumnNumber, 0},
                      {"NAME", forge::kColumnVarchar2, 0},
                      {"BORN", forge::kColumnDate, 0},
                      {"TAG", forge::kColumnRaw, 0}};
    std::vector<forge::TableRow> rows;
    for (uint32_t i = 1; i <= size.rows; i++) {
        forge::TableRow row;
        forge::initTableRow(&row);
        row.values.resize(4);
        std::string id = std::to_string(i);
        std::string name = "name-" + std::to_string(i * 7);
        char born[32];
        snprintf(born, sizeof born, "2001-%02u-%02u %02u:%02u:00", 1 + i % 12, 1 + i % 28, i % 24, i % 60);
        char tag[16];
        snprintf(tag, sizeof tag, "%08X", i * 2654435761u);
        if (!forge::makeFieldValue(&table->columns[0], id.c_str(), &row.values[0], message, sizeof message) ||
            !forge::makeFieldValue(&table->columns[1], name.c_str(), &row.values[1], message,
                                   sizeof message) ||
            !forge::makeFieldValue(&table->columns[2], born, &row.values[2], message, sizeof message) ||
            !forge::makeFieldValue(&table->columns[3], tag, &row.values[3], message, sizeof message)) {
            *error = message;
            return false;
        }
        if (i % 11 == 0)
            forge::setNullField(&row.values[1]);
        if (i % 13 == 0)
            forge::setNullField(&row.values[3]);  // trailing NULL, not stored
        row.deleted = i % 97 == 0;
        row.migrated = i % 131 == 0;
        if (i % 173 == 0 && i % 11 != 0) {
            forge::RowCut inside = {1, 3};  // NAME split between two pieces
            forge::RowCut before = {2, 0};  // BORN starts a third piece
            row.cuts = {inside, before};
        }
        rows.push_back(row);
    }
    std::vector<forge::SegmentBlock> blocks;
    if (!forge::laySegment(filePointers, kFiles, &segment, rows, &blocks, table, message, sizeof message)) {
        *error = message;
        return false;
    }
    // The last extent is left to the compressed blocks: the rows must fit
    // before it.
    forge::PlacedBlock packed[2];
    const forge::ExtentPlace &last = segment.extents.back();
    if (size.compressed) {
        uint32_t rfn = kFirstRfn + static_cast<uint32_t>(last.file);
        if (!makeCompressedBlocks(60606, forge::makeRdba(rfn, last.firstBlock),
                                  forge::makeRdba(rfn, last.firstBlock + 1), packed, error))
            return false;
    }
    for (int f = 0; f < kFiles; f++) {
        std::vector<forge::PlacedBlock> placed;
        for (const forge::SegmentBlock &b : blocks) {
            if (b.file != static_cast<size_t>(f))
                continue;
            if (size.compressed && b.file == last.file && b.blockNo >= last.firstBlock &&
                b.blockNo < last.firstBlock + last.blocks)
                continue;
            forge::PlacedBlock p;
            p.blockNo = b.blockNo;
            p.block = b.block;
            placed.push_back(p);
        }
        if (size.compressed && static_cast<size_t>(f) == last.file)
            placed.insert(placed.end(), packed, packed + 2);
        if (!forge::writeDatafile(&files[f], placed.data(), placed.size(), message, sizeof message)) {
            *error = message;
            return false;
        }
    }
    FILE *cfg = fopen((dir + "/lay.cfg").c_str(), "w");
    if (cfg == nullptr)
        return false;
    fputs(config.c_str(), cfg);
    fclose(cfg);
    return true;
}

TEST_F(SegmentTraversalTest, ForgeSegmentUnloadsExactlyItsManifest)
{
    forge::ManifestTable table;
    std::vector<forge::SegmentExtent> extents;
    std::string error;
    ASSERT_TRUE(layForgeSegment(dir_, &table, &extents, &error)) << error;
    std::vector<std::string> expected;
    for (const forge::ManifestRow &row : table.rows) {
        if (!row.deleted)
            expected.push_back(forge::manifestRecord(&row, "|", ""));
    }
    ASSERT_GE(expected.size(), 50000u);
    const std::string columns = " COLUMN NUMBER VARCHAR2 DATE RAW";
    std::string commands =
        "OPEN lay.cfg\n"
        "UNLOAD OBJECT 60606" +
        columns +
        " TO by_header.txt;\n"
        "SCAN PARALLELEXT;\n"
        "UNLOAD OBJECT 60606" +
        columns + " TO by_extent.txt;\n";
    std::string printed = runCommands(commands);
    std::string report = "Sucessfully unload " + std::to_string(expected.size()) + " rows ...\n";
    EXPECT_EQ(countOf(printed, report), 2u) << printed.substr(0, 2000);
    EXPECT_TRUE(records(dir_ + "/by_header.txt") == expected);
    EXPECT_TRUE(sorted(records(dir_ + "/by_extent.txt")) == sorted(expected));

    // Without its header and without the extent file the segment is found by
    // scanning every file.
    std::string scan =
        "OPEN lay.cfg\n"
        "CORRUPT RDBA " +
        std::to_string(extents[0].rdba + 2) +
        "\n"
        "UNLOAD OBJECT 60606 EXTENT none.txt" +
        columns + " TO by_scan.txt;\n";
    printed = runCommands(scan);
    EXPECT_EQ(countOf(printed, report), 1u) << printed.substr(0, 2000);
    EXPECT_TRUE(sorted(records(dir_ + "/by_scan.txt")) == sorted(expected));
}

// Date lines differ from run to run; everything else a parallel unload
// prints must be what the serial one prints.
std::string withoutDates(const std::string &printed)
{
    static const std::regex date("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(printed, date, "<DATE>");
}

// 200,000 rows (chained, migrated, deleted) over twelve extents in three
// files and two compressed blocks: every traversal writes the same bytes and
// prints the same messages at PARALLEL 1, 2, 3 and 7, also with unknown-type
// warnings, a corrupt block and a LIMIT.
TEST_F(SegmentTraversalTest, ParallelUnloadWritesTheSerialBytes)
{
    forge::ManifestTable table;
    std::vector<forge::SegmentExtent> extents;
    std::string error;
    ASSERT_TRUE(layForgeSegment(dir_, &table, &extents, &error, {200000, 420, true})) << error;
    ASSERT_EQ(table.rows.size(), 200000u);
    const uint64_t live = 200000 - 200000 / 97;
    const std::string columns = " COLUMN NUMBER VARCHAR2 DATE RAW";
    const std::string corrupt = std::to_string(extents[4].rdba + 37);
    const std::string header = std::to_string(extents[0].rdba + 2);
    // The extent file of one session's SCAN PARALLELEXT stays for the next:
    // EXTENT none.txt keeps the first unloads on the segment header.
    const std::string session =
        "OPEN lay.cfg\n"
        "CORRUPT RDBA " +
        corrupt +
        "\n"
        "UNLOAD OBJECT 60606 EXTENT none.txt" +
        columns +
        " TO by_header.txt;\n"
        "UNLOAD OBJECT 60606 EXTENT none.txt COLUMN NUMBER VARCHAR2 TO warned.txt;\n"
        "UNLOAD OBJECT 60606 EXTENT none.txt" +
        columns +
        " LIMIT 1000 TO limited.txt;\n"
        "SCAN PARALLELEXT;\n"
        "UNLOAD OBJECT 60606" +
        columns +
        " TO by_extent.txt;\n"
        "CORRUPT RDBA " +
        header +
        "\n"
        "UNLOAD OBJECT 60606 EXTENT none.txt" +
        columns + " TO by_scan.txt;\n";
    const char *const outputs[] = {"by_header.txt", "warned.txt", "limited.txt", "by_extent.txt",
                                   "by_scan.txt"};
    std::string serialPrinted;
    std::vector<std::string> serialFiles;
    for (int parallel : {1, 2, 3, 7}) {
        std::string printed =
            withoutDates(runCommands("SET PARALLEL " + std::to_string(parallel) + "\n" + session));
        std::string answer = "  Current PARALLEL is : " + std::to_string(parallel) + "\n";
        printed.erase(printed.find(answer), answer.size());
        if (parallel == 1) {
            serialPrinted = printed;
            for (const char *name : outputs)
                serialFiles.push_back(readWhole(dir_ + "/" + name));
            // The corrupt block is reported by the two header walks that
            // reach it (the LIMIT walk ends before it); the rows of every
            // other block are there.
            EXPECT_EQ(countOf(printed, "Block check failured at RDBA="), 2u);
            EXPECT_EQ(countOf(printed, "Warnings : UNKNOWN column type"), 10u);
            EXPECT_EQ(countOf(printed, "Sucessfully unload 1000 rows ...\n"), 1u);
            EXPECT_GT(serialFiles[0].size(), live * 40);
            continue;
        }
        EXPECT_TRUE(printed == serialPrinted) << "PARALLEL " << parallel << " printed\n"
                                              << printed.substr(0, 3000) << "\nserial printed\n"
                                              << serialPrinted.substr(0, 3000);
        for (size_t i = 0; i < serialFiles.size(); i++)
            EXPECT_TRUE(readWhole(dir_ + "/" + outputs[i]) == serialFiles[i])
                << "PARALLEL " << parallel << " " << outputs[i];
    }
}

}  // namespace
