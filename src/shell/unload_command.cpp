// UNLOAD: the per-command reset of the context, the keyword grammar, the
// choice between the dictionary unload, UNLOAD TABLE and UNLOAD OBJECT, and
// the OBJECT form: output file, traversal choice and the final report.
//
// Grammar: UNLOAD followed by keyword/value pairs in any order.  A word that
// is not a keyword is the value of the keyword waiting for one; after its
// value the keyword no longer waits, except COLUMN, whose every following
// word is one more column type.  Values longer than their buffers are cut.
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <cctype>

#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "lob/lob.h"
#include "scan/scan.h"
#include "shell/shell.h"
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

// The output file, fully buffered with the shell's 256 KB buffer; standard
// output when no name is given or the file cannot be created.
FILE *openUnloadOutput(ShellState *shell, const char *name)
{
    if (name[0] == '\0')
        return stdout;
    FILE *out = fopen64(name, "wb+");
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

// The extent runs of objd listed in the extent file, one by one.
void unloadByExtentFile(FILE *out, FILE *extents, UnloadContext *ctx, uint32_t objd, uint32_t table,
                        uint8_t deleted, uint8_t committed)
{
    CommandLine *line = static_cast<CommandLine *>(calloc(1, sizeof(CommandLine)));
    if (line == nullptr)
        return;
    while (readDictionaryLine(extents, line, kLineBufferSize)) {
        ExtentEntry extent;
        if (parseORAEXTENT(&extent, line) == 0 && extent.dataObjectId == objd)
            printRowByExtent(out, ctx, objd, table, deleted, committed, &extent);
    }
    free(line);
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
    FILE *extents = fopen64(args->extentFile, "r+");
    printDate(stdout);
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

    // Rows written to standard output come before the report.
    if (out == stdout)
        fflush(stdout);
    printf("Sucessfully unload %llu rows ...\n", static_cast<unsigned long long>(ctx->rowsUnloaded));
    printDate(stdout);
    closeUnloadOutput(out);
    ctx->rowLimit = kNoRowLimit;
    ctx->outputStyle = savedStyle;
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

void runUnloadCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    UnloadArgs args;
    prepareUnload(shell, &args);
    parseUnloadArgs(shell->command, ctx, &args);

    if (args.table[0] != '\0' && isDictionaryTable(args.table)) {
        // The dictionary unload from the SYS bootstrap tables comes with the
        // dictionary bootstrap.
    } else if (args.table[0] != '\0') {
        // UNLOAD TABLE through the dictionary cache comes with the loader
        // files and the export dump.
    } else if (args.objd != 0) {
        runUnloadObject(shell, &args);
    } else {
        for (const char *line : kUsageLines)
            fputs(line, stdout);
    }
    finishUnload(ctx);
}
