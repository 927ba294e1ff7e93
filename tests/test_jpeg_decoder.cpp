// The JPEG decoder against libjpeg's own decode of the same files (every sampling, size, quality
// and restart setting, whole MCUs only), plus its exact rules (clamps, scale table, colour).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "media/rgb565.h"
#include "media/jpeg_decoder.h"
#include "render/layers.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/check.h"

namespace {

constexpr uint16_t UNTOUCHED = 0xF81F;

struct Comparison {
    double psnr;       // over the drawn area, channels widened to 8 bits
    int max_error[3];  // per channel in RGB565 units (red 0..31, green 0..63, blue 0..31)
    int drawn;         // pixels compared
};

// Decodes with both decoders into a picture-sized buffer and compares the drawn area, where
// the reference is libjpeg's RGB truncated to RGB565.
Comparison compare_with_libjpeg(const std::vector<uint8_t>& jpeg, int mcu_w, int mcu_h) {
    Comparison result{0, {0, 0, 0}, 0};
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    EXPECT_TRUE(libjpeg_decode_rgb(jpeg, &rgb, &w, &h));
    std::vector<uint16_t> ours(static_cast<size_t>(w) * h, UNTOUCHED);
    EXPECT_EQ(jpeg_decode(jpeg.data(), jpeg.size(), ours.data(), w, h), JPEG_OK);
    int drawn_w = w / mcu_w * mcu_w, drawn_h = h / mcu_h * mcu_h;
    double squared = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint16_t got = ours[static_cast<size_t>(y) * w + x];
            if (x >= drawn_w || y >= drawn_h) {
                EXPECT_EQ(got, UNTOUCHED) << "outside the whole MCUs at " << x << "," << y;
                continue;
            }
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            uint16_t want = static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
            int g[3] = {got >> 11, (got >> 5) & 63, got & 31};
            int r[3] = {want >> 11, (want >> 5) & 63, want & 31};
            uint8_t g8[3], r8[3];
            rgb565_unpack(got, g8);
            rgb565_unpack(want, r8);
            for (int k = 0; k < 3; ++k) {
                result.max_error[k] = std::max(result.max_error[k], std::abs(g[k] - r[k]));
                squared += (g8[k] - r8[k]) * (g8[k] - r8[k]);
            }
            ++result.drawn;
        }
    }
    double mse = squared / (3.0 * result.drawn);
    result.psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    return result;
}

struct Kind {
    const char* name;
    int components, luma_h, luma_v;
};

// Measured over every kind, size, quality and restart setting below (216 pictures): PSNR at
// least 32.5 dB, largest single-channel error 2 (red), 3 (green) and 3 (blue) RGB565 steps. The
// bound leaves one step of margin; a wrong table, sign or block order breaks it by far.
constexpr int MAX_ERROR = 4;

TEST(JpegDecoder, MatchesLibjpegOnEveryKindSizeQualityAndRestart) {
    const Kind kinds[] = {{"4:2:0", 3, 2, 2}, {"4:2:2", 3, 2, 1}, {"4:4:4", 3, 1, 1},
                          {"grey", 1, 1, 1},  {"4:1:1", 3, 4, 1}, {"4:4:0", 3, 1, 2}};
    const int sizes[][2] = {{240, 240}, {240, 320}, {100, 100}, {241, 239}};
    const int qualities[] = {50, 85, 100};
    const int restarts[] = {0, 1, 7};
    uint32_t seed = 1;
    for (const Kind& kind : kinds) {
        for (const auto& size : sizes) {
            for (int quality : qualities) {
                for (int restart : restarts) {
                    const JpegFixtureOptions o{quality, kind.components, kind.luma_h, kind.luma_v, restart};
                    std::vector<uint8_t> jpeg = make_test_jpeg(size[0], size[1], o, seed++);
                    ASSERT_FALSE(jpeg.empty());
                    int mcu_w = kind.components == 1 ? 8 : 8 * kind.luma_h;
                    int mcu_h = kind.components == 1 ? 8 : 8 * kind.luma_v;
                    Comparison c = compare_with_libjpeg(jpeg, mcu_w, mcu_h);
                    SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(size[0]) + "x" +
                                 std::to_string(size[1]) + " q" + std::to_string(quality) +
                                 " restart " + std::to_string(restart));
                    EXPECT_GE(c.psnr, 30.0);
                    EXPECT_LE(std::max({c.max_error[0], c.max_error[1], c.max_error[2]}), MAX_ERROR);
                }
            }
        }
    }
}

