// The two renderings of a table's columns: the DESC listing and the CREATE
// TABLE statement written beside unloaded data.  Both turn a column's TYPE#,
// LENGTH, PRECISION#, SCALE, NULL$ and CHARSETFORM into Oracle type text;
// national forms show half the stored LENGTH, which counts the bytes of a
// two-byte character set.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "dictionary/dictionary.h"

namespace {

// Room for the longest type text: "owner.name NOT NULL" with two 128-byte
// names, or a LOB's DESC text with its index name.
constexpr size_t kTypeTextSize = 2 * kDictNameSize + 64;
// Room for the longest clause: " \"name\" " (a quote in the name doubled)
// and the longest type text.  Every piece is bounded (names by the 128
// bytes the parsers keep, numbers by their widths), so a clause is never
// cut.
constexpr size_t kClauseSize = 4 + 2 * kDictNameSize + kTypeTextSize;
// Every clause with its comma and line feed, the frame and the longest
// target name fit the advertised statement buffer.
static_assert(kMaxListedColumns * (kClauseSize + 2) + 2048 <= kCreateSyntaxSize,
              "kCreateSyntaxSize holds the widest table");

enum TypeTextStyle { kDescText, kCreateText };

// How the nullability text and the LOB index name frame the core text.
enum TypeFraming { kWithNullability, kWithoutNullability, kWithLobIndex };

const char *nullabilityText(const ColumnEntry *column) {
    return column->nullable != 0 ? "NOT NULL" : "";
}

bool isNational(const ColumnEntry *column) { return column->charsetForm == 2; }

// Types whose text takes no number from the column.
struct PlainType {
    uint16_t type;
    const char *text;
    TypeFraming framing;
};

const PlainType kPlainTypes[] = {
    {8, "LONG", kWithNullability},
    {12, "DATE", kWithNullability},
    {24, "LONG RAW", kWithNullability},
    {69, "ROWID", kWithoutNullability},
    {100, "BINARY_FLOAT", kWithNullability},
    {101, "BINARY_DOUBLE", kWithNullability},
    {105, "MLSLABEL", kWithoutNullability},
    {106, "MLSLABEL", kWithoutNullability},
    {114, "BFILE", kWithoutNullability},
    {115, "CFILE", kWithoutNullability},
    {208, "UROWID", kWithoutNullability},
};

void formatText(char *out, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));
void formatText(char *out, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(out, size, format, args);
    va_end(args);
}

// The Oracle type name of the column with its length, precision or scale,
// and how it is framed.  Returns false for a type with no text of its own.
bool coreTypeText(const ColumnEntry *c, TypeTextStyle style, char *core, size_t size,
                  TypeFraming *framing) {
    int length = c->length;
    int precision = c->precision;
    int scale = c->scale;
    *framing = kWithNullability;
    for (const PlainType &plain : kPlainTypes) {
        if (plain.type != c->type) continue;
        formatText(core, size, "%s", plain.text);
        *framing = plain.framing;
        return true;
    }
    switch (c->type) {
    case 1:
        if (isNational(c)) formatText(core, size, "NVARCHAR2(%d)", length / 2);
        else formatText(core, size, "VARCHAR2(%d)", length);
        return true;
    case 2:
        if (precision == 0) formatText(core, size, "NUMBER");
        else if (scale != 0 && precision <= 38) formatText(core, size, "NUMBER(%d,%d)", precision, scale);
        else if (scale != 0) formatText(core, size, "NUMBER(*,%d)", scale);
        else if (precision <= 38) formatText(core, size, "NUMBER(%d)", precision);
        else formatText(core, size, "FLOAT");
        return true;
    case 9:
        if (isNational(c)) formatText(core, size, "NCHAR VARYING(%d)", length / 2);
        else formatText(core, size, "VARCHAR(%d)", length);
        return true;
    case 23:
        formatText(core, size, "RAW(%d)", length);
        return true;
    case 96:
        if (isNational(c)) formatText(core, size, "NCHAR(%d)", length / 2);
        else formatText(core, size, "CHAR(%d)", length);
        return true;
    case 58: case 111: case 121: case 122: case 123:
        if (c->typeKind == kTypeKindNone) return false;
        formatText(core, size, "%s.%s", c->typeOwner, c->typeName);
        *framing = kWithoutNullability;
        return true;
    case 112:
        formatText(core, size, "%s", isNational(c) ? "NCLOB" : "CLOB");
        if (style == kDescText) *framing = kWithLobIndex;
        return true;
    case 113:
        // A binary XMLTYPE's storage column carries the visible column's type.
        if (style == kCreateText && c->typeKind != kTypeKindNone)
            formatText(core, size, "%s.%s", c->typeOwner, c->typeName);
        else formatText(core, size, "BLOB");
        if (style == kDescText) *framing = kWithLobIndex;
        return true;
    case 180:
        if (scale != 0) formatText(core, size, "TIMESTAMP(%d)", scale);
        else formatText(core, size, "TIMESTAMP");
        return true;
    case 181:
        if (scale != 0) formatText(core, size, "TIMESTAMP(%d) WITH TIME ZONE", scale);
        else formatText(core, size, "TIMESTAMP WITH TIME ZONE");
        return true;
    case 182:
        if (precision != 0) formatText(core, size, "INTERVAL YEAR(%d) TO MONTH", precision);
        else formatText(core, size, "INTERVAL YEAR TO MONTH");
        return true;
    case 183:
        if (precision != 0) formatText(core, size, "INTERVAL DAY(%d) TO SECOND(%d)", precision, scale);
        else formatText(core, size, "INTERVAL DAY TO SECOND");
        return true;
    case 231:
        if (scale != 0) formatText(core, size, "TIMESTAMP(%d) WITH LOCAL TIME ZONE", scale);
        else formatText(core, size, "TIMESTAMP WITH LOCAL TIME ZONE");
        return true;
    default:
        return false;
    }
}

