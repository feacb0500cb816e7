// Stand-in for the index-row writer: segment traversals already hand index
// blocks here, and they produce nothing until index rows are decoded.
// Replace this file with the real writer.
#include "index/index.h"

void printIndexRow2(FILE *stream, UnloadContext *ctx, uint8_t deleted, uint8_t committed)
{
    (void)stream;
    (void)ctx;
    (void)deleted;
    (void)committed;
}
