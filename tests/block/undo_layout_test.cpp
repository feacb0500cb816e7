// Undo blocks and undo segment headers written by the forge: the accessors,
// the transaction-table base and count with and without TRANS_OFFSET and
// TRANS_COUNT, and the two undo dumps in both byte orders.
#include <gtest/gtest.h>

#include <string>

#include "block/block.h"
#include "view/view.h"
#include "dump_test_util.h"
#include "forge/forge_undo_index.h"

using namespace testblock;
using dumptest::capture;
using dumptest::contextFor;
using dumptest::expectMatchesFile;

namespace {

forge::Block undoBlockWithFourRecords(uint8_t order)
{
    forge::UndoBlockLayout layout;
    forge::initUndoBlockLayout(&layout, 0x00c003d6);
    layout.xidUsn = 6;
    layout.xidSlot = 0x17;
    layout.icl = 3;
    layout.xidWrap = 0x3e9;
    layout.sequence = 0x149;
    layout.flag = 0x0001;
    for (size_t length : {0x48, 0x30, 0x60, 0x1c})
        layout.records.push_back(std::vector<uint8_t>(length, 0xAB));
    forge::Block block;
    forge::initBlock(&block, 8192, (forge::ByteOrder)order);
    char error[128];
    EXPECT_TRUE(forge::putUndoBlock(&block, &layout, error, sizeof error)) << error;
    forge::sealBlock(&block);
    return block;
}

forge::Block undoHeader(uint8_t type, uint32_t blockSize, uint8_t order, size_t slots, uint32_t transOffset)
{
    forge::UndoSegmentHeaderLayout layout;
    forge::initUndoSegmentHeaderLayout(&layout, type, forge::makeRdba(2, 128));
    layout.spare[0] = 1;
    // Halves alike, so that what a reader finds at 20 with no transaction
    // table there reads the same in either byte order.
    layout.spare[1] = 0x00020002;
    layout.spare[2] = 0xFFFFFFFF;
    layout.spare[3] = 0;
    layout.hwmExtent = 4;
    layout.hwmBlock = 3;
    layout.hwmExtentSize = 16;
    layout.hwmRdba = forge::makeRdba(2, 203);
    layout.mapNext = 0;
    layout.mapObject = 0;
    layout.mapFlag = 0x40000000;
    for (uint32_t i = 0; i < 5; i++) {
        forge::UndoExtent e;
        e.rdba = forge::makeRdba(2, 129 + 8 * i);
        e.blocks = i == 0 ? 7 : 8;
        e.timestamp = 1700000000 + 60 * i;
        layout.extents.push_back(e);
    }
    layout.transOffset = transOffset;
    layout.tclScnBase = 0x0019a2b3;
    layout.tclScnWrap = 1;
    layout.tclUbaRdba = forge::makeRdba(2, 200);
    layout.tclUbaSequence = 0x0123;
    layout.tclUbaRecord = 0x2c;
    for (size_t k = 0; k < slots; k++) {
        forge::TransactionSlot s;
        forge::initTransactionSlot(&s);
        s.wrap = (uint16_t)(0x100 + k);
        s.flag = k == 1 ? 0x10 : 0;
        s.lastBlock = forge::makeRdba(2, 150 + (uint32_t)k);
        s.scnBase = 0x0019a000 + (uint32_t)k;
        s.scnWrap = 1;
        s.state = k == 1 ? 10 : 9;
        s.next = (uint8_t)(k + 1);
        s.blocks = (uint32_t)k % 3;
        s.commit = 1700000100 + (uint32_t)k;
        layout.slots.push_back(s);
    }
    forge::Block block;
    forge::initBlock(&block, blockSize, (forge::ByteOrder)order);
    char error[128];
    EXPECT_TRUE(forge::putUndoSegmentHeader(&block, &layout, error, sizeof error)) << error;
    forge::sealBlock(&block);
    return block;
}

bool endsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string dump(UnloadContext *ctx)
{
    return capture([](FILE *s, UnloadContext *c) { printHeader(s, c); }, ctx);
}

const char kUndoBlockDump[] =
    "RDBA=0x00c003d6(3/982),type=0x02,fmt=0xa2,seq=0x01,flag=0x04 \n"
    "UNDO BLK: xid=0x0006.017.000003e9, seq=0x0149\n"
    "          cnt=0x0004=4, irb=0x04, icl=3, flag=0x0001\n"
    "       rec Offset Length        rec Offset Length        rec Offset Length \n"
    "---------- ------ ------ ---------- ------ ------ ---------- ------ ------ \n"
    "  001/0x01 0x1fb4     72   002/0x02 0x1f84     48   003/0x03 0x1f24     96 \n"
    "  004/0x04 0x1f08     28 \n";

}  // namespace

