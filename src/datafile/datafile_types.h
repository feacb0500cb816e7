// Records of the datafile layer: the registry of datafiles, the read-ahead
// windows and the RDBA lists.  Plain data; the functions live in datafile.h.
#pragma once

#include <cstdint>
#include <cstdio>

struct AsmFileRecord;

constexpr int kMaxDatafiles = 1024;        // registry positions
constexpr int kMaxConfigLines = 1023;      // loading stops one short of the registry size
constexpr int kDatafilePathMax = 512;      // characters kept of a configuration path
constexpr int kFileIndexBuckets = 1024;
constexpr int kRdbaListMax = 1024;

// One node of the relative-file-number index; pushed at the head of bucket rfn & 0x3FF.
struct FileIndexNode {
    uint16_t rfn;
    int32_t tsn;
    uint16_t position;
    FileIndexNode *next;
};

// The registry: parallel per-position arrays plus the index.  One position of
// all the arrays together is what the documentation calls a DatafileEntry.
struct DatafileSet {
    uint32_t count;
    FileIndexNode *lastHit;
    FileIndexNode *index[kFileIndexBuckets];
    char path[kMaxDatafiles][kDatafilePathMax + 1];
    uint32_t headerSize[kMaxDatafiles];
    uint16_t rfn[kMaxDatafiles];
    int32_t tsn[kMaxDatafiles];
    uint8_t ver[kMaxDatafiles];
    uint16_t bsize[kMaxDatafiles];
    uint32_t blocks[kMaxDatafiles];
    int32_t sizemb[kMaxDatafiles];
    FILE *handle[kMaxDatafiles];
    AsmFileRecord *asmFile[kMaxDatafiles];
};

// A view of one registry position, for callers that want the fields together.
struct DatafileEntry {
    const char *path;
    uint32_t headerSize;
    uint16_t rfn;
    int32_t tsn;
    uint8_t ver;
    uint16_t bsize;
    uint32_t blocks;
    int32_t sizemb;
    FILE *handle;
    AsmFileRecord *asmFile;
};

// Consecutive blocks of one file held back to back; empty when count is 0.
struct ReadAheadWindow {
    uint32_t capacity;
    uint16_t file;
    uint32_t first;
    uint16_t count;
    uint8_t *buffer;
};

// Sorted (ascending, unsigned) list of block addresses: the corrupt and skip lists.
struct RdbaList {
    uint16_t count;
    uint32_t rdba[kRdbaListMax];
};
