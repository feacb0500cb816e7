// SCAN: the front of the datafile-wide discovery scans.  The sub-command is
// the first word, chosen by its beginning (SCAN HEADERS is HEADER, SCAN
// BLOCKS is BLOCK); then keyword/value pairs OBJECT, FILE, BLOCKS and TO.
// Every sub-command prints the local time before and after its work.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "datafile/datafile.h"
#include "lob/lob.h"
#include "scan/scan.h"
#include "shell/shell.h"
#include "unload/values/value_format.h"

namespace {

constexpr int kWordSize = 1024;       // sub-command word and TO name: 1023 characters
constexpr uint8_t kRawType = 23;

const char *const kScanUsage[] = {
    "  SCAN HEADER [OBJECT objd] [FILE rfn] [TO filename]\n",
    "  SCAN TABLE  [OBJECT objd] [FILE rfn] [TO filename]\n",
    "  SCAN DATA   [OBJECT objd] [BLOCKS blks] [FILE rfn] [TO filename]\n",
    "  SCAN EXTENT [OBJECT objd] [FILE rfn] \n",
    "  SCAN LOB    [OBJECT objd] [FILE rfn] \n",
    "  SCAN PARALLELEXT \n",
    "  SCAN PARALLELLOB \n",
    "  SCAN DATABASE \n",
    "  SCAN MAP \n",
};

// In the order they are tried: DATABASE before DATA, so that SCAN DATA is
// never taken for a prefix of it the other way round.
enum ScanSubCommand {
    kScanHeader, kScanDatabase, kScanData, kScanTable, kScanExtent, kScanLob,
    kScanParallelExt, kScanParallelLob, kScanMap, kScanBlock, kScanSubCount, kScanNone = -1
};
const char *const kScanSubWords[kScanSubCount] = {
    "HEADER", "DATABASE", "DATA", "TABLE", "EXTENT", "LOB", "PARALLELEXT", "PARALLELLOB", "MAP", "BLOCK",
};

enum ScanKeyword { kScanObject, kScanTo, kScanFile, kScanBlocks, kScanKeyCount, kScanKeyNone = -1 };
const char *const kScanKeywords[kScanKeyCount] = {"OBJECT", "TO", "FILE", "BLOCKS"};

struct ScanArgs {
    char sub[kWordSize];
    char output[kWordSize];
    uint32_t objd;
    uint16_t file;
    uint32_t blocks;
};

int findScanKeyword(const CommandLine *cmd)
{
    for (int k = 0; k < kScanKeyCount; k++) {
        if (compareKeyword(cmd, kScanKeywords[k]) == 0)
            return k;
    }
    return kScanKeyNone;
}

void parseScanArgs(CommandLine *cmd, ScanArgs *args)
{
    int waiting = kScanKeyNone;
    char value[kWordSize];
    while (scanNextWord(cmd) > 0) {
        int k = findScanKeyword(cmd);
        if (k != kScanKeyNone) {
            waiting = k;
            continue;
        }
        if (waiting == kScanKeyNone)
            continue;
        copyCurrentWord(cmd, value, sizeof value);
        switch (waiting) {
        case kScanObject: args->objd = static_cast<uint32_t>(strtol(value, nullptr, 10)); break;
        case kScanTo: snprintf(args->output, sizeof args->output, "%s", value); break;
        case kScanFile: args->file = static_cast<uint16_t>(strtol(value, nullptr, 10)); break;
        case kScanBlocks: args->blocks = static_cast<uint32_t>(strtol(value, nullptr, 10)); break;
        default: break;
        }
        waiting = kScanKeyNone;
    }
}

int findSubCommand(const char *word)
{
    for (int s = 0; s < kScanSubCount; s++) {
        if (strncasecmp(word, kScanSubWords[s], strlen(kScanSubWords[s])) == 0)
            return s;
    }
    return kScanNone;
}

FILE *openScanOutput(const char *name)
{
    if (name[0] == '\0')
        return stdout;
    FILE *out = fopen64(name, "wb+");
    if (out == nullptr)
        reportFileError("create", "output file", name, "writing to standard output");
    return out != nullptr ? out : stdout;
}

void closeScanOutput(FILE *out)
{
    if (out != stdout)
        fclose(out);
    else
        fflush(stdout);
}

void printScanUsage()
{
    for (const char *line : kScanUsage)
        fputs(line, stdout);
}

void runScanSubCommand(UnloadContext *ctx, int sub, const ScanArgs *args)
{
    switch (sub) {
    case kScanHeader: {
        FILE *out = openScanOutput(args->output);
        listSegmentHeader(out, ctx, args->objd, args->file);
        closeScanOutput(out);
        break;
    }
    case kScanDatabase:
        listExtentMapParallel(ctx);
        listLobBlockMapParallel(ctx);
        break;
    case kScanLob: {
        FILE *out = fopen64(kLobMapFileName, "wb+");
        listLobBlockMap(out != nullptr ? out : stdout, ctx, args->objd, args->file);
        if (out == nullptr)
            break;
        fclose(out);
        hashLobBlockMap();
        break;
    }
    case kScanParallelLob:
        listLobBlockMapParallel(ctx);
        break;
    case kScanMap:
        hashLobBlockMap();
        break;
    case kScanData: {
        FILE *out = openScanOutput(args->output);
        listDataBlock(out, ctx, args->objd, args->file, args->blocks);
        closeScanOutput(out);
        break;
    }
    case kScanExtent: {
        FILE *out = openScanOutput(kExtentFileName);
        listExtentMap(out, ctx, args->file);
        closeScanOutput(out);
        break;
    }
    case kScanParallelExt:
        listExtentMapParallel(ctx);
        break;
    case kScanTable: {
        ctx->fieldTag[0] = ',';
        ctx->fieldTagLength = 1;
        ctx->recordTag[0] = '\n';
        ctx->recordTagLength = 1;
        FILE *out = openScanOutput(args->output);
        listTableHeader(out, ctx, args->file);
        closeScanOutput(out);
        break;
    }
    case kScanBlock: {
        FILE *out = openScanOutput(args->output);
        listDataBlockType(out, ctx, args->file);
        closeScanOutput(out);
        break;
    }
    default:
        break;
    }
}

}  // namespace

void runScanCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    CommandLine *cmd = shell->command;
    ScanArgs args;
    memset(&args, 0, sizeof args);
    args.blocks = 1;
    if (ctx->dataWindow != nullptr)
        emptyReadAheadWindow(ctx->dataWindow);
    memset(ctx->columnTypes, kRawType, sizeof ctx->columnTypes);

    if (scanNextWord(cmd) == 0) {
        printScanUsage();
        return;
    }
    copyCurrentWord(cmd, args.sub, sizeof args.sub);
    parseScanArgs(cmd, &args);
    int sub = findSubCommand(args.sub);
    if (sub == kScanNone) {
        printScanUsage();
        return;
    }
    printDate(stdout);
    runScanSubCommand(ctx, sub, &args);
    printDate(stdout);
}
