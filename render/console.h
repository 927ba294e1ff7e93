// The on-screen console: one tile layer of 6 x 6 glyph cells (40 x 53 on the 240 x 320 screen)
// that the console printer fills with characters. Set up by console_init on the paths that need
// to show a message without a text layer; the printer and the frame-rate display write its cells.
#pragma once
#include <cstdint>

#include "render/layers.h"

// A tile-layer asset as built into the program; six 32-bit fields (sizes are not read).
struct TileLayerAsset {
    const uint32_t* cells;      // the character table
    uint32_t cells_size;        // bytes
    const uint8_t* tiles;       // tile graphics: per tile 1 opaque byte + tw x th indices
    uint32_t tiles_size;        // bytes
    const uint16_t* palette;
    const LayerDescription* description;
};

constexpr int CONSOLE_CELL_CAPACITY = 4096;

// The console's layer number, -1 until console_setup (never reset).
extern int8_t console_layer;
// Cells per row and rows of the console; 0 until the first set-up.
extern uint16_t console_columns;
extern uint16_t console_rows;
// The console's cells (row-major, console_columns per row); the console layer draws these.
extern uint32_t console_cells[CONSOLE_CELL_CAPACITY];
// Character code -> cell (0 for codes below 33); console_char_count entries.
extern const uint32_t* console_char_table;
extern uint32_t console_char_count;
// The printer's current colour number (a console palette, 0..15).
extern uint8_t console_colour;
// 16 palettes of 16 entries, all zero except entry 1.
extern uint16_t console_palettes[16][16];
// The colour entry 1 of palette n receives.
extern const uint16_t console_colours[16];

// The built-in 6 x 6 console font (87 tiles, a 128-code character table), unpacked from the
// embedded little-endian bytes on first use.
const TileLayerAsset* console_font_asset();

// console_setup(n, built-in asset), then console_set_colours(n).
void console_init(int n);
void console_setup(int n, const TileLayerAsset* asset);
void console_set_colours(int n);
// Sets the console's columns x rows cells to 0.
void console_clear();
