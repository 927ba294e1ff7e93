// The pack menu's cards over the menu background: boxes, panel pixels, the four text items and
// their clip rectangles, card counts from the folder, and the percentage digit sprites. Writes
// pack_cards.png (three packs, one without a header) into the build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/pack_menu.h"
#include "pack/pack_file.h"
#include "app/progress.h"
#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/fonts.h"
#include "media/gif.h"
#include "media/jpeg_decoder.h"
#include "media/png_writer.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "runtime/framebuffer.h"
#include "runtime/save_store.h"
#include "runtime/sprites.h"
#include "render/console.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "tests/support/host_events.h"
#include "tests/support/pack_builder.h"
#include "tests/support/temp_dir.h"

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
    for (uint8_t i = 0; i < MAX_CARDS; i++) {
        card_place(i);
        EXPECT_EQ(pack_cards[i].left, i % 2 ? 125 : 5);
        EXPECT_EQ(pack_cards[i].right, pack_cards[i].left + 110);
        EXPECT_EQ(pack_cards[i].top, 90 + 60 * (i / 2));
        EXPECT_EQ(pack_cards[i].bottom, pack_cards[i].top + 43);
    }
    EXPECT_EQ(pack_cards[5].left, 125);
    EXPECT_EQ(pack_cards[5].top, 210);
    EXPECT_EQ(pack_cards[5].right, 235);
    EXPECT_EQ(pack_cards[5].bottom, 253);
}

TEST(PackCards, PanelLightensAndFramesWithTheBottomLineBelow) {
    static uint16_t target[SCREEN_WIDTH * SCREEN_MAX_HEIGHT];
    const uint16_t ground = 0x4208;
    std::fill(std::begin(target), std::end(target), ground);
    draw_target = target;
    panel_draw(10, 20, 30, 40);
    auto at = [](int x, int y) { return target[y * SCREEN_WIDTH + x]; };
    const uint16_t light = blend_rgb565(ground, 0xFFFF, 24);
    EXPECT_EQ(at(15, 30), light);
    EXPECT_EQ(at(28, 39), light);   // last lightened row and column inside the frame
    EXPECT_EQ(at(10, 30), 0);       // left line
    EXPECT_EQ(at(29, 30), 0);       // right line on the last lightened column
    EXPECT_EQ(at(30, 30), ground);
    EXPECT_EQ(at(15, 20), 0);       // top line
    EXPECT_EQ(at(15, 40), 0);       // bottom line, one row below the lightened rows
    EXPECT_EQ(at(15, 41), ground);
    EXPECT_EQ(at(30, 40), ground);
    EXPECT_EQ(at(9, 40), ground);
    // Partly off screen: nothing outside the target is touched (ASan watches the edges).
    panel_draw(-5, 300, 250, 320);
    panel_draw(-50, -50, -10, -10);
    EXPECT_EQ(at(0, 319), blend_rgb565(ground, 0xFFFF, 24));
    draw_target = nullptr;
}

