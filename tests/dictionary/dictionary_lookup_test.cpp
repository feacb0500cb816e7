// Lookups, column loading and the listings, on handwritten dictionary files.
#include <memory>
#include <string>

#include "dictionary_test_env.h"

namespace {

// SCOTT (54) owns EMP (12345, with a CLOB and a BLOB), the partitioned SALES
// (74000: partitions P1 and P2, P2 with subpartition SP1), the view EMP_V,
// and the index PK_EMP; SYS owns XMLTYPE and HR owns ADDRESS_T.
const char *const kUsers = "0,SYS\n54,SCOTT   \n60,HR\r\n";
const char *const kObjects =
    "12345,54,EMP,,2,,\n"
    "74000,54,SALES,,2,\n"
    "74001,54,SALES,P1,19\n"
    "74002,54,SALES,P2,19\n"
    "74003,54,SALES,SP1,34\n"
    "12400,54,EMP_V,,4\n"
    "12401,54,PK_EMP,,1\n"
    "12350,54,SYS_IL0000012345C00003$$,,1\n"
    "12351,54,SYS_IL0000012345C00004$$,,1\n"
    "300,0,XMLTYPE,,13,0000ABCD\n"
    "301,0,ANYDATA,,13,0000EF01,\n"
    "302,60,ADDRESS_T,,13,00001111\n"
    "303,0,ADDRESS_SYN,,5\n";
const char *const kSegments =
    "12345,12345,4,4,130,0\n"
    "74000,,4,0,0,0\n"
    "74001,0,4,4,200\n"
    "74001,74011,4,4,210\n"
    "74002,74012,5,5,220\n"
    "12350,12350,4,4,300\n"
    "12351,12351,4,4,310\n";

void writeBaseDictionary() {
    writeDictFile(kUserFile, kUsers);
    writeDictFile(kObjectFile, kObjects);
    writeDictFile(kSegmentFile, kSegments);
}

class DictionaryLookup : public DictionaryDir {};

TEST_F(DictionaryLookup, UserByNameIgnoresCaseAndTrailingBlanks) {
    writeBaseDictionary();
    UserEntry user;
    ASSERT_EQ(getORASYSUSER(&user, "scott"), 1);
    EXPECT_EQ(user.userNumber, 54u);
    EXPECT_STREQ(user.name, "SCOTT");
    ASSERT_EQ(getORASYSUSER(&user, "hr"), 1);
    EXPECT_STREQ(user.name, "HR");
    EXPECT_EQ(getORASYSUSER(&user, "SCOT"), 0);
    EXPECT_EQ(getORASYSUSER(&user, "SCOTTS"), 0);
}

TEST_F(DictionaryLookup, UserByNumber) {
    writeBaseDictionary();
    UserEntry user;
    ASSERT_EQ(getORASYSUSERID(&user, 0), 1);
    EXPECT_STREQ(user.name, "SYS");
    EXPECT_EQ(getORASYSUSERID(&user, 1), 0);
}

TEST_F(DictionaryLookup, MissingFilesAnswerNotFound) {
    UserEntry user;
    ObjectEntry object = {};
    SegmentEntry segment;
    ColumnTypeEntry type;
    EXPECT_EQ(getORASYSUSER(&user, "SYS"), 0);
    EXPECT_EQ(getORASYSUSERID(&user, 0), 0);
    EXPECT_EQ(getORASYSOBJ(&object, 0, "TAB$", ""), 0);
    EXPECT_EQ(getORASYSOBJID(&object, 4), 0);
    EXPECT_EQ(getORASYSOBJOID(&object, "00"), 0);
    EXPECT_EQ(getORASYSTAB(&segment, 4), 0);
    EXPECT_EQ(getORASYSCOLTYPE(&type, 1, 1, 1), 0);
}

TEST_F(DictionaryLookup, TableWithoutPartitionSelectsItself) {
    writeBaseDictionary();
    ObjectEntry object = {};
    ASSERT_EQ(getORASYSOBJ(&object, 54, "emp", ""), 1);
    EXPECT_EQ(object.objectNumber, 12345u);
    EXPECT_EQ(object.selectedObject, 12345u);
    EXPECT_EQ(object.ownerNumber, 54u);
    EXPECT_STREQ(object.name, "EMP");
    EXPECT_EQ(object.type, 2);
}

TEST_F(DictionaryLookup, PartitionSelectsThePartitionAndDescribesTheTable) {
    writeBaseDictionary();
    ObjectEntry object = {};
    ASSERT_EQ(getORASYSOBJ(&object, 54, "SALES", "p1"), 1);
    EXPECT_EQ(object.objectNumber, 74000u);
    EXPECT_STREQ(object.name, "SALES");
    EXPECT_STREQ(object.subname, "");
    EXPECT_EQ(object.selectedObject, 74001u);

    ObjectEntry table = {};
    ASSERT_EQ(getORASYSOBJ(&table, 54, "SALES", ""), 1);
    EXPECT_EQ(table.selectedObject, 74000u);

    ObjectEntry sub = {};
    ASSERT_EQ(getORASYSOBJ(&sub, 54, "SALES", "SP1"), 1);
    EXPECT_EQ(sub.objectNumber, 74000u);
    EXPECT_EQ(sub.selectedObject, 74003u);

    ObjectEntry none = {};
    EXPECT_EQ(getORASYSOBJ(&none, 54, "SALES", "P9"), 0);
    EXPECT_EQ(getORASYSOBJ(&none, 60, "SALES", ""), 0);
}

TEST_F(DictionaryLookup, IndexFoundWhenNoTableHasTheName) {
    writeBaseDictionary();
    ObjectEntry object = {};
    ASSERT_EQ(getORASYSOBJ(&object, 54, "PK_EMP", ""), 1);
    EXPECT_EQ(object.objectNumber, 12401u);
    EXPECT_EQ(object.type, 1);
    ObjectEntry table = {};
    EXPECT_EQ(getORASYSTableOBJ(&table, 54, "PK_EMP", ""), 0);
    ObjectEntry view = {};
    EXPECT_EQ(getORASYSOBJ(&view, 54, "EMP_V", ""), 0);   // views have no segment
}

TEST_F(DictionaryLookup, ObjectByNumberAndByIdentifier) {
    writeBaseDictionary();
    ObjectEntry object = {};
    ASSERT_EQ(getORASYSOBJID(&object, 302), 1);
    EXPECT_STREQ(object.name, "ADDRESS_T");
    EXPECT_EQ(object.ownerNumber, 60u);
    ObjectEntry byOid = {};
    ASSERT_EQ(getORASYSOBJOID(&byOid, "0000abcd"), 1);
    EXPECT_STREQ(byOid.name, "XMLTYPE");
    ASSERT_EQ(getORASYSOBJOID(&byOid, "0000EF01"), 1);
    EXPECT_STREQ(byOid.name, "ANYDATA");
    EXPECT_EQ(getORASYSOBJOID(&byOid, "0000ABC"), 0);
}

TEST_F(DictionaryLookup, SegmentNeedsANonZeroDataObjectId) {
    writeBaseDictionary();
    SegmentEntry segment;
    // SALES itself has an empty DATAOBJ#; the entry comes back cleared.
    EXPECT_EQ(getORASYSTAB(&segment, 74000), 0);
    EXPECT_EQ(segment.objectNumber, 0u);
    EXPECT_EQ(segment.tablespace, 0);
    EXPECT_EQ(segment.headerFile, 0);
    // P1's first line has DATAOBJ# 0; the next one counts.
    ASSERT_EQ(getORASYSTAB(&segment, 74001), 1);
    EXPECT_EQ(segment.dataObjectId, 74011u);
    EXPECT_EQ(segment.headerBlock, 210u);
    ASSERT_EQ(getORASYSTAB(&segment, 12345), 1);
    EXPECT_EQ(segment.dataObjectId, 12345u);
    EXPECT_EQ(segment.tablespace, 4);
    EXPECT_EQ(segment.headerFile, 4);
    EXPECT_EQ(segment.headerBlock, 130u);
}

TEST_F(DictionaryLookup, ColumnTypeNeedsAllThreeNumbers) {
    writeDictFile(kColumnTypeFile, "12345,5,5,0000ABCD,1,0\n12345,5,6,00001111,1,0,303\n");
    ColumnTypeEntry type;
    ASSERT_EQ(getORASYSCOLTYPE(&type, 12345, 5, 6), 1);
    EXPECT_STREQ(type.toid, "00001111");
    EXPECT_EQ(type.synonymObject, 303u);
    EXPECT_EQ(getORASYSCOLTYPE(&type, 12345, 6, 6), 0);
}

ColumnEntry objectColumn(uint16_t type, uint16_t columnNumber, uint16_t internalColumn) {
    ColumnEntry column = {};
    column.objectNumber = 12345;
    column.type = type;
    column.columnNumber = columnNumber;
    column.internalColumn = internalColumn;
    return column;
}

TEST_F(DictionaryLookup, ObjectTypeResolution) {
    writeBaseDictionary();
    writeDictFile(kColumnTypeFile,
                  "12345,5,5,0000ABCD,1,0\n"          // XMLTYPE through its identifier
                  "12345,6,6,0000EF01,1,0,\n"         // ANYDATA
                  "12345,7,7,99999999,1,0,302\n"      // through SYNOBJ#
                  "12345,8,8,00001111,1,0,999\n"      // SYNOBJ# unknown: identifier
                  "12345,9,9,77777777,1,0\n");        // nothing known
    ColumnEntry xml = objectColumn(58, 5, 5);
    getORASYSCOLOIDTYPE(&xml);
    EXPECT_EQ(xml.typeKind, kTypeKindXMLTYPE);
    EXPECT_STREQ(xml.typeOwner, "SYS");
    EXPECT_STREQ(xml.typeName, "XMLTYPE");

    ColumnEntry any = objectColumn(58, 6, 6);
    getORASYSCOLOIDTYPE(&any);
    EXPECT_EQ(any.typeKind, kTypeKindANYDATA);

    ColumnEntry adt = objectColumn(121, 7, 7);
    getORASYSCOLOIDTYPE(&adt);
    EXPECT_EQ(adt.typeKind, kTypeKindOther);
    EXPECT_STREQ(adt.typeOwner, "HR");
    EXPECT_STREQ(adt.typeName, "ADDRESS_T");

    ColumnEntry fallback = objectColumn(122, 8, 8);
    getORASYSCOLOIDTYPE(&fallback);
    EXPECT_STREQ(fallback.typeName, "ADDRESS_T");

    ColumnEntry unknown = objectColumn(123, 9, 9);
    getORASYSCOLOIDTYPE(&unknown);
    EXPECT_EQ(unknown.typeKind, kTypeKindNone);
    EXPECT_STREQ(unknown.typeName, "");

    // Only object types are resolved.
    ColumnEntry blob = objectColumn(113, 5, 5);
    getORASYSCOLOIDTYPE(&blob);
    EXPECT_EQ(blob.typeKind, kTypeKindNone);
}

TEST(LobIndexName, TenAndFiveDigits) {
    char name[kDictNameSize];
    formatLobIndexName(name, sizeof name, 12345, 3);
    EXPECT_STREQ(name, "SYS_IL0000012345C00003$$");
}

// ---- Column loading ----

struct Loaded {
    UnloadContext ctx;
    ColumnList list;
};

std::unique_ptr<Loaded> newLoaded() {
    std::unique_ptr<Loaded> loaded(new Loaded);
    memset(loaded.get(), 0, sizeof(Loaded));
    return loaded;
}

ObjectEntry empTable() {
    ObjectEntry table = {};
    EXPECT_EQ(getORASYSOBJ(&table, 54, "EMP", ""), 1);
    return table;
}

TEST_F(DictionaryLookup, ColumnsGoToTheListAndTheContext) {
    writeBaseDictionary();
    writeDictFile(kColumnFile,
                  "12345,1,1,EMPNO,2,22,4,0,1,1,0,0,0\n"
                  "12345,2,2,ENAME,1,10,,,0,2,0,873,1\n"
                  "99999,1,1,OTHER,1,10,,,0,1,0,873,1\n"
                  "12345,3,3,NOTES,112,4000,,,0,3,0,873,1\n"
                  "12345,4,4,PHOTO,113,4000,,,0,4,0,0,0\n"
                  "12345,5,5,NNAME,1,40,,,0,5,0,2000,2\n");
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    ASSERT_EQ(getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list), 1);
    ASSERT_EQ(loaded->list.count, 5);
    EXPECT_EQ(loaded->ctx.columnCount, 5);
    const ColumnListEntry *c = loaded->list.columns;
    EXPECT_STREQ(c[0].name, "EMPNO");
    EXPECT_EQ(c[0].type, 2);
    EXPECT_STREQ(c[1].name, "ENAME");
    EXPECT_EQ(c[1].length, 10);
    EXPECT_EQ(c[1].charsetId, 873);
    EXPECT_EQ(c[1].charsetForm, 1);
    EXPECT_EQ(c[4].charsetForm, 2);
    EXPECT_EQ(loaded->ctx.columnTypes[0], 2);
    EXPECT_EQ(loaded->ctx.columnTypes[1], 1);
    EXPECT_EQ(loaded->ctx.columnTypes[2], 112);
    EXPECT_EQ(loaded->ctx.columnTypes[3], 113);
    EXPECT_EQ(loaded->ctx.columnLength[2], 4000);
    EXPECT_EQ(loaded->ctx.columnCharsetId[4], 2000);
    EXPECT_EQ(loaded->ctx.columnCharsetForm[4], 2);
    // The CLOB of table 12345 at INTCOL# 3 has the index SYS_IL0000012345C00003$$.
    EXPECT_EQ(loaded->ctx.lobIndexFile[2], 4);
    EXPECT_EQ(loaded->ctx.lobIndexBlock[2], 300u);
    EXPECT_EQ(c[2].lobIndexFile, 4);
    EXPECT_EQ(c[2].lobIndexBlock, 300u);
    EXPECT_EQ(loaded->ctx.lobIndexBlock[3], 310u);
    EXPECT_EQ(loaded->ctx.lobIndexFile[1], 0);
    EXPECT_EQ(loaded->ctx.lobIndexBlock[1], 0u);
}

