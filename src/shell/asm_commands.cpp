// ASM: the main shell's ASM command hands the rest of its line to the ASM
// sub-shell, which runs one sub-command per call against the process's disk
// group: its keyword arguments, the ASM SET options and HELP.  The listings
// and copies it runs live in asm_listing.cpp; the disk group reader itself
// is asm/.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "shell/asm_commands.h"
#include "shell/shell.h"
#include "unload/values/value_format.h"

namespace {

constexpr int kAsmCommandMax = 8191;
constexpr int kOpenPathSize = 512;
constexpr uint32_t kMegabyte = 1048576;
constexpr uint32_t kAuSizeInMegabytesMax = 64;

enum AsmKeyword { kKeyTo, kKeyPath, kKeyMap, kKeyFile, kKeyDisk, kKeyAu, kKeyBlock, kKeyLevel, kKeyCount,
                  kKeySize, kKeyOffset, kKeyCountOfKeywords, kKeyNone = -1 };
const char *const kAsmKeywords[kKeyCountOfKeywords] = {"TO", "PATH", "MAP", "FILE", "DISK", "AU",
                                                      "BLOCK", "LEVEL", "COUNT", "SIZE", "OFFSET"};

const char *const kAsmHelp[] = {
    "  SET     -- set options (AU_SIZE, STRIP_SIZE, STRIP_WIDTH, F1B1_DISK, F1B1_AU)",
    "  OPEN    -- open data file",
    "  ADD     -- add disk with customized disk num (disk, path)",
    "  LIST    -- list opened disks information (to)",
    "  LSAU    -- list file of given AU (disk, au, count)",
    "  SCAN    -- scan file extent of given AU (disk, au, count)",
    "  FILE    -- list all file entries in ASM (file, [disk, au, block]).",
    "  ALIAS   -- list all alias entries in ASM (file, [disk, au, block]).",
    "  EXTENT  -- list or adjust variable extent (level, au, count).",
    "  FMAP    -- list file extent (file, [disk, au, block], to)",
    "  DUMP    -- dump file extent (file, [disk, au, block], offset, to)",
    "  COPY    -- copy file to os  (file, [disk, au, block], to)",
    "  SCOPY   -- copy stripped file to os  (file, [disk, au, block], to)",
};

int findAsmKeyword(const CommandLine *cmd)
{
    for (int k = 0; k < kKeyCountOfKeywords; k++) {
        if (compareKeyword(cmd, kAsmKeywords[k]) == 0)
            return k;
    }
    return kKeyNone;
}

void storeAsmArg(AsmArgs *args, int keyword, const char *value)
{
    uint64_t number = parseInteger(value);
    switch (keyword) {
    case kKeyTo:
    case kKeyPath: snprintf(args->path, sizeof args->path, "%s", value); break;
    case kKeyMap: snprintf(args->mapPath, sizeof args->mapPath, "%s", value); break;
    case kKeyFile: args->file = static_cast<uint32_t>(number); break;
    case kKeyDisk: args->disk = static_cast<uint16_t>(number); break;
    case kKeyAu: args->au = static_cast<uint32_t>(number); break;
    case kKeyBlock: args->block = static_cast<uint16_t>(number); break;
    case kKeyLevel: args->level = static_cast<uint8_t>(number); break;
    case kKeyCount:
    case kKeySize: args->count = static_cast<uint32_t>(number); break;
    case kKeyOffset: args->offset = number; break;
    default: break;
    }
}

FILE *openListing(FILE *out, const char *path)
{
    if (path[0] == '\0')
        return out;
    FILE *f = fopen64(path, "wb+");
    return f != nullptr ? f : out;
}

void closeListing(FILE *out, FILE *listing)
{
    if (listing != out)
        fclose(listing);
    else
        fflush(out);
}

void showOrSet(FILE *out, const char *name, bool given, uint64_t value, uint32_t *field)
{
    if (given)
        *field = static_cast<uint32_t>(value);
    fprintf(out, " %s = %d\n", name, static_cast<int>(*field));
}

void showOrSet16(FILE *out, const char *name, bool given, uint64_t value, uint16_t *field)
{
    if (given)
        *field = static_cast<uint16_t>(value);
    fprintf(out, " %s = %d\n", name, static_cast<int>(*field));
}

// The file-level commands: the record named by FILE, DISK, AU and BLOCK, then
// looked up through the file directory when that location does not hold it.
bool resolveFile(AsmDiskGroup *group, const AsmArgs *args, AsmFileRecord *record)
{
    clearAsmFileRecord(record);
    record->fileNumber = args->file;
    record->disk = args->disk;
    record->au = args->au != 0 ? args->au : kAsmNoAu;
    record->block = args->block;
    return getASMFileEntry(group, record, args->file) == 1;
}

void setDirectoryRecord(AsmFileRecord *record, const AsmArgs *args)
{
    if (args->file == 0 || args->au == 0)
        return;
    record->fileNumber = args->file;
    record->disk = args->disk;
    record->au = args->au;
    record->block = args->block;
}

void runAsmOpen(FILE *out, AsmDiskGroup *group, CommandLine *cmd)
{
    char path[kOpenPathSize];
    path[0] = '\0';
    if (scanNextWord(cmd) > 0)
        copyCurrentWord(cmd, path, sizeof path);
    printDate(out);
    openDiskGroup(out, group, path);
    printDate(out);
}

void runAsmListAus(FILE *out, AsmDiskGroup *group, const AsmArgs *args, bool scan)
{
    uint32_t count = args->count != 0 ? args->count : 1;
    FILE *dateStream = scan ? stdout : out;
    printDate(dateStream);
    FILE *listing = openListing(out, args->path);
    if (scan && args->au == 0) {
        scanASMFileExtentMap(listing, group);
    } else {
        // Never past the disk's last AU: a wild COUNT must not become
        // billions of failed reads.
        const AsmDisk *disk = findAsmDisk(group, args->disk);
        uint64_t end = static_cast<uint64_t>(args->au) + count;
        uint64_t diskAus = disk != nullptr ? getAsmDiskAuCount(group, disk) : 0;
        end = end < diskAus ? end : diskAus;
        for (uint64_t au = args->au; au < end; au++) {
            if (scan)
                listASMFileExtentMap(listing, group, args->disk, static_cast<uint32_t>(au));
            else
                listASMFileEntryAU(listing, group, args->disk, static_cast<uint32_t>(au));
        }
    }
    closeListing(out, listing);
    printDate(dateStream);
}

void runAsmFileCommand(FILE *out, AsmDiskGroup *group, UnloadContext *ctx, const char *name, const AsmArgs *args)
{
    AsmFileRecord *record = static_cast<AsmFileRecord *>(malloc(sizeof(AsmFileRecord)));
    if (record == nullptr)
        return;
    bool copy = strcasecmp(name, "COPY") == 0;
    bool scopy = strcasecmp(name, "SCOPY") == 0;
    printDate(scopy ? stdout : out);
    if (copy && args->mapPath[0] != '\0') {
        FILE *target = fopen64(args->path, "wb+");
        if (target != nullptr) {
            copyASMFileOutWithMap(target, args->mapPath, group, args->file);
            fclose(target);
        }
    } else if (resolveFile(group, args, record)) {
        if (copy || scopy) {
            FILE *target = fopen64(args->path, "wb+");
            if (target != nullptr) {
                setvbuf(target, nullptr, _IONBF, 0);
                if (copy)
                    copyASMFileOut(target, group, record);
                else
                    copyASMStripFileOut(target, group, record);
                fclose(target);
            }
        } else {
            FILE *listing = openListing(out, args->path);
            if (strcasecmp(name, "FMAP") == 0)
                listASMFileExtent(listing, group, record);
            else if (strcasecmp(name, "FMAP2") == 0)
                listASMFileExtent2(listing, group, record, static_cast<uint32_t>(args->offset));
            else
                dumpASMFileBlock(listing, group, ctx, record, args->offset);
            closeListing(out, listing);
        }
    }
    printDate(scopy ? stdout : out);
    free(record);
}

void runAsmDirectoryListing(FILE *out, AsmDiskGroup *group, bool alias, const AsmArgs *args)
{
    setDirectoryRecord(alias ? &group->aliasDirectory : &group->fileDirectory, args);
    printDate(out);
    FILE *listing = openListing(out, args->path);
    if (alias)
        listASMAliasEntry(listing, group, &group->aliasDirectory);
    else
        listASMFileEntry(listing, group, &group->fileDirectory);
    closeListing(out, listing);
    printDate(out);
}

bool isFileCommand(const char *name)
{
    static const char *const kFileCommands[] = {"FMAP", "FMAP2", "DUMP", "COPY", "SCOPY"};
    for (const char *c : kFileCommands) {
        if (strcasecmp(name, c) == 0)
            return true;
    }
    return false;
}

// Everything but SET and OPEN, which read their words themselves.
void runAsmSubCommand(FILE *out, AsmDiskGroup *group, UnloadContext *ctx, const char *name, CommandLine *cmd)
{
    AsmArgs args;
    parseASMArgs(cmd, &args);
    if (strcasecmp(name, "ADD") == 0) {
        printDate(out);
        if (args.path[0] != '\0')
            openDiskGroupDisk(out, group, args.disk, args.path, args.count);
        printDate(out);
    } else if (strcasecmp(name, "LIST") == 0) {
        printDate(out);
        FILE *listing = openListing(out, args.path);
        printDiskGroup(listing, group);
        closeListing(out, listing);
        printDate(out);
    } else if (strcasecmp(name, "LSAU") == 0 || strcasecmp(name, "SCAN") == 0) {
        runAsmListAus(out, group, &args, strcasecmp(name, "SCAN") == 0);
    } else if (strcasecmp(name, "FILE") == 0 || strcasecmp(name, "ALIAS") == 0) {
        runAsmDirectoryListing(out, group, strcasecmp(name, "ALIAS") == 0, &args);
    } else if (strcasecmp(name, "EXTENT") == 0) {
        printDate(out);
        if (args.level != 0 && args.au != 0 && args.count != 0)
            setAsmExtentPolicy(group, args.level, args.au, args.count);
        listASMExtentPolicy(out, group);
        printDate(out);
    } else if (isFileCommand(name)) {
        runAsmFileCommand(out, group, ctx, name, &args);
    } else if (strcasecmp(name, "HELP") == 0) {
        doASMHelp();
    } else {
        fputs("Invalid command, run ASM HELP for command list\n", out);
    }
}

}  // namespace

