// Fonts for the text layers: the 16-entry font table, the five built-in 1-bit fonts (expanded to
// 16-bit masks on first use) and fonts built from a picture of 32 glyph cells per row (GIF, PNG
// or raw RGB565). text.cpp draws with them; the viewer loads the font sheet as font 5.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int FONT_COUNT = 16;
constexpr int BUILTIN_FONT_COUNT = 5;  // fonts 0..4 are program data; 5..15 come from pictures

struct Font {
    // Glyph planes. Built-in fonts: one mask plane per glyph (0xFFFF ink, 0 background).
    // Picture fonts: per glyph a w x h RGB565 plane followed by a w x h mask (keyed fonts) or
    // weight (weighted fonts, 0..32) plane.
    uint16_t* glyph_pixels;
    // 256 entries: where each code's glyph starts in glyph_pixels; built-in fonts count bytes,
    // picture fonts count 16-bit units.
    uint32_t* glyph_offsets;
    int8_t* glyph_widths;  // 256 advance widths in pixels, 0 = no glyph
    int8_t glyph_height;   // height of every glyph and of a text line
};

// Null = not loaded.
extern Font* font_table[FONT_COUNT];
// 1 for fonts built from a picture with an alpha channel (drawn with per-pixel weights).
extern uint8_t font_weighted[FONT_COUNT];

// Expands built-in font n (0..4) into font_table[n] if it is not loaded yet. Returns 1 when the
// font is loaded afterwards, 0 for other numbers.
int font_load_builtin(uint8_t font);

// Build picture font n (5..15) from a picture of 32 cells per row, replacing any font already
// there. Ink is a pixel other than colour_key (keyed) or an alpha byte other than 0 (weighted).
// Cells are width / 32 pixels square; at most 8 rows of cells are used and cells that do not lie
// wholly inside the picture count as empty. They return 1, or 0 (nothing changed) for font
// numbers outside 5..15, a picture narrower than 32 pixels, cells over 127 pixels (widths and
// the height are signed bytes) or a negative height.
int font_from_picture(uint8_t font, const uint16_t* pixels, int16_t width, int16_t height);
int font_from_alpha_picture(uint8_t font, const uint16_t* pixels, const uint8_t* alpha,
                            int16_t width, int16_t height);
// Decodes a GIF font sheet (length bytes) and builds keyed font n from it; 1 or 0 as above.
int font_from_gif(uint8_t font, const uint8_t* gif, size_t length);

// Releases every font; all entries become null.
void fonts_free();
