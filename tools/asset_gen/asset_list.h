// The files the generator writes into assets/, shared by the writer and the contact sheet.
#pragma once

struct GifAsset {
    const char* file;
    int width, height, frame_height;
    int key_index;  // -1: the picture holds no key colour
};

constexpr GifAsset GIF_ASSETS[11] = {
    {"digit_strip.gif", 13, 176, 16, -1},       {"auto_button.gif", 56, 48, 24, -1},
    {"exit_button.gif", 56, 24, 24, -1},        {"surface_button.gif", 56, 24, 24, -1},
    {"speed_button.gif", 56, 72, 24, -1},       {"title_wordmark.gif", 99, 25, 25, 176},
    {"start_choice.gif", 129, 61, 61, 79},      {"select_image_title.gif", 132, 24, 24, 172},
    {"size_button.gif", 56, 120, 24, -1},       {"scroll_bar.gif", 56, 48, 24, -1},
    {"font_sheet.gif", 256, 64, 64, 0},
};

constexpr const char* MENU_BACKGROUND_FILE = "menu_background.jpg";
