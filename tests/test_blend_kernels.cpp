// Blend rule and blit kernels: exact pixels of small hand-made sources; for every draw nothing
// outside the clip, run streams as the keyed kernels, nothing at weight 0 or below; scaled and
// rotated drawing exact, by the kernel each source gets, inside its source and clip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "media/bitmap.h"
#include "render/blend.h"
#include "render/kernels.h"
#include "render/sine_table.h"
#include "render/framebuffer.h"
#include "tests/support/check.h"

namespace {

constexpr uint16_t FILL = 0x1234;  // background that no test source uses

struct KernelTest : ::testing::Test {
    void SetUp() override {
        screen_height = 320;
        for (ClipRect& c : active_clips) c = ClipRect{0, 0, 239, 319};
        current_clip = 0;
        current_sprite = -1;
        fill(FILL);
    }
    static void fill(uint16_t colour) { std::fill(std::begin(Framebuffer), std::end(Framebuffer), colour); }
    static uint16_t at(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }
    // Pixels outside r that are no longer FILL.
    static int changed_outside(const ClipRect& r) {
        int n = 0;
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < SCREEN_WIDTH; ++x)
                n += (x < r.left || x > r.right || y < r.top || y > r.bottom) && at(x, y) != FILL;
        return n;
    }
    static int changed() { return changed_outside(ClipRect{0, 0, -1, -1}); }
};

std::vector<uint16_t> sequence(int n, uint16_t first) {
    std::vector<uint16_t> v(n);
    for (int i = 0; i < n; ++i) v[i] = static_cast<uint16_t>(first + i);
    return v;
}

}  // namespace

TEST(Blend, PerChannelFloorAndRowForm) {
    EXPECT_EQ(blend_rgb565(0x0000, 0xFFFF, 16), 0x7BEF);  // red 15, green 31, blue 15
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const uint16_t d = static_cast<uint16_t>(rng()), s = static_cast<uint16_t>(rng());
        const int a = static_cast<int>(rng() % 33);
        const uint16_t r = blend_rgb565(d, s, static_cast<uint32_t>(a));
        // Each channel moves from d towards s by floor((s - d) * a / 32): 32 gives s, 0 gives d.
        for (auto [shift, mask] : {std::pair{11, 31}, std::pair{5, 63}, std::pair{0, 31}}) {
            const int dc = (d >> shift) & mask, sc = (s >> shift) & mask;
            ASSERT_EQ((r >> shift) & mask, dc + static_cast<int>(std::floor((sc - dc) * a / 32.0)));
        }
    }
    // The row form gives the same pixels for every weight, odd ones included.
    std::vector<uint16_t> src(203), dst(203);
    for (int a = -3; a <= 40; ++a) {
        for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint16_t>(rng()), dst[i] = static_cast<uint16_t>(rng());
        std::vector<uint16_t> expect(dst.size());
        for (size_t i = 0; i < dst.size(); ++i) expect[i] = blend_rgb565(dst[i], src[i], static_cast<uint32_t>(a));
        blend_rgb565_row(dst.data(), src.data(), static_cast<int>(dst.size()), static_cast<uint32_t>(a));
        ASSERT_EQ(dst, expect) << "weight " << a;
    }
}

