// Quoted CSV records and the PostgreSQL value forms (see csv_output.h).
//
// Every value is first rendered whole (into a 64 KB sink that spills into a
// memory stream, so that a LONG or an inline LOB of any size is still one
// value), then converted and checked for PostgreSQL, then written quoted or
// as it stands.  A value cut between two row pieces is gathered until its
// last part has come, so that it is quoted (and converted) as one.
#include "unload/writers/csv_output.h"
#include "unload/values/type_codes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "unload/values/value_format.h"

namespace {

constexpr uint8_t kLobConvertUtf8 = 2;     // LOB_CONVERT UTF8
constexpr uint8_t kLobStorageInline = 0;   // LOB_STORAGE INLINE
constexpr uint16_t kNationalCharsetForm = 2;

constexpr int kConverterSlots = 4;

// A growable byte buffer.
struct ByteBuffer {
    char *data;
    size_t length;
    size_t capacity;
};

bool reserveBytes(ByteBuffer *b, size_t more)
{
    if (b->length + more <= b->capacity)
        return true;
    size_t capacity = b->capacity == 0 ? 4096 : b->capacity;
    while (capacity < b->length + more)
        capacity *= 2;
    char *data = static_cast<char *>(realloc(b->data, capacity));
    if (data == nullptr)
        return false;
    b->data = data;
    b->capacity = capacity;
    return true;
}

bool appendBytes(ByteBuffer *b, const char *data, size_t length)
{
    if (length == 0)
        return true;
    if (!reserveBytes(b, length))
        return false;
    memcpy(b->data + b->length, data, length);
    b->length += length;
    return true;
}

}  // namespace

struct CsvOutput {
    // LOB settings in force before a PostgreSQL unload, which needs LOB text
    // in UTF-8 and every LOB in line.
    uint8_t savedLobConvert;
    uint8_t savedLobStorage;
    uint8_t savedClobByteOrder;
    uint32_t fieldCount;      // fields a record should have; 0 = not padded
    uint32_t fieldTags;       // field separators written in the current record
    uint16_t charset;         // CHARSET, NLSCHARSET
    uint16_t nlsCharset;
    uint64_t nulledValues;    // values PostgreSQL cannot hold, written as NULL
    TextSink *value;          // the value being rendered ...
    FILE *spill;              // ... and what did not fit in the sink
    bool spillUsed;           // the value may have gone to the spill stream
    char *spillData;
    size_t spillSize;
    ByteBuffer pending;       // the parts of a value cut between row pieces
    bool pendingOpen;
    uint8_t pendingType;
    uint32_t pendingPosition;
    ByteBuffer converted;     // a value converted to UTF-8
    uint16_t lastCharset;     // the character set looked up last, and its converter
    iconv_t lastConverter;
    uint16_t converterId[kConverterSlots];
    iconv_t converter[kConverterSlots];
};

