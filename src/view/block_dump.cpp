// Decoded block dumps: ORADUMP's printHeader, chosen by block type, with its
// sections (ITL list, table rows, index header and rows, segment header and
// extent map), and the brief summaries the scans print per block.
//
// Operators read these dumps line by line when they decide what to rescue,
// so every line is a fixed format.  Counts taken from the block (ITL
// entries, tables, rows, extents) are listed only as far as their entries
// lie inside the block: a damaged count shows what the block holds and no
// phantom entries after it.
#include "view/view.h"
#include "block/block.h"
#include "index/index.h"
#include "unload/rows/row_decode.h"

namespace {

constexpr uint8_t kTypeUndoBlock = 2;
constexpr uint8_t kTypeData = 6;
constexpr uint8_t kTypeFileHeader = 11;
constexpr uint8_t kTypeUndoHeader = 14;
constexpr uint8_t kTypeFreeListSegHeader = 16;
constexpr uint8_t kTypeFreeListSegHeaderAlt = 17;
constexpr uint8_t kTypeFreeListExtentMap = 18;
constexpr uint8_t kTypeAssmSegHeader = 35;
constexpr uint8_t kTypeAssmExtentMap = 36;
constexpr uint8_t kTypeUndoHeaderAuto = 38;

constexpr uint8_t kDataTypeTable = 1;
constexpr uint8_t kDataTypeIndex = 2;
constexpr uint8_t kIndexOpcodeRows = 0x10;   // kdxcoopc: the leaf rows carry data (IOT)
constexpr uint8_t kDataFlagCompressed = 0x40;

constexpr uint32_t kRdbaFileShift = 22;
constexpr uint32_t kRdbaBlockMask = 0x3FFFFF;

// Cache header with the blocks' type line, as the dumps print it.
struct CacheFields {
    uint32_t rdba;
    uint8_t type;
    uint8_t format;
    uint8_t sequence;
    uint8_t flag;
};

CacheFields cacheFields(const UnloadContext *ctx)
{
    return CacheFields{getBlockRDBA(ctx), getBlockType(ctx), getBlockFormat(ctx), getBlockSequence(ctx),
                       getBlockFlag(ctx)};
}

uint32_t rdbaFile(uint32_t rdba) { return rdba >> kRdbaFileShift; }
uint32_t rdbaBlock(uint32_t rdba) { return rdba & kRdbaBlockMask; }

// "RDBA=...(f/b),type=...,flag=0x%02x" and the line end: undo blocks, undo
// segment headers and (in the summaries) file headers and extent maps put a
// blank before it.
void printTypeLine(FILE *stream, const CacheFields *c, const char *prefix, bool blankBeforeEnd)
{
    fprintf(stream, "%sRDBA=0x%08x(%u/%u),type=0x%02x,fmt=0x%02x,seq=0x%02x,flag=0x%02x%s\n", prefix, c->rdba,
            rdbaFile(c->rdba), rdbaBlock(c->rdba), c->type, c->format, c->sequence, c->flag,
            blankBeforeEnd ? " " : "");
}

// ---------------------------------------------------------------------------
// Counts of directory-like tables that the block can actually hold.

// Entries of `stride` bytes starting at `base` that lie wholly in the block,
// up to `wanted`.
uint32_t entriesInBlock(const UnloadContext *ctx, uint64_t base, uint32_t stride, uint64_t wanted)
{
    if (base + stride > ctx->blockSize)
        return 0;
    uint64_t fit = (ctx->blockSize - base) / stride;
    return static_cast<uint32_t>(fit < wanted ? fit : wanted);
}

constexpr uint32_t kItlList = 44;
constexpr uint32_t kItlEntrySize = 24;

// Each byte as "%02x ", formatted in chunks: a damaged block can list
// hundreds of long columns.
void printHexBytes(FILE *stream, const uint8_t *bytes, uint32_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    char chunk[3 * 256];
    uint32_t used = 0;
    for (uint32_t k = 0; k < length; k++) {
        chunk[used++] = kDigits[bytes[k] >> 4];
        chunk[used++] = kDigits[bytes[k] & 0x0F];
        chunk[used++] = ' ';
        if (used == sizeof chunk) {
            fwrite(chunk, 1, used, stream);
            used = 0;
        }
    }
    fwrite(chunk, 1, used, stream);
}

// ---------------------------------------------------------------------------
// Column slots as the row listings print them: a NULL (length 0) as
// "*NULL*", a value as its bytes in hex.
void printMappedColumns(FILE *stream, const UnloadContext *ctx)
{
    for (uint32_t i = 0; i < ctx->mappedColumns; i++) {
        uint32_t offset = ctx->slots.offset[i];
        uint32_t length = ctx->slots.length[i];
        if (length == 0) {
            fprintf(stream, "     col[%3d] offs=%5d len=%5d : *NULL*\n", static_cast<int>(i), static_cast<int>(offset),
                    static_cast<int>(length));
            continue;
        }
        fprintf(stream, "     col[%3d] offs=%5d len=%5d : ", static_cast<int>(i), static_cast<int>(offset),
                static_cast<int>(length));
        const uint8_t *bytes = blockBytes(ctx, offset, length);
        if (bytes != nullptr)
            printHexBytes(stream, bytes, length);
        fputc('\n', stream);
    }
}

char flagLetter(uint8_t flag, uint8_t bit, char letter) { return (flag & bit) ? letter : '-'; }

// ---------------------------------------------------------------------------
// Table rows.
//
// Table directory at H + 14 + C (4 bytes per table), row directory after it
// (2 bytes per entry): see block/block_layout.cpp and unload/row_decode.cpp.
constexpr uint32_t kTableDirectory = 14;
constexpr uint32_t kTableEntrySize = 4;
constexpr uint32_t kRowEntrySize = 2;
constexpr uint32_t kRowHeaderSize = 3;

void printTableRow(FILE *stream, UnloadContext *ctx, uint32_t h, bool compressed, uint32_t table, uint32_t r,
                   uint16_t e)
{
    uint32_t p = h + e;
    // A free entry, an offset inside the row directory itself, or a row
    // header that cannot lie inside the block holds no row to map.
    if (e == kFreeRowEntry || e < getRecordCount(ctx) || !blockHasRange(ctx, p, kRowHeaderSize)) {
        fprintf(stream, "    row#=%4d  offs=0x%04x=%5d\n", static_cast<int>(r), e, e);
        return;
    }
    ctx->mappedColumns = 0;
    if (compressed)
        mapCompressColumns(ctx, table, r);
    else
        mapNormalColumns(ctx, table, r);
    uint8_t flag = blockU8(ctx, p);
    fprintf(stream, "    row#=%4d  offs=0x%04x=%5d+%4d=0x%04x=%5d cc=%3d  flag=%c%c%c%c%c%c%c%c\n",
            static_cast<int>(r), e, e, static_cast<int>(h), p, static_cast<int>(p), ctx->mappedColumns,
            flagLetter(flag, kRowFlagClusterKey, 'K'), flagLetter(flag, kRowFlagClusterMember, 'C'),
            flagLetter(flag, kRowFlagHead, 'H'), flagLetter(flag, kRowFlagDeleted, 'D'),
            flagLetter(flag, kRowFlagFirst, 'F'), flagLetter(flag, kRowFlagLast, 'L'),
            flagLetter(flag, kRowFlagPrevious, 'P'), flagLetter(flag, kRowFlagNext, 'N'));
    printMappedColumns(stream, ctx);
}

// ---------------------------------------------------------------------------
// Index rows: the row directory at H + 36 (leaf) or H + 28 (branch).
constexpr uint32_t kLeafRowDirectory = 36;
constexpr uint32_t kBranchRowDirectory = 28;

void printIndexRows(FILE *stream, UnloadContext *ctx)
{
    uint32_t h = getDataLayerOffset(ctx);
    bool leaf = getIndexColev(ctx) == 0;
    uint32_t directory = h + (leaf ? kLeafRowDirectory : kBranchRowDirectory);
    uint32_t rows = entriesInBlock(ctx, directory, kRowEntrySize, getIndexRowCount(ctx));
    for (uint32_t r = 0; r < rows; r++) {
        uint16_t e = getIndexOffset(ctx, r);
        uint32_t p = h + e;
        fprintf(stream, "    row#=%u offset=0x%04x=%u+%u=0x%04x=%u\n", r, e, e, h, p, p);
        if (!leaf)
            continue;
        ctx->mappedColumns = 0;
        ctx->nextPieceRdba = 0;
        ctx->nextPieceSlot = 0;
        mapIndexColumns(ctx, r);
        printMappedColumns(stream, ctx);
    }
}

// ---------------------------------------------------------------------------
// Data block (type 6) header lines shared by the dump and the summary.
const char *dataKindWord(uint8_t dataType) { return dataType == kDataTypeTable ? "DATA" : "INDEX"; }

const char *iotWord(const UnloadContext *ctx, uint8_t dataType)
{
    return dataType == kDataTypeIndex && (getIndexCoopc(ctx) & kIndexOpcodeRows) ? "IOT" : " ";
}

void printDataBlock(FILE *stream, UnloadContext *ctx)
{
    CacheFields c = cacheFields(ctx);
    fprintf(stream, "RDBA=0x%08x(%u/%u)=%u,", c.rdba, rdbaFile(c.rdba), rdbaBlock(c.rdba), c.rdba);
    fprintf(stream, "type=0x%02x,fmt=0x%02x,seq=0x%02x,flag=0x%02x\n", c.type, c.format, c.sequence, c.flag);
    uint8_t dataType = getDataType(ctx);
    uint32_t objd = getDataObjectID(ctx);
    fprintf(stream, "seg/obj=0x%08x=%u,csc=0x%04x.%08x,itc=%u,typ=%u - %s %s\n", objd, objd, getCleanSCNWrap(ctx),
            getCleanSCNBase(ctx), getITLCount(ctx), dataType, dataKindWord(dataType), iotWord(ctx, dataType));
    uint32_t next = getFreeListNext(ctx);
    fprintf(stream, "FLG=0x%02x, fls=%u, nxt=0x%08x(%u/%u)=%u\n", getFreeListGroup(ctx), getFreeLists(ctx), next,
            rdbaFile(next), rdbaBlock(next), next);
    fputs("Transaction Slot:\n", stream);
    printITL(stream, ctx);
    if (dataType == kDataTypeTable) {
        fputs("Block Data:\n", stream);
        printRowHeader(stream, ctx);
    } else if (dataType == kDataTypeIndex) {
        printIndexRowHeader(stream, ctx);
        fputs("Index Rows:\n", stream);
        printIndexRows(stream, ctx);
    }
    fputc('\n', stream);
}

bool isSilentType(uint8_t type)
{
    // Blocks with nothing an operator could use: OS header, unused, and the
    // space-management kinds that carry no segment content.
    return type == 0 || type == 1 || type == 3 || type == 4 || type == 15;
}

// First extent entry of a segment header or extent map block (see
// block/segment_layout.cpp): every other type reads as type 16.
uint32_t firstExtentEntry(uint8_t type)
{
    if (type == kTypeAssmSegHeader)
        return 280;
    if (type == kTypeFreeListExtentMap || type == kTypeAssmExtentMap)
        return 36;
    return 108;
}

constexpr uint32_t kExtentEntrySize = 8;

}  // namespace

