// The runtime's text data made from the misc-fixed faces: the five packed 1-bit fonts, the
// 6 x 6 console tiles with their character table, and the 8 x 8 font sheet picture.
#pragma once
#include <cstdint>
#include <vector>

#include "image.h"

struct PackedFont {
    int height = 0;
    std::vector<uint8_t> bits;      // glyph after glyph, row-major, least significant bit first
    uint32_t offsets[256] = {};     // 2 x bit index of each glyph's first bit
    int8_t widths[256] = {};        // 0 = no glyph
};

// Font n (0..4): misc-fixed 4x6, 5x8, 6x9, 6x12, 7x14, each glyph cut to its ink columns.
PackedFont make_packed_font(int n);
bool packed_font_covers(int n, int code);

constexpr int CONSOLE_TILE = 6;
constexpr int CONSOLE_TILE_BYTES = CONSOLE_TILE * CONSOLE_TILE + 1;
constexpr int CONSOLE_TILES = 87;
constexpr int CONSOLE_CODES = 128;

struct ConsoleFont {
    std::vector<uint8_t> tiles;         // CONSOLE_TILES records of CONSOLE_TILE_BYTES
    uint32_t char_table[CONSOLE_CODES]; // cell per code: tile number, bit 25 flip_x, bit 26 flip_y
};
ConsoleFont make_console_font();

// 256 x 64: black glyphs on the key colour, cell k (8 x 8) at column k % 32, row k / 32.
Image make_font_sheet();

// Little-endian byte images of the tables, as they are stored in assets/.
std::vector<uint8_t> le_u32(const uint32_t* values, int count);
std::vector<uint8_t> le_u16(const uint16_t* values, int count);
