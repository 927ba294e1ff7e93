// Drawing text layers into the Framebuffer through the glyph kernels, for the three font kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/text.h"
#include "runtime/sprites.h"
#include "render/layers.h"
#include "runtime/framebuffer.h"

namespace {

constexpr uint16_t kBackground = 0x0841;

class TextDraw : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& p : Framebuffer) p = kBackground;
        active_clips[0] = ClipRect{0, 0, 239, 319};  // the compositor sets these per frame
        text_layer_create(2);
    }
    void TearDown() override {
        layer_free(2);
        text_layer_clear(2);
        fonts_free();
        active_clips[1] = ClipRect{0, 0, 0, 0};
    }
    static uint16_t at(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }
    static int changed() {
        int n = 0;
        for (auto p : Framebuffer) n += p != kBackground;
        return n;
    }
};

TEST_F(TextDraw, BuiltinFontDrawsItsMaskInTheItemColour) {
    ASSERT_EQ(text_set(2, 0, 10, 20, 239, 319, "A", 0xF800, 1, 32, 1, 0, ALIGN_LEFT, 0, 10), 1);
    text_layer_draw(2);
    const Font* f = font_table[1];
    ASSERT_NE(f, nullptr);
    const int w = f->glyph_widths['A'];
    const uint16_t* mask = f->glyph_pixels + f->glyph_offsets['A'] / 2;
    int ink = 0;
    for (int y = 0; y < f->glyph_height; ++y)
        for (int x = 0; x < w; ++x) {
            const bool on = mask[y * w + x] != 0;
            ink += on;
            EXPECT_EQ(at(10 + x, 20 + y), on ? 0xF800 : kBackground) << x << "," << y;
        }
    EXPECT_GT(ink, 0);
    EXPECT_EQ(changed(), ink);
}

TEST_F(TextDraw, PictureFontsCopyOrWeighTheirPixels) {
    // 64 x 16 sheet, 2 x 2 cells: glyph 'A' is one column, colours 0x001F over 0x07E0.
    std::vector<uint16_t> px(64 * 16, colour_key);
    std::vector<uint8_t> alpha(64 * 16, 0);
    const size_t top = size_t(('A' / 32) * 2 * 64 + 2 * ('A' % 32)), below = top + 64;
    px[top] = 0x001F;
    px[below] = 0x07E0;
    alpha[top] = 32;
    alpha[below] = 16;
    ASSERT_EQ(font_from_picture(5, px.data(), 64, 16), 1);
    ASSERT_EQ(font_from_alpha_picture(6, px.data(), alpha.data(), 64, 16), 1);
    ASSERT_EQ(text_set(2, 0, 0, 0, 239, 319, "A", 0, 5, 32, 1, 0, ALIGN_LEFT, 0, 10), 1);
    ASSERT_EQ(text_set(2, 1, 100, 0, 239, 319, "A", 0, 6, 32, 1, 0, ALIGN_LEFT, 0, 10), 1);
    ASSERT_EQ(text_set(2, 2, 200, 0, 239, 319, "A", 0, 5, 0, 1, 0, ALIGN_LEFT, 0, 10), 1);
    text_layer_draw(2);
    EXPECT_EQ(at(0, 0), 0x001F);
    EXPECT_EQ(at(0, 1), 0x07E0);
    EXPECT_EQ(at(100, 0), 0x001F);      // weight 32: copied
    EXPECT_NE(at(100, 1), 0x07E0);      // weight 16: half way between background and green
    EXPECT_NE(at(100, 1), kBackground);
    EXPECT_EQ(at(200, 0), kBackground);  // alpha 0: not drawn
    EXPECT_EQ(changed(), 4);
}

TEST_F(TextDraw, ItemClipAndLayerPosition) {
    active_clips[1] = ClipRect{0, 0, 12, 319};
    ASSERT_EQ(text_set(2, 0, 10, 50, 239, 319, "MMMM", 0xFFFF, 2, 32, 1, 0, ALIGN_LEFT, 1, 10), 4);
    LayerTable[2].x = 50;  // the layer position does not move text
    LayerTable[2].y = 50;
    text_layer_draw(2);
    for (int y = 0; y < SCREEN_MAX_HEIGHT; ++y)
        for (int x = 0; x < SCREEN_WIDTH; ++x)
            if (at(x, y) != kBackground) {
                EXPECT_LE(x, 12);
                EXPECT_GE(x, 10);
                EXPECT_GE(y, 50);
            }
    EXPECT_GT(changed(), 0);
}

TEST_F(TextDraw, ReleasedFontDrawsNothing) {
    ASSERT_EQ(text_set(2, 0, 0, 0, 239, 319, "abc", 0xFFFF, 0, 32, 1, 0, ALIGN_LEFT, 0, 10), 3);
    fonts_free();
    text_layer_draw(2);
    EXPECT_EQ(changed(), 0);
}

}  // namespace
