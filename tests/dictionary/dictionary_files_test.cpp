// The dictionary line parsers and the line reader, on handwritten lines.
#include <string>

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
    setLine(&line, "9,AB" + std::string(125, 'C') + "\n");   // 129
    EXPECT_EQ(parseORASYSUSER(&user, &line), 1);
}

TEST(ParseUser, LongNameIsCutTo63Characters) {
    CommandLine line;
    UserEntry user;
    setLine(&line, "7," + std::string(80, 'N') + "\n");
    ASSERT_EQ(parseORASYSUSER(&user, &line), 0);
    EXPECT_EQ(std::string(user.name), std::string(63, 'N'));
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

}  // namespace
