// Sprite behaviour: animation steps (sequences, loop counts, speed against the measured frame
// rate, guarded cases), the pen tests (scaled rectangle, dragging, pixel-exact capture, and the
// capture's two-frame ageing done by input_update), and the weights at which a sprite is drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "media/bitmap.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/sprites.h"
#include "tests/support/check.h"

namespace {

using Frames = std::vector<int>;

class Sprites : public ::testing::Test {
protected:
    // 10 x 10 frames, 8 of them; slot 4 shows frame 0 at columns and rows 45..54.
    std::vector<uint16_t> pixels = std::vector<uint16_t>(800, 0x07E0);
    Bitmap bitmap{pixels.data(), nullptr, nullptr, nullptr, nullptr, BITMAP_RGB565, 1, 10, 80};
    void SetUp() override {
        sprites_init();
        fps_value = 40;
        pen_state = PenState{};
        drag_state = DragState{};
        raw_input = RawInput{};
        sprite_set(4, &bitmap, 10, 10, 50, 50);
    }
    void TearDown() override { sprite_table_clear(); }
    // Starts an animation on slot 4; returns its first frame and the frame after each step.
    Frames play(int16_t first, int16_t last, int16_t speed, uint8_t ping_pong, int16_t loops, int steps) {
        sprite_set_animation(4, first, last, speed, ping_pong, loops);
        Frames shown{SpriteTable[4]->frame};
        for (int i = 0; i < steps; ++i) {
            sprite_animate(4);
            shown.push_back(SpriteTable[4]->frame);
        }
        return shown;
    }
    void pen_at(int x, int y) {
        pen_state.x = static_cast<int16_t>(x);
        pen_state.y = static_cast<int16_t>(y);
    }
    // First and last pen column on row 50 (or row on column 50) for which test() is non-zero.
    template <typename Test>
    std::pair<int, int> hit_columns(Test test, bool rows = false) {
        int first = -1, last = -1;
        for (int x = 0; x < 120; ++x) {
            pen_at(rows ? 50 : x, rows ? x : 50);
            if (!test()) continue;
            if (first < 0) first = x;
            last = x;
        }
        return {first, last};
    }
};

TEST_F(Sprites, AnimationSequencesLoopsAndSpeed) {
    const struct { int16_t first, last, speed; uint8_t ping_pong; int16_t loops; uint32_t fps; Frames shown; } cases[] = {
        {0, 3, 40, 0, 1, 40, {0, 1, 2, 3, 0, 0, 0}},
        {0, 3, 40, 1, -1, 40, {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 1, 0}},
        {3, 0, 40, 1, 2, 40, {3, 2, 1, 0, 1, 2, 3, 3}},  // a backwards range plays down from first
        {0, 7, 30, 0, -1, 10, {0, 3}},                 // speed against the frame rate: several steps
        {0, 7, 255, 0, -1, 300, {0, 0, 0, 0}},         // never reached by the 8-bit accumulator
        {0, 3, 40, 0, -1, 0, {0, 0, 0, 0}},            // no rate: no steps, and no endless loop
    };
    for (const auto& c : cases) {
        fps_value = c.fps;
        EXPECT_EQ(play(c.first, c.last, c.speed, c.ping_pong, c.loops, static_cast<int>(c.shown.size()) - 1), c.shown)
            << c.first << ".." << c.last << " loops " << c.loops << " speed " << c.speed;
        if (c.loops > 0 && c.fps == 40) {
            EXPECT_EQ(SpriteTable[4]->animating, 0);
        }
    }
    EXPECT_EQ(SpriteTable[4]->loops, -1);
    fps_value = 40;
    play(0, 1, 40, 0, 0, 10);  // loops 0 plays for ever too
    EXPECT_EQ(SpriteTable[4]->animating * 10 + SpriteTable[4]->loops, 9);
}

TEST_F(Sprites, RectangleFollowsTheScale) {
    for (bool rows : {false, true}) {
        SpriteTable[4]->scale = 1024;
        EXPECT_EQ(hit_columns([] { return sprite_hit_rect(4); }, rows), std::make_pair(45, 54));
        SpriteTable[4]->scale = 2048;
        EXPECT_EQ(hit_columns([] { return sprite_hit_rect(4); }, rows), std::make_pair(40, 59));
    }
    SpriteTable[4]->active = 0;
    EXPECT_EQ(hit_columns([] { return sprite_hit_rect(4) + sprite_hit_rect(5); }), std::make_pair(-1, -1));
}

TEST_F(Sprites, DragCapturesOnePixelWiderAndFollowsThePen) {
    pen_state.down = 1;
    EXPECT_EQ(hit_columns([] { drag_state.captured = 0; return sprite_drag(4, 0, 0); }),
              std::make_pair(45, 55));
    drag_state = DragState{};
    pen_at(55, 55);
    drag_state.dy = 7;
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);  // capturing step: no movement
    EXPECT_EQ(vals(SpriteTable[4]->x, drag_state.dx, drag_state.dy), vals(50, 0, 0));
    pen_at(120, 25);  // far outside the sprite in one frame
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    EXPECT_EQ((std::vector<int>{drag_state.dx, drag_state.dy, SpriteTable[4]->x, SpriteTable[4]->y}),
              (std::vector<int>{65, -30, 115, 20}));
    pen_at(122, 26);
    ASSERT_EQ(sprite_drag(4, 1, 0), 1);  // snap: the centre jumps to the pen
    EXPECT_EQ(SpriteTable[4]->x, 122);
    sprite_set(3, &bitmap, 10, 10, 122, 26);
    EXPECT_EQ(sprite_drag(3, 0, 0), 0);  // held by another sprite
    pen_state.down = 0;
    EXPECT_EQ(sprite_drag(4, 0, 0), 0);
    // Pixel-exact capture passes over a transparent pixel.
    drag_state = DragState{};
    sprite_set(4, &bitmap, 10, 10, 50, 50);
    pixels[0] = colour_key;
    pen_state.down = 1;
    pen_at(45, 45);
    EXPECT_EQ(sprite_drag(4, 0, 1), 0);
    EXPECT_EQ(sprite_drag(4, 0, 0), 1);
}

