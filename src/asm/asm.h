// ASM: the disk-group state and the record that names one file inside a disk
// group.  The datafile registry resolves "+N" paths through getASMFileEntry and
// the block readers fetch Oracle blocks of such files with readASMOracleBlock.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kAsmMaxDisks = 2048;
constexpr int kAsmDiskMapSize = 65536;
constexpr int kAsmExtentSlots = 1024;        // extent k lives in slot k & 0x3FF
constexpr int kAsmNameSize = 32;
constexpr int kAsmDiskPathMax = 255;
constexpr int kAsmPolicyLevels = 4;

constexpr uint16_t kAsmNoDisk = 0xFFFF;
constexpr uint32_t kAsmNoAu = 0xFFFFFFFF;
// The AU part of an empty cache tag is 24 bits wide; no AU of a real disk
// group reaches it, so it still reads as "nothing cached".
constexpr uint32_t kAsmNoCachedAu = 0xFFFFFF;
constexpr uint16_t kAsmNoBlock = 0xFFFF;
constexpr uint64_t kAsmUnknownSize = UINT64_MAX;

constexpr uint16_t kAsmDefaultOracleBlock = 8192;
constexpr uint16_t kAsmDefaultBlockSize = 4096;
constexpr uint32_t kAsmDefaultAuSize = 1048576;
constexpr uint16_t kAsmDefaultStripWidth = 8;
constexpr uint32_t kAsmDefaultStripSize = 131072;
// Largest AU size for which the AU caches are (re)allocated.
constexpr uint32_t kAsmMaxCachedAuSize = 131657727;

// One cached extent of an ASM file: extent number (from 1), disk and AU; all
// bits set when the slot is empty.
struct AsmExtentSlot {
    uint32_t extent;
    uint16_t disk;
    uint32_t au;
};

// Names one file inside the disk group: its number, where its file directory
// entry lives, and a cache of its extents.  Empty when file number and
// location are all bits set.
struct AsmFileRecord {
    uint32_t fileNumber;
    uint16_t disk;
    uint32_t au;
    uint16_t block;
    AsmExtentSlot extents[kAsmExtentSlots];
    // The file's size from its directory entry when that agrees with its
    // extent count (the size lies in its last AU); 0 when unknown.  Reads
    // stop there, as they stop at the end of a plain file.
    uint64_t byteLimit;
};

struct AsmDisk {
    uint16_t diskNumber;          // kAsmNoDisk when the entry is free
    uint16_t blockSize;
    uint32_t auSize;
    uint32_t size;
    char diskName[kAsmNameSize];
    char groupName[kAsmNameSize];
    char path[kAsmDiskPathMax + 1];
    FILE *stream;                 // unbuffered, read-only; null when closed
    uint64_t deviceBytes;         // the image's or device's size; kAsmUnknownSize when unknown
};

// Tag of the last metadata block read (disk, AU, block) and its bytes.
struct AsmBlockCache {
    uint16_t disk;
    uint32_t au;
    uint16_t block;
    uint8_t *buffer;
    uint32_t capacity;
};

// Tag of the last AU read (disk, AU) and its bytes; capacity is what the
// buffer holds, so that no read ever puts more into it.
struct AsmAuCache {
    uint16_t disk;
    uint32_t au;
    uint8_t *buffer;
    uint32_t capacity;
};

// Variable extent sizes: extents up to lastExtent hold auCount AUs each.
struct AsmExtentPolicy {
    uint32_t lastExtent;
    uint32_t auCount;
};

