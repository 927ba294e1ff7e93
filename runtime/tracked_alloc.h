// Tracked allocations: a 4096-entry registry over the heap so an application can release one
// block by pointer or all of its blocks at once (for example when a screen ends).
#pragma once
#include <cstdint>

constexpr uint32_t ALLOC_TABLE_SIZE = 4096;

struct AllocRecord {
    void* block;
    uint32_t size;
    uint32_t tag_a;  // caller's tags, stored and never interpreted
    uint32_t tag_b;
};

struct AllocTable {
    AllocRecord records[ALLOC_TABLE_SIZE];  // 0 .. alloc_count - 1 in use, in no order
    uint32_t alloc_count;
};

extern AllocTable alloc_table;

// Null when the table is full (nothing recorded). A heap failure returns null too, and its
// record is kept like any other so the counts stay predictable.
void* tracked_alloc(uint32_t size, uint32_t tag_a, uint32_t tag_b);

// 1 when the block was recorded (it is freed and the last record takes its place), else 0.
int tracked_free(void* block);

// Frees every recorded block in index order; alloc_count becomes 0.
void tracked_free_all();
