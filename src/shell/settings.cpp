// SET: change and show the settings.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "datafile/datafile.h"
#include "shell/shell.h"
#include "unload/charsets/charset.h"
#include "unload/writers/csv_output.h"

namespace {

enum Option {
    kBlockSize,
    kByteOrder,
    kClobEdian,
    kLobConvert,
    kLobStorage,
    kCharset,
    kNlsCharset,
    kMaxLobDir,
    kVerbose,
    kRowAddress,
    kBlockCheck,
    kTablespace,
    kMaxChains,
    kDeletedRow,
    kFixedCharset,
    kOutputStyle,
    kCommitedOnly,
    kFieldTag,
    kLongTag,
    kRecordTag,
    kCacheSize,
    kTransOffset,
    kTransCount,
    kBigfile,
    kIconvNchar,
    kIconvNclob,
    kIconvClob,
    kTarget,
    kParallel,
    kHeadSize,
    kReport,
    kOptionCount
};

// Looked up in this order.
const char *const kOptionNames[kOptionCount] = {
    "BLOCK_SIZE",  "BYTE_ORDER",  "CLOB_EDIAN",    "LOB_CONVERT",  "LOB_STORAGE",   "CHARSET",
    "NLSCHARSET",  "MAXLOBDIR",   "VERBOSE",       "ROW_ADDRESS",  "BLOCK_CHECK",   "TABLESPACE",
    "MAXCHAINS",   "DELETED_ROW", "FIXED_CHARSET", "OUTPUT_STYLE", "COMMITED_ONLY", "FIELD_TAG",
    "LONG_TAG",    "RECORD_TAG",  "CACHE_SIZE",    "TRANS_OFFSET", "TRANS_COUNT",   "BIGFILE",
    "ICONV_NCHAR", "ICONV_NCLOB", "ICONV_CLOB",    "TARGET",       "PARALLEL",      "HEAD_SIZE",
    "REPORT",
};

const char *const kUsageLines[] = {
    "  SET BLOCK_SIZE    {2048 | 4096 | 8192 | 16384 | 32768}\n",
    "  SET BYTE_ORDER    {BIG | LITTLE}\n",
    "  SET DELETED_ROW   {TRUE | FALSE}\n",
    "  SET COMMITED_ONLY {TRUE | FALSE}\n",
    "  SET FIELD_TAG     field_tag \n",
    "  SET RECORD_TAG    record_tag\n",
    "  SET CACHE_SIZE    kbytes (64 - 8192)\n",
    "  SET OUTPUT_STYLE  {TXT | DMP}\n",
    "  SET CHARSET       charsetid\n",
    "  SET NLSCHARSET    charsetid\n",
    "  SET FIXED_CHARSET {true | false}\n",
    "  SET BLOCK_CHECK   {0 | 1}\n",
    "  SET HEAD_SIZE     header size (default 0)\n",
    "  SET VERBOSE       {0 | 1}\n",
    "  SET ROW_ADDRESS   {0 | 1}\n",
    "  SET CLOB_EDIAN    {BIG | LITTLE}\n",
    "  SET LOB_CONVERT   {0:NONE | 1:GBK | 2:UTF8}\n",
    "  SET LOB_STORAGE   {0:INLINE | 1:FILE | 2:NONE}\n",
    "  SET MAXLOBDIR     values between 100  and 2000\n",
    "  SET MAXCHAINS     integer value\n",
    "  SET BIGFILE       {Yes | NO}\n",
    "  SET ICONV_NCHAR   from_iconv_charset to_iconv_charset\n",
    "  SET ICONV_NCLOB   from_iconv_charset to_iconv_charset\n",
    "  SET ICONV_CLOB    from_iconv_charset to_iconv_charset\n",
    "  SET OUTPUT_STYLE  CSV (quoted fields)\n",
    "  SET TARGET        {ORACLE | POSTGRESQL}\n",
    "  SET PARALLEL      {1 - 64 | AUTO}\n",
};

constexpr int kNumberWordMax = 10;    // characters of a number word that are read
constexpr int kIconvNameMax = 63;
constexpr uint32_t kMinCacheBytes = 64 * 1024;
constexpr uint32_t kMaxCacheBytes = 8192 * 1024;

// A value the option does not take: the message, and a failed command for
// the exit status of a script.
void rejectValue(const char *format, const char *name = nullptr)
{
    printf(format, name);
    noteCommandFailure();
}

void printUsage() {
    for (const char *line : kUsageLines) fputs(line, stdout);
    fputs("  SET PROGRESS      {ON | OFF | AUTO}\n", stdout);
    fputs("  SET REPORT        {filename | OFF}\n", stdout);
}

// PROGRESS: the meter of long commands on standard error; AUTO shows it when
// standard error is a terminal.
void setProgress(CommandLine *cmd) {
    const char *const names[] = {"AUTO", "ON", "OFF"};
    const ProgressMode modes[] = {kProgressAuto, kProgressOn, kProgressOff};
    if (scanNextWord(cmd) != 0) {
        int chosen = -1;
        for (int i = 0; i < 3; i++)
            if (compareKeyword(cmd, names[i]) == 0) chosen = i;
        if (chosen < 0)
            rejectValue("  PROGRESS can only be ON, OFF, AUTO\n");
        else setProgressMode(modes[chosen]);
    }
    printf("  Current PROGRESS is : %s\n", names[progressMode()]);
}

int findOption(const CommandLine *cmd) {
    for (int i = 0; i < kOptionCount; i++) {
        if (compareKeyword(cmd, kOptionNames[i]) == 0) return i;
    }
    return -1;
}

// The next word, if any, copied into buf.
bool nextWord(CommandLine *cmd, char *buf, int size) {
    if (scanNextWord(cmd) == 0) {
        buf[0] = '\0';
        return false;
    }
    copyCurrentWord(cmd, buf, size);
    return true;
}

long readNumber(const char *word) {
    char digits[kNumberWordMax + 1];
    snprintf(digits, sizeof digits, "%s", word);
    return strtol(digits, nullptr, 10);
}

// Keyword settings: 1 for the first keyword, 0 for the second, -1 otherwise.
int matchKeywordPair(const CommandLine *cmd, const char *first, const char *second) {
    if (compareKeyword(cmd, first) == 0) return 1;
    if (compareKeyword(cmd, second) == 0) return 0;
    return -1;
}

void printTag(const char *name, const char *value) {
    printf("  Current %s :", name);
    for (const unsigned char *p = (const unsigned char *)value; *p != '\0'; p++) {
        switch (*p) {
        case '\t': fputs("\\t", stdout); break;
        case '\n': fputs("\\n", stdout); break;
        case '\r': fputs("\\r", stdout); break;
        case '\\': fputs("\\\\", stdout); break;
        default:
            if (isprint(*p)) putchar(*p);
            else printf("\\x%02x", *p);
        }
    }
    putchar('\n');
}

void setTag(CommandLine *cmd, char *value, const char *name) {
    if (scanNextWord(cmd) != 0) {
        memset(value, 0, kTagSize);
        copyCurrentWord(cmd, value, kTagSize);
        convertOption(value, value, kTagSize - 1);
    }
    printTag(name, value);
}

void setLongTag(CommandLine *cmd, char *value) {
    memset(value, 0, kTagSize);
    if (scanNextWord(cmd) != 0) copyCurrentWord(cmd, value, kTagSize);
    printf("  Current %s : %s\n", "LONG_TAG", value);
}

bool replaceBlockBuffer(UnloadContext *ctx, uint16_t size) {
    if (size == ctx->blockSize) return true;
    uint8_t *block = (uint8_t *)calloc(1, size);
    if (block == nullptr) return false;  // keep the old size and buffer
    free(ctx->block);
    ctx->block = block;
    ctx->blockSize = size;
    emptyReadAheadWindow(ctx->dataWindow);
    return true;
}

void setBlockSize(CommandLine *cmd, UnloadContext *ctx) {
    char word[kNumberWordMax + 1];
    if (nextWord(cmd, word, sizeof word)) {
        long size = readNumber(word);
        if (size == 0) {
            printf("  %s can only be %s, %s, %s, %s, %s\n", "BLOCK_SIZE", "2048", "4096", "8192",
                   "16384", "32768");
            noteCommandFailure();
        } else if (size > 0 && size % 2048 == 0 && size <= 32768) {
            replaceBlockBuffer(ctx, (uint16_t)size);
        }
    }
    printf("  Current %s is : %u\n", "BLOCK_SIZE", ctx->blockSize);
}

void setCacheSize(CommandLine *cmd, UnloadContext *ctx) {
    char word[kNumberWordMax + 1];
    uint32_t capacity = kDefaultWindowCapacity;
    if (nextWord(cmd, word, sizeof word)) {
        unsigned long kb = (unsigned long)readNumber(word);
        if (kb <= 63) capacity = kMinCacheBytes;
        else if (kb > 8192) capacity = kMaxCacheBytes;
        else capacity = (uint32_t)kb * 1024;
    }
    ReadAheadWindow *window = ctx->dataWindow;
    emptyReadAheadWindow(window);
    uint8_t *buffer = (uint8_t *)malloc(capacity);
    if (buffer == nullptr) return;  // keep the window it had
    free(window->buffer);
    window->buffer = buffer;
    window->capacity = capacity;
}

void showByteOrder(const char *name, uint8_t value) {
    printf("  Current %s is : %s\n", name, value ? "BIG" : "LITTLE");
}

void setByteOrder(CommandLine *cmd, uint8_t *value, const char *name) {
    if (scanNextWord(cmd) != 0) {
        int v = matchKeywordPair(cmd, "BIG", "LITTLE");
        if (v >= 0) *value = (uint8_t)v;
        else if (strcmp(name, "BYTE_ORDER") == 0)
            rejectValue("  BYTE_ORDER can only be BIG, LITTLE\n");
        else
            rejectValue("  %s can only be BIG, LITTLE\n", name);
    }
    showByteOrder(name, *value);
}

void setTrueFalse(CommandLine *cmd, uint8_t *value, const char *name) {
    if (scanNextWord(cmd) != 0) {
        int v = matchKeywordPair(cmd, "TRUE", "FALSE");
        if (v >= 0) *value = (uint8_t)v;
        else
            rejectValue("  %s can only be TRUE, FALSE\n", name);
    }
    printf("  Current %s is : %s\n", name, *value ? "TRUE" : "FALSE");
}

// TXT and DMP as ever; CSV (quoted fields, unload/csv_output.h) is kept as
// its own value, which UNLOAD turns into text with quoting.
void setOutputStyle(CommandLine *cmd, UnloadContext *ctx) {
    if (scanNextWord(cmd) != 0) {
        int v = matchKeywordPair(cmd, "TXT", "DMP");
        if (v >= 0) ctx->outputStyle = (uint8_t)(v == 1 ? 0 : 1);
        else if (compareKeyword(cmd, "CSV") == 0) ctx->outputStyle = kOutputStyleCsv;
        else
            rejectValue("  OUTPUT_STYLE can only be TXT, DMP\n");
    }
    const char *shown = ctx->outputStyle == kOutputStyleCsv ? "CSV" : ctx->outputStyle ? "DMP" : "TXT";
    printf("  Current %s is : %s\n", "OUTPUT_STYLE", shown);
}

// The loader the unloaded text is made for.
void setTarget(CommandLine *cmd, UnloadContext *ctx) {
    if (scanNextWord(cmd) != 0) {
        int v = matchKeywordPair(cmd, "ORACLE", "POSTGRESQL");
        if (v >= 0) ctx->target = v == 1 ? kTargetOracle : kTargetPostgres;
        else
            rejectValue("  TARGET can only be ORACLE, POSTGRESQL\n");
    }
    printf("  Current %s is : %s\n", "TARGET", ctx->target == kTargetPostgres ? "POSTGRESQL" : "ORACLE");
}

void setBigfile(CommandLine *cmd, UnloadContext *ctx) {
    if (scanNextWord(cmd) != 0) {
        int v = matchKeywordPair(cmd, "YES", "NO");
        if (v >= 0) ctx->bigfile = (uint8_t)v;
        else
            rejectValue("  %s can only be YES, NO\n", "BIGFILE");
    }
    printf("  Current %s is : %s\n", "BIGFILE", ctx->bigfile ? "YES" : "NO");
}

// The usage list has always named HEAD_SIZE, and PROBE prints it for files
// with a leading header: it sets the header of files whose configuration
// line gives none.
void setHeadSize(CommandLine *cmd, UnloadContext *ctx) {
    char word[kNumberWordMax + 1];
    if (nextWord(cmd, word, sizeof word)) {
        long v = readNumber(word);
        if (v >= 0 && v <= 0x7FFFFFFF) ctx->defaultHeaderSize = (uint32_t)v;
    }
    printf("  Current %s is : %u\n", "HEAD_SIZE", ctx->defaultHeaderSize);
}

void setLobChoice(CommandLine *cmd, uint8_t *value, const char *name, const char *const names[3]) {
    char word[kNumberWordMax + 1];
    if (nextWord(cmd, word, sizeof word)) *value = (uint8_t)readNumber(word);
    int index = *value < 2 ? *value : 2;
    printf("  Current %s is : %d-%s\n", name, *value, names[index]);
}

const char *const kLobStorageNames[3] = {"INLINE", "FILE", "NONE"};
constexpr int kLobStorageUsageLine = 17;

// A word that is a whole decimal number, sign allowed.
bool isNumberWord(const char *word)
{
    char *end = nullptr;
    strtol(word, &end, 10);
    return end != word && *end == '\0';
}

// LOB_STORAGE takes the names its usage line shows as well as the numbers;
// any other word would have silently meant 0, INLINE.
void setLobStorage(CommandLine *cmd, UnloadContext *ctx)
{
    char word[kCommandTextSize];
    if (nextWord(cmd, word, sizeof word)) {
        int named = -1;
        for (int i = 0; i < 3; i++)
            if (strcasecmp(word, kLobStorageNames[i]) == 0)
                named = i;
        if (named >= 0)
            ctx->lobStorage = (uint8_t)named;
        else if (isNumberWord(word))
            ctx->lobStorage = (uint8_t)readNumber(word);
        else
            rejectValue(kUsageLines[kLobStorageUsageLine]);
    }
    int index = ctx->lobStorage < 2 ? ctx->lobStorage : 2;
    printf("  Current %s is : %d-%s\n", "LOB_STORAGE", ctx->lobStorage, kLobStorageNames[index]);
}

void setCharset(CommandLine *cmd, uint16_t *value, const char *name) {
    if (scanNextWord(cmd) != 0) {
        char word[kCommandTextSize];
        copyCurrentWord(cmd, word, sizeof word);
        *value = get_ora_charset_id(word);
    }
    printf("  Current %s is : 0x%04x (%u)\n", name, *value, *value);
}

// Reads an optional number word; false when there is none.
bool nextNumber(CommandLine *cmd, long *number) {
    char word[kNumberWordMax + 1];
    if (!nextWord(cmd, word, sizeof word)) return false;
    *number = readNumber(word);
    return true;
}

void setSmallFlag(CommandLine *cmd, uint8_t *value, const char *name) {
    long n;
    if (nextNumber(cmd, &n)) *value = (uint8_t)n;
    printf("  Current %s is : %d\n", name, *value);
}

void setMaxLobDir(CommandLine *cmd, UnloadContext *ctx) {
    long n;
    if (nextNumber(cmd, &n)) {
        uint16_t v = (uint16_t)n;
        if (v <= 99) v = 100;
        if (v > 2000) v = 2000;
        ctx->maxLobDirs = v;
    }
    printf("  Current MAXLOBDIR is : %d\n", ctx->maxLobDirs);
}

void setIconv(CommandLine *cmd, iconv_t *converter, const char *name) {
    char from[kIconvNameMax + 1];
    char to[kIconvNameMax + 1];
    if (nextWord(cmd, from, sizeof from) && nextWord(cmd, to, sizeof to)) {
        if (*converter != kNoConverter) iconv_close(*converter);
        *converter = iconv_open(to, from);
    }
    printf("  Current %s is : %s\n", name, *converter != kNoConverter ? "ON" : "OFF");
}

// PARALLEL n: worker processes of UNLOAD TABLE and UNLOAD OBJECT, 1 to 64;
// AUTO takes one per online core when the unload starts.
void setParallel(CommandLine *cmd, ShellState *shell) {
    char word[kNumberWordMax + 1];
    if (nextWord(cmd, word, sizeof word)) {
        if (strcasecmp(word, "AUTO") == 0) {
            shell->parallel = kParallelAuto;
        } else {
            long n = readNumber(word);
            if (n >= 1 && n <= kParallelMax) shell->parallel = (uint8_t)n;
            else
                rejectValue("  PARALLEL can only be 1 - 64, AUTO\n");
        }
    }
    if (shell->parallel == kParallelAuto)
        printf("  Current PARALLEL is : AUTO (%u)\n", parallelWorkers(shell));
    else
        printf("  Current PARALLEL is : %u\n", parallelWorkers(shell));
}

// REPORT file: one CSV record per unload appended to the file; OFF stops it.
void setReport(CommandLine *cmd, ShellState *shell)
{
    if (scanNextWord(cmd) != 0) {
        char name[kReportNameSize];
        copyCurrentWord(cmd, name, sizeof name);
        setReportFile(shell, name);
    }
    printf("  Current REPORT is : %s\n", shell->reportFile[0] != '\0' ? shell->reportFile : "OFF");
}

const char *const kLobConvertNames[3] = {"NONE", "GBK", "UTF8"};
void applyOption(ShellState *shell, int option) {
    UnloadContext *ctx = shell->ctx;
    CommandLine *cmd = shell->command;
    const char *name = kOptionNames[option];
    long n;
    switch (option) {
    case kBlockSize: setBlockSize(cmd, ctx); break;
    case kByteOrder: setByteOrder(cmd, &ctx->byteOrder, name); break;
    case kClobEdian: setByteOrder(cmd, &ctx->clobByteOrder, name); break;
    case kLobConvert: setLobChoice(cmd, &ctx->lobConvert, name, kLobConvertNames); break;
    case kLobStorage: setLobStorage(cmd, ctx); break;
    case kCharset: setCharset(cmd, &shell->charset, name); break;
    case kNlsCharset: setCharset(cmd, &shell->nlsCharset, name); break;
    case kMaxLobDir: setMaxLobDir(cmd, ctx); break;
    case kVerbose: setSmallFlag(cmd, &ctx->verbose, name); break;
    case kRowAddress: setSmallFlag(cmd, &ctx->rowAddress, name); break;
    case kBlockCheck: setSmallFlag(cmd, &ctx->blockCheck, name); break;
    case kTablespace:
        if (nextNumber(cmd, &n)) shell->tablespace = (uint16_t)n;
        printf("  Current TABLESPACE is : %u\n", shell->tablespace);
        break;
    case kMaxChains:
        if (nextNumber(cmd, &n)) ctx->maxChains = (uint32_t)n;
        printf("  Current MAXCHAINS is : %u\n", ctx->maxChains);
        break;
    case kDeletedRow: setTrueFalse(cmd, &shell->deletedRow, name); break;
    case kFixedCharset: setTrueFalse(cmd, &shell->fixedCharset, name); break;
    case kOutputStyle: setOutputStyle(cmd, ctx); break;
    case kCommitedOnly: setTrueFalse(cmd, &shell->commitedOnly, name); break;
    case kFieldTag: setTag(cmd, shell->fieldTagValue, name); break;
    case kLongTag: setLongTag(cmd, shell->longTagValue); break;
    case kRecordTag: setTag(cmd, shell->recordTagValue, name); break;
    case kCacheSize: setCacheSize(cmd, ctx); break;
    case kTransOffset:
        if (nextNumber(cmd, &n)) {
            ctx->transOffset = (uint16_t)n;
            if (ctx->transOffset >= ctx->blockSize) ctx->transOffset = 0;
        }
        printf("  Current TRANS_OFFSET is : %d\n", ctx->transOffset);
        break;
    case kTransCount:
        if (nextNumber(cmd, &n)) ctx->transCount = (uint16_t)n;
        printf("  Current TRANS_COUNT is : %d\n", ctx->transCount);
        break;
    case kBigfile: setBigfile(cmd, ctx); break;
    case kIconvNchar: setIconv(cmd, &ctx->nchar, name); break;
    case kIconvNclob: setIconv(cmd, &ctx->nclob, name); break;
    case kIconvClob: setIconv(cmd, &ctx->clob, name); break;
    case kTarget: setTarget(cmd, ctx); break;
    case kParallel: setParallel(cmd, shell); break;
    case kHeadSize: setHeadSize(cmd, ctx); break;
    case kReport: setReport(cmd, shell); break;
    }
}

}  // namespace

const char *setOptionName(int index) {
    if (index >= 0 && index < kOptionCount) return kOptionNames[index];
    if (index == kOptionCount) return "PROGRESS";
    return nullptr;
}

void runSetCommand(ShellState *shell) {
    CommandLine *cmd = shell->command;
    int option = scanNextWord(cmd) == 0 ? -1 : findOption(cmd);
    if (option < 0 && cmd->end > cmd->start && compareKeyword(cmd, "PROGRESS") == 0) {
        setProgress(cmd);
        return;
    }
    if (option < 0) {
        printUsage();
        // SET alone asks for the list; SET with a word it does not know is a mistake.
        if (cmd->end > cmd->start)
            noteCommandFailure();
        return;
    }
    applyOption(shell, option);
}
