// The DESC listing and the CREATE TABLE statement, for every TYPE# the
// dictionary knows, on handwritten column lines.
#include <string>
#include <vector>

#include "dictionary_test_env.h"

namespace {

const char *const kDescHeading =
    "No. SEQ INT Column Name                   Type            \n"
    "--- --- --- ----------------------------- ----------------\n";

// One column of table 12345: its line after "OBJ#,COL#,SEGCOL#," and the
// type text expected in DESC and in CREATE.
struct TypeCase {
    const char *name;
    const char *fields;      // TYPE#, LENGTH, PRECISION#, SCALE, NULL$ (INTCOL#, ... follow)
    const char *tail;        // PROPERTY, CHARSETID, CHARSETFORM
    const char *descText;
    const char *createText;
};

const TypeCase kTypeCases[] = {
    {"C_NVARCHAR2", "1,100,,,0", "0,2000,2", "NVARCHAR2(50) \n", " NVARCHAR2(50)  "},
    {"C_VARCHAR2", "1,30,,,1", "0,873,1", "VARCHAR2(30) NOT NULL\n", " VARCHAR2(30) NOT NULL "},
    {"C_NUMBER", "2,22,,,0", "0,0,0", "NUMBER \n", " NUMBER  "},
    {"C_NUMBER_PS", "2,22,10,2,0", "0,0,0", "NUMBER(10,2) \n", " NUMBER(10,2)  "},
    {"C_NUMBER_STAR", "2,22,40,2,0", "0,0,0", "NUMBER(*,2) \n", " NUMBER(*,2)  "},
    {"C_NUMBER_P", "2,22,10,0,1", "0,0,0", "NUMBER(10) NOT NULL\n", " NUMBER(10) NOT NULL "},
    {"C_FLOAT", "2,22,126,,0", "0,0,0", "FLOAT \n", " FLOAT  "},
    {"C_LONG", "8,0,,,0", "0,873,1", "LONG \n", " LONG  "},
    {"C_NCHAR_VARYING", "9,20,,,0", "0,2000,2", "NCHAR VARYING(10) \n", " NCHAR VARYING(10)  "},
    {"C_VARCHAR", "9,20,,,0", "0,873,1", "VARCHAR(20) \n", " VARCHAR(20)  "},
    {"C_DATE", "12,7,,,1", "0,0,0", "DATE NOT NULL\n", " DATE NOT NULL "},
    {"C_RAW", "23,16,,,0", "0,0,0", "RAW(16) \n", " RAW(16)  "},
    {"C_LONG_RAW", "24,0,,,0", "0,0,0", "LONG RAW \n", " LONG RAW  "},
    {"C_OPAQUE", "58,2000,,,1", "0,0,0", "UNKNOWN_58\n", " 58 "},
    {"C_REF", "111,16,,,0", "0,0,0", "UNKNOWN_111\n", " 111 "},
    {"C_ADDRESS", "121,1,,,1", "0,0,0", "HR.ADDRESS_T\n", " HR.ADDRESS_T "},
    {"C_NESTED", "122,16,,,0", "0,0,0", "UNKNOWN_122\n", " 122 "},
    {"C_VARRAY", "123,100,,,0", "0,0,0", "UNKNOWN_123\n", " 123 "},
    {"C_ROWID", "69,10,,,1", "0,0,0", "ROWID\n", " ROWID "},
    {"C_NCHAR", "96,20,,,0", "0,2000,2", "NCHAR(10) \n", " NCHAR(10)  "},
    {"C_CHAR", "96,5,,,1", "0,873,1", "CHAR(5) NOT NULL\n", " CHAR(5) NOT NULL "},
    {"C_BINARY_FLOAT", "100,4,,,0", "0,0,0", "BINARY_FLOAT \n", " BINARY_FLOAT  "},
    {"C_BINARY_DOUBLE", "101,8,,,0", "0,0,0", "BINARY_DOUBLE \n", " BINARY_DOUBLE  "},
    {"C_MLSLABEL", "105,255,,,0", "0,0,0", "MLSLABEL\n", " MLSLABEL "},
    {"C_RAW_MLSLABEL", "106,255,,,0", "0,0,0", "MLSLABEL\n", " MLSLABEL "},
    {"C_NCLOB", "112,4000,,,0", "0,2000,2", "NCLOB  (SYS_IL0000012345C00026$$)\n", " NCLOB  "},
    {"C_CLOB", "112,4000,,,1", "0,873,1", "CLOB NOT NULL (SYS_IL0000012345C00027$$)\n", " CLOB NOT NULL "},
    {"C_BLOB", "113,4000,,,0", "0,0,0", "BLOB  (SYS_IL0000012345C00028$$)\n", " BLOB  "},
    {"C_BFILE", "114,530,,,0", "0,0,0", "BFILE\n", " BFILE "},
    {"C_CFILE", "115,530,,,0", "0,0,0", "CFILE\n", " CFILE "},
    {"C_TIMESTAMP6", "180,11,,6,0", "0,0,0", "TIMESTAMP(6) \n", " TIMESTAMP(6)  "},
    {"C_TIMESTAMP", "180,11,,0,1", "0,0,0", "TIMESTAMP NOT NULL\n", " TIMESTAMP NOT NULL "},
    {"C_TIMESTAMP_TZ3", "181,13,,3,0", "0,0,0", "TIMESTAMP(3) WITH TIME ZONE \n",
     " TIMESTAMP(3) WITH TIME ZONE  "},
    {"C_TIMESTAMP_TZ", "181,13,,,0", "0,0,0", "TIMESTAMP WITH TIME ZONE \n", " TIMESTAMP WITH TIME ZONE  "},
    {"C_INTERVAL_YM2", "182,5,2,,1", "0,0,0", "INTERVAL YEAR(2) TO MONTH NOT NULL\n",
     " INTERVAL YEAR(2) TO MONTH NOT NULL "},
    {"C_INTERVAL_YM", "182,5,,,0", "0,0,0", "INTERVAL YEAR TO MONTH \n", " INTERVAL YEAR TO MONTH  "},
    {"C_INTERVAL_DS", "183,11,2,6,0", "0,0,0", "INTERVAL DAY(2) TO SECOND(6) \n",
     " INTERVAL DAY(2) TO SECOND(6)  "},
    {"C_INTERVAL_DS0", "183,11,,,1", "0,0,0", "INTERVAL DAY TO SECOND NOT NULL\n",
     " INTERVAL DAY TO SECOND NOT NULL "},
    {"C_UROWID", "208,4000,,,0", "0,0,0", "UROWID\n", " UROWID "},
    {"C_TIMESTAMP_LTZ6", "231,11,,6,0", "0,0,0", "TIMESTAMP(6) WITH LOCAL TIME ZONE \n",
     " TIMESTAMP(6) WITH LOCAL TIME ZONE  "},
    {"C_TIMESTAMP_LTZ", "231,11,,,0", "0,0,0", "TIMESTAMP WITH LOCAL TIME ZONE \n",
     " TIMESTAMP WITH LOCAL TIME ZONE  "},
    {"C_UNKNOWN", "250,10,,,1", "0,0,0", "UNKNOWN_250\n", " 250 "},
};
constexpr int kTypeCaseCount = sizeof kTypeCases / sizeof kTypeCases[0];

// Column i (0-based) has COL#, SEGCOL# and INTCOL# i + 1.
std::string typeCaseLine(int i) {
    const TypeCase &c = kTypeCases[i];
    char line[256];
    snprintf(line, sizeof line, "12345,%d,%d,%s,%s,%d,%s\n", i + 1, i + 1, c.name, c.fields, i + 1, c.tail);
    return line;
}

std::string descLine(int columnNumber, int segmentColumn, int internalColumn, const char *name,
                     const char *typeText) {
    char line[256];
    snprintf(line, sizeof line, "%3d %3d %3d %-30s%s", columnNumber, segmentColumn, internalColumn, name,
             typeText);
    return line;
}

class DictionaryDdl : public DictionaryDir {
protected:
    void writeTypeTable() {
        writeDictFile(kUserFile, "0,SYS\n54,SCOTT\n60,HR\n");
        writeDictFile(kObjectFile, "12345,54,EVERY_TYPE,,2\n302,60,ADDRESS_T,,13,00001111\n");
        std::string columns;
        for (int i = 0; i < kTypeCaseCount; i++) columns += typeCaseLine(i);
        writeDictFile(kColumnFile, columns);
        writeDictFile(kColumnTypeFile, "12345,16,16,00001111,1,0\n");
    }
    ObjectEntry table() {
        ObjectEntry object = {};
        EXPECT_EQ(getORASYSOBJ(&object, 54, "EVERY_TYPE", ""), 1);
        return object;
    }
};

TEST_F(DictionaryDdl, TypeCasesAreNumberedAsTheirExpectedLobIndexNames) {
    // The LOB rows above name their index by their own INTCOL#.
    EXPECT_STREQ(kTypeCases[25].name, "C_NCLOB");
    EXPECT_STREQ(kTypeCases[27].name, "C_BLOB");
    EXPECT_STREQ(kTypeCases[15].name, "C_ADDRESS");
}

TEST_F(DictionaryDdl, DescListsEveryType) {
    writeTypeTable();
    std::string expected = kDescHeading;
    for (int i = 0; i < kTypeCaseCount; i++)
        expected += descLine(i + 1, i + 1, i + 1, kTypeCases[i].name, kTypeCases[i].descText);
    CapturedStream capture;
    ColumnEntry column;
    EXPECT_EQ(getORASYSCOL(beginCapture(&capture), &column, 12345), 1);
    EXPECT_EQ(endCapture(&capture), expected);
}

TEST_F(DictionaryDdl, CreateMultiLineWithEveryType) {
    writeTypeTable();
    std::string expected = "CREATE TABLE \"EVERY_TYPE\" (\n";
    for (int i = 0; i < kTypeCaseCount; i++) {
        expected += std::string(" \"") + kTypeCases[i].name + "\" " + kTypeCases[i].createText;
        if (i + 1 < kTypeCaseCount) expected += ",";
        expected += "\n";
    }
    expected += ")";
    std::vector<char> text(kCreateSyntaxSize);
    ColumnEntry column;
    ObjectEntry object = table();
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 1), 1);
    EXPECT_EQ(std::string(text.data()), expected);
}