TEST(UndoBlock, AccessorsInBothByteOrders)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = undoBlockWithFourRecords(order);
        auto ctx = contextFor(block);
        EXPECT_EQ(getUndoBlockXIDUSN(ctx.get()), 6);
        EXPECT_EQ(getUndoBlockXIDSLOT(ctx.get()), 0x17);
        EXPECT_EQ(getUndoBlockICL(ctx.get()), 3);
        EXPECT_EQ(getUndoBlockXIDWRAP(ctx.get()), 0x3e9u);
        EXPECT_EQ(getUndoBlockUBAWRAP(ctx.get()), 0x149);
        EXPECT_EQ(getUndoBlockCount(ctx.get()), 4);
        EXPECT_EQ(getUndoBlockIRB(ctx.get()), 4);
        EXPECT_EQ(getUndoBlockFlag(ctx.get()), 1);
        EXPECT_EQ(getUndoBlockRecordOffset(ctx.get(), 0), 0x1fb4);
        EXPECT_EQ(getUndoBlockRecordLength(ctx.get(), 0), 0x48);
        EXPECT_EQ(getUndoBlockRecordOffset(ctx.get(), 3), forge::undoRecordOffset(&block, 4));
        EXPECT_EQ(getUndoBlockRecordLength(ctx.get(), 3), 0x1c);
    }
}

TEST(UndoBlock, FourRecordsMakeTwoRecordLines)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = undoBlockWithFourRecords(order);
        auto ctx = contextFor(block);
        EXPECT_EQ(dump(ctx.get()), kUndoBlockDump);
        // The scans' summary is the same for an undo block, "## " only on
        // its first line in guess mode.
        EXPECT_EQ(capture([](FILE *s, UnloadContext *c) { printBriefHeader(s, c); }, ctx.get()), kUndoBlockDump);
        ctx->guessMode = 2;
        EXPECT_EQ(capture([](FILE *s, UnloadContext *c) { printBriefHeader(s, c); }, ctx.get()),
                  std::string("## ") + kUndoBlockDump);
    }
}

TEST(UndoBlock, ThreeRecordsEndWithTheThirdRecordsLineFeed)
{
    forge::UndoBlockLayout layout;
    forge::initUndoBlockLayout(&layout, 0x00c003d7);
    for (size_t length : {10, 20, 30})
        layout.records.push_back(std::vector<uint8_t>(length, 1));
    forge::Block block;
    forge::initBlock(&block, 2048, forge::kLittleEndian);
    char error[128];
    ASSERT_TRUE(forge::putUndoBlock(&block, &layout, error, sizeof error)) << error;
    auto ctx = contextFor(block);
    std::string text = dump(ctx.get());
    EXPECT_EQ(text.substr(text.find("  001/")),
              "  001/0x01 0x07f2     10   002/0x02 0x07de     20   003/0x03 0x07c0     30 \n");
}

TEST(UndoBlock, AccessorsOfAnotherBlockTypeReadZero)
{
    forge::Block block = undoBlockWithFourRecords(kLittle);
    block.bytes[0] = 6;
    auto ctx = contextFor(block);
    EXPECT_EQ(getUndoBlockCount(ctx.get()), 0);
    EXPECT_EQ(getUndoBlockXIDWRAP(ctx.get()), 0u);
    EXPECT_EQ(getUndoBlockRecordOffset(ctx.get(), 0), 0);
    EXPECT_EQ(capture([](FILE *s, UnloadContext *c) { printUndoBlockHeader(s, c); }, ctx.get()), "");
}

