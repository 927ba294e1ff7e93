// Candidate lists: a damaged section leaves the pack drawing exactly as without one; with lists,
// neighbouring tiles differ on a flat surface, and the tile that is drawn is the one that
// becomes the current picture, is marked viewed and becomes the next surface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "app/mosaic.h"
#include "app/viewer_pack.h"
#include "pack/pack_candidates.h"
#include "pack/tile_map.h"
#include "app/progress.h"
#include "builder/band_deflate.h"
#include "builder/colour_match.h"
#include "builder/poster.h"
#include "render/framebuffer.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/viewer_fixture.h"
#include "tests/support/check.h"

// The same tile_map.cpp built without SSE2 (CMakeLists.txt): the plain path other machines run.
void tile_map_build_plain_path(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* surface,
                               uint16_t parent, uint16_t* map, int spread);
void tile_map_build_grid_plain_path(const OpenPack& pack, TileMapScratch& scratch, const uint16_t* colours, int width,
                                    int height, uint16_t parent, uint16_t* map, int spread);

namespace {

constexpr int PICTURES = 6;
TileMapScratch scratch;

// Colour v lists v % 6, then the next k - 1 pictures (best_match is v % 6 in the test pack);
// `damage` may change the lists before they are encoded (with a right CRC).
std::string section_bytes(int k, void (*damage)(std::vector<uint16_t>&) = nullptr,
                          uint16_t version = CANDIDATE_VERSION_1) {
    std::vector<uint16_t> lists(static_cast<size_t>(k) * 65536);
    for (int v = 0; v < 65536; ++v)
        for (int s = 0; s < k; ++s) lists[static_cast<size_t>(v) * k + s] = static_cast<uint16_t>((v + s) % PICTURES);
    if (damage) damage(lists);
    std::string bytes(candidate_section_size(k), '\0');
    candidates_encode(k, lists.data(), reinterpret_cast<uint8_t*>(&bytes[0]), version);
    return bytes;
}

PackSpec six_pictures() {
    PackSpec spec;
    spec.pictures = PICTURES;
    return spec;
}

class Candidates : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain = pack_bytes(six_pictures());

    // Loads plain + tail; the viewer state starts afresh.
    void load(const std::string& tail) {
        const std::string path = dir.file("c.evg");
        ASSERT_TRUE(write_file(path, plain + tail));
        ASSERT_EQ(pack_load(path.c_str(), PACK_HEADER_SIZE, &viewer_pack), PACK_OK);
        visits.assign(viewer_pack.picture_count, 0);
        visit_counts = visits.data();
        reset_viewer_state();
    }
    // Zoom 8 and 16 over a surface of many colours; the frames, concatenated.
    std::vector<uint16_t> render() {
        for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i * 2654435761u >> 9);
        parent_picture = 2;
        tile_map_update();
        std::vector<uint16_t> frames;
        for (int z : {8, 16}) {
            zoom = static_cast<uint16_t>(z);
            mosaic_render(100, 130, static_cast<int16_t>(-z / 2), static_cast<int16_t>(-z / 2));
            frames.insert(frames.end(), Framebuffer, Framebuffer + 240 * 320);
        }
        return frames;
    }
    std::vector<uint16_t> visits;
};

