// Lookups in the dictionary files, the column description of a table for the
// row decoder, and the LIST USER and LIST TABLE listings.
//
// Every lookup opens its file, reads it from the start and stops at the
// first matching line; nothing is cached, so an operator's edit counts at
// once.  Names compare without regard to letter case but with their length.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "datafile/datafile.h"
#include "dictionary/dictionary.h"

namespace {

constexpr uint8_t kTableKinds[] = {kObjTable, kObjTablePartition, kObjTableSubpartition};
constexpr uint8_t kIndexKinds[] = {kObjIndex, kObjIndexPartition, kObjIndexSubpartition};
constexpr uint16_t kTypeCLOB = 112;
constexpr uint16_t kTypeBLOB = 113;
constexpr uint8_t kTypeRAW = 23;
constexpr uint8_t kTypeUnknown = 253;     // row output writes such a column in hexadecimal
constexpr uint32_t kFirstUnlistedColumn = kMaxListedColumns + 1;

bool sameName(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

// True for a parsed line; a line the parser refused is named.
bool parsed(DictionaryReader *reader, int parseResult)
{
    if (parseResult == 0)
        return true;
    reportDictionaryLine(reader, dictionaryParseProblem());
    return false;
}

void copyName(char *dest, const char *source) {
    snprintf(dest, kDictNameSize, "%s", source);
}

bool isObjectType(uint16_t type) {
    return type == 58 || type == 111 || type == 121 || type == 122 || type == 123;
}

// The line's fields, keeping the entry's selected object number.
void takeObjectLine(ObjectEntry *entry, const ObjectEntry *line) {
    uint32_t selected = entry->selectedObject;
    *entry = *line;
    entry->selectedObject = selected;
}

bool kindMatches(uint8_t type, const uint8_t kinds[3]) {
    return type == kinds[0] || type == kinds[1] || type == kinds[2];
}

int findObject(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition,
               const uint8_t kinds[3]) {
    if (partition == nullptr) partition = "";
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, objectFilePath()))
        return 0;
    CommandLine line;
    ObjectEntry found;
    bool matched = false;
    while (readDictionaryRecord(&reader, &line)) {
        memset(&found, 0, sizeof found);
        if (!parsed(&reader, parseORASYSOBJ(&found, &line)))
            continue;
        if (found.ownerNumber != ownerNumber || !kindMatches(found.type, kinds)) continue;
        if (!sameName(found.name, name) || !sameName(found.subname, partition)) continue;
        matched = true;
        break;
    }
    closeDictionaryReader(&reader);
    if (!matched) return 0;
    if (partition[0] != '\0') {
        // The partition's segment is the one to unload; the table (or index)
        // itself is what the other fields must describe.
        entry->selectedObject = found.objectNumber;
        return getORASYSOBJ(entry, ownerNumber, name, "");
    }
    takeObjectLine(entry, &found);
    if (entry->selectedObject == 0) entry->selectedObject = found.objectNumber;
    return 1;
}

}  // namespace

// A name as a command takes it: as it stands, or in double quotes (quotes
// doubled) when it holds a blank, a quote, a semicolon, or (for an owner or
// table name, which a dot would split) a dot.
void printCommandName(FILE *out, const char *name, bool dotSplits)
{
    if (strpbrk(name, dotSplits ? " \t\r\n\";." : " \t\r\n\";") == nullptr) {
        fputs(name, out);
        return;
    }
    fputc('"', out);
    for (const char *c = name; *c != '\0'; c++) {
        if (*c == '"')
            fputc('"', out);
        fputc(*c, out);
    }
    fputc('"', out);
}

// The type kind of an object-typed column, from its type's name.
uint32_t typeKindOf(const char *typeName) {
    if (strncasecmp(typeName, "XMLTYPE", 7) == 0) return kTypeKindXMLTYPE;
    if (strncasecmp(typeName, "ANYDATA", 7) == 0) return kTypeKindANYDATA;
    return kTypeKindOther;
}

void holdPending(StoredColumnWalk *walk, const ColumnEntry *column) {
    walk->pending = *column;
    walk->hasPending = true;
}

void takePending(StoredColumnWalk *walk, ColumnEntry *column) {
    copyName(column->name, walk->pending.name);
    column->typeKind = walk->pending.typeKind;
    copyName(column->typeOwner, walk->pending.typeOwner);
    copyName(column->typeName, walk->pending.typeName);
    walk->hasPending = false;
}

// The row decoder's type code for a COL$ TYPE#: the TYPE# itself, which
// must fit the context's 8-bit codes without aliasing another type.
uint8_t columnTypeCode(uint16_t type) {
    return type > 255 ? kTypeUnknown : (uint8_t)type;
}

