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

// Hash bits that may differ between two pictures of one group, and how far apart their mean
// colours may lie (delta E 76, or the chroma difference once the brighter is brought to the
// darker's lightness: a re-exposed copy, +-10% on every channel, moves lightness by up to 9 but
// its chroma by under 1). Exposure is matched only within EXPOSURE_RATIO of (L* + 16), what
// +-12% exposure gives. Measured on the synthetic libraries of scripts/make_library.py (a fifth
// of their photos planted copies): most planted copies differ by at most 6 bits, but among
// 20,000 photos distinct crops of one photo often come within 7 or 8; a limit of 8 bits made
// 183 false pairs where 6 makes 103 (precision 96.1% against 97.8%) and found 12 more of the
// 4,000 copies. At 8 bits, matching the exposure found 57 more copies for 29 more false pairs.
constexpr int SIMILAR_HASH_BITS = 6;
constexpr double SIMILAR_COLOUR = 8.0;
constexpr double EXPOSURE_RATIO = 1.09;

// A soft or low-contrast picture has DCT coefficients close to their median, so a recompress or
// a 3% crop turns up to 24 of its bits; its colour and its 3 x 3 lightness grid hardly move. Two
// pictures within TWIN_HASH_BITS (two unrelated pictures differ by about 32), TWIN_COLOUR delta E
// (exposure matched as above) and TWIN_LAYOUT L* in every cell of the grid group as well. On
// 2,000 photos this found 4 of the 8 planted copies the rules above missed, on 20,000 photos 24
// more copies, and joined no two distinct pictures, nor any two of the 183 source photos.
constexpr int TWIN_HASH_BITS = 24;
constexpr double TWIN_COLOUR = 1.5;
constexpr float TWIN_LAYOUT = 1.5f;

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
    float layout[LAYOUT_CELLS];
};

SimilarItem similar_item(const PictureTraits& traits, const Lab& colour);

// group[i] for every item: the number of the first item of its group (itself when alone).
// Items join a group when their hashes and colours (flat items: colours), or hashes, colours and
// layouts (twins), are within the limits above of any member. The result depends only on the
// items, not on their order of arrival from the workers.
std::vector<uint32_t> group_similar(const std::vector<SimilarItem>& items);

}  // namespace evgpack
