// Where the device screen sits in the host window: an integer scale and a top-left corner.
// The frame pump maps mouse positions with it, the replay player and recorder map scripted
// pen positions, so a recording made at one scale replays the same at any other.
#pragma once
#include <cstdint>

struct ScreenPlacement {
    int32_t scale;      // each device pixel is a scale x scale square of window pixels
    int32_t left, top;  // the device screen's corner in window pixels (0, 0 in a window)
};

// The device pixel under window coordinate v along one axis: the corner removed, divided by
// the scale exactly, then held inside 0..size-1 (the black border around the full screen
// counts as the nearest edge).
inline int window_to_device(int v, int corner, int scale, int size) {
    int d = (v - corner) / scale;
    return d < 0 ? 0 : d >= size ? size - 1 : d;
}

// The window pixel at the top-left of device pixel d along one axis.
inline int device_to_window(int d, int corner, int scale) { return corner + d * scale; }
