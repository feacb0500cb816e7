// Tables of more than 255 columns, up to Oracle's 4096: every row is several
// chained pieces, often in one block.  A forged 1,100- and 4,096-column table
// with its dictionary: DICT$, then UNLOAD TABLE as text, CSV and export dump
// and UNLOAD OBJECT with a COLUMN list naming every column, held against the
// forge's manifest; and the proposals of SAMPLE and SCAN TABLE.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"
#include "shell/shell.h"
#include "unload/writers/export_reader.h"

namespace {

using zorsession::readWhole;

struct WideTable {
    const char *name;
    uint32_t objectId;
    uint32_t columns;
    uint32_t firstBlock;  // of its extent in users01.dbf
};

const WideTable kWideTables[] = {
    {"T1100", 81100, 1100, 16},
    {"T4096", 84096, 4096, 48},
};
constexpr uint32_t kExtentBlocks = 24;

void PrintTo(const WideTable &t, std::ostream *os)
{
    *os << t.name;
}

// Column c (from 1) of row r: numbers and short text in turn.  The second
// row has NULLs inside and two trailing NULLs, which are not stored.
bool isTextColumn(uint32_t c)
{
    return c % 4 == 0;
}

std::string valueOf(uint32_t r, uint32_t c, uint32_t columns)
{
    if (r >= 2 && (c % 97 == 0 || c + 2 > columns))
        return "null";
    if (isTextColumn(c))
        return "r" + std::to_string(r) + "c" + std::to_string(c);
    if (c % 4 == 2)
        return "-" + std::to_string(r) + "." + std::to_string(c);
    return std::to_string(c * 10 + r);
}

// One wide table of `rows` rows in users01.dbf; with `dictionary`, the SYS
// dictionary in system01.dbf too.
std::string wideDescription(const WideTable &t, bool dictionary, uint32_t rows)
{
    std::string d =
        "blocksize 8192\n"
        "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 640\n"
        "file users01.dbf rfn 4 ts 4 tsname USERS blocks 96\n"
        "user WIDE id 90 tablespace 4\n";
    d += "table WIDE." + std::string(t.name) + " obj " + std::to_string(t.objectId) + " objd " +
         std::to_string(t.objectId) + "\n";
    for (uint32_t c = 1; c <= t.columns; c++)
        d += "  column C" + std::to_string(c) + (isTextColumn(c) ? " varchar2(12)\n" : " number\n");
    d += "segment WIDE." + std::string(t.name) + "\n  extent users01.dbf " + std::to_string(t.firstBlock) +
         " " + std::to_string(kExtentBlocks) + "\n";
    for (uint32_t r = 1; r <= rows; r++) {
        d += "  insert values";
        for (uint32_t c = 1; c <= t.columns; c++)
            d += " " + valueOf(r, c, t.columns);
        d += "\n";
    }
    if (dictionary)
        d += "dictionary system01.dbf\n";
    d += "config db.cfg\n";
    return d;
}

// Each test forges the one table it reads (the dictionary of 4,096 columns
// is the costly part), in a scratch directory of its own.
class WideTables : public ::testing::Test {
protected:
    void forgeTable(const WideTable &t, bool dictionary, uint32_t rows = 2)
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        std::string description = wideDescription(t, dictionary, rows);
        char error[512] = "";
        ASSERT_TRUE(forge::forgeFromTextWithManifest(description.c_str(), scratch_.path.c_str(), &manifest_,
                                                     error, sizeof error))
            << error;
        // With the dictionary the SYS tables follow in the manifest.
        ASSERT_FALSE(manifest_.tables.empty());
        table_ = &manifest_.tables[0];
        ASSERT_EQ(table_->name, t.name);
        ASSERT_EQ(table_->columns.size(), t.columns);
        ASSERT_EQ(table_->rows.size(), rows);
        if (dictionary)
            run("UNLOAD TABLE DICT$;\n");
    }
    void TearDown() override
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }

    static std::string run(const std::string &commands)
    {
        return zorsession::runCommands("OPEN db.cfg\nSET FIELD_TAG ,\nSET RECORD_TAG \\n\n" + commands);
    }

    // The text records of every row, and their CSV form: every column has a
    // field there, trailing NULLs included.
    static std::string textRecords(const forge::ManifestTable &m)
    {
        std::string text;
        for (const forge::ManifestRow &row : m.rows)
            text += forge::manifestRecord(&row, ",", "\n");
        return text;
    }
    static std::string csvRecords(const forge::ManifestTable &m)
    {
        std::string text;
        for (const forge::ManifestRow &row : m.rows) {
            for (size_t i = 0; i < row.values.size(); i++)
                text += (i == 0 ? "" : ",") + row.values[i].text;
            text += "\n";
        }
        return text;
    }

    zorsession::ScratchDirectory scratch_;
    forge::Manifest manifest_;
    const forge::ManifestTable *table_ = nullptr;
};

