// The tile map: per surface pixel, one of its colour's candidates, chosen in one pass in
// reading order against the choices already made above and to the left.
//
// A colour's list is laid over 16 lanes (one per candidate slot, in list order); a lane is
// closed when its slot is unused or names the parent. Every pixel prices all 16 lanes at once
// and takes the cheapest open lane, the first in list order on a tie.
//
// Lists of section version 2 are spread by a stricter rule: a picture two tiles to the left or
// two above is refused too (after the direct neighbours), and a small per-position hash breaks
// ties, so that a colour with three or four candidates does not settle into stripes or a
// checkerboard. Lists of version 3 (every colour's nearest pictures, however far) are spread by
// a rule of their own, described at build_view_grid. Version 1 and 2 lists keep the rule they
// were made for, so older packs show the same tiles as ever.
#include "pack/tile_map.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "media/rgb565.h"
#include "pack/pack_candidates.h"
#include "pack/pack_file.h"

namespace {

constexpr int LANES = CANDIDATE_MAX;
static_assert(LANES == 16, "the vector code prices 16 lanes as two vectors of eight");

// Costs are 16-bit: a colour distance (at most 9 x 279 = 2511, the target running up to 24 past
// either end of a channel), repeats (at most 10 x NEAR_REPEAT = 2400) and the noise term
// (at most 236) stay below SAME_AS_NEIGHBOUR, so a left or upper neighbour's picture loses to
// every other open lane, and the sum stays below CLOSED.
// Weighted channel differences: red 2, green 4, blue 3 (green counts most, as the eye sees it).
constexpr int WEIGHT_R = 2, WEIGHT_G = 4, WEIGHT_B = 3;
constexpr int16_t SAME_AS_NEIGHBOUR = 1 << 14;
// Version 2: a picture two to the left or two above costs more than any colour and repeat
// difference, less than a direct neighbour.
constexpr int16_t SAME_AT_TWO = 1 << 13;
// Version 2: the per-position tie-break, 0 .. 63 (about 7 steps of every 8-bit channel), so
// near-equal candidates share a region in an irregular pattern.
constexpr int TIE_SHIFT = 10;
constexpr int16_t CLOSED = 0x7FFF;
// Each repeat of a picture among the 10 placed nearby costs as much as a colour about 27 steps
// (8-bit, all channels) farther away. Chosen with `evgpack quality` on 395 real photos with 16
// candidates: 160 gave 10.2 distinct pictures per zoom-40 screen, 240 10.5, 320 10.6, the
// zoom-8 likeness 0.32, 0.37 and 0.40 delta E worse than without candidates.
constexpr int NEAR_REPEAT = 240;
// Carried colour difference per channel is kept within +-48 (in 1/16 units below).
constexpr int ERROR_LIMIT = 48 * 16;
constexpr int HIGHEST_OPEN_COST = 9 * (255 + ERROR_LIMIT / 32) + 10 * NEAR_REPEAT + 63 * NEAR_REPEAT / 64;
static_assert(HIGHEST_OPEN_COST < SAME_AT_TWO && HIGHEST_OPEN_COST + SAME_AT_TWO + SAME_AS_NEIGHBOUR < CLOSED,
              "lane costs must keep their order in 16 bits");
// Odd 16-bit multipliers, one per lane: lane s's tie-break is the top six bits of the position
// hash times TIE_MULTIPLIER[s] (16-bit, as the vector path computes it).
alignas(16) constexpr uint16_t TIE_MULTIPLIER[LANES] = {0x9E37, 0x7F4B, 0xC2B3, 0x2545, 0xA54F, 0x6A09,
                                                        0xD1B5, 0x3C6F, 0x8E51, 0x5851, 0xB7E1, 0x14F3,
                                                        0xE6D9, 0x4A7D, 0x93C5, 0x2F2B};

// TileMapScratch::rows holds three rows of width + 4 entries (the current one and the two above,
// in turn) and ROW_SLACK more: rows are read eight entries at a time from two to the left, so
// the last reads run past the row's end.
constexpr int ROW_SLACK = 8;

// One colour's list over the lanes; a run of one colour (common: smooth areas) keeps it.
struct alignas(16) ListLanes {
    uint16_t picture[LANES];  // CANDIDATE_UNUSED past K
    int16_t closed[LANES];    // CLOSED for an unused or parent slot, else 0
    uint64_t mean[LANES];     // the picture means of each lane (some picture's for an unused one)
    uint8_t noise_shift[LANES];  // 2 x the lane's place among the open ones
    bool open;         // any lane open
    bool parent_near;  // the parent is among lanes 0 .. 7
    bool few_open;     // at most two lanes open
    int halves;  // 1 when lanes 8 .. 15 are all closed, else 2
};

#if defined(__SSE2__)

void lanes_fill(ListLanes& lanes, const OpenPack& pack, const uint64_t* means, const uint16_t* list, int k,
                uint16_t parent, bool noise) {
    // A full list is read as it stands; a shorter one is copied out first so that nothing past
    // the table's end is read.
    alignas(16) uint16_t copy[LANES];
    if (k < LANES) {
        std::fill(copy, copy + LANES, CANDIDATE_UNUSED);
        std::memcpy(copy, list, static_cast<size_t>(k) * sizeof *list);
        list = copy;
    }
    const __m128i unused = _mm_set1_epi16(static_cast<int16_t>(CANDIDATE_UNUSED));
    const __m128i par = _mm_set1_epi16(static_cast<int16_t>(parent));
    // Each lane's picture number, the unused one lowered to the last picture's (unsigned minimum
    // as p less the saturated p - last): the lane reads some picture's mean, never chosen.
    const __m128i last = _mm_set1_epi16(static_cast<int16_t>(pack.picture_count - 1));
    alignas(16) uint16_t readable[LANES];
    int closed_bits = 0;
    for (int v = 0; v < 2; ++v) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + 8 * v));
        const __m128i is_parent = _mm_cmpeq_epi16(p, par);
        const __m128i closed = _mm_or_si128(_mm_cmpeq_epi16(p, unused), is_parent);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes.picture + 8 * v), p);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes.closed + 8 * v), _mm_and_si128(closed, _mm_set1_epi16(CLOSED)));
        _mm_store_si128(reinterpret_cast<__m128i*>(readable + 8 * v), _mm_sub_epi16(p, _mm_subs_epu16(p, last)));
        closed_bits |= (_mm_movemask_epi8(_mm_packs_epi16(closed, closed)) & 0xFF) << 8 * v;
        if (v == 0) lanes.parent_near = _mm_movemask_epi8(is_parent) != 0;
    }
    // The means, two lanes per vector.
    for (int s = 0; s < LANES; s += 2)
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes.mean + s),
                        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(means + readable[s])),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(means + readable[s + 1]))));
    lanes.open = closed_bits != 0xFFFF;
    // Clearing the lowest open lane's bit twice leaves nothing when at most two are open.
    const unsigned open_bits = ~static_cast<unsigned>(closed_bits) & 0xFFFF, past_one = open_bits & (open_bits - 1);
    lanes.few_open = (past_one & (past_one - 1)) == 0;
    lanes.halves = (closed_bits & 0xFF00) == 0xFF00 ? 1 : 2;
    if (noise)
        for (int s = 0, open = 0; s < LANES; ++s) {
            lanes.noise_shift[s] = static_cast<uint8_t>(2 * open);
            open += !(closed_bits >> s & 1);
        }
}