TEST_F(Candidates, DamagedSectionsDrawAsWithout) {
    load("");
    EXPECT_EQ(viewer_pack.candidates.status, CANDIDATES_ABSENT);
    const std::vector<uint16_t> without = render();
    load(section_bytes(3));
    ASSERT_EQ(viewer_pack.candidates.count, 3);
    EXPECT_NE(render(), without);

    const std::string good = section_bytes(3);
    auto with_k = [](std::string s, int k) { s[10] = static_cast<char>(k); return s; };
    auto with_version = [](std::string s, int v) { s[8] = static_cast<char>(v); return s; };
    // A number past the picture count, and a first entry that is not best_match (77 % 6 = 5).
    const std::string past_count = section_bytes(3, [](std::vector<uint16_t>& l) { l[77 * 3 + 2] = PICTURES; });
    const std::string not_best = section_bytes(3, [](std::vector<uint16_t>& l) { l[77 * 3] = 4, l[77 * 3 + 2] = 1; });
    std::string bad_crc = good;
    bad_crc[5000] ^= 1;
    const struct { std::string tail; int status; } damaged[] = {
        {bad_crc, CANDIDATES_BAD_CRC}, {with_version(good, 0), CANDIDATES_BAD_VERSION},
        {with_version(good, CANDIDATE_VERSION + 1), CANDIDATES_BAD_VERSION},
        {with_k(good, 0), CANDIDATES_BAD_COUNT}, {with_k(good, 17), CANDIDATES_BAD_COUNT},
        {with_k(good, 2), CANDIDATES_BAD_SIZE}, {good.substr(0, good.size() - 1), CANDIDATES_BAD_SIZE},
        {good.substr(0, 11), CANDIDATES_BAD_SIZE}, {good + "x", CANDIDATES_BAD_SIZE},
        {past_count, CANDIDATES_BAD_NUMBER}, {not_best, CANDIDATES_BAD_FIRST},
        {"trailing", CANDIDATES_NOT_SECTION},
    };
    for (const auto& d : damaged) {
        load(d.tail);
        EXPECT_EQ(viewer_pack.candidates.status, d.status) << d.tail.size();
        EXPECT_EQ(viewer_pack.candidates.count, 0);
        EXPECT_EQ(render(), without) << d.status;
    }
}

// A colour whose best_match names no picture (here exactly the picture count) lists none.
TEST(CandidateSection, ColourWithoutAPictureListsNone) {
    std::vector<uint16_t> best(65536), lists(65536), out(65536);
    for (int v = 0; v < 65536; ++v) best[v] = lists[v] = static_cast<uint16_t>(v % PICTURES);
    best[9] = PICTURES, lists[9] = CANDIDATE_UNUSED;
    std::string bytes(candidate_section_size(1), '\0');
    candidates_encode(1, lists.data(), reinterpret_cast<uint8_t*>(&bytes[0]));
    int k = 0;
    EXPECT_EQ(candidates_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), best.data(), PICTURES, &k, out.data()),
              CANDIDATES_OK);
    EXPECT_EQ(vals(k, out[9], out[10]), vals(1, CANDIDATE_UNUSED, 4));
}

TEST_F(Candidates, FlatSurfaceHasNoEqualNeighbours) {
    for (int k : {3, 4, 6})
        for (int spread : {SPREAD_DIFFUSE, SPREAD_NOISE}) {
            load(section_bytes(k));
            // Colour 6 lists 0, 1, 2, ...; the parent 1 leaves k - 1 (at least 2) candidates.
            std::fill(surface_image, surface_image + PICTURE_PIXELS, 6);
            parent_picture = 1;
            tile_map_build(viewer_pack, scratch, surface_image, parent_picture, tile_map, spread);
            for (int y = 0; y < 240; ++y)
                for (int x = 0; x < 240; ++x) {
                    const uint16_t t = tile_map[y * 240 + x];
                    ASSERT_NE(t, 1);
                    ASSERT_LT(t, k);
                    if (x > 0) { ASSERT_NE(t, tile_map[y * 240 + x - 1]) << k << " " << x << "," << y; }
                    if (y > 0) { ASSERT_NE(t, tile_map[(y - 1) * 240 + x]) << k << " " << x << "," << y; }
                }
            // What is drawn is the map: tile (j, i) of the zoom-16 screen is surface pixel
            // (120 + j, 120 + i), a solid thumbnail of its picture's test colour.
            zoom = 16;
            mosaic_render(120, 120, -8, -8);
            for (int i = -7; i <= 7; ++i)
                for (int j = -7; j <= 7; ++j)
                    ASSERT_EQ(Framebuffer[(i * 16 + 112) * SCREEN_WIDTH + j * 16 + 112],
                              pack_test_colour(tile_map[(120 + i) * 240 + 120 + j]));
        }
}