std::vector<uint8_t> fileBytes(const std::string &path)
{
    std::string text = readWhole(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

size_t countOf(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        count++;
    return count;
}

// Fields of each record of a text file.
std::vector<size_t> fieldsPerRecord(const std::string &text)
{
    std::vector<size_t> fields;
    size_t count = 1;
    for (char c : text) {
        if (c == ',') {
            count++;
        } else if (c == '\n') {
            fields.push_back(count);
            count = 1;
        }
    }
    return fields;
}

class WideTableUnload : public WideTables, public ::testing::WithParamInterface<WideTable> {};

// Every column's type named, ten to a line as SAMPLE proposes them: far
// more text than the 8 KB a command once had.
std::string columnList(const WideTable &t)
{
    std::string list = " COLUMN";
    for (uint32_t c = 1; c <= t.columns; c++) {
        if (c % 10 == 1)
            list += "\n      ";
        list += isTextColumn(c) ? " VARCHAR2" : " NUMBER";
    }
    return list + "\n ";
}

TEST_P(WideTableUnload, EveryValueOfEveryRowAsTextCsvDumpAndByColumnList)
{
    const WideTable &t = GetParam();
    ASSERT_NO_FATAL_FAILURE(forgeTable(t, true));
    const forge::ManifestTable &m = *table_;
    // Every row is several pieces, some of them sharing a block.
    for (const forge::ManifestRow &row : m.rows) {
        ASSERT_GE(row.pieceRdbas.size(), (t.columns + 254) / 255);
        bool shared = false;
        for (size_t i = 1; i < row.pieceRdbas.size(); i++)
            shared = shared || row.pieceRdbas[i] == row.pieceRdbas[i - 1];
        EXPECT_TRUE(shared) << t.name;
    }

    std::string unload = "UNLOAD TABLE WIDE." + std::string(t.name);
    std::string commands = unload + " TO wide.txt;\n";
    commands += "SET OUTPUT_STYLE CSV\n" + unload + " TO wide.csv;\n";
    commands += "SET OUTPUT_STYLE TXT\n" + unload + " TO wide.dmp;\n";
    commands += "UNLOAD OBJECT " + std::to_string(t.objectId) + columnList(t) + " TO object.txt;\n";
    commands += "SET PARALLEL 2\n" + unload + " TO parallel.txt;\n";
    std::string printed = run(commands);
    EXPECT_EQ(countOf(printed, "Sucessfully unload 2 rows ...\n"), 5u) << printed;

    std::string text = readWhole("wide.txt");
    EXPECT_EQ(fieldsPerRecord(text), (std::vector<size_t>{t.columns, t.columns - 2}));
    EXPECT_EQ(text, textRecords(m));
    EXPECT_EQ(readWhole("object.txt"), text);
    EXPECT_EQ(readWhole("parallel.txt"), text);
    EXPECT_EQ(readWhole("wide.csv"), csvRecords(m));
    // The loader files name every column.
    std::string last = "C" + std::to_string(t.columns);
    std::string script = readWhole(std::string(t.name) + "_syntax.sql");
    EXPECT_EQ(countOf(script, " \"C"), t.columns);
    EXPECT_NE(script.find(" \"" + last + "\" "), std::string::npos);
    std::string control = readWhole(std::string(t.name) + "_sqlldr.ctl");
    EXPECT_EQ(countOf(control, "\n   C"), t.columns);
    EXPECT_NE(control.find("\n   " + last + " "), std::string::npos);

    exportfile::File file;
    ASSERT_TRUE(exportfile::readFile(fileBytes("wide.dmp"), &file)) << file.error;
    ASSERT_EQ(file.tables.size(), 1u);
    const exportfile::Table &read = file.tables[0];
    ASSERT_EQ(read.columns.size(), t.columns);
    ASSERT_EQ(read.rows.size(), 2u);
    for (size_t r = 0; r < 2; r++) {
        ASSERT_EQ(read.rows[r].size(), t.columns);
        for (size_t c = 0; c < t.columns; c++) {
            const forge::FieldValue &want = m.rows[r].values[c];
            ASSERT_EQ(read.rows[r][c].isNull, want.isNull) << "row " << r << " column " << c;
            ASSERT_EQ(read.rows[r][c].bytes, std::string(want.bytes.begin(), want.bytes.end()))
                << "row " << r << " column " << c;
        }
    }

    // A PostgreSQL table holds 1,600 columns: a wider one gets neither a
    // script nor a data file that would fail halfway.
    run("SET TARGET POSTGRESQL\n" + unload + ";\n");
    bool fits = t.columns <= 1600;
    EXPECT_EQ(readWhole(std::string(t.name) + "_pg.sql").rfind("<missing", 0) != 0, fits);
    EXPECT_EQ(readWhole(std::string(t.name) + ".csv").rfind("<missing", 0) != 0, fits);
}

INSTANTIATE_TEST_SUITE_P(Tables, WideTableUnload, ::testing::ValuesIn(kWideTables),
                         [](const ::testing::TestParamInfo<WideTable> &info) { return info.param.name; });

// The proposal counts every column, and run as it stands it unloads every
// field of every row.
enum ProposalSource { kSample, kScanTable };
struct ProposalCase {
    const char *label;
    ProposalSource source;
    size_t table;
};

void PrintTo(const ProposalCase &c, std::ostream *os)
{
    *os << c.label;
}

class WideTableProposal : public WideTables, public ::testing::WithParamInterface<ProposalCase> {};

TEST_P(WideTableProposal, CountsEveryColumnAndUnloadsEveryField)
{
    const WideTable &t = kWideTables[GetParam().table];
    // SAMPLE and SCAN need no dictionary.
    ASSERT_NO_FATAL_FAILURE(forgeTable(t, false));
    const forge::ManifestTable &m = *table_;
    std::string objd = std::to_string(t.objectId);
    std::string command;
    if (GetParam().source == kSample)
        command = "SAMPLE OBJECT " + objd + " FILE 4 BLOCK " + std::to_string(m.rows[0].rdba & 0x3FFFFF) +
                  " TO proposal.txt;\n";
    else
        command = "SCAN EXTENT;\nSCAN TABLE TO proposal.txt;\n";
    run(command);
    std::string output = readWhole("proposal.txt");
    std::string head = GetParam().source == kSample ? "UNLOAD OBJECT " + objd + " COLUMN"
                                                    : "UNLOAD OBJECT " + objd + " CLUSTER 0 COLUMN";
    size_t at = output.find(head);
    ASSERT_NE(at, std::string::npos) << output.substr(0, 2000);
    size_t end = output.find(';', at);
    ASSERT_NE(end, std::string::npos);
    std::string proposal = output.substr(at, end + 1 - at);
    EXPECT_NE(output.find((GetParam().source == kSample ? "#// Column Count=" : "## Column Count=") +
                          std::to_string(t.columns)),
              std::string::npos);

    // Words between COLUMN and TO: one type word per column.
    size_t words = 0;
    size_t from = proposal.find("COLUMN") + 6;
    size_t to = proposal.find(" TO ");
    ASSERT_NE(to, std::string::npos);
    bool inWord = false;
    for (size_t i = from; i < to; i++) {
        bool blank = isspace(static_cast<unsigned char>(proposal[i])) != 0;
        if (!blank && !inWord)
            words++;
        inWord = !blank;
    }
    EXPECT_EQ(words, t.columns);

    std::string name = "OBJD" + std::string(10 - objd.size(), '0') + objd + "C000.txt";
    std::string printed = run(proposal + "\n");
    EXPECT_NE(printed.find("Sucessfully unload 2 rows ..."), std::string::npos);
    EXPECT_EQ(fieldsPerRecord(readWhole(name)), (std::vector<size_t>{t.columns, t.columns - 2}));
}

const ProposalCase kProposalCases[] = {
    {"Sample1100", kSample, 0},
    {"Sample4096", kSample, 1},
    {"ScanTable4096", kScanTable, 1},
};

INSTANTIATE_TEST_SUITE_P(Sources, WideTableProposal, ::testing::ValuesIn(kProposalCases),
                         [](const ::testing::TestParamInfo<ProposalCase> &info) { return info.param.label; });

// Without a COLUMN list every column is of unknown type and warns at most
// five times in the unload, whichever piece of a row holds it: the pieces
// after the head are read in a context of their own.
TEST_F(WideTables, UnknownTypesWarnFiveTimesPerColumnAcrossPieces)
{
    const WideTable t = {"T300", 80300, 300, 16};
    ASSERT_NO_FATAL_FAILURE(forgeTable(t, false, 7));
    size_t expected = 0;
    for (size_t c = 0; c < t.columns; c++) {
        size_t values = 0;
        for (const forge::ManifestRow &row : table_->rows)
            values += row.values[c].isNull ? 0 : 1;
        expected += values < 5 ? values : 5;
    }
    std::string printed = run("UNLOAD OBJECT " + std::to_string(t.objectId) + " TO hex.txt;\n");
    EXPECT_NE(printed.find("Sucessfully unload 7 rows ..."), std::string::npos);
    EXPECT_EQ(countOf(printed, "Warnings : UNKNOWN column type "), expected);
    // The head piece holds columns 1 to 45, the next one the rest.
    EXPECT_EQ(countOf(printed, "Warnings : UNKNOWN column type 45 at "), 5u);
    EXPECT_EQ(countOf(printed, "Warnings : UNKNOWN column type 298 at "), 5u);
    EXPECT_EQ(countOf(printed, "Warnings : UNKNOWN column type 291 at "), 1u);
    EXPECT_EQ(countOf(printed, "Warnings : UNKNOWN column type 300 at "), 1u);
}

}  // namespace
