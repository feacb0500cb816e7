// ASM disk images: plan where every extent goes, compose the metadata AUs
// in memory, then write each disk image sparsely with the data AUs copied
// from the source files.
//
// Metadata block header (every block):  0 u8 byte order (1 little, 0 big),
// 2 u8 type, 3 u8 format (1), 4 u32 block number, 8 u32 owner, 12 u32 check
// (XOR of every other 32-bit word of the block).
// Disk header (type 1): 32 provision "ORCLDISK", 64 compat, 68 u16 disk
// number, 70 group type, 71 status, 72 disk name, 104 group name, 136 failure
// group, 216 u16 sector size, 218 u16 block size, 220 AU size, 228 disk size
// (in AUs, as ASM writes it), 244 F1B1 AU.
// File directory entry (type 4, block N of file 1 describes file N): 44/48
// size high/low, 52 extent count, 56 eeof, 60 file block size, 64 flags,
// 65 type, 92 u16 slots in use, 94 u16 direct slots, 100/104 alias, 1216 + 8i
// slot i (u32 AU, u16 disk, u8 flags, u8 check).
// Indirect extent block (type 12, owner the file): 32 extents before its first
// slot, 36 u16 slot count, 44 + 8i slot i.
// Alias directory block (type 11, owner 6): 52 parent, 60 first block; entries
// of 76 bytes from 68: 4 used, 8 refer, 16 name (48), 64 file, 68 incarnation,
// 72 flag.
#include "forge/asm_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "forge/forge.h"

namespace forge {

namespace {

const uint32_t kEntrySlots = 1216;
const uint32_t kIndirectSlots = 44;
const uint32_t kAliasEntries = 68;
const uint32_t kAliasEntrySize = 76;
const uint32_t kFileBlockSize = 8192;
const uint32_t kFirstDataAu = 2;   // AU 0 holds the header, AU 1 is kept free as ASM keeps its tables there

struct Planner {
    const AsmGroupSpec *groupSpec;
    std::vector<uint32_t> nextFree;
    uint32_t turn = 0;
};

AsmPlacedExtent allocateAu(Planner *plan)
{
    uint32_t disk = plan->turn++ % plan->groupSpec->diskCount;
    return AsmPlacedExtent{disk, plan->nextFree[disk]++};
}

struct Composer {
    const AsmGroupSpec *groupSpec;
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> aus;   // (disk, au) -> bytes
    std::vector<uint8_t *> blocks;                                      // every block to seal
};

uint8_t *metadataBlock(Composer *c, AsmPlacedExtent at, uint32_t block)
{
    std::vector<uint8_t> &au = c->aus[{at.disk, at.au}];
    if (au.empty()) au.assign(c->groupSpec->auSize, 0);
    return au.data() + static_cast<size_t>(block) * c->groupSpec->blockSize;
}

void put16(const AsmGroupSpec *groupSpec, uint8_t *p, uint32_t v)
{
    if (groupSpec->bigEndian) {
        p[0] = static_cast<uint8_t>(v >> 8);
        p[1] = static_cast<uint8_t>(v);
    } else {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
}

void put32(const AsmGroupSpec *groupSpec, uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        int shift = groupSpec->bigEndian ? 24 - 8 * i : 8 * i;
        p[i] = static_cast<uint8_t>(v >> shift);
    }
}

uint32_t get32(const AsmGroupSpec *groupSpec, const uint8_t *p)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) {
        int shift = groupSpec->bigEndian ? 24 - 8 * i : 8 * i;
        v |= static_cast<uint32_t>(p[i]) << shift;
    }
    return v;
}

void putName(uint8_t *p, const std::string &name, size_t width)
{
    memcpy(p, name.data(), name.size() < width ? name.size() : width);
}

uint8_t *startBlock(Composer *c, AsmPlacedExtent at, uint32_t block, uint8_t type, uint32_t number,
                    uint32_t owner)
{
    uint8_t *b = metadataBlock(c, at, block);
    b[0] = c->groupSpec->bigEndian ? 0 : 1;
    b[2] = type;
    b[3] = 1;
    put32(c->groupSpec, b + 4, number);
    put32(c->groupSpec, b + 8, owner);
    c->blocks.push_back(b);
    return b;
}

