// The text description read by the `forge` command: a line-oriented list of
// files, the blocks placed in them, configuration files and damage.  The
// whole description is parsed into a plan first and written afterwards, so
// a mistake on line 40 leaves no half-written set behind.
#include "forge/forge.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace forge {

namespace {

const size_t kNoFile = (size_t)-1;

struct Poke {
    uint32_t offset;
    std::vector<uint8_t> bytes;
};

enum ChecksumMode { kChecksumGood, kChecksumBad, kChecksumKeep };

struct BlockPlan {
    int line;
    uint32_t blockNo;
    CacheHeader cache;
    bool isData;
    DataBlockLayout data;
    bool itlGiven;  // the first `itl` line replaces the two default entries
    bool isCompressed;
    CompressedBlockLayout compressed;
    std::vector<std::vector<FieldValue>> keyValues;  // typed key rows by table-0 slot
    std::vector<Poke> pokes;
    ChecksumMode checksum;
    uint16_t badBy;
};

struct FilePlan {
    std::string name;
    DatafileLayout layout;
    std::vector<BlockPlan> blocks;
};

struct ConfigItem {
    bool verbatim;
    std::string text;  // verbatim line
    size_t file;       // kNoFile: every file of the description
    bool absolute;
};

struct ConfigPlan {
    std::string name;
    std::vector<ConfigItem> items;
};

enum DamageKind { kFlipBit, kFlipByte, kZero, kOverwrite, kReseal, kTruncate, kTruncateBlocks };

struct DamagePlan {
    int line;
    size_t file;
    DamageKind kind;
    uint32_t blockNo;
    uint32_t offset;
    uint32_t length;
    unsigned bit;
    uint64_t size;
    std::vector<uint8_t> bytes;
};

struct Defaults {
    uint32_t blockSize;
    ByteOrder order;
    uint8_t format;
    uint32_t dbid;
    char dbName[kDbNameLength + 1];
    uint32_t softwareVersion;
    uint32_t compatibleVersion;
    uint32_t scnBase;
    uint16_t scnWrap;
};

struct TablePlan {
    ManifestTable manifest;
    uint32_t objectNumber;  // OBJ#; 0: the data object id (or one allocated)
    size_t parent;          // a partition: the partitioned table; else kNoFile
    bool partitioned;       // has partitions (and no segment of its own)
    std::string highBound;  // a partition's upper bound text
    uint8_t iotKeyColumns = 0;  // index-organized: its first N columns are the key
    // Dropped: statements after the drop no longer find it by its name, so
    // a table of the same name may be declared again.
    SchemaDrop drop = kSchemaLive;
    std::string binName{};  // empty: derived from the OBJ#
    std::string dropTime{};
    uint64_t dropScn = 0;
    uint32_t overwrittenColumns = 0;
};

struct IndexPlan {
    int line;
    size_t table;
    SchemaIndex index;
};

// The rows a segment held when it was truncated, and the data object ids
// before and after.
struct Truncation {
    int line;
    uint32_t oldObjectId;
    uint32_t newObjectId;  // 0: the next number of the object counter
    bool reuse;            // REUSE STORAGE: the extents stay
    std::vector<TableRow> rows;
};

struct SegmentPlan {
    int line;
    size_t table;
    SegmentLayout layout;
    std::vector<TableRow> rows;  // since the last truncate
    std::vector<Truncation> truncations;
};

struct RecycleBinPlan {
    std::string owner, name;
    uint32_t objectNumber;
    uint32_t type;
};

struct LobPlan {
    int line;
    size_t table;
    size_t column;
    LobColumnLayout layout;
};

struct Plan {
    Defaults defaults;
    std::vector<FilePlan> files;
    std::vector<TablePlan> tables;
    std::vector<SegmentPlan> segments;
    std::vector<std::string> manifests;
    std::vector<SchemaUser> users;
    std::vector<IndexPlan> indexes;
    std::vector<LobPlan> lobs;
    bool hasDictionary;
    int dictionaryLine;
    size_t dictionaryFile;
    uint32_t dictionaryBlock;  // 0: after the file's last block in use
    size_t currentTable;
    bool inSegment;  // extent and insert lines go to the current segment
    size_t currentSegment;
    std::vector<RecycleBinPlan> recycleBin;
    bool usesRecycleBin;  // a drop or a recyclebin line: RECYCLEBIN$ is laid
    std::vector<ConfigPlan> configs;
    std::vector<DamagePlan> damages;
    size_t currentFile;
    bool inBlock;  // body lines (u8, row, ...) go to the last block of the current file
};

// One line split into words; a word in double quotes may hold blanks and
// the escapes \\ \" \n \t \xHH.
struct Words {
    std::vector<std::string> list;
    std::vector<bool> quoted;  // a quoted "null" is text, a bare null is NULL
};

struct Parser {
    int line;
    char *error;
    size_t errorLength;
};

bool fail(Parser *p, const char *format, ...) __attribute__((format(printf, 2, 3)));

bool fail(Parser *p, const char *format, ...) {
    if (p->error == nullptr || p->errorLength == 0) return false;
    int n = snprintf(p->error, p->errorLength, "line %d: ", p->line);
    if (n < 0 || (size_t)n >= p->errorLength) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(p->error + n, p->errorLength - (size_t)n, format, args);
    va_end(args);
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool splitWords(Parser *p, const char *line, size_t length, Words *words) {
    words->list.clear();
    words->quoted.clear();
    size_t i = 0;
    while (i < length) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
            i++;
            continue;
        }
        if (c == '#') break;
        std::string word;
        words->quoted.push_back(c == '"');
        if (c == '"') {
            i++;
            bool closed = false;
            while (i < length) {
                c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c != '\\' || i >= length) {
                    word.push_back(c);
                    continue;
                }
                c = line[i++];
                if (c == 'n') {
                    word.push_back('\n');
                } else if (c == 't') {
                    word.push_back('\t');
                } else if (c == 'x' && i + 1 < length && hexValue(line[i]) >= 0 &&
                           hexValue(line[i + 1]) >= 0) {
                    word.push_back((char)(hexValue(line[i]) * 16 + hexValue(line[i + 1])));
                    i += 2;
                } else {
                    word.push_back(c);
                }
            }
            if (!closed) return fail(p, "unterminated quoted word");
        } else {
            while (i < length && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '\v' && line[i] != '\f')
                word.push_back(line[i++]);
        }
        words->list.push_back(word);
    }
    return true;
}

// Numbers are decimal, or hexadecimal after 0x.  A leading zero does not
// mean octal: block dumps print decimal offsets with leading zeros.
bool parseUnsigned(const std::string &text, uint64_t limit, uint64_t *out) {
    const char *s = text.c_str();
    int base = 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (*s == '\0') return false;
    uint64_t value = 0;
    for (; *s != '\0'; s++) {
        int digit = base == 16 ? hexValue(*s) : (*s >= '0' && *s <= '9' ? *s - '0' : -1);
        if (digit < 0) return false;
        if (value > (UINT64_MAX - (uint64_t)digit) / (uint64_t)base) return false;
        value = value * (uint64_t)base + (uint64_t)digit;
    }
    if (value > limit) return false;
    *out = value;
    return true;
}

bool parseSigned(const std::string &text, long long *out) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!parseUnsigned(negative ? text.substr(1) : text, (uint64_t)LLONG_MAX, &magnitude))
        return false;
    *out = negative ? -(long long)magnitude : (long long)magnitude;
    return true;
}

// Oracle's dotted notation, "0x0006.017.000003e9" or "6.23.1001": with a
// leading 0x every part is hexadecimal, without it every part is decimal.
bool parseDotted(const std::string &text, size_t parts, uint64_t *out) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string rest = hex ? text.substr(2) : text;
    for (size_t i = 0; i < parts; i++) {
        size_t dot = rest.find('.');
        std::string part = i + 1 < parts ? rest.substr(0, dot) : rest;
        if (i + 1 < parts && dot == std::string::npos) return false;
        if (!parseUnsigned(hex ? "0x" + part : part, UINT32_MAX, &out[i])) return false;
        if (i + 1 < parts) rest = rest.substr(dot + 1);
    }
    return true;
}

bool parseHexBytes(const std::string &text, std::vector<uint8_t> *out) {
    out->clear();
    std::string digits;
    for (char c : text)
        if (c != ':' && c != '_') digits.push_back(c);
    if (digits.size() % 2 != 0) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        int high = hexValue(digits[i]), low = hexValue(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        out->push_back((uint8_t)(high * 16 + low));
    }
    return true;
}

bool parseFormat(const std::string &text, uint8_t *out) {
    if (text == "02" || text == "0x02" || text == "2") *out = kFormat02;
    else if (text == "a2" || text == "A2" || text == "0xa2" || text == "0xA2") *out = kFormatA2;
    else if (text == "c2" || text == "C2" || text == "0xc2" || text == "0xC2") *out = kFormatC2;
    else {
        uint64_t value = 0;
        if (!parseUnsigned(text, 0xFF, &value)) return false;
        *out = (uint8_t)value;  // any byte, for tests of unknown formats
    }
    return true;
}

bool parseOrder(const std::string &text, ByteOrder *out) {
    if (text == "little" || text == "le" || text == "0") *out = kLittleEndian;
    else if (text == "big" || text == "be" || text == "1") *out = kBigEndian;
    else return false;
    return true;
}

// Flag letters in Oracle's dump order: "--H-FL--" for rows (KCHDFLPN),
// "C---" / "--U-" for ITL entries (CBUT); or a number.
bool parseLetters(const std::string &text, const char *letters, uint64_t limit, uint64_t *out) {
    size_t width = strlen(letters);
    if (text.size() == width && text.find_first_not_of(std::string("-") + letters) == std::string::npos) {
        uint64_t value = 0;
        for (size_t i = 0; i < width; i++) {
            if (text[i] == letters[i]) value |= 1u << (width - 1 - i);
            else if (text[i] != '-') return false;
        }
        *out = value;
        return true;
    }
    return parseUnsigned(text, limit, out);
}

// Reads "KEY VALUE" pairs and single-word switches from position `from`.
struct Options {
    const Words *words;
    size_t at;
};

bool needValue(Parser *p, Options *o, const char *key, std::string *value) {
    if (o->at + 1 >= o->words->list.size()) return fail(p, "%s needs a value", key);
    *value = o->words->list[o->at + 1];
    o->at += 2;
    return true;
}

bool needNumber(Parser *p, Options *o, const char *key, uint64_t limit, uint64_t *out) {
    std::string value;
    if (!needValue(p, o, key, &value)) return false;
    if (!parseUnsigned(value, limit, out))
        return fail(p, "%s: '%s' is not a number up to %llu", key, value.c_str(),
                    (unsigned long long)limit);
    return true;
}

bool numberArgument(Parser *p, const Words *w, size_t index, const char *what, uint64_t limit,
                    uint64_t *out) {
    if (index >= w->list.size()) return fail(p, "missing %s", what);
    if (!parseUnsigned(w->list[index], limit, out))
        return fail(p, "%s: '%s' is not a number up to %llu", what, w->list[index].c_str(),
                    (unsigned long long)limit);
    return true;
}

size_t findFile(const Plan *plan, const std::string &name) {
    for (size_t i = 0; i < plan->files.size(); i++)
        if (plan->files[i].name == name) return i;
    // A number names a file by its relative file number.
    uint64_t rfn = 0;
    if (parseUnsigned(name, 0xFFFF, &rfn))
        for (size_t i = 0; i < plan->files.size(); i++)
            if (plan->files[i].layout.rfn == rfn) return i;
    return kNoFile;
}

// A table by NAME or OWNER.NAME (partitions are found through their table).
size_t findTable(const Plan *plan, const std::string &name) {
    for (size_t i = 0; i < plan->tables.size(); i++) {
        const TablePlan &t = plan->tables[i];
        if (t.parent != kNoFile || t.drop != kSchemaLive)
            continue;
        if (t.manifest.name == name || (!t.manifest.owner.empty() && t.manifest.owner + "." + t.manifest.name == name))
            return i;
    }
    return kNoFile;
}

size_t findPartition(const Plan *plan, size_t table, const std::string &name) {
    for (size_t i = 0; i < plan->tables.size(); i++)
        if (plan->tables[i].parent == table && plan->tables[i].manifest.partition == name) return i;
    return kNoFile;
}

// A LOB value: [@FORM,FORM...:]CONTENT, FORM one of short, nosize, out,
// stale, securefile; CONTENT text (CLOB, NCLOB) or hex digits (BLOB), rep:TEXT:COUNT
// (the text repeated, up to 16 MB), bin:COUNT (bytes i * 7 + 3), or empty.
bool parseLobValue(Parser *p, const ColumnDef *column, const std::string &word, bool quoted, FieldValue *out) {
    std::string rest = word;
    uint8_t form = 0;
    if (!quoted && !rest.empty() && rest[0] == '@') {
        size_t colon = rest.find(':');
        if (colon == std::string::npos) return fail(p, "a LOB form is @FORM:CONTENT");
        std::string forms = rest.substr(1, colon - 1) + ",";
        rest = rest.substr(colon + 1);
        for (size_t at = 0, comma; (comma = forms.find(',', at)) != std::string::npos; at = comma + 1) {
            std::string f = forms.substr(at, comma - at);
            if (f == "short") form |= kLobFormShort;
            else if (f == "nosize") form |= kLobFormNoSize;
            else if (f == "out") form |= kLobFormOutOfRow;
            else if (f == "stale") form |= kLobFormStale;
            else if (f == "securefile")
                form |= kLobFormSecureFile;
            else return fail(p, "unknown LOB form '%s'", f.c_str());
        }
    }
    bool blob = column->type == kColumnBlob;
    std::vector<uint8_t> bytes;
    if (!quoted && rest.compare(0, 4, "bin:") == 0) {
        uint64_t count = 0;
        if (!parseUnsigned(rest.substr(4), 1u << 24, &count)) return fail(p, "bin is bin:COUNT");
        for (uint64_t i = 0; i < count; i++) bytes.push_back((uint8_t)(i * 7 + 3));
    } else {
        std::string literal = rest;
        if (!quoted && rest.compare(0, 4, "rep:") == 0) {
            size_t colon = rest.rfind(':');
            uint64_t count = 0;
            if (colon <= 4 || !parseUnsigned(rest.substr(colon + 1), 1u << 24, &count))
                return fail(p, "rep is rep:TEXT:COUNT");
            std::string unit = rest.substr(4, colon - 4);
            literal.clear();
            for (uint64_t i = 0; i < count && literal.size() <= (1u << 24); i++) literal += unit;
        }
        if (!quoted && literal == "empty") literal.clear();
        if (blob && !literal.empty() && rest.compare(0, 4, "rep:") == 0) {
            bytes.assign(literal.begin(), literal.end());
        } else {
            char reason[256];
            if (!makeFieldValue(column, literal.c_str(), out, reason, sizeof reason))
                return fail(p, "column %s: %s", column->name.c_str(), reason);
            bytes = out->bytes;
        }
    }
    out->isNull = false;
    out->bytes = bytes;
    out->text.assign(bytes.begin(), bytes.end());
    out->lobForm = form;
    return true;
}