// Every way a sprite reaches the screen (each kind, opaque or run-coded, plain, flipped, scaled,
// rotated) paints at alpha 12 and nothing at alpha 0 and below; an opaque sprite flipped shows
// the mirror of its plain row, an indexed one the row its colours show as RGB565. Frame 1 of
// 16 x 8 frames, a colour per column; each row's runs skip 2 pixels, then draw 14 (skip/draw
// pairs) or 4 translucent and 10 opaque (skip/translucent/opaque triples).
TEST_F(Sprites, AlphaZeroOrBelowDrawsNothing) {
    std::vector<uint8_t> indices(256), plane(256, 20);
    std::vector<uint16_t> colours(256), palette(256), offsets(16, 0), indexed_row[2];
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i * 0x0841);
    for (int i = 0; i < 256; ++i) indices[i] = uint8_t(i < 128 ? 99 : i % 16 + 1), colours[i] = palette[indices[i]];
    uint8_t pairs[] = {2, 14, 0xFF, 0xFF, 0xFF, 0xFF}, triples[] = {2, 4, 10, 0xFF, 0xFF, 0xFF, 0xFF};
    screen_height = 320;
    for (int kind : {1, 2, 3})
        for (int opaque : {0, 1}) {
            std::vector<uint16_t> row[2];  // row 100 at alpha 12, plain and flipped
            for (int shape = 0; shape < 4; ++shape)  // plain, flipped, doubled, rotated
                for (int alpha : {12, 0, -8, -32768}) {
                    Bitmap b{kind == 1 ? static_cast<void*>(indices.data()) : colours.data(), kind == 3 ? plane.data() : nullptr,
                             opaque ? nullptr : offsets.data(), opaque ? nullptr : kind == 3 ? triples : pairs,
                             kind == 1 ? palette.data() : nullptr, kind, opaque, 16, 16};
                    sprite_set(9, &b, 16, 8, 100, 100);
                    SpriteSlot& s = *SpriteTable[9];
                    s.frame = 1, s.flip_x = shape == 1, s.alpha = static_cast<int16_t>(alpha);
                    s.scale = shape == 2 ? 2048 : 1024, s.angle = shape == 3 ? 100 : 0;
                    std::fill(std::begin(Framebuffer), std::end(Framebuffer), 0x1234);
                    sprite_draw(9);
                    EXPECT_EQ(std::count(std::begin(Framebuffer), std::end(Framebuffer), 0x1234) < SCREEN_WIDTH * SCREEN_MAX_HEIGHT, alpha > 0)
                        << "kind " << kind << " opaque " << opaque << " shape " << shape << " alpha " << alpha;
                    if (alpha == 12 && shape < 2) row[shape].assign(&Framebuffer[100 * SCREEN_WIDTH + 92], &Framebuffer[100 * SCREEN_WIDTH + 108]);
                }
            std::reverse(row[1].begin(), row[1].end());
            if (opaque) {
                EXPECT_EQ(row[0], row[1]) << "kind " << kind;
            }
            if (kind == 1) indexed_row[opaque] = row[1];
            if (kind == 2) {
                EXPECT_EQ(row[1], indexed_row[opaque]) << "opaque " << opaque;
            }
        }
}

TEST_F(Sprites, CaptureAgesOutAfterTwoFramesWithoutADragStep) {
    raw_input = RawInput{1, 50, 50, 0, {}};
    input_update();
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    input_update();
    input_update();
    EXPECT_EQ(drag_state.captured, 1);
    input_update();
    EXPECT_EQ(drag_state.captured, 0);
    ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    for (int i = 0; i < 5; ++i) {  // renewed every frame it lasts
        input_update();
        ASSERT_EQ(sprite_drag(4, 0, 0), 1);
    }
    raw_input.pen_down = 0;
    input_update();
    EXPECT_EQ(drag_state.captured, 0);
}

}  // namespace

// The pixel hit test reads the picture under the pen: row 5 of the sprite at 45..54 has a
// transparent last pixel, so the pen hits columns 45..53 on row 50.
TEST_F(Sprites, PixelHitReadsThePixelUnderThePen) {
    pixels[5 * 10 + 9] = colour_key;
    EXPECT_EQ(hit_columns([] { return sprite_hit_pixel(4); }), std::make_pair(45, 53));
    EXPECT_EQ(hit_columns([] { return sprite_hit_pixel(4); }, true), std::make_pair(45, 54));
}

// A new animation starts with an empty step count: at speed 39 and 40 fps the first step comes
// with the second frame, whatever the previous animation left.
TEST_F(Sprites, AnimationStartsWithAnEmptyStepCount) {
    SpriteTable[4]->tick = 30;
    EXPECT_EQ(play(0, 3, 39, 0, -1, 2), (Frames{0, 0, 1}));
}