#else

void lanes_fill(ListLanes& lanes, const OpenPack&, const uint64_t* means, const uint16_t* list, int k,
                uint16_t parent, bool) {
    int open = 0;
    lanes.parent_near = false;
    for (int s = 0; s < LANES; ++s) {
        const uint16_t t = s < k ? list[s] : CANDIDATE_UNUSED;
        const bool usable = t != CANDIDATE_UNUSED && t != parent;
        lanes.picture[s] = t;
        lanes.closed[s] = usable ? 0 : CLOSED;
        lanes.mean[s] = means[t == CANDIDATE_UNUSED ? 0 : t];
        lanes.noise_shift[s] = static_cast<uint8_t>(2 * open);
        open += usable;
        lanes.parent_near = lanes.parent_near || (s < 8 && t == parent);
    }
    lanes.open = open > 0;
    lanes.few_open = open <= 2;
}

#endif

// The pictures whose repeats cost extra: rows y - 1 and y - 2 at x - 2 .. x + 2 and the one two
// to the left (padding outside the picture is unused, which no open lane is); `left` and `up`
// are the pictures that are refused while another lane is open.
struct Neighbours {
    const uint16_t* up1;  // row y - 1 from x - 2
    const uint16_t* up2;  // row y - 2 from x - 2
    uint16_t left2, left, up;
    int16_t refuse;      // added for the left or upper neighbour's picture
    int16_t refuse_two;  // added for the picture two to the left or two above (version 2, else 0)
};

// Version 2's tie-breaks of the 16 lanes for position hash `hash`.
// (Version 3 keeps the top 16 - SHIFT bits instead.)
template <int SHIFT = TIE_SHIFT>
inline void tie_breaks(uint32_t hash, int16_t* noise) {
#if defined(__SSE2__)
    const __m128i h = _mm_set1_epi16(static_cast<int16_t>(hash >> 16));
    for (int v = 0; v < 2; ++v) {
        const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(TIE_MULTIPLIER + 8 * v));
        _mm_store_si128(reinterpret_cast<__m128i*>(noise + 8 * v), _mm_srli_epi16(_mm_mullo_epi16(h, m), SHIFT));
    }
#else
    for (int s = 0; s < LANES; ++s)
        noise[s] = static_cast<int16_t>(static_cast<uint16_t>((hash >> 16) * TIE_MULTIPLIER[s]) >> SHIFT);
#endif
}

