// PNG loading: test pictures are written in memory with libpng's own writer, so every byte of
// the input is known. Truncated and garbage inputs run under ASan in the sanitizer build, which
// also reports any leak on the failure paths.
#include <gtest/gtest.h>

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/png_loader.h"

namespace {

struct PngSpec {
    int width = 1, height = 1;
    int colour_type = PNG_COLOR_TYPE_RGB;
    int bit_depth = 8;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<uint8_t> trns;
    std::vector<uint8_t> pixels;  // packed rows as libpng expects them
};

void append(png_structp png, png_bytep data, size_t n) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
}
void no_flush(png_structp) {}

std::string encode(const PngSpec& spec) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "test PNG could not be written";
        return {};
    }
    png_set_write_fn(png, &out, append, no_flush);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bit_depth, spec.colour_type,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, spec.palette.data(), int(spec.palette.size()));
    if (!spec.trns.empty())
        png_set_tRNS(png, info, spec.trns.data(), int(spec.trns.size()), nullptr);
    png_write_info(png, info);
    const size_t row_bytes = spec.pixels.size() / size_t(spec.height);
    std::vector<png_bytep> rows(size_t(spec.height));
    for (int y = 0; y < spec.height; ++y)
        rows[size_t(y)] = const_cast<png_bytep>(spec.pixels.data() + size_t(y) * row_bytes);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Loads from an exactly sized heap copy, so ASan sees any read past the end.
Bitmap* load_bitmap(const std::string& bytes) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    return bitmap_from_png(copy.data(), copy.size());
}

std::vector<uint8_t> runs_of_row(const Bitmap* b, int row, size_t n) {
    const uint8_t* p = b->runs + b->row_offsets[row];
    return std::vector<uint8_t>(p, p + n);
}

PngSpec rgb(int w, int h, std::vector<uint8_t> px) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.pixels = std::move(px);
    return s;
}

PngSpec rgba(int w, int h, std::vector<uint8_t> px) {
    PngSpec s = rgb(w, h, std::move(px));
    s.colour_type = PNG_COLOR_TYPE_RGBA;
    return s;
}

class PngLoader : public ::testing::Test {
protected:
    void TearDown() override {
        bitmap_free_all();
        fonts_free();
    }
};

TEST_F(PngLoader, RgbWithoutKeyIsOpaqueKind2) {
    Bitmap* b = load_bitmap(encode(rgb(2, 1, {255, 0, 0, 0, 255, 255})));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, BITMAP_RGB565);
    EXPECT_EQ(b->opaque, 1);
    EXPECT_EQ(b->runs, nullptr);
    EXPECT_EQ(b->row_offsets, nullptr);
    EXPECT_EQ(b->width, 2);
    const auto* px = static_cast<const uint16_t*>(b->pixels);
    EXPECT_EQ(px[0], 0xF800);
    EXPECT_EQ(px[1], 0x07FF);
}

