// Pen tests against sprites: the scaled rectangle test, the pixel-exact test per Bitmap kind, and
// dragging (capture, following, snapping, the two-frame ageing done by input_update).
#include <gtest/gtest.h>

#include <vector>

#include "media/bitmap.h"
#include "runtime/input.h"
#include "runtime/sprites.h"

namespace {

class SpriteInput : public ::testing::Test {
protected:
    std::vector<uint16_t> pixels = std::vector<uint16_t>(100, 0x07E0);
    Bitmap bitmap{};
    void SetUp() override {
        sprites_init();
        pen_state = PenState{};
        drag_state = DragState{};
        raw_input = RawInput{};
        bitmap.pixels = pixels.data();
        bitmap.kind = BITMAP_RGB565;
        bitmap.opaque = 1;
        bitmap.width = 10;
        bitmap.height = 10;
        sprite_set(4, &bitmap, 10, 10, 50, 50);
    }
    void TearDown() override { sprite_table_clear(); }
    void pen_at(int x, int y) {
        pen_state.x = static_cast<int16_t>(x);
        pen_state.y = static_cast<int16_t>(y);
    }
    // The range of pen columns along row 50 for which test(4) answers non-zero.
    template <typename Test>
    std::pair<int, int> hit_columns(Test test) {
        int first = -1, last = -1;
        for (int x = 0; x < 120; ++x) {
            pen_at(x, 50);
            if (!test()) continue;
            if (first < 0) first = x;
            last = x;
        }
        return {first, last};
    }
};

TEST_F(SpriteInput, RectangleFollowsTheScale) {
    EXPECT_EQ(hit_columns([] { return sprite_hit_rect(4); }), std::make_pair(45, 54));
    SpriteTable[4]->scale = 2048;
    EXPECT_EQ(hit_columns([] { return sprite_hit_rect(4); }), std::make_pair(40, 59));
    pen_at(59, 59);
    EXPECT_EQ(sprite_hit_rect(4), 1);
    pen_at(59, 60);
    EXPECT_EQ(sprite_hit_rect(4), 0);
    pen_at(50, 50);
    SpriteTable[4]->active = 0;
    EXPECT_EQ(sprite_hit_rect(4), 0);
    EXPECT_EQ(sprite_hit_rect(5), 0);  // no slot
}

TEST_F(SpriteInput, PixelTestPerKind) {
    pixels[2 * 10 + 3] = colour_key;
    pen_at(45 + 3, 45 + 2);
    EXPECT_EQ(sprite_hit_pixel(4), 0);
    pen_at(45 + 4, 45 + 2);
    EXPECT_NE(sprite_hit_pixel(4), 0);
    pen_at(55, 50);  // one past the right edge
    EXPECT_EQ(sprite_hit_pixel(4), 0);

    std::vector<uint8_t> indices(100, 9);
    indices[0] = 0;
    std::vector<uint16_t> palette(256, 0xFFFF);
    Bitmap indexed{};
    indexed.pixels = indices.data();
    indexed.palette = palette.data();
    indexed.kind = BITMAP_INDEXED8;
    indexed.opaque = 1;
    indexed.width = 10;
    indexed.height = 10;
    sprite_set(4, &indexed, 10, 10, 50, 50);
    pen_at(45, 45);
    EXPECT_EQ(sprite_hit_pixel(4), 0);
    pen_at(46, 45);
    EXPECT_EQ(sprite_hit_pixel(4), 9);

    std::vector<uint8_t> block(100 * 3, 0);
    Bitmap with_alpha{};
    with_alpha.pixels = block.data();
    with_alpha.alpha = block.data() + 200;
    with_alpha.alpha[11] = 20;
    with_alpha.kind = BITMAP_RGB565_ALPHA;
    with_alpha.opaque = 1;
    with_alpha.width = 10;
    with_alpha.height = 10;
    sprite_set(4, &with_alpha, 10, 10, 50, 50);
    pen_at(46, 46);
    EXPECT_EQ(sprite_hit_pixel(4), 20);
    pen_at(47, 46);
    EXPECT_EQ(sprite_hit_pixel(4), 0);
}

TEST_F(SpriteInput, DragCapturesOnePixelWiderAndFollowsThePen) {
    pen_state.down = 1;
    EXPECT_EQ(hit_columns([] { drag_state.captured = 0; return sprite_drag(4, 0, 0); }),
              std::make_pair(45, 55));
    drag_state = DragState{};
    pen_at(55, 55);
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    EXPECT_EQ(drag_state.captured, 1);
    EXPECT_EQ(drag_state.sprite, 4);
    EXPECT_EQ(drag_state.dx, 0);
    EXPECT_EQ(SpriteTable[4]->x, 50);
    // A fast move far outside the sprite: it still follows by the pen's movement.
    pen_at(120, 25);
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    EXPECT_EQ(drag_state.dx, 65);
    EXPECT_EQ(drag_state.dy, -30);
    EXPECT_EQ(SpriteTable[4]->x, 115);
    EXPECT_EQ(SpriteTable[4]->y, 20);
    EXPECT_EQ(drag_state.sprite_x, 115);
    // With snap the centre jumps to the pen.
    pen_at(122, 26);
    ASSERT_EQ(sprite_drag(4, 1, 0), 1);
    EXPECT_EQ(SpriteTable[4]->x, 122);
    EXPECT_EQ(SpriteTable[4]->y, 26);
    // Another sprite under the pen cannot take it over.
    sprite_set(3, &bitmap, 10, 10, 122, 26);
    EXPECT_EQ(sprite_drag(3, 0, 0), 0);
    // Pen up: no drag.
    pen_state.down = 0;
    EXPECT_EQ(sprite_drag(4, 0, 0), 0);
}

TEST_F(SpriteInput, PixelExactCaptureSkipsTransparentPixels) {
    pixels[0] = colour_key;
    pen_state.down = 1;
    pen_at(45, 45);
    EXPECT_EQ(sprite_drag(4, 0, 1), 0);
    EXPECT_EQ(drag_state.captured, 0);
    EXPECT_EQ(sprite_drag(4, 0, 0), 1);
}

TEST_F(SpriteInput, CaptureAgesOutAfterTwoFramesWithoutADragStep) {
    raw_input.pen_down = 1;
    raw_input.pen_x = 50;
    raw_input.pen_y = 50;
    input_update();
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    input_update();
    input_update();
    EXPECT_EQ(drag_state.captured, 1);
    input_update();
    EXPECT_EQ(drag_state.captured, 0);
    // Renewed every frame it lasts; lifting the pen ends it at once.
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    for (int i = 0; i < 5; ++i) {
        input_update();
        ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    }
    raw_input.pen_down = 0;
    input_update();
    EXPECT_EQ(drag_state.captured, 0);
}

}  // namespace
