// SAMPLE on forged tables of every guessable kind: the proposed UNLOAD
// command is run as written, and the file it writes must hold exactly the
// rows the forge stored.  A wrong guess shows as a different text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "scan/zor_session.h"

namespace {

const char kDatabase[] =
    "blocksize 8192\n"
    "file users.dbf rfn 4 blocks 200\n"
    "table T_NUMBER objd 9001\n"
    "  column A number\n"
    "  column B number\n"
    "segment T_NUMBER\n"
    "  extent users.dbf 10 4\n"
    "  insert values 1 -2.5\n"
    "  insert values 1234567 null\n"
    "  insert values -0.001 0\n"
    "table T_DATE objd 9002\n"
    "  column D date\n"
    "  column E date\n"
    "segment T_DATE\n"
    "  extent users.dbf 20 4\n"
    "  insert values 1980-12-17 2024-02-29T13:45:10\n"
    "  insert values 1999-12-31T23:59:59 null\n"
    "table T_TIMESTAMP objd 9003\n"
    "  column T timestamp(6)\n"
    "  column Z timestamptz(6)\n"
    "segment T_TIMESTAMP\n"
    "  extent users.dbf 30 4\n"
    "  insert values \"2024-02-29 13:45:10.123456\" \"2024-02-29 13:45:10.5 +02:00\"\n"
    "  insert values \"2001-01-01 00:00:00.000001\" \"2000-01-01 00:00:00.25 -05:30\"\n"
    "table T_TEXT objd 9004\n"
    "  column UTF8 varchar2\n"
    "  column GBK  varchar2\n"
    "  column BIG5 varchar2\n"
    "  column UCS2 nvarchar2\n"
    "segment T_TEXT\n"
    "  extent users.dbf 40 4\n"
    "  insert values \"Gr\\xc3\\xbc\\xc3\\x9f Gott\" \"\\xc4\\xe3\\xba\\xc3\" \"\\xa4\\xa4\\xa4\\xe5\" "
    "\"\\xe6\\x97\\xa5\\xe6\\x9c\\xac\"\n"
    "  insert values \"\\xe6\\x97\\xa5\\xe6\\x9c\\xac\" \"\\xd6\\xd0\\xce\\xc4 GBK\" \"\\xa5\\x5b\" "
    "\"Hello\"\n"
    "table T_BINARY objd 9005\n"
    "  column R  raw\n"
    "  column F  binary_float\n"
    "  column DB binary_double\n"
    "segment T_BINARY\n"
    "  extent users.dbf 50 4\n"
    "  insert values FF01FF 1.5 1.0\n"
    "  insert values 00FF0001FF -2 2.0\n"
    "  insert values FFFF00 0.5 -4.0\n"
    "config db.cfg\n";

class GuessRoundTrip : public zorsession::ForgedDatabase {
protected:
    void SetUp() override
    {
        forge(kDatabase);
    }
};

struct Expected {
    const char *table;
    const char *words;  // the guessed column words, one blank before each
};

TEST_F(GuessRoundTrip, ProposalUnloadsEveryTableExactly)
{
    const Expected cases[] = {
        {"T_NUMBER", " NUMBER NUMBER"},
        {"T_DATE", " DATE DATE"},
        {"T_TIMESTAMP", " TIMESTAMP TIMESTAMPTZ"},
        {"T_TEXT", " VARCHAR VARCHAR VARCHAR VARCHAR"},
        {"T_BINARY", " RAW BINARY_FLOAT BINARY_DOUBLE"},
    };
    for (const Expected &c : cases) {
        const forge::ManifestTable *table = nullptr;
        for (const forge::ManifestTable &t : manifest_.tables)
            if (t.name == c.table)
                table = &t;
        ASSERT_NE(table, nullptr) << c.table;
        char sample[128];
        snprintf(sample, sizeof sample, "SAMPLE OBJECT %u RDBA 0x%08x TO proposal.txt;\n", table->objectId,
                 table->rows[0].rdba);
        run(sample, "db.cfg");
        std::string proposal = zorsession::readWhole("proposal.txt");
        std::string flat;
        for (char ch : proposal)
            if (ch != '\n')
                flat += ch;
        size_t from = flat.find("COLUMN ");
        size_t to = flat.find(" TO ");
        ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << proposal;
        std::string words;
        for (size_t i = from + 7; i < to; i++)
            if (flat[i] != ' ' || (words.size() > 0 && words.back() != ' '))
                words += flat[i];
        while (!words.empty() && words.back() == ' ')
            words.pop_back();
        EXPECT_EQ(" " + words, std::string(c.words)) << c.table << "\n" << proposal;

        // The proposal as the user would paste it.
        size_t unload = proposal.find("UNLOAD OBJECT");
        ASSERT_NE(unload, std::string::npos);
        run(proposal.substr(unload), "db.cfg");
        char output[64];
        snprintf(output, sizeof output, "OBJD%010uC%03u.txt", table->objectId, 0u);
        std::string expected;
        for (const forge::ManifestRow &row : table->rows)
            expected += forge::manifestRecord(&row, "|", "\r\n");
        EXPECT_EQ(zorsession::readWhole(output), expected) << c.table;
    }
}

}  // namespace
