// The PostgreSQL script written beside a table unloaded with TARGET
// POSTGRESQL: a CREATE TABLE with each Oracle type mapped to the PostgreSQL
// type that holds all its values, then the \copy line that loads the CSV
// file.  Names keep Oracle's letter case, in double quotes.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "dictionary/dictionary.h"

namespace {

constexpr int kPostgresMaxFraction = 6;   // timestamp(p): p is at most 6
constexpr int kIntegerMaxPrecision = 9;   // NUMBER(9) always fits an integer
constexpr int kNumberMaxPrecision = 38;
constexpr size_t kPgTypeSize = 64;

// Appends to a bounded text; false once it no longer fits.
struct ScriptText {
    char *text;
    size_t size;
    size_t used;
    bool fits;
};

void addText(ScriptText *s, const char *format, ...) __attribute__((format(printf, 2, 3)));
void addText(ScriptText *s, const char *format, ...)
{
    if (!s->fits)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(s->text + s->used, s->size - s->used, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= s->size - s->used) {
        s->fits = false;
        s->text[s->used] = '\0';
        return;
    }
    s->used += static_cast<size_t>(n);
}

// A name inside a "--" comment: a line end would end the comment, so
// control characters are shown as "?".
void addCommentText(ScriptText *s, const char *name)
{
    for (const char *c = name; *c != '\0'; c++)
        addText(s, "%c", static_cast<unsigned char>(*c) < 0x20 ? '?' : *c);
}

// A name as a PostgreSQL identifier: in double quotes, quotes doubled.
void addIdentifier(ScriptText *s, const char *name)
{
    addText(s, "\"");
    for (const char *c = name; *c != '\0'; c++) {
        if (*c == '"')
            addText(s, "\"\"");
        else
            addText(s, "%c", *c);
    }
    addText(s, "\"");
}

// PostgreSQL keeps the first 63 bytes of an identifier (NAMEDATALEN - 1).
// A longer name becomes its first bytes, cut on a character boundary, "_"
// and eight hexadecimal digits of a hash of the whole name: the same name
// always maps alike, and two names sharing their first bytes do not meet.
// Should two mapped names of one table still be equal, the later one is
// hashed again with a counter until it is unique.
constexpr size_t kPostgresNameBytes = 63;
constexpr size_t kPostgresHashDigits = 8;
constexpr size_t kPostgresNameSize = kPostgresNameBytes + 1;

uint32_t nameHash(const char *name, uint32_t round)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const char *c = name; *c != '\0'; c++) {
        hash ^= static_cast<unsigned char>(*c);
        hash *= 16777619u;
    }
    for (int i = 0; i < 4; i++) {
        hash ^= (round >> (8 * i)) & 0xFFu;
        hash *= 16777619u;
    }
    return hash;
}

void shortenedName(const char *name, uint32_t round, char *out)
{
    size_t cut = kPostgresNameBytes - 1 - kPostgresHashDigits;
    // Back off to the first byte of a UTF-8 character.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        cut--;
    snprintf(out, kPostgresNameSize, "%.*s_%08x", static_cast<int>(cut), name, nameHash(name, round));
}

// Maps the table's name and its column names (count of them, an empty
// name for a position without a column) into out (kPostgresNameSize bytes
// each; out[0] the table, out[1 + i] column i).
void mapPostgresNames(const char *table, const ColumnEntry *columns, int count,
                      char (*out)[kPostgresNameSize])
{
    if (strlen(table) > kPostgresNameBytes)
        shortenedName(table, 0, out[0]);
    else
        snprintf(out[0], kPostgresNameSize, "%s", table);
    for (int i = 0; i < count; i++) {
        const char *name = columns[i].name;
        char *mapped = out[1 + i];
        if (strlen(name) <= kPostgresNameBytes) {
            snprintf(mapped, kPostgresNameSize, "%s", name);
            continue;
        }
        for (uint32_t round = 0;; round++) {
            shortenedName(name, round, mapped);
            bool taken = false;
            for (int j = 0; j < count && !taken; j++)
                taken = j != i && strcmp(columns[j].name, mapped) == 0;
            for (int j = 0; j < i && !taken; j++)
                taken = strcmp(out[1 + j], mapped) == 0;
            if (!taken)
                break;
        }
    }
}

