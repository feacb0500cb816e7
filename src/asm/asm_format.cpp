// ASM metadata formats: the block header every metadata block starts with,
// the disk header, file directory entries, extent slots, indirect extent
// blocks, alias directory blocks, and the variable extent policy.  Every
// field is read through a view that reads 0 outside the block; every count
// taken from a block is capped by what the block can hold.
#include <cstring>

#include "asm/asm.h"

namespace {

// Disk header (type 1), after the 32-byte block header:
//   32  8 bytes  provision string        64  u32  compat
//   68  u16      disk number             70  u8   group type   71  u8  status
//   72  32 bytes disk name               104 32 bytes group name
//   136 32 bytes failure group           216 u16  sector size
//   218 u16      metadata block size     220 u32  AU size
//   228 u32      disk size (MB)          244 u32  F1B1 location (AU)
constexpr uint32_t kCompatOffset = 64;
constexpr uint32_t kDiskNumberOffset = 68;
constexpr uint32_t kGroupTypeOffset = 70;
constexpr uint32_t kStatusOffset = 71;
constexpr uint32_t kDiskNameOffset = 72;
constexpr uint32_t kGroupNameOffset = 104;
constexpr uint32_t kFailGroupOffset = 136;
constexpr uint32_t kSectorSizeOffset = 216;
constexpr uint32_t kBlockSizeOffset = 218;
constexpr uint32_t kAuSizeOffset = 220;
constexpr uint32_t kDiskSizeOffset = 228;
constexpr uint32_t kF1b1Offset = 244;

// File directory entry (type 4):
//   44  u32  size, high word         48  u32  size, low word
//   52  u32  ecnt                    56  u32  eeof
//   60  u32  block size of the file  64  u8   flags     65  u8  type
//   92  u16  slots in use (S)        94  u16  direct slots (D)
//   100 u32  alias 0                 104 u32  alias 1
//   1216 + 8i  extent slot i
constexpr uint32_t kSizeHighOffset = 44;
constexpr uint32_t kSizeLowOffset = 48;
constexpr uint32_t kExtentCountOffset = 52;
constexpr uint32_t kEeofOffset = 56;
constexpr uint32_t kFileBlockSizeOffset = 60;
constexpr uint32_t kFlagsOffset = 64;
constexpr uint32_t kTypeOffset = 65;
constexpr uint32_t kSlotsUsedOffset = 92;
constexpr uint32_t kDirectSlotsOffset = 94;
constexpr uint32_t kAlias0Offset = 100;
constexpr uint32_t kAlias1Offset = 104;

// Extent slot: u32 AU, u16 disk, u8 flags, u8 check.
constexpr uint32_t kSlotDiskOffset = 4;
constexpr uint32_t kSlotFlagsOffset = 6;
constexpr uint32_t kSlotCheckOffset = 7;

// Indirect extent block (type 12): 32 u32 extents before its first slot,
// 36 u16 slots in the block.
constexpr uint32_t kPrecedingOffset = 32;
constexpr uint32_t kIndirectCountOffset = 36;

// Alias directory block (type 11): 52 u32 parent, 60 u32 fstblk; entry:
//   4 u32 used   8 u32 refer   16 48 bytes name   64 u32 file   68 u32 inc
//   72 u8 flag
constexpr uint32_t kAliasParentOffset = 52;
constexpr uint32_t kAliasFirstBlockOffset = 60;
constexpr uint32_t kEntryUsedOffset = 4;
constexpr uint32_t kEntryReferOffset = 8;
constexpr uint32_t kEntryNameOffset = 16;
constexpr uint32_t kEntryFileOffset = 64;
constexpr uint32_t kEntryIncOffset = 68;
constexpr uint32_t kEntryFlagOffset = 72;

bool fits(const AsmBlockView *view, uint32_t offset, uint32_t width)
{
    return view->data != nullptr && view->size >= width && offset <= view->size - width;
}

// A fixed-width NUL-padded name into a NUL-terminated buffer of width + 1.
void copyAsmName(const AsmBlockView *view, uint32_t offset, uint32_t width, char *out)
{
    memset(out, 0, width + 1);
    if (fits(view, offset, width))
        memcpy(out, view->data + offset, width);
}

uint32_t slotsOffset(const AsmBlockView *view)
{
    uint8_t type = getAsmBlockType(view);
    if (type == kAsmFileEntryType)
        return kAsmEntrySlotsOffset;
    if (type == kAsmIndirectType)
        return kAsmIndirectSlotsOffset;
    return 0;
}

}  // namespace