const char *visibilityText(const ColumnEntry *c)
{
    // An invisible column holds data like any other: it is created, and
    // loaded by name, but stays out of SELECT * as it was.
    return (c->property & kColumnInvisible) != 0 ? " INVISIBLE" : "";
}

// The CREATE clause of a TDE-encrypted column: the RAW that holds its
// ciphertext (a BLOB past RAW's 2000 bytes), and in a comment what it was.
void encryptedTypeText(const ColumnEntry *c, char *out, size_t size)
{
    constexpr uint32_t kLargestRaw = 2000;
    char was[kTypeTextSize];
    TypeFraming framing;
    if (!coreTypeText(c, kCreateText, was, sizeof was, &framing))
        formatText(was, sizeof was, "TYPE# %u", (unsigned)c->type);
    uint32_t length = encryptedColumnLength(c->length);
    char raw[32];
    if (length <= kLargestRaw)
        formatText(raw, sizeof raw, "RAW(%u)", length);
    else
        formatText(raw, sizeof raw, "BLOB");
    formatText(out, size, " %s%s %s /* TDE-encrypted %s: its ciphertext */ ", raw, visibilityText(c),
               nullabilityText(c), was);
}

// The type text of one column: a DESC line ends in a newline, a CREATE
// clause is framed by blanks.

void typeText(const ColumnEntry *c, uint32_t tableObject, TypeTextStyle style, char *out, size_t size) {
    if (style == kCreateText && isEncryptedColumn(c->type, c->property)) {
        encryptedTypeText(c, out, size);
        return;
    }
    char core[kTypeTextSize];
    TypeFraming framing;
    if (!coreTypeText(c, style, core, sizeof core, &framing)) {
        // An unknown type, or an object type whose type could not be found.
        if (style == kDescText) formatText(out, size, "UNKNOWN_%u\n", (unsigned)c->type);
        else formatText(out, size, " %u ", (unsigned)c->type);
        return;
    }
    const char *n = nullabilityText(c);
    if (style == kCreateText) {
        const char *visibility = visibilityText(c);
        const char *dropped = "";
        if (c->nullable != 0 && !keepsNotNull(c)) {
            n = "";
            dropped = "/* NOT NULL in Oracle, but rows from before the ADD have no default here */ ";
        }
        if (framing == kWithoutNullability)
            formatText(out, size, " %s%s ", core, visibility);
        else
            formatText(out, size, " %s%s %s %s", core, visibility, n, dropped);
        return;
    }
    if (framing == kWithoutNullability) {
        formatText(out, size, "%s\n", core);
    } else if (framing == kWithLobIndex) {
        char indexName[kDictNameSize];
        formatLobIndexName(indexName, sizeof indexName, tableObject, c->internalColumn);
        formatText(out, size, "%s %s (%s)\n", core, n, indexName);
    } else {
        formatText(out, size, "%s %s\n", core, n);
    }
}

