// The fixture forge: writes Oracle-format blocks and datafiles for tests, the
// demo and the benchmarks.
//
// The forge is built only from the published block layouts and never links
// ZOR's reader, so that a misreading of a layout on one side cannot be hidden
// by the same misreading on the other.
//
// Everything is plain records and free functions.  Functions that can fail
// return false and, where they take one, write a one-line reason into an
// error buffer; nothing is thrown and nothing is printed.
#ifndef ZOR_TOOLS_FORGE_FORGE_H
#define ZOR_TOOLS_FORGE_FORGE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace forge {

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------

enum ByteOrder : uint8_t { kLittleEndian = 0, kBigEndian = 1 };

const uint32_t kMinBlockSize = 2048;
const uint32_t kMaxBlockSize = 32768;

// Block types the forge knows by name.
const uint8_t kTypeOsHeader = 0;     // block 0 of a datafile
const uint8_t kTypeData = 6;         // table data and index blocks
const uint8_t kTypeFileHeader = 11;  // block 1 of a datafile

// Block formats: 0x02 is the old (Oracle 7) layout, 0xA2 and 0xC2 the later.
const uint8_t kFormat02 = 0x02;
const uint8_t kFormatA2 = 0xA2;
const uint8_t kFormatC2 = 0xC2;

// Cache header, the first 20 bytes of every block:
//   0  u8   type
//   1  u8   format
//   4  u32  RDBA
//   8  u32  SCN base
//  12  u16  SCN wrap
//  14  u8   sequence
//  15  u8   flag (0x04: the checksum field is in use)
//  16  u16  checksum
// and the tail, the last 4 bytes: u32 = (SCN base & 0xFFFF) << 16 | type << 8 | sequence.
const uint32_t kTypeOffset = 0;
const uint32_t kFormatOffset = 1;
const uint32_t kRdbaOffset = 4;
const uint32_t kScnBaseOffset = 8;
const uint32_t kScnWrapOffset = 12;
const uint32_t kSequenceOffset = 14;
const uint32_t kFlagOffset = 15;
const uint32_t kChecksumOffset = 16;
const uint32_t kCacheHeaderSize = 20;

const uint8_t kFlagChecksumInUse = 0x04;

struct CacheHeader {
    uint8_t type;
    uint8_t format;
    uint32_t rdba;
    uint32_t scnBase;
    uint16_t scnWrap;
    uint8_t sequence;
    uint8_t flag;
    bool writeTail;  // write the 4-byte tail from SCN, type and sequence
};

// One block image.  `bytes` always holds exactly `size` bytes.
struct Block {
    uint32_t size;
    ByteOrder order;
    std::vector<uint8_t> bytes;
};

// True for the block sizes Oracle uses: 2048, 4096, 8192, 16384, 32768.
bool isValidBlockSize(uint32_t size);

// Makes `block` a zero-filled block of `size` bytes in byte order `order`.
// Returns false (and leaves the block empty) for an unsupported size.
bool initBlock(Block *block, uint32_t size, ByteOrder order);

// Defaults: format 0xA2, sequence 1, flag 0x04, tail written, the rest 0.
void initCacheHeader(CacheHeader *header, uint8_t type, uint32_t rdba);

// Writes the cache header (and the tail when asked).  Leaves the checksum
// field alone: seal the block once all its bytes are in place.
void putCacheHeader(Block *block, const CacheHeader *header);

// Bounded field writers.  Each returns false, writing nothing, when the
// field would not lie wholly inside the block.  putU16/putU32 use the
// block's byte order; the *In forms take an explicit order (chaining
// addresses inside rows are big-endian on every platform).
bool putU8(Block *block, uint32_t offset, uint8_t value);
bool putU16(Block *block, uint32_t offset, uint16_t value);
bool putU32(Block *block, uint32_t offset, uint32_t value);
bool putU16In(Block *block, uint32_t offset, uint16_t value, ByteOrder order);
bool putU32In(Block *block, uint32_t offset, uint32_t value, ByteOrder order);
bool putBytes(Block *block, uint32_t offset, const void *data, uint32_t length);
bool putFill(Block *block, uint32_t offset, uint32_t length, uint8_t value);

// Bounded readers, for tests and for the damage helpers; 0 when outside.
uint8_t peekU8(const Block *block, uint32_t offset);
uint16_t peekU16(const Block *block, uint32_t offset);
uint32_t peekU32(const Block *block, uint32_t offset);
uint16_t peekU16In(const Block *block, uint32_t offset, ByteOrder order);
uint32_t peekU32In(const Block *block, uint32_t offset, ByteOrder order);

// Raw-memory forms of the same, for callers holding plain byte arrays.
void storeU16(uint8_t *at, uint16_t value, ByteOrder order);
void storeU32(uint8_t *at, uint32_t value, ByteOrder order);
uint16_t loadU16(const uint8_t *at, ByteOrder order);
uint32_t loadU32(const uint8_t *at, ByteOrder order);

// ---------------------------------------------------------------------------
// Checksum
// ---------------------------------------------------------------------------
// XOR of every 32-bit little-endian word of the block, folded to 16 bits as
// (x ^ x >> 16) & 0xFFFF.  A consistent block folds to 0.  `length` must be a
// multiple of 4.
uint16_t foldChecksum(const uint8_t *bytes, size_t length);

// True when the block folds to 0.
bool blockVerifies(const Block *block);

// Stores the checksum that makes the block fold to 0.  The fold works on
// raw memory, so the two checksum bytes that satisfy it are the same in
// either byte order; read back in the block's order the field is what Oracle
// itself would have written on that platform.
void sealBlock(Block *block);

// Stores a checksum that is wrong by `error` (non-zero): the block then
// folds to `error` as read from memory.  For tests of bad blocks.
void sealBlockWrong(Block *block, uint16_t error);

// Same as sealBlock on a raw image of `length` bytes.
void sealBytes(uint8_t *bytes, size_t length);

// ---------------------------------------------------------------------------
// Addresses
// ---------------------------------------------------------------------------
// RDBA: relative file number in bits 22..31, block number in bits 0..21.
uint32_t makeRdba(uint32_t rfn, uint32_t blockNo);
// In a bigfile tablespace the whole 32 bits are the block number.
uint32_t makeBigfileRdba(uint32_t blockNo);

// ---------------------------------------------------------------------------
// OS header block (block 0) and file header (block 1)
// ---------------------------------------------------------------------------

enum OsBlockKind : uint8_t {
    kOsBlockPlain = 0,  // type 0, format byte; u32 block size at 20, block count at 24, 0x7A7B7C7D at 28
    kOsBlockZero = 1,   // all zeros
};

