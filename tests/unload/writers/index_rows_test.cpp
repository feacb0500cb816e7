// Index-organized rows: a forged primary-key index segment (segment header,
// a branch block, a leaf) whose entries carry rows, some continued in an
// overflow segment, one continued into a corrupt block.  UNLOAD TABLE finds
// the index segment through the dictionary (the table's own TAB$ row has no
// segment; the index has the next object number) and writes the same rows
// as text and as an export dump; ROW_ADDRESS, DELETED_ROW and the cached
// index-block reader are checked on the same files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "column_values.h"
#include "datafile/datafile_test_env.h"
#include "export_reader.h"
#include "block/block.h"
#include "datafile/datafile.h"
#include "forge/forge.h"
#include "forge/forge_undo_index.h"
#include "index/index.h"
#include "scan/zor_session.h"
#include "shell/shell.h"

namespace {

using zorsession::writeWhole;

constexpr uint32_t kBlockSize = 8192;
constexpr uint16_t kRfn = 4;
constexpr uint32_t kIotObj = 500;  // the table; its index is 501
constexpr uint32_t kIndexObjd = 501;
constexpr uint32_t kOverflowObjd = 502;
constexpr uint32_t kHeaderBlock = 10;
constexpr uint32_t kBranchBlock = 11;
constexpr uint32_t kLeafBlock = 12;
constexpr uint32_t kOverflowBlock = 20;
constexpr uint32_t kCorruptBlock = 21;

forge::IndexEntry entry(long long key, const std::vector<forge::ColumnValue> &data, uint8_t dataFlag,
                        uint32_t nextBlock = 0, uint16_t nextSlot = 0)
{
    forge::IndexEntry e;
    forge::initIndexEntry(&e);
    e.keys = {numberValue(key)};
    e.hasData = true;
    e.data = data;
    e.dataFlag = dataFlag;
    if (nextBlock != 0) {
        e.nextRdba = forge::makeRdba(kRfn, nextBlock);
        e.nextSlot = nextSlot;
    }
    return e;
}

forge::Block sealed(forge::Block block)
{
    forge::sealBlock(&block);
    return block;
}

forge::Block newBlock()
{
    forge::Block block;
    forge::initBlock(&block, kBlockSize, forge::kLittleEndian);
    return block;
}

forge::RowPiece piece(const std::vector<forge::ColumnValue> &columns, uint8_t flag)
{
    forge::RowPiece p;
    forge::initRowPiece(&p);
    p.flag = flag;
    p.columns = columns;
    return p;
}

std::vector<forge::PlacedBlock> iotBlocks()
{
    std::vector<forge::PlacedBlock> placed;
    char error[128];

    forge::SegmentHeaderLayout header;
    forge::initSegmentHeaderLayout(&header, forge::kTypeSegmentHeader, forge::makeRdba(kRfn, kHeaderBlock),
                                   kIndexObjd);
    header.extents = {{forge::makeRdba(kRfn, kHeaderBlock), 8}};
    header.extentCount = 1;
    header.blockCount = 8;
    forge::Block headerBlock = newBlock();
    EXPECT_TRUE(forge::putSegmentHeader(&headerBlock, &header, error, sizeof error)) << error;
    placed.push_back({kHeaderBlock, sealed(headerBlock)});

    forge::IndexBlockLayout branch;
    forge::initIndexBlockLayout(&branch, forge::makeRdba(kRfn, kBranchBlock), kIndexObjd, 1);
    branch.level = 1;
    branch.opcode = forge::kIndexOpcodeIot;
    branch.leftmostChild = forge::makeRdba(kRfn, kLeafBlock);
    placed.push_back({kBranchBlock, forgedIndexBlock(branch, forge::kLittleEndian, kBlockSize)});

    const uint8_t first = forge::kRowHead | forge::kRowFirst;
    forge::IndexBlockLayout leaf;
    forge::initIndexBlockLayout(&leaf, forge::makeRdba(kRfn, kLeafBlock), kIndexObjd, 1);
    leaf.opcode = forge::kIndexOpcodeIot;
    forge::IndexEntry gone = entry(2, {textValue("B"), textValue("y")}, forge::kRowNormal);
    gone.flag = 0x01;
    leaf.entries = {
        entry(1, {textValue("A"), textValue("x")}, forge::kRowNormal),
        gone,
        entry(3, {textValue("C")}, first, kOverflowBlock, 0),
        entry(4, {textValue("D")}, first, kCorruptBlock, 0),
        // The last column goes on in the overflow piece (N, then P).
        entry(5, {textValue("E"), textValue("ab")}, first | forge::kRowNext, kOverflowBlock, 1),
    };
    placed.push_back({kLeafBlock, forgedIndexBlock(leaf, forge::kLittleEndian, kBlockSize)});

    forge::DataBlockLayout overflow;
    forge::initDataBlockLayout(&overflow, forge::makeRdba(kRfn, kOverflowBlock), kOverflowObjd);
    overflow.rows = {piece({textValue("c3a"), textValue("c3b")}, forge::kRowLast),
                     piece({textValue("cd"), textValue("z")}, forge::kRowLast | forge::kRowPrevious)};
    placed.push_back({kOverflowBlock, forgedDataBlock(overflow, forge::kLittleEndian, kBlockSize)});

    forge::DataBlockLayout corrupt = overflow;
    corrupt.cache.rdba = forge::makeRdba(kRfn, kCorruptBlock);
    forge::Block corruptBlock = newBlock();
    EXPECT_TRUE(forge::putDataBlock(&corruptBlock, &corrupt, error, sizeof error)) << error;
    forge::sealBlockWrong(&corruptBlock, 0x1234);
    placed.push_back({kCorruptBlock, corruptBlock});
    return placed;
}

class IndexOrganizedTable : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        forge::DatafileLayout file;
        forge::initDatafileLayout(&file, "users01.dbf", kRfn, 64, kBlockSize, forge::kLittleEndian);
        std::vector<forge::PlacedBlock> blocks = iotBlocks();
        char error[256];
        ASSERT_TRUE(forge::writeDatafile(&file, blocks.data(), blocks.size(), error, sizeof error)) << error;
        writeWhole("db.cfg", "users01.dbf\n");
        writeWhole("ZORDICT/ZORUSR.TXT", "83,SCOTT,\n");
        writeWhole("ZORDICT/ZOROBJ.TXT",
                   "500,83,IOT,,2,,\n501,83,PK_IOT,,1,,\n502,83,SYS_IOT_OVER_500,,2,,\n");
        // The table's TAB$ row has no segment; IND$ gives the index's.
        writeWhole("ZORDICT/ZORTAB.TXT", "500,,4,0,0,\n502,502,4,4,20,\n501,501,4,4,10\n");
        writeWhole("ZORDICT/ZORCOL.TXT",
                   "500,1,1,K,2,22,,,1,1,0,0,0\n"
                   "500,2,2,V1,1,10,,,0,2,0,873,1\n"
                   "500,3,3,V2,1,10,,,0,3,0,873,1\n"
                   "500,4,4,V3,1,10,,,0,4,0,873,1\n");
    }
    std::string run(const std::string &commands)
    {
        return zorsession::runCommands(
            "OPEN db.cfg\nSET BLOCK_CHECK 1\nSET FIELD_TAG ,\nSET RECORD_TAG \\n\n" + commands);
    }
};

}  // namespace

