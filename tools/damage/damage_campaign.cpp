// The damage campaign (`make damage`): damaged copies of the forge's sample
// database, each made by seeded random mutations, and a full rescue session
// of ZOR on every copy under a time bound.  It counts crashes, hangs and
// sanitizer reports, and checks that every row the forge stored in blocks
// the damage left intact comes out of UNLOAD TABLE exactly as stored.
//
//   damage_campaign --zor PATH [--runs N] [--seed S] [--work DIR]
//                   [--timeout SECONDS] [--keep]
//
// Run k uses seed S + k, so `--seed S+k --runs 1 --keep` repeats one run and
// leaves its directory (datafiles, rescue.zor, mutations.txt, stdout.txt,
// stderr.txt) for a look.  A run that fails is always kept under
// WORK/failed/.  The exit status is 0 only when nothing failed and every
// expected row was recovered.
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "forge/asm_image.h"
#include "forge/forge.h"
#include "../../tests/unload/writers/export_reader.h"

namespace {

constexpr uint32_t kBlockSize = 8192;   // the sample database's
constexpr uint8_t kTypeSegmentHeader = 0x10;
constexpr const char *kFieldTag = "|";
constexpr const char *kRecordTag = "\r\n";

// ---------------------------------------------------------------------------
// Seeded randomness: splitmix64, so that a seed means the same damage on
// every platform and library (std:: distributions are not portable).
// ---------------------------------------------------------------------------
struct Random {
    uint64_t state;
};

uint64_t nextRandom(Random *r) {
    uint64_t z = (r->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t randomBelow(Random *r, uint64_t n) { return n == 0 ? 0 : nextRandom(r) % n; }

bool chance(Random *r, unsigned percent) { return randomBelow(r, 100) < percent; }

// ---------------------------------------------------------------------------
// The database and what each table's rows depend on
// ---------------------------------------------------------------------------
struct Datafile {
    std::string name;
    uint32_t rfn;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> usedBlocks;   // blocks that are not all zeros
};

// A block named by file and block number, as an RDBA.
uint32_t blockAddress(uint32_t rfn, uint32_t blockNo) { return (rfn << 22) | (blockNo & 0x3FFFFF); }

struct TableCheck {
    const forge::ManifestTable *table;
    std::string label;                  // OWNER.NAME[ PARTITION P]
    std::string command;                // UNLOAD TABLE ... (without TO)
    std::vector<uint32_t> dictionaryBlocks;  // blocks of the SYS rows the unload looks up
    uint64_t expected, recovered;       // over the whole campaign
    uint64_t lostToDictionary;          // intact rows whose dictionary rows were damaged
};

struct Database {
    std::vector<Datafile> files;
    std::string config;
    forge::Manifest manifest;
    std::vector<TableCheck> tables;
    std::vector<uint32_t> dictionaryHeaders;   // segment headers in the SYSTEM file
};

bool readWholeFile(const std::string &path, std::vector<uint8_t> *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out->clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

bool writeWholeFile(const std::string &path, const void *bytes, size_t length) {
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = fwrite(bytes, 1, length, f) == length;
    return fclose(f) == 0 && ok;
}

std::string readText(const std::string &path) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, &bytes)) return std::string();
    return std::string(bytes.begin(), bytes.end());
}

uint32_t littleU32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }

const forge::ManifestTable *findManifestTable(const Database *db, const char *owner, const char *name) {
    for (const forge::ManifestTable &t : db->manifest.tables)
        if (t.owner == owner && t.name == name) return &t;
    return nullptr;
}

std::string columnText(const forge::ManifestRow &row, size_t column) {
    return column < row.values.size() && !row.values[column].isNull ? row.values[column].text : std::string();
}

// Every block holding a piece of the row.
std::vector<uint32_t> rowBlocks(const forge::ManifestRow &row) {
    if (!row.pieceRdbas.empty()) return row.pieceRdbas;
    return std::vector<uint32_t>(1, row.rdba);
}

// Adds the blocks of the SYS rows whose column `keyColumn` is one of `keys`.
void addDictionaryRows(const Database *db, const char *sysTable, size_t keyColumn,
                       const std::set<std::string> &keys, std::vector<uint32_t> *blocks) {
    const forge::ManifestTable *t = findManifestTable(db, "SYS", sysTable);
    if (t == nullptr) return;
    for (const forge::ManifestRow &row : t->rows)
        if (keys.count(columnText(row, keyColumn)) != 0)
            for (uint32_t rdba : rowBlocks(row)) blocks->push_back(rdba);
}

// An index-organized table: its TAB$ row has no DATAOBJ#.
bool indexOrganized(const Database *db, const std::set<std::string> &objects) {
    const forge::ManifestTable *tabs = findManifestTable(db, "SYS", "TAB$");
    if (tabs == nullptr) return false;
    for (const forge::ManifestRow &row : tabs->rows)
        if (objects.count(columnText(row, 0)) != 0 && row.values.size() > 1 && row.values[1].isNull) return true;
    return false;
}

// The dictionary rows UNLOAD TABLE OWNER.NAME reads: the owner's USER$
// row, the table's and its partitions' OBJ$ rows, their TAB$, TABPART$ and
// COL$ rows, for a partition the OBJ$ and TAB$ rows through which the
// bootstrap finds TABPART$, and for an index-organized table its index's
// IND$ row and those of IND$.
void findDictionaryBlocks(const Database *db, TableCheck *check) {
    const forge::ManifestTable *t = check->table;
    std::vector<uint32_t> *blocks = &check->dictionaryBlocks;
    std::string userId;
    const forge::ManifestTable *users = findManifestTable(db, "SYS", "USER$");
    if (users != nullptr)
        for (const forge::ManifestRow &row : users->rows)
            if (columnText(row, 1) == t->owner) {
                userId = columnText(row, 0);
                for (uint32_t rdba : rowBlocks(row)) blocks->push_back(rdba);
            }
    std::set<std::string> objects;
    std::set<std::string> partitionTables;
    const forge::ManifestTable *objs = findManifestTable(db, "SYS", "OBJ$");
    if (objs != nullptr)
        for (const forge::ManifestRow &row : objs->rows) {
            // OBJ$: OBJ#, DATAOBJ#, OWNER#, NAME, NAMESPACE, SUBNAME, ...
            if (columnText(row, 2) == userId && columnText(row, 3) == t->name) {
                objects.insert(columnText(row, 0));
                for (uint32_t rdba : rowBlocks(row)) blocks->push_back(rdba);
            }
            if (!t->partition.empty() && columnText(row, 2) == "0" && columnText(row, 3) == "TABPART$") {
                partitionTables.insert(columnText(row, 0));
                for (uint32_t rdba : rowBlocks(row)) blocks->push_back(rdba);
            }
        }
    addDictionaryRows(db, "TAB$", 0, objects, blocks);
    addDictionaryRows(db, "TAB$", 0, partitionTables, blocks);
    addDictionaryRows(db, "COL$", 0, objects, blocks);
    addDictionaryRows(db, "TABPART$", 0, objects, blocks);
    addDictionaryRows(db, "TABPART$", 2, objects, blocks);   // BO#
    if (indexOrganized(db, objects)) {
        // Its segment is its index's: UNLOAD TABLE reads the index's IND$
        // row (BO# the table), which the bootstrap finds through IND$'s own
        // OBJ$ and TAB$ rows.
        std::set<std::string> indexTable;
        if (objs != nullptr)
            for (const forge::ManifestRow &row : objs->rows)
                if (columnText(row, 2) == "0" && columnText(row, 3) == "IND$") {
                    indexTable.insert(columnText(row, 0));
                    for (uint32_t rdba : rowBlocks(row)) blocks->push_back(rdba);
                }
        addDictionaryRows(db, "TAB$", 0, indexTable, blocks);
        addDictionaryRows(db, "IND$", 0, objects, blocks);   // BO#
    }
}

