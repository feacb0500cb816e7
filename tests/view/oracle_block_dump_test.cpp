// ORADUMP of blocks Oracle wrote, held against Oracle's own dump of them
// where the two show the same fields: ITL lines, the data header counts and
// offsets (ZOR shows fsbo/fseo from the block start, Oracle from the data
// header), row flags and column bytes.
#include <gtest/gtest.h>

#include <string>

#include "block/block.h"
#include "view/view.h"
#include "block/dump_test_util.h"
#include "oracle_fixtures.h"

using namespace testblock;
using dumptest::capture;

namespace {

std::string dumpOracleBlock(const char *name)
{
    std::vector<uint8_t> bytes = loadOracleBlock(name);
    if (bytes.empty())
        return std::string();
    auto ctx = makeContext(bytes, kLittle);
    return capture([](FILE *s, UnloadContext *c) { printHeader(s, c); }, ctx.get());
}

void expectLine(const std::string &text, const char *line)
{
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << "no line: " << line << "\n" << text;
}

}  // namespace

TEST(OracleBlockDump, HeapRowChar19c)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::string text = dumpOracleBlock("heap-1row-char-19c-x64");
    if (text.empty())
        GTEST_SKIP() << "fixtures not present";
    // Oracle: rdba 0x03000c36 (12/3126), seg/obj 0x123ba, itc 2, typ 1 - DATA, bdba 0x3000c30.
    EXPECT_EQ(text.substr(0, text.find('\n')), "RDBA=0x03000c36(12/3126)=50334774,type=0x06,fmt=0xa2,seq=0x01,flag=0x06");
    EXPECT_NE(text.find("\nseg/obj=0x000123ba=74682,csc=0x8000.0080e5e1,itc=2,typ=1 - DATA  \n"), std::string::npos);
    // Oracle: 0x01 0x0001.00e.00000d34 0x024027ea.012d.10 --U- 1 fsc 0x0000.0080e5e2
    expectLine(text, "0x01 0x0001.00e.00000d34 0x024027ea.012d.10 --U-    1 0x0000.0080e5e2");
    expectLine(text, "0x02 0x0000.000.00000000 0x00000000.0000.00 ----    0 0x0000.00000000");
    // Oracle: ntab=1 nrow=1 frre=-1 fsbo=0x14 fseo=0x1f6b avsp=0x1f57 tosp=0x1f57, at 0x64.
    expectLine(text, "hdsz=100");
    expectLine(text, "ntab=1");
    expectLine(text, "nrow=1");
    expectLine(text, "ffre=65535");
    expectLine(text, "fsbo=0x0078=120");
    expectLine(text, "fseo=0x1fcf=8143");
    expectLine(text, "avsp=0x1f57=8023");
    expectLine(text, "tosp=0x1f57=8023");
    // Oracle: tab 0, row 0, @0x1f6b  fb: --H-FL-- lb: 0x1 cc: 6
    expectLine(text, "    row#=   0  offs=0x1f6b= 8043+ 100=0x1fcf= 8143 cc=  6  flag=--H-FL--");
    expectLine(text, "     col[  0] offs= 8147 len=   10 : 61 20 20 20 20 20 20 20 20 20 ");
    expectLine(text, "     col[  3] offs= 8180 len=    1 : 61 ");
    expectLine(text, "     col[  4] offs= 8182 len=    2 : 61 20 ");
    expectLine(text, "     col[  5] offs= 8185 len=    3 : 61 20 20 ");
    // The earlier life of the block in its free space is not a row.
    EXPECT_EQ(text.find("row#=   1"), std::string::npos);
}

