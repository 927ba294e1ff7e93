// Palette reduction and GIF89a output for the interface graphics. Every file gets a global
// colour table of 256 entries, one Graphic Control Extension (delay 0, no transparent index)
// and one non-interlaced image covering the logical screen.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

struct IndexedImage {
    int width = 0, height = 0;
    std::vector<uint8_t> index;  // width * height
    Rgb palette[256];
};

// Reduces the picture to at most 256 colours by median cut over its colour histogram.
// key_index < 0: the picture must not hold the key colour and no palette entry will convert to
// RGB565 0xF81F. key_index >= 0: pixels of KEY_RGB get that index, which is the only entry
// converting to 0xF81F. Unused entries are black.
IndexedImage reduce_colours(const Image& img, int key_index);

// RGB565 of an 8-bit colour, truncating: (R >> 3) << 11 | (G >> 2) << 5 | (B >> 3).
uint16_t to_rgb565(Rgb c);

std::vector<uint8_t> encode_gif(const IndexedImage& img);
