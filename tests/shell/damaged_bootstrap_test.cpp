// The dictionary rebuilt from a sample database whose SYS segment headers
// are damaged in named ways: every dictionary line of the intact blocks must
// still come out, with no line twice, and then every SCOTT table must unload
// exactly as from the undamaged database.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"

namespace {

const char *const kDictionaryFiles[] = {"ZORDICT/ZORUSR.TXT", "ZORDICT/ZOROBJ.TXT", "ZORDICT/ZORTAB.TXT",
                                        "ZORDICT/ZORCOL.TXT"};
const char *const kTables[] = {"DEPT", "EMP", "SALES", "DOCS", "ALL_TYPES", "EMP$HIST"};

struct Rescue {
    std::vector<std::string> files;   // the dictionary files, then each table's rows
    std::string printed;
};

// Forges the sample with the given damage lines, rebuilds the dictionary and
// unloads every SCOTT table.
Rescue rescue(const std::string &damage)
{
    Rescue result;
    std::string description = std::string(forge::sampleDescription()) + damage;
    zorsession::ScratchDirectory scratch;
    forge::Manifest manifest;
    zorsession::enterForgedDirectory(&scratch, description.c_str(), &manifest);
    if (testing::Test::HasFatalFailure()) {
        zorsession::leaveScratchDirectory(&scratch);
        return result;
    }
    std::string commands = "OPEN zor.cfg\nUNLOAD TABLE DICT$;\n";
    for (const char *table : kTables)
        commands += std::string("UNLOAD TABLE SCOTT.") + table + " TO " + table + ".txt;\n";
    result.printed = zorsession::runCommands(commands);
    for (const char *file : kDictionaryFiles)
        result.files.push_back(zorsession::readWhole(file));
    for (const char *table : kTables)
        result.files.push_back(zorsession::readWhole(std::string(table) + ".txt"));
    zorsession::leaveScratchDirectory(&scratch);
    return result;
}

struct Damage {
    const char *name;
    const char *lines;   // forge damage statements
    const char *said;    // what the rebuild must say about it
};

// The SYS segment headers of the sample: C_OBJ# (TAB$, COL$) in block 8,
// C_USER# (USER$) in block 20, OBJ$ in block 23 of system01.dbf.  Header
// fields: extent entry count at 92, data object id at 100, first extent
// (RDBA, blocks) at 108.
const Damage kDamages[] = {
    {"ClusterHeaderZeroed", "damage system01.dbf zero 8 0 8192\n", "Segment header of OBJD=2 not found"},
    {"ClusterExtentCut", "damage system01.dbf hex 8 112 02000000\ndamage system01.dbf reseal 8\n",
     "Extent map of OBJD=2 lists 1 of its 1 extents and 2 of its 12 blocks"},
    {"ClusterExtentCountZero", "damage system01.dbf hex 8 92 00000000\ndamage system01.dbf reseal 8\n",
     "Extent map of OBJD=2 lists 0 of its 1 extents"},
    {"ClusterHeaderAndCountsCut",
     "damage system01.dbf hex 8 112 02000000\ndamage system01.dbf hex 8 36 0100000002000000\n"
     "damage system01.dbf reseal 8\n",
     "Extent map of OBJD=2 reaches 1 data blocks, a scan of its file finds"},
    {"UserHeaderForeignObject", "damage system01.dbf hex 20 100 e7030000\ndamage system01.dbf reseal 20\n",
     "Segment header of OBJD=10 not found"},
    {"ObjHeaderFailsChecksum", "damage system01.dbf flipbyte 23 4000\n",
     "Segment header of OBJD=18 fails its check"},
};

TEST(DamagedBootstrap, EveryIntactDictionaryRowAndTableComesOut)
{
    Rescue intact = rescue("");
    ASSERT_EQ(intact.files.size(), 10u) << intact.printed;
    EXPECT_EQ(intact.printed.find("rows taken from a scan"), std::string::npos) << intact.printed;
    for (const Damage &d : kDamages) {
        Rescue damaged = rescue(d.lines);
        ASSERT_EQ(damaged.files.size(), intact.files.size()) << d.name << damaged.printed;
        EXPECT_NE(damaged.printed.find(d.said), std::string::npos) << d.name << "\n" << damaged.printed;
        for (size_t i = 0; i < intact.files.size(); i++)
            EXPECT_EQ(damaged.files[i], intact.files[i]) << d.name << " file " << i;
    }
}

}  // namespace
