// Background layers: creation, release and drawing of bitmap and tile layers.
#include "render/layers.h"

LayerSlot LayerTable[LAYER_COUNT];
LayerHook layer_hook = nullptr;
LayerHook text_layer_draw_hook = nullptr;
LayerHook text_layer_release_hook = nullptr;

void layer_free(int) {}
void layer_free_all() {}
void layer_setup(int, const LayerDescription*, void*, uint32_t*, uint16_t*) {}
int layer_create_rgb565(int, int16_t, int16_t, uint8_t) { return 0; }
int layer_create_indexed(int, int16_t, int16_t, uint8_t) { return 0; }
int layer_attach_pixels(int, void*, int16_t, int16_t, uint8_t, uint8_t) { return 0; }
void layer_set_position(int, int32_t, int32_t) {}
int layer_upload(int, const uint16_t*) { return 0; }
void layer_blend_pixel(int, int16_t, int16_t, uint16_t, int) {}
void layer_draw(int) {}
void layer_draw_tiles(int) {}
