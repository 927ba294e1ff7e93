// The one blend rule of the system: mixes two RGB565 pixels by a weight 0..32 with a single
// multiplication for all three channels. Every kernel, the text layers and the primitives use it.
#pragma once
#include <cstdint>

// Spread mask: blue in bits 0..4, red in 11..15 and green in 21..26 once a pixel is written as
// (p | p << 16); the free bits between them absorb the carries and borrows of the mix.
constexpr uint32_t RGB565_SPREAD_MASK = 0x07E0F81Fu;

// Returns d moved towards s by a/32 per channel: weight 32 gives exactly s, 0 exactly d.
// All arithmetic is unsigned 32-bit and wraps, so a weight outside 0..32 gives the same
// (meaningless but defined) pixel on every platform.
inline uint16_t blend_rgb565(uint16_t d, uint16_t s, uint32_t a) {
    uint32_t sp = (s | static_cast<uint32_t>(s) << 16) & RGB565_SPREAD_MASK;
    uint32_t dp = (d | static_cast<uint32_t>(d) << 16) & RGB565_SPREAD_MASK;
    uint32_t t = ((sp - dp) * a) >> 5;
    uint32_t r = (dp + t) & RGB565_SPREAD_MASK;
    return static_cast<uint16_t>(r | r >> 16);
}

// Blends a row of n source pixels onto dst with one weight a: exactly blend_rgb565 per pixel,
// computed several pixels at a time. dst and src must not overlap.
void blend_rgb565_row(uint16_t* __restrict dst, const uint16_t* __restrict src, int n,
                      uint32_t a);
