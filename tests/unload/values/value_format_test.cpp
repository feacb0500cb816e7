// Column value formatting: every formatter on the documented cases, the two
// faults mended in issue 4, printField's dispatch and guards, and random
// bytes that must never make a formatter read outside its value.
#include <charconv>
#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iconv.h>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "block/test_block_builder.h"
#include "unload/unload.h"
#include "oracle_fixtures.h"

using namespace testblock;

namespace {

enum FormatterKind {
    kNUMBER,
    kDATE,
    kTIMESTAMP,
    kBINARYFLOAT,
    kCHAR,
    kVARCHAR,
    kNVARCHAR,
    kVARRAW,
    kRAW,
    kVARRAY,
    kNARRAY,
    kFormatterCount
};

void callFormatter(FormatterKind kind, FILE *out, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    switch (kind) {
    case kNUMBER: printNUMBER(out, ctx, offset, length); break;
    case kDATE: printDATE(out, ctx, offset, length); break;
    case kTIMESTAMP: printTIMESTAMP(out, ctx, offset, length); break;
    case kBINARYFLOAT: printBINARYFLOAT(out, ctx, offset, length); break;
    case kCHAR: printCHAR(out, ctx, offset, length); break;
    case kVARCHAR: printVARCHAR(out, ctx, offset, length); break;
    case kNVARCHAR: printNVARCHAR(out, ctx, offset, length); break;
    case kVARRAW: printVARRAW(out, ctx, offset, length); break;
    case kRAW: printRAW(out, ctx, offset, length); break;
    case kVARRAY: printVARRAY(out, ctx, offset, length); break;
    case kNARRAY: printNARRAY(out, ctx, offset, length); break;
    default: break;
    }
}

// Runs one formatter on a value that is the whole block image, so the
// sanitizer sees a read on either side of the value as a heap overflow.
std::string format(FormatterKind kind, const std::vector<uint8_t> &value, uint8_t order = kLittle,
                   iconv_t nchar = kNoConverter)
{
    std::vector<uint8_t> image(value);
    auto ctx = makeContext(image, order);
    ctx->nchar = nchar;
    Capture c;
    openCapture(&c);
    callFormatter(kind, c.stream, ctx.get(), 0, (uint32_t)image.size());
    return closeCapture(&c);
}

std::string field(const std::vector<uint8_t> &value, uint8_t type, uint16_t charsetForm = 1,
                  uint32_t blockSize = 8192, uint32_t offset = 100)
{
    std::vector<uint8_t> image(blockSize, 0);
    for (size_t i = 0; i < value.size() && offset + i < blockSize; i++)
        image[offset + i] = value[i];
    auto ctx = makeContext(image, kLittle);
    Capture c;
    openCapture(&c);
    printField(c.stream, ctx.get(), offset, (uint32_t)value.size(), type, 5, 1234, charsetForm);
    return closeCapture(&c);
}

std::vector<uint8_t> bytesOf(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Oracle's stored form of a BINARY_FLOAT / BINARY_DOUBLE: big-endian bits,
// sign bit flipped for non-negative values, every bit flipped for negatives.
std::vector<uint8_t> storedFloat(float f)
{
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    bits = (bits & 0x80000000u) ? ~bits : bits ^ 0x80000000u;
    return {(uint8_t)(bits >> 24), (uint8_t)(bits >> 16), (uint8_t)(bits >> 8), (uint8_t)bits};
}

std::vector<uint8_t> storedDouble(double d)
{
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    bits = (bits & 0x8000000000000000ull) ? ~bits : bits ^ 0x8000000000000000ull;
    std::vector<uint8_t> out;
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back((uint8_t)(bits >> shift));
    return out;
}

// The shortest text that reads back to the same float / double.
std::string shortest(double d, bool single)
{
    char text[64];
    std::to_chars_result r = single ? std::to_chars(text, text + sizeof text, (float)d)
                                    : std::to_chars(text, text + sizeof text, d);
    return std::string(text, r.ptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// NUMBER

TEST(ValueFormat, NumberDocumentedCases)
{
    EXPECT_EQ(format(kNUMBER, {0xC1, 0x02}), "1");
    EXPECT_EQ(format(kNUMBER, {0xC2, 0x02}), "100");
    EXPECT_EQ(format(kNUMBER, {0xC2, 0x0D, 0x23, 0x33}), "1234.5");
    EXPECT_EQ(format(kNUMBER, {0xC0, 0x33}), "0.5");
    EXPECT_EQ(format(kNUMBER, {0xC0, 0x06}), "0.05");
    EXPECT_EQ(format(kNUMBER, {0xBF, 0x0B}), "0.001");
    EXPECT_EQ(format(kNUMBER, {0x3E, 0x64, 0x66}), "-1");
    EXPECT_EQ(format(kNUMBER, {0x3F, 0x33, 0x66}), "-0.5");
    EXPECT_EQ(format(kNUMBER, {0x80}), "0");
    EXPECT_EQ(format(kNUMBER, {0xC1, 0x06}), "5");
    EXPECT_EQ(format(kNUMBER, {0xC2, 0x0D, 0x1F}), "1230");
    EXPECT_EQ(format(kNUMBER, {0xC1, 0x0D, 0x1F}), "12.3");
    EXPECT_EQ(format(kNUMBER, {0xC4, 0x02}), "1000000");
    EXPECT_EQ(format(kNUMBER, {0xC3, 0x02, 0x01, 0x02}), "10001");
}

TEST(ValueFormat, NumberThatWritesNothing)
{
    EXPECT_EQ(format(kNUMBER, {}), "");
    EXPECT_EQ(format(kNUMBER, {0x80, 0x01}), "");   // a zero longer than one byte
    EXPECT_EQ(format(kNUMBER, {0xC1}), "");         // no digits
    EXPECT_EQ(format(kNUMBER, {0x3E}), "");
    EXPECT_EQ(format(kNUMBER, {0x3E, 0x66}), "");
    EXPECT_EQ(format(kNUMBER, {0xC1, 0x00}), "");   // digit byte below the range
    EXPECT_EQ(format(kNUMBER, {0xC1, 0x66}), "");   // digit byte above it
    EXPECT_EQ(format(kNUMBER, {0x3E, 0x66, 0x66}), "");   // 102 inside a negative
    char small[4];
    const uint8_t big[] = {0xC5, 0x02};
    EXPECT_EQ(ora_number_to_string(big, 2, small, sizeof small), 0);   // does not fit
    EXPECT_STREQ(small, "");
    EXPECT_EQ(ora_number_to_string(big, 2, nullptr, 10), 0);
    EXPECT_EQ(ora_number_to_string(nullptr, 2, small, sizeof small), 0);
}

TEST(ValueFormat, NumberUsesAtMostTwentyTwoBytes)
{
    std::vector<uint8_t> b(30, 0x0B);
    b[0] = 0xC1;
    // 21 digit pairs of 10 are used, the rest ignored.
    std::string fraction;
    for (int i = 0; i < 19; i++)
        fraction += "10";
    EXPECT_EQ(format(kNUMBER, b), "10." + fraction + "1");
}

// Issue 4: a negative NUMBER with 20 digit bytes fills 21 bytes and has no
// terminator; treating its last byte as one dropped its last two digits.
TEST(ValueFormatIssue4, NegativeNumberWithTwentyDigitBytesKeepsItsLastPair)
{
    std::vector<uint8_t> third(21, 0x44);
    third[0] = 0x3F;
    EXPECT_EQ(format(kNUMBER, third), "-0." + std::string(40, '3'));
    EXPECT_EQ(ora_valid_number(third.data(), third.size()), 1);
    // The same value with 19 digit bytes carries the terminator.
    std::vector<uint8_t> shorter(third.begin(), third.begin() + 20);
    shorter.push_back(102);
    EXPECT_EQ(format(kNUMBER, shorter), "-0." + std::string(38, '3'));
}

// Issue 17: Oracle's smallest magnitudes have the exponent byte 0x80 that
// zero has alone (1e-130 is 80 02, 1e-129 is 80 0B); they were written as
// nothing, a lost value.
TEST(ValueFormatIssue17, SmallestPositiveNumbersShareZerosExponentByte)
{
    EXPECT_EQ(format(kNUMBER, {0x80, 0x02}), "0." + std::string(129, '0') + "1");
    EXPECT_EQ(format(kNUMBER, {0x80, 0x0B}), "0." + std::string(128, '0') + "1");
    EXPECT_EQ(format(kNUMBER, {0x80, 0x01}), "");   // a zero pair first is no value
}

TEST(ValueFormat, ValidNumbers)
{
    const std::vector<std::vector<uint8_t>> valid = {
        {0x80},
        {0xC1, 0x02},
        {0xC1},                                   // a lone positive exponent
        {0xC2, 0x0D, 0x23, 0x33},
        {0xC1, 0x01},
        {0xC1, 0x64},
        {0x3E, 0x66},
        {0x3E, 0x64, 0x66},
        {0x3F, 0x02, 0x65, 0x66},
    };
    for (const auto &v : valid)
        EXPECT_EQ(ora_valid_number(v.data(), v.size()), 1) << ::testing::PrintToString(v);
    std::vector<uint8_t> positive21(21, 0x64);
    positive21[0] = 0xC1;
    EXPECT_EQ(ora_valid_number(positive21.data(), positive21.size()), 1);
    std::vector<uint8_t> negative22(22, 0x02);
    negative22[0] = 0x3E;
    negative22[21] = 102;
    EXPECT_EQ(ora_valid_number(negative22.data(), negative22.size()), 1);
    std::vector<uint8_t> negative21(21, 0x65);   // 20 digit bytes, no terminator
    negative21[0] = 0x3E;
    EXPECT_EQ(ora_valid_number(negative21.data(), negative21.size()), 1);
}

TEST(ValueFormat, InvalidNumbers)
{
    const std::vector<std::vector<uint8_t>> invalid = {
        {},
        {0x80, 0x01},
        {0xC1, 0x00},
        {0xC1, 0x65},
        {0x3E},                         // no terminator, no digits
        {0x3E, 0x64},                   // short negative without its terminator
        {0x3E, 0x01, 0x66},             // digit byte below 2
        {0x3E, 0x66, 0x66},             // digit byte above 101
        {0x3E, 0x64, 0x64, 0x64, 0x64}, // no terminator and not 21 bytes
    };
    for (const auto &v : invalid)
        EXPECT_EQ(ora_valid_number(v.data(), v.size()), 0) << ::testing::PrintToString(v);
    std::vector<uint8_t> positive22(22, 0x02);
    positive22[0] = 0xC1;
    EXPECT_EQ(ora_valid_number(positive22.data(), positive22.size()), 0);
    std::vector<uint8_t> negative23(23, 0x02);
    negative23[0] = 0x3E;
    negative23[22] = 102;
    EXPECT_EQ(ora_valid_number(negative23.data(), negative23.size()), 0);
    std::vector<uint8_t> negative21(21, 0x65);
    negative21[0] = 0x3E;
    negative21[10] = 0x01;
    EXPECT_EQ(ora_valid_number(negative21.data(), negative21.size()), 0);
    std::vector<uint8_t> negative20(20, 0x65);    // no terminator, 19 digits
    negative20[0] = 0x3E;
    EXPECT_EQ(ora_valid_number(negative20.data(), negative20.size()), 0);
    EXPECT_EQ(ora_valid_number(nullptr, 3), 0);
}

// ---------------------------------------------------------------------------
// DATE and TIMESTAMP

TEST(ValueFormat, Dates)
{
    EXPECT_EQ(format(kDATE, {0x78, 0x7D, 0x0C, 0x1F, 0x18, 0x3C, 0x3C}), "2025-12-31 23:59:59");
    EXPECT_EQ(format(kDATE, {0x77, 0xB4, 0x0C, 0x11, 0x01, 0x01, 0x01}), "1980-12-17 00:00:00");
    EXPECT_EQ(format(kDATE, {0x64, 0x65, 0x01, 0x01, 0x01, 0x01, 0x01}), "0001-01-01 00:00:00");
    EXPECT_EQ(format(kDATE, {0xC7, 0xC7, 0x0C, 0x1F, 0x18, 0x3C, 0x3C}), "9999-12-31 23:59:59");
    // A time byte of 0 is written as 00, not as -1.
    EXPECT_EQ(format(kDATE, {0x78, 0x7D, 0x01, 0x02, 0x00, 0x00, 0x00}), "2025-01-02 00:00:00");
    EXPECT_EQ(format(kDATE, {0x78, 0x7D, 0x01, 0x02, 0x03, 0x04}), "");
    EXPECT_EQ(format(kDATE, {0x78, 0x7D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}), "");
    // Before year 1 the year wraps in 16 bits and is kept to four digits.
    std::string bc = format(kDATE, {0x63, 0x63, 0x01, 0x01, 0x01, 0x01, 0x01});
    EXPECT_EQ(bc.size(), 19u);
}

TEST(ValueFormat, Timestamps)
{
    const std::vector<uint8_t> date = {0x78, 0x7D, 0x0C, 0x1F, 0x18, 0x3C, 0x3C};
    EXPECT_EQ(format(kTIMESTAMP, date), "2025-12-31 23:59:59");
    std::vector<uint8_t> ts = date;
    ts.insert(ts.end(), {0x00, 0x07, 0xA1, 0x20});
    EXPECT_EQ(format(kTIMESTAMP, ts), "2025-12-31 23:59:59.000500");
    std::vector<uint8_t> tz = ts;
    tz.insert(tz.end(), {0x14, 0x3C});
    EXPECT_EQ(format(kTIMESTAMP, tz), "2025-12-31 23:59:59.000500");
    std::vector<uint8_t> max = date;
    max.insert(max.end(), {0x3B, 0x9A, 0xC9, 0xFF});   // 999999999 ns
    EXPECT_EQ(format(kTIMESTAMP, max), "2025-12-31 23:59:59.999999");
    std::vector<uint8_t> huge = date;
    huge.insert(huge.end(), {0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(format(kTIMESTAMP, huge), "2025-12-31 23:59:59.4294967");
    for (size_t len : {0, 1, 6, 8, 9, 10, 12, 14, 20}) {
        std::vector<uint8_t> v(len, 0x01);
        for (size_t i = 0; i < len && i < date.size(); i++)
            v[i] = date[i];
        EXPECT_EQ(format(kTIMESTAMP, v), "") << len;
    }
}

// ---------------------------------------------------------------------------
// BINARY_FLOAT and BINARY_DOUBLE

// Issue 4: Oracle inverts every bit of a negative BINARY_FLOAT/DOUBLE;
// inverting only the sign bit printed garbage for all negatives.
TEST(ValueFormatIssue4, NegativeBinaryFloatHasAllBitsInverted)
{
    EXPECT_EQ(format(kBINARYFLOAT, storedFloat(-1.5f)), "-1.5");
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(-1.5)), "-1.5");
    // -1.5f is 0xBFC00000; Oracle stores 0x403FFFFF.
    EXPECT_EQ(storedFloat(-1.5f), (std::vector<uint8_t>{0x40, 0x3F, 0xFF, 0xFF}));
    EXPECT_EQ(format(kBINARYFLOAT, {0x40, 0x3F, 0xFF, 0xFF}), "-1.5");
}

TEST(ValueFormat, BinaryFloatsAndDoubles)
{
    EXPECT_EQ(format(kBINARYFLOAT, {0xBF, 0xC0, 0x00, 0x00}), "1.5");
    EXPECT_EQ(format(kBINARYFLOAT, storedFloat(0.0f)), "0");
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(0.0)), "0");
    const float floats[] = {1.0f, -1.0f, 3.25f, -2.75f, 1e-3f, -1e-3f, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN,
                            123456.789f, -98765.4321f, 1e-45f};
    for (float f : floats)
        EXPECT_EQ(format(kBINARYFLOAT, storedFloat(f)), shortest(f, true)) << f;
    const double doubles[] = {1.0, -1.0, 0.1, -0.1, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, 1e300, -1e-300,
                              3.141592653589793, -2.718281828459045};
    for (double d : doubles)
        EXPECT_EQ(format(kBINARYFLOAT, storedDouble(d)), shortest(d, false)) << d;
    for (size_t len : {0, 1, 3, 5, 7, 9, 16}) {
        std::vector<uint8_t> v(len, 0xBF);
        EXPECT_EQ(format(kBINARYFLOAT, v), "") << len;
    }
}

// Issue 17: "%f" wrote six decimals: 2.718281828459045 came out as 2.718282,
// 1e-30 as 0.000000 and 1e300 as a 301-digit integer.  The text now reads
// back to the very bits stored, and the specials have names.
TEST(ValueFormatIssue17, BinaryFloatTextReadsBackExactly)
{
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(2.718281828459045)), "2.718281828459045");
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(1e-30)), "1e-30");
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(1e300)), "1e+300");
    EXPECT_EQ(format(kBINARYFLOAT, storedFloat(1.1f)), "1.1");   // the float's text, not the double's
    EXPECT_EQ(format(kBINARYFLOAT, storedFloat(INFINITY)), "Inf");
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(-INFINITY)), "-Inf");
    EXPECT_EQ(format(kBINARYFLOAT, storedDouble(NAN)), "Nan");
    EXPECT_EQ(format(kBINARYFLOAT, storedFloat(-0.0f)), "-0");
    const double samples[] = {0.1, 1.0 / 3, 6.02214076e23, 4.9e-324, 123456789.123456789, -7.25e-17};
    for (double d : samples) {
        std::string text = format(kBINARYFLOAT, storedDouble(d));
        EXPECT_EQ(strtod(text.c_str(), nullptr), d) << text;
    }
    char text[kFloatTextSize];
    std::vector<uint8_t> inf = storedDouble(INFINITY), nan = storedFloat(NAN);
    EXPECT_EQ(std::string(text, formatBinaryFloatText(inf.data(), 8, text, sizeof text, kFloatSpellingPostgres)),
              "Infinity");
    EXPECT_EQ(std::string(text, formatBinaryFloatText(nan.data(), 4, text, sizeof text, kFloatSpellingPostgres)),
              "NaN");
}