AsmBlockView asmBlockView(const uint8_t *data, uint32_t size)
{
    AsmBlockView view{data, size, false};
    view.bigEndian = data != nullptr && size > 0 && data[0] == 0;
    return view;
}

uint8_t asmU8(const AsmBlockView *view, uint32_t offset)
{
    return fits(view, offset, 1) ? view->data[offset] : 0;
}

uint16_t asmU16(const AsmBlockView *view, uint32_t offset)
{
    if (!fits(view, offset, 2))
        return 0;
    const uint8_t *p = view->data + offset;
    if (view->bigEndian)
        return static_cast<uint16_t>((p[0] << 8) | p[1]);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t asmU32(const AsmBlockView *view, uint32_t offset)
{
    if (!fits(view, offset, 4))
        return 0;
    const uint8_t *p = view->data + offset;
    uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
    if (view->bigEndian)
        return (b0 << 24) | (b1 << 16) | (b2 << 8) | b3;
    return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

uint8_t getAsmBlockType(const AsmBlockView *view) { return asmU8(view, 2); }
uint8_t getAsmBlockFormat(const AsmBlockView *view) { return asmU8(view, 3); }
uint32_t getAsmBlockNumber(const AsmBlockView *view) { return asmU32(view, 4); }
uint32_t getAsmBlockOwner(const AsmBlockView *view) { return asmU32(view, 8); }

uint32_t computeAsmCheckWord(const AsmBlockView *view)
{
    uint32_t check = 0;
    for (uint32_t off = 0; fits(view, off, 4); off += 4) {
        if (off != kAsmCheckOffset)
            check ^= asmU32(view, off);
    }
    return check;
}

bool decodeAsmDiskHeader(const AsmBlockView *view, AsmDiskHeader *out)
{
    if (getAsmBlockType(view) != kAsmDiskHeaderType || !fits(view, kF1b1Offset, 4))
        return false;
    out->compat = asmU32(view, kCompatOffset);
    out->diskNumber = asmU16(view, kDiskNumberOffset);
    out->groupType = asmU8(view, kGroupTypeOffset);
    out->status = asmU8(view, kStatusOffset);
    copyAsmName(view, kDiskNameOffset, kAsmNameSize, out->diskName);
    copyAsmName(view, kGroupNameOffset, kAsmNameSize, out->groupName);
    copyAsmName(view, kFailGroupOffset, kAsmNameSize, out->failGroup);
    out->sectorSize = asmU16(view, kSectorSizeOffset);
    out->blockSize = asmU16(view, kBlockSizeOffset);
    out->auSize = asmU32(view, kAuSizeOffset);
    out->size = asmU32(view, kDiskSizeOffset);
    out->f1b1 = asmU32(view, kF1b1Offset);
    return true;
}

uint32_t getAsmSlotCapacity(const AsmBlockView *view)
{
    uint32_t start = slotsOffset(view);
    if (start == 0 || view->size < start)
        return 0;
    return (view->size - start) / kAsmSlotSize;
}

bool decodeAsmFileEntry(const AsmBlockView *view, AsmFileEntry *out)
{
    if (getAsmBlockType(view) != kAsmFileEntryType)
        return false;
    out->fileNumber = getAsmBlockNumber(view);
    out->size = (static_cast<uint64_t>(asmU32(view, kSizeHighOffset)) << 32) | asmU32(view, kSizeLowOffset);
    out->extentCount = asmU32(view, kExtentCountOffset);
    out->eeof = asmU32(view, kEeofOffset);
    out->fileBlockSize = asmU32(view, kFileBlockSizeOffset);
    out->flags = asmU8(view, kFlagsOffset);
    out->type = asmU8(view, kTypeOffset);
    uint32_t capacity = getAsmSlotCapacity(view);
    uint32_t used = asmU16(view, kSlotsUsedOffset);
    uint32_t direct = asmU16(view, kDirectSlotsOffset);
    out->slotsUsed = used < capacity ? used : capacity;
    out->directSlots = direct < capacity ? direct : capacity;
    out->alias0 = asmU32(view, kAlias0Offset);
    out->alias1 = asmU32(view, kAlias1Offset);
    return true;
}

uint32_t getAsmDirectExtentCount(const AsmFileEntry *entry)
{
    uint32_t direct = entry->slotsUsed < entry->directSlots ? entry->slotsUsed : entry->directSlots;
    return direct < entry->extentCount ? direct : entry->extentCount;
}

AsmExtentSlotValue getAsmExtentSlot(const AsmBlockView *view, uint32_t i)
{
    AsmExtentSlotValue slot{0, 0, 0, 0};
    uint32_t start = slotsOffset(view);
    if (start == 0 || i >= getAsmSlotCapacity(view))
        return slot;
    uint32_t off = start + i * kAsmSlotSize;
    slot.au = asmU32(view, off);
    slot.disk = asmU16(view, off + kSlotDiskOffset);
    slot.flags = asmU8(view, off + kSlotFlagsOffset);
    slot.check = asmU8(view, off + kSlotCheckOffset);
    return slot;
}

uint32_t getAsmIndirectPreceding(const AsmBlockView *view) { return asmU32(view, kPrecedingOffset); }

uint32_t getAsmIndirectCount(const AsmBlockView *view)
{
    if (getAsmBlockType(view) != kAsmIndirectType)
        return 0;
    uint32_t count = asmU16(view, kIndirectCountOffset);
    uint32_t capacity = getAsmSlotCapacity(view);
    return count < capacity ? count : capacity;
}

uint32_t getAsmAliasParent(const AsmBlockView *view) { return asmU32(view, kAliasParentOffset); }
uint32_t getAsmAliasFirstBlock(const AsmBlockView *view) { return asmU32(view, kAliasFirstBlockOffset); }

int getAsmAliasEntry(const AsmBlockView *view, uint32_t i, AsmAliasEntry *out)
{
    uint64_t start = kAsmAliasEntriesOffset + static_cast<uint64_t>(kAsmAliasEntrySize) * i;
    if (start > UINT32_MAX || !fits(view, static_cast<uint32_t>(start), kAsmAliasEntrySize))
        return 0;
    uint32_t off = static_cast<uint32_t>(start);
    out->used = asmU32(view, off + kEntryUsedOffset);
    out->refer = asmU32(view, off + kEntryReferOffset);
    copyAsmName(view, off + kEntryNameOffset, kAsmAliasNameSize, out->name);
    out->fileNumber = asmU32(view, off + kEntryFileOffset);
    out->incarnation = asmU32(view, off + kEntryIncOffset);
    out->flag = asmU8(view, off + kEntryFlagOffset);
    return out->used != 0 && out->name[0] != '\0' ? 1 : 0;
}

uint32_t getAsmExtentAuCount(const AsmDiskGroup *group, uint32_t extent)
{
    for (int i = 0; i < kAsmPolicyLevels; i++) {
        if (group->policy[i].lastExtent >= extent)
            return group->policy[i].auCount;
    }
    return 1;
}

void setAsmExtentPolicy(AsmDiskGroup *group, uint32_t level, uint32_t lastExtent, uint32_t auCount)
{
    if (level < 1 || level > kAsmPolicyLevels || auCount == 0)
        return;
    for (uint32_t i = 0; i + 1 < level; i++) {
        if (lastExtent <= group->policy[i].lastExtent)
            return;
    }
    group->policy[level - 1].lastExtent = lastExtent;
    group->policy[level - 1].auCount = auCount;
}

void getASMFileOffsetAU(const AsmDiskGroup *group, uint64_t offset, uint32_t *extentIndex,
                        uint32_t *auCount, uint64_t *extentStart)
{
    uint64_t au = group->auSize != 0 ? offset / group->auSize : 0;
    uint64_t firstAu = 0;       // first AU of the range
    uint64_t firstExtent = 0;   // first extent index of the range
    uint64_t previousLast = 0;
    for (int r = 0; r < kAsmPolicyLevels; r++) {
        uint64_t last = group->policy[r].lastExtent;
        uint64_t count = group->policy[r].auCount != 0 ? group->policy[r].auCount : 1;
        if (last <= previousLast && r > 0)
            break;
        uint64_t extents = last - previousLast;
        if (au < firstAu + extents * count) {
            uint64_t index = firstExtent + (au - firstAu) / count;
            *extentIndex = static_cast<uint32_t>(index);
            *auCount = static_cast<uint32_t>(count);
            *extentStart = (firstAu + (index - firstExtent) * count) * group->auSize;
            return;
        }
        firstAu += extents * count;
        firstExtent += extents;
        previousLast = last;
    }
    uint64_t index = firstExtent + (au - firstAu);
    *extentIndex = static_cast<uint32_t>(index);
    *auCount = 1;
    *extentStart = au * group->auSize;
}
