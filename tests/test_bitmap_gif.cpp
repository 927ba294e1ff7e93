// GIF decoding and Bitmap building: small GIFs made with giflib's encoder, checked pixel by
// pixel (key colour moves, run streams, timed frames), plus truncated and oversized data that
// must fail cleanly. Only the built-in graphics are loaded by the programs.
#include <gtest/gtest.h>

#include <gif_lib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "assets/assets.h"
#include "media/gif.h"
#include "render/layers.h"
#include "runtime/host.h"
#include "tests/support/check.h"

namespace {

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb MAGENTA{255, 0, 255};

struct GifImage {
    int left = 0, top = 0, w = 0, h = 0;
    bool interlace = false;
    std::vector<uint8_t> lines;  // w x h indices in the order they are stored in the file
    int delay = -1;              // >= 0: a Graphic Control Extension with this delay first
};

int append_output(GifFileType* gif, const GifByteType* data, int count) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), count);
    return count;
}

std::string make_gif(int screen_w, int screen_h, std::vector<Rgb> colours,
                     const std::vector<GifImage>& images) {
    colours.resize(256, Rgb{0, 0, 0});
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, append_output, &error);
    EXPECT_NE(gif, nullptr);
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) map->Colors[i] = GifColorType{colours[i].r, colours[i].g, colours[i].b};
    EXPECT_EQ(EGifPutScreenDesc(gif, screen_w, screen_h, 8, 0, map), GIF_OK);
    for (const GifImage& image : images) {
        if (image.delay >= 0) {
            const GifByteType gce[4] = {0, static_cast<GifByteType>(image.delay & 255),
                                        static_cast<GifByteType>(image.delay >> 8), 0};
            EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce), GIF_OK);
        }
        EXPECT_EQ(EGifPutImageDesc(gif, image.left, image.top, image.w, image.h, image.interlace, nullptr), GIF_OK);
        std::vector<uint8_t> lines = image.lines;
        for (int y = 0; y < image.h; ++y) EXPECT_EQ(EGifPutLine(gif, lines.data() + y * image.w, image.w), GIF_OK);
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    GifFreeMapObject(map);
    return out;
}

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

Bitmap* load(const std::string& gif) { return bitmap_from_gif(bytes(gif), gif.size()); }

GifImage whole(int w, int h, std::vector<uint8_t> indices) { return GifImage{0, 0, w, h, false, std::move(indices)}; }

std::vector<uint8_t> pixels_of(const Bitmap* b) {
    const uint8_t* p = static_cast<const uint8_t*>(b->pixels);
    return std::vector<uint8_t>(p, p + b->width * b->height);
}

struct GifTest : ::testing::Test {
    void TearDown() override { bitmap_free_all(); }
};

}  // namespace

TEST_F(GifTest, PaletteWithoutKeyGivesOpaqueBitmap) {
    const std::vector<uint8_t> px = {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2};
    Bitmap* b = load(make_gif(4, 3, {{255, 255, 255}, {8, 4, 8}, {255, 0, 0}, {7, 3, 7}}, {whole(4, 3, px)}));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ((std::vector<int>{b->kind, b->width, b->height, b->opaque}), (std::vector<int>{BITMAP_INDEXED8, 4, 3, 1}));
    EXPECT_TRUE(b->runs == nullptr && b->row_offsets == nullptr);
    EXPECT_EQ(pixels_of(b), px);
    // Channels truncate: (8, 4, 8) gives 8 >> 3, 4 >> 2, 8 >> 3.
    EXPECT_EQ(std::vector<uint16_t>(b->palette, b->palette + 4), (std::vector<uint16_t>{0xFFFF, 0x0821, 0xF800, 0}));
    EXPECT_EQ(bitmap_count, 1);
    EXPECT_EQ(bitmap_registry[0], b);
    // Interlaced rows arrive in four passes: every 8th from 0, every 8th from 4, every 4th from 2, odd.
    GifImage laced = whole(1, 10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9});
    laced.interlace = true;
    b = load(make_gif(1, 10, {{255, 255, 255}}, {laced}));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pixels_of(b), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(GifTest, KeyColourMovesToIndexZero) {
    const std::vector<uint8_t> px = {0, 1, 5, 7, 5, 0};
    // Key already at 0 (and again at 5): nothing moves.
    Bitmap* b = load(make_gif(3, 2, {MAGENTA, {255, 255, 255}, {}, {}, {}, MAGENTA}, {whole(3, 2, px)}));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->opaque, 0);
    EXPECT_EQ(pixels_of(b), px);
    EXPECT_EQ(vals(b->palette[0], b->palette[1]), vals(colour_key, 0xFFFF));
    // Key at 5 (and again at 7, which stays an ordinary colour): entries 0 and 5 swap, and so
    // do the pixels.
    b = load(make_gif(3, 2, {{255, 255, 255}, {}, {}, {}, {}, MAGENTA, {}, MAGENTA}, {whole(3, 2, px)}));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->opaque, 0);
    EXPECT_EQ((std::vector<uint16_t>{b->palette[0], b->palette[5], b->palette[7]}),
              (std::vector<uint16_t>{colour_key, 0xFFFF, colour_key}));
    EXPECT_EQ(pixels_of(b), (std::vector<uint8_t>{5, 1, 0, 7, 0, 5}));
}

