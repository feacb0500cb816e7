// Dictionary bootstrap: unloads the columns of the SYS tables that the
// dictionary files keep (USER$, OBJ$, TAB$, COL$ and, once those are
// written, IND$, the partition tables and COLTYPE$) with the ordinary row
// writer.  Only the selected column positions get a type code; every other
// position is 0 and writes neither value nor separator, so a line is the
// selected values in row order, with a trailing comma when stored columns
// follow the last selected one.  A name holding a comma, a double quote, CR
// or LF is written in double quotes (RFC 4180); every other value as it
// stands.
//
// Bootstrap layouts (positions are physical: in a cluster member table
// position 0 is the cluster key):
//   USER$   cluster C_USER# objd 10, table 1: 0 USER#, 1 NAME
//   OBJ$    objd 18, table 0: 0 OBJ#, 2 OWNER#, 3 NAME, 5 SUBNAME, 6 TYPE#, 14 OID$
//   TAB$    cluster C_OBJ# objd 2, table 1: 0 OBJ#, 1 DATAOBJ#, 2 TS#, 3 FILE#,
//           4 BLOCK#, 6 TAB#
//   COL$    cluster C_OBJ# objd 2, table 5: 0 OBJ#, 1 COL#, 2 SEGCOL#, 5 NAME,
//           6 TYPE#, 7 LENGTH, 9 PRECISION#, 10 SCALE, 11 NULL$, 14 INTCOL#,
//           15 PROPERTY, 16 CHARSETID, 17 CHARSETFORM
#include <cstring>
#include <strings.h>

#include "shell/shell.h"
#include "dictionary/dictionary.h"
#include "scan/scan.h"
#include "unload/unload.h"

namespace {

constexpr uint8_t kNumber = 2;
constexpr uint8_t kVarchar2 = 1;
constexpr uint8_t kRaw = 23;
constexpr uint8_t kOutputStyleText = 0;
constexpr uint32_t kSysUserNumber = 0;

struct SelectedColumn {
    uint8_t position;
    uint8_t type;
};

constexpr SelectedColumn kUserColumns[] = {{0, kNumber}, {1, kVarchar2}};
constexpr SelectedColumn kObjectColumns[] = {{0, kNumber},    {2, kNumber}, {3, kVarchar2},
                                             {5, kVarchar2}, {6, kNumber}, {14, kRaw}};
constexpr SelectedColumn kTableColumns[] = {{0, kNumber}, {1, kNumber}, {2, kNumber},
                                            {3, kNumber}, {4, kNumber}, {6, kNumber}};
constexpr SelectedColumn kColumnColumns[] = {
    {0, kNumber},  {1, kNumber},  {2, kNumber},  {5, kVarchar2}, {6, kNumber},
    {7, kNumber},  {9, kNumber},  {10, kNumber}, {11, kNumber},  {14, kNumber},
    {15, kNumber}, {16, kNumber}, {17, kNumber},
};

// COL$ again, for the defaults of added columns: OBJ#, DEFLENGTH, DEFAULT$
// (a LONG, written in hexadecimal so that no comma or line end of the SQL
// text can break the line), INTCOL#.
constexpr SelectedColumn kColumnDefaultColumns[] = {{0, kNumber}, {12, kNumber}, {13, kRaw}, {14, kNumber}};

// Tables found through the rebuilt dictionary; all NUMBER but COLTYPE$'s
// TOID.
constexpr SelectedColumn kIndColumns[] = {{1, kNumber}, {2, kNumber}, {3, kNumber}, {4, kNumber}, {5, kNumber}};
constexpr SelectedColumn kTabPartColumns[] = {{0, kNumber}, {1, kNumber}, {6, kNumber}, {7, kNumber}, {8, kNumber}};
constexpr SelectedColumn kIndPartColumns[] = {{0, kNumber}, {1, kNumber}, {7, kNumber}, {8, kNumber}, {9, kNumber}};
constexpr SelectedColumn kSubPartColumns[] = {{0, kNumber}, {1, kNumber}, {5, kNumber}, {6, kNumber}, {7, kNumber}};
constexpr SelectedColumn kColTypeColumns[] = {{0, kNumber}, {1, kNumber}, {2, kNumber}, {3, kRaw},
                                              {4, kNumber}, {5, kNumber}, {10, kNumber}};

struct BootstrapTable {
    uint32_t objd;
    uint32_t table;
    const SelectedColumn *columns;
    size_t count;
};

constexpr BootstrapTable kSysUser = {10, 1, kUserColumns, sizeof kUserColumns / sizeof kUserColumns[0]};
constexpr BootstrapTable kSysObj = {18, 0, kObjectColumns, sizeof kObjectColumns / sizeof kObjectColumns[0]};
constexpr BootstrapTable kSysTab = {2, 1, kTableColumns, sizeof kTableColumns / sizeof kTableColumns[0]};
constexpr BootstrapTable kSysCol = {2, 5, kColumnColumns, sizeof kColumnColumns / sizeof kColumnColumns[0]};
constexpr BootstrapTable kSysColDefault = {2, 5, kColumnDefaultColumns,
                                           sizeof kColumnDefaultColumns / sizeof kColumnDefaultColumns[0]};

struct CompanionTable {
    const char *name;
    const SelectedColumn *columns;
    size_t count;
};

constexpr CompanionTable kCompanions[] = {
    {"IND$", kIndColumns, sizeof kIndColumns / sizeof kIndColumns[0]},
    {"TABPART$", kTabPartColumns, sizeof kTabPartColumns / sizeof kTabPartColumns[0]},
    {"INDPART$", kIndPartColumns, sizeof kIndPartColumns / sizeof kIndPartColumns[0]},
    {"TABSUBPART$", kSubPartColumns, sizeof kSubPartColumns / sizeof kSubPartColumns[0]},
    {"INDSUBPART$", kSubPartColumns, sizeof kSubPartColumns / sizeof kSubPartColumns[0]},
    {"COLTYPE$", kColTypeColumns, sizeof kColTypeColumns / sizeof kColTypeColumns[0]},
};

void selectColumns(UnloadContext *ctx, const SelectedColumn *columns, size_t count)
{
    memset(ctx->columnTypes, 0, sizeof ctx->columnTypes);
    for (size_t i = 0; i < count; i++)
        ctx->columnTypes[columns[i].position] = columns[i].type;
}

// Through the extent map when the segment header is found and whole,
// otherwise by scanning every datafile for blocks of the object.  The
// dictionary is what every later command stands on: a header whose map
// reaches fewer blocks than its file holds is not trusted, and a missing
// header is said.
void unloadSegment(FILE *stream, UnloadContext *ctx, uint32_t objd, uint32_t table, uint8_t deleted,
                   uint8_t committed, uint32_t headerFile, uint32_t headerBlock)
{
    if (!scanSegmentHeader(ctx, objd, headerFile, headerBlock)) {
        printf("  Segment header of OBJD=%u not found: rows taken from a scan of the datafiles\n", objd);
        scanTableRows(stream, ctx, objd, table, deleted, committed, 0, 0);
    } else if (checkSegmentHeader(ctx, objd, 1)) {
        printExtentRows(stream, ctx, objd, table, deleted, committed);
    } else {
        scanTableRows(stream, ctx, objd, table, deleted, committed, 0, 0);
    }
}

void printBootstrapTable(FILE *stream, UnloadContext *ctx, const BootstrapTable *layout, uint8_t deleted,
                         uint8_t committed, uint32_t file, uint32_t objd, uint32_t table)
{
    uint8_t savedStyle = ctx->outputStyle;
    ctx->outputStyle = kOutputStyleText;
    ctx->quoteText = 1;
    selectColumns(ctx, layout->columns, layout->count);
    if (objd == 0)
        objd = layout->objd;
    if (table == 0)
        table = layout->table;
    // The header is searched in the given file only (every file with
    // BIGFILE, whose addresses name no file).
    unloadSegment(stream, ctx, objd, table, deleted, committed, file, 0);
    ctx->outputStyle = savedStyle;
    ctx->quoteText = 0;
}

}  // namespace

