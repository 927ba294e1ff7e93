// Vector primitives: alpha combination, line plotting and clipping, boxes, gradients, circles
// at the screen edge, and the list operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "media/bitmap.h"
#include "render/blend.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "render/framebuffer.h"
#include "runtime/primitives.h"
#include "tests/support/check.h"

namespace {

uint16_t pixel(int x, int y) { return Framebuffer[y * SCREEN_WIDTH + x]; }
constexpr uint16_t BG = 0x0000;

class Primitives : public ::testing::Test {
protected:
    void SetUp() override {
        sprites_init();
        layer_free_all();
        background_colour = BG;
        primitives_attach(1);
    }
    void TearDown() override {
        primitives_clear(1);
        layer_free_all();
        layer_hook = nullptr;
    }
    int count_not(uint16_t colour) {
        return static_cast<int>(SCREEN_WIDTH * 320 -
                                std::count(std::begin(Framebuffer), std::end(Framebuffer), colour));
    }
};

TEST_F(Primitives, NodeAndLayerAlphaCombine) {
    PrimitiveNode* box = primitive_box(1, 10, 10, 10, 10, 0, 0, 0xFFFF, 16);
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), blend_rgb565(BG, 0xFFFF, 16));
    LayerTable[1].alpha = 16;
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), blend_rgb565(BG, 0xFFFF, 8));
    box->alpha = 1;
    compose(0, 1023);
    EXPECT_EQ(pixel(10, 10), BG);
}

TEST_F(Primitives, LinesOnTheLastRowAndColumnAndAcrossEdges) {
    primitive_line(1, 0, 319, 239, 319, 0xFFFF, 32);
    primitive_line(1, 239, 0, 239, 319, 0x07E0, 32);
    primitive_line(1, 150, -6, 156, 0, 0xFFFF, 32);  // from above, ending on the top row
    primitive_line(1, 230, 10, 239, 13, 0xF800, 32);  // ending on the last column: kept as given
    primitive_line(1, -10, 30, 0, 33, 0x001F, 32);    // from the left, ending on the first column
    primitive_line(1, 0, 40, -5, 45, 0x001F, 32);     // from the first column out to the left
    primitive_line(1, 239, 40, 245, 45, 0xF800, 32);  // and from the last out to the right
    compose(0, 1023);
    EXPECT_NE(pixel(156, 0), BG);
    EXPECT_EQ(vals(pixel(0, 319), pixel(239, 319), pixel(239, 13), pixel(0, 33), pixel(0, 40), pixel(239, 40)),
              vals(0xFFFF, 0x07E0, 0xF800, 0x001F, 0x001F, 0xF800));
    // A shorter screen cuts lines at its own last row.
    primitives_clear(1);
    primitives_attach(1);
    std::fill(std::begin(Framebuffer), std::end(Framebuffer), BG);
    primitive_line(1, 20, 290, 20, 319, 0xFFFF, 32);
    screen_height = 300;
    compose(0, 1023);
    screen_height = 320;
    EXPECT_EQ(vals(pixel(20, 299), pixel(20, 300)), vals(0xFFFF, BG));
    primitives_clear(1);
    primitives_attach(1);
    // Wu weights, one step of 3/10 in either direction: k = (65536 * 3 / 10) >> 11 = 9, so the
    // pixel on the line gets 32 - 9 and its neighbour across it 9 + 1.
    primitive_line(1, 10, 10, 20, 13, 0xFFFF, 32);
    primitive_line(1, 30, 10, 33, 20, 0xFFFF, 32);
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(11, 10), pixel(11, 11), pixel(30, 11), pixel(31, 11)),
              vals(blend_rgb565(BG, 0xFFFF, 23), blend_rgb565(BG, 0xFFFF, 10), blend_rgb565(BG, 0xFFFF, 23),
                   blend_rgb565(BG, 0xFFFF, 10)));
    primitives_clear(1);
    // Lines reaching far past every edge, including a nearly flat one whose slope rounds to 0,
    // with a screen clip reaching past the screen too.
    screen_clip = ClipRect{-20, -20, 400, 500};
    primitive_line(1, -500, -400, 700, 900, 0xFFFF, 32);
    primitive_line(1, 300, -50, -300, 400, 0xFFFF, 20);
    primitive_line(1, -3000, -1, 100, 2, 0xFFFF, 32);
    primitive_line(1, -3000, 318, 3000, 330, 0xFFFF, 32);
    primitive_line(1, 5, -100, 5, 1000, 0xFFFF, 32);
    primitive_line(1, 400, 10, 500, 20, 0xFFFF, 32);  // wholly right of the screen
    primitive_line(1, -50, 100, 300, 100, 0xFFFF, 32);
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(5, 0), pixel(5, 319), pixel(100, 2), pixel(0, 100), pixel(239, 100), pixel(0, 101)),
              vals(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, BG));
    EXPECT_NE(pixel(40, 0), BG);
    EXPECT_GT(count_not(BG), 320);
}