// One typed value: a bare null is NULL; rep:TEXT:COUNT repeats TEXT; any
// other word is a literal of the column's type.
bool parseTypedValue(Parser *p, const ColumnDef *column, const std::string &word, bool quoted,
                     FieldValue *out) {
    if (!quoted && word == "null") {
        setNullField(out);
        return true;
    }
    if (column->type == kColumnClob || column->type == kColumnNclob || column->type == kColumnBlob)
        return parseLobValue(p, column, word, quoted, out);
    std::string literal = word;
    if (!quoted && word.compare(0, 4, "rep:") == 0) {
        size_t colon = word.rfind(':');
        uint64_t count = 0;
        if (colon <= 4 || !parseUnsigned(word.substr(colon + 1), 0xFFFF, &count))
            return fail(p, "rep is rep:TEXT:COUNT");
        std::string unit = word.substr(4, colon - 4);
        literal.clear();
        for (uint64_t i = 0; i < count && literal.size() <= 0x20000; i++) literal += unit;
    }
    char reason[256];
    if (!makeFieldValue(column, literal.c_str(), out, reason, sizeof reason))
        return fail(p, "column %s: %s", column->name.c_str(), reason);
    return true;
}

// Values for the columns of `table` from word `from` on, appended to `out`
// starting at column `firstColumn`; missing trailing values are NULL.
bool parseTypedValues(Parser *p, const ManifestTable *table, const Words *w, size_t from,
                      size_t firstColumn, std::vector<FieldValue> *out) {
    size_t given = w->list.size() - from;
    if (firstColumn + given > table->columns.size())
        return fail(p, "%zu values for the %zu columns of %s", firstColumn + given,
                    table->columns.size(), table->name.c_str());
    for (size_t c = firstColumn; c < table->columns.size(); c++) {
        FieldValue v;
        size_t at = from + (c - firstColumn);
        if (at >= w->list.size()) setNullField(&v);
        else if (!parseTypedValue(p, &table->columns[c], w->list[at], w->quoted[at], &v)) return false;
        out->push_back(v);
    }
    return true;
}

// file NAME [rfn N] [ts N] [tsname NAME] [blocks N] ...
bool parseFile(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 2) return fail(p, "file needs a name");
    const std::string &name = w->list[1];
    if (name.empty() || name.size() > kMaxPath) return fail(p, "file name too long");
    if (findFile(plan, name) != kNoFile && plan->files[findFile(plan, name)].name == name)
        return fail(p, "file %s is described twice", name.c_str());
    const Defaults &d = plan->defaults;
    FilePlan file;
    file.name = name;
    DatafileLayout *s = &file.layout;
    initDatafileLayout(s, name.c_str(), (uint16_t)(plan->files.size() + 1), 100, d.blockSize, d.order);
    s->header.cache.format = d.format;
    s->header.cache.scnBase = d.scnBase;
    s->header.cache.scnWrap = d.scnWrap;
    s->header.dbid = d.dbid;
    snprintf(s->header.dbName, sizeof s->header.dbName, "%s", d.dbName);
    s->header.softwareVersion = d.softwareVersion;
    s->header.compatibleVersion = d.compatibleVersion;

    // Fields that follow from the file are set first, header overrides after.
    bool haveFileNumber = false, haveCount = false, haveSize = false, haveRdba = false;
    uint64_t fileNumber = 0, headerCount = 0, headerSize = 0, headerRdba = 0;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        std::string text;
        if (key == "rfn") {
            if (!needNumber(p, &o, "rfn", 1023, &v)) return false;
            s->rfn = (uint16_t)v;
        } else if (key == "blocks") {
            if (!needNumber(p, &o, "blocks", UINT32_MAX, &v)) return false;
            s->blockCount = (uint32_t)v;
        } else if (key == "blocksize") {
            if (!needNumber(p, &o, "blocksize", UINT32_MAX, &v)) return false;
            if (!isValidBlockSize((uint32_t)v)) return fail(p, "block size %llu is not an Oracle block size", (unsigned long long)v);
            s->blockSize = (uint32_t)v;
        } else if (key == "byteorder") {
            if (!needValue(p, &o, "byteorder", &text)) return false;
            if (!parseOrder(text, &s->order)) return fail(p, "byteorder is little or big");
        } else if (key == "format") {
            if (!needValue(p, &o, "format", &text)) return false;
            if (!parseFormat(text, &s->header.cache.format)) return fail(p, "bad format '%s'", text.c_str());
        } else if (key == "header") {
            if (!needNumber(p, &o, "header", UINT32_MAX, &v)) return false;
            s->headerSize = (uint32_t)v;
        } else if (key == "bigfile") {
            s->bigfile = true;
            o.at++;
        } else if (key == "ts") {
            if (!needNumber(p, &o, "ts", UINT32_MAX, &v)) return false;
            s->header.tsNumber = (uint32_t)v;
        } else if (key == "tsname") {
            if (!needValue(p, &o, "tsname", &text)) return false;
            if (text.size() > kMaxTablespaceName) return fail(p, "tablespace name longer than 30");
            snprintf(s->header.tsName, sizeof s->header.tsName, "%s", text.c_str());
        } else if (key == "tsnamelen") {
            if (!needNumber(p, &o, "tsnamelen", 0xFFFF, &v)) return false;
            s->header.tsNameLength = (int32_t)v;
        } else if (key == "fileno") {
            if (!needNumber(p, &o, "fileno", 0xFFFF, &fileNumber)) return false;
            haveFileNumber = true;
        } else if (key == "filetype") {
            if (!needNumber(p, &o, "filetype", 0xFFFF, &v)) return false;
            s->header.fileType = (uint16_t)v;
        } else if (key == "fuzzy") {
            if (!needNumber(p, &o, "fuzzy", 0xFFFF, &v)) return false;
            s->header.fuzzy = (uint16_t)v;
        } else if (key == "bootstrap") {
            if (!needNumber(p, &o, "bootstrap", UINT32_MAX, &v)) return false;
            s->header.bootstrapRdba = (uint32_t)v;
        } else if (key == "controlseq") {
            if (!needNumber(p, &o, "controlseq", UINT32_MAX, &v)) return false;
            s->header.controlSeq = (uint32_t)v;
        } else if (key == "hdrblocks") {
            if (!needNumber(p, &o, "hdrblocks", UINT32_MAX, &headerCount)) return false;
            haveCount = true;
        } else if (key == "hdrblocksize") {
            if (!needNumber(p, &o, "hdrblocksize", UINT32_MAX, &headerSize)) return false;
            haveSize = true;
        } else if (key == "hdrrdba") {
            if (!needNumber(p, &o, "hdrrdba", UINT32_MAX, &headerRdba)) return false;
            haveRdba = true;
        } else if (key == "osblock") {
            if (!needValue(p, &o, "osblock", &text)) return false;
            if (text == "plain") s->osBlock = kOsBlockPlain;
            else if (text == "zero") s->osBlock = kOsBlockZero;
            else if (text == "none") s->writeOsBlock = false;
            else return fail(p, "osblock is plain, zero or none");
        } else if (key == "noheader") {
            s->writeFileHeader = false;
            o.at++;
        } else {
            return fail(p, "unknown file option '%s'", key.c_str());
        }
    }
    syncFileHeader(s);
    if (haveFileNumber) s->header.fileNumber = (uint16_t)fileNumber;
    if (haveCount) s->header.blockCount = (uint32_t)headerCount;
    if (haveSize) s->header.blockSize = (uint32_t)headerSize;
    if (haveRdba) s->header.cache.rdba = (uint32_t)headerRdba;
    if (s->writeFileHeader && tablespaceOffset(s->header.cache.format) == 0)
        return fail(p, "a file header needs format 02, a2 or c2 (or noheader)");
    plan->files.push_back(file);
    plan->currentFile = plan->files.size() - 1;
    plan->inBlock = false;
    plan->inSegment = false;
    return true;
}

// block [FILE:]N [type T] [format F] [rdba R] [scn S] [wrap W] [seq Q] [flag F]
//       [checksum good|bad|keep] [badby N] [notail]
bool parseBlock(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 2) return fail(p, "block needs a block number");
    std::string where = w->list[1];
    size_t file = plan->currentFile;
    size_t colon = where.rfind(':');
    if (colon != std::string::npos) {
        file = findFile(plan, where.substr(0, colon));
        if (file == kNoFile) return fail(p, "no file '%s'", where.substr(0, colon).c_str());
        where = where.substr(colon + 1);
    }
    if (file == kNoFile) return fail(p, "block before any file");
    FilePlan *f = &plan->files[file];
    uint64_t blockNo = 0;
    if (!parseUnsigned(where, UINT32_MAX, &blockNo)) return fail(p, "bad block number '%s'", where.c_str());
    if (blockNo >= f->layout.blockCount)
        return fail(p, "block %llu is beyond the %u blocks of %s", (unsigned long long)blockNo,
                    f->layout.blockCount, f->name.c_str());
    BlockPlan b;
    b.line = p->line;
    b.blockNo = (uint32_t)blockNo;
    initCacheHeader(&b.cache, kTypeData, blockRdba(&f->layout, (uint32_t)blockNo));
    b.cache.format = f->layout.header.cache.format;
    b.cache.scnBase = plan->defaults.scnBase;
    b.cache.scnWrap = plan->defaults.scnWrap;
    b.isData = false;
    b.itlGiven = false;
    b.isCompressed = false;
    b.checksum = kChecksumGood;
    b.badBy = 1;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        std::string text;
        if (key == "type") {
            if (!needNumber(p, &o, "type", 0xFF, &v)) return false;
            b.cache.type = (uint8_t)v;
        } else if (key == "format") {
            if (!needValue(p, &o, "format", &text)) return false;
            if (!parseFormat(text, &b.cache.format)) return fail(p, "bad format '%s'", text.c_str());
        } else if (key == "rdba") {
            if (!needNumber(p, &o, "rdba", UINT32_MAX, &v)) return false;
            b.cache.rdba = (uint32_t)v;
        } else if (key == "scn") {
            if (!needNumber(p, &o, "scn", UINT32_MAX, &v)) return false;
            b.cache.scnBase = (uint32_t)v;
        } else if (key == "wrap") {
            if (!needNumber(p, &o, "wrap", 0xFFFF, &v)) return false;
            b.cache.scnWrap = (uint16_t)v;
        } else if (key == "seq") {
            if (!needNumber(p, &o, "seq", 0xFF, &v)) return false;
            b.cache.sequence = (uint8_t)v;
        } else if (key == "flag") {
            if (!needNumber(p, &o, "flag", 0xFF, &v)) return false;
            b.cache.flag = (uint8_t)v;
        } else if (key == "checksum") {
            if (!needValue(p, &o, "checksum", &text)) return false;
            if (text == "good") b.checksum = kChecksumGood;
            else if (text == "bad") b.checksum = kChecksumBad;
            else if (text == "keep") b.checksum = kChecksumKeep;
            else return fail(p, "checksum is good, bad or keep");
        } else if (key == "badby") {
            if (!needNumber(p, &o, "badby", 0xFFFF, &v)) return false;
            if (v == 0) return fail(p, "badby must not be 0");
            b.checksum = kChecksumBad;
            b.badBy = (uint16_t)v;
        } else if (key == "notail") {
            b.cache.writeTail = false;
            o.at++;
        } else {
            return fail(p, "unknown block option '%s'", key.c_str());
        }
    }
    f->blocks.push_back(b);
    plan->currentFile = file;
    plan->inBlock = true;
    plan->inSegment = false;
    return true;
}

BlockPlan *currentBlock(Plan *plan) {
    if (!plan->inBlock || plan->currentFile == kNoFile) return nullptr;
    return &plan->files[plan->currentFile].blocks.back();
}

ByteOrder currentOrder(const Plan *plan) { return plan->files[plan->currentFile].layout.order; }

uint32_t currentBlockSize(const Plan *plan) { return plan->files[plan->currentFile].layout.blockSize; }

