// The text of one command (or one line of a dictionary or extent file) with
// the bounds of the word or field being looked at.
#pragma once

#include <cstdint>

constexpr int kCommandTextSize = 8192;
constexpr int kCommandLimit = 7168;   // a longer command is complete, whatever its last character
constexpr int kLineBufferSize = 1024; // one physical line: at most 1023 characters

struct CommandLine {
    uint32_t start;
    uint32_t end;
    uint32_t length;
    char text[kCommandTextSize];
};

// Word and field scanners, shared by the command handlers and by the readers
// of the dictionary and extent files.
int scanNextWord(CommandLine *cmd);
int compareKeyword(const CommandLine *cmd, const char *keyword);
int scanNextField(CommandLine *line);
// Copies the current word into buf (at most size - 1 characters), NUL-terminated.
int copyCurrentWord(const CommandLine *cmd, char *buf, int size);
