// Storage for the device screen shared by the host and every drawing module.
#include "render/framebuffer.h"

uint16_t Framebuffer[SCREEN_WIDTH * SCREEN_MAX_HEIGHT];
uint16_t screen_height = SCREEN_MAX_HEIGHT;
uint16_t background_colour = 0;
