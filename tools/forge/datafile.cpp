// Datafiles, their configuration file, and the damage helpers that spoil
// them afterwards.
#include "forge/forge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace forge {

static void setError(char *error, size_t errorLength, const char *what, const char *path) {
    if (error == nullptr || errorLength == 0) return;
    snprintf(error, errorLength, "%s %s: %s", what, path, strerror(errno));
}

static void setMessage(char *error, size_t errorLength, const char *message) {
    if (error == nullptr || errorLength == 0) return;
    snprintf(error, errorLength, "%s", message);
}

void initDatafileLayout(DatafileLayout *layout, const char *path, uint16_t rfn,
                      uint32_t blockCount, uint32_t blockSize, ByteOrder order) {
    memset(layout->path, 0, sizeof layout->path);
    snprintf(layout->path, sizeof layout->path, "%s", path);
    layout->headerSize = 0;
    layout->blockSize = blockSize;
    layout->order = order;
    layout->blockCount = blockCount;
    layout->bigfile = false;
    layout->rfn = rfn;
    layout->osBlock = kOsBlockPlain;
    layout->writeOsBlock = true;
    layout->writeFileHeader = true;
    initFileHeader(&layout->header);
    syncFileHeader(layout);
}

void syncFileHeader(DatafileLayout *layout) {
    layout->header.cache.type = kTypeFileHeader;
    layout->header.cache.rdba = blockRdba(layout, 1);
    layout->header.fileNumber = layout->rfn;
    layout->header.blockSize = layout->blockSize;
    // Oracle counts the blocks of a datafile without the OS block.
    layout->header.blockCount = layout->blockCount > 0 ? layout->blockCount - 1 : 0;
}

uint32_t blockRdba(const DatafileLayout *layout, uint32_t blockNo) {
    return layout->bigfile ? makeBigfileRdba(blockNo) : makeRdba(layout->rfn, blockNo);
}

uint64_t blockOffset(const DatafileLayout *layout, uint32_t blockNo) {
    return (uint64_t)layout->headerSize + (uint64_t)blockNo * layout->blockSize;
}