// The segment header of the column's LOB index, found through its name.
void findLobIndex(const ColumnEntry *column, const ObjectEntry *table, const char *partition,
                  uint16_t *file, uint32_t *block) {
    char indexName[kDictNameSize];
    formatLobIndexName(indexName, sizeof indexName, table->objectNumber, column->internalColumn);
    ObjectEntry index;
    memset(&index, 0, sizeof index);
    if (!getORASYSOBJ(&index, table->ownerNumber, indexName, partition)) return;
    SegmentEntry segment;
    if (!getORASYSTAB(&segment, index.selectedObject)) return;
    *file = segment.headerFile;
    *block = segment.headerBlock;
}

bool isEncryptedColumn(uint16_t type, uint64_t property)
{
    return (property & kColumnEncrypted) != 0 && type != kTypeCLOB && type != kTypeBLOB;
}

uint32_t encryptedColumnLength(uint16_t declaredLength)
{
    constexpr uint32_t kCipherBlock = 16;
    constexpr uint32_t kSalt = 16;
    constexpr uint32_t kIntegrity = 20;
    return (declaredLength / kCipherBlock + 1) * kCipherBlock + kSalt + kIntegrity;
}

FILE *openDictionaryForReading(const char *name) {
    FILE *file = fopen(name, "r");
    if (file == nullptr) reportFileError("open", "dictionary file", name, "UNLOAD TABLE DICT$ rebuilds the dictionary");
    return file;
}

int getORASYSUSER(UserEntry *entry, const char *name) {
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, kUserFile))
        return 0;
    CommandLine line;
    UserEntry found;
    int result = 0;
    while (readDictionaryRecord(&reader, &line)) {
        if (!parsed(&reader, parseORASYSUSER(&found, &line)))
            continue;
        if (!sameName(found.name, name)) continue;
        *entry = found;
        result = 1;
        break;
    }
    closeDictionaryReader(&reader);
    return result;
}

int getORASYSUSERID(UserEntry *entry, uint32_t userNumber) {
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, kUserFile))
        return 0;
    CommandLine line;
    UserEntry found;
    int result = 0;
    while (readDictionaryRecord(&reader, &line)) {
        if (!parsed(&reader, parseORASYSUSER(&found, &line)) || found.userNumber != userNumber)
            continue;
        *entry = found;
        result = 1;
        break;
    }
    closeDictionaryReader(&reader);
    return result;
}

int getORASYSOBJ(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition) {
    if (getORASYSTableOBJ(entry, ownerNumber, name, partition)) return 1;
    return getORASYSIndexOBJ(entry, ownerNumber, name, partition);
}

int getORASYSTableOBJ(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition) {
    return findObject(entry, ownerNumber, name, partition, kTableKinds);
}

int getORASYSIndexOBJ(ObjectEntry *entry, uint32_t ownerNumber, const char *name, const char *partition) {
    return findObject(entry, ownerNumber, name, partition, kIndexKinds);
}

int getORASYSOBJID(ObjectEntry *entry, uint32_t objectNumber) {
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, objectFilePath()))
        return 0;
    CommandLine line;
    ObjectEntry found;
    int result = 0;
    while (readDictionaryRecord(&reader, &line)) {
        memset(&found, 0, sizeof found);
        if (!parsed(&reader, parseORASYSOBJ(&found, &line)) || found.objectNumber != objectNumber)
            continue;
        takeObjectLine(entry, &found);
        result = 1;
        break;
    }
    closeDictionaryReader(&reader);
    return result;
}

int getORASYSOBJOID(ObjectEntry *entry, const char *oid) {
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, objectFilePath()))
        return 0;
    CommandLine line;
    ObjectEntry found;
    int result = 0;
    while (readDictionaryRecord(&reader, &line)) {
        memset(&found, 0, sizeof found);
        if (!parsed(&reader, parseORASYSOBJ(&found, &line)) || !sameName(found.oid, oid))
            continue;
        takeObjectLine(entry, &found);
        result = 1;
        break;
    }
    closeDictionaryReader(&reader);
    return result;
}

int getORASYSTAB(SegmentEntry *entry, uint32_t objectNumber) {
    memset(entry, 0, sizeof *entry);
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, segmentFilePath()))
        return 0;
    CommandLine line;
    SegmentEntry found;
    int result = 0;
    while (readDictionaryRecord(&reader, &line)) {
        if (!parsed(&reader, parseORASYSTAB(&found, &line)))
            continue;
        // A partitioned table's own line has no segment (DATAOBJ# empty).
        if (found.objectNumber != objectNumber || found.dataObjectId == 0) continue;
        *entry = found;
        result = 1;
        break;
    }
    closeDictionaryReader(&reader);
    return result;
}