// Issue 17: a TIMESTAMP WITH TIME ZONE was written as its stored UTC time
// with no zone, which the control file's "TZH:TZM" mask could not read.
// It is now the local time and its offset; a region id gives UTC +00:00.
TEST(ValueFormatIssue17, TimestampWithTimeZoneIsLocalTimeAndOffset)
{
    // 2024-02-29 11:45:10.5 UTC written at +02:00.
    std::vector<uint8_t> plus = {0x78, 0x7C, 0x02, 0x1D, 0x0C, 0x2E, 0x0B, 0x1D, 0xCD, 0x65, 0x00, 22, 60};
    EXPECT_EQ(field(plus, 181), "2024-02-29 13:45:10.500000 +02:00");
    // 2000-01-01 05:30 UTC written at -05:30: the local day is the day before.
    std::vector<uint8_t> minus = {0x78, 0x64, 0x01, 0x01, 0x06, 0x1F, 0x01, 0, 0, 0, 0, 15, 30};
    EXPECT_EQ(field(minus, 181), "2000-01-01 00:00:00.000000 -05:30");
    std::vector<uint8_t> newYear = {0x78, 0x7C, 0x0C, 0x1F, 23, 0x01, 0x01, 0, 0, 0, 0, 34, 60};
    EXPECT_EQ(field(newYear, 181), "2025-01-01 12:00:00.000000 +14:00");
    // A region id (bit 0x80 of byte 11): the UTC time.
    std::vector<uint8_t> region = {0x78, 0x7C, 0x02, 0x1D, 0x0C, 0x2E, 0x0B, 0, 0, 0, 0, 0x85, 0x1C};
    EXPECT_EQ(field(region, 181), "2024-02-29 11:45:10.000000 +00:00");
    // Offset bytes out of range: the UTC time too, never a shifted guess.
    std::vector<uint8_t> damaged = {0x78, 0x7C, 0x02, 0x1D, 0x0C, 0x2E, 0x0B, 0, 0, 0, 0, 60, 60};
    EXPECT_EQ(field(damaged, 181), "2024-02-29 11:45:10.000000 +00:00");
    // Other timestamp kinds keep the stored time.
    EXPECT_EQ(field(plus, 180), "2024-02-29 11:45:10.500000");
}

