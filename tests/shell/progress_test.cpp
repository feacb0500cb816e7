#include <gtest/gtest.h>

#include <string>

#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

// The meter's last line, as SET PROGRESS ON draws it when the command ends,
// after `blocksRead` blocks of 8 KB and with `total` blocks announced.
std::string finalMeter(uint64_t blocksRead, uint64_t total)
{
    setProgressMode(kProgressOn);
    uint64_t rows = 3;
    beginProgress("UNLOAD", 0, 8192, &rows);
    addProgressTotal(total);
    g_positionedReads.bytes += blocksRead * 8192;
    testing::internal::CaptureStderr();
    endProgress();
    std::string line = testing::internal::GetCapturedStderr();
    setProgressMode(kProgressAuto);
    return line;
}

}  // namespace

TEST(ProgressTotal, AnExtentMapsBlockCountGivesTheTotalAndTheTimeLeft)
{
    std::string line = finalMeter(25, 100);
    EXPECT_NE(line.find("\r  UNLOAD  25/100 blocks  3 rows  "), std::string::npos) << line;
    EXPECT_NE(line.find(" left\033[K"), std::string::npos) << line;
}

TEST(ProgressTotal, WithoutATotalOnlyTheBlocksReadShow)
{
    std::string line = finalMeter(25, 0);
    EXPECT_NE(line.find("\r  UNLOAD  25 blocks  3 rows  "), std::string::npos) << line;
    EXPECT_EQ(line.find(" left"), std::string::npos) << line;
}

TEST(ProgressTotal, ReadAheadPastASmallSegmentsEndDoesNotPassTheTotal)
{
    std::string line = finalMeter(32, 8);
    EXPECT_NE(line.find("\r  UNLOAD  8/8 blocks  3 rows  "), std::string::npos) << line;
    EXPECT_EQ(line.find(" left"), std::string::npos) << line;
}
