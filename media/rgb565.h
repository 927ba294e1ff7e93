// RGB565, the device's pixel format: 5 bits red, 6 green, 5 blue, red in the top bits.
// Packing truncates each 8-bit channel; unpacking widens by repeating the top bits, so that
// 0 stays 0 and the largest code becomes 255. Every loader, writer and tool uses these two.
#pragma once
#include <cstdint>

inline uint16_t rgb565_pack(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

inline void rgb565_unpack(uint16_t c, uint8_t rgb[3]) {
    uint8_t r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
    rgb[0] = static_cast<uint8_t>(r << 3 | r >> 2);
    rgb[1] = static_cast<uint8_t>(g << 2 | g >> 4);
    rgb[2] = static_cast<uint8_t>(b << 3 | b >> 2);
}
