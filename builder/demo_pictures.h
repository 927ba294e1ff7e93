// Procedural pictures for the demo pack: fractals, landscapes and patterns in many hues and
// brightnesses, so that a mosaic made of them has a tile for most colours. Deterministic: the
// same index always gives the same picture.
#pragma once
#include "builder/photo_import.h"

namespace evgpack {

// Picture `index` of a demo set of `count` pictures, 240 x 240 in linear light.
LinearPicture demo_picture(int index, int count);

}  // namespace evgpack
