// Names as Oracle 12.2 and later allow them (1 to 128 bytes,
// multibyte, and quoted names holding blanks, commas and lower case) go
// through the forge's dictionary, UNLOAD TABLE DICT$ and UNLOAD TABLE whole:
// every output style writes the forged values of every column, and the
// loader files name every column whole.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"
#include "unload/writers/export_reader.h"

namespace {

using zorsession::readWhole;

std::string repeat(const std::string &piece, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += piece;
    return text;
}

// 128 bytes each: ASCII, and 42 three-byte characters and two letters.
const std::string kOwner = repeat("O", 78);
const std::string kTable = repeat("T", 128);
const std::string kColumn = repeat("C", 128);
const std::string kWideOwner = repeat("\xE5\x90\x8D", 42) + "OW";   // 名
const std::string kWideTable = repeat("\xE8\xA1\xA8", 42) + "TB";   // 表
const std::string kWideColumn = repeat("\xE4\xBB\xB7", 42) + "XY";  // 价
const std::string kPrice = "Unit Price, EUR";
const std::string kLower = "lower case";

std::string description()
{
    return "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 256\n"
           "file users01.dbf rfn 4 ts 4 tsname USERS blocks 128\n"
           "user " +
           kOwner +
           " id 90 tablespace 4\n"
           "user " +
           kWideOwner +
           " id 91 tablespace 4\n"
           "table " +
           kOwner + "." + kTable +
           " obj 80000\n"
           "  column " +
           kColumn +
           " number\n"
           "  column \"" +
           kPrice +
           "\" number(7,2)\n"
           "  column " +
           kWideColumn +
           " varchar2(20)\n"
           "  column \"" +
           kLower +
           "\" varchar2(10)\n"
           "segment " +
           kOwner + "." + kTable +
           "\n"
           "  extent users01.dbf 8 8\n"
           "  insert values 1 12.5 abc x\n"
           "  insert values 2 null \"d,e\" y\n"
           "  insert values 3 -0.01 \"\xE4\xBB\xB7\" z\n"
           "table " +
           kWideOwner + "." + kWideTable +
           " obj 80010\n"
           "  column ID number\n"
           "  column " +
           kWideColumn +
           " varchar2(30)\n"
           "segment " +
           kWideOwner + "." + kWideTable +
           "\n"
           "  extent users01.dbf 24 8\n"
           "  insert values 7 \"\xE5\x90\x8D\xE5\xAD\x97\"\n"
           "dictionary system01.dbf from 8\n"
           "config zor.cfg\n";
}

class LongNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        char error[512] = "";
        ASSERT_TRUE(forge::forgeFromTextWithManifest(description().c_str(), scratch_.path.c_str(), &manifest_,
                                                     error, sizeof error))
            << error;
    }
    void TearDown() override
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }

    std::string run(const std::string &commands)
    {
        return zorsession::runCommands("OPEN zor.cfg\nUNLOAD TABLE DICT$;\n" + commands);
    }

    const forge::ManifestTable *table(const std::string &name)
    {
        for (const forge::ManifestTable &t : manifest_.tables)
            if (t.name == name)
                return &t;
        return nullptr;
    }

    zorsession::ScratchDirectory scratch_;
    forge::Manifest manifest_;
};

// The records ZOR writes, built from the forge's manifest: as text, or as
// CSV (a value holding the separator, a quote, CR or LF in quotes).
std::string expectedRecords(const forge::ManifestTable *t, bool csv)
{
    std::string text;
    for (const forge::ManifestRow &row : t->rows) {
        if (!csv) {
            text += forge::manifestRecord(&row, ",", "\n");
            continue;
        }
        for (size_t i = 0; i < row.values.size(); i++) {
            const std::string &v = row.values[i].text;
            bool quote = v.find_first_of(",\"\r\n") != std::string::npos;
            text += (i == 0 ? "" : ",") + (quote ? "\"" + v + "\"" : v);
        }
        text += "\n";
    }
    return text;
}

struct Style {
    const char *name;
    const char *settings;
    const char *suffix;
};

class LongNamesStyles : public LongNames, public ::testing::WithParamInterface<Style> {};

