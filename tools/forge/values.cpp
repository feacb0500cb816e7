// Column values in Oracle's storage formats: NUMBER, DATE, TIMESTAMP (with
// and without time zone), BINARY_FLOAT/DOUBLE, and the character and RAW
// types; and the text ZOR prints for each.
#include "forge/forge.h"

#include <charconv>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace forge {

// ---------------------------------------------------------------------------
// NUMBER
// ---------------------------------------------------------------------------
// A decimal as sign, significant digits (no leading or trailing zeros) and
// the position of the decimal point: value = 0.DIGITS x 10^point.
struct Decimal {
    bool negative;
    std::string digits;  // empty for zero
    long point;
};

static bool parseDecimal(const char *text, Decimal *out) {
    out->negative = false;
    out->digits.clear();
    out->point = 0;
    const char *s = text;
    if (*s == '+' || *s == '-') out->negative = *s++ == '-';
    std::string all;
    long before = 0;  // digits before the decimal point
    bool seenPoint = false, seenDigit = false;
    for (; *s != '\0' && *s != 'e' && *s != 'E'; s++) {
        if (*s == '.') {
            if (seenPoint) return false;
            seenPoint = true;
        } else if (*s >= '0' && *s <= '9') {
            all.push_back(*s);
            seenDigit = true;
            if (!seenPoint) before++;
        } else {
            return false;
        }
    }
    if (!seenDigit) return false;
    long exponent = 0;
    if (*s == 'e' || *s == 'E') {
        s++;
        char *end = nullptr;
        exponent = strtol(s, &end, 10);
        if (end == s || *end != '\0' || exponent > 100000 || exponent < -100000) return false;
    }
    size_t first = all.find_first_not_of('0');
    if (first == std::string::npos) {
        out->negative = false;  // -0 is 0
        return true;
    }
    size_t last = all.find_last_not_of('0');
    out->digits = all.substr(first, last - first + 1);
    out->point = before - (long)first + exponent;
    return true;
}

bool encodeNumberText(const char *text, std::vector<uint8_t> *out) {
    out->clear();
    Decimal d;
    if (!parseDecimal(text, &d)) return false;
    if (d.digits.empty()) {
        out->push_back(0x80);
        return true;
    }
    // Align the digits on base-100 pairs around the decimal point: an odd
    // point needs a leading zero digit.
    std::string digits = d.digits;
    long point = d.point;
    if (point % 2 != 0) {
        digits.insert(digits.begin(), '0');
        point++;
    }
    if (digits.size() % 2 != 0) digits.push_back('0');
    long exponent = point / 2 - 1;  // base-100 exponent of the first pair
    size_t pairs = digits.size() / 2;
    if (pairs > 20) return false;
    // Negative exponent bytes 0x3E - e must stay below 0x80; positive ones
    // 0xC1 + e reach down to 0x80 itself, which with digits after it is
    // Oracle's smallest magnitude (1e-130 is 80 02), and alone is zero.
    if (exponent > 62 || exponent < -65) return false;
    out->push_back(d.negative ? (uint8_t)(0x3E - exponent) : (uint8_t)(0xC1 + exponent));
    for (size_t i = 0; i < pairs; i++) {
        int pair = (digits[2 * i] - '0') * 10 + (digits[2 * i + 1] - '0');
        out->push_back(d.negative ? (uint8_t)(101 - pair) : (uint8_t)(pair + 1));
    }
    // A negative number with all 20 digit bytes has no room for its terminator.
    if (d.negative && pairs < 20) out->push_back(102);
    return true;
}

