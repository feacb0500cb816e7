// Datafile access: the registry of datafiles loaded from a configuration file
// (OPEN) and the CHECK table, block reads by file and block or by RDBA through
// read-ahead windows, the Oracle block checksum, the bad-block test, and the
// sorted RDBA lists behind CORRUPT and SKIP.
//
// Every byte read from a datafile is untrusted; datafiles are opened read-only
// and read only with positioned reads, so forked scan workers sharing the
// descriptors never disturb each other.
#pragma once

#include <cstdint>
#include <cstdio>

#include "datafile/datafile_types.h"

struct UnloadContext;
struct AsmDiskGroup;

// RDBA: file number in bits 22..31, block number in bits 0..21.
constexpr uint32_t kRdbaBlockMask = 0x3FFFFF;
constexpr int kRdbaFileShift = 22;

inline uint32_t makeRDBA(uint32_t file, uint32_t block)
{
    return (file << kRdbaFileShift) | (block & kRdbaBlockMask);
}
inline uint32_t getRDBAFile(uint32_t rdba) { return rdba >> kRdbaFileShift; }
inline uint32_t getRDBABlock(uint32_t rdba) { return rdba & kRdbaBlockMask; }

// ---- Checksum and bad-block test (checksum.cpp) ----

// 16-bit fold of the XOR of all little-endian 32-bit words of the block; 0
// means the block is consistent.  blockSize is a multiple of 64 for every
// supported size; of any other size, bytes past the last whole 32-bit word
// are not counted.
uint16_t do_checksum(uint32_t blockSize, const uint8_t *block);
// out[i] = a[i] ^ b[i] for 16 bytes; out may alias a or b.
void do_16_byte_xor(const uint8_t *a, const uint8_t *b, uint8_t *out);
// Non-zero when the block in the context's buffer must be treated as bad: its
// RDBA is in the corrupt list (1), or BLOCK_CHECK is on and its checksum is
// not 0.
int matchBlockTail(const UnloadContext *ctx);

// ---- Cache-header fields (block_fields.cpp) ----

// Cache-header fields read from a block image in the given byte order (0
// little-endian, 1 big-endian; any other order reads multi-byte fields as 0).
// Nothing is read outside [0, size).
uint8_t peekBlockType(const uint8_t *block, uint32_t size);
uint8_t peekBlockFormat(const uint8_t *block, uint32_t size);
uint32_t peekBlockRDBA(const uint8_t *block, uint32_t size, uint8_t byteOrder);
// Any 32-bit field; 0 when [offset, offset + 4) is outside the block.
uint32_t peekBlockU32(const uint8_t *block, uint32_t size, uint32_t offset, uint8_t byteOrder);
// True for the block formats CHECK accepts: 0x02, 0xA2, 0xC2.
bool isKnownBlockFormat(uint8_t format);

// ---- RDBA lists (rdba_list.cpp) ----

// Binary search with unsigned comparisons over the sorted entries; 1 when the
// value is present, 0 otherwise.
int findRDBAArray(const uint32_t *entries, uint32_t count, uint32_t value);
// qsort comparator over uint32_t: -1 when the first is below the second, 1
// otherwise.
int sortRDBAList(const void *a, const void *b);
// Adds a value, keeping the list sorted and free of duplicates.  A value
// already present, or any value once the list holds kRdbaListMax entries, is
// dropped.  Returns 1 when the value was added.
int addRDBAToList(RdbaList *list, uint32_t value);

// ---- Registry (registry.cpp) ----

// Reads the configuration stream into the set (path, header size, initial
// rfn = position + 1); returns the number of positions registered.  Resets
// count and last hit first; leaves the index alone.
uint32_t loadConfig(DatafileSet *set, FILE *config);
// Opens every registered position: plain paths read-only and unbuffered
// ("Cannot open file : %s \n" when that fails), "+N" paths through the ASM
// file directory.  True when every plain file opened.
bool openDBFile(DatafileSet *set, AsmDiskGroup *group);
// Closes every handle, frees every ASM record, empties the set and its index.
void closeDBFile(DatafileSet *set);
void freeFileIndex(DatafileSet *set);
void buildFileIndex(DatafileSet *set);
// Registry position of a relative file number, or -1 when none is indexed.
int getFileIndex(DatafileSet *set, uint32_t rfn);
// Examines one position (its first valid block and its block count) and
// updates its entry.
void checkFileStatus(UnloadContext *ctx, uint32_t position);
// CHECK: examines every position, prints the table and rebuilds the index.
// 0 when the context has no datafile set, else 1.
int checkFileHeader(UnloadContext *ctx);
// A view of one position's fields; false when the position is not registered.
bool getDatafileEntry(const DatafileSet *set, uint32_t position, DatafileEntry *entry);

// ---- Block reader (block_reader.cpp) ----
// Every read places the block in ctx->block and returns the number of bytes
// placed there: the block size on success, anything else on failure.  No
// read prints anything.

