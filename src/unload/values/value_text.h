// The text of the value kinds nearly every table is made of: character
// text, NUMBER, DATE and TIMESTAMP.  Inline, so that the row writer formats
// a value without a call; an unload of a large table formats hundreds of
// millions of them, and at that count the call and its argument shuffle
// cost as much as the formatting.
//
// Every formatter writes at a pointer the caller has made room at and
// returns the end of what it wrote.  None reads outside the value it is
// given: the caller has checked the value against the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "unload/values/type_codes.h"

// The compilers weigh these formatters too large to inline on their own,
// yet a call costs about as much as the formatting of a short value.
#define ZOR_ALWAYS_INLINE inline __attribute__((always_inline))

// Two decimal digits per entry: 2 * v is where "%02u" of v < 100 starts.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// "%u" without printf.
inline char *putUnsigned(char *p, uint32_t v)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

// "%02u" of v < 100.
inline char *putPair(char *p, uint32_t v)
{
    memcpy(p, kDigitPairs + 2 * v, 2);
    return p + 2;
}

// "%02u": a value of 100 or more keeps all its digits, as printf would.
inline char *putTwoDigits(char *p, uint32_t v)
{
    if (v >= 100)
        return putUnsigned(p, v);
    return putPair(p, v);
}

// ---------------------------------------------------------------------------
// NUMBER.  Byte 0 is the sign and exponent, the rest base-100 digits:
//   0x80               zero (one byte); with digits after it, a positive
//                      value of exponent -65 (1e-130 is 80 02)
//   above 0x80         positive; byte0 - 192 digit pairs before the point;
//                      each digit byte holds pair + 1
//   below 0x80         negative; 63 - byte0 pairs before the point; each
//                      digit byte holds 101 - pair; a terminator 102 follows
//                      the digits when there are fewer than 20 of them
// Trailing zero pairs are not stored.
constexpr uint8_t kNumberZero = 0x80;
constexpr int kPositiveExponentBias = 192;
constexpr int kNegativeExponentBias = 63;
constexpr uint8_t kNegativeTerminator = 102;
constexpr size_t kNumberMaxBytes = 22;

// Longest text a NUMBER can produce: sign, "0.", 64 pairs of leading zeros
// (or 63 of integer padding), 21 digit pairs, ".", NUL; rounded up.
constexpr size_t kNumberTextSize = 192;

// The base-100 digit of one digit byte; above 99 when the byte is outside
// the digit range.
inline uint32_t numberPair(uint8_t byte, bool negative)
{
    return static_cast<uint32_t>(negative ? 101 - byte : byte - 1);
}

// The text of NUMBER bytes (length already cut to kNumberMaxBytes) written
// at out, which has room for kNumberTextSize characters (the longest text is
// shorter); returns the end of the text, or out itself when nothing is to be
// written (zero with extra bytes, no digits, a digit byte out of range).
ZOR_ALWAYS_INLINE char *formatNumberText(const uint8_t *bytes, size_t length, char *out)
{
    uint8_t exponent = bytes[0];
    if (exponent == kNumberZero) {
        if (length == 1) {
            *out = '0';
            return out + 1;
        }
        // Normalised digits never start with a zero pair: a zero written
        // longer than one byte is not a value.
        if (bytes[1] <= 1)
            return out;
    }

    bool negative = exponent < kNumberZero;
    int k;                       // digit pairs before the decimal point
    size_t digits = length - 1;  // digit bytes
    if (negative) {
        k = kNegativeExponentBias - exponent;
        // A negative with 20 digit bytes fills 21 bytes and has no room for
        // the terminator (-1/3 is 3F and twenty 44s): only a 102 ends it.
        if (length >= 2 && bytes[length - 1] == kNegativeTerminator)
            digits--;
    } else {
        k = exponent - kPositiveExponentBias;
    }
    if (digits == 0)
        return out;

    // Digits are written as they are checked: a digit byte outside the
    // base-100 range is not a NUMBER, and writing it would invent digits, so
    // the value is then left empty (what was written is not counted).
    const uint8_t *d = bytes + 1;
    char *p = out;
    if (negative)
        *p++ = '-';
    size_t i = 0;
    if (k <= 0) {
        *p++ = '0';
        *p++ = '.';
        for (int z = 0; z < -k; z++)
            p = putPair(p, 0);
    } else {
        size_t whole = static_cast<size_t>(k) < digits ? static_cast<size_t>(k) : digits;
        uint32_t pair = numberPair(d[0], negative);
        if (pair > 99)
            return out;
        // 5 prints as 5, not 05.
        if (pair < 10)
            *p++ = static_cast<char>('0' + pair);
        else
            p = putPair(p, pair);
        for (i = 1; i < whole; i++) {
            pair = numberPair(d[i], negative);
            if (pair > 99)
                return out;
            p = putPair(p, pair);
        }
        if (whole == digits) {
            // Zero pairs at the end of the integer part were not stored.
            for (size_t missing = digits; missing < static_cast<size_t>(k); missing++)
                p = putPair(p, 0);
            return p;
        }
        *p++ = '.';
    }
    for (; i + 1 < digits; i++) {
        uint32_t pair = numberPair(d[i], negative);
        if (pair > 99)
            return out;
        p = putPair(p, pair);
    }
    uint32_t last = numberPair(d[i], negative);
    if (last > 99)
        return out;
    // 12.3 prints as 12.3, not 12.30.
    putPair(p, last);
    return p + (last % 10 == 0 ? 1 : 2);
}

