// The pictures of the built-in interface graphics and the menu background, drawn in full colour;
// main.cpp reduces them to palettes and writes the files.
#pragma once
#include "image.h"

Image draw_digit_strip();       // 13 x 176: 0..9 then %, 16 rows each
Image draw_auto_button();       // 56 x 48: orange (off), green (on)
Image draw_exit_button();       // 56 x 24
Image draw_surface_button();    // 56 x 24
Image draw_speed_button();      // 56 x 72: speed x 0.5, x 1, x 2
Image draw_title_wordmark();    // 99 x 25, keyed
Image draw_start_choice();      // 129 x 61, keyed: Custom Start above Random
Image draw_select_image_title();// 132 x 24, keyed
Image draw_size_button();       // 56 x 120: 20px .. 60px
Image draw_scroll_bar();        // 56 x 48: idle (orange), dragged (green)
Image draw_menu_background();   // 240 x 320

constexpr const char* PRODUCT_TITLE = "Evergreen";
