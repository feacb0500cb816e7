// Row decoding: every row kind in both byte orders, on forge blocks (plain
// heap rows, chained and migrated pieces, cluster blocks), on compressed
// blocks laid out here by hand, on damaged and random bytes, and on real
// blocks written by Oracle.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "block/block.h"
#include "block/test_block_builder.h"
#include "column_values.h"
#include "forge/forge.h"
#include "unload/rows/row_decode.h"
#include "oracle_fixtures.h"

namespace {

constexpr uint32_t kBlockSize = 8192;
constexpr uint8_t kOrders[] = {0, 1};

// ---------------------------------------------------------------------------
// A context whose block buffer is a heap copy of exactly the block's bytes,
// so that the sanitizer build catches any read past the end.
struct RowContext {
    UnloadContext *ctx;
    uint8_t *image;
};

RowContext makeContext(const std::vector<uint8_t> &bytes, uint8_t order)
{
    RowContext rc;
    rc.ctx = (UnloadContext *)calloc(1, sizeof(UnloadContext));
    rc.image = new uint8_t[bytes.size()];
    if (!bytes.empty())
        memcpy(rc.image, bytes.data(), bytes.size());
    rc.ctx->block = rc.image;
    rc.ctx->blockSize = (uint16_t)bytes.size();
    rc.ctx->byteOrder = order;
    return rc;
}

void freeContext(RowContext *rc)
{
    delete[] rc->image;
    free(rc->ctx);
    rc->ctx = nullptr;
    rc->image = nullptr;
}

// The bytes of mapped column i.
std::vector<uint8_t> slotBytes(const UnloadContext *ctx, uint32_t i)
{
    uint32_t off = ctx->slots.offset[i];
    uint32_t len = ctx->slots.length[i];
    return std::vector<uint8_t>(ctx->block + off, ctx->block + off + len);
}

std::vector<uint8_t> text(const char *s) { return std::vector<uint8_t>(s, s + strlen(s)); }

std::vector<uint8_t> repeated(uint8_t b, size_t n) { return std::vector<uint8_t>(n, b); }

// No slot may point past the block, and none may run to within one byte of
// its end (the clamp parks those at block size - 2 with length 0).
void expectSlotsInside(const UnloadContext *ctx)
{
    for (uint32_t i = 0; i < ctx->mappedColumns; i++) {
        uint32_t end = (uint32_t)ctx->slots.offset[i] + ctx->slots.length[i];
        ASSERT_LE(end, ctx->blockSize) << "slot " << i;
        if (ctx->slots.length[i] > 0) {
            ASSERT_LT(end + 1, ctx->blockSize) << "slot " << i;
        }
    }
}

// Maps (table, slot) of an uncompressed block from a fresh counter.
void mapNormal(UnloadContext *ctx, uint32_t table, uint32_t slot)
{
    ctx->mappedColumns = 0;
    mapNormalColumns(ctx, table, slot);
}

// Checks that the mapped columns are exactly the row's columns as the forge
// stored them, NULLs as length 0 slots on their 0xFF byte.
void expectColumns(const UnloadContext *ctx, const std::vector<forge::ColumnValue> &columns,
                   uint32_t first = 0)
{
    size_t stored = columns.size();
    ASSERT_EQ(ctx->mappedColumns, first + stored);
    for (size_t i = 0; i < stored; i++) {
        uint32_t s = first + (uint32_t)i;
        if (columns[i].isNull) {
            EXPECT_EQ(ctx->slots.length[s], 0) << "column " << i;
            EXPECT_EQ(ctx->block[ctx->slots.offset[s]], 0xFF) << "column " << i;
        } else {
            EXPECT_EQ(slotBytes(ctx, s), columns[i].bytes) << "column " << i;
        }
    }
}

// ---------------------------------------------------------------------------
// Forge blocks.

std::vector<uint8_t> forgeBlock(const forge::DataBlockLayout &layout, uint8_t order,
                                uint32_t size = kBlockSize)
{
    return forgedDataBlock(layout, order, size).bytes;
}

forge::RowPiece normalRow(uint16_t table = 0)
{
    forge::RowPiece row;
    forge::initRowPiece(&row);
    row.table = table;
    return row;
}

forge::RowPiece rawRow(const std::vector<uint8_t> &bytes, uint16_t table = 0)
{
    forge::RowPiece row = normalRow(table);
    row.raw = bytes;
    return row;
}

// A heap table block of assorted rows: numbers, text, a NULL in the middle,
// trailing NULLs, an empty row directory slot, a deleted row, a long value.
forge::DataBlockLayout heapSpec(uint8_t headerFlag)
{
    forge::DataBlockLayout layout;
    forge::initDataBlockLayout(&layout, forge::makeRdba(4, 100), 77707);
    layout.headerFlag = headerFlag;

    forge::RowPiece r0 = normalRow();
    std::vector<uint8_t> n = forge::encodeNumber(7369);
    forge::addColumnBytes(&r0, n.data(), n.size());
    forge::addColumnText(&r0, "SMITH");
    forge::addColumnText(&r0, "CLERK");
    layout.rows.push_back(r0);

    forge::RowPiece r1 = normalRow();
    r1.lock = 2;
    forge::addColumnText(&r1, "KING");
    forge::addColumnNull(&r1);
    forge::addColumnText(&r1, "PRESIDENT");   // two more columns, NULL, not stored
    layout.rows.push_back(r1);

    forge::RowPiece r2 = normalRow();
    r2.freeEntry = true;
    layout.rows.push_back(r2);

    forge::RowPiece r3 = normalRow();
    r3.flag = forge::kRowNormal | forge::kRowDeleted;
    forge::addColumnText(&r3, "WARD");
    layout.rows.push_back(r3);

    forge::RowPiece r4 = normalRow();
    std::vector<uint8_t> longValue(300);
    for (size_t i = 0; i < longValue.size(); i++)
        longValue[i] = (uint8_t)(i * 7);
    forge::addColumnText(&r4, "x");
    forge::addColumnBytes(&r4, longValue.data(), longValue.size());
    forge::addColumnText(&r4, "y");
    layout.rows.push_back(r4);
    return layout;
}

// ---------------------------------------------------------------------------
// Compressed blocks, laid out by hand: table 0 is the symbol table, table 1
// the rows; both are lists of raw row pieces.
struct CompressedSpec {
    uint8_t order = 0;
    uint32_t size = kBlockSize;
    uint8_t itc = 2;
    uint8_t headerFlag = 0x32;
    uint16_t threshold = 0;
    std::vector<uint16_t> lengths;
    std::vector<uint8_t> permutation;
    std::vector<std::vector<uint8_t>> symbols;
    std::vector<std::vector<uint8_t>> rows;
};

using testblock::put16;

uint32_t compressedHeaderOffset(const CompressedSpec &layout)
{
    return 44 + 24 * layout.itc + (layout.headerFlag == 0x32 ? 8 : 0);
}

std::vector<uint8_t> buildCompressedBlock(const CompressedSpec &layout)
{
    std::vector<uint8_t> b(layout.size, 0);
    b[0] = 6;
    b[1] = 0xA2;
    b[20] = 1;
    put16(b, 36, layout.itc, layout.order);
    b[38] = layout.headerFlag;
    uint32_t h = compressedHeaderOffset(layout);
    uint32_t n = (uint32_t)layout.lengths.size();
    uint32_t p = (uint32_t)layout.permutation.size();
    uint32_t c = 8 + 2 * n + ((p + 1) & ~1u);
    uint32_t rowCount = (uint32_t)(layout.symbols.size() + layout.rows.size());
    b[h + 0] = 0x40;
    b[h + 1] = 2;
    put16(b, h + 2, (uint16_t)rowCount, layout.order);
    put16(b, h + 16, layout.threshold, layout.order);
    b[h + 19] = (uint8_t)n;
    b[h + 20] = (uint8_t)p;
    for (uint32_t i = 0; i < n; i++)
        put16(b, h + 22 + 2 * i, layout.lengths[i], layout.order);
    for (uint32_t i = 0; i < p; i++)
        b[h + 22 + 2 * n + i] = layout.permutation[i];
    uint32_t tables = h + 14 + c;
    put16(b, tables + 0, 0, layout.order);
    put16(b, tables + 2, (uint16_t)layout.symbols.size(), layout.order);
    put16(b, tables + 4, (uint16_t)layout.symbols.size(), layout.order);
    put16(b, tables + 6, (uint16_t)layout.rows.size(), layout.order);
    uint32_t directory = tables + 8;
    uint32_t low = layout.size - 4;
    uint32_t entry = 0;
    for (int t = 0; t < 2; t++) {
        const std::vector<std::vector<uint8_t>> &pieces = t == 0 ? layout.symbols : layout.rows;
        for (const std::vector<uint8_t> &piece : pieces) {
            if (piece.empty()) {
                put16(b, directory + 2 * entry++, 0xFFFF, layout.order);
                continue;
            }
            low -= (uint32_t)piece.size();
            memcpy(&b[low], piece.data(), piece.size());
            put16(b, directory + 2 * entry++, (uint16_t)(low - h), layout.order);
        }
    }
    put16(b, h + 6, (uint16_t)(directory + 2 * entry - h), layout.order);
    put16(b, h + 8, (uint16_t)(low - h), layout.order);
    return b;
}

// Appends by push_back: GCC 12 at -O3 misreads a range insert into a short
// vector as an overrun (-Warray-bounds).
void appendBytes(std::vector<uint8_t> *to, const std::vector<uint8_t> &from)
{
    to->reserve(to->size() + from.size());
    for (uint8_t byte : from)
        to->push_back(byte);
}

// Symbol entry with a column count byte (slot below the threshold).
std::vector<uint8_t> symbolCounted(uint8_t count, const std::vector<uint8_t> &codes)
{
    std::vector<uint8_t> e = {0x2C, 0, count};
    appendBytes(&e, codes);
    return e;
}

// Symbol entry of one column (slot at or above the threshold).
std::vector<uint8_t> symbolSingle(const std::vector<uint8_t> &codes)
{
    std::vector<uint8_t> e = {0x2C, 0};
    appendBytes(&e, codes);
    return e;
}

// Inline value code and bytes.
std::vector<uint8_t> inlineValue(const char *s)
{
    // Built by push_back: GCC 12 at -O2 misreads a range insert here as an overrun.
    size_t n = strlen(s);
    std::vector<uint8_t> v;
    v.reserve(n + 1);
    v.push_back((uint8_t)(200 + n));
    for (size_t i = 0; i < n; i++) v.push_back((uint8_t)s[i]);
    return v;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t> &part : parts)
        appendBytes(&out, part);
    return out;
}

