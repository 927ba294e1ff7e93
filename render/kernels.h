// The blit kernels: every sprite, layer and glyph pixel reaches the Framebuffer through one of
// these. The sprite draw, the layer draw and the text layer set the drawing context below, then
// call one kernel (the scaled ones chosen by scaled_kernel_for) per source.
#pragma once
#include <cstdint>

#include "runtime/sprites.h"  // ClipRect and active_clips, the compositor's effective clips

// ---- Drawing context, set by the caller before a kernel runs ----

// Index into active_clips of the rectangle to clip against. 0 until first set.
extern uint8_t current_clip;

// The sprite being drawn, or -1 (the start value). When it is not -1, clip_box also limits the
// visible part to current_crop. Layer draws, text draws and rotozoom_setup set it to -1.
extern int16_t current_sprite;

// The crop rectangle of current_sprite in source pixels, inclusive. The sprite draw copies the
// slot's crop fields here together with setting current_sprite, so the kernels do not depend on
// the sprite table.
extern ClipRect current_crop;

// Alpha plane of a format-3 source: one byte 0..32 per pixel, laid out like the pixels.
extern const uint8_t* current_alpha_plane;

// The source window left by the last clip_box, relative to the source's top-left corner;
// start inclusive, end exclusive. Empty when end <= start in either direction.
struct VisibleBox {
    int16_t col_start, row_start, col_end, row_end;
};
extern VisibleBox visible_box;

// Fills visible_box for a w x h source whose top-left corner is at screen (x, y), from
// active_clips[current_clip] and, when current_sprite is not -1, current_crop.
void clip_box(int16_t x, int16_t y, int16_t w, int16_t h);

// ---- Unscaled kernels ----
// w, h: source width (also the stride) and height; x, y: screen position of the source's
// top-left corner (may be off screen). alpha 32 copies, any other value blends with that weight,
// and alpha <= 0 draws nothing (a negative weight would wrap to a huge one in the blend rule).
// flip_x / flip_y non-zero mirror the source.

void blit_rgb565(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y, int alpha);
// Skips pixels equal to colour_key.
void blit_rgb565_keyed(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                       int alpha, uint8_t flip_x, uint8_t flip_y);
// Draws only the draw runs of the run stream (skip/draw pairs per row).
void blit_rgb565_runs(const uint16_t* pixels, const uint8_t* runs, const uint16_t* row_offsets,
                      int16_t w, int16_t h, int16_t x, int16_t y, int alpha);
void blit_indexed(const uint8_t* indices, const uint16_t* palette, int16_t w, int16_t h,
                  int16_t x, int16_t y, int alpha);
// Skips index 0. With flip_x the source column mirrors about the full width even when clipped.
void blit_indexed_keyed(const uint8_t* indices, const uint16_t* palette, int16_t w, int16_t h,
                        int16_t x, int16_t y, int alpha, uint8_t flip_x, uint8_t flip_y);
void blit_indexed_runs(const uint8_t* indices, const uint16_t* palette, const uint8_t* runs,
                       const uint16_t* row_offsets, int16_t w, int16_t h, int16_t x, int16_t y,
                       int alpha);
// Per-pixel weight from current_alpha_plane, scaled by alpha in blend mode.
void blit_rgb565_alpha(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                       int alpha);
void blit_rgb565_alpha_flip(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                            int alpha, uint8_t flip_x, uint8_t flip_y);
// Run stream of skip/translucent/opaque triples; translucent pixels use the alpha plane.
void blit_rgb565_alpha_runs(const uint16_t* pixels, const uint8_t* runs,
                            const uint16_t* row_offsets, int16_t w, int16_t h, int16_t x,
                            int16_t y, int alpha);

// ---- Glyph kernels (text layers). alpha is a byte; 32 copies, anything else blends. ----

// mask: w x h 16-bit masks; copy mode merges colour bit by bit under the mask.
void blit_glyph_mask(const uint16_t* mask, uint16_t colour, int16_t w, int16_t h, int16_t x,
                     int16_t y, uint8_t alpha);
