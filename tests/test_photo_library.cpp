// Libraries larger than a pack: near-duplicate grouping, the import cache (hits, damaged, cut and
// foreign entries, two builds at once, the same pack with and without it) and the selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/photo_folder.h"
#include "app/screen_layout.h"
#include "assets/assets.h"
#include "builder/demo_pictures.h"
#include "tests/support/check.h"
#include "builder/import_cache.h"
#include "builder/jpeg_encode.h"
#include "builder/near_duplicates.h"
#include "builder/pack_build.h"
#include "builder/pack_writer.h"
#include "builder/photo_selection.h"
#include "media/fonts.h"
#include "media/text.h"
#include "render/blend.h"
#include "render/framebuffer.h"
#include "runtime/host.h"
#include "runtime/input.h"
#include "runtime/save_store.h"
#include "runtime/sprites.h"
#include "tests/support/host_events.h"
#include "tests/support/temp_dir.h"

using namespace evgpack;

namespace {

SimilarItem similar_item(const LinearPicture& p) {
    const std::vector<uint16_t> thumb = picture_to_rgb565(reduce_picture(p, 64));
    return similar_item(picture_traits(p), mean_colour(thumb.data(), thumb.size()));
}

// A plain picture whose light rises by `ramp` from left to right (too little to see).
LinearPicture plain(float r, float ramp) {
    LinearPicture p{PICTURE_EDGE, std::vector<float>(3 * PICTURE_EDGE * PICTURE_EDGE), 0};
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = r / (1 + i % 3) * (1 + ramp * (i / 3 % PICTURE_EDGE) / PICTURE_EDGE);
    return p;
}

// Nearest-neighbour resample of the centre `keep` x `keep` square back to the full size.
LinearPicture crop_centre(const LinearPicture& p, int keep) {
    LinearPicture out{p.size, std::vector<float>(p.rgb.size()), 0};
    const int off = (p.size - keep) / 2;
    for (int y = 0; y < p.size; ++y)
        for (int x = 0; x < p.size; ++x)
            for (int k = 0; k < 3; ++k)
                out.rgb[(static_cast<size_t>(y) * p.size + x) * 3 + k] =
                    p.rgb[(static_cast<size_t>(off + y * keep / p.size) * p.size + off + x * keep / p.size) * 3 + k];
    return out;
}

LinearPicture exposed(LinearPicture p, float gain) {
    for (float& v : p.rgb) v = std::min(1.f, v * gain);
    return p;
}

LinearPicture recompressed(const LinearPicture& p, int quality) {
    const std::vector<uint8_t> srgb = picture_to_srgb(p);
    std::vector<uint8_t> jpeg;
    JpegEncodeOptions options;
    options.quality = quality;
    jpeg_encode(srgb.data(), p.size, p.size, options, jpeg);
    LinearPicture out;
    std::string error;
    import_photo(jpeg.data(), jpeg.size(), out, error);
    return out;
}

// `n` photos as JPEG files under dir/folder: demo pictures first + k.
void write_demo_photos(const std::string& dir, int first, int n) {
    std::filesystem::create_directories(dir);
    for (int i = 0; i < n; ++i) {
        const std::vector<uint8_t> srgb = picture_to_srgb(demo_picture(first + i, 64));
        std::vector<uint8_t> jpeg;
        jpeg_encode(srgb.data(), PICTURE_EDGE, PICTURE_EDGE, JpegEncodeOptions{}, jpeg);
        char name[16];
        std::snprintf(name, sizeof name, "/%03d.jpg", first + i);
        write_file(dir + name, std::string(jpeg.begin(), jpeg.end()));
    }
}

BuildOptions options_for(const TempDir& dir, const std::string& output) {
    BuildOptions o;
    o.paths = {dir.file("photos")};
    o.output = dir.file(output);
    o.cache_dir = dir.file("cache");
    o.summary = false;
    o.author_set = true;
    o.thumb_size = 8;
    o.candidates = 0;
    return o;
}

std::string build(const BuildOptions& o, BuildReport* out = nullptr) {
    BuildReport report;
    EXPECT_EQ(build_pack(o, report, nullptr), BUILD_OK) << report.error;
    if (out) *out = report;
    return read_file(o.output);
}

std::vector<std::string> entries(const TempDir& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("cache/entries-1"))) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(NearDuplicates, PlantedCopiesGroupAndDistinctPicturesDoNot) {
    constexpr int N = 24;
    std::vector<SimilarItem> items;
    std::vector<LinearPicture> originals;
    // Demo pictures of every kind but the rings (kind 4): a 3% crop moves their fine stripes by
    // half a period, which no hash of low frequencies survives, and photos do not look like that.
    for (int i = 0; i < N; ++i) {
        originals.push_back(demo_picture(36 + (i / 5) * 6 + "01235"[i % 5] - '0', 128));
        items.push_back(similar_item(originals.back()));
        EXPECT_EQ(__builtin_popcountll(items.back().hash), 31) << i;  // of 63 frequencies, those above their median
    }
    // Each copy kind planted on every fourth original.
    const std::vector<LinearPicture (*)(const LinearPicture&)> copies = {
        [](const LinearPicture& p) { return reduce_picture(reduce_picture(p, 120), 240); },
        [](const LinearPicture& p) { return recompressed(p, 50); },
        [](const LinearPicture& p) { return crop_centre(p, 233); },
        [](const LinearPicture& p) { return exposed(p, 1.2f); },
        [](const LinearPicture& p) { return exposed(p, 0.8f); },
    };
    std::vector<int> planted;
    for (size_t k = 0; k < copies.size(); ++k)
        for (int i = static_cast<int>(k); i < N; i += 4) {
            items.push_back(similar_item(copies[k](originals[i])));
            planted.push_back(i);
        }
    // Plain pictures group by colour alone (a faint ramp turns every bit of the hash), not with
    // one 10% brighter, and never with a detailed picture, even of the same hash and colour.
    const size_t flat = items.size();
    for (const LinearPicture& p : {plain(0.3f, 0), plain(0.3f, 0.01f), plain(0.33f, 0)}) items.push_back(similar_item(p));
    items.push_back(items[flat]);
    items.back().flat = false;
    EXPECT_GT(__builtin_popcountll(items[flat].hash ^ items[flat + 1].hash), SIMILAR_HASH_BITS);
    const std::vector<uint32_t> group = group_similar(items);
    for (int i = 0; i < N; ++i) EXPECT_EQ(group[i], static_cast<uint32_t>(i)) << "original " << i << " grouped";
    for (size_t c = 0; c < planted.size(); ++c)
        EXPECT_EQ(group[N + c], static_cast<uint32_t>(planted[c])) << "copy " << c << " of " << planted[c];
    for (uint32_t k : {0, 1, 2, 3}) EXPECT_EQ(group[flat + k], flat + (k == 1 ? 0 : k)) << "plain picture " << k;
}

