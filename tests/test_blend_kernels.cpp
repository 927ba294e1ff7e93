// Blend rule and blit kernels: exact pixels for small hand-made sources, and properties that
// must hold for every draw (clipping never writes outside the clip rectangle, run streams draw
// what the per-pixel kernels draw, rotation maps quadrants where they belong).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "media/bitmap.h"
#include "render/blend.h"
#include "render/kernels.h"
#include "render/sine_table.h"
#include "runtime/framebuffer.h"

namespace {

constexpr uint16_t FILL = 0x1234;  // background that no test source uses

struct KernelTest : ::testing::Test {
    void SetUp() override {
        screen_height = 320;
        for (ClipRect& c : active_clips) c = ClipRect{0, 0, 239, 319};
        current_clip = 0;
        current_sprite = -1;
        current_alpha_plane = nullptr;
        fill(FILL);
    }
    static void fill(uint16_t colour) {
        for (uint16_t& p : Framebuffer) p = colour;
    }
    static uint16_t at(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }
    // Number of pixels outside r that differ from FILL.
    static int changed_outside(const ClipRect& r) {
        int n = 0;
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < SCREEN_WIDTH; ++x)
                if ((x < r.left || x > r.right || y < r.top || y > r.bottom) && at(x, y) != FILL) ++n;
        return n;
    }
    static int changed() { return changed_outside(ClipRect{0, 0, -1, -1}); }
};

std::vector<uint16_t> sequence(int n, uint16_t first = 1) {
    std::vector<uint16_t> v(n);
    for (int i = 0; i < n; ++i) v[i] = static_cast<uint16_t>(first + i);
    return v;
}

}  // namespace

TEST(Blend, ExactValuesAndEndWeights) {
    EXPECT_EQ(blend_rgb565(0x0000, 0xFFFF, 16), 0x7BEF);  // red 15, green 31, blue 15
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const uint16_t d = static_cast<uint16_t>(rng()), s = static_cast<uint16_t>(rng());
        ASSERT_EQ(blend_rgb565(d, s, 32), s);
        ASSERT_EQ(blend_rgb565(d, s, 0), d);
        // Each channel moves from d towards s by floor((s - d) * a / 32).
        const uint32_t a = rng() % 33;
        const uint16_t r = blend_rgb565(d, s, a);
        auto channel = [](uint16_t p, int shift, int mask) { return (p >> shift) & mask; };
        for (auto [shift, mask] : {std::pair{11, 31}, std::pair{5, 63}, std::pair{0, 31}}) {
            const int dc = channel(d, shift, mask), sc = channel(s, shift, mask);
            const int expect = dc + static_cast<int>(std::floor((sc - dc) * static_cast<int>(a) / 32.0));
            ASSERT_EQ(channel(r, shift, mask), expect) << d << " " << s << " " << a;
        }
    }
}

TEST(Blend, RowMatchesPixelRuleForEveryWeight) {
    std::mt19937 rng(9);
    std::vector<uint16_t> src(203), dst(203);
    for (int a = -3; a <= 40; ++a) {
        for (auto& v : src) v = static_cast<uint16_t>(rng());
        for (auto& v : dst) v = static_cast<uint16_t>(rng());
        std::vector<uint16_t> expect = dst;
        for (size_t i = 0; i < dst.size(); ++i) expect[i] = blend_rgb565(dst[i], src[i], static_cast<uint32_t>(a));
        blend_rgb565_row(dst.data(), src.data(), static_cast<int>(dst.size()), static_cast<uint32_t>(a));
        ASSERT_EQ(dst, expect) << "weight " << a;
    }
}

TEST_F(KernelTest, AlphaZeroOrNegativeDrawsNothing) {
    const std::vector<uint16_t> px(16, 0x0F0F);
    const std::vector<uint8_t> idx(16, 1), plane(16, 32);
    const uint16_t palette[256] = {0, 0x0F0F};
    current_alpha_plane = plane.data();
    for (int alpha : {0, -1, -32}) {
        blit_rgb565(px.data(), 4, 4, 10, 10, alpha);
        blit_rgb565_keyed(px.data(), 4, 4, 10, 10, alpha, 1, 0);
        blit_indexed(idx.data(), palette, 4, 4, 10, 10, alpha);
        blit_indexed_keyed(idx.data(), palette, 4, 4, 10, 10, alpha, 0, 1);
        blit_rgb565_alpha(px.data(), 4, 4, 10, 10, alpha);
        blit_rgb565_alpha_flip(px.data(), 4, 4, 10, 10, alpha, 1, 1);
    }
    EXPECT_EQ(changed(), 0);
}

