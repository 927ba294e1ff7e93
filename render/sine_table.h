// A 512-step sine table in 8.8 fixed point, shared by the rotating kernels and the stroke
// recogniser. Angles count 512 steps per turn; cos(a) is sine_table[(a + 128) & 511].
#pragma once
#include <cstdint>

// Entry i = 256 x sin(2 pi i / 512), rounded to nearest: -256..256. 1 KiB.
extern const int16_t sine_table[512];