// A detailed picture against a copy changed as each row says (exposure scales L* + 16, a and b).
TEST(NearDuplicates, ExposureIsMatchedAndSoftTwinsGroup) {
    struct Case { const char* what; int bits; double scale, redder; float cell; bool grouped; };
    const Case cases[] = {
        {"8% brighter: 8.5 delta E but the same chroma", 0, 1.085, 0, 0, true},
        {"8% brighter and redder", 0, 1.085, 10, 0, false},
        {"12% brighter, past what exposure gives", 0, 1.12, 0, 0, false},
        {"20 bits turned, colour and grid alike", 20, 1, 0, 1, true},
        {"20 bits turned, 5% brighter, alike once matched", 20, 1.05, 0, 0, true},
        {"20 bits turned, 2 delta E apart", 20, 1, 2, 0, false},
        {"20 bits turned, one cell 2 L* apart", 20, 1, 0, 2, false},
        {"28 bits turned, all else alike", 28, 1, 0, 0, false},
    };
    const SimilarItem x{0x5a5a5a5a5a5a5a5aull, Lab{80, 20, 20}, false, {70, 75, 80, 78, 82, 85, 80, 84, 86}};
    for (const Case& c : cases) {
        SimilarItem y{x.hash ^ ((uint64_t(1) << c.bits) - 1),
                      Lab{96 * c.scale - 16, 20 * c.scale + c.redder, 20 * c.scale}, false, {}};
        for (int k = 0; k < LAYOUT_CELLS; ++k)
            y.layout[k] = static_cast<float>((x.layout[k] + 16) * c.scale - 16 + (k == 4) * c.cell);
        EXPECT_EQ(group_similar({x, y})[1] == 0, c.grouped) << c.what;
    }
    // Near black 1.45 L* is past what exposure gives: the grids are compared unscaled.
    SimilarItem dark = x, light = x;
    dark.colour = Lab{0, 0, 0}, light.colour = Lab{1.45, 0, 0}, light.hash ^= 0xFFFFF;
    EXPECT_EQ(group_similar({dark, light})[1], 0u);
    // The layout holds each cell's L*: luminance 0.5 in the left cells, 0.005 (on the toe) right.
    // The sharpness sees the step between columns 79 and 80 once on each side of it, in each of
    // the 238 inner rows, and averages over the 238 x 238 inner pixels.
    LinearPicture grey{240, std::vector<float>(240 * 240 * 3, 0.5f)};
    for (int y = 0; y < 240; ++y) std::fill_n(grey.rgb.begin() + (y * 240 + 80) * 3, 160 * 3, 0.005f);
    const PictureTraits t = picture_traits(grey);
    EXPECT_EQ(vals(std::lround(t.layout[0] * 1e4), std::lround(t.layout[8] * 1e4)), vals(760693, 45165));
    EXPECT_NEAR(t.sharpness, 2 * 100 * (std::sqrt(0.5) - std::sqrt(0.005)) / 238, 1e-3);
}