// The one disk-group state of the process.
struct AsmDiskGroup {
    uint32_t compat;
    uint16_t oracleBlock;         // ORACLE_BLOCK
    uint16_t blockSize;           // BLOCK_SIZE: ASM metadata block size
    uint32_t auSize;              // AU_SIZE
    uint16_t stripWidth;          // STRIP_WIDTH
    uint32_t stripSize;           // STRIP_SIZE
    uint16_t diskCount;
    uint16_t f1b1Disk;            // F1B1_DISK, kAsmNoDisk when unset
    uint32_t f1b1Au;              // F1B1_AU, kAsmNoAu when unset
    uint16_t diskMap[kAsmDiskMapSize];   // disk number -> entry position
    AsmDisk disks[kAsmMaxDisks];
    AsmBlockCache blockCache;
    AsmAuCache metadataCache;
    AsmAuCache dataCache;
    AsmFileRecord fileDirectory;  // ASM file 1
    AsmFileRecord aliasDirectory; // ASM file 6
    AsmFileRecord diskDirectory;  // ASM file 2
    AsmExtentPolicy policy[kAsmPolicyLevels];
};

// Disk-group lifecycle (disk_group.cpp).  initASMDiskGroup expects a record
// that holds no buffers yet (a fresh allocation); closeDiskGroup releases the
// buffers and resets everything but the size settings.
void initASMDiskGroup(AsmDiskGroup *group);
void setDiskGroupCache(AsmDiskGroup *group);
void closeDiskGroup(AsmDiskGroup *group);

// Sets a file record empty: number and location all bits set, block 0, every
// extent slot empty.
void clearAsmFileRecord(AsmFileRecord *record);

// ---------------------------------------------------------------------------
// Metadata formats (asm_format.cpp).  Every metadata block declares its own
// byte order in byte 0 (non-zero little-endian, 0 big-endian); every read
// goes through a view of the block and reads 0 outside it.

// Metadata block header, the first 32 bytes of every block:
//   0   u8   byte order flag        2   u8   block type     3   u8  format
//   4   u32  block number within its file (file directory: the file described)
//   8   u32  owning file (disk header: 0x80000000 + disk number)
//   12  u32  check word: XOR of every other 32-bit word of the block
constexpr uint8_t kAsmDiskHeaderType = 1;
constexpr uint8_t kAsmFileEntryType = 4;
constexpr uint8_t kAsmFileDirectoryFirstType = 5;
constexpr uint8_t kAsmAliasType = 11;
constexpr uint8_t kAsmIndirectType = 12;
constexpr uint32_t kAsmFileDirectoryFile = 1;
constexpr uint32_t kAsmDiskDirectoryFile = 2;
constexpr uint32_t kAsmAliasDirectoryFile = 6;
constexpr uint32_t kAsmHeaderSize = 32;
constexpr uint32_t kAsmCheckOffset = 12;
constexpr uint32_t kAsmEntrySlotsOffset = 1216;   // extent slots of a file directory entry
constexpr uint32_t kAsmIndirectSlotsOffset = 44;  // extent slots of an indirect block
constexpr uint32_t kAsmSlotSize = 8;
constexpr uint32_t kAsmAliasEntriesOffset = 68;
constexpr uint32_t kAsmAliasEntrySize = 76;
constexpr uint32_t kAsmAliasNameSize = 48;

struct AsmBlockView {
    const uint8_t *data;
    uint32_t size;
    bool bigEndian;
};

AsmBlockView asmBlockView(const uint8_t *data, uint32_t size);
uint8_t asmU8(const AsmBlockView *view, uint32_t offset);
uint16_t asmU16(const AsmBlockView *view, uint32_t offset);
uint32_t asmU32(const AsmBlockView *view, uint32_t offset);
uint8_t getAsmBlockType(const AsmBlockView *view);
uint8_t getAsmBlockFormat(const AsmBlockView *view);
uint32_t getAsmBlockNumber(const AsmBlockView *view);
uint32_t getAsmBlockOwner(const AsmBlockView *view);
// The check word the block should carry: XOR of all its 32-bit words but the
// one at offset 12, in the block's byte order.
uint32_t computeAsmCheckWord(const AsmBlockView *view);

