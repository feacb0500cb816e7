// Unloading rows: from the blocks of a segment to the bytes of the output file.
//
// Five folders, each with a header of its own, from the bottom up:
//   charsets/  Oracle character sets, UCS-2, the GBK table;
//   rows/      rows found in a data block, pieces split into column values,
//              row filters, incomplete-row reports, ROWIDs;
//   values/    one stored value written as text, by its type code;
//   writers/   a segment's traversal and its rows as text, CSV, export dump
//              and index-organized rows;
//   parallel/  the parallel engine and the background writer.
// This header gathers the three a caller of the unload needs.
#pragma once

#include "unload/rows/rows.h"
#include "unload/values/values.h"
#include "unload/writers/writers.h"
