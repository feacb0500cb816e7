// Column options of Oracle 11g and later in the description language:
// invisible, encrypted and added columns, their COL$ PROPERTY, and the
// manifest of rows written before an ADD.
#include <gtest/gtest.h>

#include <string>

#include "forge/forge.h"
#include "forge_test_util.h"

using namespace forge;

namespace {

const char *kHead =
    "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 200\n"
    "file users01.dbf rfn 4 ts 4 tsname USERS blocks 100\n"
    "user SCOTT id 84 tablespace 4\n";

bool forgeWith(const std::string &body, Manifest *manifest, std::string *error)
{
    std::string dir = forgetest::makeScratchDir();
    std::string text = std::string(kHead) + body + "dictionary system01.dbf\n";
    char reason[512] = "";
    bool ok =
        !dir.empty() && forgeFromTextWithManifest(text.c_str(), dir.c_str(), manifest, reason, sizeof reason);
    *error = reason;
    return ok;
}

const ManifestTable *tableNamed(const Manifest &m, const char *name)
{
    for (const ManifestTable &t : m.tables)
        if (t.name == name)
            return &t;
    return nullptr;
}

}  // namespace

TEST(ForgeAddedColumns, RowsBeforeTheAddTakeTheDefaultInTheManifest)
{
    Manifest m;
    std::string error;
    ASSERT_TRUE(
        forgeWith("table SCOTT.T obj 5000 objd 5000\n"
                  "  column ID number\n"
                  "  column CODE varchar2(8) added ABC not null\n"
                  "  column SYS_NC00003$ raw(126) guard\n"
                  "  column QTY number added 7\n"
                  "segment SCOTT.T\n"
                  "  extent users01.dbf 10 8\n"
                  "  insert beforeadd values 1\n"
                  "  insert values 2 XY 01\n"
                  "  insert values 3 XY 00\n"
                  "  insert values 4 XY 01 9\n",
                  &m, &error))
        << error;
    const ManifestTable *t = tableNamed(m, "T");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 4u);
    EXPECT_EQ(manifestRecord(&t->rows[0], ",", "\n"), "1,ABC,,7\n");
    EXPECT_EQ(manifestRecord(&t->rows[1], ",", "\n"), "2,XY,01\n");
    EXPECT_EQ(manifestRecord(&t->rows[2], ",", "\n"), "3,XY,00,7\n");
    EXPECT_EQ(manifestRecord(&t->rows[3], ",", "\n"), "4,XY,01,9\n");
}

TEST(ForgeAddedColumns, MistakesAreRefused)
{
    Manifest m;
    std::string error;
    EXPECT_FALSE(forgeWith(
        "table SCOTT.T obj 5000 objd 5000\n  column ID number\n  column Q number added 7\n", &m, &error));
    EXPECT_NE(error.find("needs a guard column"), std::string::npos) << error;
    EXPECT_FALSE(
        forgeWith("table SCOTT.T obj 5000 objd 5000\n  column ID number\n"
                  "  column Q number added 7 not null\n"
                  "segment SCOTT.T\n  extent users01.dbf 10 8\n  insert beforeadd values 1 2\n",
                  &m, &error));
    EXPECT_NE(error.find("was added later"), std::string::npos) << error;
    EXPECT_FALSE(
        forgeWith("table SCOTT.T obj 5000 objd 5000\n  column D date added notadate not null\n", &m, &error));
}

TEST(ForgeAddedColumns, EncryptedValuesAreGivenAndShownAsHex)
{
    Manifest m;
    std::string error;
    ASSERT_TRUE(
        forgeWith("table SCOTT.E obj 5010 objd 5010\n"
                  "  column ID number\n"
                  "  column SSN varchar2(11) encrypted\n"
                  "  column NOTE varchar2(20) invisible\n"
                  "segment SCOTT.E\n"
                  "  extent users01.dbf 10 8\n"
                  "  insert values 1 0a1b2c3d hidden\n",
                  &m, &error))
        << error;
    const ManifestTable *t = tableNamed(m, "E");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 1u);
    EXPECT_EQ(manifestRecord(&t->rows[0], ",", "\n"), "1,0A1B2C3D,hidden\n");
}

TEST(ForgeAddedColumns, DefaultSqlIsAPlainLiteral)
{
    ColumnDef c;
    c.name = "C";
    c.length = 0;
    c.type = kColumnVarchar2;
    c.defaultLiteral = "it's";
    EXPECT_EQ(defaultSqlText(&c), "'it''s'");
    c.type = kColumnDate;
    c.defaultLiteral = "2024-02-29";
    EXPECT_EQ(defaultSqlText(&c), "DATE '2024-02-29'");
    c.defaultLiteral = "2024-02-29T10:11:12";
    EXPECT_EQ(defaultSqlText(&c), "TIMESTAMP '2024-02-29 10:11:12'");
    c.type = kColumnNumber;
    c.defaultLiteral = "-12.5";
    EXPECT_EQ(defaultSqlText(&c), "-12.5");
    c.defaultSql = "SYSDATE";
    EXPECT_EQ(defaultSqlText(&c), "SYSDATE");
}
