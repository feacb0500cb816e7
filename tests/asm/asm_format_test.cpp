// The metadata decoders and the extent arithmetic on hand-made blocks.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "asm/asm.h"
#include "block/test_block_builder.h"

namespace {

std::vector<uint8_t> block(uint8_t order, uint8_t type, uint32_t size = 4096)
{
    std::vector<uint8_t> b(size, 0);
    b[0] = order;
    b[2] = type;
    b[3] = 1;
    return b;
}

// A true `big` is testblock::kBig.
using testblock::put16;
using testblock::put32;

TEST(AsmFormat, EveryBlockDeclaresItsOwnByteOrder)
{
    std::vector<uint8_t> b = block(1, 4);
    b[4] = 6;
    AsmBlockView little = asmBlockView(b.data(), 4096);
    EXPECT_EQ(getAsmBlockNumber(&little), 6u);
    b[0] = 0;
    AsmBlockView big = asmBlockView(b.data(), 4096);
    EXPECT_EQ(getAsmBlockNumber(&big), 0x06000000u);
    // Nothing is read outside the block.
    EXPECT_EQ(asmU32(&big, 4094), 0u);
    EXPECT_EQ(asmU16(&big, UINT32_MAX), 0u);
}

class AsmDiskHeaderOrder : public ::testing::TestWithParam<bool> {};

TEST_P(AsmDiskHeaderOrder, FieldsSitWhereKfedPrintsThem)
{
    bool big = GetParam();
    std::vector<uint8_t> b = block(big ? 0 : 1, 1);
    put32(b, 8, 0x80000003u, big);
    put32(b, 64, 0x0B200000, big);
    put16(b, 68, 3, big);
    memcpy(&b[72], "DATA_0003", 9);
    memcpy(&b[104], "DATA", 4);
    put16(b, 218, 4096, big);
    put32(b, 220, 4194304, big);
    put32(b, 228, 25, big);
    put32(b, 244, 2, big);
    AsmBlockView view = asmBlockView(b.data(), 4096);
    AsmDiskHeader h;
    ASSERT_TRUE(decodeAsmDiskHeader(&view, &h));
    EXPECT_EQ(h.compat, 0x0B200000u);
    EXPECT_EQ(h.diskNumber, 3);
    EXPECT_STREQ(h.diskName, "DATA_0003");
    EXPECT_STREQ(h.groupName, "DATA");
    EXPECT_EQ(h.blockSize, 4096);
    EXPECT_EQ(h.auSize, 4194304u);
    EXPECT_EQ(h.size, 25u);
    EXPECT_EQ(h.f1b1, 2u);
    EXPECT_EQ(getAsmBlockOwner(&view), 0x80000003u);
    // The check word is the XOR of every other word: sealing it makes the
    // XOR of the whole block zero.
    uint32_t check = computeAsmCheckWord(&view);
    put32(b, 12, check, big);
    uint32_t all = 0;
    for (uint32_t off = 0; off < 4096; off += 4)
        all ^= asmU32(&view, off);
    EXPECT_EQ(all, 0u);
    EXPECT_NE(check, 0u);
    b[2] = 4;
    EXPECT_FALSE(decodeAsmDiskHeader(&view, &h));
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, AsmDiskHeaderOrder, ::testing::Values(false, true));

TEST(AsmFormat, DirectAndIndirectSlotsAreCappedByTheBlock)
{
    std::vector<uint8_t> b = block(1, 4);
    put32(b, 52, 3, false);
    put16(b, 92, 3, false);
    put16(b, 94, 60, false);
    AsmBlockView view = asmBlockView(b.data(), 4096);
    AsmFileEntry e;
    ASSERT_TRUE(decodeAsmFileEntry(&view, &e));
    EXPECT_EQ(getAsmDirectExtentCount(&e), 3u);   // S = 3, D = 60: three direct, no indirect
    put16(b, 92, 0xFFFF, false);
    put16(b, 94, 0xFFFF, false);
    put32(b, 52, 0xFFFFFFFF, false);
    ASSERT_TRUE(decodeAsmFileEntry(&view, &e));
    EXPECT_EQ(e.slotsUsed, (4096u - 1216) / 8);
    EXPECT_EQ(getAsmSlotCapacity(&view), 360u);
    AsmExtentSlotValue outside = getAsmExtentSlot(&view, 360);
    EXPECT_EQ(outside.au, 0u);
    std::vector<uint8_t> ind = block(1, 12);
    put32(ind, 32, 200, false);
    put16(ind, 36, 0xFFFF, false);
    AsmBlockView indirect = asmBlockView(ind.data(), 4096);
    EXPECT_EQ(getAsmIndirectPreceding(&indirect), 200u);
    EXPECT_EQ(getAsmIndirectCount(&indirect), (4096u - 44) / 8);
}

TEST(AsmFormat, AliasEntriesEndAtTheFirstEmptyName)
{
    std::vector<uint8_t> b = block(1, 11);
    for (uint32_t i = 0; i < 3; i++) {
        uint32_t e = 68 + 76 * i;
        put32(b, e + 4, 1, false);
        if (i < 2)
            memcpy(&b[e + 16], i == 0 ? "SYSTEM.256.1" : "USERS.257.1", 12);
        put32(b, e + 64, 256 + i, false);
        b[e + 72] = 18;
    }
    AsmBlockView view = asmBlockView(b.data(), 4096);
    AsmAliasEntry entry;
    uint32_t n = 0;
    while (getAsmAliasEntry(&view, n, &entry) == 1)
        n++;
    EXPECT_EQ(n, 2u);
}

TEST(AsmFormat, ExtentPolicyAndOffsetMapping)
{
    AsmDiskGroup *group = static_cast<AsmDiskGroup *>(calloc(1, sizeof(AsmDiskGroup)));
    initASMDiskGroup(group);
    uint32_t index = 0, aus = 0;
    uint64_t start = 0;
    getASMFileOffsetAU(group, 3145728, &index, &aus, &start);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(aus, 1u);
    EXPECT_EQ(start, 3145728u);
    // Level 2 before level 1 changes nothing.
    setAsmExtentPolicy(group, 2, 40000, 4);
    EXPECT_EQ(group->policy[1].lastExtent, 0xFFFFFFFFu);
    setAsmExtentPolicy(group, 1, 20000, 1);
    setAsmExtentPolicy(group, 2, 40000, 4);
    EXPECT_EQ(getAsmExtentAuCount(group, 20000), 1u);
    EXPECT_EQ(getAsmExtentAuCount(group, 20001), 4u);
    EXPECT_EQ(getAsmExtentAuCount(group, 40001), 1u);
    // AU 20000 + 4 lies in extent index 20001 (the second of four AUs each).
    getASMFileOffsetAU(group, static_cast<uint64_t>(20005) * 1048576, &index, &aus, &start);
    EXPECT_EQ(index, 20001u);
    EXPECT_EQ(aus, 4u);
    EXPECT_EQ(start, static_cast<uint64_t>(20004) * 1048576);
    closeDiskGroup(group);
    free(group);
}

}  // namespace
