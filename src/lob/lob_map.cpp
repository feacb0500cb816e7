// The LOB block map: one text line per LOB data block of the registered
// datafiles, "objd,lobid,page,version,rfn,block,\n", split into 100 bucket
// files by a hash of the LOB id so that looking one LOB up reads about a
// hundredth of the map.
//
// LOB data block fields (BYTE_ORDER):
//          type 0x1B   type 0x28
//   objd       20          20     u32
//   LOB id   24..33      24..33   10 bytes as stored
//   page       36          44     u32
//   version    46          36     u32
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "block/block.h"
#include "datafile/datafile.h"
#include "lob/lob.h"

namespace {

constexpr uint32_t kObjdOffset = 20;
constexpr uint32_t kLobIdOffset = 24;
constexpr uint32_t kPageOffsetOld = 36;
constexpr uint32_t kPageOffset = 44;
constexpr uint32_t kVersionOffsetOld = 46;
constexpr uint32_t kVersionOffset = 36;
constexpr uint32_t kFirstScannedBlock = 2;
constexpr int kWorkers = 4;
constexpr uint32_t kWorkerWindowCapacity = 1048576;
constexpr int kMapLineRead = 127;          // fgets size: at most 126 characters a read
constexpr size_t kShortLine = 10;
constexpr int kMergeLineSize = 1024;
constexpr uint32_t kMaxPageNumber = 0x7FFFF;
constexpr uint16_t kEmptyFile = 0xFFFF;
constexpr uint32_t kEmptyBlock = 0xFFFFFFFF;

void writeMapLine(FILE *stream, const uint8_t *image, uint32_t blockSize, uint8_t order, uint32_t rfn,
                  uint32_t block)
{
    bool old = peekBlockType(image, blockSize) == kLobBlockTypeOld;
    uint32_t objd = peekBlockU32(image, blockSize, kObjdOffset, order);
    uint32_t page = peekBlockU32(image, blockSize, old ? kPageOffsetOld : kPageOffset, order);
    uint32_t version = peekBlockU32(image, blockSize, old ? kVersionOffsetOld : kVersionOffset, order);
    char id[kLobIdTextSize];
    for (uint32_t i = 0; i < kLobIdSize; i++)
        snprintf(id + 2 * i, 3, "%02x", image[kLobIdOffset + i]);
    fprintf(stream, "%u,%s,%u,%u,%u,%u,\n", objd, id, page, version, rfn, block);
}

bool positionIsOpen(const DatafileSet *set, uint32_t pos)
{
    return set->handle[pos] != nullptr || set->asmFile[pos] != nullptr;
}

void listPositionLobs(FILE *stream, UnloadContext *ctx, uint32_t pos)
{
    DatafileSet *set = ctx->datafiles;
    uint32_t rfn = set->rfn[pos];
    uint32_t last = set->blocks[pos];
    for (uint32_t block = kFirstScannedBlock;; block++) {
        const uint8_t *image = peekBlockThroughWindow(set, ctx, ctx->dataWindow, rfn, block);
        if (image != nullptr) {
            uint8_t type = peekBlockType(image, ctx->blockSize);
            if (type == kLobBlockType || type == kLobBlockTypeOld)
                writeMapLine(stream, image, ctx->blockSize, ctx->byteOrder, rfn, block);
        }
        if (block >= last)
            break;
    }
}

void appendLobPart(FILE *merged, int worker)
{
    char name[64];
    snprintf(name, sizeof name, kLobMapPartFormat, worker);
    FILE *part = fopen64(name, "r");
    if (part == nullptr)
        return;
    char line[kMergeLineSize];
    while (fgets(line, sizeof line, part) != nullptr)
        fputs(line, merged);
    fclose(part);
}

// Comma-separated tokens of a map line (runs of commas are one separator);
// returns how many of the first `most` were found.
int splitMapLine(char *line, char **tokens, int most)
{
    int n = 0;
    char *save = nullptr;
    for (char *t = strtok_r(line, ",\r\n", &save); t != nullptr && n < most; t = strtok_r(nullptr, ",\r\n", &save))
        tokens[n++] = t;
    return n;
}

bool isShortLine(const char *line) { return strlen(line) < kShortLine; }

void closeBuckets(FILE **buckets)
{
    for (int b = 0; b < kLobMapBuckets; b++) {
        if (buckets[b] != nullptr)
            fclose(buckets[b]);
        buckets[b] = nullptr;
    }
}

void distributeMapLines(FILE *whole, FILE **buckets)
{
    char line[kMapLineRead];
    char copy[kMapLineRead];
    while (fgets(line, sizeof line, whole) != nullptr) {
        if (isShortLine(line))
            break;
        memcpy(copy, line, sizeof copy);
        char *tokens[2];
        if (splitMapLine(line, tokens, 2) < 2 || strlen(tokens[1]) < 20)
            continue;
        fputs(copy, buckets[lobMapBucket(tokens[1])]);
    }
}

void enterMapPage(LobPageMap *map, uint32_t page, uint32_t version, uint32_t file, uint32_t block)
{
    if (page > kMaxPageNumber)
        return;
    LobPageLocation *entry = &map->pages[page];
    if (entry->block == kEmptyBlock) {
        entry->file = (uint16_t)file;
        entry->block = block;
        entry->version = version;
        if (page + 1 > map->pageCount)
            map->pageCount = page + 1;
    } else if (version > entry->version) {
        // The newest copy of a page wins; among equals the first line read.
        entry->file = (uint16_t)file;
        entry->block = block;
        entry->version = version;
    }
}

bool parseDecimal(const char *text, uint32_t *out)
{
    char *end = nullptr;
    errno = 0;
    unsigned long v = strtoul(text, &end, 10);
    if (end == text || errno != 0)
        return false;
    *out = (uint32_t)v;
    return true;
}

}  // namespace

