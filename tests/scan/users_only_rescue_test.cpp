// A rescue with only the USERS datafile of the sample database: no SYSTEM
// file, so no dictionary.  SCAN EXTENT and SCAN TABLE propose one UNLOAD
// command per table; run as written, each must give exactly the rows the
// forge stored, for every table whose data allows its types to be guessed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "zor_session.h"

namespace {

class UsersOnlyRescue : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        forge(nullptr);
        zorsession::writeWhole("users.cfg", "users01.dbf\n");
    }
};

TEST_F(UsersOnlyRescue, ProposalsOfScanTableUnloadEveryTable)
{

    std::string printed = zorsession::runCommands("PROBE users01.dbf;\nOPEN users.cfg\nSCAN EXTENT;\nSCAN TABLE TO proposals.txt;\n");
    EXPECT_NE(printed.find("SET BLOCK_SIZE 8192\nSET BYTE_ORDER LITTLE\n"), std::string::npos) << printed;
    std::string proposals = zorsession::readWhole("proposals.txt");
    // Every proposal, as written, one after the other.
    std::string commands = "OPEN users.cfg\n";
    for (size_t at = proposals.find("UNLOAD OBJECT"); at != std::string::npos;
         at = proposals.find("UNLOAD OBJECT", at + 1)) {
        size_t end = proposals.find(';', at);
        ASSERT_NE(end, std::string::npos);
        commands += proposals.substr(at, end + 1 - at) + "\n";
    }
    zorsession::runCommands(commands);

    // The manifest's rows of each object, as ZOR writes them, for the tables
    // whose data lets a guess be exact.  Not these: ALL_TYPES and EXTREMES mix
    // kinds their few rows cannot tell apart (a TIMESTAMP stored once with and
    // once without its fraction, UTF-16 text, NUMBERs beyond what a guess
    // accepts); NOTES keeps LONG values chained over blocks; CODES lives in an
    // index; LOBS holds locators whose pages are in another file.
    const std::set<std::string> guessable = {"DEPT", "EMP", "SALES", "DOCS", "EMP$HIST"};
    std::map<uint32_t, std::string> expected;
    for (const forge::ManifestTable &table : manifest_.tables) {
        if (table.owner != "SCOTT" || guessable.count(table.name) == 0)
            continue;
        for (const forge::ManifestRow &row : table.rows)
            expected[table.objectId] += forge::manifestRecord(&row, "|", "\r\n");
    }
    int checked = 0;
    for (const auto &object : expected) {
        char name[64];
        snprintf(name, sizeof name, "OBJD%010uC%03u.txt", object.first, 0u);
        EXPECT_EQ(zorsession::readWhole(name), object.second) << name << "\n" << proposals;
        checked++;
    }
    EXPECT_EQ(checked, 7);   // DEPT, EMP, three SALES partitions, DOCS, EMP$HIST
}

}  // namespace
