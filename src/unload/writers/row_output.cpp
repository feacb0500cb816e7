// Row output and segment traversal: walks the blocks of one segment (through
// its extent map, one extent of the extent file, or a scan of the datafiles),
// picks the rows of one table out of each data block, follows chained and
// migrated pieces into other blocks and writes every row as one text record.
//
// Record layout (guess mode off):
//   [row address "%d.%d.%d" FIELD_TAG]
//   value FIELD_TAG value FIELD_TAG ... value RECORD_TAG
// A column of type 0 (SKIP) writes neither value nor separator; a NULL writes
// an empty value; trailing NULLs are not stored and write nothing.  Values
// with the index option (or of unknown type 253) are labelled "C%d=".
//
// Every block is untrusted: counts taken from a block are capped by what the
// block can hold, every chain of pieces or of extent map blocks ends (cycle
// check, MAXCHAINS, hard cap), and a damaged block ends that row or block with
// its message while the unload goes on.
#include "unload/writers/writers.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "unload/values/type_codes.h"
#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "index/index.h"
#include "scan/scan.h"
#include "unload/writers/added_columns.h"
#include "unload/writers/csv_output.h"
#include "unload/values/type_codes.h"
#include "unload/writers/export_dump.h"
#include "unload/parallel/background_writer.h"
#include "unload/parallel/parallel_unload.h"
#include "unload/rows/rows.h"
#include "unload/values/text_sink.h"
#include "unload/values/value_format.h"

