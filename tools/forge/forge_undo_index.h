// The forge's undo and index blocks: undo blocks (type 2) with their
// records, undo segment headers (types 14 and 38) with extent maps and
// transaction tables, and index blocks (type 6, transaction type 2): leaf
// blocks whose entries hold keys only or keys and the rest of the row (an
// index-organized table), deleted entries, and branch blocks.
//
// Like the rest of the forge these are laid out from the published block
// layouts alone, never from ZOR's reader.
#ifndef ZOR_TOOLS_FORGE_FORGE_UNDO_INDEX_H
#define ZOR_TOOLS_FORGE_FORGE_UNDO_INDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "forge/forge.h"

namespace forge {

// ---------------------------------------------------------------------------
// Undo blocks (type 2)
// ---------------------------------------------------------------------------
// After the cache header:
//   20  u16  xid undo segment number
//   22  u16  xid slot (low 12 bits) and icl (high 4 bits)
//   24  u32  xid wrap
//   28  u16  sequence
//   30  u8   record count
//   31  u8   irb
//   32  u16  flag
//   34  u16  end of record 1 (one past its last byte)
//   36  u16 per record: its offset
// Records are packed downwards from the 4-byte tail: record 1 highest, and
// record i + 1 ends where record i begins.
const uint8_t kTypeUndoBlock = 2;

struct UndoBlockLayout {
    CacheHeader cache;      // type 2
    uint16_t xidUsn;
    uint16_t xidSlot;       // 12 bits
    uint8_t icl;            // 4 bits
    uint32_t xidWrap;
    uint16_t sequence;
    int irb;                // -1: the record count
    uint16_t flag;
    std::vector<std::vector<uint8_t>> records;   // at most 255
};

void initUndoBlockLayout(UndoBlockLayout *layout, uint32_t rdba);
// Does not seal.  Fails when the records do not fit or are more than 255.
bool putUndoBlock(Block *block, const UndoBlockLayout *layout, char *error, size_t errorLength);
// Where record n (from 1) was placed by putUndoBlock, and its length.
uint32_t undoRecordOffset(const Block *block, uint32_t n);

// ---------------------------------------------------------------------------
// Undo segment headers (types 14 and 38)
// ---------------------------------------------------------------------------
// All fields u32:
//   20..32  spare1..spare4    36 extents   40 blocks   44 offset
//   48 HWM extent   52 HWM block   56 HWM extent size   60 HWM RDBA
//   92 map entries here   96 next map RDBA   100 map object   104 map flag
//   108 + 8i  extent i: RDBA, then length in blocks
// Type 38 only: a u32 timestamp per extent at (offset & 0xFFFF) + 20 + 4i.
// Transaction table at T: type 14 at offset + 20; type 38 at 6096 in 8 KB
// blocks (readers of other block sizes need to be told where it is):
//   T+0 u32 control SCN base   T+4 u16 SCN wrap   T+8 u32 UBA RDBA
//   T+12 u16 UBA sequence      T+14 u8 UBA record
//   T+104 + 40k  slot k: +0 u16 wrap, +2 u8 flag, +4 u32 last block RDBA,
//     +8 u32 SCN base, +12 u16 SCN wrap, +16 u8 state, +18 u8 next,
//     +32 u32 blocks, +36 u32 commit timestamp
// (the u8 fields sit in the low byte of a u16, in the block's byte order).
const uint8_t kTypeUndoHeader = 14;
const uint8_t kTypeUndoHeaderAuto = 38;

struct UndoExtent {
    uint32_t rdba;
    uint32_t blocks;
    uint32_t timestamp;     // type 38 only
};

struct TransactionSlot {
    uint16_t wrap;
    uint8_t flag;
    uint32_t lastBlock;
    uint32_t scnBase;
    uint16_t scnWrap;
    uint8_t state;
    uint8_t next;
    uint32_t blocks;
    uint32_t commit;
};

struct UndoSegmentHeaderLayout {
    CacheHeader cache;      // type 14 or 38
    uint32_t spare[4];
    uint32_t extentCount;   // 0: the number of extents listed
    uint32_t blockCount;    // 0: the sum of their lengths
    uint32_t offset;        // 0: a default that leaves room for the extent map
    uint32_t hwmExtent, hwmBlock, hwmExtentSize, hwmRdba;
    uint32_t mapNext, mapObject, mapFlag;
    std::vector<UndoExtent> extents;
    // Transaction table; its base is 0 for "where a reader of this type and
    // block size looks by default" (type 38 outside 8 KB blocks: as far
    // towards the tail as it fits).
    uint32_t transOffset;
    uint32_t tclScnBase;
    uint16_t tclScnWrap;
    uint32_t tclUbaRdba;
    uint16_t tclUbaSequence;
    uint8_t tclUbaRecord;
    std::vector<TransactionSlot> slots;
};

void initUndoSegmentHeaderLayout(UndoSegmentHeaderLayout *layout, uint8_t type, uint32_t rdba);
void initTransactionSlot(TransactionSlot *slot);
// The offset field and transaction table base putUndoSegmentHeader uses.
uint32_t undoHeaderOffsetField(const UndoSegmentHeaderLayout *layout, uint32_t blockSize);
uint32_t undoTransactionTableOffset(const UndoSegmentHeaderLayout *layout, uint32_t blockSize);
// Does not seal.  Fails when the parts overlap or leave the block.
bool putUndoSegmentHeader(Block *block, const UndoSegmentHeaderLayout *layout, char *error, size_t errorLength);

// ---------------------------------------------------------------------------
// Index blocks (type 6, transaction type 2)
// ---------------------------------------------------------------------------
// Transaction header and ITL list as in data blocks.  Index header at H:
//   H+0 u8 level (kdxcolev; 0 leaf)   H+1 u8 kdxcolok   H+2 u8 kdxcoopc
//   H+3 u8 key columns per entry (kdxconco)   H+4 u32 kdxcosdc
//   H+8 u16 entries (kdxconro)   H+10 u16 free space begin (kdxcofbo)
//   H+12 u16 free space end (kdxcofeo)   H+14 u16 available (kdxcoavs)
// Leaf:   H+16 u16 kdxlespl, H+18 u16 deleted entries (kdxlende),
//         H+20 u32 next leaf, H+24 u32 previous leaf, H+28 u32 kdxledsz,
//         H+32 u16 kdxlebksz, H+36 the row directory.
// Branch: H+16 u32 leftmost child (kdxbrlmc), H+20 u32 kdxbrsno,
//         H+24 u16 kdxbrbksz, H+28 the row directory.
// Directory entries are u16 offsets relative to H; entries are packed
// downwards from the tail in directory order.
// Leaf entry: u8 flag (0x01 deleted, 0x04 carries a data part), u8 lock, the
// key columns; with a data part: u8 row flag, u8 lock, u8 column count, the
// next piece (u32 RDBA and u16 slot, big-endian) when the row flag lacks L,
// and the data columns.  Column lengths as in data rows.
// Branch entry (the forge's model; readers list only its offset): u32 child
// RDBA in block order, then the key columns.
const uint8_t kTransactionIndex = 2;
const uint8_t kIndexEntryDeleted = 0x01;
const uint8_t kIndexEntryHasData = 0x04;
const uint8_t kIndexOpcodeIot = 0x10;   // kdxcoopc bit: leaf entries carry rows

struct IndexEntry {
    uint8_t flag;           // kIndexEntryHasData is added when hasData
    uint8_t lock;
    std::vector<uint8_t> prefix;  // written after the lock, before the keys (LOB index entry data)
    std::vector<ColumnValue> keys;
    bool hasData;
    uint8_t dataFlag;       // kRowNormal by default
    uint8_t dataLock;
    uint32_t nextRdba;      // written when dataFlag lacks L
    uint16_t nextSlot;
    std::vector<ColumnValue> data;
};

struct IndexBranchEntry {
    uint32_t childRdba;
    std::vector<ColumnValue> keys;
};

struct IndexBlockLayout {
    CacheHeader cache;      // type 6
    uint32_t objectId;
    uint32_t cleanScnBase;
    uint16_t cleanScnWrap;
    uint8_t headerFlag;     // byte 38; 0x32 by default
    std::vector<ItlEntry> itl;
    uint8_t level;          // 0: leaf
    uint8_t colok;
    uint8_t opcode;         // kdxcoopc
    uint8_t keyColumns;     // kdxconco
    uint32_t sdc;
    uint16_t lespl;
    uint32_t nextLeaf, previousLeaf;
    uint32_t leftmostChild, brsno;
    std::vector<IndexEntry> entries;          // leaf
    std::vector<IndexBranchEntry> branches;   // branch
};

void initIndexEntry(IndexEntry *entry);
// A leaf (level 0) with two empty ITLs and no entries.
void initIndexBlockLayout(IndexBlockLayout *layout, uint32_t rdba, uint32_t objectId, uint8_t keyColumns);
// Does not seal.  Fails when the entries do not fit.
bool putIndexBlock(Block *block, const IndexBlockLayout *layout, char *error, size_t errorLength);

}  // namespace forge

#endif