// pixels: w x h RGB565 values followed by w x h 16-bit masks.
void blit_glyph_masked(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                       uint8_t alpha);
// pixels: w x h RGB565 values followed by w x h 16-bit weights 0..32.
void blit_glyph_weighted(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                         uint8_t alpha);

// ---- Scaled and rotated kernels ----
// pixels is the source (8-bit indices for the indexed kernels, RGB565 otherwise), palette is
// null for RGB565 sources. scale: 1024 = natural size (10-bit fixed point); angle: 512 steps per
// turn, low 9 bits used. The zoom kernels ignore the angle. Every one draws nothing when
// alpha <= 0; the copy kernels ignore any other alpha.
using ScaledKernel = void (*)(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                              int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale);

// Scale about the source centre, clipped to active_clips[current_clip] and the screen.
// zoom_rgb565 copies (ignores alpha and the colour key); zoom_rgb565_blend blends with alpha;
// zoom_rgb565_alpha weights by current_alpha_plane x alpha.
void zoom_rgb565(const void* pixels, const uint16_t* palette, int16_t w, int16_t h, int16_t x,
                 int16_t y, int alpha, int32_t angle, int32_t scale);
void zoom_rgb565_blend(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                       int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale);
void zoom_rgb565_alpha(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                       int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale);

// Rotate by angle and scale by scale / 1024 about the source centre, drawn into a square box
// 1.5 times the scaled size (see rotozoom_setup).
void rotozoom_rgb565_keyed_blend(const void* pixels, const uint16_t* palette, int16_t w,
                                 int16_t h, int16_t x, int16_t y, int alpha, int32_t angle,
                                 int32_t scale);
void rotozoom_indexed_keyed(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                            int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale);
void rotozoom_indexed(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                      int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale);
void rotozoom_indexed_keyed_blend(const void* pixels, const uint16_t* palette, int16_t w,
                                  int16_t h, int16_t x, int16_t y, int alpha, int32_t angle,
                                  int32_t scale);
void rotozoom_indexed_blend(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                            int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale);

// Which kernel draws a scaled or rotated source: one row for each source kind (numbered as the
// Bitmap kinds are: 1 indexed, 2 RGB565, 3 RGB565 with an alpha plane), keyed or opaque, copy
// (alpha 32) or blend (any other alpha above 0). Sources whose row names a zoom kernel are only
// scaled, never rotated, and zoom_rgb565 copies the key colour of a keyed RGB565 source too.
struct ScaledKernelRow {
    int kind;
    bool opaque;  // false: index 0 or colour_key marks transparent pixels
    bool blend;
    ScaledKernel kernel;
};
constexpr int SCALED_KERNEL_ROWS = 12;
extern const ScaledKernelRow scaled_kernel_table[SCALED_KERNEL_ROWS];

// The table's kernel for a source of this kind drawn at alpha, or null when there is nothing to
// draw (alpha <= 0) or no row serves the kind. Called once per draw, never per pixel.
ScaledKernel scaled_kernel_for(int kind, bool opaque, int alpha);

// ---- Rotate-scale state ----
// Written by rotozoom_setup and read by the rotozoom kernels. du, dv: source step per destination
// column (16.16); row_u, row_v: source position of the box's column 0 on the current row (16.16,
// advanced row by row); ru, rv: reciprocals turning source distances (24.8) into pixel counts
// (16.16); bx, by: screen position of the box's top-left corner.
struct RotateScaleState {
    int32_t du, dv;
    int32_t row_u, row_v;
    int32_t ru, rv;
    int16_t bx, by;
};
extern RotateScaleState rotate_scale;

// Fills rotate_scale and visible_box for the square destination box of a w x h source at
// (x, y) rotated by angle and scaled by scale / 1024. Sets current_sprite to -1 first, so sprite
// crop rectangles do not apply. scale must be positive.
void rotozoom_setup(int16_t x, int16_t y, int16_t w, int16_t h, int32_t angle, int32_t scale);
