// The text of one command (or one line of a dictionary or extent file) with
// the bounds of the word or field being looked at.
#pragma once

#include <cstdint>

constexpr int kLineBufferSize = 1024; // one physical line: at most 1023 characters
// Room for an UNLOAD OBJECT whose COLUMN list names all 4096 columns with
// the longest type words (SAMPLE's proposals, ten to a line).
constexpr int kCommandTextSize = 65536;
// A longer command is complete, whatever its last character: one more line
// and its joining blank still fit the text.
constexpr int kCommandLimit = kCommandTextSize - kLineBufferSize;

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
