// Parallel unload: the worker processes, the frames they send and the parent
// that puts the chunks back in order (see parallel_unload.h).
//
// Processes rather than threads: the row and value writers keep buffers and
// counters of their own, and the output writers of every style (text, dump,
// LOB files) then work in a worker exactly as they do alone.
//
// Each worker sends its frames through a ring of memory shared with the
// parent, mapped before the fork: the worker copies its stdio buffer in once
// and the parent hands the bytes to the output file straight from the ring.
// A pipe would copy every byte twice more, on cores the decoding needs.
#include "unload/parallel/parallel_unload.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <linux/futex.h>
#include <new>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unload/parallel/background_writer.h"
#include "unload/rows/rows.h"

namespace {

constexpr int kUnknownTypeWarningsPerColumn = 5;
constexpr size_t kWorkerDataBuffer = 262144;
constexpr size_t kWorkerMessageBuffer = 65536;
// Every ring together stays within kAllRings, each between the smallest and
// the largest ring: a few chunks of slack per worker at the usual counts.
constexpr size_t kAllRings = 32u << 20;
constexpr size_t kSmallestRing = 256u << 10;
constexpr size_t kLargestRing = 16u << 20;
constexpr uint32_t kLargestFrame = 1u << 30;
// How long a side sleeps before it looks whether the other is still there.
constexpr long kWaitNanoseconds = 20000000;

enum FrameKind : uint32_t {
    kFrameData = 1,   // bytes of the output file
    kFrameMessages,   // bytes of standard output
    kFrameWarning,    // an unknown-type warning follows: column position
    kFrameChunkEnd,   // the chunk is complete: its UnloadCounters
    kFrameDone,       // the traversal is over: no more chunks
    kFrameBlockLine,  // a line naming a block not read follows
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
    counters.lobsNotRead = ctx->lobsNotRead;
    counters.lobsNotReadLines = ctx->lobsNotReadLines;
    counters.defaultlessValues = ctx->defaultlessValues;
    counters.blocksNotRead = ctx->blocksNotRead;
    counters.blocksNotReadLines = ctx->blocksNotReadLines;
    for (int i = 0; i < kBlockReasonCount; i++)
        counters.blocksNotReadBy[i] = ctx->blocksNotReadBy[i];
    counters.objectBlocks = ctx->objectBlocks;
    return counters;
}

UnloadCounters countersSince(const UnloadContext *ctx, const UnloadCounters *start)
{
    UnloadCounters now = takeCounters(ctx);
    now.rowsUnloaded -= start->rowsUnloaded;
    now.incompleteRows -= start->incompleteRows;
    now.incompleteRowLines -= start->incompleteRowLines;
    now.lobsNotRead -= start->lobsNotRead;
    now.lobsNotReadLines -= start->lobsNotReadLines;
    now.defaultlessValues -= start->defaultlessValues;
    now.blocksNotRead -= start->blocksNotRead;
    now.blocksNotReadLines -= start->blocksNotReadLines;
    for (int i = 0; i < kBlockReasonCount; i++)
        now.blocksNotReadBy[i] -= start->blocksNotReadBy[i];
    now.objectBlocks -= start->objectBlocks;
    return now;
}

void addCounters(UnloadContext *ctx, const UnloadCounters *added)
{
    ctx->rowsUnloaded += added->rowsUnloaded;
    ctx->incompleteRows += added->incompleteRows;
    ctx->incompleteRowLines += added->incompleteRowLines;
    ctx->lobsNotRead += added->lobsNotRead;
    ctx->lobsNotReadLines += added->lobsNotReadLines;
    ctx->defaultlessValues += added->defaultlessValues;
    ctx->blocksNotRead += added->blocksNotRead;
    ctx->blocksNotReadLines += added->blocksNotReadLines;
    for (int i = 0; i < kBlockReasonCount; i++)
        ctx->blocksNotReadBy[i] += added->blocksNotReadBy[i];
    ctx->objectBlocks += added->objectBlocks;
}

// ---- The shared ring ----

// One worker's frames on their way to the parent.  Only the worker moves
// `produced`, only the parent `consumed`.  A side that finds nothing to do
// says it sleeps, looks once more and sleeps on the other's signal word; the
// other, after each move, bumps its word and wakes it only when it sleeps,
// so that a busy pair makes no system call at all.
struct RingControl {
    std::atomic<uint64_t> produced;
    std::atomic<uint64_t> consumed;
    std::atomic<uint32_t> producedSignal;
    std::atomic<uint32_t> consumedSignal;
    std::atomic<uint32_t> parentSleeps;
    std::atomic<uint32_t> workerSleeps;
};

struct SharedRing {
    RingControl *control;  // at the start of the mapping, a page of its own
    char *data;
    size_t size;
    size_t mapped;
};

static_assert(std::atomic<uint64_t>::is_always_lock_free, "the ring's counters are shared between processes");

size_t ringSizeFor(uint32_t workers)
{
    size_t size = kAllRings / workers;
    if (size < kSmallestRing)
        size = kSmallestRing;
    if (size > kLargestRing)
        size = kLargestRing;
    return size;
}

bool mapRing(SharedRing *ring, size_t size)
{
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *at = mmap(nullptr, page + size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED)
        return false;
    ring->control = new (at) RingControl();
    ring->data = static_cast<char *>(at) + page;
    ring->size = size;
    ring->mapped = page + size;
    return true;
}

void unmapRing(SharedRing *ring)
{
    if (ring->control != nullptr)
        munmap(ring->control, ring->mapped);
    ring->control = nullptr;
}

// Sleeps while *word still holds `seen`, at most kWaitNanoseconds.  The
// words are in shared memory: the futex must not be process-private.
void sleepOnSignal(std::atomic<uint32_t> *word, uint32_t seen)
{
    struct timespec wait = {0, kWaitNanoseconds};
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAIT, seen, &wait, nullptr, 0);
}

