// Pen strokes, read only by the handwriting demo: stroke_demo.sh checks its letters, codes and
// lift frame end to end; these check taps, the buffer limits and the demo's typed line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/stroke_demo.h"
#include "render/console.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/replay.h"
#include "runtime/strokes.h"
#include "tests/support/check.h"
#include "tests/support/host_events.h"

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

TEST_F(Strokes, TapsReadNoUnwrittenPoint) {
    stroke_buffer.points[0] = stroke_buffer.points[2] = {-999, -999};
    EXPECT_EQ(draw({{50, 60}}), 0);  // lifted in the frame after the press: no points kept
    EXPECT_EQ(vals(stroke_result.point_count, stroke_result.distance, stroke_result.end_x), vals(0, 65000, 50));
    EXPECT_STREQ(stroke_result.codes, "");
    // Held one frame: a one-point stroke; zero-length directions come out as the full stop.
    EXPECT_EQ(draw({{50, 60}, {50, 60}}), '.');
    EXPECT_STREQ(stroke_result.codes, "LLLLLLLLLLLLLLL");
}

// A stroke to the right along the top left after a longer one elsewhere: its box (samples and
// end, widened by 2 where the screen has room), end (the lift drops the last frame's point) and
// overall angle; nothing is read of the points the longer stroke left behind.
TEST_F(Strokes, BoxEndAndAngleOfAStroke) {
    std::vector<Point> longer, right;
    for (int k = 0; k < 30; ++k) longer.push_back({200, 10 + 5 * k});
    for (int k = 0; k < 9; ++k) right.push_back({2 + 10 * k, 1});
    draw(longer);
    draw(right);
    const StrokeResult& r = stroke_result;
    EXPECT_EQ(vals(r.min_x, r.max_x, r.min_y, r.max_y, r.end_x, r.end_y, r.overall_angle),
              vals(0, 74, 1, 3, 72, 1, 0));
}

// User templates: lower case stored upper case, at most 15 codes then zeros, searched alone when
// the built-in table is off, and no more than STROKE_USER_MAX of them.
TEST_F(Strokes, UserTemplates) {
    ASSERT_EQ(stroke_add_template('#', "llllllllllllllllzz"), 1);
    ASSERT_EQ(stroke_add_template('%', "azB"), 1);
    EXPECT_EQ(std::string(stroke_user_table[0].codes, 16), std::string(15, 'L') + '\0');
    EXPECT_EQ(std::string(stroke_user_table[1].codes, 16), std::string("AZB") + std::string(13, '\0'));
    stroke_use_builtin(0);
    EXPECT_EQ(vals(draw({{50, 60}, {50, 60}}), stroke_result.distance), vals('#', 0));
    while (user_template_count < STROKE_USER_MAX) ASSERT_EQ(stroke_add_template('x', "A"), 1);
    EXPECT_EQ(vals(stroke_add_template('y', "A"), user_template_count), vals(0, STROKE_USER_MAX));
}

// The angle from p to q (512 steps a turn, counter-clockwise from the right, screen y down):
// exact along the axes, and within 6 steps of the nearest elsewhere (the search tries each of
// its step sizes once).
TEST(StrokeAngle, WithinSixStepsOfTheDirection) {
    EXPECT_EQ(vals(stroke_angle(5, 5, 105, 5), stroke_angle(5, 5, 5, -95), stroke_angle(5, 5, -95, 5), stroke_angle(5, 5, 5, 6)),
              vals(0, 128, 256, 384));
    int worst = 0;
    for (int dy = -300; dy <= 300; dy += 3)
        for (int dx = -300; dx <= 300; dx += 7) {
            const double exact = std::atan2(-dy, dx) * 256 / M_PI;
            const double off = std::remainder(stroke_angle(0, 0, int16_t(dx), int16_t(dy)) - exact, 512.0);
            worst = std::max(worst, static_cast<int>(std::lround(std::fabs(off))));
        }
    EXPECT_EQ(worst, 6);
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
    EXPECT_EQ(vals(stroke_buffer.count, stroke_buffer.points[STROKE_MAX_POINTS].y), vals(STROKE_MAX_POINTS, 2));
}


// The demo types each letter read onto its text line; a full line (38 letters) starts again.
// A dot is read as a full stop, one every 6 frames; the demo never returns, so the frame hook
// ends it.
struct DemoStop {};

TEST(StrokeDemo, TypedLineStartsAgainWhenFull) {
    start_test_runtime();
    std::string text;
    for (int f = 5; f < 5 + 6 * 39; f += 6)
        text += std::to_string(f) + " move 60 60\n" + std::to_string(f + 1) + " down\n" + std::to_string(f + 4) + " up\n";
    char error[128];
    ASSERT_EQ(replay_parse(text.c_str(), error, sizeof error), 1) << error;
    static std::vector<std::string> lines;  // after the 38th and the 39th dot
    static std::vector<uint16_t> edges;     // the right column at the panels' edges
    static std::vector<uint16_t> marks;     // the diagonal through the dot's sample mark
    frame_hook = [] {
        if (pump_frame_count != 5 + 6 * 38 && pump_frame_count != 5 + 6 * 39) return;
        if (edges.empty())
            for (int y : {19, 20, 261, 262}) edges.push_back(Framebuffer[y * SCREEN_WIDTH + SCREEN_WIDTH - 1]);
        if (marks.empty())
            for (int d : {-2, -1, 1, 2}) marks.push_back(Framebuffer[(60 + d) * SCREEN_WIDTH + 60 + d]);
        std::string shown;
        for (int c = 6; c < 40; ++c) shown += console_cells[51 * console_columns + c] == console_char_table['.'] ? '.' : ' ';
        lines.push_back(shown);
        if (lines.size() == 2) throw DemoStop{};
    };
    EXPECT_THROW(stroke_demo_run(), DemoStop);
    frame_hook = nullptr;
    replay_clear();
    EXPECT_EQ(lines, (std::vector<std::string>{std::string(34, '.'), "." + std::string(33, ' ')}));
    // The help panel ends after row 19 and the result panel starts at row 262, over dark grey paper.
    EXPECT_EQ(edges, (std::vector<uint16_t>{0x0841, 0x18E3, 0x18E3, 0x0841}));
    // The dot's sample mark is 3 x 3 yellow centred on it: (59, 59) to (61, 61), nothing beyond.
    EXPECT_EQ(marks, (std::vector<uint16_t>{0x4A69, 0xFFE0, 0xFFE0, 0x4A69}));
}

}  // namespace
