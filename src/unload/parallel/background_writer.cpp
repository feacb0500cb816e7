// The output file of an unload, written by a thread of its own.
//
// A ring of kRingBuffers fixed buffers: the decoding thread fills the buffer
// at `handed`, the writer thread writes the one at `written`; a buffer is
// handed over when full (or when the file is closed, sought or read).  The
// decoding thread waits only when every buffer is still waiting to be
// written, so memory stays at kRingBuffers * kRingBufferSize whatever the
// disk does.
//
// A regular file is written with O_DIRECT while the writes allow it: whole
// aligned buffers go from the ring to the disk without a copy into the page
// cache, which costs more CPU than the disk costs time (far more on virtual
// machines, whose hosts hand freshly freed memory back slowly), and a rescue
// writing terabytes does not push the datafiles out of the cache.  The last
// partial buffer, and everything after a seek or a read, is written as usual.
#include "unload/parallel/background_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kRingBufferSize = 1u << 20;
constexpr uint32_t kRingBuffers = 4;
// Buffer addresses, lengths and file offsets of direct writes are multiples
// of this, the largest logical block size of common disks.
constexpr size_t kDirectAlignment = 4096;
// Open writers by stream, so that a caller holding only the FILE can reach
// the descriptor underneath.  Opened and closed on the main thread only.
constexpr uint32_t kMaxOpenWriters = 16;

struct BackgroundWriter {
    int fd;
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;
    char *ring;                   // kRingBuffers * kRingBufferSize bytes
    size_t length[kRingBuffers];  // bytes of each handed buffer
    uint64_t handed;              // buffers given to the writer thread
    uint64_t written;             // buffers it has written
    size_t filling;               // bytes in the buffer being filled
    bool closing;
    bool failed;      // a write failed: the file is incomplete
    int error;        // errno of the failed write
    bool direct;      // the descriptor has O_DIRECT
    uint64_t offset;  // where the next write lands, while direct
    // The stream over the ring, and the room of the ring it lends to the
    // row writers' sinks (lendRingRoom).
    FILE *file;
    TextSinkLender lender;
};

struct OpenWriter {
    FILE *file;
    BackgroundWriter *writer;
};

OpenWriter gOpenWriters[kMaxOpenWriters];

void rememberWriter(FILE *file, BackgroundWriter *w)
{
    for (OpenWriter &open : gOpenWriters) {
        if (open.file == nullptr) {
            open.file = file;
            open.writer = w;
            return;
        }
    }
}

void forgetWriter(BackgroundWriter *w)
{
    for (OpenWriter &open : gOpenWriters) {
        if (open.writer == w) {
            open.file = nullptr;
            open.writer = nullptr;
        }
    }
}

BackgroundWriter *findWriter(FILE *file)
{
    for (const OpenWriter &open : gOpenWriters) {
        if (open.file == file && file != nullptr)
            return open.writer;
    }
    return nullptr;
}

char *bufferAt(BackgroundWriter *w, uint64_t sequence)
{
    return w->ring + (sequence % kRingBuffers) * kRingBufferSize;
}

bool writeAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// From here on the file is written through the page cache.
void stopDirectWrites(BackgroundWriter *w)
{
    if (!w->direct)
        return;
    int flags = fcntl(w->fd, F_GETFL);
    if (flags >= 0)
        fcntl(w->fd, F_SETFL, flags & ~O_DIRECT);
    w->direct = false;
}

// Writes one buffer of the ring; direct when its length and place allow,
// and as usual when the file system refuses.
bool writeBuffer(BackgroundWriter *w, const char *data, size_t length)
{
    if (w->direct && (length % kDirectAlignment != 0 || w->offset % kDirectAlignment != 0))
        stopDirectWrites(w);
    if (!w->direct)
        return writeAll(w->fd, data, length);
    ssize_t n;
    do {
        n = write(w->fd, data, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EINVAL) {
        stopDirectWrites(w);
        return writeAll(w->fd, data, length);
    }
    if (n < 0)
        return false;
    w->offset += static_cast<uint64_t>(n);
    size_t done = static_cast<size_t>(n);
    if (done == length)
        return true;
    stopDirectWrites(w);
    return writeAll(w->fd, data + done, length - done);
}

void *runWriterThread(void *arg)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(arg);
    pthread_mutex_lock(&w->lock);
    for (;;) {
        while (w->written == w->handed && !w->closing)
            pthread_cond_wait(&w->changed, &w->lock);
        if (w->written == w->handed)
            break;
        uint64_t sequence = w->written;
        size_t length = w->length[sequence % kRingBuffers];
        bool failed = w->failed;
        pthread_mutex_unlock(&w->lock);
        // After a failed write nothing more is written: the file would have
        // a hole where the lost buffer was.
        errno = 0;
        bool ok = failed || writeBuffer(w, bufferAt(w, sequence), length);
        int error = errno != 0 ? errno : ENOSPC;
        pthread_mutex_lock(&w->lock);
        if (!ok && !w->failed) {
            w->failed = true;
            w->error = error;
        }
        w->written++;
        pthread_cond_broadcast(&w->changed);
    }
    pthread_mutex_unlock(&w->lock);
    return nullptr;
}

// Hands the buffer being filled to the writer thread and waits until the
// next one is free.
void handOver(BackgroundWriter *w)
{
    pthread_mutex_lock(&w->lock);
    w->length[w->handed % kRingBuffers] = w->filling;
    w->handed++;
    pthread_cond_broadcast(&w->changed);
    while (w->handed - w->written >= kRingBuffers)
        pthread_cond_wait(&w->changed, &w->lock);
    pthread_mutex_unlock(&w->lock);
    w->filling = 0;
}