// After a move of the counters: wakes the other side if it sleeps.  The
// sleeper said so before it looked at the counters a last time, so either
// it saw the move or this sees it sleep.
void raiseSignal(std::atomic<uint32_t> *word, const std::atomic<uint32_t> *sleeps)
{
    if (sleeps->load() == 0)
        return;
    word->fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

// ---- The worker side ----

struct WorkerState {
    bool active;  // this process is a worker
    uint32_t index;
    uint32_t count;
    uint32_t chunkBlocks;
    uint64_t ordinal;  // blocks visited so far
    // Output written between blocks (a line before a segment, a header of
    // the dump) is written by every worker alike: only the owner of the
    // block before it keeps it, so that it comes once and in its place.
    bool inOwnRegion;
    bool chunkOpen;
    uint64_t openChunk;
    SharedRing ring;  // the frames to the parent
    pid_t parent;
    FILE *data;      // the worker's output stream
    FILE *messages;  // the worker's standard output
    UnloadContext *ctx;
    UnloadCounters atChunkStart;
    bool failed;  // a frame could not be sent
};

WorkerState gWorker;
uint32_t gDataKind = kFrameData;
uint32_t gMessagesKind = kFrameMessages;

// Copies `length` bytes into the ring as room frees up; false when the
// parent is gone.  A sleeping parent is woken for the end of a frame that
// matters at once (`urgent`), when a quarter of the ring waits, and before
// this worker sleeps itself: every wake-up is a context switch on a core
// the decoding needs.
bool putIntoRing(const void *bytes, size_t length, bool urgent)
{
    const char *p = static_cast<const char *>(bytes);
    SharedRing *ring = &gWorker.ring;
    RingControl *control = ring->control;
    while (length > 0) {
        uint64_t produced = control->produced.load(std::memory_order_relaxed);
        size_t room = ring->size - static_cast<size_t>(produced - control->consumed.load());
        if (room == 0) {
            if (getppid() != gWorker.parent)
                return false;
            raiseSignal(&control->producedSignal, &control->parentSleeps);
            uint32_t seen = control->consumedSignal.load();
            control->workerSleeps.store(1);
            if (control->consumed.load() + ring->size == produced)
                sleepOnSignal(&control->consumedSignal, seen);
            control->workerSleeps.store(0);
            continue;
        }
        size_t at = static_cast<size_t>(produced % ring->size);
        size_t n = length;
        if (n > room)
            n = room;
        if (n > ring->size - at)
            n = ring->size - at;
        memcpy(ring->data + at, p, n);
        control->produced.store(produced + n);
        p += n;
        length -= n;
        if ((urgent && length == 0) || ring->size - room + n >= ring->size / 4)
            raiseSignal(&control->producedSignal, &control->parentSleeps);
    }
    return true;
}

bool sendFrame(uint32_t kind, const void *payload, uint32_t length)
{
    FrameHeader header;
    header.kind = kind;
    header.length = length;
    // The end of a chunk, a warning and the last frame let the parent go on
    // at once; bytes of output can wait until more of them are there.
    bool urgent = kind != kFrameData && kind != kFrameMessages;
    if (!putIntoRing(&header, sizeof header, urgent && length == 0) ||
        !putIntoRing(payload, length, urgent)) {
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
        // 0 rather than -1, which glibc's fwrite miscounts.
        if (!sendFrame(kind, data, n))
            return 0;
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

[[noreturn]] void runWorker(uint32_t index, uint32_t count, const SharedRing *ring, pid_t parent,
                            bool outIsStdout, UnloadContext *ctx, TraversalFunction traverse, void *arg)
{
    // A worker whose parent is gone has nobody to write for.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(4);
    memset(&gWorker, 0, sizeof gWorker);
    gWorker.index = index;
    gWorker.count = count;
    gWorker.chunkBlocks = chunkBlocks();
    gWorker.ring = *ring;
    gWorker.parent = parent;
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

struct Worker {
    pid_t pid;
    SharedRing ring;
    bool done;    // its last frame has come
    bool reaped;  // its exit status is in `status`
    int status;
};

struct Collector {
    UnloadContext *ctx;
    FILE *out;
    // The output file's descriptor, written straight from the rings; -1
    // when the bytes go through the stream instead.
    int outFd;
    bool wroteDirectly;  // the stream must be moved to the file's end
    bool dropping;       // skipping a warning line past its column's limit
    uint32_t count;
    Worker workers[kMaxParallelWorkers];
};

// True when worker w has ended; its status is kept for endWorkers.
bool workerEnded(Worker *worker)
{
    if (worker->reaped)
        return true;
    if (waitpid(worker->pid, &worker->status, WNOHANG) != worker->pid)
        return false;
    worker->reaped = true;
    return true;
}

// Waits for bytes from worker w and gives the longest run that lies in one
// piece; false when the worker ended without sending more.
bool nextSpan(Worker *worker, const char **span, size_t *length)
{
    SharedRing *ring = &worker->ring;
    RingControl *control = ring->control;
    uint64_t consumed = control->consumed.load(std::memory_order_relaxed);
    for (;;) {
        uint64_t produced = control->produced.load();
        if (produced != consumed) {
            size_t at = static_cast<size_t>(consumed % ring->size);
            size_t n = static_cast<size_t>(produced - consumed);
            if (n > ring->size - at)
                n = ring->size - at;
            *span = ring->data + at;
            *length = n;
            return true;
        }
        if (workerEnded(worker)) {
            if (control->produced.load() != consumed)
                continue;
            return false;
        }
        raiseSignal(&control->consumedSignal, &control->workerSleeps);
        uint32_t seen = control->producedSignal.load();
        control->parentSleeps.store(1);
        if (control->produced.load() == consumed)
            sleepOnSignal(&control->producedSignal, seen);
        control->parentSleeps.store(0);
    }
}

// A sleeping worker is woken once a quarter of its ring is free, and
// before the parent sleeps on it.
void releaseSpan(Worker *worker, size_t length)
{
    SharedRing *ring = &worker->ring;
    RingControl *control = ring->control;
    uint64_t consumed = control->consumed.load(std::memory_order_relaxed) + length;
    control->consumed.store(consumed);
    if (ring->size - static_cast<size_t>(control->produced.load() - consumed) >= ring->size / 4)
        raiseSignal(&control->consumedSignal, &control->workerSleeps);
}

bool readExact(Worker *worker, void *data, size_t length)
{
    char *p = static_cast<char *>(data);
    while (length > 0) {
        const char *span;
        size_t n;
        if (!nextSpan(worker, &span, &n))
            return false;
        if (n > length)
            n = length;
        memcpy(p, span, n);
        releaseSpan(worker, n);
        p += n;
        length -= n;
    }
    return true;
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

// Bytes of the output file.  Should a direct write fail, what it left goes
// through the stream, which retries it and, failing again, keeps the error
// for the file's close to report.
void writeData(Collector *c, const char *data, size_t length)
{
    while (length > 0 && c->outFd >= 0) {
        ssize_t n = write(c->outFd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            c->outFd = -1;
            break;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    if (length > 0)
        fwrite(data, 1, length, c->out);
}

bool copyPayload(Collector *c, Worker *worker, uint32_t length, bool messages)
{
    while (length > 0) {
        const char *span;
        size_t n;
        if (!nextSpan(worker, &span, &n))
            return false;
        if (n > length)
            n = length;
        if (messages)
            writeMessages(c, span, n);
        else
            writeData(c, span, n);
        releaseSpan(worker, n);
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
    Worker *worker = &c->workers[w];
    for (;;) {
        FrameHeader header;
        if (!readExact(worker, &header, sizeof header))
            return kWorkerFailed;
        switch (header.kind) {
        case kFrameData:
        case kFrameMessages:
            if (!copyPayload(c, worker, header.length, header.kind == kFrameMessages))
                return kWorkerFailed;
            break;
        case kFrameWarning: {
            uint32_t position;
            if (header.length != sizeof position || !readExact(worker, &position, sizeof position))
                return kWorkerFailed;
            countWarning(c, position);
            break;
        }
        case kFrameBlockLine:
            if (header.length != 0)
                return kWorkerFailed;
            if (c->ctx->blocksNotReadLines >= blockNotReadLineCap())
                c->dropping = true;
            else
                c->ctx->blocksNotReadLines++;
            break;
        case kFrameChunkEnd: {
            UnloadCounters added;
            if (header.length != sizeof added || !readExact(worker, &added, sizeof added))
                return kWorkerFailed;
            addCounters(c->ctx, &added);
            return kChunkTaken;
        }
        case kFrameDone: worker->done = true; return kWorkerDone;
        default: return kWorkerFailed;
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

void waitForWorker(Worker *worker)
{
    if (worker->reaped)
        return;
    while (waitpid(worker->pid, &worker->status, 0) < 0 && errno == EINTR) {
    }
    worker->reaped = true;
}

// Ends the workers (those still running only after a failure) and reaps
// them; returns the first that did not exit cleanly, or count.
uint32_t endWorkers(Collector *c, uint32_t started, bool failed)
{
    uint32_t bad = c->count;
    for (uint32_t w = 0; w < started; w++) {
        if (failed && !c->workers[w].done && !c->workers[w].reaped)
            kill(c->workers[w].pid, SIGKILL);
    }
    for (uint32_t w = 0; w < started; w++) {
        Worker *worker = &c->workers[w];
        waitForWorker(worker);
        unmapRing(&worker->ring);
        int status = worker->status;
        if (!failed && bad == c->count && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
            bad = w;
    }
    return bad;
}

// Starts worker w; false when no shared memory or process could be had.
bool startWorker(Collector *c, uint32_t w, TraversalFunction traverse, void *arg)
{
    Worker *worker = &c->workers[w];
    if (!mapRing(&worker->ring, ringSizeFor(c->count)))
        return false;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        unmapRing(&worker->ring);
        return false;
    }
    if (pid == 0) {
        // The other workers' rings are none of this one's business.
        for (uint32_t v = 0; v < w; v++)
            unmapRing(&c->workers[v].ring);
        runWorker(w, c->count, &worker->ring, parent, c->out == stdout, c->ctx, traverse, arg);
    }
    worker->pid = pid;
    return true;
}

void reportFailedWorker(uint32_t w, uint32_t count)
{
    fprintf(stderr,
            "UNLOAD: worker %u of %u stopped before its blocks were written; the output is incomplete\n",
            w + 1, count);
}

// Runs the workers and takes their chunks; false when the output is
// incomplete.
bool collectFromWorkers(Collector *c, TraversalFunction traverse, void *arg)
{
    uint32_t workers = c->count;
    uint32_t started = 0;
    while (started < workers && startWorker(c, started, traverse, arg))
        started++;
    if (started < workers) {
        // No processes to be had: the unload is done here, serially.
        endWorkers(c, started, true);
        traverse(c->out, arg);
        return true;
    }
    uint32_t failed = collectChunks(c);
    uint32_t bad = endWorkers(c, started, failed != workers);
    if (failed == workers)
        failed = bad;
    if (failed != workers) {
        reportFailedWorker(failed, workers);
        return false;
    }
    return true;
}

// The output file is written from the rings through its descriptor when
// the stream has one to give; the stream is then moved to the file's new
// end, where it goes on writing.
void openDirectOutput(Collector *c)
{
    c->outFd = -1;
    if (c->out == stdout)
        return;
    int fd = drainBackgroundWriter(c->out);
    if (fd < 0)
        return;
    c->outFd = fd;
    c->wroteDirectly = true;
}

void closeDirectOutput(Collector *c)
{
    if (c->wroteDirectly)
        fseeko(c->out, 0, SEEK_END);
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

bool markBlockNotReadLine()
{
    if (!gWorker.active)
        return false;
    flushWorkerStreams();
    sendFrame(kFrameBlockLine, nullptr, 0);
    return true;
}

bool runParallelTraversal(FILE *out, UnloadContext *ctx, uint32_t workers, TraversalFunction traverse,
                          void *arg)
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
    Collector *c = static_cast<Collector *>(calloc(1, sizeof(Collector)));
    if (c == nullptr) {
        traverse(out, arg);
        return true;
    }
    c->ctx = ctx;
    c->out = out;
    c->count = workers;
    openDirectOutput(c);
    bool complete = collectFromWorkers(c, traverse, arg);
    closeDirectOutput(c);
    fflush(stdout);
    free(c);
    return complete;
}
