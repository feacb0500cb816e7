// Row decoding: table and row directories, uncompressed row pieces, pieces of
// OLTP-compressed blocks with their symbol table, and the live-row test.
#include "unload/rows/row_decode.h"

#include "block/block.h"

// ---------------------------------------------------------------------------
// Data header at kdbh (see block/block.h for the fields before 14):
//   kdbh+2   u16  row directory entries
//   kdbh+8   u16  free space end: live rows lie at or after it
//   kdbh+14  compression extension of C bytes (0 when not compressed)
//   kdbh+14+C        table directory, per table: u16 first entry, u16 rows
//   kdbh+14+C+4t     row directory, u16 per entry: piece offset from kdbh,
//                    0xFFFF for a free entry
namespace {
constexpr uint32_t kTableDirectory = 14;
constexpr uint32_t kTableEntrySize = 4;
constexpr uint32_t kTableEntryRows = 2;
constexpr uint32_t kRowEntrySize = 2;
constexpr uint32_t kLargestSlot = 0xFFFF;
}  // namespace

uint32_t getDataBeginOffset(const UnloadContext *ctx) { return getDataLayerOffset(ctx); }

namespace {
uint32_t tableDirectoryOffset(const UnloadContext *ctx)
{
    return getDataBeginOffset(ctx) + kTableDirectory + getCompressOffset(ctx);
}
}  // namespace

uint16_t getTableRowIndex(const UnloadContext *ctx, uint32_t table)
{
    // The table count is one byte: a larger table number names no entry.
    if (table > 0xFF)
        return 0;
    return blockU16(ctx, tableDirectoryOffset(ctx) + kTableEntrySize * table);
}

uint16_t getTableRowCount(const UnloadContext *ctx, uint32_t table)
{
    if (table > 0xFF)
        return 0;
    return blockU16(ctx, tableDirectoryOffset(ctx) + kTableEntrySize * table + kTableEntryRows);
}

uint16_t getTableRowOffset(const UnloadContext *ctx, uint32_t table, uint32_t slot)
{
    if (table > 0xFF || slot > kLargestSlot)
        return kFreeRowEntry;
    uint32_t rows = tableDirectoryOffset(ctx) + kTableEntrySize * getTableCount(ctx);
    uint32_t entry = (uint32_t)getTableRowIndex(ctx, table) + slot;
    uint16_t offset;
    if (!readU16(ctx, rows + kRowEntrySize * entry, &offset))
        return kFreeRowEntry;
    return offset;
}

// ---------------------------------------------------------------------------
// Column slots.
namespace {
// The mapped-column counter is 8 bits wide: past 255 columns it would wrap
// and overwrite the first slots, so a piece (with the key or symbol columns
// mapped before it) ends at 255 columns.
constexpr uint32_t kMaxMappedColumns = 255;

bool appendColumn(UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    if (ctx->mappedColumns >= kMaxMappedColumns)
        return false;
    ctx->slots.offset[ctx->mappedColumns] = (uint16_t)offset;
    ctx->slots.length[ctx->mappedColumns] = (uint16_t)length;
    ctx->mappedColumns++;
    return true;
}

// A slot running to within one byte of the block end cannot be a real value
// (the block tail sits there); it is turned into an empty value that every
// formatter can read safely.
uint32_t parkedOffset(const UnloadContext *ctx)
{
    return ctx->blockSize >= 2 ? ctx->blockSize - 2u : 0u;
}

void clampColumnsBefore(UnloadContext *ctx, uint32_t end)
{
    uint32_t size = ctx->blockSize;
    uint32_t parked = parkedOffset(ctx);
    for (uint32_t i = 0; i < end; i++) {
        if ((uint32_t)ctx->slots.offset[i] + ctx->slots.length[i] + 1 >= size) {
            ctx->slots.offset[i] = (uint16_t)parked;
            ctx->slots.length[i] = 0;
        }
    }
}

void clampColumns(UnloadContext *ctx)
{
    clampColumnsBefore(ctx, ctx->mappedColumns);
}

// Block position of row `slot` of `table`; false when its entry holds no row.
bool rowPiecePosition(const UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t *position)
{
    uint16_t offset = getTableRowOffset(ctx, table, slot);
    if (offset == kFreeRowEntry)
        return false;
    *position = getDataBeginOffset(ctx) + offset;
    return true;
}

// Chaining addresses inside rows are big-endian on every platform: a 4-byte
// RDBA and a 2-byte slot.
constexpr uint32_t kChainAddressSize = 6;

bool readChainAddress(const UnloadContext *ctx, uint32_t at, uint32_t *rdba, uint16_t *slot)
{
    if (!blockHasRange(ctx, at, kChainAddressSize))
        return false;
    return readU32BE(ctx, at, rdba) && readU16BE(ctx, at + 4, slot);
}
}  // namespace