TEST(UndoSegmentHeader, AccessorsOfBothTypesInBothByteOrders)
{
    for (uint8_t order : {kLittle, kBig}) {
        for (uint8_t type : {forge::kTypeUndoHeader, forge::kTypeUndoHeaderAuto}) {
            SCOPED_TRACE(::testing::Message() << "order " << (int)order << " type " << (int)type);
            forge::Block block = undoHeader(type, 8192, order, type == 14 ? 98 : 34, 0);
            auto ctx = contextFor(block);
            EXPECT_EQ(getUndoHeaderSpare2(ctx.get()), 0x00020002u);
            EXPECT_EQ(getUndoHeaderExtents(ctx.get()), 5u);
            EXPECT_EQ(getUndoHeaderBlocks(ctx.get()), 39u);
            EXPECT_EQ(getUndoHeaderHWMBlockRDBA(ctx.get()), forge::makeRdba(2, 203));
            EXPECT_EQ(getUndoHeaderMapExtents(ctx.get()), 5u);
            EXPECT_EQ(getUndoHeaderMapFlag(ctx.get()), 0x40000000u);
            EXPECT_EQ(getUndoHeaderExtentRDBA(ctx.get(), 4), forge::makeRdba(2, 161));
            EXPECT_EQ(getUndoHeaderExtentSize(ctx.get(), 0), 7u);
            EXPECT_EQ(getUndoHeaderExtentSCN(ctx.get(), 2), type == 38 ? 1700000120u : 0u);
            EXPECT_EQ(getUndoHeaderTransOffset(ctx.get()), type == 14 ? 1076 : 6096);
            EXPECT_EQ(getUndoHeaderTransCount(ctx.get()), type == 14 ? 98 : 34);
            EXPECT_EQ(getUndoHeaderTCLSCNBase(ctx.get()), 0x0019a2b3u);
            EXPECT_EQ(getUndoHeaderTCLSCNWrap(ctx.get()), 1);
            EXPECT_EQ(getUndoHeaderTCLUBABlock(ctx.get()), forge::makeRdba(2, 200));
            EXPECT_EQ(getUndoHeaderTCLUBAWrap(ctx.get()), 0x0123);
            EXPECT_EQ(getUndoHeaderTCLUBARecord(ctx.get()), 0x2c);
            EXPECT_EQ(getUndoHeaderTranSlotWrap(ctx.get(), 1), 0x101);
            EXPECT_EQ(getUndoHeaderTranSlotFlag(ctx.get(), 1), 0x10);
            EXPECT_EQ(getUndoHeaderTranSlotState(ctx.get(), 1), 10);
            EXPECT_EQ(getUndoHeaderTranSlotNext(ctx.get(), 1), 2);
            EXPECT_EQ(getUndoHeaderTranSlotLastBlock(ctx.get(), 3), forge::makeRdba(2, 153));
            EXPECT_EQ(getUndoHeaderTranSlotSCNBase(ctx.get(), 3), 0x0019a003u);
            EXPECT_EQ(getUndoHeaderTranSlotSCNWrap(ctx.get(), 3), 1);
            EXPECT_EQ(getUndoHeaderTranSlotBlockCount(ctx.get(), 5), 2u);
            EXPECT_EQ(getUndoHeaderTranSlotCommit(ctx.get(), 5), 1700000105u);
        }
    }
}

TEST(UndoSegmentHeader, Type14WithFiveExtentsDumpsWhole)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = undoHeader(forge::kTypeUndoHeader, 8192, order, 98, 0);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "undo_header_type14_8k");
    }
}

TEST(UndoSegmentHeader, Type38WithFiveExtentsDumpsWhole)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = undoHeader(forge::kTypeUndoHeaderAuto, 8192, order, 34, 0);
        auto ctx = contextFor(block);
        expectMatchesFile(dump(ctx.get()), "undo_header_type38_8k");
        // The summary of the scans is the same dump.
        EXPECT_EQ(capture([](FILE *s, UnloadContext *c) { printBriefHeader(s, c); }, ctx.get()), dump(ctx.get()));
    }
}

