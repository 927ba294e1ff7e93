#include "media/fonts.h"

Font* font_table[FONT_COUNT];
uint8_t font_weighted[FONT_COUNT];

int font_load_builtin(uint8_t) { return 0; }
int font_from_picture(uint8_t, const uint16_t*, int16_t, int16_t) { return 0; }
int font_from_alpha_picture(uint8_t, const uint16_t*, const uint8_t*, int16_t, int16_t) { return 0; }
int font_from_gif(uint8_t, const uint8_t*, size_t) { return 0; }
void fonts_free() {}
