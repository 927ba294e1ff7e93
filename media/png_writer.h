// Writes RGB565 pixels as an 8-bit RGB PNG (screenshots, replay shots, `evgpack decode`).
// Each channel is widened by repeating its top bits, so 0x1F and 0x3F become 255 and 0 stays 0.
#pragma once
#include <cstdint>

// pixels: width * height values, `stride` pixels apart per row. Returns 1 on success, 0 when the
// file cannot be written (any partial file is removed).
int png_write_rgb565(const char* path, const uint16_t* pixels, int width, int height, int stride);

// The 8-bit widening used above, exposed for tests and tools.
inline void rgb565_to_rgb888(uint16_t c, uint8_t rgb[3]) {
    uint8_t r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
    rgb[0] = static_cast<uint8_t>(r << 3 | r >> 2);
    rgb[1] = static_cast<uint8_t>(g << 2 | g >> 4);
    rgb[2] = static_cast<uint8_t>(b << 3 | b >> 2);
}
