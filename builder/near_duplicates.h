// A few numbers that say what a picture looks like (a perceptual hash, sharpness, a coarse
// layout), and the grouping of near-identical pictures (burst shots, resized, recompressed,
// slightly cropped or re-exposed copies). The pack build computes the traits as it imports each
// photo, keeps them in the import cache, and groups before it chooses the pictures.
#pragma once
#include <cstdint>
#include <vector>

#include "builder/colour_match.h"
#include "builder/photo_import.h"

namespace evgpack {

constexpr int LAYOUT_CELLS = 9;  // 3 x 3 grid of mean lightness

struct PictureTraits {
    uint64_t hash = 0;      // 63-bit DCT hash of the 240 x 240 picture's sqrt(luminance)
    float sharpness = 0;    // mean absolute Laplacian of 100 x sqrt(luminance)
    float layout[LAYOUT_CELLS] = {};  // CIELAB L* of each cell, row by row
};

PictureTraits picture_traits(const LinearPicture& picture);

// Hash bits that may differ between two pictures of one group, and how far apart (delta E 76 of
// the mean colours) they may lie. Measured on the synthetic library of scripts/make_library.py:
// planted copies differ by at most 6 bits (a 3% crop) and 5 delta E (+-10% exposure), while
// distinct crops of one photo rarely come within 12 bits.
constexpr int SIMILAR_HASH_BITS = 8;
constexpr double SIMILAR_COLOUR = 8.0;

// One picture as the grouping sees it.
struct SimilarItem {
    uint64_t hash;
    Lab colour;
};

// group[i] for every item: the number of the first item of its group (itself when alone).
// Items join a group when their hashes and colours are within the limits above of any member.
// The result depends only on the items, not on their order of arrival from the workers.
std::vector<uint32_t> group_similar(const std::vector<SimilarItem>& items);

}  // namespace evgpack
