// OLTP-compressed blocks: a symbol table in table 0, the rows in table 1 as
// codes that refer to symbols, to fixed-length column groups of the
// block's column-length table, or carry their values inline.
#include "forge/forge.h"

#include <cstdarg>
#include <cstdio>

namespace forge {

static const uint8_t kCodeMaxSymbol = 200;
static const uint8_t kCodeGroupBase = 200;  // 201..249: 200 + columns or bytes
static const uint8_t kCodeMaxShort = 249;
static const uint8_t kCodeLongValue = 250;
static const uint8_t kCodeWideSymbol = 251;
static const uint8_t kCodeFirstNull = 252;
static const uint16_t kNoLength = 0x8000;
static const size_t kMaxInline = kCodeMaxShort - kCodeGroupBase;  // 49

static bool codeError(char *error, size_t errorLength, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

static bool codeError(char *error, size_t errorLength, const char *format, ...) {
    if (error == nullptr || errorLength == 0) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(error, errorLength, format, args);
    va_end(args);
    return false;
}

void initCompressedCode(CompressedCode *code, CompressedCodeKind kind) {
    code->kind = kind;
    code->slot = 0;
    code->values.clear();
    code->nullCode = kCodeFirstNull;
}

CompressedCode symbolCode(uint16_t slot) {
    CompressedCode code;
    initCompressedCode(&code, kCodeSymbol);
    code.slot = slot;
    return code;
}

CompressedCode valueCode(const std::vector<uint8_t> &bytes) {
    CompressedCode code;
    initCompressedCode(&code, !bytes.empty() && bytes.size() <= kMaxInline ? kCodeInline : kCodeLong);
    code.values.push_back(bytes);
    return code;
}

CompressedCode nullCode() {
    CompressedCode code;
    initCompressedCode(&code, kCodeNull);
    return code;
}

void initCompressedRow(CompressedRow *row) {
    row->flag = kRowNormal;
    row->lock = 0;
    row->hasHeadAddress = false;
    row->headRdba = 0;
    row->headSlot = 0;
    row->hasNext = false;
    row->nextRdba = 0;
    row->nextSlot = 0;
    row->freeEntry = false;
    row->codes.clear();
}

void initCompressedBlockLayout(CompressedBlockLayout *layout, uint32_t rdba, uint32_t objectId) {
    initDataBlockLayout(&layout->base, rdba, objectId);
    layout->symbolThreshold = 0xFFFF;  // replaced by the symbol count when left alone
    layout->columnLengths.clear();
    layout->permutation.clear();
    layout->symbols.clear();
    layout->rows.clear();
}

std::vector<uint16_t> columnLengthTable(const std::vector<uint16_t> &lengths) {
    std::vector<uint16_t> table(1, 0);
    for (uint16_t length : lengths) table.push_back((uint16_t)(table.back() + length));
    return table;
}

static uint16_t symbolThreshold(const CompressedBlockLayout *layout) {
    return layout->symbolThreshold == 0xFFFF ? (uint16_t)layout->symbols.size() : layout->symbolThreshold;
}

// Columns of a symbol entry, expanded; `depth` guards against a reference
// cycle.
static bool expandSymbol(const CompressedBlockLayout *layout, uint16_t slot, int depth,
                         std::vector<ColumnValue> *out, char *error, size_t errorLength);

static bool expandValueCode(const CompressedCode &code, std::vector<ColumnValue> *out,
                            char *error, size_t errorLength) {
    ColumnValue value;
    value.isNull = false;
    switch (code.kind) {
    case kCodeInline:
        if (code.values.size() != 1 || code.values[0].empty() || code.values[0].size() > kMaxInline)
            return codeError(error, errorLength, "an inline value is 1 to 49 bytes");
        value.bytes = code.values[0];
        break;
    case kCodeLong:
        if (code.values.size() != 1 || code.values[0].size() > 0xFFFF)
            return codeError(error, errorLength, "a long value (code 250) is at most 65535 bytes");
        value.bytes = code.values[0];
        break;
    case kCodeNull:
        if (code.nullCode < kCodeFirstNull)
            return codeError(error, errorLength, "a NULL code is 252 to 255");
        value.isNull = true;
        break;
    default: return codeError(error, errorLength, "not a value code");
    }
    out->push_back(value);
    return true;
}

static bool expandSymbol(const CompressedBlockLayout *layout, uint16_t slot, int depth,
                         std::vector<ColumnValue> *out, char *error, size_t errorLength) {
    if (slot >= layout->symbols.size())
        return codeError(error, errorLength, "symbol %u does not exist", slot);
    if (depth > (int)layout->symbols.size())
        return codeError(error, errorLength, "symbol %u refers to itself", slot);
    const SymbolEntry &entry = layout->symbols[slot];
    if (entry.codes.empty()) return codeError(error, errorLength, "symbol %u has no codes", slot);
    size_t before = out->size();
    for (const CompressedCode &code : entry.codes) {
        if (code.kind == kCodeSymbol || code.kind == kCodeSymbolWide) {
            size_t at = out->size();
            if (!expandSymbol(layout, code.slot, depth + 1, out, error, errorLength)) return false;
            // A two-byte reference counts as one column in the entry's total,
            // so it may only name a single-column entry.
            bool wide = code.kind == kCodeSymbolWide || code.slot > kCodeMaxSymbol;
            if (wide && out->size() - at != 1)
                return codeError(error, errorLength,
                                 "symbol %u: a two-byte reference must name a one-column entry", slot);
        } else if (code.kind == kCodeFixedGroup) {
            return codeError(error, errorLength, "symbol %u: a fixed-length group only appears in rows", slot);
        } else if (!expandValueCode(code, out, error, errorLength)) {
            return false;
        }
    }
    size_t count = out->size() - before;
    if (slot >= symbolThreshold(layout) && count != 1)
        return codeError(error, errorLength,
                         "symbol %u is past the threshold, so it holds one column, not %zu", slot, count);
    if (count > 255) return codeError(error, errorLength, "symbol %u holds more than 255 columns", slot);
    return true;
}

bool expandCompressedRow(const CompressedBlockLayout *layout, const CompressedRow *row,
                         std::vector<ColumnValue> *stored, char *error, size_t errorLength) {
    stored->clear();
    const std::vector<uint16_t> &table = layout->columnLengths;
    size_t fixedColumns = table.empty() ? 0 : table.size() - 1;
    for (size_t i = 0; i < row->codes.size(); i++) {
        const CompressedCode &code = row->codes[i];
        if (code.kind == kCodeSymbol || code.kind == kCodeSymbolWide) {
            if (!expandSymbol(layout, code.slot, 0, stored, error, errorLength)) return false;
        } else if (code.kind == kCodeFixedGroup) {
            size_t g = code.values.size();
            if (g == 0 || g > kMaxInline)
                return codeError(error, errorLength, "code %zu: a group has 1 to 49 columns", i);
            if (stored->size() + g > fixedColumns)
                return codeError(error, errorLength,
                                 "code %zu: a group of %zu at column %zu runs past the %zu fixed columns",
                                 i, g, stored->size(), fixedColumns);
            // Lengths come from the table; the base restarts at the entry of
            // the group's first column.
            uint16_t base = 0;
            size_t counter = stored->size();
            if ((table[counter] & kNoLength) == 0) {
                base = table[counter];
            } else {
                for (size_t e = counter; e-- > 0;)
                    if ((table[e] & kNoLength) == 0) {
                        base = table[e];
                        break;
                    }
            }
            for (size_t c = 0; c < g; c++, counter++) {
                uint16_t length = (uint16_t)(table[counter + 1] - base);
                if ((length & kNoLength) != 0) length = 0;
                base = (uint16_t)(base + length);
                if (code.values[c].size() != length)
                    return codeError(error, errorLength,
                                     "code %zu: column %zu of the group is %zu bytes; the table says %u",
                                     i, counter, code.values[c].size(), length);
                ColumnValue value;
                value.isNull = false;
                value.bytes = code.values[c];
                stored->push_back(value);
            }
        } else {
            if (code.kind == kCodeInline && stored->size() + 1 < table.size())
                return codeError(error, errorLength,
                                 "code %zu: at fixed column %zu a short code is a group; use a group "
                                 "or a long value",
                                 i, stored->size());
            if (!expandValueCode(code, stored, error, errorLength)) return false;
        }
        if (stored->size() > 255) return codeError(error, errorLength, "a row of more than 255 columns");
    }
    return true;
}

void permuteColumns(const std::vector<uint8_t> &permutation, const std::vector<ColumnValue> &stored,
                    std::vector<ColumnValue> *output) {
    output->clear();
    ColumnValue missing;
    missing.isNull = true;
    for (size_t i = 0; i < stored.size(); i++) {
        size_t from = i < permutation.size() ? permutation[i] : i;
        output->push_back(from < stored.size() ? stored[from] : missing);
    }
}

static void appendCode(const CompressedCode &code, std::vector<uint8_t> *out) {
    switch (code.kind) {
    case kCodeSymbol:
        if (code.slot <= kCodeMaxSymbol) {
            out->push_back((uint8_t)code.slot);
            return;
        }
        // Wider slots take the two-byte form.
        [[fallthrough]];
    case kCodeSymbolWide:
        out->push_back(kCodeWideSymbol);
        out->push_back((uint8_t)(code.slot >> 8));  // big-endian
        out->push_back((uint8_t)code.slot);
        return;
    case kCodeFixedGroup:
        out->push_back((uint8_t)(kCodeGroupBase + code.values.size()));
        for (const std::vector<uint8_t> &value : code.values) out->insert(out->end(), value.begin(), value.end());
        return;
    case kCodeInline:
        out->push_back((uint8_t)(kCodeGroupBase + code.values[0].size()));
        out->insert(out->end(), code.values[0].begin(), code.values[0].end());
        return;
    case kCodeLong:
        out->push_back(kCodeLongValue);
        out->push_back((uint8_t)(code.values[0].size() >> 8));  // big-endian
        out->push_back((uint8_t)code.values[0].size());
        out->insert(out->end(), code.values[0].begin(), code.values[0].end());
        return;
    case kCodeNull: out->push_back(code.nullCode); return;
    }
}

static void appendAddress(std::vector<uint8_t> *out, uint32_t rdba, uint16_t slot) {
    uint8_t address[6];
    storeU32(address, rdba, kBigEndian);
    storeU16(address + 4, slot, kBigEndian);
    out->insert(out->end(), address, address + 6);
}

bool compressedToDataLayout(const CompressedBlockLayout *layout, DataBlockLayout *out, char *error,
                            size_t errorLength) {
    *out = layout->base;
    out->rows.clear();
    out->dataFlag |= kDataFlagCompressed;
    out->tableCount = 2;
    out->symbolThreshold = symbolThreshold(layout);
    out->columnLengths = layout->columnLengths;
    out->permutation = layout->permutation;
    if (layout->columnLengths.size() > 255 || layout->permutation.size() > 255)
        return codeError(error, errorLength, "column-length table and permutation hold at most 255 entries");

    std::vector<ColumnValue> columns;
    for (size_t s = 0; s < layout->symbols.size(); s++) {
        columns.clear();
        if (!expandSymbol(layout, (uint16_t)s, 0, &columns, error, errorLength)) return false;
        RowPiece piece;
        initRowPiece(&piece);
        piece.raw.push_back(kRowNormal);
        piece.raw.push_back(0);
        if (s < out->symbolThreshold) piece.raw.push_back((uint8_t)columns.size());
        for (const CompressedCode &code : layout->symbols[s].codes) appendCode(code, &piece.raw);
        out->rows.push_back(piece);
    }
    for (size_t r = 0; r < layout->rows.size(); r++) {
        const CompressedRow &row = layout->rows[r];
        RowPiece piece;
        initRowPiece(&piece);
        piece.table = 1;
        if (row.freeEntry) {
            piece.freeEntry = true;
            out->rows.push_back(piece);
            continue;
        }
        if (!expandCompressedRow(layout, &row, &columns, error, errorLength)) {
            std::string reason = error != nullptr ? error : "";
            return codeError(error, errorLength, "row %zu: %s", r, reason.c_str());
        }
        if (row.codes.size() > 255) return codeError(error, errorLength, "row %zu has more than 255 codes", r);
        if (((row.flag & kRowFirst) == 0) != row.hasHeadAddress)
            return codeError(error, errorLength, "row %zu: a head address goes with a piece without F", r);
        if (((row.flag & kRowLast) == 0) != row.hasNext)
            return codeError(error, errorLength, "row %zu: a next address goes with a piece without L", r);
        piece.raw.push_back(row.flag);
        piece.raw.push_back(row.lock);
        piece.raw.push_back((uint8_t)row.codes.size());
        if (!layout->columnLengths.empty()) piece.raw.push_back(0);
        if (row.hasHeadAddress) appendAddress(&piece.raw, row.headRdba, row.headSlot);
        if (row.hasNext) appendAddress(&piece.raw, row.nextRdba, row.nextSlot);
        for (const CompressedCode &code : row.codes) appendCode(code, &piece.raw);
        out->rows.push_back(piece);
    }
    return true;
}

bool putCompressedBlock(Block *block, const CompressedBlockLayout *layout, char *error,
                        size_t errorLength) {
    DataBlockLayout data;
    if (!compressedToDataLayout(layout, &data, error, errorLength)) return false;
    return putDataBlock(block, &data, error, errorLength);
}

}  // namespace forge
