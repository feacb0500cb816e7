// LOB pages and the LOB index walk.  A LOB data block (type 0x28 or 0x1B)
// holds one page of a LOB from byte 56; a full page is B - 60 bytes.  The
// LOB index is an ordinary B-tree keyed by (LOB id, page number) whose
// leaf entries list the chunk addresses of the pages:
//   row  0      u8   flags (0x01 deleted)
//        2..33       entry data: page 0: 4 u32 page count, 8 u16 last page
//                    length, 16..31 four chunk addresses; other pages: eight
//                    chunk addresses (big-endian, 0 ends the list)
//       34      u8   key length (10)   35..44 LOB id
//       45      u8   key length (4)    46..49 page number, big-endian
// Branch rows: u32 child (BYTE_ORDER), u8 key length, the key.
#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "datafile/datafile.h"
#include "index/index.h"
#include "lob/lob.h"
#include "unload/charsets/charset.h"

namespace {

constexpr uint8_t kTypeCLOB = 112;
constexpr uint8_t kTypeNCLOB = 255;
constexpr uint8_t kIndexBlockType = 6;
constexpr uint32_t kTransactionTypeOffset = 20;
constexpr uint8_t kTransactionIndex = 2;
constexpr uint8_t kLobConvertGBK = 1;
constexpr uint8_t kLobConvertUTF8 = 2;

constexpr uint32_t kEntryRowSize = 50;
constexpr uint32_t kEntryDataOffset = 2;
constexpr uint32_t kEntryIdLengthOffset = 34;
constexpr uint32_t kEntryIdOffset = 35;
constexpr uint32_t kEntryPageLengthOffset = 45;
constexpr uint32_t kEntryPageOffset = 46;
constexpr uint32_t kEntrySlots = 8;
constexpr uint32_t kFirstEntrySlot = 4;     // page 0 keeps its size in slots 0..3
constexpr uint8_t kEntryDeleted = 0x01;
constexpr uint32_t kBranchKeyLengthOffset = 4;
constexpr uint32_t kBranchKeyOffset = 5;

// Bounds on a damaged index: blocks passed over after the segment header,
// levels descended, and leaves followed.
constexpr uint32_t kMaxSkippedBlocks = 4096;
constexpr uint32_t kMaxLevels = 32;
// One LOB's entries are adjacent: 65,536 leaves hold tens of millions of
// chunk addresses, far past any LOB, so more means a loop of next-leaf links.
constexpr uint32_t kMaxLeaves = 1u << 16;

uint32_t be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

bool isTextType(uint8_t type) { return type == kTypeCLOB || type == kTypeNCLOB; }

void emit(LobSink *sink, const uint8_t *bytes, uint32_t length)
{
    if (sink->stream == nullptr)
        return;
    if (sink->dump)
        sink->dump->value(sink->stream, bytes, length);
    else if (length > 0)
        fwrite(bytes, 1, length, sink->stream);
    sink->bytesWritten += length;
    sink->pagesWritten++;
}

// ICONV conversion of one page in one call; false when it fails.
bool convertWithIconv(LobSink *sink, const uint8_t *bytes, uint32_t length)
{
    static uint8_t input[kLobConvertBufferSize];
    static uint8_t output[kLobConvertBufferSize];
    uint32_t n = length < kLobConvertBufferSize ? length : kLobConvertBufferSize;
    memcpy(input, bytes, n);
    iconv(sink->converter, nullptr, nullptr, nullptr, nullptr);
    char *in = reinterpret_cast<char *>(input);
    char *out = reinterpret_cast<char *>(output);
    size_t inLeft = n;
    size_t outLeft = sizeof output;
    if (iconv(sink->converter, &in, &inLeft, &out, &outLeft) == (size_t)-1)
        return false;
    emit(sink, output, (uint32_t)(sizeof output - outLeft));
    return true;
}

bool isIndexBlock(const UnloadContext *copy)
{
    // Both tests: a table data block is type 6 too, with transaction type 1.
    return getBlockType(copy) == kIndexBlockType && blockU8(copy, kTransactionTypeOffset) == kTransactionIndex;
}

// Reads index block r, with the walk's messages; false ends the walk.
bool readWalkBlock(DatafileSet *set, UnloadContext *copy, uint32_t r)
{
    if (readIndexRDBA(set, copy, r) != (int)copy->blockSize) {
        fprintf(stderr, "Error read lob index block : 0x%08x(%u/%u)\n", r, getRDBAFile(r), getRDBABlock(r));
        return false;
    }
    return true;
}

bool blockIsBad(const UnloadContext *copy)
{
    if (matchBlockTail(copy) == 0)
        return false;
    uint32_t rdba = getBlockRDBA(copy);
    printf("Block check failured at RDBA=0x%08x=%u\n", rdba, rdba);
    return true;
}

// Unsigned bytewise comparison of the sought LOB id with a branch key.
int compareBranchKey(const uint8_t *lobId, const uint8_t *key, uint32_t keyLength)
{
    uint32_t n = keyLength < kLobIdSize ? keyLength : kLobIdSize;
    return memcmp(lobId, key, n);
}

// The child of a branch block to descend into: the rightmost child whose
// separator is strictly below the LOB id.  A separator equal to the LOB id
// compares the id alone, so that LOB's first pages may sit in the child to
// its left; starting there and scanning forward finds them all.
uint32_t branchChild(const UnloadContext *copy, const uint8_t *lobId)
{
    uint32_t h = getDataLayerOffset(copy);
    uint32_t candidate = getIndexBrlmc(copy);
    uint16_t rows = getIndexRowCount(copy);
    for (uint32_t i = 0; i < rows; i++) {
        const uint8_t *row = blockBytes(copy, h + getIndexOffset(copy, i), kBranchKeyOffset);
        if (row == nullptr)
            break;
        uint32_t keyLength = row[kBranchKeyLengthOffset];
        const uint8_t *key = blockBytes(copy, h + getIndexOffset(copy, i) + kBranchKeyOffset,
                                        keyLength < kLobIdSize ? keyLength : kLobIdSize);
        if (key == nullptr || compareBranchKey(lobId, key, keyLength) <= 0)
            break;
        candidate = blockU32(copy, h + getIndexOffset(copy, i));
    }
    return candidate;
}

// Descends from the segment header to the leaf where the LOB's entries can
// begin; 0 when the walk ends on the way.
uint32_t descendToLeaf(DatafileSet *set, UnloadContext *copy, uint32_t start, const uint8_t *lobId)
{
    uint32_t r = start + 1;
    uint32_t skipped = 0;
    for (uint32_t level = 0; level < kMaxLevels;) {
        if (!readWalkBlock(set, copy, r))
            return 0;
        if (!isIndexBlock(copy)) {
            // Space-management blocks follow a segment header.
            if (++skipped > kMaxSkippedBlocks)
                return 0;
            r++;
            continue;
        }
        if (blockIsBad(copy))
            return 0;
        if (copy->verbose)
            printf("Read LOB index branch block from RDBA=%u ...\n", r);
        if (getIndexColev(copy) == 0) {
            if (copy->verbose)
                printf("Read LOB index leaf block from RDBA=%u ...\n", r);
            return r;
        }
        r = branchChild(copy, lobId);
        level++;
    }
    return 0;
}

struct WalkState {
    LobSink *sink;
    UnloadContext *data;
    uint32_t pageCount;
    uint32_t *counter;
    uint32_t lastLength;
    bool stop;
};

// Writes the CHUNK pages from one chunk address.
void writeChunkPages(WalkState *walk, uint32_t address)
{
    DatafileSet *set = walk->data->datafiles;
    int32_t chunk = walk->data->chunkCount > 0 ? walk->data->chunkCount : 1;
    for (int32_t k = 0; k < chunk && !walk->stop; k++) {
        uint32_t rdba = address + (uint32_t)k;
        if (readLOBRDBA(set, walk->data, rdba) != (int)walk->data->blockSize) {
            fprintf(stderr, "Error read lob data block at RDBA: 0x%08x(%u/%u)\n", rdba, getRDBAFile(rdba),
                    getRDBABlock(rdba));
            walk->stop = true;
            return;
        }
        if (walk->data->verbose >= 3)
            printf("Recovery LOB data block RDBA %u ...\n", rdba);
        // The blocks of a last chunk past the LOB's last page hold no part of it.
        if (lobPagePastEnd(*walk->counter, walk->pageCount)) {
            (*walk->counter)++;
            continue;
        }
        uint32_t length =
            lobPageLength(walk->data->blockSize, *walk->counter, walk->pageCount, walk->lastLength);
        writeLobPage(walk->sink, walk->data->block + kLobPageDataOffset, length);
        if (walk->data->verbose >= 3)
            printf("Recovery LOB data block (%d), %d bytes written to file ...\n", (int)*walk->counter,
                   (int)length);
        (*walk->counter)++;
    }
}

void writeEntryPages(WalkState *walk, const uint8_t *row)
{
    const uint8_t *data = row + kEntryDataOffset;
    uint32_t slot = 0;
    if (be32(row + kEntryPageOffset) == 0) {
        walk->pageCount = be32(data + 4);
        walk->lastLength = (uint32_t)data[8] << 8 | data[9];
        slot = kFirstEntrySlot;
    }
    for (; slot < kEntrySlots && !walk->stop; slot++) {
        uint32_t address = be32(data + 4 * slot);
        if (address == 0)
            break;
        writeChunkPages(walk, address);
    }
}

enum LeafResult { kLeafGoOn, kLeafDone, kLeafEnd };

LeafResult scanLeaf(WalkState *walk, const UnloadContext *leaf, const uint8_t *lobId)
{
    uint32_t h = getDataLayerOffset(leaf);
    uint16_t rows = getIndexRowCount(leaf);
    for (uint32_t i = 0; i < rows && !walk->stop; i++) {
        const uint8_t *row = blockBytes(leaf, h + getIndexOffset(leaf, i), kEntryRowSize);
        if (row == nullptr || (row[0] & kEntryDeleted))
            continue;
        if (getIndexColumnCount(leaf) != 2) {
            uint32_t rdba = getBlockRDBA(leaf);
            printf("Block is not LOB index leaf block at RDBA=0x%08x=%u\n", rdba, rdba);
            return kLeafEnd;
        }
        if (row[kEntryIdLengthOffset] != kLobIdSize || row[kEntryPageLengthOffset] != 4)
            continue;
        int order = memcmp(row + kEntryIdOffset, lobId, kLobIdSize);
        if (order == 0) {
            writeEntryPages(walk, row);
            continue;
        }
        // Entries are in key order: past the LOB id nothing more of it follows.
        if (order > 0)
            return kLeafDone;
    }
    return walk->stop ? kLeafEnd : kLeafGoOn;
}

}  // namespace

int readLOBBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block)
{
    if (ctx->lobWindow == nullptr)
        return readSingleBlock(set, ctx, file, block);
    return readBlockThroughWindow(set, ctx, ctx->lobWindow, file, block);
}

int readLOBRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba)
{
    return readLOBBlock(set, ctx, getRDBAFile(rdba), getRDBABlock(rdba));
}

void initLobSink(LobSink *sink, FILE *stream, UnloadContext *ctx, uint8_t type, const DumpElementWriter *dump)
{
    memset(sink, 0, sizeof *sink);
    sink->stream = stream;
    sink->ctx = ctx;
    sink->type = type;
    sink->dump = dump;
    sink->converter = kNoConverter;
    if (type == kTypeCLOB)
        sink->converter = ctx->clob;
    else if (type == kTypeNCLOB)
        sink->converter = ctx->nclob;
}

uint32_t lobPageLength(uint32_t blockSize, uint32_t counter, uint32_t pageCount, uint32_t lastLength)
{
    uint32_t full = blockSize > kLobPageOverhead ? blockSize - kLobPageOverhead : 0;
    if (counter < pageCount)
        return full;
    // A last length from a damaged locator or entry never reads past the page.
    return lastLength < full ? lastLength : full;
}

bool lobPagePastEnd(uint32_t counter, uint32_t pageCount) { return counter > pageCount; }

