// Reading the dictionary files record by record, and the line parsers that
// turn one comma-separated record into a dictionary record.
//
// Line formats (fields in this order):
//   ZORUSR.TXT  USER#, NAME
//   ZOROBJ.TXT  OBJ#, OWNER#, NAME, SUBNAME, TYPE#, OID$
//   ZORTAB.TXT  OBJ#, DATAOBJ#, TS#, FILE#, BLOCK#, TAB#
//   ZORCOL.TXT  OBJ#, COL#, SEGCOL#, NAME, TYPE#, LENGTH, PRECISION#, SCALE,
//               NULL$, INTCOL#, PROPERTY, CHARSETID, CHARSETFORM
//   ZORTYP.TXT  OBJ#, COL#, INTCOL#, TOID, VERSION#, PACKED, SYNOBJ#
//   ZOREXT.TXT  OBJD, file, first block, block count
// A field ends at ",", NUL or the end of the record, so the last field of a
// record still carries its newline.  A field that begins with a double quote
// is quoted as RFC 4180 quotes: it ends at the next lone quote, "" stands
// for one quote, and commas, CR and LF inside it are text (a record then
// spans several physical lines).  The bootstrap quotes a name only when it
// holds one of these, so every other line reads as it always did.
//
// The files are written by the dictionary bootstrap and the extent scan, but
// the operator may edit them: a record that is too short, too long, holds a
// NUL, leaves a quote open, or lacks a required field is ignored, never
// trusted, and named on standard error with its file and line number.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "dictionary/dictionary.h"
#include "core/command_line.h"

// ---- Bad-line messages ----
//
// Every lookup reads its file from the start, and one command makes many
// lookups: a bad line is named once for each state of its file (device,
// inode, size and modification time), not once per lookup.
struct ReportedDictionaryFile {
    char path[64];
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t modified;
    uint32_t reportedUpTo;  // highest line number named so far
};

