// Extent file lines.  The field scanner reports an empty field as absent;
// every field of an extent line is required.
#include "dictionary/extent_file.h"

#include <cstdlib>
#include <cstring>

// The field scanner of the command reader (shell/command_reader.cpp); named
// here rather than through the shell's header so that the dictionary does
// not depend on the shell.
int scanNextField(CommandLine *line);

namespace {

constexpr uint32_t kShortestLine = 5;
constexpr uint32_t kLongestLine = 128;
constexpr int kNumberDigits = 20;   // digits looked at in one numeric field

// The current field as a signed decimal; false when the field is absent.
bool nextNumberField(CommandLine *line, long long *value)
{
    if (scanNextField(line) <= 0)
        return false;
    char digits[kNumberDigits + 1];
    uint32_t length = line->end - line->start;
    if (length > static_cast<uint32_t>(kNumberDigits))
        length = kNumberDigits;
    memcpy(digits, line->text + line->start, length);
    digits[length] = '\0';
    *value = strtoll(digits, nullptr, 10);
    return true;
}

}  // namespace

void loadExtentLine(CommandLine *line, const char *text)
{
    size_t length = strnlen(text, sizeof line->text - 1);
    memcpy(line->text, text, length);
    line->text[length] = '\0';
    line->length = static_cast<uint32_t>(length);
    line->start = 0;
    line->end = 0;
}

int parseORAEXTENT(ExtentEntry *entry, CommandLine *line)
{
    if (line->length < kShortestLine || line->length > kLongestLine)
        return 1;
    line->start = 0;
    line->end = 0;
    long long objd, file, first, count;
    if (!nextNumberField(line, &objd) || !nextNumberField(line, &file) ||
        !nextNumberField(line, &first) || !nextNumberField(line, &count))
        return 1;
    entry->objd = static_cast<uint32_t>(objd);
    entry->file = static_cast<uint16_t>(file);
    entry->firstBlock = static_cast<uint32_t>(first);
    entry->blockCount = static_cast<uint32_t>(count);
    return 0;
}
