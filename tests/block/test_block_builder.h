// Tiny helpers for tests that lay out block bytes by hand: field writers in
// either byte order, a context pointing at a block image, the real Oracle
// blocks kept beside the repository, and capture of a formatter's output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/unload_context.h"
#include "oracle_fixtures.h"

namespace testblock {

constexpr uint8_t kLittle = 0;
constexpr uint8_t kBig = 1;

inline void put8(std::vector<uint8_t> &b, uint32_t off, uint8_t v)
{
    b.at(off) = v;
}

inline void put16(std::vector<uint8_t> &b, uint32_t off, uint16_t v, uint8_t order)
{
    if (order == kBig) {
        b.at(off) = (uint8_t)(v >> 8);
        b.at(off + 1) = (uint8_t)v;
    } else {
        b.at(off) = (uint8_t)v;
        b.at(off + 1) = (uint8_t)(v >> 8);
    }
}

inline void put32(std::vector<uint8_t> &b, uint32_t off, uint32_t v, uint8_t order)
{
    if (order == kBig) {
        put16(b, off, (uint16_t)(v >> 16), order);
        put16(b, off + 2, (uint16_t)v, order);
    } else {
        put16(b, off, (uint16_t)v, order);
        put16(b, off + 2, (uint16_t)(v >> 16), order);
    }
}

// A context whose block buffer is the given image (exactly its size, so the
// sanitizer catches any read past the end).  The image must outlive it.
inline std::unique_ptr<UnloadContext> makeContext(std::vector<uint8_t> &image, uint8_t order)
{
    std::unique_ptr<UnloadContext> ctx(new UnloadContext());
    ctx->block = image.data();
    ctx->blockSize = (uint16_t)image.size();
    ctx->byteOrder = order;
    ctx->nchar = kNoConverter;
    ctx->nclob = kNoConverter;
    ctx->clob = kNoConverter;
    return ctx;
}

// A block image written by Oracle, from the shared fixtures; empty when the
// fixtures are not present.
inline std::vector<uint8_t> loadOracleBlock(const char *name)
{
    return oracleFixtureBytes(std::string(name) + "/block.bin");
}

// Collects what is written to a stream.
struct Capture {
    char *data = nullptr;
    size_t size = 0;
    FILE *stream = nullptr;
};

inline void openCapture(Capture *c)
{
    c->stream = open_memstream(&c->data, &c->size);
}

inline std::string closeCapture(Capture *c)
{
    fclose(c->stream);
    std::string text(c->data, c->size);
    free(c->data);
    c->data = nullptr;
    c->stream = nullptr;
    return text;
}

}  // namespace testblock
