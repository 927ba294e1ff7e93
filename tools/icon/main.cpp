// evg_icon: writes the desktop icons into a folder: evergreen-48.png, -64, -128 and -256 (RGBA
// PNG) and evergreen.svg. Each shows the evergreen tree from the top left corner of the built-in
// menu background (32 x 32 device pixels) as a tile with rounded corners and a transparent margin
// of 1/16 of the edge, as desktop icon themes expect. Run by the build, so the icons always match
// the assets and come out byte for byte the same.
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "media/jpeg_decoder.h"

namespace {
constexpr int BACKGROUND_WIDTH = 240, BACKGROUND_HEIGHT = 320;
constexpr int CROP_EDGE = 32;
constexpr int CROP_LEFT = 2, CROP_TOP = 12;  // the tree and the sky around it, not the title
constexpr int PNG_EDGES[] = {48, 64, 128, 256};
// In units of the icon's edge / 16: the margin on each side and the corner radius of the tile,
// so that the tile covers 14/16 of the edge.
constexpr double MARGIN = 1.0 / 16, RADIUS = 1.5 / 16;
constexpr int SUPERSAMPLE = 4;  // per axis, for the coverage of the rounded corners

// 8-bit channels from RGB565, the top bits repeated so that 0x1F and 0x3F become 255.
void widen(uint16_t c, uint8_t rgb[3]) {
    const int r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
    rgb[0] = static_cast<uint8_t>(r << 3 | r >> 2);
    rgb[1] = static_cast<uint8_t>(g << 2 | g >> 4);
    rgb[2] = static_cast<uint8_t>(b << 3 | b >> 2);
}

// Whether the point (x, y), in units of the icon's edge, lies inside the rounded tile.
bool inside_tile(double x, double y) {
    const double lo = MARGIN + RADIUS, hi = 1 - MARGIN - RADIUS;
    if (x < MARGIN || x > 1 - MARGIN || y < MARGIN || y > 1 - MARGIN) return false;
    const double dx = x < lo ? lo - x : (x > hi ? x - hi : 0);
    const double dy = y < lo ? lo - y : (y > hi ? y - hi : 0);
    return dx * dx + dy * dy <= RADIUS * RADIUS;
}

// An edge x edge RGBA icon: each output pixel is split into SUPERSAMPLE^2 samples; a sample
// inside the tile takes the device pixel under it, and alpha is the share of samples inside.
// Colours are averaged over the inside samples only, so the corners do not darken.
std::vector<uint8_t> draw_png_icon(const std::vector<uint16_t>& crop, int edge) {
    std::vector<uint8_t> rgba(static_cast<size_t>(edge) * edge * 4);
    const double art = (1 - 2 * MARGIN) * edge;
    for (int y = 0; y < edge; y++)
        for (int x = 0; x < edge; x++) {
            int sum[3] = {0, 0, 0}, count = 0;
            for (int sy = 0; sy < SUPERSAMPLE; sy++)
                for (int sx = 0; sx < SUPERSAMPLE; sx++) {
                    const double px = x + (sx + 0.5) / SUPERSAMPLE, py = y + (sy + 0.5) / SUPERSAMPLE;
                    if (!inside_tile(px / edge, py / edge)) continue;
                    const int cx = static_cast<int>((px - MARGIN * edge) * CROP_EDGE / art);
                    const int cy = static_cast<int>((py - MARGIN * edge) * CROP_EDGE / art);
                    uint8_t rgb[3];
                    widen(crop[static_cast<size_t>(cy * CROP_EDGE + cx)], rgb);
                    for (int k = 0; k < 3; k++) sum[k] += rgb[k];
                    count++;
                }
            uint8_t* out = &rgba[(static_cast<size_t>(y) * edge + x) * 4];
            for (int k = 0; k < 3 && count; k++) out[k] = static_cast<uint8_t>((sum[k] + count / 2) / count);
            out[3] = static_cast<uint8_t>((count * 255 + SUPERSAMPLE * SUPERSAMPLE / 2) / (SUPERSAMPLE * SUPERSAMPLE));
        }
    return rgba;
}

// The same tile as vector art on a 256-unit canvas: one rectangle per run of equal device
// pixels in a row, scaled by 7 (32 pixels fill 224 units), clipped to the rounded tile.
std::string draw_svg_icon(const std::vector<uint16_t>& crop) {
    constexpr int CANVAS = 256, OFFSET = static_cast<int>(MARGIN * CANVAS), SCALE = (CANVAS - 2 * OFFSET) / CROP_EDGE;
    char head[512];
    std::snprintf(head, sizeof head,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n"
                  "<clipPath id=\"tile\"><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"%d\"/></clipPath>\n"
                  "<g clip-path=\"url(#tile)\">\n<g transform=\"translate(%d %d) scale(%d)\" shape-rendering=\"crispEdges\">\n",
                  CANVAS, CANVAS, CANVAS, CANVAS, OFFSET, OFFSET, CANVAS - 2 * OFFSET, CANVAS - 2 * OFFSET,
                  static_cast<int>(RADIUS * CANVAS), OFFSET, OFFSET, SCALE);
    std::string svg = head;
    for (int y = 0; y < CROP_EDGE; y++)
        for (int x = 0; x < CROP_EDGE;) {
            int run = 1;
            const uint16_t colour = crop[static_cast<size_t>(y * CROP_EDGE + x)];
            while (x + run < CROP_EDGE && crop[static_cast<size_t>(y * CROP_EDGE + x + run)] == colour) run++;
            uint8_t rgb[3];
            widen(colour, rgb);
            char rect[96];
            std::snprintf(rect, sizeof rect, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"1\" fill=\"#%02x%02x%02x\"/>\n", x, y,
                          run, rgb[0], rgb[1], rgb[2]);
            svg += rect;
            x += run;
        }
    return svg + "</g>\n</g>\n</svg>\n";
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: evg_icon OUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<uint16_t> background(BACKGROUND_WIDTH * BACKGROUND_HEIGHT);
    if (jpeg_decode(asset_menu_background, asset_menu_background_size, background.data(), BACKGROUND_WIDTH,
                    BACKGROUND_HEIGHT) != JPEG_OK) {
        std::fprintf(stderr, "evg_icon: the built-in background does not decode\n");
        return 1;
    }
    std::vector<uint16_t> crop(CROP_EDGE * CROP_EDGE);
    for (int y = 0; y < CROP_EDGE; y++)
        for (int x = 0; x < CROP_EDGE; x++)
            crop[static_cast<size_t>(y * CROP_EDGE + x)] = background[(CROP_TOP + y) * BACKGROUND_WIDTH + CROP_LEFT + x];

    for (int edge : PNG_EDGES) {
        const std::string path = dir + "/evergreen-" + std::to_string(edge) + ".png";
        const std::vector<uint8_t> rgba = draw_png_icon(crop, edge);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = static_cast<png_uint_32>(edge);
        image.height = static_cast<png_uint_32>(edge);
        image.format = PNG_FORMAT_RGBA;
        if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
            std::fprintf(stderr, "evg_icon: cannot write %s: %s\n", path.c_str(), image.message);
            return 1;
        }
    }
    const std::string svg_path = dir + "/evergreen.svg", svg = draw_svg_icon(crop);
    FILE* f = std::fopen(svg_path.c_str(), "w");
    const bool written = f && std::fwrite(svg.data(), 1, svg.size(), f) == svg.size();
    if (!f || std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "evg_icon: cannot write %s\n", svg_path.c_str());
        return 1;
    }
    return 0;
}
