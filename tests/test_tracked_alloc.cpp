#include <gtest/gtest.h>

#include "runtime/tracked_alloc.h"

class TrackedAlloc : public ::testing::Test {
protected:
    void TearDown() override { tracked_free_all(); }
};

TEST_F(TrackedAlloc, FreeMovesLastRecordIntoTheGap) {
    void* p = tracked_alloc(16, 1, 2);
    void* q = tracked_alloc(32, 3, 4);
    void* r = tracked_alloc(48, 5, 6);
    ASSERT_TRUE(p && q && r);
    EXPECT_EQ(tracked_free(p), 1);
    ASSERT_EQ(alloc_table.alloc_count, 2u);
    EXPECT_EQ(alloc_table.records[0].block, r);
    EXPECT_EQ(alloc_table.records[0].size, 48u);
    EXPECT_EQ(alloc_table.records[0].tag_a, 5u);
    EXPECT_EQ(alloc_table.records[0].tag_b, 6u);
    EXPECT_EQ(alloc_table.records[1].block, q);
}

TEST_F(TrackedAlloc, FullTableRefusesAndRecordsNothing) {
    for (uint32_t i = 0; i < ALLOC_TABLE_SIZE; ++i) ASSERT_NE(tracked_alloc(4, i, 0), nullptr);
    EXPECT_EQ(tracked_alloc(4, 0, 0), nullptr);
    EXPECT_EQ(alloc_table.alloc_count, ALLOC_TABLE_SIZE);
    tracked_free_all();
    EXPECT_EQ(alloc_table.alloc_count, 0u);
    EXPECT_NE(tracked_alloc(4, 0, 0), nullptr);  // usable again after freeing all
}

TEST_F(TrackedAlloc, DoubleAndForeignFreesAreRefused) {
    void* p = tracked_alloc(8, 0, 0);
    EXPECT_EQ(tracked_free(p), 1);
    EXPECT_EQ(tracked_free(p), 0);
    int local = 0;
    EXPECT_EQ(tracked_free(&local), 0);
    EXPECT_EQ(alloc_table.alloc_count, 0u);
}
