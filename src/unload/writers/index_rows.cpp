// Index rows: the leaf entries of an index-organized table's primary-key
// index written as text records or export dump rows.  Each entry holds the
// key columns and the rest of the row (the data part); a row too long for
// the leaf goes on in pieces of the overflow segment, an ordinary table
// segment, whose pieces the table-row writers write.  Branch blocks hold no
// rows.
#include <cstdlib>

#include "block/block.h"
#include "unload/values/type_codes.h"
#include "datafile/datafile.h"
#include "index/index.h"
#include "scan/scan.h"
#include "unload/writers/writers.h"
#include "unload/rows/row_decode.h"
#include "unload/rows/row_filters.h"
#include "unload/rows/rows.h"
#include "unload/values/value_format.h"

namespace {

constexpr uint32_t kEntryFlag = 0;
constexpr uint32_t kEntryLock = 1;
constexpr uint8_t kEntryDeleted = 0x01;
constexpr uint8_t kUnknownType = 253;
constexpr int kMaxWarningsPerColumn = 5;
// A row is at most this many pieces (as for table rows).
constexpr uint32_t kMaxChainHops = 262144;

uint64_t pieceKey(uint32_t rdba, uint32_t slot) { return (static_cast<uint64_t>(rdba) << 16) | (slot & 0xFFFF); }

// A leaf whose rows are to be written: intact and not skipped, with the
// messages of table blocks.
bool leafToUnload(const UnloadContext *ctx)
{
    return getIndexColev(ctx) == 0 && blockPassesRowChecks(ctx);
}

// Entries the row directory can hold: a count from the block is capped by
// what the block has room for.
uint32_t entryCount(const UnloadContext *ctx)
{
    uint32_t count = getIndexRowCount(ctx);
    uint32_t room = ctx->blockSize / 2u;
    return count < room ? count : room;
}

// The entry filters: the row limit ends the block; deleted entries and
// entries of open transactions are passed over when asked.
bool entryWanted(const UnloadContext *ctx, uint32_t entry, uint8_t deleted, uint8_t committed)
{
    uint32_t p = getDataLayerOffset(ctx) + getIndexOffset(ctx, entry);
    uint8_t flag;
    uint8_t lock;
    if (!readU8(ctx, p + kEntryFlag, &flag) || !readU8(ctx, p + kEntryLock, &lock))
        return false;
    if (committed && lockedByOpenTransaction(ctx, lock))
        return false;
    return deleted || !(flag & kEntryDeleted);
}

// Maps one entry from a clean row state; answers the data part's flag.
int mapEntry(UnloadContext *ctx, uint32_t entry)
{
    ctx->mappedColumns = 0;
    ctx->permutationCount = 0;
    ctx->nextPieceRdba = 0;
    ctx->nextPieceSlot = 0;
    return mapIndexEntry(ctx, entry);
}

void writeTag(FILE *stream, const char *tag, uint16_t length)
{
    fwrite(tag, 1, length < kTagSize ? length : kTagSize, stream);
}

// CSV values and separators go through the quoting writer, which works on a
// text sink; index-organized rows are rare enough to take one per call.
enum CsvStep { kCsvValue, kCsvFieldTag, kCsvRecordTag };

void writeCsvStep(FILE *stream, UnloadContext *ctx, CsvStep step, uint32_t column, uint32_t entry)
{
    TextSink *sink = static_cast<TextSink *>(malloc(sizeof(TextSink)));
    if (sink == nullptr)
        return;
    initTextSink(sink, stream);
    if (step == kCsvValue)
        appendCsvField(sink, ctx, ctx->slots.offset[column], ctx->slots.length[column], ctx->columnTypes[column],
                       column, 0, entry, 0);
    else if (step == kCsvFieldTag)
        noteCsvFieldTag(sink, ctx);
    else
        finishCsvRecord(sink, ctx);
    flushTextSink(sink);
    free(sink);
}

void writeFieldTag(FILE *stream, UnloadContext *ctx)
{
    if (ctx->csv != nullptr)
        writeCsvStep(stream, ctx, kCsvFieldTag, 0, 0);
    writeTag(stream, ctx->fieldTag, ctx->fieldTagLength);
}

void writeRecordTag(FILE *stream, UnloadContext *ctx)
{
    if (ctx->csv != nullptr)
        writeCsvStep(stream, ctx, kCsvRecordTag, 0, 0);
    writeTag(stream, ctx->recordTag, ctx->recordTagLength);
}

void warnUnknownType(UnloadContext *ctx, uint32_t position, uint32_t entry, uint32_t offset, uint32_t length)
{
    if (ctx->unknownTypeWarnings[position] >= kMaxWarningsPerColumn)
        return;
    ctx->unknownTypeWarnings[position]++;
    printf("Warnings : UNKNOWN column type %d at %d.%d.%d value 0x", static_cast<int>(position + 1),
           static_cast<int32_t>(getBlockRDBA(ctx)), 0, static_cast<int>(entry));
    printVARRAW(stdout, ctx, offset, length);
    putchar('\n');
}

// The entry's own columns, as the table-row writer writes a piece.
void printEntryColumns(FILE *stream, UnloadContext *ctx, uint32_t entry)
{
    bool guessing = ctx->guessMode != 0;
    uint32_t mapped = ctx->mappedColumns;
    for (uint32_t i = 0; i < mapped && i < static_cast<uint32_t>(kMaxColumns); i++) {
        uint32_t offset = ctx->slots.offset[i];
        uint32_t length = ctx->slots.length[i];
        uint8_t type = ctx->columnTypes[i];
        if (length != 0 && type != 0) {
            if (guessing) {
                guessField(ctx, offset, length, i);
            } else {
                if (ctx->indexOption != 0 || type == kUnknownType)
                    fprintf(stream, "C%d=", static_cast<int>(i + 1));
                if (type == kUnknownType) {
                    if (stream == stdout)
                        fflush(stdout);
                    warnUnknownType(ctx, i, entry, offset, length);
                }
                if (isLobType(type) && skipUnreadableLob(ctx, blockBytes(ctx, offset, length), length,
                                                         getBlockRDBA(ctx), 0, entry, i)) {
                    // written as NULL: nothing between the separators
                } else if (ctx->csv != nullptr)
                    writeCsvStep(stream, ctx, kCsvValue, i, entry);
                else
                    printField(stream, ctx, offset, length, type, ctx->lobIndexFile[i], ctx->lobIndexBlock[i],
                               ctx->columnCharsetForm[i]);
            }
        }
        if (i + 1 < mapped && type != 0 && !guessing)
            writeFieldTag(stream, ctx);
    }
}

// Follows the data part into the overflow segment.  True when a piece
// ended the record; otherwise the caller ends it.
bool printOverflowPieces(FILE *stream, UnloadContext *ctx, UnloadContext *chain, uint64_t headKey)
{
    uint32_t rdba = ctx->nextPieceRdba;
    uint16_t slot = ctx->nextPieceSlot;
    uint32_t column = ctx->mappedColumns;
    uint64_t seen = headKey;
    for (uint32_t hops = 0; rdba != 0 && hops < kMaxChainHops; hops++) {
        uint64_t key = pieceKey(rdba, slot);
        if (key == headKey || key == seen)
            return false;
        seen = key;
        if (readSingleRDBA(chain->datafiles, chain, rdba) != static_cast<int>(chain->blockSize))
            return false;
        if (ctx->verbose)
            printf("Recover rows from chained block RDBA=%u ...\n", rdba);
        if (matchBlockTail(chain) != 0) {
            printf("Block check failured at RDBA=0x%08x=%u\n", rdba, rdba);
            return false;
        }
        if (isCompressTable(chain))
            getCompressOrder(chain);
        column = printDataRow2(stream, chain, 0, slot, column);
        if (chain->rowFlag & kRowFlagLast)
            return true;
        rdba = chain->nextPieceRdba;
        slot = chain->nextPieceSlot;
    }
    return false;
}

void printEntry(FILE *stream, UnloadContext *ctx, UnloadContext **chain, uint32_t entry)
{
    bool guessing = ctx->guessMode != 0;
    uint32_t rdba = getBlockRDBA(ctx);
    if (!guessing && ctx->rowAddress) {
        fprintf(stream, "%d.%d.%d", static_cast<int32_t>(rdba), 0, static_cast<int>(entry));
        writeTag(stream, ctx->fieldTag, ctx->fieldTagLength);
    }
    int dataFlag = mapEntry(ctx, entry);
    ctx->rowsUnloaded++;
    printEntryColumns(stream, ctx, entry);
    bool ended = false;
    if (ctx->nextPieceRdba != 0) {
        // The data part's own flag says whether its last column goes on in
        // the next piece (then no separator comes between the two parts).
        if (!guessing && (dataFlag == kNoDataPart || !(dataFlag & kRowFlagNext)))
            writeFieldTag(stream, ctx);
        if (*chain == nullptr)
            *chain = makeChainContext(ctx);
        if (*chain != nullptr)
            ended = printOverflowPieces(stream, ctx, *chain, pieceKey(rdba, entry));
    }
    if (!ended && !guessing)
        writeRecordTag(stream, ctx);
}

void dumpEntry(TextSink *sink, UnloadContext *ctx, UnloadContext **chain, uint32_t entry)
{
    startDmpRow(ctx);
    noteDmpRowAddress(ctx, getBlockRDBA(ctx), 0, entry);
    int dataFlag = mapEntry(ctx, entry);
    ctx->rowsUnloaded++;
    uint32_t mapped = ctx->mappedColumns;
    bool continues = ctx->nextPieceRdba != 0 && dataFlag != kNoDataPart && (dataFlag & kRowFlagNext) != 0;
    for (uint32_t i = 0; i < mapped; i++) {
        uint32_t length = ctx->slots.length[i];
        uint32_t offset = ctx->slots.offset[i];
        if (length != 0 && !blockHasRange(ctx, offset, length))
            length = 0;
        dumpColumnValue(sink, ctx, i, ctx->block + offset, length, continues && i + 1 == mapped);
    }
    uint32_t column = mapped;
    bool ended = false;
    if (ctx->nextPieceRdba != 0) {
        if (*chain == nullptr)
            *chain = makeChainContext(ctx);
        if (*chain != nullptr)
            column = dumpChainedPieces(sink, ctx, *chain, 0, ctx->nextPieceRdba, ctx->nextPieceSlot, column, 0,
                                       pieceKey(getBlockRDBA(ctx), entry), &ended);
    }
    if (!ended)
        closeDmpRow(sink, ctx, column);
}

}  // namespace

void printIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed)
{
    if (!leafToUnload(ctx))
        return;
    UnloadContext *chain = nullptr;
    uint32_t entries = entryCount(ctx);
    for (uint32_t entry = 0; entry < entries && ctx->rowsUnloaded < ctx->rowLimit; entry++) {
        if (entryWanted(ctx, entry, deleted, committed))
            printEntry(stream, ctx, &chain, entry);
    }
    freeChainContext(chain);
}

void dumpIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed)
{
    if (!leafToUnload(ctx))
        return;
    if (ctx->dmpState == nullptr && !beginDmpRows(ctx, nullptr))
        return;
    TextSink *sink = static_cast<TextSink *>(malloc(sizeof(TextSink)));
    if (sink == nullptr)
        return;
    initTextSink(sink, stream);
    UnloadContext *chain = nullptr;
    uint32_t entries = entryCount(ctx);
    for (uint32_t entry = 0; entry < entries && ctx->rowsUnloaded < ctx->rowLimit; entry++) {
        if (entryWanted(ctx, entry, deleted, committed))
            dumpEntry(sink, ctx, &chain, entry);
    }
    flushTextSink(sink);
    free(sink);
    freeChainContext(chain);
}