bool loadDatabase(const std::string &dir, Database *db) {
    char error[512] = "";
    if (!forge::forgeSample(dir.c_str(), &db->manifest, error, sizeof error)) {
        fprintf(stderr, "damage: forge sample: %s\n", error);
        return false;
    }
    std::vector<uint8_t> config;
    if (!readWholeFile(dir + "/zor.cfg", &config)) {
        fprintf(stderr, "damage: no zor.cfg in %s\n", dir.c_str());
        return false;
    }
    db->config.assign(config.begin(), config.end());
    // One datafile per configuration line; its relative file number is the
    // one its file header's RDBA carries.
    size_t start = 0;
    while (start < db->config.size()) {
        size_t end = db->config.find('\n', start);
        if (end == std::string::npos) end = db->config.size();
        std::string name = db->config.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        Datafile file;
        file.name = name;
        if (!readWholeFile(dir + "/" + name, &file.bytes) || file.bytes.size() < 2 * kBlockSize) {
            fprintf(stderr, "damage: cannot read %s\n", name.c_str());
            return false;
        }
        file.rfn = littleU32(&file.bytes[kBlockSize + 4]) >> 22;
        for (uint32_t b = 0; b < file.bytes.size() / kBlockSize; b++) {
            const uint8_t *p = &file.bytes[(size_t)b * kBlockSize];
            bool used = false;
            for (uint32_t i = 0; i < kBlockSize && !used; i++) used = p[i] != 0;
            if (used) file.usedBlocks.push_back(b);
            if (file.rfn == 1 && p[0] == kTypeSegmentHeader) db->dictionaryHeaders.push_back(blockAddress(1, b));
        }
        db->files.push_back(file);
    }
    for (const forge::ManifestTable &t : db->manifest.tables) {
        // Dropped tables and the old rows of truncated ones are not reached
        // through the live dictionary that UNLOAD TABLE reads.
        if (t.drop != forge::kSchemaLive || t.truncated)
            continue;
        TableCheck check;
        check.table = &t;
        check.label = t.owner + "." + t.name;
        check.command = "UNLOAD TABLE " + t.owner + "." + t.name;
        if (!t.partition.empty()) {
            check.label += " PARTITION " + t.partition;
            check.command += " PARTITION " + t.partition;
        }
        check.expected = check.recovered = check.lostToDictionary = 0;
        findDictionaryBlocks(db, &check);
        db->tables.push_back(check);
    }
    return !db->files.empty();
}

// ---------------------------------------------------------------------------
// Mutations
// ---------------------------------------------------------------------------
enum MutationKind {
    kFlipBytes, kFlipBits, kZeroBlock, kZeroRange, kGarbageBlock, kSmashField, kTruncate, kSwapBlocks,
    kCopyBlock, kMutationKinds
};
const char *const kMutationNames[kMutationKinds] = {"flipbytes", "flipbits", "zeroblock", "zerorange", "garbage",
                                                     "smashfield", "truncate", "swapblocks", "copyblock"};

enum SettingKind { kSettingNone, kSettingBlockSize, kSettingByteOrder, kSettingHeaderSize, kSettingKinds };

struct RunPlan {
    uint64_t seed;
    std::vector<Datafile> files;        // the damaged copies
    std::string config;
    std::string log;                    // one line per mutation
    unsigned mutationCounts[kMutationKinds];
    SettingKind setting;
    std::string settingLine;            // a SET of a wrong value, or ""
    bool settingBeforeOpen;
    bool blockCheck;
    bool unloadBeforeScan;              // an extra pass over the segment headers' extent maps
    bool dataFileOnly;                  // only the last datafile (the users' data) is damaged
    // Extra passes after the measured one, for the code they reach on
    // damaged blocks: the export dump writer, the row filters and chain
    // limit, the other scans and block checks, and UNLOAD OBJECT with
    // column types that may not be the stored ones.
    bool dumpPass, filterPass, scanPass, objectPass, lobPass;
    // The damaged datafiles also packed into a disk group whose metadata is
    // damaged in turn, and a pass of ASM commands over it (crashes, hangs
    // and sanitizer reports count; its rows are not judged).
    bool asmPass;
    uint64_t asmSeed;
    int sysHeaderDamage;                // a named damage of a SYS segment header, or -1
};

void appendLog(RunPlan *plan, const char *format, ...) __attribute__((format(printf, 2, 3)));
void appendLog(RunPlan *plan, const char *format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    plan->log += line;
    plan->log += "\n";
}

// A block worth damaging: one the sample uses, mostly.
uint32_t pickBlock(Random *r, const Datafile *original, const Datafile *file) {
    uint32_t blocks = (uint32_t)(file->bytes.size() / kBlockSize);
    if (blocks == 0) return 0;
    if (!original->usedBlocks.empty() && chance(r, 90)) {
        uint32_t b = original->usedBlocks[randomBelow(r, original->usedBlocks.size())];
        if (b < blocks) return b;
    }
    return (uint32_t)randomBelow(r, blocks);
}

// An offset inside a block: the headers, ITLs and directories sit in the
// first few hundred bytes and the rows at the end, so both are favoured.
uint32_t pickOffset(Random *r) {
    switch (randomBelow(r, 3)) {
    case 0: return (uint32_t)randomBelow(r, 160);
    case 1: return kBlockSize - 1 - (uint32_t)randomBelow(r, 1024);
    default: return (uint32_t)randomBelow(r, kBlockSize);
    }
}

