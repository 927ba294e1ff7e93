// Compositor: depth order, hidden sprites, fade, background fill, clip tables, sprite footprint
// and the guards on indices outside the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "media/bitmap.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "runtime/framebuffer.h"
#include "runtime/host.h"

namespace {

uint16_t pixel(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }

// A solid RGB565 bitmap of `frames` frames stacked vertically, frame f filled with colour + f.
struct SolidBitmap {
    std::vector<uint16_t> pixels;
    Bitmap bitmap{};
    SolidBitmap(int w, int h, uint16_t colour, int frames = 1) : pixels(w * h * frames) {
        for (int f = 0; f < frames; ++f)
            std::fill(pixels.begin() + f * w * h, pixels.begin() + (f + 1) * w * h, colour + f);
        bitmap.pixels = pixels.data();
        bitmap.kind = BITMAP_RGB565;
        bitmap.opaque = 1;
        bitmap.width = w;
        bitmap.height = h * frames;
    }
};

class Compose : public ::testing::Test {
protected:
    void SetUp() override {
        sprites_init();
        layer_free_all();
        fps_value = 40;
        background_colour = 0;
        std::fill(std::begin(Framebuffer), std::end(Framebuffer), 0x1234);
    }
    void TearDown() override {
        sprite_table_clear();
        layer_free_all();
    }
};

TEST_F(Compose, LowerSlotInFrontAndLayersBehindSpritesOfTheirDepth) {
    SolidBitmap red(8, 8, 0xF800), green(8, 8, 0x07E0);
    sprite_set(5, &green.bitmap, 8, 8, 50, 50);
    sprite_set(3, &red.bitmap, 8, 8, 50, 50);
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0xF800);

    // Depth beats slot number: slot 3 sent back behind slot 5.
    SpriteTable[3]->depth = 7;
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0x07E0);

    // A full-screen layer at depth 7 lies behind the sprite at depth 7 but covers depth 8.
    ASSERT_EQ(layer_create_rgb565(2, 240, 320, 1), 1);
    std::fill(layer_rgb565(2), layer_rgb565(2) + 240 * 320, 0x001F);
    LayerTable[2].depth = 7;
    SpriteTable[5]->depth = 8;
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0xF800);
    SpriteTable[3]->depth = 8;
    compose(0, 1023);
    EXPECT_EQ(pixel(50, 50), 0x001F);
}

TEST_F(Compose, HiddenSpritesAreNeitherDrawnNorAnimated) {
    SolidBitmap bmp(4, 4, 0x0100, 4);
    for (int hide = 0; hide < 3; ++hide) {
        sprite_set(1, &bmp.bitmap, 4, 4, 20, 20);
        sprite_set_animation(1, 0, 3, 40, 0, -1);
        if (hide == 0) SpriteTable[1]->alpha = 0;
        if (hide == 1) SpriteTable[1]->scale = 0;
        if (hide == 2) SpriteTable[1]->active = 0;
        compose(0, 1023);
        EXPECT_EQ(pixel(20, 20), 0) << hide;
        EXPECT_EQ(SpriteTable[1]->frame, 0) << hide;
    }
    SpriteTable[1]->active = 1;
    compose(0, 1023);  // visible: one animation step, then frame 1 drawn
    EXPECT_EQ(SpriteTable[1]->frame, 1);
    EXPECT_EQ(pixel(20, 20), 0x0101);
}

TEST_F(Compose, FadeLevels) {
    background_colour = 0x001F;  // blue 31
    fade_colour = 0;
    fade_level = 32;
    compose(0, 1023);
    EXPECT_EQ(pixel(0, 0), 0x001F);
    fade_level = 16;
    compose(0, 1023);
    EXPECT_EQ(pixel(0, 0), 15);
    background_colour = 0;
    fade_colour = 0x001F;
    compose(0, 1023);
    EXPECT_EQ(pixel(239, 319), 15);
    // Level 0 is exactly the fade colour, and only inside the fade rectangle.
    background_colour = 0xABCD;
    fade_colour = 0x5A5A;
    fade_level = 0;
    set_fade_rect(10, 20, 30, 40);
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 20), 0x5A5A);
    EXPECT_EQ(pixel(30, 40), 0x5A5A);
    EXPECT_EQ(pixel(9, 20), 0xABCD);
    EXPECT_EQ(pixel(31, 40), 0xABCD);
    EXPECT_EQ(pixel(30, 41), 0xABCD);
    // A rectangle reaching past the screen fades what is on it and writes nothing beyond.
    set_fade_rect(-100, -100, 1000, 1000);
    compose(0, 1023);
    EXPECT_EQ(pixel(0, 0), 0x5A5A);
    EXPECT_EQ(pixel(239, 319), 0x5A5A);
}

