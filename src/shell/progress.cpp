// Progress of long commands (UNLOAD, SCAN) on standard error: blocks read of
// the total when it is known, rows, MB/s and the time, redrawn on one line
// four times a second and erased when the command ends.
//
// The meter is drawn from a timer signal, so that the traversals need no
// calls of their own: it reads the byte count the block reader keeps and
// the context's row counter.  Everything the handler does is safe in a
// signal handler (clock_gettime, write, integer formatting), and with
// SA_RESTART an interrupted read or wait simply goes on.  Forked scan
// workers do not inherit the timer.
#include <csignal>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

constexpr long kFirstDrawMicros = 500000;  // short commands never show a meter
constexpr long kRedrawMicros = 250000;
constexpr int kLineSize = 160;

struct Meter {
    volatile sig_atomic_t active;
    volatile sig_atomic_t drawn;
    const char *label;
    uint64_t totalBlocks;  // 0 when not known
    uint64_t firstBytes;   // the reader's byte count at the start
    uint32_t blockSize;
    const uint64_t *rows;  // null when the command counts none
    struct timespec start;
};

ProgressMode g_mode = kProgressAuto;
Meter g_meter;

struct LineBuffer {
    char text[kLineSize];
    int length;
};

void append(LineBuffer *line, const char *text)
{
    while (*text != '\0' && line->length < kLineSize - 1)
        line->text[line->length++] = *text++;
}

void appendNumber(LineBuffer *line, uint64_t value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0 && line->length < kLineSize - 1)
        line->text[line->length++] = digits[--n];
}

// m:ss, or h:mm:ss from an hour on.
void appendDuration(LineBuffer *line, uint64_t seconds)
{
    uint64_t hours = seconds / 3600;
    uint64_t minutes = seconds / 60 % 60;
    if (hours > 0) {
        appendNumber(line, hours);
        append(line, ":");
        if (minutes < 10)
            append(line, "0");
    }
    appendNumber(line, hours > 0 ? minutes : seconds / 60);
    append(line, seconds % 60 < 10 ? ":0" : ":");
    appendNumber(line, seconds % 60);
}

uint64_t elapsedMillis(const struct timespec *start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t ms = (now.tv_sec - start->tv_sec) * 1000 + (now.tv_nsec - start->tv_nsec) / 1000000;
    return ms > 0 ? static_cast<uint64_t>(ms) : 1;
}

// Blocks (of the total), rows and the rate; then the time and the time left.
void appendCounts(const Meter *meter, LineBuffer *line, uint64_t bytes, uint64_t blocks, uint64_t millis)
{
    appendNumber(line, blocks);
    if (meter->totalBlocks > 0) {
        append(line, "/");
        appendNumber(line, meter->totalBlocks);
    }
    append(line, " blocks  ");
    if (meter->rows != nullptr) {
        appendNumber(line, *meter->rows);
        append(line, " rows  ");
    }
    // Tenths of a megabyte (10^6 bytes) a second.
    uint64_t tenths = bytes / (100 * millis);
    appendNumber(line, tenths / 10);
    append(line, ".");
    appendNumber(line, tenths % 10);
    append(line, " MB/s  ");
}

void composeMeter(const Meter *meter, LineBuffer *line)
{
    uint64_t millis = elapsedMillis(&meter->start);
    uint64_t bytes = g_positionedReads.bytes - meter->firstBytes;
    uint64_t blocks = meter->blockSize != 0 ? bytes / meter->blockSize : 0;
    // Read-ahead fetches whole windows, past a small segment's last block.
    if (meter->totalBlocks > 0 && blocks > meter->totalBlocks)
        blocks = meter->totalBlocks;
    append(line, "\r  ");
    append(line, meter->label);
    append(line, "  ");
    // The parallel scans read in worker processes: this one only waits, and
    // has nothing but the time to show.
    if (bytes > 0 || (meter->rows != nullptr && *meter->rows > 0))
        appendCounts(meter, line, bytes, blocks, millis);
    appendDuration(line, millis / 1000);
    if (meter->totalBlocks > blocks && blocks > 0) {
        append(line, "  ");
        appendDuration(line, (meter->totalBlocks - blocks) * millis / blocks / 1000);
        append(line, " left");
    }
    append(line, "\033[K");
}

void drawMeter(int)
{
    if (!g_meter.active)
        return;
    LineBuffer line;
    line.length = 0;
    composeMeter(&g_meter, &line);
    ssize_t written = write(STDERR_FILENO, line.text, static_cast<size_t>(line.length));
    (void)written;  // a meter that cannot be shown changes nothing
    g_meter.drawn = 1;
}

bool meterWanted()
{
    if (g_mode == kProgressOn)
        return true;
    if (g_mode == kProgressOff)
        return false;
    return isatty(STDERR_FILENO) != 0;
}

void setTimer(long firstMicros, long intervalMicros)
{
    struct itimerval timer;
    timer.it_value.tv_sec = firstMicros / 1000000;
    timer.it_value.tv_usec = firstMicros % 1000000;
    timer.it_interval.tv_sec = intervalMicros / 1000000;
    timer.it_interval.tv_usec = intervalMicros % 1000000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

}  // namespace

void setProgressMode(ProgressMode mode)
{
    g_mode = mode;
}

ProgressMode progressMode()
{
    return g_mode;
}

void beginProgress(const char *label, uint64_t totalBlocks, uint32_t blockSize, const uint64_t *rows)
{
    if (g_meter.active || !meterWanted())
        return;
    g_meter.label = label;
    g_meter.totalBlocks = totalBlocks;
    g_meter.firstBytes = g_positionedReads.bytes;
    g_meter.blockSize = blockSize;
    g_meter.rows = rows;
    g_meter.drawn = 0;
    clock_gettime(CLOCK_MONOTONIC, &g_meter.start);
    // The handler stays once installed: a tick still pending when a command
    // ends then finds the meter idle instead of ending the program.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = drawMeter;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    g_meter.active = 1;
    setTimer(kFirstDrawMicros, kRedrawMicros);
}

void addProgressTotal(uint64_t blocks)
{
    if (g_meter.active)
        g_meter.totalBlocks += blocks;
}

bool progressShowing()
{
    return g_meter.active != 0;
}

void endProgress()
{
    if (!g_meter.active)
        return;
    setTimer(0, 0);
    // Forced on, the meter shows at least once, with the final figures (a
    // log of standard error keeps them).
    if (g_mode == kProgressOn)
        drawMeter(0);
    g_meter.active = 0;
    if (g_meter.drawn) {
        static const char kErase[] = "\r\033[K";
        ssize_t written = write(STDERR_FILENO, kErase, sizeof kErase - 1);
        (void)written;
    }
}
