// The sprite table (4096 numbered slots, each showing one frame of a Bitmap centred at a screen
// position), the clip rectangles every kernel clips against, the background fill and the fade.
// Applications set slots between frames; the compositor draws them; the hit tests serve input.
#pragma once
#include <cstdint>

#include "render/clip.h"  // ClipRect, CLIP_COUNT, active_clips

struct Bitmap;

constexpr int SPRITE_SLOTS = 4096;
constexpr int DEPTH_COUNT = 1024;  // 0 front .. 1023 back

struct SpriteSlot {
    uint8_t active;               // 0 = not part of the frame
    const void* pixels;           // the Bitmap's pixel block (indices or RGB565)
    int16_t x, y;                 // centre on screen
    int16_t frame_width, frame_height;  // frame f starts at element f x fw x fh of pixels
    int16_t draw_width, draw_height;    // drawn size (= frame geometry)
    uint8_t kind;                 // 1 indexed, 2 RGB565, 3 RGB565 + alpha; others draw nothing
    uint8_t opaque;               // 1 = no transparency runs
    const uint16_t* palette;      // kind 1
    int16_t depth;                // 0..1023
    int16_t frame;
    int16_t frame_step;           // +1 or -1
    int16_t first_frame, last_frame;
    int16_t loops;                // passes still to play; -1 = for ever
    int16_t speed;                // animation frames per second (low 8 bits used)
    uint8_t animating;
    uint8_t tick;                 // animation time accumulator
    uint8_t ping_pong;
    int16_t alpha;                // 32 opaque, 1..31 blended, <= 0 not drawn
    int8_t flip_x, flip_y;
    int32_t scale;                // 1024 = natural size (10-bit fixed point); 0 = not drawn
    int32_t angle;                // 512ths of a turn
    const uint16_t* row_offsets;  // per-row offsets into runs (non-opaque bitmaps)
    const uint8_t* runs;          // transparency run stream
    const uint8_t* alpha_plane;   // kind 3
    uint8_t clip_index;           // 0..15
    int16_t crop_left, crop_top, crop_right, crop_bottom;  // frame pixels, inclusive
    // Elements (pixels) in the Bitmap's block, so that a frame number past the Bitmap's last
    // frame draws and reads nothing instead of reading beyond the block.
    int32_t source_elements;
};

// Slot pointers, null until the first sprite_set of that number.
extern SpriteSlot* SpriteTable[SPRITE_SLOTS];
// Lowest and highest slot numbers ever set (4096 and -1 at start); they only widen.
extern int32_t sprite_low;
extern int32_t sprite_high;

extern ClipRect clip_rects[CLIP_COUNT];    // as set by set_clip_rect
extern ClipRect screen_clip;               // bounds of everything drawn; active_clips (render/clip.h)
                                           // holds clip_rects[i] within it, per frame

extern uint8_t background_fill;  // 1 = compose fills screen_clip with background_colour first

extern ClipRect fade_rect;
extern uint8_t fade_level;    // 32 = no fade .. 0 = all fade colour
extern uint16_t fade_colour;
extern uint16_t fade_depth;   // the fade covers this depth and everything behind it

// Slot numbers outside 0..4095 are ignored (nothing written, 0 returned).

// Frees every slot; sprite_low and sprite_high are kept. The Bitmaps are not freed.
void sprite_table_clear();
// Shows frame 0 of `bitmap` (not copied; it must outlive the slot's use) centred at (x, y).
void sprite_set(int index, const Bitmap* bitmap, int16_t frame_width, int16_t frame_height,
                int16_t x, int16_t y);
void sprite_set_crop(int index, int16_t left, int16_t top, int16_t right, int16_t bottom);
// Starts an animation from `first` towards `last` (downwards when first > last).
void sprite_set_animation(int16_t index, int16_t first, int16_t last, int16_t speed,
                          uint8_t ping_pong, int16_t loops);
void sprite_set_bitmap(int index, const Bitmap* bitmap);
// RGB565 colour of pixel (px, py) of the current frame; 0 outside the frame.
uint16_t sprite_pixel(uint16_t index, uint16_t px, uint16_t py);
void sprite_animate(uint16_t index);
void sprite_draw(int16_t index);

void fade_overlay();
void set_fade_rect(int16_t left, int16_t top, int16_t right, int16_t bottom);
void set_clip_rect(uint8_t index, int16_t left, int16_t top, int16_t right, int16_t bottom);
void set_screen_clip(int16_t left, int16_t top, int16_t right, int16_t bottom);

// runtime_init's part: clear the table; fade, clip and screen-clip defaults; background fill on.
void sprites_init();

// Pen tests against a sprite (PenState position).
int sprite_hit_rect(uint16_t index);
int sprite_hit_pixel(uint16_t index);
int sprite_drag(uint16_t index, uint8_t snap, uint8_t pixel_exact);
