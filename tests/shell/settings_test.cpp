#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

// A shell with just what SET touches.
struct SetFixture {
    ShellState shell;
    UnloadContext ctx;
    CommandLine cmd;
    ReadAheadWindow window;
};

void initFixture(SetFixture *f) {
    memset(f, 0, sizeof *f);
    f->ctx.blockSize = 8192;
    f->ctx.block = (uint8_t *)calloc(1, 8192);
    f->window.capacity = kDefaultWindowCapacity;
    f->window.buffer = (uint8_t *)malloc(kDefaultWindowCapacity);
    f->ctx.dataWindow = &f->window;
    f->ctx.nchar = f->ctx.nclob = f->ctx.clob = kNoConverter;
    f->shell.ctx = &f->ctx;
    f->shell.command = &f->cmd;
}

void releaseFixture(SetFixture *f) {
    free(f->ctx.block);
    free(f->window.buffer);
}

std::string runSet(SetFixture *f, const char *args) {
    snprintf(f->cmd.text, sizeof f->cmd.text, "SET %s", args);
    f->cmd.length = (uint32_t)strlen(f->cmd.text);
    f->cmd.start = 0;
    f->cmd.end = 3;
    testing::internal::CaptureStdout();
    runSetCommand(&f->shell);
    return testing::internal::GetCapturedStdout();
}

TEST(Settings, CacheSizeClampsAndEmptiesTheWindow) {
    SetFixture f;
    initFixture(&f);
    f.window.file = 3;
    f.window.first = 10;
    f.window.count = 32;
    EXPECT_EQ(runSet(&f, "CACHE_SIZE 10"), "");
    EXPECT_EQ(f.window.capacity, 65536u);
    EXPECT_EQ(f.window.count, 0);
    EXPECT_EQ(f.window.file, 0);
    runSet(&f, "CACHE_SIZE 100000");
    EXPECT_EQ(f.window.capacity, 8388608u);
    runSet(&f, "CACHE_SIZE -1");  // taken as unsigned: far above the ceiling
    EXPECT_EQ(f.window.capacity, 8388608u);
    runSet(&f, "CACHE_SIZE 1000");
    EXPECT_EQ(f.window.capacity, 1024000u);
    runSet(&f, "CACHE_SIZE");
    EXPECT_EQ(f.window.capacity, 262144u);
    releaseFixture(&f);
}

TEST(Settings, BlockSizeReplacesTheBufferOnlyWhenItChanges) {
    SetFixture f;
    initFixture(&f);
    f.window.count = 5;
    uint8_t *before = f.ctx.block;
    EXPECT_EQ(runSet(&f, "BLOCK_SIZE 8192"), "  Current BLOCK_SIZE is : 8192\n");
    EXPECT_EQ(f.ctx.block, before);
    EXPECT_EQ(f.window.count, 5);
    EXPECT_EQ(runSet(&f, "BLOCK_SIZE 6144"), "  Current BLOCK_SIZE is : 6144\n");
    EXPECT_EQ(f.ctx.blockSize, 6144);
    EXPECT_EQ(f.window.count, 0);
    f.ctx.block[6143] = 1;  // the new buffer holds exactly the new size (ASan checks)
    runSet(&f, "BLOCK_SIZE -2048");
    EXPECT_EQ(f.ctx.blockSize, 6144);
    releaseFixture(&f);
}

TEST(Settings, TransOffsetAndTagsAreStoredAsShown) {
    SetFixture f;
    initFixture(&f);
    EXPECT_EQ(runSet(&f, "TRANS_OFFSET 9000"), "  Current TRANS_OFFSET is : 0\n");
    EXPECT_EQ(runSet(&f, "TRANS_OFFSET 8191"), "  Current TRANS_OFFSET is : 8191\n");
    EXPECT_EQ(f.ctx.transOffset, 8191);
    runSet(&f, "FIELD_TAG \\x01");
    EXPECT_STREQ(f.shell.fieldTagValue, "\x01");
    // A word longer than the tag keeps its first 127 characters.
    std::string longWord(300, 'w');
    runSet(&f, ("LONG_TAG " + longWord).c_str());
    EXPECT_EQ(std::string(f.shell.longTagValue), longWord.substr(0, 127));
    runSet(&f, ("RECORD_TAG " + longWord).c_str());
    EXPECT_EQ(strlen(f.shell.recordTagValue), 127u);
    EXPECT_EQ(runSet(&f, "MAXLOBDIR 65636"), "  Current MAXLOBDIR is : 100\n");  // u16 wraps to 100
    releaseFixture(&f);
}

}  // namespace
