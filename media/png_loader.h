// PNG loading from memory through libpng: decodes to RGB565 (plus a 0..32 alpha plane when the
// picture has transparency) and builds Bitmaps (kinds 2 and 3) or picture fonts from it. PNG
// data is untrusted: every failure returns null (or 0) and nothing is leaked.
#pragma once
#include <cstddef>
#include <cstdint>

struct Bitmap;
struct png_struct_def;

constexpr int PNG_ROW_BUFFER_SIZE = 8192;  // bytes of one decoded row (3 or 4 per pixel)

// Results of the last decode, read by the builders right after it.
extern int16_t png_width;
extern int16_t png_height;
extern uint8_t png_has_alpha;  // the block carries the alpha plane after the pixels
extern uint8_t png_opaque;     // no pixel equals colour_key and (with alpha) every alpha is 32
// Why the last decode failed: 0 success, 1 not a PNG, 2 read structure, 3 info structure,
// 4 error while reading the header or setting up, 5 error while reading rows, 6 picture too
// large (rows wider than the row buffer, beyond 16-bit sizes, more pixels than the data can
// hold, or a run stream past 16-bit offsets), 7 out of memory.
extern int png_error_code;

// Memory source of the current decode: data, length and read position (8 after the signature).
struct PngSource {
    const uint8_t* data;
    size_t length;
    size_t position;
};

// Decodes a PNG. Returns a malloc'd block of width x height RGB565 values, followed by width x
// height alpha bytes ((A + 4) >> 3) when png_has_alpha; null on any failure. Release with free().
uint16_t* png_load(const uint8_t* data, size_t length);

// A registered Bitmap of kind 3 (alpha) or 2, with run streams unless opaque; null on failure.
Bitmap* bitmap_from_png(const uint8_t* data, size_t length);

// Builds picture font n (5..15) from a PNG: weighted when it has alpha, else keyed. 1 or 0.
int font_from_png(uint8_t font, const uint8_t* data, size_t length);

// The libpng read function: copies what is left of the request from the source and advances the
// position by the requested count; a request past the end raises a libpng error.
void png_memory_read(png_struct_def* png, uint8_t* out, size_t count);
