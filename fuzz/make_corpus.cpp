// Writes the seed corpora of the fuzz targets under fuzz/corpus/<target>/:
// blocks sliced from the forged fixture database (2 KB blocks, both byte
// orders), values from the forge's encoders, the fixture's dictionary and
// configuration lines, ROWIDs, SET escapes, and the transcript scripts that
// the shell target accepts.  Deterministic; run it from the source tree:
//   build-fuzz/make_corpus [SOURCE_DIR]
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "forge/forge.h"
#include "fuzz_fixture.h"
#include "unload/rowid.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::string g_root;   // fuzz/corpus

void makeDirectory(const std::string &path) { mkdir(path.c_str(), 0755); }

void writeSeed(const char *target, const std::string &name, const Bytes &bytes)
{
    std::string dir = g_root + "/" + target;
    makeDirectory(dir);
    std::string path = dir + "/" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        perror(path.c_str());
        exit(1);
    }
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

Bytes textBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes readWhole(const std::string &path)
{
    Bytes out;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

bool allZero(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] != 0)
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Blocks of the fixture, forged at 2 KB in each byte order.
constexpr uint32_t kSeedBlockSize = 2048;

void blockSeeds(uint8_t order)
{
    char dir[] = "/tmp/zor-corpus-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        exit(1);
    std::string text = std::string("blocksize 2048\nbyteorder ") + (order ? "big" : "little") + "\n" +
                       fixtureDescription();
    char error[512] = "";
    if (!forge::forgeFromText(text.c_str(), dir, error, sizeof error)) {
        fprintf(stderr, "make_corpus: forge: %s\n", error);
        exit(1);
    }
    const char *const files[] = {"users01.dbf", "users02.dbf"};
    const char *orderName = order ? "be" : "le";
    for (const char *file : files) {
        Bytes image = readWhole(std::string(dir) + "/" + file);
        for (size_t b = 0; (b + 1) * kSeedBlockSize <= image.size(); b++) {
            const uint8_t *block = image.data() + b * kSeedBlockSize;
            if (allZero(block, kSeedBlockSize))
                continue;
            char name[96];
            snprintf(name, sizeof name, "%s-%.7s-%zu-type%u", orderName, file, b, block[0]);
            Bytes fields = {order, 1};
            fields.insert(fields.end(), block, block + kSeedBlockSize);
            writeSeed("block_fields_fuzz", name, fields);
            if (block[0] != 6)
                continue;
            // Data blocks: the first rows of each table the block can hold.
            for (uint8_t table = 0; table < 3; table++) {
                Bytes rows = {order, table, 0, 0};
                rows.insert(rows.end(), block, block + kSeedBlockSize);
                char rowName[112];
                snprintf(rowName, sizeof rowName, "%s-t%u", name, table);
                writeSeed("row_decode_fuzz", rowName, rows);
            }
        }
        unlink((std::string(dir) + "/" + file).c_str());
    }
    unlink((std::string(dir) + "/db.cfg").c_str());
    rmdir(dir);
}

// ---------------------------------------------------------------------------
// Values: prefix type, charset form / converter, slack and byte order,
// NUMBER output size.
void valueSeed(const char *name, uint8_t type, uint8_t form, const Bytes &value)
{
    Bytes seed = {type, form, 3, 64};
    seed.insert(seed.end(), value.begin(), value.end());
    writeSeed("value_format_fuzz", name, seed);
}

void valueSeeds()
{
    const char *const numbers[] = {"0", "1", "-1", "7369", "-1234.5", "0.001", "1.5e-30",
                                   "99999999999999999999999999999999999999", "-0.3333333333333333333333333333333333333333"};
    int i = 0;
    for (const char *n : numbers) {
        Bytes bytes;
        if (!forge::encodeNumberText(n, &bytes))
            continue;
        char name[32];
        snprintf(name, sizeof name, "number-%d", i++);
        valueSeed(name, 2, 0, bytes);
    }
    forge::DateTime t;
    forge::parseDateTime("1980-12-17 10:11:12.123456789 +05:30", &t);
    Bytes date, ts, tstz;
    forge::encodeDate(&t, &date);
    forge::encodeTimestamp(&t, true, &ts);
    forge::encodeTimestampTz(&t, &tstz);
    valueSeed("date", 12, 0, date);
    valueSeed("timestamp", 180, 0, ts);
    valueSeed("timestamptz", 181, 0, tstz);
    valueSeed("timestampltz", 231, 0, ts);
    valueSeed("float", 100, 0, forge::encodeBinaryFloat(-2.5f));
    valueSeed("double", 101, 0, forge::encodeBinaryDouble(1e300));
    valueSeed("varchar2", 1, 1, textBytes("SMITH"));
    valueSeed("char", 96, 1, textBytes("AB  "));
    valueSeed("raw", 23, 0, Bytes{0x00, 0x7F, 0xFF});
    valueSeed("nvarchar-utf16", 1, 2 | (1 << 2), Bytes{0x00, 0x41, 0x4E, 0x2D, 0xD8, 0x3D});
    valueSeed("nchar-gbk", 254, 2 | (2 << 2), Bytes{0xC4, 0xE3, 0xBA, 0xC3, 0x41});
    // Collections: a 37-byte image header, then elements with row lengths.
    Bytes numbersArray(37, 0);
    numbersArray[1] = 1;
    Bytes one = forge::encodeNumber(42);
    numbersArray.push_back((uint8_t)one.size());
    numbersArray.insert(numbersArray.end(), one.begin(), one.end());
    numbersArray.push_back(0xFF);
    valueSeed("number-array", 108, 0, numbersArray);
    valueSeed("char-array", 109, 0, Bytes{2, 'h', 'i', 0xFF, 0xFE, 0, 1, 'x'});
    valueSeed("unknown", 253, 0, Bytes{1, 2, 3});
}