TEST_F(PngLoader, RgbWithKeyGetsSkipDrawPairs) {
    // Row 0: key key red red red key; row 1: all visible; row 2: all key (248,0,248 converts
    // to 0xF81F too).
    std::vector<uint8_t> px;
    auto put = [&](uint8_t r, uint8_t g, uint8_t b) { px.insert(px.end(), {r, g, b}); };
    for (int k : {1, 1, 0, 0, 0, 1}) k ? put(255, 0, 255) : put(255, 0, 0);
    for (int k = 0; k < 6; ++k) put(10, 20, 30);
    for (int k = 0; k < 6; ++k) put(248, 0, 248);
    Bitmap* b = load_bitmap(encode(rgb(6, 3, px)));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, BITMAP_RGB565);
    EXPECT_EQ(b->opaque, 0);
    EXPECT_EQ(b->row_offsets[0], 0);
    EXPECT_EQ(runs_of_row(b, 0, 3), (std::vector<uint8_t>{2, 3, 1}));
    EXPECT_EQ(runs_of_row(b, 1, 2), (std::vector<uint8_t>{0, 6}));
    EXPECT_EQ(runs_of_row(b, 2, 5), (std::vector<uint8_t>{6, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(PngLoader, LongRunsAreSplitAndHugeStreamsRefused) {
    std::vector<uint8_t> px;
    for (int k = 0; k < 600; ++k) px.insert(px.end(), {255, 0, 255});
    Bitmap* b = load_bitmap(encode(rgb(600, 1, px)));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(runs_of_row(b, 0, 5), (std::vector<uint8_t>{255, 0, 255, 0, 90}));
    // Alternating key and visible pixels: 2000 counts per row, 40 rows pass 65535 bytes.
    px.clear();
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 2000; ++x)
            x & 1 ? px.insert(px.end(), {1, 2, 3}) : px.insert(px.end(), {255, 0, 255});
    EXPECT_EQ(load_bitmap(encode(rgb(2000, 40, px))), nullptr);
    EXPECT_EQ(png_error_code, 6);
}

TEST_F(PngLoader, OpaqueRgbaHasAlphaPlaneOf32) {
    Bitmap* b = load_bitmap(encode(rgba(2, 2, {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 0, 0, 0, 255})));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, BITMAP_RGB565_ALPHA);
    EXPECT_EQ(b->opaque, 1);
    EXPECT_EQ(b->runs, nullptr);
    ASSERT_EQ(b->alpha, reinterpret_cast<uint8_t*>(b->pixels) + 2 * 4);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(b->alpha[k], 32);
}

TEST_F(PngLoader, TriplesAndAlphaRounding) {
    // Row 0: alphas 0, 128, 255 -> one skip, one translucent, one opaque.
    // Row 1: opaque, opaque, key colour at full alpha -> 0, 0, 2 then 1, 0, 0.
    Bitmap* b = load_bitmap(encode(rgba(3, 2, {9, 9, 9, 0,   9, 9, 9, 128,   9, 9, 9, 255,
                                               9, 9, 9, 255, 9, 9, 9, 255, 255, 0, 255, 255})));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->opaque, 0);
    EXPECT_EQ(runs_of_row(b, 0, 3), (std::vector<uint8_t>{1, 1, 1}));
    EXPECT_EQ(runs_of_row(b, 1, 6), (std::vector<uint8_t>{0, 0, 2, 1, 0, 0}));
    Bitmap* two = load_bitmap(encode(rgba(2, 1, {1, 1, 1, 255, 2, 2, 2, 255})));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->opaque, 1);

    std::string bytes = encode(rgba(4, 1, {0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 251, 0, 0, 0, 252}));
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    uint16_t* block = png_load(copy.data(), copy.size());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(png_has_alpha, 1);
    EXPECT_EQ(png_opaque, 0);
    const uint8_t* alpha = reinterpret_cast<uint8_t*>(block + 4);
    EXPECT_EQ(alpha[0], 0);
    EXPECT_EQ(alpha[1], 1);
    EXPECT_EQ(alpha[2], 31);
    EXPECT_EQ(alpha[3], 32);
    std::free(block);
}

TEST_F(PngLoader, PaletteGreyAndSixteenBitInputs) {
    PngSpec pal;
    pal.width = 2;
    pal.colour_type = PNG_COLOR_TYPE_PALETTE;
    pal.palette = {{255, 0, 0}, {0, 0, 255}};
    pal.trns = {255, 0};
    pal.pixels = {0, 1};
    Bitmap* b = load_bitmap(encode(pal));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, BITMAP_RGB565_ALPHA);
    EXPECT_EQ(static_cast<uint16_t*>(b->pixels)[0], 0xF800);
    EXPECT_EQ(b->alpha[0], 32);
    EXPECT_EQ(b->alpha[1], 0);
    pal.trns.clear();
    b = load_bitmap(encode(pal));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, BITMAP_RGB565);

    PngSpec grey;
    grey.width = 8;
    grey.colour_type = PNG_COLOR_TYPE_GRAY;
    grey.bit_depth = 1;
    grey.pixels = {0xA0};  // 1 0 1 0 0 0 0 0
    b = load_bitmap(encode(grey));
    ASSERT_NE(b, nullptr);
    const auto* px = static_cast<uint16_t*>(b->pixels);
    EXPECT_EQ(px[0], 0xFFFF);
    EXPECT_EQ(px[1], 0x0000);
    EXPECT_EQ(px[2], 0xFFFF);

    PngSpec deep = rgb(1, 1, {0x12, 0x34, 0x80, 0x00, 0xF8, 0x00});  // 16-bit RGB, high bytes first
    deep.bit_depth = 16;
    b = load_bitmap(encode(deep));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(static_cast<uint16_t*>(b->pixels)[0], (0x12 >> 3) << 11 | (0x80 >> 2) << 5 | (0xF8 >> 3));
}

TEST_F(PngLoader, InterlacedMatchesPlain) {
    std::vector<uint8_t> px;
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 11; ++x)
            px.insert(px.end(), {uint8_t(x * 20), uint8_t(y * 19), uint8_t(x * y), uint8_t(255 - x * y)});
    PngSpec plain = rgba(11, 13, px), laced = plain;
    laced.interlaced = true;
    Bitmap* a = load_bitmap(encode(plain));
    Bitmap* b = load_bitmap(encode(laced));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::memcmp(a->pixels, b->pixels, 11 * 13 * 3), 0);
}

