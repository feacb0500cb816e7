// Row unloading: locating and decoding rows in data blocks, rendering column
// values, walking segments and writing text records, the export dump writer,
// ROWIDs and character sets.  Each piece has its own header and its own
// section below; this header gathers them so that a caller can include the
// subsystem as a whole.
#pragma once

// --- Column value formatting (value_format.h) ------------------------------
// printField dispatches one column value on its type code to printNUMBER,
// printDATE, printTIMESTAMP, printBINARYFLOAT, printCHAR, printVARCHAR,
// printNVARCHAR, printVARRAW, printRAW, printVARRAY, printNARRAY (LOB codes
// 112, 113, 255 go to the LOB writers); ora_number_to_string and
// ora_valid_number work on NUMBER bytes; printDate writes the local time.
#include "unload/value_format.h"
// --- end of column value formatting -----------------------------------------
