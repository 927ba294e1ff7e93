// The pack menu's cards over the menu background: boxes, panel pixels, the four text items and
// their clip rectangles, card counts from the folder, and the percentage digit sprites.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/pack_menu.h"
#include "app/viewer_pack.h"
#include "pack/pack_file.h"
#include "app/progress.h"
#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/gif.h"
#include "media/jpeg_decoder.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/layers.h"
#include "render/framebuffer.h"
#include "runtime/save_store.h"
#include "runtime/sprites.h"
#include "render/console.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "tests/support/host_events.h"
#include "tests/support/pack_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/check.h"

namespace {

// The menu as the viewer sets it up: background in layer 15 (the draw target), text layer 0
// with font 5, an empty state block, the data folder set to `folder`.
void menu_setup(const std::string& folder) {
    sprites_init();  // clip and screen-clip defaults, as runtime_init sets them
    ASSERT_EQ(1, jpeg_to_layer(15, asset_menu_background, asset_menu_background_size));
    draw_target = static_cast<uint16_t*>(LayerTable[15].pixels);
    text_layer_create(0);
    ASSERT_EQ(1, font_from_gif(5, asset_font_sheet, asset_font_sheet_size));
    std::memset(&state_block, 0, sizeof state_block);
    std::memset(pack_cards, 0, sizeof pack_cards);
    ASSERT_EQ(1, set_data_folder(folder.c_str()));
}

void menu_teardown() {
    set_data_folder("");
    layer_free(0);
    layer_free(15);
    draw_target = nullptr;
}

// The text laid out in an item, as characters.
std::string item_text(int item) {
    const TextItem& t = text_items[0][item];
    std::string s;
    for (int i = 0; i < t.glyph_count; i++) s += static_cast<char>(t.glyphs[i].code);
    return s;
}

}  // namespace

TEST(PackCards, BoxesFormTwoColumnsOfFourRows) {
    const int boxes[][5] = {{0, 5, 90, 115, 133}, {1, 125, 90, 235, 133}, {2, 5, 150, 115, 193},
                          {5, 125, 210, 235, 253}, {6, 5, 270, 115, 313}};
    for (const auto& b : boxes) {
        card_place(static_cast<uint8_t>(b[0]));
        const PackCard& c = pack_cards[b[0]];
        EXPECT_EQ((std::vector<int>{c.left, c.top, c.right, c.bottom}), (std::vector<int>(b + 1, b + 5))) << b[0];
    }
}

TEST(PackCards, PanelLightensAndFramesWithTheBottomLineBelow) {
    static uint16_t target[SCREEN_WIDTH * SCREEN_MAX_HEIGHT];
    const uint16_t ground = 0x4208;
    std::fill(std::begin(target), std::end(target), ground);
    draw_target = target;
    panel_draw(10, 20, 30, 40);
    auto at = [](int x, int y) { return target[y * SCREEN_WIDTH + x]; };
    const uint16_t light = blend_rgb565(ground, 0xFFFF, 24);
    // Lightened up to (28, 39); black lines left, right (on the last lightened column), top, and
    // bottom one row below the lightened rows; the ground all round.
    EXPECT_EQ(vals(at(15, 30), at(28, 39), at(10, 30), at(29, 30), at(15, 20), at(15, 40)), vals(light, light, 0, 0, 0, 0));
    EXPECT_EQ(vals(at(30, 30), at(15, 41), at(9, 40)), vals(ground, ground, ground));
    // Partly off screen: nothing outside the target is touched (ASan watches the edges).
    panel_draw(-5, 300, 250, 320);
    panel_draw(-50, -50, -10, -10);
    panel_draw(-50, -50, 5, 3);  // cut at the top left: lightened to (3, 2), lines on column 4 and row 3
    EXPECT_EQ(vals(at(0, 319), at(0, 0), at(3, 2), at(4, 0), at(0, 3)), vals(light, light, light, 0, 0));
    draw_target = nullptr;
}

