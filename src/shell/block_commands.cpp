// Front ends of the block maintenance commands: OPEN, CHECK, OSDUMP, ORADUMP,
// BCHECK, CORRUPT, SKIP and ROWID.  They parse their words, read the block
// through the datafile layer and print the results; the corrupt and skip
// lists are written only here.
//
// Arguments are keyword/value pairs: a keyword makes the next word that is
// not a keyword its value; words with no keyword waiting are ignored.  RDBA
// values are hexadecimal after "0x", decimal otherwise; file, block, object
// and slot numbers are decimal.
#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "view/view.h"
#include "block/hex_dump.h"
#include "datafile/datafile.h"
#include "shell/shell.h"
#include "unload/rows/rowid.h"

namespace {

constexpr int kMaxKeywords = 8;
constexpr int kValueSize = 4096;       // a value may be a file name
constexpr int kLoadLineBuffer = 63;    // LOAD file lines: at most 62 characters and the NUL

// Values start empty (a number then reads as 0) for each command.
struct KeywordArgs {
    char value[kMaxKeywords][kValueSize];
    int waiting;   // keyword whose value comes next, -1 for none
};

int findKeyword(const CommandLine *cmd, const char *const *keywords, int count)
{
    for (int k = 0; k < count; k++) {
        if (compareKeyword(cmd, keywords[k]) == 0)
            return k;
    }
    return -1;
}

// Reads every remaining word of the command.  At the end args->waiting holds
// the last keyword when no value followed it (CORRUPT CLEAR, CORRUPT LIST).
void parseKeywordArgs(CommandLine *cmd, const char *const *keywords, int count, KeywordArgs *args)
{
    for (int k = 0; k < kMaxKeywords; k++)
        args->value[k][0] = '\0';
    args->waiting = -1;
    while (scanNextWord(cmd) > 0) {
        int k = findKeyword(cmd, keywords, count);
        if (k >= 0) {
            args->waiting = k;
        } else if (args->waiting >= 0) {
            copyCurrentWord(cmd, args->value[args->waiting], kValueSize);
            args->waiting = -1;
        }
    }
}

uint32_t parseRdbaValue(const char *text)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return static_cast<uint32_t>(strtoul(text + 2, nullptr, 16));
    return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

long parseDecimalValue(const char *text)
{
    return strtol(text, nullptr, 10);
}

void emptyDataWindow(UnloadContext *ctx)
{
    if (ctx->dataWindow != nullptr)
        emptyReadAheadWindow(ctx->dataWindow);
}

// The block dumps write to the TO file when one is named and can be created,
// to standard output otherwise.
FILE *openDumpTarget(const char *name)
{
    if (name[0] == '\0')
        return stdout;
    FILE *f = fopen64(name, "wb+");
    if (f == nullptr)
        reportFileError("create", "output file", name, "writing to standard output");
    return f != nullptr ? f : stdout;
}

void closeDumpTarget(FILE *out)
{
    if (out != stdout)
        fclose(out);
    else
        fflush(stdout);
}

// ---- OSDUMP, ORADUMP, BCHECK ----

enum DumpKeyword { kDumpRdba, kDumpFile, kDumpBlock, kDumpTo, kDumpKeywordCount };
const char *const kDumpKeywords[kDumpKeywordCount] = {"RDBA", "FILE", "BLOCK", "TO"};

struct BlockAddress {
    uint32_t rdba;
    uint32_t file;
    uint32_t block;
};

BlockAddress blockAddressOf(const KeywordArgs *args)
{
    BlockAddress address;
    address.rdba = parseRdbaValue(args->value[kDumpRdba]);
    address.file = static_cast<uint32_t>(parseDecimalValue(args->value[kDumpFile]));
    address.block = static_cast<uint32_t>(parseDecimalValue(args->value[kDumpBlock]));
    return address;
}

// ---- CORRUPT and SKIP ----

enum ListKeyword { kListRdba, kListFile, kListBlock, kListClear, kListList, kListLoad, kListKeywordCount };
const char *const kListKeywords[kListKeywordCount] = {"RDBA", "FILE", "BLOCK", "CLEAR", "LIST", "LOAD"};

struct ListTexts {
    const char *heading;
    const char *usage[5];
};

const ListTexts kCorruptTexts = {
    " Corrupted Blocks List:\n",
    {"  CORRUPT CLEAR \n", "  CORRUPT LIST \n", "  CORRUPT RDBA     rdba \n",
     "  CORRUPT FILE rfn BLOCK blockid \n", "  CORRUPT LOAD     file \n"}};
const ListTexts kSkipTexts = {
    " Skipped Blocks List:\n",
    {"  SKIP  CLEAR \n", "  SKIP  LIST \n", "  SKIP  RDBA     rdba \n", "  SKIP  FILE rfn BLOCK blockid \n",
     "  SKIP  LOAD file \n"}};

void loadListFile(RdbaList *list, const char *name)
{
    FILE *f = fopen64(name, "r+");
    if (f == nullptr) {
        reportFileError("open", "block list file", name);
        return;
    }
    char line[kLoadLineBuffer];
    while (fgets(line, sizeof line, f) != nullptr) {
        uint32_t value = parseRdbaValue(line);
        if (value != 0)
            addRDBAToList(list, value);
    }
    fclose(f);
}

void runBlockListCommand(ShellState *shell, RdbaList *list, const ListTexts *texts)
{
    UnloadContext *ctx = shell->ctx;
    emptyDataWindow(ctx);
    KeywordArgs args;
    parseKeywordArgs(shell->command, kListKeywords, kListKeywordCount, &args);
    if (list == nullptr)
        return;

    if (args.waiting == kListClear) {
        list->count = 0;
        return;
    }
    if (args.waiting == kListList) {
        fputs(texts->heading, stdout);
        for (uint32_t i = 0; i < list->count && i < static_cast<uint32_t>(kRdbaListMax); i++) {
            uint32_t rdba = list->rdba[i];
            printf("  RDBA = %u , FILE = %u , BLOCK = %u\n", rdba, getRDBAFile(rdba), getRDBABlock(rdba));
        }
        fflush(stdout);
        return;
    }

    uint32_t rdba = parseRdbaValue(args.value[kListRdba]);
    uint32_t file = static_cast<uint32_t>(parseDecimalValue(args.value[kListFile]));
    uint32_t block = static_cast<uint32_t>(parseDecimalValue(args.value[kListBlock]));
    if (rdba != 0) {
        addRDBAToList(list, rdba);
    } else if (file != 0 && block != 0) {
        addRDBAToList(list, makeRDBA(file, block));
    } else if (args.value[kListLoad][0] != '\0') {
        loadListFile(list, args.value[kListLoad]);
    } else {
        for (const char *line : texts->usage)
            fputs(line, stdout);
    }
}

// ---- ROWID ----

enum RowidKeyword { kRowidObject, kRowidSlot, kRowidFile, kRowidBlock, kRowidRdba, kRowidKeywordCount };
const char *const kRowidKeywords[kRowidKeywordCount] = {"OBJECT", "SLOT", "FILE", "BLOCK", "RDBA"};

void runRowidCreate(CommandLine *cmd)
{
    KeywordArgs args;
    parseKeywordArgs(cmd, kRowidKeywords, kRowidKeywordCount, &args);
    uint32_t objd = static_cast<uint32_t>(parseDecimalValue(args.value[kRowidObject]));
    int16_t slot = static_cast<int16_t>(parseDecimalValue(args.value[kRowidSlot]));
    int16_t file = static_cast<int16_t>(parseDecimalValue(args.value[kRowidFile]));
    int32_t block = static_cast<int32_t>(parseDecimalValue(args.value[kRowidBlock]));
    uint32_t rdba = parseRdbaValue(args.value[kRowidRdba]);
    if (rdba == 0)
        rdba = makeRDBA(static_cast<uint16_t>(file), static_cast<uint32_t>(block));
    RowidCreate(stdout, objd, rdba, static_cast<uint16_t>(slot));
}

void runRowidParse(CommandLine *cmd)
{
    char rowid[kRowidLength + 1];
    while (scanNextWord(cmd) > 0) {
        if (cmd->end - cmd->start != static_cast<uint32_t>(kRowidLength))
            continue;
        copyCurrentWord(cmd, rowid, sizeof rowid);
        RowidParse(stdout, rowid);
    }
}

}  // namespace

