// Mosaic rendering. Per-zoom step tables replace a division per pixel; every write is clipped
// to the 240 x 240 picture area or the 80 x 80 minimap, whatever centre and offsets arrive.
#include "app/mosaic.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/viewer_pack.h"
#include "app/progress.h"
#include "pack/tile_map.h"
#include "render/blend.h"
#include "render/framebuffer.h"

uint16_t zoom = 8;
int32_t centre_col = PICTURE_HALF;
int32_t centre_row = PICTURE_HALF;
uint16_t current_picture = NO_PICTURE;
uint16_t parent_picture = NO_PICTURE;
uint16_t surface_image[PICTURE_PIXELS];
uint8_t thumb_steps[256];
uint8_t picture_steps[256];
uint16_t* visit_counts = nullptr;
HistoryEntry zoom_history[HISTORY_SIZE];
int16_t history_count = 0;
uint8_t recording = 0;

uint16_t tile_choice(uint16_t colour) {
    uint16_t t = viewer_pack.best_match[colour];
    return t == parent_picture ? viewer_pack.second_match[colour] : t;
}

uint16_t tile_map[PICTURE_PIXELS];
// The tile map's working memory (the mosaic builds it on the main thread only).
static TileMapScratch tile_map_scratch;

void tile_map_update() {
    if (viewer_pack.candidates.count)
        tile_map_build(viewer_pack, tile_map_scratch, surface_image, parent_picture, tile_map);
}

uint16_t tile_choice_at(int32_t col, int32_t row) {
    const int32_t i = row * PICTURE_EDGE + col;
    return viewer_pack.candidates.count ? tile_map[i] : tile_choice(surface_image[i]);
}

void zoom_tables_update() {
    // The tables hold 256 entries; a zoom is never above 240.
    const int z = std::min<int>(std::max<int>(zoom, 1), 256);
    const int t = viewer_pack.thumb_size;
    for (int i = 0; i < z; ++i) thumb_steps[i] = static_cast<uint8_t>(i * t / z);
    if (z > 31)
        for (int i = 0; i < z; ++i) picture_steps[i] = static_cast<uint8_t>(i * PICTURE_EDGE / z);
}

void tile_draw(int16_t x, int16_t y, uint16_t t, uint16_t colour) {
    const int z = std::min<int>(zoom, 256);
    const int col_start = x < 0 ? -x : 0, row_start = y < 0 ? -y : 0;
    const int col_end = x + z > PICTURE_EDGE ? PICTURE_EDGE - x : z;
    const int row_end = y + z > PICTURE_EDGE ? PICTURE_EDGE - y : z;
    if (col_start >= col_end || row_start >= row_end) return;
    for (int i = row_start; i < row_end; ++i) {
        uint16_t* out = draw_target + (y + i) * SCREEN_WIDTH + x;
        if (t >= viewer_pack.picture_count) {
            std::fill(out + col_start, out + col_end, 0);
        } else if (z > 40 && t == current_picture) {
            const uint16_t* src = picture_buffer + picture_steps[i] * PICTURE_EDGE;
            for (int j = col_start; j < col_end; ++j) out[j] = src[picture_steps[j]];
        } else {
            const size_t edge = viewer_pack.thumb_size;
            const uint16_t* src = viewer_pack.thumbnails + (static_cast<size_t>(t) * edge + thumb_steps[i]) * edge;
            if (z > 15) {
                for (int j = col_start; j < col_end; ++j) out[j] = src[thumb_steps[j]];
            } else {
                // Small tiles lean towards their pixel's flat colour: weight 2Z, plain at 16.
                for (int j = col_start; j < col_end; ++j) out[j] = blend_rgb565(colour, src[thumb_steps[j]], 2 * z);
            }
        }
    }
}

