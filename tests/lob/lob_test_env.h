// A forged database in a temporary directory, and ZOR run on it in process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"
#include "shell/shell.h"

using zorsession::readWhole;

class ForgedDatabase : public ::testing::Test {
protected:
    // Forges `description` (or the sample database when null) and enters
    // its directory.
    void forge(const char *description)
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        char error[512] = "";
        bool ok = description == nullptr
                      ? forge::forgeSample(scratch_.path.c_str(), &manifest_, error, sizeof error)
                      : forge::forgeFromTextWithManifest(description, scratch_.path.c_str(), &manifest_,
                                                         error, sizeof error);
        ASSERT_TRUE(ok) << error;
    }
    void TearDown() override
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }
    // Runs the commands after OPEN of `config`; returns what went to stdout.
    std::string run(const std::string &commands, const char *config = "zor.cfg")
    {
        return zorsession::runCommands(std::string("OPEN ") + config + "\n" + commands);
    }
    const forge::ManifestTable *table(const char *name) const
    {
        for (const forge::ManifestTable &t : manifest_.tables)
            if (t.name == name)
                return &t;
        return nullptr;
    }

    zorsession::ScratchDirectory scratch_;
    forge::Manifest manifest_;
};

#include "datafile/datafile.h"
#include "datafile/datafile_test_env.h"
#include "lob/lob.h"

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
