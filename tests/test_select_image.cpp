// The Select Image screen: grid layout and fillers, choosing by tap, the size button cycle,
// and the scroll bar's dead zone and limits, driven through the frame pump.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mosaic.h"
#include "app/select_image.h"
#include "runtime/host.h"
#include "runtime/replay.h"
#include "runtime/sprites.h"
#include "tests/support/host_events.h"
#include "tests/support/viewer_fixture.h"
#include "tests/support/check.h"

namespace {

class SelectImage : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<uint16_t> target = std::vector<uint16_t>(240 * 320, 0x1234);
    void SetUp() override {
        PackSpec spec;
        spec.pictures = 100;
        spec.thumb_size_field = 4;
        spec.thumb_pixel = [](int p, int, int) { return static_cast<uint16_t>(p + 1); };
        spec.jpegs.assign(100, pack_jpeg_solid(0x8410, 16, 16));  // pictures are not shown here
        ASSERT_TRUE(open_test_pack(dir, spec));
        start_test_runtime();
        reset_viewer_state();
        draw_target = target.data();
    }
    void TearDown() override {
        replay_clear();
        frame_hook = nullptr;
    }
    void run(const std::string& text) {
        char error[128];
        ASSERT_EQ(replay_parse(text.c_str(), error, sizeof error), 1) << error;
        select_image_screen();
    }
    uint16_t at(int x, int y) const { return target[y * 240 + x]; }
};

std::string size_taps(int first_frame, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += std::to_string(first_frame + 3 * i) + " tap 176 260\n";
    return s;
}

TEST_F(SelectImage, TapChoosesAtEachSizeAndFillersChooseNothing) {
    // Size 20 -> 24 -> 30, then (35, 45): column 1, row 1 of 8: picture 9.
    run(size_taps(3, 2) + "12 tap 35 45\n");
    EXPECT_EQ(vals(zoom, current_picture), vals(30, 9));
    for (int slot : {SIZE_BUTTON_SLOT, SELECT_TITLE_SLOT, SCROLL_BAR_SLOT}) EXPECT_EQ(SpriteTable[slot]->active, 0);

    start_test_runtime();
    draw_target = target.data();
    // The first filler at size 20 (column 8, row 4 = index 100, one past the last picture) is
    // ignored; the next tap counts.
    run("5 tap 165 85\n9 tap 5 5\n");
    EXPECT_EQ(vals(zoom, current_picture), vals(20, 0));
}

TEST_F(SelectImage, SizeButtonCyclesThroughFiveSizes) {
    run(size_taps(3, 5) + "25 tap 1 1\n");
    EXPECT_EQ(vals(zoom, SpriteTable[SIZE_BUTTON_SLOT]->frame), vals(20, 0));
    EXPECT_EQ(SpriteTable[SIZE_BUTTON_SLOT]->frame_width, 56);  // the width of the button graphic
    // Back at 20 the grid is 9 columns wide; the 60-pixel thumbnails that covered the rest of
    // the picture area are gone.
    EXPECT_EQ(vals(at(200, 100), at(239, 239)), vals(0, 0));
}

TEST_F(SelectImage, ScrollBarDeadZoneAndLimits) {
    // Pulled 16 pixels right: inside the dead zone, nothing scrolls; then a tap at size 20.
    run("5 move 120 290\n6 down\n7 move 136 290\n12 up\n15 tap 35 45\n");
    EXPECT_EQ(vals(scroll_offset, current_picture), vals(0, 14));  // column 1, row 2 of 12

    // Size 60 (25 columns, 1500 pixels): pulled far right by a see-through corner (the bar is held
    // by its box), the grid scrolls to its end.
    start_test_runtime();
    draw_target = target.data();
    static int held_look = -1;  // the bar's frame while held
    static uint16_t shown = 0;  // the grid's pixel at (10, 10) once scrolled
    frame_hook = [] {
        if (pump_frame_count == 50) held_look = SpriteTable[SCROLL_BAR_SLOT]->frame;
        if (pump_frame_count == 85) shown = draw_target[10 * 240 + 10];
    };
    run(size_taps(3, 4) + "20 move 92 278\n21 down\n22 move 202 278\n80 up\n90 tap 10 10\n");
    // Picture 84: column (10 + 1260) / 60 = 21, row 0.
    EXPECT_EQ(vals(zoom, scroll_offset, current_picture), vals(60, (240 - 1500) * 256, 84));
    EXPECT_EQ(shown, 84 + 1);  // and the grid is drawn where the tap reads it: picture 84's colour
    // Held it shows its pressed look; let go, it springs back to the middle and its resting look.
    EXPECT_EQ(held_look, 1);
    EXPECT_EQ(vals(SpriteTable[SCROLL_BAR_SLOT]->x, SpriteTable[SCROLL_BAR_SLOT]->frame), vals(120, 0));
}

}  // namespace
