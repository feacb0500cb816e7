// ROWID parsing of arbitrary text, and ROWIDs built from arbitrary parts
// parsed back to the same parts.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_context.h"
#include "unload/rows/rowid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char *text = (char *)malloc(size + 1);
    memcpy(text, data, size);
    text[size] = '\0';
    RowidParse(fuzzSink(), text);
    free(text);

    if (size >= 10) {
        uint32_t objd, rdba;
        uint16_t slot;
        memcpy(&objd, data, 4);
        memcpy(&rdba, data + 4, 4);
        memcpy(&slot, data + 8, 2);
        char rowid[kRowidLength + 1];
        encodeRowid(objd, rdba, slot, rowid);
        rowid[kRowidLength] = '\0';
        RowidParse(fuzzSink(), rowid);
        RowidCreate(fuzzSink(), objd, rdba, slot);
        // Every character of a built ROWID is in the alphabet and reads back.
        for (int i = 0; i < kRowidLength; i++)
            fuzzCheck(INDEX2CHAR(CHAR2INDEX(rowid[i])) == rowid[i]);
    }
    for (size_t i = 0; i < size; i++) {
        fuzzCheck(CHAR2INDEX((char)data[i]) < 64);
        INDEX2CHAR(data[i]);
    }
    return 0;
}