TEST(JpegDecoder, TablesAndColourRules) {
    const double pi = std::acos(-1.0);
    auto a = [&](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * pi / 16); };
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            EXPECT_EQ(aan_scale[u * 8 + v], static_cast<int32_t>(256 * a(u) * a(v))) << u << "," << v;
    EXPECT_EQ(aan_scale[1] + aan_scale[63], 355 + 19);
    for (int i = CLAMP5_MIN; i <= CLAMP5_MAX; ++i) EXPECT_EQ(clamp5[i], std::clamp(i, 0, 31)) << i;
    for (int i = CLAMP6_MIN; i <= CLAMP6_MAX; ++i) EXPECT_EQ(clamp6[i], std::clamp(i, 0, 63)) << i;
    EXPECT_EQ(vals(jpeg_ycc_to_rgb565(63, 0, 0), jpeg_ycc_to_rgb565(-64, 0, 0)), vals(0xFFFF, 0));  // white, black
    // Neutral chroma: blue equals red and green is red at one more bit.
    for (int y = -128; y <= 127; ++y) {
        uint16_t p = jpeg_ycc_to_rgb565(static_cast<int8_t>(y), 0, 0);
        EXPECT_EQ(p >> 11, p & 31) << y;
        EXPECT_EQ(((p >> 5) & 63) >> 1, p >> 11) << y;
    }
    // Strong red: Cr at its top pushes red to 31 and green down.
    uint16_t red = jpeg_ycc_to_rgb565(0, 0, 127);
    EXPECT_EQ(red >> 11, 31);
    EXPECT_LT((red >> 5) & 63, 32);
    // The zigzag order visits every natural index once.
    std::vector<int> seen(64, 0);
    for (int i = 0; i < 64; ++i) ++seen[jpeg_zigzag[i]];
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 64);
    // The signature: FF D8, or a lone FF that may still become one.
    const uint8_t starts[] = {0xFF, 0xD8, 0xFF, 0xD9, 0x00};
    EXPECT_EQ(vals(jpeg_check_signature(starts, 0), jpeg_check_signature(starts, 1), jpeg_check_signature(starts, 2),
                   jpeg_check_signature(starts + 2, 2), jpeg_check_signature(starts + 4, 1)),
              vals(0, 1, 1, 0, 0));
}

// The fixed-geometry conversions against the general one, on random samples over the whole
// signed-byte range, and the 1 x 1 path against the one-pixel rule for every (Y, Cb, Cr).
TEST(JpegDecoder, FastConversionsMatchTheGeneralPath) {
    std::mt19937 random(7);
    alignas(16) int8_t samples[640];
    uint16_t fast[16 * 16], general[16 * 16];
    struct Geometry { void (*convert)(const int8_t*, uint16_t*, int); int luma_h, luma_v; } geometries[] = {
        {jpeg_convert_2x2, 2, 2}, {jpeg_convert_2x1, 2, 1}, {jpeg_convert_1x1, 1, 1}};
    for (const Geometry& g : geometries) {
        int plane[3] = {0, 64 * g.luma_h * g.luma_v, 64 * g.luma_h * g.luma_v + 64};
        int hstep[3] = {256, 256 / g.luma_h, 256 / g.luma_h};
        int vstep[3] = {256, 256 / g.luma_v, 256 / g.luma_v};
        int w = 8 * g.luma_h, h = 8 * g.luma_v;
        for (int round = 0; round < 200; ++round) {
            for (int8_t& v : samples) v = static_cast<int8_t>(random());
            std::fill(std::begin(fast), std::end(fast), UNTOUCHED);
            std::fill(std::begin(general), std::end(general), UNTOUCHED);
            g.convert(samples, fast, 16);
            jpeg_convert_general(samples, plane, hstep, vstep, w, h, general, 16);
            ASSERT_EQ(std::memcmp(fast, general, sizeof fast), 0) << g.luma_h << "x" << g.luma_v;
        }
    }
    for (int y = -128; y <= 127; ++y) {
        for (int cb = -128; cb <= 127; ++cb) {
            for (int cr0 = -128; cr0 <= 127; cr0 += 8) {
                for (int i = 0; i < 64; ++i) {  // 8 rows of 8 pixels: cr0 .. cr0 + 7
                    samples[i] = static_cast<int8_t>(y);
                    samples[64 + i] = static_cast<int8_t>(cb);
                    samples[128 + i] = static_cast<int8_t>(cr0 + i % 8);
                }
                jpeg_convert_1x1(samples, fast, 8);
                for (int i = 0; i < 8; ++i)
                    ASSERT_EQ(fast[i], jpeg_ycc_to_rgb565(static_cast<int8_t>(y), static_cast<int8_t>(cb),
                                                         static_cast<int8_t>(cr0 + i)))
                        << y << " " << cb << " " << cr0 + i;
            }
        }
    }
}

