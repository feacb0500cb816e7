// LOB segments: LOB data blocks, the LOB index (segment header, a bitmap
// block, a branch root over leaves, or a single leaf) and the locators the
// rows hold.  Written from the layouts in forge.h alone.
#include <cstring>

#include "forge/forge.h"
#include "forge/forge_undo_index.h"

namespace forge {

namespace {

const uint32_t kPageOffset = 56;
const uint32_t kPageOverhead = 60;
const uint32_t kLocatorFixed = 36;
const uint32_t kEntryDataSize = 32;
const uint8_t kBitmapBlockType = 0x20;
const uint32_t kCurrentVersion = 2;
const uint32_t kStaleVersion = 1;
const uint8_t kStaleByte = 'X';

bool fail(char *error, size_t errorLength, const char *text) {
    if (error != nullptr && errorLength > 0) snprintf(error, errorLength, "%s", text);
    return false;
}

struct LobId {
    uint8_t bytes[10];
};

LobId makeLobId(uint32_t n) {
    LobId id;
    memset(id.bytes, 0, sizeof id.bytes);
    id.bytes[3] = 1;
    storeU32(id.bytes + 6, n, kBigEndian);
    return id;
}

// One out-of-row LOB's place: its chunk addresses and sizes.
struct LaidLob {
    LobId id;
    uint32_t pageCount;      // whole pages
    uint16_t lastLength;
    std::vector<uint32_t> chunks;
    uint8_t form;
};

struct Allocator {
    const DatafileLayout *file;
    const LobColumnLayout *layout;
    uint32_t next;           // next free block of the LOB segment
    std::vector<SegmentBlock> *blocks;
};

bool allocateChunk(Allocator *a, uint32_t *firstBlock) {
    uint32_t end = a->layout->firstBlock + a->layout->blocks;
    if (a->next + a->layout->chunk > end) return false;
    *firstBlock = a->next;
    a->next += a->layout->chunk;
    return true;
}

void putLobPage(Allocator *a, uint32_t blockNo, const LobId &id, uint32_t page, uint32_t version,
                const uint8_t *data, uint32_t length) {
    SegmentBlock sb;
    sb.file = a->layout->file;
    sb.blockNo = blockNo;
    initBlock(&sb.block, a->file->blockSize, a->file->order);
    CacheHeader h;
    initCacheHeader(&h, a->layout->blockType, blockRdba(a->file, blockNo));
    putCacheHeader(&sb.block, &h);
    putU32(&sb.block, 20, a->layout->segmentObjectId);
    putBytes(&sb.block, 24, id.bytes, 10);
    bool old = a->layout->blockType == kLobBlockTypeOld;
    putU32(&sb.block, old ? 46 : 36, version);
    putU32(&sb.block, old ? 36 : 44, page);
    if (length > 0) putBytes(&sb.block, kPageOffset, data, length);
    sealBlock(&sb.block);
    a->blocks->push_back(sb);
}

bool layPages(Allocator *a, const std::vector<uint8_t> &content, LaidLob *lob) {
    uint32_t pageSize = a->file->blockSize - kPageOverhead;
    uint32_t pages = (uint32_t)((content.size() + pageSize - 1) / pageSize);
    lob->pageCount = (uint32_t)(content.size() / pageSize);
    lob->lastLength = (uint16_t)(content.size() % pageSize);
    if (lob->form & kLobFormStale) {
        // An older copy of page 0, in a chunk of its own before the current one.
        uint32_t first = 0;
        if (!allocateChunk(a, &first)) return false;
        std::vector<uint8_t> stale(pageSize, kStaleByte);
        putLobPage(a, first, lob->id, 0, kStaleVersion, stale.data(), pageSize);
    }
    for (uint32_t page = 0; page < pages; page++) {
        uint32_t k = page % a->layout->chunk;
        if (k == 0) {
            uint32_t first = 0;
            if (!allocateChunk(a, &first)) return false;
            lob->chunks.push_back(blockRdba(a->file, first));
        }
        uint32_t blockNo = (lob->chunks.back() & 0x3FFFFF) + k;
        if (a->file->bigfile) blockNo = lob->chunks.back() + k;
        size_t at = (size_t)page * pageSize;
        uint32_t length = (uint32_t)(content.size() - at < pageSize ? content.size() - at : pageSize);
        putLobPage(a, blockNo, lob->id, page, kCurrentVersion, content.data() + at, length);
    }
    return true;
}

void putU16BE(std::vector<uint8_t> *v, size_t at, uint16_t x) { storeU16(v->data() + at, x, kBigEndian); }
void putU32BE(std::vector<uint8_t> *v, size_t at, uint32_t x) { storeU32(v->data() + at, x, kBigEndian); }

// The common part of every locator: lengths, flags and LOB id.
std::vector<uint8_t> locatorHead(uint32_t length, const LobId &id, uint8_t flags) {
    std::vector<uint8_t> loc(length, 0);
    putU16BE(&loc, 0, (uint16_t)(length - 2));
    putU16BE(&loc, 2, 1);
    loc[4] = 0x02;
    loc[5] = flags;
    memcpy(loc.data() + 10, id.bytes, 10);
    if (length >= 22) putU16BE(&loc, 20, (uint16_t)(length - 22));
    return loc;
}

// The size header; returns where the data (or the chunk list) begins.
uint32_t putSizeHeader(std::vector<uint8_t> *loc, uint8_t form, bool inRow, uint32_t pages, uint16_t last) {
    (*loc)[22] = (uint8_t)(inRow ? 0x08 : 0x00);
    if (form & kLobFormShort) {
        uint8_t width = pages <= 0xFF ? 1 : pages <= 0xFFFF ? 2 : 4;
        (*loc)[26] = width;
        for (uint32_t i = 0; i < width; i++) (*loc)[27 + i] = (uint8_t)(pages >> (8 * (width - 1 - i)));
        putU16BE(loc, 27 + width, last);
        return 30 + width;
    }
    (*loc)[22] |= 0x01;
    putU32BE(loc, 24, pages);
    putU16BE(loc, 28, last);
    return 36;
}

std::vector<uint8_t> inRowLocator(const LobId &id, uint8_t form, const std::vector<uint8_t> &content) {
    uint32_t width = (form & kLobFormShort) ? 1 : 6;
    uint32_t length = 30 + width + (uint32_t)content.size();
    if (length < kLocatorFixed) length = kLocatorFixed;
    std::vector<uint8_t> loc = locatorHead(length, id, 0x0C);
    uint32_t at = putSizeHeader(&loc, form, true, 0, (uint16_t)content.size());
    if (!content.empty()) memcpy(loc.data() + at, content.data(), content.size());
    return loc;
}

// A SecureFile locator: the BasicFile head with 0x80 in the fourth flag
// byte, then an inode whose flag byte has 0x40 (and 0x08 when the data is in
// the row, where it follows the flag byte).
std::vector<uint8_t> secureFileLocator(const LobId &id, const std::vector<uint8_t> &content,
                                       uint32_t inRowLimit)
{
    bool inRow = content.size() <= inRowLimit;
    uint32_t length = 23 + (inRow ? (uint32_t)content.size() : 8u);
    std::vector<uint8_t> loc = locatorHead(length, id, 0x0C);
    loc[7] = 0x80;
    loc[22] = (uint8_t)(inRow ? 0x48 : 0x40);
    if (inRow && !content.empty())
        memcpy(loc.data() + 23, content.data(), content.size());
    return loc;
}

std::vector<uint8_t> outOfRowLocator(const LaidLob &lob, uint32_t listed) {
    if (lob.form & kLobFormNoSize) return locatorHead(24, lob.id, 0x08);
    std::vector<uint8_t> loc = locatorHead(kLocatorFixed + 4 * listed, lob.id, 0x0C);
    putSizeHeader(&loc, lob.form, false, lob.pageCount, lob.lastLength);
    for (uint32_t j = 0; j < listed; j++) putU32BE(&loc, kLocatorFixed + 4 * j, lob.chunks[j]);
    return loc;
}

ColumnValue columnOf(const uint8_t *bytes, size_t length) {
    ColumnValue c;
    c.isNull = false;
    c.bytes.assign(bytes, bytes + length);
    return c;
}

IndexEntry lobEntry(const LobId &id, uint32_t page, const std::vector<uint8_t> &data) {
    IndexEntry e;
    initIndexEntry(&e);
    e.prefix = data;
    uint8_t pageBytes[4];
    storeU32(pageBytes, page, kBigEndian);
    e.keys.push_back(columnOf(id.bytes, 10));
    e.keys.push_back(columnOf(pageBytes, 4));
    return e;
}

// Index entries of the chunks the locator does not list.
void addIndexEntries(const LaidLob &lob, uint32_t listed, uint32_t chunk, std::vector<IndexEntry> *entries) {
    size_t j = listed;
    if (lob.form & kLobFormNoSize) {
        std::vector<uint8_t> data(kEntryDataSize, 0);
        storeU32(data.data() + 4, lob.pageCount, kBigEndian);
        storeU16(data.data() + 8, lob.lastLength, kBigEndian);
        for (uint32_t s = 4; s < 8 && j < lob.chunks.size(); s++, j++)
            storeU32(data.data() + 4 * s, lob.chunks[j], kBigEndian);
        entries->push_back(lobEntry(lob.id, 0, data));
    }
    while (j < lob.chunks.size()) {
        std::vector<uint8_t> data(kEntryDataSize, 0);
        uint32_t page = (uint32_t)j * chunk;
        for (uint32_t s = 0; s < 8 && j < lob.chunks.size(); s++, j++)
            storeU32(data.data() + 4 * s, lob.chunks[j], kBigEndian);
        entries->push_back(lobEntry(lob.id, page, data));
    }
}

void placeBlock(std::vector<SegmentBlock> *blocks, size_t file, uint32_t blockNo, Block *block) {
    sealBlock(block);
    SegmentBlock sb;
    sb.file = file;
    sb.blockNo = blockNo;
    sb.block = *block;
    blocks->push_back(sb);
}

bool putSegmentHeaderBlock(const DatafileLayout *file, size_t fileIndex, uint32_t blockNo, uint32_t blocks,
                           uint32_t objectId, std::vector<SegmentBlock> *out, char *error, size_t errorLength) {
    SegmentHeaderLayout h;
    initSegmentHeaderLayout(&h, kTypeSegmentHeader, blockRdba(file, blockNo), objectId);
    h.extentCount = 1;
    h.blockCount = blocks;
    h.extents.push_back({blockRdba(file, blockNo), blocks});
    Block b;
    initBlock(&b, file->blockSize, file->order);
    if (!putSegmentHeader(&b, &h, error, errorLength)) return false;
    placeBlock(out, fileIndex, blockNo, &b);
    return true;
}

// The index: header, a bitmap block, then a single leaf or a branch root
// over the leaves.
bool layIndex(const DatafileLayout *file, const LobColumnLayout *layout, const std::vector<IndexEntry> &entries,
              std::vector<SegmentBlock> *out, char *error, size_t errorLength) {
    uint32_t first = layout->indexFirstBlock;
    if (!putSegmentHeaderBlock(file, layout->indexFile, first, layout->indexBlocks, layout->indexObjectId, out,
                               error, errorLength))
        return false;
    Block bitmap;
    initBlock(&bitmap, file->blockSize, file->order);
    CacheHeader h;
    initCacheHeader(&h, kBitmapBlockType, blockRdba(file, first + 1));
    putCacheHeader(&bitmap, &h);
    placeBlock(out, layout->indexFile, first + 1, &bitmap);

    uint32_t perLeaf = layout->leafEntries != 0 ? layout->leafEntries : (file->blockSize - 200) / 60;
    size_t leaves = entries.empty() ? 1 : (entries.size() + perLeaf - 1) / perLeaf;
    uint32_t root = first + 2;
    uint32_t firstLeaf = leaves == 1 ? root : root + 1;
    if (firstLeaf + leaves > first + layout->indexBlocks) return fail(error, errorLength, "LOB index extent too small");
    for (size_t l = 0; l < leaves; l++) {
        uint32_t blockNo = firstLeaf + (uint32_t)l;
        IndexBlockLayout leaf;
        initIndexBlockLayout(&leaf, blockRdba(file, blockNo), layout->indexObjectId, 2);
        for (size_t i = l * perLeaf; i < entries.size() && i < (l + 1) * perLeaf; i++) leaf.entries.push_back(entries[i]);
        leaf.nextLeaf = l + 1 < leaves ? blockRdba(file, blockNo + 1) : 0;
        leaf.previousLeaf = l > 0 ? blockRdba(file, blockNo - 1) : 0;
        Block b;
        initBlock(&b, file->blockSize, file->order);
        if (!putIndexBlock(&b, &leaf, error, errorLength)) return false;
        placeBlock(out, layout->indexFile, blockNo, &b);
    }
    if (leaves == 1) return true;
    IndexBlockLayout branch;
    initIndexBlockLayout(&branch, blockRdba(file, root), layout->indexObjectId, 2);
    branch.level = 1;
    branch.leftmostChild = blockRdba(file, firstLeaf);
    for (size_t l = 1; l < leaves; l++) {
        // The separator is the first key of the leaf, LOB id only.
        IndexBranchEntry e;
        e.childRdba = blockRdba(file, firstLeaf + (uint32_t)l);
        e.keys.push_back(entries[l * perLeaf].keys[0]);
        branch.branches.push_back(e);
    }
    Block b;
    initBlock(&b, file->blockSize, file->order);
    if (!putIndexBlock(&b, &branch, error, errorLength)) return false;
    placeBlock(out, layout->indexFile, root, &b);
    return true;
}

}  // namespace

void initLobColumnLayout(LobColumnLayout *layout, uint32_t segmentObjectId, uint32_t indexObjectId) {
    memset(layout, 0, sizeof *layout);
    layout->segmentObjectId = segmentObjectId;
    layout->indexObjectId = indexObjectId;
    layout->chunk = 1;
    layout->blockType = kLobBlockType;
    layout->inRowLimit = 3964;
    layout->locatorChunks = 4;
    layout->firstLobId = 0x1e3c;
}

std::vector<uint8_t> inRowBlobLocator(const std::vector<uint8_t> &content, uint32_t id)
{
    return inRowLocator(makeLobId(id), 0, content);
}

std::string lobIndexName(uint32_t tableObject, uint32_t column) {
    char name[64];
    snprintf(name, sizeof name, "SYS_IL%010uC%05u$$", tableObject, column);
    return name;
}

bool layLobColumn(const DatafileLayout *const *files, size_t fileCount, const LobColumnLayout *layout,
                  const std::vector<FieldValue *> &values, std::vector<SegmentBlock> *blocks, char *error,
                  size_t errorLength) {
    if (layout->file >= fileCount || layout->indexFile >= fileCount)
        return fail(error, errorLength, "LOB segment in an unknown file");
    if (layout->chunk == 0 || layout->blocks < 2 || layout->indexBlocks < 3)
        return fail(error, errorLength, "LOB segment needs a chunk of 1 or more, 2 blocks and an index of 3");
    const DatafileLayout *file = files[layout->file];
    if (!putSegmentHeaderBlock(file, layout->file, layout->firstBlock, layout->blocks, layout->segmentObjectId,
                               blocks, error, errorLength))
        return false;
    Allocator a = {file, layout, layout->firstBlock + 1, blocks};
    std::vector<IndexEntry> entries;
    uint32_t n = layout->firstLobId;
    for (FieldValue *v : values) {
        if (v->isNull) continue;
        LaidLob lob;
        lob.id = makeLobId(n++);
        lob.form = v->lobForm;
        if (lob.form & kLobFormSecureFile) {
            v->bytes = secureFileLocator(lob.id, v->bytes, layout->inRowLimit);
            continue;
        }
        bool outOfRow = (lob.form & (kLobFormOutOfRow | kLobFormNoSize)) || v->bytes.size() > layout->inRowLimit;
        if (!outOfRow) {
            v->bytes = inRowLocator(lob.id, lob.form, v->bytes);
            continue;
        }
        if (!layPages(&a, v->bytes, &lob)) return fail(error, errorLength, "LOB segment extent too small");
        uint32_t listed = (lob.form & kLobFormNoSize) ? 0
                          : (uint32_t)(lob.chunks.size() < layout->locatorChunks ? lob.chunks.size()
                                                                                  : layout->locatorChunks);
        v->bytes = outOfRowLocator(lob, listed);
        addIndexEntries(lob, listed, layout->chunk, &entries);
    }
    return layIndex(files[layout->indexFile], layout, entries, blocks, error, errorLength);
}

}  // namespace forge
