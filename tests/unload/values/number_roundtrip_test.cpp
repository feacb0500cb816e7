// NUMBER round trips: random decimals are stored the way Oracle stores a
// NUMBER (by the encoder below, written from the storage format) and must
// come back from ora_number_to_string as exactly the same text.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "unload/values/value_format.h"

namespace {

// Oracle NUMBER storage, as this test understands it:
//   byte 0   zero: 0x80 alone; positive: 192 + e; negative: 63 - e, where e
//            is the number of base-100 digit pairs before the decimal point
//            (negative for values below 0.01)
//   digits   one byte per base-100 pair, leading and trailing zero pairs not
//            stored: pair + 1 for positives, 101 - pair for negatives
//   102      ends a negative with fewer than 20 digit bytes
// Returns false for a value that cannot be stored (over 20 pairs, exponent
// out of range).
bool encodeNumber(const std::string &text, std::vector<uint8_t> *out)
{
    out->clear();
    size_t pos = 0;
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        pos = 1;
    }
    size_t dot = text.find('.', pos);
    std::string ip = text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
    std::string fp = dot == std::string::npos ? "" : text.substr(dot + 1);
    while (!ip.empty() && ip[0] == '0')
        ip.erase(0, 1);
    while (!fp.empty() && fp.back() == '0')
        fp.pop_back();
    if (ip.empty() && fp.empty()) {
        out->push_back(0x80);
        return true;
    }
    if (ip.size() % 2 != 0)
        ip = "0" + ip;
    if (fp.size() % 2 != 0)
        fp += "0";
    std::string digits = ip + fp;
    int e = (int)ip.size() / 2;
    std::vector<int> pairs;
    for (size_t i = 0; i < digits.size(); i += 2)
        pairs.push_back((digits[i] - '0') * 10 + (digits[i + 1] - '0'));
    size_t lead = 0;
    while (lead < pairs.size() && pairs[lead] == 0)
        lead++;
    e -= (int)lead;
    pairs.erase(pairs.begin(), pairs.begin() + (long)lead);
    while (!pairs.empty() && pairs.back() == 0)
        pairs.pop_back();
    if (pairs.empty() || pairs.size() > 20)
        return false;
    if (!negative) {
        if (e < -63 || e > 63)
            return false;
        out->push_back((uint8_t)(192 + e));
        for (int p : pairs)
            out->push_back((uint8_t)(p + 1));
    } else {
        if (e < -64 || e > 63)
            return false;
        out->push_back((uint8_t)(63 - e));
        for (int p : pairs)
            out->push_back((uint8_t)(101 - p));
        if (pairs.size() < 20)
            out->push_back(102);
    }
    return true;
}

// The canonical decimal text of sign, exponent e and digit pairs.
std::string decimalText(bool negative, int e, const std::vector<int> &pairs)
{
    std::string digits;
    for (int p : pairs) {
        digits += (char)('0' + p / 10);
        digits += (char)('0' + p % 10);
    }
    int point = 2 * e;
    if (point <= 0) {
        digits = std::string((size_t)-point, '0') + digits;
        point = 0;
    }
    if ((size_t)point > digits.size())
        digits += std::string((size_t)point - digits.size(), '0');
    std::string ip = digits.substr(0, (size_t)point);
    std::string fp = digits.substr((size_t)point);
    while (!ip.empty() && ip[0] == '0')
        ip.erase(0, 1);
    while (!fp.empty() && fp.back() == '0')
        fp.pop_back();
    std::string text = negative ? "-" : "";
    text += ip.empty() ? "0" : ip;
    if (!fp.empty())
        text += "." + fp;
    return text;
}

std::string decode(const std::vector<uint8_t> &bytes)
{
    char text[kNumberTextSize];
    int n = ora_number_to_string(bytes.data(), bytes.size(), text, sizeof text);
    EXPECT_EQ((size_t)n, strlen(text));
    return std::string(text, n > 0 ? (size_t)n : 0);
}

struct Generator {
    std::mt19937_64 rng;

    int below(int n) { return (int)(rng() % (uint64_t)n); }
    char digit() { return (char)('0' + below(10)); }
    char nonZeroDigit() { return (char)('1' + below(9)); }

    std::string digits(int count, bool firstNonZero, bool lastNonZero)
    {
        std::string s;
        for (int i = 0; i < count; i++)
            s += digit();
        if (count > 0 && firstNonZero)
            s[0] = nonZeroDigit();
        if (count > 0 && lastNonZero)
            s[(size_t)count - 1] = nonZeroDigit();
        return s;
    }

    std::string sign() { return below(2) == 0 ? "" : "-"; }

    // Integers of 1 to 38 digits.
    std::string integer() { return sign() + digits(1 + below(38), true, false); }

    // An integer part of up to 19 digits and a fraction of 1 to 20 digits.
    std::string fraction()
    {
        int intDigits = below(20);
        std::string ip = intDigits == 0 ? "0" : digits(intDigits, true, false);
        return sign() + ip + "." + digits(1 + below(20), false, true);
    }