// ---------------------------------------------------------------------------
// Character values

TEST(ValueFormat, CharTrimsTrailingSpaces)
{
    EXPECT_EQ(format(kCHAR, bytesOf("AB  ")), "AB");
    EXPECT_EQ(format(kCHAR, bytesOf("    ")), "");
    EXPECT_EQ(format(kCHAR, bytesOf(" A B")), " A B");
    EXPECT_EQ(format(kCHAR, bytesOf("a\t ")), "a\t");
    EXPECT_EQ(format(kCHAR, {}), "");
}

TEST(ValueFormat, VarcharIsWrittenUnchanged)
{
    EXPECT_EQ(format(kVARCHAR, bytesOf("a|b\r\nc  ")), "a|b\r\nc  ");
    std::vector<uint8_t> binary = {0x00, 0xFF, 0x7C, 0x0D};
    EXPECT_EQ(format(kVARCHAR, binary), std::string("\x00\xFF\x7C\x0D", 4));
}

TEST(ValueFormat, NvarcharWithoutConverterIsUnchanged)
{
    std::vector<uint8_t> v = {0x00, 0x41, 0x00, 0x42};
    EXPECT_EQ(format(kNVARCHAR, v), std::string("\x00\x41\x00\x42", 4));
}

TEST(ValueFormat, NvarcharThroughConverter)
{
    iconv_t cd = iconv_open("UTF-8", "UTF-16BE");
    if (cd == (iconv_t)-1)
        GTEST_SKIP() << "no UTF-16BE converter";
    EXPECT_EQ(format(kNVARCHAR, {0x00, 0x41, 0x00, 0x42}, kLittle, cd), "AB");
    EXPECT_EQ(format(kNVARCHAR, {0x4E, 0x2D, 0x65, 0x87}, kLittle, cd), "\xE4\xB8\xAD\xE6\x96\x87");
    // A value that does not convert (a character cut in half) is written as stored.
    EXPECT_EQ(format(kNVARCHAR, {0x00, 0x41, 0x4E}, kLittle, cd), std::string("\x00\x41\x4E", 3));
    // The converter is reset first, so the failure above leaves no trace.
    EXPECT_EQ(format(kNVARCHAR, {0x00, 0x43}, kLittle, cd), "C");
    iconv_close(cd);
}

