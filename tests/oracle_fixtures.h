// Blocks and export files written by real Oracle databases live in the
// shared fixtures beside the checkout (../shared/fixtures/oracle).  A clone
// with nothing beside it skips the tests that need them, saying why.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

inline std::string oracleFixtureRoot()
{
    return std::string(ZOR_SOURCE_DIR) + "/../shared/fixtures/oracle";
}

inline bool oracleFixturesPresent()
{
    struct stat st;
    return stat(oracleFixtureRoot().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The bytes of a file; none when it cannot be read.
inline std::vector<uint8_t> fileBytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

// A file of the fixtures by its path below their root; none when absent.
inline std::vector<uint8_t> oracleFixtureBytes(const std::string &name)
{
    return fileBytes(oracleFixtureRoot() + "/" + name);
}

#define SKIP_WITHOUT_ORACLE_FIXTURES()                                                                       \
    if (!oracleFixturesPresent())                                                                            \
    GTEST_SKIP() << "the Oracle fixtures are not beside this checkout (" << oracleFixtureRoot() << ")"