TEST_F(DictionaryLookup, LobIndexGivenOnTheCommandWinsOverTheDictionary) {
    writeBaseDictionary();
    writeDictFile(kColumnFile, "12345,3,3,NOTES,112,4000,,,0,3,0,873,1\n");
    std::unique_ptr<Loaded> loaded = newLoaded();
    loaded->ctx.lobIndexFile[2] = 7;
    loaded->ctx.lobIndexBlock[2] = 777;
    ObjectEntry table = empTable();
    ColumnEntry column;
    getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list);
    EXPECT_EQ(loaded->ctx.lobIndexFile[2], 7);
    EXPECT_EQ(loaded->ctx.lobIndexBlock[2], 777u);
    EXPECT_EQ(loaded->list.columns[2].lobIndexBlock, 777u);
}

TEST_F(DictionaryLookup, LobIndexWithoutSegmentLeavesNoAddress) {
    writeDictFile(kUserFile, kUsers);
    writeDictFile(kObjectFile, "12345,54,EMP,,2\n12350,54,SYS_IL0000012345C00003$$,,1\n");
    writeDictFile(kSegmentFile, "12345,12345,4,4,130\n");
    writeDictFile(kColumnFile, "12345,3,3,NOTES,112,4000,,,0,3,0,873,1\n");
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list);
    EXPECT_EQ(loaded->list.count, 3);
    EXPECT_EQ(loaded->ctx.lobIndexFile[2], 0);
    EXPECT_EQ(loaded->ctx.lobIndexBlock[2], 0u);
}