inline uint32_t position_hash(uint32_t x, uint32_t y) {
    uint32_t h = (x * 0x9E3779B1u) ^ (y * 0x85EBCA77u);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

#if defined(__SSE2__)

inline __m128i broadcast_word(__m128i v, int lane) {
    switch (lane) {
        case 0: return _mm_shuffle_epi32(_mm_shufflelo_epi16(v, 0x00), 0);
        case 1: return _mm_shuffle_epi32(_mm_shufflelo_epi16(v, 0x55), 0);
        case 2: return _mm_shuffle_epi32(_mm_shufflelo_epi16(v, 0xAA), 0);
        case 3: return _mm_shuffle_epi32(_mm_shufflelo_epi16(v, 0xFF), 0);
        default: return _mm_shuffle_epi32(_mm_shufflehi_epi16(v, 0x00), 0xAA);  // lane 4
    }
}

// The lane of the cheapest open candidate for the target colour (r, g, b), `noise` holding
// the noise rule's per-lane term (or zeros). HALVES 1 prices lanes 0 .. 7 only, for lists whose
// lanes 8 .. 15 are all closed (most colours of a real pack have at most eight candidates).
// SPACED prices the pictures two to the left and two above too (version 2 lists).
template <int HALVES, bool SPACED>
int cheapest_lane(const ListLanes& lanes, int r, int g, int b, const Neighbours& nb, const int16_t* noise) {
    // Colour distance, two lanes per vector: |mean - target| per channel, weighted and summed
    // by pairs (madd), then the pairs of four lanes added and packed back to 16 bits.
    const __m128i target = _mm_set_epi16(0, static_cast<int16_t>(b), static_cast<int16_t>(g), static_cast<int16_t>(r),
                                         0, static_cast<int16_t>(b), static_cast<int16_t>(g), static_cast<int16_t>(r));
    const __m128i weight = _mm_set_epi16(0, WEIGHT_B, WEIGHT_G, WEIGHT_R, 0, WEIGHT_B, WEIGHT_G, WEIGHT_R);
    const __m128i zero = _mm_setzero_si128();
    __m128i sums[LANES / 4];
    for (int q = 0; q < 2 * HALVES; ++q) {
        __m128i half[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.mean + 4 * q + 2 * h));
            const __m128i d = _mm_sub_epi16(m, target);
            half[h] = _mm_madd_epi16(_mm_max_epi16(d, _mm_sub_epi16(zero, d)), weight);
        }
        const __m128 a = _mm_castsi128_ps(half[0]), c = _mm_castsi128_ps(half[1]);
        sums[q] = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, c, _MM_SHUFFLE(2, 0, 2, 0))),
                                _mm_castps_si128(_mm_shuffle_ps(a, c, _MM_SHUFFLE(3, 1, 3, 1))));
    }
    __m128i cost[2] = {_mm_packs_epi32(sums[0], sums[1]), _mm_set1_epi16(CLOSED)};
    if (HALVES == 2) cost[1] = _mm_packs_epi32(sums[2], sums[3]);

    // Repeats among the ten nearby, and the left and upper neighbours.
    const __m128i row1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nb.up1));
    const __m128i row2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nb.up2));
    const __m128i near[10] = {broadcast_word(row1, 0), broadcast_word(row1, 1), broadcast_word(row1, 3),
                              broadcast_word(row1, 4), broadcast_word(row2, 0), broadcast_word(row2, 1),
                              broadcast_word(row2, 2), broadcast_word(row2, 3), broadcast_word(row2, 4),
                              _mm_set1_epi16(static_cast<int16_t>(nb.left2))};
    const __m128i left = _mm_set1_epi16(static_cast<int16_t>(nb.left));
    const __m128i up = broadcast_word(row1, 2);
    const __m128i left2 = near[9], up2 = broadcast_word(row2, 2);
    const __m128i repeat = _mm_set1_epi16(NEAR_REPEAT), refused = _mm_set1_epi16(nb.refuse);
    const __m128i refused_two = _mm_set1_epi16(nb.refuse_two);
    for (int v = 0; v < HALVES; ++v) {
        const __m128i pic = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.picture + 8 * v));
        __m128i seen = zero;
        for (const __m128i& n : near) seen = _mm_sub_epi16(seen, _mm_cmpeq_epi16(pic, n));
        const __m128i beside = _mm_or_si128(_mm_cmpeq_epi16(pic, left), _mm_cmpeq_epi16(pic, up));
        __m128i c = _mm_add_epi16(cost[v], _mm_mullo_epi16(seen, repeat));
        c = _mm_add_epi16(c, _mm_and_si128(beside, refused));
        if (SPACED) {
            const __m128i two = _mm_or_si128(_mm_cmpeq_epi16(pic, left2), _mm_cmpeq_epi16(pic, up2));
            c = _mm_add_epi16(c, _mm_and_si128(two, refused_two));
        }
        c = _mm_add_epi16(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(noise + 8 * v)));
        cost[v] = _mm_max_epi16(c, _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.closed + 8 * v)));
    }

    // The lowest cost spread over every lane, then the first lane holding it.
    __m128i low = HALVES == 2 ? _mm_min_epi16(cost[0], cost[1]) : cost[0];
    low = _mm_min_epi16(low, _mm_shuffle_epi32(low, 0x4E));
    low = _mm_min_epi16(low, _mm_shuffle_epi32(low, 0xB1));
    low = _mm_min_epi16(low, _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, 0xB1), 0xB1));
    const int at = _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(cost[0], low), _mm_cmpeq_epi16(cost[1], low)));
    return __builtin_ctz(static_cast<unsigned>(at));
}

#else

int cheapest_lane(const ListLanes& lanes, int r, int g, int b, const Neighbours& nb, const int16_t* noise) {
    const uint16_t near[10] = {nb.up1[0], nb.up1[1], nb.up1[3], nb.up1[4], nb.up2[0],
                               nb.up2[1], nb.up2[2], nb.up2[3], nb.up2[4], nb.left2};
    int chosen = 0, lowest = CLOSED + 1;
    for (int s = 0; s < LANES; ++s) {
        const uint16_t t = lanes.picture[s];
        const uint64_t m = lanes.mean[s];
        int cost = WEIGHT_R * std::abs(r - static_cast<int>(m & 0xFFFF)) +
                   WEIGHT_G * std::abs(g - static_cast<int>(m >> 16 & 0xFFFF)) +
                   WEIGHT_B * std::abs(b - static_cast<int>(m >> 32 & 0xFFFF));
        for (uint16_t n : near) cost += t == n ? NEAR_REPEAT : 0;
        cost += (t == nb.left || t == nb.up) ? nb.refuse : 0;
        cost += (t == nb.left2 || t == nb.up2[2]) ? nb.refuse_two : 0;
        cost = std::max(cost + noise[s], static_cast<int>(lanes.closed[s]));
        if (cost < lowest) chosen = s, lowest = cost;
    }
    return chosen;
}