// The choice rule's maps pinned for both spreads over a surface of short runs of mixed colours
// (lists with repeats when K is past the six pictures): values recorded from the first, plainly
// written version of the rule, so a faster one must choose exactly the same tiles; versions 2
// and 3 as packs of those versions have always shown.
TEST_F(Candidates, ChoicesArePinned) {
    for (int i = 0; i < PICTURE_PIXELS; ++i) surface_image[i] = static_cast<uint16_t>(i / 3 * 2654435761u >> 9);
    const struct { int k, spread; uint64_t digest; uint16_t version; } pinned[] = {
        {4, SPREAD_DIFFUSE, 0x53AACFCD11D17CC0ull, 1}, {4, SPREAD_NOISE, 0xEA93D435C575037Aull, 1},
        {16, SPREAD_DIFFUSE, 0x664F388827EC7794ull, 1}, {16, SPREAD_NOISE, 0xEA0831E9CB3976F6ull, 1},
        {16, SPREAD_DIFFUSE, 0x9735A328866CE54Dull, 2},
        {16, SPREAD_DIFFUSE, 0x3EABDC22D1D57C1Aull, CANDIDATE_VERSION},
        {16, SPREAD_NOISE, 0xC54E1DC73CA317EFull, CANDIDATE_VERSION},
        {9, SPREAD_DIFFUSE, 0x67E9B5405A5BBC4Dull, CANDIDATE_VERSION}};
    for (const auto& p : pinned) {
        load(section_bytes(p.k, nullptr, p.version));
        tile_map_build(viewer_pack, scratch, surface_image, 2, tile_map, p.spread);
        uint64_t h = 0xCBF29CE484222325ull;
        for (int i = 0; i < PICTURE_PIXELS; ++i) h = (h ^ tile_map[i]) * 0x100000001B3ull;
        EXPECT_EQ(h, p.digest) << p.k << " " << p.spread;
    }
}

// The vector path chooses exactly as the plain one: random packs of 2, 64 and 300 pictures with lists
// of every length (unused slots, repeats, the parent among them) over random, smooth and
// few-colour surfaces, under both spread rules and every section version; also on a 37 x 300
// grid, whose rows wrap the three-row scratch many times.
TEST(TileMap, VectorPathChoosesAsThePlainPath) {
    std::mt19937 random(2024);
    auto pack = std::make_unique<OpenPack>();
    static uint16_t surface[PICTURE_PIXELS], vector_map[PICTURE_PIXELS], plain_map[PICTURE_PIXELS];
    int maps = 0;
    for (int count : {2, 64, 300})
        for (int k : {1, 8, 9, 16}) {
            pack_close(pack.get());
            pack->picture_count = static_cast<uint16_t>(count);
            pack->candidates.count = static_cast<uint8_t>(k);
            pack->candidates.version = static_cast<uint16_t>(1 + (k + count) % 3);  // each version with each K
            pack->candidates.table = static_cast<uint16_t*>(std::malloc(65536 * 2 * k));
            pack->candidates.means = static_cast<uint64_t*>(std::malloc(8 * count));
            for (int p = 0; p < count; ++p)
                pack->candidates.means[p] = mean_lanes(random() % 256, random() % 256, random() % 256);
            for (int v = 0; v < 65536; ++v) {
                pack->best_match[v] = static_cast<uint16_t>(random() % count);
                pack->second_match[v] = static_cast<uint16_t>(random() % count);
                uint16_t* list = pack->candidates.table + static_cast<size_t>(v) * k;
                const int used = 1 + static_cast<int>(random() % k);
                list[0] = pack->best_match[v];
                for (int s = 1; s < k; ++s)
                    list[s] = s < used ? static_cast<uint16_t>(random() % count) : CANDIDATE_UNUSED;
            }
            if (pack->candidates.version == CANDIDATE_VERSION) {
                ASSERT_TRUE(candidates_prepare_spread(&pack->candidates, static_cast<uint16_t>(count)));
            }
            for (int pattern = 0; pattern < 3; ++pattern) {
                for (int i = 0; i < PICTURE_PIXELS; ++i)
                    surface[i] = pattern == 0   ? static_cast<uint16_t>(random())
                                 : pattern == 1 ? static_cast<uint16_t>((i % 240 / 8) << 11 | (i / 240 / 4) << 5)
                                                : static_cast<uint16_t>(0x1234 + 97 * (random() % 4));
                const uint16_t parent = static_cast<uint16_t>(random() % count);
                for (int spread : {SPREAD_DIFFUSE, SPREAD_NOISE}) {
                    tile_map_build(*pack, scratch, surface, parent, vector_map, spread);
                    tile_map_build_plain_path(*pack, scratch, surface, parent, plain_map, spread);
                    ASSERT_EQ(0, std::memcmp(vector_map, plain_map, sizeof vector_map))
                        << count << " pictures, K " << k << ", pattern " << pattern << ", spread " << spread;
                    tile_map_build_grid(*pack, scratch, surface, 37, 300, parent, vector_map, spread);
                    tile_map_build_grid_plain_path(*pack, scratch, surface, 37, 300, parent, plain_map, spread);
                    ASSERT_EQ(0, std::memcmp(vector_map, plain_map, 37 * 300 * 2)) << count << " " << k;
                    ++maps;
                }
            }
        }
    EXPECT_EQ(maps, 72);  // each with its grid
}

