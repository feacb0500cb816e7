// UNLOAD TABLE DICT$ and UNLOAD TABLE owner.table on a forged database that
// carries its own dictionary (the description of the dict_bootstrap
// transcript): the five dictionary files hold the lines the SYS rows give,
// and after them every user table unloads exactly the rows the forge stored.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "column_values.h"
#include "forge/forge.h"
#include "scan/zor_session.h"

namespace {

using zorsession::readWhole;

bool exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

// ZOR_TEST_PARALLEL=n runs every session with n unload workers: the same
// files must come out.
std::string parallelSetting()
{
    const char *parallel = getenv("ZOR_TEST_PARALLEL");
    return parallel != nullptr ? "SET PARALLEL " + std::string(parallel) + "\n" : "";
}

class UnloadTableDatabase : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        std::string description = readWhole(ZOR_SOURCE_DIR "/tests/e2e/cases/dict_bootstrap/files/db.txt");
        forge(description.c_str());
    }

    std::string run(const std::string &commands)
    {
        return zorsession::runCommands(parallelSetting() + "OPEN db.cfg\n" + commands);
    }

    // The records ZOR writes for the live rows of a forged table.
    std::string expectedRows(const char *name, const char *fieldTag, const char *recordTag,
                             size_t limit = SIZE_MAX)
    {
        const forge::ManifestTable *t = table(name);
        return t != nullptr ? liveRecords(*t, fieldTag, recordTag, limit)
                            : "<no table " + std::string(name) + ">";
    }
};

TEST_F(UnloadTableDatabase, DictWritesTheFiveFilesClusterKeyFirst)
{
    run("UNLOAD TABLE DICT$;\n");
    // USER$ rows are cluster members: the key USER# comes first; a row that
    // stores columns after NAME keeps the comma before the newline.
    EXPECT_EQ(readWhole("ZORDICT/ZORUSR.TXT"), "0,SYS,\n84,SCOTT\n");
    // A NULL SUBNAME leaves an empty field; OID$ is upper-case hexadecimal; a
    // row stored beyond OID$ ends with a comma.
    EXPECT_EQ(readWhole("ZORDICT/ZOROBJ.TXT"),
              "30,0,IND$,,2\n31,0,TABPART$,,2\n32,0,COLTYPE$,,2\n100,84,EMP,,2,,\n101,84,PK_EMP,,1\n"
              "110,84,SALES,,2\n111,84,SALES,P1,19\n112,84,SALES,P2,19\n120,84,A$B,,2\n"
              "130,0,XMLTYPE,,13,00000000000000000000000000020100\n");
    // TAB$ lines, then IND$ (from its OBJ#, after the key BO#) and TABPART$
    // appended; INDPART$ and the subpartition tables are not there.
    EXPECT_EQ(readWhole("ZORDICT/ZORTAB.TXT"),
              "30,30,0,1,40,,\n31,31,0,1,50,,\n32,32,0,1,60,,\n100,100,4,4,10,,\n110,,4,0,0,,\n"
              "120,120,4,4,30,,\n101,101,4,4,60,\n111,111,4,4,40,\n112,112,4,4,50,\n");
    EXPECT_EQ(readWhole("ZORDICT/ZORCOL.TXT"),
              "100,1,1,EMPNO,2,22,4,0,1,1,0,0,0\n100,2,2,ENAME,1,10,,,0,2,0,873,1\n"
              "100,3,3,HIREDATE,12,7,,,0,3,0,0,0\n100,4,4,SAL,2,22,7,2,0,4,0,0,0\n"
              "110,1,1,ID,2,22,,,0,1,0,0,0\n110,2,2,REGION,1,10,,,0,2,0,873,1\n"
              "120,1,1,X,2,22,,,0,1,0,0,0\n120,2,2,Y,1,20,,,0,2,0,873,1\n");
    EXPECT_EQ(readWhole("ZORDICT/ZORTYP.TXT"), "140,2,2,00000000000000000000000000020100,1,0,\n");
}

TEST_F(UnloadTableDatabase, TabAloneBeforeObjWritesOnlyTheTabLines)
{
    run("UNLOAD TABLE TAB$;\n");
    EXPECT_EQ(readWhole("ZORDICT/ZORTAB.TXT"),
              "30,30,0,1,40,,\n31,31,0,1,50,,\n32,32,0,1,60,,\n100,100,4,4,10,,\n110,,4,0,0,,\n"
              "120,120,4,4,30,,\n");
    EXPECT_FALSE(exists("ZORDICT/ZORUSR.TXT"));
    EXPECT_FALSE(exists("ZORDICT/ZORTYP.TXT"));
}