namespace {

constexpr int MAX_SPANS = PICTURE_EDGE + 2;  // tiles along one axis at zoom 1, plus both cut ends

// Rounds a / b down for b > 0 (C++ division rounds towards zero).
int floor_div(int a, int b) { return a >= 0 ? a / b : -((b - 1 - a) / b); }

// The visible part of one tile along one axis: screen pixels first .. end - 1 show tile pixels
// skip onwards, for surface column (or row) pos.
struct TileSpan {
    int first, end, skip;
    int32_t pos;
};

// The tiles mosaic_render draws along one axis: grid indices k0 .. k1 - 1 around the centre tile
// at surface position `centre`, tile k at screen position k x z + origin with edge `edge`. A
// tile is kept when its surface position lies in 0 .. 239 and part of it lies in the picture
// area. The spans come out in screen order and touch each other (the kept indices are
// consecutive). Returns their number.
int visible_spans(int32_t centre, int k0, int k1, int origin, int z, int edge, TileSpan* spans) {
    // Only indices with k x z + origin in -z + 1 .. 239 can reach the picture area.
    const int lo = std::max(k0, floor_div(-origin, z));
    const int hi = std::min(k1, floor_div(PICTURE_EDGE - 1 - origin, z) + 1);
    int n = 0;
    for (int k = lo; k < hi; ++k) {
        const int64_t pos = static_cast<int64_t>(centre) + k;
        if (pos < 0 || pos >= PICTURE_EDGE) continue;
        const int start = k * z + origin;
        const int first = std::max(start, 0), end = std::min(start + edge, PICTURE_EDGE);
        if (first < end) spans[n++] = TileSpan{first, end, first - start, static_cast<int32_t>(pos)};
    }
    return n;
}

// A tile drawn over its row after the thumbnail pass: black, or from the decoded picture.
struct OverSpan {
    int first, end, skip;
    bool black;
};

// Scratch rows of the tile pass (static: 1920 + 3 x 480 bytes).
const uint16_t* column_source[PICTURE_EDGE];  // each column's thumbnail pixel in thumbnail row 0
uint16_t tint_colour[PICTURE_EDGE];            // each column's surface colour (tinted zooms)
uint16_t thumb_line[PICTURE_EDGE];             // one gathered thumbnail row (tinted zooms)
TileSpan column_spans[MAX_SPANS], row_spans[MAX_SPANS];
OverSpan over_spans[MAX_SPANS];

// Draws the tiles of mosaic_render row by row; the pixels are exactly those of tile_draw for
// every kept tile. A tile row is set up once (tile choice, source columns, tint colours), then
// each screen row is one gather over the whole row, one blend of the whole row below zoom 16
// (blend_rgb565_row works on many pixels per step), and the black and decoded tiles on top.
// A screen row that samples the same thumbnail row as the one above it is a copy of it.
void tiles_draw(int32_t col, int32_t row, int j0, int j1, int i0, int i1, int origin_x, int origin_y) {
    const int z = zoom;
    const int edge = std::min(z, 256);  // the step tables hold 256 entries (zoom stays <= 240)
    const bool tint = z <= 15, decoded_centre = z > 40;
    const size_t t_size = viewer_pack.thumb_size;
    const int columns = visible_spans(col, j0, j1, origin_x, z, edge, column_spans);
    const int rows = visible_spans(row, i0, i1, origin_y, z, edge, row_spans);
    if (columns == 0) return;
    const int left = column_spans[0].first, width = column_spans[columns - 1].end - left;
    for (int r = 0; r < rows; ++r) {
        const TileSpan& rs = row_spans[r];
        const uint16_t* colours = surface_image + rs.pos * PICTURE_EDGE;
        const uint16_t* chosen = viewer_pack.candidates.count ? tile_map + rs.pos * PICTURE_EDGE : nullptr;
        int overs = 0;
        bool any_thumb = false;
        for (int c = 0; c < columns; ++c) {
            const TileSpan& cs = column_spans[c];
            const uint16_t colour = colours[cs.pos], t = chosen ? chosen[cs.pos] : tile_choice(colour);
            if (t >= viewer_pack.picture_count || (decoded_centre && t == current_picture)) {
                over_spans[overs++] = OverSpan{cs.first, cs.end, cs.skip, t >= viewer_pack.picture_count};
                // Any readable pixel keeps the gather free of branches; it is drawn over.
                std::fill(column_source + cs.first, column_source + cs.end, viewer_pack.thumbnails);
                continue;
            }
            any_thumb = true;
            const uint16_t* thumb = viewer_pack.thumbnails + t * t_size * t_size;
            for (int x = cs.first; x < cs.end; ++x) column_source[x] = thumb + thumb_steps[cs.skip + x - cs.first];
            if (tint) std::fill(tint_colour + cs.first, tint_colour + cs.end, colour);
        }
        for (int y = rs.first; y < rs.end; ++y) {
            const int ty = rs.skip + y - rs.first;
            uint16_t* out = draw_target + y * SCREEN_WIDTH;
            if (y > rs.first && thumb_steps[ty] == thumb_steps[ty - 1]) {
                std::memcpy(out + left, out - SCREEN_WIDTH + left, width * sizeof(uint16_t));
            } else if (any_thumb) {
                // thumbnails is readable here: some tile of the row names a picture.
                const size_t offset = thumb_steps[ty] * t_size;
                if (tint) {
                    for (int x = left; x < left + width; ++x) thumb_line[x] = column_source[x][offset];
                    std::memcpy(out + left, tint_colour + left, width * sizeof(uint16_t));
                    blend_rgb565_row(out + left, thumb_line + left, width, 2 * z);
                } else {
                    for (int x = left; x < left + width; ++x) out[x] = column_source[x][offset];
                }
            }
            for (int k = 0; k < overs; ++k) {
                const OverSpan& o = over_spans[k];
                if (o.black) {
                    std::fill(out + o.first, out + o.end, 0);
                    continue;
                }
                const uint16_t* src = picture_buffer + picture_steps[ty] * PICTURE_EDGE;
                if (z == PICTURE_EDGE) {
                    // At zoom 240 the step table is the identity.
                    std::memcpy(out + o.first, src + o.skip, (o.end - o.first) * sizeof(uint16_t));
                } else {
                    for (int x = o.first; x < o.end; ++x) out[x] = src[picture_steps[o.skip + x - o.first]];
                }
            }
        }
    }
}

}  // namespace