TEST_F(DictionaryDdl, CreateSingleLineWithEveryType) {
    writeTypeTable();
    std::string expected = "CREATE TABLE \"EVERY_TYPE\" (";
    for (int i = 0; i < kTypeCaseCount; i++) {
        expected += std::string(" \"") + kTypeCases[i].name + "\" " + kTypeCases[i].createText;
        if (i + 1 < kTypeCaseCount) expected += ",";
    }
    expected += ")";
    std::vector<char> text(kCreateSyntaxSize);
    ColumnEntry column;
    ObjectEntry object = table();
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 0), 1);
    EXPECT_EQ(std::string(text.data()), expected);
}

TEST_F(DictionaryDdl, TwoColumnTableInBothLayouts) {
    writeDictFile(kColumnFile, "500,1,1,ID,2,22,10,0,1,1,0,0,0\n500,2,2,NAME,1,30,,,0,2,0,873,1\n");
    ObjectEntry object = {};
    object.objectNumber = 500;
    snprintf(object.name, sizeof object.name, "T");
    std::vector<char> text(32768);
    ColumnEntry column;
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 1), 1);
    EXPECT_STREQ(text.data(),
                 "CREATE TABLE \"T\" (\n"
                 " \"ID\"  NUMBER(10) NOT NULL ,\n"
                 " \"NAME\"  VARCHAR2(30)  \n"
                 ")");
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 0), 1);
    EXPECT_STREQ(text.data(), "CREATE TABLE \"T\" ( \"ID\"  NUMBER(10) NOT NULL , \"NAME\"  VARCHAR2(30)  )");
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "NEW_T", 0), 1);
    EXPECT_STREQ(text.data(),
                 "CREATE TABLE \"NEW_T\" ( \"ID\"  NUMBER(10) NOT NULL , \"NAME\"  VARCHAR2(30)  )");
}