namespace {

bool isCharacterType(uint8_t type)
{
    return type == kTypeVARCHAR2 || type == kTypeVARCHAR || type == kTypeLONG || type == kTypeCHAR ||
           type == kTypeNCHAR || type == kTypeCharArray || type == kTypeCLOB || type == kTypeNCLOB;
}

// Types whose text is hexadecimal (RAW, LONG RAW, BLOB and every code ZOR
// writes in hexadecimal): bytea in PostgreSQL.
bool isHexType(uint8_t type)
{
    switch (type) {
    case kTypeVARCHAR2: case kTypeNUMBER: case kTypeLONG: case kTypeVARCHAR: case kTypeDATE:
    case kTypeCHAR: case kTypeBINARYFLOAT: case kTypeBINARYDOUBLE: case kTypeNumberArray:
    case kTypeCharArray: case kTypeCLOB: case kTypeTIMESTAMP: case kTypeTIMESTAMPTZ:
    case kTypeTIMESTAMPLTZ: case kTypeNCHAR: case kTypeNCLOB:
        return false;
    default:
        return true;
    }
}

bool isPostgres(const UnloadContext *ctx)
{
    return ctx->target == kTargetPostgres;
}

// ---------------------------------------------------------------------------
// Rendering one value into csv->value (and csv->spill).

// Kinds whose text is written in the sink alone when the value is short:
// the spill stream is then left alone (asking it costs more than the value).
bool rendersInSink(const UnloadContext *ctx, uint8_t type, uint32_t length, uint32_t position)
{
    if (length > kTextSinkSize / 4)
        return false;
    switch (type) {
    case kTypeNCHAR: case kTypeNumberArray: case kTypeCharArray: case kTypeCLOB: case kTypeNCLOB:
    case kTypeBLOB:
        return false;
    case kTypeVARCHAR2: case kTypeVARCHAR: case kTypeCHAR:
        return ctx->columnCharsetForm[position] != kNationalCharsetForm;
    default:
        return true;
    }
}

void startValue(CsvOutput *csv, bool spillUsed)
{
    csv->value->length = 0;
    if (csv->spillUsed && ftell(csv->spill) > 0)
        fseek(csv->spill, 0, SEEK_SET);
    csv->spillUsed = spillUsed;
}

// The rendered text of the value.
void renderedText(CsvOutput *csv, const char **text, size_t *length)
{
    if (csv->spillUsed && ftell(csv->spill) > 0) {
        flushTextSink(csv->value);
        fflush(csv->spill);
        *text = csv->spillData;
        *length = static_cast<size_t>(ftell(csv->spill));
        return;
    }
    *text = csv->value->data;
    *length = csv->value->length;
}

// The PostgreSQL forms of the kinds whose text differs from ZOR's own;
// false with *reason for a value PostgreSQL cannot hold.  Other kinds are
// rendered as the row writer renders them.
bool renderPostgresValue(CsvOutput *csv, const uint8_t *value, uint32_t length, uint8_t type,
                         const char **reason)
{
    TextSink *sink = csv->value;
    switch (type) {
    case kTypeDATE:
    case kTypeTIMESTAMP:
    case kTypeTIMESTAMPLTZ:
    case kTypeTIMESTAMPTZ: {
        if (type == kTypeDATE && length != 7) {
            *reason = "a DATE that is not 7 bytes long";
            return false;
        }
        char *p = reserveText(sink, 64);
        uint32_t n = formatPostgresDateTime(value, length, type == kTypeTIMESTAMPTZ, p, reason);
        if (n == 0)
            return false;
        commitText(sink, p + n);
        return true;
    }
    case kTypeBINARYFLOAT:
    case kTypeBINARYDOUBLE: {
        char *p = reserveText(sink, kFloatTextSize);
        size_t n = formatBinaryFloatText(value, length, p, kFloatTextSize, kFloatSpellingPostgres);
        if (n == 0) {
            *reason = "a binary float that is neither 4 nor 8 bytes long";
            return false;
        }
        commitText(sink, p + n);
        return true;
    }
    default:
        return true;
    }
}

bool renderValue(CsvOutput *csv, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                 uint32_t position, const char **reason)
{
    startValue(csv, !rendersInSink(ctx, type, length, position));
    const uint8_t *value = blockBytes(ctx, offset, length);
    if (value == nullptr)
        return true;
    if (isPostgres(ctx)) {
        switch (type) {
        case kTypeDATE: case kTypeTIMESTAMP: case kTypeTIMESTAMPLTZ: case kTypeTIMESTAMPTZ:
        case kTypeBINARYFLOAT: case kTypeBINARYDOUBLE:
            return renderPostgresValue(csv, value, length, type, reason);
        default:
            break;
        }
    }
    appendField(csv->value, ctx, offset, length, type, ctx->lobIndexFile[position], ctx->lobIndexBlock[position],
                ctx->columnCharsetForm[position]);
    return true;
}

// ---------------------------------------------------------------------------
// Character sets.

struct CharsetName {
    uint16_t id;
    const char *iconv;
};

const CharsetName kIconvNames[] = {
    {10, "CP850"},         {31, "ISO-8859-1"},   {32, "ISO-8859-2"},  {35, "ISO-8859-5"},
    {37, "ISO-8859-7"},    {41, "TIS-620"},      {45, "CP1258"},      {46, "ISO-8859-15"},
    {170, "CP1250"},       {171, "CP1251"},      {174, "CP1253"},     {175, "CP1255"},
    {177, "CP1254"},       {178, "CP1252"},      {179, "CP1257"},     {196, "KOI8-R"},
    {560, "CP1256"},       {830, "EUC-JP"},      {832, "SHIFT_JIS"},  {837, "EUC-JP"},
    {838, "SHIFT_JIS"},    {840, "EUC-KR"},      {846, "CP949"},      {850, "GB2312"},
    {852, "GBK"},          {854, "GB18030"},     {860, "EUC-TW"},     {865, "BIG5"},
    {867, "CP950"},        {868, "BIG5-HKSCS"},  {1000, "UTF-16BE"},  {2000, "UTF-16BE"},
    {2002, "UTF-16LE"},
};

// The character set of a column's values: the dictionary's, else the
// setting of its form.
uint16_t columnCharset(const CsvOutput *csv, const UnloadContext *ctx, uint32_t position, uint8_t type)
{
    if (ctx->columnCharsetId[position] != 0)
        return ctx->columnCharsetId[position];
    bool national = type == kTypeNCHAR || type == kTypeNCLOB || ctx->columnCharsetForm[position] == kNationalCharsetForm;
    return national ? csv->nlsCharset : csv->charset;
}

// The converter from character set `id` to UTF-8, opened once per unload;
// kNoConverter when none is needed or none can be opened.
iconv_t converterFor(CsvOutput *csv, uint16_t id)
{
    if (id == csv->lastCharset)
        return csv->lastConverter;
    csv->lastCharset = id;
    csv->lastConverter = kNoConverter;
    const char *name = iconvNameOfCharset(id);
    if (name == nullptr)
        return kNoConverter;
    for (int i = 0; i < kConverterSlots; i++) {
        if (csv->converter[i] != kNoConverter && csv->converterId[i] == id)
            return csv->lastConverter = csv->converter[i];
    }
    for (int i = 0; i < kConverterSlots; i++) {
        if (csv->converter[i] == kNoConverter) {
            csv->converter[i] = iconv_open("UTF-8", name);
            csv->converterId[i] = id;
            return csv->lastConverter = csv->converter[i];
        }
    }
    return kNoConverter;
}

// Converts text into csv->converted; false when the text is not in the set.
bool convertToUtf8(CsvOutput *csv, iconv_t cd, const char *text, size_t length)
{
    csv->converted.length = 0;
    if (!reserveBytes(&csv->converted, 4 * length + 16))
        return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(text);
    size_t inLeft = length;
    char *out = csv->converted.data;
    size_t outLeft = csv->converted.capacity;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        return false;
    if (iconv(cd, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
        return false;
    csv->converted.length = csv->converted.capacity - outLeft;
    return true;
}

// Well-formed UTF-8 without NUL, the text PostgreSQL's text types accept.
bool isPostgresText(const char *text, size_t length)
{
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        if (c == 0)
            return false;
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t n;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
        else return false;
        if (i + n >= length)
            return false;
        for (size_t k = 1; k <= n; k++) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing one value.

bool needsQuotes(const UnloadContext *ctx, const char *text, size_t length)
{
    if (length == 0)
        return false;
    if (text[0] == ' ' || text[0] == '\t' || text[length - 1] == ' ' || text[length - 1] == '\t')
        return true;
    if (memchr(text, '"', length) != nullptr || memchr(text, '\n', length) != nullptr ||
        memchr(text, '\r', length) != nullptr)
        return true;
    // memmem finds the separators whatever their length.
    uint32_t fieldLength = ctx->fieldTagLength < kTagSize ? ctx->fieldTagLength : kTagSize;
    uint32_t recordLength = ctx->recordTagLength < kTagSize ? ctx->recordTagLength : kTagSize;
    return (fieldLength > 0 && memmem(text, length, ctx->fieldTag, fieldLength) != nullptr) ||
           (recordLength > 0 && memmem(text, length, ctx->recordTag, recordLength) != nullptr);
}

void writeQuoted(TextSink *sink, const char *text, size_t length)
{
    appendByte(sink, '"');
    size_t start = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] != '"')
            continue;
        appendText(sink, text + start, i + 1 - start);
        appendByte(sink, '"');
        start = i + 1;
    }
    appendText(sink, text + start, length - start);
    appendByte(sink, '"');
}

void reportNull(CsvOutput *csv, const UnloadContext *ctx, uint32_t position, uint32_t table, uint32_t slot,
                const char *reason)
{
    csv->nulledValues++;
    fprintf(stderr, "  Row %d.%u.%u column %u: %s, which PostgreSQL cannot hold; written as NULL\n",
            static_cast<int32_t>(getBlockRDBA(ctx)), table, slot, position + 1, reason);
}

// A BLOB's bytes as PostgreSQL's bytea text: \x and two hex digits a byte
// (never needs quotes).
void writePostgresHex(TextSink *sink, const char *bytes, size_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    appendText(sink, "\\x", 2);
    for (size_t i = 0; i < length; i++) {
        uint8_t b = static_cast<uint8_t>(bytes[i]);
        appendByte(sink, kDigits[b >> 4]);
        appendByte(sink, kDigits[b & 0xF]);
    }
}

// The rendered text of a whole value, converted for PostgreSQL when that is
// the target, written quoted when it has to be.
void emitValue(TextSink *sink, UnloadContext *ctx, const char *text, size_t length, uint8_t type,
               uint32_t position, uint32_t table, uint32_t slot)
{
    CsvOutput *csv = ctx->csv;
    if (isPostgres(ctx)) {
        if (type == kTypeBLOB) {   // an empty BLOB is an empty bytea
            writePostgresHex(sink, text, length);
            return;
        }
        if (length == 0 && !isCharacterType(type)) {
            reportNull(csv, ctx, position, table, slot, "a malformed value");
            return;
        }
        if (isCharacterType(type)) {
            // A user's ICONV_NCHAR has already converted national text, and
            // the LOB page writer CLOB and NCLOB pages (LOB_CONVERT UTF8).
            bool lobText = type == kTypeCLOB || type == kTypeNCLOB;
            bool convertedByUser = lobText ||
                                   ((type == kTypeNCHAR || ctx->columnCharsetForm[position] == kNationalCharsetForm) &&
                                    ctx->nchar != kNoConverter);
            iconv_t cd = convertedByUser ? kNoConverter : converterFor(csv, columnCharset(csv, ctx, position, type));
            if (cd != kNoConverter) {
                if (!convertToUtf8(csv, cd, text, length)) {
                    reportNull(csv, ctx, position, table, slot, "text not in the column's character set");
                    return;
                }
                text = csv->converted.data;
                length = csv->converted.length;
            }
            if (!isPostgresText(text, length)) {
                reportNull(csv, ctx, position, table, slot, "text that is not UTF-8 or holds a NUL byte");
                return;
            }
        } else if (isHexType(type)) {
            appendText(sink, "\\x", 2);
        }
    }
    if (length == 0) {
        // A character value that is no NULL but has no text (a CHAR of
        // blanks): the empty quoted field keeps it apart from NULL.
        if (isCharacterType(type))
            appendText(sink, "\"\"", 2);
        return;
    }
    if (needsQuotes(ctx, text, length))
        writeQuoted(sink, text, length);
    else
        appendText(sink, text, length);
}

void emitPending(TextSink *sink, const UnloadContext *ctx)
{
    CsvOutput *csv = ctx->csv;
    if (!csv->pendingOpen)
        return;
    csv->pendingOpen = false;
    // Written with the address of the piece that ends it.
    emitValue(sink, const_cast<UnloadContext *>(ctx), csv->pending.data, csv->pending.length, csv->pendingType,
              csv->pendingPosition, 0, 0);
    csv->pending.length = 0;
}

}  // namespace

