// Damaged disk groups: every case ends with what can still be read copied or
// reported, in bounded time and space.
#include <sys/stat.h>

#include "asm_test_env.h"

namespace {

using asmtest::le16;
using asmtest::le32;
using asmtest::patchImage;
using asmtest::readWhole;

constexpr uint32_t kMB = 1048576;

class AsmDamage : public ::testing::Test {
protected:
    void make(uint32_t disks, uint32_t directSlots)
    {
        forge::AsmGroupSpec groupSpec;
        groupSpec.diskCount = disks;
        groupSpec.directSlots = directSlots;
        groupSpec.indirectSlotsPerBlock = 1;
        sample_.create(groupSpec);
    }
    void TearDown() override { sample_.destroy(); }
    // Offset of a field of file N's directory entry on its disk image.
    uint64_t entryField(uint32_t file, uint32_t offset) const
    {
        const forge::AsmPlacedFile &f = sample_.file(file);
        return sample_.at(f.entry.au, f.entryBlock, offset);
    }
    std::string entryImage(uint32_t file) const { return sample_.image(sample_.file(file).entry.disk); }
    uint64_t groupBytes() const
    {
        uint64_t aus = 0;
        for (uint32_t a : sample_.record_.diskAus)
            aus += a;
        return aus * kMB;
    }
    asmtest::AsmSample sample_;
};

TEST_F(AsmDamage, MissingDiskCopiesItsExtentsAsZeros)
{
    make(3, 60);
    asmtest::writeWhole("disks.lst", "disk0.img\ndisk1.img\n");
    std::string printed = sample_.run("ASM OPEN disks.lst\nASM COPY FILE 257 TO c.dbf\nASM LIST\n");
    EXPECT_NE(printed.find("Total Disks = 2,"), std::string::npos);
    std::string copy = readWhole("c.dbf");
    std::string original = readWhole("users01.dbf");
    ASSERT_EQ(copy.size(), original.size());
    const forge::AsmPlacedFile &f = sample_.file(257);
    ASSERT_TRUE(f.extents[0].disk == 2 || f.extents[1].disk == 2);
    for (size_t k = 0; k < f.extents.size(); k++) {
        std::string want = f.extents[k].disk == 2 ? std::string(kMB, '\0') : original.substr(k * kMB, kMB);
        EXPECT_TRUE(copy.substr(k * kMB, kMB) == want) << "extent " << k + 1;
    }
}

TEST_F(AsmDamage, DamagedDiskHeaderIsAnInvalidDisk)
{
    make(2, 60);
    patchImage("disk1.img", 0, std::vector<uint8_t>(4096, 0));
    std::string printed = sample_.run("ASM OPEN disks.lst\nASM LIST\n");
    EXPECT_NE(printed.find("Invalid Disk : disk1.img\n"), std::string::npos);
    EXPECT_NE(printed.find("Total Disks = 1,"), std::string::npos);
}

TEST_F(AsmDamage, WildExtentCountsStayWithinTheGroup)
{
    make(1, 60);
    patchImage(entryImage(256), entryField(256, 52), le32(0xFFFFFFFF));
    patchImage(entryImage(256), entryField(256, 92), le16(0xFFFF));
    patchImage(entryImage(256), entryField(256, 94), le16(0xFFFF));
    std::string printed =
        sample_.run("ASM OPEN disks.lst\nASM COPY FILE 256 TO c.dbf\nASM FMAP FILE 256\nOPEN zor_asm.cfg\n");
    struct stat st;
    ASSERT_EQ(stat("c.dbf", &st), 0);
    EXPECT_LE(static_cast<uint64_t>(st.st_size), groupBytes());
    // The first two extents are still the file's.
    EXPECT_EQ(readWhole("c.dbf").substr(0, 2 * kMB), readWhole("system01.dbf"));
    EXPECT_NE(printed.find("ecnt=-1"), std::string::npos);
}

TEST_F(AsmDamage, IndirectBlockPastTheDiskEndCopiesZeros)
{
    make(1, 1);
    const forge::AsmPlacedFile &f = sample_.file(257);
    ASSERT_EQ(f.directCount, 1u);
    ASSERT_EQ(f.indirectAus.size(), 1u);
    patchImage(sample_.image(0), sample_.at(f.indirectAus[0].au, 0, 44), le32(0x00FFFFF0));
    sample_.run("ASM OPEN disks.lst\nASM COPY FILE 257 TO c.dbf\n");
    std::string copy = readWhole("c.dbf");
    std::string original = readWhole("users01.dbf");
    ASSERT_EQ(copy.size(), original.size());
    EXPECT_TRUE(copy.substr(0, kMB) == original.substr(0, kMB));
    EXPECT_TRUE(copy.substr(kMB) == std::string(kMB, '\0'));
}

TEST_F(AsmDamage, LoopOfIndirectBlocksIsReadOnce)
{
    make(1, 1);
    const forge::AsmPlacedFile &f = sample_.file(257);
    // A second indirect slot naming the same AU as the first.
    std::vector<uint8_t> slot = le32(f.indirectAus[0].au);
    slot.insert(slot.end(), {0, 0, 0, 0});
    patchImage(entryImage(257), entryField(257, 1216 + 8 * 2), slot);
    patchImage(entryImage(257), entryField(257, 92), le16(3));
    std::string printed = sample_.run("ASM OPEN disks.lst\nASM COPY FILE 257 TO c.dbf\nASM FMAP FILE 257\n");
    EXPECT_TRUE(readWhole("c.dbf") == readWhole("users01.dbf"));
    EXPECT_EQ(printed.find("ERROR: missing"), std::string::npos);
}

TEST_F(AsmDamage, CopyWithMapRecoversAFileAfterTheFileDirectoryIsZeroed)
{
    make(2, 60);
    sample_.run("ASM OPEN disks.lst\nASM SCAN TO map.txt\n");
    for (const forge::AsmPlacedExtent &e : sample_.record_.fileDirectory.extents)
        patchImage(sample_.image(e.disk), sample_.at(e.au), std::vector<uint8_t>(kMB, 0));
    sample_.run("ASM OPEN disks.lst\nASM COPY FILE 257 TO plain.dbf\nASM COPY FILE 257 MAP map.txt TO mapped.dbf\n");
    struct stat st;
    EXPECT_NE(stat("plain.dbf", &st), 0);
    EXPECT_TRUE(readWhole("mapped.dbf") == readWhole("users01.dbf"));
}

TEST_F(AsmDamage, MapWithAGapWritesAZeroExtent)
{
    make(1, 60);
    const forge::AsmPlacedFile &f = sample_.file(257);
    asmtest::writeWhole("map.txt", "# extents 1 and 3 of file 257\n257,3," + std::to_string(f.extents[1].disk) + "," +
                                       std::to_string(f.extents[1].au) + "\n\n257,1," +
                                       std::to_string(f.extents[0].disk) + "," + std::to_string(f.extents[0].au) +
                                       "\n");
    sample_.run("ASM OPEN disks.lst\nASM COPY FILE 257 MAP map.txt TO m.dbf\n");
    std::string copy = readWhole("m.dbf");
    std::string original = readWhole("users01.dbf");
    ASSERT_EQ(copy.size(), 3 * kMB);
    EXPECT_TRUE(copy.substr(0, kMB) == original.substr(0, kMB));
    EXPECT_TRUE(copy.substr(kMB, kMB) == std::string(kMB, '\0'));
    EXPECT_TRUE(copy.substr(2 * kMB) == original.substr(kMB));
}

}  // namespace
