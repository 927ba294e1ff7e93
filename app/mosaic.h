// Mosaic rendering: the surface picture, the tile mosaic at any zoom with the full-resolution
// centre tile, and the 80 x 80 minimap, all drawn into draw_target (240 pixels per row).
// The navigation decides centre, zoom and offsets; the Select Image grid reuses tile_draw.
#pragma once
#include <cstdint>

#include "app/screen_layout.h"
#include "pack/pack_file.h"

constexpr uint16_t NO_PICTURE = 0xFFFF;
constexpr int HISTORY_SIZE = 240;

extern uint16_t zoom;              // tile edge in screen pixels: 1 at the surface, up to 240
extern int32_t centre_col;         // surface pixel whose tile is at the screen centre
extern int32_t centre_row;
extern uint16_t current_picture;   // the picture decoded in picture_buffer; NO_PICTURE when none
extern uint16_t parent_picture;    // the picture surface_image was copied from
extern uint16_t surface_image[PICTURE_PIXELS];  // its pixel colours choose the tiles
extern uint8_t thumb_steps[256];   // i * thumb_size / zoom for the present zoom
extern uint8_t picture_steps[256]; // i * 240 / zoom (zoom > 31 only)

// How often each picture became the surface (picture_count counters, allocated by the viewer).
extern uint16_t* visit_counts;

// The mosaic_render calls since the last surface, replayed backwards by the rewind.
struct HistoryEntry {
    int16_t zoom, col, row, offset_x, offset_y;
};
extern HistoryEntry zoom_history[HISTORY_SIZE];
extern int16_t history_count;
extern uint8_t recording;

// The picture standing for a surface colour: best_match, or second_match when best_match names
// the parent picture itself.
uint16_t tile_choice(uint16_t colour);

void zoom_tables_update();

// One zoom x zoom tile with its top-left corner at (x, y), clipped to the picture area: black
// for a table entry that names no picture, the decoded picture for the current picture above
// zoom 40, else the thumbnail, tinted towards `colour` up to zoom 15.
void tile_draw(int16_t x, int16_t y, uint16_t t, uint16_t colour);

// The mosaic around surface pixel (col, row), the tile grid shifted by the offsets.
void mosaic_render(int32_t col, int32_t row, int16_t offset_x, int16_t offset_y);

void minimap_update();
void minimap_draw(int16_t x0, int16_t x1, int16_t y0, int16_t y1);
void minimap_blend_picture(uint8_t weight);
void centre_picture_update();

// The current picture becomes the surface (zoom 1), drawn in the picture area.
void surface_reset();

// The surface magnified: s is the sampling step in 1/256 surface pixel (256 = whole surface).
void surface_zoom_view(uint16_t s);