void mutate(Random *r, const Database *db, RunPlan *plan) {
    size_t which = plan->dataFileOnly ? plan->files.size() - 1 : randomBelow(r, plan->files.size());
    Datafile *file = &plan->files[which];
    const Datafile *original = &db->files[which];
    MutationKind kind = (MutationKind)randomBelow(r, kMutationKinds);
    if (file->bytes.size() < kBlockSize) kind = kFlipBytes;   // a file cut to nothing takes flips
    plan->mutationCounts[kind]++;
    uint32_t b = pickBlock(r, original, file);
    uint8_t *block = file->bytes.size() >= (size_t)(b + 1) * kBlockSize ? &file->bytes[(size_t)b * kBlockSize] : nullptr;
    bool reseal = false;
    switch (kind) {
    case kFlipBytes:
    case kFlipBits: {
        if (file->bytes.empty()) break;
        unsigned count = 1 + (unsigned)randomBelow(r, 8);
        for (unsigned i = 0; i < count; i++) {
            size_t at = block != nullptr ? (size_t)b * kBlockSize + pickOffset(r) : randomBelow(r, file->bytes.size());
            uint8_t mask = kind == kFlipBytes ? 0xFF : (uint8_t)(1u << randomBelow(r, 8));
            file->bytes[at] ^= mask;
            appendLog(plan, "%s %s byte %zu (block %zu offset %zu) xor 0x%02x", kMutationNames[kind],
                      file->name.c_str(), at, at / kBlockSize, at % kBlockSize, mask);
        }
        reseal = block != nullptr && chance(r, 50);
        break;
    }
    case kZeroBlock:
        if (block == nullptr) break;
        memset(block, 0, kBlockSize);
        appendLog(plan, "zeroblock %s block %u", file->name.c_str(), b);
        break;
    case kZeroRange: {
        if (block == nullptr) break;
        size_t at = (size_t)b * kBlockSize + pickOffset(r);
        size_t length = 1 + randomBelow(r, chance(r, 70) ? 64 : 3 * kBlockSize);
        if (at + length > file->bytes.size()) length = file->bytes.size() - at;
        memset(&file->bytes[at], 0, length);
        appendLog(plan, "zerorange %s bytes %zu..%zu (block %zu offset %zu)", file->name.c_str(), at, at + length - 1,
                  at / kBlockSize, at % kBlockSize);
        break;
    }
    case kGarbageBlock: {
        if (block == nullptr) break;
        // Keeping the cache header (type, RDBA) lets the garbage reach the
        // decoders of its block type.
        uint32_t keep = chance(r, 70) ? 20 : 0;
        for (uint32_t i = keep; i < kBlockSize; i++) block[i] = (uint8_t)nextRandom(r);
        appendLog(plan, "garbage %s block %u from offset %u", file->name.c_str(), b, keep);
        reseal = chance(r, 50);
        break;
    }
    case kSmashField: {
        if (block == nullptr) break;
        // Extreme counts and offsets where a block keeps them.
        static const uint32_t values[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF, 0x7FFFFFFF,
                                          0x80000000u, 0xFFFFFFFFu, kBlockSize, kBlockSize - 1, kBlockSize + 1};
        unsigned count = 1 + (unsigned)randomBelow(r, 3);
        for (unsigned i = 0; i < count; i++) {
            uint32_t offset = chance(r, 75) ? (uint32_t)randomBelow(r, 400) : (uint32_t)randomBelow(r, kBlockSize - 3);
            uint32_t value = values[randomBelow(r, sizeof values / sizeof values[0])];
            unsigned width = chance(r, 50) ? 2 : (chance(r, 50) ? 1 : 4);
            for (unsigned k = 0; k < width; k++) block[offset + k] = (uint8_t)(value >> (8 * k));
            appendLog(plan, "smashfield %s block %u offset %u width %u value 0x%x", file->name.c_str(), b, offset, width,
                      value);
        }
        reseal = chance(r, 70);
        break;
    }
    case kTruncate: {
        size_t size = file->bytes.size();
        size_t cut = chance(r, 50) ? (size_t)pickBlock(r, original, file) * kBlockSize : randomBelow(r, size);
        if (chance(r, 50) && cut + 100 < size) cut += randomBelow(r, kBlockSize);   // inside a block
        file->bytes.resize(cut);
        appendLog(plan, "truncate %s to %zu bytes (block %zu offset %zu)", file->name.c_str(), cut, cut / kBlockSize,
                  cut % kBlockSize);
        break;
    }
    case kSwapBlocks:
    case kCopyBlock: {
        if (block == nullptr) break;
        size_t otherWhich = chance(r, 30) && !plan->dataFileOnly ? randomBelow(r, plan->files.size()) : which;
        Datafile *other = &plan->files[otherWhich];
        uint32_t c = pickBlock(r, &db->files[otherWhich], other);
        if (other->bytes.size() < (size_t)(c + 1) * kBlockSize) break;
        uint8_t *target = &other->bytes[(size_t)c * kBlockSize];
        if (target == block) break;
        if (kind == kSwapBlocks) {
            for (uint32_t i = 0; i < kBlockSize; i++) {
                uint8_t t = block[i];
                block[i] = target[i];
                target[i] = t;
            }
        } else {
            memcpy(target, block, kBlockSize);
        }
        appendLog(plan, "%s %s block %u and %s block %u", kMutationNames[kind], file->name.c_str(), b,
                  other->name.c_str(), c);
        break;
    }
    case kMutationKinds:
        break;
    }
    if (reseal && block != nullptr && file->bytes.size() >= (size_t)(b + 1) * kBlockSize) {
        // A damaged block with a good checksum passes BLOCK_CHECK and so
        // reaches the row decoders with the check on too.
        forge::sealBytes(block, kBlockSize);
        appendLog(plan, "reseal %s block %u", file->name.c_str(), b);
    }
}

// Named damages of the segment headers of the SYS tables the dictionary is
// rebuilt from (clusters C_OBJ# and C_USER#, table OBJ$): the rows of their
// intact data blocks must all still come out.
enum SysHeaderDamage { kSysZeroed, kSysExtentCut, kSysNoExtents, kSysForeignObject, kSysBadChecksum, kSysDamages };
const char *const kSysDamageNames[kSysDamages] = {"zeroed", "extent cut", "no extents", "foreign object",
                                                  "failing checksum"};
constexpr uint32_t kSysObjects[] = {2, 10, 18};
constexpr uint32_t kSegExtentCount = 92, kSegObjectId = 100, kSegFirstExtentBlocks = 112;

void putLittleU32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

void damageSysHeader(Random *r, RunPlan *plan) {
    Datafile *system = nullptr;
    for (Datafile &f : plan->files)
        if (f.name == "system01.dbf") system = &f;
    if (system == nullptr) return;
    uint32_t objd = kSysObjects[randomBelow(r, sizeof kSysObjects / sizeof kSysObjects[0])];
    uint32_t blocks = (uint32_t)(system->bytes.size() / kBlockSize);
    for (uint32_t b = 2; b < blocks; b++) {
        uint8_t *block = &system->bytes[(size_t)b * kBlockSize];
        if (block[0] != kTypeSegmentHeader || littleU32(block + kSegObjectId) != objd) continue;
        SysHeaderDamage kind = (SysHeaderDamage)randomBelow(r, kSysDamages);
        switch (kind) {
        case kSysZeroed: memset(block, 0, kBlockSize); break;
        case kSysExtentCut: {
            uint32_t length = littleU32(block + kSegFirstExtentBlocks);
            putLittleU32(block + kSegFirstExtentBlocks, length > 1 ? 1 + (uint32_t)randomBelow(r, length - 1) : 0);
            break;
        }
        case kSysNoExtents: putLittleU32(block + kSegExtentCount, 0); break;
        case kSysForeignObject: putLittleU32(block + kSegObjectId, objd + 1000); break;
        default: block[4000] ^= 0xFF; break;
        }
        if (kind != kSysZeroed && kind != kSysBadChecksum) forge::sealBytes(block, kBlockSize);
        plan->sysHeaderDamage = kind;
        appendLog(plan, "sysheader %s of OBJD %u in system01.dbf block %u", kSysDamageNames[kind], objd, b);
        return;
    }
}

