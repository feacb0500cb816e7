// Column value formatting: one stored column value, a slice of the context's
// block buffer, written as text to an unload stream.
//
// Every formatter takes (stream, context, offset of the value in the block
// buffer, value length), writes to the stream and returns nothing.  A value
// whose slice does not lie wholly inside the block buffer writes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/unload_context.h"
#include "unload/values/text_sink.h"
#include "unload/values/value_text.h"

// Dispatches on the column's type code (COL$ TYPE# plus ZOR's own codes).
// Writes nothing for a zero length, or when the value reaches within 3 bytes
// of the block end.
void printField(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                uint16_t lobIndexFile, uint32_t lobIndexBlock, uint16_t charsetForm);

// printField for the row writer: the same text, gathered in the sink.
// Kinds that convert or read other blocks (national text, collections,
// LOBs) flush the sink and go through printField on the sink's stream.
void appendField(TextSink *sink, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                 uint16_t lobIndexFile, uint32_t lobIndexBlock, uint16_t charsetForm);

// A VARCHAR2 value of a dictionary file: as it stands, or in double quotes
// with its quotes doubled when it holds a comma, a quote, CR or LF.  A value
// cut between row pieces is always quoted: the first part (continues) opens
// the quote, the last (continued) closes it.
void appendQuotedText(TextSink *sink, const UnloadContext *ctx, uint32_t offset, uint32_t length,
                      bool continues, bool continued);

void printNUMBER(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printDATE(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printTIMESTAMP(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
// TIMESTAMP WITH TIME ZONE: the local time and its offset ("+02:00"); UTC
// and "+00:00" for a value stored with a time-zone region.
void printTIMESTAMPTZ(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printBINARYFLOAT(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printCHAR(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printVARCHAR(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printNVARCHAR(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printVARRAW(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printRAW(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printVARRAY(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);
void printNARRAY(FILE *stream, UnloadContext *ctx, uint32_t offset, uint32_t length);

// Oracle NUMBER bytes as decimal text (no exponent, no rounding), NUL
// terminated in out.  Returns the number of characters produced; 0 means
// nothing is to be written (a malformed value, or text that would not fit).
int ora_number_to_string(const uint8_t *bytes, size_t length, char *out, size_t outSize);
// 1 when the bytes form a well-formed NUMBER, else 0.
int ora_valid_number(const uint8_t *bytes, size_t length);

// BINARY_FLOAT (4 bytes) and BINARY_DOUBLE (8 bytes) as stored, written
// into text (at least kFloatTextSize bytes) as the shortest decimal text
// that reads back to the same bits; infinities and NaN in the spelling of
// the loader the text is for.  Returns the length, 0 for another length.
constexpr size_t kFloatTextSize = 64;
enum FloatSpelling { kFloatSpellingOracle, kFloatSpellingPostgres };
size_t formatBinaryFloatText(const uint8_t *value, uint32_t length, char *text, size_t size,
                             FloatSpelling spelling);

// The current local time as "YYYY-MM-DD HH:MI:SS\n".
void printDate(FILE *stream);
