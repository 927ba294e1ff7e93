// The real frame pump under SDL's dummy video driver, fed with SDL events: window snapping,
// presentation, mouse and key handling across frames, frame-rate measurement, frame timers,
// transitions and the ways the process ends.
#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <cstring>
#include <vector>

#include "render/console.h"
#include "runtime/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "tests/support/host_events.h"

namespace {

class Pump : public ::testing::Test {
protected:
    void SetUp() override { start_test_runtime(); }
};

TEST_F(Pump, FirstPumpSnapsToOneToOneAndPresents32msLater) {
    ASSERT_NE(host_window.surface, nullptr);
    EXPECT_EQ(host_window.surface->w, 480);
    EXPECT_EQ(host_window.surface->h, 640);
    EXPECT_EQ(host_window.pixel_double, 1);
    EXPECT_EQ(screen_height, 320);

    uint32_t before = SDL_GetTicks();
    frame_yield();
    uint32_t first = SDL_GetTicks() - before;
    EXPECT_GE(first, 32u);  // whatever the period (1 ms here)
    EXPECT_EQ(host_window.pixel_double, 0);
    EXPECT_EQ(host_window.surface->w, 240);
    EXPECT_EQ(host_window.surface->h, 320);
    EXPECT_EQ(pump_started, 1);

    before = SDL_GetTicks();
    frame_yield();
    EXPECT_LT(SDL_GetTicks() - before, 32u);
}

TEST_F(Pump, FrameHookRunsOncePerPump) {
    static int calls;
    calls = 0;
    frame_hook = [] { ++calls; };
    frame_yield();
    frame_yield();
    frame_hook = nullptr;
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(pump_frame_count, 2u);
}

TEST_F(Pump, ClickInsideOneFrameIsDownForExactlyOneFrame) {
    frame_yield();
    push_motion(10, 20);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    frame_yield();
    EXPECT_EQ(pen_state.down, 1);
    EXPECT_EQ(pen_state.pressed, 1);
    EXPECT_EQ(pen_state.x, 10);
    EXPECT_EQ(pen_state.y, 20);
    frame_yield();
    EXPECT_EQ(pen_state.down, 0);
    EXPECT_EQ(pen_state.released, 1);
}

TEST_F(Pump, PenEdgesAcrossFrames) {
    frame_yield();
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    frame_yield();
    // No motion yet: the pen is where the last motion put it, (0, 0) at start.
    EXPECT_EQ(pen_state.pressed, 1);
    EXPECT_EQ(pen_state.x, 0);
    EXPECT_EQ(pen_state.y, 0);
    push_motion(30, 40);
    frame_yield();
    EXPECT_EQ(pen_state.down, 1);
    EXPECT_EQ(pen_state.pressed, 0);
    EXPECT_EQ(pen_state.dx, 30);
    EXPECT_EQ(pen_state.dy, 40);
    frame_yield();
    EXPECT_EQ(pen_state.down, 1);
    EXPECT_EQ(pen_state.down_frames, 3);
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    frame_yield();
    EXPECT_EQ(pen_state.released, 1);
    EXPECT_EQ(pen_state.down, 0);
}

TEST_F(Pump, RightAndMiddleButtonsDoNothing) {
    frame_yield();
    push_motion(5, 5);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE);
    frame_yield();
    EXPECT_EQ(pen_state.down, 0);
    EXPECT_EQ(raw_input.click_state, 0);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);  // must not lift the left button
    frame_yield();
    frame_yield();
    EXPECT_EQ(pen_state.down, 1);
    EXPECT_EQ(pen_state.down_frames, 2);
}

TEST_F(Pump, ResizeSnapsAtWidth360AndActsOnTheLastResizeOfAFrame) {
    frame_yield();
    push_resize(360, 100);
    frame_yield();
    EXPECT_EQ(host_window.pixel_double, 1);
    EXPECT_EQ(host_window.surface->w, 480);
    EXPECT_EQ(host_window.surface->h, 640);
    push_resize(359, 700);
    frame_yield();
    EXPECT_EQ(host_window.pixel_double, 0);
    EXPECT_EQ(host_window.surface->w, 240);
    EXPECT_EQ(host_window.surface->h, 320);
    push_resize(900, 900);
    push_resize(100, 100);
    frame_yield();
    EXPECT_EQ(host_window.pixel_double, 0);
    push_resize(100, 100);
    push_resize(361, 100);
    frame_yield();
    EXPECT_EQ(host_window.pixel_double, 1);
}

TEST_F(Pump, MouseCoordinatesAreHalvedInDoubledMode) {
    frame_yield();
    push_resize(480, 640);
    frame_yield();
    ASSERT_EQ(host_window.pixel_double, 1);
    push_motion(101, 201);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    frame_yield();
    EXPECT_EQ(pen_state.x, 50);
    EXPECT_EQ(pen_state.y, 100);
}

