// Block formats: what the rest of ZOR uses to read fields of an Oracle block.
//
// Every function here reads the block held in the context's block buffer
// (ctx->block, exactly ctx->blockSize bytes) and nothing else.  Block bytes are
// untrusted: every read goes through the bounded helpers below, so a field that
// would lie outside the block reads as 0 instead of touching memory past it.
//
// Multi-byte fields are read in the context's byte order (ctx->byteOrder:
// 0 little-endian, 1 big-endian); any other byte order makes every multi-byte
// field read as 0.  Single-byte fields ignore the byte order.
//
// Offered here:
//   - bounded reads: blockHasRange, blockBytes, readU8/readU16/readU32 (block
//     byte order), readU16BE/readU32BE (always big-endian), and the
//     zero-on-failure forms blockU8/blockU16/blockU32;
//   - cache header, transaction header and ITL entries, the data layer offset
//     (getDataLayerOffset), the table data header, the OLTP compression
//     extension, the index common/leaf/branch headers (block_layout.cpp);
//   - segment headers (types 16, 17, 35) and extent map blocks (types 18, 36)
//     with their extent entries (segment_layout.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/unload_context.h"

// ---------------------------------------------------------------------------
// Bounded reads.  Offsets are byte offsets from the start of the block.

// No other code of ZOR computes a pointer into a block: a field is read
// through these, which check it against the block size first.  They are
// defined here, inline, because the row decoder calls them for every byte
// of every row.
//
// Each read returns false (and leaves *out untouched) when the field is
// outside the block; the 16/32-bit forms in block byte order also fail for a
// byte order other than 0 or 1.

// True when [off, off + len) lies inside the block buffer.
inline bool blockHasRange(const UnloadContext *ctx, uint32_t off, uint32_t len)
{
    if (ctx == nullptr || ctx->block == nullptr)
        return false;
    // 64-bit sum: an offset taken from block bytes plus a length must not wrap.
    return (uint64_t)off + (uint64_t)len <= (uint64_t)ctx->blockSize;
}

// The len bytes at off, or nullptr when they do not all lie inside the block.
inline const uint8_t *blockBytes(const UnloadContext *ctx, uint32_t off, uint32_t len)
{
    if (!blockHasRange(ctx, off, len))
        return nullptr;
    return ctx->block + off;
}

inline bool readU8(const UnloadContext *ctx, uint32_t off, uint8_t *out)
{
    const uint8_t *p = blockBytes(ctx, off, 1);
    if (p == nullptr)
        return false;
    *out = p[0];
    return true;
}

// Big-endian whatever BYTE_ORDER says (row chaining addresses, LOB locators).
inline bool readU16BE(const UnloadContext *ctx, uint32_t off, uint16_t *out)
{
    const uint8_t *p = blockBytes(ctx, off, 2);
    if (p == nullptr)
        return false;
    *out = (uint16_t)((p[0] << 8) | p[1]);
    return true;
}

inline bool readU32BE(const UnloadContext *ctx, uint32_t off, uint32_t *out)
{
    const uint8_t *p = blockBytes(ctx, off, 4);
    if (p == nullptr)
        return false;
    *out = ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
    return true;
}

constexpr uint8_t kBlockLittleEndian = 0;
constexpr uint8_t kBlockBigEndian = 1;

inline bool readU16(const UnloadContext *ctx, uint32_t off, uint16_t *out)
{
    if (ctx == nullptr)
        return false;
    if (ctx->byteOrder == kBlockBigEndian)
        return readU16BE(ctx, off, out);
    if (ctx->byteOrder != kBlockLittleEndian)
        return false;
    const uint8_t *p = blockBytes(ctx, off, 2);
    if (p == nullptr)
        return false;
    *out = (uint16_t)(p[0] | (p[1] << 8));
    return true;
}

inline bool readU32(const UnloadContext *ctx, uint32_t off, uint32_t *out)
{
    if (ctx == nullptr)
        return false;
    if (ctx->byteOrder == kBlockBigEndian)
        return readU32BE(ctx, off, out);
    if (ctx->byteOrder != kBlockLittleEndian)
        return false;
    const uint8_t *p = blockBytes(ctx, off, 4);
    if (p == nullptr)
        return false;
    *out = p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
    return true;
}