TEST_F(KernelTest, ScreenEdgesAndFullWidthBlock) {
    const std::vector<uint16_t> px = sequence(240 * 40, 0);
    blit_rgb565(px.data(), 240, 40, -5, 0, 32);  // starts at its column 5, at screen column 0
    EXPECT_EQ(vals(at(0, 0), at(234, 39), changed_outside(ClipRect{0, 0, 234, 39})), vals(5, 39 * 240 + 239, 0));
    fill(FILL);
    blit_rgb565(px.data(), 240, 40, 0, 320, 32);  // wholly below: nothing, no block copy
    blit_rgb565(px.data(), 240, 40, 0, -40, 32);
    EXPECT_EQ(changed(), 0);
    blit_rgb565(px.data(), 240, 40, 0, 300, 32);  // block copy of source rows 0..19 only
    EXPECT_EQ(vals(at(0, 300), at(239, 319), changed_outside(ClipRect{0, 300, 239, 319})), vals(0, 19 * 240 + 239, 0));
    // A screen-wide source one column to the left, and a wider one at column 0: rows are not
    // one block (their source rows are not screen rows).
    const std::vector<uint16_t> wide = sequence(250 * 3, 0);
    fill(FILL);
    blit_rgb565(px.data(), 240, 40, -1, 0, 32);
    blit_rgb565(wide.data(), 250, 3, 0, 100, 32);
    EXPECT_EQ(vals(at(0, 1), at(238, 1), at(239, 1), at(0, 101), at(239, 102)), vals(241, 479, FILL, 250, 739));
    // Blended and cut at the top and left: screen (0, 0) shows source (5, 2) half way.
    fill(FILL);
    blit_rgb565(px.data(), 240, 40, -5, -2, 16);
    EXPECT_EQ(vals(at(0, 0), at(3, 1)), vals(blend_rgb565(FILL, 2 * 240 + 5, 16), blend_rgb565(FILL, 3 * 240 + 8, 16)));
}

// Every unscaled and glyph kernel at positions all around a small clip rectangle, in copy and
// blend mode: nothing outside the rectangle changes, and something inside does on overlap
// (never with a weight of 0 or below, which would wrap to a huge weight in the blend rule).
TEST_F(KernelTest, NoKernelWritesOutsideTheClipRectangle) {
    const int w = 23, h = 17;
    std::vector<uint16_t> px(w * h * 2);
    std::vector<uint8_t> idx(w * h), plane(w * h);
    std::mt19937 rng(3);
    for (auto& p : px) p = static_cast<uint16_t>(rng() % 33 + 1);  // second half: glyph masks/weights
    for (int i = 0; i < w * h; ++i) idx[i] = static_cast<uint8_t>(rng() % 4), plane[i] = static_cast<uint8_t>(rng() % 33);
    uint16_t palette[256];
    for (auto& p : palette) p = static_cast<uint16_t>(rng() | 1);
    Bitmap runs{};
    ASSERT_EQ(bitmap_encode_runs(&runs, idx.data(), w, h), 1);
    current_alpha_plane = plane.data();
    const ClipRect clip{50, 60, 90, 100};
    active_clips[3] = clip;
    current_clip = 3;
    for (int alpha : {32, 12, 0, -1})
        for (int16_t y = 40; y <= 110; y += 7)
            for (int16_t x = 25; x <= 100; x += 7) {
                fill(FILL);
                const uint8_t a8 = static_cast<uint8_t>(alpha);
                blit_rgb565(px.data(), w, h, x, y, alpha);
                blit_rgb565_keyed(px.data(), w, h, x, y, alpha, 1, 1);
                blit_indexed(idx.data(), palette, w, h, x, y, alpha);
                blit_indexed_keyed(idx.data(), palette, w, h, x, y, alpha, 1, 0);
                blit_rgb565_alpha(px.data(), w, h, x, y, alpha);
                blit_rgb565_alpha_flip(px.data(), w, h, x, y, alpha, 0, 1);
                blit_rgb565_runs(px.data(), runs.runs, runs.row_offsets, w, h, x, y, alpha);
                blit_indexed_runs(idx.data(), palette, runs.runs, runs.row_offsets, w, h, x, y, alpha);
                if (alpha > 0) {  // glyph weights are bytes: 255 is a weight, not -1
                    blit_glyph_mask(px.data() + w * h, 0x0F0F, w, h, x, y, a8);
                    blit_glyph_masked(px.data(), w, h, x, y, a8);
                    blit_glyph_weighted(px.data(), w, h, x, y, a8);
                }
                ASSERT_EQ(changed_outside(clip), 0) << x << "," << y << " alpha " << alpha;
                const bool overlaps = alpha > 0 && x + w > clip.left && x <= clip.right && y + h > clip.top && y <= clip.bottom;
                ASSERT_EQ(changed() > 0, overlaps) << x << "," << y;
            }
    // At weight 1 each kernel on its own still draws (green moves by one step of 64).
    current_clip = 0;
    const std::vector<std::function<void()>> kernels = {
        [&] { blit_rgb565(px.data(), w, h, 60, 70, 1); },
        [&] { blit_rgb565_keyed(px.data(), w, h, 60, 70, 1, 1, 1); },
        [&] { blit_indexed(idx.data(), palette, w, h, 60, 70, 1); },
        [&] { blit_indexed_keyed(idx.data(), palette, w, h, 60, 70, 1, 1, 0); },
        [&] { blit_rgb565_alpha(px.data(), w, h, 60, 70, 1); },
        [&] { blit_rgb565_alpha_flip(px.data(), w, h, 60, 70, 1, 0, 1); },
        [&] { blit_rgb565_runs(px.data(), runs.runs, runs.row_offsets, w, h, 60, 70, 1); },
        [&] { blit_indexed_runs(idx.data(), palette, runs.runs, runs.row_offsets, w, h, 60, 70, 1); },
        [&] { blit_glyph_mask(px.data() + w * h, 0x0F0F, w, h, 60, 70, 1); },
        [&] { blit_glyph_masked(px.data(), w, h, 60, 70, 1); },
        [&] { blit_glyph_weighted(px.data(), w, h, 60, 70, 1); }};
    for (size_t k = 0; k < kernels.size(); ++k) {
        fill(FILL);
        kernels[k]();
        EXPECT_GT(changed(), 0) << "kernel " << k;
        if (k == 0) { EXPECT_EQ(at(61, 72), blend_rgb565(FILL, px[2 * w + 1], 1)); }
        if (k == 2) { EXPECT_EQ(at(61, 72), blend_rgb565(FILL, palette[idx[2 * w + 1]], 1)); }
    }
    std::free(runs.runs);
    std::free(runs.row_offsets);
}

