// Layout and item handling of the text layers, on a hand-made font so that every position can be
// worked out by hand: letters are 5 wide, the space 2, height 8.
#include <gtest/gtest.h>

#include <string>

#include "media/fonts.h"
#include "media/text.h"
#include "render/layers.h"

namespace {

constexpr int H = 8;
int8_t widths[256];
uint32_t offsets[256];
uint16_t no_pixels[1];
Font font{no_pixels, offsets, widths, H};

class TextLayout : public ::testing::Test {
protected:
    void SetUp() override {
        for (int c = 0; c < 256; ++c) widths[c] = (c > 32 && c < 127) ? 5 : 0;
        widths[' '] = 2;
        font_table[7] = nullptr;
        font_table[8] = &font;
        text_layer_create(3);
    }
    void TearDown() override {
        layer_free(3);
        text_layer_clear(3);
        font_table[8] = nullptr;
    }
    // Lays out with letter spacing 1, line spacing 2 and the given box and alignment.
    static void lay(const std::string& s, int left, int right, int bottom = 300,
                    uint8_t align = ALIGN_LEFT, int max = 1000) {
        text_layout(s.c_str(), int16_t(left), 10, int16_t(right), int16_t(bottom), &font, 1, 2,
                    align, max);
    }
    static const PlacedGlyph& g(int k) { return layout_scratch[k]; }
};

TEST_F(TextLayout, GlyphsAdvanceByWidthPlusSpacing) {
    lay("AW", 20, 200);
    ASSERT_EQ(layout_count, 2u);
    EXPECT_EQ(g(0).code, 'A');
    EXPECT_EQ(g(0).x, 20);
    EXPECT_EQ(g(0).y, 10);
    EXPECT_EQ(g(1).x, 26);
    // The entry after the last glyph holds the end position, uncounted.
    EXPECT_EQ(g(2).x, 32);
    EXPECT_EQ(g(2).y, 10);
}

TEST_F(TextLayout, WordMovesWholeAndSpaceStaysOnEarlierLine) {
    // "ab cd" from 0: a 0, b 6, space 12, c 15 (ends 21), d would end at 27 > 25.
    lay("ab cd", 0, 25);
    ASSERT_EQ(layout_count, 5u);
    EXPECT_EQ(g(2).code, ' ');
    EXPECT_EQ(g(2).y, 10);
    EXPECT_EQ(g(3).code, 'c');
    EXPECT_EQ(g(3).x, 0);
    EXPECT_EQ(g(3).y, 10 + H + 2);
    EXPECT_EQ(g(4).x, 6);
}

TEST_F(TextLayout, SpacesNeverWrap) {
    lay("ab          ", 0, 20);
    ASSERT_EQ(layout_count, 12u);
    for (uint32_t k = 0; k < layout_count; ++k) EXPECT_EQ(g(k).y, 10) << k;
    EXPECT_GT(g(11).x, 20);
}

TEST_F(TextLayout, LineFeedIsPlacedAndStartsTheNextLine) {
    lay("a\nb", 5, 200);
    ASSERT_EQ(layout_count, 3u);
    EXPECT_EQ(g(1).code, '\n');
    EXPECT_EQ(g(1).x, 11);
    EXPECT_EQ(g(2).code, 'b');
    EXPECT_EQ(g(2).x, 5);
    EXPECT_EQ(g(2).y, 10 + H + 2);
}

TEST_F(TextLayout, CentreAndRightAlignment) {
    // "A" ends at pen 6, so with BR = 15 the free space is 15 - 6 + 1 = 10.
    lay("A", 0, 15, 300, ALIGN_CENTRE);
    EXPECT_EQ(g(0).x, 5);
    lay("A", 0, 15, 300, ALIGN_RIGHT);
    EXPECT_EQ(g(0).x, 11);  // BR - 4: its last ink column (width 5) is BR
    lay("A", 100, 180, 300, ALIGN_RIGHT);
    EXPECT_EQ(g(0).x, 176);
}

TEST_F(TextLayout, JustifyTouchesOnlyWrappedLines) {
    // Line 1 "aa bb " wraps before "cc"; line 2 "cc" ends the text and stays left.
    lay("aa bb cc", 0, 40, 300, ALIGN_JUSTIFY);
    ASSERT_EQ(layout_count, 8u);
    lay("aa bb cc", 0, 40, 300, ALIGN_LEFT);
    PlacedGlyph left[8];
    for (int k = 0; k < 8; ++k) left[k] = g(k);
    lay("aa bb cc", 0, 40, 300, ALIGN_JUSTIFY);
    EXPECT_EQ(g(6).x, left[6].x);
    EXPECT_EQ(g(7).x, left[7].x);
    // Line 1 wraps inside "cc"; its end is the pen after "bb" (27), so free = 40 - 27 + 1 = 14.
    // Each of the 5 gaps gets 1, the remaining 9 go to the one inner space.
    EXPECT_EQ(g(0).x, left[0].x + 1);
    EXPECT_EQ(g(1).x, left[1].x + 2);
    EXPECT_EQ(g(2).x, left[2].x + 3);
    EXPECT_EQ(g(3).x, left[3].x + 13);
    EXPECT_EQ(g(4).x, left[4].x + 14);
    EXPECT_EQ(g(5).x, left[5].x + 15);  // the trailing space: free + 1, as right alignment
    // Cut at the bottom (room for one line only): the last line counts as wrapped.
    lay("aa bb", 0, 40, 10 + 2 * H - 1, ALIGN_JUSTIFY);
    ASSERT_EQ(layout_count, 5u);
    EXPECT_EQ(g(0).x, 1);
    EXPECT_GT(g(4).x, 18);
}

TEST_F(TextLayout, CutAtTheBoxBottom) {
    // Lines start at 10, 20, 30; a new line needs y + 2H <= bottom.
    lay("a\nb\nc\nd", 0, 100, 10 + 10 + 2 * H - 1);  // room for the lines at 10 and 20
    ASSERT_EQ(layout_count, 4u);  // a, LF, b, LF
    EXPECT_EQ(g(2).code, 'b');
    EXPECT_EQ(g(2).y, 20);
    EXPECT_EQ(g(3).code, '\n');
}

TEST_F(TextLayout, WordWiderThanTheBoxBreaksAtTheEdge) {
    // Three letters fit between 0 and 18; the ten-letter word fills lines of three.
    lay("ABCDEFGHIJ", 0, 18);
    ASSERT_EQ(layout_count, 10u);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(g(k).code, 'A' + k);
        EXPECT_EQ(g(k).x, (k % 3) * 6) << k;
        EXPECT_EQ(g(k).y, 10 + (k / 3) * (H + 2)) << k;
    }
    // A box narrower than one glyph still ends: the first line stays empty, then one glyph per
    // line until the bottom (lines at 20, 30 and 40).
    lay("ABCDEF", 0, 2, 10 + 3 * (H + 2) + H);
    EXPECT_EQ(layout_count, 3u);
    EXPECT_EQ(g(0).y, 20);
}