// The same reads, yielding 0 for a field that cannot be read.
inline uint8_t blockU8(const UnloadContext *ctx, uint32_t off)
{
    uint8_t v = 0;
    return readU8(ctx, off, &v) ? v : 0;
}

inline uint16_t blockU16(const UnloadContext *ctx, uint32_t off)
{
    uint16_t v = 0;
    return readU16(ctx, off, &v) ? v : 0;
}

inline uint32_t blockU32(const UnloadContext *ctx, uint32_t off)
{
    uint32_t v = 0;
    return readU32(ctx, off, &v) ? v : 0;
}

// ---------------------------------------------------------------------------
// Cache header (every block).
uint8_t getBlockType(const UnloadContext *ctx);
uint8_t getBlockFormat(const UnloadContext *ctx);
uint32_t getBlockRDBA(const UnloadContext *ctx);
uint32_t getSCNBase(const UnloadContext *ctx);
uint16_t getSCNWrap(const UnloadContext *ctx);
uint8_t getBlockSequence(const UnloadContext *ctx);
uint8_t getBlockFlag(const UnloadContext *ctx);
uint16_t getBlockChecksum(const UnloadContext *ctx);

// Transaction header (data and index blocks).
uint8_t getDataType(const UnloadContext *ctx);
uint32_t getDataObjectID(const UnloadContext *ctx);   // by block type
uint32_t getCleanSCNBase(const UnloadContext *ctx);
uint16_t getCleanSCNWrap(const UnloadContext *ctx);
uint16_t getMagicNumber(const UnloadContext *ctx);
uint8_t getITLCount(const UnloadContext *ctx);
uint8_t getFreeListGroup(const UnloadContext *ctx);
uint8_t getFreeLists(const UnloadContext *ctx);
uint32_t getFreeListNext(const UnloadContext *ctx);

// ITL entry i.  Most accessors take i modulo 256; getITLFlag, getITLLock and
// getITLUndoSequence take it modulo 65536 (an entry past the block reads 0).
uint16_t getITLXIDUsn(const UnloadContext *ctx, uint32_t i);
uint16_t getITLXIDSlot(const UnloadContext *ctx, uint32_t i);
uint32_t getITLXIDWrap(const UnloadContext *ctx, uint32_t i);
uint32_t getITLUndoRDBA(const UnloadContext *ctx, uint32_t i);
uint16_t getITLUndoRow(const UnloadContext *ctx, uint32_t i);
uint8_t getITLUndoSequence(const UnloadContext *ctx, uint32_t i);
uint8_t getITLFlag(const UnloadContext *ctx, uint32_t i);
uint16_t getITLLock(const UnloadContext *ctx, uint32_t i);
uint16_t getITLFSC(const UnloadContext *ctx, uint32_t i);
uint32_t getITLSCN(const UnloadContext *ctx, uint32_t i);

// H: where the data layer (table data header or index common header) starts:
// 44 + 24 x ITL count, plus 8 when the header flag byte (38) is 0x32.
uint32_t getDataLayerOffset(const UnloadContext *ctx);

// Table data header at H.
uint8_t getDataFlag(const UnloadContext *ctx);
uint8_t getTableCount(const UnloadContext *ctx);
uint16_t getRecordCount(const UnloadContext *ctx);
uint16_t getFirstFreeRowEntry(const UnloadContext *ctx);
uint16_t getFreeSpaceBeginOffset(const UnloadContext *ctx);
uint16_t getFreeSpaceEndOffset(const UnloadContext *ctx);
uint16_t getCurrentFreeSpace(const UnloadContext *ctx);
uint16_t getTotalFreeSpace(const UnloadContext *ctx);

// OLTP compression extension: its length C (0 for an uncompressed block); the
// table directory starts at H + 14 + C.
uint32_t getCompressOffset(const UnloadContext *ctx);
uint32_t isCompressTable(const UnloadContext *ctx);
uint16_t getCompressMecRows(const UnloadContext *ctx);
// Copies the column-length table and the column permutation into the context
// and resets its mapped-column counter; an uncompressed block leaves both empty.
void getCompressOrder(UnloadContext *ctx);

