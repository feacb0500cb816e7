// printHeader and printBriefHeader over random bytes dressed as every block
// kind, in every block size and byte order (and an unusable one), with
// random TRANS_OFFSET and TRANS_COUNT: each must end without reading outside
// the block, which the sanitizer build checks (the block buffer is exactly
// the block size).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "block/block.h"
#include "view/view.h"
#include "block/test_block_builder.h"
#include "oracle_fixtures.h"

using namespace testblock;

namespace {

// Enough structure that the decoders go deep instead of stopping at once: a
// small ITL count, a data type of 1 or 2, sometimes the 0x32 header flag,
// the compression bit, a leaf level, small counts in the headers.
void shapeBlock(std::vector<uint8_t> &b, uint8_t type, std::mt19937 &rng, uint8_t order)
{
    b[0] = type;
    static const uint8_t formats[] = {0x02, 0xA2, 0xC2, 0x7F};
    b[1] = formats[rng() % 4];
    if (type == 6) {
        b[20] = (uint8_t)(1 + rng() % 2);
        uint8_t itc = (uint8_t)(rng() % 4 == 0 ? rng() : 1 + rng() % 4);
        put16(b, 36, itc, order == kBig ? kBig : kLittle);
        b[38] = rng() % 2 ? 0x32 : b[38];
        uint32_t h = 44 + 24 * itc + (b[38] == 0x32 ? 8 : 0);
        uint8_t o = order == kBig ? kBig : kLittle;
        if (h + 100 < b.size()) {
            b[h] = rng() % 3 == 0 ? 0x40 : (rng() % 4 == 0 ? 1 : 0);     // data flag or index level
            b[h + 1] = (uint8_t)(rng() % 4);                              // tables / kdxcolok
            if (rng() % 2)
                b[h + 2] = (uint8_t)(rng() % 16);                         // kdxcoopc
            // A random block holds directories of thousands of entries, each
            // listing hundreds of columns: keep the counts small so that
            // many blocks are tried rather than a few gigabytes written.
            put16(b, h + 2, (uint16_t)(rng() % 16), o);                   // nrow
            put16(b, h + 8, (uint16_t)(rng() % 16), o);                   // kdxconro
            // Table directory entries (first entry, rows) wherever the
            // compression extension puts the directory.
            for (uint32_t at = h + 14; at < h + 14 + 80 && at + 2 <= b.size(); at += 2)
                put16(b, at, (uint16_t)(rng() % 16), o);
            b[h + 19] = (uint8_t)(rng() % 8);                             // compression: n
            b[h + 20] = (uint8_t)(rng() % 8);                             // and p
        }
    } else if (type == 14 || type == 38) {
        if (rng() % 2)
            put32(b, 92, rng() % 64, order == kBig ? kBig : kLittle);
        if (rng() % 2)
            put32(b, 44, rng() % 4096, order == kBig ? kBig : kLittle);
    } else if (type == 16 || type == 17 || type == 18 || type == 35 || type == 36) {
        static const uint32_t counts[] = {92, 20, 264};
        if (rng() % 2)
            put32(b, counts[rng() % 3], rng() % 300, order == kBig ? kBig : kLittle);
    }
}

}  // namespace

TEST(BlockDumpFuzz, RandomBytesOfEveryKindStayInsideTheBlock)
{
    FILE *sink = fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    std::mt19937 rng(20240501);
    const uint32_t sizes[] = {2048, 4096, 8192, 16384, 32768};
    const uint8_t types[] = {0, 2, 6, 6, 6, 11, 14, 38, 16, 17, 18, 35, 36, 32, 255};
    const uint8_t orders[] = {kLittle, kBig, 9};
    for (uint32_t size : sizes) {
        for (uint8_t order : orders) {
            for (uint8_t type : types) {
                for (int round = 0; round < (type == 6 ? 8 : 24); round++) {
                    std::vector<uint8_t> image(size);
                    for (auto &byte : image)
                        byte = (uint8_t)rng();
                    shapeBlock(image, type, rng, order);
                    auto ctx = makeContext(image, order);
                    ctx->transOffset = (uint16_t)(rng() % 3 == 0 ? rng() % size : 0);
                    ctx->transCount = (uint16_t)(rng() % 3 == 0 ? rng() : 0);
                    ctx->guessMode = (uint8_t)(rng() % 2 ? 2 : 0);
                    printHeader(sink, ctx.get());
                    printBriefHeader(sink, ctx.get());
                }
            }
        }
    }
    fclose(sink);
}

TEST(BlockDumpFuzz, OracleBlocksWithEveryByteFlipped)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    FILE *sink = fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    for (const char *name : {"heap-1row-char-19c-x64", "emp-14rows-12deleted-11203-i686", "heap-3rows-lock-32bit"}) {
        std::vector<uint8_t> original = loadOracleBlock(name);
        if (original.empty())
            continue;
        // The header area decides every count and offset the dump follows.
        for (uint32_t at = 0; at < 512 && at < original.size(); at++) {
            std::vector<uint8_t> image = original;
            image[at] ^= 0xFF;
            auto ctx = makeContext(image, kLittle);
            printHeader(sink, ctx.get());
            printBriefHeader(sink, ctx.get());
        }
    }
    fclose(sink);
}
