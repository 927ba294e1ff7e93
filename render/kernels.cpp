#include "render/kernels.h"

#include <algorithm>
#include <cstring>

#include "media/bitmap.h"
#include "render/blend.h"
#include "render/sine_table.h"
#include "render/framebuffer.h"

uint8_t current_clip = 0;
int16_t current_sprite = -1;
ClipRect current_crop = {0, 0, 0, 0};
const uint8_t* current_alpha_plane = nullptr;
VisibleBox visible_box = {0, 0, 0, 0};
RotateScaleState rotate_scale = {0, 0, 0, 0, 0, 0, 0, 0};

namespace {

// The clip rectangle in force, also held to the screen so that a stray rectangle can never
// send a kernel outside the Framebuffer (the compositor already intersects them every frame).
ClipRect effective_clip() {
    ClipRect q = active_clips[current_clip & (CLIP_COUNT - 1)];
    const int bottom = static_cast<int>(screen_height) - 1;
    q.left = static_cast<int16_t>(std::max<int>(q.left, 0));
    q.top = static_cast<int16_t>(std::max<int>(q.top, 0));
    q.right = static_cast<int16_t>(std::min<int>(q.right, SCREEN_WIDTH - 1));
    q.bottom = static_cast<int16_t>(std::min<int>(q.bottom, bottom));
    return q;
}

inline uint16_t* screen_at(int x, int y) { return Framebuffer + y * SCREEN_WIDTH + x; }

// clip_box, then whether anything is visible.
inline bool clip_visible(int16_t x, int16_t y, int16_t w, int16_t h) {
    clip_box(x, y, w, h);
    return visible_box.col_end > visible_box.col_start && visible_box.row_end > visible_box.row_start;
}

}  // namespace

void clip_box(int16_t x, int16_t y, int16_t w, int16_t h) {
    const ClipRect q = effective_clip();
    int col_start = q.left > x ? q.left - x : 0;
    int col_end = x + w > q.right ? q.right - x + 1 : w;
    int row_start = q.top > y ? q.top - y : 0;
    int row_end = y + h > q.bottom ? q.bottom - y + 1 : h;
    if (current_sprite != -1) {
        col_start = std::max<int>(col_start, current_crop.left);
        row_start = std::max<int>(row_start, current_crop.top);
        col_end = std::min<int>(col_end, current_crop.right + 1);
        row_end = std::min<int>(row_end, current_crop.bottom + 1);
    }
    // A start beyond 32767 lies past any source; holding it there keeps the box empty.
    visible_box.col_start = static_cast<int16_t>(std::min(col_start, 32767));
    visible_box.row_start = static_cast<int16_t>(std::min(row_start, 32767));
    visible_box.col_end = static_cast<int16_t>(std::max(col_end, -32768));
    visible_box.row_end = static_cast<int16_t>(std::max(row_end, -32768));
}

