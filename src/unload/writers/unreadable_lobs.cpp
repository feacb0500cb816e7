// LOB values whose storage ZOR cannot read yet.  A SecureFile locator looks
// like a BasicFile one up to its LOB id, so read as one it would give bytes
// that may be wrong, or an empty value that claims an empty LOB: every
// writer writes a NULL instead and the value is named.
#include "lob/lob.h"
#include "unload/rows/rows.h"
#include "unload/writers/writers.h"

bool skipUnreadableLob(UnloadContext *ctx, const uint8_t *bytes, uint32_t length, uint32_t rowRdba,
                       uint32_t table, uint32_t slot, uint32_t position)
{
    if (!isSecureFileLocator(bytes, length))
        return false;
    noteLobNotRead(ctx, rowRdba, table, slot, position + 1);
    return true;
}
