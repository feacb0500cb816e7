// Column values for the rows tests hand to the forge, the sealed data and
// index blocks it lays out from them, and the records ZOR must write for the
// rows it stored.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "forge/forge_undo_index.h"

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

inline forge::Block forgedDataBlock(const forge::DataBlockLayout &layout, uint8_t order, uint32_t size = 8192)
{
    forge::Block block;
    EXPECT_TRUE(forge::initBlock(&block, size, static_cast<forge::ByteOrder>(order)));
    char error[256] = "";
    EXPECT_TRUE(forge::putDataBlock(&block, &layout, error, sizeof error)) << error;
    forge::sealBlock(&block);
    return block;
}

inline forge::Block forgedIndexBlock(const forge::IndexBlockLayout &layout, uint8_t order,
                                     uint32_t size = 8192)
{
    forge::Block block;
    EXPECT_TRUE(forge::initBlock(&block, size, static_cast<forge::ByteOrder>(order)));
    char error[256] = "";
    EXPECT_TRUE(forge::putIndexBlock(&block, &layout, error, sizeof error)) << error;
    forge::sealBlock(&block);
    return block;
}

// The records ZOR writes for the first `limit` live rows of a forged table.
inline std::string liveRecords(const forge::ManifestTable &table, const char *fieldTag, const char *recordTag,
                               size_t limit = SIZE_MAX)
{
    std::string text;
    size_t written = 0;
    for (const forge::ManifestRow &row : table.rows) {
        if (row.deleted || written >= limit)
            continue;
        text += forge::manifestRecord(&row, fieldTag, recordTag);
        written++;
    }
    return text;
}