// Packs of versions 2 and 3 over a flat surface whose colour has exactly 2, 3 or 8 equally close
// candidates: with 3 or more no two neighbours match and no 30 x 30 window repeats with period 2
// (a checkerboard); version 3 shows at least 7 of the 8 on every close-up screen (6 x 6 tiles).
// The map depends on the surface alone, not on what the scratch held before; grids of 240 x 1 and
// 240 x 250 over the same colours start with the surface's map.
TEST(TileMap, FlatColourNeverSettlesIntoAPattern) {
    auto pack = std::make_unique<OpenPack>();
    static uint16_t surface[PICTURE_PIXELS + 2400], map[PICTURE_PIXELS + 2400], again[PICTURE_PIXELS];
    for (uint16_t version : {CANDIDATE_VERSION_2, CANDIDATE_VERSION})
    for (int k : {2, 3, 8}) {
        pack_close(pack.get());
        pack->picture_count = 9;
        pack->candidates = {8, version, static_cast<uint16_t*>(std::malloc(65536 * 2 * 8)), CANDIDATES_OK,
                            static_cast<uint64_t*>(std::malloc(8 * 9))};
        for (int p = 0; p < 9; ++p) pack->candidates.means[p] = mean_lanes(40, 40, 60);
        for (int s = 0; s < 8 * 65536; ++s) pack->candidates.table[s] = s % 8 < k ? s % 8 : CANDIDATE_UNUSED;
        if (version == CANDIDATE_VERSION) { ASSERT_TRUE(candidates_prepare_spread(&pack->candidates, 9)); }
        std::fill(surface, surface + PICTURE_PIXELS + 2400, 0x2947);
        tile_map_build(*pack, scratch, surface, 8, map, SPREAD_DIFFUSE);
        int repeats = 0, fewest = 36;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 240; ++x) {
                const uint16_t t = map[y * 240 + x];
                ASSERT_LT(t, k);
                if (k >= 3 && x > 0) { ASSERT_NE(t, map[y * 240 + x - 1]) << k << " " << x << "," << y; }
                if (k >= 3 && y > 0) { ASSERT_NE(t, map[(y - 1) * 240 + x]) << k << " " << x << "," << y; }
                if (x >= 100 && x < 130 && y >= 100 && y < 130)
                    repeats += t == map[y * 240 + x + 2] && t == map[(y + 2) * 240 + x];
                if (x % 6 == 0 && y % 6 == 0 && x + 6 <= 240 && y + 6 <= 240) {
                    std::set<uint16_t> screen;
                    for (int i = 0; i < 36; ++i) screen.insert(map[(y + i / 6) * 240 + x + i % 6]);
                    fewest = std::min(fewest, static_cast<int>(screen.size()));
                }
            }
        EXPECT_LT(repeats, 900 / 2) << k;
        if (version == CANDIDATE_VERSION && k == 8) { EXPECT_GE(fewest, 7); }
        std::fill(surface, surface + 240, 0x1234);  // other colours through the scratch first
        tile_map_build(*pack, scratch, surface, 8, again, SPREAD_NOISE);
        std::fill(surface, surface + 240, 0x2947);
        tile_map_build_grid(*pack, scratch, surface, 240, 1, 8, again, SPREAD_DIFFUSE);  // one row
        EXPECT_EQ(0, std::memcmp(map, again, 240 * 2)) << k;
        tile_map_build(*pack, scratch, surface, 8, again, SPREAD_DIFFUSE);
        EXPECT_EQ(0, std::memcmp(map, again, sizeof again)) << k;
        tile_map_build_grid(*pack, scratch, surface, 240, 250, 8, map, SPREAD_DIFFUSE);
        EXPECT_EQ(0, std::memcmp(map, again, sizeof again)) << k;
    }
}