TEST(PackCards, ThreePacksOverTheMenuBackground) {
    TempDir dir;
    PackSpec trip;
    trip.author = "Ann Example";
    trip.pictures = 12;
    trip.listed_count = 12;
    trip.icon_colour = 0x03EF;
    ASSERT_TRUE(pack_write(dir.file("Trip.evg"), trip));
    PackSpec garden;
    garden.author = std::string(32, 'W');  // no terminator: shown as its 32 bytes
    garden.listed_count = 0;                 // empty count line
    garden.icon_colour = 0xFD20;
    ASSERT_TRUE(pack_write(dir.file("Garden.evg"), garden));
    PackSpec bare;
    bare.header = false;
    ASSERT_TRUE(pack_write(dir.file("Bare.evg"), bare));

    menu_setup(dir.path);
    // Progress from an earlier run for one of them.
    int trip_record = record_find_or_add("Trip.evg");
    state_block.records[trip_record].percent = 42;
    const int count = packs_find();
    ASSERT_EQ(3, count);
    cards_build(count);
    // Sorted by name: Bare, Garden, Trip.
    EXPECT_EQ(item_text(0), "Bare.evg");
    EXPECT_EQ(item_text(1), "By Unknown");
    EXPECT_EQ(item_text(2), "");
    EXPECT_EQ(item_text(3), "Viewed : 0%");
    EXPECT_EQ(pack_cards[0].data_offset, 0);
    EXPECT_EQ(pack_cards[0].icon[0], 0);  // black icon
    EXPECT_EQ(item_text(5), "By " + std::string(32, 'W'));
    EXPECT_EQ(item_text(6), "");
    EXPECT_EQ(pack_cards[1].data_offset, PACK_HEADER_SIZE);
    EXPECT_EQ(item_text(8), "Trip.evg");
    EXPECT_EQ(item_text(9), "By Ann Example");
    EXPECT_EQ(item_text(10), "12 images");
    EXPECT_EQ(item_text(11), "Viewed : 42%");
    EXPECT_EQ(pack_cards[2].record, trip_record);
    EXPECT_EQ(pack_cards[1].record, 2);  // claimed in listing order after Trip's

    // Text positions and clips: card i's items start at left + 43, rows top + 3 + 10k.
    for (int i = 0; i < 3; i++) {
        const PackCard& c = pack_cards[i];
        for (int k = 0; k < 4; k++) {
            const TextItem& t = text_items[0][4 * i + k];
            EXPECT_EQ(t.box_left, c.left + 43);
            EXPECT_EQ(t.box_top, c.top + 3 + 10 * k);
            EXPECT_EQ(t.font, 5);
            EXPECT_EQ(t.colour, 0);
            EXPECT_EQ(t.clip_index, k < 3 ? i + 1 : 0);
        }
        const ClipRect& r = clip_rects[i + 1];
        EXPECT_EQ(r.left, c.left);
        EXPECT_EQ(r.top, c.top);
        EXPECT_EQ(r.right, c.right - 2);
        EXPECT_EQ(r.bottom, c.bottom);
    }
    // Icon copied at (left + 2, top + 2) for the card with a header.
    const PackCard& g = pack_cards[1];
    EXPECT_EQ(draw_target[(g.top + 2) * SCREEN_WIDTH + g.left + 2], 0xFD20);
    EXPECT_EQ(draw_target[(g.top + 41) * SCREEN_WIDTH + g.left + 41], 0xFD20);
    EXPECT_EQ(draw_target[g.bottom * SCREEN_WIDTH + g.left + 50], 0);  // bottom line

    uint8_t saved_fill = background_fill;
    background_fill = 0;
    compose(0, 15);
    background_fill = saved_fill;
    std::string png = std::string(EVG_BINARY_DIR) + "/pack_cards.png";
    EXPECT_EQ(1, png_write_rgb565(png.c_str(), Framebuffer, SCREEN_WIDTH, screen_height, SCREEN_WIDTH));
    menu_teardown();
}

TEST(PackCards, CardCountFollowsTheFolder) {
    TempDir dir;
    menu_setup(dir.path);
    // Only the default pack: exactly one card.
    ASSERT_TRUE(write_file(dir.file("Default.evg"), "short"));  // shorter than the magic
    int count = packs_find();
    ASSERT_EQ(1, count);
    cards_build(count);
    EXPECT_EQ(item_text(0), "Default.evg");
    EXPECT_EQ(item_text(1), "By Unknown");
    EXPECT_EQ(text_items[0][4].glyph_count, 0);
    menu_teardown();

    // Nine packs: the first eight by name are carded.
    TempDir nine;
    menu_setup(nine.path);
    for (int i = 8; i >= 0; i--) ASSERT_TRUE(write_file(nine.file("pack" + std::to_string(i) + ".evg"), "x"));
    count = packs_find();
    ASSERT_EQ(9, count);
    cards_build(count);
    for (int i = 0; i < 8; i++) EXPECT_EQ(item_text(4 * i), "pack" + std::to_string(i) + ".evg");
    EXPECT_EQ(text_items[0][20].box_left, 168);  // card 5's text
    EXPECT_EQ(text_items[0][20].box_top, 213);
    EXPECT_EQ(text_items[0][32].glyph_count, 0);
    EXPECT_EQ(record_find_or_add("pack8.evg"), 8);  // never listed, so not claimed before
    menu_teardown();
}

