// The console tile layer.
#include "render/console.h"

int8_t console_layer = -1;
uint16_t console_columns = 0;
uint16_t console_rows = 0;
uint32_t console_cells[CONSOLE_CELL_CAPACITY];
const uint32_t* console_char_table = nullptr;
uint32_t console_char_count = 0;
uint8_t console_colour = 0;
uint16_t console_palettes[16][16];
const uint16_t console_colours[16] = {0xFFFF, 0xF800, 0x07E0, 0x001F, 0xF81F, 0x07FF,
                                      0xFFE0, 0xCE79, 0xA534, 0,      0,      0,
                                      0,      0,      0,      0};

void console_init(int) {}
void console_setup(int, const TileLayerAsset*) {}
void console_set_colours(int) {}
void console_clear() {}
