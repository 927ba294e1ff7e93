// Mosaic rendering. Per-zoom step tables replace a division per pixel; every write is clipped
// to the 240 x 240 picture area or the 80 x 80 minimap, whatever centre and offsets arrive.
#include "app/mosaic.h"

#include <algorithm>
#include <cstring>

#include "app/navigation.h"
#include "app/progress.h"
#include "render/blend.h"
#include "runtime/framebuffer.h"

uint16_t zoom = 8;
int32_t centre_col = 120;
int32_t centre_row = 120;
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
    uint16_t t = best_match[colour];
    return t == parent_picture ? second_match[colour] : t;
}

void zoom_tables_update() {
    // The tables hold 256 entries; a zoom is never above 240.
    const int z = std::min<int>(std::max<int>(zoom, 1), 256);
    const int t = thumb_size;
    for (int i = 0; i < z; ++i) thumb_steps[i] = static_cast<uint8_t>(i * t / z);
    if (z > 31)
        for (int i = 0; i < z; ++i) picture_steps[i] = static_cast<uint8_t>(i * PICTURE_EDGE / z);
}

void tile_draw(int16_t x, int16_t y, uint16_t t, uint16_t colour) {
    const int z = std::min<int>(zoom, 256);
    const int col_start = x < 0 ? -x : 0, row_start = y < 0 ? -y : 0;
    const int col_end = x + z > PICTURE_AREA ? PICTURE_AREA - x : z;
    const int row_end = y + z > PICTURE_AREA ? PICTURE_AREA - y : z;
    if (col_start >= col_end || row_start >= row_end) return;
    for (int i = row_start; i < row_end; ++i) {
        uint16_t* out = draw_target + (y + i) * SCREEN_WIDTH + x;
        if (t >= picture_count) {
            std::fill(out + col_start, out + col_end, 0);
        } else if (z > 40 && t == current_picture) {
            const uint16_t* src = picture_buffer + picture_steps[i] * PICTURE_EDGE;
            for (int j = col_start; j < col_end; ++j) out[j] = src[picture_steps[j]];
        } else {
            const uint16_t* src = thumbnails + (static_cast<size_t>(t) * thumb_size + thumb_steps[i]) * thumb_size;
            if (z > 15) {
                for (int j = col_start; j < col_end; ++j) out[j] = src[thumb_steps[j]];
            } else {
                // Small tiles lean towards their pixel's flat colour: weight 2Z, plain at 16.
                for (int j = col_start; j < col_end; ++j) out[j] = blend_rgb565(colour, src[thumb_steps[j]], 2 * z);
            }
        }
    }
}

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
    const int h = 120 / z + 1, base = 120 - z / 2;
    const int j0 = offset_x > 0 ? -h - offset_x : -h, j1 = offset_x < 0 ? h + 1 - offset_x : h + 1;
    const int i0 = offset_y > 0 ? -h - offset_y : -h, i1 = offset_y < 0 ? h + 1 - offset_y : h + 1;
    for (int i = i0; i < i1; ++i) {
        const int32_t r = row + i;
        if (r < 0 || r >= PICTURE_AREA) continue;
        for (int j = j0; j < j1; ++j) {
            const int32_t c = col + j;
            if (c < 0 || c >= PICTURE_AREA) continue;
            const int sx = j * z + base + offset_x, sy = i * z + base + offset_y;
            if (sx >= PICTURE_AREA || sy >= PICTURE_AREA || sx + z <= 0 || sy + z <= 0) continue;
            const uint16_t colour = surface_image[r * PICTURE_EDGE + c];
            tile_draw(static_cast<int16_t>(sx), static_cast<int16_t>(sy), tile_choice(colour), colour);
        }
    }
    // The minimap fades from the surface to the current picture between zoom 60 and 240.
    if (z > 60) minimap_blend_picture(static_cast<uint8_t>((32 * z - 1920) / 180));
}

void minimap_update() {
    const int32_t n = PICTURE_AREA / std::max<int>(zoom, 1);
    const int32_t x0 = (centre_col - n / 2) / 3, y0 = (centre_row - n / 2) / 3;
    minimap_draw(static_cast<int16_t>(x0), static_cast<int16_t>(x0 + n / 3), static_cast<int16_t>(y0),
                 static_cast<int16_t>(y0 + n / 3));
}

