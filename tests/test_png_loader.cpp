// PNG loading from inputs made with libpng's writer, loaded from exact-size heap copies so that
// the sanitizer build sees any read past the end and any block a failure path forgets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "media/png_loader.h"
#include "tests/support/png_fixtures.h"
#include "tests/support/check.h"

namespace {

PngSpec rgb(int w, int h, std::vector<uint8_t> px) { return {w, h, PNG_COLOR_TYPE_RGB, std::move(px)}; }
PngSpec rgba(int w, int h, std::vector<uint8_t> px) { return {w, h, PNG_COLOR_TYPE_RGBA, std::move(px)}; }

Bitmap* load(const std::string& bytes) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    return bitmap_from_png(copy.data(), copy.size());
}

std::vector<uint8_t> runs(const Bitmap* b, int row, size_t n) {
    const uint8_t* p = b->runs + b->row_offsets[row];
    return std::vector<uint8_t>(p, p + n);
}

class PngLoader : public ::testing::Test {
protected:
    void TearDown() override { bitmap_free_all(); }
};

// One picture of each kind (exact pixels, weights and run streams), then the hostile inputs.
TEST_F(PngLoader, PicturesOfEachKind) {
    // RGB rows: key key red red red key / all visible / all key (248,0,248 converts to 0xF81F too).
    std::vector<uint8_t> px;
    for (int k : {1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2})
        px.insert(px.end(), {uint8_t(k ? 255 - 7 * (k - 1) : 255), 0, uint8_t(k ? 255 - 7 * (k - 1) : 0)});
    Bitmap* b = load(png_encode(rgb(6, 3, px)));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(vals(b->kind, b->opaque, static_cast<uint16_t*>(b->pixels)[2]), vals(BITMAP_RGB565, 0, 0xF800));
    EXPECT_EQ(runs(b, 0, 3), (std::vector<uint8_t>{2, 3, 1}));
    EXPECT_EQ(runs(b, 1, 2), (std::vector<uint8_t>{0, 6}));
    EXPECT_EQ(runs(b, 2, 5), (std::vector<uint8_t>{6, 0xFF, 0xFF, 0xFF, 0xFF}));
    PngSpec laced = rgb(6, 3, {});  // the same picture stored interlaced, in 16-bit samples
    for (uint8_t v : px) laced.pixels.insert(laced.pixels.end(), {v, v});
    laced.interlaced = true, laced.bit_depth = 16;
    const Bitmap* c = load(png_encode(laced));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::vector<uint16_t>(static_cast<uint16_t*>(c->pixels), static_cast<uint16_t*>(c->pixels) + 18),
              std::vector<uint16_t>(static_cast<uint16_t*>(b->pixels), static_cast<uint16_t*>(b->pixels) + 18));
    EXPECT_EQ(runs(c, 0, 3), runs(b, 0, 3));
    // A palette of red, green and blue, in 8-bit and in packed 2-bit indices.
    for (int depth : {8, 2}) {
        const std::vector<uint8_t> indices = depth == 8 ? std::vector<uint8_t>{2, 0, 1} : std::vector<uint8_t>{0x84};
        const PngSpec spec{3, 1, PNG_COLOR_TYPE_PALETTE, indices, depth, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}};
        const Bitmap* p = load(png_encode(spec));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::vector<uint16_t>(static_cast<uint16_t*>(p->pixels), static_cast<uint16_t*>(p->pixels) + 3),
                  (std::vector<uint16_t>{0x001F, 0xF800, 0x07E0}))
            << depth;
    }
    // With alpha: red 255, green 128, blue 0, the key colour 255, white 255 give weights 32, 16,
    // 0, 32, 32; the key colour and weight 0 are skipped, so the triples are (skip, translucent,
    // opaque) = (0, 0, 1) red, (0, 1, 0) green, (2, 0, 1) blue and key, then white.
    b = load(png_encode(rgba(5, 1, {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 255, 0, 255, 255,
                                    255, 255, 255, 255})));
    ASSERT_NE(b, nullptr);
    const uint16_t* colours = static_cast<uint16_t*>(b->pixels);
    EXPECT_EQ(vals(b->kind, b->opaque, colours[0], colours[1], colours[2], colours[3], colours[4]),
              vals(BITMAP_RGB565_ALPHA, 0, 0xF800, 0x07E0, 0x001F, 0xF81F, 0xFFFF));
    EXPECT_EQ(std::vector<uint8_t>(b->alpha, b->alpha + 5), (std::vector<uint8_t>{32, 16, 0, 32, 32}));
    EXPECT_EQ(runs(b, 0, 13), (std::vector<uint8_t>{0, 0, 1, 0, 1, 0, 2, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}));
    b = load(png_encode(rgba(1, 2, {1, 2, 3, 255, 4, 5, 6, 255})));  // 1 wide, every weight 32: opaque, no runs
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(vals(b->kind, b->opaque, b->runs == nullptr), vals(BITMAP_RGB565_ALPHA, 1, true));
    // The weight is (A + 4) >> 3, in a plane after the pixels; the rounding edges:
    std::string bytes = png_encode(rgba(4, 1, {0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 251, 0, 0, 0, 252}));
    uint16_t* block = png_load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_NE(block, nullptr);
    const uint8_t* a = reinterpret_cast<uint8_t*>(block + 4);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 4), (std::vector<uint8_t>{0, 1, 31, 32}));
    std::free(block);
}

