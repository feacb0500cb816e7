// Core: the session record every layer receives (the command line is in command_line.h).
//
// UnloadContext: the one record every subsystem operation receives.  It holds
// the settings in effect, the active separators, the per-column arrays of the
// table being unloaded, the block buffer and the read-ahead windows, and the
// counters of the running command.  Created once by runZOR, released at EXIT.
#pragma once

#include <cstdint>
#include <iconv.h>

struct AsmDiskGroup;
struct DatafileSet;
struct RdbaList;
struct ReadAheadWindow;
struct LobPageMap;
struct ColumnGuessState;
struct CsvOutput;
struct DmpRowState;
struct AddedColumns;

// Column positions of a table: Oracle allows 4096 columns (MAX_COLUMNS =
// EXTENDED); a row piece holds at most 255 of them, so a wider row is
// always several chained pieces.
constexpr int kMaxColumns = 4096;
constexpr int kTagSize = 128;
constexpr uint64_t kNoRowLimit = 9223372036854775808ULL;   // 2^63: no LIMIT given
constexpr uint32_t kDefaultWindowCapacity = 262144;
constexpr uint32_t kLobWindowCapacity = 262144;
constexpr uint32_t kIndexWindowCapacity = 2097152;
constexpr uint32_t kWorkBufferSize = 65536;
constexpr uint32_t kOutputBufferSize = 262144;
// Reasons a block of a segment is not read as its data block.
constexpr int kBlockReasonCount = 7;

// A growable-by-nobody buffer of fixed capacity (the 64 KB work buffer).
struct WorkBuffer {
    uint32_t capacity;
    uint32_t length;
    uint8_t *data;
};

// Offsets and lengths of the column values of the row piece being decoded.
constexpr int kMaxColumnSlots = 256;
struct ColumnSlots {
    uint16_t offset[kMaxColumnSlots];
    uint16_t length[kMaxColumnSlots];
};

struct UnloadContext {
    uint8_t bigfile;          // BIGFILE: 1 = addresses of a bigfile tablespace
    uint8_t outputStyle;      // OUTPUT_STYLE: 0 TXT, 1 DMP
    uint8_t byteOrder;        // BYTE_ORDER: 1 big-endian datafiles, 0 little-endian
    uint8_t clobByteOrder;    // CLOB_EDIAN
    uint8_t lobConvert;       // LOB_CONVERT: 0 none, 1 GBK, 2 UTF8
    uint8_t lobStorage;       // LOB_STORAGE: 0 INLINE, 1 FILE, 2 NONE
    uint8_t rowAddress;       // ROW_ADDRESS
    uint8_t indexOption;      // UNLOAD ... INDEX: label every value with its column number
    uint16_t columnCount;
    uint16_t fieldTagLength;
    uint16_t recordTagLength;
    uint16_t lobTagLength;
    char fieldTag[kTagSize];
    char recordTag[kTagSize];
    char lobTag[kTagSize];
    int32_t chunkCount;
    DatafileSet *datafiles;
    uint16_t blockSize;
    uint8_t *block;           // exactly blockSize bytes
    RdbaList *corruptList;
    RdbaList *skipList;
    ReadAheadWindow *dataWindow;
    ReadAheadWindow *lobWindow;
    ReadAheadWindow *indexWindow;
    WorkBuffer *workBuffer;
    ColumnGuessState *columnGuess;
    uint8_t guessMode;        // 2 while SAMPLE runs, 0 during UNLOAD
    uint8_t verbose;
    uint8_t blockCheck;
    uint16_t maxLobDirs;
    uint64_t rowsUnloaded;
    uint64_t rowLimit;
    uint32_t maxChains;
    AsmDiskGroup *asmGroup;
    LobPageMap *lobMap;
    uint16_t transOffset;
    uint16_t transCount;
    iconv_t nchar;            // (iconv_t)-1 when no converter is open
    iconv_t nclob;
    iconv_t clob;

    // Row-decoding state of the row piece being mapped.
    ColumnSlots slots;
    uint8_t mappedColumns;
    uint8_t rowFlag;            // flag byte of the piece just mapped (0: none)
    // Chaining addresses of that piece, 0 when absent.  The head-piece
    // address comes only from compressed pieces that are not a first piece.
    uint32_t headPieceRdba;
    uint16_t headPieceSlot;
    uint32_t nextPieceRdba;
    uint16_t nextPieceSlot;

    // Compression extension of the block being decoded, copied by
    // getCompressOrder (block/block.h) before a compressed block is mapped.
    uint8_t compressLengthCount;        // n: entries of the column-length table
    uint16_t compressLengths[256];      // cumulative end positions; bit 15 = no length
    uint8_t permutationCount;           // p: entries of the column permutation
    uint8_t permutation[256];           // stored position of output column i

    // TARGET: 0 ORACLE, 1 POSTGRESQL (the loader the unloaded text is for).
    uint8_t target;
    // Quoting state of a CSV unload (unload/csv_output.h); null otherwise.
    CsvOutput *csv;
    // Rows of the running unload ended early because a chained or migrated
    // piece could not be read, and the lines that reported them.
    uint64_t incompleteRows;
    uint32_t incompleteRowLines;
    // LOB values of the running unload written as NULL because their storage
    // cannot be read (SecureFile), and the lines that named them.
    uint64_t lobsNotRead;
    uint32_t lobsNotReadLines;
    // The context a private copy (copyBlock) was made from: what the copy
    // counts of LOBs not read goes there.  Null in the original.
    UnloadContext *origin;
    // Blocks below the high-water mark of the segment being walked that are
    // no data block of it, the lines that named them, and the count by
    // reason (BlockNotReadReason, unload/rows/rows.h).
    uint64_t blocksNotRead;
    uint32_t blocksNotReadLines;
    uint64_t blocksNotReadBy[kBlockReasonCount];
    // Data blocks of the object handed to the row writers: an unload by a
    // data object id that no block carries says so.
    uint64_t objectBlocks;
    // The export dump writer's state across the pieces of a row (LONG chain
    // flag, carry buffer); null outside a dump unload.
    DmpRowState *dmpState;
    // HEAD_SIZE: the leading header (bytes before block 0) of the files
    // whose configuration line gives none, applied at the next OPEN.
    uint32_t defaultHeaderSize;
    // 1 while the dictionary files are written: a character value holding
    // a comma, a double quote, CR or LF is quoted (RFC 4180), so that a
    // name such as "Unit Price, EUR" stays one field.
    uint8_t quoteText;
    // Columns added with a default kept in the dictionary, of the table
    // being unloaded (unload/writers/added_columns.h); null when it has
    // none.  Values left NULL because such a default is unknown.
    AddedColumns *addedColumns;
    uint64_t defaultlessValues;

    // The per-column arrays of the table being unloaded, by column position,
    // last: a private context that only reads blocks (LOB pages) is copied
    // without them (copyBlockOnly, datafile/datafile.h).
    uint8_t columnTypes[kMaxColumns];
    uint16_t lobIndexFile[kMaxColumns];
    uint32_t lobIndexBlock[kMaxColumns];
    uint16_t columnLength[kMaxColumns];
    uint16_t columnCharsetId[kMaxColumns];
    uint16_t columnCharsetForm[kMaxColumns];
    // Unknown-type (253) warnings printed per column position; the UNLOAD
    // command resets them so that each column warns at most five times.
    uint16_t unknownTypeWarnings[kMaxColumns];
};

inline const iconv_t kNoConverter = (iconv_t)-1;
