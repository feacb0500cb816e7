// The benchmark database of `make bench`: a SYSTEM datafile with the data
// dictionary and two datafiles of 1 GiB (8192-byte blocks) holding the table
// BENCH.ROWS of mixed columns, about 100 bytes a row, over many extents that
// alternate between the two files, and BENCH.QUARTER, the same rows in a
// quarter of the extents, to show that an unload's memory does not grow with
// the table.
//
//   bench_forge OUTPUT_DIR [SCALE]
//
// SCALE (default 1) divides the size of the two big files, for a quick try.
// Writes OUTPUT_DIR/bench.cfg and OUTPUT_DIR/rows.txt ("TABLE ROWS BYTES"
// lines: the rows of each table and the datafile bytes of its extents).
//
// The rows are laid block by block with the forge's data block builder and
// written as they are made, so the files never sit in memory; laySegment,
// which keeps every block of a segment in memory, is meant for fixtures of a
// few hundred blocks.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "forge/forge.h"

namespace {

using namespace forge;

constexpr uint32_t kBlockSize = 8192;
constexpr uint32_t kBigFileBlocks = 131072;   // 1 GiB with block 0
constexpr uint32_t kSystemBlocks = 1024;
constexpr uint32_t kExtentBlocks = 1024;      // 8 MB extents
constexpr uint32_t kFirstExtentBlock = 128;
constexpr uint32_t kBigRfn = 5;
constexpr uint32_t kTablespace = 5;
constexpr uint32_t kUserId = 90;
constexpr uint32_t kRowsObj = 88001;
constexpr uint32_t kQuarterObj = 88002;
// One extent position in five of each file goes to BENCH.QUARTER.
constexpr uint32_t kQuarterEvery = 5;

// Values are drawn from pools built once; the row number picks from them
// with different strides so that neighbouring rows differ.
constexpr size_t kPoolSize = 4096;

struct ValuePools {
    std::vector<std::vector<uint8_t>> quantity;   // NUMBER(6) integers
    std::vector<std::vector<uint8_t>> amount;     // NUMBER(12,2)
    std::vector<std::string> name;                // VARCHAR2 of 5..60 bytes
    std::vector<std::vector<uint8_t>> created;    // DATE
    std::vector<std::string> code;                // CHAR(10), blank padded
    std::vector<std::string> note;                // the NULL-heavy column's values
    std::vector<std::vector<uint8_t>> updated;    // TIMESTAMP(6), 11 bytes
};

uint64_t g_seed = 0x9E3779B97F4A7C15ull;

uint64_t nextRandom()
{
    g_seed ^= g_seed << 13;
    g_seed ^= g_seed >> 7;
    g_seed ^= g_seed << 17;
    return g_seed;
}

bool buildPools(ValuePools *pools)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 _-";
    for (size_t i = 0; i < kPoolSize; i++) {
        pools->quantity.push_back(encodeNumber(static_cast<long long>(nextRandom() % 100000)));

        char text[64];
        long long cents = static_cast<long long>(nextRandom() % 10000000000ull);
        if (i % 7 == 3)
            cents = -cents;
        snprintf(text, sizeof text, "%lld.%02lld", cents / 100, (cents < 0 ? -cents : cents) % 100);
        std::vector<uint8_t> bytes;
        if (!encodeNumberText(text, &bytes))
            return false;
        pools->amount.push_back(bytes);

        size_t length = 5 + nextRandom() % 56;
        std::string name;
        for (size_t k = 0; k < length; k++)
            name += kLetters[nextRandom() % (sizeof kLetters - 1)];
        pools->name.push_back(name);

        DateTime t;
        initDateTime(&t, 1990 + static_cast<int>(nextRandom() % 35), 1 + static_cast<int>(nextRandom() % 12),
                     1 + static_cast<int>(nextRandom() % 28), static_cast<int>(nextRandom() % 24),
                     static_cast<int>(nextRandom() % 60), static_cast<int>(nextRandom() % 60));
        if (!encodeDate(&t, &bytes))
            return false;
        pools->created.push_back(bytes);
        t.nanosecond = static_cast<uint32_t>(nextRandom() % 1000000) * 1000u + 1000u;
        if (!encodeTimestamp(&t, true, &bytes))
            return false;
        pools->updated.push_back(bytes);

        char code[16];
        snprintf(code, sizeof code, "%-10s", i % 3 == 0 ? "OPEN" : i % 3 == 1 ? "CLOSED" : "PENDING-A");
        pools->code.push_back(code);

        snprintf(text, sizeof text, "note %zu: checked", i);
        pools->note.push_back(text);
    }
    return true;
}

