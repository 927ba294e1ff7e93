// Vector primitive lists: a doubly linked list of nodes per layer, drawn by the layer's hook.
// Lines are clipped in 10-bit fixed point and anti-aliased with a 16-bit Wu accumulator; boxes
// and gradients clip through clip_box; circles use the midpoint algorithm.
#include "runtime/primitives.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "render/blend.h"
#include "render/colour_key.h"  // a box border, box fill or circle fill of this colour is not drawn
#include "render/kernels.h"
#include "render/layers.h"
#include "render/framebuffer.h"
#include "runtime/sprites.h"

namespace {

bool valid_layer(uint8_t layer) { return layer < LAYER_COUNT; }

void free_list(PrimitiveNode* node) {
    while (node) {
        PrimitiveNode* next = node->next;
        std::free(node);
        node = next;
    }
}

// Screen bounds of a line: the screen clip, kept inside the physical screen so that a screen clip
// set beyond the Framebuffer can never let a line write outside it.
struct Bounds {
    int32_t left, top, right, bottom;
};

Bounds line_bounds() {
    Bounds b{screen_clip.left, screen_clip.top, screen_clip.right, screen_clip.bottom};
    if (b.left < 0) b.left = 0;
    if (b.top < 0) b.top = 0;
    if (b.right > SCREEN_WIDTH - 1) b.right = SCREEN_WIDTH - 1;
    if (b.bottom > screen_height - 1) b.bottom = screen_height - 1;
    return b;
}

// One line pixel with weight w (0..32); the bounds test is a guard against rounding at the clip
// edges, not the clipping itself.
inline void plot(const Bounds& b, int32_t x, int32_t y, uint16_t colour, int32_t w) {
    if (x < b.left || x > b.right || y < b.top || y > b.bottom || w <= 0) return;
    uint16_t& p = Framebuffer[y * SCREEN_WIDTH + x];
    p = w >= 32 ? colour : blend_rgb565(p, colour, w);
}

// Clips the segment (already ordered so that y0 <= y1) to b. Returns false when nothing is left.
// 64-bit arithmetic keeps far-off coordinates from overflowing; for on-screen lengths the values
// equal the 32-bit ones.
bool clip_line(const Bounds& b, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) {
    if (x0 == x1) {
        if (x0 < b.left || x0 > b.right || y1 < b.top || y0 > b.bottom) return false;
        if (y0 < b.top) y0 = b.top;
        if (y1 > b.bottom) y1 = b.bottom;
        return true;
    }
    // Slope in 10-bit fixed point and the intercept: y(x) = (x * m + q) >> 10.
    const int64_t m = ((y0 - y1) * 1024) / (x0 - x1);
    const int64_t q = y0 * 1024 - x0 * m;
    auto y_at = [&](int64_t x) { return (x * m + q) >> 10; };
    if ((x0 < b.left && x1 < b.left) || (x0 > b.right && x1 > b.right)) return false;
    if (x0 < b.left) { x0 = b.left; y0 = y_at(x0); }
    if (x1 < b.left) { x1 = b.left; y1 = y_at(x1); }
    if (x0 > b.right) { x0 = b.right; y0 = y_at(x0); }
    if (x1 > b.right) { x1 = b.right; y1 = y_at(x1); }
    if ((y0 < b.top && y1 < b.top) || (y0 > b.bottom && y1 > b.bottom)) return false;
    // x at row y. A slope that rounds to 0 (a nearly flat line over 1024 pixels long) has no
    // usable fixed-point inverse; the row is then found from the two current endpoints, whose
    // rows differ since the line crosses this edge.
    auto x_at = [&](int64_t y) {
        if (m != 0) return (y * 1024 - q) / m;
        return x0 + ((y - y0) * (x1 - x0)) / (y1 - y0);
    };
    if (y0 < b.top) {
        if (x0 != x1) x0 = x_at(b.top);
        y0 = b.top;
    }
    if (y1 > b.bottom) {
        if (x0 != x1) x1 = x_at(b.bottom);
        y1 = b.bottom;
    }
    return true;
}

void draw_line(const PrimitiveNode& n, int32_t a) {
    int64_t x0 = n.x0, y0 = n.y0, x1 = n.x1, y1 = n.y1;
    if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const Bounds b = line_bounds();
    if (!clip_line(b, x0, y0, x1, y1)) return;
    // Weights below are 0..32; a translucent line scales each by A / 32.
    auto weight = [a](int32_t w) { return a >= 32 ? w : (w * a) >> 5; };
    const uint16_t c = n.colour;
    int32_t x = static_cast<int32_t>(x0), y = static_cast<int32_t>(y0);
    const int32_t ex = static_cast<int32_t>(x1), ey = static_cast<int32_t>(y1);
    plot(b, x, y, c, weight(32));
    const int32_t dx = ex - x, dy = ey - y;
    const int32_t sx = dx < 0 ? -1 : 1;
    const int32_t adx = dx < 0 ? -dx : dx;
    if (dy == 0) {
        for (int32_t i = 1; i <= adx; ++i) plot(b, x + i * sx, y, c, weight(32));
        return;
    }
    if (dx == 0) {
        for (int32_t i = 1; i <= dy; ++i) plot(b, x, y + i, c, weight(32));
        return;
    }
    if (adx == dy) {
        for (int32_t i = 1; i <= dy; ++i) plot(b, x + i * sx, y + i, c, weight(32));
        return;
    }
    // Wu stepping: acc is the 16-bit fraction of the minor axis; its top 5 bits (k) split the
    // pixel's weight between the two neighbours across the line.
    uint16_t acc = 0;
    if (adx < dy) {
        const uint16_t step = static_cast<uint16_t>((static_cast<uint32_t>(adx) << 16) / dy);
        for (int32_t i = 1; i < dy; ++i) {
            const uint16_t before = acc;
            acc = static_cast<uint16_t>(acc + step);
            if (acc < before) x += sx;
            y += 1;
            const int32_t k = acc >> 11;
            plot(b, x, y, c, weight(32 - k));
            plot(b, x + sx, y, c, weight(k + 1));
        }
    } else {
        const uint16_t step = static_cast<uint16_t>((static_cast<uint32_t>(dy) << 16) / adx);
        for (int32_t i = 1; i < adx; ++i) {
            const uint16_t before = acc;
            acc = static_cast<uint16_t>(acc + step);
            if (acc < before) y += 1;
            x += sx;
            const int32_t k = acc >> 11;
            plot(b, x, y, c, weight(32 - k));
            plot(b, x, y + 1, c, weight(k + 1));
        }
    }
    plot(b, ex, ey, c, weight(32));
}

// Writes (a = 32) or blends columns first..last_exclusive - 1 of screen row y; the caller has
// clipped the span. Plain stores: the compiler merges them into wide writes.
inline void span(int32_t y, int32_t first, int32_t last_exclusive, uint16_t colour, int32_t a) {
    uint16_t* row = Framebuffer + y * SCREEN_WIDTH;
    if (a >= 32) {
        for (int32_t x = first; x < last_exclusive; ++x) row[x] = colour;
    } else {
        for (int32_t x = first; x < last_exclusive; ++x) row[x] = blend_rgb565(row[x], colour, a);
    }
}

// Boxes and gradients pass through clip_box, whose arguments are 16-bit: corners far off the
// screen are pulled in to a range that keeps every visible pixel (and border) where it was.
// Only the clipping uses the pulled-in corners; a gradient's colours come from the real ones.
inline int32_t pull_in(int32_t v) { return v < -4096 ? -4096 : (v > 4095 ? 4095 : v); }

struct BoxGeometry {
    int32_t x0, y0, x1, y1;
    int32_t row_start, row_end, col_start, col_end;  // relative to (x0, y0), end exclusive
};

bool clip_rectangle(int32_t ax, int32_t ay, int32_t bx, int32_t by, BoxGeometry& g) {
    g.x0 = pull_in(ax < bx ? ax : bx);
    g.x1 = pull_in(ax < bx ? bx : ax);
    g.y0 = pull_in(ay < by ? ay : by);
    g.y1 = pull_in(ay < by ? by : ay);
    clip_box(static_cast<int16_t>(g.x0), static_cast<int16_t>(g.y0),
             static_cast<int16_t>(g.x1 - g.x0 + 1), static_cast<int16_t>(g.y1 - g.y0 + 1));
    g.col_start = visible_box.col_start;
    g.col_end = visible_box.col_end;
    g.row_start = visible_box.row_start;
    g.row_end = visible_box.row_end;
    return g.col_end > g.col_start && g.row_end > g.row_start;
}

void draw_box(const PrimitiveNode& n, int32_t a) {
    BoxGeometry g;
    if (!clip_rectangle(n.x0, n.y0, n.x1, n.y1, g)) return;
    const int32_t b = n.size;
    const int32_t w = g.x1 - g.x0, h = g.y1 - g.y0;  // last relative column and row
    if (b > 0 && n.colour2 != colour_key) {
        const uint16_t c = n.colour2;
        const int32_t first_col = g.x0 + g.col_start, end_col = g.x0 + g.col_end;
        for (int32_t r = g.row_start; r < b && r < g.row_end; ++r) span(g.y0 + r, first_col, end_col, c, a);
        for (int32_t col = g.col_start; col < b && col < g.col_end; ++col)
            for (int32_t r = g.row_start + 1; r <= g.row_end - 2; ++r)
                span(g.y0 + r, g.x0 + col, g.x0 + col + 1, c, a);
        for (int32_t r = g.row_end - 1; r > h - b && r >= g.row_start; --r)
            span(g.y0 + r, first_col, end_col, c, a);
        for (int32_t col = g.col_end - 1; col > w - b && col >= g.col_start; --col)
            for (int32_t r = g.row_start + 1; r <= g.row_end - 2; ++r)
                span(g.y0 + r, g.x0 + col, g.x0 + col + 1, c, a);
    }
    if (n.colour != colour_key) {
        const int32_t left = std::max(g.x0 + b, g.x0 + g.col_start);
        const int32_t right = std::min(g.x1 - b + 1, g.x0 + g.col_end);
        const int32_t top = std::max(g.y0 + b, g.y0 + g.row_start);
        const int32_t bottom = std::min(g.y1 - b + 1, g.y0 + g.row_end);
        for (int32_t y = top; y < bottom; ++y) span(y, left, right, n.colour, a);
    }
}

void draw_gradient(const PrimitiveNode& n, int32_t a) {
    if (a != 32) return;  // gradients are drawn only fully opaque
    uint16_t top = n.colour2, bottom = n.colour;
    // The colour given with the upper point is the top colour.
    if (n.y0 > n.y1) std::swap(top, bottom);
    BoxGeometry g;
    if (!clip_rectangle(n.x0, n.y0, n.x1, n.y1, g)) return;
    // The colour ramp follows the corners as given, not the pulled-in ones clip_box saw: a
    // gradient reaching far above the screen is further along its ramp on row 0. The height
    // needs 64 bits (up to 2^32 rows); from 65537 rows on the step is 0 and every row is the top
    // colour. Row offsets times the step stay below 65536, so k is 0..31.
    const int64_t top_y = std::min(n.y0, n.y1);
    const int64_t h = static_cast<int64_t>(std::max(n.y0, n.y1)) - top_y + 1;
    const int64_t step = 65536 / h;  // 16-bit fraction of the height per row
    for (int32_t r = g.row_start; r < g.row_end; ++r) {
        const int32_t y = g.y0 + r;
        const int32_t k = static_cast<int32_t>(((y - top_y) * step) >> 11);
        const uint16_t colour = blend_rgb565(bottom, top, 32 - k);
        span(y, g.x0 + g.col_start, g.x0 + g.col_end, colour, 32);
    }
}

// Midpoint circle. Fill spans first, then the outline, so no span can cover an outline pixel.
// Circles ignore the layer's clip rectangle and are bounded by the screen.
void draw_circle(const PrimitiveNode& n) {
    const int64_t cx = n.x0, cy = n.y0, r = n.size;
    const int64_t bottom = screen_height - 1;
    const bool inside = cx - r >= 0 && cx + r <= SCREEN_WIDTH - 1 && cy - r >= 0 && cy + r <= bottom;
    const bool fill = n.colour != colour_key;

    auto fill_between = [&](int64_t y, int64_t from, int64_t to) {  // both ends excluded
        if (y < 0 || y > bottom) return;
        int64_t first = from + 1, last = to - 1;
        if (first < 0) first = 0;
        if (last > SCREEN_WIDTH - 1) last = SCREEN_WIDTH - 1;
        if (first > last) return;
        span(static_cast<int32_t>(y), static_cast<int32_t>(first), static_cast<int32_t>(last + 1),
             n.colour, 32);
    };
    auto point = [&](int64_t x, int64_t y) {
        if (!inside && (x < 0 || x > SCREEN_WIDTH - 1 || y < 0 || y > bottom)) return;
        Framebuffer[y * SCREEN_WIDTH + x] = n.colour2;
    };

    for (int pass = fill ? 0 : 1; pass < 2; ++pass) {
        const bool outline = pass == 1;
        if (outline) {
            point(cx, cy + r);
            point(cx, cy - r);
            point(cx + r, cy);
            point(cx - r, cy);
        } else {
            fill_between(cy, cx - r, cx + r);
        }
        int64_t d = 1 - r, y = r;
        for (int64_t x = 1;; ++x) {
            bool y_changed = false;
            if (d < 0) {
                d += 2 * x + 1;
            } else {
                y -= 1;
                d += 2 * (x - y) + 1;
                y_changed = true;
            }
            if (outline) {
                if (x < y) {
                    point(cx + x, cy + y); point(cx - x, cy + y);
                    point(cx + x, cy - y); point(cx - x, cy - y);
                    point(cx + y, cy + x); point(cx - y, cy + x);
                    point(cx + y, cy - x); point(cx - y, cy - x);
                } else if (x == y) {
                    point(cx + x, cy + y); point(cx - x, cy + y);
                    point(cx + x, cy - y); point(cx - x, cy - y);
                }
            } else {
                if (x < y) {
                    fill_between(cy + x, cx - y, cx + y);
                    fill_between(cy - x, cx - y, cx + y);
                }
                // A row at distance y is filled once, in the step that reaches it; a row below x
                // was already filled as a row at distance x.
                if (y_changed && x <= y) {
                    fill_between(cy + y, cx - x, cx + x);
                    fill_between(cy - y, cx - x, cx + x);
                }
            }
            if (x >= y) break;
        }
    }
}

}  // namespace

