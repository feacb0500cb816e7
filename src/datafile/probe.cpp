// PROBE: finds the settings a datafile needs (block size, byte order,
// leading header, bigfile) from its own bytes, never from its name.  The
// file header (block 1) must name the block size it sits in, in one byte
// order, and carry block number 1 in its address; blocks after it are
// sampled for their own addresses and checksums as further evidence.
//
// When no file header is found, the blocks speak for themselves: a block
// whose tail repeats its type, sequence and SCN at one block size and byte
// order, and whose own address then places block 0 on a sector boundary,
// votes for that block size, byte order, leading header and file.  The
// settings most blocks agree on are taken, so a file whose first megabyte
// was overwritten can still be opened.
//
// The analysis works on an image of the file's first bytes, so that every
// offset it computes is checked against what was read.
#include "datafile/datafile.h"

#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint32_t kBlockSizes[] = {2048, 4096, 8192, 16384, 32768};
constexpr uint32_t kHeaderStep = 512;           // leading headers are whole sectors
constexpr uint32_t kTypeFileHeader = 11;
constexpr uint32_t kRdbaOffset = 4;
constexpr uint32_t kBlockSizeField = 48;
constexpr uint32_t kBlockCountField = 44;
constexpr uint32_t kDatabaseName = 32;
constexpr uint32_t kFlagOffset = 15;
constexpr uint8_t kFlagChecksum = 0x04;
constexpr uint32_t kSampledBlocks = 64;
constexpr uint32_t kScnOffset = 8;
constexpr uint32_t kSeqOffset = 14;
// A single block agreeing with itself could be chance in random bytes; a few
// from the same file at the same settings are not.
constexpr uint32_t kMinimumVotes = 3;
constexpr uint32_t kMaxCandidates = 64;

struct Candidate {
    uint32_t blockSize;
    uint32_t headerSize;
    uint32_t rfn;
    uint8_t byteOrder;
    uint8_t format;
    uint32_t votes;
    uint32_t firstBlock;  // lowest block number that voted
};