// File header, block 1, type 11:
//   20  u32  software version
//   24  u32  compatible version
//   28  u32  database id
//   32  8    database name, NUL-padded, no terminator when 8 long
//   40  u32  control sequence
//   44  u32  file size in blocks
//   48  u32  block size
//   52  u16  absolute file number
//   54  u16  file type (3: datafile)
//   96  u32  bootstrap RDBA
//  138  u16  fuzzy status; its low byte holds the flags (0x40 A, 0x10 R, 0x04 O, 0x01 H)
// Tablespace number and name, by format:
//   0x02:        244 u32 number, 248 u16 name length, 250 name text
//   0xA2, 0xC2:  332 u32 number, 336 u16 name length, 338 name text
const uint32_t kSoftwareVersionOffset = 20;
const uint32_t kCompatibleVersionOffset = 24;
const uint32_t kDbidOffset = 28;
const uint32_t kDbNameOffset = 32;
const uint32_t kDbNameLength = 8;
const uint32_t kControlSeqOffset = 40;
const uint32_t kFileBlockCountOffset = 44;
const uint32_t kFileBlockSizeOffset = 48;
const uint32_t kFileNumberOffset = 52;
const uint32_t kFileTypeOffset = 54;
const uint32_t kBootstrapRdbaOffset = 96;
const uint32_t kFuzzyStatusOffset = 138;
const uint32_t kTablespaceOffset02 = 244;
const uint32_t kTablespaceOffsetA2 = 332;
const uint32_t kMaxTablespaceName = 30;

const uint16_t kFileTypeDatafile = 3;

struct FileHeader {
    CacheHeader cache;            // type 11; RDBA of block 1 of the file
    uint32_t softwareVersion;
    uint32_t compatibleVersion;
    uint32_t dbid;
    char dbName[kDbNameLength + 1];
    uint32_t controlSeq;
    uint32_t blockCount;          // the header's own count: the file's blocks after block 0
    uint32_t blockSize;
    uint16_t fileNumber;
    uint16_t fileType;
    uint32_t bootstrapRdba;
    uint16_t fuzzy;
    uint32_t tsNumber;
    char tsName[kMaxTablespaceName + 1];
    int32_t tsNameLength;         // stored length field; -1: the length of tsName
};

// Offset of the tablespace number for a format (the name length follows at
// +4 and the text at +6); 0 for a format that has no file header layout.
uint32_t tablespaceOffset(uint8_t format);

// Defaults: format 0xA2, 19c versions, DBID 0x5A4F5201, database ZOR,
// datafile type, tablespace 0 SYSTEM, block size 8192, fuzzy 0.
void initFileHeader(FileHeader *header);

// Writes the header into `block` (already initialised with its size and
// byte order; the header's blockSize field is written as given, so a test
// can make it disagree with the real size).  Does not seal.  Returns false
// when the format has no file header layout.
bool putFileHeader(Block *block, const FileHeader *header);

// Block 0 of a datafile.  Does not seal (an OS block carries no checksum).
void putOsHeader(Block *block, OsBlockKind kind, uint8_t format, uint32_t blockCount);

// ---------------------------------------------------------------------------
// Datafiles
// ---------------------------------------------------------------------------

const size_t kMaxPath = 512;

struct DatafileLayout {
    char path[kMaxPath + 1];
    uint32_t headerSize;    // bytes before block 0 (raw devices); every block shifts by it
    uint32_t blockSize;
    ByteOrder order;
    uint32_t blockCount;    // blocks in the file, block 0 included
    bool bigfile;           // RDBA = block number; relative file number 0
    uint16_t rfn;           // in a bigfile only the header's absolute file number
    OsBlockKind osBlock;
    bool writeOsBlock;
    bool writeFileHeader;
    FileHeader header;
};

// Sets up a datafile with a consistent file header (rfn, block size and
// count, RDBA of block 1).  The caller may change any field afterwards; call
// syncFileHeader after changing rfn, bigfile, blockSize or blockCount.
void initDatafileLayout(DatafileLayout *layout, const char *path, uint16_t rfn,
                      uint32_t blockCount, uint32_t blockSize, ByteOrder order);

// Recomputes the header fields that follow from the file: RDBA of block 1,
// file number, block size and block count.
void syncFileHeader(DatafileLayout *layout);

// The RDBA a block of this file carries (bigfile aware).
uint32_t blockRdba(const DatafileLayout *layout, uint32_t blockNo);

// Byte offset of a block in the file: headerSize + blockNo * blockSize.
uint64_t blockOffset(const DatafileLayout *layout, uint32_t blockNo);

// Streaming writer: opening creates the file at its full size (zeros, sparse
// where the file system allows), writes block 0 and the file header; blocks
// are then written at their block numbers in any order.  Large benchmark
// files never sit in memory.
struct DatafileWriter {
    int fd;
    DatafileLayout layout;
};

bool openDatafileWriter(DatafileWriter *writer, const DatafileLayout *layout,
                        char *error, size_t errorLength);
// Writes the block image as is (seal it first).  The block size must match.
bool writeBlockAt(DatafileWriter *writer, uint32_t blockNo, const Block *block,
                  char *error, size_t errorLength);
bool closeDatafileWriter(DatafileWriter *writer, char *error, size_t errorLength);

// A block to place at a block number.
struct PlacedBlock {
    uint32_t blockNo;
    Block block;
};

// The whole file in one call.
bool writeDatafile(const DatafileLayout *layout, const PlacedBlock *blocks, size_t count,
                   char *error, size_t errorLength);

// ---------------------------------------------------------------------------
// Configuration file (read by OPEN): one line per datafile, the path and
// then, when not zero, the header size.
// ---------------------------------------------------------------------------

// Formats one configuration line (with its line feed).
void formatConfigLine(char *out, size_t outLength, const char *path, uint32_t headerSize);

// Writes the lines given, each already ending in a line feed.
bool writeConfigFile(const char *path, const char *const *lines, size_t count,
                     char *error, size_t errorLength);

// One line per datafile, in the order given.
bool writeConfigForFiles(const char *path, const DatafileLayout *const *files, size_t count,
                         char *error, size_t errorLength);

// ---------------------------------------------------------------------------
// Damage, for tests of bad input.  Offsets are byte offsets in the file.
// ---------------------------------------------------------------------------
bool flipFileBit(const char *path, uint64_t offset, unsigned bit, char *error, size_t errorLength);
bool flipFileByte(const char *path, uint64_t offset, char *error, size_t errorLength);  // XOR 0xFF
bool overwriteFileRange(const char *path, uint64_t offset, const void *data, size_t length,
                        char *error, size_t errorLength);
bool zeroFileRange(const char *path, uint64_t offset, size_t length, char *error, size_t errorLength);
bool truncateFile(const char *path, uint64_t size, char *error, size_t errorLength);
// Recomputes the checksum of the block of `blockSize` bytes at `offset`
// after a change, so that only the intended damage remains.
bool resealFileBlock(const char *path, uint64_t offset, uint32_t blockSize,
                     char *error, size_t errorLength);

// The same on a block in memory.
bool flipBlockBit(Block *block, uint32_t offset, unsigned bit);
bool flipBlockByte(Block *block, uint32_t offset);