int hasORASYSTABLine(uint32_t objectNumber) {
    DictionaryReader reader;
    beginDictionaryReader(&reader, fopen(segmentFilePath(), "r"), segmentFilePath());
    if (reader.file == nullptr)
        return 0;
    CommandLine line;
    SegmentEntry found;
    int result = 0;
    while (!result && readDictionaryRecord(&reader, &line))
        result = parsed(&reader, parseORASYSTAB(&found, &line)) && found.objectNumber == objectNumber;
    closeDictionaryReader(&reader);
    return result;
}

int getORASYSCOLTYPE(ColumnTypeEntry *entry, uint32_t objectNumber, uint32_t columnNumber,
                     uint32_t internalColumn) {
    DictionaryReader reader;  // only databases with COLTYPE$ have the file
    beginDictionaryReader(&reader, fopen(kColumnTypeFile, "r"), kColumnTypeFile);
    if (reader.file == nullptr)
        return 0;
    CommandLine line;
    ColumnTypeEntry found;
    int result = 0;
    while (readDictionaryRecord(&reader, &line)) {
        if (!parsed(&reader, parseORASYSCOLTYPE(&found, &line)))
            continue;
        if (found.objectNumber != objectNumber || found.columnNumber != columnNumber ||
            found.internalColumn != internalColumn)
            continue;
        *entry = found;
        result = 1;
        break;
    }
    closeDictionaryReader(&reader);
    return result;
}

void getORASYSCOLOIDTYPE(ColumnEntry *column) {
    if (!isObjectType(column->type)) return;
    ColumnTypeEntry columnType;
    if (!getORASYSCOLTYPE(&columnType, column->objectNumber, column->columnNumber,
                          column->internalColumn))
        return;
    ObjectEntry type;
    UserEntry owner;
    memset(&type, 0, sizeof type);
    bool found = columnType.synonymObject != 0 && getORASYSOBJID(&type, columnType.synonymObject) &&
                 getORASYSUSERID(&owner, type.ownerNumber);
    if (!found)
        found = getORASYSOBJOID(&type, columnType.toid) && getORASYSUSERID(&owner, type.ownerNumber);
    if (!found) return;
    copyName(column->typeOwner, owner.name);
    copyName(column->typeName, type.name);
    column->typeKind = typeKindOf(type.name);
}

void formatLobIndexName(char *buf, size_t size, uint32_t tableObject, uint32_t internalColumn) {
    snprintf(buf, size, "SYS_IL%010uC%05u$$", tableObject, internalColumn);
}

void beginStoredColumnWalk(StoredColumnWalk *walk, uint32_t tableObject) {
    openDictionaryReader(&walk->reader, columnFilePath());
    walk->tableObject = tableObject;
    walk->hasPending = false;
    walk->pastLimit = 0;
    walk->reader.objectFilter = tableObject;
    memset(&walk->pending, 0, sizeof walk->pending);
}

bool nextStoredColumn(StoredColumnWalk *walk, ColumnEntry *column) {
    if (walk->reader.file == nullptr)
        return false;
    while (readDictionaryRecord(&walk->reader, &walk->line)) {
        if (!parsed(&walk->reader, parseORASYSCOL(column, &walk->line)))
            continue;
        if (column->objectNumber != walk->tableObject) continue;
        getORASYSCOLOIDTYPE(column);
        if (column->segmentColumn == 0) {
            // A virtual column is computed, never stored: it names no
            // storage column, unlike the visible column of an XMLTYPE.
            if ((column->property & kColumnVirtual) == 0)
                holdPending(walk, column);
            continue;
        }
        if (walk->hasPending) takePending(walk, column);
        if (column->segmentColumn >= kFirstUnlistedColumn) {
            walk->pastLimit++;
            continue;
        }
        return true;
    }
    return false;
}

void endStoredColumnWalk(StoredColumnWalk *walk) {
    closeDictionaryReader(&walk->reader);
}

