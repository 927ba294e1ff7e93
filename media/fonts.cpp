// Fonts: the font table, built-in font expansion and picture fonts.
//
// A picture font is cut from a sheet of 32 square cells per row, one cell per character code.
// All glyphs share one height (the lowest inked row over all cells, row 0 not counted) and each
// gets the width of its rightmost inked column. The glyphs are stored pre-expanded (colour plane
// then mask or weight plane) so the glyph kernels never unpack bits per frame.
#include "media/fonts.h"

#include <cstdlib>
#include <cstring>

#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/gif.h"

Font* font_table[FONT_COUNT];
uint8_t font_weighted[FONT_COUNT];

namespace {

constexpr int CELLS_PER_ROW = 32;
constexpr int MAX_CELL_ROWS = 8;     // 256 codes
constexpr int MAX_CELL_SIZE = 127;   // widths and the height are signed bytes

// The packed built-in fonts (program data, trusted).
struct BuiltinFont {
    const uint8_t* bits;
    const uint32_t* bits_size;
    const uint8_t* offsets;  // 256 little-endian 32-bit byte offsets
    const uint8_t* widths;   // 256 signed bytes
    int8_t height;
};
const BuiltinFont builtin_fonts[BUILTIN_FONT_COUNT] = {
    {asset_font0_bits, &asset_font0_bits_size, asset_font0_offsets, asset_font0_widths, 6},
    {asset_font1_bits, &asset_font1_bits_size, asset_font1_offsets, asset_font1_widths, 8},
    {asset_font2_bits, &asset_font2_bits_size, asset_font2_offsets, asset_font2_widths, 9},
    {asset_font3_bits, &asset_font3_bits_size, asset_font3_offsets, asset_font3_widths, 12},
    {asset_font4_bits, &asset_font4_bits_size, asset_font4_offsets, asset_font4_widths, 14},
};

// Every font owns its planes and its two tables (the built-in tables are copied out of the
// program data at expansion, 1.25 KB per font), so all fonts are released alike.
void font_release(int n) {
    Font* f = font_table[n];
    if (!f) return;
    std::free(f->glyph_pixels);
    std::free(f->glyph_offsets);
    std::free(f->glyph_widths);
    std::free(f);
    font_table[n] = nullptr;
    font_weighted[n] = 0;
}

// Shared body of font_from_picture and font_from_alpha_picture: alpha null means keyed.
int build_picture_font(uint8_t font, const uint16_t* pixels, const uint8_t* alpha, int16_t width,
                       int16_t height) {
    if (font < BUILTIN_FONT_COUNT || font >= FONT_COUNT || !pixels || width < CELLS_PER_ROW ||
        height < 0)
        return 0;
    const int q = width / CELLS_PER_ROW;
    if (q > MAX_CELL_SIZE) return 0;
    // Cells that do not lie wholly inside the picture count as empty.
    int cell_rows = height / q;
    if (cell_rows > MAX_CELL_ROWS) cell_rows = MAX_CELL_ROWS;
    const int cells = cell_rows * CELLS_PER_ROW;

    auto ink = [&](int cell, int row, int col) {
        size_t i = size_t((cell / CELLS_PER_ROW) * q + row) * size_t(width) +
                   size_t((cell % CELLS_PER_ROW) * q + col);
        return alpha ? alpha[i] != 0 : pixels[i] != colour_key;
    };

    // Height: one past the lowest row (1 .. q - 1) that has ink in any cell.
    int glyph_height = 0;
    for (int row = q - 1; row >= 1 && !glyph_height; --row)
        for (int cell = 0; cell < cells && !glyph_height; ++cell)
            for (int col = 0; col < q; ++col)
                if (ink(cell, row, col)) {
                    glyph_height = row + 1;
                    break;
                }

    auto* widths = static_cast<int8_t*>(std::calloc(256, sizeof(int8_t)));
    auto* offsets = static_cast<uint32_t*>(std::calloc(256, sizeof(uint32_t)));
    auto* record = static_cast<Font*>(std::calloc(1, sizeof(Font)));
    if (!widths || !offsets || !record) {
        std::free(widths);
        std::free(offsets);
        std::free(record);
        return 0;
    }
    for (int cell = 0; cell < cells; ++cell) {
        int w = 0;
        for (int row = 0; row < q; ++row)
            for (int col = q - 1; col >= w; --col)
                if (ink(cell, row, col)) {
                    w = col + 1;
                    break;
                }
        widths[cell] = int8_t(w);
    }
    for (int code = 0; code < 32; ++code) widths[code] = 0;
    widths[32] = widths[33];  // the space cell is empty; it advances like '!'

    size_t total = 0;
    for (int code = 32; code < 256; ++code) total += 2 * size_t(glyph_height) * widths[code];
    auto* planes = static_cast<uint16_t*>(std::malloc((total ? total : 1) * sizeof(uint16_t)));
    if (!planes) {
        std::free(widths);
        std::free(offsets);
        std::free(record);
        return 0;
    }
    uint32_t position = 0;
    for (int code = 32; code < 256; ++code) {
        offsets[code] = position;
        const int w = widths[code];
        const size_t area = size_t(w) * size_t(glyph_height);
        uint16_t* colour_plane = planes + position;
        uint16_t* second_plane = colour_plane + area;
        for (int row = 0; row < glyph_height; ++row)
            for (int col = 0; col < w; ++col) {
                size_t i = size_t((code / CELLS_PER_ROW) * q + row) * size_t(width) +
                           size_t((code % CELLS_PER_ROW) * q + col);
                size_t o = size_t(row) * w + col;
                colour_plane[o] = pixels[i];
                second_plane[o] = alpha ? alpha[i] : (pixels[i] == colour_key ? 0 : 0xFFFF);
            }
        position += uint32_t(2 * area);
    }

    record->glyph_pixels = planes;
    record->glyph_offsets = offsets;
    record->glyph_widths = widths;
    record->glyph_height = int8_t(glyph_height);
    font_release(font);
    font_table[font] = record;
    font_weighted[font] = alpha ? 1 : 0;
    return 1;
}

}  // namespace