TEST(PackCards, ThreePacksOverTheMenuBackground) {
    TempDir dir;
    PackSpec trip;
    trip.author = "Ann Example";
    trip.pictures = trip.listed_count = 12;
    trip.icon_colour = 0x03EF;
    ASSERT_TRUE(pack_write(dir.file("Trip.evg"), trip));
    PackSpec garden;
    garden.author = std::string(32, 'W');  // no terminator: shown as its 32 bytes
    garden.listed_count = 0;                 // empty count line
    garden.icon_colour = 0xFD20;
    ASSERT_TRUE(pack_write(dir.file("Garden.evg"), garden));
    PackSpec bare;
    bare.header = false;
    ASSERT_TRUE(pack_write(dir.file("Bare photos, 2024.evg"), bare));

    menu_setup(dir.path);
    // Progress from an earlier run for one of them.
    int trip_record = record_find_or_add("Trip.evg");
    state_block.records[trip_record].percent = 42;
    const int count = packs_find();
    ASSERT_EQ(3, count);
    cards_build(count);
    // Sorted by name: Bare, Garden, Trip (items 4 and 7, the name and the percentage, as Bare's);
    // a long name or author is cut short with "...", in either column (Bare's next glyph, the
    // space, would end one pixel past the room).
    const char* texts[12] = {"Bare photos,...", "By Unknown", "", "Viewed : 0%", "Garden.evg", "By WWWWWWW...", "",
                             "Viewed : 0%", "Trip.evg", "By Ann Example", "12 images", "Viewed : 42%"};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(item_text(i), texts[i]) << i;
    EXPECT_EQ((std::vector<int>{pack_cards[0].data_offset, pack_cards[0].icon[0], pack_cards[1].data_offset}),
              (std::vector<int>{0, 0, PACK_HEADER_SIZE}));  // no header: a black icon
    EXPECT_EQ(pack_cards[2].record, trip_record);
    EXPECT_EQ(pack_cards[1].record, 2);  // claimed in listing order after Trip's

    // Text positions and clips: card i's items start at left + 43, rows top + 3 + 10k, font 5 in
    // black; the first three items are clipped to the card less its right frame.
    for (int i = 0; i < 3; i++) {
        const PackCard& c = pack_cards[i];
        for (int k = 0; k < 4; k++) {
            const TextItem& t = text_items[0][4 * i + k];
            EXPECT_EQ((std::vector<int>{t.box_left, t.box_top, t.font, t.colour, t.clip_index}),
                      (std::vector<int>{c.left + 43, c.top + 3 + 10 * k, 5, 0, k < 3 ? i + 1 : 0}));
        }
        const ClipRect& r = clip_rects[i + 1];
        EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{c.left, c.top, c.right - 2, c.bottom}));
    }
    // Every glyph stays on its own line (the right column's long author, card 1, used to wrap
    // over the line below) and ends before the blank column left of the card's frame.
    for (int item = 0; item < 12; item++) {
        const TextItem& t = text_items[0][item];
        for (int g = 0; g < t.glyph_count; g++) {
            const int end = t.glyphs[g].x + font_table[5]->glyph_widths[t.glyphs[g].code] - 1;
            EXPECT_EQ(vals(t.glyphs[g].y, end <= pack_cards[item / 4].right - 3), vals(t.box_top, 1))
                << item << " " << g;
        }
    }
    // Icon copied at (left + 2, top + 2) for the card with a header, and nothing right of it or below.
    const PackCard& g = pack_cards[1];
    auto shown = [&](int x, int y) { return draw_target[(g.top + y) * SCREEN_WIDTH + g.left + x]; };
    EXPECT_EQ(vals(shown(2, 2), shown(41, 41), shown(50, g.bottom - g.top)),  // the last on the bottom line
              vals(0xFD20, 0xFD20, 0));
    EXPECT_EQ(vals(shown(42, 2) == 0xFD20, shown(2, 42) == 0xFD20), vals(false, false));
    menu_teardown();
}

// Only the default pack: exactly one card. (Nine packs giving eight cards: test_viewer_e2e.cpp.)
TEST(PackCards, CardCountFollowsTheFolder) {
    TempDir dir;
    menu_setup(dir.path);
    ASSERT_TRUE(write_file(dir.file("Default.evg"), "short"));  // shorter than the magic
    int count = packs_find();
    ASSERT_EQ(1, count);
    cards_build(count);
    EXPECT_EQ(item_text(0) + "|" + item_text(1), "Default.evg|By Unknown");
    EXPECT_EQ(text_items[0][4].glyph_count, 0);
    menu_teardown();
}