// ---------------------------------------------------------------------------
// DATE: century + 100, year of century + 100, month, day, hour + 1,
// minute + 1, second + 1.  TIMESTAMP adds a big-endian u32 of nanoseconds
// (11 bytes) and two time-zone bytes (13 bytes).
constexpr uint32_t kDateLength = 7;
constexpr uint32_t kTimestampLength = 11;
constexpr uint32_t kTimestampTZLength = 13;
constexpr size_t kDateTextSize = 64;  // room for any DATE or TIMESTAMP text

// A time byte holds its value + 1; a zero byte prints as 0.
inline uint32_t timeField(uint8_t byte)
{
    return byte == 0 ? 0u : byte - 1u;
}

// formatDateText for bytes outside their calendar range, whose fields may
// print more than two digits.
inline char *formatUnusualDateText(const uint8_t *d, char *out)
{
    // Unsigned 16-bit like the stored bytes themselves; years before 1 wrap
    // and are cut to four digits rather than breaking the column width.
    uint16_t year =
        static_cast<uint16_t>(static_cast<uint16_t>(d[0] * 100 - 10000) + static_cast<uint16_t>(d[1] - 100));
    unsigned y = static_cast<unsigned>(year % 10000);
    char *p = putPair(out, y / 100);
    p = putPair(p, y % 100);
    *p++ = '-';
    p = putTwoDigits(p, d[2]);
    *p++ = '-';
    p = putTwoDigits(p, d[3]);
    *p++ = ' ';
    p = putTwoDigits(p, timeField(d[4]));
    *p++ = ':';
    p = putTwoDigits(p, timeField(d[5]));
    *p++ = ':';
    return putTwoDigits(p, timeField(d[6]));
}

// "YYYY-MM-DD HH:MI:SS" at out (at most 24 characters: bytes past their
// calendar range print all their digits); returns the end.
ZOR_ALWAYS_INLINE char *formatDateText(const uint8_t *d, char *out)
{
    // A date of years 0 to 9999 whose every field has two digits: the
    // century and year bytes are the two pairs of the year.
    if (static_cast<uint8_t>(d[0] - 100) < 100 && static_cast<uint8_t>(d[1] - 100) < 100 && d[2] < 100 &&
        d[3] < 100 && d[4] <= 100 && d[5] <= 100 && d[6] <= 100) {
        char *p = putPair(out, d[0] - 100u);
        p = putPair(p, d[1] - 100u);
        *p = '-';
        p = putPair(p + 1, d[2]);
        *p = '-';
        p = putPair(p + 1, d[3]);
        *p = ' ';
        p = putPair(p + 1, timeField(d[4]));
        *p = ':';
        p = putPair(p + 1, timeField(d[5]));
        *p = ':';
        return putPair(p + 1, timeField(d[6]));
    }
    return formatUnusualDateText(d, out);
}