namespace {

constexpr uint8_t kBlockTypeData = 6;
constexpr uint8_t kDataTypeTable = 1;
constexpr uint8_t kDataTypeIndex = 2;
constexpr uint8_t kOutputStyleText = 0;
constexpr uint8_t kUnknownType = 253;

// Row piece header: flag, lock byte (1-based ITL entry, 0 = unlocked).  A
// migrated row's head piece holds only the address of the rest: RDBA then
// slot, big-endian, one byte further on when the piece is a cluster member.
constexpr uint32_t kPieceFlag = 0;
constexpr uint32_t kPieceLock = 1;
constexpr uint32_t kMigratedRdba = 3;
constexpr uint32_t kMigratedSlot = 7;
constexpr uint32_t kClusterMemberShift = 1;

// SCAN TABLE samples at most this many rows of one object.
constexpr uint64_t kGuessSampleRows = 8192;

constexpr int kMaxWarningsPerColumn = 5;

// A row longer than this many pieces is not followed further even without
// MAXCHAINS: a 2 GB LONG in 8 KB blocks needs 262144 of them.
constexpr uint32_t kMaxChainHops = 262144;
// Extent map blocks followed from one segment header.
constexpr uint32_t kMaxMapBlocks = 65536;
// A smallfile datafile holds at most 2^22 blocks.
constexpr uint64_t kBlocksPerFile = 0x400000;
constexpr uint32_t kExtentEntrySize = 8;
constexpr uint32_t kFirstScannedBlock = 2;

// Brent's cycle test over a sequence of addresses: catches any loop after at
// most twice its length plus its entry distance, with no memory but two
// values, so that a damaged chain pointing back into itself ends.
struct CycleCheck {
    uint64_t saved;
    uint64_t power;
    uint64_t steps;
};

void startCycleCheck(CycleCheck *check, uint64_t first)
{
    check->saved = first;
    check->power = 1;
    check->steps = 0;
}

// True when `next` closes a loop.
bool cycleCheckSees(CycleCheck *check, uint64_t next)
{
    if (next == check->saved)
        return true;
    check->steps++;
    if (check->steps == check->power) {
        check->saved = next;
        check->power *= 2;
        check->steps = 0;
    }
    return false;
}

uint64_t pieceKey(uint32_t rdba, uint16_t slot)
{
    return (static_cast<uint64_t>(rdba) << 16) | slot;
}

// Separators are most often one byte ("|", "," and a line feed).  Written
// after nearly every value, so kept inline.
inline void writeFieldTag(TextSink *sink, const UnloadContext *ctx)
{
    if (ctx->csv != nullptr)
        noteCsvFieldTag(sink, ctx);
    uint32_t length = ctx->fieldTagLength < kTagSize ? ctx->fieldTagLength : kTagSize;
    if (length == 1)
        appendByte(sink, ctx->fieldTag[0]);
    else
        appendText(sink, ctx->fieldTag, length);
}

inline void writeRecordTag(TextSink *sink, const UnloadContext *ctx)
{
    if (ctx->csv != nullptr)
        finishCsvRecord(sink, ctx);
    uint32_t length = ctx->recordTagLength < kTagSize ? ctx->recordTagLength : kTagSize;
    if (length == 1)
        appendByte(sink, ctx->recordTag[0]);
    else
        appendText(sink, ctx->recordTag, length);
}

// "%d" without printf.
char *putSigned(char *p, int32_t value)
{
    uint32_t v = static_cast<uint32_t>(value);
    if (value < 0) {
        *p++ = '-';
        v = 0u - v;
    }
    return putUnsigned(p, v);
}

bool limitReached(const UnloadContext *ctx)
{
    return ctx->rowsUnloaded >= ctx->rowLimit;
}

// Hands the data or index block in the buffer to the row writer of the
// output style.
void dispatchBlock(FILE *stream, UnloadContext *ctx, uint32_t table, uint8_t deleted, uint8_t committed)
{
    uint8_t dataType = getDataType(ctx);
    ctx->objectBlocks++;
    if (ctx->outputStyle != kOutputStyleText) {
        if (dataType == kDataTypeTable)
            dumpDataRows2(stream, ctx, table, deleted, committed);
        else if (dataType == kDataTypeIndex)
            dumpIndexRow2(stream, ctx, deleted, committed);
        return;
    }
    if (dataType == kDataTypeTable)
        printDataRows2(stream, ctx, table, deleted, committed);
    else if (dataType == kDataTypeIndex)
        printIndexRow2(stream, ctx, deleted, committed);
}

// "type=0x%02x" of the cache header and the object id: the block belongs to
// the segment being unloaded.
bool isDataBlockOf(const UnloadContext *ctx, uint32_t objd)
{
    return getBlockType(ctx) == kBlockTypeData && getDataObjectID(ctx) == objd;
}

// Block types that belong to a segment without holding its rows: segment
// headers, extent maps and the ASSM bitmap blocks.
bool isSegmentMetadata(uint8_t type)
{
    return (type >= 16 && type <= 18) || (type >= 32 && type <= 36);
}

bool blockIsZeros(const uint8_t *block, uint32_t size)
{
    for (uint32_t i = 0; i < size; i++)
        if (block[i] != 0)
            return false;
    return true;
}

// How much of a block the walk accounts for.  Below a high-water mark every
// block is the segment's.  Where no mark is known (an extent file, a header
// without one) a block may be one never formatted, or left by an object
// dropped before: only what is damage anywhere is named.
enum BlockAccount {
    kAccountNone = 0,
    kAccountDamage,
    kAccountAll,
};

void nameBlockNotRead(UnloadContext *ctx, uint32_t rdba, int reason, uint32_t detail)
{
    noteBlockNotRead(ctx, rdba, reason, detail, markBlockNotReadLine());
}

// A block of the walk that is not a data block of objd, named with the
// reason as `account` asks.  Out of line: intact segments never come here,
// and the row writers' loop stays as compact as it was.
__attribute__((noinline, cold)) void nameForeignBlock(UnloadContext *ctx, uint32_t rdba, uint32_t own,
                                                       BlockAccount account)
{
    uint8_t type = getBlockType(ctx);
    // Unformatted ASSM blocks below the mark are zeros too: this reason
    // stands alone so that the user can tell them from damage.
    if (type == 0 && blockIsZeros(ctx->block, ctx->blockSize)) {
        if (account == kAccountAll)
            nameBlockNotRead(ctx, rdba, kBlockZeros, 0);
    } else if (ctx->blockCheck && do_checksum(ctx->blockSize, ctx->block) != 0)
        nameBlockNotRead(ctx, rdba, kBlockBadChecksum, 0);
    else if (own != rdba)
        nameBlockNotRead(ctx, rdba, kBlockOtherAddress, own);
    else if (account != kAccountAll)
        return;
    else if (type == kBlockTypeData)
        nameBlockNotRead(ctx, rdba, kBlockOtherObject, getDataObjectID(ctx));
    else if (!isSegmentMetadata(type))
        nameBlockNotRead(ctx, rdba, kBlockNotData, type);
}

// Whether the block just read for `rdba` is a data block of objd; when it
// is not, it is named with the reason as `account` asks.  A data block of
// objd that fails its checksum is named too, and still handed on.
inline bool isSegmentDataBlock(UnloadContext *ctx, uint32_t rdba, uint32_t objd, BlockAccount account)
{
    uint32_t own = getBlockRDBA(ctx);
    if (own == rdba && isDataBlockOf(ctx, objd)) {
        if (account != kAccountNone && ctx->blockCheck && do_checksum(ctx->blockSize, ctx->block) != 0)
            nameBlockNotRead(ctx, rdba, kBlockBadChecksum, 0);
        return true;
    }
    if (account != kAccountNone)
        nameForeignBlock(ctx, rdba, own, account);
    return false;
}

// Blocks of an extent that cannot be visited one by one: past the end of
// an open file, or in a file that is not open.  Taken as one step of the
// walk, so that exactly one worker names them.
void noteUnvisitedBlocks(UnloadContext *ctx, uint32_t file, uint32_t rdba, uint64_t count)
{
    if (count == 0 || !ownsNextBlock())
        return;
    bool open = ctx->bigfile || getFileIndex(ctx->datafiles, file) >= 0;
    int reason = open ? kBlockPastEnd : kBlockUnreadable;
    // A damaged entry may claim millions: no more are named than one
    // unload shows, the rest only counted.
    uint64_t named = count < blockNotReadLineCap() ? count : blockNotReadLineCap();
    for (uint64_t i = 0; i < named; i++)
        nameBlockNotRead(ctx, static_cast<uint32_t>(rdba + i), reason, 0);
    countBlocksNotRead(ctx, count - named, reason);
}

// Writes the unknown-type warning of one value, at most five per column of
// the unload: `warnings` are the counts of the context running it, whichever
// context holds the piece's block.
void warnUnknownType(TextSink *sink, UnloadContext *ctx, uint16_t *warnings, uint32_t position,
                     uint32_t table, uint32_t slot, uint32_t offset, uint32_t length)
{
    if (warnings[position] >= kMaxWarningsPerColumn)
        return;
    warnings[position]++;
    // The rows written so far come first when both go to standard output.
    flushTextSink(sink);
    markUnknownTypeWarning(position);
    printf("Warnings : UNKNOWN column type %d at %d.%d.%d value 0x", static_cast<int>(position + 1),
           static_cast<int32_t>(getBlockRDBA(ctx)), static_cast<int>(table), static_cast<int>(slot));
    printVARRAW(stdout, ctx, offset, length);
    putchar('\n');
}

// Follows the pieces of one row from the address of its second piece.  The
// chain context holds the block of each piece so that the block being
// unloaded stays in place.  `column` is the position the next piece starts
// at; `ended` says whether the last piece written ended the record.
struct ChainWalk {
    uint32_t table;
    uint32_t objd;
    uint32_t ownRdba;
    uint32_t column;
    bool ended;
    // Why following stopped short of the last piece, and where.
    int missing;
    uint32_t missingRdba;
    uint16_t missingSlot;
};

void pieceMissing(ChainWalk *walk, int reason, uint32_t rdba, uint16_t slot)
{
    walk->missing = reason;
    walk->missingRdba = rdba;
    walk->missingSlot = slot;
}

// A piece whose block position is not known yet: the writer looks it up.
constexpr uint32_t kPositionUnknown = UINT32_MAX;

uint32_t writeRowPiece(TextSink *sink, UnloadContext *ctx, uint32_t table, uint32_t slot,
                       uint32_t firstColumn, uint32_t position, uint16_t *warnings);

void followChain(TextSink *sink, UnloadContext *ctx, UnloadContext *chain, ChainWalk *walk,
                 uint32_t rdba, uint16_t slot, uint64_t headKey)
{
    CycleCheck cycle;
    startCycleCheck(&cycle, headKey);
    uint32_t hops = 0;
    while (rdba != 0) {
        // A damaged chain most often points back at its own head: caught at
        // once, before the head's columns are written a second time.
        uint64_t key = pieceKey(rdba, slot);
        if (key == headKey || cycleCheckSees(&cycle, key) || hops >= kMaxChainHops) {
            pieceMissing(walk, kPieceLoop, rdba, slot);
            return;
        }
        if (readSingleRDBA(chain->datafiles, chain, rdba) != static_cast<int>(chain->blockSize)) {
            pieceMissing(walk, kPieceUnreadable, rdba, slot);
            return;
        }
        hops++;
        if (ctx->maxChains != 0 && hops > ctx->maxChains) {
            flushTextSink(sink);
            printf("Max chained block reached, RDBA=%u ...\n", walk->ownRdba);
            return;
        }
        if (ctx->verbose) {
            flushTextSink(sink);
            printf("Recover rows from chained block RDBA=%u ...\n", rdba);
        }
        if (matchBlockTail(chain) != 0) {
            pieceMissing(walk, kPieceBadBlock, rdba, slot);
            return;
        }
        if (getBlockType(chain) != kBlockTypeData) {
            pieceMissing(walk, kPieceNotData, rdba, slot);
            return;
        }
        // A misplaced write leaves another block's rows at this address.
        if (getBlockRDBA(chain) != rdba) {
            pieceMissing(walk, kPieceOtherBlock, rdba, slot);
            return;
        }
        // A piece in a block of another object is not part of this row (the
        // block was reused): the record ends here.
        if (getDataObjectID(chain) != walk->objd) {
            pieceMissing(walk, kPieceOtherObject, rdba, slot);
            return;
        }
        if (isCompressTable(chain))
            getCompressOrder(chain);
        // The compressed rows are table 1 whatever the table asked for.
        uint32_t pieceTable = isCompressTable(chain) ? 1 : walk->table;
        if (slot >= getTableRowCount(chain, pieceTable) ||
            getTableRowOffset(chain, pieceTable, slot) == kFreeRowEntry) {
            pieceMissing(walk, kPieceNotInBlock, rdba, slot);
            return;
        }
        walk->column = writeRowPiece(sink, chain, walk->table, slot, walk->column, kPositionUnknown,
                                     ctx->unknownTypeWarnings);
        walk->ended = (chain->rowFlag & kRowFlagLast) != 0;
        rdba = chain->nextPieceRdba;
        slot = chain->nextPieceSlot;
    }
}

// Blocks an extent of `file` can cover: a damaged map entry or extent line
// may claim millions of blocks, but none lie past the end of the file that
// CHECK measured.  Unknown files and files of unknown size keep the limit of
// the address space.
uint64_t blocksInFile(const UnloadContext *ctx, uint32_t file, uint64_t first)
{
    if (ctx->bigfile)
        return kBlocksPerFile * 1024;
    int pos = getFileIndex(ctx->datafiles, file);
    // An extent in a file that is not open has nothing to read; walking it
    // block by block would only repeat a failing lookup millions of times.
    if (pos < 0)
        return 0;
    if (ctx->datafiles->blocks[pos] == 0)
        return kBlocksPerFile;
    uint64_t last = ctx->datafiles->blocks[pos];
    return last >= first ? last - first + 1 : 0;
}

// Scans the blocks from kFirstScannedBlock to the last block of position
// `pos`, handing each readable data block of objd to the data writer.
void scanFileRows(FILE *stream, UnloadContext *ctx, uint32_t pos, uint32_t objd, uint32_t table,
                  uint8_t deleted, uint8_t committed)
{
    DatafileSet *set = ctx->datafiles;
    uint32_t rfn = set->rfn[pos];
    uint32_t last = set->blocks[pos];
    for (uint32_t block = kFirstScannedBlock; block <= last && !limitReached(ctx); block++) {
        if (!ownsNextBlock())
            continue;
        if (readBlock(set, ctx, rfn, block) != static_cast<int>(ctx->blockSize))
            continue;
        if (matchBlockTail(ctx) != 0)
            continue;
        if (!isDataBlockOf(ctx, objd) || getDataType(ctx) != kDataTypeTable)
            continue;
        dispatchBlock(stream, ctx, table, deleted, committed);
        if (block == UINT32_MAX)
            break;
    }
}

// The row directory of the table being written, located once per block:
// the table's entries are then read straight from the block.
struct RowDirectory {
    uint32_t dataHeader;     // H
    uint32_t entries;        // offset of the table's first row directory entry
    uint32_t rowCountAt;     // offset of the table's row count
    uint16_t recordCount;    // row directory entries of the block
    uint16_t freeSpaceEnd;
};

void locateRowDirectory(const UnloadContext *ctx, uint32_t table, RowDirectory *dir)
{
    // The same offsets getTableRowOffset and getTableRowCount compute.
    uint32_t h = getDataBeginOffset(ctx);
    uint32_t tables = h + 14 + getCompressOffset(ctx);
    dir->dataHeader = h;
    dir->rowCountAt = tables + 4 * table + 2;
    dir->entries = tables + 4 * getTableCount(ctx) + 2 * static_cast<uint32_t>(getTableRowIndex(ctx, table));
    dir->recordCount = getRecordCount(ctx);
    dir->freeSpaceEnd = getFreeSpaceEndOffset(ctx);
}

// Where the row piece of `slot` starts, when its directory entry points at a
// row inside the block: not free, past the row directory and the free space,
// and with room for the piece header.
bool rowPieceAt(const UnloadContext *ctx, const RowDirectory *dir, uint32_t slot, uint32_t *position)
{
    uint16_t offset;
    if (slot > 0xFFFF || !readU16(ctx, dir->entries + 2 * slot, &offset))
        return false;
    if (offset == kFreeRowEntry)
        return false;
    if (offset < dir->recordCount || offset < dir->freeSpaceEnd)
        return false;
    uint32_t at = dir->dataHeader + offset;
    if (!blockHasRange(ctx, at, kPieceLock + 1))
        return false;
    *position = at;
    return true;
}

// The default a NULL of an added column reads as, when it does.
void writeAddedDefault(TextSink *sink, UnloadContext *ctx, uint32_t position, bool stored, bool count)
{
    const char *text = nullptr;
    uint32_t length = 0;
    if (!addedDefaultForNull(ctx, position, stored, count, &text, &length))
        return;
    if (ctx->indexOption != 0) {
        char *p = reserveText(sink, 16);
        p[0] = 'C';
        p = putSigned(p + 1, static_cast<int32_t>(position + 1));
        *p++ = '=';
        commitText(sink, p);
    }
    appendText(sink, text, length);
}

// A row written before columns were added ends before them: their defaults
// follow, with the separators the row would have had had it stored them.
void writeTrailingDefaults(TextSink *sink, UnloadContext *ctx, uint32_t end, bool lastWritten)
{
    uint32_t last = addedDefaultsEnd(ctx, end);
    if (last == end)
        return;
    if (lastWritten)
        writeFieldTag(sink, ctx);
    for (uint32_t position = end; position < last && position < static_cast<uint32_t>(kMaxColumns);
         position++) {
        if (ctx->columnTypes[position] == 0)
            continue;
        writeAddedDefault(sink, ctx, position, false, false);
        if (position + 1 < last)
            writeFieldTag(sink, ctx);
    }
}

// Whether value i of a piece is cut from the next or the previous piece.
unsigned csvSplit(uint8_t flag, uint32_t i, uint32_t mapped, uint32_t firstColumn)
{
    unsigned split = 0;
    if ((flag & kRowFlagNext) && i + 1 == mapped)
        split |= kCsvContinues;
    if ((flag & kRowFlagPrevious) && i == 0 && firstColumn > 0)
        split |= kCsvContinued;
    return split;
}

// One value of a piece by the general path: its label when asked for, the
// unknown-type warning, a LOB that cannot be read, CSV, the quoted text of
// a dictionary file, and every kind appendField writes.
void writeValue(TextSink *sink, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                uint32_t position, uint32_t table, uint32_t slot, unsigned split, uint16_t *warnings)
{
    if (ctx->indexOption != 0 || type == kUnknownType) {
        char *p = reserveText(sink, 16);
        p[0] = 'C';
        p = putSigned(p + 1, static_cast<int32_t>(position + 1));
        *p++ = '=';
        commitText(sink, p);
    }
    if (type == kUnknownType)
        warnUnknownType(sink, ctx, warnings, position, table, slot, offset, length);
    if (isLobType(type) && skipUnreadableLob(ctx, blockBytes(ctx, offset, length), length, getBlockRDBA(ctx),
                                             table, slot, position)) {
        // written as NULL: nothing between the separators
    } else if (ctx->csv != nullptr) {
        appendCsvField(sink, ctx, offset, length, type, position, table, slot, split);
    } else if (ctx->quoteText != 0 && type == kTypeVARCHAR2) {
        appendQuotedText(sink, ctx, offset, length, (split & kCsvContinues) != 0,
                         (split & kCsvContinued) != 0);
    } else
        appendField(sink, ctx, offset, length, type, ctx->lobIndexFile[position],
                    ctx->lobIndexBlock[position], ctx->columnCharsetForm[position]);
}

// Whether a piece's text is its values and separators alone: no CSV, no
// labels, no quoted dictionary text, no defaults of added columns, no
// guessing.  Such a piece takes writePlainPiece.
bool isPlainPiece(const UnloadContext *ctx)
{
    return ctx->guessMode == 0 && ctx->csv == nullptr && ctx->indexOption == 0 && ctx->quoteText == 0 &&
           ctx->addedColumns == nullptr;
}

// A separator of up to kTagSize bytes at p, which has room for
// max(length, kShortTag) bytes.  Separators are one or two bytes nearly
// always: moved as one word of the tag's fixed array, not by a call.
constexpr uint32_t kShortTag = 16;
static_assert(kShortTag <= kTagSize, "a short tag is read from the tag's array");

inline char *putTag(char *p, const char *tag, uint32_t length)
{
    if (length <= kShortTag)
        memcpy(p, tag, kShortTag);
    else
        memcpy(p, tag, length);
    return p + length;
}

// The columns of a plain piece and the separator after it, each value and
// separator written straight into the sink: one check of the room left per
// column, and the common kinds formatted in place; any other kind goes the
// general way.
//
// The fields of the context the loop reads are taken into locals: every
// byte the loop writes through `p` could, for all the compiler knows, land
// in the context, and each would make it read them all again.
void writePlainPiece(TextSink *sink, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t start,
                     uint32_t mapped, uint8_t flag, uint16_t *warnings)
{
    const uint32_t tagLength = ctx->fieldTagLength < kTagSize ? ctx->fieldTagLength : kTagSize;
    const uint32_t tagRoom = tagLength < kShortTag ? kShortTag : tagLength;
    const uint32_t permuted = ctx->permutationCount;
    const uint8_t *block = ctx->block;
    uint32_t blockSize = ctx->blockSize;
    const uint8_t *types = ctx->columnTypes;
    const uint16_t *charsetForms = ctx->columnCharsetForm;
    // The sink's room may move at a refill (the stream's room lent in
    // turn): `limit` follows it.
    char *limit = sink->data + kTextSinkSize;
    char *p = sink->data + sink->length;
    // Columns past the last position are not written.
    uint32_t end = mapped;
    if (start >= static_cast<uint32_t>(kMaxColumns))
        end = 0;
    else if (end > static_cast<uint32_t>(kMaxColumns) - start)
        end = static_cast<uint32_t>(kMaxColumns) - start;
    uint8_t lastType = 0;
    for (uint32_t i = 0; i < end; i++) {
        uint32_t position = start + i;
        uint32_t stored = i < permuted ? ctx->permutation[i] : i;
        // A permutation entry past the mapped columns names no value.
        uint32_t length = stored < mapped ? ctx->slots.length[stored] : 0;
        uint32_t offset = stored < mapped ? ctx->slots.offset[stored] : 0;
        uint8_t type = types[position];
        lastType = type;
        if (type == 0)
            continue;
        size_t room = length + kPlainValueRoom + tagRoom;
        if (static_cast<size_t>(limit - p) < room) {
            commitText(sink, p);
            refillTextSink(sink);
            p = sink->data;
            limit = p + kTextSinkSize;
        }
        if (length != 0) {
            char *text = nullptr;
            if (room <= kTextSinkSize)
                text = formatPlainValue(block, blockSize, offset, length, type, charsetForms[position], p);
            if (text == nullptr) {
                commitText(sink, p);
                writeValue(sink, ctx, offset, length, type, position, table, slot, 0, warnings);
                text = reserveText(sink, tagRoom);
                limit = sink->data + kTextSinkSize;
                block = ctx->block;
                blockSize = ctx->blockSize;
            }
            p = text;
        }
        if (i + 1 < mapped)
            p = putTag(p, ctx->fieldTag, tagLength);
    }

    // The separator after a piece's last column belongs to that column: a
    // skipped column (type 0) has none, or a row split into pieces would get
    // one more field than the same row kept in one piece.
    if (static_cast<size_t>(limit - p) < kTagSize + kShortTag) {
        commitText(sink, p);
        refillTextSink(sink);
        p = sink->data;
    }
    if (flag & kRowFlagLast)
        p = putTag(p, ctx->recordTag, ctx->recordTagLength < kTagSize ? ctx->recordTagLength : kTagSize);
    else if (!(flag & kRowFlagNext) && (mapped == 0 || lastType != 0))
        p = putTag(p, ctx->fieldTag, tagLength);
    commitText(sink, p);
}

// One row piece, as printDataRow2 describes it, into the sink.
uint32_t writeRowPiece(TextSink *sink, UnloadContext *ctx, uint32_t table, uint32_t slot,
                       uint32_t firstColumn, uint32_t position, uint16_t *warnings)
{
    // Each piece is mapped from its first column: the counter belongs to the
    // piece, not to whatever the context decoded before.
    // A known position comes from the block walk, which passes one only for
    // an uncompressed block.
    ctx->mappedColumns = 0;
    if (position != kPositionUnknown)
        mapNormalColumnsAt(ctx, position);
    else if (isCompressTable(ctx))
        mapCompressColumns(ctx, table, slot);
    else
        mapNormalColumns(ctx, table, slot);

    uint8_t flag = ctx->rowFlag;
    bool guessing = ctx->guessMode != 0;
    // A piece that continues the previous piece's last column starts on it.
    uint32_t start = firstColumn;
    if ((flag & kRowFlagPrevious) && start > 0)
        start--;

    uint32_t mapped = ctx->mappedColumns;
    if (isPlainPiece(ctx)) {
        writePlainPiece(sink, ctx, table, slot, start, mapped, flag, warnings);
        return start + mapped;
    }
    uint8_t lastType = 0;
    if (ctx->addedColumns != nullptr && !guessing)
        noteAddedColumnsPiece(ctx, start, firstColumn);
    for (uint32_t i = 0; i < mapped; i++) {
        uint32_t position = start + i;
        if (position >= static_cast<uint32_t>(kMaxColumns))
            break;
        uint32_t stored = i < ctx->permutationCount ? ctx->permutation[i] : i;
        // A permutation entry past the mapped columns names no value.
        uint32_t length = stored < mapped ? ctx->slots.length[stored] : 0;
        uint32_t offset = stored < mapped ? ctx->slots.offset[stored] : 0;
        uint8_t type = ctx->columnTypes[position];
        lastType = type;
        if (length != 0 && type != 0) {
            if (guessing)
                guessField(ctx, offset, length, position);
            else
                writeValue(sink, ctx, offset, length, type, position, table, slot,
                           csvSplit(flag, i, mapped, firstColumn), warnings);
        } else if (guessing && type != 0) {
            // A stored NULL still counts as a column of the guessed row.
            guessField(ctx, offset, 0, position);
        } else if (ctx->addedColumns != nullptr && type != 0 && !guessing) {
            writeAddedDefault(sink, ctx, position, true, true);
        }
        if (i + 1 < mapped && type != 0 && !guessing)
            writeFieldTag(sink, ctx);
    }

    // The separator after a piece's last column belongs to that column: a
    // skipped column (type 0) has none, or a row split into pieces would get
    // one more field than the same row kept in one piece.
    if (!guessing) {
        if ((flag & kRowFlagLast) && ctx->addedColumns != nullptr)
            writeTrailingDefaults(sink, ctx, start + mapped, mapped > 0 && lastType != 0);
        if (flag & kRowFlagLast)
            writeRecordTag(sink, ctx);
        else if (!(flag & kRowFlagNext) && (mapped == 0 || lastType != 0))
            writeFieldTag(sink, ctx);
    }
    return start + mapped;
}

// A migrated row's body met by the walk (F without H): its head writes the
// row, unless the head is lost; then the body is written as the row, under
// its own address, and named.  Out of line: most blocks hold no body, and
// the walk's loop keeps its shape.
__attribute__((noinline, cold)) void writeOrphanBody(TextSink *sink, UnloadContext *ctx,
                                                     UnloadContext **chain, uint32_t table, uint32_t slot,
                                                     uint32_t at, uint8_t flag, uint8_t deleted)
{
    LostHead head;
    if (ctx->guessMode != 0 || !bodyHeadIsLost(ctx, chain, table, slot, at, flag, deleted, &head))
        return;
    uint32_t rdba = getBlockRDBA(ctx);
    UnloadContext *probe = *chain;

    if (ctx->rowAddress) {
        char *p = reserveText(sink, 48);
        p = putSigned(p, static_cast<int32_t>(rdba));
        *p++ = '.';
        p = putSigned(p, static_cast<int32_t>(table));
        *p++ = '.';
        p = putSigned(p, static_cast<int32_t>(slot));
        commitText(sink, p);
        writeFieldTag(sink, ctx);
    }
    ChainWalk walk;
    walk.table = table;
    walk.objd = getDataObjectID(ctx);
    walk.ownRdba = rdba;
    walk.missing = kPieceReadable;
    walk.column = writeRowPiece(sink, ctx, table, slot, 0, isCompressTable(ctx) ? kPositionUnknown : at,
                                ctx->unknownTypeWarnings);
    walk.ended = (ctx->rowFlag & kRowFlagLast) != 0;
    ctx->rowsUnloaded++;
    if (!walk.ended && ctx->nextPieceRdba != 0)
        followChain(sink, ctx, probe, &walk, ctx->nextPieceRdba, ctx->nextPieceSlot,
                    pieceKey(rdba, static_cast<uint16_t>(slot)));
    if (!walk.ended)
        writeRecordTag(sink, ctx);
    flushTextSink(sink);
    if (walk.missing != kPieceReadable)
        noteIncompleteRow(ctx, rdba, table, slot, walk.missingRdba, walk.missingSlot, walk.missing);
    noteOrphanBody(ctx, rdba, table, slot, head.rdba, head.slot, head.reason, walk.missing != kPieceReadable);
}

}  // namespace

