// Variety and likeness of an open pack's mosaic, and the sheet that shows them.
#include "builder/pack_quality.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "pack/tile_map.h"
#include "media/fonts.h"
#include "media/png_writer.h"
#include "media/rgb565.h"
#include "render/blend.h"
#include "builder/colour_match.h"

namespace evgpack {

namespace {

constexpr int EDGE = PICTURE_EDGE;

// The tile map of surface picture p, with or without the pack's candidate lists.
void surface_map(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* surface, uint16_t p,
                 bool use_candidates, int spread, uint16_t* map) {
    if (use_candidates) tile_map_build(pack, scratch, surface, p, map, spread);
    else tile_map_plain(pack, surface, p, map);
}

// Distinct pictures in each non-overlapping n x n block of the map, summed; blocks counted.
double distinct_per_block(const uint16_t* map, int n, int& blocks, int& flat) {
    double sum = 0;
    std::vector<uint16_t> seen;
    for (int by = 0; by + n <= EDGE; by += n)
        for (int bx = 0; bx + n <= EDGE; bx += n) {
            seen.clear();
            for (int y = by; y < by + n; ++y)
                for (int x = bx; x < bx + n; ++x) seen.push_back(map[y * EDGE + x]);
            std::sort(seen.begin(), seen.end());
            const int d = static_cast<int>(std::unique(seen.begin(), seen.end()) - seen.begin());
            sum += d;
            flat += d <= 2;
            ++blocks;
        }
    return sum;
}

Lab linear_mean_to_lab(const double sum[3], int n) { return linear_rgb_to_lab(sum[0] / n, sum[1] / n, sum[2] / n); }

// Zoom 8: each tile is its thumbnail sampled at i x T / 8, moved halfway (weight 16) from the
// pixel's flat colour, as the mosaic draws it; the tile's mean (linear light) against the pixel.
// Also sums, for each 5 x 5 block, the CIEDE2000 between the block's mean shown colour and its
// pixels' mean colour (both in linear light): the colour of a region seen from afar.
double likeness_sum(const OpenPack& pack, const uint16_t* surface, const uint16_t* map, double& region_sum) {
    std::vector<std::array<double, 3>> shown(PICTURE_PIXELS), wanted(PICTURE_PIXELS);
    const int t = pack.thumb_size;
    int steps[8];
    for (int i = 0; i < 8; ++i) steps[i] = i * t / 8;
    double total = 0;
    for (int i = 0; i < PICTURE_PIXELS; ++i) {
        const uint16_t colour = surface[i], p = map[i];
        const Lab want = rgb565_to_lab(colour);
        double sum[3] = {0, 0, 0};
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const uint16_t thumb = p < pack.picture_count
                                           ? pack.thumbnails[(static_cast<size_t>(p) * t + steps[y]) * t + steps[x]]
                                           : 0;
                const uint16_t shown = p < pack.picture_count ? blend_rgb565(colour, thumb, 16) : 0;
                uint8_t rgb[3];
                rgb565_unpack(shown, rgb);
                for (int c = 0; c < 3; ++c) sum[c] += srgb_to_linear(rgb[c]);
            }
        total += ciede2000(want, linear_mean_to_lab(sum, 64));
        uint8_t rgb[3];
        rgb565_unpack(colour, rgb);
        for (int c = 0; c < 3; ++c) shown[i][c] = sum[c] / 64, wanted[i][c] = srgb_to_linear(rgb[c]);
    }
    for (int by = 0; by + 5 <= EDGE; by += 5)
        for (int bx = 0; bx + 5 <= EDGE; bx += 5) {
            double a[3] = {0, 0, 0}, w[3] = {0, 0, 0};
            for (int y = by; y < by + 5; ++y)
                for (int x = bx; x < bx + 5; ++x)
                    for (int c = 0; c < 3; ++c) a[c] += shown[y * EDGE + x][c], w[c] += wanted[y * EDGE + x][c];
            region_sum += ciede2000(linear_mean_to_lab(w, 25), linear_mean_to_lab(a, 25));
        }
    return total;
}

std::vector<int> surface_pictures(const OpenPack& pack, int max_surfaces) {
    std::vector<int> list;
    const int n = pack.picture_count;
    const int count = std::max(1, std::min(max_surfaces, n));
    for (int s = 0; s < count; ++s) list.push_back(static_cast<int>(static_cast<long>(s) * n / count));
    return list;
}

// The mosaic at `zoom` (8 or 40) around the surface centre, as the viewer's resting layout draws
// it: the centre tile (120, 120) spans screen 120 - Z .. 119.
void render_view(const OpenPack& pack, const uint16_t* surface, const uint16_t* map, int zoom, uint16_t* out,
                 int stride) {
    const int t = pack.thumb_size;
    for (int sy = 0; sy < EDGE; ++sy)
        for (int sx = 0; sx < EDGE; ++sx) {
            const int dx = sx - (EDGE / 2 - zoom), dy = sy - (EDGE / 2 - zoom);
            const int tx = dx >= 0 ? dx / zoom : -((zoom - 1 - dx) / zoom);
            const int ty = dy >= 0 ? dy / zoom : -((zoom - 1 - dy) / zoom);
            const int col = 120 + tx, row = 120 + ty;
            const int jx = dx - tx * zoom, jy = dy - ty * zoom;
            const uint16_t colour = surface[row * EDGE + col], p = map[row * EDGE + col];
            uint16_t v = 0;
            if (p < pack.picture_count) {
                v = pack.thumbnails[(static_cast<size_t>(p) * t + jy * t / zoom) * t + jx * t / zoom];
                if (zoom <= 15) v = blend_rgb565(colour, v, 2 * zoom);
            }
            out[sy * stride + sx] = v;
        }
}

// Black text in built-in font 3 with its top left at (x, y) of an RGB565 sheet `stride` wide;
// glyphs that would cross the right edge are left out.
void draw_label(uint16_t* sheet, int stride, int x, int y, const char* text) {
    constexpr int FONT = 3;
    if (!font_load_builtin(FONT)) return;
    const Font* f = font_table[FONT];
    for (const char* c = text; *c; ++c) {
        const uint8_t code = static_cast<uint8_t>(*c);
        const int w = f->glyph_widths[code];
        if (w <= 0) continue;
        if (x + w > stride) break;
        const auto* mask =
            reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(f->glyph_pixels) + f->glyph_offsets[code]);
        for (int row = 0; row < f->glyph_height; ++row)
            for (int col = 0; col < w; ++col)
                if (mask[row * w + col]) sheet[(y + row) * stride + x + col] = 0x0000;
        x += w;
    }
}

}  // namespace

