// Tables dropped by mistake: which version of a table a data object id
// belongs to, and LIST DROPPED.
//
// A table dropped into the recycle bin keeps its dictionary rows under a
// BIN$ name, and RECYCLEBIN$ (ZORBIN.TXT) keeps its original name.  A table
// dropped with PURGE loses its rows, but deleted rows keep their bytes
// until the space is used again: DICT$ writes the ones still readable into
// the *_DELETED files, which the lookups read while kDeletedRows is
// selected.
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "dictionary/dictionary.h"

namespace {

bool sameName(const char *a, const char *b)
{
    return strcasecmp(a, b) == 0;
}

bool fileExists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

// Each table RECYCLEBIN$ holds as dropped (its indexes' and partitions'
// rows are passed over); with `named`, a line that does not parse is
// named.  visit returns false to stop.
template <typename Visit> void forEachRecycledTable(bool named, Visit visit)
{
    forEachDictionaryRecord(kRecycleBinFile, [&](CommandLine *line, DictionaryReader *reader) {
        RecycleBinEntry entry;
        memset(&entry, 0, sizeof entry);
        if (parseORARECYCLEBIN(&entry, line) != 0) {
            if (named)
                reportDictionaryLine(reader, dictionaryParseProblem());
            return true;
        }
        return entry.type != kRecycledTable || entry.operation != kRecycledDrop || visit(&entry);
    });
}

// Each table among the deleted OBJ$ rows, the same way.
template <typename Visit> void forEachDeletedTable(bool named, Visit visit)
{
    forEachDictionaryRecord(kDeletedObjectFile, [&](CommandLine *line, DictionaryReader *reader) {
        ObjectEntry object;
        memset(&object, 0, sizeof object);
        if (parseORASYSOBJ(&object, line) != 0) {
            if (named)
                reportDictionaryLine(reader, dictionaryParseProblem());
            return true;
        }
        return object.type != kObjTable || visit(&object);
    });
}

uint32_t versionNumber(const ObjectEntry *object)
{
    return object->selectedObject != 0 ? object->selectedObject : object->objectNumber;
}

// The best version so far, by the rule of findTableVersion.
struct VersionChoice {
    uint32_t objd;
    bool found;
    TableVersion best;
    bool hasLive;
    TableVersion live;
};

void consider(VersionChoice *choice, TableSource source, const ObjectEntry *object, const char *originalName)
{
    TableVersion version;
    memset(&version, 0, sizeof version);
    version.source = source;
    version.object = *object;
    if (version.object.selectedObject == 0)
        version.object.selectedObject = object->objectNumber;
    snprintf(version.storedName, sizeof version.storedName, "%s", object->name);
    snprintf(version.object.name, sizeof version.object.name, "%s", originalName);
    if (source == kTableLive) {
        choice->hasLive = true;
        choice->live = version;
    }
    uint32_t number = versionNumber(object);
    // On a tie the version met first (the live one) stays.
    if (number > choice->objd || (choice->found && number <= versionNumber(&choice->best.object)))
        return;
    choice->found = true;
    choice->best = version;
}

// The recycle bin's tables dropped under that name, found in the live
// dictionary by their OBJ#.
void considerRecycled(VersionChoice *choice, uint32_t ownerNumber, const char *name, const char *partition)
{
    forEachRecycledTable(false, [&](const RecycleBinEntry *entry) {
        if (entry->ownerNumber != ownerNumber || !sameName(entry->originalName, name))
            return true;
        ObjectEntry object;
        memset(&object, 0, sizeof object);
        if (!getORASYSOBJID(&object, entry->objectNumber))
            return true;
        if (partition[0] != '\0') {
            char stored[kDictNameSize];
            snprintf(stored, sizeof stored, "%s", object.name);
            memset(&object, 0, sizeof object);
            if (!getORASYSTableOBJ(&object, ownerNumber, stored, partition))
                return true;
        }
        consider(choice, kTableRecycled, &object, entry->originalName);
        return true;
    });
}

// The tables of that name among the deleted rows.  A deleted row of an
// object that still lives (a row moved by Oracle) is the live version.
void considerDropped(VersionChoice *choice, uint32_t ownerNumber, const char *name, const char *partition)
{
    selectDictionaryRows(kDeletedRows);
    if (partition[0] != '\0') {
        ObjectEntry object;
        memset(&object, 0, sizeof object);
        if (getORASYSTableOBJ(&object, ownerNumber, name, partition))
            consider(choice, kTableDropped, &object, object.name);
    } else {
        forEachDeletedTable(false, [&](ObjectEntry *object) {
            bool live = choice->hasLive && object->objectNumber == choice->live.object.objectNumber;
            if (object->ownerNumber == ownerNumber && sameName(object->name, name) && !live) {
                object->selectedObject = object->objectNumber;
                consider(choice, kTableDropped, object, object->name);
            }
            return true;
        });
    }
    selectDictionaryRows(kLiveRows);
}

}  // namespace

