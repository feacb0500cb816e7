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

#include "forge/asm_image.h"
#include "forge/forge.h"
#include "forge/forge_undo_index.h"
#include "fuzz_fixture.h"
#include "unload/rows/rowid.h"

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

void removeDirectory(const std::string &dir)
{
    std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0)
        fprintf(stderr, "cannot remove %s\n", dir.c_str());
}

// The named files the forge writes for `text`, read back from a scratch
// directory that goes again; exits when the forge refuses the text.
std::vector<Bytes> forgedFiles(const char *text, const std::vector<std::string> &names,
                               forge::Manifest *manifest = nullptr)
{
    char dir[] = "/tmp/zor-corpus-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        exit(1);
    char error[512] = "";
    if (!forge::forgeFromTextWithManifest(text, dir, manifest, error, sizeof error)) {
        fprintf(stderr, "make_corpus: forge: %s\n", error);
        exit(1);
    }
    std::vector<Bytes> images;
    for (const std::string &name : names)
        images.push_back(readWhole(std::string(dir) + "/" + name));
    removeDirectory(dir);
    return images;
}

bool allZero(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] != 0)
            return false;
    return true;
}

// Seed blocks are 2 KB: small files, and every layout still fits.
constexpr uint32_t kSeedBlockSize = 2048;

// ---------------------------------------------------------------------------
// One block for every target that takes a block: the field readers, the
// dumps, and (table and index blocks) the row mappers with tables 0 to 2.
void blockSeed(const std::string &name, uint8_t order, const Bytes &block)
{
    Bytes fields = {order, 1};
    fields.insert(fields.end(), block.begin(), block.end());
    writeSeed("block_fields_fuzz", name, fields);
    Bytes dump = {order, 0, 1};
    dump.insert(dump.end(), block.begin(), block.end());
    writeSeed("block_dump_fuzz", name, dump);
    if (block[0] != 6)
        return;
    for (uint8_t table = 0; table < 3; table++) {
        Bytes rows = {order, table, 0, 0};
        rows.insert(rows.end(), block.begin(), block.end());
        writeSeed("row_decode_fuzz", name + "-t" + std::to_string(table), rows);
    }
    Bytes entries = {order, 4};
    entries.insert(entries.end(), block.begin(), block.end());
    writeSeed("index_rows_fuzz", name, entries);
}

forge::ColumnValue columnOf(const Bytes &bytes)
{
    forge::ColumnValue value;
    value.isNull = false;
    value.bytes = bytes;
    return value;
}

forge::ColumnValue nullColumn()
{
    forge::ColumnValue value;
    value.isNull = true;
    return value;
}