// The fade's per-channel 16-bit form against the spread rule it replaces, on every RGB565 value.
TEST_F(Compose, FadeMatchesTheSpreadRuleOnEveryPixelValue) {
    auto spread = [](uint16_t p16, uint16_t f16, uint32_t w) {
        const uint32_t p = ((static_cast<uint32_t>(p16) << 16) | p16) & 0x07E0F81Fu;
        const uint32_t f = ((static_cast<uint32_t>(f16) << 16) | f16) & 0x07E0F81Fu;
        const uint32_t r = (p + (((f - p) * w) >> 5)) & 0x07E0F81Fu;
        return static_cast<uint16_t>(r | (r >> 16));
    };
    for (uint16_t colour : {0x0000, 0xFFFF, 0x1234, 0xF81F, 0x07E0}) {
        for (int level = 0; level < 32; level += 3) {
            for (int i = 0; i < SCREEN_WIDTH * 320; ++i) Framebuffer[i] = static_cast<uint16_t>(i);
            fade_colour = colour;
            fade_level = static_cast<uint8_t>(level);
            fade_overlay();
            int wrong = 0;
            for (int i = 0; i < SCREEN_WIDTH * 320; ++i)
                wrong += Framebuffer[i] != spread(static_cast<uint16_t>(i), colour, 32 - level);
            EXPECT_EQ(wrong, 0) << colour << " " << level;
        }
    }
}

TEST_F(Compose, FadeCoversItsDepthAndEverythingBehind) {
    SolidBitmap white(4, 4, 0xFFFF);
    sprite_set(0, &white.bitmap, 4, 4, 10, 10);
    sprite_set(1, &white.bitmap, 4, 4, 30, 10);
    SpriteTable[0]->depth = 5;
    SpriteTable[1]->depth = 4;
    fade_depth = 5;
    fade_level = 0;
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), 0);
    EXPECT_EQ(pixel(30, 10), 0xFFFF);
    // A fade depth outside the composed range draws no fade.
    fade_depth = 900;
    compose(0, 800);
    EXPECT_EQ(pixel(10, 10), 0xFFFF);
}

TEST_F(Compose, BackgroundFillFollowsTheScreenClip) {
    background_colour = 0x7777;
    set_screen_clip(10, 10, 19, 12);
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), 0x7777);
    EXPECT_EQ(pixel(19, 12), 0x7777);
    EXPECT_EQ(pixel(9, 10), 0x1234);
    EXPECT_EQ(pixel(20, 12), 0x1234);
    EXPECT_EQ(pixel(10, 13), 0x1234);
    // Full-width rows, and an empty rectangle that fills nothing.
    set_screen_clip(0, 300, 239, 301);
    compose(0, 1023);
    EXPECT_EQ(pixel(0, 300), 0x7777);
    EXPECT_EQ(pixel(239, 301), 0x7777);
    EXPECT_EQ(pixel(0, 302), 0x1234);
    std::fill(std::begin(Framebuffer), std::end(Framebuffer), 0x1234);
    set_screen_clip(0, 50, 239, 49);
    compose(0, 1023);
    EXPECT_EQ(std::count(std::begin(Framebuffer), std::end(Framebuffer), 0x7777), 0);
    background_fill = 0;
    set_screen_clip(0, 0, 239, 319);
    compose(0, 1023);
    EXPECT_EQ(pixel(0, 0), 0x1234);
}

TEST_F(Compose, ActiveClipsAreTheClipRectanglesWithinTheScreen) {
    set_clip_rect(3, -50, 5, 100, 1000);
    set_screen_clip(0, 0, 200, 319);
    compose(0, 1023);
    EXPECT_EQ(active_clips[3].left, 0);
    EXPECT_EQ(active_clips[3].top, 5);
    EXPECT_EQ(active_clips[3].right, 100);
    EXPECT_EQ(active_clips[3].bottom, 319);
    EXPECT_EQ(active_clips[0].right, 200);
    // A screen clip larger than the Framebuffer is held to it.
    set_screen_clip(-10, -10, 500, 500);
    compose(0, 1023);
    EXPECT_EQ(active_clips[0].left, 0);
    EXPECT_EQ(active_clips[0].right, 239);
    EXPECT_EQ(active_clips[0].bottom, 319);

    SolidBitmap white(20, 20, 0xFFFF);
    set_clip_rect(3, 0, 0, 49, 319);
    sprite_set(0, &white.bitmap, 20, 20, 50, 50);  // columns 40..59
    SpriteTable[0]->clip_index = 3;
    compose(0, 1023);
    EXPECT_EQ(pixel(49, 50), 0xFFFF);
    EXPECT_EQ(pixel(50, 50), 0);
}

