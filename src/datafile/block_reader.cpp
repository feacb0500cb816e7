// Block reads by relative file number and block number, or by RDBA, through
// a read-ahead window: one positioned read fetches capacity / B consecutive
// blocks, so walking a segment costs one system call per window, not per
// block.  Every read lands in the context's block buffer.
//
// Block n of a plain file lies at byte n * B + the position's header size
// (raw devices carry a leading header).  With BIGFILE on, the 32 bits of an
// address are one block number in the file of relative file number 0.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// ASM disk groups are the storage below the datafiles: a file inside a disk
// group is read through its extent map.  asm/ needs nothing above core/.
#include "asm/asm.h"
#include "datafile/datafile.h"
#include "core/unload_context.h"

PositionedReadStats g_positionedReads = {0, 0, 0, 0};

namespace {

// The one place a datafile is read: positioned, so no shared file offset is
// ever used or moved.  Returns the bytes read, or -1.
ssize_t readAt(FILE *stream, uint8_t *dest, uint32_t length, uint64_t offset)
{
    g_positionedReads.calls++;
    g_positionedReads.lastOffset = offset;
    g_positionedReads.lastLength = length;
    ssize_t n = pread64(fileno(stream), dest, length, static_cast<off64_t>(offset));
    if (n > 0)
        g_positionedReads.bytes += static_cast<uint64_t>(n);
    return n;
}

// Splits an address by the BIGFILE rule: the key file to look up and the
// block number inside it.
void resolveAddress(const UnloadContext *ctx, uint32_t file, uint32_t block, uint32_t *keyFile,
                    uint32_t *address)
{
    if (ctx->bigfile) {
        *keyFile = 0;
        *address = (file << kRdbaFileShift) + block;
    } else {
        *keyFile = file;
        *address = block;
    }
}

bool windowHolds(const ReadAheadWindow *window, uint32_t file, uint32_t address)
{
    return window->count != 0 && window->file == file && window->first <= address &&
           static_cast<uint64_t>(address) < static_cast<uint64_t>(window->first) + window->count;
}

uint64_t blockOffset(const DatafileSet *set, uint32_t pos, uint32_t block, uint32_t blockSize)
{
    return static_cast<uint64_t>(block) * blockSize + set->headerSize[pos];
}

// One block of position pos straight into dest; the byte count as it came.
int readOneBlock(DatafileSet *set, UnloadContext *ctx, uint32_t pos, uint32_t block, uint8_t *dest)
{
    uint32_t blockSize = ctx->blockSize;
    if (set->handle[pos] != nullptr)
        return static_cast<int>(
            readAt(set->handle[pos], dest, blockSize, blockOffset(set, pos, block, blockSize)));
    if (set->asmFile[pos] != nullptr)
        return static_cast<int>(
            readASMOracleBlock(ctx->asmGroup, set->asmFile[pos], block, blockSize, dest, 1));
    return 0;
}

}  // namespace

void emptyReadAheadWindow(ReadAheadWindow *window)
{
    window->file = 0;
    window->first = 0;
    window->count = 0;
}

const uint8_t *peekBlockThroughWindow(DatafileSet *set, UnloadContext *ctx, ReadAheadWindow *window,
                                      uint32_t file, uint32_t block)
{
    uint32_t blockSize = ctx->blockSize;
    if (set == nullptr || window == nullptr || blockSize == 0)
        return nullptr;
    uint32_t keyFile;
    uint32_t address;
    resolveAddress(ctx, file, block, &keyFile, &address);

    int found = getFileIndex(set, keyFile);   // index plus its last-hit shortcut
    if (found < 0)
        return nullptr;
    uint32_t pos = static_cast<uint32_t>(found);

    if (windowHolds(window, keyFile, address))
        return window->buffer + static_cast<size_t>(address - window->first) * blockSize;
    if (pos >= set->count || window->buffer == nullptr) {
        emptyReadAheadWindow(window);
        return nullptr;
    }

    ssize_t got;
    if (set->handle[pos] != nullptr) {
        got = readAt(set->handle[pos], window->buffer, window->capacity,
                     blockOffset(set, pos, address, blockSize));
    } else if (set->asmFile[pos] != nullptr) {
        got = readASMOracleBlock(ctx->asmGroup, set->asmFile[pos], address, blockSize,
                                 window->buffer, window->capacity / blockSize);
    } else {
        emptyReadAheadWindow(window);
        return nullptr;
    }
    if (got <= 0) {
        emptyReadAheadWindow(window);
        return nullptr;
    }
    if (static_cast<uint64_t>(got) > window->capacity)   // never trust a count beyond the buffer
        got = window->capacity;

    window->file = static_cast<uint16_t>(keyFile);
    window->first = address;
    uint64_t held = static_cast<uint64_t>(got) / blockSize;
    window->count = static_cast<uint16_t>(held > 0xFFFF ? 0xFFFF : held);
    if (window->count == 0)
        return nullptr;
    return window->buffer;
}

