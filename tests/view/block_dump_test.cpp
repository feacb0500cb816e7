// ORADUMP's decoded dump and the scans' brief summaries on forge blocks of
// every kind, in both byte orders: data blocks with 2 and 3 ITL entries, row
// flag letters, free row slots and NULL columns, index leaf and branch
// blocks, segment headers and extent maps, file headers, and the block
// types that print nothing.  Long dumps are compared whole with the files
// under tests/block/expected.
#include <gtest/gtest.h>

#include <string>

#include "column_values.h"
#include "block/block.h"
#include "view/view.h"
#include "block/dump_test_util.h"
#include "forge/forge_undo_index.h"

using namespace testblock;
using dumptest::capture;
using dumptest::contextFor;
using dumptest::expectMatchesFile;

namespace {

std::string dump(UnloadContext *ctx)
{
    return capture([](FILE *s, UnloadContext *c) { printHeader(s, c); }, ctx);
}

std::string brief(UnloadContext *ctx)
{
    return capture([](FILE *s, UnloadContext *c) { printBriefHeader(s, c); }, ctx);
}

forge::ItlEntry itlEntry(uint32_t i)
{
    forge::ItlEntry e;
    forge::initItlEntry(&e);
    e.xidUsn = (uint16_t)(6 + i);
    e.xidSlot = (uint16_t)(0x020 + i);
    e.xidWrap = 0x271 + i;
    e.ubaRdba = 0x00800205 + i;
    e.ubaSequence = (uint16_t)(0x257 + i);
    e.ubaRecord = (uint8_t)(0x13 + i);
    e.flag = i == 0 ? forge::kItlFlagCommitted : (i == 1 ? forge::kItlFlagUpper : 0xF);
    e.lockCount = (uint16_t)(i == 1 ? 2 : 0);
    e.fsc = (uint16_t)(i == 0 ? 0 : 0x10 + i);
    e.scnBase = i == 0 ? 0x001732c4 : 0;
    return e;
}

void addNumber(forge::RowPiece *row, long long n)
{
    std::vector<uint8_t> bytes = forge::encodeNumber(n);
    forge::addColumnBytes(row, bytes.data(), bytes.size());
}

// Five row directory entries: a plain row, a row locked by ITL 2 with a NULL
// in the middle, a free slot, a deleted row, and a row with a 300-byte value
// (0xFE length).
forge::Block dataBlock(uint32_t itlCount, uint8_t order)
{
    forge::DataBlockLayout layout;
    forge::initDataBlockLayout(&layout, forge::makeRdba(5, 16), 53944);
    layout.cleanScnBase = 0x001732d3;
    layout.cleanScnWrap = 1;
    layout.itl.clear();
    for (uint32_t i = 0; i < itlCount; i++)
        layout.itl.push_back(itlEntry(i));
    forge::RowPiece row;
    forge::initRowPiece(&row);
    addNumber(&row, 1);
    forge::addColumnText(&row, "a");
    layout.rows.push_back(row);

    forge::initRowPiece(&row);
    row.lock = 2;
    addNumber(&row, 2);
    forge::addColumnNull(&row);
    forge::addColumnText(&row, "bb");
    layout.rows.push_back(row);

    forge::initRowPiece(&row);
    row.freeEntry = true;
    layout.rows.push_back(row);

    forge::initRowPiece(&row);
    row.flag = forge::kRowNormal | forge::kRowDeleted;
    row.lock = 2;
    addNumber(&row, 3);
    forge::addColumnText(&row, "c");
    layout.rows.push_back(row);

    forge::initRowPiece(&row);
    addNumber(&row, 4);
    forge::addColumnBytes(&row, std::string(300, 'x').data(), 300);
    layout.rows.push_back(row);

    return forgedDataBlock(layout, order);
}

// Row pieces with every flag letter on its own and the common mixtures.
forge::Block flagBlock(uint8_t order)
{
    forge::DataBlockLayout layout;
    forge::initDataBlockLayout(&layout, forge::makeRdba(5, 17), 53944);
    const uint8_t flags[] = {0x2C, 0x3C, 0x28, 0x06, 0x05, 0x04, 0x6C};
    for (uint8_t flag : flags) {
        forge::RowPiece row;
        forge::initRowPiece(&row);
        row.flag = flag;
        if (!(flag & forge::kRowLast)) {
            row.hasNext = true;
            row.nextRdba = forge::makeRdba(5, 18);
            row.nextSlot = 3;
        }
        if (flag & forge::kRowClusterMember) {
            row.hasClusterKeySlot = true;
            row.clusterKeySlot = 0;
        }
        forge::addColumnText(&row, "v");
        layout.rows.push_back(row);
    }
    // A cluster key row (K H F L and 16 bytes of key bookkeeping) and a
    // piece with every bit set whose key row is slot 0, written byte for byte.
    forge::RowPiece key;
    forge::initRowPiece(&key);
    key.raw = {0xAC, 0x00, 0x01, 0,    1,    0,    1, 0x01, 0x40, 0x00, 0x11,
               0,    0,    0x01, 0x40, 0x00, 0x11, 0, 0,    0x02, 'k',  'y'};
    layout.rows.insert(layout.rows.begin(), key);
    forge::RowPiece all;
    forge::initRowPiece(&all);
    all.raw = {0xFF, 0x00, 0x00, 0x00};
    layout.rows.push_back(all);
    return forgedDataBlock(layout, order);
}

// A leaf of an ordinary index: the key and the row's 6-byte ROWID as its
// second column; the third entry is deleted.
forge::Block indexLeafKeys(uint8_t order)
{
    forge::IndexBlockLayout layout;
    forge::initIndexBlockLayout(&layout, forge::makeRdba(4, 300), 77001, 2);
    layout.itl.push_back(itlEntry(1));
    layout.nextLeaf = forge::makeRdba(4, 301);
    layout.previousLeaf = forge::makeRdba(4, 299);
    const char *names[] = {"ADAMS", "ALLEN", "BLAKE"};
    for (int i = 0; i < 3; i++) {
        forge::IndexEntry e;
        forge::initIndexEntry(&e);
        e.keys.push_back(textValue(names[i]));
        forge::ColumnValue rowid;
        rowid.isNull = false;
        rowid.bytes = {0x01, 0x00, 0x33, 0x73, 0x00, (uint8_t)i};
        e.keys.push_back(rowid);
        if (i == 2) {
            e.flag = forge::kIndexEntryDeleted;
            e.lock = 3;
        }
        layout.entries.push_back(e);
    }
    return forgedIndexBlock(layout, order);
}

// A leaf of an index-organized table: key EMPNO, then the rest of the row;
// the second row continues in an overflow block, the third has a NULL.
forge::Block indexLeafIot(uint8_t order)
{
    forge::IndexBlockLayout layout;
    forge::initIndexBlockLayout(&layout, forge::makeRdba(4, 310), 77002, 1);
    layout.opcode = 0x80 | forge::kIndexOpcodeIot;
    for (int i = 0; i < 3; i++) {
        forge::IndexEntry e;
        forge::initIndexEntry(&e);
        e.keys.push_back(numberValue(7369 + i));
        e.hasData = true;
        e.data.push_back(textValue(i == 0 ? "SMITH" : i == 1 ? "ALLEN" : "WARD"));
        if (i == 2)
            e.data.push_back(nullValue());
        e.data.push_back(numberValue(800 + 100 * i));
        if (i == 1) {
            e.dataFlag = forge::kRowHead | forge::kRowFirst;
            e.nextRdba = forge::makeRdba(4, 400);
            e.nextSlot = 7;
        }
        layout.entries.push_back(e);
    }
    return forgedIndexBlock(layout, order);
}

forge::Block indexBranch(uint8_t order)
{
    forge::IndexBlockLayout layout;
    forge::initIndexBlockLayout(&layout, forge::makeRdba(4, 290), 77001, 2);
    layout.level = 1;
    layout.itl.resize(1);
    layout.leftmostChild = forge::makeRdba(4, 299);
    layout.brsno = 0;
    for (int i = 0; i < 2; i++) {
        forge::IndexBranchEntry e;
        e.childRdba = forge::makeRdba(4, 300 + i);
        e.keys.push_back(textValue(i == 0 ? "AD" : "BL"));
        layout.branches.push_back(e);
    }
    return forgedIndexBlock(layout, order);
}

// Free-list segment header (16), ASSM segment header (35) and the two
// extent map blocks (18, 36), laid out by hand from their layouts.
forge::Block segmentBlock(uint8_t type, uint8_t order)
{
    forge::Block block;
    forge::initBlock(&block, 8192, (forge::ByteOrder)order);
    forge::CacheHeader cache;
    forge::initCacheHeader(&cache, type, forge::makeRdba(4, 130));
    forge::putCacheHeader(&block, &cache);
    bool map = type == 18 || type == 36;
    uint32_t count = map ? 20 : type == 35 ? 264 : 92;
    uint32_t next = map ? 24 : type == 35 ? 268 : 96;
    uint32_t objd = map ? 28 : type == 35 ? 272 : 100;
    uint32_t first = map ? 36 : type == 35 ? 280 : 108;
    if (!map) {
        forge::putU32(&block, 36, 3);
        forge::putU32(&block, 40, 24);
        forge::putU32(&block, 48, 2);
        forge::putU32(&block, 52, 5);
        forge::putU32(&block, 56, 8);
        forge::putU32(&block, 60, forge::makeRdba(4, 149));
        forge::putU32(&block, 72, 1);
        forge::putU32(&block, 76, 17);
    } else {
        forge::putU32(&block, 20, 3);
    }
    forge::putU32(&block, count, 3);
    forge::putU32(&block, next, forge::makeRdba(4, 900));
    if (type != 36)
        forge::putU32(&block, objd, 74682);
    for (uint32_t i = 0; i < 3; i++) {
        forge::putU32(&block, first + 8 * i, forge::makeRdba(4, 128 + 8 * i));
        forge::putU32(&block, first + 8 * i + 4, 8);
    }
    forge::sealBlock(&block);
    return block;
}

}  // namespace

