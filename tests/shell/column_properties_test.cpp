// Columns of Oracle 11g to 23ai that change what a row means, on a forged
// database (invisible, TDE-encrypted, added with defaults): DICT$, then
// UNLOAD TABLE in every output style, compared value for value with the
// forge's manifest.
#include <string>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"

namespace {

using zorsession::readWhole;

// The description the transcript of these columns forges too.
const char *kDatabase = ZOR_SOURCE_DIR "/tests/e2e/cases/unload_table_column_properties/files/db.txt";

class ColumnProperties : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        char error[512] = "";
        std::string description = readWhole(kDatabase);
        ASSERT_TRUE(forge::forgeFromTextWithManifest(description.c_str(), scratch_.path.c_str(), &manifest_,
                                                     error, sizeof error))
            << error;
    }
    void TearDown() override
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }
    std::string run(const std::string &commands)
    {
        return zorsession::runCommands(
            "OPEN db.cfg\nSET FIELD_TAG ,\nSET RECORD_TAG \\n\nUNLOAD TABLE DICT$;\n" + commands);
    }
    std::string expectedRows(const char *table)
    {
        for (const forge::ManifestTable &t : manifest_.tables) {
            if (t.name != table)
                continue;
            std::string text;
            for (const forge::ManifestRow &row : t.rows)
                text += forge::manifestRecord(&row, ",", "\n");
            return text;
        }
        return "<no table " + std::string(table) + ">";
    }
    zorsession::ScratchDirectory scratch_;
    forge::Manifest manifest_;
};

TEST_F(ColumnProperties, InvisibleColumnIsUnloadedAndCreatedInvisible)
{
    std::string printed = run("UNLOAD TABLE SCOTT.VIS TO vis.txt;\n");
    EXPECT_NE(printed.find("Sucessfully unload 3 rows"), std::string::npos) << printed;
    EXPECT_EQ(readWhole("vis.txt"), expectedRows("VIS"));
    EXPECT_EQ(readWhole("vis.txt"), "1,hidden,one\n2,,two\n3,kept\n");
    EXPECT_EQ(readWhole("VIS_syntax.sql"),
              "CREATE TABLE \"VIS\" (\n \"ID\"  NUMBER(4) NOT NULL ,\n"
              " \"SECRET\"  VARCHAR2(10) INVISIBLE  ,\n \"NOTE\"  VARCHAR2(10)  \n"
              ");\nexit;\n");
    EXPECT_NE(readWhole("VIS_sqlldr.ctl").find("   SECRET    CHAR(10) ,\n"), std::string::npos);
}

TEST_F(ColumnProperties, InvisibleColumnIsAnOrdinaryOneForPostgres)
{
    run("SET TARGET POSTGRESQL\nUNLOAD TABLE SCOTT.VIS TO vis.csv;\n");
    std::string script = readWhole("VIS_pg.sql");
    EXPECT_NE(script.find("-- SECRET: INVISIBLE in Oracle, an ordinary column here.\n"), std::string::npos)
        << script;
    EXPECT_NE(script.find("\"SECRET\" varchar(10),"), std::string::npos) << script;
    // CSV records have a field for every column, trailing NULLs included.
    EXPECT_EQ(readWhole("vis.csv"), "1,hidden,one\n2,,two\n3,kept,\n");
}

TEST_F(ColumnProperties, EncryptedColumnsAreWrittenAsCiphertextInHex)
{
    testing::internal::CaptureStderr();
    std::string printed = run("UNLOAD TABLE SCOTT.ENC TO enc.txt;\n");
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("Sucessfully unload 2 rows"), std::string::npos) << printed;
    EXPECT_EQ(readWhole("enc.txt"), expectedRows("ENC"));
    EXPECT_EQ(said,
              "  Column SSN of SCOTT.ENC is TDE-encrypted: its ciphertext is written in hexadecimal\n"
              "  Column PAY of SCOTT.ENC is TDE-encrypted: its ciphertext is written in hexadecimal\n");
    EXPECT_EQ(readWhole("ENC_syntax.sql"),
              "CREATE TABLE \"ENC\" (\n \"ID\"  NUMBER  ,\n"
              " \"SSN\"  RAW(52)  /* TDE-encrypted VARCHAR2(11): its ciphertext */ ,\n"
              " \"PAY\"  RAW(68) NOT NULL /* TDE-encrypted NUMBER(8,2): its ciphertext */ \n);\nexit;\n");
    std::string control = readWhole("ENC_sqlldr.ctl");
    EXPECT_NE(control.find("   SSN    CHAR(104) ,\n   PAY    CHAR(136) \n"), std::string::npos) << control;
}

TEST_F(ColumnProperties, EncryptedColumnsAreRawInTheDumpAndByteaForPostgres)
{
    run("UNLOAD TABLE SCOTT.ENC TO enc.dmp;\nSET TARGET POSTGRESQL\nUNLOAD TABLE SCOTT.ENC TO enc.csv;\n");
    std::string dump = readWhole("enc.dmp");
    // Column descriptors: NUMBER, then RAW(52) and RAW(68).
    EXPECT_NE(dump.find(std::string("\x17\x00\x34\x00\x17\x00\x44\x00", 8)), std::string::npos);
    EXPECT_NE(dump.find("\"SSN\"  RAW(52)"), std::string::npos);
    // The second row: 2, NULL, the two stored bytes, the row's end.
    EXPECT_NE(dump.find(std::string("\x02\x00\xc1\x03\xfe\xff\x02\x00\x00\xff\x00\x00", 12)),
              std::string::npos);
    std::string script = readWhole("ENC_pg.sql");
    EXPECT_NE(script.find("-- SSN: TDE-encrypted in Oracle; its ciphertext is loaded as bytea.\n"),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("\"PAY\" bytea NOT NULL"), std::string::npos) << script;
    std::string csv = readWhole("enc.csv");
    EXPECT_NE(csv.find("2,,\\x00FF\n"), std::string::npos) << csv;
}

