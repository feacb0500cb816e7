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
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>

#include "block/block.h"
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

// Columns of one PostgreSQL table.
constexpr unsigned kPostgresMaxColumns = 1600;

constexpr int kNameSize = 1024;  // table argument, output and target names, numbers
constexpr int kPartitionSize = kDictNameSize;
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
    kKeyUser,
    kKeyObjd,
    kKeyCount,
    kKeyNone = -1
};
const char *const kUnloadKeywords[kKeyCount] = {
    "TABLE", "OBJECT", "CLUSTER", "COLUMN", "TO",    "FILE",  "BLOCK", "PARTITION",
    "CHUNK", "LOB",    "EXTENT",  "AS",     "LIMIT", "INDEX", "USER",  "OBJD",
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
    uint32_t columnCount;    // COLUMN words kept (only the first kMaxColumns)
    char folder[kNameSize];  // UNLOAD USER's folder: the files go there, named as if written here
    bool userNamed;          // the keyword USER was given
    char user[kNameSize];
    // OBJD: the table's rows are those of blocks carrying this data object
    // id (a truncated or dropped version of the table), kept in objd.
    bool objdNamed;
    char objdWord[kNameSize];
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
    case kKeyPartition: {
        // A quoted name loses its quotes; any other word is taken as typed.
        char typed[kNameSize];
        copyCurrentWord(cmd, typed, sizeof typed);
        if (!unquoteName(typed, args->partition, sizeof args->partition))
            snprintf(args->partition, sizeof args->partition, "%s", typed);
        break;
    }
    case kKeyTo: {
        char typed[kNameSize];
        copyCurrentWord(cmd, typed, sizeof typed);
        if (!unquoteName(typed, args->output, sizeof args->output))
            snprintf(args->output, sizeof args->output, "%s", typed);
        break;
    }
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
    case kKeyUser: copyCurrentWord(cmd, args->user, sizeof args->user); break;
    case kKeyObjd:
        args->objdNamed = true;
        copyCurrentWord(cmd, args->objdWord, sizeof args->objdWord);
        break;
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
            if (k == kKeyUser)
                args->userNamed = true;
            continue;
        }
        if (waiting == kKeyNone)
            continue;
        if (waiting == kKeyTable || waiting == kKeyPartition || waiting == kKeyTo)
            takeQuotedWord(cmd);
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