void sealBlocks(Composer *c)
{
    for (uint8_t *b : c->blocks) {
        uint32_t check = 0;
        for (uint32_t off = 0; off + 4 <= c->groupSpec->blockSize; off += 4)
            if (off != 12) check ^= get32(c->groupSpec, b + off);
        put32(c->groupSpec, b + 12, check);
    }
}

void putSlot(const AsmGroupSpec *groupSpec, uint8_t *p, AsmPlacedExtent e)
{
    put32(groupSpec, p, e.au);
    put16(groupSpec, p + 4, e.disk);
    p[6] = 0;
    p[7] = static_cast<uint8_t>(e.au ^ (e.au >> 8) ^ e.disk);   // any stable value: only listed
}

void writeDiskHeader(Composer *c, uint32_t disk, uint32_t aus, uint32_t f1b1)
{
    const AsmGroupSpec *s = c->groupSpec;
    uint8_t *b = startBlock(c, AsmPlacedExtent{disk, 0}, 0, 1, 0, 0x80000000u + disk);
    char name[32];
    snprintf(name, sizeof name, "%s_%04u", s->groupName.c_str(), disk);
    putName(b + 32, "ORCLDISK", 8);
    put32(s, b + 64, 0x0B200000);
    put16(s, b + 68, disk);
    b[70] = 1;   // external redundancy
    b[71] = 3;   // member
    putName(b + 72, name, 32);
    putName(b + 104, s->groupName, 32);
    putName(b + 136, name, 32);
    put16(s, b + 216, 512);
    put16(s, b + 218, s->blockSize);
    put32(s, b + 220, s->auSize);
    put32(s, b + 228, aus);
    put32(s, b + 244, f1b1);
}

// Where block n of file 1 lives.
AsmPlacedExtent directoryBlock(const AsmGroupRecord *record, const AsmGroupSpec *groupSpec, uint32_t n,
                               uint32_t *block)
{
    uint32_t perAu = groupSpec->auSize / groupSpec->blockSize;
    *block = n % perAu;
    return record->fileDirectory.extents[n / perAu];
}

void writeFileEntry(Composer *c, const AsmGroupRecord *record, AsmPlacedFile *file, uint8_t type,
                    uint32_t aliasIndex)
{
    const AsmGroupSpec *s = c->groupSpec;
    uint32_t block = 0;
    AsmPlacedExtent at = directoryBlock(record, s, file->fileNumber, &block);
    file->entry = at;
    file->entryBlock = block;
    uint8_t *b = startBlock(c, at, block, 4, file->fileNumber, 1);
    uint32_t extents = static_cast<uint32_t>(file->extents.size());
    put32(s, b + 44, static_cast<uint32_t>(file->size >> 32));
    put32(s, b + 48, static_cast<uint32_t>(file->size));
    put32(s, b + 52, extents);
    put32(s, b + 56, extents);
    put32(s, b + 60, file->fileNumber < 256 ? s->blockSize : kFileBlockSize);
    b[64] = 17;
    b[65] = type;
    uint32_t direct = file->directCount;
    uint32_t used = direct + static_cast<uint32_t>(file->indirectAus.size());
    uint32_t directSlots = file->indirectAus.empty() ? (direct > s->directSlots ? direct : s->directSlots)
                                                     : s->directSlots;
    put16(s, b + 92, used);
    put16(s, b + 94, directSlots);
    put32(s, b + 100, aliasIndex);
    put32(s, b + 104, 0xFFFFFFFFu);
    for (uint32_t i = 0; i < direct; i++) putSlot(s, b + kEntrySlots + 8 * i, file->extents[i]);
    for (size_t i = 0; i < file->indirectAus.size(); i++)
        putSlot(s, b + kEntrySlots + 8 * (direct + i), file->indirectAus[i]);
}

uint32_t indirectSlotsPerBlock(const AsmGroupSpec *groupSpec)
{
    uint32_t fit = (groupSpec->blockSize - kIndirectSlots) / 8;
    return groupSpec->indirectSlotsPerBlock != 0 && groupSpec->indirectSlotsPerBlock < fit ? groupSpec->indirectSlotsPerBlock
                                                                               : fit;
}

