// PNG files made in memory with libpng's own writer, so that every byte of a test input is known.
#pragma once
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

struct PngSpec {
    int width, height, colour_type;
    std::vector<uint8_t> pixels;  // packed rows
    int bit_depth = 8;
    std::vector<png_color> palette = {};
    bool interlaced = false;  // Adam7
};

std::string png_encode(const PngSpec& spec);

// Rewrites the header's width and height and its CRC: a small valid file that claims any size.
void png_claim_size(std::string& png, uint32_t width, uint32_t height);