#endif

// Version 3. Each open lane costs its perceived colour distance to the target (the pixel's
// colour in CIELAB plus half the difference carried from earlier tiles), plus the colour's
// in-view cost when its picture is already shown within the view window (five rows above, five
// columns either side, and five tiles to the left: about one close-up screen), plus smaller
// costs for the picture two tiles to the left or above and on the upper diagonals; the left and
// upper neighbours are refused as in version 2. A picture in view costs the same however often
// it is shown, so the nearest pictures fill most tiles and each farther one appears about once
// per screen, which is what makes a screen varied.
constexpr int VIEW_RADIUS = 5;
constexpr int VIEW_ROWS = VIEW_RADIUS + 1;  // the rows the window reads, the current one too
constexpr int VIEW_PAD = 8;                 // unused entries on either side of each row
// Measured with `evgpack quality` on 310 real photos: two apart 30 and diagonal 10 left 3.9% of
// tiles two apart the same for a zoom-8 likeness 0.32 worse than version 1; 20 and 0 left 7.2%
// for 0.27; 25 and 5 (kept) 5.2% for 0.26 (with the in-view margin of pack_candidates.cpp).
constexpr int16_t SAME_TWO_APART = 25, SAME_DIAGONAL = 5;
// The tie-break: 0 .. 3 per lane (under a fifth of a delta E), the top two bits of the lane's
// hash (0 .. 7 gave the same figures within 0.01 delta E and 0.2 pictures).
constexpr int VIEW_TIE_SHIFT = 14;
// Carried difference per channel within +-16 (CIELAB, times 4, in 1/16 units); 24 left regions
// closer but tiles 0.005 delta E farther, 12 let a screen fall to 7 pictures.
constexpr int LAB_ERROR_LIMIT = 16 * 4 * 16;
// A colour distance stays below 7500 (differences within +-900 after the carry), an in-view
// cost below 8000.
static_assert(7500 + 8000 + SAME_AS_NEIGHBOUR + 2 * SAME_TWO_APART + 2 * SAME_DIAGONAL + 3 < CLOSED,
              "version 3 lane costs must stay below CLOSED in 16 bits");

// What the version-3 cost reads around a tile besides its colour.
struct ViewAround {
    uint16_t left, up, left2, up2, up_left, up_right;
    int16_t refuse;           // added for the left or upper neighbour's picture
    int16_t in_view_cost;     // added for a picture in view
    const uint8_t* seen;      // per picture number: its tiles in view
    const int16_t* noise;     // per lane: the tie-break
};

// A tile's own colour: CIELAB lanes (colour_lanes), its two weights (colour_weights) and the
// same weights as 16-bit lanes (L, a, b, 0) for the vector path's high-half multiply.
struct ViewColour {
    uint64_t lab;
    uint16_t weights;
    uint64_t weight_lanes;
};

ViewColour view_colour(const CandidateLists& lists, uint16_t colour) {
    const uint16_t w = lists.colour_weights[colour];
    const uint64_t wl = static_cast<uint64_t>(w & 0xFF) << 8, wab = static_cast<uint64_t>(w >> 8) << 8;
    return {lists.colour_lab[colour], w, wl | wab << 16 | wab << 32};
}

// Version 3's carried colour difference, per column of a row: L, a and b and a fourth entry
// that stays 0, so that the vector path moves one column in one step. The difference carried
// along the row to the next tile (7/16 of each tile's) is held apart in a RowCarry, as every
// tile waits for it.
constexpr int CARRY_LANES = 4;

#if defined(__SSE2__)

// L, a, b and 0 as 16-bit lanes (the carry stays within +-LAB_ERROR_LIMIT).
using RowCarry = __m128i;

inline __m128i clamp_lab_carry16(__m128i w) {
    const __m128i limit = _mm_set1_epi16(LAB_ERROR_LIMIT);
    return _mm_min_epi16(_mm_max_epi16(w, _mm_sub_epi16(_mm_setzero_si128(), limit)), limit);
}

// Four 32-bit values clamped to +-LAB_ERROR_LIMIT, through 16 bits (a value past the 16-bit
// range saturates there and then clamps to the same limit).
inline __m128i clamp_lab_carry(__m128i v) {
    const __m128i w = clamp_lab_carry16(_mm_packs_epi32(v, v));
    return _mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16);
}

// The carry kept in a column (already clamped) as a RowCarry.
inline RowCarry carry_load(const int32_t* column) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column));
    return _mm_packs_epi32(v, v);
}