bool numberDisplayText(const char *text, std::string *out) {
    out->clear();
    Decimal d;
    if (!parseDecimal(text, &d)) return false;
    std::vector<uint8_t> check;
    if (!encodeNumberText(text, &check)) return false;
    if (d.digits.empty()) {
        *out = "0";
        return true;
    }
    if (d.negative) out->push_back('-');
    long count = (long)d.digits.size();
    if (d.point <= 0) {
        *out += "0.";
        out->append((size_t)(-d.point), '0');
        *out += d.digits;
    } else if (d.point >= count) {
        *out += d.digits;
        out->append((size_t)(d.point - count), '0');
    } else {
        *out += d.digits.substr(0, (size_t)d.point);
        *out += ".";
        *out += d.digits.substr((size_t)d.point);
    }
    return true;
}

// Decodes NUMBER bytes back to text for displayText, from the storage
// format itself (not ZOR's decoder): used when a test gives raw bytes.
static std::string numberBytesText(const std::vector<uint8_t> &bytes) {
    if (bytes.empty()) return std::string();
    if (bytes[0] == 0x80 && bytes.size() == 1) return "0";
    bool negative = bytes[0] < 0x80;
    size_t end = bytes.size();
    if (negative && end > 1 && bytes[end - 1] == 102) end--;
    long exponent = negative ? 0x3E - (long)bytes[0] : (long)bytes[0] - 0xC1;
    std::string digits;
    for (size_t i = 1; i < end; i++) {
        int pair = negative ? 101 - bytes[i] : bytes[i] - 1;
        if (pair < 0 || pair > 99) return std::string();
        digits.push_back((char)('0' + pair / 10));
        digits.push_back((char)('0' + pair % 10));
    }
    std::string text = std::string(negative ? "-" : "") + "0." + (digits.empty() ? "0" : digits) +
                       "e" + std::to_string(2 * (exponent + 1));
    std::string shown;
    if (!numberDisplayText(text.c_str(), &shown)) return std::string();
    return shown;
}

// ---------------------------------------------------------------------------
// DATE and TIMESTAMP
// ---------------------------------------------------------------------------
void initDateTime(DateTime *t, int year, int month, int day, int hour, int minute, int second) {
    t->year = year;
    t->month = month;
    t->day = day;
    t->hour = hour;
    t->minute = minute;
    t->second = second;
    t->nanosecond = 0;
    t->tzHour = 0;
    t->tzMinute = 0;
}

static bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

static int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

static bool validDateTime(const DateTime *t) {
    // Oracle's years run from 4712 BC (-4712) to 9999, with no year 0.
    return t->year >= -4712 && t->year <= 9999 && t->year != 0 && t->month >= 1 && t->month <= 12 && t->day >= 1 &&
           t->day <= daysInMonth(t->year, t->month) && t->hour >= 0 && t->hour <= 23 &&
           t->minute >= 0 && t->minute <= 59 && t->second >= 0 && t->second <= 59 &&
           t->nanosecond <= 999999999u && t->tzHour >= -12 && t->tzHour <= 14 &&
           t->tzMinute >= -59 && t->tzMinute <= 59;
}

