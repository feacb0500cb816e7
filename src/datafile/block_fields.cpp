// The few cache-header fields the datafile layer itself needs (CHECK, the
// tail check), read with bounds from a block image.  The full accessor family
// for decoders lives in the block subsystem.
//
// Cache header, at the start of every block:
//   0   u8   block type
//   1   u8   block format (0x02, 0xA2, 0xC2)
//   4   u32  RDBA of the block
//   16  u16  stored checksum
#include "datafile/datafile.h"

namespace {

constexpr uint32_t kTypeOffset = 0;
constexpr uint32_t kFormatOffset = 1;
constexpr uint32_t kRdbaOffset = 4;

uint32_t loadLittle32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

uint8_t peekBlockType(const uint8_t *block, uint32_t size)
{
    return size > kTypeOffset ? block[kTypeOffset] : 0;
}

uint8_t peekBlockFormat(const uint8_t *block, uint32_t size)
{
    return size > kFormatOffset ? block[kFormatOffset] : 0;
}

uint32_t peekBlockU32(const uint8_t *block, uint32_t size, uint32_t offset, uint8_t byteOrder)
{
    if (size < 4 || offset > size - 4)
        return 0;
    const uint8_t *p = block + offset;
    if (byteOrder == 0)
        return loadLittle32(p);
    if (byteOrder == 1)
        return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
    return 0;
}

uint32_t peekBlockRDBA(const uint8_t *block, uint32_t size, uint8_t byteOrder)
{
    return peekBlockU32(block, size, kRdbaOffset, byteOrder);
}

bool isKnownBlockFormat(uint8_t format)
{
    return format == 0x02 || format == 0xA2 || format == 0xC2;
}