TEST(BlockDump, DataBlockWithTwoItlEntries)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = dataBlock(2, order);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "data_block_2itl");
    }
}

TEST(BlockDump, DataBlockWithThreeItlEntriesListsThree)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = dataBlock(3, order);
        auto ctx = contextFor(block);
        std::string text = dump(ctx.get());
        expectMatchesFile(text, "data_block_3itl");
        EXPECT_NE(text.find("\n0x03 0x0008.022.00000273 0x00800207.0259.15 CBUT    0 0x0012.00000000\n"),
                  std::string::npos);
        EXPECT_EQ(text.find("\n0x04 "), std::string::npos);
    }
}

TEST(BlockDump, RowFlagLetters)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = flagBlock(order);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "data_block_row_flags");
    }
}

TEST(BlockDump, FlagByte2CShowsHFL)
{
    forge::Block block = flagBlock(kLittle);
    auto ctx = contextFor(block);
    EXPECT_NE(dump(ctx.get()).find(" cc=  1  flag=--H-FL--\n"), std::string::npos);
}

TEST(BlockDump, FreeRowSlotGetsTheShortLine)
{
    forge::Block block = dataBlock(2, kLittle);
    auto ctx = contextFor(block);
    EXPECT_NE(dump(ctx.get()).find("\n    row#=   2  offs=0xffff=65535\n    row#=   3  offs="),
              std::string::npos);
}

