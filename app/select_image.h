// The Select Image screen: the pack's thumbnails in a grid that fills the picture area column by
// column and scrolls sideways, a size button (20, 24, 30, 40, 60 pixels) and a scroll bar that
// scrolls faster the farther it is pulled from the middle. A tap on a thumbnail chooses it.
#pragma once
#include <cstdint>

extern const uint8_t grid_sizes[5];
extern int32_t scroll_offset;  // 8.8 fixed point, never positive

// Sprite slots and centres of the screen's graphics.
constexpr int SIZE_BUTTON_SLOT = 10, SELECT_TITLE_SLOT = 1, SCROLL_BAR_SLOT = 11;

// The grid with its first column at screen x = offset (<= 0); fillers past the last picture
// are black, pixels right of the last column are left as they are.
void grid_draw(int16_t offset);

// Returns once current_picture holds the chosen picture, after fading out.
void select_image_screen();
