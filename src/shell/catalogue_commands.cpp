// Front ends of the catalogue commands: DESC, which describes a table from
// the dictionary files, and LIST, which lists users, the objects of a user,
// or the known character sets.
//
// LIST takes keyword/value pairs like the block commands: TABLE, VIEW,
// PROCEDURE, FUNCTION, INDEX and PACKAGE wait for the owner, TO for the
// output file; CHARSET and USER take no value.
#include <cstring>

#include "dictionary/dictionary.h"
#include "shell/shell.h"
#include "unload/charsets/charset.h"
#include "datafile/datafile.h"

namespace {

constexpr int kArgumentSize = 1024;

// ---- DESC ----

// Splits owner.table at the first "." outside double quotes; further dots
// stay in the table name, and a quoted part loses its quotes.  Both parts
// are empty when the argument is no owner.table.
void splitTableArgument(const char *argument, char *owner, char *table)
{
    // A longer name is no Oracle name, and cut it could match another.
    if (splitQualifiedName(argument, owner, table, kDictNameSize) == kNameTooLong)
        printf("  A name is at most %d bytes: %s\n", kDictNameSize - 1, argument);
}

// ---- LIST ----

enum ListKeyword {
    kListTable,
    kListView,
    kListProcedure,
    kListFunction,
    kListIndex,
    kListPackage,
    kListCharset,
    kListUser,
    kListTo,
    kListDropped,
    kListTruncated,
    kListKeywordCount
};
const char *const kListKeywords[kListKeywordCount] = {
    "TABLE",   "VIEW", "PROCEDURE", "FUNCTION", "INDEX",     "PACKAGE",
    "CHARSET", "USER", "TO",        "DROPPED",  "TRUNCATED",
};
// OBJ$ TYPE# listed by each object keyword, in keyword order.
const uint8_t kListedObjectType[kListCharset] = {
    kObjTable, kObjView, kObjProcedure, kObjFunction, kObjIndex, kObjPackage,
};

int findListKeyword(const CommandLine *cmd) {
    for (int k = 0; k < kListKeywordCount; k++)
        if (compareKeyword(cmd, kListKeywords[k]) == 0) return k;
    return -1;
}

bool isObjectKeyword(int keyword) { return keyword >= kListTable && keyword <= kListPackage; }

struct ListRequest {
    int selected;                  // object keyword, CHARSET or USER; -1 for none
    char owner[kArgumentSize];
    char target[kArgumentSize];
};

void parseListRequest(CommandLine *cmd, ListRequest *request) {
    request->selected = -1;
    request->owner[0] = '\0';
    request->target[0] = '\0';
    int waiting = -1;
    while (scanNextWord(cmd) > 0) {
        int keyword = findListKeyword(cmd);
        if (keyword == kListCharset || keyword == kListUser) {
            request->selected = keyword;
            waiting = -1;
        } else if (keyword == kListDropped || keyword == kListTruncated) {
            // The owner is optional: every owner without it.
            request->selected = keyword;
            waiting = keyword;
        } else if (keyword >= 0) {
            waiting = keyword;
        } else if (waiting == kListTo) {
            copyCurrentWord(cmd, request->target, kArgumentSize);
            waiting = -1;
        } else if (isObjectKeyword(waiting) || waiting == kListDropped || waiting == kListTruncated) {
            takeQuotedWord(cmd);
            char typed[kArgumentSize];
            copyCurrentWord(cmd, typed, kArgumentSize);
            if (!unquoteName(typed, request->owner, kArgumentSize))
                snprintf(request->owner, kArgumentSize, "%s", typed);
            request->selected = waiting;
            waiting = -1;
        }
    }
}

// The TO file, or standard output when none is given or it cannot be
// created.
FILE *openListOutput(const char *target)
{
    if (target[0] == '\0')
        return stdout;
    FILE *out = fopen64(target, "wb+");
    if (out != nullptr)
        return out;
    reportFileError("create", "output file", target, "writing to standard output");
    return stdout;
}

// LIST DROPPED and LIST TRUNCATED, on standard output or into the TO file,
// which runs as a script.
void listRescuable(const ListRequest *request, UnloadContext *ctx)
{
    FILE *out = openListOutput(request->target);
    int listed = request->selected == kListDropped
                     ? listDroppedTables(out, request->owner, ctx->outputStyle)
                     : listTruncatedObjects(out, ctx, request->owner, ctx->outputStyle);
    if (!listed)
        noteCommandFailure();
    if (out != stdout)
        fclose(out);
    else
        fflush(stdout);
}

void listObjects(const ListRequest *request, uint8_t outputStyle) {
    FILE *out = openListOutput(request->target);
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    if (request->selected == kListTable) {
        // Tables, then table partitions, then subpartitions; a missing user
        // is reported once, not once a pass.
        if (listObjectName(out, &object, request->owner, kObjTable, outputStyle)) {
            listObjectName(out, &object, request->owner, kObjTablePartition, outputStyle);
            listObjectName(out, &object, request->owner, kObjTableSubpartition, outputStyle);
        } else {
            noteCommandFailure();
        }
    } else if (!listObjectName(out, &object, request->owner, kListedObjectType[request->selected],
                               outputStyle)) {
        noteCommandFailure();
    }
    if (out != stdout) fclose(out);
    else fflush(stdout);
}

}  // namespace

