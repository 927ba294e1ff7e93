// Reading misc-fixed faces: each code is rendered monochrome into its full cell, so the glyph
// keeps its position inside the cell (baseline and side bearings as the font designer set them).
#include "pixel_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>

bool PixelGlyph::any_ink() const {
    for (uint8_t v : ink)
        if (v) return true;
    return false;
}

int PixelGlyph::first_ink_column() const {
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            if (at(x, y)) return x;
    return -1;
}

int PixelGlyph::last_ink_column() const {
    for (int x = width - 1; x >= 0; --x)
        for (int y = 0; y < height; ++y)
            if (at(x, y)) return x;
    return -1;
}

PixelFont load_pixel_font(const std::string& name) {
    static FT_Library lib = nullptr;
    if (!lib && FT_Init_FreeType(&lib) != 0) {
        std::fprintf(stderr, "asset_gen: FreeType cannot start\n");
        std::exit(1);
    }
    std::string path = "/usr/share/fonts/X11/misc/" + name + ".pcf.gz";
    FT_Face face;
    if (FT_New_Face(lib, path.c_str(), 0, &face) != 0 || face->num_fixed_sizes < 1) {
        std::fprintf(stderr, "asset_gen: cannot read %s (is xfonts-base installed?)\n", path.c_str());
        std::exit(1);
    }
    FT_Select_Size(face, 0);
    PixelFont font;
    font.cell_height = face->available_sizes[0].height;
    int ascent = static_cast<int>(face->size->metrics.ascender >> 6);
    for (int code = 0; code < 256; ++code) {
        FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
        if (index == 0) continue;
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO) != 0) continue;
        FT_GlyphSlot g = face->glyph;
        PixelGlyph out;
        out.width = static_cast<int>(g->advance.x >> 6);
        out.height = font.cell_height;
        out.ink.assign(static_cast<size_t>(out.width) * out.height, 0);
        int top = (ascent > 0 ? ascent : g->bitmap_top) - g->bitmap_top;
        for (unsigned row = 0; row < g->bitmap.rows; ++row)
            for (unsigned col = 0; col < g->bitmap.width; ++col) {
                if (!(g->bitmap.buffer[row * g->bitmap.pitch + col / 8] & (0x80 >> (col & 7)))) continue;
                int x = g->bitmap_left + static_cast<int>(col), y = top + static_cast<int>(row);
                if (x >= 0 && x < out.width && y >= 0 && y < out.height) out.ink[y * out.width + x] = 1;
            }
        font.cell_width = out.width > font.cell_width ? out.width : font.cell_width;
        font.glyphs[code] = out;
        font.present[code] = true;
    }
    FT_Done_Face(face);
    return font;
}

PixelGlyph trim_columns(const PixelGlyph& g) {
    PixelGlyph out;
    out.height = g.height;
    int first = g.first_ink_column(), last = g.last_ink_column();
    if (first < 0) return out;
    out.width = last - first + 1;
    out.ink.assign(static_cast<size_t>(out.width) * out.height, 0);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < out.width; ++x) out.ink[y * out.width + x] = g.at(first + x, y);
    return out;
}
