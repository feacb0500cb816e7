// Columns added with ALTER TABLE ... ADD (c ... DEFAULT v): Oracle leaves
// the rows written before the ADD as they were, so they end before c, and
// gives them the default kept in the dictionary (ECOL$, else COL$.DEFAULT$
// when it is a plain literal).  A nullable added column (12c) has a hidden
// RAW guard column before it: where the guard's bit 0 is NULL or 0 a NULL
// c reads as the default, where it is 1 the stored value (NULL included)
// stands.
//
// The defaults are written once per unload into the form the output style
// writes (text, CSV, PostgreSQL CSV, dump bytes), so that rows pay nothing
// for them but a pointer test; a table without added columns leaves
// ctx->addedColumns null.
#pragma once

#include <cstdint>

#include "core/unload_context.h"
#include "unload/values/text_sink.h"

struct AddedColumns;
struct ObjectEntry;

// Looks the added columns of the table up and prepares their defaults for
// the output style in force (ctx->csv set for CSV and PostgreSQL, ctx->
// outputStyle 1 for a dump); says on standard error what cannot be had.
// Sets ctx->addedColumns (null when the table has none).
void beginAddedColumns(UnloadContext *ctx, const ObjectEntry *table, const char *owner,
                       const char *tableName);
// Reports the rows left with NULL for want of a default; clears
// ctx->addedColumns.
void endAddedColumns(UnloadContext *ctx);

// The row writers' hooks (only while ctx->addedColumns is set).
// Before the columns of a piece from `start` (mapped into the context's
// slots) are written; the piece that starts a row (firstColumn 0) starts
// the row's state.
void noteAddedColumnsPiece(UnloadContext *ctx, uint32_t start, uint32_t firstColumn);
// The default a NULL at `position` reads as, in the output's form; false
// when the NULL stays.  `stored`: the NULL is in the row, not after its
// end.  A default that is due but unknown stays NULL and, with `count`, is
// counted in ctx->defaultlessValues.
bool addedDefaultForNull(UnloadContext *ctx, uint32_t position, bool stored, bool count, const char **value,
                         uint32_t *length);
// For a row ending at `end`: the last position whose default it gets, plus
// one (`end` when there is none); the due defaults that are unknown are
// counted here.
uint32_t addedDefaultsEnd(UnloadContext *ctx, uint32_t end);