void primitives_attach(uint8_t layer) {
    layer_hook = primitives_draw;
    if (!valid_layer(layer)) return;
    LayerSlot& slot = LayerTable[layer];
    // A list left on a freed slot is released too, not dropped.
    free_list(slot.primitives);
    slot.primitives = nullptr;
    if (!slot.in_use) {
        slot.in_use = 1;
        slot.kind = LAYER_PRIMITIVES;
        slot.alpha = 32;
        slot.depth = layer;
        // Like every other layer creation, a claimed slot starts on clip rectangle 0 rather
        // than whatever its previous use left there.
        slot.clip_index = 0;
        slot.x = 0;
        slot.y = 0;
    }
}

PrimitiveNode* primitive_new(uint8_t layer) {
    if (!valid_layer(layer)) return nullptr;
    auto* node = static_cast<PrimitiveNode*>(std::calloc(1, sizeof(PrimitiveNode)));
    if (!node) return nullptr;
    node->layer = layer;
    PrimitiveNode** link = &LayerTable[layer].primitives;
    PrimitiveNode* last = nullptr;
    while (*link) {
        last = *link;
        link = &last->next;
    }
    node->prev = last;
    *link = node;
    return node;
}

namespace {
PrimitiveNode* make(uint8_t layer, uint8_t shape, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    uint16_t colour, uint16_t colour2, uint8_t size, uint8_t alpha) {
    PrimitiveNode* node = primitive_new(layer);
    if (!node) return nullptr;
    node->shape = shape;
    node->x0 = x0;
    node->y0 = y0;
    node->x1 = x1;
    node->y1 = y1;
    node->colour = colour;
    node->colour2 = colour2;
    node->size = size;
    node->alpha = alpha;
    return node;
}
}  // namespace