TEST_F(KernelTest, SpriteCropColourKeyAndIndexZero) {
    const std::vector<uint16_t> px = sequence(8 * 3, 1);
    current_sprite = 0;
    current_crop = ClipRect{2, 0, 5, 2};  // source columns 2..5 only, at their normal places
    blit_rgb565(px.data(), 8, 3, 10, 10, 32);
    EXPECT_EQ(vals(at(12, 10), at(15, 12), changed_outside(ClipRect{12, 10, 15, 12})), vals(3, 22, 0));
    current_sprite = -1;
    fill(FILL);
    // Keyed RGB565 skips 0xF81F; palettised kernels skip index 0 and draw the key colour.
    const uint16_t keyed[4] = {1, colour_key, 3, colour_key};
    blit_rgb565_keyed(keyed, 4, 1, 0, 0, 32, 0, 0);
    const uint16_t palette[256] = {0x1111, colour_key, 0x2222};
    const uint8_t idx[3] = {0, 1, 2};
    blit_indexed_keyed(idx, palette, 3, 1, 0, 1, 32, 0, 0);
    blit_indexed(idx, palette, 3, 1, 0, 2, 32);
    const uint16_t expect[3][4] = {{1, FILL, 3, FILL}, {FILL, colour_key, 0x2222, FILL}, {0x1111, colour_key, 0x2222, FILL}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(at(x, y), expect[y][x]) << x << "," << y;
}

// Random images with mixed, long transparent and long visible runs (rows up to 700 wide): the
// run kernels draw exactly what the keyed kernels draw, for any clipping.
TEST_F(KernelTest, RunKernelsMatchKeyedKernels) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        const int w = round < 30 ? 1 + static_cast<int>(rng() % 60) : 300 + static_cast<int>(rng() % 400);
        const int h = 1 + static_cast<int>(rng() % 30);
        const unsigned keyed_share = round % 3 == 0 ? 40 : round % 3 == 1 ? 97 : 3;
        std::vector<uint8_t> idx(w * h);
        std::vector<uint16_t> px(w * h);
        uint16_t palette[256];
        for (auto& p : palette) p = static_cast<uint16_t>(rng() % 0xF000);  // never the key
        for (int i = 0; i < w * h; ++i) {
            idx[i] = static_cast<uint8_t>(rng() % 100 < keyed_share ? 0 : 1 + rng() % 255);
            px[i] = idx[i] ? palette[idx[i]] : colour_key;
        }
        Bitmap b{};
        ASSERT_EQ(bitmap_encode_runs(&b, idx.data(), w, h), 1);
        const int16_t x = static_cast<int16_t>(static_cast<int>(rng() % 300) - w / 2 - 30);
        const int16_t y = static_cast<int16_t>(static_cast<int>(rng() % 360) - h / 2 - 20);
        const int16_t W = static_cast<int16_t>(w), H = static_cast<int16_t>(h);
        const int alpha = round % 2 ? 32 : 20;
        fill(FILL);
        blit_indexed_keyed(idx.data(), palette, W, H, x, y, alpha, 0, 0);
        blit_rgb565_keyed(px.data(), W, H, static_cast<int16_t>(x + 1), y, alpha, 0, 0);
        const std::vector<uint16_t> keyed(std::begin(Framebuffer), std::end(Framebuffer));
        fill(FILL);
        blit_indexed_runs(idx.data(), palette, b.runs, b.row_offsets, W, H, x, y, alpha);
        blit_rgb565_runs(px.data(), b.runs, b.row_offsets, W, H, static_cast<int16_t>(x + 1), y, alpha);
        ASSERT_EQ(std::memcmp(keyed.data(), Framebuffer, sizeof(Framebuffer)), 0) << "round " << round;
        std::free(b.runs);
        std::free(b.row_offsets);
    }
}

