// LIST TRUNCATED: the data objects SCAN EXTENT found in data blocks that
// no live segment owns, each with the tables its rows may have been.
//
// TRUNCATE gives a table a new data object id and leaves the old blocks as
// they were, carrying the old one, until the space is used again.  The
// first truncate's old id is the table's OBJ#, later ones lie between it
// and the current DATAOBJ#: a table whose range holds the id comes first.
// Then come the tables of the same tablespace whose columns the sampled
// rows fit, by count and by the guessing tests of SAMPLE.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "dictionary/dictionary.h"
#include "scan/scan.h"
#include "shell/shell.h"

namespace {

constexpr uint32_t kMaxFiles = 1024;
constexpr uint16_t kUnknownTablespace = 0xFFFF;
constexpr int kExtentLineSize = 1024;

// A growing array of 32-bit numbers, sorted once filled.
struct NumberSet {
    uint32_t *values;
    uint32_t count;
    uint32_t capacity;
};

bool addNumber(NumberSet *set, uint32_t value)
{
    if (set->count == set->capacity) {
        uint32_t grown = set->capacity == 0 ? 1024 : set->capacity * 2;
        uint32_t *values = static_cast<uint32_t *>(realloc(set->values, sizeof(uint32_t) * grown));
        if (values == nullptr)
            return false;
        set->values = values;
        set->capacity = grown;
    }
    set->values[set->count++] = value;
    return true;
}

int compareNumbers(const void *a, const void *b)
{
    uint32_t x = *static_cast<const uint32_t *>(a);
    uint32_t y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y;
}

// Sorted, each value once.
void sortUnique(NumberSet *set)
{
    if (set->count == 0)
        return;
    qsort(set->values, set->count, sizeof(uint32_t), compareNumbers);
    uint32_t kept = 1;
    for (uint32_t i = 1; i < set->count; i++) {
        if (set->values[i] != set->values[kept - 1])
            set->values[kept++] = set->values[i];
    }
    set->count = kept;
}

bool holdsNumber(const NumberSet *set, uint32_t value)
{
    return set->count != 0 &&
           bsearch(&value, set->values, set->count, sizeof(uint32_t), compareNumbers) != nullptr;
}

// A live table or partition with a segment, as a candidate owner of old
// blocks.
struct Candidate {
    uint32_t object;      // OBJ# of the table or partition
    uint32_t dataObject;  // its DATAOBJ# now
    uint32_t owner;
    uint16_t tablespace;
    uint32_t table;    // OBJ# of the table whose columns it has
    uint64_t nameKey;  // owner and table name, to find that table
};

// A live segment's line, by OBJ#.
struct SegmentLine {
    uint32_t object;
    uint32_t dataObject;
    uint16_t tablespace;
};

// One stored column of a live table.
struct ColumnShape {
    uint32_t table;
    uint16_t position;  // SEGCOL#
    uint16_t type;
};

// A live table by its name key.
struct TableKey {
    uint64_t nameKey;
    uint32_t object;
};

struct Listing {
    TableKey *tables;
    uint32_t tableCount;
    SegmentLine *segments;
    uint32_t segmentCount;
    NumberSet live;     // DATAOBJ# of every live segment
    NumberSet dropped;  // DATAOBJ# of the tables LIST DROPPED lists
    uint16_t tablespaceOfFile[kMaxFiles];
    Candidate *candidates;
    uint32_t candidateCount;
    ColumnShape *columns;
    uint32_t columnCount;
    bool everyOwner;
    uint32_t owner;
};

int compareSegmentLines(const void *a, const void *b)
{
    uint32_t x = static_cast<const SegmentLine *>(a)->object;
    uint32_t y = static_cast<const SegmentLine *>(b)->object;
    return x < y ? -1 : x > y;
}

void keepSegmentLine(Listing *listing, const SegmentEntry *segment)
{
    if (listing->segmentCount % 1024 == 0) {
        size_t grown = sizeof(SegmentLine) * (listing->segmentCount + 1024);
        SegmentLine *more = static_cast<SegmentLine *>(realloc(listing->segments, grown));
        if (more == nullptr)
            return;
        listing->segments = more;
    }
    listing->segments[listing->segmentCount++] = {segment->objectNumber, segment->dataObjectId,
                                                  segment->tablespace};
}

const SegmentLine *findSegmentLine(const Listing *listing, uint32_t object)
{
    SegmentLine key = {object, 0, 0};
    if (listing->segmentCount == 0)
        return nullptr;
    return static_cast<const SegmentLine *>(
        bsearch(&key, listing->segments, listing->segmentCount, sizeof(SegmentLine), compareSegmentLines));
}

// DATAOBJ# of every line of a ZORTAB file; of the live one, also the lines
// themselves and the tablespace of each file that holds a segment header.
void readSegments(Listing *listing, const char *path, NumberSet *set, bool live)
{
    forEachDictionaryRecord(path, [&](CommandLine *line, DictionaryReader *) {
        SegmentEntry segment;
        if (parseORASYSTAB(&segment, line) != 0 || segment.dataObjectId == 0)
            return true;
        addNumber(set, segment.dataObjectId);
        if (live && segment.headerFile < kMaxFiles)
            listing->tablespaceOfFile[segment.headerFile] = segment.tablespace;
        if (live)
            keepSegmentLine(listing, &segment);
        return true;
    });
    sortUnique(set);
    if (live && listing->segmentCount != 0)
        qsort(listing->segments, listing->segmentCount, sizeof(SegmentLine), compareSegmentLines);
}

// The data object ids of the extent file's runs; false without the file.
bool readExtentObjects(NumberSet *set)
{
    FILE *extents = fopen64(kExtentFileName, "r");
    if (extents == nullptr)
        return false;
    CommandLine *line = static_cast<CommandLine *>(malloc(sizeof(CommandLine)));
    ExtentEntry run;
    while (line != nullptr && readDictionaryLine(extents, line, kExtentLineSize)) {
        if (parseORAEXTENT(&run, line) == 0)
            addNumber(set, run.dataObjectId);
    }
    free(line);
    fclose(extents);
    sortUnique(set);
    return true;
}

bool addCandidate(Listing *listing, const Candidate *candidate)
{
    if (listing->candidateCount % 1024 == 0) {
        size_t grown = sizeof(Candidate) * (listing->candidateCount + 1024);
        Candidate *more = static_cast<Candidate *>(realloc(listing->candidates, grown));
        if (more == nullptr)
            return false;
        listing->candidates = more;
    }
    listing->candidates[listing->candidateCount++] = *candidate;
    return true;
}

// Owner and name folded into one key (FNV-1a of the owner number and the
// upper-case name): a partition finds its table by it.
uint64_t nameKey(uint32_t owner, const char *name)
{
    uint64_t hash = 1469598103934665603ULL ^ owner;
    for (const char *c = name; *c != '\0'; c++) {
        hash ^= static_cast<unsigned char>(toupper(static_cast<unsigned char>(*c)));
        hash *= 1099511628211ULL;
    }
    return hash;
}

int compareTableKeys(const void *a, const void *b)
{
    uint64_t x = static_cast<const TableKey *>(a)->nameKey;
    uint64_t y = static_cast<const TableKey *>(b)->nameKey;
    return x < y ? -1 : x > y;
}

bool keepTable(Listing *listing, uint64_t key, uint32_t object)
{
    if (listing->tableCount % 1024 == 0) {
        size_t grown = sizeof(TableKey) * (listing->tableCount + 1024);
        TableKey *more = static_cast<TableKey *>(realloc(listing->tables, grown));
        if (more == nullptr)
            return false;
        listing->tables = more;
    }
    listing->tables[listing->tableCount++] = {key, object};
    return true;
}

// The table each partition has its columns from.
void linkPartitions(Listing *listing)
{
    if (listing->tableCount == 0)
        return;
    qsort(listing->tables, listing->tableCount, sizeof(TableKey), compareTableKeys);
    for (uint32_t i = 0; i < listing->candidateCount; i++) {
        Candidate *part = &listing->candidates[i];
        TableKey key = {part->nameKey, 0};
        const TableKey *table = static_cast<const TableKey *>(
            bsearch(&key, listing->tables, listing->tableCount, sizeof(TableKey), compareTableKeys));
        if (part->table == 0 && table != nullptr)
            part->table = table->object;
    }
}

// Every live table and partition with a segment of its own.
void readCandidates(Listing *listing)
{
    forEachDictionaryRecord(kObjectFile, [&](CommandLine *line, DictionaryReader *) {
        ObjectEntry object;
        memset(&object, 0, sizeof object);
        if (parseORASYSOBJ(&object, line) != 0)
            return true;
        bool partition = object.type == kObjTablePartition || object.type == kObjTableSubpartition;
        if (object.type != kObjTable && !partition)
            return true;
        uint64_t key = nameKey(object.ownerNumber, object.name);
        if (!partition)
            keepTable(listing, key, object.objectNumber);
        const SegmentLine *segment = findSegmentLine(listing, object.objectNumber);
        if (segment != nullptr) {
            Candidate candidate = {object.objectNumber,
                                   segment->dataObject,
                                   object.ownerNumber,
                                   segment->tablespace,
                                   partition ? 0 : object.objectNumber,
                                   key};
            addCandidate(listing, &candidate);
        }
        return true;
    });
    linkPartitions(listing);
}

int compareShapes(const void *a, const void *b)
{
    const ColumnShape *x = static_cast<const ColumnShape *>(a);
    const ColumnShape *y = static_cast<const ColumnShape *>(b);
    if (x->table != y->table)
        return x->table < y->table ? -1 : 1;
    return x->position < y->position ? -1 : x->position > y->position;
}

// The stored columns of every live table, by table and position.
void readColumnShapes(Listing *listing)
{
    uint32_t capacity = 0;
    forEachDictionaryRecord(kColumnFile, [&](CommandLine *line, DictionaryReader *) {
        ColumnEntry column;
        if (parseORASYSCOL(&column, line) != 0 || column.segmentColumn == 0 ||
            column.segmentColumn > kMaxListedColumns)
            return true;
        if (listing->columnCount == capacity) {
            capacity = capacity == 0 ? 4096 : capacity * 2;
            ColumnShape *more =
                static_cast<ColumnShape *>(realloc(listing->columns, sizeof(ColumnShape) * capacity));
            if (more == nullptr)
                return false;
            listing->columns = more;
        }
        listing->columns[listing->columnCount++] = {column.objectNumber, column.segmentColumn, column.type};
        return true;
    });
    if (listing->columnCount != 0)
        qsort(listing->columns, listing->columnCount, sizeof(ColumnShape), compareShapes);
}

// Whether values that passed or failed the guessing tests can be of type.
bool valuesFit(uint8_t evidence, uint16_t type)
{
    switch (type) {
    case 2: return (evidence & kGuessNotNumber) == 0;
    case 12: return (evidence & kGuessNotDate) == 0;
    case 1:
    case 96: return (evidence & kGuessNotText) == 0;
    case 112: return (evidence & kGuessNotClob) == 0;
    case 113: return (evidence & kGuessNotBlob) == 0;
    default: return true;
    }
}

// The table's stored columns against the sampled rows: as many, and every
// sampled value of a type the column can hold.
bool shapeFits(const Listing *listing, uint32_t table, const ColumnGuessState *guess)
{
    ColumnShape key = {table, 0, 0};
    uint32_t low = 0, high = listing->columnCount;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        if (compareShapes(&listing->columns[mid], &key) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    uint32_t highest = 0;
    for (uint32_t i = low; i < listing->columnCount && listing->columns[i].table == table; i++) {
        const ColumnShape *column = &listing->columns[i];
        highest = column->position;
        if (column->position <= guess->columnCount &&
            !valuesFit(guess->evidence[column->position - 1], column->type))
            return false;
    }
    return highest != 0 && highest == guess->columnCount;
}

// How well a candidate fits the old blocks of objd: 2 for its range of
// data object ids, 1 for its columns; 0 for no fit.
int rankCandidate(const Listing *listing, const Candidate *candidate, uint32_t objd,
                  const ObjectSample *sample, const ColumnGuessState *guess)
{
    bool inRange = candidate->object <= objd && objd < candidate->dataObject;
    uint16_t tablespace =
        sample->file < kMaxFiles ? listing->tablespaceOfFile[sample->file] : kUnknownTablespace;
    bool sameSpace = tablespace == kUnknownTablespace || tablespace == candidate->tablespace;
    bool fits = sameSpace && candidate->table != 0 && shapeFits(listing, candidate->table, guess);
    return (inRange ? 2 : 0) + (fits ? 1 : 0);
}

const char *fileSuffix(uint8_t outputStyle)
{
    return outputStyle == 1 ? "dmp" : outputStyle == 2 ? "csv" : "txt";
}

// One candidate: a REM line with why, and its UNLOAD line, run only for
// the best candidate when its range holds the id; the others are REM lines
// too, for the user to choose.
void printCandidate(FILE *out, const Candidate *candidate, uint32_t objd, int rank, bool active,
                    uint8_t outputStyle)
{
    ObjectEntry object;
    memset(&object, 0, sizeof object);
    UserEntry user;
    if (!getORASYSOBJID(&object, candidate->object) || !getORASYSUSERID(&user, candidate->owner))
        return;
    fprintf(out, "REM   %s.%s%s%s: ", user.name, object.name, object.subname[0] != '\0' ? " PARTITION " : "",
            object.subname);
    if (rank >= 2)
        fprintf(out, "OBJ#=%u <= %u < DATAOBJ#=%u (truncated since)%s\n", candidate->object, objd,
                candidate->dataObject, rank == 3 ? ", and its columns fit the rows" : "");
    else
        fputs("its columns fit the rows\n", out);
    char file[3 * kDictNameSize + 32];
    if (object.subname[0] != '\0')
        snprintf(file, sizeof file, "%s_%s_%u.%s", object.name, object.subname, objd,
                 fileSuffix(outputStyle));
    else
        snprintf(file, sizeof file, "%s_%u.%s", object.name, objd, fileSuffix(outputStyle));
    fputs(active ? " UNLOAD TABLE " : "REM UNLOAD TABLE ", out);
    printCommandName(out, user.name, true);
    fputc('.', out);
    printCommandName(out, object.name, true);
    if (object.subname[0] != '\0') {
        fputs(" PARTITION ", out);
        printCommandName(out, object.subname, false);
    }
    fprintf(out, " OBJD %u TO ", objd);
    printCommandName(out, file, false);
    fputs(";\n", out);
}

// The candidates of one old data object, best first.
void listOldObject(FILE *out, const Listing *listing, UnloadContext *ctx, uint32_t objd, uint8_t outputStyle)
{
    ObjectSample sample;
    if (!sampleExtentObject(ctx, objd, &sample))
        return;  // no table data block: an index, or nothing left
    const ColumnGuessState *guess = ctx->columnGuess;
    uint32_t *ranked = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * (listing->candidateCount + 1)));
    int *ranks = static_cast<int *>(malloc(sizeof(int) * (listing->candidateCount + 1)));
    if (ranked == nullptr || ranks == nullptr) {
        free(ranked);
        free(ranks);
        return;
    }
    uint32_t count = 0;
    bool ownersMatch = listing->everyOwner;
    for (int rank = 3; rank >= 1; rank--) {
        for (uint32_t i = 0; i < listing->candidateCount; i++) {
            const Candidate *candidate = &listing->candidates[i];
            if (rankCandidate(listing, candidate, objd, &sample, guess) != rank)
                continue;
            ownersMatch = ownersMatch || candidate->owner == listing->owner;
            ranked[count] = i;
            ranks[count++] = rank;
        }
    }
    if (ownersMatch) {
        fprintf(out, "REM OBJD=%u: %llu blocks, %llu rows, %u columns in its sampled rows, FILE %u\n", objd,
                static_cast<unsigned long long>(sample.blocks), static_cast<unsigned long long>(sample.rows),
                static_cast<unsigned>(sample.columns), sample.file);
        if (count == 0)
            fputs("REM   no table fits its rows: SCAN TABLE proposes their columns\n", out);
        for (uint32_t k = 0; k < count; k++) {
            const Candidate *candidate = &listing->candidates[ranked[k]];
            if (!listing->everyOwner && candidate->owner != listing->owner)
                continue;
            printCandidate(out, candidate, objd, ranks[k], k == 0 && ranks[k] >= 2, outputStyle);
        }
    }
    free(ranked);
    free(ranks);
}

