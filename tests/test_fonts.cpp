// Fonts: built-in expansion against the packed asset bits, the font sheet, and text layers drawn
// through the glyph kernels for each kind of font (picture fonts from a small hand-made sheet).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/text.h"
#include "render/layers.h"
#include "render/framebuffer.h"
#include "runtime/sprites.h"
#include "tests/support/check.h"

namespace {

class Fonts : public ::testing::Test {
protected:
    void TearDown() override { fonts_free(); }
};

TEST_F(Fonts, BuiltinFontsExpandBitByBit) {
    const int heights[5] = {6, 8, 9, 12, 14};
    const uint8_t* bits[5] = {asset_font0_bits, asset_font1_bits, asset_font2_bits,
                              asset_font3_bits, asset_font4_bits};
    const uint32_t bytes[5] = {asset_font0_bits_size, asset_font1_bits_size,
                               asset_font2_bits_size, asset_font3_bits_size, asset_font4_bits_size};
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(font_load_builtin(uint8_t(n)), 1);
        const Font* f = font_table[n];
        EXPECT_EQ(f->glyph_height, heights[n]);
        // Offsets count bytes of the expanded array; value k is bit k of the packed data.
        for (int code = 0; code < 256; ++code) {
            const uint32_t first = f->glyph_offsets[code] / 2;
            const uint32_t end = first + uint32_t(std::max<int8_t>(f->glyph_widths[code], 0)) * heights[n];
            ASSERT_LE(end, bytes[n] * 8);
            for (uint32_t k = first; k < end; ++k)
                ASSERT_EQ(f->glyph_pixels[k], (bits[n][k / 8] >> (k % 8)) & 1 ? 0xFFFF : 0);
        }
    }
    EXPECT_EQ(font_load_builtin(5), 0);
}

TEST_F(Fonts, FontSheetLoadsAsFontFive) {
    ASSERT_EQ(font_from_gif(5, asset_font_sheet, asset_font_sheet_size), 1);
    const Font* f = font_table[5];
    EXPECT_EQ(vals(f->glyph_height, f->glyph_widths[' ']), vals(8, f->glyph_widths['!']));
    // The sheet draws '!'..'?', 'A'..'Z' and 'a'..'z' in a face 1 to 6 pixels wide (the space
    // borrows a width); other cells are empty.
    for (int code = 0; code < 256; ++code) {
        const bool drawn = (code >= 32 && code <= 63) || (code >= 65 && code <= 90) || (code >= 97 && code <= 122);
        EXPECT_EQ(drawn, f->glyph_widths[code] >= 1 && f->glyph_widths[code] <= 6) << code;
    }
    EXPECT_EQ(font_from_gif(6, asset_font_sheet, 10), 0);  // too short for a GIF header
}

constexpr uint16_t kBack = 0x0841;

class TextDraw : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& p : Framebuffer) p = kBack;
        active_clips[0] = ClipRect{0, 0, 239, 319};  // the compositor sets these per frame
        text_layer_create(2);
    }
    void TearDown() override {
        layer_free(2);
        fonts_free();
    }
    static uint16_t at(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }
    static int changed() {
        int n = 0;
        for (auto p : Framebuffer) n += p != kBack;
        return n;
    }
};

TEST_F(TextDraw, BuiltinFontDrawsItsMaskInTheItemColour) {
    ASSERT_EQ(text_set(2, 0, 10, 20, 239, 319, "A", 0xF800, 1, TextStyle{}, 10), 1);
    LayerTable[2].x = 50;  // the layer position does not move text
    text_layer_draw(2);
    const Font* f = font_table[1];
    const int w = f->glyph_widths['A'];
    const uint16_t* mask = f->glyph_pixels + f->glyph_offsets['A'] / 2;
    int ink = 0;
    for (int y = 0; y < f->glyph_height; ++y)
        for (int x = 0; x < w; ++x) {
            ink += mask[y * w + x] != 0;
            ASSERT_EQ(at(10 + x, 20 + y), mask[y * w + x] ? 0xF800 : kBack);
        }
    EXPECT_EQ(changed(), ink);
}

TEST_F(TextDraw, PictureFontsAlphaAndClip) {
    // 64 x 16 sheet, 2 x 2 cells: glyph 'A' is one column, blue over green; 'B' the same with a
    // blue pixel right of the top one, so that only the first column reaches the bottom row.
    std::vector<uint16_t> px(64 * 16, colour_key);
    std::vector<uint8_t> alpha(64 * 16, 0);
    for (const char glyph : {'A', 'B'}) {
        const size_t top = size_t((glyph / 32) * 2 * 64 + 2 * (glyph % 32));
        px[top] = 0x001F, px[top + 64] = 0x07E0, alpha[top] = 32, alpha[top + 64] = 16;
        if (glyph == 'B') px[top + 1] = 0x001F, alpha[top + 1] = 32;
    }
    ASSERT_EQ(font_from_picture(5, px.data(), 64, 16), 1);
    ASSERT_EQ(font_from_alpha_picture(6, px.data(), alpha.data(), 64, 16), 1);
    // The glyphs' colour and weight planes lie end to end from the start of their block.
    const uint32_t* offsets = font_table[6]->glyph_offsets;
    EXPECT_EQ(vals(offsets[' '], offsets['A'], offsets['B'], offsets[255]), vals(0, 0, 4, 12));
    // Refused: a built-in font's number, one beyond the table, a sheet too narrow for cells.
    EXPECT_EQ(font_from_picture(4, px.data(), 64, 16) + font_from_picture(16, px.data(), 64, 16) +
                  font_from_picture(7, px.data(), 31, 16), 0);
    active_clips[1] = ClipRect{0, 0, 239, 100};
    text_set(2, 0, 0, 0, 239, 319, "B", 0, 5, TextStyle{}, 10);
    text_set(2, 1, 100, 0, 239, 319, "B", 0, 6, TextStyle{}, 10);
    text_set(2, 2, 200, 0, 239, 319, "A", 0, 5, TextStyle{0, 1, 0, ALIGN_LEFT, 0}, 10);    // alpha 0
    text_set(2, 3, 50, 100, 239, 319, "A", 0, 5, TextStyle{32, 1, 0, ALIGN_LEFT, 1}, 10);  // clip 1
    text_layer_draw(2);
    EXPECT_EQ(vals(at(0, 0), at(0, 1), at(1, 0)), vals(0x001F, 0x07E0, 0x001F));
    EXPECT_EQ(vals(at(100, 0), at(101, 0)), vals(0x001F, 0x001F));  // weight 32 copies, weight 16 blends
    EXPECT_EQ(at(100, 1), 0x0400);  // green (63 + 2) / 2 of the item over the background
    EXPECT_EQ(at(50, 100), 0x001F);
    EXPECT_EQ(changed(), 7);        // nothing of item 2, nothing of item 3 below row 100
    // With ink only in the cells' top rows (odd rows cleared) the glyphs have no height.
    for (size_t row = 64; row < px.size(); row += 128) std::fill_n(&px[row], 64, colour_key);
    ASSERT_EQ(font_from_picture(7, px.data(), 64, 16), 1);
    EXPECT_EQ(font_table[7]->glyph_height, 0);
}

}  // namespace
