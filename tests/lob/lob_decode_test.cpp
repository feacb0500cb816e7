// Locator decoding, the map's hash, lookup and argument parser, and the
// UCS-2 conversions and plausibility tests.
#include <cstring>
#include <iconv.h>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "lob/lob.h"
#include "unload/charsets/charset.h"

namespace {

std::vector<uint8_t> locator(uint32_t length, uint8_t flags, uint8_t header)
{
    std::vector<uint8_t> loc(length, 0);
    loc[5] = flags;
    for (uint32_t i = 10; i < 20 && i < length; i++)
        loc[i] = (uint8_t)(i + 6);
    if (length > 22)
        loc[22] = header;
    return loc;
}

TEST(LobLocator, LongFormSizesAndChunkAddresses)
{
    std::vector<uint8_t> loc = locator(44, 0x0C, 0x01);
    loc[27] = 2;
    loc[28] = 0x01;
    loc[29] = 0xF4;
    loc[36] = 0x01;
    loc[39] = 0x05;
    loc[43] = 0x07;
    LobLocator l;
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_TRUE(l.valid && l.hasValue && l.hasSize && !l.inRow);
    EXPECT_EQ(l.pageCount, 2u);
    EXPECT_EQ(l.lastLength, 500u);
    EXPECT_STREQ(l.lobIdText, "10111213141516171819");
    // Up to page count + 1 addresses, but only those wholly inside the locator.
    EXPECT_EQ(l.chunkCount, 2u);
    EXPECT_EQ(getLocatorChunk(loc.data(), 0), 0x01000005u);
    EXPECT_EQ(getLocatorChunk(loc.data(), 1), 7u);
}

TEST(LobLocator, InRowLongFormAsOracleWritesIt)
{
    // AL16UTF16 "Hi": header flags 0x09, page count 0, length at 28..29,
    // text from byte 36.
    std::vector<uint8_t> loc = locator(40, 0x0C, 0x09);
    loc[29] = 4;
    memcpy(loc.data() + 36, "\0H\0i", 4);
    LobLocator l;
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_TRUE(l.inRow);
    EXPECT_EQ(l.inRowOffset, 36u);
    EXPECT_EQ(l.inRowLength, 4u);
    EXPECT_EQ(l.chunkCount, 0u);
    // A length past the locator is cut to what it holds.
    loc[29] = 200;
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_EQ(l.inRowLength, 4u);
}

TEST(LobLocator, ShortFormWidths)
{
    std::vector<uint8_t> loc = locator(40, 0x0C, 0x08);
    loc[26] = 2;
    loc[28] = 3;      // page count 3
    loc[29] = 0x10;   // last length 0x1000
    LobLocator l;
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_EQ(l.pageCount, 3u);
    EXPECT_EQ(l.lastLength, 0x1000u);
    EXPECT_EQ(l.inRowOffset, 32u);
    loc[26] = 3;   // any other width: every page at full length
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_EQ(l.pageCount, 0xFFFFFFFFu);
}

TEST(LobLocator, ShortOrFlaglessLocators)
{
    LobLocator l;
    std::vector<uint8_t> loc = locator(19, 0x0C, 0);
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_FALSE(l.valid);
    loc = locator(24, 0x0C, 0x01);   // size header promised, cut off
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_FALSE(l.valid);
    loc = locator(24, 0x08, 0);      // no size header: index or map alone
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_TRUE(l.valid && l.hasValue && !l.hasSize);
    loc = locator(24, 0x04, 0);
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &l);
    EXPECT_FALSE(l.hasValue);
}

// The fourth flag byte marks a SecureFile locator whatever follows; a
// locator too short for its LOB id is none.
TEST(LobLocator, SecureFileMarkInTheFourthFlagByte)
{
    std::vector<uint8_t> loc = locator(40, 0x0C, 0x48);
    LobLocator out;
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &out);
    EXPECT_FALSE(out.secureFile);
    EXPECT_FALSE(isSecureFileLocator(loc.data(), (uint32_t)loc.size()));
    loc[7] = 0x80;
    decodeLobLocator(loc.data(), (uint32_t)loc.size(), &out);
    EXPECT_TRUE(out.valid);
    EXPECT_TRUE(out.secureFile);
    EXPECT_TRUE(isSecureFileLocator(loc.data(), 20));
    EXPECT_FALSE(isSecureFileLocator(loc.data(), 19));
    EXPECT_FALSE(isSecureFileLocator(nullptr, 40));
}