// Files whose configuration line gives no header size (and are not in a
// disk group) take SET HEAD_SIZE's.
static void applyDefaultHeaderSize(DatafileSet *set, uint32_t headerSize)
{
    for (uint32_t pos = 0; pos < set->count && pos < kMaxDatafiles; pos++) {
        if (set->headerSize[pos] == 0 && set->path[pos][0] != '+')
            set->headerSize[pos] = headerSize;
    }
}

void runOpenCommand(ShellState *shell)
{
    CommandLine *cmd = shell->command;
    UnloadContext *ctx = shell->ctx;
    emptyDataWindow(ctx);
    if (scanNextWord(cmd) == 0)
        return;
    // The rest of the command, blanks included, is the file name.
    char name[kValueSize];
    uint32_t length = cmd->length > cmd->start ? cmd->length - cmd->start : 0;
    if (length >= sizeof name)
        length = sizeof name - 1;
    memcpy(name, cmd->text + cmd->start, length);
    name[length] = '\0';

    FILE *config = fopen64(name, "r");
    if (config == nullptr) {
        reportFileError("open", "configuration file", name);
        return;
    }
    DatafileSet *set = ctx->datafiles;
    if (set != nullptr) {
        closeDBFile(set);
        loadConfig(set, config);
        applyDefaultHeaderSize(set, ctx->defaultHeaderSize);
        openDBFile(set, ctx->asmGroup);
        checkFileHeader(ctx);
        reportSettingsMismatch(ctx);
    }
    fclose(config);
    emptyDataWindow(ctx);
}