static bool readDigits(const char **s, int count, int *out) {
    int value = 0;
    for (int i = 0; i < count; i++) {
        char c = (*s)[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    *s += count;
    *out = value;
    return true;
}

bool parseDateTime(const char *text, DateTime *out) {
    initDateTime(out, 1, 1, 1, 0, 0, 0);
    const char *s = text;
    // A BC year is written with a minus sign: -4712-01-01.
    bool bc = *s == '-';
    if (bc) s++;
    if (!readDigits(&s, 4, &out->year) || *s++ != '-' || !readDigits(&s, 2, &out->month) ||
        *s++ != '-' || !readDigits(&s, 2, &out->day))
        return false;
    if (*s == ' ' || *s == 'T') {
        s++;
        if (!readDigits(&s, 2, &out->hour) || *s++ != ':' || !readDigits(&s, 2, &out->minute) ||
            *s++ != ':' || !readDigits(&s, 2, &out->second))
            return false;
        if (*s == '.') {
            s++;
            uint32_t nanos = 0;
            int count = 0;
            while (*s >= '0' && *s <= '9') {
                if (++count > 9) return false;
                nanos = nanos * 10 + (uint32_t)(*s++ - '0');
            }
            if (count == 0) return false;
            for (; count < 9; count++) nanos *= 10;
            out->nanosecond = nanos;
        }
    }
    if (*s == ' ') s++;
    if (*s == 'Z') {
        s++;
    } else if (*s == '+' || *s == '-') {
        int sign = *s++ == '-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!readDigits(&s, 2, &hours) || *s++ != ':' || !readDigits(&s, 2, &minutes)) return false;
        out->tzHour = sign * hours;
        out->tzMinute = sign * minutes;
    }
    if (bc) out->year = -out->year;
    return *s == '\0' && validDateTime(out);
}

static void putDateBytes(const DateTime *t, std::vector<uint8_t> *out) {
    out->push_back((uint8_t)(t->year / 100 + 100));
    out->push_back((uint8_t)(t->year % 100 + 100));
    out->push_back((uint8_t)t->month);
    out->push_back((uint8_t)t->day);
    out->push_back((uint8_t)(t->hour + 1));
    out->push_back((uint8_t)(t->minute + 1));
    out->push_back((uint8_t)(t->second + 1));
}

static void putNanos(uint32_t nanos, std::vector<uint8_t> *out) {
    uint8_t bytes[4];
    storeU32(bytes, nanos, kBigEndian);
    out->insert(out->end(), bytes, bytes + 4);
}

bool encodeDate(const DateTime *t, std::vector<uint8_t> *out) {
    out->clear();
    if (!validDateTime(t)) return false;
    putDateBytes(t, out);
    return true;
}

bool encodeTimestamp(const DateTime *t, bool withFraction, std::vector<uint8_t> *out) {
    out->clear();
    if (!validDateTime(t)) return false;
    putDateBytes(t, out);
    if (withFraction) putNanos(t->nanosecond, out);
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// civil-calendar algorithms of H. Hinnant).
static long daysFromCivil(long y, long m, long d) {
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

static void civilFromDays(long z, int *year, int *month, int *day) {
    z += 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long y = yoe + era * 400;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    long d = doy - (153 * mp + 2) / 5 + 1;
    long m = mp + (mp < 10 ? 3 : -9);
    *year = (int)(y + (m <= 2));
    *month = (int)m;
    *day = (int)d;
}

bool encodeTimestampTz(const DateTime *t, std::vector<uint8_t> *out) {
    out->clear();
    if (!validDateTime(t)) return false;
    // Oracle keeps the instant in UTC and the offset beside it.
    long minutes = daysFromCivil(t->year, t->month, t->day) * 1440L + t->hour * 60L + t->minute -
                   (t->tzHour * 60L + t->tzMinute);
    long days = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
    long inDay = minutes - days * 1440;
    DateTime utc = *t;
    civilFromDays(days, &utc.year, &utc.month, &utc.day);
    utc.hour = (int)(inDay / 60);
    utc.minute = (int)(inDay % 60);
    utc.tzHour = utc.tzMinute = 0;
    if (!validDateTime(&utc)) return false;
    putDateBytes(&utc, out);
    putNanos(t->nanosecond, out);
    out->push_back((uint8_t)(t->tzHour + 20));
    out->push_back((uint8_t)(t->tzMinute + 60));
    return true;
}

static std::string dateBytesText(const std::vector<uint8_t> &b) {
    // Oracle's bytes, shown the way ZOR shows them: a time byte of 0 is "00".
    // A BC year wraps in 16 bits and is cut to four digits, as ZOR does.
    char text[64];
    uint16_t year = (uint16_t)((uint16_t)(b[0] * 100 - 10000) + (uint16_t)(b[1] - 100));
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (unsigned)(year % 10000u), (unsigned)b[2],
             (unsigned)b[3], b[4] == 0 ? 0u : b[4] - 1u, b[5] == 0 ? 0u : b[5] - 1u,
             b[6] == 0 ? 0u : b[6] - 1u);
    return text;
}

// A 13-byte TIMESTAMP WITH TIME ZONE as ZOR shows it: the local time (the
// stored UTC instant moved by the offset) and " +HH:MM"; a region id (bit
// 0x80 of byte 11) shows the UTC time and " +00:00".
static std::string timestampTzBytesText(const std::vector<uint8_t> &b) {
    std::vector<uint8_t> local(b.begin(), b.begin() + 7);
    int offset = 0;
    if ((b[11] & 0x80) == 0) {
        offset = (b[11] - 20) * 60 + (b[12] - 60);
        long year = ((long)b[0] - 100) * 100 + ((long)b[1] - 100);
        long minutes = daysFromCivil(year, b[2], b[3]) * 1440L + (b[4] - 1) * 60L + (b[5] - 1) + offset;
        long days = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
        long inDay = minutes - days * 1440;
        int y, m, d;
        civilFromDays(days, &y, &m, &d);
        local[0] = (uint8_t)(y / 100 + 100);
        local[1] = (uint8_t)(y % 100 + 100);
        local[2] = (uint8_t)m;
        local[3] = (uint8_t)d;
        local[4] = (uint8_t)(inDay / 60 + 1);
        local[5] = (uint8_t)(inDay % 60 + 1);
    }
    char fraction[16];
    snprintf(fraction, sizeof fraction, ".%06u", loadU32(b.data() + 7, kBigEndian) / 1000u);
    char zone[16];
    int magnitude = offset < 0 ? -offset : offset;
    snprintf(zone, sizeof zone, " %c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return dateBytesText(local) + fraction + zone;
}

// ---------------------------------------------------------------------------
// BINARY_FLOAT and BINARY_DOUBLE
// ---------------------------------------------------------------------------
std::vector<uint8_t> encodeBinaryFloat(float value) {
    uint32_t bits = 0;
    memcpy(&bits, &value, sizeof bits);
    bits = (bits & 0x80000000u) != 0 ? ~bits : bits ^ 0x80000000u;
    std::vector<uint8_t> out(4);
    storeU32(out.data(), bits, kBigEndian);
    return out;
}

std::vector<uint8_t> encodeBinaryDouble(double value) {
    uint64_t bits = 0;
    memcpy(&bits, &value, sizeof bits);
    bits = (bits & 0x8000000000000000ull) != 0 ? ~bits : bits ^ 0x8000000000000000ull;
    std::vector<uint8_t> out(8);
    storeU32(out.data(), (uint32_t)(bits >> 32), kBigEndian);
    storeU32(out.data() + 4, (uint32_t)bits, kBigEndian);
    return out;
}

// ZOR's text of a BINARY_FLOAT/DOUBLE: the shortest decimal text that reads
// back to the same value, Inf, -Inf and Nan for the specials.
static std::string shortestFloatText(double value, bool single) {
    if (std::isnan(value)) return "Nan";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    char text[64];
    std::to_chars_result r = single ? std::to_chars(text, text + sizeof text, (float)value)
                                    : std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

static std::string floatBytesText(const std::vector<uint8_t> &b) {
    if (b.size() == 4) {
        uint32_t bits = loadU32(b.data(), kBigEndian);
        bits = (bits & 0x80000000u) != 0 ? bits ^ 0x80000000u : ~bits;
        float value;
        memcpy(&value, &bits, sizeof value);
        return shortestFloatText(value, true);
    }
    if (b.size() == 8) {
        uint64_t bits = ((uint64_t)loadU32(b.data(), kBigEndian) << 32) | loadU32(b.data() + 4, kBigEndian);
        bits = (bits & 0x8000000000000000ull) != 0 ? bits ^ 0x8000000000000000ull : ~bits;
        double value;
        memcpy(&value, &bits, sizeof value);
        return shortestFloatText(value, false);
    }
    return std::string();
}

// ---------------------------------------------------------------------------
// Types, typed values and their text
// ---------------------------------------------------------------------------
const char *columnTypeName(ColumnType type) {
    switch (type) {
    case kColumnVarchar2: return "VARCHAR2";
    case kColumnNumber: return "NUMBER";
    case kColumnDate: return "DATE";
    case kColumnRaw: return "RAW";
    case kColumnChar: return "CHAR";
    case kColumnBinaryFloat: return "BINARY_FLOAT";
    case kColumnBinaryDouble: return "BINARY_DOUBLE";
    case kColumnTimestamp: return "TIMESTAMP";
    case kColumnTimestampTz: return "TIMESTAMP WITH TIME ZONE";
    case kColumnLong: return "LONG";
    case kColumnNvarchar2: return "NVARCHAR2";
    case kColumnClob: return "CLOB";
    case kColumnBlob: return "BLOB";
    case kColumnNclob: return "NCLOB";
    }
    return "UNKNOWN";
}

bool parseColumnType(const char *word, ColumnType *out) {
    static const struct {
        const char *name;
        ColumnType type;
    } names[] = {
        {"number", kColumnNumber},         {"varchar2", kColumnVarchar2},
        {"varchar", kColumnVarchar2},      {"char", kColumnChar},
        {"date", kColumnDate},             {"timestamp", kColumnTimestamp},
        {"timestamptz", kColumnTimestampTz}, {"binary_float", kColumnBinaryFloat},
        {"binary_double", kColumnBinaryDouble}, {"raw", kColumnRaw},
        {"nvarchar2", kColumnNvarchar2},   {"long", kColumnLong},
        {"clob", kColumnClob},             {"blob", kColumnBlob},
        {"nclob", kColumnNclob},
    };
    for (const auto &n : names) {
        if (strcasecmp(word, n.name) == 0 || strcasecmp(word, columnTypeName(n.type)) == 0) {
            *out = n.type;
            return true;
        }
    }
    return false;
}

std::string displayText(ColumnType type, const std::vector<uint8_t> &bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    switch (type) {
    case kColumnNumber: return numberBytesText(bytes);
    case kColumnDate: return bytes.size() == 7 ? dateBytesText(bytes) : std::string();
    case kColumnTimestampTz:
        if (bytes.size() == 13) return timestampTzBytesText(bytes);
        // Without zone bytes the text is a TIMESTAMP's.
        [[fallthrough]];
    case kColumnTimestamp:
        if (bytes.size() == 7) return dateBytesText(bytes);
        if (bytes.size() == 11 || bytes.size() == 13) {
            char fraction[16];
            snprintf(fraction, sizeof fraction, ".%06u", loadU32(bytes.data() + 7, kBigEndian) / 1000u);
            return dateBytesText(bytes) + fraction;
        }
        return std::string();
    case kColumnBinaryFloat:
    case kColumnBinaryDouble: return floatBytesText(bytes);
    case kColumnChar: {
        size_t end = bytes.size();
        while (end > 0 && bytes[end - 1] == ' ') end--;
        return std::string(bytes.begin(), bytes.begin() + (long)end);
    }
    case kColumnVarchar2:
    case kColumnLong:
    case kColumnNvarchar2:
    case kColumnClob:
    case kColumnNclob:
    case kColumnBlob: return std::string(bytes.begin(), bytes.end());
    case kColumnRaw:
        for (uint8_t b : bytes) {
            text.push_back(hex[b >> 4]);
            text.push_back(hex[b & 15]);
        }
        return text;
    }
    return text;
}

void setNullField(FieldValue *value) {
    value->isNull = true;
    value->bytes.clear();
    value->text.clear();
}

static bool fieldError(char *error, size_t errorLength, const char *what, const char *literal) {
    if (error != nullptr && errorLength > 0) snprintf(error, errorLength, "%s: '%s'", what, literal);
    return false;
}

static bool parseHexLiteral(const char *text, std::vector<uint8_t> *out) {
    out->clear();
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    size_t length = strlen(text);
    if (length % 2 != 0) return false;
    for (size_t i = 0; i < length; i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        char *end = nullptr;
        unsigned long v = strtoul(pair, &end, 16);
        if (end != pair + 2) return false;
        out->push_back((uint8_t)v);
    }
    return true;
}

// UTF-8 to UTF-16 big-endian (AL16UTF16), with surrogate pairs above
// U+FFFF; false for bytes that are not UTF-8.
static bool encodeUtf16(const char *text, std::vector<uint8_t> *out) {
    out->clear();
    const unsigned char *s = (const unsigned char *)text;
    while (*s != 0) {
        uint32_t c = *s++;
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0) return false;
        if (more > 0) c &= 0x3Fu >> more;
        for (int i = 0; i < more; i++) {
            if ((*s & 0xC0) != 0x80) return false;
            c = c << 6 | (*s++ & 0x3Fu);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            uint32_t high = 0xD800 + (c >> 10), low = 0xDC00 + (c & 0x3FF);
            out->push_back((uint8_t)(high >> 8));
            out->push_back((uint8_t)high);
            out->push_back((uint8_t)(low >> 8));
            out->push_back((uint8_t)low);
        } else {
            out->push_back((uint8_t)(c >> 8));
            out->push_back((uint8_t)c);
        }
    }
    return true;
}

bool makeFieldValue(const ColumnDef *column, const char *literal, FieldValue *out, char *error,
                    size_t errorLength) {
    out->isNull = false;
    out->bytes.clear();
    out->text.clear();
    bool lob = column->type == kColumnClob || column->type == kColumnNclob || column->type == kColumnBlob;
    if (column->encrypted && !lob) {
        // Ciphertext: whatever the declared type, the bytes are what ZOR
        // can only show in hexadecimal.
        if (!parseHexLiteral(literal, &out->bytes))
            return fieldError(error, errorLength, "an encrypted value is given as hexadecimal digits",
                              literal);
        if (out->bytes.size() > 0xFFFF)
            return fieldError(error, errorLength, "value longer than 65535 bytes", column->name.c_str());
        out->text = displayText(kColumnRaw, out->bytes);
        return true;
    }
    DateTime t;
    switch (column->type) {
    case kColumnNumber:
        if (!encodeNumberText(literal, &out->bytes))
            return fieldError(error, errorLength, "not a NUMBER Oracle can store", literal);
        numberDisplayText(literal, &out->text);
        return true;
    case kColumnDate:
        if (!parseDateTime(literal, &t) || !encodeDate(&t, &out->bytes))
            return fieldError(error, errorLength, "not a date YYYY-MM-DD[ HH:MI:SS]", literal);
        break;
    case kColumnTimestamp:
        if (!parseDateTime(literal, &t) || !encodeTimestamp(&t, strchr(literal, '.') != nullptr, &out->bytes))
            return fieldError(error, errorLength, "not a timestamp", literal);
        break;
    case kColumnTimestampTz:
        if (!parseDateTime(literal, &t) || !encodeTimestampTz(&t, &out->bytes))
            return fieldError(error, errorLength, "not a timestamp with time zone", literal);
        break;
    case kColumnBinaryFloat:
    case kColumnBinaryDouble: {
        char *end = nullptr;
        double value = strtod(literal, &end);
        if (end == literal || *end != '\0') return fieldError(error, errorLength, "not a number", literal);
        out->bytes = column->type == kColumnBinaryFloat ? encodeBinaryFloat((float)value)
                                                        : encodeBinaryDouble(value);
        break;
    }
    case kColumnChar:
        out->bytes.assign(literal, literal + strlen(literal));
        if (out->bytes.size() < column->length) out->bytes.resize(column->length, ' ');
        break;
    case kColumnVarchar2:
    case kColumnLong: out->bytes.assign(literal, literal + strlen(literal)); break;
    case kColumnNvarchar2:
        if (!encodeUtf16(literal, &out->bytes))
            return fieldError(error, errorLength, "not UTF-8 text", literal);
        break;
    case kColumnRaw:
        if (!parseHexLiteral(literal, &out->bytes))
            return fieldError(error, errorLength, "RAW needs hexadecimal digits", literal);
        break;
    case kColumnClob:
    case kColumnNclob:
        if (!encodeUtf16(literal, &out->bytes))
            return fieldError(error, errorLength, "not UTF-8 text", literal);
        out->text = displayText(column->type, out->bytes);
        return true;
    case kColumnBlob:
        if (!parseHexLiteral(literal, &out->bytes))
            return fieldError(error, errorLength, "BLOB needs hexadecimal digits", literal);
        out->text = displayText(column->type, out->bytes);
        return true;
    }
    if (out->bytes.size() > 0xFFFF) return fieldError(error, errorLength, "value longer than 65535 bytes", column->name.c_str());
    out->text = displayText(column->type, out->bytes);
    return true;
}

bool encodeLobText(const char *text, std::vector<uint8_t> *out) { return encodeUtf16(text, out); }

std::string defaultSqlText(const ColumnDef *column)
{
    if (!column->defaultSql.empty())
        return column->defaultSql;
    const std::string &v = column->defaultLiteral;
    switch (column->type) {
    case kColumnNumber:
    case kColumnBinaryFloat:
    case kColumnBinaryDouble: return v;
    case kColumnDate:
    case kColumnTimestamp:
    case kColumnTimestampTz: {
        std::string text = v;
        size_t t = text.find('T');
        if (t != std::string::npos)
            text[t] = ' ';
        bool plainDate = column->type == kColumnDate && text.find(' ') == std::string::npos;
        return (plainDate ? "DATE '" : "TIMESTAMP '") + text + "'";
    }
    case kColumnRaw: return "HEXTORAW('" + v + "')";
    default: {
        std::string quoted = "'";
        for (char c : v)
            quoted += c == '\'' ? std::string("''") : std::string(1, c);
        return quoted + "'";
    }
    }
}

bool applyAddedDefaults(const std::vector<ColumnDef> &columns, std::vector<FieldValue> *values, char *error,
                        size_t errorLength)
{
    size_t stored = values->size();
    while (stored > 0 && (*values)[stored - 1].isNull)
        stored--;
    bool sawGuard = false;
    int guardBit = -1;  // -1: NULL
    for (size_t i = 0; i < columns.size() && i < values->size(); i++) {
        const ColumnDef &c = columns[i];
        FieldValue &v = (*values)[i];
        if (c.guard) {
            sawGuard = true;
            guardBit = i < stored && !v.isNull && !v.bytes.empty() ? (v.bytes[0] & 1) : -1;
            continue;
        }
        if (!c.added)
            continue;
        FieldValue def;
        if (!makeFieldValue(&c, c.defaultLiteral.c_str(), &def, error, errorLength))
            return false;
        if (c.notNull) {
            if (i >= stored)
                v = def;
            continue;
        }
        if (!sawGuard)
            return fieldError(error, errorLength, "a nullable added column needs a guard column before it",
                              c.name.c_str());
        if (guardBit != 1 && v.isNull)
            v = def;
    }
    return true;
}

bool makeFieldFromBytes(const ColumnDef *column, const std::vector<uint8_t> &bytes, FieldValue *out,
                        char *error, size_t errorLength) {
    if (bytes.size() > 0xFFFF) return fieldError(error, errorLength, "value longer than 65535 bytes", column->name.c_str());
    out->isNull = false;
    out->bytes = bytes;
    out->text = displayText(column->type, bytes);
    return true;
}

}  // namespace forge