// Lines in every direction against the plain rules: a straight or diagonal line is every pixel
// from end to end at full weight; a Wu line gives each step along its long axis two pixels side
// by side across it whose weights make 33 (32 - k and k + 1), bracketing the true line, and both
// ends at full weight. Nothing else is drawn.
TEST_F(Primitives, LinesInEveryDirectionFollowThePlainRules) {
    int weight_of[64] = {};  // green of white drawn on black at weight w -> w
    for (int w = 32; w >= 0; --w) weight_of[blend_rgb565(BG, 0xFFFF, static_cast<uint32_t>(w)) >> 5 & 63] = w;
    const struct { int x0, y0, x1, y1; } lines[] = {{10, 10, 30, 10},  {60, 10, 40, 10},   {10, 20, 10, 40},
                                                    {20, 40, 20, 20},  {30, 20, 40, 30},   {60, 20, 50, 30},
                                                    {10, 50, 30, 56},  {70, 50, 45, 57},   {90, 57, 80, 50},
                                                    {100, 50, 104, 70}, {130, 50, 124, 75}, {150, 80, 145, 52}};
    for (const auto& l : lines) {
        primitives_clear(1);
        primitives_attach(1);
        primitive_line(1, l.x0, l.y0, l.x1, l.y1, 0xFFFF, 32);
        compose(0, 1023);
        const int dx = l.x1 - l.x0, dy = l.y1 - l.y0, steps = std::max(std::abs(dx), std::abs(dy));
        const bool wu = dx != 0 && dy != 0 && std::abs(dx) != std::abs(dy), x_major = std::abs(dx) >= std::abs(dy);
        int expected = 0;
        EXPECT_EQ(vals(pixel(l.x0, l.y0), pixel(l.x1, l.y1)), vals(0xFFFF, 0xFFFF)) << l.x0 << "," << l.y0;
        for (int i = 1; i < steps; ++i) {
            const double along = static_cast<double>(i) / steps;
            if (!wu) {
                const int x = l.x0 + dx * i / steps, y = l.y0 + dy * i / steps;
                EXPECT_EQ(pixel(x, y), 0xFFFF) << l.x0 << "," << l.y0 << " step " << i;
                ++expected;
                continue;
            }
            // The step's pixels across the line: the first drawn and the one after it.
            const int major = x_major ? l.x0 + (dx > 0 ? i : -i) : l.y0 + (dy > 0 ? i : -i);
            const double minor = x_major ? l.y0 + dy * along : l.x0 + dx * along;
            auto at = [&](int m) { return x_major ? pixel(major, m) : pixel(m, major); };
            int first = -1;
            for (int m = static_cast<int>(minor) - 2; m <= static_cast<int>(minor) + 2 && first < 0; ++m)
                if (at(m) != BG) first = m;
            ASSERT_GE(first, 0) << l.x0 << "," << l.y0 << " step " << i;
            EXPECT_TRUE(first <= minor + 0.01 && minor - 0.01 <= first + 1) << l.x0 << "," << l.y0 << " step " << i;
            EXPECT_EQ(weight_of[at(first) >> 5 & 63] + weight_of[at(first + 1) >> 5 & 63], 33)
                << l.x0 << "," << l.y0 << " step " << i;
            expected += 2;
        }
        EXPECT_EQ(count_not(BG), expected + 2) << l.x0 << "," << l.y0;
    }
}

TEST_F(Primitives, BoxBorderAndFill) {
    primitive_box(1, 6, 6, 5, 5, 0, 0x1111, 0xFFFF, 32);  // corners reversed, no border
    primitive_box(1, 10, 10, 14, 14, 1, 0x1111, 0x2222, 32);
    primitive_box(1, 20, 10, 24, 14, 1, colour_key, 0x2222, 32);
    primitive_box(1, 30, 10, 34, 14, 2, 0x1111, colour_key, 32);
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(5, 5), pixel(7, 6), pixel(10, 10), pixel(12, 14), pixel(13, 13)),
              vals(0xFFFF, BG, 0x1111, 0x1111, 0x2222));
    // A key-coloured border is not drawn (the fill stays inside it); a 2-wide border, no fill.
    EXPECT_EQ(vals(pixel(20, 10), pixel(21, 11), pixel(31, 11), pixel(32, 12)), vals(BG, 0x2222, 0x1111, BG));
    // The layer's clip rectangle bounds boxes.
    primitives_clear(1);
    set_clip_rect(2, 0, 0, 99, 99);
    LayerTable[1].clip_index = 2;
    primitive_box(1, 90, 90, 5000, 5000, 1, 0x1111, 0x2222, 32);
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(90, 90), pixel(99, 99), pixel(100, 99)), vals(0x1111, 0x2222, BG));
}

