// Whether a segment header found by the header search can be trusted to
// lead to every block of its segment.  A header that is readable but damaged
// (a failing checksum, an extent list cut short, extents lost with a map
// block) would silently lose the rows of the blocks it no longer lists, so
// such a segment is unloaded by a scan of the datafiles instead.
#include "scan/scan.h"

#include <cstdlib>

#include "block/block.h"
#include "datafile/datafile.h"

namespace {

constexpr uint8_t kBlockTypeData = 6;
constexpr uint8_t kBlockFlagChecksum = 0x04;
constexpr uint32_t kDataObjectIdOffset = 24;   // of a data block
constexpr uint32_t kExtentEntrySize = 8;
constexpr uint32_t kMaxMapBlocks = 65536;
constexpr uint32_t kFirstScannedBlock = 2;

// The extents the map lists (header and chained map blocks) and the data
// blocks of objd they reach, read through a private copy so that the header
// stays in the caller's buffer.
struct MapCount {
    uint64_t extents;
    uint64_t blocks;
    uint64_t dataBlocks;
    bool complete;     // every map block of the chain could be read
};

bool isDataBlockOfObject(UnloadContext *reader, uint32_t rdba, uint32_t objd)
{
    if (readRDBA(reader->datafiles, reader, rdba) != static_cast<int>(reader->blockSize))
        return false;
    return getBlockRDBA(reader) == rdba && getBlockType(reader) == kBlockTypeData &&
           getDataObjectID(reader) == objd;
}

void countMapBlock(UnloadContext *map, UnloadContext *reader, uint32_t objd, bool countData, MapCount *count)
{
    uint32_t entries = getBlockExtentCount(map);
    uint32_t capacity = map->blockSize / kExtentEntrySize;
    if (entries > capacity)
        entries = capacity;
    for (uint32_t i = 0; i < entries; i++) {
        uint32_t first = getSegExtentRDBA(map, i);
        uint32_t blocks = getSegExtentBlocks(map, i);
        count->extents++;
        count->blocks += blocks;
        if (!countData)
            continue;
        // A wild extent size cannot make the count walk past its file.
        int pos = getFileIndex(reader->datafiles, getRDBAFile(first));
        uint64_t room = 0;
        if (reader->bigfile)
            room = kRdbaBlockMask;
        else if (pos >= 0 && reader->datafiles->blocks[pos] >= getRDBABlock(first))
            room = static_cast<uint64_t>(reader->datafiles->blocks[pos]) - getRDBABlock(first) + 1;
        uint32_t limit = blocks < room ? blocks : static_cast<uint32_t>(room);
        for (uint32_t j = 0; j < limit; j++) {
            if (isDataBlockOfObject(reader, first + j, objd))
                count->dataBlocks++;
        }
    }
}

bool countExtentMap(const UnloadContext *ctx, uint32_t objd, bool countData, MapCount *count)
{
    count->extents = count->blocks = count->dataBlocks = 0;
    count->complete = true;
    UnloadContext *map = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    UnloadContext *reader = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    bool made = map != nullptr && reader != nullptr && copyBlock(ctx, map) != 0 && copyBlock(ctx, reader) != 0;
    if (made) {
        for (uint32_t mapBlocks = 0;; mapBlocks++) {
            countMapBlock(map, reader, objd, countData, count);
            uint32_t next = getSegNextMapRDBA(map);
            if (next == 0)
                break;
            if (mapBlocks >= kMaxMapBlocks ||
                readSingleRDBA(map->datafiles, map, next) != static_cast<int>(map->blockSize)) {
                count->complete = false;
                break;
            }
        }
    }
    if (map != nullptr)
        free(map->block);
    if (reader != nullptr)
        free(reader->block);
    free(map);
    free(reader);
    return made;
}

// Data blocks of objd in the datafile of relative number rfn (every file
// with BIGFILE), read through the data-block window.
uint64_t countScannedBlocks(UnloadContext *ctx, uint32_t objd, uint32_t rfn)
{
    DatafileSet *set = ctx->datafiles;
    uint32_t positions = set->count < static_cast<uint32_t>(kMaxDatafiles) ? set->count : kMaxDatafiles;
    uint64_t found = 0;
    for (uint32_t pos = 0; pos < positions; pos++) {
        if ((!ctx->bigfile && set->rfn[pos] != rfn) || set->blocks[pos] < kFirstScannedBlock)
            continue;
        if (set->handle[pos] == nullptr && set->asmFile[pos] == nullptr)
            continue;
        for (uint32_t block = kFirstScannedBlock;; block++) {
            const uint8_t *image = peekBlockThroughWindow(set, ctx, ctx->dataWindow, set->rfn[pos], block);
            if (image != nullptr && peekBlockType(image, ctx->blockSize) == kBlockTypeData &&
                peekBlockU32(image, ctx->blockSize, kDataObjectIdOffset, ctx->byteOrder) == objd)
                found++;
            if (block >= set->blocks[pos])
                break;
        }
    }
    return found;
}

}  // namespace

int checkSegmentHeader(const UnloadContext *ctx, uint32_t objd, int compareWithScan)
{
    if ((getBlockFlag(ctx) & kBlockFlagChecksum) != 0 && do_checksum(ctx->blockSize, ctx->block) != 0) {
        printf("  Segment header of OBJD=%u fails its check: rows taken from a scan of the datafiles\n", objd);
        return 0;
    }
    MapCount count;
    if (!countExtentMap(ctx, objd, compareWithScan != 0, &count))
        return 1;
    if (!count.complete || count.extents < getSegExtentCount(ctx) || count.blocks < getSegBlockCount(ctx)) {
        printf("  Extent map of OBJD=%u lists %llu of its %u extents and %llu of its %u blocks: rows taken from a "
               "scan of the datafiles\n",
               objd, static_cast<unsigned long long>(count.extents), getSegExtentCount(ctx),
               static_cast<unsigned long long>(count.blocks), getSegBlockCount(ctx));
        return 0;
    }
    if (compareWithScan == 0)
        return 1;
    UnloadContext *scan = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    if (scan == nullptr || copyBlock(ctx, scan) == 0) {
        if (scan != nullptr)
            free(scan->block);
        free(scan);
        return 1;
    }
    uint64_t scanned = countScannedBlocks(scan, objd, getRDBAFile(getBlockRDBA(ctx)));
    free(scan->block);
    free(scan);
    if (scanned <= count.dataBlocks)
        return 1;
    printf("  Extent map of OBJD=%u reaches %llu data blocks, a scan of its file finds %llu: rows taken from a "
           "scan of the datafiles\n",
           objd, static_cast<unsigned long long>(count.dataBlocks), static_cast<unsigned long long>(scanned));
    return 0;
}