// u8/u16/u32/be16/be32/le16/le32 OFF VALUE, hex OFF BYTES, text OFF WORD,
// fill OFF LEN BYTE: raw bytes written after the block is laid out.
bool parsePoke(Parser *p, Plan *plan, const Words *w, bool *handled) {
    const std::string &op = w->list[0];
    int width = 0;
    ByteOrder order = kLittleEndian;
    bool explicitOrder = false;
    if (op == "u8") {
        width = 1;
    } else if (op == "u16" || op == "u32") {
        width = op == "u16" ? 2 : 4;
    } else if (op == "be16" || op == "le16" || op == "be32" || op == "le32") {
        width = op[2] == '1' ? 2 : 4;
        explicitOrder = true;
        order = op[0] == 'b' ? kBigEndian : kLittleEndian;
    } else if (op != "hex" && op != "text" && op != "fill") {
        *handled = false;
        return true;
    }
    *handled = true;
    BlockPlan *b = currentBlock(plan);
    if (b == nullptr) return fail(p, "%s outside a block", op.c_str());
    if (!explicitOrder) order = currentOrder(plan);
    uint32_t size = currentBlockSize(plan);
    uint64_t offset = 0;
    if (!numberArgument(p, w, 1, "offset", size - 1, &offset)) return false;
    Poke poke;
    poke.offset = (uint32_t)offset;
    if (width > 0) {
        uint64_t value = 0;
        uint64_t limit = width == 1 ? 0xFF : width == 2 ? 0xFFFF : UINT32_MAX;
        if (!numberArgument(p, w, 2, "value", limit, &value)) return false;
        poke.bytes.resize((size_t)width);
        if (width == 1) poke.bytes[0] = (uint8_t)value;
        else if (width == 2) storeU16(poke.bytes.data(), (uint16_t)value, order);
        else storeU32(poke.bytes.data(), (uint32_t)value, order);
    } else if (op == "hex") {
        if (w->list.size() < 3 || !parseHexBytes(w->list[2], &poke.bytes))
            return fail(p, "hex needs an even number of hex digits");
    } else if (op == "text") {
        if (w->list.size() < 3) return fail(p, "text needs a word");
        poke.bytes.assign(w->list[2].begin(), w->list[2].end());
    } else {
        uint64_t length = 0, value = 0;
        if (!numberArgument(p, w, 2, "length", size, &length)) return false;
        if (!numberArgument(p, w, 3, "byte", 0xFF, &value)) return false;
        poke.bytes.assign((size_t)length, (uint8_t)value);
    }
    if (poke.bytes.size() > size - poke.offset)
        return fail(p, "%zu bytes at %u run past the end of the block", poke.bytes.size(), poke.offset);
    b->pokes.push_back(poke);
    return true;
}

// data [objd N] [csc BASE] [cscwrap W] [flag38 F] [dataflag F] [tables N]
bool parseData(Parser *p, Plan *plan, const Words *w) {
    BlockPlan *b = currentBlock(plan);
    if (b == nullptr) return fail(p, "data outside a block");
    if (!b->isData) {
        initDataBlockLayout(&b->data, b->cache.rdba, 0);
        b->isData = true;
    }
    Options o = {w, 1};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "objd") {
            if (!needNumber(p, &o, "objd", UINT32_MAX, &v)) return false;
            b->data.objectId = (uint32_t)v;
        } else if (key == "csc") {
            if (!needNumber(p, &o, "csc", UINT32_MAX, &v)) return false;
            b->data.cleanScnBase = (uint32_t)v;
        } else if (key == "cscwrap") {
            if (!needNumber(p, &o, "cscwrap", 0xFFFF, &v)) return false;
            b->data.cleanScnWrap = (uint16_t)v;
        } else if (key == "flag38") {
            if (!needNumber(p, &o, "flag38", 0xFF, &v)) return false;
            b->data.headerFlag = (uint8_t)v;
        } else if (key == "dataflag") {
            if (!needNumber(p, &o, "dataflag", 0xFF, &v)) return false;
            b->data.dataFlag = (uint8_t)v;
        } else if (key == "tables") {
            if (!needNumber(p, &o, "tables", 255, &v)) return false;
            b->data.tableCount = (uint16_t)v;
        } else if (key == "compressed") {
            if (!b->isCompressed) initCompressedBlockLayout(&b->compressed, b->cache.rdba, 0);
            b->isCompressed = true;
            o.at++;
        } else {
            return fail(p, "unknown data option '%s'", key.c_str());
        }
    }
    return true;
}

// itl [xid USN.SLOT.WRAP] [uba RDBA.SEQ.REC] [flag C---|N] [lock N] [fsc N] [scn N]
bool parseItl(Parser *p, Plan *plan, const Words *w) {
    BlockPlan *b = currentBlock(plan);
    if (b == nullptr || !b->isData) return fail(p, "itl outside a data block (start it with 'data')");
    if (!b->itlGiven) {
        b->data.itl.clear();
        b->itlGiven = true;
    }
    ItlEntry e;
    initItlEntry(&e);
    Options o = {w, 1};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        uint64_t parts[3];
        std::string text;
        if (key == "xid") {
            if (!needValue(p, &o, "xid", &text)) return false;
            if (!parseDotted(text, 3, parts)) return fail(p, "xid is USN.SLOT.WRAP");
            e.xidUsn = (uint16_t)parts[0];
            e.xidSlot = (uint16_t)parts[1];
            e.xidWrap = (uint32_t)parts[2];
        } else if (key == "uba") {
            if (!needValue(p, &o, "uba", &text)) return false;
            if (!parseDotted(text, 3, parts)) return fail(p, "uba is RDBA.SEQ.REC");
            e.ubaRdba = (uint32_t)parts[0];
            e.ubaSequence = (uint16_t)parts[1];
            e.ubaRecord = (uint8_t)parts[2];
        } else if (key == "flag") {
            if (!needValue(p, &o, "flag", &text)) return false;
            if (!parseLetters(text, "CBUT", 0xF, &v)) return fail(p, "ITL flag is like C--- or a number 0..15");
            e.flag = (uint8_t)v;
        } else if (key == "lock") {
            if (!needNumber(p, &o, "lock", 0xFFF, &v)) return false;
            e.lockCount = (uint16_t)v;
        } else if (key == "fsc") {
            if (!needNumber(p, &o, "fsc", 0xFFFF, &v)) return false;
            e.fsc = (uint16_t)v;
        } else if (key == "scn") {
            if (!needNumber(p, &o, "scn", UINT32_MAX, &v)) return false;
            e.scnBase = (uint32_t)v;
        } else {
            return fail(p, "unknown itl option '%s'", key.c_str());
        }
    }
    b->data.itl.push_back(e);
    return true;
}

// row [table T] [flag --H-FL--] [lock N] [deleted] [next RDBA.SLOT] [key SLOT]
//     [free] [raw HEX] then values: num N | str TEXT | hex HEX | null | rep BYTE COUNT
bool parseRow(Parser *p, Plan *plan, const Words *w) {
    BlockPlan *b = currentBlock(plan);
    if (b == nullptr || !b->isData) return fail(p, "row outside a data block (start it with 'data')");
    if (b->isCompressed) return fail(p, "a compressed block takes symbol and crow lines, not row");
    RowPiece row;
    initRowPiece(&row);
    bool deleted = false, clusterKey = false;
    size_t typedTable = kNoFile;
    Options o = {w, 1};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        std::string text;
        if (key == "of") {
            if (!needValue(p, &o, "of", &text)) return false;
            typedTable = findTable(plan, text);
            if (typedTable == kNoFile) return fail(p, "no table '%s'", text.c_str());
            if (plan->tables[typedTable].partitioned) return fail(p, "%s is partitioned", text.c_str());
        } else if (key == "values") {
            if (typedTable == kNoFile) return fail(p, "values needs 'of TABLE' first");
            o.at++;
            break;
        } else if (key == "clusterkey") {
            clusterKey = true;
            o.at++;
        } else if (key == "head") {
            uint64_t parts[2];
            if (!needValue(p, &o, "head", &text)) return false;
            if (!parseDotted(text, 2, parts) || parts[1] > 0xFFFF) return fail(p, "head is RDBA.SLOT");
            row.hasHeadAddress = true;
            row.headRdba = (uint32_t)parts[0];
            row.headSlot = (uint16_t)parts[1];
        } else if (key == "table") {
            if (!needNumber(p, &o, "table", 254, &v)) return false;
            row.table = (uint16_t)v;
        } else if (key == "flag") {
            if (!needValue(p, &o, "flag", &text)) return false;
            if (!parseLetters(text, "KCHDFLPN", 0xFF, &v)) return fail(p, "row flag is like --H-FL-- or a number");
            row.flag = (uint8_t)v;
        } else if (key == "lock") {
            if (!needNumber(p, &o, "lock", 0xFF, &v)) return false;
            row.lock = (uint8_t)v;
        } else if (key == "deleted") {
            deleted = true;
            o.at++;
        } else if (key == "next") {
            uint64_t parts[2];
            if (!needValue(p, &o, "next", &text)) return false;
            if (!parseDotted(text, 2, parts) || parts[1] > 0xFFFF) return fail(p, "next is RDBA.SLOT");
            row.hasNext = true;
            row.nextRdba = (uint32_t)parts[0];
            row.nextSlot = (uint16_t)parts[1];
        } else if (key == "key") {
            if (!needNumber(p, &o, "key", 0xFF, &v)) return false;
            row.hasClusterKeySlot = true;
            row.clusterKeySlot = (uint8_t)v;
        } else if (key == "free") {
            row.freeEntry = true;
            o.at++;
        } else if (key == "raw") {
            if (!needValue(p, &o, "raw", &text)) return false;
            if (!parseHexBytes(text, &row.raw) || row.raw.empty()) return fail(p, "raw needs hex bytes");
        } else if (key == "num") {
            long long number = 0;
            if (!needValue(p, &o, "num", &text)) return false;
            if (!parseSigned(text, &number)) return fail(p, "num needs an integer");
            std::vector<uint8_t> bytes = encodeNumber(number);
            addColumnBytes(&row, bytes.data(), bytes.size());
        } else if (key == "str") {
            if (!needValue(p, &o, "str", &text)) return false;
            addColumnBytes(&row, text.data(), text.size());
        } else if (key == "hex") {
            std::vector<uint8_t> bytes;
            if (!needValue(p, &o, "hex", &text)) return false;
            if (!parseHexBytes(text, &bytes)) return fail(p, "hex needs an even number of hex digits");
            addColumnBytes(&row, bytes.data(), bytes.size());
        } else if (key == "null") {
            addColumnNull(&row);
            o.at++;
        } else if (key == "rep") {
            // rep BYTE COUNT: a long value without writing it out.
            uint64_t count = 0;
            if (!numberArgument(p, w, o.at + 1, "rep byte", 0xFF, &v)) return false;
            if (!numberArgument(p, w, o.at + 2, "rep count", 0xFFFF, &count)) return false;
            o.at += 3;
            std::vector<uint8_t> bytes((size_t)count, (uint8_t)v);
            addColumnBytes(&row, bytes.data(), bytes.size());
        } else {
            return fail(p, "unknown row word '%s'", key.c_str());
        }
    }
    ManifestRow m;
    if (typedTable != kNoFile) {
        // Typed values, one per column; a cluster member's columns start
        // after its key row's.
        ManifestTable *t = &plan->tables[typedTable].manifest;
        if (!row.columns.empty()) return fail(p, "a typed row takes its values after 'values' only");
        m.rdba = b->cache.rdba;
        m.table = row.table;
        m.slot = 0;
        for (const RowPiece &r : b->data.rows)
            if (r.table == row.table) m.slot++;
        m.deleted = deleted;
        m.lock = row.lock;
        if (row.hasClusterKeySlot) {
            if (row.clusterKeySlot >= b->keyValues.size() || b->keyValues[row.clusterKeySlot].empty())
                return fail(p, "key %u is not a typed cluster key row of this block", row.clusterKeySlot);
            m.values = b->keyValues[row.clusterKeySlot];
        }
        size_t keyCount = m.values.size();
        if (!parseTypedValues(p, t, w, o.at, keyCount, &m.values)) return false;
        for (size_t i = keyCount; i < m.values.size(); i++) {
            if (m.values[i].isNull) addColumnNull(&row);
            else addColumnBytes(&row, m.values[i].bytes.data(), m.values[i].bytes.size());
        }
        while (!row.columns.empty() && row.columns.back().isNull) row.columns.pop_back();
    }
    if (row.columns.size() > 255) return fail(p, "a row piece holds at most 255 columns");
    if (deleted) row.flag |= kRowDeleted;
    // A piece that continues elsewhere is not the last one.
    if (row.hasNext) row.flag &= (uint8_t)~kRowLast;
    if (row.hasClusterKeySlot) row.flag |= kRowClusterMember;
    if (clusterKey) {
        if (row.table != 0) return fail(p, "cluster key rows belong to table 0");
        row.flag |= kRowClusterKey;
        row.hasClusterKeyInfo = true;  // counts and chain filled in when the block is built
    }
    if (clusterKey && typedTable != kNoFile) {
        size_t slot = 0;
        for (const RowPiece &r : b->data.rows)
            if (r.table == 0) slot++;
        if (b->keyValues.size() <= slot) b->keyValues.resize(slot + 1);
        b->keyValues[slot] = m.values;
    }
    b->data.rows.push_back(row);
    if (typedTable != kNoFile) plan->tables[typedTable].manifest.rows.push_back(m);
    return true;
}

// table [OWNER.]NAME [obj N] [objd N] [cluster T]
bool parseTable(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 2) return fail(p, "table needs a name");
    if (findTable(plan, w->list[1]) != kNoFile) return fail(p, "table %s is declared twice", w->list[1].c_str());
    TablePlan t;
    const std::string &full = w->list[1];
    size_t dot = full.find('.');
    if (dot != std::string::npos) {
        if (dot == 0 || dot + 1 == full.size()) return fail(p, "a table is NAME or OWNER.NAME");
        t.manifest.owner = full.substr(0, dot);
        t.manifest.name = full.substr(dot + 1);
    } else {
        t.manifest.name = full;
    }
    t.manifest.objectId = 0;
    t.manifest.clusterTable = 0;
    t.objectNumber = 0;
    t.parent = kNoFile;
    t.partitioned = false;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "objd") {
            if (!needNumber(p, &o, "objd", UINT32_MAX, &v)) return false;
            t.manifest.objectId = (uint32_t)v;
        } else if (key == "obj") {
            if (!needNumber(p, &o, "obj", UINT32_MAX, &v)) return false;
            t.objectNumber = (uint32_t)v;
        } else if (key == "cluster") {
            if (!needNumber(p, &o, "cluster", 254, &v)) return false;
            t.manifest.clusterTable = (uint16_t)v;
        } else if (key == "iot") {
            if (!needNumber(p, &o, "iot", 32, &v)) return false;
            if (v == 0) return fail(p, "iot takes the number of key columns (1 to 32)");
            t.iotKeyColumns = (uint8_t)v;
        } else {
            return fail(p, "unknown table option '%s'", key.c_str());
        }
    }
    plan->tables.push_back(t);
    plan->currentTable = plan->tables.size() - 1;
    plan->inBlock = false;
    plan->inSegment = false;
    return true;
}

