// The Oracle block checksum and the bad-block test.
//
// The stored checksum (u16 at offset 16 of the cache header) is chosen so
// that the XOR of all 32-bit words of the block, folded to 16 bits, is 0; so
// verifying needs no special case for the field itself.
#include <cstring>

#include "datafile/datafile.h"
#include "core/unload_context.h"

namespace {

constexpr uint32_t kLane = 16;
constexpr uint32_t kGroup = 64;

uint32_t loadLittle32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void do_16_byte_xor(const uint8_t *a, const uint8_t *b, uint8_t *out)
{
    for (uint32_t i = 0; i < kLane; i++)
        out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

uint16_t do_checksum(uint32_t blockSize, const uint8_t *block)
{
    // Four running lanes, one per 16 bytes of each 64-byte group; XOR is
    // associative, so folding the lanes at the end gives the word XOR.
    uint8_t lanes[4][kLane];
    memset(lanes, 0, sizeof lanes);
    uint32_t groups = blockSize / kGroup;
    for (uint32_t g = 0; g < groups; g++) {
        const uint8_t *group = block + static_cast<size_t>(g) * kGroup;
        for (int l = 0; l < 4; l++)
            do_16_byte_xor(lanes[l], group + l * kLane, lanes[l]);
    }
    do_16_byte_xor(lanes[0], lanes[1], lanes[0]);
    do_16_byte_xor(lanes[2], lanes[3], lanes[2]);
    do_16_byte_xor(lanes[0], lanes[2], lanes[0]);

    uint32_t x = 0;
    for (uint32_t w = 0; w < kLane; w += 4)
        x ^= loadLittle32(lanes[0] + w);
    // Whole words beyond the last 64-byte group (only for sizes the system
    // never uses, but the bytes are counted rather than ignored).
    for (uint32_t off = groups * kGroup; off + 4 <= blockSize; off += 4)
        x ^= loadLittle32(block + off);
    return static_cast<uint16_t>((x ^ (x >> 16)) & 0xFFFF);
}

int matchBlockTail(const UnloadContext *ctx)
{
    uint32_t rdba = peekBlockRDBA(ctx->block, ctx->blockSize, ctx->byteOrder);
    if (ctx->corruptList != nullptr &&
        findRDBAArray(ctx->corruptList->rdba, ctx->corruptList->count, rdba))
        return 1;
    if (ctx->blockCheck)
        return do_checksum(ctx->blockSize, ctx->block) != 0;
    return 0;
}