// Every pixel of bordered boxes against a plain rule: top and bottom bands b rows deep across
// the visible width, side bands b columns wide on the visible rows strictly between the first
// and the last (also on a box the screen cuts, as the device drew them), fill inside. Across the
// screen's edges, borders wider than half the box, a clip rectangle cutting through the border,
// and borders alone (a key-coloured fill).
TEST_F(Primitives, BoxesMatchThePlainRuleWhereverTheyAreCut) {
    const struct { int x0, y0, x1, y1, b, clip[4]; uint16_t fill = 0x1111; } boxes[] = {
        {10, 10, 30, 25, 3, {0, 0, 239, 319}},   {-5, -5, 20, 20, 4, {0, 0, 239, 319}},
        {230, 310, 250, 330, 2, {0, 0, 239, 319}}, {40, 40, 60, 60, 12, {0, 0, 239, 319}},
        {50, 50, 80, 70, 3, {55, 52, 75, 68}},   {50, 50, 80, 70, 0, {52, 49, 90, 69}},
        {50, 50, 80, 70, 1, {50, 70, 80, 80}},   {10, 10, 30, 25, 3, {0, 0, 239, 319}, colour_key},
        {-5, -5, 20, 20, 4, {0, 0, 239, 319}, colour_key}};
    for (const auto& k : boxes) {
        primitives_clear(1);
        primitives_attach(1);
        set_clip_rect(2, k.clip[0], k.clip[1], k.clip[2], k.clip[3]);
        LayerTable[1].clip_index = 2;
        primitive_box(1, k.x0, k.y0, k.x1, k.y1, static_cast<uint8_t>(k.b), 0x2222, k.fill, 32);
        compose(0, 1023);
        const int top = std::max({k.y0, k.clip[1], 0}), bottom = std::min({k.y1, k.clip[3], 319});
        int wrong = 0;
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < SCREEN_WIDTH; ++x) {
                const bool in = x >= std::max(k.x0, k.clip[0]) && x <= std::min(k.x1, k.clip[2]) && y >= top &&
                                y <= bottom;
                const bool band = y - k.y0 < k.b || k.y1 - y < k.b;
                const bool side = (x - k.x0 < k.b || k.x1 - x < k.b);
                const uint16_t want = !in ? BG : band || (side && y > top && y < bottom) ? 0x2222 : side || k.fill == colour_key ? BG : 0x1111;
                wrong += pixel(x, y) != want;
            }
        EXPECT_EQ(wrong, 0) << k.x0 << "," << k.y0 << " border " << k.b;
    }
}

// Gradients (no program draws one yet) draw only at alpha 32; corners far off the screen keep the
// colour steps: 5301 rows from y = -5000 put row 0 at r = 5000, step 12, k = 29 (white at weight 3).
TEST_F(Primitives, GradientsOnlyOpaqueAndFarOffCorners) {
    PrimitiveNode* g = primitive_gradient(1, 0, -5000, 1, 300, 0xFFFF, 0x0000, 31);
    compose(0, 1023);
    EXPECT_EQ(count_not(BG), 0);
    g->alpha = 32;
    compose(0, 1023);
    EXPECT_EQ(vals(pixel(0, 0), pixel(2, 0)), vals(0x10A2, BG));
    primitive_gradient(1, 5, 2000000000, 6, -2000000000, 0xFFFF, 0x0000, 32);  // over 65536 rows: step 0
    compose(0, 1023);
}

