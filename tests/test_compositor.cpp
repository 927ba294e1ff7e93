// Compositor: depth order, hidden sprites, fade, background fill, clip tables, where sprites
// land and with which kernel, and indices outside the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "media/bitmap.h"
#include "render/blend.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "tests/support/check.h"

namespace {

uint16_t pixel(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }

// A solid RGB565 bitmap of `frames` frames stacked vertically, frame f filled with colour + f.
struct SolidBitmap {
    std::vector<uint16_t> pixels;
    Bitmap bitmap{};
    SolidBitmap(int w, int h, uint16_t colour, int frames = 1) : pixels(w * h * frames) {
        for (int f = 0; f < frames; ++f)
            std::fill(pixels.begin() + f * w * h, pixels.begin() + (f + 1) * w * h, colour + f);
        bitmap = Bitmap{pixels.data(), nullptr, nullptr, nullptr, nullptr, BITMAP_RGB565, 1, w, h * frames};
    }
};

class Compose : public ::testing::Test {
protected:
    SolidBitmap white{4, 4, 0xFFFF};
    void SetUp() override {
        sprites_init();
        fps_value = 40;
        background_colour = 0;
        std::fill(std::begin(Framebuffer), std::end(Framebuffer), 0x1234);
    }
    void TearDown() override {
        sprite_table_clear();
        layer_free_all();
    }
};

TEST_F(Compose, DepthOrder) {
    SolidBitmap red(8, 8, 0xF800), green(8, 8, 0x07E0);
    sprite_set(5, &green.bitmap, 8, 8, 50, 50);
    sprite_set(3, &red.bitmap, 8, 8, 50, 50);
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0xF800);  // same depth: the lower slot is in front
    SpriteTable[3]->depth = 7;
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0x07E0);
    // A full-screen layer at depth 7 lies behind that depth's sprites and covers depth 8.
    ASSERT_EQ(layer_create_rgb565(2, 240, 320, 1), 1);
    std::fill(layer_rgb565(2), layer_rgb565(2) + 240 * 320, 0x001F);
    LayerTable[2].depth = 7;
    SpriteTable[5]->depth = 8;
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0xF800);
    SpriteTable[3]->depth = 8;
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0x001F);
    // The first depth asked for is drawn, those in front of it are not.
    SpriteTable[3]->depth = 7;
    compose(7, 1023);
    EXPECT_EQ(vals(pixel(50, 50), pixel(0, 0)), vals(0xF800, 0x001F));
    compose(8, 1023);
    EXPECT_EQ(vals(pixel(50, 50), pixel(0, 0)), vals(0x07E0, 0));
}

TEST_F(Compose, HiddenSpritesAreNeitherDrawnNorAnimated) {
    SolidBitmap frames(4, 4, 0x0100, 4);
    for (int hide = 0; hide < 3; ++hide) {
        sprite_set(1, &frames.bitmap, 4, 4, 20, 20);
        sprite_set_animation(1, 0, 3, 40, 0, -1);
        if (hide == 0) SpriteTable[1]->alpha = 0;
        if (hide == 1) SpriteTable[1]->scale = 0;
        if (hide == 2) SpriteTable[1]->active = 0;
        compose(0, 1023);
        EXPECT_EQ(vals(pixel(20, 20), SpriteTable[1]->frame), vals(0, 0)) << hide;
    }
    SpriteTable[1]->active = 1;
    compose(0, 1023);  // one animation step, then frame 1 is drawn
    EXPECT_EQ(pixel(20, 20), 0x0101);
    // sprite_pixel reads the frame shown and nothing past its edges.
    EXPECT_EQ(vals(sprite_pixel(1, 3, 3), sprite_pixel(1, 0, 4), sprite_pixel(1, 4, 0)), vals(0x0101, 0, 0));
}

