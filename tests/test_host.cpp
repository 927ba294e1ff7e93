// The real frame pump under SDL's dummy video driver, fed with SDL events: window snapping,
// presentation, mouse and keys across frames, frame-rate measurement and timers. (Escape and the
// close button ending with status 0 are checked by the whole-program tests.)
#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "render/console.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "tests/support/host_events.h"
#include "tests/support/check.h"

namespace {

struct Pump : ::testing::Test {
    void SetUp() override { start_test_runtime(); }
};

int client_width() { return host_window.surface->w; }

TEST_F(Pump, FirstPumpSnapsToOneToOneAndPresents32msLater) {
    EXPECT_EQ(vals(client_width(), host_window.pixel_double), vals(480, 1));
    static int hook_calls;
    hook_calls = 0;
    frame_hook = [] { ++hook_calls; };
    uint32_t before = SDL_GetTicks();
    frame_yield();
    EXPECT_GE(SDL_GetTicks() - before, 32u);  // although the period is 1 ms
    // The frame time is measured from SDL's start; later frames are paced by the period.
    EXPECT_EQ(vals(host_window.pixel_double, client_width(), host_window.surface->h, last_frame_ms, next_deadline),
              vals(0, 240, 320, previous_tick, previous_tick + 1));
    frame_yield();
    EXPECT_EQ(hook_calls, 2);
}

TEST_F(Pump, ResizesSnapOnTheLastWidthOfAFrame) {
    frame_yield();
    // Two resizes per frame; only the last one's width counts.
    const int widths[][3] = {{100, 360, 480}, {900, 359, 240}, {100, 900, 480}, {900, 100, 240}};
    for (const auto& w : widths) {
        push_resize(w[0], 700);
        push_resize(w[1], 100);
        frame_yield();
        EXPECT_EQ(client_width(), w[2]) << w[1];
        EXPECT_EQ(host_window.pixel_double, w[2] == 480) << w[1];
    }
    push_resize(480, 640);
    frame_yield();
    push_motion(101, 201);  // doubled: mouse coordinates halved
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    push_key(SDL_KEYDOWN, SDLK_RETURN);
    frame_yield();
    EXPECT_EQ(vals(pen_state.x, pen_state.y), vals(50, 100));
    frame_yield();  // the move on Return keeps the scale
    EXPECT_EQ(client_width(), 480);
}

// What the pump makes of events (the frame each lands in is checked by the replay tests): only
// motion moves the pen, right and middle buttons do nothing, a key down and up inside one frame
// is lost, keys that are not device keys and an Escape release do nothing.
TEST_F(Pump, EventsBecomeInputAtTheNextFrame) {
    frame_yield();
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE);
    push_key(SDL_KEYDOWN, SDLK_UP);
    push_key(SDL_KEYDOWN, SDLK_RETURN);
    push_key(SDL_KEYUP, SDLK_RETURN);
    push_key(SDL_KEYDOWN, SDLK_a);
    push_key(SDL_KEYUP, SDLK_ESCAPE);
    frame_yield();
    EXPECT_TRUE(pen_state.pressed && key_pressed[KEY_UP] && !key_pressed[KEY_RETURN]);
    EXPECT_EQ(pen_state.x, 0);
    push_motion(30, 40);
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
    frame_yield();
    EXPECT_TRUE(pen_state.down && !key_pressed[KEY_UP] && key_held[KEY_UP]);
    EXPECT_EQ(pen_state.dx, 30);
    push_key(SDL_KEYUP, SDLK_UP);
    push_key(SDL_KEYDOWN, SDLK_RSHIFT);
    frame_yield();
    EXPECT_TRUE(key_released[KEY_UP] && key_pressed[KEY_RSHIFT]);
    for (int k : {6, 7, 8, 10, 11}) EXPECT_FALSE(key_pressed[k]) << k;
}