// An XMLTYPE column: the visible column has SEGCOL# 0, its hidden storage
// column follows and takes over its name and type.
TEST_F(DictionaryLookup, XmltypeColumnTakesOverTheVisibleName) {
    writeBaseDictionary();
    writeDictFile(kColumnTypeFile, "12345,2,2,0000ABCD,1,0\n");
    writeDictFile(kColumnFile,
                  "12345,1,1,ID,2,22,,,1,1,0,0,0\n"
                  "12345,2,0,DOC,58,2000,,,0,2,0,0,0\n"
                  "12345,2,2,SYS_NC00003$,113,4000,,,0,3,0,0,0\n"
                  "12345,3,3,NOTE,1,20,,,0,4,0,873,1\n");
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list);
    ASSERT_EQ(loaded->list.count, 3);
    const ColumnListEntry *doc = &loaded->list.columns[1];
    EXPECT_STREQ(doc->name, "DOC");
    EXPECT_EQ(doc->type, 113);
    EXPECT_EQ(doc->typeKind, kTypeKindXMLTYPE);
    EXPECT_STREQ(doc->typeOwner, "SYS");
    EXPECT_STREQ(doc->typeName, "XMLTYPE");
    EXPECT_STREQ(loaded->list.columns[2].name, "NOTE");
    EXPECT_EQ(loaded->list.columns[2].typeKind, kTypeKindNone);
}