int font_from_picture(uint8_t font, const uint16_t* pixels, int16_t width, int16_t height) {
    return build_picture_font(font, pixels, nullptr, width, height);
}

int font_from_alpha_picture(uint8_t font, const uint16_t* pixels, const uint8_t* alpha,
                            int16_t width, int16_t height) {
    if (!alpha) return 0;
    return build_picture_font(font, pixels, alpha, width, height);
}

int font_from_gif(uint8_t font, const uint8_t* gif, size_t length) {
    int32_t w = 0, h = 0;
    if (font < BUILTIN_FONT_COUNT || font >= FONT_COUNT || !gif ||
        !gif_screen_size(gif, length, &w, &h) || w < CELLS_PER_ROW || w > BITMAP_MAX_SIDE ||
        h < 1 || h > BITMAP_MAX_SIDE)
        return 0;
    auto* picture = static_cast<uint16_t*>(std::calloc(size_t(w) * size_t(h), sizeof(uint16_t)));
    if (!picture) return 0;
    int ok = gif_decode(gif, length, picture, nullptr, GIF_OUTPUT_RGB565, int16_t(w)) &&
             font_from_picture(font, picture, int16_t(w), int16_t(h));
    std::free(picture);
    return ok;
}

int font_load_builtin(uint8_t font) {
    if (font >= BUILTIN_FONT_COUNT) return 0;
    if (font_table[font]) return 1;
    const BuiltinFont& src = builtin_fonts[font];
    const uint32_t bytes = *src.bits_size;
    auto* record = static_cast<Font*>(std::calloc(1, sizeof(Font)));
    auto* offsets = static_cast<uint32_t*>(std::malloc(256 * sizeof(uint32_t)));
    auto* widths = static_cast<int8_t*>(std::malloc(256));
    auto* planes = static_cast<uint16_t*>(std::malloc((size_t(bytes) * 8 + 1) * sizeof(uint16_t)));
    if (!record || !offsets || !widths || !planes) {
        std::free(record);
        std::free(offsets);
        std::free(widths);
        std::free(planes);
        return 0;
    }
    // Bit b of byte i (least significant first) becomes mask value i * 8 + b.
    for (uint32_t i = 0; i < bytes; ++i)
        for (int b = 0; b < 8; ++b) planes[i * 8 + b] = (src.bits[i] >> b) & 1 ? 0xFFFF : 0;
    for (int code = 0; code < 256; ++code) {
        const uint8_t* o = src.offsets + 4 * code;
        offsets[code] = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
        widths[code] = int8_t(src.widths[code]);
    }
    record->glyph_pixels = planes;
    record->glyph_offsets = offsets;
    record->glyph_widths = widths;
    record->glyph_height = src.height;
    font_table[font] = record;
    font_weighted[font] = 0;
    return 1;
}

void fonts_free() {
    for (int n = 0; n < FONT_COUNT; ++n) font_release(n);
}
