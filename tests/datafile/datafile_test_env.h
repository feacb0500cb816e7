// A context, a registry, lists and windows set up the way runZOR sets them
// up, in a fresh temporary directory; plus small helpers that write
// datafiles with the forge.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datafile/datafile.h"
#include "forge/forge.h"
#include "core/unload_context.h"

struct DatafileTestEnv {
    UnloadContext *ctx;
    DatafileSet *set;
    RdbaList *corrupt;
    RdbaList *skip;
    ReadAheadWindow *dataWindow;
    ReadAheadWindow *lobWindow;
    ReadAheadWindow *indexWindow;
    std::string dir;
};

inline ReadAheadWindow *newTestWindow(uint32_t capacity)
{
    ReadAheadWindow *w = static_cast<ReadAheadWindow *>(calloc(1, sizeof(ReadAheadWindow)));
    w->capacity = capacity;
    w->buffer = static_cast<uint8_t *>(calloc(1, capacity));
    return w;
}

inline void freeTestWindow(ReadAheadWindow *w)
{
    free(w->buffer);
    free(w);
}

// A context over its own registry, lists and windows, with the defaults
// runZOR gives a session.
inline UnloadContext *newTestContext(uint16_t blockSize, uint32_t windowCapacity = kDefaultWindowCapacity)
{
    UnloadContext *ctx = static_cast<UnloadContext *>(calloc(1, sizeof(UnloadContext)));
    ctx->blockSize = blockSize;
    ctx->block = static_cast<uint8_t *>(calloc(1, blockSize));
    ctx->datafiles = static_cast<DatafileSet *>(calloc(1, sizeof(DatafileSet)));
    ctx->corruptList = static_cast<RdbaList *>(calloc(1, sizeof(RdbaList)));
    ctx->skipList = static_cast<RdbaList *>(calloc(1, sizeof(RdbaList)));
    ctx->dataWindow = newTestWindow(windowCapacity);
    ctx->lobWindow = newTestWindow(kLobWindowCapacity);
    ctx->indexWindow = newTestWindow(kIndexWindowCapacity);
    ctx->rowLimit = kNoRowLimit;
    ctx->nchar = kNoConverter;
    ctx->nclob = kNoConverter;
    ctx->clob = kNoConverter;
    return ctx;
}

inline void freeTestContext(UnloadContext *ctx)
{
    closeDBFile(ctx->datafiles);
    free(ctx->block);
    free(ctx->datafiles);
    free(ctx->corruptList);
    free(ctx->skipList);
    freeTestWindow(ctx->dataWindow);
    freeTestWindow(ctx->lobWindow);
    freeTestWindow(ctx->indexWindow);
    free(ctx);
}

inline void setUpDatafileEnv(DatafileTestEnv *env, uint16_t blockSize = 8192,
                             uint32_t windowCapacity = kDefaultWindowCapacity)
{
    UnloadContext *ctx = newTestContext(blockSize, windowCapacity);
    env->ctx = ctx;
    env->set = ctx->datafiles;
    env->corrupt = ctx->corruptList;
    env->skip = ctx->skipList;
    env->dataWindow = ctx->dataWindow;
    env->lobWindow = ctx->lobWindow;
    env->indexWindow = ctx->indexWindow;
    char pattern[] = "/tmp/zor-datafile-XXXXXX";
    char *made = mkdtemp(pattern);
    env->dir = made != nullptr ? made : "/tmp";
}

inline void tearDownDatafileEnv(DatafileTestEnv *env)
{
    freeTestContext(env->ctx);
    std::string cmd = "rm -rf '" + env->dir + "'";
    if (system(cmd.c_str()) != 0) {
        // A leftover temporary directory is harmless.
    }
}

// Changes the block size and its buffer, as SET BLOCK_SIZE does.
inline void setTestBlockSize(DatafileTestEnv *env, uint16_t blockSize)
{
    free(env->ctx->block);
    env->ctx->block = static_cast<uint8_t *>(calloc(1, blockSize));
    env->ctx->blockSize = blockSize;
    emptyReadAheadWindow(env->dataWindow);
}

// A sealed type-6 block that carries the RDBA of its place in the file, so
// a test can tell which block a read delivered.
inline forge::Block markedBlock(const forge::DatafileLayout *layout, uint32_t blockNo)
{
    forge::Block block;
    forge::initBlock(&block, layout->blockSize, layout->order);
    forge::CacheHeader header;
    forge::initCacheHeader(&header, forge::kTypeData, forge::blockRdba(layout, blockNo));
    forge::putCacheHeader(&block, &header);
    forge::putU32(&block, 24, 0xC0DE0000u + blockNo);   // data object id: another marker
    forge::sealBlock(&block);
    return block;
}

// Writes a datafile; every block from firstMarked on (below blockCount)
// carries its own RDBA when markAll is set.
inline bool writeTestDatafile(const forge::DatafileLayout *layout, bool markAll)
{
    std::vector<forge::PlacedBlock> blocks;
    if (markAll) {
        for (uint32_t n = 2; n < layout->blockCount; n++) {
            forge::PlacedBlock placed;
            placed.blockNo = n;
            placed.block = markedBlock(layout, n);
            blocks.push_back(placed);
        }
    }
    char error[256];
    return forge::writeDatafile(layout, blocks.data(), blocks.size(), error, sizeof error);
}

inline bool writeTextFile(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// loadConfig + openDBFile + CHECK, as OPEN does; returns what they printed.
inline std::string openConfigText(DatafileTestEnv *env, const std::string &text)
{
    std::string path = env->dir + "/files.cfg";
    writeTextFile(path, text);
    FILE *config = fopen(path.c_str(), "r");
    if (config == nullptr)
        return "<no config>";
    testing::internal::CaptureStdout();
    closeDBFile(env->set);
    loadConfig(env->set, config);
    openDBFile(env->set, nullptr);
    checkFileHeader(env->ctx);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    fclose(config);
    emptyReadAheadWindow(env->dataWindow);
    return out;
}

constexpr const char *kCheckHeading =
    "*  ts#  rfn ver bsize     blocks   sizemb hsize filename\n"
    "- ---- ---- --- ----- ---------- -------- ----- -----------------------------------\n";
