// Text layers: layout of a string into placed glyphs (once per text_set) and the per-frame draw.
//
// Layout walks the string with a pen. A glyph that would end past the box's right edge sends its
// whole word to the next line (the space before it stays on the earlier line); spaces never
// wrap. Each finished line is then aligned. A word that is wider than the box on its own is
// broken at the box edge. The layout never writes past the scratch: a string that would need
// more entries stops there as if it ended.
#include "media/text.h"

#include <cstdlib>
#include <cstring>

#include "media/fonts.h"
#include "render/kernels.h"
#include "render/layers.h"

TextItem* text_items[TEXT_LAYER_COUNT];
PlacedGlyph layout_scratch[LAYOUT_SCRATCH_SIZE];
uint32_t layout_count;
uint8_t text_layer = 0;

namespace {

// Moves the glyphs first .. end - 1 (one line) for the alignment. line_end is the pen position
// that ends the line; wrapped says the line was ended by a word that moved on (only such lines
// are justified).
void align_line(uint32_t first, uint32_t end, int line_end, int right, bool wrapped,
                uint8_t align) {
    if (end <= first) return;
    int free = right - line_end + 1;
    if (align == ALIGN_RIGHT) {
        for (uint32_t g = first; g < end; ++g) layout_scratch[g].x = int16_t(layout_scratch[g].x + free + 1);
    } else if (align == ALIGN_CENTRE) {
        int shift = (free + 1) >> 1;
        for (uint32_t g = first; g < end; ++g) layout_scratch[g].x = int16_t(layout_scratch[g].x + shift);
    } else if (align == ALIGN_JUSTIFY && wrapped) {
        // One extra pixel per gap when there is room for it, the rest shared out over the spaces
        // (rounded, so the shares add up to what was free).
        int gaps = uint8_t(end - first - 1);
        int step = 0;
        if (gaps < free) {
            step = 1;
            free -= gaps;
        }
        int spaces = 0;
        for (uint32_t g = first; g + 1 < end; ++g) spaces += layout_scratch[g].code == ' ';
        int shift = 0;
        for (uint32_t g = first; g < end; ++g) {
            shift += step;
            layout_scratch[g].x = int16_t(layout_scratch[g].x + shift);
            // free <= 0 (trailing spaces ran past the edge) leaves the spaces as they are.
            if (layout_scratch[g].code == ' ' && spaces > 0 && free > 0) {
                int share = (free + spaces / 2) / spaces;
                spaces -= 1;
                shift += share;
                free -= share;
            }
        }
    }
}

}  // namespace

void text_layout(const char* text, int16_t left, int16_t top, int16_t right, int16_t bottom,
                 const Font* font, int8_t letter_spacing, int8_t line_spacing, uint8_t align,
                 int32_t max_glyphs) {
    layout_count = 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text ? text : "");
    const int8_t* widths = font->glyph_widths;
    const int line_height = font->glyph_height;
    const int64_t limit = int64_t(max_glyphs) + (align == ALIGN_LEFT || align == ALIGN_JUSTIFY ? 200 : 100);
    // The advance of a code is taken as an unsigned byte.
    auto advance = [&](uint8_t ch) { return int(uint8_t(letter_spacing + widths[ch])); };
    auto space_before = [&](int64_t i) { return i > 0 && s[i - 1] == ' '; };
    // One entry is kept free for the end position stored after the last glyph.
    auto place = [&](uint8_t ch, int x, int y) {
        if (layout_count >= LAYOUT_SCRATCH_SIZE - 1) return false;
        layout_scratch[layout_count++] = PlacedGlyph{ch, int16_t(x), int16_t(y)};
        return true;
    };

    int x = left, y = top;
    int64_t i = 0;
    uint32_t line_start = 0;
    while (i < limit && s[i] != 0) {
        uint8_t ch = s[i];
        bool wrapped;
        if (ch == '\n') {
            if (!place(ch, x, y)) break;
            if (space_before(i)) x -= widths[uint8_t(' ')];
            wrapped = false;
        } else if (ch == ' ' || x + advance(ch) <= right) {
            if (!place(ch, x, y)) break;
            x += advance(ch);
            ++i;
            continue;
        } else {
            // Step back over the word to the space before it, keeping the line's first glyph.
            if (i > 0 && s[i - 1] != ' ') {
                uint32_t count = layout_count;
                int64_t j = i;
                int pen = x;
                while (s[j - 1] != ' ' && count - line_start > 1) {
                    --count;
                    --j;
                    pen -= advance(layout_scratch[count].code);
                }
                // No space on this line before the word: the word alone is wider than the box,
                // so it is broken here at the edge instead.
                if (s[j - 1] == ' ') {
                    layout_count = count;
                    i = j;
                    x = pen;
                }
            }
            ch = s[i];
            x -= 1;
            if (space_before(i)) x -= widths[uint8_t(' ')];
            wrapped = true;
        }
        // Line break. A new line starts only if it fits entirely above the box bottom.
        if (y + 2 * line_height > bottom) break;
        align_line(line_start, layout_count, x, right, wrapped, align);
        x = left;
        y += line_height + line_spacing;
        line_start = layout_count;
        if (ch > ' ') {
            if (!place(ch, x, y)) break;
            x += advance(ch);
        }
        ++i;
    }
    if (space_before(i)) x -= widths[uint8_t(' ')];
    align_line(line_start, layout_count, x, right, y + 2 * line_height > bottom, align);
    layout_scratch[layout_count] = PlacedGlyph{0, int16_t(x), int16_t(y)};
}

