// The compositor: redraws the whole frame into the Framebuffer from the background layers, the
// sprites and the fade, back to front by depth. Called by the frame pump before it waits for the
// frame deadline, and by applications that want a frame drawn outside the pump.
#pragma once
#include <cstdint>

#include "runtime/sprites.h"

// Draws depths last_depth down to first_depth (0 front .. 1023 back): per depth its layers, then
// its sprites (lower slot number in front), then the fade when fade_depth is that depth.
void compose(uint16_t first_depth, uint16_t last_depth);

// The per-frame depth lists (rebuilt by compose; -1 = empty / end).
extern int16_t depth_sprite_head[1024];
extern int16_t sprite_next[4096];
extern int8_t depth_layer_head[1024];
extern int8_t layer_next[16];
