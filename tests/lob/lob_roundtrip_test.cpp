// Every LOB of the sample database's SCOTT.LOBS comes out exactly: through
// the LOB index and the locator's chunks after UNLOAD TABLE DICT$, through
// the scanned LOB map (serial and parallel) and through UNLOAD OBJECT with no
// dictionary; in line, one file per value, or not at all; converted to UTF-8
// and GBK.
#include <algorithm>
#include <iconv.h>
#include <sstream>
#include <vector>

#include "lob_test_env.h"

namespace {

constexpr uint32_t kPage = 8192 - 60;
constexpr size_t kLobColumns[] = {1, 2, 3};   // DOC, NDOC, IMG

class SampleLobs : public ForgedDatabase {
protected:
    void SetUp() override { forge(nullptr); }

    const forge::ManifestTable &lobs()
    {
        const forge::ManifestTable *t = table("LOBS");
        EXPECT_NE(t, nullptr);
        return *t;
    }

    // The lines of an unload file written with LOB_STORAGE FILE: the LOB
    // file of each value (or an empty name).
    std::vector<std::vector<std::string>> fileColumns(const char *unloadFile)
    {
        std::vector<std::vector<std::string>> rows;
        std::istringstream in(readWhole(unloadFile));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::vector<std::string> fields;
            std::string field;
            std::istringstream cells(line);
            while (std::getline(cells, field, '|'))
                fields.push_back(field);
            rows.push_back(fields);
        }
        return rows;
    }

    // Compares every LOB file with the stored content; `padded` for values
    // without a size header read through the map (whole pages).
    void expectLobFiles(const char *unloadFile, bool mapPath)
    {
        std::vector<std::vector<std::string>> rows = fileColumns(unloadFile);
        const forge::ManifestTable &t = lobs();
        ASSERT_EQ(rows.size(), t.rows.size());
        for (size_t r = 0; r < rows.size(); r++) {
            for (size_t c : kLobColumns) {
                const forge::FieldValue &v = t.rows[r].values[c];
                std::string want = v.isNull ? "" : v.text;
                if (mapPath && (v.lobForm & forge::kLobFormNoSize) && want.size() % kPage != 0)
                    want.resize((want.size() / kPage + 1) * kPage, '\0');
                std::string name = c < rows[r].size() ? rows[r][c] : "";
                if (want.empty()) {
                    EXPECT_EQ(name, "") << "row " << r << " column " << c;
                    continue;
                }
                ASSERT_FALSE(name.empty()) << "row " << r << " column " << c;
                std::string got = readWhole(name);
                EXPECT_EQ(got.size(), want.size()) << "row " << r << " column " << c;
                EXPECT_TRUE(got == want) << "row " << r << " column " << c;
            }
        }
    }

    std::string expectedInline(const char *tag, bool lobsEmpty)
    {
        std::string all;
        for (const forge::ManifestRow &row : lobs().rows) {
            forge::ManifestRow copy = row;
            for (size_t c : kLobColumns) {
                forge::FieldValue &v = copy.values[c];
                if (lobsEmpty)
                    v.text.clear();
                else if (tag != nullptr && !v.isNull)
                    v.text = std::string("<") + tag + ">" + v.text + "</" + tag + ">";
            }
            all += forge::manifestRecord(&copy, "|", "\r\n");
        }
        return all;
    }
};

TEST_F(SampleLobs, ThroughTheIndexAndTheLocatorChunksIntoFiles)
{
    run("UNLOAD TABLE DICT$;\nSET LOB_STORAGE 1;\nUNLOAD TABLE SCOTT.LOBS TO lobs.txt;\n");
    expectLobFiles("lobs.txt", false);
}

TEST_F(SampleLobs, InlineWithAndWithoutTagAndNone)
{
    run("UNLOAD TABLE DICT$;\nUNLOAD TABLE SCOTT.LOBS TO plain.txt;\n"
        "SET LONG_TAG DOC;\nUNLOAD TABLE SCOTT.LOBS TO tagged.txt;\n"
        "SET LOB_STORAGE 2;\nUNLOAD TABLE SCOTT.LOBS TO none.txt;\n");
    EXPECT_TRUE(readWhole("plain.txt") == expectedInline(nullptr, false));
    EXPECT_TRUE(readWhole("tagged.txt") == expectedInline("DOC", false));
    EXPECT_EQ(readWhole("none.txt"), expectedInline(nullptr, true));
}

TEST_F(SampleLobs, ThroughTheScannedMapSerialAndParallel)
{
    run("UNLOAD TABLE DICT$;\nSCAN LOB;\nSET LOB_STORAGE 1;\nUNLOAD TABLE SCOTT.LOBS TO serial.txt;\n");
    std::string serial = readWhole("ZORDICT/ZORLOB.TXT");
    expectLobFiles("serial.txt", true);
    run("SCAN PARALLELLOB;\nSET LOB_STORAGE 1;\nUNLOAD TABLE SCOTT.LOBS TO parallel.txt;\n");
    std::string parallel = readWhole("ZORDICT/ZORLOB.TXT");
    expectLobFiles("parallel.txt", true);
    std::vector<std::string> a, b;
    std::istringstream sa(serial), sb(parallel);
    for (std::string l; std::getline(sa, l);) a.push_back(l);
    for (std::string l; std::getline(sb, l);) b.push_back(l);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, b);
}

