// The export dump writer: header, table definition, data section, tail.
#include "unload/writers/export_dump.h"

#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "unload/values/type_codes.h"
#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "lob/lob.h"
#include "unload/parallel/background_writer.h"
#include "unload/rows/rows.h"
#include "unload/writers/writers.h"
#include "unload/rows/row_decode.h"
#include "unload/rows/row_filters.h"
#include "unload/writers/added_columns.h"

namespace {

constexpr uint16_t kMarkerNull = 0xFFFE;
constexpr uint16_t kMarkerChain = 0xFFFD;
constexpr uint16_t kMarkerEnd = 0x0000;
constexpr uint8_t kTypeLONGRAW = 24;
constexpr uint8_t kBlockTypeData = 6;
constexpr uint32_t kTailAlignment = 2048;

// Header part 2, from the line feed after the owner's name.  Bytes 21..26
// take the character-set ids; byte 38 is the length of the file name at
// byte 101 (Oracle's own files hold the name's length there).
constexpr uint32_t kHeaderPart2Size = 118;
constexpr uint32_t kPart2CharsetAt = 21;
constexpr uint32_t kPart2NameLengthAt = 38;
constexpr uint32_t kPart2DateAt = 77;
constexpr uint32_t kPart2NameAt = 101;
constexpr const char kHeaderDate[] = "Tue Mar 22 17:29:25 2005";
constexpr const char kHeaderFileName[] = "kelpo.dmp";

// The NLS trailer.  Oracle's files carry the database and national
// character sets at 57..60 and the export (client) character sets at
// 159..162, where the layout this follows had fixed ids.
constexpr uint32_t kNlsSize = 220;
constexpr uint32_t kNlsDatabaseIdsAt = 57;
constexpr uint32_t kNlsClientIdsAt = 159;
const uint8_t kNlsBlock[] = {
    0x64, 0x00, 0x00, 0x00, 0x00, 0x60, 0x01, 0x21, 0x0F, 0x05, 0x0B, 0x0C, 0x03, 0x0C, 0x0C, 0x05, 0x04,
    0x05, 0x0D, 0x06, 0x09, 0x07, 0x08, 0x05, 0x0F, 0x05, 0x05, 0x05, 0x0F, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x0A, 0x05, 0x05, 0x05, 0x05, 0x05, 0x04, 0x05, 0x08, 0x23, 0x47, 0x23, 0x23, 0x08, 0x11, 0x23, 0x08,
    0x11, 0x41, 0xB0, 0x23, 0x00, 0x83, 0x03, 0x67, 0x03, 0x67, 0x03,
};
constexpr uint32_t kNlsBlockSpan = 102;   // the block above and 40 zero bytes
const uint8_t kNlsEnd[] = {0x06, 0x00, '+', '0', '0', ':', '0', '0', 0x05, 0x00, '8', '.', '1', '.', '6', 0x0A};

void putU16LE(uint8_t *at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void putU16BE(uint8_t *at, uint32_t value)
{
    at[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

void writeU16LE(FILE *stream, uint32_t value)
{
    uint8_t bytes[2];
    putU16LE(bytes, value);
    fwrite(bytes, 1, 2, stream);
}

void writeZeros(FILE *stream, uint32_t count)
{
    static const uint8_t zeros[256] = {};
    while (count > 0) {
        uint32_t n = count < sizeof zeros ? count : static_cast<uint32_t>(sizeof zeros);
        fwrite(zeros, 1, n, stream);
        count -= n;
    }
}

bool isLongType(uint8_t type) { return type == kTypeLONG || type == kTypeLONGRAW; }

DmpRowState *rowState(UnloadContext *ctx)
{
    if (ctx->dmpState == nullptr)
        beginDmpRows(ctx, nullptr);
    return ctx->dmpState;
}

uint32_t tableColumns(const UnloadContext *ctx)
{
    return ctx->columnCount <= static_cast<uint32_t>(kMaxColumns) ? ctx->columnCount : kMaxColumns;
}

// A column position the table has: a damaged row with more columns than
// the table writes no element for the extra ones, or every later row would
// be read one column off.  A table of unknown width takes every column.
bool positionInTable(const UnloadContext *ctx, uint32_t position)
{
    if (position >= static_cast<uint32_t>(kMaxColumns))
        return false;
    return ctx->columnCount == 0 || position < tableColumns(ctx);
}

// A value too long for one element, outside a LONG chain: cut, said once a
// value on standard error.
uint32_t cutToElement(uint32_t length)
{
    if (length <= kDmpMaxElement)
        return length;
    fprintf(stderr, "  Value of %u bytes cut to %u bytes in the export dump\n", length, kDmpMaxElement);
    return kDmpMaxElement;
}

// A LONG value's bytes as chunks of at most kDmpMaxElement bytes.
void appendDmpChunks(TextSink *sink, const uint8_t *bytes, uint32_t length)
{
    while (length > 0) {
        uint32_t n = length < kDmpMaxElement ? length : kDmpMaxElement;
        appendDmpValue(sink, bytes, n);
        bytes += n;
        length -= n;
    }
}

void writeWholeValue(TextSink *sink, DmpRowState *state, const uint8_t *bytes, uint32_t length)
{
    if (state->longChain)
        appendDmpChunks(sink, bytes, length);
    else
        appendDmpValue(sink, bytes, cutToElement(length));
}

// LOB columns: the LOB writer finds the value's pages and writes them as a
// value or a chunk chain straight to the stream, so the sink goes first.
void dumpLOBColumn(TextSink *sink, UnloadContext *ctx, uint32_t position, const uint8_t *bytes, uint32_t length)
{
    flushTextSink(sink);
    dumpLOBValue(sink->stream, ctx, &kDumpElements, bytes, length, ctx->columnTypes[position],
                 ctx->lobIndexFile[position], ctx->lobIndexBlock[position],
                 static_cast<uint8_t>(ctx->columnCharsetForm[position]));
}

void writeColumnValue(TextSink *sink, UnloadContext *ctx, uint32_t position, const uint8_t *bytes,
                      uint32_t length)
{
    uint8_t type = ctx->columnTypes[position];
    const DmpRowState *row = ctx->dmpState;
    if (isLobType(type) &&
        skipUnreadableLob(ctx, bytes, length, row->rowRdba, row->rowTable, row->rowSlot, position))
        appendDmpMarker(sink, kMarkerNull);
    else if (type == kTypeCLOB || type == kTypeBLOB)
        dumpLOBColumn(sink, ctx, position, bytes, length);
    else
        writeWholeValue(sink, ctx->dmpState, bytes, length);
}

// Appends to the carry buffer.  A carried LONG that outgrows it is written
// out as chunks first; any other value keeps what fits (it cannot be that
// long in an intact row).
void carryBytes(TextSink *sink, DmpRowState *state, const uint8_t *bytes, uint32_t length)
{
    if (state->carryLength + length > kDmpCarrySize && state->longChain) {
        appendDmpChunks(sink, state->carry, state->carryLength);
        state->carryLength = 0;
    }
    uint32_t room = kDmpCarrySize - state->carryLength;
    if (length > room) {
        fprintf(stderr, "  Value split between row pieces cut to %u bytes in the export dump\n", kDmpCarrySize);
        length = room;
    }
    memcpy(state->carry + state->carryLength, bytes, length);
    state->carryLength += length;
}

void closeLongChain(TextSink *sink, DmpRowState *state)
{
    if (state->longChain) {
        appendDmpMarker(sink, kMarkerEnd);
        state->longChain = 0;
    }
}

// Writes the value carried from an earlier piece as the element of its
// position.
void flushCarry(TextSink *sink, UnloadContext *ctx, DmpRowState *state)
{
    if (!state->carryPending)
        return;
    writeColumnValue(sink, ctx, state->carryPosition, state->carry, state->carryLength);
    state->carryPending = 0;
    state->carryLength = 0;
    closeLongChain(sink, state);
    state->nextPosition = state->carryPosition + 1;
}

// Brent's cycle test over the addresses of a chain, so that a damaged chain
// pointing back into itself ends.
struct CycleCheck {
    uint64_t saved;
    uint64_t power;
    uint64_t steps;
};

bool cycleCheckSees(CycleCheck *check, uint64_t next)
{
    if (next == check->saved)
        return true;
    if (++check->steps == check->power) {
        check->saved = next;
        check->power *= 2;
        check->steps = 0;
    }
    return false;
}

uint64_t pieceKey(uint32_t rdba, uint16_t slot) { return (static_cast<uint64_t>(rdba) << 16) | slot; }

// As in the text writer: a row is at most this many pieces.
constexpr uint32_t kMaxChainHops = 262144;
constexpr uint32_t kPieceFlag = 0;
constexpr uint32_t kPieceLock = 1;
constexpr uint32_t kMigratedRdba = 3;
constexpr uint32_t kMigratedSlot = 7;
constexpr uint32_t kClusterMemberShift = 1;

// The next-piece address of the head piece at `at`: a first piece is
// mapped and written, a migrated row's head holds only the address.
struct HeadPiece {
    uint32_t column;
    bool ended;
    uint32_t nextRdba;
    uint16_t nextSlot;
};

void writeHeadPiece(TextSink *sink, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t at, HeadPiece *head)
{
    uint8_t flag = blockU8(ctx, at + kPieceFlag);
    head->column = 0;
    head->ended = false;
    head->nextRdba = 0;
    head->nextSlot = 0;
    if (flag & kRowFlagFirst) {
        // The walk has just read the piece's position: an uncompressed piece
        // is mapped from it without a second directory lookup.
        if (isCompressTable(ctx)) {
            head->column = dumpRowPiece(sink, ctx, table, slot, 0);
        } else {
            ctx->mappedColumns = 0;
            mapNormalColumnsAt(ctx, at);
            noteDmpRowAddress(ctx, getBlockRDBA(ctx), table, slot);
            head->column = dumpMappedPiece(sink, ctx, 0);
        }
        head->ended = (ctx->rowFlag & kRowFlagLast) != 0;
        if (!head->ended) {
            head->nextRdba = ctx->nextPieceRdba;
            head->nextSlot = ctx->nextPieceSlot;
        }
        return;
    }
    if (flag & kRowFlagLast)
        return;
    uint32_t shift = (flag & kRowFlagClusterMember) ? kClusterMemberShift : 0;
    if (!readU32BE(ctx, at + kMigratedRdba + shift, &head->nextRdba) ||
        !readU16BE(ctx, at + kMigratedSlot + shift, &head->nextSlot))
        head->nextRdba = 0;
}

}  // namespace

bool beginDmpRows(UnloadContext *ctx, const ColumnList *columns)
{
    if (ctx->dmpState == nullptr) {
        ctx->dmpState = static_cast<DmpRowState *>(calloc(1, sizeof(DmpRowState)));
        if (ctx->dmpState == nullptr)
            return false;
    }
    ctx->dmpState->columns = columns;
    return true;
}

void endDmpRows(UnloadContext *ctx)
{
    free(ctx->dmpState);
    ctx->dmpState = nullptr;
}

// ---- Header and framing ----

int printDmpHeader(FILE *stream, uint16_t charset, uint16_t ncharCharset, const char *owner)
{
    size_t ownerLength = strlen(owner);
    if (ownerLength > kDmpMaxOwnerLength) {
        printf("  Owner name too long for the export dump header (%zu bytes), nothing written\n", ownerLength);
        return 0;
    }
    uint8_t part1[21];
    part1[0] = 0x03;
    putU16BE(part1 + 1, charset);
    memcpy(part1 + 3, "EXPORT:V08.01.07\nU", 18);
    fwrite(part1, 1, sizeof part1, stream);
    fwrite(owner, 1, ownerLength, stream);

    uint8_t part2[kHeaderPart2Size];
    memset(part2, 0, sizeof part2);
    memcpy(part2, "\nRTABLES\n2048\n0\n28\n0\n", 21);
    putU16BE(part2 + kPart2CharsetAt, charset);
    putU16BE(part2 + kPart2CharsetAt + 2, charset);
    putU16BE(part2 + kPart2CharsetAt + 4, ncharCharset);
    part2[28] = 0x01;
    part2[kPart2NameLengthAt] = static_cast<uint8_t>(sizeof kHeaderFileName - 1);
    memset(part2 + 40, ' ', 37);
    memcpy(part2 + kPart2DateAt, kHeaderDate, sizeof kHeaderDate - 1);
    memcpy(part2 + kPart2NameAt, kHeaderFileName, sizeof kHeaderFileName - 1);
    fwrite(part2, 1, sizeof part2, stream);
    writeZeros(stream, static_cast<uint32_t>(kDmpMaxOwnerLength - ownerLength));

    uint8_t nls[kNlsSize];
    memset(nls, 0, sizeof nls);
    memcpy(nls, kNlsBlock, sizeof kNlsBlock);
    memcpy(nls + kNlsBlockSpan, kNlsBlock, sizeof kNlsBlock);
    putU16BE(nls + kNlsDatabaseIdsAt, charset);
    putU16BE(nls + kNlsDatabaseIdsAt + 2, ncharCharset);
    putU16BE(nls + kNlsClientIdsAt, charset);
    putU16BE(nls + kNlsClientIdsAt + 2, ncharCharset);
    memcpy(nls + kNlsSize - sizeof kNlsEnd, kNlsEnd, sizeof kNlsEnd);
    fwrite(nls, 1, sizeof nls, stream);
    return 1;
}

void printDmpTable(FILE *stream, const char *tableName)
{
    fputs("TABLE \"", stream);
    for (const char *c = tableName; *c != '\0'; c++)
        fputc((*c == '\t' || *c == '\r' || *c == '\n') ? ' ' : *c, stream);
    fputs("\"\n", stream);
}

void printDmpColumns(FILE *stream, uint32_t columnCount) { writeU16LE(stream, columnCount); }

void printDmpDatatype(FILE *stream, uint32_t type, uint32_t length, uint32_t charsetId, uint32_t charsetForm)
{
    // LOBs are declared as LONG and LONG RAW of 16384 bytes.
    if (type == kTypeCLOB || type == kTypeBLOB) {
        writeU16LE(stream, type == kTypeCLOB ? kTypeLONG : kTypeLONGRAW);
        writeU16LE(stream, 0x4000);
        return;
    }
    writeU16LE(stream, type);
    if (type == kTypeLONG || type == kTypeLONGRAW) {
        writeU16LE(stream, 0x4000);
        return;
    }
    writeU16LE(stream, length);
    if (type == 1 || type == 9 || type == 96) {
        writeU16LE(stream, charsetId);
        uint8_t form[2] = {static_cast<uint8_t>(charsetForm), 0};
        fwrite(form, 1, 2, stream);
    }
}

void printDmpDataBegin(FILE *stream) { writeZeros(stream, 4); }

void printDmpDataEnd(FILE *stream)
{
    static const uint8_t end[3] = {0xFF, 0xFF, 0x0A};
    fwrite(end, 1, sizeof end, stream);
}

// Oracle's files end zero-padded to a multiple of 2048 bytes; a stream
// whose position is unknown gets a whole 2048.
void printDmpTail(FILE *stream)
{
    fputs("EXIT\nEXIT\n", stream);
    off64_t at = ftello64(stream);
    uint32_t pad = kTailAlignment;
    if (at >= 0)
        pad = static_cast<uint32_t>((kTailAlignment - static_cast<uint64_t>(at) % kTailAlignment) % kTailAlignment);
    writeZeros(stream, pad);
}

// ---- Elements ----

void printDmpValue(FILE *stream, const uint8_t *bytes, uint32_t length)
{
    if (length == 0) {
        printDmpNull(stream);
        return;
    }
    length = cutToElement(length);
    writeU16LE(stream, length);
    fwrite(bytes, 1, length, stream);
}

void printDmpNull(FILE *stream) { writeU16LE(stream, kMarkerNull); }

void printDmpChain(FILE *stream) { writeU16LE(stream, kMarkerChain); }

void printDmpRecord(FILE *stream) { writeU16LE(stream, kMarkerEnd); }

void appendDmpMarker(TextSink *sink, uint16_t marker)
{
    char *p = reserveText(sink, 2);
    p[0] = static_cast<char>(marker & 0xFF);
    p[1] = static_cast<char>(marker >> 8);
    commitText(sink, p + 2);
}

void appendDmpValue(TextSink *sink, const uint8_t *bytes, uint32_t length)
{
    if (length == 0) {
        appendDmpMarker(sink, kMarkerNull);
        return;
    }
    length = cutToElement(length);
    appendDmpMarker(sink, static_cast<uint16_t>(length));
    appendText(sink, bytes, length);
}

// ---- Rows ----

void startDmpRow(UnloadContext *ctx)
{
    DmpRowState *state = rowState(ctx);
    if (state == nullptr)
        return;
    state->longChain = 0;
    state->nextPosition = 0;
    state->carryPending = 0;
    state->carryLength = 0;
}

void closeDmpRow(TextSink *sink, UnloadContext *ctx, uint32_t column)
{
    DmpRowState *state = rowState(ctx);
    if (state != nullptr) {
        flushCarry(sink, ctx, state);
        closeLongChain(sink, state);
        column = state->nextPosition;
    }
    for (uint32_t c = column; c < tableColumns(ctx); c++)
        appendDmpMarker(sink, kMarkerNull);
    appendDmpMarker(sink, kMarkerEnd);
    startDmpRow(ctx);
}

// Brings the row to `position`: a carried value of an earlier position is
// written first (the piece that should have continued it did not), and the
// positions a damaged piece skipped get NULLs.  False when `position` was
// written already (a piece that claims to continue a finished value).
bool reachPosition(TextSink *sink, UnloadContext *ctx, DmpRowState *state, uint32_t position)
{
    if (state->carryPending && position != state->carryPosition)
        flushCarry(sink, ctx, state);
    if (state->carryPending)
        return true;
    if (position < state->nextPosition)
        return false;
    while (state->nextPosition < position) {
        appendDmpMarker(sink, kMarkerNull);
        state->nextPosition++;
    }
    return true;
}

void dumpColumnValue(TextSink *sink, UnloadContext *ctx, uint32_t position, const uint8_t *bytes,
                     uint32_t length, bool continuesInNext)
{
    DmpRowState *state = rowState(ctx);
    if (state == nullptr || !positionInTable(ctx, position))
        return;
    if (length == 0 && !continuesInNext && ctx->addedColumns != nullptr) {
        const char *value = nullptr;
        uint32_t valueLength = 0;
        if (addedDefaultForNull(ctx, position, true, true, &value, &valueLength)) {
            bytes = reinterpret_cast<const uint8_t *>(value);
            length = valueLength;
        }
    }
    // Most values: the next column, nothing carried, no chain, no LOB.
    uint8_t type = ctx->columnTypes[position];
    if (position == state->nextPosition && !state->carryPending && !continuesInNext && length <= kDmpMaxElement &&
        !isLongType(type) && type != kTypeCLOB && type != kTypeBLOB) {
        appendDmpValue(sink, bytes, length);
        state->nextPosition = position + 1;
        return;
    }
    if (!reachPosition(sink, ctx, state, position))
        return;
    // A NULL LONG is a plain NULL: a chain opened for it would make FD FF
    // FE FF, which a reader takes for a chunk of 65534 bytes.
    if (length == 0 && !state->carryPending && !continuesInNext) {
        appendDmpMarker(sink, kMarkerNull);
        state->nextPosition = position + 1;
        return;
    }
    if (!state->longChain && isLongType(ctx->columnTypes[position])) {
        appendDmpMarker(sink, kMarkerChain);
        state->longChain = 1;
    }
    if (continuesInNext) {
        carryBytes(sink, state, bytes, length);
        state->carryPending = 1;
        state->carryPosition = position;
        return;
    }
    if (state->carryPending) {
        carryBytes(sink, state, bytes, length);
        flushCarry(sink, ctx, state);
        return;
    }
    writeColumnValue(sink, ctx, position, bytes, length);
    closeLongChain(sink, state);
    state->nextPosition = position + 1;
}

// The piece already mapped into the context's slots.
uint32_t dumpMappedPiece(TextSink *sink, UnloadContext *ctx, uint32_t firstColumn)
{
    uint8_t flag = ctx->rowFlag;
    uint32_t start = firstColumn;
    if ((flag & kRowFlagPrevious) && start > 0)
        start--;
    uint32_t mapped = ctx->mappedColumns;
    if (ctx->addedColumns != nullptr)
        noteAddedColumnsPiece(ctx, start, firstColumn);
    for (uint32_t i = 0; i < mapped; i++) {
        uint32_t stored = i < ctx->permutationCount ? ctx->permutation[i] : i;
        uint32_t length = stored < mapped ? ctx->slots.length[stored] : 0;
        uint32_t offset = stored < mapped ? ctx->slots.offset[stored] : 0;
        if (length != 0 && !blockHasRange(ctx, offset, length))
            length = 0;
        // The last column of a piece with N goes on in the next piece (a
        // single column may be both the continuation and the one continued).
        bool continues = i + 1 == mapped && (flag & kRowFlagNext) != 0;
        dumpColumnValue(sink, ctx, start + i, ctx->block + offset, length, continues);
    }
    if (flag & kRowFlagLast) {
        // A row written before a column was added ends before it.
        if (ctx->addedColumns != nullptr) {
            for (uint32_t p = start + mapped; p < ctx->columnCount && p < static_cast<uint32_t>(kMaxColumns);
                 p++) {
                const char *value = nullptr;
                uint32_t length = 0;
                if (addedDefaultForNull(ctx, p, false, true, &value, &length))
                    dumpColumnValue(sink, ctx, p, reinterpret_cast<const uint8_t *>(value), length, false);
            }
        }
        closeDmpRow(sink, ctx, start + mapped);
    }
    return start + mapped;
}

void noteDmpRowAddress(UnloadContext *ctx, uint32_t rowRdba, uint32_t table, uint32_t slot)
{
    DmpRowState *state = rowState(ctx);
    if (state == nullptr)
        return;
    state->rowRdba = rowRdba;
    state->rowTable = table;
    state->rowSlot = slot;
}

uint32_t dumpRowPiece(TextSink *sink, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t firstColumn)
{
    ctx->mappedColumns = 0;
    if (isCompressTable(ctx))
        mapCompressColumns(ctx, table, slot);
    else
        mapNormalColumns(ctx, table, slot);
    noteDmpRowAddress(ctx, getBlockRDBA(ctx), table, slot);
    return dumpMappedPiece(sink, ctx, firstColumn);
}

uint32_t dumpDataRow2(FILE *stream, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t firstColumn)
{
    TextSink *sink = static_cast<TextSink *>(malloc(sizeof(TextSink)));
    if (sink == nullptr)
        return firstColumn;
    initTextSink(sink, stream);
    uint32_t next = dumpRowPiece(sink, ctx, table, slot, firstColumn);
    flushTextSink(sink);
    free(sink);
    return next;
}

uint32_t dumpChainedPieces(TextSink *sink, UnloadContext *ctx, UnloadContext *chain, uint32_t table,
                           uint32_t rdba, uint16_t slot, uint32_t column, uint32_t objd, uint64_t headKey,
                           bool *ended, ChainStop *stop)
{
    *ended = false;
    ChainStop own;
    if (stop == nullptr)
        stop = &own;
    *stop = {kPieceReadable, 0, 0};
    CycleCheck cycle = {headKey, 1, 0};
    uint32_t hops = 0;
    uint32_t ownRdba = getBlockRDBA(ctx);
    while (rdba != 0) {
        *stop = {kPieceReadable, rdba, slot};
        uint64_t key = pieceKey(rdba, slot);
        if (key == headKey || cycleCheckSees(&cycle, key) || hops >= kMaxChainHops) {
            stop->reason = kPieceLoop;
            break;
        }
        if (readSingleRDBA(chain->datafiles, chain, rdba) != static_cast<int>(chain->blockSize)) {
            stop->reason = kPieceUnreadable;
            break;
        }
        hops++;
        if (objd != 0 && ctx->maxChains != 0 && hops > ctx->maxChains) {
            flushTextSink(sink);
            printf("Max chained block reached, RDBA=%u ...\n", ownRdba);
            break;
        }
        if (ctx->verbose) {
            flushTextSink(sink);
            printf("Recover rows from chained block RDBA=%u ...\n", rdba);
        }
        if (matchBlockTail(chain) != 0) {
            flushTextSink(sink);
            printf("Block check failured at RDBA=0x%08x=%u\n", rdba, rdba);
            stop->reason = kPieceBadBlock;
            break;
        }
        if (getBlockType(chain) != kBlockTypeData) {
            stop->reason = kPieceNotData;
            break;
        }
        // A misplaced write leaves another block's rows at this address.
        if (getBlockRDBA(chain) != rdba) {
            stop->reason = kPieceOtherBlock;
            break;
        }
        // A piece in a block of another object is not part of this row: the
        // row ends here like at any other early end.
        if (objd != 0 && getDataObjectID(chain) != objd) {
            stop->reason = kPieceOtherObject;
            break;
        }
        if (isCompressTable(chain))
            getCompressOrder(chain);
        uint32_t pieceTable = isCompressTable(chain) ? 1 : table;
        if (slot >= getTableRowCount(chain, pieceTable) ||
            getTableRowOffset(chain, pieceTable, slot) == kFreeRowEntry) {
            stop->reason = kPieceNotInBlock;
            break;
        }
        column = dumpRowPiece(sink, chain, table, slot, column);
        if (chain->rowFlag & kRowFlagLast) {
            *ended = true;
            break;
        }
        rdba = chain->nextPieceRdba;
        slot = chain->nextPieceSlot;
    }
    return column;
}

namespace {

// A migrated row's body met by the walk (F without H), written as the row
// only when its head is lost, and named.  Out of line, as in the text walk.
__attribute__((noinline, cold)) void dumpOrphanBody(TextSink *sink, UnloadContext *ctx, UnloadContext **chain,
                                                    uint32_t table, uint32_t slot, uint32_t at, uint8_t flag,
                                                    uint8_t deleted)
{
    LostHead head;
    if (!bodyHeadIsLost(ctx, chain, table, slot, at, flag, deleted, &head))
        return;
    uint32_t rdba = getBlockRDBA(ctx);
    uint32_t objd = getDataObjectID(ctx);
    startDmpRow(ctx);
    uint32_t column = dumpRowPiece(sink, ctx, table, slot, 0);
    ctx->rowsUnloaded++;
    ChainStop stop = {kPieceReadable, 0, 0};
    if (!(ctx->rowFlag & kRowFlagLast)) {
        bool ended = false;
        if (ctx->nextPieceRdba != 0)
            column =
                dumpChainedPieces(sink, ctx, *chain, table, ctx->nextPieceRdba, ctx->nextPieceSlot, column,
                                  objd, pieceKey(rdba, static_cast<uint16_t>(slot)), &ended, &stop);
        if (!ended)
            closeDmpRow(sink, ctx, column);
    }
    flushTextSink(sink);
    if (stop.reason != kPieceReadable)
        noteIncompleteRow(ctx, rdba, table, slot, stop.rdba, stop.slot, stop.reason);
    noteOrphanBody(ctx, rdba, table, slot, head.rdba, head.slot, head.reason, stop.reason != kPieceReadable);
}

}  // namespace

void dumpDataRows2(FILE *stream, UnloadContext *ctx, uint32_t table, uint8_t deleted, uint8_t committed)
{
    if (!blockRowsReadable(ctx, table))
        return;
    uint32_t rdba = getBlockRDBA(ctx);
    if (rowState(ctx) == nullptr)
        return;
    if (isCompressTable(ctx)) {
        getCompressOrder(ctx);
        table = 1;
    }
    TextSink *sink = static_cast<TextSink *>(malloc(sizeof(TextSink)));
    if (sink == nullptr)
        return;
    initTextSink(sink, stream);
    lendOutputBuffer(sink, stream);
    UnloadContext *chain = nullptr;
    uint32_t objd = getDataObjectID(ctx);
    uint32_t dataHeader = getDataBeginOffset(ctx);
    for (uint32_t slot = 0; slot < getTableRowCount(ctx, table) && ctx->rowsUnloaded < ctx->rowLimit; slot++) {
        uint16_t offset = getTableRowOffset(ctx, table, slot);
        if (offset == kFreeRowEntry || offset < getRecordCount(ctx) || offset < getFreeSpaceEndOffset(ctx))
            continue;
        uint32_t at = dataHeader + offset;
        if (!blockHasRange(ctx, at, kPieceLock + 1))
            continue;
        uint8_t flag = blockU8(ctx, at + kPieceFlag);
        if (committed && lockedByOpenTransaction(ctx, blockU8(ctx, at + kPieceLock)))
            continue;
        if ((!deleted && (flag & kRowFlagDeleted)) || !(flag & kRowFlagHead)) {
            if ((flag & (kRowFlagHead | kRowFlagFirst)) == kRowFlagFirst)
                dumpOrphanBody(sink, ctx, &chain, table, slot, at, flag, deleted);
            continue;
        }
        startDmpRow(ctx);
        HeadPiece head;
        writeHeadPiece(sink, ctx, table, slot, at, &head);
        ctx->rowsUnloaded++;
        if (head.ended)
            continue;
        if (head.nextRdba != 0 && chain == nullptr)
            chain = makeChainContext(ctx);
        bool ended = false;
        uint32_t column = head.column;
        ChainStop stop = {kPieceReadable, 0, 0};
        if (head.nextRdba != 0 && chain != nullptr)
            column = dumpChainedPieces(sink, ctx, chain, table, head.nextRdba, head.nextSlot, column, objd,
                                       pieceKey(rdba, static_cast<uint16_t>(slot)), &ended, &stop);
        // Whatever stopped the chain, the row gets its elements and its end,
        // and a lost piece is named as the text walk names it.
        if (!ended)
            closeDmpRow(sink, ctx, column);
        if (stop.reason != kPieceReadable) {
            flushTextSink(sink);
            noteIncompleteRow(ctx, rdba, table, slot, stop.rdba, stop.slot, stop.reason);
        }
    }
    flushTextSink(sink);
    free(sink);
    freeChainContext(chain);
}

const DumpElementWriter kDumpElements = {printDmpValue, printDmpNull, printDmpChain, printDmpRecord};
