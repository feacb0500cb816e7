// The dictionary line parsers and the line reader, on handwritten lines.
#include <string>
#include <vector>

#include "dictionary_test_env.h"

namespace {

TEST(ParseUser, TrailingBlanksAndNewlineAreStripped) {
    CommandLine line;
    UserEntry user;
    setLine(&line, "54,SCOTT   \n");
    ASSERT_EQ(parseORASYSUSER(&user, &line), 0);
    EXPECT_EQ(user.userNumber, 54u);
    EXPECT_STREQ(user.name, "SCOTT");
}

TEST(ParseUser, NameAndNumberAreRequired) {
    CommandLine line;
    UserEntry user;
    setLine(&line, "54\n");
    EXPECT_EQ(parseORASYSUSER(&user, &line), 1);
    setLine(&line, ",SCOTT\n");
    EXPECT_EQ(parseORASYSUSER(&user, &line), 1);
    setLine(&line, "5,\n");
    EXPECT_EQ(parseORASYSUSER(&user, &line), 1);
}

TEST(ParseUser, LengthLimits) {
    CommandLine line;
    UserEntry user;
    setLine(&line, "0,A\n");   // three characters once the newline is gone
    EXPECT_EQ(parseORASYSUSER(&user, &line), 0);
    setLine(&line, "9,AB" + std::string(124, 'C') + "\n");   // 128 characters
    EXPECT_EQ(parseORASYSUSER(&user, &line), 0);
    setLine(&line, "9,AB" + std::string(125, 'C') + "\n");  // 129: no longer refused
    EXPECT_EQ(parseORASYSUSER(&user, &line), 0);
}

// Oracle 12.2 and later allow 128-byte names; they were cut to 63 bytes.
TEST(ParseUser, NameOf128BytesIsKeptWholeAndALongerOneRefused)
{
    CommandLine line;
    UserEntry user;
    setLine(&line, "7," + std::string(128, 'N') + "\n");
    ASSERT_EQ(parseORASYSUSER(&user, &line), 0);
    EXPECT_EQ(std::string(user.name), std::string(128, 'N'));
    setLine(&line, "7," + std::string(129, 'N') + "\n");
    EXPECT_EQ(parseORASYSUSER(&user, &line), 1);
    EXPECT_STREQ(dictionaryParseProblem(), "a name longer than 128 bytes");
}

TEST(ParseObject, NullSubnameLeavesAnEmptyField) {
    CommandLine line;
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    setLine(&line, "20,0,TAB$,,2\n");
    ASSERT_EQ(parseORASYSOBJ(&object, &line), 0);
    EXPECT_EQ(object.objectNumber, 20u);
    EXPECT_EQ(object.ownerNumber, 0u);
    EXPECT_STREQ(object.name, "TAB$");
    EXPECT_STREQ(object.subname, "");
    EXPECT_EQ(object.type, 2);
    EXPECT_STREQ(object.oid, "");
}

TEST(ParseObject, PartitionLineWithOidAndTrailingComma) {
    CommandLine line;
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    setLine(&line, "74001,54,SALES,P1,19,00000000000000000000000000000ABC,\n");
    ASSERT_EQ(parseORASYSOBJ(&object, &line), 0);
    EXPECT_STREQ(object.subname, "P1");
    EXPECT_EQ(object.type, 19);
    EXPECT_STREQ(object.oid, "00000000000000000000000000000ABC");
}

// The last field of a line keeps its newline; an identifier that ends the
// line must not, or no TOID would ever equal it.
TEST(ParseObject, OidEndingTheLineCarriesNoNewline) {
    CommandLine line;
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    setLine(&line, "300,0,XMLTYPE,,13,0000ABCD\r\n");
    ASSERT_EQ(parseORASYSOBJ(&object, &line), 0);
    EXPECT_STREQ(object.oid, "0000ABCD");
}

TEST(ParseObject, RequiredFields) {
    CommandLine line;
    ObjectEntry object;
    setLine(&line, "20,0,,,2\n");     // no NAME
    EXPECT_EQ(parseORASYSOBJ(&object, &line), 1);
    setLine(&line, "20,0,TAB$,\n");   // no TYPE#
    EXPECT_EQ(parseORASYSOBJ(&object, &line), 1);
    setLine(&line, "20,,TAB$,,2\n");  // no OWNER#
    EXPECT_EQ(parseORASYSOBJ(&object, &line), 1);
    setLine(&line, "1,0\n");          // shorter than five characters
    EXPECT_EQ(parseORASYSOBJ(&object, &line), 1);
}

TEST(ParseSegment, AllFieldsOptional) {
    CommandLine line;
    SegmentEntry segment;
    setLine(&line, "74000,,4,5,130\n");
    ASSERT_EQ(parseORASYSTAB(&segment, &line), 0);
    EXPECT_EQ(segment.objectNumber, 74000u);
    EXPECT_EQ(segment.dataObjectId, 0u);
    EXPECT_EQ(segment.tablespace, 4);
    EXPECT_EQ(segment.headerFile, 5);
    EXPECT_EQ(segment.headerBlock, 130u);
    EXPECT_EQ(segment.cluster, 0);
    setLine(&line, "4,2,0,1,144,5\n");
    ASSERT_EQ(parseORASYSTAB(&segment, &line), 0);
    EXPECT_EQ(segment.cluster, 5);
}

TEST(ParseColumn, EmptyPrecisionStillParses) {
    CommandLine line;
    ColumnEntry column;
    setLine(&line, "12345,1,1,ENAME,1,10,,,0,1,0,873,1\n");
    ASSERT_EQ(parseORASYSCOL(&column, &line), 0);
    EXPECT_EQ(column.objectNumber, 12345u);
    EXPECT_EQ(column.columnNumber, 1);
    EXPECT_EQ(column.segmentColumn, 1);
    EXPECT_STREQ(column.name, "ENAME");
    EXPECT_EQ(column.type, 1);
    EXPECT_EQ(column.length, 10);
    EXPECT_EQ(column.precision, 0);
    EXPECT_EQ(column.scale, 0);
    EXPECT_EQ(column.nullable, 0);
    EXPECT_EQ(column.internalColumn, 1);
    EXPECT_EQ(column.charsetId, 873);
    EXPECT_EQ(column.charsetForm, 1u);
    EXPECT_EQ(column.typeKind, 0u);
    EXPECT_STREQ(column.typeOwner, "");
}

TEST(ParseColumn, EmptyLengthIsIgnored) {
    CommandLine line;
    ColumnEntry column;
    setLine(&line, "12345,1,1,ENAME,1,,,,0,1,0,873,1\n");
    EXPECT_EQ(parseORASYSCOL(&column, &line), 1);
}

TEST(ParseColumn, NegativeScaleAndMissingTail) {
    CommandLine line;
    ColumnEntry column;
    setLine(&line, "12345,2,2,SAL,2,22,7,-2\n");
    ASSERT_EQ(parseORASYSCOL(&column, &line), 0);
    EXPECT_EQ(column.precision, 7);
    EXPECT_EQ(column.scale, -2);
    EXPECT_EQ(column.internalColumn, 0);
    EXPECT_EQ(column.charsetForm, 0u);
}

TEST(ParseColumnType, VersionAndPackedRequiredSynonymOptional) {
    CommandLine line;
    ColumnTypeEntry type;
    setLine(&line, "12345,4,5,0000ABCD,1,0\n");
    ASSERT_EQ(parseORASYSCOLTYPE(&type, &line), 0);
    EXPECT_EQ(type.objectNumber, 12345u);
    EXPECT_EQ(type.columnNumber, 4u);
    EXPECT_EQ(type.internalColumn, 5u);
    EXPECT_STREQ(type.toid, "0000ABCD");
    EXPECT_EQ(type.synonymObject, 0u);
    setLine(&line, "12345,4,5,0000ABCD,1,0,301\n");
    ASSERT_EQ(parseORASYSCOLTYPE(&type, &line), 0);
    EXPECT_EQ(type.synonymObject, 301u);
    setLine(&line, "12345,4,5,0000ABCD,1\n");
    EXPECT_EQ(parseORASYSCOLTYPE(&type, &line), 1);
    setLine(&line, "12345,4,5,,1,0\n");
    EXPECT_EQ(parseORASYSCOLTYPE(&type, &line), 1);
}

TEST(ParseExtent, FourNumbersRequired) {
    CommandLine line;
    ExtentEntry extent;
    setLine(&line, "75321,4,130,8\r\n");
    ASSERT_EQ(parseORAEXTENT(&extent, &line), 0);
    EXPECT_EQ(extent.dataObjectId, 75321u);
    EXPECT_EQ(extent.file, 4);
    EXPECT_EQ(extent.firstBlock, 130u);
    EXPECT_EQ(extent.blockCount, 8u);
    setLine(&line, "75321,4,130\n");
    EXPECT_EQ(parseORAEXTENT(&extent, &line), 1);
    setLine(&line, "1,2\n");
    EXPECT_EQ(parseORAEXTENT(&extent, &line), 1);
    setLine(&line, "1,2,3,4" + std::string(130, '0') + "\n");
    EXPECT_EQ(parseORAEXTENT(&extent, &line), 1);
}

// A caller's length that does not match the text must not lead the field
// scanner astray: the parsers measure the text themselves.
TEST(ParseExtent, StaleLengthIsNotTrusted) {
    CommandLine line;
    ExtentEntry extent;
    setLine(&line, "75321,4,130,8\n");
    line.length = 3;
    ASSERT_EQ(parseORAEXTENT(&extent, &line), 0);
    EXPECT_EQ(extent.blockCount, 8u);
}

class DictionaryLineReader : public DictionaryDir {};

TEST_F(DictionaryLineReader, BlankLinesAreSkipped) {
    writeDictFile("ZORDICT/ZORUSR.TXT", "\n\r\n0,SYS\n\n54,SCOTT\n");
    FILE *f = fopen("ZORDICT/ZORUSR.TXT", "r");
    ASSERT_NE(f, nullptr);
    CommandLine line;
    ASSERT_TRUE(readDictionaryLine(f, &line, kDictLineBuffer));
    EXPECT_STREQ(line.text, "0,SYS\n");
    EXPECT_EQ(line.length, 6u);
    ASSERT_TRUE(readDictionaryLine(f, &line, kDictLineBuffer));
    EXPECT_STREQ(line.text, "54,SCOTT\n");
    EXPECT_FALSE(readDictionaryLine(f, &line, kDictLineBuffer));
    fclose(f);
}

// A line longer than the read buffer used to arrive in pieces, and its short
// tail then parsed as a line of its own: here a phantom user 99.
TEST_F(DictionaryLineReader, TailOfOverlongLineIsNotReadAsALine) {
    // The first 1023 characters fill the buffer; "99,GHOST" follows them.
    std::string longLine = "1," + std::string(1021, 'X') + "99,GHOST\n";
    writeDictFile("ZORDICT/ZORUSR.TXT", "0,SYS\n" + longLine + "54,SCOTT\n");
    FILE *f = fopen("ZORDICT/ZORUSR.TXT", "r");
    ASSERT_NE(f, nullptr);
    CommandLine line;
    ASSERT_TRUE(readDictionaryLine(f, &line, kDictLineBuffer));
    EXPECT_STREQ(line.text, "0,SYS\n");
    ASSERT_TRUE(readDictionaryLine(f, &line, kDictLineBuffer));
    EXPECT_STREQ(line.text, "54,SCOTT\n");
    EXPECT_FALSE(readDictionaryLine(f, &line, kDictLineBuffer));
    fclose(f);
    UserEntry user;
    EXPECT_EQ(getORASYSUSERID(&user, 99), 0);
    ASSERT_EQ(getORASYSUSERID(&user, 54), 1);
    EXPECT_STREQ(user.name, "SCOTT");
}

TEST_F(DictionaryLineReader, LineOfExactlyTheBufferFitsAndLastLineWithoutNewline) {
    std::string exact = "5," + std::string(1020, 'Y') + "\n";   // 1023 characters
    writeDictFile("ZORDICT/ZORUSR.TXT", exact + "54,SCOTT");
    FILE *f = fopen("ZORDICT/ZORUSR.TXT", "r");
    ASSERT_NE(f, nullptr);
    CommandLine line;
    ASSERT_TRUE(readDictionaryLine(f, &line, kDictLineBuffer));
    EXPECT_EQ(line.length, 1023u);
    ASSERT_TRUE(readDictionaryLine(f, &line, kDictLineBuffer));
    EXPECT_STREQ(line.text, "54,SCOTT");
    EXPECT_FALSE(readDictionaryLine(f, &line, kDictLineBuffer));
    fclose(f);
}

// ---- Quoted fields (issue 23) ----

struct QuotedCase {
    const char *line;
    const char *name;  // NAME as parsed, or nullptr when the line is refused
    uint16_t type;
};

class QuotedColumnLine : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(QuotedColumnLine, NameIsOneFieldWhateverItHolds)
{
    const QuotedCase &c = GetParam();
    CommandLine line;
    ColumnEntry column;
    memset(&column, 0, sizeof column);
    setLine(&line, c.line);
    if (c.name == nullptr) {
        EXPECT_EQ(parseORASYSCOL(&column, &line), 1);
        return;
    }
    ASSERT_EQ(parseORASYSCOL(&column, &line), 0);
    EXPECT_STREQ(column.name, c.name);
    EXPECT_EQ(column.type, c.type);
    EXPECT_EQ(column.length, 22);
    EXPECT_EQ(column.charsetForm, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, QuotedColumnLine,
    ::testing::Values(QuotedCase{"90,3,3,\"Unit Price, EUR\",2,22,,,0,3,0,0,0\n", "Unit Price, EUR", 2},
                      QuotedCase{"90,3,3,\"say \"\"hi\"\"\",2,22,,,0,3,0,0,0\n", "say \"hi\"", 2},
                      QuotedCase{"90,3,3,\"two\nlines\",2,22,,,0,3,0,0,0\n", "two\nlines", 2},
                      QuotedCase{"90,3,3,\"CR\r\",2,22,,,0,3,0,0,0\r\n", "CR\r", 2},
                      QuotedCase{"90,3,3,PLAIN,2,22,,,0,3,0,0,0\n", "PLAIN", 2},
                      QuotedCase{"90,3,3,\"\",2,22\n", nullptr, 0},          // empty name
                      QuotedCase{"90,3,3,\"open,2,22,,,0,3\n", nullptr, 0},  // unbalanced quote
                      QuotedCase{"90,3,3,\"A\"B,2,22,,,0,3\n", nullptr, 0},  // text after the quote
                      QuotedCase{"90,3,3,\"L\",\"2\",\"22\"\n", "L", 2}));   // quoted numbers

TEST(ParseObject, QuotedNamesOfOneHundredTwentyEightBytes)
{
    CommandLine line;
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    std::string name(126, 'T');
    setLine(&line, "9,83,\"a," + name + "\",\"P,1\",2,ABCD\n");
    ASSERT_EQ(parseORASYSOBJ(&object, &line), 0);
    EXPECT_EQ(std::string(object.name), "a," + name);
    EXPECT_STREQ(object.subname, "P,1");
    EXPECT_EQ(object.type, 2);
    EXPECT_STREQ(object.oid, "ABCD");
}

// Bad lines of every kind in one file: each is named with its line number
// and passed over, and the lines around them are read.
TEST_F(DictionaryLineReader, BadLinesAreNamedAndTheOthersRead)
{
    std::string content = "0,SYS\n";                        // 1
    content += "83,\"open quote\n";                         // 2: unbalanced
    content += "84,SCOTT\n";                                // 3
    content += "85," + std::string(70 * 1024, 'L') + "\n";  // 4: 70 KB
    content += std::string("86,NUL") + '\0' + "HERE\n";     // 5
    content += "87,\"TWO\nLINES\"\n";                       // 6-7: one record
    content += "88,CUT";                                    // 8: cut, no newline
    writeDictFile("ZORDICT/ZORUSR.TXT", content);
    FILE *err = tmpfile();
    ASSERT_NE(err, nullptr);
    fflush(stderr);
    int saved = dup(fileno(stderr));
    dup2(fileno(err), fileno(stderr));
    DictionaryReader reader;
    ASSERT_TRUE(openDictionaryReader(&reader, kUserFile));
    CommandLine line;
    std::vector<std::string> names;
    std::vector<uint32_t> numbers;
    while (readDictionaryRecord(&reader, &line)) {
        UserEntry user;
        if (parseORASYSUSER(&user, &line) != 0) {
            reportDictionaryLine(&reader, dictionaryParseProblem());
            continue;
        }
        names.push_back(user.name);
        numbers.push_back(reader.lineNumber);
    }
    uint32_t unreadable = reader.unreadable;
    closeDictionaryReader(&reader);
    fflush(stderr);
    dup2(saved, fileno(stderr));
    close(saved);
    rewind(err);
    std::string messages;
    char buf[512];
    while (fgets(buf, sizeof buf, err) != nullptr)
        messages += buf;
    fclose(err);
    EXPECT_EQ(names, (std::vector<std::string>{"SYS", "SCOTT", "TWO\nLINES", "CUT"}));
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 3, 6, 8}));
    EXPECT_EQ(unreadable, 3u);
    EXPECT_EQ(messages,
              "  ZORDICT/ZORUSR.TXT line 2: a quote is left open; line ignored\n"
              "  ZORDICT/ZORUSR.TXT line 4: longer than 8191 bytes; line ignored\n"
              "  ZORDICT/ZORUSR.TXT line 5: holds a NUL byte; line ignored\n");
}

}  // namespace
