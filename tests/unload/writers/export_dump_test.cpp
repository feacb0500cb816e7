// The export dump writer: the test reader first proves itself on the export
// files Oracle's own exp wrote; then the writer's framing and row bytes are
// held to the layout, and every table of the forge's sample database
// unloaded to a dump is read back and compared with the rows the forge
// stored.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "column_values.h"
#include "block/test_block_builder.h"
#include "export_reader.h"
#include "forge/forge.h"
#include "scan/zor_session.h"
#include "unload/writers/export_dump.h"
#include "unload/rows/row_decode.h"

using namespace testblock;

namespace {

const char *exportFixtureDir()
{
    static const char *roots[] = {ZOR_SOURCE_DIR "/../shared/fixtures/oracle/exp",
                                  "/work/shared/fixtures/oracle/exp"};
    for (const char *root : roots) {
        struct stat st;
        if (stat(root, &st) == 0 && S_ISDIR(st.st_mode))
            return root;
    }
    return nullptr;
}

struct RealFile {
    const char *name;
    const char *version;
    size_t tables;
};

const RealFile kRealFiles[] = {
    {"AGS12345_PRAKTIKUM-BASIS-DATA-EXPDAT.DMP", "11.02.00", 0},
    {"JhilikMitra_chargeback-EXPDAT.DMP", "11.02.00", 6},
    {"freetic_oracle-EXPDAT.DMP", "12.02.00", 3},
    {"freetic_oracle-abc.dmp", "12.02.00", 3},
    {"freetic_oracle-cp_emp3.dmp", "12.02.00", 1},
    {"freetic_oracle-db_201912271502.dmp", "12.02.00", 2},
    {"uohravi_cdbs-EXPDAT.DMP", "08.01.05", 82},
    {"uohravi_cdbs-bakup_bkp0.DMP", "08.01.05", 0},
    {"yumenoshizuku_database-project-EXPDAT.DMP", "10.02.01", 14},
};

const exportfile::Table *findTable(const exportfile::File &file, const std::string &name)
{
    for (const exportfile::Table &t : file.tables) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

std::string hex(const std::string &bytes)
{
    std::string out;
    char two[4];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof two, "%02X", c);
        out += two;
    }
    return out;
}

}  // namespace

TEST(ExportReader, ParsesEveryRealExportFileToItsEnd)
{
    const char *dir = exportFixtureDir();
    if (dir == nullptr)
        GTEST_SKIP() << "no real export files beside the repository";
    for (const RealFile &real : kRealFiles) {
        std::string path = std::string(dir) + "/" + real.name;
        std::vector<uint8_t> bytes = fileBytes(path);
        exportfile::File file;
        EXPECT_TRUE(exportfile::readFile(bytes, &file)) << real.name << ": " << file.error;
        EXPECT_EQ(file.error, "") << real.name;
        EXPECT_EQ(file.version, real.version) << real.name;
        EXPECT_EQ(file.tables.size(), real.tables) << real.name;
        EXPECT_TRUE(file.endsWithExit) << real.name;
        // Oracle pads its files to a multiple of 2048 bytes.
        EXPECT_EQ(bytes.size() % 2048, 0u) << real.name;
        for (const exportfile::Table &t : file.tables) {
            for (const auto &row : t.rows)
                ASSERT_EQ(row.size(), t.columns.size()) << real.name << " " << t.name;
        }
    }
}

