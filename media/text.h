// Text layers: a background layer of kind LAYER_TEXT carries 256 text items, each a string laid
// out once (text_set) into placed glyphs inside a box. The compositor's layer draw calls
// text_layer_draw every frame; applications set items through text_set, usually in the default
// TextStyle.
#pragma once
#include <cstdint>

struct Font;

constexpr int TEXT_LAYER_COUNT = 16;
constexpr int TEXT_ITEM_COUNT = 256;      // items per text layer
constexpr int LAYOUT_SCRATCH_SIZE = 2050; // placed glyphs one layout can produce, plus its end

constexpr uint8_t ALIGN_LEFT = 0;
constexpr uint8_t ALIGN_RIGHT = 1;
constexpr uint8_t ALIGN_CENTRE = 2;
constexpr uint8_t ALIGN_JUSTIFY = 3;

struct PlacedGlyph {
    uint8_t code;
    int16_t x;  // top-left screen pixel of the glyph
    int16_t y;
};

struct TextItem {
    int32_t glyph_count;     // 0 = empty or hidden
    uint8_t font;
    uint16_t colour;         // RGB565 ink (built-in fonts only)
    uint8_t clip_index;      // clip rectangle 0..15 used while drawing
    uint8_t alpha;           // 0 = not drawn, 32 = copy
    int16_t box_left, box_top, box_right, box_bottom;
    uint16_t glyph_capacity; // room in `glyphs`
    int8_t letter_spacing;   // extra pixels after each glyph
    int8_t line_spacing;     // extra pixels between lines
    uint8_t align;           // ALIGN_*
    PlacedGlyph* glyphs;
};

// Item tables per layer number; null until text_layer_create(n). They live for the whole run.
extern TextItem* text_items[TEXT_LAYER_COUNT];

// The layout scratch: text_set lays out here and copies the result into the item. The entry
// just after the last counted glyph holds the pen position where the text ended.
extern PlacedGlyph layout_scratch[LAYOUT_SCRATCH_SIZE];
extern uint32_t layout_count;

// How an item is drawn and laid out, apart from its box, font and colour. The default style
// (opaque, one pixel after each glyph, no extra line spacing, left aligned, clip 0) is the one
// the viewer writes everything in.
struct TextStyle {
    uint8_t alpha = 32;           // 0 = not drawn, 32 = copy
    int8_t letter_spacing = 1;    // extra pixels after each glyph
    int8_t line_spacing = 0;      // extra pixels between lines
    uint8_t align = ALIGN_LEFT;   // ALIGN_*
    uint8_t clip_index = 0;       // clip rectangle 0..15 used while drawing
};

extern uint8_t text_layer;  // the current text layer (set by text_layer_create), 0

// Makes layer n (0..15) a text layer with an empty item table; it becomes text_layer.
void text_layer_create(int layer);

// Lays out `text` into item `item` of text layer `layer` inside the box (inclusive edges) and
// returns the number of placed glyphs (at most max_glyphs). Returns 0 and leaves the item as it
// was when the font is not loaded (picture fonts), the font number is above 15, the layer is not
// a text layer or the item or clip index is out of range.
int16_t text_set(int layer, int item, int16_t left, int16_t top, int16_t right, int16_t bottom,
                 const char* text, uint16_t colour, uint8_t font,
                 const TextStyle& style = TextStyle{}, int32_t max_glyphs = 1000);

// Only the layout (into layout_scratch / layout_count); used by text_set and by tests.
void text_layout(const char* text, int16_t left, int16_t top, int16_t right, int16_t bottom,
                 const Font* font, int8_t letter_spacing, int8_t line_spacing, uint8_t align,
                 int32_t max_glyphs);

// Hides item `item` of text_layer (glyph_count = 0).
void text_hide(int item);

// Empties every item of layer n and releases their glyph arrays.
void text_layer_clear(int layer);

// Draws every item of text layer n through the glyph kernels.
void text_layer_draw(int layer);
