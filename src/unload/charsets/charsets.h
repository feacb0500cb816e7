// Character sets: Oracle's character-set names and ids, UCS-2 and the GBK table.
//
// What this folder offers (charset.h): the table of Oracle character sets
// and the lookups of LIST CHARSET and the settings; UCS-2 text converted to
// UTF-8 (ucs2.cpp); the GBK to Unicode table behind LOB_CONVERT GBK
// (gbk_table.cpp, generated).  Nothing here reads a block.
#pragma once

#include "unload/charsets/charset.h"
