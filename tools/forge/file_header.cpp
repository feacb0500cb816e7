// Block 0 (the OS header block) and block 1 (the file header) of a datafile.
#include "forge/forge.h"

#include <cstdio>
#include <cstring>

namespace forge {

uint32_t tablespaceOffset(uint8_t format) {
    if (format == kFormatA2 || format == kFormatC2) return kTablespaceOffsetA2;
    if (format == kFormat02) return kTablespaceOffset02;
    return 0;
}

void initFileHeader(FileHeader *header) {
    memset(header, 0, sizeof *header);
    initCacheHeader(&header->cache, kTypeFileHeader, makeRdba(1, 1));
    header->softwareVersion = 0x13000000;  // 19.0.0.0
    header->compatibleVersion = 0x13000000;
    header->dbid = 0x5A4F5201;
    snprintf(header->dbName, sizeof header->dbName, "%s", "ZOR");
    header->controlSeq = 1;
    header->blockSize = 8192;
    header->fileNumber = 1;
    header->fileType = kFileTypeDatafile;
    header->tsNumber = 0;
    snprintf(header->tsName, sizeof header->tsName, "%s", "SYSTEM");
    header->tsNameLength = -1;
}

bool putFileHeader(Block *block, const FileHeader *header) {
    uint32_t tsOffset = tablespaceOffset(header->cache.format);
    if (tsOffset == 0) return false;
    putCacheHeader(block, &header->cache);
    putU32(block, kSoftwareVersionOffset, header->softwareVersion);
    putU32(block, kCompatibleVersionOffset, header->compatibleVersion);
    putU32(block, kDbidOffset, header->dbid);
    uint8_t name[kDbNameLength] = {0};
    size_t nameLength = strnlen(header->dbName, kDbNameLength);
    memcpy(name, header->dbName, nameLength);
    putBytes(block, kDbNameOffset, name, kDbNameLength);
    putU32(block, kControlSeqOffset, header->controlSeq);
    putU32(block, kFileBlockCountOffset, header->blockCount);
    putU32(block, kFileBlockSizeOffset, header->blockSize);
    putU16(block, kFileNumberOffset, header->fileNumber);
    putU16(block, kFileTypeOffset, header->fileType);
    putU32(block, kBootstrapRdbaOffset, header->bootstrapRdba);
    putU16(block, kFuzzyStatusOffset, header->fuzzy);
    putU32(block, tsOffset, header->tsNumber);
    size_t textLength = strnlen(header->tsName, kMaxTablespaceName);
    uint16_t lengthField =
        header->tsNameLength >= 0 ? (uint16_t)header->tsNameLength : (uint16_t)textLength;
    putU16(block, tsOffset + 4, lengthField);
    putBytes(block, tsOffset + 6, header->tsName, (uint32_t)textLength);
    return true;
}

// Block 0 describes the file to the operating system rather than to the
// database: no RDBA, no checksum.  The plain form carries the block size and
// the block count the way Oracle's own OS block does, which is enough for a
// reader that wrongly starts at block 0 to see something unlike a header.
void putOsHeader(Block *block, OsBlockKind kind, uint8_t format, uint32_t blockCount) {
    putFill(block, 0, block->size, 0);
    if (kind == kOsBlockZero) return;
    putU8(block, kTypeOffset, kTypeOsHeader);
    putU8(block, kFormatOffset, format);
    putU32(block, 20, block->size);
    putU32(block, 24, blockCount);
    putU32(block, 28, 0x7A7B7C7D);
}

}  // namespace forge
