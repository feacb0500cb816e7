// Data dictionary: reading back the dictionary files under ZORDICT (users,
// objects, segments, columns, column types) and the extent map file, the
// lookups every command makes in them, the column description of a table for
// the row decoder, the LIST USER and LIST TABLE listings, and the two
// renderings of a table's columns: the DESC listing and the CREATE TABLE
// statement.
//
// The dictionary files are plain text the operator may edit, so every line
// is read with a bounded buffer, checked for length, and copied field by
// field into fixed records; a line that does not parse is skipped and named
// on standard error with its file and line number.  Nothing
// is cached: every lookup reads its file from the start, so an edited file
// takes effect at once.  Lookups answer 1 when found and 0 otherwise (a
// missing file is "not found"); line parsers answer 0 for a usable line and
// 1 for a line to ignore.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/command_line.h"
#include "core/unload_context.h"

// The files, relative to the working directory.
constexpr const char *kUserFile = "ZORDICT/ZORUSR.TXT";
constexpr const char *kObjectFile = "ZORDICT/ZOROBJ.TXT";
constexpr const char *kSegmentFile = "ZORDICT/ZORTAB.TXT";
constexpr const char *kColumnFile = "ZORDICT/ZORCOL.TXT";
constexpr const char *kColumnTypeFile = "ZORDICT/ZORTYP.TXT";
// Written only when a column was added with its default kept in the
// dictionary: ECOL$ (TABOBJ#, COLNUM, BINARYDEFVAL locator in hex) and
// COL$'s default text (OBJ#, DEFLENGTH, DEFAULT$ in hex, INTCOL#).
constexpr const char *kEcolFile = "ZORDICT/ZORECOL.TXT";
constexpr const char *kColumnDefaultFile = "ZORDICT/ZORDEF.TXT";

// The rows of dropped tables, kept apart: DICT$ writes the deleted rows of
// OBJ$, TAB$ (with the partition tables) and COL$ that are still readable
// in the live files' layouts, and RECYCLEBIN$ when the database has one.
constexpr const char *kDeletedObjectFile = "ZORDICT/ZOROBJ_DELETED.TXT";
constexpr const char *kDeletedSegmentFile = "ZORDICT/ZORTAB_DELETED.TXT";
constexpr const char *kDeletedColumnFile = "ZORDICT/ZORCOL_DELETED.TXT";
constexpr const char *kRecycleBinFile = "ZORDICT/ZORBIN.TXT";

// Which rows the object, segment and column lookups read: the live
// dictionary, or the deleted rows (while a table dropped with PURGE is
// described or unloaded).  Users are always the live ones.  Callers that
// select the deleted rows select the live ones again before they return.
enum DictionaryRows { kLiveRows, kDeletedRows };
void selectDictionaryRows(DictionaryRows rows);
const char *objectFilePath();
const char *segmentFilePath();
const char *columnFilePath();

// Opens a dictionary file to read; a file that cannot be opened is named on
// standard error (the lookups then find nothing, as before).
FILE *openDictionaryForReading(const char *name);

// Names (owner, object, partition, column, type owner and type name) are 1
// to 128 bytes from Oracle 12.2 on, multibyte characters included; the
// hexadecimal identifiers (OID$, TOID) are 32 digits.
constexpr int kDictNameSize = 129;
constexpr int kDictLineBuffer = 1024;  // extent lines read with readDictionaryLine
constexpr int kDescLineBuffer = 8192;
constexpr int kMaxListedColumns = kMaxColumns;  // SEGCOL# 1 .. 4096

// Oracle OBJ$ TYPE# values the lookups and listings use.
constexpr uint8_t kObjIndex = 1;
constexpr uint8_t kObjTable = 2;
constexpr uint8_t kObjView = 4;
constexpr uint8_t kObjProcedure = 7;
constexpr uint8_t kObjFunction = 8;
constexpr uint8_t kObjPackage = 9;
constexpr uint8_t kObjTablePartition = 19;
constexpr uint8_t kObjIndexPartition = 20;
constexpr uint8_t kObjTableSubpartition = 34;
constexpr uint8_t kObjIndexSubpartition = 35;

// Type kinds of object-typed columns (ColumnEntry.typeKind, ColumnList).
constexpr uint32_t kTypeKindNone = 0;
constexpr uint32_t kTypeKindXMLTYPE = 1;
constexpr uint32_t kTypeKindANYDATA = 2;
constexpr uint32_t kTypeKindOther = 255;

