// Blocks and export files written by real Oracle databases live in the
// shared fixtures beside the checkout (../shared/fixtures/oracle).  A clone
// with nothing beside it skips the tests that need them, saying why.
#pragma once

#include <string>
#include <sys/stat.h>

inline std::string oracleFixtureRoot()
{
    return std::string(ZOR_SOURCE_DIR) + "/../shared/fixtures/oracle";
}

inline bool oracleFixturesPresent()
{
    struct stat st;
    return stat(oracleFixtureRoot().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

#define SKIP_WITHOUT_ORACLE_FIXTURES()                                                                       \
    if (!oracleFixturesPresent())                                                                            \
    GTEST_SKIP() << "the Oracle fixtures are not beside this checkout (" << oracleFixtureRoot() << ")"
