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

// A flat picture (a plain sky, a wall, a crop of a plain background) has no detail the hash can
// see: its DCT coefficients are rounding noise, so its hash says nothing. Flat means a mean
// absolute Laplacian below FLAT_SHARPNESS and a 3 x 3 lightness grid spanning less than
// FLAT_LAYOUT L*, two traits the import cache already keeps. Flat pictures group by mean colour
// alone, within FLAT_COLOUR delta E 76, and never with detailed ones. On the 2,000 photos of the
// synthetic library, 167 were flat (most of them exactly plain); 23 of the 37 planted copies the
// hash missed were flat, and 133 of the 136 pairs it grouped across two sources were flat. A
// colour limit of 3 or 4 chains plain pictures of visibly different colours into one group (41
// and 84 such pairs against 3 with 2).
constexpr float FLAT_SHARPNESS = 0.02f;
constexpr float FLAT_LAYOUT = 2.0f;
constexpr double FLAT_COLOUR = 2.0;

bool is_flat(const PictureTraits& traits);

// One picture as the grouping sees it.
struct SimilarItem {
    uint64_t hash;
    Lab colour;
    bool flat;  // is_flat(): grouped by colour alone
};

// group[i] for every item: the number of the first item of its group (itself when alone).
// Items join a group when their hashes and colours (flat items: colours) are within the limits
// above of any member. The result depends only on the items, not on their order of arrival
// from the workers.
std::vector<uint32_t> group_similar(const std::vector<SimilarItem>& items);

}  // namespace evgpack
