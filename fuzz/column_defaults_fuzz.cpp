// The defaults of added columns on arbitrary dictionary files and text:
// the ECOL$ and DEFAULT$ line readers, and the literal encoder for every
// column type it takes.
//
// Input: ZORECOL.TXT, 0x01, ZORDEF.TXT, 0x01, a DEFAULT$ text.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dictionary/dictionary.h"
#include "fuzz_context.h"

namespace {

constexpr char kSeparator = 0x01;
constexpr uint32_t kCapacity = 4000;

std::string g_base;

void removeScratch()
{
    unlink((g_base + "/" + kEcolFile).c_str());
    unlink((g_base + "/" + kColumnDefaultFile).c_str());
    rmdir((g_base + "/ZORDICT").c_str());
    rmdir(g_base.c_str());
}

// The next part of the input, up to the separator.
size_t part(const uint8_t *data, size_t size, size_t start, size_t *end)
{
    *end = start;
    while (*end < size && data[*end] != kSeparator)
        (*end)++;
    return *end - start;
}

void writeFile(const char *name, const uint8_t *data, size_t length)
{
    FILE *f = fopen(name, "wb");
    if (f == nullptr)
        return;
    if (length > 0)
        fwrite(data, 1, length, f);
    fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    char base[] = "/tmp/zor-defaults-fuzz-XXXXXX";
    if (mkdtemp(base) == nullptr || chdir(base) != 0)
        abort();
    g_base = base;
    atexit(removeScratch);
    mkdir("ZORDICT", 0755);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static uint8_t *bytes = (uint8_t *)malloc(kCapacity);
    static char *text = (char *)malloc(kCapacity);
    size_t end = 0;
    size_t length = part(data, size, 0, &end);
    writeFile(kEcolFile, data, length);
    size_t start = end < size ? end + 1 : size;
    length = part(data, size, start, &end);
    writeFile(kColumnDefaultFile, data + start, length);
    start = end < size ? end + 1 : size;

    uint32_t got = 0;
    for (uint32_t column = 0; column < 4; column++) {
        if (getORASYSECOL(5020, column, bytes, kCapacity, &got))
            fuzzCheck(got <= kCapacity);
        if (getORASYSDEFAULT(5020, column, text, kCapacity, &got))
            fuzzCheck(got <= kCapacity);
    }
    const uint16_t types[] = {1, 2, 9, 12, 96, 180, 23};
    for (uint16_t type : types) {
        ColumnEntry column;
        memset(&column, 0, sizeof column);
        column.type = type;
        column.length = (uint16_t)(size % 64);
        column.charsetForm = 1;
        uint8_t out[64];
        if (encodeDefaultLiteral((const char *)data + start, (uint32_t)(size - start), &column, out,
                                 sizeof out, &got))
            fuzzCheck(got <= sizeof out);
    }
    return 0;
}
