// Building and taking apart extended ROWIDs.
//
//   chars  1-6   data object id   32 bits (char 1 holds only the top 2)
//   chars  7-9   relative file #  10 bits (char 7 always "A")
//   chars 10-15  block number     22 bits (chars 10, 11 always "A")
//   chars 16-18  slot             16 bits (char 16 holds the top 4)
#include <cstring>

#include "unload/rows/rowid.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool isRowidCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

char INDEX2CHAR(uint32_t value)
{
    return value > 63 ? 'A' : kAlphabet[value];
}

uint32_t CHAR2INDEX(char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<uint32_t>(c - 'A');
    if (c >= 'a' && c <= 'z')
        return static_cast<uint32_t>(c - 'a') + 26;
    if (c >= '0' && c <= '9')
        return static_cast<uint32_t>(c - '0') + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return 0;
}

void encodeRowid(uint32_t objd, uint32_t rdba, uint16_t slot, char out[kRowidLength])
{
    out[0] = INDEX2CHAR(objd >> 30);
    out[1] = INDEX2CHAR((objd >> 24) & 63);
    out[2] = INDEX2CHAR((objd >> 18) & 63);
    out[3] = INDEX2CHAR((objd >> 12) & 63);
    out[4] = INDEX2CHAR((objd >> 6) & 63);
    out[5] = INDEX2CHAR(objd & 63);
    out[6] = 'A';
    out[7] = INDEX2CHAR(rdba >> 28);
    out[8] = INDEX2CHAR((rdba >> 22) & 63);
    out[9] = 'A';
    out[10] = 'A';
    out[11] = INDEX2CHAR((rdba >> 18) & 15);
    out[12] = INDEX2CHAR((rdba >> 12) & 63);
    out[13] = INDEX2CHAR((rdba >> 6) & 63);
    out[14] = INDEX2CHAR(rdba & 63);
    out[15] = INDEX2CHAR(static_cast<uint32_t>(slot) >> 12);
    out[16] = INDEX2CHAR((slot >> 6) & 63);
    out[17] = INDEX2CHAR(slot & 63);
}

void RowidCreate(FILE *out, uint32_t objd, uint32_t rdba, uint16_t slot)
{
    char rowid[kRowidLength + 1];
    encodeRowid(objd, rdba, slot, rowid);
    rowid[kRowidLength] = '\0';
    fprintf(out, "\n");
    fprintf(out, "OBJD  = %u\n", objd);
    fprintf(out, "RDBA  = 0x%08x = %u\n", rdba, rdba);
    fprintf(out, "RFN#  = %u\n", rdba >> 22);
    fprintf(out, "BID#  = %u\n", rdba & 0x3FFFFF);
    fprintf(out, "SLOT  = %u\n", static_cast<uint32_t>(slot));
    fprintf(out, "ROWID = %s\n\n", rowid);
}

void RowidParse(FILE *out, const char *text)
{
    if (strlen(text) != static_cast<size_t>(kRowidLength)) {
        fprintf(out, "Invalid rowid length!\n");
        return;
    }
    uint32_t c[kRowidLength];
    for (int i = 0; i < kRowidLength; i++) {
        if (!isRowidCharacter(text[i])) {
            fprintf(out, "Invalid rowid value : %c !\n", text[i]);
            return;
        }
        c[i] = CHAR2INDEX(text[i]);
    }
    // Unsigned arithmetic: a first character above "D" simply wraps, as the
    // 32-bit object id it encodes cannot hold more.
    uint32_t objd = (c[0] << 30) + (c[1] << 24) + (c[2] << 18) + (c[3] << 12) + (c[4] << 6) + c[5];
    // Characters 7, 10 and 11 carry no bits of a 32-bit RDBA.
    uint32_t block = ((c[11] << 18) + (c[12] << 12) + (c[13] << 6) + c[14]) & 0x3FFFFF;
    uint32_t rdba = ((c[7] & 15) << 28) + (c[8] << 22) + block;
    uint16_t slot = static_cast<uint16_t>(c[15] * 4096 + c[16] * 64 + c[17]);
    RowidCreate(out, objd, rdba, slot);
}
