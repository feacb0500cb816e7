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
#include <cerrno>
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
#include "shell/csv_unload.h"
#include "shell/shell.h"
#include "unload/writers/added_columns.h"
#include "unload/writers/csv_output.h"
#include "unload/writers/export_dump.h"
#include "unload/parallel/background_writer.h"
#include "unload/parallel/parallel_unload.h"
#include "unload/unload.h"
#include "unload/values/value_format.h"

namespace {

constexpr int kNameSize = 1024;  // table argument, output and target names, numbers
constexpr int kPartitionSize = 64;
constexpr int kExtentNameSize = 128;
constexpr uint64_t kSmallestLimit = 10;
constexpr uint8_t kOutputStyleText = 0;
constexpr uint8_t kUnknownType = 253;

enum UnloadKeyword {
    kKeyTable,
    kKeyObject,
    kKeyCluster,
    kKeyColumn,
    kKeyTo,
    kKeyFile,
    kKeyBlock,
    kKeyPartition,
    kKeyChunk,
    kKeyLob,
    kKeyExtent,
    kKeyAs,
    kKeyLimit,
    kKeyIndex,
    kKeyCount,
    kKeyNone = -1
};
const char *const kUnloadKeywords[kKeyCount] = {
    "TABLE",     "OBJECT", "CLUSTER", "COLUMN", "TO", "FILE",  "BLOCK",
    "PARTITION", "CHUNK",  "LOB",     "EXTENT", "AS", "LIMIT", "INDEX",
};

// COLUMN type words, tried in this order, each as a prefix of its own length
// (so VARCHAR2 comes before VARCHAR, LONGRAW before LONG, the TIMESTAMP kinds
// before TIMESTAMP); NCHAR is recognised by its first four letters.  The
// usage text and SAMPLE's proposals spell the zoned kinds TIMESTAMPTZ and
// TIMESTAMPLTZ: those words select the kind they name, not plain TIMESTAMP,
// so that a pasted proposal writes each value with its offset.
struct ColumnTypeWord {
    const char *word;
    size_t compared;
    uint8_t code;
};
const ColumnTypeWord kColumnTypeWords[] = {
    {"CHAR", 4, 96},
    {"NCHAR", 4, 254},
    {"NCLOB", 5, 255},
    {"VARCHAR2", 8, 1},
    {"VARCHAR", 7, 9},
    {"LONGRAW", 7, 24},
    {"LONG", 4, 8},
    {"RAW", 3, 23},
    {"NUMBER", 6, 2},
    {"DATE", 4, 12},
    {"TIMESTAMP_TZ", 12, 181},
    {"TIMESTAMP_LTZ", 13, 231},
    {"TIMESTAMPTZ", 11, 181},
    {"TIMESTAMPLTZ", 12, 231},
    {"TIMESTAMP", 9, 180},
    {"BINARY_FLOAT", 12, 100},
    {"BINARY_DOUBLE", 13, 101},
    {"SKIP", 4, 0},
    {"BLOB", 4, 113},
    {"CLOB", 4, 112},
    {"VARRAY", 6, 109},
    {"NARRAY", 6, 108},
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
    uint32_t columnCount;  // COLUMN words given (only the first 1024 are kept)
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
    case kKeyLob:
        copyCurrentWord(cmd, args->lob, sizeof args->lob);
        parselobparams(ctx, args->lob);
        break;
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
    resetIncompleteRows(ctx);

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

    if (ctx->lobMap != nullptr)
        openLobMapForUnload(ctx->lobMap);
}

void finishUnload(UnloadContext *ctx)
{
    if (ctx->lobMap != nullptr)
        closeLobMapAfterUnload(ctx->lobMap);
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

// The extent file, or null to walk the segment instead.  Before any SCAN the
// usual file is missing, which is not worth a word; a named one is.
FILE *openExtentFile(const UnloadArgs *args)
{
    FILE *extents = fopen64(args->extentFile, "r+");
    if (extents == nullptr && (errno != ENOENT || strcmp(args->extentFile, kExtentFileName) != 0))
        reportFileError("open", "extent file", args->extentFile, "finding the object's blocks without it");
    return extents;
}

// The output file, fully buffered with the shell's 256 KB buffer and written
// by a thread of its own; standard output when no name is given or the file
// cannot be created.
FILE *openUnloadOutput(ShellState *shell, const char *name)
{
    if (name[0] == '\0')
        return stdout;
    FILE *out = openBackgroundWriter(name);
    if (out == nullptr) {
        reportFileError("create", "output file", name, "writing to standard output");
        return stdout;
    }
    if (shell->outputBuffer != nullptr)
        setvbuf(out, reinterpret_cast<char *>(shell->outputBuffer), _IOFBF, kOutputBufferSize);
    return out;
}

// Output named by the user may be a device (TO /dev/null): only a regular
// file the unload created is ever removed or renamed.
bool isRegularFile(const char *name)
{
    struct stat st;
    return stat(name, &st) == 0 && S_ISREG(st.st_mode);
}

void removeRegularFile(const char *name)
{
    if (isRegularFile(name))
        unlink(name);
}

// False when the output file could not be written to its end (a full disk,
// a quota, an I/O error): said on standard error.
bool closeUnloadOutput(FILE *out, const char *name)
{
    if (out == stdout) {
        fflush(stdout);
        return true;
    }
    bool ok = ferror(out) == 0;
    errno = 0;
    if (fclose(out) != 0)
        ok = false;
    if (!ok) {
        if (errno == 0)
            errno = EIO;
        reportFileError("write", "output file", name, nullptr);
    }
    return ok;
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
void reportUnloadEnd(const UnloadContext *ctx, const char *output, bool complete, bool written)
{
    unsigned long long rows = static_cast<unsigned long long>(ctx->rowsUnloaded);
    if (complete && written) {
        printf("Sucessfully unload %llu rows ...\n", rows);
        return;
    }
    if (!complete)
        printf("Unload incomplete: %llu rows written before a worker failed ...\n", rows);
    else
        printf("Unload incomplete: %llu rows unloaded but the output file could not be written ...\n", rows);
    if (output[0] == '\0' || !isRegularFile(output))
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
    bool csv = savedStyle == kOutputStyleCsv || ctx->target == kTargetPostgres;
    ctx->outputStyle = kOutputStyleText;
    copyTagsIntoContext(shell, ctx);
    uint8_t savedRowAddress = ctx->rowAddress;
    if (csv)
        csv = startCsvUnload(shell, false, &savedRowAddress);
    // Columns past the COLUMN list have no type given: the decoder writes
    // them in hexadecimal, with a warning.
    for (uint32_t i = args->columnCount; i < static_cast<uint32_t>(kMaxColumns); i++)
        ctx->columnTypes[i] = kUnknownType;

    FILE *out = openUnloadOutput(shell, args->output);
    // Said once here; each worker opens the file for itself, as a shared
    // stream would share its reading position between them.
    FILE *extents = openExtentFile(args);
    if (extents != nullptr)
        fclose(extents);
    printDate(stdout);
    ObjectTraversal traversal = {shell, args};
    bool complete = traverseInParallel(out, shell, traverseObject, &traversal);

    // Rows written to standard output come before the report.
    if (out == stdout)
        fflush(stdout);
    bool written = closeUnloadOutput(out, args->output);
    reportIncompleteRows(ctx);
    reportUnloadEnd(ctx, out == stdout ? "" : args->output, complete, written);
    printDate(stdout);
    if (csv)
        stopCsvUnload(shell, savedRowAddress);
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
    if (file == nullptr) {
        reportFileError("create", "CREATE TABLE script", name);
        return;
    }
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
    // Ciphertext is written in hexadecimal: two characters a byte.
    if ((column->property & kColumnEncrypted) != 0 && column->type == 23) {
        fprintf(file, "   %s    CHAR(%d) ", column->name, 2 * static_cast<int>(column->length));
        return;
    }
    switch (column->type) {
    case 1:
    case 9:
    case 96: fprintf(file, "   %s    CHAR(%d) ", column->name, static_cast<int>(column->length)); break;
    case 12: fprintf(file, "   %s   DATE \"YYYY-MM-DD HH24:MI:SS\" ", column->name); break;
    case 180: fprintf(file, "   %s   TIMESTAMP \"YYYY-MM-DD HH24:MI:SS.FF\" ", column->name); break;
    case 181:
        fprintf(file, "   %s   TIMESTAMP WITH TIME ZONE \"YYYY-MM-DD HH24:MI:SS.FF TZH:TZM\" ", column->name);
        break;
    case 231:
        fprintf(file, "   %s   TIMESTAMP WITH LOCAL TIME ZONE \"YYYY-MM-DD HH24:MI:SS.FF TZH:TZM\" ",
                column->name);
        break;
    case 8:
    case 24: fprintf(file, "   %s    CHAR(4000) ", column->name); break;
    case 112:
    case 113:
        if (ctx->lobStorage == kLobStorageFile) {
            fprintf(file, "   LOBF_%05d  FILLER  CHAR(64),\n", number);
            fprintf(file, "   %s    LOBFILE(LOBF_%05d) TERMINATED BY EOF NULLIF LOBF_%05d=BLANKS",
                    column->name, number, number);
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
    if (file == nullptr) {
        reportFileError("create", "control file", name);
        return;
    }
    fprintf(file, "--\n-- Generated by ZOR/Kelpo, for table %s\n--\n", args->table);
    fputs("OPTIONS(BINDSIZE=8388608, READSIZE=8388608, ERRORS=2147483647, ROWS=50000)\n", file);
    fputs("LOAD DATA\n", file);
    fprintf(file, "INFILE '%s' \"STR X'", args->output);
    writeHexBytes(file, ctx->recordTag, ctx->recordTagLength);
    fputs("'\"\n", file);
    fprintf(file, "APPEND INTO TABLE %s\n", baseName);
    fputs("FIELDS TERMINATED BY X'", file);
    writeHexBytes(file, ctx->fieldTag, ctx->fieldTagLength);
    fputs(ctx->csv != nullptr ? "' OPTIONALLY ENCLOSED BY '\"' TRAILING NULLCOLS \n"
                              : "' TRAILING NULLCOLS \n",
          file);
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
    FILE *extents = openExtentFile(args);
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
    if (!scanSegmentHeader(ctx, objd, segment->headerFile, segment->headerBlock)) {
        printf(
            "  Segment header of OBJD=%u at FILE=%u BLOCK=%u not found: rows taken from a scan of the "
            "datafiles\n",
            objd, static_cast<unsigned>(segment->headerFile), segment->headerBlock);
        scanTableRows(out, ctx, objd, cluster, deleted, committed, args->file, args->block);
    } else if (checkSegmentHeader(ctx, objd, 0)) {
        printExtentRows(out, ctx, objd, cluster, deleted, committed);
    } else {
        scanTableRows(out, ctx, objd, cluster, deleted, committed, args->file, args->block);
    }
}

void traverseTable(FILE *out, void *arg)
{
    const TableTraversal *t = static_cast<const TableTraversal *>(arg);
    traverseTableSegment(out, t->shell, t->args, t->segment, t->objd, t->cluster);
}

// One segment of the table (the table's own, or one partition's) into out,
// announced by its "Unload OBJD" line.
bool unloadTableSegment(FILE *out, ShellState *shell, const UnloadArgs *args, SegmentEntry *segment,
                        uint32_t objdOverride)
{
    uint32_t objd = objdOverride != 0 ? objdOverride : segment->dataObjectId;
    if (args->cluster != 0)
        segment->cluster = args->cluster;
    uint32_t cluster = segment->cluster;
    printf("Unload OBJD=%u FILE=%u BLOCK=%u CLUSTER=%u ...\n", objd,
           static_cast<unsigned>(segment->headerFile), segment->headerBlock, cluster);
    if (out == stdout)
        fflush(stdout);
    TableTraversal traversal = {shell, args, segment, objd, cluster};
    bool complete = traverseInParallel(out, shell, traverseTable, &traversal);
    if (out == stdout)
        fflush(stdout);
    return complete;
}

// A partitioned table named without PARTITION: every partition (and
// subpartition) with a segment, in dictionary order, into the one output.
bool unloadTablePartitions(FILE *out, ShellState *shell, const UnloadArgs *args, const uint32_t *parts,
                           int count)
{
    bool complete = true;
    for (int i = 0; i < count && complete; i++) {
        SegmentEntry segment;
        if (!getORASYSTAB(&segment, parts[i]))
            continue;
        if (shell->tablespace != 0 && shell->tablespace != segment.tablespace)
            continue;
        complete = unloadTableSegment(out, shell, args, &segment, 0);
    }
    return complete;
}

constexpr int kMaxPartitions = 1048576 / 4;

// The export dump's framing before the rows: header, TABLE, CREATE and
// INSERT statements, column descriptors, data begin.  False (nothing
// written) when the header refuses the owner's name.
bool writeDumpFraming(FILE *out, ShellState *shell, const char *owner, ColumnEntry *column,
                      const ObjectEntry *object, const char *target)
{
    UnloadContext *ctx = shell->ctx;
    if (!printDmpHeader(out, shell->charset, shell->nlsCharset, owner))
        return false;
    const char *tableName = target[0] != '\0' ? target : object->name;
    printDmpTable(out, tableName);
    char *text = static_cast<char *>(calloc(1, kCreateSyntaxSize));
    if (text != nullptr) {
        getCreateSyntax(text, kCreateSyntaxSize, column, object, target, 0);
        fprintf(out, "%s\n", text);
        free(text);
    }
    const ColumnList *list = shell->columns;
    uint32_t count = list->count < kMaxColumns ? list->count : kMaxColumns;
    fprintf(out, "INSERT INTO \"%s\" (", tableName);
    for (uint32_t i = 0; i < count; i++)
        fprintf(out, "%s\"%s\"", i == 0 ? "" : ",", list->columns[i].name);
    fputs(") VALUES (", out);
    for (uint32_t i = 0; i < count; i++) {
        const ColumnListEntry *c = &list->columns[i];
        const char *separator = i == 0 ? "" : ",";
        if (c->typeKind == kTypeKindXMLTYPE && c->type == 113)
            fprintf(out, "%sSYS.XMLTYPE.CREATEXMLFROMBINARY(:%u)", separator, i + 1);
        else if (c->typeKind == kTypeKindXMLTYPE)
            fprintf(out, "%sSYS.XMLTYPE.CREATEXML(:%u)", separator, i + 1);
        else if (c->typeKind == kTypeKindANYDATA)
            fprintf(out, "%sSYS.ANYDATA.CONVERTRAW(:%u)", separator, i + 1);
        else
            fprintf(out, "%s:%u", separator, i + 1);
    }
    fputs(")\n", out);
    printDmpColumns(out, count);
    for (uint32_t i = 0; i < count; i++) {
        const ColumnListEntry *c = &list->columns[i];
        if (c->type == 112)
            printDmpDatatype(out, c->type, c->length, shell->fixedCharset ? shell->charset : 872, 1);
        else if (c->charsetForm != 0 && c->charsetId != 0)
            printDmpDatatype(out, c->type, c->length, c->charsetId, c->charsetForm);
        else
            printDmpDatatype(out, c->type, c->length, shell->charset, 1);
    }
    printDmpDataBegin(out);
    (void)ctx;
    return true;
}

// Without the database's key ZOR cannot decrypt TDE columns: said once per
// column, so that nobody takes the hexadecimal for the data.
void noteEncryptedColumns(const ColumnList *list, const char *owner, const char *table)
{
    uint32_t count = list->count < kMaxColumns ? list->count : kMaxColumns;
    for (uint32_t i = 0; i < count; i++) {
        const ColumnListEntry *c = &list->columns[i];
        if ((c->property & kColumnEncrypted) != 0 && c->type == 23)
            fprintf(stderr,
                    "  Column %s of %s.%s is TDE-encrypted: its ciphertext is written in hexadecimal\n",
                    c->name, owner, table);
    }
}

// UNLOAD TABLE owner.table: lookups, the loader files (text) or the dump
// framing (DMP), the rows.
void unloadTable(ShellState *shell, const UnloadArgs *args, bool csv)
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
    uint32_t *parts = nullptr;
    int partCount = 0;
    if (!getORASYSTAB(&segment, object.selectedObject)) {
        if (args->partition[0] == '\0') {
            parts = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * kMaxPartitions));
            if (parts != nullptr)
                partCount = getORASYSPartitions(user.userNumber, tableName, parts, kMaxPartitions);
        }
        // An index-organized table's TAB$ line names no segment: its rows are
        // in the primary-key index, the next object number.
        if (partCount == 0 &&
            !(hasORASYSTABLine(object.selectedObject) && getORASYSTAB(&segment, object.selectedObject + 1))) {
            printf("  TABLE %s.%s has no segment in TAB$!\n", owner, tableName);
            free(parts);
            return;
        }
    } else if (shell->tablespace != 0 && shell->tablespace != segment.tablespace) {
        return;
    }

    ColumnEntry column;
    ctx->columnCount = 0;
    getORACOLTYPE(&column, &object, args->partition, ctx, shell->columns);
    if (shell->columns->count == 0) {
        printf("  TABLE %s.%s has no columns in COL$!\n", owner, tableName);
        free(parts);
        return;
    }
    noteEncryptedColumns(shell->columns, owner, tableName);
    printDate(stdout);

    const char *baseName = args->target[0] != '\0' ? args->target : object.name;
    bool dump = ctx->outputStyle == kOutputStyleDump;
    // For PostgreSQL the data always goes to a file, which the script names.
    bool postgres = csv && ctx->target == kTargetPostgres;
    char dataFile[kNameSize];
    snprintf(dataFile, sizeof dataFile, "%s", args->output);
    if (postgres && dataFile[0] == '\0')
        postgresDataFileName(dataFile, sizeof dataFile, baseName, args->partition);
    if (dump && dataFile[0] == '\0')
        snprintf(dataFile, sizeof dataFile, "zordata.dmp");
    uint8_t savedRowAddress = ctx->rowAddress;
    if (csv && !startCsvUnload(shell, true, &savedRowAddress))
        csv = postgres = false;
    if (postgres) {
        writePostgresScript(baseName, args->partition, &column, &object, args->target, args->table, dataFile,
                            ctx);
    } else if (!dump && args->output[0] != '\0') {
        writeSyntaxFile(baseName, &column, &object, args->target);
        writeControlFile(baseName, args, ctx, shell->columns);
    }

    FILE *out = openUnloadOutput(shell, dataFile);
    bool framed = dump && out != stdout;
    if (framed && !writeDumpFraming(out, shell, user.name, &column, &object, args->target)) {
        closeUnloadOutput(out, dataFile);
        removeRegularFile(dataFile);
        free(parts);
        return;
    }
    if (dump)
        beginDmpRows(ctx, shell->columns);
    beginAddedColumns(ctx, &object, owner, tableName);
    bool complete = partCount == 0 ? unloadTableSegment(out, shell, args, &segment, args->objd)
                                   : unloadTablePartitions(out, shell, args, parts, partCount);
    free(parts);
    if (framed) {
        printDmpDataEnd(out);
        printDmpTail(out);
    }
    endAddedColumns(ctx);
    endDmpRows(ctx);
    if (out == stdout)
        fflush(stdout);
    bool written = closeUnloadOutput(out, dataFile);
    if (csv)
        stopCsvUnload(shell, savedRowAddress);
    reportIncompleteRows(ctx);
    reportUnloadEnd(ctx, out == stdout ? "" : dataFile, complete, written);
    printDate(stdout);
}

void runUnloadTable(ShellState *shell, const UnloadArgs *args)
{
    UnloadContext *ctx = shell->ctx;
    copyTagsIntoContext(shell, ctx);
    uint8_t savedStyle = ctx->outputStyle;
    // CSV is text with quoting; PostgreSQL always takes CSV, whatever the
    // file is called.
    bool csv = savedStyle == kOutputStyleCsv || ctx->target == kTargetPostgres;
    if (csv)
        ctx->outputStyle = kOutputStyleText;
    size_t outputLength = strlen(args->output);
    if (outputLength > 4 && ctx->target != kTargetPostgres)
        ctx->outputStyle =
            strcasecmp(args->output + outputLength - 4, ".DMP") == 0 ? kOutputStyleDump : kOutputStyleText;
    // A dump is not CSV, whatever the style said.
    if (ctx->outputStyle == kOutputStyleDump)
        csv = false;
    unloadTable(shell, args, csv);
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
    if (file == nullptr)
        reportFileError("create", "dictionary file", name);
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
    case kGroupUser:
        printSYSUSER8I(out, ctx, deleted, committed, args->file, args->objd, args->cluster);
        break;
    case kGroupObject:
        printSYSOBJ8I(out, ctx, deleted, committed, args->file, args->objd, args->cluster);
        break;
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

// The defaults of columns added with ALTER TABLE ... ADD, only when the
// rebuilt COL$ has such a column: COL$'s default text, then ECOL$, whose
// columns are found by name.  Without such columns neither file is left
// behind from another database.
void runDictionaryDefaults(ShellState *shell, const UnloadArgs *args)
{
    if (!hasAddedDefaultColumns()) {
        unlink(kColumnDefaultFile);
        unlink(kEcolFile);
        return;
    }
    UnloadContext *ctx = shell->ctx;
    ctx->rowAddress = 0;
    FILE *file = openDictionaryFile(shell, kColumnDefaultFile, "wb+");
    if (file != nullptr) {
        printSYSCOLDEFAULT8I(file, ctx, shell->deletedRow, shell->commitedOnly, args->file, args->objd,
                             args->cluster);
        fclose(file);
    }
    unlink(kEcolFile);
    SegmentEntry segment;
    if (!getSYSTableSegment(&segment, "ECOL$")) {
        fputs("  ECOL$ not found: defaults of added columns come from COL$.DEFAULT$ alone\n", stderr);
        return;
    }
    const char *const names[3] = {"TABOBJ#", "COLNUM", "BINARYDEFVAL"};
    uint16_t positions[3];
    for (int i = 0; i < 3; i++) {
        uint16_t segcol = getORASYSCOLPOSITION(segment.objectNumber, names[i]);
        bool ascending = i == 0 || (segcol != 0 && segcol - 1 > positions[i - 1]);
        if (segcol == 0 || segcol > kMaxColumns || !ascending) {
            fprintf(stderr,
                    "  ECOL$ has no column %s where it is expected: defaults of added columns come from "
                    "COL$.DEFAULT$ alone\n",
                    names[i]);
            return;
        }
        positions[i] = static_cast<uint16_t>(segcol - 1);
    }
    file = openDictionaryFile(shell, kEcolFile, "wb+");
    if (file == nullptr)
        return;
    printSYSECOL(file, ctx, &segment, positions, shell->deletedRow, shell->commitedOnly);
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
            runDictionaryDefaults(shell, args);
        }
    }
    reportIncompleteRows(shell->ctx);
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
