#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "shell/shell.h"

namespace {

std::string decode(const char *source, int limit = 127) {
    char out[256];
    int n = convertOption(source, out, limit);
    EXPECT_EQ(out[n], '\0');
    return std::string(out, (size_t)n);
}

TEST(ConvertOption, DecodesEscapes) {
    EXPECT_EQ(decode("\\x09"), "\t");
    EXPECT_EQ(decode("\\t\\n"), "\t\n");
    EXPECT_EQ(decode("\\x7C"), "|");
    EXPECT_EQ(decode("\\x7c"), "|");
    EXPECT_EQ(decode("\\l\\r\\s\\\\"), "|\r \\");
    EXPECT_EQ(decode("a\\qb"), "aqb");         // unknown escape: the character itself
    EXPECT_EQ(decode("\\xZ1"), "\x01");        // a non-hex digit counts as 0
    EXPECT_EQ(decode("\\x4"), "4");            // only one character after \x
    EXPECT_EQ(decode("\\x"), "x");
    EXPECT_EQ(decode("ab\\"), "ab");           // lone trailing backslash
    EXPECT_EQ(decode("plain"), "plain");
}

TEST(ConvertOption, HonoursLimitAndWorksInPlace) {
    char out[16];
    EXPECT_EQ(convertOption("abcdef", out, 3), 3);
    EXPECT_STREQ(out, "abc");
    // The limit cuts an escape short: "\x4" of "\x41" is all that is seen.
    EXPECT_EQ(convertOption("\\x41", out, 3), 1);
    EXPECT_STREQ(out, "4");
    char buf[32] = "\\x41\\tz";
    EXPECT_EQ(convertOption(buf, buf, 31), 3);
    EXPECT_STREQ(buf, "A\tz");
}

CommandLine lineOf(const char *text) {
    CommandLine line;
    memset(&line, 0, sizeof line);
    snprintf(line.text, sizeof line.text, "%s", text);
    line.length = (uint32_t)strlen(text);
    return line;
}

std::string field(const CommandLine &line) {
    return std::string(line.text + line.start, line.end - line.start);
}

TEST(ScanNextField, WalksCommaSeparatedFields) {
    CommandLine line = lineOf("1,,3");
    EXPECT_EQ(scanNextField(&line), 1);
    EXPECT_EQ(field(line), "1");
    EXPECT_EQ(scanNextField(&line), 0);
    EXPECT_EQ(scanNextField(&line), 1);
    EXPECT_EQ(field(line), "3");
    EXPECT_EQ(scanNextField(&line), 0);

    line = lineOf("74512,SCOTT,EMP,");
    EXPECT_EQ(scanNextField(&line), 5);
    EXPECT_EQ(scanNextField(&line), 5);
    EXPECT_EQ(field(line), "SCOTT");
    EXPECT_EQ(scanNextField(&line), 3);
    EXPECT_EQ(field(line), "EMP");
    EXPECT_EQ(scanNextField(&line), 0);
    EXPECT_EQ(scanNextField(&line), 0);
}

TEST(ScanNextWord, FindsWordsAndComparesKeywords) {
    CommandLine cmd = lineOf("  set\tBlock_Size   8192 ");
    EXPECT_EQ(scanNextWord(&cmd), 3);
    EXPECT_EQ(compareKeyword(&cmd, "SET"), 0);
    EXPECT_NE(compareKeyword(&cmd, "SE"), 0);
    EXPECT_EQ(scanNextWord(&cmd), 10);
    EXPECT_EQ(compareKeyword(&cmd, "BLOCK_SIZE"), 0);
    EXPECT_EQ(scanNextWord(&cmd), 4);
    char word[3];
    EXPECT_EQ(copyCurrentWord(&cmd, word, sizeof word), 2);
    EXPECT_STREQ(word, "81");
    EXPECT_EQ(scanNextWord(&cmd), 0);
    EXPECT_EQ(cmd.start, cmd.end);
}

// Runs a reader over the given input, with its prompts captured.
struct ReadResult {
    int status;
    std::string text;
    uint32_t length;
    std::string printed;
};

ReadResult readWith(bool script, const std::string &input) {
    static CommandLine cmd;
    FILE *in = fmemopen((void *)input.data(), input.size(), "r");
    testing::internal::CaptureStdout();
    ReadResult r;
    r.status = script ? readZORCommand(in, &cmd) : getZORCommand(in, &cmd);
    r.printed = testing::internal::GetCapturedStdout();
    r.text = cmd.text;
    r.length = cmd.length;
    fclose(in);
    return r;
}

TEST(CommandReader, AssemblesUnloadOverLines) {
    ReadResult r = readWith(false, "UNLOAD TABLE A.B\nTO x.txt\nLIMIT 5;\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "UNLOAD TABLE A.B TO x.txt LIMIT 5");
    EXPECT_EQ(r.length, r.text.size());
    EXPECT_EQ(r.printed, "ZOR>    2    3 ");

    r = readWith(false, "UNLOAD TABLE A.B\nTO x.txt .\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.length, 0u);

    r = readWith(false, "SET BLOCK_SIZE 8192\nnext\n");
    EXPECT_EQ(r.text, "SET BLOCK_SIZE 8192");
    r = readWith(false, "exit\n");
    EXPECT_EQ(r.status, -1);
    r = readWith(false, "EXIT;\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "EXIT");
    r = readWith(false, "EXITS\n");
    EXPECT_EQ(r.status, 0);
    r = readWith(false, "   \n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.length, 0u);
    r = readWith(false, "");  // input closed for good
    EXPECT_EQ(r.status, -1);
}

TEST(CommandReader, SplitsLongLinesAndStopsLongCommands) {
    // A 1500-character line arrives as two lines; the second continues an UNLOAD.
    std::string longLine = "UNLOAD " + std::string(1493, 'a') + "\n;\n";
    ReadResult r = readWith(false, longLine);
    EXPECT_EQ(r.status, 0);
    // Two joining blanks; the ";" line leaves its blank behind.
    EXPECT_EQ(r.text.size(), 1502u);
    EXPECT_EQ(r.text.substr(0, 1023), longLine.substr(0, 1023));
    // An UNLOAD that never ends with ";" is complete once it passes the
    // command limit, with room for the longest line it may take last.
    std::string endless = "UNLOAD";
    for (int i = 0; i < kCommandTextSize / 1000 + 2; i++)
        endless += "\n" + std::string(1000, 'b');
    r = readWith(false, endless + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(r.length, (uint32_t)kCommandLimit);
    EXPECT_LT(r.length, (uint32_t)kCommandTextSize);
    EXPECT_EQ(r.length, r.text.size());
}

TEST(CommandReader, ScriptEchoesAndCompletesAtEndOfFile) {
    ReadResult r = readWith(true, "\nREM hi\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "REM hi");
    EXPECT_EQ(r.printed, "ZOR> \nZOR> REM hi\n");

    r = readWith(true, "UNLOAD TABLE A.B\nTO c");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "UNLOAD TABLE A.B TO c");
    EXPECT_EQ(r.printed, "ZOR> UNLOAD TABLE A.B\n   2 TO c   3 \n");

    r = readWith(true, "UNLOAD TABLE A.B\nTO c.");
    EXPECT_EQ(r.length, 0u);
    r = readWith(true, "EXIT");
    EXPECT_EQ(r.status, -1);
    r = readWith(true, "EXIT\n");
    EXPECT_EQ(r.status, -1);
    r = readWith(true, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.length, 0u);
}

}  // namespace

namespace {

// OWNER.NAME with either part in double quotes.
struct QualifiedCase {
    const char *typed;
    int result;
    const char *owner;
    const char *name;
};

class QualifiedName : public ::testing::TestWithParam<QualifiedCase> {};

TEST_P(QualifiedName, QuotedPartsLoseTheirQuotes)
{
    const QualifiedCase &q = GetParam();
    char owner[129];
    char name[129];
    EXPECT_EQ(splitQualifiedName(q.typed, owner, name, sizeof owner), q.result);
    if (q.result == kNameSplit) {
        EXPECT_STREQ(owner, q.owner);
        EXPECT_STREQ(name, q.name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, QualifiedName,
    ::testing::Values(
        QualifiedCase{"SCOTT.EMP", kNameSplit, "SCOTT", "EMP"},
        QualifiedCase{"SCOTT.A.B", kNameSplit, "SCOTT", "A.B"},
        QualifiedCase{"\"Own er\".\"My Table.v2\"", kNameSplit, "Own er", "My Table.v2"},
        QualifiedCase{"\"O.W\".T", kNameSplit, "O.W", "T"},
        QualifiedCase{"S.\"say \"\"hi\"\"\"", kNameSplit, "S", "say \"hi\""},
        QualifiedCase{"S.\"open", kNameMalformed, "", ""}, QualifiedCase{"S.\"A\"B", kNameMalformed, "", ""},
        QualifiedCase{"SCOTTEMP", kNameMalformed, "", ""}, QualifiedCase{".EMP", kNameMalformed, "", ""},
        QualifiedCase{"SCOTT.", kNameMalformed, "", ""}, QualifiedCase{"S.\"\"", kNameMalformed, "", ""}));

TEST(QuotedWord, BlanksInsideQuotesStayInTheWord)
{
    CommandLine cmd;
    memset(&cmd, 0, sizeof cmd);
    snprintf(cmd.text, sizeof cmd.text, "TABLE \"Own er\".\"T b\" TO x");
    cmd.length = (uint32_t)strlen(cmd.text);
    ASSERT_GT(scanNextWord(&cmd), 0);
    ASSERT_GT(scanNextWord(&cmd), 0);
    takeQuotedWord(&cmd);
    char word[64];
    copyCurrentWord(&cmd, word, sizeof word);
    EXPECT_STREQ(word, "\"Own er\".\"T b\"");
    ASSERT_GT(scanNextWord(&cmd), 0);
    copyCurrentWord(&cmd, word, sizeof word);
    EXPECT_STREQ(word, "TO");
}

}  // namespace
