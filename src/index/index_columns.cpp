// Leaf entries of index blocks split into column values: the key columns of
// every entry and the rest of the row that an index-organized table keeps
// behind its key.
#include "block/block.h"
#include "index/index.h"

// Leaf entry at P = H + row-directory entry:
//   P+0  u8   entry flag: 0x01 deleted, 0x04 carries a data part
//   P+1  u8   lock byte
//   P+2  the key columns, as many as the header's column count (H+3)
//   data part (entry flag 0x04 only):
//     u8 row flag, u8 lock byte, u8 column count;
//     without L in the row flag, the next piece: u32 RDBA, u16 slot, both
//     big-endian like every chaining address inside a row;
//     the data part's columns.
// Column lengths: 0..253 inline, 0xFE and a u16 length in block order,
// 0xFF a NULL with no value bytes.
namespace {
constexpr uint32_t kEntryFlag = 0;
constexpr uint32_t kEntryKeys = 2;
constexpr uint8_t kEntryHasData = 0x04;
constexpr uint32_t kDataPartHeader = 3;
constexpr uint32_t kDataPartColumnCount = 2;
constexpr uint8_t kRowFlagLast = 0x04;
constexpr uint32_t kChainAddressSize = 6;
constexpr uint8_t kLongLength = 0xFE;
constexpr uint8_t kNullLength = 0xFF;
// The mapped-column counter is 8 bits: beyond 255 it would wrap onto the
// first slots, so the entry ends there.
constexpr uint32_t kMaxMappedColumns = 255;

bool appendColumn(UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    if (ctx->mappedColumns >= kMaxMappedColumns)
        return false;
    ctx->slots.offset[ctx->mappedColumns] = static_cast<uint16_t>(offset);
    ctx->slots.length[ctx->mappedColumns] = static_cast<uint16_t>(length);
    ctx->mappedColumns++;
    return true;
}

// Maps `count` columns from *cursor.  Returns false when a length or a value
// would reach past the block (the entry ends there, keeping what was mapped).
bool mapColumns(UnloadContext *ctx, uint32_t count, uint32_t *cursor)
{
    for (uint32_t i = 0; i < count; i++) {
        uint8_t lengthByte;
        if (!readU8(ctx, *cursor, &lengthByte))
            return false;
        if (lengthByte == kNullLength) {
            if (!appendColumn(ctx, *cursor, 0))
                return false;
            *cursor += 1;
            continue;
        }
        uint32_t valueAt = *cursor + 1;
        uint32_t length = lengthByte;
        if (lengthByte == kLongLength) {
            uint16_t longLength;
            if (!readU16(ctx, *cursor + 1, &longLength))
                return false;
            valueAt = *cursor + 3;
            length = longLength;
        }
        if (!blockHasRange(ctx, valueAt, length) || !appendColumn(ctx, valueAt, length))
            return false;
        *cursor = valueAt + length;
    }
    return true;
}
}  // namespace

int mapIndexEntry(UnloadContext *ctx, uint32_t entry)
{
    if (ctx == nullptr || ctx->block == nullptr)
        return kNoDataPart;
    uint32_t p = getDataLayerOffset(ctx) + getIndexOffset(ctx, entry);
    uint8_t entryFlag;
    if (!readU8(ctx, p + kEntryFlag, &entryFlag))
        return kNoDataPart;
    uint32_t cursor = p + kEntryKeys;
    if (!mapColumns(ctx, getIndexColumnCount(ctx), &cursor))
        return kNoDataPart;
    if (!(entryFlag & kEntryHasData))
        return kNoDataPart;
    if (!blockHasRange(ctx, cursor, kDataPartHeader))
        return kNoDataPart;
    uint8_t rowFlag = blockU8(ctx, cursor);
    uint8_t columns = blockU8(ctx, cursor + kDataPartColumnCount);
    cursor += kDataPartHeader;
    if (!(rowFlag & kRowFlagLast)) {
        uint32_t rdba;
        uint16_t slot;
        if (!blockHasRange(ctx, cursor, kChainAddressSize) || !readU32BE(ctx, cursor, &rdba) ||
            !readU16BE(ctx, cursor + 4, &slot))
            return kNoDataPart;
        ctx->nextPieceRdba = rdba;
        ctx->nextPieceSlot = slot;
        cursor += kChainAddressSize;
    }
    mapColumns(ctx, columns, &cursor);
    return rowFlag;
}

void mapIndexColumns(UnloadContext *ctx, uint32_t entry) { mapIndexEntry(ctx, entry); }
