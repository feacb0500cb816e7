// Undo blocks (type 2) and undo segment headers (types 14 and 38).  ZOR
// never applies undo; it decodes these blocks so that an operator can see
// them in ORADUMP and in the scan summaries.
#include "block/block.h"

namespace {
constexpr uint8_t kUndoBlock = 2;
constexpr uint8_t kUndoHeader = 14;
constexpr uint8_t kUndoHeaderAuto = 38;   // automatic undo management

bool isUndoBlock(const UnloadContext *ctx) { return getBlockType(ctx) == kUndoBlock; }

bool isUndoHeader(const UnloadContext *ctx)
{
    uint8_t type = getBlockType(ctx);
    return type == kUndoHeader || type == kUndoHeaderAuto;
}

// Offset of element i of a table of `stride`-byte elements at `base`, or
// false when the element cannot lie inside the block: the element number
// comes from block bytes or settings, and must not wrap the offset back
// into the block.
bool elementOffset(const UnloadContext *ctx, uint64_t base, uint64_t stride, uint64_t i, uint32_t width,
                   uint32_t *out)
{
    uint64_t off = base + stride * i;
    if (off + width > ctx->blockSize)
        return false;
    *out = static_cast<uint32_t>(off);
    return true;
}

// The low byte of a 16-bit field: the byte at the field in little-endian
// order, the byte after it in big-endian order (0 for an unusable order).
uint8_t lowByteOf16(const UnloadContext *ctx, uint32_t off)
{
    return static_cast<uint8_t>(blockU16(ctx, off) & 0xFF);
}
}  // namespace

// ---------------------------------------------------------------------------
// Undo block (type 2):
//   20  u16  xid undo segment number
//   22  u16  xid slot (low 12 bits), icl (high 4 bits)
//   24  u32  xid wrap
//   28  u16  sequence (seq)
//   30  u8   record count (cnt)
//   31  u8   irb
//   32  u16  flag
//   34  u16  the end of record 1
//   36  u16 x cnt  record offsets; record i + 1 runs from the entry at
//                  36 + 2i up to the entry before it (records are packed
//                  from the end of the block downwards)
namespace {
constexpr uint32_t kUndoXidUsn = 20;
constexpr uint32_t kUndoXidSlot = 22;
constexpr uint32_t kUndoXidWrap = 24;
constexpr uint32_t kUndoSequence = 28;
constexpr uint32_t kUndoCount = 30;
constexpr uint32_t kUndoIrb = 31;
constexpr uint32_t kUndoFlag = 32;
constexpr uint32_t kUndoRecordEnd = 34;
constexpr uint32_t kUndoRecordOffsets = 36;
constexpr uint32_t kUndoRecordEntrySize = 2;

uint8_t undoBlockU8(const UnloadContext *ctx, uint32_t off) { return isUndoBlock(ctx) ? blockU8(ctx, off) : 0; }
uint16_t undoBlockU16(const UnloadContext *ctx, uint32_t off) { return isUndoBlock(ctx) ? blockU16(ctx, off) : 0; }
uint32_t undoBlockU32(const UnloadContext *ctx, uint32_t off) { return isUndoBlock(ctx) ? blockU32(ctx, off) : 0; }

uint16_t undoRecordEntry(const UnloadContext *ctx, uint64_t base, uint32_t i)
{
    uint32_t off;
    if (!elementOffset(ctx, base, kUndoRecordEntrySize, i, 2, &off))
        return 0;
    return undoBlockU16(ctx, off);
}
}  // namespace