TEST(LobMap, SuperFastHashWorkedValueAndBucket)
{
    EXPECT_EQ(SuperFastHash("0000001e3c", 10), 0x97360BA8u);
    EXPECT_EQ(lobMapBucket("00000001000000001e3c"), 44u);
    EXPECT_EQ(SuperFastHash("abc", 0), 0u);
    EXPECT_EQ(SuperFastHash(nullptr, 4), 0u);
    // Remainders of 1, 2 and 3 bytes take their own paths.
    EXPECT_NE(SuperFastHash("a", 1), SuperFastHash("ab", 2));
    EXPECT_NE(SuperFastHash("abc", 3), SuperFastHash("abcd", 4));
}

class LobMapLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        map_.reset(static_cast<LobPageMap *>(calloc(1, sizeof(LobPageMap))));
        clearLobPageMap(map_.get());
    }
    void TearDown() override
    {
        if (map_->wholeMap != nullptr)
            fclose(map_->wholeMap);
    }
    void load(const char *text)
    {
        map_->wholeMap = tmpfile();
        fputs(text, map_->wholeMap);
    }
    struct Free {
        void operator()(LobPageMap *m) { free(m); }
    };
    std::unique_ptr<LobPageMap, Free> map_;
};

TEST_F(LobMapLookup, NewestVersionWinsAndEqualVersionsKeepTheFirst)
{
    load("1,00000001000000001e3c,3,5,5,100,\n"
         "1,00000001000000001e3c,3,9,5,101,\n"
         "1,00000001000000001e3c,3,7,5,102,\n"
         "1,00000001000000001e3c,0,4,5,200,\n"
         "1,00000001000000001e3c,0,4,5,201,\n"
         "1,00000001000000001e3d,5,9,5,300,\n"
         "garbage line without fields\n"
         "1,00000001000000001e3c,1,\n");
    readLobBlockMap(map_.get(), "00000001000000001e3c");
    EXPECT_EQ(map_->pageCount, 4u);
    EXPECT_EQ(map_->pages[3].block, 101u);
    EXPECT_EQ(map_->pages[3].version, 9u);
    EXPECT_EQ(map_->pages[0].block, 200u);
    EXPECT_EQ(map_->pages[1].block, 0xFFFFFFFFu);
    readLobBlockMap(map_.get(), "00000001000000001e3e");
    EXPECT_EQ(map_->pageCount, 0u);
}

TEST_F(LobMapLookup, PageNumbersAtAndPastTheTable)
{
    load("1,00000001000000001e3c,524288,1,5,1,\n"
         "1,00000001000000001e3c,4294967295,1,5,1,\n"
         "1,00000001000000001e3c,99999999999999,1,5,1,\n"
         "1,00000001000000001e3c,524287,1,5,7,\n");
    readLobBlockMap(map_.get(), "00000001000000001e3c");
    EXPECT_EQ(map_->pageCount, 524288u);
    EXPECT_EQ(map_->pages[524287].block, 7u);
}

TEST_F(LobMapLookup, ALookupLeavesNothingOfThePreviousOne)
{
    load("1,00000001000000001e3c,500,1,5,1,\n1,00000001000000001e3d,0,1,5,2,\n");
    readLobBlockMap(map_.get(), "00000001000000001e3c");
    EXPECT_EQ(map_->pages[500].block, 1u);
    readLobBlockMap(map_.get(), "00000001000000001e3d");
    EXPECT_EQ(map_->pageCount, 1u);
    EXPECT_EQ(map_->pages[500].block, 0xFFFFFFFFu);
    EXPECT_EQ(map_->pages[500].file, 0xFFFF);
}

TEST_F(LobMapLookup, AShortLineEndsTheLookup)
{
    load("1,00000001000000001e3c,0,1,5,1,\nshort\n1,00000001000000001e3c,1,1,5,2,\n");
    readLobBlockMap(map_.get(), "00000001000000001e3c");
    EXPECT_EQ(map_->pageCount, 1u);
}

