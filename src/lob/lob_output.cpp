// LOB value output: the text writers (printBLOB, printCLOB, printNCLOB) and
// the export-dump writer (dumpLOBValue).  Each decodes the locator, chooses
// where the LOB's bytes come from and streams them page by page:
//
//   locator                      LOB map open   source
//   no size header               yes            map pages, each at full length
//   no size header               no             the LOB index walk
//   size header, data in row     either         the bytes in the locator
//   size header, no data in row  yes            map pages, by the page length rule
//   size header, no data in row  no             the locator's chunk addresses,
//                                               then the LOB index walk
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "block/block.h"
#include "datafile/datafile.h"
#include "lob/lob.h"

namespace {

constexpr uint8_t kTypeCLOB = 112;
constexpr uint8_t kTypeBLOB = 113;
constexpr uint8_t kTypeNCLOB = 255;
constexpr uint8_t kLobStorageFile = 1;
constexpr uint8_t kLobStorageNone = 2;
constexpr uint16_t kNationalCharsetForm = 2;
constexpr uint32_t kDmpInRowMax = 4000;
constexpr uint16_t kDefaultLobDirs = 500;
constexpr int kLobPathSize = 64;
constexpr size_t kLobFileBufferSize = 1048576;

// The progress lines of one writer (VERBOSE 3 and more).
struct LobMessages {
    const char *inRow;          // "%u" row block RDBA (and "%d" length for BLOB)
    const char *page;           // "%u" page block RDBA
    bool inRowHasLength;
    bool pageOnAnyBlock;        // every block read in full, not LOB blocks only
};

const LobMessages kBlobMessages = {"Recover BLOB from RDBA=%u, length=%d ...\n", "Recover BLOB from RDBA=%u ...\n",
                                   true, true};
const LobMessages kClobMessages = {"Recover inline CLOB from RDBA=%u ...\n",
                                   "Recover outline CLOB from RDBA=%u ...\n", false, false};
const LobMessages kNclobMessages = {"Recover CLOB from RDBA=%u ...\n", "Recover CLOB from RDBA=%u ...\n", false,
                                    false};
const LobMessages kDumpMessages = {"Recover BLOB/CLOB from RDBA=%u ...\n", "Recover BLOB/CLOB from RDBA=%u ...\n",
                                   false, true};

// One value being written.
struct LobValue {
    LobSink sink;
    const LobMessages *messages;
    const uint8_t *locator;
    uint32_t length;
    LobLocator loc;
    uint32_t indexStart;       // 0: the column has no LOB index
    uint32_t rowRdba;
    uint32_t counter;          // running page counter
    UnloadContext *data;       // private copy for page blocks
};

bool mapIsOpen(const UnloadContext *ctx) { return ctx->lobMap != nullptr && ctx->lobMap->wholeMap != nullptr; }

// Reads one block of the LOB and writes it as a page of `length` bytes when
// it is a LOB data block.
void writeBlockPage(LobValue *v, uint32_t file, uint32_t block, uint32_t length)
{
    bool read = false;
    bool lob = readLobPageBlock(v->data, file, block, &read);
    bool verbose = v->data->verbose >= 3 && (lob || (read && v->messages->pageOnAnyBlock));
    if (verbose)
        printf(v->messages->page, getBlockRDBA(v->data));
    if (lob)
        writeLobPage(&v->sink, v->data->block + kLobPageDataOffset, length);
}

uint32_t pageLength(const LobValue *v, bool fullPages)
{
    uint32_t blockSize = v->data->blockSize;
    if (fullPages)
        return blockSize > kLobPageOverhead ? blockSize - kLobPageOverhead : 0;
    return lobPageLength(blockSize, v->counter, v->loc.pageCount, v->loc.lastLength);
}

// Pages through the scanned map.  A map line names exactly one block, so
// each page number is one block whatever CHUNK says.
void writeMapPages(LobValue *v, bool fullPages)
{
    LobPageMap *map = v->sink.ctx->lobMap;
    readLobBlockMap(map, v->loc.lobIdText);
    if (map->pageCount == 0 && v->indexStart != 0 && v->sink.ctx->verbose >= 1)
        fprintf(stderr, "LOB %s is not in the LOB map; its LOB index is not consulted while the map is open\n",
                v->loc.lobIdText);
    for (uint32_t p = 0; p < map->pageCount; p++, v->counter++) {
        const LobPageLocation *entry = &map->pages[p];
        if (entry->block == 0xFFFFFFFF || (!fullPages && lobPagePastEnd(v->counter, v->loc.pageCount)))
            continue;
        writeBlockPage(v, entry->file, entry->block, pageLength(v, fullPages));
    }
}

void writeLocatorChunks(LobValue *v)
{
    int32_t chunk = v->data->chunkCount > 0 ? v->data->chunkCount : 1;
    for (uint32_t j = 0; j < v->loc.chunkCount; j++) {
        uint32_t address = getLocatorChunk(v->locator, j);
        for (int32_t k = 0; k < chunk; k++, v->counter++) {
            uint32_t rdba = address + (uint32_t)k;
            if (lobPagePastEnd(v->counter, v->loc.pageCount))
                continue;
            writeBlockPage(v, getRDBAFile(rdba), getRDBABlock(rdba), pageLength(v, false));
        }
    }
}

void writeInRow(LobValue *v)
{
    UnloadContext *ctx = v->sink.ctx;
    if (ctx->verbose >= 3) {
        if (v->messages->inRowHasLength)
            printf(v->messages->inRow, v->rowRdba, (int)v->loc.inRowLength);
        else
            printf(v->messages->inRow, v->rowRdba);
    }
    writeLobPage(&v->sink, v->locator + v->loc.inRowOffset, v->loc.inRowLength);
    if (v->sink.convertFailed && ctx->verbose >= 3 && v->messages != &kBlobMessages)
        printf("Convert CLOB error from RDBA=%u ...\n", v->rowRdba);
}

// True when the value has a source of pages (map, chunks or index).
bool hasPageSource(const LobValue *v)
{
    if (v->loc.hasSize && v->loc.inRow)
        return false;
    if (mapIsOpen(v->sink.ctx))
        return true;
    return v->indexStart != 0 || (v->loc.hasSize && v->loc.chunkCount > 0);
}

// Writes the value's bytes from the chosen source.
void writeFromSource(LobValue *v)
{
    UnloadContext *ctx = v->sink.ctx;
    if (v->loc.hasSize && v->loc.inRow) {
        writeInRow(v);
        return;
    }
    v->data = copyLobContext(ctx);
    if (v->data == nullptr)
        return;
    if (mapIsOpen(ctx)) {
        writeMapPages(v, !v->loc.hasSize);
    } else if (!v->loc.hasSize) {
        if (v->indexStart != 0)
            findLobByIndex(&v->sink, v->indexStart, v->loc.lobId, 0, &v->counter, 0);
    } else {
        writeLocatorChunks(v);
        if (v->indexStart != 0 && !(v->counter > v->loc.pageCount))
            findLobByIndex(&v->sink, v->indexStart, v->loc.lobId, v->loc.pageCount, &v->counter,
                           v->loc.lastLength);
    }
    freeLobContext(v->data);
    v->data = nullptr;
}

void initLobValue(LobValue *v, FILE *stream, UnloadContext *ctx, const uint8_t *locator, uint32_t length,
                  uint8_t type, const DumpElementWriter *dump, uint32_t indexFile, uint32_t indexBlock,
                  const LobMessages *messages)
{
    memset(v, 0, sizeof *v);
    initLobSink(&v->sink, stream, ctx, type, dump);
    v->messages = messages;
    v->locator = locator;
    v->length = length;
    decodeLobLocator(locator, length, &v->loc);
    v->indexStart = lobIndexStart(ctx, indexFile, indexBlock);
    v->rowRdba = getBlockRDBA(ctx);
}

// The LOB file of a value: LOBDATA/LOBnnnn/LOB_<row block RDBA>_<offset>.dat.
FILE *openLobFile(const UnloadContext *ctx, uint32_t offset, char *path)
{
    uint32_t rdba = getBlockRDBA(ctx);
    uint16_t dirs = ctx->maxLobDirs != 0 ? ctx->maxLobDirs : kDefaultLobDirs;
    char dir[kLobPathSize];
    snprintf(dir, sizeof dir, "LOBDATA/LOB%04d", (int)(rdba % dirs));
    snprintf(path, kLobPathSize, "%s/LOB_%08X_%04X.dat", dir, rdba, offset);
    FILE *file = fopen64(path, "wb+");
    if (file == nullptr) {
        mkdir("LOBDATA", 0777);
        mkdir(dir, 0777);
        file = fopen64(path, "wb+");
    }
    if (file == nullptr) {
        fprintf(stderr, "Cannot create LOB file %s, the value is written in line\n", path);
        return nullptr;
    }
    // One LOB file is open at a time: it gets the one large buffer, so that
    // pages leave in few large writes.
    static char buffer[kLobFileBufferSize];
    setvbuf(file, buffer, _IOFBF, sizeof buffer);
    return file;
}

void printLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type, uint16_t indexFile,
              uint32_t indexBlock, const LobMessages *messages)
{
    if (ctx->lobStorage == kLobStorageNone || length == 0)
        return;
    const uint8_t *locator = blockBytes(ctx, offset, length);
    if (locator == nullptr)
        return;
    LobValue v;
    initLobValue(&v, stream, ctx, locator, length, type, nullptr, indexFile, indexBlock, messages);
    if (!v.loc.valid || !v.loc.hasValue)
        return;
    char path[kLobPathSize];
    FILE *file = ctx->lobStorage == kLobStorageFile ? openLobFile(ctx, offset, path) : nullptr;
    bool tagged = file == nullptr && ctx->lobTagLength > 0;
    if (tagged)
        fprintf(stream, "<%.*s>", (int)ctx->lobTagLength, ctx->lobTag);
    if (file != nullptr)
        v.sink.stream = file;
    writeFromSource(&v);
    if (tagged)
        fprintf(stream, "</%.*s>", (int)ctx->lobTagLength, ctx->lobTag);
    if (file == nullptr)
        return;
    bool empty = ftell(file) == 0;
    fclose(file);
    if (empty)
        unlink(path);
    else
        fputs(path, stream);
}

}  // namespace

void printBLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint16_t lobIndexFile,
               uint32_t lobIndexBlock)
{
    printLOB(stream, ctx, offset, length, kTypeBLOB, lobIndexFile, lobIndexBlock, &kBlobMessages);
}

void printCLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint16_t lobIndexFile,
               uint32_t lobIndexBlock)
{
    printLOB(stream, ctx, offset, length, kTypeCLOB, lobIndexFile, lobIndexBlock, &kClobMessages);
}

void printNCLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint16_t lobIndexFile,
                uint32_t lobIndexBlock)
{
    printLOB(stream, ctx, offset, length, kTypeNCLOB, lobIndexFile, lobIndexBlock, &kNclobMessages);
}

void dumpLOBValue(FILE *stream, UnloadContext *ctx, const DumpElementWriter *elements, const uint8_t *locator,
                  uint32_t length, uint32_t typeCode, uint32_t lobIndexFile, uint32_t lobIndexBlock,
                  uint8_t charsetForm)
{
    bool national = typeCode == kTypeNCLOB || (typeCode == kTypeCLOB && charsetForm == kNationalCharsetForm);
    uint8_t type = national ? kTypeNCLOB : typeCode == kTypeCLOB ? kTypeCLOB : kTypeBLOB;
    LobValue v;
    initLobValue(&v, stream, ctx, locator, length, type, elements, lobIndexFile, lobIndexBlock,
                 &kDumpMessages);
    if (ctx->lobStorage == kLobStorageNone || length == 0 || !v.loc.valid || !v.loc.hasValue) {
        elements->null(stream);
        return;
    }
    if (v.loc.hasSize && v.loc.inRow) {
        if (v.loc.inRowLength == 0 || v.loc.inRowLength > kDmpInRowMax) {
            elements->null(stream);
            return;
        }
        writeInRow(&v);
        if (v.sink.pagesWritten == 0)
            elements->null(stream);
        return;
    }
    if (!hasPageSource(&v)) {
        elements->null(stream);
        return;
    }
    elements->chain(stream);
    // The chunks and the map follow the column's handle; the index walk reads
    // the column as CLOB text.
    LobSink *sink = &v.sink;
    if (!mapIsOpen(ctx) && !v.loc.hasSize && type == kTypeNCLOB)
        sink->converter = ctx->clob;
    writeFromSource(&v);
    elements->record(stream);
}
