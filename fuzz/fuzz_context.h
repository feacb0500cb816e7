// Shared by the fuzz targets: a context whose block buffer is a heap copy of
// exactly the block's bytes, so that AddressSanitizer sees a read one byte
// past the block, and a sink stream for everything the code writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/unload_context.h"

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