// NUMBER(p,s): integer when it cannot leave the integer range, numeric(p,s)
// when PostgreSQL's numeric takes the same precision and scale, otherwise
// numeric without limits (which holds every NUMBER exactly).
void numberType(const ColumnEntry *c, char *out, size_t size)
{
    int p = c->precision;
    int s = c->scale;
    if (p == 0 || p > kNumberMaxPrecision)
        snprintf(out, size, "numeric");
    else if (s == 0 && p <= kIntegerMaxPrecision)
        snprintf(out, size, "integer");
    else if (s == 0)
        snprintf(out, size, "numeric(%d)", p);
    else if (s > 0 && s <= p)
        snprintf(out, size, "numeric(%d,%d)", p, s);
    else
        snprintf(out, size, "numeric");
}

// timestamp(n) keeps at most microseconds.
void timestampType(const ColumnEntry *c, const char *name, char *out, size_t size)
{
    if (c->scale <= 0)
        snprintf(out, size, "%s", name);
    else
        snprintf(out, size, "%s(%d)", name, c->scale < kPostgresMaxFraction ? c->scale : kPostgresMaxFraction);
}

void characterType(const ColumnEntry *c, const char *name, char *out, size_t size)
{
    // National lengths count the bytes of a two-byte set; the others count
    // bytes, never fewer than the characters they hold.
    int length = c->charsetForm == 2 ? c->length / 2 : c->length;
    if (length <= 0)
        snprintf(out, size, "%s", name);
    else
        snprintf(out, size, "%s(%d)", name, length);
}

// The PostgreSQL type of a column.  Types ZOR writes in hexadecimal (RAW,
// LONG RAW, BLOB, ROWID, intervals, anything it does not know) are bytea.
void postgresType(const ColumnEntry *c, char *out, size_t size)
{
    if (isEncryptedColumn(c->type, c->property)) {
        snprintf(out, size, "bytea");
        return;
    }
    switch (c->type) {
    case 1: case 9: characterType(c, "varchar", out, size); return;
    case 96: characterType(c, "char", out, size); return;
    case 2: numberType(c, out, size); return;
    case 8: case 112: snprintf(out, size, "text"); return;
    case 12: snprintf(out, size, "timestamp(0)"); return;
    case 180: case 231: timestampType(c, "timestamp", out, size); return;
    case 181: timestampType(c, "timestamptz", out, size); return;
    case 100: snprintf(out, size, "real"); return;
    case 101: snprintf(out, size, "double precision"); return;
    default: snprintf(out, size, "bytea"); return;
    }
}

// A string literal: in single quotes, quotes doubled; a separator that is
// no printable character as an escape string.
void addLiteral(ScriptText *s, const char *value)
{
    addText(s, "'");
    for (const char *c = value; *c != '\0'; c++) {
        if (*c == '\'')
            addText(s, "''");
        else
            addText(s, "%c", *c);
    }
    addText(s, "'");
}

void addSeparator(ScriptText *s, char separator)
{
    unsigned char c = static_cast<unsigned char>(separator);
    if (c >= 0x20 && c < 0x7F && c != '\'' && c != '\\')
        addText(s, "'%c'", separator);
    else
        addText(s, "E'\\x%02x'", c);
}

}  // namespace