TEST_F(Primitives, CirclesInsideAndAcrossTheEdges) {
    primitive_circle(1, 50, 50, 23, 0xFFFF, colour_key, 32);  // no fill
    compose(0, 1023);
    EXPECT_EQ((std::vector<int>{pixel(50, 73), pixel(50, 50)}), (std::vector<int>{0xFFFF, BG}));
    // The outline is the same in all eight octants, and along each row or column it takes the
    // pixel whose squared distance is nearest the squared radius.
    for (int dy = -25; dy <= 25; ++dy)
        for (int dx = -25; dx <= 25; ++dx) {
            if (pixel(50 + dx, 50 + dy) != 0xFFFF) continue;
            const int far = std::max(std::abs(dx), std::abs(dy)), near = std::min(std::abs(dx), std::abs(dy));
            auto miss = [near](int m) { return std::abs(near * near + m * m - 23 * 23); };
            EXPECT_TRUE(miss(far) <= miss(far - 1) && miss(far) <= miss(far + 1)) << dx << " " << dy;
            EXPECT_EQ(vals(pixel(50 - dx, 50 + dy), pixel(50 + dx, 50 - dy), pixel(50 + dy, 50 + dx)), vals(0xFFFF, 0xFFFF, 0xFFFF));
        }
    // Filled: everything well inside the radius is the fill, nothing well outside is drawn, and
    // each row is one run from outline to outline.
    primitives_clear(1);
    primitive_circle(1, 120, 160, 30, 0xFFFF, 0x07E0, 32);
    compose(0, 1023);
    for (int dy = -32; dy <= 32; ++dy) {
        int first = 999, last = -999, drawn = 0;
        for (int dx = -32; dx <= 32; ++dx) {
            const int d2 = dx * dx + dy * dy;
            const uint16_t p = pixel(120 + dx, 160 + dy);
            if (d2 < 29 * 29) { EXPECT_EQ(p, 0x07E0) << dx << "," << dy; }
            if (d2 > 31 * 31) { EXPECT_EQ(p, BG) << dx << "," << dy; }
            if (p != BG) first = std::min(first, dx), last = std::max(last, dx), ++drawn;
        }
        if (drawn) { EXPECT_EQ(vals(drawn, pixel(120 + first, 160 + dy), pixel(120 + last, 160 + dy)), vals(last - first + 1, 0xFFFF, 0xFFFF)) << dy; }
    }
    // Crossing every edge (the sanitizer build catches any write outside the Framebuffer).
    primitives_clear(1);
    primitive_circle(1, 0, 0, 255, 0xFFFF, 0x07E0, 32);
    primitive_circle(1, 239, 319, 200, 0xFFFF, 0x07E0, 32);
    primitive_circle(1, -300, 100, 255, 0xFFFF, 0x07E0, 32);
    primitive_circle(1, 5, 10, 10, 0xF800, colour_key, 32);     // cut on the left: its top on row 0
    primitive_circle(1, 229, 310, 10, 0xF800, colour_key, 32);  // cut below: its right on column 239
    compose(0, 1023);
    EXPECT_EQ((std::vector<int>{pixel(0, 0), pixel(0, 255), pixel(239, 319), pixel(5, 0), pixel(239, 310)}),
              (std::vector<int>{0x07E0, 0xFFFF, 0x07E0, 0xF800, 0xF800}));
    // One pixel past the left, right or bottom edge: the outline is cut there, nothing wraps onto
    // the neighbouring row or lands in the rows below a 300-row screen.
    primitives_clear(1);
    std::fill(std::begin(Framebuffer), std::end(Framebuffer), BG);
    primitive_circle(1, 9, 100, 10, 0xFFFF, colour_key, 32);
    primitive_circle(1, 230, 200, 10, 0xFFFF, colour_key, 32);
    primitive_circle(1, 120, 290, 10, 0xFFFF, colour_key, 32);
    screen_height = 300;
    compose(0, 1023);
    screen_height = 320;
    EXPECT_EQ(vals(pixel(239, 99), pixel(0, 201), pixel(120, 300), pixel(120, 280)),
              vals(BG, BG, BG, 0xFFFF));
}

TEST_F(Primitives, ListOperations) {
    PrimitiveNode* a = primitive_line(1, 0, 0, 0, 0, 0xFFFF, 32);
    PrimitiveNode* b = primitive_line(1, 1, 0, 1, 0, 0xFFFF, 32);
    PrimitiveNode* c = primitive_line(1, 2, 0, 2, 0, 0xFFFF, 32);
    EXPECT_EQ(c->prev, b);
    primitive_remove(a);  // the layer's head follows
    EXPECT_EQ(LayerTable[1].primitives, b);
    primitive_remove(c);
    compose(0, 1023);
    EXPECT_EQ(count_not(BG), 1);
    primitive_remove(b);
    EXPECT_EQ(LayerTable[1].primitives, nullptr);
    // Attaching an in-use layer empties its list and keeps its kind.
    ASSERT_EQ(layer_create_rgb565(3, 4, 4, 1), 1);
    primitive_box(3, 0, 0, 5, 5, 0, 0, 0xFFFF, 32);
    primitives_attach(3);
    EXPECT_EQ(LayerTable[3].kind, LAYER_BITMAP);
    EXPECT_EQ(LayerTable[3].primitives, nullptr);
    EXPECT_EQ(primitive_new(16), nullptr);
}

}  // namespace
