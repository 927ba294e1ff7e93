// evg_icon: writes the desktop icon (64 x 64 PNG): the evergreen tree from the top left corner
// of the built-in menu background, 32 x 32 pixels shown doubled like the device screen. Run by
// the build, so the icon always matches the assets.
#include <cstdio>
#include <vector>

#include "assets/assets.h"
#include "media/jpeg_decoder.h"
#include "media/png_writer.h"

namespace {
constexpr int BACKGROUND_WIDTH = 240, BACKGROUND_HEIGHT = 320;
constexpr int CROP_EDGE = 32, ICON_EDGE = 2 * CROP_EDGE;
constexpr int CROP_LEFT = 2, CROP_TOP = 12;  // the tree and the sky around it, not the title
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: evg_icon OUT.png\n");
        return 2;
    }
    std::vector<uint16_t> background(BACKGROUND_WIDTH * BACKGROUND_HEIGHT);
    if (jpeg_decode(asset_menu_background, asset_menu_background_size, background.data(), BACKGROUND_WIDTH,
                    BACKGROUND_HEIGHT) != JPEG_OK) {
        std::fprintf(stderr, "evg_icon: the built-in background does not decode\n");
        return 1;
    }
    std::vector<uint16_t> icon(ICON_EDGE * ICON_EDGE);
    for (int y = 0; y < ICON_EDGE; y++)
        for (int x = 0; x < ICON_EDGE; x++)
            icon[y * ICON_EDGE + x] = background[(CROP_TOP + y / 2) * BACKGROUND_WIDTH + CROP_LEFT + x / 2];
    if (!png_write_rgb565(argv[1], icon.data(), ICON_EDGE, ICON_EDGE, ICON_EDGE)) {
        std::fprintf(stderr, "evg_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