// A virtual column (PROPERTY 0x10008) has SEGCOL# 0 too, but no storage
// column follows for it: the next stored column used to be listed under
// the virtual column's name.
TEST_F(DictionaryLookup, VirtualColumnLendsNoNameToTheNextColumn)
{
    writeBaseDictionary();
    writeDictFile(kColumnFile,
                  "12345,1,1,ID,2,22,,,1,1,0,0,0\n"
                  "12345,2,0,TWICE,2,22,,,0,2,65544,0,0\n"
                  "12345,3,2,NOTE,1,20,,,0,3,0,873,1\n");
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list);
    ASSERT_EQ(loaded->list.count, 2);
    EXPECT_STREQ(loaded->list.columns[0].name, "ID");
    EXPECT_STREQ(loaded->list.columns[1].name, "NOTE");
}

TEST_F(DictionaryLookup, MissingColumnFileLoadsNothing) {
    writeBaseDictionary();
    std::unique_ptr<Loaded> loaded = newLoaded();
    loaded->list.count = 9;
    loaded->ctx.columnCount = 9;
    ObjectEntry table = empTable();
    ColumnEntry column;
    EXPECT_EQ(getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list), 1);
    EXPECT_EQ(loaded->list.count, 0);
    EXPECT_EQ(loaded->ctx.columnCount, 0);
}

