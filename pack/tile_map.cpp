// The tile map: per surface pixel, one of its colour's candidates, chosen in one pass in
// reading order against the choices already made above and to the left.
#include "pack/tile_map.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/rgb565.h"
#include "pack/pack_candidates.h"
#include "pack/pack_file.h"

namespace {

// Weighted channel difference of two 0x00RRGGBB colours (green counts most, as the eye sees it).
inline int colour_distance(int r, int g, int b, uint32_t c) {
    return 2 * std::abs(r - static_cast<int>(c >> 16)) + 4 * std::abs(g - static_cast<int>((c >> 8) & 0xFF)) +
           3 * std::abs(b - static_cast<int>(c & 0xFF));
}

inline uint32_t position_hash(uint32_t x, uint32_t y) {
    uint32_t h = (x * 0x9E3779B1u) ^ (y * 0x85EBCA77u);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// A left or upper neighbour's picture: refused while any other candidate remains.
constexpr int SAME_AS_NEIGHBOUR = 1 << 20;
// Each repeat of a picture among the 10 placed nearby costs as much as a colour about 27 steps
// (8-bit, all channels) farther away. Chosen with `evgpack quality` on 395 real photos with 16
// candidates: 160 gave 10.2 distinct pictures per zoom-40 screen, 240 10.5, 320 10.6, the
// zoom-8 likeness 0.32, 0.37 and 0.40 delta E worse than without candidates.
constexpr int NEAR_REPEAT = 240;
// Carried colour difference per channel is kept within +-48 (in 1/16 units below).
constexpr int ERROR_LIMIT = 48 * 16;

// The choices so far with two unused columns on each side and two unused rows on top
// (244 x 242 x 2 bytes, 118 KB), so the neighbours are read without bounds tests.
constexpr int GRID_STRIDE = PICTURE_EDGE + 4;
uint16_t grid[(PICTURE_EDGE + 2) * GRID_STRIDE];
// How often each picture lies among the current pixel's neighbours, in the low 8 bits, valid
// where the upper bits hold the pixel's number + 1 (indexed by picture number, 256 KB).
uint32_t seen_near[65536];

}  // namespace

void tile_map_build(const uint16_t* surface, uint16_t parent, uint16_t* map, int spread) {
    const int k = candidate_count;
    if (k == 0 || !candidate_table || !picture_means) {
        for (int i = 0; i < PICTURE_PIXELS; ++i) {
            const uint16_t t = best_match[surface[i]];
            map[i] = t == parent ? second_match[surface[i]] : t;
        }
        return;
    }
    // Colour carried to the following tiles, in 1/16 channel units (7/16 right, 3/16, 5/16 and
    // 1/16 to the row below), indexed by column + 1.
    static int32_t carry[2][3][PICTURE_EDGE + 2];
    std::memset(carry, 0, sizeof carry);
    std::memset(grid, 0xFF, sizeof grid);  // CANDIDATE_UNUSED
    std::memset(seen_near, 0, sizeof seen_near);
    const bool diffuse = spread == SPREAD_DIFFUSE;
    for (int y = 0; y < PICTURE_EDGE; ++y) {
        int32_t(*now)[PICTURE_EDGE + 2] = carry[y & 1];
        int32_t(*next)[PICTURE_EDGE + 2] = carry[(y + 1) & 1];
        for (int ch = 0; ch < 3; ++ch) std::memset(next[ch], 0, sizeof next[ch]);
        // A run of one colour (common: smooth areas) keeps the usable list of its first pixel.
        int32_t listed_colour = -1;
        uint16_t usable[CANDIDATE_MAX];
        int n = 0;
        for (int x = 0; x < PICTURE_EDGE; ++x) {
            const int i = y * PICTURE_EDGE + x;
            const uint16_t colour = surface[i];
            // The lists (128 KiB per candidate) are read in surface colour order, mostly missing
            // the cache: asking a few pixels ahead hides the wait.
            const uint16_t* ahead = candidate_table + static_cast<size_t>(surface[std::min(i + 16, PICTURE_PIXELS - 1)]) * k;
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + k - 1);
            if (colour != listed_colour) {
                const uint16_t* list = candidate_table + static_cast<size_t>(colour) * k;
                listed_colour = colour;
                n = 0;
                for (int s = 0; s < k; ++s) {
                    usable[n] = list[s];
                    n += list[s] != CANDIDATE_UNUSED && list[s] != parent;
                }
            }
            if (n == 0) {
                const uint16_t t = best_match[colour];
                map[i] = grid[(y + 2) * GRID_STRIDE + x + 2] = t == parent ? second_match[colour] : t;
                continue;
            }
            // Pictures already placed nearby: rows y - 1 and y - 2 at x - 2 .. x + 2 and the two
            // to the left (the padding outside the picture is unused, which no candidate is),
            // counted once per pixel so each candidate looks its count up instead of comparing.
            const uint16_t* at = grid + (y + 2) * GRID_STRIDE + x + 2;
            const uint16_t left = at[-1], up = at[-GRID_STRIDE];
            const uint16_t near[10] = {at[-2],
                                       at[-GRID_STRIDE - 2], at[-GRID_STRIDE - 1], at[-GRID_STRIDE + 1], at[-GRID_STRIDE + 2],
                                       at[-2 * GRID_STRIDE - 2], at[-2 * GRID_STRIDE - 1], at[-2 * GRID_STRIDE],
                                       at[-2 * GRID_STRIDE + 1], at[-2 * GRID_STRIDE + 2]};
            const uint32_t stamp = static_cast<uint32_t>(i + 1) << 8;
            for (int j = 0; j < 10; ++j) {
                uint32_t& seen = seen_near[near[j]];
                seen = (seen & ~0xFFu) == stamp ? seen + 1 : stamp + 1;
            }
            // The target is the pixel's own colour plus what earlier tiles carried.
            uint8_t rgb[3];
            rgb565_unpack(colour, rgb);
            int r = rgb[0], g = rgb[1], b = rgb[2];
            if (diffuse) {
                // Half the carried difference: the full amount made regions 0.02 delta E closer
                // but tiles 0.01 farther and variety lower; none left regions 0.05 farther.
                r += now[0][x + 1] / 32, g += now[1][x + 1] / 32, b += now[2][x + 1] / 32;
            }
            const uint32_t noise = diffuse ? 0 : position_hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
            int chosen = 0, lowest = 0x7FFFFFFF;
            for (int c = 0; c < n; ++c) {
                const uint16_t t = usable[c];
                int cost = colour_distance(r, g, b, picture_means[t]);
                cost += (t == left || t == up) ? SAME_AS_NEIGHBOUR : 0;
                const uint32_t seen = seen_near[t];
                cost += (seen & ~0xFFu) == stamp ? static_cast<int>(seen & 0xFF) * NEAR_REPEAT : 0;
                if (!diffuse) cost += static_cast<int>((noise >> (2 * c)) & 0x3F) * NEAR_REPEAT / 64;
                const bool lower = cost < lowest;
                chosen = lower ? c : chosen;
                lowest = lower ? cost : lowest;
            }
            map[i] = usable[chosen];
            grid[(y + 2) * GRID_STRIDE + x + 2] = usable[chosen];
            if (diffuse) {
                const uint32_t got = picture_means[usable[chosen]];
                const int diff[3] = {r - static_cast<int>(got >> 16), g - static_cast<int>((got >> 8) & 0xFF),
                                     b - static_cast<int>(got & 0xFF)};
                for (int ch = 0; ch < 3; ++ch) {
                    const int e = diff[ch];
                    now[ch][x + 2] = std::min(std::max(now[ch][x + 2] + 7 * e, -ERROR_LIMIT), ERROR_LIMIT);
                    next[ch][x] += 3 * e;
                    next[ch][x + 1] += 5 * e;
                    next[ch][x + 2] += e;
                }
            }
        }
        if (diffuse)
            for (int ch = 0; ch < 3; ++ch)
                for (int x = 0; x < PICTURE_EDGE + 2; ++x)
                    next[ch][x] = std::min(std::max(next[ch][x], -ERROR_LIMIT), ERROR_LIMIT);
    }
}
