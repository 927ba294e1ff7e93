// Layout and item handling of the text layers, on a hand-made font so that every position can be
// worked out by hand: letters are 5 wide, the space 2, height 8; letter spacing 1, line spacing 2.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "media/fonts.h"
#include "media/text.h"
#include "render/layers.h"
#include "tests/support/check.h"

namespace {

constexpr int H = 8, LINE = H + 2;
int8_t widths[256];
uint32_t offsets[256];
uint16_t no_pixels[1];
Font font{no_pixels, offsets, widths, H};

class TextLayout : public ::testing::Test {
protected:
    void SetUp() override {
        for (int c = 0; c < 256; ++c) widths[c] = (c > 32 && c < 127) ? 5 : 0;
        widths[' '] = 2;
        font_table[8] = &font;
        text_layer_create(3);
    }
    void TearDown() override {
        layer_free(3);
        font_table[8] = nullptr;
    }
    static void lay(const std::string& s, int left, int right, int bottom = 300,
                    uint8_t align = ALIGN_LEFT, int max = 1000) {
        text_layout(s.c_str(), int16_t(left), 10, int16_t(right), int16_t(bottom), &font, 1, 2,
                    align, max);
    }
    static int x(int k) { return layout_scratch[k].x; }
    static int y(int k) { return layout_scratch[k].y; }
};

TEST_F(TextLayout, PlacingWrappingAndLineFeeds) {
    lay("AW", 20, 200);
    ASSERT_EQ(layout_count, 2u);
    EXPECT_EQ(vals(x(0), x(1), x(2)), vals(20, 26, 32));  // x(2): the end position after the last glyph, uncounted
    // Right: W's last column is the box's last (200); centred: 85 free columns on either side.
    lay("AW", 20, 200, 300, ALIGN_RIGHT);
    EXPECT_EQ(vals(x(0), x(1)), vals(190, 196));
    lay("AW", 20, 200, 300, ALIGN_CENTRE);
    EXPECT_EQ(vals(x(0), x(1)), vals(105, 111));
    lay("AW", 20, 199, 300, ALIGN_CENTRE);  // 168 free: 84 on either side
    EXPECT_EQ(x(0), 104);
    // "ab cd": d would end at 27 > 25, so "cd" moves; the space stays on the first line.
    // Justified, "gh" wrapping: 9 columns free after "f" (at 36), more than the 8 gaps, so each
    // glyph, the first too, moves one more than the one before; the 1 left goes to the first space.
    lay("ab cd ef gh", 0, 50, 300, ALIGN_JUSTIFY);
    EXPECT_EQ(vals(x(0), x(1), x(2), x(3), x(4), x(5), x(6), x(7), x(9)), vals(1, 8, 15, 20, 27, 34, 38, 45, 0));
    lay("ab cd", 0, 25);
    ASSERT_EQ(layout_count, 5u);
    EXPECT_EQ(vals(layout_scratch[2].code, y(2), x(3), y(3)), vals(' ', 10, 0, 10 + LINE));
    lay(" abcd", 0, 20);  // a word after a leading space moves as a whole, the space stays
    EXPECT_EQ(vals(x(1), y(1)), vals(0, 10 + LINE));
    lay("ab          ", 0, 20);  // spaces never wrap
    EXPECT_EQ(vals(y(11), x(11)), vals(10, 12 + 9 * 3));
    lay("a\nb", 5, 200);
    ASSERT_EQ(layout_count, 3u);
    EXPECT_EQ(vals(layout_scratch[1].code, x(1), x(2), y(2)), vals('\n', 11, 5, 10 + LINE));
}

TEST_F(TextLayout, CutsAndLimits) {
    lay("a\nb\nc\nd", 0, 100, 10 + LINE + 2 * H - 1);  // room for the lines at 10 and 20
    ASSERT_EQ(layout_count, 4u);                        // a, LF, b, LF
    EXPECT_EQ(y(2), 10 + LINE);
    // A word wider than the box breaks at the box edge: lines of three letters.
    lay("ABCDEFGHIJ", 0, 18);
    ASSERT_EQ(layout_count, 10u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(x(k) + 100 * y(k), (k % 3) * 6 + 100 * (10 + (k / 3) * LINE));
    // Narrower than one glyph: an empty first line, then one glyph per line until the bottom.
    lay("ABCDEF", 0, 2, 10 + 3 * LINE + H);
    EXPECT_EQ(layout_count, 3u);
    // Strings beyond the scratch stop there, wrapping or not.
    std::string words(6000, 'x');
    for (size_t k = 7; k < words.size(); k += 8) words[k] = ' ';
    lay(words, 0, 239, 32000, ALIGN_JUSTIFY, 6000);
    EXPECT_EQ(layout_count, uint32_t(LAYOUT_SCRATCH_SIZE - 1));
    lay(std::string(5000, ' '), 0, 10, 300, ALIGN_RIGHT, 5000);
    EXPECT_EQ(layout_count, uint32_t(LAYOUT_SCRATCH_SIZE - 1));
}

TEST_F(TextLayout, TextSetItems) {
    EXPECT_EQ(text_set(3, 0, 0, 0, 239, 319, "hello", 0, 8, TextStyle{}, 3), 3);
    const TextItem& it = text_items[3][0];
    EXPECT_EQ(vals(it.glyph_count, it.glyphs[2].code), vals(3, 'l'));
    EXPECT_EQ(text_set(3, 0, 0, 0, 239, 319, "a longer line of text", 0, 8), 21);
    const PlacedGlyph* array = it.glyphs;
    EXPECT_EQ(text_set(3, 0, 4, 5, 200, 300, "abc", 0x1234, 8, TextStyle{20, 1, 0, 0, 2}, 1000), 3);
    EXPECT_EQ(it.glyphs, array);  // a shorter text reuses the array
    // Refused: unloaded picture font, font 16, clip 16, item 256, a layer without items; the
    // item stays as the last successful call left it.
    for (const auto& [layer, item, font, clip] :
         {std::array<int, 4>{3, 0, 7, 0}, {3, 0, 16, 0}, {3, 0, 8, 16}, {3, 256, 8, 0}, {9, 0, 8, 0}})
        EXPECT_EQ(text_set(layer, item, 0, 0, 239, 319, "zz", 0, uint8_t(font),
                           TextStyle{32, 1, 0, 0, uint8_t(clip)}), 0);
    EXPECT_EQ(vals(it.glyph_count, it.alpha, it.clip_index, it.glyphs[0].x), vals(3, 20, 2, 4));
    text_hide(0);
    EXPECT_EQ(it.glyph_count, 0);
    text_layer_clear(3);
    EXPECT_EQ(it.glyphs, nullptr);
    EXPECT_EQ(it.glyph_capacity, 0);
}

}  // namespace
