// Fonts: built-in expansion against the packed asset bits, the font sheet, and picture fonts
// cut from small hand-made sheets.
#include <gtest/gtest.h>

#include <vector>

#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/fonts.h"

namespace {

class Fonts : public ::testing::Test {
protected:
    void TearDown() override { fonts_free(); }
};

bool covered(int font, int code) {
    if (code >= 32 && code <= 126) return true;
    if ((code >= 224 && code <= 239) || (code >= 241 && code <= 245) || (code >= 249 && code <= 253))
        return true;
    return font == 4 && (code == 199 || code == 246);
}

TEST_F(Fonts, BuiltinFontsExpandBitByBit) {
    const int heights[5] = {6, 8, 9, 12, 14};
    const uint8_t* bits[5] = {asset_font0_bits, asset_font1_bits, asset_font2_bits,
                              asset_font3_bits, asset_font4_bits};
    const uint32_t sizes[5] = {asset_font0_bits_size, asset_font1_bits_size,
                               asset_font2_bits_size, asset_font3_bits_size,
                               asset_font4_bits_size};
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(font_load_builtin(uint8_t(n)), 1);
        const Font* f = font_table[n];
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->glyph_height, heights[n]);
        EXPECT_EQ(font_weighted[n], 0);
        uint64_t covered_bits = 0;
        for (int code = 0; code < 256; ++code) {
            EXPECT_EQ(f->glyph_widths[code] > 0, covered(n, code)) << n << " " << code;
            if (f->glyph_widths[code] <= 0) continue;
            covered_bits += uint64_t(f->glyph_widths[code]) * heights[n];
            // Offsets count bytes of the expanded array: value k is bit k of the packed data.
            const uint32_t first = f->glyph_offsets[code] / 2;
            const uint32_t area = uint32_t(f->glyph_widths[code]) * heights[n];
            ASSERT_LE(first + area, sizes[n] * 8);
            for (uint32_t k = first; k < first + area; ++k) {
                const bool bit = (bits[n][k / 8] >> (k % 8)) & 1;
                ASSERT_EQ(f->glyph_pixels[k], bit ? 0xFFFF : 0) << n << " " << code;
            }
        }
        EXPECT_LE(covered_bits, uint64_t(sizes[n]) * 8);
    }
    EXPECT_EQ(font_load_builtin(5), 0);
    fonts_free();
    for (int n = 0; n < FONT_COUNT; ++n) EXPECT_EQ(font_table[n], nullptr);
}

TEST_F(Fonts, FontSheetLoadsAsFontFive) {
    ASSERT_EQ(font_from_gif(5, asset_font_sheet, asset_font_sheet_size), 1);
    const Font* f = font_table[5];
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->glyph_height, 8);
    EXPECT_EQ(font_weighted[5], 0);
    for (int code = 0; code < 32; ++code) EXPECT_EQ(f->glyph_widths[code], 0);
    EXPECT_EQ(f->glyph_widths[' '], f->glyph_widths['!']);
    for (int code : {'0', '9', 'A', 'W', 'Z', 'a', 'z', '?'}) {
        EXPECT_GE(f->glyph_widths[code], 1) << code;
        EXPECT_LE(f->glyph_widths[code], 7) << code;
    }
    EXPECT_EQ(f->glyph_widths['@'], 0);  // an empty cell
    EXPECT_EQ(f->glyph_widths['~'], 0);
    // Too short to hold even the GIF header: refused.
    EXPECT_EQ(font_from_gif(6, asset_font_sheet, 10), 0);
    EXPECT_EQ(font_table[6], nullptr);
}

// A 128 x 32 sheet of 4 x 4 cells, all key colour; ink() marks pixels of one cell.
struct Sheet {
    std::vector<uint16_t> px = std::vector<uint16_t>(128 * 32, colour_key);
    std::vector<uint8_t> alpha = std::vector<uint8_t>(128 * 32, 0);
    void ink(int code, int col, int row, uint16_t colour, uint8_t a = 32) {
        size_t i = size_t((code / 32) * 4 + row) * 128 + size_t((code % 32) * 4 + col);
        px[i] = colour;
        alpha[i] = a;
    }
};