// ---------------------------------------------------------------------------
// Sections.

void printITL(FILE *stream, const UnloadContext *ctx)
{
    fputs("id   xid-usn.slot.wrap   uba-rdba.row.seq   flag lock fsc/scn        \n", stream);
    fputs("---- ------------------- ------------------ ---- ---- ---------------\n", stream);
    if (getBlockType(ctx) != kTypeData)
        return;
    uint32_t count = entriesInBlock(ctx, kItlList, kItlEntrySize, getITLCount(ctx));
    for (uint32_t i = 0; i < count; i++) {
        uint8_t flag = getITLFlag(ctx, i);
        fprintf(stream, "0x%02x 0x%04x.%03x.%08x 0x%08x.%04x.%02x %1c%1c%1c%1c %4d 0x%04x.%08x\n", i + 1,
                getITLXIDUsn(ctx, i), getITLXIDSlot(ctx, i), getITLXIDWrap(ctx, i), getITLUndoRDBA(ctx, i),
                getITLUndoRow(ctx, i), getITLUndoSequence(ctx, i), flagLetter(flag, 0x8, 'C'),
                flagLetter(flag, 0x4, 'B'), flagLetter(flag, 0x2, 'U'), flagLetter(flag, 0x1, 'T'),
                static_cast<int>(getITLLock(ctx, i)), getITLFSC(ctx, i), getITLSCN(ctx, i));
    }
}