// Fills `row` with the columns of row number n (1-based ids).
void makeRow(const ValuePools *pools, uint64_t n, RowPiece *row)
{
    row->columns.resize(8);
    std::vector<uint8_t> id = encodeNumber(static_cast<long long>(n));
    ColumnValue *c = row->columns.data();
    auto set = [](ColumnValue *v, const void *data, size_t length) {
        v->isNull = false;
        const uint8_t *p = static_cast<const uint8_t *>(data);
        v->bytes.assign(p, p + length);
    };
    set(&c[0], id.data(), id.size());
    const std::vector<uint8_t> &q = pools->quantity[(n * 7) % kPoolSize];
    set(&c[1], q.data(), q.size());
    const std::vector<uint8_t> &a = pools->amount[(n * 13) % kPoolSize];
    set(&c[2], a.data(), a.size());
    const std::string &name = pools->name[(n * 31) % kPoolSize];
    set(&c[3], name.data(), name.size());
    const std::vector<uint8_t> &d = pools->created[(n * 17) % kPoolSize];
    set(&c[4], d.data(), d.size());
    const std::string &code = pools->code[n % kPoolSize];
    set(&c[5], code.data(), code.size());
    // NOTE is NULL in nine rows of ten; stored (0xFF) because a column
    // follows it.
    if (n % 10 == 0) {
        const std::string &note = pools->note[(n / 10) % kPoolSize];
        set(&c[6], note.data(), note.size());
    } else {
        c[6].isNull = true;
        c[6].bytes.clear();
    }
    const std::vector<uint8_t> &u = pools->updated[(n * 29) % kPoolSize];
    set(&c[7], u.data(), u.size());
}

// One table: its extents as (file index, first block) and its running state.
struct BenchTable {
    const char *name;
    uint32_t objd;
    std::vector<ExtentPlace> extents;
    uint64_t rows;
};

bool fail(const char *what, const char *error)
{
    fprintf(stderr, "bench_forge: %s: %s\n", what, error);
    return false;
}

// The exit status of main after a failure.
int failStatus(const char *what, const char *error)
{
    fail(what, error);
    return 1;
}