TEST_F(Pump, ReturnKeepsTheScaleAndCountsOnce) {
    frame_yield();
    push_resize(480, 640);
    push_key(SDL_KEYDOWN, SDLK_RETURN);
    frame_yield();
    EXPECT_EQ(key_pressed[KEY_RETURN], 1);
    frame_yield();  // the window move happens in this pump; the picture stays doubled
    EXPECT_EQ(key_pressed[KEY_RETURN], 0);
    EXPECT_EQ(host_window.pixel_double, 1);
    EXPECT_EQ(host_window.surface->w, 480);
    push_key(SDL_KEYUP, SDLK_RETURN);
    frame_yield();
    EXPECT_EQ(key_held[KEY_RETURN], 0);
}

TEST_F(Pump, ReturnDownAndUpInsideOneFrameIsLost) {
    frame_yield();
    push_key(SDL_KEYDOWN, SDLK_RETURN);
    push_key(SDL_KEYUP, SDLK_RETURN);
    frame_yield();
    EXPECT_EQ(key_pressed[KEY_RETURN], 0);
    EXPECT_EQ(key_pressed[KEY_ANY], 0);
}

TEST_F(Pump, UpArrowPressedHeldReleased) {
    frame_yield();
    push_key(SDL_KEYDOWN, SDLK_UP);
    frame_yield();
    EXPECT_EQ(key_pressed[KEY_UP], 1);
    EXPECT_EQ(key_held[KEY_UP], 1);
    frame_yield();
    frame_yield();
    EXPECT_EQ(key_pressed[KEY_UP], 0);
    EXPECT_EQ(key_held[KEY_UP], 1);
    push_key(SDL_KEYUP, SDLK_UP);
    frame_yield();
    EXPECT_EQ(key_released[KEY_UP], 1);
    EXPECT_EQ(key_held[KEY_UP], 0);
    // Right Shift maps to its own slot; other keys are ignored.
    push_key(SDL_KEYDOWN, SDLK_RSHIFT);
    push_key(SDL_KEYDOWN, SDLK_a);
    frame_yield();
    EXPECT_EQ(key_pressed[KEY_RSHIFT], 1);
    for (int k = 6; k < KEY_SLOTS; ++k) {
        if (k == KEY_ANY || k == KEY_VALUE) continue;
        EXPECT_EQ(key_pressed[k], 0) << k;
    }
}

TEST_F(Pump, PresentCopiesOneToOneAndDoubled) {
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_MAX_HEIGHT; ++i)
        Framebuffer[i] = static_cast<uint16_t>(i * 7 + 1);
    auto surface_pixel = [](int x, int y) {
        SDL_Surface* s = host_window.surface;
        const uint8_t* row = static_cast<const uint8_t*>(s->pixels) + y * s->pitch;
        uint16_t p;
        std::memcpy(&p, row + 2 * x, 2);
        return p;
    };
    // Doubled, as the window opens.
    present_frame();
    for (int y : {0, 1, 159, 319})
        for (int x : {0, 1, 118, 239}) {
            uint16_t p = Framebuffer[y * SCREEN_WIDTH + x];
            EXPECT_EQ(surface_pixel(2 * x, 2 * y), p);
            EXPECT_EQ(surface_pixel(2 * x + 1, 2 * y), p);
            EXPECT_EQ(surface_pixel(2 * x, 2 * y + 1), p);
            EXPECT_EQ(surface_pixel(2 * x + 1, 2 * y + 1), p);
        }
    // 1:1 after the first pump; compose clears the frame, so present again on a pattern.
    frame_yield();
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_MAX_HEIGHT; ++i)
        Framebuffer[i] = static_cast<uint16_t>(i * 3 + 5);
    present_frame();
    for (int y : {0, 200, 319})
        for (int x : {0, 77, 239}) EXPECT_EQ(surface_pixel(x, y), Framebuffer[y * 240 + x]);
}

TEST_F(Pump, FrameRateAveragesEvery32FramesOverTheLast64) {
    fps_double_once = 1;
    previous_tick = 1000;
    uint32_t now = 1000;
    for (int i = 0; i < 31; ++i) measure_frame_rate(now += 25);
    EXPECT_EQ(fps_value, 40u);  // unchanged start value
    EXPECT_EQ(fps_samples[0], 324u);
    measure_frame_rate(now += 25);
    EXPECT_EQ(fps_value, 40u);  // 32 x 324 / 512 = 20, doubled once
    EXPECT_EQ(fps_sample_index, 32);
    for (int i = 0; i < 32; ++i) measure_frame_rate(now += 25);
    EXPECT_EQ(fps_value, 40u);  // 64 x 324 / 512
    EXPECT_EQ(fps_sample_index, 0);
    EXPECT_EQ(last_frame_ms, 25);
    // 32 frames of 50 ms: (32 x 324 + 32 x 164) / 512 = 30.
    for (int i = 0; i < 32; ++i) measure_frame_rate(now += 50);
    EXPECT_EQ(fps_value, 30u);
}

