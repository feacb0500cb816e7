// Value encoders: NUMBER, DATE, TIMESTAMP, BINARY_FLOAT/DOUBLE and the text
// ZOR prints for each, checked against known Oracle encodings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "forge/forge.h"

using namespace forge;

namespace {

std::vector<uint8_t> number(const char *text) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(encodeNumberText(text, &out)) << text;
    return out;
}

std::string shown(const char *text) {
    std::string out;
    EXPECT_TRUE(numberDisplayText(text, &out)) << text;
    return out;
}

typedef std::vector<uint8_t> Bytes;

}  // namespace

TEST(ForgeValues, NumberKnownEncodings) {
    EXPECT_EQ(Bytes({0x80}), number("0"));
    EXPECT_EQ(Bytes({0x80}), number("-0.000"));
    EXPECT_EQ(Bytes({0xC1, 0x02}), number("1"));
    EXPECT_EQ(Bytes({0x3E, 0x64, 0x66}), number("-1"));
    EXPECT_EQ(Bytes({0xC2, 0x02}), number("100"));
    EXPECT_EQ(Bytes({0xC0, 0x33}), number("0.5"));
    EXPECT_EQ(Bytes({0xC0, 0x06}), number("0.05"));
    EXPECT_EQ(Bytes({0x3F, 0x33, 0x66}), number("-0.5"));
    EXPECT_EQ(Bytes({0xC2, 0x0D, 0x23, 0x33}), number("1234.5"));
    EXPECT_EQ(Bytes({0xC2, 0x4A, 0x46}), number("7369"));    // EMPNO of the real EMP block
    EXPECT_EQ(Bytes({0xC4, 0x02}), number("1000000"));
    EXPECT_EQ(Bytes({0xBF, 0x0B}), number("0.001"));
    EXPECT_EQ(Bytes({0xC1, 0x02}), number("1e0"));
    EXPECT_EQ(Bytes({0xC2, 0x02}), number("+0.01E4"));
    EXPECT_EQ(Bytes({0x3D, 0x64, 0x64, 0x5B, 0x66}), number("-101.1"));
}

TEST(ForgeValues, NumberEncoderMatchesTheIntegerEncoder) {
    const long long values[] = {0, 1, -1, 7, 99, 100, 101, -100, 7902, 123456789, -987654321000LL,
                                9223372036854775807LL, -9223372036854775807LL};
    for (long long v : values) EXPECT_EQ(encodeNumber(v), number(std::to_string(v).c_str())) << v;
}

TEST(ForgeValues, NegativeWithTwentyDigitBytesHasNoTerminator) {
    // -1/3 to 40 digits: 3F and twenty bytes of 101 - 33 = 68 (0x44).
    std::string third = "-0." + std::string(40, '3');
    Bytes bytes = number(third.c_str());
    ASSERT_EQ(21u, bytes.size());
    EXPECT_EQ(0x3F, bytes[0]);
    for (size_t i = 1; i < 21; i++) EXPECT_EQ(0x44, bytes[i]) << i;
    // One digit byte fewer leaves room for the terminator.
    std::string shorter = "-0." + std::string(38, '3');
    Bytes withTerminator = number(shorter.c_str());
    ASSERT_EQ(21u, withTerminator.size());
    EXPECT_EQ(102, withTerminator[20]);
    // A positive 40-digit value is 21 bytes too.
    EXPECT_EQ(21u, number(("0." + std::string(40, '3')).c_str()).size());
}

TEST(ForgeValues, NumberRefusesWhatOracleCannotStore) {
    std::vector<uint8_t> out;
    EXPECT_FALSE(encodeNumberText(("0." + std::string(41, '3')).c_str(), &out));  // 21 digit bytes
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(encodeNumberText("1e126", &out));
    EXPECT_TRUE(encodeNumberText("9.9e125", &out));
    EXPECT_EQ(0xFF, out[0]);
    EXPECT_TRUE(encodeNumberText("1e-128", &out));
    EXPECT_EQ(0x81, out[0]);
    EXPECT_TRUE(encodeNumberText("1e-130", &out));   // zero's 0x80, with a digit: 80 02
    EXPECT_EQ(Bytes({0x80, 0x02}), out);
    EXPECT_FALSE(encodeNumberText("1e-131", &out));
    EXPECT_TRUE(encodeNumberText("-1e-130", &out));
    EXPECT_EQ(0x7F, out[0]);
    EXPECT_FALSE(encodeNumberText("", &out));
    EXPECT_FALSE(encodeNumberText("1.2.3", &out));
    EXPECT_FALSE(encodeNumberText("12a", &out));
    EXPECT_FALSE(encodeNumberText("-", &out));
}