// Rows written before an ADD end before the added columns: they get the
// defaults, whether ECOL$ or DEFAULT$ gives them, and a nullable added
// column follows its guard.
TEST_F(ColumnProperties, RowsBeforeTheAddGetTheDefaults)
{
    testing::internal::CaptureStderr();
    std::string printed = run("UNLOAD TABLE SCOTT.ADDED TO added.txt;\n");
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("Sucessfully unload 8 rows"), std::string::npos) << printed;
    EXPECT_EQ(said, "");
    EXPECT_EQ(readWhole("added.txt"), expectedRows("ADDED"));
    EXPECT_EQ(readWhole("added.txt"),
              "1,one,AB,2024-02-29 00:00:00,,7\n2,,AB,2024-02-29 00:00:00,,7\n"
              "3,three,ZZ,2000-01-01 00:00:00,01\n4,four,ZZ,2000-01-01 00:00:00,00,7\n"
              "5,five,ZZ,2000-01-01 00:00:00,01,9\n6,,ZZ,2000-01-01 00:00:00,,8\n"
              "7,seven,ZZ,2000-01-01 00:00:00,00,7\n8,chained,AB,2024-02-29 00:00:00,,7\n");
    // Only the tables with such columns are written beside ZORCOL.TXT.
    EXPECT_NE(readWhole("ZORDICT/ZORECOL.TXT").find("5020,3,"), std::string::npos);
    EXPECT_NE(readWhole("ZORDICT/ZORDEF.TXT").find("5020,17,444154452027323032342D30322D323927,4,"),
              std::string::npos);
}

TEST_F(ColumnProperties, DefaultsInCsvAndForPostgres)
{
    run("SET OUTPUT_STYLE CSV\nUNLOAD TABLE SCOTT.ADDED TO added.csv;\n"
        "SET TARGET POSTGRESQL\nUNLOAD TABLE SCOTT.ADDED TO added_pg.csv;\n");
    std::string csv = readWhole("added.csv");
    EXPECT_EQ(csv,
              "1,one,AB,2024-02-29 00:00:00,,7\n2,,AB,2024-02-29 00:00:00,,7\n"
              "3,three,ZZ,2000-01-01 00:00:00,01,\n4,four,ZZ,2000-01-01 00:00:00,00,7\n"
              "5,five,ZZ,2000-01-01 00:00:00,01,9\n6,,ZZ,2000-01-01 00:00:00,,8\n"
              "7,seven,ZZ,2000-01-01 00:00:00,00,7\n8,chained,AB,2024-02-29 00:00:00,,7\n");
    std::string pg = readWhole("added_pg.csv");
    EXPECT_NE(pg.find("1,one,AB,2024-02-29 00:00:00,,7\n"), std::string::npos) << pg;
    EXPECT_NE(pg.find("4,four,ZZ,2000-01-01 00:00:00,\\x00,7\n"), std::string::npos) << pg;
}

TEST_F(ColumnProperties, DefaultsInTheDump)
{
    run("UNLOAD TABLE SCOTT.ADDED TO added.dmp;\n");
    std::string dump = readWhole("added.dmp");
    // Row 2: ID 2, NAME NULL, CODE 'AB  ', D 2024-02-29, guard NULL, QTY 7, end.
    const char row2[] =
        "\x02\x00\xc1\x03\xfe\xff\x04\x00"
        "AB  "
        "\x07\x00\x78\x7c\x02\x1d\x01\x01\x01\xfe\xff\x02\x00\xc1\x08\x00\x00";
    EXPECT_NE(dump.find(std::string(row2, sizeof row2 - 1)), std::string::npos);
    // Row 3: the guard says QTY is stored, and it is NULL.
    const char row3[] = "\x01\x00\x01\xfe\xff\x00\x00";
    EXPECT_NE(dump.find(std::string(row3, sizeof row3 - 1)), std::string::npos);
}

TEST_F(ColumnProperties, UnknownDefaultIsNullAndReported)
{
    testing::internal::CaptureStderr();
    std::string printed = run("UNLOAD TABLE SCOTT.NODEF TO nodef.txt;\n");
    std::string said = testing::internal::GetCapturedStderr();
    // The migrated row's body is written from a chain context: it counts.
    EXPECT_EQ(readWhole("nodef.txt"), "1\n2\n3,5\n4\n");
    // The rows hold NULL there: the script must still load them.
    EXPECT_EQ(
        readWhole("NODEF_syntax.sql"),
        "CREATE TABLE \"NODEF\" (\n \"ID\"  NUMBER  ,\n \"STAMP\"  NUMBER  /* NOT NULL in Oracle, but rows "
        "from before the ADD have no default here */ \n);\nexit;\n");
    EXPECT_EQ(said,
              "  Column STAMP of SCOTT.NODEF was added with a default that neither ECOL$ nor a plain literal "
              "in DEFAULT$ gives: rows stored before it was added get NULL there\n"
              "  3 rows of SCOTT.NODEF have NULL in column STAMP for want of the default it was added "
              "with\n");
}

}  // namespace
