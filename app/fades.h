// Whole-screen fades between the viewer's screens, through the compositor's fade level
// (32 = clear, 0 = all black), one frame per step.
#pragma once
#include <cstdint>

// fade_level 32, 32 - step, ... while not negative, a frame each; then 0 and one more frame.
void fade_out(uint8_t step);
// fade_level 0, step, 2 step, ... while at most 32, a frame each; then 32 and one more frame.
void fade_in(uint8_t step);
