// The data dictionary as Oracle lays it out in the SYSTEM tablespace, for a
// schema of users, tables, partitions and indexes:
//
//   cluster C_OBJ# (OBJ# 2, data object 2, key OBJ#):
//     table 1 TAB$, 3 IND$ (keyed by BO#, the base table), 5 COL$, 7 COLTYPE$
//     (2 CLU$, 4 ICOL$ and 6 LOB$ are not modelled and stay empty)
//   cluster C_USER# (OBJ# 10, data object 10, key USER#): table 1 USER$
//   OBJ$ (18), TABPART$, INDPART$, TABSUBPART$, INDSUBPART$: heap tables
//
// A member row of a cluster stores every column but the key; the key sits in
// the block's key row, so the columns a reader sees start with the key.
// SEGCOL# counts in that order (the key first), COL# in declared order; they
// differ only for IND$, whose key BO# is its sixth declared column.
//
// Every SYS table is described in OBJ$, TAB$ and COL$ like the schema's own
// tables, so the dictionary describes itself.
#include "forge/forge.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

namespace forge {

namespace {

// Object types (OBJ$.TYPE#) and name spaces.
const uint32_t kObjIndex = 1;
const uint32_t kObjTable = 2;
const uint32_t kObjCluster = 3;
const uint32_t kObjTablePartition = 19;
const uint32_t kNamespaceTable = 1;
const uint32_t kNamespaceIndex = 4;

// Character sets: the database's and the national one.
const uint32_t kCharsetAl32Utf8 = 873;
const uint32_t kCharsetAl16Utf16 = 2000;

// TAB$.PROPERTY bits.
const uint32_t kPropertyPartitioned = 0x20;
const uint32_t kPropertyIndexOrganized = 0x40;
const uint32_t kPropertyClustered = 0x400;

const uint32_t kClusterObj = 2;     // C_OBJ#
const uint32_t kClusterUser = 10;   // C_USER#
const uint16_t kClusterObjTables = 8;
const uint16_t kClusterUserTables = 2;

struct SysColumn {
    const char *name;
    ColumnType type;
    uint32_t length;   // VARCHAR2/RAW width
    bool notNull;
};

#define N(name) {name, kColumnNumber, 0, true}
#define n(name) {name, kColumnNumber, 0, false}
#define V(name, len) {name, kColumnVarchar2, len, true}
#define v(name, len) {name, kColumnVarchar2, len, false}
#define D(name) {name, kColumnDate, 0, true}
#define d(name) {name, kColumnDate, 0, false}
#define L(name) {name, kColumnLong, 0, false}
#define R(name, len) {name, kColumnRaw, len, false}

const SysColumn kUserColumns[] = {
    N("USER#"), V("NAME", 128), N("TYPE#"), v("PASSWORD", 4000), N("DATATS#"), N("TEMPTS#"),
    D("CTIME"), d("PTIME"), d("EXPTIME"), d("LTIME"), N("RESOURCE$"), v("AUDIT$", 38), N("DEFROLE"),
    n("DEFGRP#"), n("DEFGRP_SEQ#"), N("ASTATUS"), N("LCOUNT"), v("DEFSCHCLASS", 128),
    v("EXT_USERNAME", 4000), n("SPARE1"), n("SPARE2"), n("SPARE3"), v("SPARE4", 1000),
    v("SPARE5", 1000), d("SPARE6"),
};

const SysColumn kObjColumns[] = {
    N("OBJ#"), n("DATAOBJ#"), N("OWNER#"), V("NAME", 128), N("NAMESPACE"), v("SUBNAME", 128),
    N("TYPE#"), D("CTIME"), D("MTIME"), D("STIME"), N("STATUS"), v("REMOTEOWNER", 128),
    v("LINKNAME", 128), n("FLAGS"), R("OID$", 16), n("SPARE1"), n("SPARE2"), n("SPARE3"),
    v("SPARE4", 1000), v("SPARE5", 1000), d("SPARE6"),
};

const SysColumn kTabColumns[] = {
    N("OBJ#"), n("DATAOBJ#"), N("TS#"), N("FILE#"), N("BLOCK#"), n("BOBJ#"), n("TAB#"), N("COLS"),
    n("CLUCOLS"), n("PCTFREE$"), n("PCTUSED$"), n("INITRANS"), n("MAXTRANS"), N("FLAGS"),
    v("AUDIT$", 38), n("ROWCNT"), n("BLKCNT"), n("EMPCNT"), n("AVGSPC"), n("CHNCNT"), n("AVGRLN"),
    n("AVGSPC_FLB"), n("FLBCNT"), d("ANALYZETIME"), n("SAMPLESIZE"), n("DEGREE"), n("INSTANCES"),
    N("INTCOLS"), N("KERNELCOLS"), N("PROPERTY"), N("TRIGFLAG"), n("SPARE1"), n("SPARE2"),
    n("SPARE3"), v("SPARE4", 1000), v("SPARE5", 1000), d("SPARE6"),
};

const SysColumn kIndColumns[] = {
    N("OBJ#"), n("DATAOBJ#"), N("TS#"), N("FILE#"), N("BLOCK#"), N("BO#"), N("INDMETHOD#"),
    N("COLS"), n("PCTFREE$"), n("INITRANS"), n("MAXTRANS"), n("PCTTHRES$"), N("TYPE#"),
    N("FLAGS"), N("PROPERTY"), n("BLEVEL"), n("LEAFCNT"), n("DISTKEY"), n("LBLKKEY"),
    n("DBLKKEY"), n("CLUFAC"), d("ANALYZETIME"), n("SAMPLESIZE"), n("ROWCNT"), N("INTCOLS"),
    n("DEGREE"), n("INSTANCES"), n("TRUNCCNT"), n("EVALEDITION#"), n("UNUSABLEBEFORE#"),
    n("UNUSABLEBEGINNING#"), n("SPARE1"), n("SPARE2"), n("SPARE3"), v("SPARE4", 1000),
    v("SPARE5", 1000), d("SPARE6"),
};

const SysColumn kColColumns[] = {
    N("OBJ#"), N("COL#"), N("SEGCOL#"), N("SEGCOLLENGTH"), N("OFFSET"), V("NAME", 128),
    N("TYPE#"), N("LENGTH"), N("FIXEDSTORAGE"), n("PRECISION#"), n("SCALE"), N("NULL$"),
    n("DEFLENGTH"), L("DEFAULT$"), N("INTCOL#"), N("PROPERTY"), n("CHARSETID"), n("CHARSETFORM"),
    n("SPARE1"), n("SPARE2"), n("SPARE3"), v("SPARE4", 1000), v("SPARE5", 1000), d("SPARE6"),
};

const SysColumn kColTypeColumns[] = {
    N("OBJ#"), N("COL#"), N("INTCOL#"), {"TOID", kColumnRaw, 16, true}, N("VERSION#"),
    N("PACKED"), n("INTCOLS"), R("INTCOL#S", 2000), n("FLAGS"), n("TYPIDCOL#"), n("SYNOBJ#"),
};

const SysColumn kTabPartColumns[] = {
    N("OBJ#"), N("DATAOBJ#"), N("BO#"), N("PART#"), N("HIBOUNDLEN"), L("HIBOUNDVAL"), N("TS#"),
    N("FILE#"), N("BLOCK#"), N("PCTFREE$"), n("PCTUSED$"), N("INITRANS"), N("MAXTRANS"),
    N("FLAGS"), d("ANALYZETIME"), n("SAMPLESIZE"), n("ROWCNT"), n("BLKCNT"), n("EMPCNT"),
    n("AVGSPC"), n("CHNCNT"), n("AVGRLN"), n("SPARE1"), n("SPARE2"), n("SPARE3"),
};

const SysColumn kIndPartColumns[] = {
    N("OBJ#"), N("DATAOBJ#"), N("BO#"), N("PART#"), N("HIBOUNDLEN"), L("HIBOUNDVAL"), N("FLAGS"),
    N("TS#"), N("FILE#"), N("BLOCK#"), N("PCTFREE$"), n("PCTTHRES$"), N("INITRANS"),
    N("MAXTRANS"), d("ANALYZETIME"), n("SAMPLESIZE"), n("ROWCNT"), n("BLEVEL"), n("LEAFCNT"),
    n("DISTKEY"), n("LBLKKEY"), n("DBLKKEY"), n("CLUFAC"), n("SPARE1"), n("SPARE2"), n("SPARE3"),
    n("INCLCOL"),
};

const SysColumn kTabSubPartColumns[] = {
    N("OBJ#"), N("DATAOBJ#"), N("POBJ#"), N("SUBPART#"), N("FLAGS"), N("TS#"), N("FILE#"),
    N("BLOCK#"), N("PCTFREE$"), n("PCTUSED$"), N("INITRANS"), N("MAXTRANS"), d("ANALYZETIME"),
    n("SAMPLESIZE"), n("ROWCNT"), n("BLKCNT"), n("EMPCNT"), n("AVGSPC"), n("CHNCNT"),
    n("AVGRLN"), n("SPARE1"), n("SPARE2"), n("SPARE3"),
};

const SysColumn kIndSubPartColumns[] = {
    N("OBJ#"), N("DATAOBJ#"), N("POBJ#"), N("SUBPART#"), N("FLAGS"), N("TS#"), N("FILE#"),
    N("BLOCK#"), N("PCTFREE$"), n("PCTTHRES$"), N("INITRANS"), N("MAXTRANS"), d("ANALYZETIME"),
    n("SAMPLESIZE"), n("ROWCNT"), n("BLEVEL"), n("LEAFCNT"), n("DISTKEY"), n("LBLKKEY"),
    n("DBLKKEY"), n("CLUFAC"), n("SPARE1"), n("SPARE2"), n("SPARE3"), n("INCLCOL"),
};

// Columns added with a default keep it here in stored form (Oracle 11g on);
// the forge writes the table only for a schema that has such columns.
const SysColumn kEcolColumns[] = {
    N("TABOBJ#"),
    N("COLNUM"),
    {"BINARYDEFVAL", kColumnBlob, 0, false},
    n("GUARD_ID"),
};

// Tables dropped with the recycle bin on keep their place under a BIN$ name;
// this is the record of what they were.
const SysColumn kRecycleBinColumns[] = {
    N("OBJ#"),
    N("OWNER#"),
    V("ORIGINAL_NAME", 128),
    N("OPERATION"),
    N("TYPE#"),
    n("TS#"),
    n("FILE#"),
    n("BLOCK#"),
    D("DROPTIME"),
    N("DROPSCN"),
    v("PARTITION_NAME", 128),
    N("FLAGS"),
    N("RELATED"),
    N("BO"),
    N("PURGEOBJ"),
    n("BASE_TS#"),
    n("BASE_OWNER#"),
    n("SPACE"),
    n("CON#"),
    n("SPARE1"),
    n("SPARE2"),
    n("SPARE3"),
};

#undef N
#undef n
#undef V
#undef v
#undef D
#undef d
#undef L
#undef R

// Where each SYS table lives.  `cluster` is the cluster's OBJ# (0 for a
// heap table), `key` the declared position of the cluster key column.
struct SysTable {
    const char *name;
    uint32_t objectNumber;
    uint32_t cluster;
    uint16_t clusterTable;
    size_t key;
    const SysColumn *columns;
    size_t count;
};

#define COLUMNS(list) list, sizeof list / sizeof list[0]
const SysTable kSysTables[] = {
    {"TAB$", 4, kClusterObj, 1, 0, COLUMNS(kTabColumns)},
    {"OBJ$", 18, 0, 0, 0, COLUMNS(kObjColumns)},
    {"IND$", 19, kClusterObj, 3, 5, COLUMNS(kIndColumns)},
    {"COL$", 21, kClusterObj, 5, 0, COLUMNS(kColColumns)},
    {"USER$", 22, kClusterUser, 1, 0, COLUMNS(kUserColumns)},
    {"COLTYPE$", 83, kClusterObj, 7, 0, COLUMNS(kColTypeColumns)},
    {"TABPART$", 576, 0, 0, 0, COLUMNS(kTabPartColumns)},
    {"INDPART$", 581, 0, 0, 0, COLUMNS(kIndPartColumns)},
    {"TABSUBPART$", 591, 0, 0, 0, COLUMNS(kTabSubPartColumns)},
    {"INDSUBPART$", 596, 0, 0, 0, COLUMNS(kIndSubPartColumns)},
    {"ECOL$", 548, 0, 0, 0, COLUMNS(kEcolColumns)},
    {"RECYCLEBIN$", 497, 0, 0, 0, COLUMNS(kRecycleBinColumns)},
};
#undef COLUMNS

enum SysIndex {
    kTab,
    kObj,
    kInd,
    kCol,
    kUser,
    kColType,
    kTabPart,
    kIndPart,
    kTabSubPart,
    kIndSubPart,
    kEcol,
    kRecycleBin,
    kSysCount
};

// The segments of the dictionary, in the order they are placed.
struct SysSegment {
    const char *name;
    uint32_t dataObjectId;
    uint16_t tableCount;   // 0 for a heap table
    int sysTable;          // the heap table, or -1 for a cluster
};

const SysSegment kSysSegments[] = {
    {"C_OBJ#", kClusterObj, kClusterObjTables, -1},
    {"C_USER#", kClusterUser, kClusterUserTables, -1},
    {"OBJ$", 18, 0, kObj},
    {"TABPART$", 576, 0, kTabPart},
    {"INDPART$", 581, 0, kIndPart},
    {"TABSUBPART$", 591, 0, kTabSubPart},
    {"INDSUBPART$", 596, 0, kIndSubPart},
    {"ECOL$", 548, 0, kEcol},  // these two last, so that the others keep their places without them
    {"RECYCLEBIN$", 497, 0, kRecycleBin},
};
const size_t kSysSegmentCount = sizeof kSysSegments / sizeof kSysSegments[0];

bool dictError(char *error, size_t errorLength, const char *format, ...) __attribute__((format(printf, 3, 4)));

bool dictError(char *error, size_t errorLength, const char *format, ...) {
    if (error == nullptr || errorLength == 0) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(error, errorLength, format, args);
    va_end(args);
    return false;
}

ColumnDef sysColumnDef(const SysColumn &c) {
    ColumnDef def;
    def.name = c.name;
    def.type = c.type;
    def.length = c.length;
    def.notNull = c.notNull;
    return def;
}

// The columns of a SYS table in the order a reader sees them: the cluster key
// first, then the stored columns in declared order.
std::vector<size_t> physicalOrder(const SysTable &t) {
    std::vector<size_t> order;
    if (t.cluster != 0) order.push_back(t.key);
    for (size_t i = 0; i < t.count; i++)
        if (t.cluster == 0 || i != t.key) order.push_back(i);
    return order;
}

// One row of a SYS table being filled column by column; every column starts
// NULL.
struct SysRow {
    const SysTable *table;
    std::vector<FieldValue> values;  // declared order
    bool deleted = false;            // a purged object's row, D flag set
    bool overwritten = false;        // its space reused since: zeroed
};

struct Builder {
    bool ok;
    std::string error;
    std::string created;   // CTIME and friends
};

SysRow newRow(const SysTable &t) {
    SysRow row;
    row.table = &t;
    row.values.resize(t.count);
    for (FieldValue &v : row.values) setNullField(&v);
    return row;
}

void set(Builder *b, SysRow *row, const char *column, const std::string &literal) {
    for (size_t i = 0; i < row->table->count; i++) {
        if (strcmp(row->table->columns[i].name, column) != 0) continue;
        ColumnDef def = sysColumnDef(row->table->columns[i]);
        char reason[256];
        if (!makeFieldValue(&def, literal.c_str(), &row->values[i], reason, sizeof reason) && b->ok) {
            b->ok = false;
            b->error = std::string(row->table->name) + "." + column + ": " + reason;
        }
        return;
    }
    if (b->ok) {
        b->ok = false;
        b->error = std::string(row->table->name) + " has no column " + column;
    }
}

void setNumber(Builder *b, SysRow *row, const char *column, long long value) {
    set(b, row, column, std::to_string(value));
}

// The values a reader of a member row sees after the key.
std::vector<FieldValue> memberValues(const SysRow &row) {
    std::vector<FieldValue> values;
    for (size_t i = 0; i < row.values.size(); i++)
        if (i != row.table->key) values.push_back(row.values[i]);
    return values;
}

// COL$ type, length, charset and form of a column.
struct ColumnStorage {
    uint32_t type;
    uint32_t length;
    uint32_t charsetId;
    uint32_t charsetForm;
    int32_t scale;
};

ColumnStorage columnStorage(const ColumnDef &c) {
    ColumnStorage s = {c.type, 0, 0, 0, c.scale};
    switch (c.type) {
    case kColumnVarchar2: s = {1, c.length != 0 ? c.length : 4000, kCharsetAl32Utf8, 1, -1}; break;
    case kColumnNvarchar2: s = {1, 2 * (c.length != 0 ? c.length : 2000), kCharsetAl16Utf16, 2, -1}; break;
    case kColumnChar: s = {96, c.length != 0 ? c.length : 1, kCharsetAl32Utf8, 1, -1}; break;
    case kColumnLong: s = {8, 0, kCharsetAl32Utf8, 1, -1}; break;
    case kColumnNumber: s = {2, 22, 0, 0, c.scale}; break;
    case kColumnDate: s = {12, 7, 0, 0, -1}; break;
    case kColumnTimestamp: s = {180, 11, 0, 0, c.scale >= 0 ? c.scale : 6}; break;
    case kColumnTimestampTz: s = {181, 13, 0, 0, c.scale >= 0 ? c.scale : 6}; break;
    case kColumnBinaryFloat: s = {100, 4, 0, 0, -1}; break;
    case kColumnBinaryDouble: s = {101, 8, 0, 0, -1}; break;
    case kColumnRaw: s = {23, c.length != 0 ? c.length : 2000, 0, 0, -1}; break;
    case kColumnClob: s = {112, 4000, kCharsetAl32Utf8, 1, -1}; break;
    case kColumnNclob: s = {112, 4000, kCharsetAl16Utf16, 2, -1}; break;
    case kColumnBlob: s = {113, 4000, 0, 0, -1}; break;
    }
    return s;
}

// Everything the dictionary holds, as rows of the SYS tables.
struct Rows {
    std::vector<SysRow> tables[kSysCount];
};

struct SegmentAddress {
    uint32_t tablespace;
    uint32_t rfn;
    uint32_t block;
};

void addObject(Builder *b, Rows *rows, uint32_t obj, long long dataObj, uint32_t owner, const std::string &name,
               const std::string &subname, uint32_t type) {
    SysRow row = newRow(kSysTables[kObj]);
    setNumber(b, &row, "OBJ#", obj);
    if (dataObj >= 0) setNumber(b, &row, "DATAOBJ#", dataObj);
    setNumber(b, &row, "OWNER#", owner);
    set(b, &row, "NAME", name);
    setNumber(b, &row, "NAMESPACE", type == kObjIndex ? kNamespaceIndex : kNamespaceTable);
    if (!subname.empty()) set(b, &row, "SUBNAME", subname);
    setNumber(b, &row, "TYPE#", type);
    set(b, &row, "CTIME", b->created);
    set(b, &row, "MTIME", b->created);
    set(b, &row, "STIME", b->created);
    setNumber(b, &row, "STATUS", 1);
    setNumber(b, &row, "FLAGS", 0);
    setNumber(b, &row, "SPARE1", 6);
    setNumber(b, &row, "SPARE2", 1);
    setNumber(b, &row, "SPARE3", owner);
    rows->tables[kObj].push_back(row);
}

// The TAB$ row of a table.  A clustered table names its cluster and table
// number; a partitioned one has no segment of its own (no DATAOBJ#, file and
// block 0).
void addTab(Builder *b, Rows *rows, uint32_t obj, long long dataObj, const SegmentAddress &at, size_t columns,
            uint32_t cluster, uint16_t clusterTable, bool partitioned, size_t rowCount) {
    SysRow row = newRow(kSysTables[kTab]);
    setNumber(b, &row, "OBJ#", obj);
    if (dataObj >= 0) setNumber(b, &row, "DATAOBJ#", dataObj);
    setNumber(b, &row, "TS#", at.tablespace);
    setNumber(b, &row, "FILE#", at.rfn);
    setNumber(b, &row, "BLOCK#", at.block);
    if (cluster != 0) {
        setNumber(b, &row, "BOBJ#", cluster);
        setNumber(b, &row, "TAB#", clusterTable);
        setNumber(b, &row, "CLUCOLS", 1);
    }
    setNumber(b, &row, "COLS", (long long)columns);
    setNumber(b, &row, "PCTFREE$", 10);
    setNumber(b, &row, "PCTUSED$", 40);
    setNumber(b, &row, "INITRANS", 1);
    setNumber(b, &row, "MAXTRANS", 255);
    setNumber(b, &row, "FLAGS", 1);
    set(b, &row, "AUDIT$", std::string(38, '-'));
    setNumber(b, &row, "ROWCNT", (long long)rowCount);
    setNumber(b, &row, "INTCOLS", (long long)columns);
    setNumber(b, &row, "KERNELCOLS", (long long)columns);
    uint32_t property = (cluster != 0 ? kPropertyClustered : 0) | (partitioned ? kPropertyPartitioned : 0);
    setNumber(b, &row, "PROPERTY", property);
    setNumber(b, &row, "TRIGFLAG", 0);
    rows->tables[kTab].push_back(row);
}

// COL$.PROPERTY bits.
const uint64_t kColHidden = 0x20;
const uint64_t kColEncrypted = 0x04000000;
const uint64_t kColNoSalt = 0x20000000;
const uint64_t kColAddedDefault = 0x40000000;
const uint64_t kColInvisible = 0x400000000ULL;

uint64_t columnProperty(const ColumnDef &c)
{
    uint64_t property = 0;
    if (c.invisible)
        property |= kColInvisible | kColHidden;
    if (c.guard)
        property |= kColHidden;
    if (c.encrypted)
        property |= kColEncrypted;
    if (c.noSalt)
        property |= kColNoSalt;
    if (c.added)
        property |= kColAddedDefault;
    return property;
}

// Hidden and invisible columns have no COL# of their own.
bool hasColumnNumber(const ColumnDef &c)
{
    return !c.invisible && !c.guard;
}

bool hasAddedColumns(const Schema *schema)
{
    for (const SchemaTable &t : schema->tables)
        for (const ColumnDef &c : t.columns)
            if (c.added)
                return true;
    return false;
}

// ECOL$ and RECYCLEBIN$ are laid only for a schema that uses them, so that
// every other database keeps its blocks byte for byte.
bool sysTableWritten(const Schema *schema, size_t t)
{
    if (t == kEcol)
        return hasAddedColumns(schema);
    if (t == kRecycleBin)
        return schema->withRecycleBin;
    return true;
}

// Where each SYS table's rows stood before an object was added, so that a
// purged object's rows can be marked once they are all in.
struct RowMarks {
    size_t at[kSysCount];
};

RowMarks markRows(const Rows *rows)
{
    RowMarks marks;
    for (size_t t = 0; t < kSysCount; t++)
        marks.at[t] = rows->tables[t].size();
    return marks;
}

void deleteRowsSince(Rows *rows, const RowMarks &marks)
{
    for (size_t t = 0; t < kSysCount; t++)
        for (size_t r = marks.at[t]; r < rows->tables[t].size(); r++)
            rows->tables[t][r].deleted = true;
}

const uint32_t kObjFlagRecycleBin = 0x80;

// One COL$ row.  `segcol` is the position a reader sees (1-based).
void addCol(Builder *b, Rows *rows, uint32_t obj, size_t col, size_t intcol, size_t segcol,
            const ColumnDef &c)
{
    ColumnStorage s = columnStorage(c);
    SysRow row = newRow(kSysTables[kCol]);
    setNumber(b, &row, "OBJ#", obj);
    setNumber(b, &row, "COL#", (long long)col);
    setNumber(b, &row, "SEGCOL#", (long long)segcol);
    setNumber(b, &row, "SEGCOLLENGTH", s.length);
    setNumber(b, &row, "OFFSET", 0);
    set(b, &row, "NAME", c.name);
    setNumber(b, &row, "TYPE#", s.type);
    setNumber(b, &row, "LENGTH", s.length);
    setNumber(b, &row, "FIXEDSTORAGE", 0);
    if (c.type == kColumnNumber && c.precision != 0) setNumber(b, &row, "PRECISION#", c.precision);
    if (s.scale >= 0) setNumber(b, &row, "SCALE", s.scale);
    setNumber(b, &row, "NULL$", c.notNull ? 1 : 0);
    if (c.added) {
        std::string text = defaultSqlText(&c);
        setNumber(b, &row, "DEFLENGTH", (long long)text.size());
        set(b, &row, "DEFAULT$", text);
    }
    setNumber(b, &row, "INTCOL#", (long long)intcol);
    set(b, &row, "PROPERTY", std::to_string((unsigned long long)columnProperty(c)));
    if (s.charsetForm != 0) {
        setNumber(b, &row, "CHARSETID", s.charsetId);
        setNumber(b, &row, "CHARSETFORM", s.charsetForm);
    } else {
        setNumber(b, &row, "CHARSETID", 0);
        setNumber(b, &row, "CHARSETFORM", 0);
    }
    rows->tables[kCol].push_back(row);
}

const SchemaUser *findUser(const Schema *schema, const std::string &name) {
    for (const SchemaUser &u : schema->users)
        if (u.name == name) return &u;
    return nullptr;
}

SegmentAddress addressOf(const SchemaSegment &s) {
    SegmentAddress at = {s.tablespace, s.present ? s.rfn : 0u, s.present ? s.block : 0u};
    return at;
}

// Every row of the dictionary.  `sysAt` gives the header of each SYS segment
// (kSysSegments order).
bool buildRows(const Schema *schema, const DictionaryLayout *layout, const SegmentAddress *sysAt, Rows *rows,
               char *error, size_t errorLength) {
    Builder b;
    b.ok = true;
    b.created = layout->created;

    // Users: SYS and PUBLIC are always there.
    std::vector<SchemaUser> users;
    if (findUser(schema, "SYS") == nullptr) users.push_back(SchemaUser{"SYS", 0, 0, false});
    if (findUser(schema, "PUBLIC") == nullptr) users.push_back(SchemaUser{"PUBLIC", 1, 0, true});
    users.insert(users.end(), schema->users.begin(), schema->users.end());
    std::sort(users.begin(), users.end(),
              [](const SchemaUser &x, const SchemaUser &y) { return x.id < y.id; });
    for (size_t i = 1; i < users.size(); i++)
        if (users[i].id == users[i - 1].id)
            return dictError(error, errorLength, "users %s and %s both have USER# %u", users[i - 1].name.c_str(),
                             users[i].name.c_str(), users[i].id);
    for (const SchemaUser &u : users) {
        SysRow row = newRow(kSysTables[kUser]);
        setNumber(&b, &row, "USER#", u.id);
        set(&b, &row, "NAME", u.name);
        setNumber(&b, &row, "TYPE#", u.role ? 0 : 1);
        setNumber(&b, &row, "DATATS#", u.tablespace);
        setNumber(&b, &row, "TEMPTS#", u.role ? 0 : 3);
        set(&b, &row, "CTIME", b.created);
        setNumber(&b, &row, "RESOURCE$", 0);
        setNumber(&b, &row, "DEFROLE", 1);
        setNumber(&b, &row, "ASTATUS", 0);
        setNumber(&b, &row, "LCOUNT", 0);
        if (!u.role) set(&b, &row, "DEFSCHCLASS", "DEFAULT_CONSUMER_GROUP");
        rows->tables[kUser].push_back(row);
    }

    // The SYS clusters and tables describe themselves.
    addObject(&b, rows, kClusterObj, kClusterObj, 0, "C_OBJ#", "", kObjCluster);
    addObject(&b, rows, kClusterUser, kClusterUser, 0, "C_USER#", "", kObjCluster);
    for (size_t t = 0; t < kSysCount; t++) {
        const SysTable &st = kSysTables[t];
        if (!sysTableWritten(schema, t))
            continue;
        uint32_t dataObj = st.cluster != 0 ? st.cluster : st.objectNumber;
        SegmentAddress at = {0, 0, 0};
        for (size_t s = 0; s < kSysSegmentCount; s++)
            if (kSysSegments[s].dataObjectId == dataObj) at = sysAt[s];
        addObject(&b, rows, st.objectNumber, dataObj, 0, st.name, "", kObjTable);
        addTab(&b, rows, st.objectNumber, dataObj, at, st.count, st.cluster, st.clusterTable, false, 0);
        std::vector<size_t> order = physicalOrder(st);
        for (size_t p = 0; p < order.size(); p++)
            addCol(&b, rows, st.objectNumber, order[p] + 1, order[p] + 1, p + 1,
                   sysColumnDef(st.columns[order[p]]));
    }

    // The schema's tables, their partitions and indexes.
    for (const SchemaTable &t : schema->tables) {
        const SchemaUser *owner = t.owner == "SYS" ? nullptr : findUser(schema, t.owner);
        if (owner == nullptr && t.owner != "SYS")
            return dictError(error, errorLength, "table %s.%s: no user %s", t.owner.c_str(), t.name.c_str(),
                             t.owner.c_str());
        uint32_t ownerId = owner != nullptr ? owner->id : 0;
        bool partitioned = !t.partitions.empty();
        // An index-organized table has no segment of its own: its index has.
        bool noSegment = partitioned || t.indexOrganized;
        bool inBin = t.drop == kSchemaRecycleBin;
        const std::string &name = inBin ? t.binName : t.name;
        RowMarks before = markRows(rows);
        addObject(&b, rows, t.objectNumber, noSegment ? -1 : (long long)t.dataObjectId, ownerId, name, "",
                  kObjTable);
        if (inBin)
            setNumber(&b, &rows->tables[kObj].back(), "FLAGS", kObjFlagRecycleBin);
        SegmentAddress at = addressOf(t.segment);
        if (noSegment) at = SegmentAddress{partitioned ? 0 : at.tablespace, 0, 0};
        addTab(&b, rows, t.objectNumber, noSegment ? -1 : (long long)t.dataObjectId, at, t.columns.size(), 0, 0,
               partitioned, t.rowCount);
        if (t.indexOrganized) {
            SysRow &tab = rows->tables[kTab].back();
            setNumber(&b, &tab, "PROPERTY", kPropertyIndexOrganized);
        }
        size_t numbered = 0;
        for (size_t c = 0; c < t.columns.size(); c++) {
            const ColumnDef &column = t.columns[c];
            size_t col = hasColumnNumber(column) ? ++numbered : 0;
            addCol(&b, rows, t.objectNumber, col, c + 1, c + 1, column);
            if (!column.added || !column.defaultInEcol)
                continue;
            FieldValue value;
            char reason[256];
            if (!makeFieldValue(&column, column.defaultLiteral.c_str(), &value, reason, sizeof reason))
                return dictError(error, errorLength, "%s.%s: default: %s", t.name.c_str(),
                                 column.name.c_str(), reason);
            SysRow ecol = newRow(kSysTables[kEcol]);
            setNumber(&b, &ecol, "TABOBJ#", t.objectNumber);
            setNumber(&b, &ecol, "COLNUM", (long long)(c + 1));
            ecol.values[2].isNull = false;
            ecol.values[2].text = value.text;
            ecol.values[2].bytes =
                inRowBlobLocator(value.bytes, (uint32_t)(0x7000 + rows->tables[kEcol].size()));
            if (!column.notNull)
                setNumber(&b, &ecol, "GUARD_ID", 0);
            rows->tables[kEcol].push_back(ecol);
        }
        for (size_t p = 0; p < t.partitions.size(); p++) {
            const SchemaPartition &part = t.partitions[p];
            addObject(&b, rows, part.objectNumber, part.dataObjectId, ownerId, name, part.name,
                      kObjTablePartition);
            if (inBin)
                setNumber(&b, &rows->tables[kObj].back(), "FLAGS", kObjFlagRecycleBin);
            SegmentAddress pat = addressOf(part.segment);
            SysRow row = newRow(kSysTables[kTabPart]);
            setNumber(&b, &row, "OBJ#", part.objectNumber);
            setNumber(&b, &row, "DATAOBJ#", part.dataObjectId);
            setNumber(&b, &row, "BO#", t.objectNumber);
            setNumber(&b, &row, "PART#", (long long)(p + 1) * 10);
            setNumber(&b, &row, "HIBOUNDLEN", (long long)part.highBound.size());
            if (!part.highBound.empty()) set(&b, &row, "HIBOUNDVAL", part.highBound);
            setNumber(&b, &row, "TS#", pat.tablespace);
            setNumber(&b, &row, "FILE#", pat.rfn);
            setNumber(&b, &row, "BLOCK#", pat.block);
            setNumber(&b, &row, "PCTFREE$", 10);
            setNumber(&b, &row, "PCTUSED$", 40);
            setNumber(&b, &row, "INITRANS", 1);
            setNumber(&b, &row, "MAXTRANS", 255);
            setNumber(&b, &row, "FLAGS", 0);
            setNumber(&b, &row, "ROWCNT", part.rowCount);
            rows->tables[kTabPart].push_back(row);
        }
        if (t.drop == kSchemaPurged) {
            deleteRowsSince(rows, before);
            // The space of the last COL$ rows went to a later insert.
            std::vector<SysRow> &cols = rows->tables[kCol];
            for (size_t r = cols.size(), n = 0; r > before.at[kCol] && n < t.overwrittenColumns; r--, n++)
                cols[r - 1].overwritten = true;
        }
    }
    for (const SchemaIndex &x : schema->indexes) {
        const SchemaTable *base = nullptr;
        for (const SchemaTable &t : schema->tables)
            if (x.tableObjectNumber != 0 ? t.objectNumber == x.tableObjectNumber
                                         : t.owner == x.owner && t.name == x.table)
                base = &t;
        if (base == nullptr)
            return dictError(error, errorLength, "index %s.%s: no table %s.%s", x.owner.c_str(), x.name.c_str(),
                             x.owner.c_str(), x.table.c_str());
        const SchemaUser *owner = findUser(schema, x.owner);
        RowMarks before = markRows(rows);
        addObject(&b, rows, x.objectNumber, x.dataObjectId, owner != nullptr ? owner->id : 0,
                  x.drop == kSchemaRecycleBin ? x.binName : x.name, "", kObjIndex);
        if (x.drop == kSchemaRecycleBin)
            setNumber(&b, &rows->tables[kObj].back(), "FLAGS", kObjFlagRecycleBin);
        SegmentAddress at = addressOf(x.segment);
        SysRow row = newRow(kSysTables[kInd]);
        setNumber(&b, &row, "OBJ#", x.objectNumber);
        setNumber(&b, &row, "DATAOBJ#", x.dataObjectId);
        setNumber(&b, &row, "TS#", at.tablespace);
        setNumber(&b, &row, "FILE#", at.rfn);
        setNumber(&b, &row, "BLOCK#", at.block);
        setNumber(&b, &row, "BO#", base->objectNumber);
        setNumber(&b, &row, "INDMETHOD#", 0);
        setNumber(&b, &row, "COLS", x.columnCount);
        setNumber(&b, &row, "PCTFREE$", 10);
        setNumber(&b, &row, "INITRANS", 2);
        setNumber(&b, &row, "MAXTRANS", 255);
        setNumber(&b, &row, "TYPE#", x.indexOrganized ? 4 : 1);
        setNumber(&b, &row, "FLAGS", 0);
        setNumber(&b, &row, "PROPERTY", x.unique ? 1 : 0);
        setNumber(&b, &row, "INTCOLS", x.columnCount);
        rows->tables[kInd].push_back(row);
        if (x.drop == kSchemaPurged)
            deleteRowsSince(rows, before);
    }
    for (const SchemaRecycleBinRow &r : schema->recycleBin) {
        const SchemaUser *owner = r.owner == "SYS" ? nullptr : findUser(schema, r.owner);
        if (owner == nullptr && r.owner != "SYS")
            return dictError(error, errorLength, "recycle bin %s.%s: no user %s", r.owner.c_str(),
                             r.originalName.c_str(), r.owner.c_str());
        uint32_t ownerId = owner != nullptr ? owner->id : 0;
        SegmentAddress at = addressOf(r.segment);
        SysRow row = newRow(kSysTables[kRecycleBin]);
        setNumber(&b, &row, "OBJ#", r.objectNumber);
        setNumber(&b, &row, "OWNER#", ownerId);
        set(&b, &row, "ORIGINAL_NAME", r.originalName);
        setNumber(&b, &row, "OPERATION", r.operation);
        setNumber(&b, &row, "TYPE#", r.type);
        setNumber(&b, &row, "TS#", at.tablespace);
        setNumber(&b, &row, "FILE#", at.rfn);
        setNumber(&b, &row, "BLOCK#", at.block);
        set(&b, &row, "DROPTIME", r.dropTime);
        set(&b, &row, "DROPSCN", std::to_string((unsigned long long)r.dropScn));
        if (!r.partitionName.empty())
            set(&b, &row, "PARTITION_NAME", r.partitionName);
        setNumber(&b, &row, "FLAGS", r.flags);
        setNumber(&b, &row, "RELATED", r.related);
        setNumber(&b, &row, "BO", r.baseObject);
        setNumber(&b, &row, "PURGEOBJ", r.purgeObject);
        setNumber(&b, &row, "BASE_TS#", at.tablespace);
        setNumber(&b, &row, "BASE_OWNER#", ownerId);
        setNumber(&b, &row, "SPACE", r.space);
        setNumber(&b, &row, "CON#", 0);
        rows->tables[kRecycleBin].push_back(row);
    }
    if (!b.ok) return dictError(error, errorLength, "%s", b.error.c_str());
    return true;
}

// The keys of a cluster, in increasing key order, each with its members in
// table order.
std::vector<ClusterKey> clusterKeys(const Rows *rows, uint32_t cluster) {
    std::map<long long, ClusterKey> keys;
    for (size_t t = 0; t < kSysCount; t++) {
        const SysTable &st = kSysTables[t];
        if (st.cluster != cluster) continue;
        for (const SysRow &row : rows->tables[t]) {
            // Keys are whole numbers: read them back from the value text.
            long long k = atoll(row.values[st.key].text.c_str());
            ClusterKey &key = keys[k];
            if (key.key.empty()) {
                key.key.push_back(row.values[st.key]);
                key.deleted = true;
            }
            ClusterMember m;
            m.table = st.clusterTable;
            m.values = memberValues(row);
            m.deleted = row.deleted;
            m.overwritten = row.overwritten;
            key.members.push_back(m);
            // A key whose rows all went with a purged table goes too.
            key.deleted = key.deleted && row.deleted;
        }
    }
    std::vector<ClusterKey> out;
    for (auto &entry : keys) {
        std::stable_sort(entry.second.members.begin(), entry.second.members.end(),
                         [](const ClusterMember &x, const ClusterMember &y) { return x.table < y.table; });
        out.push_back(entry.second);
    }
    return out;
}

std::vector<TableRow> heapRows(const std::vector<SysRow> &rows) {
    std::vector<TableRow> out;
    for (const SysRow &row : rows) {
        TableRow r;
        initTableRow(&r);
        r.values = row.values;
        r.deleted = row.deleted;
        out.push_back(r);
    }
    return out;
}

// Bytes a segment's rows take in blocks, generously: every value with a
// three-byte length, every row with its header, key slot and directory
// entry, every key row twice over.
size_t segmentBytes(const Rows *rows, const SysSegment &seg) {
    size_t bytes = 0;
    for (size_t t = 0; t < kSysCount; t++) {
        const SysTable &st = kSysTables[t];
        bool here = seg.sysTable >= 0 ? (int)t == seg.sysTable : st.cluster == seg.dataObjectId;
        if (!here) continue;
        for (const SysRow &row : rows->tables[t]) {
            bytes += 8 + 40;  // header, directory entry, and a key row's share
            for (const FieldValue &v : row.values) bytes += 3 + v.bytes.size();
        }
    }
    return bytes;
}

ManifestTable sysManifest(const SysTable &st, uint32_t dataObj) {
    ManifestTable m;
    m.name = st.name;
    m.owner = "SYS";
    m.objectId = dataObj;
    m.clusterTable = st.clusterTable;
    for (size_t i : physicalOrder(st)) m.columns.push_back(sysColumnDef(st.columns[i]));
    return m;
}

}  // namespace

void initDictionaryLayout(DictionaryLayout *layout, size_t file, uint32_t firstBlock) {
    layout->file = file;
    layout->firstBlock = firstBlock;
    layout->created = "2024-05-14 10:22:31";
}

void initSchemaSegment(SchemaSegment *segment) {
    segment->present = false;
    segment->tablespace = 0;
    segment->rfn = 0;
    segment->block = 0;
}

std::string recycleBinName(uint32_t seed)
{
    // Oracle's 16 bytes are a GUID; any fixed mix of the seed serves a fixture.
    uint8_t bytes[16];
    uint64_t state = 0x5A4F52ULL * 0x100000000ULL + seed;
    for (size_t half = 0; half < 2; half++) {
        state += 0x9E3779B97F4A7C15ULL;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (size_t i = 0; i < 8; i++)
            bytes[half * 8 + i] = (uint8_t)(z >> (8 * i));
    }
    static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string name = "BIN$";
    for (size_t i = 0; i < 16; i += 3) {
        uint32_t group = (uint32_t)bytes[i] << 16;
        if (i + 1 < 16)
            group |= (uint32_t)bytes[i + 1] << 8;
        if (i + 2 < 16)
            group |= bytes[i + 2];
        name += kBase64[(group >> 18) & 63];
        name += kBase64[(group >> 12) & 63];
        name += i + 1 < 16 ? kBase64[(group >> 6) & 63] : '=';
        name += i + 2 < 16 ? kBase64[group & 63] : '=';
    }
    return name + "$0";
}

uint32_t dictionaryObjectNumber(const char *name) {
    for (const SysTable &t : kSysTables)
        if (strcmp(t.name, name) == 0) return t.objectNumber;
    if (strcmp(name, "C_OBJ#") == 0) return kClusterObj;
    if (strcmp(name, "C_USER#") == 0) return kClusterUser;
    return 0;
}

bool layDictionary(const DatafileLayout *const *files, size_t fileCount, const Schema *schema,
                   const DictionaryLayout *layout, std::vector<SegmentBlock> *blocks, Manifest *manifest,
                   char *error, size_t errorLength) {
    if (layout->file >= fileCount) return dictError(error, errorLength, "the dictionary names file %zu of %zu",
                                                    layout->file, fileCount);
    const DatafileLayout *system = files[layout->file];
    SegmentAddress sysAt[kSysSegmentCount];

    // First with the widest addresses, to size the segments; then for real.
    for (size_t s = 0; s < kSysSegmentCount; s++)
        sysAt[s] = {system->header.tsNumber, system->rfn, 4194303};
    Rows sized;
    if (!buildRows(schema, layout, sysAt, &sized, error, errorLength))
        return false;
    uint32_t usable = system->blockSize - 300;
    std::vector<SegmentLayout> segments(kSysSegmentCount);
    uint32_t next = layout->firstBlock;
    for (size_t s = 0; s < kSysSegmentCount; s++) {
        if (kSysSegments[s].sysTable >= 0 && !sysTableWritten(schema, (size_t)kSysSegments[s].sysTable)) {
            sysAt[s] = {0, 0, 0};
            continue;
        }
        size_t bytes = segmentBytes(&sized, kSysSegments[s]);
        uint32_t dataBlocks = (uint32_t)((bytes * 5 / 4 + usable - 1) / usable);
        uint32_t extentBlocks = 1 + (dataBlocks > 0 ? dataBlocks : 1) + 1;
        initSegmentLayout(&segments[s], kTypeSegmentHeader, kSysSegments[s].dataObjectId);
        segments[s].scnBase = system->header.cache.scnBase;
        ExtentPlace e = {layout->file, next, extentBlocks};
        segments[s].extents.push_back(e);
        sysAt[s] = {system->header.tsNumber, system->rfn, next};
        next += extentBlocks;
    }
    if (next > system->blockCount)
        return dictError(error, errorLength, "the dictionary needs blocks %u..%u of %s, which has %u", layout->firstBlock,
                         next - 1, system->path, system->blockCount);
    Rows rows;
    if (!buildRows(schema, layout, sysAt, &rows, error, errorLength)) return false;

    blocks->clear();
    for (size_t s = 0; s < kSysSegmentCount; s++) {
        const SysSegment &seg = kSysSegments[s];
        if (seg.sysTable >= 0 && !sysTableWritten(schema, (size_t)seg.sysTable))
            continue;
        std::vector<SegmentBlock> laid;
        if (seg.sysTable < 0) {
            std::vector<ManifestTable> tables(seg.tableCount);
            for (size_t t = 0; t < kSysCount; t++)
                if (kSysTables[t].cluster == seg.dataObjectId)
                    tables[kSysTables[t].clusterTable] = sysManifest(kSysTables[t], seg.dataObjectId);
            if (!layCluster(files, fileCount, &segments[s], seg.tableCount, clusterKeys(&rows, seg.dataObjectId),
                            &laid, &tables, error, errorLength))
                return false;
            if (manifest != nullptr)
                for (const ManifestTable &t : tables)
                    if (!t.name.empty()) manifest->tables.push_back(t);
        } else {
            const SysTable &st = kSysTables[seg.sysTable];
            ManifestTable table = sysManifest(st, seg.dataObjectId);
            if (!laySegment(files, fileCount, &segments[s], heapRows(rows.tables[seg.sysTable]), &laid, &table,
                            error, errorLength))
                return false;
            if (manifest != nullptr) manifest->tables.push_back(table);
        }
        for (SegmentBlock &block : laid) blocks->push_back(block);
    }
    return true;
}

}  // namespace forge