int getORACOLTYPE(ColumnEntry *column, const ObjectEntry *table, const char *partition,
                  UnloadContext *ctx, ColumnList *list) {
    if (partition == nullptr) partition = "";
    memset(list, 0, sizeof *list);
    ctx->columnCount = 0;
    StoredColumnWalk walk;
    beginStoredColumnWalk(&walk, table->objectNumber);
    uint16_t highest = 0;
    while (nextStoredColumn(&walk, column)) {
        int slot = column->segmentColumn - 1;
        ColumnListEntry *entry = &list->columns[slot];
        copyName(entry->name, column->name);
        entry->type = columnTypeCode(column->type);
        entry->length = column->length;
        entry->charsetId = column->charsetId;
        entry->charsetForm = (uint16_t)column->charsetForm;
        entry->typeKind = column->typeKind;
        copyName(entry->typeOwner, column->typeOwner);
        copyName(entry->typeName, column->typeName);
        entry->property = column->property;
        // Ciphertext is written, typed and loaded as the RAW it is.
        if (isEncryptedColumn(column->type, column->property)) {
            entry->type = kTypeRAW;
            entry->length = (uint16_t)encryptedColumnLength(column->length);
        }
        ctx->columnTypes[slot] = entry->type;
        ctx->columnLength[slot] = entry->length;
        ctx->columnCharsetId[slot] = column->charsetId;
        ctx->columnCharsetForm[slot] = (uint16_t)column->charsetForm;
        // An address given with the UNLOAD argument LOB colid.fid.blockid is
        // already in the context and wins over the dictionary's.
        bool lobIndexGiven = ctx->lobIndexFile[slot] != 0 || ctx->lobIndexBlock[slot] != 0;
        if (!lobIndexGiven && (column->type == kTypeCLOB || column->type == kTypeBLOB))
            findLobIndex(column, table, partition, &ctx->lobIndexFile[slot], &ctx->lobIndexBlock[slot]);
        entry->lobIndexFile = ctx->lobIndexFile[slot];
        entry->lobIndexBlock = ctx->lobIndexBlock[slot];
        // Counting by the highest position rather than by lines keeps the
        // count true when a position is listed twice (a deleted COL$ row
        // unloaded beside the live one) or not at all.
        if (column->segmentColumn > highest) highest = column->segmentColumn;
    }
    endStoredColumnWalk(&walk);
    if (walk.pastLimit != 0)
        fprintf(stderr, "  %u column(s) of %s are stored past position %d: they are left out\n",
                walk.pastLimit, table->name, kMaxListedColumns);
    list->count = highest;
    list->unreadableLines = walk.reader.unreadableOfObject;
    for (int i = 0; i < highest; i++)
        if (list->columns[i].name[0] == '\0')
            list->missingPositions++;
    ctx->columnCount = highest;
    return 1;
}

void listUserName(FILE *out) {
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, kUserFile))
        return;
    CommandLine line;
    UserEntry user;
    unsigned listed = 0;
    while (readDictionaryRecord(&reader, &line)) {
        if (!parsed(&reader, parseORASYSUSER(&user, &line)))
            continue;
        fprintf(out, " %-31s", user.name);
        listed++;
        if (listed % 3 == 0) fputc('\n', out);
    }
    closeDictionaryReader(&reader);
    if (listed % 3 != 0) fputc('\n', out);
    if (listed > 0) fputc('\n', out);
}

int listObjectName(FILE *out, ObjectEntry *entry, const char *userName, uint8_t type,
                   uint8_t outputStyle) {
    UserEntry user;
    if (!getORASYSUSER(&user, userName)) {
        printf("User (%s) does not exists.\n", userName);
        return 0;
    }
    DictionaryReader reader;
    if (!openDictionaryReader(&reader, objectFilePath()))
        return 1;
    // OUTPUT_STYLE 2 is quoted CSV.
    const char *suffix = outputStyle == 1 ? "dmp" : outputStyle == 2 ? "csv" : "txt";
    bool unloadable = type == kObjTable || type == kObjTablePartition || type == kObjTableSubpartition;
    // Objects in the recycle bin are LIST DROPPED's, under their original
    // names.
    RecycledObjects recycled;
    readRecycledObjects(&recycled);
    CommandLine line;
    while (readDictionaryRecord(&reader, &line)) {
        memset(entry, 0, sizeof *entry);
        if (!parsed(&reader, parseORASYSOBJ(entry, &line)))
            continue;
        if (entry->ownerNumber != user.userNumber || entry->type != type) continue;
        if (isRecycled(&recycled, entry->objectNumber))
            continue;
        if (!unloadable) {
            fprintf(out, "   %s \n", entry->name);
            continue;
        }
        // A ready-to-run command: a name the command reader would split or
        // take apart is typed in double quotes.
        char file[3 * kDictNameSize + 8];
        if (entry->subname[0] == '\0')
            snprintf(file, sizeof file, "%s.%s", entry->name, suffix);
        else
            snprintf(file, sizeof file, "%s_%s.%s", entry->name, entry->subname, suffix);
        fputs(" UNLOAD TABLE ", out);
        printCommandName(out, userName, true);
        fputc('.', out);
        printCommandName(out, entry->name, true);
        if (entry->subname[0] != '\0') {
            fputs(" PARTITION ", out);
            printCommandName(out, entry->subname, false);
        }
        fputs(" TO ", out);
        printCommandName(out, file, false);
        fputs(";\n", out);
    }
    free(recycled.objects);
    closeDictionaryReader(&reader);
    return 1;
}
