// The ASM metadata decoders and the disk-group walks on a disk image the
// fuzzer supplies: the decoders on its first block, then the image opened as
// a one-disk group (its header, the F1B1 AU and the system files), the disk,
// file directory and alias listings, the extent walks, the extent cache, the
// Oracle block reads, the AU scans and a copy out of a few files.
//
// Input: byte 0 bit 0 picks the metadata block size (2048 or 4096), bits 1-2
// the AU size (8, 16, 32 or 64 KB); byte 1 a file number to look for besides
// 1, 2, 6, 7 and 256; the rest is the disk image.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/asm_commands.h"
#include "fuzz_context.h"

namespace {

constexpr size_t kPrefix = 2;

struct AsmFuzzState {
    int imageFd;
    char listPath[64];
    AsmDiskGroup *group;
    AsmFileRecord *record;
    FILE *sink;
};

AsmFuzzState g_asm;
volatile uint64_t g_sink;

void setUp()
{
    g_asm.imageFd = memfd_create("zor-asm-disk", 0);
    int listFd = memfd_create("zor-asm-list", 0);
    if (g_asm.imageFd < 0 || listFd < 0) {
        perror("memfd_create");
        abort();
    }
    char line[64];
    int n = snprintf(line, sizeof line, "/proc/self/fd/%d\n", g_asm.imageFd);
    if (pwrite(listFd, line, (size_t)n, 0) != n)
        abort();
    snprintf(g_asm.listPath, sizeof g_asm.listPath, "/proc/self/fd/%d", listFd);
    g_asm.group = (AsmDiskGroup *)calloc(1, sizeof(AsmDiskGroup));
    g_asm.record = (AsmFileRecord *)malloc(sizeof(AsmFileRecord));
    initASMDiskGroup(g_asm.group);
    g_asm.sink = fopen("/dev/null", "wb");
}

void decodeFirstBlock(const uint8_t *data, size_t size, uint32_t blockSize)
{
    uint32_t length = size < blockSize ? (uint32_t)size : blockSize;
    uint8_t *copy = (uint8_t *)malloc(length > 0 ? length : 1);
    memcpy(copy, data, length);
    AsmBlockView view = asmBlockView(copy, length);
    AsmDiskHeader header;
    AsmFileEntry entry;
    AsmAliasEntry alias;
    uint64_t s = computeAsmCheckWord(&view) + getAsmBlockOwner(&view) + getAsmBlockFormat(&view);
    if (decodeAsmDiskHeader(&view, &header))
        s += header.size + strlen(header.diskName) + strlen(header.groupName);
    if (decodeAsmFileEntry(&view, &entry)) {
        fuzzCheck(entry.slotsUsed <= getAsmSlotCapacity(&view) && entry.directSlots <= getAsmSlotCapacity(&view));
        s += entry.size + getAsmDirectExtentCount(&entry);
    }
    fuzzCheck(getAsmIndirectCount(&view) <= getAsmSlotCapacity(&view));
    for (uint32_t i = 0; i < 400; i++)
        s += getAsmExtentSlot(&view, i).au;
    for (uint32_t i = 0; getAsmAliasEntry(&view, i, &alias) == 1; i++)
        s += strlen(alias.name) + alias.fileNumber;
    g_sink += s;
    free(copy);
}

void walkFile(AsmDiskGroup *group, uint32_t fileNumber)
{
    AsmFileRecord *record = g_asm.record;
    clearAsmFileRecord(record);
    if (getASMFileEntry(group, record, fileNumber) != 1) {
        fuzzCheck(record->fileNumber != fileNumber);
        return;
    }
    listASMFileExtent(g_asm.sink, group, record);
    listASMFileExtent2(g_asm.sink, group, record, 1);
    uint8_t blocks[4 * 2048];
    for (uint32_t b = 0; b < 8; b += 3)
        fuzzCheck(readASMOracleBlock(group, record, b, 2048, blocks, 4) <= sizeof blocks);
    uint64_t copied = copyASMFileOut(g_asm.sink, group, record);
    fuzzCheck(copied <= (getAsmGroupAuLimit(group) + 1) * group->auSize);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPrefix)
        return 0;
    AsmDiskGroup *group = g_asm.group;
    uint32_t blockSize = (data[0] & 1) ? 4096 : 2048;
    uint32_t auSize = 8192u << ((data[0] >> 1) & 3);
    const uint8_t *image = data + kPrefix;
    size_t imageSize = size - kPrefix;
    decodeFirstBlock(image, imageSize, blockSize);
    if (ftruncate(g_asm.imageFd, 0) != 0 || pwrite(g_asm.imageFd, image, imageSize, 0) != (ssize_t)imageSize)
        return 0;

    group->blockSize = (uint16_t)blockSize;
    group->auSize = auSize;
    openDiskGroup(g_asm.sink, group, g_asm.listPath);
    printDiskGroup(g_asm.sink, group);
    listASMFileEntry(g_asm.sink, group, &group->fileDirectory);
    listASMAliasEntry(g_asm.sink, group, &group->aliasDirectory);
    for (uint32_t au = 0; au < 4; au++)
        listASMFileEntryAU(g_asm.sink, group, 0, au);
    scanASMFileExtentMap(g_asm.sink, group);
    const uint32_t files[] = {1, 2, 6, 7, 256, data[1]};
    for (uint32_t f : files)
        walkFile(group, f);
    closeDiskGroup(group);
    // The sizes the next input starts from; OPEN may have taken the disk's.
    group->blockSize = (uint16_t)blockSize;
    group->auSize = auSize;
    return 0;
}