static inline uint16_t& minimap_pixel(int mx, int my) {
    return draw_target[(MINIMAP_TOP + my) * SCREEN_WIDTH + MINIMAP_LEFT + mx];
}

void minimap_draw(int16_t x0, int16_t x1, int16_t y0, int16_t y1) {
    for (int my = 0; my < MINIMAP_SIZE; ++my)
        for (int mx = 0; mx < MINIMAP_SIZE; ++mx)
            minimap_pixel(mx, my) = surface_image[(1 + 3 * my) * PICTURE_EDGE + 1 + 3 * mx];
    if (zoom > 119) return;
    // Clamped on both sides, so no mark pixel can leave the minimap.
    const int left = std::clamp<int>(x0, 0, MINIMAP_SIZE - 1), right = std::clamp<int>(x1, 0, MINIMAP_SIZE - 1);
    const int top = std::clamp<int>(y0, 0, MINIMAP_SIZE - 1), bottom = std::clamp<int>(y1, 0, MINIMAP_SIZE - 1);
    if (left > right || top > bottom) return;
    for (int my = top; my <= bottom; ++my)
        for (int mx = left; mx <= right; ++mx) minimap_pixel(mx, my) = blend_rgb565(minimap_pixel(mx, my), 0xF800, 12);
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
    for (int my = 0; my < MINIMAP_SIZE; ++my)
        for (int mx = 0; mx < MINIMAP_SIZE; ++mx)
            minimap_pixel(mx, my) =
                blend_rgb565(minimap_pixel(mx, my), picture_buffer[(1 + 3 * my) * PICTURE_EDGE + 1 + 3 * mx], weight);
}

void centre_picture_update() {
    const int32_t c = std::clamp<int32_t>(centre_col, 0, PICTURE_AREA - 1);
    const int32_t r = std::clamp<int32_t>(centre_row, 0, PICTURE_AREA - 1);
    const uint16_t t = tile_choice(surface_image[r * PICTURE_EDGE + c]);
    if (t != current_picture) picture_show(t);
    current_picture = t;
}

void surface_reset() {
    zoom = 1;
    std::memcpy(surface_image, picture_buffer, sizeof surface_image);
    for (int y = 0; y < PICTURE_AREA; ++y)
        std::memcpy(draw_target + y * SCREEN_WIDTH, picture_buffer + y * PICTURE_EDGE, PICTURE_EDGE * sizeof(uint16_t));
    centre_col = centre_row = 120;
    parent_picture = current_picture;
    history_count = 0;
    if (visit_counts && current_picture < picture_count) visit_counts[current_picture] += 1;
    minimap_update();
}

void surface_zoom_view(uint16_t s) {
    const int32_t k = (256 - static_cast<int32_t>(s)) / 4;
    const int32_t fc = (k * centre_col + (32 - k) * 120) / 32, fr = (k * centre_row + (32 - k) * 120) / 32;
    const int32_t span = (15 * s) >> 4, half = (15 * s) >> 5;
    const int32_t top = std::clamp<int32_t>(fr - half, 0, std::max<int32_t>(0, PICTURE_AREA - span));
    const int32_t left = std::clamp<int32_t>(fc - half, 0, std::max<int32_t>(0, PICTURE_AREA - span));
    for (int i = 0; i < PICTURE_AREA; ++i) {
        const int32_t sy = std::min<int32_t>((top * 256 + i * s) >> 8, PICTURE_AREA - 1);
        const uint16_t* src = surface_image + sy * PICTURE_EDGE;
        uint16_t* out = draw_target + i * SCREEN_WIDTH;
        for (int j = 0; j < PICTURE_AREA; ++j) out[j] = src[std::min<int32_t>((left * 256 + j * s) >> 8, PICTURE_AREA - 1)];
    }
    minimap_draw(static_cast<int16_t>(left / 3), static_cast<int16_t>(left / 3 + span / 3),
                 static_cast<int16_t>(top / 3), static_cast<int16_t>(top / 3 + span / 3));
}