TEST(ForgeValues, NumberDisplayTextIsWhatZorPrints) {
    EXPECT_EQ("0", shown("0"));
    EXPECT_EQ("0", shown("-0.0"));
    EXPECT_EQ("1", shown("1.000"));
    EXPECT_EQ("100", shown("100"));
    EXPECT_EQ("1000000", shown("1e6"));
    EXPECT_EQ("0.5", shown(".5"));
    EXPECT_EQ("0.05", shown("0.050"));
    EXPECT_EQ("-0.5", shown("-0.5"));
    EXPECT_EQ("12.3", shown("012.30"));
    EXPECT_EQ("-1234.5", shown("-1234.5"));
    EXPECT_EQ("0.0000000000000000000000000000015", shown("1.5e-30"));
}

TEST(ForgeValues, NumberBytesDecodeBackToTheirText) {
    const char *values[] = {"0", "1", "-1", "100", "0.5", "-0.05", "1234.5", "-987654.321",
                            "12345678901234567890123456789012345678", "1e-100", "-9.99e100"};
    for (const char *v : values) EXPECT_EQ(shown(v), displayText(kColumnNumber, number(v))) << v;
}

TEST(ForgeValues, DateKnownEncoding) {
    DateTime t;
    ASSERT_TRUE(parseDateTime("2025-12-31 23:59:59", &t));
    Bytes bytes;
    ASSERT_TRUE(encodeDate(&t, &bytes));
    EXPECT_EQ(Bytes({0x78, 0x7D, 0x0C, 0x1F, 0x18, 0x3C, 0x3C}), bytes);
    EXPECT_EQ("2025-12-31 23:59:59", displayText(kColumnDate, bytes));
    // HIREDATE of the real EMP block: 1980-12-17 00:00:00.
    ASSERT_TRUE(parseDateTime("1980-12-17", &t));
    ASSERT_TRUE(encodeDate(&t, &bytes));
    EXPECT_EQ(Bytes({0x77, 0xB4, 0x0C, 0x11, 0x01, 0x01, 0x01}), bytes);
    EXPECT_FALSE(parseDateTime("2023-02-29", &t));
    EXPECT_FALSE(parseDateTime("2025-13-01", &t));
    EXPECT_FALSE(parseDateTime("2025-01-01 24:00:00", &t));
    EXPECT_TRUE(parseDateTime("2024-02-29T12:00:00", &t));
}

TEST(ForgeValues, TimestampSevenAndElevenBytes) {
    DateTime t;
    ASSERT_TRUE(parseDateTime("2025-12-31 23:59:59.0005", &t));
    EXPECT_EQ(500000u, t.nanosecond);
    Bytes bytes;
    ASSERT_TRUE(encodeTimestamp(&t, true, &bytes));
    EXPECT_EQ(Bytes({0x78, 0x7D, 0x0C, 0x1F, 0x18, 0x3C, 0x3C, 0x00, 0x07, 0xA1, 0x20}), bytes);
    EXPECT_EQ("2025-12-31 23:59:59.000500", displayText(kColumnTimestamp, bytes));
    ASSERT_TRUE(encodeTimestamp(&t, false, &bytes));
    EXPECT_EQ(7u, bytes.size());
    EXPECT_EQ("2025-12-31 23:59:59", displayText(kColumnTimestamp, bytes));
}