void planRun(const Database *db, uint64_t seed, RunPlan *plan) {
    Random r{seed * 0x2545F4914F6CDD1Dull + 1};
    plan->seed = seed;
    plan->files = db->files;
    plan->config = db->config;
    plan->log.clear();
    memset(plan->mutationCounts, 0, sizeof plan->mutationCounts);
    plan->setting = kSettingNone;
    plan->settingLine.clear();
    plan->settingBeforeOpen = false;
    plan->blockCheck = chance(&r, 50);
    plan->unloadBeforeScan = chance(&r, 30);
    plan->dataFileOnly = chance(&r, 40);
    plan->dumpPass = chance(&r, 30);
    plan->filterPass = chance(&r, 30);
    plan->scanPass = chance(&r, 30);
    plan->objectPass = chance(&r, 30);
    plan->lobPass = chance(&r, 60);
    unsigned mutations = 1 + (unsigned)randomBelow(&r, chance(&r, 20) ? 12 : 4);
    for (unsigned i = 0; i < mutations; i++) mutate(&r, db, plan);
    // A configuration that disagrees with the files in a few runs.
    if (chance(&r, 12)) {
        plan->settingBeforeOpen = chance(&r, 70);
        switch (randomBelow(&r, 3)) {
        case 0: {
            static const char *const sizes[] = {"2048", "4096", "16384", "32768", "6144"};
            plan->setting = kSettingBlockSize;
            plan->settingLine = std::string("SET BLOCK_SIZE ") + sizes[randomBelow(&r, 5)];
            break;
        }
        case 1:
            plan->setting = kSettingByteOrder;
            plan->settingLine = "SET BYTE_ORDER BIG";
            break;
        default: {
            plan->setting = kSettingHeaderSize;
            static const char *const sizes[] = {"512", "4096", "8192", "100"};
            size_t line = plan->config.find('\n');
            std::string size = sizes[randomBelow(&r, 4)];
            if (line != std::string::npos) plan->config.insert(line, std::string(" ") + size);
            appendLog(plan, "headersize %s on the first configuration line", size.c_str());
            plan->settingBeforeOpen = true;
            break;
        }
        }
        if (!plan->settingLine.empty()) appendLog(plan, "setting %s", plan->settingLine.c_str());
    }
    // Drawn last, so that the seeds keep the damage they had before.
    plan->sysHeaderDamage = -1;
    if (chance(&r, 25)) damageSysHeader(&r, plan);
    // Drawn apart, so that the plans above stay what they were.
    Random a{seed ^ 0xA5A5F00D12345678ull};
    plan->asmPass = chance(&a, 40);
    plan->asmSeed = nextRandom(&a);
}

// ---------------------------------------------------------------------------
// Disk groups: the run's datafiles in forged disk images, metadata damaged
// ---------------------------------------------------------------------------
const char *const kAsmMutationNames[] = {"flipbytes", "zeroblock", "smashcount", "smashslot"};

// Offset of a random byte of a metadata block the forge wrote.
uint64_t pickAsmMetadata(Random *r, const forge::AsmGroupRecord *record, const forge::AsmGroupSpec *groupSpec,
                         uint32_t *disk) {
    std::vector<forge::AsmPlacedExtent> places = {{0, 0}, {0, record->f1b1Au}};
    for (const forge::AsmPlacedExtent &e : record->fileDirectory.extents) places.push_back(e);
    for (const forge::AsmPlacedExtent &e : record->aliasDirectory.extents) places.push_back(e);
    for (const forge::AsmPlacedFile &f : record->files) {
        places.push_back(f.entry);
        for (const forge::AsmPlacedExtent &e : f.indirectAus) places.push_back(e);
    }
    for (uint32_t d = 1; d < groupSpec->diskCount; d++) places.push_back({d, 0});
    forge::AsmPlacedExtent at = places[randomBelow(r, places.size())];
    *disk = at.disk;
    uint32_t block = at.au == 0 ? 0 : (uint32_t)randomBelow(r, 8);
    return (uint64_t)at.au * groupSpec->auSize + (uint64_t)block * groupSpec->blockSize;
}

void patchFile(const std::string &path, uint64_t offset, const std::vector<uint8_t> &bytes) {
    int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) return;
    if (pwrite(fd, bytes.data(), bytes.size(), (off_t)offset) < 0) perror(path.c_str());
    close(fd);
}

void damageAsmMetadata(Random *r, const std::string &dir, const forge::AsmGroupRecord *record,
                       const forge::AsmGroupSpec *groupSpec, std::string *log) {
    unsigned mutations = 1 + (unsigned)randomBelow(r, 4);
    for (unsigned i = 0; i < mutations; i++) {
        uint32_t disk = 0;
        uint64_t block = pickAsmMetadata(r, record, groupSpec, &disk);
        int kind = (int)randomBelow(r, 4);
        std::vector<uint8_t> bytes;
        uint64_t at = block;
        switch (kind) {
        case 0:
            at += randomBelow(r, groupSpec->blockSize - 8);
            for (unsigned k = 0; k < 1 + randomBelow(r, 8); k++) bytes.push_back((uint8_t)nextRandom(r));
            break;
        case 1: bytes.assign(groupSpec->blockSize, 0); break;
        case 2: {   // extent count, slot counts or an indirect block's counts
            static const uint32_t fields[] = {32, 36, 52, 92, 94};
            at += fields[randomBelow(r, 5)];
            uint32_t v = randomBelow(r, 2) ? 0xFFFFFFFFu : (uint32_t)nextRandom(r);
            bytes = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
            break;
        }
        default: {  // an extent slot naming a wild AU or disk
            at += (randomBelow(r, 2) ? 1216 : 44) + 8 * randomBelow(r, 4);
            uint64_t v = nextRandom(r);
            for (int k = 0; k < 8; k++) bytes.push_back((uint8_t)(v >> (8 * k)));
            break;
        }
        }
        patchFile(dir + "/" + record->diskPaths[disk], at, bytes);
        char line[160];
        snprintf(line, sizeof line, "asm %s disk %u offset %llu length %zu", kAsmMutationNames[kind], disk,
                 (unsigned long long)at, bytes.size());
        *log += line;
        *log += "\n";
    }
}

// Packs the run's datafiles into a disk group of a shape chosen by the seed,
// damages its metadata and leaves the images read-only.
bool writeAsmRun(const std::string &dir, const RunPlan *plan, std::string *log) {
    Random r{plan->asmSeed};
    forge::AsmGroupSpec groupSpec;
    groupSpec.diskCount = 1 + (uint32_t)randomBelow(&r, 3);
    groupSpec.bigEndian = chance(&r, 30);
    groupSpec.directSlots = chance(&r, 50) ? 1 : 60;
    groupSpec.indirectSlotsPerBlock = chance(&r, 50) ? 1 : 0;
    std::vector<forge::AsmFileInput> inputs;
    for (const Datafile &f : plan->files) inputs.push_back({dir + "/" + f.name, f.name});
    forge::AsmGroupRecord record;
    char error[256];
    if (!forge::writeAsmGroup(groupSpec, inputs, dir, &record, error, sizeof error)) {
        fprintf(stderr, "damage: %s\n", error);
        return false;
    }
    damageAsmMetadata(&r, dir, &record, &groupSpec, log);
    std::string config;
    for (const forge::AsmPlacedFile &f : record.files) config += "+" + std::to_string(f.fileNumber) + "\n";
    for (const std::string &image : record.diskPaths) chmod((dir + "/" + image).c_str(), 0444);
    return writeWholeFile(dir + "/zor_asm.cfg", config.data(), config.size());
}

