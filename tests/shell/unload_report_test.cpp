#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "shell/shell.h"

namespace {

std::string recordText(const UnloadRecord *record)
{
    char *text = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&text, &length);
    writeUnloadRecord(out, record);
    fclose(out);
    std::string result(text, length);
    free(text);
    return result;
}

void setCommand(CommandLine *cmd, const char *text)
{
    memset(cmd, 0, sizeof *cmd);
    snprintf(cmd->text, sizeof cmd->text, "%s", text);
    cmd->length = static_cast<uint32_t>(strlen(cmd->text));
}

}  // namespace

TEST(UnloadReport, FieldsWithCommasQuotesOrLineBreaksAreQuotedAndRecordsEndWithCrLf)
{
    CommandLine cmd;
    setCommand(&cmd, "  UNLOAD   TABLE SCOTT.\"EMP\"\n   TO a,b.txt ");
    UnloadRecord record;
    beginUnloadRecord(&record, &cmd);
    snprintf(record.owner, sizeof record.owner, "SCOTT");
    snprintf(record.table, sizeof record.table, "EMP");
    snprintf(record.files, sizeof record.files, "a,b.txt;EMP_syntax.sql");
    record.hasObjd = true;
    record.objd = 73182;
    record.rows = 14;
    record.incompleteRows = 2;
    std::string line = recordText(&record);
    ASSERT_GT(line.size(), 20u);
    std::string afterTime = line.substr(20);
    // started, then the command with its blanks made one and its quotes doubled.
    EXPECT_EQ(line[19], ',');
    size_t seconds = afterTime.rfind(",complete\r\n");
    ASSERT_NE(seconds, std::string::npos) << line;
    EXPECT_EQ(afterTime.substr(0, afterTime.rfind(',', seconds - 1) + 1),
              "\"UNLOAD TABLE SCOTT.\"\"EMP\"\" TO "
              "a,b.txt\",SCOTT,EMP,,73182,14,2,0,0,\"a,b.txt;EMP_syntax.sql\",0,")
        << line;
}

TEST(UnloadReport, AMissingTableIsNotFoundAndNoSegmentLeavesObjdEmpty)
{
    CommandLine cmd;
    setCommand(&cmd, "UNLOAD TABLE SCOTT.NOPE");
    UnloadRecord record;
    beginUnloadRecord(&record, &cmd);
    record.status = kUnloadNotFound;
    settleUnloadRecord(&record);
    std::string line = recordText(&record);
    EXPECT_NE(line.find(",UNLOAD TABLE SCOTT.NOPE,,,,,0,0,0,0,,0,"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 11), "not found\r\n");
}
