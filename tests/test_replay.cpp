// Replay scripts, recordings and screenshots through the real frame pump (dummy video driver).
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>

#include <string>
#include <vector>

#include "runtime/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/replay.h"
#include "runtime/save_store.h"
#include "tests/support/host_events.h"
#include "tests/support/temp_dir.h"

namespace {

class Replay : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override { start_test_runtime(); }
    void TearDown() override {
        replay_clear();
        record_close();
        set_data_folder("");
    }
};

std::string parse_error(const char* text) {
    char error[256] = "";
    if (replay_parse(text, error, sizeof(error))) return "ok";
    return error;
}

TEST(ReplayParse, MalformedLinesGiveTheirLineNumber) {
    EXPECT_EQ(parse_error("# only a comment\n\n  \n1 move 0 0 # trailing\n"), "ok");
    EXPECT_EQ(parse_error("1 move 239 319\n2 down\n3 up\n4 tap 1 2\n5 key rshift down\n"
                          "6 key escape up\n7 shot a.png\n8 close"),
              "ok");
    EXPECT_EQ(parse_error("1 move 1 1\n0 down\n"), "2: frame number must be 1 or more");
    EXPECT_EQ(parse_error("\n\nx down\n"), "3: frame number must be 1 or more");
    EXPECT_EQ(parse_error("-1 down\n"), "1: frame number must be 1 or more");
    EXPECT_EQ(parse_error("1\n"), "1: missing event after the frame number");
    EXPECT_EQ(parse_error("1 move 240 0\n"), "1: X must be 0..239");
    EXPECT_EQ(parse_error("1 tap 0 320\n"), "1: Y must be 0..319");
    EXPECT_EQ(parse_error("1 move 5\n"), "1: expected X Y");
    EXPECT_EQ(parse_error("1 move 5 -3\n"), "1: Y must be 0..319");
    EXPECT_EQ(parse_error("1 down now\n"), "1: unexpected words after the event");
    EXPECT_EQ(parse_error("1 key space down\n"),
              "1: key name must be one of up down left right return rshift escape");
    EXPECT_EQ(parse_error("1 key up pressed\n"), "1: key state must be down or up");
    EXPECT_EQ(parse_error("1 shot\n"), "1: expected shot FILE.png");
    EXPECT_EQ(parse_error("1 jump\n"), "1: unknown event (move down up tap key shot close)");
    EXPECT_EQ(parse_error("99999999999 down\n"), "1: frame number must be 1 or more");
}

TEST(ReplayParse, AFrameMayNotOverflowTheEventQueue) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += "7 down\n";
    EXPECT_EQ(parse_error(text.c_str()), "ok");
    text += "7 shot x.png\n";  // shots are not events
    EXPECT_EQ(parse_error(text.c_str()), "ok");
    text += "6 tap 1 1\n";  // its release lands in frame 7
    EXPECT_EQ(parse_error(text.c_str()), "100: more than 100 events in frame 7");
}

TEST(ReplayParse, AFailedParseKeepsTheLoadedScript) {
    ASSERT_EQ(parse_error("1 down\n2 up\n"), "ok");
    EXPECT_EQ(replay_pending(), 2);
    EXPECT_NE(parse_error("1 down\n2 fly\n"), "ok");
    EXPECT_EQ(replay_pending(), 2);
    replay_clear();
    EXPECT_EQ(replay_pending(), 0);
}

TEST_F(Replay, LoadReportsFileAndLine) {
    char error[256];
    EXPECT_EQ(replay_load(dir.file("missing.txt").c_str(), error, sizeof(error)), 0);
    EXPECT_NE(std::string(error).find("missing.txt: "), std::string::npos);
    write_file(dir.file("bad.txt"), "1 down\n2 key up sideways\n");
    EXPECT_EQ(replay_load(dir.file("bad.txt").c_str(), error, sizeof(error)), 0);
    EXPECT_EQ(std::string(error), dir.file("bad.txt") + ":2: key state must be down or up");
    write_file(dir.file("binary.txt"), std::string("1 down\0\n", 8));
    EXPECT_EQ(replay_load(dir.file("binary.txt").c_str(), error, sizeof(error)), 0);
}

TEST_F(Replay, EventsArriveInTheirFrame) {
    char error[128];
    ASSERT_TRUE(replay_parse("3 tap 10 20\n"
                             "5 key up down\n"
                             "7 key up up\n"
                             "8 key return down\n",
                             error, sizeof(error)));
    frame_yield();
    frame_yield();
    EXPECT_EQ(pen_state.pressed, 0);
    frame_yield();  // 3
    EXPECT_EQ(pen_state.pressed, 1);
    EXPECT_EQ(pen_state.x, 10);
    EXPECT_EQ(pen_state.y, 20);
    frame_yield();  // 4
    EXPECT_EQ(pen_state.released, 1);
    frame_yield();  // 5
    EXPECT_EQ(key_pressed[KEY_UP], 1);
    frame_yield();  // 6
    EXPECT_EQ(key_held[KEY_UP], 1);
    frame_yield();  // 7
    EXPECT_EQ(key_released[KEY_UP], 1);
    frame_yield();  // 8
    EXPECT_EQ(key_pressed[KEY_RETURN], 1);
    EXPECT_EQ(replay_pending(), 0);
}