TEST(ValueFormat, NvarcharLongerThanTheConversionBuffers)
{
    iconv_t cd = iconv_open("UTF-8", "UTF-16BE");
    if (cd == (iconv_t)-1)
        GTEST_SKIP() << "no UTF-16BE converter";
    // 20000 CJK characters: 40000 bytes in, 60000 bytes out.
    std::vector<uint8_t> v;
    std::string expected;
    for (int i = 0; i < 20000; i++) {
        v.push_back(0x4E);
        v.push_back(0x2D);
        expected += "\xE4\xB8\xAD";
    }
    EXPECT_EQ(format(kNVARCHAR, v, kLittle, cd), expected);
    // A lone low surrogate after 12000 good characters: what was converted is
    // written, then the rest as stored.
    std::vector<uint8_t> bad(v.begin(), v.begin() + 24000);
    bad.push_back(0xDC);
    bad.push_back(0x00);
    bad.push_back(0x00);
    bad.push_back(0x41);
    std::string out = format(kNVARCHAR, bad, kLittle, cd);
    std::string converted = expected.substr(0, 36000);
    EXPECT_EQ(out, converted + std::string("\xDC\x00\x00\x41", 4));
    iconv_close(cd);
}

// ---------------------------------------------------------------------------
// RAW

TEST(ValueFormat, RawAsHexadecimal)
{
    EXPECT_EQ(format(kVARRAW, {0x00, 0xFF, 0x1A}), "00FF1A");
    EXPECT_EQ(format(kVARRAW, {0x1A, 0x00, 0x00}), "1A0000");
    EXPECT_EQ(format(kRAW, {0x1A, 0x00, 0x00}), "1A");
    EXPECT_EQ(format(kRAW, {0x00, 0x00}), "");
    EXPECT_EQ(format(kRAW, {0x00, 0xAB}), "00AB");
    // Long values cross the flush threshold many times.
    std::vector<uint8_t> v;
    std::string expected;
    for (int i = 0; i < 1000; i++) {
        v.push_back((uint8_t)(i * 37));
        char hex[3];
        snprintf(hex, sizeof hex, "%02X", (uint8_t)(i * 37));
        expected += hex;
    }
    EXPECT_EQ(format(kVARRAW, v), expected);
}

