// The OSDUMP hex table: its lines, the heading repeated every 256 bytes, and
// a dump parsed back into the bytes it came from.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "block/hex_dump.h"
#include "forge/forge.h"

namespace {

const char kHeading1[] = "     /0x  : -0-1 -2-3 -4-5 -6-7 -8-9 -a-b -c-d -e-f  0123456789abcdef";
const char kHeading2[] = "-----/----: ---------------------------------------  ----------------";

std::string dump(const uint8_t *bytes, uint32_t length)
{
    FILE *f = tmpfile();
    printBlock(f, bytes, length);
    std::string out;
    rewind(f);
    int c;
    while ((c = fgetc(f)) != EOF)
        out += static_cast<char>(c);
    fclose(f);
    return out;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

// Reads the hex groups of every data line back into bytes, checking the
// offsets and the character column on the way.
bool parseDump(const std::string &text, std::vector<uint8_t> *bytes, std::string *why)
{
    for (const std::string &line : lines(text)) {
        if (line.empty() || line == kHeading1 || line == kHeading2)
            continue;
        unsigned dec = 0, hex = 0;
        if (sscanf(line.c_str(), "%05u/%04x:", &dec, &hex) != 2 || dec != hex || dec != bytes->size()) {
            *why = "bad offset in: " + line;
            return false;
        }
        size_t pos = 11;
        std::string shown;
        std::vector<uint8_t> row;
        while (pos + 1 < line.size() && line[pos] == ' ' && line[pos + 1] != ' ') {
            pos++;
            for (int k = 0; k < 2 && pos + 1 < line.size() && line[pos] != ' '; k++) {
                unsigned v;
                if (sscanf(line.substr(pos, 2).c_str(), "%02x", &v) != 1) {
                    *why = "bad hex in: " + line;
                    return false;
                }
                row.push_back(static_cast<uint8_t>(v));
                shown += (v >= 0x20 && v <= 0x7E) ? static_cast<char>(v) : '.';
                pos += 2;
            }
        }
        if (line.substr(pos) != "  " + shown) {
            *why = "character column differs in: " + line;
            return false;
        }
        bytes->insert(bytes->end(), row.begin(), row.end());
    }
    return true;
}

}  // namespace

TEST(HexDump, FirstLines)
{
    uint8_t bytes[32];
    for (int i = 0; i < 32; i++)
        bytes[i] = static_cast<uint8_t>(0x3A + i);
    bytes[7] = 0x41;
    bytes[8] = 0x0A;
    EXPECT_EQ(std::string(kHeading1) + "\n" + kHeading2 + "\n" +
                  "00000/0000: 3a3b 3c3d 3e3f 4041 0a43 4445 4647 4849  :;<=>?@A.CDEFGHI\n"
                  "00016/0010: 4a4b 4c4d 4e4f 5051 5253 5455 5657 5859  JKLMNOPQRSTUVWXY\n",
              dump(bytes, 32));
}

TEST(HexDump, HeadingRepeatsEvery256Bytes)
{
    std::vector<uint8_t> block(8192, 0x20);
    std::vector<std::string> out = lines(dump(block.data(), 8192));
    int data = 0, headings = 0, empty = 0;
    for (size_t i = 0; i < out.size(); i++) {
        if (out[i] == kHeading1) {
            headings++;
            ASSERT_EQ(kHeading2, out[i + 1]);
            if (i != 0) {
                EXPECT_EQ("", out[i - 1]) << i;
            }
        } else if (out[i].empty()) {
            empty++;
        } else if (out[i] != kHeading2) {
            data++;
        }
    }
    EXPECT_EQ(512, data);
    EXPECT_EQ(32, headings);
    EXPECT_EQ(31, empty);
    EXPECT_EQ(512u + 64 + 31, out.size());
    // The heading comes right before offsets 256, 512, ...
    for (size_t i = 0; i < out.size(); i++) {
        if (out[i].rfind("00256/0100:", 0) == 0) {
            EXPECT_EQ(kHeading2, out[i - 1]);
        }
    }
    EXPECT_EQ("08176/1ff0: 2020 2020 2020 2020 2020 2020 2020 2020                  ", out.back());
}

TEST(HexDump, ShortLastLine)
{
    uint8_t bytes[19] = {0};
    bytes[18] = 0x7E;
    std::vector<std::string> out = lines(dump(bytes, 19));
    ASSERT_EQ(4u, out.size());
    EXPECT_EQ("00016/0010: 0000 7e  ..~", out[3]);
}

TEST(HexDump, ForgeBlockParsesBackToItsBytes)
{
    for (uint32_t size : {2048u, 8192u, 32768u}) {
        forge::Block block;
        forge::initBlock(&block, size, forge::kLittleEndian);
        forge::DataBlockLayout layout;
        forge::initDataBlockLayout(&layout, forge::makeRdba(5, 16), 53944);
        forge::RowPiece row;
        forge::initRowPiece(&row);
        forge::addColumnText(&row, "printable text, and\tcontrol\ncharacters");
        layout.rows.push_back(row);
        char error[256];
        ASSERT_TRUE(forge::putDataBlock(&block, &layout, error, sizeof error)) << error;
        for (uint32_t i = 0; i < 256; i++)
            block.bytes[1000 + i] = static_cast<uint8_t>(i);   // every byte value once
        forge::sealBlock(&block);
        std::vector<uint8_t> parsed;
        std::string why;
        ASSERT_TRUE(parseDump(dump(block.bytes.data(), size), &parsed, &why)) << why;
        EXPECT_EQ(block.bytes, parsed) << size;
    }
}
