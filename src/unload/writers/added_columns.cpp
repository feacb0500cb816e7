// Defaults of added columns for the row writers (see added_columns.h).
#include "unload/writers/added_columns.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "lob/lob.h"
#include "unload/rows/rows.h"
#include "unload/values/value_format.h"
#include "unload/writers/csv_output.h"

namespace {

constexpr uint8_t kOutputStyleDump = 1;
constexpr uint8_t kTypeRaw = 23;
constexpr uint32_t kMaxDefaultBytes = 4000;
constexpr uint32_t kMaxDefaultText = 32768;
constexpr uint32_t kMaxLocatorBytes = kMaxDefaultBytes + 64;

// How a NULL of an added column is read.
enum AddedKind {
    kAddedNotNull,      // a row that ends before it takes the default
    kAddedGuarded,      // the guard's bit 0 decides (NULL or 0: default)
    kAddedSharedGuard,  // bits unknown: only a row without the guard takes it
};

struct AddedColumn {
    uint32_t position;
    AddedKind kind;
    int32_t guard;  // position of the guard column, -1 for none
    bool known;     // a default was found
    char *value;    // in the output's form: text, CSV field, stored bytes
    uint32_t valueLength;
    int8_t guardBit;  // this row's: -1 NULL, 0, 1
    char name[kDictNameSize];
};

}  // namespace

struct AddedColumns {
    uint32_t count;
    AddedColumn *columns;
    int16_t indexOf[kMaxColumns];  // position -> column, -1 when not added
    // The unload's context's count of defaults due but unknown: the chain
    // contexts copied from it count there too.
    uint64_t *defaultless;
    char owner[kDictNameSize];
    char table[kDictNameSize];
};

namespace {

bool isGuardCandidate(const ColumnEntry *c)
{
    return (c->property & kColumnHidden) != 0 && c->type == kTypeRaw && strncmp(c->name, "SYS_NC", 6) == 0;
}

// The default's stored bytes: ECOL$'s in-row BLOB, else a plain literal of
// DEFAULT$.
bool findDefault(const ColumnEntry *c, uint8_t *out, uint32_t *length)
{
    uint8_t *locator = static_cast<uint8_t *>(malloc(kMaxLocatorBytes));
    if (locator == nullptr)
        return false;
    uint32_t locatorLength = 0;
    bool found = false;
    if (getORASYSECOL(c->objectNumber, c->internalColumn, locator, kMaxLocatorBytes, &locatorLength)) {
        LobLocator decoded;
        decodeLobLocator(locator, locatorLength, &decoded);
        if (decoded.valid && decoded.hasValue && decoded.inRow && decoded.inRowLength <= kMaxDefaultBytes &&
            decoded.inRowOffset + decoded.inRowLength <= locatorLength) {
            memcpy(out, locator + decoded.inRowOffset, decoded.inRowLength);
            *length = decoded.inRowLength;
            found = true;
        }
    }
    free(locator);
    if (found)
        return true;
    char *text = static_cast<char *>(malloc(kMaxDefaultText));
    uint32_t textLength = 0;
    if (text != nullptr &&
        getORASYSDEFAULT(c->objectNumber, c->internalColumn, text, kMaxDefaultText, &textLength))
        found = encodeDefaultLiteral(text, textLength, c, out, kMaxDefaultBytes, length);
    free(text);
    return found;
}

// The default as the output writes it: the stored bytes for a dump, else
// the text the value writers make of them, formatted once in a copy of the
// context whose block holds the bytes.
bool renderDefault(UnloadContext *ctx, uint32_t position, const uint8_t *bytes, uint32_t length, char **out,
                   uint32_t *outLength)
{
    if (ctx->outputStyle == kOutputStyleDump) {
        *out = static_cast<char *>(malloc(length == 0 ? 1 : length));
        if (*out == nullptr)
            return false;
        memcpy(*out, bytes, length);
        *outLength = length;
        return true;
    }
    if (ctx->blockSize < length + 4)
        return false;
    UnloadContext *scratch = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    if (scratch == nullptr)
        return false;
    if (copyBlock(ctx, scratch) == 0) {
        free(scratch->block);
        free(scratch);
        return false;
    }
    memcpy(scratch->block, bytes, length);
    char *text = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&text, &size);
    TextSink *sink = static_cast<TextSink *>(malloc(sizeof(TextSink)));
    bool ok = stream != nullptr && sink != nullptr;
    if (ok) {
        initTextSink(sink, stream);
        uint8_t type = ctx->columnTypes[position];
        if (ctx->csv != nullptr)
            appendCsvField(sink, scratch, 0, length, type, position, 0, 0, 0);
        else
            appendField(sink, scratch, 0, length, type, ctx->lobIndexFile[position],
                        ctx->lobIndexBlock[position], ctx->columnCharsetForm[position]);
        flushTextSink(sink);
    }
    free(sink);
    if (stream != nullptr)
        fclose(stream);
    free(scratch->block);
    free(scratch);
    if (!ok) {
        free(text);
        return false;
    }
    *out = text;
    *outLength = static_cast<uint32_t>(size);
    return true;
}