// ---------------------------------------------------------------------------
// Collections

TEST(ValueFormat, VarrayImageWithHeader)
{
    std::vector<uint8_t> v = {0x00, 0x01};
    v.resize(37, 0xEE);
    v.insert(v.end(), {0x01, 'A', 0xFF, 0x02, 'B', 'C'});
    EXPECT_EQ(format(kVARRAY, v), "A,NULL,BC");
}

TEST(ValueFormat, VarrayWithoutHeaderStartsWithAComma)
{
    EXPECT_EQ(format(kVARRAY, {0x01, 'A', 0xFF}), ",A,NULL");
    EXPECT_EQ(format(kVARRAY, {0x00}), ",");   // one empty element
}

TEST(ValueFormat, VarrayLongElementsInBothByteOrders)
{
    std::vector<uint8_t> little = {0xFE, 0x03, 0x00, 'x', 'y', 'z', 0x01, 'q'};
    EXPECT_EQ(format(kVARRAY, little, kLittle), ",xyz,q");
    std::vector<uint8_t> big = {0xFE, 0x00, 0x03, 'x', 'y', 'z', 0x01, 'q'};
    EXPECT_EQ(format(kVARRAY, big, kBig), ",xyz,q");
}

TEST(ValueFormat, VarrayStopsAtAnElementThatRunsPastTheValue)
{
    EXPECT_EQ(format(kVARRAY, {0x01, 'A', 0x05, 'B'}), ",A");
    EXPECT_EQ(format(kVARRAY, {0x01, 'A', 0xFE, 0x01}), ",A");
    std::vector<uint8_t> headerOnly = {0x00, 0x01, 0x02};
    EXPECT_EQ(format(kVARRAY, headerOnly), "");
}

