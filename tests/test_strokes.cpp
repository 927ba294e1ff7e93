#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/input.h"
#include "runtime/strokes.h"

namespace {

// The built-in letters as direction codes 0..31, in table order; the table itself stores
// '0' + code. Kept numeric here so a slip in the character encoding shows up.
struct LetterCodes {
    char character;
    int codes[15];
};
const LetterCodes letters[28] = {
    {' ', {17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17}},
    {'a', {22, 23, 23, 23, 23, 23, 22, 18, 11, 10, 11, 11, 11, 11, 11}},
    {'b', {26, 26, 26, 26, 26, 25, 23, 19, 14, 10, 8, 13, 12, 6, 2}},
    {'c', {0, 1, 2, 3, 4, 6, 8, 9, 11, 12, 14, 15, 16, 18, 19}},
    {'d', {13, 9, 9, 5, 27, 26, 25, 22, 18, 15, 13, 11, 8, 5, 3}},
    {'e', {1, 2, 3, 6, 11, 14, 16, 1, 3, 6, 11, 13, 15, 16, 17}},
    {'f', {1, 2, 1, 1, 1, 1, 3, 9, 9, 9, 9, 8, 7, 7, 9}},
    {'g', {2, 3, 5, 6, 8, 9, 11, 13, 16, 19, 22, 25, 26, 21, 17}},
    {'h', {8, 9, 9, 9, 9, 9, 9, 11, 24, 22, 21, 17, 14, 12, 10}},
    {'i', {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
    {'j', {9, 9, 9, 9, 9, 9, 9, 9, 8, 6, 5, 3, 1, 0, 0}},
    {'k', {6, 5, 4, 3, 2, 0, 30, 25, 20, 19, 17, 15, 13, 13, 13}},
    {'l', {9, 9, 9, 9, 9, 9, 9, 8, 8, 12, 17, 17, 16, 16, 16}},
    {'m', {24, 23, 23, 21, 17, 12, 11, 21, 22, 20, 17, 13, 11, 9, 9}},
    {'n', {24, 24, 24, 25, 21, 12, 11, 11, 11, 12, 23, 25, 24, 24, 24}},
    {'o', {4, 6, 8, 9, 11, 12, 15, 18, 20, 22, 24, 27, 29, 31, 0}},
    {'p', {12, 27, 26, 25, 25, 25, 24, 23, 21, 18, 14, 11, 8, 5, 3}},
    {'q', {4, 6, 7, 9, 12, 15, 19, 20, 22, 24, 27, 29, 26, 18, 17}},
    {'r', {9, 9, 9, 25, 25, 25, 25, 23, 19, 15, 10, 5, 3, 12, 13}},
    {'s', {0, 2, 3, 5, 10, 14, 15, 14, 14, 11, 7, 3, 1, 0, 0}},
    {'t', {17, 17, 17, 17, 16, 16, 16, 11, 8, 9, 9, 9, 9, 9, 9}},
    {'u', {8, 9, 9, 10, 11, 12, 14, 17, 19, 21, 23, 24, 24, 25, 24}},
    {'v', {11, 11, 10, 10, 10, 10, 10, 15, 22, 23, 23, 24, 24, 23, 22}},
    {'w', {10, 10, 11, 13, 18, 17, 12, 12, 16, 19, 20, 21, 22, 23, 24}},
    {'x', {11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11}},
    {'y', {14, 11, 13, 17, 22, 22, 8, 9, 9, 9, 7, 4, 31, 25, 22}},
    {'z', {14, 17, 16, 16, 14, 8, 4, 3, 3, 4, 8, 15, 16, 17, 17}},
    {'.', {28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28}},
};

struct Point {
    int x, y;
};

// One frame of pen input as the frame pump would leave it, then stroke_update.
int8_t pen_frame(uint8_t pressed, uint8_t down, uint8_t released, int x, int y) {
    pen_state.pressed = pressed;
    pen_state.down = down;
    pen_state.released = released;
    if (down) {
        pen_state.x = static_cast<int16_t>(x);
        pen_state.y = static_cast<int16_t>(y);
    }
    return stroke_update();
}

// Press at the first position, one frame at each following position, lift in the next frame.
int8_t draw(const std::vector<Point>& frames) {
    pen_frame(1, 1, 0, frames[0].x, frames[0].y);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(pen_frame(0, 1, 0, frames[i].x, frames[i].y), 0);
    }
    return pen_frame(0, 0, 1, 0, 0);
}

std::vector<Point> straight(Point from, int dx, int dy, int frames) {
    std::vector<Point> out;
    for (int i = 0; i <= frames; ++i) out.push_back({from.x + dx * i, from.y + dy * i});
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

TEST_F(Strokes, BuiltInTableHoldsTheLetterCodes) {
    for (int t = 0; t < 28; ++t) {
        const StrokeTemplate& entry = stroke_builtin_table[t];
        EXPECT_EQ(entry.character, letters[t].character) << "template " << t;
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(entry.codes[i], '0' + letters[t].codes[i]) << "template " << t << " code " << i;
        EXPECT_EQ(entry.codes[15], 0);
    }
    for (int t = 28; t < 30; ++t) {
        EXPECT_EQ(stroke_builtin_table[t].character, 0);
        for (char c : stroke_builtin_table[t].codes) EXPECT_EQ(c, 0);
    }
}

TEST_F(Strokes, CodeDistanceIsCircular) {
    EXPECT_EQ(stroke_code_distance('0', '0'), 0);
    EXPECT_EQ(stroke_code_distance('0', 'O'), 1);   // codes 0 and 31 are neighbours
    EXPECT_EQ(stroke_code_distance('O', '0'), 1);
    EXPECT_EQ(stroke_code_distance('0', '@'), 16);  // opposite directions
    EXPECT_EQ(stroke_code_distance('A', '9'), 8);   // right against down: a quarter turn
    EXPECT_EQ(stroke_code_distance('9', 'A'), 8);
    // A zero byte behaves as code 16, so the all-zero templates stand for one direction.
    for (int code = 0; code < 32; ++code)
        EXPECT_EQ(stroke_code_distance(static_cast<char>('0' + code), 0),
                  stroke_code_distance(static_cast<char>('0' + code), '@'));
}

TEST_F(Strokes, AngleOfTheEightCompassDirections) {
    // (dx, dy) on the screen, y down; angles counter-clockwise with y up, 512 per turn.
    const struct {
        int dx, dy;
        uint16_t angle;
    } cases[] = {{40, 0, 0},     {40, -40, 64},  {0, -40, 128}, {-40, -40, 192},
                 {-40, 0, 256},  {-40, 40, 320}, {0, 40, 384},  {40, 40, 448}};
    for (const auto& c : cases) {
        EXPECT_EQ(stroke_angle(100, 150, static_cast<int16_t>(100 + c.dx),
                               static_cast<int16_t>(150 + c.dy)),
                  c.angle)
            << c.dx << "," << c.dy;
    }
}

// The search is not exact: the 8.8 table rounds cosines near the axes to a flat 256, so long
// vectors a little off an axis are pulled up to 7 steps further. That stays inside half a code
// sector (8 steps).
TEST_F(Strokes, AngleFollowsTheArctangentWithinHalfASector) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-32768, 32767);
    int worst = 0;
    for (int n = 0; n < 20000; ++n) {
        const int px = coord(rng), py = coord(rng), qx = coord(rng), qy = coord(rng);
        if (px == qx && py == qy) continue;
        double exact = std::atan2(-(double(qy) - py), double(qx) - px) * 256.0 / M_PI;
        if (exact < 0) exact += 512.0;
        const int got = stroke_angle(int16_t(px), int16_t(py), int16_t(qx), int16_t(qy));
        ASSERT_LT(got, 512);
        double diff = std::fabs(got - exact);
        diff = std::fmin(diff, 512.0 - diff);
        worst = std::max(worst, int(std::ceil(diff)));
    }
    EXPECT_LE(worst, 8);
}

TEST_F(Strokes, BresenhamSegmentStoresEveryPixelOnce) {
    pen_frame(1, 1, 0, 0, 0);
    pen_frame(0, 1, 0, 5, 2);
    const Point expected[] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    ASSERT_EQ(stroke_buffer.count, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(stroke_buffer.points[i + 1].x, expected[i].x) << i;
        EXPECT_EQ(stroke_buffer.points[i + 1].y, expected[i].y) << i;
    }
    // A steep segment going up-left, then standing still: every step is one pixel, none repeated.
    pen_frame(0, 1, 0, -3, -9);
    pen_frame(0, 1, 0, -3, -9);
    EXPECT_EQ(stroke_buffer.count, 6 + 11);
    for (int i = 2; i <= stroke_buffer.count; ++i) {
        const StrokePoint a = stroke_buffer.points[i - 1], b = stroke_buffer.points[i];
        EXPECT_LE(std::abs(a.x - b.x), 1);
        EXPECT_LE(std::abs(a.y - b.y), 1);
        EXPECT_FALSE(a.x == b.x && a.y == b.y);
    }
    EXPECT_EQ(stroke_buffer.points[stroke_buffer.count].x, -3);
    EXPECT_EQ(stroke_buffer.points[stroke_buffer.count].y, -9);
}

TEST_F(Strokes, LiftDropsTheLastFramesPoints) {
    EXPECT_EQ(draw({{10, 100}, {20, 100}, {30, 100}}), ' ');
    EXPECT_EQ(stroke_result.point_count, 11);
    EXPECT_EQ(stroke_result.start_x, 10);
    EXPECT_EQ(stroke_result.end_x, 20);
    EXPECT_EQ(stroke_result.end_y, 100);
    EXPECT_EQ(stroke_result.min_x, 8);   // box widened by 2
    EXPECT_EQ(stroke_result.max_x, 22);
    EXPECT_EQ(stroke_result.min_y, 98);
    EXPECT_EQ(stroke_result.max_y, 102);
}

TEST_F(Strokes, StraightStrokesGiveSpaceAndI) {
    EXPECT_EQ(draw(straight({20, 150}, 4, 0, 50)), ' ');
    EXPECT_STREQ(stroke_result.codes, "AAAAAAAAAAAAAAA");
    EXPECT_EQ(stroke_result.distance, 0);
    EXPECT_EQ(stroke_result.overall_angle, 0);

    EXPECT_EQ(draw(straight({120, 20}, 0, 5, 50)), 'i');
    EXPECT_STREQ(stroke_result.codes, "999999999999999");
    EXPECT_EQ(stroke_result.distance, 0);
    EXPECT_EQ(stroke_result.overall_angle, 384);
    // The bottom edge is widened only up to row 191.
    EXPECT_EQ(stroke_result.max_y, 20 + 5 * 49);
    EXPECT_EQ(stroke_result.min_y, 18);
}

TEST_F(Strokes, NothingSearchedGivesZeroAnd65000) {
    stroke_use_builtin(0);
    EXPECT_EQ(draw(straight({20, 150}, 4, 0, 50)), 0);
    EXPECT_EQ(stroke_result.distance, 65000);
    EXPECT_EQ(stroke_result.letter, 0);
    EXPECT_STREQ(stroke_result.codes, "AAAAAAAAAAAAAAA");  // the codes are still worked out

    stroke_clear_templates();
    EXPECT_EQ(builtin_templates, 1);
    EXPECT_EQ(draw(straight({20, 150}, 4, 0, 50)), ' ');
}

TEST_F(Strokes, TapsGiveNothingAndReadNoUnwrittenPoint) {
    // Poison entry 0 and the entries past the press point: none may reach the result.
    stroke_buffer.points[0] = {-999, -999};
    stroke_buffer.points[2] = {-999, -999};
    EXPECT_EQ(draw({{50, 60}}), 0);
    EXPECT_EQ(stroke_result.point_count, 0);
    EXPECT_EQ(stroke_result.distance, 65000);
    EXPECT_EQ(stroke_result.end_x, 50);
    EXPECT_EQ(stroke_result.end_y, 60);
    EXPECT_EQ(stroke_result.min_x, 50);
    EXPECT_EQ(stroke_result.max_y, 60);
    EXPECT_STREQ(stroke_result.codes, "");

    // Held one frame without moving: a one-point stroke, whose zero-length directions all come
    // out as code 28, the full stop.
    EXPECT_EQ(draw({{50, 60}, {50, 60}}), '.');
    EXPECT_EQ(stroke_result.point_count, 1);
    EXPECT_EQ(stroke_result.end_x, 50);
    EXPECT_STREQ(stroke_result.codes, "LLLLLLLLLLLLLLL");
}

TEST_F(Strokes, PointBufferStopsAtItsCapacity) {
    // Zig-zag across the whole screen until far more than 2240 points were offered.
    std::vector<Point> frames;
    for (int i = 0; i < 40; ++i) frames.push_back({(i % 2) ? 239 : 0, (i * 8) % 320});
    pen_frame(1, 1, 0, frames[0].x, frames[0].y);
    int32_t previous = 1;
    for (size_t i = 1; i < frames.size(); ++i) {
        pen_frame(0, 1, 0, frames[i].x, frames[i].y);
        ASSERT_LE(stroke_buffer.count, STROKE_MAX_POINTS);
        ASSERT_GE(stroke_buffer.count, previous);
        previous = stroke_buffer.count;
    }
    EXPECT_EQ(stroke_buffer.count, STROKE_MAX_POINTS);
    // The last stored point still continues the chain (the cut segment is a prefix).
    const StrokePoint a = stroke_buffer.points[STROKE_MAX_POINTS - 1];
    const StrokePoint b = stroke_buffer.points[STROKE_MAX_POINTS];
    EXPECT_LE(std::abs(a.x - b.x), 1);
    EXPECT_LE(std::abs(a.y - b.y), 1);
    pen_frame(0, 0, 1, 0, 0);
    EXPECT_EQ(stroke_result.point_count, STROKE_MAX_POINTS);

    // The same from a count right at the append limit with one long segment.
    pen_frame(1, 1, 0, 0, 0);
    stroke_buffer.count = STROKE_APPEND_LIMIT;
    stroke_buffer.points[STROKE_APPEND_LIMIT] = {0, 0};
    pen_frame(0, 1, 0, 200, 300);
    EXPECT_EQ(stroke_buffer.count, STROKE_MAX_POINTS);
    EXPECT_EQ(stroke_buffer.points[STROKE_MAX_POINTS].y, 2);
}

TEST_F(Strokes, UserTemplates) {
    // Lower-case direction letters are stored upper case.
    ASSERT_EQ(stroke_add_template('^', "iiiiiiiiiiiiiii"), 1);
    EXPECT_STREQ(stroke_user_table[0].codes, "IIIIIIIIIIIIIII");
    EXPECT_EQ(user_template_count, 1);
    // An upward stroke matches it exactly and no built-in does.
    EXPECT_EQ(draw(straight({120, 300}, 0, -5, 50)), '^');
    EXPECT_EQ(stroke_result.distance, 0);

    // A copy of a built-in template never wins: ties keep the built-in.
    ASSERT_EQ(stroke_add_template('R', "AAAAAAAAAAAAAAA"), 1);
    EXPECT_EQ(draw(straight({20, 150}, 4, 0, 50)), ' ');
    stroke_use_builtin(0);
    EXPECT_EQ(draw(straight({20, 150}, 4, 0, 50)), 'R');

    // A short code string is padded, never read past its end.
    ASSERT_EQ(stroke_add_template('s', "AB"), 1);
    EXPECT_EQ(stroke_user_table[2].codes[1], 'B');
    EXPECT_EQ(stroke_user_table[2].codes[2], 0);
    EXPECT_EQ(stroke_user_table[2].codes[15], 0);
}

TEST_F(Strokes, FullUserTableRefusesInsteadOfWrapping) {
    for (int i = 0; i < STROKE_USER_MAX - 1; ++i) ASSERT_EQ(stroke_add_template('-', "000000000000000"), 1);
    ASSERT_EQ(stroke_add_template('#', "IIIIIIIIIIIIIII"), 1);
    EXPECT_EQ(user_template_count, STROKE_USER_MAX);
    EXPECT_EQ(stroke_add_template('!', "IIIIIIIIIIIIIII"), 0);
    EXPECT_EQ(user_template_count, STROKE_USER_MAX);
    EXPECT_EQ(stroke_user_table[0].character, '-');
    // Every stored template is still searched.
    EXPECT_EQ(draw(straight({120, 300}, 0, -5, 50)), '#');
    stroke_clear_templates();
    EXPECT_EQ(user_template_count, 0);
    EXPECT_NE(draw(straight({120, 300}, 0, -5, 50)), '#');
}

// Synthesised handwriting: for each built-in letter, a pen path whose 16 equal pieces follow
// the letter's direction codes, with the piece directions and lengths jittered, the hand
// trembling by a pixel or two, the size and the pen speed varied, drawn frame by frame.
struct Synthesis {
    double direction_jitter;  // standard deviation of each piece's direction, in 512ths of a turn
    double length_jitter;     // each piece's length is scaled by 1 +- this
    int tremble;              // every frame position moves by up to this many pixels
    double rotation;          // standard deviation of the whole letter's tilt, 512ths of a turn
    int min_frames, max_frames;  // how long the pen takes for the letter
};

std::vector<Point> synthesise(const LetterCodes& letter, const Synthesis& s, std::mt19937& rng) {
    std::normal_distribution<double> turn(0.0, s.direction_jitter);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    // Code k points from a later sample back to an earlier one, at 16 k - 8 (sector centre);
    // the pen moves the opposite way. Screen y points down.
    auto forward = [](int code) {
        const double a = (16.0 * code - 8.0 + 256.0) * M_PI / 256.0;
        return std::pair<double, double>(std::cos(a), -std::sin(a));
    };
    std::normal_distribution<double> tilt(0.0, s.rotation);
    const double letter_tilt = s.rotation > 0 ? tilt(rng) * M_PI / 256.0 : 0.0;
    std::vector<std::pair<double, double>> path{{0.0, 0.0}};
    for (int j = 0; j < 16; ++j) {
        auto d = forward(letter.codes[j < 15 ? j : 14]);
        if (j > 0 && j < 15) {  // each code spans two pieces: blend the neighbours
            const auto e = forward(letter.codes[j - 1]);
            const double sx = d.first + e.first, sy = d.second + e.second;
            if (std::hypot(sx, sy) > 0.2) d = {sx, sy};
        }
        const double a = std::atan2(d.second, d.first) + letter_tilt +
                         (s.direction_jitter > 0 ? turn(rng) * M_PI / 256.0 : 0.0);
        const double len = 1.0 + s.length_jitter * unit(rng);
        path.push_back({path.back().first + len * std::cos(a), path.back().second + len * std::sin(a)});
    }
    // Scale to a letter 40 to 160 pixels across its longer side, somewhere on the screen.
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (auto& p : path) {
        x0 = std::min(x0, p.first), x1 = std::max(x1, p.first);
        y0 = std::min(y0, p.second), y1 = std::max(y1, p.second);
    }
    const double extent = std::max({x1 - x0, y1 - y0, 1e-3});
    const double size = 40.0 + 60.0 * (unit(rng) + 1.0);
    const double k = size / extent;
    const double left = (236.0 - k * (x1 - x0)) * (unit(rng) + 1.0) / 2.0 + 2.0;
    const double top = (316.0 - k * (y1 - y0)) * (unit(rng) + 1.0) / 2.0 + 2.0;
    for (auto& p : path) p = {left + k * (p.first - x0), top + k * (p.second - y0)};

    // The pen runs along the path in min_frames to max_frames frames, its speed varying from
    // frame to frame by up to 40%.
    double total = 0.0;
    for (size_t j = 1; j < path.size(); ++j)
        total += std::hypot(path[j].first - path[j - 1].first, path[j].second - path[j - 1].second);
    const double frames =
        s.min_frames + (s.max_frames - s.min_frames) * (unit(rng) + 1.0) / 2.0;
    std::vector<Point> out;
    size_t piece = 1;
    double into = 0.0;
    for (;;) {
        const auto& a = path[piece - 1];
        const auto& b = path[piece];
        const double len = std::hypot(b.first - a.first, b.second - a.second);
        const double t = len > 0 ? std::min(1.0, into / len) : 1.0;
        int x = int(std::lround(a.first + t * (b.first - a.first)));
        int y = int(std::lround(a.second + t * (b.second - a.second)));
        if (s.tremble && !out.empty()) {
            x += int(std::lround(s.tremble * unit(rng)));
            y += int(std::lround(s.tremble * unit(rng)));
        }
        out.push_back({x, y});
        if (piece == path.size() - 1 && t >= 1.0) break;
        const double step = total / frames * (1.0 + 0.4 * unit(rng));
        into += step;
        while (piece < path.size() - 1) {
            const auto& c = path[piece - 1];
            const auto& d = path[piece];
            const double l = std::hypot(d.first - c.first, d.second - c.second);
            if (into <= l) break;
            into -= l;
            ++piece;
        }
        if (piece == path.size() - 1) {
            const auto& c = path[piece - 1];
            const auto& d = path[piece];
            into = std::min(into, std::hypot(d.first - c.first, d.second - c.second));
        }
    }
    return out;
}

// Share of synthesised strokes recognised as their own letter; misses listed on stdout.
double recognition_share(const Synthesis& s, int per_letter, uint32_t seed, const char* label) {
    std::mt19937 rng(seed);
    int hits = 0;
    std::string misses;
    for (const LetterCodes& letter : letters) {
        int letter_hits = 0;
        for (int n = 0; n < per_letter; ++n) {
            if (draw(synthesise(letter, s, rng)) == letter.character) ++letter_hits;
        }
        hits += letter_hits;
        if (letter_hits < per_letter) {
            char line[48];
            std::snprintf(line, sizeof(line), " '%c' %d/%d", letter.character, letter_hits, per_letter);
            misses += line;
        }
    }
    const double share = double(hits) / (28.0 * per_letter);
    std::printf("%s: %d of %d recognised (%.1f%%); below full:%s\n", label, hits, 28 * per_letter,
                100.0 * share, misses.empty() ? " none" : misses.c_str());
    return share;
}

TEST_F(Strokes, SynthesisedLettersAreRecognised) {
    // Clean strokes (only size, place and speed vary) are all recognised.
    EXPECT_EQ(recognition_share({0, 0, 0, 0, 15, 60}, 20, 1, "clean"), 1.0);
    // Hand-drawn: each piece's direction and length, a trembling pen, size and speed vary.
    EXPECT_GE(recognition_share({10, 0.3, 2, 0, 15, 60}, 100, 2, "jittered"), 0.95);
    // Rougher hands, tilted letters and hurried strokes (the lift drops more of the tail).
    EXPECT_GE(recognition_share({20, 0.4, 3, 0, 15, 60}, 100, 3, "rough"), 0.85);
    EXPECT_GE(recognition_share({10, 0.3, 2, 16, 15, 60}, 100, 4, "tilted"), 0.70);
    EXPECT_GE(recognition_share({10, 0.3, 2, 0, 6, 12}, 100, 5, "hurried"), 0.70);
}

}  // namespace
