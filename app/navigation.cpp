// Zoom navigation and animation. Every animation step renders one frame and yields; the frame
// counts of each animation at the speeds 0.5, 1 and 2 follow from the step rules below (the
// zooms land exactly on 40 and 240 at all three speeds).
#include "app/navigation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/fades.h"
#include "app/mosaic.h"
#include "app/poster_key.h"
#include "app/viewer_pack.h"
#include "app/progress.h"
#include "media/bitmap.h"
#include "render/blend.h"
#include "render/layers.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/sprites.h"

uint8_t auto_mode = 0;
uint8_t leave_key_noted = 0;
float speed_factor = 0.5f;
const float speed_table[3] = {0.5f, 1.0f, 2.0f};

namespace {

void set_alpha(int slot, int16_t alpha) {
    if (SpriteTable[slot]) SpriteTable[slot]->alpha = alpha;
}

// The surface button rewinds only while navigate waits at zoom 8 or 40; elsewhere it is shown
// dimmed. The screen under the buttons is not cleared while viewing, so a button drawn
// translucent blends over its own last image every frame and soon looks fully active. The
// dimmed look is therefore its own palette, halfway to black (how alpha 16 looks over the black
// below it), drawn opaque. HIDDEN draws nothing and leaves the last image on the screen.
enum SurfaceLook { SURFACE_HIDDEN, SURFACE_DIMMED, SURFACE_ACTIVE };
void surface_button_look(SurfaceLook look) {
    SpriteSlot* slot = SpriteTable[SURFACE_BUTTON];
    if (!slot) return;
    static uint16_t dimmed[256];
    static const uint16_t* active = nullptr;
    if (slot->kind == BITMAP_INDEXED8 && slot->palette && slot->palette != dimmed) {
        active = slot->palette;  // a new button bitmap since the last call
        for (int i = 0; i < 256; ++i) dimmed[i] = blend_rgb565(active[i], 0x0000, 16);
    }
    if (look == SURFACE_HIDDEN) {
        slot->alpha = 0;
    } else if (slot->kind == BITMAP_INDEXED8 && active) {
        slot->palette = look == SURFACE_DIMMED ? dimmed : active;
        slot->alpha = 32;
    } else {
        slot->alpha = look == SURFACE_DIMMED ? 16 : 32;
    }
}

// Right Shift counts from the frame it is pressed until the next exit test, even when that
// test comes only after an animation or in auto mode, where no wait looks at the keys.
bool leave_key() { return leave_key_noted || key_pressed[KEY_RSHIFT]; }

bool exit_requested() { return sprite_hit_rect(EXIT_BUTTON) || leave_key(); }

// The first surface ends the menus: from here on the viewer draws straight into the screen.
void first_surface_shown() {
    fade_in(4);
    draw_target = Framebuffer;
    LayerTable[15].alpha = 0;
    set_alpha(EXIT_BUTTON, 0);
    surface_button_look(SURFACE_HIDDEN);
}

}  // namespace

void speed_cycle() {
    SpriteSlot* button = SpriteTable[SPEED_BUTTON];
    const int k = ((button ? button->frame : 0) + 1) % 3;
    speed_factor = speed_table[k];
    if (button) button->frame = static_cast<int16_t>(k);
}

void auto_toggle() {
    auto_mode = !auto_mode;
    if (SpriteTable[AUTO_BUTTON]) SpriteTable[AUTO_BUTTON]->frame = auto_mode;
}

void note_leave_key() {
    if (key_pressed[KEY_RSHIFT]) leave_key_noted = 1;
}

void viewer_frame_hook() {
    note_leave_key();
    poster_key_frame();
    if (!pen_state.pressed) return;
    if (sprite_hit_rect(SPEED_BUTTON)) speed_cycle();
    if (pen_state.pressed && sprite_hit_rect(AUTO_BUTTON)) auto_toggle();
}

void auto_pick_point() {
    // 160 random samples in the middle half; ties keep the earlier sample, and when no sample
    // is below 10000 visits the centre stays where it is. A tile whose table entry names no
    // picture of the pack is passed over: it would lead to a black surface that never counts
    // a visit, so auto mode would keep returning to it.
    uint32_t best = 10000;
    for (int k = 0; k < 160; ++k) {
        const int x = std::rand() % 120 + 60;
        const int y = std::rand() % 120 + 60;
        const uint16_t t = tile_choice_at(x, y);
        if (t >= viewer_pack.picture_count) continue;
        const uint32_t visits = visit_counts ? visit_counts[t] : 0;
        if (visits < best) {
            centre_col = x, centre_row = y;
            best = visits;
        }
    }
}