namespace {

// ---- Row rules shared by the unscaled kernels ----

inline void blend_row(uint16_t* dst, const uint16_t* src, int n, uint32_t a) {
    blend_rgb565_row(dst, src, n, a);
}

// Weight of a per-pixel-alpha source pixel: the plane byte in copy mode, scaled by alpha in
// blend mode, taken as a signed 16-bit number.
inline int16_t plane_weight(uint8_t p, int alpha, bool blend) {
    return blend ? static_cast<int16_t>((p * alpha) >> 5) : static_cast<int16_t>(p);
}

// f = 32 copies, f = 0 leaves the pixel, anything else blends with f.
inline void weighted_pixel(uint16_t& dst, uint16_t src, int16_t f) {
    if (f == 32)
        dst = src;
    else if (f != 0)
        dst = blend_rgb565(dst, src, static_cast<uint32_t>(static_cast<int32_t>(f)));
}

// The common walk of the unscaled kernels over visible_box, with the source row and column
// possibly running backwards. op(dst, source_index) applies the pixel rule. The mirrored column
// walk starts at flip_col; destination rows and columns always advance.
template <typename PixelOp>
inline void box_walk(int16_t w, int16_t x, int16_t y, bool flip_x, bool flip_y, int flip_col,
                     PixelOp op) {
    const VisibleBox b = visible_box;
    const int n = b.col_end - b.col_start;
    for (int j = b.row_start; j < b.row_end; ++j) {
        const int source_row = flip_y ? b.row_end - 1 - (j - b.row_start) : j;
        const ptrdiff_t base = static_cast<ptrdiff_t>(source_row) * w;
        uint16_t* d = screen_at(x + b.col_start, y + j);
        if (flip_x) {
            const ptrdiff_t s = base + flip_col;
            for (int i = 0; i < n; ++i) op(d[i], s - i);
        } else {
            const ptrdiff_t s = base + b.col_start;
            for (int i = 0; i < n; ++i) op(d[i], s + i);
        }
    }
}

// One row of a skip/draw run stream, entered at col_start; span(first, end) is called for each
// visible part of a draw run. Positions and the read offset are 16-bit and wrap, as the offsets
// table is; a row may read up to two bytes past its last count (the stream's guard bytes).
template <typename Span>
inline void walk_pair_row(const uint8_t* runs, uint16_t o, int col_start, int col_end, Span span) {
    uint16_t pos = runs[o];
    o = static_cast<uint16_t>(o + 1);
    uint16_t len;
    if (pos < col_start) {
        bool last_was_skip = true;
        while (pos < col_start) {
            pos = static_cast<uint16_t>(pos + runs[o]);
            o = static_cast<uint16_t>(o + 1);
            last_was_skip = !last_was_skip;
        }
        if (last_was_skip) {
            len = runs[o];
            o = static_cast<uint16_t>(o + 1);
        } else {  // the draw run straddles col_start
            len = static_cast<uint16_t>(pos - col_start);
            pos = static_cast<uint16_t>(col_start);
        }
    } else {
        len = runs[o];
        o = static_cast<uint16_t>(o + 1);
    }
    while (pos < col_end) {
        const uint16_t end = static_cast<uint16_t>(std::min<int>(static_cast<uint16_t>(pos + len), col_end));
        span(pos, end);
        pos = static_cast<uint16_t>(end + runs[o]);
        len = runs[static_cast<uint16_t>(o + 1)];
        o = static_cast<uint16_t>(o + 2);
    }
}

// One row of a skip/translucent/opaque stream. translucent(first, end) and opaque(first, end)
// draw the visible parts of each run.
template <typename Translucent, typename Opaque>
inline void walk_triple_row(const uint8_t* runs, uint16_t o, int col_start, int col_end,
                            Translucent translucent, Opaque opaque) {
    uint16_t pos = runs[o];
    o = static_cast<uint16_t>(o + 1);
    uint16_t t;
    if (pos < col_start) {
        unsigned phase = 2;  // the first byte was a skip
        while (pos < col_start) {
            pos = static_cast<uint16_t>(pos + runs[o]);
            o = static_cast<uint16_t>(o + 1);
            ++phase;
        }
        switch (phase % 3) {
        case 2:  // ended on a skip: a translucent count follows
            t = runs[o];
            o = static_cast<uint16_t>(o + 1);
            break;
        case 0:  // inside a translucent run
            t = static_cast<uint16_t>(pos - col_start);
            pos = static_cast<uint16_t>(col_start);
            break;
        default: {  // inside an opaque run: draw its rest, then go on from the next skip
            const int n = std::min<int>(pos - col_start, col_end - col_start);
            opaque(col_start, col_start + n);
            pos = static_cast<uint16_t>(col_start + n + runs[o]);
            o = static_cast<uint16_t>(o + 1);
            t = runs[o];
            o = static_cast<uint16_t>(o + 1);
            break;
        }
        }
    } else {
        t = runs[o];
        o = static_cast<uint16_t>(o + 1);
    }
    while (pos < col_end) {
        uint16_t end = static_cast<uint16_t>(std::min<int>(static_cast<uint16_t>(pos + t), col_end));
        translucent(pos, end);
        pos = end;
        const uint8_t q = runs[o];
        o = static_cast<uint16_t>(o + 1);
        end = static_cast<uint16_t>(std::min<int>(static_cast<uint16_t>(pos + q), col_end));
        opaque(pos, end);
        pos = static_cast<uint16_t>(end + runs[o]);
        o = static_cast<uint16_t>(o + 1);
        t = runs[o];
        o = static_cast<uint16_t>(o + 1);
    }
}

// Rows of a run kernel: walk(row, dst_row_origin) for each visible row.
template <typename RowWalk>
inline void run_rows(int16_t x, int16_t y, RowWalk walk) {
    const VisibleBox b = visible_box;
    for (int r = b.row_start; r < b.row_end; ++r) walk(r, screen_at(x, y + r));
}

}  // namespace