// LOB and LONG values live outside the row or in chunks: their defaults
// are not given this way.
bool hasRowValue(uint8_t type)
{
    return type != 0 && type != 8 && type != 24 && type != 112 && type != 113 && type != 255;
}

void freeAddedColumns(AddedColumns *a)
{
    for (uint32_t k = 0; k < a->count; k++)
        free(a->columns[k].value);
    free(a->columns);
    free(a);
}

// Pairs each nullable added column with the nearest guard before it; a
// guard that serves several has bits nobody has described.
void pairGuards(AddedColumns *a, const int32_t *guards, uint32_t guardCount)
{
    for (uint32_t k = 0; k < a->count; k++) {
        AddedColumn *c = &a->columns[k];
        if (c->kind == kAddedNotNull)
            continue;
        c->guard = -1;
        for (uint32_t g = 0; g < guardCount; g++) {
            if (static_cast<uint32_t>(guards[g]) < c->position)
                c->guard = guards[g];
        }
        if (c->guard < 0) {
            fprintf(stderr,
                    "  Column %s of %s.%s was added nullable with a default but has no guard column: rows "
                    "that end "
                    "before it get the default\n",
                    c->name, a->owner, a->table);
            c->kind = kAddedNotNull;
        }
    }
    for (uint32_t k = 0; k < a->count; k++) {
        AddedColumn *c = &a->columns[k];
        if (c->kind != kAddedGuarded)
            continue;
        for (uint32_t j = 0; j < a->count; j++) {
            if (j != k && a->columns[j].kind != kAddedNotNull && a->columns[j].guard == c->guard)
                c->kind = kAddedSharedGuard;
        }
        if (c->kind == kAddedSharedGuard)
            fprintf(
                stderr,
                "  Column %s of %s.%s shares its guard column with another added column, whose bits are not "
                "known: only rows without the guard get its default\n",
                c->name, a->owner, a->table);
    }
}

// Whether a NULL of column c reads as its default in this row; `stored`
// says the NULL is in the row (not after its end).
bool defaultDue(const AddedColumn *c, bool stored)
{
    switch (c->kind) {
    case kAddedNotNull: return !stored;
    case kAddedGuarded: return c->guardBit != 1;
    case kAddedSharedGuard: return c->guardBit < 0;
    }
    return false;
}

}  // namespace

void beginAddedColumns(UnloadContext *ctx, const ObjectEntry *table, const char *owner, const char *tableName)
{
    ctx->addedColumns = nullptr;
    AddedColumns *a = static_cast<AddedColumns *>(calloc(1, sizeof(AddedColumns)));
    int32_t *guards = static_cast<int32_t *>(malloc(sizeof(int32_t) * kMaxColumns));
    ColumnEntry *column = static_cast<ColumnEntry *>(malloc(sizeof(ColumnEntry)));
    StoredColumnWalk *walk = static_cast<StoredColumnWalk *>(malloc(sizeof(StoredColumnWalk)));
    uint8_t *bytes = static_cast<uint8_t *>(malloc(kMaxDefaultBytes));
    if (a == nullptr || guards == nullptr || column == nullptr || walk == nullptr || bytes == nullptr) {
        free(a);
        free(guards);
        free(column);
        free(walk);
        free(bytes);
        return;
    }
    snprintf(a->owner, sizeof a->owner, "%s", owner);
    snprintf(a->table, sizeof a->table, "%s", tableName);
    for (int i = 0; i < kMaxColumns; i++)
        a->indexOf[i] = -1;
    uint32_t guardCount = 0;
    beginStoredColumnWalk(walk, table->objectNumber);
    while (nextStoredColumn(walk, column)) {
        uint32_t position = column->segmentColumn - 1u;
        if (position >= static_cast<uint32_t>(kMaxColumns))
            continue;
        if (isGuardCandidate(column)) {
            guards[guardCount++] = static_cast<int32_t>(position);
            continue;
        }
        if ((column->property & kColumnAddedDefault) == 0 || a->indexOf[position] >= 0)
            continue;
        AddedColumn *grown =
            static_cast<AddedColumn *>(realloc(a->columns, sizeof(AddedColumn) * (a->count + 1)));
        if (grown == nullptr)
            break;
        a->columns = grown;
        AddedColumn *c = &a->columns[a->count];
        memset(c, 0, sizeof *c);
        c->position = position;
        c->kind = column->nullable != 0 ? kAddedNotNull : kAddedGuarded;
        c->guard = -1;
        c->guardBit = -1;
        snprintf(c->name, sizeof c->name, "%s", column->name);
        uint32_t length = 0;
        uint8_t type = ctx->columnTypes[position];
        c->known = hasRowValue(type) && findDefault(column, bytes, &length) &&
                   renderDefault(ctx, position, bytes, length, &c->value, &c->valueLength);
        if (!c->known && type != 0)
            fprintf(stderr,
                    "  Column %s of %s.%s was added with a default that neither ECOL$ nor a plain literal in "
                    "DEFAULT$ gives: rows stored before it was added get NULL there\n",
                    c->name, owner, tableName);
        a->indexOf[position] = static_cast<int16_t>(a->count);
        a->count++;
    }
    endStoredColumnWalk(walk);
    pairGuards(a, guards, guardCount);
    free(guards);
    free(column);
    free(walk);
    free(bytes);
    if (a->count == 0) {
        freeAddedColumns(a);
        return;
    }
    ctx->defaultlessValues = 0;
    a->defaultless = &ctx->defaultlessValues;
    ctx->addedColumns = a;
}

