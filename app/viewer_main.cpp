// The viewer's main flow. Every screen is a loop ending each iteration with one frame_yield.
// During the menus the viewer draws into background layer 15; the viewing loop then draws
// straight into the Framebuffer.
#include "app/viewer_main.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/fades.h"
#include "app/pack_menu.h"
#include "app/viewer_pack.h"
#include "builder/pack_build.h"
#include "pack/pack_file.h"
#include "app/mosaic.h"
#include "app/navigation.h"
#include "app/photo_folder.h"
#include "app/progress.h"
#include "app/select_image.h"
#include "app/start_folder.h"
#include "assets/assets.h"
#include "media/bitmap.h"
#include "media/console_print.h"
#include "media/fonts.h"
#include "media/gif.h"
#include "media/jpeg_decoder.h"
#include "media/text.h"
#include "render/console.h"
#include "render/layers.h"
#include "runtime/compositor.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/primitives.h"
#include "runtime/save_store.h"
#include "runtime/sprites.h"

uint8_t start_mode = START_UNDECIDED;
uint16_t pack_count = 0;
char chosen_pack_path[PACK_PATH_SIZE];
uint32_t chosen_pack_offset = 0;
char preset_pack[512];
uint8_t auto_start = 0;
int32_t start_picture = -1;

namespace {

constexpr int MENU_LAYER = 15;
constexpr int START_CHOICE_SLOT = 1;
constexpr int TITLE_SLOT = 1;
constexpr int SCREEN_PIXELS = SCREEN_WIDTH * SCREEN_MAX_HEIGHT;
bool build_failed = false;  // the no-pack screen's build of the folder's photos failed
bool open_failed = false;   // the pack named on the command line failed the loader's checks

uint16_t* layer_pixels(int n) { return static_cast<uint16_t*>(LayerTable[n].pixels); }

// A run that ends because the save or the pack build failed ends with status 1, also when the
// user dismisses its message with Escape or the close button instead of a tap.
[[noreturn]] void exit_failed() { std::exit(1); }

// 20114 as "20,114".
std::string with_commas(int n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

// The photos on offer, counted on a worker thread so that the screen never freezes on a large
// library: a folder counted within a quarter of a second shows nothing (the screen and the
// frames are as before); a larger one shows "Counting photos... N" as the count grows. The
// worker shares its count with this screen, so Escape may end the run while it counts.
int count_photos() {
    const std::shared_ptr<PhotoCount> count = photo_folder_count_start();
    for (int waited = 0; !count->done.load() && waited < 50; ++waited) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    char text[64];
    while (!count->done.load()) {
        std::snprintf(text, sizeof text, "Counting photos... %d", count->found.load());
        text_set(0, 0, MESSAGE_TEXT_LEFT, MESSAGE_TEXT_TOP, MESSAGE_TEXT_RIGHT, MESSAGE_TEXT_BOTTOM, text, 0, FONT_SHEET);
        frame_yield();
    }
    return count->found.load();
}

// "No image pack found." over the menu background, until a tap. When the folder holds photos
// (two or more: a pack needs two) it offers to make a pack of them, and the tap starts the
// build; in a folder where nothing can be written it says so instead. Returns 1 when a pack was
// made (the menu then lists it), -1 when the build failed, 0 otherwise.
int no_pack_screen() {
    text_layer_create(0);
    font_from_gif(FONT_SHEET, asset_font_sheet, asset_font_sheet_size);
    primitives_attach(1);
    PrimitiveNode* box = primitive_box(1, MESSAGE_BOX_LEFT, MESSAGE_BOX_TOP, MESSAGE_BOX_RIGHT, MESSAGE_BOX_BOTTOM, 1,
                                       0x0000, 0xFFFF, 24);
    const int photos = count_photos();
    const bool offer = photos >= 2 && photo_folder_writable();
    char text[160] = "No image pack found.\n\nTouch screen to exit...";
    if (offer && photos > evgpack::MAX_PICTURES)
        std::snprintf(text, sizeof text, "No image pack found.\n\nTouch to make a pack:\n%s of %s photos will be chosen",
                      with_commas(evgpack::MAX_PICTURES).c_str(), with_commas(photos).c_str());
    else if (offer)
        std::snprintf(text, sizeof text, "No image pack found.\n\nTouch to make a pack of %d photos", photos);
    else if (photos >= 2)
        std::snprintf(text, sizeof text, "No image pack found.\n\nThe folder is read-only: no pack can be made here.\n\n"
                                         "Touch screen to exit...");
    text_set(0, 0, MESSAGE_TEXT_LEFT, MESSAGE_TEXT_TOP, MESSAGE_TEXT_RIGHT, MESSAGE_TEXT_BOTTOM, text, 0, FONT_SHEET);
    do {
        frame_yield();
    } while (!pen_state.pressed);
    if (box) box->alpha = 0;
    if (!offer) return 0;
    return photo_folder_build() ? 1 : -1;
}

// The pack menu: cards for up to eight packs, a tap chooses one, then the start choice.
void pack_menu() {
    if (!jpeg_to_layer(MENU_LAYER, asset_menu_background, asset_menu_background_size))
        layer_create_rgb565(MENU_LAYER, SCREEN_WIDTH, SCREEN_MAX_HEIGHT, 1);  // black, but usable
    draw_target = layer_pixels(MENU_LAYER);
    int found = 0;
    if (preset_pack[0] && preset_pack_status != PACK_OK) {
        // The pack from the command line failed its check at start-up: its message instead of
        // the start choice, and the run ends with status 1.
        std::snprintf(chosen_pack_path, sizeof chosen_pack_path, "%s%s", data_folder, preset_pack);
        pack_failed_screen(preset_pack_status, chosen_pack_path);
        open_failed = true;
        pack_count = 0;
        return;
    }
    if (preset_pack[0]) {
        // The pack from the command line is card 0 and the only one.
        name_copy(preset_pack, name_table[0]);
        found = 1;
    } else {
        found = packs_find();
    }
    start_mode = START_UNDECIDED;
    if (found == 0) {
        pack_count = 0;
        const int made = no_pack_screen();
        if (made < 0) build_failed = true;
        if (made > 0) pack_menu();  // the new pack is on the menu
        return;
    }
    text_layer_create(0);
    font_from_gif(FONT_SHEET, asset_font_sheet, asset_font_sheet_size);
    pack_count = static_cast<uint16_t>(found > MAX_CARDS ? MAX_CARDS : found);
    cards_build(pack_count);

    const bool direct = auto_start || start_picture >= 0;  // no choices: the first pack, at once
    int selected = preset_pack[0] || direct ? 0 : -1;
    int down_presses = 0;  // Down pressed three times on the start choice: view all
    while (selected < 0) {
        frame_yield();
        if (!pen_state.pressed) continue;
        for (int i = 0; i < pack_count; ++i) {
            const PackCard& c = pack_cards[i];
            if (pen_state.x >= c.left && pen_state.x <= c.right && pen_state.y >= c.top && pen_state.y <= c.bottom)
                selected = i;
        }
    }
    const PackCard& card = pack_cards[selected];
    current_record = static_cast<int8_t>(card.record);
    std::snprintf(chosen_pack_path, sizeof chosen_pack_path, "%s%s", data_folder, name_table[selected]);
    chosen_pack_offset = card.data_offset;

    // The start choice over a fresh copy of the background (the cards and their texts go).
    jpeg_decode(asset_menu_background, asset_menu_background_size, layer_pixels(MENU_LAYER), SCREEN_WIDTH,
                SCREEN_MAX_HEIGHT);
    layer_free(0);
    panel_draw(START_PANEL_LEFT, START_PANEL_TOP, START_PANEL_RIGHT, START_PANEL_BOTTOM);
    Bitmap* choice = bitmap_from_gif(asset_start_choice, asset_start_choice_size);
    sprite_set(START_CHOICE_SLOT, choice, choice ? static_cast<int16_t>(choice->width) : 0,
               choice ? static_cast<int16_t>(choice->height) : 0, START_CHOICE_X, START_CHOICE_Y);
    if (direct) start_mode = START_RANDOM;
    while (start_mode == START_UNDECIDED) {
        frame_yield();
        if (pen_state.pressed && sprite_hit_rect(START_CHOICE_SLOT))
            start_mode = pen_state.y >= SpriteTable[START_CHOICE_SLOT]->y ? START_RANDOM : START_CUSTOM;
        if (key_pressed[KEY_DOWN] && ++down_presses == 3) start_mode = START_VIEW_ALL;
    }
    // Flatten the start choice into the layer so the next screen fades out from it.
    compose(0, 15);
    std::memcpy(layer_pixels(MENU_LAYER), Framebuffer, SCREEN_PIXELS * sizeof(uint16_t));
    bitmap_free(choice);
    if (SpriteTable[START_CHOICE_SLOT]) SpriteTable[START_CHOICE_SLOT]->active = 0;
}

// The save at the end failed: the user is told on the screen (until a touch) and on stderr,
// and the program ends with status 1, since this run's progress is lost.
void save_failed_screen() {
    std::fprintf(stderr, "evergreen: progress not saved to %s: %s\n", save_slot.path, save_failure_reason());
    console_init(0);
    console_print(0, 2, "Progress could not be saved:");
    char reason[40];  // one console row
    std::snprintf(reason, sizeof reason, "%s", save_failure_reason());
    console_print(0, 3, "%s", reason);
    console_print(0, 5, "Touch screen to exit...");
    quit_hook = exit_failed;
    do {
        frame_yield();
    } while (!pen_state.pressed);
}

Bitmap* load_gif(const uint8_t* data, uint32_t size) { return bitmap_from_gif(data, size); }

// The viewer's buttons and title, in the order that leaves auto off and the speed at 1.
void set_up_viewer_sprites() {
    sprite_set(EXIT_BUTTON, load_gif(asset_exit_button, asset_exit_button_size), BUTTON_WIDTH, BUTTON_HEIGHT,
               EXIT_BUTTON_X, EXIT_BUTTON_Y);
    Bitmap* title = load_gif(asset_title_wordmark, asset_title_wordmark_size);
    sprite_set(TITLE_SLOT, title, title ? static_cast<int16_t>(title->width) : 0,
               title ? static_cast<int16_t>(title->height) : 0, TITLE_X, TITLE_Y);
    sprite_set(AUTO_BUTTON, load_gif(asset_auto_button, asset_auto_button_size), BUTTON_WIDTH, BUTTON_HEIGHT,
               AUTO_BUTTON_X, AUTO_BUTTON_Y);
    auto_toggle();
    auto_toggle();
    sprite_set(SPEED_BUTTON, load_gif(asset_speed_button, asset_speed_button_size), BUTTON_WIDTH, BUTTON_HEIGHT,
               SPEED_BUTTON_X, SPEED_BUTTON_Y);
    speed_cycle();
    sprite_set(SURFACE_BUTTON, load_gif(asset_surface_button, asset_surface_button_size), BUTTON_WIDTH, BUTTON_HEIGHT,
               SURFACE_BUTTON_X, SURFACE_BUTTON_Y);
}

}  // namespace

int viewer_main() {
    background_fill = 0;
    show_fps = 0;
    state_load();
    if (const char* skipped = save_not_read())
        std::fprintf(stderr, "evergreen: %s: not read (the save replaces it with a file)\n", skipped);
    if (const char* problem = save_problem())
        std::fprintf(stderr, "evergreen: progress will not be saved: %s\n", problem);
    digit_strip = bitmap_from_gif(asset_digit_strip, asset_digit_strip_size);
    pack_menu();
    if (pack_count == 0) return build_failed || open_failed ? 1 : 0;
    if (key_pressed[KEY_RSHIFT]) return 0;
    if (!pack_open(chosen_pack_path, chosen_pack_offset)) return 1;  // the user has been told
    if (start_mode == START_CUSTOM) {
        select_image_screen();
    } else {
        current_picture = static_cast<uint16_t>(std::rand() % viewer_pack.picture_count);
        if (start_picture >= viewer_pack.picture_count) {
            std::fprintf(stderr, "evergreen: --picture %d: the pack has %d pictures\n", int(start_picture),
                         int(viewer_pack.picture_count));
            return 2;
        }
        if (start_picture >= 0) current_picture = static_cast<uint16_t>(start_picture);
        fade_out(4);
    }
    std::vector<uint16_t> visits(viewer_pack.picture_count, 0);
    visit_counts = visits.data();
    set_up_viewer_sprites();
    if (auto_start) auto_toggle();
    if (uint16_t* pixels = layer_pixels(MENU_LAYER)) std::memset(pixels, 0, SCREEN_PIXELS * sizeof(uint16_t));
    zoom = 240;
    if (start_mode == START_VIEW_ALL) {
        fade_in(5);
        for (uint16_t j = 0; j < viewer_pack.picture_count; ++j) {
            current_picture = j;
            picture_show(j);
            surface_reset();
            frame_yield();
            note_leave_key();
        }
    }
    viewer_loop();
    visit_counts = nullptr;
    if (state_save()) return 0;
    save_failed_screen();
    return 1;
}