TEST(ValueFormat, NumberArray)
{
    std::vector<uint8_t> v = {0x00, 0x01};
    v.resize(37, 0x00);
    v.insert(v.end(), {0x02, 0xC1, 0x02, 0xFF, 0x04, 0xC2, 0x0D, 0x23, 0x33, 0x03, 0x3E, 0x64, 0x66});
    EXPECT_EQ(format(kNARRAY, v), "1,NULL,1234.5,-1");
    EXPECT_EQ(format(kNARRAY, {0x01, 0x80, 0x02, 0xC1, 0x0B}), ",0,10");
}

// ---------------------------------------------------------------------------
// printField

TEST(ValueFormat, PrintFieldDispatch)
{
    EXPECT_EQ(field({0xC1, 0x02}, 2), "1");
    EXPECT_EQ(field(bytesOf("ab "), 1), "ab ");
    EXPECT_EQ(field(bytesOf("ab "), 9), "ab ");
    EXPECT_EQ(field(bytesOf("ab "), 8), "ab ");
    EXPECT_EQ(field(bytesOf("ab "), 96), "ab");
    EXPECT_EQ(field(bytesOf("ab "), 96, 2), "ab ");   // national CHAR keeps its bytes
    EXPECT_EQ(field(bytesOf("ab "), 254), "ab ");
    EXPECT_EQ(field(bytesOf("ab "), 1, 2), "ab ");
    EXPECT_EQ(field({0x78, 0x7D, 0x0C, 0x1F, 0x18, 0x3C, 0x3C}, 12), "2025-12-31 23:59:59");
    for (uint8_t type : {180, 181, 231})   // no zone bytes: no offset either
        EXPECT_EQ(field({0x78, 0x7D, 0x0C, 0x1F, 0x18, 0x3C, 0x3C, 0x00, 0x07, 0xA1, 0x20}, type),
                  "2025-12-31 23:59:59.000500");
    EXPECT_EQ(field(storedFloat(-1.5f), 100), "-1.5");
    EXPECT_EQ(field(storedDouble(2.5), 101), "2.5");
    EXPECT_EQ(field({0x01, 'A', 0xFF}, 109), ",A,NULL");
    EXPECT_EQ(field({0x02, 0xC1, 0x02}, 108), ",1");
    for (uint8_t type : {23, 24, 253, 3, 58, 123, 200})
        EXPECT_EQ(field({0x00, 0xFF, 0x1A}, type), "00FF1A") << (int)type;
    EXPECT_EQ(field({0x00, 0xFF, 0x1A}, 0), "");
    // LOB locators wait for the LOB writers.
    for (uint8_t type : {112, 113, 255})
        EXPECT_EQ(field({0x00, 0x54, 0x00, 0x01, 0x02, 0x0C, 0x80}, type), "") << (int)type;
}

