// Block images: the cache header, bounded field writers and the checksum.
#include "forge/forge.h"

#include <cstring>

namespace forge {

bool isValidBlockSize(uint32_t size) {
    return size == 2048 || size == 4096 || size == 8192 || size == 16384 || size == 32768;
}

bool initBlock(Block *block, uint32_t size, ByteOrder order) {
    block->bytes.clear();
    block->size = 0;
    block->order = order;
    if (!isValidBlockSize(size)) return false;
    block->bytes.assign(size, 0);
    block->size = size;
    return true;
}

void storeU16(uint8_t *at, uint16_t value, ByteOrder order) {
    if (order == kBigEndian) {
        at[0] = (uint8_t)(value >> 8);
        at[1] = (uint8_t)value;
    } else {
        at[0] = (uint8_t)value;
        at[1] = (uint8_t)(value >> 8);
    }
}

void storeU32(uint8_t *at, uint32_t value, ByteOrder order) {
    if (order == kBigEndian) {
        at[0] = (uint8_t)(value >> 24);
        at[1] = (uint8_t)(value >> 16);
        at[2] = (uint8_t)(value >> 8);
        at[3] = (uint8_t)value;
    } else {
        at[0] = (uint8_t)value;
        at[1] = (uint8_t)(value >> 8);
        at[2] = (uint8_t)(value >> 16);
        at[3] = (uint8_t)(value >> 24);
    }
}

uint16_t loadU16(const uint8_t *at, ByteOrder order) {
    if (order == kBigEndian) return (uint16_t)((at[0] << 8) | at[1]);
    return (uint16_t)(at[0] | (at[1] << 8));
}

uint32_t loadU32(const uint8_t *at, ByteOrder order) {
    if (order == kBigEndian) {
        return ((uint32_t)at[0] << 24) | ((uint32_t)at[1] << 16) | ((uint32_t)at[2] << 8) | at[3];
    }
    return at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) | ((uint32_t)at[3] << 24);
}

// True when [offset, offset + width) lies inside the block; written so that
// a huge offset cannot wrap around.
static bool fits(const Block *block, uint32_t offset, uint32_t width) {
    return block->bytes.size() == block->size && offset <= block->size &&
           width <= block->size - offset;
}

bool putU8(Block *block, uint32_t offset, uint8_t value) {
    if (!fits(block, offset, 1)) return false;
    block->bytes[offset] = value;
    return true;
}

bool putU16In(Block *block, uint32_t offset, uint16_t value, ByteOrder order) {
    if (!fits(block, offset, 2)) return false;
    storeU16(&block->bytes[offset], value, order);
    return true;
}

bool putU32In(Block *block, uint32_t offset, uint32_t value, ByteOrder order) {
    if (!fits(block, offset, 4)) return false;
    storeU32(&block->bytes[offset], value, order);
    return true;
}

bool putU16(Block *block, uint32_t offset, uint16_t value) {
    return putU16In(block, offset, value, block->order);
}

bool putU32(Block *block, uint32_t offset, uint32_t value) {
    return putU32In(block, offset, value, block->order);
}

bool putBytes(Block *block, uint32_t offset, const void *data, uint32_t length) {
    if (!fits(block, offset, length)) return false;
    if (length > 0) memcpy(&block->bytes[offset], data, length);
    return true;
}

bool putFill(Block *block, uint32_t offset, uint32_t length, uint8_t value) {
    if (!fits(block, offset, length)) return false;
    if (length > 0) memset(&block->bytes[offset], value, length);
    return true;
}

uint8_t peekU8(const Block *block, uint32_t offset) {
    return fits(block, offset, 1) ? block->bytes[offset] : 0;
}

uint16_t peekU16In(const Block *block, uint32_t offset, ByteOrder order) {
    return fits(block, offset, 2) ? loadU16(&block->bytes[offset], order) : 0;
}

