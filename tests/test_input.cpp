// input_update on hand-set raw flags: pen edges, double taps, movement, key classes, the
// any-key summary and the ageing of a drag capture.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/framebuffer.h"
#include "runtime/input.h"

namespace {

class Input : public ::testing::Test {
public:
    void SetUp() override {
        raw_input = RawInput{};
        raw_input.key_raw[KEY_VALUE] = KEY_VALUE_NONE;
        pen_state = PenState{};
        drag_state = DragState{};
        std::memset(key_held, 0, sizeof(key_held));
        std::memset(key_pressed, 0, sizeof(key_pressed));
        std::memset(key_released, 0, sizeof(key_released));
        key_held[KEY_VALUE] = key_pressed[KEY_VALUE] = key_released[KEY_VALUE] = KEY_VALUE_NONE;
        screen_height = 320;
        pen_init();
    }
    // One frame with the raw pen at (x, y), down or up.
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

TEST_F(Input, PenInitPutsThePenMidScreenAndUp) {
    EXPECT_EQ(pen_state.x, 120);
    EXPECT_EQ(pen_state.y, 160);
    EXPECT_EQ(pen_state.down, 0);
}

TEST_F(Input, OneFrameTouchThenLift) {
    frames(50, false);
    frame(true, 30, 40);
    EXPECT_EQ(pen_state.down, 1);
    EXPECT_EQ(pen_state.pressed, 1);
    EXPECT_EQ(pen_state.released, 0);
    EXPECT_EQ(pen_state.down_frames, 1);
    EXPECT_EQ(pen_state.x, 30);
    EXPECT_EQ(pen_state.y, 40);
    frame(false, 99, 99);
    EXPECT_EQ(pen_state.down, 0);
    EXPECT_EQ(pen_state.pressed, 0);
    EXPECT_EQ(pen_state.released, 1);
    EXPECT_EQ(pen_state.up_frames, 1);
    EXPECT_EQ(pen_state.down_frames, 1);  // describes the last touch
    EXPECT_EQ(pen_state.x, 30);           // the position is kept after the lift
    frame(false);
    EXPECT_EQ(pen_state.released, 0);
    EXPECT_EQ(pen_state.up_frames, 2);
}

TEST_F(Input, MovementWhileDownKeptAfterLift) {
    frames(50, false);
    frame(true, 10, 10);
    EXPECT_EQ(pen_state.dx, 0);
    EXPECT_EQ(pen_state.dy, 0);
    frame(true, 13, 8);
    EXPECT_EQ(pen_state.dx, 3);
    EXPECT_EQ(pen_state.dy, -2);
    frame(true, 20, 8);
    EXPECT_EQ(pen_state.dx, 7);
    EXPECT_EQ(pen_state.dy, 0);
    EXPECT_EQ(pen_state.down_frames, 3);
    frame(false, 200, 200);
    frame(false, 100, 100);
    EXPECT_EQ(pen_state.dx, 7);
    EXPECT_EQ(pen_state.x, 20);
    // The next press starts from its own position, with no movement.
    frame(true, 100, 100);
    EXPECT_EQ(pen_state.dx, 0);
    EXPECT_EQ(pen_state.x, 100);
}

TEST_F(Input, ApplicationWrittenPositionIsTheBaseOfTheNextMove) {
    frames(50, false);
    frame(true, 10, 10);
    pen_state.x = 0;
    frame(true, 12, 10);
    EXPECT_EQ(pen_state.dx, 12);
}

// Presses `gap` frames apart: one frame down, then up until the next press.
bool second_press_is_double_tap(Input* test, int gap) {
    test->frames(100, false);
    test->frame(true);
    test->frames(gap - 1, false);
    test->frame(true);
    return pen_state.double_tap == 1;
}

TEST_F(Input, DoubleTapWindowIs44Frames) {
    EXPECT_TRUE(second_press_is_double_tap(this, 44));
    EXPECT_FALSE(second_press_is_double_tap(this, 45));
    EXPECT_TRUE(second_press_is_double_tap(this, 2));
    // A long touch counts too: it is press to press.
    frames(100, false);
    frame(true);
    frames(43, true);
    frame(false);
    frame(true);
    EXPECT_EQ(pen_state.double_tap, 0);
    // double_tap lasts only the press frame.
    EXPECT_TRUE(second_press_is_double_tap(this, 10));
    frame(true);
    EXPECT_EQ(pen_state.double_tap, 0);
}

TEST_F(Input, FirstTouchSoonAfterStartCountsAsDoubleTap) {
    frames(44, false);  // both counters start at 0: up_frames is 44 at the 45th update
    frame(true);
    EXPECT_EQ(pen_state.double_tap, 1);
    SetUp();
    frames(45, false);
    frame(true);
    EXPECT_EQ(pen_state.double_tap, 0);
}

TEST_F(Input, LongIdleNeverWrapsIntoADoubleTap) {
    frames(100, false);
    frame(true);
    frame(false);
    pen_state.up_frames = 32760;
    frames(20, false);
    EXPECT_EQ(pen_state.up_frames, 32767);
    frame(true);
    EXPECT_EQ(pen_state.double_tap, 0);
}

TEST_F(Input, LevelKeysGivePressHeldRelease) {
    raw_input.key_raw[KEY_UP] = 1;
    input_update();
    EXPECT_EQ(key_pressed[KEY_UP], 1);
    EXPECT_EQ(key_held[KEY_UP], 1);
    EXPECT_EQ(key_released[KEY_UP], 0);
    for (int i = 0; i < 5; ++i) {
        input_update();
        EXPECT_EQ(key_pressed[KEY_UP], 0);
        EXPECT_EQ(key_held[KEY_UP], 1);
        EXPECT_EQ(raw_input.key_raw[KEY_UP], 1);  // level flags are not consumed
    }
    raw_input.key_raw[KEY_UP] = 0;
    input_update();
    EXPECT_EQ(key_released[KEY_UP], 1);
    EXPECT_EQ(key_held[KEY_UP], 0);
    input_update();
    EXPECT_EQ(key_released[KEY_UP], 0);
}

TEST_F(Input, OneShotKeysCountOncePerKeyDown) {
    raw_input.key_raw[KEY_RETURN] = 1;  // the key-down; the key stays held
    input_update();
    EXPECT_EQ(key_pressed[KEY_RETURN], 1);
    EXPECT_EQ(key_held[KEY_RETURN], 1);
    EXPECT_EQ(raw_input.key_raw[KEY_RETURN], 0);
    input_update();
    EXPECT_EQ(key_pressed[KEY_RETURN], 0);
    EXPECT_EQ(key_held[KEY_RETURN], 0);
    EXPECT_EQ(key_released[KEY_RETURN], 1);  // the previous frame's press
    input_update();
    EXPECT_EQ(key_released[KEY_RETURN], 0);
}

TEST_F(Input, ValueSlotHoldsItsValueForOneFrame) {
    raw_input.key_raw[KEY_VALUE] = 65;
    input_update();
    EXPECT_EQ(key_pressed[KEY_VALUE], 65);
    EXPECT_EQ(key_held[KEY_VALUE], 65);
    EXPECT_EQ(raw_input.key_raw[KEY_VALUE], KEY_VALUE_NONE);
    EXPECT_EQ(key_pressed[KEY_ANY], 1);
    input_update();
    EXPECT_EQ(key_held[KEY_VALUE], KEY_VALUE_NONE);
    EXPECT_EQ(key_released[KEY_VALUE], 65);
    EXPECT_EQ(key_released[KEY_ANY], 1);
    input_update();
    EXPECT_EQ(key_released[KEY_ANY], 0);
}

TEST_F(Input, AnyKeySummary) {
    input_update();  // nothing at all: the start values of the value slot count as nothing
    EXPECT_EQ(key_pressed[KEY_ANY], 0);
    EXPECT_EQ(key_held[KEY_ANY], 0);
    EXPECT_EQ(key_released[KEY_ANY], 0);

    raw_input.key_raw[KEY_LEFT] = 1;
    input_update();
    EXPECT_EQ(key_pressed[KEY_ANY], 1);
    EXPECT_EQ(key_held[KEY_ANY], 1);
    input_update();  // Left still held: held but not pressed again
    EXPECT_EQ(key_pressed[KEY_ANY], 0);
    EXPECT_EQ(key_held[KEY_ANY], 1);
    raw_input.key_raw[KEY_LEFT] = 0;
    raw_input.key_raw[KEY_RSHIFT] = 1;
    input_update();  // Left released and Right Shift pressed in the same frame
    EXPECT_EQ(key_released[KEY_ANY], 1);
    EXPECT_EQ(key_pressed[KEY_ANY], 1);
    EXPECT_EQ(key_held[KEY_ANY], 1);
    input_update();  // Right Shift's press seen as released
    EXPECT_EQ(key_released[KEY_ANY], 1);
    EXPECT_EQ(key_held[KEY_ANY], 0);
    EXPECT_EQ(key_pressed[KEY_ANY], 0);
    raw_input.key_raw[7] = 1;  // slots without a host key count too
    input_update();
    EXPECT_EQ(key_pressed[KEY_ANY], 1);
}

TEST_F(Input, DragCaptureEndsAfterTwoUnrenewedFramesOrOnLift) {
    frame(true, 5, 5);
    drag_state.captured = 1;
    drag_state.idle_frames = 0;  // as a drag step leaves it
    frame(true, 5, 5);
    EXPECT_EQ(drag_state.captured, 1);
    EXPECT_EQ(drag_state.idle_frames, 1);
    frame(true, 5, 5);
    EXPECT_EQ(drag_state.captured, 1);
    EXPECT_EQ(drag_state.idle_frames, 2);
    frame(true, 5, 5);
    EXPECT_EQ(drag_state.captured, 0);
    EXPECT_EQ(drag_state.idle_frames, 0);

    drag_state.captured = 1;
    drag_state.idle_frames = 0;
    frame(false);
    EXPECT_EQ(drag_state.captured, 0);
}

}  // namespace
