// Drawing of each interface graphic. Orange is the idle or off state and green the on or
// dragged state. Buttons sit on the black strip under the picture, so their corners are black;
// the keyed graphics are cut out to the key colour wherever nothing was drawn.
#include "designs.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace {

const ButtonStyle ORANGE{hex(0xFFB54A), hex(0xE26A00), hex(0x6E2E00), hex(0xFFE2B8), hex(0x7A3300)};
const ButtonStyle GREEN{hex(0x9BE46F), hex(0x2F9A35), hex(0x124A18), hex(0xE0FFD0), hex(0x114016)};
const Rgb TEXT_WHITE = hex(0xFFFFFF);

// One 56 x 24 button face at row y0 of the picture.
void button(Image& img, int y0, const ButtonStyle& style, const std::string& label, int size = 13) {
    rounded_box(img, 0, y0, 56, y0 + 24, 6, style);
    TextRun run{FACE_SANS_BOLD, size};
    if (text_width(run, label) > 50) run.face_file = FACE_CONDENSED_BOLD;
    draw_text_centred(img, run, label, 3, y0, 53, y0 + 23, TEXT_WHITE, style.shadow, true);
}

// A triangle pointing left (dir -1) or right (dir +1) with its tip at (tip_x, cy).
void arrow(Image& img, double tip_x, double cy, int dir, double length, double half_height, Rgb c) {
    int x0 = static_cast<int>(std::floor(std::fmin(tip_x, tip_x - dir * length))) - 1;
    int x1 = static_cast<int>(std::ceil(std::fmax(tip_x, tip_x - dir * length))) + 1;
    fill_shape(img, x0, static_cast<int>(cy - half_height) - 1, x1, static_cast<int>(cy + half_height) + 2, c,
               [=](double x, double y) {
                   double along = (x - tip_x) * -dir;  // 0 at the tip, length at the base
                   if (along < 0 || along > length) return false;
                   return std::fabs(y - cy) <= half_height * along / length;
               });
}

}  // namespace

Image draw_digit_strip() {
    Image img(13, 176, Rgb{0, 0, 0});
    const char* glyphs = "0123456789%";
    for (int f = 0; f < 11; ++f) {
        std::string s(1, glyphs[f]);
        TextRun run{FACE_SANS_BOLD, 16};
        // Light green with a darker green drop, readable on the black strip.
        draw_text_centred(img, run, s, 0, f * 16 + 1, 13, f * 16 + 15, hex(0xDDF7C8), hex(0x2C6B2A), true);
    }
    return img;
}

Image draw_auto_button() {
    Image img(56, 48, Rgb{0, 0, 0});
    button(img, 0, ORANGE, "auto");
    button(img, 24, GREEN, "auto");
    return img;
}

Image draw_exit_button() {
    Image img(56, 24, Rgb{0, 0, 0});
    button(img, 0, ORANGE, "exit");
    return img;
}

Image draw_surface_button() {
    Image img(56, 24, Rgb{0, 0, 0});
    button(img, 0, ORANGE, "surface");
    return img;
}

Image draw_speed_button() {
    Image img(56, 72, Rgb{0, 0, 0});
    const char* labels[3] = {"speed x 0.5", "speed x 1", "speed x 2"};
    for (int f = 0; f < 3; ++f) button(img, f * 24, ORANGE, labels[f], 11);
    return img;
}

Image draw_size_button() {
    Image img(56, 120, Rgb{0, 0, 0});
    const char* labels[5] = {"size 20px", "size 24px", "size 30px", "size 40px", "size 60px"};
    for (int f = 0; f < 5; ++f) button(img, f * 24, ORANGE, labels[f], 11);
    return img;
}