void printRowHeader(FILE *stream, UnloadContext *ctx)
{
    uint32_t h = getDataLayerOffset(ctx);
    fprintf(stream, "hdsz=%u\n", h);
    fprintf(stream, "flag=0x%02x\n", getDataFlag(ctx));
    fprintf(stream, "ntab=%u\n", getTableCount(ctx));
    fprintf(stream, "nrow=%u\n", getRecordCount(ctx));
    fprintf(stream, "ffre=%u\n", getFirstFreeRowEntry(ctx));
    uint32_t fsbo = h + getFreeSpaceBeginOffset(ctx);
    uint32_t fseo = h + getFreeSpaceEndOffset(ctx);
    fprintf(stream, "fsbo=0x%04x=%u\n", fsbo, fsbo);
    fprintf(stream, "fseo=0x%04x=%u\n", fseo, fseo);
    fprintf(stream, "avsp=0x%04x=%u\n", getCurrentFreeSpace(ctx), getCurrentFreeSpace(ctx));
    fprintf(stream, "tosp=0x%04x=%u\n", getTotalFreeSpace(ctx), getTotalFreeSpace(ctx));

    bool compressed = (getDataFlag(ctx) & kDataFlagCompressed) != 0;
    if (compressed)
        getCompressOrder(ctx);
    uint32_t tableDirectory = h + kTableDirectory + getCompressOffset(ctx);
    uint32_t tables = entriesInBlock(ctx, tableDirectory, kTableEntrySize, getTableCount(ctx));
    uint32_t rowDirectory = tableDirectory + kTableEntrySize * getTableCount(ctx);
    for (uint32_t t = 0; t < tables; t++) {
        uint32_t first = getTableRowIndex(ctx, t);
        uint32_t wanted = getTableRowCount(ctx, t);
        fprintf(stream, "tab#=%3d     nrow=%4d     offs=%4d\n", static_cast<int>(t), static_cast<int>(wanted),
                static_cast<int>(first));
        uint32_t rows = entriesInBlock(ctx, static_cast<uint64_t>(rowDirectory) + kRowEntrySize * first, kRowEntrySize,
                                       wanted);
        for (uint32_t r = 0; r < rows; r++)
            printTableRow(stream, ctx, h, compressed, t, r, getTableRowOffset(ctx, t, r));
    }
}

