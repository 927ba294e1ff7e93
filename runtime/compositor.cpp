// The compositor: effective clips, background fill, per-depth lists, then for every depth from
// back to front its layers, its sprites and the fade. The lists are two fixed arrays of heads and
// links rebuilt every frame, so a frame allocates nothing and scans only the used slot range.
#include "runtime/compositor.h"

#include "render/layers.h"
#include "render/framebuffer.h"

int16_t depth_sprite_head[DEPTH_COUNT];
int16_t sprite_next[SPRITE_SLOTS];
int8_t depth_layer_head[DEPTH_COUNT];
int8_t layer_next[LAYER_COUNT];

namespace {

int16_t max16(int16_t a, int16_t b) { return a > b ? a : b; }
int16_t min16(int16_t a, int16_t b) { return a < b ? a : b; }

// The screen clip as drawn: also held inside the physical screen, since the kernels trust the
// active clips never to reach outside the Framebuffer.
ClipRect bounded_screen_clip() {
    return ClipRect{max16(screen_clip.left, 0), max16(screen_clip.top, 0),
                    min16(screen_clip.right, SCREEN_WIDTH - 1),
                    min16(screen_clip.bottom, static_cast<int16_t>(screen_height - 1))};
}

void fill_background(const ClipRect& r) {
    if (r.bottom < r.top || r.right < r.left) return;
    const uint16_t c = background_colour;
    if (r.left == 0 && r.right == SCREEN_WIDTH - 1) {
        // Whole rows are one contiguous run; the compiler turns this into wide stores.
        uint16_t* p = Framebuffer + r.top * SCREEN_WIDTH;
        uint16_t* end = Framebuffer + (r.bottom + 1) * SCREEN_WIDTH;
        while (p < end) *p++ = c;
        return;
    }
    for (int32_t y = r.top; y <= r.bottom; ++y) {
        uint16_t* row = Framebuffer + y * SCREEN_WIDTH;
        for (int32_t x = r.left; x <= r.right; ++x) row[x] = c;
    }
}

}  // namespace

void compose(uint16_t first_depth, uint16_t last_depth) {
    const ClipRect screen = bounded_screen_clip();
    for (int i = 0; i < CLIP_COUNT; ++i) {
        const ClipRect& c = clip_rects[i];
        active_clips[i] = ClipRect{max16(c.left, screen.left), max16(c.top, screen.top),
                                   min16(c.right, screen.right), min16(c.bottom, screen.bottom)};
    }
    if (background_fill) fill_background(screen);

    // Depths past the back of the table are drawn as the back (1023); a first depth past it
    // draws nothing.
    if (first_depth >= DEPTH_COUNT) return;
    if (last_depth >= DEPTH_COUNT) last_depth = DEPTH_COUNT - 1;
    for (int d = first_depth; d < DEPTH_COUNT; ++d) {
        depth_sprite_head[d] = -1;
        depth_layer_head[d] = -1;
    }

    // Each list gets the highest number first, so a lower number is drawn later (in front).
    // Depths outside 0..1023 have no list: such sprites and layers are not drawn.
    // The span of depths that hold anything this frame, so the drawing pass skips the empty
    // ones (most of the 1024 in a typical frame).
    int used_front = DEPTH_COUNT, used_back = -1;
    auto note_depth = [&](int d) {
        if (d < used_front) used_front = d;
        if (d > used_back) used_back = d;
    };
    const int32_t low = sprite_low < 0 ? 0 : sprite_low;
    const int32_t high = sprite_high >= SPRITE_SLOTS ? SPRITE_SLOTS - 1 : sprite_high;
    for (int32_t i = low; i <= high; ++i) {
        const SpriteSlot* s = SpriteTable[i];
        if (!s || !s->active || s->alpha <= 0 || s->scale == 0) continue;
        if (s->depth < first_depth || s->depth >= DEPTH_COUNT) continue;
        sprite_next[i] = depth_sprite_head[s->depth];
        depth_sprite_head[s->depth] = static_cast<int16_t>(i);
        note_depth(s->depth);
    }
    for (int j = 0; j < LAYER_COUNT; ++j) {
        const LayerSlot& l = LayerTable[j];
        if (!l.in_use || l.alpha <= 0) continue;
        if (l.depth < first_depth || l.depth >= DEPTH_COUNT) continue;
        layer_next[j] = depth_layer_head[l.depth];
        depth_layer_head[l.depth] = static_cast<int8_t>(j);
        note_depth(l.depth);
    }

    if (fade_level != 32 && fade_depth < DEPTH_COUNT) note_depth(fade_depth);
    const int back = used_back < last_depth ? used_back : last_depth;
    const int front = used_front > first_depth ? used_front : first_depth;
    for (int k = back; k >= front; --k) {
        for (int j = depth_layer_head[k]; j >= 0; j = layer_next[j]) layer_draw(j);
        for (int i = depth_sprite_head[k]; i >= 0; i = sprite_next[i]) sprite_draw(static_cast<int16_t>(i));
        if (k == fade_depth && fade_level != 32) fade_overlay();
    }
}
