// Drawing text layers into the Framebuffer through the glyph kernels, for the three font kinds.
#include <gtest/gtest.h>

#include <vector>

#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/text.h"
#include "render/layers.h"
#include "runtime/framebuffer.h"
#include "runtime/sprites.h"

namespace {

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
    ASSERT_EQ(text_set(2, 0, 10, 20, 239, 319, "A", 0xF800, 1, 32, 1, 0, ALIGN_LEFT, 0, 10), 1);
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
    // 64 x 16 sheet, 2 x 2 cells: glyph 'A' is one column, blue over green.
    std::vector<uint16_t> px(64 * 16, colour_key);
    std::vector<uint8_t> alpha(64 * 16, 0);
    const size_t top = size_t(('A' / 32) * 2 * 64 + 2 * ('A' % 32));
    px[top] = 0x001F, px[top + 64] = 0x07E0;
    alpha[top] = 32, alpha[top + 64] = 16;
    ASSERT_EQ(font_from_picture(5, px.data(), 64, 16), 1);
    ASSERT_EQ(font_from_alpha_picture(6, px.data(), alpha.data(), 64, 16), 1);
    active_clips[1] = ClipRect{0, 0, 239, 100};
    text_set(2, 0, 0, 0, 239, 319, "A", 0, 5, 32, 1, 0, ALIGN_LEFT, 0, 10);
    text_set(2, 1, 100, 0, 239, 319, "A", 0, 6, 32, 1, 0, ALIGN_LEFT, 0, 10);
    text_set(2, 2, 200, 0, 239, 319, "A", 0, 5, 0, 1, 0, ALIGN_LEFT, 0, 10);    // alpha 0
    text_set(2, 3, 50, 100, 239, 319, "A", 0, 5, 32, 1, 0, ALIGN_LEFT, 1, 10);  // clip 1
    text_layer_draw(2);
    EXPECT_EQ(at(0, 0), 0x001F);
    EXPECT_EQ(at(0, 1), 0x07E0);
    EXPECT_EQ(at(100, 0), 0x001F);  // weight 32 copies, weight 16 blends
    EXPECT_TRUE(at(100, 1) != 0x07E0 && at(100, 1) != kBack);
    EXPECT_EQ(at(50, 100), 0x001F);
    EXPECT_EQ(changed(), 5);        // nothing of item 2, nothing of item 3 below row 100
}

}  // namespace