uint64_t parseInteger(const char *text)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return strtoull(text + 2, nullptr, 16);
    return strtoull(text, nullptr, 10);
}

void parseASMArgs(CommandLine *cmd, AsmArgs *args)
{
    memset(args, 0, sizeof *args);
    int waiting = kKeyNone;
    char value[kAsmArgPathSize];
    while (scanNextWord(cmd) > 0) {
        if (waiting == kKeyNone) {
            waiting = findAsmKeyword(cmd);
            continue;
        }
        copyCurrentWord(cmd, value, sizeof value);
        storeAsmArg(args, waiting, value);
        waiting = kKeyNone;
    }
}

void doASMHelp()
{
    for (const char *line : kAsmHelp)
        printf("%s\n", line);
}

void setASMOptions(FILE *out, CommandLine *cmd, AsmDiskGroup *group)
{
    if (scanNextWord(cmd) <= 0) {
        fputs(" Valid options ORACLE_BLOCK BLOCK_SIZE, AU_SIZE, F1B1_DISK, F1B1_AU\n", out);
        return;
    }
    char option[64];
    copyCurrentWord(cmd, option, sizeof option);
    char value[64] = "";
    bool given = scanNextWord(cmd) > 0;
    if (given)
        copyCurrentWord(cmd, value, sizeof value);
    uint64_t number = given ? parseInteger(value) : 0;
    if (strcasecmp(option, "BLOCK_SIZE") == 0) {
        showOrSet16(out, "BLOCK_SIZE", given, number, &group->blockSize);
    } else if (strcasecmp(option, "STRIP_WIDTH") == 0) {
        showOrSet16(out, "STRIP_WIDTH", given, number, &group->stripWidth);
    } else if (strcasecmp(option, "STRIP_SIZE") == 0) {
        showOrSet(out, "STRIP_SIZE", given, number * 1024, &group->stripSize);
    } else if (strcasecmp(option, "ORACLE_BLOCK") == 0) {
        showOrSet16(out, "ORACLE_BLOCK", given, number, &group->oracleBlock);
    } else if (strcasecmp(option, "AU_SIZE") == 0) {
        showOrSet(out, "AU_SIZE", given, number <= kAuSizeInMegabytesMax ? number * kMegabyte : number,
                  &group->auSize);
    } else if (strcasecmp(option, "F1B1_DISK") == 0) {
        showOrSet16(out, "F1B1_DISK", given, number, &group->f1b1Disk);
        getASMSystemFileEntry(group);
    } else if (strcasecmp(option, "F1B1_AU") == 0) {
        showOrSet(out, "F1B1_AU", given, number, &group->f1b1Au);
        getASMSystemFileEntry(group);
    } else {
        fputs(" Invalid option to set.\n", out);
    }
}