// Disk header (type 1, block 0 of every disk).
struct AsmDiskHeader {
    uint32_t compat;
    uint16_t diskNumber;
    uint8_t groupType;
    uint8_t status;
    char diskName[kAsmNameSize + 1];
    char groupName[kAsmNameSize + 1];
    char failGroup[kAsmNameSize + 1];
    uint16_t sectorSize;
    uint16_t blockSize;
    uint32_t auSize;
    uint32_t size;
    uint32_t f1b1;
};
// False (and *out untouched) unless the block is a disk header.
bool decodeAsmDiskHeader(const AsmBlockView *view, AsmDiskHeader *out);

// File directory entry (type 4).  Slot counts are already capped by what the
// block holds: direct <= used <= the slots that fit.
struct AsmFileEntry {
    uint32_t fileNumber;
    uint64_t size;
    uint32_t extentCount;   // ecnt
    uint32_t eeof;
    uint32_t fileBlockSize;
    uint8_t flags;
    uint8_t type;
    uint32_t slotsUsed;     // S
    uint32_t directSlots;   // D
    uint32_t alias0;
    uint32_t alias1;
};
bool decodeAsmFileEntry(const AsmBlockView *view, AsmFileEntry *out);
// Number of direct extents: slots below min(S, D).
uint32_t getAsmDirectExtentCount(const AsmFileEntry *entry);

struct AsmExtentSlotValue {
    uint32_t au;
    uint16_t disk;
    uint8_t flags;
    uint8_t check;
};
// Slot i of a file directory entry (from 1216) or an indirect block (from 44);
// AU 0, disk 0 when the block is of neither type or the slot does not fit.
AsmExtentSlotValue getAsmExtentSlot(const AsmBlockView *view, uint32_t i);
uint32_t getAsmSlotCapacity(const AsmBlockView *view);

// Indirect extent block (type 12): extents before its first slot and the
// slots in use (capped by what the block holds).
uint32_t getAsmIndirectPreceding(const AsmBlockView *view);
uint32_t getAsmIndirectCount(const AsmBlockView *view);

// Alias directory block (type 11): header words at 52 (parent) and 60
// (fstblk), entries of 76 bytes from 68.
struct AsmAliasEntry {
    uint32_t used;
    uint32_t refer;
    char name[kAsmAliasNameSize + 1];
    uint32_t fileNumber;
    uint32_t incarnation;
    uint8_t flag;
};
uint32_t getAsmAliasParent(const AsmBlockView *view);
uint32_t getAsmAliasFirstBlock(const AsmBlockView *view);
// 1 for a used entry i, 0 when entry i ends the block's entries (or does
// not fit).
int getAsmAliasEntry(const AsmBlockView *view, uint32_t i, AsmAliasEntry *out);

// Extent policy: AUs of extent k (from 1), and the rules of setting a level.
uint32_t getAsmExtentAuCount(const AsmDiskGroup *group, uint32_t extent);
void setAsmExtentPolicy(AsmDiskGroup *group, uint32_t level, uint32_t lastExtent, uint32_t auCount);
// Extent index (from 0), its AU count and the byte offset at which it starts,
// of a byte offset of a file.
void getASMFileOffsetAU(const AsmDiskGroup *group, uint64_t offset, uint32_t *extentIndex,
                        uint32_t *auCount, uint64_t *extentStart);

// ---------------------------------------------------------------------------
// Disks (disk_access.cpp).  Reads on a disk that is not registered, has no
// stream, or returns fewer bytes than asked return 0.

void openDiskGroup(FILE *messages, AsmDiskGroup *group, const char *listPath);
void openDiskGroupDisk(FILE *messages, AsmDiskGroup *group, uint16_t diskNumber, const char *path,
                       uint32_t size);
void getASMSystemFileEntry(AsmDiskGroup *group);
const AsmDisk *findAsmDisk(const AsmDiskGroup *group, uint16_t diskNumber);
// AUs of a disk: as many as the disk (image or device) holds when its size
// is known, else the header's size read as megabytes.
uint64_t getAsmDiskAuCount(const AsmDiskGroup *group, const AsmDisk *disk);
// Extents a file of the group can have: every disk number up to the highest
// registered one counted as large as the largest disk, so that missing
// disks are counted too.
uint64_t getAsmGroupAuLimit(const AsmDiskGroup *group);
// The disk's real size in bytes (image size or device size); kAsmUnknownSize
// when it cannot be learned.
uint64_t getAsmDiskBytes(const AsmDisk *disk);
uint32_t readFromDisk(const AsmDisk *disk, uint64_t offset, uint8_t *buffer, uint32_t length);
uint32_t readDiskGroup(const AsmDiskGroup *group, uint16_t diskNumber, uint32_t au, uint32_t block,
                       uint8_t *buffer, uint32_t length);
