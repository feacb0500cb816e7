// Columns of Oracle 11g to 23ai that change what a row means, on a forged
// database: DICT$, then UNLOAD TABLE in every output style, compared value
// for value with the forge's manifest.
#include <string>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"

namespace {

using zorsession::readWhole;

const char *kDatabase =
    "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 300\n"
    "file users01.dbf rfn 4 ts 4 tsname USERS blocks 200\n"
    "config db.cfg\n"
    "user SCOTT id 84 tablespace 4\n"
    // An invisible column between two visible ones.
    "table SCOTT.VIS obj 5000 objd 5000\n"
    "  column ID number(4) not null\n"
    "  column SECRET varchar2(10) invisible\n"
    "  column NOTE varchar2(10)\n"
    "segment SCOTT.VIS\n"
    "  extent users01.dbf 10 8\n"
    "  insert values 1 hidden one\n"
    "  insert values 2 null two\n"
    "  insert values 3 kept\n"
    // TDE-encrypted columns hold ciphertext (52 bytes for VARCHAR2(11), 68
    // for NUMBER).
    "table SCOTT.ENC obj 5010 objd 5010\n"
    "  column ID number\n"
    "  column SSN varchar2(11) encrypted\n"
    "  column PAY number(8,2) nosalt not null\n"
    "segment SCOTT.ENC\n"
    "  extent users01.dbf 20 8\n"
    "  insert values 1 "
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef01234567"
    " "
    "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210fedcba98"
    "7654321076543210\n"
    "  insert values 2 null 00ff\n"
    "dictionary system01.dbf\n";

class ColumnProperties : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        char error[512] = "";
        ASSERT_TRUE(forge::forgeFromTextWithManifest(kDatabase, scratch_.path.c_str(), &manifest_, error,
                                                     sizeof error))
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

}  // namespace
