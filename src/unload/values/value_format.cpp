// Column value formatting: Oracle's stored forms of NUMBER, DATE, TIMESTAMP,
// BINARY_FLOAT/DOUBLE, character, RAW and collection values turned into the
// text of an unload file.
#include "unload/values/value_format.h"
#include "unload/values/type_codes.h"
#include "unload/values/value_text.h"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "block/block.h"
#include "lob/lob.h"

namespace {

// ---------------------------------------------------------------------------

// The value slice, or nullptr when it does not lie inside the block buffer.
const uint8_t *valueBytes(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    return blockBytes(ctx, offset, length);
}

void writeBytes(FILE *stream, const void *data, size_t length)
{
    if (stream != nullptr && length > 0)
        fwrite(data, 1, length, stream);
}

void writeText(FILE *stream, const char *text)
{
    writeBytes(stream, text, strlen(text));
}

// TIMESTAMP WITH TIME ZONE keeps the instant in UTC; bytes 11 and 12 say
// how it was written: an offset as hours + 20 and minutes + 60, or, with bit
// 0x80 of byte 11, a time-zone region id.  The text is the local time and
// its offset, so that a loader reading "TZH:TZM" gets the same instant;
// a region (whose rules ZOR does not carry) or offset bytes out of range
// give the UTC time with +00:00, which is still the same instant.
constexpr uint8_t kTzRegionFlag = 0x80;
constexpr int kTzHourBias = 20;
constexpr int kTzMinuteBias = 60;
constexpr int kMinutesPerDay = 1440;

// Offset of the value in minutes east of UTC; false for a region id or
// bytes out of range.
bool zoneOffsetMinutes(const uint8_t *value, int *minutes)
{
    if (value[11] & kTzRegionFlag)
        return false;
    int hours = value[11] - kTzHourBias;
    int mins = value[12] - kTzMinuteBias;
    if (hours < -12 || hours > 14 || mins < -59 || mins > 59)
        return false;
    *minutes = hours * 60 + mins;
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// civil-calendar algorithms of H. Hinnant).
long daysFromCivil(long y, long m, long d)
{
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(long z, long *year, long *month, long *day)
{
    z += 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp + (mp < 10 ? 3 : -9);
    *year = yoe + era * 400 + (*month <= 2);
}

// The first 7 bytes of a stored date moved by `minutes` into `local`.
// False (local untouched) when the bytes are no calendar date to move.
bool shiftDateBytes(const uint8_t *d, int minutes, uint8_t *local)
{
    if (d[2] < 1 || d[2] > 12 || d[3] < 1 || d[3] > 31 || d[4] < 1 || d[4] > 24 || d[5] < 1 || d[5] > 60)
        return false;
    long year = ((long)d[0] - 100) * 100 + ((long)d[1] - 100);
    long total = daysFromCivil(year, d[2], d[3]) * kMinutesPerDay + (d[4] - 1) * 60L + (d[5] - 1) + minutes;
    long days = total >= 0 ? total / kMinutesPerDay : -((-total + kMinutesPerDay - 1) / kMinutesPerDay);
    long inDay = total - days * kMinutesPerDay;
    long month, day;
    civilFromDays(days, &year, &month, &day);
    long century = year / 100;   // truncated: -4712 is stored as 53, 88
    if (century + 100 < 0 || century + 100 > 255)
        return false;
    local[0] = (uint8_t)(century + 100);
    local[1] = (uint8_t)(year % 100 + 100);
    local[2] = (uint8_t)month;
    local[3] = (uint8_t)day;
    local[4] = (uint8_t)(inDay / 60 + 1);
    local[5] = (uint8_t)(inDay % 60 + 1);
    local[6] = d[6];
    return true;
}

// " +HH:MM" / " -HH:MM".
char *putZoneOffset(char *p, int minutes)
{
    *p++ = ' ';
    *p++ = minutes < 0 ? '-' : '+';
    unsigned m = (unsigned)(minutes < 0 ? -minutes : minutes);
    memcpy(p, kDigitPairs + 2 * (m / 60), 2);
    p[2] = ':';
    memcpy(p + 3, kDigitPairs + 2 * (m % 60), 2);
    return p + 5;
}

// A TIMESTAMP WITH TIME ZONE value: as formatTimestampText for 7 and 11
// bytes; a 13-byte value as the local time followed by its offset.
char *formatTimestampTzText(const uint8_t *value, uint32_t length, char *out)
{
    if (length != kTimestampTZLength)
        return formatTimestampText(value, length, out);
    uint8_t local[kTimestampLength];
    memcpy(local, value, kTimestampLength);
    int minutes = 0;
    if (!zoneOffsetMinutes(value, &minutes) || !shiftDateBytes(value, minutes, local))
        minutes = 0;
    return putZoneOffset(formatTimestampText(local, kTimestampLength, out), minutes);
}

// ---------------------------------------------------------------------------
// National character conversion buffers.
constexpr size_t kConvertBufferSize = 16384;

// ---------------------------------------------------------------------------
// RAW as hexadecimal: pending text is flushed past this many characters.
constexpr size_t kHexFlushThreshold = 240;

void writeHex(FILE *stream, const uint8_t *bytes, size_t length)
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    char pending[kHexFlushThreshold + 4];
    size_t count = 0;
    for (size_t i = 0; i < length; i++) {
        pending[count++] = kHexDigits[bytes[i] >> 4];
        pending[count++] = kHexDigits[bytes[i] & 0x0F];
        if (count > kHexFlushThreshold) {
            writeBytes(stream, pending, count);
            count = 0;
        }
    }
    writeBytes(stream, pending, count);
}

// ---------------------------------------------------------------------------
// Collections (VARRAY / nested table images): an image that starts 00 01
// has a 37-byte header; elements follow, each with the length byte of a row
// column: 0..253 bytes follow, 0xFE then a u16 length in block byte order,
// 0xFF a NULL element.
constexpr uint32_t kArrayImageHeader = 37;
constexpr uint8_t kLengthLong = 0xFE;
constexpr uint8_t kLengthNull = 0xFF;

void printArray(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, bool numbers)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    uint32_t pos = 0;
    bool commaBeforeFirst = true;
    if (length >= 2 && value[0] == 0x00 && value[1] == 0x01) {
        pos = kArrayImageHeader;
        commaBeforeFirst = false;
    }
    bool first = true;
    while (pos < length) {
        uint8_t lengthByte = value[pos];
        uint32_t elementStart;
        uint32_t elementLength;
        bool isNull = false;
        if (lengthByte == kLengthNull) {
            isNull = true;
            elementStart = pos + 1;
            elementLength = 0;
        } else if (lengthByte == kLengthLong) {
            uint16_t longLength;
            if (pos + 3 > length || !readU16(ctx, offset + pos + 1, &longLength))
                return;
            elementStart = pos + 3;
            elementLength = longLength;
        } else {
            elementStart = pos + 1;
            elementLength = lengthByte;
        }
        // An element that runs past the value ends the collection.
        if ((uint64_t)elementStart + elementLength > length)
            return;
        if (!first || commaBeforeFirst)
            writeText(stream, ",");
        first = false;
        if (isNull) {
            writeText(stream, "NULL");
        } else if (numbers) {
            char text[kNumberTextSize];
            uint32_t used = elementLength > kNumberMaxBytes ? (uint32_t)kNumberMaxBytes : elementLength;
            int n = ora_number_to_string(value + elementStart, used, text, sizeof text);
            writeBytes(stream, text, n > 0 ? (size_t)n : 0);
        } else {
            writeBytes(stream, value + elementStart, elementLength);
        }
        pos = elementStart + elementLength;
    }
}

// BINARY_FLOAT and BINARY_DOUBLE: the shortest text that reads back to the
// same bits; returns the length, 0 for a value of another length or outside
// the block.
size_t formatFloatText(const UnloadContext *ctx, uint32_t offset, uint32_t length, char *text)
{
    if (length != 4 && length != 8)
        return 0;
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return 0;
    return formatBinaryFloatText(value, length, text, kFloatTextSize, kFloatSpellingOracle);
}

// LOB columns hold a locator, not the value: the LOB writers find the pages.
// A CLOB in the national character set is an NCLOB.
void printLOBField(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                   uint16_t lobIndexFile, uint32_t lobIndexBlock, uint16_t charsetForm)
{
    if (type == kTypeBLOB)
        printBLOB(stream, ctx, offset, length, lobIndexFile, lobIndexBlock);
    else if (type == kTypeNCLOB || charsetForm == kNationalCharsetForm)
        printNCLOB(stream, ctx, offset, length, lobIndexFile, lobIndexBlock);
    else
        printCLOB(stream, ctx, offset, length, lobIndexFile, lobIndexBlock);
}

}  // namespace