// ---------------------------------------------------------------------------
// Data blocks (type 6, transaction type 1)
// ---------------------------------------------------------------------------
// Transaction header:
//   20  u8   transaction type (1 table data, 2 index)
//   24  u32  data object id
//   28  u32  cleanout SCN base
//   32  u16  cleanout SCN wrap
//   36  u16  ITL count (readers use its low byte)
//   38  u8   flag; 0x32 puts 8 more bytes after the ITL list
//   39  u8   free list slot
//   40  u32  next block on the free list
// ITL entry i, 24 bytes at 44 + 24 * i:
//   +0 u16 xid usn, +2 u16 xid slot, +4 u32 xid wrap,
//   +8 u32 uba RDBA, +12 u16 uba sequence, +14 u8 uba record,
//   +16 u16 flag (high 4 bits) and lock count (low 12 bits),
//   +18 u16 free space credit or commit SCN wrap, +20 u32 commit SCN base
// Data header at H = 44 + 24 * itc (+8 when byte 38 is 0x32):
//   H+0 u8 flag, H+1 u8 table count, H+2 u16 row directory entries,
//   H+4 u16 first free entry, H+6 u16 free space begin, H+8 u16 free space end,
//   H+10 u16 available space, H+12 u16 total free space,
//   H+14 table directory (u16 first entry, u16 row count per table),
//   then the row directory (u16 row offset relative to H; 0xFFFF free).
// Rows: flag, lock, column count, then per column a length byte (0..250,
// 0xFE + u16 length in block order, 0xFF NULL) and the value bytes.
const uint32_t kItlOffset = 44;
const uint32_t kItlSize = 24;
const uint8_t kDataFlagExtended = 0x32;

// ITL flag nibble values (high 4 bits of the field at +16).
const uint8_t kItlFlagCommitted = 0x8;  // C---
const uint8_t kItlFlagUpper = 0x2;      // --U-

// Row flag bits.
const uint8_t kRowClusterKey = 0x80;
const uint8_t kRowClusterMember = 0x40;
const uint8_t kRowHead = 0x20;
const uint8_t kRowDeleted = 0x10;
const uint8_t kRowFirst = 0x08;
const uint8_t kRowLast = 0x04;
const uint8_t kRowPrevious = 0x02;
const uint8_t kRowNext = 0x01;
const uint8_t kRowNormal = kRowHead | kRowFirst | kRowLast;  // --H-FL--

struct ItlEntry {
    uint16_t xidUsn;
    uint16_t xidSlot;
    uint32_t xidWrap;
    uint32_t ubaRdba;
    uint16_t ubaSequence;
    uint8_t ubaRecord;
    uint8_t flag;        // high nibble of +16
    uint16_t lockCount;  // low 12 bits of +16
    uint16_t fsc;        // free space credit, or commit SCN wrap
    uint32_t scnBase;
};

// One column value of a row; null columns carry no bytes.
struct ColumnValue {
    bool isNull;
    std::vector<uint8_t> bytes;
};

// The 16 bytes of bookkeeping a cluster key row carries after its column
// count: the number of member rows in this block and of committed ones
// (u16 each, block order), then the previous and next block of the key's
// chain (RDBA and slot, big-endian like every address inside a row).  A key
// held in one block points at itself both ways.
struct ClusterKeyInfo {
    uint16_t rowCount;
    uint16_t committedCount;
    uint32_t previousRdba;
    uint16_t previousSlot;
    uint32_t nextRdba;
    uint16_t nextSlot;
};
const uint32_t kClusterKeyInfoSize = 16;

struct RowPiece {
    uint8_t flag;        // kRowNormal by default
    uint8_t lock;        // 1-based ITL number, 0 when not locked
    uint16_t table;      // table number in the block (cluster blocks have more than one)
    bool hasNext;        // write a next-piece address (flag N or missing L)
    uint32_t nextRdba;   // big-endian in the row, whatever the block order
    uint16_t nextSlot;
    bool hasClusterKeySlot;
    uint8_t clusterKeySlot;
    bool hasHeadAddress; // a piece with F and without H (the body of a migrated row)
    uint32_t headRdba;   // carries the head's address, big-endian, before any next address
    uint16_t headSlot;
    bool hasClusterKeyInfo;       // a cluster key row (K, H, F, L): 16 bytes after the column count
    ClusterKeyInfo clusterKey;
    bool freeEntry;      // directory entry 0xFFFF, no row bytes
    std::vector<ColumnValue> columns;
    std::vector<uint8_t> raw;  // when not empty, written verbatim instead of header and columns
};

struct DataBlockLayout {
    CacheHeader cache;           // type 6
    uint32_t objectId;
    uint32_t cleanScnBase;
    uint16_t cleanScnWrap;
    uint8_t headerFlag;          // byte 38; 0x32 by default like current Oracle releases
    uint8_t dataFlag;            // H+0
    uint16_t tableCount;         // 0: one more than the highest table of any row
    std::vector<ItlEntry> itl;   // ITL count is itl.size() (Oracle has at least 2)
    std::vector<RowPiece> rows;   // in row-directory order within each table
    // OLTP compression extension, written at H+14 when dataFlag has 0x40
    // (see "OLTP-compressed blocks" below).
    uint16_t symbolThreshold;           // H+16
    std::vector<uint16_t> columnLengths; // n entries at H+22
    std::vector<uint8_t> permutation;    // p bytes after them
};

void initItlEntry(ItlEntry *entry);
void initRowPiece(RowPiece *row);
// Defaults: two empty ITL entries, byte 38 0x32, no rows.
void initDataBlockLayout(DataBlockLayout *layout, uint32_t rdba, uint32_t objectId);

// Appends a column to a row.
void addColumnBytes(RowPiece *row, const void *data, size_t length);
void addColumnText(RowPiece *row, const char *text);
void addColumnNull(RowPiece *row);

// Offset of the data header for an ITL count and byte 38.
uint32_t dataHeaderOffset(uint32_t itlCount, uint8_t headerFlag);

// Lays the block out: header, ITL list, data header, table and row
// directories, and rows packed from the end of the block towards the front
// in directory order, as Oracle fills a fresh block.  Does not seal.
// Fails when the rows do not fit.
bool putDataBlock(Block *block, const DataBlockLayout *layout, char *error, size_t errorLength);

// Encodes Oracle NUMBER values the way a test wants to write them: an
// integer in Oracle's base-100 form (exponent byte, digits, 0x66 terminator
// for negatives).
std::vector<uint8_t> encodeNumber(long long value);

// Length of the OLTP compression extension for n column-length entries and
// a permutation of p bytes: 8 + 2n + p, plus a pad byte when p is odd.
uint32_t compressExtensionSize(size_t columnLengthCount, size_t permutationCount);

// Bytes a row piece takes in a block (header, addresses, lengths, values).
size_t rowPieceSize(const RowPiece *row);

// ---------------------------------------------------------------------------
// Column values
// ---------------------------------------------------------------------------
// Encoders written from Oracle's storage formats.  Each returns false, and
// leaves `out` empty, for a value the format cannot hold.
//
// NUMBER: an exponent byte and up to 20 base-100 digit bytes, trailing zero
// pairs dropped.  Positive: 0xC1 + e, then pair + 1.  Negative: 0x3E - e,
// then 101 - pair, then the terminator 102 when fewer than 20 digit bytes
// leave room for it.  Zero is the single byte 0x80.  `text` is a decimal
// such as "-1234.5", "0.001" or "1.5e-30"; more than 40 significant digits
// (20 digit bytes) or an exponent outside Oracle's range is refused, never
// rounded.
bool encodeNumberText(const char *text, std::vector<uint8_t> *out);