namespace {

int compareObjects(const void *a, const void *b)
{
    uint32_t x = *static_cast<const uint32_t *>(a);
    uint32_t y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y;
}

}  // namespace

void readRecycledObjects(RecycledObjects *recycled)
{
    recycled->objects = nullptr;
    recycled->count = 0;
    uint32_t room = 0;
    forEachDictionaryRecord(kRecycleBinFile, [&](CommandLine *line, DictionaryReader *) {
        RecycleBinEntry entry;
        if (parseORARECYCLEBIN(&entry, line) != 0)
            return true;
        if (recycled->count == room) {
            room = room == 0 ? 64 : room * 2;
            uint32_t *more = static_cast<uint32_t *>(realloc(recycled->objects, sizeof(uint32_t) * room));
            if (more == nullptr)
                return false;
            recycled->objects = more;
        }
        recycled->objects[recycled->count++] = entry.objectNumber;
        return true;
    });
    if (recycled->count != 0)
        qsort(recycled->objects, recycled->count, sizeof(uint32_t), compareObjects);
}

bool isRecycled(const RecycledObjects *recycled, uint32_t objectNumber)
{
    return recycled->count != 0 && bsearch(&objectNumber, recycled->objects, recycled->count,
                                           sizeof(uint32_t), compareObjects) != nullptr;
}

int findTableVersion(TableVersion *version, uint32_t ownerNumber, const char *name, const char *partition,
                     uint32_t objd)
{
    if (partition == nullptr)
        partition = "";
    VersionChoice *choice = static_cast<VersionChoice *>(calloc(1, sizeof(VersionChoice)));
    if (choice == nullptr)
        return 0;
    choice->objd = objd;
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    if (getORASYSTableOBJ(&object, ownerNumber, name, partition))
        consider(choice, kTableLive, &object, object.name);
    considerRecycled(choice, ownerNumber, name, partition);
    considerDropped(choice, ownerNumber, name, partition);
    int found = 1;
    if (choice->found)
        *version = choice->best;
    else if (choice->hasLive)
        *version = choice->live;
    else
        found = 0;
    free(choice);
    return found;
}

// ---- LIST DROPPED ----

