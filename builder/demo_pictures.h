// Procedural pictures for the demo pack: fractals, landscapes and patterns in many hues and
// brightnesses, so that a mosaic made of them has a tile for most colours. Deterministic: the
// same index always gives the same picture.
#pragma once
#include <cstdint>
#include <vector>

#include "builder/photo_import.h"

namespace evgpack {

// Picture `index` of a demo set of `count` pictures, 240 x 240 in linear light.
LinearPicture demo_picture(int index, int count);

// The demo pack as file bytes: `count` (2..2048) demo pictures, author "Evergreen demo",
// `candidates` per colour; the same bytes for any number of `jobs`. `evgpack demo` writes it,
// and the viewer makes it on the spot for a new data folder when none is installed.
std::vector<uint8_t> demo_pack_bytes(int count, int jobs, int candidates);

}  // namespace evgpack