TEST(ExportReader, ReadsScottsRowsFromARealFile)
{
    const char *dir = exportFixtureDir();
    if (dir == nullptr)
        GTEST_SKIP() << "no real export files beside the repository";
    exportfile::File file;
    ASSERT_TRUE(
        exportfile::readFile((std::string(dir) + "/freetic_oracle-db_201912271502.dmp").c_str(), &file));
    EXPECT_EQ(file.user, "SCOTT");
    const exportfile::Table *dept = findTable(file, "DEPT");
    const exportfile::Table *emp = findTable(file, "EMP");
    ASSERT_NE(dept, nullptr);
    ASSERT_NE(emp, nullptr);
    ASSERT_EQ(dept->columns.size(), 3u);
    ASSERT_EQ(dept->rows.size(), 4u);
    EXPECT_EQ(hex(dept->rows[0][0].bytes), "C10B");  // 10
    EXPECT_EQ(dept->rows[0][1].bytes, "ACCOUNTING");
    EXPECT_EQ(dept->rows[0][2].bytes, "NEW YORK");
    ASSERT_EQ(emp->columns.size(), 8u);
    ASSERT_EQ(emp->rows.size(), 14u);
    EXPECT_EQ(emp->columns[4].type, 12);
    EXPECT_EQ(hex(emp->rows[0][0].bytes), "C24A46");  // 7369
    EXPECT_EQ(emp->rows[0][1].bytes, "SMITH");
    EXPECT_EQ(hex(emp->rows[0][4].bytes), "77B40C11010101");  // 1980-12-17
    EXPECT_TRUE(emp->rows[0][6].isNull);                      // COMM
    // Oracle writes character descriptors with the column's character set
    // and form, and the INSERT column list with ", ".
    EXPECT_EQ(emp->columns[1].type, 1);
    EXPECT_EQ(emp->columns[1].length, 10);
    EXPECT_EQ(emp->columns[1].charsetForm, 1);
    EXPECT_NE(emp->insertText.find("(\"EMPNO\", \"ENAME\""), std::string::npos);
}

// ---- Framing ----

namespace {

std::string written(void (*write)(FILE *))
{
    Capture c;
    openCapture(&c);
    write(c.stream);
    return closeCapture(&c);
}

}  // namespace

TEST(ExportDumpFraming, HeaderIs2268BytesAndItsNlsBlockStartsAt2048)
{
    Capture c;
    openCapture(&c);
    ASSERT_EQ(printDmpHeader(c.stream, 852, 2000, "ABCD"), 1);
    std::string h = closeCapture(&c);
    ASSERT_EQ(h.size(), kDmpHeaderSize);
    EXPECT_EQ(h.substr(0, 3), std::string("\x03\x03\x54", 3));
    EXPECT_EQ(h.substr(3, 22), "EXPORT:V08.01.07\nUABCD");
    EXPECT_EQ(h.substr(25, 21), "\nRTABLES\n2048\n0\n28\n0\n");
    EXPECT_EQ(h.substr(46, 6), std::string("\x03\x54\x03\x54\x07\xD0", 6));
    // The file name's length word holds the length of the name written.
    EXPECT_EQ(h[25 + 38], 9);
    EXPECT_EQ(h.substr(25 + 101, 9), "kelpo.dmp");
    // 1905 zero bytes of padding for a 4-character owner.
    EXPECT_EQ(h.substr(25 + 118, 1905), std::string(1905, '\0'));
    EXPECT_EQ(static_cast<uint8_t>(h[2048]), 0x64);
    // The database and national character sets inside the NLS block, where
    // Oracle's own files carry them.
    EXPECT_EQ(h.substr(2048 + 56, 6), std::string("\x83\x03\x54\x07\xD0\x03", 6));
    EXPECT_EQ(h.substr(2048 + 102 + 56, 6), std::string("\x83\x03\x54\x07\xD0\x03", 6));
    EXPECT_EQ(h.substr(2268 - 16), std::string("\x06\x00+00:00\x05\x00"
                                               "8.1.6\n",
                                               16));
}

TEST(ExportDumpFraming, AnOwnerTooLongForTheHeaderWritesNothing)
{
    std::string owner(kDmpMaxOwnerLength + 1, 'A');
    Capture c;
    openCapture(&c);
    testing::internal::CaptureStdout();
    EXPECT_EQ(printDmpHeader(c.stream, 1, 2000, owner.c_str()), 0);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(closeCapture(&c), "");
    EXPECT_NE(said.find("Owner name too long"), std::string::npos);
    openCapture(&c);
    EXPECT_EQ(printDmpHeader(c.stream, 1, 2000, std::string(kDmpMaxOwnerLength, 'A').c_str()), 1);
    EXPECT_EQ(closeCapture(&c).size(), kDmpHeaderSize);
}