// Alpha-plane kernels (pictures with an alpha channel): plain, mirrored and run-coded.
TEST_F(KernelTest, AlphaPlaneWeightsAndTriples) {
    const uint16_t offsets[1] = {0};
    // Random triple rows entered at every column, copy and blend mode, against a per-pixel model;
    // the plain alpha kernel on the row below weights every pixel by its plane.
    std::mt19937 rng(5);
    active_clips[2] = ClipRect{20, 0, 239, 319};
    current_clip = 2;
    for (int round = 0; round < 200; ++round) {
        const int w = 1 + static_cast<int>(rng() % 40);
        std::vector<uint8_t> stream, kinds;  // kinds: 0 skip, 1 translucent, 2 opaque per pixel
        while (static_cast<int>(kinds.size()) < w) {
            const int c = std::min<int>(static_cast<int>(rng() % 6), w - static_cast<int>(kinds.size()));
            kinds.insert(kinds.end(), c, static_cast<uint8_t>(stream.size() % 3));
            stream.push_back(static_cast<uint8_t>(c));
        }
        stream.insert(stream.end(), 4, 0xFF);
        std::vector<uint16_t> src(w);
        std::vector<uint8_t> pl(w);
        for (int i = 0; i < w; ++i) src[i] = static_cast<uint16_t>(rng()), pl[i] = static_cast<uint8_t>(rng() % 33);
        current_alpha_plane = pl.data();
        const int entry = static_cast<int>(rng() % w);
        const int alpha = round % 2 ? 32 : static_cast<int>(rng() % 32);
        fill(FILL);
        blit_rgb565_alpha_runs(src.data(), stream.data(), offsets, static_cast<int16_t>(w), 1,
                               static_cast<int16_t>(20 - entry), 0, alpha);
        blit_rgb565_alpha(src.data(), static_cast<int16_t>(w), 1, static_cast<int16_t>(20 - entry), 1, alpha);
        blit_rgb565_alpha_flip(src.data(), static_cast<int16_t>(w), 1, static_cast<int16_t>(20 - entry), 2, alpha, 1, 0);
        auto weighted = [&](int c) {  // source column c by its plane weight
            const int f = alpha == 32 ? pl[c] : (pl[c] * alpha) >> 5;
            return blend_rgb565(FILL, src[c], static_cast<uint32_t>(f));
        };
        for (int c = entry; c < w; ++c) {
            ASSERT_EQ(at(20 - entry + c, 1), weighted(c)) << round << " " << c;
            // Mirrored about the visible part: its first column shows the source's last.
            ASSERT_EQ(at(20 - entry + c, 2), weighted(w - 1 - (c - entry))) << round << " " << c;
            const uint16_t want = kinds[c] == 1   ? weighted(c)
                                  : kinds[c] == 2 ? blend_rgb565(FILL, src[c], static_cast<uint32_t>(alpha))
                                                  : FILL;
            ASSERT_EQ(at(20 - entry + c, 0), want) << "round " << round << " entry " << entry << " col " << c;
        }
    }
}