void runCheckCommand(ShellState *shell)
{
    checkFileHeader(shell->ctx);
}

void runOsdumpCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    emptyDataWindow(ctx);
    KeywordArgs args;
    parseKeywordArgs(shell->command, kDumpKeywords, kDumpKeywordCount, &args);
    BlockAddress address = blockAddressOf(&args);
    int got;
    if (address.rdba != 0) {
        got = readRDBA(ctx->datafiles, ctx, address.rdba);
    } else if (address.file != 0) {
        got = readBlock(ctx->datafiles, ctx, address.file, address.block);
    } else {
        fputs("  OSDUMP RDBA     rdba [TO filename]\n", stdout);
        fputs("  OSDUMP FILE rfn BLOCK blockid [TO filename]\n", stdout);
        return;
    }
    if (got != static_cast<int>(ctx->blockSize)) {
        fputs("  Read Error\n", stdout);
        return;
    }
    FILE *out = openDumpTarget(args.value[kDumpTo]);
    printBlock(out, ctx->block, ctx->blockSize);
    closeDumpTarget(out);
}

void runOradumpCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    emptyDataWindow(ctx);
    KeywordArgs args;
    parseKeywordArgs(shell->command, kDumpKeywords, kDumpKeywordCount, &args);
    BlockAddress address = blockAddressOf(&args);
    int got;
    if (address.rdba != 0) {
        got = readRDBA(ctx->datafiles, ctx, address.rdba);
    } else if (address.block != 0 && (address.file != 0 || ctx->bigfile)) {
        // A bigfile datafile is relative file 0.
        got = readBlock(ctx->datafiles, ctx, address.file, address.block);
    } else {
        fputs("  ORADUMP RDBA     rdba [TO filename]\n", stdout);
        fputs("  ORADUMP FILE rfn  BLOCK blockid [TO filename]\n", stdout);
        return;
    }
    if (got != static_cast<int>(ctx->blockSize)) {
        fputs("  Read Error\n", stdout);
        return;
    }
    FILE *out = openDumpTarget(args.value[kDumpTo]);
    printHeader(out, ctx);
    closeDumpTarget(out);
}

void runBcheckCommand(ShellState *shell)
{
    UnloadContext *ctx = shell->ctx;
    emptyDataWindow(ctx);
    KeywordArgs args;
    // BCHECK takes no TO, so only the first three dump keywords.
    parseKeywordArgs(shell->command, kDumpKeywords, kDumpTo, &args);
    BlockAddress address = blockAddressOf(&args);
    int got;
    if (address.rdba != 0) {
        got = readRDBA(ctx->datafiles, ctx, address.rdba);
    } else if (address.file != 0 && address.block != 0) {
        got = readBlock(ctx->datafiles, ctx, address.file, address.block);
    } else {
        fputs("  BCHECK RDBA     rdba [TO filename]\n", stdout);
        fputs("  BCHECK FILE rfn BLOCK blockid [TO filename]\n", stdout);
        return;
    }
    if (got != static_cast<int>(ctx->blockSize)) {
        fputs("  Read Error\n", stdout);
        return;
    }
    fputs(matchBlockTail(ctx) == 0 ? "Block Tail Matched!\n" : "Block Tail Unmatched!\n", stdout);
}

void runCorruptCommand(ShellState *shell)
{
    runBlockListCommand(shell, shell->ctx->corruptList, &kCorruptTexts);
}

void runSkipCommand(ShellState *shell)
{
    runBlockListCommand(shell, shell->ctx->skipList, &kSkipTexts);
}

void runRowidCommand(ShellState *shell)
{
    CommandLine *cmd = shell->command;
    if (scanNextWord(cmd) == 0) {
        fputs("  ROWID CREATE OBJECT objd {[FILE rfn BLOCK bid] | [RDBA rdba]} SLOT slot \n", stdout);
        fputs("  ROWID PARSE  rowid\n", stdout);
        return;
    }
    if (compareKeyword(cmd, "CREATE") == 0)
        runRowidCreate(cmd);
    else if (compareKeyword(cmd, "PARSE") == 0)
        runRowidParse(cmd);
}
