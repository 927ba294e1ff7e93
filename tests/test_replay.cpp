// Replay scripts, recordings and screenshots through the real frame pump (dummy video driver).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/replay.h"
#include "runtime/save_store.h"
#include "tests/support/host_events.h"
#include "tests/support/temp_dir.h"
#include "tests/support/check.h"

namespace {

struct Replay : ::testing::Test {
    TempDir dir;
    void SetUp() override { start_test_runtime(); }
    void TearDown() override { set_data_folder(""); }
};

std::string parse(const std::string& text) {
    char error[256] = "";
    return replay_parse(text.c_str(), error, sizeof(error)) ? "ok" : error;
}

TEST(ReplayParse, MalformedLinesGiveTheirLineNumber) {
    EXPECT_EQ(parse("# comment\n\n  \n1 move 239 319 # trailing\n2\tdown\r\n3 up\n4 tap 1 2\n"
                    "5 key rshift down\n6 key escape up\n7 shot a.png\n8 close"),
              "ok");
    const char* cases[][2] = {
        {"1 move 1 1\n0 down\n", "2: frame number must be 1 or more"},
        {"00000000001 down", "1: frame number must be 1 or more"},  // more than 10 digits
        {"1", "1: missing event after the frame number"}, {"1 move 5", "1: expected X Y"},
        {"1 move 240 0", "1: X must be 0..239"}, {"1 move 1: 0", "1: X must be 0..239"},
        {"1 tap 0 320", "1: Y must be 0..319"},
        {"1 down now", "1: unexpected words after the event"},
        {"1 key space down", "1: key name must be one of up down left right return rshift escape p"},
        {"1 key up pressed", "1: key state must be down or up"},
        {"1 jump", "1: unknown event (move down up tap key shot close)"},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c[0]), c[1]) << c[0];

    // SDL's queue holds 128 events: a frame takes at most 100 (shots are not events).
    std::string crowded;
    for (int i = 0; i < 100; ++i) crowded += "7 down\n";
    EXPECT_EQ(parse(crowded + "7 shot x.png\n"), "ok");
    EXPECT_EQ(parse(crowded + "6 tap 1 1\n"), "100: more than 100 events in frame 7");

    // A failed parse keeps the script loaded before it.
    ASSERT_EQ(parse("1 down\n2 up\n"), "ok");
    EXPECT_EQ(parse("1 fly\n"), "1: unknown event (move down up tap key shot close)");
    EXPECT_EQ(replay_pending(), 2);
    replay_clear();
}

TEST_F(Replay, EventsArriveInTheirFrame) {
    // Out of order on purpose: frame 4 holds the tap's release first, then the line's down.
    ASSERT_EQ(parse("4 down\n3 tap 10 20\n5 key up down\n6 key up up\n"), "ok");
    frame_yield();
    frame_yield();
    EXPECT_FALSE(pen_state.pressed);
    frame_yield();  // 3
    EXPECT_TRUE(pen_state.pressed);
    EXPECT_EQ(vals(pen_state.x, pen_state.y), vals(10, 20));
    frame_yield();  // 4
    frame_yield();  // 5
    EXPECT_TRUE(pen_state.down);
    EXPECT_EQ(pen_state.down_frames, 3);
    EXPECT_TRUE(key_pressed[KEY_UP]);
    frame_yield();  // 6
    EXPECT_TRUE(key_released[KEY_UP]);
    EXPECT_EQ(replay_pending(), 0);
    push_resize(720, 960);  // 3x: script positions stay device pixels
    frame_yield();
    ASSERT_EQ(parse("8 move 100 300\n"), "ok");
    frame_yield();
    EXPECT_EQ(vals(pen_state.x, pen_state.y), vals(100, 300));
}

TEST_F(Replay, RecordingReplaysToTheSameInput) {
    ASSERT_EQ(record_open(dir.file("rec.txt").c_str()), 1);
    frame_yield();
    push_motion(20, 30);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);  // not pen input: not recorded
    push_key(SDL_KEYDOWN, SDLK_LEFT);
    push_key(SDL_KEYDOWN, SDLK_F1);  // not a device key
    frame_yield();
    push_motion(25, 31);
    frame_yield();
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    push_key(SDL_KEYUP, SDLK_LEFT);
    push_resize(480, 640);
    frame_yield();
    push_motion(479, 101);  // doubled: recorded in device pixels
    frame_yield();
    const PenState recorded = pen_state;
    record_close();
    EXPECT_EQ(read_file(dir.file("rec.txt")),
              "# evergreen input recording: frame, event\n"
              "2 move 20 30\n2 down\n2 key left down\n3 move 25 31\n4 up\n4 key left up\n"
              "5 move 239 50\n");
    EXPECT_EQ(record_open(dir.file("no/such/folder.txt").c_str()), 0);

    start_test_runtime();
    char error[256];
    ASSERT_EQ(replay_load(dir.file("rec.txt").c_str(), error, sizeof(error)), 1);
    for (int i = 0; i < 4; ++i) frame_yield();
    EXPECT_TRUE(key_released[KEY_LEFT]);
    frame_yield();
    EXPECT_EQ(0, std::memcmp(&pen_state, &recorded, sizeof(PenState)));
}

TEST_F(Replay, F12SavesTheNextFreeScreenshot) {
    ASSERT_EQ(set_data_folder(dir.path.c_str()), 1);
    write_file(dir.file("evergreen-0000.png"), "taken");
    // A dangling link is a taken name too: nothing is written at its target.
    ASSERT_EQ(::symlink("outside.png", dir.file("evergreen-0001.png").c_str()), 0);
    frame_yield();
    push_key(SDL_KEYDOWN, SDLK_F12);
    frame_yield();
    push_key(SDL_KEYDOWN, SDLK_F12);
    frame_yield();
    EXPECT_EQ(read_file(dir.file("evergreen-0000.png")), "taken");
    int w = 0, h = 0;
    EXPECT_EQ(read_png_rgb(dir.file("evergreen-0002.png"), &w, &h).size(), 240u * 320 * 3);
    EXPECT_TRUE(file_exists(dir.file("evergreen-0003.png")) && !file_exists(dir.file("evergreen-0004.png")));
    EXPECT_FALSE(file_exists(dir.file("outside.png")));
    ASSERT_EQ(set_data_folder(dir.file("missing").c_str()), 1);  // nowhere to write: a failure
    EXPECT_EQ(screenshot_save(nullptr, 0), 0);
}

}  // namespace
