// Bounded reads of the block buffer, and the fields of the cache header, the
// transaction header with its ITL list, the table data header with the OLTP
// compression extension, and the index block headers.
#include "block/block.h"

// ---------------------------------------------------------------------------
// Cache header, 20 bytes at the start of every block:
//   0   u8   block type (6 data/index, 16/17 free-list segment header,
//            18 extent map, 35 ASSM segment header, 36 ASSM extent map, ...)
//   1   u8   block format (0x02, 0xA2, 0xC2)
//   4   u32  RDBA of the block
//   8   u32  SCN base
//   12  u16  SCN wrap
//   14  u8   sequence
//   15  u8   flag
//   16  u16  checksum
namespace {
constexpr uint32_t kBlockTypeOffset = 0;
constexpr uint32_t kBlockFormatOffset = 1;
constexpr uint32_t kRdbaOffset = 4;
constexpr uint32_t kScnBaseOffset = 8;
constexpr uint32_t kScnWrapOffset = 12;
constexpr uint32_t kSequenceOffset = 14;
constexpr uint32_t kBlockFlagOffset = 15;
constexpr uint32_t kChecksumOffset = 16;
}  // namespace

uint8_t getBlockType(const UnloadContext *ctx) { return blockU8(ctx, kBlockTypeOffset); }
uint8_t getBlockFormat(const UnloadContext *ctx) { return blockU8(ctx, kBlockFormatOffset); }
uint32_t getBlockRDBA(const UnloadContext *ctx) { return blockU32(ctx, kRdbaOffset); }
uint32_t getSCNBase(const UnloadContext *ctx) { return blockU32(ctx, kScnBaseOffset); }
uint16_t getSCNWrap(const UnloadContext *ctx) { return blockU16(ctx, kScnWrapOffset); }
uint8_t getBlockSequence(const UnloadContext *ctx) { return blockU8(ctx, kSequenceOffset); }
uint8_t getBlockFlag(const UnloadContext *ctx) { return blockU8(ctx, kBlockFlagOffset); }
uint16_t getBlockChecksum(const UnloadContext *ctx) { return blockU16(ctx, kChecksumOffset); }

// ---------------------------------------------------------------------------
// Transaction header of data and index blocks, from offset 20:
//   20  u8   data type: 1 table data, 2 index
//   24  u32  data object id
//   28  u32  cleanout SCN base
//   32  u16  cleanout SCN wrap
//   34  u16  the 16 bits after it ("magic")
//   36  u16  ITL count; only the low byte counts (byte 36 little-endian,
//            byte 37 big-endian)
//   38  u8   header flag; 0x32 puts 8 more bytes after the ITL list
//   39  u8   free list slot
//   40  u32  next block on the free list
//   44  24 x ITL count: the ITL entries
//
// The data object id sits elsewhere in other block kinds, so
// getDataObjectID looks at the block type first:
//   type 6 -> 24;  16, 17 -> 100;  18 -> 28;  27, 40 -> 20;  35 -> 272;
//   anything else has none and yields 0.
namespace {
constexpr uint32_t kDataTypeOffset = 20;
constexpr uint32_t kDataObjectIdOffset = 24;
constexpr uint32_t kCleanScnBaseOffset = 28;
constexpr uint32_t kCleanScnWrapOffset = 32;
constexpr uint32_t kMagicNumberOffset = 34;
constexpr uint32_t kItlCountOffset = 36;
constexpr uint32_t kHeaderFlagOffset = 38;
constexpr uint32_t kFreeListsOffset = 39;
constexpr uint32_t kFreeListNextOffset = 40;

constexpr uint32_t kFreeListSegHeaderObjdOffset = 100;   // types 16, 17
constexpr uint32_t kExtentMapObjdOffset = 28;            // type 18
constexpr uint32_t kType27And40ObjdOffset = 20;          // types 27, 40
constexpr uint32_t kAssmSegHeaderObjdOffset = 272;       // type 35
}  // namespace

uint8_t getDataType(const UnloadContext *ctx) { return blockU8(ctx, kDataTypeOffset); }