TEST_F(TextLayout, LongStringsStopAtTheScratchEnd) {
    std::string s(6000, 'x');
    for (size_t k = 7; k < s.size(); k += 8) s[k] = ' ';
    lay(s, 0, 239, 32000, ALIGN_JUSTIFY, 6000);
    EXPECT_EQ(layout_count, uint32_t(LAYOUT_SCRATCH_SIZE - 1));
    std::string spaces(5000, ' ');
    lay(spaces, 0, 10, 300, ALIGN_RIGHT, 5000);
    EXPECT_EQ(layout_count, uint32_t(LAYOUT_SCRATCH_SIZE - 1));
}

TEST_F(TextLayout, TextSetKeepsAtMostMaxGlyphs) {
    EXPECT_EQ(text_set(3, 0, 0, 0, 239, 319, "hello", 0, 8, 32, 1, 0, 0, 0, 3), 3);
    const TextItem& it = text_items[3][0];
    EXPECT_EQ(it.glyph_count, 3);
    EXPECT_GE(it.glyph_capacity, 3);
    EXPECT_EQ(it.glyphs[2].code, 'l');
    EXPECT_EQ(it.box_right, 239);
    // A longer text reallocates, a shorter one reuses the array.
    EXPECT_EQ(text_set(3, 0, 0, 0, 239, 319, "a much longer line of text", 0, 8, 32, 1, 0, 0, 0, 1000), 26);
    const PlacedGlyph* array = it.glyphs;
    EXPECT_EQ(text_set(3, 0, 0, 0, 239, 319, "short", 0, 8, 32, 1, 0, 0, 0, 1000), 5);
    EXPECT_EQ(it.glyphs, array);
}

TEST_F(TextLayout, RefusedCallsLeaveTheItem) {
    ASSERT_EQ(text_set(3, 1, 4, 5, 200, 300, "abc", 0x1234, 8, 20, 1, 0, ALIGN_LEFT, 2, 1000), 3);
    const TextItem before = text_items[3][1];
    EXPECT_EQ(text_set(3, 1, 0, 0, 239, 319, "zz", 0, 7, 32, 1, 0, 0, 0, 1000), 0);  // not loaded
    EXPECT_EQ(text_set(3, 1, 0, 0, 239, 319, "zz", 0, 16, 32, 1, 0, 0, 0, 1000), 0); // no such font
    EXPECT_EQ(text_set(3, 1, 0, 0, 239, 319, "zz", 0, 8, 32, 1, 0, 0, 16, 1000), 0); // no such clip
    EXPECT_EQ(text_set(3, 256, 0, 0, 239, 319, "zz", 0, 8, 32, 1, 0, 0, 0, 1000), 0);
    EXPECT_EQ(text_set(9, 0, 0, 0, 239, 319, "zz", 0, 8, 32, 1, 0, 0, 0, 1000), 0);  // no table
    const TextItem& after = text_items[3][1];
    EXPECT_EQ(after.glyph_count, 3);
    EXPECT_EQ(after.font, 8);
    EXPECT_EQ(after.colour, before.colour);
    EXPECT_EQ(after.alpha, 20);
    EXPECT_EQ(after.clip_index, 2);
    EXPECT_EQ(after.glyphs, before.glyphs);
    EXPECT_EQ(after.glyphs[0].x, 4);
}

TEST_F(TextLayout, HideAndClear) {
    ASSERT_EQ(text_layer, 3);
    text_set(3, 5, 0, 0, 239, 319, "abc", 0, 8, 32, 1, 0, 0, 0, 1000);
    text_hide(5);
    EXPECT_EQ(text_items[3][5].glyph_count, 0);
    EXPECT_NE(text_items[3][5].glyphs, nullptr);
    text_layer_clear(3);
    EXPECT_EQ(text_items[3][5].glyphs, nullptr);
    EXPECT_EQ(text_items[3][5].glyph_capacity, 0);
    EXPECT_EQ(LayerTable[3].kind, LAYER_TEXT);
    EXPECT_EQ(LayerTable[3].depth, 3);
}

}  // namespace