TEST_F(DictionaryDdl, ColumnsFollowTheirStoredPositionNotTheFileOrder) {
    writeDictFile(kColumnFile, "500,2,2,NAME,1,30,,,0,2,0,873,1\n500,1,1,ID,2,22,,,0,1,0,0,0\n");
    ObjectEntry object = {};
    object.objectNumber = 500;
    snprintf(object.name, sizeof object.name, "T");
    std::vector<char> text(32768);
    ColumnEntry column;
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 0), 1);
    EXPECT_STREQ(text.data(), "CREATE TABLE \"T\" ( \"ID\"  NUMBER  , \"NAME\"  VARCHAR2(30)  )");
}

TEST_F(DictionaryDdl, TableWithoutColumnLines) {
    writeDictFile(kColumnFile, "500,1,1,ID,2,22,10,0,1,1,0,0,0\n");
    ObjectEntry object = {};
    object.objectNumber = 501;
    snprintf(object.name, sizeof object.name, "EMPTY");
    std::vector<char> text(32768);
    ColumnEntry column;
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 1), 1);
    EXPECT_STREQ(text.data(), "CREATE TABLE \"EMPTY\" (\n)");
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 0), 1);
    EXPECT_STREQ(text.data(), "CREATE TABLE \"EMPTY\" ()");
    // Without ZORCOL.TXT at all: the same.
    remove(kColumnFile);
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 0), 1);
    EXPECT_STREQ(text.data(), "CREATE TABLE \"EMPTY\" ()");
    CapturedStream capture;
    getORASYSCOL(beginCapture(&capture), &column, 501);
    EXPECT_EQ(endCapture(&capture), "");
}

