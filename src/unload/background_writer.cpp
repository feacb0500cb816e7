// The output file of an unload, written by a thread of its own.
//
// A ring of kRingBuffers fixed buffers: the decoding thread fills the buffer
// at `handed`, the writer thread writes the one at `written`; a buffer is
// handed over when full (or when the file is closed, sought or read).  The
// decoding thread waits only when every buffer is still waiting to be
// written, so memory stays at kRingBuffers * kRingBufferSize whatever the
// disk does.
#include "unload/background_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr size_t kRingBufferSize = 1u << 20;
constexpr uint32_t kRingBuffers = 4;

struct BackgroundWriter {
    int fd;
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;
    char *ring;                     // kRingBuffers * kRingBufferSize bytes
    size_t length[kRingBuffers];    // bytes of each handed buffer
    uint64_t handed;                // buffers given to the writer thread
    uint64_t written;               // buffers it has written
    size_t filling;                 // bytes in the buffer being filled
    bool closing;
    bool failed;                    // a write failed: the file is incomplete
};

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
        bool ok = failed || writeAll(w->fd, bufferAt(w, sequence), length);
        pthread_mutex_lock(&w->lock);
        if (!ok)
            w->failed = true;
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
    // Reading `failed` unlocked is only a hint; fclose reports it for sure.
    pthread_mutex_lock(&w->lock);
    bool failed = w->failed;
    pthread_mutex_unlock(&w->lock);
    return failed ? -1 : static_cast<ssize_t>(size);
}

ssize_t cookieRead(void *cookie, char *data, size_t size)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(cookie);
    if (!drain(w))
        return -1;
    return read(w->fd, data, size);
}

int cookieSeek(void *cookie, off64_t *offset, int whence)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(cookie);
    if (!drain(w))
        return -1;
    off64_t at = lseek64(w->fd, *offset, whence);
    if (at < 0)
        return -1;
    *offset = at;
    return 0;
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
    drain(w);
    pthread_mutex_lock(&w->lock);
    w->closing = true;
    pthread_cond_broadcast(&w->changed);
    pthread_mutex_unlock(&w->lock);
    pthread_join(w->thread, nullptr);
    bool ok = !w->failed;
    if (close(w->fd) != 0)
        ok = false;
    releaseWriter(w);
    return ok ? 0 : EOF;
}

BackgroundWriter *newWriter(int fd)
{
    BackgroundWriter *w = static_cast<BackgroundWriter *>(calloc(1, sizeof(BackgroundWriter)));
    if (w == nullptr)
        return nullptr;
    w->ring = static_cast<char *>(malloc(kRingBuffers * kRingBufferSize));
    if (w->ring == nullptr) {
        free(w);
        return nullptr;
    }
    w->fd = fd;
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
    BackgroundWriter *w = newWriter(fd);
    if (w == nullptr) {
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
    return file;
}
