// Parallel unload: the worker processes, the frames they send and the parent
// that puts the chunks back in order (see parallel_unload.h).
//
// Processes rather than threads: the row and value writers keep buffers and
// counters of their own, and the output writers of every style (text, dump,
// LOB files) then work in a worker exactly as they do alone.
#include "unload/parallel_unload.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kUnknownTypeWarningsPerColumn = 5;
// A pipe as large as an unprivileged process may ask for lets a worker write
// a whole chunk while the parent is still busy with the one before.
constexpr int kPipeSize = 1 << 20;
constexpr size_t kWorkerDataBuffer = 262144;
constexpr size_t kWorkerMessageBuffer = 65536;
constexpr size_t kCopyBuffer = 262144;
constexpr uint32_t kLargestFrame = 1u << 30;

enum FrameKind : uint32_t {
    kFrameData = 1,       // bytes of the output file
    kFrameMessages,       // bytes of standard output
    kFrameWarning,        // an unknown-type warning follows: column position
    kFrameChunkEnd,       // the chunk is complete: its UnloadCounters
    kFrameDone,           // the traversal is over: no more chunks
};

struct FrameHeader {
    uint32_t kind;
    uint32_t length;
};

UnloadCounters takeCounters(const UnloadContext *ctx)
{
    UnloadCounters counters;
    counters.rowsUnloaded = ctx->rowsUnloaded;
    counters.incompleteRows = ctx->incompleteRows;
    counters.incompleteRowLines = ctx->incompleteRowLines;
    return counters;
}

UnloadCounters countersSince(const UnloadContext *ctx, const UnloadCounters *start)
{
    UnloadCounters now = takeCounters(ctx);
    now.rowsUnloaded -= start->rowsUnloaded;
    now.incompleteRows -= start->incompleteRows;
    now.incompleteRowLines -= start->incompleteRowLines;
    return now;
}

void addCounters(UnloadContext *ctx, const UnloadCounters *added)
{
    ctx->rowsUnloaded += added->rowsUnloaded;
    ctx->incompleteRows += added->incompleteRows;
    ctx->incompleteRowLines += added->incompleteRowLines;
}

// ---- The worker side ----

struct WorkerState {
    bool active;          // this process is a worker
    uint32_t index;
    uint32_t count;
    uint32_t chunkBlocks;
    uint64_t ordinal;     // blocks visited so far
    // Output written between blocks (a line before a segment, a header of
    // the dump) is written by every worker alike: only the owner of the
    // block before it keeps it, so that it comes once and in its place.
    bool inOwnRegion;
    bool chunkOpen;
    uint64_t openChunk;
    int fd;               // write end of the pipe to the parent
    FILE *data;           // the worker's output stream
    FILE *messages;       // the worker's standard output
    UnloadContext *ctx;
    UnloadCounters atChunkStart;
    bool failed;          // a frame could not be sent
};

WorkerState gWorker;
uint32_t gDataKind = kFrameData;
uint32_t gMessagesKind = kFrameMessages;

