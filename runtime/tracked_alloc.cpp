// Tracked allocations; the table is 4096 x 24 bytes (~96 KiB) of static storage.
#include "runtime/tracked_alloc.h"

#include <cstdlib>

AllocTable alloc_table = {};

void* tracked_alloc(uint32_t size, uint32_t tag_a, uint32_t tag_b) {
    if (alloc_table.alloc_count >= ALLOC_TABLE_SIZE) return nullptr;
    void* block = std::malloc(size);
    alloc_table.records[alloc_table.alloc_count++] = AllocRecord{block, size, tag_a, tag_b};
    return block;
}

int tracked_free(void* block) {
    for (uint32_t i = 0; i < alloc_table.alloc_count; ++i) {
        if (alloc_table.records[i].block != block) continue;
        std::free(block);
        alloc_table.records[i] = alloc_table.records[--alloc_table.alloc_count];
        return 1;
    }
    return 0;
}

void tracked_free_all() {
    for (uint32_t i = 0; i < alloc_table.alloc_count; ++i) std::free(alloc_table.records[i].block);
    alloc_table.alloc_count = 0;
}