// Of a group of copies the one with the longest shorter side is kept, and of equal sides the
// sharper: copies of one picture at 300, 360, 330 and a blurred 360.
TEST(NearDuplicates, TheLargestThenSharpestCopyIsKept) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("photos"));
    const std::vector<uint8_t> srgb = picture_to_srgb(demo_picture(36, 128));
    auto write_copy = [&](const char* name, int side, bool blurred) {
        std::vector<uint8_t> big(static_cast<size_t>(side) * side * 3), out;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                for (int c = 0; c < 3; ++c) {
                    int sum = 0, n = 0;
                    for (int dy = -blurred; dy <= int(blurred); ++dy)
                        for (int dx = -blurred; dx <= int(blurred); ++dx, ++n) {
                            const int sx = std::clamp(x + dx, 0, side - 1) * 240 / side, sy = std::clamp(y + dy, 0, side - 1) * 240 / side;
                            sum += srgb[(sy * 240 + sx) * 3 + c];
                        }
                    big[(static_cast<size_t>(y) * side + x) * 3 + c] = static_cast<uint8_t>(sum / n);
                }
        jpeg_encode(big.data(), side, side, JpegEncodeOptions{}, out);
        write_file(dir.file(std::string("photos/") + name), std::string(out.begin(), out.end()));
    };
    write_copy("a.jpg", 300, false);
    write_copy("b.jpg", 360, false);
    write_copy("c.jpg", 330, false);
    write_copy("d.jpg", 360, true);
    write_demo_photos(dir.file("photos"), 0, 1);
    BuildOptions o = options_for(dir, "p.evg");
    o.list_inputs = true;
    BuildReport r;
    build(o, &r);
    ASSERT_EQ(r.inputs.size(), 5u);
    for (int i = 1; i < 5; ++i)  // after 000.jpg
        EXPECT_EQ(vals(r.inputs[i].kind, r.inputs[i].other == r.files[2]),
                  vals(i == 2 ? InputOutcome::PICTURE : InputOutcome::SIMILAR, i != 2)) << r.files[i] << " " << r.inputs[i].other;
}