// The text ZOR prints for that NUMBER: no exponent, no '+', no leading or
// trailing zeros, "0." before a fraction below one ("-0.05", "100", "12.3").
bool numberDisplayText(const char *text, std::string *out);

// A calendar time.  DATE uses the first six fields; TIMESTAMP also the
// nanoseconds; TIMESTAMP WITH TIME ZONE also the offset from UTC.
struct DateTime {
    int year;            // 1..9999
    int month, day;      // 1..12, 1..31
    int hour, minute, second;
    uint32_t nanosecond; // 0..999999999
    int tzHour;          // -12..14
    int tzMinute;        // -59..59, same sign as tzHour
};

void initDateTime(DateTime *t, int year, int month, int day, int hour, int minute, int second);

// Parses "YYYY-MM-DD", "YYYY-MM-DD HH:MI:SS" (a 'T' may replace the blank),
// with an optional fraction ".FFFFFFFFF" and an optional offset "+HH:MI" /
// "-HH:MI" / "Z".  Returns false for anything else or an impossible date.
bool parseDateTime(const char *text, DateTime *out);

// DATE, 7 bytes: century + 100, year of century + 100, month, day,
// hour + 1, minute + 1, second + 1.
bool encodeDate(const DateTime *t, std::vector<uint8_t> *out);
// TIMESTAMP: the 7 DATE bytes, then with `withFraction` the nanoseconds as a
// big-endian u32 (11 bytes).  Oracle drops a zero fraction (7 bytes).
bool encodeTimestamp(const DateTime *t, bool withFraction, std::vector<uint8_t> *out);
// TIMESTAMP WITH TIME ZONE, 13 bytes: the time converted to UTC as an
// 11-byte TIMESTAMP, then the offset as hour + 20 and minute + 60.
bool encodeTimestampTz(const DateTime *t, std::vector<uint8_t> *out);

// BINARY_FLOAT (4 bytes) and BINARY_DOUBLE (8 bytes), big-endian: a
// positive number with its sign bit inverted, a negative one with every bit
// inverted, so that the bytes sort as the numbers do.
std::vector<uint8_t> encodeBinaryFloat(float value);
std::vector<uint8_t> encodeBinaryDouble(double value);

// Column types (Oracle's type codes) the typed encoders and the manifest know.
enum ColumnType : uint8_t {
    kColumnVarchar2 = 1,
    kColumnNumber = 2,
    kColumnLong = 8,        // text, printed as stored
    kColumnDate = 12,
    kColumnRaw = 23,
    kColumnChar = 96,
    kColumnBinaryFloat = 100,
    kColumnBinaryDouble = 101,
    kColumnTimestamp = 180,
    kColumnTimestampTz = 181,
    // NVARCHAR2: text in the national character set AL16UTF16 (UTF-16,
    // big-endian), printed as stored.  The dictionary stores it as TYPE# 1
    // with CHARSETFORM 2; 254 is ZOR's own code for national text.
    kColumnNvarchar2 = 254,
    // LOBs: the row holds a locator; the value is laid into a LOB segment
    // (layLobColumn).  CLOB and NCLOB text is stored as UTF-16 big-endian
    // (AL16UTF16), a BLOB as given.  The dictionary stores NCLOB as TYPE#
    // 112 with CHARSETFORM 2; 255 is ZOR's own code for it.
    kColumnClob = 112,
    kColumnBlob = 113,
    kColumnNclob = 255,
};

// Columns a table may have (Oracle's MAX_COLUMNS = EXTENDED); rows of more
// than 255 are stored as several chained pieces.
const size_t kMaxTableColumns = 4096;

struct ColumnDef {
    std::string name;
    ColumnType type;
    uint32_t length;   // CHAR: the blank-padded width; VARCHAR2, NVARCHAR2, RAW:
                       // the declared width (characters for NVARCHAR2), 0 = none
    // What the dictionary (COL$) says beyond the type; the value encoders
    // ignore these.
    uint32_t precision = 0;  // NUMBER(p): p; FLOAT: 126; 0: none (PRECISION# NULL)
    int32_t scale = -1;      // NUMBER(p,s): s; TIMESTAMP(s): s; -1: none (SCALE NULL)
    bool notNull = false;
    // COL$.PROPERTY, DEFAULT$ and ECOL$ of columns of Oracle 11g and later.
    bool invisible = false;        // 0x400000020 (invisible, hidden), COL# 0
    bool encrypted = false;        // 0x04000000 (TDE): values are ciphertext, given as hex digits
    bool noSalt = false;           // 0x20000000 as well
    bool guard = false;            // hidden RAW bit vector of a nullable added column, COL# 0
    bool added = false;            // 0x40000000: added with its default kept in the dictionary
    std::string defaultLiteral{};  // the default, a literal of the column's type
    std::string defaultSql{};      // DEFAULT$; empty: written from the literal
    bool defaultInEcol = true;     // ECOL$ holds the default's stored bytes
};

// The DEFAULT$ text of an added column: its defaultSql, or a plain SQL
// literal of its default (a number, a quoted string, DATE '...' or
// TIMESTAMP '...'; RAW as HEXTORAW('...')).
std::string defaultSqlText(const ColumnDef *column);

// Oracle's name of a type ("NUMBER", "VARCHAR2", "TIMESTAMP WITH TIME ZONE")
// and back (also accepting the short words of the description language:
// number, varchar2, char, date, timestamp, timestamptz, binary_float,
// binary_double, raw, nvarchar2, long).
const char *columnTypeName(ColumnType type);
bool parseColumnType(const char *word, ColumnType *out);

// A stored value: its bytes as the block holds them and the text ZOR prints
// for it (empty for NULL).
struct FieldValue {
    bool isNull;
    std::vector<uint8_t> bytes;
    std::string text;
    uint8_t lobForm = 0;   // a LOB value's locator form (kLobForm* bits)
};

void setNullField(FieldValue *value);
// From a literal: NUMBER a decimal; DATE/TIMESTAMP(TZ) as parseDateTime;
// BINARY_FLOAT/DOUBLE a C floating literal (inf, -inf, nan allowed); CHAR,
// VARCHAR2 and LONG the bytes of the text (CHAR blank-padded to its length);
// NVARCHAR2 the UTF-8 text re-encoded as UTF-16 big-endian; RAW hexadecimal
// digits.  TIMESTAMP takes 11 bytes when the literal has a
// fraction, else 7.
bool makeFieldValue(const ColumnDef *column, const char *literal, FieldValue *out,
                    char *error, size_t errorLength);
// From stored bytes, with the text ZOR prints for them.
bool makeFieldFromBytes(const ColumnDef *column, const std::vector<uint8_t> &bytes,
                        FieldValue *out, char *error, size_t errorLength);

