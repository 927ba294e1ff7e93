// How well a pack's pictures serve the colours: the figures `evgpack build` and `evgpack info`
// print, and the warning for packs too small to serve their colours.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/colour_match.h"

namespace evgpack {

struct Coverage {
    double colour_mean = 0, colour_p95 = 0;  // delta E00, every RGB565 colour vs its best picture
    double pixel_mean = 0, pixel_p95 = 0;    // the same, weighted by the thumbnails' own pixels
    int unused_pictures = 0;                 // pictures neither table names
    std::vector<int> unused;                 // their numbers, ascending
    int distinct_best = 0;                   // pictures named by best_match
    // Colour families (such as "dark blues") that cover at least FAMILY_SHARE of the pictures'
    // own pixels and lie on average more than FEW_PHOTOS_DISTANCE from their tiles, farthest
    // first, at most three.
    std::vector<std::string> few_photos;
};

constexpr double FAMILY_SHARE = 0.01;
constexpr double FEW_PHOTOS_DISTANCE = 8.0;

// The verdict on colours in plain words, one line ending in a newline.
std::string colour_verdict(const Coverage& coverage);

// picture_colours[i]: picture i's representative colour; thumbnails: N x T x T RGB565 pixels.
Coverage measure_coverage(const std::vector<uint16_t>& best, const std::vector<uint16_t>& second,
                          const std::vector<Lab>& picture_colours, const uint16_t* thumbnails, size_t thumb_pixels);

// A warning line when the pack is too small to serve its colours well, else empty.
std::string coverage_warning(const Coverage& coverage, int pictures);

}  // namespace evgpack