TEST(ImportCache, HitsMissesDamageAndTwoBuildsAtOnceGiveTheSamePack) {
    TempDir dir;
    write_demo_photos(dir.file("photos"), 0, 6);
    BuildOptions o = options_for(dir, "cached.evg"), off = options_for(dir, "plain.evg");
    off.use_cache = false;
    BuildReport r;
    const std::string plain = build(off, &r);
    EXPECT_FALSE(file_exists(dir.file("cache")));
    const int expected_hits[] = {0, 6};  // cold, then warm
    for (int hits : expected_hits) {
        EXPECT_EQ(build(o, &r), plain);
        EXPECT_EQ(r.cache_hits, hits);
    }
    for (const char* d : {"cache", "cache/entries-1"})  // pictures of the user's photos: private
        EXPECT_EQ(std::filesystem::status(dir.file(d)).permissions(), std::filesystem::perms::owner_all) << d;
    // A flipped byte, a cut entry, a photo in an entry's place and another photo's entry under
    // this one's name are each refused and rebuilt.
    std::vector<std::string> e = entries(dir);
    ASSERT_EQ(e.size(), 6u);
    const std::string good = read_file(e[0]);
    EXPECT_EQ(good.substr(0, 12), std::string("EVGCACHE\1\0\0\0", 12));  // the format caches on disk have
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    write_file(e[0], flipped);
    write_file(e[1], read_file(e[1]).substr(0, 500));
    write_file(e[2], read_file(dir.file("photos/000.jpg")));
    write_file(e[3], read_file(e[4]));
    EXPECT_EQ(build(o, &r), plain);
    EXPECT_EQ(r.cache_hits, 2);
    EXPECT_EQ(build(o, &r), plain);
    EXPECT_EQ(r.cache_hits, 6);
    CacheKey key;
    ImportedPhoto photo;
    const auto* bytes = reinterpret_cast<const uint8_t*>(good.data());
    ASSERT_TRUE(cache_entry_parse(bytes, good.size(), key, photo));
    EXPECT_TRUE(photo.ok && photo.icon.size() == 1600 && photo.picture.thumb.size() == 64) << key.path;
    for (size_t n = 0; n < good.size(); n += 97) EXPECT_FALSE(cache_entry_parse(bytes, n, key, photo)) << n;
    // A changed photo (new modification time) misses; the others hit.
    std::filesystem::last_write_time(dir.file("photos/003.jpg"), std::filesystem::file_time_type::clock::now());
    EXPECT_EQ(build(o, &r), plain);
    EXPECT_EQ(r.cache_hits, 5);

    // Two builds at once on an empty cache: both packs as without it, and every entry whole.
    std::filesystem::remove_all(dir.file("cache"));
    BuildOptions other = o;
    other.output = dir.file("other.evg");
    std::thread first([&]() { build(other); });
    const std::string mine = build(o);
    first.join();
    EXPECT_EQ(mine, plain);
    EXPECT_EQ(read_file(other.output), plain);
    EXPECT_EQ(entries(dir).size(), 6u);  // no temporary files left
    EXPECT_EQ(build(o, &r), plain);
    EXPECT_EQ(r.cache_hits, 6);
    // The bound: a cache of 1 byte keeps nothing after the build.
    o.cache_limit = 1;
    EXPECT_EQ(build(o), plain);
    EXPECT_TRUE(entries(dir).empty());
}

TEST(PhotoSelection, SameForAnyJobsEveryFolderKeptAndPathOrderAsBefore) {
    TempDir dir;
    write_demo_photos(dir.file("photos/a"), 0, 12);
    write_demo_photos(dir.file("photos/b"), 20, 2);
    BuildOptions o = options_for(dir, "chosen.evg");
    o.max = 5, o.jobs = 1, o.list_inputs = true;
    BuildReport r;
    const std::string chosen = build(o, &r);
    EXPECT_TRUE(r.selected);
    EXPECT_EQ(r.pictures, 5);
    int from_b = 0, pictures = 0;
    for (size_t i = 0; i < r.files.size(); ++i) {
        pictures += r.inputs[i].kind == InputOutcome::PICTURE;
        from_b += r.inputs[i].kind == InputOutcome::PICTURE && r.files[i].find("/b/") != std::string::npos;
    }
    EXPECT_EQ(pictures, 5);
    EXPECT_GE(from_b, 1);  // every top-level folder is represented
    EXPECT_NE(build_report_json(r).find("\"outcome\": \"left out\""), std::string::npos);
    o.jobs = 2;
    EXPECT_EQ(build(o), chosen);
    o.use_cache = false;  // the pictures wait in a temporary folder instead
    EXPECT_EQ(build(o), chosen);

    // --order path: the first five by path, as a build of just those five files gives.
    o.order_path = true;
    const std::string by_path = build(o, &r);
    EXPECT_NE(by_path, chosen);
    BuildOptions first = options_for(dir, "first.evg");
    first.paths.clear();
    for (int i = 0; i < 5; ++i) first.paths.push_back(r.files[static_cast<size_t>(i)]);
    EXPECT_EQ(build(first), by_path);

    // More folders (ten, lightness 0 to 90) than the farthest-point half of 4: the ends, then even.
    std::vector<SelectionItem> items;
    for (uint32_t k = 0; k < 10; ++k) items.push_back({Lab{10.0 * k, 0, 0}, {}, k});
    EXPECT_EQ(select_pictures(items, 4), (std::vector<uint32_t>{0, 3, 7, 9}));
}