// The ASM pass: listings, the map scan, copies with and without the map,
// and the rescue again through the ASM-resident configuration.
std::string asmScript(const Database *db) {
    std::string s = "ASM OPEN disks.lst\nASM LIST\nASM FILE\nASM ALIAS\nASM EXTENT\n";
    s += "ASM LSAU DISK 0 AU 2 COUNT 2\nASM SCAN TO asm_map.txt\n";
    for (size_t i = 0; i < db->files.size(); i++) {
        std::string n = std::to_string(256 + i);
        s += "ASM FMAP FILE " + n + "\nASM FMAP2 FILE " + n + " OFFSET 1\nASM DUMP FILE " + n + " OFFSET 1\n";
        s += "ASM COPY FILE " + n + " TO asm_" + n + ".dbf\n";
        s += "ASM COPY FILE " + n + " MAP asm_map.txt TO asm_map_" + n + ".dbf\n";
    }
    s += "OPEN zor_asm.cfg\nUNLOAD TABLE DICT$;\n";
    for (size_t i = 0; i < db->tables.size(); i++) s += db->tables[i].command + " TO asm_t" + std::to_string(i) + ".txt;\n";
    return s;
}

// ---------------------------------------------------------------------------
// The rescue script
// ---------------------------------------------------------------------------
std::string outputName(size_t table, bool before) {
    char name[32];
    snprintf(name, sizeof name, "%s%02zu.txt", before ? "pre" : "t", table);
    return name;
}

std::string passName(const char *prefix, size_t table, const char *suffix) {
    char name[32];
    snprintf(name, sizeof name, "%s%02zu.%s", prefix, table, suffix);
    return name;
}

void addUnloadPass(const Database *db, const char *prefix, const char *suffix, std::string *s) {
    for (size_t i = 0; i < db->tables.size(); i++)
        *s += db->tables[i].command + " TO " + passName(prefix, i, suffix) + ";\n";
}

// UNLOAD OBJECT of every segment, with the stored column types or, now and
// then, types drawn at random (a DATE read as a NUMBER, a VARCHAR2 as a
// TIMESTAMP, ...), so that every formatter meets every kind of bytes.
void addObjectPass(const Database *db, Random *r, std::string *s) {
    static const char *const words[] = {"CHAR", "NCHAR", "VARCHAR2", "VARCHAR", "LONGRAW", "LONG", "RAW",
                                        "NUMBER", "DATE", "TIMESTAMP_TZ", "TIMESTAMP_LTZ", "TIMESTAMP",
                                        "BINARY_FLOAT", "BINARY_DOUBLE", "SKIP", "VARRAY", "NARRAY", "CLOB",
                                        "BLOB", "NCLOB"};
    const size_t wordCount = sizeof words / sizeof words[0];
    for (size_t i = 0; i < db->tables.size(); i++) {
        const forge::ManifestTable *t = db->tables[i].table;
        char head[96];
        snprintf(head, sizeof head, "UNLOAD OBJECT %u CLUSTER %u COLUMN", t->objectId, t->clusterTable);
        *s += head;
        bool random = chance(r, 50);
        size_t columns = t->columns.size() + (random ? randomBelow(r, 3) : 0);
        for (size_t c = 0; c < columns; c++) {
            const char *word = "VARCHAR2";
            if (random) {
                word = words[randomBelow(r, wordCount)];
            } else {
                switch (t->columns[c].type) {
                case forge::kColumnNumber: word = "NUMBER"; break;
                case forge::kColumnDate: word = "DATE"; break;
                case forge::kColumnChar: word = "CHAR"; break;
                default: word = "VARCHAR2"; break;
                }
            }
            *s += std::string(" ") + word;
        }
        *s += " TO " + passName("o", i, "txt") + ";\n";
    }
}

bool hasLobColumn(const forge::ManifestTable *t) {
    for (const forge::ColumnDef &c : t->columns)
        if (c.type == forge::kColumnClob || c.type == forge::kColumnNclob || c.type == forge::kColumnBlob) return true;
    return false;
}

// The LOB paths on the damaged copy: the LOB index and locator chunks, then
// the scanned LOB map (serial or parallel), in line or in LOB files, raw or
// converted, as text or as a dump.  Crashes and hangs count; the values are
// not judged.
void addLobPass(const Database *db, Random *r, std::string *s) {
    static const char *const settings[] = {"SET LOB_STORAGE 0\n", "SET LOB_STORAGE 1\n", "SET LOB_CONVERT 1\n",
                                           "SET LOB_CONVERT 2\n", "SET CLOB_EDIAN BIG\n", "SET VERBOSE 3\n",
                                           "SET OUTPUT_STYLE DMP\n"};
    *s += settings[randomBelow(r, 2)];
    for (unsigned i = 0; i < 2; i++) *s += settings[randomBelow(r, sizeof settings / sizeof settings[0])];
    for (int round = 0; round < 2; round++) {
        for (size_t i = 0; i < db->tables.size(); i++) {
            if (!hasLobColumn(db->tables[i].table)) continue;
            *s += db->tables[i].command + (chance(r, 30) ? " CHUNK 2" : "") + " TO " +
                  passName(round == 0 ? "l" : "m", i, "txt") + ";\n";
        }
        if (round == 0) *s += chance(r, 50) ? "SCAN LOB;\n" : "SCAN PARALLELLOB;\n";
    }
}

std::string rescueScript(const Database *db, const RunPlan *plan) {
    Random r{plan->seed ^ 0xD1B54A32D192ED03ull};
    std::string s;
    if (plan->settingBeforeOpen && !plan->settingLine.empty()) s += plan->settingLine + "\n";
    s += "OPEN zor.cfg\n";
    if (plan->blockCheck) s += "SET BLOCK_CHECK 1\n";
    s += "CHECK\n";
    s += "UNLOAD TABLE DICT$;\n";
    if (!plan->settingBeforeOpen && !plan->settingLine.empty()) s += plan->settingLine + "\n";
    // Row addresses tell which stored row each record is; DICT$ turns them
    // off, so they are set after it.
    s += "SET ROW_ADDRESS 1\n";
    // The judged passes leave LOB columns empty: a LOB's pages live in
    // blocks the row's own do not name.  The LOB pass at the end reads them.
    s += "SET LOB_STORAGE 2\n";
    if (plan->unloadBeforeScan)
        for (size_t i = 0; i < db->tables.size(); i++)
            s += db->tables[i].command + " TO " + outputName(i, true) + ";\n";
    s += "SCAN EXTENT;\n";
    s += "SCAN PARALLELEXT;\n";
    std::set<std::string> described;
    for (const TableCheck &t : db->tables) {
        std::string name = t.table->owner + "." + t.table->name;
        if (described.insert(name).second) s += "DESC " + name + "\n";
    }
    for (size_t i = 0; i < db->tables.size(); i++) s += db->tables[i].command + " TO " + outputName(i, false) + ";\n";
    if (plan->dumpPass) {
        s += "SET OUTPUT_STYLE DMP\n";
        addUnloadPass(db, "d", "dmp", &s);
        s += "SET OUTPUT_STYLE TXT\n";
    }
    if (plan->filterPass) {
        s += "SET DELETED_ROW TRUE\nSET COMMITED_ONLY TRUE\nSET MAXCHAINS 1\n";
        addUnloadPass(db, "f", "txt", &s);
        s += "SET DELETED_ROW FALSE\nSET COMMITED_ONLY FALSE\nSET MAXCHAINS 0\n";
    }
    if (plan->scanPass) {
        s += "SCAN HEADER;\nSCAN DATA;\nSCAN BLOCK;\nLIST USER\nLIST TABLE SCOTT\nLIST TABLE SYS\n";
        // The dropped and truncated tables through what is left of the
        // dictionary's deleted rows and the damaged blocks: the lines that
        // LIST writes are run as they are.
        s += "LIST DROPPED TO dropped.sql\nLIST TRUNCATED TO truncated.sql\n@dropped.sql\n@truncated.sql\n";
        for (unsigned i = 0; i < 4; i++) {
            const Datafile *f = &db->files[randomBelow(&r, db->files.size())];
            uint32_t blockNo = f->usedBlocks.empty() ? 1 : f->usedBlocks[randomBelow(&r, f->usedBlocks.size())];
            char line[64];
            snprintf(line, sizeof line, "BCHECK FILE %u BLOCK %u\n", f->rfn, blockNo);
            s += line;
        }
    }
    if (plan->objectPass) addObjectPass(db, &r, &s);
    if (plan->asmPass) s += asmScript(db);
    for (unsigned i = 0; i < 6; i++) {
        const Datafile *f = &db->files[randomBelow(&r, db->files.size())];
        uint32_t blockNo;
        switch (randomBelow(&r, 4)) {
        case 0: blockNo = (uint32_t)randomBelow(&r, 2); break;
        case 1: blockNo = (uint32_t)(f->bytes.size() / kBlockSize) + (uint32_t)randomBelow(&r, 3); break;
        default:
            blockNo = f->usedBlocks.empty() ? 2 : f->usedBlocks[randomBelow(&r, f->usedBlocks.size())];
            break;
        }
        char line[96];
        snprintf(line, sizeof line, "%s FILE %u BLOCK %u\n", chance(&r, 60) ? "ORADUMP" : "OSDUMP", f->rfn, blockNo);
        s += line;
    }
    if (plan->lobPass) addLobPass(db, &r, &s);
    s += "EXIT\n";
    return s;
}