// A poster names tiles by the viewer's rule: at 240 across, a surface's poster is the viewer's map
// of it, also when a damaged section leaves the plain tables; a flat target of another size with
// three candidates has no identical neighbours.
TEST_F(Candidates, PostersNameTheViewersTiles) {
    for (const std::string& tail : {section_bytes(4), section_bytes(4).substr(0, 99)}) {
        load(tail);
        render();  // the surface of many colours, its map for parent 2
        evgpack::PosterTarget target;
        evgpack::poster_target_surface(surface_image, 2, 240, target);
        const std::vector<uint16_t> map = evgpack::poster_tile_map(viewer_pack, target);
        for (int i = 0; i < PICTURE_PIXELS; ++i) ASSERT_EQ(map[i], tile_choice_at(i % 240, i / 240)) << i;
    }
    load(section_bytes(3));
    const evgpack::PosterTarget flat{130, 70, std::vector<uint8_t>(130 * 70 * 3, 0), CANDIDATE_UNUSED};  // lists 0, 1, 2
    const std::vector<uint16_t> map = evgpack::poster_tile_map(viewer_pack, flat);
    for (int i = 0; i < 130 * 70; ++i) {
        if (i % 130) { ASSERT_NE(map[i], map[i - 1]) << i; }
        if (i >= 130) { ASSERT_NE(map[i], map[i - 130]) << i; }
    }
}

