// Extended ROWIDs: the alphabet, the edge cases of encoding and parsing, and
// round trips of many values through RowidCreate and RowidParse.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "block/test_block_builder.h"
#include "unload/rows/rowid.h"

namespace {

// Runs a printer into a memory stream and returns what it wrote.
std::string captureCreate(uint32_t objd, uint32_t rdba, uint16_t slot)
{
    testblock::Capture c;
    testblock::openCapture(&c);
    RowidCreate(c.stream, objd, rdba, slot);
    return testblock::closeCapture(&c);
}

std::string captureParse(const char *rowid)
{
    testblock::Capture c;
    testblock::openCapture(&c);
    RowidParse(c.stream, rowid);
    return testblock::closeCapture(&c);
}

std::string encoded(uint32_t objd, uint32_t rdba, uint16_t slot)
{
    char rowid[kRowidLength];
    encodeRowid(objd, rdba, slot, rowid);
    return std::string(rowid, kRowidLength);
}

}  // namespace

TEST(Rowid, Alphabet)
{
    EXPECT_EQ('A', INDEX2CHAR(0));
    EXPECT_EQ('Z', INDEX2CHAR(25));
    EXPECT_EQ('a', INDEX2CHAR(26));
    EXPECT_EQ('z', INDEX2CHAR(51));
    EXPECT_EQ('0', INDEX2CHAR(52));
    EXPECT_EQ('9', INDEX2CHAR(61));
    EXPECT_EQ('+', INDEX2CHAR(62));
    EXPECT_EQ('/', INDEX2CHAR(63));
    EXPECT_EQ('A', INDEX2CHAR(64));
    EXPECT_EQ('A', INDEX2CHAR(0xFFFFFFFF));
    for (uint32_t v = 0; v < 64; v++)
        EXPECT_EQ(v, CHAR2INDEX(INDEX2CHAR(v)));
    EXPECT_EQ(0u, CHAR2INDEX('*'));
    EXPECT_EQ(0u, CHAR2INDEX(' '));
    EXPECT_EQ(0u, CHAR2INDEX('\xC3'));
}

TEST(Rowid, ObjectOneFileOneBlockOneSlotZero)
{
    EXPECT_EQ("AAAAABAABAAAAABAAA", encoded(1, 0x00400001, 0));
    EXPECT_EQ("\nOBJD  = 1\nRDBA  = 0x00400001 = 4194305\nRFN#  = 1\nBID#  = 1\nSLOT  = 0\n"
              "ROWID = AAAAABAABAAAAABAAA\n\n",
              captureCreate(1, 0x00400001, 0));
}

TEST(Rowid, ParsePrintsTheSameReport)
{
    EXPECT_EQ(captureCreate(1, 0x00400001, 0), captureParse("AAAAABAABAAAAABAAA"));
}

TEST(Rowid, LengthAndValueMessages)
{
    EXPECT_EQ("Invalid rowid length!\n", captureParse("AAAAABAABAAAAABAA"));
    EXPECT_EQ("Invalid rowid length!\n", captureParse("AAAAABAABAAAAABAAAA"));
    EXPECT_EQ("Invalid rowid length!\n", captureParse(""));
    EXPECT_EQ("Invalid rowid value : * !\n", captureParse("AAAAAB*ABAAAAABAAA"));
    EXPECT_EQ("Invalid rowid value : - !\n", captureParse("AAAAABAABAAAAAB-A*"));   // the first bad one
}

TEST(Rowid, IgnoredCharacters)
{
    std::string plain = captureParse("AAAAABAABAAAAABAAA");
    EXPECT_EQ(plain, captureParse("AAAAABBABAAAAABAAA"));   // character 7
    EXPECT_EQ(plain, captureParse("AAAAABAAB//AAABAAA"));   // characters 10 and 11
}

TEST(Rowid, ExtremeValues)
{
    EXPECT_EQ("D/////AP/AAP///P//", encoded(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF));
    EXPECT_EQ(captureCreate(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF), captureParse("D/////AP/AAP///P//"));
    EXPECT_EQ("AAAAAAAAAAAAAAAAAA", encoded(0, 0, 0));
    // A first character above "D" does not fit 32 bits: the value wraps.
    EXPECT_EQ(captureCreate(0, 0, 0), captureParse("EAAAAAAAAAAAAAAAAA"));
    // Character 8 above "P" gives its low four bits, character 12 likewise.
    EXPECT_EQ(captureParse("AAAAAAABAAAAAAAAAA"), captureParse("AAAAAAARAAAAAAAAAA"));
    EXPECT_EQ(captureParse("AAAAAAAAAAABAAAAAA"), captureParse("AAAAAAAAAAARAAAAAA"));
    // Character 16 carries the slot's top four bits; above "P" the slot wraps.
    EXPECT_EQ(captureCreate(0, 0, 0), captureParse("AAAAAAAAAAAAAAAQAA"));
}

TEST(Rowid, RandomRoundTrips)
{
    std::mt19937 random(20240601);
    for (int i = 0; i < 20000; i++) {
        uint32_t objd = random();
        uint32_t rdba = random();
        uint16_t slot = static_cast<uint16_t>(random());
        std::string rowid = encoded(objd, rdba, slot);
        std::string report = captureCreate(objd, rdba, slot);
        ASSERT_EQ(report, captureParse(rowid.c_str())) << rowid;
        ASSERT_NE(std::string::npos, report.find("ROWID = " + rowid + "\n\n"));
    }
}