// Row of table 1: flag, lock, code count, the byte that precedes the codes
// when the block has a column-length table, then addresses and codes.
std::vector<uint8_t> compressedRow(uint8_t flag, uint8_t codes, bool lengthTable,
                                   const std::vector<uint8_t> &rest)
{
    std::vector<uint8_t> r = {flag, 0, codes};
    if (lengthTable)
        r.push_back(0);
    appendBytes(&r, rest);
    return r;
}

void mapCompressed(UnloadContext *ctx, uint32_t table, uint32_t slot)
{
    ctx->mappedColumns = 0;
    mapCompressColumns(ctx, table, slot);
}

std::vector<std::vector<uint8_t>> mappedValues(const UnloadContext *ctx)
{
    std::vector<std::vector<uint8_t>> out;
    for (uint32_t i = 0; i < ctx->mappedColumns; i++)
        out.push_back(slotBytes(ctx, i));
    return out;
}

// ===========================================================================
// Data header and directories.

TEST(RowDecode, DataHeaderFollowsTheItlListAndTheFlagByte)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout plain = heapSpec(0);
        RowContext a = makeContext(forgeBlock(plain, order), order);
        EXPECT_EQ(getDataBeginOffset(a.ctx), 92u);
        forge::DataBlockLayout extended = heapSpec(0x32);
        RowContext b = makeContext(forgeBlock(extended, order), order);
        EXPECT_EQ(getDataBeginOffset(b.ctx), 100u);

        // Both hold the same rows at the same place in the block; the row
        // directory of the second counts from 8 bytes later.
        for (uint32_t slot = 0; slot < 5; slot++) {
            if (slot == 2) {
                EXPECT_EQ(getTableRowOffset(a.ctx, 0, slot), kFreeRowEntry);
                EXPECT_EQ(getTableRowOffset(b.ctx, 0, slot), kFreeRowEntry);
                continue;
            }
            EXPECT_EQ(getTableRowOffset(a.ctx, 0, slot) - 8, getTableRowOffset(b.ctx, 0, slot));
            mapNormal(a.ctx, 0, slot);
            mapNormal(b.ctx, 0, slot);
            EXPECT_EQ(mappedValues(a.ctx), mappedValues(b.ctx));
            EXPECT_EQ(a.ctx->slots.offset[0], b.ctx->slots.offset[0]);
        }
        freeContext(&a);
        freeContext(&b);
    }
}

TEST(RowDecode, ItlCountIsTheLowByteInBlockOrder)
{
    forge::DataBlockLayout layout = heapSpec(0);
    std::vector<uint8_t> bytes = forgeBlock(layout, 1);
    ASSERT_EQ(bytes[36], 0);
    ASSERT_EQ(bytes[37], 2);
    RowContext rc = makeContext(bytes, 1);
    EXPECT_EQ(getDataBeginOffset(rc.ctx), 92u);
    // The same bytes read little-endian see an ITL count of 0.
    rc.ctx->byteOrder = 0;
    EXPECT_EQ(getDataBeginOffset(rc.ctx), 44u);
    freeContext(&rc);
}

TEST(RowDecode, TableAndRowDirectoriesOfSeveralTables)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(5, 16), 53944);
        for (uint16_t t = 0; t < 3; t++)
            for (int r = 0; r <= t; r++) {
                forge::RowPiece row = normalRow(t);
                forge::addColumnText(&row, "v");
                layout.rows.push_back(row);
            }
        RowContext rc = makeContext(forgeBlock(layout, order), order);
        EXPECT_EQ(getTableCount(rc.ctx), 3);
        EXPECT_EQ(getTableRowIndex(rc.ctx, 0), 0);
        EXPECT_EQ(getTableRowCount(rc.ctx, 0), 1);
        EXPECT_EQ(getTableRowIndex(rc.ctx, 1), 1);
        EXPECT_EQ(getTableRowCount(rc.ctx, 1), 2);
        EXPECT_EQ(getTableRowIndex(rc.ctx, 2), 3);
        EXPECT_EQ(getTableRowCount(rc.ctx, 2), 3);
        // Directory entries are read in block order, after 3 table entries.
        uint32_t h = getDataBeginOffset(rc.ctx);
        uint32_t dir = h + 14 + 12;
        for (uint32_t t = 0; t < 3; t++)
            for (uint32_t r = 0; r <= t; r++) {
                uint32_t e = getTableRowIndex(rc.ctx, t) + r;
                uint16_t want = order == 1 ? (uint16_t)(rc.image[dir + 2 * e] << 8 | rc.image[dir + 2 * e + 1])
                                           : (uint16_t)(rc.image[dir + 2 * e] | rc.image[dir + 2 * e + 1] << 8);
                EXPECT_EQ(getTableRowOffset(rc.ctx, t, r), want);
                EXPECT_EQ(rc.image[h + want], forge::kRowNormal);
            }
        // An entry past the block reads as a free entry.
        EXPECT_EQ(getTableRowOffset(rc.ctx, 0, 60000), kFreeRowEntry);
        freeContext(&rc);
    }
}

// ===========================================================================
// Uncompressed rows.

TEST(RowDecode, HeapRowsRecoverTheForgedColumns)
{
    for (uint8_t order : kOrders) {
        for (uint8_t headerFlag : {(uint8_t)0, (uint8_t)0x32}) {
            SCOPED_TRACE(testing::Message() << "order " << (int)order << " flag " << (int)headerFlag);
            forge::DataBlockLayout layout = heapSpec(headerFlag);
            RowContext rc = makeContext(forgeBlock(layout, order), order);
            for (uint32_t slot = 0; slot < layout.rows.size(); slot++) {
                SCOPED_TRACE(slot);
                const forge::RowPiece &row = layout.rows[slot];
                if (row.freeEntry) {
                    EXPECT_EQ(getTableRowOffset(rc.ctx, 0, slot), kFreeRowEntry);
                    mapNormal(rc.ctx, 0, slot);
                    EXPECT_EQ(rc.ctx->mappedColumns, 0);
                    EXPECT_EQ(rc.ctx->rowFlag, 0);
                    continue;
                }
                mapNormal(rc.ctx, 0, slot);
                EXPECT_EQ(rc.ctx->rowFlag, row.flag);
                EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
                EXPECT_EQ(rc.ctx->nextPieceSlot, 0);
                expectColumns(rc.ctx, row.columns);
                // The first value sits right after the 3-byte header and its length byte.
                uint32_t p = getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 0, slot);
                EXPECT_EQ(rc.ctx->slots.offset[0], p + 4);
                EXPECT_EQ(rc.image[p + 1], row.lock);
            }
            freeContext(&rc);
        }
    }
}

TEST(RowDecode, NullsInTheMiddleAndAtTheEnd)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout = heapSpec(0x32);
        RowContext rc = makeContext(forgeBlock(layout, order), order);
        mapNormal(rc.ctx, 0, 1);
        // KING, NULL, PRESIDENT; the two trailing NULLs are not stored.
        ASSERT_EQ(rc.ctx->mappedColumns, 3);
        uint32_t p = getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 0, 1);
        EXPECT_EQ(rc.image[p + 2], 3);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("KING"));
        EXPECT_EQ(rc.ctx->slots.length[1], 0);
        EXPECT_EQ(rc.ctx->slots.offset[1], p + 3 + 5);
        EXPECT_EQ(rc.image[rc.ctx->slots.offset[1]], 0xFF);
        EXPECT_EQ(slotBytes(rc.ctx, 2), text("PRESIDENT"));
        EXPECT_EQ(rc.ctx->slots.offset[2], p + 3 + 5 + 1 + 1);
        freeContext(&rc);
    }
}

