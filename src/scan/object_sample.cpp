// The blocks of one data object as SCAN EXTENT found them: how many are
// table data blocks, how many rows they hold, and the column types their
// rows suggest.  LIST TRUNCATED weighs the objects no live table owns with
// it.
#include "scan/scan.h"

#include <cstdlib>
#include <cstring>

#include "block/block.h"
#include "datafile/datafile.h"
#include "dictionary/dictionary.h"
#include "unload/rows/rows.h"
// The guess sees the rows as an UNLOAD would write them, through the
// unload's own traversal (as SAMPLE and SCAN TABLE do).
#include "unload/writers/writers.h"

namespace {

constexpr uint8_t kBlockTypeData = 6;
constexpr uint8_t kDataTypeTable = 1;
constexpr uint8_t kGuessModeScan = 1;
constexpr uint64_t kSampleRows = 8192;
constexpr int kExtentLineSize = 1024;
constexpr uint32_t kPieceFlag = 0;

// Head pieces of rows of `table` in the block: what an unload would count.
uint64_t countHeadRows(const UnloadContext *ctx, uint32_t table)
{
    uint32_t base = getDataBeginOffset(ctx);
    uint32_t count = getTableRowCount(ctx, table);
    uint64_t rows = 0;
    for (uint32_t slot = 0; slot < count; slot++) {
        uint16_t offset = getTableRowOffset(ctx, table, slot);
        if (offset == kFreeRowEntry || !blockHasRange(ctx, base + offset, 1))
            continue;
        uint8_t flag = blockU8(ctx, base + offset + kPieceFlag);
        rows += (flag & kRowFlagHead) && !(flag & kRowFlagDeleted);
    }
    return rows;
}

// One block of a run: counted and, while the sample is not full, decoded.
void sampleBlock(UnloadContext *copy, uint32_t objd, uint32_t file, uint32_t block, ObjectSample *sample)
{
    if (readBlock(copy->datafiles, copy, file, block) != static_cast<int>(copy->blockSize))
        return;
    if (matchBlockTail(copy) != 0 || getBlockType(copy) != kBlockTypeData || getDataObjectID(copy) != objd ||
        getDataType(copy) != kDataTypeTable)
        return;
    // A cluster block keeps its key in table 0: the member tables follow.
    uint32_t table = getTableCount(copy) > 1 ? 1 : 0;
    sample->blocks++;
    sample->rows += countHeadRows(copy, table);
    if (sample->file == 0)
        sample->file = file;
    if (copy->rowsUnloaded < kSampleRows)
        scanTableRows(stdout, copy, objd, table, 0, 0, file, block);
}

}  // namespace

bool sampleExtentObject(UnloadContext *ctx, uint32_t objd, ObjectSample *sample)
{
    memset(sample, 0, sizeof *sample);
    if (ctx->datafiles == nullptr || ctx->columnGuess == nullptr)
        return false;
    FILE *extents = fopen64(kExtentFileName, "r");
    UnloadContext *copy = static_cast<UnloadContext *>(malloc(sizeof(UnloadContext)));
    CommandLine *line = static_cast<CommandLine *>(malloc(sizeof(CommandLine)));
    bool copied = copy != nullptr && copyBlock(ctx, copy) != 0;
    if (extents != nullptr && copied && line != nullptr) {
        copy->guessMode = kGuessModeScan;
        copy->outputStyle = 0;
        copy->rowLimit = kNoRowLimit;
        // The sample writes nothing: a row that lost a piece is no news here.
        copy->incompleteRowLines = blockNotReadLineCap();
        copy->rowsUnloaded = 0;
        resetColumnGuess(copy->columnGuess);
        while (readDictionaryLine(extents, line, kExtentLineSize)) {
            ExtentEntry run;
            if (parseORAEXTENT(&run, line) != 0 || run.dataObjectId != objd)
                continue;
            uint64_t end = static_cast<uint64_t>(run.firstBlock) + run.blockCount;
            int pos = getFileIndex(copy->datafiles, run.file);
            if (pos < 0)
                continue;
            uint64_t last = copy->datafiles->blocks[pos];
            if (last != 0 && end > last + 1)
                end = last + 1;
            for (uint64_t b = run.firstBlock; b < end; b++)
                sampleBlock(copy, objd, run.file, static_cast<uint32_t>(b), sample);
        }
        sample->columns = copy->columnGuess->columnCount;
    }
    if (copy != nullptr && copied)
        free(copy->block);
    free(copy);
    free(line);
    if (extents != nullptr)
        fclose(extents);
    return sample->blocks != 0;
}
