// The parallel unload engine with traversals of its own making: the output
// and the messages come back in the serial order at any worker count, the
// counters add up, the unknown-type warning limit holds across workers, and
// a worker that dies makes the unload fail instead of ending it short.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "unload/parallel/background_writer.h"
#include "unload/parallel/parallel_unload.h"

namespace {

constexpr uint32_t kBlocks = 1000;

struct FakeTraversal {
    UnloadContext *ctx;
    uint32_t dieAt;  // the owner of this block ends its process; kBlocks: none
};

// Every block writes a line to the output and every seventh a message; every
// block "warns" about column 2 the way the row writer does.
void fakeTraverse(FILE *out, void *arg)
{
    FakeTraversal *t = static_cast<FakeTraversal *>(arg);
    // Output between blocks, like a segment's header line, comes once.
    fputs("header of the output\n", out);
    printf("before the first block\n");
    for (uint32_t b = 0; b < kBlocks; b++) {
        if (b % 100 == 50) {
            fprintf(out, "next segment at %u\n", b);
            printf("segment at %u\n", b);
        }
        if (!ownsNextBlock())
            continue;
        if (b == t->dieAt)
            _exit(9);
        fprintf(out, "block %u row\n", b);
        t->ctx->rowsUnloaded += b % 3;
        if (b % 7 == 0)
            printf("message of block %u\n", b);
        if (t->ctx->unknownTypeWarnings[2] < 5) {
            t->ctx->unknownTypeWarnings[2]++;
            markUnknownTypeWarning(2);
            printf("Warnings : column 3 at block %u\n", b);
        }
    }
    printf("after the last block\n");
}

// A traversal that meets no block still prints what it prints, once.
void emptyTraverse(FILE *out, void *)
{
    fputs("no blocks\n", out);
    printf("nothing found\n");
}

struct RunResult {
    bool complete;
    std::string output;
    std::string printed;
    uint64_t rows;
};

RunResult runFake(uint32_t workers, uint32_t dieAt)
{
    UnloadContext *ctx = static_cast<UnloadContext *>(calloc(1, sizeof(UnloadContext)));
    FakeTraversal t = {ctx, dieAt};
    FILE *out = tmpfile();
    RunResult r;
    testing::internal::CaptureStdout();
    r.complete = runParallelTraversal(out, ctx, workers, fakeTraverse, &t);
    fflush(stdout);
    r.printed = testing::internal::GetCapturedStdout();
    rewind(out);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, out)) > 0)
        r.output.append(buffer, n);
    fclose(out);
    r.rows = ctx->rowsUnloaded;
    free(ctx);
    return r;
}

TEST(ParallelUnload, ChunksComeBackInSerialOrderAtEveryWorkerCount)
{
    RunResult serial = runFake(1, kBlocks);
    ASSERT_TRUE(serial.complete);
    EXPECT_EQ(serial.rows, 999u);
    EXPECT_NE(serial.printed.find("Warnings : column 3 at block 4\n"), std::string::npos);
    EXPECT_EQ(serial.printed.find("Warnings : column 3 at block 5\n"), std::string::npos);
    for (uint32_t workers : {2u, 3u, 7u, 64u}) {
        RunResult parallel = runFake(workers, kBlocks);
        EXPECT_TRUE(parallel.complete) << workers;
        EXPECT_EQ(parallel.rows, serial.rows) << workers;
        EXPECT_TRUE(parallel.output == serial.output) << workers;
        EXPECT_EQ(parallel.printed, serial.printed) << workers;
    }
}

TEST(ParallelUnload, TraversalWithoutBlocksPrintsOnce)
{
    UnloadContext *ctx = static_cast<UnloadContext *>(calloc(1, sizeof(UnloadContext)));
    FILE *out = tmpfile();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(runParallelTraversal(out, ctx, 4, emptyTraverse, nullptr));
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "nothing found\n");
    rewind(out);
    char text[64] = "";
    EXPECT_EQ(fread(text, 1, sizeof text - 1, out), 10u);
    EXPECT_STREQ(text, "no blocks\n");
    fclose(out);
    free(ctx);
}

// The parent writes the workers' bytes itself: a device that takes none
// leaves the error on the stream for the close to report.
TEST(ParallelUnload, OutputThatCannotBeWrittenKeepsItsError)
{
    UnloadContext *ctx = static_cast<UnloadContext *>(calloc(1, sizeof(UnloadContext)));
    FakeTraversal t = {ctx, kBlocks};
    FILE *out = openBackgroundWriter("/dev/full");
    ASSERT_NE(out, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(runParallelTraversal(out, ctx, 2, fakeTraverse, &t));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ctx->rowsUnloaded, 999u);
    EXPECT_EQ(fclose(out), EOF);
    free(ctx);
}

TEST(ParallelUnload, WorkerThatDiesFailsTheUnload)
{
    // Block 700 lies in chunk 21 of 32 blocks: the first worker's of three.
    testing::internal::CaptureStderr();
    RunResult r = runFake(3, 700);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(r.complete);
    EXPECT_NE(errors.find("the output is incomplete"), std::string::npos) << errors;
    // Nothing of the blocks after the failed chunk is written.
    EXPECT_EQ(r.output.find("block 700 row"), std::string::npos);
    EXPECT_EQ(r.output.find("block 999 row"), std::string::npos);
}

}  // namespace
