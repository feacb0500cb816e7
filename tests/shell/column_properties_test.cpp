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

}  // namespace
