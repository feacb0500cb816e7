// SCAN TABLE: finds the tables of the datafiles without a dictionary and
// proposes an UNLOAD OBJECT command for each, with column types guessed from
// its rows.  Candidate blocks come from the extent file when there is one
// (then every run of an object is sampled and its size reported), else from
// a walk over every block of every file (then only the first block found).
#include "scan/scan.h"

#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "view/view.h"
#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "unload/rows/rows.h"
// SAMPLE and SCAN TABLE decode rows through the unload's own traversal with
// the guess mode on, so that a guess sees exactly the rows an UNLOAD would
// write: the one place where scan/ calls up into unload/writers/.
#include "unload/writers/writers.h"

namespace {

constexpr uint8_t kBlockTypeData = 6;
constexpr uint8_t kDataTypeTable = 1;
constexpr uint8_t kDataTypeIndex = 2;
constexpr uint8_t kIndexOrganized = 0x10;   // kdxcoopc bit of an index-organized table
constexpr uint8_t kGuessModeScan = 1;
constexpr uint64_t kSampleRows = 8192;
constexpr uint32_t kMaxObjects = 1684;
constexpr uint32_t kProcessedCapacity = 16384;
constexpr uint32_t kFirstScannedBlock = 2;
constexpr int kExtentLineSize = 1024;   // lines of up to 1023 characters

struct TableScan {
    FILE *stream;
    UnloadContext *copy;        // private context: guess mode 1, its own block
    bool byExtentFile;
    uint32_t processed[kProcessedCapacity];   // sorted data object ids
    uint32_t processedCount;
    CommandLine *line;          // the second pass over the extent file
};

// The end of a run of the extent file, kept within the file it names: the
// file is text anyone can edit, and a run of billions of blocks would only
// repeat failing reads.
uint64_t runEnd(UnloadContext *ctx, const ExtentEntry *run)
{
    uint64_t end = static_cast<uint64_t>(run->firstBlock) + run->blockCount;
    int pos = getFileIndex(ctx->datafiles, run->file);
    if (ctx->bigfile || pos < 0 || ctx->datafiles->blocks[pos] == 0)
        return end;
    uint64_t last = static_cast<uint64_t>(ctx->datafiles->blocks[pos]) + 1;
    return end < last ? end : last;
}

bool isProcessed(const TableScan *scan, uint32_t objd)
{
    return findRDBAArray(scan->processed, scan->processedCount, objd) != 0;
}

void addProcessed(TableScan *scan, uint32_t objd)
{
    if (scan->processedCount >= kProcessedCapacity || isProcessed(scan, objd))
        return;
    uint32_t i = scan->processedCount;
    while (i > 0 && scan->processed[i - 1] > objd) {
        scan->processed[i] = scan->processed[i - 1];
        i--;
    }
    scan->processed[i] = objd;
    scan->processedCount++;
}

bool scanFinished(const TableScan *scan)
{
    return scan->processedCount >= kMaxObjects;
}

// A data block of a table, or (in the file walk only when it is of an
// index-organized table) of an index.
bool isCandidateBlock(const UnloadContext *ctx, bool byExtentFile)
{
    if (getBlockType(ctx) != kBlockTypeData)
        return false;
    uint8_t dataType = getDataType(ctx);
    if (dataType == kDataTypeTable)
        return true;
    return dataType == kDataTypeIndex && (byExtentFile || (getIndexCoopc(ctx) & kIndexOrganized) != 0);
}

bool tableHasLiveRow(const UnloadContext *ctx, uint32_t table)
{
    bool index = getDataType(ctx) == kDataTypeIndex;
    uint32_t rows = index ? getIndexRowCount(ctx) : getTableRowCount(ctx, table);
    return rows != 0 && countDataRows(ctx, table) != 0;
}

// Decodes the runs of objd in the extent file, block by block, until the
// sample is full; returns the blocks the object's runs hold.
uint64_t sampleByExtentFile(TableScan *scan, uint32_t objd, uint32_t table)
{
    UnloadContext *copy = scan->copy;
    FILE *extents = fopen64(kExtentFileName, "r");
    if (extents == nullptr)
        return 0;
    uint64_t total = 0;
    while (readDictionaryLine(extents, scan->line, kExtentLineSize)) {
        ExtentEntry run;
        if (parseORAEXTENT(&run, scan->line) != 0 || run.dataObjectId != objd)
            continue;
        total += run.blockCount;
        uint64_t end = runEnd(copy, &run);
        for (uint64_t b = run.firstBlock; b < end && copy->rowsUnloaded < kSampleRows; b++)
            scanTableRows(scan->stream, copy, objd, table, 0, 0, run.file, static_cast<uint32_t>(b));
    }
    fclose(extents);
    return total;
}

void printProposal(FILE *stream, const ColumnGuessState *guess, uint32_t objd, uint32_t table)
{
    fprintf(stream, "UNLOAD OBJECT %u CLUSTER %d COLUMN ", objd, static_cast<int>(table));
    printGuessedColumns(stream, guess);
    fprintf(stream, " TO OBJD%010uC%03u.txt; \n\n", objd, table);
}

// The candidate block (file, block) is read again before each of its
// tables: sampling reads other blocks into the same buffer.
bool rereadCandidate(UnloadContext *copy, uint32_t file, uint32_t block)
{
    return readBlock(copy->datafiles, copy, file, block) == static_cast<int>(copy->blockSize);
}

void sampleTable(TableScan *scan, uint32_t file, uint32_t block, uint32_t table)
{
    UnloadContext *copy = scan->copy;
    uint32_t objd = getDataObjectID(copy);
    resetColumnGuess(copy->columnGuess);
    copy->rowsUnloaded = 0;
    addProcessed(scan, objd);
    if (scan->byExtentFile) {
        uint64_t total = sampleByExtentFile(scan, objd, table);
        fprintf(scan->stream, "## Column Count=%u, Sample Rows = %llu, Total Blocks = %llu, Table Size = %.2f mb\n",
                static_cast<unsigned>(copy->columnGuess->columnCount),
                static_cast<unsigned long long>(copy->rowsUnloaded), static_cast<unsigned long long>(total),
                static_cast<double>(total) * copy->blockSize / 1048576.0);
    } else {
        printBriefHeader(scan->stream, copy);
        scanTableRows(scan->stream, copy, objd, table, 0, 0, file, block);
    }
    printProposal(scan->stream, copy->columnGuess, objd, table);
}

// Examines one candidate block, already in the copy's buffer.
void examineBlock(TableScan *scan, uint32_t file, uint32_t block)
{
    UnloadContext *copy = scan->copy;
    if (!isCandidateBlock(copy, scan->byExtentFile) || isProcessed(scan, getDataObjectID(copy)))
        return;
    // A cluster block holds the cluster key in table 0 and the member tables
    // after it.
    uint32_t tables = getDataType(copy) == kDataTypeTable ? getTableCount(copy) : 1;
    uint32_t first = tables > 1 ? 1 : 0;
    uint32_t last = tables > 1 ? tables - 1 : 0;
    for (uint32_t t = first; t <= last && !scanFinished(scan); t++) {
        if (t != first && !rereadCandidate(copy, file, block))
            return;
        if (tableHasLiveRow(copy, t))
            sampleTable(scan, file, block, t);
    }
}

void walkExtentFile(TableScan *scan, FILE *extents)
{
    UnloadContext *copy = scan->copy;
    CommandLine *line = static_cast<CommandLine *>(calloc(1, sizeof(CommandLine)));
    if (line == nullptr)
        return;
    while (!scanFinished(scan) && readDictionaryLine(extents, line, kExtentLineSize)) {
        ExtentEntry run;
        if (parseORAEXTENT(&run, line) != 0 || isProcessed(scan, run.dataObjectId))
            continue;
        uint64_t end = runEnd(copy, &run);
        for (uint64_t b = run.firstBlock; b < end && !scanFinished(scan); b++) {
            uint32_t block = static_cast<uint32_t>(b);
            if (isProcessed(scan, run.dataObjectId))
                break;
            if (rereadCandidate(copy, run.file, block))
                examineBlock(scan, run.file, block);
        }
    }
    free(line);
}

void walkFiles(TableScan *scan, uint32_t rfn)
{
    UnloadContext *copy = scan->copy;
    DatafileSet *set = copy->datafiles;
    uint32_t positions = set->count < static_cast<uint32_t>(kMaxDatafiles) ? set->count : kMaxDatafiles;
    for (uint32_t pos = 0; pos < positions && !scanFinished(scan); pos++) {
        if (rfn != 0 && !copy->bigfile && set->rfn[pos] != rfn)
            continue;
        if ((set->handle[pos] == nullptr && set->asmFile[pos] == nullptr) || set->blocks[pos] < kFirstScannedBlock)
            continue;
        uint32_t file = set->rfn[pos];
        for (uint32_t block = kFirstScannedBlock; !scanFinished(scan); block++) {
            if (rereadCandidate(copy, file, block))
                examineBlock(scan, file, block);
            if (block >= set->blocks[pos])
                break;
        }
    }
}

}  // namespace

void listTableHeader(FILE *stream, UnloadContext *ctx, uint32_t rfn)
{
    if (ctx->datafiles == nullptr || ctx->columnGuess == nullptr)
        return;
    TableScan *scan = static_cast<TableScan *>(calloc(1, sizeof(TableScan)));
    UnloadContext *copy = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    CommandLine *line = static_cast<CommandLine *>(calloc(1, sizeof(CommandLine)));
    if (scan != nullptr && copy != nullptr && line != nullptr && copyBlock(ctx, copy) != 0) {
        copy->guessMode = kGuessModeScan;
        copy->rowLimit = kNoRowLimit;
        scan->stream = stream;
        scan->copy = copy;
        scan->line = line;
        FILE *extents = fopen64(kExtentFileName, "r");
        scan->byExtentFile = extents != nullptr;
        if (extents != nullptr) {
            walkExtentFile(scan, extents);
            fclose(extents);
        } else {
            walkFiles(scan, rfn);
        }
        free(copy->block);
    }
    free(line);
    free(copy);
    free(scan);
}