// ---- Unscaled RGB565 ----

void blit_rgb565(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y, int alpha) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    const VisibleBox b = visible_box;
    const int n = b.col_end - b.col_start;
    if (alpha == 32) {
        if (b.col_start == 0 && b.col_end == SCREEN_WIDTH && w == SCREEN_WIDTH) {
            // Whole screen rows: source and screen rows are contiguous, one block copy.
            const int rows = b.row_end - b.row_start;
            std::memcpy(screen_at(0, y + b.row_start), pixels + b.row_start * SCREEN_WIDTH,
                        sizeof(uint16_t) * SCREEN_WIDTH * rows);
            return;
        }
        for (int j = b.row_start; j < b.row_end; ++j)
            std::memcpy(screen_at(x + b.col_start, y + j),
                        pixels + static_cast<ptrdiff_t>(j) * w + b.col_start, sizeof(uint16_t) * n);
        return;
    }
    for (int j = b.row_start; j < b.row_end; ++j)
        blend_row(screen_at(x + b.col_start, y + j),
                  pixels + static_cast<ptrdiff_t>(j) * w + b.col_start, n, static_cast<uint32_t>(alpha));
}

void blit_rgb565_keyed(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                       int alpha, uint8_t flip_x, uint8_t flip_y) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    const int flip_col = visible_box.col_end - 1;
    if (alpha == 32) {
        box_walk(w, x, y, flip_x, flip_y, flip_col, [pixels](uint16_t& d, ptrdiff_t s) {
            const uint16_t c = pixels[s];
            d = c != colour_key ? c : d;
        });
    } else {
        const uint32_t a = static_cast<uint32_t>(alpha);
        box_walk(w, x, y, flip_x, flip_y, flip_col, [pixels, a](uint16_t& d, ptrdiff_t s) {
            const uint16_t c = pixels[s];
            d = c != colour_key ? blend_rgb565(d, c, a) : d;
        });
    }
}

void blit_rgb565_runs(const uint16_t* pixels, const uint8_t* runs, const uint16_t* row_offsets,
                      int16_t w, int16_t h, int16_t x, int16_t y, int alpha) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    const int cs = visible_box.col_start, ce = visible_box.col_end;
    const bool copy = alpha == 32;
    const uint32_t a = static_cast<uint32_t>(alpha);
    run_rows(x, y, [&](int r, uint16_t* d) {
        const uint16_t* s = pixels + static_cast<ptrdiff_t>(r) * w;
        walk_pair_row(runs, row_offsets[r], cs, ce, [&](int first, int end) {
            if (copy)
                std::memcpy(d + first, s + first, sizeof(uint16_t) * (end - first));
            else
                blend_row(d + first, s + first, end - first, a);
        });
    });
}

// ---- Unscaled indexed ----

void blit_indexed(const uint8_t* indices, const uint16_t* palette, int16_t w, int16_t h,
                  int16_t x, int16_t y, int alpha) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    if (alpha == 32) {
        box_walk(w, x, y, false, false, 0,
                 [indices, palette](uint16_t& d, ptrdiff_t s) { d = palette[indices[s]]; });
    } else {
        const uint32_t a = static_cast<uint32_t>(alpha);
        box_walk(w, x, y, false, false, 0, [indices, palette, a](uint16_t& d, ptrdiff_t s) {
            d = blend_rgb565(d, palette[indices[s]], a);
        });
    }
}

