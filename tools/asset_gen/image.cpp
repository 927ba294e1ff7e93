// Drawing for the asset generator. Nothing depends on time, addresses or hash order, so a rerun
// gives the same bytes; FreeType's rasteriser is deterministic for a given face and size.
#include "image.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

const char* const FACE_SANS_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const char* const FACE_SANS = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const FACE_CONDENSED_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf";

Rgb mix(Rgb a, Rgb b, int t) {
    auto ch = [t](int x, int y) { return static_cast<uint8_t>(x + ((y - x) * t + (y > x ? 127 : -127)) / 255); };
    return Rgb{ch(a.r, b.r), ch(a.g, b.g), ch(a.b, b.b)};
}

Rgb hex(uint32_t rgb) {
    return Rgb{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)};
}

void fill_rect(Image& img, int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (img.inside(x, y)) img.at(x, y) = c;
}

void blend_pixel(Image& img, int x, int y, Rgb c, int coverage) {
    if (!img.inside(x, y) || coverage <= 0) return;
    img.at(x, y) = coverage >= 255 ? c : mix(img.at(x, y), c, coverage);
}

void vertical_gradient(Image& img, int x0, int y0, int x1, int y1, Rgb top, Rgb bottom) {
    int span = y1 - y0 - 1;
    for (int y = y0; y < y1; ++y) {
        Rgb c = span > 0 ? mix(top, bottom, (y - y0) * 255 / span) : top;
        for (int x = x0; x < x1; ++x)
            if (img.inside(x, y)) img.at(x, y) = c;
    }
}

// 4 x 4 supersampling of the rounded shape: 16 samples per pixel, coverage scaled to 0..255.
int rounded_coverage(int x, int y, int x0, int y0, int x1, int y1, int r) {
    int hits = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            double px = x + (sx + 0.5) / 4.0, py = y + (sy + 0.5) / 4.0;
            if (px < x0 || px > x1 || py < y0 || py > y1) continue;
            double cx = px < x0 + r ? x0 + r : (px > x1 - r ? x1 - r : px);
            double cy = py < y0 + r ? y0 + r : (py > y1 - r ? y1 - r : py);
            double dx = px - cx, dy = py - cy;
            if (dx * dx + dy * dy <= static_cast<double>(r) * r) ++hits;
        }
    return hits * 255 / 16;
}

void rounded_box(Image& img, int x0, int y0, int x1, int y1, int r, const ButtonStyle& s) {
    for (int y = y0; y < y1; ++y) {
        Rgb body = mix(s.top, s.bottom, y1 - y0 > 1 ? (y - y0) * 255 / (y1 - y0 - 1) : 0);
        for (int x = x0; x < x1; ++x) {
            int outer = rounded_coverage(x, y, x0, y0, x1, y1, r);
            if (outer == 0) continue;
            int inner = rounded_coverage(x, y, x0 + 1, y0 + 1, x1 - 1, y1 - 1, r > 1 ? r - 1 : 1);
            Rgb c = mix(s.border, body, inner);
            if (inner > 0 && y == y0 + 1) c = mix(s.border, s.highlight, inner);
            blend_pixel(img, x, y, c, outer);
        }
    }
}

namespace {

FT_Library library() {
    static FT_Library lib = nullptr;
    if (!lib && FT_Init_FreeType(&lib) != 0) {
        std::fprintf(stderr, "asset_gen: FreeType cannot start\n");
        std::exit(1);
    }
    return lib;
}

FT_Face face_for(const TextRun& run) {
    static std::map<std::string, FT_Face> faces;
    auto it = faces.find(run.face_file);
    FT_Face face;
    if (it == faces.end()) {
        if (FT_New_Face(library(), run.face_file.c_str(), 0, &face) != 0) {
            std::fprintf(stderr, "asset_gen: cannot open font %s\n", run.face_file.c_str());
            std::exit(1);
        }
        faces[run.face_file] = face;
    } else {
        face = it->second;
    }
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(run.pixel_size));
    return face;
}

// Renders one glyph with light hinting (vertical only), which keeps stems crisp at button sizes.
FT_GlyphSlot render(FT_Face face, unsigned char ch) {
    if (FT_Load_Char(face, ch, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) return nullptr;
    return face->glyph;
}

}  // namespace

int text_width(const TextRun& run, const std::string& text) {
    FT_Face face = face_for(run);
    long pen = 0;
    for (unsigned char ch : text) {
        FT_GlyphSlot g = render(face, ch);
        if (g) pen += g->advance.x;
    }
    return static_cast<int>((pen + 32) >> 6);
}

int cap_height(const TextRun& run) {
    FT_Face face = face_for(run);
    FT_GlyphSlot g = render(face, 'H');
    return g ? g->bitmap_top : run.pixel_size * 3 / 4;
}

void draw_text(Image& img, const TextRun& run, const std::string& text, int x, int baseline, Rgb c) {
    FT_Face face = face_for(run);
    long pen = static_cast<long>(x) << 6;
    for (unsigned char ch : text) {
        FT_GlyphSlot g = render(face, ch);
        if (!g) continue;
        int gx = static_cast<int>((pen + 32) >> 6) + g->bitmap_left;
        int gy = baseline - g->bitmap_top;
        for (unsigned row = 0; row < g->bitmap.rows; ++row)
            for (unsigned col = 0; col < g->bitmap.width; ++col) {
                int cov = g->bitmap.buffer[row * g->bitmap.pitch + col];
                blend_pixel(img, gx + static_cast<int>(col), gy + static_cast<int>(row), c, cov);
            }
        pen += g->advance.x;
    }
}

int draw_text_centred(Image& img, TextRun run, const std::string& text, int x0, int y0, int x1, int y1,
                      Rgb c, Rgb shadow, bool with_shadow) {
    int room = x1 - x0 - (with_shadow ? 1 : 0);
    while (run.pixel_size > 6 && text_width(run, text) > room) --run.pixel_size;
    int w = text_width(run, text);
    int ch = cap_height(run);
    int x = x0 + (x1 - x0 - w) / 2;
    int baseline = y0 + (y1 - y0 + ch) / 2;
    if (with_shadow) draw_text(img, run, text, x + 1, baseline + 1, shadow);
    draw_text(img, run, text, x, baseline, c);
    return run.pixel_size;
}

void paste(Image& dst, const Image& src, int x, int y) {
    for (int j = 0; j < src.height; ++j)
        for (int i = 0; i < src.width; ++i)
            if (dst.inside(x + i, y + j)) dst.at(x + i, y + j) = src.at(i, j);
}

Image scale_up(const Image& src, int factor) {
    Image out(src.width * factor, src.height * factor);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) out.at(x, y) = src.at(x / factor, y / factor);
    return out;
}

void key_outside(Image& art, const Image& mask) {
    for (size_t i = 0; i < art.px.size(); ++i)
        if (mask.px[i] == Rgb{0, 0, 0}) art.px[i] = KEY_RGB;
}
