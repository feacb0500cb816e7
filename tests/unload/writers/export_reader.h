// A small reader of the classic export file format, for the tests and the
// damage campaign: it holds ZOR's dump writer (and itself) against the
// files Oracle's own exp wrote.  Header only, so that tools can share it.
//
//   0x03, export character set (u16 BE), "EXPORT:Vxx.xx.xx\n", mode letter
//   and user name, then header text and the NLS block (not interpreted);
//   per table with rows:
//     "TABLE \"name\"\n", "CREATE TABLE ...\n", [other lines], "INSERT INTO ...\n"
//     column count (u16 LE), descriptors: type, length [, charset id, form, 0
//     for character types]; with LOB columns a column list, else 4 bytes;
//     then rows: per column a value (u16 length + bytes), FE FF
//     (NULL) or FD FF + chunks + 00 00 (LONG); 00 00 ends a row;
//     FF FF ends the data
//   "EXIT\nEXIT\n", then zero padding.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace exportfile {

struct Column {
    uint16_t type = 0;
    uint16_t length = 0;
    uint16_t charsetId = 0;
    uint8_t charsetForm = 0;
};

struct Value {
    bool isNull = true;
    bool isLong = false;
    std::string bytes;   // a LONG's chunks joined
};

struct Table {
    std::string name;
    std::string createText;
    std::string insertText;
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
};

struct File {
    uint16_t charset = 0;
    std::string version;
    std::string user;        // the line after the version, without its mode letter
    std::vector<Table> tables;
    bool endsWithExit = false;
    std::string error;       // empty when the whole file parsed
};

struct Cursor {
    const std::vector<uint8_t> *bytes;
    size_t at;
};

inline bool readU16LE(Cursor *c, uint16_t *out)
{
    if (c->at + 2 > c->bytes->size())
        return false;
    *out = static_cast<uint16_t>((*c->bytes)[c->at] | ((*c->bytes)[c->at + 1] << 8));
    c->at += 2;
    return true;
}

inline bool readLine(Cursor *c, std::string *line)
{
    const std::vector<uint8_t> &b = *c->bytes;
    size_t end = c->at;
    while (end < b.size() && b[end] != '\n')
        end++;
    if (end >= b.size())
        return false;
    line->assign(reinterpret_cast<const char *>(b.data() + c->at), end - c->at);
    c->at = end + 1;
    return true;
}