TEST_F(IndexOrganizedTable, TextRowsThroughTheDictionaryWithOverflowPieces)
{
    std::string said = run("UNLOAD TABLE SCOTT.IOT TO iot.txt;\n");
    EXPECT_NE(said.find("Unload OBJD=501 FILE=4 BLOCK=10"), std::string::npos) << said;
    EXPECT_NE(said.find("Sucessfully unload 4 rows"), std::string::npos) << said;
    // The overflow piece in a corrupt block is reported; the row still ends.
    EXPECT_NE(said.find("Block check failured at RDBA=0x01000015=16777237"), std::string::npos) << said;
    EXPECT_EQ(zorsession::readWhole("iot.txt"), "1,A,x\n3,C,c3a,c3b\n4,D,\n5,E,abcd,z\n");
}

TEST_F(IndexOrganizedTable, DeletedEntriesAndRowAddresses)
{
    run("SET DELETED_ROW TRUE\nSET ROW_ADDRESS 1\nUNLOAD TABLE SCOTT.IOT TO iot.txt;\n");
    uint32_t leaf = forge::makeRdba(kRfn, kLeafBlock);
    std::string a = std::to_string(leaf) + ".0.";
    EXPECT_EQ(zorsession::readWhole("iot.txt"), a + "0,1,A,x\n" + a + "1,2,B,y\n" + a + "2,3,C,c3a,c3b\n" +
                                                    a + "3,4,D,\n" + a + "4,5,E,abcd,z\n");
}