// ZORUSR.TXT: USER#, NAME
struct UserEntry {
    uint32_t userNumber;
    char name[kDictNameSize];
};

// ZOROBJ.TXT: OBJ#, OWNER#, NAME, SUBNAME, TYPE#, OID$ (hexadecimal).
// selectedObject is the object whose segment is to be unloaded: the
// partition's OBJ# when a partition was named, otherwise the object's own.
struct ObjectEntry {
    uint32_t selectedObject;
    uint32_t objectNumber;
    uint32_t ownerNumber;
    char name[kDictNameSize];
    char subname[kDictNameSize];
    uint8_t type;
    char oid[kDictNameSize];
};

// ZORTAB.TXT: OBJ#, DATAOBJ#, TS#, FILE#, BLOCK#, TAB# (lines from TAB$,
// IND$ and the partition tables).  FILE# and BLOCK# address the segment
// header; TAB# is the table's number inside a cluster block.
struct SegmentEntry {
    uint32_t objectNumber;
    uint32_t dataObjectId;
    uint16_t tablespace;
    uint16_t headerFile;
    uint32_t headerBlock;
    uint8_t cluster;
};

// ZORCOL.TXT: OBJ#, COL#, SEGCOL#, NAME, TYPE#, LENGTH, PRECISION#, SCALE,
// NULL$, INTCOL#, PROPERTY, CHARSETID, CHARSETFORM.  The type kind, owner
// and name are filled by getORASYSCOLOIDTYPE for object-typed columns.
struct ColumnEntry {
    uint32_t objectNumber;
    uint16_t columnNumber;
    uint16_t segmentColumn;     // stored position, 1-based; 0 = no storage of its own
    char name[kDictNameSize];
    uint16_t type;
    uint16_t length;
    uint16_t precision;
    int32_t scale;
    int32_t nullable;           // NULL$: non-zero means NOT NULL
    uint16_t internalColumn;
    uint64_t property;  // may exceed 32 bits (kColumn... bits below)
    uint16_t charsetId;
    uint32_t charsetForm;       // 2 = national character set
    uint32_t typeKind;
    char typeOwner[kDictNameSize];
    char typeName[kDictNameSize];
};

// COL$.PROPERTY bits ZOR acts on.  Hidden, virtual and unused columns keep
// the treatment every column gets: a stored one is written, one without
// storage (SEGCOL# 0) is not.
constexpr uint64_t kColumnHidden = 0x20;
constexpr uint64_t kColumnVirtual = 0x10000;
constexpr uint64_t kColumnEncrypted = 0x04000000;  // TDE: the row holds ciphertext
constexpr uint64_t kColumnEncryptedNoSalt = 0x20000000;
constexpr uint64_t kColumnAddedDefault = 0x40000000;  // rows older than the ADD do not store it
constexpr uint64_t kColumnInvisible = 0x400000000ULL;

// ZORTYP.TXT: OBJ#, COL#, INTCOL#, TOID (hexadecimal), VERSION#, PACKED,
// SYNOBJ# (VERSION# and PACKED are read past, not kept).
struct ColumnTypeEntry {
    uint32_t objectNumber;
    uint32_t columnNumber;
    uint32_t internalColumn;
    char toid[kDictNameSize];
    uint32_t synonymObject;
};

// One line of an extent map file: OBJD, file, first block, block count.
struct ExtentEntry {
    uint32_t dataObjectId;
    uint16_t file;
    uint32_t firstBlock;
    uint32_t blockCount;
};

// One stored column of the table being unloaded, at position SEGCOL# - 1.
struct ColumnListEntry {
    char name[kDictNameSize];
    uint8_t type;
    uint16_t length;
    uint16_t charsetId;
    uint16_t charsetForm;
    uint32_t typeKind;
    char typeOwner[kDictNameSize];
    char typeName[kDictNameSize];
    uint16_t lobIndexFile;      // segment header of the column's LOB index, 0 when unknown
    uint32_t lobIndexBlock;
    uint64_t property;  // COL$.PROPERTY
};

// The columns of the table being unloaded, by stored position.  count is
// the highest stored position filled; a position no column line names
// stays zero (type 0: not written).
struct ColumnList {
    uint16_t count;
    // Lines of ZORCOL.TXT that could not be read and may have described a
    // column of the table (their OBJ# is the table's, or unreadable), and
    // stored positions below count that no line names: either means
    // columns are missing from the unload.
    uint32_t unreadableLines;
    uint32_t missingPositions;
    ColumnListEntry columns[kMaxColumns];
};