// Counting column lines used to make a position listed twice (a deleted COL$
// row unloaded beside the live one) push the count past the stored columns,
// leaving the last counted entry unfilled.
TEST_F(DictionaryLookup, RepeatedPositionDoesNotInflateTheColumnCount) {
    writeBaseDictionary();
    std::string columns =
        "12345,1,1,OLD_ID,2,22,,,0,1,0,0,0\n"
        "12345,1,1,ID,2,22,,,0,1,0,0,0\n"
        "12345,2,2,NAME,1,10,,,0,2,0,873,1\n";
    columns += "12345,3," + std::to_string(kMaxListedColumns + 1) + ",TOO_FAR,1,10,,,0,3,0,873,1\n";
    writeDictFile(kColumnFile, columns);
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    testing::internal::CaptureStderr();
    getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list);
    // A column stored past the last position is left out, but not in silence.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "  1 column(s) of EMP are stored past position " +
                                                          std::to_string(kMaxListedColumns) +
                                                          ": they are left out\n");
    EXPECT_EQ(loaded->list.count, 2);
    EXPECT_EQ(loaded->ctx.columnCount, 2);
    EXPECT_STREQ(loaded->list.columns[0].name, "ID");
    EXPECT_STREQ(loaded->list.columns[1].name, "NAME");
}