uint32_t SuperFastHash(const char *data, int length)
{
    if (data == nullptr || length <= 0)
        return 0;
    // Bytes are signed, and a whole group's second 16-bit value is
    // b0 * 256 + 512 + b3: the bucket files on disk depend on this form.
    const signed char *p = reinterpret_cast<const signed char *>(data);
    uint32_t h = (uint32_t)length;
    int rem = length & 3;
    for (int groups = length >> 2; groups > 0; groups--, p += 4) {
        uint32_t b0 = (uint32_t)(int32_t)p[0], b1 = (uint32_t)(int32_t)p[1], b3 = (uint32_t)(int32_t)p[3];
        h += b0 * 256 + b1;
        uint32_t t = ((b0 * 256 + b3 + 512) << 11) ^ h;
        h = (h << 16) ^ t;
        h += h >> 11;
    }
    uint32_t b0 = rem > 0 ? (uint32_t)(int32_t)p[0] : 0;
    uint32_t b1 = rem > 1 ? (uint32_t)(int32_t)p[1] : 0;
    switch (rem) {
    case 3:
        h += b0 * 256 + b1;
        h ^= h << 16;
        h ^= (uint32_t)(int32_t)p[2] << 18;
        h += h >> 11;
        break;
    case 2:
        h += b0 * 256 + b1;
        h ^= h << 11;
        h += h >> 17;
        break;
    case 1:
        h += b0;
        h ^= h << 10;
        h += h >> 1;
        break;
    default: break;
    }
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h;
}

uint32_t lobMapBucket(const char *lobIdText) { return SuperFastHash(lobIdText + 10, 10) % kLobMapBuckets; }

void listLobBlockMap(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t rfn)
{
    (void)objd;   // the map lists every LOB; lookups pick theirs by LOB id
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    for (uint32_t pos = 0; pos < set->count && pos < (uint32_t)kMaxDatafiles; pos++) {
        if (rfn != 0 && !ctx->bigfile && set->rfn[pos] != rfn)
            continue;
        if (!positionIsOpen(set, pos) || set->blocks[pos] <= 1)
            continue;
        listPositionLobs(stream, ctx, pos);
    }
}

void listLobBlockMapSerial(LobMapWorker *record)
{
    const UnloadContext *ctx = record->ctx;
    int worker = record->k;
    char name[64];
    snprintf(name, sizeof name, kLobMapPartFormat, worker);
    FILE *part = fopen64(name, "wb+");
    if (part == nullptr) {
        record->running = 0;
        return;
    }
    UnloadContext *copy = copyLobContext(ctx);
    ReadAheadWindow window;
    memset(&window, 0, sizeof window);
    window.capacity = kWorkerWindowCapacity;
    window.buffer = static_cast<uint8_t *>(malloc(kWorkerWindowCapacity));
    if (copy != nullptr && window.buffer != nullptr) {
        copy->dataWindow = &window;
        const DatafileSet *set = copy->datafiles;
        for (uint32_t pos = 0; pos < set->count && pos < (uint32_t)kMaxDatafiles; pos++) {
            if ((pos & 3u) != (uint32_t)worker || !positionIsOpen(set, pos) || set->blocks[pos] <= 1)
                continue;
            listPositionLobs(part, copy, pos);
        }
    }
    freeLobContext(copy);
    free(window.buffer);
    fclose(part);
    record->running = 0;
}