void writeLobPage(LobSink *sink, const uint8_t *bytes, uint32_t length)
{
    sink->convertFailed = false;
    UnloadContext *ctx = sink->ctx;
    if (!isTextType(sink->type)) {
        emit(sink, bytes, length);
        return;
    }
    if (ctx->lobConvert == kLobConvertGBK || ctx->lobConvert == kLobConvertUTF8) {
        static uint8_t converted[kLobConvertBufferSize];
        int n = ctx->lobConvert == kLobConvertGBK
                    ? uni2gb(bytes, (int)length, converted, (int)sizeof converted, ctx->clobByteOrder)
                    : ucs2ToUtf8(bytes, (int)length, converted, (int)sizeof converted, ctx->clobByteOrder);
        if (n > 0)
            emit(sink, converted, (uint32_t)n);
        return;
    }
    if (sink->converter != kNoConverter && convertWithIconv(sink, bytes, length))
        return;
    sink->convertFailed = sink->converter != kNoConverter;
    emit(sink, bytes, length);
}

uint32_t lobIndexStart(const UnloadContext *ctx, uint32_t file, uint32_t block)
{
    if ((file == 0 && !ctx->bigfile) || block == 0)
        return 0;
    if (ctx->bigfile)
        return (file << kRdbaFileShift) + block;
    return makeRDBA(file, block);
}