uint32_t printDataRow2(FILE *stream, UnloadContext *ctx, uint32_t table, uint32_t slot, uint32_t firstColumn)
{
    TextSink sink;
    initTextSink(&sink, stream);
    uint32_t next =
        writeRowPiece(&sink, ctx, table, slot, firstColumn, kPositionUnknown, ctx->unknownTypeWarnings);
    flushTextSink(&sink);
    return next;
}

void printDataRows2(FILE *stream, UnloadContext *ctx, uint32_t table, uint8_t deleted, uint8_t committed)
{
    if (!blockRowsReadable(ctx, table))
        return;
    uint32_t rdba = getBlockRDBA(ctx);

    // The chain context reads the blocks of chained pieces, so that the
    // block being unloaded stays in ctx->block.  Most blocks chain no row:
    // it is made at the first chained row.
    UnloadContext *chain = nullptr;

    bool guessing = ctx->guessMode != 0;
    uint32_t objd = getDataObjectID(ctx);
    // An OLTP-compressed block keeps its rows in table 1 (table 0 holds the
    // symbols).
    bool compressed = isCompressTable(ctx) != 0;
    if (compressed) {
        getCompressOrder(ctx);
        table = 1;
    }
    RowDirectory dir;
    locateRowDirectory(ctx, table, &dir);

    // The block's text is gathered here and handed to the stream at the end;
    // an unload file lends the sink its own buffers.
    TextSink sink;
    initTextSink(&sink, stream);
    lendOutputBuffer(&sink, stream);

    for (uint32_t slot = 0; slot < blockU16(ctx, dir.rowCountAt); slot++) {
        if (limitReached(ctx))
            break;
        if (ctx->guessMode == 1 && ctx->rowsUnloaded >= kGuessSampleRows)
            break;
        uint32_t at;
        if (!rowPieceAt(ctx, &dir, slot, &at))
            continue;
        uint8_t flag = blockU8(ctx, at + kPieceFlag);
        uint8_t lock = blockU8(ctx, at + kPieceLock);
        if (committed && lockedByOpenTransaction(ctx, lock))
            continue;
        if ((!deleted && (flag & kRowFlagDeleted)) || !(flag & kRowFlagHead)) {
            if ((flag & (kRowFlagHead | kRowFlagFirst)) == kRowFlagFirst)
                writeOrphanBody(&sink, ctx, &chain, table, slot, at, flag, deleted);
            continue;
        }
        if (deleted == kDeletedRowsOnly && !(flag & kRowFlagDeleted))
            continue;

        if (!guessing && ctx->rowAddress) {
            char *p = reserveText(&sink, 48);
            p = putSigned(p, static_cast<int32_t>(rdba));
            *p++ = '.';
            p = putSigned(p, static_cast<int32_t>(table));
            *p++ = '.';
            p = putSigned(p, static_cast<int32_t>(slot));
            commitText(&sink, p);
            writeFieldTag(&sink, ctx);
        }

        ChainWalk walk;
        walk.table = table;
        walk.objd = objd;
        walk.ownRdba = rdba;
        walk.column = 0;
        walk.ended = false;
        walk.missing = kPieceReadable;
        uint32_t nextRdba = 0;
        uint16_t nextSlot = 0;
        if (flag & kRowFlagFirst) {
            walk.column = writeRowPiece(&sink, ctx, table, slot, 0, compressed ? kPositionUnknown : at,
                                        ctx->unknownTypeWarnings);
            walk.ended = (ctx->rowFlag & kRowFlagLast) != 0;
            ctx->rowsUnloaded++;
            if (!walk.ended) {
                nextRdba = ctx->nextPieceRdba;
                nextSlot = ctx->nextPieceSlot;
            }
        } else {
            // The head of a migrated row holds no columns, only the address
            // of the piece that does.
            ctx->rowsUnloaded++;
            if (!(flag & kRowFlagLast)) {
                uint32_t shift = (flag & kRowFlagClusterMember) ? kClusterMemberShift : 0;
                if (!readU32BE(ctx, at + kMigratedRdba + shift, &nextRdba) ||
                    !readU16BE(ctx, at + kMigratedSlot + shift, &nextSlot))
                    nextRdba = 0;
            }
        }
        if (nextRdba != 0 && chain == nullptr) {
            chain = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
            if (chain != nullptr && copyBlock(ctx, chain) == 0) {
                free(chain->block);
                free(chain);
                chain = nullptr;
            }
            // Without a chain context the row ends at its first piece.
            if (chain == nullptr)
                nextRdba = 0;
        }
        if (nextRdba != 0)
            followChain(&sink, ctx, chain, &walk, nextRdba, nextSlot,
                        pieceKey(rdba, static_cast<uint16_t>(slot)));
        // Whatever stopped the chain (a read failure, MAXCHAINS, a bad block,
        // a block of another object, a damaged address), the record ends so
        // that it never runs into the next one.
        if (!walk.ended && !guessing)
            writeRecordTag(&sink, ctx);
        if (walk.missing != kPieceReadable && !guessing) {
            flushTextSink(&sink);
            noteIncompleteRow(ctx, rdba, table, slot, walk.missingRdba, walk.missingSlot, walk.missing);
        }
    }

    flushTextSink(&sink);
    if (chain != nullptr) {
        free(chain->block);
        free(chain);
    }
}

