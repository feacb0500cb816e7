// The sample database inside forged disk groups of several shapes: every
// datafile copies out byte-identical, every table unloads through the
// ASM-resident configuration exactly as the forge stored it, and the
// listings show what the forge wrote.
#include "asm/asm.h"
#include "asm_test_env.h"

namespace {

struct GroupShape {
    const char *name;
    uint32_t auMegabytes;
    uint32_t disks;
    bool bigEndian;
    uint32_t directSlots;
    uint32_t indirectPerBlock;
};

const GroupShape kShapes[] = {
    {"OneDiskLittle1MB", 1, 1, false, 60, 0},
    {"ThreeDisksBig4MB", 4, 3, true, 60, 0},
    {"IndirectExtentsTwoDisks", 1, 2, false, 1, 1},
};

struct TableUnload {
    const char *table;
    const char *partition;
    const char *command;
};

const TableUnload kTables[] = {
    {"DEPT", "", "SCOTT.DEPT"},
    {"EMP", "", "SCOTT.EMP"},
    {"SALES", "P2023", "SCOTT.SALES PARTITION P2023"},
    {"SALES", "P2024", "SCOTT.SALES PARTITION P2024"},
    {"SALES", "PMAX", "SCOTT.SALES PARTITION PMAX"},
    {"DOCS", "", "SCOTT.DOCS"},
    {"ALL_TYPES", "", "SCOTT.ALL_TYPES"},
    {"EMP$HIST", "", "SCOTT.EMP$HIST"},
};

class AsmRoundTrip : public ::testing::TestWithParam<GroupShape> {
protected:
    void SetUp() override
    {
        forge::AsmGroupSpec groupSpec;
        groupSpec.auSize = GetParam().auMegabytes * 1048576u;
        groupSpec.diskCount = GetParam().disks;
        groupSpec.bigEndian = GetParam().bigEndian;
        groupSpec.directSlots = GetParam().directSlots;
        groupSpec.indirectSlotsPerBlock = GetParam().indirectPerBlock;
        sample_.create(groupSpec);
    }
    void TearDown() override { sample_.destroy(); }
    asmtest::AsmSample sample_;
};

TEST_P(AsmRoundTrip, CopiesEveryDatafileOutByteIdentical)
{
    sample_.run("ASM OPEN disks.lst\nASM COPY FILE 256 TO copy256.dbf\nASM COPY FILE 257 TO copy257.dbf\n");
    EXPECT_EQ(asmtest::readWhole("copy256.dbf"), asmtest::readWhole("system01.dbf"));
    EXPECT_EQ(asmtest::readWhole("copy257.dbf"), asmtest::readWhole("users01.dbf"));
}

TEST_P(AsmRoundTrip, UnloadsEveryTableThroughTheDiskGroup)
{
    std::string commands = "ASM OPEN disks.lst\nOPEN zor_asm.cfg\nUNLOAD TABLE DICT$;\n"
                           "SET FIELD_TAG ,\nSET RECORD_TAG \\n\n";
    for (size_t i = 0; i < sizeof kTables / sizeof kTables[0]; i++)
        commands += "UNLOAD TABLE " + std::string(kTables[i].command) + " TO t" + std::to_string(i) + ".txt;\n";
    std::string printed = sample_.run(commands);
    EXPECT_NE(printed.find("Y    0    1 a2   8192        255        2     0 +256\n"), std::string::npos) << printed;
    for (size_t i = 0; i < sizeof kTables / sizeof kTables[0]; i++)
        EXPECT_EQ(asmtest::readWhole("t" + std::to_string(i) + ".txt"),
                  sample_.expectedRows(kTables[i].table, kTables[i].partition))
            << kTables[i].command;
}

TEST_P(AsmRoundTrip, ListingsShowWhatTheForgeWrote)
{
    std::string printed = sample_.run("ASM OPEN disks.lst\nASM FMAP FILE 256\nASM FMAP FILE 257\nASM FILE\nASM ALIAS\n"
                                      "ASM LIST\n");
    for (const forge::AsmPlacedFile &f : sample_.record_.files) {
        char line[160];
        snprintf(line, sizeof line, "siz=%llu, ecnt=%zu,", static_cast<unsigned long long>(f.size >> 20),
                 f.extents.size());
        EXPECT_NE(printed.find(line), std::string::npos) << line;
        for (size_t k = 0; k < f.extents.size(); k++) {
            snprintf(line, sizeof line, "%10zu %5u %10u    1", k + 1, f.extents[k].disk, f.extents[k].au);
            EXPECT_NE(printed.find(line), std::string::npos) << line << "\n" << printed;
        }
        snprintf(line, sizeof line, "%8u %5u %8u %3u %8llu", f.fileNumber, f.entry.disk, f.entry.au, f.entryBlock,
                 static_cast<unsigned long long>(f.size >> 20));
        EXPECT_NE(printed.find(line), std::string::npos) << line;
        EXPECT_NE(printed.find(" " + f.alias + "\n"), std::string::npos) << f.alias;
    }
    char total[80];
    snprintf(total, sizeof total, "Total Disks = %u, ausize=%u, blksize=4096\n", GetParam().disks,
             GetParam().auMegabytes * 1048576u);
    EXPECT_NE(printed.find(total), std::string::npos) << printed;
    EXPECT_NE(printed.find("f1b1disk = 0, f1b1au = 2, score="), std::string::npos);
    // The forge writes a disk's size in AUs, as ASM does; read as megabytes
    // it hides AUs of a 4 MB group, and the listing says so.
    EXPECT_EQ(printed.find(", the disk holds ") != std::string::npos, GetParam().auMegabytes == 4) << printed;
    EXPECT_NE(printed.find("file=(1,0,2,1), disk=(2,0,2,2), alias=(6,0,2,6)\n"), std::string::npos) << printed;
}

TEST_P(AsmRoundTrip, ScanMapCoversEveryExtentOfEveryFile)
{
    sample_.run("ASM OPEN disks.lst\nASM SCAN TO map.txt\n");
    std::string map = asmtest::readWhole("map.txt");
    for (const forge::AsmPlacedFile &f : sample_.record_.files) {
        for (size_t k = 0; k < f.extents.size(); k++) {
            std::string line = std::to_string(f.fileNumber) + "," + std::to_string(k + 1) + "," +
                               std::to_string(f.extents[k].disk) + "," + std::to_string(f.extents[k].au) + "\n";
            EXPECT_NE(map.find(line), std::string::npos) << line;
        }
    }
}

TEST_P(AsmRoundTrip, EveryMetadataBlockCarriesItsCheckWord)
{
    std::string image = asmtest::readWhole("disk0.img");
    ASSERT_GE(image.size(), 4096u * 8);
    uint32_t f1b1 = sample_.record_.f1b1Au * GetParam().auMegabytes * 1048576u;
    for (uint32_t offset : {0u, f1b1, f1b1 + 4096u, f1b1 + 6 * 4096u}) {
        AsmBlockView view = asmBlockView(reinterpret_cast<const uint8_t *>(image.data()) + offset, 4096);
        EXPECT_EQ(asmU32(&view, 12), computeAsmCheckWord(&view)) << offset;
        EXPECT_EQ(view.bigEndian, GetParam().bigEndian);
    }
}

TEST_P(AsmRoundTrip, OracleBlockReadsStopAtTheEndOfAnAu)
{
    AsmDiskGroup *group = static_cast<AsmDiskGroup *>(calloc(1, sizeof(AsmDiskGroup)));
    AsmFileRecord *record = static_cast<AsmFileRecord *>(malloc(sizeof(AsmFileRecord)));
    initASMDiskGroup(group);
    openDiskGroup(stdout, group, "disks.lst");
    clearAsmFileRecord(record);
    ASSERT_EQ(getASMFileEntry(group, record, 257), 1);
    std::vector<uint8_t> dest(16 * 8192);
    if (GetParam().auMegabytes == 1) {   // the 2 MB file spans two AUs of 128 blocks
        EXPECT_EQ(readASMOracleBlock(group, record, 120, 8192, dest.data(), 16), 8u * 8192);
        EXPECT_EQ(readASMOracleBlock(group, record, 128, 8192, dest.data(), 16), 16u * 8192);
        std::string users = asmtest::readWhole("users01.dbf");
        EXPECT_EQ(memcmp(dest.data(), users.data() + 128 * 8192, dest.size()), 0);
    }
    // The file ends at 256 blocks.
    EXPECT_EQ(readASMOracleBlock(group, record, 255, 8192, dest.data(), 4), 8192u);
    EXPECT_EQ(readASMOracleBlock(group, record, 256, 8192, dest.data(), 1), 0u);
    if (GetParam().auMegabytes == 1) {
        // Stripes of 128 KB over 8 AUs: logical stripe 9 is the second
        // stripe of the second AU.
        std::vector<uint8_t> stripe(131072);
        ASSERT_EQ(readASMStripFileData(group, record, 9 * 131072, stripe.data()), 131072u);
        std::string users = asmtest::readWhole("users01.dbf");
        EXPECT_EQ(memcmp(stripe.data(), users.data() + 1048576 + 131072, stripe.size()), 0);
    }
    EXPECT_EQ(getASMFileEntry(group, record, 999), 0);
    EXPECT_EQ(record->fileNumber, 257u);
    closeDiskGroup(group);
    free(group);
    free(record);
}

INSTANTIATE_TEST_SUITE_P(Shapes, AsmRoundTrip, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<GroupShape> &info) { return info.param.name; });

}  // namespace