TEST(PackCards, PercentageDigitSprites) {
    Bitmap* strip = bitmap_from_gif(asset_digit_strip, asset_digit_strip_size);
    ASSERT_NE(strip, nullptr);
    digit_strip = strip;
    sprite_table_clear();
    std::memset(&state_block, 0, sizeof state_block);
    pack_close();
    current_record = 0;
    picture_count = 3;
    picture_show(0);
    ASSERT_NE(SpriteTable[20], nullptr);
    ASSERT_NE(SpriteTable[21], nullptr);
    EXPECT_EQ(SpriteTable[20]->frame, 10);
    EXPECT_EQ(SpriteTable[20]->x, 150);
    EXPECT_EQ(SpriteTable[20]->y, 254);
    EXPECT_EQ(SpriteTable[20]->frame_width, 13);
    EXPECT_EQ(SpriteTable[20]->frame_height, 16);
    EXPECT_EQ(SpriteTable[21]->frame, 3);
    EXPECT_EQ(SpriteTable[21]->x, 137);
    ASSERT_NE(SpriteTable[22], nullptr);  // 33: tens set
    EXPECT_EQ(SpriteTable[22]->frame, 3);
    EXPECT_EQ(SpriteTable[22]->x, 124);
    EXPECT_TRUE(SpriteTable[23] == nullptr || !SpriteTable[23]->active);
    picture_show(1);
    EXPECT_EQ(SpriteTable[21]->frame, 6);
    EXPECT_EQ(SpriteTable[22]->frame, 6);
    picture_show(2);
    EXPECT_EQ(SpriteTable[21]->frame, 0);
    EXPECT_EQ(SpriteTable[22]->frame, 0);
    ASSERT_NE(SpriteTable[23], nullptr);
    EXPECT_EQ(SpriteTable[23]->frame, 1);
    EXPECT_EQ(SpriteTable[23]->x, 111);
    sprite_table_clear();
    digit_strip = nullptr;
    bitmap_free(strip);
    current_record = -1;
    picture_count = 0;
}

namespace {
// Characters of console row `row`, read back through the character table (blank cells as ' ').
std::string console_row(int row) {
    std::string s;
    for (int c = 0; c < console_columns; c++) {
        uint32_t cell = console_cells[row * console_columns + c];
        char ch = ' ';
        for (uint32_t code = 33; code < console_char_count; code++) {
            if (cell != 0 && console_char_table[code] == cell) ch = static_cast<char>(code);
        }
        s += ch;
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}
}  // namespace

TEST(PackOpenScreen, FailuresShowAMessageAndWaitForATap) {
    TempDir dir;
    start_test_runtime();
    std::string missing = dir.file("m.evg");
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    pack_data_offset = 0;
    EXPECT_EQ(0, pack_open(missing.c_str()));
    EXPECT_EQ(pen_state.pressed, 1);
    // The lines can only be read back once the built-in console font is linked in.
    const bool console = console_font_asset() != nullptr;
    if (console) {
        EXPECT_EQ(console_row(2).substr(0, 19), "Error opening file ");
    }

    PackLayout layout;
    std::string bytes = pack_bytes(PackSpec(), &layout);
    put_le32(reinterpret_cast<uint8_t*>(&bytes[layout.entry_starts[1]]), 1u << 30);
    ASSERT_TRUE(write_file(dir.file("bad.evg"), bytes));
    push_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    frame_yield();
    push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    pack_data_offset = PACK_HEADER_SIZE;
    EXPECT_EQ(0, pack_open(dir.file("bad.evg").c_str()));
    if (console) {
        EXPECT_EQ(console_row(2).substr(0, 19), "Invalid image pack ");
        EXPECT_EQ(console_row(3), pack_status_text(PACK_ENTRY_PAST_END));
        EXPECT_EQ(console_row(4), "(picture 1)");
    }

    ASSERT_TRUE(pack_write(dir.file("good.evg"), PackSpec()));
    EXPECT_EQ(1, pack_open(dir.file("good.evg").c_str()));
    EXPECT_EQ(picture_count, 3);
    pack_close();
}