void writeIndirectBlocks(Composer *c, const AsmPlacedFile &file)
{
    const AsmGroupSpec *s = c->groupSpec;
    uint32_t perBlock = indirectSlotsPerBlock(s);
    uint32_t perAu = s->auSize / s->blockSize;
    uint32_t next = file.directCount;
    for (uint32_t j = 0; next < file.extents.size(); j++) {
        uint8_t *b = startBlock(c, file.indirectAus[j / perAu], j % perAu, 12, j, file.fileNumber);
        uint32_t count = static_cast<uint32_t>(file.extents.size()) - next;
        if (count > perBlock) count = perBlock;
        put32(s, b + 32, next);
        put16(s, b + 36, count);
        for (uint32_t i = 0; i < count; i++) putSlot(s, b + kIndirectSlots + 8 * i, file.extents[next + i]);
        next += count;
    }
}

void writeAliasBlock(Composer *c, const AsmGroupRecord *record)
{
    const AsmGroupSpec *s = c->groupSpec;
    uint8_t *b = startBlock(c, record->aliasDirectory.extents[0], 0, 11, 0, 6);
    put32(s, b + 52, 0xFFFFFFFFu);
    put32(s, b + 60, 0);
    for (size_t i = 0; i < record->files.size(); i++) {
        uint8_t *e = b + kAliasEntries + kAliasEntrySize * i;
        const AsmPlacedFile &f = record->files[i];
        put32(s, e + 4, 1);
        put32(s, e + 8, 0xFFFFFFFFu);
        putName(e + 16, f.alias, 48);
        put32(s, e + 64, f.fileNumber);
        put32(s, e + 68, 1000000 + f.fileNumber);
        e[72] = 18;
    }
}

// Extents and indirect AUs of one data file.
void planFile(Planner *plan, AsmPlacedFile *file)
{
    const AsmGroupSpec *s = plan->groupSpec;
    uint64_t extents = (file->size + s->auSize - 1) / s->auSize;
    if (extents == 0) extents = 1;
    for (uint64_t k = 0; k < extents; k++) file->extents.push_back(allocateAu(plan));
    file->directCount = extents < s->directSlots ? static_cast<uint32_t>(extents) : s->directSlots;
    uint32_t rest = static_cast<uint32_t>(extents) - file->directCount;
    uint32_t perBlock = indirectSlotsPerBlock(s);
    file->indirectBlocks = (rest + perBlock - 1) / perBlock;
    uint32_t perAu = s->auSize / s->blockSize;
    for (uint32_t a = 0; a < (file->indirectBlocks + perAu - 1) / perAu; a++)
        file->indirectAus.push_back(allocateAu(plan));
}

bool checkSpec(const AsmGroupSpec &s, size_t fileCount, char *error, size_t errorLength)
{
    bool pow2 = (s.auSize & (s.auSize - 1)) == 0 && (s.blockSize & (s.blockSize - 1)) == 0;
    if (!pow2 || s.blockSize < 2048 || s.auSize < 4 * s.blockSize || s.diskCount == 0 || s.diskCount > 64) {
        snprintf(error, errorLength, "asm: unusable AU size %u, block size %u or disk count %u", s.auSize,
                 s.blockSize, s.diskCount);
        return false;
    }
    uint32_t maxFiles = (s.blockSize - kAliasEntries) / kAliasEntrySize;
    // User files start at 256 in ASM; a compact image (a fuzzing seed) may
    // number them from 7, after the system files.
    if (s.directSlots == 0 || kEntrySlots + 8 * (s.directSlots + 64) > s.blockSize || fileCount > maxFiles ||
        s.firstFileNumber < 7) {
        snprintf(error, errorLength, "asm: %u direct slots or %zu files do not fit a block", s.directSlots,
                 fileCount);
        return false;
    }
    return true;
}