// Poster tiles: at tint 0 each is its picture's resampled tile exactly, from the thumbnail up to
// the thumbnail's edge and from the decoded picture above it, in a PNG or a JPEG. A picture that
// does not decode is black there and as a target, as the viewer shows it. Sides over 65535 px
// are refused and write nothing.
TEST(Poster, TilesTargetsAndSizes) {
    TempDir dir;
    PackSpec spec;
    spec.pictures = 4;
    spec.thumb_pixel = [](int p, int x, int y) { return static_cast<uint16_t>(pack_test_colour(p) ^ (x << 11 | y)); };
    spec.picture_pixel = [](int p, int x, int y) { return static_cast<uint16_t>(pack_test_colour(p) ^ (x / 30 << 5 | y / 30)); };
    const std::string cut = pack_jpeg_solid(0x1234);
    spec.jpegs = {pack_jpeg_solid(pack_test_colour(0)), cut.substr(0, 100)};  // cut before its scan
    ASSERT_TRUE(pack_write(dir.file("t.evg"), spec));
    auto pack = std::make_unique<OpenPack>();
    ASSERT_EQ(pack_load(dir.file("t.evg").c_str(), PACK_HEADER_SIZE, pack.get()), PACK_OK);
    evgpack::PosterTarget target;
    evgpack::poster_target_picture(*pack, 1, 12, target);
    EXPECT_EQ(target.rgb, std::vector<uint8_t>(12 * 12 * 3, 0));
    bool decoded = false;
    EXPECT_EQ(evgpack::poster_tile_image(*pack, 1, 16, &decoded), std::vector<uint8_t>(16 * 16 * 3, 0));
    EXPECT_TRUE(decoded);

    // The default target is the picture whose thumbnail the pack's icon shows.
    for (uint16_t p = 0; p < 4; ++p) {
        uint16_t icon[PACK_ICON_PIXELS];
        for (int i = 0; i < PACK_ICON_PIXELS; ++i)
            icon[i] = spec.thumb_pixel(p, i % PACK_ICON_EDGE * pack->thumb_size / PACK_ICON_EDGE,
                                       i / PACK_ICON_EDGE * pack->thumb_size / PACK_ICON_EDGE);
        EXPECT_EQ(evgpack::poster_icon_picture(*pack, icon), p);
    }

    target = evgpack::PosterTarget{7, 5, {}, 0};
    for (int i = 0; i < 7 * 5 * 3; ++i) target.rgb.push_back(static_cast<uint8_t>(i * 37));
    const std::vector<uint16_t> map = evgpack::poster_tile_map(*pack, target);
    evgpack::PosterOptions options;
    options.tint = 0;
    for (int px : {8, 16}) {
        options.tile_px = px;
        options.output = dir.file("p.png");
        ASSERT_TRUE(evgpack::poster_write(*pack, target, options, nullptr).ok);
        int w = 0, h = 0;
        const std::vector<uint8_t> png = read_png_rgb(options.output, &w, &h);
        ASSERT_EQ(vals(w, h), vals(7 * px, 5 * px));
        for (int t = 0; t < 7 * 5; ++t) {
            const std::vector<uint8_t> tile = evgpack::poster_tile_image(*pack, map[t], px);
            for (int y = 0; y < px; ++y)
                ASSERT_EQ(0, std::memcmp(&png[((t / 7 * px + y) * w + t % 7 * px) * 3], &tile[y * px * 3], px * 3)) << t;
        }
    }
    options.output = dir.file("p.jpg");
    ASSERT_TRUE(evgpack::poster_write(*pack, target, options, nullptr).ok);
    const std::string jpg = read_file(options.output);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    EXPECT_TRUE(libjpeg_decode_rgb(std::vector<uint8_t>(jpg.begin(), jpg.end()), &rgb, &w, &h) && w == 112 && h == 80);

    // A flat target is one picture everywhere: two whole 10 x 10 blocks of one picture, every
    // neighbour identical. Tinted 37%, each pixel moves 37% of the way to the target colour
    // (rounded); the likeness is each tile's mean colour as written (linear light) against its
    // target's, and 0 when tinted fully.
    const uint8_t want[3] = {200, 40, 90};
    target = evgpack::PosterTarget{20, 10, {}, 0};
    for (int i = 0; i < 20 * 10; ++i) target.rgb.insert(target.rgb.end(), want, want + 3);
    options.output = dir.file("flat.png");
    options.tint = 37;
    const evgpack::PosterReport flat = evgpack::poster_write(*pack, target, options, nullptr);
    EXPECT_EQ(vals(flat.ok, flat.width_px, flat.height_px, flat.pictures_used), vals(true, 320, 160, 1));
    EXPECT_EQ(std::make_pair(flat.distinct_10x10, flat.identical_neighbours), std::make_pair(1.0, 1.0));
    const std::vector<uint8_t> png = read_png_rgb(options.output, &w, &h);
    const std::vector<uint8_t> tile = evgpack::poster_tile_image(*pack, evgpack::poster_tile_map(*pack, target)[0], 16);
    double mean[3] = {0, 0, 0};
    for (int i = 0; i < 16 * 16 * 3; ++i) {
        const uint8_t v = png[i / 48 * w * 3 + i % 48];  // the first tile, row by row
        ASSERT_EQ(v, tile[i] + std::lround((want[i % 3] - tile[i]) * 37 / 100.0)) << i;
        mean[i % 3] += evgpack::srgb_to_linear(v) / 256;
    }
    using evgpack::srgb_to_linear;
    const evgpack::Lab wanted = evgpack::linear_rgb_to_lab(srgb_to_linear(200), srgb_to_linear(40), srgb_to_linear(90));
    EXPECT_NEAR(flat.likeness, evgpack::ciede2000(evgpack::linear_rgb_to_lab(mean[0], mean[1], mean[2]), wanted), 1e-3);
    options.tint = 100;
    EXPECT_NEAR(evgpack::poster_write(*pack, target, options, nullptr).likeness, 0.0, 1e-3);

    std::string error;
    const struct { long across, down, px; bool ok; } sizes[] = {
        {1365, 1, 48, true}, {1366, 1, 48, false}, {1, 1366, 48, false}, {13107, 13107, 5, true}, {8192, 1, 8, false},
        {1, 1, 8, true}, {0, 1, 8, false}, {1, 0, 8, false}};
    for (const auto& s : sizes) EXPECT_EQ(evgpack::poster_size_ok(s.across, s.down, s.px, error), s.ok) << s.across;
    target = evgpack::PosterTarget{1366, 1, std::vector<uint8_t>(1366 * 3, 0), 0};
    options.output = dir.file("big.png");
    options.tile_px = 48;
    EXPECT_EQ(evgpack::poster_write(*pack, target, options, nullptr).error,
              "a poster of 1366 x 1 tiles of 48 px would be 65568 x 48 px; at most 65535 on a side");
    EXPECT_FALSE(file_exists(options.output));

    // A new-name poster, 10 x 20 tiles, black in the right half of the lower block: its blocks
    // hold 1 and 2 pictures, and 15 of the 370 neighbour pairs differ. It is written once and
    // refused over itself, and neither leaves its temporary file.
    target = evgpack::PosterTarget{10, 20, {}, 0};
    for (int i = 0; i < 10 * 20; ++i) target.rgb.insert(target.rgb.end(), 3, i >= 100 && i % 10 >= 5 ? 0 : 120);
    options = evgpack::PosterOptions{};
    options.exclusive = true;
    options.output = dir.file("new.png");
    const evgpack::PosterReport two = evgpack::poster_write(*pack, target, options, nullptr);
    EXPECT_EQ(vals(two.ok, two.pictures_used), vals(true, 2));
    EXPECT_EQ(std::make_pair(two.distinct_10x10, two.identical_neighbours), std::make_pair(1.5, 355 / 370.0));
    EXPECT_EQ(evgpack::poster_write(*pack, target, options, nullptr).error, "cannot write " + options.output + ": File exists");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"t.evg", "p.png", "p.jpg", "flat.png", "new.png"}));
}

