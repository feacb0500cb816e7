// Names typed in double quotes: a table or owner name that holds a blank, a
// dot or lower case ("Unit Price, EUR" is a legal Oracle name) is typed as
// Oracle's SQL takes it, "like this", with "" for a quote inside.  Words are
// otherwise separated by blanks, so a quoted word is taken over its blanks
// here, and the quotes come off before the name is looked up.
#include <cstring>

#include "shell/shell.h"

namespace {

enum NamePart { kPartCopied, kPartOpen, kPartTooLong };

// Copies one name part (quoted or not) from text[at, end) into out (size
// bytes); a quoted part must end exactly at its closing quote.
NamePart copyNamePart(const char *text, size_t at, size_t end, char *out, size_t size)
{
    size_t used = 0;
    bool tooLong = false;
    if (at < end && text[at] == '"') {
        size_t i = at + 1;
        bool closed = false;
        while (i < end) {
            char c = text[i];
            if (c == '"' && i + 1 < end && text[i + 1] == '"') {
                i += 2;
            } else if (c == '"') {
                closed = i + 1 == end;
                break;
            } else {
                i++;
            }
            if (used + 1 < size)
                out[used++] = c;
            else
                tooLong = true;
        }
        out[used] = '\0';
        if (!closed)
            return kPartOpen;
        return tooLong ? kPartTooLong : kPartCopied;
    }
    if (end - at >= size) {
        out[0] = '\0';
        return kPartTooLong;
    }
    memcpy(out, text + at, end - at);
    out[end - at] = '\0';
    return kPartCopied;
}

// The end of the name part that begins at `at`: past its closing quote, or
// at the first dot of an unquoted part.
size_t namePartEnd(const char *text, size_t at, size_t length)
{
    if (at < length && text[at] == '"') {
        size_t i = at + 1;
        while (i < length) {
            if (text[i] == '"' && i + 1 < length && text[i + 1] == '"') {
                i += 2;
                continue;
            }
            if (text[i] == '"')
                return i + 1;
            i++;
        }
        return length;
    }
    const char *dot = strchr(text + at, '.');
    return dot == nullptr ? length : static_cast<size_t>(dot - text);
}

}  // namespace

void takeQuotedWord(CommandLine *cmd)
{
    // The word ends at the first blank outside double quotes.
    bool inQuotes = false;
    uint32_t q = cmd->start;
    while (q < cmd->length && q < sizeof cmd->text && cmd->text[q] != '\0') {
        char c = cmd->text[q];
        if (!inQuotes && (c == ' ' || c == '\t' || c == '\n' || c == '\r'))
            break;
        if (c == '"')
            inQuotes = !inQuotes;
        q++;
    }
    cmd->end = q;
}

bool unquoteName(const char *word, char *out, size_t size)
{
    if (size == 0)
        return false;
    return copyNamePart(word, 0, strlen(word), out, size) == kPartCopied;
}

int splitQualifiedName(const char *argument, char *owner, char *name, size_t size)
{
    if (size == 0)
        return kNameMalformed;
    owner[0] = '\0';
    name[0] = '\0';
    size_t length = strlen(argument);
    size_t ownerEnd = namePartEnd(argument, 0, length);
    if (ownerEnd == 0 || ownerEnd + 1 >= length || argument[ownerEnd] != '.')
        return kNameMalformed;
    NamePart first = copyNamePart(argument, 0, ownerEnd, owner, size);
    NamePart second = copyNamePart(argument, ownerEnd + 1, length, name, size);
    if (first == kPartOpen || second == kPartOpen)
        return kNameMalformed;
    if (first == kPartTooLong || second == kPartTooLong)
        return kNameTooLong;
    return owner[0] != '\0' && name[0] != '\0' ? kNameSplit : kNameMalformed;
}
