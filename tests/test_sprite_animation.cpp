// Sprite animation steps: sequences with and without ping-pong, loop counts, speed against the
// measured frame rate, and the guarded cases (no rate, backwards ranges).
#include <gtest/gtest.h>

#include <vector>

#include "media/bitmap.h"
#include "runtime/host.h"
#include "runtime/sprites.h"

namespace {

class Animation : public ::testing::Test {
protected:
    uint16_t pixels[4 * 4 * 8] = {};
    Bitmap bitmap{};
    void SetUp() override {
        sprites_init();
        fps_value = 40;
        bitmap.pixels = pixels;
        bitmap.kind = BITMAP_RGB565;
        bitmap.opaque = 1;
        bitmap.width = 4;
        bitmap.height = 32;
        sprite_set(7, &bitmap, 4, 4, 20, 20);
    }
    void TearDown() override { sprite_table_clear(); }

    // The starting frame, then the frame after each of `steps` animation steps.
    std::vector<int> frames_shown(int steps) {
        std::vector<int> shown{SpriteTable[7]->frame};
        for (int i = 0; i < steps; ++i) {
            sprite_animate(7);
            shown.push_back(SpriteTable[7]->frame);
        }
        return shown;
    }
};

using Frames = std::vector<int>;

TEST_F(Animation, RestartWithoutPingPong) {
    sprite_set_animation(7, 0, 3, 40, 0, 1);  // one step per display frame at 40 fps
    EXPECT_EQ(frames_shown(6), (Frames{0, 1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(SpriteTable[7]->animating, 0);
    EXPECT_EQ(SpriteTable[7]->loops, 0);
}

TEST_F(Animation, PingPongLoopCounts) {
    sprite_set_animation(7, 0, 3, 40, 1, 1);
    EXPECT_EQ(frames_shown(5), (Frames{0, 1, 2, 3, 3, 3}));
    EXPECT_EQ(SpriteTable[7]->animating, 0);

    sprite_set_animation(7, 0, 3, 40, 1, 2);
    EXPECT_EQ(frames_shown(8), (Frames{0, 1, 2, 3, 2, 1, 0, 0, 0}));
    EXPECT_EQ(SpriteTable[7]->animating, 0);

    sprite_set_animation(7, 0, 3, 40, 1, -1);
    EXPECT_EQ(frames_shown(12), (Frames{0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 1, 0}));
    EXPECT_EQ(SpriteTable[7]->animating, 1);
    EXPECT_EQ(SpriteTable[7]->loops, -1);

    // Loops 0 plays for ever too.
    sprite_set_animation(7, 0, 1, 40, 0, 0);
    frames_shown(10);
    EXPECT_EQ(SpriteTable[7]->animating, 1);
    EXPECT_EQ(SpriteTable[7]->loops, -1);
}

TEST_F(Animation, SpeedAgainstFrameRate) {
    sprite_set_animation(7, 0, 7, 20, 0, -1);
    EXPECT_EQ(frames_shown(6), (Frames{0, 0, 1, 1, 2, 2, 3}));
    // Only the low 8 bits of the speed count: 296 is 40.
    sprite_set_animation(7, 0, 7, 296, 0, -1);
    EXPECT_EQ(frames_shown(2), (Frames{0, 1, 2}));
    // A rate above 255 is never reached by the 8-bit accumulator.
    fps_value = 300;
    sprite_set_animation(7, 0, 7, 255, 0, -1);
    EXPECT_EQ(frames_shown(5), (Frames{0, 0, 0, 0, 0, 0}));
    // Several steps in one call when the speed exceeds the rate.
    fps_value = 10;
    sprite_set_animation(7, 0, 7, 30, 0, -1);
    EXPECT_EQ(frames_shown(1), (Frames{0, 3}));
}

TEST_F(Animation, NoMeasuredRateNeverHangs) {
    fps_value = 0;
    sprite_set_animation(7, 0, 3, 40, 0, -1);
    EXPECT_EQ(frames_shown(3), (Frames{0, 0, 0, 0}));
}

TEST_F(Animation, BackwardsRangePlaysDownFromFirst) {
    sprite_set_animation(7, 3, 0, 40, 0, 1);
    EXPECT_EQ(SpriteTable[7]->first_frame, 0);
    EXPECT_EQ(SpriteTable[7]->last_frame, 3);
    EXPECT_EQ(frames_shown(5), (Frames{3, 2, 1, 0, 3, 3}));
    sprite_set_animation(7, 3, 0, 40, 1, 2);
    EXPECT_EQ(frames_shown(7), (Frames{3, 2, 1, 0, 1, 2, 3, 3}));
    EXPECT_EQ(SpriteTable[7]->animating, 0);
}

TEST_F(Animation, SpriteSetStopsTheAnimationButKeepsItsFields) {
    sprite_set_animation(7, 0, 3, 40, 1, 5);
    sprite_animate(7);
    sprite_set(7, &bitmap, 4, 4, 20, 20);
    EXPECT_EQ(SpriteTable[7]->animating, 0);
    EXPECT_EQ(SpriteTable[7]->frame, 0);
    EXPECT_EQ(SpriteTable[7]->loops, 5);
    EXPECT_EQ(SpriteTable[7]->ping_pong, 1);
    frames_shown(3);
    EXPECT_EQ(SpriteTable[7]->frame, 0);
}

}  // namespace