uint16_t getUndoBlockXIDUSN(const UnloadContext *ctx) { return undoBlockU16(ctx, kUndoXidUsn); }
uint16_t getUndoBlockXIDSLOT(const UnloadContext *ctx) { return undoBlockU16(ctx, kUndoXidSlot) & 0x0FFF; }
uint8_t getUndoBlockICL(const UnloadContext *ctx)
{
    return static_cast<uint8_t>(undoBlockU16(ctx, kUndoXidSlot) >> 12);
}
uint32_t getUndoBlockXIDWRAP(const UnloadContext *ctx) { return undoBlockU32(ctx, kUndoXidWrap); }
uint16_t getUndoBlockUBAWRAP(const UnloadContext *ctx) { return undoBlockU16(ctx, kUndoSequence); }
uint8_t getUndoBlockCount(const UnloadContext *ctx) { return undoBlockU8(ctx, kUndoCount); }
uint8_t getUndoBlockIRB(const UnloadContext *ctx) { return undoBlockU8(ctx, kUndoIrb); }
uint16_t getUndoBlockFlag(const UnloadContext *ctx) { return undoBlockU16(ctx, kUndoFlag); }

uint16_t getUndoBlockRecordOffset(const UnloadContext *ctx, uint32_t i)
{
    return undoRecordEntry(ctx, kUndoRecordOffsets, i);
}

uint16_t getUndoBlockRecordLength(const UnloadContext *ctx, uint32_t i)
{
    return static_cast<uint16_t>(undoRecordEntry(ctx, kUndoRecordEnd, i) - undoRecordEntry(ctx, kUndoRecordOffsets, i));
}

void printUndoBlockHeader(FILE *stream, const UnloadContext *ctx)
{
    if (!isUndoBlock(ctx))
        return;
    uint32_t count = getUndoBlockCount(ctx);
    fprintf(stream, "UNDO BLK: xid=0x%04x.%03x.%08x, seq=0x%04x\n", getUndoBlockXIDUSN(ctx), getUndoBlockXIDSLOT(ctx),
            getUndoBlockXIDWRAP(ctx), getUndoBlockUBAWRAP(ctx));
    fprintf(stream, "          cnt=0x%04x=%u, irb=0x%02x, icl=%u, flag=0x%04x\n", count, count, getUndoBlockIRB(ctx),
            getUndoBlockICL(ctx), getUndoBlockFlag(ctx));
    fputs("       rec Offset Length        rec Offset Length        rec Offset Length \n", stream);
    fputs("---------- ------ ------ ---------- ------ ------ ---------- ------ ------ \n", stream);
    // cnt is one byte, so its 255 entries always lie inside any block size.
    for (uint32_t n = 1; n <= count; n++) {
        fprintf(stream, "  %03u/0x%02x 0x%04x %6u ", n, n, getUndoBlockRecordOffset(ctx, n - 1),
                getUndoBlockRecordLength(ctx, n - 1));
        if (n % 3 == 0)
            fputc('\n', stream);
    }
    if (count % 3 != 0)
        fputc('\n', stream);
}