TEST_F(SampleLobs, ScanLobFileFilter)
{
    run("SCAN LOB;\n");
    std::string all = readWhole("ZORDICT/ZORLOB.TXT");
    run("SCAN LOB FILE 4;\n");
    EXPECT_EQ(readWhole("ZORDICT/ZORLOB.TXT"), "");
    run("SCAN LOB OBJECT 1 FILE 5;\n");
    EXPECT_EQ(readWhole("ZORDICT/ZORLOB.TXT"), all);
    // 3 LOB segments: in-row values have no pages, the rest one line a block.
    EXPECT_NE(all.find("73261,00000001000000001e3e,0,1,5,"), std::string::npos);   // the older page 0
    EXPECT_NE(all.find("73261,00000001000000001e3e,0,2,5,"), std::string::npos);
}

TEST_F(SampleLobs, WithoutDictionaryThroughTheMap)
{
    run("SCAN LOB;\nSET LOB_STORAGE 1;\nUNLOAD OBJECT 73260 FILE 5 BLOCK 8 COLUMN NUMBER CLOB NCLOB BLOB TO obj.txt;\n");
    expectLobFiles("obj.txt", true);
}

TEST_F(SampleLobs, MissingBucketFileReadsTheWholeMap)
{
    run("SCAN LOB;\n");
    for (int b = 0; b < 100; b++) {
        char name[64];
        snprintf(name, sizeof name, "ZORDICT/ZORLOBMAP%02d.TXT", b);
        unlink(name);
    }
    run("UNLOAD TABLE DICT$;\nSET LOB_STORAGE 1;\nUNLOAD TABLE SCOTT.LOBS TO whole.txt;\n");
    expectLobFiles("whole.txt", true);
}

std::string convert(const std::string &utf16be, const char *to)
{
    iconv_t cd = iconv_open(to, "UTF-16BE");
    std::string out(utf16be.size() * 2 + 16, '\0');
    char *in = const_cast<char *>(utf16be.data());
    size_t inLeft = utf16be.size(), outLeft = out.size();
    char *o = &out[0];
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

TEST_F(SampleLobs, ThroughTheIconvHandleOfClobsOnly)
{
    run("UNLOAD TABLE DICT$;\nSET LOB_STORAGE 1;\nSET ICONV_CLOB UTF-16BE UTF-8\n"
        "UNLOAD TABLE SCOTT.LOBS TO iconv.txt;\n");
    std::vector<std::vector<std::string>> rows = fileColumns("iconv.txt");
    const forge::ManifestTable &t = lobs();
    ASSERT_EQ(rows.size(), t.rows.size());
    for (size_t r = 0; r < 4; r++) {
        EXPECT_TRUE(readWhole(rows[r][1]) == convert(t.rows[r].values[1].text, "UTF-8")) << r;
        EXPECT_TRUE(readWhole(rows[r][2]) == t.rows[r].values[2].text) << r;
    }
}

TEST_F(SampleLobs, ConvertedToUtf8AndGbk)
{
    run("UNLOAD TABLE DICT$;\nSET LOB_STORAGE 1;\nSET CLOB_EDIAN BIG;\nSET LOB_CONVERT 2;\n"
        "UNLOAD TABLE SCOTT.LOBS TO utf8.txt;\n");
    std::vector<std::vector<std::string>> utf8 = fileColumns("utf8.txt");
    const forge::ManifestTable &t = lobs();
    ASSERT_EQ(utf8.size(), t.rows.size());
    for (size_t r = 0; r < utf8.size(); r++) {
        for (size_t c : {size_t(1), size_t(2)}) {
            if (!t.rows[r].values[c].isNull && !t.rows[r].values[c].text.empty()) {
                EXPECT_TRUE(readWhole(utf8[r][c]) == convert(t.rows[r].values[c].text, "UTF-8")) << r << c;
            }
        }
    }
    run("UNLOAD TABLE DICT$;\nSET LOB_STORAGE 1;\nSET CLOB_EDIAN BIG;\nSET LOB_CONVERT 1;\n"
        "UNLOAD TABLE SCOTT.LOBS TO gbk.txt;\n");
    std::vector<std::vector<std::string>> gbk = fileColumns("gbk.txt");
    ASSERT_EQ(gbk.size(), t.rows.size());
    EXPECT_EQ(readWhole(gbk[0][2]), "Gr\xA8\xB9?? \xC8\xD5");   // no ß in GBK
    for (size_t r = 1; r < gbk.size(); r++) {
        if (!t.rows[r].values[1].isNull && !t.rows[r].values[1].text.empty()) {
            EXPECT_TRUE(readWhole(gbk[r][1]) == convert(t.rows[r].values[1].text, "CP936")) << r;
        }
    }
}

}  // namespace
