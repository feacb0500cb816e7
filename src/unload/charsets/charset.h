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

// ---- UCS-2 text (ucs2.cpp) ----
// Byte order 1 reads the source big-endian, any other value little-endian.
// With no destination or a capacity of 0 or less, each returns the number of
// bytes the whole conversion needs; otherwise the number of bytes written.

// To GBK (code page 936): units below 128 as one byte, the rest by the GBK
// table, "??" for a unit GBK does not have.
int uni2gb(const uint8_t *source, int sourceLength, uint8_t *dest, int capacity, int byteOrder);
// To UTF-8; a unit of 0 ends the text, surrogates are encoded one by one.
int ucs2ToUtf8(const uint8_t *source, int sourceLength, uint8_t *dest, int capacity, int byteOrder);
// 1 when the bytes read as plausible UCS-2 text (printable ASCII, white
// space, CJK ideographs), else 0.
int is_valid_ucs2le_string(const uint8_t *bytes, int length);
int is_valid_ucs2be_string(const uint8_t *bytes, int length);

// The GBK table (gbk_table.cpp, generated): Unicode values in ascending
// order and the GBK code of each (high byte first in the value).
constexpr int kGbkPairCount = 21791;
extern const uint16_t kGbkUnicode[kGbkPairCount];
extern const uint16_t kGbkCode[kGbkPairCount];
