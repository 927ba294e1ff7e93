// The allocation registry: a free moves the last record into the gap, a full table refuses
// without recording, and a block freed twice or never recorded is refused.
#include <gtest/gtest.h>

#include "runtime/tracked_alloc.h"

TEST(TrackedAlloc, FreesByPointerRefusesWhenFullAndTwice) {
    void* p = tracked_alloc(16, 1, 2);
    void* q = tracked_alloc(32, 3, 4);
    void* r = tracked_alloc(48, 5, 6);
    ASSERT_TRUE(p && q && r);
    EXPECT_EQ(tracked_free(p), 1);
    EXPECT_EQ(tracked_free(p), 0);
    int local = 0;
    EXPECT_EQ(tracked_free(&local), 0);
    ASSERT_EQ(alloc_table.alloc_count, 2u);
    const AllocRecord& moved = alloc_table.records[0];
    EXPECT_TRUE(moved.block == r && moved.size == 48u && moved.tag_a == 5u && moved.tag_b == 6u);
    EXPECT_EQ(alloc_table.records[1].block, q);

    while (alloc_table.alloc_count < ALLOC_TABLE_SIZE) ASSERT_NE(tracked_alloc(4, 0, 0), nullptr);
    EXPECT_EQ(tracked_alloc(4, 0, 0), nullptr);
    EXPECT_EQ(alloc_table.alloc_count, ALLOC_TABLE_SIZE);
    tracked_free_all();
    EXPECT_EQ(alloc_table.alloc_count, 0u);
}
