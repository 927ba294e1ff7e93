// The row-by-row mosaic renderer and the magnified surface over many random zooms, centres,
// offsets, parents, tables naming missing pictures and thumbnail sizes, over random target
// contents (skipped tile positions keep them). All frames of a test go into one digest, pinned
// when the renderer matched a plain one-tile_draw-per-tile reference pixel for pixel; a wanted
// change records new values. test_mosaic.cpp checks hand-worked pixels of the same drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "app/mosaic.h"
#include "app/viewer_pack.h"
#include "app/progress.h"
#include "tests/support/viewer_fixture.h"

namespace {

// FNV-1a over 16-bit values.
void digest_add(uint64_t& h, const std::vector<uint16_t>& pixels) {
    for (uint16_t p : pixels) h = (h ^ p) * 0x100000001B3ull;
}

// Runs `draw` into a target of random contents and adds the result to the digest.
template <typename Draw>
void draw_into_digest(std::mt19937& rng, uint64_t& h, Draw draw) {
    std::vector<uint16_t> target(240 * 320);
    for (uint16_t& p : target) p = static_cast<uint16_t>(rng());
    uint16_t* const saved = draw_target;
    draw_target = target.data();
    draw();
    draw_target = saved;
    digest_add(h, target);
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
        viewer_pack.best_match[v] = static_cast<uint16_t>(rng() % (pictures + 2));
        viewer_pack.second_match[v] = static_cast<uint16_t>(rng() % (pictures + 1));
    }
    for (uint16_t& p : surface_image) p = static_cast<uint16_t>(rng());
    for (uint16_t& p : picture_buffer) p = static_cast<uint16_t>(rng());
}

TEST(MosaicRows, RenderOverRandomSessions) {
    TempDir dir;
    std::mt19937 rng(2026);
    uint64_t h = 0xCBF29CE484222325ull;
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
            parent_picture = rng() % 3 ? static_cast<uint16_t>(rng() % viewer_pack.picture_count) : NO_PICTURE;
            centre_col = col, centre_row = row;
            // Above zoom 40 the decoded picture is the centre tile's already (so the random
            // picture_buffer is not replaced by a decode); below it, any picture.
            const uint16_t centre_colour = surface_image[std::clamp(row, 0, 239) * 240 + std::clamp(col, 0, 239)];
            current_picture = z > 40 || rng() % 2 ? tile_choice(centre_colour) : static_cast<uint16_t>(rng() % 8);
            zoom = static_cast<uint16_t>(z);
            draw_into_digest(rng, h, [&] { mosaic_render(col, row, static_cast<int16_t>(ox), static_cast<int16_t>(oy)); });
        }
    }
    EXPECT_EQ(h, 0xAD8B692CD7100ACEull);
}

TEST(MosaicRows, SurfaceZoomViewOverRandomCentres) {
    TempDir dir;
    std::mt19937 rng(7);
    random_session(dir, rng, 3, 8);
    zoom = 1;
    uint64_t h = 0xCBF29CE484222325ull;
    for (int run = 0; run < 200; ++run) {
        const int s = run == 0 ? 256 : run == 1 ? 128 : static_cast<int>(rng() % 300) + 1;
        centre_col = static_cast<int32_t>(rng() % 240), centre_row = static_cast<int32_t>(rng() % 240);
        draw_into_digest(rng, h, [&] { surface_zoom_view(static_cast<uint16_t>(s)); });
    }
    EXPECT_EQ(h, 0x0E21A515F366CBE8ull);
}

}  // namespace