// A TYPE# above 255 used to be cut to its low byte, which could make it pass
// for another type (258 for NUMBER); it is decoded as an unknown type.
TEST_F(DictionaryLookup, TypeAbove255IsNotTakenForAnotherType) {
    writeBaseDictionary();
    writeDictFile(kColumnFile, "12345,1,1,ODD,258,22,,,0,1,0,0,0\n");
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list);
    EXPECT_EQ(loaded->ctx.columnTypes[0], 253);
    EXPECT_EQ(loaded->list.columns[0].type, 253);
}

// ---- Listings ----

TEST_F(DictionaryLookup, ListUserNameThreeALine) {
    writeDictFile(kUserFile, "0,SYS\n5,SYSTEM\n54,SCOTT\n60,HR\n");
    CapturedStream capture;
    listUserName(beginCapture(&capture));
    std::string expected = std::string(" SYS                            ") +
                           " SYSTEM                         " +
                           " SCOTT                          \n" +
                           " HR                             \n\n";
    EXPECT_EQ(endCapture(&capture), expected);
}

TEST_F(DictionaryLookup, ListUserNameExactlyThree) {
    writeDictFile(kUserFile, "0,SYS\n5,SYSTEM\n54,SCOTT\n");
    CapturedStream capture;
    listUserName(beginCapture(&capture));
    std::string expected = std::string(" SYS                            ") +
                           " SYSTEM                         " +
                           " SCOTT                          \n\n";
    EXPECT_EQ(endCapture(&capture), expected);
}

TEST_F(DictionaryLookup, ListUserNameWithoutUsersWritesNothing) {
    CapturedStream capture;
    listUserName(beginCapture(&capture));
    EXPECT_EQ(endCapture(&capture), "");
}

TEST_F(DictionaryLookup, ListOneTableWritesOneUnloadLine) {
    writeDictFile(kUserFile, kUsers);
    writeDictFile(kObjectFile, "12345,54,EMP,,2\n12401,54,PK_EMP,,1\n");
    CapturedStream capture;
    ObjectEntry object;
    EXPECT_EQ(listObjectName(beginCapture(&capture), &object, "scott", kObjTable, 0), 1);
    EXPECT_EQ(endCapture(&capture), " UNLOAD TABLE scott.EMP TO EMP.txt;\n");
}

TEST_F(DictionaryLookup, ListPartitionsAndDumpStyle) {
    writeBaseDictionary();
    CapturedStream capture;
    ObjectEntry object;
    listObjectName(beginCapture(&capture), &object, "SCOTT", kObjTablePartition, 0);
    EXPECT_EQ(endCapture(&capture),
              " UNLOAD TABLE SCOTT.SALES PARTITION P1 TO SALES_P1.txt;\n"
              " UNLOAD TABLE SCOTT.SALES PARTITION P2 TO SALES_P2.txt;\n");
    listObjectName(beginCapture(&capture), &object, "SCOTT", kObjTable, 1);
    EXPECT_EQ(endCapture(&capture),
              " UNLOAD TABLE SCOTT.EMP TO EMP.dmp;\n"
              " UNLOAD TABLE SCOTT.SALES TO SALES.dmp;\n");
}