TEST(RowDecode, LongLengthsAreReadInBlockOrder)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout = heapSpec(0x32);
        RowContext rc = makeContext(forgeBlock(layout, order), order);
        mapNormal(rc.ctx, 0, 4);
        ASSERT_EQ(rc.ctx->mappedColumns, 3);
        uint32_t p = getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 0, 4);
        // x: length byte at p+3; the 300-byte value's 0xFE at p+5.
        uint32_t wide = p + 5;
        EXPECT_EQ(rc.image[wide], 0xFE);
        if (order == 1) {
            EXPECT_EQ(rc.image[wide + 1], 0x01);
            EXPECT_EQ(rc.image[wide + 2], 0x2C);
        } else {
            EXPECT_EQ(rc.image[wide + 1], 0x2C);
            EXPECT_EQ(rc.image[wide + 2], 0x01);
        }
        EXPECT_EQ(rc.ctx->slots.offset[1], wide + 3);
        EXPECT_EQ(rc.ctx->slots.length[1], 300);
        EXPECT_EQ(slotBytes(rc.ctx, 2), text("y"));
        EXPECT_EQ(rc.ctx->slots.offset[2], wide + 3 + 300 + 1);
        freeContext(&rc);
    }
}

// Chained and migrated pieces carry big-endian addresses on every platform.
TEST(RowDecode, ChainedPiecesAndMigratedHeads)
{
    const uint32_t nextRdba = 0x01400011;
    const uint16_t nextSlot = 0x0102;
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(5, 16), 99);

        // 0: head of a chained row (H F N, no L), two columns here.
        forge::RowPiece head = normalRow();
        head.flag = forge::kRowHead | forge::kRowFirst | forge::kRowNext;
        head.hasNext = true;
        head.nextRdba = nextRdba;
        head.nextSlot = nextSlot;
        forge::addColumnText(&head, "first");
        forge::addColumnText(&head, "sec");
        layout.rows.push_back(head);

        // 1: migrated row head: H only, no columns, only the address.
        forge::RowPiece migrated = normalRow();
        migrated.flag = forge::kRowHead;
        migrated.hasNext = true;
        migrated.nextRdba = nextRdba + 1;
        migrated.nextSlot = 7;
        layout.rows.push_back(migrated);

        // 2: middle piece (P N): continues both ways, no back pointer.
        forge::RowPiece middle = normalRow();
        middle.flag = forge::kRowPrevious | forge::kRowNext;
        middle.hasNext = true;
        middle.nextRdba = nextRdba + 2;
        middle.nextSlot = 0xFFFE;
        forge::addColumnText(&middle, "ond");
        layout.rows.push_back(middle);

        // 3: last piece (P L): no address at all.
        forge::RowPiece last = normalRow();
        last.flag = forge::kRowPrevious | forge::kRowLast;
        forge::addColumnText(&last, "tail");
        forge::addColumnNull(&last);
        forge::addColumnText(&last, "end");
        layout.rows.push_back(last);

        // 4: the piece a migrated head points at (F L, no H): 6-byte back
        // pointer to the head before its columns.
        layout.rows.push_back(rawRow(concat({{0x0C, 0, 2}, {0x01, 0x40, 0x00, 0x10, 0x00, 0x03},
                                           {2, 'm', 'g'}, {0xFF}})));

        // 5: the same kind of piece that goes on in another block (F, no H, no
        // L): back pointer, then the next-piece address.
        layout.rows.push_back(rawRow(concat({{0x08, 0, 1}, {0x01, 0x40, 0x00, 0x10, 0x00, 0x03},
                                           {0xAA, 0xBB, 0xCC, 0xDD, 0x00, 0x09}, {3, 'a', 'b', 'c'}})));

        RowContext rc = makeContext(forgeBlock(layout, order), order);
        uint32_t h = getDataBeginOffset(rc.ctx);

        mapNormal(rc.ctx, 0, 0);
        EXPECT_EQ(rc.ctx->rowFlag, head.flag);
        EXPECT_EQ(rc.ctx->nextPieceRdba, nextRdba);
        EXPECT_EQ(rc.ctx->nextPieceSlot, nextSlot);
        expectColumns(rc.ctx, head.columns);
        uint32_t p = h + getTableRowOffset(rc.ctx, 0, 0);
        EXPECT_EQ(rc.image[p + 3], 0x01);   // RDBA high byte first in either order
        EXPECT_EQ(rc.ctx->slots.offset[0], p + 3 + 6 + 1);

        mapNormal(rc.ctx, 0, 1);
        EXPECT_EQ(rc.ctx->rowFlag, forge::kRowHead);
        EXPECT_EQ(rc.ctx->mappedColumns, 0);
        EXPECT_EQ(rc.ctx->nextPieceRdba, nextRdba + 1);
        EXPECT_EQ(rc.ctx->nextPieceSlot, 7);

        mapNormal(rc.ctx, 0, 2);
        EXPECT_EQ(rc.ctx->nextPieceRdba, nextRdba + 2);
        EXPECT_EQ(rc.ctx->nextPieceSlot, 0xFFFE);
        expectColumns(rc.ctx, middle.columns);

        mapNormal(rc.ctx, 0, 3);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        EXPECT_EQ(rc.ctx->nextPieceSlot, 0);
        expectColumns(rc.ctx, last.columns);

        mapNormal(rc.ctx, 0, 4);
        EXPECT_EQ(rc.ctx->rowFlag, 0x0C);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        ASSERT_EQ(rc.ctx->mappedColumns, 2);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("mg"));
        EXPECT_EQ(rc.ctx->slots.length[1], 0);
        p = h + getTableRowOffset(rc.ctx, 0, 4);
        EXPECT_EQ(rc.ctx->slots.offset[0], p + 3 + 6 + 1);

        mapNormal(rc.ctx, 0, 5);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0xAABBCCDDu);
        EXPECT_EQ(rc.ctx->nextPieceSlot, 9);
        ASSERT_EQ(rc.ctx->mappedColumns, 1);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("abc"));

        // Mapping clears what the previous piece left.
        rc.ctx->permutationCount = 5;
        mapNormal(rc.ctx, 0, 3);
        EXPECT_EQ(rc.ctx->permutationCount, 0);
        EXPECT_EQ(rc.ctx->headPieceRdba, 0u);
        freeContext(&rc);
    }
}

// Cluster blocks: key rows in table 0, member rows in the other tables.
std::vector<uint8_t> clusterKeyRow(const std::vector<uint8_t> &key)
{
    // K H F L, lock, one key column; 16 bytes of key bookkeeping (row
    // counts and the member list links) before the key column.
    std::vector<uint8_t> row = {0xAC, 0, 1};
    std::vector<uint8_t> bookkeeping = {0, 2, 0, 2, 1, 0x40, 0, 0x10, 0, 1, 1, 0x40, 0, 0x10, 0, 2};
    row.insert(row.end(), bookkeeping.begin(), bookkeeping.end());
    row.push_back((uint8_t)key.size());
    row.insert(row.end(), key.begin(), key.end());
    return row;
}

forge::RowPiece memberRow(uint16_t table, uint8_t keySlot)
{
    forge::RowPiece row = normalRow(table);
    row.flag = forge::kRowClusterMember | forge::kRowNormal;
    row.hasClusterKeySlot = true;
    row.clusterKeySlot = keySlot;
    return row;
}

TEST(RowDecode, ClusterMemberRowsYieldTheirKeyColumnsFirst)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(3, 40), 120);
        std::vector<uint8_t> key10 = forge::encodeNumber(10);
        std::vector<uint8_t> key20 = forge::encodeNumber(20);
        layout.rows.push_back(rawRow(clusterKeyRow(key10), 0));
        layout.rows.push_back(rawRow(clusterKeyRow(key20), 0));
        forge::RowPiece dept = memberRow(1, 1);
        forge::addColumnText(&dept, "RESEARCH");
        forge::addColumnText(&dept, "DALLAS");
        layout.rows.push_back(dept);
        forge::RowPiece emp1 = memberRow(2, 0);
        forge::addColumnText(&emp1, "CLARK");
        forge::addColumnNull(&emp1);
        forge::addColumnText(&emp1, "MANAGER");
        layout.rows.push_back(emp1);
        forge::RowPiece emp2 = memberRow(2, 1);
        forge::addColumnText(&emp2, "SMITH");
        layout.rows.push_back(emp2);

        RowContext rc = makeContext(forgeBlock(layout, order), order);
        ASSERT_EQ(getTableCount(rc.ctx), 3);

        // The key row itself: its key column, no next piece.
        mapNormal(rc.ctx, 0, 0);
        EXPECT_EQ(rc.ctx->rowFlag, 0xAC);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        ASSERT_EQ(rc.ctx->mappedColumns, 1);
        EXPECT_EQ(slotBytes(rc.ctx, 0), key10);
        uint32_t p = getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 0, 0);
        EXPECT_EQ(rc.ctx->slots.offset[0], p + 3 + 16 + 1);

        mapNormal(rc.ctx, 1, 0);
        EXPECT_EQ(rc.ctx->rowFlag, dept.flag);   // the member's flag, not its key row's
        ASSERT_EQ(rc.ctx->mappedColumns, 3);
        EXPECT_EQ(slotBytes(rc.ctx, 0), key20);
        expectColumns(rc.ctx, dept.columns, 1);

        mapNormal(rc.ctx, 2, 0);
        EXPECT_EQ(slotBytes(rc.ctx, 0), key10);
        expectColumns(rc.ctx, emp1.columns, 1);

        mapNormal(rc.ctx, 2, 1);
        EXPECT_EQ(slotBytes(rc.ctx, 0), key20);
        expectColumns(rc.ctx, emp2.columns, 1);
        freeContext(&rc);
    }
}