// Every pixel value against the blend rule at weight 32 - level (blend_rgb565 is checked
// channel by channel against P + floor((F - P) * w / 32) in test_blend_kernels.cpp).
TEST_F(Compose, FadeOfEveryPixelValueFollowsTheBlendRule) {
    for (uint16_t colour : {0x0000, 0xFFFF, 0x1234, 0xF81F, 0x07E0})
        for (int level = 0; level < 32; level += 3) {
            for (int i = 0; i < SCREEN_WIDTH * 320; ++i) Framebuffer[i] = static_cast<uint16_t>(i);
            fade_colour = colour;
            fade_level = static_cast<uint8_t>(level);
            fade_overlay();
            int wrong = 0;
            for (int i = 0; i < SCREEN_WIDTH * 320; ++i)
                wrong += Framebuffer[i] != blend_rgb565(static_cast<uint16_t>(i), colour, static_cast<uint32_t>(32 - level));
            EXPECT_EQ(wrong, 0) << colour << " " << level;
        }
}

TEST_F(Compose, FadeCoversItsDepthAndEverythingBehindWithinItsRectangle) {
    sprite_set(0, &white.bitmap, 4, 4, 10, 10);
    sprite_set(1, &white.bitmap, 4, 4, 30, 10);
    SpriteTable[0]->depth = 5, SpriteTable[1]->depth = 4;
    fade_depth = 5, fade_level = 0;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(10, 10), pixel(30, 10)), vals(0, 0xFFFF));
    fade_depth = 900;  // outside the composed range: no fade
    compose(0, 800);
    EXPECT_EQ(pixel(10, 10), 0xFFFF);
    // A fade rectangle limits the fade; one past the screen writes nothing beyond it (ASan).
    fade_depth = 5;
    set_fade_rect(10, 20, 30, 40);
    compose(0, 1023);
    EXPECT_EQ((std::vector<int>{pixel(10, 10), pixel(30, 10), pixel(10, 20), pixel(30, 41)}), (std::vector<int>{0xFFFF, 0xFFFF, 0, 0}));
    set_fade_rect(-100, -100, 1000, 1000);
    SpriteTable[0]->x = SpriteTable[0]->y = 2;  // now over the screen's first row and column
    compose(0, 1023);
    EXPECT_EQ(pixel(0, 0), 0);
}

TEST_F(Compose, BackgroundFillAndClipsStayInsideTheScreenClip) {
    background_colour = 0x7777;
    set_screen_clip(10, 10, 239, 12);  // reaching the right edge, not the left
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(10, 10), pixel(239, 12), pixel(9, 11), pixel(10, 13), active_clips[0].top),
              vals(0x7777, 0x7777, 0x1234, 0x1234, 10));
    set_screen_clip(0, 50, 239, 49);  // empty
    compose(0, 1023);
    EXPECT_EQ(std::count(std::begin(Framebuffer), std::end(Framebuffer), 0x7777), 230 * 3);
    set_screen_clip(5, 60, 5, 60);  // one pixel
    compose(0, 1023);
    EXPECT_EQ(vals(std::count(std::begin(Framebuffer), std::end(Framebuffer), 0x7777), pixel(5, 60)), vals(230 * 3 + 1, 0x7777));

    set_clip_rect(3, -50, 5, 49, 1000);
    set_screen_clip(-10, -10, 500, 500);  // held to the Framebuffer
    compose(0, 1023);
    EXPECT_EQ(vals(active_clips[3].left, active_clips[3].right, active_clips[0].right), vals(0, 49, 239));
    sprite_set(0, &white.bitmap, 4, 4, 50, 50);  // columns 48..51
    SpriteTable[0]->clip_index = 3;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(49, 50), pixel(50, 50)), vals(0xFFFF, 0x7777));
}