// A TDE-encrypted column (not a LOB) holds ciphertext: it is unloaded as
// RAW of the longest ciphertext its declared length gives (the value padded
// to whole 16-byte blocks, a 16-byte salt, a 20-byte integrity code).
bool isEncryptedColumn(uint16_t type, uint64_t property);
uint32_t encryptedColumnLength(uint16_t declaredLength);

// ZORBIN.TXT: OBJ#, OWNER#, ORIGINAL_NAME, OPERATION, TYPE#, DROPTIME,
// PARTITION_NAME of RECYCLEBIN$.
constexpr uint32_t kRecycledDrop = 0;   // OPERATION
constexpr uint32_t kRecycledTable = 1;  // TYPE#
struct RecycleBinEntry {
    uint32_t objectNumber;
    uint32_t ownerNumber;
    char originalName[kDictNameSize];
    uint32_t operation;
    uint32_t type;
    char dropTime[kDictNameSize];
    char partition[kDictNameSize];
};

// ---- Line parsers (dictionary_files.cpp) ----
// Each takes one line in a CommandLine record (text, length including the
// newline; start and end are reset here) and returns 0 when the line fills
// the entry, 1 when it is to be ignored.
int parseORASYSUSER(UserEntry *entry, CommandLine *line);
int parseORASYSOBJ(ObjectEntry *entry, CommandLine *line);
int parseORASYSTAB(SegmentEntry *entry, CommandLine *line);
int parseORASYSCOL(ColumnEntry *entry, CommandLine *line);
int parseORASYSCOLTYPE(ColumnTypeEntry *entry, CommandLine *line);
int parseORAEXTENT(ExtentEntry *entry, CommandLine *line);
int parseORARECYCLEBIN(RecycleBinEntry *entry, CommandLine *line);

// Why the last of the parsers above refused its line ("too short", "a
// quoted field is not closed", ...), for the message that names the line.
const char *dictionaryParseProblem();

// A dictionary file read record by record.  A record is one line, or
// several when a quoted field holds a line feed.  Records that cannot be
// read (longer than kCommandTextSize - 1 bytes, holding a NUL byte, leaving
// a quote open) are named on standard error and passed over: after an
// open quote the reading goes on at the next physical line, so that the
// lines the quote took in are not lost with it.  A bad line is named once
// per state of its file (size, time, inode), however many lookups read it.
struct ReportedDictionaryFile;
struct DictionaryReader {
    FILE *file;
    const char *path;     // named in messages
    uint32_t lineNumber;  // first physical line of the record last read
    uint32_t nextLine;
    long offset;          // where the next record begins
    uint32_t unreadable;  // lines named as unreadable in this pass
    ReportedDictionaryFile *reported;  // which lines of this file were named already
    // When objectFilter is not 0: the unreadable lines that begin with that
    // number, or with no number at all (they may belong to that object).
    uint32_t objectFilter;
    uint32_t unreadableOfObject;
    const CommandLine *record;  // the record last read
};
// Opens path (named on standard error when it cannot be opened, see
// openDictionaryForReading); false when it cannot.
bool openDictionaryReader(DictionaryReader *reader, const char *path);
// Reads from an open stream positioned at its start; path may be null.
void beginDictionaryReader(DictionaryReader *reader, FILE *file, const char *path);
// The next record into line (length without the terminating NUL, text
// with its newline); blank lines are passed over.  False at the end.
bool readDictionaryRecord(DictionaryReader *reader, CommandLine *line);
// Names the record last read on standard error ("<path> line N: <reason>;
// line ignored") and counts it.
void reportDictionaryLine(DictionaryReader *reader, const char *reason);
void closeDictionaryReader(DictionaryReader *reader);
// Hands every record of the dictionary file at path to visit(line, reader)
// (the reader names a line that does not parse); visit returns false to
// stop.  A missing file has no records.
template <typename Visit> void forEachDictionaryRecord(const char *path, Visit visit)
{
    DictionaryReader reader;
    beginDictionaryReader(&reader, fopen(path, "r"), path);
    CommandLine *line = static_cast<CommandLine *>(malloc(sizeof(CommandLine)));
    while (reader.file != nullptr && line != nullptr && readDictionaryRecord(&reader, line)) {
        if (!visit(line, &reader))
            break;
    }
    free(line);
    closeDictionaryReader(&reader);
}