// The value Oracle gives each column of a row whose stored columns are
// `values` (trailing NULLs are not stored): an added column the row ends
// before has its default; a nullable one follows its guard column (the
// nearest guard before it): the default where the guard's bit 0 is NULL or
// 0 and the stored value is NULL, the stored value where it is 1.
bool applyAddedDefaults(const std::vector<ColumnDef> &columns, std::vector<FieldValue> *values, char *error,
                        size_t errorLength);

// The text ZOR prints for stored bytes of a type (DATE "YYYY-MM-DD HH:MI:SS",
// TIMESTAMP with ".%06d" microseconds, floats with "%f", CHAR without
// trailing blanks, RAW in upper-case hex).  NUMBER bytes are decoded
// independently of ZOR's reader.
std::string displayText(ColumnType type, const std::vector<uint8_t> &bytes);

// ---------------------------------------------------------------------------
// Chained, migrated and cluster rows
// ---------------------------------------------------------------------------
// Where a row is cut into pieces: before column `column` (offset 0), or
// inside it after `offset` bytes (the piece before ends with flag N, the
// piece after starts with flag P and the rest of the value).
struct RowCut {
    uint16_t column;
    uint32_t offset;
};

// Splits a row's columns at the cuts (in increasing order) into pieces:
// the first has H and F, the last L, a split column N and P.  Trailing NULL
// columns are dropped first.  Addresses are left for linkRowPieces.
bool splitRow(const std::vector<ColumnValue> &columns, const std::vector<RowCut> &cuts,
              uint8_t lock, std::vector<RowPiece> *pieces, char *error, size_t errorLength);

// Gives every piece but the last the address (RDBA, slot) of the next one.
void linkRowPieces(std::vector<RowPiece> *pieces, const uint32_t *rdbas, const uint16_t *slots);

// A migrated row: the head (flag H, no columns, the body's address) stays
// where the row was inserted; the body (F and L, no H) carries the head's
// address and every column.
void makeMigratedRow(const std::vector<ColumnValue> &columns, uint8_t lock, uint32_t headRdba,
                     uint16_t headSlot, uint32_t bodyRdba, uint16_t bodySlot, RowPiece *head,
                     RowPiece *body);

// A cluster key row of table 0 (K, H, F, L) holding a key for `rowCount`
// member rows, its key chain pointing at itself (rdba, slot).
void makeClusterKeyRow(const std::vector<ColumnValue> &keyColumns, uint16_t rowCount,
                       uint32_t rdba, uint16_t slot, RowPiece *row);
// A member row (C, H, F, L) of `table` whose key row is slot `keySlot` of table 0.
void makeClusterMemberRow(const std::vector<ColumnValue> &columns, uint16_t table,
                          uint8_t keySlot, RowPiece *row);

// ---------------------------------------------------------------------------
// OLTP-compressed blocks
// ---------------------------------------------------------------------------
// Data header flag 0x40.  The extension at H+14:
//   H+14 u16 (0), H+16 u16 symbol-entry threshold, H+18 u8 (0),
//   H+19 u8 n, H+20 u8 p, H+21 u8 (0),
//   H+22 n x u16 column-length table (cumulative column ends; bit 15: no length),
//   then p permutation bytes (output column i is stored column perm[i]),
//   and a pad byte when p is odd.
// Table 0 holds the symbol table, table 1 the rows.  A symbol entry below the
// threshold is flag, lock, column count g, codes; from the threshold on it is
// flag, lock and the codes of one column.  A row is flag, lock, code count,
// a zero byte when the column-length table is not empty, the head address
// without F, the next address without L, then the codes:
//   0..200   symbol-table entry k (all its columns)
//   201..249 with the column counter below n - 1 in a row: k - 200 columns of
//            the lengths in the column-length table; otherwise a value of
//            k - 200 bytes
//   250      u16 big-endian length, then the value
//   251      u16 big-endian symbol-table slot
//   252..255 NULL
const uint8_t kDataFlagCompressed = 0x40;

enum CompressedCodeKind : uint8_t {
    kCodeSymbol = 0,    // one byte k <= 200, or 251 and two bytes for a wider slot
    kCodeSymbolWide,    // 251 and two bytes, whatever the slot
    kCodeFixedGroup,    // 200 + g, then g values of the column-length table's lengths
    kCodeInline,        // 200 + length (1..49), then the value
    kCodeLong,          // 250, u16 length, the value
    kCodeNull,          // nullCode (252..255)
};

struct CompressedCode {
    CompressedCodeKind kind;
    uint16_t slot;                           // symbol references
    std::vector<std::vector<uint8_t>> values; // one for inline/long, g for a group
    uint8_t nullCode;                        // 252 by default
};

struct SymbolEntry {
    std::vector<CompressedCode> codes;
};

struct CompressedRow {
    uint8_t flag;        // kRowNormal by default
    uint8_t lock;
    bool hasHeadAddress; // written when F is not set
    uint32_t headRdba;
    uint16_t headSlot;
    bool hasNext;        // written when L is not set
    uint32_t nextRdba;
    uint16_t nextSlot;
    bool freeEntry;
    std::vector<CompressedCode> codes;
};

struct CompressedBlockLayout {
    DataBlockLayout base;                 // cache header, ITL list, objd (rows ignored)
    uint16_t symbolThreshold;             // entries below it carry a column count
    std::vector<uint16_t> columnLengths;  // cumulative ends; entry 0 is 0
    std::vector<uint8_t> permutation;
    std::vector<SymbolEntry> symbols;     // table 0, slot = index
    std::vector<CompressedRow> rows;      // table 1
};

void initCompressedCode(CompressedCode *code, CompressedCodeKind kind);
CompressedCode symbolCode(uint16_t slot);
CompressedCode valueCode(const std::vector<uint8_t> &bytes);  // inline up to 49 bytes, else long
CompressedCode nullCode();
void initCompressedRow(CompressedRow *row);
// Defaults: threshold = number of symbols, no column-length table, no permutation.
void initCompressedBlockLayout(CompressedBlockLayout *layout, uint32_t rdba, uint32_t objectId);

// The column-length table for fixed columns of the given lengths: n + 1
// cumulative entries starting at 0.
std::vector<uint16_t> columnLengthTable(const std::vector<uint16_t> &lengths);

// The columns a row stands for, in stored order (symbol references
// expanded, nested ones included), and in output order after the
// permutation.  False when a reference or a group is inconsistent.
bool expandCompressedRow(const CompressedBlockLayout *layout, const CompressedRow *row,
                         std::vector<ColumnValue> *stored, char *error, size_t errorLength);
void permuteColumns(const std::vector<uint8_t> &permutation, const std::vector<ColumnValue> &stored,
                    std::vector<ColumnValue> *output);

// Encodes the symbol table and rows into `out` (a plain data block layout
// with the compression extension and raw rows) after checking every code.
bool compressedToDataLayout(const CompressedBlockLayout *layout, DataBlockLayout *out,
                            char *error, size_t errorLength);
bool putCompressedBlock(Block *block, const CompressedBlockLayout *layout, char *error,
                        size_t errorLength);

