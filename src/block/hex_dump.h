// The hexadecimal block dump written by OSDUMP.
#pragma once

#include <cstdint>
#include <cstdio>

// Writes length bytes as lines of 16: decimal and hex offset, eight groups of
// four hex digits, and the printable characters; the two heading lines open
// the dump and are repeated, after an empty line, every 256 bytes.
void printBlock(FILE *out, const uint8_t *bytes, uint32_t length);