TEST(ExportDumpFraming, TableLineDescriptorsAndTail)
{
    Capture c;
    openCapture(&c);
    printDmpTable(c.stream, "A\tB\r\nC");
    EXPECT_EQ(closeCapture(&c), "TABLE \"A B  C\"\n");

    openCapture(&c);
    printDmpColumns(c.stream, 6);
    printDmpDatatype(c.stream, 112, 4000, 873, 2);  // CLOB: LONG of 16384
    printDmpDatatype(c.stream, 113, 4000, 0, 0);    // BLOB: LONG RAW
    printDmpDatatype(c.stream, 8, 0, 873, 1);
    printDmpDatatype(c.stream, 1, 10, 873, 1);
    printDmpDatatype(c.stream, 2, 22, 0, 0);
    printDmpDatatype(c.stream, 96, 5, 31, 2);
    EXPECT_EQ(hex(closeCapture(&c)),
              "0600"
              "08000040"
              "18000040"
              "08000040"
              "01000A0069030100"
              "02001600"
              "600005001F000200");

    EXPECT_EQ(written(printDmpDataBegin), std::string(4, '\0'));
    EXPECT_EQ(hex(written(printDmpDataEnd)), "FFFF0A");
    // The tail pads the file to a multiple of 2048 bytes, as Oracle's do.
    openCapture(&c);
    fputs("xyz", c.stream);
    printDmpTail(c.stream);
    std::string tail = closeCapture(&c);
    EXPECT_EQ(tail.size(), 2048u);
    EXPECT_EQ(tail.substr(3, 10), "EXIT\nEXIT\n");
    EXPECT_EQ(tail.substr(13), std::string(2048 - 13, '\0'));
}

TEST(ExportDumpFraming, ElementsAndTheLongestElement)
{
    Capture c;
    openCapture(&c);
    const uint8_t ab[] = {'A', 'B'};
    printDmpValue(c.stream, ab, 2);
    printDmpValue(c.stream, ab, 0);
    printDmpNull(c.stream);
    printDmpChain(c.stream);
    printDmpRecord(c.stream);
    EXPECT_EQ(hex(closeCapture(&c)),
              "02004142"
              "FEFF"
              "FEFF"
              "FDFF"
              "0000");

    // FD FF, FE FF and FF FF are markers: a value element is at most 65532
    // bytes, and a longer one is cut rather than written as a marker.
    std::vector<uint8_t> big(70000, 'x');
    openCapture(&c);
    testing::internal::CaptureStderr();
    printDmpValue(c.stream, big.data(), static_cast<uint32_t>(big.size()));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cut"), std::string::npos);
    std::string out = closeCapture(&c);
    ASSERT_EQ(out.size(), 2u + kDmpMaxElement);
    EXPECT_EQ(hex(out.substr(0, 2)), "FCFF");
}

// ---- Rows ----

namespace {

// A block with one row per piece given, table 0, in both byte orders.
std::vector<uint8_t> dataBlock(const std::vector<forge::RowPiece> &rows, uint8_t order,
                               uint32_t rdba = 0x01000064)
{
    forge::DataBlockLayout layout;
    forge::initDataBlockLayout(&layout, rdba, 5000);
    layout.rows = rows;
    return forgedDataBlock(layout, order).bytes;
}

forge::RowPiece row(const std::vector<forge::ColumnValue> &columns, uint8_t flag = forge::kRowNormal)
{
    forge::RowPiece piece;
    forge::initRowPiece(&piece);
    piece.flag = flag;
    piece.columns = columns;
    return piece;
}

// The dump rows of the block, for a table of the given column types.
std::string dumpRows(std::vector<uint8_t> &image, uint8_t order, const std::vector<uint8_t> &types,
                     uint8_t deleted = 0)
{
    auto ctx = makeContext(image, order);
    ctx->rowLimit = kNoRowLimit;
    ctx->columnCount = static_cast<uint16_t>(types.size());
    for (size_t i = 0; i < types.size(); i++)
        ctx->columnTypes[i] = types[i];
    Capture c;
    openCapture(&c);
    dumpDataRows2(c.stream, ctx.get(), 0, deleted, 0);
    endDmpRows(ctx.get());
    return hex(closeCapture(&c));
}

}  // namespace