bool plan(const AsmGroupSpec &groupSpec, const std::vector<AsmFileInput> &files, AsmGroupRecord *record,
          Planner *planner, char *error, size_t errorLength)
{
    planner->groupSpec = &groupSpec;
    planner->nextFree.assign(groupSpec.diskCount, kFirstDataAu);
    planner->nextFree[0] = kFirstDataAu + 1;
    record->f1b1Au = kFirstDataAu;
    uint32_t lastFile = groupSpec.firstFileNumber + static_cast<uint32_t>(files.size());
    uint32_t perAu = groupSpec.auSize / groupSpec.blockSize;
    record->fileDirectory.fileNumber = 1;
    record->fileDirectory.extents.push_back(AsmPlacedExtent{0, kFirstDataAu});
    while (record->fileDirectory.extents.size() * perAu <= lastFile)
        record->fileDirectory.extents.push_back(allocateAu(planner));
    record->fileDirectory.directCount = static_cast<uint32_t>(record->fileDirectory.extents.size());
    record->fileDirectory.size = static_cast<uint64_t>(record->fileDirectory.extents.size()) * groupSpec.auSize;
    record->diskDirectory.fileNumber = 2;
    record->diskDirectory.extents.push_back(allocateAu(planner));
    record->diskDirectory.directCount = 1;
    record->diskDirectory.size = groupSpec.auSize;
    record->aliasDirectory.fileNumber = 6;
    record->aliasDirectory.extents.push_back(allocateAu(planner));
    record->aliasDirectory.directCount = 1;
    record->aliasDirectory.size = groupSpec.auSize;
    for (size_t i = 0; i < files.size(); i++) {
        struct stat st;
        if (stat(files[i].sourcePath.c_str(), &st) != 0) {
            snprintf(error, errorLength, "asm: cannot read %s: %s", files[i].sourcePath.c_str(), strerror(errno));
            return false;
        }
        AsmPlacedFile file;
        file.fileNumber = groupSpec.firstFileNumber + static_cast<uint32_t>(i);
        file.alias = files[i].alias;
        file.size = static_cast<uint64_t>(st.st_size);
        planFile(planner, &file);
        record->files.push_back(file);
    }
    return true;
}

void compose(Composer *c, AsmGroupRecord *record, const Planner &planner)
{
    const AsmGroupSpec *s = c->groupSpec;
    startBlock(c, record->fileDirectory.extents[0], 0, 5, 0, 1);
    writeFileEntry(c, record, &record->fileDirectory, 1, 0xFFFFFFFFu);
    writeFileEntry(c, record, &record->diskDirectory, 2, 0xFFFFFFFFu);
    writeFileEntry(c, record, &record->aliasDirectory, 6, 0xFFFFFFFFu);
    writeAliasBlock(c, record);
    for (size_t i = 0; i < record->files.size(); i++) {
        writeFileEntry(c, record, &record->files[i], 2, static_cast<uint32_t>(i));
        writeIndirectBlocks(c, record->files[i]);
    }
    for (uint32_t d = 0; d < s->diskCount; d++)
        writeDiskHeader(c, d, planner.nextFree[d] + 1, d == 0 ? record->f1b1Au : 0);
    sealBlocks(c);
}

bool writeAt(int fd, const uint8_t *bytes, size_t length, uint64_t offset)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Copies each extent of a source file to its place.
bool copyFileData(const AsmGroupSpec &groupSpec, const AsmFileInput &input, const AsmPlacedFile &file,
                  const std::vector<int> &fds)
{
    FILE *in = fopen(input.sourcePath.c_str(), "rb");
    if (in == nullptr) return false;
    std::vector<uint8_t> au(groupSpec.auSize);
    bool ok = true;
    for (const AsmPlacedExtent &e : file.extents) {
        std::fill(au.begin(), au.end(), 0);
        size_t got = fread(au.data(), 1, au.size(), in);
        if (got == 0) break;
        ok = ok && writeAt(fds[e.disk], au.data(), au.size(), static_cast<uint64_t>(e.au) * groupSpec.auSize);
    }
    fclose(in);
    return ok;
}

