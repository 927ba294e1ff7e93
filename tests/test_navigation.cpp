// Zoom navigation driven through the real frame pump (dummy video driver) with scripted input:
// where touches, keys and the minimap put the centre, the animation frame counts at the three
// speeds, the rewind and auto mode (journeys from picture to picture: test_viewer_e2e.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/mosaic.h"
#include "app/viewer_pack.h"
#include "app/navigation.h"
#include "media/bitmap.h"
#include "render/blend.h"
#include "render/framebuffer.h"
#include "runtime/sprites.h"
#include "runtime/host.h"
#include "runtime/replay.h"
#include "tests/support/host_events.h"
#include "tests/support/viewer_fixture.h"
#include "tests/support/check.h"

namespace {

class Navigation : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        PackSpec spec;
        spec.pictures = 6;
        spec.thumb_size_field = 8;
        // Pictures of several colours, so tiles lead to other pictures.
        spec.picture_pixel = [](int p, int x, int y) { return pack_test_colour((p + x / 40 + y / 40) % 6); };
        ASSERT_TRUE(open_test_pack(dir, spec));
        restart();
    }
    void TearDown() override { replay_clear(); }

    // Loads a script, adding Right Shift presses every 5 frames from `exit_from` on, so the
    // viewer leaves at its next exit test whatever animation is running then.
    void script(std::string text, int exit_from) {
        for (int f = exit_from; f < exit_from + 2000; f += 5) text += std::to_string(f) + " key rshift down\n";
        char error[128];
        ASSERT_EQ(replay_parse(text.c_str(), error, sizeof error), 1) << error;
    }
    // A fresh pump (frame numbers from 1, no input held) for the next scripted run.
    void restart() {
        start_test_runtime();
        reset_viewer_state();
        set_up_viewer_buttons();
    }
    void run_viewer() {
        current_picture = 0;
        zoom = 240;
        viewer_loop();
        frame_hook = nullptr;
    }
    // Frames taken by one call.
    template <typename F>
    uint32_t frames_of(F call) {
        const uint32_t before = pump_frame_count;
        call();
        return pump_frame_count - before;
    }
};

TEST_F(Navigation, SurfaceTouchesChooseTheCentre) {
    // The first surface fades in over frames 1..10; the wait starts at frame 11.
    script("15 tap 235 100\n", 80);  // columns end at 224 - 1, as rows do
    run_viewer();
    EXPECT_EQ(vals(zoom, centre_col, centre_row), vals(8, 223, 100));

    restart();
    script("15 tap 5 230\n", 80);
    run_viewer();
    EXPECT_EQ(vals(centre_col, centre_row), vals(15, 223));
}

// Return held and auto mode end the wait like a touch and zoom on the centre tile.
TEST_F(Navigation, ReturnAndAutoModeZoomOnTheCentre) {
    for (int automatic : {0, 1}) {
        restart();
        zoom = 8;
        auto_mode = static_cast<uint8_t>(automatic);
        script(automatic ? "" : "3 key return down\n", 100);
        navigate(40);
        EXPECT_EQ(zoom, 40) << automatic;
        EXPECT_EQ(centre_col * 1000 + centre_row, 120120) << automatic;
        ASSERT_GT(history_count, 0);
        EXPECT_EQ(zoom_history[history_count - 1].offset_x, -20) << automatic;
    }
}

// The first zoom from the surface ends on the steady zoom-8 view with its end offsets.
TEST_F(Navigation, ZoomFromTheSurfaceEndsOnTheSteadyView) {
    static std::vector<uint16_t> target(240 * 320);  // away from the frames the pump composes
    draw_target = target.data();
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i * 7);  // tiles all differ
    zoom = 1;
    centre_col = 100, centre_row = 140;
    zoom_in_from_surface(-4, -3);
    const std::vector<uint16_t> shown = target;
    mosaic_render(100, 140, -4, -3);
    EXPECT_EQ(shown, target);
    // The views in between (zooms 2..8) slide from the touched tile to the end offsets.
    std::vector<long long> slide, expected = {-10, 5, -9, 4, -8, 2, -7, 1, -6, 0, -5, -1, -4, -3};
    for (int i = 0; i < history_count; ++i)
        slide.insert(slide.end(), {zoom_history[i].offset_x, zoom_history[i].offset_y});
    EXPECT_EQ(slide, expected);
    // Positive end offsets (the viewer passes -4, -4) end one column and one row back.
    zoom = 1;
    zoom_in_from_surface(4, 5);
    EXPECT_EQ(vals(centre_col, centre_row), vals(99, 139));
}