TEST_F(PngLoader, BadInputsGiveNull) {
    std::vector<uint8_t> px(3 * 40 * 30);
    for (size_t k = 0; k < px.size(); ++k) px[k] = uint8_t(k * 7);
    const std::string good = encode(rgb(40, 30, px));
    // Every truncation fails cleanly (never a partial picture, never a read past the end).
    for (size_t cut : {size_t(0), size_t(7), size_t(8), size_t(20), size_t(33), good.size() / 2,
                       good.size() - 13}) {
        EXPECT_EQ(load_bitmap(good.substr(0, cut)), nullptr) << cut;
    }
    EXPECT_EQ(load_bitmap(std::string(200, 'x')), nullptr);
    EXPECT_EQ(png_error_code, 1);
    std::string corrupt = good;
    for (size_t k = 40; k < corrupt.size(); k += 3) corrupt[k] = char(corrupt[k] ^ 0x5A);
    EXPECT_EQ(load_bitmap(corrupt), nullptr);
    EXPECT_EQ(png_load(nullptr, 100), nullptr);
    EXPECT_EQ(bitmap_count, 0);
}

TEST_F(PngLoader, RowsWiderThanTheBufferAreRefused) {
    EXPECT_NE(load_bitmap(encode(rgb(2730, 1, std::vector<uint8_t>(3 * 2730, 7)))), nullptr);
    EXPECT_EQ(load_bitmap(encode(rgb(2731, 1, std::vector<uint8_t>(3 * 2731, 7)))), nullptr);
    EXPECT_EQ(png_error_code, 6);
    EXPECT_EQ(load_bitmap(encode(rgba(2049, 1, std::vector<uint8_t>(4 * 2049, 7)))), nullptr);
}

uint32_t crc32_of(const std::string& bytes, size_t from, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t k = from; k < from + n; ++k) {
        c ^= uint8_t(bytes[k]);
        for (int b = 0; b < 8; ++b) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

TEST_F(PngLoader, HeaderPromisingMoreThanTheDataIsRefused) {
    // A valid 1 x 1 picture whose IHDR (with a correct CRC) claims 2000 x 30000 pixels.
    std::string bytes = encode(rgb(1, 1, {1, 2, 3}));
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) bytes[at + k] = char(v >> (24 - 8 * k));
    };
    put32(16, 2000);
    put32(20, 30000);
    put32(29, crc32_of(bytes, 12, 17));
    EXPECT_EQ(load_bitmap(bytes), nullptr);
    EXPECT_EQ(png_error_code, 6);
}

TEST_F(PngLoader, FontsFromPng) {
    // A 64 x 16 sheet: cells of 2 x 2. Code 33 ('!') has ink in its left column only.
    std::vector<uint8_t> keyed(64 * 16 * 3, 0);
    for (size_t k = 0; k < keyed.size(); k += 3) keyed[k] = 255, keyed[k + 2] = 255;  // all key
    auto ink = [&](int x, int y) { keyed[size_t(y * 64 + x) * 3 + 0] = 0; };
    ink(2, 2);   // code 33, cell (1, 1): column 0, row 0
    ink(2, 3);   // row 1
    ink(3 * 2 + 1, 2);  // code 35, column 1
    std::string bytes = encode(rgb(64, 16, keyed));
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    ASSERT_EQ(font_from_png(9, copy.data(), copy.size()), 1);
    ASSERT_NE(font_table[9], nullptr);
    EXPECT_EQ(font_weighted[9], 0);
    EXPECT_EQ(font_table[9]->glyph_height, 2);
    EXPECT_EQ(font_table[9]->glyph_widths[33], 1);
    EXPECT_EQ(font_table[9]->glyph_widths[32], 1);
    EXPECT_EQ(font_table[9]->glyph_widths[35], 2);

    std::vector<uint8_t> alpha_sheet(64 * 16 * 4, 0);
    alpha_sheet[size_t(2 * 64 + 2) * 4 + 3] = 255;
    alpha_sheet[size_t(3 * 64 + 2) * 4 + 3] = 100;
    bytes = encode(rgba(64, 16, alpha_sheet));
    copy.assign(bytes.begin(), bytes.end());
    ASSERT_EQ(font_from_png(10, copy.data(), copy.size()), 1);
    EXPECT_EQ(font_weighted[10], 1);
    const Font* f = font_table[10];
    const uint16_t* glyph = f->glyph_pixels + f->glyph_offsets[33];
    EXPECT_EQ(glyph[2], 32);  // weight plane after the 1 x 2 colour plane
    EXPECT_EQ(glyph[3], 13);  // (100 + 4) >> 3
    copy.resize(copy.size() - 20);
    EXPECT_EQ(font_from_png(11, copy.data(), copy.size()), 0);
    EXPECT_EQ(font_table[11], nullptr);
}

}  // namespace