TEST_F(Pump, PresentCopiesOneToOneAndDoubled) {
    auto pattern = [](int seed) {
        for (int i = 0; i < SCREEN_WIDTH * SCREEN_MAX_HEIGHT; ++i)
            Framebuffer[i] = static_cast<uint16_t>(i * seed + 1);
    };
    auto at = [](int x, int y) {
        const SDL_Surface* s = host_window.surface;
        uint16_t p;
        std::memcpy(&p, static_cast<const uint8_t*>(s->pixels) + y * s->pitch + 2 * x, 2);
        return p;
    };
    pattern(7);
    present_frame();  // doubled, as the window opens: each pixel fills a 2 x 2 square
    for (int y : {0, 1, 159, 319})
        for (int x : {0, 1, 118, 239})
            EXPECT_EQ(vals(at(2 * x, 2 * y), at(2 * x + 1, 2 * y), at(2 * x, 2 * y + 1), at(2 * x + 1, 2 * y + 1)),
                      std::vector<long long>(4, Framebuffer[y * SCREEN_WIDTH + x]));
    frame_yield();  // 1:1 from here
    pattern(3);
    present_frame();
    for (int y : {0, 200, 319})
        for (int x : {0, 77, 239}) EXPECT_EQ(at(x, y), Framebuffer[y * SCREEN_WIDTH + x]);
}

TEST_F(Pump, FrameRateTimersAndGuards) {
    fps_double_once = 1;
    frame_timers[0] = {0, 7};
    frame_timers[1] = {2, 0};
    frame_timers[2] = {200, -10};
    uint32_t now = previous_tick = 1000;
    for (int i = 0; i < 31; ++i) measure_frame_rate(now += 25);
    EXPECT_EQ(fps_samples[0], 324u);
    measure_frame_rate(now += 26);
    EXPECT_EQ(fps_value, 40u);  // 32 x 324 / 512 = 20, doubled once
    for (int i = 0; i < 32; ++i) measure_frame_rate(now += 25);
    EXPECT_EQ(fps_value, 40u);  // from 64 samples
    for (int i = 0; i < 32; ++i) measure_frame_rate(now += 50);
    EXPECT_EQ(fps_value, 30u);  // (32 x 324 + 32 x 164) / 512
    EXPECT_EQ(vals(frame_timers[0].value, frame_timers[1].value, frame_timers[2].value),
              vals(7, 96 * 25, -10 + 64 * 25 + 1 + 32 * 50));

    measure_frame_rate(now);  // a 0 ms frame counts as 1 ms
    EXPECT_EQ(fps_samples[fps_sample_index - 1], 8004u);
    for (int i = 0; i < 127; ++i) measure_frame_rate(now += 3000);
    EXPECT_EQ(fps_value, 1u);  // averages to 0; kept at 1 for callers that divide

    const uint16_t requested[][3] = {{0, 1, 1000}, {5000, 1000, 1}, {40, 40, 25}, {60, 60, 16}};
    for (const auto& r : requested) {
        set_frame_rate(r[0]);
        EXPECT_EQ(vals(fps_setting, period_ms), vals(r[1], r[2]));
    }
}

TEST_F(Pump, FrameRateInTheConsoleOnlyWhileShowFpsIsSet) {
    frame_yield();  // no console yet: nothing is written
    static uint32_t identity[128];
    for (uint32_t i = 0; i < 128; ++i) identity[i] = i;
    const int8_t layer = console_layer;
    console_layer = 0, console_columns = 40, console_rows = 53;
    console_char_table = identity, console_char_count = 128;
    show_fps = 0;
    frame_yield();
    EXPECT_EQ(console_cells[0], 0u);
    show_fps = 1;
    fps_value = 123;
    frame_yield();
    std::string text;
    for (int i = 0; i < 6; ++i) text += static_cast<char>(console_cells[i] & 0x7FFFFFF);
    EXPECT_EQ(text, std::string("123  \0", 6));
    console_layer = layer;
    console_columns = console_rows = 0;
    console_char_table = nullptr;
}

TEST(Caption, FileNameWithoutItsLastExtension) {
    const char* cases[][2] = {{"/usr/games/evergreen", "evergreen"}, {"/opt/v1.2/viewer.exe", "viewer"},
                              {"/opt/v1.2/viewer", "viewer"},      {"a.b.c", "a.b"},
                              {"", ""},                            {"averyveryverylongname.bin", "averyveryverylo"}};
    for (const auto& c : cases) {
        char caption[16];
        caption_from_path(c[0], caption, sizeof(caption));
        EXPECT_STREQ(caption, c[1]);
    }
    char one[1] = {'x'};  // room for the terminator only
    caption_from_path("/a/b", one, 1);
    EXPECT_EQ(one[0], '\0');
}

}  // namespace