TEST_F(DictionaryLookup, ListOtherKindsByName) {
    writeBaseDictionary();
    CapturedStream capture;
    ObjectEntry object;
    listObjectName(beginCapture(&capture), &object, "SCOTT", kObjIndex, 0);
    EXPECT_EQ(endCapture(&capture),
              "   PK_EMP \n   SYS_IL0000012345C00003$$ \n   SYS_IL0000012345C00004$$ \n");
    listObjectName(beginCapture(&capture), &object, "SCOTT", kObjView, 0);
    EXPECT_EQ(endCapture(&capture), "   EMP_V \n");
}

TEST_F(DictionaryLookup, ListForAnUnknownUserSaysSoOnStandardOutput) {
    writeBaseDictionary();
    CapturedStream capture;
    ObjectEntry object;
    FILE *out = beginCapture(&capture);
    testing::internal::CaptureStdout();
    EXPECT_EQ(listObjectName(out, &object, "Nobody", kObjTable, 0), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "User (Nobody) does not exists.\n");
    EXPECT_EQ(endCapture(&capture), "");
}

}  // namespace

namespace {

// What the code under test writes to standard error while `run` runs.
template <typename Run> std::string capturedStderr(Run run)
{
    testing::internal::CaptureStderr();
    run();
    return testing::internal::GetCapturedStderr();
}

// Issue 23: column lines that could not be read were dropped without a
// word, and the unload reported success.  Each is named once per state of
// the file, and every lookup still counts the ones that may belong to its
// table (its OBJ#, or none that can be read).
TEST_F(DictionaryLookup, UnreadableColumnLinesAreNamedOnceAndCounted)
{
    writeBaseDictionary();
    std::string columns = "12345,1,1,EMPNO,2,22,4,0,1,1,0,0,0\n";       // 1
    columns += "12345,2,2,\"Unit Price, EUR\",2,22,7,2,0,2,0,0,0\n";    // 2
    columns += "12345,3,3,ENAME\n";                                     // 3: cut
    columns += "12345,4,4," + std::string(70 * 1024, 'L') + ",1,10\n";  // 4: 70 KB
    columns += std::string("12345,5,5,N") + '\0' + "UL,1,10\n";         // 5: NUL
    columns += "12345,6,6,\"OPEN,1,10\n";                               // 6: open quote
    columns += "99999,1,1,OTHER\n";                                     // 7: another table's
    columns += ",1,1,WHOSE,1,10\n";                                     // 8: no OBJ#
    columns += "12345,7,7,LAST,1,10,,,0,7,0,873,1\n";                   // 9
    writeDictFile(kColumnFile, columns);
    std::unique_ptr<Loaded> loaded = newLoaded();
    ObjectEntry table = empTable();
    ColumnEntry column;
    std::string first =
        capturedStderr([&] { getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list); });
    EXPECT_EQ(first,
              "  ZORDICT/ZORCOL.TXT line 3: a required number is missing; line ignored\n"
              "  ZORDICT/ZORCOL.TXT line 4: longer than 8191 bytes; line ignored\n"
              "  ZORDICT/ZORCOL.TXT line 5: holds a NUL byte; line ignored\n"
              "  ZORDICT/ZORCOL.TXT line 6: a quote is left open; line ignored\n"
              "  ZORDICT/ZORCOL.TXT line 7: a required number is missing; line ignored\n"
              "  ZORDICT/ZORCOL.TXT line 8: a required number is missing; line ignored\n");
    EXPECT_EQ(loaded->list.unreadableLines, 5u);  // all but OTHER's
    EXPECT_EQ(loaded->list.count, 7);
    EXPECT_EQ(loaded->list.missingPositions, 4u);
    EXPECT_STREQ(loaded->list.columns[1].name, "Unit Price, EUR");
    EXPECT_STREQ(loaded->list.columns[6].name, "LAST");
    std::string second =
        capturedStderr([&] { getORACOLTYPE(&column, &table, "", &loaded->ctx, &loaded->list); });
    EXPECT_EQ(second, "");
    EXPECT_EQ(loaded->list.unreadableLines, 5u);
}

}  // namespace
