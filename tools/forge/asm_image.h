// ASM disk images: the forge packs datafiles into an external-redundancy
// disk group spread over one or more image files, with the disk headers, the
// file directory (file 1), the disk directory (file 2), the alias directory
// (file 6) and, for files with more extents than direct slots, indirect
// extent blocks.  Every metadata block carries its byte-order flag and its
// check word (the XOR of all its other 32-bit words).  Written from the
// on-disk layouts alone, like every other forge output.
#ifndef ZOR_TOOLS_FORGE_ASM_IMAGE_H
#define ZOR_TOOLS_FORGE_ASM_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace forge {

struct AsmGroupSpec {
    uint32_t auSize = 1048576;
    uint32_t blockSize = 4096;           // metadata block size
    uint32_t diskCount = 1;
    bool bigEndian = false;
    uint32_t directSlots = 60;           // D of every data file's directory entry
    uint32_t indirectSlotsPerBlock = 0;  // 0: as many as a block holds
    uint32_t firstFileNumber = 256;       // 7 and up for compact images
    std::string groupName = "DATA";
};

// One file to place: its bytes come from sourcePath; alias is its name in
// the alias directory (at most 48 bytes).
struct AsmFileInput {
    std::string sourcePath;
    std::string alias;
};

struct AsmPlacedExtent {
    uint32_t disk;
    uint32_t au;
};

// What the forge wrote for one file.
struct AsmPlacedFile {
    uint32_t fileNumber = 0;
    std::string alias;
    uint64_t size = 0;
    std::vector<AsmPlacedExtent> extents;      // in extent order
    uint32_t directCount = 0;                  // extents held by direct slots
    std::vector<AsmPlacedExtent> indirectAus;  // AUs of the indirect extent blocks
    uint32_t indirectBlocks = 0;
    AsmPlacedExtent entry{0, 0};               // where its directory entry lives
    uint32_t entryBlock = 0;
};

struct AsmGroupRecord {
    std::vector<std::string> diskPaths;   // as written into the disk list
    std::vector<uint32_t> diskAus;        // AUs of each disk image
    uint32_t f1b1Au = 0;                  // on disk 0
    AsmPlacedFile fileDirectory;          // file 1
    AsmPlacedFile diskDirectory;          // file 2
    AsmPlacedFile aliasDirectory;         // file 6
    std::vector<AsmPlacedFile> files;     // the placed files, numbered from firstFileNumber
};

// Writes outputDir/disk<N>.img for every disk and outputDir/disks.lst (one
// image name per line).
bool writeAsmGroup(const AsmGroupSpec &groupSpec, const std::vector<AsmFileInput> &files,
                   const std::string &outputDir, AsmGroupRecord *record, char *error, size_t errorLength);

// The sample database (as forgeSample writes it) and, beside it, its two
// datafiles inside a disk group: disk images, disks.lst, zor_asm.cfg naming
// +256 (SYSTEM) and +257 (USERS), and asm_record.txt (formatAsmRecord).
struct Manifest;
bool forgeSampleAsm(const char *outputDir, const AsmGroupSpec &groupSpec, AsmGroupRecord *record, Manifest *manifest,
                    char *error, size_t errorLength);

// One line per disk ("disk N NAME AUS"), per file ("file N ALIAS SIZE
// EXTENTS DIRECT INDIRECT_AUS ENTRY_DISK ENTRY_AU ENTRY_BLOCK") and per
// extent ("extent FILE K DISK AU").
std::string formatAsmRecord(const AsmGroupRecord &record);

}  // namespace forge

#endif