// Fault mended: a member row whose key row is itself a member row (a loop,
// in a damaged block) used to recurse without end.
TEST(RowDecode, ClusterKeyLoopEndsTheRowQuietly)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(3, 41), 120);
        forge::RowPiece loop0 = memberRow(0, 1);
        forge::addColumnText(&loop0, "a");
        layout.rows.push_back(loop0);
        forge::RowPiece loop1 = memberRow(0, 0);
        forge::addColumnText(&loop1, "b");
        layout.rows.push_back(loop1);
        forge::RowPiece self = memberRow(0, 2);
        forge::addColumnText(&self, "c");
        layout.rows.push_back(self);
        forge::RowPiece member = memberRow(1, 0);
        forge::addColumnText(&member, "d");
        layout.rows.push_back(member);
        RowContext rc = makeContext(forgeBlock(layout, order), order);
        for (uint32_t s = 0; s < 3; s++) {
            mapNormal(rc.ctx, 0, s);
            EXPECT_EQ(rc.ctx->mappedColumns, 0);
        }
        mapNormal(rc.ctx, 1, 0);
        EXPECT_EQ(rc.ctx->mappedColumns, 0);
        EXPECT_EQ(rc.ctx->rowFlag, member.flag);
        freeContext(&rc);
    }
}

TEST(RowDecode, KeyRowWithAllLinkFlagsSkipsSixMoreBytes)
{
    for (uint8_t order : kOrders) {
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(3, 42), 120);
        std::vector<uint8_t> row = {0xAF, 0, 1};
        row.insert(row.end(), 22, 0x55);
        row.insert(row.end(), {2, 'k', 'y'});
        layout.rows.push_back(rawRow(row));
        RowContext rc = makeContext(forgeBlock(layout, order), order);
        mapNormal(rc.ctx, 0, 0);
        ASSERT_EQ(rc.ctx->mappedColumns, 1);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("ky"));
        freeContext(&rc);
    }
}

// Places a raw row piece at `at` and points row `slot` of table 0 at it.
void placeRow(std::vector<uint8_t> &b, uint8_t order, uint32_t slot, uint32_t at,
              const std::vector<uint8_t> &row)
{
    RowContext rc = makeContext(b, order);
    uint32_t h = getDataBeginOffset(rc.ctx);
    uint32_t dir = h + 14 + 4 * getTableCount(rc.ctx) + 2 * (getTableRowIndex(rc.ctx, 0) + slot);
    freeContext(&rc);
    memcpy(&b[at], row.data(), row.size());
    put16(b, dir, (uint16_t)(at - h), order);
}

TEST(RowDecode, ClampNearTheBlockEnd)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(1, 1), 1);
        for (int i = 0; i < 4; i++) {
            forge::RowPiece row = normalRow();
            forge::addColumnText(&row, "filler");
            layout.rows.push_back(row);
        }
        std::vector<uint8_t> b = forgeBlock(layout, order);
        const uint32_t n = kBlockSize;
        // Row 0: value ends exactly at the block end.
        placeRow(b, order, 0, n - 10, {0x2C, 0, 2, 1, 'v', 4, 'a', 'b', 'c', 'd'});
        // Row 1: value runs to within one byte of the end.
        placeRow(b, order, 1, n - 40, {0x2C, 0, 2, 1, 'w', 0xFE});
        put16(b, n - 34, (uint16_t)(n - 1 - (n - 32)), order);
        // Row 2: value ends two bytes before the end: kept.
        placeRow(b, order, 2, n - 60, {0x2C, 0, 1, 0xFE});
        put16(b, n - 56, (uint16_t)(n - 2 - (n - 54)), order);
        // Row 3: value claims more than the block holds: not mapped.
        placeRow(b, order, 3, n - 80, {0x2C, 0, 2, 1, 'z', 0xFE});
        put16(b, n - 74, 200, order);

        RowContext rc = makeContext(b, order);
        mapNormal(rc.ctx, 0, 0);
        ASSERT_EQ(rc.ctx->mappedColumns, 2);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("v"));
        EXPECT_EQ(rc.ctx->slots.offset[1], n - 2);
        EXPECT_EQ(rc.ctx->slots.length[1], 0);

        mapNormal(rc.ctx, 0, 1);
        ASSERT_EQ(rc.ctx->mappedColumns, 2);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("w"));
        EXPECT_EQ(rc.ctx->slots.offset[1], n - 2);
        EXPECT_EQ(rc.ctx->slots.length[1], 0);

        mapNormal(rc.ctx, 0, 2);
        ASSERT_EQ(rc.ctx->mappedColumns, 1);
        EXPECT_EQ(rc.ctx->slots.offset[0], n - 54);
        EXPECT_EQ(rc.ctx->slots.length[0], 52);

        mapNormal(rc.ctx, 0, 3);
        ASSERT_EQ(rc.ctx->mappedColumns, 1);
        EXPECT_EQ(slotBytes(rc.ctx, 0), text("z"));
        freeContext(&rc);
    }
}

TEST(RowDecode, HeaderOrAddressPastTheBlockEndMapsNothing)
{
    for (uint8_t order : kOrders) {
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(1, 1), 1);
        for (int i = 0; i < 3; i++) {
            forge::RowPiece row = normalRow();
            forge::addColumnText(&row, "filler");
            layout.rows.push_back(row);
        }
        std::vector<uint8_t> b = forgeBlock(layout, order);
        const uint32_t n = kBlockSize;
        placeRow(b, order, 0, n - 3, {0x2C, 0, 1});                 // header reaches the end
        placeRow(b, order, 1, n - 4, {0x6C, 0, 1, 0});              // key slot byte is the last byte
        placeRow(b, order, 2, n - 8, {0x28, 0, 1, 1, 2, 3, 4, 5});  // next address cut off
        RowContext rc = makeContext(b, order);
        mapNormal(rc.ctx, 0, 0);
        EXPECT_EQ(rc.ctx->mappedColumns, 0);
        EXPECT_EQ(rc.ctx->rowFlag, 0);
        mapNormal(rc.ctx, 0, 1);
        EXPECT_EQ(rc.ctx->mappedColumns, 0);
        mapNormal(rc.ctx, 0, 2);
        EXPECT_EQ(rc.ctx->mappedColumns, 0);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        freeContext(&rc);
    }
}

// ===========================================================================
// Compressed blocks.

TEST(RowCompress, NestedSymbolReferencesInOrder)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        CompressedSpec layout;
        layout.order = order;
        layout.threshold = 8;
        for (int i = 0; i < 8; i++)
            layout.symbols.push_back(symbolCounted(1, inlineValue("s")));
        // Row 3: two columns.  Row 7: row 3's two columns, then "CCC".
        layout.symbols[3] = symbolCounted(2, concat({inlineValue("A"), inlineValue("BB")}));
        layout.symbols[7] = symbolCounted(3, concat({{3}, inlineValue("CCC")}));
        // A row: row 7, then its own "DD" and a NULL.
        layout.rows.push_back(compressedRow(0x2C, 3, false, concat({{7}, inlineValue("DD"), {0xFF}})));
        RowContext rc = makeContext(buildCompressedBlock(layout), order);
        ASSERT_EQ(isCompressTable(rc.ctx), 8u);
        getCompressOrder(rc.ctx);
        EXPECT_EQ(getTableRowCount(rc.ctx, 0), 8);
        EXPECT_EQ(getTableRowCount(rc.ctx, 1), 1);

        mapCompressed(rc.ctx, 1, 0);
        EXPECT_EQ(rc.ctx->rowFlag, 0x2C);
        EXPECT_EQ(rc.ctx->headPieceRdba, 0u);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        std::vector<std::vector<uint8_t>> want = {text("A"), text("BB"), text("CCC"), text("DD"), {}};
        EXPECT_EQ(mappedValues(rc.ctx), want);
        EXPECT_EQ(rc.ctx->slots.length[4], 0);

        // A symbol entry mapped on its own appends and leaves the piece state alone.
        rc.ctx->mappedColumns = 1;
        rc.ctx->rowFlag = 0x77;
        mapCompressColumns(rc.ctx, 0, 7);
        EXPECT_EQ(rc.ctx->mappedColumns, 4);
        EXPECT_EQ(rc.ctx->rowFlag, 0x77);
        EXPECT_EQ(slotBytes(rc.ctx, 1), text("A"));
        EXPECT_EQ(slotBytes(rc.ctx, 3), text("CCC"));
        freeContext(&rc);
    }
}