namespace {

void viewing() {
    picture_show(current_picture);
    bool first = true;
    centre_col = centre_row = 120;
    frame_hook = viewer_frame_hook;
    // zoom is 240 on entry: straight to the surface.
    surface_button_look(SURFACE_DIMMED);
    for (;;) {
        surface_reset();
        if (first) first_surface_shown();
        first = false;
        while (!((pen_state.down && pen_state.y <= 239) || auto_mode || sprite_hit_rect(EXIT_BUTTON) ||
                 key_held[KEY_RETURN] || leave_key()))
            frame_yield();
        if (exit_requested()) return;
        if (auto_mode) {
            auto_pick_point();
        } else {
            const int x = pen_state.x, y = pen_state.y;
            centre_col = std::clamp(x, 15, 224) - (x >= 120 ? 1 : 0);
            centre_row = std::clamp(y, 15, 224) - (y >= 120 ? 1 : 0);
        }
        zoom_in_from_surface(-4, -4);
        // Zoom steps until a surface is due again (a rewind, or a tile zoomed to 240).
        for (;;) {
            if (exit_requested()) return;
            if (zoom < 8 || zoom > 239 || (zoom != 8 && zoom != 40)) break;
            surface_button_look(auto_mode ? SURFACE_DIMMED : SURFACE_ACTIVE);
            navigate(zoom == 8 ? 40 : 240);
        }
        surface_button_look(SURFACE_DIMMED);
    }
}

}  // namespace

void viewer_loop() {
    viewing();
    leave_key_noted = 0;
}

void zoom_in_from_surface(int16_t end_x, int16_t end_y) {
    recording = 1;
    int s = 256;
    do {
        surface_zoom_view(static_cast<uint16_t>(s));
        frame_yield();
        s = static_cast<int>(s - 8 * speed_factor);
    } while (s > 128);
    while (zoom <= 7) {
        zoom += 1;
        const int z = zoom;
        const int ox = ((centre_col - 120) * (8 - z) + end_x * (z + 8)) / 16;
        const int oy = ((centre_row - 120) * (8 - z) + end_y * (z + 8)) / 16;
        mosaic_render(centre_col, centre_row, static_cast<int16_t>(ox), static_cast<int16_t>(oy));
        const int frames = speed_factor <= 0.5f ? 4 : 2;
        for (int f = 0; f < frames; ++f) frame_yield();
    }
    recording = 0;
    if (end_x > 0) centre_col -= 1;
    if (end_y > 0) centre_row -= 1;
}