// partition NAME [obj N] [objd N] [bound TEXT]: a range partition of the
// table declared last, after its columns.
bool parsePartition(Parser *p, Plan *plan, const Words *w) {
    if (plan->currentTable == kNoFile || plan->inBlock || plan->inSegment)
        return fail(p, "partition belongs after a table and its columns");
    if (w->list.size() < 2) return fail(p, "partition needs a name");
    size_t parent = plan->tables[plan->currentTable].parent != kNoFile ? plan->tables[plan->currentTable].parent
                                                                      : plan->currentTable;
    if (plan->tables[parent].manifest.clusterTable != 0) return fail(p, "a clustered table has no partitions");
    if (findPartition(plan, parent, w->list[1]) != kNoFile)
        return fail(p, "partition %s is declared twice", w->list[1].c_str());
    TablePlan t;
    t.manifest = plan->tables[parent].manifest;
    t.manifest.partition = w->list[1];
    t.manifest.objectId = 0;
    t.manifest.rows.clear();
    t.objectNumber = 0;
    t.parent = parent;
    t.partitioned = false;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "objd") {
            if (!needNumber(p, &o, "objd", UINT32_MAX, &v)) return false;
            t.manifest.objectId = (uint32_t)v;
        } else if (key == "obj") {
            if (!needNumber(p, &o, "obj", UINT32_MAX, &v)) return false;
            t.objectNumber = (uint32_t)v;
        } else if (key == "bound") {
            if (!needValue(p, &o, "bound", &t.highBound)) return false;
        } else {
            return fail(p, "unknown partition option '%s'", key.c_str());
        }
    }
    plan->tables[parent].partitioned = true;
    plan->tables.push_back(t);
    plan->currentTable = plan->tables.size() - 1;
    return true;
}

// user NAME [id N] [tablespace N] [role]
bool parseUser(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 2) return fail(p, "user needs a name");
    SchemaUser u;
    u.name = w->list[1];
    u.id = 0;
    u.tablespace = 0;
    u.role = false;
    bool haveId = false;
    for (const SchemaUser &other : plan->users)
        if (other.name == u.name) return fail(p, "user %s is declared twice", u.name.c_str());
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "id") {
            if (!needNumber(p, &o, "id", INT32_MAX, &v)) return false;
            u.id = (uint32_t)v;
            haveId = true;
        } else if (key == "tablespace") {
            if (!needNumber(p, &o, "tablespace", UINT32_MAX, &v)) return false;
            u.tablespace = (uint32_t)v;
        } else if (key == "role") {
            u.role = true;
            o.at++;
        } else {
            return fail(p, "unknown user option '%s'", key.c_str());
        }
    }
    if (!haveId) {
        // After the highest number given so far, and never SYS's or PUBLIC's.
        u.id = 100;
        for (const SchemaUser &other : plan->users)
            if (other.id >= u.id) u.id = other.id + 1;
    }
    plan->users.push_back(u);
    return true;
}

// index OWNER.NAME on TABLE [obj N] [objd N] [columns N] [unique]
bool parseIndex(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 4 || w->list[2] != "on") return fail(p, "index is OWNER.NAME on TABLE [options]");
    IndexPlan x;
    x.line = p->line;
    const std::string &full = w->list[1];
    size_t dot = full.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == full.size()) return fail(p, "an index is OWNER.NAME");
    x.index.owner = full.substr(0, dot);
    x.index.name = full.substr(dot + 1);
    size_t table = findTable(plan, w->list[3]);
    if (table == kNoFile) return fail(p, "no table '%s'", w->list[3].c_str());
    if (plan->tables[table].manifest.owner != x.index.owner)
        return fail(p, "index %s and its table belong to different users", full.c_str());
    x.index.table = plan->tables[table].manifest.name;
    x.table = table;
    x.index.objectNumber = x.index.dataObjectId = 0;
    x.index.columnCount = 1;
    x.index.unique = false;
    initSchemaSegment(&x.index.segment);
    Options o = {w, 4};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "obj") {
            if (!needNumber(p, &o, "obj", UINT32_MAX, &v)) return false;
            x.index.objectNumber = (uint32_t)v;
        } else if (key == "objd") {
            if (!needNumber(p, &o, "objd", UINT32_MAX, &v)) return false;
            x.index.dataObjectId = (uint32_t)v;
        } else if (key == "columns") {
            if (!needNumber(p, &o, "columns", 32, &v)) return false;
            x.index.columnCount = (uint32_t)v;
        } else if (key == "unique") {
            x.index.unique = true;
            o.at++;
        } else {
            return fail(p, "unknown index option '%s'", key.c_str());
        }
    }
    plan->indexes.push_back(x);
    return true;
}

// lob TABLE COLUMN objd N index N segment FILE FIRST BLOCKS indexat FILE FIRST
//     BLOCKS [chunk N] [type 0x28|0x1B] [inrow N] [locatorchunks N]
//     [leafentries N] [firstid N]
bool parseLob(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 3) return fail(p, "lob is TABLE COLUMN [options]");
    LobPlan l;
    l.line = p->line;
    l.table = findTable(plan, w->list[1]);
    if (l.table == kNoFile) return fail(p, "no table '%s'", w->list[1].c_str());
    const std::vector<ColumnDef> &columns = plan->tables[l.table].manifest.columns;
    l.column = kNoFile;
    for (size_t c = 0; c < columns.size(); c++)
        if (columns[c].name == w->list[2]) l.column = c;
    if (l.column == kNoFile) return fail(p, "no column '%s'", w->list[2].c_str());
    initLobColumnLayout(&l.layout, 0, 0);
    bool haveSegment = false, haveIndex = false;
    Options o = {w, 3};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "segment" || key == "indexat") {
            if (o.at + 3 >= w->list.size()) return fail(p, "%s is FILE FIRST BLOCKS", key.c_str());
            size_t file = findFile(plan, w->list[o.at + 1]);
            if (file == kNoFile) return fail(p, "no file '%s'", w->list[o.at + 1].c_str());
            uint64_t first = 0, count = 0;
            if (!numberArgument(p, w, o.at + 2, "first block", UINT32_MAX, &first)) return false;
            if (!numberArgument(p, w, o.at + 3, "blocks", UINT32_MAX, &count)) return false;
            if (key == "segment") {
                l.layout.file = file;
                l.layout.firstBlock = (uint32_t)first;
                l.layout.blocks = (uint32_t)count;
                haveSegment = true;
            } else {
                l.layout.indexFile = file;
                l.layout.indexFirstBlock = (uint32_t)first;
                l.layout.indexBlocks = (uint32_t)count;
                haveIndex = true;
            }
            o.at += 4;
            continue;
        }
        if (!needNumber(p, &o, key.c_str(), UINT32_MAX, &v)) return false;
        if (key == "objd") l.layout.segmentObjectId = (uint32_t)v;
        else if (key == "index") l.layout.indexObjectId = (uint32_t)v;
        else if (key == "chunk" && v >= 1) l.layout.chunk = (uint32_t)v;
        else if (key == "type" && (v == kLobBlockType || v == kLobBlockTypeOld)) l.layout.blockType = (uint8_t)v;
        else if (key == "inrow") l.layout.inRowLimit = (uint32_t)v;
        else if (key == "locatorchunks") l.layout.locatorChunks = (uint32_t)v;
        else if (key == "leafentries") l.layout.leafEntries = (uint32_t)v;
        else if (key == "firstid") l.layout.firstLobId = (uint32_t)v;
        else return fail(p, "unknown or bad lob option '%s'", key.c_str());
    }
    if (!haveSegment || !haveIndex) return fail(p, "lob needs segment and indexat");
    if (l.layout.segmentObjectId == 0 || l.layout.indexObjectId == 0) return fail(p, "lob needs objd and index");
    plan->lobs.push_back(l);
    plan->inSegment = false;
    return true;
}

// dictionary FILE [from BLOCK]
bool parseDictionary(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 2) return fail(p, "dictionary needs the SYSTEM file");
    if (plan->hasDictionary) return fail(p, "the dictionary is described on line %d already", plan->dictionaryLine);
    size_t file = findFile(plan, w->list[1]);
    if (file == kNoFile) return fail(p, "no file '%s'", w->list[1].c_str());
    plan->dictionaryBlock = 0;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "from") {
            if (!needNumber(p, &o, "from", UINT32_MAX, &v)) return false;
            if (v < 2) return fail(p, "blocks 0 and 1 hold the file's own headers");
            plan->dictionaryBlock = (uint32_t)v;
        } else {
            return fail(p, "unknown dictionary option '%s'", key.c_str());
        }
    }
    plan->hasDictionary = true;
    plan->dictionaryLine = p->line;
    plan->dictionaryFile = file;
    return true;
}

// column NAME TYPE[(N[,S])] [LENGTH] [notnull | not null] [invisible]
//        [encrypted | nosalt] [guard] [added VALUE [defaultsql TEXT] [noecol]]
//   varchar2(10), nvarchar2(20), char(4), raw(16): the width;
//   number(7,2), number(4): precision and scale; float: NUMBER of precision 126;
//   timestamp(3), timestamptz(3): the fraction digits.
bool parseColumn(Parser *p, Plan *plan, const Words *w) {
    if (plan->currentTable == kNoFile || plan->inBlock || plan->inSegment)
        return fail(p, "column belongs right after a table line");
    if (plan->tables[plan->currentTable].parent != kNoFile || plan->tables[plan->currentTable].partitioned)
        return fail(p, "columns come before the partitions");
    if (w->list.size() < 3) return fail(p, "column needs a name and a type");
    ColumnDef c;
    c.name = w->list[1];
    c.length = 0;
    std::string type = w->list[2];
    std::vector<uint64_t> arguments;
    size_t open = type.find('(');
    if (open != std::string::npos) {
        if (type.back() != ')') return fail(p, "type '%s' is TYPE(N) or TYPE(N,S)", type.c_str());
        std::string inside = type.substr(open + 1, type.size() - open - 2);
        type = type.substr(0, open);
        size_t at = 0;
        while (at <= inside.size()) {
            size_t comma = inside.find(',', at);
            std::string part = inside.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            uint64_t v = 0;
            if (!parseUnsigned(part, 4000, &v)) return fail(p, "'%s' in the type is not a number up to 4000", part.c_str());
            arguments.push_back(v);
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        if (arguments.size() > 2) return fail(p, "a type takes at most two numbers");
    }
    if (type == "float") {
        c.type = kColumnNumber;
        c.precision = arguments.empty() ? 126 : (uint32_t)arguments[0];
    } else if (!parseColumnType(type.c_str(), &c.type)) {
        return fail(p, "unknown type '%s'", type.c_str());
    } else if (!arguments.empty()) {
        switch (c.type) {
        case kColumnNumber:
            if (arguments[0] < 1 || arguments[0] > 38) return fail(p, "NUMBER precision is 1 to 38");
            c.precision = (uint32_t)arguments[0];
            c.scale = arguments.size() > 1 ? (int32_t)arguments[1] : 0;
            break;
        case kColumnTimestamp:
        case kColumnTimestampTz:
            if (arguments.size() > 1 || arguments[0] > 9) return fail(p, "a timestamp takes 0 to 9 fraction digits");
            c.scale = (int32_t)arguments[0];
            break;
        case kColumnVarchar2:
        case kColumnNvarchar2:
        case kColumnChar:
        case kColumnRaw:
            if (arguments.size() > 1 || arguments[0] == 0) return fail(p, "%s takes one width", type.c_str());
            c.length = (uint32_t)arguments[0];
            break;
        default: return fail(p, "%s takes no numbers", type.c_str());
        }
    }
    for (size_t i = 3; i < w->list.size(); i++) {
        const std::string &word = w->list[i];
        if (word == "notnull") {
            c.notNull = true;
        } else if (word == "not" && i + 1 < w->list.size() && w->list[i + 1] == "null") {
            c.notNull = true;
            i++;
        } else if (word == "invisible") {
            c.invisible = true;
        } else if (word == "encrypted") {
            c.encrypted = true;
        } else if (word == "nosalt") {
            c.encrypted = true;
            c.noSalt = true;
        } else if (word == "guard") {
            c.guard = true;
        } else if (word == "noecol") {
            c.defaultInEcol = false;
        } else if (word == "added" || word == "defaultsql") {
            if (i + 1 >= w->list.size())
                return fail(p, "%s needs a value", word.c_str());
            if (word == "added") {
                c.added = true;
                c.defaultLiteral = w->list[++i];
            } else {
                c.defaultSql = w->list[++i];
            }
        } else {
            uint64_t v = 0;
            if (!numberArgument(p, w, i, "length", 2000, &v)) return false;
            c.length = (uint32_t)v;
        }
    }
    if (c.guard && (c.type != kColumnRaw || c.added || c.encrypted || c.invisible))
        return fail(p, "a guard column is a plain raw column");
    if (c.added) {
        FieldValue check;
        char reason[256];
        if (!makeFieldValue(&c, c.defaultLiteral.c_str(), &check, reason, sizeof reason))
            return fail(p, "column %s: default: %s", c.name.c_str(), reason);
    }
    ManifestTable *t = &plan->tables[plan->currentTable].manifest;
    if (c.added && !c.notNull) {
        bool guarded = false;
        for (const ColumnDef &before : t->columns)
            guarded = guarded || before.guard;
        if (!guarded)
            return fail(p, "nullable added column %s needs a guard column before it", c.name.c_str());
    }
    if (t->columns.size() >= kMaxTableColumns)
        return fail(p, "at most %zu columns", kMaxTableColumns);
    t->columns.push_back(c);
    return true;
}

// segment TABLE [type 16|35] [headermap N] [mapentries N] [rowsperblock N]
//         [itls N] [flag38 F] [scn S]
bool parseSegment(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 2) return fail(p, "segment needs a table");
    SegmentPlan s;
    s.line = p->line;
    s.table = findTable(plan, w->list[1]);
    if (s.table == kNoFile) return fail(p, "no table '%s'", w->list[1].c_str());
    size_t from = 2;
    if (w->list.size() > 3 && w->list[2] == "partition") {
        size_t part = findPartition(plan, s.table, w->list[3]);
        if (part == kNoFile) return fail(p, "%s has no partition '%s'", w->list[1].c_str(), w->list[3].c_str());
        s.table = part;
        from = 4;
    } else if (plan->tables[s.table].partitioned) {
        return fail(p, "%s is partitioned: segment %s partition NAME", w->list[1].c_str(), w->list[1].c_str());
    }
    for (const SegmentPlan &other : plan->segments)
        if (other.table == s.table) return fail(p, "table %s has a segment already", w->list[1].c_str());
    initSegmentLayout(&s.layout, kTypeSegmentHeader, plan->tables[s.table].manifest.objectId);
    s.layout.scnBase = plan->defaults.scnBase;
    Options o = {w, from};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "type") {
            if (!needNumber(p, &o, "type", 0xFF, &v)) return false;
            if (v != kTypeSegmentHeader && v != kTypeAssmSegmentHeader) return fail(p, "segment type is 16 or 35");
            s.layout.headerType = (uint8_t)v;
        } else if (key == "headermap") {
            if (!needNumber(p, &o, "headermap", 0xFFFF, &v)) return false;
            s.layout.headerMapEntries = (uint32_t)v;
        } else if (key == "mapentries") {
            if (!needNumber(p, &o, "mapentries", 0xFFFF, &v)) return false;
            s.layout.mapBlockEntries = (uint32_t)v;
        } else if (key == "rowsperblock") {
            if (!needNumber(p, &o, "rowsperblock", 0xFFFF, &v)) return false;
            s.layout.rowsPerBlock = (uint32_t)v;
        } else if (key == "itls") {
            if (!needNumber(p, &o, "itls", 255, &v)) return false;
            if (v == 0) return fail(p, "itls is 1 to 255");
            s.layout.itlCount = (uint32_t)v;
        } else if (key == "flag38") {
            if (!needNumber(p, &o, "flag38", 0xFF, &v)) return false;
            s.layout.headerFlag = (uint8_t)v;
        } else if (key == "scn") {
            if (!needNumber(p, &o, "scn", UINT32_MAX, &v)) return false;
            s.layout.scnBase = (uint32_t)v;
        } else {
            return fail(p, "unknown segment option '%s'", key.c_str());
        }
    }
    plan->segments.push_back(s);
    plan->currentSegment = plan->segments.size() - 1;
    plan->inSegment = true;
    plan->inBlock = false;
    return true;
}