Image draw_scroll_bar() {
    Image img(56, 48, Rgb{0, 0, 0});
    for (int f = 0; f < 2; ++f) {
        const ButtonStyle& s = f == 0 ? ORANGE : GREEN;
        int y0 = f * 24;
        rounded_box(img, 0, y0, 56, y0 + 24, 11, s);
        Rgb shade = s.shadow;
        arrow(img, 5.5, y0 + 12.5, -1, 10, 6.5, shade);
        arrow(img, 4.5, y0 + 11.5, -1, 10, 6.5, TEXT_WHITE);
        arrow(img, 52.5, y0 + 12.5, +1, 10, 6.5, shade);
        arrow(img, 51.5, y0 + 11.5, +1, 10, 6.5, TEXT_WHITE);
        // Grip: three short ridges in the middle.
        for (int k = -1; k <= 1; ++k) {
            fill_rect(img, 27 + 4 * k, y0 + 7, 28 + 4 * k, y0 + 17, shade);
            fill_rect(img, 28 + 4 * k, y0 + 7, 29 + 4 * k, y0 + 17, s.highlight);
        }
    }
    return img;
}

namespace {

// A three-tier fir tree on a short trunk, tiers widening downwards; (cx, top) is the tip.
void fir_tree(Image& img, double cx, double top, double tier_step, double half0, double half_step,
              double tier_height, Rgb leaves, Rgb trunk, int trunk_width, int trunk_bottom) {
    double bottom = top + 2 * tier_step + tier_height;
    fill_rect(img, static_cast<int>(cx) - trunk_width / 2, static_cast<int>(bottom) - 1,
              static_cast<int>(cx) - trunk_width / 2 + trunk_width, trunk_bottom, trunk);
    for (int tier = 0; tier < 3; ++tier) {
        double t = top + tier * tier_step, half = half0 + tier * half_step;
        fill_shape(img, static_cast<int>(cx - half) - 1, static_cast<int>(t) - 1, static_cast<int>(cx + half) + 2,
                   static_cast<int>(t + tier_height) + 2, leaves, [=](double x, double y) {
                       return y >= t && y <= t + tier_height && std::fabs(x - cx) <= half * (y - t) / tier_height;
                   });
    }
}

}  // namespace

Image draw_title_wordmark() {
    // The tree mark and the title, light green with a dark green drop, cut out on the key.
    Image art(99, 25, Rgb{0, 0, 0}), mask(99, 25, Rgb{0, 0, 0});
    TextRun run{FACE_CONDENSED_BOLD, 19};
    while (text_width(run, PRODUCT_TITLE) > 99 - 17) --run.pixel_size;
    for (Image* img : {&art, &mask}) {
        bool is_mask = img == &mask;
        Rgb light = is_mask ? TEXT_WHITE : hex(0x8EE06A), dark = is_mask ? TEXT_WHITE : hex(0x1E5A22);
        Rgb wood = is_mask ? TEXT_WHITE : hex(0x8A5A2B);
        fir_tree(*img, 7.5, 2, 5.5, 3.2, 1.6, 8, light, wood, 2, 23);
        int w = text_width(run, PRODUCT_TITLE);
        int x = 16 + (99 - 17 - w) / 2;
        draw_text(*img, run, PRODUCT_TITLE, x + 1, 20, dark);
        draw_text(*img, run, PRODUCT_TITLE, x, 19, light);
    }
    key_outside(art, mask);
    return art;
}

Image draw_start_choice() {
    // Drawn over the light panel of the start screen: edges are smoothed towards that grey.
    const Rgb backdrop = hex(0xDCDEDA);
    Image art(129, 61, backdrop), mask(129, 61, Rgb{0, 0, 0});
    const ButtonStyle white_mask{TEXT_WHITE, TEXT_WHITE, TEXT_WHITE, TEXT_WHITE, TEXT_WHITE};
    rounded_box(art, 0, 0, 129, 29, 8, ORANGE);
    rounded_box(mask, 0, 0, 129, 29, 8, white_mask);
    rounded_box(art, 0, 31, 129, 60, 8, ORANGE);
    rounded_box(mask, 0, 31, 129, 60, 8, white_mask);
    TextRun run{FACE_SANS_BOLD, 15};
    draw_text_centred(art, run, "Custom Start", 4, 0, 125, 28, TEXT_WHITE, ORANGE.shadow, true);
    draw_text_centred(art, run, "Random", 4, 31, 125, 59, TEXT_WHITE, ORANGE.shadow, true);
    key_outside(art, mask);
    return art;
}

