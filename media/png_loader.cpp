#include "media/png_loader.h"

int16_t png_width;
int16_t png_height;
uint8_t png_has_alpha;
uint8_t png_opaque;
int png_error_code;

uint16_t* png_load(const uint8_t*, size_t) { return nullptr; }
Bitmap* bitmap_from_png(const uint8_t*, size_t) { return nullptr; }
int font_from_png(uint8_t, const uint8_t*, size_t) { return 0; }
void png_memory_read(png_struct_def*, uint8_t*, size_t) {}
