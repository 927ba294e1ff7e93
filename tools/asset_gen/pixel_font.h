// 1-bit glyphs read from the X11 misc-fixed bitmap fonts (xfonts-base, public domain) through
// FreeType, which reads the gzip-compressed PCF files directly.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PixelGlyph {
    int width = 0, height = 0;   // cell size
    std::vector<uint8_t> ink;    // width * height, 1 = ink
    bool at(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height && ink[y * width + x]; }
    bool any_ink() const;
    int first_ink_column() const;  // -1 when empty
    int last_ink_column() const;   // -1 when empty
};

struct PixelFont {
    int cell_width = 0, cell_height = 0;
    PixelGlyph glyphs[256];  // by Latin-1 code; a code the font lacks is an empty cell
    bool present[256] = {};
};

// Loads /usr/share/fonts/X11/misc/NAME.pcf.gz; exits with a message when it is missing.
PixelFont load_pixel_font(const std::string& name);

// The glyph cut to its ink columns (the full cell height is kept); an empty glyph keeps width 0.
PixelGlyph trim_columns(const PixelGlyph& g);