void printSYSUSER8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                    uint32_t objd, uint32_t table)
{
    printBootstrapTable(stream, ctx, &kSysUser, deleted, committed, file, objd, table);
}

void printSYSOBJ8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                   uint32_t objd, uint32_t table)
{
    printBootstrapTable(stream, ctx, &kSysObj, deleted, committed, file, objd, table);
}

void printSYSTAB8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                   uint32_t objd, uint32_t table)
{
    printBootstrapTable(stream, ctx, &kSysTab, deleted, committed, file, objd, table);
}

void printSYSCOL8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                   uint32_t objd, uint32_t table)
{
    printBootstrapTable(stream, ctx, &kSysCol, deleted, committed, file, objd, table);
}

int getSYSTableSegment(SegmentEntry *segment, const char *name)
{
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    memset(segment, 0, sizeof *segment);
    if (!getORASYSOBJ(&object, kSysUserNumber, name, ""))
        return 0;
    return getORASYSTAB(segment, object.selectedObject);
}

int printSYSTable8I(FILE *stream, UnloadContext *ctx, const char *name, const SegmentEntry *segment,
                    uint8_t deleted, uint8_t committed)
{
    for (const CompanionTable &companion : kCompanions) {
        if (strcasecmp(companion.name, name) != 0)
            continue;
        uint8_t savedStyle = ctx->outputStyle;
        ctx->outputStyle = kOutputStyleText;
        ctx->quoteText = 1;
        selectColumns(ctx, companion.columns, companion.count);
        unloadSegment(stream, ctx, segment->dataObjectId, segment->cluster, deleted, committed,
                      segment->headerFile, segment->headerBlock);
        ctx->outputStyle = savedStyle;
        ctx->quoteText = 0;
        return 1;
    }
    return 0;
}

void printSYSCOLDEFAULT8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                          uint32_t objd, uint32_t table)
{
    printBootstrapTable(stream, ctx, &kSysColDefault, deleted, committed, file, objd, table);
}

void printSYSECOL(FILE *stream, UnloadContext *ctx, const SegmentEntry *segment, const uint16_t positions[3],
                  uint8_t deleted, uint8_t committed)
{
    // The locator of BINARYDEFVAL as RAW: its in-row bytes are the value.
    const uint8_t types[3] = {kNumber, kNumber, kRaw};
    printSYSColumns(stream, ctx, segment, positions, types, 3, deleted, committed);
}

void printSYSColumns(FILE *stream, UnloadContext *ctx, const SegmentEntry *segment, const uint16_t *positions,
                     const uint8_t *types, uint32_t count, uint8_t deleted, uint8_t committed)
{
    uint8_t savedStyle = ctx->outputStyle;
    ctx->outputStyle = kOutputStyleText;
    ctx->quoteText = 1;
    memset(ctx->columnTypes, 0, sizeof ctx->columnTypes);
    for (uint32_t i = 0; i < count; i++) {
        if (positions[i] < kMaxColumns)
            ctx->columnTypes[positions[i]] = types[i];
    }
    unloadSegment(stream, ctx, segment->dataObjectId, segment->cluster, deleted, committed,
                  segment->headerFile, segment->headerBlock);
    ctx->outputStyle = savedStyle;
    ctx->quoteText = 0;
}
