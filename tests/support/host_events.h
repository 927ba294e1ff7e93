// Drives the real frame pump in tests: a fresh runtime under SDL's dummy video driver with
// every pump, input and replay global back at its start value, and SDL events to push.
#pragma once
#include <SDL/SDL.h>

// Pen, keys, raw flags and drag capture as at program start (pen_init included).
void reset_input_state();
// Starts (or restarts) the runtime as at program start, with 1000 frames per second so that
// frames do not wait 25 ms. The window is back at 480 x 640 until the next first pump.
void start_test_runtime();

// Each pushes one event into SDL's queue (coordinates in window pixels).
void push_motion(int x, int y);
void push_button(Uint8 type, Uint8 button);
void push_key(Uint8 type, SDLKey key, SDLMod mod = KMOD_NONE);
void push_resize(int w, int h);
