// An output file whose writes happen on a thread of their own: the stream
// copies what stdio hands it into one of a few fixed buffers and goes back to
// decoding, while the writer thread hands the full buffers to the kernel.
// Writing a large file into the page cache costs as much as decoding it; this
// way the two overlap.  The bytes written are exactly those given, in order.
// Regular files are written with O_DIRECT while whole aligned buffers allow
// it, so that a large output does not evict the datafiles from the cache.
#pragma once

#include <cstdio>

#include "unload/values/text_sink.h"

// Opens (creates, truncates) `name` for reading and writing like fopen "wb+";
// null when the file cannot be opened.  fclose writes what is left, waits for
// the thread and returns EOF when any write failed.  Seeking and reading wait
// until every buffer given so far is written.
FILE *openBackgroundWriter(const char *name);

// Flushes `file` and waits until everything given to it is written, then
// returns the descriptor underneath, so that the caller may append to it
// directly (and seek the stream to its end afterwards).  Works for any stream
// with a descriptor; -1 when there is none, a write failed, or the writer
// sends whole buffers to the disk directly (bytes are best given to the
// stream then).
int drainBackgroundWriter(FILE *file);

// When `stream` is a background writer, the sink (made for that stream)
// writes its text straight into the writer's buffers from now on, instead
// of copying it there through stdio.  The caller owns the sink and follows
// its rule: nothing else is written to the stream while the sink holds text.
void lendOutputBuffer(TextSink *sink, FILE *stream);