namespace {

const char *fileSuffix(uint8_t outputStyle)
{
    return outputStyle == 1 ? "dmp" : outputStyle == 2 ? "csv" : "txt";
}

// How many tables owner.name has been, live or dropped: the output of a
// version that shares its name with another gets the data object id in its
// file name and, so that both can be loaded side by side, in its table name.
int countVersions(uint32_t ownerNumber, const char *name)
{
    int count = 0;
    ObjectEntry live;
    memset(&live, 0, sizeof live);
    if (getORASYSTableOBJ(&live, ownerNumber, name, ""))
        count++;
    forEachRecycledTable(false, [&](const RecycleBinEntry *entry) {
        count += entry->ownerNumber == ownerNumber && sameName(entry->originalName, name);
        return true;
    });
    forEachDeletedTable(false, [&](const ObjectEntry *object) {
        count += object->ownerNumber == ownerNumber && sameName(object->name, name);
        return true;
    });
    return count;
}

// The ready-to-run line that unloads one version.
void printUnloadLine(FILE *out, const char *owner, const char *name, const char *partition, uint32_t objd,
                     bool shared, uint8_t outputStyle)
{
    char file[3 * kDictNameSize + 32];
    char alias[kDictNameSize + 16];
    if (partition[0] != '\0')
        snprintf(alias, sizeof alias, "%s_%s", name, partition);
    else
        snprintf(alias, sizeof alias, "%s", name);
    if (shared)
        snprintf(alias + strlen(alias), sizeof alias - strlen(alias), "_%u", objd);
    snprintf(file, sizeof file, "%s.%s", alias, fileSuffix(outputStyle));
    fputs(" UNLOAD TABLE ", out);
    printCommandName(out, owner, true);
    fputc('.', out);
    printCommandName(out, name, true);
    if (partition[0] != '\0') {
        fputs(" PARTITION ", out);
        printCommandName(out, partition, false);
    }
    fprintf(out, " OBJD %u", objd);
    if (shared) {
        fputs(" AS ", out);
        printCommandName(out, alias, true);
    }
    fputs(" TO ", out);
    printCommandName(out, file, false);
    fputs(";\n", out);
}

// The DESC listing of a table, each line behind "REM   ".
void printColumnsAsRemarks(FILE *out, uint32_t tableObject)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *listing = open_memstream(&text, &size);
    if (listing == nullptr)
        return;
    ColumnEntry column;
    getORASYSCOL(listing, &column, tableObject);
    fclose(listing);
    for (char *p = text; p != nullptr && *p != '\0';) {
        char *end = strchr(p, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
        fprintf(out, "REM   %.*s\n", static_cast<int>(length), p);
        p = end != nullptr ? end + 1 : nullptr;
    }
    free(text);
}

bool ownerName(uint32_t ownerNumber, char *name)
{
    UserEntry user;
    if (!getORASYSUSERID(&user, ownerNumber))
        return false;
    snprintf(name, kDictNameSize, "%s", user.name);
    return true;
}

void listRecycledTable(FILE *out, const RecycleBinEntry *entry, uint8_t outputStyle)
{
    char owner[kDictNameSize];
    if (!ownerName(entry->ownerNumber, owner))
        snprintf(owner, sizeof owner, "USER#%u", entry->ownerNumber);
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    if (!getORASYSOBJID(&object, entry->objectNumber)) {
        fprintf(out,
                "REM %s.%s: in the recycle bin as OBJ#=%u, which OBJ$ does not hold: nothing to unload\n",
                owner, entry->originalName, entry->objectNumber);
        return;
    }
    fprintf(out, "REM %s.%s: in the recycle bin as %s, dropped %s, OBJ#=%u\n", owner, entry->originalName,
            object.name, entry->dropTime[0] != '\0' ? entry->dropTime : "at an unknown time",
            entry->objectNumber);
    SegmentEntry segment;
    bool shared = countVersions(entry->ownerNumber, entry->originalName) > 1;
    if (getORASYSTAB(&segment, entry->objectNumber)) {
        printUnloadLine(out, owner, entry->originalName, "", segment.dataObjectId, shared, outputStyle);
        return;
    }
    // Partitioned: its partitions are unloaded together under the BIN$ name.
    fprintf(out, "REM   it has no segment of its own: its partitions are unloaded by its present name\n");
    fputs(" UNLOAD TABLE ", out);
    printCommandName(out, owner, true);
    fputc('.', out);
    printCommandName(out, object.name, true);
    fputs(" AS ", out);
    printCommandName(out, entry->originalName, true);
    fprintf(out, " TO %s.%s;\n", entry->originalName, fileSuffix(outputStyle));
}

void listRecycleBin(FILE *out, bool everyOwner, uint32_t ownerNumber, uint8_t outputStyle)
{
    forEachRecycledTable(true, [&](const RecycleBinEntry *entry) {
        if (everyOwner || entry->ownerNumber == ownerNumber)
            listRecycledTable(out, entry, outputStyle);
        return true;
    });
}

// One purged table, described by the deleted rows (selected by the caller).
void listPurgedTable(FILE *out, const ObjectEntry *object, const char *owner, uint8_t outputStyle)
{
    SegmentEntry segment;
    bool hasSegment = getORASYSTAB(&segment, object->objectNumber) != 0;
    bool hasTableRow = hasSegment || hasORASYSTABLine(object->objectNumber);
    fprintf(out, "REM %s.%s: dropped with PURGE, OBJ#=%u", owner, object->name, object->objectNumber);
    if (hasSegment)
        fprintf(out, " OBJD=%u FILE=%u BLOCK=%u", segment.dataObjectId,
                static_cast<unsigned>(segment.headerFile), segment.headerBlock);
    fputc('\n', out);
    bool described = false;
    StoredColumnWalk *walk = static_cast<StoredColumnWalk *>(malloc(sizeof(StoredColumnWalk)));
    if (walk != nullptr) {
        ColumnEntry column;
        beginStoredColumnWalk(walk, object->objectNumber);
        described = nextStoredColumn(walk, &column);
        endStoredColumnWalk(walk);
        free(walk);
    }
    if (!described) {
        fputs("REM   no description of its columns is left: SAMPLE or SCAN TABLE can guess them\n", out);
        return;
    }
    printColumnsAsRemarks(out, object->objectNumber);
    selectDictionaryRows(kLiveRows);
    bool shared = countVersions(object->ownerNumber, object->name) > 1;
    selectDictionaryRows(kDeletedRows);
    if (hasSegment) {
        printUnloadLine(out, owner, object->name, "", segment.dataObjectId, shared, outputStyle);
        return;
    }
    uint32_t parts[64];
    int count = hasTableRow ? getORASYSPartitions(object->ownerNumber, object->name, parts, 64) : 0;
    for (int i = 0; i < count; i++) {
        ObjectEntry part;
        memset(&part, 0, sizeof part);
        if (getORASYSOBJID(&part, parts[i]) && getORASYSTAB(&segment, parts[i]))
            printUnloadLine(out, owner, object->name, part.subname, segment.dataObjectId, shared,
                            outputStyle);
    }
    if (count == 0) {
        // The first data object id of a table is its OBJ#: right unless it
        // was truncated before it was dropped.
        fputs("REM   its TAB$ row is lost: its first data object id, its OBJ#, is tried\n", out);
        printUnloadLine(out, owner, object->name, "", object->objectNumber, shared, outputStyle);
    }
}

void listPurgedTables(FILE *out, bool everyOwner, uint32_t ownerNumber, uint8_t outputStyle)
{
    forEachDeletedTable(true, [&](const ObjectEntry *object) {
        ObjectEntry live;
        memset(&live, 0, sizeof live);
        if ((!everyOwner && object->ownerNumber != ownerNumber) ||
            getORASYSOBJID(&live, object->objectNumber))
            return true;
        char owner[kDictNameSize];
        if (!ownerName(object->ownerNumber, owner)) {
            fprintf(out, "REM %s: dropped with PURGE, OBJ#=%u, owner USER#=%u no longer exists\n",
                    object->name, object->objectNumber, object->ownerNumber);
            return true;
        }
        selectDictionaryRows(kDeletedRows);
        listPurgedTable(out, object, owner, outputStyle);
        selectDictionaryRows(kLiveRows);
        return true;
    });
}

}  // namespace

int listDroppedTables(FILE *out, const char *owner, uint8_t outputStyle)
{
    if (!fileExists(kDeletedObjectFile)) {
        printf("  No deleted dictionary rows are kept yet: run UNLOAD TABLE DICT$ first\n");
        return 0;
    }
    UserEntry user;
    memset(&user, 0, sizeof user);
    bool everyOwner = owner[0] == '\0';
    if (!everyOwner && !getORASYSUSER(&user, owner)) {
        printf("User (%s) does not exists.\n", owner);
        return 0;
    }
    listRecycleBin(out, everyOwner, user.userNumber, outputStyle);
    listPurgedTables(out, everyOwner, user.userNumber, outputStyle);
    return 1;
}