Image draw_select_image_title() {
    Image art(132, 24, Rgb{0, 0, 0}), mask(132, 24, Rgb{0, 0, 0});
    TextRun run{FACE_SANS_BOLD, 18};
    for (Image* img : {&art, &mask}) {
        bool is_mask = img == &mask;
        draw_text_centred(*img, run, "Select Image", 1, 0, 131, 23, is_mask ? TEXT_WHITE : hex(0xF2F7EE),
                          is_mask ? TEXT_WHITE : hex(0x2F7A2E), true);
    }
    key_outside(art, mask);
    return art;
}

namespace {

// Small deterministic generator for the sample pictures (a 32-bit LCG).
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

// A 22 x 22 miniature scene at (x0, y0): sunsets, hills, sea, mountains, night skies, flowers.
void sample_picture(Image& img, int x0, int y0, Lcg& rng) {
    const int s = 22;
    int kind = rng.range(0, 5);
    int x1 = x0 + s, y1 = y0 + s;
    auto disc = [&](double cx, double cy, double r, Rgb c) {
        fill_shape(img, x0, y0, x1, y1, c, [=](double x, double y) {
            return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
        });
    };
    switch (kind) {
        case 0: {  // sunset over a dark hill
            vertical_gradient(img, x0, y0, x1, y1, hex(0x3B2A6B), hex(0xFF9A3C));
            disc(x0 + rng.range(6, 16), y0 + 13, 4.5, hex(0xFFE07A));
            double phase = rng.range(0, 10);
            fill_shape(img, x0, y0, x1, y1, hex(0x2A1A2E), [=](double x, double y) {
                return y > y0 + 15 + 2.5 * std::sin((x - x0 + phase) / 4.0);
            });
            break;
        }
        case 1: {  // green hills under a blue sky
            vertical_gradient(img, x0, y0, x1, y1, hex(0x6FB7F0), hex(0xCDE9FF));
            disc(x0 + 5, y0 + 5, 2.5, hex(0xFFF3A0));
            fill_shape(img, x0, y0, x1, y1, hex(0x57B046), [=](double x, double y) {
                return y > y0 + 12 + 3 * std::cos((x - x0) / 5.0);
            });
            fill_shape(img, x0, y0, x1, y1, hex(0x2F7D2C), [=](double x, double y) {
                return y > y0 + 17 + 2 * std::sin((x - x0) / 3.0 + 1);
            });
            break;
        }
        case 2: {  // sea with a sail
            vertical_gradient(img, x0, y0, x1, y0 + 12, hex(0x8FD3FF), hex(0xE6F6FF));
            vertical_gradient(img, x0, y0 + 12, x1, y1, hex(0x1F6FB2), hex(0x0B3566));
            double sx = x0 + rng.range(6, 14);
            fill_shape(img, x0, y0, x1, y1, hex(0xFFFFFF), [=](double x, double y) {
                return y < y0 + 12 && y > y0 + 3 && x > sx && x < sx + (y - y0 - 3) * 0.7;
            });
            fill_rect(img, static_cast<int>(sx) - 2, y0 + 12, static_cast<int>(sx) + 8, y0 + 13, hex(0x5A3A1E));
            break;
        }
        case 3: {  // mountain with a snow cap
            vertical_gradient(img, x0, y0, x1, y1, hex(0x4A8FD8), hex(0xB8DAF5));
            double peak = x0 + rng.range(8, 14);
            fill_shape(img, x0, y0, x1, y1, hex(0x6B6F7A), [=](double x, double y) {
                return y > y0 + 4 + std::fabs(x - peak) * 1.1;
            });
            fill_shape(img, x0, y0, x1, y1, hex(0xF4F8FF), [=](double x, double y) {
                return y > y0 + 4 + std::fabs(x - peak) * 1.1 && y < y0 + 9;
            });
            fill_rect(img, x0, y0 + 19, x1, y1, hex(0x3E7B35));
            break;
        }
        case 4: {  // night sky with the moon
            vertical_gradient(img, x0, y0, x1, y1, hex(0x07102E), hex(0x22306B));
            for (int k = 0; k < 6; ++k) img.at(x0 + rng.range(1, 20), y0 + rng.range(1, 14)) = hex(0xFFFFFF);
            double mx = x0 + rng.range(7, 15);
            disc(mx, y0 + 8, 4, hex(0xFFF6D0));
            disc(mx + 2, y0 + 6.5, 3.5, hex(0x0F1A44));
            fill_rect(img, x0, y0 + 18, x1, y1, hex(0x040814));
            break;
        }
        default: {  // a flower on green
            vertical_gradient(img, x0, y0, x1, y1, hex(0x8ACB63), hex(0x3D7D2A));
            static const uint32_t petals[4] = {0xF25C8A, 0xFFD23F, 0xB37BFF, 0xFF7A3D};
            Rgb petal = hex(petals[rng.range(0, 3)]);
            for (int k = 0; k < 5; ++k) {
                double a = k * 2 * M_PI / 5;
                disc(x0 + 11 + 5 * std::cos(a), y0 + 11 + 5 * std::sin(a), 3.6, petal);
            }
            disc(x0 + 11, y0 + 11, 2.6, hex(0x6B3A12));
            break;
        }
    }
}

}  // namespace

