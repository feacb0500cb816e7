// The sorted RDBA lists of CORRUPT and SKIP.
#include <gtest/gtest.h>

#include <cstdlib>

#include "datafile/datafile.h"

TEST(RdbaList, EmptyListFindsNothing)
{
    uint32_t none[1] = {5};
    EXPECT_EQ(0, findRDBAArray(none, 0, 5));
}

TEST(RdbaList, BinarySearchIsUnsigned)
{
    uint32_t entries[] = {1, 0x00400010, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (uint32_t v : entries)
        EXPECT_EQ(1, findRDBAArray(entries, 5, v)) << v;
    EXPECT_EQ(0, findRDBAArray(entries, 5, 0));
    EXPECT_EQ(0, findRDBAArray(entries, 5, 2));
    EXPECT_EQ(0, findRDBAArray(entries, 5, 0x80000001));
}

TEST(RdbaList, ComparatorOrdersUnsigned)
{
    uint32_t a = 1, b = 0x80000000;
    EXPECT_EQ(-1, sortRDBAList(&a, &b));
    EXPECT_EQ(1, sortRDBAList(&b, &a));
    uint32_t v[] = {0x80000000, 3, 0xFFFFFFFF, 1};
    qsort(v, 4, sizeof v[0], sortRDBAList);
    EXPECT_EQ(1u, v[0]);
    EXPECT_EQ(3u, v[1]);
    EXPECT_EQ(0x80000000u, v[2]);
    EXPECT_EQ(0xFFFFFFFFu, v[3]);
}

TEST(RdbaList, AddKeepsOrderAndDropsDuplicates)
{
    RdbaList list;
    list.count = 0;
    // Out of order on purpose: 10 must still be recognised the second time.
    const uint32_t adds[] = {10, 3, 7, 10, 3, 0x80000000, 7};
    for (uint32_t v : adds)
        addRDBAToList(&list, v);
    ASSERT_EQ(4, list.count);
    EXPECT_EQ(3u, list.rdba[0]);
    EXPECT_EQ(7u, list.rdba[1]);
    EXPECT_EQ(10u, list.rdba[2]);
    EXPECT_EQ(0x80000000u, list.rdba[3]);
}

TEST(RdbaList, FullListDropsFurtherValues)
{
    RdbaList list;
    list.count = 0;
    for (uint32_t v = 1; v <= 1024; v++)
        EXPECT_EQ(1, addRDBAToList(&list, v * 2));
    EXPECT_EQ(1024, list.count);
    EXPECT_EQ(0, addRDBAToList(&list, 1));
    EXPECT_EQ(1024, list.count);
    EXPECT_EQ(0, findRDBAArray(list.rdba, list.count, 1));
}