namespace {

constexpr uint32_t kMinLineLength = 5;  // with its newline
constexpr uint32_t kMaxLineLength = kCommandTextSize - 1;
constexpr uint32_t kMaxExtentLineLength = 128;  // four numbers never need more
constexpr uint32_t kMinUserLineLength = 2;      // after trailing white space is removed
constexpr int kNumberDigits = 20;               // a number is read from at most 20 characters
constexpr uint32_t kNoMoreFields = UINT32_MAX;

// Why the last parse failed, for the message that names the line.
const char *g_parseProblem = "";

int refuse(const char *problem)
{
    g_parseProblem = problem;
    return 1;
}

void beginFields(CommandLine *line)
{
    line->start = 0;
    line->end = 0;
}

// The length is taken from the text itself, so a caller's stale length can
// never send the field scanner past the line.
bool lengthAccepted(CommandLine *line)
{
    line->length = (uint32_t)strnlen(line->text, sizeof line->text);
    if (line->length < kMinLineLength) {
        g_parseProblem = "too short";
        return false;
    }
    if (line->length > kMaxLineLength) {
        g_parseProblem = "too long";
        return false;
    }
    return true;
}

bool isLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

enum FieldResult { kFieldAbsent, kFieldRead, kFieldMalformed };

// Where a field's text goes: at most size - 1 bytes and a NUL (nothing when
// out is null), while length counts the whole field.
struct FieldCopy {
    char *out;
    size_t size;
    size_t copied;
    size_t *length;
};

void putFieldByte(FieldCopy *copy, char c)
{
    if (copy->out != nullptr && copy->copied + 1 < copy->size)
        copy->out[copy->copied++] = c;
    (*copy->length)++;
}

void endFieldCopy(FieldCopy *copy)
{
    if (copy->out != nullptr && copy->size > 0)
        copy->out[copy->copied] = '\0';
}

// The next field of the record, its text (quotes taken off) copied into out
// (NUL-terminated) when out is given.  *length is the field's full length,
// which may exceed what out holds.  line->end is where the next field
// begins (kNoMoreFields after the last one).  An unquoted field keeps the
// newline that ends the record; callers drop it.
FieldResult nextField(CommandLine *line, char *out, size_t outSize, size_t *length)
{
    *length = 0;
    FieldCopy copy = {out, outSize, 0, length};
    endFieldCopy(&copy);
    uint32_t end = line->length < sizeof line->text ? line->length : (uint32_t)sizeof line->text;
    uint32_t p = line->end;
    if (p == kNoMoreFields || p > end)
        return kFieldAbsent;
    line->start = p;
    if (p < end && line->text[p] == '"') {
        uint32_t q = p + 1;
        bool closed = false;
        while (q < end && line->text[q] != '\0') {
            char c = line->text[q++];
            if (c != '"') {
                putFieldByte(&copy, c);
                continue;
            }
            if (q < end && line->text[q] == '"') {
                putFieldByte(&copy, '"');
                q++;
                continue;
            }
            closed = true;
            break;
        }
        endFieldCopy(&copy);
        if (!closed) {
            g_parseProblem = "a quoted field is not closed";
            return kFieldMalformed;
        }
        // Only the end of the record may sit between the closing quote and
        // the next comma.
        while (q < end && isLineEnd(line->text[q]))
            q++;
        if (q < end && line->text[q] != '\0' && line->text[q] != ',') {
            g_parseProblem = "text after a closing quote";
            return kFieldMalformed;
        }
        line->end = q < end && line->text[q] == ',' ? q + 1 : kNoMoreFields;
        return kFieldRead;
    }
    uint32_t q = p;
    while (q < end && line->text[q] != ',' && line->text[q] != '\0')
        putFieldByte(&copy, line->text[q++]);
    endFieldCopy(&copy);
    line->end = q < end && line->text[q] == ',' ? q + 1 : kNoMoreFields;
    return kFieldRead;
}

// The next field as a signed decimal number; false when it is empty,
// absent or malformed.  The newline the last field keeps counts as nothing.
bool nextNumber(CommandLine *line, int64_t *value)
{
    char digits[kNumberDigits + 1];
    size_t length;
    if (nextField(line, digits, sizeof digits, &length) != kFieldRead)
        return false;
    size_t kept = strlen(digits);
    while (kept > 0 && isLineEnd(digits[kept - 1]))
        digits[--kept] = '\0';
    if (kept == 0)
        return false;
    *value = strtoll(digits, nullptr, 10);
    return true;
}

enum TextResult { kTextEmpty, kTextRead, kTextBad };

// The next field as a name or identifier of at most kDictNameSize - 1
// bytes, whole.  A name that ends its record would otherwise carry the
// newline (and an editor's carriage return) into every comparison made with
// it; a longer one is no name Oracle allows, and is refused rather than cut.
TextResult nextText(CommandLine *line, char *out)
{
    char field[kDictNameSize + 2];
    size_t length;
    out[0] = '\0';
    uint32_t begin = line->end;
    FieldResult result = nextField(line, field, sizeof field, &length);
    if (result == kFieldAbsent)
        return kTextEmpty;
    if (result == kFieldMalformed)
        return kTextBad;
    bool quoted = begin < sizeof line->text && line->text[begin] == '"';
    bool whole = length < sizeof field - 1;  // the field fits the buffer
    size_t kept = whole ? length : sizeof field - 1;
    if (!quoted) {
        while (kept > 0 && isLineEnd(field[kept - 1]))
            kept--;
    }
    if (!whole || kept > (size_t)kDictNameSize - 1) {
        g_parseProblem = "a name longer than 128 bytes";
        return kTextBad;
    }
    memcpy(out, field, kept);
    out[kept] = '\0';
    return kept > 0 ? kTextRead : kTextEmpty;
}

// A required name: false, with the reason set, when it is empty or bad.
bool requiredText(CommandLine *line, char *out)
{
    TextResult result = nextText(line, out);
    if (result == kTextEmpty)
        g_parseProblem = "a required name is empty";
    return result == kTextRead;
}

// An optional name: false only when it is malformed.
bool optionalText(CommandLine *line, char *out)
{
    return nextText(line, out) != kTextBad;
}

bool requiredNumber(CommandLine *line, int64_t *value)
{
    if (nextNumber(line, value))
        return true;
    if (g_parseProblem[0] == '\0')
        g_parseProblem = "a required number is missing";
    return false;
}

// Optional numeric field: absent is 0.
int64_t optionalNumber(CommandLine *line)
{
    int64_t value = 0;
    if (!nextNumber(line, &value))
        return 0;
    return value;
}

constexpr int kReportedDictionaryFiles = 16;
ReportedDictionaryFile g_reported[kReportedDictionaryFiles];
int g_reportedNext;

ReportedDictionaryFile *reportedFileOf(FILE *file, const char *path)
{
    struct stat st;
    if (path == nullptr || fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    int64_t modified = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
    ReportedDictionaryFile *slot = nullptr;
    for (ReportedDictionaryFile &r : g_reported) {
        if (strncmp(r.path, path, sizeof r.path) == 0 && r.path[0] != '\0') {
            slot = &r;
            break;
        }
    }
    if (slot == nullptr) {
        slot = &g_reported[g_reportedNext];
        g_reportedNext = (g_reportedNext + 1) % kReportedDictionaryFiles;
        memset(slot, 0, sizeof *slot);
        snprintf(slot->path, sizeof slot->path, "%s", path);
    }
    if (slot->device != st.st_dev || slot->inode != st.st_ino || slot->size != st.st_size ||
        slot->modified != modified) {
        slot->device = st.st_dev;
        slot->inode = st.st_ino;
        slot->size = st.st_size;
        slot->modified = modified;
        slot->reportedUpTo = 0;
    }
    return slot;
}

}  // namespace

const char *dictionaryParseProblem()
{
    return g_parseProblem;
}

void beginDictionaryReader(DictionaryReader *reader, FILE *file, const char *path)
{
    memset(reader, 0, sizeof *reader);
    reader->file = file;
    reader->path = path;
    reader->nextLine = 1;
    if (file != nullptr)
        reader->reported = reportedFileOf(file, path);
}

bool openDictionaryReader(DictionaryReader *reader, const char *path)
{
    beginDictionaryReader(reader, openDictionaryForReading(path), path);
    return reader->file != nullptr;
}

void closeDictionaryReader(DictionaryReader *reader)
{
    if (reader->file != nullptr)
        fclose(reader->file);
    reader->file = nullptr;
}

void reportDictionaryLine(DictionaryReader *reader, const char *reason)
{
    reader->unreadable++;
    if (reader->objectFilter != 0 && reader->record != nullptr) {
        const CommandLine *line = reader->record;
        uint64_t value = 0;
        uint32_t i = 0;
        while (i < line->length && i < kNumberDigits && line->text[i] >= '0' && line->text[i] <= '9')
            value = value * 10 + (uint64_t)(line->text[i++] - '0');
        if (i == 0 || value == reader->objectFilter)
            reader->unreadableOfObject++;
    }
    ReportedDictionaryFile *reported = reader->reported;
    if (reported != nullptr) {
        if (reader->lineNumber <= reported->reportedUpTo)
            return;
        reported->reportedUpTo = reader->lineNumber;
    }
    fprintf(stderr, "  %s line %u: %s; line ignored\n",
            reader->path != nullptr ? reader->path : "dictionary file", reader->lineNumber, reason);
}

bool readDictionaryRecord(DictionaryReader *reader, CommandLine *line)
{
    FILE *file = reader->file;
    if (file == nullptr)
        return false;
    for (;;) {
        long startOffset = reader->offset;
        uint32_t startLine = reader->nextLine;
        long firstLineEnd = -1;  // offset just past the first newline read
        uint32_t n = 0;
        uint32_t newlines = 0;
        bool nul = false;
        bool inQuotes = false;
        bool fieldStart = true;
        bool justClosed = false;
        int c;
        while ((c = getc_unlocked(file)) != EOF) {
            if (n < kMaxLineLength)
                line->text[n] = (char)c;
            n++;
            if (c == '\0')
                nul = true;
            if (c == '\n') {
                newlines++;
                if (firstLineEnd < 0)
                    firstLineEnd = startOffset + (long)n;
            }
            if (inQuotes) {
                if (c == '"') {
                    inQuotes = false;
                    justClosed = true;
                } else if (n > kMaxLineLength) {
                    break;  // a quote left open: given up below
                }
                continue;
            }
            if (c == '"' && (fieldStart || justClosed)) {
                inQuotes = true;  // an opening quote, or the second of ""
                justClosed = false;
                fieldStart = false;
                continue;
            }
            justClosed = false;
            fieldStart = c == ',';
            if (c == '\n')
                break;
        }
        reader->offset = startOffset + (long)n;
        if (n == 0)
            return false;
        uint32_t kept = n < kMaxLineLength ? n : kMaxLineLength;
        line->text[kept] = '\0';
        line->length = kept;
        reader->record = line;
        reader->lineNumber = startLine;
        reader->nextLine = startLine + newlines;
        if (inQuotes) {
            reportDictionaryLine(reader, "a quote is left open");
            // Read again from the line after, so that the lines the open
            // quote took in are not lost with it.
            if (firstLineEnd >= 0 && fseek(file, firstLineEnd, SEEK_SET) == 0) {
                reader->offset = firstLineEnd;
                reader->nextLine = startLine + 1;
                continue;
            }
            if (c == EOF)
                return false;
            continue;
        }
        if (n > kMaxLineLength) {
            reportDictionaryLine(reader, "longer than 8191 bytes");
            continue;
        }
        if (nul) {
            reportDictionaryLine(reader, "holds a NUL byte");
            continue;
        }
        if (line->text[0] == '\n' || line->text[0] == '\r')
            continue;  // blank lines separate nothing
        line->start = 0;
        line->end = 0;
        line->length = kept;
        return true;
    }
}

bool readDictionaryLine(FILE *file, CommandLine *line, int bufferSize)
{
    if (bufferSize > kCommandTextSize)
        bufferSize = kCommandTextSize;
    if (bufferSize < 2)
        return false;
    for (;;) {
        // fgets writes a NUL into the last byte only when it filled the buffer.
        line->text[bufferSize - 1] = 'x';
        if (fgets(line->text, bufferSize, file) == nullptr)
            return false;
        bool filled = line->text[bufferSize - 1] == '\0' && line->text[bufferSize - 2] != '\n';
        if (filled) {
            // Far longer than any extent line: drop the rest of it too.
            int c;
            do
                c = getc(file);
            while (c != EOF && c != '\n');
            continue;
        }
        if (line->text[0] == '\0' || line->text[0] == '\n' || line->text[0] == '\r')
            continue;
        line->start = 0;
        line->end = 0;
        line->length = (uint32_t)strnlen(line->text, (size_t)bufferSize);
        return true;
    }
}

int parseORASYSUSER(UserEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    uint32_t length = (uint32_t)strnlen(line->text, sizeof line->text);
    if (length == sizeof line->text)
        return refuse("too long");
    while (length > 0 && isspace((unsigned char)line->text[length - 1]))
        line->text[--length] = '\0';
    line->length = length;
    if (length < kMinUserLineLength)
        return refuse("too short");
    if (length > kMaxLineLength)
        return refuse("too long");
    beginFields(line);
    int64_t number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->userNumber = (uint32_t)number;
    if (!requiredText(line, entry->name))
        return 1;
    return 0;
}

int parseORASYSOBJ(ObjectEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    if (!lengthAccepted(line))
        return 1;
    beginFields(line);
    int64_t number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->objectNumber = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->ownerNumber = (uint32_t)number;
    if (!requiredText(line, entry->name))
        return 1;
    if (!optionalText(line, entry->subname))
        return 1;
    if (!requiredNumber(line, &number))
        return 1;
    entry->type = (uint8_t)number;
    if (!optionalText(line, entry->oid))
        return 1;
    return 0;
}

int parseORASYSTAB(SegmentEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    if (!lengthAccepted(line))
        return 1;
    beginFields(line);
    entry->objectNumber = (uint32_t)optionalNumber(line);
    entry->dataObjectId = (uint32_t)optionalNumber(line);
    entry->tablespace = (uint16_t)optionalNumber(line);
    entry->headerFile = (uint16_t)optionalNumber(line);
    entry->headerBlock = (uint32_t)optionalNumber(line);
    entry->cluster = (uint8_t)optionalNumber(line);
    return 0;
}

int parseORASYSCOL(ColumnEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    if (!lengthAccepted(line))
        return 1;
    beginFields(line);
    int64_t number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->objectNumber = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->columnNumber = (uint16_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->segmentColumn = (uint16_t)number;
    if (!requiredText(line, entry->name))
        return 1;
    if (!requiredNumber(line, &number))
        return 1;
    entry->type = (uint16_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->length = (uint16_t)number;
    entry->precision = (uint16_t)optionalNumber(line);
    entry->scale = (int32_t)optionalNumber(line);
    entry->nullable = (int32_t)optionalNumber(line);
    entry->internalColumn = (uint16_t)optionalNumber(line);
    entry->property = (uint64_t)optionalNumber(line);
    entry->charsetId = (uint16_t)optionalNumber(line);
    entry->charsetForm = (uint32_t)optionalNumber(line);
    entry->typeKind = kTypeKindNone;
    entry->typeOwner[0] = '\0';
    entry->typeName[0] = '\0';
    return 0;
}

int parseORASYSCOLTYPE(ColumnTypeEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    if (!lengthAccepted(line))
        return 1;
    beginFields(line);
    int64_t number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->objectNumber = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->columnNumber = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->internalColumn = (uint32_t)number;
    if (!requiredText(line, entry->toid))
        return 1;
    if (!requiredNumber(line, &number))  // VERSION#
        return 1;
    if (!requiredNumber(line, &number))  // PACKED
        return 1;
    entry->synonymObject = (uint32_t)optionalNumber(line);
    return 0;
}

int parseORARECYCLEBIN(RecycleBinEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    if (!lengthAccepted(line))
        return 1;
    beginFields(line);
    int64_t number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->objectNumber = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->ownerNumber = (uint32_t)number;
    if (!requiredText(line, entry->originalName))
        return 1;
    entry->operation = (uint32_t)optionalNumber(line);
    entry->type = (uint32_t)optionalNumber(line);
    if (!optionalText(line, entry->dropTime) || !optionalText(line, entry->partition))
        return 1;
    return 0;
}

int parseORAEXTENT(ExtentEntry *entry, CommandLine *line)
{
    g_parseProblem = "";
    if (!lengthAccepted(line))
        return 1;
    if (line->length > kMaxExtentLineLength)
        return refuse("too long");
    beginFields(line);
    int64_t number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->dataObjectId = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->file = (uint16_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->firstBlock = (uint32_t)number;
    if (!requiredNumber(line, &number))
        return 1;
    entry->blockCount = (uint32_t)number;
    return 0;
}

namespace {
DictionaryRows g_selectedRows = kLiveRows;
}  // namespace

void selectDictionaryRows(DictionaryRows rows)
{
    g_selectedRows = rows;
}

const char *objectFilePath()
{
    return g_selectedRows == kDeletedRows ? kDeletedObjectFile : kObjectFile;
}

const char *segmentFilePath()
{
    return g_selectedRows == kDeletedRows ? kDeletedSegmentFile : kSegmentFile;
}

const char *columnFilePath()
{
    return g_selectedRows == kDeletedRows ? kDeletedColumnFile : kColumnFile;
}
