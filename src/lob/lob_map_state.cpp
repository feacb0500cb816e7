#include <cstring>

#include "lob/lob.h"

void clearLobPageMap(LobPageMap *map) {
    map->wholeMap = nullptr;
    for (FILE *&bucket : map->buckets) bucket = nullptr;
    map->pageCount = 0;
}