// Through the data-block window.
int readBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block);
int readRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba);
// The window algorithm on any window record (the LOB block reader runs it on
// the LOB-block window).
int readBlockThroughWindow(DatafileSet *set, UnloadContext *ctx, ReadAheadWindow *window,
                           uint32_t file, uint32_t block);
// The same window algorithm without the copy: a pointer to the block inside
// the window's buffer, or null where readBlockThroughWindow would return 0.
// The pointer is good until the window is next filled or emptied.  For
// walks that only glance at each block (the extent scans): the block buffer
// is left alone.
const uint8_t *peekBlockThroughWindow(DatafileSet *set, UnloadContext *ctx, ReadAheadWindow *window,
                                      uint32_t file, uint32_t block);
// One block: copied from the data-block window when held there, else read
// alone into the block buffer; the window is neither filled nor emptied.
// Returns the byte count of that single read as it came.
int readSingleBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block);
int readSingleRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba);
// One block of a registry position: no index lookup, no window.
int readDirect(DatafileSet *set, UnloadContext *ctx, uint32_t position, uint32_t block);
// Makes dest a copy of src (settings, lists, window and set pointers,
// per-column arrays) with a freshly allocated block buffer holding src's
// block.  The caller frees dest->block.  Returns 0 when that allocation
// fails (dest->block is then null).
int copyBlock(const UnloadContext *src, UnloadContext *dest);
// The same without the per-column arrays, which stay unset in dest: for a
// context that only reads blocks, made once per value (a LOB's pages).
int copyBlockOnly(const UnloadContext *src, UnloadContext *dest);

void emptyReadAheadWindow(ReadAheadWindow *window);

// Positioned reads made on datafile descriptors since the process started,
// with the offset and length of the last one: observed by the tests of the
// read-ahead window, and handy when chasing I/O counts.
struct PositionedReadStats {
    uint64_t calls;
    uint64_t lastOffset;
    uint32_t lastLength;
    uint64_t bytes;  // read in all, for the progress of long commands
};
extern PositionedReadStats g_positionedReads;

// ---- Settings of an unknown datafile (probe.cpp) ----

// Leading headers tried: every multiple of 512 bytes up to this.
constexpr uint32_t kProbeMaxHeader = 1048576;
// Bytes PROBE reads from the start of a file: the largest leading header,
// blocks 0 and 1 and the sampled blocks of the largest block size.
constexpr uint32_t kProbeReadSize = 4194304;

struct ProbeResult {
    int found;                 // a file header was found
    uint64_t bytesRead;
    uint32_t headerSize;       // bytes before block 0
    uint32_t blockSize;
    uint8_t byteOrder;         // 0 little-endian, 1 big-endian
    uint8_t bigfile;
    uint8_t format;            // block format byte of the file header
    uint32_t rfn;
    uint32_t tablespace;
    uint32_t headerBlocks;     // blocks the file header counts after block 0
    char databaseName[9];
    uint32_t sampled;          // formatted blocks sampled after the header
    uint32_t ownAddress;       // ... that carry their own block number
    uint32_t checksummed;      // ... whose checksum is set and holds
    uint32_t firstSampled;     // block number of the first block sampled
    uint8_t headerless;        // no file header: the settings come from the blocks
    uint32_t votes;            // ... the blocks that agree on them
};

// Looks for the file header in the image of a file's first `length` bytes:
// every block size, both byte orders, leading headers up to kProbeMaxHeader.
// Without one, infers the settings from the blocks' own addresses and tails
// (headerless set; tablespace, block count and database name stay unknown).
// 1 when found (the result filled), else 0.
int probeDatafileImage(const uint8_t *image, uint64_t length, ProbeResult *result);
// Reads up to `capacity` bytes of the file into buffer (read-only) and
// probes them; -1 when the file cannot be opened.  fileSize is its size.
int probeDatafile(const char *path, uint8_t *buffer, uint32_t capacity, ProbeResult *result, uint64_t *fileSize);
// After OPEN: names on standard error every opened file whose readable
// header, or whose blocks when the header is unreadable, disagree with the
// settings (block size, byte order, bigfile, its header size), with the SET
// and configuration lines that would make them agree; and every file whose
// header is unreadable, with what its blocks say.
void reportSettingsMismatch(const UnloadContext *ctx);
// Files that cannot be opened or created are named on standard error with
// the system's reason (errno, read at the call), so that the operator can act
// on them; standard output keeps only the messages the commands define.
//   reportFileError("open", "configuration file", "zor.cfg") prints
//   "zor: cannot open configuration file zor.cfg: No such file or directory".
// `consequence`, when not null, follows after "; " (what ZOR does instead).
void reportFileError(const char *action, const char *kind, const char *path, const char *consequence = nullptr);
// Failures reported since the start (file errors and unknown commands): a
// script run with `zor -f` ends with a non-zero status when there were any.
void noteCommandFailure();
int commandFailureCount();
