// Mosaic rendering on small test packs: tile tints, the full-resolution centre tile, black
// tiles, the minimap mark and blend, the magnified surface, and that no centre, offset or zoom
// writes outside the picture area and the minimap.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "app/mosaic.h"
#include "app/viewer_pack.h"
#include "app/progress.h"
#include "render/blend.h"
#include "render/framebuffer.h"
#include "tests/support/viewer_fixture.h"
#include "tests/support/check.h"

namespace {

// `buffer` holds 8 guard rows, a 240 x 320 draw target, 8 guard rows. Returns the first element
// outside what mosaic drawing may touch (target rows 0..239 and the minimap at rows 240..319,
// columns 160..239), or -1 when all of them still hold `guard`.
int first_write_outside(const std::vector<uint16_t>& buffer, uint16_t guard) {
    for (size_t i = 0; i < buffer.size(); ++i) {
        const long row = static_cast<long>(i) / SCREEN_WIDTH - 8, col = static_cast<long>(i) % SCREEN_WIDTH;
        const bool picture = row >= 0 && row < 240;
        const bool minimap = row >= 240 && row < 320 && col >= 160;
        if (!picture && !minimap && buffer[i] != guard) return static_cast<int>(i);
    }
    return -1;
}

// Four pictures, 8 x 8 thumbnails whose pixel (x, y) encodes picture, x and y; the surface
// colour v names picture v % 4 (v % 3 for the second table).
PackSpec numbered_pack(int pictures = 4) {
    PackSpec spec;
    spec.pictures = pictures;
    spec.thumb_size_field = 8;
    spec.thumb_pixel = [](int p, int x, int y) { return static_cast<uint16_t>(p << 11 | x << 5 | y); };
    spec.picture_pixel = [](int p, int x, int y) { return static_cast<uint16_t>((p + 1) << 12 | (x / 30) << 6 | (y / 30)); };
    return spec;
}

class Mosaic : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        ASSERT_TRUE(open_test_pack(dir, numbered_pack()));
        reset_viewer_state();
        for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(4 * (i % 97) + 1);  // picture 1
        parent_picture = 0;
    }
    uint16_t at(int x, int y) const { return Framebuffer[y * SCREEN_WIDTH + x]; }
};

TEST_F(Mosaic, TilesTintedBelowSixteenPlainFromSixteen) {
    zoom = 16;
    mosaic_render(120, 120, -8, -8);
    // With offsets -Z/2 the centre tile spans 104..119: thumbnail (0, 0) to (7, 7) of picture 1.
    EXPECT_EQ(at(104, 104), 1 << 11);
    EXPECT_EQ(at(119, 119), (1 << 11) | (7 << 5) | 7);
    zoom = 8;
    mosaic_render(120, 120, -4, -4);
    // Centre tile 112..119; its pixel (4, 4) is thumbnail pixel (4, 4), halfway to the colour.
    const uint16_t colour = surface_image[120 * 240 + 120];
    EXPECT_EQ(at(116, 116), blend_rgb565(colour, (1 << 11) | (4 << 5) | 4, 16));
    tile_draw(-4, 0, 1, colour);  // one tile drawn alone, its left half cut off
    EXPECT_EQ(vals(at(0, 4), at(3, 7)), vals(blend_rgb565(colour, (1 << 11) | (4 << 5) | 4, 16),
                                             blend_rgb565(colour, (1 << 11) | (7 << 5) | 7, 16)));
    Framebuffer[235 * 240 + 239] = Framebuffer[240 * 240] = Framebuffer[101 * 240] = 0x1234;
    tile_draw(-4, 236, 99, colour);  // a picture the pack lacks: black, and only inside the picture area
    tile_draw(236, 94, 99, colour);
    EXPECT_EQ(vals(at(0, 236), at(3, 239), at(239, 101), at(239, 235), at(0, 240), at(0, 101)),
              vals(0, 0, 0, 0x1234, 0x1234, 0x1234));
    // At 15, the last tinted zoom, the centre tile spans 106..120 and leans 30/32 to the thumbnail.
    zoom = 15;
    mosaic_render(120, 120, -7, -7);
    EXPECT_EQ(at(120, 120), blend_rgb565(colour, (1 << 11) | (7 << 5) | 7, 30));
    // Zoom 1 draws no tiles (the surface is drawn by surface_reset).
    Framebuffer[5] = 0x1234;
    zoom = 1;
    mosaic_render(120, 120, 0, 0);
    EXPECT_EQ(at(5, 0), 0x1234);
}

