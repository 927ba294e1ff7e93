// The text demo: console on layer 0 in front, text on layer 1, a primitives layer with the
// panels behind them on layer 2, over a cream background fill.
#include "app/text_demo.h"

#include "assets/assets.h"
#include "media/console_print.h"
#include "media/fonts.h"
#include "media/text.h"
#include "render/console.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/primitives.h"
#include "runtime/sprites.h"

namespace {

constexpr int CONSOLE = 0;
constexpr int TEXT = 1;
constexpr int PANELS = 2;
constexpr uint16_t CREAM = 0xF79B;
constexpr uint16_t NAVY = 0x10AC;
constexpr uint16_t INK = 0x0000;

// One item in the default style apart from font, colour and alignment.
int line(int item, int left, int top, int right, int bottom, const char* text, uint8_t font,
         uint16_t colour, uint8_t align = ALIGN_LEFT) {
    TextStyle style;
    style.align = align;
    return text_set(TEXT, item, int16_t(left), int16_t(top), int16_t(right), int16_t(bottom), text,
                    colour, font, style);
}

}  // namespace

void text_demo_run() {
    background_colour = CREAM;
    background_fill = 1;
    show_fps = 1;
    console_init(CONSOLE);
    primitives_attach(PANELS);
    primitive_box(PANELS, 0, 0, 239, 19, 0, NAVY, NAVY, 32);
    primitive_box(PANELS, 6, 226, 233, 313, 1, 0x8410, 0xFFFF, 32);
    text_layer_create(TEXT);
    font_from_gif(5, asset_font_sheet, asset_font_sheet_size);

    line(0, 6, 26, 233, 319, "Font 0: the quick brown fox jumps over the lazy dog.", 0, INK);
    line(1, 6, 38, 233, 319, "Font 1: the quick brown fox jumps over the lazy dog.", 1, 0x8000);
    line(2, 6, 56, 233, 319, "Font 2: quick brown fox, 0123456789.", 2, 0x0400);
    line(3, 6, 74, 233, 319, "Font 3: Bitmap text", 3, 0x0010);
    line(4, 6, 94, 233, 319, "Font 4: \xE0 \xE9 \xEE \xF5 \xFC \xC7 \xF6 caf\xE9", 4, 0x8010);
    line(5, 6, 118, 233, 319, "FONT 5: THE 8 x 8 SHEET, Font five (a-z, A-Z, 0-9)", 5, INK);
    line(6, 6, 148, 233, 319, "right aligned", 1, 0x4208, ALIGN_RIGHT);
    line(7, 6, 162, 233, 319, "centred", 1, 0x4208, ALIGN_CENTRE);
    line(8, 6, 180, 233, 319, "A justified paragraph: every wrapped line reaches the right "
                              "edge, the last line stays as it is.", 1, 0x2124, ALIGN_JUSTIFY);
    line(9, 12, 232, 227, 309, "Font 5 in a box: words that do not fit move to the next line, "
                               "and a line feed\nstarts a new one.", 5, INK, ALIGN_LEFT);

    console_print(6, 0, "%c6fps");
    console_print(12, 0, "%c5console %c2%d %c1%x %c7%f2/n%c8padded %03d", -42, 0xBEEFu, 3.14159, 7);
    for (;;) frame_yield();
}