TEST(ValueFormat, PrintFieldGuards)
{
    EXPECT_EQ(field({}, 2), "");
    // A value that ends within 3 bytes of the block end is not written.
    std::vector<uint8_t> one = {0xC1, 0x02};
    EXPECT_EQ(field(one, 2, 1, 8192, 8192 - 2 - 4), "1");   // ends 4 bytes before the end
    EXPECT_EQ(field(one, 2, 1, 8192, 8192 - 2 - 3), "");
    EXPECT_EQ(field(one, 2, 1, 8192, 8192 - 2), "");
    EXPECT_EQ(field(one, 2, 1, 8192, 8190), "");
    EXPECT_EQ(field(one, 23, 1, 4, 0), "");   // tiny blocks
    EXPECT_EQ(field(one, 23, 1, 2, 0), "");
    EXPECT_EQ(field(one, 23, 1, 0, 0), "");
    // Offsets and lengths far outside the block.
    std::vector<uint8_t> image(8192, 0);
    auto ctx = makeContext(image, kLittle);
    Capture c;
    openCapture(&c);
    printField(c.stream, ctx.get(), 0xFFFFFFF0u, 0x20, 23, 0, 0, 0);
    printField(c.stream, ctx.get(), 10, 0xFFFFFFFFu, 1, 0, 0, 0);
    printVARRAW(c.stream, ctx.get(), 8190, 3);
    printVARCHAR(c.stream, ctx.get(), 0xFFFFFFFFu, 1);
    EXPECT_EQ(closeCapture(&c), "");
}

TEST(ValueFormat, PrintDate)
{
    Capture c;
    openCapture(&c);
    printDate(c.stream);
    std::string text = closeCapture(&c);
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n"))) << text;
}

// ---------------------------------------------------------------------------
// Robustness: random bytes, every formatter, values flush against both ends
// of their buffer.

TEST(ValueFormat, RandomBytesNeverReadOutsideTheValue)
{
    iconv_t cd = iconv_open("UTF-8", "UTF-16BE");
    std::mt19937 rng(4);
    for (int round = 0; round < 4000; round++) {
        size_t length = rng() % 64;
        std::vector<uint8_t> v(length);
        for (auto &b : v)
            b = (uint8_t)rng();
        if (length >= 2 && rng() % 4 == 0) {
            v[0] = 0x00;
            v[1] = 0x01;
        }
        for (int kind = 0; kind < kFormatterCount; kind++) {
            format((FormatterKind)kind, v, (uint8_t)(rng() % 3), cd);
        }
        char text[kNumberTextSize];
        ora_number_to_string(v.data(), v.size(), text, sizeof text);
        ora_valid_number(v.data(), v.size());
    }
    if (cd != (iconv_t)-1)
        iconv_close(cd);
}