// ---------------------------------------------------------------------------

const char *iconvNameOfCharset(uint16_t id)
{
    for (const CharsetName &entry : kIconvNames) {
        if (entry.id == id)
            return entry.iconv;
    }
    return nullptr;
}

bool beginCsvOutput(UnloadContext *ctx, uint32_t fieldCount, uint16_t charset, uint16_t nlsCharset)
{
    CsvOutput *csv = static_cast<CsvOutput *>(calloc(1, sizeof(CsvOutput)));
    if (csv == nullptr)
        return false;
    csv->value = static_cast<TextSink *>(malloc(sizeof(TextSink)));
    csv->spill = open_memstream(&csv->spillData, &csv->spillSize);
    if (csv->value == nullptr || csv->spill == nullptr) {
        if (csv->spill != nullptr)
            fclose(csv->spill);
        free(csv->spillData);
        free(csv->value);
        free(csv);
        return false;
    }
    initTextSink(csv->value, csv->spill);
    csv->fieldCount = fieldCount;
    csv->charset = charset;
    csv->nlsCharset = nlsCharset;
    for (int i = 0; i < kConverterSlots; i++)
        csv->converter[i] = kNoConverter;
    csv->lastCharset = 0;   // no set: never looked up
    csv->lastConverter = kNoConverter;
    csv->savedLobConvert = ctx->lobConvert;
    csv->savedLobStorage = ctx->lobStorage;
    csv->savedClobByteOrder = ctx->clobByteOrder;
    if (isPostgres(ctx)) {
        // AL16UTF16, the store of CLOB text in a multi-byte database and of
        // every NCLOB, is big-endian on every platform.
        ctx->lobConvert = kLobConvertUtf8;
        ctx->lobStorage = kLobStorageInline;
        ctx->clobByteOrder = 1;
    }
    ctx->csv = csv;
    return true;
}