void endAddedColumns(UnloadContext *ctx)
{
    AddedColumns *a = ctx->addedColumns;
    if (a == nullptr)
        return;
    ctx->addedColumns = nullptr;
    uint32_t unknown = 0;
    const char *only = "";
    for (uint32_t k = 0; k < a->count; k++) {
        if (!a->columns[k].known && ctx->columnTypes[a->columns[k].position] != 0) {
            unknown++;
            only = a->columns[k].name;
        }
    }
    unsigned long long values = static_cast<unsigned long long>(ctx->defaultlessValues);
    if (values != 0 && unknown == 1) {
        fprintf(stderr,
                "  %llu rows of %s.%s have NULL in column %s for want of the default it was added with\n",
                values, a->owner, a->table, only);
    } else if (values != 0) {
        fprintf(stderr,
                "  %llu values of %s.%s are NULL for want of the defaults their columns were added with (",
                values, a->owner, a->table);
        const char *separator = "";
        for (uint32_t k = 0; k < a->count; k++) {
            if (a->columns[k].known || ctx->columnTypes[a->columns[k].position] == 0)
                continue;
            fprintf(stderr, "%s%s", separator, a->columns[k].name);
            separator = ", ";
        }
        fputs(")\n", stderr);
    }
    freeAddedColumns(a);
}

void noteAddedColumnsPiece(UnloadContext *ctx, uint32_t start, uint32_t firstColumn)
{
    AddedColumns *a = ctx->addedColumns;
    if (firstColumn == 0) {
        for (uint32_t k = 0; k < a->count; k++)
            a->columns[k].guardBit = -1;
    }
    uint32_t mapped = ctx->mappedColumns;
    bool continues = (ctx->rowFlag & kRowFlagPrevious) != 0 && firstColumn > 0;
    for (uint32_t k = 0; k < a->count; k++) {
        AddedColumn *c = &a->columns[k];
        if (c->guard < 0 || static_cast<uint32_t>(c->guard) < start)
            continue;
        uint32_t i = static_cast<uint32_t>(c->guard) - start;
        // The first byte of a value continued from the previous piece was
        // in that piece.
        if (i >= mapped || (i == 0 && continues))
            continue;
        uint32_t stored = i < ctx->permutationCount ? ctx->permutation[i] : i;
        if (stored >= mapped || ctx->slots.length[stored] == 0 || ctx->slots.offset[stored] >= ctx->blockSize)
            continue;
        c->guardBit = static_cast<int8_t>(ctx->block[ctx->slots.offset[stored]] & 1);
    }
}

bool addedDefaultForNull(UnloadContext *ctx, uint32_t position, bool stored, bool count, const char **value,
                         uint32_t *length)
{
    AddedColumns *a = ctx->addedColumns;
    if (position >= static_cast<uint32_t>(kMaxColumns) || a->indexOf[position] < 0)
        return false;
    const AddedColumn *c = &a->columns[a->indexOf[position]];
    if (!defaultDue(c, stored))
        return false;
    if (!c->known) {
        if (count)
            (*a->defaultless)++;
        return false;
    }
    *value = c->value;
    *length = c->valueLength;
    return true;
}

uint32_t addedDefaultsEnd(UnloadContext *ctx, uint32_t end)
{
    AddedColumns *a = ctx->addedColumns;
    uint32_t last = end;
    for (uint32_t k = 0; k < a->count; k++) {
        const AddedColumn *c = &a->columns[k];
        if (c->position < end || !defaultDue(c, false))
            continue;
        if (!c->known)
            (*a->defaultless)++;
        else if (c->position + 1 > last)
            last = c->position + 1;
    }
    return last;
}
