// The command shell: the loop that owns every long-lived object, the command
// reader and tokenizer, settings, and the front ends of every command.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "core/command_line.h"
#include "core/unload_context.h"

struct ColumnList;
struct SegmentEntry;

// The release, shown by the banner and by `zor --version`.
constexpr const char *kZorRelease = "0.1";

constexpr int kReportNameSize = 1024;

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
    char reportFile[kReportNameSize];  // REPORT: the CSV file of unload records; empty when OFF
};

constexpr uint8_t kParallelAuto = 255;
constexpr long kParallelMax = 64;

// Worker processes an unload uses under the PARALLEL setting.
uint32_t parallelWorkers(const ShellState *shell);

// Command reader (the scanners are in command_line.h).
int getZORCommand(FILE *in, CommandLine *cmd);
int readZORCommand(FILE *script, CommandLine *cmd);
int convertOption(const char *source, char *dest, int limit);

// Names typed in double quotes (quoted_names.cpp), for a name that holds a
// blank, a dot or lower case: "Unit Price, EUR", "" for a quote inside.
// Extends the current word of cmd over the blanks inside its quotes.
void takeQuotedWord(CommandLine *cmd);
// A name as typed, quotes taken off, into out; false when it does not fit
// in size bytes or a quote is left open.
bool unquoteName(const char *word, char *out, size_t size);
// OWNER.NAME, either part quoted or not, split at the first dot outside
// quotes into owner and name (size bytes each).
enum QualifiedNameResult { kNameSplit, kNameMalformed, kNameTooLong };
int splitQualifiedName(const char *argument, char *owner, char *name, size_t size);

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
// Blocks the running command will read besides those already counted (a
// segment whose extent map gives its size); nothing when no meter shows.
void addProgressTotal(uint64_t blocks);

// Main loop.
int runZOR(FILE *in);

// The account of one unloaded table or segment (unload_report.cpp): one CSV
// record (RFC 4180) in the SET REPORT file and in UNLOAD USER's report.
enum UnloadStatus { kUnloadComplete, kUnloadIncomplete, kUnloadNotFound, kUnloadFailed, kUnloadSkipped };
constexpr int kRecordNameSize = 256;
constexpr int kRecordFilesSize = 4096;
struct UnloadRecord {
    char started[24];       // local time, YYYY-MM-DD HH:MM:SS
    struct timespec clock;  // monotonic, for the seconds
    char command[kCommandTextSize];
    char owner[kRecordNameSize];
    char table[kRecordNameSize];
    char partition[kRecordNameSize];
    bool hasObjd;  // false: several segments (partitions) or none
    uint32_t objd;
    uint64_t rows;
    uint64_t incompleteRows;
    uint64_t blocksNotRead;
    uint64_t lobsNotRead;
    char files[kRecordFilesSize];  // the output files, separated by ";"
    uint64_t bytes;                // their sizes together
    int failuresAtStart;           // commandFailureCount() when the unload began
    UnloadStatus status;
};
// Starts the record of the command in cmd: the time, the command's words.
void beginUnloadRecord(UnloadRecord *record, const CommandLine *cmd);
// Adds a file the unload wrote, with its size.
void addRecordFile(UnloadRecord *record, const char *path);
// Sets the status from what happened since beginUnloadRecord, unless it is
// already not found or skipped: failed when a command failure was noted,
// incomplete when rows, blocks or LOBs were lost; an incomplete unload is
// counted for the exit status.
void settleUnloadRecord(UnloadRecord *record);
// Writes the header line (RFC 4180, CR LF) to a new report file.
void writeReportHeader(FILE *file);
void writeUnloadRecord(FILE *file, const UnloadRecord *record);
// Appends the record to the SET REPORT file, if one is set; a header first
// when the file is new.
void appendToReportFile(const ShellState *shell, const UnloadRecord *record);
// SET REPORT file | OFF.
void setReportFile(ShellState *shell, const char *name);

// The exit status of a script or a piped session (session_status.cpp): 0
// when every command succeeded and every unload was complete, 1 when a
// command failed (noteCommandFailure), 3 when all ran but an unload lost
// rows.
constexpr int kExitCommandFailed = 1;
constexpr int kExitUnloadIncomplete = 3;
void noteIncompleteUnload();
int sessionExitStatus();

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
// Any SYS table from its segment: the columns at the 0-based positions
// given (ascending), with the type codes given, names quoted as in the
// other dictionary files.
void printSYSColumns(FILE *stream, UnloadContext *ctx, const SegmentEntry *segment, const uint16_t *positions,
                     const uint8_t *types, uint32_t count, uint8_t deleted, uint8_t committed);

// LIST TRUNCATED (truncated_listing.cpp): every data object id of the
// extent map that no live segment owns, with its blocks, rows and sampled
// column count, and the live tables its rows may have been, best first,
// each with its UNLOAD TABLE ... OBJD line (only the best is run; the rest
// are REM lines).  0 (after its message) without an extent map or when the
// owner does not exist.
int listTruncatedObjects(FILE *out, UnloadContext *ctx, const char *ownerName, uint8_t outputStyle);
