// Helpers for the block dump tests: a context over a forge block, the text a
// printer writes, and whole dumps compared with the expected files under
// tests/block/expected (checked by hand once against the dump formats).
// Setting ZOR_WRITE_EXPECTED=1 rewrites a missing or differing expected
// file instead of failing, for the first hand check of a new case.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "forge/forge.h"
#include "test_block_builder.h"

namespace dumptest {

inline std::unique_ptr<UnloadContext> contextFor(forge::Block &block)
{
    return testblock::makeContext(block.bytes, static_cast<uint8_t>(block.order));
}

template <typename Printer>
std::string capture(Printer printer, UnloadContext *ctx)
{
    testblock::Capture c;
    testblock::openCapture(&c);
    printer(c.stream, ctx);
    return testblock::closeCapture(&c);
}

inline std::string expectedPath(const char *name)
{
    return std::string(ZOR_SOURCE_DIR) + "/tests/block/expected/" + name + ".txt";
}

inline bool readExpected(const char *name, std::string *out)
{
    FILE *f = fopen(expectedPath(name).c_str(), "rb");
    if (f == nullptr)
        return false;
    out->clear();
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->append(buffer, n);
    fclose(f);
    return true;
}

inline void expectMatchesFile(const std::string &actual, const char *name)
{
    std::string expected;
    bool have = readExpected(name, &expected);
    const char *write = getenv("ZOR_WRITE_EXPECTED");
    if (write != nullptr && write[0] == '1' && (!have || expected != actual)) {
        FILE *f = fopen(expectedPath(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(actual.data(), 1, actual.size(), f);
        fclose(f);
        return;
    }
    ASSERT_TRUE(have) << "missing " << expectedPath(name);
    EXPECT_EQ(actual, expected) << "dump differs from " << expectedPath(name);
}

}  // namespace dumptest
