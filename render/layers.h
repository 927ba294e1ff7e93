// The 16 background layers: bitmap layers (decoded pictures), tile maps (the console) and the
// holders for text and vector primitives. The compositor draws them by depth every frame; the
// picture loaders, the text layer and the primitive lists create and fill them.
#pragma once
#include <cstdint>

struct PrimitiveNode;

constexpr int LAYER_COUNT = 16;

// Layer kinds (LayerSlot::kind).
constexpr uint8_t LAYER_DESCRIBED = 0;     // bitmap whose memory belongs to the describer
constexpr uint8_t LAYER_TILES = 1;         // tile map; tiles and palettes belong to the describer
constexpr uint8_t LAYER_TEXT = 2;          // drawn and released by the text layer module
constexpr uint8_t LAYER_BITMAP = 3;        // bitmap whose pixel block (and palette) it owns
constexpr uint8_t LAYER_PRIMITIVES = 0xFF; // only a primitive list, no content of its own

// Pixel formats of bitmap and tile layers (the Bitmap kinds).
constexpr uint8_t LAYER_FORMAT_INDEXED8 = 1;
constexpr uint8_t LAYER_FORMAT_RGB565 = 2;
constexpr uint8_t LAYER_FORMAT_RGB565_ALPHA = 3;

struct LayerSlot {
    uint8_t in_use;            // 0 free, 1 in use
    uint8_t kind;              // LAYER_*
    uint8_t format;            // 1 indexed, 2 RGB565, 3 RGB565 + alpha plane after the pixels
    void* pixels;              // bitmap pixels, or the tile graphics of a tile map
    uint32_t* cells;           // tile map cells, row-major, `columns` per row
    uint16_t* palette;         // format 1 bitmap layers: 256 RGB565 colours
    const uint16_t* cell_palettes[16];  // tile maps: palette per cell palette number (16 entries)
    int32_t width;
    int32_t height;
    int32_t columns;           // tile maps: cells per map row
    int32_t rows;              // tile maps: map rows
    int32_t tile_width;
    int32_t tile_height;
    int16_t depth;             // 0..1023, 0 = front; the layer number at creation
    int32_t x;                 // screen column of the top-left pixel (tile maps: map offset)
    int32_t y;
    int16_t alpha;             // 0..32; <= 0 hides the layer
    uint8_t opaque;            // bitmaps: 1 = every pixel drawn, 0 = key colour / index 0 skipped
    uint8_t clip_index;        // clip rectangle 0..15
    PrimitiveNode* primitives; // head of the primitive list (runtime/primitives.h)
};

// Indexed by layer number 0..15; all free (zero) at start.
extern LayerSlot LayerTable[LAYER_COUNT];

// Called by layer_draw after every visible in-use layer; the primitive lists set it.
using LayerHook = void (*)(uint8_t layer);
extern LayerHook layer_hook;

// Hook points for LAYER_TEXT, set by the text layer module when it creates a text layer (the
// layer module itself knows nothing of text): draw the items of layer n, and release them when
// the layer is freed. Null means text layers draw nothing and free nothing.
extern LayerHook text_layer_draw_hook;
extern LayerHook text_layer_release_hook;

// A static description used by layer_setup; six 32-bit fields.
struct LayerDescription {
    uint32_t kind;                  // low byte used
    uint32_t format;                // low byte used
    uint32_t width;
    uint32_t height;
    uint32_t tile_width_or_opaque;  // LAYER_TILES: tile width; LAYER_DESCRIBED: opaque flag (low byte)
    uint32_t tile_height;
};

// Layer numbers outside 0..15 are ignored by every call below.

// Releases what the layer owns (LAYER_BITMAP pixels, and palette for format 1; text content
// through text_layer_release_hook) and marks it free. A primitive list stays attached.
void layer_free(int n);
void layer_free_all();

// Makes layer n a LAYER_DESCRIBED bitmap or a LAYER_TILES map over the caller's memory.
void layer_setup(int n, const LayerDescription* description, void* pixels, uint32_t* cells,
                 uint16_t* palette);

// Allocate and attach. They return 1, or 0 when the size is negative or the allocation fails
// (the layer is then left free).
int layer_create_rgb565(int n, int16_t width, int16_t height, uint8_t opaque);
int layer_create_indexed(int n, int16_t width, int16_t height, uint8_t opaque);
// The layer takes ownership of `pixels` (malloc'd; freed by layer_free).
int layer_attach_pixels(int n, void* pixels, int16_t width, int16_t height, uint8_t opaque,
                        uint8_t with_alpha);

void layer_set_position(int n, int32_t x, int32_t y);

// Copies width x height RGB565 values into an RGB565 layer (formats 2 and 3); 1 on success.
int layer_upload(int n, const uint16_t* source);

// Blends one pixel of an RGB565 layer in place; positions outside the layer are ignored.
void layer_blend_pixel(int n, int16_t x, int16_t y, uint16_t colour, int weight);

// Draws layer n now (called by the compositor), then calls layer_hook.
void layer_draw(int n);
void layer_draw_tiles(int n);

// Typed views of a layer's pixel block.
inline uint16_t* layer_rgb565(int n) { return static_cast<uint16_t*>(LayerTable[n].pixels); }
inline uint8_t* layer_indices(int n) { return static_cast<uint8_t*>(LayerTable[n].pixels); }