// Each move shows the steady view at the new centre.
TEST_F(Navigation, ArrowsAndMinimapMoveTheCentreWithinBounds) {
    static std::vector<uint16_t> target(240 * 320);  // away from the frames the pump composes
    draw_target = target.data();
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i * 7);  // tiles all differ
    zoom = 8;
    script("2 key right down\n2 key down down\n", 150);
    navigate(40);
    EXPECT_EQ(vals(centre_col, centre_row), vals(223, 223));  // 2 per frame, stopped at 238 - 15
    const std::vector<uint16_t> shown = target;
    mosaic_render(223, 223, -4, -4);
    EXPECT_EQ(shown, target);

    restart();
    zoom = 8;
    centre_col = centre_row = 50;
    // The minimap puts the centre at (120, 120); after the lift a tap on the picture zooms in
    // from there: tile column 130 / 8 - 15 + 1 = 2 and row 60 / 8 - 15 + 1 = -7 from the centre.
    // The zoom starts where that tile is (12, -60 at zoom 8; 13, -51 at zoom 9), and the centre
    // ends one column left of it, since the end offset is positive.
    script("5 tap 200 280\n10 tap 130 60\n", 100);
    navigate(40);
    EXPECT_EQ(vals(zoom, centre_col, centre_row), vals(40, 121, 113));
    ASSERT_GT(history_count, 0);
    const HistoryEntry &first = zoom_history[0], &last = zoom_history[history_count - 1];
    EXPECT_EQ(vals(first.zoom, first.offset_x, first.offset_y, last.offset_x, last.offset_y), vals(9, 13, -51, 20, -20));

    restart();
    zoom = 40;
    script("2 key left down\n12 key left up\n", 30);
    navigate(240);
    EXPECT_EQ(centre_col, 120 - 10);  // 1 per frame at zoom 40

    // A drag begun on the minimap keeps steering over the picture without zooming in, and stops
    // at the first whole tile column and row (15 at zoom 8).
    restart();
    zoom = 8;
    script("5 move 200 280\n6 down\n8 move 100 100\n12 up\n", 20);
    navigate(40);
    EXPECT_EQ(vals(zoom, centre_col, centre_row), vals(8, 15, 15));
}

