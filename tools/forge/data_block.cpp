// Table data blocks: transaction header, ITL list, data header, table and
// row directories and row pieces, laid out as a fresh Oracle block is.
#include "forge/forge.h"

#include <cstdio>
#include <cstring>

namespace forge {

static const uint32_t kTransactionTypeOffset = 20;
static const uint32_t kObjectIdOffset = 24;
static const uint32_t kCleanScnBaseOffset = 28;
static const uint32_t kCleanScnWrapOffset = 32;
static const uint32_t kItlCountOffset = 36;
static const uint32_t kHeaderFlagOffset = 38;
static const uint32_t kDataHeaderSize = 14;
static const uint32_t kTailSize = 4;
static const uint8_t kTransactionTable = 1;

// Data header fields, relative to H.
static const uint32_t kDataFlag = 0;
static const uint32_t kTableCount = 1;
static const uint32_t kRowCount = 2;
static const uint32_t kFirstFree = 4;
static const uint32_t kFreeBegin = 6;
static const uint32_t kFreeEnd = 8;
static const uint32_t kAvailable = 10;
static const uint32_t kTotalFree = 12;
static const uint32_t kCompressThreshold = 16;
static const uint32_t kCompressLengthCount = 19;
static const uint32_t kCompressPermutationCount = 20;
static const uint32_t kCompressLengths = 22;

// Longest value a single length byte announces; longer ones take 0xFE and
// a two-byte length.
static const size_t kMaxShortLength = 250;

void initItlEntry(ItlEntry *entry) { memset(entry, 0, sizeof *entry); }

void initRowPiece(RowPiece *row) {
    row->flag = kRowNormal;
    row->lock = 0;
    row->table = 0;
    row->hasNext = false;
    row->nextRdba = 0;
    row->nextSlot = 0;
    row->hasClusterKeySlot = false;
    row->clusterKeySlot = 0;
    row->hasHeadAddress = false;
    row->headRdba = 0;
    row->headSlot = 0;
    row->hasClusterKeyInfo = false;
    memset(&row->clusterKey, 0, sizeof row->clusterKey);
    row->freeEntry = false;
    row->columns.clear();
    row->raw.clear();
}

void initDataBlockLayout(DataBlockLayout *layout, uint32_t rdba, uint32_t objectId) {
    initCacheHeader(&layout->cache, kTypeData, rdba);
    layout->objectId = objectId;
    layout->cleanScnBase = 0;
    layout->cleanScnWrap = 0;
    layout->headerFlag = kDataFlagExtended;
    layout->dataFlag = 0;
    layout->tableCount = 0;
    ItlEntry empty;
    initItlEntry(&empty);
    layout->itl.assign(2, empty);
    layout->rows.clear();
    layout->symbolThreshold = 0;
    layout->columnLengths.clear();
    layout->permutation.clear();
}

void addColumnBytes(RowPiece *row, const void *data, size_t length) {
    ColumnValue value;
    value.isNull = false;
    const uint8_t *bytes = (const uint8_t *)data;
    value.bytes.assign(bytes, bytes + length);
    row->columns.push_back(value);
}

void addColumnText(RowPiece *row, const char *text) { addColumnBytes(row, text, strlen(text)); }

void addColumnNull(RowPiece *row) {
    ColumnValue value;
    value.isNull = true;
    row->columns.push_back(value);
}

uint32_t dataHeaderOffset(uint32_t itlCount, uint8_t headerFlag) {
    return kItlOffset + kItlSize * itlCount + (headerFlag == kDataFlagExtended ? 8 : 0);
}

// Addresses inside a row (next piece, head piece, cluster key chain) are
// big-endian on every platform.
static void appendAddress(std::vector<uint8_t> *out, uint32_t rdba, uint16_t slot) {
    uint8_t address[6];
    storeU32(address, rdba, kBigEndian);
    storeU16(address + 4, slot, kBigEndian);
    out->insert(out->end(), address, address + 6);
}

// Row piece header: flag, lock, column count; then the cluster key slot of
// a member row, or the 16 bytes of a key row; then the head address of a
// piece that has F without H; then the next-piece address when L is clear.
static void encodeRow(const RowPiece *row, ByteOrder order, std::vector<uint8_t> *out) {
    out->clear();
    if (!row->raw.empty()) {
        *out = row->raw;
        return;
    }
    out->push_back(row->flag);
    out->push_back(row->lock);
    out->push_back((uint8_t)row->columns.size());
    if (row->hasClusterKeySlot) out->push_back(row->clusterKeySlot);
    if (row->hasClusterKeyInfo) {
        uint8_t counts[4];
        storeU16(counts, row->clusterKey.rowCount, order);
        storeU16(counts + 2, row->clusterKey.committedCount, order);
        out->insert(out->end(), counts, counts + 4);
        appendAddress(out, row->clusterKey.previousRdba, row->clusterKey.previousSlot);
        appendAddress(out, row->clusterKey.nextRdba, row->clusterKey.nextSlot);
    }
    if (row->hasHeadAddress) appendAddress(out, row->headRdba, row->headSlot);
    if (row->hasNext) appendAddress(out, row->nextRdba, row->nextSlot);
    for (const ColumnValue &column : row->columns) {
        if (column.isNull) {
            out->push_back(0xFF);
            continue;
        }
        size_t length = column.bytes.size();
        if (length <= kMaxShortLength) {
            out->push_back((uint8_t)length);
        } else {
            uint8_t wide[3];
            wide[0] = 0xFE;
            storeU16(wide + 1, (uint16_t)length, order);
            out->insert(out->end(), wide, wide + 3);
        }
        out->insert(out->end(), column.bytes.begin(), column.bytes.end());
    }
}

size_t rowPieceSize(const RowPiece *row) {
    std::vector<uint8_t> bytes;
    encodeRow(row, kLittleEndian, &bytes);  // the size does not depend on the order
    return row->freeEntry ? 0 : bytes.size();
}

uint32_t compressExtensionSize(size_t columnLengthCount, size_t permutationCount) {
    return (uint32_t)(8 + 2 * columnLengthCount + permutationCount + (permutationCount % 2));
}

static bool hasRoom(char *error, size_t errorLength) { return error != nullptr && errorLength > 0; }

bool putDataBlock(Block *block, const DataBlockLayout *layout, char *error, size_t errorLength) {
    size_t itc = layout->itl.size();
    if (itc > 255) {
        if (hasRoom(error, errorLength))
            snprintf(error, errorLength, "%zu ITL entries; at most 255", itc);
        return false;
    }
    uint32_t h = dataHeaderOffset((uint32_t)itc, layout->headerFlag);

    size_t tableCount = layout->tableCount;
    for (const RowPiece &row : layout->rows)
        if ((size_t)row.table + 1 > tableCount) tableCount = (size_t)row.table + 1;
    if (tableCount == 0) tableCount = 1;
    if (tableCount > 255) {
        if (hasRoom(error, errorLength))
            snprintf(error, errorLength, "%zu tables; at most 255", tableCount);
        return false;
    }

    // Directory order: the rows of table 0, then of table 1, ..., each in the
    // order given.
    std::vector<size_t> order;
    std::vector<uint16_t> firstEntry(tableCount), rowsOfTable(tableCount);
    for (size_t t = 0; t < tableCount; t++) {
        firstEntry[t] = (uint16_t)order.size();
        for (size_t i = 0; i < layout->rows.size(); i++)
            if (layout->rows[i].table == t) order.push_back(i);
        rowsOfTable[t] = (uint16_t)(order.size() - firstEntry[t]);
    }
    size_t rowCount = order.size();
    bool compressed = (layout->dataFlag & kDataFlagCompressed) != 0;
    if (compressed && (layout->columnLengths.size() > 255 || layout->permutation.size() > 255)) {
        if (hasRoom(error, errorLength))
            snprintf(error, errorLength, "column-length table and permutation hold at most 255 entries");
        return false;
    }
    size_t extension = compressed ? compressExtensionSize(layout->columnLengths.size(),
                                                          layout->permutation.size())
                                  : 0;
    size_t tableDirectory = kDataHeaderSize + extension;  // relative to H
    size_t directoryEnd = tableDirectory + 4 * tableCount + 2 * rowCount;
    if (h + directoryEnd + kTailSize > block->size) {
        if (hasRoom(error, errorLength))
            snprintf(error, errorLength, "%zu rows: the directories alone exceed a %u-byte block",
                     rowCount, block->size);
        return false;
    }

    putCacheHeader(block, &layout->cache);
    putU8(block, kTransactionTypeOffset, kTransactionTable);
    putU32(block, kObjectIdOffset, layout->objectId);
    putU32(block, kCleanScnBaseOffset, layout->cleanScnBase);
    putU16(block, kCleanScnWrapOffset, layout->cleanScnWrap);
    putU16(block, kItlCountOffset, (uint16_t)itc);
    putU8(block, kHeaderFlagOffset, layout->headerFlag);
    for (size_t i = 0; i < itc; i++) {
        const ItlEntry &itl = layout->itl[i];
        uint32_t at = kItlOffset + kItlSize * (uint32_t)i;
        putU16(block, at + 0, itl.xidUsn);
        putU16(block, at + 2, itl.xidSlot);
        putU32(block, at + 4, itl.xidWrap);
        putU32(block, at + 8, itl.ubaRdba);
        putU16(block, at + 12, itl.ubaSequence);
        putU8(block, at + 14, itl.ubaRecord);
        putU16(block, at + 16, (uint16_t)(((itl.flag & 0xF) << 12) | (itl.lockCount & 0xFFF)));
        putU16(block, at + 18, itl.fsc);
        putU32(block, at + 20, itl.scnBase);
    }

    // Rows fill the block from the tail towards the directories, the first
    // directory entry nearest the end, as inserts into a fresh block do.
    uint32_t end = block->size - kTailSize;
    uint32_t lowest = end;
    uint16_t firstFree = 0xFFFF;
    std::vector<uint8_t> bytes;
    uint32_t directory = h + (uint32_t)(tableDirectory + 4 * tableCount);
    for (size_t e = 0; e < rowCount; e++) {
        const RowPiece &row = layout->rows[order[e]];
        if (row.freeEntry) {
            if (firstFree == 0xFFFF) firstFree = (uint16_t)e;
            putU16(block, directory + 2 * (uint32_t)e, 0xFFFF);
            continue;
        }
        encodeRow(&row, block->order, &bytes);
        if (bytes.size() > lowest || lowest - bytes.size() < h + directoryEnd) {
            if (hasRoom(error, errorLength))
                snprintf(error, errorLength, "row %zu does not fit: %zu bytes left", order[e],
                         (size_t)(lowest - (h + directoryEnd)));
            return false;
        }
        lowest -= (uint32_t)bytes.size();
        putBytes(block, lowest, bytes.data(), (uint32_t)bytes.size());
        putU16(block, directory + 2 * (uint32_t)e, (uint16_t)(lowest - h));
    }

    uint16_t freeBegin = (uint16_t)directoryEnd;
    uint16_t freeEnd = (uint16_t)(lowest - h);
    putU8(block, h + kDataFlag, layout->dataFlag);
    putU8(block, h + kTableCount, (uint8_t)tableCount);
    putU16(block, h + kRowCount, (uint16_t)rowCount);
    putU16(block, h + kFirstFree, firstFree);
    putU16(block, h + kFreeBegin, freeBegin);
    putU16(block, h + kFreeEnd, freeEnd);
    putU16(block, h + kAvailable, (uint16_t)(freeEnd - freeBegin));
    putU16(block, h + kTotalFree, (uint16_t)(freeEnd - freeBegin));
    for (size_t t = 0; t < tableCount; t++) {
        putU16(block, h + (uint32_t)tableDirectory + 4 * (uint32_t)t, firstEntry[t]);
        putU16(block, h + (uint32_t)tableDirectory + 4 * (uint32_t)t + 2, rowsOfTable[t]);
    }
    if (compressed) {
        // H+14 u16 0, H+16 u16 symbol threshold, H+18 u8 0, H+19 u8 n,
        // H+20 u8 p, H+21 u8 0, H+22 n x u16 lengths, p permutation bytes.
        putU16(block, h + kCompressThreshold, layout->symbolThreshold);
        putU8(block, h + kCompressLengthCount, (uint8_t)layout->columnLengths.size());
        putU8(block, h + kCompressPermutationCount, (uint8_t)layout->permutation.size());
        uint32_t at = h + kCompressLengths;
        for (uint16_t length : layout->columnLengths) {
            putU16(block, at, length);
            at += 2;
        }
        if (!layout->permutation.empty())
            putBytes(block, at, layout->permutation.data(), (uint32_t)layout->permutation.size());
    }
    return true;
}

// Oracle NUMBER: an exponent byte and base-100 digits.  Positive values
// store the exponent as 0xC1 + e and each digit plus one; negative values
// store 0x3E - e, each digit as 101 - d, and a 0x66 terminator.  Trailing
// zero digits are not stored; zero is the single byte 0x80.
std::vector<uint8_t> encodeNumber(long long value) {
    std::vector<uint8_t> out;
    if (value == 0) {
        out.push_back(0x80);
        return out;
    }
    bool negative = value < 0;
    unsigned long long magnitude =
        negative ? 0ULL - (unsigned long long)value : (unsigned long long)value;
    uint8_t digits[16];
    int count = 0;
    while (magnitude > 0) {
        digits[count++] = (uint8_t)(magnitude % 100);
        magnitude /= 100;
    }
    int exponent = count - 1;
    int low = 0;  // digits[] is least significant first
    while (low < count && digits[low] == 0) low++;
    out.push_back(negative ? (uint8_t)(0x3E - exponent) : (uint8_t)(0xC1 + exponent));
    for (int i = count - 1; i >= low; i--)
        out.push_back(negative ? (uint8_t)(101 - digits[i]) : (uint8_t)(digits[i] + 1));
    if (negative) out.push_back(0x66);
    return out;
}

}  // namespace forge
