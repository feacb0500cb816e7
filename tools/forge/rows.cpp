// Rows that are more than one piece in one block: rows chained over several
// blocks, migrated rows, and the key and member rows of a cluster.
#include "forge/forge.h"

#include <cstdio>

namespace forge {

// Bytes [from, to) of a value, as a value of its own.  Built by the range
// constructor: assigning into an empty vector lets GCC 12 at -O3 see a copy
// to its null data pointer on a path that never runs, and warn.
static ColumnValue valueSlice(const ColumnValue &value, size_t from, size_t to) {
    return ColumnValue{false, std::vector<uint8_t>(value.bytes.begin() + (long)from, value.bytes.begin() + (long)to)};
}

static bool rowError(char *error, size_t errorLength, const char *message, size_t value) {
    if (error != nullptr && errorLength > 0) snprintf(error, errorLength, message, value);
    return false;
}

bool splitRow(const std::vector<ColumnValue> &columns, const std::vector<RowCut> &cuts, uint8_t lock,
              std::vector<RowPiece> *pieces, char *error, size_t errorLength) {
    pieces->clear();
    // Trailing NULL columns are not stored.
    size_t stored = columns.size();
    while (stored > 0 && columns[stored - 1].isNull) stored--;

    RowPiece piece;
    initRowPiece(&piece);
    piece.flag = kRowHead | kRowFirst;
    piece.lock = lock;
    size_t column = 0;
    uint32_t consumed = 0;  // bytes of `column` already in earlier pieces
    for (size_t c = 0; c <= cuts.size(); c++) {
        size_t endColumn = c < cuts.size() ? cuts[c].column : stored;
        uint32_t endOffset = c < cuts.size() ? cuts[c].offset : 0;
        if (endColumn > stored || (endColumn == stored && endOffset > 0))
            return rowError(error, errorLength, "cut %zu is past the stored columns", c);
        if (endColumn < column || (endColumn == column && endOffset <= consumed))
            return rowError(error, errorLength, "cut %zu does not follow the one before", c);
        if (endOffset > 0 && (columns[endColumn].isNull || endOffset >= columns[endColumn].bytes.size()))
            return rowError(error, errorLength, "cut %zu is not inside its column's value", c);
        for (; column < endColumn; column++) {
            const ColumnValue &value = columns[column];
            if (consumed == 0) {
                piece.columns.push_back(value);
            } else {
                piece.columns.push_back(valueSlice(value, consumed, value.bytes.size()));
            }
            consumed = 0;
        }
        if (endOffset > 0) {
            // The piece ends inside this column: the next one continues it.
            piece.columns.push_back(valueSlice(columns[endColumn], consumed, endOffset));
            piece.flag |= kRowNext;
            consumed = endOffset;
        }
        if (piece.columns.size() > 255)
            return rowError(error, errorLength, "piece %zu holds more than 255 columns", c);
        if (c == cuts.size()) piece.flag |= kRowLast;
        pieces->push_back(piece);
        initRowPiece(&piece);
        piece.flag = consumed > 0 ? kRowPrevious : 0;
        piece.lock = lock;
    }
    return true;
}

void linkRowPieces(std::vector<RowPiece> *pieces, const uint32_t *rdbas, const uint16_t *slots) {
    for (size_t i = 0; i + 1 < pieces->size(); i++) {
        RowPiece &piece = (*pieces)[i];
        piece.hasNext = true;
        piece.nextRdba = rdbas[i + 1];
        piece.nextSlot = slots[i + 1];
        piece.flag &= (uint8_t)~kRowLast;
    }
}

void makeMigratedRow(const std::vector<ColumnValue> &columns, uint8_t lock, uint32_t headRdba,
                     uint16_t headSlot, uint32_t bodyRdba, uint16_t bodySlot, RowPiece *head,
                     RowPiece *body) {
    initRowPiece(head);
    head->flag = kRowHead;
    head->lock = lock;
    head->hasNext = true;
    head->nextRdba = bodyRdba;
    head->nextSlot = bodySlot;

    initRowPiece(body);
    body->flag = kRowFirst | kRowLast;
    body->lock = lock;
    body->hasHeadAddress = true;
    body->headRdba = headRdba;
    body->headSlot = headSlot;
    size_t stored = columns.size();
    while (stored > 0 && columns[stored - 1].isNull) stored--;
    body->columns.assign(columns.begin(), columns.begin() + (long)stored);
}

void makeClusterKeyRow(const std::vector<ColumnValue> &keyColumns, uint16_t rowCount, uint32_t rdba,
                       uint16_t slot, RowPiece *row) {
    initRowPiece(row);
    row->flag = kRowClusterKey | kRowNormal;
    row->hasClusterKeyInfo = true;
    row->clusterKey.rowCount = rowCount;
    row->clusterKey.committedCount = rowCount;
    row->clusterKey.previousRdba = rdba;
    row->clusterKey.previousSlot = slot;
    row->clusterKey.nextRdba = rdba;
    row->clusterKey.nextSlot = slot;
    row->columns = keyColumns;
}

void makeClusterMemberRow(const std::vector<ColumnValue> &columns, uint16_t table, uint8_t keySlot,
                          RowPiece *row) {
    initRowPiece(row);
    row->flag = kRowClusterMember | kRowNormal;
    row->table = table;
    row->hasClusterKeySlot = true;
    row->clusterKeySlot = keySlot;
    size_t stored = columns.size();
    while (stored > 0 && columns[stored - 1].isNull) stored--;
    row->columns.assign(columns.begin(), columns.begin() + (long)stored);
}

}  // namespace forge
