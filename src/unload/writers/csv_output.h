// Quoted CSV records and the value forms of a PostgreSQL load.
//
// With OUTPUT_STYLE CSV the row writer hands every value here instead of
// writing it as it stands: a value that holds the field separator, a
// quote, CR, LF, the record separator, or a leading or trailing blank is
// enclosed in double quotes with its quotes doubled (RFC 4180).  A NULL is
// an empty unquoted field; a character value whose text is empty (a CHAR of
// blanks) is "".  Records are padded with empty fields up to the table's
// column count, so that the trailing NULLs Oracle does not store still have
// their fields.
//
// With TARGET POSTGRESQL the text is also what PostgreSQL reads back as the
// stored value: character values in UTF-8 (converted from the column's
// character set), dates with " BC" and no year 0, timestamps with time
// zone as UTC with +00:00, Infinity/-Infinity/NaN, RAW as bytea "\x...".
// A value PostgreSQL cannot hold is reported on standard error with its
// row's address and written as NULL.
#pragma once

#include <cstdint>

#include "core/unload_context.h"
#include "unload/values/text_sink.h"

// OUTPUT_STYLE values beside 0 TXT and 1 DMP.
constexpr uint8_t kOutputStyleCsv = 2;
// TARGET values.
constexpr uint8_t kTargetOracle = 0;
constexpr uint8_t kTargetPostgres = 1;

// How a value sits against the row pieces: a column cut at the end of one
// piece continues at the start of the next.
constexpr unsigned kCsvContinues = 1;   // the value goes on in the next piece
constexpr unsigned kCsvContinued = 2;   // the value began in the previous piece

// Starts CSV records for one unload.  fieldCount is the number of fields a
// record should have (0: unknown, records are not padded); charset and
// nlsCharset are the CHARSET and NLSCHARSET settings, the character sets of
// columns the dictionary gives none for.  False when the state cannot be
// allocated (the unload then writes plain text).
bool beginCsvOutput(UnloadContext *ctx, uint32_t fieldCount, uint16_t charset, uint16_t nlsCharset);
// Ends them; reports on standard error how many values were written as NULL.
void endCsvOutput(UnloadContext *ctx);

// The row writer's hooks, called only while ctx->csv is set.
// One stored value of column `position` (0-based) of row piece table.slot.
void appendCsvField(TextSink *sink, UnloadContext *ctx, uint32_t offset, uint32_t length, uint8_t type,
                    uint32_t position, uint32_t table, uint32_t slot, unsigned split);
// Before each field separator.
void noteCsvFieldTag(TextSink *sink, const UnloadContext *ctx);
// Before each record separator: the fields of trailing NULLs.
void finishCsvRecord(TextSink *sink, const UnloadContext *ctx);

// Text of a DATE (7 bytes) or TIMESTAMP (7, 11 or 13 bytes; with time zone
// when withZone) that PostgreSQL reads as the stored value, at out (at least
// 64 bytes).  Returns the length, or 0 with *reason set when PostgreSQL has
// no such value (year 0, before 4713 BC, fields out of range).
uint32_t formatPostgresDateTime(const uint8_t *value, uint32_t length, bool withZone, char *out,
                                const char **reason);
// The iconv name of an Oracle character set id, or nullptr when its text is
// already UTF-8 (US7ASCII, UTF8, AL32UTF8) or the set is not known.
const char *iconvNameOfCharset(uint16_t id);
