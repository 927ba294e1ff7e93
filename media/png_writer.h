// Writes RGB565 pixels as an 8-bit RGB PNG (screenshots, replay shots, `evgpack decode`).
// Each channel is widened by repeating its top bits, so 0x1F and 0x3F become 255 and 0 stays 0.
#pragma once
#include <cstdint>

// pixels: width * height values, `stride` pixels apart per row. Returns 1 on success, 0 when the
// file cannot be written (any partial file is removed).
int png_write_rgb565(const char* path, const uint16_t* pixels, int width, int height, int stride);

// The same into a new file only: nothing of that name may exist, not even a dangling link (0
// with errno EEXIST then). For names the program chooses itself, such as screenshots.
int png_write_rgb565_new(const char* path, const uint16_t* pixels, int width, int height, int stride);

