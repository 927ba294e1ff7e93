#include "media/text.h"

#include "media/fonts.h"

TextItem* text_items[TEXT_LAYER_COUNT];
PlacedGlyph layout_scratch[LAYOUT_SCRATCH_SIZE];
uint32_t layout_count;
int8_t text_line_spacing = 0;
int8_t text_letter_spacing = 1;
uint8_t text_align = ALIGN_LEFT;
uint8_t text_alpha = 32;
uint8_t text_layer = 0;
uint8_t text_clip = 0;

void text_layer_create(int) {}
int16_t text_set(int, int, int16_t, int16_t, int16_t, int16_t, const char*, uint16_t, uint8_t,
                 uint8_t, int8_t, int8_t, uint8_t, uint8_t, int32_t) {
    return 0;
}
void text_layout(const char*, int16_t, int16_t, int16_t, int16_t, const Font*, int8_t, int8_t,
                 uint8_t, int32_t) {}
void text_hide(int) {}
void text_layer_clear(int) {}
void text_layer_draw(int) {}
