// The tile map: which picture each surface pixel's tile shows, worked out once per surface from
// a pack's candidate lists (pack/pack_candidates.h), or from best_match and second_match
// alone when the pack has none. The mosaic draws from it; the pack tool measures it.
#pragma once
#include <cstdint>
#include <vector>

#include "pack/pack_format.h"

struct OpenPack;  // pack/pack_file.h

// The rule that spreads tiles over the candidates. DIFFUSE carries the colour difference from
// each colour's nearest picture on to the following tiles (region colour stays close); NOISE
// adds a position hash to the closeness instead. Both refuse the left and upper neighbours'
// pictures whenever another candidate exists and weigh against the nearby ones.
enum TileSpread : int { SPREAD_DIFFUSE = 0, SPREAD_NOISE = 1 };

// The working memory of one tile map build, owned by the caller so that builds on different
// threads share nothing: the last three rows of choices with two unused entries on each side
// (neighbours are read without bounds tests), and the colour carried to the following tiles.
// Both grow to the widest grid built with them (about 4 KB for a surface) and every build
// starts by clearing what it uses.
struct TileMapScratch {
    std::vector<uint16_t> rows;
    std::vector<int32_t> carry;
    std::vector<uint8_t> seen;  // version 3: tiles of each picture in view (one entry per picture)
};

// The picture of every surface pixel (240 x 240) for the surface `surface` whose own picture is
// `parent`, from the pack's candidate lists. Without lists it is tile_map_plain.
void tile_map_build(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* surface, uint16_t parent,
                    uint16_t* map, int spread = SPREAD_DIFFUSE);
// The same choice for any grid of RGB565 colours: `colours` holds `height` rows of `width`
// colours, and `map` gets the picture for each of them in the same order (width x height
// entries). Each tile is chosen against the tiles above and to the left as on a surface, so a
// 240 x 240 grid gives tile_map_build's map. No tile shows `parent` while another candidate is
// left (a number no picture has, such as 0xFFFF, refuses none). Nothing is written when width
// or height is below 1.
void tile_map_build_grid(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* colours, int width,
                         int height, uint16_t parent, uint16_t* map, int spread = SPREAD_DIFFUSE);
// The mosaic's plain rule for every surface pixel: best_match, or second_match where best_match
// names the parent, whether or not the pack has lists.
void tile_map_plain(const OpenPack& pack, const uint16_t* surface, uint16_t parent, uint16_t* map);