TEST_F(KernelTest, ClippingAtScreenEdges) {
    const std::vector<uint16_t> px = sequence(20 * 3, 100);
    blit_rgb565(px.data(), 20, 3, -5, 0, 32);  // starts at its column 5, at screen column 0
    EXPECT_EQ(at(0, 0), 105);
    EXPECT_EQ(at(14, 2), 100 + 2 * 20 + 19);
    EXPECT_EQ(at(15, 0), FILL);
    fill(FILL);
    blit_rgb565(px.data(), 20, 3, 230, 317, 32);  // past the right and bottom edges
    EXPECT_EQ(at(239, 317), 109);
    EXPECT_EQ(at(239, 319), 100 + 40 + 9);
    EXPECT_EQ(changed_outside(ClipRect{230, 317, 239, 319}), 0);
}

TEST_F(KernelTest, FullWidthCopyBlockAndBelowScreen) {
    std::vector<uint16_t> px(240 * 40);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint16_t>(i);
    blit_rgb565(px.data(), 240, 40, 0, 320, 32);  // wholly below: nothing, no block copy
    blit_rgb565(px.data(), 240, 40, 0, -40, 32);  // wholly above
    EXPECT_EQ(changed(), 0);
    blit_rgb565(px.data(), 240, 40, 0, 300, 32);  // only rows 0..19 of the source fit
    EXPECT_EQ(at(0, 300), 0);
    EXPECT_EQ(at(239, 319), 19 * 240 + 239);
    EXPECT_EQ(changed_outside(ClipRect{0, 300, 239, 319}), 0);
    fill(FILL);
    blit_rgb565(px.data(), 240, 40, 0, -10, 32);  // top rows cut off
    EXPECT_EQ(at(5, 0), 10 * 240 + 5);
    EXPECT_EQ(changed_outside(ClipRect{0, 0, 239, 29}), 0);
}

// Every unscaled and glyph kernel, at positions all around a small clip rectangle, in copy and
// blend mode: nothing outside the rectangle changes, and something inside does when it overlaps.
TEST_F(KernelTest, NoKernelWritesOutsideTheClipRectangle) {
    const int w = 23, h = 17;
    std::vector<uint16_t> px(w * h * 2);
    std::vector<uint8_t> idx(w * h), plane(w * h);
    std::mt19937 rng(3);
    for (auto& p : px) p = static_cast<uint16_t>(rng() | 1);
    for (int i = 0; i < w * h; ++i) {
        idx[i] = static_cast<uint8_t>(rng() % 4);
        plane[i] = static_cast<uint8_t>(rng() % 33);
        px[w * h + i] = static_cast<uint16_t>(rng() % 33);  // weights / masks for glyph kernels
    }
    uint16_t palette[256];
    for (auto& p : palette) p = static_cast<uint16_t>(rng() | 1);
    Bitmap bitmap{};
    ASSERT_EQ(bitmap_encode_runs(&bitmap, idx.data(), w, h), 1);
    current_alpha_plane = plane.data();
    const ClipRect clip{50, 60, 90, 100};
    active_clips[3] = clip;
    current_clip = 3;
    for (int alpha : {32, 12}) {
        for (int y = 40; y <= 110; y += 7) {
            for (int x = 25; x <= 100; x += 7) {
                fill(FILL);
                const int16_t X = static_cast<int16_t>(x), Y = static_cast<int16_t>(y);
                blit_rgb565(px.data(), w, h, X, Y, alpha);
                blit_rgb565_keyed(px.data(), w, h, X, Y, alpha, 1, 1);
                blit_rgb565_runs(px.data(), bitmap.runs, bitmap.row_offsets, w, h, X, Y, alpha);
                blit_indexed(idx.data(), palette, w, h, X, Y, alpha);
                blit_indexed_keyed(idx.data(), palette, w, h, X, Y, alpha, 1, 0);
                blit_indexed_runs(idx.data(), palette, bitmap.runs, bitmap.row_offsets, w, h, X, Y, alpha);
                blit_rgb565_alpha(px.data(), w, h, X, Y, alpha);
                blit_rgb565_alpha_flip(px.data(), w, h, X, Y, alpha, 0, 1);
                blit_glyph_mask(px.data() + w * h, 0x0F0F, w, h, X, Y, static_cast<uint8_t>(alpha));
                blit_glyph_masked(px.data(), w, h, X, Y, static_cast<uint8_t>(alpha));
                blit_glyph_weighted(px.data(), w, h, X, Y, static_cast<uint8_t>(alpha));
                ASSERT_EQ(changed_outside(clip), 0) << x << "," << y << " alpha " << alpha;
                const bool overlaps = x + w > clip.left && x <= clip.right && y + h > clip.top && y <= clip.bottom;
                ASSERT_EQ(changed() > 0, overlaps) << x << "," << y;
            }
        }
    }
    std::free(bitmap.runs);
    std::free(bitmap.row_offsets);
}