TEST_F(GifTest, RunStreamRows) {
    std::vector<uint8_t> px(56 * 3, 1);
    for (int x = 0; x < 56; ++x) px[x] = 0;                            // all key
    for (int x = 0; x < 56; ++x) px[112 + x] = (x < 10 || x >= 30) ? 0 : 1;  // 10 key, 20, 26 key
    Bitmap* b = load(make_gif(56, 3, {MAGENTA, {1, 2, 3}}, {whole(56, 3, px)}));
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->opaque, 0);
    const std::vector<uint8_t> expect = {56, 0, 56, 10, 20, 26, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::vector<uint8_t>(b->runs, b->runs + expect.size()), expect);
    EXPECT_EQ(std::vector<uint16_t>(b->row_offsets, b->row_offsets + 3), (std::vector<uint16_t>{0, 1, 3}));
}

TEST(BitmapRuns, LongRunsAreSplitAndOverlongStreamsRefused) {
    // 600 wide: 300 key, 300 visible -> skip 255, draw 0, skip 45, draw 255, skip 0, draw 45.
    std::vector<uint8_t> px(600, 0);
    for (int x = 300; x < 600; ++x) px[x] = 9;
    Bitmap b{};
    ASSERT_EQ(bitmap_encode_runs(&b, px.data(), 600, 1), 1);
    const std::vector<uint8_t> expect = {255, 0, 45, 255, 0, 45, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::vector<uint8_t>(b.runs, b.runs + expect.size()), expect);
    std::free(b.runs);
    std::free(b.row_offsets);
    // Alternating pixels over 300 x 300 need about 90000 counts: more than 16-bit offsets reach.
    std::vector<uint8_t> checker(300 * 300);
    for (size_t i = 0; i < checker.size(); ++i) checker[i] = static_cast<uint8_t>(i & 1);
    Bitmap c{};
    EXPECT_EQ(bitmap_encode_runs(&c, checker.data(), 300, 300), 0);
    EXPECT_EQ(c.runs, nullptr);
    EXPECT_EQ(c.row_offsets, nullptr);
}

TEST_F(GifTest, DelayedFrameEndsThePassAfterOneFrame) {
    ASSERT_EQ(runtime_init(), 0);
    set_frame_rate(1000);
    GifImage first = whole(3, 1, {1, 1, 1}), second = whole(3, 1, {2, 2, 2});
    first.delay = 0;
    second.delay = 0;
    uint32_t frames = pump_frame_count;
    Bitmap* b = load(make_gif(3, 1, {{1, 1, 1}}, {first, second}));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pixels_of(b), (std::vector<uint8_t>{2, 2, 2}));
    EXPECT_EQ(pump_frame_count, frames);
    second.delay = 10;
    b = load(make_gif(3, 1, {{1, 1, 1}}, {first, second}));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pixels_of(b), (std::vector<uint8_t>{1, 1, 1}));
    EXPECT_EQ(pump_frame_count, frames + 1);
}

TEST_F(GifTest, TruncatedOrBadDataFailsCleanly) {
    std::vector<uint8_t> px(12 * 9);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i % 3);
    GifImage image = whole(12, 9, px);
    image.delay = 0;
    const std::string gif = make_gif(12, 9, {MAGENTA, {1, 1, 1}, {9, 9, 9}}, {image});
    for (size_t n = 0; n < gif.size(); ++n) {
        // A copy of exactly n bytes, so any read past the end is an AddressSanitizer error.
        std::vector<uint8_t> prefix(gif.begin(), gif.begin() + static_cast<ptrdiff_t>(n));
        EXPECT_EQ(bitmap_from_gif(prefix.data(), n), nullptr) << n;
    }
    EXPECT_EQ(bitmap_count, 0);
    ASSERT_NE(load(gif), nullptr);
    std::string bad = gif;
    bad[6] = 0;  // width 0
    bad[7] = 0;
    EXPECT_EQ(load(bad), nullptr);
    std::string flat = gif;
    flat[8] = flat[9] = 0;  // height 0
    EXPECT_EQ(load(flat), nullptr);
    bad[6] = static_cast<char>(0xFF);  // width 65535: wider than a Bitmap may be
    bad[7] = static_cast<char>(0xFF);
    EXPECT_EQ(load(bad), nullptr);
    bad[7] = 0x7F;  // 32767 x 9 fits the sides, but 32767 x 32767 is over the pixel cap
    EXPECT_NE(load(bad), nullptr);
    bad[8] = static_cast<char>(0xFF);
    bad[9] = 0x7F;
    EXPECT_EQ(load(bad), nullptr);
    EXPECT_EQ(layer_from_gif_rgb565(6, bytes(bad), bad.size()), 0);
    EXPECT_EQ(bitmap_count, 2);
}