void listLobBlockMapParallel(UnloadContext *ctx)
{
    if (ctx->datafiles == nullptr)
        return;
    // Buffered output must not be written twice, once by a worker.
    fflush(nullptr);
    pid_t workers[kWorkers];
    LobMapWorker records[kWorkers];
    for (int w = 0; w < kWorkers; w++) {
        records[w] = {ctx, w, 1};
        workers[w] = fork();
        if (workers[w] == 0) {
            listLobBlockMapSerial(&records[w]);
            _exit(0);
        }
        // Without a process for it, the worker's share is scanned here.
        if (workers[w] < 0)
            listLobBlockMapSerial(&records[w]);
    }
    for (int w = 0; w < kWorkers; w++) {
        int status;
        while (workers[w] > 0 && waitpid(workers[w], &status, 0) < 0 && errno == EINTR) {
        }
    }
    FILE *merged = fopen64(kLobMapFileName, "wb+");
    if (merged == nullptr)
        return;
    for (int w = 0; w < kWorkers; w++)
        appendLobPart(merged, w);
    fclose(merged);
    hashLobBlockMap();
}

void hashLobBlockMap()
{
    FILE *whole = fopen64(kLobMapFileName, "rb+");
    if (whole == nullptr)
        return;
    FILE *buckets[kLobMapBuckets] = {};
    bool complete = true;
    for (int b = 0; b < kLobMapBuckets && complete; b++) {
        char name[64];
        snprintf(name, sizeof name, kLobMapBucketFormat, b);
        buckets[b] = fopen64(name, "wb+");
        complete = buckets[b] != nullptr;
    }
    if (complete)
        distributeMapLines(whole, buckets);
    closeBuckets(buckets);
    fclose(whole);
}

void openLobHashMap(LobPageMap *map)
{
    closeLobHashMap(map);
    for (int b = 0; b < kLobMapBuckets; b++) {
        char name[64];
        snprintf(name, sizeof name, kLobMapBucketFormat, b);
        map->buckets[b] = fopen64(name, "rb+");
    }
}

void closeLobHashMap(LobPageMap *map) { closeBuckets(map->buckets); }

void readLobBlockMap(LobPageMap *map, const char *lobIdText)
{
    map->pageCount = 0;
    uint32_t filled = map->filledPages < kLobPageTableSize ? map->filledPages : kLobPageTableSize;
    for (uint32_t p = 0; p < filled; p++) {
        map->pages[p].file = kEmptyFile;
        map->pages[p].block = kEmptyBlock;
        map->pages[p].version = 0;
    }
    map->filledPages = 0;
    FILE *stream = map->buckets[lobMapBucket(lobIdText)];
    if (stream == nullptr)
        stream = map->wholeMap;
    if (stream == nullptr)
        return;
    rewind(stream);
    char line[kMapLineRead];
    while (fgets(line, sizeof line, stream) != nullptr && !isShortLine(line)) {
        char *tokens[6];
        if (splitMapLine(line, tokens, 6) < 6)
            continue;
        if (strlen(tokens[1]) < 20 || strncmp(tokens[1], lobIdText, 20) != 0)
            continue;
        uint32_t page, version, file, block;
        if (!parseDecimal(tokens[2], &page) || !parseDecimal(tokens[3], &version) ||
            !parseDecimal(tokens[4], &file) || !parseDecimal(tokens[5], &block))
            continue;
        enterMapPage(map, page, version, file, block);
    }
    map->filledPages = map->pageCount;
}

void parselobparams(UnloadContext *ctx, const char *text)
{
    uint32_t values[3] = {0, 0, 0};
    const char *p = text;
    for (int i = 0; i < 3; i++) {
        char *end = nullptr;
        unsigned long v = strtoul(p, &end, 10);
        if (end == p)
            return;
        values[i] = (uint32_t)v;
        if (i < 2) {
            if (*end != '.')
                return;
            p = end + 1;
        }
    }
    uint32_t column = values[0], file = values[1], block = values[2];
    if (column == 0 || column > (uint32_t)kMaxColumns || file == 0 || block == 0)
        return;
    ctx->lobIndexFile[column - 1] = (uint16_t)file;
    ctx->lobIndexBlock[column - 1] = block;
}

void openLobMapForUnload(LobPageMap *map)
{
    map->pageCount = 0;
    if (map->wholeMap != nullptr)
        fclose(map->wholeMap);
    map->wholeMap = fopen64(kLobMapFileName, "rb+");
    if (map->wholeMap != nullptr)
        openLobHashMap(map);
}

void closeLobMapAfterUnload(LobPageMap *map)
{
    map->pageCount = 0;
    if (map->wholeMap == nullptr)
        return;
    fclose(map->wholeMap);
    map->wholeMap = nullptr;
    closeLobHashMap(map);
}
