// The tile map: which picture each surface pixel's tile shows, worked out once per surface from
// a pack's candidate lists (pack/pack_candidates.h), or from best_match and second_match
// alone when the pack has none. The mosaic draws from it; the pack tool measures it.
#pragma once
#include <cstdint>

#include "pack/pack_format.h"

struct OpenPack;  // pack/pack_file.h

// The rule that spreads tiles over the candidates. DIFFUSE carries the colour difference from
// each colour's nearest picture on to the following tiles (region colour stays close); NOISE
// adds a position hash to the closeness instead. Both refuse the left and upper neighbours'
// pictures whenever another candidate exists and weigh against the nearby ones.
enum TileSpread : int { SPREAD_DIFFUSE = 0, SPREAD_NOISE = 1 };

// The working memory of one tile map build (about 124 KB), owned by the caller so that builds on
// different threads share nothing: the choices so far with two unused columns on each side and
// two unused rows on top (neighbours are read without bounds tests), and the colour carried to
// the following tiles. Every build starts by clearing what it uses.
struct TileMapScratch {
    static constexpr int GRID_STRIDE = PICTURE_EDGE + 4;
    uint16_t grid[(PICTURE_EDGE + 2) * GRID_STRIDE];
    int32_t carry[2][3][PICTURE_EDGE + 2];
};

// The picture of every surface pixel (240 x 240) for the surface `surface` whose own picture is
// `parent`, from the pack's candidate lists. Without lists it is tile_map_plain.
void tile_map_build(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* surface, uint16_t parent,
                    uint16_t* map, int spread = SPREAD_DIFFUSE);
// The mosaic's plain rule for every surface pixel: best_match, or second_match where best_match
// names the parent, whether or not the pack has lists.
void tile_map_plain(const OpenPack& pack, const uint16_t* surface, uint16_t parent, uint16_t* map);
