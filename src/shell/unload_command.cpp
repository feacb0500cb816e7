// UNLOAD: the per-command reset of the context, the keyword grammar, the
// choice between the dictionary unload, UNLOAD TABLE and UNLOAD OBJECT, and
// the three forms: the rebuild of the dictionary files from the SYS tables;
// a table found in the dictionary, with its CREATE TABLE script and
// SQL*Loader control file; a segment by data object id.
//
// Grammar: UNLOAD followed by keyword/value pairs in any order.  A word that
// is not a keyword is the value of the keyword waiting for one; after its
// value the keyword no longer waits, except COLUMN, whose every following
// word is one more column type.  Values longer than their buffers are cut.
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>

#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "lob/lob.h"
#include "scan/scan.h"
#include "shell/shell.h"
#include "unload/background_writer.h"
#include "unload/parallel_unload.h"
#include "unload/unload.h"
#include "unload/value_format.h"

namespace {

constexpr int kNameSize = 1024;          // table argument, output and target names, numbers
constexpr int kPartitionSize = 64;
constexpr int kExtentNameSize = 128;
constexpr uint64_t kSmallestLimit = 10;
constexpr uint8_t kOutputStyleText = 0;
constexpr uint8_t kUnknownType = 253;
constexpr const char *kLobMapFileName = "ZORDICT/ZORLOB.TXT";

enum UnloadKeyword {
    kKeyTable, kKeyObject, kKeyCluster, kKeyColumn, kKeyTo, kKeyFile, kKeyBlock, kKeyPartition,
    kKeyChunk, kKeyLob, kKeyExtent, kKeyAs, kKeyLimit, kKeyIndex, kKeyCount, kKeyNone = -1
};
const char *const kUnloadKeywords[kKeyCount] = {
    "TABLE", "OBJECT", "CLUSTER", "COLUMN", "TO", "FILE", "BLOCK",
    "PARTITION", "CHUNK", "LOB", "EXTENT", "AS", "LIMIT", "INDEX",
};

// COLUMN type words, tried in this order, each as a prefix of its own length
// (so VARCHAR2 comes before VARCHAR, LONGRAW before LONG, the TIMESTAMP kinds
// before TIMESTAMP); NCHAR is recognised by its first four letters.
struct ColumnTypeWord {
    const char *word;
    size_t compared;
    uint8_t code;
};
const ColumnTypeWord kColumnTypeWords[] = {
    {"CHAR", 4, 96},           {"NCHAR", 4, 254},         {"NCLOB", 5, 255},
    {"VARCHAR2", 8, 1},        {"VARCHAR", 7, 9},         {"LONGRAW", 7, 24},
    {"LONG", 4, 8},            {"RAW", 3, 23},            {"NUMBER", 6, 2},
    {"DATE", 4, 12},           {"TIMESTAMP_TZ", 12, 181}, {"TIMESTAMP_LTZ", 13, 231},
    {"TIMESTAMP", 9, 180},     {"BINARY_FLOAT", 12, 100}, {"BINARY_DOUBLE", 13, 101},
    {"SKIP", 4, 0},            {"BLOB", 4, 113},          {"CLOB", 4, 112},
    {"VARRAY", 6, 109},        {"NARRAY", 6, 108},
};

const char *const kUsageLines[] = {
    "  UNLOAD TABLE user.tablename [LIMIT rows] [LOB colid.fid.blockid] [TO filename]\n",
    "  UNLOAD OBJECT objd [LIMIT rows] [CLUSTER clusterid] [LOB colid.fid.blockid]\n",
    "         [FILE rfn] [BLOCK blockid] [COLUMN coltype] [TO filename]\n",
    "  Note: \n",
    "     coltype -- SKIP CHAR VARCHAR VARCHAR2 LONG DATE VARRAY/NARRAY \n",
    "             -- NUMBER RAW LONGRAW TIMESTAMP TIMESTAMPTZ\n",
    "             -- TIMESTAMPLTZ BINARY_FLOAT BINARY_DOUBLE\n",
};

// Table arguments that rebuild the dictionary cache from the SYS tables.
const char *const kDictionaryTables[] = {"USER$", "OBJ$", "COL$", "TAB$", "DICT$"};

struct UnloadArgs {
    char table[kNameSize];
    uint32_t objd;
    uint8_t cluster;
    uint16_t file;
    uint32_t block;
    char partition[kPartitionSize];
    char output[kNameSize];
    char target[kNameSize];
    char extentFile[kExtentNameSize];
    char lob[kNameSize];
    uint32_t columnCount;   // COLUMN words given (only the first 1024 are kept)
};

uint8_t columnTypeOfWord(const char *word)
{
    for (const ColumnTypeWord &entry : kColumnTypeWords) {
        if (strncasecmp(word, entry.word, entry.compared) == 0)
            return entry.code;
    }
    return kUnknownType;
}

int findUnloadKeyword(const CommandLine *cmd)
{
    for (int k = 0; k < kKeyCount; k++) {
        if (compareKeyword(cmd, kUnloadKeywords[k]) == 0)
            return k;
    }
    return kKeyNone;
}

long wordAsLong(const CommandLine *cmd)
{
    char text[kNameSize];
    copyCurrentWord(cmd, text, sizeof text);
    return strtol(text, nullptr, 10);
}

// Stores the current word as the value of keyword k.
void takeValue(UnloadArgs *args, UnloadContext *ctx, const CommandLine *cmd, int k)
{
    switch (k) {
    case kKeyTable: copyCurrentWord(cmd, args->table, sizeof args->table); break;
    case kKeyObject: args->objd = static_cast<uint32_t>(wordAsLong(cmd)); break;
    case kKeyCluster: args->cluster = static_cast<uint8_t>(wordAsLong(cmd)); break;
    case kKeyFile: args->file = static_cast<uint16_t>(wordAsLong(cmd)); break;
    case kKeyBlock: args->block = static_cast<uint32_t>(wordAsLong(cmd)); break;
    case kKeyPartition: copyCurrentWord(cmd, args->partition, sizeof args->partition); break;
    case kKeyTo: copyCurrentWord(cmd, args->output, sizeof args->output); break;
    case kKeyExtent: copyCurrentWord(cmd, args->extentFile, sizeof args->extentFile); break;
    // The LOB index address of a column is set by the LOB map's parser, which
    // comes with the LOB output; the text is kept for it.
    case kKeyLob: copyCurrentWord(cmd, args->lob, sizeof args->lob); break;
    case kKeyAs: {
        copyCurrentWord(cmd, args->target, sizeof args->target);
        for (char *c = args->target; *c != '\0'; c++)
            *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
        break;
    }
    case kKeyChunk: {
        long chunks = wordAsLong(cmd);
        ctx->chunkCount = chunks < 1 ? 1 : static_cast<int32_t>(chunks > INT32_MAX ? INT32_MAX : chunks);
        break;
    }
    case kKeyLimit: {
        char text[kNameSize];
        copyCurrentWord(cmd, text, sizeof text);
        unsigned long long limit = strtoull(text, nullptr, 10);
        ctx->rowLimit = limit < kSmallestLimit ? kSmallestLimit : limit;
        break;
    }
    case kKeyIndex: ctx->indexOption = static_cast<uint8_t>(wordAsLong(cmd)); break;
    case kKeyColumn: {
        char text[kNameSize];
        copyCurrentWord(cmd, text, sizeof text);
        if (args->columnCount < static_cast<uint32_t>(kMaxColumns))
            ctx->columnTypes[args->columnCount++] = columnTypeOfWord(text);
        break;
    }
    default: break;
    }
}

void parseUnloadArgs(CommandLine *cmd, UnloadContext *ctx, UnloadArgs *args)
{
    int waiting = kKeyNone;
    while (scanNextWord(cmd) > 0) {
        int k = findUnloadKeyword(cmd);
        if (k != kKeyNone) {
            waiting = k;
            continue;
        }
        if (waiting == kKeyNone)
            continue;
        takeValue(args, ctx, cmd, waiting);
        if (waiting != kKeyColumn)
            waiting = kKeyNone;
    }
}

// The per-command reset, before any argument is read.
void prepareUnload(ShellState *shell, UnloadArgs *args)
{
    UnloadContext *ctx = shell->ctx;
    memset(args, 0, sizeof *args);
    snprintf(args->extentFile, sizeof args->extentFile, "%s", kExtentFileName);
    ctx->guessMode = 0;
    ctx->chunkCount = 1;
    ctx->indexOption = 0;

    ctx->fieldTag[0] = ',';
    ctx->fieldTagLength = 1;
    ctx->recordTag[0] = '\n';
    ctx->recordTagLength = 1;
    memset(ctx->columnTypes, 0, sizeof ctx->columnTypes);
    ctx->rowsUnloaded = 0;
    ctx->rowLimit = kNoRowLimit;
    memset(ctx->columnCharsetId, 0, sizeof ctx->columnCharsetId);
    memset(ctx->columnCharsetForm, 0, sizeof ctx->columnCharsetForm);
    memset(ctx->unknownTypeWarnings, 0, sizeof ctx->unknownTypeWarnings);

    if (ctx->dataWindow != nullptr)
        emptyReadAheadWindow(ctx->dataWindow);
    if (ctx->lobWindow != nullptr)
        emptyReadAheadWindow(ctx->lobWindow);
    if (ctx->indexWindow != nullptr) {
        emptyReadAheadWindow(ctx->indexWindow);
        if (ctx->indexWindow->buffer != nullptr)
            memset(ctx->indexWindow->buffer, 0, ctx->indexWindow->capacity);
    }

    mkdir("LOBDATA", 0777);
    memset(ctx->lobIndexFile, 0, sizeof ctx->lobIndexFile);
    memset(ctx->lobIndexBlock, 0, sizeof ctx->lobIndexBlock);

    LobPageMap *map = ctx->lobMap;
    if (map != nullptr) {
        if (map->wholeMap != nullptr)
            fclose(map->wholeMap);
        map->pageCount = 0;
        // Loaded into the page table by the LOB map's reader when it is built.
        map->wholeMap = fopen64(kLobMapFileName, "rb+");
    }
}

void finishUnload(UnloadContext *ctx)
{
    LobPageMap *map = ctx->lobMap;
    if (map != nullptr && map->wholeMap != nullptr) {
        fclose(map->wholeMap);
        map->wholeMap = nullptr;
        map->pageCount = 0;
    }
}

void copyTagsIntoContext(const ShellState *shell, UnloadContext *ctx)
{
    memcpy(ctx->fieldTag, shell->fieldTagValue, kTagSize);
    memcpy(ctx->recordTag, shell->recordTagValue, kTagSize);
    memcpy(ctx->lobTag, shell->longTagValue, kTagSize);
    ctx->fieldTagLength = static_cast<uint16_t>(strnlen(shell->fieldTagValue, kTagSize));
    ctx->recordTagLength = static_cast<uint16_t>(strnlen(shell->recordTagValue, kTagSize));
    ctx->lobTagLength = static_cast<uint16_t>(strnlen(shell->longTagValue, kTagSize));
}

// The output file, fully buffered with the shell's 256 KB buffer and written
// by a thread of its own; standard output when no name is given or the file
// cannot be created.
FILE *openUnloadOutput(ShellState *shell, const char *name)
{
    if (name[0] == '\0')
        return stdout;
    FILE *out = openBackgroundWriter(name);
    if (out == nullptr)
        return stdout;
    if (shell->outputBuffer != nullptr)
        setvbuf(out, reinterpret_cast<char *>(shell->outputBuffer), _IOFBF, kOutputBufferSize);
    return out;
}

void closeUnloadOutput(FILE *out)
{
    if (out != stdout)
        fclose(out);
    else
        fflush(stdout);
}

// The extent runs of objd listed in the extent file, one by one; returns
// how many lines named objd.
uint32_t unloadByExtentFile(FILE *out, FILE *extents, UnloadContext *ctx, uint32_t objd, uint32_t table,
                            uint8_t deleted, uint8_t committed)
{
    CommandLine *line = static_cast<CommandLine *>(calloc(1, sizeof(CommandLine)));
    if (line == nullptr)
        return 0;
    uint32_t runs = 0;
    while (readDictionaryLine(extents, line, kLineBufferSize)) {
        ExtentEntry extent;
        if (parseORAEXTENT(&extent, line) == 0 && extent.dataObjectId == objd) {
            runs++;
            printRowByExtent(out, ctx, objd, table, deleted, committed, &extent);
        }
    }
    free(line);
    return runs;
}

// The rows of the segment under PARALLEL; a LIMIT is kept exactly by
// counting in one process.  False when a worker failed: the output is
// incomplete.
bool traverseInParallel(FILE *out, ShellState *shell, TraversalFunction traverse, void *arg)
{
    UnloadContext *ctx = shell->ctx;
    uint32_t workers = ctx->rowLimit == kNoRowLimit ? parallelWorkers(shell) : 1;
    return runParallelTraversal(out, ctx, workers, traverse, arg);
}

// The report at the end of an unload.  An unload cut short by a failed
// worker is not reported as a success, and its file is renamed so that
// nobody loads it for the whole table.
void reportUnloadEnd(const UnloadContext *ctx, const char *output, bool complete)
{
    if (complete) {
        printf("Sucessfully unload %llu rows ...\n", static_cast<unsigned long long>(ctx->rowsUnloaded));
        return;
    }
    printf("Unload incomplete: %llu rows written before a worker failed ...\n",
           static_cast<unsigned long long>(ctx->rowsUnloaded));
    if (output[0] == '\0')
        return;
    char renamed[kNameSize + 16];
    snprintf(renamed, sizeof renamed, "%s.incomplete", output);
    if (rename(output, renamed) == 0)
        printf("Partial output left in %s\n", renamed);
}

struct ObjectTraversal {
    ShellState *shell;
    const UnloadArgs *args;
};

// UNLOAD OBJECT's rows: the extent file's runs of the object, or (without
// the file, or for one block) the segment header's extent map or a scan.
void traverseObject(FILE *out, void *arg)
{
    const ObjectTraversal *t = static_cast<const ObjectTraversal *>(arg);
    ShellState *shell = t->shell;
    const UnloadArgs *args = t->args;
    UnloadContext *ctx = shell->ctx;
    FILE *extents = fopen64(args->extentFile, "r+");
    uint8_t deleted = shell->deletedRow;
    uint8_t committed = shell->commitedOnly;
    if (extents == nullptr || (args->file != 0 && args->block != 0)) {
        if (scanSegmentHeader(ctx, args->objd, args->file, args->block))
            printExtentRows(out, ctx, args->objd, args->cluster, deleted, committed);
        else
            scanTableRows(out, ctx, args->objd, args->cluster, deleted, committed, args->file, args->block);
    } else {
        unloadByExtentFile(out, extents, ctx, args->objd, args->cluster, deleted, committed);
    }
    if (extents != nullptr)
        fclose(extents);
}

void runUnloadObject(ShellState *shell, const UnloadArgs *args)
{
    UnloadContext *ctx = shell->ctx;
    uint8_t savedStyle = ctx->outputStyle;
    ctx->outputStyle = kOutputStyleText;
    copyTagsIntoContext(shell, ctx);
    // Columns past the COLUMN list have no type given: the decoder writes
    // them in hexadecimal, with a warning.
    for (uint32_t i = args->columnCount; i < static_cast<uint32_t>(kMaxColumns); i++)
        ctx->columnTypes[i] = kUnknownType;

    FILE *out = openUnloadOutput(shell, args->output);
    printDate(stdout);
    ObjectTraversal traversal = {shell, args};
    bool complete = traverseInParallel(out, shell, traverseObject, &traversal);

    // Rows written to standard output come before the report.
    if (out == stdout)
        fflush(stdout);
    closeUnloadOutput(out);
    reportUnloadEnd(ctx, out == stdout ? "" : args->output, complete);
    printDate(stdout);
    ctx->rowLimit = kNoRowLimit;
    ctx->outputStyle = savedStyle;
}

// ---- UNLOAD TABLE ----

constexpr uint8_t kOutputStyleDump = 1;
constexpr uint8_t kLobStorageFile = 1;
// A base name, "_", a partition name and the longest suffix.
constexpr size_t kFileNameSize = kNameSize + kPartitionSize + 32;

// "$" in a table name is kept out of the names of the loader files, which
// shells and the loader's own command line would otherwise expand.
void replaceDollar(char *name)
{
    for (char *c = name; *c != '\0'; c++) {
        if (*c == '$')
            *c = '_';
    }
}

// Splits owner.table at the first "."; further dots stay in the table name.
// False when either part is empty.
bool splitOwnerTable(const char *argument, char *owner, char *table)
{
    const char *dot = strchr(argument, '.');
    if (dot == nullptr || dot == argument || dot[1] == '\0')
        return false;
    snprintf(owner, kDictNameSize, "%.*s", static_cast<int>(dot - argument), argument);
    snprintf(table, kDictNameSize, "%s", dot + 1);
    return true;
}

void writeSyntaxFile(const char *baseName, ColumnEntry *column, const ObjectEntry *object, const char *target)
{
    char name[kFileNameSize];
    snprintf(name, sizeof name, "%s_syntax.sql", baseName);
    replaceDollar(name);
    FILE *file = fopen64(name, "w+");
    if (file == nullptr)
        return;
    // The statement of the widest table the dictionary can describe does not
    // fit a stack buffer.
    char *text = static_cast<char *>(calloc(1, kCreateSyntaxSize));
    if (text != nullptr) {
        getCreateSyntax(text, kCreateSyntaxSize, column, object, target, 1);
        fprintf(file, "%s;\nexit;\n", text);
        free(text);
    }
    fclose(file);
}

void writeHexBytes(FILE *file, const char *bytes, uint16_t length)
{
    uint16_t n = length < kTagSize ? length : kTagSize;
    for (uint16_t i = 0; i < n; i++)
        fprintf(file, "%02x", static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
}

void writeColumnClause(FILE *file, const UnloadContext *ctx, const ColumnListEntry *column, int number)
{
    switch (column->type) {
    case 1: case 9: case 96:
        fprintf(file, "   %s    CHAR(%d) ", column->name, static_cast<int>(column->length));
        break;
    case 12: fprintf(file, "   %s   DATE \"YYYY-MM-DD HH24:MI:SS\" ", column->name); break;
    case 180: fprintf(file, "   %s   TIMESTAMP \"YYYY-MM-DD HH24:MI:SS.FF\" ", column->name); break;
    case 181:
        fprintf(file, "   %s   TIMESTAMP WITH TIME ZONE \"YYYY-MM-DD HH24:MI:SS.FF TZH:TZM\" ", column->name);
        break;
    case 231:
        fprintf(file, "   %s   TIMESTAMP WITH LOCAL TIME ZONE \"YYYY-MM-DD HH24:MI:SS.FF TZH:TZM\" ",
                column->name);
        break;
    case 8: case 24: fprintf(file, "   %s    CHAR(4000) ", column->name); break;
    case 112: case 113:
        if (ctx->lobStorage == kLobStorageFile) {
            fprintf(file, "   LOBF_%05d  FILLER  CHAR(64),\n", number);
            fprintf(file, "   %s    LOBFILE(LOBF_%05d) TERMINATED BY EOF NULLIF LOBF_%05d=BLANKS", column->name,
                    number, number);
        } else {
            fprintf(file, "   %s    CHAR(4000) ", column->name);
        }
        break;
    default: fprintf(file, "   %s    CHAR ", column->name); break;
    }
}

void writeControlFile(const char *baseName, const UnloadArgs *args, const UnloadContext *ctx,
                      const ColumnList *list)
{
    char name[kFileNameSize];
    if (args->partition[0] != '\0')
        snprintf(name, sizeof name, "%s_%s_sqlldr.ctl", baseName, args->partition);
    else
        snprintf(name, sizeof name, "%s_sqlldr.ctl", baseName);
    replaceDollar(name);
    FILE *file = fopen64(name, "w+");
    if (file == nullptr)
        return;
    fprintf(file, "--\n-- Generated by ZOR/Kelpo, for table %s\n--\n", args->table);
    fputs("OPTIONS(BINDSIZE=8388608, READSIZE=8388608, ERRORS=2147483647, ROWS=50000)\n", file);
    fputs("LOAD DATA\n", file);
    fprintf(file, "INFILE '%s' \"STR X'", args->output);
    writeHexBytes(file, ctx->recordTag, ctx->recordTagLength);
    fputs("'\"\n", file);
    fprintf(file, "APPEND INTO TABLE %s\n", baseName);
    fputs("FIELDS TERMINATED BY X'", file);
    writeHexBytes(file, ctx->fieldTag, ctx->fieldTagLength);
    fputs("' TRAILING NULLCOLS \n", file);
    fputs("(\n", file);
    if (ctx->rowAddress)
        fputs("   ZOR_ROWADDR  FILLER  CHAR(64),\n", file);
    // A stored position that no column line names has type 0: the row
    // writer gives it no field, so neither does the control file.
    uint16_t count = list->count < kMaxColumns ? list->count : kMaxColumns;
    int last = -1;
    for (int i = 0; i < count; i++) {
        if (list->columns[i].type != 0)
            last = i;
    }
    for (int i = 0; i <= last; i++) {
        if (list->columns[i].type == 0)
            continue;
        writeColumnClause(file, ctx, &list->columns[i], i + 1);
        fputs(i == last ? "\n" : ",\n", file);
    }
    fputs(")\n", file);
    fclose(file);
}

// The rows of the segment: the extent runs of the extent file when the
// table has a segment; else (or when the file lists no run of the object)
// through the segment header, or by scanning the datafiles.
struct TableTraversal {
    ShellState *shell;
    const UnloadArgs *args;
    const SegmentEntry *segment;
    uint32_t objd;
    uint32_t cluster;
};

void traverseTableSegment(FILE *out, ShellState *shell, const UnloadArgs *args, const SegmentEntry *segment,
                          uint32_t objd, uint32_t cluster)
{
    UnloadContext *ctx = shell->ctx;
    if (segment->headerFile == 0)
        return;
    uint8_t deleted = shell->deletedRow;
    uint8_t committed = shell->commitedOnly;
    FILE *extents = fopen64(args->extentFile, "r+");
    uint32_t runs = 0;
    if (extents != nullptr) {
        runs = unloadByExtentFile(out, extents, ctx, objd, cluster, deleted, committed);
        fclose(extents);
    }
    // An extent file written before the object's blocks were scanned (SCAN
    // EXTENT of another file, files added since) lists none of its runs:
    // that is no reason to report an empty table.
    if (extents != nullptr && runs != 0)
        return;
    if (scanSegmentHeader(ctx, objd, segment->headerFile, segment->headerBlock))
        printExtentRows(out, ctx, objd, cluster, deleted, committed);
    else
        scanTableRows(out, ctx, objd, cluster, deleted, committed, args->file, args->block);
}

void traverseTable(FILE *out, void *arg)
{
    const TableTraversal *t = static_cast<const TableTraversal *>(arg);
    traverseTableSegment(out, t->shell, t->args, t->segment, t->objd, t->cluster);
}

// UNLOAD TABLE owner.table in text: lookups, the loader files, the rows.
void unloadTableText(ShellState *shell, const UnloadArgs *args)
{
    UnloadContext *ctx = shell->ctx;
    char owner[kDictNameSize];
    char tableName[kDictNameSize];
    if (!splitOwnerTable(args->table, owner, tableName))
        return;
    UserEntry user;
    if (!getORASYSUSER(&user, owner)) {
        printf("  USER %s does not exists!\n", owner);
        return;
    }
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    if (!getORASYSOBJ(&object, user.userNumber, tableName, args->partition)) {
        printf("  TABLE %s.%s does not exists!\n", owner, tableName);
        return;
    }
    SegmentEntry segment;
    if (!getORASYSTAB(&segment, object.selectedObject) && !getORASYSTAB(&segment, object.selectedObject + 1))
        return;
    if (shell->tablespace != 0 && shell->tablespace != segment.tablespace)
        return;

    ColumnEntry column;
    ctx->columnCount = 0;
    getORACOLTYPE(&column, &object, args->partition, ctx, shell->columns);
    printDate(stdout);

    uint32_t objd = args->objd != 0 ? args->objd : segment.dataObjectId;
    if (args->cluster != 0)
        segment.cluster = args->cluster;
    uint32_t cluster = segment.cluster;
    printf("Unload OBJD=%u FILE=%u BLOCK=%u CLUSTER=%u ...\n", objd, static_cast<unsigned>(segment.headerFile),
           segment.headerBlock, cluster);

    const char *baseName = args->target[0] != '\0' ? args->target : object.name;
    if (args->output[0] != '\0') {
        writeSyntaxFile(baseName, &column, &object, args->target);
        writeControlFile(baseName, args, ctx, shell->columns);
    }

    FILE *out = openUnloadOutput(shell, args->output);
    TableTraversal traversal = {shell, args, &segment, objd, cluster};
    bool complete = traverseInParallel(out, shell, traverseTable, &traversal);
    if (out == stdout)
        fflush(stdout);
    closeUnloadOutput(out);
    reportUnloadEnd(ctx, out == stdout ? "" : args->output, complete);
    printDate(stdout);
}

void runUnloadTable(ShellState *shell, const UnloadArgs *args)
{
    UnloadContext *ctx = shell->ctx;
    copyTagsIntoContext(shell, ctx);
    uint8_t savedStyle = ctx->outputStyle;
    size_t outputLength = strlen(args->output);
    if (outputLength > 4)
        ctx->outputStyle = strcasecmp(args->output + outputLength - 4, ".DMP") == 0 ? kOutputStyleDump
                                                                                  : kOutputStyleText;
    // The export dump writer is not there yet: a dump unload writes nothing
    // rather than a file that looks like a dump and is not one.
    if (ctx->outputStyle == kOutputStyleText)
        unloadTableText(shell, args);
    ctx->outputStyle = savedStyle;
    ctx->rowLimit = kNoRowLimit;
}

// ---- The dictionary unload ----

enum DictionaryGroup { kGroupUser, kGroupObject, kGroupTable, kGroupColumn, kGroupCount };
const char *const kGroupNames[kGroupCount] = {"USER$", "OBJ$", "TAB$", "COL$"};
const char *const kGroupFiles[kGroupCount] = {kUserFile, kObjectFile, kSegmentFile, kColumnFile};
// Found through the rebuilt OBJ$ and TAB$ lines and appended to ZORTAB.TXT.
const char *const kAppendedTables[] = {"IND$", "TABPART$", "INDPART$", "TABSUBPART$", "INDSUBPART$"};

bool hasPrefix(const char *text, const char *prefix)
{
    return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

// A dictionary file fully buffered with the shell's buffer; standard output
// when it cannot be created.
FILE *openDictionaryFile(ShellState *shell, const char *name, const char *mode)
{
    FILE *file = fopen64(name, mode);
    if (file != nullptr && shell->outputBuffer != nullptr)
        setvbuf(file, reinterpret_cast<char *>(shell->outputBuffer), _IOFBF, kOutputBufferSize);
    return file;
}

void runDictionaryGroup(ShellState *shell, const UnloadArgs *args, int group)
{
    UnloadContext *ctx = shell->ctx;
    ctx->rowAddress = 0;
    ctx->rowsUnloaded = 0;
    uint8_t savedStyle = ctx->outputStyle;
    ctx->outputStyle = kOutputStyleText;
    FILE *file = openDictionaryFile(shell, kGroupFiles[group], "wb+");
    FILE *out = file != nullptr ? file : stdout;
    uint8_t deleted = shell->deletedRow;
    uint8_t committed = shell->commitedOnly;
    switch (group) {
    case kGroupUser: printSYSUSER8I(out, ctx, deleted, committed, args->file, args->objd, args->cluster); break;
    case kGroupObject: printSYSOBJ8I(out, ctx, deleted, committed, args->file, args->objd, args->cluster); break;
    case kGroupTable:
        memset(ctx->columnTypes, 0, sizeof ctx->columnTypes);
        printSYSTAB8I(out, ctx, deleted, committed, args->file, args->objd, args->cluster);
        break;
    default: printSYSCOL8I(out, ctx, deleted, committed, args->file, args->objd, args->cluster); break;
    }
    if (file != nullptr)
        fclose(file);
    else
        fflush(stdout);
    ctx->outputStyle = savedStyle;
}

// IND$, the partition tables and COLTYPE$, each when the dictionary written
// so far knows its segment; silently skipped otherwise (older databases).
void runDictionaryCompanion(ShellState *shell, const char *name, const char *fileName, const char *mode)
{
    SegmentEntry segment;
    if (!getSYSTableSegment(&segment, name))
        return;
    FILE *file = openDictionaryFile(shell, fileName, mode);
    if (file == nullptr)
        return;
    memset(shell->ctx->columnTypes, 0, sizeof shell->ctx->columnTypes);
    printSYSTable8I(file, shell->ctx, name, &segment, shell->deletedRow, shell->commitedOnly);
    fclose(file);
}

void runUnloadDictionary(ShellState *shell, const UnloadArgs *args)
{
    UnloadContext *ctx = shell->ctx;
    ctx->rowLimit = kNoRowLimit;
    printDate(stdout);
    bool all = hasPrefix(args->table, "DICT$");
    for (int group = 0; group < kGroupCount; group++) {
        if (!all && !hasPrefix(args->table, kGroupNames[group]))
            continue;
        runDictionaryGroup(shell, args, group);
        if (group == kGroupTable) {
            for (const char *name : kAppendedTables)
                runDictionaryCompanion(shell, name, kSegmentFile, "ab+");
        } else if (group == kGroupColumn) {
            runDictionaryCompanion(shell, "COLTYPE$", kColumnTypeFile, "wb+");
        }
    }
    printDate(stdout);
}

bool isDictionaryTable(const char *table)
{
    for (const char *name : kDictionaryTables) {
        if (strncasecmp(table, name, strlen(name)) == 0)
            return true;
    }
    return false;
}

}  // namespace

uint32_t parallelWorkers(const ShellState *shell)
{
    if (shell->parallel != kParallelAuto)
        return shell->parallel < 1 ? 1 : shell->parallel;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (cores < 1)
        return 1;
    return cores > kParallelMax ? static_cast<uint32_t>(kParallelMax) : static_cast<uint32_t>(cores);
}

void runUnloadCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    UnloadArgs args;
    prepareUnload(shell, &args);
    parseUnloadArgs(shell->command, ctx, &args);

    if (args.table[0] != '\0' && isDictionaryTable(args.table)) {
        runUnloadDictionary(shell, &args);
    } else if (args.table[0] != '\0') {
        runUnloadTable(shell, &args);
    } else if (args.objd != 0) {
        runUnloadObject(shell, &args);
    } else {
        for (const char *line : kUsageLines)
            fputs(line, stdout);
    }
    finishUnload(ctx);
}
