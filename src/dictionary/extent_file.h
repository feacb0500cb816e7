// Extent file lines: one run of data blocks of one object in one file, as
// SCAN EXTENT writes them to ZORDICT/ZOREXT.TXT ("objd,file,first,count"
// ended by CR LF), read back by UNLOAD and SCAN TABLE.
#pragma once

#include <cstdint>

#include "shell/command_line.h"

struct ExtentEntry {
    uint32_t objd;
    uint16_t file;
    uint32_t firstBlock;
    uint32_t blockCount;
};

// Parses the line held in `line` (its length counts the line end).  Returns
// 0 and fills the entry when all four fields are present; 1 for a line to
// ignore (shorter than 5 or longer than 128 characters, or a field missing).
int parseORAEXTENT(ExtentEntry *entry, CommandLine *line);

// Loads one text line (as read by fgets) into a line record for the field
// scanner: text copied with a bound, length set, cursor at the start.
void loadExtentLine(CommandLine *line, const char *text);