// ---------------------------------------------------------------------------
// Undo segment header (types 14 and 38), all fields u32:
//   20, 24, 28, 32  spare1 .. spare4
//   36   extents           40   blocks          44   offset
//   48   HWM ext#          52   HWM blk#        56   HWM blocks      60  HWM rdba
//   92   MAP extents (entries in this header)   96   MAP rdba (next map block)
//   100  MAP object        104  MAP flag
//   108  extent i: u32 RDBA at 108 + 8i, u32 length at 112 + 8i
// Type 38 keeps a u32 timestamp per extent at T38 + 4i, where T38 is the low
// 16 bits of the offset field plus 20; type 14 has none.
//
// Transaction table at T (TRANS_OFFSET when set; else type 14: offset field
// + 20; type 38: 6096 in 8 KB blocks, 20 otherwise), computed in 16 bits:
//   T+0   u32  control SCN base        T+4   u16  control SCN wrap
//   T+8   u32  control UBA RDBA        T+12  u16  UBA second field
//   T+14  u16  its low byte: UBA record
//   T+104 + 40k  entry k (TRANS_COUNT when set; else 98 for type 14 and 34
//                for type 38 in 8 KB blocks, none for other block sizes):
//     +0  u16 wrap      +2  u16 its low byte: flag    +4  u32 last block rdba
//     +8  u32 SCN base  +12 u16 SCN wrap              +16 u16 its low byte: state
//     +18 u16 its low byte: next                      +32 u32 blocks
//     +36 u32 commit timestamp
namespace {
constexpr uint32_t kSpare1 = 20;
constexpr uint32_t kSpare2 = 24;
constexpr uint32_t kSpare3 = 28;
constexpr uint32_t kSpare4 = 32;
constexpr uint32_t kExtents = 36;
constexpr uint32_t kBlocks = 40;
constexpr uint32_t kOffset = 44;
constexpr uint32_t kHwmExtent = 48;
constexpr uint32_t kHwmBlock = 52;
constexpr uint32_t kHwmExtentSize = 56;
constexpr uint32_t kHwmRdba = 60;
constexpr uint32_t kMapExtents = 92;
constexpr uint32_t kMapNext = 96;
constexpr uint32_t kMapObject = 100;
constexpr uint32_t kMapFlag = 104;
constexpr uint32_t kExtentList = 108;
constexpr uint32_t kExtentEntrySize = 8;
constexpr uint32_t kExtentEntrySizeField = 4;
constexpr uint32_t kTimestampBias = 20;
constexpr uint32_t kTimestampSize = 4;

constexpr uint32_t kTransOffsetBias = 20;
constexpr uint32_t kAutoTransOffset8K = 6096;
constexpr uint32_t kAutoTransOffsetOther = 20;
constexpr uint16_t kTransCount14 = 98;
constexpr uint16_t kTransCount38 = 34;
constexpr uint32_t kDefaultLayoutBlockSize = 8192;

constexpr uint32_t kTclScnBase = 0;
constexpr uint32_t kTclScnWrap = 4;
constexpr uint32_t kTclUbaBlock = 8;
constexpr uint32_t kTclUbaWrap = 12;
constexpr uint32_t kTclUbaRecord = 14;
constexpr uint32_t kTransEntries = 104;
constexpr uint32_t kTransEntrySize = 40;
constexpr uint32_t kSlotWrap = 0;
constexpr uint32_t kSlotFlag = 2;
constexpr uint32_t kSlotLastBlock = 4;
constexpr uint32_t kSlotScnBase = 8;
constexpr uint32_t kSlotScnWrap = 12;
constexpr uint32_t kSlotState = 16;
constexpr uint32_t kSlotNext = 18;
constexpr uint32_t kSlotBlockCount = 32;
constexpr uint32_t kSlotCommit = 36;

uint32_t undoHeaderU32(const UnloadContext *ctx, uint32_t off) { return isUndoHeader(ctx) ? blockU32(ctx, off) : 0; }

uint32_t extentField(const UnloadContext *ctx, uint32_t i, uint32_t field)
{
    uint32_t off;
    if (!isUndoHeader(ctx) || !elementOffset(ctx, kExtentList + field, kExtentEntrySize, i, 4, &off))
        return 0;
    return blockU32(ctx, off);
}

// Offset of a field of `width` bytes of the transaction control, or of
// transaction entry k; false when it lies outside the block.
bool tclField(const UnloadContext *ctx, uint32_t field, uint32_t width, uint32_t *off)
{
    if (!isUndoHeader(ctx))
        return false;
    return elementOffset(ctx, static_cast<uint64_t>(getUndoHeaderTransOffset(ctx)) + field, 0, 0, width, off);
}

bool slotField(const UnloadContext *ctx, uint32_t k, uint32_t field, uint32_t width, uint32_t *off)
{
    if (!isUndoHeader(ctx))
        return false;
    uint64_t base = static_cast<uint64_t>(getUndoHeaderTransOffset(ctx)) + kTransEntries + field;
    return elementOffset(ctx, base, kTransEntrySize, k, width, off);
}

uint32_t slotU32(const UnloadContext *ctx, uint32_t k, uint32_t field)
{
    uint32_t off;
    return slotField(ctx, k, field, 4, &off) ? blockU32(ctx, off) : 0;
}

uint16_t slotU16(const UnloadContext *ctx, uint32_t k, uint32_t field)
{
    uint32_t off;
    return slotField(ctx, k, field, 2, &off) ? blockU16(ctx, off) : 0;
}

uint8_t slotLowByte(const UnloadContext *ctx, uint32_t k, uint32_t field)
{
    uint32_t off;
    return slotField(ctx, k, field, 2, &off) ? lowByteOf16(ctx, off) : 0;
}
}  // namespace

