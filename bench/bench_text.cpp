// Text and PNG hot paths. Drawing: a screen full of font-1 text through text_layer_draw (masks
// stored pre-expanded) against the same glyphs drawn by unpacking the font's packed bits every
// frame. Layout: one text_set of a long paragraph, against one frame of drawing it. PNG: png_load
// (decode + RGB565 conversion) against libpng's own decode of the same file to RGB bytes.
#include <benchmark/benchmark.h>

#include <png.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "media/fonts.h"
#include "media/png_loader.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/layers.h"
#include "render/framebuffer.h"
#include "runtime/sprites.h"

namespace {

std::string paragraph() {
    std::string s;
    while (s.size() < 1400) s += "The quick brown fox jumps over the lazy dog, 0123456789. ";
    return s;
}

void fill_screen_with_text() {
    active_clips[0] = ClipRect{0, 0, 239, 319};
    text_layer_create(1);
    text_set(1, 0, 0, 0, 239, 319, paragraph().c_str(), 0x001F, 1, TextStyle{}, 2000);
}

void BM_TextLayerDraw(benchmark::State& state) {
    fill_screen_with_text();
    for (auto _ : state) {
        text_layer_draw(1);
        benchmark::ClobberMemory();
    }
    state.counters["glyphs"] = text_items[1][0].glyph_count;
}
BENCHMARK(BM_TextLayerDraw);

// Reference: the same placed glyphs, each pixel's bit read from the packed font data.
void BM_PackedBitsDraw(benchmark::State& state) {
    fill_screen_with_text();
    const TextItem& it = text_items[1][0];
    const Font* f = font_table[1];
    const uint8_t* bits = asset_font1_bits;
    const int h = f->glyph_height;
    for (auto _ : state) {
        for (int32_t g = 0; g < it.glyph_count; ++g) {
            const PlacedGlyph& pg = it.glyphs[g];
            const int w = f->glyph_widths[pg.code];
            const uint32_t first = f->glyph_offsets[pg.code] / 2;
            for (int y = 0; y < h; ++y) {
                const int sy = pg.y + y;
                if (sy < 0 || sy > 319) continue;
                for (int x = 0; x < w; ++x) {
                    const int sx = pg.x + x;
                    const uint32_t k = first + uint32_t(y * w + x);
                    if (sx >= 0 && sx < 240 && ((bits[k >> 3] >> (k & 7)) & 1))
                        Framebuffer[sy * 240 + sx] = it.colour;
                }
            }
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PackedBitsDraw);

void BM_TextSetLayout(benchmark::State& state) {
    fill_screen_with_text();
    const std::string s = paragraph();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            text_set(1, 1, 0, 0, 239, 319, s.c_str(), 0, 1, TextStyle{32, 1, 0, ALIGN_JUSTIFY, 0}, 2000));
}
BENCHMARK(BM_TextSetLayout);

// A 240 x 320 RGBA picture with smooth colours and an alpha ramp, encoded once.
std::string test_png() {
    std::string out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 240;
    image.height = 320;
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> px(240 * 320 * 4);
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 240; ++x) {
            uint8_t* p = &px[size_t(y * 240 + x) * 4];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y * 3 / 4);
            p[2] = uint8_t((x * y) >> 8);
            p[3] = uint8_t(y < 160 ? 255 : 255 - (y - 160));
        }
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, px.data(), 0, nullptr);
    out.resize(size);
    png_image_write_to_memory(&image, &out[0], &size, 0, px.data(), 0, nullptr);
    out.resize(size);
    return out;
}

void BM_PngLoad(benchmark::State& state) {
    const std::string bytes = test_png();
    for (auto _ : state) {
        uint16_t* block = png_load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}
BENCHMARK(BM_PngLoad);

// Reference: libpng's simplified reader decoding the same bytes to RGBA, no conversion.
void BM_LibpngDecode(benchmark::State& state) {
    const std::string bytes = test_png();
    std::vector<uint8_t> out(240 * 320 * 4);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
        image.format = PNG_FORMAT_RGBA;
        png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LibpngDecode);

}  // namespace

BENCHMARK_MAIN();