QualityFigures measure_quality(OpenPack& pack, int max_surfaces, bool use_candidates, int spread, bool likeness) {
    QualityFigures q;
    std::vector<uint16_t> surface_pixels(PICTURE_PIXELS), map_pixels(PICTURE_PIXELS);
    uint16_t *surface = surface_pixels.data(), *map = map_pixels.data();
    auto scratch = std::make_unique<TileMapScratch>();
    double blocks_sum = 0, screens_sum = 0, like_sum = 0, region_sum = 0;
    long blocks = 0, screens = 0, flat = 0, same_h = 0, same_v = 0, pairs = 0, same_2 = 0, points_sum = 0;
    int fewest = 36;
    std::vector<uint16_t> seen;
    for (int p : surface_pictures(pack, max_surfaces)) {
        picture_read(&pack, static_cast<uint16_t>(p), surface);
        surface_map(pack, *scratch, surface, static_cast<uint16_t>(p), use_candidates, spread, map);
        int b = 0, s = 0, f = 0, unused = 0;
        blocks_sum += distinct_per_block(map, 5, b, unused);
        screens_sum += distinct_per_block(map, 6, s, f);
        blocks += b, screens += s, flat += f;
        for (int y = 0; y < EDGE; ++y)
            for (int x = 0; x < EDGE; ++x) {
                if (x + 1 < EDGE) same_h += map[y * EDGE + x] == map[y * EDGE + x + 1];
                if (y + 1 < EDGE) same_v += map[y * EDGE + x] == map[(y + 1) * EDGE + x];
                if (x + 2 < EDGE) same_2 += map[y * EDGE + x] == map[y * EDGE + x + 2];
                if (y + 2 < EDGE) same_2 += map[y * EDGE + x] == map[(y + 2) * EDGE + x];
            }
        pairs += EDGE * (EDGE - 1);
        // A zoom-40 screen around tile (c, r) shows tiles c - 3 .. c + 2 and r - 3 .. r + 2.
        for (const auto& point : SCREEN_POINTS) {
            seen.clear();
            for (int y = point[1] - 3; y < point[1] + 3; ++y)
                for (int x = point[0] - 3; x < point[0] + 3; ++x) seen.push_back(map[y * EDGE + x]);
            std::sort(seen.begin(), seen.end());
            const int d = static_cast<int>(std::unique(seen.begin(), seen.end()) - seen.begin());
            points_sum += d;
            fewest = std::min(fewest, d);
        }
        if (likeness) like_sum += likeness_sum(pack, surface, map, region_sum);
        ++q.surfaces;
    }
    if (q.surfaces == 0) return q;
    q.distinct_block = blocks_sum / blocks;
    q.distinct_screen = screens_sum / screens;
    q.flat_screens = static_cast<double>(flat) / screens;
    q.same_horizontal = static_cast<double>(same_h) / pairs;
    q.same_vertical = static_cast<double>(same_v) / pairs;
    q.same_two = static_cast<double>(same_2) / (2.0 * q.surfaces * EDGE * (EDGE - 2));
    q.distinct_points = static_cast<double>(points_sum) / (4.0 * q.surfaces);
    q.fewest_points = fewest;
    if (likeness) {
        q.likeness = like_sum / (static_cast<double>(q.surfaces) * PICTURE_PIXELS);
        q.region_likeness = region_sum / (static_cast<double>(q.surfaces) * (EDGE / 5) * (EDGE / 5));
    }
    return q;
}