// extent FILE FIRSTBLOCK BLOCKS
bool parseExtent(Parser *p, Plan *plan, const Words *w) {
    if (!plan->inSegment) return fail(p, "extent outside a segment");
    if (w->list.size() != 4) return fail(p, "extent is FILE FIRSTBLOCK BLOCKS");
    if (!plan->segments[plan->currentSegment].truncations.empty())
        return fail(p, "extents come before the truncate");
    ExtentPlace e;
    e.file = findFile(plan, w->list[1]);
    if (e.file == kNoFile) return fail(p, "no file '%s'", w->list[1].c_str());
    uint64_t first = 0, count = 0;
    if (!numberArgument(p, w, 2, "first block", UINT32_MAX, &first)) return false;
    if (!numberArgument(p, w, 3, "blocks", UINT32_MAX, &count)) return false;
    e.firstBlock = (uint32_t)first;
    e.blocks = (uint32_t)count;
    plan->segments[plan->currentSegment].layout.extents.push_back(e);
    return true;
}

// insert [deleted] [migrated] [beforeadd] [lock N] [cut COLUMN[.OFFSET]]... values V...
bool parseInsert(Parser *p, Plan *plan, const Words *w) {
    if (!plan->inSegment) return fail(p, "insert outside a segment");
    SegmentPlan *s = &plan->segments[plan->currentSegment];
    TableRow row;
    initTableRow(&row);
    Options o = {w, 1};
    bool haveValues = false;
    bool beforeAdd = false;
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        std::string text;
        if (key == "deleted") {
            row.deleted = true;
            o.at++;
        } else if (key == "migrated") {
            row.migrated = true;
            o.at++;
        } else if (key == "beforeadd") {
            beforeAdd = true;
            o.at++;
        } else if (key == "lock") {
            if (!needNumber(p, &o, "lock", 0xFF, &v)) return false;
            row.lock = (uint8_t)v;
        } else if (key == "cut") {
            uint64_t parts[2] = {0, 0};
            if (!needValue(p, &o, "cut", &text)) return false;
            bool ok = text.find('.') == std::string::npos ? parseUnsigned(text, 0xFFFF, &parts[0])
                                                          : parseDotted(text, 2, parts);
            if (!ok || parts[0] > 0xFFFF) return fail(p, "cut is COLUMN or COLUMN.OFFSET (0-based)");
            RowCut cut = {(uint16_t)parts[0], (uint32_t)parts[1]};
            row.cuts.push_back(cut);
        } else if (key == "values") {
            o.at++;
            haveValues = true;
            break;
        } else {
            return fail(p, "unknown insert word '%s'", key.c_str());
        }
    }
    if (!haveValues) return fail(p, "insert needs 'values'");
    if (row.migrated && !row.cuts.empty()) return fail(p, "a row is either migrated or cut");
    const ManifestTable *table = &plan->tables[s->table].manifest;
    if (!parseTypedValues(p, table, w, o.at, 0, &row.values))
        return false;
    if (beforeAdd) {
        // A row written before the first ADD stores none of the columns
        // added since (nor their guard).
        size_t first = 0;
        while (first < table->columns.size() && !table->columns[first].added && !table->columns[first].guard)
            first++;
        if (first == table->columns.size())
            return fail(p, "beforeadd: %s has no added column", table->name.c_str());
        for (size_t c = first; c < row.values.size(); c++)
            if (!row.values[c].isNull)
                return fail(p, "beforeadd: column %s was added later and holds no value",
                            table->columns[c].name.c_str());
    }
    s->rows.push_back(row);
    return true;
}

// drop TABLE [bin NAME] [time "YYYY-MM-DD HH:MI:SS"] [scn N]
// drop TABLE purge [overwrite N]
bool parseDrop(Parser *p, Plan *plan, const Words *w)
{
    if (w->list.size() < 2)
        return fail(p, "drop needs a table");
    size_t table = findTable(plan, w->list[1]);
    if (table == kNoFile)
        return fail(p, "no table '%s'", w->list[1].c_str());
    TablePlan *t = &plan->tables[table];
    if (t->iotKeyColumns != 0)
        return fail(p, "dropping an index-organized table is not modelled");
    t->drop = kSchemaRecycleBin;
    t->dropTime = "2024-06-03 09:15:00";
    t->dropScn = plan->defaults.scnBase + 0x100;
    bool binGiven = false, timeGiven = false, scnGiven = false, overwriteGiven = false;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "purge") {
            t->drop = kSchemaPurged;
            o.at++;
        } else if (key == "overwrite") {
            if (!needNumber(p, &o, "overwrite", kMaxTableColumns, &v))
                return false;
            t->overwrittenColumns = (uint32_t)v;
            overwriteGiven = true;
        } else if (key == "bin") {
            if (!needValue(p, &o, "bin", &t->binName))
                return false;
            if (t->binName.empty() || t->binName.size() > 128)
                return fail(p, "a name is 1 to 128 bytes");
            binGiven = true;
        } else if (key == "time") {
            DateTime check;
            if (!needValue(p, &o, "time", &t->dropTime))
                return false;
            if (!parseDateTime(t->dropTime.c_str(), &check))
                return fail(p, "time is \"YYYY-MM-DD HH:MI:SS\"");
            timeGiven = true;
        } else if (key == "scn") {
            if (!needNumber(p, &o, "scn", UINT64_MAX, &t->dropScn))
                return false;
            scnGiven = true;
        } else {
            return fail(p, "unknown drop option '%s'", key.c_str());
        }
    }
    if (t->drop == kSchemaPurged && (binGiven || timeGiven || scnGiven))
        return fail(p,
                    "a purged table leaves nothing in the recycle bin (bin, time and scn go without purge)");
    if (t->drop != kSchemaPurged && overwriteGiven)
        return fail(p, "overwrite goes with purge");
    if (overwriteGiven && t->overwrittenColumns > t->manifest.columns.size())
        return fail(p, "%s has %zu columns", w->list[1].c_str(), t->manifest.columns.size());
    for (const LobPlan &l : plan->lobs)
        if (l.table == table)
            return fail(p, "dropping a table with LOB columns is not modelled");
    for (TablePlan &part : plan->tables)
        if (&part == t || part.parent == table)
            part.manifest.drop = t->drop;
    plan->usesRecycleBin = true;
    plan->inSegment = false;
    plan->inBlock = false;
    return true;
}

// truncate TABLE [partition P] [objd N] [reuse]
bool parseTruncate(Parser *p, Plan *plan, const Words *w)
{
    if (w->list.size() < 2)
        return fail(p, "truncate needs a table");
    size_t table = findTable(plan, w->list[1]);
    if (table == kNoFile)
        return fail(p, "no table '%s'", w->list[1].c_str());
    size_t from = 2;
    if (w->list.size() > 3 && w->list[2] == "partition") {
        size_t part = findPartition(plan, table, w->list[3]);
        if (part == kNoFile)
            return fail(p, "%s has no partition '%s'", w->list[1].c_str(), w->list[3].c_str());
        table = part;
        from = 4;
    } else if (plan->tables[table].partitioned) {
        return fail(p, "%s is partitioned: truncate %s partition NAME", w->list[1].c_str(),
                    w->list[1].c_str());
    }
    if (plan->tables[table].iotKeyColumns != 0)
        return fail(p, "truncating an index-organized table is not modelled");
    size_t segment = kNoFile;
    for (size_t i = 0; i < plan->segments.size(); i++)
        if (plan->segments[i].table == table)
            segment = i;
    if (segment == kNoFile)
        return fail(p, "truncate needs the table's segment first");
    for (const LobPlan &l : plan->lobs)
        if (l.table == table || l.table == plan->tables[table].parent)
            return fail(p, "truncating a table with LOB columns is not modelled");
    Truncation t;
    t.line = p->line;
    t.oldObjectId = 0;
    t.newObjectId = 0;
    t.reuse = false;
    Options o = {w, from};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "objd") {
            if (!needNumber(p, &o, "objd", UINT32_MAX, &v))
                return false;
            if (v == 0)
                return fail(p, "objd 0 is no data object id");
            t.newObjectId = (uint32_t)v;
        } else if (key == "reuse") {
            t.reuse = true;
            o.at++;
        } else {
            return fail(p, "unknown truncate option '%s'", key.c_str());
        }
    }
    SegmentPlan *s = &plan->segments[segment];
    t.rows.swap(s->rows);
    s->truncations.push_back(t);
    // Inserts that follow refill the truncated segment.
    plan->currentSegment = segment;
    plan->inSegment = true;
    plan->inBlock = false;
    return true;
}

// recyclebin OWNER.ORIGINAL obj N [type T]: a RECYCLEBIN$ row of its own.
bool parseRecycleBin(Parser *p, Plan *plan, const Words *w)
{
    if (w->list.size() < 2)
        return fail(p, "recyclebin is OWNER.ORIGINAL obj N [type T]");
    RecycleBinPlan r;
    const std::string &full = w->list[1];
    size_t dot = full.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == full.size())
        return fail(p, "recyclebin names OWNER.ORIGINAL");
    r.owner = full.substr(0, dot);
    r.name = full.substr(dot + 1);
    r.objectNumber = 0;
    r.type = 1;
    Options o = {w, 2};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        if (key == "obj") {
            if (!needNumber(p, &o, "obj", UINT32_MAX, &v))
                return false;
            r.objectNumber = (uint32_t)v;
        } else if (key == "type") {
            if (!needNumber(p, &o, "type", UINT32_MAX, &v))
                return false;
            r.type = (uint32_t)v;
        } else {
            return fail(p, "unknown recyclebin option '%s'", key.c_str());
        }
    }
    if (r.objectNumber == 0)
        return fail(p, "recyclebin needs obj N");
    plan->recycleBin.push_back(r);
    plan->usesRecycleBin = true;
    return true;
}

// manifest NAME: the manifest of every table, written into the output directory.
bool parseManifest(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() != 2) return fail(p, "manifest needs one file name");
    plan->manifests.push_back(w->list[1]);
    return true;
}

// Compressed blocks.
BlockPlan *compressedBlock(Parser *p, Plan *plan, const char *what) {
    BlockPlan *b = currentBlock(plan);
    if (b == nullptr || !b->isData || !b->isCompressed) {
        fail(p, "%s outside a compressed data block (start it with 'data compressed')", what);
        return nullptr;
    }
    return b;
}

// Value words of the codes: num:D str:TEXT hex:HEX date:D ts:T tstz:T
// float:F double:F.
bool parseCodeValue(Parser *p, const std::string &word, std::vector<uint8_t> *out) {
    size_t colon = word.find(':');
    if (colon == std::string::npos) return fail(p, "'%s' is not a code or a prefixed value", word.c_str());
    std::string kind = word.substr(0, colon), literal = word.substr(colon + 1);
    ColumnDef c;
    c.name = kind;
    c.length = 0;
    if (kind == "num") c.type = kColumnNumber;
    else if (kind == "str") c.type = kColumnVarchar2;
    else if (kind == "hex") c.type = kColumnRaw;
    else if (kind == "date") c.type = kColumnDate;
    else if (kind == "ts") c.type = kColumnTimestamp;
    else if (kind == "tstz") c.type = kColumnTimestampTz;
    else if (kind == "float") c.type = kColumnBinaryFloat;
    else if (kind == "double") c.type = kColumnBinaryDouble;
    else return fail(p, "unknown value prefix '%s'", kind.c_str());
    FieldValue v;
    char reason[256];
    if (!makeFieldValue(&c, literal.c_str(), &v, reason, sizeof reason)) return fail(p, "%s", reason);
    *out = v.bytes;
    return true;
}