// The cheapest open lane for `target` (16-bit L, a, b, 0 in both halves). The terms that do
// not depend on the colour are summed apart, and a closed lane's sum made CLOSED, so that the
// colour distance (which waits for the previous tile's carry) takes one saturating add.
int cheapest_view_lane(const ListLanes& lanes, __m128i target, uint64_t weight_lanes, const ViewAround& v) {
    const __m128i weight = _mm_set1_epi64x(static_cast<int64_t>(weight_lanes));
    __m128i cost[2];
    for (int v2 = 0; v2 < 2; ++v2) {
        __m128i sums[2];
        for (int q = 0; q < 2; ++q) {
            __m128i half[2];
            for (int h = 0; h < 2; ++h) {
                const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.mean + 8 * v2 + 4 * q + 2 * h));
                const __m128i u = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(target, m), 4), weight);
                half[h] = _mm_madd_epi16(u, u);
            }
            const __m128 x = _mm_castsi128_ps(half[0]), y = _mm_castsi128_ps(half[1]);
            const __m128i sum = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0))),
                                              _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1))));
            const __m128i root = _mm_cvttps_epi32(_mm_sqrt_ps(_mm_cvtepi32_ps(sum)));
            sums[q] = _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(root, 2), root), 3);
        }
        cost[v2] = _mm_packs_epi32(sums[0], sums[1]);
    }
    auto pair = [&](int s) { return v.seen[lanes.picture[s]] | v.seen[lanes.picture[s + 1]] << 8; };
    __m128i seen = _mm_cvtsi32_si128(pair(0));
    seen = _mm_insert_epi16(seen, pair(2), 1);
    seen = _mm_insert_epi16(seen, pair(4), 2);
    seen = _mm_insert_epi16(seen, pair(6), 3);
    seen = _mm_insert_epi16(seen, pair(8), 4);
    seen = _mm_insert_epi16(seen, pair(10), 5);
    seen = _mm_insert_epi16(seen, pair(12), 6);
    seen = _mm_insert_epi16(seen, pair(14), 7);
    auto same = [](__m128i pic, uint16_t t) { return _mm_cmpeq_epi16(pic, _mm_set1_epi16(static_cast<int16_t>(t))); };
    const __m128i refused = _mm_set1_epi16(v.refuse), two = _mm_set1_epi16(SAME_TWO_APART);
    const __m128i diagonal = _mm_set1_epi16(SAME_DIAGONAL), zero = _mm_setzero_si128();
    const __m128i in_view_cost = _mm_set1_epi16(v.in_view_cost);
    for (int h = 0; h < 2; ++h) {
        const __m128i pic = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.picture + 8 * h));
        const __m128i counts = h == 0 ? _mm_unpacklo_epi8(seen, zero) : _mm_unpackhi_epi8(seen, zero);
        const __m128i in_view = _mm_andnot_si128(_mm_cmpeq_epi16(counts, zero), in_view_cost);
        const __m128i near = _mm_add_epi16(_mm_and_si128(_mm_or_si128(same(pic, v.left), same(pic, v.up)), refused),
                                           _mm_add_epi16(_mm_and_si128(same(pic, v.left2), two),
                                                         _mm_and_si128(same(pic, v.up2), two)));
        const __m128i corner = _mm_add_epi16(_mm_and_si128(same(pic, v.up_left), diagonal),
                                             _mm_and_si128(same(pic, v.up_right), diagonal));
        const __m128i noise = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.noise + 8 * h));
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(in_view, near), _mm_add_epi16(corner, noise));
        const __m128i closed = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.closed + 8 * h));
        // An open lane's total stays below CLOSED (no saturation); a closed one's saturates to it.
        cost[h] = _mm_adds_epi16(cost[h], _mm_max_epi16(sum, closed));
    }
    __m128i low = _mm_min_epi16(cost[0], cost[1]);
    low = _mm_min_epi16(low, _mm_shuffle_epi32(low, 0x4E));
    low = _mm_min_epi16(low, _mm_shuffle_epi32(low, 0xB1));
    low = _mm_min_epi16(low, _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, 0xB1), 0xB1));
    const int at = _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(cost[0], low), _mm_cmpeq_epi16(cost[1], low)));
    return __builtin_ctz(static_cast<unsigned>(at));
}

// The chosen lane for a tile whose columns of the carry rows start at `now` and `next`, and,
// when `carry` is not null, the tile's colour shifted by the carry (/ 32, toward 0) and its
// difference from the chosen picture spread on: 7/16 to the next tile (*carry, with the
// carry already in the next column), 3/16, 5/16 and 1/16 to the row below.
int choose_view_tile(const ListLanes& lanes, const ViewColour& colour, const ViewAround& v, const int32_t* now,
                     int32_t* next, RowCarry* carry) {
    __m128i target = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&colour.lab));
    if (carry) {
        const __m128i c = *carry;
        target = _mm_add_epi16(target, _mm_srai_epi16(_mm_add_epi16(c, _mm_and_si128(_mm_srai_epi16(c, 15),
                                                                                      _mm_set1_epi16(31))),
                                                      5));
    }
    const int chosen = cheapest_view_lane(lanes, _mm_unpacklo_epi64(target, target), colour.weight_lanes, v);
    if (carry) {
        const __m128i d = _mm_sub_epi16(target, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(lanes.mean + chosen)));
        const __m128i d7 = _mm_sub_epi16(_mm_slli_epi16(d, 3), d);
        *carry = clamp_lab_carry16(_mm_adds_epi16(carry_load(now + 2 * CARRY_LANES), d7));
        const __m128i e = _mm_srai_epi32(_mm_unpacklo_epi16(d, d), 16);
        const __m128i e3 = _mm_add_epi32(_mm_slli_epi32(e, 1), e), e5 = _mm_add_epi32(_mm_slli_epi32(e, 2), e);
        auto at_column = [next](int dx) { return reinterpret_cast<__m128i*>(next + CARRY_LANES * dx); };
        _mm_storeu_si128(at_column(0), _mm_add_epi32(_mm_loadu_si128(at_column(0)), e3));
        _mm_storeu_si128(at_column(1), _mm_add_epi32(_mm_loadu_si128(at_column(1)), e5));
        _mm_storeu_si128(at_column(2), _mm_add_epi32(_mm_loadu_si128(at_column(2)), e));
    }
    return chosen;
}