uint32_t getDataObjectID(const UnloadContext *ctx)
{
    switch (getBlockType(ctx)) {
    case 6:
        return blockU32(ctx, kDataObjectIdOffset);
    case 16:
    case 17:
        return blockU32(ctx, kFreeListSegHeaderObjdOffset);
    case 18:
        return blockU32(ctx, kExtentMapObjdOffset);
    case 27:
    case 40:
        return blockU32(ctx, kType27And40ObjdOffset);
    case 35:
        return blockU32(ctx, kAssmSegHeaderObjdOffset);
    default:
        return 0;
    }
}

uint32_t getCleanSCNBase(const UnloadContext *ctx) { return blockU32(ctx, kCleanScnBaseOffset); }
uint16_t getCleanSCNWrap(const UnloadContext *ctx) { return blockU16(ctx, kCleanScnWrapOffset); }
uint16_t getMagicNumber(const UnloadContext *ctx) { return blockU16(ctx, kMagicNumberOffset); }

uint8_t getITLCount(const UnloadContext *ctx)
{
    // Reading the whole 16-bit field in the block order and keeping its low
    // byte picks byte 36 or 37 as the platform stored it, and gives 0 when the
    // byte order is unusable.
    return (uint8_t)(blockU16(ctx, kItlCountOffset) & 0xFF);
}

uint8_t getFreeListGroup(const UnloadContext *ctx) { return blockU8(ctx, kHeaderFlagOffset); }
uint8_t getFreeLists(const UnloadContext *ctx) { return blockU8(ctx, kFreeListsOffset); }
uint32_t getFreeListNext(const UnloadContext *ctx) { return blockU32(ctx, kFreeListNextOffset); }

// ---------------------------------------------------------------------------
// ITL entry i, 24 bytes at 44 + 24 x i:
//   +0   u16  xid undo segment number
//   +2   u16  xid slot (low 12 bits)
//   +4   u32  xid wrap
//   +8   u32  undo block address: RDBA
//   +12  u16  undo block address: low 12 bits
//   +14  u8   undo block address: the byte at 14
//   +16  u16  flag (high 4 bits) and lock count (low 12 bits)
//   +18  u16  free space credit, or SCN wrap of a committed transaction
//   +20  u32  commit SCN base
namespace {
constexpr uint32_t kItlListOffset = 44;
constexpr uint32_t kItlEntrySize = 24;
constexpr uint32_t kItlXidUsn = 0;
constexpr uint32_t kItlXidSlot = 2;
constexpr uint32_t kItlXidWrap = 4;
constexpr uint32_t kItlUndoRdba = 8;
constexpr uint32_t kItlUndoRow = 12;
constexpr uint32_t kItlUndoSequence = 14;
constexpr uint32_t kItlFlagLock = 16;
constexpr uint32_t kItlFsc = 18;
constexpr uint32_t kItlScn = 20;

// Most ITL accessors take their entry number in 8 bits, three in 16 bits.
uint32_t itlField8(uint32_t i, uint32_t field)
{
    return kItlListOffset + kItlEntrySize * (i & 0xFF) + field;
}

uint32_t itlField16(uint32_t i, uint32_t field)
{
    return kItlListOffset + kItlEntrySize * (i & 0xFFFF) + field;
}
}  // namespace

uint16_t getITLXIDUsn(const UnloadContext *ctx, uint32_t i) { return blockU16(ctx, itlField8(i, kItlXidUsn)); }

uint16_t getITLXIDSlot(const UnloadContext *ctx, uint32_t i)
{
    return (uint16_t)(blockU16(ctx, itlField8(i, kItlXidSlot)) & 0x0FFF);
}

uint32_t getITLXIDWrap(const UnloadContext *ctx, uint32_t i) { return blockU32(ctx, itlField8(i, kItlXidWrap)); }
uint32_t getITLUndoRDBA(const UnloadContext *ctx, uint32_t i) { return blockU32(ctx, itlField8(i, kItlUndoRdba)); }