void endCsvOutput(UnloadContext *ctx)
{
    CsvOutput *csv = ctx->csv;
    if (csv == nullptr)
        return;
    ctx->csv = nullptr;
    ctx->lobConvert = csv->savedLobConvert;
    ctx->lobStorage = csv->savedLobStorage;
    ctx->clobByteOrder = csv->savedClobByteOrder;
    if (csv->nulledValues != 0)
        fprintf(stderr, "  %llu values PostgreSQL cannot hold were written as NULL\n",
                static_cast<unsigned long long>(csv->nulledValues));
    for (int i = 0; i < kConverterSlots; i++) {
        if (csv->converter[i] != kNoConverter)
            iconv_close(csv->converter[i]);
    }
    fclose(csv->spill);
    free(csv->spillData);
    free(csv->value);
    free(csv->pending.data);
    free(csv->converted.data);
    free(csv);
}

void appendCsvField(TextSink *sink, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                    uint32_t position, uint32_t table, uint32_t slot, unsigned split)
{
    CsvOutput *csv = ctx->csv;
    const char *reason = nullptr;
    if (!renderValue(csv, ctx, offset, length, type, position, &reason)) {
        reportNull(csv, ctx, position, table, slot, reason);
        return;
    }
    const char *text;
    size_t textLength;
    renderedText(csv, &text, &textLength);
    bool joins = (split & kCsvContinued) != 0 && csv->pendingOpen;
    if ((split & kCsvContinues) != 0 || joins) {
        if (!joins) {
            csv->pending.length = 0;
            csv->pendingType = type;
            csv->pendingPosition = position;
            csv->pendingOpen = true;
        }
        // Out of memory: what was gathered is written, the rest on its own.
        if (!appendBytes(&csv->pending, text, textLength)) {
            emitPending(sink, ctx);
            emitValue(sink, ctx, text, textLength, type, position, table, slot);
            return;
        }
        if ((split & kCsvContinues) == 0)
            emitPending(sink, ctx);
        return;
    }
    emitPending(sink, ctx);
    emitValue(sink, ctx, text, textLength, type, position, table, slot);
}