void printIndexRowHeader(FILE *stream, const UnloadContext *ctx)
{
    fprintf(stream, "kdxcolev=%u\n", getIndexColev(ctx));
    fprintf(stream, "kdxcolok=%u\n", getIndexColok(ctx));
    fprintf(stream, "kdxcoopc=0x%02x opcode=%u\n", getIndexCoopc(ctx), getIndexOpcode(ctx));
    fprintf(stream, "kdxconco=%u\n", getIndexColumnCount(ctx));
    fprintf(stream, "kdxcosdc=%u\n", getIndexCosdc(ctx));
    fprintf(stream, "kdxconro=%u\n", getIndexRowCount(ctx));
    fprintf(stream, "kdxcofbo=%u=0x%04x\n", getIndexFreeSpaceBegin(ctx), getIndexFreeSpaceBegin(ctx));
    fprintf(stream, "kdxcofeo=%u=0x%04x\n", getIndexFreeSpaceEnd(ctx), getIndexFreeSpaceEnd(ctx));
    fprintf(stream, "kdxcoavs=%u\n", getIndexFreeSpace(ctx));
    if (getIndexColev(ctx) != 0) {
        fprintf(stream, "kdxbrlmc=%u=0x%08x\n", getIndexBrlmc(ctx), getIndexBrlmc(ctx));
        fprintf(stream, "kdxbrsno=%u\n", getIndexBrsno(ctx));
        fprintf(stream, "kdxbrbksz=%u\n", getIndexBrbksz(ctx));
        return;
    }
    fprintf(stream, "kdxlespl=%u\n", getIndexLespl(ctx));
    fprintf(stream, "kdxlende=%u\n", getIndexLende(ctx));
    fprintf(stream, "kdxlenxt=0x%08x=%u,kdxleprv=0x%08x=%u\n", getIndexLenxt(ctx), getIndexLenxt(ctx),
            getIndexLeprv(ctx), getIndexLeprv(ctx));
    fprintf(stream, "kdxledsz=%u\n", getIndexLedsz(ctx));
    fprintf(stream, "kdxlebksz=%u\n", getIndexLebksz(ctx));
}