// Reads the next line of an extent file into line (read with a buffer of
// bufferSize bytes, at most kCommandTextSize): lines starting with NUL, "\n"
// or "\r" are passed over, and so is a line too long for the buffer, whole,
// so that its tail never passes for a line of its own.  Returns false at the
// end of the file.
bool readDictionaryLine(FILE *file, CommandLine *line, int bufferSize);

// ---- Lookups (dictionary_lookup.cpp) ----
int getORASYSUSER(UserEntry *entry, const char *name);
int getORASYSUSERID(UserEntry *entry, uint32_t userNumber);
// The caller sets entry->selectedObject to 0 before the lookup.  On success
// objectNumber, ownerNumber and name describe the table (or index) and
// selectedObject is the partition's OBJ# when a partition was named.
int getORASYSOBJ(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition);
int getORASYSTableOBJ(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition);
int getORASYSIndexOBJ(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition);
int getORASYSOBJID(ObjectEntry *entry, uint32_t objectNumber);
int getORASYSOBJOID(ObjectEntry *entry, const char *oid);
// Needs a non-zero DATAOBJ#; on failure the entry is cleared.
int getORASYSTAB(SegmentEntry *entry, uint32_t objectNumber);
// 1 when ZORTAB.TXT has a line for the object, with or without a segment
// (a partitioned or index-organized table's own line has none).
int hasORASYSTABLine(uint32_t objectNumber);
int getORASYSCOLTYPE(ColumnTypeEntry *entry, uint32_t objectNumber, uint32_t columnNumber,
                     uint32_t internalColumn);
// Fills typeKind, typeOwner and typeName of an object-typed column (TYPE#
// 58, 111, 121, 122, 123) from ZORTYP.TXT, ZOROBJ.TXT and ZORUSR.TXT.
void getORASYSCOLOIDTYPE(ColumnEntry *column);
// Loads the stored columns of the table into the list and into the
// context's per-column arrays.  A LOB index address already set in the
// context (the UNLOAD argument LOB colid.fid.blockid, the context being
// cleared when UNLOAD starts) wins over the dictionary's.  Returns 1.
int getORACOLTYPE(ColumnEntry *column, const ObjectEntry *table, const char *partition,
                  UnloadContext *ctx, ColumnList *list);
// Walks the stored columns of one table in ZORCOL.TXT, in file order.  A
// column without storage of its own (SEGCOL# 0, such as the visible column
// of an XMLTYPE kept in hidden columns) is held back, and the next stored
// column takes over its NAME and type kind, owner and name.  Object types
// are resolved on the way.
struct StoredColumnWalk {
    DictionaryReader reader;  // its file is null when ZORCOL.TXT cannot be opened
    uint32_t tableObject;
    bool hasPending;
    ColumnEntry pending;
    uint32_t pastLimit;
    CommandLine line;
};
void beginStoredColumnWalk(StoredColumnWalk *walk, uint32_t tableObject);
// The next column with SEGCOL# 1 .. kMaxListedColumns; false at the end of
// the file.  A column stored past that is counted in pastLimit, not returned.
bool nextStoredColumn(StoredColumnWalk *walk, ColumnEntry *column);
void endStoredColumnWalk(StoredColumnWalk *walk);
// Name of the LOB index of a LOB column: "SYS_IL%010uC%05u$$".
void formatLobIndexName(char *buf, size_t size, uint32_t tableObject, uint32_t internalColumn);

// The OBJ# of every partition and subpartition of the table (partition_lookup.cpp),
// in dictionary order, at most capacity of them; returns how many.
int getORASYSPartitions(uint32_t ownerNumber, const char *name, uint32_t *objects, int capacity);

// ---- Defaults of added columns (column_defaults.cpp) ----
// True when a ZORCOL.TXT line carries kColumnAddedDefault.
bool hasAddedDefaultColumns();
// SEGCOL# of the table's column of that name (letter case ignored), 0 when
// there is none.
uint16_t getORASYSCOLPOSITION(uint32_t tableObject, const char *name);
// ECOL$'s BINARYDEFVAL of the column (its LOB locator) into locator; 1 when
// found and whole.
int getORASYSECOL(uint32_t tableObject, uint32_t internalColumn, uint8_t *locator, uint32_t capacity,
                  uint32_t *length);
// COL$.DEFAULT$ of the column (SQL text, cut to DEFLENGTH); 1 when found.
int getORASYSDEFAULT(uint32_t tableObject, uint32_t internalColumn, char *text, uint32_t capacity,
                     uint32_t *length);
