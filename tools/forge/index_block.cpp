// Index blocks: leaf blocks with key-only entries or entries that carry the
// rest of an index-organized row, deleted entries, and branch blocks, laid
// out from their block layouts (see forge_undo_index.h for the fields).
#include "forge/forge_undo_index.h"

#include <cstdio>
#include <cstring>

namespace forge {

static const uint32_t kTransactionTypeOffset = 20;
static const uint32_t kObjectIdOffset = 24;
static const uint32_t kCleanScnBaseOffset = 28;
static const uint32_t kCleanScnWrapOffset = 32;
static const uint32_t kItlCountOffset = 36;
static const uint32_t kHeaderFlagOffset = 38;
static const uint32_t kTailSize = 4;

// Index header, relative to H.
static const uint32_t kLevel = 0;
static const uint32_t kColok = 1;
static const uint32_t kOpcode = 2;
static const uint32_t kKeyColumns = 3;
static const uint32_t kSdc = 4;
static const uint32_t kEntryCount = 8;
static const uint32_t kFreeBegin = 10;
static const uint32_t kFreeEnd = 12;
static const uint32_t kAvailable = 14;
static const uint32_t kLeafSpl = 16;
static const uint32_t kLeafDeleted = 18;
static const uint32_t kLeafNext = 20;
static const uint32_t kLeafPrevious = 24;
static const uint32_t kLeafDsz = 28;
static const uint32_t kLeafBlockSize = 32;
static const uint32_t kLeafDirectory = 36;
static const uint32_t kBranchLeftmost = 16;
static const uint32_t kBranchSno = 20;
static const uint32_t kBranchBlockSize = 24;
static const uint32_t kBranchDirectory = 28;

static const size_t kMaxShortLength = 250;
static const uint8_t kLongLength = 0xFE;
static const uint8_t kNullLength = 0xFF;
static const uint8_t kDefaultOpcode = 0x80;

static bool fail(char *error, size_t errorLength, const char *text) {
    if (error != nullptr && errorLength > 0) snprintf(error, errorLength, "%s", text);
    return false;
}

void initIndexEntry(IndexEntry *entry) {
    entry->flag = 0;
    entry->lock = 0;
    entry->keys.clear();
    entry->prefix.clear();
    entry->hasData = false;
    entry->dataFlag = kRowNormal;
    entry->dataLock = 0;
    entry->nextRdba = 0;
    entry->nextSlot = 0;
    entry->data.clear();
}

void initIndexBlockLayout(IndexBlockLayout *layout, uint32_t rdba, uint32_t objectId, uint8_t keyColumns) {
    initCacheHeader(&layout->cache, kTypeData, rdba);
    layout->objectId = objectId;
    layout->cleanScnBase = 0;
    layout->cleanScnWrap = 0;
    layout->headerFlag = kDataFlagExtended;
    ItlEntry empty;
    initItlEntry(&empty);
    layout->itl.assign(2, empty);
    layout->level = 0;
    layout->colok = 0;
    layout->opcode = kDefaultOpcode;
    layout->keyColumns = keyColumns;
    layout->sdc = 0;
    layout->lespl = 0;
    layout->nextLeaf = layout->previousLeaf = 0;
    layout->leftmostChild = layout->brsno = 0;
    layout->entries.clear();
    layout->branches.clear();
}

static void appendColumns(std::vector<uint8_t> *out, const std::vector<ColumnValue> &columns, ByteOrder order) {
    for (const ColumnValue &c : columns) {
        if (c.isNull) {
            out->push_back(kNullLength);
            continue;
        }
        if (c.bytes.size() > kMaxShortLength) {
            uint8_t length[2];
            storeU16(length, (uint16_t)c.bytes.size(), order);
            out->push_back(kLongLength);
            out->push_back(length[0]);
            out->push_back(length[1]);
        } else {
            out->push_back((uint8_t)c.bytes.size());
        }
        out->insert(out->end(), c.bytes.begin(), c.bytes.end());
    }
}

static std::vector<uint8_t> leafEntryBytes(const IndexEntry *entry, ByteOrder order) {
    std::vector<uint8_t> out;
    out.push_back((uint8_t)(entry->flag | (entry->hasData ? kIndexEntryHasData : 0)));
    out.push_back(entry->lock);
    out.insert(out.end(), entry->prefix.begin(), entry->prefix.end());
    appendColumns(&out, entry->keys, order);
    if (!entry->hasData) return out;
    out.push_back(entry->dataFlag);
    out.push_back(entry->dataLock);
    out.push_back((uint8_t)entry->data.size());
    if (!(entry->dataFlag & kRowLast)) {
        // Chaining addresses inside rows are big-endian on every platform.
        uint8_t address[6];
        storeU32(address, entry->nextRdba, kBigEndian);
        storeU16(address + 4, entry->nextSlot, kBigEndian);
        out.insert(out.end(), address, address + 6);
    }
    appendColumns(&out, entry->data, order);
    return out;
}

static std::vector<uint8_t> branchEntryBytes(const IndexBranchEntry *entry, ByteOrder order) {
    std::vector<uint8_t> out(4);
    storeU32(out.data(), entry->childRdba, order);
    appendColumns(&out, entry->keys, order);
    return out;
}

bool putIndexBlock(Block *block, const IndexBlockLayout *layout, char *error, size_t errorLength) {
    if (layout->itl.size() > 255) return fail(error, errorLength, "more than 255 ITL entries");
    uint32_t h = dataHeaderOffset((uint32_t)layout->itl.size(), layout->headerFlag);
    bool leaf = layout->level == 0;
    std::vector<std::vector<uint8_t>> rows;
    uint16_t deleted = 0;
    if (leaf) {
        for (const IndexEntry &e : layout->entries) {
            rows.push_back(leafEntryBytes(&e, block->order));
            if (e.flag & kIndexEntryDeleted) deleted++;
        }
    } else {
        for (const IndexBranchEntry &e : layout->branches) rows.push_back(branchEntryBytes(&e, block->order));
    }
    uint32_t directory = h + (leaf ? kLeafDirectory : kBranchDirectory);
    uint64_t directoryEnd = directory + 2ull * rows.size();
    uint32_t end = block->size - kTailSize;
    if (directoryEnd > end) return fail(error, errorLength, "index entries do not fit in the block");

    CacheHeader cache = layout->cache;
    cache.type = kTypeData;
    putCacheHeader(block, &cache);
    putU8(block, kTransactionTypeOffset, kTransactionIndex);
    putU32(block, kObjectIdOffset, layout->objectId);
    putU32(block, kCleanScnBaseOffset, layout->cleanScnBase);
    putU16(block, kCleanScnWrapOffset, layout->cleanScnWrap);
    putU16(block, kItlCountOffset, (uint16_t)layout->itl.size());
    putU8(block, kHeaderFlagOffset, layout->headerFlag);
    for (uint32_t i = 0; i < layout->itl.size(); i++) {
        const ItlEntry &e = layout->itl[i];
        uint32_t at = kItlOffset + kItlSize * i;
        putU16(block, at + 0, e.xidUsn);
        putU16(block, at + 2, e.xidSlot);
        putU32(block, at + 4, e.xidWrap);
        putU32(block, at + 8, e.ubaRdba);
        putU16(block, at + 12, e.ubaSequence);
        putU8(block, at + 14, e.ubaRecord);
        putU16(block, at + 16, (uint16_t)(((e.flag & 0x0F) << 12) | (e.lockCount & 0x0FFF)));
        putU16(block, at + 18, e.fsc);
        putU32(block, at + 20, e.scnBase);
    }

    // Entries are packed downwards from the tail in directory order.
    for (uint32_t i = 0; i < rows.size(); i++) {
        const std::vector<uint8_t> &row = rows[i];
        if (row.size() > end || end - row.size() < directoryEnd)
            return fail(error, errorLength, "index entries do not fit in the block");
        end -= (uint32_t)row.size();
        putBytes(block, end, row.data(), (uint32_t)row.size());
        putU16(block, directory + 2 * i, (uint16_t)(end - h));
    }

    uint32_t freeBegin = (uint32_t)directoryEnd - h;
    uint32_t freeEnd = end - h;
    putU8(block, h + kLevel, layout->level);
    putU8(block, h + kColok, layout->colok);
    putU8(block, h + kOpcode, layout->opcode);
    putU8(block, h + kKeyColumns, layout->keyColumns);
    putU32(block, h + kSdc, layout->sdc);
    putU16(block, h + kEntryCount, (uint16_t)rows.size());
    putU16(block, h + kFreeBegin, (uint16_t)freeBegin);
    putU16(block, h + kFreeEnd, (uint16_t)freeEnd);
    putU16(block, h + kAvailable, (uint16_t)(freeEnd - freeBegin));
    uint16_t usable = (uint16_t)(block->size - kTailSize - h);
    if (leaf) {
        putU16(block, h + kLeafSpl, layout->lespl);
        putU16(block, h + kLeafDeleted, deleted);
        putU32(block, h + kLeafNext, layout->nextLeaf);
        putU32(block, h + kLeafPrevious, layout->previousLeaf);
        putU32(block, h + kLeafDsz, 0);
        putU16(block, h + kLeafBlockSize, usable);
    } else {
        putU32(block, h + kBranchLeftmost, layout->leftmostChild);
        putU32(block, h + kBranchSno, layout->brsno);
        putU16(block, h + kBranchBlockSize, usable);
    }
    return true;
}

}  // namespace forge
