// Pen strokes, read only by the handwriting demo: stroke_demo.sh checks its letters, codes and
// lift frame end to end; these check taps and the buffer limits.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/input.h"
#include "runtime/strokes.h"
#include "tests/support/check.h"

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

}  // namespace