// The stored form of a default given as a plain SQL literal: a number for
// NUMBER, a quoted string for CHAR, VARCHAR2 and VARCHAR (database
// character set), DATE '...' or TIMESTAMP '...' for DATE and TIMESTAMP.
// False for anything else (an expression, a function, another type).
bool encodeDefaultLiteral(const char *sql, uint32_t length, const ColumnEntry *column, uint8_t *out,
                          uint32_t capacity, uint32_t *outLength);
// Whether the CREATE scripts keep the column's NOT NULL: not for a column
// added NOT NULL with a default neither ECOL$ nor DEFAULT$ gives, as the
// rows from before the ADD are written with NULL there.
bool keepsNotNull(const ColumnEntry *column);

// ---- Listings (dictionary_lookup.cpp) ----
// LIST USER: every user name, three a line.
void listUserName(FILE *out);
// LIST TABLE, VIEW, ...: the objects of TYPE# type owned by userName.
// Returns 0 (after its message on standard output) when the user does not
// exist, 1 otherwise.
int listObjectName(FILE *out, ObjectEntry *entry, const char *userName, uint8_t type,
                   uint8_t outputStyle);

// A name as a command takes it: as it stands, or in double quotes (quotes
// doubled) when it holds a blank, a quote, a semicolon, or (dotSplits, for
// an owner or table name) a dot.
void printCommandName(FILE *out, const char *name, bool dotSplits);

// ---- Dropped tables (dropped_tables.cpp) ----
// Where the rows of a table come from: the live dictionary, the recycle
// bin (the table lives on under its BIN$ name), or the deleted rows of a
// table dropped with PURGE.
enum TableSource { kTableLive, kTableRecycled, kTableDropped };
struct TableVersion {
    TableSource source;
    ObjectEntry object;              // name: the name the table was created with
    char storedName[kDictNameSize];  // the name OBJ$ holds now (BIN$... in the recycle bin)
};
// The version of owner.name (and partition) whose blocks carry data object
// id objd: of the live table, the recycle bin's tables of that original
// name and the dropped ones, the one with the highest OBJ# not above objd
// (data object ids come from the counter that numbers objects, so the
// blocks were written by the version created last before them); the live
// table when none is that old.  0 when the name has no version at all.
int findTableVersion(TableVersion *version, uint32_t ownerNumber, const char *name, const char *partition,
                     uint32_t objd);
// The OBJ# of every object in the recycle bin (ZORBIN.TXT), sorted; LIST
// TABLE and UNLOAD USER leave them to LIST DROPPED.  Free with free().
struct RecycledObjects {
    uint32_t *objects;
    uint32_t count;
};
void readRecycledObjects(RecycledObjects *recycled);
bool isRecycled(const RecycledObjects *recycled, uint32_t objectNumber);
// LIST DROPPED: every dropped table of the owner (every owner when
// ownerName is empty) that can still be brought back, each with a
// ready-to-run UNLOAD line; the rest is said in REM lines, so that the
// listing runs as a script.  0 (after its message) when DICT$ has not kept
// the deleted rows or the owner does not exist.
int listDroppedTables(FILE *out, const char *ownerName, uint8_t outputStyle);

// ---- DESC and DDL (ddl.cpp) ----
// The DESC listing of the table's columns, on out.  Returns 1.
int getORASYSCOL(FILE *out, ColumnEntry *column, uint32_t tableObject);
// A buffer of this size holds the CREATE TABLE statement of the widest
// table the dictionary can describe (every column with a 128-byte name and
// 128-byte type owner and name) and a 1023-character target name, and the
// PostgreSQL script of such a table with every name renamed and noted.
constexpr size_t kCreateSyntaxSize = (size_t)kMaxColumns * 1024 + 4096;
// Writes the CREATE TABLE statement of the table into text: multi-line when
// multiLine is 1 (syntax script), one line when 0 (export dump); no final
// semicolon.  Returns 1; returns 0 with text empty when the statement does
// not fit in size bytes, so that a cut statement is never written.
int getCreateSyntax(char *text, size_t size, ColumnEntry *column, const ObjectEntry *table,
                    const char *targetName, int multiLine);
// The PostgreSQL script of a table unloaded for TARGET POSTGRESQL: CREATE
// TABLE with the mapped types, then the \copy line that loads dataFile (CSV
// with the context's field separator, in UTF-8) into the columns the rows
// carry.  Returns 0 (text empty) when it does not fit in size bytes.
int getPostgresSyntax(char *text, size_t size, ColumnEntry *column, const ObjectEntry *table,
                      const char *targetName, const char *tableArgument, const char *dataFile,
                      const UnloadContext *ctx);