// ---------------------------------------------------------------------------
// Uncompressed row piece at p:
//   p+0  u8   flag (K C H D F L P N)
//   p+1  u8   lock byte: 1-based ITL entry, 0 when not locked
//   p+2  u8   column count cc of this piece
//   p+3  u8   cluster key slot in table 0, only with flag C
//   then, by flag:
//     K H F L P N all set        6 more bytes
//     K H F L (cluster key row)  16 bytes of key bookkeeping, no chaining
//     otherwise                  F without H: 6-byte back pointer to the head;
//                                no L: 6-byte next-piece address
//   then cc columns: length byte 0..253 and the value; 0xFF NULL (no value);
//   0xFE, u16 length in block order, the value.  Trailing NULLs are not stored.
namespace {
constexpr uint32_t kRowFlag = 0;
constexpr uint32_t kRowColumnCount = 2;
constexpr uint32_t kRowHeaderSize = 3;
constexpr uint8_t kLinkedKeyRow = 0xAF;
constexpr uint8_t kClusterKeyRow = 0xAC;
constexpr uint32_t kLinkedKeyRowBytes = 6;
constexpr uint32_t kClusterKeyBookkeeping = 16;
constexpr uint8_t kLongLength = 0xFE;
constexpr uint8_t kNullLength = 0xFF;
// A length byte, the longest short value, and the two bytes a value must
// end before to stay clear of the block tail.
constexpr uint32_t kShortColumnReach = 1 + 253 + 2;

// A member row's key row is a key row, never another member row; a chain of
// member rows (a loop in a damaged block) ends the row at this depth.
constexpr uint32_t kMaxClusterDepth = 4;

bool hasAll(uint8_t flag, uint8_t bits) { return (flag & bits) == bits; }

bool mapNormalPiece(UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t depth);

// Appends the columns of the piece at block position p.  Only the outermost
// piece (depth 0) owns the flag and next-piece address of the context.
// Returns false when the depth limit ended the row, so that every enclosing
// piece stops too.
bool mapNormalPieceAt(UnloadContext *ctx, uint32_t p, uint32_t depth)
{
    if (!blockHasRange(ctx, p, kRowHeaderSize + 1))
        return true;
    uint8_t flag = blockU8(ctx, p + kRowFlag);
    uint8_t cc = blockU8(ctx, p + kRowColumnCount);
    uint32_t cursor = p + kRowHeaderSize;
    if (depth == 0)
        ctx->rowFlag = flag;

    if (flag & kRowFlagClusterMember) {
        uint8_t keySlot;
        if (!blockHasRange(ctx, p, kRowHeaderSize + 2) || !readU8(ctx, cursor, &keySlot))
            return true;
        if (depth + 1 >= kMaxClusterDepth)
            return false;
        if (!mapNormalPiece(ctx, 0, keySlot, depth + 1))
            return false;
        cursor++;
    }

    if (hasAll(flag, kLinkedKeyRow))
        cursor += kLinkedKeyRowBytes;
    if (hasAll(flag, kClusterKeyRow)) {
        cursor += kClusterKeyBookkeeping;
    } else {
        if ((flag & kRowFlagFirst) && !(flag & kRowFlagHead))
            cursor += kChainAddressSize;
        if (!(flag & kRowFlagLast)) {
            uint32_t rdba;
            uint16_t nextSlot;
            if (!readChainAddress(ctx, cursor, &rdba, &nextSlot))
                return true;
            if (depth == 0) {
                ctx->nextPieceRdba = rdba;
                ctx->nextPieceSlot = nextSlot;
            }
            cursor += kChainAddressSize;
        }
    }

    // Every column of every row passes here: the loop reads the block and
    // fills the slots directly, with the checks of readU8, blockHasRange and
    // appendColumn written out, and clampColumns' parking of a slot that
    // runs to within one byte of the block end done as the slot is filled.
    const uint8_t *block = ctx->block;   // not null: blockHasRange passed above
    const uint64_t size = ctx->blockSize;
    const uint32_t parked = parkedOffset(ctx);
    uint32_t mapped = ctx->mappedColumns;
    uint32_t i = 0;
    // While the cursor is this far from the block end, a length byte and a
    // value of up to 253 bytes end before the block tail, and a piece whose
    // columns all fit the slots cannot run out of them: such a column needs
    // none of the checks below.  A long length goes the checked way.
    const uint64_t roomyEnd = size > kShortColumnReach ? size - kShortColumnReach : 0;
    if (mapped + cc <= kMaxMappedColumns) {
        for (; i < cc && cursor < roomyEnd; i++) {
            uint8_t lengthByte = block[cursor];
            if (lengthByte == kLongLength)
                break;
            bool isNull = lengthByte == kNullLength;
            uint32_t length = isNull ? 0 : lengthByte;
            ctx->slots.offset[mapped] = (uint16_t)(isNull ? cursor : cursor + 1);
            ctx->slots.length[mapped] = (uint16_t)length;
            mapped++;
            cursor += 1 + length;
        }
    }
    for (; i < cc; i++) {
        if (cursor >= size)
            break;
        uint8_t lengthByte = block[cursor];
        uint32_t valueAt;
        uint32_t length;
        if (lengthByte == kNullLength) {
            if (mapped >= kMaxMappedColumns)
                break;
            ctx->slots.offset[mapped] = (uint16_t)(cursor + 1 >= size ? parked : cursor);
            ctx->slots.length[mapped] = 0;
            mapped++;
            cursor++;
            continue;
        }
        if (lengthByte == kLongLength) {
            uint16_t longLength;
            if (!readU16(ctx, cursor + 1, &longLength))
                break;
            valueAt = cursor + 3;
            length = longLength;
        } else {
            valueAt = cursor + 1;
            length = lengthByte;
        }
        if ((uint64_t)valueAt + length > size || mapped >= kMaxMappedColumns)
            break;
        bool clamped = (uint64_t)valueAt + length + 1 >= size;
        ctx->slots.offset[mapped] = (uint16_t)(clamped ? parked : valueAt);
        ctx->slots.length[mapped] = (uint16_t)(clamped ? 0 : length);
        mapped++;
        cursor = valueAt + length;
    }
    ctx->mappedColumns = (uint8_t)mapped;
    return true;
}

bool mapNormalPiece(UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t depth)
{
    uint32_t p;
    if (!rowPiecePosition(ctx, table, slot, &p))
        return true;
    return mapNormalPieceAt(ctx, p, depth);
}

void clearPieceState(UnloadContext *ctx)
{
    ctx->rowFlag = 0;
    ctx->headPieceRdba = 0;
    ctx->headPieceSlot = 0;
    ctx->nextPieceRdba = 0;
    ctx->nextPieceSlot = 0;
    // An uncompressed piece keeps its columns in stored order.
    ctx->permutationCount = 0;
}
}  // namespace