TEST_F(IndexOrganizedTable, DumpRowsHaveEveryColumnAndTheSplitValueJoined)
{
    std::string said = run("UNLOAD TABLE SCOTT.IOT TO iot.dmp;\n");
    EXPECT_NE(said.find("Sucessfully unload 4 rows"), std::string::npos) << said;
    exportfile::File file;
    ASSERT_TRUE(exportfile::readFile("iot.dmp", &file)) << file.error;
    ASSERT_EQ(file.tables.size(), 1u);
    const exportfile::Table &t = file.tables[0];
    ASSERT_EQ(t.columns.size(), 4u);
    ASSERT_EQ(t.rows.size(), 4u);
    std::vector<std::vector<std::string>> want = {
        {"A", "x", ""}, {"C", "c3a", "c3b"}, {"D", "", ""}, {"E", "abcd", "z"}};
    for (size_t r = 0; r < want.size(); r++) {
        std::vector<uint8_t> key = forge::encodeNumber(r == 0 ? 1 : static_cast<long long>(r + 2));
        EXPECT_EQ(t.rows[r][0].bytes, std::string(key.begin(), key.end())) << r;
        for (size_t c = 0; c < 3; c++) {
            EXPECT_EQ(t.rows[r][c + 1].isNull, want[r][c].empty()) << r << " " << c;
            EXPECT_EQ(t.rows[r][c + 1].bytes, want[r][c]) << r << " " << c;
        }
    }
}

TEST(ReadIndexBlock, ReadsTheDatafileOnceAndASlotHoldsOneFilesBlock)
{
    DatafileTestEnv env;
    setUpDatafileEnv(&env);
    // Block 100 of file 5, and block 100 of file 6, which takes the same
    // cache slot.
    std::string paths[2] = {env.dir + "/five.dbf", env.dir + "/six.dbf"};
    for (int i = 0; i < 2; i++) {
        forge::DatafileLayout layout;
        forge::initDatafileLayout(&layout, paths[i].c_str(), static_cast<uint16_t>(5 + i), 200, kBlockSize,
                                  forge::kLittleEndian);
        ASSERT_TRUE(writeTestDatafile(&layout, true));
    }
    openConfigText(&env, paths[0] + "\n" + paths[1] + "\n");
    UnloadContext *ctx = env.ctx;

    uint64_t before = g_positionedReads.calls;
    ASSERT_EQ(readIndexBlock(env.set, ctx, 5, 100), static_cast<int>(kBlockSize));
    ASSERT_EQ(readIndexRDBA(env.set, ctx, forge::makeRdba(5, 100)), static_cast<int>(kBlockSize));
    EXPECT_EQ(g_positionedReads.calls - before, 1u);
    EXPECT_EQ(getBlockRDBA(ctx), forge::makeRdba(5, 100));

    ASSERT_EQ(readIndexBlock(env.set, ctx, 6, 100), static_cast<int>(kBlockSize));
    EXPECT_EQ(getBlockRDBA(ctx), forge::makeRdba(6, 100));
    ASSERT_EQ(readIndexBlock(env.set, ctx, 5, 100), static_cast<int>(kBlockSize));
    EXPECT_EQ(g_positionedReads.calls - before, 3u);
    EXPECT_EQ(getBlockRDBA(ctx), forge::makeRdba(5, 100));
    // A file that is not open cannot be read.
    EXPECT_EQ(readIndexBlock(env.set, ctx, 9, 100), 0);
    tearDownDatafileEnv(&env);
}