void navigate(uint16_t target) {
    const int z = zoom;
    const int n = PICTURE_EDGE / z, half = n / 2;
    const int step = target == 40 ? 2 : 1;
    bool fresh = true;
    for (;;) {
        if ((pen_state.down && pen_state.y <= PICTURE_LAST && fresh) || auto_mode || key_held[KEY_RETURN] ||
            leave_key())
            break;
        bool moved = false;
        if (key_held[KEY_UP] || key_held[KEY_DOWN] || key_held[KEY_RIGHT] || key_held[KEY_LEFT]) {
            moved = true;
            centre_col += (key_held[KEY_RIGHT] - key_held[KEY_LEFT]) * step;
            centre_row += (key_held[KEY_DOWN] - key_held[KEY_UP]) * step;
        }
        if (pen_state.down && ((pen_state.y >= MINIMAP_TOP && pen_state.x >= MINIMAP_LEFT) || !fresh)) {
            // The minimap, and any drag that began there, follows the pen at three times the scale.
            centre_col = std::max(MINIMAP_SCALE * (pen_state.x - MINIMAP_LEFT), 0);
            centre_row = MINIMAP_SCALE * (pen_state.y - MINIMAP_TOP);
            moved = true;
            fresh = false;
        }
        if (pen_state.pressed && sprite_hit_rect(SURFACE_BUTTON)) {
            rewind_to_surface();
            return;
        }
        if (moved) {
            centre_col = std::clamp(centre_col, static_cast<int32_t>(half), static_cast<int32_t>(PICTURE_LAST - 1 - half));
            centre_row = std::clamp(centre_row, static_cast<int32_t>(half), static_cast<int32_t>(PICTURE_LAST - 1 - half));
            mosaic_render(centre_col, centre_row, static_cast<int16_t>(-z / 2), static_cast<int16_t>(-z / 2));
        }
        frame_yield();
        if ((pen_state.pressed && pen_state.y <= PICTURE_LAST) || !pen_state.down) fresh = true;
        if (sprite_hit_rect(EXIT_BUTTON)) return;
    }
    // The tile choice; the zoom that follows cannot be rewound.
    surface_button_look(SURFACE_DIMMED);
    if (exit_requested()) return;
    if (key_pressed[KEY_RETURN]) pen_state.x = pen_state.y = RETURN_TARGET;
    int16_t end_x = static_cast<int16_t>(-(target / 2)), end_y = end_x;
    int x, y;
    if (auto_mode) {
        pen_state.x = pen_state.y = AUTO_TARGET;
        x = y = AUTO_TARGET;
    } else {
        if (pen_state.y > PICTURE_LAST) pen_state.y = PICTURE_LAST;
        x = pen_state.x, y = pen_state.y;
        centre_col += x / z - half + 1;
        centre_row += y / z - half + 1;
        if (x >= PICTURE_HALF) end_x = static_cast<int16_t>(target / 2);
        if (y >= PICTURE_HALF) end_y = static_cast<int16_t>(target / 2);
    }
    const int start_x = (x / z - half + 1) * z - z / 2;
    const int start_y = (y / z - half + 1) * z - z / 2;
    zoom_to(static_cast<int16_t>(target), static_cast<int16_t>(start_x), static_cast<int16_t>(start_y), end_x, end_y);
}

void zoom_to(int16_t target, int16_t start_x, int16_t start_y, int16_t end_x, int16_t end_y) {
    if (zoom < target) {
        recording = 1;
        while (zoom < target) {
            const int z = zoom;
            float grow;
            if (z > 179) grow = speed_factor * 12;
            else if (z > 159) grow = speed_factor * 10;
            else if (z > 119) grow = speed_factor * 8;
            else if (z > 59) grow = speed_factor * 6;
            else if (z > 39) grow = speed_factor * 4;
            else if (z > 23) grow = speed_factor * 2;
            else grow = speed_factor <= 1 ? 1.0f : speed_factor;
            // Never past the target (the steps land on it exactly at the three speeds).
            const int zn = std::min<int>(static_cast<int>(z + grow), target);
            zoom = static_cast<uint16_t>(zn);
            int ox, oy;
            if (target == 240) {
                ox = start_x * (240 - zn) / 200;
                oy = start_y * (240 - zn) / 200;
            } else {
                ox = (start_x * (target - zn) + end_x * zn) / target;
                oy = (start_y * (target - zn) + end_y * zn) / target;
            }
            mosaic_render(centre_col, centre_row, static_cast<int16_t>(ox), static_cast<int16_t>(oy));
            frame_yield();
        }
    }
    recording = 0;
    if (end_x > 0) centre_col -= 1;
    if (end_y > 0) centre_row -= 1;
}

void rewind_to_surface() {
    recording = 0;
    for (;;) {
        int i = history_count - 1;
        if (zoom > 8) i -= 1;
        history_count = static_cast<int16_t>(i);
        if (i < 0) break;
        const HistoryEntry& e = zoom_history[i];
        zoom = static_cast<uint16_t>(e.zoom);
        centre_col = e.col;
        centre_row = e.row;
        mosaic_render(e.col, e.row, e.offset_x, e.offset_y);
        history_count = static_cast<int16_t>(i - 1);
        if (zoom > 8) {
            frame_yield();
        } else {
            const int frames = static_cast<int>(std::ceil(2.0f / speed_factor));
            for (int f = 0; f < frames; ++f) frame_yield();
        }
    }
    int s = 128;
    do {
        surface_zoom_view(static_cast<uint16_t>(s));
        frame_yield();
        s = static_cast<int>(s + 16 * speed_factor);
    } while (s <= 255);
    surface_reset();
}
