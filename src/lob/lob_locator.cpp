// LOB locators: the column value of a CLOB, NCLOB or BLOB column.  Every
// field is read big-endian, whatever BYTE_ORDER says, and only when the
// locator holds it.
#include <cstdio>
#include <cstring>

#include "lob/lob.h"

namespace {

constexpr uint32_t kFlagsOffset = 5;
constexpr uint32_t kLobIdOffset = 10;
constexpr uint32_t kHeaderFlagsOffset = 22;
constexpr uint32_t kLongPageCountOffset = 24;
constexpr uint32_t kLongLastLengthOffset = 28;
constexpr uint32_t kLongFormWidth = 6;
constexpr uint32_t kShortWidthOffset = 26;
constexpr uint32_t kShortPageCountOffset = 27;
constexpr uint32_t kInRowBase = 30;
constexpr uint32_t kUnknownPageCount = 0xFFFFFFFF;

uint32_t bigEndian(const uint8_t *p, uint32_t width)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; i++)
        v = (v << 8) | p[i];
    return v;
}

bool has(uint32_t length, uint32_t offset, uint32_t width) { return (uint64_t)offset + width <= length; }

// The size header; false when the locator is too short to hold it.
bool decodeSizeHeader(const uint8_t *loc, uint32_t length, LobLocator *out)
{
    if (!has(length, kHeaderFlagsOffset, 1))
        return false;
    uint8_t header = loc[kHeaderFlagsOffset];
    out->inRow = (header & kLocatorInRow) != 0;
    uint32_t width;
    if (header & kLocatorLongForm) {
        if (!has(length, kLongLastLengthOffset, 2))
            return false;
        out->pageCount = bigEndian(loc + kLongPageCountOffset, 4);
        out->lastLength = (uint16_t)bigEndian(loc + kLongLastLengthOffset, 2);
        width = kLongFormWidth;
    } else {
        if (!has(length, kShortWidthOffset, 1))
            return false;
        width = loc[kShortWidthOffset];
        if (!has(length, kShortPageCountOffset + width, 2))
            return false;
        bool usual = width == 1 || width == 2 || width == 4;
        out->pageCount = usual ? bigEndian(loc + kShortPageCountOffset, width) : kUnknownPageCount;
        out->lastLength = (uint16_t)bigEndian(loc + kShortPageCountOffset + width, 2);
    }
    if (out->inRow) {
        // Data that would start past the locator's end is empty, not elsewhere.
        out->inRowOffset = kInRowBase + width < length ? kInRowBase + width : length;
        uint32_t held = length - out->inRowOffset;
        out->inRowLength = out->lastLength < held ? out->lastLength : held;
    }
    return true;
}

}  // namespace

void decodeLobLocator(const uint8_t *locator, uint32_t length, LobLocator *out)
{
    memset(out, 0, sizeof *out);
    if (locator == nullptr || !has(length, kLobIdOffset, kLobIdSize))
        return;
    uint8_t flags = locator[kFlagsOffset];
    out->hasValue = (flags & kLocatorHasValue) != 0;
    out->hasSize = (flags & kLocatorHasSize) != 0;
    memcpy(out->lobId, locator + kLobIdOffset, kLobIdSize);
    for (uint32_t i = 0; i < kLobIdSize; i++)
        snprintf(out->lobIdText + 2 * i, 3, "%02x", out->lobId[i]);
    out->valid = true;
    out->secureFile = isSecureFileLocator(locator, length);
    if (out->hasSize && !decodeSizeHeader(locator, length, out)) {
        // A size header promised but cut off: nothing trustworthy is left.
        out->valid = false;
        return;
    }
    if (out->hasSize && !out->inRow) {
        // At most page count + 1 addresses, each wholly inside the locator.
        uint64_t room = length > kLocatorChunkOffset ? (length - kLocatorChunkOffset) / 4 : 0;
        uint64_t wanted = (uint64_t)out->pageCount + 1;
        out->chunkCount = (uint32_t)(room < wanted ? room : wanted);
    }
}

bool isSecureFileLocator(const uint8_t *locator, uint32_t length)
{
    if (locator == nullptr || !has(length, kLobIdOffset, kLobIdSize))
        return false;
    return (locator[kLocatorStorageFlagsOffset] & kLocatorSecureFile) != 0;
}

uint32_t getLocatorChunk(const uint8_t *locator, uint32_t j)
{
    return bigEndian(locator + kLocatorChunkOffset + 4 * j, 4);
}
