// The report of a rescue: one CSV record (RFC 4180: fields quoted when they
// hold a comma, a quote or a line break, records ended by CR LF) per unloaded
// table or segment, appended to the SET REPORT file and written into UNLOAD
// USER's folder, so that a script of hundreds of unloads leaves a list of
// which tables came back whole.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

const char kReportHeader[] =
    "started,command,owner,table,partition,objd,rows,incomplete_rows,blocks_not_read,lobs_not_read,"
    "output_files,bytes,seconds,status\r\n";

const char *const kStatusNames[] = {"complete", "incomplete", "not found", "failed"};

void writeField(FILE *file, const char *text, bool last = false)
{
    if (strpbrk(text, ",\"\r\n") == nullptr) {
        fputs(text, file);
    } else {
        fputc('"', file);
        for (const char *c = text; *c != '\0'; c++) {
            if (*c == '"')
                fputc('"', file);
            fputc(*c, file);
        }
        fputc('"', file);
    }
    fputs(last ? "\r\n" : ",", file);
}

void writeNumberField(FILE *file, uint64_t value)
{
    fprintf(file, "%" PRIu64 ",", value);
}

double secondsSince(const struct timespec *start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start->tv_sec) +
           static_cast<double>(now.tv_nsec - start->tv_nsec) / 1e9;
}

bool isNewFile(FILE *file)
{
    return fseeko(file, 0, SEEK_END) == 0 && ftello(file) == 0;
}

}  // namespace

void beginUnloadRecord(UnloadRecord *record, const CommandLine *cmd)
{
    memset(record, 0, sizeof *record);
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(record->started, sizeof record->started, "%Y-%m-%d %H:%M:%S", &local);
    clock_gettime(CLOCK_MONOTONIC, &record->clock);
    // Blanks and line breaks of a command typed over several lines become one blank.
    size_t n = 0;
    uint32_t length = cmd->length < sizeof cmd->text ? cmd->length : sizeof cmd->text - 1;
    for (uint32_t i = 0; i < length && cmd->text[i] != '\0' && n + 1 < sizeof record->command; i++) {
        bool blank = isspace(static_cast<unsigned char>(cmd->text[i])) != 0;
        if (blank && (n == 0 || record->command[n - 1] == ' '))
            continue;
        record->command[n++] = blank ? ' ' : cmd->text[i];
    }
    while (n > 0 && record->command[n - 1] == ' ')
        n--;
    record->command[n] = '\0';
    record->failuresAtStart = commandFailureCount();
    record->status = kUnloadComplete;
}

void addRecordFile(UnloadRecord *record, const char *path)
{
    size_t used = strlen(record->files);
    snprintf(record->files + used, sizeof record->files - used, "%s%s", used == 0 ? "" : ";", path);
    struct stat st;
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
        record->bytes += static_cast<uint64_t>(st.st_size);
}

void settleUnloadRecord(UnloadRecord *record)
{
    if (record->status == kUnloadNotFound || record->status == kUnloadSkipped)
        return;
    if (record->status == kUnloadFailed || commandFailureCount() > record->failuresAtStart)
        record->status = kUnloadFailed;
    else if (record->incompleteRows > 0 || record->blocksNotRead > 0 || record->lobsNotRead > 0)
        record->status = kUnloadIncomplete;
    if (record->status == kUnloadIncomplete)
        noteIncompleteUnload();
}

void writeReportHeader(FILE *file)
{
    fputs(kReportHeader, file);
}

void writeUnloadRecord(FILE *file, const UnloadRecord *record)
{
    writeField(file, record->started);
    writeField(file, record->command);
    writeField(file, record->owner);
    writeField(file, record->table);
    writeField(file, record->partition);
    if (record->hasObjd)
        fprintf(file, "%u,", record->objd);
    else
        fputc(',', file);
    writeNumberField(file, record->rows);
    writeNumberField(file, record->incompleteRows);
    writeNumberField(file, record->blocksNotRead);
    writeNumberField(file, record->lobsNotRead);
    writeField(file, record->files);
    writeNumberField(file, record->bytes);
    fprintf(file, "%.3f,", secondsSince(&record->clock));
    writeField(file, kStatusNames[record->status < kUnloadSkipped ? record->status : kUnloadFailed], true);
}

void appendToReportFile(const ShellState *shell, const UnloadRecord *record)
{
    if (shell->reportFile[0] == '\0' || record->status == kUnloadSkipped)
        return;
    FILE *file = fopen64(shell->reportFile, "a");
    if (file == nullptr) {
        reportFileError("open", "report file", shell->reportFile);
        return;
    }
    if (isNewFile(file))
        writeReportHeader(file);
    writeUnloadRecord(file, record);
    if (fclose(file) != 0)
        reportFileError("write", "report file", shell->reportFile);
}

void setReportFile(ShellState *shell, const char *name)
{
    if (strcasecmp(name, "OFF") == 0) {
        shell->reportFile[0] = '\0';
        return;
    }
    // Opened now, so that a report that cannot be written is known before
    // the unloads, not after them.
    FILE *file = fopen64(name, "a");
    if (file == nullptr) {
        reportFileError("open", "report file", name, "the report stays as it was");
        return;
    }
    if (isNewFile(file))
        writeReportHeader(file);
    fclose(file);
    snprintf(shell->reportFile, sizeof shell->reportFile, "%s", name);
}