TEST_F(KernelTest, SpriteCropDrawsOnlyItsColumns) {
    const int w = 8, h = 3;
    const std::vector<uint16_t> px = sequence(w * h, 1);
    current_sprite = 0;
    current_crop = ClipRect{2, 0, 5, h - 1};
    blit_rgb565(px.data(), w, h, 10, 10, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(at(10 + x, 10 + y), x >= 2 && x <= 5 ? px[y * w + x] : FILL) << x << "," << y;
    fill(FILL);
    current_sprite = -1;  // the crop is ignored without a sprite
    blit_rgb565(px.data(), w, h, 10, 10, 32);
    EXPECT_EQ(at(10, 10), 1);
}

TEST_F(KernelTest, ColourKeyAndIndexZero) {
    const uint16_t px[4] = {1, colour_key, 3, colour_key};
    blit_rgb565_keyed(px, 4, 1, 0, 0, 32, 0, 0);
    EXPECT_EQ(at(0, 0), 1);
    EXPECT_EQ(at(1, 0), FILL);
    EXPECT_EQ(at(2, 0), 3);
    EXPECT_EQ(at(3, 0), FILL);
    // Palettised kernels skip index 0 and draw the key colour like any other.
    uint16_t palette[256] = {0x1111, colour_key, 0x2222};
    const uint8_t idx[3] = {0, 1, 2};
    blit_indexed_keyed(idx, palette, 3, 1, 0, 1, 32, 0, 0);
    EXPECT_EQ(at(0, 1), FILL);
    EXPECT_EQ(at(1, 1), colour_key);
    EXPECT_EQ(at(2, 1), 0x2222);
    blit_indexed(idx, palette, 3, 1, 0, 2, 32);
    EXPECT_EQ(at(0, 2), 0x1111);
    // The plain RGB565 kernel draws the key colour too.
    blit_rgb565(px, 4, 1, 0, 3, 32);
    EXPECT_EQ(at(1, 3), colour_key);
}

TEST_F(KernelTest, MirroringInCopyAndBlendMode) {
    const uint16_t px[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t idx[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint16_t palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i);
    const uint8_t plane[8] = {32, 32, 32, 32, 32, 32, 32, 32};
    current_alpha_plane = plane;
    for (int alpha : {32, 16}) {
        fill(0);
        blit_rgb565_keyed(px, 4, 2, 0, 0, alpha, 1, 0);
        blit_indexed_keyed(idx, palette, 4, 2, 0, 2, alpha, 1, 0);
        blit_rgb565_alpha_flip(px, 4, 2, 0, 4, alpha, 1, 0);
        blit_rgb565_keyed(px, 4, 2, 10, 0, alpha, 0, 1);  // last row first
        blit_rgb565_keyed(px, 4, 2, 20, 0, alpha, 1, 1);
        for (int i = 0; i < 4; ++i) {
            const uint16_t expect = blend_rgb565(0, static_cast<uint16_t>(4 - i), alpha);
            EXPECT_EQ(at(i, 0), expect) << alpha;
            EXPECT_EQ(at(i, 2), expect) << alpha;
            EXPECT_EQ(at(i, 4), expect) << alpha;
            EXPECT_EQ(at(10 + i, 0), blend_rgb565(0, static_cast<uint16_t>(5 + i), alpha));
            EXPECT_EQ(at(10 + i, 1), blend_rgb565(0, static_cast<uint16_t>(1 + i), alpha));
            EXPECT_EQ(at(20 + i, 0), blend_rgb565(0, static_cast<uint16_t>(8 - i), alpha));
        }
    }
    // Clipped on the left (source columns 1..3 visible): the RGB565 kernels mirror the visible
    // window (3, 2, 1), the indexed one mirrors about the full width (2, 1, 0).
    fill(0);
    blit_rgb565_keyed(px, 4, 1, -1, 10, 32, 1, 0);
    blit_rgb565_alpha_flip(px, 4, 1, -1, 11, 32, 1, 0);
    blit_indexed_keyed(idx, palette, 4, 1, -1, 12, 32, 1, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(at(i, 10), px[3 - i]);
        EXPECT_EQ(at(i, 11), px[3 - i]);
        EXPECT_EQ(at(i, 12), palette[idx[2 - i]]);
    }
}

// A hand-made 9-wide row 0, 3, 2, 4: draw 0..2, skip 3..4, draw 5..8.
TEST_F(KernelTest, RunStreamPairsEnteredAtAnyColumn) {
    const uint8_t runs[] = {0, 3, 2, 4, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint16_t offsets[1] = {0};
    const std::vector<uint16_t> px = sequence(9, 1);
    uint8_t idx[9];
    uint16_t palette[256];
    for (int i = 0; i < 9; ++i) idx[i] = static_cast<uint8_t>(i + 1);
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(i);
    const bool drawn[9] = {1, 1, 1, 0, 0, 1, 1, 1, 1};
    for (int entry : {0, 1, 4}) {
        // Entering at column `entry`: the clip rectangle starts at screen column 10.
        active_clips[1] = ClipRect{10, 0, 239, 319};
        current_clip = 1;
        fill(FILL);
        blit_rgb565_runs(px.data(), runs, offsets, 9, 1, static_cast<int16_t>(10 - entry), 0, 32);
        blit_indexed_runs(idx, palette, runs, offsets, 9, 1, static_cast<int16_t>(10 - entry), 1, 32);
        blit_rgb565_runs(px.data(), runs, offsets, 9, 1, static_cast<int16_t>(10 - entry), 2, 8);
        for (int c = 0; c < 9; ++c) {
            const int sx = 10 - entry + c;
            if (sx < 10) continue;
            const bool on = drawn[c];
            EXPECT_EQ(at(sx, 0), on ? px[c] : FILL) << "entry " << entry << " col " << c;
            EXPECT_EQ(at(sx, 1), on ? palette[idx[c]] : FILL);
            EXPECT_EQ(at(sx, 2), on ? blend_rgb565(FILL, px[c], 8) : FILL);
        }
        EXPECT_EQ(changed_outside(ClipRect{10, 0, 19, 2}), 0);
    }
}

// Random images: the run kernels draw exactly what the keyed kernels draw, for any clipping,
// rows longer than 255 pixels included.
TEST_F(KernelTest, RunKernelsMatchKeyedKernels) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        const int w = round < 30 ? 1 + static_cast<int>(rng() % 60) : 300 + static_cast<int>(rng() % 400);
        const int h = 1 + static_cast<int>(rng() % 30);
        std::vector<uint8_t> idx(w * h);
        const int mode = round % 3;  // mixed, long transparent, long visible
        for (auto& k : idx) {
            const unsigned r = rng() % 100;
            k = static_cast<uint8_t>(mode == 0 ? (r < 40 ? 0 : r) : mode == 1 ? (r < 97 ? 0 : r) : (r < 3 ? 0 : r));
        }
        uint16_t palette[256];
        for (auto& p : palette) p = static_cast<uint16_t>(rng());
        std::vector<uint16_t> px(w * h);
        for (int i = 0; i < w * h; ++i) px[i] = idx[i] ? static_cast<uint16_t>(palette[idx[i]] == colour_key ? 1 : palette[idx[i]]) : colour_key;
        Bitmap b{};
        ASSERT_EQ(bitmap_encode_runs(&b, idx.data(), w, h), 1);
        const int16_t x = static_cast<int16_t>(static_cast<int>(rng() % 300) - w / 2 - 30);
        const int16_t y = static_cast<int16_t>(static_cast<int>(rng() % 360) - h / 2 - 20);
        const int alpha = round % 2 ? 32 : 20;
        std::vector<uint16_t> expect(std::begin(Framebuffer), std::end(Framebuffer));
        fill(FILL);
        blit_indexed_keyed(idx.data(), palette, static_cast<int16_t>(w), static_cast<int16_t>(h), x, y, alpha, 0, 0);
        blit_rgb565_keyed(px.data(), static_cast<int16_t>(w), static_cast<int16_t>(h), x, static_cast<int16_t>(y + 1), alpha, 0, 0);
        std::vector<uint16_t> keyed(std::begin(Framebuffer), std::end(Framebuffer));
        fill(FILL);
        blit_indexed_runs(idx.data(), palette, b.runs, b.row_offsets, static_cast<int16_t>(w), static_cast<int16_t>(h), x, y, alpha);
        blit_rgb565_runs(px.data(), b.runs, b.row_offsets, static_cast<int16_t>(w), static_cast<int16_t>(h), x, static_cast<int16_t>(y + 1), alpha);
        ASSERT_EQ(std::memcmp(keyed.data(), Framebuffer, sizeof(Framebuffer)), 0) << "round " << round;
        std::free(b.runs);
        std::free(b.row_offsets);
    }
}

namespace {

// Pixel kinds of a triple row: 0 skip, 1 translucent, 2 opaque.
std::vector<uint8_t> expand_triples(const std::vector<uint8_t>& counts, int w) {
    std::vector<uint8_t> kinds;
    for (size_t i = 0; i < counts.size() && static_cast<int>(kinds.size()) < w; ++i)
        kinds.insert(kinds.end(), counts[i], static_cast<uint8_t>(i % 3));
    kinds.resize(w, 0);
    return kinds;
}

}  // namespace

TEST_F(KernelTest, RunStreamTriples) {
    // Counts 1, 2, 3 over 6 columns: column 0 skipped, 1..2 blended by plane weight, 3..5 copied.
    const uint8_t runs[] = {1, 2, 3, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint16_t offsets[1] = {0};
    const uint16_t px[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0x0841, 0x0842, 0x0843};
    const uint8_t plane[6] = {32, 16, 32, 7, 7, 7};
    current_alpha_plane = plane;
    fill(0);
    blit_rgb565_alpha_runs(px, runs, offsets, 6, 1, 0, 0, 32);
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(1, 0), 0x7BEF);
    EXPECT_EQ(at(2, 0), 0xFFFF);
    EXPECT_EQ(at(3, 0), 0x0841);
    EXPECT_EQ(at(5, 0), 0x0843);
    EXPECT_EQ(at(6, 0), 0);

    // Random triple rows entered at every column, copy and blend mode, against a per-pixel model.
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        const int w = 1 + static_cast<int>(rng() % 40);
        std::vector<uint8_t> counts;
        int total = 0;
        while (total < w) {
            const int c = std::min<int>(static_cast<int>(rng() % 6), w - total);
            counts.push_back(static_cast<uint8_t>(c));
            total += c;
        }
        std::vector<uint8_t> stream = counts;
        stream.insert(stream.end(), 4, 0xFF);
        const std::vector<uint8_t> kinds = expand_triples(counts, w);
        std::vector<uint16_t> src(w);
        std::vector<uint8_t> pl(w);
        for (int i = 0; i < w; ++i) {
            src[i] = static_cast<uint16_t>(rng());
            pl[i] = static_cast<uint8_t>(rng() % 33);
        }
        current_alpha_plane = pl.data();
        const int entry = static_cast<int>(rng() % w);
        const int alpha = round % 2 ? 32 : static_cast<int>(rng() % 32);
        active_clips[2] = ClipRect{20, 0, 239, 319};
        current_clip = 2;
        fill(FILL);
        blit_rgb565_alpha_runs(src.data(), stream.data(), offsets, static_cast<int16_t>(w), 1,
                               static_cast<int16_t>(20 - entry), 0, alpha);
        for (int c = 0; c < w; ++c) {
            const int sx = 20 - entry + c;
            if (sx < 20) continue;
            uint16_t expect = FILL;
            if (kinds[c] == 1) {
                const int f = alpha == 32 ? pl[c] : (pl[c] * alpha) >> 5;
                expect = blend_rgb565(FILL, src[c], static_cast<uint32_t>(f));
            } else if (kinds[c] == 2) {
                expect = alpha == 32 ? src[c] : blend_rgb565(FILL, src[c], static_cast<uint32_t>(alpha));
            }
            ASSERT_EQ(at(sx, 0), expect) << "round " << round << " entry " << entry << " col " << c;
        }
    }
}