void findLobByIndex(LobSink *sink, uint32_t startRdba, const uint8_t *lobId, uint32_t pageCount,
                    uint32_t *pageCounter, uint32_t lastLength)
{
    UnloadContext *index = copyLobContext(sink->ctx);
    UnloadContext *data = copyLobContext(sink->ctx);
    if (index == nullptr || data == nullptr) {
        freeLobContext(index);
        freeLobContext(data);
        return;
    }
    DatafileSet *set = sink->ctx->datafiles;
    WalkState walk = {sink, data, pageCount, pageCounter, lastLength, false};
    uint32_t r = descendToLeaf(set, index, startRdba, lobId);
    for (uint32_t leaves = 0; r != 0; leaves++) {
        if (leaves == kMaxLeaves) {
            fprintf(stderr, "LOB index walk stopped after %u leaf blocks at RDBA=0x%08x\n", leaves, r);
            break;
        }
        if (!readWalkBlock(set, index, r) || blockIsBad(index))
            break;
        if (index->verbose)
            printf("Search through LOB block from RDBA=%u ...\n", r);
        if (scanLeaf(&walk, index, lobId) != kLeafGoOn)
            break;
        uint32_t next = getIndexLenxt(index);
        if (next == r)
            break;
        r = next;
    }
    freeLobContext(index);
    freeLobContext(data);
}

UnloadContext *copyLobContext(const UnloadContext *ctx)
{
    UnloadContext *copy = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    if (copy == nullptr)
        return nullptr;
    // Made for every LOB value read out of the row: the column arrays, which
    // no LOB reader uses, are not copied.
    if (copyBlockOnly(ctx, copy) == 0) {
        free(copy);
        return nullptr;
    }
    return copy;
}

void freeLobContext(UnloadContext *copy)
{
    if (copy == nullptr)
        return;
    free(copy->block);
    free(copy);
}

bool readLobPageBlock(UnloadContext *copy, uint32_t file, uint32_t block, bool *read)
{
    *read = readLOBBlock(copy->datafiles, copy, file, block) == (int)copy->blockSize;
    if (!*read)
        return false;
    uint8_t type = getBlockType(copy);
    return type == kLobBlockType || type == kLobBlockTypeOld;
}
