// UCS-2 text: the built-in conversions to GBK and UTF-8 applied to CLOB and
// NCLOB pages under LOB_CONVERT, and the plausibility tests of the column
// type guesser.
#include <cctype>

#include "unload/charsets/charset.h"

namespace {

constexpr uint16_t kFirstGbkUnicode = 164;
constexpr uint16_t kLastGbkUnicode = 65509;

uint16_t unitAt(const uint8_t *p, int byteOrder)
{
    return byteOrder == 1 ? (uint16_t)(p[0] << 8 | p[1]) : (uint16_t)(p[1] << 8 | p[0]);
}

// The GBK code of a unit, 0 when GBK does not have it.
uint16_t gbkCodeOf(uint16_t unit)
{
    if (unit < kFirstGbkUnicode || unit > kLastGbkUnicode)
        return 0;
    int lo = 0, hi = kGbkPairCount - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        if (kGbkUnicode[mid] == unit)
            return kGbkCode[mid];
        if (kGbkUnicode[mid] < unit)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return 0;
}

int utf8Length(uint16_t unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3; }

uint8_t *putUtf8(uint8_t *out, uint16_t unit)
{
    if (unit < 0x80) {
        *out++ = (uint8_t)unit;
    } else if (unit < 0x800) {
        *out++ = (uint8_t)(0xC0 | unit >> 6);
        *out++ = (uint8_t)(0x80 | (unit & 0x3F));
    } else {
        *out++ = (uint8_t)(0xE0 | unit >> 12);
        *out++ = (uint8_t)(0x80 | ((unit >> 6) & 0x3F));
        *out++ = (uint8_t)(0x80 | (unit & 0x3F));
    }
    return out;
}

bool plausibleUnit(uint16_t unit)
{
    if (unit < 0x80)
        return isprint(unit) || isspace(unit);
    return (unit >= 0x3400 && unit <= 0x4D85) || (unit >= 0x4E00 && unit <= 0x9FEF) ||
           (unit >= 0xF900 && unit <= 0xFAD9);
}

int plausibleUcs2(const uint8_t *bytes, int length, int byteOrder)
{
    if (length == 0)
        return 1;
    if (bytes == nullptr || length < 0 || (length & 1))
        return 0;
    for (int i = 0; i < length; i += 2) {
        if (!plausibleUnit(unitAt(bytes + i, byteOrder)))
            return 0;
    }
    return 1;
}

}  // namespace

int uni2gb(const uint8_t *source, int sourceLength, uint8_t *dest, int capacity, int byteOrder)
{
    if (source == nullptr || sourceLength < 2)
        return 0;
    int units = sourceLength / 2;
    int needed = 0;
    for (int i = 0; i < units; i++)
        needed += unitAt(source + 2 * i, byteOrder) < 128 ? 1 : 2;
    if (dest == nullptr || capacity <= 0)
        return needed;
    int limit = capacity < needed ? capacity : needed;
    int produced = 0;
    for (int i = 0; i < units && produced < limit; i++) {
        uint16_t unit = unitAt(source + 2 * i, byteOrder);
        if (unit < 128) {
            dest[produced++] = (uint8_t)unit;
            continue;
        }
        // A two-byte code never goes half into the last byte of the room.
        if (produced + 2 > limit)
            break;
        uint16_t code = gbkCodeOf(unit);
        dest[produced++] = code != 0 ? (uint8_t)(code >> 8) : '?';
        dest[produced++] = code != 0 ? (uint8_t)(code & 0xFF) : '?';
    }
    return produced;
}

int ucs2ToUtf8(const uint8_t *source, int sourceLength, uint8_t *dest, int capacity, int byteOrder)
{
    if (source == nullptr || sourceLength < 2)
        return 0;
    int units = sourceLength / 2;
    int total = 0;
    int fitting = 0;   // units whose encoding still fits in the capacity
    for (int i = 0; i < units; i++) {
        uint16_t unit = unitAt(source + 2 * i, byteOrder);
        if (unit == 0)
            break;
        total += utf8Length(unit);
        if (total <= capacity)
            fitting = i + 1;
    }
    if (dest == nullptr || capacity <= 0)
        return total;
    uint8_t *out = dest;
    for (int i = 0; i < fitting; i++)
        out = putUtf8(out, unitAt(source + 2 * i, byteOrder));
    return (int)(out - dest);
}

int is_valid_ucs2le_string(const uint8_t *bytes, int length) { return plausibleUcs2(bytes, length, 0); }
int is_valid_ucs2be_string(const uint8_t *bytes, int length) { return plausibleUcs2(bytes, length, 1); }
