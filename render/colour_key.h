// The runtime's transparent colour, one value for every module that treats a colour as "not
// drawn": the keyed kernels, the sprite pixel test, the primitives and the image loaders.
#pragma once
#include <cstdint>

// Magenta. Keyed RGB565 kernels skip it; the GIF loader moves it to palette index 0 of a keyed
// indexed Bitmap; a primitive border or fill of this colour is not drawn.
constexpr uint16_t colour_key = 0xF81F;
