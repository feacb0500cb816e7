// The export dump writer: an Oracle export file of the classic layout for
// one table.  Inside the data section every two-byte length is
// little-endian:
//   value        length (1..65535), then the stored bytes unchanged
//   NULL         FE FF (a value of length 0 too)
//   LONG chain   FD FF, then one or more value elements (chunks), then 00 00
//   row end      00 00
#pragma once

#include <cstdint>
#include <cstdio>

// One value element: the length, then the bytes as stored.  A length of 0
// is written as a NULL, since the format has no empty value.
void printDmpValue(FILE *stream, const uint8_t *bytes, uint32_t length);
void printDmpNull(FILE *stream);
// Opens a LONG (or LOB) value's chunk chain.
void printDmpChain(FILE *stream);
// Ends a row, or a LONG chunk chain.
void printDmpRecord(FILE *stream);