// Index leaf and branch blocks, undo blocks and undo segment headers, which
// the fixture database does not hold.
void undoIndexSeeds(uint8_t order)
{
    forge::ByteOrder byteOrder = order ? forge::kBigEndian : forge::kLittleEndian;
    const char *orderName = order ? "be" : "le";
    char error[256] = "";

    forge::IndexBlockLayout leaf;
    forge::initIndexBlockLayout(&leaf, forge::makeRdba(4, 50), 9200, 1);
    leaf.opcode = forge::kIndexOpcodeIot;
    for (int i = 0; i < 4; i++) {
        forge::IndexEntry entry;
        forge::initIndexEntry(&entry);
        entry.keys.push_back(columnOf(forge::encodeNumber(i + 1)));
        entry.hasData = true;
        entry.data.push_back(columnOf(textBytes(i == 2 ? "" : "value")));
        entry.data.push_back(i == 1 ? nullColumn() : columnOf(forge::encodeNumber(100 * i)));
        if (i == 3) {
            entry.dataFlag = 0x28;   // H and F: the row goes on in another block
            entry.nextRdba = forge::makeRdba(4, 51);
            entry.nextSlot = 0;
        }
        if (i == 2)
            entry.flag = forge::kIndexEntryDeleted;
        leaf.entries.push_back(entry);
    }
    forge::Block block;
    forge::initBlock(&block, kSeedBlockSize, byteOrder);
    if (forge::putIndexBlock(&block, &leaf, error, sizeof error)) {
        forge::sealBlock(&block);
        blockSeed(std::string(orderName) + "-index-leaf-iot", order, block.bytes);
    }

    forge::IndexBlockLayout branch;
    forge::initIndexBlockLayout(&branch, forge::makeRdba(4, 52), 9201, 1);
    branch.level = 1;
    branch.leftmostChild = forge::makeRdba(4, 50);
    for (int i = 0; i < 3; i++) {
        forge::IndexBranchEntry entry;
        entry.childRdba = forge::makeRdba(4, 53 + i);
        entry.keys.push_back(columnOf(forge::encodeNumber(10 * i)));
        branch.branches.push_back(entry);
    }
    forge::initBlock(&block, kSeedBlockSize, byteOrder);
    if (forge::putIndexBlock(&block, &branch, error, sizeof error)) {
        forge::sealBlock(&block);
        blockSeed(std::string(orderName) + "-index-branch", order, block.bytes);
    }

    forge::UndoBlockLayout undo;
    forge::initUndoBlockLayout(&undo, forge::makeRdba(2, 90));
    undo.records.push_back(textBytes("first undo record"));
    undo.records.push_back(Bytes(40, 0x5A));
    forge::initBlock(&block, kSeedBlockSize, byteOrder);
    if (forge::putUndoBlock(&block, &undo, error, sizeof error)) {
        forge::sealBlock(&block);
        blockSeed(std::string(orderName) + "-undo-block", order, block.bytes);
    }

    // Type 38 keeps its transaction table at 6096 of an 8 KB block.
    const uint8_t types[] = {14, 38};
    for (uint8_t type : types) {
        uint32_t size = type == 14 ? kSeedBlockSize : 8192;
        forge::UndoSegmentHeaderLayout header;
        forge::initUndoSegmentHeaderLayout(&header, type, forge::makeRdba(2, 9));
        forge::UndoExtent extent = {forge::makeRdba(2, 10), 8, 1234};
        header.extents.push_back(extent);
        for (int k = 0; k < 3; k++) {
            forge::TransactionSlot slot;
            forge::initTransactionSlot(&slot);
            slot.wrap = (uint16_t)(k + 1);
            slot.state = (uint8_t)(k == 1 ? 10 : 9);
            slot.lastBlock = forge::makeRdba(2, 10 + k);
            header.slots.push_back(slot);
        }
        forge::initBlock(&block, size, byteOrder);
        if (forge::putUndoSegmentHeader(&block, &header, error, sizeof error)) {
            forge::sealBlock(&block);
            blockSeed(std::string(orderName) + "-undo-header-" + std::to_string(type), order, block.bytes);
        } else {
            fprintf(stderr, "make_corpus: undo header %u: %s\n", type, error);
        }
    }
}

// ---------------------------------------------------------------------------
// Blocks of the fixture, forged at 2 KB in each byte order.

void blockSeeds(uint8_t order)
{
    std::string text = std::string("blocksize 2048\nbyteorder ") + (order ? "big" : "little") + "\n" +
                       fixtureDescription();
    const std::vector<std::string> files = {"users01.dbf", "users02.dbf"};
    std::vector<Bytes> images = forgedFiles(text.c_str(), files);
    const char *orderName = order ? "be" : "le";
    for (size_t f = 0; f < files.size(); f++) {
        const char *file = files[f].c_str();
        const Bytes &image = images[f];
        for (size_t b = 0; (b + 1) * kSeedBlockSize <= image.size(); b++) {
            const uint8_t *block = image.data() + b * kSeedBlockSize;
            if (allZero(block, kSeedBlockSize))
                continue;
            char name[96];
            snprintf(name, sizeof name, "%s-%.7s-%zu-type%u", orderName, file, b, block[0]);
            blockSeed(name, order, Bytes(block, block + kSeedBlockSize));
        }
    }
}