// ---------------------------------------------------------------------------
// Segment headers and extent maps
// ---------------------------------------------------------------------------
// Free-list managed segment header (type 16), all fields u32:
//   36 extents, 40 blocks, 48 HWM extent, 52 HWM blocks, 56 HWM extent size,
//   60 HWM RDBA, 64 last extent map RDBA, 72 free-list blocks, 76 used blocks,
//   92 map entries here, 96 next map RDBA, 100 data object id, 104 map flag,
//   108 entries (RDBA, block count).
// Automatic (ASSM) segment header (type 35): 36..76 as above; 264 map
//   entries, 268 next map RDBA, 272 data object id, 280 entries.
// Extent map blocks: type 18: 20 entries, 24 next map, 28 data object id,
//   36 entries; type 36: 20 entries, 24 next map, 36 entries.
const uint8_t kTypeSegmentHeader = 16;
const uint8_t kTypeExtentMap = 18;
const uint8_t kTypeFirstLevelBitmap = 32;
const uint8_t kTypeSecondLevelBitmap = 33;
const uint8_t kTypeAssmSegmentHeader = 35;
const uint8_t kTypeAssmExtentMap = 36;

struct SegmentExtent {
    uint32_t rdba;     // first block
    uint32_t blocks;
};

struct SegmentHeaderLayout {
    CacheHeader cache;          // type 16 or 35
    uint32_t objectId;
    uint32_t extentCount;       // of the whole segment
    uint32_t blockCount;
    uint32_t hwmExtent, hwmBlocks, hwmExtentSize, hwmRdba;
    uint32_t lastMapRdba;       // 64
    uint32_t freeListBlocks, usedBlocks;
    uint32_t mapFlag;
    uint32_t nextMapRdba;
    std::vector<SegmentExtent> extents;  // the entries this block holds
};

struct ExtentMapLayout {
    CacheHeader cache;          // type 18 or 36
    uint32_t objectId;          // written for type 18 only
    uint32_t nextMapRdba;
    std::vector<SegmentExtent> extents;
};

// Offset of the first extent entry and the most entries a block holds.
uint32_t extentListOffset(uint8_t type);
uint32_t extentMapCapacity(uint8_t type, uint32_t blockSize);

void initSegmentHeaderLayout(SegmentHeaderLayout *layout, uint8_t type, uint32_t rdba,
                             uint32_t objectId);
void initExtentMapLayout(ExtentMapLayout *layout, uint8_t type, uint32_t rdba, uint32_t objectId);
bool putSegmentHeader(Block *block, const SegmentHeaderLayout *layout, char *error,
                      size_t errorLength);
bool putExtentMapBlock(Block *block, const ExtentMapLayout *layout, char *error,
                       size_t errorLength);

// ---------------------------------------------------------------------------
// Manifest: what the forge stored, for comparison with what ZOR unloads
// ---------------------------------------------------------------------------
struct ManifestRow {
    uint32_t rdba;        // the head piece: block, table in the block, slot
    uint16_t table;
    uint16_t slot;
    bool deleted;
    uint8_t lock;
    std::vector<FieldValue> values;  // every column, trailing NULLs included
    // Every block holding a piece of a chained or migrated row, head first,
    // so that a damage test knows which blocks the row needs; empty for a
    // row of one piece (its block is `rdba`).  Not part of the text form.
    std::vector<uint32_t> pieceRdbas;
};

// A dropped object: renamed into the recycle bin (OBJ$.NAME BIN$...,
// OBJ$.FLAGS 0x80, a RECYCLEBIN$ row; the rest stays) or purged (its
// dictionary rows are deleted rows, in the blocks and slots they had).
enum SchemaDrop : uint8_t { kSchemaLive = 0, kSchemaRecycleBin = 1, kSchemaPurged = 2 };

struct ManifestTable {
    std::string name;
    std::string owner;       // empty unless the table was declared OWNER.NAME
    std::string partition;   // the partition whose segment holds these rows, or empty
    uint32_t objectId;
    uint16_t clusterTable;   // table number inside the blocks (cluster member tables > 0)
    std::vector<ColumnDef> columns;
    std::vector<ManifestRow> rows;
    // Rows the live dictionary no longer leads to: those of a dropped table
    // (under its original name), and those left under an old data object id
    // of a truncated table.
    SchemaDrop drop = kSchemaLive;
    bool truncated = false;
};

struct Manifest {
    std::vector<ManifestTable> tables;
};

// The record ZOR writes for a row with the given tags: the texts of the
// stored columns (trailing NULLs are not stored) joined by the field tag,
// then the record tag.
std::string manifestRecord(const ManifestRow *row, const char *fieldTag, const char *recordTag);

// The manifest as text, one table after another:
//   table NAME objd N cluster T columns C rows R [owner OWNER] [partition P]
//         [dropped recyclebin|purge] [truncated old]
//   column NAME TYPE [LENGTH]
//   row FILE.BLOCK.SLOT-style address "RDBA.TABLE.SLOT" [deleted] [lock N]
//   bytes HEX|HEX|null|...
//   text TEXT<TAB>TEXT...   (\t, \n, \\ and bytes below 0x20 escaped)
std::string formatManifest(const Manifest *manifest);
bool writeManifestFile(const char *path, const Manifest *manifest, char *error,
                       size_t errorLength);

// ---------------------------------------------------------------------------
// Tables laid over a segment
// ---------------------------------------------------------------------------
struct TableRow {
    std::vector<FieldValue> values;  // every column
    uint8_t lock;
    bool deleted;
    bool migrated;               // head where the row was inserted, body in a later block
    std::vector<RowCut> cuts;    // chain the row at these cuts even when it fits
};

// One extent: `blocks` blocks from `firstBlock` of files[file].
struct ExtentPlace {
    size_t file;
    uint32_t firstBlock;
    uint32_t blocks;
};

struct SegmentLayout {
    uint8_t headerType;          // 16 (free lists) or 35 (ASSM)
    uint32_t objectId;
    std::vector<ExtentPlace> extents;
    uint32_t headerMapEntries;   // 0: as many as fit; fewer force extent map blocks
    uint32_t mapBlockEntries;    // 0: as many as fit
    uint32_t itlCount;           // 2 by default
    uint8_t headerFlag;          // byte 38 of data blocks, 0x32 by default
    uint32_t scnBase;
    uint32_t rowsPerBlock;       // 0: as many as fit
    std::vector<ItlEntry> itl;   // when not empty, the ITL list of every data block
};

struct SegmentBlock {
    size_t file;
    uint32_t blockNo;
    Block block;                 // sealed
};

void initSegmentLayout(SegmentLayout *layout, uint8_t headerType, uint32_t objectId);
void initTableRow(TableRow *row);

// Lays the rows of one table over a segment: the segment header (type 16:
// first block of extent 0; type 35: third block, after two bitmap blocks),
// an extent map block (type 18 or 36) at the start of the first extent the
// previous map could not list, and data blocks filled in order.  A row too
// long for one block is chained over the following blocks; a migrated row's
// body goes to the next block.  Appends the rows, with their addresses, to
// `manifest` (whose name and columns the caller sets).  Fails when the
// extents are too small.
bool laySegment(const DatafileLayout *const *files, size_t fileCount, const SegmentLayout *layout,
                const std::vector<TableRow> &rows, std::vector<SegmentBlock> *blocks,
                ManifestTable *manifest, char *error, size_t errorLength);