uint16_t getITLUndoRow(const UnloadContext *ctx, uint32_t i)
{
    return (uint16_t)(blockU16(ctx, itlField8(i, kItlUndoRow)) & 0x0FFF);
}

uint8_t getITLUndoSequence(const UnloadContext *ctx, uint32_t i)
{
    return blockU8(ctx, itlField16(i, kItlUndoSequence));
}

uint8_t getITLFlag(const UnloadContext *ctx, uint32_t i)
{
    return (uint8_t)(blockU16(ctx, itlField16(i, kItlFlagLock)) >> 12);
}

uint16_t getITLLock(const UnloadContext *ctx, uint32_t i)
{
    return (uint16_t)(blockU16(ctx, itlField16(i, kItlFlagLock)) & 0x0FFF);
}

uint16_t getITLFSC(const UnloadContext *ctx, uint32_t i) { return blockU16(ctx, itlField8(i, kItlFsc)); }
uint32_t getITLSCN(const UnloadContext *ctx, uint32_t i) { return blockU32(ctx, itlField8(i, kItlScn)); }

// ---------------------------------------------------------------------------
// Data layer offset.  Blocks whose header flag byte is 0x32 carry 8 more
// bytes of transaction header after the ITL list, so the data layer starts
// 8 bytes later than the ITL count alone says.
namespace {
constexpr uint8_t kHeaderFlagExtended = 0x32;
constexpr uint32_t kExtendedHeaderBytes = 8;
}  // namespace

uint32_t getDataLayerOffset(const UnloadContext *ctx)
{
    uint32_t h = kItlListOffset + kItlEntrySize * getITLCount(ctx);
    if (getFreeListGroup(ctx) == kHeaderFlagExtended)
        h += kExtendedHeaderBytes;
    return h;
}

// ---------------------------------------------------------------------------
// Table data header at H:
//   H+0   u8   flag (0x40: OLTP compressed)
//   H+1   u8   table count (more than 1 in cluster blocks)
//   H+2   u16  row directory entries
//   H+4   u16  first free row directory entry
//   H+6   u16  start of free space
//   H+8   u16  end of free space
//   H+10  u16  available space
//   H+12  u16  total free space
//   H+14  compression extension of C bytes (C = 0 when not compressed)
//   H+14+C       table directory, 4 bytes per table
//   H+14+C+4t    row directory, 2 bytes per entry
namespace {
constexpr uint32_t kDataFlag = 0;
constexpr uint32_t kTableCount = 1;
constexpr uint32_t kRecordCount = 2;
constexpr uint32_t kFirstFreeRowEntry = 4;
constexpr uint32_t kFreeSpaceBegin = 6;
constexpr uint32_t kFreeSpaceEnd = 8;
constexpr uint32_t kCurrentFreeSpace = 10;
constexpr uint32_t kTotalFreeSpace = 12;
}  // namespace

uint8_t getDataFlag(const UnloadContext *ctx) { return blockU8(ctx, getDataLayerOffset(ctx) + kDataFlag); }
uint8_t getTableCount(const UnloadContext *ctx) { return blockU8(ctx, getDataLayerOffset(ctx) + kTableCount); }
uint16_t getRecordCount(const UnloadContext *ctx) { return blockU16(ctx, getDataLayerOffset(ctx) + kRecordCount); }

uint16_t getFirstFreeRowEntry(const UnloadContext *ctx)
{
    return blockU16(ctx, getDataLayerOffset(ctx) + kFirstFreeRowEntry);
}

uint16_t getFreeSpaceBeginOffset(const UnloadContext *ctx)
{
    return blockU16(ctx, getDataLayerOffset(ctx) + kFreeSpaceBegin);
}

uint16_t getFreeSpaceEndOffset(const UnloadContext *ctx)
{
    return blockU16(ctx, getDataLayerOffset(ctx) + kFreeSpaceEnd);
}

uint16_t getCurrentFreeSpace(const UnloadContext *ctx)
{
    return blockU16(ctx, getDataLayerOffset(ctx) + kCurrentFreeSpace);
}