// ---------------------------------------------------------------------------
// Running ZOR
// ---------------------------------------------------------------------------
enum Outcome { kClean, kCrash, kHang, kSanitizer, kWrite, kOutcomes };
const char *const kOutcomeNames[kOutcomes] = {"clean", "crash", "hang", "sanitizer finding", "datafile written"};

struct RunResult {
    Outcome outcome;
    int status;
    double seconds;
};

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

bool contains(const std::string &text, const char *what) { return text.find(what) != std::string::npos; }

RunResult runZor(const std::string &zor, const std::string &dir, double timeoutSeconds) {
    RunResult result = {kClean, 0, 0};
    double started = now();
    pid_t pid = fork();
    if (pid == 0) {
        // Its own process group, so that a hang takes SCAN PARALLELEXT's
        // workers down with it.
        setpgid(0, 0);
        if (chdir(dir.c_str()) != 0) _exit(126);
        int in = open("rescue.zor", O_RDONLY);
        int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:allocator_may_return_null=1", 1);
        setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 1);
        execl(zor.c_str(), zor.c_str(), (char *)nullptr);
        _exit(127);
    }
    if (pid < 0) {
        result.outcome = kCrash;
        result.status = -1;
        return result;
    }
    setpgid(pid, pid);
    int status = 0;
    bool timedOut = false;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (now() - started > timeoutSeconds) {
            timedOut = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(2000);
    }
    // Workers of a parallel scan left behind belong to the run's group.
    kill(-pid, SIGKILL);
    result.seconds = now() - started;
    result.status = status;
    std::string errors = readText(dir + "/stderr.txt");
    if (timedOut)
        result.outcome = kHang;
    else if (contains(errors, "Sanitizer") || contains(errors, "runtime error:"))
        result.outcome = kSanitizer;
    // A rescue of damaged files that ran to its end says so with 1 (a
    // command failed) or 3 (an unload was incomplete); the sanitizers' own
    // exit status is caught by their reports above.
    else if (WIFSIGNALED(status) || !WIFEXITED(status) ||
             (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1 && WEXITSTATUS(status) != 3))
        result.outcome = kCrash;
    return result;
}

// ---------------------------------------------------------------------------
// The export dumps of the DMP pass: whatever the damage, each dump that was
// written parses to its end (every row with the table's column count of
// elements, the data end, EXIT); a table whose dictionary rows are gone
// writes none.
// ---------------------------------------------------------------------------
std::string checkDumpFiles(const std::string &dir, size_t tables) {
    std::string report;
    for (size_t i = 0; i < tables; i++) {
        std::string path = dir + "/" + passName("d", i, "dmp");
        struct stat st;
        if (stat(path.c_str(), &st) != 0) continue;
        exportfile::File file;
        bool parsed = exportfile::readFile(path.c_str(), &file);
        if (parsed && file.error.empty() && file.endsWithExit && file.tables.size() == 1) continue;
        report += "  " + passName("d", i, "dmp") + ": " + (file.error.empty() ? "no table or no EXIT" : file.error) +
                  "\n";
    }
    return report;
}

// ---------------------------------------------------------------------------
// Judging the rows
// ---------------------------------------------------------------------------
struct DamageMap {
    std::set<uint32_t> damaged;   // RDBAs of blocks that differ from the original or are gone
};

void findDamagedBlocks(const Database *db, const RunPlan *plan, DamageMap *map) {
    for (size_t i = 0; i < db->files.size(); i++) {
        const Datafile &original = db->files[i];
        const Datafile &copy = plan->files[i];
        uint32_t blocks = (uint32_t)(original.bytes.size() / kBlockSize);
        for (uint32_t b = 0; b < blocks; b++) {
            size_t at = (size_t)b * kBlockSize;
            if (copy.bytes.size() < at + kBlockSize ||
                memcmp(&copy.bytes[at], &original.bytes[at], kBlockSize) != 0)
                map->damaged.insert(blockAddress(original.rfn, b));
        }
    }
}

bool blockIntact(const DamageMap *map, uint32_t rdba) { return map->damaged.count(rdba) == 0; }

// CHECK learns a file's number from its header block; a damaged header
// can claim another file's number, and then the file listed later wins the
// number.  So a block is reachable when the header of its own file and of
// every file after it in the configuration are intact.
bool fileHeadersIntact(const Database *db, const DamageMap *map, const std::vector<uint32_t> &blocks) {
    for (uint32_t rdba : blocks) {
        bool later = false;
        for (const Datafile &f : db->files) {
            later = later || f.rfn == (rdba >> 22);
            if (later && !blockIntact(map, blockAddress(f.rfn, 1))) return false;
        }
    }
    return true;
}

// A damaged block that ZOR takes as it reads: BLOCK_CHECK is off, or the
// damage left the checksum good.
bool damagedAndTrusted(const Database *db, const RunPlan *plan, const DamageMap *map, uint32_t rdba) {
    if (blockIntact(map, rdba)) return false;
    if (!plan->blockCheck) return true;
    for (size_t i = 0; i < db->files.size(); i++) {
        if (db->files[i].rfn != (rdba >> 22)) continue;
        size_t at = (size_t)(rdba & 0x3FFFFF) * kBlockSize;
        const std::vector<uint8_t> &bytes = plan->files[i].bytes;
        return bytes.size() >= at + kBlockSize && forge::foldChecksum(&bytes[at], kBlockSize) == 0;
    }
    return false;
}

struct TableOutcome {
    uint64_t expected, recovered, lostToDictionary;
    std::vector<std::string> missing;   // the first few records not found
};

// True when `record` is in `text` as a whole record (at the start or right
// after a record tag).
bool holdsRecord(const std::string &text, const std::string &record) {
    size_t from = 0;
    size_t tag = strlen(kRecordTag);
    while ((from = text.find(record, from)) != std::string::npos) {
        if (from == 0 || (from >= tag && text.compare(from - tag, tag, kRecordTag) == 0)) return true;
        from++;
    }
    return false;
}