// Lays the rows of an index-organized table over a segment: the segment
// header as laySegment puts it, and in the block after it one leaf of the
// primary-key index whose entries hold the first `keyColumns` values as the
// key and the others as the data part (a deleted row is a deleted entry).
// The manifest rows are addressed by the leaf's RDBA, table 0 and the entry
// number.  Fails when the rows do not fit one leaf.
bool layIndexOrganizedSegment(const DatafileLayout *const *files, size_t fileCount, const SegmentLayout *layout,
                              uint8_t keyColumns, const std::vector<TableRow> &rows,
                              std::vector<SegmentBlock> *blocks, ManifestTable *manifest, char *error,
                              size_t errorLength);

// Where laySegment puts the segment header: the file (index into the files)
// and block number.  False for a segment without extents.
bool segmentHeaderPlace(const SegmentLayout *layout, size_t *file, uint32_t *blockNo);

// ---------------------------------------------------------------------------
// Clusters laid over a segment
// ---------------------------------------------------------------------------
// A cluster block holds the key rows in table 0 (K, with the 16 bytes of
// key bookkeeping) and the rows of the member tables 1, 2, ... (C, with the
// slot of their key row); a member row stores only the columns that are not
// the key.  Every block of the cluster carries the whole table directory.
struct ClusterMember {
    uint16_t table;                  // 1..tableCount-1
    std::vector<FieldValue> values;  // the columns after the key
    // A deleted row keeps its bytes with the D flag; an overwritten one
    // keeps only its space, zeroed as a later insert would leave it, and
    // enters no manifest.
    bool deleted = false;
    bool overwritten = false;
};

struct ClusterKey {
    std::vector<FieldValue> key;           // the cluster key columns
    std::vector<ClusterMember> members;    // in the order they are stored
    bool deleted = false;                  // the key row (and its copies) carry the D flag
};

void initClusterKey(ClusterKey *key);

// Lays the keys over a segment as laySegment lays rows: a key and its
// members go into the current block when they fit, else into the next one;
// a key with more members than a block holds continues in the next block
// under a copy of its key row, the copies chained to each other.  Member
// rows enter (*tables)[table] (when `tables` is not null and long enough)
// with the key's values first, as ZOR prints them.
bool layCluster(const DatafileLayout *const *files, size_t fileCount, const SegmentLayout *layout,
                uint16_t tableCount, const std::vector<ClusterKey> &keys, std::vector<SegmentBlock> *blocks,
                std::vector<ManifestTable> *tables, char *error, size_t errorLength);

// ---------------------------------------------------------------------------
// The data dictionary
// ---------------------------------------------------------------------------
// A schema (users, tables with typed columns, partitions, indexes) and the
// SYS tables that describe it, laid out as Oracle lays out its bootstrap:
//
//   C_OBJ#  cluster, OBJ# and data object 2, key OBJ#: TAB$ (OBJ# 4) as
//           table 1, IND$ (19, keyed by its BO#) as table 3, COL$ (21) as
//           table 5, COLTYPE$ (83) as table 7
//   C_USER# cluster, OBJ# and data object 10, key USER#: USER$ (22) as table 1
//   OBJ$ (18), TABPART$ (576), INDPART$ (581), TABSUBPART$ (591),
//   INDSUBPART$ (596): heap tables with data object id = OBJ#
//   ECOL$ (548) and RECYCLEBIN$ (497), last and only when the schema uses
//   them (added columns; dropped tables or Schema::withRecycleBin)
//
// Each has a free-list segment header (type 16) in the SYSTEM file.  A
// cluster member row stores every column but its key, so a reader sees the
// key first: USER$ is USER#, NAME, ...; IND$ is BO#, OBJ#, DATAOBJ#, TS#,
// FILE#, BLOCK#, ...  COL$.SEGCOL# counts columns in that order and COL# in
// declared order.  The SYS tables have OBJ$, TAB$ and COL$ rows of their own.
// SYS (USER# 0) and the role PUBLIC (1) are always there.
//
// Column storage in COL$ (TYPE#, LENGTH, CHARSETID, CHARSETFORM):
//   VARCHAR2(n) 1, n, 873, 1     NVARCHAR2(n) 1, 2n, 2000, 2
//   CHAR(n) 96, n, 873, 1        LONG 8, 0, 873, 1
//   NUMBER 2, 22 (PRECISION# and SCALE as declared, else NULL)
//   DATE 12, 7   TIMESTAMP(s) 180, 11   TIMESTAMP(s) WITH TIME ZONE 181, 13
//   BINARY_FLOAT 100, 4   BINARY_DOUBLE 101, 8   RAW(n) 23, n
// NULL$ is 1 for NOT NULL columns, else 0.
struct SchemaUser {
    std::string name;
    uint32_t id;           // USER#
    uint32_t tablespace;   // DATATS#
    bool role;             // TYPE# 0 (a role, like PUBLIC) instead of 1
};

// Where a segment's header is, as TAB$ records it.
struct SchemaSegment {
    bool present;          // false: FILE# and BLOCK# 0 (no segment yet)
    uint32_t tablespace;   // TS#
    uint32_t rfn;          // FILE#: relative file number of the header
    uint32_t block;        // BLOCK#
};

struct SchemaPartition {
    std::string name;          // OBJ$.SUBNAME
    uint32_t objectNumber;     // OBJ$ TYPE# 19
    uint32_t dataObjectId;
    std::string highBound;     // TABPART$.HIBOUNDVAL
    SchemaSegment segment;
    uint32_t rowCount;
};

struct SchemaTable {
    std::string owner, name;
    uint32_t objectNumber;
    uint32_t dataObjectId;     // not recorded for a partitioned table
    std::vector<ColumnDef> columns;
    SchemaSegment segment;     // of an unpartitioned table
    std::vector<SchemaPartition> partitions;  // range partitions, in order
    uint32_t rowCount;         // TAB$.ROWCNT
    // Index-organized: the rows live in the segment of its primary-key index;
    // TAB$ and OBJ$ record no data object id and no segment.
    bool indexOrganized = false;
    SchemaDrop drop = kSchemaLive;
    std::string binName{};            // the name in the recycle bin
    uint32_t overwrittenColumns = 0;  // purged: its last N COL$ rows overwritten
};

struct SchemaIndex {
    std::string owner, name, table;  // the table has the same owner
    uint32_t objectNumber, dataObjectId;
    uint32_t columnCount;
    bool unique;
    SchemaSegment segment;
    bool indexOrganized = false;   // the top index of an index-organized table (IND$.TYPE# 4)
    uint32_t tableObjectNumber = 0;  // the table's OBJ#, when a dropped table shares its name
    SchemaDrop drop = kSchemaLive;   // follows its table
    std::string binName{};
};

