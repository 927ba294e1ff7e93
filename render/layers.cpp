// Background layers: creation, release and drawing of bitmap and tile layers. Every pixel goes
// through the kernels; this module only picks the kernel and its arguments.
#include "render/layers.h"

#include <cstdlib>
#include <cstring>

#include "render/blend.h"
#include "render/clip.h"
#include "render/framebuffer.h"
#include "render/kernels.h"

LayerSlot LayerTable[LAYER_COUNT];
LayerHook layer_hook = nullptr;
LayerHook text_layer_draw_hook = nullptr;
LayerHook text_layer_release_hook = nullptr;

namespace {

bool valid_layer(int n) { return n >= 0 && n < LAYER_COUNT; }

// The fields every bitmap layer gets at creation.
void init_bitmap_slot(LayerSlot& slot, int n, uint8_t format, void* pixels, int16_t width,
                      int16_t height, uint8_t opaque) {
    slot.in_use = 1;
    slot.kind = LAYER_BITMAP;
    slot.format = format;
    slot.pixels = pixels;
    slot.cells = nullptr;
    slot.palette = nullptr;
    slot.width = width;
    slot.height = height;
    slot.depth = static_cast<int16_t>(n);
    slot.x = 0;
    slot.y = 0;
    slot.alpha = 32;
    slot.opaque = opaque;
    slot.clip_index = 0;
}

// Pixel count of a new layer; negative sizes are refused. At least one element is allocated so
// that a created layer never has a null block.
bool pixel_count(int16_t width, int16_t height, size_t& count) {
    if (width < 0 || height < 0) return false;
    count = static_cast<size_t>(width) * static_cast<size_t>(height);
    return true;
}

}  // namespace

void layer_free(int n) {
    if (!valid_layer(n)) return;
    LayerSlot& slot = LayerTable[n];
    if (slot.in_use) {
        if (slot.kind == LAYER_BITMAP) {
            std::free(slot.pixels);
            slot.pixels = nullptr;
            if (slot.format == LAYER_FORMAT_INDEXED8) {
                std::free(slot.palette);
                slot.palette = nullptr;
            }
        } else if (slot.kind == LAYER_TEXT && text_layer_release_hook) {
            text_layer_release_hook(static_cast<uint8_t>(n));
        }
    }
    slot.in_use = 0;
}

void layer_free_all() {
    for (int n = 0; n < LAYER_COUNT; ++n) layer_free(n);
}

void layer_setup(int n, const LayerDescription* description, void* pixels, uint32_t* cells,
                 uint16_t* palette) {
    if (!valid_layer(n) || !description) return;
    layer_free(n);
    LayerSlot& slot = LayerTable[n];
    slot.in_use = 1;
    slot.kind = static_cast<uint8_t>(description->kind);
    slot.format = static_cast<uint8_t>(description->format);
    slot.pixels = pixels;
    slot.cells = cells;
    slot.palette = palette;
    slot.depth = static_cast<int16_t>(n);
    slot.x = 0;
    slot.y = 0;
    slot.width = static_cast<int32_t>(description->width);
    slot.height = static_cast<int32_t>(description->height);
    slot.alpha = 32;
    slot.clip_index = 0;
    if (slot.kind == LAYER_DESCRIBED) {
        slot.opaque = static_cast<uint8_t>(description->tile_width_or_opaque);
    } else if (slot.kind == LAYER_TILES) {
        slot.tile_width = static_cast<int32_t>(description->tile_width_or_opaque);
        slot.tile_height = static_cast<int32_t>(description->tile_height);
        // A zero tile size would divide by zero here and in every draw: such a map has no cells.
        slot.columns = slot.tile_width > 0 ? slot.width / slot.tile_width : 0;
        slot.rows = slot.tile_height > 0 ? slot.height / slot.tile_height : 0;
        slot.opaque = 0;
        slot.cell_palettes[0] = palette;
    }
}