TEST_F(UnloadTableDatabase, EveryTableUnloadsExactlyTheForgedRows)
{
    struct Case {
        const char *forged;
        const char *command;
        const char *file;
    };
    const Case cases[] = {
        {"EMP", "UNLOAD TABLE SCOTT.EMP TO emp.txt;\n", "emp.txt"},
        {"SALES_P1", "UNLOAD TABLE SCOTT.SALES PARTITION P1 TO p1.txt;\n", "p1.txt"},
        {"SALES_P2", "UNLOAD TABLE scott.sales PARTITION p2 TO p2.txt;\n", "p2.txt"},
        {"A$B", "UNLOAD TABLE SCOTT.A$B TO ab.txt;\n", "ab.txt"},
    };
    std::string commands = "UNLOAD TABLE DICT$;\nSET FIELD_TAG ,\nSET RECORD_TAG \\n\n";
    for (const Case &c : cases)
        commands += c.command;
    std::string printed = run(commands);
    for (const Case &c : cases)
        EXPECT_EQ(readWhole(c.file), expectedRows(c.forged, ",", "\n")) << c.command;
    EXPECT_NE(printed.find("Sucessfully unload 14 rows ..."), std::string::npos);
}

TEST_F(UnloadTableDatabase, LimitBelowTenUnloadsTenRows)
{
    std::string printed =
        run("UNLOAD TABLE DICT$;\nUNLOAD TABLE SCOTT.EMP LIMIT 3 TO limit.txt;\n"
            "UNLOAD TABLE SCOTT.EMP TO all.txt;\n");
    EXPECT_EQ(readWhole("limit.txt"), expectedRows("EMP", "|", "\r\n", 10));
    // The limit belongs to one command.
    EXPECT_EQ(readWhole("all.txt"), expectedRows("EMP", "|", "\r\n"));
}

TEST_F(UnloadTableDatabase, MissingUserOrTableSaysSoAndWritesNothing)
{
    std::string printed =
        run("UNLOAD TABLE DICT$;\nUNLOAD TABLE NOBODY.EMP TO a.txt;\n"
            "UNLOAD TABLE SCOTT.NOPE TO b.txt;\nUNLOAD TABLE SCOTT.SALES PARTITION P9 TO c.txt;\n");
    EXPECT_NE(printed.find("  USER NOBODY does not exists!\n"), std::string::npos);
    EXPECT_NE(printed.find("  TABLE SCOTT.NOPE does not exists!\n"), std::string::npos);
    EXPECT_NE(printed.find("  TABLE SCOTT.SALES does not exists!\n"), std::string::npos);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_FALSE(exists("b.txt"));
    EXPECT_FALSE(exists("c.txt"));
    EXPECT_FALSE(exists("EMP_sqlldr.ctl"));
    EXPECT_FALSE(exists("NOPE_syntax.sql"));
}

TEST_F(UnloadTableDatabase, ArgumentWithoutDotPrintsAndWritesNothing)
{
    run("UNLOAD TABLE DICT$;\n");
    std::string printed = run("UNLOAD TABLE EMP TO a.txt;\nUNLOAD TABLE SCOTT. TO b.txt;\n");
    EXPECT_EQ(printed.find("Unload OBJD"), std::string::npos);
    EXPECT_EQ(printed.find("does not exists"), std::string::npos);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_FALSE(exists("b.txt"));
}

TEST_F(UnloadTableDatabase, DollarNameGivesUnderscoreFileNames)
{
    run("UNLOAD TABLE DICT$;\nUNLOAD TABLE SCOTT.A$B TO ab.txt;\n");
    EXPECT_TRUE(exists("A_B_sqlldr.ctl"));
    EXPECT_TRUE(exists("A_B_syntax.sql"));
    std::string control = readWhole("A_B_sqlldr.ctl");
    EXPECT_NE(control.find("APPEND INTO TABLE A$B\n"), std::string::npos);
    EXPECT_NE(control.find("-- Generated by ZOR/Kelpo, for table SCOTT.A$B\n"), std::string::npos);
}

TEST_F(UnloadTableDatabase, AsNamesTheLoaderFilesAndTheStatementInUpperCase)
{
    run("UNLOAD TABLE DICT$;\nUNLOAD TABLE SCOTT.SALES PARTITION P2 AS new_sales TO p2.txt;\n");
    EXPECT_EQ(readWhole("NEW_SALES_syntax.sql"),
              "CREATE TABLE \"NEW_SALES\" (\n \"ID\"  NUMBER  ,\n \"REGION\"  VARCHAR2(10)  \n);\nexit;\n");
    std::string control = readWhole("NEW_SALES_P2_sqlldr.ctl");
    EXPECT_NE(control.find("APPEND INTO TABLE NEW_SALES\n"), std::string::npos);
    EXPECT_FALSE(exists("SALES_syntax.sql"));
}

