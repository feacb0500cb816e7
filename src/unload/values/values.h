// Values: one stored column value written as text, by its type code.
//
// What this folder offers:
// - value_format.h: printField and appendField dispatch a value on its type
//   code to the formatters of NUMBER, DATE, TIMESTAMP (with and without
//   zone), BINARY_FLOAT/DOUBLE, CHAR, VARCHAR2, national text, RAW and the
//   collections; LOB codes go to the LOB writers (lob/); the NUMBER and
//   float text forms are offered on their own for the guessers and the
//   PostgreSQL forms;
// - value_text.h: the text of character, NUMBER, DATE and TIMESTAMP values,
//   inline, and formatPlainValue, the row writer's way to write those kinds
//   straight into its sink;
// - type_codes.h: the type codes (COL$ TYPE# and ZOR's own);
// - text_sink.h: the fixed buffer the row writers gather text in.
#pragma once

#include "unload/values/text_sink.h"
#include "unload/values/type_codes.h"
#include "unload/values/value_format.h"
#include "unload/values/value_text.h"
