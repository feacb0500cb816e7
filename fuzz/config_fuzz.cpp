// The configuration-file loader on arbitrary files, then the file index built
// from what it registered.  No datafile is opened: a path from the input
// could name a device or a pipe.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "fuzz_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static DatafileSet *set = (DatafileSet *)calloc(1, sizeof(DatafileSet));
    if (size == 0)
        return 0;
    FILE *config = fmemopen((void *)data, size, "r");
    if (config == nullptr)
        return 0;
    uint32_t count = loadConfig(set, config);
    fclose(config);
    fuzzCheck(count == set->count && count < (uint32_t)kMaxDatafiles);
    for (uint32_t pos = 0; pos < count; pos++) {
        fuzzCheck(strnlen(set->path[pos], sizeof set->path[pos]) <= (size_t)kDatafilePathMax);
        DatafileEntry entry;
        fuzzCheck(getDatafileEntry(set, pos, &entry));
    }
    buildFileIndex(set);
    for (uint32_t rfn = 0; rfn < 8; rfn++)
        getFileIndex(set, rfn);
    getFileIndex(set, data[0] * 5u);
    freeFileIndex(set);
    return 0;
}