void asmExecuteCommand(FILE *out, AsmDiskGroup *group, UnloadContext *ctx, const char *command)
{
    CommandLine *cmd = static_cast<CommandLine *>(calloc(1, sizeof(CommandLine)));
    if (cmd == nullptr)
        return;
    size_t length = strnlen(command, kAsmCommandMax);
    memcpy(cmd->text, command, length);
    while (length > 0 && (cmd->text[length - 1] == ';' || cmd->text[length - 1] == ' '))
        cmd->text[--length] = '\0';
    cmd->length = static_cast<uint32_t>(length);
    char name[32] = "";
    if (scanNextWord(cmd) > 0)
        copyCurrentWord(cmd, name, sizeof name);
    if (strcasecmp(name, "SET") == 0) {
        setASMOptions(out, cmd, group);
        setDiskGroupCache(group);
    } else if (strcasecmp(name, "OPEN") == 0) {
        runAsmOpen(out, group, cmd);
    } else {
        runAsmSubCommand(out, group, ctx, name, cmd);
    }
    free(cmd);
}

void runAsmCommand(ShellState *shell)
{
    CommandLine *cmd = shell->command;
    uint32_t rest = cmd->end < cmd->length ? cmd->end : cmd->length;
    asmExecuteCommand(stdout, shell->ctx->asmGroup, shell->ctx, cmd->text + rest);
    fflush(stdout);
}