uint32_t peekU32In(const Block *block, uint32_t offset, ByteOrder order) {
    return fits(block, offset, 4) ? loadU32(&block->bytes[offset], order) : 0;
}

uint16_t peekU16(const Block *block, uint32_t offset) {
    return peekU16In(block, offset, block->order);
}

uint32_t peekU32(const Block *block, uint32_t offset) {
    return peekU32In(block, offset, block->order);
}

void initCacheHeader(CacheHeader *header, uint8_t type, uint32_t rdba) {
    memset(header, 0, sizeof *header);
    header->type = type;
    header->format = kFormatA2;
    header->rdba = rdba;
    header->sequence = 1;
    header->flag = kFlagChecksumInUse;
    header->writeTail = true;
}

void putCacheHeader(Block *block, const CacheHeader *header) {
    putU8(block, kTypeOffset, header->type);
    putU8(block, kFormatOffset, header->format);
    putU32(block, kRdbaOffset, header->rdba);
    putU32(block, kScnBaseOffset, header->scnBase);
    putU16(block, kScnWrapOffset, header->scnWrap);
    putU8(block, kSequenceOffset, header->sequence);
    putU8(block, kFlagOffset, header->flag);
    if (header->writeTail && block->size >= 4) {
        // The tail repeats the low SCN bits, type and sequence so that Oracle
        // can tell a block torn between two writes.
        uint32_t tail = ((header->scnBase & 0xFFFFu) << 16) | ((uint32_t)header->type << 8) |
                        header->sequence;
        putU32(block, block->size - 4, tail);
    }
}

uint16_t foldChecksum(const uint8_t *bytes, size_t length) {
    uint32_t x = 0;
    for (size_t i = 0; i + 4 <= length; i += 4) x ^= loadU32(bytes + i, kLittleEndian);
    return (uint16_t)((x ^ (x >> 16)) & 0xFFFFu);
}

bool blockVerifies(const Block *block) {
    if (block->bytes.size() != block->size || block->size == 0) return false;
    return foldChecksum(block->bytes.data(), block->size) == 0;
}

// The checksum bytes at 16..17 are the low half of a little-endian word, so
// whatever the fold of the rest of the block is, storing those 16 bits there
// (low byte first, as raw memory) cancels it.  Oracle on a big-endian host
// folds big-endian words and stores the result big-endian, which lands the
// very same bytes in memory; read in block order the field is byte-swapped.
void sealBytes(uint8_t *bytes, size_t length) {
    if (length < kChecksumOffset + 2) return;
    bytes[kChecksumOffset] = 0;
    bytes[kChecksumOffset + 1] = 0;
    uint16_t fold = foldChecksum(bytes, length);
    storeU16(bytes + kChecksumOffset, fold, kLittleEndian);
}

void sealBlock(Block *block) {
    if (block->bytes.size() != block->size) return;
    sealBytes(block->bytes.data(), block->size);
}

void sealBlockWrong(Block *block, uint16_t error) {
    sealBlock(block);
    if (error == 0) error = 1;
    if (!fits(block, kChecksumOffset, 2)) return;
    uint16_t raw = loadU16(&block->bytes[kChecksumOffset], kLittleEndian);
    storeU16(&block->bytes[kChecksumOffset], (uint16_t)(raw ^ error), kLittleEndian);
}

bool flipBlockBit(Block *block, uint32_t offset, unsigned bit) {
    if (bit > 7 || !fits(block, offset, 1)) return false;
    block->bytes[offset] ^= (uint8_t)(1u << bit);
    return true;
}

bool flipBlockByte(Block *block, uint32_t offset) {
    if (!fits(block, offset, 1)) return false;
    block->bytes[offset] ^= 0xFF;
    return true;
}

uint32_t makeRdba(uint32_t rfn, uint32_t blockNo) {
    return ((rfn & 0x3FFu) << 22) | (blockNo & 0x3FFFFFu);
}

uint32_t makeBigfileRdba(uint32_t blockNo) { return blockNo; }

}  // namespace forge
