// The output file written by its own thread: the bytes come out exactly as
// given, whatever the sizes of the writes (small ones, ones across the
// buffers, ones larger than the whole ring) and whether the file system
// takes direct writes, seeking or reading first writes everything given
// before, and a failed write fails the close.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "scan/zor_session.h"
#include "unload/parallel/background_writer.h"

namespace {

std::string tempPath(const char *directory = "/tmp")
{
    std::string pattern = std::string(directory) + "/zor-writer-XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd >= 0)
        close(fd);
    return pattern;
}

// The working directory lies on the disk of the build, /tmp and /dev/shm
// may be memory: direct writes are taken where the file system has them
// and plain ones elsewhere, with the same bytes.
class BackgroundWriterIn : public testing::TestWithParam<const char *> {};

INSTANTIATE_TEST_SUITE_P(Directories, BackgroundWriterIn, testing::Values(".", "/tmp", "/dev/shm"));

TEST_P(BackgroundWriterIn, WritesEveryByteInOrder)
{
    if (access(GetParam(), W_OK) != 0)
        GTEST_SKIP() << GetParam() << " cannot be written here";
    std::string path = tempPath(GetParam());
    FILE *out = openBackgroundWriter(path.c_str());
    ASSERT_NE(out, nullptr);
    setvbuf(out, nullptr, _IOFBF, 262144);
    std::string expected;
    uint32_t seed = 7;
    // Sizes from one byte to 6 MB, more than the four 1 MB buffers hold.
    for (size_t size : {1u, 17u, 4096u, 262143u, 1048576u, 1048577u, 6u << 20, 3u, 999999u}) {
        std::string piece(size, '\0');
        for (char &c : piece) {
            seed = seed * 1103515245 + 12345;
            c = static_cast<char>(seed >> 24);
        }
        ASSERT_EQ(fwrite(piece.data(), 1, piece.size(), out), piece.size());
        expected += piece;
    }
    for (int i = 0; i < 100000; i++)
        fprintf(out, "%d|", i);
    for (int i = 0; i < 100000; i++)
        expected += std::to_string(i) + "|";
    EXPECT_EQ(fclose(out), 0);
    EXPECT_TRUE(zorsession::readWhole(path) == expected);
    unlink(path.c_str());
}

TEST(BackgroundWriter, SeekAndReadSeeWhatWasWritten)
{
    std::string path = tempPath();
    FILE *out = openBackgroundWriter(path.c_str());
    ASSERT_NE(out, nullptr);
    std::string big(3u << 20, 'x');
    fwrite(big.data(), 1, big.size(), out);
    fputs("tail", out);
    ASSERT_EQ(fseeko(out, 0, SEEK_SET), 0);
    fputs("head", out);
    ASSERT_EQ(fseeko(out, -4, SEEK_END), 0);
    char four[5] = "";
    ASSERT_EQ(fread(four, 1, 4, out), 4u);
    EXPECT_STREQ(four, "tail");
    EXPECT_EQ(fclose(out), 0);
    EXPECT_TRUE(zorsession::readWhole(path) == "head" + big.substr(4) + "tail");
    unlink(path.c_str());
}

TEST(BackgroundWriter, UnwritableFileIsRefused)
{
    EXPECT_EQ(openBackgroundWriter("/nonexistent-dir/zor.txt"), nullptr);
}

// A full disk is not a success: the close says so, with the reason.
TEST(BackgroundWriter, FailedWritesFailTheCloseWithTheirReason)
{
    FILE *out = openBackgroundWriter("/dev/full");
    ASSERT_NE(out, nullptr);
    std::string big(3u << 20, 'x');
    fwrite(big.data(), 1, big.size(), out);
    errno = 0;
    EXPECT_EQ(fclose(out), EOF);
    EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