// A row of SYS.RECYCLEBIN$ (OPERATION 0 is DROP; TYPE# 1 a table, 2 an index).
struct SchemaRecycleBinRow {
    uint32_t objectNumber;
    std::string owner;  // a user name, resolved to OWNER# and BASE_OWNER#
    std::string originalName;
    uint32_t operation;
    uint32_t type;
    SchemaSegment segment;  // TS#, FILE#, BLOCK#
    std::string dropTime;   // "YYYY-MM-DD HH:MI:SS"
    uint64_t dropScn;
    std::string partitionName;  // empty: NULL
    uint32_t flags;
    uint32_t related, baseObject, purgeObject;
    uint32_t space;  // blocks
};

struct Schema {
    std::vector<SchemaUser> users;
    std::vector<SchemaTable> tables;
    std::vector<SchemaIndex> indexes;
    std::vector<SchemaRecycleBinRow> recycleBin;
    bool withRecycleBin = false;  // lay RECYCLEBIN$ (even empty), after the other SYS segments
};

// A recycle-bin name as Oracle makes them: BIN$, 24 characters of base64
// (16 bytes, here derived from `seed`), $0; 30 characters in all.
std::string recycleBinName(uint32_t seed);

struct DictionaryLayout {
    size_t file;           // the SYSTEM datafile (index into the files); its
                           // tablespace number is the SYS segments' TS#
    uint32_t firstBlock;   // the SYS segments take consecutive blocks from here
    std::string created;   // CTIME, MTIME and STIME ("YYYY-MM-DD HH:MI:SS")
};

void initDictionaryLayout(DictionaryLayout *layout, size_t file, uint32_t firstBlock);
void initSchemaSegment(SchemaSegment *segment);

// OBJ# of a SYS table or cluster of the layout above ("TAB$", "C_OBJ#"); 0
// for another name.
uint32_t dictionaryObjectNumber(const char *name);

// Lays the SYS segments (each one extent, sized from its rows) from
// layout->firstBlock of the SYSTEM file, with the dictionary rows of the
// schema.  Appends a manifest table per SYS table (owner SYS, columns in the
// order a reader sees them) to `manifest` when it is not null.  Fails for a
// table whose owner is not a user, duplicate user numbers, or a file too
// small.
bool layDictionary(const DatafileLayout *const *files, size_t fileCount, const Schema *schema,
                   const DictionaryLayout *layout, std::vector<SegmentBlock> *blocks, Manifest *manifest,
                   char *error, size_t errorLength);

// ---------------------------------------------------------------------------
// Text description (the `forge` command)
// ---------------------------------------------------------------------------
// Parses a description and writes every file it names into `outputDir`
// (created when missing).  `text` is the whole description.  On failure the
// error names the line.  The language is described in tools/forge/README.md.
bool forgeFromText(const char *text, const char *outputDir, char *error, size_t errorLength);

// The same, also returning the manifest of the tables the description
// declares (`manifest` may be null).
bool forgeFromTextWithManifest(const char *text, const char *outputDir, Manifest *manifest,
                               char *error, size_t errorLength);

// The sample database (see tools/forge/README.md, "The sample database"):
// its description, and forgeFromTextWithManifest on it that also leaves the
// description in the directory as sample.forge.
const char *sampleDescription();
bool forgeSample(const char *outputDir, Manifest *manifest, char *error, size_t errorLength);

// Reads the whole stream and runs forgeFromText.
bool forgeFromStream(FILE *in, const char *outputDir, char *error, size_t errorLength);

// ---------------------------------------------------------------------------
// LOB segments (lob.cpp)
// ---------------------------------------------------------------------------
// LOB data block (type 0x28, or the older 0x1B), fields in block order:
//   20 u32 data object id of the LOB segment   24..33 LOB id
//   0x28: 36 u32 version, 44 u32 page number;  0x1B: 36 page, 46 version
//   56 .. B-5: the page (B - 60 bytes)
// Locator in the row (big-endian fields):
//   0 u16 length - 2, 2 u16 1, 5 flags (0x08 content, 0x04 size header),
//   10..19 LOB id, 20 u16 length - 22, 22 header flags (0x01 long size form,
//   0x08 data in the row); long form: 24 u32 whole pages, 28 u16 bytes of
//   the last page, data from 36; short form: 26 width n, 27 n-byte pages,
//   27+n u16 last, data from 30+n; out of the row: chunk addresses from 36.
// LOB index: a B-tree keyed by (LOB id, page number); a leaf entry is flag,
// lock, 32 bytes (page 0: 4 u32 pages, 8 u16 last, 16..31 four chunk
// addresses; other pages: eight chunk addresses), then the two keys.
const uint8_t kLobBlockType = 0x28;
const uint8_t kLobBlockTypeOld = 0x1B;
const uint8_t kLobFormShort = 0x01;      // short size form
const uint8_t kLobFormNoSize = 0x02;     // no size header: found through the index alone
const uint8_t kLobFormOutOfRow = 0x04;   // out of the row even when small
const uint8_t kLobFormStale = 0x08;      // an older copy of page 0 lies beside the current one
const uint8_t kLobFormSecureFile = 0x10;  // a SecureFile locator: no LOB segment pages are laid

struct LobColumnLayout {
    uint32_t segmentObjectId;   // objd written into the LOB data blocks
    uint32_t indexObjectId;
    size_t file;                // LOB segment: its header, then chunks
    uint32_t firstBlock, blocks;
    size_t indexFile;           // LOB index: header, a bitmap block, root, leaves
    uint32_t indexFirstBlock, indexBlocks;
    uint32_t chunk;             // blocks per chunk (>= 1)
    uint8_t blockType;          // kLobBlockType or kLobBlockTypeOld
    uint32_t inRowLimit;        // larger values go out of the row (3964)
    uint32_t locatorChunks;     // chunk addresses a locator lists (4)
    uint32_t leafEntries;       // index entries per leaf (0: as many as fit)
    uint32_t firstLobId;        // LOB ids count up from here
};

void initLobColumnLayout(LobColumnLayout *layout, uint32_t segmentObjectId, uint32_t indexObjectId);
// The stored text of a LOB literal: UTF-16 big-endian for CLOB and NCLOB.
bool encodeLobText(const char *text, std::vector<uint8_t> *out);
// Lays the values (their bytes the LOB content, their lobForm the locator
// form) into the LOB segment and index, and replaces each value's bytes by
// its locator; the text stays the content, as ZOR writes it by default.
// NULL values are left alone.
bool layLobColumn(const DatafileLayout *const *files, size_t fileCount, const LobColumnLayout *layout,
                  const std::vector<FieldValue *> &values, std::vector<SegmentBlock> *blocks, char *error,
                  size_t errorLength);
// The name Oracle gives a LOB column's index.
std::string lobIndexName(uint32_t tableObject, uint32_t column);
// The locator of a BLOB value kept in the row (long size form), with LOB id
// number `id`.
std::vector<uint8_t> inRowBlobLocator(const std::vector<uint8_t> &content, uint32_t id);

}  // namespace forge

#endif