void printSegmentHeader(FILE *stream, const UnloadContext *ctx)
{
    uint32_t objd = getDataObjectID(ctx);
    fprintf(stream, "seg/obj=0x%08x=%u,exts=%u,blks=%u\n", objd, objd, getSegExtentCount(ctx), getSegBlockCount(ctx));
    uint32_t hwm = getSegHWMAddress(ctx);
    fprintf(stream, "hwm=%u/%u,ext#=%u,blks=%u,size=%u,free=%u,used=%u\n", rdbaFile(hwm), rdbaBlock(hwm),
            getSegHWMExtent(ctx), getSegHWMBlocks(ctx), getSegHWMExtSize(ctx), getSegFLGBlocks(ctx),
            getSegFLGBellow(ctx));
    uint32_t map = getSegNextMapRDBA(ctx);
    fprintf(stream, "map=0x%08x=%u\n", map, map);
    fputs("extents:\n", stream);
    uint32_t count =
        entriesInBlock(ctx, firstExtentEntry(getBlockType(ctx)), kExtentEntrySize, getBlockExtentCount(ctx));
    for (uint32_t i = 0; i < count; i++) {
        uint32_t rdba = getSegExtentRDBA(ctx, i);
        fprintf(stream, "%4d %8d %8d\n", static_cast<int>(rdbaFile(rdba)), static_cast<int>(rdbaBlock(rdba)),
                static_cast<int>(getSegExtentBlocks(ctx, i)));
    }
}

// ---------------------------------------------------------------------------
// Whole dumps.

void printHeader(FILE *stream, UnloadContext *ctx)
{
    if (stream == nullptr || ctx == nullptr || ctx->block == nullptr)
        return;
    CacheFields c = cacheFields(ctx);
    if (isSilentType(c.type))
        return;
    switch (c.type) {
    case kTypeUndoBlock:
        printTypeLine(stream, &c, "", true);
        printUndoBlockHeader(stream, ctx);
        return;
    case kTypeData:
        printDataBlock(stream, ctx);
        return;
    case kTypeFileHeader:
        printTypeLine(stream, &c, "", false);
        printFileHeader(stream, ctx);
        fputc('\n', stream);
        return;
    case kTypeUndoHeader:
    case kTypeUndoHeaderAuto:
        printTypeLine(stream, &c, "", true);
        printUndoSegmentHeader(stream, ctx);
        return;
    case kTypeFreeListSegHeader:
    case kTypeFreeListSegHeaderAlt:
    case kTypeFreeListExtentMap:
    case kTypeAssmSegHeader:
    case kTypeAssmExtentMap:
        printTypeLine(stream, &c, "", false);
        printSegmentHeader(stream, ctx);
        fputc('\n', stream);
        return;
    default:
        printTypeLine(stream, &c, "", false);
        fputc('\n', stream);
        return;
    }
}

