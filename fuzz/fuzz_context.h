// Shared by the fuzz targets: a context whose block buffer is a heap copy of
// exactly the block's bytes, so that AddressSanitizer sees a read one byte
// past the block; a datafile of fuzzer bytes in memory under a context as
// the shell holds it; and a sink stream for everything the code writes.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/unload_context.h"
#include "datafile/datafile.h"

// Block sizes run up to 32 KB (blockSize is 16 bits).
constexpr size_t kFuzzMaxBlock = 32768;

struct FuzzBlock {
    UnloadContext *ctx;
    uint8_t *image;
};

// A zeroed context over a copy of bytes[0, size) with the defaults the shell
// sets; size 0 gives a one-byte zero block so that the buffer is never null.
inline FuzzBlock makeFuzzBlock(const uint8_t *bytes, size_t size, uint8_t byteOrder)
{
    FuzzBlock fb;
    fb.ctx = (UnloadContext *)calloc(1, sizeof(UnloadContext));
    if (size > kFuzzMaxBlock)
        size = kFuzzMaxBlock;
    fb.image = (uint8_t *)malloc(size == 0 ? 1 : size);
    if (size == 0)
        fb.image[0] = 0;
    else
        memcpy(fb.image, bytes, size);
    fb.ctx->block = fb.image;
    fb.ctx->blockSize = (uint16_t)(size == 0 ? 1 : size);
    fb.ctx->byteOrder = byteOrder;
    fb.ctx->rowLimit = kNoRowLimit;
    fb.ctx->chunkCount = 1;
    fb.ctx->nchar = kNoConverter;
    fb.ctx->nclob = kNoConverter;
    fb.ctx->clob = kNoConverter;
    return fb;
}

inline void freeFuzzBlock(FuzzBlock *fb)
{
    free(fb->image);
    free(fb->ctx);
    fb->image = nullptr;
    fb->ctx = nullptr;
}

// One memory-backed datafile, its registry and a context over it with its
// own lists and windows, kept for the whole run.
struct FuzzDatafile {
    int fd;
    FILE *file;
    DatafileSet *set;
    UnloadContext *ctx;
};

inline ReadAheadWindow *newFuzzWindow(uint32_t capacity)
{
    ReadAheadWindow *window = (ReadAheadWindow *)calloc(1, sizeof(ReadAheadWindow));
    window->capacity = capacity;
    window->buffer = (uint8_t *)malloc(capacity);
    return window;
}

inline FuzzDatafile makeFuzzDatafile(const char *name, uint16_t blockSize)
{
    FuzzDatafile df;
    df.fd = memfd_create(name, 0);
    if (df.fd < 0) {
        perror("memfd_create");
        abort();
    }
    df.file = fdopen(df.fd, "rb");
    df.set = (DatafileSet *)calloc(1, sizeof(DatafileSet));
    UnloadContext *ctx = (UnloadContext *)calloc(1, sizeof(UnloadContext));
    ctx->blockSize = blockSize;
    ctx->block = (uint8_t *)calloc(1, blockSize);
    ctx->datafiles = df.set;
    ctx->corruptList = (RdbaList *)calloc(1, sizeof(RdbaList));
    ctx->skipList = (RdbaList *)calloc(1, sizeof(RdbaList));
    ctx->dataWindow = newFuzzWindow(kDefaultWindowCapacity);
    ctx->lobWindow = newFuzzWindow(kLobWindowCapacity);
    ctx->indexWindow = newFuzzWindow(kIndexWindowCapacity);
    ctx->nchar = kNoConverter;
    ctx->nclob = kNoConverter;
    ctx->clob = kNoConverter;
    ctx->maxLobDirs = 500;
    df.ctx = ctx;
    return df;
}

// The file now holds bytes[0, size) and is registered as relative file 1,
// as OPEN would; false when the bytes cannot be written.
inline bool loadFuzzDatafile(FuzzDatafile *df, const char *path, const uint8_t *bytes, size_t size)
{
    if (ftruncate(df->fd, 0) != 0 || pwrite(df->fd, bytes, size, 0) != (ssize_t)size)
        return false;
    DatafileSet *set = df->set;
    closeDBFile(set);
    set->count = 1;
    snprintf(set->path[0], sizeof set->path[0], "%s", path);
    set->headerSize[0] = 0;
    set->rfn[0] = 1;
    set->handle[0] = df->file;
    emptyReadAheadWindow(df->ctx->dataWindow);
    emptyReadAheadWindow(df->ctx->lobWindow);
    emptyReadAheadWindow(df->ctx->indexWindow);
    return true;
}

// closeDBFile would close the shared descriptor: forget it first.
inline void unloadFuzzDatafile(FuzzDatafile *df)
{
    df->set->handle[0] = nullptr;
    closeDBFile(df->set);
}

// Standard output is thrown away for the run; libFuzzer reports on
// standard error.
inline void silenceFuzzStdout()
{
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();
}

// Output is thrown away; writing it still runs every formatting path.
inline FILE *fuzzSink()
{
    static FILE *sink = fopen("/dev/null", "w");
    return sink;
}

// A broken invariant is a finding like a crash.
inline void fuzzCheck(bool condition)
{
    if (!condition)
        __builtin_trap();
}