// A name as the text between the double quotes of an identifier: a quote
// (which no Oracle name holds, but an edited dictionary file may) doubled.
void quotedIdentifierText(const char *name, char *out, size_t size)
{
    size_t used = 0;
    for (const char *c = name; *c != '\0' && used + 2 < size; c++) {
        if (*c == '"')
            out[used++] = '"';
        out[used++] = *c;
    }
    out[used] = '\0';
}

// Appends to the statement; false when it would not fit.
bool appendText(char *text, size_t size, size_t *used, const char *piece) {
    size_t length = strlen(piece);
    if (*used + length + 1 > size) return false;
    memcpy(text + *used, piece, length + 1);
    *used += length;
    return true;
}

bool writeStatement(char *text, size_t size, const char *clauses, const char *tableName, int multiLine) {
    size_t used = 0;
    text[0] = '\0';
    if (!appendText(text, size, &used, "CREATE TABLE \"") || !appendText(text, size, &used, tableName) ||
        !appendText(text, size, &used, "\" (") ||
        (multiLine == 1 && !appendText(text, size, &used, "\n")))
        return false;
    int last = -1;
    for (int slot = 0; slot < kMaxColumns; slot++)
        if (clauses[(size_t)slot * kClauseSize] != '\0') last = slot;
    for (int slot = 0; slot <= last; slot++) {
        const char *clause = clauses + (size_t)slot * kClauseSize;
        if (clause[0] == '\0') continue;   // a position no column line names
        if (!appendText(text, size, &used, clause)) return false;
        if (slot != last && !appendText(text, size, &used, ",")) return false;
        if (multiLine == 1 && !appendText(text, size, &used, "\n")) return false;
    }
    return appendText(text, size, &used, ")");
}

}  // namespace

int getORASYSCOL(FILE *out, ColumnEntry *column, uint32_t tableObject) {
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, columnFilePath()))
        return 1;
    fputs("No. SEQ INT Column Name                   Type            \n", out);
    fputs("--- --- --- ----------------------------- ----------------\n", out);
    CommandLine line;
    char text[kTypeTextSize];
    while (readDictionaryRecord(&reader, &line)) {
        if (parseORASYSCOL(column, &line) != 0) {
            reportDictionaryLine(&reader, dictionaryParseProblem());
            continue;
        }
        if (line.length < 10 || column->objectNumber != tableObject)
            continue;
        getORASYSCOLOIDTYPE(column);
        typeText(column, tableObject, kDescText, text, sizeof text);
        // A name that fills its column (names reach 128 bytes) keeps a blank
        // before the type.
        fprintf(out, "%3d %3d %3d %-30s%s%s", (int)column->columnNumber, (int)column->segmentColumn,
                (int)column->internalColumn, column->name, strlen(column->name) >= 30 ? " " : "", text);
    }
    closeDictionaryReader(&reader);
    return 1;
}

int getCreateSyntax(char *text, size_t size, ColumnEntry *column, const ObjectEntry *table,
                    const char *targetName, int multiLine) {
    if (size == 0) return 0;
    text[0] = '\0';
    char *clauses = (char *)calloc(kMaxColumns, kClauseSize);
    if (clauses == nullptr) return 0;
    StoredColumnWalk walk;
    beginStoredColumnWalk(&walk, table->objectNumber);
    char type[kTypeTextSize];
    while (nextStoredColumn(&walk, column)) {
        typeText(column, table->objectNumber, kCreateText, type, sizeof type);
        char *clause = clauses + (size_t)(column->segmentColumn - 1) * kClauseSize;
        char name[2 * kDictNameSize];
        quotedIdentifierText(column->name, name, sizeof name);
        snprintf(clause, kClauseSize, " \"%s\" %s", name, type);
    }
    endStoredColumnWalk(&walk);
    const char *tableName = targetName != nullptr && targetName[0] != '\0' ? targetName : table->name;
    bool fits = writeStatement(text, size, clauses, tableName, multiLine);
    free(clauses);
    if (!fits) {
        text[0] = '\0';
        return 0;
    }
    return 1;
}