// ---------------------------------------------------------------------------
// Datafiles of one typed segment for the segment walks: prefix flags, header
// block, MAXCHAINS, typed columns, data object id; then the whole file.
void segmentWalkSeed(uint8_t order, uint8_t segmentType, uint8_t flags)
{
    char text[1024];
    snprintf(text, sizeof text,
             "blocksize 2048\nbyteorder %s\nfile walk.dbf rfn 1 blocks 16\n"
             "table T objd 9100\n  column ID number\n  column NAME varchar2\n  column WHEN date\n"
             "  column AMOUNT binary_double\n"
             "segment T type %u headermap 1 mapentries 1 itls 2\n"
             "  extent walk.dbf 2 6\n  extent walk.dbf 8 4\n  extent walk.dbf 12 4\n"
             "  insert values 1 one \"2001-02-03 04:05:06\" 1.5\n"
             "  insert deleted lock 1 values 2 two\n  insert migrated values 3 three\n"
             "  insert cut 1.10 values 4 rep:x:300\n  insert values 5 rep:y:1900 null -2\n",
             order ? "big" : "little", segmentType);
    Bytes image = forgedFiles(text, {"walk.dbf"})[0];
    uint8_t header = segmentType == 16 ? 2 : 4;
    Bytes seed = {(uint8_t)(order | flags), header, 0, 4, 0x8C, 0x23, 0, 0};   // objd 9100
    seed.insert(seed.end(), image.begin(), image.end());
    char name[64];
    snprintf(name, sizeof name, "%s-type%u-flags%u", order ? "be" : "le", segmentType, flags);
    writeSeed("segment_walk_fuzz", name, seed);
}

