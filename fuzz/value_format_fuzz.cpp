// Every value formatter on arbitrary values: printField over the type code
// taken from the input (national character values through a converter or
// none), each formatter called directly with the value flush against the
// block end, and the NUMBER converters with an output buffer of any size.
//
// Input: byte 0 the type code; byte 1 the charset form (low 2 bits) and the
// national converter (bits 2-3); byte 2 bytes of slack after the value (low 3
// bits) and the byte order (bit 3); byte 3 the NUMBER output size; the rest
// is the value.
#include <iconv.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_context.h"
#include "unload/writers/csv_output.h"
#include "unload/values/value_format.h"

namespace {

constexpr size_t kPrefix = 4;
constexpr uint32_t kValueOffset = 2;

// Converters a national column may use: none, the national character set
// to UTF-8, and a multi-byte Chinese one.
iconv_t converterFor(uint8_t choice)
{
    static iconv_t utf16 = iconv_open("UTF-8", "UTF-16BE");
    static iconv_t gbk = iconv_open("UTF-8", "GBK");
    switch (choice) {
    case 1:
        return utf16;
    case 2:
        return gbk;
    default:
        return kNoConverter;
    }
}

typedef void (*Formatter)(FILE *, UnloadContext *, uint32_t, uint32_t);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    uint8_t type = data[0];
    uint16_t charsetForm = data[1] & 3;
    iconv_t nchar = converterFor((data[1] >> 2) & 3);
    uint32_t slack = data[2] & 7;
    uint8_t order = (data[2] >> 3) & 1;
    size_t outSize = data[3];
    const uint8_t *value = data + kPrefix;
    size_t length = size - kPrefix;
    if (length + kValueOffset + slack > kFuzzMaxBlock)
        return 0;

    // printField on a value inside a block, the way the row writers call it.
    size_t blockSize = kValueOffset + length + slack;
    uint8_t *bytes = (uint8_t *)calloc(1, blockSize == 0 ? 1 : blockSize);
    memcpy(bytes + kValueOffset, value, length);
    FuzzBlock fb = makeFuzzBlock(bytes, blockSize, order);
    fb.ctx->nchar = nchar;
    FILE *out = fuzzSink();
    printField(out, fb.ctx, kValueOffset, (uint32_t)length, type, 0, 0, charsetForm);
    // The CSV writer, quoting for SQL*Loader and converting for PostgreSQL
    // (from GBK or from the national character set).
    fb.ctx->columnCharsetId[0] = (data[3] & 1) ? 852 : 2000;
    fb.ctx->columnCharsetForm[0] = charsetForm;
    for (int t = 0; t < 2; t++) {
        uint8_t target = t == 0 ? kTargetOracle : kTargetPostgres;
        fb.ctx->target = target;
        TextSink *sink = (TextSink *)malloc(sizeof(TextSink));
        if (sink != nullptr && beginCsvOutput(fb.ctx, 2, 1, 2000)) {
            initTextSink(sink, out);
            appendCsvField(sink, fb.ctx, kValueOffset, (uint32_t)length, type, 0, 0, 0, data[3] & 3);
            finishCsvRecord(sink, fb.ctx);
            flushTextSink(sink);
            endCsvOutput(fb.ctx);
        }
        free(sink);
    }
    freeFuzzBlock(&fb);

    // Each formatter alone, the value ending exactly at the block end.
    static const Formatter kFormatters[] = {printNUMBER, printDATE,     printTIMESTAMP, printBINARYFLOAT,
                                            printCHAR,   printVARCHAR,  printNVARCHAR,  printVARRAW,
                                            printRAW,    printVARRAY,   printNARRAY,    printTIMESTAMPTZ};
    fb = makeFuzzBlock(value, length, order);
    fb.ctx->nchar = nchar;
    for (Formatter f : kFormatters)
        f(out, fb.ctx, 0, (uint32_t)length);
    // And a slice that pokes one byte past the end: it must write nothing.
    for (Formatter f : kFormatters)
        f(out, fb.ctx, 1, (uint32_t)length);
    freeFuzzBlock(&fb);
    free(bytes);

    // The NUMBER converters on an output buffer of exactly outSize bytes.
    char *text = (char *)malloc(outSize == 0 ? 1 : outSize);
    int n = ora_number_to_string(value, length, text, outSize);
    fuzzCheck(n >= 0 && (size_t)n < (outSize == 0 ? 1 : outSize));
    if (n > 0)
        fuzzCheck(strlen(text) == (size_t)n);
    char full[kNumberTextSize];
    int m = ora_number_to_string(value, length, full, sizeof full);
    fuzzCheck(m >= 0 && (size_t)m < sizeof full);
    free(text);
    ora_valid_number(value, length);
    return 0;
}