TEST(RowCompress, SymbolEntryThreshold)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        CompressedSpec layout;
        layout.order = order;
        layout.threshold = 2;
        layout.symbols.push_back(symbolCounted(2, concat({inlineValue("x0"), inlineValue("y0")})));
        layout.symbols.push_back(symbolCounted(1, inlineValue("x1")));
        // At and above the threshold: one column, codes at +2.
        layout.symbols.push_back(symbolSingle(inlineValue("single")));
        layout.symbols.push_back(symbolSingle({0}));   // refers to entry 0: its 2 columns
        layout.rows.push_back(compressedRow(0x2C, 4, false, {2, 3, 1, 0xFE}));
        RowContext rc = makeContext(buildCompressedBlock(layout), order);
        getCompressOrder(rc.ctx);
        mapCompressed(rc.ctx, 1, 0);
        std::vector<std::vector<uint8_t>> want = {text("single"), text("x0"), text("y0"), text("x1"), {}};
        EXPECT_EQ(mappedValues(rc.ctx), want);
        freeContext(&rc);
    }
}

TEST(RowCompress, FixedLengthGroupsUseTheColumnLengthTable)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        CompressedSpec layout;
        layout.order = order;
        layout.threshold = 1;
        // Cumulative ends: columns of 2, (none), 4 and 3 bytes after a
        // 2-column symbol reference.
        layout.lengths = {0, 2, 0x8000, 6, 9};
        layout.permutation = {1, 0, 2, 3, 4};
        layout.symbols.push_back(symbolCounted(2, concat({inlineValue("p"), inlineValue("q")})));
        // Row 0: a group of 4 from counter 0: lengths 2, 0, 4, 3.
        layout.rows.push_back(compressedRow(0x2C, 1, true, concat({{204}, text("aabbbbccc")})));
        // Row 1: a 2-column reference, then a group of 2 from counter 2 (its
        // entry has no length, so the base is entry 1): lengths 4 and 3;
        // then the table is used up and 203 is an inline value.
        layout.rows.push_back(compressedRow(0x2C, 3, true, concat({{0, 202}, text("dddd" "eee"), inlineValue("fff")})));
        RowContext rc = makeContext(buildCompressedBlock(layout), order);
        getCompressOrder(rc.ctx);
        ASSERT_EQ(rc.ctx->compressLengthCount, 5);
        ASSERT_EQ(rc.ctx->permutationCount, 5);
        EXPECT_EQ(isCompressTable(rc.ctx), 8u + 10 + 6);

        mapCompressed(rc.ctx, 1, 0);
        std::vector<std::vector<uint8_t>> want0 = {text("aa"), {}, text("bbbb"), text("ccc")};
        EXPECT_EQ(mappedValues(rc.ctx), want0);
        uint32_t p = getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 1, 0);
        EXPECT_EQ(rc.ctx->slots.offset[0], p + 5);   // codes from p+4, value after the code

        mapCompressed(rc.ctx, 1, 1);
        std::vector<std::vector<uint8_t>> want1 = {text("p"), text("q"), text("dddd"), text("eee"), text("fff")};
        EXPECT_EQ(mappedValues(rc.ctx), want1);
        // The permutation is the block's, for the row writer.
        EXPECT_EQ(rc.ctx->permutation[0], 1);
        freeContext(&rc);
    }
}

TEST(RowCompress, LongValuesLongReferencesNullsAndAddresses)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        CompressedSpec layout;
        layout.order = order;
        layout.threshold = 0;
        for (int i = 0; i < 260; i++) {
            char value[8];
            snprintf(value, sizeof value, "%d", i);
            layout.symbols.push_back(symbolSingle(inlineValue(value)));
        }
        std::vector<uint8_t> big = repeated('L', 300);
        // 250: big-endian length whatever the block order; 251: big-endian slot.
        std::vector<uint8_t> codes = concat({{250, 0x01, 0x2C}, big, {251, 0x01, 0x03}, {252, 253, 254, 255}, {201, 'i'}});
        // Not a first piece, not a last piece: head address then next address.
        std::vector<uint8_t> addresses = {0x01, 0x80, 0x00, 0x8D, 0x00, 0x04, 0x01, 0x80, 0x00, 0x8E, 0x01, 0x02};
        layout.rows.push_back(compressedRow(0x01, 7, false, concat({addresses, codes})));
        // First and last piece: no addresses.
        layout.rows.push_back(compressedRow(0x2C, 2, false, {255, 3}));
        // Last piece only (P L): the head address alone.
        layout.rows.push_back(compressedRow(0x06, 1, false, concat({{0x00, 0x00, 0x00, 0x07, 0x00, 0x08}, {9}})));
        RowContext rc = makeContext(buildCompressedBlock(layout), order);
        getCompressOrder(rc.ctx);

        mapCompressed(rc.ctx, 1, 0);
        EXPECT_EQ(rc.ctx->rowFlag, 0x01);
        EXPECT_EQ(rc.ctx->headPieceRdba, 0x0180008Du);
        EXPECT_EQ(rc.ctx->headPieceSlot, 4);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0x0180008Eu);
        EXPECT_EQ(rc.ctx->nextPieceSlot, 0x0102);
        ASSERT_EQ(rc.ctx->mappedColumns, 7);
        EXPECT_EQ(slotBytes(rc.ctx, 0), big);
        EXPECT_EQ(slotBytes(rc.ctx, 1), text("259"));
        for (int i = 2; i < 6; i++)
            EXPECT_EQ(rc.ctx->slots.length[i], 0);
        EXPECT_EQ(slotBytes(rc.ctx, 6), text("i"));

        mapCompressed(rc.ctx, 1, 1);
        EXPECT_EQ(rc.ctx->headPieceRdba, 0u);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        std::vector<std::vector<uint8_t>> want1 = {{}, text("3")};
        EXPECT_EQ(mappedValues(rc.ctx), want1);
        uint32_t p = getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 1, 1);
        EXPECT_EQ(rc.ctx->slots.offset[0], p + 4);   // the byte after the NULL code

        mapCompressed(rc.ctx, 1, 2);
        EXPECT_EQ(rc.ctx->headPieceRdba, 7u);
        EXPECT_EQ(rc.ctx->headPieceSlot, 8);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        std::vector<std::vector<uint8_t>> want2 = {text("9")};
        EXPECT_EQ(mappedValues(rc.ctx), want2);
        freeContext(&rc);
    }
}

// Fault mended: symbol entries that refer to themselves or to each other used
// to recurse without end; a web of references could multiply the work.
TEST(RowCompress, SymbolReferenceLoopsAndWebsEndQuietly)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        CompressedSpec layout;
        layout.order = order;
        layout.threshold = 12;
        layout.symbols.push_back(symbolCounted(2, {0, 0}));        // 0 -> 0
        layout.symbols.push_back(symbolCounted(2, {2, 2}));        // 1 -> 2
        layout.symbols.push_back(symbolCounted(2, {1, 1}));        // 2 -> 1
        // 3..9: each refers 255 times to the next through long references.
        for (uint8_t i = 3; i < 10; i++) {
            std::vector<uint8_t> codes;
            for (int r = 0; r < 255; r++)
                codes.insert(codes.end(), {251, 0, (uint8_t)(i + 1)});
            layout.symbols.push_back(symbolCounted(255, codes));
        }
        layout.symbols.push_back(symbolCounted(1, inlineValue("leaf")));
        layout.rows.push_back(compressedRow(0x2C, 2, false, {0, 0xFF}));
        layout.rows.push_back(compressedRow(0x2C, 2, false, {1, 0xFF}));
        layout.rows.push_back(compressedRow(0x2C, 2, false, {3, 0xFF}));
        RowContext rc = makeContext(buildCompressedBlock(layout), order);
        getCompressOrder(rc.ctx);
        for (uint32_t s = 0; s < 3; s++) {
            mapCompressed(rc.ctx, 1, s);
            EXPECT_EQ(rc.ctx->rowFlag, 0x2C);
            expectSlotsInside(rc.ctx);
        }
        // The web fills the slots up to the counter's limit, then stops.
        EXPECT_EQ(rc.ctx->mappedColumns, 255);
        EXPECT_EQ(slotBytes(rc.ctx, 254), text("leaf"));
        for (uint32_t s = 0; s < 11; s++) {
            rc.ctx->mappedColumns = 0;
            mapCompressColumns(rc.ctx, 0, s);
        }
        freeContext(&rc);
    }
}

// The forge's own compressed-block writer: every row maps to exactly the
// columns the forge says it stands for (stored order, before the permutation).
forge::CompressedCode groupCode(const std::vector<std::vector<uint8_t>> &values)
{
    forge::CompressedCode code;
    forge::initCompressedCode(&code, forge::kCodeFixedGroup);
    code.values = values;
    return code;
}

forge::CompressedCode wideSymbolCode(uint16_t slot)
{
    forge::CompressedCode code = forge::symbolCode(slot);
    code.kind = forge::kCodeSymbolWide;
    return code;
}