// XMLTYPE in binary storage: the visible column (SEGCOL# 0) and its hidden
// BLOB.  DESC lists both lines; CREATE writes the column once, under the
// visible name, with the type of the storage column.
TEST_F(DictionaryDdl, XmltypeColumn) {
    writeDictFile(kUserFile, "0,SYS\n54,SCOTT\n");
    writeDictFile(kObjectFile, "600,54,DOCS,,2\n300,0,XMLTYPE,,13,0000ABCD\n");
    writeDictFile(kColumnTypeFile, "600,2,2,0000ABCD,1,0\n");
    writeDictFile(kColumnFile,
                  "600,1,1,ID,2,22,,,1,1,0,0,0\n"
                  "600,2,0,DOC,58,2000,,,0,2,0,0,0\n"
                  "600,2,2,SYS_NC00003$,113,4000,,,0,3,0,0,0\n"
                  "600,3,3,CLOB_DOC,58,2000,,,0,4,0,0,0\n");
    ObjectEntry object = {};
    ASSERT_EQ(getORASYSOBJ(&object, 54, "DOCS", ""), 1);
    std::vector<char> text(32768);
    ColumnEntry column;
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 1), 1);
    EXPECT_STREQ(text.data(),
                 "CREATE TABLE \"DOCS\" (\n"
                 " \"ID\"  NUMBER NOT NULL ,\n"
                 " \"DOC\"  SYS.XMLTYPE  ,\n"
                 " \"CLOB_DOC\"  58 \n"
                 ")");
    CapturedStream capture;
    getORASYSCOL(beginCapture(&capture), &column, 600);
    std::string expected = std::string(kDescHeading) + descLine(1, 1, 1, "ID", "NUMBER NOT NULL\n") +
                           descLine(2, 0, 2, "DOC", "SYS.XMLTYPE\n") +
                           descLine(2, 2, 3, "SYS_NC00003$", "BLOB  (SYS_IL0000000600C00003$$)\n") +
                           descLine(3, 3, 4, "CLOB_DOC", "UNKNOWN_58\n");
    EXPECT_EQ(endCapture(&capture), expected);
}

