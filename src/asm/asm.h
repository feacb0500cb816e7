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
};

// Tag of the last metadata block read (disk, AU, block) and its bytes.
struct AsmBlockCache {
    uint16_t disk;
    uint32_t au;
    uint16_t block;
    uint8_t *buffer;
};

// Tag of the last AU read (disk, AU) and its bytes.
struct AsmAuCache {
    uint16_t disk;
    uint32_t au;
    uint8_t *buffer;
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

// File access.  Until disk groups can be opened these live in asm_stub.cpp:
// getASMFileEntry finds no file (the record is left as it was) and returns 0;
// readASMOracleBlock places nothing and returns 0.
int getASMFileEntry(AsmDiskGroup *group, AsmFileRecord *record, uint32_t fileNumber);
uint32_t readASMOracleBlock(AsmDiskGroup *group, AsmFileRecord *record, uint32_t firstBlock,
                            uint32_t blockSize, uint8_t *dest, uint32_t blockCount);