TEST_P(LongNamesStyles, EveryValueOfEveryColumnIsUnloaded)
{
    const Style &style = GetParam();
    std::string printed =
        run(std::string("SET FIELD_TAG ,\nSET RECORD_TAG \\n\n") + style.settings + "UNLOAD TABLE " + kOwner +
            "." + kTable + " TO t." + style.suffix + ";\n" + "UNLOAD TABLE " + kWideOwner + "." + kWideTable +
            " TO w." + style.suffix + ";\n");
    EXPECT_EQ(printed.find("does not exists"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Sucessfully unload 3 rows"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Sucessfully unload 1 rows"), std::string::npos) << printed;
    const forge::ManifestTable *t = table(kTable);
    const forge::ManifestTable *w = table(kWideTable);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(w, nullptr);
    if (std::string(style.suffix) != "dmp") {
        bool csv = std::string(style.suffix) == "csv";
        EXPECT_EQ(readWhole(std::string("t.") + style.suffix), expectedRecords(t, csv));
        EXPECT_EQ(readWhole(std::string("w.") + style.suffix), expectedRecords(w, csv));
        // The loader files name every column whole.
        std::string control = readWhole(kTable + "_sqlldr.ctl");
        std::string create = readWhole(kTable + "_syntax.sql");
        for (const std::string &name : {kColumn, kPrice, kWideColumn, kLower}) {
            bool named = control.find("   \"" + name + "\"    ") != std::string::npos ||
                         control.find("   " + name + "    ") != std::string::npos;
            EXPECT_TRUE(named) << name << "\n" << control;
            EXPECT_NE(create.find(" \"" + name + "\" "), std::string::npos) << name;
        }
        EXPECT_NE(control.find("\"" + kPrice + "\"    CHAR"), std::string::npos) << control;
        return;
    }
    for (const forge::ManifestTable *forged : {t, w}) {
        exportfile::File dump;
        std::string path = forged == t ? "t.dmp" : "w.dmp";
        ASSERT_TRUE(exportfile::readFile(path.c_str(), &dump)) << dump.error;
        ASSERT_EQ(dump.tables.size(), 1u);
        const exportfile::Table &d = dump.tables[0];
        EXPECT_EQ(d.name, forged->name);
        EXPECT_EQ(dump.user, forged == t ? kOwner : kWideOwner);
        for (const forge::ColumnDef &c : forged->columns)
            EXPECT_NE(d.insertText.find("\"" + c.name + "\""), std::string::npos) << c.name;
        ASSERT_EQ(d.rows.size(), forged->rows.size());
        for (size_t r = 0; r < d.rows.size(); r++) {
            const std::vector<forge::FieldValue> &values = forged->rows[r].values;
            ASSERT_EQ(d.rows[r].size(), values.size());
            for (size_t i = 0; i < values.size(); i++) {
                EXPECT_EQ(d.rows[r][i].isNull, values[i].isNull) << r << "." << i;
                EXPECT_EQ(d.rows[r][i].bytes, std::string(values[i].bytes.begin(), values[i].bytes.end()))
                    << r << "." << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, LongNamesStyles,
                         ::testing::Values(Style{"Text", "", "txt"},
                                           Style{"Csv", "SET OUTPUT_STYLE CSV\n", "csv"},
                                           Style{"Dump", "", "dmp"}),
                         [](const ::testing::TestParamInfo<Style> &info) {
                             return std::string(info.param.name);
                         });

// The bootstrap quotes a name holding a comma; every other line is written
// as it always was.
TEST_F(LongNames, DictionaryQuotesOnlyTheNameWithAComma)
{
    run("");
    std::string columns = readWhole("ZORDICT/ZORCOL.TXT");
    EXPECT_NE(columns.find("80000,1,1," + kColumn + ",2,22,"), std::string::npos);
    EXPECT_NE(columns.find("80000,2,2,\"" + kPrice + "\",2,22,7,2,"), std::string::npos);
    EXPECT_NE(columns.find("80000,3,3," + kWideColumn + ",1,20,"), std::string::npos);
    EXPECT_NE(columns.find("80000,4,4," + kLower + ",1,10,"), std::string::npos);
    EXPECT_NE(readWhole("ZORDICT/ZORUSR.TXT").find("91," + kWideOwner + ","), std::string::npos);
}

TEST_F(LongNames, DescAndListNameTheTableWhole)
{
    std::string printed = run("DESC " + kOwner + "." + kTable + "\nLIST TABLE " + kWideOwner + "\n");
    EXPECT_NE(printed.find("Storage(OBJ#=80000"), std::string::npos) << printed;
    for (const std::string &name : {kColumn, kPrice, kWideColumn, kLower})
        EXPECT_NE(printed.find(name), std::string::npos) << name;
    EXPECT_NE(
        printed.find(" UNLOAD TABLE " + kWideOwner + "." + kWideTable + " TO " + kWideTable + ".txt;\n"),
        std::string::npos)
        << printed;
}

// PostgreSQL keeps 63 bytes of a name: longer ones are cut, given a hash,
// and listed in the script.
TEST_F(LongNames, PostgresNamesAreShortenedAndListed)
{
    run("SET TARGET POSTGRESQL\nUNLOAD TABLE " + kOwner + "." + kTable + ";\n");
    std::string script = readWhole(kTable + "_pg.sql");
    EXPECT_NE(script.find("-- PostgreSQL keeps 63 bytes of a name: table " + kTable + " is named " +
                          kTable.substr(0, 54) + "_"),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("column " + kColumn + " is named " + kColumn.substr(0, 54) + "_"),
              std::string::npos);
    // 18 whole characters (54 bytes) before the hash.
    EXPECT_NE(script.find("  \"" + kWideColumn.substr(0, 54) + "_"), std::string::npos) << script;
    EXPECT_NE(script.find("  \"" + kPrice + "\" numeric(7,2)"), std::string::npos);
    EXPECT_EQ(script.find(kColumn + "\" numeric"), std::string::npos);
}

// A name holding a blank or a dot is typed in double quotes; LIST TABLE
// writes it so, and its line runs as it stands.
TEST(QuotedCommandNames, ListedCommandRunsAsItStands)
{
    zorsession::ScratchDirectory scratch;
    ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch));
    std::string text =
        "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 256\n"
        "file users01.dbf rfn 4 ts 4 tsname USERS blocks 128\n"
        "user \"Own er\" id 90 tablespace 4\n"
        "table \"Own er.My Table.v2\" obj 80000\n"
        "  column \"a b\" number\n"
        "segment \"Own er.My Table.v2\"\n"
        "  extent users01.dbf 8 8\n"
        "  insert values 41\n"
        "  insert values 42\n"
        "dictionary system01.dbf from 8\n"
        "config zor.cfg\n";
    char error[512] = "";
    ASSERT_TRUE(forge::forgeFromText(text.c_str(), scratch.path.c_str(), error, sizeof error)) << error;
    std::string listed =
        zorsession::runCommands("OPEN zor.cfg\nUNLOAD TABLE DICT$;\nLIST TABLE \"Own er\"\n");
    const std::string command = " UNLOAD TABLE \"Own er\".\"My Table.v2\" TO \"My Table.v2.txt\";\n";
    ASSERT_NE(listed.find(command), std::string::npos) << listed;
    std::string printed =
        zorsession::runCommands("OPEN zor.cfg\n" + command.substr(1) + "DESC \"own ER\".\"My Table.v2\"\n");
    EXPECT_NE(printed.find("Sucessfully unload 2 rows"), std::string::npos) << printed;
    EXPECT_EQ(readWhole("My Table.v2.txt"), "41\r\n42\r\n");
    EXPECT_NE(printed.find("a b"), std::string::npos) << printed;
    zorsession::leaveScratchDirectory(&scratch);
}

// The classic dump keeps names in lines of text: a name holding a tab is
// refused with a message, never changed.
TEST(LongNamesDump, NameTheDumpCannotHoldIsRefused)
{
    zorsession::ScratchDirectory scratch;
    ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch));
    std::string text =
        "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 256\n"
        "file users01.dbf rfn 4 ts 4 tsname USERS blocks 128\n"
        "user SCOTT id 90 tablespace 4\n"
        "table SCOTT.TABBED obj 80000\n"
        "  column \"A\\tB\" number\n"
        "segment SCOTT.TABBED\n"
        "  extent users01.dbf 8 8\n"
        "  insert values 1\n"
        "dictionary system01.dbf from 8\n"
        "config zor.cfg\n";
    char error[512] = "";
    ASSERT_TRUE(forge::forgeFromText(text.c_str(), scratch.path.c_str(), error, sizeof error)) << error;
    std::string printed = zorsession::runCommands(
        "OPEN zor.cfg\nUNLOAD TABLE DICT$;\n"
        "UNLOAD TABLE SCOTT.TABBED TO t.dmp;\n");
    EXPECT_NE(printed.find("  The export dump cannot hold the column name \"A\tB\""), std::string::npos)
        << printed;
    EXPECT_EQ(readWhole("t.dmp"), "<missing t.dmp>");
    zorsession::leaveScratchDirectory(&scratch);
}

}  // namespace