TEST(BlockDump, NullColumnInTheMiddle)
{
    forge::Block block = dataBlock(2, kBig);
    auto ctx = contextFor(block);
    std::string text = dump(ctx.get());
    size_t at = text.find("    row#=   1 ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(text.find(" len=    0 : *NULL*\n     col[  2]", at), std::string::npos);
}

TEST(BlockDump, IndexLeafWithKeysOnly)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = indexLeafKeys(order);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "index_leaf_keys");
    }
}

TEST(BlockDump, IndexLeafOfAnIndexOrganizedTable)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = indexLeafIot(order);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "index_leaf_iot");
    }
}

TEST(BlockDump, IndexBranchListsRowOffsetsOnly)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = indexBranch(order);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "index_branch");
    }
}

TEST(BlockDump, SegmentHeadersAndExtentMaps)
{
    for (uint8_t order : {kLittle, kBig}) {
        std::string all;
        for (uint8_t type : {16, 17, 35, 18, 36}) {
            forge::Block block = segmentBlock(type, order);
            auto ctx = contextFor(block);
            all += dump(ctx.get());
        }
        expectMatchesFile(all, "segment_headers");
    }
}

TEST(BlockDump, FileHeaderLine)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::FileHeader h;
        forge::initFileHeader(&h);
        h.cache.rdba = forge::makeRdba(4, 1);
        h.blockCount = 12800;
        h.fileNumber = 4;
        h.tsNumber = 4;
        snprintf(h.tsName, sizeof h.tsName, "%s", "USERS");
        h.fuzzy = 0x41;
        forge::Block block;
        forge::initBlock(&block, 8192, (forge::ByteOrder)order);
        forge::putFileHeader(&block, &h);
        forge::sealBlock(&block);
        auto ctx = contextFor(block);
        const char *line =
            "DBID=0x5a4f5201=1515147777,db=ZOR,ts#=4,ts=USERS,file#=4,blksiz=8192,blks=12800,"
            "ver=0x13000000,fzy=A--H, bs=0\n";
        EXPECT_EQ(dump(ctx.get()),
                  std::string("RDBA=0x01000001(4/1),type=0x0b,fmt=0xa2,seq=0x01,flag=0x04\n") + line + "\n");
        EXPECT_EQ(brief(ctx.get()),
                  std::string("RDBA=0x01000001(4/1),type=0x0b,fmt=0xa2,seq=0x01,flag=0x04 \n") + line + "\n");
        ctx->guessMode = 2;
        EXPECT_EQ(brief(ctx.get()),
                  std::string("## RDBA=0x01000001(4/1),type=0x0b,fmt=0xa2,seq=0x01,flag=0x04 \n") + line +
                      "\n");
    }
}