void blit_indexed_keyed(const uint8_t* indices, const uint16_t* palette, int16_t w, int16_t h,
                        int16_t x, int16_t y, int alpha, uint8_t flip_x, uint8_t flip_y) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    // Mirrors about the full source width, not the visible window.
    const int flip_col = w - 1 - visible_box.col_start;
    if (alpha == 32) {
        box_walk(w, x, y, flip_x, flip_y, flip_col, [indices, palette](uint16_t& d, ptrdiff_t s) {
            const uint8_t k = indices[s];
            if (k != 0) d = palette[k];
        });
    } else {
        const uint32_t a = static_cast<uint32_t>(alpha);
        box_walk(w, x, y, flip_x, flip_y, flip_col,
                 [indices, palette, a](uint16_t& d, ptrdiff_t s) {
                     const uint8_t k = indices[s];
                     if (k != 0) d = blend_rgb565(d, palette[k], a);
                 });
    }
}

void blit_indexed_runs(const uint8_t* indices, const uint16_t* palette, const uint8_t* runs,
                       const uint16_t* row_offsets, int16_t w, int16_t h, int16_t x, int16_t y,
                       int alpha) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    const int cs = visible_box.col_start, ce = visible_box.col_end;
    const bool copy = alpha == 32;
    const uint32_t a = static_cast<uint32_t>(alpha);
    run_rows(x, y, [&](int r, uint16_t* d) {
        const uint8_t* s = indices + static_cast<ptrdiff_t>(r) * w;
        walk_pair_row(runs, row_offsets[r], cs, ce, [&](int first, int end) {
            if (copy) {
                for (int i = first; i < end; ++i) d[i] = palette[s[i]];
            } else {
                for (int i = first; i < end; ++i) d[i] = blend_rgb565(d[i], palette[s[i]], a);
            }
        });
    });
}

// ---- Unscaled RGB565 with alpha plane ----

void blit_rgb565_alpha(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                       int alpha) {
    blit_rgb565_alpha_flip(pixels, w, h, x, y, alpha, 0, 0);
}

void blit_rgb565_alpha_flip(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                            int alpha, uint8_t flip_x, uint8_t flip_y) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    const uint8_t* plane = current_alpha_plane;
    const bool blend = alpha != 32;
    box_walk(w, x, y, flip_x, flip_y, visible_box.col_end - 1,
             [pixels, plane, alpha, blend](uint16_t& d, ptrdiff_t s) {
                 weighted_pixel(d, pixels[s], plane_weight(plane[s], alpha, blend));
             });
}

void blit_rgb565_alpha_runs(const uint16_t* pixels, const uint8_t* runs,
                            const uint16_t* row_offsets, int16_t w, int16_t h, int16_t x,
                            int16_t y, int alpha) {
    if (alpha <= 0) return;
    if (!clip_visible(x, y, w, h)) return;
    const int cs = visible_box.col_start, ce = visible_box.col_end;
    const uint8_t* plane = current_alpha_plane;
    const bool blend = alpha != 32;
    const uint32_t a = static_cast<uint32_t>(alpha);
    run_rows(x, y, [&](int r, uint16_t* d) {
        const ptrdiff_t base = static_cast<ptrdiff_t>(r) * w;
        const uint16_t* s = pixels + base;
        const uint8_t* p = plane + base;
        walk_triple_row(
            runs, row_offsets[r], cs, ce,
            [&](int first, int end) {
                // Translucent pixels are always blended, even at weight 0 or 32.
                for (int i = first; i < end; ++i) {
                    const int16_t f = plane_weight(p[i], alpha, blend);
                    d[i] = blend_rgb565(d[i], s[i], static_cast<uint32_t>(static_cast<int32_t>(f)));
                }
            },
            [&](int first, int end) {
                if (!blend)
                    std::memcpy(d + first, s + first, sizeof(uint16_t) * (end - first));
                else
                    blend_row(d + first, s + first, end - first, a);
            });
    });
}

// ---- Glyph kernels ----