TEST(ExportDumpRows, ValuesNullPaddingAndRowEnds)
{
    for (uint8_t order : {kLittle, kBig}) {
        std::vector<uint8_t> two = dataBlock({row({numberValue(1), textValue("AB")})}, order);
        EXPECT_EQ(dumpRows(two, order, {2, 1}),
                  "0200C102"
                  "02004142"
                  "0000");
        // Trailing NULLs the block does not store are written.
        std::vector<uint8_t> one = dataBlock({row({numberValue(1)})}, order);
        EXPECT_EQ(dumpRows(one, order, {2, 1, 1}),
                  "0200C102"
                  "FEFF"
                  "FEFF"
                  "0000");
        // A row that stores more columns than the table has (a damaged
        // block, or the wrong table) writes no element for the extra ones.
        std::vector<uint8_t> wide = dataBlock({row({numberValue(1), textValue("A"), textValue("B")})}, order);
        EXPECT_EQ(dumpRows(wide, order, {2, 1}),
                  "0200C102"
                  "010041"
                  "0000");
        // A deleted row only with DELETED_ROW.
        std::vector<uint8_t> gone =
            dataBlock({row({numberValue(1)}, forge::kRowNormal | forge::kRowDeleted)}, order);
        EXPECT_EQ(dumpRows(gone, order, {2}), "");
        EXPECT_EQ(dumpRows(gone, order, {2}, 1),
                  "0200C102"
                  "0000");
    }
}

TEST(ExportDumpRows, LongValuesAreChunkChainsAndANullLongIsAPlainNull)
{
    std::vector<uint8_t> image = dataBlock(
        {row({numberValue(1), textValue("XYZ")}), row({numberValue(2), nullValue(), numberValue(3)})},
        kLittle);
    EXPECT_EQ(dumpRows(image, kLittle, {2, 8, 2}),
              "0200C102"
              "FDFF"
              "030058595A"
              "0000"
              "FEFF"
              "0000"
              "0200C103"
              "FEFF"
              "0200C104"
              "0000");
}

// ---- The sample database through UNLOAD ----

namespace {

class DumpSample : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        forge(nullptr);
    }
};

}  // namespace

TEST_F(DumpSample, EveryTableReadsBackWithTheStoredValues)
{
    std::string commands = "UNLOAD TABLE DICT$;\n";
    std::vector<const forge::ManifestTable *> tables;
    for (const forge::ManifestTable &t : manifest_.tables) {
        if (t.owner.empty() || !t.partition.empty() || t.drop != forge::kSchemaLive || t.truncated)
            continue;
        bool seen = false;
        for (const forge::ManifestTable *other : tables)
            seen = seen || other->name == t.name;
        if (seen)
            continue;
        tables.push_back(&t);
        commands +=
            "UNLOAD TABLE " + t.owner + "." + t.name + " TO t" + std::to_string(tables.size()) + ".dmp;\n";
    }
    ASSERT_FALSE(tables.empty());
    run(commands);
    for (size_t k = 0; k < tables.size(); k++) {
        const forge::ManifestTable &t = *tables[k];
        std::string path = "t" + std::to_string(k + 1) + ".dmp";
        std::vector<uint8_t> bytes = fileBytes(path);
        exportfile::File file;
        ASSERT_TRUE(exportfile::readFile(bytes, &file)) << t.name << ": " << file.error;
        EXPECT_EQ(file.error, "") << t.name;
        EXPECT_TRUE(file.endsWithExit) << t.name;
        EXPECT_EQ(bytes.size() % 2048, 0u) << t.name;
        EXPECT_EQ(file.user, t.owner);
        ASSERT_EQ(file.tables.size(), 1u) << t.name;
        const exportfile::Table &read = file.tables[0];
        EXPECT_EQ(read.name, t.name);
        ASSERT_EQ(read.columns.size(), t.columns.size()) << t.name;
        std::vector<const forge::ManifestRow *> live;
        for (const forge::ManifestRow &r : t.rows) {
            if (!r.deleted)
                live.push_back(&r);
        }
        ASSERT_EQ(read.rows.size(), live.size()) << t.name;
        for (size_t i = 0; i < live.size(); i++) {
            for (size_t col = 0; col < t.columns.size(); col++) {
                const exportfile::Value &got = read.rows[i][col];
                const forge::FieldValue &want = live[i]->values[col];
                // A LOB's manifest bytes are its locator; the dump holds the
                // LOB's pages, which the LOB writer's own tests compare.
                int type = t.columns[col].type;
                if (type == forge::kColumnClob || type == forge::kColumnBlob || type == forge::kColumnNclob) {
                    if (want.isNull) {
                        EXPECT_TRUE(got.isNull) << t.name << " row " << i << " col " << col;
                    }
                    continue;
                }
                ASSERT_EQ(got.isNull, want.isNull || want.bytes.empty())
                    << t.name << " row " << i << " col " << col;
                EXPECT_EQ(got.bytes, std::string(want.bytes.begin(), want.bytes.end()))
                    << t.name << " row " << i << " column " << col;
            }
        }
    }
}