namespace {

void draw_hook(uint8_t layer) { text_layer_draw(layer); }
void release_hook(uint8_t layer) { text_layer_clear(layer); }

}  // namespace

void text_layer_create(int layer) {
    if (layer < 0 || layer >= TEXT_LAYER_COUNT) return;
    if (!text_items[layer]) {
        text_items[layer] = static_cast<TextItem*>(std::calloc(TEXT_ITEM_COUNT, sizeof(TextItem)));
        if (!text_items[layer]) return;
    }
    text_layer_draw_hook = draw_hook;
    text_layer_release_hook = release_hook;
    layer_free(layer);  // clears the items when the layer already was a text layer
    LayerSlot& slot = LayerTable[layer];
    slot.in_use = 1;
    slot.kind = LAYER_TEXT;
    slot.depth = int16_t(layer);
    slot.x = 0;
    slot.y = 0;
    slot.alpha = 32;
    slot.opaque = 0;
    layout_count = 0;
    text_layer = uint8_t(layer);
}

int16_t text_set(int layer, int item, int16_t left, int16_t top, int16_t right, int16_t bottom,
                 const char* text, uint16_t colour, uint8_t font, const TextStyle& style,
                 int32_t max_glyphs) {
    if (layer < 0 || layer >= TEXT_LAYER_COUNT || !text_items[layer] || item < 0 ||
        item >= TEXT_ITEM_COUNT || font >= FONT_COUNT || style.clip_index >= CLIP_COUNT)
        return 0;
    if (!font_table[font]) {
        if (font >= BUILTIN_FONT_COUNT || !font_load_builtin(font)) return 0;
    }
    TextItem& it = text_items[layer][item];
    it.font = font;
    it.colour = colour;
    it.letter_spacing = style.letter_spacing;
    it.line_spacing = style.line_spacing;
    it.align = style.align;
    it.alpha = style.alpha;
    it.clip_index = style.clip_index;

    text_layout(text, left, top, right, bottom, font_table[font], style.letter_spacing,
                style.line_spacing, style.align, max_glyphs);
    int32_t n = int32_t(layout_count);
    if (max_glyphs < n) n = max_glyphs < 0 ? 0 : max_glyphs;
    if (!it.glyphs || it.glyph_capacity < n) {
        std::free(it.glyphs);
        it.glyphs = static_cast<PlacedGlyph*>(std::malloc(sizeof(PlacedGlyph) * size_t(n + 17)));
        it.glyph_capacity = it.glyphs ? uint16_t(n + 16) : 0;
        if (!it.glyphs) {
            it.glyph_count = 0;
            return 0;
        }
    }
    it.box_left = left;
    it.box_top = top;
    it.box_right = right;
    it.box_bottom = bottom;
    std::memcpy(it.glyphs, layout_scratch, sizeof(PlacedGlyph) * size_t(n));
    it.glyph_count = n;
    return int16_t(n);
}

void text_hide(int item) {
    if (item < 0 || item >= TEXT_ITEM_COUNT || text_layer >= TEXT_LAYER_COUNT ||
        !text_items[text_layer])
        return;
    text_items[text_layer][item].glyph_count = 0;
}

void text_layer_clear(int layer) {
    if (layer < 0 || layer >= TEXT_LAYER_COUNT || !text_items[layer]) return;
    for (int k = 0; k < TEXT_ITEM_COUNT; ++k) {
        TextItem& it = text_items[layer][k];
        it.glyph_count = 0;
        std::free(it.glyphs);
        it.glyphs = nullptr;
        it.glyph_capacity = 0;
    }
}

void text_layer_draw(int layer) {
    if (layer < 0 || layer >= TEXT_LAYER_COUNT || !text_items[layer]) return;
    for (int k = 0; k < TEXT_ITEM_COUNT; ++k) {
        const TextItem& it = text_items[layer][k];
        current_sprite = -1;
        current_clip = it.clip_index;
        if (it.glyph_count <= 0 || it.alpha == 0) continue;
        const Font* f = font_table[it.font];
        if (!f) continue;  // the font was released after the item was set
        const int16_t h = f->glyph_height;
        const bool builtin = it.font < BUILTIN_FONT_COUNT;
        const bool weighted = font_weighted[it.font] != 0;
        for (int32_t g = 0; g < it.glyph_count; ++g) {
            const PlacedGlyph& pg = it.glyphs[g];
            const int16_t w = f->glyph_widths[pg.code];
            if (w <= 0) continue;
            const uint32_t offset = f->glyph_offsets[pg.code];
            if (builtin) {
                const auto* mask = reinterpret_cast<const uint16_t*>(
                    reinterpret_cast<const uint8_t*>(f->glyph_pixels) + offset);
                blit_glyph_mask(mask, it.colour, w, h, pg.x, pg.y, it.alpha);
            } else if (weighted) {
                blit_glyph_weighted(f->glyph_pixels + offset, w, h, pg.x, pg.y, it.alpha);
            } else {
                blit_glyph_masked(f->glyph_pixels + offset, w, h, pg.x, pg.y, it.alpha);
            }
        }
    }
}