// ---------------------------------------------------------------------------

void printField(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                uint16_t lobIndexFile, uint32_t lobIndexBlock, uint16_t charsetForm)
{
    if (ctx == nullptr || length == 0)
        return;
    if ((uint64_t)offset + length + kBlockEndGuard >= (uint64_t)ctx->blockSize)
        return;
    switch (type) {
    case kTypeSkip:
        return;
    case kTypeVARCHAR2:
    case kTypeVARCHAR:
        if (charsetForm == kNationalCharsetForm)
            printNVARCHAR(stream, ctx, offset, length);
        else
            printVARCHAR(stream, ctx, offset, length);
        return;
    case kTypeLONG:
        printVARCHAR(stream, ctx, offset, length);
        return;
    case kTypeNUMBER:
        printNUMBER(stream, ctx, offset, length);
        return;
    case kTypeDATE:
        printDATE(stream, ctx, offset, length);
        return;
    case kTypeCHAR:
        if (charsetForm == kNationalCharsetForm)
            printNVARCHAR(stream, ctx, offset, length);
        else
            printCHAR(stream, ctx, offset, length);
        return;
    case kTypeNCHAR:
        printNVARCHAR(stream, ctx, offset, length);
        return;
    case kTypeBINARYFLOAT:
    case kTypeBINARYDOUBLE:
        printBINARYFLOAT(stream, ctx, offset, length);
        return;
    case kTypeNumberArray:
        printNARRAY(stream, ctx, offset, length);
        return;
    case kTypeCharArray:
        printVARRAY(stream, ctx, offset, length);
        return;
    case kTypeCLOB:
    case kTypeBLOB:
    case kTypeNCLOB:
        printLOBField(stream, ctx, offset, length, type, lobIndexFile, lobIndexBlock, charsetForm);
        return;
    case kTypeTIMESTAMP:
    case kTypeTIMESTAMPLTZ:
        printTIMESTAMP(stream, ctx, offset, length);
        return;
    case kTypeTIMESTAMPTZ:
        printTIMESTAMPTZ(stream, ctx, offset, length);
        return;
    default:
        // RAW (23), LONG RAW (24), unknown (253) and every code ZOR does not
        // know: hexadecimal loses nothing.
        printVARRAW(stream, ctx, offset, length);
        return;
    }
}

