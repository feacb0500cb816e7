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

#include "shell/unload_context.h"

// ---------------------------------------------------------------------------
// Bounded reads.  Offsets are byte offsets from the start of the block.

// True when [off, off + len) lies inside the block buffer.
bool blockHasRange(const UnloadContext *ctx, uint32_t off, uint32_t len);
// The len bytes at off, or nullptr when they do not all lie inside the block.
const uint8_t *blockBytes(const UnloadContext *ctx, uint32_t off, uint32_t len);

// Each returns false (and leaves *out untouched) when the field is outside the
// block; the 16/32-bit forms in block byte order also fail for a byte order
// other than 0 or 1.
bool readU8(const UnloadContext *ctx, uint32_t off, uint8_t *out);
bool readU16(const UnloadContext *ctx, uint32_t off, uint16_t *out);
bool readU32(const UnloadContext *ctx, uint32_t off, uint32_t *out);
// Big-endian whatever BYTE_ORDER says (row chaining addresses, LOB locators).
bool readU16BE(const UnloadContext *ctx, uint32_t off, uint16_t *out);
bool readU32BE(const UnloadContext *ctx, uint32_t off, uint32_t *out);

// The same reads, yielding 0 for a field that cannot be read.
uint8_t blockU8(const UnloadContext *ctx, uint32_t off);
uint16_t blockU16(const UnloadContext *ctx, uint32_t off);
uint32_t blockU32(const UnloadContext *ctx, uint32_t off);

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
