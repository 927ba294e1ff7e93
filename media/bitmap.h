// Bitmap: the runtime's drawable image (8-bit indexed, RGB565, or RGB565 with an alpha plane),
// its transparency run stream, and the registry that lets every Bitmap be released at once.
// Built by the GIF loader (media/gif.h) and the PNG loader; drawn by sprites and layers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "render/colour_key.h"  // colour_key, the transparent colour of keyed Bitmaps

enum BitmapKind : int32_t {
    BITMAP_INDEXED8 = 1,      // 1 byte per pixel, index into a 256-entry RGB565 palette
    BITMAP_RGB565 = 2,        // one RGB565 value per pixel
    BITMAP_RGB565_ALPHA = 3,  // RGB565 values, then in the same block one byte 0..32 per pixel
};

// Every block is allocated with malloc and released by bitmap_free.
struct Bitmap {
    void* pixels;            // width x height indices (kind 1) or RGB565 values (kinds 2, 3)
    uint8_t* alpha;          // kind 3: the alpha bytes just past the RGB565 values in pixels
    uint16_t* row_offsets;   // height offsets into runs of each row's first count; null if opaque
    uint8_t* runs;           // transparency run stream ending in 4 x 0xFF; null if opaque
    uint16_t* palette;       // kind 1: 256 RGB565 colours; null otherwise
    int32_t kind;            // BitmapKind
    int32_t opaque;          // 1: no transparent pixels and no run data
    int32_t width, height;   // 1..32767
};

// Largest width or height a Bitmap may have: users read the sizes as signed 16-bit numbers.
constexpr int32_t BITMAP_MAX_SIDE = 32767;

// Releases the blocks and the record, and drops it from the registry. Null is ignored. Returns 0.
int bitmap_free(Bitmap* bitmap);

// Releases every registered Bitmap in registration order and empties the registry.
void bitmap_free_all();

// Registry of live Bitmaps built by the loaders: at most BITMAP_REGISTRY_SIZE at once.
constexpr int BITMAP_REGISTRY_SIZE = 2048;
extern Bitmap* bitmap_registry[BITMAP_REGISTRY_SIZE];
extern uint16_t bitmap_count;

// Appends a Bitmap to the registry. Returns 1, or 0 (with a message) when it is full; a loader
// then frees the Bitmap and fails rather than hand out one that bitmap_free_all would miss.
int bitmap_register(Bitmap* bitmap);

// Builds the skip/draw run stream of a w x h 8-bit image in which index 0 is transparent and
// stores it in bitmap->runs and bitmap->row_offsets (both malloc'd). Runs longer than 255 are
// split with a zero-length run of the other kind between the parts. Returns 1, or 0 when the
// stream would not fit the 16-bit offsets (then nothing is allocated).
int bitmap_encode_runs(Bitmap* bitmap, const uint8_t* indices, int32_t w, int32_t h);