TEST(ValueFormat, RandomNumbersNeverOverflowTheTextBuffer)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 200000; round++) {
        size_t length = 1 + rng() % 24;
        std::vector<uint8_t> v(length);
        for (auto &b : v)
            b = (uint8_t)rng();
        // Mostly digits in range, so that long texts are produced.
        for (size_t i = 1; i < length; i++)
            if (rng() % 8 != 0)
                v[i] = (uint8_t)(2 + rng() % 100);
        char text[kNumberTextSize];
        int n = ora_number_to_string(v.data(), v.size(), text, sizeof text);
        ASSERT_GE(n, 0);
        ASSERT_LT((size_t)n, sizeof text);
        ASSERT_EQ(strlen(text), (size_t)n);
    }
}

TEST(ValueFormat, RandomFieldsThroughPrintField)
{
    std::mt19937 rng(5);
    std::vector<uint8_t> image(2048);
    for (auto &b : image)
        b = (uint8_t)rng();
    auto ctx = makeContext(image, kBig);
    FILE *sink = fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    for (int round = 0; round < 20000; round++) {
        uint32_t offset = rng() % 2100;
        uint32_t length = rng() % 300;
        uint8_t type = (uint8_t)rng();
        printField(sink, ctx.get(), offset, length, type, 0, 0, (uint16_t)(rng() % 3));
    }
    fclose(sink);
}

// ---------------------------------------------------------------------------
// Values of blocks written by Oracle.

TEST(ValueFormat, OracleBlockValues)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> b = loadOracleBlock("heap-3rows-lock-32bit");
    if (b.size() != 8192)
        GTEST_SKIP() << "fixture not present";
    auto ctx = makeContext(b, kLittle);
    // Row 0 at H + 0x1f5e: header 3 bytes, then [02] c1 02, [01] 61.
    uint32_t row = 0x64 + 0x1f5e;
    Capture c;
    openCapture(&c);
    printField(c.stream, ctx.get(), row + 4, 2, 2, 0, 0, 1);
    fputc('|', c.stream);
    printField(c.stream, ctx.get(), row + 7, 1, 1, 0, 0, 1);
    EXPECT_EQ(closeCapture(&c), "1|a");

    std::vector<uint8_t> chars = loadOracleBlock("heap-1row-char-19c-x64");
    ASSERT_EQ(chars.size(), 8192u);
    auto cctx = makeContext(chars, kLittle);
    // The row at H + 0x1f6b: three CHAR(10) 'a' then 61, 61 20, 61 20 20.
    uint32_t at = 0x64 + 0x1f6b + 3;
    openCapture(&c);
    for (int col = 0; col < 6; col++) {
        uint8_t len = chars[at];
        printField(c.stream, cctx.get(), at + 1, len, col < 3 ? 96 : 1, 0, 0, 1);
        fputc('|', c.stream);
        at += 1 + len;
    }
    EXPECT_EQ(closeCapture(&c), "a|a|a|a|a |a  |");
}

namespace {

// Issue 23: a name of a dictionary file holding a comma, a quote, CR or LF
// is quoted (RFC 4180); any other is written as it stands.  A name cut
// between row pieces is quoted from its first part to its last.
struct QuotedText {
    const char *value;
    bool continues;
    bool continued;
    const char *written;
};

class DictionaryText : public ::testing::TestWithParam<QuotedText> {};

TEST_P(DictionaryText, QuotedOnlyWhenItMustBe)
{
    const QuotedText &q = GetParam();
    std::vector<uint8_t> image(8192, 0);
    size_t length = strlen(q.value);
    memcpy(image.data() + 100, q.value, length);
    auto ctx = makeContext(image, kLittle);
    Capture c;
    openCapture(&c);
    TextSink sink;
    initTextSink(&sink, c.stream);
    appendQuotedText(&sink, ctx.get(), 100, (uint32_t)length, q.continues, q.continued);
    flushTextSink(&sink);
    EXPECT_EQ(closeCapture(&c), q.written);
}

INSTANTIATE_TEST_SUITE_P(Values, DictionaryText,
                         ::testing::Values(QuotedText{"EMPNO", false, false, "EMPNO"},
                                           QuotedText{"lower case", false, false, "lower case"},
                                           QuotedText{"Unit Price, EUR", false, false, "\"Unit Price, EUR\""},
                                           QuotedText{"say \"hi\"", false, false, "\"say \"\"hi\"\"\""},
                                           QuotedText{"A\r\nB", false, false, "\"A\r\nB\""},
                                           QuotedText{"FIRST", true, false, "\"FIRST"},
                                           QuotedText{"MID\"", true, true, "MID\"\""},
                                           QuotedText{"LAST", false, true, "LAST\""}));

}  // namespace