static bool writeAll(int fd, const uint8_t *data, size_t length, uint64_t offset) {
    while (length > 0) {
        ssize_t n = pwrite(fd, data, length, (off_t)offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= (size_t)n;
        offset += (uint64_t)n;
    }
    return true;
}

static bool readAll(int fd, uint8_t *data, size_t length, uint64_t offset) {
    while (length > 0) {
        ssize_t n = pread(fd, data, length, (off_t)offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= (size_t)n;
        offset += (uint64_t)n;
    }
    return true;
}

bool openDatafileWriter(DatafileWriter *writer, const DatafileLayout *layout,
                        char *error, size_t errorLength) {
    writer->fd = -1;
    writer->layout = *layout;
    if (!isValidBlockSize(layout->blockSize)) {
        setMessage(error, errorLength, "block size must be 2048, 4096, 8192, 16384 or 32768");
        return false;
    }
    int fd = open(layout->path, O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        setError(error, errorLength, "cannot create", layout->path);
        return false;
    }
    writer->fd = fd;
    if (ftruncate(fd, (off_t)blockOffset(layout, layout->blockCount)) != 0) {
        setError(error, errorLength, "cannot size", layout->path);
        closeDatafileWriter(writer, nullptr, 0);
        return false;
    }
    Block block;
    if (layout->writeOsBlock && layout->blockCount > 0) {
        initBlock(&block, layout->blockSize, layout->order);
        putOsHeader(&block, layout->osBlock, layout->header.cache.format, layout->header.blockCount);
        if (!writeBlockAt(writer, 0, &block, error, errorLength)) {
            closeDatafileWriter(writer, nullptr, 0);
            return false;
        }
    }
    if (layout->writeFileHeader && layout->blockCount > 1) {
        initBlock(&block, layout->blockSize, layout->order);
        if (!putFileHeader(&block, &layout->header)) {
            setMessage(error, errorLength, "file header format must be 0x02, 0xA2 or 0xC2");
            closeDatafileWriter(writer, nullptr, 0);
            return false;
        }
        sealBlock(&block);
        if (!writeBlockAt(writer, 1, &block, error, errorLength)) {
            closeDatafileWriter(writer, nullptr, 0);
            return false;
        }
    }
    return true;
}

bool writeBlockAt(DatafileWriter *writer, uint32_t blockNo, const Block *block,
                  char *error, size_t errorLength) {
    if (writer->fd < 0) {
        setMessage(error, errorLength, "datafile is not open");
        return false;
    }
    if (block->size != writer->layout.blockSize || block->bytes.size() != block->size) {
        if (error != nullptr && errorLength > 0)
            snprintf(error, errorLength, "block %u is %u bytes, the file's blocks are %u",
                     blockNo, block->size, writer->layout.blockSize);
        return false;
    }
    if (blockNo >= writer->layout.blockCount) {
        if (error != nullptr && errorLength > 0)
            snprintf(error, errorLength, "block %u is beyond the %u blocks of %s", blockNo,
                     writer->layout.blockCount, writer->layout.path);
        return false;
    }
    if (!writeAll(writer->fd, block->bytes.data(), block->size,
                  blockOffset(&writer->layout, blockNo))) {
        setError(error, errorLength, "cannot write", writer->layout.path);
        return false;
    }
    return true;
}

bool closeDatafileWriter(DatafileWriter *writer, char *error, size_t errorLength) {
    if (writer->fd < 0) return true;
    int rc = close(writer->fd);
    writer->fd = -1;
    if (rc != 0) {
        setError(error, errorLength, "cannot close", writer->layout.path);
        return false;
    }
    return true;
}

bool writeDatafile(const DatafileLayout *layout, const PlacedBlock *blocks, size_t count,
                   char *error, size_t errorLength) {
    DatafileWriter writer;
    if (!openDatafileWriter(&writer, layout, error, errorLength)) return false;
    for (size_t i = 0; i < count; i++) {
        if (!writeBlockAt(&writer, blocks[i].blockNo, &blocks[i].block, error, errorLength)) {
            closeDatafileWriter(&writer, nullptr, 0);
            return false;
        }
    }
    return closeDatafileWriter(&writer, error, errorLength);
}

void formatConfigLine(char *out, size_t outLength, const char *path, uint32_t headerSize) {
    if (headerSize != 0)
        snprintf(out, outLength, "%s %u\n", path, headerSize);
    else
        snprintf(out, outLength, "%s\n", path);
}

bool writeConfigFile(const char *path, const char *const *lines, size_t count,
                     char *error, size_t errorLength) {
    FILE *out = fopen(path, "wb");
    if (out == nullptr) {
        setError(error, errorLength, "cannot create", path);
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < count && ok; i++) ok = fputs(lines[i], out) >= 0;
    if (fclose(out) != 0) ok = false;
    if (!ok) setError(error, errorLength, "cannot write", path);
    return ok;
}

bool writeConfigForFiles(const char *path, const DatafileLayout *const *files, size_t count,
                         char *error, size_t errorLength) {
    std::vector<std::vector<char>> text(count, std::vector<char>(kMaxPath + 32));
    std::vector<const char *> lines(count);
    for (size_t i = 0; i < count; i++) {
        formatConfigLine(text[i].data(), text[i].size(), files[i]->path, files[i]->headerSize);
        lines[i] = text[i].data();
    }
    return writeConfigFile(path, lines.data(), count, error, errorLength);
}

// --- damage -------------------------------------------------------------

static int openForDamage(const char *path, char *error, size_t errorLength) {
    int fd = open(path, O_RDWR);
    if (fd < 0) setError(error, errorLength, "cannot open", path);
    return fd;
}

static bool xorFileByte(const char *path, uint64_t offset, uint8_t mask,
                        char *error, size_t errorLength) {
    int fd = openForDamage(path, error, errorLength);
    if (fd < 0) return false;
    uint8_t byte = 0;
    bool ok = readAll(fd, &byte, 1, offset);
    if (!ok) {
        errno = ERANGE;
        setError(error, errorLength, "offset beyond the end of", path);
    } else {
        byte ^= mask;
        ok = writeAll(fd, &byte, 1, offset);
        if (!ok) setError(error, errorLength, "cannot write", path);
    }
    close(fd);
    return ok;
}

bool flipFileBit(const char *path, uint64_t offset, unsigned bit, char *error, size_t errorLength) {
    if (bit > 7) {
        setMessage(error, errorLength, "bit must be 0..7");
        return false;
    }
    return xorFileByte(path, offset, (uint8_t)(1u << bit), error, errorLength);
}

bool flipFileByte(const char *path, uint64_t offset, char *error, size_t errorLength) {
    return xorFileByte(path, offset, 0xFF, error, errorLength);
}

bool overwriteFileRange(const char *path, uint64_t offset, const void *data, size_t length,
                        char *error, size_t errorLength) {
    int fd = openForDamage(path, error, errorLength);
    if (fd < 0) return false;
    bool ok = writeAll(fd, (const uint8_t *)data, length, offset);
    if (!ok) setError(error, errorLength, "cannot write", path);
    close(fd);
    return ok;
}

bool zeroFileRange(const char *path, uint64_t offset, size_t length, char *error, size_t errorLength) {
    std::vector<uint8_t> zeros(length, 0);
    return overwriteFileRange(path, offset, zeros.data(), length, error, errorLength);
}

bool truncateFile(const char *path, uint64_t size, char *error, size_t errorLength) {
    if (truncate(path, (off_t)size) != 0) {
        setError(error, errorLength, "cannot truncate", path);
        return false;
    }
    return true;
}

bool resealFileBlock(const char *path, uint64_t offset, uint32_t blockSize,
                     char *error, size_t errorLength) {
    if (!isValidBlockSize(blockSize)) {
        setMessage(error, errorLength, "block size must be 2048, 4096, 8192, 16384 or 32768");
        return false;
    }
    int fd = openForDamage(path, error, errorLength);
    if (fd < 0) return false;
    std::vector<uint8_t> bytes(blockSize);
    bool ok = readAll(fd, bytes.data(), blockSize, offset);
    if (!ok) {
        errno = ERANGE;
        setError(error, errorLength, "block beyond the end of", path);
    } else {
        sealBytes(bytes.data(), blockSize);
        ok = writeAll(fd, bytes.data() + kChecksumOffset, 2, offset + kChecksumOffset);
        if (!ok) setError(error, errorLength, "cannot write", path);
    }
    close(fd);
    return ok;
}

}  // namespace forge