// A clause used to be held in 128 bytes: long names together with a long
// type owner and name were cut.  Every clause is written whole.
TEST_F(DictionaryDdl, LongClauseIsNeverCut) {
    std::string owner(63, 'O');
    std::string type(63, 'T');
    std::string name(63, 'N');
    writeDictFile(kUserFile, "0,SYS\n9," + owner + "\n");
    writeDictFile(kObjectFile, "600,9,DOCS,,2\n300,9," + type + ",,13,0000ABCD\n");
    writeDictFile(kColumnTypeFile, "600,1,1,0000ABCD,1,0\n");
    writeDictFile(kColumnFile,
                  "600,1,0," + name + ",121,1,,,1,1,0,0,0\n"
                  "600,1,1,SYS_NC00002$,113,4000,,,1,2,0,0,0\n");
    ObjectEntry object = {};
    ASSERT_EQ(getORASYSOBJ(&object, 9, "DOCS", ""), 1);
    std::vector<char> text(32768);
    ColumnEntry column;
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, "", 0), 1);
    std::string clause = " \"" + name + "\"  " + owner + "." + type + " NOT NULL ";
    EXPECT_GT(clause.size(), 128u);
    EXPECT_EQ(std::string(text.data()), "CREATE TABLE \"DOCS\" (" + clause + ")");
}

// The statement buffer of 32768 bytes overflowed for wide tables; a
// statement that does not fit the given size is not written at all, and the
// advertised size holds the widest table.
TEST_F(DictionaryDdl, WideTableNeedsTheLargeBufferAndNeverOverruns) {
    std::string columns;
    for (int i = 1; i <= kMaxListedColumns; i++) {
        char line[160];
        snprintf(line, sizeof line, "700,%d,%d,%s%04d,1,4000,,,1,%d,0,873,1\n", i, i,
                 std::string(59, 'C').c_str(), i, i);
        columns += line;
    }
    writeDictFile(kColumnFile, columns);
    ObjectEntry object = {};
    object.objectNumber = 700;
    snprintf(object.name, sizeof object.name, "%s", std::string(63, 'W').c_str());
    ColumnEntry column;
    std::vector<char> small(32768, 'x');
    EXPECT_EQ(getCreateSyntax(small.data(), small.size(), &column, &object, "", 1), 0);
    EXPECT_EQ(small[0], '\0');
    std::vector<char> text(kCreateSyntaxSize);
    ASSERT_EQ(getCreateSyntax(text.data(), text.size(), &column, &object, std::string(1023, 'A').c_str(), 1),
              1);
    std::string statement(text.data());
    EXPECT_GT(statement.size(), 32768u);
    EXPECT_EQ(statement.substr(statement.size() - 2), "\n)");
    EXPECT_NE(statement.find(std::string(59, 'C') + std::to_string(kMaxListedColumns) +
                             "\"  VARCHAR2(4000) NOT NULL \n)"),
              std::string::npos);
}

TEST_F(DictionaryDdl, DescListsOnlyTheTable) {
    writeDictFile(kColumnFile,
                  "500,1,1,ID,2,22,,,0,1,0,0,0\n"
                  "501,1,1,OTHER,2,22,,,0,1,0,0,0\n"
                  "500,2,2,X,1\n"                       // no LENGTH: skipped
                  "500,3,3,AMOUNT,2,22,7,-2,0,3,0,0,0\n");
    CapturedStream capture;
    ColumnEntry column;
    getORASYSCOL(beginCapture(&capture), &column, 500);
    EXPECT_EQ(endCapture(&capture), std::string(kDescHeading) + descLine(1, 1, 1, "ID", "NUMBER \n") +
                                        descLine(3, 3, 3, "AMOUNT", "NUMBER(7,-2) \n"));
}

}  // namespace