// Index common header at H, then the leaf (level 0) or branch header.
uint8_t getIndexColev(const UnloadContext *ctx);
uint8_t getIndexColok(const UnloadContext *ctx);
uint8_t getIndexCoopc(const UnloadContext *ctx);
uint8_t getIndexOpcode(const UnloadContext *ctx);
uint8_t getIndexColumnCount(const UnloadContext *ctx);
uint32_t getIndexCosdc(const UnloadContext *ctx);
uint16_t getIndexRowCount(const UnloadContext *ctx);
uint16_t getIndexFreeSpaceBegin(const UnloadContext *ctx);
uint16_t getIndexFreeSpaceEnd(const UnloadContext *ctx);
uint16_t getIndexFreeSpace(const UnloadContext *ctx);
uint16_t getIndexLespl(const UnloadContext *ctx);
uint16_t getIndexLende(const UnloadContext *ctx);
uint32_t getIndexLenxt(const UnloadContext *ctx);
uint32_t getIndexLeprv(const UnloadContext *ctx);
uint32_t getIndexLedsz(const UnloadContext *ctx);
uint16_t getIndexLebksz(const UnloadContext *ctx);
uint32_t getIndexBrlmc(const UnloadContext *ctx);
uint32_t getIndexBrsno(const UnloadContext *ctx);
uint16_t getIndexBrbksz(const UnloadContext *ctx);
// Row directory entry i of an index block (offset relative to H).
uint16_t getIndexOffset(const UnloadContext *ctx, uint32_t i);

// ---------------------------------------------------------------------------
// Segment headers (types 16, 17, 35) and extent map blocks (types 18, 36).
// Fields of a block of another type read as 0 unless stated otherwise.
uint32_t getSegExtentCount(const UnloadContext *ctx);   // also types 18, 36
uint32_t getSegBlockCount(const UnloadContext *ctx);
uint32_t getSegHWMExtent(const UnloadContext *ctx);
uint32_t getSegHWMBlocks(const UnloadContext *ctx);
uint32_t getSegHWMExtSize(const UnloadContext *ctx);
uint32_t getSegHWMAddress(const UnloadContext *ctx);
uint32_t getSegNextMAP(const UnloadContext *ctx);
uint32_t getSegFLGBlocks(const UnloadContext *ctx);
uint32_t getSegFLGBellow(const UnloadContext *ctx);
uint32_t getSegMapFlag(const UnloadContext *ctx);
// Extent map of the block in the buffer, whatever its family.
uint32_t getBlockExtentCount(const UnloadContext *ctx);
uint32_t getSegNextMapRDBA(const UnloadContext *ctx);
uint32_t getSegExtentRDBA(const UnloadContext *ctx, uint32_t i);
uint32_t getSegExtentBlocks(const UnloadContext *ctx, uint32_t i);

// ---------------------------------------------------------------------------
// File headers, undo blocks and undo segment headers, and the decoded block
// dumps (file_header.cpp, undo_layout.cpp, block_dump.cpp).

// Datafile header, block 1 of every datafile (type 11).  The tablespace
// fields sit at 332/336/338 in formats 0xA2 and 0xC2, at 244/248/250 in
// format 0x02, and are read at 0/0/2 for any other format.
uint32_t getSoftwareVersion(const UnloadContext *ctx);
uint32_t getCompatibleVersion(const UnloadContext *ctx);
uint32_t getDBID(const UnloadContext *ctx);
// The 8 name bytes and a NUL, newly allocated (caller frees); null when out of memory.
char *getDatabaseName(const UnloadContext *ctx);
uint32_t getControlSeq(const UnloadContext *ctx);
uint32_t getBlockCount(const UnloadContext *ctx);
uint32_t getDBBlockSize(const UnloadContext *ctx);
uint16_t getFileNumber(const UnloadContext *ctx);
uint16_t getFileType(const UnloadContext *ctx);
uint32_t getBootstrapRDBA(const UnloadContext *ctx);
uint16_t getFuzzyStatus(const UnloadContext *ctx);
uint32_t getTablespaceID(const UnloadContext *ctx);
// A newly allocated NUL-terminated copy of the name (caller frees), or null
// when its stored length is not 1..30.
char *getTablespaceName(const UnloadContext *ctx);
// The one-line file header summary of ORADUMP and the scans.
void printFileHeader(FILE *stream, const UnloadContext *ctx);

