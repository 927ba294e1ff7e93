// The compositor: draws one frame into the Framebuffer from the layers, sprites and fade of the
// given depth range. (Placeholder until the sprite table lands: only the background fill.)
#pragma once
#include <cstdint>

void compose(int first_depth, int last_depth);