size_t formatBinaryFloatText(const uint8_t *value, uint32_t length, char *text, size_t size,
                             FloatSpelling spelling)
{
    if ((length != 4 && length != 8) || size < kFloatTextSize)
        return 0;
    // Oracle stores IEEE bits big-endian so that the bytes sort like the
    // numbers: a non-negative value has its sign bit set, a negative one has
    // every bit inverted.  Undo whichever was done.
    uint64_t bits = 0;
    for (uint32_t i = 0; i < length; i++)
        bits = (bits << 8) | value[i];
    bool storedNonNegative = (value[0] & 0x80) != 0;
    double number;
    float single = 0;
    if (length == 4) {
        uint32_t b = (uint32_t)bits;
        b = storedNonNegative ? b ^ 0x80000000u : ~b;
        memcpy(&single, &b, sizeof single);
        number = single;
    } else {
        bits = storedNonNegative ? bits ^ 0x8000000000000000ull : ~bits;
        memcpy(&number, &bits, sizeof number);
    }
    const char *special = nullptr;
    if (std::isnan(number))
        special = spelling == kFloatSpellingPostgres ? "NaN" : "Nan";
    else if (std::isinf(number) && number > 0)
        special = spelling == kFloatSpellingPostgres ? "Infinity" : "Inf";
    else if (std::isinf(number))
        special = spelling == kFloatSpellingPostgres ? "-Infinity" : "-Inf";
    if (special != nullptr) {
        size_t n = strlen(special);
        memcpy(text, special, n);
        return n;
    }
    // A single-precision value gets the shortest text of the float, not of
    // the double it widens to (1.1f is "1.1", not "1.100000023841858").
    std::to_chars_result r = length == 4 ? std::to_chars(text, text + size, single)
                                         : std::to_chars(text, text + size, number);
    if (r.ec != std::errc())
        return 0;
    return (size_t)(r.ptr - text);
}

int ora_number_to_string(const uint8_t *bytes, size_t length, char *out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return 0;
    out[0] = '\0';
    if (bytes == nullptr || length == 0)
        return 0;
    if (length > kNumberMaxBytes)
        length = kNumberMaxBytes;
    char text[kNumberTextSize];
    size_t n = (size_t)(formatNumberText(bytes, length, text) - text);
    // Text that does not fit with its NUL is not written at all.
    if (n == 0 || n + 1 > outSize)
        return 0;
    memcpy(out, text, n);
    out[n] = '\0';
    return (int)n;
}

