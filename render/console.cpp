// The console tile layer: set-up from a tile-layer asset, its 16 one-colour palettes, clearing.
// The cells are written by the console printer.
#include "render/console.h"

#include <algorithm>
#include <cstring>

#include "assets/assets.h"
#include "render/framebuffer.h"

int8_t console_layer = -1;
uint16_t console_columns = 0;
uint16_t console_rows = 0;
uint32_t console_cells[CONSOLE_CELL_CAPACITY];  // 16 KiB
const uint32_t* console_char_table = nullptr;
uint32_t console_char_count = 0;
uint8_t console_colour = 0;
uint16_t console_palettes[16][16];
const uint16_t console_colours[16] = {
    0xFFFF,  // white
    0xF800,  // red
    0x07E0,  // green
    0x001F,  // blue
    0xF81F,  // magenta
    0x07FF,  // cyan
    0xFFE0,  // yellow
    0xCE79,  // light grey
    0xA534,  // grey
    0, 0, 0, 0, 0, 0, 0,
};

void console_setup(int n, const TileLayerAsset* asset) {
    if (n < 0 || n >= LAYER_COUNT || !asset || !asset->description) return;
    console_layer = static_cast<int8_t>(n);
    // The tile graphics and character table are built-in constant data; the layer only reads them.
    layer_setup(n, asset->description, const_cast<uint8_t*>(asset->tiles),
                const_cast<uint32_t*>(asset->cells), const_cast<uint16_t*>(asset->palette));
    LayerSlot& slot = LayerTable[n];
    console_char_table = asset->cells;
    console_char_count = asset->cells_size / sizeof(uint32_t);
    slot.cells = console_cells;
    std::memset(console_cells, 0, sizeof(uint32_t) * console_columns * console_rows);

    slot.width = SCREEN_WIDTH;
    slot.height = SCREEN_MAX_HEIGHT;
    int32_t columns = slot.tile_width > 0 ? SCREEN_WIDTH / slot.tile_width : 0;
    int32_t rows = slot.tile_height > 0 ? SCREEN_MAX_HEIGHT / slot.tile_height : 0;
    // The cell buffer is fixed: a font with tiny tiles gets no more rows than fit in it.
    if (columns > 0 && columns * rows > CONSOLE_CELL_CAPACITY) {
        rows = CONSOLE_CELL_CAPACITY / columns;
        slot.height = rows * slot.tile_height;
    }
    slot.columns = columns;
    slot.rows = rows;
    console_columns = static_cast<uint16_t>(columns);
    console_rows = static_cast<uint16_t>(rows);
    console_colour = 0;
}

void console_set_colours(int n) {
    if (n < 0 || n >= LAYER_COUNT) return;
    for (int k = 0; k < 16; ++k) {
        LayerTable[n].cell_palettes[k] = console_palettes[k];
        console_palettes[k][1] = console_colours[k];
    }
    console_colour = 0;
}

void console_clear() {
    std::memset(console_cells, 0, sizeof(uint32_t) * console_columns * console_rows);
}

namespace {

uint32_t read_u32le(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

const TileLayerAsset* console_font_asset() {
    // The embedded files are plain bytes; the table, palette and description are read into
    // typed arrays once (built-in data: sizes as generated, no checks beyond the array bounds).
    static uint32_t cells[256];
    static uint16_t palette[256];
    static LayerDescription description;
    static TileLayerAsset asset;
    static bool unpacked = false;
    if (!unpacked) {
        const uint32_t cell_count = std::min<uint32_t>(asset_console_char_table_size / 4, 256);
        for (uint32_t i = 0; i < cell_count; ++i) cells[i] = read_u32le(asset_console_char_table + 4 * i);
        const uint32_t colours = std::min<uint32_t>(asset_console_palette_size / 2, 256);
        for (uint32_t i = 0; i < colours; ++i)
            palette[i] = static_cast<uint16_t>(asset_console_palette[2 * i] |
                                               (asset_console_palette[2 * i + 1] << 8));
        const uint8_t* d = asset_console_description;
        description = LayerDescription{read_u32le(d), read_u32le(d + 4), read_u32le(d + 8),
                                       read_u32le(d + 12), read_u32le(d + 16), read_u32le(d + 20)};
        asset = TileLayerAsset{cells, cell_count * 4, asset_console_font, asset_console_font_size,
                               palette, &description};
        unpacked = true;
    }
    return &asset;
}

void console_init(int n) {
    console_setup(n, console_font_asset());
    console_set_colours(n);
}