TEST(UndoSegmentHeader, Type38In16KBlocksListsNoSlotsAndReadsControlAt20)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = undoHeader(forge::kTypeUndoHeaderAuto, 16384, order, 6, 0);
        auto ctx = contextFor(block);
        EXPECT_EQ(getUndoHeaderTransOffset(ctx.get()), 20);
        EXPECT_EQ(getUndoHeaderTransCount(ctx.get()), 0);
        expectMatchesFile(dump(ctx.get()), "undo_header_type38_16k");
    }
}

TEST(UndoSegmentHeader, Type38In16KBlocksWithTransOffsetAndTransCount)
{
    for (uint8_t order : {kLittle, kBig}) {
        forge::Block block = undoHeader(forge::kTypeUndoHeaderAuto, 16384, order, 6, 12000);
        auto ctx = contextFor(block);
        ctx->transOffset = 12000;
        ctx->transCount = 6;
        EXPECT_EQ(getUndoHeaderTransOffset(ctx.get()), 12000);
        EXPECT_EQ(getUndoHeaderTransCount(ctx.get()), 6);
        expectMatchesFile(dump(ctx.get()), "undo_header_type38_16k_overrides");
    }
}

TEST(UndoSegmentHeader, Type14In16KBlocksListsNoSlotsUnlessCounted)
{
    forge::Block block = undoHeader(forge::kTypeUndoHeader, 16384, kLittle, 3, 0);
    auto ctx = contextFor(block);
    EXPECT_EQ(getUndoHeaderTransOffset(ctx.get()), 1076);
    EXPECT_EQ(getUndoHeaderTransCount(ctx.get()), 0);
    std::string text = dump(ctx.get());
    // Five extents leave the third map line open; the transaction part
    // closes it, and an empty table (an even count) adds nothing at the end.
    EXPECT_NE(text.find("     5 0x008000a1        8            0\n     TCL: scn=0x0001.0019a2b3, uba=0x008000c8.0123.2c\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(endsWith(text, "\n  ---- ------ --- ---------- ------ ---- --------------- ---------- ----------\n"));
    ctx->transCount = 3;
    text = dump(ctx.get());
    EXPECT_TRUE(endsWith(text, "\n  0x02 0x0102   9 0x00800098 0x0000 0x03 0x0001.0019a002          2 1700000102\n\n"));
}

TEST(UndoSegmentHeader, ExtentCountsBeyondTheBlockListOnlyWhatItHolds)
{
    forge::Block block = undoHeader(forge::kTypeUndoHeader, 2048, kLittle, 0, 0);
    forge::putU32(&block, 92, 0xFFFFFFF0);
    auto ctx = contextFor(block);
    ctx->transOffset = 2040;
    ctx->transCount = 0xFFFF;
    std::string text = dump(ctx.get());
    // (2048 - 108) / 8 entries fit; the transaction table none.
    EXPECT_NE(text.find("   242 0x00000000        0            0\n"), std::string::npos);
    EXPECT_EQ(text.find("   243 0x"), std::string::npos);
    EXPECT_EQ(text.find("  0x00 0x"), std::string::npos);
    EXPECT_EQ(getUndoHeaderExtentRDBA(ctx.get(), 0x20000000), 0u);
    EXPECT_EQ(getUndoHeaderTranSlotWrap(ctx.get(), 0), 0);
}

TEST(UndoSegmentHeader, OffsetFieldThatWrapsTheBaseToZeroListsNoTable)
{
    forge::Block block = undoHeader(forge::kTypeUndoHeader, 8192, kLittle, 0, 2000);
    forge::putU32(&block, 44, 0xFFEC);
    auto ctx = contextFor(block);
    EXPECT_EQ(getUndoHeaderTransOffset(ctx.get()), 0);
    std::string text = dump(ctx.get());
    EXPECT_EQ(text.find("TCL:"), std::string::npos);
    // Five extents: the open third line is closed by the final line feed.
    EXPECT_TRUE(endsWith(text, "\n     5 0x008000a1        8            0\n"));
}
