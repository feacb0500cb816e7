// The escape conversion of SET values on arbitrary text and limits: into a
// buffer of exactly the room it may use, and in place.
//
// Input: byte 0 the limit; the rest the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_context.h"
#include "shell/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int limit = (int)data[0] - 8;
    size_t length = size - 1;
    char *source = (char *)malloc(length + 1);
    memcpy(source, data + 1, length);
    source[length] = '\0';
    size_t textLength = strlen(source);
    size_t room = limit < 0 ? 0 : ((size_t)limit < textLength ? (size_t)limit : textLength);

    char *dest = (char *)malloc(room + 1);
    int n = convertOption(source, dest, limit);
    fuzzCheck(n >= 0 && (size_t)n <= room);
    free(dest);

    n = convertOption(source, source, limit);
    fuzzCheck(n >= 0 && (size_t)n <= room);
    free(source);
    return 0;
}