uint32_t readDiskGroupBlock(AsmDiskGroup *group, uint16_t diskNumber, uint32_t au, uint32_t block);
uint32_t readDiskGroupAU(AsmDiskGroup *group, uint16_t diskNumber, uint32_t au);
uint32_t readDiskGroupEX(AsmDiskGroup *group, uint16_t diskNumber, uint32_t au);
// Blocks of BLOCK_SIZE in one AU of AU_SIZE.
uint32_t getAsmBlocksPerAu(const AsmDiskGroup *group);

// ---------------------------------------------------------------------------
// Files (file_access.cpp).

// Walks a file's extents in order: direct slots, then the slots of its
// indirect extent blocks.  Runs of missing extents (an indirect block whose
// preceding count is ahead) come as one step with missing set.
struct AsmExtentStep {
    uint32_t extent;     // first extent number of the step (from 1)
    uint32_t count;      // 1, or the length of a missing run
    uint16_t disk;
    uint32_t au;
    uint8_t flags;
    uint8_t check;
    bool missing;
    bool direct;         // from a slot of the directory entry itself
};
struct AsmExtentWalk {
    AsmDiskGroup *group;
    uint8_t *entryBlock;     // the file's directory entry, a private copy
    uint8_t *indirectBlock;  // the indirect block being read, a private copy
    AsmFileEntry entry;
    uint32_t extentLimit;    // ecnt, capped by the AUs the group holds
    uint32_t slot;           // next slot of the entry
    uint16_t indirectDisk;
    uint32_t indirectAu;
    uint32_t nextBlock;      // next block of the indirect AU; past the AU when none
    uint32_t blockSlots;     // slots of the indirect block in hand
    uint32_t blockSlot;      // next slot of it
    uint32_t seen;           // extents produced so far
};
// False when the record's entry cannot be read or is not the entry of its file.
bool startAsmExtentWalk(AsmExtentWalk *walk, AsmDiskGroup *group, const AsmFileRecord *record);
bool nextAsmExtent(AsmExtentWalk *walk, AsmExtentStep *step);
void endAsmExtentWalk(AsmExtentWalk *walk);
// Reads the directory entry the record names into the block cache; true
// when it is the entry of the record's file.
bool readAsmFileEntryBlock(AsmDiskGroup *group, const AsmFileRecord *record, AsmFileEntry *entry);

// Finds file N's directory entry; 1 when found (the record names it), 0 when
// the record is left as it was.
int getASMFileEntry(AsmDiskGroup *group, AsmFileRecord *record, uint32_t fileNumber);
void readFileExtentCache(AsmDiskGroup *group, AsmFileRecord *record, uint32_t extent);
uint32_t readASMOracleBlock(AsmDiskGroup *group, AsmFileRecord *record, uint32_t firstBlock,
                            uint32_t blockSize, uint8_t *dest, uint32_t blockCount);
uint32_t readASMFileData(AsmDiskGroup *group, AsmFileRecord *record, uint64_t block, uint32_t blockSize,
                         uint8_t *dest, uint32_t length);
uint32_t readASMStripFileData(AsmDiskGroup *group, AsmFileRecord *record, uint64_t offset, uint8_t *dest);
// Copy-outs return the number of bytes written.
uint64_t copyASMFileOut(FILE *out, AsmDiskGroup *group, AsmFileRecord *record);
uint64_t copyASMStripFileOut(FILE *out, AsmDiskGroup *group, AsmFileRecord *record);

// The ASM command shell is declared in asm_shell.h.
