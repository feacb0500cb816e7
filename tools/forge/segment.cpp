// Segment headers (free-list managed, type 16; automatic, type 35), extent
// map blocks (types 18 and 36), and a table's rows laid over a segment.
#include "forge/forge.h"
#include "forge/forge_undo_index.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace forge {

// Segment header fields shared by types 16 and 35 (all u32).
static const uint32_t kSegExtentCount = 36;
static const uint32_t kSegBlockCount = 40;
static const uint32_t kSegHwmExtent = 48;
static const uint32_t kSegHwmBlocks = 52;
static const uint32_t kSegHwmExtentSize = 56;
static const uint32_t kSegHwmRdba = 60;
static const uint32_t kSegLastMap = 64;
static const uint32_t kSegFreeListBlocks = 72;
static const uint32_t kSegUsedBlocks = 76;
static const uint32_t kSegMapFlag = 104;

// Map fields by block type: entry count, next map, data object id, entries.
struct MapPlace {
    uint32_t count, next, objectId, entries;
};

static bool mapPlace(uint8_t type, MapPlace *out) {
    switch (type) {
    case kTypeSegmentHeader: *out = {92, 96, 100, 108}; return true;
    case kTypeAssmSegmentHeader: *out = {264, 268, 272, 280}; return true;
    case kTypeExtentMap: *out = {20, 24, 28, 36}; return true;
    case kTypeAssmExtentMap: *out = {20, 24, 0, 36}; return true;  // no object id
    }
    return false;
}

