// Pen and key input: the raw flags the frame pump collects from the host (RawInput) and the
// per-frame pen and key state derived from them once per frame by input_update. Applications
// read pen_state and the key arrays between two frame_yield calls; they stay constant meanwhile.
#pragma once
#include <cstdint>

constexpr int KEY_SLOTS = 13;

// Key slots. 0-3 are level keys (held while the raw flag is set), 4-8, 10, 11 one-shot keys
// (the raw flag is consumed each frame), 9 summarises all others, 12 carries a value 0..127 for
// one frame (0xFF = nothing).
enum KeySlot : uint8_t {
    KEY_UP = 0,
    KEY_DOWN = 1,
    KEY_RIGHT = 2,
    KEY_LEFT = 3,
    KEY_RETURN = 4,
    KEY_RSHIFT = 5,
    KEY_POSTER = 6,
    KEY_ANY = 9,
    KEY_VALUE = 12,
};
constexpr uint8_t KEY_VALUE_NONE = 0xFF;

// Written only by the frame pump while it drains the host's events.
struct RawInput {
    uint8_t pen_down;     // 1 while the left button is held (a click inside one frame: one frame)
    int16_t pen_x;        // last mouse position in device pixels
    int16_t pen_y;
    uint8_t click_state;  // 0 no press this frame, 1 pressed, 2 pressed and released
    uint8_t key_raw[KEY_SLOTS];
};
extern RawInput raw_input;

struct PenState {
    uint8_t down;         // 1 while the pen touches the screen in this frame
    uint8_t released;     // 1 in the frame the pen was lifted
    uint8_t pressed;      // 1 in the frame the pen touched down
    uint8_t double_tap;   // 1 when this press follows the previous one within 44 frames
    int16_t x, y;         // last touched position; kept after a lift; applications may write them
    int16_t down_frames;  // frames down in the current or last touch (1 in the press frame)
    int16_t up_frames;    // frames up since the last lift (1 in the lift frame)
    int16_t dx, dy;       // movement since the previous frame while down; 0 on the press frame
};
extern PenState pen_state;

extern uint8_t key_held[KEY_SLOTS];
extern uint8_t key_released[KEY_SLOTS];
extern uint8_t key_pressed[KEY_SLOTS];

// One sprite may capture the pen and follow it (sprite_drag, in the sprite module). The capture
// is aged here every frame: it ends when the pen is up or no drag step renewed it for two frames.
struct DragState {
    uint8_t captured;
    int16_t sprite;            // slot number of the capturing sprite
    int16_t sprite_x, sprite_y;  // its position after the last drag step
    int16_t dx, dy;            // pen movement applied in the last drag step
    int16_t last_x, last_y;    // pen position at the last drag step
    int16_t idle_frames;       // frames since the last drag step
};
extern DragState drag_state;

// Pen at (120, screen_height / 2), not down; called by runtime_init.
void pen_init();

// Derives this frame's pen and key state from raw_input; the frame pump's last step.
void input_update();
