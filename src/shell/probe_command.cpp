// PROBE [file]: the settings a datafile needs, with the evidence, and the
// lines to paste: SET commands and the configuration-file line.  Without a
// file, every file of the open set.
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

constexpr int kPathSize = 1024;

void printFirstBytes(const uint8_t *buffer, uint64_t length)
{
    uint64_t n = length < 16 ? length : 16;
    for (uint64_t i = 0; i < n; i++)
        printf("%02x", buffer[i]);
}

void printNotRecognised(const char *path, const uint8_t *buffer, uint64_t fileSize)
{
    printf("  File %s not recognised: %llu bytes, no Oracle file header at block 1 for any block size "
           "2048 .. 32768, either byte order, leading header 0 .. %u bytes",
           path, static_cast<unsigned long long>(fileSize), kProbeMaxHeader);
    if (fileSize > 0) {
        printf("; first bytes ");
        printFirstBytes(buffer, fileSize);
    }
    printf("\n");
}

// The settings lines, the same for a file with a header and one without.
void printSettings(const char *path, const ProbeResult *r)
{
    const char *order = r->byteOrder ? "BIG" : "LITTLE";
    printf("SET BLOCK_SIZE %u\n", r->blockSize);
    printf("SET BYTE_ORDER %s\n", order);
    if (r->headerSize != 0)
        printf("SET HEAD_SIZE %u\n", r->headerSize);
    if (r->bigfile)
        printf("SET BIGFILE YES\n");
    // The registry takes a file's header size from its configuration line.
    if (r->headerSize != 0)
        printf("  Configuration file line (its second word is the header size):\n%s %u\n", path,
               r->headerSize);
    else
        printf("  Configuration file line:\n%s\n", path);
}

void printInferred(const char *path, const ProbeResult *r, uint64_t fileSize)
{
    printf("  File %s: %llu bytes\n", path, static_cast<unsigned long long>(fileSize));
    printf(
        "  File header unreadable: no Oracle file header at block 1 for any block size 2048 .. 32768, either "
        "byte order, leading header 0 .. %u bytes\n",
        kProbeMaxHeader);
    printf(
        "  Inferred from the blocks: %u blocks carry their own address and tail at block size %u read "
        "%s-endian, leading header %u, relative file %u; the first is block %u at byte %llu\n",
        r->votes, r->blockSize, r->byteOrder ? "big" : "little", r->headerSize, r->rfn, r->firstSampled,
        static_cast<unsigned long long>(r->headerSize) +
            static_cast<unsigned long long>(r->firstSampled) * r->blockSize);
    printf(
        "  Sampled blocks %u .. %u: %u formatted, %u carry their own block number, %u pass their checksum\n",
        r->firstSampled, r->firstSampled + 63, r->sampled, r->ownAddress, r->checksummed);
    printf(
        "  Block size %u, byte order %s, header size %u, %s, relative file %u, tablespace unknown, database "
        "unknown\n",
        r->blockSize, r->byteOrder ? "BIG" : "LITTLE", r->headerSize, r->bigfile ? "bigfile" : "smallfile",
        r->rfn);
    printSettings(path, r);
}

void printEvidence(const char *path, const ProbeResult *r, uint64_t fileSize)
{
    const char *order = r->byteOrder ? "BIG" : "LITTLE";
    printf("  File %s: %llu bytes\n", path, static_cast<unsigned long long>(fileSize));
    printf("  File header at byte %llu: format 0x%02x, block size field %u read %s-endian, block 1 of relative "
           "file %u\n",
           static_cast<unsigned long long>(r->headerSize) + r->blockSize, r->format, r->blockSize,
           r->byteOrder ? "big" : "little", r->rfn);
    printf("  Sampled blocks 2 .. 65: %u formatted, %u carry their own block number, %u pass their checksum\n",
           r->sampled, r->ownAddress, r->checksummed);
    uint64_t blocks = fileSize > r->headerSize ? (fileSize - r->headerSize) / r->blockSize : 0;
    if (blocks < static_cast<uint64_t>(r->headerBlocks) + 1)
        printf("  The file holds %llu blocks, its header counts %u after block 0: the file is cut short\n",
               static_cast<unsigned long long>(blocks), r->headerBlocks);
    printf("  Block size %u, byte order %s, header size %u, %s, relative file %u, tablespace %u, database %s\n",
           r->blockSize, order, r->headerSize, r->bigfile ? "bigfile" : "smallfile", r->rfn, r->tablespace,
           r->databaseName);
    printSettings(path, r);
}

void probeOneFile(const char *path, uint8_t *buffer)
{
    ProbeResult result;
    uint64_t fileSize = 0;
    int found = probeDatafile(path, buffer, kProbeReadSize, &result, &fileSize);
    if (found < 0)
        printf("Cannot open file : %s \n", path);
    else if (found == 0)
        printNotRecognised(path, buffer, result.bytesRead);
    else if (result.headerless)
        printInferred(path, &result, fileSize);
    else
        printEvidence(path, &result, fileSize);
}

}  // namespace

void runProbeCommand(ShellState *shell)
{
    uint8_t *buffer = static_cast<uint8_t *>(malloc(kProbeReadSize));
    if (buffer == nullptr)
        return;
    char path[kPathSize];
    if (scanNextWord(shell->command) > 0) {
        copyCurrentWord(shell->command, path, sizeof path);
        probeOneFile(path, buffer);
    } else if (shell->datafiles != nullptr) {
        uint32_t count = shell->datafiles->count < static_cast<uint32_t>(kMaxDatafiles) ? shell->datafiles->count
                                                                                       : kMaxDatafiles;
        for (uint32_t pos = 0; pos < count; pos++)
            probeOneFile(shell->datafiles->path[pos], buffer);
    }
    free(buffer);
}