// Scaled RGB565 sprites at twice the size from (16, 16): the copy kernel draws a keyed sprite's
// key pixels too (one kernel serves keyed and opaque), the blending kernel leaves them out, and
// half alpha blends.
TEST_F(Compose, ScaledSpritesChooseTheirKernelByKeyAndAlpha) {
    SolidBitmap picture(4, 4, 0xFFFF);
    picture.pixels[0] = colour_key;
    for (int opaque : {0, 1})
        for (int alpha : {32, 16}) {
            picture.bitmap.opaque = opaque;
            sprite_set(0, &picture.bitmap, 4, 4, 20, 20);
            SpriteTable[0]->scale = 2048;
            SpriteTable[0]->alpha = static_cast<int16_t>(alpha);
            compose(0, 1023);
            const int key = !opaque && alpha == 16 ? 0 : blend_rgb565(0, colour_key, alpha);
            EXPECT_EQ(vals(pixel(16, 16), pixel(20, 20), pixel(24, 20)), vals(key, blend_rgb565(0, 0xFFFF, alpha), 0))
                << opaque << " " << alpha;
        }
}

TEST_F(Compose, IndexedSpritesUseRunsAndFlips) {
    std::vector<uint8_t> indices = {1, 2, 0, 3, 0, 0, 0, 0};  // 4 x 2, index 0 transparent
    std::vector<uint16_t> palette(256, 0);
    palette[1] = 0x1111, palette[2] = 0x2222, palette[3] = 0x3333;
    Bitmap bmp{indices.data(), nullptr, nullptr, nullptr, palette.data(), BITMAP_INDEXED8, 0, 4, 2};
    ASSERT_EQ(bitmap_encode_runs(&bmp, indices.data(), 4, 2), 1);
    sprite_set(0, &bmp, 4, 2, 12, 11);  // top-left (10, 10)
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(11, 10), pixel(13, 10), pixel(14, 10), pixel(11, 9), pixel(11, 12)), vals(0x2222, 0x3333, 0, 0, 0));
    SpriteTable[0]->flip_x = 1;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(10, 10), sprite_pixel(0, 1, 0)), vals(0x3333, 0x2222));
    // Only the low 9 bits of the angle turn a sprite: a whole turn draws as none, half a turn not.
    SpriteTable[0]->flip_x = 0;
    for (int16_t angle : {0, 512, 256}) {
        SpriteTable[0]->angle = angle;
        compose(0, 1023);
        EXPECT_EQ(vals(pixel(11, 10), pixel(13, 10), pixel(10, 11), pixel(12, 11)),
                  angle == 256 ? vals(0, 0, 0x3333, 0x2222) : vals(0x2222, 0x3333, 0, 0)) << angle;
    }
    std::free(bmp.runs);
    std::free(bmp.row_offsets);
}

TEST_F(Compose, IndicesOutsideTheTablesAreIgnored) {
    sprite_set(-1, &white.bitmap, 4, 4, 10, 10);
    sprite_set(SPRITE_SLOTS, &white.bitmap, 4, 4, 10, 10);
    set_clip_rect(16, 0, 0, 0, 0);
    EXPECT_EQ(sprite_pixel(SPRITE_SLOTS, 0, 0), 0);
    sprite_set(0, &white.bitmap, 4, 4, 10, 10);
    SpriteTable[0]->depth = 1024;
    sprite_set(1, &white.bitmap, 4, 4, 30, 10);
    SpriteTable[1]->clip_index = 16;
    sprite_set(2, &white.bitmap, 4, 4, 50, 10);
    SpriteTable[2]->frame = 1;  // past the bitmap's only frame
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10) | pixel(30, 10) | pixel(50, 10) | sprite_pixel(2, 0, 0), 0);
    SpriteTable[2]->frame = 0;
    SpriteTable[2]->depth = 2;
    compose(3, 1023);  // depths in front of first_depth are not drawn
    EXPECT_EQ(pixel(50, 10), 0);
    compose(0, 5000);
    EXPECT_EQ(pixel(50, 10), 0xFFFF);
    SpriteTable[2]->depth = 1023;  // a last depth past the table draws up to the back one
    compose(0, 5000);
    EXPECT_EQ(pixel(50, 10), 0xFFFF);
}

}  // namespace