void runDescCommand(ShellState *shell) {
    CommandLine *cmd = shell->command;
    if (scanNextWord(cmd) == 0) {
        fputs("  DESC owner.tablename [partition]\n", stdout);
        return;
    }
    char argument[kArgumentSize];
    char owner[kDictNameSize];
    char table[kDictNameSize];
    char partition[kDictNameSize];
    takeQuotedWord(cmd);
    copyCurrentWord(cmd, argument, sizeof argument);
    splitTableArgument(argument, owner, table);
    partition[0] = '\0';
    if (scanNextWord(cmd) > 0) {
        takeQuotedWord(cmd);
        char typed[kArgumentSize];
        copyCurrentWord(cmd, typed, sizeof typed);
        if (!unquoteName(typed, partition, sizeof partition))
            snprintf(partition, sizeof partition, "%s", typed);
    }
    if (owner[0] == '\0' || table[0] == '\0') return;

    UserEntry user;
    if (!getORASYSUSER(&user, owner)) {
        printf("  USER %s does not exists!\n", owner);
        noteCommandFailure();
        return;
    }
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    if (!getORASYSOBJ(&object, user.userNumber, table, partition)) {
        printf("  TABLE %s.%s does not exists!\n", owner, table);
        noteCommandFailure();
        return;
    }
    putchar('\n');
    // Without a table record (a partitioned table has none of its own) the
    // cleared record shows zeros.
    SegmentEntry segment;
    getORASYSTAB(&segment, object.selectedObject);
    printf("Storage(OBJ#=%u OBJD=%u TS=%u FILE=%u BLOCK=%u CLUSTER=%u)\n", segment.objectNumber,
           segment.dataObjectId, (unsigned)segment.tablespace, (unsigned)segment.headerFile,
           segment.headerBlock, (unsigned)segment.cluster);
    ColumnEntry column;
    getORASYSCOL(stdout, &column, object.objectNumber);
    putchar('\n');
}

void runListCommand(ShellState *shell) {
    ListRequest request;
    parseListRequest(shell->command, &request);
    if (request.selected == kListCharset) {
        get_ora_charset_list(stdout);
    } else if (request.selected == kListUser) {
        listUserName(stdout);
    } else if (request.selected == kListDropped || request.selected == kListTruncated) {
        listRescuable(&request, shell->ctx);
    } else if (request.selected >= 0) {
        listObjects(&request, shell->ctx->outputStyle);
    } else {
        fputs("  LIST { TABLE | VIEW | PROCEDURE | FUNCTION |INDEX | PACKAGE } username\n", stdout);
        fputs("  LIST { USER | CHARSET } \n", stdout);
        fputs("  LIST { DROPPED | TRUNCATED } [username] [TO filename]\n", stdout);
    }
}