uint16_t getTotalFreeSpace(const UnloadContext *ctx)
{
    return blockU16(ctx, getDataLayerOffset(ctx) + kTotalFreeSpace);
}

// ---------------------------------------------------------------------------
// OLTP compression extension, present when the flag at H has 0x40:
//   H+16  u16      symbol-entry threshold ("mec rows")
//   H+19  u8       n: entries of the column-length table
//   H+20  u8       p: entries of the column permutation
//   H+22  u16 x n  column-length table (cumulative ends; bit 15 = no length)
//   H+22+2n  u8 x p  column permutation
// Its length is C = 8 + 2n + p, p rounded up to even so that the table
// directory after it stays 2-byte aligned.
namespace {
constexpr uint8_t kDataFlagCompressed = 0x40;
constexpr uint32_t kCompressMecRows = 16;
constexpr uint32_t kCompressLengthCount = 19;
constexpr uint32_t kCompressPermutationCount = 20;
constexpr uint32_t kCompressLengthTable = 22;
constexpr uint32_t kCompressFixedBytes = 8;
}  // namespace

uint32_t getCompressOffset(const UnloadContext *ctx)
{
    uint32_t h = getDataLayerOffset(ctx);
    if ((blockU8(ctx, h + kDataFlag) & kDataFlagCompressed) == 0)
        return 0;
    uint32_t n = blockU8(ctx, h + kCompressLengthCount);
    uint32_t p = blockU8(ctx, h + kCompressPermutationCount);
    return kCompressFixedBytes + 2 * n + ((p + 1) & ~1u);
}

uint32_t isCompressTable(const UnloadContext *ctx) { return getCompressOffset(ctx); }

uint16_t getCompressMecRows(const UnloadContext *ctx)
{
    return blockU16(ctx, getDataLayerOffset(ctx) + kCompressMecRows);
}

void getCompressOrder(UnloadContext *ctx)
{
    if (ctx == nullptr)
        return;
    ctx->compressLengthCount = 0;
    ctx->permutationCount = 0;
    ctx->mappedColumns = 0;
    uint32_t h = getDataLayerOffset(ctx);
    if ((blockU8(ctx, h + kDataFlag) & kDataFlagCompressed) == 0)
        return;
    uint32_t n = blockU8(ctx, h + kCompressLengthCount);
    uint32_t p = blockU8(ctx, h + kCompressPermutationCount);
    uint32_t table = h + kCompressLengthTable;
    // The counts are copied only with the entries they count: a table cut off
    // by the block end keeps only what the block holds.
    uint32_t copied = 0;
    for (; copied < n; copied++) {
        uint16_t v;
        if (!readU16(ctx, table + 2 * copied, &v))
            break;
        ctx->compressLengths[copied] = v;
    }
    ctx->compressLengthCount = (uint8_t)copied;
    if (copied < n)
        return;
    uint32_t perm = table + 2 * n;
    copied = 0;
    for (; copied < p; copied++) {
        uint8_t v;
        if (!readU8(ctx, perm + copied, &v))
            break;
        ctx->permutation[copied] = v;
    }
    ctx->permutationCount = (uint8_t)copied;
}

