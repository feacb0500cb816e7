// LOB subsystem: the LOB block map, LOB locators and the LOB index, and LOB
// value output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iconv.h>

#include "core/unload_context.h"

constexpr int kLobMapBuckets = 100;
constexpr uint32_t kLobPageTableSize = 524288;   // page numbers 0 .. 0x7FFFF
constexpr uint32_t kLobIdSize = 10;
constexpr uint32_t kLobIdTextSize = 21;          // 20 hexadecimal digits and NUL
constexpr uint32_t kLobPageDataOffset = 56;      // page bytes start here in a LOB data block
constexpr uint32_t kLobPageOverhead = 60;        // a full page holds B - 60 bytes
constexpr uint32_t kLobConvertBufferSize = 32768;
constexpr uint8_t kLobBlockType = 0x28;
constexpr uint8_t kLobBlockTypeOld = 0x1B;

constexpr const char *kLobMapFileName = "ZORDICT/ZORLOB.TXT";
constexpr const char *kLobMapPartFormat = "ZORDICT/ZORLOB.%02d.TXT";
constexpr const char *kLobMapBucketFormat = "ZORDICT/ZORLOBMAP%02d.TXT";

// Where one page of a LOB lives; file 0xFFFF / block 0xFFFFFFFF when unknown.
struct LobPageLocation {
    uint16_t file;
    uint32_t block;
    uint32_t version;
};

// The LOB map state, one per process.
struct LobPageMap {
    FILE *wholeMap;                    // ZORDICT/ZORLOB.TXT while an UNLOAD runs
    FILE *buckets[kLobMapBuckets];     // ZORDICT/ZORLOBMAP00.TXT .. 99
    uint32_t pageCount;
    LobPageLocation pages[kLobPageTableSize];
    // Entries below this may be filled; the rest of the table reads empty.
    // A lookup empties only these, not all 524,288.
    uint32_t filledPages;
};

// No open map file, every bucket and page table entry empty.
void clearLobPageMap(LobPageMap *map);

// ---- LOB locator (lob_locator.cpp) ----
// The column value of a LOB column; multi-byte fields are big-endian:
//    5     u8   flags: 0x08 the value has content, 0x04 a size header at 22
//   10..19      LOB id
//   22     u8   header flags: 0x01 long size form, 0x08 data in the row
//   long form:  24 u32 page count, 28 u16 last page length, data from 30+6
//   short form: 26 u8 width n (1, 2, 4), 27 n-byte page count, 27+n u16
//               last page length, data from 30+n
//   36, 40, .. u32 chunk addresses when the data is not in the row
constexpr uint8_t kLocatorHasValue = 0x08;
constexpr uint8_t kLocatorHasSize = 0x04;
constexpr uint8_t kLocatorLongForm = 0x01;
constexpr uint8_t kLocatorInRow = 0x08;
constexpr uint32_t kLocatorChunkOffset = 36;
// SecureFile LOBs (the default LOB storage since 12c) keep the BasicFile
// head, but the fourth flag byte (offset 7) has 0x80 set and the inode after
// the LOB id starts with a 2-byte length and a flag byte with 0x40 set.  How
// their data is laid out is not known here: such a value is never written
// as bytes that may be wrong.
constexpr uint32_t kLocatorStorageFlagsOffset = 7;
constexpr uint8_t kLocatorSecureFile = 0x80;

struct LobLocator {
    bool valid;            // long enough for its flags and LOB id
    bool hasValue;
    bool hasSize;
    bool inRow;
    bool secureFile;  // the data layout is not known: see kLocatorSecureFile
    uint8_t lobId[kLobIdSize];
    char lobIdText[kLobIdTextSize];
    uint32_t pageCount;
    uint16_t lastLength;
    uint32_t inRowOffset;  // from the start of the locator
    uint32_t inRowLength;  // last page length, cut to what the locator holds
    uint32_t chunkCount;   // chunk addresses present (0 for in-row data)
};

// Decodes a locator of `length` bytes; never reads past them.
void decodeLobLocator(const uint8_t *locator, uint32_t length, LobLocator *out);
// True for a SecureFile locator (kLocatorSecureFile); never reads past
// `length`.
bool isSecureFileLocator(const uint8_t *locator, uint32_t length);
// Chunk address j (j < chunkCount).
uint32_t getLocatorChunk(const uint8_t *locator, uint32_t j);

// ---- Pages and the LOB index (lob_index.cpp) ----

int readLOBBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block);
int readLOBRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba);

// The export dump's element encoding, handed in by the dump writer above
// (unload/writers/export_dump.h gives kDumpElements): a value element, a
// NULL, the chain marker before a LOB's pages, and the end of the record.
struct DumpElementWriter {
    void (*value)(FILE *stream, const uint8_t *bytes, uint32_t length);
    void (*null)(FILE *stream);
    void (*chain)(FILE *stream);
    void (*record)(FILE *stream);
};

// Where the pages of one LOB value go: a text stream, or dump value
// elements; how CLOB and NCLOB text is converted.
struct LobSink {
    FILE *stream;
    UnloadContext *ctx;
    uint8_t type;          // 112 CLOB, 113 BLOB, 255 NCLOB
    iconv_t converter;     // ICONV_CLOB / ICONV_NCLOB, kNoConverter for none
    const DumpElementWriter *dump;  // pages become its value elements; null for text
    bool convertFailed;    // the last ICONV conversion failed
    uint64_t bytesWritten;
    uint32_t pagesWritten;
};

void initLobSink(LobSink *sink, FILE *stream, UnloadContext *ctx, uint8_t type,
                 const DumpElementWriter *dump);
// Writes one page (or in-row data) converted by the sink's column type.
void writeLobPage(LobSink *sink, const uint8_t *bytes, uint32_t length);
// The length of page `counter` by the page length rule.
uint32_t lobPageLength(uint32_t blockSize, uint32_t counter, uint32_t pageCount, uint32_t lastLength);
// True for a page after the last one (the unused blocks of a last chunk).
bool lobPagePastEnd(uint32_t counter, uint32_t pageCount);

// Writes the pages of one LOB found through its LOB index whose segment
// header is at startRdba; pageCount, *pageCounter and lastLength continue
// what was written before.
void findLobByIndex(LobSink *sink, uint32_t startRdba, const uint8_t *lobId, uint32_t pageCount,
                    uint32_t *pageCounter, uint32_t lastLength);
// The start address of a column's LOB index, 0 when it has none.
uint32_t lobIndexStart(const UnloadContext *ctx, uint32_t file, uint32_t block);

// A private copy of the context (its own block buffer, the same windows,
// without the per-column arrays), so that the row's block stays in the
// caller's buffer; null on failure.
UnloadContext *copyLobContext(const UnloadContext *ctx);
void freeLobContext(UnloadContext *copy);
// Reads (file, block) into the copy through the LOB window: *read tells
// whether a whole block came, the result whether it is a LOB data block.
bool readLobPageBlock(UnloadContext *copy, uint32_t file, uint32_t block, bool *read);

// ---- LOB map (lob_map.cpp) ----

uint32_t SuperFastHash(const char *data, int length);
uint32_t lobMapBucket(const char *lobIdText);
void listLobBlockMap(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t rfn);
// One worker of the parallel scan: the positions p with p AND 3 == k, into
// ZORDICT/ZORLOB.kk.TXT; clears running when done.
struct LobMapWorker {
    const UnloadContext *ctx;
    int k;
    int running;
};
void listLobBlockMapSerial(LobMapWorker *record);
void listLobBlockMapParallel(UnloadContext *ctx);
void hashLobBlockMap();
void openLobHashMap(LobPageMap *map);
void closeLobHashMap(LobPageMap *map);
void readLobBlockMap(LobPageMap *map, const char *lobIdText);
void parselobparams(UnloadContext *ctx, const char *text);
// The UNLOAD bracket: opens the whole map and the buckets when the map
// exists; closes them again.
void openLobMapForUnload(LobPageMap *map);
void closeLobMapAfterUnload(LobPageMap *map);

// ---- Writers (lob_output.cpp) ----

void printBLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint16_t lobIndexFile,
               uint32_t lobIndexBlock);
void printCLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint16_t lobIndexFile,
               uint32_t lobIndexBlock);
void printNCLOB(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint16_t lobIndexFile,
                uint32_t lobIndexBlock);
// One LOB column value as export-dump elements.  A locator that yields no
// value (length 0, no content) is written as a NULL so that the row keeps
// one element per column.
void dumpLOBValue(FILE *stream, UnloadContext *ctx, const DumpElementWriter *elements, const uint8_t *locator,
                  uint32_t length, uint32_t typeCode, uint32_t lobIndexFile, uint32_t lobIndexBlock,
                  uint8_t charsetForm);