TEST_F(Mosaic, CentreTileFromTheDecodedPictureOnlyAboveForty) {
    zoom = 40;
    mosaic_render(120, 120, -20, -20);
    EXPECT_EQ(current_picture, NO_PICTURE);
    EXPECT_EQ(at(100, 100) >> 11, 1);  // still the thumbnail of picture 1
    zoom = 41;
    mosaic_render(120, 120, -20, -20);
    EXPECT_EQ(current_picture, 1);
    // Tile origin 120 - 20 - 20 = 80: pixel (100, 100) is picture pixel 20 * 240 / 41 = 117.
    EXPECT_EQ(at(100, 100), picture_buffer[117 * 240 + 117]);
    tile_draw(0, 0, 1, 0);
    EXPECT_EQ(at(20, 20), picture_buffer[117 * 240 + 117]);
    EXPECT_NE(at(100, 100) >> 11, 1);
}

TEST_F(Mosaic, ParentIsReplacedAndMissingPicturesAreBlack) {
    parent_picture = 1;  // best_match names the parent: second_match ((v + 1) % 4 = 2) is used
    zoom = 16;
    mosaic_render(120, 120, -8, -8);
    EXPECT_EQ(at(104, 104) >> 11, 2);
    viewer_pack.best_match[surface_image[120 * 240 + 120]] = 7;  // no such picture
    parent_picture = 0;
    mosaic_render(120, 120, -8, -8);
    EXPECT_EQ(vals(at(104, 104), at(119, 119)), vals(0, 0));
    EXPECT_NE(at(120, 120), 0);  // the neighbour tile keeps its thumbnail
}

TEST_F(Mosaic, MinimapMarkAndPictureBlend) {
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = 0x0000;
    zoom = 8;
    minimap_update();  // n = 30: x0 = (120 - 15) / 3 = 35, x1 = 45
    EXPECT_EQ(vals(at(160 + 40, 240 + 40), at(160 + 35, 240 + 40), at(160 + 34, 240 + 40)),
              vals(blend_rgb565(0, 0xF800, 12), blend_rgb565(blend_rgb565(0, 0xF800, 12), 0xFFFF, 24), 0));
    zoom = 119;
    minimap_update();  // n = 2: the mark is the single pixel (39, 39)
    EXPECT_NE(at(160 + 39, 240 + 39), 0);
    zoom = 120;
    minimap_update();
    EXPECT_EQ(at(160 + 39, 240 + 39), 0);  // no mark from 120 on
    // The blend towards the current picture: weight 0 at zoom 61, 32 at 240.
    current_picture = 2;
    picture_show(2);
    for (int z : {61, 240}) {
        zoom = static_cast<uint16_t>(z);
        mosaic_render(120, 120, static_cast<int16_t>(-z / 2), static_cast<int16_t>(-z / 2));
        const uint16_t expect = z == 61 ? 0 : picture_buffer[(1 + 3 * 10) * 240 + 1 + 3 * 10];
        EXPECT_EQ(at(170, 250), expect) << z;
    }
}

TEST_F(Mosaic, NothingIsWrittenOutsideTheTargetAreas) {
    const uint16_t guard = 0xABCD;
    std::vector<uint16_t> buffer(240 * (320 + 16), guard);
    draw_target = buffer.data() + 8 * 240;
    // Offsets of up to two tiles either way still cover the whole picture area.
    for (int off : {-16, -5, 5, 16}) {
        zoom = 8;
        std::fill(buffer.begin(), buffer.end(), guard);
        mosaic_render(120, 120, static_cast<int16_t>(off), static_cast<int16_t>(-off));
        EXPECT_EQ(std::count(buffer.begin() + 8 * 240, buffer.begin() + 248 * 240, guard), 0) << off;
    }
    std::fill(buffer.begin(), buffer.end(), guard);
    std::mt19937 rng(11);
    for (int run = 0; run < 3000; ++run) {
        zoom = static_cast<uint16_t>(1 + rng() % 240);
        const int32_t col = static_cast<int32_t>(rng() % 300) - 30, row = static_cast<int32_t>(rng() % 300) - 30;
        centre_col = col, centre_row = row;
        const int z = zoom;
        const int16_t ox = static_cast<int16_t>(static_cast<int>(rng() % (4 * z + 1)) - 2 * z);
        const int16_t oy = static_cast<int16_t>(static_cast<int>(rng() % (4 * z + 1)) - 2 * z);
        mosaic_render(col, row, ox, oy);
        if (run % 10 == 0) surface_zoom_view(static_cast<uint16_t>(128 + rng() % 129));
        ASSERT_EQ(first_write_outside(buffer, guard), -1) << "zoom " << z << " centre " << col << "," << row;
    }
}

}  // namespace

// A mark range reversed in one direction only is empty: the minimap keeps the surface's pixels.
TEST_F(Mosaic, MinimapMarkWithAReversedRangeDrawsNothing) {
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = 0;
    zoom = 8;
    minimap_draw(20, 10, 10, 20);
    int marked = 0;
    for (int i = 0; i < MINIMAP_SIZE * MINIMAP_SIZE; ++i)
        marked += at(MINIMAP_LEFT + i % MINIMAP_SIZE, MINIMAP_TOP + i / MINIMAP_SIZE) != 0;
    EXPECT_EQ(marked, 0);
}