// The slots a normal piece appends are parked as they are filled; those
// the caller held before are parked here.
void mapNormalColumns(UnloadContext *ctx, uint32_t table, uint32_t slot)
{
    if (ctx == nullptr)
        return;
    clearPieceState(ctx);
    clampColumnsBefore(ctx, ctx->mappedColumns);
    mapNormalPiece(ctx, table, slot, 0);
}

void mapNormalColumnsAt(UnloadContext *ctx, uint32_t position)
{
    if (ctx == nullptr)
        return;
    clearPieceState(ctx);
    clampColumnsBefore(ctx, ctx->mappedColumns);
    mapNormalPieceAt(ctx, position, 0);
}

// ---------------------------------------------------------------------------
// OLTP-compressed blocks.  Table 0 is the symbol table, table 1 the rows.
//
// Row piece of table 1 at p:
//   p+0  u8   flag
//   p+2  u8   number of codes
//   F without H (a migrated row's body): 6-byte head-piece address at p+3;
//   then one byte more when the block has a column-length table;
//   no F: 6-byte head-piece address; no L: 6-byte next-piece address;
//   then one code per entry:
//     0..200    reference to symbol-table row k (its columns)
//     201..249  a group of k-200 columns whose lengths come from the
//               column-length table, while it has entries left; otherwise an
//               inline value of k-200 bytes
//     250       u16 big-endian length, then the value
//     251       u16 big-endian symbol-table slot (reference beyond 200)
//     252..255  NULL
// Symbol-table entry at p:
//   slot below the symbol-entry threshold (kdbh+16): p+2 u8 column count g,
//   codes from p+3; otherwise g = 1 and codes from p+2.  The codes are those
//   above, except that 201..249 is always an inline value.
namespace {
constexpr uint32_t kCompressedCodesWithLengths = 4;
constexpr uint32_t kCompressedCodesPlain = 3;
constexpr uint32_t kCompressedMinimumPiece = 6;
constexpr uint32_t kSymbolCount = 2;
constexpr uint32_t kSymbolCodesCounted = 3;
constexpr uint32_t kSymbolCodesSingle = 2;
constexpr uint8_t kLastShortReference = 200;
constexpr uint8_t kLastInlineCode = 249;
constexpr uint8_t kInlineBase = 200;
constexpr uint8_t kLongValueCode = 250;
constexpr uint8_t kLongReferenceCode = 251;
constexpr uint16_t kNoLength = 0x8000;

// Symbol entries refer to one another: a loop in a damaged block must end,
// and so must a web of references that multiplies the work.  A real row
// yields at most 255 columns, each reached through a few nested entries, so
// a row that needs more codes than this is damaged and ends there.
constexpr uint32_t kMaxSymbolDepth = 16;
constexpr uint32_t kMaxRowCodes = 4096;

struct SymbolWalk {
    uint32_t codes;
};

enum CodeResult { kCodeContinue, kCodeStop, kCodeAbort };

bool mapSymbolEntry(UnloadContext *ctx, uint32_t slot, SymbolWalk *walk, uint32_t depth);

// Columns an entry of the symbol table stands for, as its referrer counts them.
uint32_t symbolColumnCount(const UnloadContext *ctx, uint32_t slot)
{
    if (slot >= getCompressMecRows(ctx))
        return 1;
    uint32_t p;
    if (!rowPiecePosition(ctx, 0, slot, &p))
        return 0;
    return blockU8(ctx, p + kSymbolCount);
}

// Column lengths of a fixed-length group are differences of cumulative ends;
// an entry with bit 15 has no length of its own, so the group measures from
// the last real end before it.
uint16_t groupBase(const UnloadContext *ctx, uint32_t counter)
{
    uint16_t base = ctx->compressLengths[counter];
    if (!(base & kNoLength))
        return base;
    for (uint32_t j = counter; j > 0; j--) {
        uint16_t earlier = ctx->compressLengths[j - 1];
        if (!(earlier & kNoLength))
            return earlier;
    }
    return 0;
}

CodeResult mapFixedGroup(UnloadContext *ctx, uint32_t at, uint32_t columns, uint32_t *cursor)
{
    uint16_t base = groupBase(ctx, ctx->mappedColumns);
    for (uint32_t g = 0; g < columns; g++) {
        uint32_t next = (uint32_t)ctx->mappedColumns + 1;
        // A group that claims more columns than the table has lengths for
        // belongs to a damaged block.
        if (next >= ctx->compressLengthCount)
            return kCodeStop;
        uint16_t end = ctx->compressLengths[next];
        uint16_t length = (end & kNoLength) ? 0 : (uint16_t)(end - base);
        if (length & kNoLength)
            length = 0;
        if (!blockHasRange(ctx, at, length) || !appendColumn(ctx, at, length))
            return kCodeStop;
        base = (uint16_t)(base + length);
        at += length;
    }
    *cursor = at;
    return kCodeContinue;
}

// Maps the code at *cursor and moves the cursor past it.  *columns receives
// how many columns the code stands for, as a symbol entry counts them.
CodeResult mapCode(UnloadContext *ctx, uint32_t *cursor, bool groups, SymbolWalk *walk,
                   uint32_t depth, uint32_t *columns)
{
    if (walk->codes >= kMaxRowCodes)
        return kCodeAbort;
    walk->codes++;
    uint8_t k;
    if (!readU8(ctx, *cursor, &k))
        return kCodeStop;
    uint32_t at = *cursor + 1;
    *columns = 1;

    if (k <= kLastShortReference) {
        *columns = symbolColumnCount(ctx, k);
        if (!mapSymbolEntry(ctx, k, walk, depth))
            return kCodeAbort;
        *cursor = at;
        return kCodeContinue;
    }
    if (k <= kLastInlineCode) {
        uint32_t length = (uint32_t)(k - kInlineBase);
        if (groups && (int)ctx->mappedColumns < (int)ctx->compressLengthCount - 1)
            return mapFixedGroup(ctx, at, length, cursor);
        if (!blockHasRange(ctx, at, length) || !appendColumn(ctx, at, length))
            return kCodeStop;
        *cursor = at + length;
        return kCodeContinue;
    }
    if (k == kLongValueCode) {
        uint16_t length;
        if (!readU16BE(ctx, at, &length))
            return kCodeStop;
        if (!blockHasRange(ctx, at + 2, length) || !appendColumn(ctx, at + 2, length))
            return kCodeStop;
        *cursor = at + 2 + length;
        return kCodeContinue;
    }
    if (k == kLongReferenceCode) {
        uint16_t slot;
        if (!readU16BE(ctx, at, &slot))
            return kCodeStop;
        if (!mapSymbolEntry(ctx, slot, walk, depth))
            return kCodeAbort;
        *cursor = at + 2;
        return kCodeContinue;
    }
    if (!appendColumn(ctx, at, 0))
        return kCodeStop;
    *cursor = at;
    return kCodeContinue;
}

// Appends the columns of symbol-table entry `slot`.  Returns false when the
// depth or code limit ended the row.
bool mapSymbolEntry(UnloadContext *ctx, uint32_t slot, SymbolWalk *walk, uint32_t depth)
{
    if (depth >= kMaxSymbolDepth)
        return false;
    uint32_t p;
    if (!rowPiecePosition(ctx, 0, slot, &p))
        return true;
    uint32_t wanted = 1;
    uint32_t cursor = p + kSymbolCodesSingle;
    if (slot < getCompressMecRows(ctx)) {
        uint8_t count;
        if (!readU8(ctx, p + kSymbolCount, &count))
            return true;
        wanted = count;
        cursor = p + kSymbolCodesCounted;
    }
    uint32_t total = 0;
    while (total < wanted) {
        uint32_t columns;
        CodeResult result = mapCode(ctx, &cursor, false, walk, depth + 1, &columns);
        if (result == kCodeAbort)
            return false;
        if (result == kCodeStop)
            break;
        total += columns;
    }
    return true;
}

void mapCompressedRow(UnloadContext *ctx, uint32_t table, uint32_t slot)
{
    ctx->mappedColumns = 0;
    uint32_t p;
    if (!rowPiecePosition(ctx, table, slot, &p))
        return;
    if (!blockHasRange(ctx, p, kCompressedMinimumPiece))
        return;
    uint8_t flag = blockU8(ctx, p + kRowFlag);
    uint8_t codes = blockU8(ctx, p + kRowColumnCount);
    ctx->rowFlag = flag;
    uint32_t cursor = p + kCompressedCodesPlain;
    // Oracle's migrated bodies hold their head's address before the byte a
    // column-length table adds.
    if ((flag & (kRowFlagFirst | kRowFlagHead)) == kRowFlagFirst) {
        if (!readChainAddress(ctx, cursor, &ctx->headPieceRdba, &ctx->headPieceSlot))
            return;
        cursor += kChainAddressSize;
    }
    if (ctx->compressLengthCount != 0)
        cursor += kCompressedCodesWithLengths - kCompressedCodesPlain;
    if (!(flag & kRowFlagFirst)) {
        if (!readChainAddress(ctx, cursor, &ctx->headPieceRdba, &ctx->headPieceSlot))
            return;
        cursor += kChainAddressSize;
    }
    if (!(flag & kRowFlagLast)) {
        if (!readChainAddress(ctx, cursor, &ctx->nextPieceRdba, &ctx->nextPieceSlot))
            return;
        cursor += kChainAddressSize;
    }
    SymbolWalk walk = {0};
    for (uint32_t i = 0; i < codes; i++) {
        uint32_t columns;
        if (mapCode(ctx, &cursor, true, &walk, 0, &columns) != kCodeContinue)
            break;
    }
}
}  // namespace

