// Tracked allocations: a freed record's gap is filled by the last one, a full table refuses,
// and double or foreign frees are refused.
#include <gtest/gtest.h>

#include "runtime/tracked_alloc.h"

TEST(TrackedAlloc, TableKeepsItsRecordsPacked) {
    void* p = tracked_alloc(16, 1, 2);
    void* q = tracked_alloc(32, 3, 4);
    void* r = tracked_alloc(48, 5, 6);
    ASSERT_TRUE(p && q && r);
    EXPECT_EQ(tracked_free(p), 1);
    EXPECT_EQ(tracked_free(p), 0);
    int local = 0;
    EXPECT_EQ(tracked_free(&local), 0);
    ASSERT_EQ(alloc_table.alloc_count, 2u);
    const AllocRecord& first = alloc_table.records[0];
    EXPECT_TRUE(first.block == r && first.size == 48u && first.tag_a == 5u && first.tag_b == 6u);
    EXPECT_EQ(alloc_table.records[1].block, q);
    tracked_free_all();
    for (uint32_t i = 0; i < ALLOC_TABLE_SIZE; ++i) ASSERT_NE(tracked_alloc(4, i, 0), nullptr);
    EXPECT_EQ(tracked_alloc(4, 0, 0), nullptr);
    EXPECT_EQ(alloc_table.alloc_count, ALLOC_TABLE_SIZE);
    tracked_free_all();
    EXPECT_EQ(alloc_table.alloc_count, 0u);
    EXPECT_NE(tracked_alloc(4, 0, 0), nullptr);  // usable again after freeing all
    tracked_free_all();
}