static bool segmentError(char *error, size_t errorLength, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

static bool segmentError(char *error, size_t errorLength, const char *format, ...) {
    if (error == nullptr || errorLength == 0) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(error, errorLength, format, args);
    va_end(args);
    return false;
}

uint32_t extentListOffset(uint8_t type) {
    MapPlace place;
    return mapPlace(type, &place) ? place.entries : 0;
}

uint32_t extentMapCapacity(uint8_t type, uint32_t blockSize) {
    uint32_t first = extentListOffset(type);
    if (first == 0 || blockSize < first + 4) return 0;
    return (blockSize - 4 - first) / 8;  // the last 4 bytes are the tail
}

void initSegmentHeaderLayout(SegmentHeaderLayout *layout, uint8_t type, uint32_t rdba, uint32_t objectId) {
    initCacheHeader(&layout->cache, type, rdba);
    layout->objectId = objectId;
    layout->extentCount = 0;
    layout->blockCount = 0;
    layout->hwmExtent = layout->hwmBlocks = layout->hwmExtentSize = layout->hwmRdba = 0;
    layout->lastMapRdba = 0;
    layout->freeListBlocks = layout->usedBlocks = 0;
    layout->mapFlag = 0;
    layout->nextMapRdba = 0;
    layout->extents.clear();
}

void initExtentMapLayout(ExtentMapLayout *layout, uint8_t type, uint32_t rdba, uint32_t objectId) {
    initCacheHeader(&layout->cache, type, rdba);
    layout->objectId = objectId;
    layout->nextMapRdba = 0;
    layout->extents.clear();
}

static bool putExtentList(Block *block, uint8_t type, uint32_t objectId, uint32_t nextMap,
                          const std::vector<SegmentExtent> &extents, char *error, size_t errorLength) {
    MapPlace place;
    if (!mapPlace(type, &place)) return segmentError(error, errorLength, "block type %u holds no extent map", type);
    uint32_t capacity = extentMapCapacity(type, block->size);
    if (extents.size() > capacity)
        return segmentError(error, errorLength, "%zu extents; a type %u block of %u bytes holds %u",
                            extents.size(), type, block->size, capacity);
    putU32(block, place.count, (uint32_t)extents.size());
    putU32(block, place.next, nextMap);
    if (place.objectId != 0) putU32(block, place.objectId, objectId);
    for (size_t i = 0; i < extents.size(); i++) {
        putU32(block, place.entries + 8 * (uint32_t)i, extents[i].rdba);
        putU32(block, place.entries + 8 * (uint32_t)i + 4, extents[i].blocks);
    }
    return true;
}

bool putSegmentHeader(Block *block, const SegmentHeaderLayout *layout, char *error, size_t errorLength) {
    uint8_t type = layout->cache.type;
    if (type != kTypeSegmentHeader && type != kTypeAssmSegmentHeader)
        return segmentError(error, errorLength, "a segment header is type 16 or 35, not %u", type);
    putCacheHeader(block, &layout->cache);
    putU32(block, kSegExtentCount, layout->extentCount);
    putU32(block, kSegBlockCount, layout->blockCount);
    putU32(block, kSegHwmExtent, layout->hwmExtent);
    putU32(block, kSegHwmBlocks, layout->hwmBlocks);
    putU32(block, kSegHwmExtentSize, layout->hwmExtentSize);
    putU32(block, kSegHwmRdba, layout->hwmRdba);
    putU32(block, kSegLastMap, layout->lastMapRdba);
    putU32(block, kSegFreeListBlocks, layout->freeListBlocks);
    putU32(block, kSegUsedBlocks, layout->usedBlocks);
    if (type == kTypeSegmentHeader) putU32(block, kSegMapFlag, layout->mapFlag);
    return putExtentList(block, type, layout->objectId, layout->nextMapRdba, layout->extents, error,
                         errorLength);
}

bool putExtentMapBlock(Block *block, const ExtentMapLayout *layout, char *error, size_t errorLength) {
    uint8_t type = layout->cache.type;
    if (type != kTypeExtentMap && type != kTypeAssmExtentMap)
        return segmentError(error, errorLength, "an extent map block is type 18 or 36, not %u", type);
    putCacheHeader(block, &layout->cache);
    return putExtentList(block, type, layout->objectId, layout->nextMapRdba, layout->extents, error,
                         errorLength);
}

// ---------------------------------------------------------------------------
// A table laid over a segment
// ---------------------------------------------------------------------------
void initSegmentLayout(SegmentLayout *layout, uint8_t headerType, uint32_t objectId) {
    layout->headerType = headerType;
    layout->objectId = objectId;
    layout->extents.clear();
    layout->headerMapEntries = 0;
    layout->mapBlockEntries = 0;
    layout->itlCount = 2;
    layout->headerFlag = kDataFlagExtended;
    layout->scnBase = 0x1000;
    layout->rowsPerBlock = 0;
    layout->itl.clear();
}

void initTableRow(TableRow *row) {
    row->values.clear();
    row->lock = 0;
    row->deleted = false;
    row->migrated = false;
    row->cuts.clear();
}

namespace {

enum SlotRole { kRoleData, kRoleHeader, kRoleMap, kRoleBitmap1, kRoleBitmap2 };

struct SegmentSlot {
    size_t file;
    uint32_t blockNo;
    uint32_t rdba;
    size_t extent;
    SlotRole role;
};

struct DataSlot {
    size_t segmentSlot;
    DataBlockLayout layout;
};

struct Placement {
    const DatafileLayout *const *files;
    const SegmentLayout *segment;
    std::vector<SegmentSlot> slots;
    std::vector<DataSlot> data;   // data blocks in use, in segment order
    size_t nextSlot;              // next segment slot to try for a data block
    uint32_t blockSize;
    ByteOrder order;
    uint16_t tableCount;          // table directory entries of every data block (0: as the rows need)
    uint8_t mapType;              // 18 or 36
    uint32_t mapCapacity;         // extents listed by one extent map block
    std::vector<size_t> mapStarts;  // extents whose first block is an extent map block
    uint32_t headerCapacity;      // extents listed by the segment header
    uint32_t totalBlocks;
};

// Bytes a block can still take for one more row piece (its directory entry
// included), given the rows it already holds.
size_t roomLeft(const Placement *p, const DataBlockLayout *layout) {
    size_t h = dataHeaderOffset((uint32_t)layout->itl.size(), layout->headerFlag);
    size_t tables = layout->tableCount > 0 ? layout->tableCount : 1;
    size_t used = h + 14 + 4 * tables + 2 * (layout->rows.size() + 1) + 4;
    for (const RowPiece &row : layout->rows) used += rowPieceSize(&row);
    return used >= p->blockSize ? 0 : p->blockSize - used;
}

size_t emptyBlockRoom(const Placement *p) {
    size_t itc = p->segment->itl.empty() ? p->segment->itlCount : p->segment->itl.size();
    size_t h = dataHeaderOffset((uint32_t)itc, p->segment->headerFlag);
    size_t tables = p->tableCount > 0 ? p->tableCount : 1;
    return p->blockSize - (h + 14 + 4 * tables + 2 + 4);
}

// Opens the next data block of the segment; false when none is left.
bool openDataBlock(Placement *p) {
    while (p->nextSlot < p->slots.size() && p->slots[p->nextSlot].role != kRoleData) p->nextSlot++;
    if (p->nextSlot >= p->slots.size()) return false;
    DataSlot d;
    d.segmentSlot = p->nextSlot++;
    initDataBlockLayout(&d.layout, p->slots[d.segmentSlot].rdba, p->segment->objectId);
    d.layout.headerFlag = p->segment->headerFlag;
    d.layout.tableCount = p->tableCount;
    d.layout.cache.scnBase = p->segment->scnBase;
    if (!p->segment->itl.empty()) {
        d.layout.itl = p->segment->itl;
    } else {
        ItlEntry empty;
        initItlEntry(&empty);
        d.layout.itl.assign(p->segment->itlCount, empty);
    }
    p->data.push_back(d);
    return true;
}

bool blockFull(const Placement *p, const DataBlockLayout *layout) {
    return p->segment->rowsPerBlock != 0 && layout->rows.size() >= p->segment->rowsPerBlock;
}

// Puts a piece in the current block, or in the next one when it does not
// fit (or `fresh` asks for a new block).  Returns the data block index and
// slot.
bool placePiece(Placement *p, const RowPiece &piece, bool fresh, size_t *dataIndex, uint16_t *slot) {
    size_t need = rowPieceSize(&piece);
    if (p->data.empty() || fresh || blockFull(p, &p->data.back().layout) ||
        roomLeft(p, &p->data.back().layout) < need) {
        if (!p->data.empty() && p->data.back().layout.rows.empty()) {
            // An empty block that is still too small: the piece never fits.
            if (roomLeft(p, &p->data.back().layout) < need) return false;
        } else if (!openDataBlock(p)) {
            return false;
        }
        if (roomLeft(p, &p->data.back().layout) < need) return false;
    }
    *dataIndex = p->data.size() - 1;
    *slot = (uint16_t)p->data.back().layout.rows.size();
    p->data.back().layout.rows.push_back(piece);
    return true;
}

size_t lengthBytes(size_t length) { return length > 250 ? 3 : 1; }

// Cuts for a row too long for one block or with more than 255 columns.  A
// row of more than 255 columns is cut as Oracle cuts it: pieces of 255
// columns counted from its end, the head piece taking what is left over.
// Such a piece may share a block with the one before (`fresh` false).  A
// piece still too long for an empty block is cut again by size, a value
// split where it must be, and the rest starts a fresh block (`fresh` true).
struct AutomaticCuts {
    std::vector<RowCut> cuts;
    std::vector<bool> fresh;  // per cut: the piece after it starts a new block
};

AutomaticCuts automaticCuts(const Placement *p, const std::vector<ColumnValue> &columns)
{
    AutomaticCuts out;
    size_t capacity = emptyBlockRoom(p) - 3 - 6;
    size_t used = 0;
    size_t stored = columns.size();
    while (stored > 0 && columns[stored - 1].isNull) stored--;
    size_t headColumns = stored % 255 == 0 ? 255 : stored % 255;
    for (size_t c = 0; c < stored; c++) {
        if (c >= headColumns && (c - headColumns) % 255 == 0) {
            RowCut cut = {(uint16_t)c, 0};
            out.cuts.push_back(cut);
            out.fresh.push_back(false);
            used = 0;
        }
        size_t length = columns[c].isNull ? 0 : columns[c].bytes.size();
        size_t offset = 0;
        for (;;) {
            size_t rest = length - offset;
            size_t cost = columns[c].isNull ? 1 : lengthBytes(rest) + rest;
            if (used + cost <= capacity) {
                used += cost;
                break;
            }
            size_t room = capacity - used;
            if (!columns[c].isNull && room >= 4 && rest > 1) {
                // Split: this piece ends with part of the value (N), the next
                // starts with the rest (P).
                size_t take = room - 3 < rest - 1 ? room - 3 : rest - 1;
                offset += take;
                RowCut cut = {(uint16_t)c, (uint32_t)offset};
                out.cuts.push_back(cut);
            } else {
                RowCut cut = {(uint16_t)c, 0};
                out.cuts.push_back(cut);
            }
            out.fresh.push_back(true);
            used = 0;
        }
    }
    return out;
}

// Every block of the segment in extent order, with the header, bitmap and
// extent map blocks marked.
bool planSegment(Placement *pp, const DatafileLayout *const *files, size_t fileCount,
                 const SegmentLayout *layout, char *error, size_t errorLength) {
    Placement &p = *pp;
    uint8_t headerType = layout->headerType;
    if (headerType != kTypeSegmentHeader && headerType != kTypeAssmSegmentHeader)
        return segmentError(error, errorLength, "a segment header is type 16 or 35, not %u", headerType);
    if (layout->extents.empty()) return segmentError(error, errorLength, "a segment needs an extent");
    p.files = files;
    p.segment = layout;
    p.nextSlot = 0;
    p.blockSize = files[layout->extents[0].file]->blockSize;
    p.order = files[layout->extents[0].file]->order;

    uint32_t headerCapacity = extentMapCapacity(headerType, p.blockSize);
    if (layout->headerMapEntries != 0 && layout->headerMapEntries < headerCapacity)
        headerCapacity = layout->headerMapEntries;
    uint8_t mapType = headerType == kTypeSegmentHeader ? kTypeExtentMap : kTypeAssmExtentMap;
    uint32_t mapCapacity = extentMapCapacity(mapType, p.blockSize);
    if (layout->mapBlockEntries != 0 && layout->mapBlockEntries < mapCapacity)
        mapCapacity = layout->mapBlockEntries;
    std::vector<size_t> mapStarts;
    for (size_t e = headerCapacity; e < layout->extents.size(); e += mapCapacity) mapStarts.push_back(e);

    uint32_t totalBlocks = 0;
    for (size_t e = 0; e < layout->extents.size(); e++) {
        const ExtentPlace &x = layout->extents[e];
        if (x.file >= fileCount) return segmentError(error, errorLength, "extent %zu names file %zu of %zu", e, x.file, fileCount);
        const DatafileLayout *f = files[x.file];
        if (f->blockSize != p.blockSize || f->order != p.order)
            return segmentError(error, errorLength, "extent %zu: every file of a segment has the same block size and byte order", e);
        if (x.blocks == 0 || x.firstBlock < 2 || x.firstBlock + (uint64_t)x.blocks > f->blockCount)
            return segmentError(error, errorLength, "extent %zu (blocks %u..%u) is not inside blocks 2..%u of %s",
                                e, x.firstBlock, x.firstBlock + x.blocks - 1, f->blockCount - 1, f->path);
        size_t minimum = e == 0 ? (headerType == kTypeAssmSegmentHeader ? 3 : 1) : 1;
        if (x.blocks < minimum) return segmentError(error, errorLength, "extent 0 of an ASSM segment needs 3 blocks");
        for (uint32_t b = 0; b < x.blocks; b++) {
            SegmentSlot s;
            s.file = x.file;
            s.blockNo = x.firstBlock + b;
            s.rdba = blockRdba(f, s.blockNo);
            s.extent = e;
            s.role = kRoleData;
            if (e == 0 && headerType == kTypeSegmentHeader && b == 0) s.role = kRoleHeader;
            if (e == 0 && headerType == kTypeAssmSegmentHeader)
                s.role = b == 0 ? kRoleBitmap1 : b == 1 ? kRoleBitmap2 : b == 2 ? kRoleHeader : kRoleData;
            if (b == 0 && e > 0)
                for (size_t m : mapStarts)
                    if (m == e) s.role = kRoleMap;
            p.slots.push_back(s);
        }
        totalBlocks += x.blocks;
    }
    p.mapType = mapType;
    p.headerCapacity = headerCapacity;
    p.mapCapacity = mapCapacity;
    p.mapStarts = mapStarts;
    p.totalBlocks = totalBlocks;
    return true;
}

// Lock counts follow the rows each transaction holds in the block.
bool setLockCounts(Placement *pp, char *error, size_t errorLength) {
    Placement &p = *pp;
    for (DataSlot &d : p.data) {
        for (size_t i = 0; i < d.layout.itl.size(); i++) {
            uint16_t locked = 0;
            for (const RowPiece &row : d.layout.rows)
                if (row.lock == i + 1) locked++;
            if (locked > 0) d.layout.itl[i].lockCount = locked;
        }
        for (const RowPiece &row : d.layout.rows)
            if (row.lock > d.layout.itl.size())
                return segmentError(error, errorLength, "a row locked by ITL %u of a block with %zu entries",
                                    row.lock, d.layout.itl.size());
    }
    return true;
}

// The header, extent map, bitmap and data blocks, sealed.
bool emitSegment(Placement *pp, const DatafileLayout *const *files, const SegmentLayout *layout,
                 std::vector<SegmentBlock> *blocks, char *error, size_t errorLength) {
    Placement &p = *pp;
    uint8_t headerType = layout->headerType;
    uint8_t mapType = p.mapType;
    uint32_t mapCapacity = p.mapCapacity;
    uint32_t headerCapacity = p.headerCapacity;
    const std::vector<size_t> &mapStarts = p.mapStarts;
    uint32_t totalBlocks = p.totalBlocks;

    // The high-water mark: the first block after the last one used.
    size_t lastUsed = 0;
    for (size_t s = 0; s < p.slots.size(); s++)
        if (p.slots[s].role != kRoleData) lastUsed = s > lastUsed ? s : lastUsed;
    if (!p.data.empty()) lastUsed = p.data.back().segmentSlot > lastUsed ? p.data.back().segmentSlot : lastUsed;
    size_t hwmSlot = lastUsed + 1;
    SegmentHeaderLayout header;
    size_t headerSlot = 0;
    while (p.slots[headerSlot].role != kRoleHeader) headerSlot++;
    initSegmentHeaderLayout(&header, headerType, p.slots[headerSlot].rdba, layout->objectId);
    header.cache.scnBase = layout->scnBase;
    header.extentCount = (uint32_t)layout->extents.size();
    header.blockCount = totalBlocks;
    if (hwmSlot < p.slots.size()) {
        const SegmentSlot &h = p.slots[hwmSlot];
        header.hwmExtent = (uint32_t)h.extent;
        header.hwmBlocks = h.blockNo - layout->extents[h.extent].firstBlock;
        header.hwmExtentSize = layout->extents[h.extent].blocks;
        header.hwmRdba = h.rdba;
    } else {
        const ExtentPlace &x = layout->extents.back();
        header.hwmExtent = (uint32_t)layout->extents.size() - 1;
        header.hwmBlocks = x.blocks;
        header.hwmExtentSize = x.blocks;
        header.hwmRdba = blockRdba(files[x.file], x.firstBlock + x.blocks);
    }
    header.usedBlocks = (uint32_t)hwmSlot;
    auto extentEntry = [&](size_t e) {
        const ExtentPlace &x = layout->extents[e];
        SegmentExtent entry = {blockRdba(files[x.file], x.firstBlock), x.blocks};
        return entry;
    };
    auto mapRdba = [&](size_t m) {
        const ExtentPlace &x = layout->extents[mapStarts[m]];
        return blockRdba(files[x.file], x.firstBlock);
    };
    for (size_t e = 0; e < layout->extents.size() && e < headerCapacity; e++) header.extents.push_back(extentEntry(e));
    if (!mapStarts.empty()) {
        header.nextMapRdba = mapRdba(0);
        header.lastMapRdba = mapRdba(mapStarts.size() - 1);
    }

    blocks->clear();
    for (const SegmentSlot &s : p.slots) {
        SegmentBlock out;
        out.file = s.file;
        out.blockNo = s.blockNo;
        initBlock(&out.block, p.blockSize, p.order);
        uint8_t format = files[s.file]->header.cache.format;
        if (s.role == kRoleHeader) {
            header.cache.format = format;
            if (!putSegmentHeader(&out.block, &header, error, errorLength)) return false;
        } else if (s.role == kRoleMap) {
            size_t m = 0;
            while (mapStarts[m] != s.extent) m++;
            ExtentMapLayout map;
            initExtentMapLayout(&map, mapType, s.rdba, layout->objectId);
            map.cache.format = format;
            map.cache.scnBase = layout->scnBase;
            for (size_t e = mapStarts[m]; e < layout->extents.size() && e < mapStarts[m] + mapCapacity; e++)
                map.extents.push_back(extentEntry(e));
            if (m + 1 < mapStarts.size()) map.nextMapRdba = mapRdba(m + 1);
            if (!putExtentMapBlock(&out.block, &map, error, errorLength)) return false;
        } else if (s.role == kRoleBitmap1 || s.role == kRoleBitmap2) {
            // Space-management bitmaps: only their cache header is modelled.
            CacheHeader cache;
            initCacheHeader(&cache, s.role == kRoleBitmap1 ? kTypeFirstLevelBitmap : kTypeSecondLevelBitmap, s.rdba);
            cache.format = format;
            cache.scnBase = layout->scnBase;
            putCacheHeader(&out.block, &cache);
        } else {
            continue;
        }
        sealBlock(&out.block);
        blocks->push_back(out);
    }
    for (DataSlot &d : p.data) {
        const SegmentSlot &s = p.slots[d.segmentSlot];
        SegmentBlock out;
        out.file = s.file;
        out.blockNo = s.blockNo;
        initBlock(&out.block, p.blockSize, p.order);
        d.layout.cache.format = files[s.file]->header.cache.format;
        if (!putDataBlock(&out.block, &d.layout, error, errorLength)) return false;
        sealBlock(&out.block);
        blocks->push_back(out);
    }
    return true;
}

}  // namespace

bool laySegment(const DatafileLayout *const *files, size_t fileCount, const SegmentLayout *layout,
                const std::vector<TableRow> &rows, std::vector<SegmentBlock> *blocks,
                ManifestTable *manifest, char *error, size_t errorLength) {
    Placement p;
    p.tableCount = 0;
    if (!planSegment(&p, files, fileCount, layout, error, errorLength)) return false;

    // Rows, in order.
    for (size_t r = 0; r < rows.size(); r++) {
        const TableRow &row = rows[r];
        std::vector<ColumnValue> columns;
        for (const FieldValue &v : row.values) {
            ColumnValue c;
            c.isNull = v.isNull;
            if (!v.isNull) c.bytes = v.bytes;
            columns.push_back(c);
        }
        size_t headData = 0;
        uint16_t headSlot = 0;
        std::vector<uint32_t> pieceRdbas;
        if (row.migrated) {
            RowPiece head, body;
            makeMigratedRow(columns, row.lock, 0, 0, 0, 0, &head, &body);
            if (row.deleted) head.flag |= kRowDeleted;
            size_t bodyData = 0;
            uint16_t bodySlot = 0;
            if (!placePiece(&p, head, false, &headData, &headSlot) ||
                !placePiece(&p, body, true, &bodyData, &bodySlot))
                return segmentError(error, errorLength, "row %zu: the extents hold too few blocks", r);
            RowPiece &placedHead = p.data[headData].layout.rows[headSlot];
            RowPiece &placedBody = p.data[bodyData].layout.rows[bodySlot];
            placedHead.nextRdba = p.data[bodyData].layout.cache.rdba;
            placedHead.nextSlot = bodySlot;
            placedBody.headRdba = p.data[headData].layout.cache.rdba;
            placedBody.headSlot = headSlot;
            pieceRdbas = {p.data[headData].layout.cache.rdba, p.data[bodyData].layout.cache.rdba};
        } else {
            std::vector<RowPiece> pieces;
            std::vector<RowCut> cuts = row.cuts;
            // Given cuts start every piece in a fresh block.
            std::vector<bool> fresh(cuts.size(), true);
            if (cuts.empty()) {
                RowPiece one0;
                initRowPiece(&one0);
                size_t stored = columns.size();
                while (stored > 0 && columns[stored - 1].isNull) stored--;
                one0.columns.assign(columns.begin(), columns.begin() + (long)stored);
                std::vector<RowPiece> one(1, one0);
                if (rowPieceSize(&one[0]) > emptyBlockRoom(&p) || one[0].columns.size() > 255) {
                    AutomaticCuts automatic = automaticCuts(&p, columns);
                    cuts = automatic.cuts;
                    fresh = automatic.fresh;
                }
            }
            if (!splitRow(columns, cuts, row.lock, &pieces, error, errorLength)) return false;
            std::vector<uint32_t> rdbas(pieces.size(), 0);
            std::vector<uint16_t> slots(pieces.size(), 0);
            linkRowPieces(&pieces, rdbas.data(), slots.data());  // sizes now count the addresses
            if (row.deleted) pieces[0].flag |= kRowDeleted;
            std::vector<size_t> where(pieces.size());
            for (size_t i = 0; i < pieces.size(); i++) {
                if (!placePiece(&p, pieces[i], i > 0 && fresh[i - 1], &where[i], &slots[i]))
                    return segmentError(error, errorLength,
                                        "row %zu piece %zu: no block left that holds it (%zu bytes)", r,
                                        i, rowPieceSize(&pieces[i]));
                rdbas[i] = p.data[where[i]].layout.cache.rdba;
            }
            for (size_t i = 0; i + 1 < pieces.size(); i++) {
                RowPiece &placed = p.data[where[i]].layout.rows[slots[i]];
                placed.nextRdba = rdbas[i + 1];
                placed.nextSlot = slots[i + 1];
            }
            headData = where[0];
            headSlot = slots[0];
            if (pieces.size() > 1) pieceRdbas = rdbas;
        }
        if (manifest != nullptr) {
            ManifestRow m;
            m.rdba = p.data[headData].layout.cache.rdba;
            m.table = 0;
            m.slot = headSlot;
            m.deleted = row.deleted;
            m.lock = row.lock;
            m.values = row.values;
            m.pieceRdbas = pieceRdbas;
            manifest->rows.push_back(m);
        }
    }

    if (!setLockCounts(&p, error, errorLength)) return false;
    return emitSegment(&p, files, layout, blocks, error, errorLength);
}

bool layIndexOrganizedSegment(const DatafileLayout *const *files, size_t fileCount, const SegmentLayout *layout,
                              uint8_t keyColumns, const std::vector<TableRow> &rows,
                              std::vector<SegmentBlock> *blocks, ManifestTable *manifest, char *error,
                              size_t errorLength) {
    if (!laySegment(files, fileCount, layout, std::vector<TableRow>(), blocks, nullptr, error, errorLength))
        return false;
    size_t file = 0;
    uint32_t headerNo = 0;
    segmentHeaderPlace(layout, &file, &headerNo);
    const ExtentPlace &first = layout->extents[0];
    uint32_t leafNo = headerNo + 1;
    if (leafNo >= first.firstBlock + first.blocks)
        return segmentError(error, errorLength, "an index-organized segment needs a block after its header");
    IndexBlockLayout leaf;
    initIndexBlockLayout(&leaf, blockRdba(files[file], leafNo), layout->objectId, keyColumns);
    leaf.opcode = kIndexOpcodeIot;
    leaf.cache.scnBase = layout->scnBase;
    leaf.cache.format = files[file]->header.cache.format;
    for (const TableRow &row : rows) {
        IndexEntry entry;
        initIndexEntry(&entry);
        std::vector<ColumnValue> columns;
        for (const FieldValue &v : row.values) {
            ColumnValue c;
            c.isNull = v.isNull;
            if (!v.isNull) c.bytes = v.bytes;
            columns.push_back(c);
        }
        size_t keys = keyColumns < columns.size() ? keyColumns : columns.size();
        entry.keys.assign(columns.begin(), columns.begin() + (long)keys);
        size_t stored = columns.size();
        while (stored > keys && columns[stored - 1].isNull) stored--;
        entry.hasData = true;
        entry.data.assign(columns.begin() + (long)keys, columns.begin() + (long)stored);
        if (row.deleted) entry.flag |= kIndexEntryDeleted;
        leaf.entries.push_back(entry);
        if (manifest != nullptr) {
            ManifestRow m;
            m.rdba = leaf.cache.rdba;
            m.table = 0;
            m.slot = (uint16_t)(leaf.entries.size() - 1);
            m.deleted = row.deleted;
            m.lock = 0;
            m.values = row.values;
            manifest->rows.push_back(m);
        }
    }
    SegmentBlock out;
    out.file = file;
    out.blockNo = leafNo;
    initBlock(&out.block, files[file]->blockSize, files[file]->order);
    if (!putIndexBlock(&out.block, &leaf, error, errorLength)) return false;
    sealBlock(&out.block);
    for (SegmentBlock &b : *blocks)
        if (b.file == file && b.blockNo == leafNo) {
            b = out;
            return true;
        }
    blocks->push_back(out);
    return true;
}

bool segmentHeaderPlace(const SegmentLayout *layout, size_t *file, uint32_t *blockNo) {
    if (layout->extents.empty()) return false;
    *file = layout->extents[0].file;
    *blockNo = layout->extents[0].firstBlock + (layout->headerType == kTypeAssmSegmentHeader ? 2 : 0);
    return true;
}

void initClusterKey(ClusterKey *key) {
    key->key.clear();
    key->members.clear();
}

namespace {

std::vector<ColumnValue> storedColumns(const std::vector<FieldValue> &values) {
    std::vector<ColumnValue> columns;
    for (const FieldValue &v : values) {
        ColumnValue c;
        c.isNull = v.isNull;
        if (!v.isNull) c.bytes = v.bytes;
        columns.push_back(c);
    }
    return columns;
}

uint16_t rowsOfTable(const DataBlockLayout *layout, uint16_t table) {
    uint16_t count = 0;
    for (const RowPiece &row : layout->rows)
        if (row.table == table) count++;
    return count;
}

// Where one piece of a key went: its data block and the key row's index
// among the block's rows (table 0 comes first in the row directory, so it
// is also the key's slot).
struct KeyPiece {
    size_t data;
    size_t row;
    uint16_t slot;
};

// Puts a key row into the current data block, opening one when asked.
bool placeKeyRow(Placement *p, const std::vector<ColumnValue> &key, bool deleted, bool fresh, KeyPiece *out)
{
    RowPiece row;
    makeClusterKeyRow(key, 0, 0, 0, &row);
    if (deleted)
        row.flag |= kRowDeleted;
    if (fresh || p->data.empty()) {
        if (p->data.empty() || !p->data.back().layout.rows.empty())
            if (!openDataBlock(p)) return false;
    }
    DataBlockLayout *layout = &p->data.back().layout;
    if (roomLeft(p, layout) < rowPieceSize(&row)) return false;
    out->data = p->data.size() - 1;
    out->slot = rowsOfTable(layout, 0);
    out->row = layout->rows.size();
    layout->rows.push_back(row);
    return true;
}

}  // namespace

bool layCluster(const DatafileLayout *const *files, size_t fileCount, const SegmentLayout *layout,
                uint16_t tableCount, const std::vector<ClusterKey> &keys, std::vector<SegmentBlock> *blocks,
                std::vector<ManifestTable> *tables, char *error, size_t errorLength) {
    if (tableCount < 2 || tableCount > 255)
        return segmentError(error, errorLength, "a cluster has 2 to 255 tables (table 0 holds the keys), not %u",
                            tableCount);
    Placement p;
    p.tableCount = tableCount;
    if (!planSegment(&p, files, fileCount, layout, error, errorLength)) return false;
    for (size_t k = 0; k < keys.size(); k++) {
        const ClusterKey &key = keys[k];
        std::vector<ColumnValue> keyColumns = storedColumns(key.key);
        std::vector<RowPiece> members;
        for (const ClusterMember &m : key.members) {
            if (m.table == 0 || m.table >= tableCount)
                return segmentError(error, errorLength, "key %zu: a member of table %u in a cluster of %u tables", k,
                                    m.table, tableCount);
            RowPiece row;
            makeClusterMemberRow(storedColumns(m.values), m.table, 0, &row);
            if (m.deleted)
                row.flag |= kRowDeleted;
            members.push_back(row);
        }
        // The whole key in the current block when it fits there, else in a
        // fresh block; a key with more members than a block holds goes on
        // in the next block under a copy of its key row.
        RowPiece keyRow;
        makeClusterKeyRow(keyColumns, 0, 0, 0, &keyRow);
        size_t group = rowPieceSize(&keyRow);
        for (const RowPiece &m : members) group += 2 + rowPieceSize(&m);
        bool fresh = p.data.empty() || roomLeft(&p, &p.data.back().layout) < group;
        std::vector<KeyPiece> pieces;
        KeyPiece piece;
        if (!placeKeyRow(&p, keyColumns, key.deleted, fresh, &piece))
            return segmentError(error, errorLength, "key %zu: the extents hold too few blocks", k);
        pieces.push_back(piece);
        for (size_t i = 0; i < members.size(); i++) {
            RowPiece row = members[i];
            if (roomLeft(&p, &p.data.back().layout) < rowPieceSize(&row)) {
                if (!placeKeyRow(&p, keyColumns, key.deleted, true, &piece))
                    return segmentError(error, errorLength, "key %zu: the extents hold too few blocks", k);
                pieces.push_back(piece);
                if (roomLeft(&p, &p.data.back().layout) < rowPieceSize(&row))
                    return segmentError(error, errorLength, "key %zu member %zu: a row of %zu bytes does not fit a block",
                                        k, i, rowPieceSize(&row));
            }
            DataBlockLayout *block = &p.data.back().layout;
            row.clusterKeySlot = (uint8_t)pieces.back().slot;
            if (pieces.back().slot > 255)
                return segmentError(error, errorLength, "key %zu: more than 256 keys in one block", k);
            if (key.members[i].overwritten) {
                // The space is another row's now: nothing of this one is left.
                row.raw.assign(rowPieceSize(&row), 0);
            } else if (tables != nullptr && row.table < tables->size()) {
                ManifestRow m;
                m.rdba = block->cache.rdba;
                m.table = row.table;
                m.slot = rowsOfTable(block, row.table);
                m.deleted = key.members[i].deleted;
                m.lock = 0;
                m.values = key.key;
                for (const FieldValue &v : key.members[i].values) m.values.push_back(v);
                (*tables)[row.table].rows.push_back(m);
            }
            block->rows.push_back(row);
        }
        // Member counts, and the key's chain through its blocks (a key held
        // in one block points at itself both ways).
        for (size_t i = 0; i < pieces.size(); i++) {
            const KeyPiece &next = pieces[(i + 1) % pieces.size()];
            const KeyPiece &previous = pieces[(i + pieces.size() - 1) % pieces.size()];
            DataBlockLayout *block = &p.data[pieces[i].data].layout;
            RowPiece &row = block->rows[pieces[i].row];
            uint16_t count = 0;
            for (const RowPiece &m : block->rows)
                if (m.hasClusterKeySlot && m.clusterKeySlot == pieces[i].slot) count++;
            row.clusterKey.rowCount = row.clusterKey.committedCount = count;
            row.clusterKey.nextRdba = p.data[next.data].layout.cache.rdba;
            row.clusterKey.nextSlot = next.slot;
            row.clusterKey.previousRdba = p.data[previous.data].layout.cache.rdba;
            row.clusterKey.previousSlot = previous.slot;
        }
    }
    if (!setLockCounts(&p, error, errorLength)) return false;
    return emitSegment(&p, files, layout, blocks, error, errorLength);
}

}  // namespace forge
