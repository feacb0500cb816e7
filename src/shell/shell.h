// The command shell: the loop that owns every long-lived object, the command
// reader and tokenizer, settings, and the front ends of every command.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/command_line.h"
#include "core/unload_context.h"

struct ColumnList;
struct SegmentEntry;

// The release, shown by the banner and by `zor --version`.
constexpr const char *kZorRelease = "0.1";

// State the command loop keeps beside the context; handlers receive it whole
// and pass pieces on as arguments.
struct ShellState {
    UnloadContext *ctx;
    uint16_t charset;          // CHARSET
    uint16_t nlsCharset;       // NLSCHARSET
    uint8_t fixedCharset;      // FIXED_CHARSET
    uint16_t tablespace;       // TABLESPACE filter of UNLOAD TABLE, 0 = any
    uint8_t deletedRow;        // DELETED_ROW
    uint8_t commitedOnly;      // COMMITED_ONLY
    char fieldTagValue[kTagSize];
    char recordTagValue[kTagSize];
    char longTagValue[kTagSize];
    CommandLine *command;
    FILE *script;              // running script, or null at the terminal
    uint8_t *outputBuffer;     // full buffering of every unload output file
    RdbaList *corruptList;
    RdbaList *skipList;
    DatafileSet *datafiles;
    ColumnList *columns;
    uint8_t parallel;          // PARALLEL: 0 or 1 serial, 2..64 workers, kParallelAuto
};

constexpr uint8_t kParallelAuto = 255;
constexpr long kParallelMax = 64;

// Worker processes an unload uses under the PARALLEL setting.
uint32_t parallelWorkers(const ShellState *shell);

// Command reader (the scanners are in command_line.h).
int getZORCommand(FILE *in, CommandLine *cmd);
int readZORCommand(FILE *script, CommandLine *cmd);
int convertOption(const char *source, char *dest, int limit);

// Line editing at a terminal (line_editor.cpp): wanted only when a person
// types at a terminal; readEditedLine gives false at the end of input.
bool lineEditingWanted(FILE *in);
bool readEditedLine(const char *prompt, char *line, int size);
// SET option names for completion, in lookup order; null past the last.
const char *setOptionName(int index);

// Progress of UNLOAD and SCAN on standard error (progress.cpp).  AUTO shows
// it when standard error is a terminal; SET PROGRESS ON or OFF forces it.
enum ProgressMode { kProgressAuto, kProgressOn, kProgressOff };
void setProgressMode(ProgressMode mode);
ProgressMode progressMode();
// totalBlocks 0 when not known; rows, when not null, is read while the command runs.
void beginProgress(const char *label, uint64_t totalBlocks, uint32_t blockSize, const uint64_t *rows);
void endProgress();
bool progressShowing();  // between beginProgress and endProgress, when the meter is wanted

// Main loop.
int runZOR(FILE *in);

// Command handlers; each is called with the command line positioned after the
// first word.
void runSetCommand(ShellState *shell);
void runOpenCommand(ShellState *shell);
void runCheckCommand(ShellState *shell);
void runOsdumpCommand(ShellState *shell);
void runOradumpCommand(ShellState *shell);
void runBcheckCommand(ShellState *shell);
void runCorruptCommand(ShellState *shell);
void runSkipCommand(ShellState *shell);
void runListCommand(ShellState *shell);
void runSampleCommand(ShellState *shell);
void runUnloadCommand(ShellState *shell);
void runDescCommand(ShellState *shell);
void runRowidCommand(ShellState *shell);
void runScanCommand(ShellState *shell);
void runAsmCommand(ShellState *shell);
void runProbeCommand(ShellState *shell);

// DICT$ and the SYS tables behind it (bootstrap.cpp).
// Each unloads the dictionary columns of one SYS bootstrap table to stream
// ("," and newline must already be the context's separators): it selects the
// table's column positions (every other type code 0), forces the TXT output
// style for the call, takes the preset data object id and table number
// (USER$ 10/1, OBJ$ 18/0, TAB$ 2/1, COL$ 2/5) when 0 is given, searches the
// segment header in file `file` (every file when 0) and walks its extent
// map, or scans every datafile when no header is found.
void printSYSUSER8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                    uint32_t objd, uint32_t table);
void printSYSOBJ8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                   uint32_t objd, uint32_t table);
void printSYSTAB8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                   uint32_t objd, uint32_t table);
void printSYSCOL8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                   uint32_t objd, uint32_t table);
// The segment of the SYS table `name` (IND$, TABPART$, COLTYPE$ ...) in the
// dictionary files rebuilt so far: 1 when its object and table record are
// found, 0 (segment cleared) otherwise.
int getSYSTableSegment(SegmentEntry *segment, const char *name);
// Unloads the dictionary columns of IND$, TABPART$, INDPART$, TABSUBPART$,
// INDSUBPART$ or COLTYPE$ from its segment: through the extent map when the
// recorded header is a segment header of its DATAOBJ#, otherwise by
// scanning; the table number is the recorded TAB#.  0 for another name.
int printSYSTable8I(FILE *stream, UnloadContext *ctx, const char *name, const SegmentEntry *segment,
                    uint8_t deleted, uint8_t committed);
// COL$ once more for the default text of every column: OBJ#, DEFLENGTH,
// DEFAULT$ (hexadecimal), INTCOL# (ZORDEF.TXT), as printSYSCOL8I finds it.
void printSYSCOLDEFAULT8I(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed, uint32_t file,
                          uint32_t objd, uint32_t table);
// ECOL$ from its segment: TABOBJ#, COLNUM and BINARYDEFVAL (its locator in
// hexadecimal), at the 0-based positions given (found by name in COL$),
// which must ascend in that order.
void printSYSECOL(FILE *stream, UnloadContext *ctx, const SegmentEntry *segment, const uint16_t positions[3],
                  uint8_t deleted, uint8_t committed);
