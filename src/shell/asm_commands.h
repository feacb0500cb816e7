// The ASM sub-shell (the commands over an ASM disk group; the reader is
// asm/): the main shell's ASM command hands the rest of its line to
// asmExecuteCommand, which runs one sub-command against the disk group
// (open, add, set, the listings, the extent-map scan, DUMP and the copies).
#pragma once

#include <cstdint>
#include <cstdio>

#include "asm/asm.h"
#include "core/command_line.h"

struct UnloadContext;

constexpr int kAsmArgPathSize = 257;   // TO, PATH and MAP: up to 256 characters

struct AsmArgs {
    char path[kAsmArgPathSize];
    char mapPath[kAsmArgPathSize];
    uint32_t file;
    uint16_t disk;
    uint32_t au;
    uint16_t block;
    uint8_t level;
    uint32_t count;
    uint64_t offset;
};

// ctx supplies the block dump of DUMP; it may be null (DUMP then prints
// nothing).
void asmExecuteCommand(FILE *out, AsmDiskGroup *group, UnloadContext *ctx, const char *command);
void parseASMArgs(CommandLine *cmd, AsmArgs *args);
// "0X" (either case) then hexadecimal, otherwise decimal.
uint64_t parseInteger(const char *text);
void setASMOptions(FILE *out, CommandLine *cmd, AsmDiskGroup *group);
void doASMHelp();

// Listings (asm_listing.cpp).
void printDiskGroup(FILE *out, AsmDiskGroup *group);
void listASMFileEntryAU(FILE *out, AsmDiskGroup *group, uint16_t disk, uint32_t au);
void listASMFileExtentMap(FILE *out, AsmDiskGroup *group, uint16_t disk, uint32_t au);
void scanASMFileExtentMap(FILE *out, AsmDiskGroup *group);
void listASMFileEntry(FILE *out, AsmDiskGroup *group, const AsmFileRecord *directory);
void listASMAliasEntry(FILE *out, AsmDiskGroup *group, const AsmFileRecord *aliasDirectory);
void listASMFileExtent(FILE *out, AsmDiskGroup *group, const AsmFileRecord *record);
void listASMFileExtent2(FILE *out, AsmDiskGroup *group, AsmFileRecord *record, uint32_t firstExtent);
void listASMExtentPolicy(FILE *out, const AsmDiskGroup *group);
void dumpASMFileBlock(FILE *out, AsmDiskGroup *group, UnloadContext *ctx, AsmFileRecord *record, uint64_t block);

// Extent map files ("file,extent,disk,au" per line).
struct AsmMapEntry {
    uint32_t extent;
    uint32_t disk;
    uint32_t au;
};
constexpr int kAsmMapWindow = 1024;
// Up to 1024 entries of the file with extent numbers in [first, last];
// returns 1 when the map holds extents of the file beyond last.
int readFileExtentMap(const char *mapPath, AsmMapEntry *entries, uint32_t *count, uint32_t file, uint32_t first,
                      uint32_t last);
uint64_t copyASMFileOutWithMap(FILE *out, const char *mapPath, AsmDiskGroup *group, uint32_t file);
