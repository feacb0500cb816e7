// The dictionary-file line parsers on arbitrary lines: every parser on every
// record the dictionary record reader returns from the input (quoted fields
// over several lines, open quotes read again from the next line, overlong
// and NUL-holding lines named), on every line the extent-line reader returns
// (with each buffer size its callers use), and on the raw input placed in a
// line record with a stale length and no terminator of its own.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dictionary/dictionary.h"
#include "fuzz_context.h"

namespace {

void parseEveryWay(const CommandLine *line)
{
    static CommandLine copy;
    UserEntry user;
    ObjectEntry object;
    SegmentEntry segment;
    ColumnEntry column;
    ColumnTypeEntry columnType;
    ExtentEntry extent;
    RecycleBinEntry recycled;
    copy = *line;
    parseORASYSUSER(&user, &copy);
    copy = *line;
    parseORASYSOBJ(&object, &copy);
    copy = *line;
    parseORASYSTAB(&segment, &copy);
    copy = *line;
    memset(&column, 0, sizeof column);
    parseORASYSCOL(&column, &copy);
    copy = *line;
    parseORASYSCOLTYPE(&columnType, &copy);
    copy = *line;
    parseORAEXTENT(&extent, &copy);
    copy = *line;
    parseORARECYCLEBIN(&recycled, &copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static CommandLine line;
    if (size == 0)
        return 0;

    // Records as the dictionary lookups get them: each one shorter than the
    // record buffer, NUL-terminated at its length, starting on a later line
    // than the one before.
    {
        FILE *file = fmemopen((void *)data, size, "r");
        if (file == nullptr)
            return 0;
        DictionaryReader reader;
        beginDictionaryReader(&reader, file, nullptr);
        reader.objectFilter = 7;
        memset(&line, 0xA5, sizeof line);
        uint32_t previous = 0;
        int records = 0;
        while (records++ < 256 && readDictionaryRecord(&reader, &line)) {
            fuzzCheck(line.length < sizeof line.text && line.text[line.length] == '\0');
            fuzzCheck(reader.lineNumber > previous);
            previous = reader.lineNumber;
            parseEveryWay(&line);
        }
        fuzzCheck(reader.unreadableOfObject <= reader.unreadable);
        closeDictionaryReader(&reader);
    }

    // Lines as the extent readers get them from a file.
    static const int kBufferSizes[] = {kDictLineBuffer, kDescLineBuffer, 2, 7};
    for (int bufferSize : kBufferSizes) {
        FILE *file = fmemopen((void *)data, size, "r");
        if (file == nullptr)
            return 0;
        memset(&line, 0xA5, sizeof line);
        int lines = 0;
        while (lines++ < 64 && readDictionaryLine(file, &line, bufferSize)) {
            fuzzCheck(line.length < (uint32_t)bufferSize);
            parseEveryWay(&line);
        }
        fclose(file);
    }

    // The raw bytes as one line; the first byte picks the stale length.
    memset(&line, 'x', sizeof line);
    size_t take = size - 1 < sizeof line.text ? size - 1 : sizeof line.text;
    memcpy(line.text, data + 1, take);
    line.length = (uint32_t)data[0] * 37;
    line.start = data[0];
    line.end = data[0] / 2;
    parseEveryWay(&line);
    return 0;
}