PrimitiveNode* primitive_line(uint8_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                              uint16_t colour, uint8_t alpha) {
    return make(layer, PRIMITIVE_LINE, x0, y0, x1, y1, colour, 0, 0, alpha);
}

PrimitiveNode* primitive_box(uint8_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             uint8_t border_width, uint16_t border_colour, uint16_t fill_colour,
                             uint8_t alpha) {
    return make(layer, PRIMITIVE_BOX, x0, y0, x1, y1, fill_colour, border_colour, border_width, alpha);
}

PrimitiveNode* primitive_gradient(uint8_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                  uint16_t top_colour, uint16_t bottom_colour, uint8_t alpha) {
    return make(layer, PRIMITIVE_GRADIENT, x0, y0, x1, y1, bottom_colour, top_colour, 0, alpha);
}

PrimitiveNode* primitive_circle(uint8_t layer, int32_t cx, int32_t cy, int16_t radius,
                                uint16_t outline_colour, uint16_t fill_colour, uint8_t alpha) {
    return make(layer, PRIMITIVE_CIRCLE, cx, cy, 0, 0, fill_colour, outline_colour,
                static_cast<uint8_t>(radius), alpha);
}

void primitives_clear(uint8_t layer) {
    if (!valid_layer(layer)) return;
    PrimitiveNode* head = LayerTable[layer].primitives;
    LayerTable[layer].primitives = nullptr;
    free_list(head);
}