TEST(BlockDump, TypesThatPrintNothing)
{
    for (uint8_t type : {0, 1, 3, 4, 15}) {
        forge::Block block = dataBlock(2, kLittle);
        block.bytes[0] = type;
        auto ctx = contextFor(block);
        EXPECT_EQ(dump(ctx.get()), "") << (int)type;
        EXPECT_EQ(brief(ctx.get()), "") << (int)type;
    }
}

TEST(BlockDump, AnyOtherTypeGetsItsTypeLineAndAnEmptyLine)
{
    forge::Block block = dataBlock(2, kBig);
    block.bytes[0] = 32;
    auto ctx = contextFor(block);
    EXPECT_EQ(dump(ctx.get()), "RDBA=0x01400010(5/16),type=0x20,fmt=0xa2,seq=0x01,flag=0x04\n\n");
    EXPECT_EQ(brief(ctx.get()), "RDBA=0x01400010(5/16),type=0x20,fmt=0xa2,seq=0x01,flag=0x04\n\n");
}

TEST(BriefHeader, DataBlockListsItsTables)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = dataBlock(3, order);
        auto ctx = contextFor(block);
        const char *expected =
            "RDBA=0x01400010(5/16),type=0x06,fmt=0xa2,seq=0x01,flag=0x04\n"
            "seg/obj=0x0000d2b8=53944,csc=0x0001.001732d3,itc=3,typ=1 - DATA  \n"
            "tab#=  0     nrow=   5     offs=   0\n"
            "\n";
        EXPECT_EQ(brief(ctx.get()), expected);
        ctx->guessMode = 2;
        EXPECT_EQ(brief(ctx.get()),
                  "## RDBA=0x01400010(5/16),type=0x06,fmt=0xa2,seq=0x01,flag=0x04\n"
                  "## seg/obj=0x0000d2b8=53944,csc=0x0001.001732d3,itc=3,typ=1 - DATA  \n"
                  "## tab#=  0     nrow=   5     offs=   0\n"
                  "\n");
    }
}

TEST(BriefHeader, IndexBlockListsNoTables)
{
    forge::Block block = indexLeafIot(kLittle);
    auto ctx = contextFor(block);
    EXPECT_EQ(brief(ctx.get()),
              "RDBA=0x01000136(4/310),type=0x06,fmt=0xa2,seq=0x01,flag=0x04\n"
              "seg/obj=0x00012cca=77002,csc=0x0000.00000000,itc=2,typ=2 - INDEX IOT\n"
              "\n");
}

TEST(BriefHeader, SegmentHeadersAndExtentMaps)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block header = segmentBlock(35, order);
        auto ctx = contextFor(header);
        EXPECT_EQ(brief(ctx.get()),
                  "RDBA=0x01000082(4/130),  type=0x23, fmt=0xa2, seq=0x01, flag=0x04, "
                  "seg/obj=0x000123ba=74682\n\n");
        forge::Block map = segmentBlock(18, order);
        auto mapCtx = contextFor(map);
        mapCtx->guessMode = 2;
        EXPECT_EQ(brief(mapCtx.get()),
                  "## RDBA=0x01000082(4/130),type=0x12,fmt=0xa2,seq=0x01,flag=0x04 \n"
                  "## seg/obj=0x000123ba=74682\n\n");
        // An ASSM extent map block is not one of the summarised kinds.
        forge::Block assmMap = segmentBlock(36, order);
        auto assmCtx = contextFor(assmMap);
        EXPECT_EQ(brief(assmCtx.get()), "RDBA=0x01000082(4/130),type=0x24,fmt=0xa2,seq=0x01,flag=0x04\n\n");
    }
}
