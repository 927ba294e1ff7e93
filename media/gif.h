// GIF loading through giflib: the decode pass that writes a GIF held in memory onto a canvas as
// palette indices or RGB565, and the Bitmap builder used for the built-in interface graphics.
#pragma once
#include <cstddef>
#include <cstdint>

#include <gif_lib.h>

#include "media/bitmap.h"

// Output modes of gif_decode.
constexpr uint8_t GIF_OUTPUT_INDICES = 0;  // one byte per pixel
constexpr uint8_t GIF_OUTPUT_RGB565 = 1;   // one 16-bit RGB565 value per pixel

// Read position of gif_memory_read: the library handle's user data points at one of these.
struct GifMemorySource {
    const uint8_t* position;
    const uint8_t* end;
};

// giflib read function: copies up to count bytes from the source into buffer and advances.
// Returns the number copied, fewer than count only at the end of the data (the library then
// reports a read error).
int gif_memory_read(GifFileType* gif_file, GifByteType* buffer, int count);

// Logical screen size from the GIF header (little-endian 16-bit at offsets 6 and 8).
// Returns 0 when length is under the 13-byte header.
int gif_screen_size(const uint8_t* gif, size_t length, int32_t* width, int32_t* height);

// Decodes the GIF (length bytes at gif) onto the canvas at destination: stride units per row and
// as many rows as the GIF's logical screen height; parts of images outside that canvas are
// dropped. Mode GIF_OUTPUT_INDICES writes indices and the colours (converted to RGB565) into
// palette_out (256 entries, may be null); GIF_OUTPUT_RGB565 writes colours and ignores
// palette_out (its table starts all black for each decode). A Graphic Control Extension with a
// non-zero delay calls gif_timed_frame_hook once (when set) and ends the pass before the image it
// introduces. A stray byte between records is skipped. Returns 1, or 0 when the data are not a
// readable GIF (what was decoded before the error stays on the canvas).
int gif_decode(const uint8_t* gif, size_t length, void* destination, uint16_t* palette_out,
               uint8_t mode, int16_t stride);

// Called by gif_decode on a timed frame, so the frame decoded so far is shown before the pass
// ends. The decoder sits below the frame pump: runtime_init points this at frame_yield.
// Null (the start value): nothing is shown.
extern void (*gif_timed_frame_hook)();

// Largest canvas the loaders build: 4,194,304 pixels (2048 x 2048; 4 MiB of indices, 8 MiB of
// RGB565). The built-in graphics are at most 256 x 64; a header claiming more is refused rather
// than allocating up to 2 GiB on its word.
constexpr int64_t GIF_MAX_PIXELS = int64_t{1} << 22;

// Builds and registers a BITMAP_INDEXED8 Bitmap of the GIF's logical screen size. A palette
// entry equal to colour_key makes it keyed: that entry is moved to index 0 and the run stream
// built. Returns null (nothing allocated) for unreadable data, sides outside 1..32767 or more than
// GIF_MAX_PIXELS pixels.
Bitmap* bitmap_from_gif(const uint8_t* gif, size_t length);

// Make background layer `layer` (0..15) a bitmap layer of the GIF's logical screen size, 8-bit
// indexed with its palette or RGB565, and decode the GIF into it. The layer is opaque unless one
// of the 256 palette (or conversion table) entries equals colour_key; its pixels keep the key
// colour where it occurs. Return 1, or 0 with the layer left free when the size is refused as
// for bitmap_from_gif, the layer number is invalid or the data are unreadable.
int layer_from_gif_indexed(int layer, const uint8_t* gif, size_t length);
int layer_from_gif_rgb565(int layer, const uint8_t* gif, size_t length);

// Conversion table of the last RGB565 decode: the GIF's colours as RGB565 (256 entries).
extern uint16_t gif_colour_table[256];