// Everything given so far is in the file.  True when no write failed.
bool drain(BackgroundWriter *w)
{
    if (w->filling > 0)
        handOver(w);
    pthread_mutex_lock(&w->lock);
    while (w->written != w->handed)
        pthread_cond_wait(&w->changed, &w->lock);
    bool ok = !w->failed;
    pthread_mutex_unlock(&w->lock);
    return ok;
}

ssize_t cookieWrite(void *cookie, const char *data, size_t size)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(cookie);
    size_t left = size;
    while (left > 0) {
        size_t room = kRingBufferSize - w->filling;
        size_t n = left < room ? left : room;
        memcpy(bufferAt(w, w->handed) + w->filling, data, n);
        w->filling += n;
        data += n;
        left -= n;
        if (w->filling == kRingBufferSize)
            handOver(w);
    }
    // A failure seen so far marks the stream; fclose reports it for sure.
    // Not -1: glibc's fwrite adds a cookie's -1 to its count and reads past
    // the caller's bytes; 0 sets the error flag and stops it cleanly.
    pthread_mutex_lock(&w->lock);
    bool failed = w->failed;
    pthread_mutex_unlock(&w->lock);
    return failed ? 0 : static_cast<ssize_t>(size);
}

ssize_t cookieRead(void *cookie, char *data, size_t size)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(cookie);
    if (!drain(w))
        return -1;
    stopDirectWrites(w);
    return read(w->fd, data, size);
}

int cookieSeek(void *cookie, off64_t *offset, int whence)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(cookie);
    if (!drain(w))
        return -1;
    stopDirectWrites(w);
    off64_t at = lseek64(w->fd, *offset, whence);
    if (at < 0)
        return -1;
    *offset = at;
    return 0;
}

// The room after the bytes given so far, in the buffer being filled, when
// a sink's worth is left there.  The sink writes into the ring directly;
// what stdio holds goes first.  Near the end of a buffer the sink keeps
// its own and its text comes through cookieWrite, which fills the buffer to
// its last byte: buffers are still handed over whole.
char *lendRingRoom(void *owner)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(owner);
    if (fflush(w->file) != 0)
        return nullptr;
    if (kRingBufferSize - w->filling < kTextSinkSize)
        return nullptr;
    return bufferAt(w, w->handed) + w->filling;
}

void takeBackRingRoom(void *owner, uint32_t length)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(owner);
    w->filling += length;
    if (w->filling == kRingBufferSize)
        handOver(w);
}

void releaseWriter(BackgroundWriter *w)
{
    pthread_cond_destroy(&w->changed);
    pthread_mutex_destroy(&w->lock);
    free(w->ring);
    free(w);
}

int cookieClose(void *cookie)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(cookie);
    forgetWriter(w);
    drain(w);
    pthread_mutex_lock(&w->lock);
    w->closing = true;
    pthread_cond_broadcast(&w->changed);
    pthread_mutex_unlock(&w->lock);
    pthread_join(w->thread, nullptr);
    bool ok = !w->failed;
    int error = w->error;
    if (close(w->fd) != 0) {
        error = ok ? errno : error;
        ok = false;
    }
    releaseWriter(w);
    if (!ok)
        errno = error;
    return ok ? 0 : EOF;
}

// Regular files only: a device or pipe gains nothing, and some refuse.
bool tryDirectWrites(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
}

void stopDirect(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_DIRECT) != 0)
        fcntl(fd, F_SETFL, flags & ~O_DIRECT);
}

BackgroundWriter *newWriter(int fd, bool direct)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(calloc(1, sizeof(BackgroundWriter)));
    if (w == nullptr)
        return nullptr;
    w->ring = static_cast<char *>(aligned_alloc(kDirectAlignment, kRingBuffers * kRingBufferSize));
    if (w->ring == nullptr) {
        free(w);
        return nullptr;
    }
    w->fd = fd;
    w->direct = direct;
    pthread_mutex_init(&w->lock, nullptr);
    pthread_cond_init(&w->changed, nullptr);
    if (pthread_create(&w->thread, nullptr, runWriterThread, w) != 0) {
        releaseWriter(w);
        return nullptr;
    }
    return w;
}

}  // namespace

FILE *openBackgroundWriter(const char *name)
{
    int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    BackgroundWriter *w = newWriter(fd, tryDirectWrites(fd));
    if (w == nullptr) {
        stopDirect(fd);
        // Without a thread the file is still written, on this one.
        FILE *plain = fdopen(fd, "wb+");
        if (plain == nullptr)
            close(fd);
        return plain;
    }
    cookie_io_functions_t io;
    io.read = cookieRead;
    io.write = cookieWrite;
    io.seek = cookieSeek;
    io.close = cookieClose;
    FILE *file = fopencookie(w, "wb+", io);
    if (file == nullptr) {
        cookieClose(w);
        return nullptr;
    }
    w->file = file;
    w->lender.lend = lendRingRoom;
    w->lender.takeBack = takeBackRingRoom;
    w->lender.owner = w;
    rememberWriter(file, w);
    return file;
}

void lendOutputBuffer(TextSink *sink, FILE *stream)
{
    BackgroundWriter *w = findWriter(stream);
    if (w == nullptr || sink->stream != stream)
        return;
    flushTextSink(sink);
    sink->lender = &w->lender;
    refillTextSink(sink);
}

int drainBackgroundWriter(FILE *file)
{
    if (fflush(file) != 0)
        return -1;
    BackgroundWriter *w = findWriter(file);
    if (w == nullptr)
        return fileno(file);
    if (!drain(w) || w->direct)
        return -1;
    return w->fd;
}