uint32_t readU32(const uint8_t *p, uint8_t order)
{
    if (order == 1)
        return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// Oracle's block format bytes all end in the nibble 2 (0x02, 0x22 .. 0xC2).
bool isFormatByte(uint8_t format)
{
    return (format & 0x0F) == 0x02;
}

// The file header of a file with this block size, leading header and byte
// order, if block 1 is one.
bool isFileHeaderAt(const uint8_t *image, uint64_t length, uint32_t head, uint32_t size, uint8_t order)
{
    uint64_t at = static_cast<uint64_t>(head) + size;
    if (at + size > length)
        return false;
    const uint8_t *block = image + at;
    if (block[0] != kTypeFileHeader || !isFormatByte(block[1]))
        return false;
    return readU32(block + kBlockSizeField, order) == size &&
           (readU32(block + kRdbaOffset, order) & kRdbaBlockMask) == 1;
}

void sampleBlocks(const uint8_t *image, uint64_t length, uint32_t first, ProbeResult *r)
{
    r->firstSampled = first;
    for (uint32_t n = first; n < first + kSampledBlocks; n++) {
        uint64_t at = r->headerSize + static_cast<uint64_t>(n) * r->blockSize;
        if (at + r->blockSize > length)
            break;
        const uint8_t *block = image + at;
        if (block[0] == 0)
            continue;
        r->sampled++;
        uint32_t rdba = readU32(block + kRdbaOffset, r->byteOrder);
        if ((rdba & kRdbaBlockMask) == n && (!r->bigfile || rdba == n))
            r->ownAddress++;
        if ((block[kFlagOffset] & kFlagChecksum) != 0 && do_checksum(r->blockSize, block) == 0)
            r->checksummed++;
    }
}

void takeHeaderFields(const uint8_t *header, ProbeResult *r)
{
    uint8_t order = r->byteOrder;
    uint32_t rdba = readU32(header + kRdbaOffset, order);
    r->format = header[1];
    r->rfn = rdba >> kRdbaFileShift;
    // A bigfile's addresses hold no file number: its header is block 1 of
    // relative file 0.
    r->bigfile = r->rfn == 0;
    r->headerBlocks = readU32(header + kBlockCountField, order);
    uint32_t tsOffset = r->format == 0x02 ? 244 : 332;
    r->tablespace = readU32(header + tsOffset, order);
    for (int i = 0; i < 8; i++) {
        uint8_t c = header[kDatabaseName + i];
        r->databaseName[i] = static_cast<char>(isprint(c) ? c : (c == 0 ? 0 : '?'));
    }
    r->databaseName[8] = '\0';
}

// The tail of a block repeats the low half of its SCN base, its type and
// its sequence: written last, it only matches at the block's true size.
bool tailMatches(const uint8_t *block, uint32_t size, uint8_t order)
{
    uint32_t scn = readU32(block + kScnOffset, order);
    uint32_t expected = (scn & 0xFFFFu) << 16 | static_cast<uint32_t>(block[0]) << 8 | block[kSeqOffset];
    return readU32(block + size - 4, order) == expected;
}

void vote(Candidate *candidates, uint32_t *count, const Candidate &c, uint32_t blockNo)
{
    for (uint32_t i = 0; i < *count; i++) {
        Candidate *k = &candidates[i];
        if (k->blockSize == c.blockSize && k->headerSize == c.headerSize && k->rfn == c.rfn &&
            k->byteOrder == c.byteOrder) {
            k->votes++;
            if (blockNo < k->firstBlock)
                k->firstBlock = blockNo;
            return;
        }
    }
    // Past the table's end, further settings are noise beside those kept.
    if (*count < kMaxCandidates) {
        candidates[*count] = c;
        candidates[*count].votes = 1;
        candidates[*count].firstBlock = blockNo;
        (*count)++;
    }
}

// Each sector boundary of the image is tried as a block start; the work is
// bounded by the image (at most kProbeReadSize bytes) times the ten settings.
bool inferFromBlocks(const uint8_t *image, uint64_t length, ProbeResult *r)
{
    Candidate candidates[kMaxCandidates];
    uint32_t count = 0;
    for (uint64_t at = 0; at + kBlockSizes[0] <= length; at += kHeaderStep) {
        const uint8_t *block = image + at;
        if (block[0] == 0 || block[0] == kTypeFileHeader || !isFormatByte(block[1]))
            continue;
        for (uint32_t size : kBlockSizes) {
            if (at + size > length)
                break;
            for (uint8_t order = 0; order < 2; order++) {
                if (!tailMatches(block, size, order))
                    continue;
                uint32_t rdba = readU32(block + kRdbaOffset, order);
                uint32_t blockNo = rdba & kRdbaBlockMask;
                // Blocks 0 and 1 are the headers this path runs without.
                if (blockNo < 2)
                    continue;
                uint64_t start = static_cast<uint64_t>(blockNo) * size;
                if (start > at || at - start > kProbeMaxHeader || (at - start) % kHeaderStep != 0)
                    continue;
                Candidate c{};
                c.blockSize = size;
                c.headerSize = static_cast<uint32_t>(at - start);
                c.rfn = rdba >> kRdbaFileShift;
                c.byteOrder = order;
                c.format = block[1];
                vote(candidates, &count, c, blockNo);
            }
        }
    }
    const Candidate *best = nullptr;
    for (uint32_t i = 0; i < count; i++)
        if (best == nullptr || candidates[i].votes > best->votes)
            best = &candidates[i];
    if (best == nullptr || best->votes < kMinimumVotes)
        return false;
    r->found = 1;
    r->headerless = 1;
    r->votes = best->votes;
    r->blockSize = best->blockSize;
    r->headerSize = best->headerSize;
    r->byteOrder = best->byteOrder;
    r->format = best->format;
    r->rfn = best->rfn;
    r->bigfile = r->rfn == 0;
    sampleBlocks(image, length, best->firstBlock, r);
    return true;
}

}  // namespace

int probeDatafileImage(const uint8_t *image, uint64_t length, ProbeResult *r)
{
    memset(r, 0, sizeof *r);
    if (image == nullptr)
        return 0;
    uint64_t lastHead = length < kProbeMaxHeader ? length : kProbeMaxHeader;
    for (uint64_t head = 0; head <= lastHead; head += kHeaderStep) {
        for (uint32_t size : kBlockSizes) {
            for (uint8_t order = 0; order < 2; order++) {
                if (!isFileHeaderAt(image, length, static_cast<uint32_t>(head), size, order))
                    continue;
                r->found = 1;
                r->headerSize = static_cast<uint32_t>(head);
                r->blockSize = size;
                r->byteOrder = order;
                takeHeaderFields(image + head + size, r);
                sampleBlocks(image, length, 2, r);
                return 1;
            }
        }
    }
    return inferFromBlocks(image, length, r) ? 1 : 0;
}

int probeDatafile(const char *path, uint8_t *buffer, uint32_t capacity, ProbeResult *r, uint64_t *fileSize)
{
    memset(r, 0, sizeof *r);
    *fileSize = 0;
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return -1;
    off_t end = lseek(fd, 0, SEEK_END);
    *fileSize = end > 0 ? static_cast<uint64_t>(end) : 0;
    uint64_t got = 0;
    while (got < capacity) {
        ssize_t n = pread(fd, buffer + got, capacity - got, static_cast<off_t>(got));
        if (n <= 0)
            break;
        got += static_cast<uint64_t>(n);
    }
    close(fd);
    r->bytesRead = got;
    int found = probeDatafileImage(buffer, got, r);
    r->bytesRead = got;
    return found;
}