void printExtentRows(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                     uint8_t committed)
{
    if (matchBlockTail(ctx) != 0)
        return;
    // The map buffer keeps the segment header (later an extent map block)
    // while the data blocks pass through ctx->block.
    UnloadContext *map = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    if (map == nullptr)
        return;
    if (copyBlock(ctx, map) == 0) {
        free(map->block);
        free(map);
        return;
    }
    DatafileSet *set = ctx->datafiles;
    // Blocks below the high-water mark are the segment's: each is accounted
    // for.  Under a header without a mark only damage is named.
    uint64_t hwmExtent = getSegHWMExtent(map);
    uint64_t hwmBlocks = getSegHWMBlocks(map);
    bool hasMark = hwmExtent != 0 || hwmBlocks != 0 || getSegHWMAddress(map) != 0;
    uint64_t extent = 0;
    CycleCheck cycle;
    startCycleCheck(&cycle, getBlockRDBA(map));
    uint32_t mapBlocks = 0;
    for (;;) {
        uint32_t count = getBlockExtentCount(map);
        uint32_t capacity = map->blockSize / kExtentEntrySize;
        if (count > capacity)
            count = capacity;
        // Past a LIMIT (which runs in one process) no block is wanted.
        for (uint32_t i = 0; i < count && !limitReached(ctx); i++, extent++) {
            uint32_t first = getSegExtentRDBA(map, i);
            uint64_t blocks = getSegExtentBlocks(map, i);
            uint64_t below = extent < hwmExtent ? blocks : extent == hwmExtent ? hwmBlocks : 0;
            if (below > blocks || !hasMark)
                below = blocks;
            BlockAccount inside = hasMark ? kAccountAll : kAccountDamage;
            uint64_t room = blocksInFile(ctx, getRDBAFile(first), getRDBABlock(first));
            uint64_t visited = blocks > room ? room : blocks;
            for (uint64_t j = 0; j < visited && !limitReached(ctx); j++) {
                uint32_t rdba = static_cast<uint32_t>(first + j);
                if (!ownsNextBlock())
                    continue;
                BlockAccount account = j < below ? inside : kAccountNone;
                if (readRDBA(set, ctx, rdba) != static_cast<int>(ctx->blockSize)) {
                    if (account != kAccountNone)
                        nameBlockNotRead(ctx, rdba, kBlockUnreadable, 0);
                    continue;
                }
                if (!isSegmentDataBlock(ctx, rdba, objd, account))
                    continue;
                dispatchBlock(stream, ctx, table, deleted, committed);
            }
            // A wild extent entry without a mark to bound it names nothing.
            if (hasMark && below > visited && !limitReached(ctx))
                noteUnvisitedBlocks(ctx, getRDBAFile(first), static_cast<uint32_t>(first + visited),
                                    below - visited);
        }
        uint32_t next = getSegNextMapRDBA(map);
        if (next == 0 || limitReached(ctx))
            break;
        if (cycleCheckSees(&cycle, next) || ++mapBlocks > kMaxMapBlocks)
            break;
        if (readSingleRDBA(set, map, next) != static_cast<int>(map->blockSize))
            break;
    }
    free(map->block);
    free(map);
}