void mosaic_render(int32_t col, int32_t row, int16_t offset_x, int16_t offset_y) {
    if (recording && history_count <= HISTORY_SIZE - 1) {
        zoom_history[history_count++] = HistoryEntry{static_cast<int16_t>(zoom), static_cast<int16_t>(col),
                                                     static_cast<int16_t>(row), offset_x, offset_y};
    }
    if (zoom == 0) zoom = 1;
    minimap_update();
    if (zoom == 1) return;
    if (zoom > 40) centre_picture_update();
    zoom_tables_update();
    const int z = zoom;
    const int h = PICTURE_HALF / z + 1, base = PICTURE_HALF - z / 2;
    // The tile range is widened by the offsets counted in tiles; tiles_draw keeps the visible ones.
    const int j0 = offset_x > 0 ? -h - offset_x : -h, j1 = offset_x < 0 ? h + 1 - offset_x : h + 1;
    const int i0 = offset_y > 0 ? -h - offset_y : -h, i1 = offset_y < 0 ? h + 1 - offset_y : h + 1;
    tiles_draw(col, row, j0, j1, i0, i1, base + offset_x, base + offset_y);
    // The minimap fades from the surface to the current picture between zoom 60 and 240.
    if (z > 60) minimap_blend_picture(static_cast<uint8_t>((32 * z - 1920) / 180));
}

void minimap_update() {
    const int32_t n = PICTURE_EDGE / std::max<int>(zoom, 1);
    const int32_t x0 = (centre_col - n / 2) / 3, y0 = (centre_row - n / 2) / 3;
    minimap_draw(static_cast<int16_t>(x0), static_cast<int16_t>(x0 + n / 3), static_cast<int16_t>(y0),
                 static_cast<int16_t>(y0 + n / 3));
}

static inline uint16_t& minimap_pixel(int mx, int my) {
    return draw_target[(MINIMAP_TOP + my) * SCREEN_WIDTH + MINIMAP_LEFT + mx];
}

void minimap_draw(int16_t x0, int16_t x1, int16_t y0, int16_t y1) {
    for (int my = 0; my < MINIMAP_SIZE; ++my) {
        const uint16_t* src = surface_image + (1 + 3 * my) * PICTURE_EDGE + 1;
        uint16_t* out = &minimap_pixel(0, my);
        for (int mx = 0; mx < MINIMAP_SIZE; ++mx) out[mx] = src[3 * mx];
    }
    if (zoom > 119) return;
    // Clamped on both sides, so no mark pixel can leave the minimap.
    const int left = std::clamp<int>(x0, 0, MINIMAP_SIZE - 1), right = std::clamp<int>(x1, 0, MINIMAP_SIZE - 1);
    const int top = std::clamp<int>(y0, 0, MINIMAP_SIZE - 1), bottom = std::clamp<int>(y1, 0, MINIMAP_SIZE - 1);
    if (left > right || top > bottom) return;
    static const std::array<uint16_t, MINIMAP_SIZE> red = [] {
        std::array<uint16_t, MINIMAP_SIZE> row{};
        row.fill(0xF800);
        return row;
    }();
    for (int my = top; my <= bottom; ++my) blend_rgb565_row(&minimap_pixel(left, my), red.data(), right - left + 1, 12);
    for (int my = top; my <= bottom; ++my) {
        minimap_pixel(left, my) = blend_rgb565(minimap_pixel(left, my), 0xFFFF, 24);
        minimap_pixel(right, my) = blend_rgb565(minimap_pixel(right, my), 0xFFFF, 24);
    }
    for (int mx = left; mx <= right; ++mx) {
        minimap_pixel(mx, top) = blend_rgb565(minimap_pixel(mx, top), 0xFFFF, 24);
        minimap_pixel(mx, bottom) = blend_rgb565(minimap_pixel(mx, bottom), 0xFFFF, 24);
    }
}

