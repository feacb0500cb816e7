// Shared by the tests that run whole ZOR sessions in a scratch directory:
// reading a file back, and running commands through the real command loop
// with standard output captured.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "shell/shell.h"

namespace zorsession {

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