// Codes: @N (symbol), @@N (symbol, two-byte form), null or null:N, long
// VALUE (code 250), group:G VALUE... (G fixed-length columns), or a value
// (inline when 1..49 bytes, else code 250).
bool parseCodes(Parser *p, const Words *w, size_t from, std::vector<CompressedCode> *codes) {
    for (size_t i = from; i < w->list.size(); i++) {
        const std::string &word = w->list[i];
        CompressedCode code;
        uint64_t v = 0;
        if (word.compare(0, 2, "@@") == 0) {
            if (!parseUnsigned(word.substr(2), 0xFFFF, &v)) return fail(p, "bad symbol '%s'", word.c_str());
            initCompressedCode(&code, kCodeSymbolWide);
            code.slot = (uint16_t)v;
        } else if (word[0] == '@') {
            if (!parseUnsigned(word.substr(1), 0xFFFF, &v)) return fail(p, "bad symbol '%s'", word.c_str());
            code = symbolCode((uint16_t)v);
        } else if (word == "null" || word.compare(0, 5, "null:") == 0) {
            code = nullCode();
            if (word.size() > 5) {
                if (!parseUnsigned(word.substr(5), 255, &v) || v < 252) return fail(p, "a NULL code is 252..255");
                code.nullCode = (uint8_t)v;
            }
        } else if (word == "long") {
            std::vector<uint8_t> bytes;
            if (i + 1 >= w->list.size() || !parseCodeValue(p, w->list[++i], &bytes)) return fail(p, "long needs a value");
            initCompressedCode(&code, kCodeLong);
            code.values.push_back(bytes);
        } else if (word.compare(0, 6, "group:") == 0) {
            if (!parseUnsigned(word.substr(6), 49, &v) || v == 0) return fail(p, "group:G with G 1..49");
            initCompressedCode(&code, kCodeFixedGroup);
            for (uint64_t g = 0; g < v; g++) {
                std::vector<uint8_t> bytes;
                if (i + 1 >= w->list.size()) return fail(p, "the group needs %llu values", (unsigned long long)v);
                if (!parseCodeValue(p, w->list[++i], &bytes)) return false;
                code.values.push_back(bytes);
            }
        } else {
            std::vector<uint8_t> bytes;
            if (!parseCodeValue(p, word, &bytes)) return false;
            code = valueCode(bytes);
        }
        codes->push_back(code);
    }
    return true;
}

// lengths L... | lengthtable E... | permutation P... | threshold N
bool parseCompressTable(Parser *p, Plan *plan, const Words *w) {
    const std::string &key = w->list[0];
    BlockPlan *b = compressedBlock(p, plan, key.c_str());
    if (b == nullptr) return false;
    std::vector<uint64_t> numbers;
    for (size_t i = 1; i < w->list.size(); i++) {
        uint64_t v = 0;
        if (!numberArgument(p, w, i, key.c_str(), 0xFFFF, &v)) return false;
        numbers.push_back(v);
    }
    if (key == "threshold") {
        if (numbers.size() != 1) return fail(p, "threshold takes one number");
        b->compressed.symbolThreshold = (uint16_t)numbers[0];
        return true;
    }
    if (numbers.size() > 255) return fail(p, "at most 255 entries");
    if (key == "lengths") {
        std::vector<uint16_t> lengths;
        for (uint64_t n : numbers) lengths.push_back((uint16_t)n);
        b->compressed.columnLengths = columnLengthTable(lengths);
    } else if (key == "lengthtable") {
        b->compressed.columnLengths.clear();
        for (uint64_t n : numbers) b->compressed.columnLengths.push_back((uint16_t)n);
    } else {
        b->compressed.permutation.clear();
        for (uint64_t n : numbers) {
            if (n > 255) return fail(p, "a permutation entry is a byte");
            b->compressed.permutation.push_back((uint8_t)n);
        }
    }
    return true;
}

// symbol CODES...
bool parseSymbol(Parser *p, Plan *plan, const Words *w) {
    BlockPlan *b = compressedBlock(p, plan, "symbol");
    if (b == nullptr) return false;
    SymbolEntry entry;
    if (!parseCodes(p, w, 1, &entry.codes)) return false;
    if (entry.codes.empty()) return fail(p, "a symbol needs codes");
    b->compressed.symbols.push_back(entry);
    return true;
}

// crow [of TABLE] [flag F] [lock N] [deleted] [head R.S] [next R.S] [free] CODES...
bool parseCompressedRow(Parser *p, Plan *plan, const Words *w) {
    BlockPlan *b = compressedBlock(p, plan, "crow");
    if (b == nullptr) return false;
    CompressedRow row;
    initCompressedRow(&row);
    size_t typedTable = kNoFile;
    bool deleted = false;
    Options o = {w, 1};
    while (o.at < w->list.size()) {
        const std::string &key = w->list[o.at];
        uint64_t v = 0;
        uint64_t parts[2];
        std::string text;
        if (key == "of") {
            if (!needValue(p, &o, "of", &text)) return false;
            typedTable = findTable(plan, text);
            if (typedTable == kNoFile) return fail(p, "no table '%s'", text.c_str());
        } else if (key == "flag") {
            if (!needValue(p, &o, "flag", &text)) return false;
            if (!parseLetters(text, "KCHDFLPN", 0xFF, &v)) return fail(p, "row flag is like --H-FL-- or a number");
            row.flag = (uint8_t)v;
        } else if (key == "lock") {
            if (!needNumber(p, &o, "lock", 0xFF, &v)) return false;
            row.lock = (uint8_t)v;
        } else if (key == "deleted") {
            deleted = true;
            o.at++;
        } else if (key == "head" || key == "next") {
            if (!needValue(p, &o, key.c_str(), &text)) return false;
            if (!parseDotted(text, 2, parts) || parts[1] > 0xFFFF) return fail(p, "%s is RDBA.SLOT", key.c_str());
            if (key == "head") {
                row.hasHeadAddress = true;
                row.headRdba = (uint32_t)parts[0];
                row.headSlot = (uint16_t)parts[1];
                row.flag &= (uint8_t)~kRowFirst;
            } else {
                row.hasNext = true;
                row.nextRdba = (uint32_t)parts[0];
                row.nextSlot = (uint16_t)parts[1];
                row.flag &= (uint8_t)~kRowLast;
            }
        } else if (key == "free") {
            row.freeEntry = true;
            o.at++;
        } else {
            break;
        }
    }
    if (deleted) row.flag |= kRowDeleted;
    if (!parseCodes(p, w, o.at, &row.codes)) return false;
    if (typedTable != kNoFile && !row.freeEntry) {
        // The manifest row: the codes expanded, in output order, shown by
        // the table's column types.
        std::vector<ColumnValue> stored, output;
        char reason[256];
        if (!expandCompressedRow(&b->compressed, &row, &stored, reason, sizeof reason))
            return fail(p, "%s", reason);
        permuteColumns(b->compressed.permutation, stored, &output);
        const ManifestTable *t = &plan->tables[typedTable].manifest;
        if (output.size() > t->columns.size())
            return fail(p, "%zu columns for the %zu of %s", output.size(), t->columns.size(), t->name.c_str());
        ManifestRow m;
        m.rdba = b->cache.rdba;
        m.table = 1;
        m.slot = (uint16_t)b->compressed.rows.size();
        m.deleted = deleted;
        m.lock = row.lock;
        for (size_t c = 0; c < t->columns.size(); c++) {
            FieldValue v;
            if (c >= output.size() || output[c].isNull) setNullField(&v);
            else makeFieldFromBytes(&t->columns[c], output[c].bytes, &v, nullptr, 0);
            m.values.push_back(v);
        }
        plan->tables[typedTable].manifest.rows.push_back(m);
    }
    b->compressed.rows.push_back(row);
    return true;
}

// config NAME [absolute] [FILE ...]
bool parseConfig(Parser *p, Plan *plan, const Words *w, bool verbatim) {
    if (w->list.size() < 2) return fail(p, "config needs a file name");
    const std::string &name = w->list[1];
    ConfigPlan *c = nullptr;
    for (ConfigPlan &existing : plan->configs)
        if (existing.name == name) c = &existing;
    if (c == nullptr) {
        ConfigPlan fresh;
        fresh.name = name;
        plan->configs.push_back(fresh);
        c = &plan->configs.back();
    }
    ConfigItem item;
    item.verbatim = verbatim;
    item.file = kNoFile;
    item.absolute = false;
    if (verbatim) {
        // configline NAME WORDS...: the words joined by one blank.
        for (size_t i = 2; i < w->list.size(); i++) {
            if (i > 2) item.text += " ";
            item.text += w->list[i];
        }
        item.text += "\n";
        c->items.push_back(item);
        return true;
    }
    size_t i = 2;
    if (i < w->list.size() && w->list[i] == "absolute") {
        item.absolute = true;
        i++;
    }
    if (i == w->list.size()) {
        c->items.push_back(item);
        return true;
    }
    for (; i < w->list.size(); i++) {
        item.file = findFile(plan, w->list[i]);
        if (item.file == kNoFile) return fail(p, "no file '%s'", w->list[i].c_str());
        c->items.push_back(item);
    }
    return true;
}

// damage FILE flipbit BLOCK OFF BIT | flipbyte BLOCK OFF | zero BLOCK OFF LEN |
//        hex BLOCK OFF HEX | reseal BLOCK | truncate BYTES | truncateblocks N
bool parseDamage(Parser *p, Plan *plan, const Words *w) {
    if (w->list.size() < 3) return fail(p, "damage needs a file and an action");
    DamagePlan d;
    d.line = p->line;
    d.file = findFile(plan, w->list[1]);
    if (d.file == kNoFile) return fail(p, "no file '%s'", w->list[1].c_str());
    d.blockNo = d.offset = d.length = 0;
    d.bit = 0;
    d.size = 0;
    const std::string &action = w->list[2];
    uint64_t v = 0;
    const DatafileLayout &layout = plan->files[d.file].layout;
    bool inBlock = action == "flipbit" || action == "flipbyte" || action == "zero" ||
                   action == "hex" || action == "reseal";
    if (inBlock) {
        if (!numberArgument(p, w, 3, "block", UINT32_MAX, &v)) return false;
        if (v >= layout.blockCount) return fail(p, "block %llu is beyond the file", (unsigned long long)v);
        d.blockNo = (uint32_t)v;
        if (action != "reseal") {
            if (!numberArgument(p, w, 4, "offset", layout.blockSize - 1, &v)) return false;
            d.offset = (uint32_t)v;
        }
    }
    if (action == "flipbit") {
        d.kind = kFlipBit;
        if (!numberArgument(p, w, 5, "bit", 7, &v)) return false;
        d.bit = (unsigned)v;
    } else if (action == "flipbyte") {
        d.kind = kFlipByte;
    } else if (action == "zero") {
        d.kind = kZero;
        if (!numberArgument(p, w, 5, "length", layout.blockSize - d.offset, &v)) return false;
        d.length = (uint32_t)v;
    } else if (action == "hex") {
        d.kind = kOverwrite;
        if (w->list.size() < 6 || !parseHexBytes(w->list[5], &d.bytes))
            return fail(p, "hex needs an even number of hex digits");
        if (d.bytes.size() > layout.blockSize - d.offset) return fail(p, "bytes run past the end of the block");
    } else if (action == "reseal") {
        d.kind = kReseal;
    } else if (action == "truncate") {
        d.kind = kTruncate;
        if (!numberArgument(p, w, 3, "size", UINT64_MAX, &d.size)) return false;
    } else if (action == "truncateblocks") {
        d.kind = kTruncateBlocks;
        if (!numberArgument(p, w, 3, "blocks", UINT32_MAX, &v)) return false;
        d.size = blockOffset(&layout, (uint32_t)v);
    } else {
        return fail(p, "unknown damage '%s'", action.c_str());
    }
    plan->damages.push_back(d);
    return true;
}

bool parseDefault(Parser *p, Plan *plan, const Words *w, bool *handled) {
    const std::string &key = w->list[0];
    Defaults *d = &plan->defaults;
    uint64_t v = 0;
    *handled = true;
    if (key == "blocksize") {
        if (!numberArgument(p, w, 1, "blocksize", UINT32_MAX, &v)) return false;
        if (!isValidBlockSize((uint32_t)v)) return fail(p, "block size %llu is not an Oracle block size", (unsigned long long)v);
        d->blockSize = (uint32_t)v;
    } else if (key == "byteorder") {
        if (w->list.size() < 2 || !parseOrder(w->list[1], &d->order)) return fail(p, "byteorder is little or big");
    } else if (key == "format") {
        if (w->list.size() < 2 || !parseFormat(w->list[1], &d->format)) return fail(p, "bad format");
    } else if (key == "dbid") {
        if (!numberArgument(p, w, 1, "dbid", UINT32_MAX, &v)) return false;
        d->dbid = (uint32_t)v;
    } else if (key == "dbname") {
        if (w->list.size() < 2 || w->list[1].size() > kDbNameLength) return fail(p, "dbname is 1 to 8 characters");
        snprintf(d->dbName, sizeof d->dbName, "%s", w->list[1].c_str());
    } else if (key == "version") {
        if (!numberArgument(p, w, 1, "software version", UINT32_MAX, &v)) return false;
        d->softwareVersion = (uint32_t)v;
        d->compatibleVersion = (uint32_t)v;
        if (w->list.size() > 2) {
            if (!numberArgument(p, w, 2, "compatible version", UINT32_MAX, &v)) return false;
            d->compatibleVersion = (uint32_t)v;
        }
    } else if (key == "scn") {
        if (!numberArgument(p, w, 1, "scn", UINT32_MAX, &v)) return false;
        d->scnBase = (uint32_t)v;
        if (w->list.size() > 2) {
            if (!numberArgument(p, w, 2, "scn wrap", 0xFFFF, &v)) return false;
            d->scnWrap = (uint16_t)v;
        }
    } else {
        *handled = false;
    }
    return true;
}

