// Column-type guessing for segments without a dictionary.  Each column
// collects sticky evidence from the values it is fed (lengths that vary,
// values that are no NUMBER, no DATE, no LOB locator, no text) and keeps a
// current guess: the first non-null value proposes a type, later values can
// only move the guess towards the more general VARCHAR and RAW.
#include "scan/scan.h"

#include <cctype>
#include <cstring>

#include "block/block.h"
#include "unload/values/value_format.h"

namespace {

constexpr uint8_t kTypeNumber = 2;
constexpr uint8_t kTypeVarchar = 9;
constexpr uint8_t kTypeDate = 12;
constexpr uint8_t kTypeRaw = 23;
constexpr uint8_t kTypeBinaryFloat = 100;
constexpr uint8_t kTypeBinaryDouble = 101;
constexpr uint8_t kTypeClob = 112;
constexpr uint8_t kTypeBlob = 113;
constexpr uint8_t kTypeTimestamp = 180;
constexpr uint8_t kTypeTimestampTz = 181;

// A value reaching into the last bytes of the block runs into the block
// tail: it is no column value.
constexpr uint32_t kBlockTailBytes = 3;

// DATE, TIMESTAMP and TIMESTAMP WITH TIME ZONE share their first 7 bytes:
//   b0 century + 100, b1 year of century + 100, b2 month, b3 day,
//   b4 hour + 1, b5 minute + 1, b6 second + 1.
constexpr uint32_t kDateLength = 7;
constexpr uint32_t kTimestampLength = 11;
constexpr uint32_t kTimestampTzLength = 13;

// LOB locator, as stored in the row:
//   b0..b1 locator length prefix (b0 0, b1 0x70 or 0x54)
//   b2..b3 version (0, 1), b8 0, b9 kind (1 BLOB, 2 CLOB)
//   b10..b19 LOB id; b20..b21 in-line length (locators of 30 bytes and more)
constexpr uint32_t kLocatorShortLength = 20;
constexpr uint32_t kLocatorInlineMinimum = 30;
constexpr uint32_t kLocatorHeaderLength = 20;
constexpr uint8_t kLocatorKindBlob = 1;
constexpr uint8_t kLocatorKindClob = 2;
constexpr int kLobIdZeroesNeeded = 3;

constexpr uint8_t kNumberZero = 0x80;
constexpr uint32_t kPositiveNumberMax = 21;
constexpr uint32_t kNegativeNumberMax = 22;
constexpr uint8_t kNegativeTerminator = 102;

const uint8_t *guessValue(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    return length == 0 ? nullptr : blockBytes(ctx, offset, length);
}

bool isDateBytes(const uint8_t *b, uint32_t length)
{
    if (length != kDateLength && length != kTimestampLength && length != kTimestampTzLength)
        return false;
    return b[0] >= 51 && b[0] <= 149 && b[2] >= 1 && b[2] <= 12 && b[3] >= 1 && b[3] <= 31 && b[4] <= 24 &&
           b[5] <= 60 && b[6] <= 60;
}

bool allDigitsIn(const uint8_t *b, uint32_t from, uint32_t to, uint8_t low, uint8_t high)
{
    for (uint32_t i = from; i < to; i++) {
        if (b[i] < low || b[i] > high)
            return false;
    }
    return true;
}

bool isNumberBytes(const uint8_t *b, uint32_t length)
{
    if (length == 0)
        return false;
    if (b[0] == kNumberZero)
        return length == 1;
    if (b[0] > kNumberZero) {
        if (length > kPositiveNumberMax)
            return false;
        return length == 1 || allDigitsIn(b, 1, length, 1, 100);
    }
    if (length > kNegativeNumberMax || b[length - 1] != kNegativeTerminator)
        return false;
    return length <= 2 || allDigitsIn(b, 1, length - 1, 2, 101);
}

bool isLocatorBytes(const uint8_t *b, uint32_t length, uint8_t kind)
{
    if (length != kLocatorShortLength && length < kLocatorInlineMinimum)
        return false;
    if (length >= kLocatorInlineMinimum && length != (b[20] * 256u + b[21]) + kLocatorHeaderLength)
        return false;
    if (b[0] != 0 || (b[1] != 0x70 && b[1] != 0x54) || b[2] != 0 || b[3] != 1 || b[8] != 0 || b[9] != kind)
        return false;
    int zeroes = 0;
    for (int i = 10; i < 20; i++)
        zeroes += b[i] == 0;
    return zeroes >= kLobIdZeroesNeeded;
}

// A single byte of text: printable or white space in the C locale, or a
// terminating NUL.
bool isTextByte(const uint8_t *b, uint32_t i, uint32_t length)
{
    uint8_t c = b[i];
    if (c == 0)
        return i + 1 == length;
    return isprint(c) || isspace(c);
}

bool isUtf8Text(const uint8_t *b, uint32_t length)
{
    uint32_t i = 0;
    while (i < length) {
        uint8_t c = b[i];
        if (c < 0x80) {
            if (!isTextByte(b, i, length))
                return false;
            i++;
            continue;
        }
        uint32_t follow;
        if ((c & 0xE0) == 0xC0)
            follow = 1;
        else if ((c & 0xF0) == 0xE0)
            follow = 2;
        else if ((c & 0xF8) == 0xF0)
            follow = 3;
        else
            return false;
        if (i + follow >= length)
            return false;
        for (uint32_t k = 1; k <= follow; k++) {
            if ((b[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += follow + 1;
    }
    return true;
}

// The second byte of a GBK pair.
bool isGbkTrail(uint8_t t)
{
    return t >= 0x40 && t != 0x7F && t != 0xFF;
}

bool isBig5Code(uint16_t code)
{
    static const uint16_t kRanges[][2] = {
        {0x8140, 0xA0FE}, {0xA140, 0xA3BF}, {0xA440, 0xC67E},
        {0xC6A1, 0xC8FE}, {0xC940, 0xF9D5}, {0xF9D6, 0xFEFE},
    };
    for (const auto &range : kRanges) {
        if (code >= range[0] && code <= range[1])
            return true;
    }
    return false;
}

// GBK and Big5 share their shape: single text bytes, and pairs led by a
// byte 0x81 .. 0xFE that is not the last one.
bool isDoubleByteText(const uint8_t *b, uint32_t length, bool big5)
{
    uint32_t i = 0;
    while (i < length) {
        uint8_t c = b[i];
        if (c >= 0x81 && c <= 0xFE && i + 1 < length) {
            bool pair = big5 ? isBig5Code(static_cast<uint16_t>(c << 8 | b[i + 1])) : isGbkTrail(b[i + 1]);
            if (!pair)
                return false;
            i += 2;
            continue;
        }
        if (c >= 0x80 || !isTextByte(b, i, length))
            return false;
        i++;
    }
    return true;
}

// UCS-2 units that plausibly are text: printable or white-space ASCII, or
// the CJK ideograph blocks.
bool isUcs2Unit(uint16_t unit)
{
    if (unit < 0x80)
        return isprint(unit) || isspace(unit);
    return (unit >= 0x3400 && unit <= 0x4D85) || (unit >= 0x4E00 && unit <= 0x9FEF) ||
           (unit >= 0xF900 && unit <= 0xFAD9);
}

bool isUcs2Text(const uint8_t *b, uint32_t length, bool bigEndian)
{
    if (length % 2 != 0)
        return false;
    for (uint32_t i = 0; i < length; i += 2) {
        uint16_t unit = bigEndian ? static_cast<uint16_t>(b[i] << 8 | b[i + 1])
                                  : static_cast<uint16_t>(b[i + 1] << 8 | b[i]);
        if (!isUcs2Unit(unit))
            return false;
    }
    return true;
}

bool isTextBytes(const uint8_t *b, uint32_t length)
{
    return isUtf8Text(b, length) || isDoubleByteText(b, length, false) || isDoubleByteText(b, length, true) ||
           isUcs2Text(b, length, true) || isUcs2Text(b, length, false);
}

// Runs one test while its evidence bit is clear; sets the bit on failure.
void collectEvidence(uint8_t *evidence, uint8_t bit, bool passes)
{
    if ((*evidence & bit) == 0 && !passes)
        *evidence |= bit;
}

uint8_t firstGuess(const uint8_t *b, uint32_t length)
{
    if (isDateBytes(b, length)) {
        if (length == kDateLength)
            return kTypeDate;
        return length == kTimestampLength ? kTypeTimestamp : kTypeTimestampTz;
    }
    if (isNumberBytes(b, length))
        return kTypeNumber;
    if (isLocatorBytes(b, length, kLocatorKindClob))
        return kTypeClob;
    if (isLocatorBytes(b, length, kLocatorKindBlob))
        return kTypeBlob;
    bool text = isTextBytes(b, length);
    if (length == 4 && !text)
        return kTypeBinaryFloat;
    if (length == 8 && !text)
        return kTypeBinaryDouble;
    return text ? kTypeVarchar : kTypeRaw;
}

uint8_t revisedGuess(uint8_t type, uint8_t evidence, const uint8_t *b, uint32_t length)
{
    switch (type) {
    case kTypeNumber: return (evidence & kGuessNotNumber) ? kTypeVarchar : type;
    case kTypeVarchar: return (evidence & kGuessNotText) ? kTypeRaw : type;
    case kTypeDate:
    case kTypeTimestamp:
    case kTypeTimestampTz:
        if ((evidence & (kGuessLengthVaries | kGuessNotDate)) == 0)
            return type;
        return isNumberBytes(b, length) ? kTypeNumber : kTypeVarchar;
    case kTypeBinaryFloat:
    case kTypeBinaryDouble: return (evidence & kGuessLengthVaries) ? kTypeVarchar : type;
    case kTypeClob: return (evidence & kGuessNotClob) ? kTypeVarchar : type;
    case kTypeBlob: return (evidence & kGuessNotBlob) ? kTypeVarchar : type;
    default: return type;
    }
}

}  // namespace

void resetColumnGuess(ColumnGuessState *state)
{
    state->columnCount = 0;
    memset(state->evidence, 0, sizeof state->evidence);
    memset(state->type, kTypeRaw, sizeof state->type);
    memset(state->nonNullCount, 0, sizeof state->nonNullCount);
    memset(state->firstLength, 0, sizeof state->firstLength);
}

int isGuessValidDate(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *b = guessValue(ctx, offset, length);
    return b != nullptr && isDateBytes(b, length);
}

int isGuessValidNumber(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *b = guessValue(ctx, offset, length);
    return b != nullptr && isNumberBytes(b, length);
}

int isGuessValidCLOB(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *b = guessValue(ctx, offset, length);
    return b != nullptr && isLocatorBytes(b, length, kLocatorKindClob);
}

int isGuessValidBLOB(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *b = guessValue(ctx, offset, length);
    return b != nullptr && isLocatorBytes(b, length, kLocatorKindBlob);
}

int isGuessValidChar(const UnloadContext *ctx, uint32_t offset, uint32_t length)
{
    const uint8_t *b = guessValue(ctx, offset, length);
    return b != nullptr && isTextBytes(b, length);
}

void guessField(UnloadContext *ctx, uint32_t offset, uint32_t length, uint32_t column)
{
    ColumnGuessState *state = ctx->columnGuess;
    if (state == nullptr || column >= static_cast<uint32_t>(kMaxColumns))
        return;
    if (static_cast<uint64_t>(offset) + length + kBlockTailBytes >= ctx->blockSize)
        return;
    if (state->columnCount < column + 1)
        state->columnCount = static_cast<uint16_t>(column + 1);
    if (length == 0)
        return;
    const uint8_t *b = ctx->block + offset;
    // The count only tells the first value from later ones; it stops short
    // of wrapping so that a long SAMPLE never takes a value for a first one.
    if (state->nonNullCount[column] < UINT16_MAX)
        state->nonNullCount[column]++;
    if (state->firstLength[column] == 0)
        state->firstLength[column] = static_cast<uint16_t>(length);

    uint8_t *evidence = &state->evidence[column];
    collectEvidence(evidence, kGuessLengthVaries, length == state->firstLength[column]);
    if ((*evidence & kGuessNotNumber) == 0)
        collectEvidence(evidence, kGuessNotNumber, ora_valid_number(b, length) != 0);
    if ((*evidence & kGuessNotDate) == 0)
        collectEvidence(evidence, kGuessNotDate, isDateBytes(b, length));
    if ((*evidence & kGuessNotClob) == 0)
        collectEvidence(evidence, kGuessNotClob, isLocatorBytes(b, length, kLocatorKindClob));
    if ((*evidence & kGuessNotBlob) == 0)
        collectEvidence(evidence, kGuessNotBlob, isLocatorBytes(b, length, kLocatorKindBlob));
    if ((*evidence & kGuessNotText) == 0)
        collectEvidence(evidence, kGuessNotText, isTextBytes(b, length));

    if (state->nonNullCount[column] == 1) {
        uint8_t guess = firstGuess(b, length);
        // A first value that is nothing else leaves the column as it was.
        if (guess != kTypeRaw)
            state->type[column] = guess;
    } else {
        state->type[column] = revisedGuess(state->type[column], *evidence, b, length);
    }
}

const char *getGuessedTypeWord(const ColumnGuessState *state, uint32_t column)
{
    switch (state->type[column]) {
    case 1: return " VARCHAR2";
    case kTypeNumber: return " NUMBER";
    case kTypeVarchar: return " VARCHAR";
    case kTypeDate: return " DATE";
    case kTypeBinaryFloat: return " BINARY_FLOAT";
    case kTypeBinaryDouble: return " BINARY_DOUBLE";
    case kTypeClob: return " CLOB";
    case kTypeBlob: return " BLOB";
    case kTypeTimestamp: return " TIMESTAMP";
    case kTypeTimestampTz: return " TIMESTAMPTZ";
    default: return state->nonNullCount[column] != 0 ? " RAW" : " UNKNOWN";
    }
}

void printGuessedColumns(FILE *stream, const ColumnGuessState *state)
{
    uint32_t count = state->columnCount < kMaxColumns ? state->columnCount : kMaxColumns;
    for (uint32_t k = 0; k < count; k++) {
        if (k % 10 == 0)
            fputs(" \n      ", stream);
        fputs(getGuessedTypeWord(state, k), stream);
    }
    uint32_t rest = count % 10;
    if (rest == 0 || rest >= 5)
        fputs(" \n      ", stream);
}