// A TIMESTAMP value of 7, 11 or 13 bytes: the date, then for 11 and 13
// bytes "." and the microseconds as "%06u" (the time-zone bytes of a
// 13-byte value are not part of the text).  At most 35 characters.
ZOR_ALWAYS_INLINE char *formatTimestampText(const uint8_t *value, uint32_t length, char *out)
{
    char *p = formatDateText(value, out);
    if (length == kDateLength)
        return p;
    uint32_t nanoseconds = (static_cast<uint32_t>(value[7]) << 24) | (static_cast<uint32_t>(value[8]) << 16) |
                           (static_cast<uint32_t>(value[9]) << 8) | value[10];
    uint32_t micro = nanoseconds / 1000;
    *p++ = '.';
    if (micro >= 1000000)
        return putUnsigned(p, micro);
    p = putPair(p, micro / 10000);
    p = putPair(p, micro / 100 % 100);
    return putPair(p, micro % 100);
}

// ---------------------------------------------------------------------------
// The row writer's path for the kinds above.

// Character values are mostly a few dozen bytes: moved in words rather than
// by a call to memcpy.  Reads only the value; writes up to 15 bytes past
// its end, inside the room the caller gave.
ZOR_ALWAYS_INLINE char *putShortBytes(char *out, const uint8_t *value, uint32_t length)
{
    if (length >= 16) {
        if (length > 128) {
            memcpy(out, value, length);
            return out + length;
        }
        uint32_t i = 0;
        for (; i + 16 <= length; i += 16)
            memcpy(out + i, value + i, 16);
        // The last, partial word is taken from the value's own end.
        memcpy(out + length - 16, value + length - 16, 16);
    } else if (length >= 8) {
        uint64_t head;
        uint64_t tail;
        memcpy(&head, value, 8);
        memcpy(&tail, value + length - 8, 8);
        memcpy(out, &head, 8);
        memcpy(out + length - 8, &tail, 8);
    } else if (length >= 4) {
        uint32_t head;
        uint32_t tail;
        memcpy(&head, value, 4);
        memcpy(&tail, value + length - 4, 4);
        memcpy(out, &head, 4);
        memcpy(out + length - 4, &tail, 4);
    } else if (length > 0) {
        out[0] = static_cast<char>(value[0]);
        out[length / 2] = static_cast<char>(value[length / 2]);
        out[length - 1] = static_cast<char>(value[length - 1]);
    }
    return out + length;
}

constexpr uint16_t kNationalCharsetForm = 2;

// A value that reaches this close to the block end is written as nothing:
// the row mapper parks damaged columns at block size - 2.
constexpr uint32_t kBlockEndGuard = 3;

// Room formatPlainValue may use beyond the value's own length.
constexpr uint32_t kPlainValueRoom = kNumberTextSize;

// The text appendField writes for a value of the kinds above held in the
// block of blockSize bytes at `block` (the context's block buffer),
// written at out, which has room for length + kPlainValueRoom bytes;
// returns the end.
// Returns nullptr, having written nothing, for any other kind: the caller
// then writes it through appendField.
ZOR_ALWAYS_INLINE char *formatPlainValue(const uint8_t *block, uint32_t blockSize, uint32_t offset,
                                         uint32_t length, uint8_t type, uint16_t charsetForm, char *out)
{
    // The one check of the value against the block: past it, its bytes are
    // read without another.
    bool inside = length != 0 && block != nullptr &&
                  static_cast<uint64_t>(offset) + length + kBlockEndGuard < static_cast<uint64_t>(blockSize);
    const uint8_t *value = inside ? block + offset : nullptr;
    switch (type) {
    case kTypeVARCHAR2:
    case kTypeVARCHAR:
        if (charsetForm == kNationalCharsetForm)
            return nullptr;
        return inside ? putShortBytes(out, value, length) : out;
    case kTypeCHAR:
        if (charsetForm == kNationalCharsetForm)
            return nullptr;
        if (!inside)
            return out;
        while (length > 0 && value[length - 1] == ' ')
            length--;
        return putShortBytes(out, value, length);
    case kTypeLONG: return inside ? putShortBytes(out, value, length) : out;
    case kTypeNUMBER:
        if (!inside)
            return out;
        return formatNumberText(value, length > kNumberMaxBytes ? kNumberMaxBytes : length, out);
    case kTypeDATE: return inside && length == kDateLength ? formatDateText(value, out) : out;
    case kTypeTIMESTAMP:
    case kTypeTIMESTAMPLTZ:
        if (inside && (length == kDateLength || length == kTimestampLength || length == kTimestampTZLength))
            return formatTimestampText(value, length, out);
        return out;
    default: return nullptr;
    }
}