void blit_glyph_mask(const uint16_t* mask, uint16_t colour, int16_t w, int16_t h, int16_t x,
                     int16_t y, uint8_t alpha) {
    if (!clip_visible(x, y, w, h)) return;
    if (alpha == 32) {
        box_walk(w, x, y, false, false, 0, [mask, colour](uint16_t& d, ptrdiff_t s) {
            const uint16_t m = mask[s];
            d = static_cast<uint16_t>((d & ~m) | (colour & m));
        });
    } else {
        box_walk(w, x, y, false, false, 0, [mask, colour, alpha](uint16_t& d, ptrdiff_t s) {
            if (mask[s] != 0) d = blend_rgb565(d, colour, alpha);
        });
    }
}

void blit_glyph_masked(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                       uint8_t alpha) {
    if (!clip_visible(x, y, w, h)) return;
    const uint16_t* mask = pixels + static_cast<ptrdiff_t>(w) * h;
    if (alpha == 32) {
        box_walk(w, x, y, false, false, 0, [pixels, mask](uint16_t& d, ptrdiff_t s) {
            const uint16_t m = mask[s];
            d = static_cast<uint16_t>((d & ~m) | (pixels[s] & m));
        });
    } else {
        box_walk(w, x, y, false, false, 0, [pixels, mask, alpha](uint16_t& d, ptrdiff_t s) {
            if (mask[s] != 0) d = blend_rgb565(d, pixels[s], alpha);
        });
    }
}

void blit_glyph_weighted(const uint16_t* pixels, int16_t w, int16_t h, int16_t x, int16_t y,
                         uint8_t alpha) {
    if (!clip_visible(x, y, w, h)) return;
    const uint16_t* weight = pixels + static_cast<ptrdiff_t>(w) * h;
    box_walk(w, x, y, false, false, 0, [pixels, weight, alpha](uint16_t& d, ptrdiff_t s) {
        const int16_t f = static_cast<int16_t>((weight[s] * alpha) >> 5);
        if (f == 32)
            d = pixels[s];
        else
            d = blend_rgb565(d, pixels[s], static_cast<uint32_t>(static_cast<int32_t>(f)));
    });
}

// ---- Scale-only kernels ----

namespace {

// Scales a w x h source about its centre by scale / 1024. Source pixels per destination pixel
// are step = 0x100000 / scale in 10-bit fixed point. The destination is clipped to the current
// clip rectangle, and the extra top-left row and column of a shrunk source, whose last sample
// would fall one pixel past the source, read the source's last row or column instead. Nothing
// is drawn at alpha <= 0.
template <typename PixelOp>
void zoom_walk(int16_t w, int16_t h, int16_t x, int16_t y, int alpha, int32_t scale, PixelOp op) {
    if (alpha <= 0 || scale <= 0 || w <= 0 || h <= 0) return;
    const int64_t ws = static_cast<int64_t>(w) * scale, hs = static_cast<int64_t>(h) * scale;
    int64_t left = x + (w >> 1) - (ws >> 11);
    const int64_t right = left + (ws >> 10);
    int64_t top = y + (h >> 1) - (hs >> 11);
    const int64_t bottom = top + (hs >> 10);
    if (scale <= 1023) {
        --left;
        --top;
    }
    const int64_t step = 0x100000 / scale;
    const ClipRect q = effective_clip();
    const int64_t x0 = std::max<int64_t>(left, q.left), x1 = std::min<int64_t>(right, q.right + 1);
    const int64_t y0 = std::max<int64_t>(top, q.top), y1 = std::min<int64_t>(bottom, q.bottom + 1);
    if (x0 >= x1 || y0 >= y1) return;
    const int64_t last_col = w - 1, last_row = h - 1;
    for (int64_t Y = y0; Y < y1; ++Y) {
        const int64_t row = std::min(((Y - top) * step) >> 10, last_row);
        const ptrdiff_t base = static_cast<ptrdiff_t>(row * w);
        uint16_t* d = screen_at(0, static_cast<int>(Y));
        int64_t sx = (x0 - left) * step;
        for (int64_t X = x0; X < x1; ++X, sx += step)
            op(d[X], base + static_cast<ptrdiff_t>(std::min(sx >> 10, last_col)));
    }
}

}  // namespace

