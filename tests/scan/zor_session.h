// Shared by the tests that run whole ZOR sessions in a scratch directory:
// the directory itself, a database the forge writes into it, reading and
// writing files, and running commands through the real command loop with
// standard output captured.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "shell/shell.h"

namespace zorsession {

// A fresh directory under /tmp, the working directory from enter to leave,
// with the ZORDICT and LOBDATA folders a session writes into.
struct ScratchDirectory {
    std::string path;
    std::string saved;  // the working directory before
};

inline void enterScratchDirectory(ScratchDirectory *scratch)
{
    char pattern[] = "/tmp/zor_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch->path = pattern;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    scratch->saved = cwd;
    ASSERT_EQ(chdir(pattern), 0);
    mkdir("ZORDICT", 0777);
    mkdir("LOBDATA", 0777);
}

inline void leaveScratchDirectory(ScratchDirectory *scratch)
{
    if (scratch->saved.empty())
        return;
    if (chdir(scratch->saved.c_str()) != 0)
        ADD_FAILURE() << "cannot return to " << scratch->saved;
    std::string command = "rm -rf '" + scratch->path + "'";
    if (system(command.c_str()) != 0)
        ADD_FAILURE() << "cannot remove " << scratch->path;
    scratch->saved.clear();
}

inline std::string readWhole(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return "<missing " + path + ">";
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    return text;
}

inline void writeWhole(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// The commands, then EXIT, through runZOR; what it printed.
inline std::string runCommands(const std::string &commands)
{
    std::string all = commands + "EXIT\n";
    FILE *in = fmemopen(const_cast<char *>(all.data()), all.size(), "r");
    if (in == nullptr)
        return "<no input>";
    testing::internal::CaptureStdout();
    runZOR(in);
    fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    fclose(in);
    return printed;
}

// Enters a fresh scratch directory and forges `description` (the sample
// database when null) into it.
inline void enterForgedDirectory(ScratchDirectory *scratch, const char *description,
                                 forge::Manifest *manifest)
{
    ASSERT_NO_FATAL_FAILURE(enterScratchDirectory(scratch));
    char error[512] = "";
    bool ok = description == nullptr
                  ? forge::forgeSample(scratch->path.c_str(), manifest, error, sizeof error)
                  : forge::forgeFromTextWithManifest(description, scratch->path.c_str(), manifest, error,
                                                     sizeof error);
    ASSERT_TRUE(ok) << error;
}

// A forged database in a scratch directory, and ZOR run on it in process.
class ForgedDatabase : public ::testing::Test {
protected:
    void forge(const char *description)
    {
        ASSERT_NO_FATAL_FAILURE(enterForgedDirectory(&scratch_, description, &manifest_));
    }
    void TearDown() override
    {
        leaveScratchDirectory(&scratch_);
    }
    // Runs the commands after OPEN of `config`; returns what went to stdout.
    std::string run(const std::string &commands, const char *config = "zor.cfg")
    {
        return runCommands(std::string("OPEN ") + config + "\n" + commands);
    }
    const forge::ManifestTable *table(const char *name) const
    {
        for (const forge::ManifestTable &t : manifest_.tables)
            if (t.name == name)
                return &t;
        return nullptr;
    }

    ScratchDirectory scratch_;
    forge::Manifest manifest_;
};

}  // namespace zorsession