uint32_t getUndoHeaderSpare1(const UnloadContext *ctx) { return undoHeaderU32(ctx, kSpare1); }
uint32_t getUndoHeaderSpare2(const UnloadContext *ctx) { return undoHeaderU32(ctx, kSpare2); }
uint32_t getUndoHeaderSpare3(const UnloadContext *ctx) { return undoHeaderU32(ctx, kSpare3); }
uint32_t getUndoHeaderSpare4(const UnloadContext *ctx) { return undoHeaderU32(ctx, kSpare4); }
uint32_t getUndoHeaderExtents(const UnloadContext *ctx) { return undoHeaderU32(ctx, kExtents); }
uint32_t getUndoHeaderBlocks(const UnloadContext *ctx) { return undoHeaderU32(ctx, kBlocks); }
uint32_t getUndoHeaderOffset(const UnloadContext *ctx) { return undoHeaderU32(ctx, kOffset); }
uint32_t getUndoHeaderHWMExtent(const UnloadContext *ctx) { return undoHeaderU32(ctx, kHwmExtent); }
uint32_t getUndoHeaderHWMBlock(const UnloadContext *ctx) { return undoHeaderU32(ctx, kHwmBlock); }
uint32_t getUndoHeaderHWMExtentSize(const UnloadContext *ctx) { return undoHeaderU32(ctx, kHwmExtentSize); }
uint32_t getUndoHeaderHWMBlockRDBA(const UnloadContext *ctx) { return undoHeaderU32(ctx, kHwmRdba); }
uint32_t getUndoHeaderMapExtents(const UnloadContext *ctx) { return undoHeaderU32(ctx, kMapExtents); }
uint32_t getUndoHeaderMapNext(const UnloadContext *ctx) { return undoHeaderU32(ctx, kMapNext); }
uint32_t getUndoHeaderMapObject(const UnloadContext *ctx) { return undoHeaderU32(ctx, kMapObject); }
uint32_t getUndoHeaderMapFlag(const UnloadContext *ctx) { return undoHeaderU32(ctx, kMapFlag); }
uint32_t getUndoHeaderExtentRDBA(const UnloadContext *ctx, uint32_t i) { return extentField(ctx, i, 0); }
uint32_t getUndoHeaderExtentSize(const UnloadContext *ctx, uint32_t i)
{
    return extentField(ctx, i, kExtentEntrySizeField);
}

uint32_t getUndoHeaderExtentSCN(const UnloadContext *ctx, uint32_t i)
{
    if (getBlockType(ctx) != kUndoHeaderAuto)
        return 0;
    uint64_t base = static_cast<uint64_t>(getUndoHeaderOffset(ctx) & 0xFFFF) + kTimestampBias;
    uint32_t off;
    if (!elementOffset(ctx, base, kTimestampSize, i, 4, &off))
        return 0;
    return blockU32(ctx, off);
}

uint16_t getUndoHeaderTransOffset(const UnloadContext *ctx)
{
    if (!isUndoHeader(ctx))
        return 0;
    if (ctx->transOffset != 0)
        return ctx->transOffset;
    // The base is a 16-bit offset: a damaged offset field may wrap it to 0,
    // and the dump then shows no transaction table.
    if (getBlockType(ctx) == kUndoHeader)
        return static_cast<uint16_t>(getUndoHeaderOffset(ctx) + kTransOffsetBias);
    return static_cast<uint16_t>(ctx->blockSize == kDefaultLayoutBlockSize ? kAutoTransOffset8K
                                                                          : kAutoTransOffsetOther);
}