void zoom_rgb565(const void* pixels, const uint16_t*, int16_t w, int16_t h, int16_t x, int16_t y,
                 int alpha, int32_t, int32_t scale) {
    const uint16_t* src = static_cast<const uint16_t*>(pixels);
    zoom_walk(w, h, x, y, alpha, scale, [src](uint16_t& d, ptrdiff_t s) { d = src[s]; });
}

void zoom_rgb565_blend(const void* pixels, const uint16_t*, int16_t w, int16_t h, int16_t x,
                       int16_t y, int alpha, int32_t, int32_t scale) {
    const uint16_t* src = static_cast<const uint16_t*>(pixels);
    const uint32_t a = static_cast<uint32_t>(alpha);
    zoom_walk(w, h, x, y, alpha, scale,
              [src, a](uint16_t& d, ptrdiff_t s) { d = blend_rgb565(d, src[s], a); });
}

void zoom_rgb565_alpha(const void* pixels, const uint16_t*, int16_t w, int16_t h, int16_t x,
                       int16_t y, int alpha, int32_t, int32_t scale) {
    const uint16_t* src = static_cast<const uint16_t*>(pixels);
    const uint8_t* plane = current_alpha_plane;
    zoom_walk(w, h, x, y, alpha, scale, [src, plane, alpha](uint16_t& d, ptrdiff_t s) {
        const uint16_t f = static_cast<uint16_t>((plane[s] * alpha) >> 5);
        if (f == 32)
            d = src[s];
        else if (f != 0)
            d = blend_rgb565(d, src[s], f);
    });
}

// ---- Rotate and scale ----