TEST_F(KernelTest, GlyphKernels) {
    const uint16_t mask[4] = {0xFFFF, 0x0000, 0xF800, 0x0001};
    fill(0x00FF);
    blit_glyph_mask(mask, 0xAAAA, 4, 1, 0, 0, 32);  // copy: merged bit by bit under the mask
    blit_glyph_mask(mask, 0xFFFF, 4, 1, 0, 1, 16);  // blend: wherever the mask is non-zero
    const uint16_t half = blend_rgb565(0x00FF, 0xFFFF, 16);
    const uint16_t expect[2][4] = {{0xAAAA, 0x00FF, (0x00FF & ~0xF800) | (0xAAAA & 0xF800), 0x00FE},
                                   {half, 0x00FF, half, half}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(at(x, y), expect[y][x]) << x << "," << y;
    const uint16_t masked[4] = {0x1234, 0x5678, 0xFFFF, 0};
    blit_glyph_masked(masked, 2, 1, 0, 2, 32);
    blit_glyph_masked(masked, 2, 1, 0, 3, 16);  // blend: where the mask is not 0
    EXPECT_EQ(vals(at(0, 2), at(1, 2), at(0, 3), at(1, 3)), vals(0x1234, 0x00FF, blend_rgb565(0x00FF, 0x1234, 16), 0x00FF));
    const uint16_t weighted[8] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 32, 16, 0, 64};
    fill(0);
    blit_glyph_weighted(weighted, 4, 1, 0, 0, 32);
    blit_glyph_weighted(weighted, 4, 1, 0, 1, 16);  // 64 x 16 / 32 = 32 copies
    EXPECT_EQ(vals(at(0, 0), at(1, 0), at(2, 0), at(0, 1), at(3, 1)), vals(0xFFFF, 0x7BEF, 0, 0x7BEF, 0xFFFF));
}

// The kernel for each source, stated plainly: palettised sources always rotate; RGB565 sources
// rotate only as keyed blends and are otherwise scaled (a keyed copy shows its key colour);
// alpha-plane sources are always scaled; nothing is drawn at alpha 0 or below.
TEST(ScaledKernelFor, ChoosesByKindKeyAndBlend) {
    for (int kind = -1; kind <= 5; ++kind)
        for (bool opaque : {false, true})
            for (int alpha = -40; alpha <= 40; ++alpha) {
                const bool copy = alpha == 32;
                ScaledKernel want = nullptr;  // alpha 0 or below, or a kind no row serves
                if (alpha > 0 && kind == 1 && copy) want = opaque ? rotozoom_indexed : rotozoom_indexed_keyed;
                else if (alpha > 0 && kind == 1) want = opaque ? rotozoom_indexed_blend : rotozoom_indexed_keyed_blend;
                else if (alpha > 0 && kind == 2 && copy) want = zoom_rgb565;
                else if (alpha > 0 && kind == 2) want = opaque ? zoom_rgb565_blend : rotozoom_rgb565_keyed_blend;
                else if (alpha > 0 && kind == 3) want = zoom_rgb565_alpha;
                ASSERT_EQ(scaled_kernel_for(kind, opaque, alpha), want) << kind << " " << opaque << " " << alpha;
            }
}

