// The handwriting demo: console on layer 0 in front, an RGB565 ink layer behind it.
#include "app/stroke_demo.h"

#include <cstdio>
#include <cstring>

#include "media/console_print.h"
#include "render/console.h"
#include "render/layers.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/strokes.h"

namespace {

constexpr int CONSOLE = 0;
constexpr int INK = 1;
constexpr uint16_t PAPER = 0x18E3;      // dark grey
constexpr uint16_t INK_COLOUR = 0xFFFF;
constexpr uint16_t BOX_COLOUR = 0x4A69;
constexpr uint16_t SAMPLE_COLOUR = 0xFFE0;
constexpr uint16_t PANEL = 0x0841;      // behind the help and result rows
constexpr int TYPED_MAX = 38;
// Console rows: help at the top, results and the typed line in a band at the bottom, so that
// most strokes stay clear of the text. Rows are 6 pixels.
constexpr int HELP_ROWS = 3;
constexpr int RESULT_ROW = 44;

char typed[TYPED_MAX + 1];
int32_t inked = 0;  // stroke points already drawn

bool ink_ready = false;  // the ink layer could be allocated

void plot(int x, int y, int size, uint16_t colour) {
    if (!ink_ready) return;
    uint16_t* pixels = layer_rgb565(INK);
    const int height = screen_height;
    for (int v = y; v < y + size; ++v) {
        for (int u = x; u < x + size; ++u) {
            if (u >= 0 && u < SCREEN_WIDTH && v >= 0 && v < height) pixels[v * SCREEN_WIDTH + u] = colour;
        }
    }
}

void clear_ink() {
    inked = 0;
    if (!ink_ready) return;
    uint16_t* pixels = layer_rgb565(INK);
    const int panel_top = RESULT_ROW * 6 - 2;
    for (int y = 0; y < int(screen_height); ++y) {
        const uint16_t colour = (y < HELP_ROWS * 6 + 2 || y >= panel_top) ? PANEL : PAPER;
        for (int x = 0; x < SCREEN_WIDTH; ++x) pixels[y * SCREEN_WIDTH + x] = colour;
    }
}

// New points of the stroke since the last frame, two pixels wide.
void ink_new_points() {
    for (; inked < stroke_buffer.count; ++inked) {
        const StrokePoint& p = stroke_buffer.points[inked + 1];
        plot(p.x, p.y, 2, INK_COLOUR);
    }
}

// The recognised stroke's box and the 16 points its codes were taken between.
void mark_result() {
    const StrokeResult& r = stroke_result;
    for (int x = r.min_x; x <= r.max_x; ++x) {
        plot(x, r.min_y, 1, BOX_COLOUR);
        plot(x, r.max_y, 1, BOX_COLOUR);
    }
    for (int y = r.min_y; y <= r.max_y; ++y) {
        plot(r.min_x, y, 1, BOX_COLOUR);
        plot(r.max_x, y, 1, BOX_COLOUR);
    }
    if (r.point_count < 1) return;
    for (int i = 0; i < 16; ++i) {
        const StrokePoint& p = stroke_buffer.points[(i * r.point_count) / 16 + 1];
        plot(p.x - 1, p.y - 1, 3, SAMPLE_COLOUR);
    }
}

const char* letter_name(int8_t letter, char* buffer) {
    if (letter == 0) return "none";
    if (letter == ' ') return "space";
    if (letter == '.') return "full stop";
    buffer[0] = char(letter);
    buffer[1] = 0;
    return buffer;
}

void show_help() {
    console_clear();
    console_print(0, 0, "%c6Stroke letters: draw one letter");
    console_print(0, 1, "%c6with the mouse, lift to read it.");
    console_print(0, 2, "%c8Right = space, dot = full stop.");
    console_print(0, RESULT_ROW + 7, "%c8Text:");
    console_print(6, RESULT_ROW + 7, "%s", typed);
}

void show_result(int8_t letter) {
    const StrokeResult& r = stroke_result;
    char name[2];
    show_help();
    const int row = RESULT_ROW;
    console_print(0, row, "Letter: %c2%s", letter_name(letter, name));
    console_print(0, row + 1, "Codes:  %c5%s", r.codes);
    // The codes as numbers 0..31, eight to a row.
    for (int i = 0; i < STROKE_CODE_COUNT && r.codes[i]; ++i)
        console_print(8 + (i % 8) * 4, row + 2 + i / 8, "%c7%d", int32_t(r.codes[i] - '0'));
    console_print(0, row + 4, "Distance: %d", r.distance);
    console_print(0, row + 5, "Points: %d  Angle: %d", r.point_count, int32_t(r.overall_angle));
    std::printf("stroke: letter %s codes %s distance %d points %d\n", letter_name(letter, name),
                r.codes, int(r.distance), int(r.point_count));
    std::fflush(stdout);
}

}  // namespace

void stroke_demo_run() {
    show_fps = 0;
    console_init(CONSOLE);
    // Without the ink layer the demo still recognises and prints; it only shows no ink.
    ink_ready = layer_create_rgb565(INK, SCREEN_WIDTH, int16_t(screen_height), 1) == 1 &&
                layer_rgb565(INK) != nullptr;
    clear_ink();
    show_help();
    for (;;) {
        frame_yield();
        if (pen_state.pressed) clear_ink();
        const int8_t letter = stroke_update();
        ink_new_points();
        if (pen_state.released) {
            mark_result();
            if (letter) {
                size_t n = std::strlen(typed);
                if (n == TYPED_MAX) {  // full: start a new line
                    n = 0;
                    typed[0] = 0;
                }
                typed[n] = char(letter);
                typed[n + 1] = 0;
            }
            show_result(letter);
        }
    }
}