// ---------------------------------------------------------------------------
void dictionarySeeds()
{
    int count;
    const FixtureFile *files = fixtureDictionary(&count);
    for (int i = 0; i < count; i++) {
        const char *slash = strrchr(files[i].name, '/');
        writeSeed("dictionary_line_fuzz", slash + 1, textBytes(files[i].text));
    }
    writeSeed("dictionary_line_fuzz", "ZOREXT.TXT", textBytes("7001,4,11,2\n7001,5,20,2\r\n9100,5,2,6\n"));
    writeSeed("dictionary_line_fuzz", "edge-lines",
              textBytes("1,\n,SYS\n99999999999999999999999,X\n-1,-2,N,,2,ABC\n\n\r\n  54 , SCOTT \n"));
}

void configSeeds()
{
    writeSeed("config_fuzz", "plain", textBytes("users01.dbf\nusers02.dbf\n"));
    writeSeed("config_fuzz", "headers", textBytes("  raw1.dbf 8192\n# comment\n\n+256\n+12 0\nx.dbf\t65536\r\n"));
}

void rowidSeeds()
{
    char rowid[kRowidLength + 1];
    encodeRowid(74682, 0x0100000b, 3, rowid);
    rowid[kRowidLength] = '\0';
    writeSeed("rowid_fuzz", "valid", textBytes(rowid));
    writeSeed("rowid_fuzz", "short", textBytes("AAASO6AAEAAAACXAA"));
    Bytes parts = {0xBA, 0x23, 0x01, 0x00, 0x0B, 0x00, 0x00, 0x01, 0x03, 0x00};
    writeSeed("rowid_fuzz", "parts", parts);
}

void convertSeeds()
{
    writeSeed("convert_option_fuzz", "escapes", textBytes("\x80" "a\\tb\\nc\\x41\\x4\\x\\\\\\"));
    writeSeed("convert_option_fuzz", "short-limit", textBytes("\x0b" "\\r\\n|\\x7C"));
}

// ---------------------------------------------------------------------------
// Scripts: the transcript cases' inputs the shell target accepts, and a few
// written for the fixture.
bool shellAccepts(const Bytes &s)
{
    std::string text(s.begin(), s.end());
    if (text.find_first_of("!@/") != std::string::npos)
        return false;
    std::string upper;
    for (char c : text)
        upper += (char)toupper((unsigned char)c);
    for (const char *word : {"..", "HOST", "PARALLEL", "DATABASE"})
        if (upper.find(word) != std::string::npos)
            return false;
    return true;
}

void shellSeeds(const std::string &source)
{
    std::string cases = source + "/tests/e2e/cases";
    DIR *dir = opendir(cases.c_str());
    std::set<std::string> names;
    if (dir != nullptr) {
        struct dirent *entry;
        while ((entry = readdir(dir)) != nullptr)
            if (entry->d_name[0] != '.')
                names.insert(entry->d_name);
        closedir(dir);
    }
    for (const std::string &name : names) {
        Bytes script = readWhole(cases + "/" + name + "/stdin");
        if (script.empty() || script.size() > 4096 || !shellAccepts(script))
            continue;
        writeSeed("shell_fuzz", "case-" + name, script);
    }
    writeSeed("shell_fuzz", "fixture-unload",
              textBytes("OPEN db.cfg\nCHECK\nSET FIELD_TAG ,\nUNLOAD OBJECT 7001 COLUMN NUMBER VARCHAR2 NUMBER;\n"
                        "UNLOAD OBJECT 9003 COLUMN CHAR VARCHAR2 NUMBER;\n"
                        "UNLOAD OBJECT 8001 CLUSTER 1 COLUMN NUMBER NUMBER VARCHAR2;\n"
                        "UNLOAD OBJECT 9100 COLUMN NUMBER VARCHAR2 DATE BINARY_DOUBLE TO t.txt;\nEXIT\n"));
    writeSeed("shell_fuzz", "fixture-dictionary",
              textBytes("OPEN db.cfg\nLIST USER\nLIST TABLE SCOTT\nDESC SCOTT.T\nDESC SCOTT.EMP\n"
                        "UNLOAD TABLE SCOTT.EMP;\nSCAN EXTENT;\nUNLOAD TABLE SCOTT.T;\nEXIT\n"));
    writeSeed("shell_fuzz", "fixture-blocks",
              textBytes("OPEN db.cfg\nORADUMP FILE 4 BLOCK 11\nOSDUMP FILE 4 BLOCK 10\nBCHECK FILE 5 BLOCK 20\n"
                        "SCAN HEADER;\nSCAN DATA BLOCKS 2;\nSCAN BLOCK;\nROWID CREATE OBJECT 7001 FILE 4 BLOCK 11 SLOT 2\n"
                        "CORRUPT FILE 4 BLOCK 12\nSKIP RDBA 0x01400014\nSET BYTE_ORDER BIG\n"
                        "UNLOAD OBJECT 7001 COLUMN NUMBER;\nEXIT\n"));
}

}  // namespace

int main(int argc, char **argv)
{
    std::string source = argc > 1 ? argv[1] : ".";
    g_root = source + "/fuzz/corpus";
    makeDirectory(source + "/fuzz");
    makeDirectory(g_root);
    blockSeeds(0);
    blockSeeds(1);
    valueSeeds();
    dictionarySeeds();
    configSeeds();
    rowidSeeds();
    convertSeeds();
    shellSeeds(source);
    return 0;
}