// A 2 x 3 source (rows 1 2 / 3 4 / 5 6) centred at (11, 11), doubled. The zoom gives each pixel a
// 2 x 2 block; a quarter turn (angle 128) lays the source's columns along rows, its right column
// on top, and the span rounding leaves out the far half-column of the turned image.
TEST_F(KernelTest, ScaledAndRotatedExactPixels) {
    const uint8_t idx[6] = {1, 2, 3, 4, 5, 6};
    const uint16_t px[6] = {1, 2, 3, 4, 5, 6};
    uint16_t palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i);
    auto grid = [](int left, int top, int cols, int rows) {
        std::vector<uint16_t> v;
        for (int y = top; y < top + rows; ++y)
            for (int x = left; x < left + cols; ++x) v.push_back(at(x, y) == FILL ? 0 : at(x, y));
        return v;
    };
    zoom_rgb565(px, nullptr, 2, 3, 10, 10, 32, 0, 2048);
    EXPECT_EQ(changed_outside(ClipRect{9, 8, 12, 13}), 0);
    EXPECT_EQ(grid(9, 8, 4, 6), (std::vector<uint16_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4,
                                                       3, 3, 4, 4, 5, 5, 6, 6, 5, 5, 6, 6}));
    fill(FILL);
    rotozoom_indexed(idx, palette, 2, 3, 10, 10, 32, 128, 2048);
    EXPECT_EQ(changed_outside(ClipRect{8, 9, 12, 12}), 0);
    EXPECT_EQ(grid(8, 9, 5, 4), (std::vector<uint16_t>{2, 2, 4, 4, 6, 2, 2, 4, 4, 6,
                                                       1, 1, 3, 3, 5, 1, 1, 3, 3, 5}));
    // Alpha plane: the weight is plane x alpha / 32, so plane 16 at full alpha and plane 32 at
    // alpha 16 both blend half, plane 16 at alpha 16 a quarter, plane 0 leaves the screen.
    const uint16_t white[3] = {0xFFFF, 0xFFFF, 0xFFFF};
    const uint8_t plane[3] = {32, 16, 0};
    current_alpha_plane = plane;
    fill(0);
    zoom_rgb565_alpha(white, nullptr, 3, 1, 0, 0, 32, 0, 1024);
    zoom_rgb565_alpha(white, nullptr, 3, 1, 0, 1, 16, 0, 1024);
    EXPECT_EQ(grid(0, 0, 3, 2), (std::vector<uint16_t>{0xFFFF, 0x7BEF, 0, 0x7BEF, 0x39E7, 0}));
}

// Exact-size sources (AddressSanitizer sees any read past them), every third angle, scales from
// a quarter to 300 times, including steps under 1/256 pixel, every kernel of the table: nothing
// outside the clip rectangle, nothing at all at alpha 0 or below, something just above.
TEST_F(KernelTest, ScaledKernelsStayInsideSourceAndClip) {
    const int w = 13, h = 7;
    const std::vector<uint8_t> idx(w * h, 5), plane(w * h, 20);
    const std::vector<uint16_t> px(w * h, 0x0841);
    uint16_t palette[256];
    std::fill(std::begin(palette), std::end(palette), 0x0821);
    current_alpha_plane = plane.data();
    const ClipRect clip{40, 50, 200, 260};
    active_clips[5] = clip;
    current_clip = 5;
    auto draw_all = [&](int angle, int32_t scale, int alpha) {
        for (const ScaledKernelRow& row : scaled_kernel_table)
            row.kernel(row.kind == 1 ? static_cast<const void*>(idx.data()) : px.data(),
                       row.kind == 1 ? palette : nullptr, w, h, 100, 150, alpha, angle, scale);
    };
    for (int32_t scale : {256, 700, 1023, 1024, 2048, 3100, 8192, 300000}) {
        for (int angle = 0; angle < 512; angle += 3) {
            draw_all(angle, scale, 12);  // the copy kernels ignore the weight
            ASSERT_EQ(changed_outside(clip), 0) << scale << " " << angle;
        }
        fill(FILL);
        for (int angle = 0; angle < 512; angle += 3)
            for (int alpha : {0, -8, -32768}) draw_all(angle, scale, alpha);
        ASSERT_EQ(changed(), 0) << scale;
    }
    // At weight 1 every kernel still draws (2 for the plane's 20 / 32).
    for (const ScaledKernelRow& row : scaled_kernel_table) {
        fill(FILL);
        row.kernel(row.kind == 1 ? static_cast<const void*>(idx.data()) : px.data(), row.kind == 1 ? palette : nullptr,
                   w, h, 100, 150, row.kind == 3 ? 2 : 1, 40, 2048);
        EXPECT_GT(changed(), 0) << row.kind << row.opaque << row.blend;
    }
}

