// The sample database forged in a scratch directory (scan/zor_session.h),
// and its datafiles opened in process for the LOB writers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "datafile/datafile.h"
#include "datafile/datafile_test_env.h"
#include "lob/lob.h"
#include "scan/zor_session.h"

using zorsession::ForgedDatabase;
using zorsession::readWhole;

// The registry and a context as the shell sets them up, over the datafiles
// of a configuration file in the current directory.
struct OpenedDatabase {
    DatafileSet *set = nullptr;
    UnloadContext *ctx = nullptr;
};

inline void openDatabase(OpenedDatabase *db, const char *config, uint16_t blockSize = 8192)
{
    UnloadContext *ctx = newTestContext(blockSize);
    db->ctx = ctx;
    db->set = ctx->datafiles;
    ctx->lobMap = static_cast<LobPageMap *>(calloc(1, sizeof(LobPageMap)));
    clearLobPageMap(ctx->lobMap);
    ctx->chunkCount = 1;
    ctx->maxLobDirs = 500;
    FILE *cfg = fopen(config, "r");
    ASSERT_NE(cfg, nullptr);
    loadConfig(db->set, cfg);
    fclose(cfg);
    openDBFile(db->set, nullptr);
    testing::internal::CaptureStdout();
    checkFileHeader(ctx);
    testing::internal::GetCapturedStdout();
}

inline void closeDatabase(OpenedDatabase *db)
{
    if (db->ctx == nullptr)
        return;
    if (db->ctx->lobMap->wholeMap != nullptr)
        closeLobMapAfterUnload(db->ctx->lobMap);
    free(db->ctx->lobMap);
    freeTestContext(db->ctx);
    db->ctx = nullptr;
}

// What a writer puts on a stream, captured in memory.
struct Captured {
    char *data = nullptr;
    size_t size = 0;
    FILE *stream = nullptr;
    Captured()
    {
        stream = open_memstream(&data, &size);
    }
    ~Captured()
    {
        if (stream != nullptr)
            fclose(stream);
        free(data);
    }
    std::string text()
    {
        fflush(stream);
        return std::string(data, size);
    }
};
