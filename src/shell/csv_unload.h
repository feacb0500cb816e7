// UNLOAD in quoted CSV (OUTPUT_STYLE CSV) and for PostgreSQL (TARGET
// POSTGRESQL): the start and end of the quoting around one unload, and the
// files written for PostgreSQL instead of the SQL*Loader ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shell/shell.h"

struct ColumnEntry;
struct ObjectEntry;

// Starts CSV records for the unload about to run.  For PostgreSQL the
// separators become ones COPY reads (FIELD_TAG when it is one plain byte,
// else ","; RECORD_TAG when it is LF or CR LF, else LF) and no row address
// is written.  With padRecords, records get a field for every column of the
// table.  *savedRowAddress keeps ROW_ADDRESS for stopCsvUnload.  False when
// the quoting could not be started.
bool startCsvUnload(ShellState *shell, bool padRecords, uint8_t *savedRowAddress);
void stopCsvUnload(ShellState *shell, uint8_t savedRowAddress);

// "<base>.csv" (or "<base>_<partition>.csv"), "$" made "_": the data file of
// a PostgreSQL unload given no TO.
void postgresDataFileName(char *name, size_t size, const char *baseName, const char *partition);

// "<base>_pg.sql" (or "<base>_<partition>_pg.sql"), in folder when it is not
// empty: CREATE TABLE and the \copy line of dataFile; added to the record.
void writePostgresScript(const char *baseName, const char *partition, ColumnEntry *column,
                         const ObjectEntry *object, const char *target, const char *tableArgument,
                         const char *dataFile, const UnloadContext *ctx, const char *folder,
                         UnloadRecord *record);
