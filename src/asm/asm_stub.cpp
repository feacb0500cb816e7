// Stand-ins for ASM file access until disk groups can be opened: no ASM file
// is ever found and no ASM block is ever read, so a "+N" datafile is kept in
// the registry with neither handle nor record and reads from it return 0.
#include "asm/asm.h"

int getASMFileEntry(AsmDiskGroup *group, AsmFileRecord *record, uint32_t fileNumber)
{
    (void)group;
    (void)record;
    (void)fileNumber;
    return 0;
}

uint32_t readASMOracleBlock(AsmDiskGroup *group, AsmFileRecord *record, uint32_t firstBlock,
                            uint32_t blockSize, uint8_t *dest, uint32_t blockCount)
{
    (void)group;
    (void)record;
    (void)firstBlock;
    (void)blockSize;
    (void)dest;
    (void)blockCount;
    return 0;
}
