#include "app/select_image.h"

#include <cstring>
#include <initializer_list>

#include "app/fades.h"
#include "app/mosaic.h"
#include "app/viewer_pack.h"
#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/gif.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/sprites.h"

const uint8_t grid_sizes[5] = {20, 24, 30, 40, 60};
// Tile x positions are 16-bit: the widest grid (60-pixel tiles, four to a column) of the largest
// pack the loader accepts must stay within them, or columns would wrap over the first screen.
static_assert((PACK_MAX_PICTURES + 3) / 4 * 60 <= 32767, "Select Image columns fit 16-bit x");
int32_t scroll_offset = 0;

namespace {

// Thumbnails per column and the picture count rounded up to whole columns, for the zoom.
int per_column() { return PICTURE_EDGE / zoom; }
int grid_cells() {
    const int n = per_column();
    return (viewer_pack.picture_count + n - 1) / n * n;
}

}  // namespace

void grid_draw(int16_t offset) {
    const int n = per_column(), m = grid_cells();
    for (int i = 0; i < m; ++i)
        tile_draw(static_cast<int16_t>(offset + zoom * (i / n)), static_cast<int16_t>(zoom * (i % n)),
                  static_cast<uint16_t>(i), 0);
}

void select_image_screen() {
    std::memset(draw_target, 0, sizeof(uint16_t) * SCREEN_WIDTH * screen_height);
    Bitmap* scroll_bar = bitmap_from_gif(asset_scroll_bar, asset_scroll_bar_size);
    Bitmap* size_button = bitmap_from_gif(asset_size_button, asset_size_button_size);
    Bitmap* title = bitmap_from_gif(asset_select_image_title, asset_select_image_title_size);

    current_picture = NO_PICTURE;
    int k = -1;
    bool first = true;
    sprite_set(SIZE_BUTTON_SLOT, size_button, 56, 24, 176, 260);
    sprite_set(SELECT_TITLE_SLOT, title, 132, 24, 64, 260);
    int n = 1, m = 0;
    while (current_picture == NO_PICTURE) {
        if (first || (pen_state.pressed && sprite_hit_rect(SIZE_BUTTON_SLOT))) {
            k = (k + 1) % 5;
            if (SpriteTable[SIZE_BUTTON_SLOT]) SpriteTable[SIZE_BUTTON_SLOT]->frame = static_cast<int16_t>(k);
            zoom = grid_sizes[k];
            zoom_tables_update();
            // A smaller grid covers less of the picture area: clear it first, or the larger
            // thumbnails stay beside the grid and look tappable.
            std::memset(draw_target, 0, sizeof(uint16_t) * SCREEN_WIDTH * PICTURE_EDGE);
            grid_draw(0);
            scroll_offset = 0;
            sprite_set(SCROLL_BAR_SLOT, scroll_bar, 56, 24, 120, 290);
            n = per_column();
            m = grid_cells();
            frame_yield();
            first = false;
        }
        if (pen_state.pressed && pen_state.y <= 239) {
            const int column = (pen_state.x - (scroll_offset >> 8)) / zoom;
            const int index = column * n + pen_state.y / zoom;
            const bool listed = index >= 0 && index < viewer_pack.picture_count;
            current_picture = listed ? static_cast<uint16_t>(index) : NO_PICTURE;
        }
        SpriteSlot* bar = SpriteTable[SCROLL_BAR_SLOT];
        if (bar && sprite_drag(SCROLL_BAR_SLOT, 0, 0)) {
            bar->frame = 1;
            // 16 pixels either side of the middle do nothing; beyond, the grid moves
            // (x - 120)^2 / 256 pixels a frame, left when the bar is pulled right.
            const int32_t e = 16 * (drag_state.sprite_x - 120);
            if (e > 256) scroll_offset -= (e * e) >> 8;
            if (e < -256) scroll_offset += (e * e) >> 8;
            bar->y = 290;
            if (scroll_offset >= 0) {
                scroll_offset = 0;
            } else {
                const int32_t limit = (PICTURE_EDGE - (m / n) * zoom) * 256;
                if (scroll_offset < limit) scroll_offset = limit;
                if (scroll_offset > 0) scroll_offset = 0;
            }
            grid_draw(static_cast<int16_t>(scroll_offset >> 8));
            frame_yield();
        } else {
            if (bar) bar->x = 120, bar->frame = 0;
            frame_yield();
        }
    }
    fade_out(4);
    for (int slot : {SELECT_TITLE_SLOT, SCROLL_BAR_SLOT, SIZE_BUTTON_SLOT})
        if (SpriteTable[slot]) SpriteTable[slot]->active = 0;
    bitmap_free(scroll_bar);
    bitmap_free(size_button);
    bitmap_free(title);
}