void freeListing(Listing *listing)
{
    free(listing->live.values);
    free(listing->dropped.values);
    free(listing->candidates);
    free(listing->columns);
    free(listing->tables);
    free(listing->segments);
    free(listing);
}

}  // namespace

int listTruncatedObjects(FILE *out, UnloadContext *ctx, const char *ownerName, uint8_t outputStyle)
{
    NumberSet objects = {nullptr, 0, 0};
    if (!readExtentObjects(&objects)) {
        printf("  No extent map yet: run SCAN EXTENT first (it writes %s)\n", kExtentFileName);
        return 0;
    }
    Listing *listing = static_cast<Listing *>(calloc(1, sizeof(Listing)));
    if (listing == nullptr) {
        free(objects.values);
        return 0;
    }
    listing->everyOwner = ownerName[0] == '\0';
    if (!listing->everyOwner) {
        UserEntry user;
        if (!getORASYSUSER(&user, ownerName)) {
            printf("User (%s) does not exists.\n", ownerName);
            free(objects.values);
            freeListing(listing);
            return 0;
        }
        listing->owner = user.userNumber;
    }
    for (uint32_t f = 0; f < kMaxFiles; f++)
        listing->tablespaceOfFile[f] = kUnknownTablespace;
    readSegments(listing, kSegmentFile, &listing->live, true);
    readSegments(listing, kDeletedSegmentFile, &listing->dropped, false);
    readCandidates(listing);
    readColumnShapes(listing);
    for (uint32_t i = 0; i < objects.count; i++) {
        uint32_t objd = objects.values[i];
        if (holdsNumber(&listing->live, objd))
            continue;
        if (holdsNumber(&listing->dropped, objd)) {
            if (listing->everyOwner)
                fprintf(out, "REM OBJD=%u: a table dropped with PURGE, see LIST DROPPED\n", objd);
            continue;
        }
        listOldObject(out, listing, ctx, objd, outputStyle);
    }
    free(objects.values);
    freeListing(listing);
    return 1;
}
