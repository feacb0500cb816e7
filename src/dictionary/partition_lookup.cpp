// The partitions and subpartitions of a partitioned table, for an unload of
// the whole table.  The dictionary files keep no partition position, so the
// order is that of OBJ$ (ZOROBJ.TXT), in which Oracle numbers partitions as
// they are created.
#include <cstring>
#include <strings.h>

#include "dictionary/dictionary.h"

int getORASYSPartitions(uint32_t ownerNumber, const char *name, uint32_t *objects, int capacity)
{
    DictionaryReader reader;
    beginDictionaryReader(&reader, fopen(objectFilePath(), "r"), objectFilePath());
    if (reader.file == nullptr)
        return 0;
    CommandLine line;
    ObjectEntry found;
    int count = 0;
    while (count < capacity && readDictionaryRecord(&reader, &line)) {
        memset(&found, 0, sizeof found);
        if (parseORASYSOBJ(&found, &line) != 0) {
            reportDictionaryLine(&reader, dictionaryParseProblem());
            continue;
        }
        if (found.ownerNumber != ownerNumber)
            continue;
        if (found.type != kObjTablePartition && found.type != kObjTableSubpartition)
            continue;
        if (strcasecmp(found.name, name) == 0 && found.subname[0] != '\0')
            objects[count++] = found.objectNumber;
    }
    closeDictionaryReader(&reader);
    return count;
}