TEST_F(Navigation, AnimationFrameCountsAtEachSpeed) {
    struct Expect { float speed; uint32_t surface_in, to_forty, to_full, zoom_out; } table[] = {
        {2.0f, 8 + 7 * 2, 12, 14, 4}, {0.5f, 32 + 7 * 4, 32, 54, 16}, {1.0f, 16 + 7 * 2, 24, 27, 8}};
    for (const Expect& e : table) {
        speed_cycle();  // the speed button, from 1: 2, 0.5, then 1 again
        zoom = 1;
        centre_col = centre_row = 120;
        EXPECT_EQ(frames_of([] { zoom_in_from_surface(-4, -4); }), e.surface_in) << e.speed;
        EXPECT_EQ(zoom, 8);
        EXPECT_EQ(frames_of([] { zoom_to(40, 0, 0, -20, -20); }), e.to_forty) << e.speed;
        EXPECT_EQ(zoom, 40);
        EXPECT_EQ(frames_of([] { zoom_to(240, 0, 0, -120, -120); }), e.to_full) << e.speed;
        EXPECT_EQ(zoom, 240);
        zoom = 1;
        history_count = 0;
        EXPECT_EQ(frames_of([] { rewind_to_surface(); }), e.zoom_out) << e.speed;
    }
    // Speed 2 from 8 to 40 passes 10, 12, ..., 24, 28, 32, 36, 40, the offsets moving in step
    // from the start (4, -6) to the end (-20, -20); on to 240 from (200, -200) they shrink to 0
    // over 200 zoom steps, to 192 / 200 of them at the first (zoom 48); the last two steps are 24.
    speed_factor = 2.0f;
    zoom = 8;
    history_count = 0;
    zoom_to(40, 4, -6, -20, -20);
    const int expected[][3] = {{10, -2, -9},   {12, -3, -10},  {14, -4, -10},  {16, -5, -11},
                               {18, -6, -12},  {20, -8, -13},  {22, -9, -13},  {24, -10, -14},
                               {28, -12, -15}, {32, -15, -17}, {36, -17, -18}, {40, -20, -20}};
    ASSERT_EQ(history_count, 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(vals(zoom_history[i].zoom, zoom_history[i].offset_x, zoom_history[i].offset_y),
                  vals(expected[i][0], expected[i][1], expected[i][2]));
    zoom_to(240, 200, -200, -120, -120);
    EXPECT_EQ(vals(zoom_history[12].zoom, zoom_history[12].offset_x, zoom_history[12].offset_y,
                   zoom_history[history_count - 2].zoom), vals(48, 192, -192, 216));
    // A full history takes no more.
    zoom = 8;
    history_count = HISTORY_SIZE - 1;
    zoom_to(60, 0, 0, -20, -20);
    EXPECT_EQ(history_count, HISTORY_SIZE);
}

// The surface button is dimmed wherever it does nothing (here the surface wait) and stays so
// frame after frame (the screen under it is never cleared, so it used to build up to full), and
// full where it rewinds (the wait at zoom 8). The exit button is hidden while viewing.
TEST_F(Navigation, SurfaceButtonDimmedWhereItDoesNothing) {
    const SpriteSlot& button = *SpriteTable[SURFACE_BUTTON];
    ASSERT_EQ(button.kind, BITMAP_INDEXED8);
    const uint8_t* indices = static_cast<const uint8_t*>(button.pixels);
    const uint16_t* palette = button.palette;
    // The brightest opaque pixel of the word, at its screen position (centre 120, 282).
    int at = -1;
    for (int i = 0; i < 56 * 24; ++i)
        if (indices[i] != 0 && (at < 0 || palette[indices[i]] > palette[indices[at]])) at = i;
    ASSERT_GE(at, 0);
    const uint16_t full = palette[indices[at]];
    const int screen = (270 + at / 56) * 240 + 92 + at % 56;
    const uint8_t saved_fill = background_fill;
    background_fill = 0;  // as in the viewer: the compositor does not clear the screen
    script("", 100);
    run_viewer();
    EXPECT_EQ(vals(Framebuffer[screen], SpriteTable[EXIT_BUTTON]->alpha), vals(blend_rgb565(full, 0, 16), 0));
    restart();
    script("15 tap 120 120\n", 100);
    run_viewer();
    EXPECT_EQ(vals(zoom, Framebuffer[screen]), vals(8, full));
    background_fill = saved_fill;
}

TEST_F(Navigation, RewindReturnsToTheSameParentCountingItTwiceMore) {
    // Zoom in (frames 16..45), then the surface button at frame 60.
    script("15 tap 120 120\n60 tap 120 282\n", 200);
    run_viewer();
    EXPECT_EQ(vals(parent_picture, zoom, visit_counts[0]), vals(0, 1, 3));
}

TEST_F(Navigation, AutoModeTakesTheFirstSampleWhenAllCountsAreEqual) {
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i);
    std::srand(77);
    const int x = std::rand() % 120 + 60;
    const int y = std::rand() % 120 + 60;
    std::srand(77);
    auto_pick_point();
    EXPECT_EQ(vals(centre_col, centre_row), vals(x, y));
    // The least visited tile picture wins, also at the last of the 160 samples: picture 2 (seen
    // 5 times) everywhere but there, where it is 3.
    parent_picture = NO_PICTURE;
    int last = 0;
    std::srand(77);
    for (int k = 0; k < 160; ++k) {
        const int x = std::rand() % 120 + 60;  // x first, as auto mode draws them
        last = (std::rand() % 120 + 60) * 240 + x;
    }
    std::fill(surface_image, surface_image + PICTURE_PIXELS, 2);
    surface_image[last] = 3;
    visit_counts[2] = 5;
    visit_counts[3] = 0;
    std::srand(77);
    auto_pick_point();
    EXPECT_EQ(vals(centre_col, centre_row), vals(last % 240, last / 240));
}

TEST_F(Navigation, AutoModeSkipsTilesThatNameNoPicture) {
    // Odd colours name picture 9 of 6 in both tables; pictures that exist have been seen once.
    PackSpec spec;
    spec.pictures = 6;
    spec.best = [](int v) { return static_cast<uint16_t>(v % 2 ? 9 : v % 6); };
    spec.second = [](int v) { return static_cast<uint16_t>(v % 2 ? 9 : (v + 2) % 6); };
    ASSERT_TRUE(open_test_pack(dir, spec));
    std::fill(visit_counts, visit_counts + viewer_pack.picture_count, 1);
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i);
    // Among equals the first sample on an even colour still wins.
    std::srand(5);
    int x = 0, y = 0;
    do {
        x = std::rand() % 120 + 60;
        y = std::rand() % 120 + 60;
    } while ((y * PICTURE_EDGE + x) % 2);
    std::srand(5);
    auto_pick_point();
    EXPECT_EQ(vals(centre_col, centre_row), vals(x, y));
}

}  // namespace
