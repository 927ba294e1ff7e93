#include "tests/support/host_events.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/replay.h"

void reset_input_state() {
    raw_input = RawInput{};
    pen_state = PenState{};
    drag_state = DragState{};
    for (uint8_t* keys : {raw_input.key_raw, key_held, key_pressed, key_released}) {
        std::memset(keys, 0, KEY_SLOTS);
        keys[KEY_VALUE] = KEY_VALUE_NONE;
    }
    screen_height = SCREEN_MAX_HEIGHT;
    pen_init();
}

void start_test_runtime() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    frame_hook = nullptr;
    pump_started = 0;
    period_ms = 25;
    fps_setting = 40;
    last_frame_ms = 0;
    previous_tick = 0;
    std::memset(fps_samples, 0, sizeof(fps_samples));
    fps_sample_index = 0;
    fps_value = 40;
    fps_double_once = 0;
    show_fps = 1;
    std::memset(frame_timers, 0, sizeof(frame_timers));
    pump_frame_count = 0;
    host_scale_request = 0, host_window.desktop_w = host_window.desktop_h = 0;
    reset_input_state();
    replay_clear();
    record_close();
    if (runtime_init() != 0) std::abort();
    set_frame_rate(1000);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
}

namespace {

// Pushes one zeroed event of `type` after `fill` has set its fields.
template <typename Fill>
void push(Uint8 type, Fill fill) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = type;
    fill(event);
    if (SDL_PushEvent(&event) != 0) std::abort();
}

}  // namespace

void push_motion(int x, int y) {
    push(SDL_MOUSEMOTION, [&](SDL_Event& e) { e.motion.x = static_cast<Uint16>(x), e.motion.y = static_cast<Uint16>(y); });
}
void push_button(Uint8 type, Uint8 button) { push(type, [&](SDL_Event& e) { e.button.button = button; }); }
void push_key(Uint8 type, SDLKey key, SDLMod mod) {
    push(type, [&](SDL_Event& e) { e.key.keysym.sym = key, e.key.keysym.mod = mod; });
}
void push_resize(int w, int h) { push(SDL_VIDEORESIZE, [&](SDL_Event& e) { e.resize.w = w, e.resize.h = h; }); }