uint16_t getUndoHeaderTransCount(const UnloadContext *ctx)
{
    if (!isUndoHeader(ctx))
        return 0;
    if (ctx->transCount != 0)
        return ctx->transCount;
    if (ctx->blockSize != kDefaultLayoutBlockSize)
        return 0;
    return getBlockType(ctx) == kUndoHeader ? kTransCount14 : kTransCount38;
}

uint32_t getUndoHeaderTCLSCNBase(const UnloadContext *ctx)
{
    uint32_t off;
    return tclField(ctx, kTclScnBase, 4, &off) ? blockU32(ctx, off) : 0;
}

uint16_t getUndoHeaderTCLSCNWrap(const UnloadContext *ctx)
{
    uint32_t off;
    return tclField(ctx, kTclScnWrap, 2, &off) ? blockU16(ctx, off) : 0;
}

uint32_t getUndoHeaderTCLUBABlock(const UnloadContext *ctx)
{
    uint32_t off;
    return tclField(ctx, kTclUbaBlock, 4, &off) ? blockU32(ctx, off) : 0;
}

uint16_t getUndoHeaderTCLUBAWrap(const UnloadContext *ctx)
{
    uint32_t off;
    return tclField(ctx, kTclUbaWrap, 2, &off) ? blockU16(ctx, off) : 0;
}

uint8_t getUndoHeaderTCLUBARecord(const UnloadContext *ctx)
{
    uint32_t off;
    return tclField(ctx, kTclUbaRecord, 2, &off) ? lowByteOf16(ctx, off) : 0;
}

uint16_t getUndoHeaderTranSlotWrap(const UnloadContext *ctx, uint32_t k) { return slotU16(ctx, k, kSlotWrap); }
uint8_t getUndoHeaderTranSlotFlag(const UnloadContext *ctx, uint32_t k) { return slotLowByte(ctx, k, kSlotFlag); }
uint32_t getUndoHeaderTranSlotLastBlock(const UnloadContext *ctx, uint32_t k)
{
    return slotU32(ctx, k, kSlotLastBlock);
}
uint32_t getUndoHeaderTranSlotSCNBase(const UnloadContext *ctx, uint32_t k) { return slotU32(ctx, k, kSlotScnBase); }
uint16_t getUndoHeaderTranSlotSCNWrap(const UnloadContext *ctx, uint32_t k) { return slotU16(ctx, k, kSlotScnWrap); }
uint8_t getUndoHeaderTranSlotState(const UnloadContext *ctx, uint32_t k) { return slotLowByte(ctx, k, kSlotState); }
uint8_t getUndoHeaderTranSlotNext(const UnloadContext *ctx, uint32_t k) { return slotLowByte(ctx, k, kSlotNext); }
uint32_t getUndoHeaderTranSlotBlockCount(const UnloadContext *ctx, uint32_t k)
{
    return slotU32(ctx, k, kSlotBlockCount);
}
uint32_t getUndoHeaderTranSlotCommit(const UnloadContext *ctx, uint32_t k) { return slotU32(ctx, k, kSlotCommit); }

namespace {
// How many entries of a table of `stride`-byte entries at `base` lie wholly
// inside the block, up to `wanted`.  The counts come from block bytes or
// settings; entries past the block do not exist and are not listed.
uint32_t entriesInBlock(const UnloadContext *ctx, uint64_t base, uint32_t stride, uint32_t wanted)
{
    if (base + stride > ctx->blockSize)
        return 0;
    uint64_t fit = (ctx->blockSize - base) / stride;
    return fit < wanted ? static_cast<uint32_t>(fit) : wanted;
}
}  // namespace

