// input_update on hand-set raw flags: pen edges and movement, and key classes (the ageing of a
// drag capture is in test_sprites.cpp).
#include <gtest/gtest.h>

#include <vector>

#include "runtime/input.h"
#include "tests/support/host_events.h"
#include "tests/support/check.h"

namespace {

// At program start no key is down, held, pressed or released and the value slot holds no key
// (ctest runs each test in a program of its own; run whole, this file's first test is first).
TEST(InputAtStart, NoKeyIsDown) {
    std::vector<uint8_t> none(KEY_SLOTS, 0);
    none.back() = KEY_VALUE_NONE;
    for (const uint8_t* keys : {raw_input.key_raw, key_held, key_released, key_pressed})
        EXPECT_EQ(std::vector<uint8_t>(keys, keys + KEY_SLOTS), none);
    EXPECT_EQ(vals(raw_input.pen_down, raw_input.pen_x, raw_input.pen_y, raw_input.click_state), vals(0, 0, 0, 0));
}

struct Input : ::testing::Test {
    void SetUp() override { reset_input_state(); }
    void frame(bool down, int16_t x = 0, int16_t y = 0) {
        raw_input.pen_down = down;
        raw_input.pen_x = x;
        raw_input.pen_y = y;
        input_update();
    }
    void frames(int n, bool down) {
        for (int i = 0; i < n; ++i) frame(down, raw_input.pen_x, raw_input.pen_y);
    }
};

TEST_F(Input, PenEdgesMovementAndLift) {
    EXPECT_EQ(vals(pen_state.x, pen_state.y), vals(120, 160));  // pen_init
    frames(50, false);
    frame(true, 10, 10);
    EXPECT_TRUE(pen_state.down && pen_state.pressed && !pen_state.released);
    EXPECT_EQ(vals(pen_state.dx, pen_state.x), vals(0, 10));  // no movement on the press frame
    frame(true, 13, 8);
    EXPECT_EQ(vals(pen_state.dx, pen_state.dy, pen_state.down_frames), vals(3, -2, 2));
    EXPECT_FALSE(pen_state.pressed);
    frame(false, 200, 200);
    EXPECT_TRUE(!pen_state.down && pen_state.released);
    EXPECT_EQ(vals(pen_state.up_frames, pen_state.down_frames), vals(1, 2));  // down_frames: the last touch
    frame(false, 100, 100);
    EXPECT_FALSE(pen_state.released);
    EXPECT_EQ(vals(pen_state.x, pen_state.dx), vals(13, 3));  // position and movement kept after the lift
    pen_state.up_frames = 32760;  // a very long rest saturates instead of wrapping
    frames(20, false);
    EXPECT_EQ(pen_state.up_frames, 32767);
    // A press within 44 frames of the previous press is a double tap: 1 down + 43 up, not 44 up.
    for (int up : {43, 44}) {
        frames(60, false);
        frame(true);
        frame(false);
        frames(up - 1, false);
        frame(true);
        EXPECT_EQ(pen_state.double_tap, up == 43) << up;
    }
}

TEST_F(Input, LevelKeysStayOneShotKeysAreConsumed) {
    raw_input.key_raw[KEY_UP] = 1;
    raw_input.key_raw[KEY_RETURN] = 1;  // a key-down; Return stays held meanwhile
    input_update();
    EXPECT_TRUE(key_pressed[KEY_UP] && key_held[KEY_UP]);
    EXPECT_TRUE(key_pressed[KEY_RETURN] && key_held[KEY_RETURN]);
    EXPECT_EQ(raw_input.key_raw[KEY_RETURN], 0);
    EXPECT_EQ(vals(key_pressed[KEY_ANY], key_held[KEY_ANY], key_released[KEY_ANY]), vals(1, 1, 0));  // the summary slot
    input_update();
    EXPECT_TRUE(!key_pressed[KEY_UP] && key_held[KEY_UP] && raw_input.key_raw[KEY_UP]);
    EXPECT_TRUE(!key_pressed[KEY_RETURN] && !key_held[KEY_RETURN] && key_released[KEY_RETURN]);
    raw_input.key_raw[KEY_UP] = 0;
    input_update();
    EXPECT_TRUE(key_released[KEY_UP] && !key_held[KEY_UP] && !key_released[KEY_RETURN]);
    input_update();
    EXPECT_FALSE(key_released[KEY_UP]);
    EXPECT_EQ(vals(key_pressed[KEY_ANY], key_held[KEY_ANY], key_released[KEY_ANY]), vals(0, 0, 0));
    for (int k = 0; k < KEY_SLOTS; ++k) {  // the arrows are level keys, the other key slots one-shot
        if (k == KEY_ANY || k == KEY_VALUE) continue;
        raw_input.key_raw[k] = 1;
        input_update();
        EXPECT_EQ(raw_input.key_raw[k], k <= KEY_LEFT ? 1 : 0) << k;
        raw_input.key_raw[k] = 0;
    }
}

}  // namespace
