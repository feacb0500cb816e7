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
#include "scan/zor_session.h"

class DictionaryDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
    }
    void TearDown() override
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }
    zorsession::ScratchDirectory scratch_;
};

inline void writeDictFile(const char *path, const std::string &content) {
    zorsession::writeWhole(path, content);
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
