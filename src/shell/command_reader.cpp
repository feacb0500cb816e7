// Assembling commands from lines (the word and field scanners are in
// core/command_line.cpp).
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "shell/shell.h"

namespace {

bool isBlank(char c) { return isspace((unsigned char)c) != 0; }

void resetPosition(CommandLine *cmd, uint32_t length) {
    cmd->start = 0;
    cmd->end = 0;
    cmd->length = length;
}

void clearCommand(CommandLine *cmd) {
    cmd->text[0] = '\0';
    resetPosition(cmd, 0);
}

// Appends the line (bounded so the text always stays NUL-terminated).
void appendLine(CommandLine *cmd, int lineNumber, const char *line) {
    size_t len = strlen(cmd->text);
    if (lineNumber >= 2 && len + 1 < sizeof cmd->text) {
        cmd->text[len++] = ' ';
        cmd->text[len] = '\0';
    }
    size_t room = sizeof cmd->text - 1 - len;
    size_t add = strnlen(line, room);
    memcpy(cmd->text + len, line, add);
    cmd->text[len + add] = '\0';
}

size_t trimTrailingBlanks(CommandLine *cmd) {
    size_t len = strlen(cmd->text);
    while (len > 0 && isBlank(cmd->text[len - 1])) cmd->text[--len] = '\0';
    return len;
}

// Length and position of the first word of the text.
size_t firstWord(const CommandLine *cmd, const char **word) {
    const char *p = cmd->text;
    while (*p != '\0' && isBlank(*p)) p++;
    const char *q = p;
    while (*q != '\0' && !isBlank(*q)) q++;
    *word = p;
    return (size_t)(q - p);
}

bool firstWordIs(const CommandLine *cmd, const char *keyword) {
    const char *word;
    size_t len = firstWord(cmd, &word);
    return len == strlen(keyword) && strncasecmp(word, keyword, len) == 0;
}

enum LineOutcome { kLineEmpty, kCommandDone, kCommandExit, kCommandContinues };

// Steps shared by both readers once a line has been appended.
LineOutcome finishLine(CommandLine *cmd) {
    size_t len = trimTrailingBlanks(cmd);
    if (len == 0) {
        clearCommand(cmd);
        return kLineEmpty;
    }
    if (cmd->text[len - 1] == ';') {
        cmd->text[--len] = '\0';
        resetPosition(cmd, (uint32_t)len);
        return kCommandDone;
    }
    if (cmd->text[len - 1] == '.') {
        clearCommand(cmd);
        return kCommandDone;
    }
    resetPosition(cmd, (uint32_t)len);
    if (len > (size_t)kCommandLimit) return kCommandDone;
    if (firstWordIs(cmd, "EXIT")) return kCommandExit;
    if (firstWordIs(cmd, "UNLOAD")) return kCommandContinues;
    return kCommandDone;
}

void printPrompt(int lineNumber, CommandLine *cmd) {
    if (lineNumber == 1) {
        memset(cmd->text, 0, sizeof cmd->text);
        fputs("ZOR> ", stdout);
    } else {
        printf("%4d ", lineNumber);
    }
}

// One line typed at the terminal, false at the end of input.  A person at a
// terminal gets the line editor; pipes and files are read as they come.
bool readTerminalLine(FILE *in, int lineNumber, CommandLine *cmd, char *line, int size) {
    if (lineEditingWanted(in)) {
        if (lineNumber == 1) memset(cmd->text, 0, sizeof cmd->text);
        char prompt[16];
        if (lineNumber == 1) snprintf(prompt, sizeof prompt, "ZOR> ");
        else snprintf(prompt, sizeof prompt, "%4d ", lineNumber);
        return readEditedLine(prompt, line, size);
    }
    printPrompt(lineNumber, cmd);
    fflush(stdout);
    memset(line, 0, (size_t)size);
    return fgets(line, size, in) != nullptr;
}

// End of a script: the text gathered so far is the last command.
int completeAtEndOfScript(CommandLine *cmd) {
    putchar('\n');
    resetPosition(cmd, 0);
    if (cmd->text[0] == '\0') return 0;
    size_t len = trimTrailingBlanks(cmd);
    if (len > 0 && cmd->text[len - 1] == ';') cmd->text[--len] = '\0';
    else if (len > 0 && cmd->text[len - 1] == '.') len = 0;
    cmd->length = (uint32_t)len;
    if (len == 0) cmd->text[0] = '\0';
    return firstWordIs(cmd, "EXIT") ? -1 : 0;
}

}  // namespace

int getZORCommand(FILE *in, CommandLine *cmd) {
    char line[kLineBufferSize];
    int n = 1;
    for (;;) {
        if (!readTerminalLine(in, n, cmd, line, (int)sizeof line)) {
            // The input has ended for good: nothing more can be typed, so leave as EXIT does.
            putchar('\n');
            clearCommand(cmd);
            return -1;
        }
        appendLine(cmd, n, line);
        switch (finishLine(cmd)) {
        case kLineEmpty: return 0;
        case kCommandDone: return 0;
        case kCommandExit: return -1;
        case kCommandContinues: n++; break;
        }
    }
}

int readZORCommand(FILE *script, CommandLine *cmd) {
    char line[kLineBufferSize];
    int n = 1;
    for (;;) {
        printPrompt(n, cmd);
        memset(line, 0, sizeof line);
        if (fgets(line, sizeof line, script) == nullptr) return completeAtEndOfScript(cmd);
        fputs(line, stdout);
        appendLine(cmd, n, line);
        switch (finishLine(cmd)) {
        case kLineEmpty: break;  // the script reader reads on by itself
        case kCommandDone: return 0;
        case kCommandExit: return -1;
        case kCommandContinues: n++; break;
        }
    }
}

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

char escapedCharacter(char c) {
    switch (c) {
    case 'l': return '|';
    case 'n': return '\n';
    case 'r': return '\r';
    case 's': return ' ';
    case 't': return '\t';
    default: return c;  // includes the backslash itself
    }
}

}  // namespace

// Output never runs ahead of input, so source and dest may be the same buffer.
int convertOption(const char *source, char *dest, int limit) {
    int end = (int)strlen(source);
    if (limit < end) end = limit;
    int in = 0;
    int out = 0;
    while (in < end) {
        char c = source[in];
        if (c != '\\') {
            dest[out++] = c;
            in += 1;
        } else if (in + 1 >= end) {
            in += 1;  // a lone trailing backslash yields nothing
        } else if (source[in + 1] == 'x' || source[in + 1] == 'X') {
            if (in + 3 < end) {
                dest[out++] = (char)(hexDigitValue(source[in + 2]) * 16 + hexDigitValue(source[in + 3]));
                in += 4;
            } else if (in + 2 < end) {
                dest[out++] = source[in + 2];
                in += 3;
            } else {
                dest[out++] = source[in + 1];
                in += 2;
            }
        } else {
            dest[out++] = escapedCharacter(source[in + 1]);
            in += 2;
        }
    }
    dest[out] = '\0';
    return out;
}