#else

struct RowCarry {
    int32_t lab[3];
};

inline RowCarry carry_load(const int32_t* column) { return {{column[0], column[1], column[2]}}; }

int choose_view_tile(const ListLanes& lanes, const ViewColour& colour, const ViewAround& v, const int32_t* now,
                     int32_t* next, RowCarry* carry) {
    int target[3];
    for (int ch = 0; ch < 3; ++ch) target[ch] = lane_value(colour.lab, ch) + (carry ? carry->lab[ch] / 32 : 0);
    int chosen = 0, lowest = CLOSED + 1;
    for (int s = 0; s < LANES; ++s) {
        const uint16_t t = lanes.picture[s];
        const uint64_t m = lanes.mean[s];
        int cost = colour_distance(target[0] - lane_value(m, 0), target[1] - lane_value(m, 1),
                                   target[2] - lane_value(m, 2), colour.weights & 0xFF, colour.weights >> 8);
        cost += v.seen[t] != 0 ? v.in_view_cost : 0;
        cost += (t == v.left || t == v.up) ? v.refuse : 0;
        cost += SAME_TWO_APART * ((t == v.left2) + (t == v.up2)) + SAME_DIAGONAL * ((t == v.up_left) + (t == v.up_right));
        cost = std::max(cost + v.noise[s], static_cast<int>(lanes.closed[s]));
        if (cost < lowest) chosen = s, lowest = cost;
    }
    if (carry)
        for (int ch = 0; ch < 3; ++ch) {
            const int e = target[ch] - lane_value(lanes.mean[chosen], ch);
            carry->lab[ch] = std::min(std::max(now[2 * CARRY_LANES + ch] + 7 * e, -LAB_ERROR_LIMIT), LAB_ERROR_LIMIT);
            next[ch] += 3 * e;
            next[CARRY_LANES + ch] += 5 * e;
            next[2 * CARRY_LANES + ch] += e;
        }
    return chosen;
}

#endif

// The carried error of row y (now) and row y + 1 (next, cleared), per channel, from the two
// alternating halves of the carry buffer (6 rows of carry_row entries).
void carry_rows(int32_t* carry, size_t carry_row, int y, int32_t* now[3], int32_t* next[3]) {
    for (int ch = 0; ch < 3; ++ch) {
        now[ch] = carry + ((y & 1) * 3 + ch) * carry_row;
        next[ch] = carry + (((y + 1) & 1) * 3 + ch) * carry_row;
        std::fill(next[ch], next[ch] + carry_row, 0);
    }
}