TEST_F(Replay, TapReleaseComesBeforeTheNextFramesLines) {
    char error[128];
    ASSERT_TRUE(replay_parse("2 down\n1 tap 5 6\n", error, sizeof(error)));
    frame_yield();
    EXPECT_EQ(pen_state.pressed, 1);
    frame_yield();  // the tap's up, then the down: the pen stays down
    frame_yield();
    EXPECT_EQ(pen_state.down, 1);
    EXPECT_EQ(pen_state.down_frames, 3);
}

TEST_F(Replay, MovesAreDevicePixelsInDoubledMode) {
    frame_yield();
    push_resize(480, 640);
    frame_yield();
    ASSERT_EQ(host_window.pixel_double, 1);
    char error[128];
    ASSERT_TRUE(replay_parse("3 tap 100 300\n", error, sizeof(error)));
    frame_yield();
    EXPECT_EQ(pen_state.x, 100);
    EXPECT_EQ(pen_state.y, 300);
}

// Reads an 8-bit RGB PNG; empty when it cannot.
std::vector<uint8_t> read_png(const std::string& path, int* w, int* h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    *w = static_cast<int>(image.width);
    *h = static_cast<int>(image.height);
    return pixels;
}

TEST_F(Replay, ShotWritesTheFrameComposedInItsFrame) {
    std::string script = "2 shot " + dir.file("two.png") + "\n";
    char error[128];
    ASSERT_TRUE(replay_parse(script.c_str(), error, sizeof(error)));
    frame_yield();
    for (uint16_t& p : Framebuffer) p = 0xFFFF;  // drawn after frame 1, composed over in frame 2
    frame_yield();
    int w = 0, h = 0;
    std::vector<uint8_t> rgb = read_png(dir.file("two.png"), &w, &h);
    ASSERT_EQ(w, 240);
    ASSERT_EQ(h, 320);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[rgb.size() - 1], 0);
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
    frame_yield();
    const PenState recorded_pen = pen_state;
    record_close();
    EXPECT_EQ(read_file(dir.file("rec.txt")),
              "# evergreen input recording: frame, event\n"
              "2 move 20 30\n"
              "2 down\n"
              "2 key left down\n"
              "3 move 25 31\n"
              "4 up\n"
              "4 key left up\n");

    start_test_runtime();
    char error[256];
    ASSERT_EQ(replay_load(dir.file("rec.txt").c_str(), error, sizeof(error)), 1);
    frame_yield();
    frame_yield();
    EXPECT_EQ(key_pressed[KEY_LEFT], 1);
    frame_yield();
    EXPECT_EQ(pen_state.dx, 5);
    frame_yield();
    EXPECT_EQ(0, std::memcmp(&pen_state, &recorded_pen, sizeof(PenState)));
    EXPECT_EQ(key_released[KEY_LEFT], 1);
}

TEST_F(Replay, RecordingWritesDevicePixels) {
    ASSERT_EQ(record_open(dir.file("rec.txt").c_str()), 1);
    frame_yield();
    push_resize(480, 640);
    frame_yield();
    push_motion(479, 101);
    frame_yield();
    record_close();
    EXPECT_NE(read_file(dir.file("rec.txt")).find("3 move 239 50\n"), std::string::npos);
    EXPECT_EQ(record_open(dir.file("no/such/folder.txt").c_str()), 0);
}

TEST_F(Replay, F12SavesTheNextFreeScreenshot) {
    ASSERT_EQ(set_data_folder(dir.path.c_str()), 1);
    write_file(dir.file("evergreen-0000.png"), "taken");
    frame_yield();
    push_key(SDL_KEYDOWN, SDLK_F12);
    frame_yield();
    push_key(SDL_KEYDOWN, SDLK_F12);
    frame_yield();
    EXPECT_EQ(read_file(dir.file("evergreen-0000.png")), "taken");
    int w = 0, h = 0;
    EXPECT_EQ(read_png(dir.file("evergreen-0001.png"), &w, &h).size(), 240u * 320 * 3);
    EXPECT_TRUE(file_exists(dir.file("evergreen-0002.png")));
    EXPECT_FALSE(file_exists(dir.file("evergreen-0003.png")));
}

}  // namespace
