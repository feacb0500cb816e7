// Lookups in the dictionary files, the column description of a table for the
// row decoder, and the LIST USER and LIST TABLE listings.
//
// Every lookup opens its file, reads it from the start and stops at the
// first matching line; nothing is cached, so an operator's edit counts at
// once.  Names compare without regard to letter case but with their length.
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
constexpr uint16_t kFirstUnlistedColumn = 1024;

bool sameName(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

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
    FILE *file = openDictionaryForReading(kObjectFile);
    if (file == nullptr) return 0;
    CommandLine line;
    ObjectEntry found;
    bool matched = false;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        memset(&found, 0, sizeof found);
        if (parseORASYSOBJ(&found, &line) != 0) continue;
        if (found.ownerNumber != ownerNumber || !kindMatches(found.type, kinds)) continue;
        if (!sameName(found.name, name) || !sameName(found.subname, partition)) continue;
        matched = true;
        break;
    }
    fclose(file);
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

}  // namespace

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
    FILE *file = openDictionaryForReading(kUserFile);
    if (file == nullptr) return 0;
    CommandLine line;
    UserEntry found;
    int result = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        if (parseORASYSUSER(&found, &line) != 0) continue;
        if (!sameName(found.name, name)) continue;
        *entry = found;
        result = 1;
        break;
    }
    fclose(file);
    return result;
}

int getORASYSUSERID(UserEntry *entry, uint32_t userNumber) {
    FILE *file = openDictionaryForReading(kUserFile);
    if (file == nullptr) return 0;
    CommandLine line;
    UserEntry found;
    int result = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        if (parseORASYSUSER(&found, &line) != 0 || found.userNumber != userNumber) continue;
        *entry = found;
        result = 1;
        break;
    }
    fclose(file);
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
    FILE *file = openDictionaryForReading(kObjectFile);
    if (file == nullptr) return 0;
    CommandLine line;
    ObjectEntry found;
    int result = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        memset(&found, 0, sizeof found);
        if (parseORASYSOBJ(&found, &line) != 0 || found.objectNumber != objectNumber) continue;
        takeObjectLine(entry, &found);
        result = 1;
        break;
    }
    fclose(file);
    return result;
}

int getORASYSOBJOID(ObjectEntry *entry, const char *oid) {
    FILE *file = openDictionaryForReading(kObjectFile);
    if (file == nullptr) return 0;
    CommandLine line;
    ObjectEntry found;
    int result = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        memset(&found, 0, sizeof found);
        if (parseORASYSOBJ(&found, &line) != 0 || !sameName(found.oid, oid)) continue;
        takeObjectLine(entry, &found);
        result = 1;
        break;
    }
    fclose(file);
    return result;
}

int getORASYSTAB(SegmentEntry *entry, uint32_t objectNumber) {
    memset(entry, 0, sizeof *entry);
    FILE *file = openDictionaryForReading(kSegmentFile);
    if (file == nullptr) return 0;
    CommandLine line;
    SegmentEntry found;
    int result = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        if (parseORASYSTAB(&found, &line) != 0) continue;
        // A partitioned table's own line has no segment (DATAOBJ# empty).
        if (found.objectNumber != objectNumber || found.dataObjectId == 0) continue;
        *entry = found;
        result = 1;
        break;
    }
    fclose(file);
    return result;
}

int hasORASYSTABLine(uint32_t objectNumber) {
    FILE *file = fopen(kSegmentFile, "r");
    if (file == nullptr) return 0;
    CommandLine line;
    SegmentEntry found;
    int result = 0;
    while (!result && readDictionaryLine(file, &line, kDictLineBuffer))
        result = parseORASYSTAB(&found, &line) == 0 && found.objectNumber == objectNumber;
    fclose(file);
    return result;
}

int getORASYSCOLTYPE(ColumnTypeEntry *entry, uint32_t objectNumber, uint32_t columnNumber,
                     uint32_t internalColumn) {
    FILE *file = fopen(kColumnTypeFile, "r");  // only databases with COLTYPE$ have one
    if (file == nullptr) return 0;
    CommandLine line;
    ColumnTypeEntry found;
    int result = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        if (parseORASYSCOLTYPE(&found, &line) != 0) continue;
        if (found.objectNumber != objectNumber || found.columnNumber != columnNumber ||
            found.internalColumn != internalColumn)
            continue;
        *entry = found;
        result = 1;
        break;
    }
    fclose(file);
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
    walk->file = openDictionaryForReading(kColumnFile);
    walk->tableObject = tableObject;
    walk->hasPending = false;
    memset(&walk->pending, 0, sizeof walk->pending);
}

bool nextStoredColumn(StoredColumnWalk *walk, ColumnEntry *column) {
    if (walk->file == nullptr) return false;
    while (readDictionaryLine(walk->file, &walk->line, kDictLineBuffer)) {
        if (parseORASYSCOL(column, &walk->line) != 0) continue;
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
        if (column->segmentColumn >= kFirstUnlistedColumn) continue;
        return true;
    }
    return false;
}

void endStoredColumnWalk(StoredColumnWalk *walk) {
    if (walk->file != nullptr) fclose(walk->file);
    walk->file = nullptr;
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
    list->count = highest;
    ctx->columnCount = highest;
    return 1;
}

void listUserName(FILE *out) {
    FILE *file = openDictionaryForReading(kUserFile);
    if (file == nullptr) return;
    CommandLine line;
    UserEntry user;
    unsigned listed = 0;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        if (parseORASYSUSER(&user, &line) != 0) continue;
        fprintf(out, " %-31s", user.name);
        listed++;
        if (listed % 3 == 0) fputc('\n', out);
    }
    fclose(file);
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
    FILE *file = openDictionaryForReading(kObjectFile);
    if (file == nullptr) return 1;
    // OUTPUT_STYLE 2 is quoted CSV.
    const char *suffix = outputStyle == 1 ? "dmp" : outputStyle == 2 ? "csv" : "txt";
    bool unloadable = type == kObjTable || type == kObjTablePartition || type == kObjTableSubpartition;
    CommandLine line;
    while (readDictionaryLine(file, &line, kDictLineBuffer)) {
        memset(entry, 0, sizeof *entry);
        if (parseORASYSOBJ(entry, &line) != 0) continue;
        if (entry->ownerNumber != user.userNumber || entry->type != type) continue;
        if (!unloadable)
            fprintf(out, "   %s \n", entry->name);
        else if (entry->subname[0] == '\0')
            fprintf(out, " UNLOAD TABLE %s.%s TO %s.%s;\n", userName, entry->name, entry->name, suffix);
        else
            fprintf(out, " UNLOAD TABLE %s.%s PARTITION %s TO %s_%s.%s;\n", userName, entry->name,
                    entry->subname, entry->name, entry->subname, suffix);
    }
    fclose(file);
    return 1;
}