// The version-3 map of a grid (see above). TileMapScratch::rows holds VIEW_ROWS rows of
// width + 2 VIEW_PAD entries; `seen` counts the tiles of each picture number (the unused
// number too: padding) in the window, moved one column per tile and cleared after each row;
// `carry` holds two rows (this one and the next, in turn) of width + 2 columns.
void build_view_grid(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* colours, int width, int height,
                     uint16_t parent, uint16_t* map, int spread) {
    const CandidateLists& lists = pack.candidates;
    const int k = lists.count;
    const size_t stride = static_cast<size_t>(width) + 2 * VIEW_PAD;
    const size_t carry_row = (static_cast<size_t>(width) + 2) * CARRY_LANES;
    if (scratch.rows.size() < VIEW_ROWS * stride) scratch.rows.resize(VIEW_ROWS * stride);
    if (scratch.carry.size() < 2 * carry_row) scratch.carry.resize(2 * carry_row);
    scratch.seen.assign(65536, 0);
    std::fill(scratch.carry.begin(), scratch.carry.begin() + 2 * carry_row, 0);
    std::fill(scratch.rows.begin(), scratch.rows.begin() + VIEW_ROWS * stride, CANDIDATE_UNUSED);
    uint8_t* const seen = scratch.seen.data();
    const bool diffuse = spread == SPREAD_DIFFUSE;
    alignas(16) int16_t noise[LANES] = {};
    ListLanes lanes = {};
    ViewColour own = {};
    for (int y = 0; y < height; ++y) {
        int32_t* const now = scratch.carry.data() + (y & 1) * carry_row;
        int32_t* const next = scratch.carry.data() + ((y + 1) & 1) * carry_row;
        std::fill(next, next + carry_row, 0);
        // Row y - dy of the window, each from its first column.
        const uint16_t* above[VIEW_ROWS];
        for (int dy = 0; dy < VIEW_ROWS; ++dy)
            above[dy] = scratch.rows.data() + static_cast<size_t>((y + VIEW_ROWS - dy) % VIEW_ROWS) * stride + VIEW_PAD;
        uint16_t* const row = scratch.rows.data() + static_cast<size_t>(y % VIEW_ROWS) * stride + VIEW_PAD;
        const uint16_t* const line = colours + static_cast<size_t>(y) * width;
        uint16_t* const out = map + static_cast<size_t>(y) * width;
        // The window of column 0: rows above at columns -5 .. 5 (this row's left part is padding).
        for (int dy = 1; dy < VIEW_ROWS; ++dy)
            for (int dx = -VIEW_RADIUS; dx <= VIEW_RADIUS; ++dx) ++seen[above[dy][dx]];
        int32_t listed_colour = -1;
        int16_t in_view_cost = 0;
        const int last_x = width - 1;
        RowCarry carry = carry_load(now + CARRY_LANES);
        for (int x = 0; x < width; ++x) {
            if (x > 0) {
                for (int dy = 1; dy < VIEW_ROWS; ++dy) {
                    --seen[above[dy][x - 1 - VIEW_RADIUS]];
                    ++seen[above[dy][x + VIEW_RADIUS]];
                }
                ++seen[row[x - 1]];
                if (x > VIEW_RADIUS) --seen[row[x - 1 - VIEW_RADIUS]];
            }
            const uint16_t colour = line[x];
            // The per-colour tables are read in surface colour order, mostly missing the cache
            // (as in build_grid): asking a few pixels ahead hides the wait.
            const uint16_t ahead = line[std::min(x + 16, last_x)];
            __builtin_prefetch(lists.table + static_cast<size_t>(ahead) * k);
            __builtin_prefetch(lists.table + static_cast<size_t>(ahead) * k + k - 1);
            __builtin_prefetch(lists.colour_lab + ahead);
            __builtin_prefetch(lists.colour_weights + ahead);
            __builtin_prefetch(lists.in_view_cost + 2 * ahead);
            if (colour != listed_colour) {
                lanes_fill(lanes, pack, lists.lab_means, lists.table + static_cast<size_t>(colour) * k, k, parent, false);
                listed_colour = colour;
                own = view_colour(lists, colour);
                // The parent among the eight nearest leaves one fewer to cycle through: the
                // in-view cost reaches one further.
                in_view_cost = lists.in_view_cost[2 * colour + lanes.parent_near];
            }
            uint16_t t;
            if (!lanes.open) {
                t = pack.best_match[colour];
                t = t == parent ? pack.second_match[colour] : t;
            } else {
                const uint32_t hash = position_hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
                tie_breaks<VIEW_TIE_SHIFT>(hash, noise);
                // Two candidates can avoid a neighbour's picture only as a checkerboard: one tile
                // in four, by position, takes whichever is cheaper instead.
                const int16_t refuse = lanes.few_open && (hash & 3) == 0 ? 0 : SAME_AS_NEIGHBOUR;
                const ViewAround around = {row[x - 1],      above[1][x],      row[x - 2], above[2][x],  above[1][x - 1],
                                           above[1][x + 1], refuse, in_view_cost, seen, noise};
                const size_t column = static_cast<size_t>(x) * CARRY_LANES;
                t = lanes.picture[choose_view_tile(lanes, own, around, now + column, next + column,
                                                   diffuse ? &carry : nullptr)];
            }
            if (!lanes.open && diffuse) carry = carry_load(now + static_cast<size_t>(x + 2) * CARRY_LANES);
            out[x] = row[x] = t;
        }
        // Only pictures of the last window are counted: clearing them clears all.
        for (int dy = 0; dy < VIEW_ROWS; ++dy)
            for (int x = width - 2 - VIEW_RADIUS; x <= width + VIEW_RADIUS; ++x) seen[above[dy][x]] = 0;
        if (diffuse) {
#if defined(__SSE2__)
            for (size_t i = 0; i < carry_row; i += CARRY_LANES) {
                __m128i* const column = reinterpret_cast<__m128i*>(next + i);
                _mm_storeu_si128(column, clamp_lab_carry(_mm_loadu_si128(column)));
            }
#else
            for (size_t i = 0; i < carry_row; ++i) next[i] = std::min(std::max(next[i], -LAB_ERROR_LIMIT), LAB_ERROR_LIMIT);
#endif
        }
    }
}

// best_match, or second_match where best_match names the parent, for `count` colours.
void plain_rule(const OpenPack& pack, const uint16_t* colours, size_t count, uint16_t parent, uint16_t* map) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t t = pack.best_match[colours[i]];
        map[i] = t == parent ? pack.second_match[colours[i]] : t;
    }
}

}  // namespace

void tile_map_plain(const OpenPack& pack, const uint16_t* surface, uint16_t parent, uint16_t* map) {
    plain_rule(pack, surface, PICTURE_PIXELS, parent, map);
}

