// The real frame pump under SDL's dummy video driver, fed with SDL events: the window's scale,
// snapping and full screen, presentation, mouse and keys across frames, frame rate and timers.
// (Escape and the close button ending with status 0 are checked by the whole-program tests.)
#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>

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

// Presents a pattern without black and counts the surface pixels that differ from a plain
// per-pixel scaling placed at the screen's corner, black elsewhere.
int present_errors() {
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_MAX_HEIGHT; ++i) Framebuffer[i] = static_cast<uint16_t>(i * 7 | 1);
    present_frame();
    const HostWindow& w = host_window;
    int errors = 0;
    for (int y = 0, n = w.scale, dy = y - w.top; y < w.surface->h; dy = ++y - w.top) {
        const uint8_t* bytes = static_cast<const uint8_t*>(w.surface->pixels) + y * w.surface->pitch;
        const uint16_t* row = reinterpret_cast<const uint16_t*>(bytes);
        for (int x = 0, dx = -w.left; x < w.surface->w; dx = ++x - w.left) {
            const bool inside = dx >= 0 && dy >= 0 && dx < SCREEN_WIDTH * n && dy < SCREEN_MAX_HEIGHT * n;
            errors += row[x] != (inside ? Framebuffer[dy / n * SCREEN_WIDTH + dx / n] : 0);
        }
    }
    return errors;
}

TEST_F(Pump, FirstPumpSetsTheFirstScaleAndPresents32msLater) {
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

    // With a desktop size (none under the dummy driver) or a scale asked for, the window opens
    // at once at a larger first scale, and the first pump sets the one asked for, else the largest
    // that takes at most 85% of the desktop: {asked, desktop w, h, opened, first}. 3x would take
    // 960 of 1080 rows; a portrait desktop's width limits.
    const int cases[][5] = {{0, 1920, 1080, 2, 2}, {0, 2560, 1440, 3, 3}, {0, 3840, 2160, 5, 5},
                            {0, 1080, 1920, 3, 3}, {1, 3840, 2160, 2, 1}, {8, 0, 0, 8, 8}};
    for (const auto& c : cases) {
        start_test_runtime();
        host_scale_request = static_cast<uint8_t>(c[0]);
        host_window.desktop_w = c[1], host_window.desktop_h = c[2];
        host_init();
        const int opened = client_width();
        frame_yield();
        EXPECT_EQ(vals(opened, client_width(), host_window_scale()), vals(240 * c[3], 240 * c[4], c[4])) << c[1];
    }
}

// Up to 359 pixels wide 1:1, wider at least doubled, and the largest scale that the new size
// holds whole; present matches a per-pixel reference, and each window pixel maps to the device
// pixel whose square holds it.
TEST_F(Pump, ResizesSnapOnTheLastSizeOfAFrameAndPresentAndPenFollow) {
    EXPECT_EQ(present_errors(), 0);  // doubled, as the window opens
    frame_yield();
    // Two resizes per frame; only the last one counts. {first w, last w, last h, scale}
    const int sizes[][4] = {{100, 360, 100, 2},   {900, 359, 2000, 1},  {100, 900, 100, 2},
                            {900, 100, 700, 1},   {100, 1000, 1000, 3}, {100, 959, 1280, 3},
                            {100, 960, 1280, 4},  {100, 9000, 9000, 8}};
    for (const auto& s : sizes) {
        const int n = s[3];
        push_resize(s[0], 700);
        push_resize(s[1], s[2]);
        frame_yield();
        EXPECT_EQ(vals(client_width(), host_window.surface->h, host_window.pixel_double, present_errors()),
                  vals(240 * n, 320 * n, n > 1, 0))
            << s[1];
        push_motion(37 * n + n - 1, 301 * n);
        frame_yield();
        EXPECT_EQ(vals(raw_input.pen_x, raw_input.pen_y), vals(37, 301)) << n;
    }
}

// F11 or Alt+Return (not a Return for the viewer): the largest scale that fits the desktop,
// centred on black, the border the nearest edge for the pen and resizes ignored; then back to
// the window's scale. Without a desktop size (the first F11) the key does nothing.
TEST_F(Pump, FullScreenTogglesAtTheLargestScaleCentredOnBlack) {
    frame_yield();
    push_resize(720, 960);
    push_key(SDL_KEYDOWN, SDLK_F11);
    frame_yield();
    host_window.desktop_w = 1000, host_window.desktop_h = 700;
    push_key(SDL_KEYDOWN, SDLK_F11);
    frame_yield();
    const HostWindow& w = host_window;
    EXPECT_EQ(vals(w.surface->w, w.surface->h, host_window_scale(), w.left, w.top, present_errors()),
              vals(1000, 700, 2, 260, 30, 0));
    push_motion(259, 699);
    push_resize(300, 300);
    frame_yield();
    EXPECT_EQ(vals(raw_input.pen_x, raw_input.pen_y, client_width()), vals(0, 319, 1000));
    push_motion(260 + 21, 30 + 41);
    push_key(SDL_KEYDOWN, SDLK_RETURN, KMOD_LALT);
    frame_yield();
    EXPECT_EQ(vals(raw_input.pen_x, raw_input.pen_y, client_width(), w.left, key_pressed[KEY_RETURN]),
              vals(10, 20, 720, 0, 0));
}

// What the pump makes of events (the frame each lands in is checked by the replay tests): only
// motion moves the pen, right and middle buttons do nothing, a key down and up inside one frame
// is lost, keys that are not device keys and an Escape release do nothing; host_quit ends with 0.
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
    EXPECT_EXIT(host_quit(), ::testing::ExitedWithCode(0), "");
}

// A transition steps its level from 0 toward 32 over `duration` of timer 15 (25 a frame, however
// long the frame took), then ends at 32; a duration of 0 is the end at once.
TEST_F(Pump, TransitionsStepTowardTheEnd) {
    static std::vector<int> levels;
    static uint32_t now = previous_tick = 1000;
    run_transition(75, [](uint8_t level) { levels.push_back(level), measure_frame_rate(now += 30); });
    run_transition(0, [](uint8_t level) { levels.push_back(level); });
    EXPECT_EQ(levels, (std::vector<int>{0, 10, 21, 32, 32}));
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
    char one[2] = {'x', 'y'};  // no room at all: nothing written; room for the terminator only
    caption_from_path("/a/b", one, 0);
    const char kept = one[0];
    caption_from_path("/a/b", one, 1);
    EXPECT_EQ(vals(kept, one[0], one[1]), vals('x', 0, 'y'));
}

}  // namespace