// The PNG writer's deflate pieces, laid end to end, inflate to the data: pieces empty, tiny and
// of several blocks; random bytes, runs past the longest match and repeats far back. The sizes
// of the long ones are pinned.
TEST(Poster, DeflatePiecesJoinIntoOneStream) {
    std::mt19937 random(7);
    std::vector<uint8_t> block(32769);
    for (uint8_t& b : block) b = static_cast<uint8_t>(random());
    const std::function<uint8_t(size_t)> kinds[] = {
        [&](size_t) { return static_cast<uint8_t>(random()); },
        [](size_t) { return uint8_t{0}; },
        [&](size_t i) { return block[i % 20000]; },
        [&](size_t i) { return block[i % 32769]; }};  // one byte too far back to be a match
    evgpack::BandDeflate encoder;
    std::vector<long long> sizes;
    for (size_t n : {size_t(0), size_t(1), size_t(5), size_t(300000)})
        for (size_t k = 0; k < std::size(kinds); ++k) {
            std::vector<uint8_t> data(n), packed, back(n + 1);
            for (size_t i = 0; i < n; ++i) data[i] = kinds[k](i);
            const size_t cuts[] = {0, n / 3, n * 2 / 3, n};
            for (int piece = 0; piece < 3; ++piece) {
                const size_t from = cuts[piece], size = cuts[piece + 1] - from, at = packed.size();
                packed.resize(at + evgpack::band_deflate_bound(size));
                packed.resize(at + evgpack::band_deflate(encoder, data.data() + from, size, piece == 2, &packed[at]));
            }
            z_stream z{};
            ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
            z.next_in = packed.data(), z.avail_in = static_cast<uInt>(packed.size());
            z.next_out = back.data(), z.avail_out = static_cast<uInt>(back.size());
            const int status = inflate(&z, Z_FINISH);
            EXPECT_EQ(vals(status, z.avail_in, z.total_out), vals(Z_STREAM_END, 0u, n)) << n << " " << k;
            inflateEnd(&z);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin())) << n << " " << k;
            if (n == 300000) sizes.push_back(static_cast<long long>(packed.size()));
        }
    // The sizes show what the encoder chooses (random bytes and repeats past the window stored,
    // zeros almost one match, a third of far repeats found): new matching or codes change them.
    EXPECT_EQ(sizes, (std::vector<long long>{300639, 1465, 99614, 300632}));
}