TEST(LobMap, ParseLobParams)
{
    std::unique_ptr<UnloadContext> ctx(new UnloadContext());
    memset(ctx.get(), 0, sizeof(UnloadContext));
    parselobparams(ctx.get(), "3.5.1234");
    EXPECT_EQ(ctx->lobIndexFile[2], 5);
    EXPECT_EQ(ctx->lobIndexBlock[2], 1234u);
    for (const char *ignored : {"4.5", "0.5.1", "4097.5.1", "4.0.1", "4.5.0", "x.5.1", "4..1"})
        parselobparams(ctx.get(), ignored);
    for (int c = 0; c < kMaxColumns; c++) {
        if (c == 2)
            continue;
        ASSERT_EQ(ctx->lobIndexFile[c], 0) << c;
    }
}

TEST(Ucs2, ToGbk)
{
    const uint8_t le[] = {0x41, 0x00, 0x2D, 0x4E, 0xAC, 0x20};
    uint8_t out[8];
    EXPECT_EQ(uni2gb(le, 6, nullptr, 0, 0), 5);
    ASSERT_EQ(uni2gb(le, 6, out, sizeof out, 0), 5);
    EXPECT_EQ(memcmp(out, "\x41\xD6\xD0??", 5), 0);
    const uint8_t be[] = {0x4E, 0x2D, 0x00, 0x41};
    ASSERT_EQ(uni2gb(be, 4, out, sizeof out, 1), 3);
    EXPECT_EQ(memcmp(out, "\xD6\xD0\x41", 3), 0);
    // A two-byte code never goes half into the room left.
    EXPECT_EQ(uni2gb(be, 4, out, 1, 1), 0);
}

TEST(Ucs2, GbkTableMatchesTheCLibraryConverter)
{
    ASSERT_EQ(kGbkPairCount, 21791);
    iconv_t cd = iconv_open("CP936", "UCS-2BE");
    ASSERT_NE(cd, (iconv_t)-1);
    for (int i = 0; i < kGbkPairCount; i++) {
        if (i > 0) {
            ASSERT_LT(kGbkUnicode[i - 1], kGbkUnicode[i]);
        }
        uint8_t unit[2] = {(uint8_t)(kGbkUnicode[i] >> 8), (uint8_t)kGbkUnicode[i]};
        uint8_t ours[4], theirs[4];
        ASSERT_EQ(uni2gb(unit, 2, ours, sizeof ours, 1), 2);
        char *in = reinterpret_cast<char *>(unit), *out = reinterpret_cast<char *>(theirs);
        size_t inLeft = 2, outLeft = sizeof theirs;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), (size_t)-1);
        ASSERT_EQ(sizeof theirs - outLeft, 2u) << std::hex << kGbkUnicode[i];
        ASSERT_EQ(memcmp(ours, theirs, 2), 0) << std::hex << kGbkUnicode[i];
    }
    iconv_close(cd);
}

TEST(Ucs2, ToUtf8)
{
    const uint8_t be[] = {0x00, 0xE9, 0x4E, 0x2D, 0x00, 0x00, 0x00, 0x41};
    uint8_t out[16];
    EXPECT_EQ(ucs2ToUtf8(be, 8, nullptr, 0, 1), 5);
    ASSERT_EQ(ucs2ToUtf8(be, 8, out, sizeof out, 1), 5);
    EXPECT_EQ(memcmp(out, "\xC3\xA9\xE4\xB8\xAD", 5), 0);
    // Only whole characters that fit.
    EXPECT_EQ(ucs2ToUtf8(be, 8, out, 4, 1), 2);
    const uint8_t surrogate[] = {0xD8, 0x3D};
    ASSERT_EQ(ucs2ToUtf8(surrogate, 2, out, sizeof out, 1), 3);
}

TEST(Ucs2, Plausibility)
{
    EXPECT_EQ(is_valid_ucs2le_string((const uint8_t *)"A\0B\0", 4), 1);
    EXPECT_EQ(is_valid_ucs2le_string((const uint8_t *)"A\0\1\0", 4), 0);
    EXPECT_EQ(is_valid_ucs2le_string((const uint8_t *)"A\0B", 3), 0);
    EXPECT_EQ(is_valid_ucs2le_string((const uint8_t *)"", 0), 1);
    EXPECT_EQ(is_valid_ucs2be_string((const uint8_t *)"\x4E\x2D\x00\x20", 4), 1);
    EXPECT_EQ(is_valid_ucs2be_string((const uint8_t *)"\xAC\x00", 2), 0);
    EXPECT_EQ(is_valid_ucs2be_string((const uint8_t *)"\xF9\x00\xFA\xD9", 4), 1);
}

}  // namespace
