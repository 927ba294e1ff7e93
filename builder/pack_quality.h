// How varied and how faithful the mosaic of a pack is, measured with the pack's own
// pictures as surfaces and the viewer's own tile rule (tile_map_build): the figures of
// `evgpack quality` and of the build summary, and the PNG sheet of surfaces and their views.
#pragma once
#include <string>
#include <vector>

#include "pack/pack_file.h"

namespace evgpack {

struct QualityFigures {
    int surfaces = 0;
    double distinct_block = 0;    // mean distinct pictures per 5 x 5 tile block
    double same_horizontal = 0;   // share of horizontally neighbouring tiles with the same picture
    double same_vertical = 0;
    double distinct_screen = 0;   // mean distinct pictures per zoom-40 screen (6 x 6 tiles)
    double flat_screens = 0;      // share of zoom-40 screens showing at most 2 pictures
    double same_two = 0;          // share of tiles showing the picture two to the right or two below
    // The zoom-40 screens centred on four fixed points of every surface (SCREEN_POINTS): mean
    // and fewest distinct pictures.
    double distinct_points = 0;
    int fewest_points = 0;
    double likeness = -1;         // zoom-8 mean CIEDE2000 of tinted tile mean vs surface pixel; -1 not measured
    double region_likeness = -1;  // the same for the mean colours of 5 x 5 tile blocks
};

// The surface pixels at the centre of the measured zoom-40 screens, one in each quarter.
constexpr int SCREEN_POINTS[4][2] = {{60, 60}, {180, 60}, {60, 180}, {180, 180}};

// The verdict on variety in plain words, one line ending in a newline, from the figures with
// candidates (or the plain rule's when the pack has none). Thresholds on the mean distinct
// pictures of a close-up screen: good from VARIETY_GOOD with none below VARIETY_FEWEST_GOOD,
// fair from VARIETY_FAIR, else poor.
constexpr double VARIETY_GOOD = 12, VARIETY_FAIR = 8;
constexpr int VARIETY_FEWEST_GOOD = 6;
std::string variety_verdict(const QualityFigures& q);

// Surfaces: up to `max_surfaces` of the pack's pictures, evenly spaced (read through the pack's
// read buffer). use_candidates false measures the plain best_match / second_match rule even
// when the pack has lists.
QualityFigures measure_quality(OpenPack& pack, int max_surfaces, bool use_candidates, int spread, bool likeness);

// A sheet of `surfaces` pictures (evenly spaced; or the one picture `only` when >= 0), one row
// each: the surface, zoom 8 and zoom 40 at its centre without candidates, then the same with
// them. false + reason on failure.
bool write_quality_sheet(OpenPack& pack, const std::string& path, int surfaces, int only, int spread,
                         std::string& error);

}  // namespace evgpack
