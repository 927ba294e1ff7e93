// The sprite table, clip tables, fade and the pen tests against sprites.
#include "runtime/sprites.h"

#include <cstdlib>

#include "runtime/framebuffer.h"

SpriteSlot* SpriteTable[SPRITE_SLOTS];
int32_t sprite_low = SPRITE_SLOTS;
int32_t sprite_high = -1;

ClipRect clip_rects[CLIP_COUNT];
ClipRect screen_clip;
ClipRect active_clips[CLIP_COUNT];
uint16_t background_colour = 0;
uint8_t background_fill = 0;
ClipRect fade_rect;
uint8_t fade_level = 32;
uint16_t fade_colour = 0;
uint16_t fade_depth = 0;

void sprite_table_clear() {
    for (auto& slot : SpriteTable) {
        std::free(slot);
        slot = nullptr;
    }
}

void sprite_set(int, const Bitmap*, int16_t, int16_t, int16_t, int16_t) {}
void sprite_set_crop(int, int16_t, int16_t, int16_t, int16_t) {}
void sprite_set_animation(int16_t, int16_t, int16_t, int16_t, uint8_t, int16_t) {}
void sprite_set_bitmap(int, const Bitmap*) {}
uint16_t sprite_pixel(uint16_t, uint16_t, uint16_t) { return 0; }
void sprite_animate(uint16_t) {}
void sprite_draw(int16_t) {}
void fade_overlay() {}
void set_fade_rect(int16_t left, int16_t top, int16_t right, int16_t bottom) {
    fade_rect = ClipRect{left, top, right, bottom};
}
void set_clip_rect(uint8_t index, int16_t left, int16_t top, int16_t right, int16_t bottom) {
    if (index < CLIP_COUNT) clip_rects[index] = ClipRect{left, top, right, bottom};
}
void set_screen_clip(int16_t left, int16_t top, int16_t right, int16_t bottom) {
    screen_clip = ClipRect{left, top, right, bottom};
}
void sprites_init() {}
int sprite_hit_rect(uint16_t) { return 0; }
int sprite_hit_pixel(uint16_t) { return 0; }
int sprite_drag(uint16_t, uint8_t, uint8_t) { return 0; }
