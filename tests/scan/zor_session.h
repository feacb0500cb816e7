// Shared by the tests that run whole ZOR sessions in a scratch directory:
// the directory itself, reading a file back, and running commands through
// the real command loop with standard output captured.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

}  // namespace zorsession