namespace {

// The build for a grid `width` wide, or FIXED_WIDTH wide when that is not 0: the surface's
// fixed width lets the compiler fold the row arithmetic, as it did before grids of any width.
template <int FIXED_WIDTH>
void build_grid(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* colours, int any_width, int height,
                uint16_t parent, uint16_t* map, int spread) {
    const int width = FIXED_WIDTH ? FIXED_WIDTH : any_width;
    const size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
    const int k = pack.candidates.count;
    const uint16_t* const candidate_table = pack.candidates.table;
    if (k == 0 || !candidate_table || !pack.candidates.means || pack.picture_count == 0) {
        plain_rule(pack, colours, cells, parent, map);
        return;
    }
    if (pack.candidates.version >= CANDIDATE_VERSION && pack.candidates.lab_means) {
        build_view_grid(pack, scratch, colours, width, height, parent, map, spread);
        return;
    }
    // Colour carried to the following tiles, in 1/16 channel units (7/16 right, 3/16, 5/16 and
    // 1/16 to the row below), per row parity and channel, indexed by column + 1.
    const size_t stride = static_cast<size_t>(width) + 4, carry_row = static_cast<size_t>(width) + 2;
    if (scratch.rows.size() < 3 * stride + ROW_SLACK) scratch.rows.resize(3 * stride + ROW_SLACK);
    if (scratch.carry.size() < 6 * carry_row) scratch.carry.resize(6 * carry_row);
    std::fill(scratch.carry.begin(), scratch.carry.begin() + 6 * carry_row, 0);
    std::fill(scratch.rows.begin(), scratch.rows.begin() + 3 * stride + ROW_SLACK, CANDIDATE_UNUSED);
    uint16_t* const rows = scratch.rows.data();
    int32_t* const carry = scratch.carry.data();
    const bool diffuse = spread == SPREAD_DIFFUSE;
    const bool spaced = pack.candidates.version >= CANDIDATE_VERSION_2;
    alignas(16) int16_t noise[LANES] = {};
    ListLanes lanes = {};
    for (int y = 0; y < height; ++y) {
        int32_t* now[3];
        int32_t* next[3];
        carry_rows(carry, carry_row, y, now, next);
        // This row's choices and the two rows above, each from two unused entries to its left.
        uint16_t* const row = rows + static_cast<size_t>(y % 3) * stride;
        const uint16_t* const up1 = rows + static_cast<size_t>((y + 2) % 3) * stride;
        const uint16_t* const up2 = rows + static_cast<size_t>((y + 1) % 3) * stride;
        const uint16_t* const line = colours + static_cast<size_t>(y) * width;
        uint16_t* const out = map + static_cast<size_t>(y) * width;
        const size_t ahead_limit = cells - 1 - static_cast<size_t>(y) * width;
        int32_t listed_colour = -1;
        uint16_t left2 = CANDIDATE_UNUSED, left = CANDIDATE_UNUSED;
        for (int x = 0; x < width; ++x) {
            const uint16_t colour = line[x];
            // The lists (128 KiB per candidate) are read in surface colour order, mostly missing
            // the cache: asking a few pixels ahead hides the wait.
            const uint16_t* ahead = candidate_table + static_cast<size_t>(line[std::min<size_t>(x + 16, ahead_limit)]) * k;
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + k - 1);
            if (colour != listed_colour) {
                lanes_fill(lanes, pack, pack.candidates.means, candidate_table + static_cast<size_t>(colour) * k, k, parent,
                           !diffuse);
                listed_colour = colour;
            }
            uint16_t t;
            if (!lanes.open) {
                t = pack.best_match[colour];
                t = t == parent ? pack.second_match[colour] : t;
            } else {
                // The target is the pixel's own colour plus what earlier tiles carried.
                uint8_t rgb[3];
                rgb565_unpack(colour, rgb);
                int r = rgb[0], g = rgb[1], b = rgb[2];
                if (diffuse) {
                    // Half the carried difference: the full amount made regions 0.02 delta E
                    // closer but tiles 0.01 farther and variety lower; none left regions 0.05
                    // farther.
                    r += now[0][x + 1] / 32, g += now[1][x + 1] / 32, b += now[2][x + 1] / 32;
                }
                int16_t refuse = SAME_AS_NEIGHBOUR, refuse_two = 0;
                if (!diffuse || spaced) {
                    const uint32_t hash = position_hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
                    if (!diffuse) {
                        for (int s = 0; s < LANES; ++s)
                            noise[s] = static_cast<int16_t>((hash >> lanes.noise_shift[s] & 0x3F) * NEAR_REPEAT / 64);
                    } else {
                        tie_breaks(hash, noise);
                    }
                    if (spaced) {
                        refuse_two = SAME_AT_TWO;
                        // Two candidates can avoid a neighbour's picture only as a checkerboard:
                        // one tile in four, by position, takes whichever is closer instead.
                        if (lanes.few_open && (hash & 3) == 0) refuse = refuse_two = 0;
                    }
                }
                const Neighbours nb = {up1 + x, up2 + x, left2, left, up1[x + 2], refuse, refuse_two};
#if defined(__SSE2__)
                const int s = spaced ? (lanes.halves == 1 ? cheapest_lane<1, true>(lanes, r, g, b, nb, noise)
                                                          : cheapest_lane<2, true>(lanes, r, g, b, nb, noise))
                                     : (lanes.halves == 1 ? cheapest_lane<1, false>(lanes, r, g, b, nb, noise)
                                                          : cheapest_lane<2, false>(lanes, r, g, b, nb, noise));
#else
                const int s = cheapest_lane(lanes, r, g, b, nb, noise);
#endif
                t = lanes.picture[s];
                if (diffuse) {
                    const uint64_t got = lanes.mean[s];
                    const int diff[3] = {r - static_cast<int>(got & 0xFFFF), g - static_cast<int>(got >> 16 & 0xFFFF),
                                         b - static_cast<int>(got >> 32 & 0xFFFF)};
                    for (int ch = 0; ch < 3; ++ch) {
                        const int e = diff[ch];
                        now[ch][x + 2] = std::min(std::max(now[ch][x + 2] + 7 * e, -ERROR_LIMIT), ERROR_LIMIT);
                        next[ch][x] += 3 * e;
                        next[ch][x + 1] += 5 * e;
                        next[ch][x + 2] += e;
                    }
                }
            }
            out[x] = row[x + 2] = t;
            left2 = left, left = t;
        }
        if (diffuse)
            for (int ch = 0; ch < 3; ++ch)
                for (size_t x = 0; x < carry_row; ++x)
                    next[ch][x] = std::min(std::max(next[ch][x], -ERROR_LIMIT), ERROR_LIMIT);
    }
}

}  // namespace

void tile_map_build(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* surface, uint16_t parent,
                    uint16_t* map, int spread) {
    build_grid<PICTURE_EDGE>(pack, scratch, surface, PICTURE_EDGE, PICTURE_EDGE, parent, map, spread);
}

void tile_map_build_grid(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* colours, int width,
                         int height, uint16_t parent, uint16_t* map, int spread) {
    if (width >= 1 && height >= 1) build_grid<0>(pack, scratch, colours, width, height, parent, map, spread);
}
