// A fresh working directory with a ZORDICT folder for each test, and small
// helpers to write handwritten dictionary files into it and to catch what a
// listing writes to a stream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "block/test_block_builder.h"
#include "dictionary/dictionary.h"

class DictionaryDir : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zor_dict_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        ASSERT_EQ(mkdir("ZORDICT", 0777), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(previous_), 0);
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    std::string dir_;
    char previous_[4096];
};

inline void writeDictFile(const char *path, const std::string &content) {
    FILE *f = fopen(path, "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

// A line of text in the CommandLine layout the parsers walk.
inline void setLine(CommandLine *line, const std::string &text) {
    memset(line, 0, sizeof *line);
    snprintf(line->text, sizeof line->text, "%s", text.c_str());
    line->length = (uint32_t)strlen(line->text);
}

// Collects what a function writes to a stream.
using CapturedStream = testblock::Capture;

inline FILE *beginCapture(CapturedStream *capture) {
    testblock::openCapture(capture);
    return capture->stream;
}

inline std::string endCapture(CapturedStream *capture) {
    return testblock::closeCapture(capture);
}