bool writeAll(int fd, const void *data, size_t length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool sendFrame(uint32_t kind, const void *payload, uint32_t length)
{
    FrameHeader header;
    header.kind = kind;
    header.length = length;
    if (!writeAll(gWorker.fd, &header, sizeof header) || !writeAll(gWorker.fd, payload, length)) {
        gWorker.failed = true;
        return false;
    }
    return true;
}

// stdio hands the worker's buffered output here; it goes out as frames of
// the stream's kind.
ssize_t writeFrames(void *cookie, const char *data, size_t size)
{
    uint32_t kind = *static_cast<uint32_t *>(cookie);
    if (!gWorker.inOwnRegion)
        return static_cast<ssize_t>(size);
    size_t left = size;
    while (left > 0) {
        uint32_t n = left < kLargestFrame ? static_cast<uint32_t>(left) : kLargestFrame;
        if (!sendFrame(kind, data, n))
            return -1;
        data += n;
        left -= n;
    }
    return static_cast<ssize_t>(size);
}

void flushWorkerStreams()
{
    fflush(gWorker.data);
    if (gWorker.messages != gWorker.data)
        fflush(gWorker.messages);
}

void closeChunk()
{
    if (!gWorker.chunkOpen)
        return;
    flushWorkerStreams();
    UnloadCounters added = countersSince(gWorker.ctx, &gWorker.atChunkStart);
    sendFrame(kFrameChunkEnd, &added, sizeof added);
    gWorker.chunkOpen = false;
}

FILE *openFrameStream(uint32_t *kind, size_t bufferSize)
{
    cookie_io_functions_t io;
    io.read = nullptr;
    io.write = writeFrames;
    io.seek = nullptr;
    io.close = nullptr;
    FILE *stream = fopencookie(kind, "w", io);
    // stdio would pick a page-sized buffer by itself: one frame per 4 KB.
    // The worker ends with _exit, so the buffer is never given back.
    char *buffer = static_cast<char *>(malloc(bufferSize));
    if (stream != nullptr && buffer != nullptr)
        setvbuf(stream, buffer, _IOFBF, bufferSize);
    return stream;
}

uint32_t chunkBlocks()
{
    const char *text = getenv("ZOR_PARALLEL_CHUNK");
    if (text == nullptr)
        return kParallelChunkBlocks;
    long n = strtol(text, nullptr, 10);
    if (n < 1 || n > static_cast<long>(kLargestParallelChunk))
        return kParallelChunkBlocks;
    return static_cast<uint32_t>(n);
}

[[noreturn]] void runWorker(uint32_t index, uint32_t count, int fd, bool outIsStdout, UnloadContext *ctx,
                            TraversalFunction traverse, void *arg)
{
    memset(&gWorker, 0, sizeof gWorker);
    gWorker.index = index;
    gWorker.count = count;
    gWorker.chunkBlocks = chunkBlocks();
    gWorker.fd = fd;
    gWorker.ctx = ctx;
    gWorker.messages = openFrameStream(&gMessagesKind, kWorkerMessageBuffer);
    // Rows written to standard output are messages like the others: one
    // stream keeps them in the order they were written.
    gWorker.data = outIsStdout ? gWorker.messages : openFrameStream(&gDataKind, kWorkerDataBuffer);
    if (gWorker.messages == nullptr || gWorker.data == nullptr)
        _exit(2);
    stdout = gWorker.messages;
    // What comes before the first block belongs with the first chunk.
    gWorker.inOwnRegion = index == 0;
    gWorker.active = true;
    traverse(gWorker.data, arg);
    closeChunk();
    // A traversal that met no block may still have printed something.
    flushWorkerStreams();
    sendFrame(kFrameDone, nullptr, 0);
    _exit(gWorker.failed ? 3 : 0);
}

// ---- The parent side ----

struct WorkerPipe {
    pid_t pid;
    FILE *in;
    char *buffer;         // the stream's kCopyBuffer bytes
    bool done;
};

struct Collector {
    UnloadContext *ctx;
    FILE *out;
    char *buffer;         // kCopyBuffer bytes
    bool dropping;        // skipping a warning line past its column's limit
    uint32_t count;
    WorkerPipe workers[kMaxParallelWorkers];
};

bool readExact(FILE *in, void *data, size_t length)
{
    return fread(data, 1, length, in) == length;
}

// Standard output bytes of a worker; the rest of a warning line beyond its
// column's limit is left out.
void writeMessages(Collector *c, const char *data, size_t length)
{
    if (c->dropping) {
        const char *end = static_cast<const char *>(memchr(data, '\n', length));
        if (end == nullptr)
            return;
        c->dropping = false;
        length -= static_cast<size_t>(end + 1 - data);
        data = end + 1;
    }
    fwrite(data, 1, length, stdout);
}

bool copyPayload(Collector *c, FILE *in, uint32_t length, bool messages)
{
    while (length > 0) {
        size_t n = length < kCopyBuffer ? length : kCopyBuffer;
        if (!readExact(in, c->buffer, n))
            return false;
        if (messages)
            writeMessages(c, c->buffer, n);
        else
            fwrite(c->buffer, 1, n, c->out);
        length -= static_cast<uint32_t>(n);
    }
    return true;
}

void countWarning(Collector *c, uint32_t position)
{
    if (position >= static_cast<uint32_t>(kMaxColumns))
        return;
    uint16_t *printed = &c->ctx->unknownTypeWarnings[position];
    if (*printed >= kUnknownTypeWarningsPerColumn)
        c->dropping = true;
    else
        (*printed)++;
}

enum ChunkResult { kChunkTaken, kWorkerDone, kWorkerFailed };

// Copies the frames of worker w up to the end of its next chunk.
ChunkResult takeChunk(Collector *c, uint32_t w)
{
    FILE *in = c->workers[w].in;
    for (;;) {
        FrameHeader header;
        if (!readExact(in, &header, sizeof header))
            return kWorkerFailed;
        switch (header.kind) {
        case kFrameData:
        case kFrameMessages:
            if (!copyPayload(c, in, header.length, header.kind == kFrameMessages))
                return kWorkerFailed;
            break;
        case kFrameWarning: {
            uint32_t position;
            if (header.length != sizeof position || !readExact(in, &position, sizeof position))
                return kWorkerFailed;
            countWarning(c, position);
            break;
        }
        case kFrameChunkEnd: {
            UnloadCounters added;
            if (header.length != sizeof added || !readExact(in, &added, sizeof added))
                return kWorkerFailed;
            addCounters(c->ctx, &added);
            return kChunkTaken;
        }
        case kFrameDone:
            c->workers[w].done = true;
            return kWorkerDone;
        default:
            return kWorkerFailed;
        }
    }
}

// The chunks in order, chunk k from worker k mod n, until the traversal is
// over.  Returns the worker that failed, or count when none did.
uint32_t collectChunks(Collector *c)
{
    uint64_t chunk = 0;
    uint32_t w;
    for (;;) {
        w = static_cast<uint32_t>(chunk % c->count);
        ChunkResult result = takeChunk(c, w);
        if (result == kWorkerFailed)
            return w;
        if (result == kWorkerDone)
            break;
        chunk++;
    }
    // Every worker saw the same blocks: the others have no chunk left.
    for (uint32_t v = 0; v < c->count; v++) {
        if (v != w && takeChunk(c, v) != kWorkerDone)
            return v;
    }
    return c->count;
}

void waitForWorker(pid_t pid, int *status)
{
    while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
}

// Ends the workers (those still running only after a failure) and reaps
// them; returns the first that did not exit cleanly, or count.
uint32_t endWorkers(Collector *c, uint32_t started, bool failed)
{
    uint32_t bad = c->count;
    for (uint32_t w = 0; w < started; w++) {
        if (failed && !c->workers[w].done)
            kill(c->workers[w].pid, SIGKILL);
        fclose(c->workers[w].in);
        free(c->workers[w].buffer);
    }
    for (uint32_t w = 0; w < started; w++) {
        int status = 0;
        waitForWorker(c->workers[w].pid, &status);
        if (!failed && bad == c->count && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
            bad = w;
    }
    return bad;
}

// Starts worker w; false when no pipe or process could be had.
bool startWorker(Collector *c, uint32_t w, TraversalFunction traverse, void *arg)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        for (uint32_t v = 0; v < w; v++)
            close(fileno(c->workers[v].in));
        runWorker(w, c->count, fds[1], c->out == stdout, c->ctx, traverse, arg);
    }
    close(fds[1]);
    c->workers[w].pid = pid;
    c->workers[w].done = false;
    c->workers[w].in = fdopen(fds[0], "r");
    if (c->workers[w].in == nullptr) {
        close(fds[0]);
        kill(pid, SIGKILL);
        int status;
        waitForWorker(pid, &status);
        return false;
    }
    c->workers[w].buffer = static_cast<char *>(malloc(kCopyBuffer));
    if (c->workers[w].buffer != nullptr)
        setvbuf(c->workers[w].in, c->workers[w].buffer, _IOFBF, kCopyBuffer);
    return true;
}

