// The word and field scanners over one command or dictionary line.
#include <cctype>
#include <cstring>
#include <strings.h>

#include "core/command_line.h"

namespace {

bool isBlank(char c)
{
    return isspace((unsigned char)c) != 0;
}

}  // namespace

int scanNextWord(CommandLine *cmd)
{
    uint32_t p = cmd->end;
    while (p < cmd->length && cmd->text[p] != '\0' && isBlank(cmd->text[p]))
        p++;
    cmd->start = p;
    uint32_t q = p;
    while (q < cmd->length && cmd->text[q] != '\0' && !isBlank(cmd->text[q]))
        q++;
    cmd->end = q;
    return (int)(q - p);
}

int compareKeyword(const CommandLine *cmd, const char *keyword)
{
    size_t len = cmd->end - cmd->start;
    if (len != strlen(keyword))
        return 1;
    return strncasecmp(cmd->text + cmd->start, keyword, len);
}

int copyCurrentWord(const CommandLine *cmd, char *buf, int size)
{
    int len = (int)(cmd->end - cmd->start);
    if (size <= 0)
        return 0;
    if (len > size - 1)
        len = size - 1;
    if (len < 0)
        len = 0;
    memcpy(buf, cmd->text + cmd->start, (size_t)len);
    buf[len] = '\0';
    return len;
}

int scanNextField(CommandLine *line)
{
    uint32_t p = line->end;
    line->start = p;
    if (p >= sizeof line->text || line->text[p] == '\0')
        return 0;
    if (p != 0)
        p++;
    line->start = p;
    line->end = p;
    if (p >= sizeof line->text || line->text[p] == '\0')
        return 0;
    if (p >= line->length || line->text[p] == ',')
        return 0;
    uint32_t q = p;
    while (q < line->length && q < sizeof line->text && line->text[q] != ',' && line->text[q] != '\0')
        q++;
    line->end = q;
    return (int)(q - p);
}
