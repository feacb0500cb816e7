// Parallel: shares one traversal among worker processes and writes the output file on a thread of its own.
//
// What this folder offers:
// - parallel_unload.h: the engine behind SET PARALLEL; the traversal is
//   handed in by the writers, so the engine knows nothing of blocks or rows;
// - background_writer.h: the output file's writer thread (O_DIRECT where
//   whole buffers allow it), which lends the row writers' text sinks room
//   in its buffers.
// Neither depends on anything above core/ but the text sink of values/.
#pragma once

#include "unload/parallel/background_writer.h"
#include "unload/parallel/parallel_unload.h"