TEST_F(Compose, SpriteFootprintAndCrop) {
    SolidBitmap white(4, 4, 0xFFFF), odd(5, 5, 0xFFFF);
    sprite_set(0, &white.bitmap, 4, 4, 10, 10);
    sprite_set(1, &odd.bitmap, 5, 5, 100, 100);
    compose(0, 1023);
    for (int v = 7; v <= 12; ++v) {
        const bool in = v >= 8 && v <= 11;
        EXPECT_EQ(pixel(v, 10) == 0xFFFF, in) << v;
        EXPECT_EQ(pixel(10, v) == 0xFFFF, in) << v;
    }
    EXPECT_EQ(pixel(98, 98), 0xFFFF);
    EXPECT_EQ(pixel(102, 102), 0xFFFF);
    EXPECT_EQ(pixel(103, 100), 0);
    // Crop (2, 0, 3, 3): only frame columns 2 and 3, in their places.
    sprite_set_crop(0, 2, 0, 3, 3);
    compose(0, 1023);
    EXPECT_EQ(pixel(9, 10), 0);
    EXPECT_EQ(pixel(10, 10), 0xFFFF);
    EXPECT_EQ(pixel(11, 10), 0xFFFF);
}

TEST_F(Compose, IndexedSpritesUseRunsAndFlips) {
    // 4 x 2 indexed frame: row 0 indices 1 2 0 3, row 1 all 0; runs built by the Bitmap module.
    std::vector<uint8_t> indices = {1, 2, 0, 3, 0, 0, 0, 0};
    std::vector<uint16_t> palette(256, 0);
    palette[1] = 0x1111;
    palette[2] = 0x2222;
    palette[3] = 0x3333;
    Bitmap bmp{};
    bmp.pixels = indices.data();
    bmp.palette = palette.data();
    bmp.kind = BITMAP_INDEXED8;
    bmp.width = 4;
    bmp.height = 2;
    ASSERT_EQ(bitmap_encode_runs(&bmp, indices.data(), 4, 2), 1);
    sprite_set(0, &bmp, 4, 2, 12, 11);  // left 10, top 10
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), 0x1111);
    EXPECT_EQ(pixel(11, 10), 0x2222);
    EXPECT_EQ(pixel(12, 10), 0);
    EXPECT_EQ(pixel(13, 10), 0x3333);
    SpriteTable[0]->flip_x = 1;
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), 0x3333);
    EXPECT_EQ(pixel(11, 10), 0);
    EXPECT_EQ(pixel(13, 10), 0x1111);
    EXPECT_EQ(sprite_pixel(0, 1, 0), 0x2222);
    std::free(bmp.runs);
    std::free(bmp.row_offsets);
}

TEST_F(Compose, IndicesOutsideTheTablesAreIgnored) {
    SolidBitmap white(4, 4, 0xFFFF);
    sprite_set(-1, &white.bitmap, 4, 4, 10, 10);
    sprite_set(SPRITE_SLOTS, &white.bitmap, 4, 4, 10, 10);
    sprite_set_animation(-3, 0, 1, 40, 0, 1);
    set_clip_rect(16, 0, 0, 0, 0);
    EXPECT_EQ(sprite_pixel(SPRITE_SLOTS, 0, 0), 0);
    EXPECT_EQ(sprite_hit_rect(SPRITE_SLOTS), 0);

    sprite_set(0, &white.bitmap, 4, 4, 10, 10);
    SpriteTable[0]->depth = 1024;
    sprite_set(1, &white.bitmap, 4, 4, 30, 10);
    SpriteTable[1]->clip_index = 16;
    sprite_set(2, &white.bitmap, 4, 4, 50, 10);
    SpriteTable[2]->frame = 1;  // past the bitmap's only frame
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), 0);
    EXPECT_EQ(pixel(30, 10), 0);
    EXPECT_EQ(pixel(50, 10), 0);
    EXPECT_EQ(sprite_pixel(2, 0, 0), 0);
    // compose's own range: depths outside first..last are not drawn.
    SpriteTable[2]->frame = 0;
    SpriteTable[2]->depth = 2;
    compose(3, 1023);
    EXPECT_EQ(pixel(50, 10), 0);
    compose(0, 5000);
    EXPECT_EQ(pixel(50, 10), 0xFFFF);
}

}  // namespace
