// The column guesser on arbitrary values: the input is a block image and a
// list of values carved out of it, each fed to guessField as a column of a
// row, then every value test on every value and the proposal's words.
//
// Input: byte 0 the number of values (low 6 bits); then per value 4 bytes:
// a 16-bit offset, an 8-bit length and an 8-bit column number; the rest is
// the block, whose size is what remains.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_context.h"
#include "scan/scan.h"

namespace {

constexpr size_t kValueEntry = 4;

bool isGuessType(uint8_t type)
{
    switch (type) {
    case 2: case 9: case 12: case 23: case 100: case 101: case 112: case 113: case 180: case 181:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t values = data[0] & 63;
    size_t prefix = 1 + values * kValueEntry;
    if (size <= prefix || size - prefix > kFuzzMaxBlock)
        return 0;
    FuzzBlock fb = makeFuzzBlock(data + prefix, size - prefix, 0);
    static ColumnGuessState state;
    resetColumnGuess(&state);
    fb.ctx->columnGuess = &state;
    for (size_t v = 0; v < values; v++) {
        const uint8_t *entry = data + 1 + v * kValueEntry;
        uint32_t offset = (uint32_t)entry[0] << 8 | entry[1];
        uint32_t length = entry[2];
        uint32_t column = entry[3];
        guessField(fb.ctx, offset, length, column);
        isGuessValidDate(fb.ctx, offset, length);
        isGuessValidNumber(fb.ctx, offset, length);
        isGuessValidCLOB(fb.ctx, offset, length);
        isGuessValidBLOB(fb.ctx, offset, length);
        isGuessValidChar(fb.ctx, offset, length);
    }
    fuzzCheck(state.columnCount <= 256);
    for (int k = 0; k < kMaxColumns; k++) {
        fuzzCheck(isGuessType(state.type[k]));
        fuzzCheck(getGuessedTypeWord(&state, (uint32_t)k)[0] == ' ');
    }
    printGuessedColumns(fuzzSink(), &state);
    freeFuzzBlock(&fb);
    return 0;
}