    // Values far below 1: up to 126 zeros after the point.
    std::string tiny() { return sign() + "0." + std::string((size_t)below(127), '0') + digits(1 + below(20), true, true); }

    // Integers far above 1: up to 40 significant digits, zeros up to 126 digits.
    std::string huge()
    {
        int significant = 1 + below(40);
        int total = significant + below(127 - significant);
        return sign() + digits(significant, true, false) + std::string((size_t)(total - significant), '0');
    }

    // Exactly 20 digit pairs (21 bytes, and for a negative no terminator),
    // at any exponent the format allows.
    std::string twentyPairs(bool negative, int *eOut, std::vector<int> *pairsOut)
    {
        std::vector<int> pairs;
        for (int i = 0; i < 20; i++)
            pairs.push_back(below(100));
        pairs[0] = 1 + below(99);
        pairs[19] = 1 + below(99);
        int e = -63 + below(127);
        *eOut = e;
        *pairsOut = pairs;
        return decimalText(negative, e, pairs);
    }
};

}  // namespace

TEST(NumberRoundTrip, EncoderAgreesWithOracleSamples)
{
    std::vector<uint8_t> b;
    ASSERT_TRUE(encodeNumber("1", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0xC1, 0x02}));
    ASSERT_TRUE(encodeNumber("100", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0xC2, 0x02}));
    ASSERT_TRUE(encodeNumber("1234.5", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0xC2, 0x0D, 0x23, 0x33}));
    ASSERT_TRUE(encodeNumber("0.05", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0xC0, 0x06}));
    ASSERT_TRUE(encodeNumber("-1", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0x3E, 0x64, 0x66}));
    ASSERT_TRUE(encodeNumber("-0.5", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0x3F, 0x33, 0x66}));
    ASSERT_TRUE(encodeNumber("0", &b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0x80}));
    // Oracle writes -1/3 as 3F followed by twenty 44 bytes.
    ASSERT_TRUE(encodeNumber("-0." + std::string(40, '3'), &b));
    std::vector<uint8_t> third(21, 0x44);
    third[0] = 0x3F;
    EXPECT_EQ(b, third);
}

TEST(NumberRoundTrip, TwoHundredThousandRandomDecimals)
{
    Generator gen{std::mt19937_64(20260408)};
    int checked = 0;
    int mismatches = 0;
    int twentyPairNegatives = 0;
    int twentyPairPositives = 0;
    std::vector<uint8_t> bytes;
    while (checked < 200000) {
        std::string text;
        int kind = checked % 6;
        if (kind == 0) {
            text = gen.integer();
        } else if (kind == 1) {
            text = gen.fraction();
        } else if (kind == 2) {
            text = gen.tiny();
        } else if (kind == 3) {
            text = gen.huge();
        } else {
            bool negative = kind == 4;
            int e;
            std::vector<int> pairs;
            text = gen.twentyPairs(negative, &e, &pairs);
            ASSERT_TRUE(encodeNumber(text, &bytes)) << text;
            ASSERT_EQ(bytes.size(), 21u) << text;
            ASSERT_EQ(bytes[0], negative ? 63 - e : 192 + e);
            if (negative)
                twentyPairNegatives++;
            else
                twentyPairPositives++;
        }
        if (!encodeNumber(text, &bytes))
            continue;  // over 20 pairs or out of range: not a NUMBER
        checked++;
        std::string back = decode(bytes);
        if (back != text && ++mismatches <= 10)
            ADD_FAILURE() << text << " came back as " << back;
        if (ora_valid_number(bytes.data(), bytes.size()) != 1 && ++mismatches <= 10)
            ADD_FAILURE() << text << " was not recognised as a NUMBER";
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(twentyPairNegatives, 30000);
    EXPECT_GT(twentyPairPositives, 30000);
}

TEST(NumberRoundTrip, ExtremeExponents)
{
    std::vector<uint8_t> bytes;
    // Largest: 63 pairs before the point.
    std::string biggest = "99" + std::string(124, '0');
    ASSERT_TRUE(encodeNumber(biggest, &bytes));
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(decode(bytes), biggest);
    ASSERT_TRUE(encodeNumber("-" + biggest, &bytes));
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(decode(bytes), "-" + biggest);
    // Smallest positive: 63 zero pairs after the point.
    std::string smallest = "0." + std::string(126, '0') + "1";
    ASSERT_TRUE(encodeNumber(smallest, &bytes));
    EXPECT_EQ(bytes[0], 0x81);
    EXPECT_EQ(decode(bytes), smallest);
    std::string smallestNegative = "-0." + std::string(128, '0') + "1";
    ASSERT_TRUE(encodeNumber(smallestNegative, &bytes));
    EXPECT_EQ(bytes[0], 0x7F);
    EXPECT_EQ(decode(bytes), smallestNegative);
    // The longest text a NUMBER can make fits the documented buffer.
    std::string longest = "-0." + std::string(128, '0') + std::string(40, '9');
    ASSERT_TRUE(encodeNumber(longest, &bytes));
    EXPECT_EQ(decode(bytes), longest);
    EXPECT_LT(longest.size() + 1, kNumberTextSize);
}