void judgeTable(const Database *db, const RunPlan *plan, const DamageMap *map, const TableCheck *check,
                const std::string &output, TableOutcome *out) {
    out->expected = out->recovered = out->lostToDictionary = 0;
    out->missing.clear();
    if (plan->setting != kSettingNone) return;   // every block is read wrongly
    const std::vector<uint32_t> &access = check->dictionaryBlocks;
    bool dictionaryIntact = fileHeadersIntact(db, map, access);
    for (uint32_t rdba : access) dictionaryIntact = dictionaryIntact && blockIntact(map, rdba);
    // The bootstrap walks the extent map of the first segment header it
    // finds for a SYS segment: a damaged one that passes is walked as it
    // reads, and the rows of the extents it no longer names are not reached.
    for (uint32_t rdba : db->dictionaryHeaders)
        dictionaryIntact = dictionaryIntact && !damagedAndTrusted(db, plan, map, rdba);
    for (const forge::ManifestRow &row : check->table->rows) {
        if (row.deleted) continue;
        std::vector<uint32_t> blocks = rowBlocks(row);
        bool intact = fileHeadersIntact(db, map, blocks);
        for (uint32_t rdba : blocks) intact = intact && blockIntact(map, rdba);
        if (!intact) continue;
        if (!dictionaryIntact) {
            out->lostToDictionary++;
            continue;
        }
        out->expected++;
        char address[48];
        snprintf(address, sizeof address, "%d.%u.%u", (int32_t)row.rdba, row.table, row.slot);
        // The judged passes run with LOB_STORAGE NONE: LOB columns come out empty.
        forge::ManifestRow shown = row;
        for (size_t c = 0; c < shown.values.size() && c < check->table->columns.size(); c++) {
            forge::ColumnType type = check->table->columns[c].type;
            if (type == forge::kColumnClob || type == forge::kColumnNclob || type == forge::kColumnBlob)
                shown.values[c].text.clear();
        }
        std::string record = std::string(address) + kFieldTag + forge::manifestRecord(&shown, kFieldTag, kRecordTag);
        if (holdsRecord(output, record))
            out->recovered++;
        else if (out->missing.size() < 3)
            out->missing.push_back(record);
    }
}

// ---------------------------------------------------------------------------
// The campaign
// ---------------------------------------------------------------------------
struct Options {
    std::string zor;
    std::string work;
    uint64_t runs;
    uint64_t seed;
    double timeout;
    bool keep;
};

bool removeTree(const std::string &dir) {
    std::string command = "chmod -R u+w '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'";
    return system(command.c_str()) == 0;
}

bool writeRun(const std::string &dir, const Database *db, const RunPlan *plan, const std::string &script) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return false;
    mkdir((dir + "/ZORDICT").c_str(), 0777);
    mkdir((dir + "/LOBDATA").c_str(), 0777);
    for (const Datafile &f : plan->files) {
        std::string path = dir + "/" + f.name;
        if (!writeWholeFile(path, f.bytes.data(), f.bytes.size()) || chmod(path.c_str(), 0444) != 0) return false;
    }
    (void)db;
    std::string asmLog;
    if (plan->asmPass && !writeAsmRun(dir, plan, &asmLog)) return false;
    std::string log = plan->log + asmLog;
    return writeWholeFile(dir + "/zor.cfg", plan->config.data(), plan->config.size()) &&
           writeWholeFile(dir + "/rescue.zor", script.data(), script.size()) &&
           writeWholeFile(dir + "/mutations.txt", log.data(), log.size());
}

// ZOR reads datafiles and never writes them, damaged or not.
bool datafilesUnchanged(const std::string &dir, const RunPlan *plan) {
    for (const Datafile &f : plan->files) {
        std::vector<uint8_t> after;
        if (!readWholeFile(dir + "/" + f.name, &after) || after != f.bytes) return false;
    }
    return true;
}

bool parseNumber(const char *text, uint64_t *out) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') return false;
    *out = v;
    return true;
}