TEST_F(KernelTest, PerPixelWeights) {
    const uint16_t px[4] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    const uint8_t plane[4] = {0, 16, 32, 8};
    current_alpha_plane = plane;
    fill(0);
    blit_rgb565_alpha(px, 4, 1, 0, 0, 32);
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(1, 0), 0x7BEF);
    EXPECT_EQ(at(2, 0), 0xFFFF);
    EXPECT_EQ(at(3, 0), blend_rgb565(0, 0xFFFF, 8));
    fill(0);
    blit_rgb565_alpha(px, 4, 1, 0, 0, 16);  // weights halved: 0, 8, 16, 4
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(1, 0), blend_rgb565(0, 0xFFFF, 8));
    EXPECT_EQ(at(2, 0), 0x7BEF);
    EXPECT_EQ(at(3, 0), blend_rgb565(0, 0xFFFF, 4));
}

TEST_F(KernelTest, GlyphKernels) {
    const uint16_t mask[4] = {0xFFFF, 0x0000, 0xF800, 0x0001};
    fill(0x00FF);
    blit_glyph_mask(mask, 0xAAAA, 4, 1, 0, 0, 32);
    EXPECT_EQ(at(0, 0), 0xAAAA);
    EXPECT_EQ(at(1, 0), 0x00FF);
    EXPECT_EQ(at(2, 0), (0x00FF & ~0xF800) | (0xAAAA & 0xF800));
    EXPECT_EQ(at(3, 0), 0x00FE);
    blit_glyph_mask(mask, 0xFFFF, 4, 1, 0, 1, 16);  // blend where the mask is non-zero
    EXPECT_EQ(at(0, 1), blend_rgb565(0x00FF, 0xFFFF, 16));
    EXPECT_EQ(at(1, 1), 0x00FF);
    EXPECT_EQ(at(3, 1), blend_rgb565(0x00FF, 0xFFFF, 16));

    const uint16_t masked[8] = {0x1234, 0x5678, 0x9ABC, 0xDEF0, 0xFFFF, 0, 0x00F0, 0};
    blit_glyph_masked(masked, 4, 1, 0, 2, 32);
    EXPECT_EQ(at(0, 2), 0x1234);
    EXPECT_EQ(at(1, 2), 0x00FF);
    EXPECT_EQ(at(2, 2), (0x00FF & ~0x00F0) | (0x9ABC & 0x00F0));
    blit_glyph_masked(masked, 4, 1, 0, 3, 8);
    EXPECT_EQ(at(0, 3), blend_rgb565(0x00FF, 0x1234, 8));
    EXPECT_EQ(at(1, 3), 0x00FF);

    const uint16_t weighted[8] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 32, 16, 0, 64};
    fill(0);
    blit_glyph_weighted(weighted, 4, 1, 0, 0, 32);
    EXPECT_EQ(at(0, 0), 0xFFFF);
    EXPECT_EQ(at(1, 0), 0x7BEF);
    EXPECT_EQ(at(2, 0), 0);
    blit_glyph_weighted(weighted, 4, 1, 0, 1, 16);  // 64 x 16 / 32 = 32 copies
    EXPECT_EQ(at(0, 1), 0x7BEF);
    EXPECT_EQ(at(3, 1), 0xFFFF);
}

