// The whole program, headless, driven by replay scripts: pack menu, start choices, the journey
// to a new surface, the exit that saves and the ways out that do not, the no-pack and broken
// pack screens, and what the next run shows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "media/rgb565.h"
#include "render/blend.h"
#include "runtime/host.h"
#include "pack/pack_format.h"
#include "media/jpeg_decoder.h"
#include "media/png_writer.h"
#include "tests/support/pack_builder.h"
#include "tests/support/check.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr long STATE_FILE_SIZE = 50944;
constexpr int RECORD_SIZE = 796;

// Runs evergreen on `dir` with `script`; shots land in dir. Returns the exit status.
int run_evergreen(const TempDir& dir, const std::string& script) {
    write_file(dir.file("script.txt"), script);
    const std::string command = "cd '" + dir.path + "' && timeout 120 '" EVG_BINARY_DIR "/evergreen' --headless "
                                "--fps 1000 --replay script.txt . > out.txt 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A pack whose tables send every colour to picture 2 (3 when 2 is the parent).
PackSpec two_three_pack(int pictures) {
    PackSpec spec;
    spec.pictures = pictures;
    spec.thumb_size_field = 8;
    spec.best = [](int) { return uint16_t(2); };
    spec.second = [](int) { return uint16_t(3); };
    spec.picture_pixel = [](int p, int x, int y) {
        return static_cast<uint16_t>(pack_test_colour(p) ^ ((x / 16 + y / 16) % 2 ? 0x0841 : 0));
    };
    return spec;
}

struct Record {
    std::string name;
    std::bitset<2048> viewed;
    int percent = -1;
};

// The record of `name` in dir/Evergreen.sav (percent -1 when it has none).
Record find_record(const TempDir& dir, const std::string& name) {
    const std::string state = read_file(dir.file("Evergreen.sav"));
    Record r;
    for (size_t at = 0; at + RECORD_SIZE <= state.size(); at += RECORD_SIZE) {
        if (std::string(state.c_str() + at) != name) continue;
        r.name = name;
        for (int n = 0; n < 2048; ++n) r.viewed[n] = (state[at + 512 + n / 8] >> (n % 8)) & 1;
        r.percent = static_cast<uint8_t>(state[at + 768]);
    }
    return r;
}

const char CARD0[] = "5 tap 60 110\n";
const char RANDOM_START[] = "10 tap 120 175\n";

TEST(ViewerEndToEnd, JourneyToANewSurfaceIsSavedAndShownNextTime) {
    TempDir dir;
    ASSERT_TRUE(pack_write(dir.file("a.evg"), two_three_pack(6)));
    ASSERT_TRUE(pack_write(dir.file("b.evg"), two_three_pack(4)));
    // Card, random start; the first surface fades in by frame 30; zoom in at 40, tap the
    // centre tile at 80 (zoom 40 by about 105) and at 115 (zoom 240 and a new surface by about
    // 145); the exit button at 170.
    const std::string journey = std::string("4 shot menu1.png\n") + CARD0 + RANDOM_START +
                                "40 tap 120 120\n80 tap 120 120\n115 tap 120 120\n170 tap 120 308\n";
    ASSERT_EQ(run_evergreen(dir, journey), 0) << read_file(dir.file("out.txt"));
    ASSERT_EQ(file_length(dir.file("Evergreen.sav")), STATE_FILE_SIZE);
    Record a = find_record(dir, "a.evg");
    // The first picture (random) and the tile picture 2 (3 when the first was 2 itself).
    EXPECT_EQ(vals(a.viewed.count(), a.viewed[2], a.percent, find_record(dir, "b.evg").percent), vals(2, 1, 33, 0));

    // Next run: only card 0's "Viewed" line has changed.
    ASSERT_EQ(run_evergreen(dir, "4 shot menu2.png\n6 key escape down\n"), 0);
    int w = 0, h = 0;
    std::vector<uint8_t> before = read_png_rgb(dir.file("menu1.png"), &w, &h), after = read_png_rgb(dir.file("menu2.png"), &w, &h);
    ASSERT_EQ(before.size(), 240u * 320 * 3);
    ASSERT_EQ(after.size(), before.size());
    auto region_differs = [&](int x0, int y0, int x1, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                for (int k = 0; k < 3; ++k)
                    if (before[(y * 240 + x) * 3 + k] != after[(y * 240 + x) * 3 + k]) return true;
        return false;
    };
    EXPECT_TRUE(region_differs(48, 123, 115, 133));   // card 0, line 4 (y = top + 33)
    EXPECT_FALSE(region_differs(5, 90, 115, 122));    // card 0, the other lines
    EXPECT_FALSE(region_differs(125, 90, 235, 134));  // card 1
}

TEST(ViewerEndToEnd, CustomStartShowsTheChosenPicture) {
    TempDir dir;
    PackLayout layout;
    const std::string pack = pack_bytes(two_three_pack(6), &layout);
    ASSERT_TRUE(write_file(dir.file("a.evg"), pack));
    // y = 159 is the upper half: Select Image. At size 20, (5, 25) is column 0, row 1: picture 1.
    // P at 72 saves a poster beside the shots, with a line that is gone two seconds later.
    const std::string script = std::string(CARD0) + "10 tap 120 159\n20 tap 5 25\n70 shot first.png\n"
                                                    "72 key p down\n74 shot line.png\n170 shot after.png\n"
                                                    "175 key escape down\n";
    ASSERT_EQ(run_evergreen(dir, script), 0) << read_file(dir.file("out.txt"));
    EXPECT_FALSE(file_exists(dir.file("Evergreen.sav")));  // Escape does not save

    // The picture area shows picture 1 exactly as the viewer's decoder gives it.
    static uint16_t expected[PICTURE_PIXELS];
    const size_t entry = layout.entry_starts[1] + 4;
    ASSERT_EQ(jpeg_decode(reinterpret_cast<const uint8_t*>(pack.data()) + entry, layout.jpeg_sizes[1], expected,
                          PICTURE_EDGE, PICTURE_EDGE),
              JPEG_OK);
    int w = 0, h = 0;
    std::vector<uint8_t> shot = read_png_rgb(dir.file("first.png"), &w, &h);
    ASSERT_EQ(shot.size(), 240u * 320 * 3);
    int mismatches = 0;
    for (int i = 0; i < PICTURE_PIXELS; ++i) {
        uint8_t rgb[3];
        rgb565_unpack(expected[i], rgb);
        mismatches += std::memcmp(rgb, &shot[static_cast<size_t>(i) * 3], 3) != 0;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(file_length(dir.file("evergreen-poster-0000.jpg")), 0);
    // The line darkens the picture's last 12 rows to 12/32 (white text at the left) and nothing else.
    const std::vector<uint8_t> line = read_png_rgb(dir.file("line.png"), &w, &h);
    ASSERT_EQ(line.size(), shot.size());
    EXPECT_TRUE(std::equal(line.begin(), line.begin() + 228 * 240 * 3, shot.begin()));
    EXPECT_TRUE(std::equal(line.begin() + 240 * 240 * 3, line.end(), shot.begin() + 240 * 240 * 3));
    for (int y = 228; y < 240; ++y) {
        const size_t at = (static_cast<size_t>(y) * 240 + 236) * 3;
        const uint16_t under = rgb565_pack(shot[at], shot[at + 1], shot[at + 2]);
        EXPECT_EQ(rgb565_pack(line[at], line[at + 1], line[at + 2]), blend_rgb565(under, 0, 20)) << y;
    }
    EXPECT_EQ(read_file(dir.file("after.png")), read_file(dir.file("first.png")));
}

// Ways out: Right Shift in the frame the start choice is made, Escape and the close button
// while viewing do not save; Right Shift during an animation or in auto mode leaves at the next
// exit test and saves.
TEST(ViewerEndToEnd, WaysOutSaveOnlyThroughTheExitTest) {
    const struct { const char* script; bool saves; } cases[] = {
        {"10 key rshift down\n", false}, {"50 key escape down\n", false}, {"50 close\n", false},
        {"40 tap 40 308\n120 key rshift down\n121 key rshift up\n600 key escape down\n", true},  // auto mode
        {"40 tap 120 120\n44 key rshift down\n45 key rshift up\n600 key escape down\n", true},  // zoom in
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(pack_write(dir.file("a.evg"), two_three_pack(6)));
        EXPECT_EQ(run_evergreen(dir, std::string(CARD0) + RANDOM_START + c.script), 0) << c.script;
        EXPECT_EQ(file_exists(dir.file("Evergreen.sav")), c.saves) << c.script;
    }
}

// A save that cannot be written is told on the screen and stderr, and the exit status is 1
// however the message is dismissed.
TEST(ViewerEndToEnd, FailedSaveIsToldAndEndsWithStatusOne) {
    for (const char* dismiss : {"90 tap 120 120\n", "90 key escape down\n", "90 close\n"}) {
        TempDir dir;
        ASSERT_TRUE(pack_write(dir.file("a.evg"), two_three_pack(6)));
        ASSERT_EQ(::mkdir(dir.file("Evergreen.sav").c_str(), 0755), 0);
        const std::string script = std::string(CARD0) + RANDOM_START + "60 tap 120 308\n80 shot told.png\n" + dismiss;
        EXPECT_EQ(run_evergreen(dir, script), 1) << dismiss;
        const std::string out = read_file(dir.file("out.txt"));
        EXPECT_NE(out.find("progress will not be saved"), std::string::npos) << out;  // at start-up
        EXPECT_NE(out.find("progress not saved to"), std::string::npos) << out;       // at the exit
        EXPECT_TRUE(file_exists(dir.file("told.png")));  // the message waited for the touch
    }
}

TEST(ViewerEndToEnd, ViewAllMarksEveryPicture) {
    TempDir dir;
    ASSERT_TRUE(pack_write(dir.file("a.evg"), two_three_pack(6)));
    const std::string script = std::string(CARD0) +
                               "8 key down down\n9 key down up\n10 key down down\n11 key down up\n"
                               "12 key down down\n13 key down up\n33 shot mid.png\n90 shot end.png\n100 tap 120 308\n";
    ASSERT_EQ(run_evergreen(dir, script), 0) << read_file(dir.file("out.txt"));
    const Record a = find_record(dir, "a.evg");
    EXPECT_EQ(vals(a.percent, a.viewed.count()), vals(100, 6));
    // A picture a frame, picture 2 at frame 33 (after the choice's fade-out and a fade-in); the
    // last stays on the screen. Each shot is a JPEG of its picture's colour, within a step of 8.
    for (const auto& [name, picture] : {std::pair{"mid.png", 2}, {"end.png", 5}}) {
        int w = 0, h = 0;
        const std::vector<uint8_t> shot = read_png_rgb(dir.file(name), &w, &h);
        uint8_t want[3];
        rgb565_unpack(pack_test_colour(picture), want);
        ASSERT_EQ(shot.size(), 240u * 320 * 3);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(shot[(8 * 240 + 8) * 3 + k], want[k], 8) << name << " " << k;
    }
}

TEST(ViewerEndToEnd, NoPackAndBrokenPackScreensEndOnATap) {
    for (bool broken : {false, true}) {
        TempDir dir;
        // A broken pack: its header and part of a table.
        if (broken) write_file(dir.file("a.evg"), pack_bytes(two_three_pack(6)).substr(0, 5000));
        const std::string script = broken ? std::string(CARD0) + RANDOM_START + "20 shot s.png\n25 tap 100 100\n"
                                          : "5 shot s.png\n10 tap 120 200\n";
        ASSERT_EQ(run_evergreen(dir, script), broken ? 1 : 0);  // a run ended by a pack that fails: 1
        int w = 0, h = 0;
        std::vector<uint8_t> shot = read_png_rgb(dir.file("s.png"), &w, &h);
        ASSERT_EQ(shot.size(), 240u * 320 * 3);
        EXPECT_FALSE(file_exists(dir.file("Evergreen.sav")));
        // No pack: inside the white box (50, 150)-(190, 250) drawn at 24/32 over the background.
        // Broken: a message panel (20, 110)-(220, 230) lightened over the menu background; its
        // bottom row below the text, wider than the start choice's panel, is light all along.
        int light = 0;
        for (int x = 22; x < 218; ++x) light += shot[(225 * 240 + x) * 3] > 180 && shot[(225 * 240 + x) * 3 + 2] > 180;
        if (broken) EXPECT_EQ(light, 196);
        else EXPECT_GT(shot[(240 * 240 + 180) * 3], 180);
    }
}

TEST(ViewerEndToEnd, NinePacksListEight) {
    TempDir dir;
    for (int i = 1; i <= 9; ++i) ASSERT_TRUE(pack_write(dir.file("p" + std::to_string(i) + ".evg"), two_three_pack(4)));
    // The eighth card (125, 270)-(235, 313), a random start, then the exit button.
    ASSERT_EQ(run_evergreen(dir, "5 tap 180 290\n10 tap 120 175\n60 tap 120 308\n"), 0);
    for (int i = 1; i <= 8; ++i) EXPECT_FALSE(find_record(dir, "p" + std::to_string(i) + ".evg").name.empty()) << i;
    EXPECT_TRUE(find_record(dir, "p9.evg").name.empty());
    EXPECT_GT(find_record(dir, "p8.evg").percent, 0);  // the one viewed
}

// The command line at the limits of each number: -1 goes on, 2 refuses; what was taken.
TEST(CommandLine, NumbersAtTheirLimits) {
    auto parse = [](std::vector<std::string>& words, Options* o) {  // o keeps pointers into words
        std::vector<char*> argv{const_cast<char*>("evergreen")};
        for (std::string& w : words) argv.push_back(w.data());
        return options_parse(static_cast<int>(argv.size()), argv.data(), o);
    };
    Options o;
    const std::pair<const char*, int> cases[] = {
        {"--fps 0", 2}, {"--fps 1", -1}, {"--fps 1001", 2}, {"--fps 7x", 2}, {"--scale 0", 2}, {"--scale 1", -1},
        {"--scale 9", 2}, {"--scale 2x", 2}, {"--video-scale 0", 2}, {"--video-scale 9", 2}, {"--picture -1", 2},
        {"--picture 2047", -1}, {"--picture 2048", 2}, {"--frames 0", 2}, {"--seed 4294967296", 2}, {"--demo text", -1},
        {"--demo x", 2}, {"--fps", 2}, {"a b", 2}, {"--version", 0}};
    for (const auto& [words, status] : cases) {
        std::istringstream in(words);
        std::vector<std::string> split{std::istream_iterator<std::string>(in), {}};
        EXPECT_EQ(parse(split, &o), status) << words;
    }
    std::vector<std::string> line{"--fps", "1000", "--scale", "8", "--video-scale", "8", "--picture", "0",
                                  "--frames", "1", "--seed", "4294967295", "--", "-x"};
    ASSERT_EQ(parse(line, &o), -1);
    EXPECT_EQ(vals(o.fps, host_scale_request, o.video_scale, o.picture, o.frames, o.seed, o.has_seed, o.folder[1]),
              vals(1000, 8, 8, 0, 1, 4294967295u, 1, 'x'));
    host_scale_request = 0;
}

}  // namespace