inline bool startsWith(const std::string &s, const char *prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The descriptor of one column (its type decides the bytes that follow).
inline bool readColumn(Cursor *c, Column *column)
{
    if (!readU16LE(c, &column->type) || !readU16LE(c, &column->length))
        return false;
    if (column->type == 1 || column->type == 9 || column->type == 96) {
        uint16_t formWord;
        if (!readU16LE(c, &column->charsetId) || !readU16LE(c, &formWord))
            return false;
        column->charsetForm = static_cast<uint8_t>(formWord & 0xFF);
    }
    return true;
}

// One element list of a LONG (after its FD FF): chunks until 00 00.
inline bool readChunks(Cursor *c, Value *value)
{
    value->isNull = false;
    value->isLong = true;
    for (;;) {
        uint16_t length;
        if (!readU16LE(c, &length))
            return false;
        if (length == 0)
            return true;
        if (length >= 0xFFFD || c->at + length > c->bytes->size())
            return false;
        value->bytes.append(reinterpret_cast<const char *>(c->bytes->data() + c->at), length);
        c->at += length;
    }
}

inline bool readValue(Cursor *c, uint16_t length, Value *value)
{
    if (length == 0xFFFE)
        return true;
    if (length == 0xFFFD)
        return readChunks(c, value);
    if (length == 0 || length == 0xFFFF || c->at + length > c->bytes->size())
        return false;
    value->isNull = false;
    value->bytes.assign(reinterpret_cast<const char *>(c->bytes->data() + c->at), length);
    c->at += length;
    return true;
}

// Rows until FF FF.  Each row has exactly one element per column, then 00 00.
inline bool readRows(Cursor *c, Table *table, std::string *error)
{
    for (;;) {
        uint16_t first;
        if (!readU16LE(c, &first)) {
            *error = "end of file inside the rows of " + table->name;
            return false;
        }
        if (first == 0xFFFF)
            return true;
        std::vector<Value> row(table->columns.size());
        uint16_t length = first;
        for (size_t i = 0; i < row.size(); i++) {
            if (i > 0 && !readU16LE(c, &length)) {
                *error = "end of file inside a row of " + table->name;
                return false;
            }
            if (!readValue(c, length, &row[i])) {
                char at[64];
                snprintf(at, sizeof at, " at byte %zu (row %zu, column %zu)", c->at, table->rows.size(), i);
                *error = "bad value in " + table->name + at;
                return false;
            }
        }
        uint16_t end;
        if (!readU16LE(c, &end) || end != 0) {
            char at[64];
            snprintf(at, sizeof at, " at byte %zu (row %zu)", c->at, table->rows.size());
            *error = "row of " + table->name + " not ended" + at;
            return false;
        }
        table->rows.push_back(row);
    }
}

// Oracle's own files declare LOB columns as 112/113 and follow the
// descriptors with a list of every column (the LOB columns named): a count,
// two bytes, then per column a one-byte name length (0 for a column that
// is not a LOB), the name and two bytes.  The rows follow the list.
inline bool skipLobNameList(Cursor *c, const Table &table, bool *skipped)
{
    *skipped = false;
    bool hasLob = false;
    for (const Column &column : table.columns)
        hasLob = hasLob || column.type == 112 || column.type == 113;
    if (!hasLob)
        return true;
    uint16_t count;
    uint16_t unused;
    if (!readU16LE(c, &count) || count != table.columns.size() || !readU16LE(c, &unused))
        return false;
    for (uint16_t i = 0; i < count; i++) {
        if (c->at >= c->bytes->size())
            return false;
        c->at += 1 + (*c->bytes)[c->at];
        if (!readU16LE(c, &unused))
            return false;
    }
    *skipped = true;
    return true;
}

// A table starting at "TABLE \"" (the cursor just past it).  False with no
// error when the statements that follow are not a table with rows.
inline bool readTable(Cursor *c, Table *table, std::string *error)
{
    std::string line;
    if (!readLine(c, &line) || line.size() < 1 || line.back() != '"')
        return false;
    table->name = line.substr(0, line.size() - 1);
    if (!readLine(c, &line) || !startsWith(line, "CREATE TABLE "))
        return false;
    table->createText = line;
    for (int lines = 0; lines < 64; lines++) {
        if (!readLine(c, &line) || startsWith(line, "TABLE ") || startsWith(line, "EXIT"))
            return false;
        if (startsWith(line, "INSERT INTO ")) {
            table->insertText = line;
            break;
        }
    }
    if (table->insertText.empty())
        return false;
    uint16_t count;
    if (!readU16LE(c, &count)) {
        *error = "no column count for " + table->name;
        return false;
    }
    table->columns.resize(count);
    for (Column &column : table->columns) {
        if (!readColumn(c, &column)) {
            *error = "cut column descriptors of " + table->name;
            return false;
        }
    }
    bool afterNames = false;
    if (!skipLobNameList(c, *table, &afterNames) || (!afterNames && c->at + 4 > c->bytes->size())) {
        *error = "no data section for " + table->name;
        return false;
    }
    if (!afterNames)
        c->at += 4;
    return readRows(c, table, error);
}

inline size_t findTableStatement(const std::vector<uint8_t> &b, size_t from)
{
    static const char kTable[] = "\nTABLE \"";
    for (size_t i = from; i + sizeof kTable - 1 <= b.size(); i++) {
        if (b[i] == '\n' && std::equal(kTable, kTable + sizeof kTable - 1, b.begin() + static_cast<long>(i)))
            return i + 1;
    }
    return b.size();
}

inline bool readFile(const std::vector<uint8_t> &bytes, File *file)
{
    *file = File();
    if (bytes.size() < 11 || bytes[0] != 0x03 || std::string(bytes.begin() + 3, bytes.begin() + 11) != "EXPORT:V") {
        file->error = "not an export file";
        return false;
    }
    file->charset = static_cast<uint16_t>((bytes[1] << 8) | bytes[2]);
    Cursor c = {&bytes, 3};
    std::string line;
    if (!readLine(&c, &line) || !readLine(&c, &file->user) || file->user.empty()) {
        file->error = "cut header";
        return false;
    }
    file->version = line.substr(8);
    file->user.erase(0, 1);
    size_t scanned = c.at;
    for (;;) {
        size_t at = findTableStatement(bytes, scanned > 0 ? scanned - 1 : 0);
        if (at >= bytes.size())
            break;
        Cursor t = {&bytes, at + 7};
        Table table;
        std::string error;
        if (readTable(&t, &table, &error)) {
            file->tables.push_back(table);
            scanned = t.at;
        } else if (!error.empty()) {
            file->error = error;
            return false;
        } else {
            scanned = at + 6;
        }
    }
    // "EXIT\nEXIT\n", then nothing but zeros.
    size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0)
        end--;
    static const char kExit[] = "EXIT\nEXIT\n";
    file->endsWithExit = end >= 10 && std::string(bytes.begin() + static_cast<long>(end - 10),
                                                  bytes.begin() + static_cast<long>(end)) == kExit;
    return true;
}

inline bool readFile(const char *path, File *file)
{
    FILE *in = fopen(path, "rb");
    if (in == nullptr) {
        *file = File();
        file->error = std::string("cannot open ") + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(in);
    return readFile(bytes, file);
}

}  // namespace exportfile