namespace {

// Bounding box of the pixels that are not FILL.
ClipRect painted_box() {
    ClipRect r{32767, 32767, -1, -1};
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < SCREEN_WIDTH; ++x)
            if (Framebuffer[y * SCREEN_WIDTH + x] != FILL) {
                r.left = std::min<int16_t>(r.left, static_cast<int16_t>(x));
                r.top = std::min<int16_t>(r.top, static_cast<int16_t>(y));
                r.right = std::max<int16_t>(r.right, static_cast<int16_t>(x));
                r.bottom = std::max<int16_t>(r.bottom, static_cast<int16_t>(y));
            }
    return r;
}

}  // namespace

TEST_F(KernelTest, ScaleOnlyFootprints) {
    const std::vector<uint16_t> px = sequence(100, 1);
    std::vector<uint8_t> plane(100, 32);
    current_alpha_plane = plane.data();
    // Unscaled at (50, 60) the centre is (55, 65). At 2048: 20 x 20 around it.
    zoom_rgb565(px.data(), nullptr, 10, 10, 50, 60, 32, 0, 2048);
    ClipRect r = painted_box();
    EXPECT_EQ(r.left, 45);
    EXPECT_EQ(r.top, 55);
    EXPECT_EQ(r.right, 64);
    EXPECT_EQ(r.bottom, 74);
    EXPECT_EQ(at(45, 55), 1);
    EXPECT_EQ(at(64, 74), 100);
    EXPECT_EQ(at(46, 56), 1);  // each source pixel covers 2 x 2
    // At 512: 5 x 5 plus one extra row and column on the top-left side; the extra samples read
    // the last column and row, never past the source.
    for (ScaledKernel k : {scaled_kernels[5], scaled_kernels[7], scaled_kernels[8]}) {
        fill(FILL);
        k(px.data(), nullptr, 10, 10, 50, 60, 31, 0, 512);
        r = painted_box();
        EXPECT_EQ(r.left, 52);
        EXPECT_EQ(r.top, 62);
        EXPECT_EQ(r.right, 57);
        EXPECT_EQ(r.bottom, 67);
    }
    fill(FILL);
    zoom_rgb565(px.data(), nullptr, 10, 10, 50, 60, 32, 0, 512);
    EXPECT_EQ(at(52, 62), 1);
    EXPECT_EQ(at(57, 67), 100);
    // Clipped to the current clip rectangle, and nothing at all for scale 0.
    active_clips[4] = ClipRect{48, 58, 60, 70};
    current_clip = 4;
    fill(FILL);
    zoom_rgb565(px.data(), nullptr, 10, 10, 50, 60, 32, 0, 4096);
    EXPECT_EQ(changed_outside(active_clips[4]), 0);
    EXPECT_GT(changed(), 0);
    fill(FILL);
    zoom_rgb565(px.data(), nullptr, 10, 10, 50, 60, 32, 0, 0);
    EXPECT_EQ(changed(), 0);
}