void noteCsvFieldTag(TextSink *sink, const UnloadContext *ctx)
{
    emitPending(sink, ctx);
    ctx->csv->fieldTags++;
}

void finishCsvRecord(TextSink *sink, const UnloadContext *ctx)
{
    CsvOutput *csv = ctx->csv;
    emitPending(sink, ctx);
    uint32_t fieldLength = ctx->fieldTagLength < kTagSize ? ctx->fieldTagLength : kTagSize;
    while (csv->fieldCount != 0 && csv->fieldTags + 1 < csv->fieldCount) {
        appendText(sink, ctx->fieldTag, fieldLength);
        csv->fieldTags++;
    }
    csv->fieldTags = 0;
}

// ---------------------------------------------------------------------------
// PostgreSQL date and time text.

namespace {

bool isGregorianLeap(long year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(long astronomicalYear, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isGregorianLeap(astronomicalYear) ? 29 : kDays[month - 1];
}

}  // namespace

uint32_t formatPostgresDateTime(const uint8_t *v, uint32_t length, bool withZone, char *out, const char **reason)
{
    if (length != 7 && length != 11 && length != 13) {
        *reason = "a date of a length Oracle does not write";
        return 0;
    }
    // Oracle counts years 1 BC as -1 and has no year 0; PostgreSQL writes
    // BC years as positive numbers with " BC".
    long year = (static_cast<long>(v[0]) - 100) * 100 + (static_cast<long>(v[1]) - 100);
    int month = v[2], day = v[3];
    if (year == 0) {
        *reason = "a date in year 0";
        return 0;
    }
    long astronomical = year < 0 ? year + 1 : year;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(astronomical, month) || v[4] < 1 || v[4] > 24 ||
        v[5] < 1 || v[5] > 60 || v[6] < 1 || v[6] > 60) {
        *reason = "a date or time field out of range";
        return 0;
    }
    if (year < -4713 || (year == -4713 && (month < 11 || (month == 11 && day < 24)))) {
        *reason = "a date before 4713-11-24 BC";
        return 0;
    }
    uint32_t micro = 0;
    if (length >= 11) {
        uint32_t nanoseconds = (static_cast<uint32_t>(v[7]) << 24) | (static_cast<uint32_t>(v[8]) << 16) |
                               (static_cast<uint32_t>(v[9]) << 8) | v[10];
        if (nanoseconds > 999999999u) {
            *reason = "fractional seconds out of range";
            return 0;
        }
        // PostgreSQL keeps microseconds; the nanoseconds below are cut, as
        // in ZOR's text, rather than rounded into the next second.
        micro = nanoseconds / 1000;
    }
    int n = snprintf(out, 64, "%04ld-%02d-%02d %02d:%02d:%02d", year < 0 ? -year : year, month, day, v[4] - 1,
                     v[5] - 1, v[6] - 1);
    if (length >= 11)
        n += snprintf(out + n, 64 - n, ".%06u", micro);
    // The instant is stored in UTC whatever zone it was written in.
    if (withZone && length == 13)
        n += snprintf(out + n, 64 - n, "+00:00");
    if (year < 0)
        n += snprintf(out + n, 64 - n, " BC");
    return static_cast<uint32_t>(n);
}
