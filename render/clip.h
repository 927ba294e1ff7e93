// The effective clip rectangles that every kernel clips against, picked by current_clip.
// The compositor recomputes them each frame; until it does, entry 0 is the whole screen.
#pragma once
#include <cstdint>

// Screen rectangle, all four edges inclusive, signed 16-bit screen coordinates.
struct ClipRect {
    int16_t left, top, right, bottom;
};

constexpr int CLIP_COUNT = 16;

// Entry 0 starts as (0, 0, 239, 319); the others start all zero.
extern ClipRect active_clips[CLIP_COUNT];