TEST(ScaledKernelTable, Order) {
    const ScaledKernel expect[12] = {
        rotozoom_indexed_keyed, rotozoom_indexed, rotozoom_indexed_keyed_blend, rotozoom_indexed_blend,
        zoom_rgb565,            zoom_rgb565,      rotozoom_rgb565_keyed_blend,  zoom_rgb565_blend,
        zoom_rgb565_alpha,      zoom_rgb565_alpha, zoom_rgb565_alpha,           zoom_rgb565_alpha};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(scaled_kernels[i], expect[i]) << i;
}

TEST(SineTable, Values) {
    EXPECT_EQ(sine_table[0], 0);
    EXPECT_EQ(sine_table[128], 256);
    EXPECT_EQ(sine_table[384], -256);
    EXPECT_EQ(sine_table[64], 181);
    EXPECT_EQ(sine_table[1], 3);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(sine_table[i + 256], -sine_table[i]);
}

namespace {

// A 16 x 16 indexed source whose four 8 x 8 quadrants have the indices 1 (top-left),
// 2 (top-right), 3 (bottom-left) and 4 (bottom-right).
std::vector<uint8_t> quadrants() {
    std::vector<uint8_t> q(256);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) q[y * 16 + x] = static_cast<uint8_t>(1 + (x >= 8) + 2 * (y >= 8));
    return q;
}

}  // namespace

