// PROBE on files whose header is overwritten: the settings come from the
// blocks behind it, for every block size and byte order.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "datafile/datafile.h"
#include "forge/forge.h"

namespace {

constexpr uint32_t kOverwrittenMegabyte = 1048576;
constexpr uint32_t kRfn = 7;

// Deterministic noise: the same bytes on every run, nothing like a block.
void fillNoise(uint8_t *at, size_t length, uint32_t seed)
{
    uint32_t x = seed;
    for (size_t i = 0; i < length; i++) {
        x = x * 1103515245u + 12345u;
        at[i] = static_cast<uint8_t>(x >> 16);
    }
}

// An image of a file with a leading header, whose blocks 2 onwards are
// sealed data blocks carrying their own addresses.
std::vector<uint8_t> forgeImage(uint32_t size, forge::ByteOrder order, uint32_t head, uint32_t blocks)
{
    std::vector<uint8_t> image(head + static_cast<size_t>(size) * blocks, 0);
    for (uint32_t n = 2; n < blocks; n++) {
        forge::Block block;
        forge::initBlock(&block, size, order);
        forge::CacheHeader header;
        forge::initCacheHeader(&header, 6, forge::makeRdba(kRfn, n));
        header.scnBase = 1000 + n * 7;
        forge::putCacheHeader(&block, &header);
        forge::sealBlock(&block);
        memcpy(image.data() + head + static_cast<size_t>(n) * size, block.bytes.data(), size);
    }
    return image;
}

class HeaderlessProbe : public ::testing::TestWithParam<std::tuple<uint32_t, forge::ByteOrder, bool>> {};

TEST_P(HeaderlessProbe, SettingsComeFromTheBlocks)
{
    uint32_t size = std::get<0>(GetParam());
    forge::ByteOrder order = std::get<1>(GetParam());
    bool wholeMegabyte = std::get<2>(GetParam());
    const uint32_t head = 4096;
    uint32_t blocks = kOverwrittenMegabyte / size + 16;
    std::vector<uint8_t> image = forgeImage(size, order, head, blocks);
    if (wholeMegabyte)
        fillNoise(image.data(), kOverwrittenMegabyte, size);
    else
        fillNoise(image.data() + head + size, size, size);

    ProbeResult r;
    ASSERT_EQ(1, probeDatafileImage(image.data(), image.size(), &r));
    EXPECT_EQ(1, r.headerless);
    EXPECT_EQ(size, r.blockSize);
    EXPECT_EQ(static_cast<uint8_t>(order), r.byteOrder);
    EXPECT_EQ(head, r.headerSize);
    EXPECT_EQ(kRfn, r.rfn);
    EXPECT_EQ(0, r.bigfile);
    EXPECT_GE(r.votes, 3u);
    EXPECT_GT(r.checksummed, 0u);
    EXPECT_EQ(r.sampled, r.ownAddress);
}

INSTANTIATE_TEST_SUITE_P(SizesAndOrders, HeaderlessProbe,
                         ::testing::Combine(::testing::Values(2048u, 4096u, 8192u, 16384u, 32768u),
                                            ::testing::Values(forge::kLittleEndian, forge::kBigEndian),
                                            ::testing::Bool()));

TEST(HeaderlessProbe, NoiseIsNotRecognised)
{
    std::vector<uint8_t> image(kProbeReadSize);
    fillNoise(image.data(), image.size(), 42);
    ProbeResult r;
    EXPECT_EQ(0, probeDatafileImage(image.data(), image.size(), &r));
}

TEST(HeaderlessProbe, TwoBlocksAreNotEnough)
{
    std::vector<uint8_t> image = forgeImage(8192, forge::kLittleEndian, 0, 4);
    ProbeResult r;
    EXPECT_EQ(0, probeDatafileImage(image.data(), image.size(), &r));
}

}  // namespace