void printBriefHeader(FILE *stream, UnloadContext *ctx)
{
    if (stream == nullptr || ctx == nullptr || ctx->block == nullptr)
        return;
    // Column-type guessing writes its findings as comments into the
    // operator's script; the summaries then read as comments too.
    const char *mark = ctx->guessMode != 0 ? "## " : "";
    CacheFields c = cacheFields(ctx);
    if (isSilentType(c.type))
        return;
    switch (c.type) {
    case kTypeUndoBlock:
        printTypeLine(stream, &c, mark, true);
        printUndoBlockHeader(stream, ctx);
        return;
    case kTypeData: {
        printTypeLine(stream, &c, mark, false);
        uint8_t dataType = getDataType(ctx);
        uint32_t objd = getDataObjectID(ctx);
        fprintf(stream, "%sseg/obj=0x%08x=%u,csc=0x%04x.%08x,itc=%d,typ=%d - %s %s\n", mark, objd, objd,
                getCleanSCNWrap(ctx), getCleanSCNBase(ctx), static_cast<int>(getITLCount(ctx)),
                static_cast<int>(dataType), dataKindWord(dataType), iotWord(ctx, dataType));
        // An index block has no table directory: the bytes where it would be
        // are the index header.
        if (dataType == kDataTypeTable) {
            uint32_t directory = getDataLayerOffset(ctx) + kTableDirectory + getCompressOffset(ctx);
            uint32_t tables = entriesInBlock(ctx, directory, kTableEntrySize, getTableCount(ctx));
            for (uint32_t t = 0; t < tables; t++)
                fprintf(stream, "%stab#=%3d     nrow=%4d     offs=%4d\n", mark, static_cast<int>(t),
                        static_cast<int>(getTableRowCount(ctx, t)), static_cast<int>(getTableRowIndex(ctx, t)));
        }
        fputc('\n', stream);
        return;
    }
    case kTypeFileHeader:
        printTypeLine(stream, &c, mark, true);
        printFileHeader(stream, ctx);
        fputc('\n', stream);
        return;
    case kTypeUndoHeader:
    case kTypeUndoHeaderAuto:
        printTypeLine(stream, &c, mark, true);
        printUndoSegmentHeader(stream, ctx);
        return;
    case kTypeFreeListSegHeader:
    case kTypeFreeListSegHeaderAlt:
    case kTypeAssmSegHeader: {
        uint32_t objd = getDataObjectID(ctx);
        fprintf(stream, "%sRDBA=0x%08x(%u/%u),  type=0x%02x, fmt=0x%02x, seq=0x%02x, flag=0x%02x, seg/obj=0x%08x=%u\n",
                mark, c.rdba, rdbaFile(c.rdba), rdbaBlock(c.rdba), c.type, c.format, c.sequence, c.flag, objd, objd);
        fputc('\n', stream);
        return;
    }
    case kTypeFreeListExtentMap: {
        printTypeLine(stream, &c, mark, true);
        uint32_t objd = getDataObjectID(ctx);
        fprintf(stream, "%sseg/obj=0x%08x=%u\n", mark, objd, objd);
        fputc('\n', stream);
        return;
    }
    default:
        printTypeLine(stream, &c, mark, false);
        fputc('\n', stream);
        return;
    }
}