// GIFs as layers: indices with their palette, or RGB565 with black where no image lands; keyed
// when the key colour is among the colours; unreadable data leaves the layer free.
TEST_F(GifTest, LayersFromGifs) {
    const std::string keyed = make_gif(3, 2, {MAGENTA, {255, 255, 255}}, {whole(3, 2, {0, 1, 1, 1, 0, 1})});
    ASSERT_EQ(layer_from_gif_indexed(5, bytes(keyed), keyed.size()), 1);
    const LayerSlot& a = LayerTable[5];
    EXPECT_EQ(vals(a.format, a.width, a.height, a.opaque, a.palette[0], a.palette[1]), vals(1, 3, 2, 0, 0xF81F, 0xFFFF));
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(a.pixels), static_cast<uint8_t*>(a.pixels) + 6),
              (std::vector<uint8_t>{0, 1, 1, 1, 0, 1}));
    // A frame on the top row's last two columns, and one wholly right of the canvas.
    const std::string part = make_gif(3, 2, {{255, 255, 255}, {0, 0, 255}},
                                      {GifImage{1, 0, 2, 1, false, {1, 0}}, GifImage{3, 0, 1, 1, false, {1}}});
    ASSERT_EQ(layer_from_gif_rgb565(6, bytes(part), part.size()), 1);
    const LayerSlot& b = LayerTable[6];
    EXPECT_EQ(vals(b.format, b.opaque), vals(2, 1));
    EXPECT_EQ(std::vector<uint16_t>(static_cast<uint16_t*>(b.pixels), static_cast<uint16_t*>(b.pixels) + 6),
              (std::vector<uint16_t>{0, 0x001F, 0xFFFF, 0, 0, 0}));
    layer_free(6);
    ASSERT_EQ(layer_from_gif_indexed(6, bytes(part), part.size()), 1);
    EXPECT_EQ(LayerTable[6].opaque, 1);
    layer_free(5);
    layer_free(6);
    const std::string cut = keyed.substr(0, keyed.size() - 6);
    EXPECT_EQ(vals(layer_from_gif_indexed(5, bytes(cut), cut.size()), LayerTable[5].in_use), vals(0, 0));
    EXPECT_EQ(vals(layer_from_gif_rgb565(5, bytes(cut), cut.size()), LayerTable[5].in_use), vals(0, 0));
    EXPECT_EQ(vals(layer_from_gif_indexed(LAYER_COUNT, bytes(keyed), keyed.size()),  // no such layer
                   layer_from_gif_rgb565(-1, bytes(keyed), keyed.size())), vals(0, 0));
}

TEST_F(GifTest, RegistryTracksSingleReleasesAndIsBounded) {
    EXPECT_EQ(bitmap_free(nullptr), 0);
    const std::string gif = make_gif(2, 2, {MAGENTA, {1, 1, 1}}, {whole(2, 2, {0, 1, 1, 0})});
    Bitmap* a = load(gif);
    Bitmap* b = load(gif);
    Bitmap* c = load(gif);
    ASSERT_EQ(bitmap_count, 3);
    EXPECT_EQ(bitmap_free(b), 0);  // a single release leaves no stale entry behind
    ASSERT_EQ(bitmap_count, 2);
    EXPECT_TRUE(bitmap_registry[0] == a && bitmap_registry[1] == c);
    while (bitmap_count < BITMAP_REGISTRY_SIZE) ASSERT_NE(load(gif), nullptr);
    EXPECT_EQ(load(gif), nullptr);  // full: refused, nothing leaked
    bitmap_free_all();
    EXPECT_EQ(bitmap_count, 0);
    EXPECT_NE(load(gif), nullptr);
}

// Every built-in graphic loads; keyed ones hold the key colour at index 0 only, opaque ones nowhere.
TEST_F(GifTest, AllBuiltInGraphicsLoad) {
    const std::pair<const uint8_t*, uint32_t> assets[] = {
        {asset_digit_strip, asset_digit_strip_size},       {asset_auto_button, asset_auto_button_size},
        {asset_exit_button, asset_exit_button_size},       {asset_surface_button, asset_surface_button_size},
        {asset_speed_button, asset_speed_button_size},     {asset_title_wordmark, asset_title_wordmark_size},
        {asset_start_choice, asset_start_choice_size},     {asset_select_image_title, asset_select_image_title_size},
        {asset_size_button, asset_size_button_size},       {asset_scroll_bar, asset_scroll_bar_size},
        {asset_font_sheet, asset_font_sheet_size}};
    for (const auto& [data, size] : assets) {
        Bitmap* b = bitmap_from_gif(data, size);
        ASSERT_NE(b, nullptr) << size;
        EXPECT_EQ(std::count(b->palette, b->palette + 256, colour_key), 1 - b->opaque) << size;
        EXPECT_EQ(b->palette[0] == colour_key, !b->opaque) << size;
    }
}
