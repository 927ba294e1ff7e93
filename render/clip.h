// The clip rectangles the kernels draw within: their type and the per-frame table the kernels
// read. The compositor (runtime/) fills active_clips from the application's clip rectangles
// every frame; the kernels pick one entry by current_clip.
#pragma once
#include <cstdint>

constexpr int CLIP_COUNT = 16;

// A rectangle in screen pixels, all edges inclusive.
struct ClipRect {
    int16_t left, top, right, bottom;
};

// The application's clip rectangles held to the screen clip (both kept by runtime/sprites.h),
// recomputed each frame by the compositor.
extern ClipRect active_clips[CLIP_COUNT];
