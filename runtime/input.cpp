// Per-frame pen and key state, derived from the raw flags once per frame at the end of the
// frame pump.
#include "runtime/input.h"

#include "render/framebuffer.h"

RawInput raw_input = {0, 0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, KEY_VALUE_NONE}};
PenState pen_state;
uint8_t key_held[KEY_SLOTS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, KEY_VALUE_NONE};
uint8_t key_released[KEY_SLOTS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, KEY_VALUE_NONE};
uint8_t key_pressed[KEY_SLOTS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, KEY_VALUE_NONE};
DragState drag_state;

namespace {

constexpr int DOUBLE_TAP_FRAMES = 44;  // from one press to the next, at most

// The one-shot slots; slot 9 is the summary and 12 the value slot.
constexpr int ONE_SHOT_SLOTS[] = {4, 5, 6, 7, 8, 10, 11};

bool value_set(uint8_t value) { return value < 128; }

// Frame counters stop at the largest value instead of wrapping: a wrapped (negative) up
// counter after a long idle time would make the next touch look like a double tap.
int16_t count_on(int16_t counter, bool add) {
    if (!add || counter == INT16_MAX) return counter;
    return static_cast<int16_t>(counter + 1);
}

}  // namespace

void pen_init() {
    pen_state.x = 120;
    pen_state.y = static_cast<int16_t>(screen_height / 2);
    pen_state.down = 0;
    pen_state.pressed = 0;
    pen_state.released = 0;
}

void input_update() {
    PenState& pen = pen_state;
    const bool d = raw_input.pen_down != 0;

    // Edges against the previous frame.
    pen.released = pen.down && !d;
    pen.pressed = !pen.down && d;
    pen.down = d;

    // The counters still describe the previous touch here: from its press to this one.
    pen.double_tap = pen.pressed && pen.down_frames + pen.up_frames <= DOUBLE_TAP_FRAMES;

    pen.down_frames = count_on(pen.pressed ? 0 : pen.down_frames, d);
    pen.up_frames = count_on(pen.released ? 0 : pen.up_frames, !d);

    if (d) {
        if (pen.pressed) {
            pen.dx = 0;
            pen.dy = 0;
        } else {
            pen.dx = static_cast<int16_t>(raw_input.pen_x - pen.x);
            pen.dy = static_cast<int16_t>(raw_input.pen_y - pen.y);
        }
        pen.x = raw_input.pen_x;
        pen.y = raw_input.pen_y;
    }

    // A capture lives while the pen is down and a drag step renewed it within two frames.
    int n = drag_state.idle_frames + 1;
    if (n <= 2 && d) {
        drag_state.idle_frames = static_cast<int16_t>(n);
    } else {
        drag_state.captured = 0;
        drag_state.idle_frames = 0;
    }

    // The summary slot reads the raw flags before the one-shot and value slots consume them.
    uint8_t any_pressed = 0, any_held = 0, any_released = 0;

    for (int k = KEY_UP; k <= KEY_LEFT; ++k) {
        uint8_t raw = raw_input.key_raw[k] ? 1 : 0;
        key_released[k] = key_held[k] && !raw;
        key_pressed[k] = !key_held[k] && raw;
        key_held[k] = raw;
        any_pressed |= key_pressed[k];
        any_held |= raw;
        any_released |= key_released[k];
    }
    for (int k : ONE_SHOT_SLOTS) {
        uint8_t raw = raw_input.key_raw[k];
        any_pressed |= raw ? 1 : 0;
        any_held |= raw ? 1 : 0;
        any_released |= key_held[k] ? 1 : 0;
        key_released[k] = key_held[k];
        key_held[k] = raw;
        key_pressed[k] = raw;
        raw_input.key_raw[k] = 0;
    }
    {
        uint8_t raw = raw_input.key_raw[KEY_VALUE];
        any_pressed |= value_set(raw);
        any_held |= value_set(raw);
        any_released |= value_set(key_held[KEY_VALUE]);
        key_released[KEY_VALUE] = key_held[KEY_VALUE];
        key_held[KEY_VALUE] = raw;
        key_pressed[KEY_VALUE] = raw;
        raw_input.key_raw[KEY_VALUE] = KEY_VALUE_NONE;
    }
    key_pressed[KEY_ANY] = any_pressed;
    key_held[KEY_ANY] = any_held;
    key_released[KEY_ANY] = any_released;
}