TEST(PackCards, PercentageDigitSprites) {
    Bitmap* strip = bitmap_from_gif(asset_digit_strip, asset_digit_strip_size);
    ASSERT_NE(strip, nullptr);
    digit_strip = strip;
    sprite_table_clear();
    std::memset(&state_block, 0, sizeof state_block);
    pack_close(&viewer_pack);
    current_record = 0;
    // Slots 20.. hold the '%' sign (frame 10) and the digits from the right, 13 pixels apart;
    // the frames of every active slot, in slot order.
    auto shown = [] {
        std::vector<int> frames;
        for (int slot = 20; slot < 24; ++slot) {
            if (!SpriteTable[slot] || !SpriteTable[slot]->active) continue;
            const SpriteSlot& s = *SpriteTable[slot];
            EXPECT_EQ((std::vector<int>{s.x, s.y, s.frame_width, s.frame_height}), (std::vector<int>{150 - 13 * (slot - 20), 254, 13, 16}));
            frames.push_back(s.frame);
        }
        return frames;
    };
    // The three pictures of a pack of three (33%, 66%, 100%), then other packs (a fresh state
    // each), shown without clearing the sprites: the digits follow a falling value.
    const struct { int count, picture; std::vector<int> digits; } steps[] = {
        {3, 0, {10, 3, 3}}, {3, 1, {10, 6, 6}}, {3, 2, {10, 0, 0, 1}}, {4, 0, {10, 5, 2}}, {10, 0, {10, 0, 1}},
        {11, 0, {10, 9}}, {101, 0, {10, 0}}, {100, 0, {10, 1}}};
    for (const auto& s : steps) {
        if (s.count != viewer_pack.picture_count) std::memset(&state_block, 0, sizeof state_block);
        viewer_pack.picture_count = static_cast<uint16_t>(s.count);
        picture_show(static_cast<uint16_t>(s.picture));
        EXPECT_EQ(shown(), s.digits) << s.count << " " << s.picture;
    }
    for (uint16_t p = 1; p < 99; ++p) picture_show(p);  // 99 of 100: no hundreds digit yet
    EXPECT_EQ(shown(), (std::vector<int>{10, 9, 9}));
    sprite_table_clear();
    digit_strip = nullptr;
    bitmap_free(strip);
    current_record = -1;
    viewer_pack.picture_count = 0;
}

TEST(PackOpenScreen, FailuresShowAMessageAndWaitForATap) {
    TempDir dir;
    start_test_runtime();
    std::string missing = dir.file("m.evg");
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    EXPECT_EQ(0, pack_open(missing.c_str(), 0));
    EXPECT_EQ(pen_state.pressed, 1);
    // A message screen of its own (text item 0 in the message font), not console lines.
    EXPECT_EQ(item_text(0), "Error opening file\nm.evg\n\nTouch screen to exit...");

    PackLayout layout;
    std::string bytes = pack_bytes(PackSpec(), &layout);
    put_le32(reinterpret_cast<uint8_t*>(&bytes[layout.entry_starts[1]]), 1u << 30);
    ASSERT_TRUE(write_file(dir.file("bad.evg"), bytes));
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    frame_yield();
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    EXPECT_EQ(0, pack_open(dir.file("bad.evg").c_str(), PACK_HEADER_SIZE));
    EXPECT_EQ(item_text(0), std::string("Invalid image pack\nbad.evg\n\n") + pack_status_text(PACK_ENTRY_PAST_END) +
                                "\n(picture 1)\n\nTouch screen to exit...");

    ASSERT_TRUE(pack_write(dir.file("good.evg"), PackSpec()));
    EXPECT_EQ(1, pack_open(dir.file("good.evg").c_str(), PACK_HEADER_SIZE));
    EXPECT_EQ(viewer_pack.picture_count, 3);
    pack_close(&viewer_pack);
}
