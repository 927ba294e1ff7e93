// In-memory RGB pictures for the asset generator, and the drawing the asset designs need:
// fills, gradients, rounded boxes and anti-aliased text from a scalable face.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

inline bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
inline bool operator!=(Rgb a, Rgb b) { return !(a == b); }

// The runtime's transparent colour (colour_key, render/colour_key.h) written as 8-bit channels.
constexpr Rgb KEY_RGB{255, 0, 255};

struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> px;
    Image() = default;
    Image(int w, int h, Rgb fill = {}) : width(w), height(h), px(static_cast<size_t>(w) * h, fill) {}
    Rgb& at(int x, int y) { return px[static_cast<size_t>(y) * width + x]; }
    Rgb at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// a + (b - a) * t / 255, per channel.
Rgb mix(Rgb a, Rgb b, int t);
Rgb hex(uint32_t rgb);

void fill_rect(Image& img, int x0, int y0, int x1, int y1, Rgb c);  // x1, y1 exclusive
void blend_pixel(Image& img, int x, int y, Rgb c, int coverage);     // coverage 0..255

// Vertical gradient from `top` to `bottom` over rows y0..y1-1 inside columns x0..x1-1.
void vertical_gradient(Image& img, int x0, int y0, int x1, int y1, Rgb top, Rgb bottom);

// A box with rounded corners of radius r (anti-aliased edge). Pixels outside the rounded
// shape are left untouched, so a keyed picture keeps its key colour there.
struct ButtonStyle {
    Rgb top, bottom;  // body gradient
    Rgb border;       // one-pixel outline
    Rgb highlight;    // the light line under the top edge
    Rgb shadow;       // drop shadow of the label
};
void rounded_box(Image& img, int x0, int y0, int x1, int y1, int r, const ButtonStyle& s);
// Coverage (0..255) of pixel (x, y) by the rounded box (x0, y0)-(x1, y1) exclusive, radius r.
int rounded_coverage(int x, int y, int x0, int y0, int x1, int y1, int r);

// Anti-aliased text through FreeType. A face is loaded once per file name and kept.
struct TextRun {
    std::string face_file;
    int pixel_size = 12;
};
int text_width(const TextRun& run, const std::string& text);
// Ascent of capital letters in pixels (height of 'H'), for vertical centring.
int cap_height(const TextRun& run);
// Draws text with its baseline at y; x is the left edge of the pen.
void draw_text(Image& img, const TextRun& run, const std::string& text, int x, int baseline, Rgb c);
// Draws text centred in the box; returns the pixel size used (shrinks until it fits).
int draw_text_centred(Image& img, TextRun run, const std::string& text, int x0, int y0, int x1, int y1,
                      Rgb c, Rgb shadow, bool with_shadow);

void paste(Image& dst, const Image& src, int x, int y);
Image scale_up(const Image& src, int factor);

// Faces shipped by Debian's fonts-dejavu-core.
extern const char* const FACE_SANS_BOLD;
extern const char* const FACE_SANS;
extern const char* const FACE_CONDENSED_BOLD;

// Blends colour c over every pixel of the box (x0, y0)-(x1, y1) (exclusive) by how much of it the
// shape covers, sampled 4 x 4 per pixel. `inside` gets picture coordinates in pixels.
template <typename Inside>
void fill_shape(Image& img, int x0, int y0, int x1, int y1, Rgb c, Inside inside) {
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    if (inside(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0)) ++hits;
            blend_pixel(img, x, y, c, hits * 255 / 16);
        }
}

// Turns every pixel where `mask` is black into the key colour: `mask` holds the same drawing
// in white on black, so anything the drawing touched stays.
void key_outside(Image& art, const Image& mask);