// ---------------------------------------------------------------------------
// LOB walk: flags, locator length, CHUNK, LOB index header block; then the
// locator of each value of a forged LOB column, then the whole file.
void lobWalkSeeds(uint8_t order)
{
    char text[1024];
    snprintf(text, sizeof text,
             "blocksize 2048\nbyteorder %s\nfile walk.dbf rfn 1 blocks 16\n"
             "table T objd 9200\n  column ID number\n  column C clob\n"
             "segment T\n  extent walk.dbf 2 2\n"
             "  insert values 1 \"in the row\"\n  insert values 2 rep:ab:600\n"
             "  insert values 3 @nosize:rep:cd:700\n  insert values 4 @short,out,stale:rep:ef:300\n"
             "lob T C objd 9201 index 9202 segment walk.dbf 4 7 indexat walk.dbf 11 5 leafentries 1 inrow 200 "
             "locatorchunks 1\n",
             order ? "big" : "little");
    forge::Manifest manifest;
    Bytes image = forgedFiles(text, {"walk.dbf"}, &manifest)[0];
    int n = 0;
    for (const forge::ManifestRow &row : manifest.tables[0].rows) {
        const Bytes &locator = row.values[1].bytes;
        for (uint8_t writer = 0; writer < 4; writer += 3) {
            Bytes seed = {(uint8_t)(order | (writer << 5) | 2), (uint8_t)locator.size(), 0, 11};
            seed.insert(seed.end(), locator.begin(), locator.end());
            seed.insert(seed.end(), image.begin(), image.end());
            char name[64];
            snprintf(name, sizeof name, "%s-value%d", order ? "be" : "le", n++);
            writeSeed("lob_walk_fuzz", name, seed);
        }
    }
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
    // The five files of the fixture's dictionary, for the lookups.
    std::string joined;
    for (int i = 0; i < count; i++) {
        if (i > 0)
            joined += '\x01';
        joined += files[i].text;
    }
    writeSeed("dictionary_files_fuzz", "fixture", textBytes(joined));
    std::string source = "tests/e2e/cases/dict_desc/files/ZORDICT/";
    const char *const names[] = {"ZORUSR.TXT", "ZOROBJ.TXT", "ZORTAB.TXT", "ZORCOL.TXT", "ZORTYP.TXT"};
    std::string desc;
    for (const char *name : names) {
        Bytes text = readWhole(g_root + "/../../" + source + name);
        if (!desc.empty() || name != names[0])
            desc += '\x01';
        desc.append(text.begin(), text.end());
    }
    writeSeed("dictionary_files_fuzz", "dict_desc", textBytes(desc));
    // A table whose owner, name and columns need the quoted form.
    writeSeed("dictionary_files_fuzz", "quoted-names",
              textBytes("0,SYS\n90,\"Own,er\"\n\x01"
                        "80000,90,\"T,1\",,2,,\n\x01"
                        "80000,80000,4,4,8,0\n\x01"
                        "80000,1,1,\"Unit Price, EUR\",2,22,7,2,0,1,0,0,0\n"
                        "80000,2,2,\"two\nlines\",1,10,,,0,2,0,873,1\n"
                        "80000,3,3,\"open,1,10\n"
                        "80000,4,4,LAST,96,4,,,0,4,0,873,1\n\x01"));
    writeSeed("dictionary_line_fuzz", "ZOREXT.TXT", textBytes("7001,4,11,2\n7001,5,20,2\r\n9100,5,2,6\n"));
    writeSeed("dictionary_line_fuzz", "edge-lines",
              textBytes("1,\n,SYS\n99999999999999999999999,X\n-1,-2,N,,2,ABC\n\n\r\n  54 , SCOTT \n"));
    // Quoted names (RFC 4180): a comma, doubled quotes, a line feed inside
    // the quotes, an open quote, text after a closing quote, quoted numbers.
    writeSeed("dictionary_line_fuzz", "quoted-lines",
              textBytes("7,1,1,\"Unit Price, EUR\",2,22,7,2,0,1,0,0,0\n"
                        "7,2,2,\"say \"\"hi\"\"\",1,10,,,0,2,0,873,1\n"
                        "7,3,3,\"two\nlines\",1,10\r\n"
                        "7,4,4,\"open,1,10\n"
                        "7,5,5,\"A\"B,1,10\n"
                        "\"7\",\"6\",\"6\",\"N\",\"2\",\"22\"\n"
                        "9,83,\"T,1\",\"P\"\"1\",2,ABCD\n"));
    writeSeed(
        "column_defaults_fuzz", "ecol-def-number",
        textBytes("5020,3,00260001020C00000000000000010000000070000012090000000000000400000000000041422020\n"
                  "\x01"
                  "5020,4,27414227,3,\n5020,1,37,2\n5020,3,ZZ\n\x01"
                  "-12.5e3"));
    writeSeed("column_defaults_fuzz", "timestamp",
              textBytes("\x01\x01 TIMESTAMP '2024-02-29 10:11:12.123' "));
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

// Values for the column guesser: a DATE, a NUMBER, text and a CLOB
// locator laid into a small block, each fed as one column.
void guessSeeds()
{
    Bytes block(512, 0);
    const uint8_t date[] = {0x78, 0x76, 0x01, 0x01, 0x01, 0x01, 0x01};
    const uint8_t number[] = {0xC2, 0x4A, 0x46};
    const char text[] = "SMITH";
    memcpy(&block[16], date, sizeof date);
    memcpy(&block[32], number, sizeof number);
    memcpy(&block[48], text, 5);
    uint8_t locator[20] = {0, 0x70, 0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0x11, 0, 0x22, 0, 0, 0, 1};
    memcpy(&block[64], locator, sizeof locator);
    Bytes seed = {4, 0, 16, 7, 0, 0, 32, 3, 1, 0, 48, 5, 2, 0, 64, 20, 3};
    seed.insert(seed.end(), block.begin(), block.end());
    writeSeed("column_guess_fuzz", "four-kinds", seed);
    Bytes tail = {1, 0x01, 0xFC, 2, 0};
    tail.insert(tail.end(), 512, 0x41);
    writeSeed("column_guess_fuzz", "block-tail", tail);
}

// File heads for PROBE: the first blocks of forged 2 KB files, little- and
// big-endian, one behind a leading header of 512 bytes, and one whose
// header block is overwritten, so that the blocks alone must tell.
void probeSeeds()
{
    const char *variants[][2] = {
        {"little-2k", "blocksize 2048\nfile p.dbf rfn 3 blocks 6\nblock 2\n  data objd 7\n  row num 1\n"},
        {"big-2k", "blocksize 2048\nbyteorder big\nfile p.dbf rfn 3 blocks 6\n"},
        {"header-512", "blocksize 2048\nfile p.dbf rfn 0 bigfile header 512 blocks 6\n"},
    };
    for (const auto &variant : variants)
        writeSeed("probe_header_fuzz", variant[0], forgedFiles(variant[1], {"p.dbf"})[0]);
    Bytes headerless = forgedFiles(
        "blocksize 2048\nfile p.dbf rfn 3 blocks 8\n"
        "block 3\n  data objd 7\n  row num 1\n"
        "block 4\n  data objd 7\n  row num 1\n"
        "block 5\n  data objd 7\n  row num 1\n",
        {"p.dbf"})[0];
    for (size_t i = 2048; i < 4096 && i < headerless.size(); i++)
        headerless[i] = static_cast<uint8_t>(i * 37);
    writeSeed("probe_header_fuzz", "headerless-2k", headerless);
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

// Compact forged disk images (8 KB AUs of 2 KB metadata blocks, files from
// 7 on, one with indirect extents) in both byte orders, and one with 4 KB
// blocks, for the ASM decoders and walks.
void asmSeeds()
{
    char dir[] = "/tmp/zor-asm-seed-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return;
    std::string base(dir);
    Bytes data(3 * 8192 + 100);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>(i * 7);
    FILE *f = fopen((base + "/data.bin").c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    struct Shape {
        const char *name;
        uint8_t prefix;
        uint32_t blockSize;
        uint32_t auSize;
        bool big;
    };
    const Shape shapes[] = {{"le-2k-8k", 0, 2048, 8192, false}, {"be-2k-8k", 0, 2048, 8192, true},
                            {"le-4k-16k", 1 | (1 << 1), 4096, 16384, false}};
    for (const Shape &shape : shapes) {
        forge::AsmGroupSpec groupSpec;
        groupSpec.blockSize = shape.blockSize;
        groupSpec.auSize = shape.auSize;
        groupSpec.bigEndian = shape.big;
        groupSpec.directSlots = 2;
        groupSpec.indirectSlotsPerBlock = 1;
        groupSpec.firstFileNumber = 7;
        forge::AsmGroupRecord record;
        char error[256];
        std::vector<forge::AsmFileInput> files = {{base + "/data.bin", "DATA.7.1"}, {base + "/data.bin", "DATA.8.1"}};
        if (!forge::writeAsmGroup(groupSpec, files, base, &record, error, sizeof error)) {
            fprintf(stderr, "asm seed: %s\n", error);
            continue;
        }
        Bytes seed = {shape.prefix, 8};
        Bytes image = readWhole(base + "/disk0.img");
        seed.insert(seed.end(), image.begin(), image.end());
        writeSeed("asm_metadata_fuzz", shape.name, seed);
    }
    removeDirectory(base);
}

int main(int argc, char **argv)
{
    std::string source = argc > 1 ? argv[1] : ".";
    g_root = source + "/fuzz/corpus";
    makeDirectory(source + "/fuzz");
    makeDirectory(g_root);
    blockSeeds(0);
    blockSeeds(1);
    undoIndexSeeds(0);
    undoIndexSeeds(1);
    segmentWalkSeed(0, 16, 0);
    segmentWalkSeed(1, 35, 0);
    segmentWalkSeed(0, 35, 2 | 4);
    lobWalkSeeds(0);
    lobWalkSeeds(1);
    valueSeeds();
    dictionarySeeds();
    configSeeds();
    rowidSeeds();
    convertSeeds();
    guessSeeds();
    probeSeeds();
    shellSeeds(source);
    asmSeeds();
    return 0;
}