// Undo block (type 2); every accessor yields 0 for another block type.
uint16_t getUndoBlockXIDUSN(const UnloadContext *ctx);
uint16_t getUndoBlockXIDSLOT(const UnloadContext *ctx);
uint8_t getUndoBlockICL(const UnloadContext *ctx);
uint32_t getUndoBlockXIDWRAP(const UnloadContext *ctx);
uint16_t getUndoBlockUBAWRAP(const UnloadContext *ctx);
uint8_t getUndoBlockCount(const UnloadContext *ctx);
uint8_t getUndoBlockIRB(const UnloadContext *ctx);
uint16_t getUndoBlockFlag(const UnloadContext *ctx);
// Offset and length of record i + 1 (i from 0).
uint16_t getUndoBlockRecordOffset(const UnloadContext *ctx, uint32_t i);
uint16_t getUndoBlockRecordLength(const UnloadContext *ctx, uint32_t i);

// Undo segment header (types 14 and 38); every accessor yields 0 for another
// block type.  All fields are 32 bits except where the type says otherwise.
uint32_t getUndoHeaderSpare1(const UnloadContext *ctx);
uint32_t getUndoHeaderSpare2(const UnloadContext *ctx);
uint32_t getUndoHeaderSpare3(const UnloadContext *ctx);
uint32_t getUndoHeaderSpare4(const UnloadContext *ctx);
uint32_t getUndoHeaderExtents(const UnloadContext *ctx);
uint32_t getUndoHeaderBlocks(const UnloadContext *ctx);
uint32_t getUndoHeaderOffset(const UnloadContext *ctx);
uint32_t getUndoHeaderHWMExtent(const UnloadContext *ctx);
uint32_t getUndoHeaderHWMBlock(const UnloadContext *ctx);
uint32_t getUndoHeaderHWMExtentSize(const UnloadContext *ctx);
uint32_t getUndoHeaderHWMBlockRDBA(const UnloadContext *ctx);
uint32_t getUndoHeaderMapExtents(const UnloadContext *ctx);
uint32_t getUndoHeaderMapNext(const UnloadContext *ctx);
uint32_t getUndoHeaderMapObject(const UnloadContext *ctx);
uint32_t getUndoHeaderMapFlag(const UnloadContext *ctx);
uint32_t getUndoHeaderExtentRDBA(const UnloadContext *ctx, uint32_t i);
uint32_t getUndoHeaderExtentSize(const UnloadContext *ctx, uint32_t i);
uint32_t getUndoHeaderExtentSCN(const UnloadContext *ctx, uint32_t i);   // type 38 only
// Transaction table base T and entry count, after TRANS_OFFSET / TRANS_COUNT.
uint16_t getUndoHeaderTransOffset(const UnloadContext *ctx);
uint16_t getUndoHeaderTransCount(const UnloadContext *ctx);
uint32_t getUndoHeaderTCLSCNBase(const UnloadContext *ctx);
uint16_t getUndoHeaderTCLSCNWrap(const UnloadContext *ctx);
uint32_t getUndoHeaderTCLUBABlock(const UnloadContext *ctx);
uint16_t getUndoHeaderTCLUBAWrap(const UnloadContext *ctx);
uint8_t getUndoHeaderTCLUBARecord(const UnloadContext *ctx);
uint16_t getUndoHeaderTranSlotWrap(const UnloadContext *ctx, uint32_t k);
uint8_t getUndoHeaderTranSlotFlag(const UnloadContext *ctx, uint32_t k);
uint32_t getUndoHeaderTranSlotLastBlock(const UnloadContext *ctx, uint32_t k);
uint32_t getUndoHeaderTranSlotSCNBase(const UnloadContext *ctx, uint32_t k);
uint16_t getUndoHeaderTranSlotSCNWrap(const UnloadContext *ctx, uint32_t k);
uint8_t getUndoHeaderTranSlotState(const UnloadContext *ctx, uint32_t k);
uint8_t getUndoHeaderTranSlotNext(const UnloadContext *ctx, uint32_t k);
uint32_t getUndoHeaderTranSlotBlockCount(const UnloadContext *ctx, uint32_t k);
uint32_t getUndoHeaderTranSlotCommit(const UnloadContext *ctx, uint32_t k);
void printUndoBlockHeader(FILE *stream, const UnloadContext *ctx);
void printUndoSegmentHeader(FILE *stream, const UnloadContext *ctx);

// (The decoded dumps of whole blocks are in view/.)
// ---------------------------------------------------------------------------