// Lays one table: the segment header in the first block of its first
// extent, then data blocks filled with rows in the remaining blocks.
bool layTable(DatafileWriter *writers, const DatafileLayout *const *files, const ValuePools *pools,
              BenchTable *table, uint64_t *nextId)
{
    char error[256];
    // Room for one more row piece: everything below the block tail after
    // the header, ITL list, data header, table directory and row directory.
    const uint32_t itls = 2;
    const uint32_t fixed = dataHeaderOffset(itls, kDataFlagExtended) + 14 + 4;
    const uint32_t usable = kBlockSize - 4 - fixed;

    DataBlockLayout layout;
    Block block;
    uint32_t headerFile = static_cast<uint32_t>(table->extents[0].file);
    uint32_t headerBlock = table->extents[0].firstBlock;
    uint32_t total = 0;
    for (const ExtentPlace &x : table->extents)
        total += x.blocks;

    SegmentHeaderLayout header;
    initSegmentHeaderLayout(&header, kTypeSegmentHeader, blockRdba(files[headerFile], headerBlock), table->objd);
    header.extentCount = static_cast<uint32_t>(table->extents.size());
    header.blockCount = total;
    const ExtentPlace &last = table->extents.back();
    header.hwmExtent = header.extentCount - 1;
    header.hwmBlocks = last.blocks;
    header.hwmExtentSize = last.blocks;
    header.hwmRdba = blockRdba(files[last.file], last.firstBlock + last.blocks);
    header.usedBlocks = total;
    for (const ExtentPlace &x : table->extents) {
        SegmentExtent e;
        e.rdba = blockRdba(files[x.file], x.firstBlock);
        e.blocks = x.blocks;
        header.extents.push_back(e);
    }
    if (header.extents.size() > extentMapCapacity(kTypeSegmentHeader, kBlockSize))
        return fail(table->name, "too many extents for the segment header");
    if (!initBlock(&block, kBlockSize, kLittleEndian) || !putSegmentHeader(&block, &header, error, sizeof error))
        return fail(table->name, error);
    sealBlock(&block);
    if (!writeBlockAt(&writers[headerFile], headerBlock, &block, error, sizeof error))
        return fail(table->name, error);

    // The layout and its row vectors are reused from block to block, so
    // that laying 20 million rows does not allocate for each of them.
    initDataBlockLayout(&layout, 0, table->objd);
    for (size_t e = 0; e < table->extents.size(); e++) {
        const ExtentPlace &x = table->extents[e];
        uint32_t first = x.firstBlock + (e == 0 ? 1 : 0);
        for (uint32_t b = first; b < x.firstBlock + x.blocks; b++) {
            layout.cache.rdba = blockRdba(files[x.file], b);
            layout.cache.scnBase = 0x2000 + b;
            uint32_t used = 0;
            size_t count = 0;
            for (;;) {
                if (layout.rows.size() <= count) {
                    RowPiece fresh;
                    initRowPiece(&fresh);
                    layout.rows.push_back(fresh);
                }
                RowPiece *row = &layout.rows[count];
                makeRow(pools, *nextId, row);
                uint32_t size = static_cast<uint32_t>(rowPieceSize(row)) + 2;
                if (used + size > usable)
                    break;
                count++;
                used += size;
                (*nextId)++;
            }
            layout.rows.resize(count);
            if (!initBlock(&block, kBlockSize, kLittleEndian) || !putDataBlock(&block, &layout, error, sizeof error))
                return fail(table->name, error);
            sealBlock(&block);
            if (!writeBlockAt(&writers[x.file], b, &block, error, sizeof error))
                return fail(table->name, error);
            table->rows += count;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_forge OUTPUT_DIR [SCALE]\n");
        return 2;
    }
    std::string dir = argv[1];
    uint32_t scale = argc > 2 ? static_cast<uint32_t>(atoi(argv[2])) : 1;
    if (scale == 0)
        scale = 1;
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "bench_forge: cannot create %s: %s\n", dir.c_str(), strerror(errno));
        return 1;
    }
    char error[256];
    ValuePools pools;
    if (!buildPools(&pools)) {
        fprintf(stderr, "bench_forge: a value pool could not be encoded\n");
        return 1;
    }

    // Files: SYSTEM (dictionary), then the two big ones.
    const char *names[3] = {"system01.dbf", "bench01.dbf", "bench02.dbf"};
    DatafileLayout layouts[3];
    uint32_t bigBlocks = kBigFileBlocks / scale;
    initDatafileLayout(&layouts[0], (dir + "/" + names[0]).c_str(), 1, kSystemBlocks, kBlockSize, kLittleEndian);
    for (int i = 1; i < 3; i++) {
        initDatafileLayout(&layouts[i], (dir + "/" + names[i]).c_str(), static_cast<uint16_t>(kBigRfn + i - 1),
                           bigBlocks, kBlockSize, kLittleEndian);
        layouts[i].header.tsNumber = kTablespace;
        snprintf(layouts[i].header.tsName, sizeof layouts[i].header.tsName, "BENCH");
    }
    const DatafileLayout *files[3] = {&layouts[0], &layouts[1], &layouts[2]};

    // Extents: position k of each big file, file by file in turn, so that
    // each table's extents alternate between the two files.
    BenchTable rowsTable = {"BENCH.ROWS", kRowsObj, {}, 0};
    BenchTable quarter = {"BENCH.QUARTER", kQuarterObj, {}, 0};
    uint32_t perFile = bigBlocks > kFirstExtentBlock ? (bigBlocks - kFirstExtentBlock) / kExtentBlocks : 0;
    if (perFile < kQuarterEvery) {
        fprintf(stderr, "bench_forge: SCALE %u leaves too few extents\n", scale);
        return 1;
    }
    perFile -= perFile % kQuarterEvery;
    for (uint32_t k = 0; k < perFile; k++) {
        for (size_t f = 1; f < 3; f++) {
            ExtentPlace x;
            x.file = f;
            x.firstBlock = kFirstExtentBlock + k * kExtentBlocks;
            x.blocks = kExtentBlocks;
            (k % kQuarterEvery == kQuarterEvery - 1 ? quarter : rowsTable).extents.push_back(x);
        }
    }

    DatafileWriter writers[3];
    for (int i = 0; i < 3; i++)
        if (!openDatafileWriter(&writers[i], &layouts[i], error, sizeof error))
            return failStatus(names[i], error);
    uint64_t nextId = 1;
    if (!layTable(writers, files, &pools, &rowsTable, &nextId))
        return 1;
    nextId = 1;
    if (!layTable(writers, files, &pools, &quarter, &nextId))
        return 1;

    // The dictionary: user BENCH and the two tables.
    Schema schema;
    SchemaUser sys = {"SYSTEM", 5, 0, false};
    SchemaUser user = {"BENCH", kUserId, kTablespace, false};
    schema.users.push_back(sys);
    schema.users.push_back(user);
    std::vector<ColumnDef> columns(8);
    const struct {
        const char *name;
        ColumnType type;
        uint32_t length, precision;
        int32_t scale;
        bool notNull;
    } kColumns[8] = {
        {"ID", kColumnNumber, 0, 10, 0, true},          {"QTY", kColumnNumber, 0, 6, 0, false},
        {"AMOUNT", kColumnNumber, 0, 12, 2, false},     {"NAME", kColumnVarchar2, 60, 0, -1, false},
        {"CREATED", kColumnDate, 0, 0, -1, false},      {"CODE", kColumnChar, 10, 0, -1, false},
        {"NOTE", kColumnVarchar2, 40, 0, -1, false},    {"UPDATED", kColumnTimestamp, 0, 0, 6, false},
    };
    for (int i = 0; i < 8; i++) {
        columns[i].name = kColumns[i].name;
        columns[i].type = kColumns[i].type;
        columns[i].length = kColumns[i].length;
        columns[i].precision = kColumns[i].precision;
        columns[i].scale = kColumns[i].scale;
        columns[i].notNull = kColumns[i].notNull;
    }
    for (BenchTable *t : {&rowsTable, &quarter}) {
        SchemaTable st;
        st.owner = "BENCH";
        st.name = strchr(t->name, '.') + 1;
        st.objectNumber = t->objd;
        st.dataObjectId = t->objd;
        st.columns = columns;
        initSchemaSegment(&st.segment);
        st.segment.present = true;
        st.segment.tablespace = kTablespace;
        st.segment.rfn = kBigRfn + static_cast<uint32_t>(t->extents[0].file) - 1;
        st.segment.block = t->extents[0].firstBlock;
        st.rowCount = static_cast<uint32_t>(t->rows);
        schema.tables.push_back(st);
    }
    DictionaryLayout dictionary;
    initDictionaryLayout(&dictionary, 0, 8);
    std::vector<SegmentBlock> blocks;
    if (!layDictionary(files, 3, &schema, &dictionary, &blocks, nullptr, error, sizeof error))
        return failStatus("dictionary", error);
    for (const SegmentBlock &b : blocks)
        if (!writeBlockAt(&writers[b.file], b.blockNo, &b.block, error, sizeof error))
            return failStatus("dictionary", error);
    for (int i = 0; i < 3; i++)
        if (!closeDatafileWriter(&writers[i], error, sizeof error))
            return failStatus(names[i], error);

    const char *lines[3];
    std::string text[3];
    for (int i = 0; i < 3; i++) {
        char line[600];
        formatConfigLine(line, sizeof line, names[i], 0);
        text[i] = line;
        lines[i] = text[i].c_str();
    }
    if (!writeConfigFile((dir + "/bench.cfg").c_str(), lines, 3, error, sizeof error))
        return failStatus("bench.cfg", error);
    FILE *counts = fopen((dir + "/rows.txt").c_str(), "w");
    if (counts == nullptr)
        return 1;
    // Table, rows, bytes of datafile its extents cover.
    for (const BenchTable *t : {&rowsTable, &quarter})
        fprintf(counts, "%s %" PRIu64 " %" PRIu64 "\n", strchr(t->name, '.') + 1, t->rows,
                static_cast<uint64_t>(t->extents.size()) * kExtentBlocks * kBlockSize);
    fclose(counts);
    printf("bench_forge: BENCH.ROWS %" PRIu64 " rows in %zu extents, BENCH.QUARTER %" PRIu64
           " rows in %zu extents\n",
           rowsTable.rows, rowsTable.extents.size(), quarter.rows, quarter.extents.size());
    return 0;
}
