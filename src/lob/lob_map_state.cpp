#include <cstring>

#include "lob/lob.h"

void clearLobPageMap(LobPageMap *map) {
    map->wholeMap = nullptr;
    for (FILE *&bucket : map->buckets) bucket = nullptr;
    map->pageCount = 0;
    for (LobPageLocation &page : map->pages) {
        page.file = 0xFFFF;
        page.block = 0xFFFFFFFF;
        page.version = 0;
    }
    map->filledPages = 0;
}