// ---------------------------------------------------------------------------
// Index common header at H:
//   H+0   u8   kdxcolev  level (0 = leaf)
//   H+1   u8   kdxcolok
//   H+2   u8   kdxcoopc
//   H+3   u8   kdxconco  column count
//   H+4   u32  kdxcosdc
//   H+8   u16  kdxconro  row count
//   H+10  u16  kdxcofbo
//   H+12  u16  kdxcofeo
//   H+14  u16  kdxcoavs
// Leaf header (level 0):
//   H+16  u16  kdxlespl
//   H+18  u16  kdxlende  deleted rows
//   H+20  u32  kdxlenxt  next leaf RDBA
//   H+24  u32  kdxleprv  previous leaf RDBA
//   H+28  u32  kdxledsz
//   H+32  u16  kdxlebksz
//   H+36  u16 x rows  row directory
// Branch header (level above 0):
//   H+16  u32  kdxbrlmc  leftmost child RDBA
//   H+20  u32  kdxbrsno
//   H+24  u16  kdxbrbksz
//   H+28  u16 x rows  row directory
namespace {
constexpr uint32_t kIndexColev = 0;
constexpr uint32_t kIndexColok = 1;
constexpr uint32_t kIndexCoopc = 2;
constexpr uint32_t kIndexConco = 3;
constexpr uint32_t kIndexCosdc = 4;
constexpr uint32_t kIndexConro = 8;
constexpr uint32_t kIndexCofbo = 10;
constexpr uint32_t kIndexCofeo = 12;
constexpr uint32_t kIndexCoavs = 14;
constexpr uint32_t kIndexLespl = 16;
constexpr uint32_t kIndexLende = 18;
constexpr uint32_t kIndexLenxt = 20;
constexpr uint32_t kIndexLeprv = 24;
constexpr uint32_t kIndexLedsz = 28;
constexpr uint32_t kIndexLebksz = 32;
constexpr uint32_t kIndexBrlmc = 16;
constexpr uint32_t kIndexBrsno = 20;
constexpr uint32_t kIndexBrbksz = 24;
constexpr uint32_t kIndexLeafRowDirectory = 36;
constexpr uint32_t kIndexBranchRowDirectory = 28;

uint32_t indexField(const UnloadContext *ctx, uint32_t field) { return getDataLayerOffset(ctx) + field; }
}  // namespace

uint8_t getIndexColev(const UnloadContext *ctx) { return blockU8(ctx, indexField(ctx, kIndexColev)); }
uint8_t getIndexColok(const UnloadContext *ctx) { return blockU8(ctx, indexField(ctx, kIndexColok)); }
uint8_t getIndexCoopc(const UnloadContext *ctx) { return blockU8(ctx, indexField(ctx, kIndexCoopc)); }
uint8_t getIndexOpcode(const UnloadContext *ctx) { return blockU8(ctx, indexField(ctx, kIndexCoopc)); }
uint8_t getIndexColumnCount(const UnloadContext *ctx) { return blockU8(ctx, indexField(ctx, kIndexConco)); }
uint32_t getIndexCosdc(const UnloadContext *ctx) { return blockU32(ctx, indexField(ctx, kIndexCosdc)); }
uint16_t getIndexRowCount(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexConro)); }
uint16_t getIndexFreeSpaceBegin(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexCofbo)); }
uint16_t getIndexFreeSpaceEnd(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexCofeo)); }
uint16_t getIndexFreeSpace(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexCoavs)); }
uint16_t getIndexLespl(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexLespl)); }
uint16_t getIndexLende(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexLende)); }
uint32_t getIndexLenxt(const UnloadContext *ctx) { return blockU32(ctx, indexField(ctx, kIndexLenxt)); }
uint32_t getIndexLeprv(const UnloadContext *ctx) { return blockU32(ctx, indexField(ctx, kIndexLeprv)); }
uint32_t getIndexLedsz(const UnloadContext *ctx) { return blockU32(ctx, indexField(ctx, kIndexLedsz)); }
uint16_t getIndexLebksz(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexLebksz)); }
uint32_t getIndexBrlmc(const UnloadContext *ctx) { return blockU32(ctx, indexField(ctx, kIndexBrlmc)); }
uint32_t getIndexBrsno(const UnloadContext *ctx) { return blockU32(ctx, indexField(ctx, kIndexBrsno)); }
uint16_t getIndexBrbksz(const UnloadContext *ctx) { return blockU16(ctx, indexField(ctx, kIndexBrbksz)); }

uint16_t getIndexOffset(const UnloadContext *ctx, uint32_t i)
{
    uint32_t directory = getIndexColev(ctx) != 0 ? kIndexBranchRowDirectory : kIndexLeafRowDirectory;
    // An entry number from a row count is at most 65535; keep the arithmetic
    // in range for any caller and let the bounded read reject what is past the block.
    return blockU16(ctx, indexField(ctx, directory) + 2 * (i & 0xFFFF));
}
