// Extended ROWIDs: 18 characters of 6 bits each, most significant first:
// data object id (6 characters), relative file number (3), block number (6),
// slot (3).
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kRowidLength = 18;

// Character of a 6-bit value: A-Z, a-z, 0-9, "+", "/"; above 63 gives "A".
char INDEX2CHAR(uint32_t value);
// Value of a ROWID character; a character outside the alphabet gives 0.
uint32_t CHAR2INDEX(char c);

// Fills out[0..17] with the ROWID of the given parts (no terminator).
void encodeRowid(uint32_t objd, uint32_t rdba, uint16_t slot, char out[kRowidLength]);

// Prints the report: OBJD, RDBA, its file and block, the slot and the ROWID.
void RowidCreate(FILE *out, uint32_t objd, uint32_t rdba, uint16_t slot);
// Checks and decodes an 18-character ROWID, then prints the same report;
// "Invalid rowid length!" or "Invalid rowid value : %c !" otherwise.
void RowidParse(FILE *out, const char *text);