int readBlockThroughWindow(DatafileSet *set, UnloadContext *ctx, ReadAheadWindow *window,
                           uint32_t file, uint32_t block)
{
    const uint8_t *held = peekBlockThroughWindow(set, ctx, window, file, block);
    if (held == nullptr)
        return 0;
    memcpy(ctx->block, held, ctx->blockSize);
    return static_cast<int>(ctx->blockSize);
}

int readBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block)
{
    return readBlockThroughWindow(set, ctx, ctx->dataWindow, file, block);
}

int readRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba)
{
    return readBlock(set, ctx, getRDBAFile(rdba), getRDBABlock(rdba));
}

int readSingleBlock(DatafileSet *set, UnloadContext *ctx, uint32_t file, uint32_t block)
{
    uint32_t blockSize = ctx->blockSize;
    if (set == nullptr || blockSize == 0)
        return 0;
    uint32_t keyFile;
    uint32_t address;
    resolveAddress(ctx, file, block, &keyFile, &address);

    int found = getFileIndex(set, keyFile);   // index plus its last-hit shortcut
    if (found < 0)
        return 0;
    uint32_t pos = static_cast<uint32_t>(found);

    const ReadAheadWindow *window = ctx->dataWindow;
    if (window != nullptr && window->buffer != nullptr && windowHolds(window, keyFile, address)) {
        memcpy(ctx->block, window->buffer + static_cast<size_t>(address - window->first) * blockSize,
               blockSize);
        return static_cast<int>(blockSize);
    }
    if (pos >= set->count)
        return 0;
    return readOneBlock(set, ctx, pos, address, ctx->block);
}

int readSingleRDBA(DatafileSet *set, UnloadContext *ctx, uint32_t rdba)
{
    return readSingleBlock(set, ctx, getRDBAFile(rdba), getRDBABlock(rdba));
}

int readDirect(DatafileSet *set, UnloadContext *ctx, uint32_t position, uint32_t block)
{
    if (set == nullptr || ctx->blockSize == 0 || position >= set->count)
        return 0;
    return readOneBlock(set, ctx, position, block, ctx->block);
}

namespace {

int copyOwnBlock(const UnloadContext *src, UnloadContext *dest)
{
    dest->block = static_cast<uint8_t *>(malloc(src->blockSize == 0 ? 1 : src->blockSize));
    if (dest->block == nullptr)
        return 0;
    if (src->blockSize != 0 && src->block != nullptr)
        memcpy(dest->block, src->block, src->blockSize);
    return 1;
}

}  // namespace

int copyBlock(const UnloadContext *src, UnloadContext *dest)
{
    *dest = *src;
    dest->origin = src->origin != nullptr ? src->origin : const_cast<UnloadContext *>(src);
    return copyOwnBlock(src, dest);
}

int copyBlockOnly(const UnloadContext *src, UnloadContext *dest)
{
    // The per-column arrays close the record: everything before them.
    memcpy(static_cast<void *>(dest), static_cast<const void *>(src), offsetof(UnloadContext, columnTypes));
    dest->origin = src->origin != nullptr ? src->origin : const_cast<UnloadContext *>(src);
    return copyOwnBlock(src, dest);
}
