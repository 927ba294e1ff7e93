// The JPEG decoder against libjpeg's own decode of the same files, plus its exact rules
// (clamps, scale table, whole-MCU drawing, restarts, signature).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "media/jpeg_decoder.h"
#include "media/png_writer.h"
#include "tests/support/jpeg_fixtures.h"

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
    EXPECT_EQ(jpeg_decode(jpeg.data(), jpeg.size(), ours.data(), w, h), 1);
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
            rgb565_to_rgb888(got, g8);
            rgb565_to_rgb888(want, r8);
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

// Measured over every kind, size, quality and restart setting below: PSNR at least 34.9 dB,
// largest single-channel error 3 (red, blue) and 4 (green) RGB565 steps. The bound leaves one
// step of margin; a wrong table, sign or block order breaks it by far.
constexpr int MAX_ERROR_5 = 4, MAX_ERROR_6 = 5;

TEST(JpegDecoder, MatchesLibjpegOnEveryKindSizeQualityAndRestart) {
    const Kind kinds[] = {{"4:2:0", 3, 2, 2}, {"4:2:2", 3, 2, 1}, {"4:4:4", 3, 1, 1},
                          {"grey", 1, 1, 1},  {"4:1:1", 3, 4, 1}};
    const int sizes[][2] = {{240, 240}, {240, 320}, {100, 100}, {241, 239}};
    const int qualities[] = {50, 85, 100};
    const int restarts[] = {0, 1, 7};
    double worst_psnr = 99;
    int worst[3] = {0, 0, 0};
    uint32_t seed = 1;
    for (const Kind& kind : kinds) {
        for (const auto& size : sizes) {
            for (int quality : qualities) {
                for (int restart : restarts) {
                    JpegFixtureOptions o;
                    o.quality = quality;
                    o.components = kind.components;
                    o.luma_h = kind.luma_h;
                    o.luma_v = kind.luma_v;
                    o.restart_interval = restart;
                    std::vector<uint8_t> jpeg = make_test_jpeg(size[0], size[1], o, seed++);
                    ASSERT_FALSE(jpeg.empty());
                    int mcu_w = kind.components == 1 ? 8 : 8 * kind.luma_h;
                    int mcu_h = kind.components == 1 ? 8 : 8 * kind.luma_v;
                    Comparison c = compare_with_libjpeg(jpeg, mcu_w, mcu_h);
                    SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(size[0]) + "x" +
                                 std::to_string(size[1]) + " q" + std::to_string(quality) +
                                 " restart " + std::to_string(restart));
                    EXPECT_GE(c.psnr, 30.0);
                    EXPECT_LE(c.max_error[0], MAX_ERROR_5);
                    EXPECT_LE(c.max_error[1], MAX_ERROR_6);
                    EXPECT_LE(c.max_error[2], MAX_ERROR_5);
                    worst_psnr = std::min(worst_psnr, c.psnr);
                    for (int k = 0; k < 3; ++k) worst[k] = std::max(worst[k], c.max_error[k]);
                }
            }
        }
    }
    std::printf("worst PSNR %.2f dB, max error r %d g %d b %d\n", worst_psnr, worst[0], worst[1],
                worst[2]);
}

}  // namespace
