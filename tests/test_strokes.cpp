#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/input.h"
#include "runtime/strokes.h"

namespace {

struct Point {
    int x, y;
};

// One frame of pen input as the frame pump leaves it, then stroke_update.
int8_t pen_frame(uint8_t pressed, uint8_t down, uint8_t released, int x = 0, int y = 0) {
    pen_state.pressed = pressed;
    pen_state.down = down;
    pen_state.released = released;
    if (down) pen_state.x = int16_t(x), pen_state.y = int16_t(y);
    return stroke_update();
}

// Press at the first position, one frame per following position, lift in the next frame.
int8_t draw(const std::vector<Point>& frames) {
    pen_frame(1, 1, 0, frames[0].x, frames[0].y);
    for (size_t i = 1; i < frames.size(); ++i) pen_frame(0, 1, 0, frames[i].x, frames[i].y);
    return pen_frame(0, 0, 1);
}

std::vector<Point> line(int x, int y, int dx, int dy, int frames = 50) {
    std::vector<Point> out;
    for (int i = 0; i <= frames; ++i) out.push_back({x + dx * i, y + dy * i});
    return out;
}

class Strokes : public ::testing::Test {
protected:
    void SetUp() override {
        stroke_clear_templates();
        stroke_buffer = StrokeBuffer{};
        stroke_result = StrokeResult{};
        pen_state = PenState{};
    }
    void TearDown() override { stroke_clear_templates(); }
};

TEST_F(Strokes, CodeDistanceIsCircular) {
    EXPECT_EQ(stroke_code_distance('0', 'O'), 1);  // codes 0 and 31 are neighbours
    EXPECT_EQ(stroke_code_distance('O', '0'), 1);
    EXPECT_EQ(stroke_code_distance('0', '@'), 16);
    EXPECT_EQ(stroke_code_distance('9', 'A'), 8);
    // A zero byte counts as code 16: the all-zero templates stand for one direction.
    for (char c = '0'; c <= 'O'; ++c) EXPECT_EQ(stroke_code_distance(c, 0), stroke_code_distance(c, '@'));
}

TEST_F(Strokes, AngleOfCompassDirectionsAndAgainstTheArctangent) {
    const int dirs[8][2] = {{1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(stroke_angle(100, 150, int16_t(100 + 40 * dirs[k][0]), int16_t(150 + 40 * dirs[k][1])), 64 * k);
    // The 8.8 table rounds cosines near an axis to a flat 256, so long vectors slightly off an
    // axis are pulled up to 7 steps too far; that stays inside half a code sector.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-32768, 32767);
    for (int n = 0; n < 20000; ++n) {
        const int px = coord(rng), py = coord(rng), qx = coord(rng), qy = coord(rng);
        const double exact = std::fmod(std::atan2(double(py - qy), double(qx - px)) * 256 / M_PI + 512, 512);
        const double diff = std::fabs(stroke_angle(int16_t(px), int16_t(py), int16_t(qx), int16_t(qy)) - exact);
        ASSERT_LE(std::min(diff, 512 - diff), 8.0) << px << "," << py << " to " << qx << "," << qy;
    }
}

TEST_F(Strokes, SegmentsAreBresenhamChainsWithoutRepeats) {
    pen_frame(1, 1, 0, 0, 0);
    pen_frame(0, 1, 0, 5, 2);
    const StrokePoint expected[] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    ASSERT_EQ(stroke_buffer.count, 6);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(!std::memcmp(&stroke_buffer.points[i + 1], &expected[i], 4)) << i;
    pen_frame(0, 1, 0, -3, -9);  // steep, up and left
    pen_frame(0, 1, 0, -3, -9);  // standing still adds nothing
    EXPECT_EQ(stroke_buffer.count, 6 + 11);
    EXPECT_EQ(stroke_buffer.points[17].x, -3);
    EXPECT_EQ(stroke_buffer.points[17].y, -9);
}

TEST_F(Strokes, StraightStrokesAndTheLiftFrame) {
    EXPECT_EQ(draw({{10, 100}, {20, 100}, {30, 100}}), ' ');
    EXPECT_EQ(stroke_result.point_count, 11);  // the last frame's 10 points are dropped
    EXPECT_EQ(stroke_result.end_x, 20);
    EXPECT_EQ(stroke_result.min_x, 8);  // the box is widened by 2
    EXPECT_EQ(stroke_result.max_y, 102);

    EXPECT_EQ(draw(line(20, 150, 4, 0)), ' ');
    EXPECT_STREQ(stroke_result.codes, "AAAAAAAAAAAAAAA");
    EXPECT_EQ(stroke_result.distance, 0);
    EXPECT_EQ(draw(line(120, 20, 0, 5)), 'i');
    EXPECT_STREQ(stroke_result.codes, "999999999999999");
    EXPECT_EQ(stroke_result.overall_angle, 384);
    EXPECT_EQ(stroke_result.max_y, 20 + 5 * 49);  // not widened below row 191

    stroke_use_builtin(0);
    EXPECT_EQ(draw(line(20, 150, 4, 0)), 0);
    EXPECT_EQ(stroke_result.distance, 65000);
}

TEST_F(Strokes, TapsReadNoUnwrittenPoint) {
    stroke_buffer.points[0] = stroke_buffer.points[2] = {-999, -999};
    EXPECT_EQ(draw({{50, 60}}), 0);  // lifted in the frame after the press: no points kept
    EXPECT_EQ(stroke_result.point_count, 0);
    EXPECT_EQ(stroke_result.distance, 65000);
    EXPECT_EQ(stroke_result.end_x, 50);
    EXPECT_STREQ(stroke_result.codes, "");
    // Held one frame: a one-point stroke; zero-length directions come out as the full stop.
    EXPECT_EQ(draw({{50, 60}, {50, 60}}), '.');
    EXPECT_STREQ(stroke_result.codes, "LLLLLLLLLLLLLLL");
}

TEST_F(Strokes, PointBufferNeverOverflows) {
    std::vector<Point> zigzag;
    for (int i = 0; i < 40; ++i) zigzag.push_back({(i % 2) ? 239 : 0, i * 8});
    draw(zigzag);
    EXPECT_EQ(stroke_result.point_count, STROKE_MAX_POINTS);
    // From the append limit one long segment is cut to the two points left.
    pen_frame(1, 1, 0, 0, 0);
    stroke_buffer.count = STROKE_APPEND_LIMIT;
    stroke_buffer.points[STROKE_APPEND_LIMIT] = {0, 0};
    pen_frame(0, 1, 0, 200, 300);
    EXPECT_EQ(stroke_buffer.count, STROKE_MAX_POINTS);
    EXPECT_EQ(stroke_buffer.points[STROKE_MAX_POINTS].y, 2);
}

TEST_F(Strokes, UserTemplates) {
    ASSERT_EQ(stroke_add_template('^', "iiiiiiiiiiiiiii"), 1);
    EXPECT_STREQ(stroke_user_table[0].codes, "IIIIIIIIIIIIIII");  // stored upper case
    EXPECT_EQ(draw(line(120, 300, 0, -5)), '^');
    ASSERT_EQ(stroke_add_template('R', "AAAAAAAAAAAAAAA"), 1);
    EXPECT_EQ(draw(line(20, 150, 4, 0)), ' ');  // a tie keeps the built-in
    stroke_use_builtin(0);
    EXPECT_EQ(draw(line(20, 150, 4, 0)), 'R');
    ASSERT_EQ(stroke_add_template('s', "AB"), 1);  // short: padded, never read past its end
    EXPECT_EQ(stroke_user_table[2].codes[2], 0);

    stroke_clear_templates();
    for (int i = 0; i < STROKE_USER_MAX - 1; ++i) stroke_add_template('-', "000000000000000");
    ASSERT_EQ(stroke_add_template('#', "IIIIIIIIIIIIIII"), 1);
    EXPECT_EQ(stroke_add_template('!', "IIIIIIIIIIIIIII"), 0);  // full: refused, no wrap
    EXPECT_EQ(user_template_count, STROKE_USER_MAX);
    EXPECT_EQ(draw(line(120, 300, 0, -5)), '#');
}

// Handwriting synthesised from a built-in template: 16 pieces following its codes (each piece
// between two neighbouring codes), jittered in direction and length, the letter tilted, scaled
// to 40..160 pixels somewhere on the screen, and drawn with a trembling pen at a varying speed.
struct Hand {
    double turn, stretch, tremble, tilt;  // turn and tilt in 512ths of a turn (std. deviation)
    int min_frames, max_frames;
};

std::vector<Point> handwrite(const StrokeTemplate& t, const Hand& h, std::mt19937& rng) {
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // Code k points from a later sample back to an earlier one; the pen moves the other way.
    auto heading = [&](int i) { return (16.0 * (t.codes[i] - '0') - 8.0 + 256.0) * M_PI / 256.0; };
    const double tilt = h.tilt * gauss(rng) * M_PI / 256.0;
    std::vector<double> xs{0}, ys{0};
    for (int j = 0; j < 16; ++j) {
        const int a = std::max(j - 1, 0), b = std::min(j, 14);
        double dx = std::cos(heading(a)) + std::cos(heading(b)), dy = std::sin(heading(a)) + std::sin(heading(b));
        if (std::hypot(dx, dy) < 0.2) dx = std::cos(heading(b)), dy = std::sin(heading(b));
        const double angle = std::atan2(dy, dx) + tilt + h.turn * gauss(rng) * M_PI / 256.0;
        const double len = 1.0 + h.stretch * (2 * unit(rng) - 1);
        xs.push_back(xs.back() + len * std::cos(angle));
        ys.push_back(ys.back() - len * std::sin(angle));
    }
    const auto [x0, x1] = std::minmax_element(xs.begin(), xs.end());
    const auto [y0, y1] = std::minmax_element(ys.begin(), ys.end());
    const double k = (40 + 120 * unit(rng)) / std::max({*x1 - *x0, *y1 - *y0, 1e-3});
    const double left = 2 + (236 - k * (*x1 - *x0)) * unit(rng) - k * *x0;
    const double top = 2 + (316 - k * (*y1 - *y0)) * unit(rng) - k * *y0;
    const double frames = h.min_frames + (h.max_frames - h.min_frames) * unit(rng);
    std::vector<Point> out;
    for (double u = 0;; u += 16 / frames * (0.6 + 0.8 * unit(rng))) {
        const double v = std::min(u, 16.0);
        const int j = std::min(int(v), 15);
        const double f = v - j;
        const double x = left + k * (xs[j] + f * (xs[j + 1] - xs[j])) + h.tremble * (2 * unit(rng) - 1);
        const double y = top + k * (ys[j] + f * (ys[j + 1] - ys[j])) + h.tremble * (2 * unit(rng) - 1);
        out.push_back({int(std::lround(x)), int(std::lround(y))});
        if (u >= 16) return out;
    }
}

double recognised_share(const Hand& h, int per_letter, uint32_t seed, const char* label) {
    std::mt19937 rng(seed);
    int hits = 0;
    for (int t = 0; t < 28; ++t) {  // space, a..z, full stop
        for (int n = 0; n < per_letter; ++n) {
            hits += draw(handwrite(stroke_builtin_table[t], h, rng)) == stroke_builtin_table[t].character;
        }
    }
    std::printf("%-8s %4d of %4d recognised (%.1f%%)\n", label, hits, 28 * per_letter, 100.0 * hits / (28 * per_letter));
    return double(hits) / (28 * per_letter);
}

TEST_F(Strokes, SynthesisedHandwritingIsRecognised) {
    EXPECT_EQ(recognised_share({0, 0, 0, 0, 15, 60}, 20, 1, "clean"), 1.0);
    EXPECT_GE(recognised_share({10, 0.3, 2, 0, 15, 60}, 100, 2, "jittered"), 0.95);
    EXPECT_GE(recognised_share({20, 0.4, 3, 0, 15, 60}, 100, 3, "rough"), 0.85);
    EXPECT_GE(recognised_share({10, 0.3, 2, 16, 15, 60}, 100, 4, "tilted"), 0.75);
    EXPECT_GE(recognised_share({10, 0.3, 2, 0, 6, 12}, 100, 5, "hurried"), 0.75);
    EXPECT_GE(recognised_share({20, 0.4, 3, 16, 8, 30}, 100, 6, "all"), 0.60);
}

}  // namespace
