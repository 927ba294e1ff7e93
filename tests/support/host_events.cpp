#include "tests/support/host_events.h"

#include <cstdlib>
#include <cstring>

#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/replay.h"

namespace {

void reset_pump_and_input() {
    frame_hook = nullptr;
    pump_started = 0;
    next_deadline = 0;
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

    raw_input = RawInput{};
    raw_input.key_raw[KEY_VALUE] = KEY_VALUE_NONE;
    pen_state = PenState{};
    drag_state = DragState{};
    std::memset(key_held, 0, sizeof(key_held));
    std::memset(key_pressed, 0, sizeof(key_pressed));
    std::memset(key_released, 0, sizeof(key_released));
    key_held[KEY_VALUE] = key_pressed[KEY_VALUE] = key_released[KEY_VALUE] = KEY_VALUE_NONE;

    replay_clear();
    record_close();
}

void push(SDL_Event& event) {
    if (SDL_PushEvent(&event) != 0) std::abort();
}

}  // namespace

void start_test_runtime() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    reset_pump_and_input();
    if (runtime_init() != 0) std::abort();
    set_frame_rate(1000);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
}

void push_motion(int x, int y) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = SDL_MOUSEMOTION;
    event.motion.x = static_cast<Uint16>(x);
    event.motion.y = static_cast<Uint16>(y);
    push(event);
}

void push_button(Uint8 type, Uint8 button) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = type;
    event.button.button = button;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    push(event);
}

void push_key(Uint8 type, SDLKey key) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = key;
    push(event);
}

void push_resize(int w, int h) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = SDL_VIDEORESIZE;
    event.resize.w = w;
    event.resize.h = h;
    push(event);
}

void push_quit() {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = SDL_QUIT;
    push(event);
}
