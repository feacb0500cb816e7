// runZOR: start-up, the command loop with its dispatch, scripts, shell
// escapes, HELP and the clean-up at EXIT.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "asm/asm.h"
#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "lob/lob.h"
#include "scan/scan.h"
#include "shell/shell.h"

namespace {

const char *const kHelpLines[] = {
    "  SET     -- Change setting\n",
    "  CHECK   -- Check data file header\n",
    "  OPEN    -- Open configuration file\n",
    "  OSDUMP  -- OS dump (HEX display)\n",
    "  ORADUMP -- Oracle dump (block information)\n",
    "  UNLOAD  -- Unload data to text file\n",
    "  SCAN    -- Scan segment header or object\n",
    "  DESC    -- Describe table structure\n",
    "  ROWID   -- Inteprete or construct ROWID\n",
    "  BCHECK  -- Check whether the block tail matchs\n",
    "  CORRUPT -- Mark data block as corrupted\n",
    "  SKIP    -- Mark data block as skipped\n",
    "  EXIT    -- Exit application\n",
    "  PROBE   -- Find the settings a datafile needs\n",
};

ReadAheadWindow *allocateWindow(uint32_t capacity) {
    ReadAheadWindow *window = (ReadAheadWindow *)calloc(1, sizeof(ReadAheadWindow));
    if (window == nullptr) return nullptr;
    window->buffer = (uint8_t *)malloc(capacity);
    if (window->buffer == nullptr) {
        free(window);
        return nullptr;
    }
    window->capacity = capacity;
    return window;
}

void freeWindow(ReadAheadWindow *window) {
    if (window == nullptr) return;
    free(window->buffer);
    free(window);
}

void setContextDefaults(UnloadContext *ctx) {
    ctx->blockSize = 8192;
    ctx->rowLimit = kNoRowLimit;
    ctx->maxLobDirs = 500;
    ctx->chunkCount = 1;
    ctx->nchar = kNoConverter;
    ctx->nclob = kNoConverter;
    ctx->clob = kNoConverter;
}

void copyTagsIntoContext(const ShellState *shell, UnloadContext *ctx) {
    memcpy(ctx->fieldTag, shell->fieldTagValue, kTagSize);
    memcpy(ctx->recordTag, shell->recordTagValue, kTagSize);
    memcpy(ctx->lobTag, shell->longTagValue, kTagSize);
    ctx->fieldTagLength = (uint16_t)strnlen(ctx->fieldTag, kTagSize);
    ctx->recordTagLength = (uint16_t)strnlen(ctx->recordTag, kTagSize);
    ctx->lobTagLength = (uint16_t)strnlen(ctx->lobTag, kTagSize);
}

void closeConverter(iconv_t *converter) {
    if (*converter != kNoConverter) iconv_close(*converter);
    *converter = kNoConverter;
}

// Releases everything runZOR allocated; safe on a partly built state.
void releaseShell(ShellState *shell) {
    UnloadContext *ctx = shell->ctx;
    if (ctx != nullptr) {
        if (ctx->asmGroup != nullptr) closeDiskGroup(ctx->asmGroup);
        free(ctx->asmGroup);
        free(ctx->lobMap);
        free(ctx->columnGuess);
        free(ctx->block);
        freeWindow(ctx->dataWindow);
        freeWindow(ctx->lobWindow);
        freeWindow(ctx->indexWindow);
        if (ctx->workBuffer != nullptr) free(ctx->workBuffer->data);
        free(ctx->workBuffer);
        closeConverter(&ctx->nchar);
        closeConverter(&ctx->nclob);
        closeConverter(&ctx->clob);
        free(ctx);
    }
    if (shell->datafiles != nullptr) closeDBFile(shell->datafiles);
    free(shell->datafiles);
    free(shell->outputBuffer);
    if (shell->script != nullptr) fclose(shell->script);
    free(shell->corruptList);
    free(shell->skipList);
    free(shell->command);
    free(shell->columns);
}

bool allocateBuffers(ShellState *shell) {
    UnloadContext *ctx = shell->ctx;
    ctx->block = (uint8_t *)calloc(1, ctx->blockSize);
    ctx->asmGroup = (AsmDiskGroup *)calloc(1, sizeof(AsmDiskGroup));
    ctx->lobMap = (LobPageMap *)calloc(1, sizeof(LobPageMap));
    if (ctx->block == nullptr || ctx->asmGroup == nullptr || ctx->lobMap == nullptr) return false;
    clearLobPageMap(ctx->lobMap);
    initASMDiskGroup(ctx->asmGroup);
    setDiskGroupCache(ctx->asmGroup);

    shell->corruptList = (RdbaList *)calloc(1, sizeof(RdbaList));
    shell->skipList = (RdbaList *)calloc(1, sizeof(RdbaList));
    ctx->corruptList = shell->corruptList;
    ctx->skipList = shell->skipList;
    ctx->dataWindow = allocateWindow(kDefaultWindowCapacity);
    ctx->lobWindow = allocateWindow(kLobWindowCapacity);
    ctx->indexWindow = allocateWindow(kIndexWindowCapacity);
    ctx->workBuffer = (WorkBuffer *)calloc(1, sizeof(WorkBuffer));
    if (ctx->workBuffer != nullptr) {
        ctx->workBuffer->data = (uint8_t *)malloc(kWorkBufferSize);
        ctx->workBuffer->capacity = kWorkBufferSize;
    }
    shell->datafiles = (DatafileSet *)calloc(1, sizeof(DatafileSet));
    ctx->datafiles = shell->datafiles;
    shell->command = (CommandLine *)calloc(1, sizeof(CommandLine));
    shell->outputBuffer = (uint8_t *)malloc(kOutputBufferSize);
    shell->columns = (ColumnList *)calloc(1, sizeof(ColumnList));
    ctx->columnGuess = (ColumnGuessState *)calloc(1, sizeof(ColumnGuessState));
    return shell->columns && ctx->columnGuess && shell->corruptList && shell->skipList && ctx->dataWindow && ctx->lobWindow &&
           ctx->indexWindow && ctx->workBuffer && ctx->workBuffer->data && shell->datafiles &&
           shell->command && shell->outputBuffer;
}

void printBanner() {
    printf("ZOR: Oracle data rescue, release %s\n\n", kZorRelease);
    fputs("Reads datafiles without a running database; never writes to them.\n\n", stdout);
}

// "@name": the name is everything after the "@", blanks included.
void startScript(ShellState *shell) {
    CommandLine *cmd = shell->command;
    if (shell->script != nullptr) {
        fputs(" Cannot using @script.sql in script file.\n", stdout);
        noteCommandFailure();
        return;
    }
    const char *name = cmd->text + cmd->start + 1;
    shell->script = fopen(name, "r+");
    if (shell->script == nullptr)
        reportFileError("open", "script", name);
}

void runShellEscape(ShellState *shell) {
    CommandLine *cmd = shell->command;
    uint32_t p = cmd->end;
    while (p < cmd->length && isspace((unsigned char)cmd->text[p])) p++;
    fflush(stdout);
    int status = system(p < cmd->length ? cmd->text + p : "sh");
    (void)status;  // the shell's status is not reported
}

void printHelp() {
    for (const char *line : kHelpLines) fputs(line, stdout);
}

// The blocks of the open datafiles, as CHECK measured them: what a scan reads.
uint64_t registeredBlocks(const DatafileSet *set) {
    uint64_t total = 0;
    uint32_t count = set->count < (uint32_t)kMaxDatafiles ? set->count : (uint32_t)kMaxDatafiles;
    for (uint32_t pos = 0; pos < count; pos++) total += set->blocks[pos];
    return total;
}

bool firstWordIs(const CommandLine *cmd, const char *keyword) {
    return compareKeyword(cmd, keyword) == 0;
}

enum DispatchResult { kContinue, kExit };

DispatchResult dispatchCommand(ShellState *shell) {
    CommandLine *cmd = shell->command;
    const char *word = cmd->text + cmd->start;
    int wordLength = (int)(cmd->end - cmd->start);
    if (word[0] == '@') startScript(shell);
    else if (wordLength >= 4 && strncasecmp(word, "HOST", 4) == 0) runShellEscape(shell);
    else if (word[0] == '!') runShellEscape(shell);
    else if (firstWordIs(cmd, "SET")) runSetCommand(shell);
    else if (firstWordIs(cmd, "OPEN")) runOpenCommand(shell);
    else if (firstWordIs(cmd, "OSDUMP")) runOsdumpCommand(shell);
    else if (firstWordIs(cmd, "BCHECK")) runBcheckCommand(shell);
    else if (firstWordIs(cmd, "CORRUPT")) runCorruptCommand(shell);
    else if (firstWordIs(cmd, "SKIP")) runSkipCommand(shell);
    else if (firstWordIs(cmd, "ORADUMP")) runOradumpCommand(shell);
    else if (firstWordIs(cmd, "LIST")) runListCommand(shell);
    else if (firstWordIs(cmd, "SAMPLE")) runSampleCommand(shell);
    else if (firstWordIs(cmd, "UNLOAD")) {
        beginProgress("UNLOAD", 0, shell->ctx->blockSize, &shell->ctx->rowsUnloaded);
        runUnloadCommand(shell);
        endProgress();
    }
    else if (firstWordIs(cmd, "CHECK")) runCheckCommand(shell);
    else if (firstWordIs(cmd, "REM")) {}
    else if (firstWordIs(cmd, "DESC") || firstWordIs(cmd, "DESCRIBE")) runDescCommand(shell);
    else if (firstWordIs(cmd, "ROWID")) runRowidCommand(shell);
    else if (firstWordIs(cmd, "SCAN")) {
        beginProgress("SCAN", registeredBlocks(shell->datafiles), shell->ctx->blockSize, nullptr);
        runScanCommand(shell);
        endProgress();
    }
    else if (firstWordIs(cmd, "EXIT")) return kExit;
    else if (firstWordIs(cmd, "HELP")) printHelp();
    else if (firstWordIs(cmd, "ASM")) runAsmCommand(shell);
    else if (firstWordIs(cmd, "PROBE")) runProbeCommand(shell);
    else {
        fputs("  Unknown command!\n", stdout);
        noteCommandFailure();
    }
    return kContinue;
}

// One command from the script, or from the terminal when no script runs or
// the script's line was an EXIT without ";".  Returns -1 to leave the loop.
int readNextCommand(ShellState *shell, FILE *in) {
    if (shell->script != nullptr && readZORCommand(shell->script, shell->command) != -1) return 0;
    return getZORCommand(in, shell->command);
}

void commandLoop(ShellState *shell, FILE *in) {
    UnloadContext *ctx = shell->ctx;
    for (;;) {
        if (readNextCommand(shell, in) == -1) return;
        ctx->indexOption = 0;
        ctx->rowLimit = kNoRowLimit;
        if (shell->script != nullptr && feof(shell->script)) {
            fclose(shell->script);
            shell->script = nullptr;
        }
        CommandLine *cmd = shell->command;
        cmd->start = cmd->end = 0;
        if (scanNextWord(cmd) == 0) continue;
        fflush(stdout);
        if (dispatchCommand(shell) == kExit) return;
        fflush(stdout);
    }
}

}  // namespace

int runZOR(FILE *in) {
    ShellState shell;
    memset(&shell, 0, sizeof shell);
    snprintf(shell.fieldTagValue, sizeof shell.fieldTagValue, "|");
    snprintf(shell.recordTagValue, sizeof shell.recordTagValue, "\r\n");
    shell.ctx = (UnloadContext *)calloc(1, sizeof(UnloadContext));
    if (shell.ctx == nullptr) return 1;
    setContextDefaults(shell.ctx);
    if (!allocateBuffers(&shell)) {
        releaseShell(&shell);
        return 1;
    }
    copyTagsIntoContext(&shell, shell.ctx);
    printBanner();
    shell.script = fopen("init.sql", "r+");
    // Most directories have no start-up script; one that is there but cannot be read is worth a word.
    if (shell.script == nullptr && errno != ENOENT)
        reportFileError("open", "start-up script", "init.sql");
    shell.charset = 1;
    shell.nlsCharset = 2000;
    commandLoop(&shell, in);
    fflush(stdout);
    releaseShell(&shell);
    return 0;
}
