// The defaults of added columns: the literal encoder and the readers of
// ZORECOL.TXT and ZORDEF.TXT on handwritten (and damaged) lines.
#include <string>
#include <vector>

#include "dictionary_test_env.h"

namespace {

class ColumnDefaults : public DictionaryDir {};

ColumnEntry columnOf(uint16_t type, uint16_t length)
{
    ColumnEntry c = {};
    c.type = type;
    c.length = length;
    c.charsetForm = 1;
    return c;
}

// The stored bytes of a literal as hex, or "refused".
std::string encoded(const char *sql, uint16_t type, uint16_t length = 22)
{
    ColumnEntry c = columnOf(type, length);
    uint8_t out[64];
    uint32_t n = 0;
    if (!encodeDefaultLiteral(sql, (uint32_t)strlen(sql), &c, out, sizeof out, &n))
        return "refused";
    std::string hex;
    char digits[3];
    for (uint32_t i = 0; i < n; i++) {
        snprintf(digits, sizeof digits, "%02X", out[i]);
        hex += digits;
    }
    return hex;
}

TEST(DefaultLiteral, NumbersInOraclesForm)
{
    EXPECT_EQ(encoded("0", 2), "80");
    EXPECT_EQ(encoded("1", 2), "C102");
    EXPECT_EQ(encoded("100", 2), "C202");
    EXPECT_EQ(encoded(" 12.5 ", 2), "C10D33");
    EXPECT_EQ(encoded("0.05", 2), "C006");
    EXPECT_EQ(encoded("123456", 2), "C30D2339");
    EXPECT_EQ(encoded("-1", 2), "3E6466");
    EXPECT_EQ(encoded("-12.5", 2), "3E593366");
    EXPECT_EQ(encoded("1e3", 2), "C20B");
    EXPECT_EQ(encoded("(7)", 2), "C108");
    EXPECT_EQ(encoded("SYSDATE", 2), "refused");
    EXPECT_EQ(encoded("1+1", 2), "refused");
    EXPECT_EQ(encoded("1e999", 2), "refused");
    EXPECT_EQ(encoded("", 2), "refused");
}

TEST(DefaultLiteral, StringsDatesAndTimestamps)
{
    EXPECT_EQ(encoded("'AB'", 1, 10), "4142");
    EXPECT_EQ(encoded("'it''s'", 1, 10), "69742773");
    EXPECT_EQ(encoded("'AB'", 96, 4), "41422020");
    EXPECT_EQ(encoded("'ABCDE'", 1, 4), "refused");
    EXPECT_EQ(encoded("'AB", 1, 10), "refused");
    EXPECT_EQ(encoded("'A'||'B'", 1, 10), "refused");
    EXPECT_EQ(encoded("DATE '2024-02-29'", 12), "787C021D010101");
    EXPECT_EQ(encoded("date '1999-12-31' ", 12), "77C70C1F010101");
    EXPECT_EQ(encoded("TIMESTAMP '2024-02-29 10:11:12'", 12), "787C021D0B0C0D");
    EXPECT_EQ(encoded("TIMESTAMP '2024-02-29 10:11:12.5'", 180), "787C021D0B0C0D1DCD6500");
    EXPECT_EQ(encoded("TIMESTAMP '2024-13-29 10:11:12'", 180), "refused");
    EXPECT_EQ(encoded("DATE '2024-02-29 10:11:12'", 12), "refused");
    EXPECT_EQ(encoded("TO_DATE('2024-02-29', 'YYYY-MM-DD')", 12), "refused");
    EXPECT_EQ(encoded("'AB'", 23, 10), "refused");
    ColumnEntry national = columnOf(1, 20);
    national.charsetForm = 2;
    uint8_t out[8];
    uint32_t n = 0;
    EXPECT_FALSE(encodeDefaultLiteral("'AB'", 4, &national, out, sizeof out, &n));
}

TEST_F(ColumnDefaults, ReadersTakeTheirLineAndPassOverDamagedOnes)
{
    writeDictFile(kEcolFile, "5020,3,4142\n5020,4,41X2\n5020,5,414\n,6,41\n5020\n5021,3,00FF\n");
    uint8_t bytes[16];
    uint32_t n = 0;
    ASSERT_EQ(getORASYSECOL(5020, 3, bytes, sizeof bytes, &n), 1);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(bytes[0], 0x41);
    EXPECT_EQ(getORASYSECOL(5020, 4, bytes, sizeof bytes, &n), 0);
    EXPECT_EQ(getORASYSECOL(5020, 5, bytes, sizeof bytes, &n), 0);
    EXPECT_EQ(getORASYSECOL(5020, 6, bytes, sizeof bytes, &n), 0);
    ASSERT_EQ(getORASYSECOL(5021, 3, bytes, sizeof bytes, &n), 1);
    EXPECT_EQ(bytes[1], 0xFF);
    // Longer than the caller's buffer: not found rather than cut.
    EXPECT_EQ(getORASYSECOL(5020, 3, bytes, 1, &n), 0);

    // DEFLENGTH cuts what follows the text; a line too long for any buffer
    // is passed over whole.
    std::string longLine = "5020,1," + std::string(20000, 'A') + ",9,\n";
    writeDictFile(kColumnDefaultFile, longLine + "5020,4,27414227,3,\n5020,2,3130202020,4,\n5020,x,31,5,\n");
    char text[32];
    ASSERT_EQ(getORASYSDEFAULT(5020, 3, text, sizeof text, &n), 1);
    EXPECT_EQ(std::string(text, n), "'AB'");
    ASSERT_EQ(getORASYSDEFAULT(5020, 4, text, sizeof text, &n), 1);
    EXPECT_EQ(std::string(text, n), "10");
    ASSERT_EQ(getORASYSDEFAULT(5020, 5, text, sizeof text, &n), 1);
    EXPECT_EQ(std::string(text, n), "1");
    EXPECT_EQ(getORASYSDEFAULT(5020, 9, text, sizeof text, &n), 0);
}

TEST_F(ColumnDefaults, MissingFilesFindNothing)
{
    uint8_t bytes[4];
    uint32_t n = 0;
    EXPECT_EQ(getORASYSECOL(1, 1, bytes, sizeof bytes, &n), 0);
    EXPECT_EQ(getORASYSDEFAULT(1, 1, (char *)bytes, sizeof bytes, &n), 0);
    EXPECT_FALSE(hasAddedDefaultColumns());
    EXPECT_EQ(getORASYSCOLPOSITION(1, "X"), 0);
}

TEST_F(ColumnDefaults, ColumnPositionByNameAndTheAddedBit)
{
    writeDictFile(kColumnFile,
                  "548,1,1,TABOBJ#,2,22,,,1,1,0,0,0\n548,3,3,BINARYDEFVAL,113,4000,,,0,3,0,0,0\n"
                  "5020,3,3,CODE,96,4,,,1,3,1073741824,873,1\n");
    EXPECT_EQ(getORASYSCOLPOSITION(548, "binarydefval"), 3);
    EXPECT_EQ(getORASYSCOLPOSITION(548, "COLNUM"), 0);
    EXPECT_TRUE(hasAddedDefaultColumns());
}

}  // namespace