TEST(RowCompress, ForgedCompressedBlockMatchesTheForgesExpansion)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::CompressedBlockLayout layout;
        forge::initCompressedBlockLayout(&layout, forge::makeRdba(7, 300), 4242);
        // Entries 0..2 single values, 3 = [0, 1], 4 = [3, "z"] (nested), 5.. single.
        for (int i = 0; i < 8; i++) {
            forge::SymbolEntry entry;
            char value[16];
            snprintf(value, sizeof value, "sym%d", i);
            entry.codes.push_back(forge::valueCode(text(value)));
            layout.symbols.push_back(entry);
        }
        layout.symbols[3].codes = {forge::symbolCode(0), forge::symbolCode(1)};
        layout.symbols[4].codes = {forge::symbolCode(3), forge::valueCode(text("z")), forge::nullCode()};
        layout.symbolThreshold = 5;
        layout.columnLengths = forge::columnLengthTable({2, 3, 1});
        layout.permutation = {2, 0, 1, 3, 4, 5};

        forge::CompressedRow row0;
        forge::initCompressedRow(&row0);
        row0.codes = {groupCode({text("ab"), text("cde"), text("f")}), forge::symbolCode(4),
                      forge::valueCode(repeated('Q', 120)), forge::nullCode()};
        layout.rows.push_back(row0);

        forge::CompressedRow row1;
        forge::initCompressedRow(&row1);
        row1.flag = forge::kRowHead | forge::kRowFirst | forge::kRowNext;
        row1.hasNext = true;
        row1.nextRdba = forge::makeRdba(7, 301);
        row1.nextSlot = 3;
        row1.codes = {forge::symbolCode(3), groupCode({text("g")}), wideSymbolCode(6), forge::valueCode(text("tail"))};
        layout.rows.push_back(row1);

        forge::CompressedRow row2;
        forge::initCompressedRow(&row2);
        row2.flag = forge::kRowPrevious | forge::kRowLast;
        row2.hasHeadAddress = true;
        row2.headRdba = forge::makeRdba(7, 299);
        row2.headSlot = 9;
        row2.codes = {forge::nullCode(), forge::symbolCode(7)};
        layout.rows.push_back(row2);

        forge::Block block;
        ASSERT_TRUE(forge::initBlock(&block, kBlockSize, order == 1 ? forge::kBigEndian : forge::kLittleEndian));
        char error[256] = "";
        ASSERT_TRUE(forge::putCompressedBlock(&block, &layout, error, sizeof error)) << error;
        RowContext rc = makeContext(block.bytes, order);
        ASSERT_NE(isCompressTable(rc.ctx), 0u);
        getCompressOrder(rc.ctx);
        EXPECT_EQ(rc.ctx->permutationCount, layout.permutation.size());

        for (uint32_t r = 0; r < layout.rows.size(); r++) {
            SCOPED_TRACE(r);
            const forge::CompressedRow &row = layout.rows[r];
            std::vector<forge::ColumnValue> stored;
            ASSERT_TRUE(forge::expandCompressedRow(&layout, &row, &stored, error, sizeof error)) << error;
            mapCompressed(rc.ctx, 1, r);
            EXPECT_EQ(rc.ctx->rowFlag, row.flag);
            EXPECT_EQ(rc.ctx->nextPieceRdba, row.hasNext ? row.nextRdba : 0u);
            EXPECT_EQ(rc.ctx->nextPieceSlot, row.hasNext ? row.nextSlot : 0);
            EXPECT_EQ(rc.ctx->headPieceRdba, row.hasHeadAddress ? row.headRdba : 0u);
            EXPECT_EQ(rc.ctx->headPieceSlot, row.hasHeadAddress ? row.headSlot : 0);
            ASSERT_EQ(rc.ctx->mappedColumns, stored.size());
            for (size_t i = 0; i < stored.size(); i++) {
                if (stored[i].isNull) {
                    EXPECT_EQ(rc.ctx->slots.length[i], 0) << "column " << i;
                } else {
                    EXPECT_EQ(slotBytes(rc.ctx, (uint32_t)i), stored[i].bytes) << "column " << i;
                }
            }
        }
        freeContext(&rc);
    }
}

// The forge's row builders for clusters, migrated and chained rows.
TEST(RowDecode, ForgedClusterMigratedAndChainedRows)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        const uint32_t rdba = forge::makeRdba(9, 77);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, rdba, 555);
        std::vector<forge::ColumnValue> key(1), memberColumns(2), body(3);
        key[0].isNull = false;
        key[0].bytes = forge::encodeNumber(30);
        memberColumns[0].isNull = false;
        memberColumns[0].bytes = text("SALES");
        memberColumns[1].isNull = true;
        body[0].isNull = false;
        body[0].bytes = text("moved");
        body[1].isNull = true;
        body[2].isNull = false;
        body[2].bytes = repeated('m', 260);
        forge::RowPiece keyRow, member, head, bodyRow;
        forge::makeClusterKeyRow(key, 1, rdba, 0, &keyRow);
        forge::makeClusterMemberRow(memberColumns, 1, 0, &member);
        forge::makeMigratedRow(body, 1, rdba, 1, forge::makeRdba(9, 78), 4, &head, &bodyRow);
        head.table = 2;
        bodyRow.table = 2;
        layout.rows = {keyRow, member, head, bodyRow};
        RowContext rc = makeContext(forgeBlock(layout, order), order);

        mapNormal(rc.ctx, 0, 0);
        EXPECT_EQ(rc.ctx->rowFlag, keyRow.flag);
        expectColumns(rc.ctx, key);

        // The member: key first, then its columns (the trailing NULL is
        // stored or not as the forge chose; map what the piece holds).
        mapNormal(rc.ctx, 1, 0);
        EXPECT_EQ(rc.ctx->rowFlag, member.flag);
        ASSERT_GE(rc.ctx->mappedColumns, 2);
        EXPECT_EQ(slotBytes(rc.ctx, 0), key[0].bytes);
        EXPECT_EQ(slotBytes(rc.ctx, 1), text("SALES"));

        mapNormal(rc.ctx, 2, 0);
        EXPECT_EQ(rc.ctx->rowFlag, head.flag);
        EXPECT_EQ(rc.ctx->mappedColumns, 0);
        EXPECT_EQ(rc.ctx->nextPieceRdba, forge::makeRdba(9, 78));
        EXPECT_EQ(rc.ctx->nextPieceSlot, 4);

        mapNormal(rc.ctx, 2, 1);
        EXPECT_EQ(rc.ctx->rowFlag, bodyRow.flag);
        EXPECT_EQ(rc.ctx->nextPieceRdba, 0u);
        expectColumns(rc.ctx, bodyRow.columns);
        freeContext(&rc);

        // A row split in three pieces, linked in one block.
        std::vector<forge::ColumnValue> wide(5);
        for (size_t i = 0; i < wide.size(); i++) {
            wide[i].isNull = (i == 2);
            if (!wide[i].isNull)
                wide[i].bytes = repeated((uint8_t)('a' + i), 10 + i);
        }
        std::vector<forge::RowCut> cuts(2);
        memset(cuts.data(), 0, sizeof(forge::RowCut) * cuts.size());
        cuts[0].column = 2;
        cuts[1].column = 3;
        cuts[1].offset = 4;   // inside a value: N on the piece before, P after
        std::vector<forge::RowPiece> pieces;
        char error[256] = "";
        ASSERT_TRUE(forge::splitRow(wide, cuts, 1, &pieces, error, sizeof error)) << error;
        ASSERT_EQ(pieces.size(), 3u);
        uint32_t rdbas[3] = {rdba, rdba, rdba};
        uint16_t slots[3] = {0, 1, 2};
        forge::linkRowPieces(&pieces, rdbas, slots);
        forge::DataBlockLayout chained;
        forge::initDataBlockLayout(&chained, rdba, 556);
        chained.rows = pieces;
        rc = makeContext(forgeBlock(chained, order), order);
        std::vector<std::vector<uint8_t>> joined;
        for (uint32_t s = 0; s < 3; s++) {
            mapNormal(rc.ctx, 0, s);
            EXPECT_EQ(rc.ctx->rowFlag, pieces[s].flag);
            EXPECT_EQ(rc.ctx->nextPieceRdba, s < 2 ? rdba : 0u);
            EXPECT_EQ(rc.ctx->nextPieceSlot, s < 2 ? s + 1 : 0);
            expectColumns(rc.ctx, pieces[s].columns);
        }
        freeContext(&rc);
    }
}

// ===========================================================================
// Live rows.