TEST_F(Pump, FrameRateGuards) {
    previous_tick = 500;
    measure_frame_rate(500);  // a 0 ms frame counts as 1 ms
    EXPECT_EQ(fps_samples[0], 8004u);
    EXPECT_EQ(last_frame_ms, 0);
    // Frames of 3 s average to 0 frames per second; fps_value stays at least 1.
    uint32_t now = 500;
    for (int i = 0; i < 127; ++i) measure_frame_rate(now += 3000);
    EXPECT_EQ(fps_value, 1u);

    set_frame_rate(0);
    EXPECT_EQ(fps_setting, 1u);
    EXPECT_EQ(period_ms, 1000u);
    set_frame_rate(5000);
    EXPECT_EQ(fps_setting, 1000u);
    EXPECT_EQ(period_ms, 1u);
    set_frame_rate(40);
    EXPECT_EQ(period_ms, 25u);
    set_frame_rate(60);
    EXPECT_EQ(period_ms, 16u);
}

TEST_F(Pump, TimerModes) {
    frame_timers[0] = {0, 7};
    frame_timers[1] = {2, 0};
    frame_timers[2] = {1, 0};
    frame_timers[3] = {200, -10};
    previous_tick = 0;
    measure_frame_rate(40);
    measure_frame_rate(43);
    EXPECT_EQ(frame_timers[0].value, 7);
    EXPECT_EQ(frame_timers[1].value, 50);
    EXPECT_EQ(frame_timers[2].value, 43);
    EXPECT_EQ(frame_timers[3].value, 33);
    EXPECT_EQ(frame_timers[4].value, 0);
}

TEST_F(Pump, FirstSampleMeasuresFromSdlStart) {
    frame_yield();
    EXPECT_EQ(static_cast<uint32_t>(last_frame_ms), previous_tick);
}

std::vector<int> transition_levels;
void record_level(uint8_t level) {
    transition_levels.push_back(level);
    if (level != 32) frame_yield();
}

TEST_F(Pump, TransitionLevelsRiseTo32) {
    transition_levels.clear();
    run_transition(100, record_level);
    EXPECT_EQ(transition_levels, (std::vector<int>{0, 8, 16, 24, 32}));
    EXPECT_EQ(frame_timers[15].mode, 2);
    transition_levels.clear();
    run_transition(30, record_level);
    EXPECT_EQ(transition_levels, (std::vector<int>{0, 26, 32}));
    transition_levels.clear();
    run_transition(0, record_level);
    EXPECT_EQ(transition_levels, (std::vector<int>{32}));
}

TEST_F(Pump, EscapeEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(
        {
            frame_yield();
            push_key(SDL_KEYDOWN, SDLK_ESCAPE);
            frame_yield();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Pump, EscapeKeyUpDoesNothing) {
    frame_yield();
    push_key(SDL_KEYUP, SDLK_ESCAPE);
    frame_yield();
    SUCCEED();
}

TEST_F(Pump, CloseButtonAndHostCloseEndTheProcessWithStatusZero) {
    EXPECT_EXIT(
        {
            frame_yield();
            push_quit();
            frame_yield();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            frame_yield();
            host_close_window();
            frame_yield();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(host_quit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Pump, FrameRateShownInTheConsoleWhileShowFpsIsSet) {
    frame_yield();  // no console: nothing to write, nothing breaks
    static uint32_t identity[128];
    for (uint32_t i = 0; i < 128; ++i) identity[i] = i;
    const int8_t layer = console_layer;
    console_layer = 0;
    console_columns = 40;
    console_rows = 53;
    console_char_table = identity;
    console_char_count = 128;
    std::memset(console_cells, 0, sizeof(console_cells));
    show_fps = 0;
    frame_yield();
    EXPECT_EQ(console_cells[0], 0u);
    show_fps = 1;
    fps_value = 123;
    frame_yield();
    const uint32_t glyph = (1u << 27) - 1;
    EXPECT_EQ(console_cells[0] & glyph, uint32_t('1'));
    EXPECT_EQ(console_cells[2] & glyph, uint32_t('3'));
    EXPECT_EQ(console_cells[3] & glyph, uint32_t(' '));
    EXPECT_EQ(console_cells[4] & glyph, uint32_t(' '));
    EXPECT_EQ(console_cells[5], 0u);
    console_layer = layer;
    console_columns = 0;
    console_rows = 0;
    console_char_table = nullptr;
    console_char_count = 0;
}

TEST(Caption, FileNameWithoutItsLastExtension) {
    char caption[16];
    caption_from_path("/usr/games/evergreen", caption, sizeof(caption));
    EXPECT_STREQ(caption, "evergreen");
    caption_from_path("/opt/v1.2/viewer.exe", caption, sizeof(caption));
    EXPECT_STREQ(caption, "viewer");
    caption_from_path("/opt/v1.2/viewer", caption, sizeof(caption));
    EXPECT_STREQ(caption, "viewer");
    caption_from_path("a.b.c", caption, sizeof(caption));
    EXPECT_STREQ(caption, "a.b");
    caption_from_path("", caption, sizeof(caption));
    EXPECT_STREQ(caption, "");
    caption_from_path("averyveryverylongname.bin", caption, 8);
    EXPECT_STREQ(caption, "averyve");
}

}  // namespace
