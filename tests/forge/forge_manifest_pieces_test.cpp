// The manifest names every block a chained or migrated row of a laid
// segment occupies, head first, so that a damage test can tell which rows a
// damaged block takes with it; the text form of the manifest does not show
// them.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "forge/forge.h"

namespace {

TEST(ForgeManifestPieces, SampleDocsRowsNameTheBlocksOfTheirPieces) {
    char pattern[] = "/tmp/zor_forge_pieces_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    forge::Manifest manifest;
    char error[512] = "";
    ASSERT_TRUE(forge::forgeSample(dir.c_str(), &manifest, error, sizeof error)) << error;
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(command.c_str()), 0);

    const forge::ManifestTable *docs = nullptr;
    for (const forge::ManifestTable &t : manifest.tables)
        if (t.name == "DOCS") docs = &t;
    ASSERT_NE(docs, nullptr);
    size_t chained = 0;
    for (const forge::ManifestRow &row : docs->rows) {
        if (row.pieceRdbas.empty()) continue;
        chained++;
        ASSERT_GE(row.pieceRdbas.size(), 2u);
        EXPECT_EQ(row.pieceRdbas[0], row.rdba);
        std::set<uint32_t> distinct(row.pieceRdbas.begin(), row.pieceRdbas.end());
        EXPECT_EQ(distinct.size(), row.pieceRdbas.size());
        for (uint32_t rdba : row.pieceRdbas) EXPECT_EQ(rdba >> 22, row.rdba >> 22);
    }
    // The long report, the moved row and the row cut inside a column.
    EXPECT_GE(chained, 3u);
    // A row of one piece names no blocks beyond its own.
    EXPECT_TRUE(docs->rows[0].pieceRdbas.empty());
    EXPECT_EQ(forge::formatManifest(&manifest).find("piece"), std::string::npos);
}

}  // namespace