TEST(RowCount, LiveRowsOfTableAndIndexBlocks)
{
    for (uint8_t order : kOrders) {
        SCOPED_TRACE(order);
        forge::DataBlockLayout layout = heapSpec(0x32);
        RowContext rc = makeContext(forgeBlock(layout, order), order);
        EXPECT_EQ(countDataRows(rc.ctx, 0), 1);
        EXPECT_EQ(countDataRows(rc.ctx, 9), 1);   // clamped to the last table
        freeContext(&rc);

        // Only deleted rows, free entries and a migrated head (no columns).
        forge::DataBlockLayout dead;
        forge::initDataBlockLayout(&dead, forge::makeRdba(1, 2), 5);
        forge::RowPiece deleted = normalRow();
        deleted.flag |= forge::kRowDeleted;
        forge::addColumnText(&deleted, "gone");
        dead.rows.push_back(deleted);
        forge::RowPiece freeSlot = normalRow();
        freeSlot.freeEntry = true;
        dead.rows.push_back(freeSlot);
        forge::RowPiece migrated = normalRow();
        migrated.flag = forge::kRowHead;
        migrated.hasNext = true;
        migrated.nextRdba = 1;
        dead.rows.push_back(migrated);
        forge::RowPiece piece = normalRow();
        piece.flag = forge::kRowPrevious | forge::kRowLast;
        forge::addColumnText(&piece, "part");
        dead.rows.push_back(piece);
        std::vector<uint8_t> bytes = forgeBlock(dead, order);
        rc = makeContext(bytes, order);
        EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
        freeContext(&rc);

        // A live row below the free-space end is not counted.
        forge::DataBlockLayout one;
        forge::initDataBlockLayout(&one, forge::makeRdba(1, 3), 5);
        forge::RowPiece live = normalRow();
        forge::addColumnText(&live, "here");
        one.rows.push_back(live);
        bytes = forgeBlock(one, order);
        rc = makeContext(bytes, order);
        EXPECT_EQ(countDataRows(rc.ctx, 0), 1);
        uint32_t h = getDataBeginOffset(rc.ctx);
        put16(bytes, h + 8, (uint16_t)(getTableRowOffset(rc.ctx, 0, 0) + 1), order);
        freeContext(&rc);
        rc = makeContext(bytes, order);
        EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
        rc.image[0] = 11;   // not a data block
        EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
        freeContext(&rc);

        // Index leaf block: the opcode bit 0x10 and level 0, then a row whose
        // flag has bit 0 clear.
        std::vector<uint8_t> index(kBlockSize, 0);
        index[0] = 6;
        index[20] = 2;
        put16(index, 36, 2, order);
        uint32_t ih = 92;
        index[ih + 2] = 0x10;
        put16(index, ih + 8, 2, order);
        put16(index, ih + 36, 4000, order);
        put16(index, ih + 38, 4010, order);
        index[ih + 4000] = 0x01;
        index[ih + 4010] = 0x01;
        rc = makeContext(index, order);
        EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
        rc.image[ih + 4010] = 0x00;
        EXPECT_EQ(countDataRows(rc.ctx, 0), 1);
        rc.image[ih + 2] = 0x00;   // opcode without 0x10
        EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
        rc.image[ih + 2] = 0x10;
        rc.image[ih] = 1;   // a branch block
        EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
        freeContext(&rc);
    }
}

// ===========================================================================
// Robustness: nothing is read outside the block (the sanitizer build checks).

void mapEverything(UnloadContext *ctx)
{
    uint32_t tables = getTableCount(ctx);
    if (tables > 4)
        tables = 4;
    countDataRows(ctx, 0);
    countDataRows(ctx, 3);
    bool compressed = isCompressTable(ctx) != 0;
    if (compressed)
        getCompressOrder(ctx);
    for (uint32_t t = 0; t < tables + 1; t++) {
        uint32_t rows = getTableRowCount(ctx, t);
        if (rows > 80)
            rows = 80;
        for (uint32_t s = 0; s < rows + 1; s++) {
            mapNormal(ctx, t, s);
            expectSlotsInside(ctx);
            mapCompressed(ctx, t, s);
            expectSlotsInside(ctx);
        }
    }
}

struct XorShift {
    uint64_t state;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return (uint32_t)(state >> 16);
    }
};

TEST(RowRobust, RandomBlocks)
{
    XorShift rng = {0x9E3779B97F4A7C15ULL};
    for (int iteration = 0; iteration < 3000; iteration++) {
        uint32_t size = (iteration % 3 == 0) ? 2048 : (iteration % 3 == 1 ? 4096 : 512 + rng.next() % 1536);
        uint8_t order = (uint8_t)(iteration & 1);
        std::vector<uint8_t> b(size);
        for (uint32_t i = 0; i < size; i++)
            b[i] = (uint8_t)rng.next();
        // Most blocks get a plausible header so that the decoders go deep.
        if (iteration % 4 != 0) {
            b[0] = 6;
            b[20] = 1;
            put16(b, 36, (uint16_t)(rng.next() % 4), order);
            b[38] = (rng.next() & 1) ? 0x32 : 0;
            RowContext probe = makeContext(b, order);
            uint32_t h = getDataBeginOffset(probe.ctx);
            freeContext(&probe);
            b[h] = (rng.next() & 1) ? 0x40 : 0;
            b[h + 1] = (uint8_t)(1 + rng.next() % 3);
            if (b[h] & 0x40) {
                b[h + 19] = (uint8_t)(rng.next() % 6);
                b[h + 20] = (uint8_t)(rng.next() % 6);
            }
            RowContext layout = makeContext(b, order);
            uint32_t tables = h + 14 + getCompressOffset(layout.ctx);
            freeContext(&layout);
            uint32_t count = b[h + 1];
            for (uint32_t t = 0; t < count && tables + 4 * t + 4 <= size; t++) {
                put16(b, tables + 4 * t, (uint16_t)(rng.next() % 6), order);
                put16(b, tables + 4 * t + 2, (uint16_t)(rng.next() % 12), order);
            }
            uint32_t rows = tables + 4 * count;
            for (uint32_t r = 0; r < 20 && rows + 2 * r + 2 <= size; r++)
                put16(b, rows + 2 * r, (uint16_t)(size - h - 1 - rng.next() % 400), order);
        }
        RowContext rc = makeContext(b, order);
        mapEverything(rc.ctx);
        freeContext(&rc);
        if (HasFatalFailure())
            return;
    }
}