// Counts in Fibonacci proportion want codes of 19 bits. Held to 7 or 15 bits (the counts halved
// until the tree fits: 12 for 15), the code stays complete: its Kraft sum is 1.
TEST(Poster, HuffmanLengthsStayWithinTheLimit) {
    uint32_t count[20] = {1, 1};
    for (int i = 2; i < 20; ++i) count[i] = count[i - 1] + count[i - 2];
    for (const auto& [limit, longest] : {std::pair{7, 7}, {15, 12}, {19, 19}}) {
        uint8_t length[20];
        evgpack::huffman_lengths(count, 20, limit, length);
        int kraft = 0;  // in units of 2^-19
        for (uint8_t l : length) kraft += 1 << (19 - l);
        EXPECT_EQ(vals(*std::max_element(length, length + 20), kraft), vals(longest, 1 << 19)) << limit;
    }
}

// --choices: a flat target draws on more pictures than one list of 16 holds (the phases of a
// 40-picture pack whose own lists hold 2), and still no neighbours alike.
TEST(Poster, WiderChoicesVaryFlatAreasWithoutNeighboursAlike) {
    TempDir dir;
    PackSpec spec;
    spec.pictures = 40;
    std::vector<uint16_t> lists(65536 * 2);
    for (int v = 0; v < 65536; ++v) lists[v * 2] = static_cast<uint16_t>(v % 40), lists[v * 2 + 1] = static_cast<uint16_t>((v + 1) % 40);
    std::string section(candidate_section_size(2), '\0');
    candidates_encode(2, lists.data(), reinterpret_cast<uint8_t*>(&section[0]), CANDIDATE_VERSION);
    ASSERT_TRUE(write_file(dir.file("v.evg"), pack_bytes(spec) + section));
    auto pack = std::make_unique<OpenPack>();
    ASSERT_EQ(pack_load(dir.file("v.evg").c_str(), PACK_HEADER_SIZE, pack.get()), PACK_OK);
    ASSERT_EQ(pack->candidates.count, 2);
    const evgpack::PosterTarget flat{30, 30, std::vector<uint8_t>(30 * 30 * 3, 128), CANDIDATE_UNUSED};
    for (int choices : {8, 24, 40}) {
        const std::vector<uint16_t> map = evgpack::poster_tile_map(*pack, flat, choices);
        std::vector<uint16_t> used(map);
        std::sort(used.begin(), used.end());
        EXPECT_GE(std::unique(used.begin(), used.end()) - used.begin(), choices > 16 ? 17 : 3) << choices;
        for (int i = 0; i < 30 * 30; ++i) {
            if (i % 30) { ASSERT_NE(map[i], map[i - 1]) << choices << " at " << i; }
            if (i >= 30) { ASSERT_NE(map[i], map[i - 30]) << choices << " at " << i; }
        }
    }
}

TEST_F(Candidates, CentreTileIsViewedAndBecomesTheSurface) {
    load(section_bytes(4));
    current_record = static_cast<int8_t>(record_find_or_add("c.evg"));
    std::fill(picture_buffer, picture_buffer + PICTURE_PIXELS, 6);
    current_picture = 0;
    surface_reset();  // builds the map for parent 0
    const uint16_t plain_choice = tile_choice(6);
    int differs = 0;
    for (int col : {120, 121, 122}) {
        const uint16_t t = tile_map[120 * 240 + col];
        differs += t != plain_choice;
        zoom = 41;
        centre_col = col, centre_row = 120;
        mosaic_render(col, 120, -20, -20);
        EXPECT_EQ(vals(current_picture, tile_choice_at(col, 120)), vals(t, t));
        ASSERT_GE(current_record, 0);
        EXPECT_TRUE(state_block.records[current_record].viewed[t / 8] >> (t % 8) & 1);
    }
    EXPECT_GT(differs, 0);  // the lists, not the plain tables, named some of them
    const uint16_t next = current_picture;
    surface_reset();
    EXPECT_EQ(vals(parent_picture, visit_counts[next]), vals(next, 1));
    for (int i = 0; i < PICTURE_PIXELS; i += 997) EXPECT_NE(tile_map[i], next);
}

}  // namespace
