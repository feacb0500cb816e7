// A scratch directory holding the sample database and its datafiles inside a
// forged disk group, a ZOR session run in it, and byte-level damage helpers
// for the disk images.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "column_values.h"
#include "forge/asm_image.h"
#include "forge/forge.h"
#include "scan/zor_session.h"
#include "shell/shell.h"

namespace asmtest {

using zorsession::readWhole;
using zorsession::writeWhole;

// Overwrites bytes of a disk image in place.
inline void patchImage(const std::string &image, uint64_t offset, const std::vector<uint8_t> &bytes)
{
    FILE *f = fopen(image.c_str(), "r+b");
    ASSERT_NE(f, nullptr) << image;
    ASSERT_EQ(fseeko(f, static_cast<off_t>(offset), SEEK_SET), 0);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

inline std::vector<uint8_t> le32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

inline std::vector<uint8_t> le16(uint16_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}

class AsmSample {
public:
    // Forges the sample database into a disk group in a fresh directory and
    // makes it the current directory.
    void create(const forge::AsmGroupSpec &groupSpec)
    {
        spec_ = groupSpec;
        ASSERT_NO_FATAL_FAILURE(zorsession::enterScratchDirectory(&scratch_));
        char error[512] = "";
        ASSERT_TRUE(forge::forgeSampleAsm(scratch_.path.c_str(), groupSpec, &record_, &manifest_, error,
                                          sizeof error))
            << error;
    }
    void destroy()
    {
        zorsession::leaveScratchDirectory(&scratch_);
    }

    // Runs the commands in a fresh ZOR session; its standard output.
    std::string run(const std::string &commands)
    {
        return zorsession::runCommands(commands);
    }

    // Byte offset of (AU, block, offset) on a disk image.
    uint64_t at(uint32_t au, uint32_t block = 0, uint32_t offset = 0) const
    {
        return static_cast<uint64_t>(au) * spec_.auSize + static_cast<uint64_t>(block) * spec_.blockSize +
               offset;
    }
    std::string image(uint32_t disk) const
    {
        return record_.diskPaths[disk];
    }
    const forge::AsmPlacedFile &file(uint32_t number) const
    {
        for (const forge::AsmPlacedFile &f : record_.files)
            if (f.fileNumber == number)
                return f;
        return record_.files[0];
    }

    // The records ZOR writes for the live rows of a table or partition.
    std::string expectedRows(const std::string &table, const std::string &partition) const
    {
        for (const forge::ManifestTable &t : manifest_.tables) {
            if (t.name == table && t.partition == partition)
                return liveRecords(t, ",", "\n");
        }
        return "<no table " + table + ">";
    }

    forge::AsmGroupSpec spec_;
    forge::AsmGroupRecord record_;
    forge::Manifest manifest_;
    zorsession::ScratchDirectory scratch_;
};

}  // namespace asmtest