int getPostgresSyntax(char *text, size_t size, ColumnEntry *column, const ObjectEntry *table,
                      const char *targetName, const char *tableArgument, const char *dataFile,
                      const UnloadContext *ctx)
{
    if (size == 0)
        return 0;
    ScriptText s = {text, size, 0, true};
    text[0] = '\0';
    const char *tableName = targetName != nullptr && targetName[0] != '\0' ? targetName : table->name;
    // Columns by stored position: the CSV fields are in that order.
    ColumnEntry *columns = static_cast<ColumnEntry *>(calloc(kMaxColumns, sizeof(ColumnEntry)));
    if (columns == nullptr)
        return 0;
    StoredColumnWalk walk;
    beginStoredColumnWalk(&walk, table->objectNumber);
    int last = -1;
    while (nextStoredColumn(&walk, column)) {
        int slot = column->segmentColumn - 1;
        if (slot < 0 || slot >= kMaxColumns)
            continue;
        columns[slot] = *column;
        if (slot > last)
            last = slot;
    }
    endStoredColumnWalk(&walk);

    char(*pgNames)[kPostgresNameSize] =
        static_cast<char(*)[kPostgresNameSize]>(calloc(static_cast<size_t>(last + 2), kPostgresNameSize));
    if (pgNames == nullptr) {
        free(columns);
        return 0;
    }
    mapPostgresNames(tableName, columns, last + 1, pgNames);

    addText(&s, "-- Generated by ZOR for table %s: psql -f loads it.\n", tableArgument);
    if (strcmp(pgNames[0], tableName) != 0) {
        addText(&s, "-- PostgreSQL keeps 63 bytes of a name: table ");
        addCommentText(&s, tableName);
        addText(&s, " is named %s here.\n", pgNames[0]);
    }
    for (int i = 0; i <= last; i++) {
        if (strcmp(pgNames[1 + i], columns[i].name) == 0)
            continue;
        addText(&s, "-- PostgreSQL keeps 63 bytes of a name: column ");
        addCommentText(&s, columns[i].name);
        addText(&s, " is named ");
        addCommentText(&s, pgNames[1 + i]);
        addText(&s, " here.\n");
    }
    for (int i = 0; i <= last; i++) {
        const ColumnEntry *c = &columns[i];
        bool timestamp = c->type == 180 || c->type == 181 || c->type == 231;
        if (c->name[0] != '\0' && timestamp && c->scale > kPostgresMaxFraction)
            addText(&s, "-- %s: TIMESTAMP(%d) is kept to microseconds; the digits below are cut.\n", c->name,
                    c->scale);
        if (c->name[0] != '\0' && (c->property & kColumnInvisible) != 0)
            addText(&s, "-- %s: INVISIBLE in Oracle, an ordinary column here.\n", c->name);
        if (c->name[0] != '\0' && c->nullable != 0 && !keepsNotNull(c))
            addText(&s, "-- %s: NOT NULL in Oracle, but rows from before its ADD have no default here.\n",
                    c->name);
        if (c->name[0] != '\0' && isEncryptedColumn(c->type, c->property))
            addText(&s, "-- %s: TDE-encrypted in Oracle; its ciphertext is loaded as bytea.\n", c->name);
    }
    addText(&s, "\\set ON_ERROR_STOP on\nCREATE TABLE ");
    addIdentifier(&s, pgNames[0]);
    addText(&s, " (\n");
    bool first = true;
    for (int i = 0; i <= last; i++) {
        const ColumnEntry *c = &columns[i];
        if (c->name[0] == '\0')
            continue;   // a position no column line names
        char type[kPgTypeSize];
        postgresType(c, type, sizeof type);
        addText(&s, first ? "  " : ",\n  ");
        addIdentifier(&s, pgNames[1 + i]);
        addText(&s, " %s%s", type, keepsNotNull(c) ? " NOT NULL" : "");
        first = false;
    }
    addText(&s, "\n);\n\\copy ");
    addIdentifier(&s, pgNames[0]);
    // Only the columns the rows carry a field for, in the order of the fields.
    addText(&s, " (");
    first = true;
    for (int i = 0; i <= last; i++) {
        if (columns[i].name[0] == '\0' || ctx->columnTypes[i] == 0)
            continue;
        if (!first)
            addText(&s, ", ");
        addIdentifier(&s, pgNames[1 + i]);
        first = false;
    }
    addText(&s, ") FROM ");
    addLiteral(&s, dataFile);
    addText(&s, " WITH (FORMAT csv, DELIMITER ");
    addSeparator(&s, ctx->fieldTag[0]);
    addText(&s, ", QUOTE '\"', NULL '', ENCODING 'UTF8')\n");
    free(pgNames);
    free(columns);
    if (!s.fits) {
        text[0] = '\0';
        return 0;
    }
    return 1;
}