bool writeImages(const AsmGroupSpec &groupSpec, const std::vector<AsmFileInput> &files, const std::string &dir,
                 const Composer &c, const Planner &planner, AsmGroupRecord *record, char *error,
                 size_t errorLength)
{
    std::vector<int> fds;
    bool ok = true;
    for (uint32_t d = 0; d < groupSpec.diskCount && ok; d++) {
        std::string name = "disk" + std::to_string(d) + ".img";
        std::string path = dir + "/" + name;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        uint32_t aus = planner.nextFree[d] + 1;
        ok = fd >= 0 && ftruncate(fd, static_cast<off_t>(static_cast<uint64_t>(aus) * groupSpec.auSize)) == 0;
        if (!ok) snprintf(error, errorLength, "asm: cannot create %s: %s", path.c_str(), strerror(errno));
        if (fd >= 0) fds.push_back(fd);
        record->diskPaths.push_back(name);
        record->diskAus.push_back(aus);
    }
    for (const auto &au : c.aus) {
        if (!ok) break;
        ok = writeAt(fds[au.first.first], au.second.data(), au.second.size(),
                     static_cast<uint64_t>(au.first.second) * groupSpec.auSize);
    }
    for (size_t i = 0; i < files.size() && ok; i++) {
        ok = copyFileData(groupSpec, files[i], record->files[i], fds);
        if (!ok) snprintf(error, errorLength, "asm: cannot copy %s", files[i].sourcePath.c_str());
    }
    for (int fd : fds) ok = close(fd) == 0 && ok;
    return ok;
}

bool writeText(const std::string &path, const std::string &text, char *error, size_t errorLength)
{
    FILE *out = fopen(path.c_str(), "wb");
    bool ok = out != nullptr && fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out != nullptr) ok = fclose(out) == 0 && ok;
    if (!ok) snprintf(error, errorLength, "cannot write %s", path.c_str());
    return ok;
}

}  // namespace

bool writeAsmGroup(const AsmGroupSpec &groupSpec, const std::vector<AsmFileInput> &files, const std::string &outputDir,
                   AsmGroupRecord *record, char *error, size_t errorLength)
{
    *record = AsmGroupRecord();
    if (!checkSpec(groupSpec, files.size(), error, errorLength)) return false;
    Planner planner;
    if (!plan(groupSpec, files, record, &planner, error, errorLength)) return false;
    Composer composer;
    composer.groupSpec = &groupSpec;
    compose(&composer, record, planner);
    if (!writeImages(groupSpec, files, outputDir, composer, planner, record, error, errorLength)) return false;
    std::string list;
    for (const std::string &p : record->diskPaths) list += p + "\n";
    return writeText(outputDir + "/disks.lst", list, error, errorLength);
}

std::string formatAsmRecord(const AsmGroupRecord &record)
{
    std::string text;
    char line[256];
    for (size_t d = 0; d < record.diskPaths.size(); d++) {
        snprintf(line, sizeof line, "disk %zu %s %u\n", d, record.diskPaths[d].c_str(), record.diskAus[d]);
        text += line;
    }
    for (const AsmPlacedFile &f : record.files) {
        snprintf(line, sizeof line, "file %u %s %llu %zu %u %zu %u %u %u\n", f.fileNumber, f.alias.c_str(),
                 static_cast<unsigned long long>(f.size), f.extents.size(), f.directCount, f.indirectAus.size(),
                 f.entry.disk, f.entry.au, f.entryBlock);
        text += line;
        for (size_t k = 0; k < f.extents.size(); k++) {
            snprintf(line, sizeof line, "extent %u %zu %u %u\n", f.fileNumber, k + 1, f.extents[k].disk,
                     f.extents[k].au);
            text += line;
        }
    }
    return text;
}

bool forgeSampleAsm(const char *outputDir, const AsmGroupSpec &groupSpec, AsmGroupRecord *record, Manifest *manifest,
                    char *error, size_t errorLength)
{
    if (!forgeSample(outputDir, manifest, error, errorLength)) return false;
    std::string dir(outputDir);
    std::vector<AsmFileInput> files = {{dir + "/system01.dbf", "SYSTEM.256.1"}, {dir + "/users01.dbf", "USERS.257.1"}};
    if (!writeAsmGroup(groupSpec, files, dir, record, error, errorLength)) return false;
    if (!writeText(dir + "/zor_asm.cfg", "+256\n+257\n", error, errorLength)) return false;
    return writeText(dir + "/asm_record.txt", formatAsmRecord(*record), error, errorLength);
}

}  // namespace forge