void mapCompressColumns(UnloadContext *ctx, uint32_t table, uint32_t slot)
{
    if (ctx == nullptr)
        return;
    if (table == 0) {
        SymbolWalk walk = {0};
        mapSymbolEntry(ctx, slot, &walk, 0);
        clampColumns(ctx);
        return;
    }
    ctx->rowFlag = 0;
    ctx->headPieceRdba = 0;
    ctx->headPieceSlot = 0;
    ctx->nextPieceRdba = 0;
    ctx->nextPieceSlot = 0;
    mapCompressedRow(ctx, table, slot);
    clampColumns(ctx);
}

// ---------------------------------------------------------------------------
// Live-row test, for the segment scans.
namespace {
constexpr uint8_t kBlockTypeData = 6;
constexpr uint8_t kDataTypeTable = 1;
constexpr uint8_t kDataTypeIndex = 2;
constexpr uint8_t kIndexOpcodeRows = 0x10;
constexpr uint8_t kIndexRowDeleted = 0x01;

bool isLiveTableRow(const UnloadContext *ctx, uint32_t h, uint16_t offset)
{
    if (offset == kFreeRowEntry)
        return false;
    if (offset < getRecordCount(ctx) || offset < getFreeSpaceEndOffset(ctx))
        return false;
    const uint8_t *row = blockBytes(ctx, h + offset, kRowHeaderSize);
    if (row == nullptr)
        return false;
    uint8_t flag = row[kRowFlag];
    return (flag & kRowFlagHead) && !(flag & kRowFlagDeleted) && row[kRowColumnCount] != 0;
}

int countTableRows(const UnloadContext *ctx, uint32_t table)
{
    uint32_t tables = getTableCount(ctx);
    if (tables == 0)
        return 0;
    if (table > tables - 1)
        table = tables - 1;
    uint32_t h = getDataBeginOffset(ctx);
    // Two bytes per directory entry: no block holds more entries than this.
    uint32_t rows = getTableRowCount(ctx, table);
    if (rows > ctx->blockSize / kRowEntrySize)
        rows = ctx->blockSize / kRowEntrySize;
    for (uint32_t r = 0; r < rows; r++)
        if (isLiveTableRow(ctx, h, getTableRowOffset(ctx, table, r)))
            return 1;
    return 0;
}

int countIndexRows(const UnloadContext *ctx)
{
    if (!(getIndexCoopc(ctx) & kIndexOpcodeRows) || getIndexColev(ctx) != 0)
        return 0;
    uint32_t h = getDataBeginOffset(ctx);
    uint32_t rows = getIndexRowCount(ctx);
    if (rows > ctx->blockSize / kRowEntrySize)
        rows = ctx->blockSize / kRowEntrySize;
    for (uint32_t i = 0; i < rows; i++) {
        uint8_t flag;
        if (readU8(ctx, h + getIndexOffset(ctx, i), &flag) && !(flag & kIndexRowDeleted))
            return 1;
    }
    return 0;
}
}  // namespace

int countDataRows(const UnloadContext *ctx, uint32_t table)
{
    if (ctx == nullptr || getBlockType(ctx) != kBlockTypeData)
        return 0;
    uint8_t dataType = getDataType(ctx);
    if (dataType == kDataTypeTable)
        return countTableRows(ctx, table);
    if (dataType == kDataTypeIndex)
        return countIndexRows(ctx);
    return 0;
}