bool parseLine(Parser *p, Plan *plan, const Words *w) {
    const std::string &key = w->list[0];
    bool handled = false;
    if (key == "file") return parseFile(p, plan, w);
    if (key == "block") return parseBlock(p, plan, w);
    if (key == "data") return parseData(p, plan, w);
    if (key == "itl") return parseItl(p, plan, w);
    if (key == "row") return parseRow(p, plan, w);
    if (key == "table") return parseTable(p, plan, w);
    if (key == "partition") return parsePartition(p, plan, w);
    if (key == "user") return parseUser(p, plan, w);
    if (key == "index") return parseIndex(p, plan, w);
    if (key == "lob") return parseLob(p, plan, w);
    if (key == "dictionary") return parseDictionary(p, plan, w);
    if (key == "column") return parseColumn(p, plan, w);
    if (key == "segment") return parseSegment(p, plan, w);
    if (key == "extent") return parseExtent(p, plan, w);
    if (key == "insert") return parseInsert(p, plan, w);
    if (key == "manifest") return parseManifest(p, plan, w);
    if (key == "drop")
        return parseDrop(p, plan, w);
    if (key == "truncate")
        return parseTruncate(p, plan, w);
    if (key == "recyclebin")
        return parseRecycleBin(p, plan, w);
    if (key == "lengths" || key == "lengthtable" || key == "permutation" || key == "threshold")
        return parseCompressTable(p, plan, w);
    if (key == "symbol") return parseSymbol(p, plan, w);
    if (key == "crow") return parseCompressedRow(p, plan, w);
    if (key == "config") return parseConfig(p, plan, w, false);
    if (key == "configline") return parseConfig(p, plan, w, true);
    if (key == "damage") return parseDamage(p, plan, w);
    if (!parsePoke(p, plan, w, &handled)) return false;
    if (handled) return true;
    if (!parseDefault(p, plan, w, &handled)) return false;
    if (handled) return true;
    return fail(p, "unknown statement '%s'", key.c_str());
}

void initPlan(Plan *plan) {
    Defaults *d = &plan->defaults;
    d->blockSize = 8192;
    d->order = kLittleEndian;
    d->format = kFormatA2;
    FileHeader header;
    initFileHeader(&header);
    d->dbid = header.dbid;
    snprintf(d->dbName, sizeof d->dbName, "%s", header.dbName);
    d->softwareVersion = header.softwareVersion;
    d->compatibleVersion = header.compatibleVersion;
    d->scnBase = 0x1000;
    d->scnWrap = 0;
    plan->currentFile = kNoFile;
    plan->inBlock = false;
    plan->currentTable = kNoFile;
    plan->inSegment = false;
    plan->currentSegment = kNoFile;
    plan->usesRecycleBin = false;
    plan->hasDictionary = false;
    plan->dictionaryLine = 0;
    plan->dictionaryFile = kNoFile;
    plan->dictionaryBlock = 0;
}

std::string joinPath(const char *dir, const std::string &name) {
    if (!name.empty() && name[0] == '/') return name;
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += "/";
    return path + name;
}

bool makeBlock(const FilePlan *f, const BlockPlan *b, Block *block, char *error, size_t errorLength) {
    initBlock(block, f->layout.blockSize, f->layout.order);
    if (b->isData) {
        DataBlockLayout data = b->data;
        data.cache = b->cache;
        if (b->isCompressed) {
            CompressedBlockLayout compressed = b->compressed;
            compressed.base = data;
            if (!compressedToDataLayout(&compressed, &data, error, errorLength)) return false;
        }
        // Cluster key rows count the member rows that name them and, held
        // in this block alone, point at themselves.
        uint16_t keySlot = 0;
        for (RowPiece &key : data.rows) {
            if (key.table != 0) continue;
            if (key.hasClusterKeyInfo) {
                uint16_t members = 0;
                for (const RowPiece &m : data.rows)
                    if (m.hasClusterKeySlot && m.clusterKeySlot == keySlot) members++;
                key.clusterKey.rowCount = key.clusterKey.committedCount = members;
                key.clusterKey.previousRdba = key.clusterKey.nextRdba = data.cache.rdba;
                key.clusterKey.previousSlot = key.clusterKey.nextSlot = keySlot;
            }
            keySlot++;
        }
        if (!putDataBlock(block, &data, error, errorLength)) return false;
    } else {
        putCacheHeader(block, &b->cache);
    }
    for (const Poke &poke : b->pokes) putBytes(block, poke.offset, poke.bytes.data(), (uint32_t)poke.bytes.size());
    if (b->checksum == kChecksumGood) sealBlock(block);
    else if (b->checksum == kChecksumBad) sealBlockWrong(block, b->badBy);
    return true;
}

bool prefixLine(char *error, size_t errorLength, int line) {
    if (error == nullptr || errorLength == 0) return false;
    std::string text = error;
    snprintf(error, errorLength, "line %d: %s", line, text.c_str());
    return false;
}

// Object numbers for the dictionary: a table, partition or index without
// them takes its data object id as OBJ# (or the next free number for both),
// and its segment takes the data object id.
bool numberObjects(Parser *p, Plan *plan)
{
    p->line = plan->dictionaryLine;
    uint32_t next = 70000;
    for (const SegmentPlan &s : plan->segments)
        for (const Truncation &t : s.truncations)
            next = std::max(next, t.newObjectId + 1);
    for (const TablePlan &t : plan->tables) {
        next = std::max(next, std::max(t.objectNumber, t.manifest.objectId) + 1);
        if (t.parent == kNoFile && t.manifest.owner.empty())
            return fail(p, "table %s needs its owner (OWNER.NAME) in the dictionary", t.manifest.name.c_str());
    }
    for (const IndexPlan &x : plan->indexes)
        next = std::max(next, std::max(x.index.objectNumber, x.index.dataObjectId) + 1);
    auto number = [&](uint32_t *obj, uint32_t *objd) {
        if (*obj == 0 && *objd == 0) *obj = *objd = next++;
        else if (*obj == 0) *obj = *objd;
        else if (*objd == 0) *objd = *obj;
    };
    for (TablePlan &t : plan->tables) number(&t.objectNumber, &t.manifest.objectId);
    for (IndexPlan &x : plan->indexes) number(&x.index.objectNumber, &x.index.dataObjectId);
    // An index-organized table's rows are in its index's segment.
    for (TablePlan &t : plan->tables) {
        if (t.iotKeyColumns == 0) continue;
        const IndexPlan *top = nullptr;
        for (const IndexPlan &x : plan->indexes)
            if (x.index.owner == t.manifest.owner && x.index.table == t.manifest.name) top = &x;
        if (top == nullptr) return fail(p, "index-organized table %s needs its index", t.manifest.name.c_str());
        t.manifest.objectId = top->index.dataObjectId;
    }
    for (SegmentPlan &s : plan->segments)
        if (s.layout.objectId == 0) s.layout.objectId = plan->tables[s.table].manifest.objectId;
    std::vector<uint32_t> used;
    for (const TablePlan &t : plan->tables) used.push_back(t.objectNumber);
    for (const IndexPlan &x : plan->indexes) used.push_back(x.index.objectNumber);
    std::sort(used.begin(), used.end());
    for (size_t i = 0; i < used.size(); i++) {
        if (i > 0 && used[i] == used[i - 1]) return fail(p, "OBJ# %u is used twice", used[i]);
        if (used[i] < 1000) return fail(p, "OBJ# %u is below 1000, where the SYS objects are", used[i]);
    }
    return true;
}

// Each truncate gives the segment the next data object id of the counter
// (after every number in use), unless the description gives it; the table
// then carries the last one.
void numberTruncations(Plan *plan)
{
    uint32_t next = plan->hasDictionary ? 70000 : 1;
    for (const TablePlan &t : plan->tables)
        next = std::max(next, std::max(t.objectNumber, t.manifest.objectId) + 1);
    for (const IndexPlan &x : plan->indexes)
        next = std::max(next, std::max(x.index.objectNumber, x.index.dataObjectId) + 1);
    for (const LobPlan &l : plan->lobs)
        next = std::max(next, std::max(l.layout.segmentObjectId, l.layout.indexObjectId) + 1);
    // Ids the description gives are skipped, not counted from: a later
    // truncate may well carry a higher one.
    std::vector<uint32_t> given;
    for (const SegmentPlan &s : plan->segments)
        for (const Truncation &t : s.truncations)
            given.push_back(t.newObjectId);
    for (SegmentPlan &s : plan->segments) {
        uint32_t current = s.layout.objectId;
        for (Truncation &t : s.truncations) {
            t.oldObjectId = current;
            while (t.newObjectId == 0 && std::find(given.begin(), given.end(), next) != given.end())
                next++;
            if (t.newObjectId == 0)
                t.newObjectId = next++;
            current = t.newObjectId;
        }
        if (s.truncations.empty())
            continue;
        s.layout.objectId = current;
        plan->tables[s.table].manifest.objectId = current;
    }
}

bool finishPlan(Parser *p, Plan *plan)
{
    if (plan->hasDictionary && !numberObjects(p, plan))
        return false;
    numberTruncations(plan);
    return true;
}

SchemaSegment segmentOf(const Plan *plan, size_t table) {
    SchemaSegment out;
    initSchemaSegment(&out);
    for (const SegmentPlan &s : plan->segments) {
        size_t file = 0;
        uint32_t block = 0;
        if (s.table != table || !segmentHeaderPlace(&s.layout, &file, &block)) continue;
        out.present = true;
        out.tablespace = plan->files[file].layout.header.tsNumber;
        out.rfn = plan->files[file].layout.rfn;
        out.block = block;
    }
    return out;
}

// Blocks of the table's segments (its partitions' for a partitioned one).
uint32_t segmentBlocks(const Plan *plan, size_t table)
{
    uint32_t blocks = 0;
    for (const SegmentPlan &s : plan->segments)
        if (s.table == table || plan->tables[s.table].parent == table)
            for (const ExtentPlace &e : s.layout.extents)
                blocks += e.blocks;
    return blocks;
}

// The RECYCLEBIN$ row DROP TABLE writes for the table or one of its
// indexes (TYPE# 1 or 2): RELATED and BO name the table.  FLAGS holds the
// can-undrop (4) and can-purge (8) bits among others: 30 for a table, 18
// for an index.
SchemaRecycleBinRow recycleBinRow(const TablePlan &t, uint32_t obj, const std::string &name, uint32_t type,
                                  uint32_t space)
{
    SchemaRecycleBinRow r;
    r.objectNumber = obj;
    r.owner = t.manifest.owner;
    r.originalName = name;
    r.operation = 0;
    r.type = type;
    initSchemaSegment(&r.segment);
    r.dropTime = t.dropTime;
    r.dropScn = t.dropScn;
    r.flags = 30;
    r.related = r.baseObject = r.purgeObject = t.objectNumber;
    r.space = space;
    return r;
}

uint32_t liveRows(const ManifestTable &t) {
    uint32_t count = 0;
    for (const ManifestRow &r : t.rows)
        if (!r.deleted) count++;
    return count;
}

// The schema the dictionary describes: users, tables (with the rows laid so
// far) and indexes.
bool describeSchema(const Plan *plan, const Manifest *manifest, Schema *schema, char *error, size_t errorLength) {
    (void)error;
    (void)errorLength;
    schema->users = plan->users;
    for (size_t i = 0; i < plan->tables.size(); i++) {
        const TablePlan &t = plan->tables[i];
        if (t.parent != kNoFile) continue;
        SchemaTable st;
        st.owner = t.manifest.owner;
        st.name = t.manifest.name;
        st.objectNumber = t.objectNumber;
        st.dataObjectId = t.manifest.objectId;
        st.columns = t.manifest.columns;
        st.segment = segmentOf(plan, i);
        st.rowCount = liveRows(manifest->tables[i]);
        st.indexOrganized = t.iotKeyColumns != 0;
        st.drop = t.drop;
        st.binName = t.binName.empty() ? recycleBinName(t.objectNumber) : t.binName;
        st.overwrittenColumns = t.overwrittenColumns;
        for (size_t j = 0; j < plan->tables.size(); j++) {
            if (plan->tables[j].parent != i) continue;
            SchemaPartition part;
            part.name = plan->tables[j].manifest.partition;
            part.objectNumber = plan->tables[j].objectNumber;
            part.dataObjectId = plan->tables[j].manifest.objectId;
            part.highBound = plan->tables[j].highBound;
            part.segment = segmentOf(plan, j);
            part.rowCount = liveRows(manifest->tables[j]);
            st.partitions.push_back(part);
        }
        if (t.drop == kSchemaRecycleBin) {
            SchemaRecycleBinRow r =
                recycleBinRow(t, t.objectNumber, t.manifest.name, 1, segmentBlocks(plan, i));
            r.segment = st.segment;
            schema->recycleBin.push_back(r);
        }
        schema->tables.push_back(st);
    }
    for (const IndexPlan &x : plan->indexes) {
        SchemaIndex index = x.index;
        const TablePlan &base = plan->tables[x.table];
        index.tableObjectNumber = base.objectNumber;
        index.drop = base.drop;
        index.binName = recycleBinName(index.objectNumber);
        for (const SchemaTable &t : schema->tables)
            if (t.objectNumber == base.objectNumber)
                index.segment.tablespace = t.partitions.empty() ? t.segment.tablespace : t.partitions[0].segment.tablespace;
        if (base.drop == kSchemaRecycleBin) {
            SchemaRecycleBinRow r = recycleBinRow(base, index.objectNumber, index.name, 2, 0);
            r.segment = index.segment;
            r.purgeObject = index.objectNumber;
            r.flags = 18;
            schema->recycleBin.push_back(r);
        }
        for (size_t i = 0; i < plan->tables.size(); i++) {
            const TablePlan &t = plan->tables[i];
            if (t.iotKeyColumns != 0 && t.manifest.owner == index.owner && t.manifest.name == index.table) {
                index.segment = segmentOf(plan, i);
                index.indexOrganized = true;
            }
        }
        schema->indexes.push_back(index);
    }
    for (const LobPlan &l : plan->lobs) {
        const TablePlan &t = plan->tables[l.table];
        SchemaIndex index;
        index.owner = t.manifest.owner;
        index.table = t.manifest.name;
        uint32_t tableObject = t.objectNumber != 0 ? t.objectNumber : t.manifest.objectId;
        index.name = lobIndexName(tableObject, (uint32_t)l.column + 1);
        index.objectNumber = index.dataObjectId = l.layout.indexObjectId;
        index.columnCount = 2;
        index.unique = true;
        initSchemaSegment(&index.segment);
        index.segment.present = true;
        index.segment.tablespace = plan->files[l.layout.indexFile].layout.header.tsNumber;
        index.segment.rfn = plan->files[l.layout.indexFile].layout.rfn;
        index.segment.block = l.layout.indexFirstBlock;
        schema->indexes.push_back(index);
    }
    for (const RecycleBinPlan &bare : plan->recycleBin) {
        SchemaRecycleBinRow r;
        r.objectNumber = bare.objectNumber;
        r.owner = bare.owner;
        r.originalName = bare.name;
        r.operation = 0;
        r.type = bare.type;
        initSchemaSegment(&r.segment);
        r.dropTime = "2024-06-03 09:15:00";
        r.dropScn = plan->defaults.scnBase + 0x100;
        r.flags = 30;
        r.related = r.baseObject = r.purgeObject = bare.objectNumber;
        r.space = 0;
        schema->recycleBin.push_back(r);
    }
    schema->withRecycleBin = plan->usesRecycleBin;
    return true;
}