TEST_F(PngLoader, BadAndOversizedInputsGiveNull) {
    std::vector<uint8_t> px(3 * 40 * 30);
    for (size_t k = 0; k < px.size(); ++k) px[k] = uint8_t(k * 7);
    const std::string good = png_encode(rgb(40, 30, px));
    for (size_t cut : {size_t(0), size_t(8), size_t(33), good.size() / 2, good.size() - 13})
        EXPECT_EQ(load(good.substr(0, cut)), nullptr) << cut;
    EXPECT_EQ(load(std::string(200, 'x')), nullptr);
    EXPECT_EQ(png_error_code, 1);
    std::string corrupt = good;
    for (size_t k = 40; k < corrupt.size(); k += 3) corrupt[k] = char(corrupt[k] ^ 0x5A);
    EXPECT_EQ(load(corrupt), nullptr);
    // Rows wider than the 8192-byte row buffer.
    EXPECT_NE(load(png_encode(rgb(2730, 1, std::vector<uint8_t>(3 * 2730, 7)))), nullptr);
    EXPECT_EQ(load(png_encode(rgba(2049, 1, std::vector<uint8_t>(4 * 2049, 7)))), nullptr);
    EXPECT_EQ(png_error_code, 6);
    // A keyed picture whose run stream passes 16-bit offsets (2000 counts per row, 40 rows).
    px.clear();
    for (int k = 0; k < 2000 * 40; ++k) px.insert(px.end(), {255, uint8_t(k & 1 ? 255 : 0), 255});
    EXPECT_EQ(load(png_encode(rgb(2000, 40, px))), nullptr);
    EXPECT_EQ(png_error_code, 6);
    // A valid 1 x 1 picture whose IHDR (CRC fixed) claims 2000 x 30000 pixels.
    std::string big = png_encode(rgb(1, 1, {1, 2, 3}));
    png_claim_size(big, 2000, 30000);
    EXPECT_EQ(load(big), nullptr);
    EXPECT_EQ(png_error_code, 6);
    EXPECT_EQ(bitmap_count, 1);  // only the one good picture was registered
}

}  // namespace

// Runs longer than a count holds are split by a zero count of the next kind: 300 key pixels.
TEST_F(PngLoader, LongRunsAreSplit) {
    std::vector<uint8_t> key, clear(4 * 300, 0);
    for (int i = 0; i < 300; ++i) key.insert(key.end(), {255, 0, 255});
    Bitmap* a = load(png_encode(rgb(300, 1, key)));
    Bitmap* b = load(png_encode(rgba(300, 1, clear)));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(runs(a, 0, 3), (std::vector<uint8_t>{255, 0, 45}));
    EXPECT_EQ(runs(b, 0, 6), (std::vector<uint8_t>{255, 0, 0, 45, 0, 0}));
}