void printRowByExtent(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                      uint8_t committed, const ExtentEntry *extent)
{
    if (extent->dataObjectId == 0 || (extent->file == 0 && !ctx->bigfile) || extent->firstBlock == 0 ||
        extent->blockCount == 0 || limitReached(ctx))
        return;
    DatafileSet *set = ctx->datafiles;
    uint32_t file = extent->file;
    // The extent file is text anyone can edit: a run cannot reach past the
    // addresses a file has.
    uint64_t blocks = extent->blockCount;
    uint64_t room = blocksInFile(ctx, file, extent->firstBlock);
    uint64_t visited = blocks > room ? room : blocks;
    uint64_t end = static_cast<uint64_t>(extent->firstBlock) + visited;
    uint64_t b = extent->firstBlock;
    for (; b < end && !limitReached(ctx); b++) {
        uint32_t block = static_cast<uint32_t>(b);
        if (!ownsNextBlock())
            continue;
        uint32_t expected = ctx->bigfile ? block + (file << kRdbaFileShift) : ((file << kRdbaFileShift) | block);
        if (readBlock(set, ctx, file, block) != static_cast<int>(ctx->blockSize)) {
            nameBlockNotRead(ctx, expected, kBlockUnreadable, 0);
            continue;
        }
        if (!isSegmentDataBlock(ctx, expected, objd, kAccountDamage))
            continue;
        // Its own check failed: named above, its rows not read.
        if (matchBlockTail(ctx) != 0)
            continue;
        dispatchBlock(stream, ctx, table, deleted, committed);
    }
}

void scanTableRows(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                   uint8_t committed, uint32_t file, uint32_t block)
{
    DatafileSet *set = ctx->datafiles;
    if (set == nullptr)
        return;
    uint32_t positions = set->count < static_cast<uint32_t>(kMaxDatafiles) ? set->count : kMaxDatafiles;
    for (uint32_t pos = 0; pos < positions && !limitReached(ctx); pos++) {
        if (file != 0 && !ctx->bigfile && set->rfn[pos] != file)
            continue;
        if (set->handle[pos] == nullptr && set->asmFile[pos] == nullptr)
            continue;
        if ((file != 0 || ctx->bigfile) && block != 0) {
            // One block: the address names it, whichever position passed.
            uint32_t readFile = ctx->bigfile ? file : set->rfn[pos];
            if (ownsNextBlock() && readBlock(set, ctx, readFile, block) == static_cast<int>(ctx->blockSize) &&
                matchBlockTail(ctx) == 0 && getBlockType(ctx) == kBlockTypeData)
                dispatchBlock(stream, ctx, table, deleted, committed);
            return;
        }
        scanFileRows(stream, ctx, pos, objd, table, deleted, committed);
    }
}