// Every pixel the walk draws shows the sample at its place (u, v) stepped to one by one, which
// lies inside the source; each row draws one run. The walk's entry skip (two steps at most
// after the estimate) and span estimate lose samples at the run ends and whole rows; the
// totals over every fifth angle are pinned.
TEST_F(KernelTest, RotozoomDrawsSamplesInsideItsSource) {
    const int w = 13, h = 7;
    uint8_t idx[w * h];
    uint16_t palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i), idx[i % (w * h)] = uint8_t(1 + i % (w * h));
    active_clips[5] = ClipRect{40, 50, 200, 260};
    current_clip = 5;
    std::vector<long long> drawn, inside;
    for (int32_t scale : {256, 700, 1023, 1024, 2048, 3100, 8192}) {
        drawn.push_back(0), inside.push_back(0);
        for (int angle = 0; angle < 512; angle += 5) {
            fill(FILL);
            rotozoom_setup(100, 150, w, h, angle, scale);
            const RotateScaleState st = rotate_scale;
            const VisibleBox b = visible_box;
            rotozoom_indexed(idx, palette, w, h, 100, 150, 32, angle, scale);
            int row_drawn = 0, row_inside = 0;
            for (int j = b.row_start; j < b.row_end; ++j) {
                int first = -1, last = -1, count = 0;
                for (int i = b.col_start; i < b.col_end; ++i) {
                    const uint32_t r = uint32_t(j - b.row_start), c = uint32_t(i);
                    const int32_t u = int32_t(uint32_t(st.row_u) - uint32_t(st.dv) * r + uint32_t(st.du) * c);
                    const int32_t v = int32_t(uint32_t(st.row_v) + uint32_t(st.du) * r + uint32_t(st.dv) * c);
                    const bool in = u >= 0 && u < (w << 16) && v >= 0 && v < (h << 16);
                    row_inside += in;
                    if (at(st.bx + i, st.by + j) == FILL) continue;
                    ASSERT_TRUE(in && at(st.bx + i, st.by + j) == idx[(v >> 16) * w + (u >> 16)]) << scale << " " << angle;
                    first = first < 0 ? i : first, last = i, ++count;
                }
                ASSERT_EQ(count, count ? last - first + 1 : 0) << scale << " " << angle;
                row_drawn += count;
            }
            drawn.back() += row_drawn, inside.back() += row_inside;
        }
    }
    EXPECT_EQ(drawn, (std::vector<long long>{268, 3547, 8106, 8099, 34878, 82673, 559584}));
    EXPECT_EQ(inside, (std::vector<long long>{563, 4408, 9390, 9390, 37484, 86986, 599911}));
}

TEST(RotozoomSetup, ZeroStepsGetDefinedReciprocals) {
    current_sprite = 7;
    rotozoom_setup(10, 10, 16, 16, 0, 1024);
    EXPECT_EQ(current_sprite, -1);
    EXPECT_EQ((std::vector<int>{rotate_scale.du, rotate_scale.dv, rotate_scale.ru, rotate_scale.rv}),
              (std::vector<int>{65536, 0, 256, 0}));  // a zero step gets 0, which the walk never uses
    // Angle 1 at scale 4096: dv = 64 x sin 3 = 192, under one 24.8 unit: full-precision reciprocal.
    rotozoom_setup(10, 10, 16, 16, 1, 4096);
    EXPECT_EQ(vals(rotate_scale.dv, rotate_scale.rv), vals(192, 0x1000000 / 192));
    // A square box 1.5 times the scaled size, centred on the source centre.
    rotozoom_setup(100, 100, 16, 16, 0, 2048);
    EXPECT_EQ(vals(rotate_scale.bx, rotate_scale.by), vals(108 - 24, 108 - 24));
    // Scale 0 or an empty source: nothing to draw, an empty box at (x, y).
    for (const auto& [w, h, scale] : {std::array<int, 3>{16, 16, 0}, {0, 16, 1024}, {16, 0, 1024}}) {
        rotozoom_setup(30, 40, int16_t(w), int16_t(h), 5, scale);
        EXPECT_EQ(vals(rotate_scale.bx, rotate_scale.by, rotate_scale.du, rotate_scale.dv, visible_box.col_end,
                       visible_box.row_end),
                  vals(30, 40, 0, 0, 0, 0)) << w << " " << h << " " << scale;
    }
}

TEST(SineTable, EveryEntryIsTheRoundedSine) {
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(sine_table[i], std::lround(256 * std::sin(2 * M_PI * i / 512))) << i;
}