// The vector transform against the portable one: sparse blocks like real ones, dense blocks,
// and hostile magnitudes where the arithmetic wraps.
TEST(JpegDecoder, InverseDctFormsAgree) {
    std::mt19937 random(11);
    alignas(16) int32_t a[64], b[64];
    int8_t out_a[8 * 10], out_b[8 * 10];
    for (int round = 0; round < 3000; ++round) {
        int kind = round % 3;
        for (int i = 0; i < 64; ++i) {
            uint32_t r = random();
            if (kind == 0) a[i] = (i < 10 && r % 3 == 0) ? static_cast<int32_t>(r % 200000) - 100000 : 0;
            else if (kind == 1) a[i] = static_cast<int32_t>(r % 2000000) - 1000000;
            else a[i] = static_cast<int32_t>(r);
        }
        std::memcpy(b, a, sizeof a);
        std::memset(out_a, 0x55, sizeof out_a);
        std::memset(out_b, 0x55, sizeof out_b);
        jpeg_idct(a, out_a, 10);
        jpeg_idct_scalar(b, out_b, 10);
        ASSERT_EQ(std::memcmp(out_a, out_b, sizeof out_a), 0) << "round " << round;
        for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], 0);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(b[i], 0);
        // The same block cut to its top-left 4 x 4 through the shorter form.
        for (int i = 0; i < 64; ++i) {
            uint32_t r = random();
            a[i] = (i % 8 < 4 && i < 32) ? (kind == 2 ? static_cast<int32_t>(r) : static_cast<int32_t>(r % 400000) - 200000) : 0;
        }
        std::memcpy(b, a, sizeof a);
        jpeg_idct_top_left(a, out_a, 10);
        jpeg_idct_scalar(b, out_b, 10);
        ASSERT_EQ(std::memcmp(out_a, out_b, sizeof out_a), 0) << "top-left round " << round;
        for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], 0);
    }
    // A DC-only block gives its value / 16 (half scale of value / 8) everywhere.
    std::memset(a, 0, sizeof a);
    a[0] = 100 * 256;  // DC 100 with quantiser 1
    jpeg_idct(a, out_a, 8);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out_a[i], (100 * 256) >> 12);
}

// The layer gets the picture's own size from its frame header (any layout of the headers), is
// opaque, and holds exactly what jpeg_decode draws, with black where no whole MCU fits.
TEST(JpegDecoder, ToLayerTakesTheSizeFromTheFrameHeader) {
    std::vector<uint8_t> jpeg = make_test_jpeg(241, 239, JpegFixtureOptions{}, 30);
    ASSERT_EQ(jpeg_to_layer(15, jpeg.data(), jpeg.size()), 1);
    const LayerSlot& slot = LayerTable[15];
    ASSERT_EQ(vals(slot.in_use, slot.format, slot.opaque, slot.width, slot.height), vals(1, LAYER_FORMAT_RGB565, 1, 241, 239));
    std::vector<uint16_t> want(241 * 239, 0);
    ASSERT_EQ(jpeg_decode(jpeg.data(), jpeg.size(), want.data(), 241, 239), JPEG_OK);
    EXPECT_EQ(std::memcmp(layer_rgb565(15), want.data(), want.size() * 2), 0);
    layer_free(15);

    const uint8_t garbage[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(vals(jpeg_to_layer(14, garbage, sizeof garbage), LayerTable[14].in_use), vals(0, 0));
    EXPECT_EQ(jpeg_to_layer(16, jpeg.data(), jpeg.size()) + jpeg_to_layer(-1, jpeg.data(), jpeg.size()), 0);
}

}  // namespace