void reportFailedWorker(uint32_t w, uint32_t count)
{
    fprintf(stderr, "UNLOAD: worker %u of %u stopped before its blocks were written; the output is incomplete\n",
            w + 1, count);
}

}  // namespace

bool ownsNextBlock()
{
    if (!gWorker.active)
        return true;
    uint64_t chunk = gWorker.ordinal++ / gWorker.chunkBlocks;
    bool owned = chunk % gWorker.count == gWorker.index;
    if (owned != gWorker.inOwnRegion) {
        flushWorkerStreams();
        gWorker.inOwnRegion = owned;
    }
    if (!owned)
        return false;
    if (!gWorker.chunkOpen || chunk != gWorker.openChunk) {
        closeChunk();
        gWorker.chunkOpen = true;
        gWorker.openChunk = chunk;
        gWorker.atChunkStart = takeCounters(gWorker.ctx);
    }
    return true;
}

void markUnknownTypeWarning(uint32_t position)
{
    if (!gWorker.active)
        return;
    flushWorkerStreams();
    sendFrame(kFrameWarning, &position, sizeof position);
}

bool runParallelTraversal(FILE *out, UnloadContext *ctx, uint32_t workers, TraversalFunction traverse, void *arg)
{
    if (workers > kMaxParallelWorkers)
        workers = kMaxParallelWorkers;
    // A worker does not start workers of its own.
    if (workers <= 1 || gWorker.active) {
        traverse(out, arg);
        return true;
    }
    // Buffered output must not be written a second time by a worker.
    fflush(stdout);
    fflush(out);
    Collector *c = static_cast<Collector *>(calloc(1, sizeof(Collector)));
    char *buffer = static_cast<char *>(malloc(kCopyBuffer));
    if (c == nullptr || buffer == nullptr) {
        free(c);
        free(buffer);
        traverse(out, arg);
        return true;
    }
    c->ctx = ctx;
    c->out = out;
    c->buffer = buffer;
    c->count = workers;
    uint32_t started = 0;
    while (started < workers && startWorker(c, started, traverse, arg))
        started++;
    bool complete = true;
    if (started < workers) {
        // No processes to be had: the unload is done here, serially.
        endWorkers(c, started, true);
        traverse(out, arg);
    } else {
        uint32_t failed = collectChunks(c);
        uint32_t bad = endWorkers(c, started, failed != workers);
        if (failed == workers)
            failed = bad;
        if (failed != workers) {
            reportFailedWorker(failed, workers);
            complete = false;
        }
    }
    fflush(stdout);
    free(c->buffer);
    free(c);
    return complete;
}
