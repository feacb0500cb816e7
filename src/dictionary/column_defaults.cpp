// The defaults of columns added with ALTER TABLE ... ADD (... DEFAULT v):
// rows written before the ADD end before such a column, and Oracle gives
// them the default kept in the dictionary.  Two files hold it:
//   ZORECOL.TXT  TABOBJ#, COLNUM, BINARYDEFVAL (the BLOB locator, hex)
//                from ECOL$: the value in its stored form
//   ZORDEF.TXT   OBJ#, DEFLENGTH, DEFAULT$ (hex), INTCOL#
//                from COL$: the SQL text of the default
// Both are written by DICT$ only when a column of the dictionary carries the
// added-default bit, and both are text the operator may edit: every field
// is checked, hex is decoded into bounded buffers.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "dictionary/dictionary.h"

namespace {

constexpr int kMaxFields = 8;
constexpr int kNumberDigits = 20;
constexpr uint32_t kMaxNumberBytes = 20;  // base-100 digits of an Oracle NUMBER
constexpr int kSmallestExponent = -65;
constexpr int kLargestExponent = 62;

struct Field {
    const char *text;
    uint32_t length;
};

bool isLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

// Splits at ","; the last field keeps no line end.  Returns the count.
int splitFields(const CommandLine *line, Field *fields, int max)
{
    uint32_t length = (uint32_t)strnlen(line->text, sizeof line->text);
    while (length > 0 && isLineEnd(line->text[length - 1]))
        length--;
    int count = 0;
    uint32_t start = 0;
    for (uint32_t i = 0; i <= length && count < max; i++) {
        if (i == length || line->text[i] == ',') {
            fields[count].text = line->text + start;
            fields[count].length = i - start;
            count++;
            start = i + 1;
        }
    }
    return count;
}

bool fieldNumber(const Field &f, int64_t *value)
{
    if (f.length == 0 || f.length > kNumberDigits)
        return false;
    char digits[kNumberDigits + 1];
    memcpy(digits, f.text, f.length);
    digits[f.length] = '\0';
    char *end = nullptr;
    *value = strtoll(digits, &end, 10);
    return end == digits + f.length;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Hex digits into out; false when odd, not hex, or longer than capacity.
bool decodeHex(const Field &f, uint8_t *out, uint32_t capacity, uint32_t *length)
{
    if (f.length % 2 != 0 || f.length / 2 > capacity)
        return false;
    for (uint32_t i = 0; i < f.length / 2; i++) {
        int high = hexDigit(f.text[2 * i]);
        int low = hexDigit(f.text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = (uint8_t)(high * 16 + low);
    }
    *length = f.length / 2;
    return true;
}

// Reads `file` for the line whose number fields at a and b are objectNumber
// and internalColumn; decodes the hex field at h.  1 when found.
int findHexField(const char *fileName, int a, int b, int h, uint32_t objectNumber, uint32_t internalColumn,
                 uint8_t *out, uint32_t capacity, uint32_t *length)
{
    FILE *file = fopen(fileName, "r");
    if (file == nullptr)
        return 0;
    CommandLine *line = (CommandLine *)malloc(sizeof(CommandLine));
    int found = 0;
    while (line != nullptr && readDictionaryLine(file, line, kCommandTextSize)) {
        Field fields[kMaxFields];
        int count = splitFields(line, fields, kMaxFields);
        int64_t object = 0, column = 0;
        if (count <= a || count <= b || count <= h)
            continue;
        if (!fieldNumber(fields[a], &object) || !fieldNumber(fields[b], &column))
            continue;
        if ((uint32_t)object != objectNumber || (uint32_t)column != internalColumn)
            continue;
        if (decodeHex(fields[h], out, capacity, length)) {
            found = 1;
            break;
        }
    }
    free(line);
    fclose(file);
    return found;
}

// ---- SQL literals ----

struct Text {
    const char *at;
    const char *end;
};

void skipBlanks(Text *t)
{
    while (t->at < t->end && isspace((unsigned char)*t->at))
        t->at++;
    while (t->end > t->at && isspace((unsigned char)t->end[-1]))
        t->end--;
}

bool takeWord(Text *t, const char *word)
{
    size_t n = strlen(word);
    if ((size_t)(t->end - t->at) <= n || strncasecmp(t->at, word, n) != 0)
        return false;
    if (!isspace((unsigned char)t->at[n]) && t->at[n] != '\'')
        return false;
    t->at += n;
    skipBlanks(t);
    return true;
}

// The text of a quoted literal ('' is one quote) into out; false unless t
// is exactly one quoted string.
bool unquote(Text t, char *out, uint32_t capacity, uint32_t *length)
{
    if (t.end - t.at < 2 || *t.at != '\'' || t.end[-1] != '\'')
        return false;
    uint32_t n = 0;
    for (const char *p = t.at + 1; p < t.end - 1; p++) {
        if (*p == '\'') {
            if (p + 1 >= t.end - 1 || p[1] != '\'')
                return false;
            p++;
        }
        if (n >= capacity)
            return false;
        out[n++] = *p;
    }
    *length = n;
    return true;
}

// A decimal number (sign, digits, point, exponent) in Oracle's NUMBER form:
// an exponent byte, then base-100 digits (plus one; negative numbers
// complemented, with the 102 terminator when shorter than 20 digits).
bool encodeNumber(Text t, uint8_t *out, uint32_t capacity, uint32_t *length)
{
    const char *p = t.at;
    bool negative = false;
    if (p < t.end && (*p == '-' || *p == '+'))
        negative = *p++ == '-';
    char digits[128];
    int n = 0;
    int scale = 0;  // value = digits * 10^scale
    bool point = false, any = false;
    for (; p < t.end; p++) {
        if (*p == '.' && !point) {
            point = true;
        } else if (isdigit((unsigned char)*p)) {
            any = true;
            if (n == 0 && *p == '0') {
                if (point)
                    scale--;
                continue;
            }
            if (n >= (int)sizeof digits - 2)
                return false;
            digits[n++] = *p;
            if (point)
                scale--;
        } else {
            break;
        }
    }
    if (!any)
        return false;
    if (p < t.end && (*p == 'e' || *p == 'E')) {
        char *end = nullptr;
        char exponent[16];
        size_t rest = (size_t)(t.end - p - 1);
        if (rest == 0 || rest >= sizeof exponent)
            return false;
        memcpy(exponent, p + 1, rest);
        exponent[rest] = '\0';
        long e = strtol(exponent, &end, 10);
        if (end != exponent + rest || e < -200 || e > 200)
            return false;
        scale += (int)e;
        p = t.end;
    }
    if (p != t.end)
        return false;
    while (n > 0 && digits[n - 1] == '0') {
        n--;
        scale++;
    }
    if (n == 0) {
        if (capacity < 1)
            return false;
        out[0] = 0x80;
        *length = 1;
        return true;
    }
    int integerDigits = n + scale;
    char aligned[160];
    int m = 0;
    if (((integerDigits % 2) + 2) % 2 != 0) {
        aligned[m++] = '0';
        integerDigits++;
    }
    memcpy(aligned + m, digits, (size_t)n);
    m += n;
    if (m % 2 != 0)
        aligned[m++] = '0';
    uint32_t pairs = (uint32_t)m / 2;
    int exponent = integerDigits / 2 - 1;
    if (pairs > kMaxNumberBytes || exponent < kSmallestExponent || exponent > kLargestExponent)
        return false;
    uint32_t total = 1 + pairs + (negative && pairs < kMaxNumberBytes ? 1 : 0);
    if (total > capacity)
        return false;
    out[0] = (uint8_t)(negative ? 0x3E - exponent : 0xC1 + exponent);
    for (uint32_t i = 0; i < pairs; i++) {
        int d = (aligned[2 * i] - '0') * 10 + (aligned[2 * i + 1] - '0');
        out[1 + i] = (uint8_t)(negative ? 101 - d : d + 1);
    }
    if (negative && pairs < kMaxNumberBytes)
        out[1 + pairs] = 102;
    *length = total;
    return true;
}

int fixedDigits(const char *p, int count)
{
    int v = 0;
    for (int i = 0; i < count; i++) {
        if (!isdigit((unsigned char)p[i]))
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// 'YYYY-MM-DD[ HH24:MI:SS[.F...]]' as a DATE (7 bytes) or, with a
// fraction and withFraction, a TIMESTAMP (11 bytes, nanoseconds).
bool encodeDateTime(const char *s, uint32_t n, bool withFraction, uint8_t *out, uint32_t capacity,
                    uint32_t *length)
{
    if (n < 10 || s[4] != '-' || s[7] != '-')
        return false;
    int year = fixedDigits(s, 4), month = fixedDigits(s + 5, 2), day = fixedDigits(s + 8, 2);
    int hour = 0, minute = 0, second = 0;
    uint32_t nanos = 0;
    bool fraction = false;
    uint32_t at = 10;
    if (at < n) {
        if (n < 19 || s[10] != ' ' || s[13] != ':' || s[16] != ':')
            return false;
        hour = fixedDigits(s + 11, 2);
        minute = fixedDigits(s + 14, 2);
        second = fixedDigits(s + 17, 2);
        at = 19;
        if (at < n) {
            if (s[at] != '.' || n - at - 1 == 0 || n - at - 1 > 9)
                return false;
            int digits = (int)(n - at - 1);
            int f = fixedDigits(s + at + 1, digits);
            if (f < 0)
                return false;
            nanos = (uint32_t)f;
            for (int i = digits; i < 9; i++)
                nanos *= 10;
            fraction = true;
        }
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return false;
    bool wide = fraction && withFraction && nanos != 0;
    uint32_t total = wide ? 11 : 7;
    if (capacity < total)
        return false;
    out[0] = (uint8_t)(year / 100 + 100);
    out[1] = (uint8_t)(year % 100 + 100);
    out[2] = (uint8_t)month;
    out[3] = (uint8_t)day;
    out[4] = (uint8_t)(hour + 1);
    out[5] = (uint8_t)(minute + 1);
    out[6] = (uint8_t)(second + 1);
    if (wide) {
        out[7] = (uint8_t)(nanos >> 24);
        out[8] = (uint8_t)(nanos >> 16);
        out[9] = (uint8_t)(nanos >> 8);
        out[10] = (uint8_t)nanos;
    }
    *length = total;
    return true;
}

}  // namespace

bool hasAddedDefaultColumns()
{
    FILE *file = fopen(kColumnFile, "r");
    if (file == nullptr)
        return false;
    CommandLine *line = (CommandLine *)malloc(sizeof(CommandLine));
    bool found = false;
    ColumnEntry column;
    while (!found && line != nullptr && readDictionaryLine(file, line, kDictLineBuffer))
        found = parseORASYSCOL(&column, line) == 0 && (column.property & kColumnAddedDefault) != 0;
    free(line);
    fclose(file);
    return found;
}

uint16_t getORASYSCOLPOSITION(uint32_t tableObject, const char *name)
{
    FILE *file = fopen(kColumnFile, "r");
    if (file == nullptr)
        return 0;
    CommandLine *line = (CommandLine *)malloc(sizeof(CommandLine));
    uint16_t position = 0;
    ColumnEntry column;
    while (position == 0 && line != nullptr && readDictionaryLine(file, line, kDictLineBuffer)) {
        if (parseORASYSCOL(&column, line) == 0 && column.objectNumber == tableObject &&
            strcasecmp(column.name, name) == 0)
            position = column.segmentColumn;
    }
    free(line);
    fclose(file);
    return position;
}

int getORASYSECOL(uint32_t tableObject, uint32_t internalColumn, uint8_t *locator, uint32_t capacity,
                  uint32_t *length)
{
    return findHexField(kEcolFile, 0, 1, 2, tableObject, internalColumn, locator, capacity, length);
}

int getORASYSDEFAULT(uint32_t tableObject, uint32_t internalColumn, char *text, uint32_t capacity,
                     uint32_t *length)
{
    FILE *file = fopen(kColumnDefaultFile, "r");
    if (file == nullptr)
        return 0;
    CommandLine *line = (CommandLine *)malloc(sizeof(CommandLine));
    int found = 0;
    while (line != nullptr && readDictionaryLine(file, line, kCommandTextSize)) {
        Field fields[kMaxFields];
        int count = splitFields(line, fields, kMaxFields);
        int64_t object = 0, column = 0, declared = 0;
        if (count < 4 || !fieldNumber(fields[0], &object) || !fieldNumber(fields[3], &column))
            continue;
        if ((uint32_t)object != tableObject || (uint32_t)column != internalColumn)
            continue;
        if (!decodeHex(fields[2], (uint8_t *)text, capacity, length))
            continue;
        // DEFLENGTH counts the text; what follows it is no part of it.
        if (fieldNumber(fields[1], &declared) && declared >= 0 && (uint64_t)declared < *length)
            *length = (uint32_t)declared;
        found = 1;
        break;
    }
    free(line);
    fclose(file);
    return found;
}

bool encodeDefaultLiteral(const char *sql, uint32_t length, const ColumnEntry *column, uint8_t *out,
                          uint32_t capacity, uint32_t *outLength)
{
    Text t = {sql, sql + length};
    skipBlanks(&t);
    // One pair of parentheses around the literal is as plain as none.
    if (t.end - t.at >= 2 && *t.at == '(' && t.end[-1] == ')') {
        t.at++;
        t.end--;
        skipBlanks(&t);
    }
    char text[kDictLineBuffer];
    uint32_t n = 0;
    switch (column->type) {
    case 2: return encodeNumber(t, out, capacity, outLength);
    case 1:
    case 9:
    case 96: {
        if (column->charsetForm == 2 || !unquote(t, text, sizeof text, &n))
            return false;
        uint32_t width = column->type == 96 ? column->length : n;
        if (n > column->length || width > capacity)
            return false;
        memcpy(out, text, n);
        memset(out + n, ' ', width - n);  // CHAR is stored blank-padded
        *outLength = width;
        return true;
    }
    case 12:
    case 180: {
        bool isDate = takeWord(&t, "DATE");
        if (!isDate && !takeWord(&t, "TIMESTAMP"))
            return false;
        if (!unquote(t, text, sizeof text, &n))
            return false;
        if (isDate && n != 10)
            return false;
        return encodeDateTime(text, n, column->type == 180, out, capacity, outLength);
    }
    default: return false;
    }
}

bool keepsNotNull(const ColumnEntry *column)
{
    if (column->nullable == 0)
        return false;
    if ((column->property & kColumnAddedDefault) == 0)
        return true;
    constexpr uint32_t kCapacity = 65536;
    uint8_t *buffer = (uint8_t *)malloc(kCapacity);
    if (buffer == nullptr)
        return true;
    uint32_t length = 0;
    bool known = getORASYSECOL(column->objectNumber, column->internalColumn, buffer, kCapacity, &length) == 1;
    if (!known && getORASYSDEFAULT(column->objectNumber, column->internalColumn, (char *)buffer,
                                   kCapacity / 2, &length) == 1) {
        uint32_t stored = 0;
        known = encodeDefaultLiteral((const char *)buffer, length, column, buffer + kCapacity / 2,
                                     kCapacity / 2, &stored);
    }
    free(buffer);
    return known;
}