int layer_create_rgb565(int n, int16_t width, int16_t height, uint8_t opaque) {
    size_t count = 0;
    if (!valid_layer(n) || !pixel_count(width, height, count)) return 0;
    auto* block = static_cast<uint16_t*>(std::malloc((count ? count : 1) * sizeof(uint16_t)));
    if (!block) {
        layer_free(n);
        return 0;
    }
    if (!opaque) {
        for (size_t i = 0; i < count; ++i) block[i] = background_colour;
    }
    return layer_attach_pixels(n, block, width, height, opaque, 0);
}

int layer_attach_pixels(int n, void* pixels, int16_t width, int16_t height, uint8_t opaque,
                        uint8_t with_alpha) {
    if (!valid_layer(n)) return 0;
    layer_free(n);
    init_bitmap_slot(LayerTable[n], n, static_cast<uint8_t>(LAYER_FORMAT_RGB565 + with_alpha),
                     pixels, width, height, opaque);
    return 1;
}

int layer_create_indexed(int n, int16_t width, int16_t height, uint8_t opaque) {
    size_t count = 0;
    if (!valid_layer(n) || !pixel_count(width, height, count)) return 0;
    layer_free(n);
    // Both blocks start zeroed: index 0 everywhere, which a keyed layer shows as transparent,
    // and a black palette.
    auto* palette = static_cast<uint16_t*>(std::calloc(256, sizeof(uint16_t)));
    auto* block = static_cast<uint8_t*>(std::calloc(count ? count : 1, 1));
    if (!palette || !block) {
        std::free(palette);
        std::free(block);
        return 0;
    }
    init_bitmap_slot(LayerTable[n], n, LAYER_FORMAT_INDEXED8, block, width, height, opaque);
    LayerTable[n].palette = palette;
    return 1;
}

void layer_set_position(int n, int32_t x, int32_t y) {
    if (!valid_layer(n)) return;
    LayerTable[n].x = x;
    LayerTable[n].y = y;
}

namespace {
bool is_rgb565_bitmap(const LayerSlot& slot) {
    return slot.in_use && slot.pixels && (slot.kind == LAYER_BITMAP || slot.kind == LAYER_DESCRIBED) &&
           (slot.format == LAYER_FORMAT_RGB565 || slot.format == LAYER_FORMAT_RGB565_ALPHA) &&
           slot.width >= 0 && slot.height >= 0;
}
}  // namespace

int layer_upload(int n, const uint16_t* source) {
    // Only RGB565 layers hold 16-bit values; an indexed layer's block is half the size.
    if (!valid_layer(n) || !source || !is_rgb565_bitmap(LayerTable[n])) return 0;
    const LayerSlot& slot = LayerTable[n];
    std::memcpy(slot.pixels, source,
                static_cast<size_t>(slot.width) * static_cast<size_t>(slot.height) * sizeof(uint16_t));
    return 1;
}

void layer_blend_pixel(int n, int16_t x, int16_t y, uint16_t colour, int weight) {
    if (!valid_layer(n) || !is_rgb565_bitmap(LayerTable[n])) return;
    const LayerSlot& slot = LayerTable[n];
    if (x < 0 || y < 0 || x >= slot.width || y >= slot.height) return;
    uint16_t* pixel = static_cast<uint16_t*>(slot.pixels) + y * slot.width + x;
    *pixel = blend_rgb565(*pixel, colour, weight);
}