void minimap_blend_picture(uint8_t weight) {
    // Weight 0 leaves every pixel as it is and weight 32 gives the picture's pixel exactly.
    if (weight == 0) return;
    uint16_t line[MINIMAP_SIZE];
    for (int my = 0; my < MINIMAP_SIZE; ++my) {
        const uint16_t* src = picture_buffer + (1 + 3 * my) * PICTURE_EDGE + 1;
        uint16_t* out = &minimap_pixel(0, my);
        if (weight == 32) {
            for (int mx = 0; mx < MINIMAP_SIZE; ++mx) out[mx] = src[3 * mx];
            continue;
        }
        for (int mx = 0; mx < MINIMAP_SIZE; ++mx) line[mx] = src[3 * mx];
        blend_rgb565_row(out, line, MINIMAP_SIZE, weight);
    }
}

void centre_picture_update() {
    const int32_t c = std::clamp<int32_t>(centre_col, 0, PICTURE_EDGE - 1);
    const int32_t r = std::clamp<int32_t>(centre_row, 0, PICTURE_EDGE - 1);
    const uint16_t t = tile_choice_at(c, r);
    if (t != current_picture) picture_show(t);
    current_picture = t;
}

void surface_reset() {
    zoom = 1;
    std::memcpy(surface_image, picture_buffer, sizeof surface_image);
    for (int y = 0; y < PICTURE_EDGE; ++y)
        std::memcpy(draw_target + y * SCREEN_WIDTH, picture_buffer + y * PICTURE_EDGE, PICTURE_EDGE * sizeof(uint16_t));
    centre_col = centre_row = PICTURE_HALF;
    parent_picture = current_picture;
    tile_map_update();
    history_count = 0;
    if (visit_counts && current_picture < viewer_pack.picture_count) visit_counts[current_picture] += 1;
    minimap_update();
}

void surface_zoom_view(uint16_t s) {
    const int32_t k = (256 - static_cast<int32_t>(s)) / 4;
    const int32_t fc = (k * centre_col + (32 - k) * PICTURE_HALF) / 32;
    const int32_t fr = (k * centre_row + (32 - k) * PICTURE_HALF) / 32;
    const int32_t span = (15 * s) >> 4, half = (15 * s) >> 5;
    const int32_t top = std::clamp<int32_t>(fr - half, 0, std::max<int32_t>(0, PICTURE_EDGE - span));
    const int32_t left = std::clamp<int32_t>(fc - half, 0, std::max<int32_t>(0, PICTURE_EDGE - span));
    // The source column of every screen column, worked out once for all rows.
    uint8_t source_col[PICTURE_EDGE];
    bool straight = true;  // source columns left, left + 1, ...: rows are plain copies
    for (int j = 0; j < PICTURE_EDGE; ++j) {
        source_col[j] = static_cast<uint8_t>(std::min<int32_t>((left * 256 + j * s) >> 8, PICTURE_EDGE - 1));
        straight = straight && source_col[j] == source_col[0] + j;
    }
    int32_t previous_sy = -1;
    for (int i = 0; i < PICTURE_EDGE; ++i) {
        const int32_t sy = std::min<int32_t>((top * 256 + i * s) >> 8, PICTURE_EDGE - 1);
        const uint16_t* src = surface_image + sy * PICTURE_EDGE;
        uint16_t* out = draw_target + i * SCREEN_WIDTH;
        if (sy == previous_sy) {
            std::memcpy(out, out - SCREEN_WIDTH, PICTURE_EDGE * sizeof(uint16_t));  // magnified: the row repeats
        } else if (straight) {
            std::memcpy(out, src + source_col[0], PICTURE_EDGE * sizeof(uint16_t));
        } else {
            for (int j = 0; j < PICTURE_EDGE; ++j) out[j] = src[source_col[j]];
        }
        previous_sy = sy;
    }
    minimap_draw(static_cast<int16_t>(left / 3), static_cast<int16_t>(left / 3 + span / 3),
                 static_cast<int16_t>(top / 3), static_cast<int16_t>(top / 3 + span / 3));
}
