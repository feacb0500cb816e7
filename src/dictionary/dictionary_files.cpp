// Reading the dictionary files line by line, and the line parsers that turn
// one comma-separated line into a dictionary record.
//
// Line formats (fields in this order; a field ends at ",", NUL or the end of
// the line, so the last field of a line still carries its newline):
//   ZORUSR.TXT  USER#, NAME
//   ZOROBJ.TXT  OBJ#, OWNER#, NAME, SUBNAME, TYPE#, OID$
//   ZORTAB.TXT  OBJ#, DATAOBJ#, TS#, FILE#, BLOCK#, TAB#
//   ZORCOL.TXT  OBJ#, COL#, SEGCOL#, NAME, TYPE#, LENGTH, PRECISION#, SCALE,
//               NULL$, INTCOL#, PROPERTY, CHARSETID, CHARSETFORM
//   ZORTYP.TXT  OBJ#, COL#, INTCOL#, TOID, VERSION#, PACKED, SYNOBJ#
//   ZOREXT.TXT  OBJD, file, first block, block count
// The files are written by the dictionary bootstrap and the extent scan, but
// the operator may edit them: a line that is too short, too long, or lacks a
// required field is ignored, never trusted.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "dictionary/dictionary.h"
#include "core/command_line.h"

namespace {

constexpr uint32_t kMinLineLength = 5;     // with its newline
constexpr uint32_t kMaxLineLength = 128;
constexpr uint32_t kMinUserLineLength = 2; // after trailing white space is removed
constexpr int kNumberDigits = 20;          // a number is read from at most 20 characters

void beginFields(CommandLine *line) {
    line->start = 0;
    line->end = 0;
}

// The length is taken from the text itself, so a caller's stale length can
// never send the field scanner past the line.
bool lengthAccepted(CommandLine *line) {
    line->length = (uint32_t)strnlen(line->text, sizeof line->text);
    return line->length >= kMinLineLength && line->length <= kMaxLineLength;
}

bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// The next field as a signed decimal number; false when it is empty or
// absent.  The newline the last field keeps counts as nothing.
bool nextNumber(CommandLine *line, int64_t *value) {
    int length = scanNextField(line);
    if (length <= 0) return false;
    const char *field = line->text + line->start;
    while (length > 0 && isLineEnd(field[length - 1])) length--;
    if (length == 0) return false;
    char digits[kNumberDigits + 1];
    int take = length < kNumberDigits ? length : kNumberDigits;
    memcpy(digits, field, (size_t)take);
    digits[take] = '\0';
    *value = strtoll(digits, nullptr, 10);
    return true;
}

// The next field as text of at most kDictNameSize - 1 characters; false
// when it is empty or absent (out is then empty).  A name that ends its line
// would otherwise carry the newline (and an editor's carriage return) into
// every comparison made with it.
bool nextText(CommandLine *line, char *out) {
    out[0] = '\0';
    int length = scanNextField(line);
    if (length <= 0) return false;
    const char *field = line->text + line->start;
    while (length > 0 && isLineEnd(field[length - 1])) length--;
    int take = length < kDictNameSize - 1 ? length : kDictNameSize - 1;
    memcpy(out, field, (size_t)take);
    out[take] = '\0';
    return take > 0;
}

// A field that is read past: present and not empty.
bool skipField(CommandLine *line) {
    int64_t ignored;
    return nextNumber(line, &ignored);
}

// Optional numeric field: absent is 0.
int64_t optionalNumber(CommandLine *line) {
    int64_t value = 0;
    if (!nextNumber(line, &value)) return 0;
    return value;
}

}  // namespace

bool readDictionaryLine(FILE *file, CommandLine *line, int bufferSize) {
    if (bufferSize > kCommandTextSize) bufferSize = kCommandTextSize;
    if (bufferSize < 2) return false;
    for (;;) {
        // fgets writes a NUL into the last byte only when it filled the buffer.
        line->text[bufferSize - 1] = 'x';
        if (fgets(line->text, bufferSize, file) == nullptr) return false;
        bool filled = line->text[bufferSize - 1] == '\0' && line->text[bufferSize - 2] != '\n';
        if (filled) {
            // Far longer than any dictionary line: drop the rest of it too.
            int c;
            do c = getc(file);
            while (c != EOF && c != '\n');
            continue;
        }
        if (line->text[0] == '\0' || line->text[0] == '\n' || line->text[0] == '\r') continue;
        line->start = 0;
        line->end = 0;
        line->length = (uint32_t)strnlen(line->text, (size_t)bufferSize);
        return true;
    }
}