TEST(RowRobust, EveryTruncationOfForgedBlocks)
{
    for (uint8_t order : kOrders) {
        std::vector<std::vector<uint8_t>> blocks;
        forge::DataBlockLayout heap = heapSpec(0x32);
        blocks.push_back(forgeBlock(heap, order, 2048));

        forge::DataBlockLayout cluster;
        forge::initDataBlockLayout(&cluster, forge::makeRdba(3, 40), 120);
        cluster.rows.push_back(rawRow(clusterKeyRow(text("k1")), 0));
        forge::RowPiece member = memberRow(1, 0);
        forge::addColumnText(&member, "member");
        forge::addColumnNull(&member);
        forge::addColumnText(&member, "x");
        cluster.rows.push_back(member);
        forge::RowPiece chained = normalRow(1);
        chained.flag = forge::kRowHead | forge::kRowFirst;
        chained.hasNext = true;
        chained.nextRdba = 0x01020304;
        forge::addColumnText(&chained, "piece");
        cluster.rows.push_back(chained);
        blocks.push_back(forgeBlock(cluster, order, 2048));

        CompressedSpec compressed;
        compressed.order = order;
        compressed.size = 2048;
        compressed.threshold = 2;
        compressed.lengths = {0, 2, 5};
        compressed.symbols.push_back(symbolCounted(2, concat({inlineValue("ab"), inlineValue("c")})));
        compressed.symbols.push_back(symbolCounted(2, concat({{0}})));
        compressed.symbols.push_back(symbolSingle({250, 0, 3, 'x', 'y', 'z'}));
        compressed.rows.push_back(compressedRow(0x2C, 3, true, concat({{202}, text("aabbb"), {1, 2}})));
        compressed.rows.push_back(compressedRow(0x25, 2, true, concat({{0, 0, 0, 9, 0, 1}, {251, 0, 2, 0xFF}})));
        blocks.push_back(buildCompressedBlock(compressed));

        for (const std::vector<uint8_t> &full : blocks) {
            for (size_t len = 0; len <= full.size(); len++) {
                std::vector<uint8_t> cut(full.begin(), full.begin() + len);
                RowContext rc = makeContext(cut, order);
                mapEverything(rc.ctx);
                freeContext(&rc);
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

TEST(RowRobust, AnyByteOrderValueOtherThanZeroOrOne)
{
    forge::DataBlockLayout layout = heapSpec(0);
    RowContext rc = makeContext(forgeBlock(layout, 0), 0);
    rc.ctx->byteOrder = 2;
    mapEverything(rc.ctx);
    mapNormal(rc.ctx, 0, 0);
    EXPECT_EQ(countDataRows(rc.ctx, 0), 0);
    freeContext(&rc);
}

// ===========================================================================
// Real blocks written by Oracle.

// One row as Oracle's block dump prints it.
struct DumpedRow {
    uint32_t table = 0;
    uint32_t slot = 0;
    uint32_t offset = 0;
    std::string flags;
    uint32_t lock = 0;
    uint32_t columnCount = 0;
    std::vector<std::vector<uint8_t>> columns;
    std::vector<bool> nulls;
};

// Reads the "tab t, row r, @0x..." sections of a block dump.
std::vector<DumpedRow> parseDump(const std::string &dump)
{
    std::vector<DumpedRow> rows;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        unsigned t, r, off;
        char flags[16];
        unsigned lock, cc, col, len;
        int used = 0;
        if (sscanf(line.c_str(), "tab %u, row %u, @0x%x", &t, &r, &off) == 3) {
            DumpedRow row;
            row.table = t;
            row.slot = r;
            row.offset = off;
            rows.push_back(row);
        } else if (!rows.empty() &&
                   sscanf(line.c_str(), "tl: %*u fb: %15s lb: 0x%x cc: %u", flags, &lock, &cc) == 3) {
            rows.back().flags = flags;
            rows.back().lock = lock;
            rows.back().columnCount = cc;
        } else if (!rows.empty() && sscanf(line.c_str(), "col %u: [%u]%n", &col, &len, &used) == 2) {
            std::vector<uint8_t> value;
            const char *p = line.c_str() + used;
            unsigned byte;
            int step;
            while (sscanf(p, "%x%n", &byte, &step) == 1) {
                value.push_back((uint8_t)byte);
                p += step;
            }
            EXPECT_EQ(value.size(), len) << line;
            rows.back().columns.push_back(value);
            rows.back().nulls.push_back(false);
        } else if (!rows.empty() && sscanf(line.c_str(), "col %u: *NULL*", &col) == 1) {
            rows.back().columns.push_back({});
            rows.back().nulls.push_back(true);
        }
    }
    return rows;
}

uint8_t flagsFromLetters(const std::string &letters)
{
    static const char kLetters[] = "KCHDFLPN";
    uint8_t flag = 0;
    for (size_t i = 0; i < 8 && i < letters.size(); i++)
        if (letters[i] == kLetters[i])
            flag |= (uint8_t)(0x80 >> i);
    return flag;
}

void compareWithOracleDump(const char *dir)
{
    std::vector<uint8_t> block = oracleFixtureBytes(std::string(dir) + "/block.bin");
    std::vector<uint8_t> dumpBytes = oracleFixtureBytes(std::string(dir) + "/oracle-dump.txt");
    if (block.empty() || dumpBytes.empty())
        GTEST_SKIP() << "fixture " << dir << " not found";
    std::vector<DumpedRow> rows = parseDump(std::string(dumpBytes.begin(), dumpBytes.end()));
    ASSERT_FALSE(rows.empty());
    RowContext rc = makeContext(block, 0);
    EXPECT_EQ(getTableRowCount(rc.ctx, 0), rows.size());
    for (const DumpedRow &row : rows) {
        SCOPED_TRACE(row.slot);
        EXPECT_EQ(getTableRowOffset(rc.ctx, row.table, row.slot), row.offset);
        mapNormal(rc.ctx, row.table, row.slot);
        EXPECT_EQ(rc.ctx->rowFlag, flagsFromLetters(row.flags));
        EXPECT_EQ(rc.image[getDataBeginOffset(rc.ctx) + row.offset + 1], row.lock);
        ASSERT_EQ(rc.ctx->mappedColumns, row.columnCount);
        ASSERT_EQ(row.columns.size(), row.columnCount);
        for (uint32_t i = 0; i < row.columnCount; i++) {
            EXPECT_EQ(slotBytes(rc.ctx, i), row.columns[i]) << "column " << i;
            if (row.nulls[i]) {
                EXPECT_EQ(rc.ctx->slots.length[i], 0);
            }
        }
    }
    EXPECT_EQ(countDataRows(rc.ctx, 0), 1);
    freeContext(&rc);
}

TEST(RowOracle, Heap19cCharRowMatchesOraclesDump)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    compareWithOracleDump("heap-1row-char-19c-x64");
    std::vector<uint8_t> block = oracleFixtureBytes("heap-1row-char-19c-x64/block.bin");
    if (block.empty())
        return;
    EXPECT_EQ(block[38], 0x32);
    RowContext rc = makeContext(block, 0);
    EXPECT_EQ(getDataBeginOffset(rc.ctx), 0x64u);
    // The leftovers of the block's earlier life are not rows.
    EXPECT_EQ(getTableRowCount(rc.ctx, 0), 1);
    EXPECT_EQ(getRecordCount(rc.ctx), 1);
    freeContext(&rc);
}

TEST(RowOracle, Heap32bitThreeRowsMatchOraclesDump)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    compareWithOracleDump("heap-3rows-lock-32bit");
}

TEST(RowOracle, EmpBlockWithDeletedRows)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> block = oracleFixtureBytes("emp-14rows-12deleted-11203-i686/block.bin");
    if (block.empty())
        GTEST_SKIP() << "fixture not found";
    RowContext rc = makeContext(block, 0);
    EXPECT_EQ(getDataBeginOffset(rc.ctx), 0x7cu);
    ASSERT_EQ(getTableRowCount(rc.ctx, 0), 14);
    const char *names[14] = {"SMITH", "hong ", "WARD", "JONES", "MARTIN", "BLAKE", "CLARK",
                             "SCOTT", "KING", "TURNER", "ADAMS", "JAMES", "FORD", "MILLER"};
    const long long empno[14] = {7369, 7499, 7521, 7566, 7654, 7698, 7782,
                                 7788, 7839, 7844, 7876, 7900, 7902, 7934};
    for (uint32_t r = 0; r < 14; r++) {
        SCOPED_TRACE(r);
        mapNormal(rc.ctx, 0, r);
        EXPECT_EQ(rc.ctx->rowFlag, r < 2 ? 0x2C : 0x3C);
        EXPECT_EQ(rc.image[0x7c + getTableRowOffset(rc.ctx, 0, r) + 1], 2);
        ASSERT_GE(rc.ctx->mappedColumns, 7);
        EXPECT_EQ(slotBytes(rc.ctx, 0), forge::encodeNumber(empno[r]));
        EXPECT_EQ(slotBytes(rc.ctx, 1), text(names[r]));
    }
    // SMITH: 7902, 1980-12-17, 800, COMM NULL, 20.
    mapNormal(rc.ctx, 0, 0);
    ASSERT_EQ(rc.ctx->mappedColumns, 8);
    EXPECT_EQ(slotBytes(rc.ctx, 2), text("CLERK"));
    EXPECT_EQ(slotBytes(rc.ctx, 3), forge::encodeNumber(7902));
    std::vector<uint8_t> hiredate = {0x77, 0xB4, 0x0C, 0x11, 0x01, 0x01, 0x01};
    EXPECT_EQ(slotBytes(rc.ctx, 4), hiredate);
    EXPECT_EQ(slotBytes(rc.ctx, 5), forge::encodeNumber(800));
    EXPECT_EQ(rc.ctx->slots.length[6], 0);
    EXPECT_EQ(slotBytes(rc.ctx, 7), forge::encodeNumber(20));
    // KING: MGR NULL in the middle of the row.
    mapNormal(rc.ctx, 0, 8);
    ASSERT_EQ(rc.ctx->mappedColumns, 8);
    EXPECT_EQ(slotBytes(rc.ctx, 2), text("PRESIDENT"));
    EXPECT_EQ(rc.ctx->slots.length[3], 0);
    EXPECT_EQ(rc.image[rc.ctx->slots.offset[3]], 0xFF);
    // TURNER: COMM 0.
    mapNormal(rc.ctx, 0, 9);
    EXPECT_EQ(slotBytes(rc.ctx, 6), forge::encodeNumber(0));
    EXPECT_EQ(countDataRows(rc.ctx, 0), 1);
    freeContext(&rc);
}

TEST(RowOracle, UncommittedRowFromBbed)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> block = oracleFixtureBytes("heap-1row-uncommitted-bbed-11g/block.bin");
    if (block.empty())
        GTEST_SKIP() << "fixture not found";
    RowContext rc = makeContext(block, 0);
    ASSERT_EQ(getTableRowCount(rc.ctx, 0), 1);
    mapNormal(rc.ctx, 0, 0);
    EXPECT_EQ(rc.ctx->rowFlag, 0x2C);
    EXPECT_EQ(rc.image[getDataBeginOffset(rc.ctx) + getTableRowOffset(rc.ctx, 0, 0) + 1], 1);
    ASSERT_EQ(rc.ctx->mappedColumns, 2);
    EXPECT_EQ(slotBytes(rc.ctx, 0), forge::encodeNumber(1));
    EXPECT_EQ(slotBytes(rc.ctx, 1), text("AAAAAA"));
    EXPECT_EQ(countDataRows(rc.ctx, 0), 1);
    freeContext(&rc);
}

TEST(RowOracle, EveryTruncationOfRealBlocks)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    const char *names[] = {"heap-1row-char-19c-x64", "heap-3rows-lock-32bit",
                           "emp-14rows-12deleted-11203-i686", "heap-1row-uncommitted-bbed-11g"};
    for (const char *name : names) {
        std::vector<uint8_t> full = oracleFixtureBytes(std::string(name) + "/block.bin");
        if (full.empty())
            continue;
        // Every length would take minutes under the sanitizer: each cut maps
        // every row both ways, the compressed way up to its code limit.
        for (size_t len = 0; len <= full.size(); len += (len + 64 < full.size() ? 37 : 1)) {
            std::vector<uint8_t> cut(full.begin(), full.begin() + len);
            for (uint8_t order : kOrders) {
                RowContext rc = makeContext(cut, order);
                mapEverything(rc.ctx);
                freeContext(&rc);
            }
            if (HasFatalFailure())
                return;
        }
    }
}

}  // namespace