TEST(OracleBlockDump, HeapThreeRowsLock32Bit)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::string text = dumpOracleBlock("heap-3rows-lock-32bit");
    if (text.empty())
        GTEST_SKIP() << "fixtures not present";
    EXPECT_NE(text.find("\nseg/obj=0x0000d2b8=53944,csc=0x0000.001732d3,itc=2,typ=1 - DATA  \n"), std::string::npos);
    expectLine(text, "FLG=0x32, fls=0, nxt=0x01400009(5/9)=20971529");
    // Oracle: 0x01 0x0006.020.00000271 0x00800205.0257.13 C--- 0 scn 0x0000.001732c4
    expectLine(text, "0x01 0x0006.020.00000271 0x00800205.0257.13 C---    0 0x0000.001732c4");
    expectLine(text, "0x02 0x0008.006.00000279 0x00800351.0278.15 ----    1 0x0000.00000000");
    // Oracle: nrow=3 fsbo=0x18 fseo=0x1f5e avsp=0x1f65; rows at 0x1f5e, 0x1f66, 0x1f80.
    expectLine(text, "nrow=3");
    expectLine(text, "fsbo=0x007c=124");
    expectLine(text, "fseo=0x1fc2=8130");
    expectLine(text, "avsp=0x1f65=8037");
    expectLine(text, "    row#=   0  offs=0x1f5e= 8030+ 100=0x1fc2= 8130 cc=  2  flag=--H-FL--");
    expectLine(text, "    row#=   1  offs=0x1f66= 8038+ 100=0x1fca= 8138 cc=  2  flag=--H-FL--");
    expectLine(text, "    row#=   2  offs=0x1f80= 8064+ 100=0x1fe4= 8164 cc=  2  flag=--H-FL--");
    expectLine(text, "     col[  0] offs= 8168 len=    2 : c1 04 ");
    expectLine(text, "     col[  1] offs= 8171 len=    1 : 63 ");
}

TEST(OracleBlockDump, EmpFourteenRowsTwelveDeleted)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::string text = dumpOracleBlock("emp-14rows-12deleted-11203-i686");
    if (text.empty())
        GTEST_SKIP() << "fixtures not present";
    EXPECT_NE(text.find("\nseg/obj=0x00012f8b=77707,csc=0x0000.001cb316,itc=3,typ=1 - DATA  \n"), std::string::npos);
    // Oracle: ITL 2 xid 0x0006.017.000003e9 uba 0x00c003d6.0149.27 --U- 14 fsc 0x021b.001cc0f2
    expectLine(text, "0x02 0x0006.017.000003e9 0x00c003d6.0149.27 --U-   14 0x021b.001cc0f2");
    expectLine(text, "0x03 0x0000.000.00000000 0x00000000.0000.00 ----    0 0x0000.00000000");
    expectLine(text, "hdsz=124");
    expectLine(text, "tab#=  0     nrow=  14     offs=   0");
    size_t live = 0, deleted = 0;
    for (size_t at = text.find("flag=--H-FL--"); at != std::string::npos; at = text.find("flag=--H-FL--", at + 1))
        live++;
    for (size_t at = text.find("flag=--HDFL--"); at != std::string::npos; at = text.find("flag=--HDFL--", at + 1))
        deleted++;
    EXPECT_EQ(live, 2u);
    EXPECT_EQ(deleted, 12u);
    // SMITH's COMM is NULL in the middle of the row.
    EXPECT_NE(text.find(": 53 4d 49 54 48 \n"), std::string::npos);
    EXPECT_NE(text.find(": *NULL*\n"), std::string::npos);
}

TEST(OracleBlockDump, CorruptMarkedTypeZeroPrintsNothing)
{
    SKIP_WITHOUT_ORACLE_FIXTURES();
    std::vector<uint8_t> bytes = loadOracleBlock("corrupt-marked-allzero-11204-x64");
    if (bytes.empty())
        GTEST_SKIP() << "fixtures not present";
    auto ctx = makeContext(bytes, kLittle);
    EXPECT_EQ(capture([](FILE *s, UnloadContext *c) { printHeader(s, c); }, ctx.get()), "");
    EXPECT_EQ(capture([](FILE *s, UnloadContext *c) { printBriefHeader(s, c); }, ctx.get()), "");
}
