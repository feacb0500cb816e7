// The column guesser on values laid into a block buffer by hand: the value
// tests, the first guess, the revisions from later values, and the words of
// a proposal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "block/test_block_builder.h"
#include "scan/scan.h"

using namespace testblock;

namespace {

using Bytes = std::vector<uint8_t>;

struct Guesser {
    Bytes image = Bytes(8192, 0);
    std::unique_ptr<UnloadContext> ctx = makeContext(image, kLittle);
    ColumnGuessState state;
    uint32_t next = 100;

    Guesser()
    {
        resetColumnGuess(&state);
        ctx->columnGuess = &state;
    }
    // Places the value in the block and feeds it as column k.
    void feed(uint32_t k, const Bytes &value)
    {
        if (!value.empty())
            memcpy(image.data() + next, value.data(), value.size());
        guessField(ctx.get(), next, static_cast<uint32_t>(value.size()), k);
        next += static_cast<uint32_t>(value.size()) + 1;
    }
    uint8_t type(uint32_t k) const { return state.type[k]; }
    // Offset of a value placed without feeding it.
    uint32_t place(const Bytes &value)
    {
        uint32_t at = next;
        memcpy(image.data() + at, value.data(), value.size());
        next += static_cast<uint32_t>(value.size()) + 1;
        return at;
    }
};

Bytes text(const char *s) { return Bytes(s, s + strlen(s)); }

const Bytes kDate = {0x78, 0x76, 0x01, 0x01, 0x01, 0x01, 0x01};
const Bytes kNumber42 = {0xC1, 0x2B};
const Bytes kBinaryDouble = {0xBF, 0xF0, 0, 0, 0, 0, 0, 0};   // 1.0
const Bytes kNotText4 = {0x01, 0x02, 0x03, 0x04};

Bytes locator(uint8_t kind, uint32_t length)
{
    Bytes b(length, 0);
    b[1] = 0x70;
    b[3] = 1;
    b[9] = kind;
    for (int i = 10; i < 20; i++)
        b[i] = (i % 2) ? 0x11 : 0;
    if (length >= 30) {
        b[20] = static_cast<uint8_t>((length - 20) >> 8);
        b[21] = static_cast<uint8_t>(length - 20);
    }
    return b;
}

TEST(ColumnGuess, FirstValueProposesType)
{
    struct Case {
        Bytes value;
        uint8_t type;
    } cases[] = {
        {kDate, 12},
        {{0x78, 0x7C, 0x02, 0x1D, 0x0E, 0x2E, 0x0B, 0x07, 0x5B, 0xCA, 0x00}, 180},
        {{0x78, 0x7C, 0x02, 0x1D, 0x0E, 0x2E, 0x0B, 0x07, 0x5B, 0xCA, 0x00, 0x16, 0x3C}, 181},
        {kNumber42, 2},
        {{0x80}, 2},
        {{0x3E, 0x3A, 0x66}, 2},
        {locator(2, 20), 112},
        {locator(1, 40), 113},
        {kNotText4, 100},
        {kBinaryDouble, 101},
        {text("SMITH"), 9},
        {{0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC}, 9},     // UTF-8
        {{0xC4, 0xE3, 0xBA, 0xC3}, 9},                 // GBK
        {{0xA4, 0xA4, 0xA4, 0xE5}, 9},                 // Big5
        {{0x65, 0xE5, 0x67, 0x2C}, 9},                 // UCS-2 big-endian
        {{0x01, 0x02, 0x03}, 23},                      // nothing at all
    };
    for (const Case &c : cases) {
        Guesser g;
        g.feed(0, c.value);
        EXPECT_EQ(g.type(0), c.type) << ::testing::PrintToString(c.value);
    }
}

TEST(ColumnGuess, ValueTests)
{
    Guesser g;
    const UnloadContext *ctx = g.ctx.get();
    auto at = [&](const Bytes &v) { return g.place(v); };
    uint32_t date = at(kDate);
    EXPECT_TRUE(isGuessValidDate(ctx, date, 7));
    EXPECT_FALSE(isGuessValidDate(ctx, date, 8));
    EXPECT_FALSE(isGuessValidDate(ctx, at({50, 100, 1, 1, 1, 1, 1}), 7));   // century byte below 51
    EXPECT_FALSE(isGuessValidDate(ctx, at({120, 100, 13, 1, 1, 1, 1}), 7)); // month 13
    EXPECT_FALSE(isGuessValidDate(ctx, at({120, 100, 1, 1, 25, 1, 1}), 7)); // hour byte 25
    EXPECT_FALSE(isGuessValidNumber(ctx, at({0x80, 0x01}), 2));
    EXPECT_FALSE(isGuessValidNumber(ctx, at({0xC1, 0x00}), 2));
    EXPECT_FALSE(isGuessValidNumber(ctx, at({0x3E, 0x3A, 0x65}), 3));      // no terminator
    EXPECT_TRUE(isGuessValidNumber(ctx, at({0x3E, 0x66}), 2));
    Bytes clob = locator(2, 30);
    uint32_t c = at(clob);
    EXPECT_TRUE(isGuessValidCLOB(ctx, c, 30));
    EXPECT_FALSE(isGuessValidBLOB(ctx, c, 30));
    clob[21]++;   // in-line length no longer matches
    EXPECT_FALSE(isGuessValidCLOB(ctx, at(clob), 30));
    Bytes fewZeros = locator(2, 20);
    for (int i = 10; i < 20; i++)
        fewZeros[i] = 0x22;
    fewZeros[10] = fewZeros[11] = 0;
    EXPECT_FALSE(isGuessValidCLOB(ctx, at(fewZeros), 20));
    EXPECT_TRUE(isGuessValidChar(ctx, at(text("a\tb\n")), 4));
    EXPECT_TRUE(isGuessValidChar(ctx, at({'a', 'b', 0}), 3));                // NUL last
    EXPECT_FALSE(isGuessValidChar(ctx, at({'a', 0, 'b'}), 3));               // NUL inside
    EXPECT_FALSE(isGuessValidChar(ctx, at({'a', 0xFF, 'b'}), 3));            // no character set
    EXPECT_TRUE(isGuessValidChar(ctx, at({'a', 0xE6, 0x97}), 3));            // cut UTF-8, but a GBK pair
    EXPECT_TRUE(isGuessValidChar(ctx, at({0x41, 0x00, 0x42, 0x00}), 4));     // UCS-2 little-endian
    EXPECT_FALSE(isGuessValidChar(ctx, at({0x41, 0x00, 0x01, 0x00}), 4));
    EXPECT_FALSE(isGuessValidDate(ctx, 8190, 7));                            // past the block
}

TEST(ColumnGuess, LaterValuesRevise)
{
    {
        Guesser g;   // all the same date
        for (int i = 0; i < 5; i++)
            g.feed(0, kDate);
        EXPECT_EQ(g.type(0), 12);
    }
    {
        Guesser g;   // NUMBER, then letters
        g.feed(0, kNumber42);
        g.feed(0, text("abc"));
        EXPECT_EQ(g.type(0), 9);
    }
    {
        Guesser g;   // VARCHAR, then bytes of no character set: the next value makes it RAW
        g.feed(0, text("hello"));
        g.feed(0, {0xFF, 0x01, 0xFF});
        g.feed(0, text("world"));
        EXPECT_EQ(g.type(0), 23);
    }
    {
        Guesser g;   // BINARY_FLOAT, then another length
        g.feed(0, kNotText4);
        EXPECT_EQ(g.type(0), 100);
        g.feed(0, {0x05, 0x06, 0x07, 0x08, 0x09});
        EXPECT_EQ(g.type(0), 9);
    }
    {
        Guesser g;   // DATE, then a valid NUMBER of length 5
        g.feed(0, kDate);
        g.feed(0, {0xC3, 0x02, 0x03, 0x04, 0x05});
        EXPECT_EQ(g.type(0), 2);
    }
    {
        Guesser g;   // DATE, then no NUMBER
        g.feed(0, kDate);
        g.feed(0, text("hello"));
        EXPECT_EQ(g.type(0), 9);
    }
    {
        Guesser g;   // CLOB locator, then something else
        g.feed(0, locator(2, 20));
        g.feed(0, text("plain"));
        EXPECT_EQ(g.type(0), 9);
    }
    {
        Guesser g;   // BINARY_DOUBLE kept while the length stays
        g.feed(0, kBinaryDouble);
        g.feed(0, {0xC0, 0, 0, 0, 0, 0, 0, 0});   // 2.0
        EXPECT_EQ(g.type(0), 101);
    }
}

TEST(ColumnGuess, CountsNullsAndIgnoresTheTail)
{
    Guesser g;
    g.feed(0, kNumber42);
    g.feed(1, text("x"));
    g.feed(2, {});
    EXPECT_EQ(g.state.columnCount, 3);
    EXPECT_EQ(g.state.nonNullCount[2], 0);
    // A value ending within the last 3 bytes of the block is no value.
    memcpy(g.image.data() + 8186, kNumber42.data(), 2);
    guessField(g.ctx.get(), 8187, 2, 7);
    EXPECT_EQ(g.state.columnCount, 3);
    guessField(g.ctx.get(), 8186, 2, 7);
    EXPECT_EQ(g.state.columnCount, 8);
}

std::string proposal(const ColumnGuessState &state)
{
    Capture c;
    openCapture(&c);
    printGuessedColumns(c.stream, &state);
    return closeCapture(&c);
}

TEST(ColumnGuess, ProposalBreaksEveryTenColumns)
{
    Guesser g;
    for (uint32_t k = 0; k < 12; k++)
        g.feed(k, kNumber42);
    g.state.columnCount = 13;   // the last column only ever NULL
    std::string expected = " \n      ";
    for (int k = 0; k < 10; k++)
        expected += " NUMBER";
    expected += " \n       NUMBER NUMBER UNKNOWN";
    EXPECT_EQ(proposal(g.state), expected);
    g.state.columnCount = 15;   // 15 modulo 10 is 5: one more break
    EXPECT_EQ(proposal(g.state), expected + " UNKNOWN UNKNOWN \n      ");
    g.state.columnCount = 0;
    EXPECT_EQ(proposal(g.state), " \n      ");
}

}  // namespace