// A file of the unload in the folder of UNLOAD USER, or here.
void placeInFolder(char *path, size_t size, const char *folder, const char *name)
{
    if (folder[0] != '\0')
        snprintf(path, size, "%s/%s", folder, name);
    else
        snprintf(path, size, "%s", name);
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

// Counted here, in the session's process: a worker of PARALLEL says that it
// cannot open the extent file, but the count it keeps ends with it.
void noteExtentFileFailure(const UnloadArgs *args)
{
    FILE *extents = fopen64(args->extentFile, "r");
    if (extents != nullptr)
        fclose(extents);
    else if (errno != ENOENT || strcmp(args->extentFile, kExtentFileName) != 0)
        noteCommandFailure();
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

// Rows the unload could not bring back whole, named; returns how many.
uint64_t reportLostRows(UnloadContext *ctx)
{
    uint64_t lost = ctx->incompleteRows;
    reportIncompleteRows(ctx);
    return lost;
}

// The report at the end of an unload.  An unload cut short by a failed
// worker is not reported as a success, and its file is renamed so that
// nobody loads it for the whole table.
void reportUnloadEnd(const UnloadContext *ctx, const char *output, bool complete, bool written,
                     UnloadRecord *record, bool columnsWhole = true)
{
    unsigned long long rows = static_cast<unsigned long long>(ctx->rowsUnloaded);
    if (!complete)
        noteCommandFailure();
    if (complete && written && columnsWhole && ctx->lobsNotRead == 0 && ctx->blocksNotRead == 0 &&
        record->incompleteRows == 0 && ctx->defaultlessValues == 0) {
        printf("Sucessfully unload %llu rows ...\n", rows);
        if (output[0] != '\0')
            addRecordFile(record, output);
        return;
    }
    if (complete && written) {
        // Every row read is in the file, but not every piece, value or
        // block: the file stays, and it is no success.
        if (ctx->blocksNotRead != 0)
            printf("Unload incomplete: %llu rows unloaded, %llu blocks of the segment not read ...\n", rows,
                   static_cast<unsigned long long>(ctx->blocksNotRead));
        if (record->incompleteRows != 0)
            printf("Unload incomplete: %llu rows unloaded, %llu rows incomplete ...\n", rows,
                   static_cast<unsigned long long>(record->incompleteRows));
        if (ctx->lobsNotRead != 0)
            printf("Unload incomplete: %llu rows unloaded, %llu LOBs written as NULL ...\n", rows,
                   static_cast<unsigned long long>(ctx->lobsNotRead));
        // A NULL where Oracle gives the default the column was added with
        // is a value lost; the rows' writer named the columns on stderr.
        if (ctx->defaultlessValues != 0) {
            printf(
                "Unload incomplete: %llu rows unloaded, %llu values written as NULL for want of a "
                "default ...\n",
                rows, static_cast<unsigned long long>(ctx->defaultlessValues));
            record->status = kUnloadIncomplete;
        }
        if (!columnsWhole) {
            printf("Unload incomplete: %llu rows unloaded without the columns %s could not describe ...\n",
                   rows, columnFilePath());
            record->status = kUnloadIncomplete;
        }
        if (output[0] != '\0')
            addRecordFile(record, output);
        return;
    }
    if (!complete)
        printf("Unload incomplete: %llu rows written before a worker failed ...\n", rows);
    else
        printf("Unload incomplete: %llu rows unloaded but the output file could not be written ...\n", rows);
    record->status = kUnloadFailed;
    if (output[0] == '\0' || !isRegularFile(output)) {
        if (output[0] != '\0')
            addRecordFile(record, output);
        return;
    }
    char renamed[2 * kNameSize + 16];
    snprintf(renamed, sizeof renamed, "%s.incomplete", output);
    if (rename(output, renamed) == 0) {
        printf("Partial output left in %s\n", renamed);
        addRecordFile(record, renamed);
    } else {
        addRecordFile(record, output);
    }
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

void runUnloadObject(ShellState *shell, const UnloadArgs *args, UnloadRecord *record)
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
    record->hasObjd = true;
    record->objd = args->objd;
    record->rows = ctx->rowsUnloaded;
    record->incompleteRows = reportLostRows(ctx);
    record->lobsNotRead = ctx->lobsNotRead;
    record->blocksNotRead = ctx->blocksNotRead;
    reportUnloadEnd(ctx, out == stdout ? "" : args->output, complete, written, record);
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

// Splits owner.table at the first "." outside double quotes; further dots
// stay in the table name, and a quoted part loses its quotes.  False when
// either part is empty.
bool splitOwnerTable(const char *argument, char *owner, char *table)
{
    int result = splitQualifiedName(argument, owner, table, kDictNameSize);
    // A longer name is no Oracle name, and cut it could match another.
    if (result == kNameTooLong)
        printf("  A name is at most %d bytes: %s\n", kDictNameSize - 1, argument);
    return result == kNameSplit;
}

void writeSyntaxFile(const char *baseName, ColumnEntry *column, const ObjectEntry *object, const char *target,
                     const char *folder, UnloadRecord *record)
{
    char fileName[kFileNameSize];
    snprintf(fileName, sizeof fileName, "%s_syntax.sql", baseName);
    replaceDollar(fileName);
    char name[kFileNameSize + kNameSize];
    placeInFolder(name, sizeof name, folder, fileName);
    FILE *file = fopen64(name, "w+");
    if (file == nullptr) {
        reportFileError("create", "CREATE TABLE script", name);
        return;
    }
    // The statement of the widest table the dictionary can describe does not
    // fit a stack buffer.
    char *text = static_cast<char *>(calloc(1, kCreateSyntaxSize));
    if (text != nullptr) {
        if (!getCreateSyntax(text, kCreateSyntaxSize, column, object, target, 1))
            fprintf(stderr, "  The CREATE TABLE statement does not fit its buffer: %s holds none\n", name);
        fprintf(file, "%s;\nexit;\n", text);
        free(text);
    }
    fclose(file);
    addRecordFile(record, name);
}

void writeHexBytes(FILE *file, const char *bytes, uint16_t length)
{
    uint16_t n = length < kTagSize ? length : kTagSize;
    for (uint16_t i = 0; i < n; i++)
        fprintf(file, "%02x", static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
}

// A name as SQL*Loader reads it back exactly: as it stands when it is an
// ordinary upper-case identifier (every name before Oracle 12.2, nearly),
// otherwise in double quotes with its quotes doubled.  A table name in
// lower case stays as given (an AS name the operator typed).
void writeLoaderName(FILE *file, const char *name, bool keepLowerCase)
{
    bool plain = (name[0] >= 'A' && name[0] <= 'Z') || (keepLowerCase && name[0] >= 'a' && name[0] <= 'z');
    for (const char *c = name; *c != '\0' && plain; c++) {
        bool letter = (*c >= 'A' && *c <= 'Z') || (keepLowerCase && *c >= 'a' && *c <= 'z');
        plain = letter || (*c >= '0' && *c <= '9') || *c == '_' || *c == '$' || *c == '#';
    }
    if (plain) {
        fputs(name, file);
        return;
    }
    fputc('"', file);
    for (const char *c = name; *c != '\0'; c++) {
        if (*c == '"')
            fputc('"', file);
        fputc(*c, file);
    }
    fputc('"', file);
}

void writeColumnClause(FILE *file, const UnloadContext *ctx, const ColumnListEntry *column, int number)
{
    bool lobFile = (column->type == 112 || column->type == 113) && ctx->lobStorage == kLobStorageFile;
    if (lobFile)
        fprintf(file, "   LOBF_%05d  FILLER  CHAR(64),\n", number);
    fputs("   ", file);
    writeLoaderName(file, column->name, false);
    // Ciphertext is written in hexadecimal: two characters a byte.
    if ((column->property & kColumnEncrypted) != 0 && column->type == 23) {
        fprintf(file, "    CHAR(%d) ", 2 * static_cast<int>(column->length));
        return;
    }
    switch (column->type) {
    case 1:
    case 9:
    case 96: fprintf(file, "    CHAR(%d) ", static_cast<int>(column->length)); break;
    case 12: fputs("   DATE \"YYYY-MM-DD HH24:MI:SS\" ", file); break;
    case 180: fputs("   TIMESTAMP \"YYYY-MM-DD HH24:MI:SS.FF\" ", file); break;
    case 181: fputs("   TIMESTAMP WITH TIME ZONE \"YYYY-MM-DD HH24:MI:SS.FF TZH:TZM\" ", file); break;
    case 231: fputs("   TIMESTAMP WITH LOCAL TIME ZONE \"YYYY-MM-DD HH24:MI:SS.FF TZH:TZM\" ", file); break;
    case 8:
    case 24: fputs("    CHAR(4000) ", file); break;
    case 112:
    case 113:
        if (lobFile) {
            fprintf(file, "    LOBFILE(LOBF_%05d) TERMINATED BY EOF NULLIF LOBF_%05d=BLANKS", number, number);
        } else {
            fputs("    CHAR(4000) ", file);
        }
        break;
    default: fputs("    CHAR ", file); break;
    }
}

void writeControlFile(const char *baseName, const UnloadArgs *args, const UnloadContext *ctx,
                      const ColumnList *list, UnloadRecord *record)
{
    char fileName[kFileNameSize];
    if (args->partition[0] != '\0')
        snprintf(fileName, sizeof fileName, "%s_%s_sqlldr.ctl", baseName, args->partition);
    else
        snprintf(fileName, sizeof fileName, "%s_sqlldr.ctl", baseName);
    replaceDollar(fileName);
    char name[kFileNameSize + kNameSize];
    placeInFolder(name, sizeof name, args->folder, fileName);
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
    fputs("APPEND INTO TABLE ", file);
    writeLoaderName(file, baseName, true);
    fputc('\n', file);
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
    addRecordFile(record, name);
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

// The meter's total and time left come from the segment header's count of
// the blocks in its extents; read only when a meter shows.
void countSegmentBlocks(UnloadContext *ctx, const SegmentEntry *segment, uint32_t objd)
{
    if (!progressShowing() || segment->headerFile == 0 || segment->headerBlock == 0)
        return;
    if (scanSegmentHeader(ctx, objd, segment->headerFile, segment->headerBlock))
        addProgressTotal(getSegBlockCount(ctx));
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
    if (segment->headerFile != 0)
        noteExtentFileFailure(args);
    countSegmentBlocks(shell->ctx, segment, objd);
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

// False, after saying so on standard error, when lines of ZORCOL.TXT that
// may describe columns of the table could not be read (each was named as it
// was read).  Stored positions that no line names are said too; they have
// always been left out of the rows, without a field.
bool reportMissingColumns(const ColumnList *list, const char *owner, const char *table)
{
    if (list->missingPositions != 0)
        fprintf(stderr, "  TABLE %s.%s: %u of its %u stored column positions have no line in %s\n", owner,
                table, list->missingPositions, static_cast<unsigned>(list->count), columnFilePath());
    if (list->unreadableLines == 0)
        return true;
    fprintf(stderr, "  TABLE %s.%s: %u line(s) of %s that may describe its columns could not be read\n",
            owner, table, list->unreadableLines, columnFilePath());
    return false;
}

// The deleted COL$ rows of a dropped table may have lost their last ones
// to a later insert: stored columns past the described ones are written in
// hexadecimal, each named by the decoder's warning, rather than left out.
// An export dump has no room for columns it does not declare: there they
// are left out, and said so.
void keepUndescribedColumns(UnloadContext *ctx, const ColumnList *list, const char *owner, const char *table)
{
    if (ctx->outputStyle == kOutputStyleDump) {
        fprintf(stderr,
                "  TABLE %s.%s was dropped: %u columns are described; a dump leaves out any column stored "
                "past them\n",
                owner, table, static_cast<unsigned>(list->count));
        return;
    }
    for (uint32_t i = list->count; i < static_cast<uint32_t>(kMaxColumns); i++)
        ctx->columnTypes[i] = kUnknownType;
}

// The classic dump keeps names in lines of text and between double quotes:
// a name holding a line end, a tab or a double quote cannot be written
// there as it is, and is refused rather than changed.
bool dumpHoldsName(const char *what, const char *name)
{
    if (strpbrk(name, "\r\n\t\"") == nullptr)
        return true;
    printf(
        "  The export dump cannot hold the %s name \"%s\" (a line end, tab or double quote), nothing "
        "written\n",
        what, name);
    return false;
}

bool dumpCanHoldNames(const char *owner, const char *table, const ColumnList *list)
{
    if (!dumpHoldsName("owner", owner) || !dumpHoldsName("table", table))
        return false;
    uint32_t count = list->count < kMaxColumns ? list->count : kMaxColumns;
    for (uint32_t i = 0; i < count; i++) {
        if (!dumpHoldsName("column", list->columns[i].name))
            return false;
    }
    return true;
}

// The export dump's framing before the rows: header, TABLE, CREATE and
// INSERT statements, column descriptors, data begin.  False (nothing
// written) when the header refuses the owner's name.
bool writeDumpFraming(FILE *out, ShellState *shell, const char *owner, ColumnEntry *column,
                      const ObjectEntry *object, const char *target)
{
    UnloadContext *ctx = shell->ctx;
    const char *tableName = target[0] != '\0' ? target : object->name;
    if (!dumpCanHoldNames(owner, tableName, shell->columns))
        return false;
    if (!printDmpHeader(out, shell->charset, shell->nlsCharset, owner))
        return false;
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
void unloadTable(ShellState *shell, const UnloadArgs *args, bool csv, UnloadRecord *record)
{
    UnloadContext *ctx = shell->ctx;
    char owner[kDictNameSize];
    char tableName[kDictNameSize];
    if (!splitOwnerTable(args->table, owner, tableName)) {
        record->status = kUnloadSkipped;
        return;
    }
    snprintf(record->owner, sizeof record->owner, "%s", owner);
    snprintf(record->table, sizeof record->table, "%s", tableName);
    snprintf(record->partition, sizeof record->partition, "%s", args->partition);
    UserEntry user;
    if (!getORASYSUSER(&user, owner)) {
        printf("  USER %s does not exists!\n", owner);
        noteCommandFailure();
        record->status = kUnloadNotFound;
        return;
    }
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    // The name the dictionary holds the table under: a table in the
    // recycle bin is unloaded under its original name.
    char storedName[kDictNameSize];
    snprintf(storedName, sizeof storedName, "%s", tableName);
    bool dropped = false;
    if (args->objdNamed) {
        TableVersion version;
        if (!findTableVersion(&version, user.userNumber, tableName, args->partition, args->objd)) {
            printf("  TABLE %s.%s does not exists!\n", owner, tableName);
            noteCommandFailure();
            record->status = kUnloadNotFound;
            return;
        }
        object = version.object;
        snprintf(storedName, sizeof storedName, "%s", version.storedName);
        dropped = version.source == kTableDropped;
        if (dropped)
            selectDictionaryRows(kDeletedRows);
    } else if (!getORASYSOBJ(&object, user.userNumber, tableName, args->partition)) {
        printf("  TABLE %s.%s does not exists!\n", owner, tableName);
        noteCommandFailure();
        record->status = kUnloadNotFound;
        return;
    }
    SegmentEntry segment;
    uint32_t *parts = nullptr;
    int partCount = 0;
    if (!getORASYSTAB(&segment, object.selectedObject)) {
        if (args->partition[0] == '\0') {
            parts = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * kMaxPartitions));
            if (parts != nullptr)
                partCount = getORASYSPartitions(user.userNumber, storedName, parts, kMaxPartitions);
        }
        // An index-organized table's TAB$ line names no segment: its rows are
        // in the primary-key index, the next object number.
        if (partCount == 0 &&
            !(hasORASYSTABLine(object.selectedObject) && getORASYSTAB(&segment, object.selectedObject + 1))) {
            printf("  TABLE %s.%s has no segment in TAB$!\n", owner, tableName);
            noteCommandFailure();
            free(parts);
            return;
        }
    } else if (shell->tablespace != 0 && shell->tablespace != segment.tablespace) {
        record->status = kUnloadSkipped;
        return;
    }
    if (args->objdNamed && partCount != 0) {
        printf("  TABLE %s.%s is partitioned: OBJD needs the PARTITION its blocks belonged to\n", owner,
               tableName);
        noteCommandFailure();
        free(parts);
        return;
    }

    ColumnEntry column;
    ctx->columnCount = 0;
    getORACOLTYPE(&column, &object, args->partition, ctx, shell->columns);
    if (shell->columns->count == 0) {
        printf("  TABLE %s.%s has no columns in COL$!\n", owner, tableName);
        noteCommandFailure();
        free(parts);
        return;
    }
    // A script that PostgreSQL would refuse halfway is not written at all.
    if (csv && ctx->target == kTargetPostgres && shell->columns->count > kPostgresMaxColumns) {
        fprintf(stderr, "  TABLE %s.%s has %u columns; a PostgreSQL table holds at most %u: not unloaded\n",
                owner, tableName, static_cast<unsigned>(shell->columns->count), kPostgresMaxColumns);
        noteCommandFailure();
        record->status = kUnloadFailed;
        free(parts);
        return;
    }
    bool columnsWhole = reportMissingColumns(shell->columns, owner, tableName);
    if (dropped)
        keepUndescribedColumns(ctx, shell->columns, owner, tableName);
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
    // The loader files name the data file as it is named here: they are run
    // from the folder that holds them all.
    char dataPath[2 * kNameSize];
    placeInFolder(dataPath, sizeof dataPath, args->folder, dataFile);
    uint8_t savedRowAddress = ctx->rowAddress;
    if (csv && !startCsvUnload(shell, true, &savedRowAddress))
        csv = postgres = false;
    if (postgres) {
        writePostgresScript(baseName, args->partition, &column, &object, args->target, args->table, dataFile,
                            ctx, args->folder, record);
    } else if (!dump && args->output[0] != '\0') {
        writeSyntaxFile(baseName, &column, &object, args->target, args->folder, record);
        writeControlFile(baseName, args, ctx, shell->columns, record);
    }

    FILE *out = openUnloadOutput(shell, dataPath);
    bool framed = dump && out != stdout;
    if (framed && !writeDumpFraming(out, shell, user.name, &column, &object, args->target)) {
        closeUnloadOutput(out, dataPath);
        removeRegularFile(dataPath);
        free(parts);
        record->status = kUnloadFailed;
        return;
    }
    if (dump)
        beginDmpRows(ctx, shell->columns);
    record->hasObjd = partCount == 0;
    record->objd = args->objd != 0 ? args->objd : segment.dataObjectId;
    beginAddedColumns(ctx, &object, owner, tableName);
    bool complete = partCount == 0 ? unloadTableSegment(out, shell, args, &segment, args->objd)
                                   : unloadTablePartitions(out, shell, args, parts, partCount);
    free(parts);
    bool found = !args->objdNamed || ctx->objectBlocks != 0;
    if (framed) {
        printDmpDataEnd(out);
        printDmpTail(out);
    }
    endAddedColumns(ctx);
    endDmpRows(ctx);
    if (out == stdout)
        fflush(stdout);
    bool written = closeUnloadOutput(out, dataPath);
    if (csv)
        stopCsvUnload(shell, savedRowAddress);
    record->rows = ctx->rowsUnloaded;
    record->incompleteRows = reportLostRows(ctx);
    record->lobsNotRead = ctx->lobsNotRead;
    record->blocksNotRead = ctx->blocksNotRead;
    if (found) {
        reportUnloadEnd(ctx, out == stdout ? "" : dataPath, complete, written, record, columnsWhole);
    } else {
        printf("  No block carries OBJD=%u: nothing of %s.%s was found\n", args->objd, owner, tableName);
        noteCommandFailure();
        record->status = kUnloadNotFound;
    }
    printDate(stdout);
}

void runUnloadTable(ShellState *shell, const UnloadArgs *args, UnloadRecord *record)
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
    unloadTable(shell, args, csv, record);
    selectDictionaryRows(kLiveRows);
    ctx->outputStyle = savedStyle;
    ctx->rowLimit = kNoRowLimit;
}

// ---- UNLOAD USER ----

constexpr int kInitialTableRoom = 64;

// The tables of the owner as LIST TABLE lists them, in OBJ$ order; names
// kDictNameSize apart.  The count, 0 when there are none or the dictionary
// cannot be read.
int listOwnerTables(uint32_t ownerNumber, char **names)
{
    *names = nullptr;
    FILE *file = openDictionaryForReading(kObjectFile);
    if (file == nullptr)
        return 0;
    CommandLine *line = static_cast<CommandLine *>(calloc(1, sizeof(CommandLine)));
    int count = 0;
    int room = 0;
    ObjectEntry entry;
    // A table in the recycle bin is brought back by LIST DROPPED's lines,
    // under its original name.
    RecycledObjects recycled;
    readRecycledObjects(&recycled);
    while (line != nullptr && readDictionaryLine(file, line, kDictLineBuffer)) {
        memset(&entry, 0, sizeof entry);
        if (parseORASYSOBJ(&entry, line) != 0 || entry.ownerNumber != ownerNumber ||
            entry.type != kObjTable || entry.subname[0] != '\0' || isRecycled(&recycled, entry.objectNumber))
            continue;
        if (count == room) {
            int grown = room == 0 ? kInitialTableRoom : room * 2;
            char *more = static_cast<char *>(realloc(*names, static_cast<size_t>(grown) * kDictNameSize));
            if (more == nullptr)
                break;
            *names = more;
            room = grown;
        }
        snprintf(*names + static_cast<size_t>(count) * kDictNameSize, kDictNameSize, "%s", entry.name);
        count++;
    }
    free(line);
    free(recycled.objects);
    fclose(file);
    return count;
}

// The folder and the folders above it; true when it exists at the end.
bool makeFolder(const char *folder)
{
    char path[kNameSize];
    snprintf(path, sizeof path, "%s", folder);
    for (char *slash = strchr(path + 1, '/'); slash != nullptr; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        mkdir(path, 0777);
        *slash = '/';
    }
    if (mkdir(path, 0777) == 0 || errno == EEXIST) {
        struct stat st;
        if (stat(path, &st) == 0 && S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
    }
    return false;
}

struct UserTally {
    uint32_t tables;
    uint32_t byStatus[kUnloadSkipped + 1];
};

// One table of the owner, as UNLOAD TABLE owner.table TO table.txt would
// unload it in the folder; its record goes to the folder's report and to
// the SET REPORT file.
void unloadUserTable(ShellState *shell, const UnloadArgs *userArgs, const char *owner, const char *table,
                     FILE *report, UserTally *tally)
{
    UnloadContext *ctx = shell->ctx;
    UnloadRecord record;
    beginUnloadRecord(&record, shell->command);
    UnloadArgs args;
    prepareUnload(shell, &args);
    snprintf(args.folder, sizeof args.folder, "%s", userArgs->folder);
    snprintf(args.table, sizeof args.table, "%s.%s", owner, table);
    // OUTPUT_STYLE 2 is quoted CSV, named as LIST TABLE names it.
    const char *suffix = ctx->outputStyle == kOutputStyleDump  ? "dmp"
                         : ctx->outputStyle == kOutputStyleCsv ? "csv"
                                                               : "txt";
    snprintf(args.output, sizeof args.output, "%s.%s", table, suffix);
    runUnloadTable(shell, &args, &record);
    finishUnload(ctx);
    settleUnloadRecord(&record);
    if (record.status == kUnloadSkipped)
        return;
    tally->tables++;
    tally->byStatus[record.status]++;
    if (report != nullptr) {
        writeUnloadRecord(report, &record);
        fflush(report);
    }
    appendToReportFile(shell, &record);
}

// UNLOAD USER owner [TO folder]: every table of the owner, each into its
// own files in the folder (created when missing; the current one without
// TO), with a report of the run there: OWNER_report.csv.
void runUnloadUser(ShellState *shell, const UnloadArgs *args)
{
    if (args->user[0] == '\0') {
        fputs("  UNLOAD USER owner [TO folder]\n", stdout);
        noteCommandFailure();
        return;
    }
    UserEntry user;
    if (!getORASYSUSER(&user, args->user)) {
        UnloadRecord record;
        beginUnloadRecord(&record, shell->command);
        snprintf(record.owner, sizeof record.owner, "%s", args->user);
        printf("  USER %s does not exists!\n", args->user);
        noteCommandFailure();
        record.status = kUnloadNotFound;
        appendToReportFile(shell, &record);
        return;
    }
    UnloadArgs folderArgs;
    memset(&folderArgs, 0, sizeof folderArgs);
    snprintf(folderArgs.folder, sizeof folderArgs.folder, "%s", args->output);
    if (folderArgs.folder[0] != '\0' && !makeFolder(folderArgs.folder)) {
        reportFileError("create", "folder", folderArgs.folder);
        return;
    }
    char reportName[kDictNameSize + 16];
    snprintf(reportName, sizeof reportName, "%s_report.csv", user.name);
    char reportPath[2 * kNameSize];
    placeInFolder(reportPath, sizeof reportPath, folderArgs.folder, reportName);
    FILE *report = fopen64(reportPath, "w");
    if (report == nullptr)
        reportFileError("create", "report file", reportPath);
    else
        writeReportHeader(report);

    char *tables = nullptr;
    int count = listOwnerTables(user.userNumber, &tables);
    UserTally tally;
    memset(&tally, 0, sizeof tally);
    for (int i = 0; i < count; i++)
        unloadUserTable(shell, &folderArgs, user.name, tables + static_cast<size_t>(i) * kDictNameSize,
                        report, &tally);
    free(tables);
    bool reported = report != nullptr;
    if (report != nullptr && fclose(report) != 0) {
        reportFileError("write", "report file", reportPath);
        reported = false;
    }
    printf("  USER %s: %u tables, %u complete, %u incomplete, %u not found, %u failed", user.name,
           tally.tables, tally.byStatus[kUnloadComplete], tally.byStatus[kUnloadIncomplete],
           tally.byStatus[kUnloadNotFound], tally.byStatus[kUnloadFailed]);
    if (reported)
        printf("; report in %s", reportPath);
    putchar('\n');
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

// Rows of one bootstrap group into `path`; their count.
uint64_t writeDictionaryGroup(ShellState *shell, const UnloadArgs *args, int group, const char *path,
                              uint8_t deleted)
{
    UnloadContext *ctx = shell->ctx;
    ctx->rowAddress = 0;
    ctx->rowsUnloaded = 0;
    uint8_t savedStyle = ctx->outputStyle;
    ctx->outputStyle = kOutputStyleText;
    FILE *file = openDictionaryFile(shell, path, "wb+");
    FILE *out = file != nullptr ? file : stdout;
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
    return ctx->rowsUnloaded;
}

void runDictionaryGroup(ShellState *shell, const UnloadArgs *args, int group, UnloadRecord *record)
{
    record->rows += writeDictionaryGroup(shell, args, group, kGroupFiles[group], shell->deletedRow);
}

// IND$, the partition tables and COLTYPE$, each when the dictionary written
// so far knows its segment; silently skipped otherwise (older databases).
void runDictionaryCompanion(ShellState *shell, const char *name, const char *fileName, const char *mode,
                            uint8_t deleted)
{
    SegmentEntry segment;
    if (!getSYSTableSegment(&segment, name))
        return;
    FILE *file = openDictionaryFile(shell, fileName, mode);
    if (file == nullptr)
        return;
    memset(shell->ctx->columnTypes, 0, sizeof shell->ctx->columnTypes);
    printSYSTable8I(file, shell->ctx, name, &segment, deleted, shell->commitedOnly);
    fclose(file);
}

// What a pass over the dictionary adds to the unload's reports, kept aside
// while the deleted rows are read: the live pass has named every damaged
// block, header and lost piece already, so the second pass over the same
// segments is made without a word, and the rows of dropped tables are no
// part of the dictionary's record.
struct SavedReports {
    int standardOutput;
    uint64_t incompleteRows;
    uint32_t incompleteRowLines;
    uint64_t blocksNotRead;
    uint32_t blocksNotReadLines;
    uint64_t blocksNotReadBy[kBlockReasonCount];
};

SavedReports silenceReports(UnloadContext *ctx)
{
    SavedReports saved;
    saved.incompleteRows = ctx->incompleteRows;
    saved.incompleteRowLines = ctx->incompleteRowLines;
    saved.blocksNotRead = ctx->blocksNotRead;
    saved.blocksNotReadLines = ctx->blocksNotReadLines;
    memcpy(saved.blocksNotReadBy, ctx->blocksNotReadBy, sizeof saved.blocksNotReadBy);
    fflush(stdout);
    saved.standardOutput = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (saved.standardOutput >= 0 && null >= 0)
        dup2(null, STDOUT_FILENO);
    if (null >= 0)
        close(null);
    return saved;
}

void restoreReports(UnloadContext *ctx, const SavedReports *saved)
{
    fflush(stdout);
    if (saved->standardOutput >= 0) {
        dup2(saved->standardOutput, STDOUT_FILENO);
        close(saved->standardOutput);
    }
    ctx->incompleteRows = saved->incompleteRows;
    ctx->incompleteRowLines = saved->incompleteRowLines;
    ctx->blocksNotRead = saved->blocksNotRead;
    ctx->blocksNotReadLines = saved->blocksNotReadLines;
    memcpy(ctx->blocksNotReadBy, saved->blocksNotReadBy, sizeof saved->blocksNotReadBy);
}

// RECYCLEBIN$, read by its column names: the tables dropped into the
// recycle bin and their original names.  A database without it (before
// 10g) leaves no file behind.
constexpr int kRecycleBinColumns = 7;
const char *const kRecycleBinNames[kRecycleBinColumns] = {"OBJ#",  "OWNER#",   "ORIGINAL_NAME", "OPERATION",
                                                          "TYPE#", "DROPTIME", "PARTITION_NAME"};
const uint8_t kRecycleBinTypes[kRecycleBinColumns] = {2, 2, 1, 2, 2, 12, 1};

void runRecycleBin(ShellState *shell)
{
    unlink(kRecycleBinFile);
    SegmentEntry segment;
    if (!getSYSTableSegment(&segment, "RECYCLEBIN$"))
        return;
    uint16_t positions[kRecycleBinColumns];
    for (int i = 0; i < kRecycleBinColumns; i++) {
        uint16_t segcol = getORASYSCOLPOSITION(segment.objectNumber, kRecycleBinNames[i]);
        bool ascending = i == 0 || (segcol != 0 && segcol - 1 > positions[i - 1]);
        if (segcol == 0 || segcol > kMaxColumns || !ascending) {
            fprintf(stderr,
                    "  RECYCLEBIN$ has no column %s where it is expected: the recycle bin is not read\n",
                    kRecycleBinNames[i]);
            return;
        }
        positions[i] = static_cast<uint16_t>(segcol - 1);
    }
    FILE *file = openDictionaryFile(shell, kRecycleBinFile, "wb+");
    if (file == nullptr)
        return;
    shell->ctx->rowAddress = 0;
    printSYSColumns(file, shell->ctx, &segment, positions, kRecycleBinTypes, kRecycleBinColumns,
                    shell->deletedRow, shell->commitedOnly);
    fclose(file);
}

// The rows of dropped tables: the deleted rows of OBJ$, TAB$ (with the
// partition tables) and COL$, in files of their own.
void runDeletedDictionary(ShellState *shell, const UnloadArgs *args)
{
    SavedReports saved = silenceReports(shell->ctx);
    writeDictionaryGroup(shell, args, kGroupObject, kDeletedObjectFile, kDeletedRowsOnly);
    writeDictionaryGroup(shell, args, kGroupTable, kDeletedSegmentFile, kDeletedRowsOnly);
    for (const char *name : kAppendedTables)
        runDictionaryCompanion(shell, name, kDeletedSegmentFile, "ab+", kDeletedRowsOnly);
    writeDictionaryGroup(shell, args, kGroupColumn, kDeletedColumnFile, kDeletedRowsOnly);
    restoreReports(shell->ctx, &saved);
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

void runUnloadDictionary(ShellState *shell, const UnloadArgs *args, UnloadRecord *record)
{
    UnloadContext *ctx = shell->ctx;
    ctx->rowLimit = kNoRowLimit;
    printDate(stdout);
    snprintf(record->owner, sizeof record->owner, "SYS");
    snprintf(record->table, sizeof record->table, "%s", args->table);
    bool all = hasPrefix(args->table, "DICT$");
    for (int group = 0; group < kGroupCount; group++) {
        if (!all && !hasPrefix(args->table, kGroupNames[group]))
            continue;
        runDictionaryGroup(shell, args, group, record);
        addRecordFile(record, kGroupFiles[group]);
        if (group == kGroupTable) {
            for (const char *name : kAppendedTables)
                runDictionaryCompanion(shell, name, kSegmentFile, "ab+", shell->deletedRow);
        } else if (group == kGroupColumn) {
            runDictionaryCompanion(shell, "COLTYPE$", kColumnTypeFile, "wb+", shell->deletedRow);
            struct stat st;
            if (stat(kColumnTypeFile, &st) == 0)
                addRecordFile(record, kColumnTypeFile);
            runDictionaryDefaults(shell, args);
        }
    }
    if (all) {
        runDeletedDictionary(shell, args);
        runRecycleBin(shell);
    }
    record->incompleteRows = reportLostRows(shell->ctx);
    record->lobsNotRead = shell->ctx->lobsNotRead;
    record->blocksNotRead = shell->ctx->blocksNotRead;
    printDate(stdout);
}

// The number after OBJD: decimal digits only, 1 .. 2^32 - 1.
bool takeObjdWord(UnloadArgs *args)
{
    const char *word = args->objdWord;
    if (word[0] == '\0' || strspn(word, "0123456789") != strlen(word) || strlen(word) > 10)
        return false;
    unsigned long long value = strtoull(word, nullptr, 10);
    if (value == 0 || value > UINT32_MAX)
        return false;
    args->objd = static_cast<uint32_t>(value);
    return true;
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
    UnloadRecord record;
    beginUnloadRecord(&record, shell->command);
    UnloadArgs args;
    prepareUnload(shell, &args);
    parseUnloadArgs(shell->command, ctx, &args);

    if (args.objdNamed && !takeObjdWord(&args)) {
        printf("  OBJD takes a data object id, a number from 1 to 4294967295: %s\n", args.objdWord);
        noteCommandFailure();
        record.status = kUnloadFailed;
    } else if (args.userNamed) {
        // Each table of the owner has its own record.
        finishUnload(ctx);
        runUnloadUser(shell, &args);
        return;
    } else if (args.table[0] != '\0' && isDictionaryTable(args.table)) {
        runUnloadDictionary(shell, &args, &record);
    } else if (args.table[0] != '\0') {
        runUnloadTable(shell, &args, &record);
    } else if (args.objd != 0) {
        runUnloadObject(shell, &args, &record);
    } else {
        for (const char *line : kUsageLines)
            fputs(line, stdout);
        noteCommandFailure();
        record.status = kUnloadSkipped;
    }
    finishUnload(ctx);
    settleUnloadRecord(&record);
    appendToReportFile(shell, &record);
}