int ora_valid_number(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length == 0)
        return 0;
    uint8_t exponent = bytes[0];
    if (exponent == kNumberZero)
        return length == 1 ? 1 : 0;
    if (exponent < kNumberZero) {
        if (length < 2 || length > kNumberMaxBytes)
            return 0;
        size_t digitEnd;
        if (bytes[length - 1] == kNegativeTerminator)
            digitEnd = length - 1;
        else if (length == 21)  // twenty digit bytes, no room for a terminator
            digitEnd = length;
        else
            return 0;
        for (size_t i = 1; i < digitEnd; i++)
            if (bytes[i] < 2 || bytes[i] > 101)
                return 0;
        return 1;
    }
    if (length > 21)
        return 0;
    for (size_t i = 1; i < length; i++)
        if (bytes[i] < 1 || bytes[i] > 100)
            return 0;
    return 1;
}

void printNUMBER(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr || length == 0)
        return;
    char text[kNumberTextSize];
    size_t used = length > kNumberMaxBytes ? kNumberMaxBytes : length;
    writeBytes(stream, text, (size_t)(formatNumberText(value, used, text) - text));
}

void printDATE(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    if (length != kDateLength)
        return;
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    char text[kDateTextSize];
    writeBytes(stream, text, (size_t)(formatDateText(value, text) - text));
}

namespace {

// A TIMESTAMP kind of 7, 11 or 13 bytes, with its zone's offset or without.
void printTimestampKind(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, bool withZone)
{
    if (length != kDateLength && length != kTimestampLength && length != kTimestampTZLength)
        return;
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    char text[kDateTextSize];
    char *end = withZone ? formatTimestampTzText(value, length, text) : formatTimestampText(value, length, text);
    writeBytes(stream, text, (size_t)(end - text));
}

}  // namespace

void printTIMESTAMP(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    printTimestampKind(stream, ctx, offset, length, false);
}

void printTIMESTAMPTZ(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    printTimestampKind(stream, ctx, offset, length, true);
}

void printBINARYFLOAT(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    char text[kFloatTextSize];
    size_t n = formatFloatText(ctx, offset, length, text);
    writeBytes(stream, text, n);
}

void printCHAR(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    uint32_t kept = length;
    while (kept > 0 && value[kept - 1] == ' ')
        kept--;
    writeBytes(stream, value, kept);
}

void printVARCHAR(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    writeBytes(stream, value, length);
}

void printNVARCHAR(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    if (ctx->nchar == kNoConverter) {
        writeBytes(stream, value, length);
        return;
    }
    // A conversion may have stopped mid-sequence on an earlier value.
    iconv(ctx->nchar, nullptr, nullptr, nullptr, nullptr);

    // The input goes through the 16 KB input buffer a window at a time, so a
    // value longer than it (possible only in blocks over 16 KB) is converted
    // too.  Converted text is held until the output buffer fills; a failure
    // before anything was written sends the whole value unconverted, a
    // failure after that sends the rest unconverted.
    char input[kConvertBufferSize];
    char output[kConvertBufferSize];
    uint32_t consumed = 0;    // value bytes converted so far
    size_t pendingOut = 0;    // converted bytes held in output
    bool flushedAny = false;
    while (consumed < length) {
        size_t window = length - consumed;
        if (window > kConvertBufferSize)
            window = kConvertBufferSize;
        bool lastWindow = consumed + window == length;
        memcpy(input, value + consumed, window);
        char *in = input;
        size_t inLeft = window;
        char *out = output + pendingOut;
        size_t outLeft = kConvertBufferSize - pendingOut;
        size_t rc = iconv(ctx->nchar, &in, &inLeft, &out, &outLeft);
        int err = rc == (size_t)-1 ? errno : 0;
        size_t used = window - inLeft;
        consumed += (uint32_t)used;
        pendingOut = kConvertBufferSize - outLeft;
        if (err == 0)
            continue;
        if (err == E2BIG && pendingOut > 0) {
            writeBytes(stream, output, pendingOut);
            flushedAny = true;
            pendingOut = 0;
            continue;
        }
        // A character cut by the window edge starts the next window.
        if (err == EINVAL && !lastWindow && used > 0)
            continue;
        if (!flushedAny) {
            writeBytes(stream, value, length);
        } else {
            writeBytes(stream, output, pendingOut);
            writeBytes(stream, value + consumed, length - consumed);
        }
        return;
    }
    // Shift sequences of stateful encodings end the text.
    char *out = output + pendingOut;
    size_t outLeft = kConvertBufferSize - pendingOut;
    iconv(ctx->nchar, nullptr, nullptr, &out, &outLeft);
    pendingOut = kConvertBufferSize - outLeft;
    writeBytes(stream, output, pendingOut);
}

void printVARRAW(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    writeHex(stream, value, length);
}

void printRAW(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    uint32_t kept = length;
    while (kept > 0 && value[kept - 1] == 0)
        kept--;
    writeHex(stream, value, kept);
}

