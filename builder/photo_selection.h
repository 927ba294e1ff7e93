// Choosing the pictures of a pack when a library holds more usable photos than the pack takes:
// half by greedy farthest-point over each picture's mean colour and coarse layout (one of every
// top-level folder first), half as an even sample of the rest. Called by pack_build.cpp once all
// photos are imported.
#pragma once
#include <cstdint>
#include <vector>

#include "builder/colour_match.h"
#include "builder/near_duplicates.h"

namespace evgpack {

struct SelectionItem {
    Lab colour;
    float layout[LAYOUT_CELLS];
    uint32_t folder;  // the top-level folder it came from (any numbering)
};

// `count` of the items (all when there are no more), as ascending item numbers. Deterministic:
// the result depends only on the items and their order.
std::vector<uint32_t> select_pictures(const std::vector<SelectionItem>& items, size_t count);

}  // namespace evgpack