TEST_F(DumpSample, OutputStyleDmpWithoutANameWritesZordataAndNoLoaderFiles)
{
    std::string said = run("UNLOAD TABLE DICT$;\nSET OUTPUT_STYLE DMP\nUNLOAD TABLE SCOTT.DEPT;\n");
    EXPECT_NE(said.find("Sucessfully unload 4 rows"), std::string::npos);
    exportfile::File file;
    ASSERT_TRUE(exportfile::readFile("zordata.dmp", &file)) << file.error;
    ASSERT_EQ(file.tables.size(), 1u);
    EXPECT_EQ(file.tables[0].rows.size(), 4u);
    struct stat st;
    EXPECT_NE(stat("DEPT_sqlldr.ctl", &st), 0);
    EXPECT_NE(stat("DEPT_syntax.sql", &st), 0);
    // A name that does not end in .DMP means text, whatever OUTPUT_STYLE says.
    run("SET OUTPUT_STYLE DMP\nUNLOAD TABLE SCOTT.DEPT TO dept.out;\n");
    std::vector<uint8_t> text = fileBytes("dept.out");
    EXPECT_EQ(std::string(text.begin(), text.end()).substr(0, 24), "10|ACCOUNTING|NEW YORK\r\n");
}

// Damaged pieces may claim to continue a value that was finished (P without
// N before it) or fail to continue one that was carried (N, then no P):
// every row still gets one element per column, in order.
TEST(ExportDumpRows, PiecesThatDisagreeAboutASplitValueKeepTheRowInStep)
{
    std::vector<uint8_t> image(8192);
    auto ctx = makeContext(image, kLittle);
    ctx->columnCount = 4;
    for (int i = 0; i < 4; i++)
        ctx->columnTypes[i] = 1;
    const uint8_t a[] = {'a'}, b[] = {'b'}, c[] = {'c'};
    Capture out;
    openCapture(&out);
    TextSink *sink = new TextSink;
    initTextSink(sink, out.stream);
    startDmpRow(ctx.get());
    dumpColumnValue(sink, ctx.get(), 0, a, 1, false);
    dumpColumnValue(sink, ctx.get(), 1, b, 1, true);   // carried ...
    dumpColumnValue(sink, ctx.get(), 2, c, 1, false);  // ... but never continued
    dumpColumnValue(sink, ctx.get(), 2, c, 1, false);  // a piece repeating column 2
    closeDmpRow(sink, ctx.get(), 0);
    startDmpRow(ctx.get());
    dumpColumnValue(sink, ctx.get(), 2, c, 1, false);  // columns 0 and 1 lost
    closeDmpRow(sink, ctx.get(), 3);
    flushTextSink(sink);
    delete sink;
    endDmpRows(ctx.get());
    EXPECT_EQ(hex(closeCapture(&out)),
              "010061"
              "010062"
              "010063"
              "FEFF"
              "0000"
              "FEFF"
              "FEFF"
              "010063"
              "FEFF"
              "0000");
}

// A row cut short by MAXCHAINS still gets all its columns (NULLs), its
// open LONG chain closed and its row end: the dump parses to its end.
TEST_F(DumpSample, MaxChainsEndsChainedRowsInStep)
{
    std::string said = run("UNLOAD TABLE DICT$;\nSET MAXCHAINS 1\nUNLOAD TABLE SCOTT.NOTES TO notes.dmp;\n");
    EXPECT_NE(said.find("Max chained block reached"), std::string::npos) << said;
    exportfile::File file;
    ASSERT_TRUE(exportfile::readFile("notes.dmp", &file)) << file.error;
    ASSERT_EQ(file.tables.size(), 1u);
    const exportfile::Table &notes = file.tables[0];
    ASSERT_EQ(notes.rows.size(), 4u);
    // Row 3: a LONG of 20,000 bytes over more than two blocks, then AUTHOR.
    EXPECT_TRUE(notes.rows[2][1].isLong);
    EXPECT_GT(notes.rows[2][1].bytes.size(), 0u);
    EXPECT_LT(notes.rows[2][1].bytes.size(), 20000u);
    EXPECT_TRUE(notes.rows[2][2].isNull);
    EXPECT_EQ(notes.rows[3][0].bytes, std::string("\xC1\x05", 2));
}
