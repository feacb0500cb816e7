// The dictionary lookups and their renderings on arbitrary dictionary files:
// LIST USER and LIST TABLE, DESC, the CREATE TABLE statement in both forms,
// the PostgreSQL script, and the column list the unloader loads, for every
// object the object file names.  The files are written into a scratch directory before each run.
//
// Input: the six files ZORUSR, ZOROBJ, ZORTAB, ZORCOL, ZORTYP and ZORBIN,
// in that order, separated by 0x01 bytes.  The deleted-row files are the
// live ones again, so that LIST DROPPED and the choice of a table's
// version read the same untrusted lines both ways.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dictionary/dictionary.h"
#include "fuzz_context.h"

namespace {

constexpr char kFileSeparator = 0x01;
constexpr int kObjectsPerInput = 8;

const char *const kFiles[] = {kUserFile,   kObjectFile,     kSegmentFile,
                              kColumnFile, kColumnTypeFile, kRecycleBinFile};
const char *const kDeletedFiles[][2] = {{kObjectFile, kDeletedObjectFile},
                                        {kSegmentFile, kDeletedSegmentFile},
                                        {kColumnFile, kDeletedColumnFile}};

void writeFiles(const uint8_t *data, size_t size)
{
    size_t start = 0;
    for (const char *name : kFiles) {
        size_t end = start;
        while (end < size && data[end] != kFileSeparator)
            end++;
        FILE *f = fopen(name, "wb");
        if (f != nullptr) {
            if (end > start)
                fwrite(data + start, 1, end - start, f);
            fclose(f);
        }
        start = end < size ? end + 1 : size;
    }
    for (const auto &pair : kDeletedFiles) {
        unlink(pair[1]);
        if (link(pair[0], pair[1]) != 0)
            abort();
    }
}

std::string g_base;

// The scratch directory holds only ZORDICT/ and its five files.
void removeScratch()
{
    for (const char *name : kFiles)
        unlink((g_base + "/" + name).c_str());
    for (const auto &pair : kDeletedFiles)
        unlink((g_base + "/" + pair[1]).c_str());
    rmdir((g_base + "/ZORDICT").c_str());
    rmdir(g_base.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    char base[] = "/tmp/zor-dictionary-fuzz-XXXXXX";
    if (mkdtemp(base) == nullptr || chdir(base) != 0)
        abort();
    g_base = base;
    atexit(removeScratch);
    mkdir("ZORDICT", 0755);
    // Missing users are reported on standard output.
    silenceFuzzStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char *ddl = (char *)malloc(kCreateSyntaxSize);
    static ColumnList *list = (ColumnList *)calloc(1, sizeof(ColumnList));
    static UnloadContext *ctx = (UnloadContext *)calloc(1, sizeof(UnloadContext));
    writeFiles(data, size);
    FILE *out = fuzzSink();

    listUserName(out);
    listDroppedTables(out, "", (uint8_t)(size & 1));
    DictionaryReader objects;
    beginDictionaryReader(&objects, fopen(kObjectFile, "r"), kObjectFile);
    if (objects.file == nullptr)
        return 0;
    CommandLine *line = (CommandLine *)calloc(1, sizeof(CommandLine));
    for (int n = 0; n < kObjectsPerInput && readDictionaryRecord(&objects, line);) {
        ObjectEntry object;
        memset(&object, 0, sizeof object);
        if (parseORASYSOBJ(&object, line) != 0)
            continue;
        n++;
        UserEntry user;
        memset(&user, 0, sizeof user);
        if (getORASYSUSERID(&user, object.ownerNumber)) {
            ObjectEntry listed;
            memset(&listed, 0, sizeof listed);
            listObjectName(out, &listed, user.name, object.type, (uint8_t)(n & 1));
            ObjectEntry found;
            memset(&found, 0, sizeof found);
            getORASYSTableOBJ(&found, user.userNumber, object.name, object.subname);
        }
        SegmentEntry segment;
        getORASYSTAB(&segment, object.objectNumber);
        TableVersion version;
        if (findTableVersion(&version, object.ownerNumber, object.name, object.subname,
                             object.objectNumber + 1))
            fuzzCheck(strnlen(version.storedName, kDictNameSize) < kDictNameSize);
        ColumnEntry column;
        memset(&column, 0, sizeof column);
        getORASYSCOL(out, &column, object.objectNumber);
        object.selectedObject = object.objectNumber;
        for (int multiLine = 0; multiLine <= 1; multiLine++) {
            memset(&column, 0, sizeof column);
            if (getCreateSyntax(ddl, kCreateSyntaxSize, &column, &object, "TARGET", multiLine))
                fuzzCheck(strnlen(ddl, kCreateSyntaxSize) < kCreateSyntaxSize);
        }
        memset(&column, 0, sizeof column);
        memset(list, 0, sizeof *list);
        memset(ctx, 0, sizeof *ctx);
        getORACOLTYPE(&column, &object, object.subname, ctx, list);
        fuzzCheck(list->count <= (uint16_t)kMaxColumns);
        // Names past PostgreSQL's 63 bytes are mapped to unique shorter ones.
        memset(&column, 0, sizeof column);
        if (getPostgresSyntax(ddl, kCreateSyntaxSize, &column, &object, "", "T.X", "x.csv", ctx))
            fuzzCheck(strnlen(ddl, kCreateSyntaxSize) < kCreateSyntaxSize);
    }
    free(line);
    closeDictionaryReader(&objects);
    return 0;
}
