// Background layers: drawing by format and opacity, creation and freeing rules, and the console
// tile layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "media/bitmap.h"
#include "render/console.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "render/framebuffer.h"
#include "render/blend.h"
#include "tests/support/check.h"

namespace {

constexpr uint16_t BG = 0x0841;
uint16_t pixel(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }

std::vector<uint8_t> hooked;
void record_hook(uint8_t n) { hooked.push_back(n); }

class Layers : public ::testing::Test {
protected:
    void SetUp() override {
        sprites_init();
        layer_hook = record_hook;
        hooked.clear();
        background_colour = BG;
    }
    void TearDown() override {
        layer_hook = nullptr;
        text_layer_release_hook = nullptr;
        layer_free_all();
    }
};

// A tile set whose tile t is solid index t (opaque flag 1), drawn through palette entry i = i,
// so every pixel tells which tile covered it; cells[r][c] = tile c + 1.
struct NumberedTiles {
    std::vector<uint8_t> tiles = std::vector<uint8_t>(64 * 37);
    std::vector<uint16_t> palette = std::vector<uint16_t>(256);
    std::vector<uint32_t> cells;
    NumberedTiles(int columns, int rows) : cells(columns * rows) {
        for (int t = 0; t < 64; ++t) {
            tiles[t * 37] = 1;
            std::fill(tiles.begin() + t * 37 + 1, tiles.begin() + (t + 1) * 37, t);
        }
        for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i);
        for (size_t i = 0; i < cells.size(); ++i) cells[i] = i % columns + 1;
    }
};

TEST_F(Layers, OpaqueLayerReplacesEveryPixelAndKeyedLayerShowsThrough) {
    ASSERT_EQ(layer_create_rgb565(15, 240, 320, 1), 1);
    for (int i = 0; i < 240 * 320; ++i) layer_rgb565(15)[i] = static_cast<uint16_t>(i);
    layer_rgb565(15)[5] = colour_key;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(5, 0), pixel(239, 319)), vals(colour_key, static_cast<uint16_t>(240 * 320 - 1)));
    LayerTable[15].opaque = 0;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(5, 0), pixel(6, 0)), vals(BG, 6));
    // An indexed layer in front, through its palette: index 0 holds the key colour.
    ASSERT_EQ(layer_create_indexed(14, 2, 2, 1), 1);  // two rows: drawn the right way up
    static_cast<uint8_t*>(LayerTable[14].pixels)[1] = 1;
    LayerTable[14].palette[0] = colour_key, LayerTable[14].palette[1] = 0x1234;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(0, 0), pixel(1, 0), pixel(2, 0)), vals(colour_key, 0x1234, 2));
    LayerTable[14].opaque = 0;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(0, 0), pixel(1, 0), pixel(2, 0)), vals(0, 0x1234, 2));
}

TEST_F(Layers, CreationAndPixelAccess) {
    background_colour = 0x4321;
    ASSERT_EQ(layer_create_rgb565(4, 3, 2, 0), 1);
    EXPECT_EQ(LayerTable[4].depth, 4);
    EXPECT_EQ(layer_rgb565(4)[5], 0x4321);  // a keyed layer starts as the background
    EXPECT_EQ(layer_create_rgb565(4, -1, 2, 0), 0);
    EXPECT_EQ(layer_create_rgb565(16, 3, 2, 0), 0);
    const uint16_t source[6] = {1, 2, 3, 4, 5, 0};
    layer_blend_pixel(4, 3, 0, 0xFFFF, 32);  // outside the layer: ignored, not the next row's first
    layer_blend_pixel(4, 2, 1, 0x0000, 16);  // the last pixel and the first, half way
    layer_blend_pixel(4, 0, 0, 0x0000, 16);
    const uint16_t half = blend_rgb565(0x4321, 0x0000, 16);
    EXPECT_EQ(vals(layer_rgb565(4)[3], layer_rgb565(4)[5], layer_rgb565(4)[0]), vals(0x4321, half, half));
    // An indexed layer has byte pixels: a 16-bit upload would overrun it.
    ASSERT_EQ(layer_create_indexed(5, 3, 2, 1), 1);
    EXPECT_EQ(layer_upload(5, source), 0);
}

TEST_F(Layers, FreeingRulesPerKind) {
    // Static memory: a wrong free is caught by the sanitizer build.
    static uint16_t described[16];
    static NumberedTiles map(2, 2);
    const LayerDescription bitmap_desc{LAYER_DESCRIBED, 2, 4, 4, 1, 0};
    const LayerDescription tile_desc{LAYER_TILES, 1, 12, 12, 6, 6};
    layer_setup(0, &bitmap_desc, described, nullptr, nullptr);
    layer_setup(1, &tile_desc, map.tiles.data(), map.cells.data(), map.palette.data());
    EXPECT_EQ(vals(LayerTable[0].opaque, LayerTable[1].columns), vals(1, 2));
    text_layer_release_hook = record_hook;  // asked for text layers only
    layer_free(0);
    layer_free(1);
    EXPECT_EQ(LayerTable[0].pixels, described);
    ASSERT_EQ(layer_create_indexed(2, 8, 8, 1), 1);
    layer_free(2);
    EXPECT_EQ(LayerTable[2].palette, nullptr);
    LayerTable[6].in_use = 1;
    LayerTable[6].kind = LAYER_TEXT;
    layer_free(6);
    layer_free(6);  // already free: not asked again
    EXPECT_EQ(hooked, std::vector<uint8_t>{6});
}

TEST_F(Layers, ConsoleCellsAndColours) {
    console_init(0);
    EXPECT_EQ(vals(console_columns, console_rows, console_palettes[7][1]), vals(40, 53, 0xCE79));
    EXPECT_EQ(LayerTable[0].cells, console_cells);
    EXPECT_EQ(LayerTable[0].cell_palettes[7], console_palettes[7]);
    // 0x3A000008: tile 8 mirrored left to right in colour 7 (light grey).
    console_cells[0] = 0x3A000008;
    compose(0, 1023);
    const uint8_t* tile = console_font_asset()->tiles + 8 * 37 + 1;
    int lit = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool on = tile[y * 6 + (5 - x)] != 0;
            lit += on;
            EXPECT_EQ(pixel(x, y), on ? 0xCE79 : BG) << x << "," << y;
        }
    EXPECT_GT(lit, 0);
    console_clear();
    EXPECT_EQ(console_cells[0], 0u);
}

TEST_F(Layers, ConsoleRangeIsFortyByFiftyThreeCells) {
    NumberedTiles font(1, 1);
    const LayerDescription desc{LAYER_TILES, 1, 192, 54, 6, 6};
    const TileLayerAsset asset{font.cells.data(), 4, font.tiles.data(), 64 * 37, font.palette.data(), &desc};
    console_setup(1, &asset);
    std::fill(console_cells, console_cells + 40 * 54, 5u);  // one row more than the console has
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(239, 317), pixel(0, 318)), vals(5, BG));
    console_setup(1, &asset);  // a new set-up clears the old cells
    EXPECT_EQ(std::count(console_cells, console_cells + 40 * 53, 5u), 0);
    console_setup(LAYER_COUNT, &asset);  // no such layer: the console stays where it was
    EXPECT_EQ(console_layer, 1);
}

}  // namespace
