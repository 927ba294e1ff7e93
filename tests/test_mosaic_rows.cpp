// The row-by-row mosaic renderer and the magnified surface against plain per-tile and per-pixel
// references: for random zooms, centres, offsets, parents, tables naming missing pictures and
// thumbnail sizes, every pixel of the 240 x 320 target must come out the same, including the
// pixels of skipped tile positions, which keep what the target held.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "app/mosaic.h"
#include "app/progress.h"
#include "render/blend.h"
#include "runtime/framebuffer.h"
#include "tests/support/viewer_fixture.h"

namespace {

constexpr int TARGET_PIXELS = 240 * 320;

uint16_t& minimap_at(int mx, int my) { return draw_target[(240 + my) * 240 + 160 + mx]; }

void reference_minimap_draw(int x0, int x1, int y0, int y1) {
    for (int my = 0; my < 80; ++my)
        for (int mx = 0; mx < 80; ++mx) minimap_at(mx, my) = surface_image[(1 + 3 * my) * 240 + 1 + 3 * mx];
    if (zoom > 119) return;
    x0 = std::clamp(x0, 0, 79), x1 = std::clamp(x1, 0, 79), y0 = std::clamp(y0, 0, 79), y1 = std::clamp(y1, 0, 79);
    for (int my = y0; my <= y1; ++my)
        for (int mx = x0; mx <= x1; ++mx) minimap_at(mx, my) = blend_rgb565(minimap_at(mx, my), 0xF800, 12);
    for (int my = y0; my <= y1; ++my)
        for (int mx : {x0, x1}) minimap_at(mx, my) = blend_rgb565(minimap_at(mx, my), 0xFFFF, 24);
    for (int mx = x0; mx <= x1; ++mx)
        for (int my : {y0, y1}) minimap_at(mx, my) = blend_rgb565(minimap_at(mx, my), 0xFFFF, 24);
}

// mosaic_render as one tile_draw call per kept tile position, without the history.
void reference_render(int32_t col, int32_t row, int16_t offset_x, int16_t offset_y) {
    const int32_t n = 240 / zoom;
    const int32_t x0 = (centre_col - n / 2) / 3, y0 = (centre_row - n / 2) / 3;
    reference_minimap_draw(x0, x0 + n / 3, y0, y0 + n / 3);
    if (zoom == 1) return;
    if (zoom > 40) centre_picture_update();
    zoom_tables_update();
    const int z = zoom, h = 120 / z + 1, base = 120 - z / 2;
    const int j0 = offset_x > 0 ? -h - offset_x : -h, j1 = offset_x < 0 ? h + 1 - offset_x : h + 1;
    const int i0 = offset_y > 0 ? -h - offset_y : -h, i1 = offset_y < 0 ? h + 1 - offset_y : h + 1;
    for (int i = i0; i < i1; ++i)
        for (int j = j0; j < j1; ++j) {
            const int32_t c = col + j, r = row + i;
            const int sx = j * z + base + offset_x, sy = i * z + base + offset_y;
            // Far-off positions are skipped before the 16-bit tile corner could wrap.
            if (c < 0 || c > 239 || r < 0 || r > 239 || sx <= -z || sy <= -z || sx > 239 || sy > 239) continue;
            const uint16_t colour = surface_image[r * 240 + c];
            tile_draw(static_cast<int16_t>(sx), static_cast<int16_t>(sy), tile_choice(colour), colour);
        }
    if (z > 60) {
        const int w = (32 * z - 1920) / 180;
        for (int my = 0; my < 80; ++my)
            for (int mx = 0; mx < 80; ++mx)
                minimap_at(mx, my) = blend_rgb565(minimap_at(mx, my), picture_buffer[(1 + 3 * my) * 240 + 1 + 3 * mx], w);
    }
}

void reference_surface_zoom_view(int32_t s) {
    const int32_t k = (256 - s) / 4;
    const int32_t fc = (k * centre_col + (32 - k) * 120) / 32, fr = (k * centre_row + (32 - k) * 120) / 32;
    const int32_t span = (15 * s) >> 4, half = (15 * s) >> 5;
    const int32_t top = std::clamp(fr - half, 0, std::max(0, 240 - span));
    const int32_t left = std::clamp(fc - half, 0, std::max(0, 240 - span));
    for (int i = 0; i < 240; ++i)
        for (int j = 0; j < 240; ++j)
            draw_target[i * 240 + j] = surface_image[std::min((top * 256 + i * s) >> 8, 239) * 240 +
                                                     std::min((left * 256 + j * s) >> 8, 239)];
    reference_minimap_draw(left / 3, left / 3 + span / 3, top / 3, top / 3 + span / 3);
}

// Runs `draw` on the fast and the reference path from the same random target contents and
// returns the first pixel where they differ (-1 when none).
template <typename Fast, typename Reference>
int first_difference(std::mt19937& rng, Fast fast, Reference reference) {
    std::vector<uint16_t> a(TARGET_PIXELS), b;
    for (uint16_t& p : a) p = static_cast<uint16_t>(rng());
    b = a;
    uint16_t* const saved = draw_target;
    draw_target = a.data();
    fast();
    draw_target = b.data();
    reference();
    draw_target = saved;
    const auto diff = std::mismatch(a.begin(), a.end(), b.begin());
    return diff.first == a.end() ? -1 : static_cast<int>(diff.first - a.begin());
}

// A pack of `pictures` pictures with thumb x thumb thumbnails of scrambled pixels, random
// tables (some entries name no picture), a random surface and a random decoded picture.
void random_session(const TempDir& dir, std::mt19937& rng, int pictures, int thumb) {
    PackSpec spec;
    spec.pictures = pictures;
    spec.thumb_size_field = static_cast<uint16_t>(thumb);
    spec.thumb_pixel = [](int p, int x, int y) { return static_cast<uint16_t>((p * 40503u + x * 977u + y * 131u) * 2654435761u >> 13); };
    ASSERT_TRUE(open_test_pack(dir, spec));
    reset_viewer_state();
    for (int v = 0; v < 65536; ++v) {
        best_match[v] = static_cast<uint16_t>(rng() % (pictures + 2));
        second_match[v] = static_cast<uint16_t>(rng() % (pictures + 1));
    }
    for (uint16_t& p : surface_image) p = static_cast<uint16_t>(rng());
    for (uint16_t& p : picture_buffer) p = static_cast<uint16_t>(rng());
}

TEST(MosaicRows, RenderEqualsOneTileDrawPerTile) {
    TempDir dir;
    std::mt19937 rng(2026);
    const int special_zooms[] = {2, 8, 15, 16, 40, 41, 60, 61, 119, 120, 240};
    for (int thumb : {3, 8, 37, 64, 255}) {
        random_session(dir, rng, 2 + thumb % 5, thumb);
        for (int run = 0; run < 300; ++run) {
            const int z = run < 11 ? special_zooms[run] : 1 + static_cast<int>(rng() % 240);
            const int half = 240 / z / 2;
            int32_t col, row;
            if (rng() % 2) {  // navigation keeps the centre inside half .. 238 - half
                col = half + static_cast<int32_t>(rng() % std::max(1, 239 - 2 * half));
                row = half + static_cast<int32_t>(rng() % std::max(1, 239 - 2 * half));
            } else {
                col = static_cast<int32_t>(rng() % 320) - 40, row = static_cast<int32_t>(rng() % 320) - 40;
            }
            int ox, oy;
            switch (rng() % 4) {
            case 0: ox = oy = -z / 2; break;      // steady view
            case 1: ox = z / 2, oy = -z / 2; break;  // zooming on a point right of the centre
            case 2:  // the first zoom steps from the surface
                ox = ((col - 120) * (8 - z) - 4 * (z + 8)) / 16, oy = ((row - 120) * (8 - z) + 4 * (z + 8)) / 16;
                break;
            default:  // zooming on a tapped tile towards 240, and anything near
                ox = static_cast<int>(rng() % 481) - 240, oy = static_cast<int>(rng() % 481) - 240;
            }
            parent_picture = rng() % 3 ? static_cast<uint16_t>(rng() % picture_count) : NO_PICTURE;
            centre_col = col, centre_row = row;
            // Above zoom 40 the decoded picture is the centre tile's already (so the random
            // picture_buffer is not replaced by a decode); below it, any picture.
            const uint16_t centre_colour = surface_image[std::clamp(row, 0, 239) * 240 + std::clamp(col, 0, 239)];
            current_picture = z > 40 || rng() % 2 ? tile_choice(centre_colour) : static_cast<uint16_t>(rng() % 8);
            zoom = static_cast<uint16_t>(z);
            const auto ox16 = static_cast<int16_t>(ox), oy16 = static_cast<int16_t>(oy);
            const int diff = first_difference(
                rng, [&] { mosaic_render(col, row, ox16, oy16); },
                [&] { zoom = static_cast<uint16_t>(z), reference_render(col, row, ox16, oy16); });
            ASSERT_EQ(diff, -1) << "thumb " << thumb << " run " << run << " zoom " << z << " centre " << col << ","
                                << row << " offsets " << ox << "," << oy << " at x " << diff % 240 << " y " << diff / 240;
        }
    }
}

TEST(MosaicRows, SurfaceZoomViewEqualsPerPixelSampling) {
    TempDir dir;
    std::mt19937 rng(7);
    random_session(dir, rng, 3, 8);
    zoom = 1;
    for (int run = 0; run < 200; ++run) {
        const int s = run == 0 ? 256 : run == 1 ? 128 : static_cast<int>(rng() % 300) + 1;
        centre_col = static_cast<int32_t>(rng() % 240), centre_row = static_cast<int32_t>(rng() % 240);
        const int diff = first_difference(
            rng, [&] { surface_zoom_view(static_cast<uint16_t>(s)); }, [&] { reference_surface_zoom_view(s); });
        ASSERT_EQ(diff, -1) << "s " << s << " centre " << centre_col << "," << centre_row;
    }
}

}  // namespace
