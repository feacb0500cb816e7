// PROBE's reading of a file's first bytes: any image either yields no file
// header or one whose block size, leading header and sampled counts fit the
// image; one inferred from the blocks alone names at least the few blocks
// that agreed, none of them a header block.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "fuzz_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A heap copy of exactly the input, so that a read past it is caught.
    uint8_t *image = (uint8_t *)malloc(size == 0 ? 1 : size);
    if (size > 0)
        memcpy(image, data, size);
    ProbeResult r;
    int found = probeDatafileImage(image, size, &r);
    if (found) {
        fuzzCheck(r.blockSize >= 2048 && r.blockSize <= 32768 && (r.blockSize & (r.blockSize - 1)) == 0);
        fuzzCheck((uint64_t)r.headerSize + 2ull * r.blockSize <= size);
        fuzzCheck(r.ownAddress <= r.sampled && r.checksummed <= r.sampled);
        fuzzCheck(r.databaseName[8] == '\0');
        fuzzCheck(r.bigfile == (r.rfn == 0));
        fuzzCheck(r.headerSize % 512 == 0 && r.headerSize <= kProbeMaxHeader);
        if (r.headerless)
            fuzzCheck(r.votes >= 3 && r.firstSampled >= 2 &&
                      (uint64_t)r.headerSize + (uint64_t)(r.firstSampled + 1) * r.blockSize <= size);
    }
    free(image);
    return 0;
}
