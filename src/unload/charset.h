// Oracle character-set names and ids.
#pragma once

#include <cstdint>
#include <cstdio>

struct OraCharset {
    const char *name;
    uint16_t id;
};

// The table of Oracle character sets, ended by an entry with id 0.
extern const OraCharset kOraCharsets[];
constexpr int kOraCharsetCount = 247;

// Id of the named character set (letter case ignored); otherwise the text read
// as a decimal number; 0 for an empty text or one that is neither.
uint16_t get_ora_charset_id(const char *text);
// LIST CHARSET: the whole table, four entries a line.
void get_ora_charset_list(FILE *out);
