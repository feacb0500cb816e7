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

struct RowPiece {
    uint8_t flag;        // kRowNormal by default
    uint8_t lock;        // 1-based ITL number, 0 when not locked
    uint16_t table;      // table number in the block (cluster blocks have more than one)
    bool hasNext;        // write a next-piece address (flag N or missing L)
    uint32_t nextRdba;   // big-endian in the row, whatever the block order
    uint16_t nextSlot;
    bool hasClusterKeySlot;
    uint8_t clusterKeySlot;
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

// ---------------------------------------------------------------------------
// Text description (the `forge` command)
// ---------------------------------------------------------------------------
// Parses a description and writes every file it names into `outputDir`
// (created when missing).  `text` is the whole description.  On failure the
// error names the line.  The language is described in tools/forge/README.md.
bool forgeFromText(const char *text, const char *outputDir, char *error, size_t errorLength);

// Reads the whole stream and runs forgeFromText.
bool forgeFromStream(FILE *in, const char *outputDir, char *error, size_t errorLength);

}  // namespace forge

#endif
