// SAMPLE: guesses the column types of one segment from the rows of one of
// its blocks and writes a ready-made UNLOAD OBJECT command.  Only the
// proposal is written; the sampled rows feed the guesser and nothing else.
//
// Grammar: SAMPLE OBJECT objd {RDBA rdba | FILE rfn BLOCK blockid}
//          [CLUSTER n] [TO file]; an RDBA is hexadecimal after "0x".
#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "datafile/datafile.h"
#include "scan/scan.h"
#include "shell/shell.h"
#include "unload/unload.h"

namespace {

constexpr int kWordSize = 1024;
constexpr uint8_t kRawType = 23;
constexpr uint8_t kGuessModeSample = 2;
constexpr uint8_t kOutputStyleText = 0;

enum SampleKeyword { kSampleObject, kSampleCluster, kSampleTo, kSampleFile, kSampleBlock, kSampleRdba,
                     kSampleKeyCount, kSampleKeyNone = -1 };
const char *const kSampleKeywords[kSampleKeyCount] = {"OBJECT", "CLUSTER", "TO", "FILE", "BLOCK", "RDBA"};

struct SampleArgs {
    uint32_t objd;
    uint8_t cluster;
    char output[kWordSize];
    uint16_t file;
    uint32_t block;
};

int findSampleKeyword(const CommandLine *cmd)
{
    for (int k = 0; k < kSampleKeyCount; k++) {
        if (compareKeyword(cmd, kSampleKeywords[k]) == 0)
            return k;
    }
    return kSampleKeyNone;
}

// Hexadecimal after "0x", decimal otherwise (a leading zero is no octal).
uint32_t parseRdbaValue(const char *text)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return static_cast<uint32_t>(strtoul(text + 2, nullptr, 16));
    return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

void takeSampleValue(SampleArgs *args, int keyword, const char *value)
{
    switch (keyword) {
    case kSampleObject: args->objd = static_cast<uint32_t>(strtoul(value, nullptr, 10)); break;
    case kSampleCluster: args->cluster = static_cast<uint8_t>(strtoul(value, nullptr, 10)); break;
    case kSampleTo: snprintf(args->output, sizeof args->output, "%s", value); break;
    case kSampleFile: args->file = static_cast<uint16_t>(strtoul(value, nullptr, 10)); break;
    case kSampleBlock: args->block = static_cast<uint32_t>(strtoul(value, nullptr, 10)); break;
    case kSampleRdba: {
        uint32_t rdba = parseRdbaValue(value);
        args->file = static_cast<uint16_t>(rdba >> kRdbaFileShift);
        args->block = rdba & kRdbaBlockMask;
        break;
    }
    default: break;
    }
}

void parseSampleArgs(CommandLine *cmd, SampleArgs *args)
{
    int waiting = kSampleKeyNone;
    char value[kWordSize];
    while (scanNextWord(cmd) > 0) {
        int k = findSampleKeyword(cmd);
        if (k != kSampleKeyNone) {
            waiting = k;
            continue;
        }
        if (waiting == kSampleKeyNone)
            continue;
        copyCurrentWord(cmd, value, sizeof value);
        takeSampleValue(args, waiting, value);
        waiting = kSampleKeyNone;
    }
}

void copySampleTags(const ShellState *shell, UnloadContext *ctx)
{
    memcpy(ctx->fieldTag, shell->fieldTagValue, kTagSize);
    memcpy(ctx->recordTag, shell->recordTagValue, kTagSize);
    memcpy(ctx->lobTag, shell->longTagValue, kTagSize);
    ctx->fieldTagLength = static_cast<uint16_t>(strnlen(ctx->fieldTag, kTagSize));
    ctx->recordTagLength = static_cast<uint16_t>(strnlen(ctx->recordTag, kTagSize));
    ctx->lobTagLength = static_cast<uint16_t>(strnlen(ctx->lobTag, kTagSize));
}

FILE *openSampleOutput(ShellState *shell, const char *name)
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

void writeSampleProposal(FILE *out, UnloadContext *ctx, const SampleArgs *args)
{
    const ColumnGuessState *guess = ctx->columnGuess;
    fprintf(out, "#// Column Count=%u\n", static_cast<unsigned>(guess->columnCount));
    fprintf(out, "UNLOAD OBJECT %u COLUMN ", getDataObjectID(ctx));
    printGuessedColumns(out, guess);
    fprintf(out, " TO OBJD%010uC%03u.txt; \n", args->objd, static_cast<unsigned>(args->cluster));
    fputc('\n', out);
}

}  // namespace

void runSampleCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    if (ctx->columnGuess == nullptr)
        return;
    ctx->guessMode = kGuessModeSample;
    ctx->fieldTag[0] = ',';
    ctx->fieldTagLength = 1;
    ctx->recordTag[0] = '\n';
    ctx->recordTagLength = 1;
    resetColumnGuess(ctx->columnGuess);
    if (ctx->dataWindow != nullptr)
        emptyReadAheadWindow(ctx->dataWindow);
    memset(ctx->columnTypes, kRawType, sizeof ctx->columnTypes);

    SampleArgs args;
    memset(&args, 0, sizeof args);
    parseSampleArgs(shell->command, &args);
    if (args.objd == 0 || args.block == 0 || (args.file == 0 && !ctx->bigfile)) {
        fputs("  SAMPLE OBJECT objd RDBA rdba FILE rfn BLOCK blockid \n", stdout);
        fputs("         [CLUSTER clusterid] [TO filename]\n", stdout);
        ctx->guessMode = 0;
        return;
    }
    copySampleTags(shell, ctx);
    uint8_t savedStyle = ctx->outputStyle;
    ctx->outputStyle = kOutputStyleText;
    ctx->rowsUnloaded = 0;

    FILE *out = openSampleOutput(shell, args.output);
    scanTableRows(out, ctx, args.objd, args.cluster, shell->deletedRow, shell->commitedOnly, args.file,
                  args.block);
    writeSampleProposal(out, ctx, &args);
    if (out != stdout)
        fclose(out);
    else
        fflush(stdout);
    ctx->outputStyle = savedStyle;
    ctx->guessMode = 0;
}
