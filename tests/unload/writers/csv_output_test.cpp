// Quoted CSV values and the PostgreSQL value forms, value by value.  The
// whole-table round trips (every sample table read back by Python's csv
// module and loaded into a real PostgreSQL server) are in tests/roundtrip.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "block/test_block_builder.h"
#include "unload/writers/csv_output.h"
#include "unload/unload.h"

using namespace testblock;

namespace {

struct CsvValue {
    std::vector<uint8_t> bytes;
    uint8_t type;
    unsigned split;
};

// The values written one after another as one record's fields (no
// separators between them: each call is one field or one part of one).
std::string writeCsv(const std::vector<CsvValue> &values, uint8_t target = kTargetOracle,
                     uint16_t charsetId = 873)
{
    std::vector<uint8_t> image(8192, 0);
    auto ctx = makeContext(image, kLittle);
    ctx->fieldTag[0] = '|';
    ctx->fieldTagLength = 1;
    ctx->recordTag[0] = '\r';
    ctx->recordTag[1] = '\n';
    ctx->recordTagLength = 2;
    ctx->target = target;
    for (int i = 0; i < 8; i++)
        ctx->columnCharsetId[i] = charsetId;
    EXPECT_TRUE(beginCsvOutput(ctx.get(), 0, 1, 2000));
    Capture c;
    openCapture(&c);
    TextSink sink;
    initTextSink(&sink, c.stream);
    uint32_t offset = 100;
    for (size_t i = 0; i < values.size(); i++) {
        memcpy(image.data() + offset, values[i].bytes.data(), values[i].bytes.size());
        appendCsvField(&sink, ctx.get(), offset, (uint32_t)values[i].bytes.size(), values[i].type, 0, 0,
                       (uint32_t)i, values[i].split);
        offset += (uint32_t)values[i].bytes.size();
    }
    finishCsvRecord(&sink, ctx.get());
    flushTextSink(&sink);
    endCsvOutput(ctx.get());
    return closeCapture(&c);
}

std::vector<uint8_t> text(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string postgresDate(const std::vector<uint8_t> &v, bool withZone, std::string *reason = nullptr)
{
    char out[64];
    const char *why = nullptr;
    uint32_t n = formatPostgresDateTime(v.data(), (uint32_t)v.size(), withZone, out, &why);
    if (reason != nullptr)
        *reason = why != nullptr ? why : "";
    return std::string(out, n);
}

}  // namespace

TEST(CsvOutput, QuotesOnlyWhatWouldSplitOrMergeFields)
{
    const struct {
        const char *stored;
        const char *written;
    } cases[] = {
        {"plain", "plain"},
        {"a|b", "\"a|b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"lf\nhere", "\"lf\nhere\""},
        {"crlf\r\nhere", "\"crlf\r\nhere\""},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"a,b", "a,b"},
        {"\xe6\x97\xa5\xe6\x9c\xac", "\xe6\x97\xa5\xe6\x9c\xac"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(writeCsv({{text(c.stored), 1, 0}}), c.written) << c.stored;
    // A CHAR of blanks is a value with no text: "" keeps it apart from NULL.
    EXPECT_EQ(writeCsv({{text("   "), 96, 0}}), "\"\"");
}

TEST(CsvOutput, ValueCutBetweenPiecesIsQuotedWhole)
{
    EXPECT_EQ(writeCsv({{text("ab|"), 1, kCsvContinues}, {text("c\"d"), 1, kCsvContinued}}), "\"ab|c\"\"d\"");
    EXPECT_EQ(writeCsv({{text("ab"), 1, kCsvContinues}, {text("cd"), 1, kCsvContinued}}), "abcd");
    // A cut value whose rest never came is written when the record ends.
    EXPECT_EQ(writeCsv({{text("a|"), 1, kCsvContinues}}), "\"a|\"");
}

TEST(CsvOutput, PostgresForms)
{
    // NVARCHAR2 in AL16UTF16 becomes UTF-8.
    EXPECT_EQ(writeCsv({{{0x00, 'G', 0x00, 0xFC}, 1, 0}}, kTargetPostgres, 2000), "G\xc3\xbc");
    // RAW as bytea.
    EXPECT_EQ(writeCsv({{{0xDE, 0xAD}, 23, 0}}, kTargetPostgres), "\\xDEAD");
    // Text that is not UTF-8, or holds a NUL, cannot be held: NULL.
    EXPECT_EQ(writeCsv({{{'a', 0xFF}, 1, 0}}, kTargetPostgres), "");
    EXPECT_EQ(writeCsv({{{'a', 0x00, 'b'}, 1, 0}}, kTargetPostgres), "");
    // ZHS16GBK text is converted.
    EXPECT_EQ(writeCsv({{{0xC4, 0xE3}, 1, 0}}, kTargetPostgres, 852), "\xe4\xbd\xa0");
    // A malformed NUMBER is reported and left NULL rather than "".
    EXPECT_EQ(writeCsv({{{0xC1, 0x00}, 2, 0}}, kTargetPostgres), "");
}

TEST(CsvOutput, PostgresDatesKeepTheirCalendarText)
{
    EXPECT_EQ(postgresDate({0x78, 0x7C, 0x02, 0x1D, 0x0E, 0x2E, 0x0B}, false), "2024-02-29 13:45:10");
    // 4712 BC is stored as century 53, year 88.
    EXPECT_EQ(postgresDate({53, 88, 1, 1, 1, 1, 1}, false), "4712-01-01 00:00:00 BC");
    EXPECT_EQ(postgresDate({100, 99, 12, 31, 24, 60, 60}, false), "0001-12-31 23:59:59 BC");
    EXPECT_EQ(postgresDate({200, 100, 1, 1, 1, 1, 1}, false), "10000-01-01 00:00:00");
    // Nine fractional digits: microseconds, cut rather than rounded into the
    // next second (and year).
    EXPECT_EQ(postgresDate({199, 199, 12, 31, 24, 60, 60, 0x3B, 0x9A, 0xC9, 0xFF}, false),
              "9999-12-31 23:59:59.999999");
    // With a zone: the stored UTC instant.
    EXPECT_EQ(postgresDate({0x78, 0x7C, 0x02, 0x1D, 0x0C, 0x2E, 0x0B, 0, 0, 0, 0, 22, 60}, true),
              "2024-02-29 11:45:10.000000+00:00");
    std::string reason;
    EXPECT_EQ(postgresDate({100, 100, 1, 1, 1, 1, 1}, false, &reason), "");
    EXPECT_EQ(reason, "a date in year 0");
    EXPECT_EQ(postgresDate({53, 87, 11, 23, 1, 1, 1}, false, &reason), "");   // 4713-11-23 BC
    EXPECT_EQ(reason, "a date before 4713-11-24 BC");
    EXPECT_EQ(postgresDate({53, 87, 11, 24, 1, 1, 1}, false), "4713-11-24 00:00:00 BC");
    EXPECT_EQ(postgresDate({120, 123, 2, 29, 1, 1, 1}, false, &reason), "");  // 2023 is no leap year
    EXPECT_EQ(postgresDate({120, 123, 1, 1, 0, 1, 1}, false, &reason), "");   // hour byte 0
    EXPECT_EQ(postgresDate({120, 123, 1, 1, 1, 1}, false, &reason), "");      // 6 bytes
}