void printVARRAY(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    printArray(stream, ctx, offset, length, false);
}

void printNARRAY(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    printArray(stream, ctx, offset, length, true);
}

void printDate(FILE *stream)
{
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr)
        return;
    if (stream != nullptr)
        fprintf(stream, "%04d-%02d-%02d %02d:%02d:%02d\n", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

// ---------------------------------------------------------------------------
// The row writer's path: the same dispatch and the same text as printField,
// gathered in the sink.  The kinds that convert through iconv or read other
// blocks (national text, collections, LOBs) are rare; they flush the sink and
// go through printField on the stream.

namespace {

void appendHex(TextSink *sink, const uint8_t *bytes, size_t length)
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    const size_t chunk = kTextSinkSize / 4;
    while (length > 0) {
        size_t n = length < chunk ? length : chunk;
        char *p = reserveText(sink, (uint32_t)(2 * n));
        for (size_t i = 0; i < n; i++) {
            *p++ = kHexDigits[bytes[i] >> 4];
            *p++ = kHexDigits[bytes[i] & 0x0F];
        }
        commitText(sink, p);
        bytes += n;
        length -= n;
    }
}

}  // namespace

void appendQuotedText(TextSink *sink, const UnloadContext *ctx, uint32_t offset, uint32_t length,
                      bool continues, bool continued)
{
    if (ctx == nullptr || length == 0)
        return;
    if ((uint64_t)offset + length + kBlockEndGuard >= (uint64_t)ctx->blockSize)
        return;
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    bool quoted = continues || continued;
    for (uint32_t i = 0; i < length && !quoted; i++)
        quoted = value[i] == ',' || value[i] == '"' || value[i] == '\r' || value[i] == '\n';
    if (!quoted) {
        appendText(sink, value, length);
        return;
    }
    if (!continued)
        appendByte(sink, '"');
    for (uint32_t i = 0; i < length; i++) {
        if (value[i] == '"')
            appendByte(sink, '"');
        appendByte(sink, static_cast<char>(value[i]));
    }
    if (!continues)
        appendByte(sink, '"');
}

void appendField(TextSink *sink, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                 uint16_t lobIndexFile, uint32_t lobIndexBlock, uint16_t charsetForm)
{
    if (ctx == nullptr || length == 0)
        return;
    if ((uint64_t)offset + length + kBlockEndGuard >= (uint64_t)ctx->blockSize)
        return;
    const uint8_t *value = valueBytes(ctx, offset, length);
    if (value == nullptr)
        return;
    switch (type) {
    case kTypeSkip:
        return;
    case kTypeVARCHAR2:
    case kTypeVARCHAR:
    case kTypeCHAR: {
        if (charsetForm == kNationalCharsetForm)
            break;
        uint32_t kept = length;
        if (type == kTypeCHAR)
            while (kept > 0 && value[kept - 1] == ' ')
                kept--;
        appendText(sink, value, kept);
        return;
    }
    case kTypeLONG:
        appendText(sink, value, length);
        return;
    case kTypeNUMBER: {
        char *p = reserveText(sink, kNumberTextSize);
        size_t used = length > kNumberMaxBytes ? kNumberMaxBytes : length;
        commitText(sink, formatNumberText(value, used, p));
        return;
    }
    case kTypeDATE:
        if (length == kDateLength)
            commitText(sink, formatDateText(value, reserveText(sink, kDateTextSize)));
        return;
    case kTypeTIMESTAMP:
    case kTypeTIMESTAMPLTZ:
        if (length == kDateLength || length == kTimestampLength || length == kTimestampTZLength)
            commitText(sink, formatTimestampText(value, length, reserveText(sink, kDateTextSize)));
        return;
    case kTypeTIMESTAMPTZ:
        if (length == kDateLength || length == kTimestampLength || length == kTimestampTZLength)
            commitText(sink, formatTimestampTzText(value, length, reserveText(sink, kDateTextSize)));
        return;
    case kTypeBINARYFLOAT:
    case kTypeBINARYDOUBLE: {
        char *p = reserveText(sink, kFloatTextSize);
        commitText(sink, p + formatFloatText(ctx, offset, length, p));
        return;
    }
    case kTypeNCHAR:
    case kTypeNumberArray:
    case kTypeCharArray:
    case kTypeCLOB:
    case kTypeBLOB:
    case kTypeNCLOB:
        break;
    default:
        appendHex(sink, value, length);
        return;
    }
    flushTextSink(sink);
    printField(sink->stream, ctx, offset, length, type, lobIndexFile, lobIndexBlock, charsetForm);
}
