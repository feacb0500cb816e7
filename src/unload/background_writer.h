// An output file whose writes happen on a thread of their own: the stream
// copies what stdio hands it into one of a few fixed buffers and goes back to
// decoding, while the writer thread hands the full buffers to the kernel.
// Writing a large file into the page cache costs as much as decoding it; this
// way the two overlap.  The bytes written are exactly those given, in order.
#pragma once

#include <cstdio>

// Opens (creates, truncates) `name` for reading and writing like fopen "wb+";
// null when the file cannot be opened.  fclose writes what is left, waits for
// the thread and returns EOF when any write failed.  Seeking and reading wait
// until every buffer given so far is written.
FILE *openBackgroundWriter(const char *name);