TEST(ForgeValues, TimestampWithTimeZoneIsStoredInUtc) {
    DateTime t;
    ASSERT_TRUE(parseDateTime("2025-01-01 01:30:00.123456789 +02:00", &t));
    Bytes bytes;
    ASSERT_TRUE(encodeTimestampTz(&t, &bytes));
    ASSERT_EQ(13u, bytes.size());
    // 2024-12-31 23:30:00 UTC, 123456789 ns, offset +2:00 as 22 and 60.
    EXPECT_EQ(Bytes({0x78, 0x7C, 0x0C, 0x1F, 0x18, 0x1F, 0x01, 0x07, 0x5B, 0xCD, 0x15, 22, 60}), bytes);
    EXPECT_EQ("2025-01-01 01:30:00.123456 +02:00", displayText(kColumnTimestampTz, bytes));
    ASSERT_TRUE(parseDateTime("2024-02-28 22:00:00 -05:30", &t));
    ASSERT_TRUE(encodeTimestampTz(&t, &bytes));
    EXPECT_EQ("2024-02-28 22:00:00.000000 -05:30", displayText(kColumnTimestampTz, bytes));
    EXPECT_EQ(15, bytes[11]);
    EXPECT_EQ(30, bytes[12]);
}

TEST(ForgeValues, BinaryFloatAndDoubleKnownEncodings) {
    EXPECT_EQ(Bytes({0xBF, 0x80, 0x00, 0x00}), encodeBinaryFloat(1.0f));
    EXPECT_EQ(Bytes({0x40, 0x3F, 0xFF, 0xFF}), encodeBinaryFloat(-1.5f));  // ~0xBFC00000
    EXPECT_EQ(Bytes({0x80, 0x00, 0x00, 0x00}), encodeBinaryFloat(0.0f));
    EXPECT_EQ(Bytes({0xBF, 0xF0, 0, 0, 0, 0, 0, 0}), encodeBinaryDouble(1.0));
    EXPECT_EQ(Bytes({0x40, 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), encodeBinaryDouble(-1.5));
    EXPECT_EQ("-1.5", displayText(kColumnBinaryFloat, encodeBinaryFloat(-1.5f)));
    EXPECT_EQ("3.25", displayText(kColumnBinaryDouble, encodeBinaryDouble(3.25)));
    // The bytes sort as the numbers do.
    EXPECT_LT(encodeBinaryDouble(-2.0), encodeBinaryDouble(-1.0));
    EXPECT_LT(encodeBinaryDouble(-1.0), encodeBinaryDouble(0.0));
    EXPECT_LT(encodeBinaryDouble(0.0), encodeBinaryDouble(1e-300));
    EXPECT_LT(encodeBinaryFloat(1.0f), encodeBinaryFloat(INFINITY));
}

TEST(ForgeValues, TypedLiterals) {
    char error[256];
    FieldValue v;
    ColumnDef name = {"NAME", kColumnChar, 10};
    ASSERT_TRUE(makeFieldValue(&name, "a", &v, error, sizeof error)) << error;
    EXPECT_EQ(10u, v.bytes.size());
    EXPECT_EQ("a", v.text);
    ColumnDef raw = {"R", kColumnRaw, 0};
    ASSERT_TRUE(makeFieldValue(&raw, "00ff1A", &v, error, sizeof error));
    EXPECT_EQ(Bytes({0x00, 0xFF, 0x1A}), v.bytes);
    EXPECT_EQ("00FF1A", v.text);
    EXPECT_FALSE(makeFieldValue(&raw, "0g", &v, error, sizeof error));
    ColumnDef n = {"N", kColumnNumber, 0};
    ASSERT_TRUE(makeFieldValue(&n, "-12.50", &v, error, sizeof error));
    EXPECT_EQ("-12.5", v.text);
    EXPECT_FALSE(makeFieldValue(&n, "abc", &v, error, sizeof error));
    ColumnDef ts = {"T", kColumnTimestamp, 0};
    ASSERT_TRUE(makeFieldValue(&ts, "2020-01-02 03:04:05.6", &v, error, sizeof error));
    EXPECT_EQ(11u, v.bytes.size());
    EXPECT_EQ("2020-01-02 03:04:05.600000", v.text);
    ColumnType type;
    ASSERT_TRUE(parseColumnType("timestamptz", &type));
    EXPECT_EQ(kColumnTimestampTz, type);
    ASSERT_TRUE(parseColumnType("BINARY_DOUBLE", &type));
    EXPECT_EQ(kColumnBinaryDouble, type);
    ASSERT_TRUE(parseColumnType("nclob", &type));
    EXPECT_EQ(kColumnNclob, type);
    EXPECT_FALSE(parseColumnType("bfile", &type));
}
