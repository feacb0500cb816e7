// printBlock: the raw bytes of a block as a hex table.
//
//      /0x  : -0-1 -2-3 -4-5 -6-7 -8-9 -a-b -c-d -e-f  0123456789abcdef
// -----/----: ---------------------------------------  ----------------
// 00000/0000: 0602 0000 0100 4000 ...                  ......@.........
#include "block/hex_dump.h"

namespace {

constexpr uint32_t kBytesPerLine = 16;
constexpr uint32_t kBytesPerPage = 256;

void printHeading(FILE *out)
{
    fputs("     /0x  : -0-1 -2-3 -4-5 -6-7 -8-9 -a-b -c-d -e-f  0123456789abcdef\n", out);
    fputs("-----/----: ---------------------------------------  ----------------\n", out);
}

// Printable in the C locale, whatever locale the process runs in.
char shownCharacter(uint8_t byte)
{
    return byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
}

}  // namespace

void printBlock(FILE *out, const uint8_t *bytes, uint32_t length)
{
    char characters[kBytesPerLine + 1];
    uint32_t shown = 0;
    printHeading(out);
    for (uint32_t i = 0; i < length; i++) {
        if (i % kBytesPerLine == 0) {
            if (i != 0) {
                characters[shown] = '\0';
                fprintf(out, "  %s\n", characters);
                if (i % kBytesPerPage == 0) {
                    fputc('\n', out);
                    printHeading(out);
                }
            }
            shown = 0;
            fprintf(out, "%05u/%04x:", i, i);
        }
        if (i % 2 == 0)
            fputc(' ', out);
        fprintf(out, "%02x", bytes[i]);
        characters[shown++] = shownCharacter(bytes[i]);
    }
    if (length != 0) {
        characters[shown] = '\0';
        fprintf(out, "  %s\n", characters);
    }
}