std::string variety_verdict(const QualityFigures& q) {
    char line[256];
    const double mean = q.distinct_points;
    if (mean >= VARIETY_GOOD && q.fewest_points >= VARIETY_FEWEST_GOOD)
        std::snprintf(line, sizeof line,
                      "variety: good: about %.0f different pictures on a close-up screen (never fewer than %d)\n",
                      mean, q.fewest_points);
    else if (mean >= VARIETY_FAIR)
        std::snprintf(line, sizeof line,
                      "variety: fair: about %.0f different pictures on a close-up screen, as few as %d in "
                      "places: more photos will help\n",
                      mean, q.fewest_points);
    else
        std::snprintf(line, sizeof line,
                      "variety: poor: only about %.0f different pictures on a close-up screen: the same "
                      "tiles repeat; a few hundred varied photos make a good pack\n",
                      mean);
    return line;
}

bool write_quality_sheet(OpenPack& pack, const std::string& path, int surfaces, int only, int spread,
                         std::string& error) {
    std::vector<int> list = only >= 0 ? std::vector<int>{only} : surface_pictures(pack, surfaces);
    // A band of column names on top, then one row per surface named by its picture number.
    constexpr int LABEL = 18;
    const int columns = 5, width = columns * EDGE + (columns - 1) * 4;
    const int height = LABEL + static_cast<int>(list.size()) * (EDGE + 4 + LABEL);
    std::vector<uint16_t> sheet(static_cast<size_t>(width) * height, 0xFFFF);
    const char* const names[columns] = {"surface", "zoom 8, tables only", "zoom 40, tables only",
                                        "zoom 8, with candidates", "zoom 40, with candidates"};
    for (int c = 0; c < columns; ++c) draw_label(sheet.data(), width, c * (EDGE + 4) + 2, 2, names[c]);
    std::vector<uint16_t> pixels(3 * PICTURE_PIXELS);
    uint16_t *surface = pixels.data(), *plain = surface + PICTURE_PIXELS, *varied = plain + PICTURE_PIXELS;
    auto scratch = std::make_unique<TileMapScratch>();
    for (size_t r = 0; r < list.size(); ++r) {
        const uint16_t p = static_cast<uint16_t>(list[r]);
        picture_read(&pack, p, surface);
        surface_map(pack, *scratch, surface, p, false, spread, plain);
        surface_map(pack, *scratch, surface, p, true, spread, varied);
        uint16_t* row = sheet.data() + (LABEL + r * (EDGE + 4 + LABEL) + LABEL) * width;
        const std::string name = "picture " + std::to_string(p);
        draw_label(row - LABEL * width, width, 2, 2, name.c_str());
        for (int y = 0; y < EDGE; ++y) std::memcpy(row + y * width, surface + y * EDGE, EDGE * 2);
        render_view(pack, surface, plain, 8, row + 1 * (EDGE + 4), width);
        render_view(pack, surface, plain, 40, row + 2 * (EDGE + 4), width);
        render_view(pack, surface, varied, 8, row + 3 * (EDGE + 4), width);
        render_view(pack, surface, varied, 40, row + 4 * (EDGE + 4), width);
    }
    if (!png_write_rgb565(path.c_str(), sheet.data(), width, height, width)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace evgpack