// Lays a segment's rows; a truncated segment once for each set of rows,
// oldest first, each with its own data object id and a later SCN.  After a
// truncate without REUSE only the first extent is the segment's.  A later
// set's blocks replace an earlier one's where both write; the other old
// blocks stay as they were, and their rows go into `truncated` as a table
// of the old id (a row with a piece in a replaced block is gone).
bool layTruncatedSegment(const Plan *plan, const SegmentPlan *s,
                         const std::vector<const DatafileLayout *> &layouts,
                         const std::vector<TableRow> &rows, std::vector<SegmentBlock> *blocks,
                         ManifestTable *live, std::vector<ManifestTable> *truncated, char *error,
                         size_t errorLength)
{
    if (s->truncations.empty())
        return laySegment(layouts.data(), layouts.size(), &s->layout, rows, blocks, live, error, errorLength);
    std::vector<std::vector<SegmentBlock>> laid(s->truncations.size() + 1);
    std::vector<ManifestTable> old;
    bool released = false;
    for (size_t g = 0; g < laid.size(); g++) {
        bool last = g == s->truncations.size();
        SegmentLayout layout = s->layout;
        layout.objectId = last ? s->layout.objectId : s->truncations[g].oldObjectId;
        layout.scnBase = s->layout.scnBase + 0x100 * (uint32_t)g;
        if (released)
            layout.extents.resize(1);
        if (!last)
            released = released || !s->truncations[g].reuse;
        ManifestTable table = plan->tables[s->table].manifest;
        table.objectId = layout.objectId;
        table.rows.clear();
        table.truncated = !last;
        const std::vector<TableRow> &generation = last ? rows : s->truncations[g].rows;
        if (!laySegment(layouts.data(), layouts.size(), &layout, generation, &laid[g], last ? live : &table,
                        error, errorLength))
            return false;
        if (!last)
            old.push_back(table);
    }
    blocks->clear();
    for (size_t g = 0; g < laid.size(); g++) {
        for (const SegmentBlock &b : laid[g]) {
            bool replaced = false;
            for (SegmentBlock &kept : *blocks)
                if (kept.file == b.file && kept.blockNo == b.blockNo) {
                    kept = b;
                    replaced = true;
                }
            if (!replaced)
                blocks->push_back(b);
        }
    }
    for (size_t g = 0; g < old.size(); g++) {
        std::vector<uint32_t> rewritten;
        for (size_t later = g + 1; later < laid.size(); later++)
            for (const SegmentBlock &b : laid[later])
                rewritten.push_back(blockRdba(layouts[b.file], b.blockNo));
        auto gone = [&](uint32_t rdba) {
            return std::find(rewritten.begin(), rewritten.end(), rdba) != rewritten.end();
        };
        ManifestTable kept = old[g];
        kept.rows.clear();
        for (const ManifestRow &row : old[g].rows) {
            bool lost = gone(row.rdba);
            for (uint32_t rdba : row.pieceRdbas)
                lost = lost || gone(rdba);
            if (!lost)
                kept.rows.push_back(row);
        }
        for (ManifestRow &row : kept.rows)
            if (!applyAddedDefaults(kept.columns, &row.values, error, errorLength))
                return false;
        truncated->push_back(kept);
    }
    return true;
}

bool writePlan(const Plan *plan, const char *outputDir, Manifest *manifestOut, char *error,
               size_t errorLength) {
    // Every block is built once before anything is written, so that a row
    // that does not fit leaves no files behind.
    for (const FilePlan &f : plan->files) {
        for (const BlockPlan &b : f.blocks) {
            Block block;
            if (!makeBlock(&f, &b, &block, error, errorLength)) return prefixLine(error, errorLength, b.line);
        }
    }
    // Segments: their blocks per file, and their rows in the manifest.
    Manifest manifest;
    for (const TablePlan &t : plan->tables) manifest.tables.push_back(t.manifest);
    std::vector<std::vector<SegmentBlock>> segmentBlocks(plan->files.size());
    std::vector<const DatafileLayout *> layouts;
    for (const FilePlan &f : plan->files) layouts.push_back(&f.layout);
    // A block may belong to one segment only, and not be placed by hand too.
    auto placeBlocks = [&](std::vector<SegmentBlock> &blocks, int line, const char *what) {
        for (SegmentBlock &b : blocks) {
            for (const BlockPlan &placed : plan->files[b.file].blocks)
                if (placed.blockNo == b.blockNo) {
                    snprintf(error, errorLength, "line %d: block %u of %s is also placed on line %d", line,
                             b.blockNo, plan->files[b.file].name.c_str(), placed.line);
                    return false;
                }
            for (const std::vector<SegmentBlock> &list : segmentBlocks)
                for (const SegmentBlock &other : list)
                    if (other.file == b.file && other.blockNo == b.blockNo) {
                        snprintf(error, errorLength, "line %d: block %u of %s belongs to two segments%s", line,
                                 b.blockNo, plan->files[b.file].name.c_str(), what);
                        return false;
                    }
            segmentBlocks[b.file].push_back(b);
        }
        return true;
    };
    // LOB values go into their LOB segments first: the rows then hold locators.
    std::vector<std::vector<TableRow>> segmentRows;
    for (const SegmentPlan &s : plan->segments) segmentRows.push_back(s.rows);
    for (const LobPlan &l : plan->lobs) {
        std::vector<FieldValue *> values;
        for (size_t i = 0; i < plan->segments.size(); i++) {
            size_t owner = plan->segments[i].table;
            if (owner != l.table && plan->tables[owner].parent != l.table) continue;
            for (TableRow &row : segmentRows[i])
                if (l.column < row.values.size()) values.push_back(&row.values[l.column]);
        }
        std::vector<SegmentBlock> blocks;
        if (!layLobColumn(layouts.data(), layouts.size(), &l.layout, values, &blocks, error, errorLength))
            return prefixLine(error, errorLength, l.line);
        if (!placeBlocks(blocks, l.line, "")) return false;
    }
    std::vector<ManifestTable> truncated;
    for (const SegmentPlan &s : plan->segments) {
        std::vector<SegmentBlock> blocks;
        const std::vector<TableRow> &rows = segmentRows[(size_t)(&s - plan->segments.data())];
        uint8_t iot = plan->tables[s.table].iotKeyColumns;
        bool laid = iot != 0
                        ? layIndexOrganizedSegment(layouts.data(), layouts.size(), &s.layout, iot, rows,
                                                   &blocks, &manifest.tables[s.table], error, errorLength)
                        : layTruncatedSegment(plan, &s, layouts, rows, &blocks, &manifest.tables[s.table],
                                              &truncated, error, errorLength);
        if (!laid) return prefixLine(error, errorLength, s.line);
        // The manifest says what Oracle gives for a row: the defaults of the
        // columns added after it was written.
        ManifestTable *laidTable = &manifest.tables[s.table];
        for (ManifestRow &row : laidTable->rows)
            if (!applyAddedDefaults(laidTable->columns, &row.values, error, errorLength))
                return prefixLine(error, errorLength, s.line);
        if (!placeBlocks(blocks, s.line, "")) return false;
    }
    if (plan->hasDictionary) {
        Schema schema;
        if (!describeSchema(plan, &manifest, &schema, error, errorLength)) return false;
        DictionaryLayout layout;
        uint32_t first = plan->dictionaryBlock;
        if (first == 0) {
            // After the last block in use in the SYSTEM file.
            first = 2;
            for (const BlockPlan &b : plan->files[plan->dictionaryFile].blocks)
                first = b.blockNo + 1 > first ? b.blockNo + 1 : first;
            for (const SegmentBlock &b : segmentBlocks[plan->dictionaryFile])
                first = b.blockNo + 1 > first ? b.blockNo + 1 : first;
            for (const SegmentPlan &s : plan->segments)
                for (const ExtentPlace &e : s.layout.extents)
                    if (e.file == plan->dictionaryFile && e.firstBlock + e.blocks > first)
                        first = e.firstBlock + e.blocks;
        }
        initDictionaryLayout(&layout, plan->dictionaryFile, first);
        std::vector<SegmentBlock> blocks;
        if (!layDictionary(layouts.data(), layouts.size(), &schema, &layout, &blocks, &manifest, error,
                           errorLength))
            return prefixLine(error, errorLength, plan->dictionaryLine);
        if (!placeBlocks(blocks, plan->dictionaryLine, " (the dictionary's and another)")) return false;
        // A partitioned table keeps its rows in its partitions' entries.
        Manifest kept;
        for (size_t i = 0; i < manifest.tables.size(); i++)
            if (i >= plan->tables.size() || !plan->tables[i].partitioned) kept.tables.push_back(manifest.tables[i]);
        manifest = kept;
    }
    manifest.tables.insert(manifest.tables.end(), truncated.begin(), truncated.end());
    if (mkdir(outputDir, 0755) != 0 && errno != EEXIST) {
        snprintf(error, errorLength, "cannot create %s: %s", outputDir, strerror(errno));
        return false;
    }
    for (const FilePlan &f : plan->files) {
        DatafileLayout layout = f.layout;
        snprintf(layout.path, sizeof layout.path, "%s", joinPath(outputDir, f.name).c_str());
        DatafileWriter writer;
        if (!openDatafileWriter(&writer, &layout, error, errorLength)) return false;
        for (const BlockPlan &b : f.blocks) {
            Block block;
            if (!makeBlock(&f, &b, &block, error, errorLength) ||
                !writeBlockAt(&writer, b.blockNo, &block, error, errorLength)) {
                closeDatafileWriter(&writer, nullptr, 0);
                return prefixLine(error, errorLength, b.line);
            }
        }
        for (const SegmentBlock &b : segmentBlocks[(size_t)(&f - plan->files.data())]) {
            if (!writeBlockAt(&writer, b.blockNo, &b.block, error, errorLength)) {
                closeDatafileWriter(&writer, nullptr, 0);
                return false;
            }
        }
        if (!closeDatafileWriter(&writer, error, errorLength)) return false;
    }
    for (const ConfigPlan &c : plan->configs) {
        std::vector<std::string> text;
        for (const ConfigItem &item : c.items) {
            if (item.verbatim) {
                text.push_back(item.text);
                continue;
            }
            for (size_t i = 0; i < plan->files.size(); i++) {
                if (item.file != kNoFile && item.file != i) continue;
                std::string path = plan->files[i].name;
                if (item.absolute) {
                    char resolved[PATH_MAX];
                    std::string written = joinPath(outputDir, path);
                    if (realpath(written.c_str(), resolved) == nullptr) {
                        snprintf(error, errorLength, "cannot resolve %s: %s", written.c_str(), strerror(errno));
                        return false;
                    }
                    path = resolved;
                }
                char line[kMaxPath + 32];
                formatConfigLine(line, sizeof line, path.c_str(), plan->files[i].layout.headerSize);
                text.push_back(line);
            }
        }
        std::vector<const char *> lines;
        for (const std::string &t : text) lines.push_back(t.c_str());
        if (!writeConfigFile(joinPath(outputDir, c.name).c_str(), lines.data(), lines.size(), error, errorLength))
            return false;
    }
    for (const DamagePlan &d : plan->damages) {
        const FilePlan &f = plan->files[d.file];
        std::string path = joinPath(outputDir, f.name);
        uint64_t at = blockOffset(&f.layout, d.blockNo) + d.offset;
        bool ok = true;
        switch (d.kind) {
        case kFlipBit: ok = flipFileBit(path.c_str(), at, d.bit, error, errorLength); break;
        case kFlipByte: ok = flipFileByte(path.c_str(), at, error, errorLength); break;
        case kZero: ok = zeroFileRange(path.c_str(), at, d.length, error, errorLength); break;
        case kOverwrite:
            ok = overwriteFileRange(path.c_str(), at, d.bytes.data(), d.bytes.size(), error, errorLength);
            break;
        case kReseal: ok = resealFileBlock(path.c_str(), at, f.layout.blockSize, error, errorLength); break;
        case kTruncate:
        case kTruncateBlocks: ok = truncateFile(path.c_str(), d.size, error, errorLength); break;
        }
        if (!ok) return prefixLine(error, errorLength, d.line);
    }
    for (const std::string &name : plan->manifests)
        if (!writeManifestFile(joinPath(outputDir, name).c_str(), &manifest, error, errorLength)) return false;
    if (manifestOut != nullptr) *manifestOut = manifest;
    return true;
}

}  // namespace

bool forgeFromText(const char *text, const char *outputDir, char *error, size_t errorLength) {
    return forgeFromTextWithManifest(text, outputDir, nullptr, error, errorLength);
}

bool forgeFromTextWithManifest(const char *text, const char *outputDir, Manifest *manifest,
                               char *error, size_t errorLength) {
    Plan plan;
    initPlan(&plan);
    Parser parser = {0, error, errorLength};
    if (error != nullptr && errorLength > 0) error[0] = '\0';
    const char *at = text;
    while (*at != '\0') {
        const char *end = strchr(at, '\n');
        size_t length = end != nullptr ? (size_t)(end - at) : strlen(at);
        parser.line++;
        Words words;
        if (!splitWords(&parser, at, length, &words)) return false;
        if (!words.list.empty() && !parseLine(&parser, &plan, &words)) return false;
        at += length;
        if (*at == '\n') at++;
    }
    if (!finishPlan(&parser, &plan)) return false;
    return writePlan(&plan, outputDir, manifest, error, errorLength);
}

bool forgeFromStream(FILE *in, const char *outputDir, char *error, size_t errorLength) {
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
    if (ferror(in)) {
        snprintf(error, errorLength, "cannot read the description: %s", strerror(errno));
        return false;
    }
    return forgeFromText(text.c_str(), outputDir, error, errorLength);
}

}  // namespace forge