namespace {

// Products and sums of the set-up wrap at 32 bits.
inline int32_t mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int16_t sine_at(int32_t angle, uint32_t offset) {
    return sine_table[(static_cast<uint32_t>(angle) + offset) & 511u];
}

// Reciprocal 0x10000 / (d >> 8) turning a 24.8 distance into a 16.16 pixel count. Where d >> 8 is
// 0 (a step of 0..255, i.e. 0 or under 1/256 pixel), the same reciprocal is taken from the full
// step, 0x1000000 / d; a zero step gives 0, which the walk never uses.
inline int32_t step_reciprocal(int32_t d) {
    const int32_t coarse = d >> 8;
    if (coarse != 0) return 0x10000 / coarse;
    return d != 0 ? 0x1000000 / d : 0;
}

// Columns from a point inside [0, limit) along step d before it leaves: the exact bound that
// keeps every sample of a span inside the source.
inline int64_t steps_inside(int64_t p, int64_t d, int64_t limit) {
    if (d > 0) return (limit - 1 - p) / d + 1;
    if (d < 0) return p / -d + 1;
    return INT64_MAX;
}

// The per-row walk shared by the rotozoom kernels, after rotozoom_setup. op(dst, source_index)
// applies the pixel rule; only the one span of each row that hits the source is visited.
template <typename PixelOp>
void rotozoom_walk(int16_t w, int16_t h, int32_t angle, int32_t scale, PixelOp op) {
    const VisibleBox b = visible_box;
    if (b.col_end <= b.col_start || b.row_end <= b.row_start || w <= 0 || h <= 0) return;
    RotateScaleState& st = rotate_scale;
    const int32_t du = st.du, dv = st.dv;
    const int64_t ru = st.ru, rv = st.rv;
    // At angle 0 a shrunk source widens each span by nearly a pixel, so that its last column
    // and row, which fall between samples, are still reached.
    int64_t eu = 0, ev = 0;
    if (angle == 0 && scale <= 1023) {
        eu = ru - 1;
        ev = rv - 1;
    }
    const int64_t U = static_cast<int64_t>(w) << 16, V = static_cast<int64_t>(h) << 16;
    const int64_t w8 = static_cast<int64_t>(w) << 8, h8 = static_cast<int64_t>(h) << 8;
    for (int j = b.row_start; j < b.row_end; ++j) {
        int64_t i = b.col_start;
        int32_t u = add32(st.row_u, mul32(du, b.col_start));
        int32_t v = add32(st.row_v, mul32(dv, b.col_start));
        auto outside = [&] { return u < 0 || u >= U || v < 0 || v >= V; };
        bool hit = true;
        if (outside()) {
            int64_t su = 0, sv = 0;
            if (u < 0 && du > 0)
                su = (-static_cast<int64_t>(u >> 8) * ru) >> 16;
            else if (u >= U && du < 0)
                su = ((w8 - (u >> 8)) * ru) >> 16;
            if (v < 0 && dv > 0)
                sv = (-static_cast<int64_t>(v >> 8) * rv) >> 16;
            else if (v >= V && dv < 0)
                sv = ((h8 - (v >> 8)) * rv) >> 16;
            const int64_t n = std::max(su, sv);
            if (n > b.col_end - i) {
                hit = false;  // the entry lies past the box
            } else {
                i += n;
                u = add32(u, mul32(du, static_cast<int32_t>(n)));
                v = add32(v, mul32(dv, static_cast<int32_t>(n)));
                for (int k = 0; k < 2 && outside(); ++k) {
                    ++i;
                    u = add32(u, du);
                    v = add32(v, dv);
                }
                hit = !outside();
            }
        }
        if (hit) {
            const int64_t nu = du > 0   ? ((w8 - (u >> 8) + eu) * ru) >> 16
                               : du < 0 ? ((-static_cast<int64_t>(u >> 8) - eu) * ru) >> 16
                                        : 1000000;
            const int64_t nv = dv > 0   ? ((h8 - (v >> 8) + ev) * rv) >> 16
                               : dv < 0 ? ((-static_cast<int64_t>(v >> 8) - ev) * rv) >> 16
                                        : 10000;
            int64_t n = std::min({nu, nv, static_cast<int64_t>(b.col_end) - i});
            // The estimate above rounds its reciprocals; never let it sample outside the source.
            n = std::min({n, steps_inside(u, du, U), steps_inside(v, dv, V)});
            uint16_t* d = screen_at(st.bx + static_cast<int>(i), st.by + j);
            for (int64_t k = 0; k < n; ++k) {
                op(d[k], static_cast<ptrdiff_t>(v >> 16) * w + (u >> 16));
                u = add32(u, du);
                v = add32(v, dv);
            }
        }
        st.row_u = sub32(st.row_u, dv);
        st.row_v = add32(st.row_v, du);
    }
}

// A rotozoom kernel's whole draw: nothing at alpha <= 0, else the set-up and the walk.
template <typename PixelOp>
void rotozoom_draw(int16_t w, int16_t h, int16_t x, int16_t y, int alpha, int32_t angle,
                   int32_t scale, PixelOp op) {
    if (alpha <= 0) return;
    rotozoom_setup(x, y, w, h, angle, scale);
    rotozoom_walk(w, h, angle, scale, op);
}

}  // namespace

void rotozoom_setup(int16_t x, int16_t y, int16_t w, int16_t h, int32_t angle, int32_t scale) {
    current_sprite = -1;
    RotateScaleState& st = rotate_scale;
    if (scale <= 0 || w <= 0 || h <= 0) {  // nothing to draw; keeps 0x40000 / scale defined
        st = RotateScaleState{0, 0, 0, 0, 0, 0, x, y};
        visible_box = VisibleBox{0, 0, 0, 0};
        return;
    }
    const int32_t s = std::max(mul32(w, scale) >> 10, mul32(h, scale) >> 10);
    const int32_t box = std::min(s + (s >> 1), 32767);  // side of the square destination box
    st.bx = static_cast<int16_t>(x + (w >> 1) - (box >> 1));
    st.by = static_cast<int16_t>(y + (h >> 1) - (box >> 1));
    clip_box(st.bx, st.by, static_cast<int16_t>(box), static_cast<int16_t>(box));
    // 16.16 source step per destination column: (1024 / scale) x (cos, sin), with the sine in 8.8.
    const int32_t inv = 0x40000 / scale;
    st.du = mul32(inv, sine_at(angle, 128));
    st.dv = mul32(inv, sine_at(angle, 0));
    // Half the box diagonal in 16.16 source units: 1448 / 256 approximates 4 sqrt 2, and the
    // >> 2 below takes the 4 back out with the sine's 8.8 scaling.
    const int32_t k = mul32(((box >> 1) * 1448) >> 8, inv);
    st.row_u = sub32(sub32(w << 15, mul32(k, sine_at(angle, 192)) >> 2),
                     mul32(st.dv, visible_box.row_start));
    st.row_v = add32(sub32(h << 15, mul32(k, sine_at(angle, 64)) >> 2),
                     mul32(st.du, visible_box.row_start));
    st.ru = step_reciprocal(st.du);
    st.rv = step_reciprocal(st.dv);
}

