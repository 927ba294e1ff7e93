// The poster key: the poster itself comes from the builder (builder/poster.h); this file picks
// the name, and shows and later removes the one-line confirmation over the bottom of the
// picture area.
#include "app/poster_key.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/mosaic.h"
#include "app/viewer_pack.h"
#include "builder/poster.h"
#include "media/fonts.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/framebuffer.h"
#include "render/kernels.h"
#include "runtime/input.h"
#include "runtime/save_store.h"

namespace {

// The line's band: the last rows of the picture area, darkened under white text in built-in
// font 0. The pixels under it are kept so that they can be put back.
constexpr int BAND_TOP = PICTURE_EDGE - 12, BAND_ROWS = 12, BAND_PIXELS = BAND_ROWS * PICTURE_EDGE;
constexpr int SHOW_FRAMES = 80;  // two seconds at the default 40 frames a second
uint16_t band_under[BAND_PIXELS], band_shown[BAND_PIXELS];
int frames_left = 0;

uint16_t* band_row(int y) { return Framebuffer + (BAND_TOP + y) * SCREEN_WIDTH; }

void band_copy(uint16_t* to, bool from_screen) {
    for (int y = 0; y < BAND_ROWS; ++y) {
        if (from_screen) std::memcpy(to + y * PICTURE_EDGE, band_row(y), PICTURE_EDGE * sizeof(uint16_t));
        else std::memcpy(band_row(y), to + y * PICTURE_EDGE, PICTURE_EDGE * sizeof(uint16_t));
    }
}

// Puts the pixels under the line back, only when nothing was drawn over it meanwhile.
void line_remove() {
    uint16_t now[BAND_PIXELS];
    band_copy(now, true);
    if (std::memcmp(now, band_shown, sizeof now) == 0) band_copy(band_under, false);
    frames_left = 0;
}

void line_show(const char* text) {
    if (frames_left > 0) line_remove();  // a second press: the band kept is the picture's own
    band_copy(band_under, true);
    for (int y = 0; y < BAND_ROWS; ++y)
        for (int x = 0; x < PICTURE_EDGE; ++x) band_row(y)[x] = blend_rgb565(band_row(y)[x], 0, 20);
    if (font_load_builtin(0)) {
        const Font* font = font_table[0];
        text_layout(text, 4, BAND_TOP + 2, PICTURE_EDGE - 4, PICTURE_EDGE - 1, font, 1, 0, ALIGN_LEFT, 60);
        const int16_t sprite = current_sprite;
        const uint8_t clip = current_clip;
        current_sprite = -1;
        current_clip = 0;
        for (uint32_t g = 0; g < layout_count; ++g) {
            const PlacedGlyph& pg = layout_scratch[g];
            const int16_t w = font->glyph_widths[pg.code];
            if (w <= 0) continue;
            const auto* mask = reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(font->glyph_pixels) +
                                                                 font->glyph_offsets[pg.code]);
            blit_glyph_mask(mask, 0xFFFF, w, font->glyph_height, pg.x, pg.y, 32);
        }
        current_sprite = sprite, current_clip = clip;
    }
    band_copy(band_shown, true);
    frames_left = SHOW_FRAMES;
}

}  // namespace

int poster_save(char* line, size_t line_size) {
    std::string path;
    for (int n = 0; n <= 9999 && path.empty(); ++n) {
        char name[SAVE_PATH_SIZE + 32];
        std::snprintf(name, sizeof name, "%severgreen-poster-%04d.jpg", data_folder, n);
        struct stat st;
        if (::lstat(name, &st) != 0) path = name;
    }
    if (path.empty()) {
        std::snprintf(line, line_size, "no free poster name");
        return 0;
    }
    evgpack::PosterTarget target;
    evgpack::poster_target_surface(surface_image, parent_picture, POSTER_KEY_TILES, target);
    evgpack::PosterOptions options;
    options.output = path;
    options.tile_px = POSTER_KEY_TILE_PX;
    options.exclusive = true;  // never over a file that appeared meanwhile
    const evgpack::PosterReport report = evgpack::poster_write(viewer_pack, target, options, nullptr);
    std::snprintf(line, line_size, "%s", report.ok ? path.c_str() : report.error.c_str());
    return report.ok ? 1 : 0;
}

void poster_key_frame() {
    if (key_pressed[KEY_POSTER]) {
        char line[SAVE_PATH_SIZE + 64];
        if (poster_save(line, sizeof line)) {
            std::printf("Poster %s\n", line);
            const char* slash = std::strrchr(line, '/');
            line_show(("Poster saved: " + std::string(slash ? slash + 1 : line)).c_str());
        } else {
            std::fprintf(stderr, "evergreen: cannot save a poster: %s\n", line);
            line_show("Poster not saved");
        }
        return;
    }
    if (frames_left > 0 && --frames_left == 0) line_remove();
}