// The demo pictures are the first pack a person sees: over a dozen scenes every channel spans
// dark to bright. Their pixels are pinned by a digest too (16-bit levels): every demo pack, and
// the viewer's pack for a new data folder, changes when they do.
TEST(DemoPictures, EveryChannelSpansDarkToBright) {
    float low[3] = {1, 1, 1}, high[3] = {0, 0, 0};
    uint64_t digest = 14695981039346656037ull;
    for (int i = 0; i < 64; ++i) {
        const LinearPicture p = demo_picture(i, 64);
        for (size_t k = 0; k < p.rgb.size(); ++k) {
            if (i < 12) low[k % 3] = std::min(low[k % 3], p.rgb[k]), high[k % 3] = std::max(high[k % 3], p.rgb[k]);
            digest = (digest ^ static_cast<uint64_t>(std::lround(p.rgb[k] * 65535.0f))) * 1099511628211ull;
        }
    }
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(low[c] < 0.05f && high[c] > 0.8f) << c << ": " << low[c] << " " << high[c];
    EXPECT_EQ(digest, 8899684491602497877ull);
}

// The viewer's build of a photo folder ends on its verdict, shown until a touch: each paragraph
// opens with a capital, on a white panel at 28/32 over the screen (black here).
TEST(PhotoFolder, BuildEndsOnTheVerdictPanel) {
    TempDir dir;
    write_demo_photos(dir.file("trip"), 0, 6);
    ASSERT_EQ(set_data_folder(dir.path.c_str()), 1);
    photo_folder_set_source(dir.file("trip"));
    start_test_runtime();
    text_layer_create(0);
    ASSERT_EQ(font_from_gif(FONT_SHEET, asset_font_sheet, asset_font_sheet_size), 1);
    background_fill = 1, background_colour = 0x0000;
    static std::string text;
    static uint16_t panel;
    frame_hook = [] {
        std::string t;
        for (int g = 0; text_items[0] && g < text_items[0][0].glyph_count; ++g) t += char(text_items[0][0].glyphs[g].code);
        if ((t.rfind("Made", 0) == 0 && t == text) || pump_frame_count == 100000) {  // shown: touch it
            panel = Framebuffer[(SUMMARY_PANEL_BOTTOM - 2) * SCREEN_WIDTH + SUMMARY_PANEL_LEFT + 2];
            push_motion(200, 200), push_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
        }
        text = t;
    };
    EXPECT_EQ(photo_folder_build(), 1);
    frame_hook = nullptr, background_fill = 0;
    photo_folder_set_source("");
    set_data_folder("");
    std::string capitals;  // Made, Variety, Colours, Touch (the photos' folder is "trip")
    for (char c : text) capitals += std::string(std::isupper(c) ? 1 : 0, c);
    EXPECT_EQ(vals(text.rfind("Made trip.evg: 6 pictures.\n\n", 0), capitals == "MVCT"), vals(0, 1)) << text;
    EXPECT_EQ(panel, blend_rgb565(0x0000, 0xFFFF, 28));
    EXPECT_TRUE(file_exists(dir.file("trip.evg")));
}