TEST_F(KernelTest, RotationMapsQuadrants) {
    const std::vector<uint8_t> q = quadrants();
    uint16_t palette[256] = {0, 1, 2, 3, 4};
    // Angle 0 at natural size puts every pixel it draws where the unscaled kernel does. The
    // span estimate rounds down, so the last column may be left out (the sprite draw uses the
    // unscaled kernels for this case anyway).
    blit_indexed(q.data(), palette, 16, 16, 100, 100, 32);
    std::vector<uint16_t> plain(std::begin(Framebuffer), std::end(Framebuffer));
    fill(FILL);
    rotozoom_indexed(q.data(), palette, 16, 16, 100, 100, 32, 0, 1024);
    int drawn = 0;
    for (int i = 0; i < 240 * 320; ++i) {
        if (Framebuffer[i] == FILL) continue;
        ++drawn;
        ASSERT_EQ(Framebuffer[i], plain[i]) << i % 240 << "," << i / 240;
    }
    EXPECT_GE(drawn, 15 * 16);

    // Which quadrant lands where, seen from the centre (108, 108) at 4 pixels off each axis.
    auto corner = [](int dx, int dy) { return at(108 + dx, 108 + dy); };
    struct Case { int angle; uint16_t tl, tr, bl, br; };
    for (const Case c : {Case{0, 1, 2, 3, 4}, Case{128, 2, 4, 1, 3}, Case{256, 4, 3, 2, 1}, Case{384, 3, 1, 4, 2}}) {
        fill(FILL);
        rotozoom_indexed(q.data(), palette, 16, 16, 100, 100, 32, c.angle, 1024);
        EXPECT_EQ(corner(-4, -4), c.tl) << c.angle;
        EXPECT_EQ(corner(3, -4), c.tr) << c.angle;
        EXPECT_EQ(corner(-4, 3), c.bl) << c.angle;
        EXPECT_EQ(corner(3, 3), c.br) << c.angle;
        // A quarter turn of a square covers the same square.
        const ClipRect r = painted_box();
        EXPECT_LE(std::abs(r.left - 100) + std::abs(r.top - 100) + std::abs(r.right - 115) + std::abs(r.bottom - 115), 2) << c.angle;
    }
}

