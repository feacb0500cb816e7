// The export dump writer: header, table definition, data section, tail.
#include "unload/export_dump.h"

namespace {

void putU16LE(FILE *stream, uint32_t value)
{
    uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
    fwrite(bytes, 1, 2, stream);
}

}  // namespace

void printDmpValue(FILE *stream, const uint8_t *bytes, uint32_t length)
{
    if (length == 0) {
        printDmpNull(stream);
        return;
    }
    putU16LE(stream, length);
    fwrite(bytes, 1, length, stream);
}

void printDmpNull(FILE *stream) { putU16LE(stream, 0xFFFE); }

void printDmpChain(FILE *stream) { putU16LE(stream, 0xFFFD); }

void printDmpRecord(FILE *stream) { putU16LE(stream, 0); }