void printUndoSegmentHeader(FILE *stream, const UnloadContext *ctx)
{
    if (!isUndoHeader(ctx))
        return;
    fprintf(stream, "UNDO SEG: spare1=0x%08x=%u, spare2=0x%08x=%u\n", getUndoHeaderSpare1(ctx),
            getUndoHeaderSpare1(ctx), getUndoHeaderSpare2(ctx), getUndoHeaderSpare2(ctx));
    fprintf(stream, "          spare3=0x%08x=%u, spare4=0x%08x=%u\n", getUndoHeaderSpare3(ctx),
            getUndoHeaderSpare3(ctx), getUndoHeaderSpare4(ctx), getUndoHeaderSpare4(ctx));
    fprintf(stream, "          extents=%u, blocks=%u, offset=%u\n", getUndoHeaderExtents(ctx), getUndoHeaderBlocks(ctx),
            getUndoHeaderOffset(ctx));
    fprintf(stream, "     HWM: rdba=0x%08x=%u, ext#=%u, blk#=%u, blocks=%u\n", getUndoHeaderHWMBlockRDBA(ctx),
            getUndoHeaderHWMBlockRDBA(ctx), getUndoHeaderHWMExtent(ctx), getUndoHeaderHWMBlock(ctx),
            getUndoHeaderHWMExtentSize(ctx));
    fprintf(stream, "     MAP: rdba=0x%08x=%u, extents=%u, object=%u, flag=0x%08x\n", getUndoHeaderMapNext(ctx),
            getUndoHeaderMapNext(ctx), getUndoHeaderMapExtents(ctx), getUndoHeaderMapObject(ctx),
            getUndoHeaderMapFlag(ctx));

    fputs("Extent Map \n", stream);
    fputs("   Ext       RDBA   Length    Timestamp   Ext       RDBA   Length    Timestamp\n", stream);
    fputs(" ----- ---------- -------- ------------ ----- ---------- -------- ------------\n", stream);
    uint32_t extents = entriesInBlock(ctx, kExtentList, kExtentEntrySize, getUndoHeaderMapExtents(ctx));
    for (uint32_t i = 0; i < extents; i++) {
        fprintf(stream, " %5u 0x%08x %8u %12u", i + 1, getUndoHeaderExtentRDBA(ctx, i), getUndoHeaderExtentSize(ctx, i),
                getUndoHeaderExtentSCN(ctx, i));
        if ((i + 1) % 2 == 0)
            fputc('\n', stream);
    }
    uint32_t lastCount = extents;

    uint16_t t = getUndoHeaderTransOffset(ctx);
    if (t != 0) {
        fputc('\n', stream);
        fprintf(stream, "     TCL: scn=0x%04x.%08x, uba=0x%08x.%04x.%02x\n", getUndoHeaderTCLSCNWrap(ctx),
                getUndoHeaderTCLSCNBase(ctx), getUndoHeaderTCLUBABlock(ctx), getUndoHeaderTCLUBAWrap(ctx),
                getUndoHeaderTCLUBARecord(ctx));
        fputs("     TBL:\n", stream);
        fputs("  Slot   Wrap Sta       rdba   flag Next             scn     blocks   timstamp\n", stream);
        fputs("  ---- ------ --- ---------- ------ ---- --------------- ---------- ----------\n", stream);
        uint32_t slots = entriesInBlock(ctx, static_cast<uint64_t>(t) + kTransEntries, kTransEntrySize,
                                        getUndoHeaderTransCount(ctx));
        for (uint32_t k = 0; k < slots; k++) {
            fprintf(stream, "  0x%02x 0x%04x %3d 0x%08x 0x%04x 0x%02x 0x%04x.%08x %10u %10u\n", k,
                    getUndoHeaderTranSlotWrap(ctx, k), getUndoHeaderTranSlotState(ctx, k),
                    getUndoHeaderTranSlotLastBlock(ctx, k), getUndoHeaderTranSlotFlag(ctx, k),
                    getUndoHeaderTranSlotNext(ctx, k), getUndoHeaderTranSlotSCNWrap(ctx, k),
                    getUndoHeaderTranSlotSCNBase(ctx, k), getUndoHeaderTranSlotBlockCount(ctx, k),
                    getUndoHeaderTranSlotCommit(ctx, k));
        }
        lastCount = slots;
    }
    if (lastCount % 2 != 0)
        fputc('\n', stream);
}