int parseORASYSUSER(UserEntry *entry, CommandLine *line) {
    uint32_t length = (uint32_t)strnlen(line->text, sizeof line->text);
    while (length > 0 && isspace((unsigned char)line->text[length - 1])) line->text[--length] = '\0';
    line->length = length;
    if (length < kMinUserLineLength || length > kMaxLineLength) return 1;
    beginFields(line);
    int64_t number;
    if (!nextNumber(line, &number)) return 1;
    entry->userNumber = (uint32_t)number;
    if (!nextText(line, entry->name)) return 1;
    return 0;
}

int parseORASYSOBJ(ObjectEntry *entry, CommandLine *line) {
    if (!lengthAccepted(line)) return 1;
    beginFields(line);
    int64_t number;
    if (!nextNumber(line, &number)) return 1;
    entry->objectNumber = (uint32_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->ownerNumber = (uint32_t)number;
    if (!nextText(line, entry->name)) return 1;
    nextText(line, entry->subname);
    if (!nextNumber(line, &number)) return 1;
    entry->type = (uint8_t)number;
    nextText(line, entry->oid);
    return 0;
}

int parseORASYSTAB(SegmentEntry *entry, CommandLine *line) {
    if (!lengthAccepted(line)) return 1;
    beginFields(line);
    entry->objectNumber = (uint32_t)optionalNumber(line);
    entry->dataObjectId = (uint32_t)optionalNumber(line);
    entry->tablespace = (uint16_t)optionalNumber(line);
    entry->headerFile = (uint16_t)optionalNumber(line);
    entry->headerBlock = (uint32_t)optionalNumber(line);
    entry->cluster = (uint8_t)optionalNumber(line);
    return 0;
}

int parseORASYSCOL(ColumnEntry *entry, CommandLine *line) {
    if (!lengthAccepted(line)) return 1;
    beginFields(line);
    int64_t number;
    if (!nextNumber(line, &number)) return 1;
    entry->objectNumber = (uint32_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->columnNumber = (uint16_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->segmentColumn = (uint16_t)number;
    if (!nextText(line, entry->name)) return 1;
    if (!nextNumber(line, &number)) return 1;
    entry->type = (uint16_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->length = (uint16_t)number;
    entry->precision = (uint16_t)optionalNumber(line);
    entry->scale = (int32_t)optionalNumber(line);
    entry->nullable = (int32_t)optionalNumber(line);
    entry->internalColumn = (uint16_t)optionalNumber(line);
    entry->property = (uint64_t)optionalNumber(line);
    entry->charsetId = (uint16_t)optionalNumber(line);
    entry->charsetForm = (uint32_t)optionalNumber(line);
    entry->typeKind = kTypeKindNone;
    entry->typeOwner[0] = '\0';
    entry->typeName[0] = '\0';
    return 0;
}

int parseORASYSCOLTYPE(ColumnTypeEntry *entry, CommandLine *line) {
    if (!lengthAccepted(line)) return 1;
    beginFields(line);
    int64_t number;
    if (!nextNumber(line, &number)) return 1;
    entry->objectNumber = (uint32_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->columnNumber = (uint32_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->internalColumn = (uint32_t)number;
    if (!nextText(line, entry->toid)) return 1;
    if (!skipField(line)) return 1;   // VERSION#
    if (!skipField(line)) return 1;   // PACKED
    entry->synonymObject = (uint32_t)optionalNumber(line);
    return 0;
}

int parseORAEXTENT(ExtentEntry *entry, CommandLine *line) {
    if (!lengthAccepted(line)) return 1;
    beginFields(line);
    int64_t number;
    if (!nextNumber(line, &number)) return 1;
    entry->dataObjectId = (uint32_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->file = (uint16_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->firstBlock = (uint32_t)number;
    if (!nextNumber(line, &number)) return 1;
    entry->blockCount = (uint32_t)number;
    return 0;
}
