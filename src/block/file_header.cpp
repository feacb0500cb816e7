// The datafile header: block 1 of every datafile (type 11).  CHECK reads it
// to identify a file; ORADUMP and the scans summarise it in one line.
#include <cstdlib>
#include <cstring>

#include "block/block.h"

// File header fields:
//   20   u32  software version
//   24   u32  compatible version                (ver)
//   28   u32  database id                       (DBID)
//   32   8    database name, NUL-padded, not terminated when 8 long (db)
//   40   u32  control sequence
//   44   u32  file size in blocks               (blks)
//   48   u32  block size                        (blksiz)
//   52   u16  absolute file number              (file#)
//   54   u16  file type
//   96   u32  bootstrap RDBA                    (bs)
//   138  u16  fuzzy status; its low byte holds the flags (fzy)
// Tablespace number, name length and name text, by the format byte:
//   0xA2, 0xC2   332 u32, 336 u16, 338 text
//   0x02         244 u32, 248 u16, 250 text
//   other        0 u32, 0 u16, 2 text (never a real header; CHECK does not
//                get there, a dump of a damaged block shows what is there)
namespace {
constexpr uint32_t kSoftwareVersion = 20;
constexpr uint32_t kCompatibleVersion = 24;
constexpr uint32_t kDbid = 28;
constexpr uint32_t kDatabaseName = 32;
constexpr uint32_t kDatabaseNameLength = 8;
constexpr uint32_t kControlSeq = 40;
constexpr uint32_t kBlockCount = 44;
constexpr uint32_t kDbBlockSize = 48;
constexpr uint32_t kFileNumber = 52;
constexpr uint32_t kFileType = 54;
constexpr uint32_t kBootstrapRdba = 96;
constexpr uint32_t kFuzzyStatus = 138;

constexpr uint8_t kFormat02 = 0x02;
constexpr uint8_t kFormatA2 = 0xA2;
constexpr uint8_t kFormatC2 = 0xC2;
constexpr uint32_t kTablespaceIdA2 = 332;
constexpr uint32_t kTablespaceIdV7 = 244;
constexpr uint32_t kNameLengthAfterId = 4;
constexpr uint32_t kNameTextAfterId = 6;
constexpr uint32_t kUnknownFormatId = 0;
constexpr uint32_t kUnknownFormatLength = 0;
constexpr uint32_t kUnknownFormatText = 2;
constexpr uint32_t kMaxTablespaceName = 30;

// Fuzzy flags of the status's low byte, in the order they are shown.
constexpr uint8_t kFuzzyAbsolute = 0x40;   // A
constexpr uint8_t kFuzzyRecovery = 0x10;   // R
constexpr uint8_t kFuzzyOnline = 0x04;     // O
constexpr uint8_t kFuzzyHot = 0x01;        // H

struct TablespaceFields {
    uint32_t id;
    uint32_t length;
    uint32_t text;
};

TablespaceFields tablespaceFields(const UnloadContext *ctx)
{
    uint8_t format = getBlockFormat(ctx);
    uint32_t id;
    if (format == kFormatA2 || format == kFormatC2)
        id = kTablespaceIdA2;
    else if (format == kFormat02)
        id = kTablespaceIdV7;
    else
        return TablespaceFields{kUnknownFormatId, kUnknownFormatLength, kUnknownFormatText};
    return TablespaceFields{id, id + kNameLengthAfterId, id + kNameTextAfterId};
}
}  // namespace

uint32_t getSoftwareVersion(const UnloadContext *ctx) { return blockU32(ctx, kSoftwareVersion); }
uint32_t getCompatibleVersion(const UnloadContext *ctx) { return blockU32(ctx, kCompatibleVersion); }
uint32_t getDBID(const UnloadContext *ctx) { return blockU32(ctx, kDbid); }
uint32_t getControlSeq(const UnloadContext *ctx) { return blockU32(ctx, kControlSeq); }
uint32_t getBlockCount(const UnloadContext *ctx) { return blockU32(ctx, kBlockCount); }
uint32_t getDBBlockSize(const UnloadContext *ctx) { return blockU32(ctx, kDbBlockSize); }
uint16_t getFileNumber(const UnloadContext *ctx) { return blockU16(ctx, kFileNumber); }
uint16_t getFileType(const UnloadContext *ctx) { return blockU16(ctx, kFileType); }
uint32_t getBootstrapRDBA(const UnloadContext *ctx) { return blockU32(ctx, kBootstrapRdba); }
uint16_t getFuzzyStatus(const UnloadContext *ctx) { return blockU16(ctx, kFuzzyStatus); }

char *getDatabaseName(const UnloadContext *ctx)
{
    char *name = static_cast<char *>(calloc(kDatabaseNameLength + 1, 1));
    if (name == nullptr)
        return nullptr;
    const uint8_t *bytes = blockBytes(ctx, kDatabaseName, kDatabaseNameLength);
    if (bytes != nullptr)
        memcpy(name, bytes, kDatabaseNameLength);
    return name;
}

uint32_t getTablespaceID(const UnloadContext *ctx) { return blockU32(ctx, tablespaceFields(ctx).id); }

char *getTablespaceName(const UnloadContext *ctx)
{
    TablespaceFields fields = tablespaceFields(ctx);
    uint32_t length = blockU16(ctx, fields.length);
    if (length == 0 || length > kMaxTablespaceName)
        return nullptr;
    const uint8_t *text = blockBytes(ctx, fields.text, length);
    if (text == nullptr)
        return nullptr;
    char *name = static_cast<char *>(malloc(length + 1));
    if (name == nullptr)
        return nullptr;
    memcpy(name, text, length);
    name[length] = '\0';
    return name;
}

void printFileHeader(FILE *stream, const UnloadContext *ctx)
{
    char *db = getDatabaseName(ctx);
    char *ts = getTablespaceName(ctx);
    // Reading the whole status in the block order and keeping its low byte
    // takes byte 138 or 139 as the platform stored it.
    uint8_t fuzzy = static_cast<uint8_t>(getFuzzyStatus(ctx) & 0xFF);
    fprintf(stream,
            "DBID=0x%08x=%u,db=%s,ts#=%u,ts=%s,file#=%u,blksiz=%u,blks=%u,ver=0x%08x,fzy=%c%c%c%c, bs=%u\n",
            getDBID(ctx), getDBID(ctx), db != nullptr ? db : "", getTablespaceID(ctx),
            ts != nullptr ? ts : "(null)", getFileNumber(ctx), getDBBlockSize(ctx), getBlockCount(ctx),
            getCompatibleVersion(ctx), (fuzzy & kFuzzyAbsolute) ? 'A' : '-', (fuzzy & kFuzzyRecovery) ? 'R' : '-',
            (fuzzy & kFuzzyOnline) ? 'O' : '-', (fuzzy & kFuzzyHot) ? 'H' : '-', getBootstrapRDBA(ctx));
    free(ts);
    free(db);
}
