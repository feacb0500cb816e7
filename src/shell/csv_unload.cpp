// The CSV and PostgreSQL side of UNLOAD (see csv_unload.h).
#include "shell/csv_unload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "unload/writers/csv_output.h"

namespace {

void replaceDollarSigns(char *name)
{
    for (char *c = name; *c != '\0'; c++) {
        if (*c == '$')
            *c = '_';
    }
}

// COPY takes a one-byte delimiter and ends records at LF or CR LF.
void usePostgresSeparators(UnloadContext *ctx)
{
    char field = ctx->fieldTag[0];
    if (ctx->fieldTagLength != 1 || field == '"' || field == '\r' || field == '\n' || field == '\0') {
        ctx->fieldTag[0] = ',';
        ctx->fieldTagLength = 1;
    }
    bool lineFeed = ctx->recordTagLength == 1 && ctx->recordTag[0] == '\n';
    bool crLineFeed = ctx->recordTagLength == 2 && ctx->recordTag[0] == '\r' && ctx->recordTag[1] == '\n';
    if (!lineFeed && !crLineFeed) {
        ctx->recordTag[0] = '\n';
        ctx->recordTagLength = 1;
    }
}

}  // namespace

bool startCsvUnload(ShellState *shell, bool padRecords, uint8_t *savedRowAddress)
{
    UnloadContext *ctx = shell->ctx;
    *savedRowAddress = ctx->rowAddress;
    if (ctx->target == kTargetPostgres) {
        usePostgresSeparators(ctx);
        ctx->rowAddress = 0;
    }
    uint32_t fields = 0;
    if (padRecords) {
        uint32_t count = ctx->columnCount < kMaxColumns ? ctx->columnCount : kMaxColumns;
        for (uint32_t i = 0; i < count; i++) {
            if (ctx->columnTypes[i] != 0)
                fields++;
        }
        if (fields != 0 && ctx->rowAddress)
            fields++;
    }
    if (beginCsvOutput(ctx, fields, shell->charset, shell->nlsCharset))
        return true;
    ctx->rowAddress = *savedRowAddress;
    return false;
}

void stopCsvUnload(ShellState *shell, uint8_t savedRowAddress)
{
    endCsvOutput(shell->ctx);
    shell->ctx->rowAddress = savedRowAddress;
}

void postgresDataFileName(char *name, size_t size, const char *baseName, const char *partition)
{
    if (partition[0] != '\0')
        snprintf(name, size, "%s_%s.csv", baseName, partition);
    else
        snprintf(name, size, "%s.csv", baseName);
    replaceDollarSigns(name);
}

void writePostgresScript(const char *baseName, const char *partition, ColumnEntry *column,
                         const ObjectEntry *object, const char *target, const char *tableArgument,
                         const char *dataFile, const UnloadContext *ctx, const char *folder,
                         UnloadRecord *record)
{
    char fileName[2048];
    if (partition[0] != '\0')
        snprintf(fileName, sizeof fileName, "%s_%s_pg.sql", baseName, partition);
    else
        snprintf(fileName, sizeof fileName, "%s_pg.sql", baseName);
    replaceDollarSigns(fileName);
    char name[4096];
    if (folder[0] != '\0')
        snprintf(name, sizeof name, "%s/%s", folder, fileName);
    else
        snprintf(name, sizeof name, "%s", fileName);
    char *text = static_cast<char *>(calloc(1, kCreateSyntaxSize));
    if (text == nullptr)
        return;
    if (getPostgresSyntax(text, kCreateSyntaxSize, column, object, target, tableArgument, dataFile, ctx)) {
        FILE *file = fopen(name, "w");
        if (file != nullptr) {
            fputs(text, file);
            fclose(file);
            addRecordFile(record, name);
        } else {
            reportFileError("create", "PostgreSQL script", name);
        }
    } else {
        fprintf(stderr, "  The PostgreSQL script of %s does not fit its buffer: %s not written\n",
                tableArgument, name);
    }
    free(text);
}
