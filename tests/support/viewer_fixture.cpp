#include "tests/support/viewer_fixture.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/pack_menu.h"
#include "app/viewer_pack.h"
#include "pack/pack_file.h"
#include "app/mosaic.h"
#include "app/navigation.h"
#include "app/progress.h"
#include "assets/assets.h"
#include "media/gif.h"
#include "render/framebuffer.h"
#include "runtime/sprites.h"

namespace {
std::vector<uint16_t> visits;
}

bool open_test_pack(const TempDir& dir, const PackSpec& spec) {
    const std::string path = dir.file("test.evg");
    if (!pack_write(path, spec)) return false;
    if (pack_load(path.c_str(), spec.header ? spec.data_offset : 0, &viewer_pack) != PACK_OK) return false;
    visits.assign(viewer_pack.picture_count, 0);
    visit_counts = visits.data();
    return true;
}

void reset_viewer_state() {
    zoom = 8;
    centre_col = centre_row = 120;
    current_picture = parent_picture = NO_PICTURE;
    history_count = 0;
    recording = 0;
    auto_mode = 0;
    speed_factor = 1.0f;
    std::memset(Framebuffer, 0, sizeof Framebuffer);
    draw_target = Framebuffer;
    std::fill(visits.begin(), visits.end(), 0);
    current_record = -1;
}

void set_up_viewer_buttons() {
    // Built-in graphics live for the whole test process, like in the viewer.
    static Bitmap* exit = bitmap_from_gif(asset_exit_button, asset_exit_button_size);
    static Bitmap* surface = bitmap_from_gif(asset_surface_button, asset_surface_button_size);
    static Bitmap* speed = bitmap_from_gif(asset_speed_button, asset_speed_button_size);
    static Bitmap* automatic = bitmap_from_gif(asset_auto_button, asset_auto_button_size);
    sprite_set(EXIT_BUTTON, exit, 56, 24, 120, 308);
    sprite_set(AUTO_BUTTON, automatic, 56, 24, 40, 308);
    sprite_set(SPEED_BUTTON, speed, 56, 24, 40, 282);
    SpriteTable[SPEED_BUTTON]->frame = 1;
    sprite_set(SURFACE_BUTTON, surface, 56, 24, 120, 282);
}
