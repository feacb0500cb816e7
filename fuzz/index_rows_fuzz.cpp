// Index leaf entries through both writers on arbitrary blocks: text records
// (printIndexRow2) and export dump rows (dumpIndexRow2), in either byte
// order, with and without deleted entries, committed-only and row
// addresses.  Every dump row must hold exactly the table's column count of
// elements: the rows written parse to their end.
//
// Input: byte 0 bit 0 the byte order, bit 1 DELETED_ROW, bit 2
// COMMITED_ONLY, bit 3 ROW_ADDRESS; byte 1 the table's column count (0 to
// 15); the rest is the block.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_context.h"
#include "index/index.h"
#include "unload/writers/writers.h"

namespace {

constexpr size_t kPrefix = 2;
constexpr uint32_t kMaxTableColumns = 15;

// A spread of types, LONG and LOB columns among them (chains, stand-ins).
const uint8_t kTypes[] = {2, 1, 8, 12, 23, 96, 112, 24, 180, 113, 1, 2, 181, 100, 101};

uint32_t readU16LE(const uint8_t *p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }

// Walks the dump rows: per row `columns` elements (a value, FE FF, or FD FF
// and chunks up to 00 00), then 00 00.
bool rowsParse(const uint8_t *p, size_t size, uint32_t columns)
{
    size_t at = 0;
    while (at < size) {
        for (uint32_t c = 0; c < columns; c++) {
            if (at + 2 > size)
                return false;
            uint32_t length = readU16LE(p + at);
            at += 2;
            if (length == 0xFFFE)
                continue;
            if (length == 0xFFFD) {
                for (;;) {
                    if (at + 2 > size)
                        return false;
                    uint32_t chunk = readU16LE(p + at);
                    at += 2;
                    if (chunk == 0)
                        break;
                    if (chunk >= 0xFFFD || at + chunk > size)
                        return false;
                    at += chunk;
                }
                continue;
            }
            if (length == 0 || length >= 0xFFFD || at + length > size)
                return false;
            at += length;
        }
        if (at + 2 > size || readU16LE(p + at) != 0)
            return false;
        at += 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    uint8_t order = data[0] & 1;
    uint8_t deleted = (data[0] >> 1) & 1;
    uint8_t committed = (data[0] >> 2) & 1;
    uint32_t columns = data[1] % (kMaxTableColumns + 1);
    FuzzBlock fb = makeFuzzBlock(data + kPrefix, size - kPrefix, order);
    UnloadContext *ctx = fb.ctx;
    ctx->rowAddress = (data[0] >> 3) & 1;
    ctx->fieldTag[0] = '|';
    ctx->fieldTagLength = 1;
    ctx->recordTag[0] = '\n';
    ctx->recordTagLength = 1;
    ctx->columnCount = (uint16_t)columns;
    for (uint32_t i = 0; i < kMaxTableColumns; i++)
        ctx->columnTypes[i] = kTypes[i];

    printIndexRow2(fuzzSink(), ctx, deleted, committed);

    ctx->rowsUnloaded = 0;
    char *dump = nullptr;
    size_t dumpSize = 0;
    FILE *stream = open_memstream(&dump, &dumpSize);
    if (stream != nullptr) {
        dumpIndexRow2(stream, ctx, deleted, committed);
        fclose(stream);
        // A table of unknown width (0 columns) writes every column it finds.
        if (columns != 0)
            fuzzCheck(rowsParse((const uint8_t *)dump, dumpSize, columns));
        free(dump);
    }
    endDmpRows(ctx);
    freeFuzzBlock(&fb);
    return 0;
}