void rotozoom_indexed_keyed(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                            int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale) {
    const uint8_t* src = static_cast<const uint8_t*>(pixels);
    rotozoom_draw(w, h, x, y, alpha, angle, scale, [src, palette](uint16_t& d, ptrdiff_t s) {
        const uint8_t k = src[s];
        if (k != 0) d = palette[k];
    });
}

void rotozoom_indexed(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                      int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale) {
    const uint8_t* src = static_cast<const uint8_t*>(pixels);
    rotozoom_draw(w, h, x, y, alpha, angle, scale,
                  [src, palette](uint16_t& d, ptrdiff_t s) { d = palette[src[s]]; });
}

void rotozoom_indexed_keyed_blend(const void* pixels, const uint16_t* palette, int16_t w,
                                  int16_t h, int16_t x, int16_t y, int alpha, int32_t angle,
                                  int32_t scale) {
    const uint8_t* src = static_cast<const uint8_t*>(pixels);
    const uint32_t a = static_cast<uint32_t>(alpha);
    rotozoom_draw(w, h, x, y, alpha, angle, scale, [src, palette, a](uint16_t& d, ptrdiff_t s) {
        const uint8_t k = src[s];
        if (k != 0) d = blend_rgb565(d, palette[k], a);
    });
}

void rotozoom_indexed_blend(const void* pixels, const uint16_t* palette, int16_t w, int16_t h,
                            int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale) {
    const uint8_t* src = static_cast<const uint8_t*>(pixels);
    const uint32_t a = static_cast<uint32_t>(alpha);
    rotozoom_draw(w, h, x, y, alpha, angle, scale, [src, palette, a](uint16_t& d, ptrdiff_t s) {
        d = blend_rgb565(d, palette[src[s]], a);
    });
}

void rotozoom_rgb565_keyed_blend(const void* pixels, const uint16_t*, int16_t w, int16_t h,
                                 int16_t x, int16_t y, int alpha, int32_t angle, int32_t scale) {
    const uint16_t* src = static_cast<const uint16_t*>(pixels);
    const uint32_t a = static_cast<uint32_t>(alpha);
    rotozoom_draw(w, h, x, y, alpha, angle, scale, [src, a](uint16_t& d, ptrdiff_t s) {
        const uint16_t c = src[s];
        if (c != colour_key) d = blend_rgb565(d, c, a);
    });
}

const ScaledKernelRow scaled_kernel_table[SCALED_KERNEL_ROWS] = {
    // kind  opaque  blend  kernel
    {1, false, false, rotozoom_indexed_keyed},
    {1, true, false, rotozoom_indexed},
    {1, false, true, rotozoom_indexed_keyed_blend},
    {1, true, true, rotozoom_indexed_blend},
    {2, false, false, zoom_rgb565},
    {2, true, false, zoom_rgb565},
    {2, false, true, rotozoom_rgb565_keyed_blend},
    {2, true, true, zoom_rgb565_blend},
    // The alpha-plane kernel weights each pixel by its plane byte, keyed or not, copy or blend.
    {3, false, false, zoom_rgb565_alpha},
    {3, true, false, zoom_rgb565_alpha},
    {3, false, true, zoom_rgb565_alpha},
    {3, true, true, zoom_rgb565_alpha},
};

ScaledKernel scaled_kernel_for(int kind, bool opaque, int alpha) {
    if (alpha <= 0) return nullptr;
    const bool blend = alpha != 32;
    for (const ScaledKernelRow& row : scaled_kernel_table)
        if (row.kind == kind && row.opaque == opaque && row.blend == blend) return row.kernel;
    return nullptr;
}