TEST_F(Fonts, PictureFontHeightWidthsAndPlanes) {
    Sheet s;
    s.ink('!', 0, 0, 0x1111);
    s.ink('!', 0, 2, 0x2222);  // lowest inked row over all cells: height 3
    s.ink('#', 2, 1, 0x3333);  // width 3
    s.ink(5, 3, 3, 0x4444);    // control codes never get a glyph (row 3 still counts)
    s.ink(200, 1, 0, 0x5555);
    ASSERT_EQ(font_from_picture(6, s.px.data(), 128, 32), 1);
    const Font* f = font_table[6];
    EXPECT_EQ(f->glyph_height, 4);
    EXPECT_EQ(f->glyph_widths[5], 0);
    EXPECT_EQ(f->glyph_offsets[5], 0u);
    EXPECT_EQ(f->glyph_widths['!'], 1);
    EXPECT_EQ(f->glyph_widths[' '], 1);
    EXPECT_EQ(f->glyph_widths['"'], 0);
    EXPECT_EQ(f->glyph_widths['#'], 3);
    EXPECT_EQ(f->glyph_widths[200], 2);
    // Glyph '!': 1 x 4 colour values, then its 1 x 4 mask.
    const uint16_t* g = f->glyph_pixels + f->glyph_offsets['!'];
    EXPECT_EQ(g[0], 0x1111);
    EXPECT_EQ(g[2], 0x2222);
    EXPECT_EQ(g[1], colour_key);
    EXPECT_EQ(g[4], 0xFFFF);
    EXPECT_EQ(g[5], 0);
    EXPECT_EQ(g[6], 0xFFFF);
    // Planes follow each other in code order with no gaps.
    EXPECT_EQ(f->glyph_offsets['!'], f->glyph_offsets[' '] + 2 * 4 * 1);
    EXPECT_EQ(f->glyph_offsets['#'], f->glyph_offsets['!'] + 2 * 4 * 1);

    // Row 0 alone does not give a height.
    Sheet flat;
    flat.ink('A', 0, 0, 0x1234);
    ASSERT_EQ(font_from_picture(7, flat.px.data(), 128, 32), 1);
    EXPECT_EQ(font_table[7]->glyph_height, 0);
    EXPECT_EQ(font_table[7]->glyph_widths['A'], 1);
}

TEST_F(Fonts, WeightedFontsKeepAlphaAsWeights) {
    Sheet s;
    s.ink('A', 0, 1, 0x0F0F, 20);
    s.ink('A', 1, 1, 0x0F0F, 0);  // no ink: alpha 0, whatever the colour
    ASSERT_EQ(font_from_alpha_picture(8, s.px.data(), s.alpha.data(), 128, 32), 1);
    EXPECT_EQ(font_weighted[8], 1);
    const Font* f = font_table[8];
    EXPECT_EQ(f->glyph_height, 2);
    EXPECT_EQ(f->glyph_widths['A'], 1);
    const uint16_t* g = f->glyph_pixels + f->glyph_offsets['A'];
    EXPECT_EQ(g[1], 0x0F0F);
    EXPECT_EQ(g[2 + 1], 20);
    // Replacing a font releases the old one (ASan would report the leak) and changes the kind.
    ASSERT_EQ(font_from_picture(8, s.px.data(), 128, 32), 1);
    EXPECT_EQ(font_weighted[8], 0);
}

TEST_F(Fonts, RefusedPictureFonts) {
    Sheet s;
    EXPECT_EQ(font_from_picture(4, s.px.data(), 128, 32), 0);   // built-in number
    EXPECT_EQ(font_from_picture(16, s.px.data(), 128, 32), 0);  // beyond the table
    EXPECT_EQ(font_from_picture(6, s.px.data(), 31, 32), 0);    // no cells
    EXPECT_EQ(font_from_alpha_picture(6, s.px.data(), nullptr, 128, 32), 0);
    EXPECT_EQ(font_table[6], nullptr);
    // A sheet with fewer cell rows than codes: the missing cells are empty, never read.
    std::vector<uint16_t> strip(128 * 4, 0x0000);
    ASSERT_EQ(font_from_picture(6, strip.data(), 128, 4), 1);
    EXPECT_EQ(font_table[6]->glyph_widths[31], 0);
    EXPECT_EQ(font_table[6]->glyph_widths[33], 0);
}

}  // namespace