void primitive_remove(PrimitiveNode* node) {
    if (!node) return;
    if (node->prev) node->prev->next = node->next;
    if (node->next) node->next->prev = node->prev;
    // The first node: the layer's head moves on to the second.
    if (!node->prev && valid_layer(node->layer) && LayerTable[node->layer].primitives == node)
        LayerTable[node->layer].primitives = node->next;
    std::free(node);
}

void primitives_draw(uint8_t layer) {
    if (!valid_layer(layer)) return;
    const LayerSlot& slot = LayerTable[layer];
    if (slot.clip_index >= CLIP_COUNT) return;
    current_clip = slot.clip_index;
    current_sprite = -1;
    for (const PrimitiveNode* node = slot.primitives; node; node = node->next) {
        // Node and layer opacity combine; a layer alpha above 32 is held at full weight.
        int32_t a = static_cast<int16_t>((node->alpha * slot.alpha) >> 5);
        if (a <= 0) continue;
        if (a > 32) a = 32;
        switch (node->shape) {
            case PRIMITIVE_LINE: draw_line(*node, a); break;
            case PRIMITIVE_BOX: draw_box(*node, a); break;
            case PRIMITIVE_GRADIENT: draw_gradient(*node, a); break;
            case PRIMITIVE_CIRCLE: draw_circle(*node); break;
            default: break;
        }
    }
}
