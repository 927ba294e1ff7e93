// The tile map: which picture each surface pixel's tile shows, worked out once per surface from
// the open pack's candidate lists (pack/pack_candidates.h), or from best_match and second_match
// alone when the pack has none. The mosaic draws from it; the pack tool measures it.
#pragma once
#include <cstdint>

// The rule that spreads tiles over the candidates. DIFFUSE carries the colour difference from
// each colour's nearest picture on to the following tiles (region colour stays close); NOISE
// adds a position hash to the closeness instead. Both refuse the left and upper neighbours'
// pictures whenever another candidate exists and weigh against the nearby ones.
enum TileSpread : int { SPREAD_DIFFUSE = 0, SPREAD_NOISE = 1 };

// The picture of every surface pixel (240 x 240) for the surface `surface` whose own picture is
// `parent`, from the open pack's candidate lists. Without lists every entry is best_match, or
// second_match where best_match names the parent (the mosaic's plain rule).
void tile_map_build(const uint16_t* surface, uint16_t parent, uint16_t* map, int spread = SPREAD_DIFFUSE);