bool parseOptions(int argc, char **argv, Options *o) {
    o->work = "damage-work";
    o->runs = 300;
    o->seed = 1;
    o->timeout = 30;
    o->keep = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        uint64_t n = 0;
        if (a == "--zor" && hasValue) {
            o->zor = argv[++i];
        } else if (a == "--work" && hasValue) {
            o->work = argv[++i];
        } else if (a == "--runs" && hasValue && parseNumber(argv[i + 1], &n)) {
            o->runs = n;
            i++;
        } else if (a == "--seed" && hasValue && parseNumber(argv[i + 1], &n)) {
            o->seed = n;
            i++;
        } else if (a == "--timeout" && hasValue && parseNumber(argv[i + 1], &n) && n > 0) {
            o->timeout = (double)n;
            i++;
        } else if (a == "--keep") {
            o->keep = true;
        } else {
            fprintf(stderr, "usage: damage_campaign --zor PATH [--runs N] [--seed S] [--work DIR] "
                            "[--timeout SECONDS] [--keep]\n");
            return false;
        }
    }
    if (o->zor.empty()) {
        fprintf(stderr, "damage: --zor PATH is required\n");
        return false;
    }
    char resolved[4096];
    if (realpath(o->zor.c_str(), resolved) == nullptr) {
        fprintf(stderr, "damage: no ZOR at %s\n", o->zor.c_str());
        return false;
    }
    o->zor = resolved;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) return 2;
    // Only a directory this program made (it leaves a mark) is emptied.
    std::string mark = options.work + "/.damage-work";
    struct stat st;
    if (stat(options.work.c_str(), &st) == 0) {
        if (stat(mark.c_str(), &st) != 0) {
            fprintf(stderr, "damage: %s exists and is not a campaign directory\n", options.work.c_str());
            return 2;
        }
        removeTree(options.work);
    }
    if (mkdir(options.work.c_str(), 0777) != 0 || !writeWholeFile(mark, "", 0)) {
        fprintf(stderr, "damage: cannot create %s: %s\n", options.work.c_str(), strerror(errno));
        return 2;
    }
    Database db;
    if (!loadDatabase(options.work + "/sample", &db)) return 2;
    mkdir((options.work + "/failed").c_str(), 0777);

    uint64_t outcomes[kOutcomes] = {0, 0, 0, 0, 0};
    uint64_t settingRuns[kSettingKinds] = {0, 0, 0, 0};
    uint64_t mutationTotals[kMutationKinds] = {0};
    uint64_t blockCheckRuns = 0, extentMapRuns = 0, shortRuns = 0, dataFileOnlyRuns = 0, dumpFailures = 0;
    uint64_t passRuns[4] = {0, 0, 0, 0};
    uint64_t asmRuns = 0;
    double slowest = 0, total = 0;
    uint64_t sysDamageRuns[kSysDamages] = {};
    std::vector<std::string> failures;
    double started = now();
    for (uint64_t k = 0; k < options.runs; k++) {
        RunPlan plan;
        planRun(&db, options.seed + k, &plan);
        std::string script = rescueScript(&db, &plan);
        char name[64];
        snprintf(name, sizeof name, "run-%llu", (unsigned long long)plan.seed);
        std::string dir = options.work + "/" + name;
        if (!writeRun(dir, &db, &plan, script)) {
            fprintf(stderr, "damage: cannot write %s\n", dir.c_str());
            return 2;
        }
        RunResult result = runZor(options.zor, dir, options.timeout);
        if (result.outcome == kClean && !datafilesUnchanged(dir, &plan)) result.outcome = kWrite;
        outcomes[result.outcome]++;
        settingRuns[plan.setting]++;
        for (int m = 0; m < kMutationKinds; m++) mutationTotals[m] += plan.mutationCounts[m];
        blockCheckRuns += plan.blockCheck;
        extentMapRuns += plan.unloadBeforeScan;
        dataFileOnlyRuns += plan.dataFileOnly;
        if (plan.sysHeaderDamage >= 0) sysDamageRuns[plan.sysHeaderDamage]++;
        passRuns[0] += plan.dumpPass;
        passRuns[1] += plan.filterPass;
        passRuns[2] += plan.scanPass;
        passRuns[3] += plan.objectPass;
        asmRuns += plan.asmPass;
        total += result.seconds;
        if (result.seconds > slowest) slowest = result.seconds;

        DamageMap map;
        findDamagedBlocks(&db, &plan, &map);
        bool rowsShort = false;
        std::string report;
        for (size_t i = 0; i < db.tables.size(); i++) {
            TableCheck *check = &db.tables[i];
            TableOutcome outcome;
            judgeTable(&db, &plan, &map, check, readText(dir + "/" + outputName(i, false)), &outcome);
            check->expected += outcome.expected;
            check->recovered += outcome.recovered;
            check->lostToDictionary += outcome.lostToDictionary;
            if (outcome.recovered < outcome.expected) {
                rowsShort = true;
                char line[256];
                snprintf(line, sizeof line, "  %s: %llu of %llu rows of intact blocks\n", check->label.c_str(),
                         (unsigned long long)outcome.recovered, (unsigned long long)outcome.expected);
                report += line;
                for (const std::string &m : outcome.missing) report += "    missing: " + m.substr(0, 160) + "\n";
            }
        }
        shortRuns += rowsShort;
        std::string dumpReport = plan.dumpPass ? checkDumpFiles(dir, db.tables.size()) : std::string();
        bool dumpsBad = !dumpReport.empty();
        dumpFailures += dumpsBad;
        report += dumpReport;
        bool failed = result.outcome != kClean || rowsShort || dumpsBad;
        if (failed) {
            char line[256];
            snprintf(line, sizeof line, "run %llu (seed %llu): %s%s, status 0x%x, %.2fs; kept in %s/failed/%s\n",
                     (unsigned long long)k, (unsigned long long)plan.seed, kOutcomeNames[result.outcome],
                     rowsShort ? (result.outcome == kClean ? "; rows missing" : ", rows missing") : "", result.status,
                     result.seconds, options.work.c_str(), name);
            failures.push_back(line + report);
            fputs(failures.back().c_str(), stdout);
            std::string errors = readText(dir + "/stderr.txt");
            if (!errors.empty()) fprintf(stdout, "%s\n", errors.substr(0, 4000).c_str());
            fflush(stdout);
            std::string kept = options.work + "/failed/" + name;
            removeTree(kept);
            if (rename(dir.c_str(), kept.c_str()) != 0) fprintf(stderr, "damage: cannot keep %s\n", dir.c_str());
        } else if (!options.keep) {
            removeTree(dir);
        }
    }
    double elapsed = now() - started;

    printf("\nDamage campaign: %llu runs, seeds %llu..%llu, %s, at most %.0fs a run\n",
           (unsigned long long)options.runs, (unsigned long long)options.seed,
           (unsigned long long)(options.seed + options.runs - 1), options.zor.c_str(), options.timeout);
    printf("  runs                  %llu (%.1fs, slowest run %.2fs, mean %.2fs)\n", (unsigned long long)options.runs,
           elapsed, slowest, options.runs ? total / (double)options.runs : 0.0);
    printf("  crashes               %llu\n", (unsigned long long)outcomes[kCrash]);
    printf("  hangs                 %llu\n", (unsigned long long)outcomes[kHang]);
    printf("  sanitizer findings    %llu\n", (unsigned long long)outcomes[kSanitizer]);
    printf("  datafiles written     %llu\n", (unsigned long long)outcomes[kWrite]);
    printf("  runs missing rows     %llu\n", (unsigned long long)shortRuns);
    printf("  dumps out of step     %llu runs\n", (unsigned long long)dumpFailures);
    printf("  mutations            ");
    for (int m = 0; m < kMutationKinds; m++)
        printf(" %s %llu%s", kMutationNames[m], (unsigned long long)mutationTotals[m], m + 1 < kMutationKinds ? "," : "\n");
    printf("  wrong configuration   %llu runs (block size %llu, byte order %llu, header size %llu; no rows expected)\n",
           (unsigned long long)(options.runs - settingRuns[kSettingNone]), (unsigned long long)settingRuns[kSettingBlockSize],
           (unsigned long long)settingRuns[kSettingByteOrder], (unsigned long long)settingRuns[kSettingHeaderSize]);
    printf("  SYS header damage    ");
    for (int d = 0; d < kSysDamages; d++)
        printf(" %s %llu%s", kSysDamageNames[d], (unsigned long long)sysDamageRuns[d], d + 1 < kSysDamages ? "," : " runs\n");
    printf("  BLOCK_CHECK 1         %llu runs; only the data file damaged: %llu runs\n",
           (unsigned long long)blockCheckRuns, (unsigned long long)dataFileOnlyRuns);
    printf("  extra passes          UNLOAD before SCAN %llu, DMP %llu, filters and MAXCHAINS %llu, "
           "other scans %llu, UNLOAD OBJECT %llu runs\n",
           (unsigned long long)extentMapRuns, (unsigned long long)passRuns[0], (unsigned long long)passRuns[1],
           (unsigned long long)passRuns[2], (unsigned long long)passRuns[3]);
    printf("  disk groups           %llu runs also read their datafiles from damaged ASM disk images\n",
           (unsigned long long)asmRuns);
    printf("\nRows of intact blocks recovered (a row counts when every block holding a piece of it, its\n"
           "file's header and the blocks of its dictionary rows are intact):\n");
    printf("  %-32s %10s %10s %8s %14s\n", "table", "expected", "recovered", "share", "dict damaged");
    uint64_t allExpected = 0, allRecovered = 0, allLost = 0;
    for (const TableCheck &t : db.tables) {
        double share = t.expected ? 100.0 * (double)t.recovered / (double)t.expected : 100.0;
        printf("  %-32s %10llu %10llu %7.2f%% %14llu\n", t.label.c_str(), (unsigned long long)t.expected,
               (unsigned long long)t.recovered, share, (unsigned long long)t.lostToDictionary);
        allExpected += t.expected;
        allRecovered += t.recovered;
        allLost += t.lostToDictionary;
    }
    printf("  %-32s %10llu %10llu %7.2f%% %14llu\n", "all tables", (unsigned long long)allExpected,
           (unsigned long long)allRecovered, allExpected ? 100.0 * (double)allRecovered / (double)allExpected : 100.0,
           (unsigned long long)allLost);
    bool ok = failures.empty();
    printf("\ndamage: %s\n", ok ? "PASS" : "FAIL");
    if (!ok) {
        printf("Failed runs (repeat one with --seed SEED --runs 1 --keep):\n");
        for (const std::string &f : failures) fputs(f.c_str(), stdout);
    }
    return ok ? 0 : 1;
}
