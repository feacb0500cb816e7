// The sorted RDBA lists behind CORRUPT and SKIP: ascending unsigned order, no
// duplicates, at most kRdbaListMax entries.
#include <cstdlib>

#include "datafile/datafile.h"

int findRDBAArray(const uint32_t *entries, uint32_t count, uint32_t value)
{
    uint32_t lo = 0;
    uint32_t hi = count;   // search [lo, hi)
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (entries[mid] == value)
            return 1;
        if (entries[mid] < value)
            lo = mid + 1;
        else
            hi = mid;
    }
    return 0;
}

int sortRDBAList(const void *a, const void *b)
{
    uint32_t x = *static_cast<const uint32_t *>(a);
    uint32_t y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : 1;
}

int addRDBAToList(RdbaList *list, uint32_t value)
{
    if (list->count >= kRdbaListMax)
        return 0;
    if (findRDBAArray(list->rdba, list->count, value))
        return 0;
    list->rdba[list->count++] = value;
    // Sorted after every addition, not once after a whole LOAD file: the
    // duplicate test is a binary search and needs a sorted list each time.
    qsort(list->rdba, list->count, sizeof list->rdba[0], sortRDBAList);
    return 1;
}
