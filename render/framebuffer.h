// The device screen: one global 240 x 320 RGB565 buffer that every drawing module writes into
// and the host presents. Pixel (x, y) is Framebuffer[y * SCREEN_WIDTH + x].
#pragma once
#include <cstdint>

constexpr int SCREEN_WIDTH = 240;
constexpr int SCREEN_MAX_HEIGHT = 320;

// Black at start.
extern uint16_t Framebuffer[SCREEN_WIDTH * SCREEN_MAX_HEIGHT];

// Rows of the device screen; set to 320 by host_init. Every module takes screen_height - 1 as
// the last row.
extern uint16_t screen_height;

// The screen's background colour (RGB565, black at start): the compositor fills with it, and a
// new see-through layer starts in it.
extern uint16_t background_colour;