TEST_F(KernelTest, RotozoomStaysInsideSourceAndClip) {
    // Exact-size sources, so AddressSanitizer sees any read past them; every angle, scales from
    // a quarter to eight times, including steps under 1/256 pixel.
    const int w = 13, h = 7;
    std::vector<uint8_t> idx(w * h, 5);
    std::vector<uint16_t> px(w * h, 0x0841);
    uint16_t palette[256];
    for (auto& p : palette) p = 0x0821;
    const ClipRect clip{40, 50, 200, 260};
    active_clips[5] = clip;
    current_clip = 5;
    for (int32_t scale : {256, 700, 1023, 1024, 2048, 3100, 8192, 300000}) {
        for (int angle = 0; angle < 512; angle += 3) {
            for (int k = 0; k < 5; ++k) scaled_kernels[k == 4 ? 6 : k](k == 4 ? static_cast<const void*>(px.data()) : idx.data(), palette, w, h, 100, 150, 12, angle, scale);
            ASSERT_EQ(changed_outside(clip), 0) << scale << " " << angle;
        }
    }
}

TEST(RotozoomSetup, ZeroStepsGetDefinedReciprocals) {
    current_sprite = 7;
    rotozoom_setup(10, 10, 16, 16, 0, 1024);
    EXPECT_EQ(current_sprite, -1);
    EXPECT_EQ(rotate_scale.du, 65536);
    EXPECT_EQ(rotate_scale.dv, 0);
    EXPECT_EQ(rotate_scale.ru, 256);
    EXPECT_EQ(rotate_scale.rv, 0);  // zero step: never used, defined as 0
    // Angle 1 at scale 4096: dv = 64 x 3 = 192, under one 24.8 unit; full-precision reciprocal.
    rotozoom_setup(10, 10, 16, 16, 1, 4096);
    EXPECT_EQ(rotate_scale.dv, 192);
    EXPECT_EQ(rotate_scale.rv, 0x1000000 / 192);
    // A square box 1.5 times the scaled size, centred on the source centre.
    rotozoom_setup(100, 100, 16, 16, 0, 2048);
    EXPECT_EQ(rotate_scale.bx, 108 - 24);
    EXPECT_EQ(rotate_scale.by, 108 - 24);
}
