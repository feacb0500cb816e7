// Column values for the rows tests hand to the forge.
#pragma once

#include <string>

#include "forge/forge.h"

inline forge::ColumnValue numberValue(long long n)
{
    forge::ColumnValue v;
    v.isNull = false;
    v.bytes = forge::encodeNumber(n);
    return v;
}

inline forge::ColumnValue textValue(const std::string &s)
{
    forge::ColumnValue v;
    v.isNull = false;
    v.bytes.assign(s.begin(), s.end());
    return v;
}

inline forge::ColumnValue nullValue()
{
    forge::ColumnValue v;
    v.isNull = true;
    return v;
}