Image draw_menu_background() {
    Image img(240, 320);
    vertical_gradient(img, 0, 0, 240, 320, hex(0x0F4A33), hex(0x06241A));

    // A mosaic of sample pictures behind the pack cards (rows 90 to 313) and below them.
    Lcg rng{20061};
    for (int row = 0; row < 10; ++row)
        for (int col = 0; col < 10; ++col) {
            int x = 1 + col * 24, y = 88 + row * 24;
            fill_rect(img, x - 1, y - 1, x + 23, y + 23, hex(0x041A12));
            sample_picture(img, x, y, rng);
        }
    // A dark band that fades the mosaic into the heading area.
    for (int y = 82; y < 100; ++y)
        for (int x = 0; x < 240; ++x) {
            int t = y < 88 ? 255 : 255 - (y - 88) * 20;
            if (t > 0) img.at(x, y) = mix(img.at(x, y), hex(0x0C3F2C), t);
        }

    // Heading: the title with a small tree mark, then the prompt.
    TextRun title{FACE_SANS_BOLD, 34};
    int w = text_width(title, PRODUCT_TITLE);
    int tx = (240 - w) / 2 + 10;
    double base = 44;
    fir_tree(img, tx - 14, 10, 9, 6, 2.5, 12, hex(0x8EE06A), hex(0x7A4B22), 4, static_cast<int>(base) + 1);
    draw_text(img, title, PRODUCT_TITLE, tx + 2, static_cast<int>(base) + 2, hex(0x04160E));
    draw_text(img, title, PRODUCT_TITLE, tx, static_cast<int>(base), hex(0xC8F5B0));

    TextRun prompt{FACE_SANS_BOLD, 15};
    int pw = text_width(prompt, "Select Image Pack");
    draw_text(img, prompt, "Select Image Pack", (240 - pw) / 2 + 1, 73, hex(0x04160E));
    draw_text(img, prompt, "Select Image Pack", (240 - pw) / 2, 72, hex(0xFFD27A));
    return img;
}