TEST_F(UnloadTableDatabase, TablespaceFilterEndsSilently)
{
    std::string printed =
        run("UNLOAD TABLE DICT$;\nSET TABLESPACE 5\nUNLOAD TABLE SCOTT.EMP TO a.txt;\n"
            "SET TABLESPACE 4\nUNLOAD TABLE SCOTT.EMP TO b.txt;\n");
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_EQ(readWhole("b.txt"), expectedRows("EMP", "|", "\r\n"));
    EXPECT_EQ(printed.find("Unload OBJD=100"), printed.rfind("Unload OBJD=100"));
}

// Until the export dump writer exists a DMP unload writes no file that
// looks like a dump, and OUTPUT_STYLE comes back as it was.
TEST_F(UnloadTableDatabase, DumpNamesAndStyleWriteDumpsAndStyleIsRestored)
{
    std::string printed =
        run("UNLOAD TABLE DICT$;\nUNLOAD TABLE SCOTT.EMP TO emp.dmp;\n"
            "SET OUTPUT_STYLE DMP\nUNLOAD TABLE SCOTT.EMP;\n"
            "UNLOAD TABLE SCOTT.EMP TO emp.txt;\nSET OUTPUT_STYLE\n");
    EXPECT_TRUE(exists("emp.dmp"));
    EXPECT_TRUE(exists("zordata.dmp"));
    EXPECT_EQ(readWhole("emp.dmp"), readWhole("zordata.dmp"));
    EXPECT_EQ(readWhole("emp.txt"), expectedRows("EMP", "|", "\r\n"));
    size_t report = printed.rfind("Sucessfully unload 14 rows ...");
    ASSERT_NE(report, std::string::npos) << printed;
    EXPECT_NE(printed.find("  Current OUTPUT_STYLE is : DMP\n", report), std::string::npos) << printed;
}

// An extent file that lists runs of other objects only (SCAN EXTENT of
// another file) used to end the unload with 0 rows reported as success.
TEST_F(UnloadTableDatabase, ExtentFileWithoutRunsOfTheTableFallsBackToTheHeader)
{
    std::string printed =
        run("UNLOAD TABLE DICT$;\nSCAN EXTENT FILE 1;\nUNLOAD TABLE SCOTT.EMP TO emp.txt;\n");
    EXPECT_EQ(readWhole("emp.txt"), expectedRows("EMP", "|", "\r\n"));
    EXPECT_NE(printed.find("Sucessfully unload 14 rows ..."), std::string::npos);
}

// The sample database of the forge: after UNLOAD TABLE DICT$, UNLOAD TABLE
// of every table it declares (its partitions one by one, the SYS tables
// too) writes exactly the rows the forge stored.
class UnloadTableSample : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        forge(nullptr);
    }
};

TEST_F(UnloadTableSample, EveryTableAfterDictWritesTheForgedRows)
{
    std::string commands =
        parallelSetting() + "OPEN zor.cfg\nSET FIELD_TAG ,\nSET RECORD_TAG \\n\nUNLOAD TABLE DICT$;\n";
    std::vector<std::string> files;
    std::vector<std::string> expected;
    std::vector<std::string> names;
    size_t unloads = 0;
    for (const forge::ManifestTable &t : manifest_.tables) {
        ASSERT_FALSE(t.owner.empty()) << t.name;
        // Dropped tables and old rows of truncated ones have no live
        // dictionary rows to unload them by.
        if (t.drop != forge::kSchemaLive || t.truncated)
            continue;
        std::string file = "out" + std::to_string(unloads++) + ".txt";
        std::string command = "UNLOAD TABLE " + t.owner + "." + t.name;
        if (!t.partition.empty())
            command += " PARTITION " + t.partition;
        commands += command + " TO " + file + ";\n";
        files.push_back(file);
        expected.push_back(liveRecords(t, ",", "\n"));
        names.push_back(command);
    }
    std::string printed = zorsession::runCommands(commands);
    ASSERT_GE(files.size(), 8u);
    for (size_t i = 0; i < files.size(); i++)
        EXPECT_EQ(readWhole(files[i].c_str()), expected[i]) << names[i];
    EXPECT_EQ(printed.find("does not exists"), std::string::npos) << printed;
}

}  // namespace