void layer_draw(int n) {
    if (!valid_layer(n)) return;
    const LayerSlot& slot = LayerTable[n];
    if (slot.in_use != 1 || slot.alpha <= 0) return;
    // The clip table has 16 entries; a layer pointing past it is not drawn at all.
    if (slot.clip_index >= CLIP_COUNT) return;
    current_clip = slot.clip_index;
    current_sprite = -1;
    switch (slot.kind) {
        case LAYER_DESCRIBED:
        case LAYER_BITMAP:
            if (!slot.pixels) break;
            if (slot.format == LAYER_FORMAT_INDEXED8) {
                const auto* indices = static_cast<const uint8_t*>(slot.pixels);
                if (!slot.palette) break;
                if (slot.opaque)
                    blit_indexed(indices, slot.palette, slot.width, slot.height, slot.x, slot.y, slot.alpha);
                else
                    blit_indexed_keyed(indices, slot.palette, slot.width, slot.height, slot.x, slot.y,
                                       slot.alpha, 0, 0);
            } else if (slot.format == LAYER_FORMAT_RGB565) {
                const auto* pixels = static_cast<const uint16_t*>(slot.pixels);
                if (slot.opaque)
                    blit_rgb565(pixels, slot.width, slot.height, slot.x, slot.y, slot.alpha);
                else
                    blit_rgb565_keyed(pixels, slot.width, slot.height, slot.x, slot.y, slot.alpha, 0, 0);
            } else if (slot.format == LAYER_FORMAT_RGB565_ALPHA) {
                const auto* pixels = static_cast<const uint16_t*>(slot.pixels);
                current_alpha_plane = reinterpret_cast<const uint8_t*>(
                    pixels + static_cast<size_t>(slot.width) * static_cast<size_t>(slot.height));
                blit_rgb565_alpha(pixels, slot.width, slot.height, slot.x, slot.y, slot.alpha);
            }
            break;
        case LAYER_TILES:
            layer_draw_tiles(n);
            break;
        case LAYER_TEXT:
            // Text layers are drawn by the text module once it has registered its drawing.
            if (text_layer_draw_hook) text_layer_draw_hook(static_cast<uint8_t>(n));
            break;
        default:
            break;
    }
    if (layer_hook) layer_hook(static_cast<uint8_t>(n));
}

void layer_draw_tiles(int n) {
    if (!valid_layer(n)) return;
    const LayerSlot& slot = LayerTable[n];
    const int32_t tw = slot.tile_width;
    const int32_t th = slot.tile_height;
    if (tw <= 0 || th <= 0 || !slot.cells || !slot.pixels) return;
    const int32_t sx = slot.x;
    const int32_t sy = slot.y;
    const int32_t map_columns = slot.width / tw;
    // Visible map range. C++ division truncates towards zero, as the ranges are defined; columns
    // round down (a partial last column is not drawn), rows round up.
    int32_t col0 = -sx / tw;
    if (col0 < 0) col0 = 0;
    int32_t col1 = (slot.width - sx) / tw;
    if (col1 > map_columns) col1 = map_columns;
    int32_t row0 = -sy / th;
    if (row0 < 0) row0 = 0;
    int32_t row1 = (th + slot.height - sy - 1) / th;
    if (row1 > slot.height / th) row1 = slot.height / th;

    const auto* tiles = static_cast<const uint8_t*>(slot.pixels);
    const size_t tile_bytes = static_cast<size_t>(tw) * static_cast<size_t>(th) + 1;
    for (int32_t i = row0; i < row1; ++i) {
        const int32_t screen_y = sy + th * i;
        const uint32_t* row_cells = slot.cells + static_cast<size_t>(i) * map_columns;
        for (int32_t j = col0; j < col1; ++j) {
            const uint32_t cell = row_cells[j];
            if ((cell & 0x00FFFFFFu) == 0) continue;
            const uint16_t* palette = slot.cell_palettes[(cell >> 27) & 15];
            if (!palette) continue;
            const uint8_t* tile = tiles + (cell & 0xFFFu) * tile_bytes;
            const uint8_t flip_x = (cell >> 25) & 1;
            const uint8_t flip_y = (cell >> 26) & 1;
            const int32_t screen_x = sx + tw * j;
            if (tile[0] == 1 && !flip_x && !flip_y)
                blit_indexed(tile + 1, palette, tw, th, screen_x, screen_y, slot.alpha);
            else
                blit_indexed_keyed(tile + 1, palette, tw, th, screen_x, screen_y, slot.alpha, flip_x,
                                   flip_y);
        }
    }
}
